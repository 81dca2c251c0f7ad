// The space world the "SECT" section target reads into and the seed writer
// writes from: a space root over a fresh scene state, two subtypes of every
// main type with a types file (ship 0 with two turrets and a dock port, docks
// and factories with dock ports), and a few free instances and scenes for
// the ids a section names.
#pragma once

#include "space/records.h"

struct FuzzSpaceWorld {
    SpaceRoot root;
    SpaceRoot* saved;
};

void Fuzz_OpenSpaceWorld(FuzzSpaceWorld* world);
// Frees every object, take, type and the scene state.
void Fuzz_CloseSpaceWorld(FuzzSpaceWorld* world);

// What a cockpit save names: a sector (object 1), two ships in it (2 and 3)
// and a story camera, made the same way by the seed writer and the target.
struct FuzzCockpitObjects {
    SectorObject* sector;
    SectorObject* ships[2];
    uint32_t camera;
};
FuzzCockpitObjects Fuzz_AddCockpitObjects();
