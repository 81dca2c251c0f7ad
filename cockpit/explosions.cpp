#include "cockpit/explosions.h"

#include <algorithm>
#include <string>

#include "base/angles.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/random.h"
#include "base/rotation.h"
#include "base/standin_calls.h"
#include "base/table.h"
#include "cockpit/effectplayer.h"
#include "cockpit/effects.h"
#include "scene/allocs.h"
#include "scene/bodyrecord.h"
#include "scene/caches.h"
#include "scene/geometry.h"
#include "scene/jobs.h"
#include "scene/particles.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/create.h"
#include "space/kill.h"
#include "space/typesdb.h"

int32_t g_EOFrameRandom = 0;

namespace {

constexpr uint32_t kMemFlags = Int_MemTag(14) | INT_MEM_ZERO_TAIL;
// An instance that is done (its explosion or part ends).
constexpr uint32_t kInstDone = 0x2000;
// Bounds of ours on what a propagating part may spawn per call.
constexpr int32_t kMaxBursts = 64;
constexpr int32_t kMaxPoints = 64;

ExplosionObject* s_first = nullptr;
ExplosionObject* s_last = nullptr;
int32_t s_walkDepth = 0;

void FreeRecord(ExplosionObject* e) {
    EO_ListUnlink(&s_first, &s_last, e);
    Int_FreeRecord(e, kMemFlags);
}

void Sweep() {
    for (ExplosionObject* e = s_first; e;) {
        ExplosionObject* next = e->next;
        if (e->removed) FreeRecord(e);
        e = next;
    }
}

// The radius of the first part of the body's first level: its size value.
int32_t BodySize(int32_t bodyId) {
    const Body3D* body = bodyId > 0 ? B3D_GetBody(bodyId) : nullptr;
    const BodyLevel* level = body && body->levelCount > 0 && body->levels ? body->levels[0] : nullptr;
    const BodyPart* part = level && level->partCount > 0 && level->parts ? level->parts[0] : nullptr;
    return part ? part->radius : 0;
}

void StepExplosion(ExplosionObject* e, int32_t now, int32_t step) {
    Inst3D* inst = EO_ExplosionInstance(e);
    if (!inst) {
        EO_FreeExplosion(e);
        return;
    }
    switch (e->state) {
        case EXPLSTATE_WAIT:
            if (Qel_AngleDiff(now, e->startTime) >= 0) {
                e->state = EXPLSTATE_RUN;
                inst->flags &= ~INST_INVISIBLE;
            }
            return;
        case EXPLSTATE_RUN:
            if (e->flags & EXPLF_SCENE) {
                const bool sized = B3D_GetBody(inst->bodyId) != nullptr;
                const int64_t full = static_cast<int64_t>(BodySize(inst->bodyId)) * inst->size / 4000;
                const int64_t left = Qel_AngleDiff(e->endTime, now);
                bool alive = false;
                for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c;) {
                    Inst3D* next = B3D_Next(c);
                    if (sized)
                        B3D_InstSetSize(c, static_cast<int32_t>(std::clamp<int64_t>(full * left / 9000, 0, INT32_MAX)));
                    if (EO_JobRuns(c)) alive = true;
                    else B3D_InstFree(c);
                    c = next;
                }
                if (!alive) EO_FreeExplosion(e);
                return;
            }
            if (!(inst->flags & kInstDone) && Qel_AngleDiff(e->endTime, now) > 0) {
                // Speeds and sizes may be anything a word holds: each step
                // stops at the edge of the word rather than wrapping round it.
                int32_t* const axes[3] = {&inst->pos.x, &inst->pos.y, &inst->pos.z};
                for (int k = 0; k < 3; ++k)
                    *axes[k] = EO_Clamp32(int64_t{*axes[k]} + EO_MulDiv(inst->velocity[k], step, 1000));
                if (e->flags & EXPLF_SIZE) {
                    const int64_t span = Qel_AngleDiff(e->endTime, e->startTime);
                    const int64_t grown = int64_t{e->endSize} - e->startSize;
                    const int64_t size =
                        span ? e->startSize + grown * Qel_AngleDiff(now, e->startTime) / span : e->startSize;
                    B3D_InstSetSize(inst, EO_Clamp32(size));
                }
                return;
            }
            EO_FreeExplosion(e);
            return;
        case EXPLSTATE_LOOP:
            if (!(e->flags & EXPLF_SCENE)) {
                Qel_DPrintf(0, "EO_MoveExplObjects: EXPLSTATE_LOOP and NO EXPLF_SCENE!\n");
                return;
            }
            for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) {
                if (EO_JobRuns(c)) continue;
                J3D_Cut* cut = J3D_FindCut(c->cutId);
                if (!cut) continue;
                J3D_JobStartInst(c, 0, c->pathNr, cut, 0, 0);
            }
            return;
        default: Qel_DPrintf(0, "EO_MoveExplObjects: unknown state %d\n", e->state); return;
    }
}

