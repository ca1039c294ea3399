// MatchTitleTemplate against the backtracking search it replaces, on every short pair over a
// small alphabet and on millions of seeded random longer pairs.
#include "engine/title_template.h"
#include "platform/sim_control.h"
#include "tests/title_template_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

// Both wildcards, a letter in both cases, and an accented letter in both cases (Windows-1252
// 0xE9/0xC9) so that bytes above 127 are compared case-insensitively too.
const char ALPHABET[] = {'*', '?', 'a', 'A', '\xe9', '\xc9'};

std::string Show(const std::string& text) {
    std::string shown;
    for (char ch : text) {
        unsigned char byte = (unsigned char)ch;
        if (byte >= 0x20 && byte < 0x7f) {
            shown += ch;
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", byte);
            shown += hex;
        }
    }
    return "'" + shown + "'";
}

// What one worker saw: disagreements (only the first few described, so that a broken matcher
// stays readable), answers and pairs the reference gave up on.
struct Tally {
    unsigned Disagreements = 0;
    std::string First;
    unsigned Matches = 0;
    unsigned Skipped = 0;

    void Check(const std::string& titleTemplate, const std::string& title,
               ReferenceResult expected) {
        if (expected == ReferenceResult::OverBudget) {
            ++Skipped;
            return;
        }
        bool match = expected == ReferenceResult::Match;
        Matches += match;
        if (MatchTitleTemplate(titleTemplate.c_str(), title.c_str()) == match) {
            return;
        }
        if (++Disagreements <= 10) {
            First += "template " + Show(titleTemplate) + " title " + Show(title) + ": expected " +
                     (match ? "match" : "no match") + "\n";
        }
    }

    void Add(const Tally& other) {
        Disagreements += other.Disagreements;
        First += other.First;
        Matches += other.Matches;
        Skipped += other.Skipped;
    }
};

// Runs work(index, tally) for every index below count on all cores: the sanitized build is slow
// and the pairs are many. Which worker takes an index does not change what is checked.
template <typename Work> Tally InParallel(unsigned count, Work work) {
    std::atomic<unsigned> nextIndex{0};
    unsigned workers = std::max(1u, std::thread::hardware_concurrency());
    std::vector<Tally> tallies(workers);
    std::vector<std::thread> threads;
    for (unsigned w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            Tally mine; // kept off the shared vector until the end: no false sharing
            for (unsigned index; (index = nextIndex++) < count;) {
                work(index, mine);
            }
            tallies[w] = mine;
        });
    }
    Tally total;
    for (unsigned w = 0; w < workers; ++w) {
        threads[w].join();
        total.Add(tallies[w]);
    }
    return total;
}

std::vector<std::string> AllStrings(unsigned maxLength) {
    std::vector<std::string> all{""};
    for (size_t from = 0; all[from].size() < maxLength; ++from) {
        for (char ch : ALPHABET) {
            all.push_back(all[from] + ch);
        }
    }
    return all;
}

TEST(TitleTemplateDifferential, AgreesOnEveryPairUpToFiveCharacters) {
    const std::vector<std::string> all = AllStrings(5);
    Tally tally = InParallel((unsigned)all.size(), [&](unsigned index, Tally& mine) {
        for (const std::string& title : all) {
            mine.Check(all[index], title,
                       MatchTitleTemplateReference(all[index].c_str(), title.c_str(), ~0ull));
        }
    });
    EXPECT_EQ(tally.Disagreements, 0u) << tally.First;
    EXPECT_EQ(tally.Skipped, 0u);
    EXPECT_GT(tally.Matches, all.size()); // matches are exercised, not only failures
}

// Random pairs over a wider alphabet. Half the titles are grown from their template (stars
// filled with runs, letters recased) and then perhaps damaged, so that both answers are common.
class RandomPairs {
  public:
    explicit RandomPairs(unsigned seed) : Random(seed) {}

    std::string Template() {
        std::string text;
        size_t length = Below(48);
        unsigned starChance = 1 + Below(5); // in eight
        for (size_t i = 0; i < length; ++i) {
            unsigned roll = Below(8);
            text += roll < starChance ? '*' : roll == 7 ? '?' : Letter();
        }
        return text;
    }

    std::string Title(const std::string& titleTemplate) {
        std::string text;
        if (Below(2) == 0) {
            size_t length = Below(64);
            for (size_t i = 0; i < length; ++i) {
                text += Below(10) == 0 ? "*?"[Below(2)] : Letter();
            }
            return text;
        }
        char previous = 0;
        for (char ch : titleTemplate) {
            // After a star, a wildcard anchor lines up only with itself, literally.
            if (previous == '*' && (ch == '*' || ch == '?')) {
                text += ch;
            }
            if (ch == '*') {
                for (size_t run = Below(4); run > 0; --run) {
                    text += Letter();
                }
            } else if (ch == '?') {
                if (previous != '*') {
                    text += Letter();
                }
            } else {
                text += Recase(ch);
            }
            previous = ch;
        }
        if (Below(4) == 0 && !text.empty()) {
            text[Below((unsigned)text.size())] = Letter();
        }
        return text;
    }

  private:
    std::mt19937 Random;

    unsigned Below(unsigned bound) { return (unsigned)(Random() % bound); }

    char Letter() {
        static const char LETTERS[] = {'a', 'A',    'b',    'B',    ' ',
                                       '-', '\xe9', '\xc9', '\xff', '\x9f'};
        return LETTERS[Below(sizeof LETTERS)];
    }

    char Recase(char ch) {
        if (Below(2) == 0) {
            return ch;
        }
        switch (ch) {
        case 'a':
            return 'A';
        case 'A':
            return 'a';
        case 'b':
            return 'B';
        case 'B':
            return 'b';
        case '\xe9':
            return '\xc9';
        case '\xc9':
            return '\xe9';
        case '\xff':
            return '\x9f';
        case '\x9f':
            return '\xff';
        default:
            return ch;
        }
    }
};

