#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "base/angles.h"
#include "base/rotation.h"
#include "scene/allocs.h"
#include "scene/cutkeys.h"
#include "scene/geometry.h"
#include "scene/jobs.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene_fixture.h"
#include "support/logcapture.h"

namespace {

constexpr int32_t ONE = QEL_FIX_ONE;
constexpr int32_t kModule = 3;
constexpr int32_t kClock = 100000;

class PathJobs : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        replies_ = std::make_unique<ReplyModule>(kModule);
        SetClock(kClock);
        inst_ = B3D_AllocInst();
    }
    void TearDown() override {
        replies_.reset();
        SceneTest::TearDown();
    }
    // Path 0 of a cut: position keys at the given times, x = time.
    TestCut& Cut(std::vector<int32_t> times) {
        cut_ = std::make_unique<TestCut>(7, 2);
        cut_->Keys(0, times);
        return *cut_;
    }
    // Where the job is after a step at path time t.
    int32_t XAt(int32_t t) {
        J3D_JobStep(inst_, cut_->cut(), t);
        return inst_->pos.x;
    }

    std::unique_ptr<ReplyModule> replies_;
    std::unique_ptr<TestCut> cut_;
    Inst3D* inst_ = nullptr;
};

TEST_F(PathJobs, ABackwardJobShowsThePathFromItsEnd) {
    Cut({0, 5000, 10000});
    EXPECT_EQ(J3D_JobStartInst(inst_, 5000, 0, cut_->cut(), 1000, 0), 1);
    EXPECT_TRUE(inst_->jobFlags & JOB_BACKWARD);
    EXPECT_EQ(inst_->jobFrom, 1000);
    EXPECT_EQ(inst_->jobTo, 5000);
    EXPECT_EQ(inst_->pos.x, 5000);  // path time 1000 shows 5000
    EXPECT_EQ(inst_->jobOrigin, kClock - 1000);
    EXPECT_EQ(XAt(3000), 3000);
    EXPECT_EQ(XAt(4000), 2000);
    EXPECT_EQ(J3D_JobStep(inst_, cut_->cut(), 5000), 0);
    EXPECT_EQ(inst_->pos.x, 1000);
    EXPECT_TRUE(inst_->jobFlags & JOB_STOPPED);
}

TEST_F(PathJobs, StartEndAndTheReplyAtTheEnd) {
    Cut({0, 2000, 4000});
    inst_->jobFlags = JOB_STOPPED | JOB_EVENT_MINUS_ONE;
    J3D_JobStartInst(inst_, 0, 0, cut_->cut(), 0, 0);
    EXPECT_EQ(inst_->jobFlags & (JOB_RUNNING | JOB_STOPPED | JOB_EVENT_MINUS_ONE), JOB_RUNNING);
    // The caller waits from here on, as the job-start calls have it.
    inst_->jobFlags |= JOB_WAITING;
    inst_->replyModule = kModule;
    inst_->replyHandle = 12;
    EXPECT_EQ(inst_->jobTo, 4000);  // the path length
    EXPECT_EQ(inst_->jobOrigin, kClock);
    EXPECT_EQ(inst_->jobStamp, kClock);
    EXPECT_EQ(J3D_JobStep(inst_, cut_->cut(), 1000), 3000);
    EXPECT_EQ(inst_->pos.x, 1000);
    EXPECT_TRUE(ReplyModule::Replies().empty());
    EXPECT_EQ(J3D_JobStep(inst_, cut_->cut(), 4200), -200);
    EXPECT_EQ(inst_->pos.x, 4000);
    EXPECT_EQ(inst_->velocity[0], 0);  // at the last key
    EXPECT_TRUE(inst_->jobFlags & JOB_STOPPED);
    EXPECT_EQ(ReplyModule::Replies(), (Replies{{12u, B3D_REPLY_JOB_ENDED}}));
    J3D_JobStep(inst_, cut_->cut(), 4300);
    EXPECT_EQ(ReplyModule::Replies().size(), 1u);
    EXPECT_EQ(J3D_JobStep(inst_, nullptr, 100), 0);
}

