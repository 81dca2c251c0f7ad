#include "space/objectcalls.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "base/fixmath.h"
#include "base/general.h"
#include "base/log.h"
#include "base/random.h"
#include "cockpit/effects.h"
#include "scene/caches.h"
#include "scene/records.h"
#include "scene/state.h"
#include "scene/texanim.h"
#include "scene/trees.h"
#include "script/arrays.h"
#include "script/context.h"
#include "script/tasks.h"
#include "space/flight.h"
#include "space/hangars.h"
#include "space/helpers.h"
#include "space/objects.h"
#include "space/orders.h"
#include "space/queries.h"
#include "space/typesdb.h"
#include "space/utility.h"
#include "system/clock.h"

namespace {

constexpr int32_t kLandingMs = 60000;
constexpr int32_t kEffectKindObject = 6;

int32_t Now() { return g_SystemState ? g_SystemState->gameClock : 0; }

SectorSpace* SectorArg(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    return o ? O_Sector(o) : nullptr;
}

int32_t SceneId(const Scene3D* scene) { return scene ? static_cast<int32_t>(scene->id) : 0; }

// The sector word of a setter and getter pair.
using SectorWord = int32_t SectorSpace::*;

template <SectorWord Word>
int32_t SetSectorWord(const SA_Call& c) {
    SectorSpace* s = SectorArg(c);
    if (!s) return c.Answer(0);
    s->*Word = c.Int(1);
    return c.Answer(s->*Word);
}

template <SectorWord Word>
int32_t GetSectorWord(const SA_Call& c) {
    const SectorSpace* s = SectorArg(c);
    return c.Answer(s ? s->*Word : 0);
}

template <Scene3D* SectorSpace::*Field>
int32_t SetSectorScene(const SA_Call& c) {
    SectorSpace* s = SectorArg(c);
    Scene3D* scene = B3D_SceneFind(static_cast<uint32_t>(c.Int(1)));
    if (s && scene) s->*Field = scene;
    return c.Answer(0);
}

// The getters do not check the main type: the object is taken as a sector
// only when it is one, so another answers 0.
template <Scene3D* SectorSpace::*Field>
int32_t GetSectorScene(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    const SectorSpace* s = o ? O_Sector(o) : nullptr;
    return c.Answer(s ? SceneId(s->*Field) : 0);
}

}  // namespace

// ---------------------------------------------------------------- shared helpers

int32_t O_VideoChannelFrame(int32_t channel) {
    // The last video number shows the last frame rather than wrapping.
    const auto next = [](int32_t video) {
        return static_cast<int32_t>(std::min<int64_t>(int64_t{video} + 1, INT32_MAX));
    };
    if (channel > 0) return next(channel);
    if (channel == 0) return 0;
    const int64_t list = -static_cast<int64_t>(channel);
    if (list > g_TypeDB.videoListCount || !g_TypeDB.videoLists) return 0;
    const int32_t* entries = g_TypeDB.videoLists[list - 1];
    const int32_t count = entries ? entries[0] : 0;
    const int32_t pick = Qel_LongRandom(count);
    return count > 0 ? next(entries[1 + pick]) : 0;
}

int32_t SACall_AnswerArray(const SA_Call& c, const int32_t* values, int32_t n) {
    ScriptValue v{};
    SV_ArrayAlloc(&v, n);
    for (int32_t i = 0; i < n; ++i) SV_ArrayWriteInt(&v, i, values[i]);
    if (c.task && g_SEContext) SE_TaskReturnValue(c.task, &v, g_SEContext);
    SV_Release(&v);
    return 1;
}

bool SACall_ReadInts(const SA_Call& c, int32_t i, int32_t* out, int32_t n) {
    auto* a = const_cast<ScriptValue*>(c.Arg(i));
    if (a->tag != VARTYPE_ARRAY || SV_ArraySize(a) < n) return false;
    for (int32_t k = 0; k < n; ++k) {
        const ScriptValue* e = SV_ArrayRead(a, k);
        if (!e || e->tag != VARTYPE_INTEGER) return false;
        out[k] = e->i;
    }
    return true;
}

bool SACall_WriteInts(const SA_Call& c, int32_t i, const int32_t* values, int32_t n) {
    auto* a = const_cast<ScriptValue*>(c.Arg(i));
    if (a->tag != VARTYPE_ARRAY || !a->array) return false;
    for (int32_t k = 0; k < n; ++k) SV_ArrayWriteInt(a, k, values[k]);
    return true;
}

