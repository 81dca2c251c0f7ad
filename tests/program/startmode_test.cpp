#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/general.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/table.h"
#include "program/main.h"
#include "base/standin_calls.h"
#include "program/startup.h"
#include "scene/framedraw.h"
#include "scene/names.h"
#include "scene/replay.h"
#include "scene/smallops.h"
#include "scene/startup.h"
#include "scene/state.h"
#include "support/gamefolder.h"
#include "support/program.h"

namespace {

// The ProgramState and options as start-up leaves them, over a general state;
// every story has its own name so the table's choices can be told apart.
class StartModeTest : public testing::Test {
protected:
    void SetUp() override {
        auto* ps = Int_AllocRecord<ProgramState>(0);
        ASSERT_NE(ps, nullptr);
        g_ProgramState = P_InitGlobals(ps);
        ParseOptions({"-location", "Game", "-tutorial", "Mission", "-galedit", "Editor", "-intro", "Intro"});
        P_SetStoryName("Current");
        ps->startMode = 1;
        ps->startScene = 1;
    }
    void TearDown() override {
        FreeProgramState();
        P_FreeOptions(&g_ProgramOptions);
        StandIn_Reset();
    }
    void ParseOptions(std::vector<std::string> args) {
        ProgramArgs a(std::move(args));
        P_ParseOptions(a.argc(), a.argv(), &g_ProgramOptions);
    }
    void SetStringParameter(const char* text) {
        g_ProgramState->stringParameter = Qel_StrReassign(g_ProgramState->stringParameter, text);
    }

