// Binary cuts: one cut file read whole, with its paths, keys and embedded
// bodies, and freed again (J3D_FreeCut, then every body left), on a scene
// state and texture table made once. Text cuts are not fuzzed: their embedded bodies
// go through the text body reader, which ends the program on a format error
// by design.
#include "base/table.h"
#include "base/texcache.h"
#include "fuzz/harness/harness.h"
#include "scene/bodyrecord.h"
#include "scene/cutfiles.h"
#include "scene/freeing.h"
#include "scene/ids.h"
#include "scene/polybuild.h"
#include "scene/state.h"

namespace {

void InitScene() {
    static bool done = false;
    if (done) return;
    done = true;
    Fuzz_NewSceneState();
    // The body and cut tables make their buckets on the first entry, once.
    for (QelTable* t : {g_B3DState->bodyTable, g_B3DState->cutTable}) {
        Qel_TableSet(t, 1, 0);
        Qel_TableRemove(t, 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    InitScene();
    // Cut 3: its embedded bodies lie at 200000 and up.
    Fuzz_WriteFile("cut/00003.bob", data, size);
    FuzzMemoryGuard guard;
    J3D_FreeCut(J3D_LoadCutBin(3));
    while (B3DListNode* n = B3D_ListFirst(&g_B3DState->bodies)) B3D_FreeBody(reinterpret_cast<Body3D*>(n));
    // Names seen for the first time take dynamic id slots, and bodies leave
    // their polygon work buffer and texture names, all by design: start each
    // input without them.
    B3D_ResetDynamicBodyIds();
    B3D_ResetDynamicCutIds();
    B3D_PolyWorkFree();
    TC_FreeTextureTables();
    Fuzz_NewTextureTable();
    return 0;
}
