// The video device: the game window, device creation on the chosen adapter and
// mode, the screen bitmaps on the back buffer, present with lost-device
// recovery, reset and close.
#include "system/video.h"

#include <cstring>

#include "base/ebm.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "platform/win32/messages.h"
#include "platform/win32/window.h"
#include "render/device.h"
#include "render/pixelformat.h"
#include "system/adapter_info.h"
#include "system/adapters.h"
#include "system/clock.h"
#include "system/entry.h"
#include "system/settings.h"
#include "system/shaderprofile.h"
#include "system/surfaces.h"
#include "system/window.h"

VideoRecord* g_VideoRecord = nullptr;
// The displays module will own the record; until then the video device makes it.
static bool s_ownsVideoRecord = false;

static const uint32_t kRendererTag = Int_MemTag(6);

static D3DDeviceRecord* Record() { return g_RendererState ? g_RendererState->device : nullptr; }
static IDirect3DDevice9* Device() { return Record() ? Record()->device : nullptr; }
static bool WindowedVideo() { return g_VideoRecord && (g_VideoRecord->flags & VIDEO_FLAG_WINDOWED); }

DWORD S_PresentInterval(DWORD offeredIntervals, uint32_t profilingFlags, int32_t fixedFrameStep) {
    if ((profilingFlags & SYSPROF_BENCHMARK) || fixedFrameStep != 0) return D3DPRESENT_INTERVAL_IMMEDIATE;
    return (offeredIntervals & D3DPRESENT_INTERVAL_ONE) ? D3DPRESENT_INTERVAL_ONE : D3DPRESENT_INTERVAL_IMMEDIATE;
}

static void ReleaseSurface(IDirect3DSurface9*& surface) {
    if (!surface) return;
    surface->Release();
    --g_D3DCounters.surfaces;
    surface = nullptr;
}

// ---------------------------------------------------------------- the window

static const char* AppName() {
    return g_SystemState && g_SystemState->app && g_SystemState->app->appName ? g_SystemState->app->appName : "trevan";
}

