#include "space/save.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/file.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/table.h"
#include "cockpit/effects.h"
#include "scene/records.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "script/values.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/typesdb.h"

namespace {

constexpr uint32_t kMemFlags = Int_MemTag(14) | INT_MEM_ZERO_TAIL;
constexpr int32_t kRootWords = SA_SAVE_ROOT_BYTES / 4;
constexpr int32_t kFixedWords = SA_SAVE_FIXED_BYTES / 4;
constexpr int32_t kTurretWords = SA_SAVE_TURRET_BYTES / 4;
constexpr int32_t kPortWords = SA_SAVE_PORT_BYTES / 4;
constexpr int32_t kTakeWords = SA_SAVE_TAKE_BYTES / 4;
constexpr int32_t kNameWord = 42;
constexpr uint32_t kMaxId = 0x7ffffffe;

using Words = std::vector<uint32_t>;

uint32_t IdOf(const SectorObject* o) { return o ? o->id : 0; }
uint32_t InstId(const Inst3D* inst) { return inst ? inst->id : 0; }
uint32_t SceneId(const Scene3D* scene) { return scene ? scene->id : 0; }
uint32_t U(int32_t v) { return static_cast<uint32_t>(v); }
int32_t S(uint32_t v) { return static_cast<int32_t>(v); }
const char* NameOf(const SectorObject* o) { return o->name ? o->name : "--noname--"; }

// ---------------------------------------------------------------- writing

struct Writer {
    QelFile* file;
    bool ok = true;
    void Tag(const char* tag) {
        if (Qel_fwriteBlock(file, 1, 4, tag) != 4) ok = false;
    }
    void Put(const Words& words) {
        if (words.empty()) return;
        std::vector<uint8_t> bytes(words.size() * 4);
        for (size_t i = 0; i < words.size(); ++i)
            for (int b = 0; b < 4; ++b) bytes[i * 4 + b] = static_cast<uint8_t>(words[i] >> (24 - 8 * b));
        if (Qel_fwriteBlock(file, 1, bytes.size(), bytes.data()) != bytes.size()) ok = false;
    }
    void Word(uint32_t w) { Put(Words{w}); }
    void Bytes(const void* data, size_t n) {
        if (n && Qel_fwriteBlock(file, 1, n, data) != n) ok = false;
    }
};

void PutVector(Words* w, const QelVector& v) { w->insert(w->end(), {U(v.x), U(v.y), U(v.z)}); }

void PutCarrier(Words* w, const CarrierWords& c) {
    w->push_back(U(c.launchTime));
    PutVector(w, c.hangarPoint);
    PutVector(w, c.secondPoint);
    PutVector(w, c.thirdPoint);
}

void PutRelation(Words* w, const RelationWords& r) {
    w->insert(w->end(), {r.friendMask, r.foeMask, U(r.enemyOf), U(r.owner)});
}

Words FixedBlock(const SectorObject* o) {
    Words w(kFixedWords, 0);
    w[1] = U(o->speed);
    w[2] = U(o->desiredSpeed);
    for (int i = 0; i < 3; ++i) {
        w[3 + i] = U(o->rot[i]);
        w[6 + i] = U(o->rotSpeed[i]);
        w[9 + i] = U(o->rot2[i]);
        w[16 + i] = U(o->flight[i]);
    }
    w[12] = o->flags;
    w[13] = o->flags2;
    w[14] = IdOf(o->container);
    w[15] = IdOf(o->parent);
    w[19] = InstId(o->instance);
    w[20] = o->callerModule;
    w[21] = o->callerHandle;
    w[22] = o->eventObject;
    w[23] = U(o->wordAfterEvent);
    w[24] = U(o->group);
    w[25] = U(o->cutId);
    w[26] = U(o->mass);
    w[27] = U(o->size);
    w[28] = U(o->time);
    w[29] = U(o->flight[3]);
    w[30] = U(o->hangOffset.x);
    w[31] = U(o->hangOffset.y);
    w[32] = U(o->hangOffset.z);
    w[33] = o->hangReferenceId;
    for (int i = 0; i < 3; ++i) w[34 + i] = U(o->drift[i]);
    w[37] = U(o->tractorDistance);
    w[38] = IdOf(o->tractorSource);
    w[39] = U(o->hull);
    w[40] = IdOf(o->reference);
    w[41] = InstId(o->instance2);
    // A longer name is cut to what the reader takes, so that the save loads.
    w[kNameWord] = o->name ? static_cast<uint32_t>(std::min<size_t>(std::strlen(o->name) + 1, SA_SAVE_MAX_NAME)) : 0;
    w[43] = IdOf(o->reference3);
    w[44] = IdOf(o->reference4);
    w[45] = U(o->referenceIndex);
    w[46] = U(o->trailingWord);
    w[47] = U(o->lastMoveTime);
    w[48] = IdOf(o->tractorHeld);
    w[49] = InstId(o->instance3);
    return w;
}

Words SpecialBlock(SectorObject* o) {
    Words w;
    void* data = o->typeData;
    if (!data) return w;
    switch (o->mainType) {
        case SA_MT_BULLET: {
            const auto* b = static_cast<BulletData*>(data);
            w = {U(b->expiryTime),       U(b->lifetime), b->typeFlags, IdOf(b->owner), IdOf(b->target),
                 InstId(b->gunInstance), U(b->gunPart),  U(b->fade),   U(b->radius),   U(b->start.x),
                 U(b->start.y),          U(b->start.z),  U(b->start.w)};
            for (int32_t v : b->words) w.push_back(U(v));
            break;
        }
        case SA_MT_SECTOR: {
            const auto* d = static_cast<SectorData*>(data);
            const SectorSpace* s = O_Sector(o);
            w = {U(d->spinRate),         U(d->spinClock),         U(d->spinAngle),       U(d->lastMoveTime),
                 SceneId(s->spaceScene), SceneId(s->galaxyScene), SceneId(s->dustScene), U(s->backgroundType),
                 U(s->starsIndex),       U(s->nebulasIndex),      s->spaceFlags,         U(s->sectorSize),
                 U(s->videoIndex),       U(s->trailing[9]),       U(d->cached[0]),       U(d->cached[1]),
                 U(d->words[0]),         U(d->words[1])};
            break;
        }
        case SA_MT_SUN: {
            const auto* d = static_cast<SunData*>(data);
            w = {InstId(d->glow[0]), InstId(d->glow[1])};
            break;
        }
        case SA_MT_PLANET: {
            const auto* d = static_cast<PlanetData*>(data);
            w = {InstId(d->extra), U(d->colour), U(d->fog), U(d->words[0]), U(d->words[1])};
            break;
        }
        case SA_MT_DOCK:
        case SA_MT_FACTORY: {
            const auto* d = static_cast<DockData*>(data);
            PutCarrier(&w, d->carrier);
            PutRelation(&w, d->relation);
            w.push_back(IdOf(d->connectionParent));
            break;
        }
        case SA_MT_SHIP: {
            const auto* d = static_cast<ShipData*>(data);
            PutCarrier(&w, d->carrier);
            PutRelation(&w, d->relation);
            w.insert(w.end(), {U(d->rechargeTime),       U(d->extraSpeed),       U(d->extraRotSpeed),
                               U(d->maxAvoidShield),     U(d->maxSpeedOverride), U(d->maxStrafeOverride),
                               U(d->SpeedLimit),         U(d->rotAccel),         U(d->hueModifier),
                               U(d->saturationModifier), U(d->laserEnergy),      U(d->holdTime),
                               U(d->CourseType),         IdOf(d->OrderTarget),   U(d->ThinkInterval),
                               U(d->NextThink),          U(d->WarpEffectOn),     U(d->WarpEnd),
                               U(d->TimeLimitOn),        U(d->TimeLimit),        U(d->EvadeUntil),
                               U(d->PortIndex),          U(d->PortSlot)});
            PutVector(&w, d->OrderPos);
            PutVector(&w, d->PortOffset);
            PutVector(&w, d->FlightDir);
            w.insert(w.end(), {U(d->OrderRange), U(d->OrderValue), U(d->avoidState)});
            PutVector(&w, d->holdOffset);
            w.push_back(U(d->turretCount));
            break;
        }
        case SA_MT_LASER: {
            const auto* d = static_cast<LaserData*>(data);
            w = {U(d->amount),
                 static_cast<uint32_t>(static_cast<uint16_t>(d->slot)) << 16 | static_cast<uint16_t>(d->position),
                 U(d->energy), U(d->nextShot)};
            break;
        }
        case SA_MT_SHIELD: {
            const auto* d = static_cast<ShieldData*>(data);
            w = {U(d->amount), U(d->energy), U(d->rechargeTime)};
            break;
        }
        case SA_MT_MISSILE: {
            const auto* d = static_cast<MissileData*>(data);
            w = {U(d->armed),       U(d->word1),     U(d->launchTime), IdOf(d->launcher), IdOf(d->target),
                 U(d->launchValue), U(d->NextThink), U(d->steer[0]),   U(d->steer[1]),    U(d->steer[2]),
                 U(d->words[0]),    U(d->words[1]),  U(d->words[2])};
            break;
        }
        case SA_MT_GATE: {
            const auto* d = static_cast<GateData*>(data);
            PutCarrier(&w, d->carrier);
            for (int32_t t : d->slotTime) w.push_back(U(t));
            for (const SectorObject* s : d->slotOccupant) w.push_back(IdOf(s));
            w.push_back(U(d->words[0]));
            break;
        }
        case SA_MT_CAMERA: {
            const auto* d = static_cast<CameraData*>(data);
            w = {U(d->word0),  IdOf(d->destination), U(d->desiredDistance),
                 U(d->amount), U(d->connectMode),    InstId(O_CameraSceneInstance(d))};
            break;
        }
        case SA_MT_SPECIAL: {
            const auto* d = static_cast<SpecialData*>(data);
            w = {U(d->state), U(d->videoChannel), U(d->shownVideo)};
            break;
        }
        case SA_MT_NEBULA:
            for (int32_t v : static_cast<NebulaData*>(data)->words) w.push_back(U(v));
            break;
        default:
            // Wares, debris fields and wrecks: the amount or the density.
            if (SA_SpecialBlockBytes(o->mainType) == 4) w = {U(*static_cast<int32_t*>(data))};
            break;
    }
    return w;
}

Words TurretBlock(const TurretSlot& t) {
    Words w = {t.caller.module,   t.caller.handle,   U(t.targetMode), U(t.targetPos[0]),
               U(t.targetPos[1]), U(t.targetPos[2]), U(t.markMin),    U(t.markMax)};
    for (int32_t v : t.mountDirection) w.push_back(U(v));
    for (int32_t v : t.mountMatrix) w.push_back(U(v));
    w.push_back(0);
    w.push_back(IdOf(t.target));
    return w;
}

Words PortBlock(const DockPortSlot& p) {
    Words w = {
        U(p.index),     p.flags,     U(p.time), IdOf(p.occupant), InstId(p.portInstance), InstId(p.approachInstance),
        U(p.animStart), U(p.animEnd)};
    for (int32_t v : p.state) w.push_back(U(v));
    return w;
}

int32_t TypeTurretCount(int32_t mainType, int32_t subType) {
    const TypeRecord* t = SA_GetTypeRecord(mainType, subType);
    const int32_t n = t ? t->field[SA_TF_SHIP_TURRET_COUNT] : 0;
    return std::clamp(n, 0, SA_SHIP_MAX_TURRETS);
}

int32_t TypePortCount(int32_t mainType, int32_t subType) {
    const DockPortList* list = SA_GetTypeDockPorts(mainType, subType);
    return list && list->entries ? std::max(list->count, 0) : 0;
}

bool HasPorts(int32_t mainType) {
    return mainType == SA_MT_DOCK || mainType == SA_MT_FACTORY || mainType == SA_MT_SHIP;
}

// ---------------------------------------------------------------- reading

struct Reader {
    QelFile* file;
    bool Bytes(void* out, size_t n) { return n == 0 || Qel_fread(file, 1, n, out) == n; }
    bool Tag(const char* tag) {
        char got[4];
        return Bytes(got, 4) && std::memcmp(got, tag, 4) == 0;
    }
    bool Word(uint32_t* w) {
        uint8_t b[4];
        if (!Bytes(b, 4)) return false;
        *w = uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
        return true;
    }
    bool Get(Words* w, size_t n) {
        w->assign(n, 0);
        for (uint32_t& v : *w)
            if (!Word(&v)) return false;
        return true;
    }
};

// A reference read as an ID, turned into the object once every record is in.
struct PendingRef {
    SectorObject** slot;
    uint32_t id;
};

struct LoadState {
    std::vector<PendingRef> refs;
    std::vector<std::pair<SectorObject*, uint32_t>> containers;  // object, container ID
    std::unordered_set<uint32_t> ownedInsts;                     // instances an object frees with it
    uint32_t highestId = 0;
};

bool Corrupt(const char* what, uint32_t id) {
    Qel_ErrPrintf("SA_LoadSectors() %s (object %u)\n", what, id);
    return false;
}

void Ref(LoadState* st, SectorObject** slot, uint32_t id) {
    *slot = nullptr;
    if (id) st->refs.push_back({slot, id});
}

// The instance of a saved id, kept through the load; none when the id names
// no instance, or one another object already frees with it.
Inst3D* BindInst(LoadState* st, const SectorObject* o, uint32_t id, bool owned) {
    if (!id) return nullptr;
    Inst3D* inst = g_B3DState ? B3D_InstFind(id) : nullptr;
    if (!inst) {
        Qel_ErrPrintf("SA_LoadSectors() object %u: instance %u not found\n", o->id, id);
        return nullptr;
    }
    if (owned && !st->ownedInsts.insert(id).second) {
        Qel_ErrPrintf("SA_LoadSectors() object %u: instance %u already belongs to another object\n", o->id, id);
        return nullptr;
    }
    inst->flags2 |= INST2_LOAD_KEEP;
    return inst;
}

Scene3D* BindScene(const SectorObject* o, uint32_t id) {
    if (!id) return nullptr;
    Scene3D* scene = g_B3DState ? B3D_SceneFind(id) : nullptr;
    if (!scene) Qel_ErrPrintf("SA_LoadSectors() sector %u: scene %u not found\n", o->id, id);
    return scene;
}

QelVector GetVector(const Words& w, size_t* at) {
    QelVector v{S(w[*at]), S(w[*at + 1]), S(w[*at + 2]), 0};
    *at += 3;
    return v;
}

void GetCarrier(const Words& w, size_t* at, CarrierWords* c) {
    c->launchTime = S(w[(*at)++]);
    c->hangarPoint = GetVector(w, at);
    c->secondPoint = GetVector(w, at);
    c->thirdPoint = GetVector(w, at);
}

void GetRelation(const Words& w, size_t* at, RelationWords* r) {
    r->friendMask = w[(*at)++];
    r->foeMask = w[(*at)++];
    r->enemyOf = S(w[(*at)++]);
    r->owner = S(w[(*at)++]);
}

void TakeFixedBlock(LoadState* st, SectorObject* o, const Words& w) {
    o->speed = S(w[1]);
    o->desiredSpeed = S(w[2]);
    for (int i = 0; i < 3; ++i) {
        o->rot[i] = S(w[3 + i]);
        o->rotSpeed[i] = S(w[6 + i]);
        o->rot2[i] = S(w[9 + i]);
        o->flight[i] = S(w[16 + i]);
    }
    o->flags = w[12];
    o->flags2 = w[13];
    st->containers.emplace_back(o, w[14]);
    Ref(st, &o->parent, w[15]);
    o->instance = BindInst(st, o, w[19], true);
    o->callerModule = w[20];
    o->callerHandle = w[21];
    o->eventObject = w[22];
    o->wordAfterEvent = S(w[23]);
    o->group = static_cast<int16_t>(w[24]);
    o->cutId = S(w[25]);
    o->mass = S(w[26]);
    o->size = S(w[27]);
    o->time = S(w[28]);
    o->flight[3] = S(w[29]);
    o->hangOffset = QelVector{S(w[30]), S(w[31]), S(w[32]), 0};
    o->hangReferenceId = w[33];
    for (int i = 0; i < 3; ++i) o->drift[i] = S(w[34 + i]);
    o->tractorDistance = S(w[37]);
    Ref(st, &o->tractorSource, w[38]);
    o->hull = S(w[39]);
    Ref(st, &o->reference, w[40]);
    o->instance2 = BindInst(st, o, w[41], false);
    Ref(st, &o->reference3, w[43]);
    Ref(st, &o->reference4, w[44]);
    o->referenceIndex = S(w[45]);
    o->trailingWord = S(w[46]);
    o->lastMoveTime = S(w[47]);
    Ref(st, &o->tractorHeld, w[48]);
    o->instance3 = BindInst(st, o, w[49], false);
}

void TakeSpecialBlock(LoadState* st, SectorObject* o, const Words& w) {
    void* data = o->typeData;
    size_t at = 0;
    switch (o->mainType) {
        case SA_MT_BULLET: {
            auto* b = static_cast<BulletData*>(data);
            b->expiryTime = S(w[0]);
            b->lifetime = S(w[1]);
            b->typeFlags = w[2];
            Ref(st, &b->owner, w[3]);
            Ref(st, &b->target, w[4]);
            b->gunInstance = BindInst(st, o, w[5], false);
            b->gunPart = S(w[6]);
            b->fade = S(w[7]);
            b->radius = S(w[8]);
            b->start = QelVector{S(w[9]), S(w[10]), S(w[11]), S(w[12])};
            for (int i = 0; i < 16; ++i) b->words[i] = S(w[13 + i]);
            break;
        }
        case SA_MT_SECTOR: {
            auto* d = static_cast<SectorData*>(data);
            SectorSpace* s = O_Sector(o);
            d->spinRate = S(w[0]);
            d->spinClock = S(w[1]);
            d->spinAngle = S(w[2]);
            d->lastMoveTime = S(w[3]);
            s->spaceScene = BindScene(o, w[4]);
            s->galaxyScene = BindScene(o, w[5]);
            s->dustScene = BindScene(o, w[6]);
            s->backgroundType = S(w[7]);
            s->starsIndex = S(w[8]);
            s->nebulasIndex = S(w[9]);
            s->spaceFlags = w[10];
            s->sectorSize = S(w[11]);
            s->videoIndex = S(w[12]);
            s->trailing[9] = S(w[13]);
            d->cached[0] = S(w[14]);
            d->cached[1] = S(w[15]);
            d->words[0] = S(w[16]);
            d->words[1] = S(w[17]);
            break;
        }
        case SA_MT_SUN: {
            auto* d = static_cast<SunData*>(data);
            d->glow[0] = BindInst(st, o, w[0], true);
            d->glow[1] = BindInst(st, o, w[1], true);
            break;
        }
        case SA_MT_PLANET: {
            auto* d = static_cast<PlanetData*>(data);
            d->extra = BindInst(st, o, w[0], true);
            d->colour = S(w[1]);
            d->fog = S(w[2]);
            d->words[0] = S(w[3]);
            d->words[1] = S(w[4]);
            break;
        }
        case SA_MT_DOCK:
        case SA_MT_FACTORY: {
            auto* d = static_cast<DockData*>(data);
            GetCarrier(w, &at, &d->carrier);
            GetRelation(w, &at, &d->relation);
            Ref(st, &d->connectionParent, w[at]);
            break;
        }
        case SA_MT_SHIP: {
            auto* d = static_cast<ShipData*>(data);
            GetCarrier(w, &at, &d->carrier);
            GetRelation(w, &at, &d->relation);
            int32_t* ints[] = {&d->rechargeTime,     &d->extraSpeed,         &d->extraRotSpeed, &d->maxAvoidShield,
                               &d->maxSpeedOverride, &d->maxStrafeOverride,  &d->SpeedLimit,    &d->rotAccel,
                               &d->hueModifier,      &d->saturationModifier, &d->laserEnergy,   &d->holdTime};
            for (int32_t* p : ints) *p = S(w[at++]);
            d->CourseType = static_cast<int16_t>(w[at++]);
            Ref(st, &d->OrderTarget, w[at++]);
            int32_t* order[] = {&d->ThinkInterval, &d->NextThink,  &d->WarpEffectOn, &d->WarpEnd, &d->TimeLimitOn,
                                &d->TimeLimit,     &d->EvadeUntil, &d->PortIndex,    &d->PortSlot};
            for (int32_t* p : order) *p = S(w[at++]);
            d->OrderPos = GetVector(w, &at);
            d->PortOffset = GetVector(w, &at);
            d->FlightDir = GetVector(w, &at);
            d->OrderRange = S(w[at++]);
            d->OrderValue = S(w[at++]);
            d->avoidState = S(w[at++]);
            d->holdOffset = GetVector(w, &at);
            // The last word, the turret count, follows from the type.
            break;
        }
        case SA_MT_LASER: {
            auto* d = static_cast<LaserData*>(data);
            d->amount = S(w[0]);
            d->slot = static_cast<int16_t>(w[1] >> 16);
            d->position = static_cast<int16_t>(w[1] & 0xFFFF);
            d->energy = S(w[2]);
            d->nextShot = S(w[3]);
            break;
        }
        case SA_MT_SHIELD: {
            auto* d = static_cast<ShieldData*>(data);
            d->amount = S(w[0]);
            d->energy = S(w[1]);
            d->rechargeTime = S(w[2]);
            break;
        }
        case SA_MT_MISSILE: {
            auto* d = static_cast<MissileData*>(data);
            d->armed = S(w[0]);
            d->word1 = S(w[1]);
            d->launchTime = S(w[2]);
            Ref(st, &d->launcher, w[3]);
            Ref(st, &d->target, w[4]);
            d->launchValue = static_cast<int16_t>(w[5]);
            d->NextThink = S(w[6]);
            for (int i = 0; i < 3; ++i) {
                d->steer[i] = S(w[7 + i]);
                d->words[i] = S(w[10 + i]);
            }
            break;
        }
        case SA_MT_GATE: {
            auto* d = static_cast<GateData*>(data);
            GetCarrier(w, &at, &d->carrier);
            for (int32_t& t : d->slotTime) t = S(w[at++]);
            for (SectorObject*& s : d->slotOccupant) Ref(st, &s, w[at++]);
            d->words[0] = S(w[at]);
            break;
        }
        case SA_MT_CAMERA: {
            auto* d = static_cast<CameraData*>(data);
            d->word0 = S(w[0]);
            Ref(st, &d->destination, w[1]);
            d->desiredDistance = S(w[2]);
            d->amount = S(w[3]);
            d->connectMode = S(w[4]);
            O_SetCameraSceneInstance(d, BindInst(st, o, w[5], false));
            break;
        }
        case SA_MT_SPECIAL: {
            auto* d = static_cast<SpecialData*>(data);
            d->state = S(w[0]);
            d->videoChannel = S(w[1]);
            d->shownVideo = S(w[2]);
            break;
        }
        case SA_MT_NEBULA:
            for (int i = 0; i < 16; ++i) static_cast<NebulaData*>(data)->words[i] = S(w[i]);
            break;
        default:
            if (w.size() == 1) *static_cast<int32_t*>(data) = S(w[0]);
            break;
    }
}

// The object data a record's main type has, with its child list, turret
// slots and dock-port slots; false when memory runs out.
bool AllocData(SectorObject* o) {
    if (const uint32_t size = SA_TypeDataSize(o->mainType)) {
        o->typeData = Int_AllocMem(size, kMemFlags);
        if (!o->typeData) return false;
    }
    if (o->typeData && SA_IsContainerType(o->mainType)) Qel_ListInit(O_GetChildList(o));
    if (ShipData* ship = O_ShipData(o)) {
        ship->turretCount = TypeTurretCount(o->mainType, o->subType);
        if (ship->turretCount > 0) {
            ship->turrets = static_cast<TurretSlot*>(
                Int_AllocMem(sizeof(TurretSlot) * static_cast<size_t>(ship->turretCount), kMemFlags));
            if (!ship->turrets) {
                ship->turretCount = 0;
                return false;
            }
        }
    }
    if (DockPortTable* ports = O_PortTable(o)) {
        ports->built = 1;
        ports->list = SA_GetTypeDockPorts(o->mainType, o->subType);
        const int32_t n = TypePortCount(o->mainType, o->subType);
        if (n > 0) {
            ports->slots =
                static_cast<DockPortSlot*>(Int_AllocMem(sizeof(DockPortSlot) * static_cast<size_t>(n), kMemFlags));
            if (!ports->slots) return false;
            ports->slotCount = n;
        }
    }
    return true;
}

// The rest of one object record after its header; false after a log line.
bool LoadObject(LoadState* st, SectorObject* o, Reader* r) {
    uint32_t length = 0;
    if (!r->Word(&length)) return Corrupt("object record cut short", o->id);
    if (length != SA_SAVE_FIXED_BYTES && length != SA_SAVE_OLD_FIXED_BYTES)
        return Corrupt("wrong object block length", o->id);
    Words fixed;
    if (!r->Get(&fixed, length / 4)) return Corrupt("object record cut short", o->id);
    fixed.resize(kFixedWords, 0);
    const uint32_t nameLength = fixed[kNameWord];
    if (nameLength > static_cast<uint32_t>(SA_SAVE_MAX_NAME)) return Corrupt("name too long", o->id);
    if (nameLength) {
        std::string name(nameLength, '\0');
        if (!r->Bytes(name.data(), nameLength)) return Corrupt("object record cut short", o->id);
        o->name = Qel_StrReassign(o->name, name.c_str());
    }
    TakeFixedBlock(st, o, fixed);
    if (!AllocData(o)) return Corrupt("out of memory", o->id);
    uint32_t special = 0;
    if (!r->Word(&special)) return Corrupt("object record cut short", o->id);
    if (special != static_cast<uint32_t>(SA_SpecialBlockBytes(o->mainType)))
        return Corrupt("wrong special block length", o->id);
    Words words;
    if (!r->Get(&words, special / 4)) return Corrupt("object record cut short", o->id);
    if (special) TakeSpecialBlock(st, o, words);
    if (ShipData* ship = O_ShipData(o))
        for (int32_t n = 0; n < ship->turretCount; ++n) {
            if (!r->Get(&words, kTurretWords)) return Corrupt("object record cut short", o->id);
            TurretSlot& t = ship->turrets[n];
            t.caller = SA_Caller{words[0], words[1]};
            t.targetMode = S(words[2]);
            for (int i = 0; i < 3; ++i) {
                t.targetPos[i] = S(words[3 + i]);
                t.mountDirection[i] = S(words[8 + i]);
            }
            t.markMin = S(words[6]);
            t.markMax = S(words[7]);
            for (int i = 0; i < 9; ++i) t.mountMatrix[i] = S(words[11 + i]);
            Ref(st, &t.target, words[21]);
        }
    if (HasPorts(o->mainType)) {
        DockPortTable* ports = O_PortTable(o);
        for (int32_t n = 0; n < TypePortCount(o->mainType, o->subType); ++n) {
            if (!r->Get(&words, kPortWords)) return Corrupt("object record cut short", o->id);
            if (!ports || n >= ports->slotCount) continue;
            DockPortSlot& p = ports->slots[n];
            p.index = S(words[0]);
            p.flags = words[1];
            p.time = S(words[2]);
            Ref(st, &p.occupant, words[3]);
            p.portInstance = BindInst(st, o, words[4], false);
            p.approachInstance = BindInst(st, o, words[5], false);
            p.animStart = S(words[6]);
            p.animEnd = S(words[7]);
            for (int i = 0; i < 8; ++i) p.state[i] = S(words[8 + i]);
        }
    }
    return true;
}

// A type code a record may carry: main type 0..31, and a subtype below the
// count of a main type with a types file (main type 27 keeps a body id there).
bool ValidTypeCode(uint32_t code) {
    const int32_t mainType = S(code) >> 16;
    if (mainType < 0 || mainType >= SA_MAIN_TYPE_COUNT) return false;
    const int32_t subType = SA_CodeSubType(S(code));
    if (mainType == SA_MT_27 || !SA_TypesFileName(mainType)) return true;
    return subType < g_TypeDB.counts[mainType];
}

// One object: header, record, ID table.
bool ReadObject(LoadState* st, Reader* r) {
    SpaceRoot* root = g_SpaceRoot;
    uint32_t id = 0, code = 0;
    if (!r->Tag("SOBJ")) return Corrupt("wrong SOBJ cookie", 0);
    if (!r->Word(&id) || !r->Word(&code)) return Corrupt("object record cut short", id);
    if (id == 0 || id > kMaxId || Qel_TableGet(root->ids, id)) return Corrupt("invalid or repeated object ID", id);
    if (!ValidTypeCode(code)) {
        Qel_ErrPrintf("SA_LoadSectors() object %u: invalid type code %08x\n", id, code);
        return false;
    }
    const auto mainType = static_cast<int16_t>(SA_CodeMainType(S(code)));
    SectorObject* o = mainType == SA_MT_SECTOR ? &Int_AllocRecord<SectorSpace>(kMemFlags)->object
                                               : Int_AllocRecord<SectorObject>(kMemFlags);
    if (!o) return Corrupt("out of memory", id);
    o->result.tag = 0;
    o->id = id;
    o->mainType = mainType;
    o->subType = static_cast<int16_t>(SA_CodeSubType(S(code)));
    o->magic = SA_OBJECT_MAGIC;
    Qel_ListInit(&o->attached);
    SA_ListAddTail(&root->objects, o);
    const size_t refs = st->refs.size(), containers = st->containers.size();
    if (!LoadObject(st, o, r)) {
        // Nothing of it stays: its pending references and its waiting caller go with it.
        st->refs.resize(refs);
        st->containers.resize(containers);
        o->callerModule = 0;
        if (ShipData* ship = O_ShipData(o))
            for (int32_t n = 0; ship->turrets && n < ship->turretCount; ++n) ship->turrets[n].caller = SA_Caller{};
        O_DeleteObject(o);
        return false;
    }
    Qel_TableSet(root->ids, id, reinterpret_cast<uintptr_t>(o));
    st->highestId = std::max(st->highestId, id);
    return true;
}

bool ReadTake(Reader* r) {
    Words w;
    uint32_t length = 0;
    if (!r->Tag("STAK")) return Corrupt("wrong STAK cookie", 0);
    if (!r->Word(&length) || length != static_cast<uint32_t>(SA_SAVE_TAKE_BYTES) || !r->Get(&w, kTakeWords))
        return Corrupt("wrong take block", 0);
    const int32_t id = S(w[0]), cutId = S(w[1]);
    const uint32_t paths = w[4];
    const J3D_Cut* cut = g_B3DState && cutId > 0 ? J3D_FindCut(cutId) : nullptr;
    const uint32_t bound = cut ? static_cast<uint32_t>(std::max(cut->pathCount, 0)) : SA_SAVE_MAX_TAKE_PATHS;
    if (paths > bound) {
        Qel_ErrPrintf("SA_LoadSectors() take %d: %u paths, its cut %d has %u\n", id, paths, cutId, bound);
        return false;
    }
    Words objects;
    if (!r->Get(&objects, paths)) return Corrupt("take record cut short", 0);
    SA_Take* take = ST_CreateTake(id, SA_LookupObject(w[2]));
    if (!take) {
        Qel_ErrPrintf("SA_LoadSectors() take %d: invalid or repeated take ID\n", id);
        return false;
    }
    take->cutId = cutId;
    take->flags = w[3];
    if (paths > 0) {
        take->slots =
            static_cast<SA_TakeSlot*>(Int_AllocMem(sizeof(SA_TakeSlot) * static_cast<size_t>(paths), kMemFlags));
        if (!take->slots) return Corrupt("out of memory", 0);
        take->slotCount = S(paths);
        for (uint32_t i = 0; i < paths; ++i)
            take->slots[i].object = objects[i] ? SA_FindObjectByID(objects[i]) : nullptr;
    }
    return true;
}

// Every container ID names a container, and following them never comes back
// to where it started.
bool CheckContainers(const LoadState& st) {
    for (const auto& [o, id] : st.containers) {
        if (!id) continue;
        SectorObject* c = SA_LookupObject(id);
        if (!c || !SA_IsContainerType(c->mainType) || !c->typeData)
            return Corrupt("container names no container", o->id);
    }
    std::unordered_map<uint32_t, uint32_t> up;
    for (const auto& [o, id] : st.containers) up[o->id] = id;
    for (const auto& [o, id] : st.containers) {
        uint32_t at = id;
        for (size_t steps = 0; at && steps <= up.size(); ++steps) {
            if (at == o->id) return Corrupt("container cycle", o->id);
            const auto next = up.find(at);
            at = next == up.end() ? 0 : next->second;
        }
    }
    return true;
}

void ResolveRefs(LoadState* st) {
    for (const PendingRef& r : st->refs) *r.slot = SA_LookupObject(r.id);
    // In ID order, so that children keep the order they were made in.
    std::sort(st->containers.begin(), st->containers.end(),
              [](const auto& a, const auto& b) { return a.first->id < b.first->id; });
    for (const auto& [o, id] : st->containers) {
        if (!id) continue;
        SectorObject* c = SA_LookupObject(id);
        SA_ListAddTail(O_GetChildList(c), o);
        o->container = c;
    }
}

}  // namespace

