#include "engine/refresh_engine.h"
#include "platform/sim_control.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

const RECT Screen = {0, 0, 640, 480};
const char* const GuestClassName = "VMWare.GuestWindow";

class RefreshEngine : public ::testing::Test {
  protected:
    void SetUp() override {
        Sim::Reset();
        Refresh = RefreshState{};
        strcpy(Refresh.GuestClass, GuestClassName);
    }
    void TearDown() override { Sim::Reset(); }

    HWND Console(const char* title = "Demo - VMware Workstation") {
        return Sim::CreateWindow(nullptr, title, "VMUIFrame", Screen);
    }
    HWND Guest(HWND parent, RECT rect = Screen, bool visible = true) {
        return Sim::CreateWindow(parent, "", GuestClassName, rect, visible);
    }
    // What Start does before arming the timer.
    void StartOn(HWND console) {
        ResetRefreshState();
        Refresh.TargetWindow = console;
        Refresh.Running = 1;
    }
    void Tick(DWORD now) {
        Sim::SetTick(now);
        OnRefreshTick();
    }
};

TEST_F(RefreshEngine, FirstMatchingTopLevelWindowWinsAndEndsTheWalk) {
    HWND notes = Sim::CreateWindow(nullptr, "Notes", "Edit", Screen);
    Sim::CreateWindow(notes, "Child - VMware Workstation", "Static", Screen); // not top-level
    HWND first = Console("A - VMware Workstation");
    Console("B - VMware Workstation");
    Sim::CreateWindow(nullptr, "After", "Edit", Screen);
    Sim::RecordCalls(true);

    EXPECT_TRUE(FindTargetWindow("* - VMware Workstation"));
    EXPECT_EQ(Refresh.TargetWindow, first);
    EXPECT_EQ(Sim::CountCalls(Sim::Op::GetWindowText), 2u);
}

TEST_F(RefreshEngine, NoMatchingTitleLeavesNoTarget) {
    Sim::CreateWindow(nullptr, "VMware Workstation", "VMUIFrame", Screen);
    Sim::CreateWindow(nullptr, "", "Hidden", Screen, false);
    Sim::RecordCalls(true);

    EXPECT_FALSE(FindTargetWindow("* - VMware Workstation"));
    EXPECT_EQ(Refresh.TargetWindow, nullptr);
    EXPECT_EQ(Sim::CountCalls(Sim::Op::GetWindowText), 2u);
}

TEST_F(RefreshEngine, ResetClearsTheSearchButKeepsRunningAndClass) {
    HWND console = Console();
    Refresh.Running = 1;
    Refresh.TargetWindow = console;
    Refresh.ScanRoot = console;
    Refresh.LastScanTick = 77;
    Refresh.GuestCount = 3;

    ResetRefreshState();

    EXPECT_EQ(Refresh.TargetWindow, nullptr);
    EXPECT_EQ(Refresh.ScanRoot, nullptr);
    EXPECT_EQ(Refresh.LastScanTick, 0u);
    EXPECT_EQ(Refresh.GuestCount, 0u);
    EXPECT_EQ(Refresh.Running, 1);
    EXPECT_STREQ(Refresh.GuestClass, GuestClassName);
}

TEST_F(RefreshEngine, OnePassAsksRectVisibilityThenInvalidatesWithEraseAndPaints) {
    HWND console = Console();
    HWND frame = Sim::CreateWindow(console, "", "Frame", Screen);
    HWND shown = Guest(frame);
    HWND hidden = Guest(frame, Screen, false);
    HWND flat = Guest(frame, RECT{10, 10, 200, 10});
    HWND other = Guest(frame);
    StartOn(console);
    Tick(5000);
    ASSERT_EQ(Refresh.GuestCount, 4u);
    Sim::RecordCalls(true);

    RefreshGuestWindows();

    using Sim::Op;
    const Sim::Call expected[] = {
        {Op::GetWindowRect, shown, 0},   {Op::IsWindowVisible, shown, 0},
        {Op::InvalidateRect, shown, 1},  {Op::UpdateWindow, shown, 0},
        {Op::GetWindowRect, hidden, 0},  {Op::IsWindowVisible, hidden, 0},
        {Op::GetWindowRect, flat, 0},    {Op::GetWindowRect, other, 0},
        {Op::IsWindowVisible, other, 0}, {Op::InvalidateRect, other, 1},
        {Op::UpdateWindow, other, 0},
    };
    const auto& calls = Sim::Calls();
    ASSERT_EQ(calls.size(), std::size(expected));
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i], expected[i]) << "call " << i << ": got " << Sim::Describe(calls[i])
                                         << ", expected " << Sim::Describe(expected[i]);
    }
}

