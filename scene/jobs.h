// Path jobs: an instance follows one path of a cut. The job start, the step
// that sets position, velocity, rotation, light colour and focus from the keys
// (forwards, backwards or looping), the key interpolations, the notes of a
// path with the "CutEvent" they send, and finishing every job at once.
#pragma once

#include <cstdint>

#include "base/fixmath.h"
#include "scene/records.h"

// Starts the job and runs its first step; answers 1. A caller that waited on
// the instance's previous job hears 5 (stopped).
int32_t J3D_JobStartInst(Inst3D* inst, int32_t from, int32_t pathIndex, J3D_Cut* cut, int32_t to, int32_t continueFlag);
// The same on the instance's current cut and path; 0 when the instance has no
// cut or the cut is not loaded.
int32_t J3D_JobStartInstById(Inst3D* inst, int32_t from, int32_t to, int32_t continueFlag);
// One step at path time t: the remaining path time (positive while running,
// 0 or below at or after the end); 0 when cut is null.
int32_t J3D_JobStep(Inst3D* inst, J3D_Cut* cut, int32_t t);

// The index of the key for time t in keys whose first word is the time (stride
// in bytes): the last index at or after the last time, 0 at or before the
// first, else the largest k with time(k) <= t.
int32_t J3D_FindKey(const void* keys, int32_t stride, int32_t count, int32_t t);
// The integer blend of two key values a and b with d the key interval and e the
// time since the first key.
int32_t J3D_InterpolateScalar(int32_t a, int32_t b, int32_t d, int32_t e);
// The eased fraction of u (16.16) with ease values a and b.
int32_t J3D_EaseCurve(int32_t u, int32_t a, int32_t b);
// Position between keys k and k+1 at time t.
void J3D_InterpolatePos(int32_t t, const J3D_MotionKey* keys, int32_t k, QelVector* out);
// The velocity of one axis between two keys, units per second.
int32_t J3D_KeyVelocity(int32_t value, int32_t next, int32_t interval);
// Rotation between keys k and k+1 at time t as a quaternion.
void J3D_InterpolateRot(int32_t t, QelQuat* out, const J3D_MotionKey* keys, int32_t k, int32_t count);
// Moves the instance's position, matrix and velocity by a placed cut.
void J3D_JobApplyCutPlacement(Inst3D* inst, const J3D_Cut* cut);
// Brings every job of every instance to its end.
void J3D_FinishAllJobs();

// Runs every note of the instance's current path at exactly this time.
void J3D_InstDoNotes(Inst3D* inst, int32_t time);
// Runs one note of a path for the instance.
void J3D_DoNodeTrackCommand(Inst3D* inst, J3D_CutPath* path, int32_t noteIndex);

// Game-clock arithmetic on the 32,400,000 ms circle: x + c wrapped.
int32_t J3D_ClockAdd(int32_t x, int32_t c);
