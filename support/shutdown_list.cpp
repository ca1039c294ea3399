#include "support/shutdown_list.h"

ShutdownList::ShutdownList() : Head(nullptr), Tail(nullptr), Count(0) {}

void ShutdownList::Append(ShutdownNode* node) {
    Lock.Enter();
    node->Next = nullptr;
    if (Tail) {
        Tail->Next = node;
    } else {
        Head = node;
    }
    Tail = node;
    ++Count;
    Lock.Leave();
}

ShutdownNode* ShutdownList::Remove(ShutdownNode* node) {
    if (!node) {
        return nullptr;
    }
    Lock.Enter();
    ShutdownNode* previous = nullptr;
    if (node == Head) {
        Head = node->Next;
    } else {
        previous = Head;
        while (previous && previous->Next != node) {
            previous = previous->Next;
        }
        if (!previous) {
            Lock.Leave();
            return nullptr;
        }
        previous->Next = node->Next;
    }
    if (node == Tail) {
        Tail = previous;
    }
    node->Next = nullptr;
    --Count;
    Lock.Leave();
    return node;
}

ShutdownNode* ShutdownList::PopFront() {
    // Held across the take and the unlink, so two threads never take the same node.
    Lock.Enter();
    ShutdownNode* node = Head;
    if (node) {
        Remove(node);
    }
    Lock.Leave();
    return node;
}
