// STANDIN: see standin.h.
#include "space/standin.h"

#include "base/log.h"
#include "base/memory.h"
#include "base/standin_calls.h"
#include "scene/allocs.h"
#include "scene/caches.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "space/cutscene.h"

void SA_RefitViews(SpaceRoot*) { StandIn_Record("SA_RefitViews"); }

int32_t ST_LoadCut(SA_Take* take, int32_t cutId, int32_t) {
    J3D_Cut* cut = g_B3DState && cutId > 0 ? J3D_GetCut(cutId) : nullptr;
    if (!cut) return 0;
    Qel_DPrintf(0, "ST_LoadCut() cut %d loaded\n", cutId);
    take->cutId = cutId;
    const int32_t n = cut->paths ? cut->pathCount : 0;
    if (n > 0)
        take->slots = static_cast<SA_TakeSlot*>(
            Int_AllocMem(sizeof(SA_TakeSlot) * static_cast<size_t>(n), Int_MemTag(14) | INT_MEM_ZERO_TAIL));
    take->slotCount = take->slots ? n : 0;
    const SectorSpace* sector = take->sector ? O_Sector(take->sector) : nullptr;
    for (int32_t i = 0; i < take->slotCount; ++i) {
        Inst3D* inst = B3D_AllocInst();
        if (!inst) continue;
        if (cut->paths[i].reference > 0) B3D_InstSetBody(inst, cut->paths[i].reference);
        if (sector && sector->spaceScene) B3D_InstAddToScene(inst, sector->spaceScene);
        take->slots[i] = SA_TakeSlot{inst, inst->id, nullptr};
    }
    take->flags = 1;
    return 1;
}
