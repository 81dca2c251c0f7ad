// The cube-face renderer of our D3DX subset, over the device's own calls.
#include "platform/d3dx/envmap.h"

namespace {

class RenderToEnvMap final : public ID3DXRenderToEnvMap {
public:
    RenderToEnvMap(IDirect3DDevice9* device, const D3DXRTE_DESC& desc) : device_(device), desc_(desc) {
        device_->AddRef();
    }

    ULONG AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG Release() override {
        int left = --refs_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left < 0 ? 0 : left);
    }
    HRESULT GetDevice(IDirect3DDevice9** out) override {
        if (!out) return D3DERR_INVALIDCALL;
        device_->AddRef();
        *out = device_;
        return D3D_OK;
    }
    HRESULT GetDesc(D3DXRTE_DESC* out) override {
        if (!out) return D3DERR_INVALIDCALL;
        *out = desc_;
        return D3D_OK;
    }

    HRESULT OnResetDevice() override {
        if (!desc_.DepthStencil || depth_) return D3D_OK;
        return device_->CreateDepthStencilSurface(desc_.Size, desc_.Size, desc_.DepthStencilFormat, D3DMULTISAMPLE_NONE,
                                                  0, 1, &depth_, nullptr);
    }
    HRESULT OnLostDevice() override {
        if (cube_) End(D3DX_FILTER_NONE);
        if (depth_) depth_->Release();
        depth_ = nullptr;
        return D3D_OK;
    }

    HRESULT BeginCube(IDirect3DCubeTexture9* cube) override {
        if (!cube || cube_) return D3DERR_INVALIDCALL;
        D3DSURFACE_DESC level{};
        if (FAILED(cube->GetLevelDesc(0, &level)) || level.Width != desc_.Size || level.Format != desc_.Format ||
            !(level.Usage & D3DUSAGE_RENDERTARGET))
            return D3DERR_INVALIDCALL;
        HRESULT hr = OnResetDevice();
        if (FAILED(hr)) return hr;
        hr = device_->GetRenderTarget(0, &savedTarget_);
        if (FAILED(hr)) return hr;
        // A device without a depth buffer answers NOTFOUND: nothing to put back.
        device_->GetDepthStencilSurface(&savedDepth_);
        cube->AddRef();
        cube_ = cube;
        return D3D_OK;
    }

    HRESULT Face(D3DCUBEMAP_FACES face, DWORD) override {
        if (!cube_ || face > D3DCUBEMAP_FACE_NEGATIVE_Z) return D3DERR_INVALIDCALL;
        IDirect3DSurface9* surface = nullptr;
        HRESULT hr = cube_->GetCubeMapSurface(face, 0, &surface);
        if (FAILED(hr)) return hr;
        hr = device_->SetRenderTarget(0, surface);
        surface->Release();
        if (FAILED(hr)) return hr;
        return device_->SetDepthStencilSurface(depth_);
    }

    HRESULT End(DWORD) override {
        if (!cube_) return D3DERR_INVALIDCALL;
        HRESULT hr = device_->SetRenderTarget(0, savedTarget_);
        HRESULT hrDepth = device_->SetDepthStencilSurface(savedDepth_);
        if (savedTarget_) savedTarget_->Release();
        if (savedDepth_) savedDepth_->Release();
        savedTarget_ = savedDepth_ = nullptr;
        // A cube made with automatic mips fills its lower levels now.
        cube_->GenerateMipSubLevels();
        cube_->Release();
        cube_ = nullptr;
        return FAILED(hr) ? hr : hrDepth;
    }

private:
    ~RenderToEnvMap() override {
        OnLostDevice();
        device_->Release();
    }

    int refs_ = 1;
    IDirect3DDevice9* device_;
    D3DXRTE_DESC desc_;
    IDirect3DSurface9* depth_ = nullptr;
    IDirect3DCubeTexture9* cube_ = nullptr;
    IDirect3DSurface9* savedTarget_ = nullptr;
    IDirect3DSurface9* savedDepth_ = nullptr;
};

}  // namespace

HRESULT D3DXCreateRenderToEnvMap(IDirect3DDevice9* device, UINT size, UINT mipLevels, D3DFORMAT format,
                                 BOOL depthStencil, D3DFORMAT depthStencilFormat, ID3DXRenderToEnvMap** out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (!device || size == 0) return D3DERR_INVALIDCALL;
    auto* env = new RenderToEnvMap(device, {size, mipLevels, format, depthStencil, depthStencilFormat});
    HRESULT hr = env->OnResetDevice();
    if (FAILED(hr)) {
        env->Release();
        return hr;
    }
    *out = env;
    return D3D_OK;
}
