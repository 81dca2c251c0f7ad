// Cameras, viewports, instance matrices, fades and the gamma ramp. The
// camera, instance and scene words are the scene engine's records, read
// directly (an upward include of the record layouts only).
#include "render/cameras.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/ebm.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "render/device.h"
#include "scene/collision.h"
#include "scene/records.h"
#include "system/adapters.h"
#include "system/video.h"

RendererMatrices g_S3DMatrices{};
int32_t g_S3DFieldOfView = 16384;
int32_t g_S3DCameraSetUpPending = 0;
RendererFrameStats g_S3DFrameStats{};

namespace {

constexpr uint32_t MATRIX_MEMORY = 6u << 24;
constexpr DWORD NO_CALIBRATION = 0;  // D3DSGR_NO_CALIBRATION
constexpr float DEPTH_SCALE = 1.00001f;
constexpr float DEPTH_OFFSET = -5.00005f;

// Camera flags that ask for a clear.
constexpr uint32_t CLEAR_TARGET = 0x10;
constexpr uint32_t CLEAR_DEPTH = 0x20 | 0x4;
constexpr uint32_t CLEAR_STENCIL = 0x800;
// Video options of the SystemState (VideoD3DFlags): a depth buffer to clear,
// a stencil buffer to clear.
constexpr uint32_t OPTION_DEPTH = 0x400;
constexpr uint32_t OPTION_STENCIL = 0x200;

// Second flags word of a screen-placed instance.
constexpr uint32_t INST2_2D = 0x200;
constexpr uint32_t INST2_2D_RAW_SIZE = 0x10000;
constexpr uint32_t INST2_ANCHOR_LEFT = 0x1000;
constexpr uint32_t INST2_ANCHOR_RIGHT = 0x2000;
constexpr uint32_t INST2_ANCHOR_TOP = 0x4000;
constexpr uint32_t INST2_ANCHOR_BOTTOM = 0x8000;

// The 16.16 product rounded to nearest, taken as a plain number.
int64_t FixProduct(int64_t a, int64_t b) { return (a * b + 0x8000) >> 16; }

void ScreenSize(int32_t* w, int32_t* h) {
    *w = *h = 0;
    if (g_VideoRecord && g_VideoRecord->VideoEBM) {
        *w = static_cast<uint16_t>(g_VideoRecord->VideoEBM->width);
        *h = static_cast<uint16_t>(g_VideoRecord->VideoEBM->height);
    } else if (g_SystemState) {
        *w = g_SystemState->width;
        *h = g_SystemState->height;
    }
}

void ScreenAspect(int32_t* x, int32_t* y) {
    *x = *y = 0x10000;
    if (g_VideoRecord && g_VideoRecord->aspectX > 0 && g_VideoRecord->aspectY > 0) {
        *x = g_VideoRecord->aspectX;
        *y = g_VideoRecord->aspectY;
    }
}

// The camera's rectangle as 16.16 fractions: top, bottom, left, right.
int32_t Top(const Camera3D* c) { return c->viewport[0]; }
int32_t Bottom(const Camera3D* c) { return c->viewport[1]; }
int32_t Left(const Camera3D* c) { return c->viewport[2]; }
int32_t Right(const Camera3D* c) { return c->viewport[3]; }

void Identity(D3DXMATRIX* m) { D3DXMatrixIdentity(m); }

}  // namespace

// ---------------------------------------------------------------- matrices

int S_3DAllocMatrices() {
    if (g_S3DMatrices.world) return 1;
    D3DXMATRIX** slots[] = {&g_S3DMatrices.world, &g_S3DMatrices.normal, &g_S3DMatrices.view, &g_S3DMatrices.projection,
                            &g_S3DMatrices.screenProjection};
    for (D3DXMATRIX** slot : slots) {
        void* block = Int_AllocMem(sizeof(D3DXMATRIX), MATRIX_MEMORY);
        if (!block) {
            S_3DFreeMatrices();
            return 0;
        }
        *slot = new (block) D3DXMATRIX{};
    }
    int32_t ax, ay;
    ScreenAspect(&ax, &ay);
    S_3DPerspective(16384, ax, ay, g_S3DMatrices.projection);
    *g_S3DMatrices.screenProjection = *g_S3DMatrices.projection;
    Identity(g_S3DMatrices.world);
    Identity(g_S3DMatrices.normal);
    Identity(g_S3DMatrices.view);
    g_S3DMatrices.view->m[3][2] = -7.0f;
    g_S3DCameraSetUpPending = 1;
    return 1;
}

