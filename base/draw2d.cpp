#include "base/draw2d.h"

#include <algorithm>
#include <cstdlib>

#include "base/display.h"
#include "base/ebm.h"
#include "base/log.h"
#include "base/pixelformats.h"
#include "system/surfaces.h"
#include "system/video.h"

namespace {

// Source and destination of the last stretch dispatch.
EBM* s_stretchSrc = nullptr;
EBM* s_stretchDst = nullptr;

// Format class: 0 8-bit, 1 16-bit, 2 24-bit, 3 32-bit, 4 planes; -1 unknown.
int FormatClass(const EBM* b) {
    if (!(b->flags & EBM_CHUNKY)) return 4;
    uint32_t d = b->flags & (EBM_16BIT | EBM_24BIT | EBM_32BIT);
    switch (d) {
        case 0: return 0;
        case EBM_16BIT: return 1;
        case EBM_24BIT: return 2;
        case EBM_32BIT: return 3;
        default: return -1;
    }
}

constexpr uint16_t kBlitTypes[5][5] = {
    {0, 1, 2, 4, 3}, {7, 5, 6, 9, 8}, {12, 11, 10, 14, 13}, {22, 21, 20, 24, 23}, {16, 17, 18, 19, 15},
};

// Cuts a block to the parts inside both bitmaps; false when nothing is left.
bool ClipBlock(const EBM* src, int& sx, int& sy, int& w, int& h, const EBM* dst, int& dx, int& dy) {
    if (sx < 0) {
        w += sx;
        dx -= sx;
        sx = 0;
    }
    if (sy < 0) {
        h += sy;
        dy -= sy;
        sy = 0;
    }
    if (dx < 0) {
        w += dx;
        sx -= dx;
        dx = 0;
    }
    if (dy < 0) {
        h += dy;
        sy -= dy;
        dy = 0;
    }
    w = std::min({w, src->width - sx, dst->width - dx});
    h = std::min({h, src->height - sy, dst->height - dy});
    return w > 0 && h > 0;
}

bool Inside(const EBM* b, int x, int y) { return x >= 0 && y >= 0 && x < b->width && y < b->height; }

// The single-bitmap frame: pixels addressable or the operation's line.
bool Begin(SurfaceLocks* locks, EBM* b, const char* failLine) {
    if (!b || !S_LockForDrawing(locks, b, nullptr)) {
        Qel_ErrPrintf("%s", failLine);
        return false;
    }
    return true;
}

bool BeginPair(SurfaceLocks* locks, EBM* dst, EBM* src, const char* failLine) {
    if (!dst || !src || !S_LockForDrawing(locks, dst, src)) {
        Qel_ErrPrintf("%s", failLine);
        return false;
    }
    return true;
}

using SpanFn = void (*)(EBM*, int, int, int, uint32_t);
using PixFn = void (*)(EBM*, int, int, uint32_t);

// Midpoint ellipse with horizontal semi-axis squared rx2 and vertical ry2;
// visit(x, y) for the first quadrant's points from the top down.
template <class Visit>
void MidpointEllipse(int64_t rx2, int64_t ry2, int ry, Visit visit) {
    using W = __int128;
    int64_t x = 0, y = ry;
    W px = 0, py = static_cast<W>(2) * rx2 * y;
    W p = 4 * static_cast<W>(ry2) - 4 * static_cast<W>(rx2) * ry + rx2;
    while (px < py) {
        visit(x, y);
        ++x;
        px += 2 * ry2;
        if (p < 0) {
            p += 4 * (ry2 + px);
        } else {
            --y;
            py -= 2 * rx2;
            p += 4 * (ry2 + px - py);
        }
    }
    p = static_cast<W>(ry2) * (2 * x + 1) * (2 * x + 1) + 4 * static_cast<W>(rx2) * (y - 1) * (y - 1) -
        4 * static_cast<W>(rx2) * ry2;
    while (y >= 0) {
        visit(x, y);
        --y;
        py -= 2 * rx2;
        if (p > 0) {
            p += 4 * (rx2 - py);
        } else {
            ++x;
            px += 2 * ry2;
            p += 4 * (rx2 - py + px);
        }
    }
}

// The squared semi-axes of a radius and 16.16 aspect; false for a refused aspect.
bool EllipseAxes(int radius, int32_t aspect, int64_t* rx2, int64_t* ry2) {
    if (aspect == 0 || radius < 0) return false;
    int32_t asq = Qel_FixMulRound(aspect, aspect);
    if (asq <= 0) return false;
    *ry2 = static_cast<int64_t>(radius) * radius;
    *rx2 = static_cast<int64_t>(static_cast<double>(*ry2) / (asq / 65536.0));
    return true;
}

}  // namespace

