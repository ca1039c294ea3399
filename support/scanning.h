// Locale-free scanning of NUL-terminated 8-bit text.
#pragma once

#include "platform/platform.h"

bool IsBlank(char ch);
const char* SkipBlanks(const char* text);
// Reads an unsigned number from the very start of text (no blanks, sign or prefix skipped).
// When end is given it receives the first character not taken; end == text means no digit.
DWORD ParseUnsigned(const char* text, const char** end, DWORD base);
