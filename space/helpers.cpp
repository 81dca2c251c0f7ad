#include "space/helpers.h"

#include <algorithm>

#include "scene/records.h"
#include "scene/trees.h"

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

static const TypeRecord* BulletType(int32_t index) {
    return g_BulletTypes && index >= 0 && index < g_BulletTypeCount ? &g_BulletTypes[index] : nullptr;
}

static const TypeRecord* BulletOfLaser(int32_t laserType) {
    if (!g_LaserTypes || laserType < 0 || laserType >= g_LaserTypeCount) return nullptr;
    return BulletType(g_LaserTypes[laserType].bulletType);
}

int32_t Obj_LaserTypeRange(int32_t laserType) {
    const TypeRecord* bullet = BulletOfLaser(laserType);
    if (!bullet) return 0;
    return static_cast<int32_t>(int64_t{bullet->speed} * bullet->lifetime / 1000);
}

int32_t Obj_LaserTypeSpeed(int32_t laserType) {
    const TypeRecord* bullet = BulletOfLaser(laserType);
    return bullet ? bullet->speed : 0;
}

static int32_t Ammunition(const TypeRecord* bullet) {
    if (!bullet || !(bullet->flags & TYPE_FLAG_AMMUNITION)) return 0;
    return 0x100000 | bullet->subType;
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
