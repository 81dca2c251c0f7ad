#include "cockpit/hudsteps.h"

#include <algorithm>
#include <climits>

#include "cockpit/panels.h"
#include "cockpit/scenes.h"
#include "scene/records.h"
#include "space/objects.h"
#include "space/records.h"
#include "space/typesdb.h"

namespace {

// A slot shown this frame or not: out of its scene only when it was in one,
// so a hidden slot costs nothing per frame.
void Hide(InstSlot* slot) {
    if (slot->state) IC_SlotTakeOut(slot);
}

// The body of the ship's cockpit, when the cockpit shows it.
int32_t CockpitBody(const Cockpit* c) {
    const SectorObject* ship = c->cockpitRefObject;
    if (!ship || ship->mainType != SA_MT_SHIP || c->viewMode != 1 || !c->cockpitBodyOn) return 0;
    const TypeRecord* type = SA_GetTypeRecord(SA_MT_SHIP, ship->subType);
    return type ? type->field[SA_TF_SHIP_COCKPIT_BODY] : 0;
}

// The nearest multiple of the step (held within a word at the far edges).
int32_t Snap(int32_t v) {
    const int64_t half = INS_GRID_STEP / 2;
    const int64_t cells = (int64_t{v} + (v < 0 ? -half : half)) / INS_GRID_STEP;
    return static_cast<int32_t>(std::clamp<int64_t>(cells * INS_GRID_STEP, INT32_MIN, INT32_MAX));
}

int32_t Sum(int32_t a, int32_t b) {
    return static_cast<int32_t>(std::clamp<int64_t>(int64_t{a} + b, INT32_MIN, INT32_MAX));
}

}  // namespace

void INS_CockpitInstances(Cockpit* c) {
    InstSlot* slot = &c->hudParts[INS_HUD_COCKPIT_BODY];
    Scene3D* scene = IC_Scene(c);
    const int32_t body = CockpitBody(c);
    Inst3D* inst = scene && body > 0 ? IC_SlotShow(slot, scene, body) : nullptr;
    if (!inst) {
        Hide(slot);
        return;
    }
    // The cockpit scene is the ship's own frame: the body stands at its origin.
    inst->pos = QelVector{};
    Qel_MatIdentity(&inst->matrix);
}

void INS_SetGrid(Cockpit* c, int32_t on) {
    c->gridOn = on;
    if (!on) Hide(&c->gridSlot);
}

void INS_GridStep(Cockpit* c) {
    InstSlot* slot = &c->gridSlot;
    Scene3D* scene = IC_Scene(c);
    const Camera3D* sector = c->gridOn && c->refObject ? IC_FindCamera(c->sectorCamera) : nullptr;
    const Camera3D* own = IC_Camera(c);
    const int32_t body = g_CockpitSystem ? g_CockpitSystem->gridBody : 0;
    Inst3D* inst = scene && sector && own && body > 0 ? IC_SlotShow(slot, scene, body) : nullptr;
    if (!inst) {
        Hide(slot);
        return;
    }
    // The cockpit camera sees a point of its scene where the sector camera
    // sees the world point that maps onto it: q = k + K C^T (w - p), with
    // K, k the cockpit camera's and C, p the sector camera's matrix and place.
    const QelVector& p = sector->inst.pos;
    const QelVector centre{Snap(p.x), 0, Snap(p.z), 0};
    QelMatrix turn;
    Qel_MatMulTransposed(&own->inst.matrix, &sector->inst.matrix, &turn);
    const QelVector d = INS_VecSub(centre, p);
    QelVector q;
    Qel_MatMulVec(&turn, &d, &q);
    const QelVector& k = own->inst.pos;
    inst->pos = QelVector{Sum(q.x, k.x), Sum(q.y, k.y), Sum(q.z, k.z), 0};
    inst->matrix = turn;
}

void INS_OverlayRecordsStep(Cockpit* c) {
    CockpitOverlayScene* overlay = c->overlay;
    // Entries past the count are out of the scene already.
    if (!overlay || !overlay->entries || !overlay->entryCount) return;
    const SectorObject* ship = c->cockpitRefObject;
    const bool hudRuns =
        ship && ship->mainType == SA_MT_SHIP && ship->container && ship->container->mainType == SA_MT_SECTOR;
    const bool targetsOff = c->panels && !c->panels->targets.enable;
    if (hudRuns && !targetsOff) return;
    IC_HideOverlayEntries(overlay, 0);
    // Switched-off bodies leave the entries for the target stepping; a HUD
    // that does not run lists nothing it could step through.
    if (!hudRuns) overlay->entryCount = 0;
}
