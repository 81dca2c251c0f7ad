#include "cockpit/scenes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/memory.h"
#include "base/random.h"
#include "render/lights.h"
#include "scene/allocs.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "space/flight.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/typesdb.h"

namespace {

constexpr uint32_t kSceneFlagNotSaved = 8;  // the overlay, menu and tooltip scenes stay out of save games
constexpr uint32_t kCockpitCameraFlags = 0x24;
constexpr uint32_t kOwnedByCockpit = 128;
constexpr int32_t kFarAway = 2500000;
constexpr int32_t kIconType280 = 280;
constexpr int32_t kBracketThreshold = 21;
// The sway's limits: 1.6 turns a second of rotation change, offsets of 0.025
// (x, y) and 0.015 (z), jitter of 50.
constexpr int32_t kRotLimit = 104857;
constexpr int32_t kOffsetXY = 1638;
constexpr int32_t kOffsetZ = 983;
constexpr int32_t kJitter = 50;
constexpr int32_t kSwayClears = 500;  // a frame this long or longer resets the sway

int32_t Clamp(int64_t v, int32_t lo, int32_t hi) { return static_cast<int32_t>(std::clamp<int64_t>(v, lo, hi)); }

// A scene with its camera, named, flagged and prioritised; ids of both.
void MakeScene(const char* name, uint32_t sceneFlags, int32_t priority, uint32_t* sceneId, uint32_t* cameraId) {
    *sceneId = *cameraId = 0;
    Scene3D* scene = B3D_SceneAlloc();
    if (!scene) return;
    scene->name = B3D_StrReassignN(scene->name, name, static_cast<int32_t>(std::strlen(name)));
    scene->flags |= sceneFlags;
    scene->systemScale = 0.01f;
    *sceneId = scene->id;
    Camera3D* camera = B3D_CameraAlloc();
    if (!camera) return;
    camera->inst.pos = QelVector{};
    Qel_MatFromAngles(&camera->inst.matrix, 0, 0, 0);
    B3D_CameraSetPri(camera, priority);
    B3D_SceneLinkInst(scene, camera);
    *cameraId = camera->inst.id;
}

void FreeScene(uint32_t* sceneId, uint32_t* cameraId) {
    if (Camera3D* camera = IC_FindCamera(*cameraId)) B3D_CameraFree(camera);
    if (Scene3D* scene = IC_FindScene(*sceneId)) B3D_SceneFree(scene);
    *sceneId = *cameraId = 0;
}

QelVector Position(const SectorObject* o) { return o && o->instance ? o->instance->pos : QelVector{}; }

// Objects of the cockpit's sector that a HUD search may take: hostile to the
// ship, not dead, hidden or out of play.
bool Candidate(SectorObject* ship, SectorObject* o) {
    if (o == ship || !o->instance) return false;
    // A killed object waits for its free: tracked, it would be lost at once.
    if (o->flags & (0x40000001u | SA_FLAG_KILLED)) return false;
    if (o->flags2 & (1u << 29)) return false;
    return SA_IsEnemy(ship, o) != 0;
}

template <typename Fn>
void ForEachInSector(const Cockpit* c, Fn fn) {
    SectorObject* sector = c->sectorSpace;
    if (!sector) return;
    QelList* list = O_GetChildList(sector);
    if (!list) return;
    for (SectorObject* o = SA_ListFirst(list); o; o = SA_ListNext(o)) fn(o);
}

// Screen position to overlay camera coordinates: the viewport's centre is 0.
bool OverlayPoint(const Cockpit* c, int32_t x, int32_t y, int32_t* ox, int32_t* oy) {
    const Camera3D* camera = c->overlay ? IC_FindCamera(c->overlay->camera) : nullptr;
    if (!camera || !g_B3DState) return false;
    const int64_t w = (int64_t{camera->viewport[3]} - camera->viewport[2]) * g_B3DState->screenWidth / 65536;
    const int64_t h = (int64_t{camera->viewport[1]} - camera->viewport[0]) * g_B3DState->screenHeight / 65536;
    *ox = static_cast<int32_t>(x - w / 2);
    *oy = static_cast<int32_t>(y - h / 2);
    return true;
}

const OverlayEntry* IconAt(const OverlayEntry* entries, int32_t count, int32_t x, int32_t y) {
    for (int32_t i = 0; i < count; ++i) {
        const OverlayEntry& e = entries[i];
        if (!e.icon.state) continue;
        const int64_t dx = std::llabs(int64_t{x} - e.iconX), dy = std::llabs(int64_t{y} - e.iconY);
        if (dx < int64_t{e.iconScaleX} * e.iconSize / 65536 && dy < int64_t{e.iconScaleY / 2} * e.iconSize / 65536)
            return &e;
    }
    return nullptr;
}

// The narrowest bracket around the point; edges count as inside.
const OverlayEntry* BracketAt(const OverlayEntry* entries, int32_t count, int32_t x, int32_t y) {
    const OverlayEntry* best = nullptr;
    int64_t bestWidth = 0;
    for (int32_t i = 0; i < count; ++i) {
        const OverlayEntry& e = entries[i];
        if (!e.bracket.state) continue;
        const int32_t x0 = std::min(e.corners[0][0], e.corners[1][0]), x1 = std::max(e.corners[0][0], e.corners[1][0]);
        const int32_t y0 = std::min(e.corners[0][1], e.corners[2][1]), y1 = std::max(e.corners[0][1], e.corners[2][1]);
        if (x < x0 || x > x1 || y < y0 || y > y1) continue;
        const int64_t width = std::llabs(int64_t{e.corners[0][0]} - e.corners[1][0]);
        if (!best || width < bestWidth) best = &e, bestWidth = width;
    }
    return best;
}

int32_t Side(int32_t v) { return v < 0 ? 1 : -1; }

}  // namespace

