#include "space/objects.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/standin_calls.h"
#include "base/strings.h"
#include "base/table.h"
#include "scene/names.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "script/context.h"
#include "script/lookup.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "space/behaviour.h"
#include "space/callnames.h"
#include "space/collisions.h"
#include "space/hangars.h"
#include "space/kill.h"
#include "space/movement.h"

SpaceRoot* g_SpaceRoot = nullptr;
int32_t g_SADockTunnelBody = 0;

namespace {

void LinkAfter(QelListNode* after, QelListNode* node) {
    QelListNode* next = after->next;
    node->prev = after;
    node->next = next;
    next->prev = node;
    after->next = node;
}

// Killed sectors wait for their free; no phase runs on them.
bool IsLiveSector(const SectorObject* o) {
    return o && o->mainType == SA_MT_SECTOR && o->magic == SA_OBJECT_MAGIC && !(o->flags & SA_FLAG_KILLED);
}

// The IDs of the sectors of the root's list, taken before a pass so that a
// phase that frees or adds objects cannot leave the walk on a freed record.
void CollectSectorIds(std::vector<uint32_t>* ids, bool activeOnly) {
    ids->clear();
    for (SectorObject* o = SA_ListFirst(&g_SpaceRoot->objects); o; o = SA_ListNext(o)) {
        if (o->mainType != SA_MT_SECTOR) continue;
        if (activeOnly && (O_Sector(o)->spaceFlags & SA_SPACE_INACTIVE)) continue;
        ids->push_back(o->id);
    }
}

// A sector's scenes may be freed under it (the run start's location reset
// frees every scene): the sector then has none rather than a freed one.
void DropSectorScene(Scene3D* scene) {
    if (!g_SpaceRoot || !g_SpaceRoot->ids) return;
    for (uint32_t k = Qel_TableNext(g_SpaceRoot->ids, 0); k; k = Qel_TableNext(g_SpaceRoot->ids, k)) {
        SectorSpace* sector = O_Sector(reinterpret_cast<SectorObject*>(Qel_TableGet(g_SpaceRoot->ids, k)));
        if (!sector) continue;
        for (Scene3D** slot : {&sector->spaceScene, &sector->galaxyScene, &sector->dustScene})
            if (*slot == scene) *slot = nullptr;
    }
}

// A story may free an object's instances through the scene engine's own
// calls (an instance by its id, the scene take a space take shares, a whole
// scene): the object then keeps none rather than a freed one. It stays in
// play without visuals; the passes skip objects without an instance.
void DropDyingInstances(std::span<const Inst3D* const> dying) {
    if (!g_SpaceRoot || !g_SpaceRoot->ids || dying.empty()) return;
    const auto dies = [dying](const Inst3D* inst) {
        return inst && std::binary_search(dying.begin(), dying.end(), inst);
    };
    const auto drop = [&dies](Inst3D*& slot) {
        if (dies(slot)) slot = nullptr;
    };
    for (uint32_t k = Qel_TableNext(g_SpaceRoot->ids, 0); k; k = Qel_TableNext(g_SpaceRoot->ids, k)) {
        auto* object = reinterpret_cast<SectorObject*>(Qel_TableGet(g_SpaceRoot->ids, k));
        if (!object) continue;
        for (Inst3D** slot : {&object->instance, &object->instance2, &object->instance3}) drop(*slot);
        if (DockPortTable* ports = O_PortTable(object))
            for (int32_t i = 0; ports->slots && i < ports->slotCount; ++i) {
                drop(ports->slots[i].portInstance);
                drop(ports->slots[i].approachInstance);
            }
        if (BulletData* bullet = O_BulletData(object)) drop(bullet->gunInstance);
        if (object->mainType == SA_MT_SUN && object->typeData)
            for (Inst3D*& glow : static_cast<SunData*>(object->typeData)->glow) drop(glow);
        if (object->mainType == SA_MT_PLANET && object->typeData)
            drop(static_cast<PlanetData*>(object->typeData)->extra);
        if (CameraData* camera = O_CameraData(object); camera && dies(camera->sceneCamera))
            O_SetCameraSceneInstance(camera, nullptr);
    }
}

SectorObject* LiveSector(uint32_t id) {
    auto* o = reinterpret_cast<SectorObject*>(Qel_TableGet(g_SpaceRoot->ids, id));
    return IsLiveSector(o) ? o : nullptr;
}

bool Killed(const SectorObject* o) { return o && (o->flags & SA_FLAG_KILLED); }

// The IDs of the killed objects held in a container, at any depth; a killed
// container frees what it holds with it, so its own list is not walked.
void CollectKilled(SectorObject* container, std::vector<uint32_t>* ids) {
    for (SectorObject* c = SA_FirstChild(container); c; c = SA_ListNext(c)) {
        if (Killed(c)) ids->push_back(c->id);
        else if (O_GetChildList(c)) CollectKilled(c, ids);
    }
}

// Frees the objects of the list that are still killed when their turn
// comes: freeing one runs story code that may move, kill or free others.
void DeleteKilled(const std::vector<uint32_t>& ids) {
    for (uint32_t id : ids)
        if (SectorObject* o = SA_LookupObject(id); Killed(o)) O_DeleteSectorObject(o);
}

}  // namespace

