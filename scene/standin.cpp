// STANDIN: see standin.h.
#include "scene/standin.h"

#include <string>

#include "base/general.h"
#include "base/memory.h"
#include "base/standin_calls.h"
#include "render/pixelformat.h"
#include "render/startup.h"
#include "scene/caches.h"
#include "script/modules.h"
#include "script/tasks.h"

namespace {
const char* const s_names[] = {nullptr};

int32_t SceneStandInSysCall(int32_t, SE_Task* task, int32_t, int32_t, ScriptValue*) {
    SE_TaskReturnIntEx(task, g_SEContext, 0);
    return 1;
}
}  // namespace

B3DState* B3D_Init() {
    StandIn_Record("B3D_Init");
    if (StandIn_Fails("B3D_Init")) return nullptr;
    // Made once and kept for the program's life.
    if (!g_B3DState) {
        g_B3DState = B3D_InitStore();
        if (!g_B3DState) return nullptr;
        B3D_InitBodyIdTable();
        B3D_InitCutIdTable();
    }
    g_B3DState->moduleNumber =
        g_SEContext ? SB_RegisterEngineModule(g_SEContext, SceneStandInSysCall, s_names, nullptr, nullptr, nullptr) : 0;
    return g_B3DState;
}

int B3DB_Init() {
    StandIn_Record("B3DB_Init");
    if (StandIn_Fails("B3DB_Init")) return 0;
    if (g_SystemState && (g_SystemState->SysProfilingFlags & 0x800)) B3DB_ConvertAllBodiesToBinary();
    return 1;
}

void B3D_DrawObjects() { StandIn_Record("B3D_DrawObjects"); }
// The records are freed here; closing the renderer waits for its module.
void B3D_FreeTextureFormats() {
    StandIn_Record("B3D_FreeTextureFormats");
    if (!g_B3DState) return;
    QelTable* t = g_B3DState->textureFormats;
    while (uint32_t k = Qel_TableNext(t, 0))
        Int_FreeRecord(reinterpret_cast<TextureBitmapFormat*>(Qel_TableRemove(t, k)), 0);
    g_B3DState->textureFormatWords[0] = -1;
    g_B3DState->textureFormatWords[1] = -1;
}
