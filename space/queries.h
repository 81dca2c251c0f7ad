// Small queries over the types database and the object records that every
// other part of the space simulation, the engine calls and the cockpit use:
// names and codes of types, the values of a type as they apply to one object
// (with its tuning), limits of hull, shield and speed, relations, the side
// tables, walks over a container's children, and the one straight distance.
// None of them allocates.
#pragma once

#include <cstdint>

#include "space/records.h"
#include "space/typesdb.h"

// ---------------------------------------------------------------- names and codes

// The subtype of a name or a decimal number (a text starting with a digit or
// '-'); 0 with its message for a main type outside 0..31, a number outside
// 0..count-1 or a name no record has. Names compare case-sensitively; records
// without a name are skipped.
int32_t SA_GetSubTypeByName(int32_t mainType, const char* text);
// The type code of a name (over main types 0..31, first match) or of a
// decimal type code (whose main type must be 0..31 and subtype below its
// count); 0 with "SA_GetTypeCodeByName('%s') Invalid subtype name\n".
int32_t SA_GetTypeCodeByName(const char* text);
// The text id of the object's type (field 6); 882 for a sector, 0 for main
// type 27, 0 with "O_GetTextID() No text for maintype %d\n" without records.
int32_t O_GetTextID(const SectorObject* object);
// The text (page 17) of the type's text id, "=unknown object=" below 1.
const char* O_GetTypeName(const SectorObject* object);
// The value of the first Globals pair with the key; 0 when there is none.
int32_t SA_GetGlobalParameter(int32_t key);

// ---------------------------------------------------------------- type values

// value x (1.0 + tuning), rounded to nearest in 16.16 (64-bit).
int32_t SA_ScaleByTuning(int32_t value, int32_t tuning);
// The cut of a type: planets field 20, docks and factories 21, ships 26,
// missiles 37, asteroids, gates, specials, debris and wrecks 17; -1 for any
// other main type, an unknown type or a cut field of 0.
int32_t SA_GetTypeCut(int32_t mainType, int32_t subType);
// The cut of a record of the main type (-1 none), before it is in the database.
int32_t SA_RecordCut(int32_t mainType, const TypeRecord* t);
// Rotation steps: field 2 (y), 3 (x), 4 (z), for a ship scaled by its extra
// rotation speed.
int32_t SA_GetScaledTypeValue2(const SectorObject* object);
int32_t SA_GetScaledTypeValue3(const SectorObject* object);
int32_t SA_GetScaledTypeValue4(const SectorObject* object);
// Acceleration: ships field 18 scaled by the extra speed; missiles their own.
int32_t SA_GetShipValue18(const SectorObject* object);
// The speed of a type: bullets, ships and missiles their speed field,
// cameras 1,000,000, others 0.
int32_t SA_GetTypeSpeed(int32_t mainType, int32_t subType);
// The object's type speed, for ships scaled by the extra speed.
int32_t SA_GetTunedTypeSpeed(const SectorObject* object);
// The maximum hull of a type (0 for main types without one).
int32_t SA_GetTypeLimit(int32_t mainType, int32_t subType);
int32_t O_GetMaxHull(const SectorObject* object);  // 0 for an invulnerable object
int32_t O_GetMaxSpeed(const SectorObject* object);
int32_t O_GetDockingSpeed(const SectorObject* object);
int32_t O_GetMaxStrafeSpeed(const SectorObject* object);
int32_t O_GetMaxShield(const SectorObject* object);
int32_t O_GetShield(const SectorObject* object);
// Shield plus hull.
int32_t O_GetStrength(const SectorObject* object);
// A shield its charge, at most its type's energy; a ship, sector, gate or
// holder fills its shields in list order, each to its top. Below 0 is 0.
void O_SetShield(SectorObject* object, int32_t shield);
// The hull, within 0 and the maximum hull (no upper bound where that is 0).
void O_SetHull(SectorObject* object, int32_t hull);
// What a ship may collect: wares, debris and the rocks of a debris field.
int O_IsCollectible(const SectorObject* object);
// Objects that take no damage.
constexpr uint32_t SA_FLAG_INVULNERABLE = 0x8;
int O_IsInvulnerable(const SectorObject* object);

// ---------------------------------------------------------------- ships

