// The Direct3D 9 interface over SDL displays and an OpenGL 3.3 core context:
// adapters, modes, capabilities and the format checks.
#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>
#include <epoxy/glx.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/d3d9/internal.h"
#include "platform/d3d9/seam.h"
#include "platform/win32/debug.h"
#include "platform/win32/window.h"

D3D9Seam g_D3D9Seam;
int g_D3D9LiveDevices = 0;
int g_D3D9LiveResources = 0;

bool g_D3D9FramePacing = true;

void D3D9_ResetSeam() { g_D3D9Seam = D3D9Seam{}; }
int D3D9_LiveDeviceCount() { return g_D3D9LiveDevices; }
int D3D9_LiveResourceCount() { return g_D3D9LiveResources; }

namespace {
std::vector<std::pair<D3D9ReleaseListener, void*>>& ReleaseListeners() {
    static std::vector<std::pair<D3D9ReleaseListener, void*>> listeners;
    return listeners;
}
}  // namespace

void D3D9_AddReleaseListener(D3D9ReleaseListener listener, void* context) {
    if (listener) ReleaseListeners().emplace_back(listener, context);
}

void D3D9_RemoveReleaseListener(D3D9ReleaseListener listener, void* context) {
    auto& all = ReleaseListeners();
    std::erase(all, std::pair{listener, context});
}

void D3D9_TellReleased(const void* object) {
    for (const auto& [listener, context] : ReleaseListeners()) listener(context, object);
}

// ---------------------------------------------------------------- formats

#define SWZ(r, g, b, a) \
    { r, g, b, a }
