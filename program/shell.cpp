#include "program/shell.h"

#include <cstring>

#include "base/log.h"
#include "base/table.h"
#include "program/main.h"
#include "script/modules.h"
#include "script/tasks.h"

namespace {
const char* const s_ruzoCallNames[] = {"Ruzo_GetScene",
                                       "Ruzo_GetSpace",
                                       "Ruzo_SetGalaxy",
                                       "Ruzo_Save",
                                       "Ruzo_Load",
                                       "Ruzo_LoadSaveNames",
                                       "Ruzo_CaptureFrame",
                                       "Ruzo_GraphicSettings",
                                       "Ruzo_SoundSettings",
                                       "Ruzo_BlitRuzoLogo",
                                       "Ruzo_XMLImportGalaxy",
                                       "Ruzo_SetPause",
                                       "Ruzo_SetStringParameter",
                                       "Ruzo_GetStringParameter",
                                       "Ruzo_SetInputModeMask",
                                       "Ruzo_GetInputModeMask",
                                       "Ruzo_GetScreenDebugLine",
                                       "Ruzo_SetScreenDebugLine",
                                       "Ruzo_StartBenchmarkScene",
                                       "Ruzo_StopBenchmarkScene",
                                       "Ruzo_SetGameState",
                                       "Ruzo_GetGameState",
                                       "Ruzo_GetModName",
                                       "Ruzo_GetSaveDevices",
                                       "Ruzo_GetDefaultProfile",
                                       "Ruzo_SetDefaultProfile",
                                       "Ruzo_GetControlMatrix",
                                       "Ruzo_SetControlMatrix",
                                       "Ruzo_IsStartModeAvailable",
                                       "Ruzo_SetStartModeAvailable",
                                       "Ruzo_SaveStringToRegistry",
                                       "Ruzo_ReadStringFromRegistry",
                                       "Ruzo_SaveIntToRegistry",
                                       "Ruzo_ReadIntFromRegistry",
                                       nullptr};

// Results for other callers would go to a record kept under the caller's
// number in the caller table; none is ever entered, so they are dropped.
bool ForCallerZero(const ProgramState* ps, uint32_t callerNumber) {
    if (callerNumber == 0) return true;
    if (ps->callerTable) Qel_TableGet(ps->callerTable, callerNumber);
    return false;
}
}  // namespace

const char* const* Ruzo_GetSysCallNames() { return s_ruzoCallNames; }

int32_t Ruzo_SysCall(int32_t, SE_Task* task, int32_t call, int32_t, ScriptValue*) {
    Qel_DPrintf(0, "Undefined Ruzo Syscall %d called!\n", call);
    // Answered as every call is, so the task goes on with 0.
    SE_TaskReturnIntEx(task, g_SEContext, 0);
    return 1;
}

void Ruzo_ReturnInt(uint32_t callerNumber, int32_t n) {
    ProgramState* ps = g_ProgramState;
    if (!ps || !ForCallerZero(ps, callerNumber)) return;
    SV_Release(&ps->result);
    SV_AssignInt(&ps->result, n);
    ps->answered = 1;
}

void Ruzo_ReturnString(uint32_t callerNumber, const char* text) {
    ProgramState* ps = g_ProgramState;
    if (!ps || !ForCallerZero(ps, callerNumber)) return;
    SV_Release(&ps->result);
    if (text) SV_AssignDString(&ps->result, text, static_cast<int32_t>(std::strlen(text)));
    else SV_AssignInt(&ps->result, 0);
    ps->answered = 1;
}
