#include "cockpit/explosions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "cockpit/effectplayer.h"
#include "cockpit/effects_fixture.h"
#include "scene/bodyrecord.h"
#include "scene/jobs.h"
#include "scene/state.h"
#include "script/tasks.h"
#include "scene/scene_fixture.h"
#include "support/logcapture.h"
#include "support/script_run.h"

namespace {

constexpr int32_t kOne = 65536;

struct Step {
    int32_t ms;
    int32_t size;
};

class Explosions : public EffectsTest {
protected:
    ExplosionObject* Explosion(int32_t start, int32_t end, int32_t state, uint32_t flags) {
        Inst3D* inst = B3D_AllocInst();
        B3D_InstAddToScene(inst, scene_);
        return EO_AddExplosion(inst, start, end, state, flags);
    }
    static int32_t Count() {
        int32_t n = 0;
        for (ExplosionObject* e = EO_FirstExplosion(); e; e = e->next) ++n;
        return n;
    }
};

TEST_F(Explosions, AWaitingExplosionStartsAtItsTimeAcrossTheWrap) {
    SetClock(32399000);
    ExplosionObject* e = Explosion(200, 5000, EXPLSTATE_WAIT, 0);
    Inst3D* inst = EO_ExplosionInstance(e);
    inst->flags |= INST_INVISIBLE;
    Frame(999);  // 32,399,999: 201 ms before the start
    EXPECT_EQ(e->state, EXPLSTATE_WAIT);
    EXPECT_TRUE(inst->flags & INST_INVISIBLE);
    Frame(200);  // 199
    EXPECT_EQ(e->state, EXPLSTATE_WAIT);
    Frame(1);  // 200
    EXPECT_EQ(e->state, EXPLSTATE_RUN);
    EXPECT_FALSE(inst->flags & INST_INVISIBLE);
}

TEST_F(Explosions, AMovingExplosionGrowsAndEndsAtItsEndTime) {
    SetClock(1000);
    ExplosionObject* e = Explosion(1000, 2000, EXPLSTATE_RUN, EXPLF_SIZE);
    e->startSize = kOne;
    e->endSize = 3 * kOne;
    Inst3D* inst = EO_ExplosionInstance(e);
    const uint32_t id = inst->id;
    inst->velocity[0] = 4000;
    Frame(500);
    EXPECT_EQ(inst->pos.x, 2000);
    EXPECT_EQ(inst->size, 2 * kOne);
    Frame(500);
    EXPECT_EQ(Count(), 0);
    EXPECT_EQ(B3D_InstFind(id), nullptr);
}

// Places, speeds and sizes at the ends of the words: the moving explosion
// stops at the edge of each rather than wrapping round it.
TEST_F(Explosions, AMovingExplosionStaysInsideItsWords) {
    const struct {
        int32_t pos, velocity, startSize, endSize;
        int32_t atPos, atSize;  // half-way
    } cases[] = {
        {INT32_MAX - 10, INT32_MAX, kOne, kOne, INT32_MAX, kOne},
        {INT32_MIN + 10, INT32_MIN, kOne, kOne, INT32_MIN, kOne},
        {0, 0, INT32_MIN, INT32_MAX, 0, -1},
        {0, 0, INT32_MAX, INT32_MIN, 0, 0},
    };
    for (const auto& k : cases) {
        SetClock(1000);
        ExplosionObject* e = Explosion(1000, 2000, EXPLSTATE_RUN, EXPLF_SIZE);
        e->startSize = k.startSize;
        e->endSize = k.endSize;
        Inst3D* inst = EO_ExplosionInstance(e);
        inst->pos.x = k.pos;
        inst->velocity[0] = k.velocity;
        Frame(500);
        EXPECT_EQ(inst->pos.x, k.atPos) << k.pos << " " << k.velocity;
        EXPECT_EQ(inst->size, k.atSize) << k.startSize << " " << k.endSize;
        EO_FreeExplosion(e);
    }
}

TEST_F(Explosions, UnknownStatesAndLoopsWithoutASceneAreLoggedAndStay) {
    SetClock(1000);
    Explosion(0, 5000, 7, 0);
    Explosion(0, 5000, EXPLSTATE_LOOP, 0);
    LogCapture log;
    Frame(10);
    Frame(10);
    EXPECT_EQ(log.Text(),
              "EO_MoveExplObjects: unknown state 7\nEO_MoveExplObjects: EXPLSTATE_LOOP and NO EXPLF_SCENE!\n"
              "EO_MoveExplObjects: unknown state 7\nEO_MoveExplObjects: EXPLSTATE_LOOP and NO EXPLF_SCENE!\n");
    EXPECT_EQ(Count(), 2);
}

TEST_F(Explosions, SpawnedBodiesLastFourSecondsAndGoWithTheirScene) {
    SetClock(32398000);
    const QelVector at{5, 6, 7, 0};
    ASSERT_EQ(EO_SpawnEffectInstance(scene_, 0, &at, 4 * kOne + 3), 1);
    ExplosionObject* e = EO_FirstExplosion();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->state, EXPLSTATE_RUN);
    EXPECT_EQ(e->flags, EXPLF_SPAWNED);
    EXPECT_EQ(e->endTime, 2000);  // across the wrap
    Inst3D* inst = EO_ExplosionInstance(e);
    ASSERT_NE(inst, nullptr);
    EXPECT_EQ(inst->size, kOne);
    EXPECT_TRUE(inst->flags & 0x4000);
    EXPECT_EQ(inst->scene, scene_);
    EXPECT_EQ(inst->pos.z, 7);
    // Freeing a scene's explosion references keeps those of other scenes.
    Scene3D* other = B3D_SceneAlloc();
    Inst3D* elsewhere = B3D_AllocInst();
    B3D_InstAddToScene(elsewhere, other);
    ASSERT_NE(EO_AddExplosion(elsewhere, 0, 20000, EXPLSTATE_WAIT, 0), nullptr);
    EO_RemoveExplosionReferences(scene_);
    ASSERT_EQ(Count(), 1);
    EXPECT_EQ(EO_ExplosionInstance(EO_FirstExplosion()), elsewhere);
    ASSERT_EQ(EO_SpawnEffectInstance(scene_, 0, &at, kOne), 1);
    Frame(3999);
    EXPECT_EQ(Count(), 2);
    Frame(1);
    EXPECT_EQ(Count(), 1);
}

