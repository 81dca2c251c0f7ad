#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "base/general.h"
#include "platform/win32/msgbox.h"
#include "platform/win32/registry.h"
#include "platform/win32/signals.h"
#include "program/exit.h"
#include "program/gameloop.h"
#include "program/main.h"
#include "base/standin_calls.h"
#include "program/startup.h"
#include "scene/state.h"
#include "space/records.h"
#include "support/logcapture.h"
#include "support/program.h"

namespace {

struct ExitCase {
    int reason;
    int status;
    const char* line;
};

void PrintTo(const ExitCase& c, std::ostream* os) { *os << "reason " << c.reason; }

std::string ExitCaseName(const testing::TestParamInfo<ExitCase>& info) {
    return "Reason" + std::to_string(info.param.reason);
}

class ExitStatus : public testing::TestWithParam<ExitCase> {};

// The status tells a failure from a normal end; reasons past 255 never wrap to 0.
TEST_P(ExitStatus, IsTheReason) {
    const ExitCase& c = GetParam();
    EXPECT_EXIT(
        {
            PrintMessageBoxesAtExit();
            P_Exit(c.reason);
        },
        testing::ExitedWithCode(c.status), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, ExitStatus,
    testing::Values(ExitCase{0, 0, "=\nEXIT\\(0\\)!!!\n="}, ExitCase{3, 3, "EXIT\\(3\\)!!!"},
                    ExitCase{29, 29, "EXIT\\(29\\).*Message box: Error loading savegame, may be corrupt!\n"},
                    ExitCase{36, 0, "EXIT\\(36\\)!!!.*Message box: Trevan - Ostrala - 3D benchmark completed"},
                    ExitCase{37, 37, "EXIT\\(37\\)!!!"}, ExitCase{256, 255, "EXIT\\(256\\)!!!"},
                    ExitCase{0x10007, 7, "EXIT\\(7\\)!!!"}),
    ExitCaseName);

// A box that a stop signal ends while it is up (as one that blocked would be)
// ends the program with the reason it was about to give, and the log names
// the signal.
TEST(ExitBox, AStopSignalWhileTheBoxIsUpKeepsItsReason) {
    EXPECT_EXIT(
        {
            Win32_InstallStopSignals();
            Win32_MessageBoxSeamReset().stopSignal = SIGTERM;
            P_Exit(5);
        },
        testing::ExitedWithCode(5), "SIGTERM received: the program ends\n(.|\n)*EXIT\\(5\\)!!!");
}

// A failure's box says where the log that tells what failed and where is; the
// ends that went as asked do not.
TEST(ExitBox, AFailuresBoxSaysWhereTheLogIs) {
    ProgramSession session({"-o", "trevan.log"});
    const std::string log = std::filesystem::canonical(session.Folder().Path() + "/trevan.log").string();
    Win32MessageBoxSeam& boxes = Win32_MessageBoxSeamReset();
    P_Shutdown(1);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "File not found.\n\nThe log (" + log + ") says what failed and where.\n");
    boxes.shown.clear();
    P_Shutdown(35);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Deleting registry settings.\n");
}

TEST(ExitBox, WithoutALogFileTheBoxNamesStandardError) {
    ProgramSession session;
    Win32MessageBoxSeam& boxes = Win32_MessageBoxSeamReset();
    P_Shutdown(29);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text,
              "Error loading savegame, may be corrupt!\n\nThe log (standard error) says what failed and where.\n");
}

TEST(ExitGuard, SecondCallEndsAtOnce) {
    // A handler that runs while the process ends calls P_Exit again.
    EXPECT_EXIT(
        {
            std::atexit([] { P_Exit(9); });
            P_Exit(5);
        },
        testing::ExitedWithCode(9), "EXIT\\(5\\)!!!");
}

TEST(ExitReasons, Texts) {
    EXPECT_STREQ(P_ExitReasonText(0), "Ready.\n");
    EXPECT_STREQ(P_ExitReasonText(7),
                 "Error opening video.\nCheck your display settings!\nFurther information can be found in the manual "
                 "or readme.txt!\n");
    EXPECT_STREQ(P_ExitReasonText(34), "Error initialiting Movie replay");
    EXPECT_STREQ(P_ExitReasonText(37), "Generic error (custom string is displayed instead of this text)");
    EXPECT_EQ(P_ExitReasonText(38), nullptr);
    EXPECT_EQ(P_ExitReasonText(-1), nullptr);
}

using Calls = std::vector<std::string>;

// The calls of the stand-ins and stubs of the program's modules, in order.
Calls ModuleCalls() {
    static const std::set<std::string> ignored = {"S_SaveRegistrySettings", "S_CloseAudio",    "S_CloseIO",
                                                  "Qel_CloseVideo",         "S_SystemMessage", "TC_MemoryFlush"};
    Calls out;
    for (const std::string& c : StandIn_Calls())
        if (!ignored.count(c)) out.push_back(c);
    return out;
}

