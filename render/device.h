// What the system layer needs of the renderer around the device: the effect
// state manager, device-object release and restore around a reset, the default
// render states, the end-of-frame test. The device objects themselves are
// made and released in render/targets.
#pragma once

#include <cstdint>

#include "platform/d3dx/d3dx9.h"
#include "render/statemanager.h"
#include "render/targets.h"

// The renderer's device-dependent object; null while absent.
struct RendererDeviceObject {
    void (*onLost)(RendererDeviceObject* self);
    void (*onReset)(RendererDeviceObject* self);
};
extern RendererDeviceObject* g_RendererDeviceObject;

// The video device's Direct3D device; null while there is none.
IDirect3DDevice9* S_3DDevice();
// Counts bytes of vertex and index buffers into the renderer's statistics.
void S_3DAddBufferBytes(int64_t bytes);

// The manager for the renderer's device (S_3DCreateStateManager(device)).
CStateManagerInterface* S_3DCreateStateManager();
bool S_3DEndFrame();
void S_3DSetDefaultRenderStates();

// Releases the lookup textures made with the device (the renderer's part at exit).
void S_3DFreeLookupTextures();

// Calls of the set-ups around a reset, for tests.
struct RendererStandInCounts {
    int releaseDeviceObjects;
    int defaultRenderStates;
    int postProcess;
    int enviMap;
};
extern RendererStandInCounts g_RendererStandInCounts;
