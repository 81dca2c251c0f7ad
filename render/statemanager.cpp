#include "render/statemanager.h"

#include <cstring>
#include <new>

// ---------------------------------------------------------------- forwarding

CBaseStateManager::CBaseStateManager(IDirect3DDevice9* d) : device(d) { device->AddRef(); }

CBaseStateManager::~CBaseStateManager() { device->Release(); }

HRESULT CBaseStateManager::QueryInterface(const GUID& iid, void** out) {
    if (!out) return E_POINTER;
    if (std::memcmp(&iid, &IID_IUnknown, sizeof iid) == 0 ||
        std::memcmp(&iid, &IID_ID3DXEffectStateManager, sizeof iid) == 0) {
        *out = static_cast<ID3DXEffectStateManager*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG CBaseStateManager::AddRef() { return static_cast<ULONG>(++refCount); }

ULONG CBaseStateManager::Release() {
    int32_t left = --refCount;
    if (left != 0) return static_cast<ULONG>(left);
    delete this;
    return 0;
}

HRESULT CBaseStateManager::SetTransform(D3DTRANSFORMSTATETYPE s, const D3DMATRIX* m) {
    return device->SetTransform(s, m);
}
HRESULT CBaseStateManager::SetMaterial(const D3DMATERIAL9* m) { return device->SetMaterial(m); }
HRESULT CBaseStateManager::SetLight(DWORD i, const D3DLIGHT9* l) { return device->SetLight(i, l); }
HRESULT CBaseStateManager::LightEnable(DWORD i, BOOL e) { return device->LightEnable(i, e); }
HRESULT CBaseStateManager::SetRenderState(D3DRENDERSTATETYPE s, DWORD v) { return device->SetRenderState(s, v); }
HRESULT CBaseStateManager::SetTexture(DWORD s, IDirect3DBaseTexture9* t) { return device->SetTexture(s, t); }
HRESULT CBaseStateManager::SetTextureStageState(DWORD s, D3DTEXTURESTAGESTATETYPE t, DWORD v) {
    return device->SetTextureStageState(s, t, v);
}
HRESULT CBaseStateManager::SetSamplerState(DWORD s, D3DSAMPLERSTATETYPE t, DWORD v) {
    return device->SetSamplerState(s, t, v);
}
HRESULT CBaseStateManager::SetNPatchMode(float n) { return device->SetNPatchMode(n); }
HRESULT CBaseStateManager::SetFVF(DWORD f) { return device->SetFVF(f); }
HRESULT CBaseStateManager::SetVertexShader(IDirect3DVertexShader9* s) { return device->SetVertexShader(s); }
HRESULT CBaseStateManager::SetVertexShaderConstantF(UINT r, const float* v, UINT n) {
    return device->SetVertexShaderConstantF(r, v, n);
}
HRESULT CBaseStateManager::SetVertexShaderConstantI(UINT r, const int* v, UINT n) {
    return device->SetVertexShaderConstantI(r, v, n);
}
HRESULT CBaseStateManager::SetVertexShaderConstantB(UINT r, const BOOL* v, UINT n) {
    return device->SetVertexShaderConstantB(r, v, n);
}
HRESULT CBaseStateManager::SetPixelShader(IDirect3DPixelShader9* s) { return device->SetPixelShader(s); }
HRESULT CBaseStateManager::SetPixelShaderConstantF(UINT r, const float* v, UINT n) {
    return device->SetPixelShaderConstantF(r, v, n);
}
HRESULT CBaseStateManager::SetPixelShaderConstantI(UINT r, const int* v, UINT n) {
    return device->SetPixelShaderConstantI(r, v, n);
}
HRESULT CBaseStateManager::SetPixelShaderConstantB(UINT r, const BOOL* v, UINT n) {
    return device->SetPixelShaderConstantB(r, v, n);
}
void CBaseStateManager::ResetCachedState() {
    for (DWORD stage = 0; stage < 10; ++stage) device->SetTexture(stage, nullptr);
}
HRESULT CBaseStateManager::SetVertexDeclaration(IDirect3DVertexDeclaration9* d) {
    return device->SetVertexDeclaration(d);
}
HRESULT CBaseStateManager::SetStreamSource(UINT s, IDirect3DVertexBuffer9* b, UINT o, UINT st) {
    return device->SetStreamSource(s, b, o, st);
}
HRESULT CBaseStateManager::SetIndices(IDirect3DIndexBuffer9* b) { return device->SetIndices(b); }

// ---------------------------------------------------------------- caching

bool S_3DVec4ArrayDiffers(const float (*cache)[4], const float* values, UINT count) {
    for (UINT r = count; r-- > 0;)
        for (int c = 0; c < 4; ++c)
            if (!(cache[r][c] == values[r * 4 + c])) return true;  // unordered counts as different
    return false;
}

void S_3DCopyVec4Array(float (*cache)[4], const float* values, UINT count) {
    for (UINT r = count; r-- > 0;)
        for (int c = 0; c < 4; ++c) cache[r][c] = values[r * 4 + c];
}

namespace {
void ForgetReleased(void* manager, const void* object) {
    static_cast<CPureDeviceStateManager*>(manager)->ForgetObject(object);
}
}  // namespace

CPureDeviceStateManager::CPureDeviceStateManager(IDirect3DDevice9* d) : CBaseStateManager(d) {
    D3D9_AddReleaseListener(ForgetReleased, this);
}

CPureDeviceStateManager::~CPureDeviceStateManager() { D3D9_RemoveReleaseListener(ForgetReleased, this); }

// The device unbinds an object as it goes; the caches follow it, so they still
// say what the device holds.
void CPureDeviceStateManager::ForgetObject(const void* object) {
    if (!object) return;
    for (auto& t : textures)
        if (t == object) t = nullptr;
    if (vertexDeclaration == object) vertexDeclaration = nullptr;
    if (indexBuffer == object) indexBuffer = nullptr;
    if (vertexShader == object) vertexShader = nullptr;
    if (pixelShader == object) pixelShader = nullptr;
    if (streamSource.buffer == object) streamSource = {streamSource.stream, nullptr, 0, 0};
}

// The state maps take the new value before the device call and keep it even
// when the call fails; true when the call can be dropped.
template <class Key>
static bool SameAsCached(std::map<Key, DWORD>& map, Key key, DWORD value) {
    auto it = map.find(key);
    if (it == map.end()) {
        map.emplace(key, value);
        return false;
    }
    if (it->second == value) return true;
    it->second = value;
    return false;
}

HRESULT CPureDeviceStateManager::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (SameAsCached(renderStates, static_cast<int32_t>(state), value)) return S_OK;
    return device->SetRenderState(state, value);
}

HRESULT CPureDeviceStateManager::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    if (sampler < 10 && SameAsCached(samplerStates[sampler], static_cast<DWORD>(type), value)) return S_OK;
    return device->SetSamplerState(sampler, type, value);
}

