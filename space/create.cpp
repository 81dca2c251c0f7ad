#include "space/create.h"

#include <cstring>

#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/table.h"
#include "scene/allocs.h"
#include "scene/caches.h"
#include "scene/geometry.h"
#include "scene/lists.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "script/textpages.h"
#include "space/cutscene.h"
#include "space/detail.h"
#include "space/kill.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/typesdb.h"
#include "system/clock.h"

namespace {

constexpr uint32_t kMemFlags = Int_MemTag(14) | INT_MEM_ZERO_TAIL;
constexpr uint32_t kFlagsTail = 0x80000004;
constexpr int32_t kNoLongerUsedBody = 0xFFFF;
constexpr int32_t kSunDefaultSize = 110000000;
constexpr int32_t kSectorTextId = 882;
constexpr uint32_t kBulletInstFlags = 0x20800000;
constexpr uint32_t kShip75InstFlags = 0x20000000;
constexpr int16_t kShipSubType75 = 75;
constexpr int32_t kBulletMinSize = 100;
constexpr int32_t kBulletRadiusFlags = 0x2 | 0x4 | 0x8;
constexpr uint32_t kDecoupledInstFlag = 0x100000;
constexpr int32_t kDecoupleSearch = 2500000;
// A ship's orders re-plan after a random 0 .. this many ms of game time. No
// type or story call sets it, and a ship made without it re-plans every frame
// and logs each draw as a bad random range. Half a second keeps an attack
// turning onto a dodging target quickly while a sector full of ships still
// plans only a few times a second each.
constexpr int32_t kShipThinkIntervalMs = 500;
// A planet's extra instance: 10.0 along its direction while it is nearer
// than this, else its position pushed out to kPlanetFar.
constexpr int64_t kPlanetNear = 100000001;
constexpr int64_t kPlanetFar = 1000000000;
constexpr int64_t kPlanetExtraDistance = 10 * int64_t{QEL_FIX_ONE};

int32_t GameClock() { return g_SystemState ? g_SystemState->gameClock : 0; }

// Main types whose subtypes come from a types table (a T* file or a built-in record).
bool HasTypesTable(int32_t mainType) {
    return SA_TypesFileName(mainType) || mainType == SA_MT_CAMERA || mainType == SA_MT_NEBULA;
}

void LogInvalidSubType(int32_t mainType, int32_t subType) {
    switch (mainType) {
        case SA_MT_SHIP: Qel_DPrintf(0, "Invalid ship subtype %d\n", subType); break;
        case SA_MT_DOCK: Qel_DPrintf(0, "Invalid dock subtype %d\n", subType); break;
        case SA_MT_FACTORY: Qel_DPrintf(0, "Invalid factory subtype %d\n", subType); break;
        default: Qel_DPrintf(0, "O_InitObject(%d,%d) Invalid subtype %d\n", mainType, subType, subType); break;
    }
}

const char* FixedName(int32_t mainType) {
    switch (mainType) {
        case SA_MT_CAMERA: return "Camera";
        case SA_MT_SUN: return "Sun";
        case SA_MT_PLANET: return "Planet";
        case SA_MT_ASTEROID: return "Asteroid";
        case SA_MT_DEBRIS: return "Debris";
        case SA_MT_DOCK_WRECK:
        case SA_MT_FACTORY_WRECK:
        case SA_MT_SHIP_WRECK: return "Wreck";
        default: return "Unnamed Object";
    }
}

void SetName(SectorObject* o, const TypeRecord* t) {
    const char* text = nullptr;
    if (HasTypesTable(o->mainType) && t) {
        const int32_t id = t->field[SA_TF_TEXT_ID];
        if (id >= 1 && id <= 999) text = SB_GetText(35, id);
        else if (id >= 1000) text = SB_GetText(17, id);
    } else if (o->mainType == SA_MT_SECTOR) {
        text = SB_GetText(35, kSectorTextId);
    } else {
        if (o->mainType != SA_MT_27) Qel_DPrintf(0, "O_GetTextID() No text for maintype %d\n", o->mainType);
        text = FixedName(o->mainType);
    }
    if (text) o->name = Qel_StrReassign(o->name, text);
}

// Creation flags, flags2 and object data words by main type.
void InitTypeData(SectorObject* o, const TypeRecord* t) {
    const int32_t* f = t ? t->field : nullptr;
    const int32_t word18 = f ? f[SA_TF_DEBRIS_LEVELS] : 0;
    if (const uint32_t size = SA_TypeDataSize(o->mainType)) o->typeData = Int_AllocMem(size, kMemFlags);
    if (o->typeData && SA_IsContainerType(o->mainType)) Qel_ListInit(O_GetChildList(o));
    switch (o->mainType) {
        case SA_MT_BULLET:
            o->flags = 0x40004801;
            if (BulletData* b = O_BulletData(o)) {
                // It lives its type's lifetime from now, as a fired one does:
                // the clock alone would end it on its first frame.
                b->lifetime = f ? f[SA_TF_BULLET_LIFETIME] : 0;
                b->expiryTime = S_ClockAdvance(GameClock(), b->lifetime);
                b->typeFlags = f ? static_cast<uint32_t>(f[SA_TF_BULLET_FLAGS]) : 0;
            }
            break;
        case SA_MT_SECTOR: o->flags2 |= SA_FLAG2_STATIONARY; break;
        case SA_MT_SUN:
            o->flags = 0x401;
            o->flags2 |= SA_FLAG2_STATIONARY;
            break;
        case SA_MT_PLANET:
            o->flags = 0x801;
            o->flags2 |= SA_FLAG2_STATIONARY;
            break;
        case SA_MT_DOCK:
        case SA_MT_FACTORY:
            o->flags = SA_FLAG_HOLDER;
            o->flags2 |= SA_FLAG2_STATIONARY;
            if (const DockPortList* list = SA_GetTypeDockPorts(o->mainType, o->subType))
                for (int32_t i = 0; i < list->count && list->entries; ++i)
                    Qel_DPrintf(4, "Dockpos body %d = %d/%d/%d\n", list->entries[i].dummyBody, list->entries[i].path,
                                list->entries[i].approachPath, static_cast<int32_t>(list->entries[i].flags));
            break;
        case SA_MT_SHIP:
            o->flags = SA_GetTypeNumDockPorts(o->mainType, o->subType) > 0 ? 0x100020 : 0x20;
            if (ShipData* ship = O_ShipData(o)) {
                ship->maxSpeedOverride = ship->maxStrafeOverride = -1;
                ship->SpeedLimit = -1;
                ship->PortIndex = ship->PortSlot = -1;
                ship->ThinkInterval = kShipThinkIntervalMs;
                int32_t turrets = f ? f[SA_TF_SHIP_TURRET_COUNT] : 0;
                if (turrets < 0) turrets = 0;
                if (turrets > SA_SHIP_MAX_TURRETS) turrets = SA_SHIP_MAX_TURRETS;
                if (turrets > 0)
                    ship->turrets = static_cast<TurretSlot*>(
                        Int_AllocMem(sizeof(TurretSlot) * static_cast<size_t>(turrets), kMemFlags));
                ship->turretCount = ship->turrets ? turrets : 0;
            }
            break;
        case SA_MT_LASER: o->flags = 0x1000800; break;
        case SA_MT_SHIELD: o->flags = 0x800; break;
        case SA_MT_MISSILE: o->flags = 0x4000; break;
        case SA_MT_ASTEROID:
            o->flags = 0x20800;
            o->flags2 |= SA_FLAG2_STATIONARY;
            break;
        case SA_MT_GATE: o->flags = 0x800 | SA_FLAG_HOLDER; break;
        case SA_MT_CAMERA: o->flags = 0xC01; break;
        case SA_MT_SPECIAL:
            o->flags = 0x800;
            o->flags2 |= SA_FLAG2_SPECIAL;
            break;
        case SA_MT_NEBULA:
            o->flags = 0x401;
            o->flags2 |= SA_FLAG2_STATIONARY;
            break;
        case SA_MT_27:
            o->flags |= 0xC01;
            o->flags2 |= SA_FLAG2_DEBRIS;
            break;
        case SA_MT_DEBRIS:
            o->flags |= 0x20800 | (word18 ? 0x401u : 0u);
            o->flags2 |= SA_FLAG2_DEBRIS | (word18 ? SA_FLAG2_DETAIL : 0u);
            break;
        case SA_MT_DOCK_WRECK:
        case SA_MT_FACTORY_WRECK:
        case SA_MT_SHIP_WRECK:
            o->flags |= 0x20800 | (word18 ? 0x400u : 0u);
            o->flags2 |= SA_FLAG2_DEBRIS;
            break;
        default:
            if (o->mainType >= SA_MT_WARE_FIRST && o->mainType <= SA_MT_WARE_LAST) o->flags = 0x800;
            break;
    }
    if (o->typeData && o->mainType >= SA_MT_LASER && o->mainType <= SA_MT_WARE_LAST)
        *static_cast<int32_t*>(o->typeData) = 1;  // the amount (a missile's armed word)
    if (o->typeData && o->mainType >= SA_MT_DEBRIS && o->mainType <= SA_MT_SHIP_WRECK)
        static_cast<DensityData*>(o->typeData)->density = word18;
}

Inst3D* NewInstance() { return g_B3DState ? B3D_AllocInst() : nullptr; }

void InitInstance(SectorObject* o, const TypeRecord* t) {
    if (o->mainType == SA_MT_SECTOR) return;
    int32_t body = t ? t->field[SA_TF_BODY] : -1;
    uint32_t instFlags = 0;
    if (o->mainType == SA_MT_BULLET) instFlags = kBulletInstFlags;
    if (o->mainType == SA_MT_SHIP && o->subType == kShipSubType75) instFlags = kShip75InstFlags;
    if (o->mainType == SA_MT_SHIP && body == kNoLongerUsedBody) {
        Qel_DPrintf(0, "O_InitObject(%d,%d) Tried to create no longer used ship subtype %d\n", o->mainType, o->subType,
                    o->subType);
        body = 0;
    }
    o->instance = NewInstance();
    if (o->instance) {
        if (body >= 0) B3D_InstSetBody(o->instance, body);
        o->instance->flags |= instFlags;
        // A ship's type may name the sound its body hums with.
        const int32_t sound = o->mainType == SA_MT_SHIP && t ? t->field[SA_TF_SHIP_ENGINE_SOUND] : 0;
        if (sound > 0) B3D_InstSetSound(o->instance, sound);
        if (o->mainType == SA_MT_BULLET) {
            if (o->instance->size < kBulletMinSize) o->instance->size = kBulletMinSize;
            BulletData* b = O_BulletData(o);
            if (b && t && (t->field[SA_TF_BULLET_FLAGS] & kBulletRadiusFlags)) b->radius = o->instance->size;
        }
    }
    if (o->mainType == SA_MT_SUN && o->typeData)
        for (Inst3D*& glow : static_cast<SunData*>(o->typeData)->glow) glow = NewInstance();
    if (o->mainType == SA_MT_PLANET && o->typeData) static_cast<PlanetData*>(o->typeData)->extra = NewInstance();
    if (o->mainType == SA_MT_SUN) {
        const int32_t value = t ? t->field[SA_TF_CUT + 1] : 0;
        o->size = value > 0 ? value : kSunDefaultSize;
    } else {
        o->size = o->instance ? B3D_InstGetTotalSize(o->instance) : 0;
    }
    o->mass = o->size;
    o->hull = (o->flags & SA_FLAG_DRIFTING_KILL) ? 0 : O_GetMaxHull(o);
}

bool IsSector(const SectorObject* o) { return o && o->mainType == SA_MT_SECTOR; }

void LeaveScene(Inst3D* inst) {
    if (inst) B3D_InstDeleteFromScene(inst);
}

void JoinScene(Inst3D* inst, Scene3D* scene) {
    if (inst && scene) B3D_InstAddToScene(inst, scene);
}

// The world position and matrix of a top instance are its own.
void SetWorldFromLocal(Inst3D* inst) {
    if (!inst) return;
    inst->worldPos = inst->pos;
    inst->worldMatrix = inst->matrix;
}

void MarkTree(Inst3D* inst, uint32_t flag) {
    if (!inst) return;
    inst->flags |= flag;
    for (B3DListNode* n = B3D_ListFirst(&inst->children); n; n = B3D_ListNext(n))
        MarkTree(reinterpret_cast<Inst3D*>(n), flag);
}

}  // namespace

