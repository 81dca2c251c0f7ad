// Real time in the game loop: a fixed frame step for headless runs, the
// frames' own times and the command line's benchmark run, and the figures the
// benchmark report gives of them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/general.h"
#include "base/standin_calls.h"
#include "platform/win32/timer.h"
#include "program/exit.h"
#include "program/gameloop.h"
#include "program/main.h"
#include "support/program.h"

namespace {

std::vector<int32_t> s_clocks;
std::vector<int32_t> s_deltas;

// Notes the game clock at each frame's takes and ends the run after 20 frames.
void NoteClock(const char* call) {
    if (std::strcmp(call, "J3D_TakesUpdate") != 0) return;
    s_clocks.push_back(g_SystemState->gameClock);
    s_deltas.push_back(g_SystemState->gameFrameDelta);
    if (s_clocks.size() == 20) g_StopFlag = 1;
}

// The switch the end-to-end test runs the demo with: 20 frames are 20 steps of
// game time, however long each really took.
TEST(FixedFrameStep, TheGameClockMovesOneStepEachFrameOfTheLoop) {
    setenv("TREVAN_FRAME_MS", "50", 1);
    ProgramSession session;
    unsetenv("TREVAN_FRAME_MS");
    s_clocks.clear();
    s_deltas.clear();
    StandIn_SetHook(NoteClock);
    CL_GameLoop();
    StandIn_SetHook(nullptr);
    ASSERT_EQ(s_clocks.size(), 20u);
    for (size_t i = 1; i < s_clocks.size(); ++i) {
        EXPECT_EQ(s_clocks[i] - s_clocks[i - 1], 50) << i;
        EXPECT_EQ(s_deltas[i], 50) << i;
    }
    EXPECT_EQ(P_GetFrameFigures().frames, 20u);
}

TEST(BenchmarkOption, RunsTheStartDialogsBenchmarkWithoutIt) {
    ProgramSession session({"-benchmark"});
    EXPECT_NE(g_SystemState->SysProfilingFlags & 0x10, 0u);
    EXPECT_NE(g_SystemState->SysProfilingFlags & 0x40, 0u);  // never saves the settings
    EXPECT_EQ(g_ProgramState->startScene, 6628);
}

// The report's figures beside the frame rates: the median frame, the first
// frame after the start and the peak memory. A frame lasts from present to
// present: the 5 ms the driver goes on filling after each present returns
// belong to the frame the player sees.
TEST(BenchmarkReport, GivesTheFrameTimesAndPeakMemory) {
    ProgramSession session;
    Win32TimerSeam seam{1000000000, 1000000, false, false};  // 1 MHz: 1000 ticks a ms
    Win32_SetTimerSeam(&seam);
    P_ResetFrameTimes();
    P_MarkProgramStart();
    seam.counter += 650000;
    int64_t since = P_FrameTimeStart();
    for (int ms : {10, 30, 20, 40}) {
        seam.counter += ms * 1000;  // from the frame's start to its present
        since = P_FrameTimeDone(since);
        seam.counter += 5000;
    }
    const P_FrameFigures unmeasured = P_GetFrameFigures();
    // Once the benchmark's scene runs, only its frames count: the 1 ms
    // frames before it and after it are the intro's and the exit's.
    for (int ms : {1, 1, 1}) {
        seam.counter += ms * 1000;
        since = P_FrameTimeDone(since);
    }
    g_ProgramState->benchmarkRunning = 1;
    for (int ms : {10, 30, 20, 40}) {
        seam.counter += ms * 1000;
        since = P_FrameTimeDone(since);
        seam.counter += 5000;
    }
    g_ProgramState->benchmarkRunning = 0;
    for (int ms : {1, 1, 1}) {
        seam.counter += ms * 1000;
        since = P_FrameTimeDone(since);
    }
    Win32_SetTimerSeam(nullptr);
    EXPECT_EQ(unmeasured.frames, 4u);
    EXPECT_DOUBLE_EQ(unmeasured.medianMs, 30.0);  // of 10, 35, 25 and 45 ms
    const P_FrameFigures figures = P_GetFrameFigures();
    EXPECT_EQ(figures.frames, 4u);
    EXPECT_DOUBLE_EQ(figures.medianMs, 30.0);
    EXPECT_EQ(figures.firstFrameMs, 660);  // to the end of the first frame
    EXPECT_GT(figures.peakMemoryMB, 0u);

    P_WriteBenchmarkReport();
    const std::vector<uint8_t> bytes = session.Folder().Read("qelperf.txt");
    const std::string text(bytes.begin(), bytes.end());
    const std::string figuresText =
        "Overall average framerate: 0.0 fps\n\nMedian frame time:\t 30.00 ms over 4 frames\n"
        "First frame after start: 660 ms\nPeak memory:\t\t " +
        std::to_string(figures.peakMemoryMB) + " MB\n\n\n";
    EXPECT_NE(text.find(figuresText), std::string::npos) << text;
}

}  // namespace
