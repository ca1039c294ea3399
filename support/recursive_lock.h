// A critical section that also records who holds it and how deeply, so a holder can be told
// from a waiter when a structure is inspected.
#pragma once

#include "platform/platform.h"

enum : DWORD { NO_OWNER_THREAD = 0xFFFFFFFF };

class RecursiveLock {
  public:
    RecursiveLock();
    ~RecursiveLock();
    RecursiveLock(const RecursiveLock&) = delete;
    RecursiveLock& operator=(const RecursiveLock&) = delete;

    void Enter();
    void Leave();

    // Written only while Section is held.
    CRITICAL_SECTION Section;
    DWORD Depth;
    DWORD OwnerThread;
};
