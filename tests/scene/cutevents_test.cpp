#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/angles.h"
#include "scene/allocs.h"
#include "scene/cutevents.h"
#include "scene/jobs.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "scene/trees.h"
#include "scene_fixture.h"
#include "support/logcapture.h"
#include "support/script_run.h"
#include "script/tasks.h"

namespace {

constexpr int32_t kObject = 10;
constexpr int32_t kClock = 200000;

// "CutEvent" hands both values to the test module's "T_Now".
const char* const kStory = R"(
    end
.object 10
.func "CutEvent" need 8
    getl 4
    getl 6
    pushw 2
    sys "T_Now"
    ret
)";

class CutEvents : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        runner_ = std::make_unique<StoryRunner>();
        ASSERT_TRUE(runner_->Load(kStory));
        SetClock(kClock);
        cut_ = std::make_unique<TestCut>(9, 3);
        for (int32_t p = 0; p < 3; ++p) cut_->Keys(p, {0, 10000});
    }
    void TearDown() override {
        runner_.reset();
        SceneTest::TearDown();
    }
    // An instance with a story object on a path, its job started now.
    Inst3D* Playing(int32_t path, int32_t object = kObject) {
        Inst3D* inst = B3D_AllocInst();
        inst->storyObject = object;
        J3D_JobStartInst(inst, 0, path, cut_->cut(), 0, 0);
        return inst;
    }
    void Notes(int32_t path, std::vector<std::pair<int32_t, const char*>> notes) {
        auto& list = notes_.emplace_back();
        for (auto& [time, text] : notes) list.push_back(J3D_Note{time, const_cast<char*>(text)});
        cut_->path(path).noteCount = static_cast<int32_t>(list.size());
        cut_->path(path).notes = list.data();
    }
    // The events received, as "first second".
    std::vector<std::string> Events() const {
        std::vector<std::string> out;
        // Argument 0 of the call is the value pushed last: the number.
        for (const RunCall& c : runner_->calls) {
            std::string text = c.args.at(1);
            if (text.size() >= 2 && text.front() == '"') text = text.substr(1, text.size() - 2);
            out.push_back(text + " " + c.args.at(0));
        }
        return out;
    }
    using Strings = std::vector<std::string>;

    std::unique_ptr<StoryRunner> runner_;
    std::unique_ptr<TestCut> cut_;
    std::vector<std::vector<J3D_Note>> notes_;
};

TEST_F(CutEvents, FramesOfThirtyThreeMilliseconds) {
    Notes(0, {{5000, "start 1"}});
    Inst3D* inst = Playing(0);
    SetClock(kClock + 100);
    J3D_CutEventRun(inst);
    EXPECT_EQ(Events(), (Strings{"frame 1", "frame 2", "frame 3"}));
    EXPECT_EQ(inst->jobStamp, kClock + 100);
    EXPECT_EQ(inst->pos.x, 100);  // stepped
    // The next frame goes on where this one stopped.
    runner_->calls.clear();
    SetClock(kClock + 140);
    J3D_CutEventRun(inst);
    EXPECT_EQ(Events(), (Strings{"frame 4", "frame 5"}));
}

TEST_F(CutEvents, APathWithoutNotesRaisesNothingButSteps) {
    Inst3D* inst = Playing(0);
    SetClock(kClock + 500);
    J3D_CutEventRun(inst);
    EXPECT_TRUE(runner_->calls.empty());
    EXPECT_EQ(inst->pos.x, 500);
}

TEST_F(CutEvents, NotesAfterThePreviousStepUpToNow) {
    Notes(0, {{100, "event early"}, {200, "event late"}, {300, "event next"}});
    Inst3D* inst = Playing(0, 0);  // no frames without a story object
    inst->jobStamp = kClock + 100;
    SetClock(kClock + 200);
    inst->storyObject = kObject;
    runner_->calls.clear();
    LogCapture log;
    J3D_CutEventRun(inst);
    EXPECT_EQ(Events(), (Strings{"frame 4", "frame 5", "frame 6", "frame 7", "late 0"}));
    EXPECT_TRUE(log.Contains("Sent CutEvent t=200 late\n"));
}

