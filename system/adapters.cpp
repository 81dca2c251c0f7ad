// Direct3D adapters and display modes: enumeration into tables, the usable
// formats of each mode, the rating of adapters and the choice of adapter and mode.
#include "system/adapters.h"

#include <cstdio>
#include <cstring>

#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "render/pixelformat.h"
#include "system/adapter_info.h"
#include "system/entry.h"
#include "system/surfaces.h"
#include "system/video.h"

RendererState* g_RendererState = nullptr;
D3DObjectCounters g_D3DCounters;

const D3DFORMAT S_BackBufferCandidates[5] = {D3DFMT_X1R5G5B5, D3DFMT_R5G6B5, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, 0};
const D3DFORMAT S_DepthStencilCandidates[8] = {D3DFMT_D16_LOCKABLE, D3DFMT_D32,   D3DFMT_D15S1,   D3DFMT_D24S8,
                                               D3DFMT_D16,          D3DFMT_D24X8, D3DFMT_D24X4S4, 0};

int S_FormatBitsPerPixel(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_R8G8B8: return 24;
        case D3DFMT_A8R8G8B8:
        case D3DFMT_X8R8G8B8: return 32;
        case D3DFMT_R5G6B5:
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5:
        case D3DFMT_A4R4G4B4:
        case D3DFMT_X4R4G4B4: return 16;
        default: return 0;
    }
}

const char* S_AntialiasName(int samples) {
    switch (samples) {
        case 2: return "2x";
        case 4: return "4x";
        case 6: return "6x";
        case 8: return "8x";
        case 16: return "16x";
        default: return "NONE";
    }
}

static const char* QualityName(int quality) {
    switch (quality) {
        case 0: return "low";
        case 1: return "medium";
        case 2: return "high";
        default: return "not defined";
    }
}
const char* S_TextureQualityName(int quality) { return QualityName(quality); }
const char* S_ShaderQualityName(int quality) { return QualityName(quality); }

static bool Windowed() { return g_SystemState && (g_SystemState->videoFlags & VIDEO_FLAG_WINDOWED); }

static AdapterInfo* Adapter(int ordinal) {
    RendererState* r = g_RendererState;
    if (!r || !r->adapters || ordinal < 0 || ordinal >= r->adapterCount) return nullptr;
    return &r->adapters[ordinal];
}

int S_CreateRendererState() {
    if (!g_RendererState) {
        g_RendererState = Int_AllocRecord<RendererState>(0);
        if (!g_RendererState) return 0;
    }
    if (!g_RendererState->d3d) {
        Qel_DPrintf(4, "Direct3DCreate8(%d)\n", static_cast<int>(D3D_SDK_VERSION));
        g_RendererState->d3d = Direct3DCreate9(D3D_SDK_VERSION);
    }
    return g_RendererState->d3d ? 1 : 0;
}

// ---------------------------------------------------------------- mode lists

static void FreeFormats(D3DFORMAT*& list, uint32_t& count) {
    if (list) Int_FreeMem(list, count * sizeof(D3DFORMAT), 0);
    list = nullptr;
    count = 0;
}

static void FreeModeLists(DispMode* mode) {
    FreeFormats(mode->depthFormats, mode->depthFormatCount);
    FreeFormats(mode->textureFormats, mode->textureFormatCount);
    FreeFormats(mode->backBufferFormats, mode->backBufferFormatCount);
}

// Copies the kept formats to the heap; false when memory runs out.
static bool KeepFormats(const D3DFORMAT* kept, uint32_t n, D3DFORMAT** list, uint32_t* count) {
    *list = static_cast<D3DFORMAT*>(Int_AllocMem(n * sizeof(D3DFORMAT), 0));
    if (!*list) return false;
    std::memcpy(*list, kept, n * sizeof(D3DFORMAT));
    *count = n;
    return true;
}

static void LogMode(const char* text, const DispMode* m) {
    Qel_DPrintf(4, text, static_cast<int>(m->width), static_cast<int>(m->height), S_FormatBitsPerPixel(m->format),
                S_FormatName(m->format), static_cast<int>(m->refreshRate));
}

