// Particle and scene buffers on the spy device: the batches of a frame, the
// vertices of each particle form and colour, the scene-buffer fill and its
// bounds, and what the two draws hand the device and the effects.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/memory.h"
#include "base/texcache.h"
#include "platform/d3d9/spy.h"
#include "platform/win32/memory.h"
#include "render/cameras.h"
#include "render/effects.h"
#include "render/mesh.h"
#include "render/particles.h"
#include "render/spy_effect.h"
#include "render/statemanager.h"
#include "scene/allocs.h"
#include "scene/bodyrecord.h"
#include "scene/fxparams.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "system/adapters.h"
#include "system/video.h"

namespace {

std::string ShippedEffect(const char* name) {
    const char* root = std::getenv("TREVAN_SOURCE_DIR");
    std::ifstream in(std::string(root ? root : ".") + "/data/effects/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class ParticleBufferTest : public ::testing::Test {
protected:
    void SetUp() override {
        spy = new D3D9SpyDevice();
        spy->caps.VertexShaderVersion = 0xFFFE0300;
        manager = S_3DCreateStateManager(spy);
        std::snprintf(record.shaderFolder, sizeof record.shaderFolder, "3_0");
        record.device = spy;
        record.vertexShaders = 1;
        record.vertexProcessingMode = 1;
        renderer.device = &record;
        renderer.stateManager = manager;
        savedRenderer = g_RendererState;
        g_RendererState = &renderer;
        game.Write("shader_src/3_0/particles.fx", ShippedEffect("particles.fx"));
        game.Write("shader_src/3_0/effects.fx", ShippedEffect("effects.fx"));
        session = std::make_unique<GeneralSession>();
        ASSERT_NE(session->State(), nullptr);
        savedScene = g_B3DState;
        g_B3DState = B3D_InitStore();
        ASSERT_NE(g_B3DState, nullptr);
        ASSERT_EQ(S_3DAllocMatrices(), 1);
        ASSERT_TRUE(S_3DCreateVertexDeclarations());
        savedInfo = g_TCTextureInfo;
        savedInfoCount = g_TCTextureInfoCount;
        materials.resize(4);
        SetMaterials();
        scene = B3D_SceneAlloc();
        ASSERT_NE(scene, nullptr);
        camera = B3D_CameraAlloc();
        Qel_MatIdentity(&camera->inst.matrix);
        Qel_MatIdentity(&camera->inst.worldMatrix);
    }
    void TearDown() override {
        S_3DFreeBuffer(scene);
        for (const char* name : {"particles", "effects", "missing"})
            if (B3DNamedEntry* e = B3D_FindEffectByName(name)) {
                S_3DFreeShaderDefinition(e);
                B3D_FreeNamedEntry(e);
            }
        S_3DReleaseVertexDeclarations();
        S_3DFreeMatrices();
        B3D_FreeStore();
        g_B3DState = savedScene;
        g_TCTextureInfo = savedInfo;
        g_TCTextureInfoCount = savedInfoCount;
        session.reset();
        g_RendererState = savedRenderer;
        EXPECT_EQ(manager->Release(), 0u);
        EXPECT_EQ(spy->Release(), 0u);
    }
    void SetMaterials() {
        g_TCTextureInfo = materials.data();
        g_TCTextureInfoCount = static_cast<uint16_t>(materials.size());
    }
    B3DParticle* Add(int32_t material, uint32_t kind, Scene3D* in = nullptr) {
        B3DParticle* p = B3D_ParticleGet();
        EXPECT_NE(p, nullptr);
        p->scene = in ? in : scene;
        p->material = material;
        p->kind = kind;
        p->alpha = 255;
        p->size = 10;
        Qel_MatIdentity(&p->matrix);
        return p;
    }
    // The particle buffer's vertices as written.
    std::vector<S3DParticleVertex> Vertices() {
        std::vector<S3DParticleVertex> out(S3D_PARTICLE_MAX * 6);
        void* data = nullptr;
        EXPECT_EQ(scene->particleBuffer->vertexBuffer->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
        std::memcpy(out.data(), data, out.size() * sizeof(S3DParticleVertex));
        scene->particleBuffer->vertexBuffer->Unlock();
        return out;
    }
    std::vector<std::string> Draws() const {
        std::vector<std::string> out;
        for (const std::string& c : spy->calls)
            if (c.rfind("DrawPrimitive(", 0) == 0) out.push_back(c);
        return out;
    }

    TempGameFolder game;
    std::unique_ptr<GeneralSession> session;
    D3D9SpyDevice* spy = nullptr;
    CStateManagerInterface* manager = nullptr;
    D3DDeviceRecord record{};
    RendererState renderer{};
    RendererState* savedRenderer = nullptr;
    B3DState* savedScene = nullptr;
    std::vector<TC_TextureInfo> materials;
    TC_TextureInfo* savedInfo = nullptr;
    uint16_t savedInfoCount = 0;
    Scene3D* scene = nullptr;
    Camera3D* camera = nullptr;
};

TEST_F(ParticleBufferTest, ParticlesGoIntoBatchesByMaterialAndKind) {
    for (auto& m : materials) m.flags = 0x4;
    Add(1, 3);
    Add(0, 0);
    Add(7, 0);  // outside the table: counted, in no batch, not written
    Add(0, 0);
    Add(1, 3);
    Add(0, 0);
    Scene3D* other = B3D_SceneAlloc();
    Add(0, 0, other);  // another scene's
    ASSERT_EQ(S_3DUpdateParticleSystems(scene, camera), 1);
    const ParticleBuffer* pb = scene->particleBuffer;
    ASSERT_NE(pb, nullptr);
    EXPECT_EQ(pb->particleCount, 6);
    ASSERT_EQ(pb->batchCount, 2);
    EXPECT_EQ(std::vector<int32_t>(pb->batches[0], pb->batches[0] + 4), (std::vector<int32_t>{0, 3, 0, 0}));
    EXPECT_EQ(std::vector<int32_t>(pb->batches[1], pb->batches[1] + 4), (std::vector<int32_t>{3, 2, 1, 3}));
    EXPECT_EQ(renderer.bufferBytes, S3D_PARTICLE_BUFFER_BYTES);
    S_3DFreeBuffer(scene);
    EXPECT_EQ(scene->particleBuffer, nullptr);
    EXPECT_EQ(renderer.bufferBytes, 0);
}

TEST_F(ParticleBufferTest, BatchesStopAtAHundredAndFurtherPairsAreNotWritten) {
    materials.assign(101, TC_TextureInfo{});
    for (auto& m : materials) m.flags = 0x4;
    SetMaterials();
    for (int32_t m = 0; m < 101; ++m) Add(m, 1)->pos = {m + 1, 0, 0, 0};
    scene->systemScale = 1.0f;
    ASSERT_EQ(S_3DUpdateParticleSystems(scene, camera), 1);
    EXPECT_EQ(scene->particleBuffer->particleCount, 101);
    EXPECT_EQ(scene->particleBuffer->batchCount, 100);
    EXPECT_EQ(materials[100].kindCounters[1], -1);
    const std::vector<S3DParticleVertex> v = Vertices();
    EXPECT_EQ(v[6 * 99].x, 100.0f);    // material 99's particle at place 99
    EXPECT_EQ(v[6 * 100].colour, 0u);  // material 100's is not written
}

TEST_F(ParticleBufferTest, CornerOffsetsStreaksAndTheOrientedSquare) {
    for (auto& m : materials) m.flags = 0x4;
    scene->systemScale = 0.01f;
    B3DParticle* facing = Add(0, 1);
    facing->angle = 0;
    B3DParticle* streakX = Add(1, 3);
    streakX->pos = {1000, 0, 0, 0};
    streakX->pos2 = {900, 0, 0, 0};  // along the camera's negative x axis
    B3DParticle* streakY = Add(1, 3);
    streakY->pos2 = {0, 40, 0, 0};  // along its positive y axis, shorter than one unit
    ASSERT_EQ(S_3DUpdateParticleSystems(scene, camera), 1);
    EXPECT_EQ(streakX->angle, 0x2000u);
    EXPECT_EQ(streakY->angle, 0x6000u);
    const std::vector<S3DParticleVertex> v = Vertices();
    const float offsets[6][2] = {{0, 0.1f}, {0.1f, 0}, {-0.1f, 0}, {0.1f, 0}, {0, -0.1f}, {-0.1f, 0}};
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(v[i].offsetX, offsets[i][0], 1e-6);
        EXPECT_NEAR(v[i].offsetY, offsets[i][1], 1e-6);
        EXPECT_EQ(v[i].x, 0.0f);
    }
    // A streak's vertices 2, 4 and 5 sit on the second position.
    for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(v[6 + i].x, (i == 2 || i == 4 || i == 5) ? 9.0f : 10.0f) << i;

    // The oriented square: identity, size 1, scale 1, at the origin.
    S_3DFreeBuffer(scene);
    for (B3DParticle* p = B3D_First<B3DParticle>(&g_B3DState->particleLive); p; p = B3D_Next(p)) p->scene = nullptr;
    scene->systemScale = 1.0f;
    B3DParticle* square = Add(0, 0);
    square->size = 1;
    square->texRect[0] = 0;
    square->texRect[1] = 0x4000;
    square->texRect[2] = 0x10000;
    square->texRect[3] = 0xC000;
    ASSERT_EQ(S_3DUpdateParticleSystems(scene, camera), 1);
    const std::vector<S3DParticleVertex> w = Vertices();
    const float corners[6][2] = {{-1, 1}, {1, 1}, {-1, -1}, {1, 1}, {1, -1}, {-1, -1}};
    const float uv[6][2] = {{0, 0.25f}, {1, 0.25f}, {0, 0.75f}, {1, 0.25f}, {1, 0.75f}, {0, 0.75f}};
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(w[i].x, corners[i][0]);
        EXPECT_EQ(w[i].y, corners[i][1]);
        EXPECT_EQ(w[i].z, 0.0f);
        EXPECT_EQ(w[i].u, uv[i][0]);
        EXPECT_EQ(w[i].v, uv[i][1]);
        EXPECT_EQ(w[i].offsetX, 0.0f);
    }
}

TEST_F(ParticleBufferTest, ColoursFollowTheBlendFlags) {
    LogCapture log;
    struct Case {
        uint32_t flags;
        uint32_t colour;
    } cases[] = {
        {0x80, 0xFF835B33},                      // towards white: c + (255 - c) x 51 / 255
        {0x40, 0xFF835B33},                      //
        {0x400, 0xFF140A00},                     // premultiplied
        {0x2, 0x33643200},                       // plain, alpha 51
        {0x4, 0x33643200},   {0x0, 0x33643200},  // none: logged, the colour written before it
    };
    materials.assign(6, TC_TextureInfo{});
    for (size_t i = 0; i < 6; ++i) {
        materials[i].head[0] = 100;
        materials[i].head[1] = 50;
        materials[i].head[2] = 0;
        materials[i].flags = cases[i].flags;
        Add(static_cast<int32_t>(i), 0)->alpha = 51;
    }
    SetMaterials();
    ASSERT_EQ(S_3DUpdateParticleSystems(scene, camera), 1);
    const std::vector<S3DParticleVertex> v = Vertices();
    for (size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        for (int k = 0; k < 6; ++k) EXPECT_EQ(v[6 * i + k].colour, cases[i].colour);
    }
    EXPECT_TRUE(log.Contains("S_3DUpdateParticleSystems() unknown blendmode for mat 5\n")) << log.Text();
}

TEST_F(ParticleBufferTest, FillFailures) {
    LogCapture log;
    spy->fail["CreateVertexBuffer"] = {D3DERR_OUTOFVIDEOMEMORY};
    EXPECT_EQ(S_3DUpdateParticleSystems(scene, camera), 0);
    EXPECT_TRUE(log.Contains("S_3DUpdateParticleSystem() Can't create vertex buffer!\n")) << log.Text();
    spy->fail["VB::Lock"] = {D3DERR_INVALIDCALL};
    EXPECT_EQ(S_3DUpdateParticleSystems(scene, camera), 0);
    EXPECT_TRUE(log.Contains("S_3DUpdateParticleSystem() Can't lock vertex buffer!\n")) << log.Text();
    EXPECT_EQ(S_3DUpdateParticleSystems(scene, camera), 1);
}

// ---------------------------------------------------------------- particle draw

TEST_F(ParticleBufferTest, AnEffectThatDoesNotBeginDrawsNothing) {
    for (auto& m : materials) m.flags = 0x4;
    Add(1, 0);
    Add(2, 0);
    ASSERT_EQ(S_3DUpdateParticleSystems(scene, camera), 1);
    ASSERT_EQ(scene->particleBuffer->batchCount, 2);
    SysShaderDefinition* d = S_3DGetShader("particles", 0);
    ASSERT_NE(d, nullptr);
    auto* fx = new SpyEffect(d->effect[0]);
    d->effect[0] = fx;
    // The first batch cannot begin the effect, the second its pass: neither draws.
    fx->failBegin = {E_FAIL};
    fx->failBeginPass = {E_FAIL};
    spy->calls.clear();
    LogCapture log;
    EXPECT_EQ(S_3DRenderParticleSystems(scene), 1);
    EXPECT_TRUE(Draws().empty());
    EXPECT_EQ(fx->calls, (std::vector<std::string>{"Begin", "Begin", "BeginPass", "End"}));
    EXPECT_TRUE(log.Contains("ERROR:\tS_3DRenderParticleSystems() Begin failed for mat 1\n")) << log.Text();
    EXPECT_TRUE(log.Contains("ERROR:\tS_3DRenderParticleSystems() BeginPass failed for mat 2\n")) << log.Text();
    spy->calls.clear();
    EXPECT_EQ(S_3DRenderParticleSystems(scene), 1);
    EXPECT_EQ(Draws().size(), 2u);
}

TEST_F(ParticleBufferTest, AnEffectWithoutItsTechniqueTakesItsFirstValidOne) {
    game.Write("shader_src/3_0/particles.fx",
               "glsl vertex V { void main() { gl_Position = d3d_ClipToGL(a_Position); } }\n"
               "glsl fragment F { void main() { d3d_FragColor = vec4(1.0); } }\n"
               "technique OTHER { pass P { VertexShader = V; PixelShader = F; } }\n");
    for (auto& m : materials) m.flags = 0x4;
    Add(1, 0);
    ASSERT_EQ(S_3DUpdateParticleSystems(scene, camera), 1);
    SysShaderDefinition* d = S_3DGetShader("particles", 0);
    ASSERT_NE(d, nullptr);
    auto* fx = new SpyEffect(d->effect[0]);
    d->effect[0] = fx;
    spy->calls.clear();
    EXPECT_EQ(S_3DRenderParticleSystems(scene), 1);
    EXPECT_EQ(Draws().size(), 1u);
    EXPECT_EQ(fx->nullTechniques, 0);
    D3DXTECHNIQUE_DESC desc{};
    ASSERT_EQ(d->effect[0]->GetTechniqueDesc(d->effect[0]->GetCurrentTechnique(), &desc), D3D_OK);
    EXPECT_STREQ(desc.Name, "OTHER");
}

TEST_F(ParticleBufferTest, EachBatchDrawsItsTrianglesWithItsBlendRow) {
    LogCapture log;
    materials.assign(8, TC_TextureInfo{});
    const uint32_t flags[8] = {0x80, 0x40, 0x400, 0x2, 0x4, 0x6, 0x0, 0x200004};
    for (int i = 0; i < 8; ++i) materials[i].flags = flags[i];
    SetMaterials();
    ASSERT_EQ(S_3DUpdateParticleSystems(scene, camera), 1);
    ParticleBuffer* pb = scene->particleBuffer;
    struct Row {
        int enable, src, dest;
        float textureAlpha;
    } rows[8] = {{1, 9, 1, 0}, {1, 9, 3, 0}, {1, 3, 4, 0}, {1, 5, 2, 0},
                 {1, 5, 6, 0}, {1, 5, 2, 0}, {1, 5, 2, 0}, {1, 5, 6, 1}};
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        pb->batchCount = 1;
        pb->batches[0][0] = 4;
        pb->batches[0][1] = 10;
        pb->batches[0][2] = i;
        pb->batches[0][3] = 0;
        spy->calls.clear();
        ASSERT_EQ(S_3DRenderParticleSystems(scene), 1);
        EXPECT_EQ(Draws(), (std::vector<std::string>{"DrawPrimitive(4,24,20)"}));
        ID3DXEffect* e = S_3DGetShader("particles", 0)->effect[0];
        auto intOf = [&](const char* n) {
            INT v = -1;
            e->GetInt(e->GetParameterByName(nullptr, n), &v);
            return v;
        };
        float alpha = -1;
        e->GetFloat(e->GetParameterByName(nullptr, "g_TextureAlpha"), &alpha);
        // A material without blend flags keeps the row before it.
        EXPECT_EQ(intOf("g_AlphaBlendEnable"), rows[i].enable);
        EXPECT_EQ(intOf("g_SrcBlend"), rows[i].src);
        EXPECT_EQ(intOf("g_DestBlend"), rows[i].dest);
        EXPECT_EQ(intOf("g_ZEnable"), 1);
        EXPECT_EQ(intOf("g_ZWriteEnable"), 0);
        EXPECT_EQ(alpha, rows[i].textureAlpha);
    }
    EXPECT_TRUE(log.Contains("S_3DRenderParticleSystems() blendmode not supported for mat 6\n")) << log.Text();
    EXPECT_EQ(g_S3DMatrices.projection->m[2][2], 1.00001f);
    EXPECT_EQ(g_S3DMatrices.projection->m[3][2], -5.00005f);

