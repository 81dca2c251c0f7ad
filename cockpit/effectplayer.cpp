#include "cockpit/effectplayer.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "base/angles.h"
#include "base/fixmath.h"
#include "base/log.h"
#include "base/random.h"
#include "base/table.h"
#include "cockpit/effects.h"
#include "cockpit/explosions.h"
#include "render/lights.h"
#include "scene/allocs.h"
#include "scene/caches.h"
#include "scene/geometry.h"
#include "scene/ids.h"
#include "scene/jobs.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/create.h"
#include "space/kill.h"

namespace {

constexpr int32_t kHullSounds[5] = {903, 904, 1200, 1201, 1202};
constexpr int32_t kShieldHolds = 100;
constexpr int32_t kPushReach = 600000;
constexpr int32_t kCarrierFade = 1000;  // ms of a carrier's fade-out
constexpr int32_t kCutUnits = 1000;     // key units per 1.0 of a cut part's size
// Flags: an instance that is done; a cut child that emits particles; the
// second word of a part that ignores the depth test; an effect light.
constexpr uint32_t kWreckFlags = 0x8100000;
constexpr uint32_t kParticleSource2 = 0x1;
constexpr uint32_t kNoZTest2 = 0x8 | 0x10;
constexpr uint32_t kEffectLight2 = 0x40000000;
constexpr uint32_t kBodyEffectFlag = 0x20;

bool Gone(const ObjectEffect* e) { return e->removed || !e->object || !e->object->instance; }

void MarkBody(int32_t bodyId) {
    if (Body3D* body = bodyId > 0 ? B3D_GetBody(bodyId) : nullptr) body->flags |= kBodyEffectFlag;
}

const B3DLightType* LightType(int32_t number) {
    return g_B3DState && number >= 0 && number < B3D_LIGHT_TYPES ? &g_B3DState->lightTypes[number] : nullptr;
}

void RefreshLight(Inst3D* inst) {
    if (inst->rendererLight) S_3DUpdateLight(inst);
}

void SetColour(Inst3D* inst, int64_t r, int64_t g, int64_t b) {
    inst->lightColor[0] = static_cast<uint16_t>(std::clamp<int64_t>(r, 0, 255));
    inst->lightColor[1] = static_cast<uint16_t>(std::clamp<int64_t>(g, 0, 255));
    inst->lightColor[2] = static_cast<uint16_t>(std::clamp<int64_t>(b, 0, 255));
    RefreshLight(inst);
}

// The light's colour: its type's colour times keep (16.16).
void FadeLight(Inst3D* inst, const B3DLightType* type, int64_t keep) {
    SetColour(inst, (type->red * keep + 0x8000) >> 16, (type->green * keep + 0x8000) >> 16,
              (type->blue * keep + 0x8000) >> 16);
}

// The orientation an instance is made with.
void InitialOrientation(const ObjectEffect* e, const EffectPart& p, Inst3D* inst, const Inst3D* objInst) {
    if ((p.flags & EEDF_RANDOMROT) && (inst->flags & I3DF_2D)) {
        Qel_MatFromAngles(&inst->matrix, 0, 0, Qel_Random(65536));
    } else if (p.flags & EEDF_BULLETROT) {
        inst->matrix = e->orientation2;
    } else {
        Qel_MatMul(&e->orientation, &objInst->matrix, &inst->matrix);
    }
}

// Any instance a lens-flare part makes carries the flare, also one without a
// body, which is what most flares are.
void LensFlare(const EffectPart& p, Inst3D* inst) {
    if (!(p.flags & EEDF_LENSFLARE)) return;
    inst->flags |= I3DF_HASLENSFLARE;
    inst->markValue = p.value1;
    inst->flareSizeWeight = p.value2;
    SetColour(inst, 255, 255, 255);
}

// The factor a cut part's instance scales its children's key positions by.
int32_t CutKeyScale(const EffectPart& p) {
    return (p.flags & EEDF_CUTACTUALSIZE) ? QEL_FIX_ONE : Qel_FixDiv(QEL_FIX_ONE, kCutUnits);
}

Inst3D* StartCut(ObjectEffect* e, const EffectPart& p, int32_t m, const Inst3D* objInst) {
    Inst3D* inst = B3D_AllocInst();
    if (!inst) return nullptr;
    inst->flags |= p.instanceFlags;
    inst->pos = objInst->pos;
    inst->size = m;
    InitialOrientation(e, p, inst, objInst);
    const int32_t cutId = (p.flags & EEDF_DEBRISMAP) && e->callerWord2 ? e->callerWord2 : p.body;
    J3D_Cut* cut = cutId > 0 ? J3D_GetCut(cutId) : nullptr;
    inst->cutId = cut ? static_cast<int32_t>(cut->id) : 0;
    if (cut) {
        // The cut's keys stay as loaded: the instance's scale makes key units
        // into sizes as the part asks, so a cut shared with takes, objects
        // and other parts plays the same for each of them.
        const int32_t divisor = (p.flags & EEDF_CUTACTUALSIZE) ? QEL_FIX_ONE : kCutUnits;
        for (int32_t i = 0; i < cut->pathCount; ++i) {
            const J3D_CutPath& path = cut->paths[i];
            if (path.reference < 0 || (path.flags & PATH_CUT)) continue;
            Inst3D* child = B3D_AllocInst();
            if (!child) continue;
            B3D_InstSetBody(child, path.reference);
            MarkBody(path.reference);
            B3D_InstAddToInst(child, inst);
            child->cutId = static_cast<int32_t>(cut->id);
            child->pathNr = i;
            SA_MarkObjectFlags(child);
            if ((p.flags & EEDF_PARTICLEGENERATOR) && SA_IsParticleSourceBody(path.reference)) {
                child->flags2 |= kParticleSource2;
                child->flags |= INST_INVISIBLE;
                child->matrix = e->orientation2;
                child->pos = e->position;
                const int32_t slot = 301 + Qel_Random(10);
                EO_AddParticleEmitter(slot, p.value1, e->object, &e->position);
                e->startTime = EO_TimeAdd(EO_Now(), 0);
                e->state = slot;
            }
            child->flags |= INST_SCALED_CHILD;
            child->size = EO_Clamp32(static_cast<int64_t>(child->size) * m / divisor);
            J3D_JobStartInst(child, 0, i, cut, 0, 0);
        }
    }
    const int32_t f = CutKeyScale(p);
    inst->scale = {f, f, f, inst->scale.w};
    B3D_InstAddToScene(inst, objInst->scene);
    return inst;
}

// Null for no light (a type number outside the table) or a failed allocation.
Inst3D* StartLight(ObjectEffect* e, const EffectPart& p, const Inst3D* objInst) {
    const B3DLightType* t = LightType(p.body);
    if (!t) return nullptr;
    Inst3D* inst = B3D_LightAlloc();
    if (!inst) return nullptr;
    inst->flags |= p.instanceFlags;
    InitialOrientation(e, p, inst, objInst);
    if (t->kind == 0) return inst;
    inst->lightAtten[0] = QEL_FIX_ONE;
    inst->lightAtten[1] = 0;
    inst->lightAtten[2] = 8 * QEL_FIX_ONE;
    inst->lightRange = t->words[1] > 0 ? t->words[1] : 10000;
    inst->lightColor[0] = t->red;
    inst->lightColor[1] = t->green;
    inst->lightColor[2] = t->blue;
    if (t->kind == 1) inst->flags |= INST_DIRECTIONAL_LIGHT;
    else if (t->kind == 2) inst->flags |= INST_POINT_LIGHT;
    else if (t->kind == 3) inst->flags |= INST_SPOT_LIGHT;
    if (t->value > 0) {
        inst->flags |= INST_LIGHT_VALUE;
        inst->lightValue = t->value;
    }
    if (t->switchWord > 0) inst->flags |= INST_LIGHT_SECOND;
    RefreshLight(inst);
    B3D_InstAddToScene(inst, objInst->scene);
    inst->flags2 |= kEffectLight2;
    return inst;
}

Inst3D* StartBody(ObjectEffect* e, const EffectPart& p, int32_t m, const Inst3D* objInst) {
    Inst3D* inst = B3D_AllocInst();
    if (!inst) return nullptr;
    inst->flags |= p.instanceFlags;
    if (p.body > 0) {
        B3D_InstSetBody(inst, p.body);
        MarkBody(p.body);
        inst->size = (p.flags & EEDF_RELATIVESIZE) ? objInst->size : m;
        InitialOrientation(e, p, inst, objInst);
    }
    B3D_InstAddToScene(inst, objInst->scene);
    return inst;
}

// Pushes a ship along a vector: drift, and a turn toward it.
void PushShip(SectorObject* ship, const QelVector& v) {
    const int32_t along[3] = {v.x, v.y, v.z};
    for (int k = 0; k < 3; ++k) ship->drift[k] = EO_Clamp32(int64_t{ship->drift[k]} + along[k]);
    for (int k = 0; k < 3; ++k) ship->rot2[k] = ship->rot[k];
    int32_t heading = 0, pitch = 0;
    Qel_MatCombine(&v, &heading, &pitch);
    ship->rotSpeed[0] = ship->rot[0] + heading / 30000;
    ship->rotSpeed[1] = ship->rot[1] + pitch / 30000;
    ship->rotSpeed[2] = ship->rot[2] + Qel_Random(13);
    if (!ship->rotSpeed[0] && !ship->rotSpeed[1] && !ship->rotSpeed[2])
        for (int32_t& r : ship->rot2) r = 0;
}

bool Pushable(const SectorObject* ship) {
    return ship->mainType == SA_MT_SHIP && !(ship->flags2 & SA_FLAG2_STATIONARY) && !SA_IsShipClassC(ship);
}

void Push(SectorObject* object, SectorObject* push) {
    if (!Pushable(object) || !push || !push->speed || !push->instance || !object->instance) return;
    const int32_t s = push->speed / 8;
    QelVector along{0, 0, s, 0}, v;
    Qel_MatMulVec(&push->instance->matrix, &along, &v);
    PushShip(object, v);
    QelList* children = object->container ? O_GetChildList(object->container) : nullptr;
    if (!children) return;
    const QelVector& centre = object->instance->pos;
    for (SectorObject* o = SA_ListFirst(children); o; o = SA_ListNext(o)) {
        if (o == object || !o->instance || (o->flags & SA_FLAG_PLAYER) || !Pushable(o)) continue;
        const QelVector& at = o->instance->pos;
        if (std::llabs(int64_t{at.x} - centre.x) >= kPushReach || std::llabs(int64_t{at.y} - centre.y) >= kPushReach ||
            std::llabs(int64_t{at.z} - centre.z) >= kPushReach)
            continue;
        QelVector dir;
        Fx_VecSub(&push->instance->pos, &at, &dir);
        dir.w = 0;
        const int64_t d = SA_VecDistance(&push->instance->pos, &at);
        if (!d) {
            Qel_NormVectorToOne(&dir);  // logs the null vector
            continue;
        }
        Qel_NormVectorToOne(&dir);
        const int32_t strength = d >= kPushReach ? s : EO_Clamp32(static_cast<int64_t>(s) * d / kPushReach);
        const QelVector pv{Qel_FixMul(dir.x, strength), Qel_FixMul(dir.y, strength), Qel_FixMul(dir.z, strength), 0};
        PushShip(o, pv);
    }
}

// A finished wreck part: the object and the push object become wrecks
// through the story. False when the story took the entry away.
bool Wreck(ObjectEffect* e) {
    SectorObject* object = e->object;
    if (!e->callerWord1 || !object) return true;
    for (SectorObject* o : {object, e->pushObject}) {
        if (!o) continue;
        if (o->instance) B3D_InstSetFlagsRecursive(o->instance, 0, kWreckFlags);
        o->flags |= SA_FLAG_NO_AREA_DAMAGE;
    }
    O_CreateWreck(e->callerWord1);
    return !e->removed;
}

// Size, colour and alpha of a live part. False when a call-out took the
// entry away.
bool UpdatePart(ObjectEffect* e, EffectPartSlot& s, const EffectPart& p, Inst3D* inst, int32_t age, int32_t now) {
    SectorObject* object = e->object;
    const Inst3D* objInst = object->instance;
    // Placement.
    QelVector off{p.offset[0], p.offset[1], p.offset[2], 0};
    if (p.flags & EEDF_RELATIVESIZE)
        off = {Qel_FixMul(off.x, objInst->size), Qel_FixMul(off.y, objInst->size), Qel_FixMul(off.z, objInst->size), 0};
    // Places wrap at the ends of 32 bits, as everywhere in space.
    QelVector local, turned;
    Fx_VecAdd(&e->position, &off, &local);
    local.w = 0;
    Qel_MatMulVec(&objInst->matrix, &local, &turned);
    Fx_VecAdd(&objInst->pos, &turned, &inst->pos);
    if (p.flags & EEDF_BULLETROT) inst->matrix = e->orientation2;
    else if (!(inst->flags & I3DF_2D)) Qel_MatMul(&e->orientation, &objInst->matrix, &inst->matrix);

    // Size and colour.
    const int32_t partAge = Qel_AngleDiff(now, EO_TimeAdd(e->startTime, p.start));
    const int64_t m = static_cast<int64_t>(p.minSize) + s.randomOffset;
    const int64_t M = static_cast<int64_t>(p.maxSize) + s.randomOffset;
    const bool light = p.flags & EEDF_LIGHT;
    const B3DLightType* type = light ? LightType(p.body) : nullptr;
    const bool coloured = type && type->kind != 0;
    int64_t size = m;
    if (p.flags & EEDF_SPEEDDEPENDENT) {
        const int64_t k = Qel_FixMul(SA_GetTunedTypeSpeed(object), p.speedFactor);
        const int64_t v = std::llabs(int64_t{object->speed});
        size = k <= 0 ? M : M - (M - m) * k / (k + v);
        if (light) {
            size = M;
            if (k > 0 && coloured)
                SetColour(inst, type->red - int64_t{type->red} * k / (k + v),
                          type->green - int64_t{type->green} * k / (k + v),
                          type->blue - int64_t{type->blue} * k / (k + v));
        }
    } else if (p.flags & EEDF_GROWANDSHRINK) {
        const int64_t f = p.length ? std::clamp<int64_t>(2 * int64_t{partAge} * QEL_FIX_ONE / p.length - QEL_FIX_ONE,
                                                         -QEL_FIX_ONE, QEL_FIX_ONE)
                                   : 0;
        const int64_t f2 = (f * f + 0x8000) >> 16;
        size = std::max(M - (((M - m) * f2 + 0x8000) >> 16), m);
        if (light) {
            size = 0;
            if (coloured) FadeLight(inst, type, QEL_FIX_ONE - f2);
        }
    } else if (p.flags & EEDF_GROW) {
        const int64_t f = p.length ? std::clamp<int64_t>(int64_t{partAge} * QEL_FIX_ONE / p.length, 0, QEL_FIX_ONE) : 0;
        size = m + (((M - m) * f + 0x8000) >> 16);
        if (light) {
            size = 0;
            if (coloured) FadeLight(inst, type, QEL_FIX_ONE - f);
        }
    }
    if (p.flags & EEDF_NOZTEST) inst->flags2 |= kNoZTest2;
    if (p.jitter < 0) {
        Qel_LongRandom(p.jitter);  // logs the bad value
    } else if (p.jitter > 0 && p.jitter < QEL_FIX_ONE) {
        size = (size * (QEL_FIX_ONE - int64_t{Qel_RandomRaw()} * p.jitter / 32768) + 0x8000) >> 16;
    }
    if (p.flags & EEDF_RELATIVESIZE) size = (int64_t{EO_Clamp32(size)} * objInst->size + 0x8000) >> 16;
    B3D_InstSetSize(inst, EO_Clamp32(size));
    if (p.flags & EEDF_CUT) {
        const int32_t f = CutKeyScale(p);
        inst->scale = {f, f, f, inst->scale.w};
    }

    // Fade.
    if ((p.flags & EEDF_FADEOUT) && !(p.flags & EEDF_PROPAGATE)) {
        const int64_t f = p.length ? std::max<int64_t>(int64_t{partAge} * QEL_FIX_ONE / p.length, 0) : 0;
        const int32_t alpha = EO_Clamp32(std::max<int64_t>(254 - ((255 * f + 0x8000) >> 16), 1));
        B3D_InstSetAlphaOverrideRecursive(inst, alpha);
        if (inst->flags & I3DF_HASLENSFLARE) SetColour(inst, 255, 255, 255);
    }

    // The end of cut, wreck and debris parts.
    if (p.flags & (EEDF_CUT | EEDF_DEBRIS | EEDF_DEBRISMAP)) {
        bool running = false;
        for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c;) {
            Inst3D* next = B3D_Next(c);
            if (EO_JobRuns(c)) running = true;
            else if (!(p.flags & EEDF_CUTKEEPBODY)) B3D_InstFree(c);
            c = next;
        }
        if (!running) {
            if ((p.flags & (EEDF_DEBRIS | EEDF_DEBRISMAP)) && e->callerWord1) {
                O_CreateDebris(e->callerWord1);
                if (e->removed) return false;
            }
            if ((p.flags & EEDF_WRECK) && !Wreck(e)) return false;
            EO_SlotFreeInstance(&s);
            s.state = (p.flags & EEDF_PARTICLEGENERATOR) ? EO_SLOT_STARTED : EO_SLOT_REMOVED;
            return true;
        }
    }

