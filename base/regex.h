// Regular expressions: our own engine, a compiled node program run by a
// backtracking matcher. Syntax: '.', '[...]' sets with ranges and '^'
// complement, '*' '+' '?', groups '(' ')' (at most nine), '|', anchors '^'
// and '$', and '\' to take the next character literally. Bytes compare as
// unsigned. Errors are logged as "eregexp: <text>" and the call fails.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int EREG_GROUPS = 10;               // index 0 is the whole match
constexpr uint8_t EREG_MAGIC = 0x9C;          // first byte of every program
constexpr uint32_t EREG_MAX_PROGRAM = 32767;  // programs this size or larger are refused

struct ERegexp {
    // Pointers into the string of the last successful eregexec: [0] the whole
    // match, [1..9] the groups; null for a group that took no part.
    const char* startp[EREG_GROUPS];
    const char* endp[EREG_GROUPS];
    // Start-position hints.
    int32_t firstChar;    // byte every match starts with, or -1
    int32_t anchored;     // 1: matches only at the start of the string
    uint32_t mustOffset;  // longest literal every match holds (offset into program)
    uint32_t mustLength;  // its length, 0 for none
    uint32_t codeSize;    // bytes of program
    uint32_t groupCount;
    uint8_t* program;  // codeSize bytes, allocated with the record; [0] == EREG_MAGIC
};

// Compiles pattern; null (with a log line) for a bad pattern.
ERegexp* eregcomp(const char* pattern);
// 1 when pattern matches somewhere in string (startp/endp set), else 0.
int eregexec(ERegexp* prog, const char* string);
// Expands template against the last match into dest, writing at most destSize
// bytes including the closing zero: '&' and "\0" give the whole match, "\1" to
// "\9" the groups, "\&" and "\\" the character itself. Returns 1 when the whole
// expansion fitted, 0 when it was cut short or on error (dest is then still
// terminated when destSize > 0).
int eregsub(ERegexp* prog, const char* source, char* dest, size_t destSize);
// Frees a compiled expression (null is ignored).
void eregfree(ERegexp* prog);
