#include "base/pixelformats.h"

#include <cstring>
#include <utility>

#include "base/convert.h"
#include "base/display.h"
#include "base/ebm.h"
#include "base/log.h"
#include "system/surfaces.h"
#include "system/video.h"

const uint16_t Qel_ChannelMaskTab[16] = {0x0, 0x1, 0x3, 0x7, 0xF, 0x1F, 0x3F, 0x7F, 0xFF, 0, 0, 0, 0, 0, 0, 0};

uint32_t Qel_RowOffset(const EBM* bitmap, int y) {
    if (!(bitmap->flags & EBM_SHORT) && bitmap->EBM_RowOffsetTab && y >= 0 &&
        static_cast<uint32_t>(y) < bitmap->rowOffsetTabSize / sizeof(uint32_t))
        return bitmap->EBM_RowOffsetTab[y];
    return static_cast<uint32_t>(y) * bitmap->rowDistance;
}

uint8_t* Qel_PixelAddress(const EBM* bitmap, int x, int y) {
    return bitmap->plane0 + Qel_RowOffset(bitmap, y) + static_cast<uint32_t>(x) * bitmap->bytesPerPixel;
}

uint32_t Qel_OpaquePixel32(const EBM* bitmap, uint32_t rgb) {
    return (S_RGBToPixel(bitmap, rgb) & 0x00FFFFFFu) | 0xFF000000u;
}

namespace {

inline uint16_t Load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void Store16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
inline void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// Where the channels of a bitmap's pixels lie: its own surface format, else the
// screen's description, else the fixed layouts (5-6-5, blue-green-red bytes).
struct ChannelLayout {
    int shift[4];  // red, green, blue, alpha
    int bits[4];
};

ChannelLayout LayoutOf(const EBM* b) {
    ChannelLayout l{};
    if (b->sys && b->sys->surface) {
        uint32_t m[4];
        uint16_t bits[4], shift[4];
        if (S_PixelFormatFromD3D(const_cast<EBM*>(b), &m[0], &bits[0], &shift[0], &m[1], &bits[1], &shift[1], &m[2],
                                 &bits[2], &shift[2], &m[3], &bits[3], &shift[3])) {
            for (int i = 0; i < 4; ++i) {
                l.shift[i] = shift[i];
                l.bits[i] = bits[i];
            }
            return l;
        }
    }
    const VideoRecord* vr = g_VideoRecord;
    if (vr && vr->redBits && vr->greenBits && vr->blueBits) {
        l = {{vr->redShift, vr->greenShift, vr->blueShift, 0}, {vr->redBits, vr->greenBits, vr->blueBits, 0}};
        return l;
    }
    if (b->bytesPerPixel == 2) return {{11, 5, 0, 0}, {5, 6, 5, 0}};
    return {{16, 8, 0, 0}, {8, 8, 8, 0}};
}

}  // namespace

// ---------------------------------------------------------------- half-size averaging

void Qel_HalfAveraged16(EBM* dst, const EBM* src) {
    ChannelLayout l = LayoutOf(src);
    int w = src->width / 2, h = src->height / 2;
    if (w > dst->width) w = dst->width;
    if (h > dst->height) h = dst->height;
    for (int y = 0; y < h; ++y) {
        const uint8_t* s0 = src->plane0 + Qel_RowOffset(src, 2 * y);
        const uint8_t* s1 = src->plane0 + Qel_RowOffset(src, 2 * y + 1);
        uint8_t* d = dst->plane0 + Qel_RowOffset(dst, y);
        for (int x = 0; x < w; ++x) {
            uint32_t p[4] = {Load16(s0 + 4 * x), Load16(s0 + 4 * x + 2), Load16(s1 + 4 * x), Load16(s1 + 4 * x + 2)};
            uint32_t out = 0;
            for (int c = 0; c < 4; ++c) {
                if (!l.bits[c]) continue;
                uint32_t mask = Qel_ChannelMaskTab[l.bits[c] & 15];
                uint32_t sum = 0;
                for (uint32_t v : p) sum += (v >> l.shift[c]) & mask;
                out |= ((sum >> 2) & mask) << l.shift[c];
            }
            Store16(d + 2 * x, static_cast<uint16_t>(out));
        }
    }
}