// Each of the three loop sources restarts by (-remaining) mod (to - from).
TEST_F(PathJobs, LoopsRestartPastTheirEnd) {
    for (int source = 0; source < 3; ++source) {
        SCOPED_TRACE(source);
        Cut({0, 4000});
        inst_->jobFlags = source == 0 ? JOB_LOOP : 0;
        if (source == 1) cut_->cut()->flags |= CUT_LOOP;
        if (source == 2) cut_->path(0).flags |= PATH_LOOP;
        J3D_JobStartInst(inst_, 1000, 0, cut_->cut(), 3000, 0);
        SetClock(kClock + 5000);
        EXPECT_EQ(J3D_JobStep(inst_, cut_->cut(), 7500), -4500);  // 4500 past: 500 into the loop
        EXPECT_EQ(inst_->jobOrigin, kClock + 5000 - (500 + 1000));
        EXPECT_EQ(inst_->jobStamp, kClock + 5000);
        EXPECT_FALSE(inst_->jobFlags & JOB_STOPPED);
        SetClock(kClock);
    }
}

TEST_F(PathJobs, EndTimeOnlyKeepsTheGivenEnd) {
    Cut({0, 4000});
    J3D_JobStartInst(inst_, 0, 0, cut_->cut(), 6000, 0);
    EXPECT_EQ(J3D_JobStep(inst_, cut_->cut(), 1000), 3000);  // the path is shorter
    inst_->jobFlags |= JOB_END_TIME_ONLY;
    EXPECT_EQ(J3D_JobStep(inst_, cut_->cut(), 1000), 5000);
}

TEST_F(PathJobs, AJobContinuesFromWherePreviousOneWas) {
    struct Case {
        int32_t prevFrom, prevTo;  // previous job's arguments
        int32_t from, to;          // the new job's
        int32_t x;                 // where it starts
        bool backward;
        int32_t storedFrom, storedTo;
    };
    // 1500 ms after the previous start.
    const Case cases[] = {
        {0, 4000, 0, 4000, 1500, false, 1500, 4000},     // forward on
        {0, 4000, 4000, 0, 1500, true, 0, 1500},         // backward from the position
        {0, 4000, 4000, 2000, 1500, false, 1500, 4000},  // below the new end: turns forward
        {0, 4000, 0, 1000, 1500, true, 1000, 1500},      // past the new end: turns backward
        {4000, 0, 0, 4000, 2500, false, 2500, 4000},     // previous backward: 4000 - 1500
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        Cut({0, 4000});
        inst_->jobFlags = 0;
        SetClock(kClock);
        J3D_JobStartInst(inst_, c.prevFrom, 0, cut_->cut(), c.prevTo, 0);
        inst_->jobStamp = kClock + 1500;
        SetClock(kClock + 1600);
        J3D_JobStartInst(inst_, c.from, 0, cut_->cut(), c.to, 1);
        EXPECT_EQ(inst_->pos.x, c.x);
        EXPECT_EQ(bool(inst_->jobFlags & JOB_BACKWARD), c.backward);
        EXPECT_EQ(inst_->jobFrom, c.storedFrom);
        EXPECT_EQ(inst_->jobTo, c.storedTo);
    }
}

TEST_F(PathJobs, JobStartByIdNeedsALoadedCut) {
    EXPECT_EQ(J3D_JobStartInstById(inst_, 0, 0, 0), 0);
    Cut({0, 4000});
    inst_->cutId = 7;
    inst_->pathNr = 0;
    EXPECT_EQ(J3D_JobStartInstById(inst_, 1000, 0, 0), 1);
    EXPECT_EQ(inst_->pos.x, 1000);
    cut_->Unload();
    EXPECT_EQ(J3D_JobStartInstById(inst_, 0, 0, 0), 0);
}

