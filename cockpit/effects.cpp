#include "cockpit/effects.h"

#include <cstdio>
#include <string>
#include <cstdlib>

#include "base/angles.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/random.h"
#include "base/standin_calls.h"
#include "base/strings.h"
#include "base/table.h"
#include "cockpit/effectplayer.h"
#include "cockpit/explosions.h"
#include "scene/allocs.h"
#include "scene/caches.h"
#include "scene/geometry.h"
#include "scene/names.h"
#include "scene/particles.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "scene/typesfiles.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/records.h"
#include "space/typesdb.h"

EffectTable g_EffectTable = {};
EOSoundLink g_EOSoundLink = {};

const VRMNameValue g_EOEffectFlagNames[] = {
    {"EDF_NONE", 0},       {"EDF_BREAKUP", 0x1},  {"EDF_PROPAGATE", 0x2},   {"EDF_REINIT", 0x4},
    {"EDF_NOROTATE", 0x8}, {"EDF_NODRIFT", 0x10}, {"EDF_HIDEOBJECT", 0x20}, {"", 0},
};

const VRMNameValue g_EOPartFlagNames[] = {
    {"EEDF_NONE", 0},
    {"EEDF_SPEEDDEPENDENT", 0x1},
    {"EEDF_RELATIVESIZE", 0x2},
    {"EEDF_LENSFLARE", 0x4},
    {"EEDF_GROWANDSHRINK", 0x8},
    {"EEDF_TIMEOUT", 0x10},
    {"EEDF_CUT", 0x20},
    {"EEDF_CAMERARELATIVE", 0x40},
    {"EEDF_LIGHT", 0x80},
    {"EEDF_GROW", 0x100},
    {"EEDF_RANDOMROT", 0x200},
    {"EEDF_FADEOUT", 0x400},
    {"EEDF_FADEOUTBODY", 0x800},
    {"EEDF_BULLETROT", 0x1000},
    {"EEDF_BREAKUP", 0x2000},
    {"EEDF_PROPAGATE", 0x4000},
    {"EEDF_RANDOMSIZE", 0x8000},
    {"EEDF_PARTICLEGENERATOR", 0x10000},
    {"EEDF_DISTANT", 0x20000},
    {"EEDF_DEBRIS", 0x40000},
    {"EEDF_HULLDAMAGE", 0x80000},
    {"EEDF_WAVE", 0x100000},
    {"EEDF_NOREINIT", 0x200000},
    {"EEDF_CUTACTUALSIZE", 0x400000},
    {"EEDF_CUTKEEPBODY", 0x800000},
    {"EEDF_NOZTEST", 0x1000000},
    {"EEDF_NOSKIP", 0x2000000},
    {"EEDF_WRECK", 0x4000000},
    {"EEDF_DEBRISMAP", 0x8000000},
    {"EEDF_PUSH", 0x10000000},
    {"", 0},
};

const VRMNameValue g_EOInstanceFlagNames[] = {{"I3DF_2D", 0x4000}, {"I3DF_HASLENSFLARE", 0x20000000}, {"", 0}};

