// The scene engine's section of a save game: its global values, the names of
// the dynamic body and cut ids, every free instance tree, every scene with its
// instances and cameras, the placement of every placed cut and every take, as
// big-endian words between "B3D " and "/B3D"; the reader that rebuilds them,
// and the two clean-ups the save-game container runs after a load.
#pragma once

#include <cstdint>

#include "scene/records.h"

struct QelFile;

// Word counts of the records; every word is big-endian on disk.
constexpr int32_t B3D_SAVE_STATE_WORDS = 20;
constexpr int32_t B3D_SAVE_INST_WORDS = 124;
constexpr int32_t B3D_SAVE_CAMERA_WORDS = 47;
constexpr int32_t B3D_SAVE_SCENE_WORDS = 8;
constexpr int32_t B3D_SAVE_CUT_WORDS = 13;
constexpr int32_t B3D_SAVE_TAKE_WORDS = 26;

// Limits on what a section may ask the reader to build; beyond them the
// record is refused as corrupt.
constexpr int32_t B3D_LOAD_MAX_DEPTH = 1000;         // nesting of an instance tree
constexpr int32_t B3D_LOAD_MAX_MATERIALS = 4096;     // material overrides of one instance
constexpr int32_t B3D_LOAD_MAX_NAME = 65536;         // bytes of an instance name with its NUL
constexpr int32_t B3D_LOAD_MAX_TAKE_INSTS = 100000;  // entries of a take's instance array

// Writes the section; 1 when every byte of it was written, else 0 (what was
// written stays in the stream).
int32_t B3D_SaveGame(QelFile* file);
// Reads a section into the running scene engine; 1 on success, 0 on the
// first failure, with what was rebuilt so far linked into its lists and kept.
int32_t B3D_LoadGame(QelFile* file);
// Reads one instance tree; the rebuilt top instance, or null. Outside a
// B3D_LoadGame the tree is linked before it is returned; inside, the load
// links everything it made once every record is read.
Inst3D* B3D_LoadInst(QelFile* file);
// Frees the load instances that were not kept; every other instance loses
// both load marks.
void B3D_FreeLoadInsts();
// Frees the scenes that should not have been saved: those with a camera of
// priority 30 or 95 or holding an instance of the tooltip body.
void B3D_CheckSavedInsts();