    // Time-out.
    if ((p.flags & EEDF_TIMEOUT) && static_cast<int64_t>(age) >= static_cast<int64_t>(p.start) + p.length &&
        EO_SlotInstance(&s)) {
        if (p.flags & EEDF_PARTICLEGENERATOR) {
            for (ParticleEmitter* m = EO_FirstEmitter(); m;) {
                ParticleEmitter* next = m->next;
                if (m->owner == object && m->slot > 300) EO_FreeEmitter(m);
                m = next;
            }
            e->state = 0;
        }
        if ((p.flags & EEDF_WRECK) && !Wreck(e)) return false;
        EO_SlotFreeInstance(&s);
        s.state = EO_SLOT_REMOVED;
    }
    return true;
}

// The fade of a carrier's body, and its stored alpha.
void FadeCarrier(const ObjectEffect* e, int32_t age) {
    Inst3D* inst = e->object->instance;
    int32_t start = 0;
    bool fades = false;
    for (int32_t i = 0; i < e->slotCount; ++i)
        if (e->effect->parts[i].flags & EEDF_FADEOUTBODY) {
            start = e->effect->parts[i].start;
            fades = true;
        }
    if (fades) {
        const int64_t d = int64_t{age} - start;
        const int32_t alpha = d <= 0              ? 255
                              : d >= kCarrierFade ? 1
                                                  : static_cast<int32_t>(128 - 254 * (2 * d - kCarrierFade) / 2000);
        B3D_InstSetAlphaOverrideRecursive(inst, alpha);
    }
    if (inst->alphaOverride == 255) B3D_InstSetAlphaOverrideRecursive(inst, 0);
}

}  // namespace

