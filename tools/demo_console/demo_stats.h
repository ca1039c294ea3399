// The demo console's counters, shared with the end-to-end tests through a named file mapping.
// Only fixed-width fields, so that a reader need not be built like the writer.
#pragma once

#include <cstdint>

namespace demo {

constexpr int MAX_GUESTS = 32;
constexpr uint32_t STATS_MAGIC = 0x51444D50;

// The simulated guest draws a new frame this often, in milliseconds of its own clock.
constexpr int GUEST_FRAME_MS = 10;
// Paint times kept per guest window: at 50 ms a reader polling every second or so loses none.
constexpr int PAINT_RING = 256;

// Commands the console's main window accepts from a test.
// WM_APP + 1: stop pumping messages for wParam milliseconds (post it: the sender would wait).
// WM_APP + 2: destroy guest wParam and create a new one in its place; returns the new slot or -1.
// WM_APP + 3: when nothing is left to paint or to handle, copy every slot's counters to
//             Stats::Snapshot and return 1; otherwise return 0 and copy nothing.
constexpr unsigned DEMO_STALL = 0x8000 + 1;
constexpr unsigned DEMO_REPLACE_GUEST = 0x8000 + 2;
constexpr unsigned DEMO_SNAPSHOT = 0x8000 + 3;

// What a window was made to do: WM_ERASEBKGND messages handled, and WM_PAINT messages that had
// something to paint (BeginPaint gave a non-empty rectangle).
struct Repaints {
    volatile int32_t Erase;
    volatile int32_t Paint;
};

struct GuestStats {
    uint64_t Window;        // the guest window's handle, 0 once it is destroyed
    volatile int32_t Erase; // as in Repaints
    volatile int32_t Paint;
    // With --controls: the guest's control window, beside it in the same parent, of the same
    // size, visibility and class styles, but of a class Quorvel is not told to serve. What the
    // window manager does to the guest window by itself (covering, theme changes, showing the
    // console) it does to the control too; 0 and no counts without --controls.
    uint64_t ControlWindow;
    Repaints Control;
    int32_t Branch;
    int32_t Flags; // GUEST_HIDDEN, GUEST_ZERO_WIDTH, GUEST_ZERO_HEIGHT, GUEST_IN_HIDDEN_BRANCH
    // The guest frame the last paint showed; the guest itself has moved on since.
    volatile int32_t Frame;
    int32_t Reserved;
    // When paint n happened (PaintUs[(n - 1) % PAINT_RING], n counted from 1), in microseconds
    // of QueryPerformanceCounter, a clock every process on the machine shares. Written before
    // Paint is raised to n.
    volatile int64_t PaintUs[PAINT_RING];
};

constexpr int32_t GUEST_HIDDEN = 1;
constexpr int32_t GUEST_ZERO_WIDTH = 2;
constexpr int32_t GUEST_ZERO_HEIGHT = 4;
constexpr int32_t GUEST_IN_HIDDEN_BRANCH = 8;

// One slot's counters as DEMO_SNAPSHOT copies them, all at one moment of the console's thread.
struct SlotSnapshot {
    Repaints Guest;
    Repaints Control;
    int32_t Frame;
    int32_t Reserved;
};

struct Stats {
    uint32_t Magic;         // STATS_MAGIC once the console is ready
    volatile int32_t Slots; // guest slots used, destroyed ones included
    uint64_t MainWindow;
    volatile int32_t Stalled; // 1 while the console is not pumping messages
    int32_t Reserved;
    // The guest clock reads 0 at this QueryPerformanceCounter time, in microseconds; its frame
    // number is the time since then divided by GUEST_FRAME_MS.
    int64_t GuestEpochUs;
    GuestStats Guests[MAX_GUESTS];
    int32_t SnapshotSlots;
    int32_t SnapshotReserved;
    SlotSnapshot Snapshot[MAX_GUESTS];
};

} // namespace demo
