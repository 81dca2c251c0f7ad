#include "surfacesupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "base/log.h"
#include "base/pixelformats.h"
#include "support/logcapture.h"
#include "system/surfaces.h"

const char* LayoutName(Layout l) {
    switch (l) {
        case Layout::Bits8: return "8-bit";
        case Layout::Bits16: return "16-bit";
        case Layout::Bits24: return "24-bit";
        case Layout::Bits32: return "32-bit";
        default: return "planar";
    }
}

EBM* MakeBitmap(Layout l, int width, int height, uint32_t extraFlags) {
    switch (l) {
        case Layout::Bits8: return GenerateEbm(width, height, 8, EBM_CHUNKY | EBM_NOSHADOW | extraFlags);
        case Layout::Bits16: return GenerateEbm(width, height, 16, EBM_CHUNKY | EBM_NOSHADOW | extraFlags);
        case Layout::Bits24: return GenerateEbm(width, height, 24, EBM_CHUNKY | EBM_NOSHADOW | extraFlags);
        case Layout::Bits32: return GenerateEbm(width, height, 32, EBM_CHUNKY | EBM_NOSHADOW | extraFlags);
        default: return GenerateEbm(width, height, 4, EBM_NOSHADOW | extraFlags);
    }
}

namespace {

struct Held {
    EBM* b;
    bool locked;
    explicit Held(EBM* bitmap) : b(bitmap), locked(false) {
        if (!b->plane0) locked = S_LockVideoSurface(b) != 0;
    }
    ~Held() {
        if (locked) S_UnLockSingleDDSurface(b);
    }
};

}  // namespace

uint32_t PixelAt(EBM* b, int x, int y) {
    Held h(b);
    if (!b->plane0) return 0xDEADBEEF;
    if (!(b->flags & EBM_CHUNKY)) {
        uint32_t v = 0;
        const uint8_t* row = b->plane0 + Qel_RowOffset(b, y) + x / 8;
        for (int p = 0; p < b->bitsPerPixel; ++p)
            if (row[static_cast<size_t>(p) * b->planeDistance] & (0x80 >> (x % 8))) v |= 1u << p;
        return v;
    }
    uint32_t v = 0;
    std::memcpy(&v, Qel_PixelAddress(b, x, y), static_cast<size_t>(b->bytesPerPixel));
    return v;
}

void SetRaw(EBM* b, int x, int y, uint32_t value) {
    Held h(b);
    if (!b->plane0) return;
    if (!(b->flags & EBM_CHUNKY)) {
        uint8_t* row = b->plane0 + Qel_RowOffset(b, y) + x / 8;
        for (int p = 0; p < b->bitsPerPixel; ++p) {
            uint8_t& byte = row[static_cast<size_t>(p) * b->planeDistance];
            if (value & (1u << p)) byte |= static_cast<uint8_t>(0x80 >> (x % 8));
            else byte &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
        }
        return;
    }
    std::memcpy(Qel_PixelAddress(b, x, y), &value, static_cast<size_t>(b->bytesPerPixel));
}

void FillRaw(EBM* b, uint32_t value) {
    Held h(b);
    for (int y = 0; y < b->height; ++y)
        for (int x = 0; x < b->width; ++x) SetRaw(b, x, y, value);
}

namespace {
std::unique_ptr<LogCapture> s_capture;
}  // namespace

std::string CaptureBegin() {
    s_capture = std::make_unique<LogCapture>();
    return {};
}

std::string CaptureEnd() {
    std::string text = s_capture ? s_capture->Take() : std::string();
    s_capture.reset();
    return text;
}

std::string Framed(const std::string& line) { return std::string(QEL_LOG_BANNER) + line + QEL_LOG_BANNER; }