// Field 5 in {0, 2, 3, 4, 8}; in {0, 2, 3, 4, 8, 11, 13} (small ships); in
// {70, 71, 73, 75, 79}. 0 for anything that is not a ship.
int SA_IsShipClassA(const SectorObject* object);
int SA_IsShipClassC(const SectorObject* object);
int SA_IsShipClassX(const SectorObject* object);
// The ship's course type is 27.
int O_IsSpecialShip(const SectorObject* object);
int32_t SA_GetShipTurretCount(const SectorObject* object);   // field 95
int32_t SA_GetShipCockpitCount(const SectorObject* object);  // field 52
int32_t SA_GetShipField30(const SectorObject* object);
int32_t SA_GetShipField42(const SectorObject* object);
// The first word (kind) of cockpit entry n; -1 out of range.
int32_t SA_GetShipCockpitKind(const SectorObject* object, int32_t n);
// Words 3 and 4 of turret entry n: out of range gives 1 (free) and 0.
int32_t SA_IsShipTurretFree(const SectorObject* object, int32_t n);
int32_t SA_GetShipTurretWord(const SectorObject* object, int32_t n);
// The first turret whose lasers (first laser position, count) hold laser n; -1.
int32_t SA_GetTurretOfLaser(int32_t shipSubType, int32_t laser);
// The laser child mounted on turret n (n below field 95), or null.
SectorObject* O_GetLaserInstance(SectorObject* ship, int32_t n);
// The position word and turret of the ship's n-th laser child; 0 when none.
int O_GetLaserPosition(SectorObject* ship, int32_t n, int32_t* position, int32_t* turret);
// Answers the task waiting on turret n (its module's integer callback with
// the code), then clears the turret's caller.
void SA_FireTurretCallback(SectorObject* ship, int32_t n, int32_t code);

// ---------------------------------------------------------------- relations

// The object's relation to the other: -1 foe, 1 friend, 0 neither.
int32_t SA_GetRelation(SectorObject* object, SectorObject* other);
// 1 when they are enemies (b's view of a counts when a's reciprocal word is set).
int SA_IsEnemy(SectorObject* a, SectorObject* b);
// The relation by the same rule (-1 first from b's side).
int32_t SA_GetMutualRelation(SectorObject* a, SectorObject* b);

// ---------------------------------------------------------------- side tables

// The index of the first video record whose first non-zero id among its
// valid ones is the id, copied to out when given; -1 when none.
int32_t SA_GetVideoById(int32_t id, SA_VideoRecord* out);
// The dummy with the body, of kind k (0..4) or of any kind (-1); its kind in *kindOut.
const DummyRecord* SA_FindDummy(int32_t body, int32_t kind, int32_t* kindOut);
// 1 when the body is among the special bodies of the kind (or any kind, -1).
int SA_IsSpecialBody(int32_t body, int32_t kind);
// Completes the flags of an instance from the special-body lists: the
// instance of a flat body (kinds 0-2) faces the camera on its own (0x4000).
void SA_MarkObjectFlags(Inst3D* inst);
// 1 when the body is one of the jets (kinds 6 and 12), which emit particles.
int SA_IsParticleSourceBody(int32_t body);
// The component record of kind k (0 lasers, 1 cockpits, 2 docking) for a body, or null.
const ComponentRecord* SA_FindTypeEntry(int32_t kind, int32_t body);
// The match of two type codes: 1 with the type code its third column names.
int SA_FindMatch(int32_t typeCodeA, int32_t typeCodeB, int32_t* result);
// How many entries of ware list id (1 and up) equal the type code.
int32_t SA_GetWareListCount(int32_t listId, int32_t typeCode);
// A type's dock-port list (docks, factories, ships), or null; its count.
const DockPortList* SA_GetTypeDockPorts(int32_t mainType, int32_t subType);
int32_t SA_GetTypeNumDockPorts(int32_t mainType, int32_t subType);
int SA_TypeDockPortBit(int32_t mainType, int32_t subType, int32_t n);
// The type code of the type whose body (or second body) is the body / whose
// cut is the cut; 0 when none.
int32_t SA_ObjectTypeFromBody(int32_t body);
int32_t SA_ObjectTypeFromCut(int32_t cut);
// 1 when the body is a star body of a background, 2 a nebula body, else 0.
int32_t SA_BgBodyKind(int32_t body);
// The first background subtype one of whose star, nebula, outer-part or
// dust-part bodies is the body; -1 when none is.
int32_t SA_BgTypeFromBody(int32_t body);

