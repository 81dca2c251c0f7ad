// The DirectDraw corner the engine uses: asking how much video memory there is.
// GL gives no portable answer, so the stand-in reports what the seam holds
// (nothing by default, which the caller takes as "plenty").
#pragma once

#include <cstdint>

#include "platform/win32/basetypes.h"

constexpr DWORD DDSCL_NORMAL = 0x8;
constexpr DWORD DDSCAPS_PRIMARYSURFACE = 0x200;
constexpr DWORD DDSCAPS_OFFSCREENPLAIN = 0x40;
constexpr DWORD DDSCAPS_TEXTURE = 0x1000;
constexpr DWORD DDSCAPS_3DDEVICE = 0x2000;
constexpr DWORD DDSCAPS_VIDEOMEMORY = 0x4000;
constexpr DWORD DDSCAPS_LOCALVIDMEM = 0x10000000;

struct DDSCAPS2 {
    DWORD dwCaps;
    DWORD dwCaps2;
    DWORD dwCaps3;
    DWORD dwCaps4;
};

class IDirectDraw7 {
public:
    virtual ULONG Release() = 0;
    virtual HRESULT SetCooperativeLevel(HWND window, DWORD flags) = 0;
    virtual HRESULT GetAvailableVidMem(DDSCAPS2* caps, DWORD* total, DWORD* free) = 0;

protected:
    virtual ~IDirectDraw7() = default;
};

// The library and its entry point, as a run-time load would find them.
using DirectDrawCreateExFn = HRESULT (*)(GUID* driver, IDirectDraw7** out, const GUID* iid, void* outer);
// Null when the library is missing; the entry is null when the library lacks it.
void* DDraw_LoadLibrary();
DirectDrawCreateExFn DDraw_GetCreateEx(void* library);
void DDraw_FreeLibrary(void* library);

struct DDrawSeam {
    bool missingLibrary = false;
    bool missingEntry = false;
    bool failCreate = false;
    // Totals per capability set, in the order primary, 3D textures, textures,
    // off-screen plain; 0 = the set reports nothing.
    DWORD totals[4] = {0, 0, 0, 0};
};
extern DDrawSeam g_DDrawSeam;