#define RGBA_SWZ SWZ(GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA)
static const D3D9GLFormat kFormats[] = {
    // format, internal, format, type, bpp, block, swizzle, tex, rt, depth, stencil
    {D3DFMT_A8R8G8B8, GL_RGBA8, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, 4, 0, RGBA_SWZ, true, true, false, false},
    {D3DFMT_X8R8G8B8, GL_RGB8, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, 4, 0, SWZ(GL_RED, GL_GREEN, GL_BLUE, GL_ONE), true,
     true, false, false},
    {D3DFMT_A8B8G8R8, GL_RGBA8, GL_RGBA, GL_UNSIGNED_INT_8_8_8_8_REV, 4, 0, RGBA_SWZ, true, true, false, false},
    {D3DFMT_X8B8G8R8, GL_RGB8, GL_RGBA, GL_UNSIGNED_INT_8_8_8_8_REV, 4, 0, SWZ(GL_RED, GL_GREEN, GL_BLUE, GL_ONE), true,
     true, false, false},
    {D3DFMT_R5G6B5, GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, 2, 0, RGBA_SWZ, true, true, false, false},
    {D3DFMT_X1R5G5B5, GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, 2, 0, SWZ(GL_RED, GL_GREEN, GL_BLUE, GL_ONE),
     true, true, false, false},
    {D3DFMT_A1R5G5B5, GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, 2, 0, RGBA_SWZ, true, true, false, false},
    {D3DFMT_A4R4G4B4, GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, 2, 0, RGBA_SWZ, true, false, false, false},
    {D3DFMT_X4R4G4B4, GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, 2, 0, SWZ(GL_RED, GL_GREEN, GL_BLUE, GL_ONE),
     true, false, false, false},
    {D3DFMT_A8, GL_R8, GL_RED, GL_UNSIGNED_BYTE, 1, 0, SWZ(GL_ZERO, GL_ZERO, GL_ZERO, GL_RED), true, false, false,
     false},
    {D3DFMT_L8, GL_R8, GL_RED, GL_UNSIGNED_BYTE, 1, 0, SWZ(GL_RED, GL_RED, GL_RED, GL_ONE), true, false, false, false},
    {D3DFMT_A8L8, GL_RG8, GL_RG, GL_UNSIGNED_BYTE, 2, 0, SWZ(GL_RED, GL_RED, GL_RED, GL_GREEN), true, false, false,
     false},
    {D3DFMT_L16, GL_R16, GL_RED, GL_UNSIGNED_SHORT, 2, 0, SWZ(GL_RED, GL_RED, GL_RED, GL_ONE), true, false, false,
     false},
    {D3DFMT_G16R16, GL_RG16, GL_RG, GL_UNSIGNED_SHORT, 4, 0, SWZ(GL_RED, GL_GREEN, GL_ONE, GL_ONE), true, true, false,
     false},
    {D3DFMT_A2B10G10R10, GL_RGB10_A2, GL_RGBA, GL_UNSIGNED_INT_2_10_10_10_REV, 4, 0, RGBA_SWZ, true, true, false,
     false},
    {D3DFMT_A2R10G10B10, GL_RGB10_A2, GL_BGRA, GL_UNSIGNED_INT_2_10_10_10_REV, 4, 0, RGBA_SWZ, true, true, false,
     false},
    // Wide formats are render targets only: as plain textures the bitmap code has no use for them.
    {D3DFMT_A16B16G16R16, GL_RGBA16, GL_RGBA, GL_UNSIGNED_SHORT, 8, 0, RGBA_SWZ, false, true, false, false},
    {D3DFMT_V8U8, GL_RG8_SNORM, GL_RG, GL_BYTE, 2, 0, SWZ(GL_RED, GL_GREEN, GL_ONE, GL_ONE), true, false, false, false},
    {D3DFMT_Q8W8V8U8, GL_RGBA8_SNORM, GL_RGBA, GL_BYTE, 4, 0, RGBA_SWZ, true, false, false, false},
    {D3DFMT_R16F, GL_R16F, GL_RED, GL_HALF_FLOAT, 2, 0, SWZ(GL_RED, GL_ONE, GL_ONE, GL_ONE), false, true, false, false},
    {D3DFMT_G16R16F, GL_RG16F, GL_RG, GL_HALF_FLOAT, 4, 0, SWZ(GL_RED, GL_GREEN, GL_ONE, GL_ONE), false, true, false,
     false},
    {D3DFMT_A16B16G16R16F, GL_RGBA16F, GL_RGBA, GL_HALF_FLOAT, 8, 0, RGBA_SWZ, false, true, false, false},
    {D3DFMT_R32F, GL_R32F, GL_RED, GL_FLOAT, 4, 0, SWZ(GL_RED, GL_ONE, GL_ONE, GL_ONE), false, true, false, false},
    {D3DFMT_G32R32F, GL_RG32F, GL_RG, GL_FLOAT, 8, 0, SWZ(GL_RED, GL_GREEN, GL_ONE, GL_ONE), false, true, false, false},
    {D3DFMT_A32B32G32R32F, GL_RGBA32F, GL_RGBA, GL_FLOAT, 16, 0, RGBA_SWZ, false, true, false, false},
    {D3DFMT_DXT1, GL_COMPRESSED_RGBA_S3TC_DXT1_EXT, 0, 0, 0, 8, RGBA_SWZ, true, false, false, false},
    {D3DFMT_DXT2, GL_COMPRESSED_RGBA_S3TC_DXT3_EXT, 0, 0, 0, 16, RGBA_SWZ, true, false, false, false},
    {D3DFMT_DXT3, GL_COMPRESSED_RGBA_S3TC_DXT3_EXT, 0, 0, 0, 16, RGBA_SWZ, true, false, false, false},
    {D3DFMT_DXT4, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, 0, 0, 0, 16, RGBA_SWZ, true, false, false, false},
    {D3DFMT_DXT5, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, 0, 0, 0, 16, RGBA_SWZ, true, false, false, false},
    {D3DFMT_D16, GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT, GL_UNSIGNED_SHORT, 2, 0, RGBA_SWZ, false, false, true,
     false},
    {D3DFMT_D24X8, GL_DEPTH_COMPONENT24, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT, 4, 0, RGBA_SWZ, false, false, true,
     false},
    {D3DFMT_D24S8, GL_DEPTH24_STENCIL8, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8, 4, 0, RGBA_SWZ, false, false, true,
     true},
    {D3DFMT_D32, GL_DEPTH_COMPONENT32, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT, 4, 0, RGBA_SWZ, false, false, true, false},
};
#undef SWZ
#undef RGBA_SWZ

static bool s_hasS3TC = true;

// Without S3TC the compressed formats stay available: their textures hold the
// decoded pixels in GL (texture_dxt.cpp).
bool D3D9_ContextHasS3TC() { return s_hasS3TC; }

const D3D9GLFormat* D3D9_FindFormat(D3DFORMAT format) {
    for (const auto& f : kFormats)
        if (f.format == format) return &f;
    return nullptr;
}

UINT D3D9_Pitch(D3DFORMAT format, UINT width) {
    const D3D9GLFormat* f = D3D9_FindFormat(format);
    if (!f) return 0;
    if (f->blockBytes) return ((width + 3) / 4) * f->blockBytes;
    // Rows of whole 16-pixel groups: a locked surface's pitch is the row length
    // of a bitmap of the same width, so rows are addressed alike on both.
    return ((width + 15u) & ~15u) * f->bytesPerPixel;
}

UINT D3D9_Rows(D3DFORMAT format, UINT height) {
    const D3D9GLFormat* f = D3D9_FindFormat(format);
    if (f && f->blockBytes) return (height + 3) / 4;
    return height;
}

