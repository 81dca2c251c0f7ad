// The frame draw on a real 64 x 64 GL device: a cube body made by the body
// converter seen through the cameras of enabled scenes, in priority order,
// with bloom, the environment map, fades and lens flares.
#include <gtest/gtest.h>

#include <string>

#include "base/ebm.h"
#include "base/memory.h"
#include "base/standin_calls.h"
#include "base/texcache.h"
#include "render/bodies.h"
#include "render/fake_body.h"
#include "render/gl_renderer_fixture.h"
#include "render/partdraw.h"
#include "render/postprocess.h"
#include "render/targets.h"
#include "scene/allocs.h"
#include "scene/bodyrecord.h"
#include "scene/caches.h"
#include "scene/drawing.h"
#include "scene/dummies.h"
#include "scene/framedraw.h"
#include "scene/geometry.h"
#include "scene/ids.h"
#include "scene/names.h"
#include "scene/smallops.h"
#include "scene/trees.h"
#include "scene/visibility.h"
#include "material_definitions.h"
#include "render/lights.h"
#include "support/golden_image.h"
#include "support/logcapture.h"
#include "system/surfaces.h"
#include "tools/lib/bodyconv.h"

namespace {

constexpr int32_t kCube = 300;
constexpr int32_t kOne = 0x10000;
constexpr uint32_t kClearTarget = 0x10 | 0x20 | 0x4;  // colour and depth
constexpr uint32_t kBackground = 0x000040;            // the camera's clear colour

// Faces wound clockwise as seen from outside (the side Direct3D draws), each
// with a smoothing group of its own: sharp edges.
const char* const kCubeSource =
    "name cube\nmtl skin\n"
    "v -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv -1 1 -1\nv -1 -1 1\nv 1 -1 1\nv 1 1 1\nv -1 1 1\n"
    "s 1\nf 4 3 2 1\ns 2\nf 5 6 7 8\ns 3\nf 2 6 5 1\ns 4\nf 3 7 6 2\ns 5\nf 4 8 7 3\ns 6\nf 1 5 8 4\n";

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

class FrameDraw : public GLRendererTest {
protected:
    void SetUp() override {
        GLRendererTest::SetUp();
        for (const char* fx : {"standard_lighting", "effects"}) {
            game.Write(std::string("shader_src/3_0/") + fx + ".fx", ShippedEffect((std::string(fx) + ".fx").c_str()));
            effectNames.push_back(fx);
        }
        ASSERT_EQ(B3D_InitBodyIdTable(), 1);
        ASSERT_EQ(B3D_InitCutIdTable(), 1);
        savedNumbered_ = g_TCNumberedCount;
        savedSettings_ = g_S3DPartDraw;
        g_TCNumberedCount = 4;
        g_TCNamedCount = 0;
        ASSERT_FALSE(TC_AllocTextureTable());
        std::string text, error;
        ASSERT_TRUE(Tool_ModelToTextBody(kCubeSource, &text, &error)) << error;
        game.Write("v/00300.bod", text);
        sys = session->State();
        sys->VideoD3DFlags |= 0x400;  // cameras may clear the depth
        scene = B3D_SceneAlloc();
        scene->flags |= SCENE_ENABLED;
        camera = AddCamera(scene, 10);
        cube = AddCube(scene, 0, 0);
        ASSERT_NE(cube, nullptr);
        poolB = g_B3DState->poolBBytes;
        D3D9_ResetSeam();
    }
    void TearDown() override {
        for (Scene3D* sc = B3D_First<Scene3D>(&g_B3DState->scenes); sc; sc = B3D_Next(sc))
            for (Inst3D* i = B3D_First<Inst3D>(&sc->insts); i; i = B3D_Next(i))
                if (i->flags & INST_IN_RENDERER) S_3DDeleteInst(i);
        B3D_ReleaseRendererBuffers();  // the device goes before the scene state
        while (B3DListNode* n = B3D_ListFirst(&g_B3DState->bodies)) B3D_FreeBody(reinterpret_cast<Body3D*>(n));
        B3D_FreeArrayTable();
        // The bitmaps belong to the test.
        for (int i = 0; i < g_TCNumberedCount + g_TCNamedCount; ++i) TC_TextureTable[i].bitmap = nullptr;
        for (IDirect3DTexture9* t : textures_) t->Release();
        TC_FreeTextureTables();
        g_TCNumberedCount = savedNumbered_;
        g_S3DPartDraw = savedSettings_;
        StandIn_ClearCalls();  // the frame draw's record is for the game loop's tests
        GLRendererTest::TearDown();
    }

