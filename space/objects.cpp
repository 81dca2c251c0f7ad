#include "space/objects.h"

#include <cstring>
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
#include "space/callnames.h"

SpaceRoot* g_SpaceRoot = nullptr;
int32_t g_SADockTunnelBody = 0;

namespace {

// Object data and object records live under memory tag 14, grown zeroed.
constexpr uint32_t kMemFlags = Int_MemTag(14) | INT_MEM_ZERO_TAIL;

int32_t AnswerZero(int32_t, SE_Task* task, int32_t, int32_t, ScriptValue*) {
    SE_TaskReturnIntEx(task, g_SEContext, 0);
    return 1;
}

void NoPhase(SectorObject*) {}

void LinkAfter(QelListNode* after, QelListNode* node) {
    QelListNode* next = after->next;
    node->prev = after;
    node->next = next;
    next->prev = node;
    after->next = node;
}

int32_t GameClock() { return g_SystemState ? g_SystemState->gameClock : 0; }

void FreeSlots(DockPortTable* ports) {
    if (ports->slots)
        Int_FreeMem(ports->slots, sizeof(DockPortSlot) * static_cast<size_t>(ports->slotCount), kMemFlags);
    ports->slots = nullptr;
    ports->slotCount = 0;
}

// The blocks the object data points to: dock-port slots and turret slots.
void FreeDataBlocks(SectorObject* object) {
    if (DockData* dock = O_DockData(object)) FreeSlots(&dock->ports);
    if (ShipData* ship = O_ShipData(object)) {
        FreeSlots(&ship->ports);
        if (ship->turrets)
            Int_FreeMem(ship->turrets, sizeof(TurretSlot) * static_cast<size_t>(ship->turretCount), kMemFlags);
        ship->turrets = nullptr;
        ship->turretCount = 0;
    }
}

bool IsLiveSector(const SectorObject* o) { return o && o->mainType == SA_MT_SECTOR && o->magic == SA_OBJECT_MAGIC; }

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

SectorObject* LiveSector(uint32_t id) {
    auto* o = reinterpret_cast<SectorObject*>(Qel_TableGet(g_SpaceRoot->ids, id));
    return IsLiveSector(o) ? o : nullptr;
}

}  // namespace

SA_CallHandler g_SAAnswerCall = AnswerZero;
SA_UpdatePhases g_SAPhases = {NoPhase, NoPhase, NoPhase, NoPhase, NoPhase};

// ---------------------------------------------------------------- lists

SectorObject* SA_ListFirst(const QelList* list) {
    const QelListNode* n = list->head.next;
    return n && n->next ? reinterpret_cast<SectorObject*>(const_cast<QelListNode*>(n)) : nullptr;
}

SectorObject* SA_ListNext(const SectorObject* object) {
    const QelListNode* n = object->link.next;
    return n && n->next ? reinterpret_cast<SectorObject*>(const_cast<QelListNode*>(n)) : nullptr;
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
    return root;
}

