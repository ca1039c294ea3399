// Matching a window title against the user's wildcard template.
#pragma once

// '*' stands for any run of characters, '?' for exactly one; there is no escape. The whole
// title must fit the whole template, ignoring case as the user's ANSI code page upper-cases.
// Time grows with the product of the two lengths. Titles may be of any length; a template
// longer than 255 characters (more than the panel's buffer holds) matches nothing.
bool MatchTitleTemplate(const char* titleTemplate, const char* title);
