// STAND-IN SEAM: see timer.h.
#include "system/timer.h"

#include "base/general.h"
#include "base/log.h"
#include "program/standin_calls.h"
#include "script/standin_tasks.h"
#include "system/clock.h"

TimerBase* g_TimerBase = nullptr;

namespace {
const char* const s_timerCallNames[] = {nullptr};

int32_t TimerStandInSysCall(int32_t, SE_Task* task, int32_t, int32_t, ScriptValue*) {
    SE_TaskReturnIntEx(task, g_SEContext, 0);
    return 1;
}
}  // namespace

TimerBase* Timer_Init(TimerBase* base) {
    StandIn_Record("Timer_Init");
    Qel_DPrintf(4, "INIT: TimerBase; Anfang!\n");
    if (!S_InitTimer()) Qel_ErrPrintf("INIT: TimerBase; Can't init System Timer!\n");
    base->moduleNumber = g_SEContext ? SB_RegisterEngineModule(g_SEContext, TimerStandInSysCall, s_timerCallNames,
                                                               nullptr, nullptr, nullptr)
                                     : 0;
    Qel_DPrintf(4, "INIT: TimerBase; Ende!\n");
    return base;
}

void Timer_Update() {
    StandIn_Record("Timer_Update");
    SystemState* sys = g_SystemState;
    if (!sys) return;
    sys->gameFrameDelta = S_GetTimeDelta();
    sys->realFrameDelta = S_GetRealTimeDelta();
    S_updateFpsTimer();
}

void Timer_ClearAll() { StandIn_Record("Timer_ClearAll"); }

void Timer_FreeAllNodes(TimerBase*) { StandIn_Record("Timer_FreeAllNodes"); }
