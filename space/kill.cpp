#include "space/kill.h"

#include <cstring>
#include <initializer_list>
#include <vector>

#include "base/log.h"
#include "base/memory.h"
#include "base/random.h"
#include "base/strings.h"
#include "base/table.h"
#include "cockpit/cockpits.h"
#include "cockpit/effects.h"
#include "cockpit/explosions.h"
#include "scene/trees.h"
#include "script/context.h"
#include "script/tasks.h"
#include "script/values.h"
#include "space/collisions.h"
#include "space/cutscene.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/typesdb.h"

namespace {

constexpr uint32_t kMemFlags = Int_MemTag(14) | INT_MEM_ZERO_TAIL;
// The bullet subtype whose kill deals the global area damage.
constexpr int16_t kAreaBulletSubType = 12;
constexpr int32_t kGlobalAreaDamage = 82;
constexpr int32_t kGlobalAreaRadius = 83;
// Bullet type flag (field 22): the kill of such a bullet gets effects and stops.
constexpr int32_t kBulletKillEffects = 0x100;
// Missile type flag byte (field 34): the launcher may detonate it.
constexpr int32_t kMissileRemote = 0x40;
constexpr int32_t kAnswerFreed = 8;

int s_passDepth = 0;
// IDs of objects story code freed while a pass was open.
std::vector<uint32_t> s_queue;

// The IDs of every object, taken before a walk whose call-outs may add, move
// or kill objects; each is looked up again when its turn comes.
std::vector<uint32_t> AllIds() {
    std::vector<uint32_t> ids;
    if (!g_SpaceRoot || !g_SpaceRoot->ids) return ids;
    ids.reserve(Qel_TableGetCount(g_SpaceRoot->ids));
    for (uint32_t k = Qel_TableNext(g_SpaceRoot->ids, 0); k; k = Qel_TableNext(g_SpaceRoot->ids, k)) ids.push_back(k);
    return ids;
}

bool IsSector(const SectorObject* o) { return o && o->mainType == SA_MT_SECTOR; }

void DrainQueue() {
    ++s_passDepth;  // frees made here queue behind the rest
    while (!s_queue.empty()) {
        const uint32_t id = s_queue.back();
        s_queue.pop_back();
        if (SectorObject* o = SA_LookupObject(id)) O_DeleteSectorObject(o);
    }
    --s_passDepth;
}

template <typename T>
void Drop(T*& slot, const SectorObject* object) {
    if (slot == object) slot = nullptr;
}

// Clears every pointer the holder keeps to the object (its own fields and its
// object data); its parent is the caller's.
void ClearReferences(SectorObject* holder, SectorObject* object) {
    Drop(holder->tractorSource, object);
    Drop(holder->tractorHeld, object);
    Drop(holder->reference, object);
    Drop(holder->reference3, object);
    Drop(holder->reference4, object);
    if (!holder->typeData) return;
    auto dropPorts = [object](DockPortTable* ports) {
        for (int32_t i = 0; ports->slots && i < ports->slotCount; ++i) Drop(ports->slots[i].occupant, object);
    };
    if (ShipData* ship = O_ShipData(holder)) {
        Drop(ship->OrderTarget, object);
        for (SectorObject*& o : ship->avoidObjects) Drop(o, object);
        for (SectorObject*& o : ship->collisionObjects) Drop(o, object);
        for (int32_t i = 0; ship->turrets && i < ship->turretCount; ++i) Drop(ship->turrets[i].target, object);
        dropPorts(&ship->ports);
    } else if (DockData* dock = O_DockData(holder)) {
        Drop(dock->connectionParent, object);
        dropPorts(&dock->ports);
    } else if (BulletData* bullet = O_BulletData(holder)) {
        Drop(bullet->owner, object);
        Drop(bullet->target, object);
    } else if (MissileData* missile = O_MissileData(holder)) {
        Drop(missile->launcher, object);
        Drop(missile->target, object);
    } else if (CameraData* camera = O_CameraData(holder)) {
        Drop(camera->destination, object);
    } else if (GateData* gate = O_GateData(holder)) {
        for (SectorObject*& o : gate->slotOccupant) Drop(o, object);
    }
}

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

void FreeInstance(Inst3D*& inst) {
    if (inst) B3D_InstFree(inst);
    inst = nullptr;
}

int32_t TypeField(const SectorObject* object, int32_t field) {
    const TypeRecord* t = O_GetTypeRecord(object);
    return t ? t->field[field] : 0;
}

}  // namespace

