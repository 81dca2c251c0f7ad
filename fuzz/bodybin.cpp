// Binary bodies: one body file read whole into a body and freed again, on a
// scene state and texture table made once. Text bodies are not fuzzed: their
// reader ends the program on a format error by design.
#include "base/table.h"
#include "base/texcache.h"
#include "fuzz/harness/harness.h"
#include "scene/bodybin.h"
#include "scene/polybuild.h"
#include "scene/state.h"

namespace {

void InitScene() {
    static bool done = false;
    if (done) return;
    done = true;
    Fuzz_NewSceneState();
    // The body table makes its buckets on the first body linked, once.
    Qel_TableSet(g_B3DState->bodyTable, 1, 0);
    Qel_TableRemove(g_B3DState->bodyTable, 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    InitScene();
    Fuzz_WriteFile("v/00001.bob", data, size);
    FuzzMemoryGuard guard;
    if (Body3D* body = B3D_LoadBodyBin(nullptr, 1)) B3D_FreeBody(body);
    // The polygon work buffer and the texture names a body registers stay by
    // design: start each input without them.
    B3D_PolyWorkFree();
    TC_FreeTextureTables();
    Fuzz_NewTextureTable();
    return 0;
}
