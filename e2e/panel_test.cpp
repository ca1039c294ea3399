// The panel as the user first meets it, its error boxes, and how it is started.
#include "e2e/fixture.h"

#include <cstdio>

namespace e2e {
namespace {

struct ControlRow {
    int Id;
    const char* Class;
    const char* Text;
    LONG TemplateStyle;
};

// Template order, which is also the order of the panel's child windows.
const ControlRow PANEL_CONTROLS[] = {
    {IDC_START, "Button", "Start", 0x50010001},
    {IDC_STOP, "Button", "Stop", 0x50010000},
    {IDC_GUEST_CLASS, "Edit", "VMWare.GuestWindow", 0x50810080},
    {0xFFFF, "Static", "Guest window class name", 0x50020000},
    {0xFFFF, "Static", "Refresh interval (ms)", 0x50020000},
    {IDC_INTERVAL, "ComboBox", "200", 0x50210002},
    {0xFFFF, "Static", "VMWare window name template", 0x50020000},
    {IDC_TITLE_TEMPLATE, "Edit", "* - VMware Workstation", 0x50810080},
};

// Style bits a control class changes on itself at creation. An edit control trades WS_BORDER for
// the WS_EX_CLIENTEDGE extended style (Windows and Wine alike); Wine's combo box hands WS_VSCROLL
// to its drop-down list and clears it on itself.
LONG PlatformAdjusted(const std::string& windowClass) {
    if (windowClass == "Edit") {
        return WS_BORDER;
    }
    return windowClass == "ComboBox" ? WS_VSCROLL : 0;
}

TEST_F(EndToEnd, PanelShowsTemplateControlsAndDefaults) {
    StartBoth("--guests 1 --branches 1");
    HWND panel = App.Ui.Window();
    char caption[64] = "";
    GetWindowTextA(panel, caption, sizeof caption);
    EXPECT_STREQ(caption, "Quorvel");

    HWND child = GetWindow(panel, GW_CHILD);
    for (const ControlRow& row : PANEL_CONTROLS) {
        SCOPED_TRACE(testing::Message() << "control " << row.Id << " \"" << row.Text << "\"");
        ASSERT_NE(child, nullptr) << "fewer controls than the template has";
        const std::string windowClass = ClassOf(child);
        EXPECT_EQ(GetDlgCtrlID(child), row.Id);
        EXPECT_EQ(windowClass, row.Class);
        EXPECT_EQ(WindowText(child), row.Text);
        const LONG style = GetWindowLongA(child, GWL_STYLE) & ~WS_DISABLED;
        const LONG adjusted = PlatformAdjusted(windowClass);
        EXPECT_EQ(style & ~adjusted, row.TemplateStyle & ~adjusted)
            << std::hex << "style 0x" << style;
        if (adjusted & WS_BORDER) {
            EXPECT_TRUE(GetWindowLongA(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
        }
        EXPECT_TRUE(IsWindowVisible(child));
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr) << "more controls than the template has";
    EXPECT_EQ(GetDlgItem(panel, 1003), nullptr);

    HWND interval = App.Ui.Item(IDC_INTERVAL);
    const char* choices[] = {"50", "100", "200", "300", "400", "500", "700", "1000"};
    bool answered = false;
    DWORD_PTR count = 0;
    answered = SendMessageTimeoutA(interval, CB_GETCOUNT, 0, 0, SMTO_BLOCK, 3000, &count) != 0;
    ASSERT_TRUE(answered);
    ASSERT_EQ(count, 8u);
    for (int i = 0; i < 8; ++i) {
        // Asked in UTF-16: Wine hands an ANSI CB_GETLBTEXT across processes one character long.
        wchar_t item[32] = L"";
        DWORD_PTR length = 0;
        SendMessageTimeoutW(interval, CB_GETLBTEXT, static_cast<WPARAM>(i),
                            reinterpret_cast<LPARAM>(item), SMTO_BLOCK, 3000, &length);
        char narrow[32] = "";
        WideCharToMultiByte(CP_ACP, 0, item, -1, narrow, sizeof narrow, nullptr, nullptr);
        EXPECT_STREQ(narrow, choices[i]) << "item " << i;
    }
    DWORD_PTR selected = 0;
    SendMessageTimeoutA(interval, CB_GETCURSEL, 0, 0, SMTO_BLOCK, 3000, &selected);
    EXPECT_EQ(selected, 2u);

    EXPECT_TRUE(App.Ui.Enabled(IDC_START));
    EXPECT_FALSE(App.Ui.Enabled(IDC_STOP));
    ExpectSettingsEnabled(true);
    CloseAndExpectExitZero();
}

struct RefusedStart {
    const char* Case;
    const char* Template;
    const char* Interval;
    const char* Message;
};

const RefusedStart REFUSED_STARTS[] = {
    {"empty template", "", "200", "Template must be specified"},
    {"empty template before a bad interval", "", "49", "Template must be specified"},
    {"no console has this title", "Nothing * like this", "200", "No VMware window found"},
    {"no console found before a bad interval", "Nothing * like this", "49",
     "No VMware window found"},
    {"interval 49", "* - VMware Workstation", "49", "Invalid interval given"},
    {"interval with a leading blank", "* - VMware Workstation", " 200", "Invalid interval given"},
    {"interval not a number", "* - VMware Workstation", "abc", "Invalid interval given"},
    {"empty interval", "* - VMware Workstation", "", "Invalid interval given"},
};

TEST_F(EndToEnd, RefusedStartsShowOneErrorBoxEach) {
    StartBoth("--guests 1 --branches 1");
    for (const RefusedStart& row : REFUSED_STARTS) {
        SCOPED_TRACE(row.Case);
        ASSERT_TRUE(App.Ui.SetText(IDC_TITLE_TEMPLATE, row.Template));
        ASSERT_TRUE(App.Ui.SetText(IDC_INTERVAL, row.Interval));
        const Counts before = Demo.Snapshot();
        ASSERT_TRUE(App.Ui.Click(IDC_START));

        HWND box = App.Ui.FindErrorBox(milliseconds(5000));
        ASSERT_NE(box, nullptr) << "no error box";
        const ErrorBox shown = ReadErrorBox(box);
        EXPECT_EQ(shown.Caption, "Quorvel");
        EXPECT_EQ(shown.Text, row.Message);
        EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr) << "the box has no owner";
        ASSERT_NE(shown.Icon, nullptr) << "no icon in the box";
        // The control draws itself for us: whatever covers it on the screen, it draws the same.
        Picture icon;
        double error = 0;
        WaitUntil(
            [&] {
                icon = DrawnBy(shown.Icon);
                return (error = IconLikeness(icon, IDI_HAND)) > 0.95;
            },
            milliseconds(3000));
        ASSERT_FALSE(icon.Pixels.empty()) << "the icon control could not be made to draw itself";
        EXPECT_GT(error, 0.95) << "the icon shown is not the error icon (drawn by " << icon.How
                               << ")";
        EXPECT_LT(IconLikeness(icon, IDI_EXCLAMATION), 0.8);
        EXPECT_LT(IconLikeness(icon, IDI_ASTERISK), 0.8);

        EXPECT_FALSE(App.Ui.Enabled(IDC_START)) << "Start enabled while the box is up";
        EXPECT_FALSE(App.Ui.Enabled(IDC_STOP));

        ASSERT_TRUE(PressOk(box));
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); }, milliseconds(5000)));
        EXPECT_TRUE(WaitUntil([&] { return App.Ui.Enabled(IDC_START); }, milliseconds(5000)))
            << "Start not enabled after OK";
        EXPECT_FALSE(App.Ui.Enabled(IDC_STOP));
        ExpectSettingsEnabled(true);
        EXPECT_EQ(App.Ui.Text(IDC_TITLE_TEMPLATE), row.Template) << "settings kept";
        EXPECT_EQ(App.Ui.Text(IDC_INTERVAL), row.Interval);