TEST_F(Explosions, PropagationSpreadsItsBurstsOverTheirDelays) {
    ASSERT_EQ(Effects("5 EDF_NONE 0 1.0\n  EEDF_PROPAGATE 0 6 3 3 100 300 2 0 0.5 50\n"
                      "6 EDF_NONE 0 1.0\n  EEDF_NONE 0 NULL 1 1 0 0 0 0 0 0 0 0 0\n"
                      "7 EDF_NONE 0 1.0\n  EEDF_PROPAGATE 0 6 1 1 0 0 1 -5 0 0\n"),
              1);
    SectorObject* ship = Place(SA_MT_SHIP);
    ship->instance->radius = 1000;
    SetClock(1000);
    g_EOFrameRandom = 7000000;
    const QelVector at{7, 0, 0, 0};
    EXPECT_EQ(EO_PropagateEffect(ship, EO_KIND_IMPACT, 5, &at), 350);
    const int32_t id = static_cast<int32_t>(ship->id);
    std::vector<std::pair<int32_t, int32_t>> bursts;  // slot, start
    std::vector<ObjectEffect*> entries;
    for (ObjectEffect* e = EO_FirstEffect(); e; e = e->next) {
        EXPECT_EQ(e->kind, EO_KIND_IMPACT);
        EXPECT_EQ(e->effect, &g_EffectTable.entries[6]);
        bursts.emplace_back(e->slot - id - 7000000, e->startTime);
        entries.push_back(e);
    }
    EXPECT_EQ(bursts, (std::vector<std::pair<int32_t, int32_t>>{
                          {0, 1150}, {1, 1150}, {1000, 1250}, {1001, 1250}, {2000, 1350}, {2001, 1350}}));
    // A burst's first point is where the body offers none, its next one the
    // spacing (0.5 of the radius) away.
    for (size_t i = 0; i + 1 < entries.size(); i += 2) {
        EXPECT_EQ(entries[i]->position.x, 7);
        const QelVector& p = entries[i + 1]->position;
        const double d = std::hypot(p.x - 7.0, p.y, p.z);
        EXPECT_NEAR(d, 500.0, 2.0);
    }
    // A negative random delay is logged and counts as none.
    EO_FreeObjectEffects();
    LogCapture log;
    EXPECT_EQ(EO_PropagateEffect(ship, EO_KIND_IMPACT, 7, &at), 0);
    EXPECT_TRUE(log.Contains("Qel_LongRandom: Wrong argument -5\n")) << log.Text();
    ASSERT_NE(EO_FirstEffect(), nullptr);
    EXPECT_EQ(EO_FirstEffect()->startTime, 1000);
}

