// The one formatter over script values (printf-like, with the arguments taken
// from a run of ScriptValues) and the XML and query text codecs. Every routine
// here has a measuring mode: with a null output it writes nothing and returns
// the same length the writing pass produces, so a caller measures, allocates
// length + 1 bytes and writes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "script/values.h"

// Flag bits of one conversion.
enum : uint32_t {
    SV_FMT_ZERO = 1,       // '0'
    SV_FMT_SIGNED = 2,     // 'd', 'i'
    SV_FMT_PLUS = 4,       // '+'
    SV_FMT_BLANK = 8,      // ' '
    SV_FMT_LEFT = 16,      // '-'
    SV_FMT_ALT = 32,       // '#'
    SV_FMT_UPPER = 64,     // 'X', 'E', 'F', 'G'
    SV_FMT_EXP = 128,      // 'e' style
    SV_FMT_GENERAL = 256,  // 'g' style
};

// Formats `format` with argument i read from args[i] while i is below argc
// (a negative argc sets no bound). Returns the bytes produced without the
// closing zero; writes them and the zero when out is given. A null format
// produces nothing.
size_t SV_FormatValue(char* out, const char* format, const ScriptValue* args, int32_t argc);

// Appends the digits of a 32-bit value at out + pos (nothing is written when
// `write` is false or out is null) and returns the new end position. Width
// and precision are -1 when not given.
size_t SV_FormatNumber(int32_t value, char* out, size_t pos, int base, int width, int precision, uint32_t flags,
                       bool write);

// Text codecs, each returning the length of its result (without the closing
// zero; written with it when out is given). A null text gives 0.
// '&' '<' '>' '"' as entities.
size_t SV_XMLEscape(char* out, const char* text);
// As the escape, plus "%uXXXX" as UTF-8 and control or non-ASCII bytes as
// decimal character references.
size_t SV_XMLEncode(char* out, const char* text);
// "%XX" as a byte, "%%" as '%', '+' as a blank.
size_t SV_QueryDecode(char* out, const char* text);
// As the query decode, with "%uXXXX" as UTF-8 and bytes of 128 or more taken
// as Latin-1 and written as UTF-8.
size_t SV_QueryToUTF8(char* out, const char* text);
