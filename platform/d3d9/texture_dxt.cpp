#include "platform/d3d9/texture_dxt.h"

#include <algorithm>
#include <cstring>

bool g_D3D9ForceCpuDXT = false;

// The probe of the GL context (d3d9.cpp).
bool D3D9_ContextHasS3TC();

bool D3D9_DecodeDXTOnCpu() { return g_D3D9ForceCpuDXT || !D3D9_ContextHasS3TC(); }

bool D3D9_IsDXT(D3DFORMAT format) { return D3D9_DXTBlockBytes(format) != 0; }

UINT D3D9_DXTBlockBytes(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_DXT1: return 8;
        case D3DFMT_DXT2:
        case D3DFMT_DXT3:
        case D3DFMT_DXT4:
        case D3DFMT_DXT5: return 16;
        default: return 0;
    }
}

namespace {

struct Bgra {
    uint8_t b, g, r, a;
};

Bgra Expand565(uint16_t c) {
    uint8_t r = static_cast<uint8_t>((c >> 11) & 31), g = static_cast<uint8_t>((c >> 5) & 63),
            b = static_cast<uint8_t>(c & 31);
    return {static_cast<uint8_t>((b << 3) | (b >> 2)), static_cast<uint8_t>((g << 2) | (g >> 4)),
            static_cast<uint8_t>((r << 3) | (r >> 2)), 255};
}

Bgra Mix(const Bgra& x, const Bgra& y, int wx, int wy) {
    int d = wx + wy;
    return {static_cast<uint8_t>((x.b * wx + y.b * wy) / d), static_cast<uint8_t>((x.g * wx + y.g * wy) / d),
            static_cast<uint8_t>((x.r * wx + y.r * wy) / d), 255};
}

// The colour half of a block: four colours and 2-bit indices.
void ColourBlock(const uint8_t* p, bool dxt1, Bgra out[16]) {
    uint16_t c0 = static_cast<uint16_t>(p[0] | (p[1] << 8)), c1 = static_cast<uint16_t>(p[2] | (p[3] << 8));
    uint32_t idx = static_cast<uint32_t>(p[4]) | (static_cast<uint32_t>(p[5]) << 8) |
                   (static_cast<uint32_t>(p[6]) << 16) | (static_cast<uint32_t>(p[7]) << 24);
    Bgra c[4];
    c[0] = Expand565(c0);
    c[1] = Expand565(c1);
    if (!dxt1 || c0 > c1) {
        c[2] = Mix(c[0], c[1], 2, 1);
        c[3] = Mix(c[0], c[1], 1, 2);
    } else {
        c[2] = Mix(c[0], c[1], 1, 1);
        c[3] = {0, 0, 0, 0};
    }
    for (int i = 0; i < 16; ++i) out[i] = c[(idx >> (2 * i)) & 3];
}

void ExplicitAlpha(const uint8_t* p, Bgra out[16]) {
    for (int i = 0; i < 16; ++i) {
        uint8_t nib = static_cast<uint8_t>((p[i / 2] >> (4 * (i & 1))) & 0xF);
        out[i].a = static_cast<uint8_t>(nib * 17);
    }
}

void InterpolatedAlpha(const uint8_t* p, Bgra out[16]) {
    int a0 = p[0], a1 = p[1];
    int a[8] = {a0, a1, 0, 0, 0, 0, 0, 0};
    if (a0 > a1) {
        for (int i = 1; i < 7; ++i) a[i + 1] = ((7 - i) * a0 + i * a1) / 7;
    } else {
        for (int i = 1; i < 5; ++i) a[i + 1] = ((5 - i) * a0 + i * a1) / 5;
        a[6] = 0;
        a[7] = 255;
    }
    uint64_t bits = 0;
    for (int i = 0; i < 6; ++i) bits |= static_cast<uint64_t>(p[2 + i]) << (8 * i);
    for (int i = 0; i < 16; ++i) out[i].a = static_cast<uint8_t>(a[(bits >> (3 * i)) & 7]);
}

}  // namespace

void D3D9_DecodeDXT(D3DFORMAT format, UINT w, UINT h, const uint8_t* blocks, UINT blockPitch, uint8_t* bgra,
                    UINT dstPitch) {
    UINT bytes = D3D9_DXTBlockBytes(format);
    if (!bytes) return;
    for (UINT by = 0; by < (h + 3) / 4; ++by) {
        const uint8_t* row = blocks + static_cast<size_t>(by) * blockPitch;
        for (UINT bx = 0; bx < (w + 3) / 4; ++bx) {
            const uint8_t* p = row + static_cast<size_t>(bx) * bytes;
            Bgra px[16];
            if (format == D3DFMT_DXT1) {
                ColourBlock(p, true, px);
            } else {
                ColourBlock(p + 8, false, px);
                if (format == D3DFMT_DXT2 || format == D3DFMT_DXT3) ExplicitAlpha(p, px);
                else InterpolatedAlpha(p, px);
            }
            for (UINT y = 0; y < 4 && by * 4 + y < h; ++y)
                for (UINT x = 0; x < 4 && bx * 4 + x < w; ++x) {
                    uint8_t* d =
                        bgra + static_cast<size_t>(by * 4 + y) * dstPitch + static_cast<size_t>(bx * 4 + x) * 4;
                    const Bgra& s = px[y * 4 + x];
                    d[0] = s.b;
                    d[1] = s.g;
                    d[2] = s.r;
                    d[3] = s.a;
                }
        }
    }
}
