// The title matcher on its hardest inputs, and the backtracking search it replaced on the same
// inputs for as long as that finishes within about a second.
#include "engine/title_template.h"
#include "tests/title_template_reference.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Pair {
    std::string Family; // the reference stops at the first pair of a family it cannot finish;
                        // a pair with no family stands alone
    std::string Name;
    std::string Template;
    std::string Title;
};

std::string Repeat(const std::string& piece, size_t times) {
    std::string text;
    for (size_t i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

std::vector<Pair> Pairs() {
    std::vector<Pair> pairs;
    // The search's worst case: every star can line up with every 'a', and the 'b' never comes.
    for (unsigned stars : {1, 2, 3, 4, 5, 6, 8, 12, 16, 32, 64, 126}) {
        pairs.push_back({"stars", "stars:" + std::to_string(stars + 1) + "/title:200",
                         Repeat("*a", stars) + "*b", std::string(200, 'a')});
    }
    for (size_t length : {255, 4096, 65536}) {
        std::string title = std::string(length - 21, 'x') + " - VMware Workstation";
        pairs.push_back({"long-default", "default-template/title:" + std::to_string(length),
                         "* - VMware Workstation", title});
        pairs.push_back({"long-stars", "stars:4/title:" + std::to_string(length), "*a*a*a*b",
                         std::string(length, 'a')});
    }
    const std::string a255(255, 'a');
    pairs.push_back({"", "255x255/all-stars", std::string(255, '*'), std::string(255, '*')});
    pairs.push_back({"", "255x255/all-stars-no-star-title", std::string(255, '*'), a255});
    pairs.push_back({"", "255x255/alternating", Repeat("*a", 127) + "b", a255});
    pairs.push_back({"", "255x255/alternating-match", Repeat("*a", 127) + "*", a255});
    pairs.push_back({"", "255x255/question-run", std::string(254, '?') + "b", a255});
    pairs.push_back(
        {"255", "255x255/star-question", Repeat("*?", 127) + "*", std::string(255, '?')});
    pairs.push_back({"", "255x255/literal-mismatch-at-end", std::string(254, 'a') + "b", a255});
    pairs.push_back({"", "255x255/literal-match", std::string(255, 'A'), a255});
    // Stars, '?' and letters in no pattern a branch predictor could learn.
    std::string mixed;
    unsigned seed = 12345;
    for (unsigned i = 0; i < 255; ++i) {
        seed = seed * 1103515245 + 12345;
        mixed += "*?aA"[(seed >> 16) % 4];
    }
    pairs.push_back({"", "255x255/mixed", mixed, a255});
    return pairs;
}

// How many steps the reference takes in about a second on this machine, from one timed run.
double ReferenceStepsPerSecond() {
    std::string titleTemplate = Repeat("*a", 3) + "*b";
    std::string title(200, 'a');
    unsigned long long steps = 0;
    auto start = std::chrono::steady_clock::now();
    MatchTitleTemplateReference(titleTemplate.c_str(), title.c_str(), ~0ull, &steps);
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return (double)steps / took.count();
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const unsigned long long SECOND = (unsigned long long)ReferenceStepsPerSecond();
    std::string givenUp;
    for (const Pair& pair : Pairs()) {
        benchmark::RegisterBenchmark(("Matcher/" + pair.Name).c_str(),
                                     [pair](benchmark::State& state) {
                                         for (auto _ : state) {
                                             benchmark::DoNotOptimize(MatchTitleTemplate(
                                                 pair.Template.c_str(), pair.Title.c_str()));
                                         }
                                     })
            ->Unit(benchmark::kMicrosecond);

        if (!pair.Family.empty() && givenUp.find("/" + pair.Family + "/") != std::string::npos) {
            continue;
        }
        ReferenceResult answer =
            MatchTitleTemplateReference(pair.Template.c_str(), pair.Title.c_str(), SECOND);
        if (answer == ReferenceResult::OverBudget) {
            givenUp += "/" + pair.Family + "/";
            fprintf(stderr, "reference: %s needs more than a second%s\n", pair.Name.c_str(),
                    pair.Family.empty() ? "" : "; larger pairs of its family skipped");
            continue;
        }
        if (MatchTitleTemplate(pair.Template.c_str(), pair.Title.c_str()) !=
            (answer == ReferenceResult::Match)) {
            fprintf(stderr, "%s: the matcher and the reference disagree\n", pair.Name.c_str());
            return 1;
        }
        benchmark::RegisterBenchmark(("Reference/" + pair.Name).c_str(),
                                     [pair](benchmark::State& state) {
                                         for (auto _ : state) {
                                             benchmark::DoNotOptimize(MatchTitleTemplateReference(
                                                 pair.Template.c_str(), pair.Title.c_str(), ~0ull));
                                         }
                                     })
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