int S_CheckAdapterMode(DispMode* mode, AdapterInfo* adapter, int windowed) {
    if (!mode || !adapter || !g_RendererState || !g_RendererState->d3d) return 0;
    IDirect3D9* d3d = g_RendererState->d3d;
    if (mode->width < 1024 || mode->height < 600 || S_FormatBitsPerPixel(mode->format) < 24) {
        LogMode("Too low res display mode: (%d x %d x %d) [%s] %dHz\n", mode);
        return 0;
    }
    for (uint32_t i = 0; adapter->DispModeTable && i < adapter->fullscreenModeCount; ++i) {
        const DispMode& m = adapter->DispModeTable[i];
        if (&m != mode && m.width == mode->width && m.height == mode->height && m.format == mode->format) {
            LogMode("Found identical display mode: (%d x %d x %d) [%s] %dHz\n", mode);
            return 0;
        }
    }
    S3D_AddDDPFfromDX8F(mode);
    LogMode("Found display mode: (%d x %d x %d) [%s] %dHz\n", mode);
    UINT ordinal = adapter->ordinal;
    D3DFORMAT kept[64];
    uint32_t n = 0;

    Qel_DPrintf(4, "- Backbuffer formats:");
    for (const D3DFORMAT* c = S_BackBufferCandidates; *c; ++c)
        if (SUCCEEDED(d3d->CheckDeviceType(ordinal, D3DDEVTYPE_HAL, mode->format, *c, windowed))) {
            kept[n++] = *c;
            Qel_DPrintf(4, "  %s", S_FormatName(*c));
        }
    Qel_DPrintf(4, "\n");
    if (n == 0) {
        Qel_DPrintf(4, "S_CheckAdapterMode: No valid backbuffer formats found!\n");
        return 0;
    }
    if (!KeepFormats(kept, n, &mode->backBufferFormats, &mode->backBufferFormatCount)) {
        Qel_DPrintf(4, "S_CheckAdapterMode: Failed to allocate backbuffer format table!\n");
        return 0;
    }

    n = 0;
    Qel_DPrintf(4, "- Texture formats:");
    for (int i = 0; i < 44; ++i) {
        D3DFORMAT c = S3D_PixelFormatTable[i];
        if (SUCCEEDED(d3d->CheckDeviceFormat(ordinal, D3DDEVTYPE_HAL, mode->format, 0, D3DRTYPE_TEXTURE, c))) {
            kept[n++] = c;
            Qel_DPrintf(4, "  %s", S_FormatName(c));
        }
    }
    Qel_DPrintf(4, "\n");
    if (n == 0) {
        Qel_DPrintf(4, "S_CheckAdapterMode: No valid texture formats found!\n");
        FreeModeLists(mode);
        return 0;
    }
    if (!KeepFormats(kept, n, &mode->textureFormats, &mode->textureFormatCount)) {
        Qel_DPrintf(4, "S_CheckAdapterMode: Failed to allocate texture format table!\n");
        FreeModeLists(mode);
        return 0;
    }

    n = 0;
    Qel_DPrintf(4, "- Depth buffer formats:");
    for (const D3DFORMAT* c = S_DepthStencilCandidates; *c; ++c) {
        if (FAILED(d3d->CheckDeviceFormat(ordinal, D3DDEVTYPE_HAL, mode->format, D3DUSAGE_DEPTHSTENCIL,
                                          D3DRTYPE_SURFACE, *c)))
            continue;
        if (FAILED(d3d->CheckDepthStencilMatch(ordinal, D3DDEVTYPE_HAL, mode->format, mode->format, *c))) {
            Qel_ErrPrintf("S_CheckAdapterMode: Failed to match stencil!\n");
            continue;
        }
        kept[n++] = *c;
        Qel_DPrintf(4, "  %s", S_FormatName(*c));
    }
    Qel_DPrintf(4, "\n");
    if (n == 0) {
        Qel_DPrintf(4, "S_CheckAdapterMode: No valid depth/stencil buffer formats found!\n");
        FreeModeLists(mode);
        return 0;
    }
    if (!KeepFormats(kept, n, &mode->depthFormats, &mode->depthFormatCount)) {
        Qel_DPrintf(4, "S_CheckAdapterMode: Failed to allocate depth/stencil format table!\n");
        FreeModeLists(mode);
        return 0;
    }
    return 1;
}

