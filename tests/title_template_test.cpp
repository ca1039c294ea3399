#include "engine/title_template.h"

#include <gtest/gtest.h>

namespace {

struct MatchCase {
    const char* Template;
    const char* Title;
    bool Expected;
};

const MatchCase MatchCases[] = {
    {"", "", true},
    {"", "a", false},
    {"*", "", true},
    {"*", "anything at all", true},
    {"?", "x", true},
    {"?", "", false},
    {"?", "xy", false},
    {"??", "a", false},
    {"a?", "a", false},
    {"* - VMware Workstation", "Windows XP Professional - VMware Workstation", true},
    {"* - VMware Workstation", "win - vmware workstation", true},
    {"* - VMware Workstation", " - VMware Workstation", true},
    {"* - VMware Workstation", "VMware Workstation", false},
    {"* - VMware Workstation", "x - VMware Workstation ", false},
    {"a*", "a", true},
    {"*a", "a", true},
    {"*a", "ba", true},
    {"*a", "ab", false},
    {"*ab", "aab", true},
    {"a*c", "abcbc", true},
    {"a*c", "abcb", false},
    {"*b*", "abc", true},
    {"*x*x", "axbx", true},
    {"*-*", "x-y", true},
    {"A?C", "abc", true},
    {"ab", "abc", false},
    {"abc", "ab", false},
    // The anchor after a star is compared literally, even when it is a wildcard.
    {"*?", "?", true},
    {"*?", "a?", true},
    {"*?", "x?", true},
    {"*?", "x", false},
    {"*?", "?a", false},
    {"*?b", "a?b", true},
    {"*?b", "axb", false},
    {"**", "*", true},
    {"**", "a*", true},
    {"**", "ab", false},
    {"**", "", false},
    {"a**", "a", false},
    {"?*", "a", true},
    {"?*", "", false},
    // A star followed by more template never lines up with the title's end; a trailing one does.
    {"a*b*", "ab", true},
    {"*a*", "a", true},
    {"a*?", "a", false},
    {"ab*?", "ab", false},
    // Upper-casing follows Windows-1252: accented letters and the 0x9A/0xFF pairs.
    {"\xe9t\xe9", "\xc9T\xc9", true},
    {"\x9a\xff", "\x8a\x9f", true},
    {"\xf7", "\xd7", false},
    {"\xdf", "SS", false},
};

TEST(MatchTitleTemplate, AgreesWithTheTable) {
    for (const MatchCase& c : MatchCases) {
        EXPECT_EQ(MatchTitleTemplate(c.Template, c.Title), c.Expected)
            << "template '" << c.Template << "' title '" << c.Title << "'";
    }
}

TEST(MatchTitleTemplate, IsSymmetricInCaseOnEitherSide) {
    for (const MatchCase& c : MatchCases) {
        std::string upper = c.Title;
        for (char& ch : upper) {
            if (ch >= 'a' && ch <= 'z') {
                ch = (char)(ch - 'a' + 'A');
            }
        }
        EXPECT_EQ(MatchTitleTemplate(c.Template, upper.c_str()), c.Expected)
            << "template '" << c.Template << "' title '" << upper << "'";
    }
}

} // namespace