    Camera3D* AddCamera(Scene3D* sc, int32_t priority) {
        Camera3D* c = B3D_CameraAlloc();
        B3D_SceneLinkInst(sc, c);
        c->camFlags |= CAM_ACTIVE | kClearTarget;
        c->priority = priority;
        c->background[2] = 0x40;
        return c;
    }
    // A cube 5 wide at depth 10: a quarter of the view's width.
    Inst3D* AddCube(Scene3D* sc, int32_t x, int32_t y, int32_t body = kCube) {
        Inst3D* i = B3D_AllocInst();
        if (!B3D_InstSetBody(i, body)) return nullptr;
        B3D_InstSetSize(i, kOne * 5 / 2);
        i->pos = {x, y, 10 * kOne, 0};
        B3D_InstAddToScene(i, sc);  // an enabled scene may take it into the renderer already
        if (!(i->flags & INST_IN_RENDERER)) {
            if (!S_3DAddInst(i)) return nullptr;
            i->flags |= INST_IN_RENDERER;
        }
        return i;
    }
    void Frame() {
        device->SetRenderTarget(0, target);
        B3D_DrawObjects();
    }
    // Texture `slot` of the table: one texel of the colour.
    int16_t SolidTexture(int16_t slot, uint32_t argb) {
        IDirect3DTexture9* t = nullptr;
        EXPECT_EQ(device->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
        if (!t) return 0;
        D3DLOCKED_RECT lr{};
        t->LockRect(0, &lr, nullptr, 0);
        *static_cast<uint32_t*>(lr.pBits) = argb;
        t->UnlockRect(0);
        textures_.push_back(t);
        bitmaps_[slot].sys = &sys_[slot];
        sys_[slot].WE_lpDestTexture = t;
        TC_TextureTable[slot].bitmap = &bitmaps_[slot];
        return slot;
    }
    // The body's material lit by the scene's lights instead of glowing on its
    // own: a diffuse texture, and a light map and bump map when given.
    static void LitMaterial(int32_t bodyId, int16_t diffuse, int16_t lightMap = 0, int16_t bump = 0) {
        auto* body = static_cast<Body3D*>(B3D_FindBody(bodyId));
        ASSERT_NE(body, nullptr);
        ASSERT_GT(body->materialCount, 0);
        BodyMaterial& m = body->materials[0];
        m.colour[6] = 0;    // no emissive intensity
        m.colour[7] = 100;  // the whole diffuse strength
        m.colour[8] = 0;    // no specular
        m.baseTexture = diffuse;
        m.texture3 = lightMap;
        m.texture4 = bump;
    }
    // A warm directional light from the left, a little above and in front of the cube.
    Inst3D* AddLight(Scene3D* sc) {
        Inst3D* light = B3D_LightAlloc();
        light->flags |= INST_DIRECTIONAL_LIGHT;
        light->lightColor[0] = 255, light->lightColor[1] = 220, light->lightColor[2] = 160;
        light->pos = {-15 * kOne, 6 * kOne, -15 * kOne, 0};
        B3D_InstAddToScene(light, sc);
        if (!(light->flags & INST_IN_RENDERER)) {
            EXPECT_EQ(S_D3DLight(light), 1);
            light->flags |= INST_IN_RENDERER;
        }
        return light;
    }

    SystemState* sys = nullptr;
    Scene3D* scene = nullptr;
    Camera3D* camera = nullptr;
    Inst3D* cube = nullptr;
    int32_t poolB = 0;

    std::vector<IDirect3DTexture9*> textures_;
    EBM bitmaps_[4]{};
    SysEBM sys_[4]{};

private:
    uint16_t savedNumbered_ = 0;
    S3DPartDrawSettings savedSettings_{};
};
INSTANTIATE_FOR_BOTH_STATE_MANAGERS(FrameDraw);

TEST_P(FrameDraw, TheCubeAtTheCentreOnItsBackground) {
    Frame();
    EXPECT_NE(Pixel(32, 32), kBackground);
    EXPECT_NE(Pixel(32, 32), 0u);
    for (auto [x, y] : {std::pair{2, 2}, {61, 2}, {2, 61}, {61, 61}, {32, 4}}) EXPECT_EQ(Pixel(x, y), kBackground);
    EXPECT_EQ(g_D3D9Seam.unpairedSceneCalls, 0);
    // The first frame named the effects it loaded; the next leaves pool B as it was.
    poolB = g_B3DState->poolBBytes;
    Frame();
    EXPECT_EQ(g_B3DState->poolBBytes, poolB) << "the camera array is freed";
    EXPECT_GT(g_B3DState->poolBPeak, poolB);
    // The lens-flare scene was made and enabled along the way.
    ASSERT_NE(g_B3DState->lensFlareScene, nullptr);
    EXPECT_NE(g_B3DState->lensFlareScene->flags & SCENE_ENABLED, 0u);
}

TEST_P(FrameDraw, ABodyKnownOnlyByItsNameLoadsDrawsAndFrees) {
    std::string text, error;
    ASSERT_TRUE(Tool_ModelToTextBody(kCubeSource, &text, &error)) << error;
    game.Write("v/named.bod", text);
    const int32_t id = B3D_GetBodyID("named.bod");
    ASSERT_EQ(id, 20000);
    cube->pos.x = 100 * kOne;  // out of view
    Inst3D* named = AddCube(scene, 0, 0, id);
    ASSERT_NE(named, nullptr) << "the body file is found by its name";
    Frame();
    EXPECT_NE(Pixel(32, 32), kBackground);
    B3D_InstFree(named);
    auto* body = static_cast<Body3D*>(B3D_FindBody(id));
    ASSERT_NE(body, nullptr);
    B3D_FreeBody(body);
    EXPECT_EQ(B3D_FindBody(id), nullptr);
    EXPECT_NE(B3D_GetBody(id), nullptr) << "loaded again, never marked failed";
}

TEST_P(FrameDraw, ADisabledSceneIsAnimatedButNotDrawn) {
    scene->flags &= ~SCENE_ENABLED;
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x123456, 1.0f, 0);
    cube->pos.x = 2 * kOne;
    Frame();
    EXPECT_EQ(cube->worldPos.x, 2 * kOne) << "animated";
    EXPECT_EQ(Pixel(32, 32), 0x123456u) << "not drawn";
    EXPECT_EQ(g_D3D9Seam.unpairedSceneCalls, 0);
}

TEST_P(FrameDraw, CamerasInPriorityOrderWithBloomOnceBeforeTwenty) {
    sys->VideoD3DFlags2 |= S3D_OPTION_BLOOM;  // without bloom targets each run logs its refusal
    sys->debugFlags |= 0x2000;
    Camera3D* late = AddCamera(scene, 30);
    Camera3D* middle = AddCamera(scene, 25);
    LogCapture log;
    Frame();
    const std::string& t = log.Text();
    const auto at = [&](const Camera3D* c) { return t.find("Camera(" + std::to_string(c->inst.id) + ") Init"); };
    ASSERT_NE(at(camera), std::string::npos);
    EXPECT_LT(at(camera), t.find("S_3DRenderPostProcessFX()"));
    EXPECT_LT(t.find("S_3DRenderPostProcessFX()"), at(middle));
    EXPECT_LT(at(middle), at(late));
    EXPECT_EQ(Count(t, "S_3DRenderPostProcessFX()"), 1u);

    // All below 20: no bloom at all.
    middle->priority = late->priority = 19;
    log.Take();
    Frame();
    EXPECT_EQ(Count(log.Text(), "S_3DRenderPostProcessFX()"), 0u);
    EXPECT_EQ(g_D3D9Seam.unpairedSceneCalls, 0);
}

TEST_P(FrameDraw, TheEnvironmentCameraRedrawsItsSixFacesOnly) {
    S_3DInitEnviMapRender();
    ASSERT_NE(g_S3DTargets.EnvMapRenderer, nullptr);
    Scene3D* envScene = B3D_SceneAlloc();
    envScene->flags |= SCENE_ENABLED | SCENE_ENVMAP;
    Camera3D* env = AddCamera(envScene, 5);
    env->camFlags |= CAM_ENVMAP;
    env->environmentSource = cube;
    LogCapture log;
    const auto faces = [&] { return Count(log.Take(), "Render EnviScene Init("); };
    Frame();
    EXPECT_EQ(faces(), 6u) << "never drawn: drawn now";
    EXPECT_EQ(g_B3DState->engineFlags & 0xC0u, B3D_ENGINE_ENVMAP_DRAWN);
    Frame();
    EXPECT_EQ(faces(), 0u);
    g_B3DState->engineFlags |= B3D_ENGINE_ENVMAP_REFRESH;
    sys->instantFps = 10;
    Frame();
    EXPECT_EQ(faces(), 0u) << "at 10 frames a second the refresh waits";
    sys->instantFps = 30;
    Frame();
    EXPECT_EQ(faces(), 6u);
    EXPECT_EQ(g_B3DState->engineFlags & 0xC0u, B3D_ENGINE_ENVMAP_DRAWN);
    EXPECT_EQ(g_D3D9Seam.unpairedSceneCalls, 0);
    EXPECT_EQ(CurrentTarget(), target) << "the faces leave the picture's target as it was";
}

TEST_P(FrameDraw, ACubeRenderThatCannotBeginDrawsNothing) {
    S_3DInitEnviMapRender();
    ASSERT_NE(g_S3DTargets.EnvMapCube, nullptr);
    g_S3DTargets.EnvMapCube->Release();
    g_S3DTargets.EnvMapCube = nullptr;
    scene->flags |= SCENE_ENVMAP;
    Camera3D* env = AddCamera(scene, 5);
    env->camFlags |= CAM_ENVMAP;
    LogCapture log;
    EXPECT_EQ(B3D_DrawToEnviMap(env, scene), 1);
    Frame();
    Frame();
    EXPECT_EQ(Count(log.Text(), "Render EnviScene Init("), 0u);
    EXPECT_EQ(Count(log.Text(), "Failed to S_3DinitRenderToEnvMap()"), 0u) << "debug mask off";
    EXPECT_EQ(g_B3DState->engineFlags & B3D_ENGINE_ENVMAP_DRAWN, 0u) << "tried again next frame";
    EXPECT_EQ(CurrentTarget(), target);
    EXPECT_NE(Pixel(32, 32), kBackground) << "the view still drawn";
}

TEST_P(FrameDraw, WithoutCamerasTheStatisticsAndMarksStillRun) {
    camera->camFlags &= ~CAM_ACTIVE;
    sys->showFpsLine = 1;
    cube->flags |= INST_FRAME_MARK;
    Frame();
    EXPECT_EQ(std::string(sys->statusText).rfind("AQC: ", 0), 0u);
    EXPECT_EQ(cube->flags & INST_FRAME_MARK, 0u);
    EXPECT_EQ(g_D3D9Seam.unpairedSceneCalls, 0);
}

TEST_P(FrameDraw, AFailedCameraArrayDrawsNoCameraAndFreesNothing) {
    B3D_MakeLensflareScene();  // its allocations are not the array's
    sys->showFpsLine = 1;
    const int32_t before = g_B3DState->poolBBytes;
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x123456, 1.0f, 0);
    LogCapture log;
    B3D_FailNextAllocations(1);
    Frame();
    EXPECT_TRUE(log.Contains("B3D_AllocMemB() failed to allocate 8 bytes!\n")) << log.Text();
    EXPECT_EQ(Pixel(32, 32), 0x123456u);
    EXPECT_EQ(g_B3DState->poolBBytes, before);
    EXPECT_EQ(std::string(sys->statusText).rfind("AQC: ", 0), 0u);
    EXPECT_EQ(g_D3D9Seam.unpairedSceneCalls, 0) << "no EndScene without its BeginScene";
    Frame();
    EXPECT_NE(Pixel(32, 32), 0x123456u) << "the next frame draws again";
}

