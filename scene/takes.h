// Takes (a cut played on a set of instances), path-job stops and remaining
// times, the camera free, and the replies to callers that wait on the scene
// engine.
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
void B3D_CameraFree(Camera3D* camera);
