// Surfaces and textures behind bitmaps: the SysEBM record tying an EBM to its
// Direct3D surface and textures, binding, locking, texture creation with
// mipmaps, DDS loading, format names, colour conversion, the device-side fills,
// clears and stretches, point copies and the front-buffer screenshot.
#pragma once

#include <cstdint>

#include "platform/win32/basetypes.h"

class IDirect3DSurface9;
class IDirect3DBaseTexture9;

struct EBM;
struct DisplayList;
struct MovieLockedSurface;

constexpr uint32_t SYSEBM_TEXTURE_NOT_OWNED = 0x10;

// Bitmap flag bits of this layer (beside those of base/ebm.h).
constexpr uint32_t EBM_TEXDEFAULTPOOL = 0x80;  // texture in the default pool
constexpr uint32_t EBM_FROMDDS = 0x400;
constexpr uint32_t EBM_MIPMAPS = 0x8000;
constexpr uint32_t EBM_DDSNOSKIP = 0x40000;
constexpr uint32_t EBM_BOUND = 0x800000;         // bound to a surface
constexpr uint32_t EBM_ARGBSURFACE = 0x4000000;  // A8R8G8B8 off-screen surface
constexpr uint32_t EBM_DEFAULTPOOL = 0x8000000;
constexpr uint32_t EBM_THIRDFORMAT = 0x10000000;
constexpr uint32_t EBM_TRANSPARENTFORMAT = 0x20000000;
constexpr uint32_t EBM_CUBEMAP = 0x42000000;

struct SysEBM {
    uint32_t zero;
    IDirect3DSurface9* surface;
    IDirect3DSurface9* WE_lpTempdds;
    uint32_t flags;
    IDirect3DBaseTexture9* WE_lpDestTexture;
    IDirect3DBaseTexture9* WE_lpTempTexture;
};

// What a lock reports besides the address.
struct SurfaceLockInfo {
    int32_t pitch;
};

int S_NewSysEBM(EBM* bitmap);
void S_FreeSysEBM(EBM* bitmap);
int S_SurfaceToEBM(EBM* bitmap, IDirect3DSurface9* surface);
int S_PixelFormatFromD3D(EBM* bitmap, uint32_t* redMask, uint16_t* redBits, uint16_t* redShift, uint32_t* greenMask,
                         uint16_t* greenBits, uint16_t* greenShift, uint32_t* blueMask, uint16_t* blueBits,
                         uint16_t* blueShift, uint32_t* alphaMask, uint16_t* alphaBits, uint16_t* alphaShift);

uint8_t* S_LockSingleSurface(IDirect3DSurface9* surface, SurfaceLockInfo* info, DWORD flags);
void S_UnLockSingleDDSurface(EBM* bitmap);
int S_LockVideoSurface(EBM* bitmap);
int S_LockDDSurfaces(EBM* dst, EBM* src);
void S_UnLockDDSurfaces(EBM* dst, EBM* src);

int S_CreateEBMTexture(EBM* bitmap);
void S_GenerateMipmaps(EBM* bitmap);
int S_ReleaseEBMSurfaces(EBM* bitmap);
EBM* S_ReadDDS(const char* name, uint32_t flags, int levels);

const char* S_FormatName(D3DFORMAT format);
// The Direct3D format of a bitmap's surface (level 0 for textures); 0 without.
D3DFORMAT S_EbmFormat(const EBM* bitmap);
uint32_t S_RGBToPixel(const EBM* bitmap, uint32_t colour);

void W_RectFill(EBM* bitmap, int16_t x, int16_t y, int16_t w, int16_t h, uint32_t colour);
void W_Clear(EBM* dst, EBM* src, int16_t sx, int16_t sy, int16_t dx, int16_t dy, int16_t w, int16_t h);
// Null rectangles are the whole bitmap.
void W_RectStretch(EBM* dst, EBM* src, const RECT* srcRect, const RECT* dstRect);
void W_RectStretchEBM(EBM* dst, EBM* src, const RECT* srcRect, const RECT* dstRect);

// Copies single pixels listed as (x, y) 16-bit pairs in 8-byte entries.
void S_DispatchBlit(EBM* src, EBM* dst, const uint8_t* points, int count, int16_t xOffset, int16_t yOffset);
// Writes the picture on the screen to name + ".tga"; 1 written, 0 failed.
int S_SaveFrontBuffer(const char* name);

// Display copy routines: a block copy through Qel_BltBlockManual.
void S_BlockCopyHook(DisplayList* display, EBM* src, int16_t sx, int16_t sy, int16_t w, int16_t h, EBM* dst, int16_t dx,
                     int16_t dy);
void S_BlockCopyHook2(DisplayList* display, EBM* src, int16_t sx, int16_t sy, int16_t w, int16_t h, EBM* dst,
                      int16_t dx, int16_t dy);
void S_SetDisplayHooks(DisplayList* display, uint32_t flags);

// Locks for one drawing operation: locks what S_LockDDSurfaces would and
// remembers it, so that the unlock afterwards leaves a caller's lock (and a
// memory bitmap's pixels) as they were. 0 when a bitmap has neither pixels nor
// a surface, or a lock fails (nothing stays locked then).
struct SurfaceLocks {
    EBM* dst;
    EBM* src;
    bool dstLocked;
    bool srcLocked;
};
int S_LockForDrawing(SurfaceLocks* locks, EBM* dst, EBM* src);
void S_UnlockAfterDrawing(SurfaceLocks* locks);

// Movie frames into a bitmap's device surface (the movie layer's texture
// link): whether the bitmap has one, and its lock for writing described with
// the pixel format of its Direct3D format.
int S_MovieHasSurface(EBM* bitmap);
HRESULT S_MovieLockSurface(EBM* bitmap, MovieLockedSurface* out);
void S_MovieUnlockSurface(EBM* bitmap);
