// Takes (a cut played on a set of instances): building one from a cut, its
// start, the per-frame update of every path job and take, path-job stops and
// remaining times, and the replies to callers that wait on the scene engine.
#pragma once

#include <cstdint>

#include "scene/records.h"

// Answers a waiting caller through its module's integer result callback;
// dropped when the module has no entry or no callback.
void J3D_DoEngineReply(int32_t module, int32_t handle, int32_t code);
J3D_Take* J3D_TakeAlloc();
J3D_Take* J3D_TakeFind(uint32_t id);
void J3D_TakeTransformInsts(J3D_Take* take);
int32_t J3D_TakeCheckFinished(J3D_Take* take);
void J3D_TakeStop(J3D_Take* take);
int32_t J3D_TakeGetRemainingTime(const J3D_Take* take);
int32_t J3D_JobGetRemainingTime(const Inst3D* inst);
void J3D_JobStop(Inst3D* inst);

// The per-frame step of every path job ("CutEvent" hook included), the
// instances that drive a bound one, and every take.
void J3D_TakesUpdate();
// Builds one instance per path of the cut in the scene; the first camera path
// plays on the given camera, which stays the caller's. 0 when the instance
// array cannot be allocated.
int32_t J3D_TakeLoadCut(J3D_Take* take, J3D_Cut* cut, Scene3D* scene, Camera3D* camera);
// 1 when the take plays, else 0.
int32_t J3D_TakeStartInScene(J3D_Take* take, J3D_Cut* cut, Scene3D* scene, Camera3D* camera);
// Starts a job on every path instance; 1 when at least one runs.
int32_t J3D_TakePlay(J3D_Take* take);
// Frees the instances the take made (not the lent camera) and the array; cut
// id and state become 0. A running take is stopped first and a caller still
// waiting on it hears 1.
void J3D_TakeClear(J3D_Take* take);
// The one free of takes: clears the take as above, takes its id out of the
// take table and frees it.
void J3D_TakeFree(J3D_Take* take);
// J3D_TakeFree of every take.
void J3D_TakeFreeAll();
// 1 when the cut can be had.
int32_t J3D_CutPreload(int32_t cutId);
