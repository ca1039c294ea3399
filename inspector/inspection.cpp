#include "inspector/inspection.h"

#include "engine/refresh_engine.h"
#include "engine/title_template.h"

#include <stdarg.h>

// What becomes of a window of the guest class, in the order the summary counts them.
enum GuestState : BYTE {
    STATE_SERVED,
    STATE_FIRST_SECOND_ONLY,
    STATE_HIDDEN,
    STATE_NO_SIZE,
    STATE_BEYOND_TEN,
    STATE_COUNT,
};
// Texts rather than pointers to them: a table of pointers would need relocations in .rdata.
static const char StateWords[STATE_COUNT][18] = {"served", "first second only", "hidden", "no size",
                                                 "beyond ten"};

enum : unsigned {
    // Titles are cut so that a line of the console list fits an 80-column window.
    TITLE_SHOWN_MAX = 36,
    // Deeper windows are listed at this depth.
    DEPTH_MAX = 32,
    INDENT_LEVELS_MAX = 12,
    CLASSES_MAX = 64,
};

struct ClassCount {
    char Name[CLASS_NAME_MAX];
    DWORD Count;
};

// The walk's state: static, and set afresh by Inspect.
static ReportLine Report;
static char Line[REPORT_LINE_MAX];
static DWORD Listed;
static DWORD LeftOut;

static HWND FirstSearch[MAX_GUEST_WINDOWS];
static DWORD FirstCount;
static HWND LaterSearch[MAX_GUEST_WINDOWS];
static DWORD LaterCount;

static HWND Ancestors[DEPTH_MAX];
static DWORD Depth;
static DWORD Descendants;
static DWORD StateCounts[STATE_COUNT];
static DWORD GuestTotal;

static ClassCount Classes[CLASSES_MAX];
static DWORD ClassesFound;
static DWORD UncountedWindows; // of classes beyond CLASSES_MAX

// The last window met, until the next one shows whether it holds others, and the largest visible
// window that holds none. A console's guest display is usually the largest window in it, but the
// windows that hold it are larger still.
static HWND Previous;
static DWORD PreviousClass;
static DWORD PreviousArea;
static DWORD LargestClass;
static DWORD LargestArea;

static void Say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    wvsprintfA(Line, format, args);
    va_end(args);
    Report(Line);
}

// Counts a line of a list and says whether it is still shown.
static bool ListLine() {
    if (Listed < LISTED_LINES_MAX) {
        ++Listed;
        return true;
    }
    ++LeftOut;
    return false;
}

static void StartList() {
    Listed = 0;
    LeftOut = 0;
}

static void EndList() {
    if (LeftOut) {
        Say("  ... and %u more, not listed", (UINT)LeftOut);
    }
}

static UINT HandleValue(HWND window) {
    return (UINT)(UINT_PTR)window;
}

static void CopyText(char* to, const char* from, DWORD size) {
    DWORD i = 0;
    for (; from[i] && i + 1 < size; ++i) {
        to[i] = from[i];
    }
    to[i] = 0;
}

static void CutTitle(char* title) {
    if (lstrlenA(title) > (int)TITLE_SHOWN_MAX) {
        CopyText(title + TITLE_SHOWN_MAX - 3, "...", 4);
    }
}

static void ReadTitle(HWND window, char* title) {
    title[0] = 0;
    GetWindowTextA(window, title, TITLE_TEXT_MAX);
}

static void ReadClass(HWND window, char* name) {
    name[0] = 0;
    GetClassNameA(window, name, CLASS_NAME_MAX);
}

static BOOL CALLBACK ListFittingWindow(HWND window, LPARAM titleTemplate) {
    char title[TITLE_TEXT_MAX];
    ReadTitle(window, title);
    if (!MatchTitleTemplate((const char*)titleTemplate, title) || !ListLine()) {
        return TRUE;
    }
    char name[CLASS_NAME_MAX];
    ReadClass(window, name);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    CutTitle(title);
    Say("%c %08X %s pid %u %s \"%s\"", window == Refresh.TargetWindow ? '>' : ' ',
        HandleValue(window), name, (UINT)process, IsWindowVisible(window) ? "visible" : "hidden",
        title);
    return TRUE;
}

