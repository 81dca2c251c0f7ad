// The space calls 259 to 349 through an argument builder: sounds, the
// player, docking, effects, sector scenes, placement, cameras, videos and the
// tractor beam, as case tables with the edge cases that matter; and one
// assembled story whose task waits on a decoupling ship.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cockpit/effects.h"
#include "scene/allocs.h"
#include "scene/caches.h"
#include "scene/freeing.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "script/arrays.h"
#include "script/tasks.h"
#include "space/create.h"
#include "space/hangars.h"
#include "space/objectcalls.h"
#include "space/order_fixture.h"
#include "space/orders.h"
#include "space/placecalls.h"
#include "space/queries.h"
#include "space/save.h"
#include "space/space_fixture.h"
#include "space/weapons.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "support/sectionfile.h"
#include "tools/lib/cutconv.h"

namespace {

constexpr int32_t kAnswerArray = -2;  // Call's answer when the call answered an array

class PlaceCalls : public OrderTest {
protected:
    void TearDown() override {
        for (ScriptValue& v : arrays_) SV_Release(&v);
        arrays_.clear();
        SV_Release(&task_.callResult);
        EO_FreeObjectEffects();
        OrderTest::TearDown();
    }
    // An array argument of the integers; released after the test.
    ScriptValue Array(std::vector<int32_t> values) {
        ScriptValue v{};
        SV_ArrayAlloc(&v, static_cast<int32_t>(values.size()));
        for (size_t i = 0; i < values.size(); ++i) SV_ArrayWriteInt(&v, static_cast<int32_t>(i), values[i]);
        arrays_.push_back(v);
        return v;
    }
    static std::vector<int32_t> Ints(ScriptValue* a) {
        std::vector<int32_t> r;
        for (int32_t i = 0; i < SV_ArraySize(a); ++i) r.push_back(SV_ArrayRead(a, i)->i);
        return r;
    }
    // The array the last call answered.
    std::vector<int32_t> Answered() {
        EXPECT_EQ(task_.callResult.tag, VARTYPE_ARRAY);
        return task_.callResult.tag == VARTYPE_ARRAY ? Ints(&task_.callResult) : std::vector<int32_t>{};
    }
    int32_t CallAny(int32_t number, std::vector<ScriptValue> args) {
        SV_Release(&task_.callResult);
        const int32_t n = Call(number, std::move(args));
        return task_.callResult.tag == VARTYPE_ARRAY ? kAnswerArray : n;
    }
    std::vector<ScriptValue> arrays_;
};

ScriptValue I(int32_t n) { return IntValue(n); }

}  // namespace

// Every call of the range that names an object answers 0 for an ID that no
// object has, after the lookup's line, and changes nothing.
TEST_F(PlaceCalls, AMissingObjectAnswersZero) {
    const int32_t sizeBefore = O_Sector(sector_)->sectorSize;
    for (int32_t number : {259, 262, 263, 264, 265, 266, 267, 268, 269, 270, 271, 272, 274, 277, 278,
                           279, 281, 284, 287, 289, 306, 307, 308, 309, 310, 312, 315, 317, 318, 320,
                           324, 325, 326, 327, 328, 330, 331, 333, 336, 337, 338, 339, 347, 348, 349}) {
        LogCapture log;
        EXPECT_EQ(CallAny(number, {I(999), I(999), I(5), I(5), I(5), I(5)}), 0) << number;
        EXPECT_TRUE(log.Contains("SA_FindObjectByID(999)")) << number;
    }
    EXPECT_EQ(O_Sector(sector_)->sectorSize, sizeBefore);
}

