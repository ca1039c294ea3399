#include "engine/refresh_engine.h"
#include "panel/panel.h"
#include "platform/sim_control.h"
#include "tests/panel_template.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

const RECT Screen = {0, 0, 640, 480};

class Panel : public ::testing::Test {
  protected:
    void SetUp() override {
        Sim::Reset();
        DefinePanelTemplate();
        Refresh = RefreshState{};
        Console = Sim::CreateWindow(nullptr, "Demo - VMware Workstation", "VMUIFrame", Screen);
        Guest = Sim::CreateWindow(Console, "", "VMWare.GuestWindow", Screen);
    }
    void TearDown() override { Sim::Reset(); }

    // Runs the panel modally; `user` plays the user while it is open.
    INT_PTR Run(std::function<void()> user) {
        Sim::SetDialogDriver([&](HWND) { user(); });
        return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PANEL), nullptr,
                               PanelProc, 0);
    }
    static HWND Item(int id) { return GetDlgItem(Sim::Dialog(), id); }
    static void Type(int id, const char* text) { Sim::SetTitle(Item(id), text); }
    static bool SettingsEnabled() {
        return Sim::IsEnabled(Item(IDC_TITLE_TEMPLATE)) && Sim::IsEnabled(Item(IDC_GUEST_CLASS)) &&
               Sim::IsEnabled(Item(IDC_INTERVAL));
    }
    static bool SettingsDisabled() {
        return !Sim::IsEnabled(Item(IDC_TITLE_TEMPLATE)) &&
               !Sim::IsEnabled(Item(IDC_GUEST_CLASS)) && !Sim::IsEnabled(Item(IDC_INTERVAL));
    }
    static void ExpectIdle() {
        EXPECT_EQ(Refresh.Running, 0);
        EXPECT_TRUE(Sim::IsEnabled(Item(IDC_START)));
        EXPECT_FALSE(Sim::IsEnabled(Item(IDC_STOP)));
        EXPECT_TRUE(SettingsEnabled());
        EXPECT_TRUE(Sim::ArmedTimers().empty());
    }
    static void ExpectRefreshing(UINT period) {
        EXPECT_EQ(Refresh.Running, 1);
        EXPECT_FALSE(Sim::IsEnabled(Item(IDC_START)));
        EXPECT_TRUE(Sim::IsEnabled(Item(IDC_STOP)));
        EXPECT_TRUE(SettingsDisabled());
        ASSERT_EQ(Sim::ArmedTimers().size(), 1u);
        EXPECT_EQ(Sim::ArmedTimers()[0].Window, Sim::Dialog());
        EXPECT_EQ(Sim::ArmedTimers()[0].Id, (UINT_PTR)REFRESH_TIMER_ID);
        EXPECT_EQ(Sim::ArmedTimers()[0].Period, period);
    }

    HWND Console = nullptr;
    HWND Guest = nullptr;
};

TEST_F(Panel, OpensWithCaptionDefaultsAndStartOnly) {
    Refresh.Running = 1; // whatever came before, a new panel is idle
    INT_PTR result = Run([&] {
        HWND dialog = Sim::Dialog();
        EXPECT_EQ(Sim::WindowText(dialog), "Quorvel");
        EXPECT_TRUE(IsWindowVisible(dialog));
        EXPECT_EQ(Sim::WindowText(Item(IDC_TITLE_TEMPLATE)), "* - VMware Workstation");
        EXPECT_EQ(Sim::WindowText(Item(IDC_GUEST_CLASS)), "VMWare.GuestWindow");
        const std::vector<std::string> choices = {"50",  "100", "200", "300",
                                                  "400", "500", "700", "1000"};
        EXPECT_EQ(Sim::ComboItems(Item(IDC_INTERVAL)), choices);
        EXPECT_EQ(Sim::ComboSelection(Item(IDC_INTERVAL)), 2);
        EXPECT_EQ(Sim::WindowText(Item(IDC_INTERVAL)), "200");
        ExpectIdle();
        EXPECT_EQ(Sim::SendToDialog(WM_INITDIALOG + 100, 0, 0), 0);
        Sim::Command(IDCANCEL);
    });
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(Sim::Boxes().empty());
}

struct StartCase {
    const char* Template;
    const char* Interval;
    const char* Message; // null: refreshing starts
    UINT Period;
};

