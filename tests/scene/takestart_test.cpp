#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scene/allocs.h"
#include "scene/bodyrecord.h"
#include "scene/caches.h"
#include "scene/cutevents.h"
#include "scene/jobs.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "scene/trees.h"
#include "cut_fixture.h"
#include "support/logcapture.h"
#include "support/script_run.h"
#include "scene/freeing.h"
#include "script/tasks.h"

namespace {

constexpr int32_t kCut = 4;
constexpr int32_t kOtherCut = 6;

class TakeStart : public CutTest {
protected:
    void SetUp() override {
        CutTest::SetUp();
        SetClock(5000);
        scene_ = B3D_SceneAlloc();
        camera_ = B3D_CameraAlloc();
        B3D_SceneLinkInst(scene_, camera_);
    }
    J3D_Cut* Load(int32_t id, const std::string& source) {
        WriteTextCut(id, source);
        return J3D_GetCut(id);
    }
    static std::vector<uint32_t> Ids(const J3D_Take* take) {
        std::vector<uint32_t> ids;
        for (int32_t i = 0; i < take->instCount; ++i) ids.push_back(take->insts[i] ? take->insts[i]->id : 0);
        return ids;
    }

    Scene3D* scene_ = nullptr;
    Camera3D* camera_ = nullptr;
};

TEST_F(TakeStart, BuildsCameraLightsAndBodies) {
    J3D_Cut* cut = Load(kCut, TakeCutSource());
    ASSERT_NE(cut, nullptr);
    J3D_Take* take = J3D_TakeAlloc();
    system_->debugFlags = 4;
    LogCapture log;
    ASSERT_EQ(J3D_TakeLoadCut(take, cut, scene_, camera_), 1);
    EXPECT_TRUE(log.Contains("J3D_TakeLoadCut(4) start\n"));
    EXPECT_EQ(take->state, TAKE_STOPPED);
    ASSERT_EQ(take->instCount, 4);
    EXPECT_EQ(take->insts[0], &camera_->inst);
    EXPECT_EQ(take->cameraId, camera_->inst.id);
    // Coloured light 2953: 9, 5 and 3 ninths of 255.
    Inst3D* lamp = take->insts[1];
    ASSERT_NE(lamp, nullptr);
    EXPECT_TRUE(lamp->flags & INST_LIGHT);
    EXPECT_EQ(lamp->lightColor[0], 255);
    EXPECT_EQ(lamp->lightColor[1], 141);
    EXPECT_EQ(lamp->lightColor[2], 85);
    EXPECT_TRUE(lamp->flags & INST_MARKED);
    EXPECT_EQ(lamp->scene, scene_);
    // Body 12 has no file: an instance without a body; the crate has its
    // embedded body.
    ASSERT_NE(take->insts[2], nullptr);
    EXPECT_EQ(take->insts[2]->bodyId, -1);
    ASSERT_NE(take->insts[3], nullptr);
    EXPECT_EQ(take->insts[3]->bodyId, 300005);
    EXPECT_EQ(take->insts[3]->scene, scene_);

    EXPECT_EQ(J3D_TakePlay(take), 1);
    EXPECT_EQ(take->state, TAKE_RUNNING);
    EXPECT_EQ(camera_->inst.pos.z, -65536);
    EXPECT_EQ(camera_->focus, 0x4000);  // 0.25
    const uint32_t id = take->id;
    J3D_TakeFree(take);
    EXPECT_EQ(J3D_TakeFind(id), nullptr);
}

// In an enabled scene the take's lights and bodies are offered to the
// renderer as they are made, and a body instance takes its body's radius and name.
TEST_F(TakeStart, InstancesEnterTheRendererInAnEnabledScene) {
    J3D_Cut* cut = Load(kCut, TakeCutSource());
    ASSERT_NE(cut, nullptr);
    B3D_SceneEnable(scene_);
    J3D_Take* take = J3D_TakeAlloc();
    LogCapture log;
    ASSERT_EQ(J3D_TakeLoadCut(take, cut, scene_, camera_), 1);
    ASSERT_EQ(take->instCount, 4);
    Inst3D* lamp = take->insts[1];
    Inst3D* crate = take->insts[3];
    ASSERT_NE(lamp, nullptr);
    ASSERT_NE(crate, nullptr);
    EXPECT_TRUE(lamp->flags & INST_IN_RENDERER);
    // Without a device here the renderer refuses the crate's geometry: it was
    // offered once (the instance without a body is not).
    const std::string text = log.Text();
    const std::string refused = "B3D_InstEnable() Can't Add Inst!\n";
    const size_t first = text.find(refused);
    EXPECT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find(refused, first + 1), std::string::npos) << text;
    EXPECT_FALSE(crate->flags & INST_IN_RENDERER);
    Body3D* body = B3D_GetBody(300005);
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(crate->radius, body->levels[0]->parts[0]->radius);
    EXPECT_EQ(crate->scale.x, 0x10000);
    J3D_TakeFree(take);
}