TEST_F(CutEvents, NotesPastTheJobsEndAreNotRaised) {
    Notes(0, {{100, "event in"}, {300, "event out"}});
    Inst3D* inst = Playing(0, 0);
    inst->jobTo = 200;
    inst->jobFlags |= JOB_END_TIME_ONLY;
    SetClock(kClock + 400);
    inst->storyObject = kObject;
    J3D_CutEventRun(inst);
    Strings events = Events();
    EXPECT_EQ(events.back(), "in 0");
}

TEST_F(CutEvents, ClocksAcrossTheWrap) {
    Notes(0, {{100, "event wrapped"}});
    SetClock(QEL_ANGLE_FULL - 50);
    Inst3D* inst = Playing(0);
    SetClock(50);
    J3D_CutEventRun(inst);
    EXPECT_EQ(Events(), (Strings{"frame 1", "frame 2", "frame 3", "wrapped 0"}));
    EXPECT_EQ(inst->pos.x, 100);
}

TEST_F(CutEvents, SpeakDurationsAndMinusOneWhenFinishing) {
    Notes(0, {{100, "event  speak hello  "},
              {400, "start 2"},
              {900, "end speak"},
              {1000, "event speak again"},
              {1200, "event speak last"},
              {1500, "event speak more"},
              {1700, "endspeak"}});
    Inst3D* inst = Playing(0);
    LogCapture log;
    for (int32_t i = 0; i < 7; ++i) J3D_DoNodeTrackCommand(inst, &cut_->path(0), i);
    EXPECT_EQ(Events(), (Strings{"speak hello 800", "endspeak 0", "speak again 0", "speak last 0", "speak more 200"}));
    EXPECT_TRUE(log.Contains("Sent CutEvent t=100 speak hello\n"));
    EXPECT_TRUE(log.Contains("Sent CutEvent endspeak\n"));
    runner_->calls.clear();
    inst->jobFlags |= JOB_EVENT_MINUS_ONE;
    J3D_DoNodeTrackCommand(inst, &cut_->path(0), 0);
    J3D_DoNodeTrackCommand(inst, &cut_->path(0), 2);
    EXPECT_EQ(Events(), (Strings{"speak hello -1", "endspeak -1"}));
}

TEST_F(CutEvents, NotesAtAGivenTime) {
    Notes(0, {{100, "event a"}, {200, "event b"}, {100, "event c"}});
    Inst3D* inst = Playing(0);
    J3D_InstDoNotes(inst, 100);
    EXPECT_EQ(Events(), (Strings{"a 0", "c 0"}));
}

TEST_F(CutEvents, UnknownAndQuietNotes) {
    Notes(0, {{0, "lend 3"}, {0, "end 3"}, {0, "lstart 1"}, {0, "dance"}, {0, nullptr}});
    Inst3D* inst = Playing(0);
    LogCapture log;
    for (int32_t i = 0; i < 5; ++i) J3D_DoNodeTrackCommand(inst, &cut_->path(0), i);
    EXPECT_TRUE(runner_->calls.empty());
    EXPECT_TRUE(log.Contains("Unknown nodetrack command [dance]\n"));
    EXPECT_TRUE(log.Contains("Unknown nodetrack command []\n"));
    EXPECT_FALSE(log.Contains("[lend"));
}

// After FinishAllJobs the notes up to the end come with -1, and the job ends.
TEST_F(CutEvents, FinishedJobsSendMinusOneAndEnd) {
    Notes(0, {{3000, "event last"}});
    Inst3D* inst = Playing(0, 0);
    inst->jobTo = 4000;
    inst->jobFlags |= JOB_END_TIME_ONLY;
    SetClock(kClock + 500);
    J3D_CutEventRun(inst);
    J3D_FinishAllJobs();
    inst->storyObject = kObject;
    runner_->calls.clear();
    SetClock(kClock + 520);
    J3D_CutEventRun(inst);
    EXPECT_EQ(Events().back(), "last -1");
    EXPECT_FALSE(inst->jobFlags & JOB_EVENT_MINUS_ONE);
    EXPECT_TRUE(inst->jobFlags & JOB_STOPPED);
}

