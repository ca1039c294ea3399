#include "engine/title_template.h"

#include "platform/platform.h"

// The panel's template buffer holds 256 bytes; a longer template never comes from it.
enum : unsigned { TEMPLATE_LENGTH_MAX = 255 };

// Fits(p, t) below is whether the template from p fits the title from t, exactly as a
// backtracking search that ties every '*' to the character after it (its anchor) would decide.
// Memoising it column by column, from the title's end backwards, costs one pass per title
// character and keeps only two columns and the upper-cased template: under 1 KiB of stack, no
// probe, no heap, whatever the number of stars.
//
// Characters are upper-cased once each rather than at every comparison; CharUpperA is
// deterministic, so the answers are the same. No code page upper-cases a character to NUL, so
// either string's NUL never equals the other's characters and is never upper-cased.
bool MatchTitleTemplate(const char* titleTemplate, const char* title) {
    unsigned length = 0;
    unsigned char upperTemplate[TEMPLATE_LENGTH_MAX];
    for (; titleTemplate[length] != 0; ++length) {
        if (length == TEMPLATE_LENGTH_MAX) {
            return false; // too long to be the user's: refuse rather than overrun
        }
        upperTemplate[length] = UpperChar((unsigned char)titleTemplate[length]);
    }

    const char* end = title;
    while (*end != 0) {
        ++end;
    }

    // here[p] = Fits(p, t); next[p] = Fits(p, t + 1), read only while a title character is left.
    bool columns[2][TEMPLATE_LENGTH_MAX + 1];
    bool* here = columns[0];
    bool* next = columns[1];
    for (const char* t = end;; --t) {
        bool left = t != end;
        unsigned char ch = left ? UpperChar((unsigned char)*t) : 0;
        // Fits(p + 1, t) and whether the template character at p + 1 equals ch, carried from
        // the step before rather than read back from memory: many stars make one long chain.
        bool fitsAfter = !left; // the template's NUL is a literal against what is left
        bool sameAfter = false;
        here[length] = fitsAfter;
        for (unsigned p = length; p-- > 0;) {
            bool same = upperTemplate[p] == ch;
            bool fits;
            if (titleTemplate[p] == '*') {
                // A trailing star takes anything. Otherwise the anchor must equal some title
                // character from t on, literally even when it is a wildcard, and the rest of
                // the template from the anchor must fit from there; the title's end is never
                // a candidate. Trying t, then everything after t, is Fits(p, t + 1).
                fits = p + 1 == length || (left && ((sameAfter && fitsAfter) || next[p]));
            } else {
                fits = left && (same || titleTemplate[p] == '?') && next[p + 1];
            }
            here[p] = fits;
            fitsAfter = fits;
            sameAfter = same;
        }
        if (t == title) {
            return here[0];
        }
        bool* done = here;
        here = next;
        next = done;
    }
}
