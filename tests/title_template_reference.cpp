#include "tests/title_template_reference.h"

#include "platform/platform.h"

namespace {

struct Search {
    unsigned long long StepsLeft;
    bool GaveUp;

    bool Step() {
        if (StepsLeft == 0) {
            GaveUp = true;
            return false;
        }
        --StepsLeft;
        return true;
    }
};

// Upper-cases both characters at every comparison, as the search always did.
bool SameLetter(char a, char b) {
    return UpperChar((unsigned char)a) == UpperChar((unsigned char)b);
}

bool Match(const char* p, const char* t, Search& search) {
    for (;;) {
        if (!search.Step()) {
            return false;
        }
        if (*p == 0 && *t == 0) {
            return true;
        }
        if (*p == '*') {
            ++p;
            if (*p == 0) {
                return true;
            }
            if (*t == 0) {
                return false;
            }
            for (; *t; ++t) {
                if (!search.Step()) {
                    return false;
                }
                if (SameLetter(*p, *t) && Match(p, t, search)) {
                    return true;
                }
            }
            return false;
        }
        if (*p == '?') {
            if (*t == 0) {
                return false;
            }
        } else if (!SameLetter(*p, *t)) {
            return false;
        }
        ++p;
        ++t;
    }
}

} // namespace

ReferenceResult MatchTitleTemplateReference(const char* titleTemplate, const char* title,
                                            unsigned long long budget, unsigned long long* steps) {
    Search search{budget, false};
    bool matched = Match(titleTemplate, title, search);
    if (steps) {
        *steps = budget - search.StepsLeft;
    }
    if (search.GaveUp) {
        return ReferenceResult::OverBudget;
    }
    return matched ? ReferenceResult::Match : ReferenceResult::NoMatch;
}