const StartCase StartCases[] = {
    {"* - VMware Workstation", "200", nullptr, 200},
    {"* - VMware Workstation", "50", nullptr, 50},
    {"* - VMware Workstation", "0050", nullptr, 50},
    {"* - VMware Workstation", "200ms", nullptr, 200},
    {"* - VMware Workstation", "200 ms", nullptr, 200},
    {"* - VMware Workstation", "1000", nullptr, 1000},
    {"* - VMware Workstation", "2147483648", nullptr, 214748364},
    {"demo - vmware workstation", "300", nullptr, 300},
    {"* - VMware Workstation", "49", "Invalid interval given", 0},
    {"* - VMware Workstation", "0", "Invalid interval given", 0},
    {"* - VMware Workstation", " 200", "Invalid interval given", 0},
    {"* - VMware Workstation", "abc", "Invalid interval given", 0},
    {"* - VMware Workstation", "", "Invalid interval given", 0},
    {"* - VMware Workstation", "4294967296", "Invalid interval given", 0},
    {"Nothing like it", "200", "No VMware window found", 0},
    {"Nothing like it", "49", "No VMware window found", 0},
    {"", "200", "Template must be specified", 0},
    {"", "", "Template must be specified", 0},
};

TEST_F(Panel, StartChecksTheSettingsInOrderAndReportsTheFirstFault) {
    for (const StartCase& c : StartCases) {
        SCOPED_TRACE(std::string("template '") + c.Template + "' interval '" + c.Interval + "'");
        SetUp();
        Run([&] {
            Type(IDC_TITLE_TEMPLATE, c.Template);
            Type(IDC_INTERVAL, c.Interval);
            Sim::Command(IDC_START);
            if (c.Message) {
                ASSERT_EQ(Sim::Boxes().size(), 1u);
                const Sim::Box& box = Sim::Boxes()[0];
                EXPECT_EQ(box.Text, c.Message);
                EXPECT_EQ(box.Caption, "Quorvel");
                EXPECT_EQ(box.Type, (UINT)MB_ICONERROR);
                EXPECT_EQ(box.Owner, nullptr);
                ExpectIdle();
                // The user's settings are left as they were, to be corrected.
                EXPECT_EQ(Sim::WindowText(Item(IDC_TITLE_TEMPLATE)), c.Template);
                EXPECT_EQ(Sim::WindowText(Item(IDC_INTERVAL)), c.Interval);
            } else {
                EXPECT_TRUE(Sim::Boxes().empty());
                ExpectRefreshing(c.Period);
                EXPECT_EQ(Refresh.TargetWindow, Console);
                Sim::Command(IDC_STOP);
            }
            Sim::Command(IDCANCEL);
        });
        EXPECT_TRUE(Sim::DialogEnded());
    }
}

TEST_F(Panel, AnEmptyTemplateIsReportedBeforeTheClassIsReadOrAnythingSearched) {
    Run([&] {
        Type(IDC_TITLE_TEMPLATE, "");
        strcpy(Refresh.GuestClass, "untouched");
        Sim::RecordCalls(true);
        Sim::Command(IDC_START);
        Sim::RecordCalls(false);
        for (const Sim::Call& call : Sim::Calls()) {
            EXPECT_NE(call, (Sim::Call{Sim::Op::GetWindowText, Item(IDC_GUEST_CLASS), 0}));
            EXPECT_NE(call, (Sim::Call{Sim::Op::GetWindowText, Item(IDC_INTERVAL), 0}));
            EXPECT_NE(call.Operation, Sim::Op::EnumWindows);
        }
        EXPECT_STREQ(Refresh.GuestClass, "untouched");
        Sim::Command(IDCANCEL);
    });
}

TEST_F(Panel, StartStaysDisabledUntilTheErrorBoxIsDismissed) {
    int boxes = 0;
    Sim::SetBoxHook([&](const Sim::Box&) {
        ++boxes;
        EXPECT_FALSE(Sim::IsEnabled(Item(IDC_START)));
        EXPECT_FALSE(Sim::IsEnabled(Item(IDC_STOP)));
        EXPECT_TRUE(SettingsEnabled());
    });
    Run([&] {
        Type(IDC_INTERVAL, "49");
        Sim::Command(IDC_START);
        EXPECT_TRUE(Sim::IsEnabled(Item(IDC_START)));
        Sim::Command(IDCANCEL);
    });
    EXPECT_EQ(boxes, 1);
}

