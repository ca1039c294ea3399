// Splitting a Windows command line into arguments, by the rules the Microsoft C runtime follows,
// so that a template with blanks or quotes in it reaches the inspector as the user typed it.
#pragma once

#include "engine/refresh_engine.h"

enum : unsigned {
    // The inspector takes two arguments; a third is kept only to tell that there are too many.
    ARGUMENTS_KEPT = 3,
    // Like the panel's fields, an argument is cut to 255 characters.
    ARGUMENT_TEXT_MAX = TITLE_TEXT_MAX,
};

struct CommandLine {
    unsigned Count; // every argument after the program name, kept or not
    char Arguments[ARGUMENTS_KEPT][ARGUMENT_TEXT_MAX];
};

// The program name ends at the first blank outside quotes; a quote anywhere in it opens or closes
// a quoted part, and backslashes mean nothing in it. After it, arguments are separated by blanks
// and tabs outside quotes. A quote opens or closes a quoted part and is dropped; inside a quoted
// part, two quotes give one. Backslashes are taken as they are, except right before a quote: 2n of
// them give n and the quote acts as above, 2n + 1 give n and a quote that is part of the argument.
void ParseCommandLine(const char* line, CommandLine& out);
