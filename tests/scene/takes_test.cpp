#include <gtest/gtest.h>

#include "base/strings.h"
#include "scene/allocs.h"
#include "scene/geometry.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "scene/trees.h"
#include "scene_fixture.h"
#include "support/logcapture.h"

namespace {

constexpr int32_t ONE = QEL_FIX_ONE;
constexpr int32_t kModule = 3;

class SceneTakes : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        replies_ = std::make_unique<ReplyModule>(kModule);
    }
    void TearDown() override {
        replies_.reset();
        SceneTest::TearDown();
    }
    static const Replies& Sent() { return ReplyModule::Replies(); }

    // A running take over n instances with running jobs on the given cut.
    J3D_Take* RunningTake(int32_t cutId, int32_t n) {
        J3D_Take* take = J3D_TakeAlloc();
        take->cutId = cutId;
        take->instCount = n;
        take->insts = static_cast<Inst3D**>(B3D_AllocMemJ(n * static_cast<int32_t>(sizeof(Inst3D*)), B3D_MEM_ZERO));
        for (int32_t i = 0; i < n; ++i) {
            Inst3D* inst = B3D_AllocInst();
            inst->jobFlags = JOB_RUNNING;
            inst->cutId = cutId;
            inst->pathNr = i;
            take->insts[i] = inst;
        }
        take->state = TAKE_RUNNING;
        return take;
    }

    std::unique_ptr<ReplyModule> replies_;
};

TEST_F(SceneTakes, ReplyGoesToTheModulesCallbackAndIsLogged) {
    system_->debugFlags = 4;
    LogCapture log;
    J3D_DoEngineReply(kModule, 77, 4);
    EXPECT_EQ(Sent(), (Replies{{77u, 4}}));
    EXPECT_TRUE(log.Contains("J3D_DoEngineReply(3, 77, 4)\n"));
    // Modules without an entry or a callback get nothing.
    J3D_DoEngineReply(kModule + 1, 78, 4);
    J3D_DoEngineReply(1, 79, 4);
    J3D_DoEngineReply(-1, 80, 4);
    EXPECT_EQ(Sent().size(), 1u);
}

TEST_F(SceneTakes, StopRepliesOnceAndOnlyWhenRunning) {
    TestCut cut(5, 2);
    J3D_Take* take = RunningTake(5, 2);
    take->replyModule = kModule;
    take->replyHandle = 9;
    for (int32_t state : {TAKE_ALLOCATED, TAKE_STOPPED}) {
        take->state = state;
        J3D_TakeStop(take);
        EXPECT_EQ(take->state, state);
        EXPECT_TRUE(Sent().empty());
        EXPECT_EQ(take->insts[0]->jobFlags & JOB_STOPPED, 0u);
    }
    take->state = TAKE_RUNNING;
    J3D_TakeStop(take);
    J3D_TakeStop(take);
    EXPECT_EQ(Sent(), (Replies{{9u, B3D_REPLY_TAKE_STOPPED}}));
    EXPECT_EQ(take->state, TAKE_STOPPED);
    EXPECT_EQ(take->replyModule, 0);
    EXPECT_NE(take->insts[0]->jobFlags & JOB_STOPPED, 0u);
    EXPECT_NE(take->insts[1]->jobFlags & JOB_STOPPED, 0u);
}

TEST_F(SceneTakes, JobStopRepliesOnlyToAWaitingCallerOnce) {
    Inst3D* quiet = B3D_AllocInst();
    quiet->jobFlags = JOB_RUNNING;
    J3D_JobStop(quiet);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(quiet->jobFlags, JOB_RUNNING | JOB_STOPPED);

    Inst3D* waited = B3D_AllocInst();
    waited->jobFlags = JOB_RUNNING | JOB_WAITING;
    waited->replyModule = kModule;
    waited->replyHandle = 21;
    J3D_JobStop(waited);
    J3D_JobStop(waited);
    EXPECT_EQ(Sent(), (Replies{{21u, B3D_REPLY_JOB_STOPPED}}));
    EXPECT_EQ(waited->jobFlags, JOB_RUNNING | JOB_STOPPED);

    // An already stopped job with a waiting caller sends nothing.
    Inst3D* ended = B3D_AllocInst();
    ended->jobFlags = JOB_RUNNING | JOB_WAITING | JOB_STOPPED;
    ended->replyModule = kModule;
    J3D_JobStop(ended);
    EXPECT_EQ(Sent().size(), 1u);
}