    // A material outside the table is skipped; no batch or no buffer draws nothing.
    pb->batches[0][2] = 8;
    spy->calls.clear();
    EXPECT_EQ(S_3DRenderParticleSystems(scene), 1);
    EXPECT_TRUE(Draws().empty());
    pb->batchCount = 0;
    EXPECT_EQ(S_3DRenderParticleSystems(scene), 1);
    EXPECT_TRUE(Draws().empty());
    pb->batchCount = 1;
    pb->batches[0][2] = 0;
    // Vertex shaders are what start-up made of the device, not its caps.
    spy->caps.VertexShaderVersion = 0;
    spy->calls.clear();
    EXPECT_EQ(S_3DRenderParticleSystems(scene), 1);
    EXPECT_EQ(Draws().size(), 1u);
    spy->caps.VertexShaderVersion = 0xFFFE0300;
    record.vertexProcessingMode = 0;
    spy->calls.clear();
    EXPECT_EQ(S_3DRenderParticleSystems(scene), 1);
    EXPECT_TRUE(Draws().empty());
    record.vertexProcessingMode = 1;
    spy->fail["SetStreamSource"] = {D3DERR_INVALIDCALL};
    manager->ResetCachedState();
    EXPECT_EQ(S_3DRenderParticleSystems(scene), 0);
    EXPECT_TRUE(log.Contains("ERROR: failed to set stream source, skipping VB!\n")) << log.Text();
}

