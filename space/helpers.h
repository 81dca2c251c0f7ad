// Small shared helpers over space objects and their type records, handle
// records of a 3D instance, and script-value holders.
#pragma once

#include <cstdint>

#include "script/values.h"
#include "space/records.h"

struct Inst3D;

// 1 when the object is of main type 7 and subtype 66.
int Obj_IsKind7_66(const SectorObject* object);
// 1 when the object is a dock (main type 5) or a factory (6).
int Obj_IsDockOrFactory(const SectorObject* object);
// The largest of |dx|, |dy|, |dz| of the two instances' positions; 0 when
// either object has no instance.
int32_t Obj_AxisDistance(const SectorObject* a, const SectorObject* b);

// The position and matrix of the object's instance; the origin and the
// identity for an object without one.
QelVector Obj_Position(const SectorObject* object);
QelMatrix Obj_Matrix(const SectorObject* object);

// Laser and bullet types are subtypes of main types 8 and 0; a subtype
// without a record (or a laser naming no bullet record) gives 0.
// Speed x lifetime / 1000 of the laser's bullet type, multiplied in 64 bits.
int32_t Obj_LaserTypeRange(int32_t laserType);
int32_t Obj_LaserTypeSpeed(int32_t laserType);
// 0x100000 | the ammunition ware's subtype when the bullet uses ammunition, else 0.
int32_t Obj_BulletTypeAmmunition(int32_t bulletType);
int32_t Obj_LaserTypeAmmunition(int32_t laserType);

// A value with the 3D instance it owns and an index; empty = {0, null, -1}.
struct Handle {
    int32_t value;
    Inst3D* instance;
    int32_t index;
};
Handle* Handle_Init(Handle* handle);
// Frees the instance (B3D_InstFree) when there is one, then empties the record.
void Handle_Reset(Handle* handle);

// One script value that a record keeps.
struct SV_Holder {
    ScriptValue value;
};
SV_Holder* SV_HolderInit(SV_Holder* holder);
// Releases the value unless its tag is 0.
void SV_HolderRelease(SV_Holder* holder);
