// Surfaces and textures behind bitmaps: the binding record, binding a surface to
// a bitmap, its channel description, release, and the format names.
#include "system/surfaces.h"

#include <cstring>

#include "base/ebm.h"
#include "base/log.h"
#include "base/memory.h"
#include "render/pixelformat.h"
#include "system/adapters.h"
#include "system/video.h"

static IDirect3DDevice9* Device() {
    return g_RendererState && g_RendererState->device ? g_RendererState->device->device : nullptr;
}

int S_NewSysEBM(EBM* bitmap) {
    if (!bitmap) return 0;
    if (bitmap->sys) return 1;
    bitmap->sys = Int_AllocRecord<SysEBM>(0);
    if (!bitmap->sys) {
        Qel_DPrintf(0, "OOM SysEBM struct\n");
        return 0;
    }
    return 1;
}

void S_FreeSysEBM(EBM* bitmap) {
    if (!bitmap || !bitmap->sys) return;
    Int_FreeRecord(bitmap->sys, 0);
    bitmap->sys = nullptr;
}

const char* S_FormatName(D3DFORMAT format) {
    switch (format) {
    case D3DFMT_UNKNOWN: return "UNKNOWN";
    case D3DFMT_R8G8B8: return "R8G8B8";
    case D3DFMT_A8R8G8B8: return "A8R8G8B8";
    case D3DFMT_X8R8G8B8: return "X8R8G8B8";
    case D3DFMT_R5G6B5: return "R5G6B5";
    case D3DFMT_X1R5G5B5: return "X1R5G5B5";
    case D3DFMT_A1R5G5B5: return "A1R5G5B5";
    case D3DFMT_A4R4G4B4: return "A4R4G4B4";
    case D3DFMT_R3G3B2: return "R3G3B2";
    case D3DFMT_A8: return "A8";
    case D3DFMT_A8R3G3B2: return "A8R3G3B2";
    case D3DFMT_X4R4G4B4: return "X4R4G4B4";
    case D3DFMT_A2B10G10R10: return "A2B10G10R10";
    case D3DFMT_G16R16: return "G16R16";
    case D3DFMT_A2R10G10B10: return "A2R10G10B10";
    case D3DFMT_A16B16G16R16: return "A16B16G16R16";
    case D3DFMT_A8P8: return "A8P8";
    case D3DFMT_P8: return "P8";
    case D3DFMT_L8: return "L8";
    case D3DFMT_A8L8: return "A8L8";
    case D3DFMT_A4L4: return "A4L4";
    case D3DFMT_V8U8: return "V8U8";
    case D3DFMT_L6V5U5: return "L6V5U5";
    case D3DFMT_X8L8V8U8: return "X8L8V8U8";
    case D3DFMT_Q8W8V8U8: return "Q8W8V8U8";
    case D3DFMT_V16U16: return "V16U16";
    case D3DFMT_D16_LOCKABLE: return "D16_LOCKABLE";
    case D3DFMT_D32: return "D32";
    case D3DFMT_D15S1: return "D15S1";
    case D3DFMT_D24S8: return "D24S8";
    case D3DFMT_D24X8: return "D24X8";
    case D3DFMT_D24X4S4: return "D24X4S4";
    case D3DFMT_D16: return "D16";
    case D3DFMT_L16: return "L16";
    case D3DFMT_VERTEXDATA: return "VERTEXDATA";
    case D3DFMT_INDEX16: return "INDEX16";
    case D3DFMT_INDEX32: return "INDEX32";
    case D3DFMT_DXT1: return "DXT1";
    case D3DFMT_DXT2: return "DXT2";
    case D3DFMT_DXT3: return "DXT3";
    case D3DFMT_DXT4: return "DXT4";
    case D3DFMT_DXT5: return "DXT5";
    case D3DFMT_YUY2: return "YUY2";
    case D3DFMT_UYVY: return "UYVY";
    default: return "???";
    }
}

// The pitch of a surface, learnt by locking it (render targets through a copy).
static int SurfacePitch(IDirect3DSurface9* surface, const D3DSURFACE_DESC& desc) {
    D3DLOCKED_RECT lr{};
    if ((desc.Usage & D3DUSAGE_RENDERTARGET) && desc.MultiSampleType >= D3DMULTISAMPLE_2_SAMPLES) return 0;
    if (desc.Usage & D3DUSAGE_RENDERTARGET) {
        IDirect3DDevice9* device = Device();
        IDirect3DSurface9* temp = nullptr;
        if (!device || FAILED(device->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format,
                                                                  D3DPOOL_SYSTEMMEM, &temp, nullptr)))
            return 0;
        int pitch = 0;
        device->GetRenderTargetData(surface, temp);
        HRESULT hr = temp->LockRect(&lr, nullptr, 0);
        if (FAILED(hr)) {
            Qel_DPrintf(0, "ERROR: locking tempDestSurf: %s\n", DXGetErrorString9A(hr));
        } else {
            pitch = lr.Pitch;
            temp->UnlockRect();
        }
        temp->Release();
        return pitch;
    }
    HRESULT hr = surface->LockRect(&lr, nullptr, D3DLOCK_NOSYSLOCK | D3DLOCK_READONLY | D3DLOCK_NO_DIRTY_UPDATE);
    if (FAILED(hr)) {
        Qel_DPrintf(0, "ERROR: locking d3ds: %s\n", DXGetErrorString9A(hr));
        return 0;
    }
    surface->UnlockRect();
    return lr.Pitch;
}