uint16_t Qel_GetBlitType(const EBM* dst, const EBM* src) {
    if (!dst) dst = src;
    if (!src) src = dst;
    int d = dst ? FormatClass(dst) : -1;
    int s = src ? FormatClass(src) : -1;
    if (d < 0 || s < 0) {
        Qel_ErrPrintf("ERROR: BlittType -1!\n");
        return QEL_BLIT_ERROR;
    }
    return kBlitTypes[d][s];
}

void Qel_UnsupportedPrimitive() { Qel_ErrPrintf("Unsupported graphic primitive called:\n"); }

int32_t Qel_FixMulRound(int32_t a, int32_t b) {
    return static_cast<int32_t>((static_cast<int64_t>(a) * b + 0x8000) >> 16);
}

// ---------------------------------------------------------------- blocks

void Qel_BltBlockManual(EBM* src, int16_t sx, int16_t sy, int16_t w, int16_t h, EBM* dst, int16_t dx, int16_t dy) {
    SurfaceLocks locks{};
    if (!BeginPair(&locks, dst, src, "ERROR: Qel_BltBlockManual() S_Locking surfaces \n")) return;
    switch (Qel_GetBlitType(dst, src)) {
        case 0:
        case 5:
        case 10:
        case 24: {
            int x0 = sx, y0 = sy, ww = w, hh = h, x1 = dx, y1 = dy;
            if (ClipBlock(src, x0, y0, ww, hh, dst, x1, y1)) Qel_BlockCopy(src, x0, y0, ww, hh, dst, x1, y1);
            break;
        }
        case 15: Qel_UnsupportedPrimitive(); break;
        default:
            Qel_ErrPrintf("BltBlock unknown\n");
            Qel_UnsupportedPrimitive();
            break;
    }
    S_UnlockAfterDrawing(&locks);
}

void Qel_BltBlock(EBM* src, int16_t sx, int16_t sy, int16_t w, int16_t h, EBM* dst, int16_t dx, int16_t dy) {
    Qel_BltBlockManual(src, sx, sy, w, h, dst, dx, dy);
}

void Qel_Cookie(EBM* src, int16_t sx, int16_t sy, int16_t w, int16_t h, EBM* dst, int16_t dx, int16_t dy,
                uint8_t threshold) {
    SurfaceLocks locks{};
    if (!BeginPair(&locks, dst, src, "ERROR: Qel_Cookie() S_Locking surfaces \n")) return;
    uint16_t type = Qel_GetBlitType(dst, src);
    int x0 = sx, y0 = sy, ww = w, hh = h, x1 = dx, y1 = dy;
    switch (type) {
        case 0:
        case 5:
        case 10:
        case 24:
            if (!ClipBlock(src, x0, y0, ww, hh, dst, x1, y1)) break;
            if (type == 0) Qel_Cookie8(src, x0, y0, ww, hh, dst, x1, y1, threshold);
            if (type == 5) Qel_Cookie16(src, x0, y0, ww, hh, dst, x1, y1, threshold);
            if (type == 10) Qel_Cookie24(src, x0, y0, ww, hh, dst, x1, y1, threshold);
            if (type == 24) Qel_Cookie32(src, x0, y0, ww, hh, dst, x1, y1, threshold);
            break;
        case 3:
        case 15: Qel_UnsupportedPrimitive(); break;
        default:
            Qel_ErrPrintf("Qel_Cookie unknown\n");
            Qel_UnsupportedPrimitive();
            break;
    }
    S_UnlockAfterDrawing(&locks);
}

void Qel_AlphaBlit(EBM* src, int16_t sx, int16_t sy, int16_t w, int16_t h, EBM* dst, int16_t dx, int16_t dy,
                   uint32_t tint) {
    SurfaceLocks locks{};
    if (!BeginPair(&locks, dst, src, "ERROR: Qel_AlphaBlit() S_Locking surfaces \n")) return;
    if (Qel_GetBlitType(dst, src) == 24) {
        int x0 = sx, y0 = sy, ww = w, hh = h, x1 = dx, y1 = dy;
        if (ClipBlock(src, x0, y0, ww, hh, dst, x1, y1)) S_AlphaBlitR8G8B8A8(tint, dst, src, x1, y1, x0, y0, ww, hh);
    } else {
        Qel_UnsupportedPrimitive();
    }
    S_UnlockAfterDrawing(&locks);
}

