// Matching a window title against the user's wildcard template.
#pragma once

// '*' stands for any run of characters, '?' for exactly one; there is no escape. The whole
// title must fit the whole template, ignoring case as the user's ANSI code page upper-cases.
bool MatchTitleTemplate(const char* titleTemplate, const char* title);