SA_DamageFn g_SADamageObject = S_DamageObject;

void O_DamageObject(SectorObject* object, SectorObject* attacker, int32_t amount, int32_t kind) {
    SA_Pass pass;
    g_SADamageObject(object, attacker, amount, kind);
}

void SA_RunStory(uint32_t storyObject, const char* name, int32_t argc, const int32_t* args) {
    if (!g_SEContext || !g_SpaceRoot) return;
    SE_RunIntArgs(g_SEContext, g_SpaceRoot->moduleNumber, 0, static_cast<int32_t>(storyObject), name, VARTYPE_INTEGER,
                  argc, args);
}

// ---------------------------------------------------------------- passes

SA_Pass::SA_Pass() { ++s_passDepth; }

SA_Pass::~SA_Pass() {
    if (--s_passDepth == 0 && !s_queue.empty()) DrainQueue();
}

int SA_InPass() { return s_passDepth > 0 ? 1 : 0; }

void O_FreeOrQueue(SectorObject* object) {
    if (!SA_InPass()) {
        O_DeleteSectorObject(object);
        return;
    }
    if (!(object->flags & SA_FLAG_KILLED)) {
        object->flags |= SA_FLAG_KILLED;
        O_UnlinkObject(object, 0);
    }
    for (uint32_t id : s_queue)
        if (id == object->id) return;
    s_queue.push_back(object->id);
}

// ---------------------------------------------------------------- kill

void SS_KillObject(SectorObject* object, int16_t kind, SectorObject* killer, int32_t extra) {
    if (!object) return;
    if (object->flags & SA_FLAG_KILLED) {
        const int32_t id = static_cast<int32_t>(object->id);
        const int32_t ev = static_cast<int32_t>(object->eventObject);
        Qel_DPrintf(0, "SS_KillObject(@%d#%d, %d, @%d#%d) %s Object already killed!\n", id, -ev, kind, id, ev,
                    SA_ScriptPosition());
        return;
    }
    SA_Pass pass;
    object->flags |= SA_FLAG_KILLED;
    if (kind == 14 || (kind >= 16 && kind <= 21)) {
        O_UnlinkObject(object, 0);
        return;
    }
    bool effects = true;
    if (object->flags & SA_FLAG_DRIFTING_KILL) {
        effects = (TypeField(object, SA_TF_BULLET_FLAGS) & kBulletKillEffects) != 0;
        if (effects) object->speed = object->desiredSpeed = 0;
    }
    if (effects) {
        for (int i = 0; i < 3; ++i) {
            object->rot2[i] = object->rot[i];
            object->rotSpeed[i] = 0;
        }
        EO_ObjectDestroyedEffect(object, killer, extra);
        if (O_KillSoundPlays(object)) EO_PlayExplosionSound(object);
    }
    SectorObject* sector = IsSector(object->container) ? object->container : nullptr;
    if (sector && object->mainType == SA_MT_MISSILE && (object->flags & SA_FLAG_AREA_DAMAGE)) {
        const int32_t radius = TypeField(object, SA_TF_MISSILE_RADIUS);
        if (radius > 0) O_KillObjectEvents(sector, object, TypeField(object, SA_TF_MISSILE_DAMAGE), radius, killer);
    } else if (sector && object->mainType == SA_MT_BULLET && object->subType == kAreaBulletSubType) {
        O_KillObjectEvents(sector, object, SA_GetGlobalParameter(kGlobalAreaDamage),
                           SA_GetGlobalParameter(kGlobalAreaRadius), killer);
    }
    O_UnlinkObject(object, 0);
}

