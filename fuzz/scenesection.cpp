// The scene engine's save section, read into a fresh scene state with a
// fresh texture table; the state, with every scene, instance and take the
// load made, is freed before the memory books are checked.
#include "base/file.h"
#include "base/texcache.h"
#include "fuzz/harness/harness.h"
#include "scene/caches.h"
#include "scene/names.h"
#include "scene/savesection.h"
#include "scene/smallops.h"
#include "scene/state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    // A plain file reads through the gzip stream as it stands.
    Fuzz_WriteFile("section.bin", data, size);
    {
        FuzzMemoryGuard guard;
        Fuzz_NewSceneState();
        if (QelFile* f = Qel_fcopen("section.bin", "rb", 0)) {
            B3D_LoadGame(f);
            Qel_fclose(f);
        }
        J3D_FreeCutEntry();
        for (QelTable* t : g_B3DState->nameTables) B3D_FreeStringTable(t);
        B3D_FreeStore();
        g_B3DState = nullptr;
        TC_FreeTextureTables();
        g_TCNumberedCount = g_TCNamedCount = 0;
        B3D_ForgetMenuTextures();
    }
    Fuzz_RemoveFile("section.bin");
    return 0;
}
