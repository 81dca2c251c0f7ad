// Effects on GL: a draw with a bound effect program goes through the one state
// flush, every shipped effect compiles and links in both variants in every
// shader folder, and linked programs come back from the binary cache.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/d3d9/program.h"
#include "platform/d3d9/seam.h"
#include "platform/d3dx/d3dx9.h"
#include "render/mesh.h"
#include "render/statemanager.h"
#include "support/small_device.h"

namespace fs = std::filesystem;

namespace {

template <class Base>
class EffectFixture : public Base {
protected:
    void SetUp() override {
        D3DXSetFileReader(nullptr);
        Base::SetUp();
    }
    ID3DXEffect* Create(const std::string& text, const D3DXMACRO* macros = nullptr) {
        ID3DXEffect* effect = nullptr;
        ID3DXBuffer* errors = nullptr;
        HRESULT hr = D3DXCreateEffect(this->device, text.data(), static_cast<UINT>(text.size()), macros, nullptr, 0,
                                      nullptr, &effect, &errors);
        if (errors) {
            ADD_FAILURE() << static_cast<const char*>(errors->GetBufferPointer());
            errors->Release();
        }
        EXPECT_EQ(hr, D3D_OK);
        return effect;
    }
};

using EffectGLTest = EffectFixture<SmallDeviceTest>;

// Drawing with effects that set their states through the state manager of the
// parameter's kind, as the renderer's effects do.
class EffectPicture : public EffectFixture<SmallDevicePicture> {
protected:
    void SetUp() override {
        EffectFixture::SetUp();
        manager = S_3DCreateStateManager(device);
        ASSERT_NE(manager, nullptr);
    }
    void TearDown() override {
        if (manager) manager->Release();
        EffectFixture::TearDown();
    }
    ID3DXEffect* Managed(ID3DXEffect* effect) {
        if (effect) effect->SetStateManager(manager);
        return effect;
    }
    // A shipped effect of the 3_0 folder, plain variant, under the manager.
    ID3DXEffect* LoadShipped(const char* name) {
        const char* bin = std::getenv("TREVAN_BINARY_DIR");
        EXPECT_NE(bin, nullptr);
        if (!bin) return nullptr;
        const std::string path = std::string(bin) + "/demo/shader_src/3_0/" + name + ".fx";
        const D3DXMACRO plain[] = {{"VRMENGINE", "true"}, {nullptr, nullptr}};
        ID3DXEffect* effect = nullptr;
        EXPECT_EQ(D3DXCreateEffectFromFileA(device, path.c_str(), plain, nullptr, 0, nullptr, &effect, nullptr),
                  D3D_OK);
        return Managed(effect);
    }
    IDirect3DTexture9* OneTexel(uint32_t argb) {
        IDirect3DTexture9* t = nullptr;
        EXPECT_EQ(device->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
        if (!t) return nullptr;
        D3DLOCKED_RECT lr{};
        t->LockRect(0, &lr, nullptr, 0);
        *static_cast<uint32_t*>(lr.pBits) = argb;
        t->UnlockRect(0);
        return t;
    }
    // One pass of the effect's current technique over a triangle that covers
    // the target and faces the viewer; answers the centre pixel.
    uint32_t DrawFacingTriangle(ID3DXEffect* effect) {
        // Position, uv, normal; clockwise as Direct3D sees it, facing the viewer.
        const float tri[] = {-1, -1, 0.5f, 0, 0, 0, 0, -1, -1, 3, 0.5f, 0, 0, 0, 0, -1, 3, -1, 0.5f, 0, 0, 0, 0, -1};
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
        UINT passes = 0;
        effect->Begin(&passes, D3DXFX_DONOTSAVESTATE);
        EXPECT_EQ(passes, 1u);
        effect->BeginPass(0);
        EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, 32), D3D_OK);
        effect->EndPass();
        effect->End();
        return Pixel(32, 24);
    }

    CStateManagerInterface* manager = nullptr;
};
INSTANTIATE_FOR_BOTH_STATE_MANAGERS(EffectPicture);

const char* const kMoved = R"(
float4x4 g_Move;
float4 g_Colour = {1, 0, 0, 1};
glsl vertex VS { void main() { gl_Position = d3d_ClipToGL(g_Move * a_Position); } }
glsl fragment FS { void main() { d3d_FragColor = g_Colour; } }
technique T { pass P { VertexShader = VS; PixelShader = FS; CullMode = 1; ZEnable = 0; } }
)";