namespace {

// Part arrays, entries and emitters live with the space objects' memory.
constexpr uint32_t kMemFlags = Int_MemTag(14) | INT_MEM_ZERO_TAIL;

// Sounds.
constexpr int32_t kSoundSmallHit = 903;
constexpr int32_t kSoundBigHit = 904;
constexpr int32_t kSoundSpecialHit = 992;
constexpr int32_t kSoundSmallBlast = 918;
constexpr int32_t kSoundMediumBlast = 919;
constexpr int32_t kSoundBigBlast = 920;
constexpr int32_t kSmallSize = 20000;
constexpr int32_t kMediumSize = 100000;
constexpr int16_t kSpecialHitShip = 75;

// Child instances of a ship or missile: the engine points and what they refuse.
constexpr uint16_t kEnginePoint = 0x1;
constexpr uint16_t kEngineMask = 0xFFE;
constexpr uint16_t kNoEngineEffect = 0x4000;
constexpr uint16_t kNoEngineParticles = 0x2000;

ObjectEffect* s_first = nullptr;
ObjectEffect* s_last = nullptr;
int32_t s_walkDepth = 0;

ParticleEmitter* s_firstEmitter = nullptr;
ParticleEmitter* s_lastEmitter = nullptr;

template <typename T>
T* AllocArray(int32_t n) {
    return n > 0 ? static_cast<T*>(Int_AllocMem(sizeof(T) * static_cast<size_t>(n), kMemFlags)) : nullptr;
}

template <typename T>
void FreeArray(T* p, int32_t n) {
    if (p && n > 0) Int_FreeMem(p, sizeof(T) * static_cast<size_t>(n), kMemFlags);
}

void FreeEntryParts(EffectEntry* e) {
    FreeArray(e->parts, e->partCount);
    *e = EffectEntry{};
}

int32_t Field(int32_t mainType, int32_t subType, int32_t field) {
    const TypeRecord* r = SA_GetTypeRecord(mainType, subType);
    return r ? r->field[field] : 0;
}

// Reads one part; the effect's flags gain what its parts add.
void ReadPart(VRMFile* r, EffectPart* p, uint32_t* effectFlags) {
    p->flags = r->ReadFlags32(g_EOPartFlagNames);
    // Only the flags the file may name: a number with other bits would make
    // a part's instance a camera or a light in the scene engine's eyes.
    p->instanceFlags = r->ReadFlags32(g_EOInstanceFlagNames) & (I3DF_2D | I3DF_HASLENSFLARE);
    if (p->flags & EEDF_BREAKUP) *effectFlags |= EDF_BREAKUP;
    if (p->flags & EEDF_PROPAGATE) {
        *effectFlags |= EDF_PROPAGATE;
        p->body = -1;
        p->propEffect = r->ReadInt();
        p->propMinBursts = r->ReadInt();
        p->propMaxBursts = r->ReadInt();
        p->propFirstDelay = r->ReadInt();
        p->propLastDelay = r->ReadInt();
        p->propPoints = r->ReadInt();
        p->propRandomDelay = r->ReadInt();
        p->propSpacing = r->ReadFixed();
    } else {
        char* name = r->ReadString();
        const char* text = name ? name : "";
        if (p->flags & EEDF_LIGHT) {
            int light = 0;
            p->body = std::sscanf(text, "%d", &light) == 1 ? light : -1;
        } else if (p->flags & EEDF_CUT) {
            p->body = B3D_GetCutID(text);
        } else {
            p->body = B3D_GetBodyID(text);
        }
        Qel_StrFree(name);
        p->minSize = r->ReadFixed();
        p->maxSize = r->ReadFixed();
        p->length = r->ReadInt();
        p->jitter = r->ReadFixed();
        for (int32_t& o : p->offset) o = (p->flags & EEDF_RELATIVESIZE) ? r->ReadFixed() : r->ReadInt();
        p->value1 = r->ReadInt();
        p->value2 = r->ReadInt();
        p->speedFactor = r->ReadFixed();
    }
    p->start = r->ReadInt();
}

// Reads the effects after the count; a fault ends the reading.
void ReadEffects(VRMFile* r) {
    r->ReadInt();  // the number of effects: the file is read to its end instead
    for (;;) {
        const int32_t index = r->ReadInt();
        if (r->error) return;
        if (index < 0 || index >= EO_EFFECT_COUNT) {
            Qel_DPrintf(0, "B3D_LoadEffects: Effect index %d out of range!\n", index);
            return;
        }
        const int32_t count = r->ReadInt();
        uint32_t flags = r->ReadFlags32(g_EOEffectFlagNames);
        const int32_t value = r->ReadInt();
        const int32_t scale = r->ReadFixed();
        if (r->error || count < 0 || count > EO_MAX_PARTS) {
            Qel_DPrintf(0, "B3D_LoadEffects: Error loading effects file in effect %d!\n", index);
            return;
        }
        EffectPart* parts = AllocArray<EffectPart>(count);
        if (count > 0 && !parts) parts = AllocArray<EffectPart>(count);
        for (int32_t i = 0; i < count && !r->error; ++i) {
            EffectPart scratch{};
            ReadPart(r, parts ? &parts[i] : &scratch, &flags);
        }
        // A later definition of an index replaces the earlier one, even when
        // its parts did not read whole: the index then has no effect.
        EffectEntry& e = g_EffectTable.entries[index];
        FreeEntryParts(&e);
        if (r->error) {
            FreeArray(parts, count);
            Qel_DPrintf(0, "B3D_LoadEffects: Error loading effects file in effect %d!\n", index);
            return;
        }
        e = {parts ? count : 0, flags, value, scale, parts};
    }
}

void FreeTable() {
    for (EffectEntry& e : g_EffectTable.entries) FreeEntryParts(&e);
}

void FreeEntryRecord(ObjectEffect* entry) {
    EO_ListUnlink(&s_first, &s_last, entry);
    FreeArray(entry->slots, entry->slotCount);
    Int_FreeRecord(entry, kMemFlags);
}

void FreeAllObjectEffects() {
    for (ObjectEffect* e = s_first; e;) {
        ObjectEffect* next = e->next;
        EO_FreeEffectEntry(e);
        e = next;
    }
}

// The one entry of an object, kind and slot (entries freed during a walk do not count).
ObjectEffect* FindEntry(const SectorObject* object, int32_t kind, int32_t slot) {
    for (ObjectEffect* e = s_first; e; e = e->next)
        if (!e->removed && e->object == object && e->kind == kind && e->slot == slot) return e;
    return nullptr;
}

// Plays the entry once; false when that freed it (it is then not to be touched).
bool RunOnce(ObjectEffect* entry) {
    EO_BeginEffectWalk();
    EO_RunObjectEffect(entry);
    const bool alive = !entry->removed;
    EO_EndEffectWalk();
    return alive;
}

bool HasPartFlag(const EffectEntry* e, uint32_t bits) {
    if (!e) return false;
    for (int32_t i = 0; i < e->partCount; ++i)
        if (e->parts[i].flags & bits) return true;
    return false;
}

int IsWeapon(const SectorObject* o) { return o->mainType == SA_MT_BULLET || o->mainType == SA_MT_MISSILE; }

void Play3D(int32_t sound, Inst3D* instance) {
    if (g_EOSoundLink.play3D) g_EOSoundLink.play3D(0, 0, sound, instance);
}

}  // namespace