SA_DetailSwitchFn g_SADetailSwitch = O_DetailSwitch;

void O_PlacePlanetExtra(SectorObject* planet, Inst3D* extra) {
    const QelVector& p = planet->instance ? planet->instance->pos : QelVector{};
    const QelVector centre{};
    const int64_t d = SA_VecDistance(&p, &centre);
    QelVector out = p;
    if (d > 0) {
        const int64_t scale = d < kPlanetNear ? kPlanetExtraDistance : kPlanetFar;
        out.x = static_cast<int32_t>(p.x * scale / d);
        out.y = static_cast<int32_t>(p.y * scale / d);
        out.z = static_cast<int32_t>(p.z * scale / d);
    }
    extra->pos = out;
}

// ---------------------------------------------------------------- creation

void O_InitObject(SectorObject* o, int32_t mainType, int32_t subType) {
    std::memset(static_cast<void*>(o), 0, sizeof(SectorObject));
    o->group = SA_GROUP_NEW;
    o->mainType = static_cast<int16_t>(mainType);
    o->subType = static_cast<int16_t>(subType);
    o->wordAfterEvent = 16384;
    o->magic = SA_OBJECT_MAGIC;
    o->time = GameClock();
    o->lastMoveTime = o->time;
    Qel_ListInit(&o->attached);
    if (mainType >= 0 && mainType < SA_MAIN_TYPE_COUNT) {
        // Every main type with a types table checks its subtype, whoever creates the object.
        if (HasTypesTable(mainType) && (subType < 0 || subType >= g_TypeDB.counts[mainType])) {
            LogInvalidSubType(mainType, subType);
            return;
        }
        const TypeRecord* t = SA_GetTypeRecord(mainType, subType);
        InitTypeData(o, t);
        InitInstance(o, t);
        SetName(o, t);
    }
    o->callerModule = o->callerHandle = 0;
    o->eventObject = 0;
    o->flags |= kFlagsTail;
}