static bool OpenWindow(int width, int height, int depth, uint32_t flags) {
    const bool plain = flags & VIDEO_FLAG_NO_D3D;  // a window without Direct3D
    const bool windowed = flags & VIDEO_FLAG_WINDOWED;
    WNDCLASSA wc{};
    wc.style = plain ? 0x1003 : (CS_HREDRAW | CS_VREDRAW);
    wc.lpfnWndProc = S_WindowProc;
    wc.hInstance = g_ApplicationRecord.hInstance;
    wc.hbrBackground = plain ? 6 : 0;  // the window colour, else nothing behind the device's picture
    wc.lpszClassName = AppName();
    // The Direct3D stand-in's driver is loaded before its first window.
    if (!D3D9_LoadDriver() || !RegisterClassA(&wc)) Qel_DPrintf(4, "S_InitVideo() Error registering class\n");

    DWORD style = WS_VISIBLE;
    int x = 0, y = 0;
    if (plain) {
        style = WS_VISIBLE | WS_OVERLAPPEDWINDOW;
        x = y = depth;
    } else if (windowed) {
        style = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
        x = GetSystemMetrics(SM_CXFULLSCREEN) / 2 - width / 2;
        y = GetSystemMetrics(SM_CYFULLSCREEN) / 8 - height / 8;
    }
    RECT r{x, y, x + width, y + height};
    if (windowed) {
        r = RECT{r.left + 50, r.top + 50, r.right + 50, r.bottom + 50};
        if (!AdjustWindowRectEx(&r, style, 0, 0)) {
            Qel_DPrintf(4, "S_InitVideo() Can not compute window dimension\n");
            return false;
        }
        r = RECT{r.left - 50, r.top - 50, r.right - 50, r.bottom - 50};
    }

    g_ApplicationRecord.active = 1;
    HWND window = CreateWindowExA(0, AppName(), AppName(), style, r.left, r.top, r.right - r.left, r.bottom - r.top,
                                  nullptr, nullptr, g_ApplicationRecord.hInstance, nullptr);
    if (!window) {
        Qel_DPrintf(4, "S_InitVideo() Error Creating Window\n");
        return false;
    }
    g_ApplicationRecord.mainWindow = window;
    RECT client{};
    GetClientRect(window, &client);
    POINT topLeft{client.left, client.top}, bottomRight{client.right, client.bottom};
    ClientToScreen(window, &topLeft);
    ClientToScreen(window, &bottomRight);
    if (client.right - client.left > width || client.bottom - client.top > height)
        g_ApplicationRecord.clientRect = {0, 0, -1, -1};
    else g_ApplicationRecord.clientRect = {topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
    UpdateWindow(window);
    if (!windowed && !plain) SetCursor(nullptr);
    Qel_DPrintf(4, "NVIDIA CRASH AUSGABE!\n");
    return true;
}

static void CloseWindow() { S_DetachMainWindow(); }

// ---------------------------------------------------------------- screen bitmaps

static EBM* ScreenBitmap(IDirect3DSurface9* backBuffer) {
    EBM* e = static_cast<EBM*>(Int_AllocMem(sizeof(EBM), EBM_MEMFLAGS));
    if (!e) return nullptr;
    if (!S_NewSysEBM(e)) {
        Int_FreeMem(e, sizeof(EBM), EBM_MEMFLAGS);
        return nullptr;
    }
    e->flags = 0x1800020;
    if (!S_SurfaceToEBM(e, backBuffer)) {
        S_FreeSysEBM(e);
        Int_FreeMem(e, sizeof(EBM), EBM_MEMFLAGS);
        return nullptr;
    }
    return e;
}

static void FreeScreenBitmap(EBM*& e) {
    if (!e) return;
    S_ReleaseEBMSurfaces(e);
    e->name = Qel_StrFree(e->name);
    Qel_FreeEBMBuffers(e);
    S_FreeSysEBM(e);
    Int_FreeMem(e, sizeof(EBM), EBM_MEMFLAGS);
    e = nullptr;
}

static void SetScreenSurface(IDirect3DSurface9* surface) {
    VideoRecord* v = g_VideoRecord;
    if (v && v->VideoEBM && v->VideoEBM->sys) v->VideoEBM->sys->surface = surface;
    if (v && v->BackBufferEBM && v->BackBufferEBM->sys) v->BackBufferEBM->sys->surface = surface;
    g_ApplicationRecord.backBuffer = surface;
}

static bool ColourClass(EBM* e) {
    if (e->flags & EBM_16BIT) {
        e->flags |= 0x100000;
        g_SystemState->screenFormat = 0x100000;
        return true;
    }
    if (e->flags & (EBM_24BIT | EBM_32BIT)) {
        e->flags |= 0x80000;
        g_SystemState->screenFormat = 0x80000;
        return true;
    }
    Qel_DPrintf(4, "S_InitVideo() Not Truecolor!\n");
    return false;
}

static bool ClearBackBuffer() {
    HRESULT hr = Device()->Clear(0, nullptr, D3DCLEAR_ZBUFFER | D3DCLEAR_TARGET, 0, 1.0f, 0);
    if (FAILED(hr)) {
        Qel_DPrintf(4, "S_InitVideo() (ERROR): Unable to clear backbuffer of video device: %s.\n",
                    DXGetErrorString9A(hr));
        return false;
    }
    Qel_DPrintf(4, "INFO:\tS_InitVideo() ->Clear (D3DCLEAR_ZBUFFER|D3DCLEAR_TARGET)\n");
    return true;
}

// ---------------------------------------------------------------- opening

VideoRecord* S_InitVideo(int width, int height, int depth, uint32_t flags) {
    if (!g_SystemState) return nullptr;
    if (!g_VideoRecord) {
        g_VideoRecord = Int_AllocRecord<VideoRecord>(0);
        if (!g_VideoRecord) return nullptr;
        s_ownsVideoRecord = true;
    }
    VideoRecord* v = g_VideoRecord;
    if (flags & VIDEO_FLAG_16BIT) depth = 15;
    if (flags & VIDEO_FLAG_TRUECOLOR) depth = 24;
    if (depth == 15) depth = 16;
    v->flags = flags;
    if (g_ApplicationRecord.mainWindow) {
        Qel_DPrintf(4, "S_InitVideo() Window has already been opened, using existing window!\n");
    } else if (!OpenWindow(width, height, depth, flags)) {
        return nullptr;
    }
    if (flags & VIDEO_FLAG_NO_D3D) return v;

    g_ApplicationRecord.colourDepth = depth;
    if (!S_CreateRendererState()) {
        Qel_DPrintf(4, "S_InitVideo() Failed to create Direct3D Interface!\n");
        return nullptr;
    }
    if (v->adapterCount == 0) {
        if (!S_EnumDevices()) Qel_DPrintf(4, "S_InitVideo() Failed to enumerating Adapters!\n");
        if (g_RendererState->adapterCount == 0) {
            Qel_DPrintf(4, "S_InitVideo() Found no suitable Adapters!\n");
            return nullptr;
        }
        v->adapterCount = static_cast<uint16_t>(g_RendererState->adapterCount);
    }
    if (!S_ChooseAdapter() || !S_Create3DDevice() || !Record()) {
        Qel_DPrintf(4, "S_InitVideo() No appropriate D3D Device found!\n");
        return nullptr;
    }
    Qel_DPrintf(4, "Nach DXInit()\n");
    g_ApplicationRecord.videoWords[0] = g_ApplicationRecord.videoWords[1] = 0;
    IDirect3DDevice9* device = Device();
    if (!device) {
        Qel_DPrintf(4, "Was not able to get device-interface!\n");
        return nullptr;
    }
    if (depth >= 15 && depth <= 23) flags |= VIDEO_FLAG_16BIT;
    else if (depth >= 24) flags |= VIDEO_FLAG_TRUECOLOR;
    v->flags = flags;

    IDirect3DSurface9* back = nullptr;
    HRESULT hr = device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    if (FAILED(hr)) {
        Qel_DPrintf(4, "S_InitVideo() (ERROR): Unable to get backbuffer of video device: %s.\n",
                    DXGetErrorString9A(hr));
        return nullptr;
    }
    ++g_D3DCounters.surfaces;
    g_ApplicationRecord.backBuffer = back;
    if (!ClearBackBuffer()) return nullptr;
    v->VideoEBM = ScreenBitmap(back);
    if (!v->VideoEBM) {
        Qel_DPrintf(4, "D3D buffer to EBM failed!\n");
        ReleaseSurface(g_ApplicationRecord.backBuffer);
        return nullptr;
    }

    int64_t w = v->VideoEBM->width, h = v->VideoEBM->height;
    int64_t r = w ? (h << 16) / w : 0;
    if (r <= 0xC000) {
        v->aspectY = 0xC000;
        v->aspectX = h ? static_cast<int32_t>(0xC000 * w / h) : 0;
    } else {
        v->aspectX = 0x10000;
        v->aspectY = w ? static_cast<int32_t>(0x10000 * h / w) : 0;
    }

    device->Present(nullptr, nullptr, nullptr, nullptr);
    if (!ClearBackBuffer()) return nullptr;
    v->BackBufferEBM = ScreenBitmap(back);
    if (!v->BackBufferEBM) {
        Qel_DPrintf(4, "D3D to EBM BackBuffer failed!\n");
        return nullptr;
    }
    uint32_t mask;
    uint16_t alphaMaskBits;
    if (!S_PixelFormatFromD3D(v->BackBufferEBM, &mask, &v->redBits, &v->redShift, &mask, &v->greenBits, &v->greenShift,
                              &mask, &v->blueBits, &v->blueShift, &mask, &alphaMaskBits, &v->alphaShift))
        return nullptr;
    v->alphaBits = alphaMaskBits;

    bool trueColour = ColourClass(v->VideoEBM);
    if (trueColour) S_SetDefaultD3DFlags();
    Qel_SetEbmName(v->VideoEBM, "VideoEBM");
    v->VideoEBM->flags |= EBM_ROWTAB;
    Qel_MakeStandardTabs(v->VideoEBM);
    if (v->flags & VIDEO_FLAG_BACKBUFFER) {
        ColourClass(v->BackBufferEBM);
        Qel_SetEbmName(v->BackBufferEBM, "BackBufferEBM");
        v->BackBufferEBM->flags |= EBM_ROWTAB;
        Qel_MakeStandardTabs(v->BackBufferEBM);
    }
    return v;
}

// Alpha bits of a format, from its description.
static TextureBitmapFormat Describe(D3DFORMAT format) {
    TextureBitmapFormat f{};
    S3D_EbmGetPixelFormatFromDPF(&f, format);
    return f;
}

int S_Create3DDevice() {
    RendererState* r = g_RendererState;
    SystemState* s = g_SystemState;
    ApplicationRecord& app = g_ApplicationRecord;
    if (!r || !r->d3d || !s) return 0;
    if (!r->device) {
        r->device = Int_AllocRecord<D3DDeviceRecord>(kRendererTag);
        if (!r->device) {
            Qel_DPrintf(4, "S_Create3DDevice() Can't allocate memory for CurrentDevice!\n");
            return 0;
        }
    }
    D3DDeviceRecord* d = r->device;
    if (app.adapterOrdinal < 0 || app.adapterOrdinal >= r->adapterCount) {
        Qel_DPrintf(4, "S_Create3DDevice() Adapter ID invalid or not set (%d)\n", app.adapterOrdinal);
        return 0;
    }
    if (app.modeFormat == 0) {
        Qel_DPrintf(4, "S_Create3DDevice() Displaymode not set, adapter %d!\n", app.adapterOrdinal);
        return 0;
    }
    TextureBitmapFormat** records[4] = {&d->screenFormat, &d->opaqueFormat, &d->transparentFormat, &d->thirdFormat};
    for (TextureBitmapFormat** rec : records)
        if (!*rec && !(*rec = Int_AllocRecord<TextureBitmapFormat>(kRendererTag))) return 0;
    AdapterInfo* a = &r->adapters[app.adapterOrdinal];
    UINT ordinal = static_cast<UINT>(app.adapterOrdinal);
    d->adapter = a;
    d->maxSimultaneousTextures = a->caps.MaxSimultaneousTextures;

    bool windowed = WindowedVideo();
    DispMode* table = windowed ? a->windowedModeTable : a->DispModeTable;
    uint32_t count = windowed ? a->windowedModeCount : a->fullscreenModeCount;
    if (!table || app.modeIndex < 0 || static_cast<uint32_t>(app.modeIndex) >= count) {
        Qel_DPrintf(4, "ERROR: S_Create3DDevice() no DispModeTable \n");
        return 0;
    }
    DispMode* mode = &table[app.modeIndex];
    IDirect3D9* d3d = r->d3d;

    D3DFORMAT back = D3DFMT_UNKNOWN;
    if (mode->backBufferFormatCount == 1) {
        back = mode->backBufferFormats[0];
    } else {
        for (uint32_t i = 0; i < mode->backBufferFormatCount; ++i) {
            D3DFORMAT f = mode->backBufferFormats[i];
            if (FAILED(d3d->CheckDeviceType(ordinal, D3DDEVTYPE_HAL, mode->format, f, windowed))) continue;
            if (Describe(f).alphaBits == 0 || back != D3DFMT_UNKNOWN) back = f;
        }
    }
    Qel_DPrintf(4, "S_Create3DDevice() Chosen Backbuffer format: %s\n", S_FormatName(back));

    D3DFORMAT depth = D3DFMT_UNKNOWN;
    int bestDepth = -1;
    for (uint32_t i = 0; i < mode->depthFormatCount; ++i) {
        D3DFORMAT f = mode->depthFormats[i];
        if (FAILED(d3d->CheckDeviceFormat(ordinal, D3DDEVTYPE_HAL, mode->format, D3DUSAGE_DEPTHSTENCIL,
                                          D3DRTYPE_SURFACE, f)) ||
            FAILED(d3d->CheckDepthStencilMatch(ordinal, D3DDEVTYPE_HAL, mode->format, back, f)))
            continue;
        TextureBitmapFormat desc = Describe(f);
        if (f == D3DFMT_D32) {
            depth = f;
            break;
        }
        if (static_cast<int>(desc.depthBits) > bestDepth ||
            (static_cast<int>(desc.depthBits) >= bestDepth && desc.stencilBits == 0)) {
            depth = f;
            bestDepth = desc.depthBits;
        }
    }
    if (depth == D3DFMT_UNKNOWN) {
        Qel_DPrintf(4, "S_Create3DDevice() Error choosing depth/stencil buffer format!\n");
        return 0;
    }
    TextureBitmapFormat depthDesc = Describe(depth);
    Qel_DPrintf(4, "S_Create3DDevice() Found depth/stencil buffer with depth=%d, stencil=%d [%s]\n",
                depthDesc.depthBits, depthDesc.stencilBits, S_FormatName(depth));
    if (depthDesc.stencilBits == 0) s->VideoD3DFlags &= ~0x200u;

    D3DFORMAT opaque = D3DFMT_UNKNOWN, transparent = D3DFMT_UNKNOWN;
    uint32_t opaqueBits = 0, transparentBits = 0;
    for (uint32_t i = 0; i < mode->textureFormatCount; ++i) {
        D3DFORMAT f = mode->textureFormats[i];
        if (FAILED(d3d->CheckDeviceFormat(ordinal, D3DDEVTYPE_HAL, mode->format, 0, D3DRTYPE_TEXTURE, f))) continue;
        TextureBitmapFormat desc = Describe(f);
        if (desc.alphaBits == 0 && !(desc.kind & 0x20)) {
            if (desc.bitsPerPixel > opaqueBits) opaque = f, opaqueBits = desc.bitsPerPixel;
        } else if (desc.alphaBits > 0) {
            if (desc.bitsPerPixel > transparentBits) transparent = f, transparentBits = desc.bitsPerPixel;
        }
    }
    if (opaque != D3DFMT_UNKNOWN) {
        Qel_DPrintf(4, "S_Create3DDevice() Chosen Texture Format: %s\n", S_FormatName(opaque));
        S3D_EbmGetPixelFormatFromDPF(d->opaqueFormat, opaque);
        if (transparent == D3DFMT_UNKNOWN) {
            Qel_DPrintf(4, "S_Create3DDevice() Chosen Transparent Texture Format same as Nontransparent!\n");
            *d->transparentFormat = *d->opaqueFormat;
            s->VideoD3DFlags |= 0x1000000;
        }
    }
    if (transparent != D3DFMT_UNKNOWN) {
        Qel_DPrintf(4, "S_Create3DDevice() Chosen Transparent Texture Format: %s\n", S_FormatName(transparent));
        S3D_EbmGetPixelFormatFromDPF(d->transparentFormat, transparent);
        if (opaque == D3DFMT_UNKNOWN) {
            Qel_DPrintf(4, "S_Create3DDevice() Chosen Nontransparent Texture Format same as Transparent!\n");
            *d->opaqueFormat = *d->transparentFormat;
        }
    }

    D3DPRESENT_PARAMETERS& pp = d->presentParams;
    std::memset(&pp, 0, sizeof pp);
    pp.BackBufferWidth = mode->width;
    pp.BackBufferHeight = mode->height;
    Qel_DPrintf(4, "S_Create3DDevice() Chosen backbuffer width=%d height=%d\n", static_cast<int>(mode->width),
                static_cast<int>(mode->height));
    pp.BackBufferFormat = back;
    pp.BackBufferCount = 1;
    pp.MultiSampleType = D3DMULTISAMPLE_NONE;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.hDeviceWindow = app.mainWindow;
    pp.Windowed = windowed ? 1 : 0;
    pp.EnableAutoDepthStencil = 1;
    pp.AutoDepthStencilFormat = depth;
    pp.Flags = D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL | (windowed ? D3DPRESENTFLAG_LOCKABLE_BACKBUFFER : 0);
    pp.FullScreen_RefreshRateInHz = 0;
    pp.PresentationInterval =
        S_PresentInterval(a->caps.PresentationIntervals, s->SysProfilingFlags, S_FixedFrameStep());
    d->mode = mode;
    d->modeIndex = app.modeIndex;

    if (!(a->caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT)) {
        a->behaviorFlags = D3DCREATE_SOFTWARE_VERTEXPROCESSING;
        Qel_DPrintf(4, "S_Create3DDevice() Setting SOFTWARE VERTEXPROCESSING\n");
    } else {
        a->behaviorFlags = D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_FPU_PRESERVE;
        if (a->caps.DevCaps & D3DDEVCAPS_PUREDEVICE) {
            a->behaviorFlags |= D3DCREATE_PUREDEVICE;
            Qel_DPrintf(4, "S_Create3DDevice() Setting PUREDEVICE\n");
        }
        Qel_DPrintf(4, "S_Create3DDevice() Setting HARDWARE VERTEXPROCESSING\n");
    }

    if (s->VideoD3DFlags & 0x1) {
        static const int samplesOf[4] = {2, 4, 6, 8};
        int samples = (s->antialiasMode >= 0 && s->antialiasMode <= 3) ? samplesOf[s->antialiasMode] : 2;
        if (!S_CheckMultiSample(app.adapterOrdinal, back, samples))
            samples = S_CheckMultiSample(app.adapterOrdinal, back, 2) ? 2 : 0;
        if (samples) {
            pp.MultiSampleType = static_cast<D3DMULTISAMPLE_TYPE>(samples);
            Qel_DPrintf(4, "S_Create3DDevice() Enabling Fullscreen Antialiasing D3DMULTISAMPLE_%d_SAMPLES\n", samples);
        } else {
            Qel_DPrintf(4,
                        "S_Create3DDevice() failed to find a supported Fullscreen Antialiasing Mode! (so "
                        "disabling AA)\n");
        }
    }

    if (d->device) {
        d->device->Release();
        d->device = nullptr;
    }
    HRESULT hr = d3d->CreateDevice(ordinal, D3DDEVTYPE_HAL, app.mainWindow, a->behaviorFlags, &pp, &d->device);
    if (FAILED(hr)) {
        Qel_DPrintf(4, "S_Create3DDevice() Can't create Device: %s.\n", DXGetErrorString9A(hr));
        d->device = nullptr;
        return 0;
    }
    IDirect3DDevice9* device = d->device;
    device->BeginScene();
    D3DVIEWPORT9 vp{0, 0, pp.BackBufferWidth, pp.BackBufferHeight, 0.0f, 1.0f};
    if (FAILED(device->SetViewport(&vp))) Qel_DPrintf(4, "Can't set viewport on device.\n");
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    device->EndScene();
    Qel_DPrintf(4, "INFO:\tS_Create3DDevice() ->Clear (D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER)\n");
    S_AcquireDeviceSurfaces();
    if (d->backBuffer) {
        D3DSURFACE_DESC desc{};
        if (SUCCEEDED(d->backBuffer->GetDesc(&desc))) pp.MultiSampleType = desc.MultiSampleType;
    }
    return S_InitShaderProfile(d);
}

CStateManagerInterface* S_InitStateManager(CStateManagerInterface** out) {
    if (!out) return nullptr;
    if (*out) (*out)->Release();
    *out = S_3DCreateStateManager();
    if (!*out) Qel_DPrintf(4, "ERROR: getStateManager() failed!\n");
    return *out;
}

int S_CheckMultiSample(int ordinal, D3DFORMAT format, int samples) {
    if (!g_RendererState || !g_RendererState->d3d || ordinal < 0) return 0;
    IDirect3D9* d3d = g_RendererState->d3d;
    D3DMULTISAMPLE_TYPE type = static_cast<D3DMULTISAMPLE_TYPE>(samples);
    return SUCCEEDED(
               d3d->CheckDeviceMultiSampleType(static_cast<UINT>(ordinal), D3DDEVTYPE_HAL, format, 0, type, nullptr)) &&
                   SUCCEEDED(d3d->CheckDeviceMultiSampleType(static_cast<UINT>(ordinal), D3DDEVTYPE_HAL, D3DFMT_D24X8,
                                                             0, type, nullptr))
               ? 1
               : 0;
}

void S_AcquireDeviceSurfaces() {
    D3DDeviceRecord* d = Record();
    if (!d || !d->device) return;
    ReleaseSurface(d->backBuffer);
    ReleaseSurface(d->depthStencil);
    if (SUCCEEDED(d->device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &d->backBuffer))) ++g_D3DCounters.surfaces;
    else d->backBuffer = nullptr;
    if (SUCCEEDED(d->device->GetDepthStencilSurface(&d->depthStencil))) ++g_D3DCounters.surfaces;
    else d->depthStencil = nullptr;
}