// The live part slots of an entry the player is done with; instances that
// ended are freed on the way.
bool AnyPartAlive(ObjectEffect* e, int32_t now) {
    bool alive = false;
    for (int32_t i = 0; i < e->slotCount; ++i) {
        EffectPartSlot& s = e->slots[i];
        const EffectPart& p = e->effect->parts[i];
        Inst3D* inst = EO_SlotInstance(&s);
        if (!inst) {
            if (s.state == EO_SLOT_WAITING) alive = true;
            continue;
        }
        if ((inst->flags & kInstDone) ||
            ((p.flags & EEDF_TIMEOUT) &&
             static_cast<int64_t>(Qel_AngleDiff(now, e->startTime)) > static_cast<int64_t>(p.start) + p.length)) {
            EO_SlotFreeInstance(&s);
            s.state = EO_SLOT_REMOVED;
            continue;
        }
        alive = true;
    }
    return alive;
}

bool OtherEntryOf(const ObjectEffect* self, const SectorObject* object, int32_t kind, const EffectEntry* effect) {
    for (ObjectEffect* e = EO_FirstEffect(); e; e = e->next)
        if (e != self && !e->removed && e->object == object && e->kind == kind && e->effect == effect) return true;
    return false;
}

void PlayObjectEffects(int32_t now) {
    EO_BeginEffectWalk();
    // Entries made during the walk have been played once already.
    ObjectEffect* last = nullptr;
    for (ObjectEffect* e = EO_FirstEffect(); e; e = e->next) last = e;
    for (ObjectEffect* e = EO_FirstEffect(); e; e = e == last ? nullptr : e->next) {
        if (e->removed || !e->object) continue;
        if (EO_RunObjectEffect(e) || e->removed || !e->object) continue;
        if (AnyPartAlive(e, now)) continue;
        SectorObject* object = e->object;
        const int32_t kind = e->kind;
        const EffectEntry* effect = e->effect;
        EO_FreeEffectEntry(e);
        if (object->mainType == EO_CARRIER_MAIN_TYPE && !(object->flags & SA_FLAG_KILLED) &&
            !OtherEntryOf(e, object, kind, effect)) {
            object->flags |= SA_FLAG_KILLED;
            O_UnlinkObject(object, 0);
        }
    }
    EO_EndEffectWalk();
}