// ---------------------------------------------------------------- scene buffers

class SceneBufferTest : public ParticleBufferTest {
protected:
    void SetUp() override {
        ParticleBufferTest::SetUp();
        for (int i = 0; i < 9; ++i) points[i] = {static_cast<int16_t>(i * 2048), 0, 0, 0, 0, 0, i * 65536, 0, 0};
        for (int t = 0; t < 3; ++t) tris[t] = {{3 * t, 3 * t + 1, 3 * t + 2}, 0};
        level.pointCount = 9;
        level.points = points;
        part.level = &level;
        group.triCount = 3;
        group.tris = tris;
        owner.capacity = 1;  // room for one instance
        inst = B3D_AllocInst();
        draw.itemCount = 1;
        draw.material = &material;
        draw.buffer = nullptr;
    }
    void TearDown() override {
        S_3DFreeMeshBuffers(&item);
        Int_FreeRecord(item.buffer, 0);
        ParticleBufferTest::TearDown();
    }
    BodyPoint points[9]{};
    BodyTriangle tris[3]{};
    BodyLevel level{};
    BodyPart part{};
    BodyGroup group{};
    B3DSceneBufferGroup owner{};
    B3DSceneBufferItem item{};
    Inst3D* inst = nullptr;
    BodyMaterial material{};
    B3DSceneBufferDraw draw{};
};