// ---------------------------------------------------------------- enumeration

static void DriverVersion(const D3DADAPTER_IDENTIFIER9& id, int parts[4]) {
    uint64_t v = static_cast<uint64_t>(id.DriverVersion);
    parts[0] = static_cast<int>((v >> 48) & 0xFFFF);
    parts[1] = static_cast<int>((v >> 32) & 0xFFFF);
    parts[2] = static_cast<int>((v >> 16) & 0xFFFF);
    parts[3] = static_cast<int>(v & 0xFFFF);
}

// The windowed sizes: the two base sizes, then doubled, then twice as wide,
// each only when it fits on the desktop.
static int WindowedSizes(const DispMode& desktop, UINT sizes[][2]) {
    static const UINT base[2][2] = {{1024, 768}, {1280, 1024}};
    int n = 0;
    for (UINT factor = 1; factor <= 2; ++factor)
        for (const auto& b : base)
            if (b[0] * factor <= desktop.width && b[1] * factor <= desktop.height) {
                sizes[n][0] = b[0] * factor;
                sizes[n++][1] = b[1] * factor;
            }
    for (const auto& b : base)
        if (2 * b[0] <= desktop.width && b[1] <= desktop.height) {
            sizes[n][0] = 2 * b[0];
            sizes[n++][1] = b[1];
        }
    return n;
}

