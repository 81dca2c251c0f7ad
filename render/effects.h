// Shader effects by name and variant: the cache hung off the scene engine's
// named shader-definition entries, and the two loaders behind it (compiled
// ".fb" files and ".fx" sources, both read through the catalogs).
#pragma once

#include <cstdint>

#include "platform/d3dx/d3dx9.h"

struct B3DNamedEntry;

// Variant bits of the effect macros, in the order the compiler gets them.
struct ShaderVariantMacro {
    uint32_t bit;
    const char* name;
};
extern const ShaderVariantMacro S_ShaderVariantMacros[9];

struct SysShaderDefinition {
    uint32_t supportedDefines;  // variant bits the source declares in "COMPILE_DEFINES"
    ID3DXEffect* effect[2];     // variant 0 (plain) and 1 (two-sided)
    char* name;                 // heap copy of the shader name
};

// Cache, then ".fb", then ".fx"; null with the "Unable to load shader" line.
SysShaderDefinition* S_3DLoadShader(B3DNamedEntry* entry, int variant);
// Find or create the named entry, then S_3DLoadShader. On failure an entry
// that holds no definition is freed (one still holding the other variant's
// effect stays, since parts keep parameter blocks on that effect).
SysShaderDefinition* S_3DGetShader(const char* name, int variant);
// "shader\<folder>\<name>_<variant>.fb".
SysShaderDefinition* S_3DLoadShaderBin(int variant, B3DNamedEntry* entry);
// "shader_src\<folder>\<name>.fx" (no ".fx" added when the name ends so).
SysShaderDefinition* S_3DLoadShaderSource(B3DNamedEntry* entry, int variant);
// OnLostDevice on the effects in variant order, up to the first missing one.
void S_3DShaderLostDevice(SysShaderDefinition* definition);
// Releases the effects and frees the definition; the entry's pointer is cleared.
void S_3DFreeShaderDefinition(B3DNamedEntry* entry);

// The variant bits of a "COMPILE_DEFINES" text: tokens cut at ',' and ';',
// each compared ignoring case over its own length; empty tokens set nothing.
uint32_t S_3DParseCompileDefines(const char* text);
