// Per-layout back ends of the 2D primitives: the pixel work on locked bitmaps of
// 8-, 16-, 24- and 32-bit chunky pixels and of bit planes. The primitives in
// base/draw2d lock, clip and choose; nothing here locks, clips or logs except
// the alpha blit's own check.
#pragma once

#include <cstdint>

struct EBM;

// Byte offset of row y: the bitmap's row table when it has one (full headers
// only), else y times the row distance.
uint32_t Qel_RowOffset(const EBM* bitmap, int y);
// Address of pixel (x, y) of a chunky bitmap.
uint8_t* Qel_PixelAddress(const EBM* bitmap, int x, int y);

// (1 << n) - 1 for n = 0 .. 8, then zeros.
extern const uint16_t Qel_ChannelMaskTab[16];

// The colour of a 32-bit pixel drawn by lines, pixels, spans and masks: the
// three colour bytes of the converted colour and an opaque fourth byte.
uint32_t Qel_OpaquePixel32(const EBM* bitmap, uint32_t rgb);

// Half-size averaging: destination pixel (x, y) is the mean of the source's
// 2 x 2 block at (2x, 2y), per channel; odd last rows and columns are left out.
void Qel_HalfAveraged16(EBM* dst, const EBM* src);
void Qel_HalfAveraged24(EBM* dst, const EBM* src);
void Qel_HalfAveraged32(EBM* dst, const EBM* src);

// Colour-keyed ("cookie") copies: only source pixels above the threshold are
// copied (24/32 bits: any of the three colour bytes above it; then only those
// three bytes are written).
void Qel_Cookie8(const EBM* src, int sx, int sy, int w, int h, EBM* dst, int dx, int dy, uint8_t threshold);
void Qel_Cookie16(const EBM* src, int sx, int sy, int w, int h, EBM* dst, int dx, int dy, uint8_t threshold);
void Qel_Cookie24(const EBM* src, int sx, int sy, int w, int h, EBM* dst, int dx, int dy, uint8_t threshold);
void Qel_Cookie32(const EBM* src, int sx, int sy, int w, int h, EBM* dst, int dx, int dy, uint8_t threshold);

// Row copy of w pixels of the source's bytes per pixel.
void Qel_BlockCopy(const EBM* src, int sx, int sy, int w, int h, EBM* dst, int dx, int dy);

// One pixel; colours are 0xRRGGBB (8-bit and planar: the index as given).
void Qel_SetPix8(EBM* b, int x, int y, uint32_t colour);
void Qel_SetPix16(EBM* b, int x, int y, uint32_t colour);
void Qel_SetPix24(EBM* b, int x, int y, uint32_t colour);
void Qel_SetPix32(EBM* b, int x, int y, uint32_t colour);
void Qel_SetPixPlanar(EBM* b, int x, int y, uint32_t colour);

// Horizontal span on row y from column a to b inclusive (a <= b).
void Qel_Span8(EBM* b, int y, int a, int e, uint32_t colour);
void Qel_Span16(EBM* b, int y, int a, int e, uint32_t colour);
void Qel_Span24(EBM* b, int y, int a, int e, uint32_t colour);
void Qel_Span32(EBM* b, int y, int a, int e, uint32_t colour);
void Qel_SpanPlanar(EBM* b, int y, int a, int e, uint32_t colour);

// Bresenham lines between two points inside the bitmap.
void Qel_Line8(EBM* b, int x0, int y0, int x1, int y1, uint32_t colour);
void Qel_Line16(EBM* b, int x0, int y0, int x1, int y1, uint32_t colour);
void Qel_LineTrueColor(EBM* b, int x0, int y0, int x1, int y1, uint32_t colour);

// One-colour mask blits: each set bit of the 1-bit mask (bit 7 - x % 8 of byte
// x / 8 of its row) writes the colour at the destination pixel.
void Qel_BitSet8(const EBM* mask, int mx, int my, int w, int h, EBM* dst, int dx, int dy, uint32_t colour);
void Qel_BitSet16(const EBM* mask, int mx, int my, int w, int h, EBM* dst, int dx, int dy, uint32_t colour);
void Qel_BitSet24(const EBM* mask, int mx, int my, int w, int h, EBM* dst, int dx, int dy, uint32_t colour);
void Qel_BitSet32(const EBM* mask, int mx, int my, int w, int h, EBM* dst, int dx, int dy, uint32_t colour);
void Qel_BitSetPlanar(const EBM* mask, int mx, int my, int w, int h, EBM* dst, int dx, int dy, uint32_t colour);

// Packed R, G, B byte triples (width * height, row after row) into the bitmap,
// then into the screen's channel order.
void Qel_RGBTo16(EBM* b, const uint8_t* rgb);
void Qel_RGBToTrueColor(EBM* b, const uint8_t* rgb);

// Blends a 32-bit source with alpha in its fourth byte onto the destination,
// each colour byte scaled by the matching byte of the tint.
void S_AlphaBlitR8G8B8A8(uint32_t tint, EBM* dst, const EBM* src, int dx, int dy, int sx, int sy, int w, int h);