TEST_F(SceneTakes, FinishCheckCountsRunningJobsAndStopsWhenNoneRuns) {
    system_->debugFlags = 4;
    TestCut cut(12, 3);
    J3D_Take* take = RunningTake(12, 3);
    take->replyModule = kModule;
    take->replyHandle = 4;
    take->insts[1]->jobFlags |= JOB_STOPPED;
    EXPECT_EQ(J3D_TakeCheckFinished(take), 2);
    EXPECT_EQ(take->state, TAKE_RUNNING);
    take->insts[0]->jobFlags |= JOB_STOPPED;
    take->insts[2]->jobFlags &= ~JOB_RUNNING;
    LogCapture log;
    EXPECT_EQ(J3D_TakeCheckFinished(take), 0);
    EXPECT_TRUE(log.Contains("J3D_TakeCheckFinished() stopping cutid 12\n"));
    EXPECT_EQ(take->state, TAKE_STOPPED);
    EXPECT_EQ(Sent(), (Replies{{4u, B3D_REPLY_TAKE_STOPPED}}));

    // No cut id or no instances: nothing to check.
    J3D_Take* empty = J3D_TakeAlloc();
    empty->state = TAKE_RUNNING;
    EXPECT_EQ(J3D_TakeCheckFinished(empty), 0);
    EXPECT_EQ(empty->state, TAKE_RUNNING);
}

TEST_F(SceneTakes, RunningTakeOfAnUnloadedCutIsStopped) {
    TestCut cut(30, 1);
    J3D_Take* take = RunningTake(30, 1);
    take->replyModule = kModule;
    take->replyHandle = 8;
    EXPECT_EQ(J3D_TakeCheckFinished(take), 1);
    cut.Unload();
    LogCapture log;
    EXPECT_EQ(J3D_TakeCheckFinished(take), 0);
    EXPECT_TRUE(log.Contains("J3D_FindCut(30) trying to find nonexisting cut!\n"));
    EXPECT_EQ(take->state, TAKE_STOPPED);
    EXPECT_EQ(Sent(), (Replies{{8u, B3D_REPLY_TAKE_STOPPED}}));
}

TEST_F(SceneTakes, RemainingTimeAcrossTheClockWrap) {
    TestCut cut(40, 2);
    cut.Keys(0, {0, 1000, 3000});
    cut.Keys(1, {0, 8000});
    J3D_Take* take = RunningTake(40, 2);
    // Started 1400 ms ago, just before the clock wrapped.
    SetClock(400);
    for (Inst3D* inst : {take->insts[0], take->insts[1]}) {
        inst->jobOrigin = 32399000;
        inst->jobTo = 5000;
    }
    // Bounded by the path: 3000 - 1400; by the end time alone: 5000 - 1400.
    EXPECT_EQ(J3D_JobGetRemainingTime(take->insts[0]), 1600);
    take->insts[0]->jobFlags |= JOB_END_TIME_ONLY;
    EXPECT_EQ(J3D_JobGetRemainingTime(take->insts[0]), 3600);
    EXPECT_EQ(J3D_JobGetRemainingTime(take->insts[1]), 3600);
    EXPECT_EQ(J3D_TakeGetRemainingTime(take), 3600);

    // Stopped or not running jobs, and jobs of unloaded cuts, have no time left.
    take->insts[0]->jobFlags |= JOB_STOPPED;
    take->insts[1]->jobFlags &= ~JOB_RUNNING;
    EXPECT_EQ(J3D_TakeGetRemainingTime(take), 0);
    take->insts[0]->jobFlags = JOB_RUNNING;
    cut.Unload();
    EXPECT_EQ(J3D_JobGetRemainingTime(take->insts[0]), 0);
    J3D_Take* none = J3D_TakeAlloc();
    EXPECT_EQ(J3D_TakeGetRemainingTime(none), 0);
}

