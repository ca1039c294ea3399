// The demo console's counters, shared with the end-to-end tests through a named file mapping.
// Only fixed-width fields, so that a reader need not be built like the writer.
#pragma once

#include <cstdint>

namespace demo {

constexpr int MAX_GUESTS = 32;
constexpr uint32_t STATS_MAGIC = 0x51444D4F;

// Commands the console's main window accepts from a test.
// WM_APP + 1: stop pumping messages for wParam milliseconds (post it: the sender would wait).
// WM_APP + 2: destroy guest wParam and create a new one in its place; returns the new slot or -1.
constexpr unsigned DEMO_STALL = 0x8000 + 1;
constexpr unsigned DEMO_REPLACE_GUEST = 0x8000 + 2;

struct GuestStats {
    uint64_t Window;        // the guest window's handle, 0 once it is destroyed
    volatile int32_t Erase; // WM_ERASEBKGND messages handled
    volatile int32_t Paint; // WM_PAINT messages that had something to paint
    int32_t Branch;
    int32_t Flags; // GUEST_HIDDEN, GUEST_ZERO_WIDTH, GUEST_ZERO_HEIGHT, GUEST_IN_HIDDEN_BRANCH
};

constexpr int32_t GUEST_HIDDEN = 1;
constexpr int32_t GUEST_ZERO_WIDTH = 2;
constexpr int32_t GUEST_ZERO_HEIGHT = 4;
constexpr int32_t GUEST_IN_HIDDEN_BRANCH = 8;

struct Stats {
    uint32_t Magic;         // STATS_MAGIC once the console is ready
    volatile int32_t Slots; // guest slots used, destroyed ones included
    uint64_t MainWindow;
    volatile int32_t Stalled; // 1 while the console is not pumping messages
    int32_t Reserved;
    GuestStats Guests[MAX_GUESTS];
};

} // namespace demo