TEST_F(PlaceCalls, CallsThatAlwaysAnswerZeroAndTheTimer) {
    SetClock(123456);
    SectorObject* ship = Ship();
    struct Case {
        int32_t number;
        std::vector<ScriptValue> args;
        int32_t answer;
    } cases[] = {
        {275, {I(Id(ship)), I(Id(sector_))}, 0},
        {275, {}, 0},
        {276, {I(Id(ship))}, 0},
        {297, {I(0)}, 123456},
        {297, {I(1)}, 0},
        {297, {I(-1)}, 0},
    };
    for (Case& c : cases) EXPECT_EQ(Call(c.number, c.args), c.answer) << c.number;
}

// With carrier 0 the ship stops landing: course 0, no target, the order time
// now and no port; with a carrier it lands, its order time a minute on and
// wrapped at the clock's span.
TEST_F(PlaceCalls, PlayerLandWithAndWithoutCarrier) {
    SectorObject* ship = Ship();
    SectorObject* carrier = Placed(SA_MT_DOCK, 0, 0, 0, 0);
    ShipData* d = O_ShipData(ship);
    SetClock(32350000);
    EXPECT_EQ(Call(265, {I(Id(ship)), I(Id(carrier)), I(2)}), 0);
    EXPECT_EQ(d->CourseType, VER_LAND);
    EXPECT_EQ(d->OrderTarget, carrier);
    EXPECT_EQ(d->NextThink, 10000);
    EXPECT_EQ(d->PortIndex, 2);
    EXPECT_EQ(Call(266, {I(Id(ship))}), 1);
    EXPECT_EQ(Call(266, {I(Id(carrier))}), 0);
    SetClock(5000);
    EXPECT_EQ(Call(265, {I(Id(ship)), I(0), I(2)}), 0);
    EXPECT_EQ(d->CourseType, VER_STOP);
    EXPECT_EQ(d->OrderTarget, nullptr);
    EXPECT_EQ(d->NextThink, 5000);
    EXPECT_EQ(d->PortIndex, -1);
    EXPECT_EQ(Call(266, {I(Id(ship))}), 0);
}

TEST_F(PlaceCalls, PlayerControlAndPlayerObject) {
    SectorObject* ship = Ship();
    EXPECT_EQ(Call(272, {I(Id(ship)), I(1)}), 0);
    EXPECT_TRUE(ship->flags & SA_FLAG_PLAYER_CONTROL);
    EXPECT_EQ(Call(272, {I(Id(ship)), I(0)}), 0);
    EXPECT_FALSE(ship->flags & SA_FLAG_PLAYER_CONTROL);
    EXPECT_EQ(Call(271, {I(Id(ship))}), 0);  // on when not given
    EXPECT_EQ(root_.game.playerObject, ship);
    EXPECT_EQ(ship->flags & (SA_FLAG_PLAYER | SA_FLAG_PLAYER_CONTROL), SA_FLAG_PLAYER | SA_FLAG_PLAYER_CONTROL);
    EXPECT_EQ(Call(271, {I(Id(ship)), I(0)}), 0);
    EXPECT_EQ(root_.game.playerObject, nullptr);
    EXPECT_FALSE(ship->flags & SA_FLAG_PLAYER);
}

