// The demo's art as the engine meets it: every body, cut and texture that
// demogen makes, and the scene tables of data/types/art.types, read by the
// engine's own loaders on a real GL device without an error or warning; and a
// few of the bodies drawn lit and textured through the frame draw.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include "base/ebm.h"
#include "base/imagefiles.h"
#include "base/table.h"
#include "base/texcache.h"
#include "cockpit/hud.h"
#include "cockpit/markers.h"
#include "cockpit/panels.h"
#include "cockpit/statuspanel.h"
#include "cockpit/ticker.h"
#include "render/bodies.h"
#include "render/device.h"
#include "render/fxrecords.h"
#include "render/gl_renderer_fixture.h"
#include "render/lights.h"
#include "render/pixelformat.h"
#include "scene/allocs.h"
#include "scene/bodyrecord.h"
#include "scene/caches.h"
#include "scene/cutfiles.h"
#include "scene/dummies.h"
#include "scene/freeing.h"
#include "scene/framedraw.h"
#include "scene/fxparams.h"
#include "scene/geometry.h"
#include "scene/ids.h"
#include "scene/names.h"
#include "scene/smallops.h"
#include "scene/trees.h"
#include "scene/typesfiles.h"
#include "support/golden_image.h"
#include "support/logcapture.h"
#include "system/shaderprofile.h"
#include "tools/lib/bodyconv.h"
#include "tools/lib/cutconv.h"
#include "tools/lib/demo_art.h"
#include "tools/lib/lookup_textures.h"
#include "tools/lib/types_writer.h"

