#include "scene/startup.h"

#include "base/general.h"
#include "base/memory.h"
#include "base/standin_calls.h"
#include "base/table.h"
#include "base/texcache.h"
#include "scene/caches.h"
#include "scene/dummies.h"
#include "scene/freeing.h"
#include "scene/ids.h"
#include "scene/smallops.h"
#include "scene/framedraw.h"
#include "scene/names.h"
#include "scene/replay.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "scene/typesfiles.h"
#include "system/adapters.h"

namespace {
constexpr uint32_t SCRATCH_FLAGS = INT_MEM_VIRTUAL | INT_MEM_RESERVE;
constexpr uint32_t PROFILING_CONVERT_BODIES = 0x800;

int32_t ScratchSize(int32_t area) {
    return area < B3D_BODY_SCRATCH_AREAS ? B3D_BODY_SCRATCH_SIZES[area]
                                         : B3D_CUT_SCRATCH_SIZES[area - B3D_BODY_SCRATCH_AREAS];
}
}  // namespace

B3DState* B3D_Init() {
    StandIn_Record("B3D_Init");
    if (StandIn_Fails("B3D_Init")) return nullptr;
    if (g_B3DState) {
        // A second start in one process (tests): the new script engine gets the module.
        B3D_RegisterModule(g_B3DState);
    } else {
        g_B3DState = B3D_InitStore();
        if (!g_B3DState) return nullptr;
    }
    if (!g_B3DState->bodyIds.slots) B3D_InitBodyIdTable();
    if (!g_B3DState->cutIds.slots) B3D_InitCutIdTable();
    // The exit's release frees the cut and take tables with the bodies: a
    // second start makes them again, or it could load no cut and start no take.
    if (!g_B3DState->cutTable) g_B3DState->cutTable = Qel_TableCreate();
    if (!g_B3DState->takeTable) g_B3DState->takeTable = Qel_TableCreate();
    B3DB_LoadBodyData();
    B3DB_LoadCutData();
    B3DB_LoadLightTypeList();
    B3DB_LoadParticleDescription();
    // Reading the lens flares frees a table read before.
    B3DB_LoadLensflares();
    B3DB_LoadBodyDummies();
    B3D_ReserveScratchAreas();
    B3DB_FixCatalogs();
    B3DB_FixCatalogs();
    return g_B3DState;
}

int B3DB_Init() {
    StandIn_Record("B3DB_Init");
    if (StandIn_Fails("B3DB_Init")) return 0;
    B3DB_LoadMaterials();
    B3DB_LoadIconData();
    B3DB_LoadSkins();
    if (!g_RendererState || !g_RendererState->device) return 0;
    TC_GenerateRDF();
    if (g_SystemState && (g_SystemState->SysProfilingFlags & PROFILING_CONVERT_BODIES)) B3DB_ConvertAllBodiesToBinary();
    return 1;
}

void B3D_ReserveScratchAreas() {
    B3DState* s = g_B3DState;
    if (!s) return;
    for (int32_t a = 0; a < B3D_SCRATCH_AREAS; ++a) {
        if (s->scratch[a]) continue;
        s->scratch[a] = a < B3D_BODY_SCRATCH_AREAS ? B3D_AllocMemB(ScratchSize(a), SCRATCH_FLAGS)
                                                   : B3D_AllocMemJ(ScratchSize(a), SCRATCH_FLAGS);
    }
}

void B3D_FreeScratchAreas() {
    B3DState* s = g_B3DState;
    if (!s) return;
    for (int32_t a = 0; a < B3D_SCRATCH_AREAS; ++a) {
        if (!s->scratch[a]) continue;
        if (a < B3D_BODY_SCRATCH_AREAS) B3D_FreeMemB(ScratchSize(a), s->scratch[a], SCRATCH_FLAGS);
        else B3D_FreeMemJ(ScratchSize(a), s->scratch[a], SCRATCH_FLAGS);
        s->scratch[a] = nullptr;
    }
}

int B3D_ReopenDevice() {
    B3D_DisableAllObjects3D();
    B3D_ResetBodyParts();
    B3D_ScenesUpdateFlags();
    B3D_FreeTextureFormats();
    if (!B3D_InitRenderer()) return 0;
    return B3DB_Init();
}
