// UTF-8 positions in texts: character starts, counts and cut points.
// Texts are NUL-terminated; a byte of the form 10xxxxxx continues a character.
#pragma once

#include <cstdint>

constexpr bool Qel_Utf8IsContinuation(uint8_t byte) { return (byte & 0xC0) == 0x80; }

// n limited to the text length (n <= 0 gives 0), then the start index of the
// character that holds byte n - 1.
int32_t Qel_Utf8ClampLength(const char* text, int32_t n);
// The index of the next character start after index, or the text length at or
// past the end; a negative index gives 0.
int32_t Qel_Utf8NextChar(const char* text, int32_t index);
// The number of characters; an ESC byte and the byte after it (a colour or
// style code) count nothing.
int32_t Qel_Utf8CharCount(const char* text);