namespace {

constexpr int32_t kOne = 0x10000;
constexpr uint32_t kClearTarget = 0x10 | 0x20 | 0x4;  // colour and depth
constexpr uint32_t kLookupLoad = 0x80040000u;         // as start-up loads the lookup textures
constexpr int kWide = 160, kHigh = 120;               // the golden picture

std::string SourceFile(const std::string& name) {
    const char* root = std::getenv("TREVAN_SOURCE_DIR");
    std::ifstream in(std::string(root ? root : ".") + "/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Complains(const std::string& log) {
    return log.find("ERROR") != std::string::npos || log.find("WARNING") != std::string::npos ||
           log.find("Error") != std::string::npos || log.find("wrong") != std::string::npos;
}

int32_t Triangles(const Body3D* body) {
    int32_t n = 0;
    const BodyLevel* level = body->levels[0];
    for (int32_t p = 0; p < level->partCount; ++p)
        for (int32_t g = 0; g < level->parts[p]->groupCount; ++g) n += level->parts[p]->groups[g].triCount;
    return n;
}

bool IsHudBody(int32_t id) {
    const auto hud = DemoArt_HudBodies();
    return std::any_of(hud.begin(), hud.end(), [id](const DemoArtHudBody& b) { return b.id == id; });
}

// The background's bodies and the HUD pieces are found by name, the others
// under their numbered files.
bool Named(const DemoArtSource& s) { return s.file.find("/environments/") != std::string::npos || IsHudBody(s.id); }

class DemoArt : public GLRendererTest {
protected:
    void SetUp() override {
        GLRendererTest::SetUp();
        for (const char* fx : {"standard_lighting", "effects"}) {
            game.Write(std::string("shader_src/3_0/") + fx + ".fx", ShippedEffect((std::string(fx) + ".fx").c_str()));
            effectNames.push_back(fx);
        }
        ASSERT_EQ(B3D_InitBodyIdTable(), 1);
        ASSERT_EQ(B3D_InitCutIdTable(), 1);
        ASSERT_EQ(S3D_EbmGetPixelFormatFromDPF(&format_, D3DFMT_X8R8G8B8), 1);
        g_TCTextureFormats = Qel_TableCreate();
        Qel_TableSet(g_TCTextureFormats, TC_FORMAT_OPAQUE, reinterpret_cast<uintptr_t>(&format_));
        Qel_TableSet(g_TCTextureFormats, TC_FORMAT_ALPHA, reinterpret_cast<uintptr_t>(&format_));
        // The demo's own files, as the build writes them into its folder.
        std::string error, text;
        ASSERT_TRUE(Tool_WriteTypesFiles(SourceFile("data/types/art.types"), game.Path() + "/types", -1, &error))
            << error;
        for (const DemoArtSource& s : DemoArt_Models()) {
            ASSERT_TRUE(Tool_ModelToTextBody(s.text, &text, &error)) << s.file << ": " << error;
            game.Write(s.file + ".bod", text);
        }
        for (const DemoArtSource& s : DemoArt_Cuts()) {
            ASSERT_TRUE(Tool_CutSourceToText(s.text, &text, &error)) << s.file << ": " << error;
            game.Write(s.file + ".bod", text);
        }
        ASSERT_TRUE(DemoArt_WritePictures(game.Path() + "/dds", &error)) << error;
        // The lookup textures the demo ships beside them: a part without a
        // light map binds the black one.
        ASSERT_TRUE(Lookup_WriteTextures(game.Path() + "/dds", &error)) << error;
        LookupTextureSet& lookup = g_LookupTextures;
        for (auto [slot, name] : {std::pair{&lookup.whiteDummy, "dds\\fx_WhiteDummy"},
                                  {&lookup.blackDummy, "dds\\fx_BlackDummy"},
                                  {&lookup.blackDummyCube, "dds\\fx_BlackDummyCube"}}) {
            *slot = S_LoadTexture(name, kLookupLoad, 0, 0);
            ASSERT_NE(*slot, nullptr) << name;
        }
        LogCapture log;
        for (auto load : {B3DB_LoadMaterials, B3DB_LoadBodyData, B3DB_LoadCutData, B3DB_LoadSkins})
            EXPECT_EQ(load(), 1);
        EXPECT_EQ(B3DB_LoadBodyDummies(), 1);
        // Numbered bodies also ship binary, which the loader tries first.
        for (const DemoArtSource& s : DemoArt_Models()) {
            if (!Named(s)) {
                ASSERT_TRUE(Tool_BodyTextToBinary(s.id, &error)) << error;
            }
        }
        EXPECT_FALSE(Complains(log.Text())) << log.Text();
        sys = session->State();
        sys->VideoD3DFlags |= 0x400;  // cameras may clear the depth
    }
    void TearDown() override {
        for (Scene3D* sc = B3D_First<Scene3D>(&g_B3DState->scenes); sc; sc = B3D_Next(sc))
            for (Inst3D* i = B3D_First<Inst3D>(&sc->insts); i; i = B3D_Next(i))
                if (i->flags & INST_IN_RENDERER) S_3DDeleteInst(i);
        B3D_ReleaseRendererBuffers();
        while (B3DListNode* n = B3D_ListFirst(&g_B3DState->bodies)) B3D_FreeBody(reinterpret_cast<Body3D*>(n));
        J3D_FreeAllCuts();
        S_3DFreeLookupTextures();
        B3DB_FreeMaterials();
        TC_FreeTextureTables();
        g_TCNumberedCount = g_TCNamedCount = 0;
        Qel_TableFree(g_TCTextureFormats);
        g_TCTextureFormats = nullptr;
        GLRendererTest::TearDown();
    }

    SystemState* sys = nullptr;

private:
    TextureBitmapFormat format_{};
};
INSTANTIATE_FOR_BOTH_STATE_MANAGERS(DemoArt);

// A material's picture: an effect material (the unlit parts) names it as
// its effect's diffuse texture.
int32_t BaseTexture(const BodyMaterial& m) {
    if (!m.effect) return m.baseTexture;
    for (int16_t k = 0; k < m.effect->count; ++k) {
        const FXParameter& p = m.effect->params[k];
        if (p.type == SPTYPE_LONG && p.name && std::string(p.name) == "t_DiffuseTexture") return p.value.i[0];
    }
    return 0;
}

TEST_P(DemoArt, EveryBodyCutAndTextureLoadsCleanly) {
    LogCapture log;
    for (const DemoArtSource& s : DemoArt_Models()) {
        SCOPED_TRACE(s.file);
        // The background's bodies are found by the names the space types
        // make of the family name, the HUD pieces by the names the cockpit
        // asks for; art.types gives them their numbers.
        const bool named = Named(s);
        if (named) {
            std::string name = s.file.substr(2);
            std::replace(name.begin(), name.end(), '/', '\\');
            EXPECT_EQ(B3D_GetBodyID(name.c_str()), s.id);
        }
        EXPECT_EQ(game.Exists(s.file + ".bob"), !named);
        const Body3D* body = B3D_GetBody(s.id);
        ASSERT_NE(body, nullptr);
        ASSERT_GT(body->levelCount, 0);
        // Cheap enough for software GL: ships a few hundred triangles, the
        // station under two thousand, spheres about five hundred.
        EXPECT_LE(Triangles(body), s.id == 610 ? 2000 : 600);
        EXPECT_GT(Triangles(body), 0);
        EXPECT_EQ((body->flags & BODY_DUMMY) != 0, s.id == kDemoArtDockPortBody || s.id == kDemoArtApproachBody);
        // The HUD pieces show the cockpit's render textures and the icon
        // sheet, which are not demogen's (the last test checks them).
        if (IsHudBody(s.id)) continue;
        for (int32_t m = 0; m < body->materialCount; ++m) {
            const int32_t texture = BaseTexture(body->materials[m]);
            ASSERT_GT(texture, 0) << "material " << m;
            // The cockpit frame's screens show the cockpit's numbered render textures.
            if (texture < static_cast<int32_t>(g_TCNumberedCount)) {
                EXPECT_EQ(s.id, 603) << TC_GetTextureName(texture);
                continue;
            }
            EBM* bitmap = TC_AddTextureRef(texture);
            ASSERT_NE(bitmap, nullptr) << TC_GetTextureName(texture);
            EXPECT_EQ(bitmap->flags & EBM_DUMMY, 0u) << TC_GetTextureName(texture);
            EXPECT_NE(bitmap->flags & EBM_COMPRESSED, 0u)
                << "shipped as the cache asks: " << TC_GetTextureName(texture);
            TC_ReleaseTexture(texture);
        }
    }
    // Every picture is used by some body.
    for (const DemoArtPicture& p : DemoArt_Pictures()) {
        const int32_t id = static_cast<int32_t>(TC_GetTextureIdByName(p.name.c_str()));
        EXPECT_NE(TC_TextureTable[id].refCount + (TC_TextureTable[id].bitmap ? 1 : 0), 0u) << p.name;
    }
    // The trading post's cut: the post, its dock port and the approach point,
    // a child of the port.
    const J3D_Cut* cut = J3D_GetCut(kDemoArtStationCut);
    ASSERT_NE(cut, nullptr);
    ASSERT_EQ(cut->pathCount, 3);
    EXPECT_EQ(cut->paths[0].reference, 610);
    EXPECT_EQ(cut->paths[1].reference, kDemoArtDockPortBody);
    EXPECT_EQ(cut->paths[2].reference, kDemoArtApproachBody);
    EXPECT_EQ(cut->paths[2].value2, 1);
    EXPECT_FALSE(Complains(log.Text())) << log.Text();
}

// Ship, station, gate, asteroid, planet and the other side's ship in a row of
// three over a row of three, lit by a warm light from the upper left: each
// shows its shape, its shading and its texture.
TEST_P(DemoArt, AFewBodiesLitAndTextured) {
    IDirect3DSurface9* picture = nullptr;
    IDirect3DSurface9* pictureDepth = nullptr;
    ASSERT_EQ(device->CreateRenderTarget(kWide, kHigh, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, 0, &picture, nullptr),
              D3D_OK);
    ASSERT_EQ(device->CreateDepthStencilSurface(kWide, kHigh, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, 0, 0, &pictureDepth,
                                                nullptr),
              D3D_OK);
    sys->width = kWide;
    sys->height = kHigh;
    device->SetRenderTarget(0, picture);
    device->SetDepthStencilSurface(pictureDepth);
    Scene3D* scene = B3D_SceneAlloc();
    scene->flags |= SCENE_ENABLED;
    Camera3D* camera = B3D_CameraAlloc();
    B3D_SceneLinkInst(scene, camera);
    camera->camFlags |= CAM_ACTIVE | kClearTarget;
    camera->priority = 10;
    camera->background[0] = 0x08, camera->background[1] = 0x08, camera->background[2] = 0x18;
    struct Placed {
        int32_t body;
        int32_t x, y;
        int32_t size;
        int16_t a, b, c;
    };
    const Placed placed[] = {
        {600, -10, 5, 4, 9000, 12000, 3000}, {610, 0, 5, 6, 5000, 3000, 0},  {620, 11, 5, 4, 6000, 0, 0},
        {630, -11, -6, 4, 5000, 9000, 2000}, {641, 0, -6, 5, 0, 3000, 1500}, {602, 11, -6, 5, 9000, -12000, -3000},
    };
    LogCapture log;
    for (const Placed& p : placed) {
        Inst3D* i = B3D_AllocInst();
        ASSERT_EQ(B3D_InstSetBody(i, p.body), 1) << p.body;
        B3D_InstSetSize(i, p.size * kOne);
        i->pos = {p.x * kOne, p.y * kOne, 17 * kOne, 0};
        Qel_MatFromAngles(&i->matrix, p.a, p.b, p.c);
        B3D_InstAddToScene(i, scene);
        if (!(i->flags & INST_IN_RENDERER)) {
            ASSERT_TRUE(S_3DAddInst(i));
            i->flags |= INST_IN_RENDERER;
        }
    }
    Inst3D* light = B3D_LightAlloc();
    light->flags |= INST_DIRECTIONAL_LIGHT;
    light->lightColor[0] = 255, light->lightColor[1] = 235, light->lightColor[2] = 200;
    light->pos = {-15 * kOne, 10 * kOne, -10 * kOne, 0};
    B3D_InstAddToScene(light, scene);
    if (!(light->flags & INST_IN_RENDERER)) {
        EXPECT_EQ(S_D3DLight(light), 1);
        light->flags |= INST_IN_RENDERER;
    }
    B3D_DrawObjects();
    const std::vector<uint32_t> pixels = Picture(picture);
    EXPECT_EQ(GoldenCompare("tests/scene/golden/demo_art.png", kWide, kHigh, pixels), "");
    EXPECT_FALSE(Complains(log.Text())) << log.Text();
    S_3DFreeLight(light);
    device->SetRenderTarget(0, target);
    device->SetDepthStencilSurface(depth);
    pictureDepth->Release();
    picture->Release();
}

}  // namespace

// What the cockpit draws with: its render textures are blank rows of
// "Materials" made at a size, its menu graphics rows that load numbered
// pictures with alpha; and the bodies it finds by name show the texture they
// are made for (the icon sheet, the target panel, the tooltip).
TEST_P(DemoArt, TheCockpitFindsItsTexturesAndBodies) {
    struct Generated {
        int32_t id, width, height;
    };
    for (const Generated& g : {Generated{INS_TARGET_TEXTURE, 64, 64},
                               {INS_PANEL_TEXT_TEXTURE, 64, 16},
                               {INS_PANEL_TEXTURE, 128, 128},
                               {INS_TEXT_TEXTURE, 128, 128},
                               {INS_RADAR_TEXTURE, 64, 64},
                               {INS_MARKER_TEXTURE, 128, 128},
                               {INS_PANEL_COLUMN, 232, 256},
                               {INS_TOOLTIP_TEXTURE, 256, 256}}) {
        SCOPED_TRACE(g.id);
        ASSERT_LT(g.id, g_TCTextureInfoCount);
        const TC_TextureInfo& info = g_TCTextureInfo[g.id];
        EXPECT_NE(info.textureNumber, 0);
        EXPECT_NE(info.flags & TC_BLANK, 0u);
        EXPECT_GE(info.width, g.width);
        EXPECT_GE(info.height, g.height);
    }
    for (int32_t id : {INS_PANEL_ICONS, INS_PANEL_BARS, INS_PANEL_MODES, INS_PANEL_COLUMN_SOURCE}) {
        SCOPED_TRACE(id);
        ASSERT_LT(id, g_TCTextureInfoCount);
        EXPECT_NE(g_TCTextureInfo[id].textureNumber, 0);
        EXPECT_LT(g_TCTextureInfo[id].opacity, 255);
        EXPECT_EQ(g_TCTextureInfo[id].flags & TC_BLANK, 0u);
    }
    for (const DemoArtHudBody& b : DemoArt_HudBodies()) {
        SCOPED_TRACE(b.name);
        ASSERT_EQ(B3D_GetBodyID(b.name.c_str()), b.id);
        const Body3D* body = B3D_GetBody(b.id);
        ASSERT_NE(body, nullptr);
        ASSERT_GT(body->materialCount, 0);
        EXPECT_EQ(body->materials[0].baseTexture, static_cast<int32_t>(TC_GetTextureIdByName(b.texture.c_str())));
    }
}