int32_t SA_SysCall(int32_t callerModule, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args) {
    SpaceRoot* root = g_SpaceRoot;
    if (root) root->inCall = 1;
    g_SAAnswerCall(callerModule, task, call, argc, args);
    if (root) root->inCall = 0;
    return 1;
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

// ---------------------------------------------------------------- objects

SectorObject* O_CreateObject(SectorObject* object, int32_t typeCode) {
    SpaceRoot* root = g_SpaceRoot;
    const int32_t mainType = SA_CodeMainType(typeCode);
    object->result.tag = 0;
    object->name = nullptr;
    object->speed = object->desiredSpeed = 0;
    for (int i = 0; i < 3; ++i) object->rot[i] = object->rotSpeed[i] = object->rot2[i] = 0;
    object->group = SA_GROUP_NEW;
    object->flags = object->flags2 = 0;
    object->mainType = static_cast<int16_t>(mainType);
    object->subType = static_cast<int16_t>(SA_CodeSubType(typeCode));
    object->container = object->parent = nullptr;
    object->eventObject = 0;
    object->callerModule = object->callerHandle = 0;
    object->wordAfterEvent = 16384;
    object->cutId = 0;
    object->magic = SA_OBJECT_MAGIC;
    object->mass = 0;
    object->time = GameClock();
    object->lastMoveTime = object->time;
    Qel_ListInit(&object->attached);
    object->typeData = nullptr;
    const uint32_t dataSize = SA_TypeDataSize(mainType);
    if (dataSize) object->typeData = Int_AllocMem(dataSize, kMemFlags);
    if (object->typeData) {
        if (SA_IsContainerType(mainType)) Qel_ListInit(O_GetChildList(object));
        if (ShipData* ship = O_ShipData(object)) {
            ship->maxSpeedOverride = ship->maxStrafeOverride = -1;
            ship->SpeedLimit = -1;
            ship->PortIndex = ship->PortSlot = -1;
        }
        if (mainType >= SA_MT_LASER && mainType <= SA_MT_WARE_LAST) *static_cast<int32_t*>(object->typeData) = 1;
    }
    if (root) {
        SA_ListAddTail(&root->objects, object);
        object->id = Qel_TableAdd(root->ids, reinterpret_cast<uintptr_t>(object));
    }
    return object;
}

SectorSpace* O_CreateSector(SectorSpace* sector, int32_t typeCode) {
    O_CreateObject(&sector->object, typeCode);
    sector->spaceScene = sector->galaxyScene = sector->dustScene = nullptr;
    sector->backgroundType = sector->starsIndex = sector->nebulasIndex = 0;
    sector->spaceFlags = SA_CodeSubType(typeCode) == 0 ? SA_SPACE_LOCAL_SOUNDS : 0;
    sector->sectorSize = 10000000;
    for (int32_t& w : sector->trailing) w = 0;
    sector->videoIndex = -1;
    return sector;
}

SectorObject* O_AllocObject(int32_t typeCode) {
    if (SA_CodeMainType(typeCode) == SA_MT_SECTOR) {
        auto* sector = Int_AllocRecord<SectorSpace>(kMemFlags);
        return sector ? &O_CreateSector(sector, typeCode)->object : nullptr;
    }
    auto* object = Int_AllocRecord<SectorObject>(kMemFlags);
    return object ? O_CreateObject(object, typeCode) : nullptr;
}

void O_FreeSectorObject(SectorObject* object) {
    SpaceRoot* root = g_SpaceRoot;
    // Every container frees its children with it, whatever its flags say:
    // nothing else would ever free them.
    if (QelList* children = O_GetChildList(object))
        while (SectorObject* child = SA_ListFirst(children)) O_DeleteObject(child);
    object->name = Qel_StrFree(object->name);
    if (object->instance) B3D_InstFree(object->instance);
    object->instance = nullptr;
    if (SunData* sun = object->mainType == SA_MT_SUN ? static_cast<SunData*>(object->typeData) : nullptr)
        for (Inst3D*& glow : sun->glow) {
            if (glow) B3D_InstFree(glow);
            glow = nullptr;
        }
    if (PlanetData* planet = object->mainType == SA_MT_PLANET ? static_cast<PlanetData*>(object->typeData) : nullptr) {
        if (planet->extra) B3D_InstFree(planet->extra);
        planet->extra = nullptr;
    }
    if (root && root->game.playerObject == object) root->game.playerObject = nullptr;
    const uint32_t dataSize =
        object->mainType >= 0 && object->mainType < SA_MAIN_TYPE_COUNT ? SA_TypeDataSize(object->mainType) : 0;
    if (object->typeData) {
        FreeDataBlocks(object);
        if (dataSize) Int_FreeMem(object->typeData, dataSize, kMemFlags);
        else Qel_DPrintf(0, "Unfreed Sector Object TypeData:%d!\n", object->mainType);
    } else if (dataSize) {
        Qel_DPrintf(0, "S_FreeMem: Trying to free NULL pointer, len %d\n", static_cast<int32_t>(dataSize));
    }
    object->typeData = nullptr;
    if (root && object->id && Qel_TableGet(root->ids, object->id) == reinterpret_cast<uintptr_t>(object))
        Qel_TableRemove(root->ids, object->id);
    SA_ListUnlink(object);
    if (object->result.tag) SV_Release(&object->result);
    const bool sector = object->mainType == SA_MT_SECTOR;
    std::memset(static_cast<void*>(object), 0, sector ? sizeof(SectorSpace) : sizeof(SectorObject));
}

void O_DeleteObject(SectorObject* object) {
    const bool sector = object->mainType == SA_MT_SECTOR;
    O_FreeSectorObject(object);
    if (sector) Int_FreeRecord(reinterpret_cast<SectorSpace*>(object), kMemFlags);
    else Int_FreeRecord(object, kMemFlags);
}

void O_DeleteSectorObject(SectorObject* object) {
    if (g_SpaceRoot && g_SpaceRoot->game.playerObject == object) g_SpaceRoot->game.playerObject = nullptr;
    O_DeleteObject(object);
}

// ---------------------------------------------------------------- the frame

void SA_UpdateSpace() {
    StandIn_Record("SA_UpdateSpace");
    SpaceRoot* root = g_SpaceRoot;
    if (!root) return;
    static std::vector<uint32_t> sectors;
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
    QelList* children = O_GetChildList(sector);
    if (!children || sector->mainType != SA_MT_SECTOR) return;
    SectorObject* next = nullptr;
    for (SectorObject* child = SA_ListFirst(children); child; child = next) {
        next = SA_ListNext(child);
        if (child->flags & SA_FLAG_KILLED) O_DeleteSectorObject(child);
    }
}

void SA_DeleteKilledObjects() {
    if (!g_SpaceRoot) return;
    for (SectorObject* o = SA_ListFirst(&g_SpaceRoot->objects); o; o = SA_ListNext(o))
        if (o->mainType == SA_MT_SECTOR) O_DeleteKilledChildren(o);
}

void SA_FreeAllObjects(SpaceRoot* root) {
    StandIn_Record("SA_FreeAllObjects");
    if (!root->objects.head.next) return;  // never made
    while (SectorObject* o = SA_ListFirst(&root->objects)) O_DeleteObject(o);
    root->game.playerObject = nullptr;
}