void S_3DFreeMatrices() {
    D3DXMATRIX** slots[] = {&g_S3DMatrices.world, &g_S3DMatrices.normal, &g_S3DMatrices.view, &g_S3DMatrices.projection,
                            &g_S3DMatrices.screenProjection};
    for (D3DXMATRIX** slot : slots) {
        if (*slot) Int_FreeMem(*slot, sizeof(D3DXMATRIX), MATRIX_MEMORY);
        *slot = nullptr;
    }
}

void S_3DPerspective(int32_t fieldOfView, int32_t aspectX, int32_t aspectY, D3DXMATRIX* out) {
    const double half = M_PI * (fieldOfView / 65536.0);
    const float c = static_cast<float>(std::cos(half) / std::sin(half));
    std::memset(out, 0, sizeof(*out));
    out->m[0][0] = c / (aspectX / 65536.0f);
    out->m[1][1] = c / (aspectY / 65536.0f);
    out->m[2][2] = DEPTH_SCALE;
    out->m[2][3] = 1.0f;
    out->m[3][2] = DEPTH_OFFSET;
}

void S_3DCameraProjection(const Camera3D* camera, D3DXMATRIX* out) {
    int32_t ax = camera->aspect[0], ay = camera->aspect[1];
    if (ax <= 0 || ay <= 0) ScreenAspect(&ax, &ay);
    S_3DPerspective(camera->focus, ax, ay, out);
}

void S_3DSetProjectionDepth(float nearPlane, float farPlane) {
    if (!g_S3DMatrices.projection || farPlane == nearPlane) return;
    const float m33 = farPlane / (farPlane - nearPlane);
    g_S3DMatrices.projection->m[2][2] = m33;
    g_S3DMatrices.projection->m[3][2] = -nearPlane * m33;
}

void S_3DCameraView(const Camera3D* camera, float unitScale, D3DXMATRIX* out) {
    // The transpose of the camera's rotation, and its position taken into the
    // camera's axes.
    const int32_t* r = camera->inst.worldMatrix.m;
    const QelVector& p = camera->inst.worldPos;
    D3DXMATRIX& v = *out;
    std::memset(&v, 0, sizeof(v));
    for (int axis = 0; axis < 3; ++axis) {
        for (int k = 0; k < 3; ++k) v.m[k][axis] = r[axis * 4 + k] / 65536.0f;
        const double along = (static_cast<double>(p.x) * r[axis * 4] + static_cast<double>(p.y) * r[axis * 4 + 1] +
                              static_cast<double>(p.z) * r[axis * 4 + 2]) /
                             65536.0;
        v.m[3][axis] = static_cast<float>(-along * unitScale);
    }
    v.m[3][3] = 1.0f;
}

// ---------------------------------------------------------------- viewports

D3DVIEWPORT9 S_3DCameraViewport(const Camera3D* camera) {
    int32_t w, h;
    ScreenSize(&w, &h);
    D3DVIEWPORT9 vp{};
    vp.X = static_cast<DWORD>(FixProduct(Left(camera), w));
    vp.Y = static_cast<DWORD>(FixProduct(Top(camera), h));
    vp.Width = static_cast<DWORD>(FixProduct(static_cast<int64_t>(Right(camera)) - Left(camera), w));
    vp.Height = static_cast<DWORD>(FixProduct(static_cast<int64_t>(Bottom(camera)) - Top(camera), h));
    vp.MinZ = 0.0f;
    vp.MaxZ = 1.0f;
    return vp;
}

