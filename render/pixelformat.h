// The renderer's pixel-format table and format descriptors: the one place that
// joins the bitmap pixel-format codes to Direct3D formats.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9.h"

struct DispMode;
struct EBM;

// Direct3D format by bitmap pixel-format code (0 to 43), ended by 0 at 44.
extern const D3DFORMAT S3D_PixelFormatTable[45];

// Kind flags of a descriptor.
constexpr uint32_t TBF_KIND_PACKED = 4;    // packed colour, described by the masks
constexpr uint32_t TBF_KIND_SPECIAL = 68;  // not plain masked channels
constexpr uint32_t TBF_KIND_WIDE = 64;     // 64-bit four-channel
constexpr uint32_t TBF_KIND_DEPTH = 8;
constexpr uint32_t TBF_KIND_DEPTH_STENCIL = 24;

struct TextureBitmapFormat {
    int32_t code;  // index in S3D_PixelFormatTable
    uint32_t kind;
    uint32_t bitsPerPixel;
    uint32_t redMask;
    uint16_t redBits, redShift;
    uint32_t greenMask;
    uint16_t greenBits, greenShift;
    uint32_t blueMask;
    uint16_t blueBits, blueShift;
    uint32_t alphaMask;
    uint16_t alphaBits, alphaShift;
    uint32_t depthMask;
    uint16_t depthBits, depthShift;
    uint32_t stencilMask;
    uint16_t stencilBits, stencilShift;
};

// Code of a format: the first equal entry, 44 when absent.
int S3D_PixelFormatCode(D3DFORMAT format);

// Fills the descriptor; 1 for a described format, 0 for block-compressed ones
// (filled all the same) and for unknown formats (zeroed, logged).
int S3D_EbmGetPixelFormatFromDPF(TextureBitmapFormat* out, D3DFORMAT format);

// Fills a display mode's pixel description from the format it already holds.
void S3D_AddDDPFfromDX8F(DispMode* mode);

// An 8-bit channel value packed into its place in a pixel: (v shifted right by
// 8 - bits, or left by bits - 8 for channels wider than 8 bits) shifted left
// by shift, masked. A channel of 0 bits packs to 0.
uint32_t S3D_PackChannel(uint32_t value8, uint16_t bits, uint16_t shift, uint32_t mask);

// The texture behind a texture bitmap; a missing one is logged and the black
// dummy texture answers in its place, so drawing goes on with black. A base
// texture: a cube-map bitmap answers its cube texture.
IDirect3DBaseTexture9* S_3DTextureGetSystemHandle(const EBM* bitmap);
