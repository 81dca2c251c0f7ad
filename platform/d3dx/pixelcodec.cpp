#include "platform/d3dx/pixelcodec.h"

#include <cstring>

#include "platform/d3d9/texture_dxt.h"

namespace {

inline uint32_t Load(const uint8_t* p, UINT n) {
    uint32_t v = 0;
    std::memcpy(&v, p, n);
    return v;
}
inline void Store(uint8_t* p, uint32_t v, UINT n) { std::memcpy(p, &v, n); }

// A channel of n bits widened to 8 by repeating its top bits.
inline uint8_t Widen(uint32_t v, int n) {
    v &= (1u << n) - 1;
    uint32_t out = v << (8 - n);
    for (int have = n; have < 8; have += n) out |= (v << (8 - n)) >> have;
    return static_cast<uint8_t>(out);
}

}  // namespace

UINT D3DX_CodecBytes(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_A8R8G8B8:
        case D3DFMT_X8R8G8B8:
        case D3DFMT_A8B8G8R8:
        case D3DFMT_X8B8G8R8: return 4;
        case D3DFMT_R8G8B8: return 3;
        case D3DFMT_R5G6B5:
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5:
        case D3DFMT_A4R4G4B4:
        case D3DFMT_X4R4G4B4:
        case D3DFMT_A8L8: return 2;
        case D3DFMT_L8:
        case D3DFMT_A8: return 1;
        default: return 0;
    }
}

bool D3DX_CanDecode(D3DFORMAT format) { return D3DX_CodecBytes(format) || D3D9_IsDXT(format); }
bool D3DX_CanEncode(D3DFORMAT format) { return D3DX_CodecBytes(format) != 0 && format != D3DFMT_R8G8B8; }

bool D3DX_Decode(D3DFORMAT format, UINT w, UINT h, const uint8_t* src, UINT srcPitch, uint8_t* bgra) {
    if (D3D9_IsDXT(format)) {
        D3D9_DecodeDXT(format, w, h, src, srcPitch, bgra, w * 4);
        return true;
    }
    UINT n = D3DX_CodecBytes(format);
    if (!n) return false;
    for (UINT y = 0; y < h; ++y) {
        const uint8_t* s = src + static_cast<size_t>(y) * srcPitch;
        uint8_t* d = bgra + static_cast<size_t>(y) * w * 4;
        for (UINT x = 0; x < w; ++x, s += n, d += 4) {
            uint32_t v = Load(s, n);
            uint8_t b = 0, g = 0, r = 0, a = 255;
            switch (format) {
                case D3DFMT_A8R8G8B8: b = s[0], g = s[1], r = s[2], a = s[3]; break;
                case D3DFMT_X8R8G8B8:
                case D3DFMT_R8G8B8: b = s[0], g = s[1], r = s[2]; break;
                case D3DFMT_A8B8G8R8: r = s[0], g = s[1], b = s[2], a = s[3]; break;
                case D3DFMT_X8B8G8R8: r = s[0], g = s[1], b = s[2]; break;
                case D3DFMT_R5G6B5: r = Widen(v >> 11, 5), g = Widen(v >> 5, 6), b = Widen(v, 5); break;
                case D3DFMT_X1R5G5B5: r = Widen(v >> 10, 5), g = Widen(v >> 5, 5), b = Widen(v, 5); break;
                case D3DFMT_A1R5G5B5:
                    r = Widen(v >> 10, 5), g = Widen(v >> 5, 5), b = Widen(v, 5), a = (v & 0x8000) ? 255 : 0;
                    break;
                case D3DFMT_A4R4G4B4:
                    a = Widen(v >> 12, 4), r = Widen(v >> 8, 4), g = Widen(v >> 4, 4), b = Widen(v, 4);
                    break;
                case D3DFMT_X4R4G4B4: r = Widen(v >> 8, 4), g = Widen(v >> 4, 4), b = Widen(v, 4); break;
                case D3DFMT_A8L8: r = g = b = s[0], a = s[1]; break;
                case D3DFMT_L8: r = g = b = s[0]; break;
                case D3DFMT_A8: r = g = b = 0, a = s[0]; break;
                default: return false;
            }
            d[0] = b, d[1] = g, d[2] = r, d[3] = a;
        }
    }
    return true;
}

bool D3DX_Encode(D3DFORMAT format, UINT w, UINT h, const uint8_t* bgra, uint8_t* dst, UINT dstPitch) {
    if (!D3DX_CanEncode(format)) return false;
    UINT n = D3DX_CodecBytes(format);
    for (UINT y = 0; y < h; ++y) {
        const uint8_t* s = bgra + static_cast<size_t>(y) * w * 4;
        uint8_t* d = dst + static_cast<size_t>(y) * dstPitch;
        for (UINT x = 0; x < w; ++x, s += 4, d += n) {
            uint32_t b = s[0], g = s[1], r = s[2], a = s[3];
            switch (format) {
                case D3DFMT_A8R8G8B8: d[0] = s[0], d[1] = s[1], d[2] = s[2], d[3] = s[3]; break;
                case D3DFMT_X8R8G8B8: d[0] = s[0], d[1] = s[1], d[2] = s[2], d[3] = 0xFF; break;
                case D3DFMT_A8B8G8R8: d[0] = s[2], d[1] = s[1], d[2] = s[0], d[3] = s[3]; break;
                case D3DFMT_X8B8G8R8: d[0] = s[2], d[1] = s[1], d[2] = s[0], d[3] = 0xFF; break;
                case D3DFMT_R5G6B5: Store(d, ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3), 2); break;
                case D3DFMT_X1R5G5B5: Store(d, 0x8000 | ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3), 2); break;
                case D3DFMT_A1R5G5B5:
                    Store(d, (a >= 128 ? 0x8000 : 0) | ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3), 2);
                    break;
                case D3DFMT_A4R4G4B4:
                    Store(d, ((a >> 4) << 12) | ((r >> 4) << 8) | ((g >> 4) << 4) | (b >> 4), 2);
                    break;
                case D3DFMT_X4R4G4B4: Store(d, 0xF000 | ((r >> 4) << 8) | ((g >> 4) << 4) | (b >> 4), 2); break;
                case D3DFMT_A8L8:
                    d[0] = static_cast<uint8_t>((r * 77 + g * 150 + b * 29) >> 8), d[1] = static_cast<uint8_t>(a);
                    break;
                case D3DFMT_L8: d[0] = static_cast<uint8_t>((r * 77 + g * 150 + b * 29) >> 8); break;
                case D3DFMT_A8: d[0] = static_cast<uint8_t>(a); break;
                default: return false;
            }
        }
    }
    return true;
}
