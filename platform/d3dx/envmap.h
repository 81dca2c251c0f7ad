// Drawing into the six faces of a cube texture: each face becomes the render
// target in turn, over a depth buffer of the object's own; End puts the
// device's target and depth buffer back and lets the cube make its mips.
#pragma once

#include "platform/d3d9/d3d9.h"
#include "platform/d3dx/d3dx9tex.h"  // D3DX_DEFAULT and the filters

struct D3DXRTE_DESC {
    UINT Size;
    UINT MipLevels;
    D3DFORMAT Format;
    BOOL DepthStencil;
    D3DFORMAT DepthStencilFormat;
};

class ID3DXRenderToEnvMap : public IUnknown {
public:
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    virtual HRESULT GetDesc(D3DXRTE_DESC* desc) = 0;
    // Starts a pass over the cube (its size and format must be the object's).
    virtual HRESULT BeginCube(IDirect3DCubeTexture9* cube) = 0;
    // Makes level 0 of the face the render target; the mip filter is unused.
    virtual HRESULT Face(D3DCUBEMAP_FACES face, DWORD mipFilter) = 0;
    // Ends the pass: the saved target and depth buffer come back.
    virtual HRESULT End(DWORD mipFilter) = 0;
    // The own depth buffer lives in the default pool: dropped before a device
    // reset, made again after it.
    virtual HRESULT OnLostDevice() = 0;
    virtual HRESULT OnResetDevice() = 0;
};

HRESULT D3DXCreateRenderToEnvMap(IDirect3DDevice9* device, UINT size, UINT mipLevels, D3DFORMAT format,
                                 BOOL depthStencil, D3DFORMAT depthStencilFormat, ID3DXRenderToEnvMap** out);