static void HalfAveragedBytes(EBM* dst, const EBM* src, int bpp) {
    ChannelLayout l = LayoutOf(src);
    // The colour bytes, and on a texture with alpha the alpha byte as well; a
    // fourth byte without meaning is left as it is.
    int pos[4];
    int n = 0;
    for (int c = 0; c < 3; ++c) pos[n++] = l.shift[c] / 8;
    if (bpp == 4 && l.bits[3] == 8) pos[n++] = l.shift[3] / 8;
    int w = src->width / 2, h = src->height / 2;
    if (w > dst->width) w = dst->width;
    if (h > dst->height) h = dst->height;
    int dbpp = dst->bytesPerPixel;
    for (int y = 0; y < h; ++y) {
        const uint8_t* s0 = src->plane0 + Qel_RowOffset(src, 2 * y);
        const uint8_t* s1 = src->plane0 + Qel_RowOffset(src, 2 * y + 1);
        uint8_t* d = dst->plane0 + Qel_RowOffset(dst, y);
        for (int x = 0; x < w; ++x) {
            const uint8_t* a = s0 + 2 * x * bpp;
            const uint8_t* c = s1 + 2 * x * bpp;
            for (int i = 0; i < n; ++i) {
                int k = pos[i];
                d[x * dbpp + k] = static_cast<uint8_t>((a[k] + a[bpp + k] + c[k] + c[bpp + k]) >> 2);
            }
        }
    }
}

void Qel_HalfAveraged24(EBM* dst, const EBM* src) { HalfAveragedBytes(dst, src, 3); }
void Qel_HalfAveraged32(EBM* dst, const EBM* src) { HalfAveragedBytes(dst, src, 4); }

// ---------------------------------------------------------------- cookie and block copies

void Qel_Cookie8(const EBM* src, int sx, int sy, int w, int h, EBM* dst, int dx, int dy, uint8_t threshold) {
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = Qel_PixelAddress(src, sx, sy + y);
        uint8_t* d = Qel_PixelAddress(dst, dx, dy + y);
        for (int x = 0; x < w; ++x)
            if (s[x] > threshold) d[x] = s[x];
    }
}

void Qel_Cookie16(const EBM* src, int sx, int sy, int w, int h, EBM* dst, int dx, int dy, uint8_t threshold) {
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = Qel_PixelAddress(src, sx, sy + y);
        uint8_t* d = Qel_PixelAddress(dst, dx, dy + y);
        for (int x = 0; x < w; ++x) {
            uint16_t v = Load16(s + 2 * x);
            if (v > threshold) Store16(d + 2 * x, v);
        }
    }
}

static void CookieTrue(const EBM* src, int sx, int sy, int w, int h, EBM* dst, int dx, int dy, uint8_t threshold) {
    int sb = src->bytesPerPixel, db = dst->bytesPerPixel;
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = Qel_PixelAddress(src, sx, sy + y);
        uint8_t* d = Qel_PixelAddress(dst, dx, dy + y);
        for (int x = 0; x < w; ++x, s += sb, d += db)
            if (s[0] > threshold || s[1] > threshold || s[2] > threshold) {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
            }
    }
}

void Qel_Cookie24(const EBM* src, int sx, int sy, int w, int h, EBM* dst, int dx, int dy, uint8_t threshold) {
    CookieTrue(src, sx, sy, w, h, dst, dx, dy, threshold);
}
void Qel_Cookie32(const EBM* src, int sx, int sy, int w, int h, EBM* dst, int dx, int dy, uint8_t threshold) {
    CookieTrue(src, sx, sy, w, h, dst, dx, dy, threshold);
}

