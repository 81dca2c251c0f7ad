// The per-frame game loop: one story from its start to its end.
#pragma once

#include <cstdint>

// Runs the story named in the ProgramState (or loads the requested save game)
// frame by frame and answers the value the start-mode loop turns into the
// next run.
int CL_GameLoop();

// Starts a story function of the running start mode through the Ruzo module,
// caller 0, result kind 1, after clearing the answered flag and the result
// word. Answers SE_Run's result (0: the story has no such function).
int P_RunStoryFunction(int32_t object, const char* name, int argc, int32_t a0 = 0, int32_t a1 = 0, int32_t a2 = 0);

// One step of the automatic detail level, once per frame.
void P_AdaptDetailLevel();

// Program-wide words of the loop.
extern int32_t g_StopFlag;             // ends the frame loop
extern int32_t g_FrameCaptureRequest;  // set by Ruzo_CaptureFrame
extern int32_t g_KeyHandled;           // set by the steering, cleared by the input step
extern int32_t g_LastInputResult;      // the last "Input" result of the input step

// Benchmark rows: average, minimum and maximum frame rate per scene index.
struct P_BenchmarkRow {
    float average;
    float minimum;
    float maximum;
};
constexpr int P_BENCHMARK_SCENES = 64;
extern P_BenchmarkRow g_BenchmarkTable[P_BENCHMARK_SCENES];

// One frame's benchmark statistics (the frame rate from the SystemState).
void P_BenchmarkFrame();

// Real time of the frames, for the benchmark report: each frame of the loop
// as long as the player sees it, from the previous present to its own (the
// first frame of a run from its start), and the first present after the
// program's start. Once a benchmark scene has run, the figures count the
// frames drawn while one ran. A driver may return from the present before the picture
// is done and finish it while the next frame begins: counting from the
// frame's start would leave that time out.
void P_MarkProgramStart();
// Notes a present; answers its time, where the next frame's period starts.
int64_t P_FrameTimeDone(int64_t periodStartUs);  // microseconds of the performance counter
int64_t P_FrameTimeStart();                      // the counter now: a run's first period start
void P_ResetFrameTimes();
struct P_FrameFigures {
    uint32_t frames;        // frames measured
    double medianMs;        // 0 when none
    int32_t firstFrameMs;   // -1 when the start was not marked or nothing was shown
    uint32_t peakMemoryMB;  // the process's peak working set
};
P_FrameFigures P_GetFrameFigures();

// State of the adaptive detail step.
struct P_DetailState {
    uint16_t samples;
    double average;  // ms
    int32_t highCount;
    int32_t lowCount;
};
extern P_DetailState g_DetailState;