Scene3D* IC_FindScene(uint32_t id) { return id ? B3D_SceneFind(id) : nullptr; }

Inst3D* IC_FindInst(uint32_t id) { return id ? B3D_InstFind(id) : nullptr; }

Camera3D* IC_FindCamera(uint32_t id) {
    Inst3D* inst = IC_FindInst(id);
    return inst && (inst->flags & INST_CAMERA) ? reinterpret_cast<Camera3D*>(inst) : nullptr;
}

// ---------------------------------------------------------------- scenes

void IC_InitCockpitScene(Cockpit* cockpit) {
    std::fill(std::begin(cockpit->lights), std::end(cockpit->lights), 0u);
    MakeScene("Cockpit Scene", 0, 0, &cockpit->scene, &cockpit->camera);
    Scene3D* scene = IC_Scene(cockpit);
    if (!scene) return;
    if (Camera3D* camera = IC_Camera(cockpit)) camera->camFlags |= kCockpitCameraFlags;
    for (uint32_t& id : cockpit->lights) {
        Inst3D* light = B3D_LightAlloc();
        if (!light) continue;
        light->pos = QelVector{0, 0, QEL_FIX_ONE, 0};
        light->lightColor[0] = light->lightColor[1] = light->lightColor[2] = 128;
        light->flags |= INST_DIRECTIONAL_LIGHT;
        Qel_MatFromAngles(&light->matrix, 0, 0, 0);
        B3D_InstAddToScene(light, scene);
        if (light->rendererLight) S_3DUpdateLight(light);
        id = light->id;
    }
}

void IC_InitOverlayScene(CockpitOverlayScene* record, Cockpit* cockpit) {
    record->cockpit = cockpit;
    std::fill(std::begin(record->words), std::end(record->words), 0);
    record->word = 0;
    MakeScene("Cockpit Target Overlay Scene", kSceneFlagNotSaved, 30, &record->scene, &record->camera);
}

void IC_InitIconMenuScene(IconMenuScene* record) {
    MakeScene("Icon Menu Scene", kSceneFlagNotSaved, 95, &record->scene, &record->camera);
    record->menus[0] = &record->menus[1];
    record->menus[1] = nullptr;
    record->menus[2] = &record->menus[0];
}

void IC_InitTooltipScene(TooltipScene* record) {
    MakeScene("Tooltip Scene", kSceneFlagNotSaved, 98, &record->scene, &record->camera);
}

TooltipScene* IC_NewTooltipScene() {
    auto* record = Int_AllocRecord<TooltipScene>(0);
    if (record) IC_InitTooltipScene(record);
    return record;
}

void IC_InitAllScenes(Cockpit* cockpit) {
    IC_InitCockpitScene(cockpit);
    if ((cockpit->overlay = Int_AllocRecord<CockpitOverlayScene>(0))) IC_InitOverlayScene(cockpit->overlay, cockpit);
    if ((cockpit->iconMenus = Int_AllocRecord<IconMenuScene>(0))) IC_InitIconMenuScene(cockpit->iconMenus);
    cockpit->tooltip = IC_NewTooltipScene();
}

void IC_FreeCockpitScene(Cockpit* cockpit) {
    for (uint32_t& id : cockpit->lights) {
        if (Inst3D* light = IC_FindInst(id)) B3D_InstFree(light);
        id = 0;
    }
    FreeScene(&cockpit->scene, &cockpit->camera);
}