TEST_F(SceneBufferTest, NineVerticesDrawThreeTrianglesAndAFullBufferRefusesMore) {
    ASSERT_EQ(S_3DUpdateSceneBuffer(&owner, &item, inst, &part, &group, nullptr), 1);
    ASSERT_NE(item.buffer, nullptr);
    EXPECT_EQ(item.buffer->vertexCount, 9);
    EXPECT_EQ(item.buffer->byteSize, 9 * 24);
    EXPECT_EQ(renderer.bufferBytes, 9 * 24);
    // Positions 1/16384, coordinates 16.16, colour 0.
    const float* v = reinterpret_cast<const float*>(item.buffer->copy);
    EXPECT_EQ(v[6 * 4 + 0], 0.5f);
    EXPECT_EQ(v[6 * 4 + 3], 4.0f);
    EXPECT_EQ(reinterpret_cast<const uint32_t*>(item.buffer->copy)[6 * 4 + 5], 0u);
    // One more instance would pass the buffer's end: refused, nothing written.
    EXPECT_EQ(S_3DUpdateSceneBuffer(&owner, &item, inst, &part, &group, nullptr), 0);
    EXPECT_EQ(item.buffer->vertexCount, 9);

    draw.buffer = item.buffer;
    spy->calls.clear();
    ASSERT_EQ(S_3DRenderSceneBuffer(&draw, scene, &owner, camera), 1);
    EXPECT_EQ(Draws(), (std::vector<std::string>{"DrawPrimitive(4,0,3)"}));
    // A count past the buffer copies and draws no more than the buffer holds.
    item.buffer->vertexCount = 1000;
    spy->calls.clear();
    ASSERT_EQ(S_3DRenderSceneBuffer(&draw, scene, &owner, camera), 1);
    EXPECT_EQ(Draws(), (std::vector<std::string>{"DrawPrimitive(4,0,3)"}));
    // No items: nothing drawn.
    draw.itemCount = 0;
    spy->calls.clear();
    EXPECT_EQ(S_3DRenderSceneBuffer(&draw, scene, &owner, camera), 1);
    EXPECT_TRUE(Draws().empty());
}

