// A whole save game through the container's reader: header, clocks, timed
// events, the script section over the fuzzer's story (written once as
// "L\fuzz.obj"), the other modules' sections and the closing cookies. What
// the load made (story, events, cockpit system, gates, story name) is freed after.
#include <cstdlib>
#include <vector>

#include "base/file.h"
#include "base/memory.h"
#include "base/standin_calls.h"
#include "base/strings.h"
#include "cockpit/galaxy.h"
#include "cockpit/cockpits.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/story.h"
#include "program/main.h"
#include "program/savegame.h"
#include "script/interpreter.h"
#include "script/loader.h"
#include "script/tasks.h"
#include "system/timer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    SE_Context* ctx = Fuzz_ScriptContext();
    static ProgramState* ps = nullptr;
    static TimerBase* base = nullptr;
    if (!ps) {
        std::vector<uint8_t> image = Fuzz_StoryImage();
        Fuzz_WriteFile("L/fuzz.obj", image.data(), image.size());
        ps = static_cast<ProgramState*>(std::calloc(1, sizeof(ProgramState)));
        g_ProgramState = ps;
        base = static_cast<TimerBase*>(std::calloc(1, sizeof(TimerBase)));
        Timer_Init(base);
        g_GalaxyGrid = static_cast<GalaxyGrid*>(std::calloc(1, sizeof(GalaxyGrid)));
        if (!GS_AllocGalaxy(g_GalaxyGrid, GS_ROWS, GS_COLUMNS)) std::abort();
    }
    Fuzz_WriteFile("save.bin", data, size);
    {
        FuzzMemoryGuard guard(ctx);
        if (QelFile* f = Qel_fcopen("save.bin", "rb", 0)) {
            if (P_LoadFromStream(f)) {
                SE_SetStepBudget(50000);
                Fuzz_AnswerLater();
                SE_RunAllTasks();
                SE_SetStepBudget(-1);
            }
            Qel_fclose(f);
        }
        GS_ClearGalaxy(g_GalaxyGrid);
        Timer_ClearAll();
        SB_FreeLocation(ctx);
        Fuzz_ForgetLater();
        INS_FreeCockpitSystem();
        ps->storyName = Qel_StrFree(ps->storyName);
    }
    StandIn_ClearCalls();
    return 0;
}