void Qel_BlockCopy(const EBM* src, int sx, int sy, int w, int h, EBM* dst, int dx, int dy) {
    size_t bytes = static_cast<size_t>(w) * static_cast<size_t>(src->bytesPerPixel);
    for (int y = 0; y < h; ++y)
        std::memmove(Qel_PixelAddress(dst, dx, dy + y), Qel_PixelAddress(src, sx, sy + y), bytes);
}

// ---------------------------------------------------------------- pixels

void Qel_SetPix8(EBM* b, int x, int y, uint32_t colour) { *Qel_PixelAddress(b, x, y) = static_cast<uint8_t>(colour); }

void Qel_SetPix16(EBM* b, int x, int y, uint32_t colour) {
    Store16(Qel_PixelAddress(b, x, y), static_cast<uint16_t>(S_RGBToPixel(b, colour)));
}

void Qel_SetPix24(EBM* b, int x, int y, uint32_t colour) {
    uint32_t p = S_RGBToPixel(b, colour);
    uint8_t* d = Qel_PixelAddress(b, x, y);
    d[0] = static_cast<uint8_t>(p);
    d[1] = static_cast<uint8_t>(p >> 8);
    d[2] = static_cast<uint8_t>(p >> 16);
}

void Qel_SetPix32(EBM* b, int x, int y, uint32_t colour) {
    Store32(Qel_PixelAddress(b, x, y), Qel_OpaquePixel32(b, colour));
}

static inline void PlanarPut(EBM* b, int x, int y, uint32_t colour) {
    uint8_t* row = b->plane0 + Qel_RowOffset(b, y) + (x >> 3);
    uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
    for (int p = 0; p < b->bitsPerPixel; ++p, row += b->planeDistance) {
        if (colour & (1u << p)) *row |= bit;
        else *row &= static_cast<uint8_t>(~bit);
    }
}

void Qel_SetPixPlanar(EBM* b, int x, int y, uint32_t colour) { PlanarPut(b, x, y, colour); }

// ---------------------------------------------------------------- spans

void Qel_Span8(EBM* b, int y, int a, int e, uint32_t colour) {
    std::memset(Qel_PixelAddress(b, a, y), static_cast<uint8_t>(colour), static_cast<size_t>(e - a + 1));
}

void Qel_Span16(EBM* b, int y, int a, int e, uint32_t colour) {
    uint16_t p = static_cast<uint16_t>(S_RGBToPixel(b, colour));
    uint32_t pair = static_cast<uint32_t>(p) | (static_cast<uint32_t>(p) << 16);
    uint8_t* d = Qel_PixelAddress(b, a, y);
    int n = e - a + 1;
    for (; n >= 2; n -= 2, d += 4) Store32(d, pair);
    if (n) Store16(d, p);
}

void Qel_Span24(EBM* b, int y, int a, int e, uint32_t colour) {
    uint32_t p = S_RGBToPixel(b, colour);
    uint8_t* d = Qel_PixelAddress(b, a, y);
    for (int x = a; x <= e; ++x, d += 3) {
        d[0] = static_cast<uint8_t>(p);
        d[1] = static_cast<uint8_t>(p >> 8);
        d[2] = static_cast<uint8_t>(p >> 16);
    }
}

void Qel_Span32(EBM* b, int y, int a, int e, uint32_t colour) {
    uint32_t p = Qel_OpaquePixel32(b, colour);
    uint8_t* d = Qel_PixelAddress(b, a, y);
    for (int x = a; x <= e; ++x, d += 4) Store32(d, p);
}

void Qel_SpanPlanar(EBM* b, int y, int a, int e, uint32_t colour) {
    int firstByte = a >> 3, lastByte = e >> 3;
    uint8_t startMask = static_cast<uint8_t>(0xFF >> (a & 7));
    uint8_t endMask = static_cast<uint8_t>(0xFF << (7 - (e & 7)));
    uint8_t* row = b->plane0 + Qel_RowOffset(b, y);
    for (int p = 0; p < b->bitsPerPixel; ++p, row += b->planeDistance) {
        bool set = (colour >> p) & 1;
        for (int i = firstByte; i <= lastByte; ++i) {
            uint8_t m = 0xFF;
            if (i == firstByte) m &= startMask;
            if (i == lastByte) m &= endMask;
            if (set) row[i] |= m;
            else row[i] &= static_cast<uint8_t>(~m);
        }
    }
}

