// Drawing one material group of a part for 1, 100 and 1000 instances with the
// standard lighting effect, through the forwarding state manager and the
// caching one side by side. On the spy device (no GL) the time is the
// renderer's and the state manager's own, and the counter is the device calls
// per draw; on the GL device (offscreen, Mesa) the time includes the stand-in's
// flush to GL, and the counters are GL calls, program switches and uniform
// bytes per draw, counted by hooking libepoxy's function pointers.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "base/general.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/texcache.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/spy.h"
#include "platform/d3dx/d3dx9.h"
#include "platform/win32/window.h"
#include "render/bodies.h"
#include "render/cameras.h"
#include "render/effects.h"
#include "render/mesh.h"
#include "render/partdraw.h"
#include "render/statemanager.h"
#include "scene/bodyrecord.h"
#include "scene/records.h"
#include "scene/state.h"
#include "system/adapters.h"
#include "system/video.h"

namespace {

// ---------------------------------------------------------------- GL counters

struct GLCounters {
    uint64_t calls = 0, programSwitches = 0, uniformBytes = 0;
    GLuint lastProgram = 0;
} g_gl;

// Counts the calls through one of libepoxy's function pointers (installed
// once the pointers hold the resolved functions).
template <auto Slot>
struct Hook;
template <class R, class... A, R(GLAPIENTRY** Slot)(A...)>
struct Hook<Slot> {
    static inline R(GLAPIENTRY* original)(A...) = nullptr;
    static R GLAPIENTRY Call(A... a) {
        ++g_gl.calls;
        auto f = original;
        if constexpr (std::is_void_v<R>) {
            f(a...);
            Reinstall();
        } else {
            R r = f(a...);
            Reinstall();
            return r;
        }
    }
    static void Reinstall() {
        if (*Slot != &Call) {
            original = *Slot;
            *Slot = &Call;
        }
    }
    static void Install() { Reinstall(); }
};

// Uniform uploads: bytes of one value, times the count of the array forms.
template <auto Slot, size_t Bytes, bool Array>
struct UniformHook;
template <class R, class... A, R(GLAPIENTRY** Slot)(A...), size_t Bytes, bool Array>
struct UniformHook<Slot, Bytes, Array> {
    static inline R(GLAPIENTRY* original)(A...) = nullptr;
    static R GLAPIENTRY Call(A... a) {
        ++g_gl.calls;
        g_gl.uniformBytes += Bytes * Count(a...);
        original(a...);
        if (*Slot != &Call) original = *Slot, *Slot = &Call;
    }
    template <class L, class N, class... B>
    static uint64_t Count(L, N n, B...) {
        if constexpr (Array) return static_cast<uint64_t>(n);
        return 1;
    }
    static void Install() {
        if (*Slot != &Call) original = *Slot, *Slot = &Call;
    }
};

void GLAPIENTRY CountedUseProgram(GLuint program);
void(GLAPIENTRY* g_UseProgram)(GLuint) = nullptr;
void GLAPIENTRY CountedUseProgram(GLuint program) {
    ++g_gl.calls;
    if (program && program != g_gl.lastProgram) {
        ++g_gl.programSwitches;
        g_gl.lastProgram = program;
    }
    g_UseProgram(program);
    if (epoxy_glUseProgram != &CountedUseProgram)
        g_UseProgram = epoxy_glUseProgram, epoxy_glUseProgram = &CountedUseProgram;
}

void InstallGLHooks() {
    static bool done = false;
    if (done) return;
    done = true;
#define TREVAN_HOOK(f) Hook<&epoxy_##f>::Install();
    TREVAN_HOOK(glActiveTexture)
    TREVAN_HOOK(glBindBuffer)
    TREVAN_HOOK(glBindFramebuffer)
    TREVAN_HOOK(glBindSampler)
    TREVAN_HOOK(glBindTexture)
    TREVAN_HOOK(glBindVertexArray)
    TREVAN_HOOK(glBlendColor)
    TREVAN_HOOK(glBlendEquationSeparate)
    TREVAN_HOOK(glBlendFuncSeparate)
    TREVAN_HOOK(glBufferData)
    TREVAN_HOOK(glColorMask)
    TREVAN_HOOK(glCullFace)
    TREVAN_HOOK(glDepthFunc)
    TREVAN_HOOK(glDepthMask)
    TREVAN_HOOK(glDepthRange)
    TREVAN_HOOK(glDisable)
    TREVAN_HOOK(glDisableVertexAttribArray)
    TREVAN_HOOK(glDrawArrays)
    TREVAN_HOOK(glDrawElementsBaseVertex)
    TREVAN_HOOK(glEnable)
    TREVAN_HOOK(glEnableVertexAttribArray)
    TREVAN_HOOK(glFramebufferTexture2D)
    TREVAN_HOOK(glFrontFace)
    TREVAN_HOOK(glGetUniformLocation)
    TREVAN_HOOK(glPolygonMode)
    TREVAN_HOOK(glSamplerParameterf)
    TREVAN_HOOK(glSamplerParameterfv)
    TREVAN_HOOK(glSamplerParameteri)
    TREVAN_HOOK(glStencilFunc)
    TREVAN_HOOK(glStencilMask)
    TREVAN_HOOK(glStencilOp)
    TREVAN_HOOK(glVertexAttrib4f)
    TREVAN_HOOK(glVertexAttribPointer)
    TREVAN_HOOK(glViewport)
#undef TREVAN_HOOK
#define TREVAN_UNIFORM(f, bytes, array) UniformHook<&epoxy_##f, bytes, array>::Install();
    TREVAN_UNIFORM(glUniform1f, 4, false)
    TREVAN_UNIFORM(glUniform2f, 8, false)
    TREVAN_UNIFORM(glUniform4f, 16, false)
    TREVAN_UNIFORM(glUniform1i, 4, false)
    TREVAN_UNIFORM(glUniform4i, 16, false)
    TREVAN_UNIFORM(glUniform1fv, 4, true)
    TREVAN_UNIFORM(glUniform2fv, 8, true)
    TREVAN_UNIFORM(glUniform3fv, 12, true)
    TREVAN_UNIFORM(glUniform4fv, 16, true)
    TREVAN_UNIFORM(glUniform1iv, 4, true)
    TREVAN_UNIFORM(glUniform2iv, 8, true)
    TREVAN_UNIFORM(glUniform3iv, 12, true)
    TREVAN_UNIFORM(glUniform4iv, 16, true)
    TREVAN_UNIFORM(glUniformMatrix3fv, 36, true)
    TREVAN_UNIFORM(glUniformMatrix4fv, 64, true)
#undef TREVAN_UNIFORM
    g_UseProgram = epoxy_glUseProgram;
    epoxy_glUseProgram = &CountedUseProgram;
}

// ---------------------------------------------------------------- the scene

std::string EffectText() {
    for (std::string root : {std::string("."), std::string(std::getenv("TREVAN_SOURCE_DIR") ?: ".")}) {
        std::ifstream in(root + "/data/effects/standard_lighting.fx", std::ios::binary);
        if (in) return std::string(std::istreambuf_iterator<char>(in), {});
    }
    return {};
}

// A hull part of 200 triangles, one material group, and its instances in a row.
struct Scene {
    SystemState system{};
    RendererState renderer{};
    D3DDeviceRecord record{};
    std::vector<BodyPoint> points;
    std::vector<BodyTriangle> tris;
    BodyGroup group{};
    BodyPart part{};
    BodyPart* parts[1] = {&part};
    BodyLevel level{};
    BodyLevel* levels[1] = {&level};
    Body3D body{};
    BodyMaterial material{};
    Scene3D scene{};
    Camera3D camera{};
    std::vector<Inst3D> insts;
    B3DNamedEntry* entry = nullptr;
    bool ok = false;