TEST(Shutdown, FreesTheModulesInOrder) {
    ProgramSession session;
    StandIn_ClearCalls();
    P_Shutdown(0);
    EXPECT_EQ(ModuleCalls(),
              (Calls{"EO_FreeExplosions", "EO_FreeEffects", "SA_FreeAllObjects", "SFX_IntFreeSample",
                     "B3D_ReplayFreeAll", "MOV_FreeAllMovies", "MOV_FreeVoices", "P_FreeScreens", "SA_ResetObjectDB",
                     "B3D_FreeTextureFormats", "SFX_Exit", "MOV_Exit", "SFX_FreeAllSamples"}));
    // The scene engine's tables went with the release of its bodies.
    ASSERT_NE(g_B3DState, nullptr);
    EXPECT_EQ(g_B3DState->cutTable, nullptr);
    EXPECT_EQ(g_B3DState->bodyIds.slots, nullptr);
    EXPECT_EQ(g_SEContext, nullptr);
    EXPECT_EQ(g_SpaceRoot, nullptr);
}

TEST(Shutdown, SettingsAreSavedOnlyAtANormalEnd) {
    const struct {
        int reason;
        uint32_t profiling;
        bool saved;
    } cases[] = {{0, 0, true}, {7, 0, false}, {0, 0x10 | 0x40, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        ProgramSession session;
        g_SystemState->SysProfilingFlags |= c.profiling;
        // Every write fails, so an attempt to save shows in the log.
        g_Win32RegistrySeam.failWrites = 1000;
        Win32MessageBoxSeam& boxes = Win32_MessageBoxSeamReset();
        LogCapture capture;
        P_Shutdown(c.reason);
        const std::string log = capture.Take();
        g_Win32RegistrySeam.failWrites = 0;
        EXPECT_EQ(log.find("Couldn't save registry settings.") != std::string::npos, c.saved);
        // Saved once: the settings' own end does not save them again.
        if (c.saved) {
            EXPECT_NE(g_SystemState->SysProfilingFlags & 0x40, 0u);
        }
        EXPECT_EQ(boxes.shown.size(), c.reason != 0 ? 1u : 0u);
    }
}

TEST(BenchmarkReport, WritesOneRowPerMeasuredScene) {
    ProgramSession session;
    g_SystemState->VideoD3DFlags &= ~0x800000u;
    g_SystemState->VideoD3DFlags2 = 0x80 | 0x800;
    g_BenchmarkTable[0] = {30.0f, 20.0f, 40.0f};
    g_BenchmarkTable[1] = {50.0f, 45.5f, 60.0f};
    g_BenchmarkTable[3] = {70.0f, 65.0f, 75.0f};  // scene 2 never ran
    EXPECT_DOUBLE_EQ(P_WriteBenchmarkReport(), 50.0);
    g_BenchmarkTable[0] = {};
    g_BenchmarkTable[1] = {};
    g_BenchmarkTable[3] = {};
    const std::vector<uint8_t> bytes = session.Folder().Read("qelperf.txt");
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.rfind("--------------------------\n     Trevan - Ostrala\n--------------------------\n", 0), 0u);
    EXPECT_NE(text.find("\tAuto Quality Control:\tdisabled\n"), std::string::npos);
    EXPECT_NE(
        text.find("\tHigh quality bumpmaps:\tenabled\n\tEnvironment mapping:\tenabled\n\tGlow Filter:\t\tenabled\n"
                  "\tShip Color Variations:\tdisabled\n\tmore dynamic Lights:\tenabled\n"),
        std::string::npos);
    EXPECT_NE(text.find("\nFramerates\n----"), std::string::npos);
    EXPECT_NE(text.find("  Scene\t 00\t 30.0 average fps\t 20.0 minimum fps\t 40.0 maximum fps\n"
                        "  Scene\t 01\t 50.0 average fps\t 45.5 minimum fps\t 60.0 maximum fps\n"
                        "  Scene\t 03\t 70.0 average fps\t 65.0 minimum fps\t 75.0 maximum fps\n\n"
                        "Overall average framerate: 50.0 fps\n"),
              std::string::npos);
    EXPECT_EQ(text.find("Scene\t 02"), std::string::npos);
}

// Runs a whole session to the end of a benchmark, in a death-test child: a
// forked copy of a running session would inherit the sound driver's thread
// state and can hang when it closes. Says at exit whether the report was written.
[[noreturn]] void EndBenchmarkSession() {
    static ProgramSession* session = new ProgramSession;
    g_BenchmarkTable[0] = {25.0f, 20.0f, 30.0f};
    std::atexit([] {
        std::fprintf(stderr, "report file: %s\n", session->Folder().Exists("qelperf.txt") ? "present" : "missing");
    });
    PrintMessageBoxesAtExit();
    P_Exit(36);
}

TEST(BenchmarkReport, TheEndOfABenchmarkRunWritesItAndSucceeds) {
    EXPECT_EXIT(EndBenchmarkSession(), testing::ExitedWithCode(0),
                "EXIT\\(36\\).*Results saved in qelperf.txt.\nOverall average framerate: 25.000 fps."
                "(.|\n)*report file: present");
}

}  // namespace
