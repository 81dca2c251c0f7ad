// The scene engine's save section, read into a fresh scene state with a
// fresh texture table; the state, with every scene, instance and take the
// load made, is freed before the memory books are checked.
#include "base/file.h"
#include "fuzz/harness/harness.h"
#include "scene/savesection.h"

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
        Fuzz_FreeSceneState();
    }
    Fuzz_RemoveFile("section.bin");
    return 0;
}
