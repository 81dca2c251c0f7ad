// Two ships fight, headless through the real frame loop: a story makes a
// sector, two ships, a laser on the first and a shield on the second, and
// orders the first to attack the second with "SA_AttackObject". The attacker
// fires, its bullets take the shield and then the hull, the kill plays the
// destruction effect, and the waiting task goes on with the order's answer,
// which the story logs. The test gives the bodies their collision models and
// keeps the scene's world positions, as a drawn frame would.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/standin_calls.h"
#include "program/gameloop.h"
#include "scene/instcoll.h"
#include "scene/records.h"
#include "space/collisions.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/typesdb.h"
#include "space/weapons.h"
#include "support/logcapture.h"
#include "support/program.h"
#include "system/clock.h"
#include "tools/lib/bodyconv.h"

namespace {

constexpr int32_t kFrameMs = 16;
constexpr int32_t kBody = 12;

// Object 9 makes the world in "Init"; "Input" counts frames, orders the attack
// at frame 2, logs the answer with its frame and ends the run ten frames
// later (answer 3), or at frame 2000 whatever happens (answer 4).
const char* const kFightStory = R"(
.func "_Init" need 1
    c0
    ret
.object 9
.var "Frames" int 0
.var "Attacker" int 0
.var "Target" int 0
.var "Sector" int 0
.var "Answer" int 0
.var "After" int 0
.var "Part" int 0
.func "Init" need 8
    c1
    c1
    c2
    sys "SA_AllocObject"
    setv 3
    pop
    c0
    pushw 7
    c2
    sys "SA_AllocObject"
    setv 1
    pop
    c0
    pushw 7
    c2
    sys "SA_AllocObject"
    setv 2
    pop
    c0
    pushw 8
    c2
    sys "SA_AllocObject"
    setv 6
    pop
    getv 1
    getv 6
    c2
    sys "SA_StartObjectInSpace"
    pop
    c0
    pushw 9
    c2
    sys "SA_AllocObject"
    setv 6
    pop
    getv 2
    getv 6
    c2
    sys "SA_StartObjectInSpace"
    pop
    getv 3
    getv 1
    c2
    sys "SA_StartObjectInSpace"
    pop
    getv 3
    getv 2
    c2
    sys "SA_StartObjectInSpace"
    pop
    c0
    ret
.func "Run" need 1
    c0
    ret
.func "Stop" need 1
    c0
    ret
.func "Input" need 12
    getv 0
    c1
    add
    setv 0
    pop
    getv 0
    c2
    eq
    jf limit
    c0
    pushl 600000
    getv 2
    getv 1
    c4
    sys "SA_AttackObject"
    pushw 100
    add
    setv 4
    pop
    getv 0
    getv 4
    pushw 100
    sub
    pushds "Fight: the attack answered %d at frame %d\n"
    c0
    c4
    sys "SE_DMprintf"
    pop
    c0
    ret
limit:
    getv 0
    pushw 2000
    ge
    jf answered
    pushw 4
    ret
answered:
    getv 4
    jf more
    getv 5
    c1
    add
    setv 5
    pushw 10
    ge
    jf more
    c3
    ret
more:
    c0
    ret
)";

struct Watch {
    uint32_t attacker = 0, target = 0, shield = 0;
    bool shieldFirst = false;
    bool targetGone = false;
};
Watch s_watch;

SectorObject* Child(SectorObject* parent, int16_t mainType) {
    for (SectorObject* c = SA_ListFirst(O_GetChildList(parent)); c; c = SA_ListNext(c))
        if (c->mainType == mainType && !(c->flags & SA_FLAG_KILLED)) return c;
    return nullptr;
}