void IC_FreeAllScenes(Cockpit* cockpit) {
    IC_FreeCockpitScene(cockpit);
    if (cockpit->overlay) FreeScene(&cockpit->overlay->scene, &cockpit->overlay->camera);
    if (cockpit->iconMenus) FreeScene(&cockpit->iconMenus->scene, &cockpit->iconMenus->camera);
    if (cockpit->tooltip) FreeScene(&cockpit->tooltip->scene, &cockpit->tooltip->camera);
    if (cockpit->overlay) IC_SetOverlayEntryCount(cockpit->overlay, 0);
    Int_FreeRecord(cockpit->overlay, 0);
    Int_FreeRecord(cockpit->iconMenus, 0);
    Int_FreeRecord(cockpit->tooltip, 0);
    cockpit->overlay = nullptr;
    cockpit->iconMenus = nullptr;
    cockpit->tooltip = nullptr;
}

namespace {

constexpr InstSlot OverlayEntry::*kEntrySlots[] = {&OverlayEntry::icon, &OverlayEntry::bracket, &OverlayEntry::shield};

}  // namespace

void IC_HideOverlayEntries(CockpitOverlayScene* overlay, int32_t from) {
    for (int32_t i = std::max(from, 0); i < overlay->entryCapacity; ++i)
        for (InstSlot OverlayEntry::*slot : kEntrySlots) IC_SlotTakeOut(&(overlay->entries[i].*slot));
}

OverlayEntry* IC_SetOverlayEntryCount(CockpitOverlayScene* overlay, int32_t count) {
    count = std::max(count, 0);
    if (count == 0) {
        for (int32_t i = 0; i < overlay->entryCapacity; ++i)
            for (InstSlot OverlayEntry::*slot : kEntrySlots) IC_SlotFree(&(overlay->entries[i].*slot));
        if (overlay->entries)
            Int_FreeMem(overlay->entries, sizeof(OverlayEntry) * static_cast<size_t>(overlay->entryCapacity), 0);
        overlay->entries = nullptr;
        overlay->entryCount = overlay->entryCapacity = 0;
        return nullptr;
    }
    if (count > overlay->entryCapacity) {
        const size_t had = sizeof(OverlayEntry) * static_cast<size_t>(overlay->entryCapacity);
        const size_t wanted = sizeof(OverlayEntry) * static_cast<size_t>(count);
        void* block = Int_AllocMem(wanted, 0);
        if (!block) return nullptr;
        std::memset(block, 0, wanted);
        if (overlay->entries) {
            std::memcpy(block, overlay->entries, had);
            Int_FreeMem(overlay->entries, had, 0);
        }
        overlay->entries = static_cast<OverlayEntry*>(block);
        overlay->entryCapacity = count;
    }
    for (int32_t i = overlay->entryCount; i < count; ++i) {
        OverlayEntry& e = overlay->entries[i];
        const InstSlot icon = e.icon, bracket = e.bracket, shield = e.shield;
        e = OverlayEntry{};
        e.icon = icon;
        e.bracket = bracket;
        e.shield = shield;
    }
    overlay->entryCount = count;
    IC_HideOverlayEntries(overlay, count);
    return overlay->entries;
}

void IC_CameraFollow(const Camera3D* from, Camera3D* camera, Scene3D* scene) {
    camera->aspect[0] = from->aspect[0];
    camera->aspect[1] = from->aspect[1];
    if (!std::equal(std::begin(from->viewport), std::end(from->viewport), std::begin(camera->viewport))) {
        std::copy(std::begin(from->viewport), std::end(from->viewport), std::begin(camera->viewport));
        B3D_CameraDeleteFromScene(camera);
        B3D_SceneLinkInst(scene, camera);
    }
    camera->focus = from->focus;
}

// ---------------------------------------------------------------- slots

Inst3D* IC_SlotGetInst(InstSlot* slot) {
    if (Inst3D* inst = IC_FindInst(slot->inst)) return inst;
    slot->state = 0;
    slot->kind = -1;
    Inst3D* inst = B3D_AllocInst();
    slot->inst = inst ? inst->id : 0;
    return inst;
}

void IC_SlotInit(InstSlot* slot, int32_t kind, uint32_t extra) {
    slot->state = 0;
    slot->kind = kind;
    slot->extra = extra;
    Inst3D* inst = kind == -1 ? B3D_LightAlloc() : B3D_AllocInst();
    slot->inst = inst ? inst->id : 0;
}

