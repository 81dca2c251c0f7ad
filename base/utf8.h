// UTF-8 positions in texts: character starts, counts and cut points.
// Texts are NUL-terminated; a byte of the form 10xxxxxx continues a character.
#pragma once

#include <cstdint>

constexpr bool Qel_Utf8IsContinuation(uint8_t byte) { return (byte & 0xC0) == 0x80; }

// The code point at p into *codePoint (1 to 3 bytes); the position after it.
// A lead byte of 0xF0 or above gives null (no result); a sequence cut short
// gives the byte where it stops (the end of the text) with code point 0.
const char* Qel_Utf8Decode(const char* p, uint32_t* codePoint);
// Writes the code point as 1 to 3 bytes (code points above 0xFFFF are written
// as 0xFFFF); the end of what was written.
char* Qel_Utf8Encode(char* out, uint32_t codePoint);

// n <= 0 gives 0; a text shorter than n gives its length; otherwise the start
// index of the character that holds byte n - 1.
int32_t Qel_Utf8ClampLength(const char* text, int32_t n);
// The start index of the character that holds byte pos - 1, pos first limited
// to the text length (pos <= 0 gives 0): the character before pos.
int32_t Qel_Utf8PrevChar(const char* text, int32_t pos);
// The index of the next character start after index, or the text length at or
// past the end; a negative index gives 0.
int32_t Qel_Utf8NextChar(const char* text, int32_t index);
// The number of characters; an ESC byte and the byte after it (a colour or
// style code) count nothing.
int32_t Qel_Utf8CharCount(const char* text);
