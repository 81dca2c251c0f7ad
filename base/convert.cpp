#include "base/convert.h"

#include <cstring>

#include "base/display.h"
#include "base/ebm.h"
#include "base/log.h"
#include "base/pixelformats.h"
#include "system/surfaces.h"
#include "system/video.h"

namespace {

constexpr uint32_t kDepthFlags = EBM_16BIT | EBM_24BIT | EBM_32BIT;

inline uint16_t Load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void Store16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

// A channel at its fixed place (top bit fixedTop, mask fixedMask) moved to the
// screen's place and cut to the screen's mask.
inline uint32_t MoveChannel(uint32_t p, uint32_t fixedMask, int fixedTop, int screenTop, uint32_t screenMask) {
    uint32_t v = p & fixedMask;
    int d = screenTop - fixedTop;
    v = d >= 0 ? v << d : v >> -d;
    return v & screenMask;
}

inline uint32_t ScreenMask(int shift, int bits) { return ((1u << bits) - 1u) << shift; }

}  // namespace

void Qel_ChangeBitOrdering(EBM* bitmap) {
    if (!bitmap) return;
    SurfaceLocks locks{};
    if (!S_LockForDrawing(&locks, bitmap, nullptr)) {
        Qel_ErrPrintf("ERROR: Qel_ChangeBitOrdering() S_Locking surfaces \n");
        return;
    }
    const VideoRecord* vr = g_VideoRecord;
    const EBM* screen = vr ? vr->VideoEBM : nullptr;
    if (screen && (screen->flags & EBM_16BIT) && (bitmap->flags & EBM_16BIT)) {
        int dpr = vr->redShift - 11, dpg = vr->greenShift - 5, dpb = vr->blueShift;
        int dsr = vr->redBits - 5, dsg = vr->greenBits - 6, dsb = vr->blueBits - 5;
        if (dpr || dpg || dpb || dsr || dsg || dsb) {
            Qel_DPrintf(0, "Qel_ChangeBitOrdering: Hi-color\ndpr=%d, dpg=%d, dpb=%d\n!\ndsr=%d, dsg=%d, dsb=%d\n!\n",
                        dpr, dpg, dpb, dsr, dsg, dsb);
            uint32_t rm = ScreenMask(vr->redShift, vr->redBits), gm = ScreenMask(vr->greenShift, vr->greenBits),
                     bm = ScreenMask(vr->blueShift, vr->blueBits);
            int rt = vr->redShift + vr->redBits - 1, gt = vr->greenShift + vr->greenBits - 1,
                bt = vr->blueShift + vr->blueBits - 1;
            for (int y = 0; y < bitmap->height; ++y) {
                uint8_t* row = bitmap->plane0 + Qel_RowOffset(bitmap, y);
                for (int x = 0; x < bitmap->width; ++x) {
                    uint32_t p = Load16(row + 2 * x);
                    uint32_t out = MoveChannel(p, 0xF800, 15, rt, rm) | MoveChannel(p, 0x07E0, 10, gt, gm) |
                                   MoveChannel(p, 0x001F, 4, bt, bm);
                    Store16(row + 2 * x, static_cast<uint16_t>(out));
                }
            }
        }
    } else if (screen && (screen->flags & (EBM_24BIT | EBM_32BIT)) && (bitmap->flags & (EBM_24BIT | EBM_32BIT))) {
        bool fixed = vr->redShift == 16 && vr->greenShift == 8 && vr->blueShift == 0 && vr->redBits == 8 &&
                     vr->greenBits == 8 && vr->blueBits == 8;
        if (!fixed) {
            int rp = vr->redShift / 8, gp = vr->greenShift / 8, bp = vr->blueShift / 8;
            int bpp = bitmap->bytesPerPixel;
            for (int y = 0; y < bitmap->height; ++y) {
                uint8_t* p = bitmap->plane0 + Qel_RowOffset(bitmap, y);
                for (int x = 0; x < bitmap->width; ++x, p += bpp) {
                    uint8_t b = p[0], g = p[1], r = p[2];
                    p[rp] = r;
                    p[gp] = g;
                    p[bp] = b;
                }
            }
        }
    }
    S_UnlockAfterDrawing(&locks);
}

int Qel_ChangeEBMType(EBM* dst, EBM* src) {
    if (!dst || !src) return 0;
    SurfaceLocks locks{};
    if (!S_LockForDrawing(&locks, dst, src)) {
        Qel_ErrPrintf("ERROR: Qel_ChangeEBMType: S_LockDDSurfaces() Failed \n");
        return 0;
    }
    int result = 1;
    uint32_t sd = src->flags & kDepthFlags, dd = dst->flags & kDepthFlags;
    int w = src->width, h = src->height;
    int sb = src->bytesPerPixel, db = dst->bytesPerPixel;
    if (dst->width != w || dst->height != h) {
        Qel_ErrPrintf("Qel_ChangeEBMType: ebm not of equal size\n");
        result = 0;
    } else if (sd == dd && (src->flags & EBM_CHUNKY) && (dst->flags & EBM_CHUNKY)) {
        // Only the pixels of a row: a surface's pitch may be wider than the other's.
        size_t bytes = static_cast<size_t>(w) * static_cast<size_t>(sb);
        for (int y = 0; y < h; ++y)
            std::memcpy(dst->plane0 + Qel_RowOffset(dst, y), src->plane0 + Qel_RowOffset(src, y), bytes);
    } else if ((sd == EBM_24BIT || sd == EBM_32BIT) && dd == EBM_16BIT) {
        for (int y = 0; y < h; ++y) {
            const uint8_t* s = src->plane0 + Qel_RowOffset(src, y);
            uint8_t* d = dst->plane0 + Qel_RowOffset(dst, y);
            for (int x = 0; x < w; ++x, s += sb, d += 2)
                Store16(d, static_cast<uint16_t>(((s[2] & 0xF8) << 8) | ((s[1] & 0xFC) << 3) | (s[0] >> 3)));
        }
    } else if (sd == EBM_16BIT && (dd == EBM_24BIT || dd == EBM_32BIT)) {
        for (int y = 0; y < h; ++y) {
            const uint8_t* s = src->plane0 + Qel_RowOffset(src, y);
            uint8_t* d = dst->plane0 + Qel_RowOffset(dst, y);
            for (int x = 0; x < w; ++x, s += 2, d += db) {
                uint16_t v = Load16(s);
                d[2] = static_cast<uint8_t>((v >> 8) & 0xF8);
                d[1] = static_cast<uint8_t>((v >> 3) & 0xFC);
                d[0] = static_cast<uint8_t>(v << 3);
                if (db == 4) d[3] = 0xFF;
            }
        }
    } else if ((sd == EBM_24BIT && dd == EBM_32BIT) || (sd == EBM_32BIT && dd == EBM_24BIT)) {
        for (int y = 0; y < h; ++y) {
            const uint8_t* s = src->plane0 + Qel_RowOffset(src, y);
            uint8_t* d = dst->plane0 + Qel_RowOffset(dst, y);
            for (int x = 0; x < w; ++x, s += sb, d += db) {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
                if (db == 4) d[3] = 0xFF;
            }
        }
    } else {
        Qel_ErrPrintf("Qel_ChangeEBMType: unknown conversion\n");
        result = 0;
    }
    S_UnlockAfterDrawing(&locks);
    return result;
}