HRESULT CPureDeviceStateManager::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    if (stage < 10 && SameAsCached(stageStates[stage], static_cast<DWORD>(type), value)) return S_OK;
    return device->SetTextureStageState(stage, type, value);
}

HRESULT CPureDeviceStateManager::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
    if (stage < 10 && textures[stage] == texture) return S_OK;
    lastResult = device->SetTexture(stage, texture);
    if (SUCCEEDED(lastResult) && stage < 10) textures[stage] = texture;
    return lastResult;
}

// Declaration, indices and shaders: one pointer each, cached after success.
template <class T, class Call>
static HRESULT SetCachedPointer(T*& cached, T* value, HRESULT& lastResult, Call call) {
    if (cached == value) return S_OK;
    lastResult = call();
    if (SUCCEEDED(lastResult)) cached = value;
    return lastResult;
}

HRESULT CPureDeviceStateManager::SetVertexDeclaration(IDirect3DVertexDeclaration9* d) {
    return SetCachedPointer(vertexDeclaration, d, lastResult, [&] { return device->SetVertexDeclaration(d); });
}
HRESULT CPureDeviceStateManager::SetIndices(IDirect3DIndexBuffer9* b) {
    return SetCachedPointer(indexBuffer, b, lastResult, [&] { return device->SetIndices(b); });
}
HRESULT CPureDeviceStateManager::SetVertexShader(IDirect3DVertexShader9* s) {
    return SetCachedPointer(vertexShader, s, lastResult, [&] { return device->SetVertexShader(s); });
}
HRESULT CPureDeviceStateManager::SetPixelShader(IDirect3DPixelShader9* s) {
    return SetCachedPointer(pixelShader, s, lastResult, [&] { return device->SetPixelShader(s); });
}