int S_EnumAdapterModes(int ordinal, AdapterInfo* adapter) {
    if (!adapter || !g_RendererState || !g_RendererState->d3d) return 0;
    IDirect3D9* d3d = g_RendererState->d3d;
    UINT uord = static_cast<UINT>(ordinal);
    adapter->ordinal = uord;
    d3d->GetAdapterIdentifier(uord, 0, &adapter->identifier);
    int v[4];
    DriverVersion(adapter->identifier, v);
    Qel_DPrintf(4, "Found adapter %d: [%s] [%s] %d.%d.%d.%d\n", ordinal, adapter->identifier.Driver,
                adapter->identifier.Description, v[0], v[1], v[2], v[3]);
    if (ordinal == 0 && g_SystemState) {
        char summary[700];
        snprintf(summary, sizeof summary, "%s [%d MB]    Driver [%d.%d.%d.%d]\n", adapter->identifier.Description,
                 static_cast<int>(g_SystemState->videoMemoryMB), v[0], v[1], v[2], v[3]);
        size_t n = strnlen(summary, 99);
        std::memcpy(g_SystemState->adapterSummary, summary, n);
        g_SystemState->adapterSummary[n] = 0;
    }
    adapter->monitor = d3d->GetAdapterMonitor(uord);
    HRESULT hr = d3d->GetDeviceCaps(uord, D3DDEVTYPE_HAL, &adapter->caps);
    if (FAILED(hr)) {
        Qel_DPrintf(4, "S_EnumAdapterModes: GetDeviceCaps(HAL) failed: %s\n", DXGetErrorString9A(hr));
        adapter->caps.DeviceType = 0;
    }
    adapter->zeroWord = 0;
    adapter->fullscreenModeCount = adapter->windowedModeCount = 0;
    adapter->DispModeTable = adapter->windowedModeTable = nullptr;

    // Windowed sizes share the desktop's format and format lists.
    std::memset(&adapter->desktopMode, 0, sizeof adapter->desktopMode);
    D3DDISPLAYMODE desktop{};
    if (SUCCEEDED(d3d->GetAdapterDisplayMode(uord, &desktop))) {
        DispMode& dm = adapter->desktopMode;
        dm.width = desktop.Width;
        dm.height = desktop.Height;
        dm.refreshRate = desktop.RefreshRate;
        dm.format = desktop.Format;
        if (S_CheckAdapterMode(&dm, adapter, 1)) {
            UINT sizes[8][2];
            int n = WindowedSizes(dm, sizes);
            if (n > 0) {
                adapter->windowedModeTable = static_cast<DispMode*>(Int_AllocMem(n * sizeof(DispMode), 0));
                if (!adapter->windowedModeTable) {
                    Qel_DPrintf(4, "S_EnumAdapterModes: Failed to allocate displaymode table!\n");
                    return 0;
                }
                for (int i = 0; i < n; ++i) {
                    adapter->windowedModeTable[i] = dm;
                    adapter->windowedModeTable[i].width = sizes[i][0];
                    adapter->windowedModeTable[i].height = sizes[i][1];
                }
                adapter->windowedModeCount = static_cast<uint32_t>(n);
            }
        }
    }

    UINT counts[4] = {0, 0, 0, 0};
    UINT sum = 0, largest = 0;
    for (int f = 0; S_BackBufferCandidates[f]; ++f) {
        counts[f] = d3d->GetAdapterModeCount(uord, S_BackBufferCandidates[f]);
        Qel_DPrintf(4, "adapter=%d format=%s nummodes=%d\n", ordinal, S_FormatName(S_BackBufferCandidates[f]),
                    static_cast<int>(counts[f]));
        sum += counts[f];
        if (counts[f] > largest) largest = counts[f];
    }
    if (sum == 0) {
        Qel_DPrintf(4, "S_EnumAdapterModes: No display modes found!\n");
        return 0;
    }
    DispMode* all = static_cast<DispMode*>(Int_AllocMem(sum * sizeof(DispMode), 0));
    if (!all) {
        Qel_DPrintf(4, "S_EnumAdapterModes: Failed to allocate displaymode table!\n");
        return 0;
    }
    // The table in the making is the adapter's, so the identical-mode test sees it.
    adapter->DispModeTable = all;
    adapter->fullscreenModeCount = 0;
    for (UINT i = 0; i < largest; ++i) {
        for (int f = 0; S_BackBufferCandidates[f]; ++f) {
            if (counts[f] <= i) continue;
            DispMode* entry = &all[adapter->fullscreenModeCount];
            std::memset(entry, 0, sizeof *entry);
            D3DDISPLAYMODE m{};
            hr = d3d->EnumAdapterModes(uord, S_BackBufferCandidates[f], i, &m);
            const char* back = S_FormatName(S_BackBufferCandidates[f]);
            if (FAILED(hr)) {
                Qel_DPrintf(4, "S_EnumAdapterModes: adapter=%d, backformat=%s mode=%d): %s\n", ordinal, back,
                            static_cast<int>(i), DXGetErrorString9A(hr));
                continue;
            }
            entry->width = m.Width;
            entry->height = m.Height;
            entry->refreshRate = m.RefreshRate;
            entry->format = m.Format;
            if (S_CheckAdapterMode(entry, adapter, 0)) {
                Qel_DPrintf(4, "OK adapter=%d backformat=%s mode=%d displaymode=%s\n", ordinal, back,
                            static_cast<int>(i), S_FormatName(entry->format));
                ++adapter->fullscreenModeCount;
            } else {
                Qel_DPrintf(4, "FAILED adapter=%d backformat=%s mode=%d displaymode=%s\n", ordinal, back,
                            static_cast<int>(i), S_FormatName(entry->format));
            }
        }
    }
    uint32_t kept = adapter->fullscreenModeCount;
    if (kept == 0) {
        Int_FreeMem(all, sum * sizeof(DispMode), 0);
        adapter->DispModeTable = nullptr;
        return 0;
    }
    DispMode* exact = static_cast<DispMode*>(Int_AllocMem(kept * sizeof(DispMode), 0));
    if (!exact) {
        Qel_DPrintf(4, "S_EnumAdapterModes: Failed to allocate displaymode table!\n");
        for (uint32_t i = 0; i < kept; ++i) FreeModeLists(&all[i]);
        Int_FreeMem(all, sum * sizeof(DispMode), 0);
        adapter->DispModeTable = nullptr;
        adapter->fullscreenModeCount = 0;
        return 0;
    }
    std::memcpy(exact, all, kept * sizeof(DispMode));
    Int_FreeMem(all, sum * sizeof(DispMode), 0);
    adapter->DispModeTable = exact;
    return 1;
}

