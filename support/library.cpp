#include "support/library.h"

#include "support/memory.h"

#include <new>

static ShutdownList* TheShutdownList;

ShutdownList* LibraryShutdownList() {
    return TheShutdownList;
}

bool LibraryStartup(const LibraryInitializer* initializers) {
    void* block = MemAlloc(sizeof(ShutdownList));
    if (!block) {
        TheShutdownList = nullptr;
        LibraryShutdown();
        return false;
    }
    TheShutdownList = new (block) ShutdownList();
    for (; *initializers; ++initializers) {
        if (!(*initializers)()) {
            LibraryShutdown();
            return false;
        }
    }
    return true;
}

void LibraryShutdown() {
    ShutdownList* list = TheShutdownList;
    if (!list) {
        return;
    }
    while (ShutdownNode* node = list->PopFront()) {
        node->Handler();
        MemFree(node);
    }
    list->~ShutdownList();
    MemFree(list);
    TheShutdownList = nullptr;
}