TEST_F(SceneBufferTest, ACopyThatCannotBeMadeFailsTheFill) {
    LogCapture log;
    item.buffer = Int_AllocRecord<B3DSceneBuffer>(0);
    g_Win32MemorySeam.failHeapAllocs = 2;  // the allocation and its retry
    EXPECT_EQ(S_3DUpdateSceneBuffer(&owner, &item, inst, &part, &group, nullptr), 0);
    g_Win32MemorySeam.failHeapAllocs = 0;
    EXPECT_TRUE(log.Contains("S_3DUpdateSceneBuffer() Unable to allocate scene buffer!\n")) << log.Text();
    EXPECT_EQ(item.buffer->copy, nullptr);
    EXPECT_EQ(item.buffer->vertexCount, 0);
    // The next fill makes the copy and goes on.
    EXPECT_EQ(S_3DUpdateSceneBuffer(&owner, &item, inst, &part, &group, nullptr), 1);
    EXPECT_EQ(item.buffer->vertexCount, 9);
}

TEST_F(SceneBufferTest, TextureAnimationMovesTheCoordinates) {
    // u' = m20 + m00 u + m10 v: a shift by 0.5 and a doubling.
    const int32_t m[6] = {131072, 0, 0, 65536, 32768, 0};
    ASSERT_EQ(S_3DUpdateSceneBuffer(&owner, &item, inst, &part, &group, m), 1);
    const float* v = reinterpret_cast<const float*>(item.buffer->copy);
    EXPECT_EQ(v[6 * 2 + 3], 4.5f);
}

