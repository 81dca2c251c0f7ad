// Particle spawn and update with a seeded random source, on a game clock just
// below its wrap: how many particles a step owes, where and when they start,
// trails, the exhausted pool, and ageing, turning and fading.
#include <gtest/gtest.h>

#include <vector>

#include "base/random.h"
#include "scene/allocs.h"
#include "scene/particles.h"
#include "scene/smallops.h"
#include "scene_fixture.h"
#include "support/logcapture.h"

namespace {

constexpr int32_t kNearWrap = 32399950;  // 50 ms before the clock wraps to 0

class ParticleTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        Qel_SeedRandom(12345);
        scene = B3D_SceneAlloc();
        ASSERT_NE(scene, nullptr);
        camera = B3D_CameraAlloc();
        ASSERT_NE(camera, nullptr);
        camera->camFlags |= CAM_ACTIVE;
        B3D_ListRemove(B3D_Node(&camera->inst));
        B3D_ListAppend(&scene->cameras, B3D_Node(&camera->inst));
        camera->inst.scene = scene;
        emitter.sizeLow = emitter.sizeHigh = 10;
        emitter.intervalFactor = 65536;
        emitter.lifetime = 1000;
        emitter.flags = 1;
        g_B3DState->particleDescs[0] = {0, 1, &emitter, 0};
        generator.desc = 0;
        generator.scene = scene;
        generator.emitters = &state;
        generator.prevTime = kNearWrap;
        generator.prevOrientation = {65536, 0, 0, 0};
        state.emitter = &emitter;
        state.lastSpawn = kNearWrap;
    }
    void TearDown() override {
        g_B3DState->particleDescs[0] = {};
        SceneTest::TearDown();
    }
    // One step of the generator from the origin to x = 1000 over 100 ms at a
    // steady 10000 units per second, ending 50 ms past the wrap.
    int32_t Step(int32_t speed = 1000, int32_t extra = 0) {
        const QelVector to{1000, 0, 0, 0}, velocity{10000, 0, 0, 0};
        generator.prevVelocity = velocity;
        const QelQuat q{65536, 0, 0, 0};
        return B3D_ParticleSpawn(&generator, &to, &q, &velocity, speed, extra, 50);
    }
    std::vector<B3DParticle*> Live() {
        std::vector<B3DParticle*> out;
        for (B3DParticle* p = B3D_First<B3DParticle>(&g_B3DState->particleLive); p; p = B3D_Next(p)) out.push_back(p);
        return out;
    }

    Scene3D* scene = nullptr;
    Camera3D* camera = nullptr;
    B3DParticleEmitter emitter{};
    B3DEmitterState state{};
    ParticleGenerator generator{};
};

TEST_F(ParticleTest, AStepLaysItsParticlesAlongThePathAcrossTheWrap) {
    // S = 1000, size 10: one particle every 10 ms; 100 ms owe nine.
    EXPECT_EQ(Step(), 9);
    const std::vector<B3DParticle*> live = Live();
    ASSERT_EQ(live.size(), 9u);
    for (size_t i = 0; i < live.size(); ++i) {
        SCOPED_TRACE(i);
        const B3DParticle* p = live[i];
        const int32_t t = (kNearWrap + 10 * static_cast<int32_t>(i + 1)) % 32400000;
        EXPECT_EQ(p->time, t);
        EXPECT_EQ(p->endTime, (t + 1000) % 32400000);
        EXPECT_EQ(p->state, PARTICLE_TAKEN);
        EXPECT_EQ(p->kind, 1u);
        EXPECT_EQ(p->size, 10);
        EXPECT_EQ(p->scene, scene);
        EXPECT_LT(p->angle, 65536u);
        EXPECT_NEAR(p->pos.x, 100 * static_cast<int32_t>(i + 1), 2);
        EXPECT_EQ(p->matrix.m[0], 65536);  // camera-facing: the identity
        EXPECT_EQ(p->fadeDuration, 1000);  // 0 means the lifetime
    }
    EXPECT_EQ(live[4]->time, 0);
    EXPECT_EQ(state.lastSpawn, 40);
    EXPECT_EQ(generator.prevTime, 50);
    EXPECT_EQ(generator.prevPos.x, 1000);
}

