#include "space/cutcalls.h"

#include "base/fixmath.h"
#include "base/random.h"
#include "scene/caches.h"
#include "scene/records.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "script/arrays.h"
#include "script/context.h"
#include "script/tasks.h"
#include "space/flight.h"
#include "space/objects.h"
#include "space/orders.h"
#include "space/queries.h"
#include "space/typesdb.h"

namespace {

constexpr int32_t kHalfTurn = 32768;
constexpr int32_t kFullTurn = 65536;
constexpr int32_t kOneInFive = 5;

int32_t Low16(int32_t v) { return v & 0xFFFF; }

// An angle above half a turn taken as the negative one.
int32_t Signed(int32_t a) { return a > kHalfTurn ? a - kFullTurn : a; }

// The first n integers of an array argument; 0 when it is no array that long.
int ReadInts(const SA_Call& c, int32_t i, int32_t* out, int32_t n) {
    auto* a = const_cast<ScriptValue*>(c.Arg(i));
    if (a->tag != VARTYPE_ARRAY || SV_ArraySize(a) < n) return 0;
    for (int32_t k = 0; k < n; ++k) {
        const ScriptValue* v = SV_ArrayRead(a, k);
        if (!v) return 0;
        out[k] = v->i;
    }
    return 1;
}

// A placement array: its position and the matrix of its angles (none: the origin, unturned).
struct Placement {
    QelVector pos{};
    QelMatrix matrix{};
    Placement(const SA_Call& c, int32_t i) {
        int32_t w[6];
        if (ReadInts(c, i, w, 6)) {
            pos = QelVector{w[0], w[1], w[2], 0};
            Qel_MatFromAngles(&matrix, w[3], w[4], w[5]);
        } else {
            Qel_MatIdentity(&matrix);
        }
    }
    QelVector Apply(const QelVector& local) const {
        QelVector v;
        Qel_MatMulVec(&matrix, &local, &v);
        return QelVector{v.x + pos.x, v.y + pos.y, v.z + pos.z, 0};
    }
};

// A type's cut after the debris descent: a debris type stands for the type of
// its body while the level lies below its level count. The descent is bounded
// by the number of debris types, so types that lead to each other end it.
struct TypeCut {
    J3D_Cut* cut = nullptr;
    TypeCut(int32_t mainType, int32_t subType, int32_t level) {
        for (int32_t step = 0; mainType == SA_MT_DEBRIS && step <= g_TypeDB.counts[SA_MT_DEBRIS]; ++step) {
            const TypeRecord* t = SA_GetTypeRecord(mainType, subType);
            if (!t || level >= t->field[SA_TF_DEBRIS_LEVELS]) break;
            const int32_t code = SA_ObjectTypeFromBody(t->field[SA_TF_DEBRIS_NEXT_BODY]);
            if (!code) break;
            mainType = SA_CodeMainType(code);
            subType = SA_CodeSubType(code);
        }
        const int32_t id = SA_GetTypeCut(mainType, subType);
        cut = id > 0 && g_B3DState ? J3D_GetCut(id) : nullptr;
    }
    // The path at the index when it qualifies: keys of both kinds and a body
    // of a type (its type code in *code).
    const J3D_CutPath* Path(int32_t index, int32_t* code) const {
        if (!cut || !cut->paths || index < 0 || index >= cut->pathCount) return nullptr;
        const J3D_CutPath& p = cut->paths[index];
        if (p.posCount <= 0 || !p.posKeys || p.rotCount <= 0 || !p.rotKeys || p.reference == 0) return nullptr;
        *code = SA_ObjectTypeFromBody(p.reference);
        return *code ? &p : nullptr;
    }
};

QelVector LastPos(const J3D_CutPath& p) {
    const int32_t* v = p.posKeys[p.posCount - 1].value;
    return QelVector{v[0], v[1], v[2], 0};
}

SectorObject* ShipArg(const SA_Call& c) {
    SectorObject* ship = c.Object(0);
    return ship && ship->mainType == SA_MT_SHIP && O_ShipData(ship) ? ship : nullptr;
}

// Keeps the calling task as the ship's waiting caller; no answer.
int32_t Accept(const SA_Call& c, SectorObject* ship, int16_t course) {
    O_ShipData(ship)->CourseType = course;
    ship->callerModule = static_cast<uint32_t>(c.callerModule);
    ship->callerHandle = c.task ? c.task->id : 0;
    return 1;
}

// The turret's mounting: its matrix, else the one its direction points, else none.
QelMatrix Mounting(const TurretSlot* turret) {
    QelMatrix m;
    Qel_MatIdentity(&m);
    if (!turret) return m;
    bool given = false;
    for (int32_t w : turret->mountMatrix) given = given || w != 0;
    if (given) {
        for (int32_t r = 0; r < 3; ++r)
            for (int32_t k = 0; k < 3; ++k) m.m[r * 4 + k] = turret->mountMatrix[r * 3 + k];
        return m;
    }
    QelVector dir{turret->mountDirection[0], turret->mountDirection[1], turret->mountDirection[2], 0};
    if (dir.x || dir.y || dir.z) {
        int32_t heading = 0, pitch = 0;
        Qel_MatCombine(&dir, &heading, &pitch);
        Qel_MatFromAngles(&m, Signed(heading), Signed(pitch), 0);
    }
    return m;
}

}  // namespace

