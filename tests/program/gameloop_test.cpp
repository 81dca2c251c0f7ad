#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/general.h"
#include "base/log.h"
#include "base/strings.h"
#include "cockpit/cockpits.h"
#include "program/gameloop.h"
#include "program/main.h"
#include "program/shell.h"
#include "base/standin_calls.h"
#include "program/startup.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "space/objects.h"
#include "support/program.h"
#include "system/standin_fields.h"
#include "system/video.h"
#include "platform/d3d9/seam.h"

namespace {

using Calls = std::vector<std::string>;

const Calls kFrame = {"SFX_VBI",
                      "MOV_CheckFinished",
                      "J3D_TakesUpdate",
                      "SA_UpdateSpace",
                      "O_DeleteKilledChildren",
                      "EO_MoveExplObjects",
                      "INS_UpdateAllCockpits",
                      "B3D_DrawObjects"};
const Calls kPausedFrame = {"SFX_VBI", "MOV_CheckFinished", "EO_MoveExplObjects", "INS_UpdateAllCockpits",
                            "B3D_DrawObjects"};
const Calls kEnd = {"EO_FreeExplosions", "EO_FreeEffects", "SFX_ReleaseSounds", "SA_FreeAllObjects"};
const Calls kIdleFrame = {"SFX_VBI", "MOV_CheckFinished"};
const Calls kLocationReset = {"SFX_IntFreeSample", "B3D_ReplayFreeAll", "MOV_FreeAllMovies", "MOV_FreeVoices"};

Calls Join(std::initializer_list<Calls> parts) {
    Calls out;
    for (const Calls& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The test's requests, made by the hook when the named call has been seen
// `count` times.
struct Request {
    const char* call = nullptr;
    int count = 0;
    void (*action)() = nullptr;
    int seen = 0;
};
Request s_requests[4];

void Hook(const char* call) {
    for (Request& r : s_requests)
        if (r.call && std::strcmp(r.call, call) == 0 && ++r.seen == r.count && r.action) r.action();
}

void RequestLoadSlot7Extra2() {
    g_ProgramState->requestBits |= P_REQUEST_LOAD;
    g_ProgramState->requestedSlot = 7;
    g_ProgramState->extraValue = 2;
}

void RequestLoadSlot4() {
    g_ProgramState->requestBits |= P_REQUEST_LOAD;
    g_ProgramState->requestedSlot = 4;
    g_ProgramState->extraValue = 0;
}

class GameLoopTest : public testing::Test {
protected:
    void SetUp() override {
        for (Request& r : s_requests) r = Request{};
        // One sector and one other object in space: the sector's killed
        // children are deleted every frame.
        O_AllocObject(SA_TypeCode(SA_MT_SECTOR, 0));
        O_AllocObject(SA_TypeCode(SA_MT_BACKGROUND, 0));
        StandIn_ClearCalls();
        StandIn_SetHook(Hook);
    }
    void On(int i, const char* call, int count, void (*action)()) { s_requests[i] = Request{call, count, action}; }

    ProgramSession session_;
};

bool s_cockpitsInFrame = false;
void NoteCockpits() { s_cockpitsInFrame = g_CockpitSystem != nullptr; }

TEST_F(GameLoopTest, FramesRunInTheirOrderUntilALoadIsRequested) {
    On(0, "B3D_DrawObjects", 2, RequestLoadSlot7Extra2);
    On(1, "J3D_TakesUpdate", 1, NoteCockpits);
    s_cockpitsInFrame = false;
    EXPECT_EQ(CL_GameLoop(), 307);
    // The run's cockpit system lives from before the first frame to the end.
    EXPECT_TRUE(s_cockpitsInFrame);
    EXPECT_EQ(g_CockpitSystem, nullptr);
    const Calls start = {"MOV_StopPlayingMovies", "GS_ClearGalaxy"};
    const Calls lastFrame(kFrame.begin(), kFrame.begin() + 5);
    EXPECT_EQ(StandIn_Calls(), Join({start,
                                     kLocationReset,
                                     kIdleFrame,
                                     {"EO_Init"},
                                     kIdleFrame,
                                     kIdleFrame,
                                     kFrame,
                                     kFrame,
                                     lastFrame,
                                     kEnd,
                                     kLocationReset}));
    EXPECT_EQ(g_ProgramState->requestBits & P_REQUEST_LOAD, 0u);
    EXPECT_EQ(g_SpaceRoot->running, 1);
    EXPECT_EQ(g_StopFlag, 1);
}

TEST_F(GameLoopTest, PausedFramesLeaveTakesAndSpaceAlone) {
    g_ProgramState->requestBits |= P_REQUEST_PAUSE;
    On(0, "B3D_DrawObjects", 2, RequestLoadSlot4);
    EXPECT_EQ(CL_GameLoop(), 104);
    const Calls lastFrame(kPausedFrame.begin(), kPausedFrame.begin() + 2);
    EXPECT_EQ(CallsFrom("EO_Init"),
              Join({{"EO_Init"}, kIdleFrame, kIdleFrame, kPausedFrame, kPausedFrame, lastFrame, kEnd, kLocationReset}));
    // The intro story's input step never clears the pause.
    EXPECT_NE(g_ProgramState->requestBits & P_REQUEST_PAUSE, 0u);
}

void LateAnswerOfFive() { Ruzo_ReturnInt(0, 5); }

TEST(GameLoopResultWord, AStaleResultNeverEndsTheLoop) {
    // "Input" waits for an engine call. A result that reached the result word
    // before it started (a late answer of "Run") is not taken for Input's.
    ProgramSession session({}, R"(
.func "_Init" need 1
    c0
    ret
.object 9
.func "Run" need 1
    c0
    ret
.func "Input" need 2
    c0
    sys "Test_Wait"
    ret
)");
    RegisterTestModule();
    for (Request& r : s_requests) r = Request{};
    s_requests[0] = Request{"J3D_TakesUpdate", 1, LateAnswerOfFive};
    s_requests[1] = Request{"B3D_DrawObjects", 3, RequestLoadSlot4};
    StandIn_SetHook(Hook);
    EXPECT_EQ(CL_GameLoop(), 104);
}

void RequestSaveAndLoad() {
    ProgramState* ps = g_ProgramState;
    ps->requestBits |= P_REQUEST_SAVE;
    ps->requestedSlot = 3;
    ps->saveName1 = Qel_StrDup("First");
    ps->saveName2 = Qel_StrDup("Second");
    ps->saveValue = 17;
    RequestLoadSlot4();
}

TEST_F(GameLoopTest, ASaveAndALoadInOneFrameSaveFirst) {
    On(0, "SA_UpdateSpace", 1, RequestSaveAndLoad);
    EXPECT_EQ(CL_GameLoop(), 104);
    // The save begins by freeing the object effects; the loop ends right after it.
    const Calls calls = CallsFrom("EO_FreeObjectEffects");
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "EO_FreeObjectEffects");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "B3D_DrawObjects"), 0);
    EXPECT_EQ(g_CockpitSystem, nullptr);
    EXPECT_EQ(g_ProgramState->saveName1, nullptr);
    EXPECT_EQ(g_ProgramState->saveName2, nullptr);
    EXPECT_EQ(g_ProgramState->requestBits & (P_REQUEST_SAVE | P_REQUEST_LOAD), 0u);
}