int S_EnumDevices() {
    if (!g_RendererState || !g_RendererState->d3d) {
        if (!S_CreateRendererState()) {
            Qel_DPrintf(4, "S_EnumDevices() Failed to create Direct3D Interface!\n");
            return 0;
        }
    }
    RendererState* r = g_RendererState;
    if (r->adapterCount == 0) {
        r->adapterCount = static_cast<int32_t>(r->d3d->GetAdapterCount());
        if (g_VideoRecord) g_VideoRecord->adapterCount = static_cast<uint16_t>(r->adapterCount);
        uint32_t flags = g_VideoRecord ? g_VideoRecord->flags : g_SystemState ? g_SystemState->videoFlags : 0;
        r->windowed = (flags & VIDEO_FLAG_WINDOWED) ? 1 : 0;
        if (r->adapterCount <= 0) {
            r->adapterCount = 0;
            return 1;
        }
        r->adapters = static_cast<AdapterInfo*>(Int_AllocMem(r->adapterCount * sizeof(AdapterInfo), 0));
        if (!r->adapters) {
            Qel_DPrintf(4, "Error allocating memory for the devices.\n");
            r->adapterCount = 0;
            return 0;
        }
        for (int i = 0; i < r->adapterCount; ++i) S_EnumAdapterModes(i, &r->adapters[i]);
        return 1;
    }
    if (g_VideoRecord) g_VideoRecord->adapterCount = static_cast<uint16_t>(r->adapterCount);
    return 1;
}

// ---------------------------------------------------------------- rating and choice

// Index of the requested mode in the table that applies, or -1.
static int FindMode(const AdapterInfo* a, bool windowed, int width, int height, int depth) {
    const DispMode* table = windowed ? a->windowedModeTable : a->DispModeTable;
    uint32_t count = windowed ? a->windowedModeCount : a->fullscreenModeCount;
    for (uint32_t i = 0; table && i < count; ++i) {
        const DispMode& m = table[i];
        if (static_cast<int>(m.width) != width || static_cast<int>(m.height) != height) continue;
        if (windowed || S_FormatBitsPerPixel(m.format) == depth) return static_cast<int>(i);
    }
    return -1;
}

static void LogNoMode(const char* who, int ordinal, bool windowed, int width, int height, int depth) {
    if (windowed) Qel_DPrintf(4, "%s(%d) No %dx%d mode found!\n", who, ordinal, width, height);
    else Qel_DPrintf(4, "%s(%d) No %dx%dx%d mode found!\n", who, ordinal, width, height, depth);
}

static void LogSupport(int ordinal, bool supported, const char* what) {
    Qel_DPrintf(4, "S_EvalAdapter(%d) %s %s\n", ordinal, what, supported ? "supported" : "NOT supported");
}

