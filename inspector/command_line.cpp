#include "inspector/command_line.h"

#include "support/scanning.h"

static const char* SkipProgramName(const char* at) {
    bool quoted = false;
    for (; *at && (quoted || !IsBlank(*at)); ++at) {
        if (*at == '"') {
            quoted = !quoted;
        }
    }
    return at;
}

void ParseCommandLine(const char* line, CommandLine& out) {
    out.Count = 0;
    const char* at = SkipProgramName(line);
    for (;;) {
        at = SkipBlanks(at);
        if (!*at) {
            return;
        }
        // Characters of an argument past those kept, or of arguments past the third, are read
        // all the same, to find where the next argument starts.
        char* text = out.Count < ARGUMENTS_KEPT ? out.Arguments[out.Count] : nullptr;
        unsigned length = 0;
        auto put = [&](char ch) {
            if (text && length + 1 < ARGUMENT_TEXT_MAX) {
                text[length++] = ch;
            }
        };
        bool quoted = false;
        while (*at && (quoted || !IsBlank(*at))) {
            if (*at == '\\') {
                unsigned backslashes = 0;
                for (; *at == '\\'; ++at) {
                    ++backslashes;
                }
                if (*at != '"') {
                    for (; backslashes > 0; --backslashes) {
                        put('\\');
                    }
                    continue;
                }
                for (unsigned i = 0; i < backslashes / 2; ++i) {
                    put('\\');
                }
                if (backslashes % 2) {
                    put('"');
                    ++at;
                    continue;
                }
            }
            if (*at == '"') {
                if (quoted && at[1] == '"') {
                    put('"');
                    at += 2;
                    continue;
                }
                quoted = !quoted;
                ++at;
                continue;
            }
            put(*at++);
        }
        if (text) {
            text[length] = 0;
        }
        ++out.Count;
    }
}