TEST_P(EffectPicture, ADrawWithABoundEffectUsesItsProgramAndValues) {
    ID3DXEffect* effect = Managed(Create(kMoved));
    ASSERT_NE(effect, nullptr);
    // A Direct3D translation row: x + 1 moves the left half of clip space to the right half.
    D3DXMATRIX move;
    D3DXMatrixTranslation(&move, 1.0f, 0.0f, 0.0f);
    effect->SetMatrix(effect->GetParameterByName(nullptr, "g_Move"), &move);
    const float tri[] = {-1, -1, 0.5f, -1, 3, 0.5f, 0, -1, 0.5f};  // x <= 0 only
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    device->SetFVF(D3DFVF_XYZ);
    UINT passes = 0;
    effect->Begin(&passes, D3DXFX_DONOTSAVESTATE);
    effect->BeginPass(0);
    const D3DXVECTOR4 green = {0, 1, 0, 1};
    // Values reach the program at the draw, without a commit.
    effect->SetVector(effect->GetParameterByName(nullptr, "g_Colour"), &green);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, 12), D3D_OK);
    effect->EndPass();
    effect->End();
    EXPECT_EQ(Pixel(8, 40), 0x000000u);
    EXPECT_EQ(Pixel(56, 40), 0x00FF00u);
    // The device drops the pair when the effect goes.
    EXPECT_EQ(effect->Release(), 0u);
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
}

// A matrix goes up by the rows that changed since the last draw: each draw
// sees the rows just set together with those kept from before.
TEST_P(EffectPicture, AMatrixChangedInSomeRowsDrawsWithAllOfThem) {
    ID3DXEffect* effect = Managed(Create(kMoved));
    ASSERT_NE(effect, nullptr);
    D3DXHANDLE h = effect->GetParameterByName(nullptr, "g_Move");
    const float tri[] = {-1, -1, 0.5f, -1, 3, 0.5f, 0, -1, 0.5f};  // x <= 0 only
    auto draw = [&](const D3DXMATRIX& m) {
        effect->SetMatrix(h, &m);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
        device->SetFVF(D3DFVF_XYZ);
        UINT passes = 0;
        effect->Begin(&passes, D3DXFX_DONOTSAVESTATE);
        effect->BeginPass(0);
        EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, 12), D3D_OK);
        effect->EndPass();
        effect->End();
    };
    struct Step {
        const char* what;
        int row;  // the row changed from the step before
        float values[4];
        bool right;  // the triangle lands in the right half
    } steps[] = {
        {"moved right", 3, {1, 0, 0, 1}, true},
        {"the translation row alone back to none", 3, {0, 0, 0, 1}, false},
        {"the first row alone mirrors x", 0, {-1, 0, 0, 0}, true},
        {"then the translation row alone moves it back left", 3, {-1, 0, 0, 1}, false},
    };
    D3DXMATRIX m;
    D3DXMatrixIdentity(&m);
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        for (int c = 0; c < 4; ++c) m.m[s.row][c] = s.values[c];
        draw(m);
        EXPECT_EQ(Pixel(8, 40), s.right ? 0x000000u : 0xFF0000u);
        EXPECT_EQ(Pixel(56, 40), s.right ? 0xFF0000u : 0x000000u);
    }
    EXPECT_EQ(effect->Release(), 0u);
    device->SetVertexShader(nullptr);
    device->SetPixelShader(nullptr);
}

TEST_P(EffectPicture, StandardLightingDrawsAPlainLitTriangle) {
    ID3DXEffect* effect = LoadShipped("standard_lighting");
    ASSERT_NE(effect, nullptr);
    IDirect3DTexture9* white = OneTexel(0xFFFFFFFF);
    ASSERT_NE(white, nullptr);
    auto p = [&](const char* name) { return effect->GetParameterByName(nullptr, name); };
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    for (const char* m : {"g_mWorld", "g_mWorldIT", "g_mWorldViewProjection", "g_mViewInverse"})
        effect->SetMatrix(p(m), &identity);
    const D3DXVECTOR4 towardsViewer = {0, 0, -1, 0}, red = {1, 0, 0, 0};
    effect->SetVector(p("LightDir_Dir0"), &towardsViewer);
    effect->SetVector(p("LightDir_Color0"), &red);
    effect->SetTexture(p("t_DiffuseTexture"), white);
    IDirect3DVertexDeclaration9* declaration = nullptr;
    ASSERT_EQ(device->CreateVertexDeclaration(S3D_DeclarationElements[1], &declaration), D3D_OK);
    manager->SetVertexDeclaration(declaration);
    // White lit by the red light and the effect's ambient 0.2.
    const uint32_t c = DrawFacingTriangle(effect);
    EXPECT_NEAR(static_cast<int>(c >> 16 & 0xFF), 255, 2);
    EXPECT_NEAR(static_cast<int>(c >> 8 & 0xFF), 51, 2);
    EXPECT_NEAR(static_cast<int>(c & 0xFF), 51, 2);
    effect->Release();
    declaration->Release();
    white->Release();
}

