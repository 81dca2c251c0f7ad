// Objects whose detail is made of separate objects (stations' parts, the
// rocks of a debris field) switch between a plain and a detailed state by
// their distance to the camera; the setters of position, rotation and
// direction keep that switch and the look of suns and planets in step.
#pragma once

#include <cstdint>

#include "space/records.h"

// Flags2 bit: the detail switch is held off for the object.
constexpr uint32_t SA_FLAG2_DETAIL_HELD = 0x40000;
// Instance flags of an object in its detailed state: its own instance hides
// and takes no collisions while its detail objects stand in for it.
constexpr uint32_t SA_DETAILED_INST_FLAGS = 0x8000000 | 0x100000;
// The global parameter of the distance below which objects show their detail.
constexpr int32_t SA_GLOBAL_DETAIL_DISTANCE = 84;

// 1 when the object should be in its detailed state: it lies in a sector with
// a space scene, and its distance d to the scene's camera is above 0 and below
// the detail distance or 8 times its size; one already detailed stays so while
// d is at least 1 and below twice the distance or 16 times its size.
int O_DetailDistanceTest(SectorObject* object);
// Switches the object's detail. Unforced, the state comes from the distance
// test and a switch to the state it is in does nothing; forced, `detailed` is
// the state to take. Detailed makes one object per usable path of its type's
// cut (parent: this object); plain ends the objects that have it as parent
// ("SelfDestruct" 19, or killed). A debris field that has lost pieces takes
// the body of the next smaller debris type, and one with none left is removed
// ("SelfDestruct" 20, or killed). 1 when it acted, else 0.
int32_t O_DetailSwitch(SectorObject* object, int32_t forced, int32_t detailed);

// Placement: the instance position (a detail-switching object first forced
// plain, then to the state of the distance test at its new place); a sun's
// glows follow, a planet's extra instance is set again.
void O_SetPos(SectorObject* object, int32_t x, int32_t y, int32_t z);
// The three angles, and with an instance its matrix (and a sun's glows').
void O_SetRot(SectorObject* object, int32_t alpha, int32_t beta, int32_t gamma);
// The rotation whose forward axis (third row) runs along (x, y, z), with the
// up axis y, or -z for a direction within 0.95 of straight up or down; 0 and
// nothing written for the zero vector.
int O_MatrixAlong(int32_t x, int32_t y, int32_t z, QelMatrix* out);
// Turns the object's forward axis along (x, y, z); the zero vector changes
// nothing. The up axis is y, or -z for a direction within 0.95 of straight up
// or down.
void O_SetDirection(SectorObject* object, int32_t x, int32_t y, int32_t z);
