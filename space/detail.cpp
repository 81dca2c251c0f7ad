#include "space/detail.h"

#include <cmath>
#include <cstdint>

#include "base/fixmath.h"
#include "scene/allocs.h"
#include "scene/caches.h"
#include "scene/instcoll.h"
#include "scene/lists.h"
#include "scene/records.h"
#include "scene/smallops.h"
#include "scene/trees.h"
#include "space/create.h"
#include "space/flight.h"
#include "space/kill.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/typesdb.h"

namespace {

// Detail objects that switch to their own detail as they are placed nest;
// types whose cuts name each other would nest without end.
constexpr int32_t kMaxDetailNesting = 4;
int32_t s_detailNesting = 0;

// A direction this close to straight up or down (16.16) takes the other up axis.
constexpr int32_t kSteepForward = 62259;

bool IsSector(const SectorObject* o) { return o && o->mainType == SA_MT_SECTOR; }

int64_t CameraDistance(SectorObject* object) {
    SectorSpace* sector = O_Sector(object->container);
    if (!sector || !sector->spaceScene || !object->instance) return -1;
    const Camera3D* camera = B3D_First<Camera3D>(&sector->spaceScene->cameras);
    if (!camera) return -1;
    QelVector at{};
    QelMatrix matrix{};
    O_InstWorldPose(&camera->inst, &at, &matrix);
    return SA_VecDistance(&object->instance->pos, &at);
}

// The type a debris field shows: while it holds fewer pieces than its type's
// threshold and the type names a smaller debris type, that one. Each type is
// taken at most once, so types that name each other end the walk.
int32_t DebrisTarget(const SectorObject* field, int32_t code) {
    const int32_t count = field->typeData ? static_cast<const DensityData*>(field->typeData)->density : 0;
    for (int32_t steps = g_TypeDB.counts[SA_MT_DEBRIS]; steps > 0; --steps) {
        const TypeRecord* t = SA_GetTypeRecord(SA_CodeMainType(code), SA_CodeSubType(code));
        if (!t || count >= t->field[SA_TF_DEBRIS_LEVELS]) break;
        const int32_t next = SA_ObjectTypeFromBody(t->field[SA_TF_DEBRIS_NEXT_BODY]);
        if (!next || SA_CodeMainType(next) != SA_MT_DEBRIS || next == code) break;
        code = next;
    }
    return code;
}

// A debris field below its threshold whose type names no smaller one.
bool DebrisEmptied(const SectorObject* field) {
    if (field->mainType != SA_MT_DEBRIS) return false;
    const TypeRecord* t = SA_GetTypeRecord(field->mainType, field->subType);
    if (!t || t->field[SA_TF_DEBRIS_LEVELS] == 0) return false;
    const int32_t count = field->typeData ? static_cast<const DensityData*>(field->typeData)->density : 0;
    return count < t->field[SA_TF_DEBRIS_LEVELS] && !SA_ObjectTypeFromBody(t->field[SA_TF_DEBRIS_NEXT_BODY]);
}

// An instance of the type's body in the old one's place.
Inst3D* ReplacementInstance(const Inst3D* old, int32_t code) {
    const TypeRecord* t = SA_GetTypeRecord(SA_CodeMainType(code), SA_CodeSubType(code));
    Inst3D* inst = B3D_AllocInst();
    if (!inst) return nullptr;
    if (t && t->field[SA_TF_BODY] >= 0) B3D_InstSetBody(inst, t->field[SA_TF_BODY]);
    B3D_CollBuildModel(inst, 0);
    inst->pos = old->pos;
    inst->matrix = old->matrix;
    inst->worldPos = old->worldPos;
    inst->worldMatrix = old->worldMatrix;
    return inst;
}

// One object per path of the object's cut that has keys and whose body is a
// type, placed in the object's frame and moved into its container.
void MakeDetailObjects(SectorObject* object) {
    const int32_t cutId = SA_GetTypeCut(object->mainType, object->subType);
    J3D_Cut* cut = cutId > 0 ? J3D_GetCut(cutId) : nullptr;
    if (!cut || !cut->paths || s_detailNesting >= kMaxDetailNesting) return;
    struct Nesting {
        Nesting() { ++s_detailNesting; }
        ~Nesting() { --s_detailNesting; }
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;
    } nesting;
    const uint32_t id = object->id;
    for (int32_t i = 0; i < cut->pathCount; ++i) {
        const J3D_CutPath& path = cut->paths[i];
        if (path.posCount < 1 || path.rotCount < 1 || !path.posKeys || !path.rotKeys) continue;
        const int32_t code = SA_ObjectTypeFromBody(path.reference);
        if (!code) continue;
        SectorObject* part = O_AllocObject(code);
        if (!part) continue;
        if (object->mainType == SA_MT_DEBRIS) part->flags |= SA_FLAG_DETAIL_CHILD;
        part->parent = object;
        if (part->instance && object->instance) {
            const QelVector local{path.posKeys[0].value[0], path.posKeys[0].value[1], path.posKeys[0].value[2], 0};
            part->instance->pos =
                O_LocalToWorld(&object->instance->pos, &object->instance->matrix, &local, QEL_FIX_ONE);
            QelMatrix turn{};
            J3D_GetPathRot(path.rotKeys, 0, &turn);
            Qel_MatMul(&turn, &object->instance->matrix, &part->instance->matrix);
            Qel_AnglesFromMat(&part->instance->matrix, &part->rot[0], &part->rot[1], &part->rot[2]);
        }
        O_SetContainer(part, object->container);
        // Loading the cut again may have dropped this one.
        if (J3D_CutIsLoaded(cutId) != cut || SA_LookupObject(id) != object) break;
    }
}

// Every object of the container that has this one as its parent ends.
void EndDetailObjects(SectorObject* object) {
    for (uint32_t id : SA_ChildIds(object->container)) {
        SectorObject* o = SA_LookupObject(id);
        if (!o || o->parent != object) continue;
        o->parent = nullptr;
        O_SelfDestructOrKill(o, SA_SELF_DESTRUCT_DEPENDANT);
    }
}

// The position of a sun or planet is cached by its sector.
void ForgetSectorCache(SectorObject* object) {
    if (object->mainType != SA_MT_SUN && object->mainType != SA_MT_PLANET) return;
    if (SectorData* sector = O_SectorData(object->container))
        for (int32_t& word : sector->cached) word = 0;
}

Inst3D** SunGlows(SectorObject* object) {
    return object->mainType == SA_MT_SUN && object->typeData ? static_cast<SunData*>(object->typeData)->glow : nullptr;
}

bool Switches(const SectorObject* object) { return (object->flags2 & SA_FLAG2_DETAIL) != 0; }

// A double vector normalised to 16.16.
QelVector Unit(double x, double y, double z) {
    const double length = std::sqrt(x * x + y * y + z * z);
    if (length <= 0.0) return QelVector{};
    const double s = QEL_FIX_ONE / length;
    return QelVector{static_cast<int32_t>(std::lround(x * s)), static_cast<int32_t>(std::lround(y * s)),
                     static_cast<int32_t>(std::lround(z * s)), 0};
}

QelVector Cross(const QelVector& a, const QelVector& b) {
    const double ax = a.x, ay = a.y, az = a.z, bx = b.x, by = b.y, bz = b.z;
    return Unit(ay * bz - az * by, az * bx - ax * bz, ax * by - ay * bx);
}

}  // namespace