// ---------------------------------------------------------------- type fields

int32_t SA_GetBulletDamage(int32_t subType);         // field 17
int32_t SA_GetMissileDamage(int32_t subType);        // field 22
int32_t SA_GetShipDamage(const SectorObject* ship);  // field 30
int32_t SA_GetBulletEnergy(int32_t subType);         // fields 20 x 21 / 1000
int32_t SA_GetLaserBulletEnergy(int32_t laserSubType);
// Shield power generation: docks and factories field 23, ships 44.
int32_t SA_GetShieldPowerGeneration(int32_t mainType, int32_t subType);
// The wreck main type of a dock, factory or ship (29, 30, 31), else -1.
int32_t SA_GetWreckMainType(int32_t mainType);

// ---------------------------------------------------------------- objects

// The amount of wares, lasers, shields and missiles (cameras keep theirs in
// their fourth word); 1 for other objects.
int32_t SA_GetCount(SectorObject* object);
void SA_SetCount(SectorObject* object, int32_t count);
// The density of a debris field or wreck (negative becomes 0).
void SA_SetDensity(SectorObject* object, int32_t density);
int32_t SA_GetDensity(SectorObject* object);
// Ships, cameras and missiles (7, 19, 10).
int O_IsShipCameraOrMissile(const SectorObject* object);
// Ships, sectors, gates, or objects with the own-cut flag 0x100000.
int O_HasOwnCut(const SectorObject* object);
// The hold flag 0x40000; held means set without 0x80000.
void O_SetHold(SectorObject* object, int on);
int O_IsHeld(const SectorObject* object);
// Clears the second triple of rotation angles.
void SA_ClearObjectVector48(SectorObject* object);
// Answers the object's waiting caller with the code, then clears it.
void SA_FireObjectCallback(SectorObject* object, int32_t code);

// Container walks: the first child of a main type (and subtype) after the
// child with the start ID (0: from the first); the first child with the
// own-cut flag; the laser in slot n; whether the object is a child.
SectorObject* SA_FindChildByMainType(SectorObject* container, int32_t mainType, uint32_t startId);
SectorObject* SA_FindChildByType(SectorObject* container, int32_t mainType, int32_t subType, uint32_t startId);
SectorObject* SA_FindOwnCutChild(SectorObject* container);
// The first child (after the start ID, as above) whose instance stands for a
// path of its loaded cut with the serial, body or class ("C" value) given.
constexpr int32_t SA_PATH_SERIAL = 0;
constexpr int32_t SA_PATH_BODY = 1;
constexpr int32_t SA_PATH_CLASS = 2;
SectorObject* SA_FindChildByPath(SectorObject* container, int32_t key, int32_t value, uint32_t startId);
int SA_IsInContainer(SectorObject* container, const SectorObject* object);

// The root's reference (player) object.
SectorObject* SA_GetReferenceObject();
int SA_IsReferenceObject(const SectorObject* object);
// The start of a story's game: started and running 1, every game word but the tenth cleared.
void SA_SetRunning(SpaceRoot* root);
// Marks killed every object of the root's list that is no sector and has no container.
void SA_CleanUpObjects();
// Logs every object of the root's list, indented by its depth.
void SA_DumpObjects();
// 2 -> 1300, 3 -> 780, 4 -> 260, 5 -> 60, 6 -> 30, 7 -> 10, 8 -> 3, 9 -> 1, else 0.
int32_t SA_CountByValue(int32_t value);
// a x b / c with a 64-bit product, clamped into 32 bits; 0 for c == 0.
int32_t SA_MulDiv(int32_t a, int32_t b, int32_t c);

// ---------------------------------------------------------------- distance

// The straight distance between two positions, exact (the floor of the root
// of the sum of squares) for any two 32-bit positions; every straight distance
// of the space simulation is this one.
int64_t SA_VecDistance(const QelVector* a, const QelVector* b);
// The same between two objects' instance positions, clamped into 32 bits; 0
// when either has no instance.
int32_t O_GetDistance(const SectorObject* a, const SectorObject* b);