// ---------------------------------------------------------------- helpers

int32_t EO_Now() { return g_SystemState ? g_SystemState->gameClock : 0; }

int32_t EO_TimeAdd(int32_t time, int32_t delay) {
    int64_t t = (static_cast<int64_t>(time) + delay) % QEL_ANGLE_FULL;
    if (t < 0) t += QEL_ANGLE_FULL;
    return static_cast<int32_t>(t);
}

int EO_InstancePlaced(const SectorObject* object) {
    return object && object->instance && object->instance->scene ? 1 : 0;
}

int EO_ObjectAlive(const SectorObject* object, uint32_t id) {
    return object && g_SpaceRoot && id &&
                   reinterpret_cast<SectorObject*>(Qel_TableGet(g_SpaceRoot->ids, id)) == object &&
                   !(object->flags & SA_FLAG_KILLED)
               ? 1
               : 0;
}

int EO_JobRuns(const Inst3D* inst) { return (inst->jobFlags & JOB_RUNNING) && !(inst->jobFlags & JOB_STOPPED) ? 1 : 0; }

int EO_ParticlesEnabled() {
    return g_SystemState && (g_SystemState->VideoD3DFlags & EO_OPTION_ENGINE_PARTICLES) ? 1 : 0;
}

// ---------------------------------------------------------------- the table

EffectEntry* EO_GetEffect(int32_t index) {
    return index >= 0 && index < EO_EFFECT_COUNT ? &g_EffectTable.entries[index] : nullptr;
}

int B3D_LoadEffects() {
    FreeAllObjectEffects();
    FreeTable();
    VRMFile* r = B3DB_OpenTypesFile("effects");
    if (!r) return 0;
    ReadEffects(r);
    Qel_CloseFileBuffer(r);
    return 1;
}

int EO_Init() {
    StandIn_Record("EO_Init");
    FreeAllObjectEffects();
    FreeTable();
    EO_FreeEmitters();
    if (!B3D_LoadEffects()) {
        Qel_DPrintf(0, "EO_Init() Can't load Effects file!\n");
        return 0;
    }
    return 1;
}

void EO_FreeEffects() {
    StandIn_Record("EO_FreeEffects");
    FreeAllObjectEffects();
    FreeTable();
    EO_FreeEmitters();
}

// ---------------------------------------------------------------- lookups