TEST_F(SceneBufferTest, TechniqueByGroupFlagsAndTheEffectsFallBack) {
    ASSERT_EQ(S_3DUpdateSceneBuffer(&owner, &item, inst, &part, &group, nullptr), 1);
    draw.buffer = item.buffer;
    FXEffectBlock block{};
    char missing[] = "missing";
    block.effectName = missing;
    struct Case {
        uint32_t flags;
        bool namesShader;
        const char* technique;
        bool fallBack;
    } cases[] = {
        {0, false, "INSTANCE", false},
        {0x20000000, false, "INSTANCE_BULLETS", false},
        {0x10, true, "INSTANCE", true},   // its own shader, which does not load
        {0x10, false, "INSTANCE", true},  // its own shader, but it names none
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        owner.flags = c.flags;
        material.effect = c.namesShader ? &block : nullptr;
        LogCapture log;
        ASSERT_EQ(S_3DRenderSceneBuffer(&draw, scene, &owner, camera), 1);
        ID3DXEffect* e = S_3DGetShader("effects", 0)->effect[0];
        EXPECT_EQ(e->GetCurrentTechnique(), e->GetTechniqueByName(c.technique));
        EXPECT_EQ(log.Contains("ERROR:\tS_3DRenderSceneBuffer() no valid shader found using default effects shader "
                               "for the buffer \n"),
                  c.fallBack)
            << log.Text();
    }
    material.effect = nullptr;
}