bool O_IsAudible(const SectorObject* object) {
    if (!object || !object->container) return false;
    const SectorSpace* sector = O_Sector(object->container);
    if (!sector) return false;
    const SectorObject* player = SA_GetReferenceObject();
    return !(sector->spaceFlags & SA_SPACE_LOCAL_SOUNDS) || !player || player->container == object->container;
}

int32_t O_CheckRing(const SectorObject* object, const SectorObject* ring) {
    if (!object->instance || !ring->instance || object == ring) return 0;
    const QelMatrix m = Obj_Matrix(ring);
    const QelVector centre = Obj_Position(ring);
    auto along = [&](const QelVector& p) {
        return (int64_t{p.x} - centre.x) * m.m[8] + (int64_t{p.y} - centre.y) * m.m[9] +
               (int64_t{p.z} - centre.z) * m.m[10];
    };
    const QelVector now = Obj_Position(object);
    const int64_t before = along(object->prevPos);
    const int64_t after = along(now);
    if ((before < 0) == (after < 0) || before == after) return 0;
    if (SA_VecDistance(&now, &centre) > ring->size) return 0;
    return after >= 0 ? 1 : -1;
}

void O_SetAsPlayerObject(SectorObject* object, bool on) {
    if (!g_SpaceRoot) return;
    if (on) {
        object->flags |= SA_FLAG_PLAYER | SA_FLAG_PLAYER_CONTROL;
        g_SpaceRoot->game.playerObject = object;
        return;
    }
    object->flags &= ~(SA_FLAG_PLAYER | SA_FLAG_PLAYER_CONTROL);
    if (g_SpaceRoot->game.playerObject == object) g_SpaceRoot->game.playerObject = nullptr;
}

// ---------------------------------------------------------------- calls

int32_t SACall_MaxDistance(const SA_Call& c) {
    const SectorObject* a = c.Object(0);
    const SectorObject* b = c.Object(1);
    return c.Answer(a && b ? Obj_AxisDistance(a, b) : 0);
}

int32_t SACall_DoObjectSound(const SA_Call& c) {
    const SectorObject* o = c.Object(0);
    if (o && o->instance && O_IsAudible(o) && g_EOSoundLink.play3D) g_EOSoundLink.play3D(0, 0, c.Int(1), o->instance);
    return c.Answer(0);
}

int32_t SACall_GetInst3D(const SA_Call& c) {
    const SectorObject* o = c.Object(0);
    return c.Answer(o && o->instance ? static_cast<int32_t>(o->instance->id) : 0);
}

int32_t SACall_CheckRing(const SA_Call& c) {
    const SectorObject* o = c.Object(0);
    const SectorObject* ring = c.Object(1);
    return c.Answer(o && ring ? static_cast<int16_t>(O_CheckRing(o, ring)) : 0);
}

int32_t SACall_RecalculateRot(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    if (o && o->instance) {
        Qel_AnglesFromMat(&o->instance->matrix, &o->rot[0], &o->rot[1], &o->rot[2]);
        Qel_MatFromAngles(&o->instance->matrix, o->rot[0], o->rot[1], o->rot[2]);
    }
    return c.Answer(0);
}

int32_t SACall_SetPlayerLand(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    ShipData* ship = o ? O_ShipData(o) : nullptr;
    if (!ship) return c.Answer(0);
    SectorObject* carrier = c.Int(1) ? c.Object(1) : nullptr;
    if (carrier) {
        ship->CourseType = VER_LAND;
        ship->OrderTarget = carrier;
        ship->NextThink = S_ClockAdvance(Now(), kLandingMs);
        ship->PortIndex = c.Int(2);
    } else {
        ship->CourseType = VER_STOP;
        ship->OrderTarget = nullptr;
        ship->NextThink = Now();
        ship->PortIndex = -1;
    }
    return c.Answer(0);
}

int32_t SACall_IsPlayerLand(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    const ShipData* ship = o ? O_ShipData(o) : nullptr;
    return c.Answer(ship && ship->CourseType == VER_LAND ? 1 : 0);
}

