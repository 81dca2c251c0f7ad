// The game loop and the start-mode loop driven by real stories: the story's
// functions note their calls through the test module.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/strings.h"
#include "program/gameloop.h"
#include "program/main.h"
#include "base/standin_calls.h"
#include "program/startup.h"
#include "support/program.h"
#include "system/window.h"

namespace {

using Notes = std::vector<std::string>;

// Object 9 notes "Init", "Run" and "Stop"; its "Input" answers `result` on
// the third frame. "_Init" notes the story name it is given.
std::string IntroStory(int result) {
    return R"(
.func "_Init" need 3
    getl 4
    c1
    sys "Test_Note"
    pop
    c0
    ret
.object 9
.var "Frames" int 0
.func "Init" need 4
    getl 4
    pushds "Init"
    c2
    sys "Test_Note"
    pop
    c0
    ret
.func "Run" need 4
    getl 4
    pushds "Run"
    c2
    sys "Test_Note"
    pop
    c0
    ret
.func "Input" need 4
    getv 0
    c1
    add
    setv 0
    pushw 3
    ge
    jf more
    pushl )" +
           std::to_string(result) + R"(
    ret
more:
    c0
    ret
.func "Stop" need 3
    pushds "Stop"
    c1
    sys "Test_Note"
    pop
    c0
    ret
)";
}

TEST(StoryRun, IntroInputEndsTheRunWithItsResult) {
    ProgramSession session({}, IntroStory(7));
    RegisterTestModule();
    EXPECT_EQ(CL_GameLoop(), 7);
    EXPECT_EQ(TestNotes(), (Notes{"trevanintro", "Init 6005", "Run 6005", "Stop"}));
    EXPECT_EQ(g_SystemState->gameTimeScale, 0x10000);
}

TEST(StoryRun, UnservedShellAndProgramCallsAnswerZeroAndTheStoryGoesOn) {
    ProgramSession session({}, R"(
.object 9
.func "Run" need 4
    c0
    sys "Ruzo_GraphicSettings"
    c0
    sys "P_ClearEngineFlags"
    add
    pushds "Run"
    c2
    sys "Test_Note"
    pop
    c0
    ret
.func "Input" need 1
    c3
    ret
)");
    RegisterTestModule();
    EXPECT_EQ(CL_GameLoop(), 3);
    EXPECT_EQ(TestNotes(), (Notes{"Run 0"}));
}

// "MouseInput" and "InputMouseDelta" note their arguments.
const char* const kViewerStory = R"(
.object 3
.func "Input" need 1
    c0
    ret
.func "InputMouseDelta" need 5
    getl 5
    getl 5
    pushds "Delta"
    c3
    sys "Test_Note"
    pop
    c0
    ret
.func "MouseInput" need 6
    getl 6
    getl 6
    getl 6
    pushds "Mouse"
    c4
    sys "Test_Note"
    pop
    c0
    ret
)";

void MouseMoved() {
    if (g_InputState) g_InputState->mouseDX = 4;
}
void RequestLoad() { g_ProgramState->requestBits |= P_REQUEST_LOAD; }

TEST(StoryRun, ViewersGetTheMouseThroughMouseInput) {
    ProgramSession session({"-obj", "3", "-par", "12"}, kViewerStory);
    RegisterTestModule();
    static int frames;
    frames = 0;
    StandIn_SetHook([](const char* call) {
        if (std::string(call) == "SFX_VBI") MouseMoved();
        if (std::string(call) == "B3D_DrawObjects" && ++frames == 1) RequestLoad();
    });
    EXPECT_EQ(CL_GameLoop(), 100);
    // One frame: the mouse moved right by 4.
    EXPECT_EQ(TestNotes(), (Notes{"Delta 4 0", "Mouse 280 0 0", "Mouse 281 0 0", "Mouse 285 4 0", "Delta 4 0",
                                  "Mouse 280 0 0", "Mouse 281 0 0", "Mouse 285 4 0"}));
}

// A story of object 2100 run through the game loop from start-up, with the
// hook on the stand-ins' calls.
struct GameRun {
    int result;
    int32_t stopFlag;
    int drawn;  // frames drawn
};
GameRun RunGameStory(const char* text, void (*hook)(const char*) = nullptr) {
    ProgramSession session;
    WriteStory(session.Folder(), "trevanstory", text);
    P_SetStoryName("trevanstory");
    g_ProgramState->startMode = 2100;
    StandIn_SetHook(hook);
    GameRun run{CL_GameLoop(), g_StopFlag, 0};
    StandIn_SetHook(nullptr);
    for (const std::string& c : StandIn_Calls()) run.drawn += c == "B3D_DrawObjects";
    return run;
}

// A game story: object 2100's "Input" answers -1 on its second frame.
const char* const kGameStory = R"(
.object 2100
.var "Frames" int 0
.func "Input" need 3
    getv 0
    c1
    add
    setv 0
    c2
    ge
    jf more
    pushw -1
    ret
more:
    c0
    ret
)";

TEST(StoryRun, AGameStoryStopsWhenInputAnswersMinusOne) {
    const GameRun run = RunGameStory(kGameStory);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.stopFlag, 1);
    // One whole frame was drawn; the second ended at the input step.
    EXPECT_EQ(run.drawn, 1);
}

// Object 2100's "Input" answers -1 for mouse button 0 (code 280), which only
// the steering reports.
const char* const kMouseStopStory = R"(
.object 2100
.func "Input" need 3
    getl 4
    pushw 280
    eq
    jf more
    pushw -1
    ret
more:
    c0
    ret
)";

void HoldMouseButton(const char* call) {
    if (std::strcmp(call, "MOV_CheckFinished") == 0) g_InputState->mouseButtons |= 1;
}

TEST(StoryRun, InputAnsweringMinusOneToTheSteeringEndsTheLoopAfterTheFrame) {
    const GameRun run = RunGameStory(kMouseStopStory, HoldMouseButton);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.stopFlag, 1);
    // The frame in which the steering heard -1 was drawn whole.
    EXPECT_EQ(run.drawn, 1);
}

// The start-mode loop from start-up to the exit, in a child process.
class MainRun : public testing::Test {
protected:
    void Run(const std::string& intro, int status, const char* output) {
        WriteStory(folder_, "trevanintro", intro);
        ProgramArgs args({"-noabout"});
        EXPECT_EXIT(P_Main(args.argc(), args.argv()), testing::ExitedWithCode(status), output);
    }
    TempGameFolder folder_;
};

TEST_F(MainRun, ThreeEndsTheProgram) { Run(IntroStory(3), 0, "Stop.*EXIT\\(0\\)!!!"); }

TEST_F(MainRun, OneStartsTheGameStory) {
    Run(IntroStory(1), 1, "main\\(\\) starting normal game game 1.*Can't load story trevanstory!.*EXIT\\(1\\)");
}

TEST_F(MainRun, HundredsLoadASaveGame) {
    Run(IntroStory(305), 29, "main\\(\\) Trying to load savegame #205.*EXIT\\(29\\)");
}

}  // namespace
