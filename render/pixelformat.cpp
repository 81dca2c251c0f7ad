// The pixel-format table and the descriptors of Direct3D formats.
#include "render/pixelformat.h"

#include <cstring>

#include "base/ebm.h"
#include "base/log.h"
#include "system/adapters.h"
#include "system/shaderprofile.h"
#include "system/surfaces.h"

const D3DFORMAT S3D_PixelFormatTable[45] = {
    D3DFMT_R8G8B8,   D3DFMT_A8R8G8B8,   D3DFMT_X8R8G8B8,    D3DFMT_R5G6B5,      D3DFMT_X1R5G5B5,
    D3DFMT_A1R5G5B5, D3DFMT_A4R4G4B4,   D3DFMT_R3G3B2,      D3DFMT_A8,          D3DFMT_A8R3G3B2,
    D3DFMT_X4R4G4B4, D3DFMT_A8P8,       D3DFMT_P8,          D3DFMT_L8,          D3DFMT_A8L8,
    D3DFMT_A4L4,     D3DFMT_V8U8,       D3DFMT_L6V5U5,      D3DFMT_X8L8V8U8,    D3DFMT_Q8W8V8U8,
    D3DFMT_V16U16,   D3DFMT_L16,        D3DFMT_A2B10G10R10, D3DFMT_A2R10G10B10, D3DFMT_A16B16G16R16,
    D3DFMT_G16R16,   D3DFMT_A8L8,       D3DFMT_UYVY,        D3DFMT_YUY2,        D3DFMT_DXT1,
    D3DFMT_DXT2,     D3DFMT_DXT3,       D3DFMT_DXT4,        D3DFMT_DXT5,        D3DFMT_D16_LOCKABLE,
    D3DFMT_D32,      D3DFMT_D15S1,      D3DFMT_D24S8,       D3DFMT_D16,         D3DFMT_D24X8,
    D3DFMT_D24X4S4,  D3DFMT_VERTEXDATA, D3DFMT_INDEX16,     D3DFMT_INDEX32,     0,
};

int S3D_PixelFormatCode(D3DFORMAT format) {
    for (int i = 0; i < 44; ++i)
        if (S3D_PixelFormatTable[i] == format) return i;
    return 44;
}

namespace {

struct Channel {
    uint32_t mask;
    uint16_t bits, shift;
};

void Fill(TextureBitmapFormat* d, uint32_t kind, uint32_t bpp, Channel r, Channel g, Channel b, Channel a) {
    d->kind = kind;
    d->bitsPerPixel = bpp;
    d->redMask = r.mask, d->redBits = r.bits, d->redShift = r.shift;
    d->greenMask = g.mask, d->greenBits = g.bits, d->greenShift = g.shift;
    d->blueMask = b.mask, d->blueBits = b.bits, d->blueShift = b.shift;
    d->alphaMask = a.mask, d->alphaBits = a.bits, d->alphaShift = a.shift;
}

void Depth(TextureBitmapFormat* d, uint32_t kind, uint32_t bpp, Channel depth, Channel stencil) {
    d->kind = kind;
    d->bitsPerPixel = bpp;
    d->depthMask = depth.mask, d->depthBits = depth.bits, d->depthShift = depth.shift;
    d->stencilMask = stencil.mask, d->stencilBits = stencil.bits, d->stencilShift = stencil.shift;
}

constexpr Channel kNone{0, 0, 0};

}  // namespace

