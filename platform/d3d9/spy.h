// A Direct3D 9 device without GL for tests: every call is written to a call
// log, any call can be made to fail, and buffers and declarations live in
// memory. The effect state managers and the mesh code are tested through it.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"

class D3D9SpyDevice final : public IDirect3DDevice9 {
public:
    D3D9SpyDevice();

    // "SetRenderState(27,1)" and the like, in call order.
    std::vector<std::string> calls;
    // Answers by method name: the front answer is taken for the next call of
    // that name (D3D_OK = behave normally).
    std::map<std::string, std::deque<HRESULT>> fail;
    D3DDEVICE_CREATION_PARAMETERS creation{};
    D3DCAPS9 caps{};
    // Live buffers and declarations made by this device.
    int liveObjects = 0;
    int refs = 1;

    // Calls whose log entry starts with the text.
    int Count(const std::string& prefix) const;

    ULONG AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG Release() override;
    HRESULT TestCooperativeLevel() override { return Log("TestCooperativeLevel", ""); }
    HRESULT GetDirect3D(IDirect3D9** d3d) override;
    HRESULT GetDeviceCaps(D3DCAPS9* out) override;
    HRESULT GetDisplayMode(UINT, D3DDISPLAYMODE* mode) override;
    HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* params) override;
    HRESULT Reset(D3DPRESENT_PARAMETERS*) override { return Log("Reset", ""); }
    HRESULT Present(const RECT*, const RECT*, HWND, const void*) override { return Log("Present", ""); }
    HRESULT GetBackBuffer(UINT, UINT, D3DBACKBUFFER_TYPE, IDirect3DSurface9** s) override;
    void SetGammaRamp(UINT, DWORD, const D3DGAMMARAMP*) override { Log("SetGammaRamp", ""); }
    void GetGammaRamp(UINT, D3DGAMMARAMP*) override {}
    HRESULT CreateTexture(UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DTexture9** t, void*) override;
    HRESULT CreateCubeTexture(UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DCubeTexture9** t, void*) override;
    HRESULT CreateRenderTarget(UINT, UINT, D3DFORMAT, D3DMULTISAMPLE_TYPE, DWORD, BOOL, IDirect3DSurface9** s,
                               void*) override;
    HRESULT CreateDepthStencilSurface(UINT, UINT, D3DFORMAT, D3DMULTISAMPLE_TYPE, DWORD, BOOL, IDirect3DSurface9** s,
                                      void*) override;
    HRESULT CreateOffscreenPlainSurface(UINT, UINT, D3DFORMAT, D3DPOOL, IDirect3DSurface9** s, void*) override;
    HRESULT GetRenderTargetData(IDirect3DSurface9*, IDirect3DSurface9*) override {
        return Log("GetRenderTargetData", "");
    }
    HRESULT GetFrontBufferData(UINT, IDirect3DSurface9*) override { return Log("GetFrontBufferData", ""); }
    HRESULT StretchRect(IDirect3DSurface9*, const RECT*, IDirect3DSurface9*, const RECT*,
                        D3DTEXTUREFILTERTYPE) override {
        return Log("StretchRect", "");
    }
    HRESULT ColorFill(IDirect3DSurface9*, const RECT*, D3DCOLOR) override { return Log("ColorFill", ""); }
    HRESULT SetRenderTarget(DWORD, IDirect3DSurface9*) override { return Log("SetRenderTarget", ""); }
    HRESULT GetRenderTarget(DWORD, IDirect3DSurface9** s) override;
    HRESULT SetDepthStencilSurface(IDirect3DSurface9*) override { return Log("SetDepthStencilSurface", ""); }
    HRESULT GetDepthStencilSurface(IDirect3DSurface9** s) override;
    HRESULT BeginScene() override { return Log("BeginScene", ""); }
    HRESULT EndScene() override { return Log("EndScene", ""); }
    // "Clear(flags,colour)" in hex; "SetViewport(x,y,w,h)".
    HRESULT Clear(DWORD, const D3DRECT*, DWORD flags, D3DCOLOR colour, float, DWORD) override;
    HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;
    HRESULT GetViewport(D3DVIEWPORT9*) override { return Log("GetViewport", ""); }
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE, DWORD*) override { return D3DERR_INVALIDCALL; }
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
    HRESULT GetTexture(DWORD, IDirect3DBaseTexture9**) override { return D3DERR_INVALIDCALL; }
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT GetTextureStageState(DWORD, D3DTEXTURESTAGESTATETYPE, DWORD*) override { return D3DERR_INVALIDCALL; }
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT GetSamplerState(DWORD, D3DSAMPLERSTATETYPE, DWORD*) override { return D3DERR_INVALIDCALL; }
    UINT GetAvailableTextureMem() override { return 256u << 20; }
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                               void*) override;
    HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DIndexBuffer9** buffer,
                              void*) override;
    HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements, IDirect3DVertexDeclaration9** out) override;
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* d) override;
    HRESULT GetVertexDeclaration(IDirect3DVertexDeclaration9**) override { return D3DERR_INVALIDCALL; }
    HRESULT SetFVF(DWORD fvf) override;
    HRESULT GetFVF(DWORD*) override { return D3DERR_INVALIDCALL; }
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) override;
    HRESULT GetStreamSource(UINT, IDirect3DVertexBuffer9**, UINT*, UINT*) override { return D3DERR_INVALIDCALL; }
    HRESULT SetIndices(IDirect3DIndexBuffer9* buffer) override;
    HRESULT GetIndices(IDirect3DIndexBuffer9**) override { return D3DERR_INVALIDCALL; }
    // "DrawPrimitive(type,start,count)".
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT start, UINT count) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE, int, UINT, UINT, UINT, UINT) override {
        return Log("DrawIndexedPrimitive", "");
    }
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE, UINT, const void*, UINT) override { return Log("DrawPrimitiveUP", ""); }
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX*) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE, D3DMATRIX*) override { return D3DERR_INVALIDCALL; }
    HRESULT SetMaterial(const D3DMATERIAL9*) override { return Log("SetMaterial", ""); }
    HRESULT GetMaterial(D3DMATERIAL9*) override { return D3DERR_INVALIDCALL; }
    HRESULT SetLight(DWORD index, const D3DLIGHT9*) override;
    HRESULT GetLight(DWORD, D3DLIGHT9*) override { return D3DERR_INVALIDCALL; }
    HRESULT LightEnable(DWORD index, BOOL enable) override;
    HRESULT GetLightEnable(DWORD, BOOL*) override { return D3DERR_INVALIDCALL; }
    HRESULT SetNPatchMode(float segments) override;
    float GetNPatchMode() override { return 0.0f; }
    HRESULT SetSoftwareVertexProcessing(BOOL software) override;
    BOOL GetSoftwareVertexProcessing() override { return 0; }
    HRESULT SetVertexShader(IDirect3DVertexShader9* shader) override;
    HRESULT GetVertexShader(IDirect3DVertexShader9**) override { return D3DERR_INVALIDCALL; }
    HRESULT SetPixelShader(IDirect3DPixelShader9* shader) override;
    HRESULT GetPixelShader(IDirect3DPixelShader9**) override { return D3DERR_INVALIDCALL; }
    HRESULT SetVertexShaderConstantF(UINT start, const float* values, UINT count) override;
    HRESULT SetVertexShaderConstantI(UINT start, const int* values, UINT count) override;
    HRESULT SetVertexShaderConstantB(UINT start, const BOOL* values, UINT count) override;
    HRESULT SetPixelShaderConstantF(UINT start, const float* values, UINT count) override;
    HRESULT SetPixelShaderConstantI(UINT start, const int* values, UINT count) override;
    HRESULT SetPixelShaderConstantB(UINT start, const BOOL* values, UINT count) override;

    HRESULT Log(const char* name, const std::string& args);

private:
    ~D3D9SpyDevice() override = default;
};
