// STANDIN: see standin_scene.h.
#include "render/standin_scene.h"

#include "base/standin_calls.h"

void S_3DReleaseSceneBufferItem(B3DSceneBufferItem*) { StandIn_Record("S_3DReleaseSceneBufferItem"); }
void S_3DReleaseParticles(Scene3D*) { StandIn_Record("S_3DReleaseParticles"); }