// A fixed frame kept as a picture: the cube turned and lit by a warm
// directional light from the upper left, on the camera's background. Its
// faces turn to the light by different angles: each has its own shade of the
// light's colour.
TEST_P(FrameDraw, AFixedFrameMatchesItsGoldenPicture) {
    LitMaterial(kCube, SolidTexture(1, 0xFFFFFFFF));
    Inst3D* light = AddLight(scene);
    Qel_MatFromAngles(&cube->matrix, 5000, 7000, 0);  // its left, top and front faces show
    Frame();
    const std::vector<uint32_t> picture = Picture(target);
    EXPECT_EQ(GoldenCompare("tests/scene/golden/cube_frame.png", kSize, kSize, picture), "");
    EXPECT_EQ(picture[2 * kSize + 2] & 0xFFFFFF, kBackground);
    // Three faces, three shades of the light's warm colour: its red above its
    // green above its blue.
    const auto channel = [&](int x, int y, int shift) {
        return static_cast<int>(picture[y * kSize + x] >> shift & 0xFF);
    };
    const std::pair<int, int> left{25, 32}, top{36, 22}, front{37, 37};
    for (auto [x, y] : {left, top, front}) {
        EXPECT_GT(channel(x, y, 16), channel(x, y, 8) + 5) << x << "," << y;
        EXPECT_GT(channel(x, y, 8), channel(x, y, 0) + 10) << x << "," << y;
    }
    EXPECT_GT(channel(left.first, left.second, 8), channel(top.first, top.second, 8) + 30);
    EXPECT_GT(channel(top.first, top.second, 8), channel(front.first, front.second, 8) + 30);
    S_3DFreeLight(light);
}