bool D3D9_IsDisplayFormat(D3DFORMAT format) {
    return format == D3DFMT_X8R8G8B8 || format == D3DFMT_R5G6B5 || format == D3DFMT_X1R5G5B5;
}

uint64_t D3D9_NextSerial() {
    static uint64_t next = 0;
    return ++next;
}

bool D3D9_MakeCurrent(SDL_Window* window, void* context) {
    if (!window || !context) return false;
    if (SDL_GL_GetCurrentContext() == context && SDL_GL_GetCurrentWindow() == window) return true;
    return SDL_GL_MakeCurrent(window, static_cast<SDL_GLContext>(context)) == 0;
}

// ---------------------------------------------------------------- error texts

const char* DXGetErrorString9A(HRESULT hr) {
    switch (static_cast<uint32_t>(hr)) {
        case 0: return "S_OK";
        case 1: return "S_FALSE";
        case 0x0876086Fu: return "D3DOK_NOAUTOGEN";
        case 0x88760818u: return "D3DERR_WRONGTEXTUREFORMAT";
        case 0x88760819u: return "D3DERR_UNSUPPORTEDCOLOROPERATION";
        case 0x8876081Du: return "D3DERR_TOOMANYOPERATIONS";
        case 0x88760827u: return "D3DERR_DRIVERINTERNALERROR";
        case 0x88760866u: return "D3DERR_NOTFOUND";
        case 0x88760867u: return "D3DERR_MOREDATA";
        case 0x88760868u: return "D3DERR_DEVICELOST";
        case 0x88760869u: return "D3DERR_DEVICENOTRESET";
        case 0x8876086Au: return "D3DERR_NOTAVAILABLE";
        case 0x8876017Cu: return "D3DERR_OUTOFVIDEOMEMORY";
        case 0x8876086Bu: return "D3DERR_INVALIDDEVICE";
        case 0x8876086Cu: return "D3DERR_INVALIDCALL";
        case 0x8876021Cu: return "D3DERR_WASSTILLDRAWING";
        case 0x80004005u: return "E_FAIL";
        case 0x8007000Eu: return "E_OUTOFMEMORY";
        case 0x80070057u: return "E_INVALIDARG";
        case 0x80004001u: return "E_NOTIMPL";
        case 0x80004002u: return "E_NOINTERFACE";
        default: return "Unknown";
    }
}

// ---------------------------------------------------------------- what GL offers

struct GLProbe {
    bool done = false;
    bool ok = false;
    char renderer[256] = "";
    char vendor[128] = "";
    int glMajor = 0, glMinor = 0;
    int maxTexture = 0;
    int maxSamples = 0;
    float maxAnisotropy = 1.0f;
    int textureUnits = 0;
    int videoMemoryMB = 0;  // 0 = the driver does not tell
    const char* videoMemorySource = "";
};
static GLProbe s_probe;

// The video subsystem (and with it the GL driver) stays loaded for the life of
// the process: drivers are not made to be unloaded and loaded again.
bool D3D9_LoadDriver() {
    static int loaded = -1;
    if (loaded < 0) loaded = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0 && SDL_GL_LoadLibrary(nullptr) == 0 ? 1 : 0;
    return loaded == 1;
}

// Video memory as the driver tells it: Mesa's renderer query (GLX only), then
// the memory-info extensions of the two big vendors.
static void ProbeVideoMemory(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11 && glXGetCurrentContext()) {
        Display* display = glXGetCurrentDisplay();
        if (display && epoxy_has_glx_extension(display, DefaultScreen(display), "GLX_MESA_query_renderer")) {
            unsigned int mb = 0;
            if (glXQueryCurrentRendererIntegerMESA(GLX_RENDERER_VIDEO_MEMORY_MESA, &mb) && mb > 0) {
                s_probe.videoMemoryMB = static_cast<int>(mb);
                s_probe.videoMemorySource = "GLX_MESA_query_renderer";
                return;
            }
        }
    }
    if (epoxy_has_gl_extension("GL_NVX_gpu_memory_info")) {
        GLint kb = 0;
        glGetIntegerv(GL_GPU_MEMORY_INFO_TOTAL_AVAILABLE_MEMORY_NVX, &kb);
        if (kb > 0) {
            s_probe.videoMemoryMB = kb / 1024;
            s_probe.videoMemorySource = "GL_NVX_gpu_memory_info";
            return;
        }
    }
    if (epoxy_has_gl_extension("GL_ATI_meminfo")) {
        GLint kb[4] = {0, 0, 0, 0};
        glGetIntegerv(GL_TEXTURE_FREE_MEMORY_ATI, kb);
        if (kb[0] > 0) {
            s_probe.videoMemoryMB = kb[0] / 1024;
            s_probe.videoMemorySource = "GL_ATI_meminfo";
        }
    }
}

