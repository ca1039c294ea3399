// The simulated guest's clock, as the demo console, the end-to-end tests and the freshness reader
// all read it: QueryPerformanceCounter, which every process on the machine shares, in microseconds.
#pragma once

#include "tools/demo_console/demo_stats.h"

#include <windows.h>

#include <cstdint>

namespace demo {

// Split so that counter * 1000000 cannot overflow, whatever the counter's frequency.
inline int64_t CounterToUs(int64_t counter, int64_t frequency) {
    return counter / frequency * 1000000 + counter % frequency * 1000000 / frequency;
}

inline int64_t NowUs() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return CounterToUs(counter.QuadPart, frequency.QuadPart);
}

// The frame the guest had reached at this time.
inline int32_t GuestFrameAt(const Stats& stats, int64_t us) {
    return static_cast<int32_t>((us - stats.GuestEpochUs) / 1000 / GUEST_FRAME_MS);
}

} // namespace demo
