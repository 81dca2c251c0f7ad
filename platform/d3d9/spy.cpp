#include "platform/d3d9/spy.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/d3d9/internal.h"
#include "platform/d3d9/seam.h"

namespace {

// A buffer of the spy: bytes in memory and nothing else.
template <class Base, class Desc>
class SpyBuffer final : public Base {
public:
    SpyBuffer(D3D9SpyDevice* device, D3DRESOURCETYPE type, UINT size, DWORD usage, D3DPOOL pool, D3DFORMAT format,
              DWORD fvf)
        : device_(device), type_(type), usage_(usage), pool_(pool), format_(format), fvf_(fvf), bytes_(size, 0) {
        device_->AddRef();
        ++device_->liveObjects;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG Release() override {
        int left = --refs_;
        if (left == 0) {
            D3D9SpyDevice* dev = device_;
            --dev->liveObjects;
            D3D9_TellReleased(static_cast<Base*>(this));
            delete this;
            dev->Release();
        }
        return static_cast<ULONG>(left < 0 ? 0 : left);
    }
    HRESULT GetDevice(IDirect3DDevice9** out) override {
        if (!out) return D3DERR_INVALIDCALL;
        device_->AddRef();
        *out = device_;
        return D3D_OK;
    }
    D3DRESOURCETYPE GetType() override { return type_; }
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override {
        HRESULT hr = device_->Log(type_ == D3DRTYPE_VERTEXBUFFER ? "VB::Lock" : "IB::Lock", "");
        if (!data) return D3DERR_INVALIDCALL;
        *data = nullptr;
        if (FAILED(hr)) return hr;
        if (offset > bytes_.size() || size > bytes_.size() - offset) return D3DERR_INVALIDCALL;
        if (flags & D3DLOCK_DISCARD) std::vector<uint8_t>(bytes_.size(), 0).swap(bytes_);
        *data = bytes_.data() + offset;
        return D3D_OK;
    }
    HRESULT Unlock() override { return D3D_OK; }
    HRESULT GetDesc(Desc* desc) override {
        if (!desc) return D3DERR_INVALIDCALL;
        Fill(desc);
        return D3D_OK;
    }

private:
    ~SpyBuffer() = default;
    void Fill(D3DVERTEXBUFFER_DESC* d) {
        *d = {D3DFMT_VERTEXDATA, type_, usage_, pool_, static_cast<UINT>(bytes_.size()), fvf_};
    }
    void Fill(D3DINDEXBUFFER_DESC* d) { *d = {format_, type_, usage_, pool_, static_cast<UINT>(bytes_.size())}; }
    D3D9SpyDevice* device_;
    D3DRESOURCETYPE type_;
    DWORD usage_;
    D3DPOOL pool_;
    D3DFORMAT format_;
    DWORD fvf_;
    std::vector<uint8_t> bytes_;
    int refs_ = 1;
};

std::string Args(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Args(const char* fmt, ...) {
    char text[160];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    return text;
}

std::string Floats(const float* v, UINT count) {
    std::string out;
    for (UINT i = 0; v && i < count * 4; ++i) {
        char f[32];
        snprintf(f, sizeof f, "%s%g", i ? "," : "", static_cast<double>(v[i]));
        out += f;
    }
    return out;
}

}  // namespace

D3D9SpyDevice::D3D9SpyDevice() {
    caps = D3D9_DefaultCaps();
    creation = {0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING};
}

ULONG D3D9SpyDevice::Release() {
    int left = --refs;
    if (left == 0) delete this;
    return static_cast<ULONG>(left < 0 ? 0 : left);
}

int D3D9SpyDevice::Count(const std::string& prefix) const {
    int n = 0;
    for (const auto& c : calls)
        if (c.compare(0, prefix.size(), prefix) == 0) ++n;
    return n;
}

HRESULT D3D9SpyDevice::Log(const char* name, const std::string& args) {
    calls.push_back(std::string(name) + "(" + args + ")");
    auto it = fail.find(name);
    if (it == fail.end() || it->second.empty()) return D3D_OK;
    HRESULT hr = it->second.front();
    it->second.pop_front();
    return hr;
}

HRESULT D3D9SpyDevice::GetDirect3D(IDirect3D9** d3d) {
    if (d3d) *d3d = nullptr;
    return D3DERR_NOTAVAILABLE;
}

HRESULT D3D9SpyDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT start, UINT count) {
    return Log("DrawPrimitive", Args("%d,%u,%u", static_cast<int>(type), start, count));
}

HRESULT D3D9SpyDevice::GetDeviceCaps(D3DCAPS9* out) {
    HRESULT hr = Log("GetDeviceCaps", "");
    if (FAILED(hr) || !out) return FAILED(hr) ? hr : D3DERR_INVALIDCALL;
    *out = caps;
    return D3D_OK;
}

HRESULT D3D9SpyDevice::GetDisplayMode(UINT, D3DDISPLAYMODE* mode) {
    if (!mode) return D3DERR_INVALIDCALL;
    *mode = {640, 480, 60, D3DFMT_X8R8G8B8};
    return D3D_OK;
}

HRESULT D3D9SpyDevice::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* params) {
    HRESULT hr = Log("GetCreationParameters", "");
    if (FAILED(hr)) return hr;
    if (!params) return D3DERR_INVALIDCALL;
    *params = creation;
    return D3D_OK;
}

