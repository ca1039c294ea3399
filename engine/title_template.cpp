#include "engine/title_template.h"

#include "platform/platform.h"

static bool SameLetter(char a, char b) {
    return UpperChar((unsigned char)a) == UpperChar((unsigned char)b);
}

bool MatchTitleTemplate(const char* titleTemplate, const char* title) {
    const char* p = titleTemplate;
    const char* t = title;
    for (;;) {
        if (*p == 0 && *t == 0) {
            return true;
        }
        if (*p == '*') {
            ++p;
            if (*p == 0) {
                return true; // a trailing star takes the rest, even nothing
            }
            if (*t == 0) {
                return false;
            }
            // The character after the star is the anchor, compared literally even when it is
            // itself a wildcard; the title's end is never tried as a position.
            for (; *t; ++t) {
                if (SameLetter(*p, *t) && MatchTitleTemplate(p, t)) {
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
            return false; // the template's NUL counts as a literal against a title character
        }
        ++p;
        ++t;
    }
}