// When the driver tells nothing (Mesa's software rasteriser under EGL, for one)
// the stand-in answers 256 MB: enough for the engine's textures, small enough
// that it never chooses more than a modest card would hold.
constexpr int kDefaultVideoMemoryMB = 256;

UINT D3D9_VideoMemoryBytes() {
    int mb = s_probe.videoMemoryMB;
    const char* source = s_probe.videoMemorySource;
    if (g_D3D9Seam.videoMemoryMB > 0) {
        mb = g_D3D9Seam.videoMemoryMB;
        source = "seam";
    } else if (g_D3D9Seam.videoMemoryMB == -2) {
        mb = 0;
    }
    if (mb <= 0) {
        mb = kDefaultVideoMemoryMB;
        source = "default, the driver does not tell";
    }
    static bool logged = false;
    if (!logged) {
        logged = true;
        char line[160];
        snprintf(line, sizeof line, "Direct3D stand-in: video memory %d MB (%s)\n", mb, source);
        OutputDebugStringA(line);
    }
    // 4095 MB at most, so the figure fits the 32-bit answer.
    return static_cast<UINT>(std::min(mb, 4095)) << 20;
}

// A short-lived hidden window and context tell what the GL of this machine can do.
static bool ProbeGL() {
    if (s_probe.done) return s_probe.ok;
    s_probe.done = true;
    if (!D3D9_LoadDriver()) return false;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_Window* window = SDL_CreateWindow("probe", 0, 0, 16, 16, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!window) return false;
    SDL_Window* previousWindow = SDL_GL_GetCurrentWindow();
    SDL_GLContext previous = SDL_GL_GetCurrentContext();
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (context) {
        SDL_GL_MakeCurrent(window, context);
        const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
        const char* vendor = reinterpret_cast<const char*>(glGetString(GL_VENDOR));
        snprintf(s_probe.renderer, sizeof s_probe.renderer, "%s", renderer ? renderer : "OpenGL");
        snprintf(s_probe.vendor, sizeof s_probe.vendor, "%s", vendor ? vendor : "");
        int version = epoxy_gl_version();
        s_probe.glMajor = version / 10;
        s_probe.glMinor = version % 10;
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &s_probe.maxTexture);
        glGetIntegerv(GL_MAX_SAMPLES, &s_probe.maxSamples);
        glGetIntegerv(GL_MAX_TEXTURE_IMAGE_UNITS, &s_probe.textureUnits);
        if (epoxy_has_gl_extension("GL_EXT_texture_filter_anisotropic") ||
            epoxy_has_gl_extension("GL_ARB_texture_filter_anisotropic"))
            glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &s_probe.maxAnisotropy);
        s_hasS3TC = epoxy_has_gl_extension("GL_EXT_texture_compression_s3tc");
        ProbeVideoMemory(window);
        s_probe.ok = version >= 33;
        SDL_GL_MakeCurrent(previousWindow, previous);
        SDL_GL_DeleteContext(context);
    }
    SDL_DestroyWindow(window);
    return s_probe.ok;
}