TEST_F(SceneTakes, PlacingTakeInstances) {
    J3D_Take* take = RunningTake(50, 2);
    take->insts[1] = nullptr;
    Inst3D* inst = take->insts[0];
    Qel_MatFromAngles(&take->matrix, 16384, 0, 0);
    take->pos = {100 * ONE, 0, 0, 0};
    take->offset = {0, 7 * ONE, 0, 0};
    B3D_InstSetPos(inst, 0, 0, 10 * ONE);
    inst->refPoint = {0, 0, 10 * ONE, 0};
    QelVector turned;
    Qel_MatMulVec(&take->matrix, &inst->pos, &turned);
    QelMatrix matrix;
    Qel_MatMul(&take->matrix, &inst->matrix, &matrix);
    J3D_TakeTransformInsts(take);
    EXPECT_EQ(inst->pos.x, turned.x + 100 * ONE);
    EXPECT_EQ(inst->pos.z, turned.z);
    EXPECT_EQ(inst->refPoint.x, turned.x);
    EXPECT_EQ(inst->refPoint.y, turned.y + 7 * ONE);
    for (int k : {0, 1, 2, 4, 5, 6, 8, 9, 10}) EXPECT_EQ(inst->matrix.m[k], matrix.m[k]) << k;
    // Without a cut id nothing moves.
    take->cutId = 0;
    const QelVector before = inst->pos;
    J3D_TakeTransformInsts(take);
    EXPECT_EQ(inst->pos.x, before.x);
}

TEST_F(SceneTakes, CameraFreeRepliesFreesItsPartsAndItsSubInstances) {
    Scene3D* scene = B3D_SceneAlloc();
    B3D_SceneEnable(scene);
    const int32_t empty = g_B3DState->poolIBytes;
    Camera3D* cam = B3D_CameraAlloc();
    B3D_SceneLinkInst(scene, cam);
    cam->inst.jobFlags = JOB_RUNNING | JOB_WAITING;
    cam->inst.replyModule = kModule;
    cam->inst.replyHandle = 1;
    cam->inst.name = Qel_StrDup("main camera");
    B3D_FaceCameraInst(cam, &cam->inst);
    B3D_CameraSetCausticAnim(cam, 12);
    ASSERT_NE(cam->causticMaterial, nullptr);
    // An item holding one instance that waits on its job.
    auto* item = B3D_AllocRecordI<B3DCameraItem>();
    item->key = 5;
    item->insts[3] = B3D_AllocInst();
    item->insts[3]->jobFlags = JOB_WAITING;
    item->insts[3]->replyModule = kModule;
    item->insts[3]->replyHandle = 2;
    B3D_ListAppend(&cam->items, B3D_Node(item));
    // A sub-instance with a waiting caller, and one below it.
    Inst3D* child = B3D_AllocInst();
    Adopt(&cam->inst, child);
    child->jobFlags = JOB_WAITING;
    child->replyModule = kModule;
    child->replyHandle = 3;
    Inst3D* grandchild = B3D_AllocInst();
    Adopt(child, grandchild);
    const uint32_t ids[] = {cam->inst.id, child->id, grandchild->id, item->insts[3]->id};

    B3D_CameraFree(cam);
    EXPECT_EQ(Sent(), (Replies{{1u, B3D_REPLY_CAMERA_FREED}, {2u, B3D_REPLY_INST_FREED}, {3u, B3D_REPLY_INST_FREED}}));
    for (uint32_t id : ids) EXPECT_EQ(B3D_InstFind(id), nullptr) << id;
    EXPECT_TRUE(B3D_ListIsEmpty(&scene->cameras));
    EXPECT_TRUE(B3D_ListIsEmpty(&g_B3DState->freeInsts));
    EXPECT_EQ(g_B3DState->poolIBytes, empty);
}

}  // namespace