TEST_F(RefreshEngine, ElevenGuestsKeepTheFirstTenInEnumerationOrder) {
    HWND console = Console();
    HWND guests[11];
    for (HWND& guest : guests) {
        guest = Guest(console);
    }
    StartOn(console);
    Tick(5000);

    ASSERT_EQ(Refresh.GuestCount, 10u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(Refresh.GuestWindows[i], guests[i]) << i;
        EXPECT_EQ(Sim::Paints(guests[i]), 1u) << i;
        EXPECT_EQ(Sim::ErasingInvalidations(guests[i]), 1u) << i;
    }
    EXPECT_EQ(Sim::Invalidations(guests[10]), 0u);

    Tick(6001); // a second scan keeps the same ten
    EXPECT_EQ(Refresh.GuestCount, 10u);
    EXPECT_EQ(Sim::Paints(guests[9]), 2u);
    EXPECT_EQ(Sim::Invalidations(guests[10]), 0u);
}

TEST_F(RefreshEngine, SkippedWindowsAreRepaintedOnceVisibleAndNotEmpty) {
    HWND console = Console();
    HWND frame = Sim::CreateWindow(console, "", "Frame", Screen);
    struct Row {
        const char* What;
        RECT Rect;
        bool Visible;
        bool HideParent;
    };
    const Row rows[] = {
        {"hidden", Screen, false, false},
        {"zero width", RECT{100, 0, 100, 480}, true, false},
        {"zero height", RECT{0, 50, 640, 50}, true, false},
        {"hidden ancestor", Screen, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.What);
        HWND holder = Sim::CreateWindow(frame, "", "Holder", Screen, !row.HideParent);
        HWND guest = Guest(holder, row.Rect, row.Visible);
        Refresh.GuestCount = 1;
        Refresh.GuestWindows[0] = guest;

        RefreshGuestWindows();
        EXPECT_EQ(Sim::Invalidations(guest), 0u);
        EXPECT_EQ(Sim::Paints(guest), 0u);

        Sim::SetVisible(holder, true);
        Sim::SetVisible(guest, true);
        Sim::SetRect(guest, RECT{-5, -5, 10, 10});
        RefreshGuestWindows();
        EXPECT_EQ(Sim::ErasingInvalidations(guest), 1u);
        EXPECT_EQ(Sim::Paints(guest), 1u);
    }
}

// Ticks every 200 ms from `start`: searches on the first tick and then on the first tick more
// than 1000 ms after the last search; repaints on every tick.
void CheckRhythm(DWORD start) {
    Sim::Reset();
    Refresh = RefreshState{};
    strcpy(Refresh.GuestClass, GuestClassName);
    HWND console = Sim::CreateWindow(nullptr, "c", "VMUIFrame", Screen);
    HWND guest = Sim::CreateWindow(console, "", GuestClassName, Screen);
    ResetRefreshState();
    Refresh.TargetWindow = console;
    Refresh.Running = 1;
    Sim::RecordCalls(true);

    const bool searches[] = {true,  false, false, false, false, false, true,
                             false, false, false, false, false, true,  false};
    for (size_t i = 0; i < std::size(searches); ++i) {
        Sim::ClearCalls();
        Sim::SetTick(start + (DWORD)(200 * i));
        OnRefreshTick();
        EXPECT_EQ(Sim::CountCalls(Sim::Op::EnumChildWindows), searches[i] ? 1u : 0u)
            << "tick " << i << " from " << start;
        EXPECT_EQ(Sim::Paints(guest), i + 1) << "tick " << i << " from " << start;
    }
}

TEST_F(RefreshEngine, SearchesAtMostOncePerSecondAtTwoHundredMilliseconds) {
    CheckRhythm(5000);
    CheckRhythm(4294967295u - 500); // across the counter's wrap
    CheckRhythm(4294967295u);
}

TEST_F(RefreshEngine, ExactlyOneSecondAfterASearchIsNotEnough) {
    HWND console = Console();
    Guest(console);
    StartOn(console);
    Sim::RecordCalls(true);
    const struct {
        DWORD Now;
        bool Searches;
    } ticks[] = {{2000, true}, {3000, false}, {3001, true}, {4001, false}, {4002, true}};
    for (const auto& tick : ticks) {
        Sim::ClearCalls();
        Tick(tick.Now);
        EXPECT_EQ(Sim::CountCalls(Sim::Op::EnumChildWindows), tick.Searches ? 1u : 0u) << tick.Now;
        EXPECT_EQ(Refresh.LastScanTick, tick.Searches ? tick.Now : Refresh.LastScanTick);
    }
}

TEST_F(RefreshEngine, LaterSearchesStartAtTheFirstGuestsParent) {
    HWND console = Console();
    HWND left = Sim::CreateWindow(console, "", "Branch", Screen);
    HWND leftGuest = Guest(left);
    HWND right = Sim::CreateWindow(console, "", "Branch", Screen);
    HWND rightGuest = Guest(right);
    StartOn(console);

    Tick(10000);
    EXPECT_EQ(Refresh.ScanRoot, left);
    EXPECT_EQ(Refresh.GuestCount, 2u);
    Tick(10200);
    EXPECT_EQ(Sim::Paints(rightGuest), 2u);

    Sim::RecordCalls(true);
    Tick(11201);
    ASSERT_GE(Sim::Calls().size(), 1u);
    EXPECT_EQ(Sim::Calls()[1], (Sim::Call{Sim::Op::EnumChildWindows, left, 0}));
    EXPECT_EQ(Refresh.ScanRoot, left);
    ASSERT_EQ(Refresh.GuestCount, 1u);
    EXPECT_EQ(Refresh.GuestWindows[0], leftGuest);
    EXPECT_EQ(Sim::Paints(leftGuest), 3u);
    EXPECT_EQ(Sim::Paints(rightGuest), 2u);
}