TEST_F(SceneBufferTest, DrawFailures) {
    LogCapture log;
    EXPECT_EQ(S_3DRenderSceneBuffer(nullptr, scene, &owner, camera), 0);
    EXPECT_TRUE(log.Contains("S_3DRenderSceneBuffer() NULL Pointer Input!\n"));
    EXPECT_EQ(S_3DRenderSceneBuffer(&draw, scene, &owner, camera), 0);
    EXPECT_TRUE(log.Contains("S_3DRenderSceneBuffer() Scene buffer not initialised!\n"));
    B3DSceneBuffer empty{};
    draw.buffer = &empty;
    EXPECT_EQ(S_3DRenderSceneBuffer(&draw, scene, &owner, camera), 0);
    EXPECT_TRUE(log.Contains("ERROR:\tS_3DRenderSceneBuffer(), no VB or TempBuffer or Pointer missing"));
    ASSERT_EQ(S_3DUpdateSceneBuffer(&owner, &item, inst, &part, &group, nullptr), 1);
    draw.buffer = item.buffer;
    draw.material = nullptr;
    EXPECT_EQ(S_3DRenderSceneBuffer(&draw, scene, &owner, camera), 0);
    EXPECT_TRUE(log.Contains("ERROR:\tS_3DRenderSceneBuffer() no valid shader Material pointer \n"));
    draw.material = &material;
    spy->fail["VB::Lock"] = {D3DERR_INVALIDCALL};
    EXPECT_EQ(S_3DRenderSceneBuffer(&draw, scene, &owner, camera), 0);
    EXPECT_TRUE(log.Contains("ERROR:\tS_3DRenderSceneBuffer() could not lock VB"));
    EXPECT_EQ(S_3DUpdateSceneBuffer(&owner, nullptr, inst, &part, &group, nullptr), 0);
    EXPECT_TRUE(log.Contains("S_3DUpdateSceneBuffer() No scene buffer!\n"));
    B3DSceneBufferItem other{};
    spy->fail["CreateVertexBuffer"] = {D3DERR_OUTOFVIDEOMEMORY};
    EXPECT_EQ(S_3DUpdateSceneBuffer(&owner, &other, inst, &part, &group, nullptr), 0);
    EXPECT_TRUE(log.Contains("S_3DUpdateSceneBuffer() Can't create vertex buffer!\n"));
    Int_FreeRecord(other.buffer, 0);
}

}  // namespace
