// The inspector's command-line split and the cut of a huge window tree. Everything else it
// reports is checked end to end against a real window manager.
#include "engine/refresh_engine.h"
#include "inspector/command_line.h"
#include "inspector/inspection.h"
#include "platform/sim_control.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct SplitCase {
    const char* Line;
    std::vector<std::string> Arguments;
};

// Program names, blanks, quotes and backslashes as the Microsoft C runtime splits them.
const SplitCase SplitCases[] = {
    {"quorvel-inspect.exe", {}},
    {"quorvel-inspect.exe   \t ", {}},
    {"q.exe a\t\tb  ", {"a", "b"}},
    {"\"C:\\Program Files\\Quorvel\\quorvel-inspect.exe\" a b", {"a", "b"}},
    // In the program name every quote opens or closes, backslash or not.
    {"\"C:\\dir\\\"x y", {"y"}},
    {"C:\\q\\x.exe\"a b\" c", {"c"}},
    {"q.exe \"* - VMware Player\" MKSEmbedded", {"* - VMware Player", "MKSEmbedded"}},
    {"q.exe a\"b c\"d e", {"ab cd", "e"}},
    {"q.exe \"\" VMWare.GuestWindow", {"", "VMWare.GuestWindow"}},
    {"q.exe \"unclosed text", {"unclosed text"}},
    {"q.exe C:\\a\\\\b\\", {"C:\\a\\\\b\\"}},
    {"q.exe a\\\\\"b c\"", {"a\\b c"}},
    {"q.exe a\\\\\\\"b", {"a\\\"b"}},
    {"q.exe a\\\\\\\\\"b\"", {"a\\\\b"}},
    {"q.exe \"a\"\"b\" c", {"a\"b", "c"}},
    {"q.exe \"a\"\"\" c", {"a\"", "c"}},
    {"q.exe \\\"*\\\"", {"\"*\""}},
};

TEST(InspectorCommandLine, SplitsAsTheCRuntimeDoes) {
    for (const SplitCase& c : SplitCases) {
        CommandLine parsed;
        ParseCommandLine(c.Line, parsed);
        std::vector<std::string> got;
        for (unsigned i = 0; i < parsed.Count; ++i) {
            got.push_back(parsed.Arguments[i]);
        }
        EXPECT_EQ(got, c.Arguments) << "command line: " << c.Line;
    }
}

TEST(InspectorCommandLine, CountsEveryArgumentAndCutsLongOnes) {
    const std::string longArgument(300, 'x');
    const std::string line = "q.exe \"" + longArgument + "\" b c \"d e\" f";
    CommandLine parsed;
    ParseCommandLine(line.c_str(), parsed);
    EXPECT_EQ(parsed.Count, 5u);
    EXPECT_EQ(std::string(parsed.Arguments[0]), longArgument.substr(0, ARGUMENT_TEXT_MAX - 1));
    EXPECT_STREQ(parsed.Arguments[1], "b");
    EXPECT_STREQ(parsed.Arguments[2], "c");
}

std::vector<std::string> Lines;

void Collect(const char* line) {
    Lines.push_back(line);
}

size_t IndexOf(const std::string& prefix) {
    for (size_t i = 0; i < Lines.size(); ++i) {
        if (Lines[i].rfind(prefix, 0) == 0) {
            return i;
        }
    }
    return Lines.size();
}

// A console whose guest windows come after hundreds of others: the list stops, the counts and
// the verdict still cover the windows it left out.
TEST(InspectorReport, HugeTreeIsCutButEveryWindowCounted) {
    Sim::Reset();
    Lines.clear();
    const RECT screen = {0, 0, 800, 600};
    const RECT guest = {10, 10, 330, 250};
    HWND console = Sim::CreateWindow(nullptr, "VM - VMware Workstation", "VMUIFrame", screen);
    HWND holder = Sim::CreateWindow(console, "", "Holder", screen);
    const unsigned clutter = 400;
    for (unsigned i = 0; i < clutter; ++i) {
        Sim::CreateWindow(holder, "", "Clutter", RECT{0, 0, 1, 1}, false);
    }
    for (int i = 0; i < 12; ++i) {
        Sim::CreateWindow(holder, "", "VMWare.GuestWindow", guest, i != 11);
    }

    EXPECT_EQ(Inspect("* - VMware Workstation", "VMWare.GuestWindow", Collect), INSPECT_SERVED);

    const size_t tree = IndexOf("Inside the console ");
    const size_t cut = IndexOf("  ... and ");
    ASSERT_LT(tree, cut);
    ASSERT_LT(cut, Lines.size());
    EXPECT_EQ(cut - tree - 1, (size_t)LISTED_LINES_MAX);
    const unsigned total = 1 + clutter + 12;
    EXPECT_EQ(Lines[cut],
              "  ... and " + std::to_string(total - LISTED_LINES_MAX) + " more, not listed");
    EXPECT_EQ(Lines[cut + 1], std::to_string(total) + " windows below the console.");
    EXPECT_NE(IndexOf("Windows of the class: 12: 10 served, 0 first second only, 1 hidden, 0 no "
                      "size, 1 beyond ten."),
              Lines.size());
    EXPECT_EQ(Lines.back(), "Verdict: Quorvel would repaint 10 windows on every tick.");
    Sim::Reset();
}

} // namespace
