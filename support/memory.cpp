#include "support/memory.h"

void* MemAlloc(DWORD size) {
    return LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, size);
}

void MemFree(void* block) {
    if (block) {
        LocalFree(LocalHandle(block));
    }
}