int32_t EO_GetDestructionEffect(int32_t subType, int32_t mainType, uint32_t flag) {
    auto orDefault = [](int32_t v) { return v ? v : EO_DEFAULT_DESTRUCTION; };
    switch (mainType) {
        case SA_MT_BULLET:
            return (Field(mainType, subType, SA_TF_BULLET_FLAGS) & SA_BULLET_KILL_EFFECT)
                       ? Field(mainType, subType, SA_TF_BULLET_IMPACT_EFFECT)
                       : EO_DEFAULT_DESTRUCTION;
        case SA_MT_DOCK:
        case SA_MT_FACTORY: return orDefault(Field(mainType, subType, SA_TF_STATION_EXPLOSION_EFFECT));
        case SA_MT_SHIP: return orDefault(Field(mainType, subType, SA_TF_SHIP_EXPLOSION_EFFECT));
        case SA_MT_ASTEROID: return orDefault(Field(mainType, subType, SA_TF_ASTEROID_EXPLOSION_EFFECT));
        case SA_MT_MISSILE:
            return flag ? orDefault(Field(mainType, subType, SA_TF_MISSILE_EXPLOSION_EFFECT)) : EO_DEFAULT_DESTRUCTION;
        default: return EO_DEFAULT_DESTRUCTION;
    }
}

int32_t EO_GetSecondEffect(int32_t subType, int32_t mainType, uint32_t flag) {
    auto orDefault = [](int32_t v) { return v ? v : EO_DEFAULT_SECOND; };
    switch (mainType) {
        case SA_MT_DOCK:
        case SA_MT_FACTORY: return orDefault(Field(mainType, subType, SA_TF_STATION_SECOND_EFFECT));
        case SA_MT_SHIP: return orDefault(Field(mainType, subType, SA_TF_SHIP_SECOND_EFFECT));
        case SA_MT_ASTEROID: return orDefault(Field(mainType, subType, SA_TF_ASTEROID_SECOND_EFFECT));
        case SA_MT_MISSILE:
            return (flag & SA_FLAG_AREA_DAMAGE) ? Field(mainType, subType, SA_TF_MISSILE_SECOND_EFFECT) : 0;
        default: return 0;
    }
}

int EO_EffectHasFlaggedPartA(int32_t subType, int32_t mainType) {
    return HasPartFlag(EO_GetEffect(EO_GetDestructionEffect(subType, mainType, 0)), EEDF_DEBRIS | EEDF_DEBRISMAP);
}

int EO_EffectHasFlaggedPartB(int32_t subType, int32_t mainType) {
    return HasPartFlag(EO_GetEffect(EO_GetDestructionEffect(subType, mainType, 0)), EEDF_WRECK);
}

// ---------------------------------------------------------------- object effects

ObjectEffect* EO_FirstEffect() { return s_first; }

Inst3D* EO_SlotInstance(EffectPartSlot* slot) {
    if (!slot->instance) return nullptr;
    Inst3D* live = g_B3DState ? B3D_InstFind(slot->instanceId) : nullptr;
    if (live != slot->instance) {
        slot->instance = nullptr;
        slot->instanceId = 0;
    }
    return slot->instance;
}

void EO_SlotFreeInstance(EffectPartSlot* slot) {
    if (Inst3D* inst = EO_SlotInstance(slot)) B3D_InstFree(inst);
    slot->instance = nullptr;
    slot->instanceId = 0;
}

void EO_FreeEffectEntry(ObjectEffect* entry) {
    if (!entry || entry->removed) return;
    for (int32_t i = 0; i < entry->slotCount; ++i) {
        EO_SlotFreeInstance(&entry->slots[i]);
        entry->slots[i].state = EO_SLOT_REMOVED;
    }
    entry->object = nullptr;
    entry->pushObject = nullptr;
    if (s_walkDepth > 0) {
        entry->removed = 1;
        return;
    }
    FreeEntryRecord(entry);
}

void EO_BeginEffectWalk() { ++s_walkDepth; }

void EO_EndEffectWalk() {
    if (--s_walkDepth > 0) return;
    s_walkDepth = 0;
    for (ObjectEffect* e = s_first; e;) {
        ObjectEffect* next = e->next;
        if (e->removed) FreeEntryRecord(e);
        e = next;
    }
}

void EO_RemoveObjectReferences(SectorObject* object) {
    StandIn_RecordObjectCall("EO_RemoveObjectReferences " + std::to_string(object ? object->id : 0));
    if (!object) return;
    for (ObjectEffect* e = s_first; e;) {
        ObjectEffect* next = e->next;
        if (e->pushObject == object) e->pushObject = nullptr;
        if (e->object == object) EO_FreeEffectEntry(e);
        e = next;
    }
    for (ParticleEmitter* m = s_firstEmitter; m;) {
        ParticleEmitter* next = m->next;
        if (m->owner == object) EO_FreeEmitter(m);
        m = next;
    }
}

