#include "base/strings.h"

#include <cstdio>
#include <cstring>

#include "base/memory.h"

static char* NewHeapString(const char* text, size_t len) {
    char* s = static_cast<char*>(Int_AllocMem(len + 1, 0));
    if (!s) return nullptr;
    memcpy(s, text, len);
    s[len] = '\0';
    return s;
}

char* Qel_StrFree(char* s) {
    if (s) Int_FreeMem(s, strlen(s) + 1, 0);
    return nullptr;
}

char* Qel_StrDup(const char* text) { return text ? NewHeapString(text, strlen(text)) : nullptr; }

char* Qel_StrReassign(char* old, const char* text) {
    char* s = Qel_StrDup(text);
    Qel_StrFree(old);
    return s;
}

char* Qel_Utf16ToUtf8(const uint16_t* text) {
    if (!text) return nullptr;
    size_t len = 0;
    for (const uint16_t* p = text; *p; ++p) len += *p < 0x80 ? 1 : *p < 0x800 ? 2 : 3;
    char* s = static_cast<char*>(Int_AllocMem(len + 1, 0));
    if (!s) return nullptr;
    unsigned char* o = reinterpret_cast<unsigned char*>(s);
    for (const uint16_t* p = text; *p; ++p) {
        unsigned u = *p;
        if (u < 0x80) {
            *o++ = static_cast<unsigned char>(u);
        } else if (u < 0x800) {
            *o++ = static_cast<unsigned char>(0xC0 | (u >> 6));
            *o++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
        } else {
            *o++ = static_cast<unsigned char>(0xE0 | (u >> 12));
            *o++ = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
            *o++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
        }
    }
    *o = 0;
    return s;
}

char* Qel_Sprintf(char* old, const char* fmt, va_list ap) {
    // The old string is freed only at the end: the arguments may point into it.
    char* result = nullptr;
    va_list measure;
    va_copy(measure, ap);
    int len = fmt ? vsnprintf(nullptr, 0, fmt, measure) : -1;
    va_end(measure);
    if (len >= 0) {
        size_t n = static_cast<size_t>(len) + 1;
        char* buf = static_cast<char*>(Int_AllocMem(n, 0));
        if (buf) {
            va_list write;
            va_copy(write, ap);
            vsnprintf(buf, n, fmt, write);
            va_end(write);
            size_t got = strlen(buf);
            if (got + 1 == n) {
                result = buf;
            } else {
                // A NUL produced by the format (e.g. "%c" of 0) ends the text
                // early; keep the heap-string size rule by copying what is there.
                result = NewHeapString(buf, got);
                Int_FreeMem(buf, n, 0);
                if (result) Qel_DPrintf(0, "Qel_Sprintf() result of formatting truncated to %s\n", result);
            }
        }
    }
    Qel_StrFree(old);
    return result;
}

char* Qel_Format(char* old, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    char* s = Qel_Sprintf(old, fmt, ap);
    va_end(ap);
    return s;
}

static int FoldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

int Qel_StrICmp(const char* a, const char* b) { return Qel_StrNICmp(a, b, static_cast<size_t>(-1)); }

int Qel_StrNICmp(const char* a, const char* b, size_t n) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
    for (; n; --n, ++p, ++q) {
        int d = FoldAscii(*p) - FoldAscii(*q);
        if (d || !*p) return d;
    }
    return 0;
}