void FeedEmitters(int32_t now) {
    if (!EO_ParticlesEnabled()) return;
    for (ParticleEmitter* m = EO_FirstEmitter(); m; m = m->next) {
        ParticleGenerator* g = EO_EmitterGenerator(m);
        SectorObject* o = m->owner;
        Inst3D* inst = o ? o->instance : nullptr;
        if (!g || !inst) continue;
        const int32_t scale = o->mainType < SA_MT_SPECIAL ? SA_GetTunedTypeSpeed(o) : 0;
        g->intensity = scale ? Qel_FixDiv(o->speed, scale) : 0;
        g->scene = inst->scene;
        const int64_t turn = std::llabs(static_cast<int64_t>(o->rotSpeed[0])) + std::llabs(int64_t{o->rotSpeed[1]}) +
                             std::llabs(int64_t{o->rotSpeed[2]});
        // Wider than 64 bits at the extremes of the speeds and the size.
        __extension__ using Wide = __int128;
        const Wide wide = (Wide{6} * turn * o->size + 0x8000) >> 16;
        const int32_t spread = static_cast<int32_t>(std::clamp<Wide>(wide, INT32_MIN, INT32_MAX));
        QelQuat q;
        Qel_QuatFromMat(&inst->worldMatrix, &q);
        const QelVector velocity{inst->velocity[0], inst->velocity[1], inst->velocity[2], 0};
        B3D_ParticleSpawn(g, &inst->worldPos, &q, &velocity, o->speed, spread, now);
    }
}

// A new carrier object of main type 27 in the dead object's place.
SectorObject* NewCarrier(SectorObject* dead, const EffectEntry* effect) {
    const int32_t body = dead->instance && dead->instance->bodyId > 0 ? dead->instance->bodyId : 1;
    SectorObject* c = O_AllocObject(SA_TypeCode(EO_CARRIER_MAIN_TYPE, body & 0xFFFF));
    if (!c) return nullptr;
    if (!c->instance) c->instance = B3D_AllocInst();
    if (c->instance && dead->instance && dead->instance->bodyId > 0) B3D_InstSetBody(c->instance, body);
    if (Inst3D* ci = c->instance) {
        const Inst3D* di = dead->instance;
        if (effect->flags & EDF_HIDEOBJECT) ci->flags |= INST_INVISIBLE;
        ci->pos = di->pos;
        ci->matrix = di->matrix;
        ci->worldPos = di->worldPos;
        ci->worldMatrix = di->worldMatrix;
        for (int k = 0; k < 4; ++k) ci->velocity[k] = di->velocity[k];
        if (di->size > 0 && ci->size > 0) B3D_InstSetSize(ci, di->size);
    }
    for (int k = 0; k < 3; ++k) {
        c->rot[k] = dead->rot[k];
        c->drift[k] = dead->drift[k];
    }
    c->eventObject = dead->eventObject;
    c->speed = c->desiredSpeed = 0;
    c->size = dead->size;
    if (!(effect->flags & EDF_NOROTATE))
        for (int32_t& r : c->rotSpeed) r = Qel_Random(1024) - 512;
    if (dead->container) O_SetContainer(c, dead->container);
    return c;
}

}  // namespace

// ---------------------------------------------------------------- entries

ExplosionObject* EO_FirstExplosion() { return s_first; }

ExplosionObject* EO_AddExplosion(Inst3D* instance, int32_t startTime, int32_t endTime, int32_t state, uint32_t flags) {
    if (!instance) return nullptr;
    auto* e = Int_AllocRecord<ExplosionObject>(kMemFlags);
    if (!e) return nullptr;
    e->startTime = startTime;
    e->endTime = endTime;
    e->instance = instance;
    e->instanceId = instance->id;
    e->state = state;
    e->flags = flags;
    EO_ListAppend(&s_first, &s_last, e);
    return e;
}

Inst3D* EO_ExplosionInstance(ExplosionObject* e) {
    if (!e->instance) return nullptr;
    if ((g_B3DState ? B3D_InstFind(e->instanceId) : nullptr) != e->instance) {
        e->instance = nullptr;
        e->instanceId = 0;
    }
    return e->instance;
}

void EO_FreeExplosion(ExplosionObject* e) {
    if (!e || e->removed) return;
    if (Inst3D* inst = EO_ExplosionInstance(e)) B3D_InstFree(inst);
    e->instance = nullptr;
    e->instanceId = 0;
    if (s_walkDepth > 0) e->removed = 1;
    else FreeRecord(e);
}

