#include "base/colour.h"

#include "base/fixmath.h"

uint32_t Qel_ShiftMaskLeft(uint16_t value, uint32_t shift, uint32_t mask) {
    return shift < 32 ? (static_cast<uint32_t>(value) << shift) & mask : 0;
}

uint32_t Qel_ShiftMaskRight(uint16_t value, uint32_t shift, uint32_t mask) {
    return shift < 32 ? (static_cast<uint32_t>(value) >> shift) & mask : 0;
}

uint32_t Qel_PackHighBytes(uint32_t a, uint32_t b, uint32_t c) { return (c >> 24) << 16 | (b >> 24) << 8 | (a >> 24); }

int32_t Qel_Max3(int32_t a, int32_t b, int32_t c) {
    int32_t m = a > b ? a : b;
    return m > c ? m : c;
}

int32_t Qel_Min3(int32_t a, int32_t b, int32_t c) {
    int32_t m = a < b ? a : b;
    return m < c ? m : c;
}

void Qel_RgbToHsv(const int32_t rgb[3], int32_t hsv[3]) {
    int32_t r = rgb[0], g = rgb[1], b = rgb[2];
    int32_t max = Qel_Max3(r, g, b);
    int32_t d = static_cast<int32_t>(static_cast<int64_t>(max) - Qel_Min3(r, g, b));
    hsv[2] = max;
    hsv[1] = max ? Qel_FixDiv(d, max) : 0;
    if (hsv[1] == 0) {
        hsv[0] = 1;
        return;
    }
    int64_t hue;
    if (r == max) hue = Qel_FixDiv(static_cast<int32_t>(static_cast<int64_t>(g) - b), d);
    else if (g == max)
        hue = 2 * QEL_FIX_ONE + static_cast<int64_t>(Qel_FixDiv(static_cast<int32_t>(static_cast<int64_t>(b) - r), d));
    else hue = 4 * QEL_FIX_ONE + static_cast<int64_t>(Qel_FixDiv(static_cast<int32_t>(static_cast<int64_t>(r) - g), d));
    hue *= 60;
    if (hue < 0) hue += 360 * static_cast<int64_t>(QEL_FIX_ONE);
    hsv[0] = static_cast<int32_t>(hue);
}