D3DCAPS9 D3D9_DefaultCaps() {
    D3DCAPS9 c{};
    c.DeviceType = D3DDEVTYPE_HAL;
    c.Caps2 = D3DCAPS2_CANAUTOGENMIPMAP | D3DCAPS2_FULLSCREENGAMMA;
    c.PresentationIntervals = D3DPRESENT_INTERVAL_ONE | D3DPRESENT_INTERVAL_IMMEDIATE;
    c.DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_PUREDEVICE | D3DDEVCAPS_HWRASTERIZATION;
    c.PrimitiveMiscCaps = D3DPMISCCAPS_MASKZ | D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW | D3DPMISCCAPS_CULLCCW |
                          D3DPMISCCAPS_COLORWRITEENABLE | D3DPMISCCAPS_BLENDOP | D3DPMISCCAPS_SEPARATEALPHABLEND;
    // Only what the draw path does: no fog, scissor or depth bias.
    c.RasterCaps = D3DPRASTERCAPS_DITHER | D3DPRASTERCAPS_ZTEST | D3DPRASTERCAPS_MIPMAPLODBIAS;
    if (s_probe.maxAnisotropy > 1.0f) c.RasterCaps |= D3DPRASTERCAPS_ANISOTROPY;
    c.ZCmpCaps = D3DPCMPCAPS_ALL;
    c.AlphaCmpCaps = D3DPCMPCAPS_ALL;
    c.SrcBlendCaps = c.DestBlendCaps = 0x3FFF;
    c.ShadeCaps = D3DPSHADECAPS_COLORGOURAUDRGB | D3DPSHADECAPS_ALPHAGOURAUDBLEND;
    c.TextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_ALPHA | D3DPTEXTURECAPS_MIPMAP |
                    D3DPTEXTURECAPS_CUBEMAP | D3DPTEXTURECAPS_MIPCUBEMAP;
    DWORD filters = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MIPFPOINT |
                    D3DPTFILTERCAPS_MIPFLINEAR | D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
    if (s_probe.maxAnisotropy > 1.0f) filters |= D3DPTFILTERCAPS_MINFANISOTROPIC | D3DPTFILTERCAPS_MAGFANISOTROPIC;
    c.TextureFilterCaps = c.CubeTextureFilterCaps = filters;
    c.TextureAddressCaps =
        D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP | D3DPTADDRESSCAPS_BORDER;
    c.LineCaps = D3DLINECAPS_TEXTURE | D3DLINECAPS_ZTEST | D3DLINECAPS_BLEND | D3DLINECAPS_ALPHACMP;
    // 8192 keeps the pitch of a 32-bit row inside the 16-bit fields of the bitmaps.
    DWORD maxTexture = s_probe.maxTexture > 0 ? std::min<DWORD>(8192, static_cast<DWORD>(s_probe.maxTexture)) : 8192;
    c.MaxTextureWidth = c.MaxTextureHeight = maxTexture;
    c.MaxVolumeExtent = 2048;
    c.MaxTextureRepeat = 8192;
    c.MaxTextureAspectRatio = maxTexture;
    c.MaxAnisotropy = static_cast<DWORD>(std::max(1.0f, s_probe.maxAnisotropy));
    c.MaxVertexW = 1e10f;
    c.GuardBandLeft = c.GuardBandTop = -1e8f;
    c.GuardBandRight = c.GuardBandBottom = 1e8f;
    // One set of stencil states for both faces.
    c.StencilCaps = D3DSTENCILCAPS_ALL & ~D3DSTENCILCAPS_TWOSIDED;
    // Eight coordinate sets in a flag word, no point size among the vertices.
    c.FVFCaps = 8;
    // The built-in program's stage operations.
    c.TextureOpCaps = D3DTEXOPCAPS_DISABLE | D3DTEXOPCAPS_SELECTARG1 | D3DTEXOPCAPS_SELECTARG2 | D3DTEXOPCAPS_MODULATE |
                      D3DTEXOPCAPS_MODULATE2X | D3DTEXOPCAPS_MODULATE4X | D3DTEXOPCAPS_ADD;
    c.MaxTextureBlendStages = D3D9_MAX_STAGES;
    c.MaxSimultaneousTextures = D3D9_MAX_STAGES;
    // Fixed-function lighting and texture coordinate generation are recorded,
    // not drawn: the renderer lights through its effects.
    c.VertexProcessingCaps = 0;
    c.MaxActiveLights = 8;
    // No user clip planes, and points are one pixel: nothing draws with more.
    c.MaxUserClipPlanes = 0;
    c.MaxVertexBlendMatrices = 4;
    c.MaxVertexBlendMatrixIndex = 0;
    c.MaxPointSize = 1.0f;
    c.MaxPrimitiveCount = 0xFFFFF;
    c.MaxVertexIndex = 0xFFFFFF;
    c.MaxStreams = 16;
    c.MaxStreamStride = 255;
    c.VertexShaderVersion = D3DVS_VERSION(3, 0);
    c.MaxVertexShaderConst = 256;
    c.PixelShaderVersion = D3DPS_VERSION(3, 0);
    c.PixelShader1xMaxValue = 65504.0f;
    c.DevCaps2 = D3DDEVCAPS2_CAN_STRETCHRECT_FROM_TEXTURES;
    c.NumberOfAdaptersInGroup = 1;
    // UDEC3 is left out: GL reads its 2-bit w field where Direct3D reads 1.
    c.DeclTypes = D3DDTCAPS_UBYTE4 | D3DDTCAPS_UBYTE4N | D3DDTCAPS_SHORT2N | D3DDTCAPS_SHORT4N | D3DDTCAPS_USHORT2N |
                  D3DDTCAPS_USHORT4N | D3DDTCAPS_DEC3N | D3DDTCAPS_FLOAT16_2 | D3DDTCAPS_FLOAT16_4;
    c.NumSimultaneousRTs = 1;
    c.StretchRectFilterCaps =
        D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
    c.VS20Caps = {1, 24, 32, 4};
    c.PS20Caps = {0x1F, 24, 32, 4, 512};
    c.VertexTextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MAGFPOINT;
    c.MaxVShaderInstructionsExecuted = 65535;
    c.MaxPShaderInstructionsExecuted = 65535;
    c.MaxVertexShader30InstructionSlots = 512;
    c.MaxPixelShader30InstructionSlots = 512;
    return c;
}

