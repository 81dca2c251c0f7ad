// Bodies and cuts got by id: loaded on first use and kept until they are
// freed. An id whose files are missing is marked and refused afterwards
// without touching the disk. Also the shutdown release of the body tables,
// the bulk conversion of text bodies to binary, and point queries over the
// vertices of an instance tree.
#pragma once

#include <cstdint>

#include "base/fixmath.h"
#include "scene/bodyrecord.h"
#include "scene/records.h"

// Run after each body or cut load so a playing movie keeps running through
// long loads; the program points it at its movie check. Null: nothing.
extern void (*g_B3DMoviePollHook)();

// The body of an id, loaded when needed (binary file first, then text); null
// when it cannot be had.
Body3D* B3D_GetBody(int32_t id);
// 1 for a body embedded in a cut (id 100000 and up) without any lookup, 0 for
// an id marked as failed, else whether B3D_GetBody gives a body.
int32_t B3D_BodyIsLoaded(int32_t id);
// The cut of an id, loaded when needed (binary file first, then text).
J3D_Cut* J3D_GetCut(int32_t id);

// Frees every cut, then every body.
void J3D_FreeCutEntry();
// The shutdown release of the scene engine's tables, run once at exit.
void B3D_FreeBodyTables();
// Loads every text body of "v" with start flag 0x800 set, which writes its
// binary file.
void B3DB_ConvertAllBodiesToBinary();

// Gives the instance's body a sound with default values; 0 without a body.
int32_t B3D_InstSetSound(Inst3D* inst, int32_t soundId);

// Most points B3D_InstPointsInRadius writes.
constexpr int32_t B3D_MAX_RADIUS_POINTS = 1000;

// Points of the tree's bodies within radius of a point given in the tree's
// parent frame: per point the instance, its index and its distance (integer
// square root), at most B3D_MAX_RADIUS_POINTS; answers the count.
int32_t B3D_InstPointsInRadius(Inst3D* inst, int32_t radius, const QelVector* point, Inst3D** insts, int32_t* indices,
                               int32_t* distances);
// 1 when any point of the tree's bodies lies within radius of the point.
int32_t B3D_InstPointsInRadiusNear(Inst3D* inst, int32_t radius, const QelVector* point);
// The smallest distance from the point to a point of the given level (the
// last level when a body has fewer) over the tree's bodies; -1 when none.
int32_t B3D_InstDistanceToNearestVertex(Inst3D* inst, const QelVector* point, int32_t level);
// A random body point of an instance of the tree whose flags masked with
// flagMask equal flagValue: the instance and the point in its own frame.
// 0 when there is none.
int32_t B3D_BodyRandomSurfacePoint(Inst3D* inst, uint32_t flagMask, uint32_t flagValue, Inst3D** outInst,
                                   QelVector* outPoint);