// With bloom on in the settings, a light-mapped part writes its glow mask and
// the bloom pass spreads its light around it; a part without a light map does
// not glow.
TEST_P(FrameDraw, ALightMappedPartGlowsWithBloomOn) {
    game.Write("shader_src/3_0/bloom.fx", ShippedEffect("bloom.fx"));
    effectNames.push_back("bloom");
    S_3DInitPostProcessFX();
    sys->VideoD3DFlags2 |= S3D_OPTION_BLOOM;
    S_3DUpdatePartDrawSettings();  // as a change of the settings does
    ASSERT_EQ(g_S3DPartDraw.bloom, 1);
    std::string text, error;
    ASSERT_TRUE(Tool_ModelToTextBody(kCubeSource, &text, &error)) << error;
    game.Write("v/00301.bod", text);
    // Two cubes turned as in the fixed frame, side by side further away.
    Inst3D* plain = AddCube(scene, 6 * kOne, 0, 301);
    ASSERT_NE(plain, nullptr);
    cube->pos = {-6 * kOne, 0, 16 * kOne, 0};
    plain->pos.z = 16 * kOne;
    Qel_MatFromAngles(&cube->matrix, 5000, 7000, 0);
    plain->matrix = cube->matrix;
    const int16_t white = SolidTexture(1, 0xFFFFFFFF), lightMap = SolidTexture(2, 0xFF606060);
    LitMaterial(kCube, white, lightMap);
    LitMaterial(301, white);
    Inst3D* light = AddLight(scene);
    // Bloom runs before the first camera of priority 20: one that draws nothing.
    Scene3D* overlay = B3D_SceneAlloc();
    overlay->flags |= SCENE_ENABLED;
    AddCamera(overlay, 20)->camFlags &= ~kClearTarget;
    Frame();
    const std::vector<uint32_t> picture = Picture(target);
    EXPECT_EQ(GoldenCompare("tests/scene/golden/glowing_part.png", kSize, kSize, picture), "");
    const auto at = [&](int x, int y) { return picture[y * kSize + x]; };
    // The mask in the target's alpha: the light-mapped cube's, none of the plain one.
    EXPECT_GT(at(20, 32) >> 24, 0x40u);
    EXPECT_EQ(at(45, 32) >> 24, 0u);
    // Light around the first, the background around the second.
    for (auto [x, y] : {std::pair{13, 32}, {20, 22}, {20, 43}, {29, 32}}) {
        EXPECT_GT(at(x, y) & 0xFF, 0x48u) << x << "," << y;
        EXPECT_GT(at(x, y) >> 16 & 0xFF, 0x08u) << x << "," << y;
    }
    for (auto [x, y] : {std::pair{36, 32}, {57, 32}, {45, 22}, {45, 42}})
        EXPECT_EQ(at(x, y) & 0xFFFFFF, kBackground) << x << "," << y;
    S_3DFreeLight(light);
}