int32_t EO_Clamp32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

int32_t EO_MulDiv(int32_t a, int32_t b, int32_t c) { return c ? EO_Clamp32(static_cast<int64_t>(a) * b / c) : 0; }

int EO_RunObjectEffect(ObjectEffect* e) {
    if (!e || Gone(e)) return 0;
    const int32_t now = EO_Now();
    const int32_t age = Qel_AngleDiff(now, e->startTime);
    int result = 0;
    for (int32_t i = 0; i < e->slotCount; ++i) {
        if (Gone(e)) return result;
        // A copy: a story called from here may load the effects file again.
        const EffectPart p = e->effect->parts[i];
        EffectPartSlot& s = e->slots[i];
        SectorObject* object = e->object;
        Inst3D* objInst = object->instance;
        if (s.state == EO_SLOT_WAITING && !EO_SlotInstance(&s) && p.start <= age) {
            if (p.flags & EEDF_DISTANT) {
                s.state = EO_SLOT_REMOVED;
                continue;
            }
            if (p.flags & EEDF_HULLDAMAGE) {
                if (O_GetShield(object) >= kShieldHolds) continue;
                if (g_EOSoundLink.play3D) g_EOSoundLink.play3D(0, 0, kHullSounds[Qel_LongRandom(5)], objInst);
            }
            const int64_t spread = int64_t{p.maxSize} - p.minSize;
            s.randomOffset = (p.flags & EEDF_RANDOMSIZE) && spread > 0 ? Qel_Random(EO_Clamp32(spread)) : 0;
            const int32_t m = EO_Clamp32(int64_t{p.minSize} + s.randomOffset);
            Inst3D* inst = nullptr;
            if (p.flags & EEDF_CUT) {
                inst = StartCut(e, p, m, objInst);
            } else if (p.flags & EEDF_LIGHT) {
                inst = StartLight(e, p, objInst);
            } else if (p.flags & EEDF_BREAKUP) {
                s.state = EO_SLOT_REMOVED;
                if (SectorObject* push = e->pushObject) {
                    e->pushObject = nullptr;
                    result = EO_BreakUpObject(push);
                }
                continue;
            } else {
                inst = StartBody(e, p, m, objInst);
            }
            if (!inst) {
                s.state = EO_SLOT_REMOVED;
                continue;
            }
            LensFlare(p, inst);
            s.instance = inst;
            s.instanceId = inst->id;
            s.state = EO_SLOT_STARTED;
            if (p.flags & EEDF_PUSH) Push(object, e->pushObject);
        }
        Inst3D* inst = EO_SlotInstance(&s);
        if (inst && !UpdatePart(e, s, p, inst, age, now)) return result;
    }
    if (!Gone(e) && e->object->mainType == EO_CARRIER_MAIN_TYPE) FadeCarrier(e, age);
    return result;
}

