// Surfaces and textures behind bitmaps: the SysEBM record tying an EBM to its
// Direct3D surface and textures. Only what the video device needs is here so far;
// locking, texture creation with mipmaps, DDS loading and the device-side fills
// come with the rest of this module.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9.h"

struct EBM;

constexpr uint32_t SYSEBM_TEXTURE_NOT_OWNED = 0x10;

struct SysEBM {
    uint32_t zero;
    IDirect3DSurface9* surface;
    IDirect3DSurface9* WE_lpTempdds;
    uint32_t flags;
    IDirect3DBaseTexture9* WE_lpDestTexture;
    IDirect3DBaseTexture9* WE_lpTempTexture;
};

int S_NewSysEBM(EBM* bitmap);
void S_FreeSysEBM(EBM* bitmap);
int S_SurfaceToEBM(EBM* bitmap, IDirect3DSurface9* surface);
int S_PixelFormatFromD3D(EBM* bitmap, uint32_t* redMask, uint16_t* redBits, uint16_t* redShift, uint32_t* greenMask,
                         uint16_t* greenBits, uint16_t* greenShift, uint32_t* blueMask, uint16_t* blueBits,
                         uint16_t* blueShift, uint32_t* alphaMask, uint16_t* alphaBits, uint16_t* alphaShift);
int S_CreateEBMTexture(EBM* bitmap);
int S_ReleaseEBMSurfaces(EBM* bitmap);
const char* S_FormatName(D3DFORMAT format);