int32_t SACall_FindIndexInCut(const SA_Call& c) {
    const TypeCut type(Low16(c.Int(0)), Low16(c.Int(1)), c.Int(5));
    const int32_t wantedMain = c.Int(2), wantedSub = c.Int(3);
    const int32_t start = c.argc > 6 ? c.Int(6) : -1;
    const bool nearest = c.argc > 7;
    const Placement place = nearest ? Placement(c, 4) : Placement(c, -1);
    int32_t point[3] = {};
    if (nearest) ReadInts(c, 7, point, 3);
    const QelVector goal{point[0], point[1], point[2], 0};
    int32_t answer = -1;
    int64_t best = 0;
    const int32_t count = type.cut ? type.cut->pathCount : 0;
    for (int32_t i = start < 0 ? 0 : start + 1; i < count; ++i) {
        int32_t code = 0;
        const J3D_CutPath* p = type.Path(i, &code);
        if (!p || SA_CodeMainType(code) != wantedMain || (wantedSub != -1 && SA_CodeSubType(code) != wantedSub))
            continue;
        if (nearest) {
            const QelVector at = place.Apply(LastPos(*p));
            const int64_t d = SA_VecDistance(&at, &goal);
            // Among equal distances the later path wins.
            if (answer < 0 || d <= best) {
                answer = i;
                best = d;
            }
            continue;
        }
        answer = i;
        if (Qel_LongRandom(kOneInFive) == 0) break;
    }
    return c.Answer(answer);
}

int32_t SACall_GetTypePosAndDirectionInCut(const SA_Call& c) {
    const TypeCut type(Low16(c.Int(0)), Low16(c.Int(1)), c.Int(4));
    int32_t code = 0;
    const J3D_CutPath* p = type.Path(c.Int(2), &code);
    if (!p) return c.Answer(0);
    const Placement place(c, 3);
    const QelVector at = place.Apply(LastPos(*p));
    QelMatrix rot, world;
    J3D_GetPathRot(p->rotKeys, p->rotCount - 1, &rot);
    Qel_MatMul(&place.matrix, &rot, &world);
    int32_t a = 0, b = 0, g = 0;
    Qel_AnglesFromMat(&world, &a, &b, &g);
    const int32_t out[6] = {at.x, at.y, at.z, a, b, g};
    return c.AnswerArray(out, 6);
}

int32_t SACall_GetSubTypeFormCutIndex(const SA_Call& c) {
    const TypeCut type(Low16(c.Int(0)), Low16(c.Int(1)), c.Int(3));
    int32_t code = 0;
    return c.Answer(type.Path(c.Int(2), &code) ? SA_CodeSubType(code) : -1);
}

