// The Direct3D 9 device over an OpenGL 3.3 core context in an SDL window. The
// back buffer is a framebuffer object; Present draws it once onto the window,
// turning it upright and applying the gamma ramp, then swaps.
#include <SDL2/SDL.h>

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/d3d9/glprogram.h"
#include "platform/d3d9/internal.h"
#include "platform/d3d9/program.h"
#include "platform/d3d9/seam.h"
#include "platform/win32/window.h"

namespace {
int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void SleepNs(int64_t ns) {
    timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}

// Drivers that show nothing: their swap never waits for a refresh.
bool DriverWithoutDisplay() {
    const char* driver = SDL_GetCurrentVideoDriver();
    return driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0);
}
}  // namespace

// Takes the front answer of a seam queue; D3D_OK when the queue is empty.
static HRESULT SeamTake(std::deque<HRESULT>& queue) {
    if (queue.empty()) return D3D_OK;
    HRESULT hr = queue.front();
    queue.pop_front();
    return hr;
}

static DWORD FloatBits(float f) {
    DWORD d;
    std::memcpy(&d, &f, sizeof d);
    return d;
}

void D3D9_DefaultState(D3D9State* s, bool depthBuffer) {
    *s = D3D9State{};
    s->render[D3DRS_ZENABLE] = depthBuffer ? D3DZB_TRUE : D3DZB_FALSE;
    s->render[D3DRS_FILLMODE] = D3DFILL_SOLID;
    s->render[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    s->render[D3DRS_ZWRITEENABLE] = 1;
    s->render[D3DRS_LASTPIXEL] = 1;
    s->render[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    s->render[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    s->render[D3DRS_CULLMODE] = D3DCULL_CCW;
    s->render[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    s->render[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    s->render[D3DRS_FOGSTART] = 0;
    s->render[D3DRS_FOGEND] = FloatBits(1.0f);
    s->render[D3DRS_FOGDENSITY] = FloatBits(1.0f);
    s->render[D3DRS_STENCILFAIL] = s->render[D3DRS_STENCILZFAIL] = s->render[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
    s->render[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
    s->render[D3DRS_STENCILMASK] = s->render[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFFu;
    s->render[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFFu;
    s->render[D3DRS_CLIPPING] = 1;
    s->render[D3DRS_LIGHTING] = 1;
    s->render[D3DRS_COLORVERTEX] = 1;
    s->render[D3DRS_LOCALVIEWER] = 1;
    s->render[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    s->render[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    s->render[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
    s->render[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
    s->render[D3DRS_POINTSIZE] = FloatBits(1.0f);
    s->render[D3DRS_MULTISAMPLEANTIALIAS] = 1;
    s->render[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFFu;
    s->render[D3DRS_COLORWRITEENABLE] = 0xF;
    s->render[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
    s->render[D3DRS_SRCBLENDALPHA] = D3DBLEND_ONE;
    s->render[D3DRS_DESTBLENDALPHA] = D3DBLEND_ZERO;
    s->render[D3DRS_BLENDOPALPHA] = D3DBLENDOP_ADD;
    for (auto& sampler : s->sampler) {
        sampler.fill(0);
        sampler[D3DSAMP_ADDRESSU] = sampler[D3DSAMP_ADDRESSV] = sampler[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
        sampler[D3DSAMP_MAGFILTER] = sampler[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        sampler[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
        sampler[D3DSAMP_MAXANISOTROPY] = 1;
    }
    for (size_t i = 0; i < s->stage.size(); ++i) {
        auto& stage = s->stage[i];
        stage.fill(0);
        stage[D3DTSS_COLOROP] = i == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        stage[D3DTSS_ALPHAOP] = i == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        stage[D3DTSS_COLORARG1] = stage[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        stage[D3DTSS_COLORARG2] = stage[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        stage[D3DTSS_COLORARG0] = stage[D3DTSS_ALPHAARG0] = stage[D3DTSS_RESULTARG] = D3DTA_CURRENT;
        stage[D3DTSS_TEXCOORDINDEX] = static_cast<DWORD>(i);
    }
    s->textures.fill(nullptr);
}

// ---------------------------------------------------------------- life

D3D9Device::D3D9Device(D3D9Interface* d3d, UINT adapter, HWND window, DWORD behavior, const D3DCAPS9& caps,
                       DWORD softwareVertexShaderVersion)
    : d3d_(d3d),
      adapter_(adapter),
      window_(window),
      sdl_(Win32_GetSDLWindow(window)),
      behavior_(behavior),
      caps_(caps),
      softwareVertexShaderVersion_(softwareVertexShaderVersion) {
    d3d_->AddRef();
    ++g_D3D9LiveDevices;
    if (g_D3D9Seam.declTypes >= 0) caps_.DeclTypes = static_cast<DWORD>(g_D3D9Seam.declTypes);
    for (int i = 0; i < 256; ++i) gamma_.red[i] = gamma_.green[i] = gamma_.blue[i] = static_cast<WORD>(i * 257);
}

D3D9Device::~D3D9Device() {
    if (MakeCurrent()) {
        ReleaseSwapChainSurfaces();
        if (drawFbo_) glDeleteFramebuffers(1, &drawFbo_);
        glDeleteFramebuffers(2, scratchFbo_);
        if (resolveFbo_) glDeleteFramebuffers(1, &resolveFbo_);
        if (resolveTex_) glDeleteTextures(1, &resolveTex_);
        if (presentProgram_) glDeleteProgram(presentProgram_);
        if (presentVao_) glDeleteVertexArrays(1, &presentVao_);
        if (gammaTex_) glDeleteTextures(1, &gammaTex_);
        if (drawProgram_) glDeleteProgram(drawProgram_);
        for (const VertexArray& a : vertexArrays_) glDeleteVertexArrays(1, &a.vao);
        if (upBuffer_) glDeleteBuffers(1, &upBuffer_);
        if (samplers_[0]) glDeleteSamplers(D3D9_MAX_SAMPLERS, samplers_);
    } else {
        ReleaseSwapChainSurfaces();
    }
    if (context_) {
        SDL_GL_MakeCurrent(sdl_, nullptr);
        SDL_GL_DeleteContext(static_cast<SDL_GLContext>(context_));
    }
    --g_D3D9LiveDevices;
    d3d_->Release();
}

ULONG D3D9Device::AddRef() { return static_cast<ULONG>(++refs_); }

ULONG D3D9Device::Release() {
    int left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left < 0 ? 0 : left);
}

bool D3D9Device::MakeCurrent() { return D3D9_MakeCurrent(sdl_, context_); }

HRESULT D3D9Device::TakeParams(const D3DPRESENT_PARAMETERS* params) {
    if (!params) return D3DERR_INVALIDCALL;
    D3DPRESENT_PARAMETERS p = *params;
    if (!p.hDeviceWindow) p.hDeviceWindow = window_;
    if (p.BackBufferWidth == 0 || p.BackBufferHeight == 0) {
        if (!p.Windowed) return D3DERR_INVALIDCALL;
        int w = 0, h = 0;
        SDL_GetWindowSize(Win32_GetSDLWindow(p.hDeviceWindow), &w, &h);
        if (p.BackBufferWidth == 0) p.BackBufferWidth = static_cast<UINT>(std::max(w, 1));
        if (p.BackBufferHeight == 0) p.BackBufferHeight = static_cast<UINT>(std::max(h, 1));
    }
    if (p.BackBufferFormat == D3DFMT_UNKNOWN && p.Windowed) p.BackBufferFormat = D3DFMT_X8R8G8B8;
    if (p.BackBufferCount == 0) p.BackBufferCount = 1;
    switch (p.BackBufferFormat) {
        case D3DFMT_X8R8G8B8:
        case D3DFMT_A8R8G8B8:
        case D3DFMT_R5G6B5:
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5: break;
        default: return D3DERR_INVALIDCALL;
    }
    if (p.BackBufferCount > 3 || p.BackBufferWidth > 16384 || p.BackBufferHeight > 16384) return D3DERR_INVALIDCALL;
    if (p.MultiSampleType == D3DMULTISAMPLE_NONMASKABLE) p.MultiSampleType = D3DMULTISAMPLE_2_SAMPLES;
    if (p.MultiSampleType != D3DMULTISAMPLE_NONE &&
        FAILED(d3d_->CheckDeviceMultiSampleType(adapter_, D3DDEVTYPE_HAL, p.BackBufferFormat, p.Windowed,
                                                p.MultiSampleType, nullptr)))
        return D3DERR_INVALIDCALL;
    if (p.MultiSampleType > static_cast<DWORD>(d3d_->maxSamples)) return D3DERR_INVALIDCALL;
    if (p.MultiSampleType != D3DMULTISAMPLE_NONE && p.SwapEffect != D3DSWAPEFFECT_DISCARD) return D3DERR_INVALIDCALL;
    if (p.EnableAutoDepthStencil) {
        const D3D9GLFormat* f = D3D9_FindFormat(p.AutoDepthStencilFormat);
        if (!f || !f->depth) return D3DERR_INVALIDCALL;
    }
    params_ = p;
    return D3D_OK;
}

HRESULT D3D9Device::Init(D3DPRESENT_PARAMETERS* params) {
    HRESULT hr = TakeParams(params);
    if (FAILED(hr)) return hr;
    if (!(SDL_GetWindowFlags(sdl_) & SDL_WINDOW_OPENGL)) return D3DERR_NOTAVAILABLE;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    context_ = SDL_GL_CreateContext(sdl_);
    if (!context_ || !MakeCurrent()) return D3DERR_NOTAVAILABLE;
    SetSwapInterval();
    if (!params_.Windowed) {
        SDL_DisplayMode mode{SDL_PIXELFORMAT_RGB888, static_cast<int>(params_.BackBufferWidth),
                             static_cast<int>(params_.BackBufferHeight),
                             static_cast<int>(params_.FullScreen_RefreshRateInHz), nullptr};
        SDL_SetWindowDisplayMode(sdl_, &mode);
        SDL_SetWindowFullscreen(sdl_, SDL_WINDOW_FULLSCREEN);
    }
    glGenFramebuffers(1, &drawFbo_);
    glGenFramebuffers(2, scratchFbo_);
    hr = CreateSwapChainSurfaces();
    if (FAILED(hr)) return hr;
    D3D9_DefaultState(&state_, autoDepth_ != nullptr);
    state_.viewport = {0, 0, params_.BackBufferWidth, params_.BackBufferHeight, 0.0f, 1.0f};
    renderTarget_ = backBuffer_;
    depthStencil_ = autoDepth_;
    *params = params_;
    return D3D_OK;
}

HRESULT D3D9Device::CreateSwapChainSurfaces() {
    D3DSURFACE_DESC d{params_.BackBufferFormat, D3DRTYPE_SURFACE,        D3DUSAGE_RENDERTARGET,
                      D3DPOOL_DEFAULT,          params_.MultiSampleType, 0,
                      params_.BackBufferWidth,  params_.BackBufferHeight};
    backBuffer_ = new D3D9Surface(this, nullptr, d);
    backBuffer_->implicit = true;
    backBuffer_->refs = 0;
    if (!backBuffer_->CreateStorage()) return D3DERR_OUTOFVIDEOMEMORY;
    backBuffer_->lockable =
        (params_.Flags & D3DPRESENTFLAG_LOCKABLE_BACKBUFFER) && params_.MultiSampleType < D3DMULTISAMPLE_2_SAMPLES;
    if (params_.EnableAutoDepthStencil) {
        D3DSURFACE_DESC z{params_.AutoDepthStencilFormat, D3DRTYPE_SURFACE,
                          D3DUSAGE_DEPTHSTENCIL,          D3DPOOL_DEFAULT,
                          params_.MultiSampleType,        0,
                          params_.BackBufferWidth,        params_.BackBufferHeight};
        autoDepth_ = new D3D9Surface(this, nullptr, z);
        autoDepth_->implicit = true;
        autoDepth_->refs = 0;
        if (!autoDepth_->CreateStorage()) return D3DERR_OUTOFVIDEOMEMORY;
    }
    return D3D_OK;
}

void D3D9Device::ReleaseSwapChainSurfaces() {
    D3D9Surface* back = backBuffer_;
    D3D9Surface* depth = autoDepth_;
    backBuffer_ = autoDepth_ = nullptr;
    delete back;
    delete depth;
}

void D3D9Device::ForgetSurface(D3D9Surface* surface) {
    if (renderTarget_ == surface) renderTarget_ = backBuffer_ == surface ? nullptr : backBuffer_;
    if (depthStencil_ == surface) depthStencil_ = nullptr;
}

void D3D9Device::ForgetTexture(IDirect3DBaseTexture9* texture) {
    for (auto& t : state_.textures)
        if (t == texture) t = nullptr;
}

// ---------------------------------------------------------------- framebuffers

void D3D9Device::AttachScratch(GLenum target, int slot, D3D9Surface* surface) {
    BindFramebuffer(target, scratchFbo_[slot]);
    glFramebufferRenderbuffer(target, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, 0);
    glFramebufferRenderbuffer(target, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, 0);
    const D3D9GLFormat* f = D3D9_FindFormat(surface->desc.Format);
    GLenum attachment = !f->depth    ? GL_COLOR_ATTACHMENT0
                        : f->stencil ? GL_DEPTH_STENCIL_ATTACHMENT
                                     : GL_DEPTH_ATTACHMENT;
    surface->Attach(target, attachment);
}

// The draw framebuffer keeps its attachments from draw to draw: a target is
// attached again only when another surface takes its place (by serial, so a
// surface made where a released one was is attached afresh).
void D3D9Device::BindDrawTargets() {
    BindFramebuffer(GL_DRAW_FRAMEBUFFER, drawFbo_);
    uint64_t colour = renderTarget_ ? renderTarget_->serial : 0;
    if (colour != attachedColor_) {
        if (renderTarget_) renderTarget_->Attach(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0);
        else glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, 0);
        attachedColor_ = colour;
    }
    uint64_t depth = depthStencil_ ? depthStencil_->serial : 0;
    if (depth != attachedDepth_) {
        GLenum point = 0;
        if (depthStencil_)
            point = D3D9_FindFormat(depthStencil_->desc.Format)->stencil ? GL_DEPTH_STENCIL_ATTACHMENT
                                                                         : GL_DEPTH_ATTACHMENT;
        // Whatever was attached goes; the combined point clears both.
        if (attachedDepth_ != 0 && point != GL_DEPTH_STENCIL_ATTACHMENT)
            glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, 0);
        if (depthStencil_) depthStencil_->Attach(GL_DRAW_FRAMEBUFFER, point);
        attachedDepth_ = depth;
        attachedDepthPoint_ = point;
    }
}

// ---------------------------------------------------------------- cooperative level, reset, present

HRESULT D3D9Device::TestCooperativeLevel() { return SeamTake(g_D3D9Seam.testCooperativeLevel); }

HRESULT D3D9Device::Reset(D3DPRESENT_PARAMETERS* params) {
    HRESULT forced = SeamTake(g_D3D9Seam.reset);
    if (forced != D3D_OK) return forced;
    // As the platform does: nothing of the old swap chain or the default pool may be held.
    if ((backBuffer_ && backBuffer_->refs > 0) || (autoDepth_ && autoDepth_->refs > 0) || defaultPoolObjects > 0)
        return D3DERR_INVALIDCALL;
    D3DPRESENT_PARAMETERS old = params_;
    HRESULT hr = TakeParams(params);
    if (FAILED(hr)) return hr;
    if (!MakeCurrent()) return D3DERR_DEVICELOST;
    ReleaseSwapChainSurfaces();
    if (params_.Windowed != old.Windowed || !params_.Windowed) {
        if (params_.Windowed) {
            SDL_SetWindowFullscreen(sdl_, 0);
        } else {
            SDL_DisplayMode mode{SDL_PIXELFORMAT_RGB888, static_cast<int>(params_.BackBufferWidth),
                                 static_cast<int>(params_.BackBufferHeight),
                                 static_cast<int>(params_.FullScreen_RefreshRateInHz), nullptr};
            SDL_SetWindowDisplayMode(sdl_, &mode);
            SDL_SetWindowFullscreen(sdl_, SDL_WINDOW_FULLSCREEN);
        }
    }
    SetSwapInterval();
    hr = CreateSwapChainSurfaces();
    if (FAILED(hr)) return hr;
    D3D9_DefaultState(&state_, autoDepth_ != nullptr);
    state_.viewport = {0, 0, params_.BackBufferWidth, params_.BackBufferHeight, 0.0f, 1.0f};
    renderTarget_ = backBuffer_;
    depthStencil_ = autoDepth_;
    inScene_ = false;
    gammaDirty_ = true;
    InvalidateFlushedState();
    ++g_D3D9Seam.resetCount;
    *params = params_;
    return D3D_OK;
}

bool D3D9Device::EnsurePresentProgram() {
    if (presentProgram_) return true;
    static const char* vs =
        "#version 330 core\n"
        "out vec2 uv;\n"
        "void main() {\n"
        "    vec2 p = vec2(float((gl_VertexID & 1) << 2) - 1.0, float((gl_VertexID & 2) << 1) - 1.0);\n"
        "    uv = p * 0.5 + 0.5;\n"
        "    gl_Position = vec4(p, 0.0, 1.0);\n"
        "}\n";
    // Memory row 0 is the top of the picture but GL's row 0 is the bottom of the
    // window: the one flip of the whole pipeline happens here.
    static const char* fs =
        "#version 330 core\n"
        "in vec2 uv;\n"
        "out vec4 color;\n"
        "uniform sampler2D picture;\n"
        "uniform sampler2D ramp;\n"
        "void main() {\n"
        "    vec3 c = clamp(texture(picture, vec2(uv.x, 1.0 - uv.y)).rgb, 0.0, 1.0);\n"
        "    vec3 i = (floor(c * 255.0 + 0.5) + 0.5) / 256.0;\n"
        "    color = vec4(texture(ramp, vec2(i.r, 0.5)).r, texture(ramp, vec2(i.g, 0.5)).g,\n"
        "                 texture(ramp, vec2(i.b, 0.5)).b, 1.0);\n"
        "}\n";
    GLuint program = D3D9_BuildCachedProgram("", vs, "", fs);
    if (!program) return false;
    presentProgram_ = program;
    UseProgram(program);
    glUniform1i(glGetUniformLocation(program, "picture"), 0);
    glUniform1i(glGetUniformLocation(program, "ramp"), 1);
    glGenVertexArrays(1, &presentVao_);
    glGenTextures(1, &gammaTex_);
    BindTexture(1, GL_TEXTURE_2D, gammaTex_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB16, 256, 1, 0, GL_RGB, GL_UNSIGNED_SHORT, nullptr);
    gammaDirty_ = true;
    return true;
}

void D3D9Device::UploadGammaRamp() {
    WORD rgb[256 * 3];
    for (int i = 0; i < 256; ++i) {
        rgb[i * 3] = gamma_.red[i];
        rgb[i * 3 + 1] = gamma_.green[i];
        rgb[i * 3 + 2] = gamma_.blue[i];
    }
    BindTexture(1, GL_TEXTURE_2D, gammaTex_);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 2);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 256, 1, GL_RGB, GL_UNSIGNED_SHORT, rgb);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    gammaDirty_ = false;
}

void D3D9Device::SetSwapInterval() {
    const bool waitForRefresh = params_.PresentationInterval != D3DPRESENT_INTERVAL_IMMEDIATE;
    const bool swapWaits = SDL_GL_SetSwapInterval(waitForRefresh ? 1 : 0) == 0 && !DriverWithoutDisplay();
    pacer_ = {};
    if (waitForRefresh && g_D3D9FramePacing) {
        SDL_DisplayMode mode{};
        const int display = SDL_GetWindowDisplayIndex(sdl_);
        const int hz = display >= 0 && SDL_GetCurrentDisplayMode(display, &mode) == 0 ? mode.refresh_rate : 0;
        pacer_.periodNs = D3D9_RefreshPeriodNs(hz);
        pacer_.swapWaits = swapWaits;
    }
    g_D3D9Seam.pacingPeriodNs = pacer_.periodNs;
    g_D3D9Seam.pacingSwapWaits = pacer_.swapWaits;
}

HRESULT D3D9Device::Present(const RECT*, const RECT*, HWND, const void*) {
    ++g_D3D9Seam.presentCount;
    HRESULT forced = SeamTake(g_D3D9Seam.present);
    if (forced != D3D_OK) return forced;
    if (inScene_) return D3DERR_INVALIDCALL;
    if (!MakeCurrent() || !backBuffer_) return D3DERR_DEVICELOST;
    if (!EnsurePresentProgram()) return D3DERR_DRIVERINTERNALERROR;
    if (gammaDirty_) UploadGammaRamp();
    GLuint picture = backBuffer_->glTexture;
    if (backBuffer_->store == D3D9Surface::Store::Renderbuffer) {
        // A multisampled back buffer is resolved first.
        UINT w = backBuffer_->desc.Width, h = backBuffer_->desc.Height;
        if (!resolveFbo_ || resolveW_ != w || resolveH_ != h) {
            if (!resolveFbo_) glGenFramebuffers(1, &resolveFbo_);
            DeleteTexture(resolveTex_);
            glGenTextures(1, &resolveTex_);
            BindTexture(0, GL_TEXTURE_2D, resolveTex_);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, static_cast<GLsizei>(w), static_cast<GLsizei>(h), 0, GL_RGBA,
                         GL_UNSIGNED_BYTE, nullptr);
            BindFramebuffer(GL_DRAW_FRAMEBUFFER, resolveFbo_);
            glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, resolveTex_, 0);
            resolveW_ = w;
            resolveH_ = h;
        }
        AttachScratch(GL_READ_FRAMEBUFFER, 0, backBuffer_);
        BindFramebuffer(GL_DRAW_FRAMEBUFFER, resolveFbo_);
        glDisable(GL_SCISSOR_TEST);
        glBlitFramebuffer(0, 0, static_cast<GLint>(w), static_cast<GLint>(h), 0, 0, static_cast<GLint>(w),
                          static_cast<GLint>(h), GL_COLOR_BUFFER_BIT, GL_NEAREST);
        picture = resolveTex_;
    }
    int dw = 0, dh = 0;
    SDL_GL_GetDrawableSize(sdl_, &dw, &dh);
    BindFramebuffer(GL_FRAMEBUFFER, 0);
    glViewport(0, 0, dw, dh);
    bound_.viewportKnown = false;
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_CULL_FACE);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    flushed_.dirty |= kAllGroups;
    UseProgram(presentProgram_);
    BindVertexArray(presentVao_);
    BindTexture(1, GL_TEXTURE_2D, gammaTex_);
    BindTexture(0, GL_TEXTURE_2D, picture);
    // The picture is read by texel, whatever sampler a draw left on the units.
    for (GLuint unit : {0u, 1u})
        if (bound_.sampler[unit] != 0) {
            glBindSampler(unit, 0);
            bound_.sampler[unit] = 0;
        }
    glDrawArrays(GL_TRIANGLES, 0, 3);
    if (pacer_.periodNs > 0) {
        const int64_t wait = D3D9_PaceDelay(&pacer_, MonotonicNs());
        if (wait > 0) SleepNs(wait);
    }
    SDL_GL_SwapWindow(sdl_);
    return D3D_OK;
}

HRESULT D3D9Device::GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE, IDirect3DSurface9** surface) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    HRESULT forced = SeamTake(g_D3D9Seam.getBackBuffer);
    if (forced != D3D_OK) return forced;
    if (swapChain != 0 || index >= params_.BackBufferCount || !backBuffer_) return D3DERR_INVALIDCALL;
    ++backBuffer_->refs;
    *surface = backBuffer_;
    return D3D_OK;
}

void D3D9Device::SetGammaRamp(UINT, DWORD, const D3DGAMMARAMP* ramp) {
    if (!ramp) return;
    gamma_ = *ramp;
    gammaDirty_ = true;
}

void D3D9Device::GetGammaRamp(UINT, D3DGAMMARAMP* ramp) {
    if (ramp) *ramp = gamma_;
}

// ---------------------------------------------------------------- queries

HRESULT D3D9Device::GetDirect3D(IDirect3D9** d3d) {
    if (!d3d) return D3DERR_INVALIDCALL;
    d3d_->AddRef();
    *d3d = d3d_;
    return D3D_OK;
}

HRESULT D3D9Device::GetDeviceCaps(D3DCAPS9* caps) {
    if (!caps) return D3DERR_INVALIDCALL;
    *caps = caps_;
    // Vertices processed in software get the software pipeline's shaders.
    if (GetSoftwareVertexProcessing()) caps->VertexShaderVersion = softwareVertexShaderVersion_;
    return D3D_OK;
}

HRESULT D3D9Device::GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) {
    if (swapChain != 0 || !mode) return D3DERR_INVALIDCALL;
    if (!params_.Windowed) {
        *mode = {params_.BackBufferWidth, params_.BackBufferHeight, params_.FullScreen_RefreshRateInHz,
                 params_.BackBufferFormat == D3DFMT_A8R8G8B8 ? D3DFMT_X8R8G8B8 : params_.BackBufferFormat};
        return D3D_OK;
    }
    return d3d_->GetAdapterDisplayMode(adapter_, mode);
}

HRESULT D3D9Device::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* params) {
    if (!params) return D3DERR_INVALIDCALL;
    HRESULT forced = SeamTake(g_D3D9Seam.getCreationParameters);
    if (forced != D3D_OK) return forced;
    *params = {adapter_, D3DDEVTYPE_HAL, window_, g_D3D9Seam.behaviorSeamed ? g_D3D9Seam.behaviorFlags : behavior_};
    return D3D_OK;
}

// ---------------------------------------------------------------- copies between surfaces

static bool ValidRect(const RECT& r, const D3DSURFACE_DESC& d) {
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom && r.right <= static_cast<LONG>(d.Width) &&
           r.bottom <= static_cast<LONG>(d.Height);
}

HRESULT D3D9Device::GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* destSurface) {
    auto* src = static_cast<D3D9Surface*>(renderTarget);
    auto* dst = static_cast<D3D9Surface*>(destSurface);
    if (!src || !dst || !(src->desc.Usage & D3DUSAGE_RENDERTARGET) || src->store != D3D9Surface::Store::Texture ||
        dst->store != D3D9Surface::Store::Memory || src->desc.Width != dst->desc.Width ||
        src->desc.Height != dst->desc.Height || src->desc.Format != dst->desc.Format)
        return D3DERR_INVALIDCALL;
    if (!MakeCurrent()) return D3DERR_DEVICELOST;
    const D3D9GLFormat* f = D3D9_FindFormat(src->desc.Format);
    GLenum bindTarget = src->glTarget == GL_TEXTURE_2D ? GL_TEXTURE_2D : GL_TEXTURE_CUBE_MAP;
    glBindTexture(bindTarget, src->glTexture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH,
                  static_cast<GLint>(D3D9_Pitch(dst->desc.Format, dst->desc.Width) / f->bytesPerPixel));
    glGetTexImage(src->glTarget, src->glLevel, f->glFormat, f->glType, dst->memory.data());
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glBindTexture(bindTarget, 0);
    TextureUnitDisturbed();
    dst->memoryValid = true;
    return D3D_OK;
}

HRESULT D3D9Device::GetFrontBufferData(UINT swapChain, IDirect3DSurface9* destSurface) {
    auto* dst = static_cast<D3D9Surface*>(destSurface);
    if (swapChain != 0 || !dst || dst->store != D3D9Surface::Store::Memory || dst->desc.Format != D3DFMT_A8R8G8B8)
        return D3DERR_INVALIDCALL;
    if (!MakeCurrent()) return D3DERR_DEVICELOST;
    int dw = 0, dh = 0;
    SDL_GL_GetDrawableSize(sdl_, &dw, &dh);
    int w = std::min<int>(dw, static_cast<int>(dst->desc.Width));
    int h = std::min<int>(dh, static_cast<int>(dst->desc.Height));
    if (w <= 0 || h <= 0) return D3D_OK;
    GLboolean doubleBuffered = GL_FALSE;
    glGetBooleanv(GL_DOUBLEBUFFER, &doubleBuffered);
    BindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glReadBuffer(doubleBuffered ? GL_FRONT : GL_BACK);
    std::vector<uint8_t> rows(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, w, h, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, rows.data());
    // The window is the one place where rows run bottom-up.
    UINT pitch = D3D9_Pitch(dst->desc.Format, dst->desc.Width);
    for (int y = 0; y < h; ++y) {
        uint8_t* out = dst->memory.data() + static_cast<size_t>(y) * pitch;
        std::memcpy(out, rows.data() + static_cast<size_t>(h - 1 - y) * static_cast<size_t>(w) * 4,
                    static_cast<size_t>(w) * 4);
        for (int x = 0; x < w; ++x) out[x * 4 + 3] = 0xFF;
    }
    dst->memoryValid = true;
    return D3D_OK;
}

HRESULT D3D9Device::StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                                const RECT* destRect, D3DTEXTUREFILTERTYPE filter) {
    auto* src = static_cast<D3D9Surface*>(source);
    auto* dst = static_cast<D3D9Surface*>(dest);
    if (!src || !dst || src == dst || src->store == D3D9Surface::Store::Memory ||
        dst->store == D3D9Surface::Store::Memory || src->desc.Pool != D3DPOOL_DEFAULT ||
        dst->desc.Pool != D3DPOOL_DEFAULT)
        return D3DERR_INVALIDCALL;
    RECT s =
        sourceRect ? *sourceRect : RECT{0, 0, static_cast<LONG>(src->desc.Width), static_cast<LONG>(src->desc.Height)};
    RECT d = destRect ? *destRect : RECT{0, 0, static_cast<LONG>(dst->desc.Width), static_cast<LONG>(dst->desc.Height)};
    if (!ValidRect(s, src->desc) || !ValidRect(d, dst->desc)) return D3DERR_INVALIDCALL;
    const D3D9GLFormat* sf = D3D9_FindFormat(src->desc.Format);
    const D3D9GLFormat* df = D3D9_FindFormat(dst->desc.Format);
    if (sf->depth != df->depth) return D3DERR_INVALIDCALL;
    // Colour copies may run inside a scene (the bloom copies the back buffer
    // there); depth copies may not.
    if (sf->depth && inScene_) return D3DERR_INVALIDCALL;
    if (dst->desc.MultiSampleType >= D3DMULTISAMPLE_2_SAMPLES && src->desc.MultiSampleType != dst->desc.MultiSampleType)
        return D3DERR_INVALIDCALL;
    bool sameSize = (s.right - s.left) == (d.right - d.left) && (s.bottom - s.top) == (d.bottom - d.top);
    if (src->desc.MultiSampleType >= D3DMULTISAMPLE_2_SAMPLES && !sameSize) return D3DERR_INVALIDCALL;
    if (sf->depth && (sourceRect || destRect || src->desc.Format != dst->desc.Format)) return D3DERR_INVALIDCALL;
    if (!MakeCurrent()) return D3DERR_DEVICELOST;
    AttachScratch(GL_READ_FRAMEBUFFER, 0, src);
    AttachScratch(GL_DRAW_FRAMEBUFFER, 1, dst);
    glDisable(GL_SCISSOR_TEST);
    GLbitfield mask = sf->depth ? (GL_DEPTH_BUFFER_BIT | (sf->stencil && df->stencil ? GL_STENCIL_BUFFER_BIT : 0))
                                : GL_COLOR_BUFFER_BIT;
    GLenum glFilter = (filter == D3DTEXF_LINEAR && !sf->depth && !sameSize) ? GL_LINEAR : GL_NEAREST;
    glBlitFramebuffer(s.left, s.top, s.right, s.bottom, d.left, d.top, d.right, d.bottom, mask, glFilter);
    dst->memoryValid = false;
    dst->gpuValid = true;
    return D3D_OK;
}

HRESULT D3D9Device::ColorFill(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color) {
    auto* s = static_cast<D3D9Surface*>(surface);
    if (!s || s->store == D3D9Surface::Store::Memory || s->desc.Pool != D3DPOOL_DEFAULT) return D3DERR_INVALIDCALL;
    const D3D9GLFormat* f = D3D9_FindFormat(s->desc.Format);
    if (f->depth) return D3DERR_INVALIDCALL;
    RECT r = rect ? *rect : RECT{0, 0, static_cast<LONG>(s->desc.Width), static_cast<LONG>(s->desc.Height)};
    if (!ValidRect(r, s->desc)) return D3DERR_INVALIDCALL;
    if (!MakeCurrent()) return D3DERR_DEVICELOST;
    AttachScratch(GL_FRAMEBUFFER, 1, s);
    glEnable(GL_SCISSOR_TEST);
    glScissor(r.left, r.top, r.right - r.left, r.bottom - r.top);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glClearColor(((color >> 16) & 0xFF) / 255.0f, ((color >> 8) & 0xFF) / 255.0f, (color & 0xFF) / 255.0f,
                 ((color >> 24) & 0xFF) / 255.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    flushed_.dirty |= kColorMaskGroup;
    s->memoryValid = false;
    s->gpuValid = true;
    return D3D_OK;
}

// ---------------------------------------------------------------- targets, scene, clear, viewport

HRESULT D3D9Device::SetRenderTarget(DWORD index, IDirect3DSurface9* surface) {
    auto* s = static_cast<D3D9Surface*>(surface);
    if (index != 0 || !s || !(s->desc.Usage & D3DUSAGE_RENDERTARGET) || s->store == D3D9Surface::Store::Memory)
        return D3DERR_INVALIDCALL;
    renderTarget_ = s;
    state_.viewport = {0, 0, s->desc.Width, s->desc.Height, 0.0f, 1.0f};
    return D3D_OK;
}

HRESULT D3D9Device::GetRenderTarget(DWORD index, IDirect3DSurface9** surface) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (index != 0 || !renderTarget_) return D3DERR_NOTFOUND;
    renderTarget_->AddRef();
    *surface = renderTarget_;
    return D3D_OK;
}

HRESULT D3D9Device::SetDepthStencilSurface(IDirect3DSurface9* surface) {
    auto* s = static_cast<D3D9Surface*>(surface);
    if (s && !(s->desc.Usage & D3DUSAGE_DEPTHSTENCIL)) return D3DERR_INVALIDCALL;
    depthStencil_ = s;
    return D3D_OK;
}

HRESULT D3D9Device::GetDepthStencilSurface(IDirect3DSurface9** surface) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (!depthStencil_) return D3DERR_NOTFOUND;
    depthStencil_->AddRef();
    *surface = depthStencil_;
    return D3D_OK;
}

HRESULT D3D9Device::BeginScene() {
    if (inScene_) {
        ++g_D3D9Seam.unpairedSceneCalls;
        return D3DERR_INVALIDCALL;
    }
    inScene_ = true;
    return D3D_OK;
}

HRESULT D3D9Device::EndScene() {
    if (!inScene_) {
        ++g_D3D9Seam.unpairedSceneCalls;
        return D3DERR_INVALIDCALL;
    }
    inScene_ = false;
    return D3D_OK;
}

HRESULT D3D9Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
    if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && !depthStencil_) return D3DERR_INVALIDCALL;
    if (flags & D3DCLEAR_STENCIL) {
        const D3D9GLFormat* f = D3D9_FindFormat(depthStencil_->desc.Format);
        if (!f->stencil) return D3DERR_INVALIDCALL;
    }
    if ((flags & D3DCLEAR_TARGET) && !renderTarget_) return D3DERR_INVALIDCALL;
    if (count > 0 && !rects) return D3DERR_INVALIDCALL;
    if (!MakeCurrent()) return D3DERR_DEVICELOST;
    BindDrawTargets();
    GLbitfield mask = 0;
    if (flags & D3DCLEAR_TARGET) mask |= GL_COLOR_BUFFER_BIT;
    if (flags & D3DCLEAR_ZBUFFER) mask |= GL_DEPTH_BUFFER_BIT;
    if (flags & D3DCLEAR_STENCIL) mask |= GL_STENCIL_BUFFER_BIT;
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glStencilMask(0xFF);
    glClearColor(((color >> 16) & 0xFF) / 255.0f, ((color >> 8) & 0xFF) / 255.0f, (color & 0xFF) / 255.0f,
                 ((color >> 24) & 0xFF) / 255.0f);
    glClearDepth(std::clamp(z, 0.0f, 1.0f));
    glClearStencil(static_cast<GLint>(stencil & 0xFF));
    // Rows of every target are in memory order, so Direct3D rectangles are GL
    // rectangles as they are. The clear is bounded by the viewport.
    const D3DVIEWPORT9& vp = state_.viewport;
    LONG vx0 = static_cast<LONG>(vp.X), vy0 = static_cast<LONG>(vp.Y);
    LONG vx1 = vx0 + static_cast<LONG>(vp.Width), vy1 = vy0 + static_cast<LONG>(vp.Height);
    glEnable(GL_SCISSOR_TEST);
    if (count == 0) {
        glScissor(vx0, vy0, vx1 - vx0, vy1 - vy0);
        glClear(mask);
    } else {
        for (DWORD i = 0; i < count; ++i) {
            LONG x0 = std::max(rects[i].x1, vx0), y0 = std::max(rects[i].y1, vy0);
            LONG x1 = std::min(rects[i].x2, vx1), y1 = std::min(rects[i].y2, vy1);
            if (x0 >= x1 || y0 >= y1) continue;
            glScissor(x0, y0, x1 - x0, y1 - y0);
            glClear(mask);
        }
    }
    glDisable(GL_SCISSOR_TEST);
    // The clear wrote every mask open.
    flushed_.dirty |= kColorMaskGroup | kDepthGroup | kStencilGroup;
    if ((flags & D3DCLEAR_TARGET) && renderTarget_) {
        renderTarget_->memoryValid = false;
        renderTarget_->gpuValid = true;
    }
    return D3D_OK;
}

HRESULT D3D9Device::SetViewport(const D3DVIEWPORT9* viewport) {
    if (!viewport || !renderTarget_) return D3DERR_INVALIDCALL;
    if (viewport->X + viewport->Width > renderTarget_->desc.Width ||
        viewport->Y + viewport->Height > renderTarget_->desc.Height || viewport->MinZ < 0.0f || viewport->MaxZ > 1.0f ||
        viewport->MinZ > viewport->MaxZ)
        return D3DERR_INVALIDCALL;
    state_.viewport = *viewport;
    return D3D_OK;
}

HRESULT D3D9Device::GetViewport(D3DVIEWPORT9* viewport) {
    if (!viewport) return D3DERR_INVALIDCALL;
    *viewport = state_.viewport;
    return D3D_OK;
}

// ---------------------------------------------------------------- recorded states

HRESULT D3D9Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (state >= D3D9_RENDER_STATE_COUNT) return D3DERR_INVALIDCALL;
    state_.render[state] = value;
    return D3D_OK;
}

HRESULT D3D9Device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if (state >= D3D9_RENDER_STATE_COUNT || !value) return D3DERR_INVALIDCALL;
    *value = state_.render[state];
    return D3D_OK;
}

HRESULT D3D9Device::SetTexture(DWORD sampler, IDirect3DBaseTexture9* texture) {
    if (sampler >= D3D9_MAX_SAMPLERS) return D3DERR_INVALIDCALL;
    state_.textures[sampler] = texture;
    return D3D_OK;
}

HRESULT D3D9Device::GetTexture(DWORD sampler, IDirect3DBaseTexture9** texture) {
    if (sampler >= D3D9_MAX_SAMPLERS || !texture) return D3DERR_INVALIDCALL;
    *texture = state_.textures[sampler];
    if (*texture) (*texture)->AddRef();
    return D3D_OK;
}

HRESULT D3D9Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    if (stage >= D3D9_MAX_STAGES || type >= D3D9_STAGE_STATE_COUNT) return D3DERR_INVALIDCALL;
    state_.stage[stage][type] = value;
    return D3D_OK;
}

HRESULT D3D9Device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
    if (stage >= D3D9_MAX_STAGES || type >= D3D9_STAGE_STATE_COUNT || !value) return D3DERR_INVALIDCALL;
    *value = state_.stage[stage][type];
    return D3D_OK;
}

HRESULT D3D9Device::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    if (sampler >= D3D9_MAX_SAMPLERS || type >= D3D9_SAMPLER_STATE_COUNT) return D3DERR_INVALIDCALL;
    state_.sampler[sampler][type] = value;
    return D3D_OK;
}

HRESULT D3D9Device::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
    if (sampler >= D3D9_MAX_SAMPLERS || type >= D3D9_SAMPLER_STATE_COUNT || !value) return D3DERR_INVALIDCALL;
    *value = state_.sampler[sampler][type];
    return D3D_OK;
}