int S_SurfaceToEBM(EBM* bitmap, IDirect3DSurface9* surface) {
    if (!bitmap || !surface) return 0;
    D3DSURFACE_DESC desc{};
    HRESULT hr = surface->GetDesc(&desc);
    if (FAILED(hr)) {
        Qel_DPrintf(0, "Error getting surf. description: %s!\n", DXGetErrorString9A(hr));
        return 0;
    }
    int pitch = SurfacePitch(surface, desc);
    TextureBitmapFormat f{};
    S3D_EbmGetPixelFormatFromDPF(&f, desc.Format);
    bitmap->plane0 = nullptr;
    bitmap->width = static_cast<int16_t>(desc.Width);
    bitmap->height = static_cast<int16_t>(desc.Height);
    if (f.kind & 0x20) bitmap->flags |= 0x10000000;
    if (f.kind & 0x40) bitmap->flags |= 0x40000000;
    bitmap->flags |= 0x800008;
    bitmap->bitsPerPixel = static_cast<int32_t>(f.bitsPerPixel);
    bitmap->bytesPerPixel = static_cast<int32_t>(f.bitsPerPixel / 8);
    bitmap->flags &= ~(EBM_16BIT | EBM_24BIT | EBM_32BIT);
    switch (f.bitsPerPixel) {
    case 16: bitmap->flags |= 0x104; break;
    case 24: bitmap->flags |= 0x204; break;
    case 32: bitmap->flags |= 0x2004; break;
    default: Qel_DPrintf(0, "Unknown D3D Color Depth!\n"); break;
    }
    bitmap->rowDistance = static_cast<uint16_t>(pitch);
    bitmap->planeSize = f.bitsPerPixel ? static_cast<uint32_t>(pitch) * desc.Height / f.bitsPerPixel : 0;
    bitmap->bytesPerRow =
        static_cast<uint16_t>(((desc.Width + 15) / 16) * 2 * static_cast<uint32_t>(bitmap->bytesPerPixel) * 8);
    if (!bitmap->sys && !S_NewSysEBM(bitmap)) return 0;
    bitmap->sys->surface = surface;
    return 1;
}

int S_PixelFormatFromD3D(EBM* bitmap, uint32_t* redMask, uint16_t* redBits, uint16_t* redShift, uint32_t* greenMask,
                         uint16_t* greenBits, uint16_t* greenShift, uint32_t* blueMask, uint16_t* blueBits,
                         uint16_t* blueShift, uint32_t* alphaMask, uint16_t* alphaBits, uint16_t* alphaShift) {
    if (!bitmap || bitmap->bitsPerPixel < 9 || !bitmap->sys || !bitmap->sys->surface) return 0;
    D3DSURFACE_DESC desc{};
    if (FAILED(bitmap->sys->surface->GetDesc(&desc))) return 0;
    TextureBitmapFormat f{};
    if (!S3D_EbmGetPixelFormatFromDPF(&f, desc.Format)) {
        Qel_DPrintf(4, "Unknown color-format.\n");
        return 0;
    }
    *redMask = f.redMask, *redBits = f.redBits, *redShift = f.redShift;
    *greenMask = f.greenMask, *greenBits = f.greenBits, *greenShift = f.greenShift;
    *blueMask = f.blueMask, *blueBits = f.blueBits, *blueShift = f.blueShift;
    *alphaMask = f.alphaMask, *alphaBits = f.alphaBits, *alphaShift = f.alphaShift;
    return 1;
}

int S_CreateEBMTexture(EBM* bitmap) {
    if (!bitmap) return 0;
    if (!(bitmap->flags & EBM_SURFACE)) {
        if (!bitmap->plane0) {
            uint32_t size = Qel_EbmStorageSize(bitmap);
            bitmap->plane0 = static_cast<uint8_t*>(Int_AllocMem(size ? size : 1, EBM_MEMFLAGS));
            if (!bitmap->plane0) return 0;
        }
        return 1;
    }
    if (!Device()) {
        Qel_DPrintf(0, "Error generating D3DSurface without DDObject!\n");
        return 0;
    }
    // Device-backed bitmaps are made with the rest of this module.
    return 0;
}

static void ReleaseCounted(IUnknown* object, const char* failure) {
    if (!object) return;
    ULONG left = object->Release();
    (void)left;
    (void)failure;
    --g_D3DCounters.surfaces;
}

int S_ReleaseEBMSurfaces(EBM* bitmap) {
    if (!bitmap) return 0;
    if (!(bitmap->flags & EBM_SURFACE)) {
        if (bitmap->plane0 && !(bitmap->flags & EBM_OWNHEADER)) {
            Int_FreeMem(bitmap->plane0, Qel_EbmStorageSize(bitmap), EBM_MEMFLAGS);
            bitmap->plane0 = nullptr;
        }
        return 1;
    }
    SysEBM* sys = bitmap->sys;
    if (!Device() || !sys) return 0;
    if (sys->WE_lpDestTexture) {
        if (sys->surface) {
            sys->surface->Release();
            --g_D3DCounters.surfaces;
            sys->surface = nullptr;
        }
        if (!(sys->flags & SYSEBM_TEXTURE_NOT_OWNED)) {
            sys->WE_lpDestTexture->Release();
            --g_D3DCounters.textures;
        }
        sys->WE_lpDestTexture = nullptr;
    }
    if (sys->WE_lpTempTexture) {
        sys->WE_lpTempTexture->Release();
        --g_D3DCounters.textures;
        sys->WE_lpTempTexture = nullptr;
    }
    ReleaseCounted(sys->WE_lpTempdds, "Releasing WE_lpTempdds failed: %d\n");
    sys->WE_lpTempdds = nullptr;
    ReleaseCounted(sys->surface, "Releasing Surface failed: %d\n");
    sys->surface = nullptr;
    return 1;
}