TEST_F(TakeStart, LightKindsByTheirWord) {
    J3D_Cut* cut = Load(kCut,
                        "path 0 -2\n  key 0 -1 0 0 0 0 0 0\n"
                        "path 1 3102\n  key 0 -1 0 0 0 0 0 0\n"
                        "path 2 1007\n  key 0 -1 0 0 0 0 0 0\n");
    ASSERT_NE(cut, nullptr);
    J3D_Take* take = J3D_TakeAlloc();
    ASSERT_EQ(J3D_TakeLoadCut(take, cut, scene_, nullptr), 1);
    const Inst3D* point = take->insts[0];
    EXPECT_EQ(point->lightRange, 300000);
    EXPECT_TRUE(point->flags & INST_POINT_LIGHT);
    EXPECT_EQ(point->lightAtten[0], 0x10000);
    EXPECT_EQ(point->lightAtten[2], 0x80000);
    const Inst3D* spot = take->insts[1];
    EXPECT_TRUE(spot->flags & INST_SPOT_LIGHT);
    EXPECT_EQ(spot->lightRange, 1000000);
    EXPECT_EQ(spot->lightAtten[1], 0xa0000);
    EXPECT_EQ(spot->lightColor[0], 28);
    EXPECT_EQ(spot->lightColor[1], 0);
    EXPECT_EQ(spot->lightColor[2], 56);
    const Inst3D* plain = take->insts[2];
    EXPECT_EQ(plain->lightColor[2], 198);
    EXPECT_FALSE(plain->flags & (INST_SPOT_LIGHT | INST_MARKED));
    J3D_TakeFree(take);
}

TEST_F(TakeStart, OnlyTheFirstCameraPathTakesTheCamera) {
    J3D_Cut* cut = Load(kCut,
                        "path 0 -1\n  key 0 -1 1 2 3 0 0 0\n"
                        "path 1 -1\n  key 0 -1 4 5 6 0 0 0\n"
                        "path 2 77\n  flags j\n  key 0 -1 0 0 0 0 0 0\n");
    ASSERT_NE(cut, nullptr);
    J3D_Take* take = J3D_TakeAlloc();
    LogCapture log;
    ASSERT_EQ(J3D_TakeLoadCut(take, cut, scene_, camera_), 1);
    EXPECT_EQ(take->insts[0], &camera_->inst);
    EXPECT_EQ(take->insts[1], nullptr);
    EXPECT_EQ(take->insts[2], nullptr);
    EXPECT_TRUE(
        log.Contains("J3D_TakeLoadCut(cutid=4) More than 1 camera defined (does not work for B3D Takes), "
                     "ignoring camera in path 1!\n"));
    EXPECT_TRUE(log.Contains("J3D_TakeLoadCut(cutid=4) Path body id"));
    J3D_TakeFree(take);
}

TEST_F(TakeStart, ANewCutFreesTheOldInstances) {
    J3D_Cut* first = Load(kCut, TakeCutSource());
    J3D_Cut* second = Load(kOtherCut, "path 0 -2\n  key 0 1000 0 0 0 0 0 0\n  key 0 -1 0 0 0 0 0 0\n");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    J3D_Take* take = J3D_TakeAlloc();
    ASSERT_EQ(J3D_TakeStartInScene(take, first, scene_, camera_), 1);
    const std::vector<uint32_t> old = Ids(take);
    ASSERT_EQ(J3D_TakeStartInScene(take, second, scene_, camera_), 1);
    EXPECT_EQ(take->cutId, kOtherCut);
    EXPECT_EQ(take->instCount, 1);
    for (size_t i = 1; i < old.size(); ++i) EXPECT_EQ(B3D_InstFind(old[i]), nullptr) << i;
    EXPECT_EQ(B3D_InstFind(old[0]), &camera_->inst);  // lent, kept
    J3D_TakeFree(take);
}

TEST_F(TakeStart, ATakeWhoseJobsAllEndAtOnceDoesNotPlay) {
    J3D_Cut* cut = Load(kCut, "path 0 -2\n  key 0 -1 0 0 0 0 0 0\npath 1 -2\n");
    ASSERT_NE(cut, nullptr);
    J3D_Take* take = J3D_TakeAlloc();
    EXPECT_EQ(J3D_TakeStartInScene(take, cut, scene_, nullptr), 0);
    EXPECT_EQ(take->state, TAKE_STOPPED);
    EXPECT_EQ(take->cutId, kCut);
    J3D_TakeFree(take);
}