    Scene(IDirect3DDevice9* device, bool caching, int instances) {
        g_SystemState = &system;
        g_B3DState = B3D_InitStore();
        record.device = device;
        renderer.device = &record;
        g_RendererState = &renderer;
        renderer.stateManager = caching ? static_cast<CStateManagerInterface*>(new CPureDeviceStateManager(device))
                                        : new CBaseStateManager(device);
        S_3DCreateVertexDeclarations();
        S_3DAllocMatrices();
        g_TCNumberedCount = 4;
        TC_AllocTextureTable();
        g_S3DPartDraw = {0, 0, 0, 1, 1, 1};
        entry = B3D_AllocName("standard_lighting");
        auto* d = static_cast<SysShaderDefinition*>(Int_AllocMem(sizeof(SysShaderDefinition), 0));
        d->name = Qel_StrDup("standard_lighting");
        entry->definition = d;
        const std::string text = EffectText();
        const D3DXMACRO macros[] = {{"VRMENGINE", "true"}, {nullptr, nullptr}};
        if (text.empty() || D3DXCreateEffect(device, text.data(), static_cast<UINT>(text.size()), macros, nullptr, 0,
                                             nullptr, &d->effect[0], nullptr) != D3D_OK)
            return;
        d->effect[0]->SetStateManager(renderer.stateManager);

        const int side = 10;
        for (int y = 0; y <= side; ++y)
            for (int x = 0; x <= side; ++x)
                points.push_back({int16_t(x * 3000 - 15000), int16_t(y * 3000 - 15000), int16_t((x * y) % 7 * 100), 0,
                                  0, -16384, x << 12, y << 12, 0});
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                int a = y * (side + 1) + x, b = a + 1, c = a + side + 1, e = c + 1;
                tris.push_back({{a, c, b}, 0});
                tris.push_back({{b, c, e}, 0});
            }
        group = {static_cast<int32_t>(tris.size()), tris.data(), 0, 0, nullptr};
        part.groupCount = 1;
        part.groups = &group;
        part.level = &level;
        level.pointCount = static_cast<int32_t>(points.size());
        level.points = points.data();
        level.partCount = 1;
        level.parts = parts;
        level.body = &body;
        body.id = 1;
        body.levels = levels;
        body.levelCount = 1;
        body.flags = BODY_MATERIAL6;
        material.colour[0] = 200, material.colour[6] = 100;
        body.materials = &material;
        body.materialCount = 1;
        if (!S_3DAddBody(&body)) return;

