// What the system layer needs of the renderer around the device until the
// renderer's own modules come: device-object release and restore, default render
// states, the effect state manager, the end-of-frame test.
#pragma once

#include <cstdint>

class ID3DXEffectStateManager;

// The renderer's device-dependent object; null while absent.
struct RendererDeviceObject {
    void (*onLost)(RendererDeviceObject* self);
    void (*onReset)(RendererDeviceObject* self);
};
extern RendererDeviceObject* g_RendererDeviceObject;

ID3DXEffectStateManager* S_3DCreateStateManager();
bool S_3DEndFrame();
void S_3DReleaseDeviceObjects();
void S_3DSetDefaultRenderStates();
void S_3DInitPostProcessFX();
void S_3DInitEnviMapRender();