int32_t SA_SpecialBlockBytes(int32_t mainType) {
    switch (mainType) {
        case SA_MT_BULLET: return 116;
        case SA_MT_SECTOR: return 72;
        case SA_MT_SUN: return 8;
        case SA_MT_PLANET: return 20;
        case SA_MT_DOCK: return 60;
        case SA_MT_FACTORY: return 64;
        case SA_MT_SHIP: return 212;
        case SA_MT_LASER: return 16;
        case SA_MT_SHIELD: return 12;
        case SA_MT_MISSILE: return 52;
        case SA_MT_GATE: return 100;
        case SA_MT_CAMERA: return 24;
        case SA_MT_SPECIAL: return 12;
        case SA_MT_NEBULA: return 64;
        default:
            if (mainType >= SA_MT_WARE_FIRST && mainType <= SA_MT_WARE_LAST) return 4;
            if (mainType >= SA_MT_DEBRIS && mainType <= SA_MT_SHIP_WRECK) return 4;
            return 0;
    }
}

int O_SaveObject(SectorObject* o, QelFile* file) {
    Writer w{file};
    Qel_DPrintf(0, "Saving sector object %d [%s]\n", S(o->id), NameOf(o));
    w.Tag("SOBJ");
    w.Put({o->id, U(SA_TypeCode(o->mainType, static_cast<uint16_t>(o->subType)))});
    w.Word(SA_SAVE_FIXED_BYTES);
    const Words fixed = FixedBlock(o);
    w.Put(fixed);
    if (fixed[kNameWord]) {
        w.Bytes(o->name, fixed[kNameWord] - 1);
        w.Bytes("", 1);
    }
    const int32_t length = SA_SpecialBlockBytes(o->mainType);
    w.Word(U(length));
    if (length) {
        Words special = SpecialBlock(o);
        special.resize(static_cast<size_t>(length / 4), 0);
        w.Put(special);
    }
    if (const ShipData* ship = O_ShipData(o)) {
        const int32_t turrets = TypeTurretCount(o->mainType, o->subType);
        for (int32_t n = 0; n < turrets; ++n)
            w.Put(ship->turrets && n < ship->turretCount ? TurretBlock(ship->turrets[n]) : Words(kTurretWords, 0));
    }
    if (HasPorts(o->mainType)) {
        const DockPortTable* ports = O_PortTable(o);
        for (int32_t n = 0; n < TypePortCount(o->mainType, o->subType); ++n) {
            if (ports && ports->slots && n < ports->slotCount) {
                w.Put(PortBlock(ports->slots[n]));
                continue;
            }
            // The reader takes one block per port of the type: a zeroed one keeps it in step.
            Qel_DPrintf(0, "Skipped DockPort while Loading sector object %d [%s]\n", S(o->id), NameOf(o));
            w.Put(Words(kPortWords, 0));
        }
    }
    return w.ok ? 1 : 0;
}