TEST_F(CutEvents, CameraNotesMoveTheBoundInstance) {
    Scene3D* scene = B3D_SceneAlloc();
    Camera3D* camera = B3D_CameraAlloc();
    B3D_SceneLinkInst(scene, camera);
    cut_->path(1).name = const_cast<char*>("Shot");
    Notes(0, {{100, "camera  shot"}});
    // Path 1 runs ahead: x = 2 * time.
    std::vector<J3D_MotionKey> ahead(2);
    ahead[1].time = 10000;
    ahead[1].value[0] = 20000;
    cut_->path(1).posKeys = ahead.data();
    Inst3D* shot = Playing(1, 0);
    PutInScene(scene, shot);
    J3D_JobStartInst(&camera->inst, 0, 0, cut_->cut(), 0, 0);
    SetClock(kClock + 200);
    LogCapture log;
    J3D_TakesUpdate();
    EXPECT_TRUE(log.Contains("Switching to Camera shot\n"));
    EXPECT_TRUE(shot->jobFlags & JOB_DRIVES_BOUND);
    EXPECT_EQ(shot->boundInst, &camera->inst);
    // From the next frame on the shot drives the camera.
    SetClock(kClock + 250);
    J3D_TakesUpdate();
    EXPECT_EQ(g_J3DFrameList.count, 1);
    EXPECT_EQ(shot->pos.x, 500);
    EXPECT_EQ(camera->inst.pos.x, 500);
    // A name no path has.
    Notes(0, {{300, "camera nobody"}});
    SetClock(kClock + 300);
    J3D_TakesUpdate();
    EXPECT_TRUE(log.Contains("Can't switch to camera nobody, no path with that name found!\n"));
    EXPECT_FALSE(shot->jobFlags & JOB_DRIVES_BOUND);
}

TEST_F(CutEvents, TheFrameListHoldsAtMost1024) {
    for (int32_t i = 0; i < J3D_FRAME_LIST_MAX + 1; ++i) B3D_AllocInst()->jobFlags = JOB_DRIVES_BOUND;
    J3D_TakesUpdate();
    EXPECT_EQ(g_J3DFrameList.count, J3D_FRAME_LIST_MAX);
}

// "CutEvent" tasks that free instances: the walk looks every id up again.
TEST_F(CutEvents, EventsThatFreeInstancesDoNotStopTheWalk) {
    Scene3D* scene = B3D_SceneAlloc();
    Notes(0, {{50, "event one"}, {60, "event two"}});
    Notes(1, {{50, "event three"}});
    Inst3D* first = Playing(0);
    Inst3D* child = Playing(1);
    Inst3D* second = Playing(1);
    Inst3D* third = Playing(2);
    PutInScene(scene, first);
    Adopt(first, child);
    PutInScene(scene, second);
    PutInScene(scene, third);
    const uint32_t secondId = second->id, firstId = first->id;
    int32_t events = 0;
    runner_->handler = [&](SE_Task* task, int32_t, int32_t, ScriptValue*) {
        ++events;
        // The child's first event frees its parent's tree (itself with it),
        // then the next tree.
        if (Inst3D* f = B3D_InstFind(firstId)) B3D_InstFree(f);
        if (Inst3D* s = B3D_InstFind(secondId)) B3D_InstFree(s);
        SE_TaskReturnInt(task, 0);
        return 1;
    };
    SetClock(kClock + 100);
    J3D_TakesUpdate();
    EXPECT_EQ(events, 1);
    EXPECT_EQ(B3D_InstFind(firstId), nullptr);
    EXPECT_EQ(B3D_InstFind(secondId), nullptr);
    EXPECT_EQ(third->pos.x, 100);  // the walk went on
}

}  // namespace
