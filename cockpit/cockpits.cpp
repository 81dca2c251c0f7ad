#include "cockpit/cockpits.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>

#include "base/general.h"
#include "base/standin_calls.h"
#include "base/strings.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/table.h"
#include "cockpit/helpers.h"
#include "cockpit/hudsteps.h"
#include "cockpit/iconmenus.h"
#include "cockpit/panels.h"
#include "cockpit/scenes.h"
#include "cockpit/ticker.h"
#include "cockpit/steering.h"
#include "scene/names.h"
#include "scene/records.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "scene/trees.h"
#include "space/queries.h"
#include "space/typesdb.h"
#include "system/clock.h"

CockpitSystem* g_CockpitSystem = nullptr;
CockpitModule g_CockpitModule;

namespace {

constexpr int32_t kRadarRange = 10000000;
constexpr int32_t kShakeTime = 1000;
constexpr int32_t kShakeLevelMax = 100;

const char* const kHudBodyNames[5] = {
    "effects\\menugfx\\GUI\\gui_master", "effects\\menugfx\\hud_icon_text", "effects\\menugfx\\hud_target_text",
    "effects\\menugfx\\docked",          "effects\\menugfx\\dockhere",
};

int32_t Now() { return g_SystemState ? g_SystemState->gameClock : 0; }

int32_t ClampToInt(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

int NoCockpitView(SectorObject*, int32_t, QelVector*, QelMatrix*) { return 0; }

// The cockpit view point of the cockpit's number, when its ship has one.
bool CockpitView(const Cockpit* cockpit, QelVector* position, QelMatrix* matrix) {
    QelVector p{};
    QelMatrix m{};
    if (!IC_HasCockpitView(cockpit) || !g_INSCockpitView(cockpit->cockpitRefObject, cockpit->cockpitNumber, &p, &m))
        return false;
    if (position) *position = p;
    if (matrix) *matrix = m;
    return true;
}

}  // namespace

INS_CockpitViewFn g_INSCockpitView = NoCockpitView;

// ---------------------------------------------------------------- the system

CockpitSystem* INS_CreateCockpitSystem(CockpitSystem* block) {
    block->cockpits = Qel_TableCreate();
    if (!block->cockpits) return nullptr;
    block->stateWords[0] = block->stateWords[1] = 0;
    block->timeWarpFactor = 0;
    block->unitDisplay = 0;
    block->activeControl = 0;
    block->hudFont = -1;
    block->radarOn = 1;
    block->overlayBrackets = 0;
    block->statusFlags = 0;
    block->crossHair = 0;
    block->dustBody = B3D_GetBodyID("environments\\others\\dust");
    block->gridBody = B3D_GetBodyID(INS_GRID_BODY);
    block->tooltipBody = B3D_GetBodyID(INS_TOOLTIP_BODY);
    CockpitModule& module = g_CockpitModule;
    module.bayDoorStatus = 0;
    module.bayDoorContent[0] = module.bayDoorContent[1] = 0;
    module.bayDoorValue = 0;
    for (int i = 0; i < 5; ++i) module.hudBodies[i] = B3D_GetBodyID(kHudBodyNames[i]);
    return block;
}

CockpitSystem* INS_NewCockpitSystem() {
    INS_FreeCockpitSystem();
    auto* block = Int_AllocRecord<CockpitSystem>(0);
    if (!block) return nullptr;
    if (!INS_CreateCockpitSystem(block)) {
        Int_FreeRecord(block, 0);
        return nullptr;
    }
    return g_CockpitSystem = block;
}

void INS_FreeCockpitSystem() {
    CockpitSystem* system = g_CockpitSystem;
    if (!system) return;
    INS_ClearAllCockpits(system);
    Qel_TableFree(system->cockpits);
    SV_Release(&system->answer);
    Int_FreeRecord(system, 0);
    g_CockpitSystem = nullptr;
}

// ---------------------------------------------------------------- cockpits

Cockpit* IC_InitCockpitScenes(Cockpit* cockpit) {
    const int32_t now = Now();
    Qel_MatIdentity(&cockpit->viewMatrix);
    cockpit->viewTurnRate = QEL_FIX_ONE;
    cockpit->focus = 16384;
    cockpit->focusDurationStart = now;
    cockpit->cinematicLoopTime = 15000;
    cockpit->monitorNumber = -1;
    cockpit->flagWord = 1;
    cockpit->hitShakeEnd = cockpit->secondShakeEnd = cockpit->cockpitShakeEnd = now;
    cockpit->radarMode = 1;
    cockpit->radarRange = cockpit->secondRange = kRadarRange;
    cockpit->wordTime = now;
    cockpit->missileType = -1;
    cockpit->fieldOfView = 16384;
    cockpit->emptyList[0] = &cockpit->emptyList[1];
    cockpit->emptyList[2] = &cockpit->emptyList[0];
    cockpit->draw2D = 1;
    cockpit->zoom = QEL_FIX_ONE;
    cockpit->cockpitBodyOn = cockpit->radarBodyOn = cockpit->displayBodyOn = 1;
    return cockpit;
}

Cockpit* INS_TableGet(const CockpitSystem* system, uint32_t id) {
    if (!system || !system->cockpits) return nullptr;
    return reinterpret_cast<Cockpit*>(Qel_TableGet(system->cockpits, id));
}

uint32_t INS_AddCockpit(CockpitSystem* system) {
    if (!system || !system->cockpits) return 0;
    auto* cockpit = Int_AllocRecord<Cockpit>(0);
    if (!cockpit) return 0;
    IC_InitCockpitScenes(cockpit);
    if (g_B3DState) IC_InitAllScenes(cockpit);
    const uint32_t id = Qel_TableAdd(system->cockpits, reinterpret_cast<uintptr_t>(cockpit));
    if (!id) INS_DeleteCockpit(cockpit);
    else cockpit->id = id;
    return id;
}

void INS_FreeCockpit(CockpitSystem* system, uint32_t id) {
    if (!system || !system->cockpits) return;
    auto* cockpit = reinterpret_cast<Cockpit*>(Qel_TableRemove(system->cockpits, id));
    if (!cockpit) return;
    if (system->activeControl == static_cast<int32_t>(id)) system->activeControl = 0;
    STS_ForgetCockpit(id);
    INS_DeleteCockpit(cockpit);
}

void INS_ClearAllCockpits(CockpitSystem* system) {
    for (uint32_t id : INS_CockpitIds(system)) INS_FreeCockpit(system, id);
}

void INS_ClearCockpit(Cockpit* cockpit) {
    INS_FreeIconMenus(cockpit);
    Qel_StrFree(cockpit->trackingText);
    cockpit->trackingText = nullptr;
    // Tasks waiting on the ticker are answered before the cockpit goes.
    INS_FreeHud(cockpit);
    INS_FreePanels(cockpit);
    IC_SlotFree(&cockpit->gridSlot);
    for (InstSlot& slot : cockpit->hudParts) IC_SlotFree(&slot);
    IC_FreeAllScenes(cockpit);
    cockpit->refObject = cockpit->cockpitRefObject = cockpit->sectorSpace = nullptr;
    cockpit->refViewObject = cockpit->trackedObject = cockpit->secondObject = nullptr;
    cockpit->sectorCamera = cockpit->galaxyCamera = cockpit->dustCamera = 0;
}

std::vector<uint32_t> INS_CockpitIds(const CockpitSystem* system) {
    std::vector<uint32_t> ids;
    if (!system || !system->cockpits) return ids;
    for (uint32_t id = Qel_TableNext(system->cockpits, 0); id; id = Qel_TableNext(system->cockpits, id))
        ids.push_back(id);
    std::sort(ids.begin(), ids.end());
    return ids;
}

Cockpit* INS_FindCockpitByShip(const SectorObject* ship) {
    CockpitSystem* system = g_CockpitSystem;
    if (!ship) return nullptr;
    for (uint32_t id : INS_CockpitIds(system))
        if (Cockpit* c = INS_TableGet(system, id); c->monitorNumber == 0 && c->cockpitRefObject == ship) return c;
    return nullptr;
}

void INS_RemoveObjectReferences(SectorObject* object) {
    StandIn_RecordObjectCall("INS_RemoveObjectReferences " + std::to_string(object ? object->id : 0));
    if (!object) return;
    CockpitSystem* system = g_CockpitSystem;
    if (!system) return;
    Qel_DPrintf(4, "INS_RemoveObjectReferences(%d)\n", static_cast<int32_t>(object->id));
    for (uint32_t id : INS_CockpitIds(system)) {
        Cockpit* c = INS_TableGet(system, id);
        // The sector shown and the cinematic view's object are references
        // like the others: they would be left pointing at a freed record.
        for (SectorObject** ref : {&c->refObject, &c->cockpitRefObject, &c->secondObject, &c->trackedObject,
                                   &c->refViewObject, &c->sectorSpace})
            if (*ref == object) *ref = nullptr;
        INS_HudForget(c, object);
    }
}

void INS_StartShipRappel(const SectorObject* ship, int32_t level) {
    CockpitSystem* system = g_CockpitSystem;
    if (!system || !ship) return;
    level = std::clamp(level, 0, kShakeLevelMax);
    const int32_t end = S_ClockAdvance(Now(), kShakeTime);
    for (uint32_t id : INS_CockpitIds(system)) {
        Cockpit* c = INS_TableGet(system, id);
        if (c->cockpitRefObject != ship || c->viewMode != 1) continue;
        c->hitShakeEnd = end;
        c->hitShakeLevel = level;
    }
}

Cockpit* INS_ActiveControlCockpit() {
    const CockpitSystem* system = g_CockpitSystem;
    return system && system->activeControl ? INS_TableGet(system, static_cast<uint32_t>(system->activeControl))
                                           : nullptr;
}

SectorObject* INS_SteeredShip() {
    const Cockpit* c = INS_ActiveControlCockpit();
    if (!c) return nullptr;
    return (c->viewMode & 4) ? c->cockpitRefObject : c->refObject;
}

// ---------------------------------------------------------------- views

void IC_SetCockpitNumber(Cockpit* cockpit, int32_t number) {
    if (number < 0) number = 0;
    if (number >= SA_GetShipCockpitCount(cockpit->cockpitRefObject))
        Qel_DPrintf(0, "IC_SetCockpitNumber(%d) to big!\n", number);
    cockpit->cockpitNumber = number;
}

bool IC_HasCockpitView(const Cockpit* cockpit) {
    const int32_t n = cockpit->cockpitNumber;
    const int32_t count = std::min(SA_GetShipCockpitCount(cockpit->cockpitRefObject), SA_SHIP_MAX_COCKPITS);
    return cockpit->cockpitRefObject && n >= 0 && n < count;
}

void INS_GetViewPosition(const Cockpit* cockpit, QelVector* out) {
    *out = QelVector{};
    const SectorObject* ship = cockpit->cockpitRefObject;
    if (!ship || CockpitView(cockpit, out, nullptr)) return;
    if (ship->instance) *out = ship->instance->pos;
}

void INS_GetViewMatrix(const Cockpit* cockpit, QelMatrix* out) {
    Qel_MatIdentity(out);
    const SectorObject* ship = cockpit->cockpitRefObject;
    if (!ship || CockpitView(cockpit, nullptr, out)) return;
    if (ship->instance) *out = ship->instance->matrix;
}

int32_t INS_VecDistance(const QelVector* a, const QelVector* b) { return ClampToInt(SA_VecDistance(a, b)); }

QelVector INS_VecSub(const QelVector& a, const QelVector& b) {
    return QelVector{ClampToInt(int64_t{a.x} - b.x), ClampToInt(int64_t{a.y} - b.y), ClampToInt(int64_t{a.z} - b.z), 0};
}

int32_t INS_MaxAbsComponent(const QelVector* v) {
    const int64_t m = std::max({std::llabs(v->x), std::llabs(v->y), std::llabs(v->z)});
    return ClampToInt(m);
}

int32_t INS_MaxAbsDifference(const QelVector* a, const QelVector* b) {
    const int64_t m = std::max(
        {std::llabs(int64_t{b->x} - a->x), std::llabs(int64_t{b->y} - a->y), std::llabs(int64_t{b->z} - a->z)});
    return ClampToInt(m);
}

int32_t INS_MulDiv(int32_t a, int32_t b, int32_t c) { return c ? ClampToInt(int64_t{a} * b / c) : 0; }

int32_t INS_Clamp32(int64_t v) { return ClampToInt(v); }

int32_t INS_FixDiv(int32_t a, int32_t b) { return b ? ClampToInt(int64_t{a} * 65536 / b) : 0; }

int32_t INS_FixMul(int32_t a, int32_t b) { return ClampToInt((int64_t{a} * b + 0x8000) >> 16); }

int32_t INS_Interpolate(int32_t a, int32_t b, int32_t t, int32_t lo, int32_t hi) {
    const int64_t mid = (int64_t{a} + b) / 2;
    if (lo == hi) return static_cast<int32_t>(mid);
    if (t <= lo) return a;
    if (t >= hi) return b;
    const int64_t span = int64_t{hi} - lo;
    const int64_t delta = int64_t{b} - a;
    if (t < 65536 && span < 65536) return ClampToInt(mid + delta * (2 * int64_t{t} - lo - hi) / (2 * span));
    return ClampToInt(mid + delta * (t - (int64_t{lo} + hi) / 2) / span);
}
