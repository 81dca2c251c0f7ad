// The game sound's effect table: the input is "Sounds.txt", read into the
// group rows and freed again.
#include "base/standin_calls.h"
#include "fuzz/harness/harness.h"
#include "program/gamesound.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    Fuzz_WriteFile("types/Sounds.txt", data, size);
    {
        FuzzMemoryGuard guard;
        SFX_InitSounds();
        SFX_FreeAllSamples();
    }
    // The stand-in call record grows by every call: keep a long run's memory flat.
    StandIn_ClearCalls();
    return 0;
}
