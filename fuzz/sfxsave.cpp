// The game sound's "SFX " section of a save game: the waiting channels it
// names are answered as after a load.
#include "base/file.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/story.h"
#include "program/gamesound.h"
#include "script/tasks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    SE_Context* ctx = Fuzz_ScriptContext();
    // A plain file reads through the gzip stream as it stands.
    Fuzz_WriteFile("sfx.bin", data, size);
    FuzzMemoryGuard guard(ctx);
    if (QelFile* f = Qel_fcopen("sfx.bin", "rb", 0)) {
        SFX_LoadGame(f);
        Qel_fclose(f);
    }
    SE_RunAllTasks();
    return 0;
}