int32_t s_detailAtDraw = -1;
int32_t s_detailAtCapture = -1;
int s_presentsAtDraw = -1;
int s_presentsAtCapture = -1;
void RequestCapture() { g_FrameCaptureRequest = 1; }
void NoteDraw() {
    s_detailAtDraw = g_SysStandIn.detailLevel;
    s_presentsAtDraw = g_D3D9Seam.presentCount;
}
void NoteCapture() {
    s_detailAtCapture = g_SysStandIn.detailLevel;
    s_presentsAtCapture = g_D3D9Seam.presentCount;
}
// The capture folder lies below a plain file, so every capture logs its
// failure at the moment it runs.
int s_captures = 0;
void NoteCaptureLine(const char* text, size_t length, void*) {
    if (std::string(text, length).find("Error capturing frame") == std::string::npos) return;
    ++s_captures;
    NoteCapture();
}

TEST_F(GameLoopTest, ACaptureFrameIsDrawnAtFullDetail) {
    const struct {
        bool captureBeforePresent;
        int presentsBeforeCapture;
    } cases[] = {{false, 1}, {true, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.captureBeforePresent);
        g_SystemState->VideoD3DFlags |= 0x800000;  // automatic quality keeps the level
        g_SysStandIn.detailLevel = 40;
        g_DetailState = {};
        if (c.captureBeforePresent) g_VideoRecord->flags |= 0x8000000;
        else g_VideoRecord->flags &= ~0x8000000u;
        for (Request& r : s_requests) r = Request{};
        On(0, "J3D_TakesUpdate", 1, RequestCapture);
        On(1, "B3D_DrawObjects", 1, NoteDraw);
        On(3, "B3D_DrawObjects", 2, RequestLoadSlot4);
        std::fclose(std::fopen("plain", "w"));
        g_SystemState->captureFolder = Qel_StrReassign(g_SystemState->captureFolder, "plain/shots");
        s_captures = 0;
        Qel_SetLogCapture(NoteCaptureLine, nullptr);
        EXPECT_EQ(CL_GameLoop(), 104);
        Qel_SetLogCapture(nullptr, nullptr);
        EXPECT_EQ(s_detailAtDraw, 100);
        EXPECT_EQ(s_detailAtCapture, 40);  // back before the present
        EXPECT_EQ(s_presentsAtCapture - s_presentsAtDraw, c.presentsBeforeCapture);
        EXPECT_EQ(g_FrameCaptureRequest, 0);
        EXPECT_EQ(s_captures, 1);
        StandIn_ClearCalls();
        g_SystemState->VideoD3DFlags &= ~0x800000u;
    }
}