void EO_FreeObjectEffects() {
    StandIn_Record("EO_FreeObjectEffects");
    FreeAllObjectEffects();
}

ObjectEffect* EO_AddObjectEffect(int32_t kind, int32_t slot, int32_t effectIndex, SectorObject* object,
                                 SectorObject* pushObject, int32_t word1, int32_t word2, const QelVector* position,
                                 int32_t delay, const QelMatrix* orientation) {
    EffectEntry* effect = EO_GetEffect(effectIndex);
    if (!effect || !object) return nullptr;
    ObjectEffect* entry = FindEntry(object, kind, slot);
    if (!entry) {
        entry = Int_AllocRecord<ObjectEffect>(kMemFlags);
        if (!entry) return nullptr;
        if (effect->partCount > 0) {
            entry->slots = AllocArray<EffectPartSlot>(effect->partCount);
            if (!entry->slots) {
                Int_FreeRecord(entry, kMemFlags);
                return nullptr;
            }
            entry->slotCount = effect->partCount;
        }
        entry->effect = effect;
        entry->object = object;
        entry->kind = kind;
        entry->slot = slot;
        entry->pushObject = pushObject;
        entry->callerWord1 = word1;
        entry->callerWord2 = word2;
        entry->position = position ? *position : QelVector{};
        if (orientation) entry->orientation = *orientation;
        else Qel_MatIdentity(&entry->orientation);
        Qel_MatIdentity(&entry->orientation2);
        EO_ListAppend(&s_first, &s_last, entry);
        for (int32_t i = 0; i < entry->slotCount; ++i) entry->slots[i] = {entry, 0, nullptr, 0, EO_SLOT_WAITING, 0};
        entry->startTime = EO_TimeAdd(EO_Now(), delay);
        entry->state = 0;
        return RunOnce(entry) ? entry : nullptr;
    }
    entry->position = position ? *position : QelVector{};
    if (orientation) entry->orientation = *orientation;
    if (entry->effect->flags & EDF_REINIT) {
        for (int32_t i = 0; i < entry->slotCount; ++i) {
            if (entry->effect->parts[i].flags & EEDF_NOREINIT) continue;
            EO_SlotFreeInstance(&entry->slots[i]);
            entry->slots[i].state = EO_SLOT_WAITING;
            entry->slots[i].randomOffset = 0;
        }
    }
    entry->startTime = EO_TimeAdd(EO_Now(), delay);
    return RunOnce(entry) ? entry : nullptr;
}

ObjectEffect* EO_AttachEffect(int32_t slot, int32_t kind, int32_t effectIndex, SectorObject* object,
                              const QelVector* position, const QelMatrix* orientation) {
    SectorObject* push = nullptr;
    if (kind == EO_KIND_IMPACT && HasPartFlag(EO_GetEffect(effectIndex), EEDF_PUSH)) push = SA_GetReferenceObject();
    return EO_AddObjectEffect(kind, slot, effectIndex, object, push, 0, 0, position, 0, orientation);
}

int EO_AttachEffectChecked(int32_t slot, int32_t kind, int32_t effectIndex, SectorObject* object,
                           const QelVector* position, const QelMatrix* orientation) {
    return EO_AttachEffect(slot, kind, effectIndex, object, position, orientation) ? 1 : 0;
}

int EO_AddWeaponEffect(int32_t bulletSubType, const QelMatrix* orientation, SectorObject* object, int32_t slot,
                       const QelVector* position) {
    const int32_t effect = Field(SA_MT_BULLET, bulletSubType, SA_TF_BULLET_WEAPON_EFFECT);
    if (effect) EO_AddObjectEffect(EO_KIND_WEAPON, slot, effect, object, nullptr, 0, 0, position, 0, orientation);
    return 1;
}

