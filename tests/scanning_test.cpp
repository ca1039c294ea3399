#include "support/scanning.h"

#include <gtest/gtest.h>

namespace {

struct ParseCase {
    const char* Text;
    DWORD Base;
    DWORD Value;
    int Taken;
};

const ParseCase ParseCases[] = {
    {"200", 10, 200, 3},
    {"200ms", 10, 200, 3},
    {"12a", 10, 12, 2},
    {"1 2", 10, 1, 1},
    {"", 10, 0, 0},
    {"abc", 10, 0, 0},
    {" 200", 10, 0, 0},
    {"-5", 10, 0, 0},
    {"+5", 10, 0, 0},
    {"0050", 10, 50, 4},
    {"0x10", 10, 0, 1},
    {"2147483647", 10, 2147483647u, 10},
    {"2147483648", 10, 214748364u, 9},
    {"2147483649", 10, 214748364u, 9},
    {"2147483650", 10, 2147483650u, 10},
    {"21474836470", 10, 2147483647u, 10},
    {"4294967295", 10, 4294967295u, 10},
    {"4294967296", 10, 0, 10},
    {"4294967299", 10, 3, 10},
    {"4294967300", 10, 429496730u, 9},
    {"99999999999", 10, 999999999u, 9},
    {"\xb5"
     "5",
     10, 0, 0},
    {"ff", 16, 255, 2},
    {"FFz", 16, 255, 2},
    {"10", 16, 16, 2},
    {"100000000", 16, 0x10000000u, 8},
    {"7fffffff", 16, 0x7fffffffu, 8},
    {"80000000", 16, 0x80000000u, 8},
    {"zZ", 36, 35 * 36 + 35, 2},
    {"101", 2, 5, 3},
    {"12", 2, 1, 1},
};

TEST(ParseUnsigned, AgreesWithTheTable) {
    for (const ParseCase& c : ParseCases) {
        const char* end = nullptr;
        DWORD value = ParseUnsigned(c.Text, &end, c.Base);
        EXPECT_EQ(value, c.Value) << "'" << c.Text << "' base " << c.Base;
        EXPECT_EQ(end - c.Text, c.Taken) << "'" << c.Text << "' base " << c.Base;
        EXPECT_EQ(ParseUnsigned(c.Text, nullptr, c.Base), c.Value) << "'" << c.Text << "' no end";
    }
}

TEST(IsBlank, HoldsForTabAndSpaceOnly) {
    int blanks = 0;
    for (int ch = 0; ch < 256; ++ch) {
        if (IsBlank((char)ch)) {
            ++blanks;
            EXPECT_TRUE(ch == 0x09 || ch == 0x20) << ch;
        }
    }
    EXPECT_EQ(blanks, 2);
}

TEST(SkipBlanks, StopsAtTheFirstOtherCharacter) {
    const char mixed[] = " \t x";
    EXPECT_EQ(SkipBlanks(mixed), mixed + 3);
    const char spaces[] = "   ";
    EXPECT_EQ(SkipBlanks(spaces), spaces + 3);
    const char none[] = "x ";
    EXPECT_EQ(SkipBlanks(none), none);
    const char newline[] = "\n";
    EXPECT_EQ(SkipBlanks(newline), newline);
}

} // namespace