HRESULT D3D9SpyDevice::GetBackBuffer(UINT, UINT, D3DBACKBUFFER_TYPE, IDirect3DSurface9** s) {
    if (s) *s = nullptr;
    return D3DERR_NOTAVAILABLE;
}
HRESULT D3D9SpyDevice::CreateTexture(UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DTexture9** t, void*) {
    if (t) *t = nullptr;
    Log("CreateTexture", "");
    return D3DERR_NOTAVAILABLE;
}
HRESULT D3D9SpyDevice::CreateCubeTexture(UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DCubeTexture9** t, void*) {
    if (t) *t = nullptr;
    return D3DERR_NOTAVAILABLE;
}
HRESULT D3D9SpyDevice::CreateRenderTarget(UINT, UINT, D3DFORMAT, D3DMULTISAMPLE_TYPE, DWORD, BOOL,
                                          IDirect3DSurface9** s, void*) {
    if (s) *s = nullptr;
    return D3DERR_NOTAVAILABLE;
}
HRESULT D3D9SpyDevice::CreateDepthStencilSurface(UINT, UINT, D3DFORMAT, D3DMULTISAMPLE_TYPE, DWORD, BOOL,
                                                 IDirect3DSurface9** s, void*) {
    if (s) *s = nullptr;
    return D3DERR_NOTAVAILABLE;
}
HRESULT D3D9SpyDevice::CreateOffscreenPlainSurface(UINT, UINT, D3DFORMAT, D3DPOOL, IDirect3DSurface9** s, void*) {
    if (s) *s = nullptr;
    return D3DERR_NOTAVAILABLE;
}
HRESULT D3D9SpyDevice::GetRenderTarget(DWORD, IDirect3DSurface9** s) {
    if (s) *s = nullptr;
    return D3DERR_NOTFOUND;
}
HRESULT D3D9SpyDevice::GetDepthStencilSurface(IDirect3DSurface9** s) {
    if (s) *s = nullptr;
    return D3DERR_NOTFOUND;
}

HRESULT D3D9SpyDevice::Clear(DWORD, const D3DRECT*, DWORD flags, D3DCOLOR colour, float, DWORD) {
    return Log("Clear", Args("0x%x,0x%x", flags, colour));
}
HRESULT D3D9SpyDevice::SetViewport(const D3DVIEWPORT9* v) {
    if (!v) return Log("SetViewport", "");
    return Log("SetViewport", Args("%u,%u,%u,%u", v->X, v->Y, v->Width, v->Height));
}

HRESULT D3D9SpyDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    return Log("SetRenderState", Args("%u,%u", state, value));
}
HRESULT D3D9SpyDevice::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
    return Log("SetTexture", Args("%u,%p", stage, static_cast<void*>(texture)));
}
HRESULT D3D9SpyDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    return Log("SetTextureStageState", Args("%u,%u,%u", stage, type, value));
}
HRESULT D3D9SpyDevice::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    return Log("SetSamplerState", Args("%u,%u,%u", sampler, type, value));
}

HRESULT D3D9SpyDevice::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                          IDirect3DVertexBuffer9** buffer, void*) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    HRESULT hr = Log("CreateVertexBuffer", Args("%u,%u,%u", length, usage, pool));
    if (FAILED(hr)) return hr;
    if (length == 0) return D3DERR_INVALIDCALL;
    *buffer = new SpyBuffer<IDirect3DVertexBuffer9, D3DVERTEXBUFFER_DESC>(this, D3DRTYPE_VERTEXBUFFER, length, usage,
                                                                          pool, D3DFMT_VERTEXDATA, fvf);
    return D3D_OK;
}

