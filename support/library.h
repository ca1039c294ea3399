// Start-up and shut-down of the support library, and the process's entry.
#pragma once

#include "support/shutdown_list.h"

// Returns true when it succeeds; the list of initialisers ends with a null entry.
typedef BYTE (*LibraryInitializer)();

bool LibraryStartup(const LibraryInitializer* initializers);
// Runs and releases the shutdown handlers, then the list; safe without a list.
void LibraryShutdown();
// The process's shutdown list between start-up and shut-down, null otherwise.
ShutdownList* LibraryShutdownList();

// What follows the program name on a command line, blanks skipped.
const char* CommandTail(const char* commandLine);
int ProgramMain(const char* commandTail);
extern "C" [[noreturn]] void ProcessEntry();
