// STANDIN: the renderer calls the scene engine makes (scene buffers,
// particles, body geometry and instances). Each records its call and
// answers success.
#pragma once

#include <cstdint>

struct Scene3D;
struct B3DSceneBufferItem;
struct BodyLevel;
struct Inst3D;

// Releases what the renderer holds for a scene-buffer item.
void S_3DReleaseSceneBufferItem(B3DSceneBufferItem* item);
// The scene's particles were released.
void S_3DReleaseParticles(Scene3D* scene);
// Frees the device geometry of one level of a body.
void S_3DFreeBodyParts(BodyLevel* level);
// Drops the instance's references to its body's geometry; 1 on success.
int S_3DDeleteInst(Inst3D* inst);