void S_LogDeviceLost() { Qel_DPrintf(4, "Device lost.\n"); }

// ---------------------------------------------------------------- present and reset

void S_FlipScreen() {
    IDirect3DDevice9* device = Device();
    if (!device) return;
    HRESULT hr = device->Present(nullptr, nullptr, nullptr, nullptr);
    Qel_DPrintf(0x200000, "INFO:\tPresent() \n");
    if (hr == D3DERR_DEVICELOST) {
        HRESULT level = device->TestCooperativeLevel();
        if (level == D3DERR_DEVICELOST) {
            Qel_DPrintf(4, "S_FlipScreen() TestCooperativeLevel() returns DEVICELOST.\n");
            g_ApplicationRecord.deviceUsable = 0;
            return;
        }
        if (level != D3DERR_DEVICENOTRESET) return;
        Qel_DPrintf(4, "S_FlipScreen() TestCooperativeLevel() returns DEVICENOTRESET, trying to reset the device.\n");
        // Nothing may draw on a device whose reset failed.
        if (!S_Reset3DDevice()) {
            g_ApplicationRecord.deviceUsable = 0;
            return;
        }
    }
    g_ApplicationRecord.deviceUsable = 1;
}

int (*g_SReopenDeviceHook)() = nullptr;

int S_Reset3DDevice() {
    D3DDeviceRecord* d = Record();
    if (!d || !d->device) return 0;
    S_3DReleaseDeviceObjects();
    ReleaseSurface(d->backBuffer);
    ReleaseSurface(d->depthStencil);
    IDirect3DSurface9* shared = g_ApplicationRecord.backBuffer;
    SetScreenSurface(nullptr);
    if (shared) {
        ULONG left = shared->Release();
        --g_D3DCounters.surfaces;
        Qel_DPrintf(4, "S_Reset3DDevice() Backbuffer Release(): %d\n", static_cast<int>(left));
    }
    Qel_DPrintf(4, "S_Reset3DDevice() Resetting the device now!\n");
    HRESULT hr = d->device->Reset(&d->presentParams);
    if (FAILED(hr)) {
        Qel_DPrintf(4, "S_Reset3DDevice() Reset() failed: %s\n", DXGetErrorString9A(hr));
        return 0;
    }
    Qel_DPrintf(4, "S_Reset3DDevice() Finished Resetting the device!\n");
    IDirect3DSurface9* back = nullptr;
    hr = d->device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    if (FAILED(hr)) {
        // The screen bitmaps keep no surface rather than a stale one.
        Qel_DPrintf(4, "S_Reset3DDevice() GetBackBuffer() failed: %s\n", DXGetErrorString9A(hr));
        return 0;
    }
    ++g_D3DCounters.surfaces;
    Qel_DPrintf(4, "S_Reset3DDevice() Got Backbuffer handle\n");
    SetScreenSurface(back);
    S_AcquireDeviceSurfaces();
    S_3DSetDefaultRenderStates();
    if (d->sm2Detected) S_3DInitPostProcessFX();
    if (d->sm14InUse) {
        S_3DInitEnviMapRender();
        g_RendererState->envFlags &= ~0x80u;
    }
    if (g_RendererDeviceObject && g_RendererDeviceObject->onReset)
        g_RendererDeviceObject->onReset(g_RendererDeviceObject);
    if (g_SReopenDeviceHook && !g_SReopenDeviceHook()) return 0;
    return 1;
}