void EO_FreeExplosions() {
    StandIn_Record("EO_FreeExplosions");
    for (ExplosionObject* e = s_first; e;) {
        ExplosionObject* next = e->next;
        EO_FreeExplosion(e);
        e = next;
    }
    EO_FreeEmitters();
}

void EO_RemoveExplosionReferences(Scene3D* scene) {
    StandIn_RecordObjectCall("EO_RemoveExplosionReferences");
    for (ExplosionObject* e = s_first; e;) {
        ExplosionObject* next = e->next;
        Inst3D* inst = e->removed ? nullptr : EO_ExplosionInstance(e);
        if (inst && inst->scene == scene) EO_FreeExplosion(e);
        e = next;
    }
}

// ---------------------------------------------------------------- the pass

void EO_MoveExplObjects() {
    StandIn_Record("EO_MoveExplObjects");
    g_EOFrameRandom = Qel_RandomRaw() * 1000 / 32768 * 1000000;
    const int32_t now = EO_Now();
    const int32_t step = g_SystemState ? g_SystemState->gameFrameDelta : 0;
    ++s_walkDepth;
    ExplosionObject* last = s_last;
    for (ExplosionObject* e = s_first; e; e = e == last ? nullptr : e->next)
        if (!e->removed) StepExplosion(e, now, step);
    if (--s_walkDepth == 0) Sweep();
    PlayObjectEffects(now);
    FeedEmitters(now);
    if (g_B3DState) B3D_ParticlesUpdate();
}

// ---------------------------------------------------------------- destruction

int EO_ObjectDestroyedEffect(SectorObject* object, SectorObject* killer, int32_t value) {
    StandIn_RecordObjectCall("EO_ObjectDestroyedEffect " + std::to_string(object ? object->id : 0) + " " +
                             std::to_string(killer ? killer->id : 0) + " " + std::to_string(value));
    if (!object || object->mainType == SA_MT_DEBRIS || !EO_InstancePlaced(object)) return 0;
    const int32_t index =
        EO_GetDestructionEffect(object->subType, object->mainType, object->flags & SA_FLAG_AREA_DAMAGE);
    if (object->mainType == SA_MT_BULLET) {
        const TypeRecord* r = O_GetTypeRecord(object);
        if (r && (r->field[SA_TF_BULLET_FLAGS] & SA_BULLET_KILL_EFFECT)) {
            object->speed = object->desiredSpeed = 0;
            for (int32_t& v : object->instance->velocity) v = 0;
        }
    }
    if (object->mainType == SA_MT_MISSILE && (object->flags & SA_FLAG_AREA_DAMAGE) && killer) return 1;
    const EffectEntry* effect = EO_GetEffect(index);
    if (!index || !effect) return 1;
    SectorObject* carrier = NewCarrier(object, effect);
    if (!carrier) return 1;
    const int32_t second =
        object->mainType == SA_MT_ASTEROID
            ? SA_GetTypeRecord(object->mainType, object->subType)
                  ? SA_GetTypeRecord(object->mainType, object->subType)->field[SA_TF_ASTEROID_DEBRIS_CUT]
                  : 0
            : SA_GetTypeSpeed(object->mainType, object->subType);
    const int32_t slot = static_cast<int32_t>(carrier->id);
    if (!(effect->flags & EDF_PROPAGATE)) {
        EO_AddObjectEffect(EO_KIND_DESTRUCTION, slot, index, carrier, nullptr, value, second, nullptr, 0, nullptr);
        return 1;
    }
    SectorObject* hull = NewCarrier(object, effect);
    if (hull && hull->instance && object->instance) {
        // The hull the explosions run over: the dead instance's tree, moving with the carrier.
        B3D_InstCloneTree(object->instance, hull->instance, nullptr);
        hull->instance->flags &= ~INST_INVISIBLE;
    }
    int32_t firstStart = 0;
    for (int32_t i = 0; i < effect->partCount; ++i)
        if (effect->parts[i].flags & EEDF_PROPAGATE) {
            firstStart = effect->parts[i].start;
            break;
        }
    const int32_t latest = hull ? EO_PropagateEffect(hull, EO_KIND_IMPACT, index, nullptr) : 0;
    EO_AddObjectEffect(EO_KIND_DESTRUCTION, slot, index, carrier, hull, value, second, nullptr,
                       EO_Clamp32(int64_t{firstStart} + latest), nullptr);
    return 1;
}