// Channel -1 picks from the first video list, 0 shows frame 0, a positive
// channel its number + 1; an empty list or one beyond the lists shows 0.
TEST_F(PlaceCalls, VideoChannelFrames) {
    int32_t first[] = {1, 7};
    int32_t empty[] = {0};
    int32_t* lists[] = {first, empty};
    g_TypeDB.videoLists = lists;
    g_TypeDB.videoListCount = 2;
    struct Case {
        int32_t channel, frame;
        bool logged;
    } cases[] = {{-1, 8, false},
                 {0, 0, false},
                 {3, 4, false},
                 {-2, 0, true},
                 {-3, 0, false},
                 {INT32_MIN, 0, false},
                 {INT32_MAX, INT32_MAX, false}};  // the last number shows the last frame, no overflow
    for (const Case& c : cases) {
        LogCapture log;
        EXPECT_EQ(O_VideoChannelFrame(c.channel), c.frame) << c.channel;
        EXPECT_EQ(log.Contains("Qel_LongRandom: Wrong argument 0"), c.logged) << c.channel;
    }
    SectorObject* screen = Placed(SA_MT_SPECIAL, 0, 0, 0, 0);
    screen->flags2 |= SA_FLAG2_SHOWS_VIDEO;
    O_SpecialData(screen)->shownVideo = 5;
    EXPECT_EQ(Call(268, {I(Id(screen)), I(-1)}), 0);
    EXPECT_EQ(O_SpecialData(screen)->videoChannel, -1);
    EXPECT_EQ(O_SpecialData(screen)->shownVideo, 0);
    EXPECT_FALSE(screen->flags2 & SA_FLAG2_SHOWS_VIDEO);
    SectorObject* ship = Ship();
    EXPECT_EQ(Call(268, {I(Id(ship)), I(3)}), 0);  // not a screen: nothing
    g_TypeDB.videoLists = nullptr;
    g_TypeDB.videoListCount = 0;
}

// Setters answer the value they set and the getters read it back; on an
// object that is not a sector they answer 0 and change nothing (the scene
// getters do not check the main type, but a ship has no scenes either).
TEST_F(PlaceCalls, SectorWordsAndScenes) {
    SectorObject* ship = Ship();
    const int32_t sector = Id(sector_);
    struct Case {
        int32_t set, get, value;
    } cases[] = {{287, 288, 6}, {289, 290, 25000000}, {291, 292, 3}, {293, 294, 11}, {295, 296, -4}};
    for (const Case& c : cases) {
        EXPECT_EQ(Call(c.set, {I(sector), I(c.value)}), c.value) << c.set;
        EXPECT_EQ(Call(c.get, {I(sector)}), c.value) << c.get;
        EXPECT_EQ(Call(c.set, {I(Id(ship)), I(c.value + 1)}), 0) << c.set;
        EXPECT_EQ(Call(c.get, {I(Id(ship))}), 0) << c.get;
    }
    Scene3D* space = B3D_SceneAlloc();
    Scene3D* galaxy = B3D_SceneAlloc();
    Scene3D* dust = B3D_SceneAlloc();
    const auto sid = [](Scene3D* s) { return I(static_cast<int32_t>(s->id)); };
    EXPECT_EQ(Call(281, {I(sector), sid(space)}), 0);
    EXPECT_EQ(Call(282, {I(sector), sid(galaxy)}), 0);
    EXPECT_EQ(Call(283, {I(sector), sid(dust)}), 0);
    EXPECT_EQ(Call(283, {I(sector), I(987654)}), 0);  // no such scene: kept
    EXPECT_EQ(Call(281, {I(Id(ship)), sid(dust)}), 0);
    EXPECT_EQ(Call(284, {I(sector)}), static_cast<int32_t>(space->id));
    EXPECT_EQ(Call(285, {I(sector)}), static_cast<int32_t>(galaxy->id));
    EXPECT_EQ(Call(286, {I(sector)}), static_cast<int32_t>(dust->id));
    EXPECT_EQ(Call(284, {I(Id(ship))}), 0);
    O_Sector(sector_)->spaceScene = O_Sector(sector_)->galaxyScene = O_Sector(sector_)->dustScene = nullptr;
    B3D_SceneFree(space);
    B3D_SceneFree(galaxy);
    B3D_SceneFree(dust);
}