TEST_F(TakeStart, TheLentCameraSurvivesAClear) {
    J3D_Cut* cut = Load(kCut, TakeCutSource());
    J3D_Take* take = J3D_TakeAlloc();
    ASSERT_EQ(J3D_TakeStartInScene(take, cut, scene_, camera_), 1);
    const std::vector<uint32_t> ids = Ids(take);
    J3D_TakeClear(take);
    EXPECT_EQ(take->cutId, 0);
    EXPECT_EQ(take->state, TAKE_ALLOCATED);
    EXPECT_EQ(take->insts, nullptr);
    EXPECT_EQ(B3D_InstFind(ids[0]), &camera_->inst);
    EXPECT_EQ(camera_->inst.scene, scene_);
    EXPECT_TRUE(camera_->inst.jobFlags & JOB_STOPPED);  // the take's job on it ended
    for (size_t i = 1; i < ids.size(); ++i) EXPECT_EQ(B3D_InstFind(ids[i]), nullptr) << i;
    J3D_TakeFree(take);
}

// The script frees the camera it lent while the take plays.
TEST_F(TakeStart, ALentCameraFreedByItsScriptIsDropped) {
    J3D_Cut* cut = Load(kCut, TakeCutSource());
    J3D_Take* take = J3D_TakeAlloc();
    ASSERT_EQ(J3D_TakeStartInScene(take, cut, scene_, camera_), 1);
    B3D_CameraFree(camera_);
    SetClock(5100);
    J3D_TakesUpdate();
    EXPECT_EQ(take->insts[0], nullptr);
    EXPECT_EQ(take->cameraId, 0u);
    J3D_TakeClear(take);
    J3D_TakeFree(take);
}

// (The take cut loops: its crate path has flag "s".)
TEST_F(TakeStart, TheUpdateFinishesTheTake) {
    J3D_Cut* cut = Load(kCut,
                        "path 0 -1\n  key 0 2000 0 0 -65536 0 0 0\n  key 0 -1 0 0 -131072 0 0 0\n"
                        "path 1 -2\n  key 0 1000 0 0 0 0 0 0\n  key 0 -1 0 0 0 0 0 0\n");
    J3D_Take* take = J3D_TakeAlloc();
    ASSERT_EQ(J3D_TakeStartInScene(take, cut, scene_, camera_), 1);
    SetClock(6000);
    J3D_TakesUpdate();
    EXPECT_EQ(take->state, TAKE_RUNNING);
    EXPECT_EQ(camera_->inst.pos.z, -98304);  // halfway between the first two keys
    SetClock(5000 + 2000);
    J3D_TakesUpdate();
    EXPECT_EQ(take->state, TAKE_STOPPED);
    J3D_TakeFree(take);
}

// A "CutEvent" task that frees the cut the take plays: the hook reads none of
// its notes again, the job is not stepped and the take stops.
TEST_F(TakeStart, AnEventThatFreesTheCut) {
    StoryRunner runner;
    ASSERT_TRUE(runner.Load(".object 10\n.func \"CutEvent\" need 4\n    c0\n    sys \"T_Now\"\n    ret\n"));
    int32_t events = 0;
    runner.handler = [&](SE_Task* task, int32_t, int32_t, ScriptValue*) {
        ++events;
        if (J3D_Cut* c = J3D_CutIsLoaded(kCut)) J3D_FreeCut(c);
        SE_TaskReturnInt(task, 0);
        return 1;
    };
    J3D_Cut* cut = Load(kCut, TakeCutSource());
    J3D_Take* take = J3D_TakeAlloc();
    ASSERT_EQ(J3D_TakeStartInScene(take, cut, scene_, camera_), 1);
    Inst3D* ship = take->insts[2];
    ship->storyObject = 10;
    const QelVector before = ship->pos;
    SetClock(5500);
    LogCapture log;
    J3D_TakesUpdate();
    EXPECT_EQ(events, 1);
    EXPECT_EQ(ship->pos.x, before.x);
    EXPECT_EQ(take->state, TAKE_STOPPED);
    J3D_TakeFree(take);
}

TEST_F(TakeStart, PreloadAnswersWhetherTheCutCanBeHad) {
    EXPECT_EQ(J3D_CutPreload(kCut), 0);
    WriteTextCut(kOtherCut, TakeCutSource());
    EXPECT_EQ(J3D_CutPreload(kOtherCut), 1);
    WriteTextCut(kCut, TakeCutSource());
    EXPECT_EQ(J3D_CutPreload(kCut), 0);  // marked as failed
}

}  // namespace
