// The movies' "MOVI" section of a save game, read into a movie table (the
// movies it names are opened when their files exist; here none does), then
// every movie freed again.
#include "base/file.h"
#include "base/standin_calls.h"
#include "fuzz/harness/harness.h"
#include "program/movies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    static bool made = false;
    if (!made) {
        MOV_ReInit();
        // The first open registers the stream classes for good.
        MOV_OpenMovieStream(1, 0);
        made = true;
    }
    Fuzz_WriteFile("movi.bin", data, size);
    {
        FuzzMemoryGuard guard;
        if (QelFile* f = Qel_fcopen("movi.bin", "rb", 0)) {
            MOV_LoadGame(f);
            Qel_fclose(f);
        }
        MOV_FreeAllMovies();
        MOV_FreeVoices();
    }
    StandIn_ClearCalls();
    return 0;
}
