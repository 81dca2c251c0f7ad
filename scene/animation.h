// Per-frame animation of scenes: facing instances, child placement, skinned
// instances, view positions, detail ranking, light collection and choice,
// draw items and the camera motion.
#pragma once

#include <cstdint>

#include "scene/records.h"

// SystemState thirdFlags bit that keeps bone instances visible.
constexpr uint32_t B3D_SYSTEM_SHOW_BONES = 0x4;

// atan2(y, x) in 16-bit angle units from the arctangent table; 0 for (0, 0).
int32_t B3D_Atan2(int32_t y, int32_t x);

void B3D_SceneAnimate(Scene3D* scene);
void B3D_InstAnimate(Inst3D* inst);
void B3D_InstUpdateChildMatrices(Inst3D* inst);
void B3D_InstUpdateTree(Inst3D* inst);
void B3D_RankByDetail(B3DList* list);
B3DDrawItem* B3D_AllocDrawItem();
void B3D_SceneRotate2(Scene3D* scene);
void B3D_InstCreateBones(Inst3D* inst);
void B3D_SceneRotate(Inst3D* inst, const Camera3D* camera);
void B3D_InstCollectLights(Scene3D* scene, const Inst3D* inst);
void B3D_InstChooseLights(const Inst3D* inst);
void B3D_CameraUpdateMotion(Camera3D* camera);