SectorObject* O_CreateObject(SectorObject* object, int32_t typeCode) {
    SpaceRoot* root = g_SpaceRoot;
    object->result.tag = 0;
    O_InitObject(object, SA_CodeMainType(typeCode), SA_CodeSubType(typeCode));
    if (root) {
        SA_ListAddTail(&root->objects, object);
        object->time = GameClock();
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

// ---------------------------------------------------------------- placement

int O_CanContain(const SectorObject* container, const SectorObject* object) {
    if (!container || !object || !container->typeData || !SA_IsContainerType(container->mainType)) return 0;
    for (const SectorObject* c = container; c; c = c->container)
        if (c == object) return 0;
    return 1;
}

void O_LeaveSector(SectorObject* object) {
    if (!IsSector(object->container)) return;
    SA_Pass pass;
    LeaveScene(object->instance);
    if (object->mainType == SA_MT_SUN && object->typeData)
        for (Inst3D* glow : static_cast<SunData*>(object->typeData)->glow) LeaveScene(glow);
    if (object->mainType == SA_MT_PLANET && object->typeData)
        LeaveScene(static_cast<PlanetData*>(object->typeData)->extra);
    O_UnlinkObject(object, 1);
}

void O_SetContainer(SectorObject* object, SectorObject* container) {
    if (object->container == container) return;
    SA_Pass pass;
    SunData* sun = object->mainType == SA_MT_SUN ? static_cast<SunData*>(object->typeData) : nullptr;
    PlanetData* planet = object->mainType == SA_MT_PLANET ? static_cast<PlanetData*>(object->typeData) : nullptr;
    O_LeaveSector(object);
    SA_ListUnlink(object);
    object->container = nullptr;
    SA_ClearObjectVector48(object);
    object->time = GameClock();
    QelList* children = container ? O_GetChildList(container) : nullptr;
    if (!children) {
        SA_ListAddTail(&g_SpaceRoot->objects, object);
        return;
    }
    SA_ListAddTail(children, object);
    object->container = container;
    if (SectorSpace* sector = O_Sector(container)) {
        // A sector gets its scenes from the story; before that nothing joins one.
        const bool galaxy = object->mainType == SA_MT_SUN || object->mainType == SA_MT_PLANET;
        JoinScene(object->instance, galaxy ? sector->galaxyScene : sector->spaceScene);
        if (sun) {
            JoinScene(sun->glow[0], sector->spaceScene);
            JoinScene(sun->glow[1], sector->galaxyScene);
        }
        if (planet && planet->extra) {
            O_PlacePlanetExtra(object, planet->extra);
            JoinScene(planet->extra, sector->spaceScene);
        }
    }
    SetWorldFromLocal(object->instance);
    if (object->flags2 & SA_FLAG2_DETAIL) g_SADetailSwitch(object, 0, 0);
}

// ---------------------------------------------------------------- decoupling

namespace {

// The pieces a cut's paths name: every path whose body lies in 4000..9999 or
// 50000..79999 and maps to a type becomes a new object hung on the owner at
// the path's place, handed to `prepare` and announced to the story. Stops
// once the story has freed the cut.
template <typename Prepare, typename Announce>
void MakeCutPieces(SectorObject* owner, Inst3D* inst, J3D_Cut* cut, int32_t cutId, Prepare prepare, Announce announce) {
    for (int32_t i = 0; i < cut->pathCount && cut->paths; ++i) {
        const int32_t body = cut->paths[i].reference;
        if (!((body >= 4000 && body <= 9999) || (body >= 50000 && body <= 79999))) continue;
        const int32_t code = SA_ObjectTypeFromBody(body);
        if (!code) continue;
        SectorObject* piece = O_AllocObject(code);
        if (!piece) continue;
        if (piece->instance) {
            QelVector local{};
            if (cut->paths[i].posCount > 0 && cut->paths[i].posKeys) {
                const int32_t* v = cut->paths[i].posKeys[0].value;
                local = QelVector{v[0], v[1], v[2], 0};
            }
            QelVector turned{};
            Qel_MatMulVec(&inst->matrix, &local, &turned);
            piece->instance->pos = QelVector{inst->pos.x + turned.x, inst->pos.y + turned.y, inst->pos.z + turned.z, 0};
            piece->instance->matrix = inst->matrix;
            piece->flags |= SA_FLAG_HANGS_ON;
            piece->reference = owner;
            piece->referenceIndex = i;
            prepare(piece);
        }
        announce(piece, i);
        // The story may have freed the cut meanwhile (its bodies and cuts can
        // be released from a call); go on only while it stays.
        if (J3D_CutIsLoaded(cutId) != cut) break;
    }
}

}  // namespace

int O_DecoupleMissile(SectorObject* missile) {
    if (!missile || missile->mainType != SA_MT_MISSILE || !missile->instance || !missile->eventObject) return 0;
    const int32_t cutId = SA_GetTypeCut(missile->mainType, missile->subType);
    J3D_Cut* cut = cutId > 0 ? J3D_GetCut(cutId) : nullptr;
    if (!cut) return 0;
    SA_Pass pass;
    Inst3D* old = missile->instance;
    Inst3D* inst = NewInstance();
    if (!inst) return 0;
    inst->pos = old->pos;
    inst->worldPos = old->worldPos;
    inst->matrix = old->matrix;
    inst->worldMatrix = old->worldMatrix;
    inst->scale = old->scale;
    inst->refPoint = old->refPoint;
    JoinScene(inst, old->scene);
    B3D_InstFree(old);
    missile->instance = inst;
    O_UnlinkObject(missile, 0);
    missile->flags |= 0x401;
    missile->flags2 |= 0x4;
    const TypeRecord* type = O_GetTypeRecord(missile);
    const bool seeks = type && (type->field[SA_TF_MISSILE_FLAGS] & 1);
    auto aim = [&](SectorObject* piece) {
        MissileData* data = O_MissileData(piece);
        if (!data || !seeks || !IsSector(missile->container)) return;
        SectorObject* best = nullptr;
        int64_t bestDistance = kDecoupleSearch;
        for (SectorObject* c = SA_ListFirst(O_GetChildList(missile->container)); c; c = SA_ListNext(c)) {
            if (c == piece || c == missile || c->mainType == SA_MT_BULLET || !c->instance) continue;
            if (!SA_IsEnemy(missile, c)) continue;
            const int64_t d = SA_VecDistance(&c->instance->pos, &piece->instance->pos);
            if (d < bestDistance) {
                bestDistance = d;
                best = c;
            }
        }
        data->target = best;
    };
    MakeCutPieces(missile, inst, cut, cutId, aim, [](SectorObject* piece, int32_t) {
        const int32_t arg = static_cast<int32_t>(piece->id);
        SA_RunStory(0, "CreateDecoupleMissile", 1, &arg);
    });
    MarkTree(missile->instance, kDecoupledInstFlag);
    return 1;
}

int O_DecoupleShip(SectorObject* ship, int32_t a, int32_t b, int32_t c) {
    if (!ship || ship->mainType != SA_MT_SHIP || !ship->instance || !ship->eventObject) return 0;
    const int32_t cutId = SA_GetTypeCut(ship->mainType, ship->subType);
    J3D_Cut* cut = cutId > 0 ? J3D_GetCut(cutId) : nullptr;
    if (!cut) return 0;
    SA_Pass pass;
    const uint32_t shipId = ship->id;
    MakeCutPieces(
        ship, ship->instance, cut, cutId, [](SectorObject*) {},
        [&](SectorObject* piece, int32_t path) {
            const int32_t args[6] = {static_cast<int32_t>(piece->id), static_cast<int32_t>(shipId), path, a, b, c};
            SA_RunStory(0, "CreateDecoupleShip", 6, args);
        });
    // The story may have freed the ship; the free waits for the pass, so its
    // instance is still there to mark.
    MarkTree(ship->instance, kDecoupledInstFlag);
    return 1;
}
