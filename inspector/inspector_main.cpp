// quorvel-inspect.exe: a console program that reports what Quorvel would do with a template and a
// class, here and now. Its own entry point, no language runtime, like quorvel.exe.
#include "inspector/command_line.h"
#include "inspector/inspection.h"

static const char DEFAULT_TEMPLATE[] = "* - VMware Workstation";
static const char DEFAULT_CLASS[] = "VMWare.GuestWindow";

static const char USAGE[] =
    "Usage: quorvel-inspect [TEMPLATE [CLASS]]\r\n"
    "\r\n"
    "Shows what Quorvel would do, here and now, with the console title template TEMPLATE\r\n"
    "(default \"* - VMware Workstation\") and the guest window class CLASS (default\r\n"
    "\"VMWare.GuestWindow\"): which window it takes for the console, and what becomes of each\r\n"
    "window of the class inside it. It only looks: it repaints nothing and sends no window a\r\n"
    "message. Put a template with blanks in quotes, as in:\r\n"
    "  quorvel-inspect \"* - VMware Player\" MKSEmbedded\r\n"
    "\r\n"
    "The state of each window of the class:\r\n"
    "  served             repainted on every tick\r\n"
    "  first second only  repainted only in the first second: later searches look only inside\r\n"
    "                     the window that holds the first window of the class found\r\n"
    "  hidden             not repainted: it, or a window that holds it, is hidden\r\n"
    "  no size            not repainted: it has no width or no height\r\n"
    "  beyond ten         not repainted: ten windows of the class come before it\r\n"
    "\r\n"
    "Exit code: 0 when Quorvel would repaint at least one window on every tick, 1 when the\r\n"
    "console is found but no window would be, 2 when no title fits the template, 3 when this\r\n"
    "text is shown.\r\n";

static HANDLE Output;

static void Write(const char* text) {
    DWORD written = 0;
    WriteFile(Output, text, (DWORD)lstrlenA(text), &written, nullptr);
}

static void WriteLine(const char* line) {
    Write(line);
    Write("\r\n");
}

static bool IsHelp(const char* argument) {
    return lstrcmpA(argument, "/?") == 0 || lstrcmpA(argument, "-h") == 0 ||
           lstrcmpA(argument, "-?") == 0 || lstrcmpA(argument, "/h") == 0 ||
           lstrcmpA(argument, "--help") == 0;
}

static int Run(const CommandLine& arguments) {
    if (arguments.Count > 2) {
        WriteLine("quorvel-inspect takes at most two arguments: put a template with blanks in "
                  "quotes.");
        WriteLine("");
        Write(USAGE);
        return INSPECT_USAGE;
    }
    if (arguments.Count > 0 && IsHelp(arguments.Arguments[0])) {
        Write(USAGE);
        return INSPECT_USAGE;
    }
    const char* titleTemplate = arguments.Count > 0 ? arguments.Arguments[0] : DEFAULT_TEMPLATE;
    const char* guestClass = arguments.Count > 1 ? arguments.Arguments[1] : DEFAULT_CLASS;
    if (!titleTemplate[0]) {
        // The panel's own message for an empty template.
        WriteLine("Template must be specified");
        return INSPECT_USAGE;
    }
    return Inspect(titleTemplate, guestClass, WriteLine);
}

// Started by a double-click, the program has a console window of its own, which closes with it:
// it then waits for Enter so that the report can be read. In a command prompt the console is
// shared with the prompt, and a redirected program has none to keep open.
static void WaitIfConsoleIsOwn() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    DWORD processes[2];
    if (!GetConsoleMode(input, &mode) || !GetConsoleMode(Output, &mode) ||
        GetConsoleProcessList(processes, 2) != 1) {
        return;
    }
    Write("\r\nPress Enter to close this window.");
    char typed[64];
    DWORD read = 0;
    // A line-mode console read returns once Enter is pressed.
    while (ReadFile(input, typed, sizeof typed, &read, nullptr) && read > 0) {
        if (typed[read - 1] == '\n') {
            break;
        }
    }
}

extern "C" void InspectorEntry() {
    Output = GetStdHandle(STD_OUTPUT_HANDLE);
    static CommandLine Arguments;
    ParseCommandLine(GetCommandLineA(), Arguments);
    int code = Run(Arguments);
    WaitIfConsoleIsOwn();
    ExitProcess((UINT)code);
}