    TempGameFolder folder_;
    GeneralSession general_;
};

struct RunCase {
    int result;
    const char* story;
    int32_t mode;
    int32_t scene;
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << "result " << c.result; }

std::string RunCaseName(const testing::TestParamInfo<RunCase>& info) {
    const int r = info.param.result;
    return (r < 0 ? "Minus" : "Result") + std::to_string(r < 0 ? -r : r);
}

class StartModeTable : public StartModeTest, public testing::WithParamInterface<RunCase> {};

TEST_P(StartModeTable, ChoosesTheNextRun) {
    const RunCase& c = GetParam();
    ASSERT_EQ(P_ChooseNextRun(c.result), P_RUN_ON);
    EXPECT_STREQ(g_ProgramState->storyName, c.story);
    EXPECT_EQ(g_ProgramState->startMode, c.mode);
    EXPECT_EQ(g_ProgramState->startScene, c.scene);
    EXPECT_EQ(g_ProgramState->loadFlag, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Results, StartModeTable,
    testing::Values(RunCase{1, "Game", 2100, -1}, RunCase{90, "Game", 2100, -2}, RunCase{11, "Mission", 2100, 11},
                    RunCase{12, "Mission", 2100, 12}, RunCase{13, "Mission", 2100, 13},
                    RunCase{21, "Mission", 2100, 21}, RunCase{22, "Mission", 2100, 22},
                    RunCase{23, "Mission", 2100, 23}, RunCase{31, "Mission", 2100, 31},
                    RunCase{32, "Mission", 2100, 32}, RunCase{33, "Mission", 2100, 33},
                    RunCase{99, "Mission", 2100, 99}, RunCase{8, "Editor", 2100, -2}, RunCase{2, "Intro", 3, 0},
                    RunCase{5, "Intro", 7, 0}, RunCase{7, "Intro", 9, 6000}, RunCase{9, "Intro", 9, 6000},
                    RunCase{10, "Current", 9, 6700}, RunCase{4, "Intro", 4, 9000}, RunCase{6, "Intro", 4, 4000},
                    RunCase{89, "Intro", 11, 0}, RunCase{-3, "Intro", 9, 6004}, RunCase{-2, "Intro", 8, 950},
                    RunCase{0, "Intro", 8, 950}, RunCase{-1, "Intro", 8, 950}, RunCase{-4, "Intro", 8, 950},
                    RunCase{42, "Intro", 8, 950}, RunCase{98, "Intro", 8, 950}),
    RunCaseName);

TEST_F(StartModeTest, ThreeEndsTheProgramNormally) { EXPECT_EQ(P_ChooseNextRun(3), 0); }

TEST_F(StartModeTest, MenuScenesComeFromTheStringParameter) {
    SetStringParameter("12abc");
    ASSERT_EQ(P_ChooseNextRun(7), P_RUN_ON);
    EXPECT_EQ(g_ProgramState->startScene, 12);
    SetStringParameter("no number");
    ASSERT_EQ(P_ChooseNextRun(9), P_RUN_ON);
    EXPECT_EQ(g_ProgramState->startScene, 6000);
    SetStringParameter("6620");
    ASSERT_EQ(P_ChooseNextRun(9), P_RUN_ON);
    EXPECT_EQ(g_ProgramState->startMode, 9);
    EXPECT_EQ(g_ProgramState->startScene, 6620);
}

TEST_F(StartModeTest, CutCaptureRunsMenuValueNineInModeSix) {
    ParseOptions({"-intro", "Intro", "-cutcapture"});
    ASSERT_EQ(P_ChooseNextRun(9), P_RUN_ON);
    EXPECT_EQ(g_ProgramState->startMode, 6);
    ASSERT_EQ(P_ChooseNextRun(7), P_RUN_ON);
    EXPECT_EQ(g_ProgramState->startMode, 9);
}

TEST_F(StartModeTest, HundredsLoadASaveGameKeepingStoryAndMode) {
    for (auto [result, scene] : {std::pair{100, 0}, std::pair{305, 205}}) {
        SCOPED_TRACE(result);
        g_ProgramState->loadFlag = 0;
        ASSERT_EQ(P_ChooseNextRun(result), P_RUN_ON);
        EXPECT_EQ(g_ProgramState->loadFlag, 1u);
        EXPECT_EQ(g_ProgramState->startScene, scene);
        EXPECT_STREQ(g_ProgramState->storyName, "Current");
        EXPECT_EQ(g_ProgramState->startMode, 1);
    }
}

TEST_F(StartModeTest, ABenchmarkEndsOnEveryValueOutsideTheTableAndOnMinusTwo) {
    g_SystemState->SysProfilingFlags |= 0x10;
    for (int result : {-2, 0, -1, 42, 100, 305}) {
        SCOPED_TRACE(result);
        EXPECT_EQ(P_ChooseNextRun(result), 36);
    }
    EXPECT_EQ(P_ChooseNextRun(7), P_RUN_ON);
    EXPECT_EQ(P_ChooseNextRun(3), 0);
}

TEST_F(StartModeTest, AViewerRunsItsStoryOnce) {
    ParseOptions({"-body", "ships\\objects\\v\\x.bod"});
    g_ProgramOptions.firstMode = 3;
    for (int result : {0, 42, 100}) EXPECT_EQ(P_ChooseNextRun(result), 0);
    EXPECT_EQ(P_ChooseNextRun(1), P_RUN_ON);
    // A viewer whose body was unknown keeps the normal choice.
    g_ProgramOptions.firstMode = -1;
    EXPECT_EQ(P_ChooseNextRun(0), P_RUN_ON);
}

struct FirstRunCase {
    const char* name;
    uint32_t profiling;
    std::vector<std::string> args;
    int32_t mode;
    int32_t scene;
};

TEST_F(StartModeTest, FirstRun) {
    const FirstRunCase cases[] = {
        {"normal", 0, {}, 9, 6005},
        {"benchmark", 0x10, {}, 9, 6628},
        {"dumped bodies", 0x1000, {}, 10, 0},
        {"obj and par", 0x10, {"-obj", "5", "-par", "77"}, 5, 77},
        {"obj -1", 0, {"-obj", "-1", "-par", "77"}, 9, 6005},
        {"par alone", 0, {"-par", "77"}, 9, 6005},
    };
    for (const FirstRunCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-intro", "Intro"});
        ParseOptions(args);
        g_SystemState->SysProfilingFlags = c.profiling;
        P_ChooseFirstRun();
        EXPECT_STREQ(g_ProgramState->storyName, "Intro");
        EXPECT_EQ(g_ProgramState->startMode, c.mode);
        EXPECT_EQ(g_ProgramState->startScene, c.scene);
    }
}

TEST_F(StartModeTest, BodyViewerLooksUpTheNameAfterObjects) {
    ParseOptions({"-body", "ships\\objects\\NULL"});
    P_StartViewers();
    EXPECT_EQ(g_ProgramOptions.firstMode, -1);  // no body leaves the first run alone

    ParseOptions({"-body", "ships\\objects\\42.bod"});
    P_StartViewers();
    EXPECT_EQ(g_ProgramOptions.firstMode, 3);
    EXPECT_EQ(g_ProgramOptions.firstScene, 42);
    EXPECT_EQ(g_SystemState->SysProfilingFlags & 0x3, 0x3u);
}

TEST_F(StartModeTest, PlotSceneViewerReadsTheSceneFromTheName) {
    const std::pair<const char*, int32_t> cases[] = {
        {"00120.txt", 120}, {"plot\\objects\\cut\\00077.dat", 77}, {"scene.txt", 6000}, {"0.5", 6000}};
    for (auto [name, scene] : cases) {
        SCOPED_TRACE(name);
        ParseOptions({"-plotscene", name});
        P_StartViewers();
        EXPECT_EQ(g_ProgramOptions.firstMode, 9);
        EXPECT_EQ(g_ProgramOptions.firstScene, scene);
    }
}

TEST_F(StartModeTest, ALaterViewerWinsTheModeAndTheLastSceneStays) {
    ParseOptions({"-cut", "9.cut", "-plotscene", "00120.txt", "-effect"});
    P_StartViewers();
    EXPECT_EQ(g_ProgramOptions.firstMode, 11);
    EXPECT_EQ(g_ProgramOptions.firstScene, 120);
}

}  // namespace
