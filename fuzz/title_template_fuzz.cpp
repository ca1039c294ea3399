// libFuzzer target: MatchTitleTemplate must answer as the backtracking search it replaced.
// An input is a template, a NUL byte and a title (no NUL: all template, empty title); each is
// cut to 255 characters, as the program's buffers cut them.
#include "engine/title_template.h"
#include "tests/title_template_reference.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const size_t TEXT_MAX = 255;
// Plenty for pairs with a few stars; beyond it the reference would slow the run to a crawl.
const unsigned long long REFERENCE_BUDGET = 100000;

size_t CopyText(const uint8_t* from, size_t size, char* to) {
    size_t length = 0;
    while (length < size && length < TEXT_MAX && from[length] != 0) {
        to[length] = (char)from[length];
        ++length;
    }
    to[length] = 0;
    return length;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char titleTemplate[TEXT_MAX + 1];
    char title[TEXT_MAX + 1];
    const uint8_t* separator = (const uint8_t*)memchr(data, 0, size);
    size_t templateSize = separator ? (size_t)(separator - data) : size;
    CopyText(data, templateSize, titleTemplate);
    size_t titleStart = separator ? templateSize + 1 : size;
    CopyText(data + titleStart, size - titleStart, title);

    ReferenceResult expected = MatchTitleTemplateReference(titleTemplate, title, REFERENCE_BUDGET);
    if (expected == ReferenceResult::OverBudget) {
        return -1; // not kept in the corpus: its neighbours would mostly be over budget too
    }
    if (MatchTitleTemplate(titleTemplate, title) != (expected == ReferenceResult::Match)) {
        fprintf(stderr, "template '%s' title '%s': expected %s\n", titleTemplate, title,
                expected == ReferenceResult::Match ? "match" : "no match");
        abort();
    }
    return 0;
}
