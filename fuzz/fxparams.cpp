// Effect blocks of materials: the first byte's low bit picks the binary form,
// the rest is a file read by one block reader on a scene state made once.
// The block is freed again, and the texture names it registered go with a
// fresh texture table.
#include "base/texcache.h"
#include "base/vrmfile.h"
#include "fuzz/harness/harness.h"
#include "scene/fxparams.h"
#include "scene/state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    if (size < 1) return 0;
    if (!g_B3DState) {
        g_B3DState = B3D_InitStore();
        if (!g_B3DState) __builtin_trap();
        Fuzz_NewTextureTable();
    }
    Fuzz_WriteFile("fuzz.fxp", data + 1, size - 1);
    FuzzMemoryGuard guard;
    VRMFile* r = Qel_StreamCreate("fuzz.fxp", 1, 0, data[0] & 1, g_VRMBodyTags, 18);
    if (r && !r->error) B3D_FreeFXEffectBlock(B3DB_LoadShaderParams(r));
    Qel_CloseFileBuffer(r);
    TC_FreeTextureTables();
    Fuzz_NewTextureTable();
    return 0;
}
