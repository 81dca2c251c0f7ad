#include "system/clock.h"

#include <cstdlib>

#include "base/general.h"
#include "base/log.h"
#include "base/angles.h"
#include "platform/win32/timer.h"

static uint32_t s_ticksPerMs = 0;
static int64_t s_lastCounter = 0;
static int32_t s_pendingStep = 0;
static int32_t s_lastGameClock = 0;
static int32_t s_lastRealClock = 0;
static uint32_t s_fpsFramesAtAverage = 0;
static int32_t s_fpsAccumulatedMs = 0;
static uint32_t s_fpsFramesAtUpdate = 0;
static int32_t s_fixedStep = 0;
static uint32_t s_fixedStepFrame = 0;

namespace {
constexpr int32_t kMaxGameStep = 200;
}

// A long stall or a script value may hand over any delta; it is reduced by whole
// turns of the clock first, so the result always lies inside the span.
int32_t S_ClockAdvance(int32_t clock, int32_t delta) {
    int32_t c = clock % S_CLOCK_SPAN;
    if (c < 0) c += S_CLOCK_SPAN;
    return Qel_AngleAdd(delta % S_CLOCK_SPAN, c);
}

int32_t S_ClockDiff(int32_t a, int32_t b) { return Qel_AngleDiff(a, b); }

int S_InitTimer() {
    SystemState* sys = g_SystemState;
    sys->gameTimeScale = 65536;
    S_SetFixedFrameStep(S_ParseFrameStep(std::getenv("TREVAN_FRAME_MS")));
    int64_t frequency = 0;
    if (!QueryPerformanceFrequency(&frequency)) {
        Qel_ErrPrintf("S_InitTimer() Unable to QueryPerformanceFrequency()\n");
        return 0;
    }
    Qel_DPrintf(0, "QPF frequency: %f MHz\n", static_cast<double>(frequency) / 1000000.0);
    // A counter slower than 1 kHz gives 0 ticks per ms: real time then stands
    // still and game time moves by the minimum step (see S_ReadSystemClock).
    s_ticksPerMs = static_cast<uint32_t>(frequency / 1000);
    QueryPerformanceCounter(&s_lastCounter);
    s_fpsFramesAtAverage = sys->frameCounter;
    s_fpsFramesAtUpdate = sys->frameCounter;
    s_fpsAccumulatedMs = 0;
    S_GetTimeDelta();
    S_GetRealTimeDelta();
    return 1;
}

int32_t S_ReadSystemClock() {
    SystemState* sys = g_SystemState;
    int64_t counter = 0;
    if (!QueryPerformanceCounter(&counter)) {
        Qel_ErrPrintf("S_ReadSystemClock() Unable to QueryPerformanceCounter()\n");
        return 0;
    }
    uint64_t ms = 0;
    if (s_ticksPerMs != 0) {
        uint64_t elapsed = static_cast<uint64_t>(counter - s_lastCounter);
        ms = elapsed / s_ticksPerMs;
        s_lastCounter = counter - static_cast<int64_t>(elapsed % s_ticksPerMs);
    } else {
        s_lastCounter = counter;
    }
    sys->realClock = S_ClockAdvance(sys->realClock, static_cast<int32_t>(ms % S_CLOCK_SPAN));

    // With a fixed frame step the frame's first reading stands for the whole
    // frame: later readings add nothing, so n frames are exactly n steps.
    const bool fixedFrameSeen = s_fixedStep != 0 && s_fixedStepFrame == sys->frameCounter;
    if (s_fixedStep != 0) {
        s_fixedStepFrame = sys->frameCounter;
        ms = static_cast<uint64_t>(s_fixedStep);
    }
    int32_t step;
    if (s_pendingStep != 0) {
        step = s_pendingStep;
        s_pendingStep = 0;
    } else if (fixedFrameSeen) {
        step = 0;
    } else {
        int64_t clamped = ms < 1 ? 1 : (ms > kMaxGameStep ? kMaxGameStep : static_cast<int64_t>(ms));
        step = static_cast<int32_t>((clamped * sys->gameTimeScale + 0x8000) >> 16);
    }
    sys->gameClock = S_ClockAdvance(sys->gameClock, step);
    return sys->realClock;
}

static int32_t ReadDelta(int32_t clock, int32_t& lastSeen) {
    int32_t d = S_ClockDiff(clock, lastSeen);
    lastSeen = clock;
    return (d >= 1 && d <= 32767) ? d : 1;
}

int32_t S_GetTimeDelta() {
    S_ReadSystemClock();
    return ReadDelta(g_SystemState->gameClock, s_lastGameClock);
}

int32_t S_GetRealTimeDelta() { return ReadDelta(g_SystemState->realClock, s_lastRealClock); }

void S_ResetTimeDeltas() {
    S_GetTimeDelta();
    S_GetRealTimeDelta();
}

int32_t S_SetTimeStep(int32_t ms) {
    s_pendingStep = ms;
    return ms;
}

int32_t S_FixedFrameStep() { return s_fixedStep; }

void S_SetFixedFrameStep(int32_t ms) {
    s_fixedStep = ms > 0 ? ms : 0;
    s_fixedStepFrame = g_SystemState ? g_SystemState->frameCounter : 0;
}

int32_t S_ParseFrameStep(const char* text) {
    if (!text || !*text) return 0;
    char* end = nullptr;
    const long ms = std::strtol(text, &end, 10);
    if (*end != '\0' || ms <= 0) return 0;
    return ms > kMaxGameStep ? kMaxGameStep : static_cast<int32_t>(ms);
}

void S_updateFpsTimer() {
    SystemState* sys = g_SystemState;
    if (sys->frameCounter <= s_fpsFramesAtUpdate) {
        Qel_DPrintf(4, "S_updateFpsTimer() already updated this frame\n");
        return;
    }
    if (sys->realFrameDelta != 0) {
        sys->instantFps = 1000 / sys->realFrameDelta;
        s_fpsAccumulatedMs += sys->realFrameDelta;
    }
    if (s_fpsAccumulatedMs > 999 || s_fpsAccumulatedMs < 0) {
        double frames = static_cast<double>(sys->frameCounter - s_fpsFramesAtAverage);
        double ms = static_cast<double>(static_cast<uint32_t>(s_fpsAccumulatedMs));
        sys->averageFps = static_cast<int32_t>(frames * 1000.0 / ms);
        s_fpsFramesAtAverage = sys->frameCounter;
        s_fpsAccumulatedMs = 0;
    }
    s_fpsFramesAtUpdate = sys->frameCounter;
}

int64_t S_CounterMicroseconds() {
    int64_t frequency = 0;
    int64_t counter = 0;
    if (!QueryPerformanceFrequency(&frequency) || frequency <= 0 || !QueryPerformanceCounter(&counter)) return 0;
    // Whole seconds and the rest apart, so a large counter does not overflow.
    return counter / frequency * 1000000 + counter % frequency * 1000000 / frequency;
}

void S_Sleep() { SleepEx(10, 0); }
