#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "base/display.h"
#include "base/general.h"
#include "base/memory.h"
#include "base/random.h"
#include "cockpit/galaxy.h"
#include "cockpit/cockpits.h"
#include "platform/dsound/seam.h"
#include "platform/win32/memory.h"
#include "platform/win32/timer.h"
#include "program/gamesound.h"
#include "program/main.h"
#include "program/movies.h"
#include "program/pcalls.h"
#include "base/standin_calls.h"
#include "program/startup.h"
#include "platform/win32/dialog.h"
#include "platform/win32/msgbox.h"
#include "scene/framedraw.h"
#include "scene/names.h"
#include "scene/replay.h"
#include "scene/smallops.h"
#include "scene/startup.h"
#include "scene/state.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "space/records.h"
#include "support/program.h"
#include "system/sound.h"
#include "system/timer.h"

namespace {

// The numbers a story draws first after a start-up at the given calendar clock.
std::vector<int32_t> FirstDrawsAfterStartAt(int64_t clock) {
    g_Win32TimeSeam = clock;
    Qel_SeedRandom(1);  // what a fresh process holds
    TempGameFolder folder;
    GeneralSession session;
    std::vector<int32_t> draws;
    for (int i = 0; i < 4; ++i) draws.push_back(Qel_Random(1000000));
    g_Win32TimeSeam = 0;
    return draws;
}

TEST(StartUpRandom, EachStartDrawsFromItsOwnClock) {
    const std::vector<int32_t> first = FirstDrawsAfterStartAt(1700000000);
    EXPECT_NE(FirstDrawsAfterStartAt(1700000001), first);
    EXPECT_EQ(FirstDrawsAfterStartAt(1700000000), first);  // the seed is the clock
}

// A test run with a fixed frame step repeats itself, pictures included (the
// dust, the AI's turns): its draws are the same whatever the clock says.
TEST(StartUpRandom, AFixedFrameStepDrawsAlikeAtAnyClock) {
    setenv("TREVAN_FRAME_MS", "50", 1);
    const std::vector<int32_t> first = FirstDrawsAfterStartAt(1700000000);
    const std::vector<int32_t> later = FirstDrawsAfterStartAt(1800000000);
    unsetenv("TREVAN_FRAME_MS");
    EXPECT_EQ(later, first);
}

using Calls = std::vector<std::string>;

// The calls of the program's own module stubs and of the stand-ins of
// subsystems 5 to 8, in order.
Calls ModuleCalls() {
    static const std::set<std::string> modules = {"B3D_Init",        "SFX_Init",      "P_LoadScreens", "MOV_Init",
                                                  "S_3DInit",        "B3DB_Init",     "GS_Init",       "SA_Init",
                                                  "SA_LoadObjectDB", "SFX_InitSounds"};
    Calls out;
    for (const std::string& c : StandIn_Calls())
        if (modules.count(c)) out.push_back(c);
    return out;
}

TEST(StartUp, StartsEveryModuleInItsOrder) {
    Win32_DialogSeamReset();
    ProgramSession session;
    EXPECT_EQ(ModuleCalls(), (Calls{"B3D_Init", "SFX_Init", "P_LoadScreens", "MOV_Init", "B3DB_Init", "GS_Init",
                                    "SA_Init", "SA_LoadObjectDB", "SFX_InitSounds"}));
    // The video display is opened with its own surfaces (flag 0x20): the
    // first view is its back buffer, which the scene engine keeps as its background.
    EXPECT_EQ(g_ScreenViews[0], Qel_GetVideoSurface(0));
    EXPECT_NE(g_ScreenViews[0], nullptr);
    EXPECT_EQ(g_B3DState->backgroundRecord, g_ScreenViews[0]);
    // "-noabout": no configuration story, no start dialog.
    EXPECT_EQ(Win32_DialogSeam().shown, 0);
}

TEST(StartUp, ModulesKeepTheirNumbers) {
    ProgramSession session;
    EXPECT_EQ(g_B3DState->moduleNumber, 2);
    EXPECT_EQ(g_PState->moduleNumber, 3);
    EXPECT_EQ(g_TimerBase->moduleNumber, 4);
    EXPECT_EQ(g_SfxState->moduleNumber, 5);
    EXPECT_EQ(g_MovieModule, 6);
    EXPECT_EQ(g_GalaxyGrid->moduleNumber, 7);
    EXPECT_EQ(g_SpaceRoot->moduleNumber, 8);
    EXPECT_EQ(g_ProgramState->ruzoModule, 9);
    EXPECT_EQ(g_CockpitModule.moduleNumber, 10);
    EXPECT_EQ(g_SEContext->nextModule, 11);
}

// Instance sounds (the ships' engines) are heard only under the system's
// 3D-sound flag: the audio start-up sets it when the device runs with a
// listener, and leaves it clear in a run without sound.
struct Sound3DCase {
    const char* name;
    std::vector<std::string> args;
    void (*setup)(DSoundSeam&);
    bool on;
};

void PrintTo(const Sound3DCase& c, std::ostream* os) { *os << c.name; }

class StartUpSound3D : public testing::TestWithParam<Sound3DCase> {};

TEST_P(StartUpSound3D, TurnsOnWhereTheDeviceHasAListener) {
    const Sound3DCase& c = GetParam();
    DSound_ResetSeam();
    if (c.setup) c.setup(DSound_Seam());
    {
        ProgramSession session(c.args);
        EXPECT_EQ((g_SystemState->SysFlags & SYS_FLAG_3D_SOUND) != 0, c.on);
        EXPECT_EQ(S_Sound3DAvailable(), c.on);
        EXPECT_GT(g_SystemState->Num3DSounds, 0);
    }
    DSound_ResetSeam();
}

INSTANTIATE_TEST_SUITE_P(
    Audio, StartUpSound3D,
    testing::Values(Sound3DCase{"Device", {}, nullptr, true}, Sound3DCase{"SoundSwitchedOff", {"-s"}, nullptr, false},
                    Sound3DCase{"NoDevice", {}, [](DSoundSeam& s) { s.failCreate = true; }, false},
                    Sound3DCase{"NoListener", {}, [](DSoundSeam& s) { s.failListener = true; }, false}),
    [](const testing::TestParamInfo<Sound3DCase>& info) { return info.param.name; });

TEST(StartUp, SetsTheFirstRunAndTheStartUpFlags) {
    ProgramSession session({"-obj", "5", "-par", "77", "-profi"});
    EXPECT_STREQ(g_ProgramState->storyName, "trevanintro");
    EXPECT_EQ(g_ProgramState->startMode, 5);
    EXPECT_EQ(g_ProgramState->startScene, 77);
    EXPECT_NE(g_SystemState->SysProfilingFlags & 0x200, 0u);
    EXPECT_NE(g_SystemState->textureFlags & 0x10000, 0u);
    EXPECT_EQ(Int_GetMemoryFlushHook(), &P_MemoryFlushHook);
}

TEST(StartUp, TheMovieModuleKeepsItsNumberWithoutAMovieTable) {
    // A configuration without movies must not shift the numbers of the modules
    // after it: saved games keep module numbers.
    ProgramSession session;
    S_FreeMovies();
    g_Win32MemorySeam.failHeapAllocs = 2;
    const int32_t next = g_SEContext->nextModule;
    EXPECT_EQ(MOV_Init(), nullptr);
    g_Win32MemorySeam.failHeapAllocs = 0;
    EXPECT_EQ(g_MovieModule, next);
    EXPECT_EQ(g_SEContext->nextModule, next + 1);
    EXPECT_NE(g_SEContext->modules[next].handler, nullptr);
}

struct FailureCase {
    const char* name;
    P_StartupStep step;
    bool noAbout;
    int reason;
    const char* line;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class StartUpFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(StartUpFailure, EndsWithItsExitReason) {
    const FailureCase& c = GetParam();
    TempGameFolder folder;
    WriteStory(folder, P_CONFIG_STORY, kQuietIntroStory);
    ProgramArgs args(c.noAbout ? std::vector<std::string>{"-noabout"} : std::vector<std::string>{});
    EXPECT_EXIT(
        {
            PrintMessageBoxesAtExit();
            g_StartupFailStep = c.step;
            P_StartUp(args.argc(), args.argv());
            std::exit(99);
        },
        testing::ExitedWithCode(c.reason), c.line);
}

std::string FailureName(const testing::TestParamInfo<FailureCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Steps, StartUpFailure,
    testing::Values(FailureCase{"General", P_STEP_INIT_GENERAL, true, 5, "EXIT\\(5\\)"},
                    FailureCase{"ScriptEngine", P_STEP_SCRIPT_ENGINE, true, 12, "nach init video.*EXIT\\(12\\)"},
                    FailureCase{"ScriptEngineBeforeDialog", P_STEP_SCRIPT_ENGINE, false, 12, "EXIT\\(12\\)"},
                    FailureCase{
                        "ConfigStory", P_STEP_CONFIG_STORY, false, 1,
                        "Can't load story trevanconfig!.*File not found.*EXIT\\(1\\).*Message box: File not found"},
                    FailureCase{"DialogCancelled", P_STEP_START_DIALOG, false, 0, "EXIT\\(0\\)"},
                    FailureCase{"Video", P_STEP_VIDEO, true, 7, "EXIT\\(7\\).*Message box: Error opening video"},
                    FailureCase{"SceneEngine", P_STEP_SCENE_ENGINE, true, 30, "EXIT\\(30\\)"},
                    FailureCase{"Input", P_STEP_INPUT, true, 6, "EXIT\\(6\\)"},
                    FailureCase{"Audio", P_STEP_AUDIO, true, 2, "EXIT\\(2\\)"},
                    FailureCase{"ProgramModule", P_STEP_PROGRAM_MODULE, true, 9, "EXIT\\(9\\)"},
                    FailureCase{"GameSound", P_STEP_GAME_SOUND, true, 20, "EXIT\\(20\\)"},
                    FailureCase{"Screens", P_STEP_SCREENS, true, 1, "error opening gfx resources.*EXIT\\(1\\)"},
                    FailureCase{"Renderer", P_STEP_RENDERER, true, 7, "EXIT\\(7\\)"},
                    FailureCase{"Materials", P_STEP_MATERIALS, true, 7, "B3D_PrepareMaterials: Error.*EXIT\\(7\\)"}),
    FailureName);

TEST(StartUpFailure, AMissingConfigurationStoryEndsWithReasonOne) {
    TempGameFolder folder;
    ProgramArgs args({});
    EXPECT_EXIT(
        {
            P_StartUp(args.argc(), args.argv());
            std::exit(99);
        },
        testing::ExitedWithCode(1), "Error in SE_LoadLocation.*Can't load story trevanconfig!.*EXIT\\(1\\)");
}

TEST(StartUpFailure, TheConfigurationStoryRunsBeforeTheDialog) {
    TempGameFolder folder;
    WriteStory(folder, P_CONFIG_STORY, kQuietIntroStory);
    ProgramArgs args({});
    EXPECT_EXIT(
        {
            Win32_DialogSeamReset().driver = [](HWND dialog, int) { Win32_DialogClick(dialog, IDCANCEL); };
            P_StartUp(args.argc(), args.argv());
            std::exit(99);
        },
        testing::ExitedWithCode(0), "SB_LoadLocation\\(\\) loading story file trevanconfig.*EXIT\\(0\\)");
}

TEST(StartUp, TheDemoDialogShowsTheTextsItsConfigurationStoryLoaded) {
    const char* binaryDir = std::getenv("TREVAN_BINARY_DIR");
    ASSERT_NE(binaryDir, nullptr);
    TempGameFolder folder;
    std::filesystem::copy(std::filesystem::path(binaryDir) / "demo", folder.Path(),
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
    ProgramArgs args({});
    EXPECT_EXIT(
        {
            Win32_DialogSeamReset().driver = [](HWND dialog, int) {
                std::fprintf(stderr, "dialog: %s / %s / %s\n", Win32_DialogCaption(dialog).c_str(),
                             Win32_DialogControl(dialog, IDOK)->text.c_str(),
                             Win32_DialogControl(dialog, 1249)->text.c_str());
                Win32_DialogClick(dialog, IDCANCEL);
            };
            P_StartUp(args.argc(), args.argv());
            std::exit(99);
        },
        testing::ExitedWithCode(0), "dialog: Trevan / Start / Check for Updates\n.*EXIT\\(0\\)");
}

TEST(StartUpFailure, LowMemoryEndsNormallyWithItsMessage) {
    TempGameFolder folder;
    ProgramArgs args({"-noabout"});
    EXPECT_EXIT(
        {
            PrintMessageBoxesAtExit();
            Win32MemorySeam& seam = g_Win32MemorySeam;
            seam.statusOverridden = true;
            seam.status = MEMORYSTATUS{};
            seam.status.dwTotalPhys = 128ull << 20;
            seam.status.dwTotalPageFile = 100ull << 20;
            P_StartUp(args.argc(), args.argv());
            std::exit(99);
        },
        testing::ExitedWithCode(0), "EXIT\\(0\\).*Message box: Your machine is low on virtual memory");
}

}  // namespace