int S_3DSetSceneViewPort(Camera3D* camera) {
    if (!camera) return 1;
    auto* record = static_cast<D3DVIEWPORT9*>(camera->rendererCamera);
    if (!record) {
        void* block = Int_AllocMem(sizeof(D3DVIEWPORT9), MATRIX_MEMORY);
        if (!block) return 1;
        record = new (block) D3DVIEWPORT9{};
        camera->rendererCamera = record;
    }
    *record = S_3DCameraViewport(camera);
    if (IDirect3DDevice9* device = S_3DDevice()) {
        HRESULT hr = device->SetViewport(record);
        if (FAILED(hr)) Qel_ErrPrintf("wrong ViewPort-settings: %s.\n", DXGetErrorString9A(hr));
    }
    return 1;
}

void S_3DFreeSceneCamera(Camera3D* camera) {
    if (!camera || !camera->rendererCamera) return;
    Int_FreeMem(camera->rendererCamera, sizeof(D3DVIEWPORT9), MATRIX_MEMORY);
    camera->rendererCamera = nullptr;
}

HRESULT S_3DSetDefaultViewPort(IDirect3DSurface9* surface) {
    IDirect3DDevice9* device = S_3DDevice();
    D3DSURFACE_DESC desc{};
    HRESULT hr = surface && device ? surface->GetDesc(&desc) : D3DERR_INVALIDCALL;
    if (SUCCEEDED(hr)) {
        D3DVIEWPORT9 vp{0, 0, desc.Width, desc.Height, 0.0f, 1.0f};
        hr = device->SetViewport(&vp);
    }
    if (FAILED(hr)) Qel_DPrintf(0x2000, "ERROR\t: Failed to S_3DSetDefaultViewPort()\n");
    return hr;
}

// ---------------------------------------------------------------- scene camera

int S_3DInitSceneCamera(Scene3D* scene, Camera3D* camera) {
    IDirect3DDevice9* device = S_3DDevice();
    if (!scene || !camera || !device || !g_S3DMatrices.view) return 0;
    Qel_DPrintf(0x2000, "Render Scene(%d) Camera(%d) Init\n", static_cast<int>(scene->id),
                static_cast<int>(camera->inst.id));
    g_S3DCameraSetUpPending = 0;
    S_3DCameraProjection(camera, g_S3DMatrices.projection);
    g_S3DFieldOfView = camera->focus;
    Identity(g_S3DMatrices.world);
    S_3DCameraView(camera, scene->systemScale, g_S3DMatrices.view);
    if (!camera->rendererCamera) S_3DSetSceneViewPort(camera);
    auto* record = static_cast<D3DVIEWPORT9*>(camera->rendererCamera);
    if (!record || FAILED(device->SetViewport(record))) return 0;
    Qel_DPrintf(0x2000, "Render Scene Init(%d) \n", static_cast<int>(scene->id));
    return 1;
}

int S_3DClearSceneBackground(Camera3D* camera) {
    IDirect3DDevice9* device = S_3DDevice();
    if (!camera || !device) return 0;
    const uint32_t options = g_SystemState ? g_SystemState->VideoD3DFlags : 0;
    DWORD flags = 0;
    if (camera->camFlags & CLEAR_TARGET) flags |= D3DCLEAR_TARGET;
    if ((camera->camFlags & CLEAR_DEPTH) == CLEAR_DEPTH && (options & OPTION_DEPTH)) flags |= D3DCLEAR_ZBUFFER;
    if ((options & OPTION_STENCIL) && (camera->camFlags & CLEAR_STENCIL)) flags |= D3DCLEAR_STENCIL;
    if (!flags) return 1;
    // The clear covers the viewport: the camera's own rectangle, not the
    // last camera's.
    if (auto* record = static_cast<D3DVIEWPORT9*>(camera->rendererCamera)) device->SetViewport(record);
    const D3DCOLOR colour = static_cast<D3DCOLOR>((camera->background[0] & 0xFF) << 16 |
                                                  (camera->background[1] & 0xFF) << 8 | (camera->background[2] & 0xFF));
    HRESULT hr = device->Clear(0, nullptr, flags, colour, 1.0f, 0);
    Qel_DPrintf(0x2000, "INFO:\tS_3DClearSceneBackground() ->Clear (D3DCLEAR_ZBUFFER|D3DCLEAR_TARGET)\n");
    if (FAILED(hr)) {
        Qel_ErrPrintf("Viewport clear failed: 0x%x\n", static_cast<unsigned>(hr));
        return 0;
    }
    return 1;
}

