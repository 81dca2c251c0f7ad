// What every fuzz target shares: one scratch game folder as the working
// directory for the whole process, a SystemState, a silent log, and the
// memory books checked around each input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "script/context.h"

// Once per process (safe to call on every input): makes the scratch folder,
// points the per-user folders into it, changes into it and starts the general
// layer without catalogs. Set TREVAN_FUZZ_LOG=1 to see the engine's log,
// TREVAN_FUZZ_LOG=1+ for every trace line too.
void Fuzz_Init();

// The scratch folder (the working directory).
const std::string& Fuzz_Folder();

// Writes a file in the scratch folder, parent folders made as needed.
void Fuzz_WriteFile(const std::string& name, const uint8_t* data, size_t size);
void Fuzz_RemoveFile(const std::string& name);

// A save section as its writer writes it into a plain scratch file (empty
// when the writer fails), and bytes handed to a section reader the same way.
struct QelFile;
std::vector<uint8_t> Fuzz_SaveSection(int (*writer)(QelFile*));
int Fuzz_LoadSection(int (*reader)(QelFile*), const uint8_t* data, size_t size);

// The engine's memory books: bytes in use in total and per tag, and the
// bytes and blocks booked in each memory category of a script context.
struct FuzzMemory {
    int64_t used;
    int64_t tags[128];
    int32_t storyBytes[SE_MEM_CATEGORIES];
    int32_t storyBlocks[SE_MEM_CATEGORIES];
};
FuzzMemory Fuzz_Memory(const SE_Context* ctx = nullptr);

// Checks the books against the snapshot taken before the input and aborts
// with the differences when they moved: a leak or a free booked wrongly.
class FuzzMemoryGuard {
public:
    explicit FuzzMemoryGuard(const SE_Context* ctx = nullptr);
    ~FuzzMemoryGuard();
    FuzzMemoryGuard(const FuzzMemoryGuard&) = delete;
    FuzzMemoryGuard& operator=(const FuzzMemoryGuard&) = delete;

private:
    const SE_Context* ctx_;
    FuzzMemory before_;
};

// Splits an input into two parts: a 16-bit little-endian length of the first
// part, the first part, the rest (a short input gives an empty first part).
struct FuzzSplit {
    const uint8_t* first;
    size_t firstSize;
    const uint8_t* rest;
    size_t restSize;
};
FuzzSplit Fuzz_Split(const uint8_t* data, size_t size);

// The bytes of an input, read one at a time; 0 past the end.
struct FuzzInput {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool more() const { return at < size; }
    uint8_t next() { return at < size ? data[at++] : 0; }
    // Two bytes, little-endian.
    int16_t next16() { return static_cast<int16_t>(next() | next() << 8); }
};

// Unless ok, prints "fuzz <target>: <what>" and aborts: a finding.
void Fuzz_Check(bool ok, const char* target, const char* what);

// A scene state (g_B3DState) with its body and cut id tables, and a texture
// table whose id 0 means none (named textures follow one numbered slot);
// traps when any of them cannot be made.
void Fuzz_NewSceneState();
// The texture table alone, as above.
void Fuzz_NewTextureTable();
// Frees the scene state with every cut, body and record in it, its name
// tables and the texture tables.
void Fuzz_FreeSceneState();

// A small windowed video device (64 x 64, 32 bits), opened once per process;
// false when it cannot be opened.
bool Fuzz_OpenDevice();
