// The cockpit's "INS " save section, read into a fresh cockpit system over
// a space world (a sector and ships for the object ids, the cockpits' own
// scenes and a few free instances for the scene and camera ids). A section
// that loads must save again and load back from what it saved; every
// cockpit it made is freed before the memory books are checked.
#include "base/standin_calls.h"
#include "cockpit/cockpits.h"
#include "cockpit/save.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/spaceworld.h"
#include "space/cutscene.h"
#include "space/objects.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    {
        FuzzMemoryGuard guard;
        FuzzSpaceWorld world;
        Fuzz_OpenSpaceWorld(&world);
        Fuzz_AddCockpitObjects();
        if (INS_NewCockpitSystem()) {
            INS_AddCockpit(g_CockpitSystem);
            if (Fuzz_LoadSection(ID_Load, data, size)) {
                const std::vector<uint8_t> again = Fuzz_SaveSection(ID_Save);
                Fuzz_Check(!again.empty(), "cockpitsave", "a loaded section did not save");
                INS_NewCockpitSystem();
                Fuzz_Check(Fuzz_LoadSection(ID_Load, again.data(), again.size()) == 1, "cockpitsave",
                           "a saved section did not load back");
                Fuzz_Check(Fuzz_SaveSection(ID_Save).size() == again.size(), "cockpitsave",
                           "a section saved twice differs in size");
            }
            INS_FreeCockpitSystem();
        }
        SA_FreeAllObjects(&world.root);
        Fuzz_CloseSpaceWorld(&world);
    }
    StandIn_ClearCalls();
    return 0;
}
