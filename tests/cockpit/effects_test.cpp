#include "cockpit/effects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cockpit/effects_fixture.h"
#include "scene/names.h"
#include "space/queries.h"
#include "support/logcapture.h"

namespace {

// A body part of every flag that keeps the field order of a body part.
constexpr uint32_t kEveryBodyPartFlag = 0x1FFFFFFF & ~(EEDF_PROPAGATE | EEDF_CUT | EEDF_LIGHT);

std::string FlagNames(const VRMNameValue* names, uint32_t mask) {
    std::string s;
    for (const VRMNameValue* n = names; n->name[0]; ++n)
        if (n->value && (mask & static_cast<uint32_t>(n->value)) == static_cast<uint32_t>(n->value))
            s += (s.empty() ? "" : "|") + std::string(n->name);
    return s;
}

constexpr int32_t kOneSize = 65536;

int32_t Parts(int32_t index) { return g_EffectTable.entries[index].partCount; }

TEST_F(EffectsTest, TheFileReadsEveryFlagAndEveryKindOfPart) {
    const std::string every = FlagNames(g_EOPartFlagNames, kEveryBodyPartFlag);
    LogCapture log;
    ASSERT_EQ(Effects("7 " + FlagNames(g_EOEffectFlagNames, 0x3F) +
                      " 9 1.5\n"
                      "  " +
                      every +
                      " I3DF_2D|I3DF_HASLENSFLARE v\\flash 0.5 2 300 0.25 1.5 -2 0.5 11 12 0.75 40\n"
                      "  EEDF_PROPAGATE 0 36 2 5 100 900 3 50 0.5 60\n"
                      "  EEDF_LIGHT 0 12 1 2 100 0 1 2 3 0 0 0 70\n"
                      "  EEDF_LIGHT 0 lamp 1 2 100 0 1 2 3 0 0 0 80\n"
                      "  EEDF_CUT 0 c\\boom 1 2 100 0 1 2 3 0 0 0 90\n"),
              1);
    EXPECT_EQ(log.Text(), "");
    const EffectEntry& e = g_EffectTable.entries[7];
    ASSERT_EQ(e.partCount, 5);
    EXPECT_EQ(e.flags, 0x3Fu);
    EXPECT_EQ(e.value, 9);
    EXPECT_EQ(e.scale, 98304);
    const EffectPart& body = e.parts[0];
    EXPECT_EQ(body.flags, kEveryBodyPartFlag);
    EXPECT_EQ(body.instanceFlags, I3DF_2D | I3DF_HASLENSFLARE);
    EXPECT_EQ(body.body, B3D_GetBodyID("v\\flash"));
    EXPECT_EQ(body.minSize, 32768);
    EXPECT_EQ(body.maxSize, 131072);
    EXPECT_EQ(body.length, 300);
    EXPECT_EQ(body.jitter, 16384);
    // Relative offsets are 16.16 factors.
    EXPECT_EQ(body.offset[0], 98304);
    EXPECT_EQ(body.offset[1], -131072);
    EXPECT_EQ(body.offset[2], 32768);
    EXPECT_EQ(body.value1, 11);
    EXPECT_EQ(body.value2, 12);
    EXPECT_EQ(body.speedFactor, 49152);
    EXPECT_EQ(body.start, 40);
    const EffectPart& prop = e.parts[1];
    EXPECT_EQ(prop.body, -1);
    EXPECT_EQ(prop.propEffect, 36);
    EXPECT_EQ(prop.propMinBursts, 2);
    EXPECT_EQ(prop.propMaxBursts, 5);
    EXPECT_EQ(prop.propFirstDelay, 100);
    EXPECT_EQ(prop.propLastDelay, 900);
    EXPECT_EQ(prop.propPoints, 3);
    EXPECT_EQ(prop.propRandomDelay, 50);
    EXPECT_EQ(prop.propSpacing, 32768);
    EXPECT_EQ(prop.start, 60);
    EXPECT_EQ(e.parts[2].body, 12);
    EXPECT_EQ(e.parts[2].offset[2], 3);  // plain units without EEDF_RELATIVESIZE
    EXPECT_EQ(e.parts[3].body, -1);      // a light name that is no number
    EXPECT_EQ(e.parts[4].body, B3D_GetCutID("c\\boom"));
    EXPECT_GT(e.parts[4].body, 0);
}

struct FileCase {
    const char* name;
    const char* text;
    std::vector<int32_t> parts;  // of effects 1, 2 and 3
    const char* log;
};

TEST_F(EffectsTest, ADamagedFileKeepsTheEffectsBeforeTheDamage) {
    const std::string part = "EEDF_NONE;0;NULL;1;2;100;0;0;0;0;0;0;1.0;0;\n";
    const FileCase cases[] = {
        {"index out of range",
         "1000;1;EDF_NONE;0;1.0;\n",
         {1, 0, 0},
         "B3D_LoadEffects: Effect index 1000 out of range!\n"},
        {"negative index", "-1;1;EDF_NONE;0;1.0;\n", {1, 0, 0}, "B3D_LoadEffects: Effect index -1 out of range!\n"},
        {"part cut short",
         "2;1;EDF_NONE;0;1.0;\nEEDF_NONE;0;NULL;1;2;",
         {1, 0, 0},
         "B3D_LoadEffects: Error loading effects file in effect 2!\n"},
        {"huge part count",
         "2;2000000000;EDF_NONE;0;1.0;\n",
         {1, 0, 0},
         "B3D_LoadEffects: Error loading effects file in effect 2!\n"},
        {"count above ours",
         "2;1025;EDF_NONE;0;1.0;\n",
         {1, 0, 0},
         "B3D_LoadEffects: Error loading effects file in effect 2!\n"},
        {"negative part count",
         "2;-3;EDF_NONE;0;1.0;\n",
         {1, 0, 0},
         "B3D_LoadEffects: Error loading effects file in effect 2!\n"},
        {"second definition wins", "1;2;EDF_NONE;0;1.0;\n", {2, 0, 0}, ""},
        {"a failed second definition drops the index",
         "1;2;EDF_NONE;0;1.0;\nEEDF_NONE;0;",
         {0, 0, 0},
         "B3D_LoadEffects: Error loading effects file in effect 1!\n"},
    };
    for (const FileCase& c : cases) {
        std::string text = std::string("3;\n1;1;EDF_NONE;0;1.0;\n") + part + c.text;
        if (std::string(c.name) == "second definition wins") text += part + part;
        game_.Write("types/effects.txt", text);
        LogCapture log;
        EXPECT_EQ(EO_Init(), 1) << c.name;
        EXPECT_EQ((std::vector<int32_t>{Parts(1), Parts(2), Parts(3)}), c.parts) << c.name;
        EXPECT_EQ(log.Text(), c.log) << c.name;
    }
}

TEST_F(EffectsTest, WithoutTheFileInitAnswersZeroAndTheTableIsEmpty) {
    ASSERT_EQ(Effects("48 EDF_NONE 0 1.0\n  EEDF_NONE 0 NULL 1 2 100 0 0 0 0 0 0 0 0\n"), 1);
    std::filesystem::remove(game_.Path() + "/types/effects.txt");
    LogCapture log;
    EXPECT_EQ(EO_Init(), 0);
    EXPECT_TRUE(log.Contains("EO_Init() Can't load Effects file!\n")) << log.Text();
    EXPECT_EQ(Parts(48), 0);
}

TEST_F(EffectsTest, TheDemoShipsBothDefaultEffects) {
    const char* bin = std::getenv("TREVAN_BINARY_DIR");
    ASSERT_NE(bin, nullptr);
    std::filesystem::create_directories(game_.Path() + "/types");
    std::filesystem::copy(std::filesystem::path(bin) / "demo" / "types" / "effects.txt",
                          game_.Path() + "/types/effects.txt");
    LogCapture log;
    ASSERT_EQ(EO_Init(), 1);
    EXPECT_EQ(log.Text(), "");
    EXPECT_GT(Parts(EO_DEFAULT_DESTRUCTION), 0);
    EXPECT_GT(Parts(EO_DEFAULT_SECOND), 0);
    // Every effect the demo's types name: impacts, muzzle flashes, engines,
    // explosions.
    for (int32_t e : {20, 21, 30, 31, 40, 41, 42, 50, 51, 52, 53, 54, 55}) EXPECT_GT(Parts(e), 0) << e;
    for (int32_t e : {50, 51, 52, 53}) EXPECT_EQ(g_EffectTable.entries[e].flags & EDF_PROPAGATE, EDF_PROPAGATE) << e;
}

TEST_F(EffectsTest, InstanceFlagsGiveOnlyTheNamedBits) {
    // A number in the field keeps only the bits the names stand for: 5 would
    // make the part's instance a camera and a light.
    ASSERT_EQ(Effects("5 EDF_NONE 0 1.0\n  EEDF_NONE 5 NULL 1 1 0 0 0 0 0 0 0 0 0\n"
                      "  EEDF_NONE 0x20004001 NULL 1 1 0 0 0 0 0 0 0 0 0\n"),
              1);
    EXPECT_EQ(g_EffectTable.entries[5].parts[0].instanceFlags, 0u);
    EXPECT_EQ(g_EffectTable.entries[5].parts[1].instanceFlags, I3DF_2D | I3DF_HASLENSFLARE);
    SectorObject* ship = Place(SA_MT_SHIP);
    ObjectEffect* e = EO_AddObjectEffect(1, 1, 5, ship, nullptr, 0, 0, nullptr, 0, nullptr);
    ASSERT_NE(e, nullptr);
    for (int32_t i = 0; i < 2; ++i) {
        Inst3D* inst = EO_SlotInstance(&e->slots[i]);
        ASSERT_NE(inst, nullptr);
        EXPECT_FALSE(inst->flags & (INST_CAMERA | INST_LIGHT)) << i;
    }
    EO_FreeEffectEntry(e);  // frees the instances as any scene engine record
}

struct LookupCase {
    int16_t mainType;
    int32_t field;  // the field the type record gets the value in (-1 none)
    int32_t value;
    int32_t bulletFlags;
    uint32_t flag;
    int32_t destruction;
    int32_t second;
};

TEST_F(EffectsTest, TypeEffectsFallBackToTheDefaults) {
    const LookupCase cases[] = {
        {SA_MT_BULLET, SA_TF_BULLET_IMPACT_EFFECT, 30, SA_BULLET_KILL_EFFECT, 0, 30, 0},
        {SA_MT_BULLET, SA_TF_BULLET_IMPACT_EFFECT, 0, SA_BULLET_KILL_EFFECT, 0, 0, 0},  // even when 0
        {SA_MT_BULLET, SA_TF_BULLET_IMPACT_EFFECT, 30, 0, 0, 48, 0},
        {SA_MT_SHIP, SA_TF_SHIP_EXPLOSION_EFFECT, 12, 0, 0, 12, 36},
        {SA_MT_SHIP, SA_TF_SHIP_SECOND_EFFECT, 13, 0, 0, 48, 13},
        {SA_MT_DOCK, SA_TF_STATION_EXPLOSION_EFFECT, 14, 0, 0, 14, 36},
        {SA_MT_FACTORY, SA_TF_STATION_SECOND_EFFECT, 15, 0, 0, 48, 15},
        {SA_MT_ASTEROID, SA_TF_ASTEROID_EXPLOSION_EFFECT, 16, 0, 0, 16, 36},
        {SA_MT_MISSILE, SA_TF_MISSILE_EXPLOSION_EFFECT, 17, 0, 0, 48, 0},
        {SA_MT_MISSILE, SA_TF_MISSILE_EXPLOSION_EFFECT, 17, 0, SA_FLAG_AREA_DAMAGE, 17, 0},
        {SA_MT_MISSILE, SA_TF_MISSILE_EXPLOSION_EFFECT, 0, 0, SA_FLAG_AREA_DAMAGE, 48, 0},
        {SA_MT_MISSILE, SA_TF_MISSILE_SECOND_EFFECT, 18, 0, SA_FLAG_AREA_DAMAGE, 48, 18},
        {SA_MT_MISSILE, SA_TF_MISSILE_SECOND_EFFECT, 18, 0, 0, 48, 0},
        {SA_MT_PLANET, -1, 0, 0, 0, 48, 0},
        {SA_MT_GATE, -1, 0, 0, 0, 48, 0},
        {SA_MT_SHIP_WRECK, -1, 0, 0, 0, 48, 0},
    };
    for (const LookupCase& c : cases) {
        SA_FreeObjectDB();
        TypeRecord* r = Types(c.mainType, 1);
        ASSERT_NE(r, nullptr);
        if (c.field >= 0) r->field[c.field] = c.value;
        if (c.mainType == SA_MT_BULLET) r->field[SA_TF_BULLET_FLAGS] = c.bulletFlags;
        EXPECT_EQ(EO_GetDestructionEffect(0, c.mainType, c.flag), c.destruction) << c.mainType << " " << c.field;
        EXPECT_EQ(EO_GetSecondEffect(0, c.mainType, c.flag), c.second) << c.mainType << " " << c.field;
    }
    // A subtype without a record takes the default too.
    EXPECT_EQ(EO_GetDestructionEffect(5, SA_MT_SHIP, 0), 48);
    EXPECT_EQ(EO_GetSecondEffect(5, SA_MT_SHIP, 0), 36);
}

TEST_F(EffectsTest, AnEffectIndexOutsideTheTableIsNoEffect) {
    ASSERT_EQ(Effects("48 EDF_NONE 0 1.0\n  EEDF_NONE 0 NULL 1 2 100 0 0 0 0 0 0 0 0\n"), 1);
    SectorObject* ship = Place(SA_MT_SHIP);
    for (int32_t index : {-1, 1000, 70000})
        EXPECT_EQ(EO_AddObjectEffect(0, 0, index, ship, nullptr, 0, 0, nullptr, 0, nullptr), nullptr) << index;
    EXPECT_EQ(EO_FirstEffect(), nullptr);
    TypeRecord* r = SA_GetTypeRecord(SA_MT_SHIP, 0);
    ASSERT_NE(r, nullptr);
    r->field[SA_TF_SHIP_EXPLOSION_EFFECT] = 5000;
    const int32_t objects = static_cast<int32_t>(Qel_TableNext(root_.ids, 0));
    EXPECT_EQ(EO_ObjectDestroyedEffect(ship, nullptr, 0), 1);
    EXPECT_EQ(EO_FirstEffect(), nullptr);
    EXPECT_EQ(static_cast<int32_t>(Qel_TableNext(root_.ids, 0)), objects);  // no carrier
    EXPECT_EQ(EO_EffectHasFlaggedPartA(0, SA_MT_SHIP), 0);
}

TEST_F(EffectsTest, FlaggedPartsOfTheDestructionEffect) {
    ASSERT_EQ(Effects("48 EDF_NONE 0 1.0\n  EEDF_NONE 0 NULL 1 2 100 0 0 0 0 0 0 0 0\n"
                      "60 EDF_NONE 0 1.0\n  EEDF_DEBRISMAP 0 NULL 1 2 100 0 0 0 0 0 0 0 0\n"
                      "61 EDF_NONE 0 1.0\n  EEDF_NONE 0 NULL 1 2 100 0 0 0 0 0 0 0 0\n"
                      "  EEDF_WRECK 0 NULL 1 2 100 0 0 0 0 0 0 0 0\n"),
              1);
    TypeRecord* r = Types(SA_MT_ASTEROID, 2);
    r[0].field[SA_TF_ASTEROID_EXPLOSION_EFFECT] = 60;
    r[1].field[SA_TF_ASTEROID_EXPLOSION_EFFECT] = 61;
    EXPECT_EQ(EO_EffectHasFlaggedPartA(0, SA_MT_ASTEROID), 1);
    EXPECT_EQ(EO_EffectHasFlaggedPartB(0, SA_MT_ASTEROID), 0);
    EXPECT_EQ(EO_EffectHasFlaggedPartA(1, SA_MT_ASTEROID), 0);
    EXPECT_EQ(EO_EffectHasFlaggedPartB(1, SA_MT_ASTEROID), 1);
}

TEST_F(EffectsTest, ExplosionSoundsBySize) {
    TypeRecord* missile = Types(SA_MT_MISSILE, 1);
    missile->field[SA_TF_MISSILE_EXPLOSION_SOUND] = 777;
    const struct {
        int16_t mainType;
        int32_t size;
        uint32_t flags;
        int32_t sound;
    } cases[] = {
        {SA_MT_SHIP, 1, 0, 918},         {SA_MT_SHIP, 20000, 0, 918},  {SA_MT_SHIP, 20001, 0, 919},
        {SA_MT_SHIP, 100000, 0, 919},    {SA_MT_SHIP, 100001, 0, 920}, {SA_MT_MISSILE, 5, SA_FLAG_AREA_DAMAGE, 777},
        {SA_MT_MISSILE, 200000, 0, 920},
    };
    for (const auto& c : cases) {
        SectorObject* o = Place(c.mainType, 0, c.size);
        o->size = c.size;
        o->flags |= c.flags;
        Played().clear();
        EO_PlayExplosionSound(o);
        EXPECT_EQ(Played(), std::vector<int32_t>{c.sound}) << c.size;
    }
    SectorObject* loose = New(SA_MT_SHIP);  // no placed instance: no sound
    Played().clear();
    EO_PlayExplosionSound(loose);
    EXPECT_TRUE(Played().empty());
}

TEST_F(EffectsTest, CollisionSoundRules) {
    TypeRecord* bullet = Types(SA_MT_BULLET, 1);
    bullet->field[SA_TF_BULLET_IMPACT_SOUND] = 555;
    Types(SA_MT_SHIP, 76);
    const struct {
        const char* name;
        int16_t mainA, subA;
        uint32_t flagsA;
        int32_t sizeA, sizeB;
        std::vector<int32_t> playing, sounds;
    } cases[] = {
        {"bullet", SA_MT_BULLET, 0, 0, 5, 5, {}, {555}},
        {"area missile", SA_MT_MISSILE, 0, SA_FLAG_AREA_DAMAGE, 5, 5, {}, {}},
        {"ship 75", SA_MT_SHIP, 75, 0, 5, 5, {}, {992}},
        {"b smaller", SA_MT_SHIP, 0, 0, 500, 400, {}, {}},
        {"both small", SA_MT_SHIP, 0, 0, 20000, 20000, {}, {903}},
        {"b big", SA_MT_SHIP, 0, 0, 20000, 20001, {}, {904}},
        {"already playing", SA_MT_SHIP, 0, 0, 100, 200, {903}, {}},
    };
    for (const auto& c : cases) {
        SectorObject* a = Place(c.mainA, c.subA, c.sizeA);
        a->flags |= c.flagsA;
        SectorObject* b = Place(SA_MT_SHIP, 0, c.sizeB);
        Played().clear();
        Playing() = c.playing;
        EO_PlayCollisionSound(a, b);
        EXPECT_EQ(Played(), c.sounds) << c.name;
    }
}

TEST_F(EffectsTest, AddingAnEffectTwiceRestartsTheOneEntry) {
    ASSERT_EQ(Effects("5 EDF_REINIT 0 1.0\n"
                      "  EEDF_TIMEOUT 0 NULL 1 2 5000 0 0 0 0 0 0 0 0\n"
                      "  EEDF_TIMEOUT|EEDF_NOREINIT 0 NULL 1 2 5000 0 0 0 0 0 0 0 0\n"),
              1);
    SectorObject* ship = Place(SA_MT_SHIP);
    SetClock(1000);
    ObjectEffect* e = EO_AddObjectEffect(3, 9, 5, ship, nullptr, 0, 0, nullptr, 0, nullptr);
    ASSERT_NE(e, nullptr);
    Inst3D* first = EO_SlotInstance(&e->slots[0]);
    Inst3D* kept = EO_SlotInstance(&e->slots[1]);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(kept, nullptr);
    SetClock(2000);
    const QelVector at{1, 2, 3, 0};
    EXPECT_EQ(EO_AddObjectEffect(3, 9, 5, ship, nullptr, 0, 0, &at, 100, nullptr), e);
    EXPECT_EQ(e->next, nullptr);
    EXPECT_EQ(EO_FirstEffect(), e);
    EXPECT_EQ(e->startTime, 2100);
    EXPECT_EQ(e->position.z, 3);
    EXPECT_EQ(e->slots[0].instance, nullptr);  // restarted, and waits for its start
    EXPECT_EQ(e->slots[0].state, EO_SLOT_WAITING);
    EXPECT_EQ(EO_SlotInstance(&e->slots[1]), kept);
}

TEST_F(EffectsTest, EngineEffectsSitAtTheEnginePointsOfAShip) {
    ASSERT_EQ(Effects("5 EDF_NONE 0 1.0\n  EEDF_NONE 0 NULL 1 1 0 0 0 0 0 0 0 0 0\n"), 1);
    TypeRecord* type = Types(SA_MT_SHIP, 1);
    type->field[SA_TF_SHIP_ENGINE_EFFECT] = 5;
    type->field[SA_TF_SHIP_ENGINE_PARTICLES] = 9;
    const struct {
        uint16_t mask;
        int32_t x;
    } children[] = {
        {0x1, 10},           // engine 0: flame and trail
        {0x1 | 0x4000, 20},  // engine 1: trail only
        {0x1 | 0x2, 30},     // masked out: no engine
        {0x1 | 0x2000, 40},  // engine 2: flame only
        {0x0, 50},           // no engine point
    };
    std::vector<SectorObject*> ships;
    for (bool trails : {true, false}) {
        system_->VideoD3DFlags = trails ? EO_OPTION_ENGINE_PARTICLES : 0;
        SectorObject* ship = Place(SA_MT_SHIP);
        for (const auto& c : children) {
            Inst3D* child = B3D_AllocInst();
            child->childMask = c.mask;
            child->pos = {c.x, 0, 0, 0};
            Adopt(ship->instance, child);
        }
        EXPECT_EQ(EO_StartObjectEffect(ship), 1);
        ships.push_back(ship);
    }
    using Spot = std::pair<int32_t, int32_t>;  // slot, x
    std::vector<Spot> flames, trails;
    for (ObjectEffect* e = EO_FirstEffect(); e; e = e->next)
        if (e->object == ships[0] && e->kind == EO_KIND_ENGINE) flames.emplace_back(e->slot, e->position.x);
    for (ParticleEmitter* m = EO_FirstEmitter(); m; m = m->next) {
        EXPECT_EQ(m->owner, ships[0]);  // the second ship's trails are off
        EXPECT_EQ(m->particleType, 9);
        trails.emplace_back(m->slot, EO_EmitterGenerator(m)->offset.x);
    }
    EXPECT_EQ(flames, (std::vector<Spot>{{0, 10}, {2, 40}}));
    EXPECT_EQ(trails, (std::vector<Spot>{{0, 10}, {1, 20}}));
    int32_t secondFlames = 0;
    for (ObjectEffect* e = EO_FirstEffect(); e; e = e->next) secondFlames += e->object == ships[1];
    EXPECT_EQ(secondFlames, 2);
    EXPECT_EQ(EO_StartObjectEffect(Place(SA_MT_PLANET)), 0);
    // An unlinked ship takes its effects and emitters along.
    EO_RemoveObjectReferences(ships[0]);
    EXPECT_EQ(EO_FirstEmitter(), nullptr);
    for (ObjectEffect* e = EO_FirstEffect(); e; e = e->next) EXPECT_EQ(e->object, ships[1]);
}

TEST_F(EffectsTest, AnImpactSitsWhereTheWeaponHitAndNamesTheWeapon) {
    ASSERT_EQ(Effects("5 EDF_NONE 0 1.0\n  EEDF_NONE 0 NULL 1 1 0 0 0 0 0 0 0 0 0\n"), 1);
    Types(SA_MT_BULLET, 1)->field[SA_TF_BULLET_IMPACT_EFFECT] = 5;
    SectorObject* ship = Place(SA_MT_SHIP, 0, 10 * kOneSize, {1000, 0, 0, 0});
    SectorObject* bullet = Place(SA_MT_BULLET, 0, kOneSize, {1100, 0, 0, 0});
    Qel_MatFromAngles(&bullet->instance->matrix, 0, 0, 4096);
    // The contact point of the smaller one counts, in the hit ship's frame.
    const int32_t contact[3] = {1100, 50, -7};
    std::copy(contact, contact + 3, bullet->instance->contact);
    EXPECT_EQ(EO_CollisionEffect(bullet, ship), 1);
    ObjectEffect* e = EO_FirstEffect();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->next, nullptr);
    EXPECT_EQ(e->object, ship);
    EXPECT_EQ(e->kind, EO_KIND_IMPACT);
    EXPECT_EQ(e->slot, static_cast<int32_t>(bullet->id));
    EXPECT_EQ(e->pushObject, bullet);
    EXPECT_EQ((std::vector<int32_t>{e->position.x, e->position.y, e->position.z}), (std::vector<int32_t>{100, 50, -7}));
    EXPECT_EQ(0, std::memcmp(&e->orientation2, &bullet->instance->matrix, sizeof(QelMatrix)));
    // No weapon, no impact; an object out of the scene, no test at all.
    EXPECT_EQ(EO_CollisionEffect(ship, Place(SA_MT_SHIP)), 1);
    EXPECT_EQ(EO_CollisionEffect(New(SA_MT_SHIP), bullet), 0);
    EXPECT_EQ(EO_FirstEffect()->next, nullptr);
    // A bullet freed while its impact plays leaves no reference behind.
    bullet->flags |= SA_FLAG_KILLED;
    O_UnlinkObject(bullet, 0);
    EXPECT_EQ(e->pushObject, nullptr);
}

}  // namespace
