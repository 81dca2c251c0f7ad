#include "program/gameloop.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/display.h"
#include "base/imagefiles.h"
#include "base/strings.h"
#include "cockpit/cockpits.h"
#include "cockpit/effects.h"
#include "cockpit/explosions.h"
#include "cockpit/galaxy.h"
#include "cockpit/update.h"
#include "program/exit.h"
#include "program/gamesound.h"
#include "program/main.h"
#include "program/movies.h"
#include "program/pcalls.h"
#include "program/savegame.h"
#include "program/startup.h"
#include "scene/framedraw.h"
#include "scene/names.h"
#include "scene/replay.h"
#include "scene/smallops.h"
#include "scene/startup.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "script/loader.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "space/objects.h"
#include "space/queries.h"
#include "system/clock.h"
#include "system/keys.h"
#include "system/settings.h"
#include "system/standin_fields.h"
#include "system/timer.h"
#include "system/video.h"
#include "system/window.h"

int32_t g_StopFlag = 0;
int32_t g_FrameCaptureRequest = 0;
int32_t g_KeyHandled = 0;
int32_t g_LastInputResult = 0;
P_BenchmarkRow g_BenchmarkTable[P_BENCHMARK_SCENES];
P_DetailState g_DetailState;

namespace {
// Mouse keys of the intro story's input step.
constexpr uint16_t KEY_MOUSE1 = 280;
constexpr uint16_t KEY_MOUSE2 = 281;
constexpr uint16_t KEY_MOUSE_DX = 285;
constexpr uint16_t KEY_MOUSE_DY = 286;
constexpr uint16_t KEY_WHEEL_UP = 294;
constexpr uint16_t KEY_WHEEL_DOWN = 295;

constexpr uint32_t PROFILING_FILE_OPENED = 0x4000;
constexpr uint32_t D3D_AUTO_QUALITY = 0x800000;
constexpr uint32_t SCENE_ENVMAP_DRAWN = 0x80;
constexpr uint32_t VIDEO_CAPTURE_BEFORE_PRESENT = 0x8000000;

// The frames' real times in microseconds, and the start they are counted from.
struct FrameTimes {
    int64_t programStart = 0;
    bool startMarked = false;
    int32_t firstFrameMs = -1;
    std::vector<uint32_t> frameUs;
    std::vector<uint32_t> sceneUs;  // those drawn while a benchmark scene ran
};
FrameTimes s_frameTimes;

bool IsViewerMode(int32_t mode) {
    return mode == P_MODE_BODY_VIEWER || mode == P_MODE_CUT_VIEWER || mode == P_MODE_EFFECT_VIEWER;
}

bool RunningIntroStory() {
    const ProgramState* ps = g_ProgramState;
    const char* intro = g_ProgramOptions.introStory;
    return ps->storyName && intro && Qel_StrICmp(ps->storyName, intro) == 0;
}

// The integer a story function left, 0 for anything else.
int32_t ResultInt() {
    const ScriptValue& r = g_ProgramState->result;
    return r.tag == VARTYPE_INTEGER ? r.i : 0;
}

// The intro story's input step; answers a non-zero "Input" result that ends the loop.
int32_t IntroInput() {
    ProgramState* ps = g_ProgramState;
    const int32_t mode = ps->startMode;
    if (g_B3DState) g_B3DState->engineFlags &= ~SCENE_ENVMAP_DRAWN;
    uint16_t key = S_GetKey();
    const InputState* in = g_InputState;
    if (!IsViewerMode(mode) && in) {
        if (in->buttonLeft) key = KEY_MOUSE1;
        else if (in->buttonRight) key = KEY_MOUSE2;
        if (in->mouseDZ > 0) key = KEY_WHEEL_UP;
        else if (in->mouseDZ < 0) key = KEY_WHEEL_DOWN;
    }
    if (in && (in->mouseDX != 0 || in->mouseDY != 0))
        P_RunStoryFunction(mode, "InputMouseDelta", 2, in->mouseDX, in->mouseDY);
    P_RunStoryFunction(mode, "Input", 1, key);
    int32_t result = ResultInt();
    if (result != 0) return result;
    if (IsViewerMode(mode) && in) {
        P_RunStoryFunction(mode, "MouseInput", 3, KEY_MOUSE1, in->buttonLeft, in->buttonLeft);
        P_RunStoryFunction(mode, "MouseInput", 3, KEY_MOUSE2, in->buttonRight, 0);
        if (in->mouseDX != 0) P_RunStoryFunction(mode, "MouseInput", 3, KEY_MOUSE_DX, in->mouseDX, 0);
        if (in->mouseDY != 0) P_RunStoryFunction(mode, "MouseInput", 3, KEY_MOUSE_DY, in->mouseDY, 0);
    }
    return 0;
}

void PendingSave() {
    ProgramState* ps = g_ProgramState;
    Qel_DPrintf(0, "gameloop() Saving game %d name %s\n", ps->requestedSlot, ps->saveName1 ? ps->saveName1 : "");
    ps->requestBits &= ~P_REQUEST_SAVE;
    int saved = P_Save(ps->requestedSlot, ps->saveName1, ps->saveName2, ps->saveValue);
    ps->saveName1 = Qel_StrFree(ps->saveName1);
    ps->saveName2 = Qel_StrFree(ps->saveName2);
    if (!P_RunStoryFunction(ps->startMode, "SaveFinished2", 1, saved)) {
        Qel_DPrintf(0, "CL_GameLoop() Story doesn't have SaveFinished2() yet, using SaveFinished() instead!\n");
        P_RunStoryFunction(ps->startMode, "SaveFinished", 0);
    }
}

void Present() {
    if (!g_FrameCaptureRequest) {
        Qel_UpdateScreen();
        return;
    }
    if (g_VideoRecord && (g_VideoRecord->flags & VIDEO_CAPTURE_BEFORE_PRESENT)) {
        P_CaptureScreen();
        Qel_UpdateScreen();
    } else {
        Qel_UpdateScreen();
        P_CaptureScreen();
    }
    g_FrameCaptureRequest = 0;
}

// Sets up the run: a save game or a fresh story. Answers 1 when frames may follow.
void StartRun() {
    ProgramState* ps = g_ProgramState;
    MOV_StopPlayingMovies();
    if (g_GalaxyGrid) GS_ClearGalaxy(g_GalaxyGrid);
    if (ps->loadFlag) {
        ps->loadFlag = 0;
        EO_Init();
        P_InitLoadingScreen();
        P_ShowNextLoadingScreen();
        P_Load(P_SlotOfLoadScene(ps->startScene));
        P_RunStoryFunction(ps->startMode, "Restart", 1, ps->startScene);
        return;
    }
    P_SetLocationState(0);
    if (!g_SEContext || !SB_LoadLocation(g_SEContext, ps->storyName)) {
        Qel_DPrintf(0, "Error in SE_LoadLocation\n");
        Qel_DPrintf(0, "Can't load story %s!\n", ps->storyName ? ps->storyName : "");
        Qel_DPrintf(0, "%s", P_ExitReasonText(1));
        P_Exit(1);
    }
    P_RunInitScript(ps->storyName);
    EO_Init();
    P_RunStoryFunction(ps->startMode, "Init", 1, ps->startScene);
    if (g_SpaceRoot) SA_SetRunning(g_SpaceRoot);
    INS_NewCockpitSystem();
    P_RunStoryFunction(ps->startMode, "Run", 1, ps->startScene);
    P_IdleFrame();
    P_IdleFrame();
}

void EndRun() {
    ProgramState* ps = g_ProgramState;
    SE_Run(0, 0, ps->startMode, "Stop", 1, 0);
    EO_FreeExplosions();
    EO_FreeEffects();
    SFX_ReleaseSounds();
    if (g_SpaceRoot) SA_FreeAllObjects(g_SpaceRoot);
    INS_FreeCockpitSystem();
    P_SetLocationState(0);
    g_SystemState->gameTimeScale = 0x10000;
    S_GetKey();
}
}  // namespace