static D3DFORMAT FormatOfSDL(uint32_t sdlFormat) {
    switch (sdlFormat) {
        case SDL_PIXELFORMAT_RGB888:
        case SDL_PIXELFORMAT_ARGB8888:
        case SDL_PIXELFORMAT_BGR888:
        case SDL_PIXELFORMAT_ABGR8888:
        case SDL_PIXELFORMAT_RGBX8888:
        case SDL_PIXELFORMAT_BGRX8888:
        case SDL_PIXELFORMAT_RGBA8888:
        case SDL_PIXELFORMAT_BGRA8888: return D3DFMT_X8R8G8B8;
        case SDL_PIXELFORMAT_RGB565:
        case SDL_PIXELFORMAT_BGR565: return D3DFMT_R5G6B5;
        case SDL_PIXELFORMAT_RGB555:
        case SDL_PIXELFORMAT_ARGB1555: return D3DFMT_X1R5G5B5;
        default: return D3DFMT_UNKNOWN;
    }
}

// ---------------------------------------------------------------- the interface

D3D9Interface::D3D9Interface() = default;

D3D9Interface::~D3D9Interface() {
    if (sdlStarted_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

bool D3D9Interface::Init() {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    sdlStarted_ = true;
    if (!ProbeGL()) return false;
    maxSamples = std::min(s_probe.maxSamples, 16);
    Enumerate();
    return true;
}

void D3D9Interface::Enumerate() {
    adapters_.clear();
    if (g_D3D9Seam.adaptersSeamed) {
        for (size_t i = 0; i < g_D3D9Seam.adapters.size(); ++i) {
            const D3D9SeamAdapter& s = g_D3D9Seam.adapters[i];
            D3D9AdapterFacts a;
            a.identifier = s.identifier;
            a.capsResult = s.capsResult;
            a.caps = s.caps;
            a.caps.AdapterOrdinal = static_cast<UINT>(i);
            a.softwareVertexShaderVersion = s.softwareVertexShaderVersion;
            a.desktopResult = s.desktopResult;
            a.desktop = s.desktop;
            for (const auto& perFormat : s.modes)
                for (D3DDISPLAYMODE m : perFormat.second) {
                    m.Format = perFormat.first;
                    a.modes.push_back(m);
                }
            a.monitor = i + 1;
            adapters_.push_back(a);
        }
        return;
    }
    int displays = SDL_GetNumVideoDisplays();
    for (int d = 0; d < displays; ++d) {
        D3D9AdapterFacts a;
        D3DADAPTER_IDENTIFIER9& id = a.identifier;
        snprintf(id.Driver, sizeof id.Driver, "OpenGL %d.%d", s_probe.glMajor, s_probe.glMinor);
        snprintf(id.Description, sizeof id.Description, "%s", s_probe.renderer);
        const char* name = SDL_GetDisplayName(d);
        snprintf(id.DeviceName, sizeof id.DeviceName, "%s", name ? name : "display");
        id.DriverVersion =
            (static_cast<int64_t>(s_probe.glMajor) << 48) | (static_cast<int64_t>(s_probe.glMinor) << 32);
        uint32_t hash = 2166136261u;  // a stable identifier from the renderer's name
        for (const char* p = id.Description; *p; ++p) hash = (hash ^ static_cast<uint8_t>(*p)) * 16777619u;
        id.DeviceIdentifier.Data1 = hash;
        id.DeviceIdentifier.Data2 = static_cast<uint16_t>(d);
        id.WHQLLevel = 1;
        a.caps = D3D9_DefaultCaps();
        a.caps.AdapterOrdinal = static_cast<UINT>(d);
        a.caps.AdapterOrdinalInGroup = 0;
        a.caps.MasterAdapterOrdinal = static_cast<UINT>(d);
        SDL_DisplayMode dm;
        if (SDL_GetDesktopDisplayMode(d, &dm) == 0 && FormatOfSDL(dm.format) != D3DFMT_UNKNOWN && dm.w > 0 &&
            dm.h > 0) {
            a.desktop = {static_cast<UINT>(dm.w), static_cast<UINT>(dm.h), static_cast<UINT>(dm.refresh_rate),
                         FormatOfSDL(dm.format)};
        } else {
            a.desktopResult = D3DERR_NOTAVAILABLE;
        }
        int count = SDL_GetNumDisplayModes(d);
        for (int i = 0; i < count; ++i) {
            if (SDL_GetDisplayMode(d, i, &dm) != 0) continue;
            D3DFORMAT f = FormatOfSDL(dm.format);
            if (f == D3DFMT_UNKNOWN || dm.w <= 0 || dm.h <= 0) continue;
            a.modes.push_back(
                {static_cast<UINT>(dm.w), static_cast<UINT>(dm.h), static_cast<UINT>(dm.refresh_rate), f});
        }
        // Some drivers list nothing usable (the offscreen one lists a single 0x0 mode).
        if (a.modes.empty() && a.desktopResult == D3D_OK) a.modes.push_back(a.desktop);
        a.monitor = static_cast<HMONITOR>(d + 1);
        adapters_.push_back(a);
    }
}

ULONG D3D9Interface::AddRef() { return static_cast<ULONG>(++refs_); }

ULONG D3D9Interface::Release() {
    int left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left < 0 ? 0 : left);
}

UINT D3D9Interface::GetAdapterCount() { return static_cast<UINT>(adapters_.size()); }

HRESULT D3D9Interface::GetAdapterIdentifier(UINT adapter, DWORD, D3DADAPTER_IDENTIFIER9* identifier) {
    if (adapter >= adapters_.size() || !identifier) return D3DERR_INVALIDCALL;
    *identifier = adapters_[adapter].identifier;
    return D3D_OK;
}

UINT D3D9Interface::GetAdapterModeCount(UINT adapter, D3DFORMAT format) {
    if (adapter >= adapters_.size()) return 0;
    return static_cast<UINT>(std::count_if(adapters_[adapter].modes.begin(), adapters_[adapter].modes.end(),
                                           [format](const D3DDISPLAYMODE& m) { return m.Format == format; }));
}

HRESULT D3D9Interface::EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* displayMode) {
    if (adapter >= adapters_.size() || !displayMode) return D3DERR_INVALIDCALL;
    UINT n = 0;
    for (const D3DDISPLAYMODE& m : adapters_[adapter].modes) {
        if (m.Format != format) continue;
        if (n++ == mode) {
            *displayMode = m;
            return D3D_OK;
        }
    }
    return D3DERR_INVALIDCALL;
}

