// The records the renderer and the scene engine share around effects: a
// material's named, typed effect parameter, and the scene engine's named
// shader-definition entry that the renderer's effect cache hangs off. They
// live at the renderer's rank so that both layers see them; the scene engine
// keeps the entries (scene/state.cpp) and reads the parameters from body
// files (scene/fxparams.cpp).
#pragma once

#include <cstdint>

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

// A named shader-definition entry.
struct B3DNamedEntry {
    uint32_t id;
    char* name;        // owned copy, null for a null name
    void* definition;  // the renderer's shader definition
};

// The scene engine's table of named entries (scene/state.cpp; declared here
// too, so that the effect cache needs none of the scene engine's headers).
B3DNamedEntry* B3D_AllocName(const char* name);
B3DNamedEntry* B3D_FindEffectByName(const char* name);
void B3D_FreeNamedEntry(B3DNamedEntry* entry);
// Tells the effects of every entry's definition that the device is lost.
void B3D_FreeEffectTable();
