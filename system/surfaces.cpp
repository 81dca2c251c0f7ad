#include "system/surfaces.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "base/convert.h"
#include "base/display.h"
#include "base/draw2d.h"
#include "base/ebm.h"
#include "base/file.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/pixelformats.h"
#include "platform/d3dx/d3dx9tex.h"
#include "render/pixelformat.h"
#include "system/adapter_info.h"
#include "system/adapters.h"
#include "system/movie.h"
#include "system/video.h"

namespace {

constexpr uint32_t kDepthFlags = EBM_16BIT | EBM_24BIT | EBM_32BIT;
constexpr DWORD kReadOnlyLock = D3DLOCK_NOSYSLOCK | D3DLOCK_READONLY | D3DLOCK_NO_DIRTY_UPDATE;
constexpr uint32_t kInfoMask = 0x200000;
// Byte offset of the caps2 word in a DDS file and the cube-map bit in it.
constexpr size_t kDdsCaps2Offset = 112;
constexpr uint32_t kDdsCubeMap = 0x200;

D3DDeviceRecord* DeviceRecord() {
    return g_RendererState && g_RendererState->device && g_RendererState->device->device ? g_RendererState->device
                                                                                         : nullptr;
}

IDirect3DDevice9* Device() {
    D3DDeviceRecord* r = DeviceRecord();
    return r ? r->device : nullptr;
}

IDirect3DSurface9* SurfaceOf(const EBM* b) { return b && b->sys ? b->sys->surface : nullptr; }

bool Windowed() { return g_VideoRecord && (g_VideoRecord->flags & VIDEO_FLAG_WINDOWED); }

bool DescOf(IDirect3DSurface9* s, D3DSURFACE_DESC* d) { return s && SUCCEEDED(s->GetDesc(d)); }

bool IsRenderTarget(const D3DSURFACE_DESC& d) { return (d.Usage & D3DUSAGE_RENDERTARGET) != 0; }

bool IsBackBuffer(IDirect3DSurface9* s) {
    D3DDeviceRecord* r = DeviceRecord();
    return s && r && r->backBuffer == s;
}

// Fills a locked rectangle of pixels with one value of the bitmap's size.
void FillRows(uint8_t* bits, int pitch, int bytesPerPixel, int w, int h, uint32_t value) {
    for (int y = 0; y < h; ++y) {
        uint8_t* d = bits + static_cast<ptrdiff_t>(y) * pitch;
        for (int x = 0; x < w; ++x, d += bytesPerPixel) {
            switch (bytesPerPixel) {
                case 1: *d = static_cast<uint8_t>(value); break;
                case 2: {
                    uint16_t v = static_cast<uint16_t>(value);
                    std::memcpy(d, &v, 2);
                    break;
                }
                case 3:
                    d[0] = static_cast<uint8_t>(value);
                    d[1] = static_cast<uint8_t>(value >> 8);
                    d[2] = static_cast<uint8_t>(value >> 16);
                    break;
                default: std::memcpy(d, &value, 4); break;
            }
        }
    }
}

// The pixel-format codes that name a format; the table's last entry only ends it.
constexpr int32_t kPixelFormatCodes = static_cast<int32_t>(std::size(S3D_PixelFormatTable)) - 1;

// The Direct3D format of a descriptor, or fallback when it names none.
D3DFORMAT FormatOf(const TextureBitmapFormat* f, D3DFORMAT fallback) {
    if (f && f->code >= 0 && f->code < kPixelFormatCodes && S3D_PixelFormatTable[f->code])
        return S3D_PixelFormatTable[f->code];
    return fallback;
}

// The device's format for textures of this bitmap.
D3DFORMAT TextureFormatFor(const EBM* b, const D3DDeviceRecord* r) {
    const TextureBitmapFormat* f = r->opaqueFormat;
    if (b->flags & EBM_THIRDFORMAT) f = r->thirdFormat;
    else if (b->flags & EBM_TRANSPARENTFORMAT) f = r->transparentFormat;
    return FormatOf(f, D3DFMT_A8R8G8B8);
}

D3DFORMAT ScreenFormat(const D3DDeviceRecord* r) {
    return FormatOf(r->screenFormat,
                    r->presentParams.BackBufferFormat ? r->presentParams.BackBufferFormat : D3DFMT_X8R8G8B8);
}

// Locked over a rectangle: the rows of that rectangle, for device-side fills.
bool LockRectOf(IDirect3DSurface9* s, const RECT& r, D3DLOCKED_RECT* out) {
    HRESULT hr = s->LockRect(out, &r, D3DLOCK_NOSYSLOCK);
    if (FAILED(hr) && hr == D3DERR_INVALIDCALL) hr = s->LockRect(out, &r, 0);
    if (FAILED(hr)) {
        Qel_ErrPrintf("Error locking desSurface: %s!\n", DXGetErrorString9A(hr));
        return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------- binding

int S_NewSysEBM(EBM* bitmap) {
    if (!bitmap) return 0;
    if (bitmap->sys) return 1;
    auto* sys = Int_AllocRecord<SysEBM>(0);
    if (!sys) {
        Qel_ErrPrintf("OOM SysEBM struct\n");
        return 0;
    }
    std::memset(sys, 0, sizeof *sys);
    bitmap->sys = sys;
    return 1;
}

void S_FreeSysEBM(EBM* bitmap) {
    if (!bitmap || !bitmap->sys) return;
    Int_FreeRecord(bitmap->sys, 0);
    bitmap->sys = nullptr;
}

int S_SurfaceToEBM(EBM* bitmap, IDirect3DSurface9* surface) {
    if (!bitmap || !surface) return 0;
    D3DSURFACE_DESC desc{};
    HRESULT hr = surface->GetDesc(&desc);
    if (FAILED(hr)) {
        Qel_ErrPrintf("Error getting surf. description: %s!\n", DXGetErrorString9A(hr));
        D3DLOCKED_RECT lr{};
        hr = surface->LockRect(&lr, nullptr, kReadOnlyLock);
        if (FAILED(hr) || !lr.pBits) Qel_ErrPrintf("error locking surface to get pointer!\n");
        if (SUCCEEDED(hr)) {
            hr = surface->UnlockRect();
            if (FAILED(hr)) Qel_ErrPrintf("Error unlocking desSurface: %s!\n", DXGetErrorString9A(hr));
        }
        if (FAILED(surface->GetDesc(&desc))) return 0;
    }

    int32_t pitch = 0;
    if (IsRenderTarget(desc) && desc.MultiSampleType >= D3DMULTISAMPLE_2_SAMPLES) {
        pitch = 0;  // cannot be locked at all
    } else if (IsRenderTarget(desc)) {
        IDirect3DDevice9* dev = nullptr;
        IDirect3DSurface9* temp = nullptr;
        if (SUCCEEDED(surface->GetDevice(&dev)) && dev) {
            if (SUCCEEDED(dev->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM,
                                                           &temp, nullptr))) {
                dev->GetRenderTargetData(surface, temp);
                D3DLOCKED_RECT lr{};
                hr = temp->LockRect(&lr, nullptr, 0);
                if (FAILED(hr)) {
                    Qel_ErrPrintf("ERROR: locking tempDestSurf: %s!\n", DXGetErrorString9A(hr));
                } else {
                    pitch = lr.Pitch;
                    temp->UnlockRect();
                }
                temp->Release();
            }
            dev->Release();
        }
    } else {
        D3DLOCKED_RECT lr{};
        hr = surface->LockRect(&lr, nullptr, kReadOnlyLock);
        // A texture in the device's own memory (a picture only the device
        // draws) is never locked: that is no failure (its row length below
        // stands for the pitch).
        const bool deviceOnly = desc.Pool == D3DPOOL_DEFAULT && !(desc.Usage & D3DUSAGE_DYNAMIC);
        if (FAILED(hr)) {
            if (!deviceOnly) Qel_ErrPrintf("ERROR: locking d3ds: %s!\n", DXGetErrorString9A(hr));
        } else {
            pitch = lr.Pitch;
            surface->UnlockRect();
        }
    }

    TextureBitmapFormat f{};
    S3D_EbmGetPixelFormatFromDPF(&f, desc.Format);
    bitmap->plane0 = nullptr;
    bitmap->width = static_cast<int16_t>(desc.Width);
    bitmap->height = static_cast<int16_t>(desc.Height);
    if (f.kind & 0x20) bitmap->flags |= EBM_THIRDFORMAT;
    if (f.kind & 0x40) bitmap->flags |= EBM_COMPRESSED;
    bitmap->flags |= EBM_BOUND | EBM_SURFACE;
    bitmap->flags &= ~(EBM_LOCKED | kDepthFlags);
    bitmap->bitsPerPixel = static_cast<int32_t>(f.bitsPerPixel);
    bitmap->bytesPerPixel = static_cast<int32_t>(f.bitsPerPixel / 8);
    switch (f.bitsPerPixel) {
        case 16: bitmap->flags |= EBM_16BIT | EBM_CHUNKY; break;
        case 24: bitmap->flags |= EBM_24BIT | EBM_CHUNKY; break;
        case 32: bitmap->flags |= EBM_32BIT | EBM_CHUNKY; break;
        default: Qel_ErrPrintf("Unknown D3D Color Depth!\n"); break;
    }
    bitmap->bytesPerRow = static_cast<uint16_t>(((desc.Width + 15) / 8 & ~1u) * (f.bitsPerPixel / 8) * 8);
    // A surface that cannot be locked now (a default-pool texture) is addressed
    // by its row length, which is what a lock's pitch is here.
    if (pitch <= 0) pitch = bitmap->bytesPerRow;
    bitmap->rowDistance = static_cast<uint16_t>(pitch);
    bitmap->planeSize = f.bitsPerPixel ? static_cast<uint32_t>(pitch) * desc.Height / f.bitsPerPixel : 0;
    bitmap->planeDistance = bitmap->bytesPerRow;
    if (!S_NewSysEBM(bitmap)) return 0;
    bitmap->sys->surface = surface;
    return 1;
}

D3DFORMAT S_EbmFormat(const EBM* bitmap) {
    D3DSURFACE_DESC d{};
    return DescOf(SurfaceOf(bitmap), &d) ? d.Format : D3DFMT_UNKNOWN;
}

int S_PixelFormatFromD3D(EBM* bitmap, uint32_t* redMask, uint16_t* redBits, uint16_t* redShift, uint32_t* greenMask,
                         uint16_t* greenBits, uint16_t* greenShift, uint32_t* blueMask, uint16_t* blueBits,
                         uint16_t* blueShift, uint32_t* alphaMask, uint16_t* alphaBits, uint16_t* alphaShift) {
    if (!bitmap || bitmap->bitsPerPixel < 9) return 0;
    D3DFORMAT format = S_EbmFormat(bitmap);
    TextureBitmapFormat f{};
    if (!format || !S3D_EbmGetPixelFormatFromDPF(&f, format)) {
        Qel_DPrintf(4, "Unknown color-format.\n");
        return 0;
    }
    *redMask = f.redMask, *redBits = f.redBits, *redShift = f.redShift;
    *greenMask = f.greenMask, *greenBits = f.greenBits, *greenShift = f.greenShift;
    *blueMask = f.blueMask, *blueBits = f.blueBits, *blueShift = f.blueShift;
    *alphaMask = f.alphaMask, *alphaBits = f.alphaBits, *alphaShift = f.alphaShift;
    return 1;
}

// ---------------------------------------------------------------- locking

uint8_t* S_LockSingleSurface(IDirect3DSurface9* surface, SurfaceLockInfo* info, DWORD flags) {
    if (!surface) return nullptr;
    D3DSURFACE_DESC d{};
    if (DescOf(surface, &d) && IsRenderTarget(d) && d.Pool == D3DPOOL_DEFAULT && !Windowed()) {
        Qel_ErrPrintf("ERROR: trying to lock a D3DUSAGE_RENDERTARGET Surface (S_LockSingleSurface)\n");
        return nullptr;
    }
    D3DLOCKED_RECT lr{};
    HRESULT hr = surface->LockRect(&lr, nullptr, flags);
    if (FAILED(hr)) {
        Qel_ErrPrintf("ERROR: first try on S_LockSingleSurface() failed: %s!\n", DXGetErrorString9A(hr));
        if (hr == D3DERR_DEVICELOST) return nullptr;
        if (hr == D3DERR_INVALIDCALL && (flags & D3DLOCK_NOSYSLOCK))
            hr = surface->LockRect(&lr, nullptr, flags & ~D3DLOCK_NOSYSLOCK);
        if (FAILED(hr)) {
            Qel_ErrPrintf("Error locking desSurface: %s!\n", DXGetErrorString9A(hr));
            return nullptr;
        }
    }
    if (info) info->pitch = lr.Pitch;
    return static_cast<uint8_t*>(lr.pBits);
}

static int LockOne(EBM* b, DWORD flags) {
    if (b->plane0) return 1;
    IDirect3DSurface9* s = SurfaceOf(b);
    if (!s) return 0;
    SurfaceLockInfo info{};
    uint8_t* bits = S_LockSingleSurface(s, &info, flags);
    if (!bits) return 0;
    b->plane0 = bits;
    b->flags |= EBM_LOCKED;
    return 1;
}

void S_UnLockSingleDDSurface(EBM* bitmap) {
    if (!bitmap || !(bitmap->flags & EBM_LOCKED)) return;
    IDirect3DSurface9* s = SurfaceOf(bitmap);
    if (s) {
        HRESULT hr = s->UnlockRect();
        if (FAILED(hr))
            Qel_ErrPrintf("ERROR: unlocking Surface (S_UnLockSingleDDSurface): %s!\n", DXGetErrorString9A(hr));
    }
    bitmap->flags &= ~EBM_LOCKED;
    bitmap->plane0 = nullptr;
}

int S_LockVideoSurface(EBM* bitmap) { return bitmap ? LockOne(bitmap, 0) : 0; }

int S_LockDDSurfaces(EBM* dst, EBM* src) {
    bool dstHad = dst && dst->plane0;
    if (dst && !LockOne(dst, 0)) return 0;
    if (src && src != dst && !LockOne(src, D3DLOCK_READONLY)) {
        if (dst && !dstHad) S_UnLockSingleDDSurface(dst);
        return 0;
    }
    return 1;
}

void S_UnLockDDSurfaces(EBM* dst, EBM* src) {
    S_UnLockSingleDDSurface(dst);
    if (src != dst) S_UnLockSingleDDSurface(src);
}

int S_LockForDrawing(SurfaceLocks* locks, EBM* dst, EBM* src) {
    *locks = {dst, src, false, false};
    // Block-compressed pixels are no grid of pixels to draw on.
    if ((dst && (dst->flags & EBM_COMPRESSED)) || (src && (src->flags & EBM_COMPRESSED))) return 0;
    bool dstHad = dst && dst->plane0;
    bool srcHad = src && src->plane0;
    if (!S_LockDDSurfaces(dst, src)) return 0;
    locks->dstLocked = dst && !dstHad;
    locks->srcLocked = src && src != dst && !srcHad;
    return 1;
}

void S_UnlockAfterDrawing(SurfaceLocks* locks) {
    if (locks->srcLocked) S_UnLockSingleDDSurface(locks->src);
    if (locks->dstLocked) S_UnLockSingleDDSurface(locks->dst);
    locks->srcLocked = locks->dstLocked = false;
}

// ---------------------------------------------------------------- movie frames

// The bitmap whose surface the movie hook locked itself; a bitmap a caller
// already holds locked is written through that lock and left locked.
static EBM* s_MovieLocked = nullptr;

int S_MovieHasSurface(EBM* bitmap) { return SurfaceOf(bitmap) ? 1 : 0; }

HRESULT S_MovieLockSurface(EBM* bitmap, MovieLockedSurface* out) {
    *out = MovieLockedSurface{};
    IDirect3DSurface9* surface = SurfaceOf(bitmap);
    if (!surface) return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC d{};
    HRESULT hr = surface->GetDesc(&d);
    if (FAILED(hr)) return hr;
    // Formats without plain masked channels get no pixel size, so nothing is written.
    TextureBitmapFormat f{};
    if (S3D_EbmGetPixelFormatFromDPF(&f, d.Format) && !(bitmap->flags & EBM_COMPRESSED)) {
        out->bitsPerPixel = f.bitsPerPixel;
        out->redMask = f.redMask, out->greenMask = f.greenMask, out->blueMask = f.blueMask;
        out->alphaMask = f.alphaMask;
    }
    out->width = d.Width, out->height = d.Height;
    if (bitmap->plane0) {
        out->bits = bitmap->plane0;
        out->pitch = bitmap->rowDistance;
        return D3D_OK;
    }
    SurfaceLockInfo info{};
    uint8_t* bits = S_LockSingleSurface(surface, &info, 0);
    if (!bits) return D3DERR_INVALIDCALL;
    out->bits = bits;
    out->pitch = info.pitch;
    s_MovieLocked = bitmap;
    return D3D_OK;
}

void S_MovieUnlockSurface(EBM* bitmap) {
    if (!bitmap || bitmap != s_MovieLocked) return;
    s_MovieLocked = nullptr;
    if (IDirect3DSurface9* s = SurfaceOf(bitmap)) {
        HRESULT hr = s->UnlockRect();
        if (FAILED(hr))
            Qel_ErrPrintf("ERROR: unlocking Surface (S_UnLockSingleDDSurface): %s!\n", DXGetErrorString9A(hr));
    }
}

// ---------------------------------------------------------------- creation and release

int S_CreateEBMTexture(EBM* bitmap) {
    if (!bitmap) return 0;
    uint32_t memSize = Qel_EbmStorageSize(bitmap);
    if (!(bitmap->flags & EBM_SURFACE)) {
        if (!bitmap->plane0) {
            bitmap->plane0 = static_cast<uint8_t*>(Int_AllocMem(memSize, EBM_MEMFLAGS));
            if (!bitmap->plane0) return 0;
        }
        return 1;
    }
    D3DDeviceRecord* rec = DeviceRecord();
    if (!rec) {
        Qel_ErrPrintf("Error generating D3DSurface without DDObject!\n");
        return 0;
    }
    IDirect3DDevice9* dev = rec->device;
    IDirect3DSurface9* surface = nullptr;
    IDirect3DTexture9* texture = nullptr;
    HRESULT hr;
    if (!(bitmap->flags & EBM_TEXTURE)) {
        D3DPOOL pool = (bitmap->flags & EBM_DEFAULTPOOL) ? D3DPOOL_DEFAULT : D3DPOOL_SYSTEMMEM;
        D3DFORMAT format = (bitmap->flags & EBM_ARGBSURFACE) ? D3DFMT_A8R8G8B8 : ScreenFormat(rec);
        hr = dev->CreateOffscreenPlainSurface(static_cast<UINT>(bitmap->width), static_cast<UINT>(bitmap->height),
                                              format, pool, &surface, nullptr);
        if (FAILED(hr)) {
            Qel_ErrPrintf("D3DSurface generation failed: %s\n", DXGetErrorString9A(hr));
            return 0;
        }
        ++g_D3DCounters.surfaces;
    } else {
        if (!g_RendererState || !g_RendererState->d3d) {
            Qel_ErrPrintf("Tried to open texture withoud direct3d!\n");
            return 0;
        }
        D3DPOOL pool = (bitmap->flags & (EBM_DEFAULTPOOL | EBM_TEXDEFAULTPOOL)) ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED;
        UINT levels = (bitmap->flags & EBM_MIPMAPS) ? 0 : 1;
        hr = dev->CreateTexture(static_cast<UINT>(bitmap->width), static_cast<UINT>(bitmap->height), levels, 0,
                                TextureFormatFor(bitmap, rec), pool, &texture, nullptr);
        if (FAILED(hr)) {
            Qel_ErrPrintf("D3D-Texture generation failed: %s\n", DXGetErrorString9A(hr));
            return 0;
        }
        ++g_D3DCounters.textures;
        hr = texture->GetSurfaceLevel(0, &surface);
        if (FAILED(hr)) {
            Qel_ErrPrintf("D3D: getting top-level surface of texture failed: %s\n", DXGetErrorString9A(hr));
            texture->Release();
            --g_D3DCounters.textures;
            return 0;
        }
        ++g_D3DCounters.surfaces;
    }

    bool madeSys = false;
    auto undo = [&]() {
        if (surface) {
            surface->Release();
            --g_D3DCounters.surfaces;
        }
        if (texture) {
            texture->Release();
            --g_D3DCounters.textures;
        }
        if (bitmap->sys) {
            bitmap->sys->surface = nullptr;
            bitmap->sys->WE_lpDestTexture = nullptr;
        }
        if (madeSys) S_FreeSysEBM(bitmap);
    };
    if (!bitmap->sys) {
        auto* sys = Int_AllocRecord<SysEBM>(0);
        if (!sys) {
            Qel_ErrPrintf("OOM Create Surface Struct\n");
            undo();
            return 0;
        }
        std::memset(sys, 0, sizeof *sys);
        bitmap->sys = sys;
        madeSys = true;
    }
    bitmap->sys->surface = surface;
    if (texture) bitmap->sys->WE_lpDestTexture = texture;

    // A copy of the header describes the surface; the pixels go over through it.
    EBM view{};
    std::memcpy(&view, bitmap, EBM_HeaderSize(EBM_SHORT));
    view.flags = (bitmap->flags & ~EBM_LOCKED) | EBM_SHORT;
    view.plane0 = nullptr;
    view.shadow = nullptr;
    view.name = nullptr;
    if (!S_SurfaceToEBM(&view, surface)) {
        undo();
        return 0;
    }
    if (bitmap->plane0) {
        if (!S_LockVideoSurface(&view)) {
            undo();
            return 0;
        }
        if (Qel_GetBlitType(&view, bitmap) == Qel_GetBlitType(&view, nullptr))
            Qel_BltBlock(bitmap, 0, 0, bitmap->width, bitmap->height, &view, 0, 0);
        else Qel_ChangeEBMType(&view, bitmap);
        hr = surface->UnlockRect();
        view.plane0 = nullptr;
        view.flags &= ~EBM_LOCKED;
        if (FAILED(hr)) Qel_ErrPrintf("Error unlocking surface on load: %s!\n", DXGetErrorString9A(hr));
    }
    if (bitmap->flags & EBM_MIPMAPS) S_GenerateMipmaps(bitmap);
    if (bitmap->plane0 && !(bitmap->flags & EBM_OWNHEADER)) Int_FreeMem(bitmap->plane0, memSize, EBM_MEMFLAGS);
    bitmap->plane0 = nullptr;
    bitmap->flags &= ~EBM_LOCKED;
    // Rows of the bitmap are addressed as the surface lays them out.
    bitmap->rowDistance = view.rowDistance;
    bitmap->flags |= EBM_BOUND | (view.flags & (EBM_COMPRESSED | EBM_THIRDFORMAT));

    if (!(bitmap->flags & EBM_SHORT)) {
        D3DSURFACE_DESC d{};
        hr = surface->GetDesc(&d);
        if (FAILED(hr)) {
            Qel_ErrPrintf("Could not get the surface description of the source texture.\n%s\n", DXGetErrorString9A(hr));
            undo();
            return 0;
        }
    }
    if (texture) {
        bitmap->sys->WE_lpTempTexture = nullptr;
        bitmap->sys->WE_lpTempdds = nullptr;
    }
    return 1;
}

void S_GenerateMipmaps(EBM* bitmap) {
    if (!bitmap || !bitmap->sys || !bitmap->sys->WE_lpDestTexture) return;
    auto* texture = static_cast<IDirect3DTexture9*>(bitmap->sys->WE_lpDestTexture);
    if (texture->GetType() != D3DRTYPE_TEXTURE) return;
    DWORD levels = texture->GetLevelCount();
    EBM prev{}, cur{};
    prev.flags = cur.flags = EBM_SHORT;
    IDirect3DSurface9* prevSurface = bitmap->sys->surface;
    bool prevIsTop = true;
    bool lastOk = true;
    for (DWORD level = 1; level < levels; ++level) {
        IDirect3DSurface9* s = nullptr;
        if (FAILED(texture->GetSurfaceLevel(level, &s)) || !s) {
            lastOk = false;
            continue;
        }
        prev.flags = cur.flags = EBM_SHORT;
        lastOk = S_SurfaceToEBM(&prev, prevSurface) && S_SurfaceToEBM(&cur, s);
        SurfaceLocks locks{};
        if (lastOk) lastOk = S_LockForDrawing(&locks, &cur, &prev) != 0;
        if (lastOk) Qel_HalfAveraged(&cur, &prev);
        S_UnlockAfterDrawing(&locks);
        if (!prevIsTop) prevSurface->Release();
        prevSurface = s;
        prevIsTop = false;
    }
    if (!prevIsTop) prevSurface->Release();
    if (!lastOk) Qel_ErrPrintf("Error generating mipmap levels!\n");
    S_FreeSysEBM(&prev);
    S_FreeSysEBM(&cur);
}

int S_ReleaseEBMSurfaces(EBM* bitmap) {
    if (!bitmap) return 0;
    if (!(bitmap->flags & EBM_SURFACE)) {
        if (bitmap->plane0 && !(bitmap->flags & EBM_OWNHEADER))
            Int_FreeMem(bitmap->plane0, Qel_EbmStorageSize(bitmap), EBM_MEMFLAGS);
        bitmap->plane0 = nullptr;
        return 1;
    }
    SysEBM* sys = bitmap->sys;
    if (!Device() || !sys) return 0;
    if (bitmap->flags & EBM_LOCKED) S_UnLockSingleDDSurface(bitmap);
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
    if (sys->WE_lpTempdds) {
        sys->WE_lpTempdds->Release();
        --g_D3DCounters.surfaces;
        sys->WE_lpTempdds = nullptr;
    }
    if (sys->surface) {
        D3DSURFACE_DESC d{};
        if (FAILED(sys->surface->GetDesc(&d)))
            Qel_ErrPrintf("Could not get the surface description of the dest texture.\n%s\n", "");
        sys->surface->Release();
        --g_D3DCounters.surfaces;
        sys->surface = nullptr;
    }
    return 1;
}

// ---------------------------------------------------------------- DDS files

EBM* S_ReadDDS(const char* name, uint32_t flags, int levels) {
    if (!name) return nullptr;
    D3DDeviceRecord* rec = DeviceRecord();
    auto* data = static_cast<uint8_t*>(Qel_LoadFile(name));
    uint32_t size = data ? g_QelLastFileSize : 0;
    auto freeData = [&]() {
        if (data) Int_FreeMem(data, size, 0);
        data = nullptr;
    };
    D3DXIMAGE_INFO info{};
    // The cube-map test below reads the header, so nothing shorter than it is read at all.
    if (!data || size < D3DX_DDS_HEADER_BYTES || FAILED(D3DXGetImageInfoFromFileInMemory(data, size, &info))) {
        Qel_ErrPrintf("ERROR: S_ReadDDS() -> D3DXGetImageInfoFromFileInMemory() failed for: %s !\n", name);
        if (!data || size < D3DX_DDS_HEADER_BYTES) {
            freeData();
            return nullptr;
        }
    }
    if (!rec) {
        Qel_ErrPrintf("S_ReadDDS(%s) Failed D3DXCreateTextureFromFileInMemoryEx!\n", name);
        freeData();
        return nullptr;
    }
    UINT fileLevels = info.MipLevels;
    UINT wanted = levels > 0 ? static_cast<UINT>(levels) : fileLevels;
    D3DPOOL pool = (flags & (EBM_DEFAULTPOOL | EBM_TEXDEFAULTPOOL)) ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED;
    uint32_t caps2;
    std::memcpy(&caps2, data + kDdsCaps2Offset, 4);
    bool cube = (caps2 & kDdsCubeMap) != 0;
    IDirect3DBaseTexture9* texture = nullptr;
    IDirect3DSurface9* top = nullptr;
    UINT created = 0;
    if (cube) {
        Qel_DPrintf(0, " This is a cubemap!\n");
        IDirect3DCubeTexture9* ct = nullptr;
        HRESULT hr =
            D3DXCreateCubeTextureFromFileInMemoryEx(rec->device, data, size, info.Width, wanted, 0, info.Format, pool,
                                                    D3DX_DEFAULT, D3DX_FILTER_NONE, 0, nullptr, nullptr, &ct);
        if (FAILED(hr) || !ct || FAILED(ct->GetCubeMapSurface(D3DCUBEMAP_FACE_POSITIVE_X, 0, &top))) {
            Qel_ErrPrintf("S_ReadDDS(%s) D3DXCreate(Cube)TextureFromFileInMemoryEx() failed!\n", name);
            if (ct) ct->Release();
            freeData();
            return nullptr;
        }
        texture = ct;
        created = ct->GetLevelCount();
    } else {
        UINT skip = 0;
        if (!(flags & EBM_DDSNOSKIP)) {
            int q = rec->textureQuality;
            int l = static_cast<int>(wanted);
            int keep = std::max(q + l - 2, q + 9);
            skip = l - keep > 0 ? static_cast<UINT>(l - keep) : 0;
        }
        IDirect3DTexture9* t = nullptr;
        HRESULT hr = D3DXCreateTextureFromFileInMemoryEx(
            rec->device, data, size, info.Width, info.Height, wanted, 0, info.Format, pool, D3DX_DEFAULT,
            D3DX_SKIP_DDS_MIP_LEVELS(skip, D3DX_FILTER_NONE), 0, nullptr, nullptr, &t);
        if (FAILED(hr) || !t || FAILED(t->GetSurfaceLevel(0, &top))) {
            Qel_ErrPrintf("S_ReadDDS(%s) Failed D3DXCreateTextureFromFileInMemoryEx!\n", name);
            if (t) t->Release();
            freeData();
            return nullptr;
        }
        texture = t;
        created = t->GetLevelCount();
    }
    ++g_D3DCounters.textures;
    ++g_D3DCounters.surfaces;

    auto* bitmap = Int_AllocRecord<EBM>(EBM_MEMFLAGS);
    if (bitmap) std::memset(bitmap, 0, sizeof *bitmap);
    if (!bitmap || !S_NewSysEBM(bitmap)) {
        Qel_ErrPrintf("ERROR: S_ReadDDS(%s) Failed allocating memory for EBM!\n", name);
        if (bitmap) Int_FreeRecord(bitmap, EBM_MEMFLAGS);
        top->Release();
        texture->Release();
        --g_D3DCounters.textures;
        --g_D3DCounters.surfaces;
        freeData();
        return nullptr;
    }
    S_SurfaceToEBM(bitmap, top);
    bitmap->sys->WE_lpDestTexture = texture;
    bitmap->flags |= EBM_SURFACE | EBM_FROMDDS | EBM_TEXTURE | (cube ? EBM_CUBEMAP : 0);
    D3DSURFACE_DESC d{};
    top->GetDesc(&d);
    Qel_DPrintf(0, "DDS ( %s )\tsize=[%d x %d x %d]\tmip=[%d/%d]\tformat=[%s]\tPixelFormat=[%d] \n", name,
                static_cast<int>(info.Width), static_cast<int>(info.Height), static_cast<int>(info.Depth),
                static_cast<int>(created), static_cast<int>(fileLevels), S_FormatName(d.Format),
                S3D_PixelFormatCode(d.Format));
    freeData();
    return bitmap;
}

// ---------------------------------------------------------------- names and colours

const char* S_FormatName(D3DFORMAT format) {
    switch (format) {
        case 0: return "UNKNOWN";
        case 20: return "R8G8B8";
        case 21: return "A8R8G8B8";
        case 22: return "X8R8G8B8";
        case 23: return "R5G6B5";
        case 24: return "X1R5G5B5";
        case 25: return "A1R5G5B5";
        case 26: return "A4R4G4B4";
        case 27: return "R3G3B2";
        case 28: return "A8";
        case 29: return "A8R3G3B2";
        case 30: return "X4R4G4B4";
        case 31: return "A2B10G10R10";
        case 34: return "G16R16";
        case 35: return "A2R10G10B10";
        case 36: return "A16B16G16R16";
        case 40: return "A8P8";
        case 41: return "P8";
        case 50: return "L8";
        case 51: return "A8L8";
        case 52: return "A4L4";
        case 60: return "V8U8";
        case 61: return "L6V5U5";
        case 62: return "X8L8V8U8";
        case 63: return "Q8W8V8U8";
        case 64: return "V16U16";
        case 70: return "D16_LOCKABLE";
        case 71: return "D32";
        case 73: return "D15S1";
        case 75: return "D24S8";
        case 77: return "D24X8";
        case 79: return "D24X4S4";
        case 80: return "D16";
        case 81: return "L16";
        case 100: return "VERTEXDATA";
        case 101: return "INDEX16";
        case 102: return "INDEX32";
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

uint32_t S_RGBToPixel(const EBM* bitmap, uint32_t colour) {
    D3DFORMAT format = S_EbmFormat(bitmap);
    TextureBitmapFormat f{};
    if (!format || !S3D_EbmGetPixelFormatFromDPF(&f, format)) return colour;
    auto channel = [&](int top, uint16_t bits, uint16_t shift, uint32_t mask) -> uint32_t {
        if (!bits) return 0;
        int down = top - bits;
        uint32_t v = down >= 0 ? colour >> down : colour << -down;
        return (v << shift) & mask;
    };
    return channel(8, f.blueBits, f.blueShift, f.blueMask) | channel(16, f.greenBits, f.greenShift, f.greenMask) |
           channel(24, f.redBits, f.redShift, f.redMask) | channel(32, f.alphaBits, f.alphaShift, f.alphaMask);
}

// ---------------------------------------------------------------- device-side fills and copies

void W_RectFill(EBM* bitmap, int16_t x, int16_t y, int16_t w, int16_t h, uint32_t colour) {
    if (!bitmap || w <= 0 || h <= 0 || x < 0 || y < 0 || x + w > bitmap->width || y + h > bitmap->height) return;
    IDirect3DSurface9* s = SurfaceOf(bitmap);
    D3DSURFACE_DESC d{};
    bool rt = DescOf(s, &d) && IsRenderTarget(d) && d.Pool == D3DPOOL_DEFAULT;
    RECT r{x, y, x + w, y + h};
    if (rt) {
        // A GPU-side fill: the CPU view is given up for it and taken again after.
        bool wasLocked = bitmap->flags & EBM_LOCKED;
        if (wasLocked) S_UnLockSingleDDSurface(bitmap);
        IDirect3DDevice9* dev = Device();
        HRESULT hr = D3DERR_INVALIDCALL;
        if (IsBackBuffer(s) && dev) {
            Qel_DPrintf(kInfoMask, "INFO:\tW_RectFill() ->Clear D3DCLEAR_TARGET\n");
            IDirect3DSurface9* old = nullptr;
            dev->GetRenderTarget(0, &old);
            if (old != s) dev->SetRenderTarget(0, s);
            D3DRECT dr{r.left, r.top, r.right, r.bottom};
            hr = dev->Clear(1, &dr, D3DCLEAR_TARGET, colour, 1.0f, 0);
            if (old && old != s) dev->SetRenderTarget(0, old);
            if (old) old->Release();
        } else if (dev) {
            hr = dev->ColorFill(s, &r, colour);
        }
        if (FAILED(hr)) Qel_ErrPrintf("ERROR: ColorFill() :%s\n", DXGetErrorString9A(hr));
        if (wasLocked) S_LockVideoSurface(bitmap);
        return;
    }
    uint32_t pixel = S_RGBToPixel(bitmap, colour);
    if (bitmap->bitsPerPixel > 8 && bitmap->bitsPerPixel <= 16) pixel &= 0xFFFF;
    int bpp = bitmap->bytesPerPixel > 0 ? bitmap->bytesPerPixel : 1;
    if (bitmap->plane0) {
        // Memory pixels, or a surface the caller holds locked: written where they are.
        for (int row = 0; row < h; ++row) FillRows(Qel_PixelAddress(bitmap, x, y + row), 0, bpp, w, 1, pixel);
        return;
    }
    if (!s || (bitmap->flags & EBM_COMPRESSED)) return;
    D3DLOCKED_RECT lr{};
    if (!LockRectOf(s, r, &lr)) return;
    FillRows(static_cast<uint8_t*>(lr.pBits), lr.Pitch, bpp, w, h, pixel);
    s->UnlockRect();
}

void W_Clear(EBM* dst, EBM* src, int16_t sx, int16_t sy, int16_t dx, int16_t dy, int16_t w, int16_t h) {
    if (!dst) return;
    if (!src) src = dst;
    if (w <= 0 || h <= 0 || sx < 0 || sy < 0 || dx < 0 || dy < 0 || sx + w > src->width || sy + h > src->height ||
        dx + w > dst->width || dy + h > dst->height) {
        Qel_ErrPrintf("W_Clear(sx=%d,sy=%d,dx=%d,dy=%d,szx=%d,szy=%d) Invalid rectangle!\n", sx, sy, dx, dy, w, h);
        return;
    }
    IDirect3DSurface9* s = SurfaceOf(dst);
    if (IsBackBuffer(s)) {
        Qel_DPrintf(kInfoMask, "INFO:\tW_Clear() ->Clear D3DCLEAR_TARGET\n");
        bool wasLocked = dst->flags & EBM_LOCKED;
        if (wasLocked) S_UnLockSingleDDSurface(dst);
        IDirect3DDevice9* dev = Device();
        D3DRECT dr{dx, dy, dx + w, dy + h};
        if (dev) dev->Clear(1, &dr, D3DCLEAR_TARGET, 0, 1.0f, 0);
        if (wasLocked) S_LockVideoSurface(dst);
        return;
    }
    int bpp = dst->bytesPerPixel > 0 ? dst->bytesPerPixel : 1;
    if (dst->plane0) {
        for (int row = 0; row < h; ++row)
            std::memset(Qel_PixelAddress(dst, dx, dy + row), 0, static_cast<size_t>(w) * bpp);
        return;
    }
    if (!s || (dst->flags & EBM_COMPRESSED)) return;
    D3DLOCKED_RECT lr{};
    RECT r{dx, dy, dx + w, dy + h};
    if (!LockRectOf(s, r, &lr)) return;
    FillRows(static_cast<uint8_t*>(lr.pBits), lr.Pitch, bpp, w, h, 0);
    s->UnlockRect();
}

void W_RectStretchEBM(EBM* dst, EBM* src, const RECT* srcRect, const RECT* dstRect) {
    IDirect3DSurface9* ds = SurfaceOf(dst);
    IDirect3DSurface9* ss = SurfaceOf(src);
    IDirect3DDevice9* dev = Device();
    if (!ds || !ss || !dev) return;
    bool dstLocked = dst->flags & EBM_LOCKED, srcLocked = src->flags & EBM_LOCKED;
    if (dstLocked) S_UnLockSingleDDSurface(dst);
    if (srcLocked) S_UnLockSingleDDSurface(src);

    D3DCAPS9 caps{};
    dev->GetDeviceCaps(&caps);
    bool fromTextures = caps.DevCaps2 & D3DDEVCAPS2_CAN_STRETCHRECT_FROM_TEXTURES;
    bool textureLevel = false;
    if (!fromTextures) {
        for (IDirect3DSurface9* s : {ss, ds}) {
            IDirect3DBaseTexture9* container = nullptr;
            if (SUCCEEDED(s->GetContainer(&container)) && container) {
                textureLevel = true;
                container->Release();
            }
        }
    }
    D3DSURFACE_DESC sd{}, dd{};
    ss->GetDesc(&sd);
    ds->GetDesc(&dd);
    bool stretchRect = !textureLevel && sd.Pool == D3DPOOL_DEFAULT && IsRenderTarget(dd) &&
                       dd.MultiSampleType == D3DMULTISAMPLE_NONE &&
                       (caps.StretchRectFilterCaps & D3DPTFILTERCAPS_MAGFLINEAR);
    if (stretchRect) {
        HRESULT hr = dev->StretchRect(ss, srcRect, ds, dstRect, D3DTEXF_LINEAR);
        if (FAILED(hr)) Qel_ErrPrintf("ERROR: W_RectStretch (StretchRect): %s!\n", DXGetErrorString9A(hr));
    } else {
        HRESULT hr = D3DXLoadSurfaceFromSurface(ds, nullptr, dstRect, ss, nullptr, srcRect, D3DX_FILTER_LINEAR, 0);
        if (FAILED(hr))
            Qel_ErrPrintf("ERROR: W_RectStretch (D3DXLoadSurfaceFromSurface): %s!\n", DXGetErrorString9A(hr));
    }
    if (srcLocked) S_LockVideoSurface(src);
    if (dstLocked) S_LockVideoSurface(dst);
}

void W_RectStretch(EBM* dst, EBM* src, const RECT* srcRect, const RECT* dstRect) {
    W_RectStretchEBM(dst, src, srcRect, dstRect);
}

void S_DispatchBlit(EBM* src, EBM* dst, const uint8_t* points, int count, int16_t xOffset, int16_t yOffset) {
    if (!src || !dst || !points || count <= 0) return;
    if (Qel_GetBlitType(dst, src) != 0) {
        for (int i = 0; i < count; ++i) {
            int16_t x, y;
            std::memcpy(&x, points + 8 * i, 2);
            std::memcpy(&y, points + 8 * i + 2, 2);
            Qel_BltBlockManual(src, x, y, 1, 1, dst, static_cast<int16_t>(x + xOffset),
                               static_cast<int16_t>(y + yOffset));
        }
        return;
    }
    SurfaceLocks locks{};
    if (!S_LockForDrawing(&locks, dst, src)) return;
    for (int i = 0; i < count; ++i) {
        int16_t x, y;
        std::memcpy(&x, points + 8 * i, 2);
        std::memcpy(&y, points + 8 * i + 2, 2);
        int tx = x + xOffset, ty = y + yOffset;
        // Points off either bitmap are skipped rather than written past it.
        if (x < 0 || y < 0 || x >= src->width || y >= src->height || tx < 0 || ty < 0 || tx >= dst->width ||
            ty >= dst->height)
            continue;
        *Qel_PixelAddress(dst, tx, ty) = *Qel_PixelAddress(src, x, y);
    }
    S_UnlockAfterDrawing(&locks);
}

// A 32-bit A8R8G8B8 surface as an uncompressed true-colour Targa file, rows
// from the top, written through the file layer like every other file the game
// writes. 1 on success.
static int WriteTarga(const char* name, IDirect3DSurface9* surface, UINT width, UINT height) {
    D3DLOCKED_RECT locked{};
    if (FAILED(surface->LockRect(&locked, nullptr, D3DLOCK_READONLY))) return 0;
    const uint8_t header[18] = {0,
                                0,
                                2,  // uncompressed true colour
                                0,
                                0,
                                0,
                                0,
                                0,
                                0,
                                0,
                                0,
                                0,
                                static_cast<uint8_t>(width),
                                static_cast<uint8_t>(width >> 8),
                                static_cast<uint8_t>(height),
                                static_cast<uint8_t>(height >> 8),
                                32,
                                0x28};  // 8 alpha bits, first row at the top
    QelFile* f = Qel_fopen(name, "wb", 0);
    bool ok = f && Qel_fwriteBlock(f, 1, sizeof header, header) == sizeof header;
    const auto* rows = static_cast<const uint8_t*>(locked.pBits);
    for (UINT y = 0; ok && y < height; ++y)
        ok = Qel_fwriteBlock(f, 4, width, rows + static_cast<size_t>(y) * static_cast<size_t>(locked.Pitch)) == width;
    if (f) ok = Qel_fclose(f) == 0 && ok;
    surface->UnlockRect();
    return ok ? 1 : 0;
}

int S_SaveFrontBuffer(const char* name) {
    IDirect3DDevice9* dev = Device();
    if (!name || !dev || !g_RendererState || !g_RendererState->d3d) return 0;
    std::string file = std::string(name) + ".tga";
    D3DDISPLAYMODE mode{};
    D3DDeviceRecord* rec = DeviceRecord();
    UINT ordinal = rec && rec->adapter ? rec->adapter->ordinal : 0;
    if (Windowed()) {
        // The window shows the back buffer's size.
        mode.Width = rec->presentParams.BackBufferWidth;
        mode.Height = rec->presentParams.BackBufferHeight;
    } else if (FAILED(g_RendererState->d3d->GetAdapterDisplayMode(ordinal, &mode))) {
        return 0;
    }
    IDirect3DSurface9* surface = nullptr;
    if (FAILED(dev->CreateOffscreenPlainSurface(mode.Width, mode.Height, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &surface,
                                                nullptr))) {
        Qel_ErrPrintf("Couldn't Make the Front Buffer\n");
        return 0;
    }
    int ok = 0;
    if (FAILED(dev->GetFrontBufferData(0, surface))) {
        Qel_ErrPrintf("Couldn't Grab the front Buffer\n");
    } else {
        Qel_DPrintf(0, "Successfully got frontbuffer!\n");
        ok = WriteTarga(file.c_str(), surface, mode.Width, mode.Height);
    }
    surface->Release();
    return ok;
}

// ---------------------------------------------------------------- display hooks

void S_BlockCopyHook(DisplayList*, EBM* src, int16_t sx, int16_t sy, int16_t w, int16_t h, EBM* dst, int16_t dx,
                     int16_t dy) {
    Qel_BltBlockManual(src, sx, sy, w, h, dst, dx, dy);
}

void S_BlockCopyHook2(DisplayList*, EBM* src, int16_t sx, int16_t sy, int16_t w, int16_t h, EBM* dst, int16_t dx,
                      int16_t dy) {
    Qel_BltBlockManual(src, sx, sy, w, h, dst, dx, dy);
}

void S_SetDisplayHooks(DisplayList* display, uint32_t flags) {
    if (!display) return;
    if (display->flags & DISPLAY_DOUBLEBUFFERED) display->clear = W_Clear;
    if (flags & 8)
        display->copy = [](DisplayList*, EBM* src, int16_t sx, int16_t sy, int16_t w, int16_t h, EBM* dst, int16_t dx,
                           int16_t dy) { W_Clear(dst, src, sx, sy, dx, dy, w, h); };
    else if (!(flags & 2)) display->copy = S_BlockCopyHook;
    else display->copy = S_BlockCopyHook2;
}