HRESULT D3D9Interface::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) {
    if (adapter >= adapters_.size() || !mode) return D3DERR_INVALIDCALL;
    if (adapters_[adapter].desktopResult != D3D_OK) return adapters_[adapter].desktopResult;
    *mode = adapters_[adapter].desktop;
    return D3D_OK;
}

HRESULT D3D9Interface::CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                       D3DFORMAT backBufferFormat, BOOL windowed) {
    if (adapter >= adapters_.size()) return D3DERR_INVALIDCALL;
    if (g_D3D9Seam.checkDeviceType)
        return g_D3D9Seam.checkDeviceType(adapter, adapterFormat, backBufferFormat, windowed);
    if (type != D3DDEVTYPE_HAL || !D3D9_IsDisplayFormat(adapterFormat)) return D3DERR_NOTAVAILABLE;
    switch (backBufferFormat) {
        case D3DFMT_X8R8G8B8:
        case D3DFMT_A8R8G8B8: return (windowed || adapterFormat == D3DFMT_X8R8G8B8) ? D3D_OK : D3DERR_NOTAVAILABLE;
        case D3DFMT_R5G6B5: return (windowed || adapterFormat == D3DFMT_R5G6B5) ? D3D_OK : D3DERR_NOTAVAILABLE;
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5: return (windowed || adapterFormat == D3DFMT_X1R5G5B5) ? D3D_OK : D3DERR_NOTAVAILABLE;
        default: return D3DERR_NOTAVAILABLE;
    }
}

HRESULT D3D9Interface::CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                                         D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) {
    if (adapter >= adapters_.size()) return D3DERR_INVALIDCALL;
    if (g_D3D9Seam.checkDeviceFormat)
        return g_D3D9Seam.checkDeviceFormat(adapter, adapterFormat, usage, resourceType, checkFormat);
    if (type != D3DDEVTYPE_HAL || !D3D9_IsDisplayFormat(adapterFormat)) return D3DERR_NOTAVAILABLE;
    const D3D9GLFormat* f = D3D9_FindFormat(checkFormat);
    if (!f) return D3DERR_NOTAVAILABLE;
    if (usage & D3DUSAGE_DEPTHSTENCIL)
        return (f->depth && resourceType == D3DRTYPE_SURFACE) ? D3D_OK : D3DERR_NOTAVAILABLE;
    if (f->depth) return D3DERR_NOTAVAILABLE;
    if (resourceType != D3DRTYPE_SURFACE && resourceType != D3DRTYPE_TEXTURE && resourceType != D3DRTYPE_CUBETEXTURE)
        return D3DERR_NOTAVAILABLE;
    if (usage & D3DUSAGE_RENDERTARGET) {
        if (!f->renderTarget) return D3DERR_NOTAVAILABLE;
    } else if (!f->texture && resourceType != D3DRTYPE_SURFACE) {
        return D3DERR_NOTAVAILABLE;
    }
    if ((usage & D3DUSAGE_AUTOGENMIPMAP) && (f->blockBytes || !f->renderTarget)) return D3DOK_NOAUTOGEN;
    return D3D_OK;
}