SA_UpdatePhases g_SAPhases = {S_CheckCollisions, VER_UpdateObjects, O_UpdateHangars, B3D_BerechneSXZ,
                              SA_UpdateObjectOrient};

// ---------------------------------------------------------------- lists

SectorObject* SA_ListFirst(const QelList* list) {
    const QelListNode* n = list->head.next;
    return n && n->next ? reinterpret_cast<SectorObject*>(const_cast<QelListNode*>(n)) : nullptr;
}

SectorObject* SA_ListNext(const SectorObject* object) {
    const QelListNode* n = object->link.next;
    return n && n->next ? reinterpret_cast<SectorObject*>(const_cast<QelListNode*>(n)) : nullptr;
}

SectorObject* SA_FirstChild(SectorObject* object) {
    const QelList* children = O_GetChildList(object);
    return children ? SA_ListFirst(children) : nullptr;
}

void SA_ListAddTail(QelList* list, SectorObject* object) {
    SA_ListUnlink(object);
    Qel_ListAddTail(list, &object->link);
}

void SA_ListAddHead(QelList* list, SectorObject* object) {
    SA_ListUnlink(object);
    LinkAfter(&list->head, &object->link);
}

void SA_ListInsertAfter(SectorObject* after, SectorObject* object) {
    if (!after->link.next) return;  // not in a list
    SA_ListUnlink(object);
    LinkAfter(&after->link, &object->link);
}

void SA_ListUnlink(SectorObject* object) { Qel_ListRemove(&object->link); }

SectorObject* SA_LookupObject(uint32_t id) {
    return g_SpaceRoot ? reinterpret_cast<SectorObject*>(Qel_TableGet(g_SpaceRoot->ids, id)) : nullptr;
}

std::vector<uint32_t> SA_ChildIds(SectorObject* container) {
    std::vector<uint32_t> ids;
    if (QelList* children = O_GetChildList(container))
        for (SectorObject* c = SA_ListFirst(children); c; c = SA_ListNext(c)) ids.push_back(c->id);
    return ids;
}

SectorObject* SA_PassChild(uint32_t id, const SectorObject* sector) {
    SectorObject* o = SA_LookupObject(id);
    return o && o->container == sector && !(o->flags & SA_FLAG_KILLED) && o->instance ? o : nullptr;
}

// ---------------------------------------------------------------- the root

SpaceRoot* SA_Init(SpaceRoot* root) {
    StandIn_Record("SA_Init");
    root->started = 0;
    root->running = 0;
    root->result.tag = 0;
    Qel_ListInit(&root->objects);
    root->ids = Qel_TableCreate();
    root->takes = Qel_TableCreate();
    root->moduleNumber = g_SEContext ? SB_RegisterEngineModule(g_SEContext, SA_SysCall, SA_GetCallNames(),
                                                               SA_ReturnIntCallback, nullptr, nullptr)
                                     : 0;
    const int32_t word1 = root->game.word1;
    root->game = SpaceGameWords{};
    root->game.word1 = word1;
    root->inCall = 0;
    g_SADockTunnelBody = g_B3DState ? B3D_GetBodyID("stations\\docks\\dock_tunnel") : 0;
    g_B3DSceneFreedHook = DropSectorScene;
    g_B3DInstsFreedHook = DropDyingInstances;
    return root;
}