void Qel_HalfAveraged(EBM* dst, EBM* src) {
    SurfaceLocks locks{};
    if (!BeginPair(&locks, dst, src, "ERROR: Qel_HalfAveraged() S_Locking surfaces \n")) return;
    switch (Qel_GetBlitType(dst, src)) {
        case 5: Qel_HalfAveraged16(dst, src); break;
        case 10: Qel_HalfAveraged24(dst, src); break;
        case 24: Qel_HalfAveraged32(dst, src); break;
        default:
            Qel_ErrPrintf("HalfAveraged ?? not implemented\n");
            Qel_UnsupportedPrimitive();
            break;
    }
    S_UnlockAfterDrawing(&locks);
}

void Qel_BitBltSet(EBM* mask, int16_t mx, int16_t my, int16_t w, int16_t h, EBM* dst, int16_t dx, int16_t dy,
                   uint32_t colour) {
    SurfaceLocks locks{};
    if (!BeginPair(&locks, dst, mask, "ERROR: Qel_BitBltSet() S_Locking surfaces \n")) return;
    uint16_t type = Qel_GetBlitType(dst, nullptr);
    int x0 = mx, y0 = my, ww = w, hh = h, x1 = dx, y1 = dy;
    switch (type) {
        case 0:
        case 5:
        case 10:
        case 15:
        case 24:
            if (!ClipBlock(mask, x0, y0, ww, hh, dst, x1, y1)) break;
            if (type == 0) Qel_BitSet8(mask, x0, y0, ww, hh, dst, x1, y1, colour);
            if (type == 5) Qel_BitSet16(mask, x0, y0, ww, hh, dst, x1, y1, colour);
            if (type == 10) Qel_BitSet24(mask, x0, y0, ww, hh, dst, x1, y1, colour);
            if (type == 15) Qel_BitSetPlanar(mask, x0, y0, ww, hh, dst, x1, y1, colour);
            if (type == 24) Qel_BitSet32(mask, x0, y0, ww, hh, dst, x1, y1, colour);
            break;
        default:
            Qel_ErrPrintf("Qel_BitBltSet(); Error\n");
            Qel_UnsupportedPrimitive();
            break;
    }
    S_UnlockAfterDrawing(&locks);
}

// ---------------------------------------------------------------- pixels and lines

static PixFn PixelRoutine(uint16_t type) {
    switch (type) {
        case 0: return Qel_SetPix8;
        case 5: return Qel_SetPix16;
        case 10: return Qel_SetPix24;
        case 15: return Qel_SetPixPlanar;
        case 24: return Qel_SetPix32;
        default: return nullptr;
    }
}

void Qel_SetPixel(int16_t x, int16_t y, EBM* bitmap, uint32_t colour) {
    SurfaceLocks locks{};
    if (!Begin(&locks, bitmap, "ERROR: Qel_SetPixel() S_Locking surfaces \n")) return;
    PixFn put = PixelRoutine(Qel_GetBlitType(bitmap, nullptr));
    if (!put) {
        Qel_ErrPrintf("Qel_SetPix: Error\n");
        Qel_UnsupportedPrimitive();
    } else if (Inside(bitmap, x, y)) {
        put(bitmap, x, y, colour);
    }
    S_UnlockAfterDrawing(&locks);
}

void Qel_SetPixelClipped(int16_t x, int16_t y, EBM* bitmap, uint32_t colour) {
    if (!bitmap || !Inside(bitmap, x, y)) return;
    Qel_SetPixel(x, y, bitmap, colour);
}