// ---------------------------------------------------------------- instances

int S_3DSetInstMatrix(const void* rendererObject, const Inst3D* inst, const Camera3D* camera) {
    if (!rendererObject || !inst) {
        Qel_ErrPrintf("ERROR: NO D3D Object for instance!\n");
        return 0;
    }
    RendererMatrices& m = g_S3DMatrices;
    if (!m.world) return 0;
    const int32_t* r = inst->worldMatrix.m;
    const int32_t scale[3] = {inst->scale.x, inst->scale.y, inst->scale.z};
    if (!(inst->flags2 & INST2_2D)) {
        const float systemScale = camera && camera->inst.scene ? camera->inst.scene->systemScale : 1.0f;
        Identity(m.normal);
        Identity(m.world);
        for (int i = 0; i < 3; ++i) {
            const float s = static_cast<float>(FixProduct(inst->size, scale[i])) * systemScale;
            for (int k = 0; k < 3; ++k) {
                m.normal->m[i][k] = static_cast<float>(r[i * 4 + k]) / 65536.0f;
                m.world->m[i][k] = m.normal->m[i][k] * s;
            }
        }
        m.world->m[3][0] = static_cast<float>(inst->worldPos.x) * systemScale;
        m.world->m[3][1] = static_cast<float>(inst->worldPos.y) * systemScale;
        m.world->m[3][2] = static_cast<float>(inst->worldPos.z) * systemScale;
        m.projection->m[2][2] = DEPTH_SCALE;
        m.projection->m[3][2] = DEPTH_OFFSET;
        return 1;
    }
    // Placed on the camera's screen rectangle.
    Identity(m.normal);
    if (inst->flags2 & INST2_2D_RAW_SIZE) {
        const float s = static_cast<float>(inst->size);
        m.normal->m[0][0] = m.normal->m[1][1] = m.normal->m[2][2] = s;
    } else {
        for (int i = 0; i < 3; ++i) {
            const float s = static_cast<float>(FixProduct(inst->size, scale[i]));
            for (int k = 0; k < 3; ++k) m.normal->m[i][k] = static_cast<float>(r[i * 4 + k]) / 65536.0f * s;
        }
    }
    *m.world = *m.normal;
    Identity(m.view);
    int32_t sw, sh;
    ScreenSize(&sw, &sh);
    float W = 0.0f, H = 0.0f;
    if (camera) {
        W = static_cast<float>(FixProduct(static_cast<int64_t>(Right(camera)) - Left(camera), sw));
        H = static_cast<float>(FixProduct(static_cast<int64_t>(Bottom(camera)) - Top(camera), sh));
    }
    D3DXMATRIX& p = *m.screenProjection;
    std::memset(&p, 0, sizeof(p));
    if (W != 0.0f && H != 0.0f) {
        const float x = static_cast<float>(inst->pos.x), y = static_cast<float>(inst->pos.y);
        p.m[0][0] = 2.0f / W;
        p.m[1][1] = 2.0f / H;
        p.m[3][0] = (x - 0.25f) * 2.0f / W;
        p.m[3][1] = (-y - 0.25f) * 2.0f / H;
    }
    p.m[3][2] = 1.0f;
    p.m[3][3] = 1.0f;
    if (inst->flags2 & INST2_ANCHOR_LEFT) p.m[3][0] -= 1.0f;
    else if (inst->flags2 & INST2_ANCHOR_RIGHT) p.m[3][0] += 1.0f;
    if (inst->flags2 & INST2_ANCHOR_TOP) p.m[3][1] += 1.0f;
    else if (inst->flags2 & INST2_ANCHOR_BOTTOM) p.m[3][1] -= 1.0f;
    return 1;
}