void IC_SlotRestore(InstSlot* dst, const InstSlot* saved) {
    Inst3D* inst = IC_FindInst(saved->inst);
    if (inst) {
        dst->state = saved->state;
        dst->kind = saved->kind;
    } else {
        dst->state = 0;
        dst->kind = -1;
        inst = B3D_AllocInst();
    }
    dst->inst = inst ? inst->id : 0;
    if (inst) inst->flags |= kOwnedByCockpit;
    dst->extra = saved->extra;
}

Inst3D* IC_SlotShow(InstSlot* slot, Scene3D* scene, int32_t body, bool* fresh) {
    Inst3D* inst = IC_SlotGetInst(slot);
    const bool anew = inst && (slot->kind != body || inst->scene != scene);
    if (fresh) *fresh = anew;
    if (!inst) return nullptr;
    if (anew) {
        B3D_InstDeleteFromScene(inst);
        if (body > 0) B3D_InstSetBody(inst, body);
        B3D_InstAddToScene(inst, scene);
        slot->kind = body;
    }
    slot->state = 1;
    return inst;
}

void IC_SlotTakeOut(InstSlot* slot) {
    if (Inst3D* inst = IC_FindInst(slot->inst)) B3D_InstDeleteFromScene(inst);
    slot->state = 0;
}

void IC_SlotFree(InstSlot* slot) {
    if (Inst3D* inst = IC_FindInst(slot->inst)) B3D_InstFree(inst);
    *slot = InstSlot{};
}

Inst3D* IC_IconSlotGetInst(InstSlot* slots, int32_t index) {
    if (index < 0 || index > 5) return nullptr;
    return IC_SlotGetInst(&slots[index]);
}

// ---------------------------------------------------------------- sway

void IC_CockpitSway(CockpitSway* sway, const SectorObject* ship, int32_t dt) {
    if (!ship) return;
    const int32_t acceleration = dt ? static_cast<int32_t>((int64_t{ship->speed} - sway->lastSpeed) * 1000 / dt) : 0;
    const int32_t maxSpeed = O_GetMaxSpeed(ship);
    const bool speedChanging =
        maxSpeed != 0 && std::llabs(int64_t{ship->desiredSpeed} - ship->speed) > std::llabs(int64_t{maxSpeed}) / 10;
    bool still = true;
    if (!(ship->flags & 0x80000)) {
        const int32_t limit = static_cast<int32_t>(int64_t{kRotLimit} * dt / 1000);
        int32_t delta[3];
        for (int a = 0; a < 3; ++a) {
            delta[a] = ship->rotSpeed[a] ? ship->rotSpeed[a] - sway->lastRotSpeed[a] : 0;
            delta[a] = std::clamp(delta[a], -limit, limit);
            if (ship->rotSpeed[a]) still = false;
            sway->offset[a] -= static_cast<int32_t>((int64_t{delta[a]} * 458 + 0x8000) / 65536);
        }
        const int64_t s = std::min(ship->speed, 100000);
        const auto term = [&](int32_t d) { return static_cast<int32_t>((d * s / 65536) * 65536 / 2000000); };
        sway->offset[0] += term(delta[0]);
        sway->offset[1] += term(delta[1]);
        sway->offset[2] += term(delta[0]);
        const int64_t k = speedChanging ? (int64_t{acceleration} - sway->lastAcceleration) * 6553 / 65536 : 0;
        sway->jitter[2] += static_cast<int32_t>(k * 13107 / 65536);
    }
    for (int i = 0; i < 3; ++i) sway->jitter[i] = Clamp(sway->jitter[i], -kJitter, kJitter);
    sway->offset[0] = Clamp(sway->offset[0], -kOffsetXY, kOffsetXY);
    sway->offset[1] = Clamp(sway->offset[1], -kOffsetXY, kOffsetXY);
    sway->offset[2] = Clamp(sway->offset[2], -kOffsetZ, kOffsetZ);
    for (int a = 0; a < 3; ++a) sway->lastRotSpeed[a] = ship->rotSpeed[a];
    sway->lastSpeed = ship->speed;
    sway->lastAcceleration = acceleration;
    if (acceleration > 0 && speedChanging) {
        const int32_t n = static_cast<int32_t>(std::min<int64_t>(int64_t{acceleration} * 655 / 65536, 20));
        for (int i = 0; i < 2; ++i) {
            const int32_t r = static_cast<int32_t>(int64_t{Qel_RandomRaw()} * (n + 1) / 32768);
            sway->jitter[i] += 2 * r - n;
        }
    }
    if (dt >= kSwayClears) {
        std::fill(std::begin(sway->offset), std::end(sway->offset), 0);
        std::fill(std::begin(sway->jitter), std::end(sway->jitter), 0);
        return;
    }
    if (still) {
        const auto decay = [dt](int32_t v) {
            return static_cast<int32_t>(int64_t{v} * (kSwayClears - dt) / kSwayClears);
        };
        for (int32_t& v : sway->offset) v = decay(v);
        for (int32_t& v : sway->jitter) v = decay(v);
    }
}

