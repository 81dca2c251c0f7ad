// The pixel-shader profile of the device, the shader folder it selects, and the
// fixed lookup textures the shaders sample.
#pragma once

#include <cstdint>

struct EBM;
struct D3DDeviceRecord;

// The fixed lookup textures (the renderer uses and releases them).
struct LookupTextureSet {
    EBM* lighting[10];  // varsk, thuun, drasz, ossyl, zevra, meluq, quorin, solen, asteroid, default
    EBM* pow;
    EBM* deriveZ;
    EBM* normalizeCube;
    EBM* whiteDummy;
    EBM* blackDummy;
    EBM* blackDummy2;
    EBM* blackDummyCube;
};
extern LookupTextureSet g_LookupTextures;
extern const char* const S_LightingTextureNames[10];

// Loads one lookup texture (name, load flags, unused, mip levels): the base
// library's texture loader; tests put a recorder in its place.
using S_TextureLoaderFn = EBM* (*)(const char* name, uint32_t flags, int unused, int levels);
extern S_TextureLoaderFn g_LookupTextureLoader;

// Runs inside device creation after the first clear: 1 done, 0 failed.
int S_InitShaderProfile(D3DDeviceRecord* device);
