// DDS files: the image information alone, then the file read into a texture
// bitmap on a small windowed device (opened once), at the levels and flags
// the first byte chooses, and freed again.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/ebm.h"
#include "base/general.h"
#include "fuzz/harness/harness.h"
#include "platform/d3d9/seam.h"
#include "platform/d3dx/d3dx9tex.h"
#include "system/settings.h"
#include "system/surfaces.h"
#include "system/video.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    if (!Fuzz_OpenDevice()) __builtin_trap();
    if (size < 1) return 0;
    uint8_t mode = data[0];
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size - 1 ? size - 1 : 1]);
    if (size > 1) std::memcpy(bytes.get(), data + 1, size - 1);
    D3DXIMAGE_INFO info{};
    D3DXGetImageInfoFromFileInMemory(bytes.get(), UINT(size - 1), &info);
    Fuzz_WriteFile("fuzz.dds", data + 1, size - 1);
    FuzzMemoryGuard guard;
    int live = D3D9_LiveResourceCount();
    uint32_t flags = (mode & 1) ? EBM_DDSNOSKIP : 0;
    int levels = (mode >> 1) % 4;
    if (EBM* b = S_ReadDDS("fuzz.dds", flags, levels)) FreeILBM(b);
    if (D3D9_LiveResourceCount() != live) {
        std::fprintf(stderr, "fuzz: %d device resources left behind\n", D3D9_LiveResourceCount() - live);
        std::abort();
    }
    return 0;
}
