// Test support for bitmaps and 2D drawing: memory bitmaps of each pixel layout,
// raw pixel reads and writes, and the log captured around a call.
#pragma once

#include <cstdint>
#include <string>

#include "base/ebm.h"

// The pixel layouts of the 2D back ends.
enum class Layout { Bits8, Bits16, Bits24, Bits32, Planar4 };
const char* LayoutName(Layout l);

// A cleared memory bitmap of the layout (planar: 4 planes), freed with FreeILBM.
EBM* MakeBitmap(Layout l, int width, int height, uint32_t extraFlags = 0);

// The raw pixel value at (x, y): bytes of a chunky pixel (little-endian), or the
// plane bits of a planar one. Locks a surface-backed bitmap for the read.
uint32_t PixelAt(EBM* b, int x, int y);
void SetRaw(EBM* b, int x, int y, uint32_t value);
// Every pixel set to value.
void FillRaw(EBM* b, uint32_t value);

// Runs f with the log captured; returns what it logged.
template <class F>
std::string LogOf(F f);

std::string CaptureBegin();
std::string CaptureEnd();
template <class F>
std::string LogOf(F f) {
    CaptureBegin();
    f();
    return CaptureEnd();
}

// The framed form of an error line.
std::string Framed(const std::string& line);
