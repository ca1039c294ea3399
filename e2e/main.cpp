// Runs the end-to-end suite: e2e --quorvel PATH --demo PATH [--time-scale N] [GoogleTest options].
// A watchdog thread ends a test that hangs: it kills the child processes and exits non-zero, so a
// stuck Wine process cannot keep ctest waiting until its own time-out.
#include "e2e/harness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

constexpr int TEST_LIMIT_SECONDS = 60;
constexpr int WATCHDOG_EXIT_CODE = 3;

std::atomic<long long> Deadline{0}; // steady-clock seconds; 0 while no test runs
std::string CurrentTest;

long long NowSeconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(steady_clock::now().time_since_epoch()).count();
}

class WatchdogListener : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo& info) override {
        CurrentTest = std::string(info.test_suite_name()) + "." + info.name();
        Deadline = NowSeconds() + TEST_LIMIT_SECONDS * e2e::Paths().TimeScale;
    }
    void OnTestEnd(const testing::TestInfo&) override { Deadline = 0; }
};

void Watch() {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const long long deadline = Deadline;
        if (deadline != 0 && NowSeconds() > deadline) {
            std::fprintf(stderr, "watchdog: %s ran longer than %d s; ending it\n",
                         CurrentTest.c_str(), TEST_LIMIT_SECONDS * e2e::Paths().TimeScale);
            std::fflush(stderr);
            e2e::KillAllChildren();
            ExitProcess(WATCHDOG_EXIT_CODE);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--quorvel") == 0) {
            e2e::Paths().Quorvel = argv[++i];
        } else if (std::strcmp(argv[i], "--demo") == 0) {
            e2e::Paths().DemoConsole = argv[++i];
        } else if (std::strcmp(argv[i], "--time-scale") == 0) {
            e2e::Paths().TimeScale = std::max(1, std::atoi(argv[++i]));
        }
    }
    if (e2e::Paths().Quorvel.empty() || e2e::Paths().DemoConsole.empty()) {
        std::fprintf(stderr, "usage: %s --quorvel PATH --demo PATH [gtest options]\n", argv[0]);
        return 2;
    }
    testing::UnitTest::GetInstance()->listeners().Append(new WatchdogListener);
    std::thread(Watch).detach();
    return RUN_ALL_TESTS();
}