// The story's control cockpit, made in the first frame, holds a ship outside
// any sector; the steering stops its turning in the frame's input step.
SectorObject* s_steered = nullptr;
int32_t s_turnAfterInput = -1;
void MakeControlCockpit() {
    s_steered = O_AllocObject(SA_TypeCode(SA_MT_SHIP, 0));
    s_steered->rotSpeed[0] = 99;
    const uint32_t id = INS_AddCockpit(g_CockpitSystem);
    INS_TableGet(g_CockpitSystem, id)->refObject = s_steered;
    g_CockpitSystem->activeControl = static_cast<int32_t>(id);
}
void NoteTurn() { s_turnAfterInput = s_steered->rotSpeed[0]; }

TEST_F(GameLoopTest, GameStoriesSteerThroughThePauseStep) {
    P_SetStoryName("trevanintro");
    g_ProgramOptions.introStory = Qel_StrReassign(g_ProgramOptions.introStory, "otherintro");
    g_ProgramState->startMode = 2100;
    On(0, "B3D_DrawObjects", 2, RequestLoadSlot4);
    On(1, "J3D_TakesUpdate", 1, MakeControlCockpit);
    On(2, "EO_MoveExplObjects", 1, NoteTurn);
    s_turnAfterInput = -1;
    EXPECT_EQ(CL_GameLoop(), 104);
    EXPECT_EQ(s_turnAfterInput, 0);
}

class DetailTest : public testing::Test {
protected:
    void SetUp() override {
        g_DetailState = {};
        g_SysStandIn.detailLevel = 50;
        g_SystemState->VideoD3DFlags |= 0x800000;
        general_.State()->upperFpsLimit = 60.0;
        general_.State()->lowerFpsLimit = 20.0;
    }
    void TearDown() override {
        g_SystemState->VideoD3DFlags &= ~0x800000u;
        g_SysStandIn.detailLevel = 100;
    }
    // The detail level after each evaluation (every fourth frame).
    std::vector<int32_t> Evaluations(int32_t frameMs, int count) {
        std::vector<int32_t> levels;
        general_.State()->gameFrameDelta = frameMs;
        for (int frame = 0; frame < count * 4; ++frame) {
            P_AdaptDetailLevel();
            if (frame % 4 == 3) levels.push_back(g_SysStandIn.detailLevel);
        }
        return levels;
    }
    TempGameFolder folder_;
    GeneralSession general_;
};

TEST_F(DetailTest, FastFramesRaiseTheLevelAtEveryEvaluation) {
    EXPECT_EQ(Evaluations(5, 4), (std::vector<int32_t>{55, 60, 65, 70}));  // 200 fps
}

TEST_F(DetailTest, SlightlyFastFramesRaiseItOnTheSixthEvaluation) {
    EXPECT_EQ(Evaluations(15, 7), (std::vector<int32_t>{50, 50, 50, 50, 50, 55, 55}));  // 66 fps
}

TEST_F(DetailTest, SlowFramesLowerItAndTheLevelStaysInRange) {
    EXPECT_EQ(Evaluations(100, 2), (std::vector<int32_t>{45, 40}));  // 10 fps
    g_SysStandIn.detailLevel = 100;
    EXPECT_EQ(Evaluations(5, 1), (std::vector<int32_t>{100}));
}

TEST_F(DetailTest, WithoutAutomaticQualityTheLevelIsFull) {
    g_SystemState->VideoD3DFlags &= ~0x800000u;
    EXPECT_EQ(Evaluations(100, 1), (std::vector<int32_t>{100}));
}

TEST_F(DetailTest, ScaledGameTimeCountsInRealTime) {
    general_.State()->gameTimeScale = 4 * 0x10000;  // 20 ms of game time are 5 ms real
    EXPECT_EQ(Evaluations(20, 1), (std::vector<int32_t>{55}));
}

TEST(BenchmarkFrame, TheFirstFrameAndFilesOpenedDuringAFrameDoNotLowerTheMinimum) {
    TempGameFolder folder;
    GeneralSession general;
    ProgramState ps{};
    ps.benchmarkRunning = 1;
    ps.benchmarkScene = 2;
    g_ProgramState = &ps;
    g_BenchmarkTable[2] = {};
    SystemState* sys = general.State();
    const struct {
        int32_t fps;
        bool fileOpened;
        float minimum, maximum;
    } frames[] = {// The scene's first frame: its rate was taken before the scene began.
                  {1000, false, 0, 0}, {1, false, 0, 1},   {40, false, 40, 40},
                  {30, true, 40, 40},  {70, true, 40, 70}, {35, false, 35, 70}};
    for (const auto& f : frames) {
        sys->instantFps = f.fps;
        sys->SysProfilingFlags = f.fileOpened ? 0x4000 : 0;
        P_BenchmarkFrame();
        EXPECT_EQ(g_BenchmarkTable[2].minimum, f.minimum) << f.fps;
        EXPECT_EQ(g_BenchmarkTable[2].maximum, f.maximum) << f.fps;
    }
    EXPECT_EQ(ps.benchmarkFrames, 6u);
    g_BenchmarkTable[2] = {};
    g_ProgramState = nullptr;
}

}  // namespace