void O_KillObjectEvents(SectorObject* sector, SectorObject* bomb, int32_t damage, int32_t radius,
                        SectorObject* excluded) {
    if (damage < 1 || radius < 1 || !sector || !bomb || !bomb->instance) return;
    SA_Pass pass;
    for (uint32_t id : SA_ChildIds(sector)) {
        SectorObject* child = SA_LookupObject(id);
        // Killed children take no more damage and ask for no more rocks.
        if (!child || child->container != sector || child == excluded ||
            (child->flags & (SA_FLAG_NO_AREA_DAMAGE | SA_FLAG_KILLED)))
            continue;
        if (!child->instance || !bomb->instance) continue;
        const int64_t d = SA_VecDistance(&child->instance->pos, &bomb->instance->pos);
        if (d < 1 || d >= radius) continue;
        const bool inField = child->parent && child->parent->mainType == SA_MT_DEBRIS;
        if (child->mainType == SA_MT_ASTEROID && !child->eventObject && inField && child->parent->eventObject) {
            const int32_t arg = static_cast<int32_t>(child->id);
            SA_RunStory(child->parent->eventObject, "CreateRock", 1, &arg);
        }
        const int64_t r = Qel_RandomRaw() & 32767;
        int64_t amount = (100 - d * 100 / radius) * damage / 100;
        amount = amount * (95 + ((r * 6) >> 15)) / 100;
        O_DamageObject(child, bomb, static_cast<int32_t>(amount), -1);
        if (child->hull > 0 &&
            !((child->flags & SA_FLAG_ASTEROID) && child->parent && child->parent->mainType == SA_MT_DEBRIS))
            continue;
        int16_t cause = 0;
        SectorObject* killer = bomb;
        if (const BulletData* bullet = O_BulletData(bomb)) {
            cause = 2;
            killer = bullet->owner;
        } else if (const MissileData* missile = O_MissileData(bomb)) {
            cause = 5;
            killer = missile->launcher;
        }
        if (child->flags & SA_FLAG_KILLED) continue;  // the damage killed it
        if (child->eventObject) {
            const int32_t args[3] = {cause, killer ? static_cast<int32_t>(killer->id) : 0,
                                     static_cast<int32_t>(bomb->id)};
            SA_RunStory(child->eventObject, "KilledBy", 3, args);
        } else {
            SS_KillObject(child, cause, killer, 0);
        }
    }
}

int O_RemoteDetonateMissile(SectorObject* ship) {
    if (!ship || !ship->container) return 0;
    SA_Pass pass;
    int found = 0;
    for (uint32_t id : SA_ChildIds(ship->container)) {
        SectorObject* m = SA_LookupObject(id);
        const MissileData* missile = m ? O_MissileData(m) : nullptr;
        if (!missile || m->container != ship->container || missile->launcher != ship || (m->flags & SA_FLAG_KILLED))
            continue;
        if (!(TypeField(m, SA_TF_MISSILE_FLAGS) & kMissileRemote)) continue;
        found = 1;
        if (m->eventObject) {
            const int32_t args[3] = {2, 0, 0};
            SA_RunStory(m->eventObject, "KilledBy", 3, args);
        } else {
            SS_KillObject(m, 2, nullptr, 0);
        }
    }
    return found;
}

// ---------------------------------------------------------------- unlink

void O_UnlinkObject(SectorObject* object, int /*mode*/) {
    if (!object) return;
    SA_Pass pass;
    // Every object, not only the top ones: objects in sectors and containers
    // hold references too.
    for (uint32_t id : AllIds()) {
        SectorObject* o = SA_LookupObject(id);
        if (!o || o == object) continue;
        ClearReferences(o, object);
        if (o->parent != object) continue;
        o->parent = nullptr;
        O_SelfDestructOrKill(o, SA_SELF_DESTRUCT_DEPENDANT);
    }
    INS_RemoveObjectReferences(object);
    ST_DropObject(object);
    if (object->mainType == SA_MT_LASER && object->container && object->container->mainType == SA_MT_SHIP &&
        object->typeData)
        static_cast<LaserData*>(object->typeData)->slot = -1;
    EO_RemoveObjectReferences(object);
}