// A box of the model source: its eight points and six faces, wound as the
// cube's, after `first` points already given.
std::string Box(const char* part, const char* material, int first, double x0, double y0, double z0, double x1,
                double y1, double z1) {
    std::string s = std::string("o ") + part + "\nusemtl " + material + "\n";
    const double xs[] = {x0, x1, x1, x0, x0, x1, x1, x0}, ys[] = {y0, y0, y1, y1, y0, y0, y1, y1};
    for (int i = 0; i < 8; ++i)
        s += "v " + std::to_string(xs[i]) + " " + std::to_string(ys[i]) + " " + std::to_string(i < 4 ? z0 : z1) + "\n";
    const int faces[6][4] = {{4, 3, 2, 1}, {5, 6, 7, 8}, {2, 6, 5, 1}, {3, 7, 6, 2}, {4, 8, 7, 3}, {1, 5, 8, 4}};
    for (int f = 0; f < 6; ++f) {
        s += "s " + std::to_string(f + 1) + "\nf";
        for (int k : faces[f]) s += " " + std::to_string(first + k);
        s += "\n";
    }
    return s;
}

// A ship flying ahead, seen from its side: its hull, an engine at its back
// and one at its front, and a glow above the back engine at half the level.
// Only the back's parts draw: the back engine whole, the glow faded over the
// background; the front engine is left out.
TEST_P(FrameDraw, OnlyTheLitSidesEnginesAndGlowsDraw) {
    constexpr int32_t kShip = 302;
    const std::string source = "name ship\nmtl hull\nmtl jet\n" + Box("hull", "hull", 0, -1, -1, -1.5, 1, 1, 1.5) +
                               Box("back", "jet", 8, -0.6, -0.6, -3, 0.6, 0.6, -1.5) +
                               Box("front", "jet", 16, -0.6, -0.6, 1.5, 0.6, 0.6, 3) +
                               Box("glow", "jet", 24, -0.4, 1, -3.4, 0.4, 1.8, -2.2);
    std::string text, error;
    ASSERT_TRUE(Tool_ModelToTextBody(source, &text, &error)) << error;
    game.Write("v/00302.bod", text);
    Inst3D* ship = AddCube(scene, 0, 0, kShip);
    ASSERT_NE(ship, nullptr);
    cube->pos.z = -10 * kOne;  // out of the way
    auto* body = static_cast<Body3D*>(B3D_FindBody(kShip));
    ASSERT_NE(body, nullptr);
    ASSERT_EQ(body->levels[0]->partCount, 4);
    BodyPart** parts = body->levels[0]->parts;
    parts[1]->flags |= B3D_PART_ENGINE;
    parts[2]->flags |= B3D_PART_ENGINE;
    parts[3]->flags |= B3D_PART_GLOW;
    const uint32_t back = B3D_GlowSideBit(2, -1);
    for (int p : {1, 3}) EXPECT_EQ(B3D_GlowPartSide(parts[p]), back) << p;
    EXPECT_EQ(B3D_GlowPartSide(parts[2]), B3D_GlowSideBit(2, 1));
    const int16_t white = SolidTexture(1, 0xFFFFFFFF), orange = SolidTexture(2, 0xFFFF8020);
    LitMaterial(kShip, white);
    body->materials[1] = body->materials[0];
    body->materials[1].baseTexture = orange;
    Inst3D* light = AddLight(scene);
    B3D_InstSetSize(ship, kOne * 10);
    ship->pos.z = 14 * kOne;
    Qel_MatFromAngles(&ship->matrix, 16384, 0, 0);  // its length across the view
    ship->words5[B3D_INST_GLOW_LEVEL] = B3D_GLOW_FULL / 2;
    ship->words5[B3D_INST_GLOW_SIDES] = static_cast<int32_t>(back | B3D_GLOW_STATE);
    Frame();
    const std::vector<uint32_t> picture = Picture(target);
    EXPECT_EQ(GoldenCompare("tests/scene/golden/engine_sides.png", kSize, kSize, picture), "");
    const auto at = [&](int x, int y) { return picture[y * kSize + x] & 0xFFFFFF; };
    const auto red = [&](int x, int y) { return static_cast<int>(at(x, y) >> 16); };
    // The hull at the middle, its front (left) bare, its back engine lit on the right.
    EXPECT_NE(at(32, 32), kBackground);
    EXPECT_EQ(at(15, 32), kBackground) << "the front engine is left out";
    EXPECT_GT(red(51, 32), 0xC0);
    // The glow above it faded halfway over the background.
    EXPECT_NE(at(52, 21), kBackground);
    EXPECT_LT(red(52, 21), red(51, 32) - 0x40);
    S_3DFreeLight(light);
}

