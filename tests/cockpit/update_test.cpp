// The per-frame update of the cockpits: shake, zoom and field of view, the
// view connect modes, the view angles following their targets, cockpits
// without a ref object, and the story's HUD answer.
#include "cockpit/update.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/random.h"
#include "cockpit/cockpit_fixture.h"
#include "cockpit/scenes.h"
#include "cockpit/syscall.h"
#include "cockpit/tracking.h"
#include "scene/allocs.h"
#include "space/behaviour.h"
#include "space/flight.h"
#include "support/script_run.h"

namespace {

std::vector<int32_t> g_played;
std::vector<int32_t> g_hudInfo;

class CockpitFrames : public CockpitTest {
protected:
    void SetUp() override {
        CockpitTest::SetUp();
        savedSound_ = g_SAPlaySound;
        savedHud_ = g_INSHud;
        g_SAPlaySound = [](int32_t, int32_t, int32_t id, int32_t) {
            g_played.push_back(id);
            return 1;
        };
        g_INSHud.markers = [](Cockpit*, int32_t info) { g_hudInfo.push_back(info); };
        g_played.clear();
        g_hudInfo.clear();
        SetClock(100000);
        sector_ = New(SA_MT_SECTOR);
        ship_ = Ship();
        Into(sector_, ship_);
        c_ = AddCockpit();
        c_->refObject = c_->cockpitRefObject = ship_;
        c_->sectorSpace = sector_;
        c_->viewMode = 1;
        camera_ = B3D_CameraAlloc();
        c_->sectorCamera = camera_->inst.id;
    }
    void TearDown() override {
        g_SAPlaySound = savedSound_;
        g_INSHud = savedHud_;
        B3D_CameraFree(IC_FindCamera(c_ ? c_->sectorCamera : 0));
        CockpitTest::TearDown();
    }
    // One frame of ms: the clock moves on, then the cockpits are updated.
    void Frame(int32_t ms) {
        system_->gameFrameDelta = ms;
        SetClock(system_->gameClock + ms);
        INS_UpdateAllCockpits();
    }
    // The shake angles the cockpit camera shows (its view and sway at rest).
    void ShakeAngles(int32_t* first, int32_t* second) const {
        int32_t a = 0;
        Qel_AnglesFromMat(&IC_Camera(c_)->inst.matrix, &a, first, second);
        EXPECT_EQ(a, 0);
        *first = static_cast<int16_t>(*first);
        *second = static_cast<int16_t>(*second);
    }
    // The two angles the shake draws next from the generator at a level.
    static void Drawn(uint32_t seed, int32_t level, int32_t* first, int32_t* second) {
        Qel_SeedRandom(seed);
        *first = (Qel_LongRandom(64) - 32) * level * 16 / 100;
        *second = (Qel_LongRandom(64) - 32) * level * 16 / 100;
        Qel_SeedRandom(seed);
    }

