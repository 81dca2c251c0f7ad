#include "space/propcalls.h"

#include <algorithm>

#include "base/fixmath.h"
#include "base/log.h"
#include "cockpit/steering.h"
#include "scene/geometry.h"
#include "scene/records.h"
#include "script/arrays.h"
#include "script/context.h"
#include "script/modules.h"
#include "space/cutscene.h"
#include "space/detail.h"
#include "space/flight.h"
#include "space/hangars.h"
#include "space/helpers.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/typesdb.h"
#include "space/weapons.h"

namespace {

constexpr int32_t kExtraSpeedLimit = 999;
constexpr int32_t kExtraRotSpeedLimit = 0x999;
constexpr int32_t kTuningUnit = 10;  // a tuning percent of 10 is 1.0

// Answers a value of the object of argument 0, or 0 when it is missing.
template <typename Fn>
int32_t Read(const SA_Call& c, Fn fn) {
    SectorObject* o = c.Object(0);
    return c.Answer(o ? fn(o) : 0);
}

// Runs the change on the object of argument 0 when it is there; answers `answer`.
template <typename Fn>
int32_t Write(const SA_Call& c, Fn fn, int32_t answer = 0) {
    if (SectorObject* o = c.Object(0)) fn(o);
    return c.Answer(answer);
}

int32_t Pos(const SA_Call& c) {
    const int32_t k = c.number - 37;
    return Read(c, [k](SectorObject* o) {
        const QelVector p = Obj_Position(o);
        return k == 0 ? p.x : k == 1 ? p.y : p.z;
    });
}

int32_t Dir(const SA_Call& c, int32_t k) {
    return Read(c, [k](SectorObject* o) { return Obj_Matrix(o).m[8 + k]; });
}

// A ship's tuning percent as a 16.16 fraction, or the message when it is
// not a ship or the value is above the limit.
void SetTuning(const SA_Call& c, const char* message, int32_t limit, int32_t ShipData::*field) {
    SectorObject* o = c.Object(0);
    if (!o) return;
    const int32_t value = c.Int(1);
    ShipData* d = O_ShipData(o);
    if (!d || value > limit) {
        Qel_DPrintf(0, message, value, static_cast<int32_t>(o->id), SA_ScriptPosition());
        return;
    }
    d->*field = SA_MulDiv(value, 65536, kTuningUnit);
}

// The optional laser slot of argument i: -1 (the ship's pool) when not given.
int32_t Slot(const SA_Call& c, int32_t i) { return c.Given(i) ? c.Int(i) : -1; }

}  // namespace

int32_t SACall_GetMainType(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return int32_t{o->mainType}; });
}
int32_t SACall_GetSubType(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return int32_t{o->subType}; });
}
int32_t SACall_GetType(const SA_Call& c) {
    return Read(c, [](SectorObject* o) {
        return static_cast<int32_t>(static_cast<uint32_t>(o->mainType) << 16 | static_cast<uint16_t>(o->subType));
    });
}
int32_t SACall_GetPosX(const SA_Call& c) { return Pos(c); }
int32_t SACall_GetPosY(const SA_Call& c) { return Pos(c); }
int32_t SACall_GetPosZ(const SA_Call& c) { return Pos(c); }

int32_t SACall_SetPos(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) { O_SetPos(o, c.Int(1), c.Int(2), c.Int(3)); });
}

int32_t SACall_SetSafePos(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    if (!o) return c.Answer(0);
    if (c.argc == 4) {
        O_SetSafePosAt(o, c.Int(1), c.Int(2), c.Int(3));
    } else {
        SectorObject* reference = c.argc == 2 && c.IsTrue(1) ? c.Object(1) : nullptr;
        O_SetSafePos(o, reference);
    }
    return c.Answer(0);
}