int32_t SACall_IsInApproach(const SA_Call& c) {
    SectorObject* ship = c.Object(0);
    SectorObject* target = c.Object(1);
    if (!ship || !target) return c.Answer(0);
    const int32_t distance =
        ship->flags & SA_FLAG_PLAYER_CONTROL ? O_GetDistance(ship, target) : Obj_AxisDistance(ship, target);
    return c.Answer(O_GetApproachState(ship, target, distance));
}

int32_t SACall_SetVideoChannel(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    SpecialData* screen = o ? O_SpecialData(o) : nullptr;
    if (!screen) return c.Answer(0);
    screen->videoChannel = c.Int(1);
    const int32_t frame = O_VideoChannelFrame(screen->videoChannel);
    if (o->instance) B3D_InstTreeSetTexAnimFrame(o->instance, frame);
    screen->shownVideo = 0;
    o->flags2 &= ~SA_FLAG2_SHOWS_VIDEO;
    return c.Answer(0);
}

int32_t SACall_SetSpecialParameter1(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    if (!o) return c.Answer(0);
    o->trailingWord = c.Int(1);
    return c.Answer(o->trailingWord);
}

int32_t SACall_SetWareID(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    if (!o) return c.Answer(0);
    o->wordAfterEvent = c.Int(1);
    return c.Answer(o->wordAfterEvent);
}

int32_t SACall_SetAsPlayerObject(const SA_Call& c) {
    if (SectorObject* o = c.Object(0)) O_SetAsPlayerObject(o, !c.Given(1) || c.IsTrue(1));
    return c.Answer(0);
}

int32_t SACall_SetPlayerControl(const SA_Call& c) {
    if (SectorObject* o = c.Object(0)) {
        if (c.Int(1)) o->flags |= SA_FLAG_PLAYER_CONTROL;
        else o->flags &= ~SA_FLAG_PLAYER_CONTROL;
    }
    return c.Answer(0);
}

int32_t SACall_LandAllObjectsInHangar(const SA_Call& c) {
    SectorObject* carrier = c.Object(0);
    QelList* children = carrier ? O_GetChildList(carrier) : nullptr;
    if (!children) return c.Answer(0);
    // A launch moves the ship out of the list, and its answer may run story
    // code: the queue is taken by id first and each ship looked up again.
    std::vector<uint32_t> queued;
    for (SectorObject* o = SA_ListFirst(children); o; o = SA_ListNext(o))
        if (o->flags & SA_FLAG_QUEUED) queued.push_back(o->id);
    const uint32_t carrierId = carrier->id;
    for (uint32_t id : queued) {
        SectorObject* ship = SA_LookupObject(id);
        if (SA_LookupObject(carrierId) != carrier) break;
        if (ship && ship->container == carrier && (ship->flags & SA_FLAG_QUEUED)) O_StartShipFromHangar(ship, carrier);
    }
    return c.Answer(0);
}

int32_t SACall_AnswerZero(const SA_Call& c) { return c.Answer(0); }

int32_t SACall_ShowRelativeExplosion(const SA_Call& c) {
    const SectorObject* o = c.Object(0);
    if (!o || !o->instance || o->instance->bodyId < 0) return c.Answer(0);
    const QelVector offset{c.Int(2), c.Int(3), c.Int(4), 0};
    const QelVector at = O_LocalToWorld(&o->instance->pos, &o->instance->matrix, &offset, o->instance->scale.x);
    EO_SpawnEffectInstance(o->instance->scene, c.Int(1), &at, c.Int(5));
    return c.Answer(0);
}

int32_t SACall_ShowObjectEffect(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    if (o && o->instance && o->instance->bodyId >= 0)
        EO_AttachEffect(0, kEffectKindObject, c.Int(1), o, nullptr, nullptr);
    return c.Answer(0);
}

int32_t SACall_IsSafePos(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    return c.Answer(o ? O_IsSafePosition(o, c.Int(1), c.Int(2), c.Int(3), c.Int(4)) : 0);
}

int32_t SACall_FastTrace(const SA_Call& c) {
    int32_t a[3];
    int32_t b[3];
    if (!SACall_ReadInts(c, 0, a, 3) || !SACall_ReadInts(c, 1, b, 3)) return c.Answer(0);
    SectorObject* sector = c.Object(2);
    if (!sector || !O_Sector(sector)) return c.Answer(0);
    const QelVector from{a[0], a[1], a[2], 0};
    const QelVector to{b[0], b[1], b[2], 0};
    return c.Answer(static_cast<int32_t>(O_FastTrace(sector, &from, &to, c.Int(3))));
}

