// The Linux binding: the Windows types and the exact subset of USER32/KERNEL32 operations that
// Quorvel calls, declared with their Windows names and implemented by the simulated window
// manager in platform_sim.cpp. Tests drive the simulation through sim_control.h.
#pragma once

#include <cstdarg>
#include <cstdint>

#define WINAPI
#define CALLBACK
#define APIENTRY

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef uintptr_t UINT_PTR;
typedef intptr_t INT_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* HLOCAL;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;

#define TRUE 1
#define FALSE 0

struct RECT {
    LONG left, top, right, bottom;
};
typedef RECT* LPRECT;
typedef const RECT* LPCRECT;

// Only the fields a critical section needs for the simulation's bookkeeping.
struct CRITICAL_SECTION {
    LONG LockCount;
    LONG RecursionCount;
    DWORD OwningThread;
    BOOL Initialized;
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

typedef BOOL(CALLBACK* WNDENUMPROC)(HWND, LPARAM);
typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

#define LOWORD(l) ((WORD)(((UINT_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((UINT_PTR)(l)) >> 16) & 0xffff))
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)(((WORD)(l)) | (((DWORD)(WORD)(h)) << 16)))
#define MAKEINTRESOURCEA(i) ((LPSTR)((UINT_PTR)((WORD)(i))))

#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113
#define IDOK 1
#define IDCANCEL 2
#define SW_HIDE 0
#define SW_SHOW 5
#define MB_OK 0x00000000L
#define MB_ICONERROR 0x00000010L
#define CB_ADDSTRING 0x0143
#define CB_SETCURSEL 0x014E
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

// Window manager (USER32).
BOOL WINAPI EnumWindows(WNDENUMPROC proc, LPARAM param);
BOOL WINAPI EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM param);
int WINAPI GetWindowTextA(HWND window, LPSTR text, int max);
int WINAPI GetClassNameA(HWND window, LPSTR name, int max);
HWND WINAPI GetParent(HWND window);
BOOL WINAPI GetWindowRect(HWND window, LPRECT rect);
BOOL WINAPI IsWindowVisible(HWND window);
BOOL WINAPI InvalidateRect(HWND window, LPCRECT rect, BOOL erase);
BOOL WINAPI UpdateWindow(HWND window);
LPSTR WINAPI CharUpperA(LPSTR text);
INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC proc,
                               LPARAM param);
BOOL WINAPI EndDialog(HWND dialog, INT_PTR result);
HWND WINAPI GetDlgItem(HWND dialog, int id);
BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text);
BOOL WINAPI EnableWindow(HWND window, BOOL enable);
BOOL WINAPI ShowWindow(HWND window, int command);
LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam);
UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, void* timerProc);
BOOL WINAPI KillTimer(HWND window, UINT_PTR id);
int WINAPI wvsprintfA(LPSTR out, LPCSTR format, va_list args);
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
DWORD WINAPI GetWindowThreadProcessId(HWND window, DWORD* processId);

// Kernel (KERNEL32).
DWORD WINAPI GetTickCount(void);
int WINAPI lstrcmpA(LPCSTR a, LPCSTR b);
int WINAPI lstrlenA(LPCSTR text);
void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section);
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section);
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section);
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section);
DWORD WINAPI GetCurrentThreadId(void);
HLOCAL WINAPI LocalAlloc(UINT flags, UINT_PTR bytes);
HLOCAL WINAPI LocalHandle(const void* memory);
HLOCAL WINAPI LocalFree(HLOCAL memory);
HMODULE WINAPI GetModuleHandleA(LPCSTR name);
LPSTR WINAPI GetCommandLineA(void);
[[noreturn]] void WINAPI ExitProcess(UINT code);