TEST_F(PathJobs, APathFollowsAnInstanceBeforeOrAfterIt) {
    Scene3D* scene = B3D_SceneAlloc();
    for (bool before : {true, false}) {
        SCOPED_TRACE(before);
        Inst3D* other = B3D_AllocInst();
        Inst3D* child = B3D_AllocInst();
        if (before) PutInScene(scene, other);
        PutInScene(scene, inst_);
        if (!before) PutInScene(scene, other);
        Adopt(other, child);
        B3D_InstSetPos(other, 100, 200, 300);
        B3D_InstSetPos(child, 1, 2, 3);
        Cut({0, 4000});
        cut_->path(0).followInstId = static_cast<int32_t>(child->id);
        J3D_JobStartInst(inst_, 0, 0, cut_->cut(), 0, 0);
        EXPECT_EQ(inst_->pos.x, 101);
        EXPECT_EQ(inst_->pos.y, 202);
        EXPECT_EQ(inst_->pos.z, 303);
        B3D_ListRemove(B3D_Node(inst_));
        B3D_ListAppend(&g_B3DState->freeInsts, B3D_Node(inst_));
        inst_->scene = nullptr;
        inst_->pos = {};
    }
    // Nothing found leaves the position.
    cut_->path(0).followInstId = 999999;
    B3D_InstSetPos(inst_, 5, 6, 7);
    J3D_JobStartInst(inst_, 0, 0, cut_->cut(), 0, 0);
    EXPECT_EQ(inst_->pos.x, 5);
}

// Position keys: a linear blend, a spline blend, a key's value and velocity.
TEST_F(PathJobs, PositionKeysByTheirFlags) {
    TestCut& cut = Cut({});
    std::vector<J3D_MotionKey> keys(3);
    keys[0].time = 0;
    keys[1].time = 1000;
    keys[2].time = 3000;
    keys[1].value[0] = 100 * ONE;
    keys[2].value[0] = 100 * ONE;
    keys[2].value[1] = 3000 * ONE;  // 3000 units in 2000 ms
    cut.path(0).posCount = 3;
    cut.path(0).posKeys = keys.data();
    J3D_PreparePositionKeys(3, keys.data());
    J3D_JobStartInst(inst_, 0, 0, cut.cut(), 0, 0);
    // On a key: its value and the velocity toward the next.
    EXPECT_EQ(XAt(0), 0);
    EXPECT_EQ(inst_->velocity[0], int32_t(int64_t(100 * ONE) * 1000 / 1010));
    EXPECT_EQ(XAt(250), 25 * ONE);  // linear without 0x4000
    EXPECT_EQ(XAt(1000), 100 * ONE);
    EXPECT_EQ(inst_->velocity[0], 0);
    EXPECT_EQ(inst_->velocity[1], int32_t(int64_t(3000) * ONE * 1000 / 2010));
    // Tension 1.0 gives zero tangents: with 0x4000 only h1 and h2 move it.
    keys[0].flags = KEY_POS_SPLINE;
    keys[0].spline[0] = keys[1].spline[0] = ONE;
    std::vector<J3D_MotionKey> two(keys.begin(), keys.begin() + 2);
    J3D_PreparePositionKeys(2, two.data());
    EXPECT_EQ(two[0].outTangent.x, 0);
    EXPECT_EQ(two[1].inTangent.x, 0);
    cut.path(0).posCount = 2;
    cut.path(0).posKeys = two.data();
    EXPECT_EQ(XAt(500), 50 * ONE);  // h2(0.5) = 0.5
    const int32_t s = ONE / 4, s2 = Qel_FixMul(s, s), s3 = Qel_FixMul(s2, s);
    EXPECT_EQ(XAt(250), Qel_FixMul(3 * s2 - 2 * s3, 100 * ONE));
}

// Keys at the ends of the 32-bit range: the blends saturate, nothing traps.
TEST_F(PathJobs, ExtremeKeysDoNotOverflow) {
    TestCut& cut = Cut({});
    std::vector<J3D_MotionKey> keys(3);
    keys[1].time = 1000;
    keys[2].time = 2000;
    keys[0].value[0] = keys[2].value[0] = INT32_MIN;
    keys[1].value[0] = INT32_MAX;
    for (auto& k : keys) k.flags = KEY_POS_SPLINE;
    J3D_PreparePositionKeys(3, keys.data());
    cut.path(0).posCount = 3;
    cut.path(0).posKeys = keys.data();
    cut.path(0).targetCount = 3;
    cut.path(0).targetKeys = keys.data();
    J3D_JobStartInst(inst_, 0, 0, cut.cut(), 0, 0);
    for (int32_t t : {250, 500, 999, 1500}) J3D_JobStep(inst_, cut.cut(), t);
    keys[0].flags = keys[1].flags = 0;
    EXPECT_EQ(XAt(999), Qel_FixMul(ONE - 65470, INT32_MIN) + Qel_FixMul(65470, INT32_MAX));
}