int S3D_EbmGetPixelFormatFromDPF(TextureBitmapFormat* d, D3DFORMAT format) {
    if (!d) return 0;
    std::memset(d, 0, sizeof *d);
    d->code = S3D_PixelFormatCode(format);
    switch (format) {
        case D3DFMT_R8G8B8: Fill(d, 4, 24, {0xFF0000, 8, 16}, {0xFF00, 8, 8}, {0xFF, 8, 0}, kNone); return 1;
        case D3DFMT_A8R8G8B8:
            Fill(d, 4, 32, {0xFF0000, 8, 16}, {0xFF00, 8, 8}, {0xFF, 8, 0}, {0xFF000000u, 8, 24});
            return 1;
        case D3DFMT_X8R8G8B8: Fill(d, 4, 32, {0xFF0000, 8, 16}, {0xFF00, 8, 8}, {0xFF, 8, 0}, kNone); return 1;
        case D3DFMT_R5G6B5: Fill(d, 4, 16, {0xF800, 5, 11}, {0x7E0, 6, 5}, {0x1F, 5, 0}, kNone); return 1;
        case D3DFMT_X1R5G5B5: Fill(d, 4, 16, {0x7C00, 5, 10}, {0x3E0, 5, 5}, {0x1F, 5, 0}, kNone); return 1;
        case D3DFMT_A1R5G5B5: Fill(d, 4, 16, {0x7C00, 5, 10}, {0x3E0, 5, 5}, {0x1F, 5, 0}, {0x8000, 1, 15}); return 1;
        case D3DFMT_A4R4G4B4: Fill(d, 4, 16, {0xF00, 4, 8}, {0xF0, 4, 4}, {0xF, 4, 0}, {0xF000, 4, 12}); return 1;
        case D3DFMT_R3G3B2: Fill(d, 4, 8, {0xE0, 3, 5}, {0x1C, 3, 2}, {0x3, 2, 0}, kNone); return 1;
        case D3DFMT_A8R3G3B2: Fill(d, 4, 16, {0xE0, 3, 5}, {0x1C, 3, 2}, {0x3, 2, 0}, {0xFF00, 8, 8}); return 1;
        case D3DFMT_X4R4G4B4: Fill(d, 4, 16, {0xF00, 4, 8}, {0xF0, 4, 4}, {0xF, 4, 0}, kNone); return 1;
        case D3DFMT_A8:
        case D3DFMT_L8: Fill(d, 4, 8, kNone, kNone, kNone, {0xFF, 8, 0}); return 1;
        case D3DFMT_V8U8:
        case D3DFMT_L6V5U5: Fill(d, 4, 16, kNone, kNone, kNone, {0xFF, 8, 0}); return 1;
        case D3DFMT_A8L8: Fill(d, 68, 16, {0, 8, 0}, kNone, kNone, {0xFF00, 8, 8}); return 1;
        case D3DFMT_P8: Fill(d, 68, 8, kNone, kNone, kNone, {0xFFFF, 16, 0}); return 1;
        case D3DFMT_X8L8V8U8:
        case D3DFMT_Q8W8V8U8:
        case D3DFMT_V16U16: Fill(d, 68, 32, kNone, kNone, kNone, {0xFFFF, 16, 0}); return 1;
        case D3DFMT_L16:
        case D3DFMT_UYVY:
        case D3DFMT_YUY2: Fill(d, 68, 16, kNone, kNone, kNone, {0xFFFF, 16, 0}); return 1;
        case D3DFMT_A2B10G10R10: Fill(d, 68, 32, {0, 10, 0}, {0, 10, 10}, {0, 10, 20}, {0, 2, 30}); return 1;
        case D3DFMT_A2R10G10B10: Fill(d, 68, 32, {0, 10, 20}, {0, 10, 10}, {0, 10, 0}, {0, 2, 30}); return 1;
        case D3DFMT_G16R16: Fill(d, 68, 32, {0xFFFF, 16, 0}, {0xFFFF0000u, 16, 16}, kNone, kNone); return 1;
        case D3DFMT_A16B16G16R16: Fill(d, 64, 64, kNone, kNone, kNone, kNone); return 1;
        case D3DFMT_DXT1: Fill(d, 68, 16, {0xF800, 5, 11}, {0x7E0, 6, 5}, {0x1F, 5, 0}, kNone); return 0;
        case D3DFMT_DXT2:
        case D3DFMT_DXT3:
        case D3DFMT_DXT4:
        case D3DFMT_DXT5: Fill(d, 68, 16, {0xF000, 4, 12}, {0xF00, 4, 8}, {0xF0, 4, 4}, {0xF, 4, 0}); return 0;
        case D3DFMT_D16_LOCKABLE:
        case D3DFMT_D16: Depth(d, 8, 16, {0xFFFF, 16, 0}, kNone); return 1;
        case D3DFMT_D32: Depth(d, 8, 32, {0xFFFFFFFFu, 32, 0}, kNone); return 1;
        case D3DFMT_D15S1: Depth(d, 24, 16, {0xFFFE, 15, 1}, {1, 1, 0}); return 1;
        case D3DFMT_D24S8: Depth(d, 24, 32, {0xFFFFFF00u, 24, 8}, {0xFF, 8, 0}); return 1;
        case D3DFMT_D24X8: Depth(d, 8, 32, {0xFFFFFF00u, 24, 8}, kNone); return 1;
        case D3DFMT_D24X4S4: Depth(d, 24, 32, {0xFFFFFF00u, 24, 8}, {0xF, 4, 0}); return 1;
        default:
            std::memset(d, 0, sizeof *d);
            if (format >= 0x1000000u)
                Qel_DPrintf(0, "S3D_EbmGetPixelFormatFromDPF(%d [%c%c%c%c]) Don't know this format!\n",
                            static_cast<int>(format), static_cast<char>(format & 0xFF),
                            static_cast<char>((format >> 8) & 0xFF), static_cast<char>((format >> 16) & 0xFF),
                            static_cast<char>((format >> 24) & 0xFF));
            else Qel_DPrintf(0, "S3D_EbmGetPixelFormatFromDPF(%d) Don't know this format!\n", static_cast<int>(format));
            return 0;
    }
}