int S_EvalAdapter(int ordinal) {
    AdapterInfo* a = Adapter(ordinal);
    if (!a) return -1;
    const char* name = a->identifier.Description;
    const D3DCAPS9& c = a->caps;
    Qel_DPrintf(4, "S_EvalAdapter(%d [%s]) Start...\n", ordinal, name);
    if (c.DeviceType == 0) {
        Qel_DPrintf(4, "S_EvalAdapter(%d [%s]) No HAL available!\n", ordinal, name);
        return -1;
    }
    if ((c.TextureCaps & D3DPTEXTURECAPS_MIPMAP) &&
        !(c.TextureFilterCaps & (D3DPTFILTERCAPS_MIPFPOINT | D3DPTFILTERCAPS_MIPFLINEAR))) {
        Qel_DPrintf(4, "S_EvalAdapter(%d [%s]) Mipmapping reqired, but not supported by the hardware!\n", ordinal,
                    name);
        return -1;
    }
    if (!(c.ShadeCaps & D3DPSHADECAPS_COLORGOURAUDRGB)) {
        Qel_DPrintf(4, "S_EvalAdapter(%d [%s]) Goraudshading required, but not supported!\n", ordinal, name);
        return -1;
    }
    bool alphaBlend = (c.TextureCaps & D3DPTEXTURECAPS_ALPHA) && (c.SrcBlendCaps & D3DPBLENDCAPS_SRCALPHA) &&
                      (c.DestBlendCaps & D3DPBLENDCAPS_INVSRCALPHA);
    if (!alphaBlend && !((c.SrcBlendCaps & D3DPBLENDCAPS_ONE) && (c.DestBlendCaps & D3DPBLENDCAPS_ONE))) {
        Qel_DPrintf(4,
                    "S_EvalAdapter(%d [%s]) Alpha- or destination-blending reqired, but not supported by the "
                    "hardware!\n",
                    ordinal, name);
        return -1;
    }
    if (!(c.PrimitiveMiscCaps & D3DPMISCCAPS_CULLCW)) {
        Qel_DPrintf(4, "S_EvalAdapter(%d [%s]) Clockwise culling reqired, but not supported by the device!\n", ordinal,
                    name);
        return -1;
    }
    int score = 0;
    if (c.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) {
        score = 10;
        Qel_DPrintf(4, "S_EvalAdapter(%d) Hardware T&L supported by the hardware!\n", ordinal);
    } else {
        Qel_DPrintf(4, "S_EvalAdapter(%d) Hardware T&L NOT supported by the hardware!\n", ordinal);
    }
    if (!(c.LineCaps & D3DLINECAPS_ZTEST)) {
        Qel_DPrintf(4, "S_EvalAdapter(%d) Z-buffer reqired, but not supported by the device!\n", ordinal);
        return -1;
    }
    if (c.TextureCaps & D3DPTEXTURECAPS_PERSPECTIVE) score += 5;
    if (c.TextureOpCaps & D3DTEXOPCAPS_DOTPRODUCT3) score += 1;
    int n = static_cast<int>(c.MaxSimultaneousTextures);
    if (n > 1) {
        if (c.DevCaps & D3DDEVCAPS_SEPARATETEXTUREMEMORIES) {
            Qel_DPrintf(4, "S_EvalAdapter(%d) SinglePass-MultiTexturing disabled (separate Texture-Memories)!\n",
                        ordinal);
        } else if (c.TextureOpCaps & D3DTEXOPCAPS_ADD) {
            score += 5 * n - 5;
            Qel_DPrintf(4, "S_EvalAdapter(%d) MaxSimultaneousTextures: %d\n", ordinal, n);
        } else {
            Qel_DPrintf(4, "S_EvalAdapter(%d) SinglePass-MultiTexturing disabled (Missing TexOp: ADD)!\n", ordinal);
        }
    }
    LogSupport(ordinal, c.RasterCaps & D3DPRASTERCAPS_WFOG, "WFOG (w-based fog)");
    LogSupport(ordinal, c.RasterCaps & D3DPRASTERCAPS_ZFOG, "ZFOG (z-based fog)");
    LogSupport(ordinal, c.RasterCaps & D3DPRASTERCAPS_FOGRANGE, "FOGRANGE (range-based fog)");
    LogSupport(ordinal, c.RasterCaps & D3DPRASTERCAPS_FOGTABLE, "FOGTABLE (table fog)");
    LogSupport(ordinal, c.RasterCaps & D3DPRASTERCAPS_FOGVERTEX, "FOGVERTEX (vertex fog)");
    SystemState* s = g_SystemState;
    int width = s ? s->width : 0, height = s ? s->height : 0, depth = s ? s->depth : 0;
    if (FindMode(a, Windowed(), width, height, depth) < 0) {
        LogNoMode("S_EvalAdapter", ordinal, Windowed(), width, height, depth);
        return -1;
    }
    return score;
}