// The velocity of a key interval in 64 bits, clamped, and zero for a jump.
TEST_F(PathJobs, KeyVelocities) {
    struct Case {
        int32_t value, next, interval, velocity;
    };
    const Case cases[] = {
        {0, 1000, 990, 1000},
        {0, 40 * ONE, 1990, int32_t(int64_t(40) * ONE * 1000 / 2000)},  // product beyond 32 bits
        {0, 2000000000, 5000, int32_t(int64_t(2000000000) * 1000 / 5010)},
        {-2000000000, 2000000000, 1500, INT32_MAX},  // clamped
        {2000000000, -2000000000, 1500, INT32_MIN},
        {0, 2147483 * 100, 100, 0},  // a jump within 1000 ms
        {0, 2147483 * 100 - 1, 100, int32_t(int64_t(2147483 * 100 - 1) * 1000 / 110)},
    };
    for (const Case& c : cases) EXPECT_EQ(J3D_KeyVelocity(c.value, c.next, c.interval), c.velocity) << c.next;
}

TEST_F(PathJobs, ScalarInterpolation) {
    struct Case {
        int32_t a, b, d, e, result;
    };
    const Case cases[] = {
        {0, 100, 3, 1, 34},     {0, 100, 0, 5, 50},          {10, 100, 50, 0, 10},
        {10, 100, 50, 50, 100}, {0, 100, 100000, 25000, 25}, {-7, 8, 0, 0, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(J3D_InterpolateScalar(c.a, c.b, c.d, c.e), c.result) << c.e;
}

// Euler keys blend their angles; keys with 0x2 their quaternions.
TEST_F(PathJobs, EulerAndQuaternionRotations) {
    TestCut& cut = Cut({});
    std::vector<J3D_MotionKey> keys(2);
    keys[1].time = 1000;
    keys[1].value[0] = 16384;
    keys[1].value[2] = 8192;
    cut.path(0).rotCount = 2;
    cut.path(0).rotKeys = keys.data();
    J3D_JobStartInst(inst_, 0, 0, cut.cut(), 0, 0);
    J3D_JobStep(inst_, cut.cut(), 500);
    EXPECT_EQ(inst_->rotAngles[0], 8192);
    EXPECT_EQ(inst_->rotAngles[2], 4096);
    EXPECT_FALSE(inst_->jobFlags & JOB_QUATERNION);
    QelMatrix expect;
    Qel_MatFromAngles(&expect, 8192, 0, 4096);
    for (int i = 0; i < 12; ++i)
        if (i % 4 != 3) {
            EXPECT_EQ(inst_->matrix.m[i], expect.m[i]) << i;
        }

    // Angle and axis: a quarter turn about y, prepared into quaternions.
    for (auto& k : keys) {
        k.flags = KEY_AXIS_ANGLE;
        k.value[0] = k.value[1] = k.value[2] = 0;
        k.axis[0] = 0;
        k.axis[1] = ONE;
        k.axis[2] = 0;
    }
    keys[1].value[0] = 16384;
    keys[1].flags |= KEY_ABSOLUTE;
    J3D_PrepareRotationKeys(2, keys.data());
    J3D_JobStep(inst_, cut.cut(), 500);
    EXPECT_TRUE(inst_->jobFlags & JOB_QUATERNION);
    QelQuat a{keys[0].quat[0], keys[0].quat[1], keys[0].quat[2], keys[0].quat[3]};
    QelQuat b{keys[1].quat[0], keys[1].quat[1], keys[1].quat[2], keys[1].quat[3]}, mid;
    Qel_QuatSlerp(&mid, &a, &b, ONE / 2);
    EXPECT_EQ(inst_->rotQuat.w, mid.w);
    EXPECT_EQ(inst_->rotQuat.y, mid.y);
    QelMatrix fromQuat;
    Qel_MatFromQuat(&mid, &fromQuat);
    EXPECT_EQ(inst_->matrix.m[0], fromQuat.m[0]);
    // At a key its quaternion.
    J3D_JobStep(inst_, cut.cut(), 1000);
    EXPECT_EQ(inst_->rotQuat.y, b.y);

    // With 0x8000 the spline: the same axis, an angle between the keys.
    keys[0].flags |= KEY_ROT_SPLINE;
    keys[1].flags |= KEY_ROT_SPLINE;
    QelQuat q;
    J3D_InterpolateRot(500, &q, keys.data(), 0, 2);
    EXPECT_EQ(q.x, 0);
    EXPECT_EQ(q.z, 0);
    EXPECT_GT(q.y, 0);
    EXPECT_LT(q.y, b.y);
    EXPECT_GT(q.w, b.w);

    LogCapture log;
    J3D_InterpolateRot(1500, &q, keys.data(), 0, 2);
    EXPECT_TRUE(log.Contains("J3D_InterpolateRot() Invalid time t=1500 [t1=0, t2=1000]\n"));
    EXPECT_NEAR(q.y, b.y, 2);
}

// Which rotation the keys give by their flag 0x2, between keys and on one.
TEST_F(PathJobs, RotationKeyFlagMatrix) {
    struct Case {
        uint32_t first, second;
        int32_t t;
        bool quaternion;
    };
    const Case cases[] = {
        {0, 0, 500, false},
        {KEY_AXIS_ANGLE, 0, 500, true},
        {0, KEY_AXIS_ANGLE, 500, true},
        {KEY_AXIS_ANGLE, KEY_AXIS_ANGLE, 500, true},
        {KEY_AXIS_ANGLE, 0, 0, true},
        {0, KEY_AXIS_ANGLE, 0, false},
        {0, KEY_AXIS_ANGLE, 1000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.first << " " << c.second << " " << c.t);
        TestCut& cut = Cut({});
        std::vector<J3D_MotionKey> keys(2);
        keys[1].time = 1000;
        keys[0].flags = c.first;
        keys[1].flags = c.second;
        keys[0].value[0] = 4096;  // an angle, or the angle about the axis
        keys[1].value[0] = 8192;
        for (auto& k : keys) k.axis[1] = ONE;
        J3D_PrepareRotationKeys(2, keys.data());
        cut.path(0).rotCount = 2;
        cut.path(0).rotKeys = keys.data();
        inst_->jobFlags = c.quaternion ? 0 : JOB_QUATERNION;
        J3D_JobStartInst(inst_, 0, 0, cut.cut(), 0, 0);
        J3D_JobStep(inst_, cut.cut(), c.t);
        EXPECT_EQ(bool(inst_->jobFlags & JOB_QUATERNION), c.quaternion);
        if (!c.quaternion) {
            EXPECT_EQ(inst_->rotAngles[0], c.t == 500 ? 6144 : 4096);
        }
    }
}

TEST_F(PathJobs, ASinglePositionKeyHoldsTheInstance) {
    Cut({0});
    J3D_JobStartInst(inst_, 0, 0, cut_->cut(), 0, 0);
    inst_->velocity[0] = 99;
    EXPECT_EQ(J3D_JobStep(inst_, cut_->cut(), 300), -300);
    EXPECT_EQ(inst_->pos.x, 0);
    EXPECT_EQ(inst_->velocity[0], 0);
}

// Target and roll keys turn the instance toward the target.
TEST_F(PathJobs, TargetAndRollKeys) {
    TestCut& cut = Cut({0});
    std::vector<J3D_MotionKey> target(1);
    target[0].value[0] = 1000;  // straight along x from the origin
    std::vector<J3D_RollKey> roll(2);
    roll[1].time = 1000;
    roll[1].roll = 0x14000;  // low 16 bits: 0x4000
    cut.path(0).targetCount = 1;
    cut.path(0).targetKeys = target.data();
    cut.path(0).rollCount = 2;
    cut.path(0).rollKeys = roll.data();
    J3D_JobStartInst(inst_, 0, 0, cut.cut(), 0, 0);
    int32_t h, p;
    const QelVector d{1000, 0, 0, 0};
    Qel_AnglesFromVector(&d, &h, &p);
    EXPECT_EQ(inst_->rotAngles[0], h);
    EXPECT_EQ(inst_->rotAngles[1], p);
    J3D_JobStep(inst_, cut.cut(), 1000);
    EXPECT_EQ(inst_->rotAngles[2], 0x4000);
}

TEST_F(PathJobs, LightColourAndFieldOfView) {
    Inst3D* light = B3D_LightAlloc();
    Camera3D* camera = B3D_CameraAlloc();
    TestCut& cut = Cut({});
    std::vector<J3D_ColorKey> colour(1);
    colour[0].rgb[0] = ONE;
    colour[0].rgb[1] = ONE / 2;
    colour[0].rgb[2] = 0;
    std::vector<J3D_FovKey> fov(1);
    fov[0].value = 0x3000;
    cut.path(0).colorCount = 1;
    cut.path(0).colorKeys = colour.data();
    cut.path(0).fovCount = 1;
    cut.path(0).fovKeys = fov.data();
    J3D_JobStartInst(light, 0, 0, cut.cut(), 0, 0);
    EXPECT_EQ(light->lightColor[0], 255);
    EXPECT_EQ(light->lightColor[1], 128);
    EXPECT_EQ(light->lightColor[2], 0);
    J3D_JobStartInst(&camera->inst, 0, 0, cut.cut(), 0, 0);
    EXPECT_EQ(camera->focus, 0x3000);
    EXPECT_EQ(inst_->lightColor[0], 0);  // not a light
    // A driving instance gives the focus to its bound camera.
    fov[0].value = 0x2000;
    inst_->jobFlags = JOB_DRIVES_BOUND;
    inst_->boundInst = &camera->inst;
    J3D_JobStartInst(inst_, 0, 0, cut.cut(), 0, 0);
    EXPECT_EQ(camera->focus, 0x2000);
}

TEST_F(PathJobs, APlacedCutMovesPositionRotationAndVelocity) {
    TestCut& cut = Cut({0, 1000});
    J3D_JobStartInst(inst_, 0, 0, cut.cut(), 0, 0);
    const int32_t vx = inst_->velocity[0];
    ASSERT_NE(vx, 0);
    // Unplaced: as the keys gave them.
    J3D_JobApplyCutPlacement(inst_, cut.cut());
    EXPECT_EQ(inst_->velocity[0], vx);
    const QelVector pos{5 * ONE, 0, 0, 0};
    QelMatrix turn{};
    Qel_MatFromAngles(&turn, 16384, 0, 0);
    J3D_SetCutPos(cut.cut(), &pos, &turn);
    cut.cut()->flags |= CUT_PLACED;
    J3D_JobStep(inst_, cut.cut(), 500);
    QelVector p{500, 0, 0, 0}, rp, v{vx, 0, 0, 0}, rv;
    Qel_MatMulVec(&turn, &p, &rp);
    Qel_MatMulVec(&turn, &v, &rv);
    EXPECT_EQ(inst_->pos.x, 5 * ONE + rp.x);
    EXPECT_EQ(inst_->pos.z, rp.z);
    EXPECT_EQ(inst_->velocity[0], rv.x);
    EXPECT_EQ(inst_->velocity[2], rv.z);
    for (int i = 0; i < 12; ++i)
        if (i % 4 != 3) {
            EXPECT_EQ(inst_->matrix.m[i], turn.m[i]) << i;  // identity times R
        }
}

TEST_F(PathJobs, FinishAllJobsMovesOriginAndStampBack) {
    for (int32_t start : {kClock, 1000}) {
        SCOPED_TRACE(start);
        Cut({0, 4000});
        SetClock(start);
        J3D_JobStartInst(inst_, 0, 0, cut_->cut(), 4000, 0);
        inst_->jobStamp = start + 500;  // last stepped 500 ms after its start
        J3D_FinishAllJobs();
        EXPECT_EQ(inst_->jobOrigin, J3D_ClockAdd(start, -3500));
        EXPECT_EQ(inst_->jobStamp, J3D_ClockAdd(start, -3000));
        EXPECT_TRUE(inst_->jobFlags & JOB_EVENT_MINUS_ONE);
        SetClock(start + 520);
        const int32_t t = B3D_ClockDiff(start + 520, inst_->jobOrigin);
        EXPECT_GE(t, 4000);
        EXPECT_LE(J3D_JobStep(inst_, cut_->cut(), t), 0);
    }
}

TEST(JobClock, AddWrapsOnTheGameClockCircle) {
    EXPECT_EQ(J3D_ClockAdd(100, 50), 150);
    EXPECT_EQ(J3D_ClockAdd(QEL_ANGLE_FULL - 10, 30), 20);
    EXPECT_EQ(J3D_ClockAdd(100, -150), QEL_ANGLE_FULL - 50);
    EXPECT_EQ(J3D_ClockAdd(100, -100), 0);
}

}  // namespace