// ---------------------------------------------------------------- lines

namespace {

// Bresenham along the major axis; plot(x, y) for every point from the first
// endpoint to the second in forward order.
template <class Plot>
void Bresenham(int x0, int y0, int x1, int y1, Plot plot) {
    int dx = x1 - x0, dy = y1 - y0;
    int adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    if (adx >= ady) {
        if (x0 > x1) {
            std::swap(x0, x1);
            std::swap(y0, y1);
        }
        int step = y1 >= y0 ? 1 : -1;
        int err = 2 * ady - adx;
        for (int x = x0, y = y0; x <= x1; ++x) {
            plot(x, y);
            if (err > 0) {
                y += step;
                err -= 2 * adx;
            }
            err += 2 * ady;
        }
    } else {
        if (y0 > y1) {
            std::swap(x0, x1);
            std::swap(y0, y1);
        }
        int step = x1 >= x0 ? 1 : -1;
        int err = 2 * adx - ady;
        for (int y = y0, x = x0; y <= y1; ++y) {
            plot(x, y);
            if (err > 0) {
                x += step;
                err -= 2 * ady;
            }
            err += 2 * adx;
        }
    }
}

}  // namespace

void Qel_Line8(EBM* b, int x0, int y0, int x1, int y1, uint32_t colour) {
    uint8_t c = static_cast<uint8_t>(colour);
    Bresenham(x0, y0, x1, y1, [&](int x, int y) { *Qel_PixelAddress(b, x, y) = c; });
}

void Qel_Line16(EBM* b, int x0, int y0, int x1, int y1, uint32_t colour) {
    uint16_t c = static_cast<uint16_t>(S_RGBToPixel(b, colour));
    Bresenham(x0, y0, x1, y1, [&](int x, int y) { Store16(Qel_PixelAddress(b, x, y), c); });
}

void Qel_LineTrueColor(EBM* b, int x0, int y0, int x1, int y1, uint32_t colour) {
    if (b->bytesPerPixel == 4) {
        uint32_t c = Qel_OpaquePixel32(b, colour);
        Bresenham(x0, y0, x1, y1, [&](int x, int y) { Store32(Qel_PixelAddress(b, x, y), c); });
        return;
    }
    uint32_t c = S_RGBToPixel(b, colour);
    Bresenham(x0, y0, x1, y1, [&](int x, int y) {
        uint8_t* d = Qel_PixelAddress(b, x, y);
        d[0] = static_cast<uint8_t>(c);
        d[1] = static_cast<uint8_t>(c >> 8);
        d[2] = static_cast<uint8_t>(c >> 16);
    });
}

// ---------------------------------------------------------------- one-colour mask blits

namespace {

constexpr uint8_t kBitTab[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};

template <class Put>
void MaskWalk(const EBM* mask, int mx, int my, int w, int h, Put put) {
    for (int y = 0; y < h; ++y) {
        const uint8_t* m = mask->plane0 + Qel_RowOffset(mask, my + y);
        for (int x = 0; x < w; ++x) {
            int bx = mx + x;
            if (m[bx >> 3] & kBitTab[bx & 7]) put(x, y);
        }
    }
}

}  // namespace

void Qel_BitSet8(const EBM* mask, int mx, int my, int w, int h, EBM* dst, int dx, int dy, uint32_t colour) {
    uint8_t c = static_cast<uint8_t>(colour);
    MaskWalk(mask, mx, my, w, h, [&](int x, int y) { *Qel_PixelAddress(dst, dx + x, dy + y) = c; });
}