class FrameFlares : public FrameDraw {
protected:
    void SetUp() override {
        FrameDraw::SetUp();
        // Lens flare 0: two elements of the cube's body.
        auto* elements = static_cast<B3DLensFlareElement*>(Int_AllocMem(2 * sizeof(B3DLensFlareElement), 0));
        elements[0] = {kCube, kOne, {1, 2}, 0};
        elements[1] = {kCube, kOne / 2, {1, 2}, 0};
        g_B3DState->arrayTable = static_cast<B3DArrayTableRow*>(Int_AllocMem(sizeof(B3DArrayTableRow), 0));
        g_B3DState->arrayTable[0] = {2, elements};
        g_B3DState->arrayTableCount = 1;
        sys->SysFlags |= B3D_SYSTEM_FLARE_TEST;
        camera->camFlags |= CAM_FLARES;
        // The sun: a small marked instance far away, slightly up and right.
        sun = AddCube(scene, 20 * kOne, 20 * kOne);
        B3D_InstSetSize(sun, 20 * kOne);
        sun->pos.z = 500 * kOne;
        sun->flags |= INST_MARKED;
        sun->markValue = 0;
        sun->lightColor[0] = 255;
        cube->pos.x = -30 * kOne;  // out of the sun's way
    }
    B3DCameraItem* Item() { return B3D_CameraFlareItem(camera, sun); }

    Inst3D* sun = nullptr;
};
INSTANTIATE_FOR_BOTH_STATE_MANAGERS(FrameFlares);

TEST_P(FrameFlares, FlaresRiseBy100To200AndFadeWhenCovered) {
    Frame();
    ASSERT_NE(Item(), nullptr);
    EXPECT_EQ(Item()->intensity, 100);
    EXPECT_NE(Item()->insts[0], nullptr);
    EXPECT_NE(Item()->insts[1], nullptr);
    EXPECT_EQ(Item()->insts[2], nullptr);
    Frame();
    EXPECT_EQ(Item()->intensity, 200);
    Frame();
    EXPECT_EQ(Item()->intensity, 200);
    // The cube moves in front of the sun with a collision model: covered.
    cube->pos = {B3D_MulDiv(20 * kOne, 10, 500), B3D_MulDiv(20 * kOne, 10, 500), 10 * kOne, 0};
    cube->flags |= INST_COLLISION_MODEL;
    Frame();
    EXPECT_EQ(Item()->intensity, 100);
    Frame();
    EXPECT_EQ(Item()->intensity, 0);
    for (Inst3D* i : Item()->insts) EXPECT_EQ(i, nullptr) << "freed with the fade";
    EXPECT_EQ(B3D_ListCount(&g_B3DState->lensFlareScene->insts), 0);
    EXPECT_EQ(g_D3D9Seam.unpairedSceneCalls, 0);
}

TEST_P(FrameFlares, AnItemWhoseInstanceWentFadesAndGoes) {
    Frame();
    Frame();
    ASSERT_EQ(Item()->intensity, 200);
    const auto id = static_cast<int32_t>(sun->id);
    S_3DDeleteInst(sun);
    B3D_InstFree(sun);
    // Gone with its instance, or faded out and freed after it.
    Frame();
    if (B3DCameraItem* item = B3D_CameraFindItem(camera, id)) {
        EXPECT_EQ(item->intensity, 100) << "no longer seen";
    }
    Frame();
    EXPECT_EQ(B3D_CameraFindItem(camera, id), nullptr);
    EXPECT_EQ(B3D_ListCount(&g_B3DState->lensFlareScene->insts), 0);
}

