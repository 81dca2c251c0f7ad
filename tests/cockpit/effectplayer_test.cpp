#include "cockpit/effectplayer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/random.h"
#include "scene/particles.h"
#include "space/typesdb.h"
#include "cockpit/effects_fixture.h"
#include "scene/scene_fixture.h"
#include "scene/typesfiles.h"
#include "support/logcapture.h"

namespace {

constexpr int32_t kOne = 65536;
constexpr int32_t kStart = 1000;

class EffectPlayer : public EffectsTest {
protected:
    // One effect (index 5) of the given part lines, added to the object at kStart.
    ObjectEffect* Play(const std::string& parts, SectorObject* object, SectorObject* push = nullptr) {
        EXPECT_EQ(Effects("5 EDF_NONE 3 1.0\n" + parts), 1);
        SetClock(kStart);
        return EO_AddObjectEffect(1, 1, 5, object, push, 0, 0, nullptr, 0, nullptr);
    }
    // The part's instance after playing the entry at kStart + age.
    Inst3D* At(ObjectEffect* e, int32_t age, int32_t part = 0) {
        SetClock(EO_TimeAdd(kStart, age));
        EO_RunObjectEffect(e);
        return EO_SlotInstance(&e->slots[part]);
    }
};

struct Step {
    int32_t age;
    int32_t value;
};

TEST_F(EffectPlayer, SizeAndAlphaOverTime) {
    const struct {
        const char* name;
        const char* part;
        bool alpha;
        std::vector<Step> steps;
    } cases[] = {
        {"grow",
         "EEDF_GROW 0 NULL 1 3 1000 0 0 0 0 0 0 0 0",
         false,
         {{0, kOne}, {250, kOne + kOne / 2}, {500, 2 * kOne}, {1000, 3 * kOne}, {4000, 3 * kOne}}},
        {"grow and shrink",
         "EEDF_GROWANDSHRINK 0 NULL 1 3 1000 0 0 0 0 0 0 0 0",
         false,
         {{0, kOne},
          {250, 2 * kOne + kOne / 2},
          {500, 3 * kOne},
          {750, 2 * kOne + kOne / 2},
          {1000, kOne},
          {3000, kOne}}},
        {"plain", "EEDF_NONE 0 NULL 1 3 1000 0 0 0 0 0 0 0 0", false, {{0, kOne}, {900, kOne}}},
        // Products past 32 bits on the way.
        {"grow large", "EEDF_GROW 0 NULL 30000 32000 1000 0 0 0 0 0 0 0 0", false, {{500, 31000 * kOne}}},
        {"grow and shrink large",
         "EEDF_GROWANDSHRINK 0 NULL 30000 32000 1000 0 0 0 0 0 0 0 0",
         false,
         {{250, 31500 * kOne}}},
        {"relative", "EEDF_RELATIVESIZE 0 NULL 0.5 3 1000 0 0 0 0 0 0 0 0", false, {{0, 3 * kOne}}},
        {"fade",
         "EEDF_FADEOUT 0 NULL 1 3 1000 0 0 0 0 0 0 0 0",
         true,
         {{0, 254}, {500, 126}, {999, 1}, {1000, 1}, {5000, 1}}},
        {"no fade while propagating", "EEDF_FADEOUT|EEDF_PROPAGATE 0 36 0 0 0 0 0 0 0 0", true, {{500, 0}}},
    };
    SectorObject* ship = Place(SA_MT_SHIP, 0, 6 * kOne);
    for (const auto& c : cases) {
        ObjectEffect* e = Play(std::string("  ") + c.part + "\n", ship);
        ASSERT_NE(e, nullptr) << c.name;
        for (const Step& s : c.steps) {
            Inst3D* inst = At(e, s.age);
            ASSERT_NE(inst, nullptr) << c.name << " " << s.age;
            EXPECT_EQ(c.alpha ? inst->alphaOverride : inst->size, s.value) << c.name << " at " << s.age;
        }
    }
}

TEST_F(EffectPlayer, TheCarrierFadesOutFromItsFadePart) {
    SectorObject* carrier = Place(EO_CARRIER_MAIN_TYPE, 1);
    ObjectEffect* e = Play(
        "  EEDF_NONE 0 NULL 1 1 0 0 0 0 0 0 0 0 0\n"
        "  EEDF_FADEOUTBODY 0 NULL 1 1 0 0 0 0 0 0 0 0 100\n",
        carrier);
    ASSERT_NE(e, nullptr);
    for (Step s : std::vector<Step>{{0, 0}, {100, 0}, {101, 254}, {600, 128}, {1099, 2}, {1100, 1}, {9000, 1}}) {
        At(e, s.age);
        EXPECT_EQ(carrier->instance->alphaOverride, s.value) << s.age;
    }
}

TEST_F(EffectPlayer, SpeedDependentSizeAndJitterWithinItsBounds) {
    TypeRecord* type = Types(SA_MT_SHIP, 1);
    type->field[SA_TF_SHIP_SPEED] = 1000;
    SectorObject* ship = Place(SA_MT_SHIP);
    ObjectEffect* e = Play("  EEDF_SPEEDDEPENDENT 0 NULL 1 3 0 0 0 0 0 0 0 2.0 0\n", ship);
    // k = 2000: the size grows from m at rest toward M with speed.
    for (Step s : std::vector<Step>{{0, kOne}, {2000, 2 * kOne}, {-6000, 2 * kOne + kOne / 2}}) {
        ship->speed = s.age;
        EXPECT_EQ(At(e, 10)->size, s.value) << s.age;
    }
    type->field[SA_TF_SHIP_SPEED] = 0;
    ship->speed = 5000;
    EXPECT_EQ(At(e, 10)->size, 3 * kOne);

    Qel_SeedRandom(7);
    ObjectEffect* j = Play("  EEDF_NONE 0 NULL 2 2 0 0.5 0 0 0 0 0 0 0\n", ship);
    std::vector<int32_t> sizes;
    for (int i = 0; i < 40; ++i) sizes.push_back(At(j, i)->size);
    for (int32_t s : sizes) {
        EXPECT_GE(s, kOne);
        EXPECT_LE(s, 2 * kOne);
    }
    EXPECT_NE(*std::min_element(sizes.begin(), sizes.end()), *std::max_element(sizes.begin(), sizes.end()));
}

TEST_F(EffectPlayer, APartStartsOnTheFirstCallAtItsStartAcrossTheClockWrap) {
    SectorObject* ship = Place(SA_MT_SHIP);
    ASSERT_EQ(Effects("5 EDF_NONE 0 1.0\n  EEDF_NONE 0 NULL 1 1 0 0 0 0 0 0 0 0 200\n"), 1);
    SetClock(32399900);
    ObjectEffect* e = EO_AddObjectEffect(1, 1, 5, ship, nullptr, 0, 0, nullptr, 0, nullptr);
    ASSERT_NE(e, nullptr);
    SetClock(99);  // 1 ms before the start, past the wrap
    EO_RunObjectEffect(e);
    EXPECT_EQ(EO_SlotInstance(&e->slots[0]), nullptr);
    EXPECT_EQ(e->slots[0].state, EO_SLOT_WAITING);
    SetClock(100);
    EO_RunObjectEffect(e);
    EXPECT_NE(EO_SlotInstance(&e->slots[0]), nullptr);
    EXPECT_EQ(e->slots[0].state, EO_SLOT_STARTED);
}

TEST_F(EffectPlayer, ALightTypeOutsideTheTableIsNoLight) {
    SectorObject* ship = Place(SA_MT_SHIP);
    ObjectEffect* e = Play(
        "  EEDF_LIGHT 0 5000 1 1 0 0 0 0 0 0 0 0 0\n"
        "  EEDF_LIGHT 0 -3 1 1 0 0 0 0 0 0 0 0 0\n"
        "  EEDF_LIGHT 0 lamp 1 1 0 0 0 0 0 0 0 0 0\n"
        "  EEDF_LIGHT 0 7 1 1 0 0 0 0 0 0 0 0 0\n",
        ship);
    ASSERT_NE(e, nullptr);
    for (int32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(e->slots[i].state, EO_SLOT_REMOVED) << i;
        EXPECT_EQ(EO_SlotInstance(&e->slots[i]), nullptr) << i;
    }
    // Light type 7 of the table (kind 0 here): a light that stays out of the scene.
    Inst3D* light = EO_SlotInstance(&e->slots[3]);
    ASSERT_NE(light, nullptr);
    EXPECT_TRUE(light->flags & INST_LIGHT);
}

TEST_F(EffectPlayer, ALightsColourFollowsItsPart) {
    g_B3DState->lightTypes[3] = {2, 200, 100, 40, 0, 0, {0, 0}};
    TypeRecord* type = Types(SA_MT_SHIP, 1);
    type->field[SA_TF_SHIP_SPEED] = 1000;
    SectorObject* ship = Place(SA_MT_SHIP);
    ship->speed = 1000;
    using Colour = std::vector<uint16_t>;
    const struct {
        const char* name;
        const char* part;
        std::vector<std::pair<int32_t, Colour>> steps;
        int32_t size;
    } cases[] = {
        {"grow",
         "EEDF_LIGHT|EEDF_GROW 0 3 1 3 1000 0 0 0 0 0 0 0 0",
         {{0, {200, 100, 40}}, {500, {100, 50, 20}}, {1000, {0, 0, 0}}},
         0},
        {"grow and shrink",
         "EEDF_LIGHT|EEDF_GROWANDSHRINK 0 3 1 3 1000 0 0 0 0 0 0 0 0",
         {{0, {0, 0, 0}}, {250, {150, 75, 30}}, {500, {200, 100, 40}}, {1000, {0, 0, 0}}},
         0},
        // k = 1000, v = 1000: half the colour, the size M.
        {"speed", "EEDF_LIGHT|EEDF_SPEEDDEPENDENT 0 3 1 3 0 0 0 0 0 0 0 1.0 0", {{0, {100, 50, 20}}}, 3 * kOne},
    };
    for (const auto& c : cases) {
        ObjectEffect* e = Play(std::string("  ") + c.part + "\n", ship);
        ASSERT_NE(e, nullptr) << c.name;
        for (const auto& [age, colour] : c.steps) {
            Inst3D* light = At(e, age);
            ASSERT_NE(light, nullptr) << c.name;
            EXPECT_TRUE(light->flags & INST_POINT_LIGHT) << c.name;
            EXPECT_EQ(Colour(light->lightColor, light->lightColor + 3), colour) << c.name << " at " << age;
            EXPECT_EQ(light->size, c.size) << c.name << " at " << age;
        }
    }
}

TEST_F(EffectPlayer, HullDamageWaitsWhileTheShieldHolds) {
    SectorObject* ship = Place(SA_MT_SHIP);
    SectorObject* shield = New(SA_MT_SHIELD);
    Into(ship, shield);
    static_cast<ShieldData*>(shield->typeData)->energy = 100;
    ObjectEffect* e = Play("  EEDF_HULLDAMAGE 0 NULL 1 1 0 0 0 0 0 0 0 0 0\n", ship);
    for (int32_t age : {0, 100, 5000}) EXPECT_EQ(At(e, age), nullptr) << age;
    EXPECT_EQ(e->slots[0].state, EO_SLOT_WAITING);
    EXPECT_TRUE(Played().empty());
    static_cast<ShieldData*>(shield->typeData)->energy = 99;
    EXPECT_NE(At(e, 5001), nullptr);
    At(e, 5002);
    ASSERT_EQ(Played().size(), 1u);
    EXPECT_EQ(PlayedAt(), ship->instance);  // at the ship: a sound needs a place
    const std::vector<int32_t> sounds{903, 904, 1200, 1201, 1202};
    EXPECT_NE(std::find(sounds.begin(), sounds.end(), Played()[0]), sounds.end());
}

TEST_F(EffectPlayer, APushMovesShipsNearTheHitByTheirDistance) {
    TypeRecord* type = Types(SA_MT_SHIP, 1);
    type->field[SA_TF_CLASS] = 1;  // not small
    SectorObject* hit = Place(SA_MT_SHIP);
    SectorObject* push = Place(SA_MT_MISSILE, 0, kOne, {-1, 0, 0, 0});
    push->speed = 800000;
    const struct {
        int32_t x;
        uint32_t flags;
        int32_t drift;
    } ships[] = {
        {599999, 0, 100000},        // exactly 600,000 from the push: full strength
        {299999, 0, 50000},         // half the distance, half the strength
        {600000, 0, 0},             // out of reach of the hit ship
        {1000, SA_FLAG_PLAYER, 0},  // the player's ship stays
    };
    std::vector<SectorObject*> near;
    for (const auto& s : ships) {
        near.push_back(Place(SA_MT_SHIP, 0, kOne, {s.x, 0, 0, 0}));
        near.back()->flags |= s.flags;
    }
    ASSERT_NE(Play("  EEDF_PUSH 0 NULL 1 1 0 0 0 0 0 0 0 0 0\n", hit, push), nullptr);
    EXPECT_EQ(hit->drift[2], 100000);
    for (size_t i = 0; i < near.size(); ++i) {
        EXPECT_EQ(near[i]->drift[0], ships[i].drift) << ships[i].x;
        EXPECT_EQ(near[i]->drift[2], 0) << ships[i].x;
    }
}

TEST_F(EffectPlayer, ABreakUpMakesAPieceOfEachBodyWithABreakUpValue) {
    Write("types", "[BodyData]\n601 0 -1 0 v\\plate\n602 0 -1 -1 v\\wing\n603 0 -1 77 v\\tail\n");
    ASSERT_EQ(B3DB_LoadBodyData(), 1);
    TypeRecord* type = Types(SA_MT_SHIP, 1);
    type->field[SA_TF_SHIP_SECOND_EFFECT] = 36;
    type->field[SA_TF_CLASS] = 1;
    SectorObject* hull = Place(SA_MT_SHIP);
    for (int32_t body : {601, 602, 603}) {
        Inst3D* child = B3D_AllocInst();
        child->bodyId = body;
        child->pos = {body, 0, 0, 0};
        Adopt(hull->instance, child);
    }
    SectorObject* carrier = Place(EO_CARRIER_MAIN_TYPE, 1);
    ASSERT_EQ(Effects("5 EDF_NONE 0 1.0\n  EEDF_BREAKUP 0 NULL 1 1 0 0 0 0 0 0 0 0 10\n"
                      "36 EDF_NONE 0 1.0\n  EEDF_NONE 0 NULL 1 1 0 0 0 0 0 0 0 0 0\n"
                      "77 EDF_NONE 0 1.0\n  EEDF_NONE 0 NULL 1 1 0 0 0 0 0 0 0 0 0\n"),
              1);
    SetClock(kStart);
    ObjectEffect* e = EO_AddObjectEffect(1, 1, 5, carrier, hull, 0, 0, nullptr, 0, nullptr);
    ASSERT_NE(e, nullptr);
    SetClock(kStart + 10);
    EXPECT_EQ(EO_RunObjectEffect(e), 1);
    EXPECT_EQ(e->pushObject, nullptr);
    EXPECT_TRUE(hull->flags & SA_FLAG_KILLED);
    std::vector<std::pair<int32_t, const EffectEntry*>> pieces;
    for (ObjectEffect* p = EO_FirstEffect(); p; p = p->next)
        if (p->kind == EO_KIND_PIECE) pieces.emplace_back(p->object->subType, p->effect);
    EXPECT_EQ(pieces, (std::vector<std::pair<int32_t, const EffectEntry*>>{{602, &g_EffectTable.entries[36]},
                                                                           {603, &g_EffectTable.entries[77]}}));
    // A hull whose type has no second effect does not break.
    EXPECT_EQ(EO_BreakUpObject(Place(SA_MT_PLANET)), 0);
}

TEST_F(EffectPlayer, ALensFlarePartCarriesItsFlareWithOrWithoutABody) {
    SectorObject* ship = Place(SA_MT_SHIP);
    ObjectEffect* e = Play(
        "  EEDF_LENSFLARE 0 NULL 1 1 0 0 0 0 0 21 22 0 0\n"
        "  EEDF_LENSFLARE 0 v\\flare 1 1 0 0 0 0 0 23 24 0 0\n",
        ship);
    ASSERT_NE(e, nullptr);
    const struct { int32_t id, value; } flares[] = {{21, 22}, {23, 24}};
    for (int32_t i = 0; i < 2; ++i) {
        Inst3D* inst = EO_SlotInstance(&e->slots[i]);
        ASSERT_NE(inst, nullptr) << i;
        EXPECT_TRUE(inst->flags & I3DF_HASLENSFLARE) << i;
        EXPECT_EQ(inst->markValue, flares[i].id) << i;
        EXPECT_EQ(inst->flareSizeWeight, flares[i].value) << i;
        EXPECT_EQ(std::vector<uint16_t>(inst->lightColor, inst->lightColor + 3),
                  (std::vector<uint16_t>{255, 255, 255}));
    }
}

// A cut of two paths whose first body is a jet.
class ParticleCut : public EffectPlayer {
protected:
    void SetUp() override {
        EffectPlayer::SetUp();
        cut_ = std::make_unique<TestCut>(40, 2);
        cut_->Keys(0, {0, 5000});
        cut_->Keys(1, {0, 5000});
        cut_->path(0).reference = kJet;
        cut_->path(1).reference = kJet + 1;
        g_TypeDB.specialBodies[kJetKind] = jets_;
    }
    void TearDown() override {
        g_TypeDB.specialBodies[kJetKind] = nullptr;  // the list is the test's
        cut_->Unload();
        EffectPlayer::TearDown();
    }
    static constexpr int32_t kJet = 601;
    static constexpr int32_t kJetKind = 6;
    int32_t jets_[2] = {1, kJet};
    std::unique_ptr<TestCut> cut_;
};

TEST_F(ParticleCut, AParticleGeneratorFeedsAnEmitterFromItsJetUntilItsTimeOut) {
    SectorObject* ship = Place(SA_MT_SHIP);
    ObjectEffect* e = Play("  EEDF_CUT|EEDF_PARTICLEGENERATOR|EEDF_TIMEOUT 0 40 1 1 300 0 0 0 0 9 0 0 0\n", ship);
    ASSERT_NE(e, nullptr);
    Inst3D* inst = EO_SlotInstance(&e->slots[0]);
    ASSERT_NE(inst, nullptr);
    ASSERT_EQ(B3D_ListCount(&inst->children), 2);
    Inst3D* jet = B3D_First<Inst3D>(&inst->children);
    Inst3D* plain = B3D_Next(jet);
    EXPECT_EQ(jet->flags2 & 1, 1u);
    EXPECT_TRUE(jet->flags & INST_INVISIBLE);
    EXPECT_EQ(plain->flags2 & 1, 0u);
    EXPECT_FALSE(plain->flags & INST_INVISIBLE);
    for (Inst3D* c : {jet, plain}) EXPECT_TRUE(c->flags & INST_SCALED_CHILD);
    ParticleEmitter* m = EO_FirstEmitter();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->next, nullptr);
    EXPECT_EQ(m->owner, ship);
    EXPECT_EQ(m->particleType, 9);
    EXPECT_GE(m->slot, 301);
    EXPECT_LE(m->slot, 310);
    EXPECT_EQ(e->state, m->slot);
    const uint32_t generator = m->generatorId;
    ASSERT_NE(B3D_ParticleGeneratorFind(generator), nullptr);
    // The time-out takes the emitter and its particle system with the part.
    EXPECT_NE(At(e, 299), nullptr);
    EXPECT_EQ(At(e, 300), nullptr);
    EXPECT_EQ(e->slots[0].state, EO_SLOT_REMOVED);
    EXPECT_EQ(EO_FirstEmitter(), nullptr);
    EXPECT_EQ(B3D_ParticleGeneratorFind(generator), nullptr);
    EXPECT_EQ(e->state, 0);
}

}  // namespace
