// STANDIN: the renderer calls the scene engine makes (cameras and viewports,
// lights, scene buffers and particles, gamma ramp). Each records its call and
// answers success.
#pragma once

#include <cstdint>

struct Camera3D;
struct Inst3D;
struct Scene3D;
struct B3DSceneBufferItem;

// Sets the camera's viewport from its screen rectangle (the camera's renderer object).
void S_3DSetSceneViewPort(Camera3D* camera);
// Frees the camera's renderer object and clears the pointer.
void S_3DFreeSceneCamera(Camera3D* camera);
// Clears the camera's rectangle as its flags ask; 1 on success.
int S_3DClearSceneBackground(Camera3D* camera);
// Refreshes a light's renderer object from its fields; nothing without one.
void S_3DUpdateLight(Inst3D* light);
// Refreshes a light's position and direction; 1.
int S_3DUpdateLightTransform(Inst3D* light);
// Releases what the renderer holds for a scene-buffer item.
void S_3DReleaseSceneBufferItem(B3DSceneBufferItem* item);
// The scene's particles were released.
void S_3DReleaseParticles(Scene3D* scene);
// The device gamma ramp from a gamma value 0-255.
void S_3DSetGammaRamp(int32_t gamma);
