// Bloom targets, the quad and the environment cube: all in the default pool,
// so they are released before every device reset and made again after it.
#include "render/targets.h"

#include <cstring>

#include "base/ebm.h"
#include "base/general.h"
#include "base/log.h"
#include "base/texcache.h"
#include "render/cameras.h"
#include "render/device.h"
#include "render/fxrecords.h"
#include "render/mesh.h"
#include "scene/records.h"
#include "system/adapters.h"
#include "system/video.h"

RendererTargets g_S3DTargets{};
void (*g_S3DReleaseSceneBuffersHook)() = nullptr;

namespace {

template <class T>
void ReleaseInto(T*& object) {
    if (object) object->Release();
    object = nullptr;
}

void ScreenSize(UINT* w, UINT* h) {
    *w = *h = 0;
    if (g_VideoRecord && g_VideoRecord->VideoEBM) {
        *w = static_cast<uint16_t>(g_VideoRecord->VideoEBM->width);
        *h = static_cast<uint16_t>(g_VideoRecord->VideoEBM->height);
    } else if (g_SystemState) {
        *w = g_SystemState->width;
        *h = g_SystemState->height;
    }
}

IDirect3DTexture9* MakeTarget(IDirect3DDevice9* device, UINT w, UINT h, const char* name) {
    IDirect3DTexture9* t = nullptr;
    if (FAILED(device->CreateTexture(w, h, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &t, nullptr))) {
        Qel_DPrintf(0, "ERROR\t: cant create %s RTT S_3DInitPostProcessFX()\n", name);
        return nullptr;
    }
    return t;
}

void ReleaseQuad() {
    if (!g_S3DTargets.QuadBuffer) return;
    ReleaseInto(g_S3DTargets.QuadBuffer);
    if (g_RendererState) g_RendererState->bufferBytes -= S3D_QUAD_BYTES;
}

void EnvMapOff() {
    if (g_SystemState) g_SystemState->VideoD3DFlags2 |= S3D_OPTION_NO_ENVMAP;
}

}  // namespace

void S_3DInitPostProcessFX() {
    ++g_RendererStandInCounts.postProcess;
    RendererTargets& t = g_S3DTargets;
    IDirect3DDevice9* device = S_3DDevice();
    if (!device || (t.SceneTarget && t.Scale4Target1 && t.Scale4Target2)) return;
    UINT w, h;
    ScreenSize(&w, &h);
    if (!t.SceneTarget) t.SceneTarget = MakeTarget(device, w, h, "Scene");
    if (!t.Scale4Target1) t.Scale4Target1 = MakeTarget(device, w / 2, h / 2, "1_Scale4");
    if (!t.Scale4Target2) t.Scale4Target2 = MakeTarget(device, w / 2, h / 2, "2_Scale4");
    if (!g_S3DMesh.quadDeclaration) device->CreateVertexDeclaration(S3D_QuadDeclaration, &g_S3DMesh.quadDeclaration);
    ReleaseQuad();
    if (FAILED(device->CreateVertexBuffer(S3D_QUAD_BYTES, D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, &t.QuadBuffer,
                                          nullptr))) {
        t.QuadBuffer = nullptr;
        Qel_ErrPrintf("S_3DInitPostProcessFX() Error creating QUAD vertex buffer!\n");
        return;
    }
    if (g_RendererState) g_RendererState->bufferBytes += S3D_QUAD_BYTES;
    // Divided by w = 10 the corners cover the screen at depth 1.
    const float quad[4][6] = {{-10.0f, 10.0f, 10.0f, 10.0f, 0.0f, 0.0f},
                              {10.0f, 10.0f, 10.0f, 10.0f, 1.0f, 0.0f},
                              {-10.0f, -10.0f, 10.0f, 10.0f, 0.0f, 1.0f},
                              {10.0f, -10.0f, 10.0f, 10.0f, 1.0f, 1.0f}};
    static_assert(sizeof(quad) == S3D_QUAD_BYTES);
    void* data = nullptr;
    if (SUCCEEDED(t.QuadBuffer->Lock(0, 0, &data, 0))) {
        std::memcpy(data, quad, sizeof(quad));
        t.QuadBuffer->Unlock();
    }
}