TEST_F(RefreshEngine, ScanRootStaysWhenItsGuestsAreGone) {
    HWND console = Console();
    HWND branch = Sim::CreateWindow(console, "", "Branch", Screen);
    HWND first = Guest(branch);
    StartOn(console);
    Tick(10000);
    Sim::DestroyWindow(first);
    HWND elsewhere = Guest(Sim::CreateWindow(console, "", "Other", Screen));

    Tick(11001);
    EXPECT_EQ(Refresh.ScanRoot, branch);
    EXPECT_EQ(Refresh.GuestCount, 0u);
    EXPECT_EQ(Sim::Paints(elsewhere), 0u);
}

TEST_F(RefreshEngine, AGuestDestroyedBetweenSearchesIsSkippedUntilTheNextSearch) {
    HWND console = Console();
    HWND doomed = Guest(console);
    HWND kept = Guest(console);
    StartOn(console);
    Tick(10000);
    Sim::DestroyWindow(doomed);
    HWND fresh = Guest(console);

    Tick(10200);
    EXPECT_EQ(Refresh.GuestCount, 2u);
    EXPECT_EQ(Sim::Paints(doomed), 1u);
    EXPECT_EQ(Sim::Paints(kept), 2u);
    EXPECT_EQ(Sim::Paints(fresh), 0u);

    Tick(11001);
    EXPECT_EQ(Refresh.GuestCount, 2u);
    EXPECT_EQ(Sim::Paints(fresh), 1u);
}

TEST_F(RefreshEngine, ConsoleDestroyedWhileRunningRepaintsNothingAgain) {
    HWND console = Console();
    HWND guest = Guest(console);
    StartOn(console);
    Tick(10000);
    ASSERT_EQ(Sim::Paints(guest), 1u);
    Sim::DestroyWindow(console);

    for (DWORD now = 10200; now < 14000; now += 200) {
        Tick(now);
    }
    EXPECT_EQ(Refresh.Running, 1);
    EXPECT_EQ(Refresh.GuestCount, 0u);
    EXPECT_EQ(Sim::Paints(guest), 1u);
    EXPECT_EQ(Refresh.TargetWindow, console);
}

TEST_F(RefreshEngine, EmptyClassMatchesNoWindow) {
    HWND console = Console();
    HWND guest = Guest(console);
    HWND nameless = Sim::CreateWindow(console, "", "", Screen);
    Refresh.GuestClass[0] = 0;
    StartOn(console);
    for (DWORD now = 5000; now < 8000; now += 200) {
        Tick(now);
    }
    EXPECT_EQ(Refresh.GuestCount, 0u);
    EXPECT_EQ(Refresh.ScanRoot, nullptr);
    EXPECT_EQ(Sim::Paints(guest) + Sim::Paints(nameless), 0u);
}

TEST_F(RefreshEngine, ClassIsComparedExactly) {
    HWND console = Console();
    HWND lower = Sim::CreateWindow(console, "", "vmware.guestwindow", Screen);
    HWND longer = Sim::CreateWindow(console, "", "VMWare.GuestWindow2", Screen);
    HWND exact = Guest(console);
    StartOn(console);
    Tick(5000);
    ASSERT_EQ(Refresh.GuestCount, 1u);
    EXPECT_EQ(Refresh.GuestWindows[0], exact);
    EXPECT_EQ(Sim::Paints(lower) + Sim::Paints(longer), 0u);
}

TEST_F(RefreshEngine, NothingHappensWhileNotRunning) {
    HWND console = Console();
    HWND guest = Guest(console);
    StartOn(console);
    Refresh.Running = 0;
    Sim::RecordCalls(true);
    Tick(5000);
    EXPECT_TRUE(Sim::Calls().empty());
    EXPECT_EQ(Sim::Paints(guest), 0u);
    EXPECT_EQ(Refresh.LastScanTick, 0u);
}

TEST_F(RefreshEngine, TheConsoleMayBeAnyTopLevelWindowItsDescendantsAreSearched) {
    HWND panel = Sim::CreateWindow(nullptr, "Quorvel", "#32770", Screen);
    HWND inner = Guest(Sim::CreateWindow(panel, "", "Static", Screen));
    ASSERT_TRUE(FindTargetWindow("*"));
    EXPECT_EQ(Refresh.TargetWindow, panel);
    Refresh.Running = 1;
    Tick(5000);
    EXPECT_EQ(Sim::Paints(inner), 1u);
}

} // namespace
