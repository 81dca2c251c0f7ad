// Allocation of instances, lights, cameras and scenes, and the link of a
// camera into a scene.
#pragma once

#include "scene/records.h"

Inst3D* B3D_AllocInst();
Inst3D* B3D_LightAlloc();
Camera3D* B3D_CameraAlloc();
Scene3D* B3D_SceneAlloc();
// Moves a camera into a scene's camera list (out of its old scene and from
// under its parent first); its sub-instances take the scene.
void B3D_SceneLinkInst(Scene3D* scene, Camera3D* camera);
// Takes a camera with its subtree out of its scene (and from under its
// parent) into the list of instances in no scene; nothing when it is in none.
void B3D_CameraDeleteFromScene(Camera3D* camera);
// The id of the scene's first camera, 0 without one.
uint32_t B3D_SceneGetCamera(const Scene3D* scene);