int P_RunStoryFunction(int32_t object, const char* name, int argc, int32_t a0, int32_t a1, int32_t a2) {
    ProgramState* ps = g_ProgramState;
    // A result left by an earlier function must not be taken for this one's:
    // a function that is missing or waits leaves 0.
    ps->answered = 0;
    SV_Release(&ps->result);
    SV_AssignInt(&ps->result, 0);
    return SE_Run(ps->ruzoModule, 0, object, name, 1, argc, a0, a1, a2);
}

void P_BenchmarkFrame() {
    ProgramState* ps = g_ProgramState;
    SystemState* sys = g_SystemState;
    if (!ps->benchmarkRunning || ps->benchmarkScene < 0 || ps->benchmarkScene >= P_BENCHMARK_SCENES) return;
    P_BenchmarkRow& row = g_BenchmarkTable[ps->benchmarkScene];
    // The first frame's rate was taken when the frame began, before the scene
    // did: it measured the time before the scene (often a moment, 1000 fps).
    if (++ps->benchmarkFrames == 1) return;
    const auto fps = static_cast<uint32_t>(sys->instantFps);
    if (sys->SysProfilingFlags & PROFILING_FILE_OPENED) {
        Qel_DPrintf(0, "skipping\n");
    } else if (row.minimum == 0.0f) {
        if (fps > 1) row.minimum = static_cast<float>(fps);
    } else {
        row.minimum = std::min(row.minimum, static_cast<float>(fps));
    }
    row.maximum = std::max(row.maximum, static_cast<float>(fps));
}

int64_t P_FrameTimeStart() { return S_CounterMicroseconds(); }

void P_MarkProgramStart() {
    s_frameTimes.programStart = S_CounterMicroseconds();
    s_frameTimes.startMarked = true;
}

int64_t P_FrameTimeDone(int64_t periodStartUs) {
    const int64_t now = S_CounterMicroseconds();
    FrameTimes& t = s_frameTimes;
    if (t.firstFrameMs < 0 && t.startMarked)
        t.firstFrameMs = static_cast<int32_t>(std::max<int64_t>(now - t.programStart, 0) / 1000);
    const auto us = static_cast<uint32_t>(std::clamp<int64_t>(now - periodStartUs, 0, UINT32_MAX));
    t.frameUs.push_back(us);
    if (g_ProgramState && g_ProgramState->benchmarkRunning) t.sceneUs.push_back(us);
    return now;
}

