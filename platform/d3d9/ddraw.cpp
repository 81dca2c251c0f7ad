#include "platform/d3d9/ddraw.h"

DDrawSeam g_DDrawSeam;

namespace {

class DDraw final : public IDirectDraw7 {
public:
    ULONG Release() override {
        delete this;
        return 0;
    }
    HRESULT SetCooperativeLevel(HWND, DWORD) override { return S_OK; }
    HRESULT GetAvailableVidMem(DDSCAPS2* caps, DWORD* total, DWORD* free) override {
        if (!caps) return E_INVALIDARG;
        int set;
        if (caps->dwCaps & DDSCAPS_PRIMARYSURFACE) set = 0;
        else if (caps->dwCaps & DDSCAPS_3DDEVICE) set = 1;
        else if (caps->dwCaps & DDSCAPS_TEXTURE) set = 2;
        else set = 3;
        if (total) *total = g_DDrawSeam.totals[set];
        if (free) *free = g_DDrawSeam.totals[set];
        return S_OK;
    }
};

int s_library;

HRESULT CreateEx(GUID*, IDirectDraw7** out, const GUID*, void*) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (g_DDrawSeam.failCreate) return E_FAIL;
    *out = new DDraw();
    return S_OK;
}

}  // namespace

void* DDraw_LoadLibrary() { return g_DDrawSeam.missingLibrary ? nullptr : &s_library; }

DirectDrawCreateExFn DDraw_GetCreateEx(void* library) {
    if (!library || g_DDrawSeam.missingEntry) return nullptr;
    return CreateEx;
}

void DDraw_FreeLibrary(void*) {}