void SA_ReturnIntCallback(uint32_t handle, int32_t value) {
    SpaceRoot* root = g_SpaceRoot;
    if (!root) return;
    uint16_t* arrived = &root->answerArrived;
    ScriptValue* result = &root->result;
    if (handle != 0) {
        SectorObject* object = SA_FindObjectByID(handle);
        if (!object) return;
        arrived = &object->answerArrived;
        result = &object->result;
    }
    *arrived = 1;
    if (result->tag) SV_Release(result);
    result->tag = VARTYPE_INTEGER;
    result->bits = 0;
    result->i = value;
}

const char* SA_ScriptPosition() {
    if (!g_SpaceRoot || !g_SpaceRoot->inCall) return "NoStory";
    return SE_GetCurrentDebugAddress();
}

SectorObject* SA_FindObjectByID(uint32_t id) {
    SectorObject* object = nullptr;
    if (g_SpaceRoot) object = reinterpret_cast<SectorObject*>(Qel_TableGet(g_SpaceRoot->ids, id));
    if (!object) Qel_DPrintf(0, "SA_FindObjectByID(%d) %s failed!\n", static_cast<int32_t>(id), SA_ScriptPosition());
    return object;
}

// ---------------------------------------------------------------- the frame

void SA_UpdateSpace() {
    StandIn_Record("SA_UpdateSpace");
    SpaceRoot* root = g_SpaceRoot;
    if (!root) return;
    SA_Pass pass;
    std::vector<uint32_t> sectors;
    // Every sector's collisions, behaviours and hangars finish before any
    // movement of the frame.
    if (root->running) {
        CollectSectorIds(&sectors, true);
        for (uint32_t id : sectors) {
            if (SectorObject* s = LiveSector(id)) g_SAPhases.checkCollisions(s);
            if (SectorObject* s = LiveSector(id)) g_SAPhases.updateObjects(s);
            if (SectorObject* s = LiveSector(id)) g_SAPhases.updateHangars(s);
        }
    }
    CollectSectorIds(&sectors, true);
    for (uint32_t id : sectors) {
        if (SectorObject* s = LiveSector(id)) g_SAPhases.move(s);
        if (SectorObject* s = LiveSector(id)) g_SAPhases.orient(s);
    }
}

void O_DeleteKilledChildren(SectorObject* sector) {
    StandIn_Record("O_DeleteKilledChildren");
    if (!O_GetChildList(sector) || sector->mainType != SA_MT_SECTOR) return;
    SA_Pass pass;
    // A killed ship in a dock, or anything killed deeper down, goes at the
    // end of its frame too: it would otherwise wait for its container, and
    // a task on it with it.
    std::vector<uint32_t> killed;
    CollectKilled(sector, &killed);
    DeleteKilled(killed);
}

void SA_DeleteKilledObjects() {
    if (!g_SpaceRoot) return;
    SA_Pass pass;
    std::vector<uint32_t> sectors;
    CollectSectorIds(&sectors, false);
    for (uint32_t id : sectors)
        if (SectorObject* s = SA_LookupObject(id); s && s->mainType == SA_MT_SECTOR) O_DeleteKilledChildren(s);
    // Then killed sectors, with all they hold, and killed unplaced objects.
    std::vector<uint32_t> killed;
    for (SectorObject* o = SA_ListFirst(&g_SpaceRoot->objects); o; o = SA_ListNext(o))
        if (Killed(o)) killed.push_back(o->id);
    DeleteKilled(killed);
}

void SA_FreeAllObjects(SpaceRoot* root) {
    StandIn_Record("SA_FreeAllObjects");
    if (!root->objects.head.next) return;  // never made
    SA_Pass pass;
    while (SectorObject* o = SA_ListFirst(&root->objects)) O_DeleteObject(o);
    root->game.playerObject = nullptr;
}
