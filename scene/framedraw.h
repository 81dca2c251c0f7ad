// The scene engine's once-per-frame draw: every scene animated, every enabled
// camera drawn in priority order with bloom, the environment map, particles,
// fades and lens flares, the 3D-sound listener committed per listener camera.
#pragma once

#include <cstdint>

#include "scene/records.h"

// Scene flags read here.
constexpr uint32_t SCENE_ENVMAP = 0x4;
// Camera flags read here.
constexpr uint32_t CAM_KEEP_FADE_MASK = 0x10 | 0x20;  // cleared while the fade is drawn
constexpr uint32_t CAM_MOTION_STRETCH = 0x200;
constexpr uint32_t CAM_NO_PICK = 0x1000;
constexpr uint32_t CAM_TWO_MODES = 0x40000;
constexpr uint32_t CAM_ENVMAP = 0x80000;
// Second flags word: set when a stretch instance is nearly transparent.
constexpr uint32_t INST2_FADED = 0x40000;
// The lowest priority drawn after bloom.
constexpr int32_t B3D_BLOOM_PRIORITY = 20;

void B3D_DrawObjects();
// 1 when nothing was drawn, 0 after the six faces.
int32_t B3D_DrawToEnviMap(Camera3D* camera, Scene3D* scene);
void B3D_SceneToCamera(Scene3D* scene, Camera3D* camera);
void B3D_CameraBegin(Camera3D* camera, Scene3D* scene);
void B3D_DrawScenePass(Scene3D* scene, int32_t pass, int32_t mode, Camera3D* camera);
void B3D_UpdateLensflares();
