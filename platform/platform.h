// The one seam between Quorvel and Windows.
//
// engine/, panel/ and support/ reach the window manager and the kernel only through the
// operations declared here, under their Windows names and ANSI signatures. The shipped
// program binds them to USER32.dll and KERNEL32.dll directly (platform_win32.h: the SDK's own
// declarations, no wrappers, no virtual dispatch). The Linux build binds the same names to a
// simulated window manager (platform_sim.h, platform_sim.cpp) that the tests drive; because that
// header declares only the operations Quorvel uses, a call outside this set does not compile.
#pragma once

#if defined(_WIN32)
#include "platform/platform_win32.h"
#else
#include "platform/platform_sim.h"
#endif

// CharUpperA upper-cases a single character when handed its value in place of a pointer.
inline unsigned char UpperChar(unsigned char ch) {
    return (unsigned char)(UINT_PTR)CharUpperA((LPSTR)(UINT_PTR)ch);
}