static BOOL CALLBACK ListVisibleTitle(HWND window, LPARAM) {
    char title[TITLE_TEXT_MAX];
    ReadTitle(window, title);
    if (title[0] && IsWindowVisible(window) && ListLine()) {
        Say("  %08X \"%s\"", HandleValue(window), title);
    }
    return TRUE;
}

static bool InTable(const HWND* table, DWORD count, HWND window) {
    for (DWORD i = 0; i < count; ++i) {
        if (table[i] == window) {
            return true;
        }
    }
    return false;
}

// The repaint pass's own rule first: it leaves such a window alone wherever it is in the table.
static GuestState StateOf(HWND window) {
    switch (CheckRepaint(window)) {
    case SKIP_NO_SIZE:
        return STATE_NO_SIZE;
    case SKIP_HIDDEN:
        return STATE_HIDDEN;
    default:
        break;
    }
    if (InTable(LaterSearch, LaterCount, window)) {
        return STATE_SERVED;
    }
    return InTable(FirstSearch, FirstCount, window) ? STATE_FIRST_SECOND_ONLY : STATE_BEYOND_TEN;
}

// The index of the class in Classes, added when new; CLASSES_MAX when the table is full.
static DWORD CountClass(const char* name) {
    DWORD i = 0;
    for (; i < ClassesFound; ++i) {
        if (lstrcmpA(Classes[i].Name, name) == 0) {
            break;
        }
    }
    if (i == ClassesFound) {
        if (ClassesFound == CLASSES_MAX) {
            ++UncountedWindows;
            return CLASSES_MAX;
        }
        CopyText(Classes[i].Name, name, CLASS_NAME_MAX);
        Classes[i].Count = 0;
        ++ClassesFound;
    }
    ++Classes[i].Count;
    return i;
}

// Called for each window once the next one shows whether it holds any.
static void WeighLeaf(bool holdsOthers) {
    if (Previous && !holdsOthers && PreviousClass < CLASSES_MAX && PreviousArea > LargestArea) {
        LargestArea = PreviousArea;
        LargestClass = PreviousClass;
    }
}

static BOOL CALLBACK VisitDescendant(HWND window, LPARAM) {
    HWND parent = GetParent(window);
    WeighLeaf(parent == Previous);
    // The walk is depth first, parents before children: the parent is on the stack of ancestors.
    while (Depth > 1 && Ancestors[Depth - 1] != parent) {
        --Depth;
    }
    DWORD depth = Depth;
    Ancestors[Depth < DEPTH_MAX ? Depth++ : (DWORD)DEPTH_MAX - 1] = window;
    ++Descendants;

    char name[CLASS_NAME_MAX];
    ReadClass(window, name);
    RECT rect = {0, 0, 0, 0};
    GetWindowRect(window, &rect);
    const LONG width = rect.right - rect.left;
    const LONG height = rect.bottom - rect.top;
    const bool visible = IsWindowVisible(window) != FALSE;
    Previous = window;
    PreviousClass = CountClass(name);
    PreviousArea = visible && width > 0 && height > 0 ? (DWORD)width * (DWORD)height : 0;

    const char* state = "";
    const char* stateEnd = "";
    if (HasGuestClass(window)) {
        GuestState guestState = StateOf(window);
        ++StateCounts[guestState];
        ++GuestTotal;
        state = StateWords[guestState];
        stateEnd = "]";
    }
    if (ListLine()) {
        static const char Indent[] = "                        ";
        DWORD levels = depth < INDENT_LEVELS_MAX ? depth : (DWORD)INDENT_LEVELS_MAX;
        Say("%s%08X %s %dx%d%s%s%s%s", Indent + sizeof Indent - 1 - 2 * levels, HandleValue(window),
            name, (int)width, (int)height, visible ? "" : " hidden", *stateEnd ? "  [" : "", state,
            stateEnd);
    }
    return TRUE;
}

