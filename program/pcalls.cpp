#include "program/pcalls.h"

#include <cstring>

#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/table.h"
#include "cockpit/standin.h"
#include "program/exit.h"
#include "program/gameloop.h"
#include "program/gamesound.h"
#include "program/main.h"
#include "program/movies.h"
#include "base/standin_calls.h"
#include "program/startup.h"
#include "scene/standin.h"
#include "script/loader.h"
#include "script/lookup.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "system/clock.h"
#include "system/keys.h"
#include "system/timer.h"
#include "system/window.h"

PState* g_PState = nullptr;
EBM* g_ScreenViews[2] = {};

namespace {
const char* const s_pCallNames[] = {"P_LoadLocation",
                                    "P_Leave",
                                    "P_PrepareInterruption",
                                    "P_SetEngineFlags",
                                    "P_ClearEngineFlags",
                                    "P_GetSysFlags",
                                    "P_SetSysFlags",
                                    "P_GetSysD3DFlags",
                                    "P_SetSysD3DFlags",
                                    "P_GetSysD3DFlags2",
                                    "P_SetSysD3DFlags2",
                                    "P_GetSysProfilingFlags",
                                    "P_SetSysProfilingFlags",
                                    "P_ViewEBMFullscreen",
                                    "P_ViewLoadingScreen",
                                    "P_InitLoadingScreen",
                                    "P_ShowNextLoadingScreen",
                                    "P_ClearScreen",
                                    "P_GetLocalizedKey",
                                    "P_GetKeyName",
                                    "P_GetJoySensitivity",
                                    "P_SetJoySensitivity",
                                    "P_GetJoyDeadzone",
                                    "P_SetJoyDeadzone",
                                    "P_GetSysIORequirements",
                                    "P_SetSysIORequirements",
                                    nullptr};

// The key codes of the pause step.
constexpr uint16_t KEY_QUIT = 81;
constexpr uint16_t KEY_PAUSE = 80;
constexpr uint16_t KEY_PAUSE2 = 437;
}  // namespace

PState* P_Init() {
    Qel_DPrintf(0, "INIT: P_Init(); Anfang!\n");
    auto* state = Int_AllocRecord<PState>(0);
    if (!state) return nullptr;
    state->moduleNumber =
        g_SEContext ? SB_RegisterEngineModule(g_SEContext, P_SysCall, s_pCallNames, nullptr, nullptr, nullptr) : 0;
    g_PState = state;
    Qel_DPrintf(0, "INIT: P_Init(); Ende!\n");
    return state;
}

void P_FreeState() {
    if (g_PState) Int_FreeRecord(g_PState, 0);
    g_PState = nullptr;
}

const char* const* P_GetCallNames() { return s_pCallNames; }

// The calls are not served yet: each answers 0 as an undefined call does.
int32_t P_SysCall(int32_t, SE_Task* task, int32_t, int32_t, ScriptValue*) {
    const char* where = SE_GetCurrentDebugAddress();
    Qel_DPrintf(0, "P_SysCall (%s): Undefined System Call %d\n", where ? where : "invalid address",
                static_cast<int>(task->id));
    // Answered as every call is, so the task goes on with 0.
    SE_TaskReturnIntEx(task, g_SEContext, 0);
    return 1;
}

void P_SetLocationState(int flag) {
    if (g_TimerBase) Timer_ClearAll();
    if (g_SEContext) SB_FreeLocation(g_SEContext);
    if (g_SfxState) SFX_IntFreeSample(flag);
    if (g_B3DState) B3D_ReplayFreeAll();
    if (g_MovieModule) {
        MOV_FreeAllMovies();
        MOV_FreeVoices();
    }
}

int P_LoadLocation(const char* name) {
    P_SetLocationState(0);
    if (!g_SEContext || !SB_LoadLocation(g_SEContext, name)) {
        Qel_DPrintf(0, "Error in SE_LoadLocation\n");
        return 0;
    }
    return 1;
}

void P_IdleFrame() {
    Timer_Update();
    S_ProcessMessages();
    SFX_VBI();
    SE_RunAllTasks();
    MOV_CheckFinished();
}

int P_RunInitScript(const char* name) {
    if (!name) P_Exit(1);
    ScriptValue arg{};
    SV_AssignDString(&arg, name, static_cast<int32_t>(std::strlen(name)));
    SE_RunWithValues(0, 0, 0, "_Init", 1, 1, &arg);
    SV_Release(&arg);
    P_IdleFrame();
    return 1;
}

// The screen bitmaps and loading screens come with the displays; until then
// there is nothing to make or show.
int P_LoadScreens() {
    StandIn_Record("P_LoadScreens");
    return StandIn_Fails("P_LoadScreens") ? 0 : 1;
}
void P_FreeScreens() { StandIn_Record("P_FreeScreens"); }
void P_ResetViews() { StandIn_Record("P_ResetViews"); }
void P_ClearScreen() { StandIn_Record("P_ClearScreen"); }
int P_ViewEBMFullscreen(const char*, int) { return 0; }
void P_InitLoadingScreen() { StandIn_Record("P_InitLoadingScreen"); }
int P_ViewLoadingScreen(int32_t, const char*) { return 0; }
void P_ShowNextLoadingScreen() { StandIn_Record("P_ShowNextLoadingScreen"); }

int P_Pause() {
    ProgramState* ps = g_ProgramState;
    uint16_t key = S_GetKey();
    if (ps->requestBits & P_REQUEST_PAUSE) {
        if (key == KEY_QUIT) return 0;
        // Holding the key that paused does not unpause: wait for another one.
        while (key == 0 || key == ps->lastKey) {
            ps->lastKey = key;
            S_ProcessMessages();
            key = S_GetKey();
        }
        ps->requestBits &= ~P_REQUEST_PAUSE;
        S_GetTimeDelta();
        S_GetRealTimeDelta();
        SE_Run(0, 0, P_MODE_GAME, "NotifyPause", 1, 1, 0);
        return 1;
    }
    if (!(g_KeyHandled && key == 0)) {
        P_RunStoryFunction(P_MODE_GAME, "Input", 1, key);
        g_LastInputResult = ps->result.tag == VARTYPE_INTEGER ? ps->result.i : 0;
        if (g_LastInputResult == -1) {
            g_StopFlag = 1;
            return 0;
        }
    }
    int32_t result = g_LastInputResult;

    int32_t object = 0;
    CockpitSystem* cs = g_CockpitSystem;
    if (cs && cs->cockpits && cs->activeControl) {
        const auto id = static_cast<uint32_t>(cs->activeControl);
        auto* cockpit = reinterpret_cast<Cockpit*>(Qel_TableGet(cs->cockpits, id));
        if (cockpit) object = (cockpit->flags & 0x4) ? cockpit->objectIds[1] : cockpit->objectIds[0];
    }
    g_KeyHandled = 0;

    if (result != 0) {
        STS_Set(object, result == 2 ? 0 : 1);
        return 1;
    }
    if (key == KEY_PAUSE || key == KEY_PAUSE2) {
        ps->requestBits |= P_REQUEST_PAUSE;
        MOV_StopPlayingMovies();
    }
    ps->lastKey = key;
    STS_Set(object, 1);
    return 1;
}
