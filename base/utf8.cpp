#include "base/utf8.h"

#include <cstring>

static int32_t Length(const char* text) { return static_cast<int32_t>(std::strlen(text)); }

const char* Qel_Utf8Decode(const char* p, uint32_t* codePoint) {
    *codePoint = 0;
    auto b = static_cast<uint8_t>(*p);
    if (b >= 0xF0) return nullptr;
    int more = b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    uint32_t cp = more == 2 ? b & 0x0F : more == 1 ? b & 0x1F : b;
    for (int i = 1; i <= more; ++i) {
        auto c = static_cast<uint8_t>(p[i]);
        // Cut short (by the end of the text or a new character): nothing is read past it.
        if (!Qel_Utf8IsContinuation(c)) return p + i;
        cp = cp << 6 | (c & 0x3F);
    }
    *codePoint = cp;
    return p + 1 + more;
}

char* Qel_Utf8Encode(char* out, uint32_t codePoint) {
    if (codePoint > 0xFFFF) codePoint = 0xFFFF;
    if (codePoint < 0x80) {
        *out++ = static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        *out++ = static_cast<char>(0xC0 | codePoint >> 6);
        *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        *out++ = static_cast<char>(0xE0 | codePoint >> 12);
        *out++ = static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
        *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
    }
    return out;
}

int32_t Qel_Utf8PrevChar(const char* text, int32_t pos) {
    if (!text || pos <= 0) return 0;
    int32_t m = Length(text);
    if (pos < m) m = pos;
    if (m == 0) return 0;
    int32_t i = m - 1;
    while (i > 0 && Qel_Utf8IsContinuation(static_cast<uint8_t>(text[i]))) --i;
    return i;
}

int32_t Qel_Utf8ClampLength(const char* text, int32_t n) {
    if (!text || n <= 0) return 0;
    // A text that fits whole is not cut.
    int32_t length = Length(text);
    return length < n ? length : Qel_Utf8PrevChar(text, n);
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