        // The box comes and goes over the desktop, and the window manager may repaint the
        // console for it; Quorvel must not.
        const Repaints quorvel = QuorvelRepaints(before, Demo.Snapshot(), 0);
        EXPECT_EQ(quorvel.Erase, 0) << "a refused Start erased the guest window";
        EXPECT_EQ(quorvel.Paint, 0) << "a refused Start repainted the guest window";
    }
    CloseAndExpectExitZero();
}

struct CommandLine {
    const char* Case;
    const char* Before; // around the program's path
    const char* After;
};

const CommandLine COMMAND_LINES[] = {
    {"quoted path with arguments", "\"", "\" --interval 50 /template x"},
    {"quoted path without arguments", "\"", "\""},
    {"plain path with arguments", "", " Stop \"* - other\" 1000"},
    {"plain path without arguments", "", ""},
    {"quoted path, arguments after a tab", "\"", "\"\t-x\ty"},
};

class CommandLines : public EndToEnd, public testing::WithParamInterface<CommandLine> {};

// Quorvel takes no arguments: however it is started, it shows the same panel and works the same.
TEST_P(CommandLines, PanelWorksTheSame) {
    const CommandLine& row = GetParam();
    ASSERT_TRUE(Demo.Start("--guests 2 --branches 1"));
    const std::string line = std::string(row.Before) + WindowsPath(Paths().Quorvel) + row.After;
    ASSERT_TRUE(App.Start(line)) << "no panel for: " << line;
    EXPECT_EQ(App.Ui.Text(IDC_TITLE_TEMPLATE), "* - VMware Workstation");
    EXPECT_EQ(App.Ui.Text(IDC_GUEST_CLASS), "VMWare.GuestWindow");
    EXPECT_EQ(App.Ui.Text(IDC_INTERVAL), "200");
    PressStart();
    EXPECT_TRUE(RepaintedAgain(0, 3, milliseconds(3000)));
    PressStop();
    CloseAndExpectExitZero();
}

INSTANTIATE_TEST_SUITE_P(E2E, CommandLines, testing::ValuesIn(COMMAND_LINES),
                         [](const testing::TestParamInfo<CommandLine>& param) {
                             return std::to_string(param.index);
                         });

} // namespace
} // namespace e2e