TEST_F(Explosions, ADestructionThatPropagatesRunsOverACloneOfTheHull) {
    ASSERT_EQ(Effects("48 EDF_PROPAGATE 0 1.0\n  EEDF_PROPAGATE 0 6 2 2 100 200 1 0 0 50\n"
                      "  EEDF_NONE 0 NULL 1 1 0 0 0 0 0 0 0 0 0\n"
                      "6 EDF_NONE 0 1.0\n  EEDF_NONE 0 NULL 1 1 0 0 0 0 0 0 0 0 0\n"),
              1);
    SectorObject* ship = Place(SA_MT_SHIP, 0, kOne, {100, 0, 0, 0});
    SetClock(1000);
    ASSERT_EQ(EO_ObjectDestroyedEffect(ship, nullptr, 0), 1);
    ObjectEffect* destruction = nullptr;
    std::vector<int32_t> impacts;
    for (ObjectEffect* e = EO_FirstEffect(); e; e = e->next) {
        if (e->kind == EO_KIND_DESTRUCTION) destruction = e;
        else impacts.push_back(e->startTime);
    }
    ASSERT_NE(destruction, nullptr);
    SectorObject* hull = destruction->pushObject;
    ASSERT_NE(hull, nullptr);
    EXPECT_EQ(hull->mainType, EO_CARRIER_MAIN_TYPE);
    EXPECT_NE(hull, destruction->object);
    EXPECT_EQ(hull->instance->pos.x, 100);
    // Delayed by the first propagating part's start and the latest burst.
    EXPECT_EQ(destruction->startTime, 1000 + 50 + 250);
    EXPECT_EQ(impacts, (std::vector<int32_t>{1150, 1250}));
    for (ObjectEffect* e = EO_FirstEffect(); e; e = e->next) {
        if (e != destruction) {
            EXPECT_EQ(e->object, hull);
        }
    }
}

TEST_F(Explosions, ExtremeNumbersOfTheFileStayInRange) {
    // Delays, burst counts and offsets at the ends of 32 bits, on a ship at
    // the edge of space: bursts are bounded, delays and places saturate or
    // wrap, and nothing overflows.
    ASSERT_EQ(Effects("48 EDF_PROPAGATE 0 1.0\n"
                      "  EEDF_PROPAGATE 0 6 -2147483648 2147483647 2147483647 -2147483648 2147483647 0 32767 "
                      "2147483647\n"
                      "6 EDF_NONE 0 1.0\n"
                      "  EEDF_GROW|EEDF_FADEOUT|EEDF_PUSH 0 NULL -32768 32767 -2147483648 0 2147483647 -2147483648 "
                      "2147483647 0 0 0 -2147483648\n"
                      "  EEDF_RELATIVESIZE|EEDF_GROWANDSHRINK 0 NULL -32768 32767 1 0 32767 -32768 32767 0 0 0 "
                      "2147483647\n"),
              1);
    SectorObject* ship = Place(SA_MT_SHIP, 0, 32767 * kOne, {2147483000, -2147483000, 2147483647, 0});
    ship->instance->radius = 2147483647;
    SectorObject* push = Place(SA_MT_MISSILE, 0, kOne, {-2147483648, 2147483647, 0, 0});
    push->speed = 2147483647;
    SetClock(1000);
    const QelVector far{2147483647, -2147483648, 2147483647, 0};
    ASSERT_NE(EO_AddObjectEffect(1, 1, 6, ship, push, 0, 0, &far, 0, nullptr), nullptr);
    ASSERT_EQ(EO_ObjectDestroyedEffect(ship, nullptr, 0), 1);
    int32_t entries = 0;
    for (ObjectEffect* e = EO_FirstEffect(); e; e = e->next) ++entries;
    EXPECT_LE(entries, 2 + 64 * 64);
    for (int frame = 0; frame < 4; ++frame) Frame(8000000);
}