    SectorObject* sector_ = nullptr;
    SectorObject* ship_ = nullptr;
    Cockpit* c_ = nullptr;
    Camera3D* camera_ = nullptr;

private:
    SA_PlaySoundFn savedSound_ = nullptr;
    INSHudLink savedHud_{};
};

TEST_F(CockpitFrames, ShakesAddUpToAtMostOneHundred) {
    const struct {
        int32_t hitLeft, hitLevel, cockpitLeft, cockpitLevel;
        int32_t level;
        int32_t fraction;  // of the drawn angles, in halves
    } cases[] = {
        {1500, 70, 1500, 60, 100, 2},  // 60 with 70 gives 100
        {500, 40, 0, 0, 40, 1},        // 500 ms left: half
        {1500, 40, 0, 0, 40, 2},       // 1500 ms left: whole
    };
    for (const auto& k : cases) {
        c_->hitShakeEnd = system_->gameClock + k.hitLeft;
        c_->hitShakeLevel = k.hitLevel;
        c_->cockpitShakeEnd = system_->gameClock + k.cockpitLeft;
        c_->cockpitShakeLevel = k.cockpitLevel;
        int32_t a = 0, b = 0;
        Drawn(7, k.level, &a, &b);
        system_->gameFrameDelta = 0;
        INS_UpdateAllCockpits();
        int32_t first = 0, second = 0;
        ShakeAngles(&first, &second);
        EXPECT_NEAR(first, a * k.fraction / 2, 1) << k.hitLevel;
        EXPECT_NEAR(second, b * k.fraction / 2, 1) << k.hitLevel;
    }
    // A view mode other than 1 is not shaken by hits.
    c_->viewMode = 2;
    c_->hitShakeEnd = system_->gameClock + 1500;
    c_->cockpitShakeEnd = system_->gameClock;
    INS_UpdateAllCockpits();
    int32_t first = 1, second = 1;
    ShakeAngles(&first, &second);
    EXPECT_EQ(first | second, 0);
}

TEST_F(CockpitFrames, ZoomInHoldAndOutWithOneSoundEach) {
    for (int i = 0; i < 10; ++i) {
        c_->zoomFlags |= 1;  // the story asks every frame
        Frame(100);
    }
    c_->zoomFlags |= 1;
    Frame(100);
    EXPECT_EQ(c_->zoom, 2 * QEL_FIX_ONE);
    EXPECT_EQ(c_->fieldOfView, 8192);
    EXPECT_EQ(g_played, std::vector<int32_t>{INS_ZOOM_SOUND});
    Frame(100);  // the story stops: the zoom-out starts
    for (int t = 100; t <= 2000; t += 100) {
        Frame(100);
        EXPECT_EQ(c_->zoom, 2 * QEL_FIX_ONE) << t;
    }
    EXPECT_EQ(g_played.size(), 1u);
    Frame(500);
    EXPECT_GT(c_->zoom, QEL_FIX_ONE);
    EXPECT_LT(c_->zoom, 2 * QEL_FIX_ONE);
    Frame(400);
    EXPECT_EQ(g_played, (std::vector<int32_t>{INS_ZOOM_SOUND, INS_ZOOM_SOUND}));
    Frame(200);
    EXPECT_EQ(c_->zoom, QEL_FIX_ONE);
    EXPECT_EQ(c_->fieldOfView, INS_FIELD_OF_VIEW);
    EXPECT_EQ(g_played.size(), 2u);
}

TEST_F(CockpitFrames, TheFieldOfViewStaysAtLeast262) {
    c_->zoom = 100 * QEL_FIX_ONE;
    c_->zoomTarget = 100 * QEL_FIX_ONE;
    c_->zoomFlags = 1 | 2;
    Frame(1000);
    EXPECT_EQ(c_->fieldOfView, INS_MIN_FIELD_OF_VIEW);
    EXPECT_EQ(camera_->focus, INS_MIN_FIELD_OF_VIEW);
    EXPECT_EQ(IC_Camera(c_)->focus, INS_MIN_FIELD_OF_VIEW);
}

TEST_F(CockpitFrames, ViewConnectModes) {
    SectorObject* target = Ship(0, 0, 100000);
    Into(sector_, target);
    c_->trackedObject = target;
    c_->viewLock = 1;
    const struct {
        int32_t mode, kept;
    } cases[] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 0}, {8, 8}, {9, 9}, {10, 0}, {-1, 0}};
    for (const auto& k : cases) {
        INS_StartViewConnect(c_, k.mode);
        Frame(20);
        EXPECT_EQ(c_->viewConnectMode, k.kept) << k.mode;
    }
    // Mode 1 looks at the tracked object; one behind the view gives 0.
    target->instance->pos = QelVector{100000, 0, 100000, 0};
    INS_StartViewConnect(c_, 1);
    Frame(20);
    const QelVector side{QEL_FIX_ONE, 0, QEL_FIX_ONE, 0};
    int32_t heading = 0, pitch = 0;
    Qel_AnglesFromVector(&side, &heading, &pitch);
    EXPECT_EQ(std::abs(static_cast<int16_t>(heading)), 8192);  // an eighth of a turn to the side
    EXPECT_EQ(c_->viewAngles[0], static_cast<int16_t>(heading));
    target->instance->pos = QelVector{0, 0, -100000, 0};
    Frame(20);
    EXPECT_EQ(c_->viewAngles[0], 0);

    // Timed shots repeat: mode 4 when its loop time is reached, 5 past it.
    const struct {
        int32_t mode, after;
        bool again;
    } timed[] = {{4, 14999, false}, {4, 15000, true}, {5, 15000, false}, {5, 15001, true}};
    for (const auto& k : timed) {
        INS_StartViewConnect(c_, k.mode);
        const int32_t start = c_->viewStart;
        system_->gameFrameDelta = 0;
        SetClock(system_->gameClock + k.after);
        INS_UpdateAllCockpits();
        EXPECT_EQ(c_->viewStart != start, k.again) << k.mode << " " << k.after;
        EXPECT_EQ(c_->viewConnectMode, k.mode);
    }
}

