// Runs the end-to-end suite:
//   e2e --quorvel PATH --demo PATH [--inspector PATH] [--time-scale N] [--screenshots DIR]
//       [GoogleTest options]
// A watchdog thread ends a test that hangs: it kills the child processes and exits non-zero, so a
// stuck Wine process cannot keep ctest waiting until its own time-out.
// The first lines of its output name the system it runs on and its screen, so that a report says
// where it ran. With --screenshots, the first failure of a case leaves a picture of the whole
// screen at that moment in DIR/selftest-CASE.bmp.
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
#include <utility>

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

// "Screen: 1024 x 768", and the whole desktop's size where there are several monitors.
std::string ScreenLine() {
    char text[128];
    std::snprintf(text, sizeof text, "Screen: %d x %d", GetSystemMetrics(SM_CXSCREEN),
                  GetSystemMetrics(SM_CYSCREEN));
    std::string line = text;
    const int monitors = GetSystemMetrics(SM_CMONITORS);
    if (monitors > 1) {
        std::snprintf(text, sizeof text, ", %d monitors, desktop %d x %d", monitors,
                      GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN));
        line += text;
    }
    return line;
}

// The whole desktop as it is now, as a 24-bit BMP file.
bool SaveScreen(const std::string& path) {
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    if (width <= 0 || height <= 0) {
        return false;
    }
    BITMAPINFOHEADER header = {sizeof header, width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    header.biSizeImage = stride * static_cast<DWORD>(height);
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header),
                                      DIB_RGB_COLORS, &bits, nullptr, 0);
    bool saved = false;
    if (memory && bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, left, top, SRCCOPY);
        GdiFlush();
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42; // "BM"
        file.bfOffBits = sizeof file + sizeof header;
        file.bfSize = file.bfOffBits + header.biSizeImage;
        if (FILE* f = std::fopen(path.c_str(), "wb")) {
            saved = std::fwrite(&file, sizeof file, 1, f) == 1 &&
                    std::fwrite(&header, sizeof header, 1, f) == 1 &&
                    std::fwrite(bits, header.biSizeImage, 1, f) == 1;
            saved = std::fclose(f) == 0 && saved;
        }
        SelectObject(memory, old);
    }
    if (bitmap) {
        DeleteObject(bitmap);
    }
    if (memory) {
        DeleteDC(memory);
    }
    ReleaseDC(nullptr, screen);
    return saved;
}

// At a case's first failure, while its windows are still up, a picture of the screen.
class ScreenshotListener : public testing::EmptyTestEventListener {
  public:
    explicit ScreenshotListener(std::string folder) : folder_(std::move(folder)) {}

  private:
    void OnTestStart(const testing::TestInfo&) override { taken_ = false; }
    void OnTestPartResult(const testing::TestPartResult& result) override {
        if (taken_ || !result.failed()) {
            return;
        }
        taken_ = true;
        const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = info ? std::string(info->test_suite_name()) + "." + info->name()
                                : std::string("outside-a-case");
        for (char& c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) || c == '.' ? c : '_';
        }
        const std::string path = folder_ + "\\selftest-" + name + ".bmp";
        if (SaveScreen(path)) {
            std::printf("screenshot: %s\n", path.c_str());
        } else {
            std::printf("screenshot: could not write %s\n", path.c_str());
        }
    }
    std::string folder_;
    bool taken_ = false;
};

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
    std::printf("%s\n%s\n", SystemLine().c_str(), ScreenLine().c_str());
    std::fflush(stdout);
    testing::InitGoogleTest(&argc, argv);
    std::string screenshots;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--quorvel") == 0) {
            e2e::Paths().Quorvel = argv[++i];
        } else if (std::strcmp(argv[i], "--demo") == 0) {
            e2e::Paths().DemoConsole = argv[++i];
        } else if (std::strcmp(argv[i], "--inspector") == 0) {
            e2e::Paths().Inspector = argv[++i];
        } else if (std::strcmp(argv[i], "--time-scale") == 0) {
            e2e::Paths().TimeScale = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--screenshots") == 0) {
            screenshots = argv[++i];
        }
    }
    const bool listing = GTEST_FLAG_GET(list_tests);
    if (!listing && (e2e::Paths().Quorvel.empty() || e2e::Paths().DemoConsole.empty())) {
        std::fprintf(stderr,
                     "usage: %s --quorvel PATH --demo PATH [--inspector PATH] [--time-scale N] "
                     "[--screenshots DIR] [gtest options]\n",
                     argv[0]);
        return 2;
    }
    testing::UnitTest::GetInstance()->listeners().Append(new WatchdogListener);
    if (!screenshots.empty()) {
        testing::UnitTest::GetInstance()->listeners().Append(
            new ScreenshotListener(e2e::WindowsPath(screenshots)));
    }
    std::thread(Watch).detach();
    return RunSelectedTests();
}
