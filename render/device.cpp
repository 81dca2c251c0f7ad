// The renderer's side of the device: the state manager of the device, the
// default render states, and the release and restore of its device objects
// around a reset.
#include "render/device.h"

#include "base/ebm.h"
#include "base/log.h"
#include "system/adapters.h"
#include "system/shaderprofile.h"
#include "system/video.h"

RendererDeviceObject* g_RendererDeviceObject = nullptr;
RendererStandInCounts g_RendererStandInCounts;

CStateManagerInterface* S_3DCreateStateManager() { return S_3DCreateStateManager(S_3DDevice()); }

bool S_3DEndFrame() {
    IDirect3DDevice9* device = S_3DDevice();
    if (!g_VideoRecord || !device) return false;
    D3DCAPS9 caps{};
    return SUCCEEDED(device->GetDeviceCaps(&caps)) && caps.DeviceType == D3DDEVTYPE_HAL;
}

void S_3DSetDefaultRenderStates() {
    ++g_RendererStandInCounts.defaultRenderStates;
    CStateManagerInterface* m = g_RendererState ? g_RendererState->stateManager : nullptr;
    if (!m) return;
    m->ResetCachedState();
    m->SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
    m->SetRenderState(D3DRS_SEPARATEALPHABLENDENABLE, 0);
    m->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
    m->SetRenderState(D3DRS_BLENDOPALPHA, D3DBLENDOP_ADD);
    m->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    m->SetRenderState(D3DRS_ALPHAREF, 90);
    m->SetRenderState(D3DRS_LIGHTING, 0);
    m->SetRenderState(D3DRS_COLORVERTEX, 0);
    m->SetRenderState(D3DRS_COLORWRITEENABLE, 7);
    m->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    m->SetRenderState(D3DRS_ALPHATESTENABLE, 0);
}

void S_3DFreeLookupTextures() {
    LookupTextureSet& t = g_LookupTextures;
    for (EBM*& e : t.lighting) {
        FreeILBM(e);
        e = nullptr;
    }
    EBM** others[] = {&t.pow,        &t.deriveZ,     &t.normalizeCube, &t.whiteDummy,
                      &t.blackDummy, &t.blackDummy2, &t.blackDummyCube};
    for (EBM** e : others) {
        FreeILBM(*e);
        *e = nullptr;
    }
}

IDirect3DDevice9* S_3DDevice() {
    return g_RendererState && g_RendererState->device ? g_RendererState->device->device : nullptr;
}

void S_3DAddBufferBytes(int64_t bytes) {
    if (g_RendererState) g_RendererState->bufferBytes += bytes;
}
