// Recordings through the replay: the input is the file "%s.rec" (gzip or
// plain), started and played for at most 64 frame draws on a fresh scene
// state, the game clock jumping far between draws so that most frames are
// due; then the replay stops and everything it made is freed.
#include <cstdint>

#include "base/general.h"
#include "fuzz/harness/harness.h"
#include "scene/replay.h"
#include "scene/state.h"
#include "system/clock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    Fuzz_WriteFile("fuzz.rec", data, size);
    {
        FuzzMemoryGuard guard;
        g_B3DState = B3D_InitStore();
        if (!g_B3DState || B3D_InitBodyIdTable() != 1 || B3D_InitCutIdTable() != 1) __builtin_trap();
        g_SystemState->gameClock = 0;
        if (B3D_ReplayRecording("fuzz", 1, 2, 3, 4, 5)) {
            for (int draw = 0; draw < 64 && (B3D_GetEngineFlags() & B3D_ENGINE_REPLAYING); ++draw) {
                B3D_ReplayFrame();
                g_SystemState->gameClock = S_ClockAdvance(g_SystemState->gameClock, 7777777);
            }
            B3D_ExitReplay();
        }
        if (B3D_GetEngineFlags() & B3D_ENGINE_REPLAYING) __builtin_trap();
        B3D_FreeStore();
    }
    Fuzz_RemoveFile("fuzz.rec");
    return 0;
}
