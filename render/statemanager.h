// The effect state managers: every effect sets device state through one shared
// manager. The forwarding kind passes each call to the device; the caching kind,
// used on a pure device (which cannot report its state), drops calls that would
// set what the device already holds.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>

#include "platform/d3dx/d3dx9.h"

class CStateManagerInterface : public ID3DXEffectStateManager {
public:
    // Forgets what the caches believe the device holds, and unbinds the
    // textures of stages 0-9 on the device.
    virtual void ResetCachedState() = 0;
    virtual HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) = 0;
    virtual HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) = 0;
    virtual HRESULT SetIndices(IDirect3DIndexBuffer9* buffer) = 0;

protected:
    ~CStateManagerInterface() override = default;
};

class CBaseStateManager : public CStateManagerInterface {
public:
    explicit CBaseStateManager(IDirect3DDevice9* device);

    HRESULT QueryInterface(const GUID& iid, void** out) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT SetMaterial(const D3DMATERIAL9* material) override;
    HRESULT SetLight(DWORD index, const D3DLIGHT9* light) override;
    HRESULT LightEnable(DWORD index, BOOL enable) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT SetNPatchMode(float segments) override;
    HRESULT SetFVF(DWORD fvf) override;
    HRESULT SetVertexShader(IDirect3DVertexShader9* shader) override;
    HRESULT SetVertexShaderConstantF(UINT start, const float* values, UINT count) override;
    HRESULT SetVertexShaderConstantI(UINT start, const int* values, UINT count) override;
    HRESULT SetVertexShaderConstantB(UINT start, const BOOL* values, UINT count) override;
    HRESULT SetPixelShader(IDirect3DPixelShader9* shader) override;
    HRESULT SetPixelShaderConstantF(UINT start, const float* values, UINT count) override;
    HRESULT SetPixelShaderConstantI(UINT start, const int* values, UINT count) override;
    HRESULT SetPixelShaderConstantB(UINT start, const BOOL* values, UINT count) override;
    void ResetCachedState() override;
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) override;
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) override;
    HRESULT SetIndices(IDirect3DIndexBuffer9* buffer) override;

    // Result of the last device call of a filtered operation (caching kind only).
    HRESULT LastResult() const { return lastResult; }

protected:
    ~CBaseStateManager() override;

    IDirect3DDevice9* device;
    std::atomic<int32_t> refCount{1};
    HRESULT lastResult = D3D_OK;
};

class CPureDeviceStateManager final : public CBaseStateManager {
public:
    explicit CPureDeviceStateManager(IDirect3DDevice9* device);

    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT SetVertexShader(IDirect3DVertexShader9* shader) override;
    HRESULT SetVertexShaderConstantF(UINT start, const float* values, UINT count) override;
    HRESULT SetVertexShaderConstantB(UINT start, const BOOL* values, UINT count) override;
    HRESULT SetPixelShader(IDirect3DPixelShader9* shader) override;
    HRESULT SetPixelShaderConstantF(UINT start, const float* values, UINT count) override;
    void ResetCachedState() override;
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) override;
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) override;
    HRESULT SetIndices(IDirect3DIndexBuffer9* buffer) override;

    // A device object is gone: every cache entry that names it is forgotten,
    // so that a new object made at its address reaches the device.
    void ForgetObject(const void* object);

private:
    ~CPureDeviceStateManager() override;

    std::map<int32_t, DWORD> renderStates;
    IDirect3DBaseTexture9* textures[10] = {};
    std::map<DWORD, DWORD> samplerStates[10];
    std::map<DWORD, DWORD> stageStates[10];
    BOOL vsBoolConstants[16] = {};
    float psFloatConstants[256][4] = {};
    float vsFloatConstants[256][4] = {};
    IDirect3DVertexDeclaration9* vertexDeclaration = nullptr;
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    IDirect3DVertexShader9* vertexShader = nullptr;
    IDirect3DPixelShader9* pixelShader = nullptr;
    // Stream number, buffer (a pointer, so widened), byte offset, stride.
    struct {
        UINT stream;
        IDirect3DVertexBuffer9* buffer;
        UINT offset, stride;
    } streamSource{};
};

// A manager for the device: the caching kind when it was created as a pure
// device, else the forwarding kind; null when its creation parameters cannot
// be read or memory runs out.
CStateManagerInterface* S_3DCreateStateManager(IDirect3DDevice9* device);

// True when any component of the count four-float registers differs (compared
// as floats, last register first: NaN always differs, +0 equals -0).
bool S_3DVec4ArrayDiffers(const float (*cache)[4], const float* values, UINT count);
void S_3DCopyVec4Array(float (*cache)[4], const float* values, UINT count);