HRESULT D3D9SpyDevice::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                         IDirect3DIndexBuffer9** buffer, void*) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    HRESULT hr = Log("CreateIndexBuffer", Args("%u,%u,%u,%u", length, usage, format, pool));
    if (FAILED(hr)) return hr;
    if (length == 0 || (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32)) return D3DERR_INVALIDCALL;
    *buffer = new SpyBuffer<IDirect3DIndexBuffer9, D3DINDEXBUFFER_DESC>(this, D3DRTYPE_INDEXBUFFER, length, usage, pool,
                                                                        format, 0);
    return D3D_OK;
}

HRESULT D3D9SpyDevice::CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements, IDirect3DVertexDeclaration9** out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = nullptr;
    HRESULT hr = Log("CreateVertexDeclaration", "");
    if (FAILED(hr)) return hr;
    std::vector<D3DVERTEXELEMENT9> list;
    if (!D3D9_ReadDeclaration(elements, &list)) return D3DERR_INVALIDCALL;
    *out = new D3D9Declaration(this, list.data(), static_cast<UINT>(list.size()));
    return D3D_OK;
}

HRESULT D3D9SpyDevice::SetVertexDeclaration(IDirect3DVertexDeclaration9* d) {
    return Log("SetVertexDeclaration", Args("%p", static_cast<void*>(d)));
}
HRESULT D3D9SpyDevice::SetFVF(DWORD fvf) { return Log("SetFVF", Args("%u", fvf)); }
HRESULT D3D9SpyDevice::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) {
    return Log("SetStreamSource", Args("%u,%p,%u,%u", stream, static_cast<void*>(buffer), offset, stride));
}
HRESULT D3D9SpyDevice::SetIndices(IDirect3DIndexBuffer9* buffer) {
    return Log("SetIndices", Args("%p", static_cast<void*>(buffer)));
}
HRESULT D3D9SpyDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX*) {
    return Log("SetTransform", Args("%u", state));
}
HRESULT D3D9SpyDevice::SetLight(DWORD index, const D3DLIGHT9*) { return Log("SetLight", Args("%u", index)); }
HRESULT D3D9SpyDevice::LightEnable(DWORD index, BOOL enable) {
    return Log("LightEnable", Args("%u,%d", index, enable));
}
HRESULT D3D9SpyDevice::SetNPatchMode(float segments) {
    return Log("SetNPatchMode", Args("%g", static_cast<double>(segments)));
}
HRESULT D3D9SpyDevice::SetSoftwareVertexProcessing(BOOL software) {
    return Log("SetSoftwareVertexProcessing", Args("%d", software));
}
HRESULT D3D9SpyDevice::SetVertexShader(IDirect3DVertexShader9* shader) {
    return Log("SetVertexShader", Args("%p", static_cast<void*>(shader)));
}
HRESULT D3D9SpyDevice::SetPixelShader(IDirect3DPixelShader9* shader) {
    return Log("SetPixelShader", Args("%p", static_cast<void*>(shader)));
}
HRESULT D3D9SpyDevice::SetVertexShaderConstantF(UINT start, const float* values, UINT count) {
    return Log("SetVertexShaderConstantF", Args("%u,%u,", start, count) + Floats(values, count));
}
HRESULT D3D9SpyDevice::SetVertexShaderConstantI(UINT start, const int*, UINT count) {
    return Log("SetVertexShaderConstantI", Args("%u,%u", start, count));
}
HRESULT D3D9SpyDevice::SetVertexShaderConstantB(UINT start, const BOOL* values, UINT count) {
    std::string v;
    for (UINT i = 0; values && i < count; ++i) v += Args(",%d", values[i]);
    return Log("SetVertexShaderConstantB", Args("%u,%u", start, count) + v);
}
HRESULT D3D9SpyDevice::SetPixelShaderConstantF(UINT start, const float* values, UINT count) {
    return Log("SetPixelShaderConstantF", Args("%u,%u,", start, count) + Floats(values, count));
}
HRESULT D3D9SpyDevice::SetPixelShaderConstantI(UINT start, const int*, UINT count) {
    return Log("SetPixelShaderConstantI", Args("%u,%u", start, count));
}
HRESULT D3D9SpyDevice::SetPixelShaderConstantB(UINT start, const BOOL*, UINT count) {
    return Log("SetPixelShaderConstantB", Args("%u,%u", start, count));
}