HRESULT CPureDeviceStateManager::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset,
                                                 UINT stride) {
    if (streamSource.stream == stream && streamSource.buffer == buffer && streamSource.offset == offset &&
        streamSource.stride == stride)
        return S_OK;
    lastResult = device->SetStreamSource(stream, buffer, offset, stride);
    if (SUCCEEDED(lastResult)) streamSource = {stream, buffer, offset, stride};
    return lastResult;
}

HRESULT CPureDeviceStateManager::SetVertexShaderConstantB(UINT start, const BOOL* values, UINT count) {
    // Only a single register is compared; a call that sets nothing is given
    // no value to compare and goes to the device.
    if (count == 1 && start < 16 && values && vsBoolConstants[start] == values[0]) return S_OK;
    lastResult = device->SetVertexShaderConstantB(start, values, count);
    if (SUCCEEDED(lastResult) && values)
        for (UINT i = 0; i < count && start + i < 16; ++i) vsBoolConstants[start + i] = values[i];
    return lastResult;
}

// Float constants: a range that runs past register 255 goes to the device
// whole and uncached, so the 256-register caches are never read or written
// out of range.
static HRESULT SetFloatConstants(float (*cache)[4], UINT start, const float* values, UINT count, HRESULT& lastResult,
                                 HRESULT (IDirect3DDevice9::*set)(UINT, const float*, UINT), IDirect3DDevice9* device) {
    if (start >= 256 || count > 256 - start || !values) return (device->*set)(start, values, count);
    if (!S_3DVec4ArrayDiffers(cache + start, values, count)) return S_OK;
    lastResult = (device->*set)(start, values, count);
    if (SUCCEEDED(lastResult)) S_3DCopyVec4Array(cache + start, values, count);
    return lastResult;
}

HRESULT CPureDeviceStateManager::SetVertexShaderConstantF(UINT start, const float* values, UINT count) {
    return SetFloatConstants(vsFloatConstants, start, values, count, lastResult,
                             &IDirect3DDevice9::SetVertexShaderConstantF, device);
}

HRESULT CPureDeviceStateManager::SetPixelShaderConstantF(UINT start, const float* values, UINT count) {
    return SetFloatConstants(psFloatConstants, start, values, count, lastResult,
                             &IDirect3DDevice9::SetPixelShaderConstantF, device);
}

void CPureDeviceStateManager::ResetCachedState() {
    renderStates.clear();
    for (auto& m : samplerStates) m.clear();
    for (auto& m : stageStates) m.clear();
    for (auto& t : textures) t = nullptr;
    for (DWORD stage = 0; stage < 10; ++stage) device->SetTexture(stage, nullptr);
    vertexDeclaration = nullptr;
    indexBuffer = nullptr;
    vertexShader = nullptr;
    pixelShader = nullptr;
    streamSource = {};
    std::memset(vsBoolConstants, 0, sizeof vsBoolConstants);
    std::memset(vsFloatConstants, 0, sizeof vsFloatConstants);
    std::memset(psFloatConstants, 0, sizeof psFloatConstants);
}

// ---------------------------------------------------------------- creation

CStateManagerInterface* S_3DCreateStateManager(IDirect3DDevice9* device) {
    if (!device) return nullptr;
    D3DDEVICE_CREATION_PARAMETERS params{};
    if (FAILED(device->GetCreationParameters(&params))) return nullptr;
    if (params.BehaviorFlags & D3DCREATE_PUREDEVICE) return new (std::nothrow) CPureDeviceStateManager(device);
    return new (std::nothrow) CBaseStateManager(device);
}