void S_3DInitEnviMapRender() {
    ++g_RendererStandInCounts.enviMap;
    RendererTargets& t = g_S3DTargets;
    IDirect3DDevice9* device = S_3DDevice();
    if (!device) return;
    const D3DPRESENT_PARAMETERS& pp = g_RendererState->device->presentParams;
    ReleaseInto(t.EnvMapRenderer);
    ReleaseInto(t.EnvMapCube);
    if (FAILED(D3DXCreateRenderToEnvMap(device, S3D_ENVMAP_SIZE, 1, D3DFMT_X8R8G8B8, pp.EnableAutoDepthStencil,
                                        pp.AutoDepthStencilFormat, &t.EnvMapRenderer))) {
        t.EnvMapRenderer = nullptr;
        Qel_DPrintf(0, "ERROR\t: cant create RenderToEnvMap Interface S_3DInitEnviMapRender()\n");
        EnvMapOff();
        return;
    }
    D3DCAPS9 caps{};
    device->GetDeviceCaps(&caps);
    HRESULT hr = D3DERR_NOTAVAILABLE;
    if (caps.Caps2 & D3DCAPS2_CANAUTOGENMIPMAP) {
        hr = device->CreateCubeTexture(S3D_ENVMAP_SIZE, 0, D3DUSAGE_RENDERTARGET | D3DUSAGE_AUTOGENMIPMAP,
                                       D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &t.EnvMapCube, nullptr);
        if (FAILED(hr))
            Qel_ErrPrintf(
                "ERROR: Failed to CreateCubeTexture() in S_3DInitEnviMapRender, trying without "
                "D3DUSAGE_AUTOGENMIPMAP!\n");
    }
    if (FAILED(hr))
        hr = device->CreateCubeTexture(S3D_ENVMAP_SIZE, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT,
                                       &t.EnvMapCube, nullptr);
    if (FAILED(hr)) {
        t.EnvMapCube = nullptr;
        ReleaseInto(t.EnvMapRenderer);
        Qel_DPrintf(0, "ERROR\t: cant create CubeMap RTT S_3DInitEnviMapRender() ( %s )\n", DXGetErrorString9A(hr));
        EnvMapOff();
        return;
    }
    t.EnvMapCube->SetAutoGenFilterType(D3DTEXF_LINEAR);
    Qel_DPrintf(0, "INFO: EnvMap RT created \n");
}

int S_3DBeginEnvMapCube() {
    RendererTargets& t = g_S3DTargets;
    if (!t.EnvMapRenderer || !t.EnvMapCube || FAILED(t.EnvMapRenderer->BeginCube(t.EnvMapCube))) {
        Qel_DPrintf(0x2000, "ERROR\t: Failed to S_3DinitRenderToEnvMap()\n");
        return 0;
    }
    return 1;
}

int S_3DSetEnvMapFace(int face) {
    RendererTargets& t = g_S3DTargets;
    IDirect3DDevice9* device = S_3DDevice();
    if (!device || !t.EnvMapRenderer ||
        FAILED(t.EnvMapRenderer->Face(static_cast<D3DCUBEMAP_FACES>(face), D3DX_FILTER_NONE))) {
        Qel_DPrintf(0x2000, "ERROR\t: Failed to S_3DSetEnvMapFace()\n");
        return 0;
    }
    if (FAILED(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0))) {
        Qel_DPrintf(0, "ERROR\t: Failed to Clear EnvMap Face in S_3DSetEnvMapFace()\n");
        return 0;
    }
    return 1;
}

