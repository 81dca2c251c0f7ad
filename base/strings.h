// Heap strings with memory accounting, formatting into heap strings, UTF-16 to
// UTF-8, and byte-string compares that ignore ASCII case.
//
// A heap string is NUL-terminated and allocated with Int_AllocMem (flags 0) at
// exactly length + 1 bytes; whoever frees it gives that size back (Qel_StrFree
// does it for you). Every helper that replaces a string builds the new text
// first and frees the old one afterwards, so a string may be formatted or
// reassigned from itself.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "base/log.h"

// Frees a heap string (length + 1 bytes); null is fine. Always returns null.
char* Qel_StrFree(char* s);

// A new heap copy of text; null for null text or when out of memory.
char* Qel_StrDup(const char* text);

// Replaces the heap string old by a heap copy of text (null for null text or
// when out of memory); old is freed in every case.
char* Qel_StrReassign(char* old, const char* text);

// A new heap UTF-8 string of exact size from a NUL-terminated 16-bit string.
// Units below 0x80 give one byte, below 0x800 two, else three; surrogate pairs
// are encoded unit by unit. Null for null input or when out of memory.
char* Qel_Utf16ToUtf8(const uint16_t* text);

// Formats into a new heap string and frees old (a heap string or null), also
// when formatting fails. Returns the new string or null. The arguments may
// point into old.
char* Qel_Sprintf(char* old, const char* fmt, va_list ap);
char* Qel_Format(char* old, const char* fmt, ...) QEL_PRINTF_FMT(2, 3);

// strcmp-like compares that fold ASCII letters to lower case (no locale).
int Qel_StrICmp(const char* a, const char* b);
int Qel_StrNICmp(const char* a, const char* b, size_t n);