        scene.systemScale = 1.0f / 65536.0f;
        camera.inst.scene = &scene;
        camera.inst.worldMatrix.m[0] = camera.inst.worldMatrix.m[5] = camera.inst.worldMatrix.m[10] = 0x10000;
        camera.focus = 16384;
        insts.resize(static_cast<size_t>(instances));
        for (int i = 0; i < instances; ++i) {
            Inst3D& n = insts[static_cast<size_t>(i)];
            n.flags = S3D_INST_DRAWN;
            n.size = 1 << 16;
            n.scale = {0x10000, 0x10000, 0x10000, 0};
            n.colorModifier[1] = 0x10000;
            n.worldMatrix = camera.inst.worldMatrix;
            n.worldPos = {((i % 32) - 16) << 16, ((i / 32) % 32 - 16) << 16, 40 << 16, 0};
        }
        ok = true;
    }
    ~Scene() {
        if (level.rendererBody) S_3DFreeBodyParts(&level);
        S_3DFreeShaderDefinition(entry);
        B3D_FreeNamedEntry(entry);
        S_3DFreeMatrices();
        S_3DReleaseVertexDeclarations();
        renderer.stateManager->Release();
        TC_FreeTextureTables();
        B3D_FreeStore();
        g_RendererState = nullptr;
        g_SystemState = nullptr;
    }
    void Frame() {
        auto* pm = static_cast<D3DPartMesh*>(part.rendererPart);
        for (Inst3D& n : insts) S_3DRenderPartFX(pm, &n, &camera, 0, nullptr);
    }
};

void SpyDraw(benchmark::State& state) {
    auto* spy = new D3D9SpyDevice();
    {
        Scene s(spy, state.range(1) != 0, static_cast<int>(state.range(0)));
        if (!s.ok) {
            state.SkipWithError("the scene could not be made");
        } else {
            s.Frame();  // the parameter block and the first state
            size_t calls = 0;
            uint64_t draws = 0;
            for (auto _ : state) {
                spy->calls.clear();
                s.Frame();
                calls += spy->calls.size();
                draws += s.insts.size();
            }
            state.counters["device_calls/draw"] = static_cast<double>(calls) / static_cast<double>(draws);
            state.SetItemsProcessed(static_cast<int64_t>(draws));
        }
    }
    spy->Release();
}

void GLDraw(benchmark::State& state) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "trevan bench";
    RegisterClassA(&wc);
    HWND window =
        CreateWindowExA(0, "trevan bench", "trevan bench", 0, 0, 0, 64, 48, nullptr, nullptr, nullptr, nullptr);
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS pp{};
    pp.BackBufferWidth = 64;
    pp.BackBufferHeight = 48;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.BackBufferCount = 1;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.hDeviceWindow = window;
    pp.Windowed = 1;
    IDirect3DDevice9* device = nullptr;
    if (!window || !d3d ||
        d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device) != D3D_OK) {
        state.SkipWithError("no GL device");
    } else {
        {
            Scene s(device, state.range(1) != 0, static_cast<int>(state.range(0)));
            if (!s.ok) {
                state.SkipWithError("the scene could not be made");
            } else {
                s.Frame();
                // After a first frame: libepoxy has put the real functions in
                // place of its resolvers, which call back through the pointer.
                InstallGLHooks();
                GLCounters start{};
                uint64_t draws = 0;
                g_gl = start;
                for (auto _ : state) {
                    s.Frame();
                    draws += s.insts.size();
                }
                const double n = static_cast<double>(draws);
                state.counters["gl_calls/draw"] = static_cast<double>(g_gl.calls) / n;
                state.counters["program_switches/draw"] = static_cast<double>(g_gl.programSwitches) / n;
                state.counters["uniform_bytes/draw"] = static_cast<double>(g_gl.uniformBytes) / n;
                state.SetItemsProcessed(static_cast<int64_t>(draws));
            }
        }
        device->SetVertexShader(nullptr);
        device->SetPixelShader(nullptr);
        device->Release();
    }
    if (d3d) d3d->Release();
    if (window) DestroyWindow(window);
}

// Arguments: instances, then 0 forwarding or 1 caching state manager.
BENCHMARK(SpyDraw)->ArgsProduct({{1, 100, 1000}, {0, 1}})->ArgNames({"instances", "caching"});
BENCHMARK(GLDraw)->ArgsProduct({{1, 100, 1000}, {0, 1}})->ArgNames({"instances", "caching"});

}  // namespace
