// The timer's "TIME" section of a save game, read into a fresh timer and
// the events answered as the game answers them.
#include <cstdlib>
#include <cstring>

#include "base/file.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/story.h"
#include "system/timer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    SE_Context* ctx = Fuzz_ScriptContext();
    static TimerBase* base = nullptr;
    if (!base) {
        base = static_cast<TimerBase*>(std::calloc(1, sizeof(TimerBase)));
        Timer_Init(base);
    }
    Fuzz_WriteFile("time.bin", data, size);
    FuzzMemoryGuard guard(ctx);
    if (QelFile* f = Qel_fcopen("time.bin", "rb", 0)) {
        Timer_LoadGame(f, base);
        Qel_fclose(f);
    }
    // The restored events are answered as the game would: the due ones,
    // an owner's, then all the rest.
    Timer_Update();
    Timer_CancelOwner(base, 42);
    Timer_ClearAll();
    Timer_FreeAllNodes(base);
    return 0;
}
