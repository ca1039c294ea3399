#include "support/recursive_lock.h"

RecursiveLock::RecursiveLock() : Depth(0), OwnerThread(NO_OWNER_THREAD) {
    InitializeCriticalSection(&Section);
}

RecursiveLock::~RecursiveLock() {
    DeleteCriticalSection(&Section);
}

void RecursiveLock::Enter() {
    DWORD self = GetCurrentThreadId();
    EnterCriticalSection(&Section);
    OwnerThread = self;
    ++Depth;
}

void RecursiveLock::Leave() {
    if (--Depth == 0) {
        OwnerThread = NO_OWNER_THREAD;
    }
    LeaveCriticalSection(&Section);
}
