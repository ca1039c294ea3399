// What Quorvel would do, started now with a given template and class: which window it takes for
// the console, and what becomes of each window of the class inside it. It runs the engine's own
// console search, guest searches and repaint rule, and only reads windows: it never invalidates,
// repaints or sends a message to another program's window.
#pragma once

#include "platform/platform.h"

enum : int {
    INSPECT_SERVED = 0,      // at least one window is repainted on every tick
    INSPECT_NONE_SERVED = 1, // the console is found, but no window would be repainted every tick
    INSPECT_NO_CONSOLE = 2,  // no top-level title fits the template
    INSPECT_USAGE = 3,       // the command line asks for the usage text or is wrong
};

enum : unsigned {
    // A list stops after this many lines and says how many it left out; the counts below it
    // still cover every window.
    LISTED_LINES_MAX = 300,
    // Enough for any line the report makes: wvsprintfA writes at most 1024 characters.
    REPORT_LINE_MAX = 1025,
};

// Takes the report one line at a time, without a line end.
typedef void (*ReportLine)(const char* line);

// Writes the report and returns the exit code. Leaves RefreshState as the second guest search
// left it; Running stays false.
int Inspect(const char* titleTemplate, const char* guestClass, ReportLine report);
