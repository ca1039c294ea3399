// The shipped binding: the SDK's declarations of USER32 and KERNEL32, linked through their
// import libraries. Nothing here adds code; calls go straight to the system DLLs.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
