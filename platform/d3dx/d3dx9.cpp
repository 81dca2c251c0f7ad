// D3DX helpers around the device: shader profiles and texture requirements.
#include "platform/d3dx/d3dx9.h"

#include <algorithm>
#include <vector>

const char* D3DXGetPixelShaderProfile(IDirect3DDevice9* device) {
    D3DCAPS9 caps{};
    if (!device || FAILED(device->GetDeviceCaps(&caps))) return nullptr;
    DWORD major = D3DSHADER_VERSION_MAJOR(caps.PixelShaderVersion);
    DWORD minor = D3DSHADER_VERSION_MINOR(caps.PixelShaderVersion);
    if (major >= 3) return "ps_3_0";
    if (major == 2) {
        // The extended 2.x profiles are told apart by what the hardware offers.
        if (caps.PS20Caps.NumTemps >= 32 && caps.PS20Caps.NumInstructionSlots >= 512) return "ps_2_a";
        if (caps.PS20Caps.NumInstructionSlots >= 512) return "ps_2_b";
        return "ps_2_0";
    }
    if (major == 1) {
        if (minor >= 4) return "ps_1_4";
        if (minor == 3) return "ps_1_3";
        if (minor == 2) return "ps_1_2";
        return "ps_1_1";
    }
    return nullptr;
}

const char* D3DXGetVertexShaderProfile(IDirect3DDevice9* device) {
    D3DCAPS9 caps{};
    if (!device || FAILED(device->GetDeviceCaps(&caps))) return nullptr;
    DWORD major = D3DSHADER_VERSION_MAJOR(caps.VertexShaderVersion);
    if (major >= 3) return "vs_3_0";
    if (major == 2) return "vs_2_0";
    if (major == 1) return "vs_1_1";
    return nullptr;
}

// Formats tried in turn when the asked one is not available, nearest first.
static std::vector<D3DFORMAT> Fallbacks(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_G16R16:
        case D3DFMT_A2B10G10R10:
        case D3DFMT_A2R10G10B10:
            return {D3DFMT_A2B10G10R10, D3DFMT_A2R10G10B10, D3DFMT_A16B16G16R16, D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8};
        case D3DFMT_A16B16G16R16: return {D3DFMT_A2B10G10R10, D3DFMT_A2R10G10B10, D3DFMT_A8R8G8B8};
        case D3DFMT_L16: return {D3DFMT_L8, D3DFMT_A8L8, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8};
        case D3DFMT_L8: return {D3DFMT_A8L8, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8};
        case D3DFMT_A8L8:
        case D3DFMT_A8: return {D3DFMT_A8L8, D3DFMT_A8R8G8B8};
        case D3DFMT_X8R8G8B8:
        case D3DFMT_R8G8B8: return {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_R5G6B5};
        case D3DFMT_R5G6B5:
        case D3DFMT_X1R5G5B5: return {D3DFMT_R5G6B5, D3DFMT_X1R5G5B5, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8};
        case D3DFMT_A1R5G5B5:
        case D3DFMT_A4R4G4B4: return {D3DFMT_A1R5G5B5, D3DFMT_A4R4G4B4, D3DFMT_A8R8G8B8};
        default: return {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8};
    }
}

static HRESULT CheckRequirements(IDirect3DDevice9* device, D3DRESOURCETYPE type, UINT* width, UINT* height,
                                 UINT* levels, DWORD usage, D3DFORMAT* format) {
    if (!device) return D3DERR_INVALIDCALL;
    D3DCAPS9 caps{};
    D3DDEVICE_CREATION_PARAMETERS creation{};
    D3DDISPLAYMODE mode{};
    IDirect3D9* d3d = nullptr;
    if (FAILED(device->GetDeviceCaps(&caps)) || FAILED(device->GetCreationParameters(&creation)) ||
        FAILED(device->GetDisplayMode(0, &mode)) || FAILED(device->GetDirect3D(&d3d)))
        return D3DERR_INVALIDCALL;
    auto usable = [&](D3DFORMAT f) {
        return SUCCEEDED(d3d->CheckDeviceFormat(creation.AdapterOrdinal, D3DDEVTYPE_HAL, mode.Format, usage, type, f));
    };
    HRESULT result = D3D_OK;
    if (format) {
        if (!usable(*format)) {
            D3DFORMAT chosen = D3DFMT_UNKNOWN;
            for (D3DFORMAT f : Fallbacks(*format))
                if (usable(f)) {
                    chosen = f;
                    break;
                }
            if (chosen == D3DFMT_UNKNOWN) result = D3DERR_NOTAVAILABLE;
            else *format = chosen;
        }
    }
    d3d->Release();
    UINT w = width ? *width : 256, h = height ? *height : 256;
    if (w == 0) w = 256;
    if (h == 0) h = 256;
    w = std::min<UINT>(w, caps.MaxTextureWidth);
    h = std::min<UINT>(h, caps.MaxTextureHeight);
    if (width) *width = w;
    if (height) *height = h;
    if (levels) {
        UINT full = 1;
        for (UINT a = w, b = h; a > 1 || b > 1; a = std::max(1u, a / 2), b = std::max(1u, b / 2)) ++full;
        if (*levels == 0 || *levels > full) *levels = full;
    }
    return result;
}

HRESULT D3DXCheckTextureRequirements(IDirect3DDevice9* device, UINT* width, UINT* height, UINT* levels, DWORD usage,
                                     D3DFORMAT* format, D3DPOOL) {
    return CheckRequirements(device, D3DRTYPE_TEXTURE, width, height, levels, usage, format);
}

HRESULT D3DXCheckCubeTextureRequirements(IDirect3DDevice9* device, UINT* size, UINT* levels, DWORD usage,
                                         D3DFORMAT* format, D3DPOOL) {
    UINT other = size ? *size : 256;
    HRESULT hr = CheckRequirements(device, D3DRTYPE_CUBETEXTURE, size, &other, levels, usage, format);
    if (size) *size = std::min(*size, other);
    return hr;
}