void S_SetDefault3DSettings(int ordinal) {
    AdapterInfo* a = Adapter(ordinal);
    SystemState* s = g_SystemState;
    if (!a || !s) return;
    const D3DCAPS9& c = a->caps;
    uint32_t& f = s->VideoD3DFlags;
    if ((c.TextureCaps & D3DPTEXTURECAPS_ALPHA) && (c.SrcBlendCaps & D3DPBLENDCAPS_SRCALPHA) &&
        (c.DestBlendCaps & D3DPBLENDCAPS_INVSRCALPHA)) {
        f |= 0x80000;
        f &= ~0x1000000u;
    } else {
        f &= ~0x80000u;
        if ((c.SrcBlendCaps & D3DPBLENDCAPS_ONE) && (c.DestBlendCaps & D3DPBLENDCAPS_ONE)) f |= 0x1040000;
        else
            Qel_ErrPrintf(
                "S_SetDefault3DSettings(%d) Alpha- or destination-blending reqired, but not supported by "
                "the hardware!\n",
                ordinal);
    }
    if (c.LineCaps & D3DLINECAPS_ZTEST) {
        f |= 0x400;
        Qel_DPrintf(4, "S_SetDefault3DSettings(%d) Z-buffer-less hidden surface removal %s\n", ordinal,
                    (c.RasterCaps & D3DPRASTERCAPS_ZBUFFERLESSHSR) ? "supported" : "NOT supported");
        Qel_DPrintf(4, "S_SetDefault3DSettings(%d) Depth bias %s\n", ordinal,
                    (c.RasterCaps & D3DPRASTERCAPS_DEPTHBIAS) ? "supported" : "NOT supported");
        Qel_DPrintf(4, "S_SetDefault3DSettings(%d) W-buffer %s\n", ordinal,
                    (c.RasterCaps & D3DPRASTERCAPS_WBUFFER) ? "supported" : "NOT supported");
        if (!(c.RasterCaps & D3DPRASTERCAPS_WBUFFER)) f &= ~0x8000000u;
    } else {
        f &= ~0x400u;
        Qel_ErrPrintf("S_SetDefault3DSettings(%d) Z-buffer reqired, but not supported by the device!\n", ordinal);
    }
    // Both kinds of adapter start at 1024 x 768.
    if (c.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) {
        f |= 0x100000;
        Qel_DPrintf(4, "S_SetDefault3DSettings(%d) Hardware T&L supported, default resolution 1024x768\n", ordinal);
    } else {
        f &= ~0x100000u;
        Qel_DPrintf(4, "S_SetDefault3DSettings(%d) Hardware T&L NOT supported, default resolution 1024x768\n", ordinal);
    }
    s->width = 1024;
    s->height = 768;
    if (c.TextureCaps & D3DPTEXTURECAPS_PERSPECTIVE) s->videoFlags |= 0x40;
    else s->videoFlags &= ~0x40u;
    if (c.TextureOpCaps & (D3DTEXOPCAPS_DISABLE | D3DTEXOPCAPS_SELECTARG2 | D3DTEXOPCAPS_MODULATE))
        s->videoFlags |= 0x200000;
    else s->videoFlags &= ~0x200000u;
    if (c.TextureOpCaps & D3DTEXOPCAPS_DOTPRODUCT3)
        Qel_DPrintf(4, "S_SetDefault3DSettings(%d) Hardware supports DOT_PRODUCT3\n", ordinal);
    if (c.MaxSimultaneousTextures >= 2) {
        f |= 0x10000000;
        Qel_DPrintf(4, "S_SetDefault3DSettings(%d) SinglePass-MultiTexturing enabled!\nUsing %i TextureStages.\n",
                    ordinal, static_cast<int>(c.MaxSimultaneousTextures));
    } else {
        f &= ~0x10000000u;
        Qel_DPrintf(4, "S_SetDefault3DSettings(%d) Hardware doesn't support SinglePass-MultiTexturing!\n", ordinal);
    }
    int major = static_cast<int>(D3DSHADER_VERSION_MAJOR(c.VertexShaderVersion));
    int minor = static_cast<int>(D3DSHADER_VERSION_MINOR(c.VertexShaderVersion));
    Qel_DPrintf(4, "SetDefault3DSettings() VertexShader v%d.%d ", major, minor);
    if (major > 1 || (major == 1 && minor >= 1)) {
        f |= 0x20000;
        Qel_DPrintf(4, "Enabling Bumpmapping by default\n");
    } else {
        f &= ~0x20000u;
        Qel_DPrintf(4, "Disabling Bumpmapping by default\n");
    }
}