int32_t SACall_GetSafePos(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    if (!o || !o->instance) return c.Answer(0);
    const QelVector was = o->instance->pos;
    O_SetSafePosAt(o, c.Int(1), c.Int(2), c.Int(3));
    const QelVector at = o->instance ? o->instance->pos : was;
    O_SetPos(o, was.x, was.y, was.z);
    const int32_t words[3] = {at.x, at.y, at.z};
    return c.AnswerArray(words, 3);
}

int32_t SACall_SetRelativePos(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    SectorObject* reference = o ? c.Object(1) : nullptr;
    if (reference) {
        const QelVector pos = Obj_Position(reference);
        const QelMatrix m = Obj_Matrix(reference);
        const QelVector local{c.Int(2), c.Int(3), c.Int(4), 0};
        const QelVector at = O_LocalToWorld(&pos, &m, &local, 65536);
        O_SetPos(o, at.x, at.y, at.z);
    }
    return c.Answer(0);
}

int32_t SACall_GetRotAlpha(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return o->rot[0]; });
}
int32_t SACall_GetRotBeta(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return o->rot[1]; });
}
int32_t SACall_GetRotGamma(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return o->rot[2]; });
}

int32_t SACall_GetRotationMatrix(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    if (!o || !o->instance) return c.Answer(0);
    ScriptValue rows{};
    if (!SV_ArrayAlloc(&rows, 3)) return c.Answer(0);
    for (int32_t r = 0; r < 3; ++r) {
        ScriptValue row{};
        if (!SV_ArrayAlloc(&row, 3)) continue;
        for (int32_t k = 0; k < 3; ++k) SV_ArrayWriteInt(&row, k, o->instance->matrix.m[4 * r + k]);
        SV_ArrayWrite(&rows, r, &row);
        SV_Release(&row);
    }
    return c.AnswerValue(&rows);
}

int32_t SACall_SetRot(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) { O_SetRot(o, c.Int(1), c.Int(2), c.Int(3)); });
}
int32_t SACall_GetDirX(const SA_Call& c) { return Dir(c, 0); }
int32_t SACall_GetDirY(const SA_Call& c) { return Dir(c, 1); }
int32_t SACall_GetDirZ(const SA_Call& c) { return Dir(c, 2); }
int32_t SACall_SetDirection(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) { O_SetDirection(o, c.Int(1), c.Int(2), c.Int(3)); });
}

int32_t SACall_GetBody(const SA_Call& c) {
    const SectorObject* o = c.Object(0);
    return c.Answer(o && o->instance ? o->instance->bodyId : -1);
}

int32_t SACall_GetCompBody(const SA_Call& c) {
    const SectorObject* o = c.Object(0);
    if (!o || !SA_CheckTypeCode(o->mainType, o->subType)) return c.Answer(-1);
    const TypeRecord* t = O_GetTypeRecord(o);
    if (t && t->field[SA_TF_SECOND_BODY] != 0) return c.Answer(t->field[SA_TF_SECOND_BODY]);
    return c.Answer(o->instance ? o->instance->bodyId : -1);
}

int32_t SACall_GetCutID(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return O_HasOwnCut(o) ? o->cutId : 0; });
}
int32_t SACall_GetObjectTextID(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return O_GetTextID(o); });
}
int32_t SACall_GetSize(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return o->instance ? o->instance->radius : 0; });
}
int32_t SACall_GetTotalSize(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return o->instance ? B3D_InstGetTotalSize(o->instance) : 0; });
}
int32_t SACall_GetMass(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return o->mass; });
}
int32_t SACall_SetMass(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) { o->mass = c.Int(1); });
}
int32_t SACall_GetSpeed(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return o->speed; });
}
int32_t SACall_GetMaxSpeed(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return O_GetMaxSpeed(o); });
}
int32_t SACall_GetDockingSpeed(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return O_GetDockingSpeed(o); });
}

int32_t SACall_SetSpeed(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    if (!o) return c.Answer(0);
    o->speed = c.Int(1);
    return c.Answer(1);
}

int32_t SACall_GetDesiredSpeed(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return o->desiredSpeed; });
}

