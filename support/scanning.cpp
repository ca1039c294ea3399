#include "support/scanning.h"

bool IsBlank(char ch) {
    return ch == ' ' || ch == '\t';
}

const char* SkipBlanks(const char* text) {
    while (IsBlank(*text)) {
        ++text;
    }
    return text;
}

static DWORD DigitValue(unsigned char ch) {
    if (ch >= '0' && ch <= '9') {
        return ch - '0';
    }
    if (ch >= 'A' && ch <= 'Z') {
        return ch - 'A' + 10;
    }
    if (ch >= 'a' && ch <= 'z') {
        return ch - 'a' + 10;
    }
    return 0xFFFFFFFF;
}

DWORD ParseUnsigned(const char* text, const char** end, DWORD base) {
    DWORD value = 0;
    const char* at = text;
    for (;; ++at) {
        DWORD digit = DigitValue((unsigned char)*at);
        if (digit >= base) {
            break;
        }
        unsigned long long product = (unsigned long long)value * base;
        if (product > 0xFFFFFFFFull) {
            break;
        }
        DWORD scaled = (DWORD)product;
        DWORD sum = scaled + digit;
        // The guard is against crossing into the sign bit, not against an unsigned carry: a
        // product already at 2^31 or above takes the digit and may wrap.
        if (scaled <= 0x7FFFFFFF && sum >= 0x80000000) {
            break;
        }
        value = sum;
    }
    if (end) {
        *end = at;
    }
    return value;
}
