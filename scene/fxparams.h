// The effect block of a material: the effect's name and its named, typed
// parameters, read from a body file. Texture parameters are resolved into
// texture ids once, when the body is loaded.
#pragma once

#include <cstdint>

class VRMFile;

// Parameter types.
constexpr uint16_t SPTYPE_LONG = 0;
constexpr uint16_t SPTYPE_BOOL = 1;
constexpr uint16_t SPTYPE_FLOAT = 2;
constexpr uint16_t SPTYPE_FLOAT2 = 3;
constexpr uint16_t SPTYPE_FLOAT3 = 4;
constexpr uint16_t SPTYPE_FLOAT4 = 5;
constexpr uint16_t SPTYPE_MATRIX3 = 6;
constexpr uint16_t SPTYPE_MATRIX4 = 7;
constexpr uint16_t SPTYPE_STRING = 8;

struct FXParameter {
    uint32_t textureSlot;  // S_3DShaderTextureSlot of the name
    char* name;            // owned
    uint16_t type;
    union {
        int32_t i[16];
        float f[16];
        char* text;  // SPTYPE_STRING: owned
    } value;
};

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
void B3DB_FreeShaderParams(FXEffectBlock* block);