// ---------------------------------------------------------------- target searches

SectorObject* IC_FindNearestEnemy(const Cockpit* cockpit) {
    SectorObject* ship = cockpit->refObject;
    if (!ship) return nullptr;
    const QelVector from = Position(ship);
    SectorObject* best = nullptr;
    int32_t bestDistance = kFarAway;
    ForEachInSector(cockpit, [&](SectorObject* o) {
        if (!Candidate(ship, o)) return;
        const QelVector p = Position(o);
        const int32_t d = INS_VecDistance(&from, &p);
        if (d < bestDistance) best = o, bestDistance = d;
    });
    return best;
}

SectorObject* IC_FindTargetAhead(const Cockpit* cockpit) {
    SectorObject* ship = cockpit->refObject;
    if (!ship) return nullptr;
    QelVector from;
    QelMatrix m;
    INS_GetViewPosition(cockpit, &from);
    INS_GetViewMatrix(cockpit, &m);
    SectorObject* best = nullptr;
    int32_t bestDistance = kFarAway;
    ForEachInSector(cockpit, [&](SectorObject* o) {
        if (!Candidate(ship, o)) return;
        if (o->mainType == SA_MT_SPECIAL) {
            const TypeRecord* t = SA_GetTypeRecord(SA_MT_SPECIAL, o->subType);
            if (!t || !t->field[17]) return;
        }
        const QelVector p = Position(o);
        const QelVector offset = INS_VecSub(p, from);
        QelVector v;
        Qel_MatTransMulVec(&m, &offset, &v);
        if (v.z < 0) return;
        const int32_t d = INS_VecDistance(&from, &p);
        const int32_t radius = O_GetRadius(o);
        if (int64_t{v.z} < int64_t{d} * 64539 / 65536) {
            const int64_t reach = int64_t{radius} * 3 / 4;
            if (std::llabs(v.x) > reach || std::llabs(v.y) > reach) return;
        }
        if (d < bestDistance) {
            best = o;
            bestDistance = d;
        } else if (!best && int64_t{d} <= int64_t{radius} * 20) {
            best = o;
        }
    });
    return best;
}

// ---------------------------------------------------------------- overlay hit tests

int32_t IC_ObjectAtOverlayPos(const Cockpit* cockpit, const OverlayEntry* entries, int32_t count, int32_t x,
                              int32_t y) {
    int32_t ox = 0, oy = 0;
    if (!entries || !OverlayPoint(cockpit, x, y, &ox, &oy)) return 0;
    if (const OverlayEntry* e = IconAt(entries, count, ox, oy)) return static_cast<int32_t>(e->object);
    const OverlayEntry* e = BracketAt(entries, count, ox, oy);
    return e ? static_cast<int32_t>(e->object) : 0;
}

int32_t IC_MenuPosAtOverlayPos(const Cockpit* cockpit, const OverlayEntry* entries, int32_t count, int32_t x, int32_t y,
                               int32_t out[5]) {
    int32_t ox = 0, oy = 0;
    if (!entries || !OverlayPoint(cockpit, x, y, &ox, &oy)) return 0;
    if (const OverlayEntry* e = IconAt(entries, count, ox, oy)) {
        const int64_t w = std::max(g_B3DState->screenWidth, 1), h = std::max(g_B3DState->screenHeight, 1);
        out[0] = e->iconX;
        out[1] = e->iconY;
        out[2] = Side(e->iconX);
        out[3] = Side(e->iconY);
        out[4] = std::llabs(e->iconX) * h < std::llabs(e->iconY) * w ? 1 : 0;
        return 1;
    }
    const OverlayEntry* e = BracketAt(entries, count, ox, oy);
    if (!e) return 0;
    const B3DIconRow* row = B3D_GetIconData(0, kIconType280);
    const int32_t threshold = row ? std::max(row->w, row->h) : kBracketThreshold;
    const int64_t width = std::llabs(int64_t{e->corners[0][0]} - e->corners[1][0]);
    if (width > threshold) {
        out[0] = ox;
        out[1] = oy;
    } else {
        out[0] = static_cast<int32_t>((int64_t{e->corners[0][0]} + e->corners[1][0]) / 2);
        out[1] = static_cast<int32_t>((int64_t{e->corners[0][1]} + e->corners[2][1]) / 2);
    }
    out[2] = Side(out[0]);
    out[3] = Side(out[1]);
    out[4] = 0;
    return 1;
}