TEST_P(FrameFlares, WithoutTheFlareTestEveryFlareFades) {
    Frame();
    Frame();
    ASSERT_EQ(Item()->intensity, 200);
    sys->SysFlags &= ~B3D_SYSTEM_FLARE_TEST;
    Frame();
    EXPECT_EQ(Item()->intensity, 100);
    Frame();
    EXPECT_EQ(Item()->intensity, 0);
}

TEST_P(FrameFlares, ATypeOutsideTheTableShowsNothingAndAnItemTakes13) {
    sun->markValue = 3;
    Frame();
    ASSERT_NE(Item(), nullptr);
    for (Inst3D* i : Item()->insts) EXPECT_EQ(i, nullptr);
    // Twenty elements in the file: only thirteen instances.
    auto* elements = static_cast<B3DLensFlareElement*>(Int_AllocMem(20 * sizeof(B3DLensFlareElement), 0));
    for (int e = 0; e < 20; ++e) elements[e] = {kCube, kOne, {1, 1}, 0};
    Int_FreeMem(g_B3DState->arrayTable[0].array, 2 * sizeof(B3DLensFlareElement), 0);
    g_B3DState->arrayTable[0] = {20, elements};
    sun->markValue = 0;
    Item()->type = 0;
    Frame();
    int made = 0;
    for (Inst3D* i : Item()->insts) made += i != nullptr;
    EXPECT_EQ(made, 13);
    EXPECT_EQ(B3D_ListCount(&g_B3DState->lensFlareScene->insts), 13);
}

// Scene buffers of the cube body (12 triangles, one material).
class SceneBuffers : public FrameDraw {
protected:
    // An instance of the cube that asks for the scene buffer, with its entry
    // chosen for this pass.
    Inst3D* Buffered(uint32_t flags, uint32_t flags2) {
        Inst3D* i = AddCube(scene, 0, 0);
        i->flags |= INST_VISIBLE | flags;
        i->flags2 |= flags2;
        return i;
    }
    int32_t Fill(Inst3D* i, int32_t times) {
        B3DSceneBufferGroup* entry = B3D_SceneBufferEntry(scene, i);
        EXPECT_NE(entry, nullptr);
        if (!entry) return 0;
        entry->count = 2;
        B3D_SceneChooseSceneBuffers(scene);
        int32_t added = 0;
        for (int32_t n = 0; n < times; ++n) added += B3D_SceneBufferAddInst(0, scene, i, camera);
        return added;
    }
};
INSTANTIATE_FOR_BOTH_STATE_MANAGERS(SceneBuffers);

TEST_P(SceneBuffers, CapacitiesOf256And512And1024) {
    Inst3D* transparent = Buffered(INST_TRANSPARENT, 0);
    EXPECT_EQ(Fill(transparent, 257), 256) << "the 257th is drawn on its own";
    B3DSceneBufferGroup* entry = B3D_SceneBufferEntry(scene, transparent);
    EXPECT_EQ(entry->capacity, 256);
    EXPECT_EQ(entry->count2, 36) << "three indices a triangle";
    B3D_SceneFreeSceneBuffers(scene);

    camera->camFlags |= CAM_STRETCH;
    EXPECT_EQ(Fill(Buffered(INST_STRETCH, 0), 513), 512);
    B3D_SceneFreeSceneBuffers(scene);
    camera->camFlags &= ~CAM_STRETCH;
    EXPECT_EQ(Fill(Buffered(0, INST2_SCENE_BUFFER), 1025), 1024);
    // A new pass starts the count again.
    S_3DInitSceneBuffer(scene);
    EXPECT_EQ(Fill(Buffered(0, INST2_SCENE_BUFFER), 3), 3);
}

TEST_P(SceneBuffers, AFrameDrawsTheBufferAndNotTheInstances) {
    // Two buffered cubes side by side, nothing else in view.
    cube->pos.x = 100 * kOne;
    for (int32_t x : {-2 * kOne, 2 * kOne}) Buffered(0, INST2_SCENE_BUFFER)->pos.x = x;
    Frame();
    const B3DSceneBufferGroup* entry = B3D_First<B3DSceneBufferGroup>(&scene->bufferGroups);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->counter, 2);
    EXPECT_NE(entry->flags & 0x3u, 0u);
    EXPECT_EQ(g_D3D9Seam.unpairedSceneCalls, 0);
}

