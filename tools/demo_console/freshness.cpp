// Measures how fresh a running demo console's guest windows are kept: reads the paint times the
// console records in its shared mapping for a number of seconds and prints the gaps between
// consecutive paints of each guest window, all guests pooled, as one line of name=value pairs.
// Usage: freshness --stats NAME [--seconds S]. Exits 1 when there is no console to read.
// freshness --stats NAME --ready S waits up to S seconds instead, until the console is up and each
// of its guest windows that can be seen has painted: exits 0 then, or 1 naming what did not come.
#include "tools/demo_console/guest_clock.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Well within the time a full ring lasts at the shortest refresh interval (256 x 50 ms).
constexpr DWORD POLL_MS = 100;

// Waits up to that long for the console to make its mapping and finish starting.
const demo::Stats* OpenStats(const std::string& name, double seconds) {
    const demo::Stats* stats = nullptr;
    for (int attempt = 0; attempt < seconds * 10; ++attempt, Sleep(100)) {
        if (!stats) {
            HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
            if (mapping) {
                stats = static_cast<const demo::Stats*>(
                    MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(demo::Stats)));
            }
        }
        if (stats && stats->Magic == demo::STATS_MAGIC) {
            return stats;
        }
    }
    return nullptr;
}

struct Guest {
    int32_t Seen = 0;    // paints read so far
    int64_t LastUs = -1; // time of the last paint inside the window, -1 before the first
    int32_t FirstFrame = -1;
    int32_t LastFrame = -1;
};

// Nearest rank: the smallest gap that at least this fraction of all gaps do not exceed.
double Percentile(const std::vector<int64_t>& sorted, double fraction) {
    size_t rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
    rank = std::min(std::max<size_t>(rank, 1), sorted.size());
    return static_cast<double>(sorted[rank - 1]) / 1000.0;
}

} // namespace

// The guest windows to be seen (neither hidden nor without size) that have not painted yet, as
// "2, 3" (slots from 0); empty once every one has.
std::string Unpainted(const demo::Stats& stats) {
    std::string slots;
    for (int slot = 0; slot < stats.Slots && slot < demo::MAX_GUESTS; ++slot) {
        const demo::GuestStats& g = stats.Guests[slot];
        if (g.Window != 0 && g.Flags == 0 && g.Paint == 0) {
            slots += (slots.empty() ? "" : ", ") + std::to_string(slot);
        }
    }
    return slots;
}

int WaitReady(const std::string& name, double seconds) {
    const DWORD start = GetTickCount();
    const demo::Stats* stats = name.empty() ? nullptr : OpenStats(name, seconds);
    if (!stats) {
        std::fprintf(stderr, "freshness: the demo console ('%s') did not come up in %.0f s\n",
                     name.c_str(), seconds);
        return 1;
    }
    std::string unpainted = Unpainted(*stats);
    while (!unpainted.empty() && GetTickCount() - start < seconds * 1000) {
        Sleep(50);
        unpainted = Unpainted(*stats);
    }
    if (!unpainted.empty()) {
        std::fprintf(stderr,
                     "freshness: the demo console's guest windows %s did not paint in %.0f s\n",
                     unpainted.c_str(), seconds);
        return 1;
    }
    std::printf("ready: every guest window that shows has painted\n");
    return 0;
}

int main(int argc, char** argv) {
    std::string name;
    double seconds = 30;
    double ready = -1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--stats") == 0) {
            name = argv[i + 1];
        } else if (std::strcmp(argv[i], "--seconds") == 0) {
            seconds = std::atof(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--ready") == 0) {
            ready = std::atof(argv[i + 1]);
        }
    }
    if (ready >= 0) {
        return WaitReady(name, ready);
    }
    const demo::Stats* stats = name.empty() ? nullptr : OpenStats(name, 30);
    if (!stats) {
        std::fprintf(stderr, "freshness: no demo console stats named '%s'\n", name.c_str());
        return 1;
    }

    std::vector<Guest> guests(demo::MAX_GUESTS);
    std::vector<int64_t> gaps;
    int paints = 0, lost = 0;
    // Paints before the window began do not count; neither do gaps that start before it.
    for (int slot = 0; slot < demo::MAX_GUESTS; ++slot) {
        guests[slot].Seen = stats->Guests[slot].Paint;
    }
    const int64_t start = demo::NowUs();
    const int64_t end = start + static_cast<int64_t>(seconds * 1e6);
    for (bool last = false; !last;) {
        const int64_t now = demo::NowUs();
        last = now >= end;
        if (!last) {
            Sleep(static_cast<DWORD>(std::min<int64_t>(POLL_MS, (end - now) / 1000 + 1)));
        }
        for (int slot = 0; slot < stats->Slots && slot < demo::MAX_GUESTS; ++slot) {
            const demo::GuestStats& g = stats->Guests[slot];
            Guest& seen = guests[slot];
            const int32_t count = g.Paint;
            MemoryBarrier();
            if (count - seen.Seen > demo::PAINT_RING) {
                lost += count - seen.Seen - demo::PAINT_RING;
                seen.Seen = count - demo::PAINT_RING;
                seen.LastUs = -1; // no gap across the paints that were lost
            }
            for (int32_t n = seen.Seen + 1; n <= count; ++n) {
                const int64_t at = g.PaintUs[(n - 1) % demo::PAINT_RING];
                if (at < start || at > end) {
                    continue;
                }
                ++paints;
                if (seen.LastUs >= 0) {
                    gaps.push_back(at - seen.LastUs);
                }
                seen.LastUs = at;
            }
            seen.Seen = count;
        }
    }

    int windows = 0, painted = 0;
    for (int slot = 0; slot < stats->Slots && slot < demo::MAX_GUESTS; ++slot) {
        windows += stats->Guests[slot].Window != 0;
        painted += guests[slot].LastUs >= 0;
    }
    std::sort(gaps.begin(), gaps.end());
    std::printf("guests=%d painted=%d seconds=%.1f paints=%d lost=%d gaps=%zu", windows, painted,
                seconds, paints, lost, gaps.size());
    if (gaps.empty()) {
        std::printf(" median_ms=- p99_ms=- max_ms=-\n");
    } else {
        std::printf(" median_ms=%.1f p99_ms=%.1f max_ms=%.1f\n", Percentile(gaps, 0.5),
                    Percentile(gaps, 0.99), static_cast<double>(gaps.back()) / 1000.0);
    }
    return 0;
}