TEST_F(CockpitFrames, ViewAnglesFollowTheirTargetsAndReturnToZero) {
    c_->targetViewAngles[0] = 8000;
    c_->noDecay = 1;
    c_->viewTurnRate = 20000;
    int32_t last = 0;
    for (int i = 0; i < 20; ++i) {
        int32_t speed = c_->viewAngleSpeeds[0];
        const int32_t step =
            O_SteerToTarget(c_->targetViewAngles[0] - c_->viewAngles[0], speed, 20000, 20000, 100, &speed);
        Frame(100);
        EXPECT_EQ(c_->viewAngles[0], std::min(last + step, 8000));
        EXPECT_LE(c_->viewAngles[0], 8000);
        last = c_->viewAngles[0];
    }
    EXPECT_EQ(c_->viewAngles[0], 8000);
    EXPECT_EQ(c_->viewAngleSpeeds[0], 0);
    // Without no-decay the target goes back a whole turn in 3000 ms.
    c_->noDecay = 0;
    c_->targetViewAngles[0] = 30000;
    c_->targetViewAngles[1] = -1000;
    Frame(300);
    EXPECT_EQ(c_->targetViewAngles[0], 30000 - 6553);
    EXPECT_EQ(c_->targetViewAngles[1], 0);
}

TEST_F(CockpitFrames, ACockpitWithoutARefObjectKeepsItsSectorCamera) {
    c_->refObject = nullptr;
    camera_->inst.pos = QelVector{5, 6, 7, 0};
    c_->cockpitShakeEnd = system_->gameClock + 2000;
    c_->cockpitShakeLevel = 100;
    Qel_SeedRandom(3);
    Frame(10);
    EXPECT_EQ(camera_->inst.pos.x, 5);
    EXPECT_EQ(camera_->inst.pos.z, 7);
    int32_t first = 0, second = 0;
    ShakeAngles(&first, &second);
    EXPECT_NE(first | second, 0);     // the cockpit camera shakes all the same
    EXPECT_EQ(g_hudInfo.size(), 1u);  // and the HUD step ran
    // With the ref object back the sector camera follows the ship.
    c_->refObject = ship_;
    ship_->instance->pos = QelVector{1000, 2000, 3000, 0};
    Frame(10);
    EXPECT_EQ(camera_->inst.pos.x, 1000);
    EXPECT_EQ(camera_->inst.pos.z, 3000);
}

// Object 2100 answers "GetHUDInfo" with its argument plus one, or waits.
constexpr const char* kHudStory = R"(
    end
.var "Wait" int 0
.object 2100
.func "GetHUDInfo" need 8
    getg 0
    jf answer
    pushw 0
    sys "T_Later"
    ret
answer:
    getl 4
    c1
    add
    ret
)";

TEST_F(CockpitFrames, AStaleAnswerIsNeverTakenForTheHud) {
    StoryRunner runner;
    SE_Context* saved = g_SEContext;
    g_SEContext = runner.ctx();
    INS_RegisterSysCalls();

    // No story function at all: 0, not the answer left in the slot.
    SV_AssignInt(&g_CockpitSystem->answer, 77);
    g_CockpitSystem->answered = 1;
    ASSERT_TRUE(runner.Load(kNopStory));
    Frame(10);
    ASSERT_TRUE(runner.Load(kHudStory));
    Frame(10);
    ScriptValue& wait = runner.ctx()->objects[0].variables[0];
    SV_AssignInt(&wait, 1);
    Frame(10);  // the function waits: no answer
    EXPECT_EQ(g_hudInfo, (std::vector<int32_t>{0, INS_FIELD_OF_VIEW + 1, 0}));
    g_SEContext = saved;
}

// "Track" and "EnemyTrack" start tracking on the cockpit in global 0; object
// 2100 keeps the object it hears locked in global 1 and the ship whose target
// is lost in global 2.
constexpr const char* kTrackingStory = R"(
    end
.var "Cockpit" int 0
.var "Locked" int 0
.var "Lost" int 0
.func "Track" need 8
    getg 0
    pushw 1
    sys "INS_CockpitDoTracking"
    ret
.func "EnemyTrack" need 8
    getg 0
    pushw 1
    sys "INS_CockpitDoEnemyTracking"
    ret
.object 2100
.func "NotifyTargetLock" need 8
    getl 4
    setg 1
    pop
    c0
    ret
.func "NotifyTargetLost" need 8
    getl 4
    setg 2
    pop
    c0
    ret
)";

