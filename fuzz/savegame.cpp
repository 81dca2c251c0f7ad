// The script section of a save game: the story it names is the fuzzer's
// story (written once as "L\fuzz.obj"); the section is read into the global
// context, the restored tasks run a little, then the story is freed.
#include <string>
#include <vector>

#include "base/file.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/story.h"
#include "script/interpreter.h"
#include "script/loader.h"
#include "script/savegame.h"
#include "script/tasks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    SE_Context* ctx = Fuzz_ScriptContext();
    static bool written = false;
    if (!written) {
        std::vector<uint8_t> image = Fuzz_StoryImage();
        Fuzz_WriteFile("L/fuzz.obj", image.data(), image.size());
        written = true;
    }
    // A plain file reads through the gzip stream as it stands.
    Fuzz_WriteFile("section.bin", data, size);
    FuzzMemoryGuard guard(ctx);
    if (QelFile* f = Qel_fcopen("section.bin", "rb", 0)) {
        if (SB_LoadGame(f)) {
            SE_SetStepBudget(50000);
            Fuzz_AnswerLater();
            SE_RunAllTasks();
            SE_SetStepBudget(-1);
        }
        Qel_fclose(f);
    }
    SB_FreeLocation(ctx);
    Fuzz_ForgetLater();
    return 0;
}