// An explosion of child instances that play paths of a cut.
class SceneExplosions : public Explosions {
protected:
    void SetUp() override {
        Explosions::SetUp();
        cut_ = std::make_unique<TestCut>(40, 2);
        cut_->Keys(0, {0, 300});
        cut_->Keys(1, {0, 600});
    }
    void TearDown() override {
        cut_->Unload();
        Explosions::TearDown();
    }
    ExplosionObject* WithChildren(int32_t state) {
        ExplosionObject* e = Explosion(1000, 10000, state, EXPLF_SCENE);
        Inst3D* inst = EO_ExplosionInstance(e);
        for (int32_t path = 0; path < 2; ++path) {
            Inst3D* child = B3D_AllocInst();
            Adopt(inst, child);
            J3D_JobStartInst(child, 0, path, cut_->cut(), 0, 0);
        }
        return e;
    }
    std::unique_ptr<TestCut> cut_;
};

TEST_F(SceneExplosions, ASceneExplosionEndsWhenNoChildJobRuns) {
    SetClock(1000);
    ExplosionObject* e = WithChildren(EXPLSTATE_RUN);
    Inst3D* inst = EO_ExplosionInstance(e);
    const uint32_t id = inst->id;
    Frame(100);
    EXPECT_EQ(B3D_ListCount(&inst->children), 2);
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) c->jobFlags |= JOB_STOPPED;
    B3D_First<Inst3D>(&inst->children)->jobFlags &= ~JOB_STOPPED;
    Frame(100);
    EXPECT_EQ(B3D_ListCount(&inst->children), 1);
    B3D_First<Inst3D>(&inst->children)->jobFlags |= JOB_STOPPED;
    Frame(100);
    EXPECT_EQ(Count(), 0);
    EXPECT_EQ(B3D_InstFind(id), nullptr);
}

TEST_F(SceneExplosions, ASceneExplosionShrinksItsChildrenToItsEnd) {
    // A body whose size value times the instance's size passes 32 bits.
    BodyPart part{};
    part.radius = 90000;
    BodyPart* parts[1] = {&part};
    BodyLevel level{};
    level.partCount = 1;
    level.parts = parts;
    BodyLevel* levels[1] = {&level};
    Body3D body{};
    body.levels = levels;
    body.levelCount = 1;
    B3D_StoreBody(70, &body);
    SetClock(1000);
    ExplosionObject* e = WithChildren(EXPLSTATE_RUN);  // ends at 10,000
    Inst3D* inst = EO_ExplosionInstance(e);
    inst->bodyId = 70;
    inst->size = 4000000;
    for (const Step& s : std::vector<Step>{{1000, 80000000}, {4000, 40000000}, {3000, 10000000}, {2000, 0}}) {
        Frame(s.ms);
        ASSERT_EQ(B3D_ListCount(&inst->children), 2);
        for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) EXPECT_EQ(c->size, s.size) << s.ms;
    }
    EO_FreeExplosions();  // before the body goes
}

TEST_F(SceneExplosions, ALoopingExplosionRestartsItsFinishedJobs) {
    SetClock(1000);
    ExplosionObject* e = WithChildren(EXPLSTATE_LOOP);
    Inst3D* inst = EO_ExplosionInstance(e);
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c))
        c->jobFlags = (c->jobFlags & ~JOB_RUNNING) | JOB_STOPPED | JOB_BACKWARD;
    Frame(700);
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) {
        EXPECT_TRUE(c->jobFlags & JOB_RUNNING);
        EXPECT_FALSE(c->jobFlags & (JOB_STOPPED | JOB_BACKWARD));
    }
    EXPECT_EQ(Count(), 1);
}

