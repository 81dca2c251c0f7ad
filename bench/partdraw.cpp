// Part drawing with the standard lighting effect, three ways:
// - on the spy device (no GL): the renderer's and the state manager's own
//   time, and the device calls per draw;
// - on the GL device (offscreen, Mesa), a frame of parts that differ only in
//   texture and world matrix: the GL calls, program switches (changes of the
//   bound program, unbinds included) and uniform bytes per draw, counted by
//   hooking libepoxy's function pointers;
// - the engine's frame against the same frame drawn with plain GL 3.3 calls
//   (the same meshes, texture and lighting) at 800 x 600: (a) one body of
//   100,000 triangles, (b) 1,000 instances of a 100-triangle body, (c) the
//   same blended. Each frame ends in glFinish, so the time is the
//   rasteriser's too.
#include <SDL2/SDL.h>
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "base/ebm.h"
#include "base/general.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/texcache.h"
#include "bench/ratios.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/spy.h"
#include "platform/d3dx/d3dx9.h"
#include "platform/win32/memory.h"
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
#include "system/surfaces.h"
#include "system/video.h"

namespace {

// ---------------------------------------------------------------- GL counters

struct GLCounters {
    uint64_t calls = 0, programSwitches = 0, uniformBytes = 0;
    GLuint lastProgram = 0;
} g_gl;

// Counts the calls through one of libepoxy's function pointers.
template <auto Slot, size_t Bytes = 0, bool Array = false>
struct Hook;
template <class R, class... A, R(GLAPIENTRY** Slot)(A...), size_t Bytes, bool Array>
struct Hook<Slot, Bytes, Array> {
    static inline R(GLAPIENTRY* original)(A...) = nullptr;
    static R GLAPIENTRY Call(A... a) {
        ++g_gl.calls;
        if constexpr (Bytes > 0) g_gl.uniformBytes += Bytes * Count(a...);
        // The loader's first-call stub resolves only while it is the slot's
        // value and then calls through the slot: hand the slot back for the
        // call, or the stub would call this hook for ever.
        *Slot = original;
        if constexpr (std::is_void_v<R>) {
            original(a...);
            Install();
        } else {
            R r = original(a...);
            Install();
            return r;
        }
    }
    // Uniform uploads: bytes of one value, times the count of the array forms.
    template <class L, class N, class... B>
    static uint64_t Count(L, N n, B...) {
        if constexpr (Array) return static_cast<uint64_t>(n);
        return 1;
    }
    static void Install() {
        if (*Slot != &Call) {
            original = *Slot;
            *Slot = &Call;
        }
    }
};

void GLAPIENTRY CountedUseProgram(GLuint program);
void(GLAPIENTRY* g_UseProgram)(GLuint) = nullptr;
void GLAPIENTRY CountedUseProgram(GLuint program) {
    ++g_gl.calls;
    if (program != g_gl.lastProgram) {
        ++g_gl.programSwitches;
        g_gl.lastProgram = program;
    }
    epoxy_glUseProgram = g_UseProgram;
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
    TREVAN_HOOK(glFramebufferRenderbuffer)
    TREVAN_HOOK(glFramebufferTexture2D)
    TREVAN_HOOK(glFrontFace)
    TREVAN_HOOK(glGenVertexArrays)
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
#define TREVAN_UNIFORM(f, bytes, array) Hook<&epoxy_##f, bytes, array>::Install();
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

// A flat grid facing the camera, cellsX x cellsY cells of two triangles, its
// points spanning -16384 .. 16384 with a little relief.
struct Grid {
    std::vector<BodyPoint> points;
    std::vector<BodyTriangle> tris;
    Grid(int cellsX, int cellsY) {
        for (int y = 0; y <= cellsY; ++y)
            for (int x = 0; x <= cellsX; ++x)
                points.push_back({int16_t(x * 32768 / cellsX - 16384), int16_t(y * 32768 / cellsY - 16384),
                                  int16_t((x * y) % 7 * 10), 0, 0, -16384, x * 65536 / cellsX, y * 65536 / cellsY, 0});
        for (int y = 0; y < cellsY; ++y)
            for (int x = 0; x < cellsX; ++x) {
                int a = y * (cellsX + 1) + x, b = a + 1, c = a + cellsX + 1, e = c + 1;
                tris.push_back({{a, c, b}, 0});
                tris.push_back({{b, c, e}, 0});
            }
    }
};

// One body of the grid with a texture of the table as its material.
struct OneBody {
    BodyGroup group{};
    BodyPart part{};
    BodyPart* parts[1] = {&part};
    BodyLevel level{};
    BodyLevel* levels[1] = {&level};
    Body3D body{};
    BodyMaterial material{};
};

// The standard effect, textures 1..n of the table (64 x 64, a pattern each),
// one body per texture, and the instances the caller places.
struct Scene {
    SystemState system{};
    RendererState renderer{};
    D3DDeviceRecord record{};
    IDirect3DDevice9* device;
    Grid grid;
    std::vector<std::unique_ptr<OneBody>> bodies;
    std::vector<IDirect3DTexture9*> textures;
    std::vector<EBM> bitmaps;
    std::vector<SysEBM> sys;
    Scene3D scene{};
    Camera3D camera{};
    std::vector<Inst3D> insts;
    B3DNamedEntry* entry = nullptr;
    bool ok = false;

    Scene(IDirect3DDevice9* d, bool caching, int cellsX, int cellsY, int textureCount, bool blended)
        : device(d),
          grid(cellsX, cellsY),
          bitmaps(static_cast<size_t>(textureCount) + 1),
          sys(static_cast<size_t>(textureCount) + 1) {
        g_SystemState = &system;
        g_B3DState = B3D_InitStore();
        record.device = device;
        renderer.device = &record;
        g_RendererState = &renderer;
        renderer.stateManager = caching ? static_cast<CStateManagerInterface*>(new CPureDeviceStateManager(device))
                                        : new CBaseStateManager(device);
        S_3DCreateVertexDeclarations();
        S_3DAllocMatrices();
        g_TCNumberedCount = static_cast<uint16_t>(textureCount + 1);
        TC_AllocTextureTable();
        g_S3DPartDraw = {0, 0, 0, 1, 1, 1};
        entry = B3D_AllocName("standard_lighting");
        auto* def = static_cast<SysShaderDefinition*>(Int_AllocMem(sizeof(SysShaderDefinition), 0));
        def->name = Qel_StrDup("standard_lighting");
        entry->definition = def;
        const std::string text = EffectText();
        const D3DXMACRO macros[] = {{"VRMENGINE", "true"}, {nullptr, nullptr}};
        if (text.empty() || D3DXCreateEffect(device, text.data(), static_cast<UINT>(text.size()), macros, nullptr, 0,
                                             nullptr, &def->effect[0], nullptr) != D3D_OK)
            return;
        def->effect[0]->SetStateManager(renderer.stateManager);

        for (int t = 1; t <= textureCount; ++t) {
            // The spy device makes no textures: its parts then draw with none.
            IDirect3DTexture9* texture = nullptr;
            if (device->CreateTexture(64, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr) != D3D_OK)
                continue;
            D3DLOCKED_RECT lr{};
            if (texture->LockRect(0, &lr, nullptr, 0) == D3D_OK && lr.pBits) {
                for (int y = 0; y < 64; ++y)
                    for (int x = 0; x < 64; ++x) {
                        uint32_t v = ((x ^ y) & 8) ? 0xFFC0C0C0u : 0xFF000000u | (0x40u << (8 * (t % 3)));
                        std::memcpy(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch + x * 4, &v, 4);
                    }
                texture->UnlockRect(0);
            }
            textures.push_back(texture);
            const auto i = static_cast<size_t>(t);
            bitmaps[i].sys = &sys[i];
            sys[i].WE_lpDestTexture = texture;
            TC_TextureTable[t].bitmap = &bitmaps[i];
        }
        for (int t = 1; t <= textureCount; ++t) {
            bodies.push_back(std::make_unique<OneBody>());
            OneBody& b = *bodies.back();
            b.group = {static_cast<int32_t>(grid.tris.size()), grid.tris.data(), 0, 0, nullptr};
            b.part.groupCount = 1;
            b.part.groups = &b.group;
            b.part.level = &b.level;
            b.level.pointCount = static_cast<int32_t>(grid.points.size());
            b.level.points = grid.points.data();
            b.level.partCount = 1;
            b.level.parts = b.parts;
            b.level.body = &b.body;
            b.body.id = t;
            b.body.levels = b.levels;
            b.body.levelCount = 1;
            b.body.flags = BODY_MATERIAL6;
            b.material.baseTexture = static_cast<int16_t>(t);
            b.material.colour[0] = b.material.colour[1] = b.material.colour[2] = 255;
            b.material.colour[7] = 100;  // diffuse strength 1, no emissive: the plain side's lighting
            b.material.flags = blended ? 0x4 : 0;
            b.body.materials = &b.material;
            b.body.materialCount = 1;
            if (!S_3DAddBody(&b.body)) return;
        }
        scene.systemScale = 1.0f / 65536.0f;
        camera.inst.scene = &scene;
        camera.inst.worldMatrix.m[0] = camera.inst.worldMatrix.m[5] = camera.inst.worldMatrix.m[10] = 0x10000;
        camera.focus = 16384;
        camera.camFlags = S3D_CAM_KEEP_DEPTH;  // depth tested and written, as on the plain side
        ok = true;
    }
    ~Scene() {
        for (auto& b : bodies)
            if (b->level.rendererBody) S_3DFreeBodyParts(&b->level);
        S_3DFreeShaderDefinition(entry);
        B3D_FreeNamedEntry(entry);
        device->SetVertexShader(nullptr);
        device->SetPixelShader(nullptr);
        device->SetIndices(nullptr);
        device->SetStreamSource(0, nullptr, 0, 0);
        device->SetVertexDeclaration(nullptr);
        for (DWORD i = 0; i < 8; ++i) device->SetTexture(i, nullptr);
        S_3DFreeMatrices();
        S_3DReleaseVertexDeclarations();
        renderer.stateManager->Release();
        for (int i = 0; i < g_TCNumberedCount + g_TCNamedCount; ++i) TC_TextureTable[i].bitmap = nullptr;
        TC_FreeTextureTables();
        for (IDirect3DTexture9* t : textures)
            if (t) t->Release();
        B3D_FreeStore();
        g_RendererState = nullptr;
        g_SystemState = nullptr;
    }
    // Instances in a grid of columns x rows cells at distance 10 in front of
    // the camera (whose view there spans -10 .. 10 both ways), each filling
    // `fill` of its cell; alpha 128 when blended.
    void Place(int columns, int rows, float fill, bool blended) {
        insts.assign(static_cast<size_t>(columns) * static_cast<size_t>(rows), Inst3D{});
        const float cellW = 20.0f / static_cast<float>(columns), cellH = 20.0f / static_cast<float>(rows);
        for (int i = 0; i < columns * rows; ++i) {
            Inst3D& n = insts[static_cast<size_t>(i)];
            n.flags = S3D_INST_DRAWN;
            n.size = static_cast<int32_t>(cellW * fill / 2.0f * 65536.0f);  // the body spans -1 .. 1
            n.scale = {0x10000, static_cast<int32_t>(cellH / cellW * 65536.0f), 0x10000, 0};
            n.colorModifier[1] = 0x10000;
            n.worldMatrix = camera.inst.worldMatrix;
            n.worldPos = {static_cast<int32_t>((-10.0f + cellW * (static_cast<float>(i % columns) + 0.5f)) * 65536.0f),
                          static_cast<int32_t>((-10.0f + cellH * (static_cast<float>(i / columns) + 0.5f)) * 65536.0f),
                          10 << 16, 0};
            n.alphaOverride = blended ? 128 : 0;
        }
    }
    D3DPartMesh* MeshOf(size_t body) { return static_cast<D3DPartMesh*>(bodies[body]->part.rendererPart); }
    // The frame as the scene engine draws it: each instance's matrices, then its part.
    void Frame() {
        for (size_t i = 0; i < insts.size(); ++i) {
            Inst3D& n = insts[i];
            S_3DSetInstMatrix(&n, &n, &camera);
            S_3DRenderPartFX(MeshOf(i % bodies.size()), &n, &camera, 0, nullptr);
        }
    }
};

// ---------------------------------------------------------------- the GL device

struct GLDevice {
    HWND window = nullptr;
    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    GLDevice(UINT width, UINT height) {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = "trevan bench";
        RegisterClassA(&wc);
        window = CreateWindowExA(0, "trevan bench", "trevan bench", 0, 0, 0, static_cast<int>(width),
                                 static_cast<int>(height), nullptr, nullptr, nullptr, nullptr);
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferWidth = width;
        pp.BackBufferHeight = height;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.BackBufferCount = 1;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.hDeviceWindow = window;
        pp.Windowed = 1;
        pp.EnableAutoDepthStencil = 1;
        pp.AutoDepthStencilFormat = D3DFMT_D24S8;
        pp.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        if (window && d3d &&
            d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device) != D3D_OK)
            device = nullptr;
    }
    ~GLDevice() {
        if (device) device->Release();
        if (d3d) d3d->Release();
        if (window) DestroyWindow(window);
    }
};

void SpyDraw(benchmark::State& state) {
    auto* spy = new D3D9SpyDevice();
    {
        Scene s(spy, state.range(1) != 0, 10, 10, 4, false);
        s.Place(32, static_cast<int>((state.range(0) + 31) / 32), 0.8f, false);
        s.insts.resize(static_cast<size_t>(state.range(0)));
        if (!s.ok) {
            state.SkipWithError("the scene could not be made");
        } else {
            s.Frame();  // the parameter blocks and the first state
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

// A frame of parts that differ only in texture (four bodies, a texture each)
// and world matrix, on a small target: what a draw costs in GL calls.
void GLDraw(benchmark::State& state) {
    GLDevice gl(64, 48);
    if (!gl.device) {
        state.SkipWithError("no GL device");
        return;
    }
    Scene s(gl.device, state.range(1) != 0, 10, 10, 4, false);
    s.Place(32, static_cast<int>((state.range(0) + 31) / 32), 0.8f, false);
    s.insts.resize(static_cast<size_t>(state.range(0)));
    if (!s.ok) {
        state.SkipWithError("the scene could not be made");
        return;
    }
    s.Frame();
    // After a first frame: libepoxy has put the real functions in place of
    // its resolvers, which call back through the pointer.
    InstallGLHooks();
    s.Frame();  // the steady state
    const GLuint bound = g_gl.lastProgram;
    g_gl = GLCounters{};
    g_gl.lastProgram = bound;
    uint64_t draws = 0;
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

// Arguments: instances, then 0 forwarding or 1 caching state manager.
BENCHMARK(SpyDraw)->ArgsProduct({{1, 100, 1000}, {0, 1}})->ArgNames({"instances", "caching"});
BENCHMARK(GLDraw)->ArgsProduct({{1, 100, 1000}, {0, 1}})->ArgNames({"instances", "caching"});

// ---------------------------------------------------------------- the engine against plain GL

constexpr UINT kFrameWidth = 800, kFrameHeight = 600;

// The three frames: cells of the body, instances as columns x rows, blending.
struct FrameCase {
    int cellsX, cellsY, columns, rows;
    bool blended;
};
constexpr FrameCase kFrameCases[3] = {
    {224, 224, 1, 1, false},  // (a) 100,352 triangles, the whole screen
    {10, 5, 40, 25, false},   // (b) 1,000 x 100 triangles
    {10, 5, 40, 25, true},    // (c) the same blended
};

// Pixels of the frame not of the clearing colour (0): both sides must cover
// the same part of the screen for the times to compare.
double Coverage(const std::vector<uint32_t>& pixels) {
    size_t covered = 0;
    for (uint32_t p : pixels) covered += (p & 0xFFFFFF) != 0;
    return static_cast<double>(covered) / static_cast<double>(pixels.size());
}

void EngineFrame(benchmark::State& state) {
    Win32_PinHeapThresholds();
    const FrameCase& c = kFrameCases[state.range(0)];
    GLDevice gl(kFrameWidth, kFrameHeight);
    if (!gl.device) {
        state.SkipWithError("no GL device");
        return;
    }
    Scene s(gl.device, true, c.cellsX, c.cellsY, 1, c.blended);
    s.Place(c.columns, c.rows, c.columns == 1 ? 1.2f : 0.9f, c.blended);
    if (!s.ok) {
        state.SkipWithError("the scene could not be made");
        return;
    }
    auto frame = [&] {
        gl.device->BeginScene();
        gl.device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        s.Frame();
        gl.device->EndScene();
        glFinish();
    };
    frame();
    // What the frame covers, read back through the device.
    IDirect3DSurface9 *back = nullptr, *copy = nullptr;
    gl.device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
    gl.device->CreateOffscreenPlainSurface(kFrameWidth, kFrameHeight, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &copy,
                                           nullptr);
    if (back && copy && gl.device->GetRenderTargetData(back, copy) == D3D_OK) {
        D3DLOCKED_RECT lr{};
        std::vector<uint32_t> pixels(kFrameWidth * kFrameHeight);
        if (copy->LockRect(&lr, nullptr, D3DLOCK_READONLY) == D3D_OK) {
            for (UINT y = 0; y < kFrameHeight; ++y)
                std::memcpy(pixels.data() + y * kFrameWidth, static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch,
                            kFrameWidth * 4);
            copy->UnlockRect();
        }
        state.counters["coverage"] = Coverage(pixels);
    }
    if (copy) copy->Release();
    if (back) back->Release();
    for (auto _ : state) frame();
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// The plain GL side: its own window and context, a framebuffer of the same
// formats as the device's back and depth buffers, the mesh bytes the engine
// built, and a program with the standard effect's lighting written out.
const char* const kRawVertex = R"(#version 330 core
layout(location = 0) in vec3 a_Position;
layout(location = 1) in vec2 a_TexCoord;
layout(location = 2) in vec3 a_Normal;
uniform mat4 u_WorldViewProjection;
uniform mat4 u_World;
uniform mat4 u_WorldIT;
uniform mat4 u_TexMatrix;
out vec2 v_Tex;
out vec3 v_Normal;
out vec3 v_World;
out float v_Depth;
void main() {
    vec4 p = vec4(a_Position, 1.0);
    vec4 clip = u_WorldViewProjection * p;
    gl_Position = vec4(clip.x, -clip.y, 2.0 * clip.z - clip.w, clip.w);
    v_Tex = (mat3(u_TexMatrix) * vec3(a_TexCoord, 1.0)).xy;
    v_Normal = mat3(u_WorldIT) * a_Normal;
    v_World = (u_World * p).xyz;
    v_Depth = clip.w;
}
)";
// The standard effect's lit fragment, every value a uniform as there.
const char* const kRawFragment = R"(#version 330 core
in vec2 v_Tex;
in vec3 v_Normal;
in vec3 v_World;
in float v_Depth;
uniform sampler2D s_Diffuse;
uniform sampler2D s_Specular;
uniform sampler2D s_LightMap;
uniform vec4 u_LightDir;
uniform vec4 u_LightColor;
uniform vec4 u_Ambient;
uniform vec4 u_PointPosition[10];
uniform vec4 u_PointColor[10];
uniform vec4 u_PointAtten[10];
uniform int u_PointCount;
uniform vec4 u_Emissive;
uniform float u_DiffuseStrength;
uniform float u_SpecularStrength;
uniform float u_SpecularPower;
uniform mat4 u_ViewInverse;
uniform vec4 u_FogClip;
uniform int u_EnableFog;
uniform float u_Alpha;
uniform float u_Glow;
uniform int u_Blending;
uniform float u_Brightness;
uniform float u_Contrast;
uniform float u_Saturation;
uniform float u_Hue;
out vec4 colour;
vec3 Adjust(vec3 c) {
    c = (c - 0.5) * u_Contrast + 0.5;
    c *= u_Brightness;
    float y = dot(c, vec3(0.299, 0.587, 0.114));
    c = mix(vec3(y), c, u_Saturation);
    if (u_Hue != 0.0) {
        float a = radians(u_Hue);
        float i = dot(c, vec3(0.596, -0.274, -0.322));
        float q = dot(c, vec3(0.211, -0.523, 0.312));
        float i2 = i * cos(a) - q * sin(a), q2 = i * sin(a) + q * cos(a);
        c = vec3(y + 0.956 * i2 + 0.621 * q2, y - 0.272 * i2 - 0.647 * q2, y - 1.106 * i2 + 1.703 * q2);
    }
    return clamp(c, 0.0, 1.0);
}
void main() {
    vec4 diffuse = texture(s_Diffuse, v_Tex);
    vec3 n = normalize(v_Normal);
    vec3 light = u_Ambient.rgb;
    light += max(dot(n, normalize(u_LightDir.xyz)), 0.0) * u_LightColor.rgb * u_DiffuseStrength;
    for (int i = 0; i < u_PointCount && i < 10; ++i) {
        vec3 d = u_PointPosition[i].xyz - v_World;
        float r = length(d);
        vec3 at = u_PointAtten[i].xyz;
        float f = 1.0 / max(at.x + at.y * r + at.z * r * r, 1e-4);
        light += max(dot(n, d / max(r, 1e-4)), 0.0) * u_PointColor[i].rgb * f;
    }
    vec3 c = diffuse.rgb * light + u_Emissive.rgb;
    vec3 view = normalize(u_ViewInverse[3].xyz - v_World);
    vec3 h = normalize(normalize(u_LightDir.xyz) + view);
    c += texture(s_Specular, v_Tex).rgb * u_SpecularStrength * pow(max(dot(n, h), 0.0), u_SpecularPower) *
         u_LightColor.rgb;
    vec3 lightMap = texture(s_LightMap, v_Tex).rgb;
    c += lightMap;
    float alpha = diffuse.a * u_Alpha;
    if (u_EnableFog != 0) alpha *= clamp(u_FogClip.x - v_Depth * u_FogClip.y, 0.0, 1.0);
    if (u_Blending == 0 && u_Glow > 0.0) alpha = u_Glow * dot(lightMap, vec3(1.0 / 3.0));
    colour = vec4(Adjust(c), alpha);
}
)";

GLuint RawStage(GLenum type, const char* text) {
    GLuint s = glCreateShader(type);
    glShaderSource(s, 1, &text, nullptr);
    glCompileShader(s);
    return s;
}

struct RawGL {
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    GLuint fbo = 0, colour = 0, depth = 0, program = 0, vao = 0, buffers[2] = {}, texture = 0;
    GLsizei indexCount = 0;
    GLenum indexType = GL_UNSIGNED_SHORT;
    GLint wvp = -1, world = -1;
    bool ok = false;
    const char* why = "no window or context";

    // Takes the first group's buffers of the engine's part and its texture.
    RawGL(D3DPartMesh* mesh, IDirect3DTexture9* engineTexture) {
        SDL_Window* previousWindow = SDL_GL_GetCurrentWindow();
        SDL_GLContext previous = SDL_GL_GetCurrentContext();
        const D3DPartMaterial& e = mesh->groups[0];
        why = "the part has no declaration";
        if (e.declaration < 1 || e.declaration > 10) return;
        const D3DVERTEXELEMENT9* elements = S3D_DeclarationElements[e.declaration];
        const auto stride = static_cast<GLsizei>(S3D_DeclarationVertexSize[e.declaration]);
        std::vector<uint8_t> vertices, indices;
        IDirect3DVertexBuffer9* vb = e.vertexBuffer;
        IDirect3DIndexBuffer9* ib = e.indexBuffer;
        if (!e.ownBuffers && e.mesh) {
            e.mesh->GetVertexBuffer(&vb);
            e.mesh->GetIndexBuffer(&ib);
        } else {
            if (vb) vb->AddRef();
            if (ib) ib->AddRef();
        }
        why = "the part has no buffers";
        if (!vb || !ib) return;
        D3DVERTEXBUFFER_DESC vd{};
        D3DINDEXBUFFER_DESC id{};
        vb->GetDesc(&vd);
        ib->GetDesc(&id);
        void* p = nullptr;
        if (vb->Lock(0, 0, &p, D3DLOCK_READONLY) == D3D_OK) {
            vertices.assign(static_cast<uint8_t*>(p), static_cast<uint8_t*>(p) + vd.Size);
            vb->Unlock();
        }
        if (ib->Lock(0, 0, &p, D3DLOCK_READONLY) == D3D_OK) {
            indices.assign(static_cast<uint8_t*>(p), static_cast<uint8_t*>(p) + id.Size);
            ib->Unlock();
        }
        vb->Release();
        ib->Release();
        indexType = id.Format == D3DFMT_INDEX32 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT;
        indexCount = static_cast<GLsizei>(e.faceCount * 3);
        std::vector<uint32_t> texels(64 * 64);
        D3DLOCKED_RECT lr{};
        if (engineTexture->LockRect(0, &lr, nullptr, D3DLOCK_READONLY) == D3D_OK) {
            for (int y = 0; y < 64; ++y)
                std::memcpy(texels.data() + y * 64, static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch, 64 * 4);
            engineTexture->UnlockRect(0);
        }

        why = "no window or context";
        window = SDL_CreateWindow("raw", 0, 0, kFrameWidth, kFrameHeight, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        if (!window) return;
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
        context = SDL_GL_CreateContext(window);
        if (!context) return;
        SDL_GL_MakeCurrent(window, context);
        glGenTextures(1, &colour);
        glBindTexture(GL_TEXTURE_2D, colour);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kFrameWidth, kFrameHeight, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
        glGenRenderbuffers(1, &depth);
        glBindRenderbuffer(GL_RENDERBUFFER, depth);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, kFrameWidth, kFrameHeight);
        glGenFramebuffers(1, &fbo);
        glBindFramebuffer(GL_FRAMEBUFFER, fbo);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colour, 0);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth);
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 64, 64, 0, GL_BGRA, GL_UNSIGNED_BYTE, texels.data());
        program = glCreateProgram();
        GLuint vs = RawStage(GL_VERTEX_SHADER, kRawVertex), fs = RawStage(GL_FRAGMENT_SHADER, kRawFragment);
        glAttachShader(program, vs);
        glAttachShader(program, fs);
        glLinkProgram(program);
        glDeleteShader(vs);
        glDeleteShader(fs);
        GLint linked = 0;
        glGetProgramiv(program, GL_LINK_STATUS, &linked);
        glGenVertexArrays(1, &vao);
        glBindVertexArray(vao);
        glGenBuffers(2, buffers);
        glBindBuffer(GL_ARRAY_BUFFER, buffers[0]);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size()), vertices.data(), GL_STATIC_DRAW);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers[1]);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indices.size()), indices.data(), GL_STATIC_DRAW);
        // The engine's vertex layout, read the way the device reads it.
        for (const D3DVERTEXELEMENT9* el = elements; el->Stream != 0xFF; ++el) {
            GLuint location = el->Usage == D3DDECLUSAGE_POSITION                          ? 0
                              : el->Usage == D3DDECLUSAGE_TEXCOORD && el->UsageIndex == 0 ? 1
                              : el->Usage == D3DDECLUSAGE_NORMAL                          ? 2
                                                                                          : 99;
            if (location == 99) continue;
            GLint size = 4;
            GLenum type = GL_FLOAT;
            GLboolean normalized = GL_FALSE;
            switch (el->Type) {
                case D3DDECLTYPE_FLOAT2: size = 2; break;
                case D3DDECLTYPE_FLOAT3: size = 3; break;
                case D3DDECLTYPE_FLOAT16_2: size = 2, type = GL_HALF_FLOAT; break;
                case D3DDECLTYPE_FLOAT16_4: type = GL_HALF_FLOAT; break;
                case D3DDECLTYPE_DEC3N: type = GL_INT_2_10_10_10_REV, normalized = GL_TRUE; break;
                default: break;
            }
            glEnableVertexAttribArray(location);
            glVertexAttribPointer(location, size, type, normalized, stride,
                                  reinterpret_cast<const void*>(static_cast<uintptr_t>(el->Offset)));
        }
        glUseProgram(program);
        glUniform1i(glGetUniformLocation(program, "s_Diffuse"), 0);
        glUniform1i(glGetUniformLocation(program, "s_Specular"), 1);
        glUniform1i(glGetUniformLocation(program, "s_LightMap"), 2);
        glUniform4f(glGetUniformLocation(program, "u_LightDir"), 0.0f, 0.0f, -1.0f, 0.0f);
        glUniform4f(glGetUniformLocation(program, "u_LightColor"), 0.0f, 0.0f, 0.0f, 0.0f);
        glUniform4f(glGetUniformLocation(program, "u_Ambient"), 0.2f, 0.2f, 0.2f, 1.0f);
        glUniform1f(glGetUniformLocation(program, "u_Alpha"), 1.0f);
        glUniform1f(glGetUniformLocation(program, "u_DiffuseStrength"), 1.0f);
        glUniform1f(glGetUniformLocation(program, "u_SpecularPower"), 16.0f);
        glUniform4f(glGetUniformLocation(program, "u_FogClip"), 1.0f, 0.0f, 0.0f, 0.0f);
        glUniform1f(glGetUniformLocation(program, "u_Brightness"), 1.0f);
        glUniform1f(glGetUniformLocation(program, "u_Contrast"), 1.0f);
        glUniform1f(glGetUniformLocation(program, "u_Saturation"), 1.0f);
        const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
        for (const char* m : {"u_WorldIT", "u_TexMatrix", "u_ViewInverse"})
            glUniformMatrix4fv(glGetUniformLocation(program, m), 1, GL_FALSE, identity);
        wvp = glGetUniformLocation(program, "u_WorldViewProjection");
        world = glGetUniformLocation(program, "u_World");
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, texture);
        glViewport(0, 0, kFrameWidth, kFrameHeight);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        glEnable(GL_CULL_FACE);
        glFrontFace(GL_CCW);
        glCullFace(GL_BACK);
        ok = linked != 0 && glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
        why = linked ? "the framebuffer is incomplete" : "the program does not link";
        SDL_GL_MakeCurrent(previousWindow, previous);
    }
    ~RawGL() {
        if (context) {
            SDL_GL_MakeCurrent(window, context);
            glDeleteFramebuffers(1, &fbo);
            glDeleteTextures(1, &colour);
            glDeleteTextures(1, &texture);
            glDeleteRenderbuffers(1, &depth);
            glDeleteProgram(program);
            glDeleteVertexArrays(1, &vao);
            glDeleteBuffers(2, buffers);
            SDL_GL_MakeCurrent(window, nullptr);
            SDL_GL_DeleteContext(context);
        }
        if (window) SDL_DestroyWindow(window);
    }
    void SetBlending(bool on, float alpha) {
        if (on) {
            glEnable(GL_BLEND);
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
            glDepthMask(GL_FALSE);
        } else {
            glDisable(GL_BLEND);
            glDepthMask(GL_TRUE);
        }
        glUniform1f(glGetUniformLocation(program, "u_Alpha"), alpha);
        glUniform1i(glGetUniformLocation(program, "u_Blending"), on ? 1 : 0);
    }
    // One frame: per instance its world and world-view-projection matrices,
    // computed as the renderer computes them, and a draw.
    void Frame(const std::vector<Inst3D>& insts, const D3DXMATRIX& projection, float unit) {
        glDepthMask(GL_TRUE);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        GLboolean blend = glIsEnabled(GL_BLEND);
        if (blend) glDepthMask(GL_FALSE);
        for (const Inst3D& n : insts) {
            D3DXMATRIX w{};
            const int32_t scale[3] = {n.scale.x, n.scale.y, n.scale.z};
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    w.m[i][j] =
                        static_cast<float>(n.worldMatrix.m[i * 4 + j] / 65536.0 * (scale[i] / 65536.0) * n.size * unit);
            w.m[3][0] = static_cast<float>(n.worldPos.x) * unit;
            w.m[3][1] = static_cast<float>(n.worldPos.y) * unit;
            w.m[3][2] = static_cast<float>(n.worldPos.z) * unit;
            w.m[3][3] = 1.0f;
            D3DXMATRIX m;
            D3DXMatrixMultiply(&m, &w, &projection);
            glUniformMatrix4fv(world, 1, GL_FALSE, &w.m[0][0]);
            glUniformMatrix4fv(wvp, 1, GL_FALSE, &m.m[0][0]);
            glDrawElements(GL_TRIANGLES, indexCount, indexType, nullptr);
        }
        glFinish();
    }
};

