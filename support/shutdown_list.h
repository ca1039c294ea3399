// Handlers the library runs once each, head first, when the process shuts down. Usable from
// any thread: every read or change of the links holds Lock.
#pragma once

#include "support/recursive_lock.h"

typedef void (*ShutdownHandler)();

struct ShutdownNode {
    ShutdownNode* Next;
    ShutdownHandler Handler;
};

// Lives in a MemAlloc block; owns its nodes while they are linked. Whoever unlinks a node
// owns it afterwards and releases it with MemFree.
class ShutdownList {
  public:
    ShutdownList();
    ~ShutdownList() = default;
    ShutdownList(const ShutdownList&) = delete;
    ShutdownList& operator=(const ShutdownList&) = delete;

    void Append(ShutdownNode* node);
    // Unlinks a node that is on the list and returns it; a node that is not on the list is
    // left alone and null is returned.
    ShutdownNode* Remove(ShutdownNode* node);
    ShutdownNode* PopFront();

    ShutdownNode* Head;
    ShutdownNode* Tail;
    DWORD Count;
    RecursiveLock Lock;
};