TEST_F(Explosions, ACarrierIsKilledAfterItsLastMatchingEntryEnds) {
    ASSERT_EQ(Effects("5 EDF_NONE 0 1.0\n  EEDF_TIMEOUT 0 NULL 1 1 100 0 0 0 0 0 0 0 0\n"
                      "6 EDF_NONE 0 1.0\n  EEDF_TIMEOUT 0 NULL 1 1 300 0 0 0 0 0 0 0 0\n"),
              1);
    SectorObject* carrier = Place(EO_CARRIER_MAIN_TYPE, 1);
    SetClock(1000);
    ASSERT_NE(EO_AddObjectEffect(1, 1, 5, carrier, nullptr, 0, 0, nullptr, 0, nullptr), nullptr);
    ASSERT_NE(EO_AddObjectEffect(1, 2, 5, carrier, nullptr, 0, 0, nullptr, 200, nullptr), nullptr);
    Frame(150);  // the first has ended, the second not
    EXPECT_FALSE(carrier->flags & SA_FLAG_KILLED);
    Frame(200);
    EXPECT_TRUE(carrier->flags & SA_FLAG_KILLED);
    EXPECT_EQ(EO_FirstEffect(), nullptr);
}

TEST_F(Explosions, AKillPlaysItsDestructionEffectOnACarrierThatGoesWithIt) {
    ASSERT_EQ(Effects("48 EDF_NONE 0 1.0\n  EEDF_GROW|EEDF_TIMEOUT|EEDF_RELATIVESIZE 0 NULL 0.5 2 500 0 0 0 0 0 0 0 0\n"
                      "  EEDF_FADEOUTBODY|EEDF_TIMEOUT 0 NULL 0 0 400 0 0 0 0 0 0 0 100\n"),
              1);
    SectorObject* ship = Place(SA_MT_SHIP, 0, 4 * kOne, {100, 200, 300, 0});
    SetClock(5000);
    ASSERT_EQ(EO_ObjectDestroyedEffect(ship, nullptr, 0), 1);
    ObjectEffect* e = EO_FirstEffect();
    ASSERT_NE(e, nullptr);
    SectorObject* carrier = e->object;
    ASSERT_EQ(carrier->mainType, EO_CARRIER_MAIN_TYPE);
    EXPECT_EQ(e->kind, EO_KIND_DESTRUCTION);
    EXPECT_EQ(e->slot, static_cast<int32_t>(carrier->id));
    EXPECT_EQ(carrier->container, sector_);
    EXPECT_EQ(carrier->instance->pos.z, 300);
    ship->flags |= SA_FLAG_KILLED;
    O_UnlinkObject(ship, 0);
    const uint32_t carrierId = carrier->id;
    for (int frame = 0; frame < 30 && Qel_TableGet(root_.ids, carrierId); ++frame) {
        SA_UpdateSpace();
        SA_DeleteKilledObjects();
        Frame(50);
    }
    EXPECT_EQ(Qel_TableGet(root_.ids, carrierId), 0u);
    EXPECT_EQ(EO_FirstEffect(), nullptr);
}

// "CreateWreck" and "CreateDebris" call the test module, whose handler the test sets.
const char* const kStory = R"(
    end
.object 30
.func "CreateWreck" need 8
    pushw 1
    c1
    sys "T_Now"
    ret
.func "CreateDebris" need 8
    pushw 2
    c1
    sys "T_Now"
    ret
)";

class StoryEffects : public SceneExplosions {
protected:
    void SetUp() override {
        SceneExplosions::SetUp();
        runner_ = std::make_unique<StoryRunner>();
        ASSERT_TRUE(runner_->Load(kStory));
        root_.moduleNumber = runner_->module();
    }
    void TearDown() override {
        EO_FreeEffects();
        runner_.reset();
        SceneExplosions::TearDown();
    }
    std::vector<std::string> Events() const {
        std::vector<std::string> out;
        for (const RunCall& c : runner_->calls) out.push_back(c.args.at(0));
        return out;
    }
    std::unique_ptr<StoryRunner> runner_;
};

