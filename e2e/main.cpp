// Runs the end-to-end suite:
//   e2e --quorvel PATH --demo PATH [--inspector PATH] [--time-scale N] [GoogleTest options]
// A watchdog thread ends a test that hangs: it kills the child processes and exits non-zero, so a
// stuck Wine process cannot keep ctest waiting until its own time-out.
// The first line of its output names the system it runs on, so that a report says where it ran.
#include "e2e/harness.h"
#include "tests/run_selected.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

constexpr int TEST_LIMIT_SECONDS = 60;
constexpr int WATCHDOG_EXIT_CODE = 3;

// Keeps text from the system out of what selftest.cmd echoes: only characters cmd takes as such.
std::string Plain(const char* text) {
    std::string plain;
    for (const char* c = text; *c; ++c) {
        const bool safe =
            std::isalnum(static_cast<unsigned char>(*c)) || std::strchr(" .,:;+-_~/", *c);
        plain += safe ? *c : '?';
    }
    return plain;
}

template <typename Function> Function NtdllExport(const char* name) {
    const FARPROC found = GetProcAddress(GetModuleHandleA("ntdll.dll"), name);
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

// "System: Windows 10.0 build 19045, x64, under Wine 10.0 on Linux 6.12.48". The version is
// ntdll's: GetVersionEx reports Windows 8 to a program without a manifest that names later ones.
// Only Wine's ntdll exports wine_get_version.
std::string SystemLine() {
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    using GetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    const auto getVersion = NtdllExport<GetVersionFunction>("RtlGetVersion");
    char text[256];
    if (getVersion && getVersion(&version) == 0) {
        std::snprintf(text, sizeof text, "Windows %lu.%lu build %lu", version.dwMajorVersion,
                      version.dwMinorVersion, version.dwBuildNumber);
    } else {
        std::snprintf(text, sizeof text, "Windows of unknown version");
    }
    std::string line = std::string("System: ") + text;
    if (version.wProductType != 0 && version.wProductType != VER_NT_WORKSTATION) {
        line += " Server";
    }
    if (version.szCSDVersion[0]) {
        char pack[128] = "";
        WideCharToMultiByte(CP_ACP, 0, version.szCSDVersion, -1, pack, sizeof pack, nullptr,
                            nullptr);
        line += " " + Plain(pack);
    }
    SYSTEM_INFO system = {};
    GetNativeSystemInfo(&system);
    switch (system.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_INTEL:
        line += ", x86";
        break;
    case PROCESSOR_ARCHITECTURE_AMD64:
        line += ", x64";
        break;
    case PROCESSOR_ARCHITECTURE_ARM64:
        line += ", ARM64";
        break;
    default:
        line += ", processor architecture " + std::to_string(system.wProcessorArchitecture);
    }

    using WineVersionFunction = const char*(CDECL*)();
    using WineHostFunction = void(CDECL*)(const char**, const char**);
    const auto wineVersion = NtdllExport<WineVersionFunction>("wine_get_version");
    if (!wineVersion) {
        return line + ", not under Wine";
    }
    line += ", under Wine " + Plain(wineVersion());
    const char* hostName = nullptr;
    const char* hostRelease = nullptr;
    if (const auto wineHost = NtdllExport<WineHostFunction>("wine_get_host_version")) {
        wineHost(&hostName, &hostRelease);
    }
    if (hostName && hostRelease) {
        line += " on " + Plain(hostName) + " " + Plain(hostRelease);
    }
    return line;
}

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
    std::printf("%s\n", SystemLine().c_str());
    std::fflush(stdout);
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--quorvel") == 0) {
            e2e::Paths().Quorvel = argv[++i];
        } else if (std::strcmp(argv[i], "--demo") == 0) {
            e2e::Paths().DemoConsole = argv[++i];
        } else if (std::strcmp(argv[i], "--inspector") == 0) {
            e2e::Paths().Inspector = argv[++i];
        } else if (std::strcmp(argv[i], "--time-scale") == 0) {
            e2e::Paths().TimeScale = std::max(1, std::atoi(argv[++i]));
        }
    }
    const bool listing = GTEST_FLAG_GET(list_tests);
    if (!listing && (e2e::Paths().Quorvel.empty() || e2e::Paths().DemoConsole.empty())) {
        std::fprintf(stderr,
                     "usage: %s --quorvel PATH --demo PATH [--inspector PATH] [gtest options]\n",
                     argv[0]);
        return 2;
    }
    testing::UnitTest::GetInstance()->listeners().Append(new WatchdogListener);
    std::thread(Watch).detach();
    return RunSelectedTests();
}
