#include "space/carrierparts.h"

#include <algorithm>

#include "scene/drawing.h"
#include "scene/jobs.h"
#include "scene/lists.h"
#include "scene/smallops.h"
#include "space/cutscene.h"
#include "space/flight.h"
#include "space/hangars.h"
#include "space/typesdb.h"
#include "system/clock.h"

namespace {

constexpr uint32_t kEverySide = 0x3f;

// The instance of the carrier's tree built for the cut's path, searched each
// time: the tree may have been rebuilt since the last frame.
Inst3D* PathInstance(Inst3D* inst, int32_t cutId, int32_t path) {
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) {
        if (c->cutId == cutId && c->pathNr == path) return c;
        if (Inst3D* hit = PathInstance(c, cutId, path)) return hit;
    }
    return nullptr;
}

}  // namespace

void O_AnimateCarrierParts(SectorObject* carrier) {
    DockPortTable* ports = carrier ? O_PortTable(carrier) : nullptr;
    if (!ports || !ports->slots || !ports->list || !ports->list->entries) return;
    const int32_t n = std::min(ports->slotCount, ports->list->count);
    for (int32_t i = 0; i < n; ++i) {
        DockPortSlot& slot = ports->slots[i];
        if (!(slot.flags & SA_PORT_WINDOW_PENDING)) continue;
        slot.flags &= ~SA_PORT_WINDOW_PENDING;
        J3D_Cut* cut = carrier->cutId ? J3D_CutIsLoaded(carrier->cutId) : nullptr;
        const int32_t path = ports->list->entries[i].path;
        Inst3D* part = cut && carrier->instance ? PathInstance(carrier->instance, carrier->cutId, path) : nullptr;
        if (!part || slot.animStart == slot.animEnd) continue;
        J3D_JobStartInst(part, slot.animStart, path, cut, slot.animEnd, 0);
        // The part stops where its window ends, instead of looping as an
        // idle part of the cut does.
        part->jobFlags &= ~JOB_LOOP;
    }
}

void O_AnimateGateParts(SectorObject* gate) {
    GateData* g = gate ? O_GateData(gate) : nullptr;
    if (!g || !gate->instance) return;
    int64_t left = 0;
    for (int32_t k = 0; k < SA_GATE_SLOTS; ++k)
        if (g->slotOccupant[k])
            left =
                std::max<int64_t>(left, std::clamp<int64_t>(S_ClockDiff(g->slotTime[k], SA_Now()), 0, SA_GATE_SLOT_MS));
    const int64_t level = SA_GATE_IDLE_GLOW + (B3D_GLOW_FULL - SA_GATE_IDLE_GLOW) * left / SA_GATE_SLOT_MS;
    gate->instance->words5[B3D_INST_GLOW_LEVEL] = static_cast<int32_t>(level);
    gate->instance->words5[B3D_INST_GLOW_SIDES] = static_cast<int32_t>(kEverySide | B3D_GLOW_STATE);
}
