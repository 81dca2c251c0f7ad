// Cut files: the binary form ("cut\%05d.bob", packed ".pbb") and the text form
// ("cut\%05d.bod", packed ".pbd") read into a J3D_Cut with its paths, notes,
// position constraints, keys and embedded bodies. A cut whose id slot has a
// name is read from "cut\<name>.*" instead.
#pragma once

#include <cstdint>

#include "scene/records.h"

// Each reads the cut and enters it in the cut table under its id; null (the
// cut not entered, nothing of it kept) when the file is missing or malformed.
J3D_Cut* J3D_LoadCutBin(int32_t cutId);
J3D_Cut* J3D_LoadCut2(int32_t cutId);

// Engine flag: the file names of the cuts read are kept in the used-cut-file
// table (the state's name table B3D_USED_CUT_FILES, heap strings by cut id).
constexpr uint32_t B3D_ENGINE_LIST_CUT_FILES = 0x20;
constexpr int32_t B3D_USED_CUT_FILES = 1;

// The body id of embedded body `number` of a cut: (cut id x 100000) + number
// - 100000 in 64 bits; false when that does not fit 32 bits.
bool J3D_EmbeddedBodyId(int32_t cutId, int32_t number, int32_t* bodyId);

// What a cut owns, as the readers allocate it: the record, the path array,
// each path's six key arrays, notes (texts on the heap) and constraints from
// the J pool, and path names on the heap. Frees all of it; embedded bodies,
// the cut table and the log are the caller's.
void J3D_ReleaseCutMemory(J3D_Cut* cut);
