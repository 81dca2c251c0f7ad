// STANDIN: see standin_scene.h.
#include "render/standin_scene.h"

#include "base/standin_calls.h"

void S_3DSetSceneViewPort(Camera3D*) { StandIn_Record("S_3DSetSceneViewPort"); }
void S_3DFreeSceneCamera(Camera3D*) { StandIn_Record("S_3DFreeSceneCamera"); }
int S_3DClearSceneBackground(Camera3D*) {
    StandIn_Record("S_3DClearSceneBackground");
    return 1;
}
void S_3DUpdateLight(Inst3D*) { StandIn_Record("S_3DUpdateLight"); }
int S_3DUpdateLightTransform(Inst3D*) {
    StandIn_Record("S_3DUpdateLightTransform");
    return 1;
}
void S_3DReleaseSceneBufferItem(B3DSceneBufferItem*) { StandIn_Record("S_3DReleaseSceneBufferItem"); }
void S_3DReleaseParticles(Scene3D*) { StandIn_Record("S_3DReleaseParticles"); }
void S_3DSetGammaRamp(int32_t) { StandIn_Record("S_3DSetGammaRamp"); }