TEST(TitleTemplateDifferential, AgreesOnMillionsOfRandomPairs) {
    // Seeded per block, so the pairs are the same however many workers share them.
    const unsigned BLOCKS = 200;
    const unsigned PAIRS_PER_BLOCK = 10000;
    const unsigned long long BUDGET = 20000;
    Tally tally = InParallel(BLOCKS, [&](unsigned block, Tally& mine) {
        RandomPairs pairs(20240605 + block);
        for (unsigned i = 0; i < PAIRS_PER_BLOCK; ++i) {
            std::string titleTemplate = pairs.Template();
            std::string title = pairs.Title(titleTemplate);
            mine.Check(titleTemplate, title,
                       MatchTitleTemplateReference(titleTemplate.c_str(), title.c_str(), BUDGET));
        }
    });
    const unsigned PAIRS = BLOCKS * PAIRS_PER_BLOCK;
    EXPECT_EQ(tally.Disagreements, 0u) << tally.First;
    EXPECT_LT(tally.Skipped, PAIRS / 100) << "too many pairs beyond the reference's budget";
    EXPECT_GT(tally.Matches, PAIRS / 4);
    EXPECT_LT(tally.Matches, PAIRS - PAIRS / 4);
    RecordProperty("skipped", (int)tally.Skipped);
    RecordProperty("matches", (int)tally.Matches);
}

TEST(TitleTemplateDifferential, AgreesOnLongTitlesWithFewStars) {
    std::string title;
    for (unsigned i = 0; i < 2000; ++i) {
        title += "ab-\xe9"[i % 4];
    }
    const char* templates[] = {"*",       "*-",   "*-\xc9", "*?",  "A*",   "*b*-*",
                               "*B?\xe9", "*-*c", "?*",     "*a*", "**-*", ""};
    Tally tally;
    for (const char* titleTemplate : templates) {
        for (size_t length : {title.size(), title.size() - 1, (size_t)255, (size_t)256}) {
            std::string cut = title.substr(0, length);
            tally.Check(titleTemplate, cut,
                        MatchTitleTemplateReference(titleTemplate, cut.c_str(), ~0ull));
        }
    }
    EXPECT_EQ(tally.Disagreements, 0u) << tally.First;
    EXPECT_GT(tally.Matches, 0u);
}

TEST(TitleTemplateDifferential, TakesTemplatesUpTo255CharactersAndRefusesLonger) {
    for (size_t length : {254, 255, 256, 300}) {
        std::string titleTemplate(length, '?');
        std::string title(length, 'x');
        EXPECT_EQ(MatchTitleTemplate(titleTemplate.c_str(), title.c_str()), length <= 255)
            << length;
        titleTemplate.back() = '*';
        EXPECT_EQ(MatchTitleTemplate(titleTemplate.c_str(), title.c_str()), length <= 255)
            << length;
    }
}

TEST(TitleTemplateDifferential, UpperCasesEachCharacterAtMostOnce) {
    struct Pair {
        const char* Template;
        const char* Title;
    };
    const Pair pairs[] = {
        {"*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab"},
        {"* - VMware Workstation", "Windows XP Professional - VMware Workstation"},
        {"*?*?*?", "?a?b?c?d"},
        {"\xe9*\xc9?", "\xc9\xe9\xe9\xc9x"},
        {"", "abc"},
        {"abc", ""},
    };
    for (const Pair& pair : pairs) {
        Sim::Reset();
        Sim::RecordCalls(true);
        MatchTitleTemplate(pair.Template, pair.Title);
        Sim::RecordCalls(false);
        // Every character handed to CharUpperA must be one more occurrence of a character of
        // the template or the title.
        unsigned left[256] = {};
        for (const char* text : {pair.Template, pair.Title}) {
            for (const char* at = text; *at; ++at) {
                left[(unsigned char)*at]++;
            }
        }
        for (const Sim::Call& call : Sim::Calls()) {
            if (call.Operation != Sim::Op::CharUpper) {
                continue;
            }
            ASSERT_LT(call.Arg, 256u);
            EXPECT_GT(left[call.Arg], 0u) << "template '" << pair.Template << "' title '"
                                          << pair.Title << "' character " << call.Arg;
            left[call.Arg] -= left[call.Arg] > 0;
        }
    }
    Sim::Reset();
}

TEST(TitleTemplateDifferential, AnswersPathologicalTemplatesQuickly) {
    std::string stars = "*a*a*a*a*a*a*a*a*a*a*a*a*b";
    std::string run(200, 'a');
    std::string alternating;
    for (unsigned i = 0; i < 127; ++i) {
        alternating += "*a";
    }
    struct Case {
        std::string Template;
        std::string Title;
        bool Expected;
    };
    const Case cases[] = {
        {stars, run, false},
        {stars, run + "b", true},
        {stars, run + "B", true},
        {stars, "b" + run, false},
        {alternating + "b", std::string(255, 'a'), false},
        {alternating, std::string(255, 'A'), true},
        {alternating, std::string(126, 'a'), false},
        {std::string(255, '*'), std::string(255, '*'), true},
        {std::string(254, '*') + "x", std::string(255, '*'), false},
    };
    for (const Case& c : cases) {
        auto start = std::chrono::steady_clock::now();
        bool matched = MatchTitleTemplate(c.Template.c_str(), c.Title.c_str());
        auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(matched, c.Expected) << Show(c.Template) << " " << Show(c.Title);
        EXPECT_LT(took, std::chrono::milliseconds(200)) << Show(c.Template);
    }
}

} // namespace