// Poses in and out through script arrays; zero angles leave an offset as it is.
TEST_F(PlaceCalls, PosesThroughArrays) {
    SectorObject* ship = Ship();
    EXPECT_EQ(Call(318, {I(Id(ship)), Array({100, 200, 300, 16384, 0, 0})}), 0);
    ScriptValue out = Array({0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(Call(320, {I(Id(ship)), out}), 0);
    EXPECT_EQ(Ints(&out), (std::vector<int32_t>{100, 200, 300, 16384, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Call(315, {I(Id(ship)), Array({1, 2, 3, 0, 0, 0, 0, 0, 65536})}), 0);
    EXPECT_EQ(Call(317, {I(Id(ship)), out}), 0);
    std::vector<int32_t> pose = Ints(&out);
    EXPECT_EQ(std::vector<int32_t>(pose.begin(), pose.begin() + 3), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(std::vector<int32_t>(pose.begin() + 6, pose.end()), (std::vector<int32_t>{0, 0, 65536}));
    // A short array, or no array, places nothing.
    EXPECT_EQ(Call(318, {I(Id(ship)), Array({7, 7})}), 0);
    EXPECT_EQ(Call(318, {I(Id(ship)), I(7)}), 0);
    EXPECT_EQ(ship->instance->pos.x, 1);

    struct Case {
        int32_t number;
        std::vector<int32_t> a, b, answer;
    } cases[] = {
        {322, {10, 20, 30, 0, 0, 0}, {1, 2, 3}, {11, 22, 33}},
        {321, {5, 6, 7, 100, 200, 300}, {0, 0, 0, 0, 0, 0}, {5, 6, 7, 100, 200, 300}},
        {321, {5, 6, 7, 0, 0, 0}, {1000, 0, 0, 0, 0, 0}, {1005, 6, 7, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CallAny(c.number, {Array(c.a), Array(c.b)}), kAnswerArray) << c.number;
        EXPECT_EQ(Answered(), c.answer) << c.number;
    }
    EXPECT_EQ(CallAny(322, {Array({1, 2, 3}), Array({1, 2, 3})}), 0);  // a pose of three
    EXPECT_EQ(CallAny(321, {I(1), I(2)}), 0);
}

// The first free warp-out slot answers 1 whatever the others hold; all six
// busy, or an object that is no gate, answer 0; a slot whose time has come is free.
TEST_F(PlaceCalls, WarpOutSlots) {
    SectorObject* gate = Placed(SA_MT_GATE, 0, 0, 0, 0);
    SectorObject* ship = Ship();
    GateData* g = O_GateData(gate);
    for (int32_t k = 1; k < SA_WARP_OUT_SLOTS; ++k) {
        g->slotOccupant[k] = ship;
        g->slotTime[k] = S_ClockAdvance(system_->gameClock, 5000);
    }
    EXPECT_EQ(Call(309, {I(Id(gate))}), 1);
    g->slotOccupant[0] = ship;
    g->slotTime[0] = S_ClockAdvance(system_->gameClock, 5000);
    EXPECT_EQ(Call(309, {I(Id(gate))}), 0);
    g->slotTime[3] = system_->gameClock;
    EXPECT_EQ(Call(309, {I(Id(gate))}), 1);
    EXPECT_EQ(Call(309, {I(Id(ship))}), 0);
    for (SectorObject*& o : g->slotOccupant) o = nullptr;
}

// Cameras, ships and missiles keep their own words; another main type changes nothing.
TEST_F(PlaceCalls, CameraShipAndMissileWords) {
    Types(SA_MT_CAMERA, 1);
    SectorObject* camera = New(SA_MT_CAMERA);
    SectorObject* ship = Ship();
    SectorObject* missile = Placed(SA_MT_MISSILE, 0, 0, 0, 0);
    EXPECT_EQ(Call(306, {I(Id(camera)), I(4500)}), 0);
    EXPECT_EQ(Call(307, {I(Id(camera))}), 4500);
    EXPECT_EQ(Call(306, {I(Id(ship)), I(4500)}), 0);
    EXPECT_EQ(Call(307, {I(Id(ship))}), 0);
    EXPECT_EQ(Call(310, {I(Id(camera)), I(3)}), 0);
    EXPECT_EQ(O_CameraData(camera)->connectMode, 3);
    EXPECT_EQ(Call(308, {I(Id(camera)), I(Id(ship))}), 0);
    EXPECT_EQ(O_CameraData(camera)->destination, ship);
    EXPECT_EQ(Call(308, {I(Id(ship)), I(Id(camera))}), 0);
    EXPECT_EQ(O_ShipData(ship)->OrderTarget, camera);
    EXPECT_EQ(Call(308, {I(Id(missile)), I(Id(ship))}), 0);
    EXPECT_EQ(Call(325, {I(Id(missile))}), Id(ship));
    EXPECT_EQ(Call(325, {I(Id(ship))}), 0);
    EXPECT_EQ(Call(308, {I(Id(missile)), I(0)}), 0);
    EXPECT_EQ(Call(325, {I(Id(missile))}), 0);
    struct Case {
        int32_t number;
        int32_t ShipData::*field;
    } cases[] = {{312, &ShipData::SpeedLimit},
                 {313, &ShipData::maxSpeedOverride},
                 {314, &ShipData::maxStrafeOverride},
                 {336, &ShipData::PortIndex}};
    for (const Case& c : cases) {
        EXPECT_EQ(Call(c.number, {I(Id(ship)), I(777)}), 0);
        EXPECT_EQ(O_ShipData(ship)->*c.field, 777) << c.number;
        EXPECT_EQ(Call(c.number, {I(Id(camera)), I(888)}), 0);
    }
    EXPECT_EQ(Call(324, {I(Id(ship)), I(5)}), 0);
    EXPECT_EQ(O_RelationWords(ship)->enemyOf, 1);
    EXPECT_EQ(Call(324, {I(Id(ship)), I(0)}), 0);
    EXPECT_EQ(O_RelationWords(ship)->enemyOf, 0);
}

// A camera keeps its scene camera by id: once the story frees the instance
// the camera has none, and its save names none (rather than reading the
// freed record).
TEST_F(PlaceCalls, ACamerasFreedSceneCameraIsGone) {
    TempGameFolder folder;
    Types(SA_MT_CAMERA, 1);
    SectorObject* camera = New(SA_MT_CAMERA);
    Into(sector_, camera);
    const uint32_t cameraId = camera->id;
    Inst3D* inst = B3D_AllocInst();
    EXPECT_EQ(Call(311, {I(Id(camera)), I(static_cast<int32_t>(inst->id))}), 0);
    EXPECT_EQ(O_CameraSceneInstance(O_CameraData(camera)), inst);
    B3D_InstFree(inst);
    EXPECT_EQ(O_CameraSceneInstance(O_CameraData(camera)), nullptr);
    const std::vector<uint8_t> saved = SectionWritten(SA_SaveSectors);
    SA_FreeAllObjects(&root_);
    EXPECT_EQ(SectionRead(folder, saved, SA_ReadSectors), 1);
    SectorObject* loaded = SA_LookupObject(cameraId);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(O_CameraSceneInstance(O_CameraData(loaded)), nullptr);
    EXPECT_EQ(O_CameraData(loaded)->sceneCameraId, 0u);
    sector_ = nullptr;
}

// A ship whose type has a laser power maximum of 25 reloads to 25000; a
// maximum too large for the pool stops at its top.
TEST_F(PlaceCalls, ReloadShipLasers) {
    SectorObject* ship = Ship();
    int32_t* f = g_TypeDB.types[SA_MT_SHIP][0].field;
    struct Case {
        int32_t maximum, energy;
    } cases[] = {{25, 25000}, {0, 0}, {3000000, INT32_MAX}};
    for (const Case& c : cases) {
        f[SA_TF_SHIP_LASER_POWER_MAX] = c.maximum;
        EXPECT_EQ(Call(330, {I(Id(ship))}), 0);
        EXPECT_EQ(O_ShipData(ship)->laserEnergy, c.energy) << c.maximum;
    }
    f[SA_TF_SHIP_LASER_POWER_MAX] = 0;
}

// A laser shows effect 48, a ship the explosion effect of its type, or 48
// when the type names none.
TEST_F(PlaceCalls, DummyExplosionEffects) {
    Types(SA_MT_LASER, 1);
    SectorObject* laser = Placed(SA_MT_LASER, 0, 0, 0, 0);
    SectorObject* ship = Ship();
    SectorObject* plain = Ship();
    ship->subType = 1;
    g_TypeDB.types[SA_MT_SHIP][1].field[SA_TF_SHIP_EXPLOSION_EFFECT] = 12;
    for (SectorObject* o : {laser, ship, plain}) {
        o->instance->bodyId = 1;
        EXPECT_EQ(Call(338, {I(Id(o))}), 0);
    }
    std::vector<std::pair<SectorObject*, EffectEntry*>> shown;
    for (ObjectEffect* e = EO_FirstEffect(); e; e = e->next) shown.emplace_back(e->object, e->effect);
    const std::vector<std::pair<SectorObject*, EffectEntry*>> expected = {
        {laser, EO_GetEffect(48)}, {ship, EO_GetEffect(12)}, {plain, EO_GetEffect(48)}};
    EXPECT_EQ(shown, expected);
    for (SectorObject* o : {laser, ship, plain}) o->instance->bodyId = -1;
}

// Port lists: an empty array, or an integer in its place, answers -1.
TEST_F(PlaceCalls, NearestRendezvousOfNoPorts) {
    SectorObject* dock = Placed(SA_MT_DOCK, 0, 0, 0, 0);
    SectorObject* ship = Ship();
    EXPECT_EQ(Call(335, {I(Id(dock)), Array({}), I(Id(ship))}), -1);
    EXPECT_EQ(Call(335, {I(Id(dock)), I(0), I(Id(ship))}), -1);
    EXPECT_EQ(Call(335, {I(Id(dock)), Array({0, 1}), I(Id(ship))}), -1);  // a dock without ports
    EXPECT_EQ(Call(335, {I(999), Array({0}), I(Id(ship))}), -1);
}

// Joining two objects drops the links both had; parting lets go of both ends.
TEST_F(PlaceCalls, TractorConnectAndDisconnect) {
    SectorObject* source = Ship();
    SectorObject* held = Placed(SA_MT_SHIP, 0, 1000, 0, 0);
    SectorObject* other = Placed(SA_MT_SHIP, 0, 2000, 0, 0);
    EXPECT_EQ(Call(348, {I(Id(source)), I(Id(held)), I(0), I(0), I(5000)}), 0);
    EXPECT_EQ(held->tractorSource, source);
    EXPECT_EQ(source->tractorHeld, held);
    EXPECT_EQ(Call(348, {I(Id(source)), I(Id(other)), I(0), I(0), I(5000)}), 0);
    EXPECT_EQ(held->tractorSource, nullptr);
    EXPECT_EQ(other->tractorSource, source);
    EXPECT_EQ(Call(349, {I(Id(source))}), 0);
    EXPECT_EQ(other->tractorSource, nullptr);
    EXPECT_EQ(source->tractorHeld, nullptr);
    EXPECT_EQ(Call(348, {I(Id(source)), I(0), I(0), I(0), I(0)}), 0);  // nothing to join
    EXPECT_EQ(source->tractorHeld, nullptr);
}

TEST_F(PlaceCalls, ClientFlagsAndVideosWithoutRecords) {
    EXPECT_EQ(Call(340, {I(0x55)}), 0);
    EXPECT_EQ(Call(341, {}), 0x55);
    EXPECT_EQ(CallAny(346, {I(3)}), 0);  // no video record has the id
    EXPECT_EQ(Call(343, {I(3), I(90)}), -1);
    EXPECT_EQ(Call(345, {I(1)}), 0);
    EXPECT_EQ(O_Sector(sector_)->trailing[9], 1);
    EXPECT_EQ(Call(345, {I(0)}), 0);
    EXPECT_EQ(O_Sector(sector_)->trailing[9], 0);
}

TEST_F(PlaceCalls, FindVideoAnswersItsRecord) {
    SA_VideoRecord videos[] = {{1, {9, 0, 0, 0}, 41, {1, 2, 3}, {4, 5, 6}}};
    g_TypeDB.videos = videos;
    g_TypeDB.videoCount = 1;
    EXPECT_EQ(CallAny(346, {I(9)}), kAnswerArray);
    EXPECT_EQ(Answered(), (std::vector<int32_t>{41, 1, 2, 3, 4, 5, 6}));
    g_TypeDB.videos = nullptr;
    g_TypeDB.videoCount = 0;
}

// ---------------------------------------------------------------- decoupling

namespace {

class Decouple : public SpaceStoryTest {};

}  // namespace

// The task that decouples a ship waits on it while the story hears of each
// piece with six arguments, and goes on with the code the ship's order ends
// with; without a ship it goes on at once with 0.
TEST_F(Decouple, TheTaskWaitsForTheShipsOrder) {
    SetUpStory(R"(
    end
.var "Got" int -1
.var "Ship" int 0
.var "Piece" int 0
.var "C" int 0
.func "Decouple" need 16
    pushw 9
    pushw 8
    pushw 7
    getg 1
    pushw 4
    sys "SA_DecoupleShips"
    setg 0
    pop
    c0
    ret
.func "CreateDecoupleShip" need 16
    getl 4
    setg 2
    pop
    getl 9
    setg 3
    pop
    c0
    ret
)");
    TempGameFolder folder;
    std::string text, error;
    ASSERT_TRUE(Tool_CutSourceToText("path 0 12\npath 1 4001\n", &text, &error)) << error;
    folder.Write("cut/00650.bod", text);
    TypeRecord* ships = Types(SA_MT_SHIP, 1);
    ships[0].field[SA_TF_SHIP_CUT] = 650;
    Types(SA_MT_MISSILE, 1)->field[SA_TF_BODY] = 4001;
    SectorObject* ship = New(SA_MT_SHIP, 0);
    ship->eventObject = 77;
    ScriptValue* globals = runner_->ctx()->objects[0].variables;
    globals[1].i = static_cast<int32_t>(ship->id);

    runner_->Start(0, "Decouple");
    SE_RunAllTasks();
    EXPECT_EQ(globals[0].i, -1);  // waiting
    SectorObject* piece = SA_FindObjectByID(static_cast<uint32_t>(globals[2].i));
    ASSERT_NE(piece, nullptr);
    EXPECT_EQ(piece->mainType, SA_MT_MISSILE);
    EXPECT_EQ(piece->reference, ship);
    EXPECT_EQ(piece->referenceIndex, 1);
    EXPECT_EQ(globals[3].i, 9);  // the third pass-through value is the sixth argument
    SA_FireObjectCallback(ship, SA_ANSWER_DONE);
    SE_RunAllTasks();
    EXPECT_EQ(globals[0].i, SA_ANSWER_DONE);

    // None, and objects that are not ships: no order of theirs would ever
    // answer, so the task goes on at once.
    SectorObject* sector = New(SA_MT_SECTOR, 0);
    SectorObject* asteroid = New(SA_MT_ASTEROID, 0);
    SectorObject* dock = New(SA_MT_DOCK, 0);
    for (SectorObject* other : {static_cast<SectorObject*>(nullptr), sector, asteroid, dock}) {
        globals[0].i = -1;
        globals[1].i = other ? static_cast<int32_t>(other->id) : 0;
        runner_->Start(0, "Decouple");
        SE_RunAllTasks();
        EXPECT_EQ(globals[0].i, 0) << (other ? other->mainType : -1);
        if (other) EXPECT_EQ(other->callerModule, 0u) << other->mainType;
    }
    J3D_FreeAllCuts();
}
