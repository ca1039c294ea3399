// draw_window.dll: a hook that the runner sets on another process's thread, so that a window of
// that thread draws itself (WM_PRINT) into a memory device context there, and the pixels reach
// the runner through a shared mapping. Wine's PrintWindow cannot do this across processes: it
// hands the runner's device context to a process in which that handle means nothing.
#include "e2e/draw_window.h"

namespace {

void Draw(HWND window, DWORD runnerId) {
    char name[64];
    wsprintfA(name, "%s%lu", e2e::DRAWING_NAME_PREFIX, runnerId);
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name);
    if (!mapping) {
        return;
    }
    auto* drawing = static_cast<e2e::Drawing*>(
        MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(e2e::Drawing)));
    if (!drawing) {
        CloseHandle(mapping);
        return;
    }
    LONG done = 2;
    RECT r;
    if (GetWindowRect(window, &r) && r.right > r.left && r.bottom > r.top &&
        r.right - r.left <= e2e::DRAWING_SIDE && r.bottom - r.top <= e2e::DRAWING_SIDE &&
        e2e::DrawInMemory(r.right - r.left, r.bottom - r.top, drawing->Pixels, [&](HDC dc) {
            SendMessageA(window, WM_PRINT, reinterpret_cast<WPARAM>(dc),
                         PRF_NONCLIENT | PRF_CLIENT | PRF_ERASEBKGND | PRF_CHILDREN);
            return true;
        })) {
        drawing->Width = r.right - r.left;
        drawing->Height = r.bottom - r.top;
        done = 1;
    }
    InterlockedExchange(&drawing->Done, done);
    UnmapViewOfFile(drawing);
    CloseHandle(mapping);
}

} // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK
    DrawWindowHook(int code, WPARAM removed, LPARAM lp) {
    MSG* message = reinterpret_cast<MSG*>(lp);
    if (code == HC_ACTION && removed == PM_REMOVE &&
        message->message == RegisterWindowMessageA(e2e::DRAW_WINDOW_MESSAGE)) {
        Draw(reinterpret_cast<HWND>(message->wParam), static_cast<DWORD>(message->lParam));
        message->message = WM_NULL; // the window itself sees nothing
    }
    return CallNextHookEx(nullptr, code, removed, lp);
}