int EO_BreakUpObject(SectorObject* x) {
    if (!x || !x->instance || !x->instance->scene) return 0;
    const int32_t second = EO_GetSecondEffect(x->subType, x->mainType, x->flags);
    if (!second) return 0;
    const EffectEntry* d = EO_GetEffect(EO_GetDestructionEffect(x->subType, x->mainType, x->flags));
    const uint32_t effectFlags = d ? d->flags : 0;
    const int32_t scale = d ? d->scale : 0;
    const int32_t value = d ? d->value : 0;
    const uint32_t id = x->id;
    // The pieces, taken before any call-out can change the tree.
    std::vector<uint32_t> pieces;
    for (Inst3D* c = B3D_First<Inst3D>(&x->instance->children); c; c = B3D_Next(c))
        if (c->bodyId > 0 && !(c->flags2 & kParticleSource2) && B3D_BodyGetFileEntry(c->bodyId) != 0)
            pieces.push_back(c->id);
    for (uint32_t childId : pieces) {
        if (!EO_ObjectAlive(x, id) || !x->instance) break;
        Inst3D* child = B3D_InstFind(childId);
        if (!child || child->parent != x->instance) continue;
        const int32_t body = child->bodyId;
        const int32_t breakValue = B3D_BodyGetFileEntry(body);
        SectorObject* piece = O_AllocObject(SA_TypeCode(EO_CARRIER_MAIN_TYPE, body & 0xFFFF));
        if (!piece) continue;
        if (!piece->instance) piece->instance = B3D_AllocInst();
        if (piece->instance) B3D_InstSetBody(piece->instance, body);
        if (Inst3D* pi = piece->instance) {
            B3D_InstGetAbsPos(child, &pi->pos);
            B3D_InstGetAbsMatrix(child, &pi->matrix);
            pi->worldPos = pi->pos;
            pi->worldMatrix = pi->matrix;
            Qel_AnglesFromMatrix(&pi->matrix, &piece->rot[0], &piece->rot[1], &piece->rot[2]);
            if (!(effectFlags & EDF_NODRIFT)) {
                const QelVector& xp = x->instance->pos;
                QelVector d;
                Fx_VecSub(&xp, &pi->pos, &d);
                const int32_t away[3] = {d.x, d.y, d.z};
                for (int k = 0; k < 3; ++k)
                    piece->drift[k] = EO_Clamp32(int64_t{Qel_FixMul(away[k], scale)} + x->instance->velocity[k]);
            }
        }
        piece->speed = piece->desiredSpeed = 0;
        if (!(effectFlags & EDF_NOROTATE)) {
            piece->rotSpeed[0] = Qel_Random(8192) - 4096;
            piece->rotSpeed[1] = Qel_Random(8192) - 4096;
            piece->rotSpeed[2] = Qel_Random(16384) - 8192;
        }
        if (x->container) O_SetContainer(piece, x->container);
        const int32_t latest = EO_PropagateEffect(piece, EO_KIND_IMPACT, second, nullptr);
        const int32_t delay = EO_Clamp32(int64_t{latest} + (value > 0 ? Qel_Random(value) : 0));
        EO_AddObjectEffect(EO_KIND_PIECE, static_cast<int32_t>(piece->id), breakValue > 0 ? breakValue : second, piece,
                           nullptr, 0, 0, nullptr, delay, nullptr);
    }
    if (EO_ObjectAlive(x, id)) {
        x->flags |= SA_FLAG_KILLED;
        O_UnlinkObject(x, 0);
    }
    return 1;
}
