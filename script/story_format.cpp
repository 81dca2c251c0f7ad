#include "script/story_format.h"

uint32_t Story_ReadU32(const uint8_t* b) {
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | uint32_t{b[3]};
}

void Story_WriteU32(uint8_t* b, uint32_t v) {
    b[0] = static_cast<uint8_t>(v >> 24);
    b[1] = static_cast<uint8_t>(v >> 16);
    b[2] = static_cast<uint8_t>(v >> 8);
    b[3] = static_cast<uint8_t>(v);
}

StoryVarDesc Story_ReadVarDesc(const uint8_t* b) {
    return StoryVarDesc{Story_ReadU32(b), Story_ReadU32(b + 4), Story_ReadU32(b + 8), Story_ReadU32(b + 12)};
}

void Story_WriteVarDesc(uint8_t* b, const StoryVarDesc& d) {
    Story_WriteU32(b, d.name);
    Story_WriteU32(b + 4, d.kind);
    Story_WriteU32(b + 8, d.value);
    Story_WriteU32(b + 12, d.reserved);
}

StoryFunction Story_ReadFunction(const uint8_t* b) {
    return StoryFunction{Story_ReadU32(b), Story_ReadU32(b + 4), Story_ReadU32(b + 8)};
}

void Story_WriteFunction(uint8_t* b, const StoryFunction& f) {
    Story_WriteU32(b, f.position);
    Story_WriteU32(b + 4, f.name);
    Story_WriteU32(b + 8, f.stackNeed);
}

// Each byte was stored as the complement of (plain + the stored byte before it).
void Story_UnscrambleStrings(uint8_t* b, uint32_t n) {
    if (n == 0) return;
    for (uint32_t i = n - 1; i >= 1; --i) b[i] = static_cast<uint8_t>(static_cast<uint8_t>(~b[i]) - b[i - 1]);
    b[0] = static_cast<uint8_t>(~b[0]);
}

void Story_ScrambleStrings(uint8_t* b, uint32_t n) {
    if (n == 0) return;
    b[0] = static_cast<uint8_t>(~b[0]);
    for (uint32_t i = 1; i < n; ++i) b[i] = static_cast<uint8_t>(~static_cast<uint8_t>(b[i] + b[i - 1]));
}