void O_SelfDestructOrKill(SectorObject* object, int32_t reason) {
    if (object->eventObject) {
        SA_RunStory(object->eventObject, "SelfDestruct", 1, &reason);
    } else if (!(object->flags & SA_FLAG_KILLED)) {
        object->flags |= SA_FLAG_KILLED;
        O_UnlinkObject(object, 0);
    }
}

int O_KillSoundPlays(const SectorObject* object) {
    const SectorObject* sector = object->container;
    if (!IsSector(sector)) return 0;
    const SectorSpace* space = reinterpret_cast<const SectorSpace*>(sector);
    if (!(space->spaceFlags & SA_SPACE_LOCAL_SOUNDS)) return 1;
    const SectorObject* player = g_SpaceRoot ? g_SpaceRoot->game.playerObject : nullptr;
    return !player || player->container == sector ? 1 : 0;
}

void O_CreateWreck(uint32_t eventObject) { SA_RunStory(eventObject, "CreateWreck", 0, nullptr); }
void O_CreateDebris(uint32_t eventObject) { SA_RunStory(eventObject, "CreateDebris", 0, nullptr); }

// ---------------------------------------------------------------- free

void O_FreeSectorObject(SectorObject* object) {
    SpaceRoot* root = g_SpaceRoot;
    SA_Pass pass;
    // Out of reach of story code first: what the free's call-outs start can
    // neither find it by ID nor take it for alive.
    if (root && object->id && Qel_TableGet(root->ids, object->id) == reinterpret_cast<uintptr_t>(object))
        Qel_TableRemove(root->ids, object->id);
    object->flags |= SA_FLAG_KILLED;
    if (SectorSpace* sector = O_Sector(object))
        for (Scene3D* scene : {sector->spaceScene, sector->galaxyScene, sector->dustScene})
            EO_RemoveExplosionReferences(scene);
    if (object->callerModule) {
        const ShipData* ship = O_ShipData(object);
        Qel_DPrintf(0,
                    "WARNING: SectorObject freeing but a task waits for a system call on this object! id=%d "
                    "eventobj=%d maintype=%d coursetype=%d\n",
                    static_cast<int32_t>(object->id), static_cast<int32_t>(object->eventObject), object->mainType,
                    ship ? ship->CourseType : 0);
        SA_FireObjectCallback(object, kAnswerFreed);
    }
    if (ShipData* ship = O_ShipData(object))
        for (int32_t n = 0; ship->turrets && n < ship->turretCount; ++n)
            if (ship->turrets[n].caller.module) {
                Qel_DPrintf(0,
                            "WARNING: SectorObject freeing but a turret task waits for a system call on this "
                            "object!\n");
                SA_FireTurretCallback(object, n, kAnswerFreed);
            }
    // Every container frees its children with it, whatever its flags say:
    // nothing else would ever free them.
    if (QelList* children = O_GetChildList(object))
        while (SectorObject* child = SA_ListFirst(children)) O_DeleteObject(child);
    object->name = Qel_StrFree(object->name);
    FreeInstance(object->instance);
    if (object->mainType == SA_MT_SUN && object->typeData)
        for (Inst3D*& glow : static_cast<SunData*>(object->typeData)->glow) FreeInstance(glow);
    if (object->mainType == SA_MT_PLANET && object->typeData)
        FreeInstance(static_cast<PlanetData*>(object->typeData)->extra);
    if (root && root->game.playerObject == object) root->game.playerObject = nullptr;
    O_UnlinkObject(object, 0);
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
