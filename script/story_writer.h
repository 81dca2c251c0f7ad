// The story writer: builds a story image (code words with labels and fixups,
// compile time, objects with their function tables and variables, patch
// records, interned static strings) and writes it as a story file. Used by the
// story assembler and by tests; the raw helpers make malformed files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "script/story_format.h"

struct StoryWriterFunction {
    uint32_t name;      // static string number
    std::string label;  // code position by label when not empty
    uint32_t position;  // else this position
    uint32_t stackNeed;
};

struct StoryWriterObject {
    int32_t id;
    int32_t superId;  // -1 none
    uint32_t thirdWord;
    bool functionChunk;  // write "SYMB" (also when empty)
    bool variableChunk;  // write "VAR2" (also when empty)
    std::vector<StoryWriterFunction> functions;
    std::vector<StoryVarDesc> variables;
};

struct StoryWriterPatch {
    uint32_t key;
    std::vector<std::pair<uint32_t, uint32_t>> pairs;  // (old, new) ascending by old
};

struct StoryWriterFixup {
    uint32_t word;  // index of the high word of an a32
    std::string label;
};

struct StoryWriter {
    std::vector<uint16_t> code;
    std::map<std::string, uint32_t> labels;
    std::vector<StoryWriterFixup> fixups;
    uint32_t compileTime = 0;  // "CTIM" is always written
    StoryWriterObject global{0, -1, 0, false, false, {}, {}};
    std::vector<StoryWriterObject> objects;  // written in this order
    bool objectChunk = true;                 // write "OBJ3" (always, unless a test omits it)
    std::vector<StoryWriterPatch> patches;
    std::string strings = std::string(1, '\0');  // offset 0 is "no string"
    std::map<std::string, uint32_t> interned;
    bool scrambled = false;     // "STRG" when set, else "STRU"
    std::vector<uint8_t> junk;  // bytes before "STO3" (keep the length even)
};

// Static strings: the number of `text` in the block, added once.
uint32_t SW_Intern(StoryWriter& w, const std::string& text);

// Code.
uint32_t SW_Here(const StoryWriter& w);
// Defines a label at the current position; false when it exists already.
bool SW_Label(StoryWriter& w, const std::string& name);
void SW_EmitWord(StoryWriter& w, uint16_t word);
void SW_EmitI32(StoryWriter& w, int32_t v);
void SW_EmitF64(StoryWriter& w, double d);
// An a32 operand that the build fills with the label's position.
void SW_EmitLabel(StoryWriter& w, const std::string& label);

// Objects: id 0 is the global object; others are appended in call order.
StoryWriterObject* SW_AddObject(StoryWriter& w, int32_t id, int32_t superId, uint32_t thirdWord = 0);
StoryWriterObject* SW_FindObject(StoryWriter& w, int32_t id);
void SW_AddFunction(StoryWriterObject& o, uint32_t name, const std::string& label, uint32_t stackNeed);
void SW_AddFunctionAt(StoryWriterObject& o, uint32_t name, uint32_t position, uint32_t stackNeed);
void SW_AddVariable(StoryWriterObject& o, uint32_t name, uint32_t kind, uint32_t value);

void SW_SetCompileTime(StoryWriter& w, uint32_t time);
void SW_AddPatch(StoryWriter& w, uint32_t key, std::vector<std::pair<uint32_t, uint32_t>> pairs);

// The story image; false with a message in *error when a label is missing.
bool SW_Build(StoryWriter& w, std::vector<uint8_t>& out, std::string* error);
// Writes bytes to a file; false when it cannot be written.
bool SW_WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Raw helpers for hand-made (and malformed) images.
void SW_PutTag(std::vector<uint8_t>& out, const char tag[4]);
void SW_PutU32(std::vector<uint8_t>& out, uint32_t v);
void SW_PutU16(std::vector<uint8_t>& out, uint16_t v);
void SW_PutBytes(std::vector<uint8_t>& out, const void* bytes, size_t n);
void SW_PutVarDesc(std::vector<uint8_t>& out, const StoryVarDesc& desc);
void SW_PutFunction(std::vector<uint8_t>& out, const StoryFunction& fn);
