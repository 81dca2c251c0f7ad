// 2D primitives on EBM bitmaps: block, colour-keyed and alpha blits, half-size
// averaging, mask blits, pixels, lines, circles, fills and RGB uploads. Each one
// makes the pixels addressable, picks the back end of base/pixelformats by the
// blit type of its bitmaps, and leaves the lock state as it found it.
#pragma once

#include <cstdint>

#include "platform/win32/basetypes.h"

struct EBM;

constexpr uint16_t QEL_BLIT_ERROR = 0xFFFF;

// Blit type of a destination and a source (a null one takes the other's place).
uint16_t Qel_GetBlitType(const EBM* dst, const EBM* src);

void Qel_BltBlockManual(EBM* src, int16_t sx, int16_t sy, int16_t w, int16_t h, EBM* dst, int16_t dx, int16_t dy);
void Qel_BltBlock(EBM* src, int16_t sx, int16_t sy, int16_t w, int16_t h, EBM* dst, int16_t dx, int16_t dy);
void Qel_Cookie(EBM* src, int16_t sx, int16_t sy, int16_t w, int16_t h, EBM* dst, int16_t dx, int16_t dy,
                uint8_t threshold);
// tint: 0xRRGGBB scaling the source's colour bytes (0xFFFFFF keeps them).
void Qel_AlphaBlit(EBM* src, int16_t sx, int16_t sy, int16_t w, int16_t h, EBM* dst, int16_t dx, int16_t dy,
                   uint32_t tint = 0xFFFFFF);
void Qel_HalfAveraged(EBM* dst, EBM* src);
// colour: 0xRRGGBB, converted to the destination's pixel.
void Qel_BitBltSet(EBM* mask, int16_t mx, int16_t my, int16_t w, int16_t h, EBM* dst, int16_t dx, int16_t dy,
                   uint32_t colour);
void Qel_SetPixel(int16_t x, int16_t y, EBM* bitmap, uint32_t colour);
void Qel_SetPixelClipped(int16_t x, int16_t y, EBM* bitmap, uint32_t colour);
void Qel_Line(int16_t x0, int16_t y0, int16_t x1, int16_t y1, EBM* bitmap, uint32_t colour);
void Qel_ClippedLine(EBM* bitmap, int16_t x0, int16_t y0, int16_t x1, int16_t y1, uint32_t colour);
// Cohen-Sutherland on the bitmap's size; endpoints updated in place; 1 when
// something remains to draw.
int Qel_ClipLine(const EBM* bitmap, int32_t* x0, int32_t* y0, int32_t* x1, int32_t* y1);
// aspect: 16.16, 1.0 draws a circle; 0 is refused.
void Qel_ClipFilledCircle(int16_t cx, int16_t cy, int16_t radius, uint32_t colour, int32_t aspect, EBM* bitmap);
void Qel_ClipCircle(int16_t cx, int16_t cy, int16_t radius, uint32_t colour, int32_t aspect, EBM* bitmap);
void Qel_CopyRGBToEbm(EBM* bitmap, const uint8_t* rgb);
void Qel_RectFill(int16_t x, int16_t y, int16_t w, int16_t h, uint32_t colour, EBM* bitmap);
void Qel_ClearDisplay();
// Stretches a source rectangle onto a destination rectangle on the device.
void Qel_BlitDispatch(EBM* src, EBM* dst, const RECT* srcRect, const RECT* dstRect);
// The stretching blit with the source and destination of the last dispatch.
void Qel_StretchDefault();
int32_t Qel_FixMulRound(int32_t a, int32_t b);
void Qel_UnsupportedPrimitive();