void RawFrame(benchmark::State& state) {
    Win32_PinHeapThresholds();
    const FrameCase& c = kFrameCases[state.range(0)];
    // The engine's device and scene give the mesh bytes and the texture.
    GLDevice gl(kFrameWidth, kFrameHeight);
    if (!gl.device) {
        state.SkipWithError("no GL device");
        return;
    }
    Scene s(gl.device, true, c.cellsX, c.cellsY, 1, c.blended);
    s.Place(c.columns, c.rows, c.columns == 1 ? 1.2f : 0.9f, c.blended);
    if (!s.ok) {
        state.SkipWithError("the scene could not be made");
        return;
    }
    if (s.textures.empty()) {
        state.SkipWithError("no texture");
        return;
    }
    RawGL raw(s.MeshOf(0), s.textures[0]);
    if (!raw.ok) {
        state.SkipWithError(raw.why);
        return;
    }
    SDL_GL_MakeCurrent(raw.window, raw.context);
    raw.SetBlending(c.blended, c.blended ? 128.0f / 255.0f : 1.0f);
    const D3DXMATRIX projection = *g_S3DMatrices.projection;
    raw.Frame(s.insts, projection, s.scene.systemScale);
    std::vector<uint32_t> pixels(kFrameWidth * kFrameHeight);
    glReadPixels(0, 0, kFrameWidth, kFrameHeight, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data());
    state.counters["coverage"] = Coverage(pixels);
    for (auto _ : state) raw.Frame(s.insts, projection, s.scene.systemScale);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

BENCHMARK(EngineFrame)->DenseRange(0, 2)->ArgName("case")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(RawFrame)->DenseRange(0, 2)->ArgName("case")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    Win32_PinHeapThresholds();
    return bench_ratios::Main(argc, argv,
                              {{"EngineFrame/case:0/real_time", "RawFrame/case:0/real_time", "<= 1.1 (a)"},
                               {"EngineFrame/case:1/real_time", "RawFrame/case:1/real_time", "<= 1.25 (b)"},
                               {"EngineFrame/case:2/real_time", "RawFrame/case:2/real_time", "<= 1.25 (c)"}});
}