int EO_StartObjectEffect(SectorObject* object) {
    if (!object) return 0;
    int32_t effect = 0, particles = 0;
    switch (object->mainType) {
        case SA_MT_BULLET:
            effect = Field(SA_MT_BULLET, object->subType, SA_TF_BULLET_TRAIL_EFFECT);
            particles = Field(SA_MT_BULLET, object->subType, SA_TF_BULLET_TRAIL_PARTICLES);
            break;
        case SA_MT_SHIP:
            effect = Field(SA_MT_SHIP, object->subType, SA_TF_SHIP_ENGINE_EFFECT);
            particles = Field(SA_MT_SHIP, object->subType, SA_TF_SHIP_ENGINE_PARTICLES);
            break;
        case SA_MT_MISSILE:
            effect = Field(SA_MT_MISSILE, object->subType, SA_TF_MISSILE_ENGINE_EFFECT);
            particles = Field(SA_MT_MISSILE, object->subType, SA_TF_MISSILE_ENGINE_PARTICLES);
            break;
        default: return 0;
    }
    if (!effect && !particles) return 1;
    Inst3D* inst = object->instance;
    if (!inst) return 1;
    if (object->mainType == SA_MT_BULLET) {
        // Bullets that step themselves get their trail at their centre.
        const BulletData* bullet = O_BulletData(object);
        if (!bullet || !(bullet->typeFlags & SA_BULLET_OWN_STEP)) return 1;
        const QelVector centre{};
        if (effect) EO_AddObjectEffect(EO_KIND_ENGINE, 0, effect, object, nullptr, 0, 0, &centre, 0, nullptr);
        if (particles && g_SystemState && (g_SystemState->VideoD3DFlags2 & EO_OPTION_BULLET_TRAILS))
            EO_AddParticleEmitter(0, particles, object, &centre);
        return 1;
    }
    int32_t n = 0;
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) {
        if (!(c->childMask & kEnginePoint) || (c->childMask & kEngineMask)) continue;
        QelVector pos = c->pos;
        if (c->flags & INST_SCALED_CHILD) Fx_VecMul(&pos, &inst->scale, &pos);
        if (effect && !(c->childMask & kNoEngineEffect))
            EO_AddObjectEffect(EO_KIND_ENGINE, n, effect, object, nullptr, 0, 0, &pos, 0, nullptr);
        if (particles && !(c->childMask & kNoEngineParticles) && EO_ParticlesEnabled())
            EO_AddParticleEmitter(n, particles, object, &pos);
        ++n;
    }
    return 1;
}

int EO_CollisionEffect(SectorObject* a, SectorObject* b) {
    if (!EO_InstancePlaced(a) || !EO_InstancePlaced(b)) return 0;
    const SectorObject* smaller = a->instance->size < b->instance->size ? a : b;
    SectorObject* weapon = IsWeapon(a) ? a : IsWeapon(b) ? b : nullptr;
    if (!weapon) return 1;
    SectorObject* hit = weapon == a ? b : a;
    const int32_t index = weapon->mainType == SA_MT_MISSILE
                              ? Field(SA_MT_MISSILE, weapon->subType, SA_TF_MISSILE_IMPACT_EFFECT)
                              : Field(SA_MT_BULLET, weapon->subType, SA_TF_BULLET_IMPACT_EFFECT);
    // The contact point of the last collision test, in the hit object's frame.
    const Inst3D* source = smaller->instance;
    QelVector world{source->contact[0], source->contact[1], source->contact[2], 0};
    QelVector d;
    Fx_VecSub(&hit->instance->pos, &world, &d);
    QelVector local;
    Qel_MatTransMulVec(&hit->instance->matrix, &d, &local);
    local.w = 0;
    EO_PropagateEffect(hit, EO_KIND_IMPACT, index, &local);
    if (!EO_InstancePlaced(hit) || !EO_InstancePlaced(weapon)) return 1;
    const QelMatrix weaponMatrix = weapon->instance->matrix;
    if (ObjectEffect* e =
            EO_AttachEffect(static_cast<int32_t>(weapon->id), EO_KIND_IMPACT, index, hit, &local, nullptr)) {
        e->orientation2 = weaponMatrix;
        e->pushObject = weapon;
    }
    return 1;
}

int EO_SpawnEffectInstance(Scene3D* scene, int32_t bodyId, const QelVector* position, int32_t size) {
    Inst3D* inst = B3D_AllocInst();
    if (!inst) return 0;
    const int32_t angle = Qel_RandomRaw() * 4096 / 32767 * 16;
    Qel_MatFromAngles(&inst->matrix, 0, 0, angle);
    if (position) inst->pos = *position;
    inst->flags |= INST_OWN_MATRIX2;
    B3D_InstSetBody(inst, bodyId);
    if (Body3D* body = B3D_GetBody(bodyId)) body->flags |= 0x20;
    B3D_InstSetSize(inst, size / 4);
    if (scene) B3D_InstAddToScene(inst, scene);
    const int32_t now = EO_Now();
    if (!EO_AddExplosion(inst, now, EO_TimeAdd(now, 4000), EXPLSTATE_RUN, EXPLF_SPAWNED)) {
        B3D_InstFree(inst);
        return 0;
    }
    return 1;
}