int32_t SACall_SetSpaceScene(const SA_Call& c) { return SetSectorScene<&SectorSpace::spaceScene>(c); }
int32_t SACall_SetSpaceGalaxyScene(const SA_Call& c) { return SetSectorScene<&SectorSpace::galaxyScene>(c); }
int32_t SACall_SetSpaceDustScene(const SA_Call& c) { return SetSectorScene<&SectorSpace::dustScene>(c); }
int32_t SACall_GetSpaceScene(const SA_Call& c) { return GetSectorScene<&SectorSpace::spaceScene>(c); }
int32_t SACall_GetSpaceGalaxyScene(const SA_Call& c) { return GetSectorScene<&SectorSpace::galaxyScene>(c); }
int32_t SACall_GetSpaceDustScene(const SA_Call& c) { return GetSectorScene<&SectorSpace::dustScene>(c); }

int32_t SACall_SetSpaceFlags(const SA_Call& c) {
    SectorSpace* s = SectorArg(c);
    if (!s) return c.Answer(0);
    s->spaceFlags = static_cast<uint32_t>(c.Int(1));
    return c.Answer(c.Int(1));
}
int32_t SACall_GetSpaceFlags(const SA_Call& c) {
    const SectorSpace* s = SectorArg(c);
    return c.Answer(s ? static_cast<int32_t>(s->spaceFlags) : 0);
}
int32_t SACall_SetSectorSize(const SA_Call& c) { return SetSectorWord<&SectorSpace::sectorSize>(c); }
int32_t SACall_GetSectorSize(const SA_Call& c) { return GetSectorWord<&SectorSpace::sectorSize>(c); }
int32_t SACall_SetSectorBackgroundType(const SA_Call& c) { return SetSectorWord<&SectorSpace::backgroundType>(c); }
int32_t SACall_GetSectorBackgroundType(const SA_Call& c) { return GetSectorWord<&SectorSpace::backgroundType>(c); }
int32_t SACall_SetSectorBackgroundStarsIndex(const SA_Call& c) { return SetSectorWord<&SectorSpace::starsIndex>(c); }
int32_t SACall_GetSectorBackgroundStarsIndex(const SA_Call& c) { return GetSectorWord<&SectorSpace::starsIndex>(c); }
int32_t SACall_SetSectorBackgroundNebulasIndex(const SA_Call& c) {
    return SetSectorWord<&SectorSpace::nebulasIndex>(c);
}
int32_t SACall_GetSectorBackgroundNebulasIndex(const SA_Call& c) {
    return GetSectorWord<&SectorSpace::nebulasIndex>(c);
}

int32_t SACall_GetTimer(const SA_Call& c) { return c.Answer(c.Int(0) == 0 ? Now() : 0); }

int32_t SACall_AllocTextInst(const SA_Call& c) {
    const char* text = SV_GetString(c.Arg(1));
    Inst3D* inst = text ? B3D_MakeTextNullScene(text, 0) : nullptr;
    return c.Answer(inst ? static_cast<int32_t>(inst->id) : 0);
}

int32_t SACall_FreeAllBodies(const SA_Call& c) {
    B3D_DisableAllObjects3D();
    J3D_FreeCutEntry();
    B3D_EnableAllObjects3D();
    SA_RefreshAfterDeviceReset();
    S_ResetTimeDeltas();
    return c.Answer(0);
}

int32_t SACall_CleanUpObjects(const SA_Call& c) {
    SA_CleanUpObjects();
    return c.Answer(0);
}

int32_t SACall_ObjectTypeFromBody(const SA_Call& c) { return c.Answer(SA_ObjectTypeFromBody(c.Int(0))); }
int32_t SACall_ObjectTypeFromCut(const SA_Call& c) { return c.Answer(SA_ObjectTypeFromCut(c.Int(0))); }
int32_t SACall_IsSpecialBody(const SA_Call& c) { return c.Answer(SA_IsSpecialBody(c.Int(0), c.Int(1))); }
int32_t SACall_IsDummyBody(const SA_Call& c) {
    int32_t kind = 0;
    return c.Answer(SA_FindDummy(c.Int(0), c.Int(1), &kind) ? 1 : 0);
}
