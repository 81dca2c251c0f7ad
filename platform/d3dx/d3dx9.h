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
class ID3DXEffectStateManager {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
    virtual HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) = 0;
    virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) = 0;
    virtual HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) = 0;

protected:
    virtual ~ID3DXEffectStateManager() = default;
};