// An animated material, or a body whose materials are the global "Materials"
// definitions, joins the scene buffer like any other: its entry is made once
// and kept, and the buffer draws with the group's base texture.
TEST_P(SceneBuffers, AnimatedAndGlobalMaterialsJoinTheBuffer) {
    const MaterialDefinitions definitions{0, 1};
    Body3D* body = B3D_GetBody(kCube);
    ASSERT_NE(body, nullptr);
    const uint8_t ownFlags = body->flags;
    BodyLevel* level = body->levels[0];
    auto setMaterial = [&](int32_t material) {
        for (int32_t p = 0; p < level->partCount; ++p)
            for (int32_t g = 0; g < level->parts[p]->groupCount; ++g) level->parts[p]->groups[g].material = material;
    };
    const int32_t ownMaterial = level->parts[0]->groups[0].material;
    cube->pos.x = 100 * kOne;
    const struct {
        const char* name;
        bool global;
        int32_t material;
        uint16_t texture;
    } cases[] = {{"animated", false, -3, 0xFFFD}, {"global", true, 1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.global) body->flags &= ~BODY_MATERIAL6;
        setMaterial(c.material);
        Inst3D* pair[2] = {Buffered(0, INST2_SCENE_BUFFER), Buffered(0, INST2_SCENE_BUFFER)};
        pair[0]->pos.x = -2 * kOne;
        pair[1]->pos.x = 2 * kOne;
        B3DSceneBufferGroup* entry = B3D_SceneBufferEntry(scene, pair[0]);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(B3D_SceneBufferEntry(scene, pair[1]), entry) << "kept, not made again";
        const auto* item = B3D_First<B3DSceneBufferItem>(&entry->items);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->texture, c.texture);
        LogCapture log;
        Frame();
        EXPECT_EQ(entry->counter, 2);
        EXPECT_FALSE(log.Contains("no valid shader Material pointer")) << log.Text();
        for (Inst3D* i : pair) B3D_InstFree(i);
        B3D_SceneFreeSceneBuffers(scene);
        body->flags = ownFlags;
    }
    // A version-6 material the body does not hold cannot be had: no entry.
    setMaterial(body->materialCount);
    EXPECT_EQ(B3D_SceneBufferEntry(scene, Buffered(0, INST2_SCENE_BUFFER)), nullptr);
    EXPECT_EQ(B3D_First<B3DSceneBufferGroup>(&scene->bufferGroups), nullptr);
    setMaterial(ownMaterial);
}

TEST_P(SceneBuffers, BigBodiesAndTheFastBodyAreFilteredOut) {
    FakeBody big(401, 60, {Fan(56)});
    FakeBody fast(B3D_FAST_BODY, 3, {Fan(1)});
    ASSERT_EQ(B3D_StoreBody(401, &big.body), 1);
    ASSERT_EQ(B3D_StoreBody(B3D_FAST_BODY, &fast.body), 1);
    sys->debugFlags |= 0x40000;
    LogCapture log;
    for (int32_t id : {401, B3D_FAST_BODY}) {
        Inst3D* i = B3D_AllocInst();
        i->bodyId = id;
        i->flags |= INST_VISIBLE;
        i->flags2 |= INST2_SCENE_BUFFER;
        EXPECT_EQ(B3D_InstUsesSceneBuffer(camera, i), 0) << id;
        EXPECT_EQ(i->flags2 & INST2_SCENE_BUFFER, 0u) << id;
    }
    EXPECT_TRUE(log.Contains("INFO: filtering out Sceenbuffer flaged object BodyID: 401, NumPolys: 56\n"));
    EXPECT_TRUE(log.Contains("INFO: filtering out \"fast\" Sceenbuffer flaged object BodyID: 225\n"));
    Qel_TableRemove(g_B3DState->bodyTable, 402);
    Qel_TableRemove(g_B3DState->bodyTable, B3D_FAST_BODY + 1);
}

TEST_P(SceneBuffers, TransparentPartsAreSortedFarthestFirst) {
    Inst3D* near = Buffered(INST_TRANSPARENT, 0);
    Inst3D* far = Buffered(INST_TRANSPARENT, 0);
    near->viewPos.z = 5 * kOne;
    far->viewPos.z = 50 * kOne;
    B3D_ReleaseDrawItems();
    B3D_InstDraw(near, camera);
    B3D_InstDraw(far, camera);
    B3D_SortDrawList(camera);
    const B3DDrawItem* first = B3D_First<B3DDrawItem>(&g_B3DState->drawList);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(B3D_Next(first), nullptr);
    EXPECT_EQ(first->inst, far);
    EXPECT_EQ(B3D_Next(first)->inst, near);
    B3D_DrawUnplacedInsts(camera);
}

TEST_P(SceneBuffers, OrientationModes) {
    camera->inst.worldMatrix = camera->inst.matrix;
    Inst3D* facing = Buffered(INST_FACE_CAMERA, 0);
    facing->worldPos = {10 * kOne, 0, 0, 0};
    B3D_InstDraw(facing, camera);
    EXPECT_NEAR(facing->worldMatrix.m[8], kOne, 2) << "its z axis runs from the camera to it";
    Inst3D* withCamera = Buffered(INST_CAMERA_MATRIX, 0);
    Qel_MatFromAngles(&camera->inst.worldMatrix, 4096, 0, 0);
    withCamera->scale.x = 0x8000;
    B3D_InstDraw(withCamera, camera);
    for (int k = 0; k < 12; ++k) EXPECT_EQ(withCamera->worldMatrix.m[k], camera->inst.worldMatrix.m[k]) << k;
}

}  // namespace
