// The effects in the program's frame loop: a ship killed during a frame plays
// its destruction effect on a carrier object, and the loop removes the
// carrier once the effect has ended.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/general.h"
#include "base/standin_calls.h"
#include "base/table.h"
#include "cockpit/effects.h"
#include "cockpit/explosions.h"
#include "program/gameloop.h"
#include "program/main.h"
#include "scene/allocs.h"
#include "scene/trees.h"
#include "space/create.h"
#include "space/kill.h"
#include "space/objects.h"
#include "support/program.h"
#include "system/clock.h"
#include "tools/lib/types_writer.h"

namespace {

// What the frames saw.
struct Seen {
    SectorObject* sector = nullptr;
    uint32_t carrier = 0;
    int frames = 0;
    int carrierFrames = 0;  // frames the carrier was still in play
    bool effectsLeft = false;
};
Seen s_seen;

bool InPlay(uint32_t id) { return id && Qel_TableGet(g_SpaceRoot->ids, id) != 0; }

// In the first frame: the run's start has reset the location, scenes and all.
void KillAShip() {
    s_seen.sector = O_AllocObject(SA_TypeCode(SA_MT_SECTOR, 0));
    ASSERT_NE(s_seen.sector, nullptr);
    O_Sector(s_seen.sector)->spaceScene = B3D_SceneAlloc();
    SectorObject* ship = O_AllocObject(SA_TypeCode(SA_MT_SHIP, 0));
    ASSERT_NE(ship, nullptr);
    if (!ship->instance) ship->instance = B3D_AllocInst();
    ship->instance->size = ship->size = 65536;
    O_SetContainer(ship, s_seen.sector);
    if (!ship->instance->scene) B3D_InstAddToScene(ship->instance, O_Sector(s_seen.sector)->spaceScene);
    SS_KillObject(ship, 0, nullptr, 0);
    ObjectEffect* e = EO_FirstEffect();
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(e->object->mainType, EO_CARRIER_MAIN_TYPE);
    s_seen.carrier = e->object->id;
}

void EndTheRun() {
    g_ProgramState->requestBits |= P_REQUEST_LOAD;
    g_ProgramState->requestedSlot = 4;
    g_ProgramState->extraValue = 0;
}

void Hook(const char* call) {
    if (std::strcmp(call, "SA_UpdateSpace") == 0 && ++s_seen.frames == 1) KillAShip();
    // A tenth of a second of game time per frame, whatever the machine's speed.
    if (std::strcmp(call, "EO_MoveExplObjects") == 0)
        g_SystemState->gameClock = S_ClockAdvance(g_SystemState->gameClock, 100);
    if (std::strcmp(call, "B3D_DrawObjects") == 0) {
        if (InPlay(s_seen.carrier)) ++s_seen.carrierFrames;
        if (s_seen.frames == 20) {
            s_seen.effectsLeft = EO_FirstEffect() != nullptr;
            EndTheRun();
        }
    }
}

TEST(EffectsInTheLoop, AKillPlaysOnACarrierThatTheLoopRemovesWhenItEnds) {
    ProgramSession session;
    std::string error;
    ASSERT_TRUE(
        Tool_WriteTypesFiles("[effects]\n48 EDF_NONE 0 1.0\n"
                             "  EEDF_GROW|EEDF_TIMEOUT 0 NULL 1 3 500 0 0 0 0 0 0 0 0\n",
                             session.Folder().Path() + "/types", -1, &error))
        << error;
    s_seen = Seen{};
    StandIn_SetHook(Hook);
    CL_GameLoop();
    StandIn_SetHook(nullptr);
    ASSERT_NE(s_seen.carrier, 0u);
    // The effect lasts 500 ms, five frames: the carrier goes in the frame
    // after it ends, and nothing of the effect is left.
    EXPECT_GE(s_seen.carrierFrames, 4);
    EXPECT_LE(s_seen.carrierFrames, 7);
    EXPECT_FALSE(s_seen.effectsLeft);
    EXPECT_FALSE(InPlay(s_seen.carrier));
}

}  // namespace