void P_ResetFrameTimes() { s_frameTimes = FrameTimes{}; }

P_FrameFigures P_GetFrameFigures() {
    const FrameTimes& t = s_frameTimes;
    // The benchmark's scenes are what it measures: the intro's cheap frames
    // before them would pull the median down.
    const std::vector<uint32_t>& measured = t.sceneUs.empty() ? t.frameUs : t.sceneUs;
    P_FrameFigures f{static_cast<uint32_t>(measured.size()), 0.0, t.firstFrameMs, S_GetPeakMemoryMB()};
    if (!measured.empty()) {
        std::vector<uint32_t> sorted = measured;
        const size_t mid = sorted.size() / 2;
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(mid), sorted.end());
        double median = sorted[mid];
        if (sorted.size() % 2 == 0) {
            const uint32_t below = *std::max_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(mid));
            median = (median + below) / 2.0;
        }
        f.medianMs = median / 1000.0;
    }
    return f;
}

void P_AdaptDetailLevel() {
    SystemState* sys = g_SystemState;
    P_DetailState& d = g_DetailState;
    int32_t& level = g_SysStandIn.detailLevel;
    double t = sys->gameFrameDelta;
    if (sys->gameTimeScale > 0x10000) {
        // Game time runs faster than real time: bring the frame back to real ms.
        t = static_cast<double>((static_cast<int64_t>(sys->gameFrameDelta) << 16) / sys->gameTimeScale);
    }
    if (d.samples != 0) t = (t + d.average) * 0.5;
    d.average = t;
    if (!(g_SystemState->VideoD3DFlags & D3D_AUTO_QUALITY)) {
        level = 100;
        return;
    }
    if (d.samples < 3) {
        d.samples++;
        return;
    }
    const double fps = d.average > 0.0 ? 1000.0 / d.average : 1000.0;
    d.samples = 0;
    if (fps > sys->upperFpsLimit) {
        d.lowCount = 0;
        int32_t n = fps > 1.2 * sys->upperFpsLimit ? 5 : d.highCount;
        d.highCount = n + 1;
        if (n > 4 && level < 100) {
            level = std::min(level + 5, 100);
            d.highCount = 0;
        }
    } else if (fps < sys->lowerFpsLimit) {
        d.highCount = 0;
        int32_t n = fps < 0.8 * sys->lowerFpsLimit ? 5 : d.lowCount;
        d.lowCount = n + 1;
        if (n > 4 && level > 0) {
            level = std::max(level - 5, 0);
            d.lowCount = 0;
        }
    }
}

int CL_GameLoop() {
    ProgramState* ps = g_ProgramState;
    SystemState* sys = g_SystemState;
    g_StopFlag = 0;
    int32_t result = 0;
    StartRun();

    int64_t periodStart = -1;  // the last present of this run
    while (!g_StopFlag) {
        if (periodStart < 0) periodStart = P_FrameTimeStart();
        sys->SysProfilingFlags &= ~PROFILING_FILE_OPENED;
        sys->frameCounter++;
        const bool paused = ps->requestBits & P_REQUEST_PAUSE;
        if (paused) {
            S_GetTimeDelta();
            S_GetRealTimeDelta();
        }
        Timer_Update();
        S_ProcessMessages();
        SFX_VBI();
        SE_RunAllTasks();
        MOV_CheckFinished();
        if (!paused) {
            J3D_TakesUpdate();
            SA_UpdateSpace();
            SA_DeleteKilledObjects();
        }

        if (RunningIntroStory()) {
            int32_t r = IntroInput();
            if (r != 0) {
                result = r;
                break;
            }
        } else if (!P_Pause()) {
            g_StopFlag = 1;
            result = 0;
            break;
        }

        if (ps->requestBits & P_REQUEST_SAVE) PendingSave();
        if (ps->requestBits & P_REQUEST_LOAD) {
            Qel_DPrintf(0, "gameloop() Loading game %d\n", ps->requestedSlot);
            ps->requestBits &= ~P_REQUEST_LOAD;
            result = P_LoadResult(ps->requestedSlot, static_cast<int32_t>(ps->extraValue));
            g_StopFlag = 1;
            break;
        }

        const int32_t detail = g_SysStandIn.detailLevel;
        if (g_FrameCaptureRequest) g_SysStandIn.detailLevel = 100;
        EO_MoveExplObjects();
        INS_UpdateAllCockpits();
        B3D_DrawObjects();
        if (g_FrameCaptureRequest) g_SysStandIn.detailLevel = detail;
        P_AdaptDetailLevel();
        Present();
        periodStart = P_FrameTimeDone(periodStart);
        P_BenchmarkFrame();
        if (sys->frameCounter == 1) ps->benchmarkScene = 0;
    }

    EndRun();
    return result;
}