// A part that shows its picture without light looks the same through the
// unlit effect as through the lit effect's light-mapped technique, whatever
// lights shine on it: its texture under the ambient light plus its light map.
TEST_P(EffectPicture, TheUnlitEffectShowsASelfLitPartAsTheLitOneDoes) {
    IDirect3DTexture9* picture = OneTexel(0xFF805030);
    IDirect3DTexture9* lightMap = OneTexel(0xFF304060);
    ASSERT_TRUE(picture && lightMap);
    IDirect3DVertexDeclaration9* declaration = nullptr;
    ASSERT_EQ(device->CreateVertexDeclaration(S3D_DeclarationElements[1], &declaration), D3D_OK);
    manager->SetVertexDeclaration(declaration);
    auto draw = [&](ID3DXEffect* effect, const char* technique) {
        auto p = [&](const char* name) { return effect->GetParameterByName(nullptr, name); };
        D3DXMATRIX identity;
        D3DXMatrixIdentity(&identity);
        for (const char* m : {"g_mWorld", "g_mWorldIT", "g_mWorldViewProjection", "g_mViewInverse"})
            if (p(m)) effect->SetMatrix(p(m), &identity);
        // A self-lit material: no diffuse or specular strength; a red light
        // towards the viewer and a point light in front all the same.
        const D3DXVECTOR4 towardsViewer = {0, 0, -1, 0}, red = {1, 0, 0, 0};
        if (p("LightDir_Dir0")) effect->SetVector(p("LightDir_Dir0"), &towardsViewer);
        if (p("LightDir_Color0")) effect->SetVector(p("LightDir_Color0"), &red);
        if (p("g_nNumLightPoint")) {
            effect->SetInt(p("g_nNumLightPoint"), 1);
            D3DXHANDLE light = effect->GetParameterElement(p("g_LightPoint"), 0);
            const D3DXVECTOR4 at = {0, 0, -1, 1}, white = {1, 1, 1, 1}, atten = {1, 0, 0, 0};
            effect->SetVector(effect->GetParameterByName(light, "position"), &at);
            effect->SetVector(effect->GetParameterByName(light, "color"), &white);
            effect->SetVector(effect->GetParameterByName(light, "atten"), &atten);
        }
        if (p("g_MatDiffuseStrength")) effect->SetFloat(p("g_MatDiffuseStrength"), 0.0f);
        effect->SetTexture(p("t_DiffuseTexture"), picture);
        effect->SetTexture(p("t_LightMapTexture"), lightMap);
        effect->SetTechnique(effect->GetTechniqueByName(technique));
        return DrawFacingTriangle(effect);
    };
    ID3DXEffect* lit = LoadShipped("standard_lighting");
    ID3DXEffect* unlit = LoadShipped("unlit");
    ASSERT_TRUE(lit && unlit);
    const uint32_t expected = draw(lit, "BUMPMAP_LOW");
    const uint32_t drawn = draw(unlit, "DEFAULT");
    // 0x80 * 0.2 + 0x30 and so on.
    EXPECT_NEAR(static_cast<int>(expected >> 16 & 0xFF), 0x80 / 5 + 0x30, 2);
    EXPECT_NEAR(static_cast<int>(expected >> 8 & 0xFF), 0x50 / 5 + 0x40, 2);
    EXPECT_NEAR(static_cast<int>(expected & 0xFF), 0x30 / 5 + 0x60, 2);
    for (int shift : {16, 8, 0})
        EXPECT_NEAR(static_cast<int>(drawn >> shift & 0xFF), static_cast<int>(expected >> shift & 0xFF), 1) << shift;
    lit->Release();
    unlit->Release();
    declaration->Release();
    picture->Release();
    lightMap->Release();
}