int32_t SACall_RotateTurretToPos(const SA_Call& c) {
    SectorObject* ship = ShipArg(c);
    const int32_t n = c.Int(1);
    int32_t point[3];
    if (!ship || !ship->instance || n < 0 || n >= SA_GetShipTurretCount(ship) || !ReadInts(c, 2, point, 3))
        return c.Answer(0);
    ShipData* d = O_ShipData(ship);
    const TurretSlot* turret = d->turrets && n < d->turretCount ? &d->turrets[n] : nullptr;
    const QelVector goal{point[0], point[1], point[2], 0};
    const QelVector dir = O_UnitDirection(&ship->instance->pos, &goal);
    int32_t heading = 0, pitch = 0;
    Qel_MatCombine(&dir, &heading, &pitch);
    QelMatrix wanted, relative;
    Qel_MatFromAngles(&wanted, Signed(heading), Signed(pitch), 0);
    // The turn the ship makes so that the turret, as it is mounted, points at the goal.
    const QelMatrix mount = Mounting(turret);
    Qel_MatMulTransposed(&wanted, &mount, &relative);
    int32_t a = 0, b = 0, g = 0;
    Qel_AnglesFromMat(&relative, &a, &b, &g);
    d->OrderPos = QelVector{Signed(a), Signed(b), Signed(g), 0};
    ship->desiredSpeed = 0;
    return Accept(c, ship, VER_ROTATETOANGLES);
}

int32_t SACall_FindNearestRockInDebris(const SA_Call& c) {
    SectorObject* debris = c.Object(0);
    const SectorObject* other = debris ? c.Object(1) : nullptr;
    const int32_t sub = c.Int(2);
    if (!other || debris->mainType != SA_MT_DEBRIS || !(debris->flags2 & SA_FLAG2_DETAILED) || sub < -1 ||
        !debris->container)
        return c.Answer(0);
    const SectorObject* rock = nullptr;
    for (SectorObject* child = SA_ListFirst(O_GetChildList(debris->container)); child; child = SA_ListNext(child))
        if (child->reference == debris && child->mainType == SA_MT_ASTEROID && (sub == -1 || child->subType == sub))
            rock = child;
    return c.Answer(rock && !(rock->flags & SA_FLAG_KILLED) ? static_cast<int32_t>(rock->id) : 0);
}

int32_t SACall_GetAsteroidDensity(const SA_Call& c) {
    const TypeRecord* t = SA_GetTypeRecord(SA_MT_ASTEROID, Low16(c.Int(0)));
    return c.Answer(t ? t->field[SA_TF_ASTEROID_DENSITY] : 0);
}

int32_t SACall_GetAbsPosRot(const SA_Call& c) {
    const SectorObject* o = c.Object(0);
    if (!o || !o->instance) return c.Answer(0);
    QelVector pos;
    QelMatrix m;
    O_InstWorldPose(o->instance, &pos, &m);
    int32_t a = 0, b = 0, g = 0;
    Qel_AnglesFromMat(&m, &a, &b, &g);
    const int32_t out[6] = {pos.x, pos.y, pos.z, a, b, g};
    return c.AnswerArray(out, 6);
}

int32_t SACall_CollectDebris(const SA_Call& c) {
    SectorObject* ship = ShipArg(c);
    SectorObject* target = ship ? c.Object(1) : nullptr;
    int32_t point[3];
    if (!target || !ReadInts(c, 2, point, 3)) return c.Answer(0);
    const SectorObject* field = target->reference;
    // A rock is collected while its field is in its detailed state, which is
    // when the rocks around it are there to be taken.
    const bool rock = target->mainType == SA_MT_ASTEROID && field && field->mainType == SA_MT_DEBRIS &&
                      (field->flags2 & SA_FLAG2_DETAILED);
    if (target->mainType != SA_MT_DEBRIS && !rock) return c.Answer(0);
    ShipData* d = O_ShipData(ship);
    d->OrderTarget = target;
    d->OrderPos = QelVector{point[0], point[1], point[2], 0};
    d->NextThink = SA_Now();
    // The third argument is the point: the order has no time limit.
    d->TimeLimitOn = 0;
    return Accept(c, ship, VER_COLLECTDEBRIS);
}
