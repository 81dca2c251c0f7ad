// Objects from creation to free: records by main type, moves into containers,
// kills with their effects and area damage, unlinks, frees with the tasks
// that wait on them, takes, dock-port tables and missile decoupling.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/random.h"
#include "base/strings.h"
#include "cockpit/cockpits.h"
#include "base/standin_calls.h"
#include "scene/allocs.h"
#include "scene/freeing.h"
#include "scene/smallops.h"
#include "scene/trees.h"
#include "space/create.h"
#include "space/cutscene.h"
#include "space/flight.h"
#include "space/kill.h"
#include "space/queries.h"
#include "space/space_fixture.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "system/clock.h"

namespace {

using Calls = std::vector<std::string>;

constexpr uint32_t kTail = 0x80000004;

// The damage each area hit asked for: (object ID, amount).
std::vector<std::pair<uint32_t, int32_t>>& Hits() {
    static std::vector<std::pair<uint32_t, int32_t>> hits;
    return hits;
}
// Records the hit and takes the amount off the hull.
void SpyDamage(SectorObject* object, SectorObject*, int32_t amount, int32_t kind) {
    EXPECT_EQ(kind, -1);
    Hits().emplace_back(object->id, amount);
    object->hull -= amount;
}

class SpaceLife : public SpaceTest {
protected:
    void SetUp() override {
        SpaceTest::SetUp();
        folder_ = std::make_unique<TempGameFolder>();
        savedDamage_ = g_SADamageObject;
        g_SADamageObject = SpyDamage;
        Hits().clear();
        StandIn_ClearObjectCalls();
    }
    void TearDown() override {
        SA_FreeAllObjects(&root_);
        ST_RemoveAllTakes(&root_);
        J3D_FreeAllCuts();
        g_SADamageObject = savedDamage_;
        StandIn_ClearObjectCalls();
        folder_.reset();
        SpaceTest::TearDown();
    }
    void WriteCut(int id, const std::string& source) const { WriteSourceCut(*folder_, id, source); }
    // A sector (subtype 1: kill sounds play everywhere) with a space and a galaxy scene.
    SectorObject* SectorWithScenes() {
        SectorObject* s = New(SA_MT_SECTOR, 1);
        O_Sector(s)->spaceScene = B3D_SceneAlloc();
        O_Sector(s)->galaxyScene = B3D_SceneAlloc();
        return s;
    }
    // A ship placed in the container at x along the x axis.
    SectorObject* ShipAt(SectorObject* container, int32_t x, int32_t subType = 0) {
        SectorObject* o = New(SA_MT_SHIP, subType);
        o->instance->pos.x = x;
        O_SetContainer(o, container);
        return o;
    }
    static bool Called(const std::string& call) {
        const Calls& calls = StandIn_ObjectCalls();
        return std::find(calls.begin(), calls.end(), call) != calls.end();
    }
    static std::string Id(const SectorObject* o) { return std::to_string(o->id); }