// ---------------------------------------------------------------- emitters

ParticleEmitter* EO_FirstEmitter() { return s_firstEmitter; }

ParticleGenerator* EO_EmitterGenerator(ParticleEmitter* emitter) {
    ParticleGenerator* live = B3D_ParticleGeneratorFind(emitter->generatorId);
    if (live != emitter->generator) {
        emitter->generator = nullptr;
        emitter->generatorId = 0;
    }
    return emitter->generator;
}

ParticleEmitter* EO_AddParticleEmitter(int32_t slot, int32_t particleType, SectorObject* object,
                                       const QelVector* position) {
    if (!object) return nullptr;
    for (ParticleEmitter* m = s_firstEmitter; m; m = m->next) {
        if (m->owner != object || m->slot != slot) continue;
        if (ParticleGenerator* g = EO_EmitterGenerator(m); g && position) g->offset = *position;
        return m;
    }
    auto* m = Int_AllocRecord<ParticleEmitter>(kMemFlags);
    if (!m) return nullptr;
    ParticleGenerator* g = B3D_ParticleGeneratorAlloc();
    if (!g) {
        Int_FreeRecord(m, kMemFlags);
        return nullptr;
    }
    B3D_ParticleGeneratorSetDesc(g, particleType);
    if (position) g->offset = *position;
    const int32_t speedScale = SA_GetTunedTypeSpeed(object);
    g->intensity = speedScale ? Qel_FixDiv(object->speed, speedScale) : 0;
    g->prevTime = EO_Now();
    if (Inst3D* inst = object->instance) {
        g->prevPos = inst->worldPos;
        g->matrix = inst->matrix;
        g->scene = inst->scene;
    }
    *m = {nullptr, nullptr, object, slot, g, g->id, particleType};
    EO_ListAppend(&s_firstEmitter, &s_lastEmitter, m);
    return m;
}

void EO_FreeEmitter(ParticleEmitter* m) {
    if (!m) return;
    EO_ListUnlink(&s_firstEmitter, &s_lastEmitter, m);
    if (ParticleGenerator* g = EO_EmitterGenerator(m)) B3D_ParticleGeneratorFree(g);
    Int_FreeRecord(m, kMemFlags);
}

void EO_FreeEmitters() {
    while (s_firstEmitter) EO_FreeEmitter(s_firstEmitter);
}

// ---------------------------------------------------------------- sounds

void EO_PlayCollisionSound(SectorObject* a, SectorObject* b) {
    if (!a || !b || !a->instance || !EO_InstancePlaced(b)) return;
    if (a->mainType == SA_MT_BULLET) {
        Play3D(Field(SA_MT_BULLET, a->subType, SA_TF_BULLET_IMPACT_SOUND), a->instance);
        return;
    }
    if (a->mainType == SA_MT_MISSILE && (a->flags & SA_FLAG_AREA_DAMAGE)) return;
    if (a->mainType == SA_MT_SHIP && a->subType == kSpecialHitShip) {
        Play3D(kSoundSpecialHit, a->instance);
        return;
    }
    if (b->size < a->size) return;
    const int32_t sound = a->size <= kSmallSize && b->size <= kSmallSize ? kSoundSmallHit : kSoundBigHit;
    if (g_EOSoundLink.findSample && g_EOSoundLink.findSample(sound)) return;
    Play3D(sound, a->instance);
}

void EO_PlayExplosionSound(SectorObject* object) {
    StandIn_RecordObjectCall("EO_PlayExplosionSound " + std::to_string(object ? object->id : 0));
    if (!EO_InstancePlaced(object)) return;
    int32_t sound = kSoundSmallBlast;
    if (object->mainType == SA_MT_MISSILE && (object->flags & SA_FLAG_AREA_DAMAGE))
        sound = Field(SA_MT_MISSILE, object->subType, SA_TF_MISSILE_EXPLOSION_SOUND);
    else if (object->size > kMediumSize) sound = kSoundBigBlast;
    else if (object->size > kSmallSize) sound = kSoundMediumBlast;
    Play3D(sound, object->instance);
}