int S_3DRenderSceneInit(Scene3D* scene, int face) {
    Qel_DPrintf(0, "Render EnviScene Init(%d) \n", face);
    IDirect3DDevice9* device = S_3DDevice();
    if (!device || !scene || face < 0 || face > 5) return 0;
    auto* camera = B3D_First<Camera3D>(&scene->cameras);
    if (camera) S_3DInitSceneCamera(scene, camera);
    if (g_S3DMatrices.view) {
        // The cube convention: +X, -X, +Z and -Z look with up +Y, +Y with up
        // -Z, -Y with up +Z.
        static const D3DXVECTOR3 look[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
        static const D3DXVECTOR3 up[6] = {{0, 1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}, {0, 1, 0}, {0, 1, 0}};
        D3DXVECTOR3 eye{0, 0, 0};
        if (camera) {
            const float s = scene->systemScale;
            eye = {camera->inst.worldPos.x * s, camera->inst.worldPos.y * s, camera->inst.worldPos.z * s};
        }
        const D3DXVECTOR3 at{eye.x + look[face].x, eye.y + look[face].y, eye.z + look[face].z};
        D3DXMatrixLookAtLH(g_S3DMatrices.view, &eye, &at, &up[face]);
    }
    IDirect3DSurface9* target = nullptr;
    if (FAILED(device->GetRenderTarget(0, &target))) {
        Qel_DPrintf(0, "ERROR\t: Failed to S_3DRenderSceneInit(), GetRenderTarget() \n");
        return 0;
    }
    S_3DSetDefaultViewPort(target);
    target->Release();
    return 1;
}

void S_3DInitRenderToEnvMap() {
    RendererTargets& t = g_S3DTargets;
    if (!t.EnvMapRenderer || FAILED(t.EnvMapRenderer->End(D3DX_FILTER_NONE))) {
        Qel_DPrintf(0x2000, "ERROR\t: Failed to S_3DinitRenderToEnvMap()\n");
        IDirect3DDevice9* device = S_3DDevice();
        if (device) {
            D3DDeviceRecord* d = g_RendererState->device;
            if (d->backBuffer) device->SetRenderTarget(0, d->backBuffer);
            device->SetDepthStencilSurface(d->depthStencil);
        }
    }
    S_3DSetDefaultRenderStates();
}

int S_3DBeginScene() {
    IDirect3DDevice9* device = S_3DDevice();
    if (!device || FAILED(device->BeginScene())) {
        Qel_DPrintf(0x2000, "ERROR\t: Failed to S_3DBeginScene()\n");
        return 0;
    }
    return 1;
}

int S_3DEndScene() {
    IDirect3DDevice9* device = S_3DDevice();
    if (!device || FAILED(device->EndScene())) {
        Qel_DPrintf(0x2000, "ERROR\t: Failed to S_3DEndScene()\n");
        return 0;
    }
    return 1;
}

void S_3DReleaseDeviceObjects() {
    ++g_RendererStandInCounts.releaseDeviceObjects;
    TC_UnlockTextureSurfaces();
    if (g_S3DReleaseSceneBuffersHook) g_S3DReleaseSceneBuffersHook();
    B3D_FreeEffectTable();
    RendererTargets& t = g_S3DTargets;
    if (t.EnvMapRenderer) t.EnvMapRenderer->OnLostDevice();
    ReleaseInto(t.EnvMapRenderer);
    ReleaseInto(t.EnvMapCube);
    ReleaseQuad();
    ReleaseInto(t.SceneTarget);
    ReleaseInto(t.Scale4Target1);
    ReleaseInto(t.Scale4Target2);
    if (g_RendererDeviceObject && g_RendererDeviceObject->onLost)
        g_RendererDeviceObject->onLost(g_RendererDeviceObject);
}

void S_3DClose() {
    Qel_DPrintf(0, "Releasing D3D\n");
    Qel_DPrintf(0, "Deleting Matrices\n");
    S_3DFreeMatrices();
    RendererTargets& t = g_S3DTargets;
    ReleaseQuad();
    ReleaseInto(t.SceneTarget);
    ReleaseInto(t.Scale4Target1);
    ReleaseInto(t.Scale4Target2);
    ReleaseInto(t.EnvMapCube);
    // The cube renderer and the declarations hold the device: nothing of the
    // renderer may outlive it.
    ReleaseInto(t.EnvMapRenderer);
    S_3DReleaseVertexDeclarations();
}
