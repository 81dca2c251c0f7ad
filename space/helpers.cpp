#include "space/helpers.h"

#include <algorithm>

#include "base/fixmath.h"
#include "scene/records.h"
#include "scene/trees.h"
#include "space/typesdb.h"

namespace {

const TypeRecord* BulletType(int32_t index) { return SA_GetTypeRecord(SA_MT_BULLET, index); }

const TypeRecord* BulletOfLaser(int32_t laserType) {
    const TypeRecord* laser = SA_GetTypeRecord(SA_MT_LASER, laserType);
    return laser ? BulletType(laser->field[SA_TF_LASER_BULLET_TYPE]) : nullptr;
}

int32_t Ammunition(const TypeRecord* bullet) {
    if (!bullet || !(bullet->field[SA_TF_BULLET_FLAGS] & SA_BULLET_AMMUNITION)) return 0;
    return 0x100000 | bullet->field[SA_TF_BULLET_AMMUNITION];
}

}  // namespace

int Obj_IsKind7_66(const SectorObject* object) { return object->mainType == 7 && object->subType == 66 ? 1 : 0; }

int Obj_IsDockOrFactory(const SectorObject* object) { return object->mainType == 5 || object->mainType == 6 ? 1 : 0; }

int32_t Obj_AxisDistance(const SectorObject* a, const SectorObject* b) {
    if (!a->instance || !b->instance) return 0;
    const QelVector& p = a->instance->pos;
    const QelVector& q = b->instance->pos;
    // The differences of two 32-bit positions need 33 bits; the result is
    // clamped into 32.
    auto span = [](int32_t u, int32_t v) { return u > v ? int64_t{u} - v : int64_t{v} - u; };
    int64_t d = std::max({span(p.x, q.x), span(p.y, q.y), span(p.z, q.z)});
    return d > INT32_MAX ? INT32_MAX : static_cast<int32_t>(d);
}

QelVector Obj_Position(const SectorObject* object) { return object->instance ? object->instance->pos : QelVector{}; }

QelMatrix Obj_Matrix(const SectorObject* object) {
    if (object->instance) return object->instance->matrix;
    QelMatrix m;
    Qel_MatIdentity(&m);
    return m;
}

int32_t Obj_LaserTypeRange(int32_t laserType) {
    const TypeRecord* bullet = BulletOfLaser(laserType);
    if (!bullet) return 0;
    return static_cast<int32_t>(int64_t{bullet->field[SA_TF_BULLET_SPEED]} * bullet->field[SA_TF_BULLET_LIFETIME] /
                                1000);
}

int32_t Obj_LaserTypeSpeed(int32_t laserType) {
    const TypeRecord* bullet = BulletOfLaser(laserType);
    return bullet ? bullet->field[SA_TF_BULLET_SPEED] : 0;
}

int32_t Obj_BulletTypeAmmunition(int32_t bulletType) { return Ammunition(BulletType(bulletType)); }
int32_t Obj_LaserTypeAmmunition(int32_t laserType) { return Ammunition(BulletOfLaser(laserType)); }

Handle* Handle_Init(Handle* handle) {
    *handle = Handle{0, nullptr, -1};
    return handle;
}

void Handle_Reset(Handle* handle) {
    if (handle->instance) B3D_InstFree(handle->instance);
    Handle_Init(handle);
}

SV_Holder* SV_HolderInit(SV_Holder* holder) {
    holder->value = ScriptValue{};
    return holder;
}

void SV_HolderRelease(SV_Holder* holder) {
    if (holder->value.tag != 0) SV_Release(&holder->value);
}