TEST_F(StoryEffects, FinishedCutPartsRaiseTheWreckAndDebrisEventsAndKeepTheirKeys) {
    ASSERT_EQ(Effects("5 EDF_NONE 0 1.0\n  EEDF_CUT|EEDF_WRECK|EEDF_DEBRIS 0 40 2 2 0 0 0 0 0 0 0 0 0\n"), 1);
    SectorObject* ship = Place(SA_MT_SHIP);
    SectorObject* push = Place(SA_MT_SHIP);
    SetClock(1000);
    ObjectEffect* e = EO_AddObjectEffect(1, 1, 5, ship, push, 30, 0, nullptr, 0, nullptr);
    ASSERT_NE(e, nullptr);
    Inst3D* inst = EO_SlotInstance(&e->slots[0]);
    ASSERT_NE(inst, nullptr);
    EXPECT_EQ(B3D_ListCount(&inst->children), 2);
    EXPECT_EQ(inst->scale.x, Qel_FixDiv(kOne, 1000));  // key units to size: the cut stays as loaded
    EXPECT_TRUE(runner_->calls.empty());
    // The jobs end: the part ends with its events, and the cut's keys are untouched.
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) c->jobFlags |= JOB_STOPPED;
    SetClock(1100);
    EO_RunObjectEffect(e);
    EXPECT_EQ(Events(), (std::vector<std::string>{"2", "1"}));
    EXPECT_EQ(e->slots[0].state, EO_SLOT_REMOVED);
    EXPECT_EQ(EO_SlotInstance(&e->slots[0]), nullptr);
    EXPECT_EQ(ship->flags & SA_FLAG_NO_AREA_DAMAGE, SA_FLAG_NO_AREA_DAMAGE);
    EXPECT_EQ(push->flags & SA_FLAG_NO_AREA_DAMAGE, SA_FLAG_NO_AREA_DAMAGE);
    EXPECT_EQ(cut_->path(0).posKeys[1].value[0], 300);
    EXPECT_EQ(cut_->path(1).posKeys[1].value[0], 600);
    // A second play of the same cut scales the same way.
    ObjectEffect* again = EO_AddObjectEffect(1, 2, 5, ship, nullptr, 0, 0, nullptr, 0, nullptr);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(cut_->path(1).posKeys[1].value[0], 600);
}

TEST_F(StoryEffects, AStoryThatFreesObjectsDuringThePassLeavesTheWalkWhole) {
    ASSERT_EQ(Effects("5 EDF_NONE 0 1.0\n  EEDF_CUT|EEDF_WRECK 0 40 2 2 0 0 0 0 0 0 0 0 0\n"
                      "6 EDF_NONE 0 1.0\n  EEDF_NONE 0 NULL 1 1 0 0 0 0 0 0 0 0 0\n"),
              1);
    SectorObject* ship = Place(SA_MT_SHIP);
    SectorObject* next = Place(SA_MT_SHIP);
    SectorObject* other = Place(SA_MT_SHIP);
    SetClock(1000);
    ObjectEffect* e = EO_AddObjectEffect(1, 1, 5, ship, nullptr, 30, 0, nullptr, 0, nullptr);
    ASSERT_NE(e, nullptr);
    ASSERT_NE(EO_AddObjectEffect(1, 1, 6, next, nullptr, 0, 0, nullptr, 0, nullptr), nullptr);
    ASSERT_NE(EO_AddObjectEffect(1, 1, 6, other, nullptr, 0, 0, nullptr, 0, nullptr), nullptr);
    // The story frees the entry's own object and the one whose entry comes next.
    runner_->handler = [&](SE_Task* task, int32_t, int32_t, ScriptValue*) {
        for (SectorObject* o : {ship, next}) {
            o->flags |= SA_FLAG_KILLED;
            O_UnlinkObject(o, 0);
            O_DeleteSectorObject(o);
        }
        SE_TaskReturnIntEx(task, g_SEContext, 0);
        return 1;
    };
    Inst3D* inst = EO_SlotInstance(&e->slots[0]);
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) c->jobFlags |= JOB_STOPPED;
    Frame(100);
    ASSERT_EQ(runner_->calls.size(), 1u);
    ASSERT_NE(EO_FirstEffect(), nullptr);
    EXPECT_EQ(EO_FirstEffect()->object, other);
    EXPECT_EQ(EO_FirstEffect()->next, nullptr);
}

}  // namespace
