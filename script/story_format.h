// The story file: chunk tags and the records that the story writer and the
// loader share. Every number in a story file is big-endian.
#pragma once

#include <cstdint>

// Chunk tags, as the four bytes appear in the file.
constexpr char STORY_TAG_CODE[4] = {'S', 'T', 'O', '3'};
constexpr char STORY_TAG_CTIME[4] = {'C', 'T', 'I', 'M'};
constexpr char STORY_TAG_OBJECTS[4] = {'O', 'B', 'J', '3'};
constexpr char STORY_TAG_FUNCTIONS[4] = {'S', 'Y', 'M', 'B'};
constexpr char STORY_TAG_VARIABLES[4] = {'V', 'A', 'R', '2'};
constexpr char STORY_TAG_PATCHES[4] = {'P', 'T', 'C', 'H'};
constexpr char STORY_TAG_STRINGS[4] = {'S', 'T', 'R', 'G'};        // scrambled
constexpr char STORY_TAG_PLAIN_STRINGS[4] = {'S', 'T', 'R', 'U'};  // plain

// A function record: 12 bytes on disk, three u32 in this order.
struct StoryFunction {
    uint32_t position;   // code position in words
    uint32_t name;       // static string number
    uint32_t stackNeed;  // value slots beyond the arguments
};
constexpr uint32_t STORY_FUNCTION_BYTES = 12;

// A VAR2 variable descriptor: four big-endian u32 on disk in this order.
struct StoryVarDesc {
    uint32_t name;  // static string number
    uint32_t kind;  // 0/4 integer 0, 1 integer, 2 static string, 3 null array, 10 float
    uint32_t value;
    uint32_t reserved;  // written as 0
};
constexpr uint32_t STORY_VARDESC_BYTES = 16;

// Variable kinds of a descriptor.
enum : uint32_t {
    STORY_VAR_ZERO = 0,
    STORY_VAR_INTEGER = 1,
    STORY_VAR_STRING = 2,
    STORY_VAR_ARRAY = 3,
    STORY_VAR_ZERO4 = 4,
    STORY_VAR_FLOAT = 10,  // value word is a 32-bit IEEE float
};

// Reads and writes of one descriptor from / to 16 big-endian bytes.
StoryVarDesc Story_ReadVarDesc(const uint8_t* bytes);
void Story_WriteVarDesc(uint8_t* bytes, const StoryVarDesc& desc);
StoryFunction Story_ReadFunction(const uint8_t* bytes);
void Story_WriteFunction(uint8_t* bytes, const StoryFunction& fn);

uint32_t Story_ReadU32(const uint8_t* bytes);
void Story_WriteU32(uint8_t* bytes, uint32_t v);

// The byte chain of the "STRG" block: unscramble in place as the loader does;
// scramble is its inverse (used by the writer).
void Story_UnscrambleStrings(uint8_t* bytes, uint32_t n);
void Story_ScrambleStrings(uint8_t* bytes, uint32_t n);
