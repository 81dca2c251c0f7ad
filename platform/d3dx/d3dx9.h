// Our D3DX 9 subset: the helpers the engine uses around the device.
#pragma once

#include "platform/d3d9/d3d9.h"

// "ps_1_1" ... "ps_3_0" from the device's pixel-shader version; null without one.
const char* D3DXGetPixelShaderProfile(IDirect3DDevice9* device);
const char* D3DXGetVertexShaderProfile(IDirect3DDevice9* device);

// Adjusts size, levels and format to what the device can make (the format falls
// back to the nearest one the device supports).
HRESULT D3DXCheckTextureRequirements(IDirect3DDevice9* device, UINT* width, UINT* height, UINT* levels, DWORD usage,
                                     D3DFORMAT* format, D3DPOOL pool);
HRESULT D3DXCheckCubeTextureRequirements(IDirect3DDevice9* device, UINT* size, UINT* levels, DWORD usage,
                                         D3DFORMAT* format, D3DPOOL pool);

// The effect state manager: the effect system sets device state through it.
// Each operation takes the arguments of the device method of the same name.
class ID3DXEffectStateManager : public IUnknown {
public:
    virtual HRESULT QueryInterface(const GUID& iid, void** out) = 0;
    virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) = 0;
    virtual HRESULT SetMaterial(const D3DMATERIAL9* material) = 0;
    virtual HRESULT SetLight(DWORD index, const D3DLIGHT9* light) = 0;
    virtual HRESULT LightEnable(DWORD index, BOOL enable) = 0;
    virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
    virtual HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) = 0;
    virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) = 0;
    virtual HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) = 0;
    virtual HRESULT SetNPatchMode(float segments) = 0;
    virtual HRESULT SetFVF(DWORD fvf) = 0;
    virtual HRESULT SetVertexShader(IDirect3DVertexShader9* shader) = 0;
    virtual HRESULT SetVertexShaderConstantF(UINT start, const float* values, UINT count) = 0;
    virtual HRESULT SetVertexShaderConstantI(UINT start, const int* values, UINT count) = 0;
    virtual HRESULT SetVertexShaderConstantB(UINT start, const BOOL* values, UINT count) = 0;
    virtual HRESULT SetPixelShader(IDirect3DPixelShader9* shader) = 0;
    virtual HRESULT SetPixelShaderConstantF(UINT start, const float* values, UINT count) = 0;
    virtual HRESULT SetPixelShaderConstantI(UINT start, const int* values, UINT count) = 0;
    virtual HRESULT SetPixelShaderConstantB(UINT start, const BOOL* values, UINT count) = 0;
};

constexpr GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID IID_ID3DXEffectStateManager = {
    0x79AAB587, 0x6DBC, 0x4FA7, {0x82, 0xDE, 0x37, 0xFA, 0x17, 0x81, 0xC5, 0xCE}};

// Meshes and the math helpers (mesh.cpp, math.cpp).
#include "platform/d3dx/d3dx9mesh.h"

// Rendering into cube faces (envmap.cpp).
#include "platform/d3dx/envmap.h"

// Effects (effect.cpp).
#include "platform/d3dx/d3dx9effect.h"