void Qel_BitSet16(const EBM* mask, int mx, int my, int w, int h, EBM* dst, int dx, int dy, uint32_t colour) {
    uint16_t c = static_cast<uint16_t>(S_RGBToPixel(dst, colour));
    MaskWalk(mask, mx, my, w, h, [&](int x, int y) { Store16(Qel_PixelAddress(dst, dx + x, dy + y), c); });
}

void Qel_BitSet24(const EBM* mask, int mx, int my, int w, int h, EBM* dst, int dx, int dy, uint32_t colour) {
    uint32_t c = S_RGBToPixel(dst, colour);
    MaskWalk(mask, mx, my, w, h, [&](int x, int y) {
        uint8_t* d = Qel_PixelAddress(dst, dx + x, dy + y);
        d[0] = static_cast<uint8_t>(c);
        d[1] = static_cast<uint8_t>(c >> 8);
        d[2] = static_cast<uint8_t>(c >> 16);
    });
}

void Qel_BitSet32(const EBM* mask, int mx, int my, int w, int h, EBM* dst, int dx, int dy, uint32_t colour) {
    uint32_t c = Qel_OpaquePixel32(dst, colour);
    MaskWalk(mask, mx, my, w, h, [&](int x, int y) { Store32(Qel_PixelAddress(dst, dx + x, dy + y), c); });
}

void Qel_BitSetPlanar(const EBM* mask, int mx, int my, int w, int h, EBM* dst, int dx, int dy, uint32_t colour) {
    MaskWalk(mask, mx, my, w, h, [&](int x, int y) { PlanarPut(dst, dx + x, dy + y, colour); });
}

// ---------------------------------------------------------------- RGB uploads

void Qel_RGBTo16(EBM* b, const uint8_t* rgb) {
    for (int y = 0; y < b->height; ++y) {
        uint8_t* d = b->plane0 + Qel_RowOffset(b, y);
        for (int x = 0; x < b->width; ++x, rgb += 3)
            Store16(d + 2 * x, static_cast<uint16_t>(((rgb[0] & 0xF8) << 8) | ((rgb[1] & 0xFC) << 3) | (rgb[2] >> 3)));
    }
    Qel_ChangeBitOrdering(b);
}

void Qel_RGBToTrueColor(EBM* b, const uint8_t* rgb) {
    // Blue, green, red in bytes 0, 1, 2: the fixed layout the reordering reads.
    int bpp = b->bytesPerPixel;
    for (int y = 0; y < b->height; ++y) {
        uint8_t* d = b->plane0 + Qel_RowOffset(b, y);
        for (int x = 0; x < b->width; ++x, rgb += 3, d += bpp) {
            d[0] = rgb[2];
            d[1] = rgb[1];
            d[2] = rgb[0];
            if (bpp == 4) d[3] = 0xFF;
        }
    }
    Qel_ChangeBitOrdering(b);
}

// ---------------------------------------------------------------- alpha blit

void S_AlphaBlitR8G8B8A8(uint32_t tint, EBM* dst, const EBM* src, int dx, int dy, int sx, int sy, int w, int h) {
    if (!dst || !src || !dst->plane0 || !src->plane0) {
        Qel_ErrPrintf("ERROR: S_AlphaBlitR8G8B8A8() Surface not locked or NULL!\n");
        return;
    }
    uint32_t k[3] = {tint & 0xFF, (tint >> 8) & 0xFF, (tint >> 16) & 0xFF};
    int db = dst->bytesPerPixel;
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = Qel_PixelAddress(src, sx, sy + y);
        uint8_t* d = Qel_PixelAddress(dst, dx, dy + y);
        for (int x = 0; x < w; ++x, s += 4, d += db) {
            uint32_t a = s[3];
            for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>((s[c] * a * k[c] + d[c] * (255 - a) * 256) >> 16);
            if (db == 4) d[3] = static_cast<uint8_t>(((d[3] * (255 - a)) >> 8) + a);
        }
    }
}
