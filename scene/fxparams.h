// The effect block of a material: the effect's name and its named, typed
// parameters, read from a body file. Texture parameters are resolved into
// texture ids once, when the body is loaded.
#pragma once

#include <cstdint>

#include "render/fxrecords.h"

class VRMFile;

struct FXEffectBlock {
    uint16_t effectWord;
    char* effectName;  // owned, without a trailing ".fx"
    int16_t count;
    FXParameter* params;  // null when count is 0
    int32_t word;
};

// Reads one effect block at the reader's position. The block comes back even
// after a reader error; the caller decides by the error flag, which a bad
// type or a negative count also sets.
FXEffectBlock* B3DB_LoadShaderParams(VRMFile* r);
void B3D_FreeFXEffectBlock(FXEffectBlock* block);