int O_DetailDistanceTest(SectorObject* object) {
    if (!object || !IsSector(object->container)) return 0;
    const int64_t d = CameraDistance(object);
    const int64_t near = SA_GetGlobalParameter(SA_GLOBAL_DETAIL_DISTANCE);
    const int64_t size = object->size;
    if (d > 0 && (d < near || d < 8 * size)) return 1;
    if (!(object->flags2 & SA_FLAG2_DETAILED)) return 0;
    return d >= 1 && (d < 2 * near || d < 16 * size) ? 1 : 0;
}

int32_t O_DetailSwitch(SectorObject* object, int32_t forced, int32_t detailed) {
    if (!object || !object->container || !Switches(object) || (object->flags2 & SA_FLAG2_DETAIL_HELD)) return 0;
    if (!forced) {
        detailed = O_DetailDistanceTest(object);
        if (((object->flags2 & SA_FLAG2_DETAILED) != 0) == (detailed != 0)) return 0;
    }
    if (!object->instance) return 0;
    SA_Pass pass;
    const int32_t code = SA_TypeCode(object->mainType, object->subType);
    const int32_t target = object->mainType == SA_MT_DEBRIS ? DebrisTarget(object, code) : code;
    Inst3D* replacement = target != code ? ReplacementInstance(object->instance, target) : nullptr;
    if (detailed) MakeDetailObjects(object);
    else EndDetailObjects(object);
    if (replacement) {
        object->mainType = static_cast<int16_t>(SA_CodeMainType(target));
        object->subType = static_cast<int16_t>(SA_CodeSubType(target));
        Inst3D* old = object->instance;
        Scene3D* scene = old->scene;
        B3D_InstFree(old);
        object->instance = replacement;
        if (scene) B3D_InstAddToScene(replacement, scene);
        if (object->eventObject) {
            const int32_t arg = 0;
            SA_RunStory(object->eventObject, "DetailSwitch", 1, &arg);
        }
    }
    if (detailed) {
        object->flags2 |= SA_FLAG2_DETAILED;
        object->instance->flags |= SA_DETAILED_INST_FLAGS;
        return 1;
    }
    object->flags2 &= ~SA_FLAG2_DETAILED;
    object->instance->flags &= ~SA_DETAILED_INST_FLAGS;
    if (!forced && DebrisEmptied(object)) O_SelfDestructOrKill(object, SA_SELF_DESTRUCT_EMPTIED);
    return 1;
}