// The techniques each shipped effect must have, the safest first.
const std::map<std::string, std::vector<const char*>> kTechniques = {
    {"standard_lighting", {"DEFAULT", "BUMPMAP", "BUMPMAP_LOW"}},
    {"effects", {"DEFAULT", "BUMPMAP_LOW", "INSTANCE", "INSTANCE_BULLETS"}},
    {"z_only", {"Z_Only_Fast", "Z_Only_Alpha"}},
    {"particles", {"BASE_NoLight"}},
    {"bloom", {"DEFAULT"}},
    {"unlit", {"DEFAULT"}},
};

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(EffectGLTest, EveryShippedEffectLinksInBothVariantsInEveryFolder) {
    const char* bin = std::getenv("TREVAN_BINARY_DIR");
    ASSERT_NE(bin, nullptr);
    fs::path game = fs::path(bin) / "demo";
    std::set<std::string> folders;
    int made = 0;
    for (const auto& e : fs::recursive_directory_iterator(game / "shader")) {
        if (e.path().extension() != ".fb") continue;
        std::string stem = e.path().stem().string();  // name_000v
        std::string name = stem.substr(0, stem.size() - 5);
        std::string folder = fs::relative(e.path().parent_path(), game / "shader").string();
        folders.insert(folder);
        ASSERT_TRUE(kTechniques.count(name)) << e.path();
        if (name == "bloom") {
            EXPECT_EQ(folder.rfind("3_0", 0), 0u) << e.path();
        }
        SCOPED_TRACE(e.path().string());
        // The compiled file, and the source with the variant's macros.
        const D3DXMACRO plain[] = {{"VRMENGINE", "true"}, {nullptr, nullptr}};
        const D3DXMACRO twoSided[] = {{"TWOSIDED", "true"}, {"VRMENGINE", "true"}, {nullptr, nullptr}};
        std::string source = ReadFile(game / "shader_src" / folder / (name + ".fx"));
        ASSERT_FALSE(source.empty());
        for (ID3DXEffect* effect :
             {Create(ReadFile(e.path())), Create(source, stem.back() == '1' ? twoSided : plain)}) {
            ASSERT_NE(effect, nullptr);
            ++made;
            D3DXHANDLE first = nullptr;
            effect->FindNextValidTechnique(nullptr, &first);
            EXPECT_EQ(first, effect->GetTechniqueByName(kTechniques.at(name)[0]));
            for (const char* t : kTechniques.at(name)) EXPECT_NE(effect->GetTechniqueByName(t), nullptr) << t;
            if (name == "standard_lighting") {
                D3DXHANDLE light = effect->GetParameterElement(effect->GetParameterByName(nullptr, "g_LightPoint"), 9);
                for (const char* m : {"position", "color", "atten"})
                    EXPECT_NE(effect->GetParameterByName(light, m), nullptr) << m;
                D3DXVECTOR4 ambient{};
                effect->GetVector(effect->GetParameterByName(nullptr, "g_LightAmbientIntensity"), &ambient);
                EXPECT_GT(ambient.x, 0.0f);
            }
            effect->Release();
        }
    }
    const std::set<std::string> expected = {"3_0", "3_0/hue_lights_off", "3_0/hueshift_off", "3_0/v_lights_off",
                                            "1_4", "1_4/hue_lights_off", "1_4/hueshift_off", "1_4/v_lights_off",
                                            "1_1", "1_1/hue_lights_off", "1_1/hueshift_off", "1_1/v_lights_off"};
    EXPECT_EQ(folders, expected);
    EXPECT_EQ(made, 2 * (12 * 5 * 2 + 4 * 2));
}

// A program cache of the test's own: tests in other processes fill the shared
// one at the same time, and their files must not count as this test's.
class OwnProgramCache {
public:
    OwnProgramCache() {
        if (const char* old = std::getenv("XDG_CACHE_HOME")) saved_ = old, hadOld_ = true;
        const char* scratch = std::getenv("TREVAN_TEST_SCRATCH");
        std::string pattern = std::string(scratch ? scratch : "/tmp") + "/programcache-XXXXXX";
        fs::create_directories(fs::path(pattern).parent_path());
        if (mkdtemp(pattern.data())) folder_ = pattern;
        setenv("XDG_CACHE_HOME", folder_.c_str(), 1);
    }
    ~OwnProgramCache() {
        if (hadOld_) setenv("XDG_CACHE_HOME", saved_.c_str(), 1);
        else unsetenv("XDG_CACHE_HOME");
        std::error_code ignored;
        if (!folder_.empty()) fs::remove_all(folder_, ignored);
    }
    OwnProgramCache(const OwnProgramCache&) = delete;
    OwnProgramCache& operator=(const OwnProgramCache&) = delete;

private:
    std::string saved_, folder_;
    bool hadOld_ = false;
};

