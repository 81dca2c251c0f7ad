// The space simulation's "SECT" save section, read into a fresh space world
// (types with turrets and dock ports, a few instances and scenes for its ids
// to name). A section that loads must save again and load back from what it
// saved; everything the loads made is freed before the memory books are
// checked.
#include "base/standin_calls.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/spaceworld.h"
#include "space/cutscene.h"
#include "space/objects.h"
#include "space/save.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    {
        FuzzMemoryGuard guard;
        FuzzSpaceWorld world;
        Fuzz_OpenSpaceWorld(&world);
        if (Fuzz_LoadSection(SA_ReadSectors, data, size)) {
            const std::vector<uint8_t> again = Fuzz_SaveSection(SA_SaveSectors);
            Fuzz_Check(!again.empty(), "spacesave", "a loaded section did not save");
            SA_DeleteKilledObjects();
            SA_FreeAllObjects(&world.root);
            ST_RemoveAllTakes(&world.root);
            Fuzz_Check(Fuzz_LoadSection(SA_ReadSectors, again.data(), again.size()) == 1, "spacesave",
                       "a saved section did not load back");
        }
        Fuzz_CloseSpaceWorld(&world);
    }
    StandIn_ClearCalls();
    return 0;
}