static void ResetWalk(HWND console) {
    Ancestors[0] = console;
    Depth = 1;
    Descendants = 0;
    GuestTotal = 0;
    for (DWORD& count : StateCounts) {
        count = 0;
    }
    ClassesFound = 0;
    UncountedWindows = 0;
    Previous = nullptr;
    LargestClass = CLASSES_MAX;
    LargestArea = 0;
}

static void CopySearch(HWND* table, DWORD& count) {
    count = Refresh.GuestCount;
    for (DWORD i = 0; i < count; ++i) {
        table[i] = Refresh.GuestWindows[i];
    }
}

static void ReportClasses() {
    if (!Descendants) {
        Say("The console holds no windows: is it showing a virtual machine?");
        return;
    }
    Say("Classes below the console, with how many windows each, the class of the largest "
        "visible window first:");
    if (LargestClass < CLASSES_MAX) {
        Say("  %s %u", Classes[LargestClass].Name, (UINT)Classes[LargestClass].Count);
    }
    for (DWORD i = 0; i < ClassesFound; ++i) {
        if (i != LargestClass) {
            Say("  %s %u", Classes[i].Name, (UINT)Classes[i].Count);
        }
    }
    if (UncountedWindows) {
        Say("  %u more windows of other classes", (UINT)UncountedWindows);
    }
    if (LargestClass < CLASSES_MAX) {
        Say("The guest display is usually the largest window. Try this class in the panel: %s",
            Classes[LargestClass].Name);
    }
}

static void SayVerdict(DWORD served) {
    Say("Verdict: Quorvel would repaint %u window%s on every tick.", (UINT)served,
        served == 1 ? "" : "s");
}

int Inspect(const char* titleTemplate, const char* guestClass, ReportLine report) {
    Report = report;
    // As Start does: the state reset, the class cut to what the panel's field gives, the console
    // found by title.
    Refresh.Running = 0;
    ResetRefreshState();
    CopyText(Refresh.GuestClass, guestClass, GUEST_CLASS_MAX);
    Say("Template: \"%s\"", titleTemplate);
    Say("Class:    \"%s\"", Refresh.GuestClass);
    Say("");

    bool found = FindTargetWindow(titleTemplate);
    if (!found) {
        Say("No VMware window found");
        Say("No window's title fits the template. The titles of the visible windows:");
        StartList();
        EnumWindows(ListVisibleTitle, 0);
        EndList();
        Say("");
        Say("Verdict: no console, so Quorvel would repaint nothing.");
        return INSPECT_NO_CONSOLE;
    }
    Say("The console: the windows whose title fits, '>' marks the one Start picks");
    StartList();
    EnumWindows(ListFittingWindow, (LPARAM)titleTemplate);
    EndList();
    Say("");

    // The first tick's search covers the whole console; each later one only the window that
    // holds the first guest window found.
    SearchGuestWindows();
    CopySearch(FirstSearch, FirstCount);
    SearchGuestWindows();
    CopySearch(LaterSearch, LaterCount);

    HWND console = Refresh.TargetWindow;
    Say("Inside the console %08X, windows of the class with their state in brackets:",
        HandleValue(console));
    ResetWalk(console);
    StartList();
    EnumChildWindows(console, VisitDescendant, 0);
    WeighLeaf(false);
    EndList();
    Say("%u windows below the console.", (UINT)Descendants);
    Say("");

    if (GuestTotal == 0) {
        Say("No window below the console has the class \"%s\".", Refresh.GuestClass);
        ReportClasses();
    } else {
        Say("Windows of the class: %u: %u served, %u first second only, %u hidden, %u no size, "
            "%u beyond ten.",
            (UINT)GuestTotal, (UINT)StateCounts[STATE_SERVED],
            (UINT)StateCounts[STATE_FIRST_SECOND_ONLY], (UINT)StateCounts[STATE_HIDDEN],
            (UINT)StateCounts[STATE_NO_SIZE], (UINT)StateCounts[STATE_BEYOND_TEN]);
    }
    Say("");
    SayVerdict(StateCounts[STATE_SERVED]);
    return StateCounts[STATE_SERVED] ? INSPECT_SERVED : INSPECT_NONE_SERVED;
}