int ST_SaveTakes(SA_Take* take, QelFile* file) {
    Writer w{file};
    const J3D_Cut* cut = g_B3DState && take->cutId > 0 ? J3D_FindCut(take->cutId) : nullptr;
    const int32_t paths = cut ? std::max(cut->pathCount, 0) : 0;
    w.Tag("STAK");
    w.Put({U(SA_SAVE_TAKE_BYTES), U(take->id), U(take->cutId), IdOf(take->sector), take->flags, U(paths)});
    Words objects(static_cast<size_t>(paths), 0);
    for (int32_t i = 0; i < paths && take->slots && i < take->slotCount; ++i)
        objects[static_cast<size_t>(i)] = IdOf(take->slots[i].object);
    w.Put(objects);
    return w.ok ? 1 : 0;
}

int SA_SaveSectors(QelFile* file) {
    SpaceRoot* root = g_SpaceRoot;
    Writer w{file};
    Words words(kRootWords, 0);
    if (root) {
        words[0] = U(root->started);
        words[1] = U(root->running);
        words[2] = Qel_TableGetCount(root->ids);
        words[3] = Qel_TableGetCount(root->takes);
        words[4] = root->answerArrived;
        words[5] = root->result.tag == VARTYPE_INTEGER ? U(root->result.i) : 0;
        const SpaceGameWords& g = root->game;
        words[8] = U(g.word1);
        words[9] = IdOf(g.playerObject);
        words[10] = U(g.steering);
        const int32_t counts[] = {g.lasersFired, g.missilesFired, g.laserHits,
                                  g.missileHits, g.totalDistance, g.distanceRemainder};
        for (int i = 0; i < 6; ++i) words[12 + i] = U(counts[i]);
        words[18] = U(root->inCall);
    }
    w.Tag("SECT");
    w.Word(SA_SAVE_ROOT_BYTES);
    w.Put(words);
    bool ok = w.ok;
    if (root) {
        for (uint32_t k = Qel_TableNext(root->ids, 0); k; k = Qel_TableNext(root->ids, k))
            if (!O_SaveObject(reinterpret_cast<SectorObject*>(Qel_TableGet(root->ids, k)), file)) ok = false;
        for (uint32_t k = Qel_TableNext(root->takes, 0); k; k = Qel_TableNext(root->takes, k))
            if (!ST_SaveTakes(reinterpret_cast<SA_Take*>(Qel_TableGet(root->takes, k)), file)) ok = false;
    }
    w.Tag("/SEC");
    return ok && w.ok ? 1 : 0;
}