int32_t EO_PropagateEffect(SectorObject* object, int32_t kind, int32_t effectIndex, const QelVector* position) {
    const EffectEntry* effect = EO_GetEffect(effectIndex);
    if (!effect || !EO_InstancePlaced(object)) return 0;
    const uint32_t id = object->id;
    int32_t latest = 0;
    for (int32_t i = 0; i < effect->partCount; ++i) {
        const EffectPart p = effect->parts[i];
        if (!(p.flags & EEDF_PROPAGATE)) continue;
        // The file's numbers may lie anywhere in 32 bits: counts and delays
        // are worked out in 64 bits, then bounded.
        int64_t drawn = p.propMinBursts;
        if (p.propMaxBursts > p.propMinBursts)
            drawn += (int64_t{p.propMaxBursts} - p.propMinBursts) * Qel_RandomRaw() / 32767;
        const auto bursts = static_cast<int32_t>(std::clamp<int64_t>(drawn, 0, kMaxBursts));
        const int32_t points = std::clamp(p.propPoints, 1, kMaxPoints);
        for (int32_t k = 0; k < bursts; ++k) {
            if (!EO_ObjectAlive(object, id) || !object->instance) return latest;
            const int64_t step = bursts > 1 ? (int64_t{p.propLastDelay} - p.propFirstDelay) * k / (bursts - 1) : 0;
            const int64_t delay = int64_t{p.start} + p.propFirstDelay + step;
            Inst3D* at = nullptr;
            QelVector local{};
            QelVector first = position ? *position : QelVector{};
            if (B3D_BodyRandomSurfacePoint(object->instance, 0, 0, &at, &local) && at) {
                // The vertex in world terms, then relative to the object.
                QelVector world, turned, d;
                QelMatrix m;
                B3D_InstGetAbsPos(at, &world);
                B3D_InstGetAbsMatrix(at, &m);
                Qel_MatMulVec(&m, &local, &turned);
                Fx_VecAdd(&world, &turned, &world);
                Fx_VecSub(&object->instance->pos, &world, &d);
                Qel_MatTransMulVec(&object->instance->matrix, &d, &first);
            }
            first.w = 0;
            QelVector point = first;
            const int32_t spacing = Qel_FixMul(p.propSpacing, object->instance->radius);
            for (int32_t n = 0; n < points; ++n) {
                if (n > 0) {
                    QelVector dir{Qel_Random(65536) - 32768, Qel_Random(65536) - 32768, Qel_Random(65536) - 32768, 0};
                    Qel_NormVectorToOne(&dir);
                    const QelVector& from = (p.flags & EEDF_WAVE) ? first : point;
                    const QelVector away{Qel_FixMul(dir.x, spacing), Qel_FixMul(dir.y, spacing),
                                         Qel_FixMul(dir.z, spacing), 0};
                    Fx_VecAdd(&from, &away, &point);
                }
                const int32_t extra = p.propRandomDelay != 0 ? Qel_LongRandom(p.propRandomDelay) : 0;
                const int32_t d = EO_Clamp32(delay + extra);
                // Keys only need to differ: the sum wraps.
                const auto slot = static_cast<int32_t>(int64_t{id} + g_EOFrameRandom + 1000 * k + n);
                EO_AddObjectEffect(kind, slot, p.propEffect, object, nullptr, 0, 0, &point, d, nullptr);
                latest = std::max(latest, d);
                if (!EO_ObjectAlive(object, id)) return latest;
            }
        }
    }
    return latest;
}
