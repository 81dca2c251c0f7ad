// Allocation of instances, lights, cameras and scenes, and the link of a
// camera into a scene.
#pragma once

#include "scene/records.h"

Inst3D* B3D_AllocInst();
Inst3D* B3D_LightAlloc();
Camera3D* B3D_CameraAlloc();
Scene3D* B3D_SceneAlloc();
// Moves a camera into a scene (out of its old one first).
void B3D_SceneLinkInst(Scene3D* scene, Camera3D* camera);
// Takes a camera out of its scene into the list of instances in no scene.
void B3D_CameraDeleteFromScene(Camera3D* camera);
// The id of the scene's first camera, 0 without one.
uint32_t B3D_SceneGetCamera(const Scene3D* scene);
