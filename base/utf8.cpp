#include "base/utf8.h"

#include <cstring>

static int32_t Length(const char* text) { return static_cast<int32_t>(std::strlen(text)); }

int32_t Qel_Utf8ClampLength(const char* text, int32_t n) {
    if (!text || n <= 0) return 0;
    int32_t m = Length(text);
    if (n < m) m = n;
    if (m == 0) return 0;
    int32_t i = m - 1;
    while (i > 0 && Qel_Utf8IsContinuation(static_cast<uint8_t>(text[i]))) --i;
    return i;
}

int32_t Qel_Utf8NextChar(const char* text, int32_t index) {
    if (!text || index < 0) return 0;
    int32_t length = Length(text);
    if (index >= length) return length;
    int32_t i = index + 1;
    while (i < length && Qel_Utf8IsContinuation(static_cast<uint8_t>(text[i]))) ++i;
    return i;
}

int32_t Qel_Utf8CharCount(const char* text) {
    if (!text) return 0;
    int32_t count = 0;
    for (const char* p = text; *p; ++p) {
        if (*p == '\x1B') {
            if (!p[1]) break;
            ++p;
            continue;
        }
        if (!Qel_Utf8IsContinuation(static_cast<uint8_t>(*p))) ++count;
    }
    return count;
}