    std::unique_ptr<TempGameFolder> folder_;

private:
    SA_DamageFn savedDamage_ = nullptr;
};

TEST_F(SpaceLife, CreationByMainType) {
    struct Case {
        int32_t mainType;
        uint32_t flags;
        uint32_t flags2;
        bool data;
        bool instance;
    } cases[] = {
        {SA_MT_BULLET, 0x40004801, 0, true, true},
        {SA_MT_SECTOR, 0, 0x80, true, false},
        {SA_MT_BACKGROUND, 0, 0, false, true},
        {SA_MT_SUN, 0x401, 0x80, true, true},
        {SA_MT_PLANET, 0x801, 0x80, true, true},
        {SA_MT_DOCK, 0x100000, 0x80, true, true},
        {SA_MT_FACTORY, 0x100000, 0x80, true, true},
        {SA_MT_SHIP, 0x20, 0, true, true},
        {SA_MT_LASER, 0x1000800, 0, true, true},
        {SA_MT_SHIELD, 0x800, 0, true, true},
        {SA_MT_MISSILE, 0x4000, 0, true, true},
        {SA_MT_WARE_FIRST + 3, 0x800, 0, true, true},
        {SA_MT_ASTEROID, 0x20800, 0x80, true, true},
        {SA_MT_GATE, 0x100800, 0, true, true},
        {SA_MT_CAMERA, 0xC01, 0, true, true},
        {SA_MT_SPECIAL, 0x800, 0x8000000, true, true},
        {SA_MT_NEBULA, 0x401, 0x80, true, true},
        {SA_MT_27, 0xC01, 0x20000000, false, true},
        {SA_MT_DEBRIS, 0x20800 | 0x401, 0x20000000 | 0x100000, true, true},  // with a level word
        {SA_MT_SHIP_WRECK, 0x20800, 0x20000000, true, true},                 // without one
    };
    Types(SA_MT_CAMERA, 1);
    Types(SA_MT_NEBULA, 1);
    Types(SA_MT_DEBRIS, 1)->field[SA_TF_DEBRIS_LEVELS] = 3;
    SetClock(4321);
    for (const Case& c : cases) {
        SectorObject* o = New(c.mainType);
        EXPECT_EQ(o->flags, c.flags | kTail) << c.mainType;
        EXPECT_EQ(o->flags2, c.flags2) << c.mainType;
        EXPECT_EQ(o->typeData != nullptr, c.data) << c.mainType;
        EXPECT_EQ(o->instance != nullptr, c.instance) << c.mainType;
        EXPECT_EQ(o->group, SA_GROUP_NEW);
        EXPECT_EQ(o->time, 4321);
        EXPECT_NE(o->id, 0u);
    }
    // Object data words.
    EXPECT_EQ(SA_GetCount(New(SA_MT_WARE_FIRST)), 1);
    EXPECT_EQ(SA_GetDensity(New(SA_MT_DEBRIS)), 3);
    EXPECT_EQ(static_cast<BulletData*>(New(SA_MT_BULLET)->typeData)->expiryTime, 4321);
    Types(SA_MT_SUN, 1)->field[SA_TF_CUT + 1] = 777;
    EXPECT_EQ(New(SA_MT_SUN, 1)->size, 777);
    EXPECT_EQ(New(SA_MT_SUN, 0)->size, 110000000);  // no size in the record
    SectorObject* sun = New(SA_MT_SUN);
    EXPECT_NE(static_cast<SunData*>(sun->typeData)->glow[0], nullptr);
    EXPECT_NE(static_cast<SunData*>(sun->typeData)->glow[1], nullptr);
    EXPECT_NE(static_cast<PlanetData*>(New(SA_MT_PLANET)->typeData)->extra, nullptr);
    // A ship type with turrets gets its slots; subtype 75 its instance flags.
    Types(SA_MT_SHIP, 1)->field[SA_TF_SHIP_TURRET_COUNT] = 3;
    EXPECT_EQ(O_ShipData(New(SA_MT_SHIP, 1))->turretCount, 3);
    EXPECT_EQ(New(SA_MT_SHIP, 75)->instance->flags & 0x20000000u, 0x20000000u);
}

// A bullet made by any creator lives its type's lifetime, not a frame.
TEST_F(SpaceLife, BulletsLiveTheirTypesLifetime) {
    Types(SA_MT_BULLET, 1)->field[SA_TF_BULLET_LIFETIME] = 1000;
    SetClock(S_CLOCK_SPAN - 400);
    const BulletData* bullet = O_BulletData(New(SA_MT_BULLET));
    EXPECT_EQ(bullet->lifetime, 1000);
    EXPECT_EQ(bullet->expiryTime, 600);  // the clock wraps
}

TEST_F(SpaceLife, NamesComeFromTheTextPagesOrAreFixed) {
    struct Case {
        int32_t mainType;
        int32_t textId;
        const char* logged;  // the text read, or the log line of a fixed name
        const char* name;
    } cases[] = {
        {SA_MT_SHIP, 12, "SB_ReadText(35,0,12)", "=TextIDNotFound="},
        {SA_MT_SHIP, 1012, "SB_ReadText(17,0,1012)", "=TextIDNotFound="},
        {SA_MT_SECTOR, 0, "SB_ReadText(35,0,882)", "=TextIDNotFound="},
        {SA_MT_27, 0, nullptr, "Unnamed Object"},
        {24, 0, "O_GetTextID() No text for maintype 24\n", "Unnamed Object"},
    };
    for (const Case& c : cases) {
        if (SA_TypesFileName(c.mainType)) Types(c.mainType, 1)->field[SA_TF_TEXT_ID] = c.textId;
        LogCapture log;
        SectorObject* o = O_AllocObject(
            SA_TypeCode(c.mainType, g_TypeDB.counts[c.mainType] > 0 ? g_TypeDB.counts[c.mainType] - 1 : 0));
        ASSERT_NE(o->name, nullptr) << c.mainType;
        EXPECT_STREQ(o->name, c.name) << c.mainType;
        if (c.logged) EXPECT_TRUE(log.Contains(c.logged)) << c.mainType << log.Text();
        else EXPECT_FALSE(log.Contains("O_GetTextID")) << log.Text();
    }
}

TEST_F(SpaceLife, InvalidSubtypesKeepOnlyTheCommonFields) {
    Types(SA_MT_SHIP, 2);
    Types(SA_MT_DOCK, 1);
    Types(SA_MT_LASER, 1);
    struct Case {
        int32_t mainType, subType;
        const char* line;
    } cases[] = {
        {SA_MT_SHIP, 2, "Invalid ship subtype 2\n"},
        {SA_MT_DOCK, 1, "Invalid dock subtype 1\n"},
        {SA_MT_FACTORY, 0, "Invalid factory subtype 0\n"},
        {SA_MT_LASER, 1, "O_InitObject(8,1) Invalid subtype 1\n"},  // any main type with a table
        {SA_MT_BULLET, 0, "O_InitObject(0,0) Invalid subtype 0\n"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        SectorObject* o = O_AllocObject(SA_TypeCode(c.mainType, c.subType));
        ASSERT_NE(o, nullptr);
        EXPECT_TRUE(log.Contains(c.line)) << log.Text();
        EXPECT_EQ(SA_FindObjectByID(o->id), o);  // linked, with an ID
        EXPECT_EQ(o->typeData, nullptr);
        EXPECT_EQ(o->instance, nullptr);
        EXPECT_EQ(o->name, nullptr);
        EXPECT_EQ(o->flags, 0u);
        EXPECT_EQ(o->magic, SA_OBJECT_MAGIC);
    }
    // A ship type no longer used is made with body 0 after its line.
    Types(SA_MT_SHIP, 1)->field[SA_TF_BODY] = 0xFFFF;
    LogCapture log;
    SectorObject* old = New(SA_MT_SHIP, 2);
    EXPECT_TRUE(log.Contains("O_InitObject(7,2) Tried to create no longer used ship subtype 2\n"));
    EXPECT_NE(old->instance, nullptr);
    EXPECT_NE(old->typeData, nullptr);
}

TEST_F(SpaceLife, ContainerMovesJoinTheSectorsScenes) {
    SectorObject* sector = SectorWithScenes();
    SectorSpace* space = O_Sector(sector);
    SectorObject* ship = New(SA_MT_SHIP);
    SetClock(100);
    O_SetContainer(ship, sector);
    EXPECT_EQ(ship->container, sector);
    EXPECT_EQ(ship->time, 100);
    EXPECT_EQ(ship->instance->scene, space->spaceScene);
    EXPECT_EQ(SA_ListFirst(O_GetChildList(sector)), ship);
    // The same container again changes nothing, not even the time.
    SetClock(200);
    O_SetContainer(ship, sector);
    EXPECT_EQ(ship->time, 100);
    // Suns and planets go to the galaxy scene with their satellites.
    SectorObject* sun = New(SA_MT_SUN);
    O_SetContainer(sun, sector);
    EXPECT_EQ(sun->instance->scene, space->galaxyScene);
    EXPECT_EQ(static_cast<SunData*>(sun->typeData)->glow[0]->scene, space->spaceScene);
    EXPECT_EQ(static_cast<SunData*>(sun->typeData)->glow[1]->scene, space->galaxyScene);
    struct Planet {
        int32_t x;
        int32_t extraX;
    } planets[] = {{5000000, 10 * 65536}, {2000000000, 1000000000}};
    for (const Planet& p : planets) {
        SectorObject* planet = New(SA_MT_PLANET);
        planet->instance->pos.x = p.x;
        O_SetContainer(planet, sector);
        Inst3D* extra = static_cast<PlanetData*>(planet->typeData)->extra;
        EXPECT_EQ(planet->instance->scene, space->galaxyScene);
        EXPECT_EQ(extra->scene, space->spaceScene);
        EXPECT_EQ(extra->pos.x, p.extraX);
    }
    // Leaving the sector takes the instance out of its scene and unlinks the
    // ship: its dependants go, the cockpits drop it.
    SectorObject* dock = New(SA_MT_DOCK);
    O_SetContainer(dock, sector);
    SectorObject* fighter = New(SA_MT_SHIP);
    fighter->parent = ship;
    SetClock(300);
    O_SetContainer(ship, dock);
    EXPECT_EQ(ship->container, dock);
    EXPECT_EQ(ship->time, 300);
    EXPECT_EQ(ship->instance->scene, nullptr);
    EXPECT_EQ(fighter->parent, nullptr);
    EXPECT_TRUE(fighter->flags & SA_FLAG_KILLED);
    EXPECT_TRUE(Called("INS_RemoveObjectReferences " + Id(ship)));
}

// Placing an object into a sector the story has given no scene yet joins no
// scene instead of a null one.
TEST_F(SpaceLife, PlacingBeforeTheSectorHasAScene) {
    SectorObject* sector = New(SA_MT_SECTOR, 1);
    for (int32_t mainType : {SA_MT_SHIP, SA_MT_SUN, SA_MT_PLANET}) {
        SectorObject* o = New(mainType);
        O_SetContainer(o, sector);
        EXPECT_EQ(o->container, sector);
        EXPECT_EQ(o->instance->scene, nullptr);
    }
}

TEST_F(SpaceLife, QuietKillsHaveNoEffectSoundOrAreaDamage) {
    SectorObject* sector = SectorWithScenes();
    Types(SA_MT_MISSILE, 1);
    g_TypeDB.types[SA_MT_MISSILE][0].field[SA_TF_MISSILE_DAMAGE] = 1000;
    g_TypeDB.types[SA_MT_MISSILE][0].field[23] = 1000000;
    for (int16_t kind : {14, 16, 17, 18, 19, 20, 21}) {
        SectorObject* missile = New(SA_MT_MISSILE);
        missile->flags |= SA_FLAG_AREA_DAMAGE;
        O_SetContainer(missile, sector);
        SectorObject* near = ShipAt(sector, 10);
        near->hull = 5;
        StandIn_ClearObjectCalls();
        SS_KillObject(missile, kind, nullptr, 0);
        EXPECT_TRUE(missile->flags & SA_FLAG_KILLED);
        EXPECT_EQ(StandIn_ObjectCalls(),
                  (Calls{"INS_RemoveObjectReferences " + Id(missile), "EO_RemoveObjectReferences " + Id(missile)}))
            << kind;
        EXPECT_TRUE(Hits().empty()) << kind;
    }
}

TEST_F(SpaceLife, KillEffectsBulletsAndTheKillSound) {
    Types(SA_MT_BULLET, 2)[1].field[SA_TF_BULLET_FLAGS] = 0x100;
    SectorObject* local = New(SA_MT_SECTOR, 0);  // kill sounds only with the player inside
    SectorObject* open = New(SA_MT_SECTOR, 1);
    SectorObject* inside = ShipAt(local, 0);
    SectorObject* outside = ShipAt(open, 0);
    struct Case {
        const char* name;
        int32_t mainType, subType;
        SectorObject* container;
        SectorObject* playerObject;
        bool effect, sound;
    } cases[] = {
        {"open sector", SA_MT_SHIP, 0, open, inside, true, true},
        {"local sounds, player inside", SA_MT_SHIP, 0, local, inside, true, true},
        {"local sounds, no player", SA_MT_SHIP, 0, local, nullptr, true, true},
        {"local sounds, player elsewhere", SA_MT_SHIP, 0, local, outside, true, false},
        {"unplaced", SA_MT_SHIP, 0, nullptr, nullptr, true, false},
        {"bullet without flag 0x100", SA_MT_BULLET, 0, open, nullptr, false, false},
        {"bullet with flag 0x100", SA_MT_BULLET, 1, open, nullptr, true, true},
    };
    for (const Case& c : cases) {
        root_.game.playerObject = c.playerObject;
        SectorObject* o = New(c.mainType, c.subType);
        if (c.container) O_SetContainer(o, c.container);
        o->speed = o->desiredSpeed = 500;
        o->rot[1] = 77;
        o->rotSpeed[1] = 9;
        SectorObject* killer = New(SA_MT_SHIP);
        StandIn_ClearObjectCalls();
        SS_KillObject(o, 0, killer, 5);
        EXPECT_EQ(Called("EO_ObjectDestroyedEffect " + Id(o) + " " + Id(killer) + " 5"), c.effect) << c.name;
        EXPECT_EQ(Called("EO_PlayExplosionSound " + Id(o)), c.sound) << c.name;
        EXPECT_EQ(o->rot2[1], c.effect ? 77 : 0) << c.name;
        EXPECT_EQ(o->rotSpeed[1], c.effect ? 0 : 9) << c.name;
        if (c.mainType == SA_MT_BULLET) {
            EXPECT_EQ(o->speed, c.effect ? 0 : 500) << c.name;
        }
        EXPECT_TRUE(o->flags & SA_FLAG_KILLED) << c.name;
    }
    root_.game.playerObject = nullptr;
}

TEST_F(SpaceLife, SecondKillIsLoggedAndRefused) {
    SectorObject* o = New(SA_MT_SHIP);
    o->eventObject = 33;
    SS_KillObject(o, 0, nullptr, 0);
    StandIn_ClearObjectCalls();
    LogCapture log;
    SS_KillObject(o, 2, nullptr, 0);
    const std::string id = Id(o);
    EXPECT_TRUE(log.Contains("SS_KillObject(@" + id + "#-33, 2, @" + id + "#33) NoStory Object already killed!\n"))
        << log.Text();
    EXPECT_TRUE(StandIn_ObjectCalls().empty());
}

TEST_F(SpaceLife, AreaDamageByDistanceWithinItsBounds) {
    SectorObject* sector = SectorWithScenes();
    Types(SA_MT_MISSILE, 1);
    SectorObject* bomb = New(SA_MT_MISSILE);
    O_SetContainer(bomb, sector);
    struct Case {
        const char* name;
        int32_t x;
        uint32_t flags;
        bool hit;
    } cases[] = {
        {"distance 0", 0, 0, false},       {"at the radius", 1000, 0, false}, {"beyond", 5000, 0, false},
        {"flag 0x400", 100, 0x400, false}, {"half way", 500, 0, true},        {"near", 1, 0, true},
    };
    std::vector<SectorObject*> ships;
    for (const Case& c : cases) {
        SectorObject* s = ShipAt(sector, c.x);
        s->flags |= c.flags;
        s->hull = 1000000;
        ships.push_back(s);
    }
    SectorObject* excluded = ShipAt(sector, 200);
    Qel_SeedRandom(7);
    O_KillObjectEvents(sector, bomb, 1000, 1000, excluded);
    std::vector<uint32_t> hit;
    for (const auto& [id, amount] : Hits()) {
        hit.push_back(id);
        // 95 to 100 per cent of the share by distance.
        const SectorObject* s = SA_FindObjectByID(id);
        const int32_t share = static_cast<int32_t>((100 - s->instance->pos.x * 100 / 1000) * 1000 / 100);
        EXPECT_GE(amount, share * 95 / 100);
        EXPECT_LE(amount, share);
    }
    std::vector<uint32_t> expected;
    for (size_t i = 0; i < ships.size(); ++i)
        if (cases[i].hit) expected.push_back(ships[i]->id);
    EXPECT_EQ(hit, expected);
    // Nothing below 1 damage or radius.
    Hits().clear();
    O_KillObjectEvents(sector, bomb, 0, 1000, nullptr);
    O_KillObjectEvents(sector, bomb, 1000, 0, nullptr);
    EXPECT_TRUE(Hits().empty());
}

TEST_F(SpaceLife, AreaDamageKillsOrTellsTheStory) {
    SectorObject* sector = SectorWithScenes();
    Types(SA_MT_MISSILE, 1);
    SectorObject* launcher = ShipAt(sector, 90000);
    SectorObject* bomb = New(SA_MT_MISSILE);
    O_MissileData(bomb)->launcher = launcher;
    O_SetContainer(bomb, sector);
    SectorObject* weak = ShipAt(sector, 10);
    weak->hull = 1;
    SectorObject* strong = ShipAt(sector, 10);
    strong->hull = 1000000;
    SectorObject* field = New(SA_MT_DEBRIS);
    O_SetContainer(field, sector);
    field->eventObject = 4;
    SectorObject* rock = New(SA_MT_ASTEROID);
    rock->flags |= SA_FLAG_ASTEROID;
    rock->parent = field;
    rock->hull = 1000000;  // destroyed all the same: it lies in a debris field
    rock->instance->pos.x = 20;
    O_SetContainer(rock, sector);
    O_KillObjectEvents(sector, bomb, 1000, 1000, nullptr);
    EXPECT_TRUE(weak->flags & SA_FLAG_KILLED);
    EXPECT_FALSE(strong->flags & SA_FLAG_KILLED);
    EXPECT_TRUE(rock->flags & SA_FLAG_KILLED);
    // The missile's launcher is the killer, cause 5.
    EXPECT_TRUE(Called("EO_ObjectDestroyedEffect " + Id(weak) + " " + Id(launcher) + " 0"));
}

TEST_F(SpaceLife, DependantsAreKilledAndEveryReferenceGoes) {
    SectorObject* sector = SectorWithScenes();
    SectorObject* target = ShipAt(sector, 0);
    SectorObject* follower = ShipAt(sector, 0);
    SectorObject* dock = New(SA_MT_DOCK);
    O_SetContainer(dock, sector);
    SectorObject* docked = New(SA_MT_SHIP);
    O_SetContainer(docked, dock);  // inside a container: still reached
    O_ShipData(docked)->OrderTarget = target;
    O_ShipData(follower)->OrderTarget = target;
    O_ShipData(follower)->avoidObjects[2] = target;
    follower->reference = target;
    follower->tractorHeld = target;
    SectorObject* missile = New(SA_MT_MISSILE);
    O_MissileData(missile)->target = target;
    SectorObject* child = New(SA_MT_SHIP);
    child->parent = target;
    ASSERT_NE(INS_NewCockpitSystem(), nullptr);
    Cockpit* cockpit = INS_TableGet(g_CockpitSystem, INS_AddCockpit(g_CockpitSystem));
    ASSERT_NE(cockpit, nullptr);
    cockpit->refObject = cockpit->cockpitRefObject = cockpit->trackedObject = target;
    SS_KillObject(target, 0, nullptr, 0);
    const Cockpit seen = *cockpit;
    INS_FreeCockpitSystem();
    EXPECT_EQ(O_ShipData(docked)->OrderTarget, nullptr);
    EXPECT_EQ(O_ShipData(follower)->OrderTarget, nullptr);
    EXPECT_EQ(O_ShipData(follower)->avoidObjects[2], nullptr);
    EXPECT_EQ(follower->reference, nullptr);
    EXPECT_EQ(follower->tractorHeld, nullptr);
    EXPECT_EQ(O_MissileData(missile)->target, nullptr);
    EXPECT_EQ(child->parent, nullptr);
    EXPECT_TRUE(child->flags & SA_FLAG_KILLED);  // no event object: killed in turn
    EXPECT_EQ(seen.refObject, nullptr);
    EXPECT_EQ(seen.cockpitRefObject, nullptr);
    EXPECT_EQ(seen.trackedObject, nullptr);
}

// Story code that frees what a pass holds (through "SA_FreeObject") only
// kills it quietly; the free comes when the outermost pass ends.
TEST_F(SpaceLife, FreesDuringAPassWaitForItsEnd) {
    SectorObject* sector = SectorWithScenes();
    SectorObject* a = ShipAt(sector, 0);
    SectorObject* b = ShipAt(sector, 0);
    const uint32_t ids[] = {a->id, b->id};
    {
        SA_Pass outer;
        {
            SA_Pass inner;
            O_FreeOrQueue(a);
            O_FreeOrQueue(a);  // queued once
        }
        EXPECT_EQ(SA_FindObjectByID(ids[0]), a);  // the inner pass ending frees nothing
        EXPECT_TRUE(a->flags & SA_FLAG_KILLED);
        EXPECT_TRUE(Called("INS_RemoveObjectReferences " + Id(a)));
        O_FreeOrQueue(b);
    }
    for (uint32_t id : ids) EXPECT_EQ(Qel_TableGet(root_.ids, id), 0u);
    // Outside any pass the free is at once.
    SectorObject* c = ShipAt(sector, 0);
    const uint32_t cid = c->id;
    O_FreeOrQueue(c);
    EXPECT_EQ(Qel_TableGet(root_.ids, cid), 0u);
}

TEST_F(SpaceLife, TakesStartUnloadAndFindTheirIndex) {
    WriteCut(501,
             "path 0 -1\n"
             "  note 40 start 2\n"
             "  note 90 end 2\n"
             "  key 0x800 2000 0 0 0 0 0 0 0.25\n"
             "  key 0x800 -1 65536 0 0 0 0 0 0.25\n"
             "path 1 -1\n");
    WriteCut(502, "info nothing\n");
    SectorObject* sector = SectorWithScenes();
    SA_Take* take = ST_CreateTake(9, sector);
    ASSERT_NE(take, nullptr);
    EXPECT_EQ(ST_CreateTake(9, sector), nullptr);  // one take per id
    {
        LogCapture log;
        system_->debugFlags = 4;
        EXPECT_EQ(ST_StartTake(take, 501, 2, 0, nullptr), 1);
        EXPECT_TRUE(log.Contains("ST_StartFromIndex(9, 2) found starttime 40, endtime 90\n")) << log.Text();
    }
    ASSERT_EQ(take->slotCount, 2);
    Inst3D* first = take->slots[0].inst;
    // Starting again with the cut already loaded keeps it.
    {
        LogCapture log;
        EXPECT_EQ(ST_StartTake(take, 501, 7, 0, nullptr), 1);
        EXPECT_FALSE(log.Contains("ST_UnloadCut"));
        EXPECT_TRUE(log.Contains("ST_StartFromIndex(9, 7) can't find index in cut!\n"));
        EXPECT_EQ(take->slots[0].inst, first);
    }
    // An object in a slot is freed with the cut; a freed one is dropped first.
    SectorObject* actor = ShipAt(sector, 0);
    SectorObject* gone = ShipAt(sector, 0);
    take->slots[0] = SA_TakeSlot{actor->instance, actor->instance->id, actor};
    B3D_InstFree(first);
    take->slots[1].object = gone;
    O_DeleteSectorObject(gone);
    EXPECT_EQ(take->slots[1].object, nullptr);
    const uint32_t actorId = actor->id;
    {
        LogCapture log;
        EXPECT_EQ(ST_StartTake(take, 502, -1, 0, nullptr), 1);  // another cut: the first goes
        EXPECT_TRUE(log.Contains("ST_UnloadCut() cut 501 start\n"));
        EXPECT_TRUE(log.Contains("ST_UnloadCut() starting unload cut 501, numinst=2\n"));
        EXPECT_TRUE(log.Contains("ST_UnloadCut() removing object " + std::to_string(actorId) + "\n"));
    }
    EXPECT_EQ(Qel_TableGet(root_.ids, actorId), 0u);
    // A cut without paths: only the first line, and the cut id clears.
    {
        LogCapture log;
        ST_UnloadCut(take);
        EXPECT_TRUE(log.Contains("ST_UnloadCut() cut 502 start\n"));
        EXPECT_FALSE(log.Contains("starting unload"));
        EXPECT_EQ(take->cutId, 0);
    }
    EXPECT_EQ(ST_StartTake(take, 999, 0, 0, nullptr), 0);  // no such cut
    ST_RemoveTake(take);
    EXPECT_EQ(ST_FindTake(9), nullptr);
}

TEST_F(SpaceLife, DockPortTablesAreBuiltOnceFromTheTypesList) {
    WriteCut(610, "path 0 44\n");
    TypeRecord* docks = Types(SA_MT_DOCK, 2);
    docks[0].field[SA_TF_STATION_CUT] = 610;
    docks[1].field[SA_TF_STATION_CUT] = 610;
    DockPortList list{};
    DockPortEntry entries[3] = {{1, 2, 0, 0}, {3, 4, 0, 0}, {5, 6, 0, 0}};
    list.count = 3;
    list.entries = entries;
    DockPortList empty{};
    docks[0].dockPorts = &list;
    docks[1].dockPorts = &empty;
    SectorObject* dock = New(SA_MT_DOCK, 0);
    SectorObject* bare = New(SA_MT_DOCK, 1);
    O_InitCutScene(dock);
    O_InitCutScene(bare);
    EXPECT_EQ(dock->cutId, 610);
    DockPortTable* ports = &O_DockData(dock)->ports;
    EXPECT_EQ(ports->slotCount, 3);
    if (ports->slotCount == 3) {
        EXPECT_EQ(ports->slots[2].index, 2);
    }
    EXPECT_EQ(ports->built, 1);
    DockPortSlot* slots = ports->slots;
    O_BuildCutScene(610, dock->instance, dock, nullptr);  // built once
    EXPECT_EQ(ports->slots, slots);
    EXPECT_EQ(O_DockData(bare)->ports.slotCount, 0);
    EXPECT_EQ(O_DockData(bare)->ports.slots, nullptr);
    EXPECT_EQ(O_DockData(bare)->ports.built, 1);
    EXPECT_EQ(O_FindDockPort(dock, 1, nullptr), 1);
    EXPECT_EQ(O_FindDockPort(dock, 3, nullptr), 0);
    EXPECT_EQ(O_FindDockPort(bare, 0, nullptr), 0);
    docks[0].dockPorts = nullptr;
    docks[1].dockPorts = nullptr;
    // A cut that does not load.
    SectorObject* lost = New(SA_MT_SHIP);
    lost->cutId = 611;
    O_InitCutScene(lost);
    EXPECT_EQ(lost->cutId, 0);
}

// The instances of a dock's port and approach paths become its slot's
// points: docking reaches the port, and a ship found at the port is placed
// at the point nearest to it.
TEST_F(SpaceLife, DockPortSlotsHoldTheirPathsInstances) {
    WriteCut(612,
             "path 0 44\n"
             "path 1 900\n  key 0x0 -1 0 0 -1000 0 0 0\n"
             "path 2 901\n  value2 1\n  key 0x0 -1 0 0 -3000 0 0 0\n");
    TypeRecord* docks = Types(SA_MT_DOCK, 1);
    docks[0].field[SA_TF_STATION_CUT] = 612;
    DockPortEntry entry{1, 2, 0, 900};
    DockPortList list{1, 0xffffffff, &entry};
    docks[0].dockPorts = &list;
    SectorObject* dock = New(SA_MT_DOCK, 0);
    O_InitCutScene(dock);
    docks[0].dockPorts = nullptr;  // the list is the test's, not the types'
    ASSERT_EQ(dock->cutId, 612);
    DockPortTable* ports = &O_DockData(dock)->ports;
    ASSERT_EQ(ports->slotCount, 1);
    const DockPortSlot& slot = ports->slots[0];
    ASSERT_NE(slot.portInstance, nullptr);
    ASSERT_NE(slot.approachInstance, nullptr);
    EXPECT_EQ(slot.portInstance->pathNr, 1);
    EXPECT_EQ(slot.approachInstance->pathNr, 2);
    QelVector port{}, approach{}, axis{};
    EXPECT_EQ(O_GetPortPoints(&slot, &port, &approach, &axis), 1);
}

// A path of one key holds its instance at that key (in the object's frame);
// a path without keys leaves its instance where the object is.
TEST_F(SpaceLife, APathOfOneKeyHoldsItsInstanceAtTheKey) {
    WriteCut(613,
             "path 0 44\n"
             "path 1 900\n  key 0x0 -1 1000 2000 -3000 0 0 0\n"
             "path 2 901\n");
    TypeRecord* docks = Types(SA_MT_DOCK, 1);
    docks[0].field[SA_TF_STATION_CUT] = 613;
    SectorObject* dock = New(SA_MT_DOCK, 0);
    O_InitCutScene(dock);
    ASSERT_EQ(dock->cutId, 613);
    std::vector<QelVector> at(3, QelVector{-1, -1, -1, 0});
    for (Inst3D* c = B3D_First<Inst3D>(&dock->instance->children); c; c = B3D_Next(c))
        if (c->pathNr >= 0 && c->pathNr < 3) at[c->pathNr] = c->pos;
    EXPECT_EQ(at[1].x, 1000);
    EXPECT_EQ(at[1].y, 2000);
    EXPECT_EQ(at[1].z, -3000);
    EXPECT_EQ(at[2].x, 0);
    EXPECT_EQ(at[2].y, 0);
    EXPECT_EQ(at[2].z, 0);
}

TEST_F(SpaceLife, SurveyCollectsTheCutsDockPorts) {
    WriteCut(620,
             "path 0 44\n"
             "path 1 900\n"
             "path 2 45\n"
             "  value2 1\n"
             "path 3 901\n");
    g_TypeDB.dummies[1] = static_cast<DummyRecord*>(calloc(2, sizeof(DummyRecord)));
    g_TypeDB.dummies[1][0].body = 900;
    g_TypeDB.dummies[1][0].flags = 0x20 | 0x40000;
    g_TypeDB.dummies[1][1].body = 901;
    g_TypeDB.dummyCounts[1] = 2;
    DockPortList list{};
    EXPECT_EQ(O_BuildCutScene(620, nullptr, nullptr, &list), nullptr);
    ASSERT_EQ(list.count, 2);
    EXPECT_EQ(list.entries[0].path, 1);
    EXPECT_EQ(list.entries[0].approachPath, 2);
    EXPECT_EQ(list.entries[0].dummyBody, 900);
    EXPECT_EQ(list.entries[1].path, 3);
    EXPECT_EQ(list.entries[1].approachPath, -1);
    EXPECT_EQ(list.mask, 0x20u);
    SA_ClearDockPortList(&list);
    EXPECT_EQ(list.count, 0);
    free(g_TypeDB.dummies[1]);
    g_TypeDB.dummies[1] = nullptr;
    g_TypeDB.dummyCounts[1] = 0;
}

}  // namespace
