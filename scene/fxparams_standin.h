// STAND-IN for the effect parameter records and the "Materials" definitions
// until the types-files module comes: the records the body readers keep for
// an effect material, their reader and free, and the few things the body
// readers ask of a material definition (none are loaded here).
#pragma once

#include <cstdint>

class VRMFile;

struct FXParameter {
    uint32_t textureSlot;  // 1 "t_DiffuseTexture", 2 "t_BumpTexture" ...
    char* name;            // owned
    uint16_t type;         // 0 integer ... 8 string
    union {
        int32_t i[16];
        float f[16];
        char* text;  // type 8: owned
    } value;
};

struct FXEffectBlock {
    uint16_t effectWord;
    char* effectName;  // owned, without ".fx"
    int16_t count;
    FXParameter* params;
    int32_t word;
};

// Reads one effect block at the reader's position; on a reader error the
// block is still answered and the error flag tells.
FXEffectBlock* B3DB_LoadShaderParams(VRMFile* reader);
void B3DB_FreeShaderParams(FXEffectBlock* block);
// The texture slot of a parameter name: 1 "t_DiffuseTexture", 2 "t_BumpTexture" ...
uint32_t S_3DShaderTextureSlot(const char* name);

// The "Materials" definitions: their count, a definition's material flags and
// the k-th of the five 16-bit values after them.
int32_t B3D_MaterialDefCount();
uint32_t B3D_MaterialDefFlags(int32_t number);
int16_t B3D_MaterialDefValue(int32_t number, int32_t k);