TEST_F(ParticleTest, TheIntervalFollowsSpeedSizeAndFactor) {
    struct Case {
        const char* what;
        int32_t speed, size, factor;
        int32_t made;
    } cases[] = {
        {"speed 1000, size 10", 1000, 10, 65536, 9},
        {"factor 2 doubles the interval", 1000, 10, 131072, 4},
        // Without speed T0 is size x 1000 / 65536 rounded: 655 gives 10 ms.
        {"no speed, size 655", 0, 655, 65536, 9},
        // An interval of 0 or below emits nothing (it would never end).
        {"no speed, size 10: interval 0", 0, 10, 65536, 0},
        {"a negative factor", 1000, 10, -65536, 0},
        {"a negative size", 1000, -10, 65536, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        emitter.sizeLow = emitter.sizeHigh = c.size;
        emitter.intervalFactor = c.factor;
        EXPECT_EQ(Step(c.speed), c.made);
    }
}

TEST_F(ParticleTest, IntensityHalfWaySelectsTheMidpoint) {
    emitter.sizeLow = 10;
    emitter.sizeHigh = 30;
    generator.intensity = 32768;
    ASSERT_GT(Step(), 0);
    EXPECT_EQ(Live().front()->size, 20);
}

TEST_F(ParticleTest, NoActiveCameraInRangeEmitsNothing) {
    camera->inst.pos = {1000 + 10 * 1024, 0, 0, 0};  // 10 x 1024 away: not below the size
    EXPECT_EQ(Step(), 0);
    EXPECT_EQ(state.lastSpawn, kNearWrap);
    camera->inst.pos = {0, 0, 0, 0};
    camera->camFlags &= ~CAM_ACTIVE;
    EXPECT_EQ(Step(), 0);
    EXPECT_TRUE(Live().empty());
}

TEST_F(ParticleTest, AnEmitterBackInRangeStartsAtThePreviousStep) {
    state.lastSpawn = kNearWrap - 100000;
    EXPECT_EQ(Step(), 10);
    EXPECT_EQ(Live().front()->time, kNearWrap);
}

TEST_F(ParticleTest, TrailParticlesStreakBackToTheirPredecessor) {
    emitter.flags = 3;
    ASSERT_EQ(Step(), 9);
    const std::vector<B3DParticle*> live = Live();
    EXPECT_EQ(live[0]->pos2.x, live[0]->pos.x);  // the first streak has zero length
    for (size_t i = 1; i < live.size(); ++i) {
        EXPECT_EQ(live[i]->pos2.x, live[i - 1]->pos.x) << i;
        EXPECT_EQ(live[i]->velocity.x, 0);
        EXPECT_EQ(live[i]->angle, 0u);
    }
    EXPECT_EQ(state.trailPos.x, live.back()->pos.x);
}

TEST_F(ParticleTest, AnExhaustedPoolReusesTheOldestAndStopsAtThisStepsOwn) {
    // Every record live and updated: the oldest are taken over.
    while (B3DParticle* p = B3D_First<B3DParticle>(&g_B3DState->particleFree)) {
        B3D_ListRemove(B3D_Node(p));
        B3D_ListAppend(&g_B3DState->particleLive, B3D_Node(p));
        p->state = PARTICLE_UPDATED;
    }
    B3DParticle* oldest = Live().front();
    EXPECT_EQ(Step(), 9);
    EXPECT_EQ(oldest->state, PARTICLE_TAKEN_OVER);
    // Every record taken in this step: the emitter stops and owes nothing.
    for (B3DParticle* p : Live()) p->state = PARTICLE_TAKEN;
    generator.prevTime = state.lastSpawn = 50;
    const QelVector to{1000, 0, 0, 0}, velocity{0, 0, 0, 0};
    const QelQuat q{65536, 0, 0, 0};
    EXPECT_EQ(B3D_ParticleSpawn(&generator, &to, &q, &velocity, 1000, 0, 150), 0);
    EXPECT_EQ(state.lastSpawn, 150);
}

TEST_F(ParticleTest, UpdateMovesTurnsFadesAndFrees) {
    LogCapture log;
    struct Case {
        const char* what;
        uint32_t kind;
        int32_t time, end, fade, rotSpeed, rotRandom;
        int32_t now;
        bool freed;
        int32_t alpha;
        uint32_t angle;
    } cases[] = {
        {"ends now", 1, 0, 500, 0, 0, 0, 500, true, 0, 0},
        {"ended before", 1, 0, 500, 0, 0, 0, 600, false /*set below*/, 0, 0},
        {"no fade: 128", 1, 0, 5000, 0, 0, 0, 200, false, 128, 0},
        {"before the fade: 255", 1, 0, 5000, 1000, 0, 0, 200, false, 255, 0},
        {"half through the fade", 1, 0, 5000, 1000, 0, 0, 4500, false, 128, 0},
        {"last millisecond", 1, 0, 5000, 1000, 0, 0, 4999, false, 2, 0},
        {"one turn a second, across the wrap", 1, 32399900, 1000, 0, 65536, 0, 150, false, 128, 16384},
        {"a trail does not turn", 3, 32399900, 1000, 0, 65536, 0, 150, false, 128, 0},
        // The random number counts 0: (0 - (-5)) x 250 / 1000.
        {"a negative random bound", 1, 0, 5000, 0, 0, -5, 250, false, 128, 1},
    };
    cases[1].freed = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        B3DParticle* p = B3D_ParticleGet();
        ASSERT_NE(p, nullptr);
        p->kind = c.kind;
        p->time = c.time;
        p->endTime = c.end;
        p->fadeDuration = c.fade;
        p->rotSpeed = c.rotSpeed;
        p->rotSpeedRandom = c.rotRandom;
        p->angle = 0;
        p->pos = {0, 0, 0, 0};
        p->pos2 = {5, 0, 0, 0};
        p->velocity = {1000, -2000, 0, 0};
        SetClock(c.now);
        EXPECT_EQ(B3D_ParticlesUpdate(), 1);
        if (c.freed) {
            EXPECT_EQ(p->state, PARTICLE_FREE);
            EXPECT_TRUE(Live().empty());
            continue;
        }
        const int32_t dt = (c.now - c.time + 32400000) % 32400000;
        EXPECT_EQ(p->state, PARTICLE_UPDATED);
        EXPECT_EQ(p->time, c.now);
        EXPECT_EQ(p->alpha, c.alpha);
        EXPECT_EQ(p->angle, c.angle);
        EXPECT_EQ(p->pos.x, dt);
        EXPECT_EQ(p->pos.y, -2 * dt);
        EXPECT_EQ(p->pos2.x, (c.kind & 2) ? 5 + dt : 5);
        B3D_ListRemove(B3D_Node(p));
        B3D_ListAppend(&g_B3DState->particleFree, B3D_Node(p));
    }
    EXPECT_TRUE(log.Contains("Qel_LongRandom: Wrong argument -10\n")) << log.Text();
}

}  // namespace