// Stores the chosen mode when the adapter has the requested one.
static bool TakeMode(int ordinal) {
    AdapterInfo* a = Adapter(ordinal);
    SystemState* s = g_SystemState;
    if (!a || !s) return false;
    bool windowed = Windowed();
    int index = FindMode(a, windowed, s->width, s->height, s->depth);
    if (index < 0) {
        LogNoMode("S_ChooseAdapter", ordinal, windowed, s->width, s->height, s->depth);
        return false;
    }
    const DispMode* table = windowed ? a->windowedModeTable : a->DispModeTable;
    g_ApplicationRecord.modeFormat = table[index].format;
    g_ApplicationRecord.modeIndex = index;
    return true;
}

static int BestAdapter() {
    int best = -1, bestScore = -1;
    for (int i = 0; i < g_RendererState->adapterCount; ++i) {
        int score = S_EvalAdapter(i);
        if (score > bestScore) {
            best = i;
            bestScore = score;
        }
    }
    return best;
}

int S_ChooseAdapter() {
    RendererState* r = g_RendererState;
    ApplicationRecord& app = g_ApplicationRecord;
    if (!g_SystemState) return 0;
    if (app.adapterName && r) {
        AdapterInfo* a = Adapter(app.adapterOrdinal);
        if (a && strcmp(a->identifier.Description, app.adapterName) == 0 && TakeMode(app.adapterOrdinal)) return 1;
    }
    app.adapterName = Qel_StrFree(app.adapterName);
    if (!r || r->adapterCount <= 0) {
        Qel_DPrintf(4, "S_ChooseAdapter() Couldn't find any suitable adapter!\n");
        return 0;
    }
    int best = BestAdapter();
    if (best < 0) {
        // A stored size that no adapter offers must not keep the game from starting:
        // rate again with the default mode.
        g_SystemState->width = 1024;
        g_SystemState->height = 768;
        g_SystemState->depth = 32;
        best = BestAdapter();
    }
    if (best < 0) {
        Qel_DPrintf(4, "S_ChooseAdapter() Couldn't find any suitable adapter!\n");
        return 0;
    }
    app.adapterOrdinal = best;
    app.adapterName = Qel_StrReassign(app.adapterName, r->adapters[best].identifier.Description);
    S_SetDefault3DSettings(best);
    return TakeMode(best) ? 1 : 0;
}

// ---------------------------------------------------------------- release

void S_FreeDevicesList() {
    Qel_DPrintf(4, "S_FreeDevicesList( %s )\n", "TRUE");
    if (g_VideoRecord) {
        g_VideoRecord->adapterCount = 0;
        std::memset(g_VideoRecord->adapterArea, 0, sizeof g_VideoRecord->adapterArea);
    }
    RendererState* r = g_RendererState;
    if (!r) return;
    if (r->adapters) {
        for (int i = 0; i < r->adapterCount; ++i) {
            AdapterInfo& a = r->adapters[i];
            for (uint32_t m = 0; a.DispModeTable && m < a.fullscreenModeCount; ++m) FreeModeLists(&a.DispModeTable[m]);
            if (a.DispModeTable) Int_FreeMem(a.DispModeTable, a.fullscreenModeCount * sizeof(DispMode), 0);
            if (a.windowedModeTable) Int_FreeMem(a.windowedModeTable, a.windowedModeCount * sizeof(DispMode), 0);
            FreeModeLists(&a.desktopMode);
            a.DispModeTable = a.windowedModeTable = nullptr;
            a.fullscreenModeCount = a.windowedModeCount = 0;
        }
        Int_FreeMem(r->adapters, r->adapterCount * sizeof(AdapterInfo), 0);
        r->adapters = nullptr;
    }
    r->adapterCount = 0;
    // The device record and its format descriptions go with the device; whatever
    // is still here was left by a device that never closed.
    if (r->device) {
        D3DDeviceRecord* d = r->device;
        Int_FreeRecord(d->screenFormat, Int_MemTag(6));
        Int_FreeRecord(d->opaqueFormat, Int_MemTag(6));
        Int_FreeRecord(d->transparentFormat, Int_MemTag(6));
        Int_FreeRecord(d->thirdFormat, Int_MemTag(6));
        Int_FreeRecord(d, Int_MemTag(6));
        r->device = nullptr;
    }
}