// After each frame's space update: the first time, the target is put ahead of
// the attacker with a small hull behind a shield; every time, bodies get their
// collision models and world positions.
void AfterSpace(const char* call) {
    if (std::strcmp(call, "O_DeleteKilledChildren") != 0) return;
    S_SetTimeStep(kFrameMs);
    SectorObject* sector = SA_ListFirst(&g_SpaceRoot->objects);
    while (sector && sector->mainType != SA_MT_SECTOR) sector = SA_ListNext(sector);
    if (!sector) return;
    if (!s_watch.attacker) {
        // The attacker carries the laser, the target the shield.
        SectorObject *attacker = nullptr, *target = nullptr;
        for (SectorObject* c = SA_ListFirst(O_GetChildList(sector)); c; c = SA_ListNext(c)) {
            if (c->mainType != SA_MT_SHIP) continue;
            if (Child(c, SA_MT_LASER)) attacker = c;
            if (Child(c, SA_MT_SHIELD)) target = c;
        }
        SectorObject* shield = target ? Child(target, SA_MT_SHIELD) : nullptr;
        if (!attacker || !shield) return;
        s_watch = Watch{attacker->id, target->id, shield->id, false, false};
        target->instance->pos = QelVector{0, 0, 60000, 0};
        target->hull = 1000;
        target->mass = attacker->mass = 1000;
        static_cast<ShieldData*>(shield->typeData)->energy = 500;
        O_ShipData(attacker)->SpeedLimit = 0;  // it stands and fires
        O_ShipData(attacker)->ThinkInterval = 200;
    }
    for (SectorObject* c = SA_ListFirst(O_GetChildList(sector)); c; c = SA_ListNext(c)) {
        if (!c->instance) continue;
        c->instance->worldPos = c->instance->pos;
        if (c->instance->flags & INST_COLLISION_MODEL) continue;
        const int32_t h = c->mainType == SA_MT_BULLET ? 200 : 1000;
        c->instance->totalRadius = c->size = h;
        B3D_CollBuildModelOcta(c->instance, h, h, h);
    }
    SectorObject* target = SA_LookupObject(s_watch.target);
    SectorObject* shield = SA_LookupObject(s_watch.shield);
    if (!target) s_watch.targetGone = true;
    else if (shield && static_cast<ShieldData*>(shield->typeData)->energy < 500 && target->hull == 1000)
        s_watch.shieldFirst = true;
}

TEST(Fight, AStoryOrdersAnAttackAndTheTargetFallsShieldFirst) {
    ProgramSession session({}, kFightStory);
    std::string body, error;
    ASSERT_TRUE(Tool_ModelToTextBody("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", &body, &error)) << error;
    session.Folder().Write("v/00012.bod", body);
    int32_t* ship = SA_AppendTypeRecords(SA_MT_SHIP, 1)->field;
    ship[SA_TF_BODY] = kBody;
    ship[SA_TF_SHIP_SPEED] = 150000;
    ship[SA_TF_SHIP_ACCELERATION] = 30000;
    ship[SA_TF_STEP_X] = ship[SA_TF_STEP_Y] = ship[SA_TF_STEP_Z] = 3277;
    ship[SA_TF_SHIP_MAX_HULL] = 1000;
    ship[SA_TF_SHIP_TURRET_COUNT] = 1;
    ship[SA_TF_SHIP_LASER_POWER_MAX] = 1000;
    ship[SA_TF_SHIP_LASER_POWER_RELOAD] = 1000;
    int32_t* laser = SA_AppendTypeRecords(SA_MT_LASER, 1)->field;
    laser[SA_TF_LASER_RELOAD] = 300;
    laser[SA_TF_LASER_ENERGY] = 10;
    int32_t* bullet = SA_AppendTypeRecords(SA_MT_BULLET, 1)->field;
    bullet[SA_TF_BODY] = kBody;
    bullet[SA_TF_BULLET_SPEED] = 100000;
    bullet[SA_TF_BULLET_LIFETIME] = 2000;
    bullet[SA_TF_BULLET_SHIELD_DAMAGE] = bullet[SA_TF_BULLET_HULL_DAMAGE] = 300;
    SA_AppendTypeRecords(SA_MT_SHIELD, 1)->field[SA_TF_SHIELD_STRENGTH] = 65536;
    s_watch = Watch{};
    S_SetTimeStep(kFrameMs);
    StandIn_ClearObjectCalls();
    StandIn_SetHook(AfterSpace);
    LogCapture log;
    const int32_t result = CL_GameLoop();
    StandIn_SetHook(nullptr);
    EXPECT_EQ(result, 3) << log.Text();
    EXPECT_TRUE(s_watch.targetGone);
    EXPECT_TRUE(s_watch.shieldFirst);
    // The target is gone: the order ends with 3, and the task goes on with it.
    EXPECT_NE(log.Text().find("Fight: the attack answered 3 at frame "), std::string::npos) << log.Text();
    const std::vector<std::string>& calls = StandIn_ObjectCalls();
    const std::string effect =
        "EO_ObjectDestroyedEffect " + std::to_string(s_watch.target) + " " + std::to_string(s_watch.attacker);
    EXPECT_NE(std::find_if(calls.begin(), calls.end(), [&](const std::string& c) { return c.rfind(effect, 0) == 0; }),
              calls.end());
}

}  // namespace