HRESULT D3D9Interface::CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT surfaceFormat, BOOL windowed,
                                                  D3DMULTISAMPLE_TYPE multiSample, DWORD* qualityLevels) {
    if (adapter >= adapters_.size()) return D3DERR_INVALIDCALL;
    HRESULT hr;
    if (g_D3D9Seam.checkMultiSample) {
        hr = g_D3D9Seam.checkMultiSample(adapter, surfaceFormat, windowed, multiSample);
    } else {
        const D3D9GLFormat* f = D3D9_FindFormat(surfaceFormat);
        if (type != D3DDEVTYPE_HAL || !f || !(f->renderTarget || f->depth) || multiSample > 16)
            hr = D3DERR_NOTAVAILABLE;
        else if (multiSample == D3DMULTISAMPLE_NONE || multiSample == D3DMULTISAMPLE_NONMASKABLE) hr = D3D_OK;
        else hr = (static_cast<int>(multiSample) <= maxSamples) ? D3D_OK : D3DERR_NOTAVAILABLE;
    }
    if (qualityLevels) *qualityLevels = SUCCEEDED(hr) ? 1 : 0;
    return hr;
}

HRESULT D3D9Interface::CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                              D3DFORMAT renderTargetFormat, D3DFORMAT depthStencilFormat) {
    if (adapter >= adapters_.size()) return D3DERR_INVALIDCALL;
    if (g_D3D9Seam.checkDepthStencilMatch)
        return g_D3D9Seam.checkDepthStencilMatch(adapter, adapterFormat, renderTargetFormat, depthStencilFormat);
    const D3D9GLFormat* target = D3D9_FindFormat(renderTargetFormat);
    const D3D9GLFormat* depth = D3D9_FindFormat(depthStencilFormat);
    if (type != D3DDEVTYPE_HAL || !target || !target->renderTarget || !depth || !depth->depth)
        return D3DERR_NOTAVAILABLE;
    return D3D_OK;
}

HRESULT D3D9Interface::GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) {
    if (adapter >= adapters_.size() || !caps) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
    if (adapters_[adapter].capsResult != D3D_OK) return adapters_[adapter].capsResult;
    *caps = adapters_[adapter].caps;
    if (g_D3D9Seam.declTypes >= 0) caps->DeclTypes = static_cast<DWORD>(g_D3D9Seam.declTypes);
    return D3D_OK;
}

HMONITOR D3D9Interface::GetAdapterMonitor(UINT adapter) {
    return adapter < adapters_.size() ? adapters_[adapter].monitor : 0;
}

HRESULT D3D9Interface::CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                                    D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) {
    if (!device) return D3DERR_INVALIDCALL;
    *device = nullptr;
    if (!g_D3D9Seam.createDevice.empty()) {
        HRESULT forced = g_D3D9Seam.createDevice.front();
        g_D3D9Seam.createDevice.pop_front();
        if (forced != D3D_OK) return forced;
    }
    if (adapter >= adapters_.size() || !params) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
    if (adapters_[adapter].capsResult != D3D_OK) return D3DERR_NOTAVAILABLE;
    HWND window = params->hDeviceWindow ? params->hDeviceWindow : focusWindow;
    if (!Win32_GetSDLWindow(window)) return D3DERR_INVALIDCALL;
    auto* created = new D3D9Device(this, adapter, window, behaviorFlags, adapters_[adapter].caps,
                                   adapters_[adapter].softwareVertexShaderVersion);
    HRESULT hr = created->Init(params);
    if (FAILED(hr)) {
        created->Release();
        return hr;
    }
    *device = created;
    return D3D_OK;
}

IDirect3D9* Direct3DCreate9(UINT sdkVersion) {
    if (sdkVersion != D3D_SDK_VERSION || g_D3D9Seam.failCreate) return nullptr;
    auto* d3d = new D3D9Interface();
    if (!d3d->Init()) {
        delete d3d;
        return nullptr;
    }
    return d3d;
}