void S3D_AddDDPFfromDX8F(DispMode* m) {
    if (!m) return;
    m->pfFlags = 0x1000000;
    auto rgb = [m](uint32_t r, uint32_t g, uint32_t b) {
        m->redMask = r;
        m->greenMask = g;
        m->blueMask = b;
    };
    switch (m->format) {
        case D3DFMT_R8G8B8:
            m->pfBitsPerPixel = 24;
            rgb(0xFF0000, 0xFF00, 0xFF);
            break;
        case D3DFMT_A8R8G8B8:
            m->pfBitsPerPixel = 32;
            m->pfAlphaBits = 8;
            rgb(0xFF0000, 0xFF00, 0xFF);
            break;
        case D3DFMT_X8R8G8B8:
            m->pfBitsPerPixel = 32;
            rgb(0xFF0000, 0xFF00, 0xFF);
            break;
        case D3DFMT_R5G6B5:
            m->pfBitsPerPixel = 16;
            rgb(0xF800, 0x7E0, 0x1F);
            break;
        case D3DFMT_X1R5G5B5:
            m->pfBitsPerPixel = 16;
            rgb(0x7C00, 0x3E0, 0x1F);
            break;
        case D3DFMT_A1R5G5B5:
            m->pfBitsPerPixel = 16;
            m->pfAlphaBits = 1;
            rgb(0x7C00, 0x3E0, 0x1F);
            break;
        case D3DFMT_A4R4G4B4:
            m->pfBitsPerPixel = 16;
            m->pfAlphaBits = 4;
            rgb(0xF00, 0xF0, 0xF);
            break;
        case D3DFMT_D16_LOCKABLE:
        case D3DFMT_D16:
            m->pfBitsPerPixel = 16;
            m->pfAlphaBits = 0;
            break;
        case D3DFMT_D32:
            m->pfFlags = 0x400;
            m->pfBitsPerPixel = 32;
            m->pfAlphaBits = 0;
            break;
        case D3DFMT_D15S1:
            m->pfFlags = 0x4400;
            m->pfBitsPerPixel = 15;
            m->pfAlphaBits = 1;
            break;
        case D3DFMT_D24S8:
            m->pfBitsPerPixel = 24;
            m->pfAlphaBits = 8;
            break;
        case D3DFMT_D24X8:
            m->pfFlags = 0x400;
            m->pfBitsPerPixel = 24;
            m->pfAlphaBits = 0;
            break;
        case D3DFMT_D24X4S4:
            m->pfFlags = 0x4400;
            m->pfBitsPerPixel = 24;
            m->pfAlphaBits = 4;
            break;
        default:
            Qel_DPrintf(0, "S3D_AddDDPFfromDX8F(%d) Don't know format!\n", static_cast<int>(m->format));
            m->pfFlags = 0;
            m->pfBitsPerPixel = 0;
            m->pfAlphaBits = 0;
            rgb(0, 0, 0);
            break;
    }
}

uint32_t S3D_PackChannel(uint32_t value8, uint16_t bits, uint16_t shift, uint32_t mask) {
    if (bits == 0) return 0;
    // Wider channels scale up: a right shift by a negative count would be undefined.
    uint32_t v = bits <= 8 ? value8 >> (8 - bits) : value8 << (bits - 8);
    return shift < 32 ? (v << shift) & mask : 0;
}

IDirect3DBaseTexture9* S_3DTextureGetSystemHandle(const EBM* bitmap) {
    if (bitmap && bitmap->sys && bitmap->sys->WE_lpDestTexture) return bitmap->sys->WE_lpDestTexture;
    Qel_DPrintf(0,
                "ERROR: S_3DTextureGetSystemHandle, TEbm->EBM_Sys.Win->WE_lpDestTexture not valid using black dummy "
                "texture\n");
    const EBM* black = g_LookupTextures.blackDummy;
    return black && black->sys ? black->sys->WE_lpDestTexture : nullptr;
}
