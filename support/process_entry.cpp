#include "panel/panel.h"
#include "support/library.h"
#include "support/scanning.h"

int ProgramMain(const char*) {
    // Quorvel takes no arguments: the tail is accepted and ignored.
    static const LibraryInitializer NoInitializers[] = {nullptr};
    if (LibraryStartup(NoInitializers)) {
        DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PANEL), nullptr, PanelProc,
                        0);
    }
    LibraryShutdown();
    return 0;
}

const char* CommandTail(const char* line) {
    // A quoted program name ends at the closing quote, an unquoted one at the first space.
    char ending = ' ';
    if (*line == '"') {
        ++line;
        ending = '"';
    }
    while (*line && *line != ending) {
        ++line;
    }
    return *line ? SkipBlanks(line + 1) : line;
}

// The executable's entry point: no language runtime runs before or after it.
extern "C" void ProcessEntry() {
    ExitProcess((UINT)ProgramMain(CommandTail(GetCommandLineA())));
}