TEST_F(Panel, AnEmptyClassStartsButRepaintsNothing) {
    Run([&] {
        Type(IDC_GUEST_CLASS, "");
        Sim::Command(IDC_START);
        EXPECT_TRUE(Sim::Boxes().empty());
        ExpectRefreshing(200);
        for (int i = 0; i < 20; ++i) {
            Sim::AdvanceTick(200);
            Sim::FireTimers();
        }
        EXPECT_EQ(Sim::Paints(Guest), 0u);
        Sim::Command(IDC_STOP);
        Sim::Command(IDCANCEL);
    });
}

TEST_F(Panel, TheClassFieldGivesAtMostFortyNineCharacters) {
    const std::string longClass(80, 'C');
    Run([&] {
        Type(IDC_GUEST_CLASS, longClass.c_str());
        Sim::Command(IDC_START);
        EXPECT_EQ(std::string(Refresh.GuestClass), longClass.substr(0, 49));
        Sim::Command(IDC_STOP);
        Sim::Command(IDCANCEL);
    });
}

TEST_F(Panel, TimerTicksRepaintTheGuestsWhateverTheTimerId) {
    Sim::SetTick(100000);
    Run([&] {
        Sim::Command(IDC_START);
        Sim::FireTimers();
        EXPECT_EQ(Sim::Paints(Guest), 1u);
        Sim::SendToDialog(WM_TIMER, 7, 0);
        EXPECT_EQ(Sim::Paints(Guest), 2u);
        EXPECT_EQ(Sim::ErasingInvalidations(Guest), 2u);
        Sim::Command(IDC_STOP);
        Sim::Command(IDCANCEL);
    });
}

TEST_F(Panel, CloseIsIgnoredWhileRefreshingAndEndsThePanelAfterStop) {
    Sim::SetTick(100000);
    INT_PTR result = Run([&] {
        Sim::Command(IDC_START);
        Sim::Command(IDCANCEL);
        Sim::Command(IDOK);
        EXPECT_FALSE(Sim::DialogEnded());
        ExpectRefreshing(200);

        Sim::Command(IDC_STOP);
        ExpectIdle();
        unsigned paints = Sim::Paints(Guest);
        Sim::SendToDialog(WM_TIMER, REFRESH_TIMER_ID, 0); // a tick still queued after Stop
        EXPECT_EQ(Sim::Paints(Guest), paints);

        Sim::Command(IDOK);
        EXPECT_FALSE(Sim::DialogEnded());
        Sim::Command(IDCANCEL);
        EXPECT_TRUE(Sim::DialogEnded());
    });
    EXPECT_EQ(result, 1);
}

TEST_F(Panel, StartCanBeRepeatedAfterStopWithFreshSettings) {
    HWND other = Sim::CreateWindow(nullptr, "Other - VMware Workstation", "VMUIFrame", Screen);
    HWND otherGuest = Sim::CreateWindow(other, "", "VMWare.GuestWindow", Screen);
    Sim::SetTick(100000);
    Run([&] {
        Sim::Command(IDC_START);
        Sim::FireTimers();
        Sim::Command(IDC_STOP);
        Type(IDC_TITLE_TEMPLATE, "Other*");
        Type(IDC_INTERVAL, "500");
        Sim::Command(IDC_START);
        ExpectRefreshing(500);
        EXPECT_EQ(Refresh.TargetWindow, other);
        Sim::FireTimers();
        EXPECT_EQ(Sim::Paints(otherGuest), 1u);
        EXPECT_EQ(Sim::Paints(Guest), 1u);
        Sim::Command(IDC_STOP);
        Sim::Command(IDCANCEL);
    });
}

TEST_F(Panel, AStartThatArrivesWhileRefreshingChangesNothing) {
    Sim::SetTick(100000);
    Run([&] {
        Sim::Command(IDC_START);
        Sim::FireTimers();
        RefreshState before = Refresh;
        Type(IDC_TITLE_TEMPLATE, "");
        Sim::Command(IDC_START);
        EXPECT_TRUE(Sim::Boxes().empty());
        EXPECT_EQ(memcmp(&before, &Refresh, sizeof before), 0);
        ExpectRefreshing(200);
        Sim::Command(IDC_STOP);
        Sim::Command(IDCANCEL);
    });
}

} // namespace