void O_SetPos(SectorObject* object, int32_t x, int32_t y, int32_t z) {
    if (!object || !object->instance) return;
    SA_Pass pass;
    if (Switches(object)) O_DetailSwitch(object, 1, 0);
    Inst3D* inst = object->instance;
    inst->pos = QelVector{x, y, z, 0};
    inst->worldPos = inst->pos;
    if (Switches(object)) O_DetailSwitch(object, 1, O_DetailDistanceTest(object));
    if (Inst3D** glows = SunGlows(object))
        for (int i = 0; i < 2; ++i)
            if (glows[i]) glows[i]->pos = glows[i]->worldPos = QelVector{x, y, z, 0};
    ForgetSectorCache(object);
    if (object->mainType == SA_MT_PLANET && object->typeData)
        if (Inst3D* extra = static_cast<PlanetData*>(object->typeData)->extra) O_PlacePlanetExtra(object, extra);
}

void O_SetRot(SectorObject* object, int32_t alpha, int32_t beta, int32_t gamma) {
    if (!object) return;
    object->rot[0] = alpha;
    object->rot[1] = beta;
    object->rot[2] = gamma;
    if (!object->instance) return;
    SA_Pass pass;
    if (Switches(object)) O_DetailSwitch(object, 1, 0);
    Inst3D* inst = object->instance;
    Qel_MatFromAngles(&inst->matrix, alpha, beta, gamma);
    inst->worldMatrix = inst->matrix;
    if (Inst3D** glows = SunGlows(object))
        for (int i = 0; i < 2; ++i)
            if (glows[i]) glows[i]->matrix = glows[i]->worldMatrix = inst->matrix;
    if (Switches(object)) O_DetailSwitch(object, 1, O_DetailDistanceTest(object));
}

int O_MatrixAlong(int32_t x, int32_t y, int32_t z, QelMatrix* out) {
    if (x == 0 && y == 0 && z == 0) return 0;
    const QelVector forward = Unit(x, y, z);
    const QelVector up0 =
        std::abs(forward.y) > kSteepForward ? QelVector{0, 0, -QEL_FIX_ONE, 0} : QelVector{0, QEL_FIX_ONE, 0, 0};
    const QelVector side = Cross(up0, forward);
    const QelVector up = Cross(forward, side);
    const QelVector rows[3] = {side, up, forward};
    Qel_MatIdentity(out);
    for (int r = 0; r < 3; ++r) {
        out->m[r * 4] = rows[r].x;
        out->m[r * 4 + 1] = rows[r].y;
        out->m[r * 4 + 2] = rows[r].z;
    }
    return 1;
}

void O_SetDirection(SectorObject* object, int32_t x, int32_t y, int32_t z) {
    QelMatrix m{};
    if (!object || !O_MatrixAlong(x, y, z, &m)) return;
    int32_t a = 0, b = 0, c = 0;
    Qel_AnglesFromMat(&m, &a, &b, &c);
    O_SetRot(object, a, b, c);
}