// The HUD step's searches: tracking takes the enemy ahead and locks on it
// after a second; once it is gone, enemy tracking takes the nearest enemy,
// wherever it lies, and keeps it.
TEST_F(CockpitFrames, TrackingFindsItsTargetAndLocksOnIt) {
    ASSERT_TRUE(LoadStory(kTrackingStory));
    ScriptValue* globals = story_->ctx()->objects[0].variables;
    SV_AssignInt(&globals[0], static_cast<int32_t>(c_->id));
    ship_->group = 3;
    O_RelationWords(ship_)->foeMask = 1u << 5;
    const auto enemy = [&](int32_t z) {
        SectorObject* o = Ship(0, 0, z);
        o->group = 5;
        Into(sector_, o);
        return o;
    };
    SectorObject* behind = enemy(-50000);
    SectorObject* ahead = enemy(100000);

    story_->Start(0, "Track");
    EXPECT_EQ(c_->trackingMode, INS_TRACK_SEARCH);
    Frame(16);
    EXPECT_EQ(c_->trackedObject, ahead);
    for (int32_t t = 16; t < 1000; t += 100) {
        EXPECT_EQ(c_->trackingMode, INS_TRACK_SEARCH) << t;
        Frame(100);
    }
    Frame(100);
    EXPECT_EQ(c_->trackingMode, INS_TRACK_LOCKED);
    EXPECT_EQ(c_->trackedObject, ahead);
    EXPECT_EQ(globals[1].i, static_cast<int32_t>(ahead->id));

    ahead->flags |= SA_FLAG_KILLED;
    Frame(16);
    EXPECT_EQ(globals[2].i, static_cast<int32_t>(ship_->id));
    EXPECT_EQ(c_->trackingMode, INS_TRACK_SEARCH);
    Frame(16);  // nothing alive lies ahead
    EXPECT_EQ(c_->trackedObject, nullptr);

    story_->Start(0, "EnemyTrack");
    for (int i = 0; i < 20; ++i) Frame(100);
    EXPECT_EQ(c_->trackingMode, INS_TRACK_ENEMIES);
    EXPECT_EQ(c_->trackedObject, behind);
}

// Angles a save may hold and places at the ends of the words: the view
// follows its target and the search looks ahead without wrapping round.
TEST_F(CockpitFrames, ExtremeAnglesAndPlacesStayInsideTheirWords) {
    struct Case {
        int32_t target, view;  // the view angles alpha
        int32_t shipX, enemyX;
    };
    const Case cases[] = {
        {INT32_MIN, 100, 0, 0},
        {INT32_MAX, INT32_MIN, 0, 0},
        {0, 0, 2000000000, -2000000000},
        {0, 0, INT32_MIN, INT32_MAX},
    };
    ship_->group = 3;
    O_RelationWords(ship_)->foeMask = 1u << 5;
    SectorObject* enemy = Ship();
    enemy->group = 5;
    Into(sector_, enemy);
    c_->viewTurnRate = 20000;
    c_->noDecay = 1;
    for (const Case& k : cases) {
        c_->targetViewAngles[0] = k.target;
        c_->viewAngles[0] = k.view;
        c_->viewAngleSpeeds[0] = 0;
        ship_->instance->pos.x = k.shipX;
        enemy->instance->pos.x = k.enemyX;
        INS_SetTracking(c_, INS_TRACK_SEARCH, nullptr);
        Frame(100);
        // Toward the target, not past it.
        const int64_t before = int64_t{k.target} - k.view, after = int64_t{k.target} - c_->viewAngles[0];
        EXPECT_LE(std::llabs(after), std::llabs(before)) << k.target << " " << k.view;
        EXPECT_TRUE(after == 0 || (after < 0) == (before < 0)) << k.target << " " << k.view;
        // Four billion units away on one side lies nothing ahead.
        if (k.shipX != k.enemyX) {
            EXPECT_EQ(c_->trackedObject, nullptr) << k.shipX;
        }
    }
}

// Object 2100 frees the cockpit it is asked for while its HUD is updated.
constexpr const char* kFreeingStory = R"(
    end
.var "Cockpit" int 0
.object 2100
.func "GetHUDInfo" need 8
    getg 0
    pushw 1
    sys "INS_CockpitFree"
    ret
)";

TEST_F(CockpitFrames, AStoryMayFreeTheCockpitItIsAskedFor) {
    StoryRunner runner;
    SE_Context* saved = g_SEContext;
    g_SEContext = runner.ctx();
    INS_RegisterSysCalls();
    ASSERT_TRUE(runner.Load(kFreeingStory));
    SV_AssignInt(&runner.ctx()->objects[0].variables[0], static_cast<int32_t>(c_->id));
    const uint32_t id = c_->id;
    const uint32_t sectorCamera = c_->sectorCamera;
    Frame(10);
    EXPECT_EQ(INS_TableGet(g_CockpitSystem, id), nullptr);
    EXPECT_TRUE(g_hudInfo.empty());
    c_ = nullptr;
    B3D_CameraFree(IC_FindCamera(sectorCamera));
    g_SEContext = saved;
}

}  // namespace
