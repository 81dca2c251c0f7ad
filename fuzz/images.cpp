// Image files on a small windowed device (opened once): the first byte picks
// the reader (Targa, JPEG, 1-bit BMP, or a font whose ".abc" or ".siz"
// metrics follow its BMP image) and the Targa and JPEG levels and flags.
// Font inputs are two parts: the BMP image, then the metrics.
#include <cstdio>
#include <cstdlib>

#include "base/ebm.h"
#include "base/fonts.h"
#include "base/general.h"
#include "base/imagefiles.h"
#include "fuzz/harness/harness.h"
#include "platform/d3d9/seam.h"
#include "system/settings.h"
#include "system/surfaces.h"
#include "system/video.h"

namespace {

void Font(const uint8_t* data, size_t size, bool abc) {
    FuzzSplit parts = Fuzz_Split(data, size);
    Fuzz_WriteFile("F/fuzz.bmp", parts.first, parts.firstSize);
    Fuzz_WriteFile(abc ? "F/fuzz.abc" : "F/fuzz.siz", parts.rest, parts.restSize);
    {
        FuzzMemoryGuard guard;
        Qel_OpenFont("fuzz", abc ? 0 : 8, 8, 1, 0);
        Qel_CloseFonts();
    }
    Fuzz_RemoveFile(abc ? "F/fuzz.abc" : "F/fuzz.siz");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    if (!Fuzz_OpenDevice()) __builtin_trap();
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    const int live = D3D9_LiveResourceCount();
    switch (mode % 5) {
        case 0:
        case 1: {
            const char* name = mode % 5 ? "fuzz.jpg" : "fuzz.tga";
            Fuzz_WriteFile(name, data, size);
            FuzzMemoryGuard guard;
            const uint32_t flags = (mode & 0x40) ? EBM_SURFACE | EBM_ARGBSURFACE : 0;
            const int levels = (mode >> 3) % 4;
            EBM* b = mode % 5 ? S_ReadJPG(name, flags, levels) : S_ReadTGA(name, flags, levels);
            if (b) FreeILBM(b);
            break;
        }
        case 2: {
            Fuzz_WriteFile("fuzz.bmp", data, size);
            FuzzMemoryGuard guard;
            if (EBM* b = Qel_ReadBMP("fuzz.bmp")) FreeILBM(b);
            break;
        }
        default: Font(data, size, mode % 5 == 3); break;
    }
    if (D3D9_LiveResourceCount() != live) {
        std::fprintf(stderr, "fuzz: %d device resources left behind\n", D3D9_LiveResourceCount() - live);
        std::abort();
    }
    return 0;
}