// ---------------------------------------------------------------- fade, gamma, end of scene

int S3D_RenderFadeRectangle(uint32_t colour, Camera3D* camera) {
    if ((colour >> 24) == 0) return 1;
    IDirect3DDevice9* device = S_3DDevice();
    if (!device || !camera) return 0;
    Qel_DPrintf(0x2000, "S_3DRenderFadeRectangle(%08x)\n", colour);
    device->SetRenderState(D3DRS_ZENABLE, 0);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_COLORVERTEX, 1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
    HRESULT hr = device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    if (FAILED(hr))
        Qel_DPrintf(0x2000, "S3D_RenderFadeRectangle() SetVertexShader() failed: %s\n", DXGetErrorString9A(hr));
    // Pre-transformed corners are pixels of the target: the camera's
    // rectangle starts at its own corner, and its viewport must be the one
    // set, or the corners outside the last camera's would be cut away.
    S_3DSetSceneViewPort(camera);
    const D3DVIEWPORT9 vp = S_3DCameraViewport(camera);
    const float x0 = static_cast<float>(vp.X), y0 = static_cast<float>(vp.Y);
    const float x1 = x0 + static_cast<float>(vp.Width), y1 = y0 + static_cast<float>(vp.Height);
    struct Corner {
        float x, y, z, rhw;
        DWORD colour;
    };
    const Corner corners[4] = {{x0, y0, 0.0f, 1.0f, colour},
                               {x1, y0, 0.0f, 1.0f, colour},
                               {x0, y1, 0.0f, 1.0f, colour},
                               {x1, y1, 0.0f, 1.0f, colour}};
    static_assert(sizeof(Corner) == 20);
    hr = device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, corners, sizeof(Corner));
    if (FAILED(hr))
        Qel_DPrintf(0x2000, "S3D_RenderFadeRectangle() DrawPrimitiveUP() failed: %s\n", DXGetErrorString9A(hr));
    // The device changed behind the state manager.
    S_3DSetDefaultRenderStates();
    return 1;
}

uint16_t S_3DGammaRampEntry(int32_t gamma, int index) {
    const double x = static_cast<uint32_t>(gamma) / 255.0;
    const double e = std::log(x) / std::log(0.5);
    const double v = std::pow(index / 255.0, e) * 65535.0;
    // Gamma 0 makes the exponent infinite; values past the range stay in it.
    if (!(v > 0.0)) return 0;
    if (v >= 65535.0) return 65535;
    return static_cast<uint16_t>(v);
}

void S_3DSetGammaRamp(int32_t gamma) {
    IDirect3DDevice9* device = S_3DDevice();
    if (!device) return;
    D3DGAMMARAMP ramp{};
    for (int i = 0; i < 256; ++i) ramp.red[i] = ramp.green[i] = ramp.blue[i] = S_3DGammaRampEntry(gamma, i);
    device->SetGammaRamp(0, NO_CALIBRATION, &ramp);
}

int S_3DStatsLine() {
    IDirect3DDevice9* device = S_3DDevice();
    if (!device || FAILED(device->EndScene())) return 0;
    if (g_SystemState && g_SystemState->showFpsLine) {
        char line[256];
        std::snprintf(line, sizeof(line), "AQC: %d, prts: %03d,tswaps: %03d,tloads: %03d, Coll: %04d KB",
                      g_S3DFrameStats.adaptiveQuality, g_S3DFrameStats.partsDrawn, g_S3DFrameStats.textureSwaps,
                      g_S3DFrameStats.textureLoads, static_cast<int>(Coll_GetMemUsed() / 1024));
        std::snprintf(g_SystemState->statusText, sizeof(g_SystemState->statusText), "%s", line);
        g_S3DFrameStats.partsDrawn = g_S3DFrameStats.textureSwaps = g_S3DFrameStats.textureLoads = 0;
    }
    return 1;
}

int S_3DIsHardwareDevice() { return S_3DEndFrame() ? 1 : 0; }