int S_ResetDevice() { return S_Reset3DDevice(); }

// ---------------------------------------------------------------- close

void S_CloseVideoDevice(int full) {
    VideoRecord* v = g_VideoRecord;
    if (!v) return;
    Qel_DPrintf(4, " NACH DDCleanup!\n");
    // One reference to the back buffer, held by the application record, serves
    // both screen bitmaps: it is released once.
    IDirect3DSurface9* shared = g_ApplicationRecord.backBuffer;
    SetScreenSurface(nullptr);
    ReleaseSurface(shared);
    FreeScreenBitmap(v->VideoEBM);
    FreeScreenBitmap(v->BackBufferEBM);
    RendererState* r = g_RendererState;
    if (r && r->device) {
        D3DDeviceRecord* d = r->device;
        if (d->backBuffer) {
            ULONG left = d->backBuffer->Release();
            --g_D3DCounters.surfaces;
            d->backBuffer = nullptr;
            Qel_DPrintf(4, "Backbuffer Release(): %d\n", static_cast<int>(left));
        }
        ReleaseSurface(d->depthStencil);
        Qel_DPrintf(4, "Remaining buffers: numvb=%d numshvb=%d numib=%d numtex=%d numsurf=%d\n",
                    g_D3DCounters.vertexBuffers, g_D3DCounters.shaderVertexBuffers, g_D3DCounters.indexBuffers,
                    g_D3DCounters.textures, g_D3DCounters.surfaces);
        // No renderer target may outlive its device.
        S_3DClose();
        // The state manager holds the device: it goes first.
        if (r->stateManager) {
            r->stateManager->Release();
            r->stateManager = nullptr;
        }
        if (d->device) d->device->Release();
        // Freed once here, pointers cleared, so the device list does not free them again.
        Int_FreeRecord(d->screenFormat, kRendererTag);
        Int_FreeRecord(d->opaqueFormat, kRendererTag);
        Int_FreeRecord(d->transparentFormat, kRendererTag);
        Int_FreeRecord(d->thirdFormat, kRendererTag);
        Int_FreeRecord(d, kRendererTag);
        r->device = nullptr;
    }
    if (full) {
        S_FreeDevicesList();
        if (r) {
            if (r->d3d) r->d3d->Release();
            Int_FreeRecord(r, 0);
            g_RendererState = nullptr;
        }
        CloseWindow();
        if (s_ownsVideoRecord) {
            Int_FreeRecord(g_VideoRecord, 0);
            g_VideoRecord = nullptr;
            s_ownsVideoRecord = false;
        }
    }
}