int32_t SACall_SetDesiredSpeed(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    if (!o) return c.Answer(0);
    // The story takes the player's speed over from the throttle lever until it moves.
    if (SA_IsReferenceObject(o)) STS_ReleaseLever();
    o->desiredSpeed = c.Int(1);
    return c.Answer(1);
}

int32_t SACall_SetExtraSpeed(const SA_Call& c) {
    SetTuning(c, "SA_SetExtraSpeed: %d object %d (%s)\n", kExtraSpeedLimit, &ShipData::extraSpeed);
    return c.Answer(0);
}

int32_t SACall_GetAcceleration(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return SA_GetShipValue18(o); });
}

int32_t SACall_SetRotSpeed(const SA_Call& c) {
    if (SectorObject* o = c.Object(0)) {
        const int32_t x = c.Int(1), y = c.Int(2), z = c.Int(3);
        o->rotSpeed[0] = x;
        o->rotSpeed[1] = y;
        o->rotSpeed[2] = z;
        if (x == 0 && y == 0 && z == 0) SA_ClearObjectVector48(o);
    }
    SE_CallerReturnInt(c.callerModule, 0, c.task ? c.task->id : 0);
    return 1;
}

int32_t SACall_SetGlide(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) {
        for (int32_t k = 1; k < 4; ++k) o->flight[k] = c.Int(k);
    });
}

int32_t SACall_GetStepX(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return SA_GetScaledTypeValue3(o); });
}
int32_t SACall_GetStepY(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return SA_GetScaledTypeValue2(o); });
}
int32_t SACall_GetStepZ(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return SA_GetScaledTypeValue4(o); });
}

int32_t SACall_SetExtraRotSpeed(const SA_Call& c) {
    SetTuning(c, "SA_SetExtraRotSpeed: %d object %d (%s)\n", kExtraRotSpeedLimit, &ShipData::extraRotSpeed);
    return c.Answer(0);
}

int32_t SACall_GetCount(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return SA_GetCount(o); });
}
int32_t SACall_SetCount(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) { SA_SetCount(o, c.Int(1)); });
}
int32_t SACall_SetLight(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) { O_SetColours(o, c.Int(1), c.Int(2), c.Int(3)); });
}
int32_t SACall_GetShield(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return O_GetShield(o); });
}
int32_t SACall_GetMaxShield(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return O_GetMaxShield(o); });
}
int32_t SACall_SetShield(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) { O_SetShield(o, c.Int(1)); });
}
int32_t SACall_SetMaxAvoidShield(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) {
        if (ShipData* d = O_ShipData(o)) d->maxAvoidShield = c.Int(1);
    });
}
int32_t SACall_GetLaser(const SA_Call& c) {
    return Read(c, [&c](SectorObject* o) { return O_GetLaserEnergy(o, Slot(c, 1), 0); });
}
int32_t SACall_GetMaxLaser(const SA_Call& c) {
    return Read(c, [&c](SectorObject* o) { return O_GetLaserEnergy(o, Slot(c, 1), 1); });
}
int32_t SACall_GetLaserPosition(const SA_Call& c) {
    return Read(c, [](SectorObject* o) {
        const LaserData* d = o->mainType == SA_MT_LASER ? static_cast<const LaserData*>(o->typeData) : nullptr;
        return d ? int32_t{d->position} : 0;
    });
}
int32_t SACall_SetLaser(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) {
        if (O_ShipData(o)) O_SetLaserEnergy(o, c.Int(1), Slot(c, 2));
    });
}
int32_t SACall_GetHull(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return o->hull; });
}
int32_t SACall_GetMaxHull(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return O_GetMaxHull(o); });
}
int32_t SACall_SetHull(const SA_Call& c) {
    return Write(c, [&c](SectorObject* o) { O_SetHull(o, c.Int(1)); });
}
int32_t SACall_GetStrength(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return O_GetStrength(o); });
}
int32_t SACall_GetNumCockpits(const SA_Call& c) {
    return Read(c, [](SectorObject* o) { return SA_GetShipCockpitCount(o); });
}