int Qel_ClipLine(const EBM* bitmap, int32_t* x0, int32_t* y0, int32_t* x1, int32_t* y1) {
    int64_t ax = *x0, ay = *y0, bx = *x1, by = *y1;
    if (std::llabs(bx - ax) > 32767 || std::llabs(by - ay) > 32767) return 0;
    for (int n = 0; n < 100 && (std::llabs(ax) >= 32768 || std::llabs(ay) >= 32768 || std::llabs(bx) >= 32768 ||
                                std::llabs(by) >= 32768);
         ++n) {
        ax >>= 1;
        ay >>= 1;
        bx >>= 1;
        by >>= 1;
    }
    const int64_t w = bitmap->width, h = bitmap->height;
    auto code = [&](int64_t x, int64_t y) {
        int c = 0;
        if (y < 0) c |= 1;
        if (y >= h) c |= 2;
        if (x >= w) c |= 4;
        if (x < 0) c |= 8;
        return c;
    };
    for (int step = 0; step < 10; ++step) {
        int c0 = code(ax, ay), c1 = code(bx, by);
        if (!(c0 | c1)) {
            *x0 = static_cast<int32_t>(ax);
            *y0 = static_cast<int32_t>(ay);
            *x1 = static_cast<int32_t>(bx);
            *y1 = static_cast<int32_t>(by);
            return 1;
        }
        if (c0 & c1) return 0;
        int c = c0 ? c0 : c1;
        int64_t x, y;
        if (c & 1) {
            y = 0;
            x = ax + (bx - ax) * (0 - ay) / (by - ay);
        } else if (c & 2) {
            y = h - 1;
            x = ax + (bx - ax) * (h - 1 - ay) / (by - ay);
        } else if (c & 4) {
            x = w - 1;
            y = ay + (by - ay) * (w - 1 - ax) / (bx - ax);
        } else {
            x = 0;
            y = ay + (by - ay) * (0 - ax) / (bx - ax);
        }
        if (c == c0) {
            ax = x;
            ay = y;
        } else {
            bx = x;
            by = y;
        }
    }
    return 0;
}

void Qel_Line(int16_t x0, int16_t y0, int16_t x1, int16_t y1, EBM* bitmap, uint32_t colour) {
    SurfaceLocks locks{};
    if (!Begin(&locks, bitmap, "ERROR: Qel_Line() S_Locking surfaces \n")) return;
    uint16_t type = Qel_GetBlitType(bitmap, nullptr);
    int32_t ax = x0, ay = y0, bx = x1, by = y1;
    switch (type) {
        case 0:
        case 5:
        case 10:
        case 24:
            // A line reaching outside the bitmap is cut rather than written past it.
            if (!Qel_ClipLine(bitmap, &ax, &ay, &bx, &by)) break;
            if (type == 0) Qel_Line8(bitmap, ax, ay, bx, by, colour);
            else if (type == 5) Qel_Line16(bitmap, ax, ay, bx, by, colour);
            else Qel_LineTrueColor(bitmap, ax, ay, bx, by, colour);
            break;
        case 15: Qel_UnsupportedPrimitive(); break;
        default:
            Qel_ErrPrintf("Qel_Line: tried to draw to True/HiColor dest.\n");
            Qel_UnsupportedPrimitive();
            break;
    }
    S_UnlockAfterDrawing(&locks);
}

void Qel_ClippedLine(EBM* bitmap, int16_t x0, int16_t y0, int16_t x1, int16_t y1, uint32_t colour) {
    if (!bitmap) return;
    int32_t ax = x0, ay = y0, bx = x1, by = y1;
    if (Qel_ClipLine(bitmap, &ax, &ay, &bx, &by) == 1)
        Qel_Line(static_cast<int16_t>(ax), static_cast<int16_t>(ay), static_cast<int16_t>(bx), static_cast<int16_t>(by),
                 bitmap, colour);
}

// ---------------------------------------------------------------- circles

void Qel_ClipFilledCircle(int16_t cx, int16_t cy, int16_t radius, uint32_t colour, int32_t aspect, EBM* bitmap) {
    int64_t rx2, ry2;
    if (!EllipseAxes(radius, aspect, &rx2, &ry2)) return;
    SurfaceLocks locks{};
    if (!Begin(&locks, bitmap, "ERROR: Qel_ClipFilledCircle() S_Locking surfaces \n")) return;
    SpanFn span = nullptr;
    switch (Qel_GetBlitType(bitmap, nullptr)) {
        case 0: span = Qel_Span8; break;
        case 5: span = Qel_Span16; break;
        case 10: span = Qel_Span24; break;
        case 15: span = Qel_SpanPlanar; break;
        case 24: span = Qel_Span32; break;
        default: Qel_ErrPrintf("FilledCircle: Unknown Blittype\n"); break;
    }
    if (span) {
        const int64_t w = bitmap->width, h = bitmap->height;
        auto row = [&](int64_t y, int64_t a, int64_t b) {
            // Rows outside are skipped; a span wholly off one side is skipped too.
            if (y < 0 || y >= h || b < 0 || a >= w) return;
            span(bitmap, static_cast<int>(y), static_cast<int>(std::max<int64_t>(a, 0)),
                 static_cast<int>(std::min<int64_t>(b, w - 1)), colour);
        };
        MidpointEllipse(rx2, ry2, radius, [&](int64_t x, int64_t y) {
            row(cy - y, cx - x, cx + x);
            if (y) row(cy + y, cx - x, cx + x);
        });
    }
    S_UnlockAfterDrawing(&locks);
}

