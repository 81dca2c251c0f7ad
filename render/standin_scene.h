// STANDIN: the renderer calls the scene engine makes (scene buffers,
// particles). Each records its call and
// answers success.
#pragma once

#include <cstdint>

struct Scene3D;
struct B3DSceneBufferItem;

// Releases what the renderer holds for a scene-buffer item.
void S_3DReleaseSceneBufferItem(B3DSceneBufferItem* item);
// The scene's particles were released.
void S_3DReleaseParticles(Scene3D* scene);
