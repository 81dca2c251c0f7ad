// The renderer's side of the device until its own modules come: the state
// managers, the default render states, and the release and restore of its
// device objects around a reset.
#include "render/device.h"

#include <new>

#include "base/ebm.h"
#include "base/log.h"
#include "system/adapters.h"
#include "system/shaderprofile.h"
#include "system/video.h"

RendererDeviceObject* g_RendererDeviceObject = nullptr;
RendererStandInCounts g_RendererStandInCounts;

namespace {

// Sets every state on the device as it comes.
class CBaseStateManager : public CStateManagerInterface {
public:
    explicit CBaseStateManager(IDirect3DDevice9* device) : device_(device) { device_->AddRef(); }
    ULONG AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG Release() override {
        int left = --refs_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left < 0 ? 0 : left);
    }
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
        return device_->SetRenderState(state, value);
    }
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override {
        return device_->SetSamplerState(sampler, type, value);
    }
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override {
        return device_->SetTextureStageState(stage, type, value);
    }
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override {
        return device_->SetTexture(stage, texture);
    }
    void ResetCachedState() override {}

protected:
    ~CBaseStateManager() override { device_->Release(); }
    IDirect3DDevice9* device_;
    int refs_ = 1;
};

// A pure device cannot be asked for its state, so the manager remembers what it
// set and skips what would change nothing.
class CPureDeviceStateManager final : public CBaseStateManager {
public:
    using CBaseStateManager::CBaseStateManager;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
        if (state < D3D9_RENDER_STATE_COUNT && known_[state] && cache_[state] == value) return D3D_OK;
        HRESULT hr = device_->SetRenderState(state, value);
        if (SUCCEEDED(hr) && state < D3D9_RENDER_STATE_COUNT) {
            known_[state] = true;
            cache_[state] = value;
        }
        return hr;
    }
    void ResetCachedState() override {
        for (bool& k : known_) k = false;
    }

private:
    DWORD cache_[D3D9_RENDER_STATE_COUNT] = {};
    bool known_[D3D9_RENDER_STATE_COUNT] = {};
};

IDirect3DDevice9* Device() {
    return g_RendererState && g_RendererState->device ? g_RendererState->device->device : nullptr;
}

}  // namespace

CStateManagerInterface* S_3DCreateStateManager() {
    IDirect3DDevice9* device = Device();
    if (!device) return nullptr;
    D3DDEVICE_CREATION_PARAMETERS params{};
    if (FAILED(device->GetCreationParameters(&params))) return nullptr;
    if (params.BehaviorFlags & D3DCREATE_PUREDEVICE) return new (std::nothrow) CPureDeviceStateManager(device);
    return new (std::nothrow) CBaseStateManager(device);
}

bool S_3DEndFrame() {
    IDirect3DDevice9* device = Device();
    if (!g_VideoRecord || !device) return false;
    D3DCAPS9 caps{};
    return SUCCEEDED(device->GetDeviceCaps(&caps)) && caps.DeviceType == D3DDEVTYPE_HAL;
}

void S_3DReleaseDeviceObjects() {
    ++g_RendererStandInCounts.releaseDeviceObjects;
    if (g_RendererDeviceObject && g_RendererDeviceObject->onLost)
        g_RendererDeviceObject->onLost(g_RendererDeviceObject);
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

void S_3DInitPostProcessFX() { ++g_RendererStandInCounts.postProcess; }

void S_3DInitEnviMapRender() { ++g_RendererStandInCounts.enviMap; }

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