void Qel_ClipCircle(int16_t cx, int16_t cy, int16_t radius, uint32_t colour, int32_t aspect, EBM* bitmap) {
    int64_t rx2, ry2;
    if (!EllipseAxes(radius, aspect, &rx2, &ry2)) return;
    SurfaceLocks locks{};
    if (!Begin(&locks, bitmap, "ERROR: Qel_ClipCircle() S_Locking surfaces \n")) return;
    PixFn put = PixelRoutine(Qel_GetBlitType(bitmap, nullptr));
    if (!put) {
        Qel_ErrPrintf("Qel_ClipCircle: tried to draw to True/HiColor dest.\n");
        Qel_UnsupportedPrimitive();
    } else {
        auto point = [&](int64_t x, int64_t y) {
            if (x >= 0 && y >= 0 && x < bitmap->width && y < bitmap->height)
                put(bitmap, static_cast<int>(x), static_cast<int>(y), colour);
        };
        MidpointEllipse(rx2, ry2, radius, [&](int64_t x, int64_t y) {
            point(cx + x, cy + y);
            point(cx - x, cy + y);
            point(cx + x, cy - y);
            point(cx - x, cy - y);
        });
    }
    S_UnlockAfterDrawing(&locks);
}

// ---------------------------------------------------------------- uploads, fills, dispatch

void Qel_CopyRGBToEbm(EBM* bitmap, const uint8_t* rgb) {
    SurfaceLocks locks{};
    if (!Begin(&locks, bitmap, "ERROR: Qel_CopyRGBToEbm() S_Locking surfaces \n")) return;
    switch (Qel_GetBlitType(bitmap, nullptr)) {
        case 0: break;
        case 5:
            if (rgb) Qel_RGBTo16(bitmap, rgb);
            break;
        case 10:
        case 24:
            if (rgb) Qel_RGBToTrueColor(bitmap, rgb);
            break;
        default: Qel_UnsupportedPrimitive(); break;
    }
    S_UnlockAfterDrawing(&locks);
}

void Qel_RectFill(int16_t x, int16_t y, int16_t w, int16_t h, uint32_t colour, EBM* bitmap) {
    if (!bitmap) return;
    if (x < 0 || x + w > bitmap->width || y < 0 || y + h > bitmap->height) {
        Qel_ErrPrintf("Qel_RectFill(%d, %d, %d, %d) filling outside size (%d, %d)\n", x, y, w, h, bitmap->width,
                      bitmap->height);
        return;
    }
    if (w < 1 || h < 1) {
        Qel_ErrPrintf("Qel_RectFill(%d, %d, %d, %d) invalid rectangle size!\n", x, y, w, h);
        return;
    }
    W_RectFill(bitmap, x, y, w, h, colour);
}

void Qel_ClearDisplay() {
    VideoRecord* vr = g_VideoRecord;
    if (!vr) return;
    if (vr->flags & VIDEO_PAGEFLIP) {
        EBM* bb = vr->BackBufferEBM ? vr->BackBufferEBM : vr->VideoEBM;
        if (!bb) return;
        for (int page = 0; page < 2; ++page) {
            Qel_RectFill(0, 0, bb->width, bb->height, 0, bb);
            Qel_UpdateScreen();
        }
    } else {
        if (!vr->VideoEBM) return;
        Qel_RectFill(0, 0, vr->VideoEBM->width, vr->VideoEBM->height, 0, vr->VideoEBM);
        Qel_InvalidateDisplays();
    }
}

void Qel_BlitDispatch(EBM* src, EBM* dst, const RECT* srcRect, const RECT* dstRect) {
    s_stretchSrc = src;
    s_stretchDst = dst;
    W_RectStretch(dst, src, srcRect, dstRect);
}

void Qel_StretchDefault() {
    if (s_stretchSrc && s_stretchDst) W_RectStretch(s_stretchDst, s_stretchSrc, nullptr, nullptr);
}
