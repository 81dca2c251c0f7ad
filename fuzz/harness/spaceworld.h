// The space world the "SECT" section target reads into and the seed writer
// writes from: a space root over a fresh scene state, two subtypes of every
// main type with a types file (ship 0 with two turrets and a dock port, docks
// and factories with dock ports), and a few free instances and scenes for
// the ids a section names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "space/records.h"

struct SE_Context;

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

// The world the space call targets run their story in: a space root made
// once per run, with a fresh scene state, object and take tables and the
// story loaded again for every input.
struct FuzzCallWorld {
    SpaceRoot root;
    std::vector<uint8_t> image;
};

// Once per run: the story image and the space root; false when it is made
// already. The caller then loads its types and fills its phases.
bool Fuzz_StartCallWorld(FuzzCallWorld* world, const std::string& storyText);
// Before an input: the scene state, the tables, the story, the step budget.
void Fuzz_BeginCallInput(FuzzCallWorld* world, SE_Context* ctx);
// After an input, once the target has freed its objects and takes: the
// story's tasks run out, the location, the tables and the scene state go.
void Fuzz_EndCallInput(FuzzCallWorld* world, SE_Context* ctx);
// Traps when one of the tasks is still waiting unanswered.
void Fuzz_CheckAnswered(SE_Context* ctx, const std::vector<uint32_t>& tasks);
// The tasks the objects of the table hold as their waiting caller.
std::vector<uint32_t> Fuzz_HeldTasks(const SpaceRoot& root, SE_Context* ctx);

// Grows the scene engine's ID tables and pools, and the object table, once
// to what the most cockpits (320), instances (4000) and ships (400) of an
// input need, so an input's memory guard sees none of their growth.
void Fuzz_GrowCockpitPools();

// Ids the cockpit targets pick: for a byte below 0xF0 one of the ids handed
// out so far (live or freed), else one of eight made-up ids (0, 1, the
// table's edges, the all-ones word and a few small ones).
uint32_t Fuzz_MadeUpId(uint8_t b);
uint32_t Fuzz_PickId(uint8_t b, const std::vector<uint32_t>& ids);
// A sector scene, enabled, with its camera (square aspect, the whole
// viewport, unturned); the ids of both. The free takes what still exists.
void Fuzz_NewSectorCamera(uint32_t* scene, uint32_t* camera);
void Fuzz_FreeSectorCamera(uint32_t* scene, uint32_t* camera);
// The icons the target overlay draws (ships, brackets, the shield bar's
// levels) in the scene engine's icon table, on a 640 x 480 screen.
void Fuzz_SetOverlayIcons();

// A ship of the first ship type in the sector, hostile to group 1; traps when
// none can be made.
SectorObject* Fuzz_AddSectorShip(SectorObject* sector);
// A cockpit riding the ship and looking into the sector through the camera,
// view mode 1 on monitor 0; its id, or 0 when the table is full.
uint32_t Fuzz_AddSectorCockpit(SectorObject* sector, uint32_t camera, SectorObject* ship);
// Game time moves on by ms (the clock wraps at nine hours).
void Fuzz_AdvanceGameClock(int32_t ms);
// Game time moves on by ms and every cockpit takes its frame.
void Fuzz_CockpitFrame(int32_t ms);
// As a load does: the cockpit section written, a new cockpit system, the
// section read back; a failure traps as the target's own.
void Fuzz_SaveLoadCockpits(const char* target);

// The cockpit's textures as 32-bit memory bitmaps on the small device, in a
// table of 70 numbered slots, with texture 3 as the icon sheet (64 x 64,
// filled) holding the icons, eight 5 x 5 cells to a row.
struct FuzzTexture {
    int32_t slot, width, height;
};
void Fuzz_CockpitTextures(const std::vector<FuzzTexture>& textures, const std::vector<int32_t>& icons);

// The sector steps of the HUD targets: an object put into the sector as its
// child; moved (not the sector itself); killed (with the sector's killed then
// freed) or freed at once, the sector and the object `kept` left alone.
void Fuzz_PutInSector(SectorObject* sector, SectorObject* o);
void Fuzz_MoveObject(const SectorObject* sector, SectorObject* o, const QelVector& pos);
void Fuzz_KillOrFreeObject(SectorObject* sector, SectorObject* o, bool kill, uint32_t kept);
