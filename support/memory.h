// Zero-filled memory blocks from the process's local heap.
#pragma once

#include "platform/platform.h"

void* MemAlloc(DWORD size); // null when memory is exhausted
void MemFree(void* block);  // null is fine
