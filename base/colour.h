// Colour channel and bit helpers.
#pragma once

#include <cstdint>

// (value << shift) & mask and (value >> shift) & mask; a shift of 32 or more
// gives 0.
uint32_t Qel_ShiftMaskLeft(uint16_t value, uint32_t shift, uint32_t mask);
uint32_t Qel_ShiftMaskRight(uint16_t value, uint32_t shift, uint32_t mask);
// (c >> 24) << 16 | (b >> 24) << 8 | (a >> 24): the top bytes of three words.
uint32_t Qel_PackHighBytes(uint32_t a, uint32_t b, uint32_t c);

int32_t Qel_Max3(int32_t a, int32_t b, int32_t c);
int32_t Qel_Min3(int32_t a, int32_t b, int32_t c);

// A colour in 16.16 (index 0 red, 1 green, 2 blue) to {hue in degrees,
// saturation, value}, all 16.16. A grey (saturation 0) gets hue 1.
void Qel_RgbToHsv(const int32_t rgb[3], int32_t hsv[3]);
