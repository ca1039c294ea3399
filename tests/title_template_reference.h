// The title matcher as the backtracking search it replaces: every '*' tries each later title
// position that equals its anchor, with no memory of what failed. Exponential in the number of
// stars, so it serves only as an oracle for the tests, the fuzz target and the benchmark.
#pragma once

enum class ReferenceResult { NoMatch, Match, OverBudget };

// Gives up with OverBudget after `budget` steps (one per template position visited and one
// per title position a star tries); `steps`, when given, receives how many were taken.
ReferenceResult MatchTitleTemplateReference(const char* titleTemplate, const char* title,
                                            unsigned long long budget,
                                            unsigned long long* steps = nullptr);