TEST_F(EffectGLTest, ASecondRunLoadsTheCachedProgramAndASpoiledOneIsCompiled) {
    OwnProgramCache cache;
    // A source no earlier run has linked.
    std::string text = std::string(kMoved) + "glsl fragment Unique { void main() { d3d_FragColor = vec4(" +
                       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000003) +
                       ".0); } }\ntechnique U { pass P { VertexShader = VS; PixelShader = Unique; } }\n";
    fs::path folder = D3D9_ProgramCacheFolder();
    auto files = [&] {
        std::set<fs::path> out;
        if (fs::exists(folder))
            for (const auto& e : fs::directory_iterator(folder)) out.insert(e.path());
        return out;
    };
    std::set<fs::path> before = files();
    D3D9ProgramCacheCounts start = g_D3D9ProgramCache;
    ID3DXEffect* effect = Create(text);
    ASSERT_NE(effect, nullptr);
    effect->Release();
    D3D9ProgramCacheCounts first = g_D3D9ProgramCache;
    EXPECT_EQ(first.compiled - start.compiled + first.loaded - start.loaded, 2);
    ASSERT_GE(first.stored - start.stored, 1) << "the GL driver offers no program binaries";

    effect = Create(text);
    ASSERT_NE(effect, nullptr);
    effect->Release();
    EXPECT_EQ(g_D3D9ProgramCache.loaded - first.loaded, 2);
    EXPECT_EQ(g_D3D9ProgramCache.compiled, first.compiled);

    std::set<fs::path> added;
    for (const auto& p : files())
        if (!before.count(p)) added.insert(p);
    ASSERT_FALSE(added.empty());
    for (const auto& p : added) std::ofstream(p, std::ios::binary | std::ios::trunc) << "spoiled binary";
    D3D9ProgramCacheCounts second = g_D3D9ProgramCache;
    effect = Create(text);
    ASSERT_NE(effect, nullptr);
    effect->Release();
    EXPECT_EQ(g_D3D9ProgramCache.rejected - second.rejected, static_cast<int>(added.size()));
    EXPECT_EQ(g_D3D9ProgramCache.compiled - second.compiled, static_cast<int>(added.size()));
}

// The device's own programs (the built-in draw and the present pass) are made
// at every start: they go through the binary cache like the effects' programs.
TEST_F(EffectGLTest, TheDevicesOwnProgramsComeBackFromTheCacheOnTheNextStart) {
    OwnProgramCache cache;
    struct Vertex {
        float x, y, z, rhw;
        D3DCOLOR colour;
    };
    const Vertex rect[4] = {{0, 0, 0.5f, 1, 0xFF20C040},
                            {kWidth, 0, 0.5f, 1, 0xFF20C040},
                            {0, kHeight, 0.5f, 1, 0xFF20C040},
                            {kWidth, kHeight, 0.5f, 1, 0xFF20C040}};
    auto drawAndPresent = [&] {
        ASSERT_EQ(device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE), D3D_OK);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, rect, sizeof(Vertex)), D3D_OK);
        EXPECT_EQ(Pixel(kWidth / 2, kHeight / 2), 0x20C040u);
        ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    };
    D3D9ProgramCacheCounts start = g_D3D9ProgramCache;
    drawAndPresent();
    D3D9ProgramCacheCounts first = g_D3D9ProgramCache;
    EXPECT_EQ(first.compiled - start.compiled, 2);
    ASSERT_EQ(first.stored - start.stored, 2) << "the GL driver offers no program binaries";

    // The next start: a new device on the same window.
    target->Release();
    target = nullptr;
    ASSERT_EQ(device->Release(), 0u);
    device = nullptr;
    this->MakeDevice();
    ASSERT_FALSE(this->HasFatalFailure());
    drawAndPresent();
    EXPECT_EQ(g_D3D9ProgramCache.loaded - first.loaded, 2);
    EXPECT_EQ(g_D3D9ProgramCache.compiled, first.compiled);
}

}  // namespace
