// STUB: see gamesound.h.
#include "program/gamesound.h"

#include "base/memory.h"
#include "program/standin_calls.h"
#include "script/modules.h"
#include "script/tasks.h"

SfxState* g_SfxState = nullptr;

namespace {
const char* const s_names[] = {nullptr};

int32_t SFX_SysCall(int32_t, SE_Task* task, int32_t, int32_t, ScriptValue*) {
    SE_TaskReturnIntEx(task, g_SEContext, 0);
    return 1;
}
}  // namespace

SfxState* SFX_Init() {
    StandIn_Record("SFX_Init");
    if (StandIn_Fails("SFX_Init")) return nullptr;
    auto* s = Int_AllocRecord<SfxState>(9u << 24);
    if (!s) return nullptr;
    s->moduleNumber =
        g_SEContext ? SB_RegisterEngineModule(g_SEContext, SFX_SysCall, s_names, nullptr, nullptr, nullptr) : 0;
    g_SfxState = s;
    return s;
}

void SFX_InitSounds() { StandIn_Record("SFX_InitSounds"); }
void SFX_VBI() { StandIn_Record("SFX_VBI"); }
void SFX_ReleaseSounds() { StandIn_Record("SFX_ReleaseSounds"); }
void SFX_IntFreeSample(int) { StandIn_Record("SFX_IntFreeSample"); }
void SFX_FreeAllSamples() { StandIn_Record("SFX_FreeAllSamples"); }

void SFX_Exit() {
    StandIn_Record("SFX_Exit");
    if (g_SfxState) Int_FreeRecord(g_SfxState, 9u << 24);
    g_SfxState = nullptr;
}