int SA_LoadSectors(QelFile* file) {
    // Whatever a running game left goes first: the types it points into are made new.
    if (g_SpaceRoot) {
        SA_FreeAllObjects(g_SpaceRoot);
        ST_RemoveAllTakes(g_SpaceRoot);
    }
    EO_Init();
    SA_FreeObjectDB();
    SA_LoadObjectDB(g_SpaceRoot);
    return SA_ReadSectors(file);
}

int SA_ReadSectors(QelFile* file) {
    SpaceRoot* root = g_SpaceRoot;
    if (!root || !root->ids || !root->takes) {
        Qel_ErrPrintf("SA_LoadSectors() no space root\n");
        return 0;
    }
    Reader r{file};
    if (!r.Tag("SECT")) return Corrupt("wrong SECT cookie", 0);
    uint32_t length = 0;
    Words w;
    if (!r.Word(&length) || length > static_cast<uint32_t>(SA_SAVE_ROOT_BYTES) || length % 4 != 0 ||
        !r.Get(&w, length / 4)) {
        Qel_ErrPrintf("SA_LoadSectors() wrong root block length %u\n", length);
        return 0;
    }
    w.resize(kRootWords, 0);
    root->started = S(w[0]);
    root->running = S(w[1]);
    root->answerArrived = static_cast<uint16_t>(w[4]);
    if (root->result.tag) SV_Release(&root->result);
    root->result = ScriptValue{};
    if (root->answerArrived) {
        root->result.tag = VARTYPE_INTEGER;
        root->result.i = S(w[5]);
    }
    SpaceGameWords& g = root->game;
    g.word1 = S(w[8]);
    g.playerObject = nullptr;
    g.steering = S(w[10]);
    g.lasersFired = S(w[12]);
    g.missilesFired = S(w[13]);
    g.laserHits = std::min(S(w[14]), g.lasersFired);
    g.missileHits = std::min(S(w[15]), g.missilesFired);
    g.totalDistance = S(w[16]);
    g.distanceRemainder = S(w[17]);
    root->inCall = S(w[18]);
    const uint32_t playerId = w[9];

    LoadState st;
    for (uint32_t n = 0; n < w[2]; ++n)
        if (!ReadObject(&st, &r)) return 0;
    // Above every loaded ID, so that no ID a story still holds is handed out again.
    if (st.highestId) Qel_TableSetNextKey(root->ids, std::max(st.highestId, Qel_TableGetNextKey(root->ids)));
    for (uint32_t n = 0; n < w[3]; ++n)
        if (!ReadTake(&r)) return 0;
    if (!CheckContainers(st)) return 0;
    ResolveRefs(&st);
    SA_CleanUpObjects();
    g.playerObject = playerId ? SA_LookupObject(playerId) : nullptr;
    if (!r.Tag("/SEC")) return Corrupt("wrong /SEC cookie", 0);
    return 1;
}
