// Bloom: the effect file decides the chain; the renderer supplies the three
// textures, the viewport size and each pass's target.
#include "render/postprocess.h"

#include <cstring>

#include "base/ebm.h"
#include "base/general.h"
#include "base/log.h"
#include "render/cameras.h"
#include "render/effects.h"
#include "render/mesh.h"
#include "render/statemanager.h"
#include "render/targets.h"
#include "system/adapters.h"
#include "system/video.h"

namespace {

constexpr UINT kQuadStride = 24;

constexpr const char* kTargetNames[3] = {"t_SceneMap", "t_GlowMap1", "t_GlowMap2"};

void ScreenSize(float* w, float* h) {
    *w = *h = 0;
    if (g_VideoRecord && g_VideoRecord->VideoEBM) {
        *w = static_cast<uint16_t>(g_VideoRecord->VideoEBM->width);
        *h = static_cast<uint16_t>(g_VideoRecord->VideoEBM->height);
    } else if (g_SystemState) {
        *w = static_cast<float>(g_SystemState->width);
        *h = static_cast<float>(g_SystemState->height);
    }
}

// What one call holds: released and put back on every way out.
struct BloomCall {
    IDirect3DDevice9* device;
    IDirect3DSurface9* back = nullptr;
    IDirect3DSurface9* depth = nullptr;
    IDirect3DSurface9* surfaces[3] = {};

    explicit BloomCall(IDirect3DDevice9* d) : device(d) {}
    ~BloomCall() {
        for (IDirect3DSurface9*& s : surfaces)
            if (s) s->Release();
        if (back) {
            device->SetRenderTarget(0, back);
            back->Release();
        }
        device->SetDepthStencilSurface(depth);
        if (depth) depth->Release();
    }
};

}  // namespace

void S_3DRenderPostProcessFX() {
    IDirect3DDevice9* device = g_RendererState && g_RendererState->device ? g_RendererState->device->device : nullptr;
    if (!device || !g_SystemState || !(g_SystemState->VideoD3DFlags2 & S3D_OPTION_BLOOM) ||
        !g_RendererState->device->sm2Detected)
        return;
    const RendererTargets& t = g_S3DTargets;
    if (!t.SceneTarget || !t.Scale4Target1 || !t.Scale4Target2 || !t.QuadBuffer) {
        Qel_DPrintf(0, "Error\t: No RTT S_3DRenderPostProcessFX()\n");
        return;
    }
    Qel_DPrintf(0, "INFO\t: Redering Postprocess Effects S_3DRenderPostProcessFX()\n");
    SysShaderDefinition* shader = S_3DGetShader("bloom", 0);
    if (!shader) {
        Qel_DPrintf(0, "ERROR: Int_LoadShader(bloom) failed!\n");
        return;
    }
    ID3DXEffect* effect = shader->effect[0];
    if (!effect) {
        Qel_DPrintf(0, "S_3DRenderPostProcessFX() failed pShader->D3DSH_pEffect[0] = NULL\n");
        return;
    }
    IDirect3DSurface9* back = nullptr;
    if (FAILED(device->GetRenderTarget(0, &back)) || !back) {
        Qel_DPrintf(0, "S_3DRenderPostProcessFX() Error getting pBackBufferSurface!\n");
        return;
    }
    BloomCall call(device);
    call.back = back;
    if (FAILED(device->GetDepthStencilSurface(&call.depth))) call.depth = nullptr;
    device->SetDepthStencilSurface(nullptr);

    // Looked up on every call: an effect freed and loaded again may come
    // back at the same address, and the old one's handles are dangling.
    D3DXHANDLE technique = effect->GetTechniqueByName("DEFAULT");
    if (!technique && FAILED(effect->FindNextValidTechnique(nullptr, &technique))) technique = nullptr;
    if (!technique) {
        Qel_DPrintf(0, "S_3DRenderPostProcessFX() Error getting GetTechnique!\n");
        return;
    }
    effect->SetTechnique(technique);
    static constexpr const char* kParams[4] = {"t_SceneMap", "t_GlowMap1", "t_GlowMap2", "ViewPortSize"};
    D3DXHANDLE params[4];
    for (int i = 0; i < 4; ++i) params[i] = effect->GetParameterByName(nullptr, kParams[i]);

    IDirect3DTexture9* textures[3] = {t.SceneTarget, t.Scale4Target1, t.Scale4Target2};
    static constexpr const char* kFailures[3] = {"S_3DRenderPostProcessFX() Error getting pSurfaceRT_Scene!\n",
                                                 "S_3DRenderPostProcessFX() Error getting pSurfaceRT_1!\n",
                                                 "S_3DRenderPostProcessFX() Error getting pSurfaceRT_2!\n"};
    for (int i = 0; i < 3; ++i)
        if (FAILED(textures[i]->GetSurfaceLevel(0, &call.surfaces[i])) || !call.surfaces[i]) {
            call.surfaces[i] = nullptr;
            Qel_DPrintf(0, "%s", kFailures[i]);
            return;
        }
    for (int i = 0; i < 3; ++i)
        if (params[i]) effect->SetTexture(params[i], textures[i]);
    if (params[3]) {
        D3DXVECTOR4 size{0, 0, 0, 0};
        ScreenSize(&size.x, &size.y);
        effect->SetVector(params[3], &size);
    }

    D3DDEVICE_CREATION_PARAMETERS cp{};
    if (SUCCEEDED(device->GetCreationParameters(&cp)) && (cp.BehaviorFlags & D3DCREATE_SOFTWARE_VERTEXPROCESSING))
        device->SetSoftwareVertexProcessing(1);
    if (FAILED(device->StretchRect(back, nullptr, call.surfaces[0], nullptr, D3DTEXF_LINEAR))) {
        Qel_DPrintf(0, "ERROR: S_3DRenderPostProcessFX() StretchRect failed!\n");
        return;
    }
    if (CStateManagerInterface* manager = g_RendererState->stateManager) {
        manager->SetVertexDeclaration(g_S3DMesh.quadDeclaration);
        manager->SetStreamSource(0, t.QuadBuffer, 0, kQuadStride);
        manager->SetIndices(nullptr);
    } else {
        device->SetVertexDeclaration(g_S3DMesh.quadDeclaration);
        device->SetStreamSource(0, t.QuadBuffer, 0, kQuadStride);
        device->SetIndices(nullptr);
    }

    UINT passes = 0;
    if (FAILED(effect->Begin(&passes, D3DXFX_DONOTSAVESTATE))) return;
    for (UINT i = 0; i < passes; ++i) {
        effect->BeginPass(i);
        IDirect3DSurface9* target = back;
        const char* name = nullptr;
        D3DXHANDLE note = effect->GetAnnotationByName(effect->GetPass(technique, i), "RenderColorTarget0");
        if (note && SUCCEEDED(effect->GetString(note, &name)) && name)
            for (int k = 0; k < 3; ++k)
                if (std::strcmp(name, kTargetNames[k]) == 0) target = call.surfaces[k];
        device->SetRenderTarget(0, target);
        S_3DSetDefaultViewPort(target);
        device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
        effect->EndPass();
    }
    effect->End();
}
