// The effect cache and loaders over catalog members and disk files, on the spy
// device: which file serves which variant, the failure lines, the state manager.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/d3d9/spy.h"
#include "render/effects.h"
#include "render/targets.h"
#include "render/statemanager.h"
#include "render/spy_effect.h"
#include "scene/state.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "system/adapters.h"
#include "system/video.h"

namespace {

// An effect whose g_From tells which file made it and g_Variant which macros it saw.
std::string EffectText(int from, const char* extra = "") {
    return std::string("string COMPILE_DEFINES = \"BUMP,SPEC;LIGHT\";\n") + "int g_From = " + std::to_string(from) +
           ";\n"
           "#if defined(TWOSIDED) && defined(VRMENGINE)\nint g_Variant = 1;\n#elif defined(VRMENGINE)\n"
           "int g_Variant = 0;\n#else\nint g_Variant = 9;\n#endif\n" +
           extra +
           "glsl vertex V { void main() { gl_Position = d3d_ClipToGL(a_Position * float(g_From)); } }\n"
           "glsl fragment F { void main() { d3d_FragColor = vec4(g_Variant); } }\n"
           "technique DEFAULT { pass P { VertexShader = V; PixelShader = F; } }\n";
}
// What fxbake writes for a variant: the source with the macros applied.
std::string Baked(int from, bool twoSided) {
    return std::string("int g_From = ") + std::to_string(from) + ";\nint g_Variant = " + (twoSided ? "1" : "0") +
           ";\n"
           "glsl vertex V { void main() { gl_Position = d3d_ClipToGL(a_Position * float(g_From)); } }\n"
           "glsl fragment F { void main() { d3d_FragColor = vec4(g_Variant); } }\n"
           "technique DEFAULT { pass P { VertexShader = V; PixelShader = F; } }\n";
}

class ShaderLoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        spy = new D3D9SpyDevice();
        manager = S_3DCreateStateManager(spy);
        std::snprintf(record.shaderFolder, sizeof record.shaderFolder, "3_0");
        record.device = spy;
        renderer.device = &record;
        renderer.stateManager = manager;
        savedRenderer = g_RendererState;
        g_RendererState = &renderer;
    }
    void Start(const std::vector<std::pair<std::string, std::string>>& members) {
        if (!members.empty()) game.WriteCatalog("01.cat", Members(members));
        session = std::make_unique<GeneralSession>();
        ASSERT_NE(session->State(), nullptr);
        savedScene = g_B3DState;
        g_B3DState = B3D_InitStore();
        ASSERT_NE(g_B3DState, nullptr);
    }
    void TearDown() override {
        if (g_B3DState && g_B3DState != savedScene) {
            for (const char* name : names)
                if (B3DNamedEntry* e = B3D_FindEffectByName(name)) {
                    S_3DFreeShaderDefinition(e);
                    B3D_FreeNamedEntry(e);
                }
            B3D_FreeStore();
            g_B3DState = savedScene;
        }
        session.reset();
        g_RendererState = savedRenderer;
        EXPECT_EQ(manager->Release(), 0u);
        EXPECT_EQ(spy->Release(), 0u);
    }
    static int Int(ID3DXEffect* e, const char* name) {
        INT v = -1;
        e->GetInt(e->GetParameterByName(nullptr, name), &v);
        return v;
    }

    TempGameFolder game;
    std::unique_ptr<GeneralSession> session;
    D3D9SpyDevice* spy = nullptr;
    CStateManagerInterface* manager = nullptr;
    D3DDeviceRecord record{};
    RendererState renderer{};
    RendererState* savedRenderer = nullptr;
    B3DState* savedScene = nullptr;
    std::vector<const char*> names = {"fx", "glass.fx", "LENS.FX", "missing", "bad"};
};

struct LoadCase {
    const char* what;
    std::vector<std::pair<std::string, std::string>> members;
    int variant;
    int from0, from1;  // g_From of the effects in slots 0 and 1 afterwards, -1 none
    uint32_t defines;
    std::vector<const char*> lines;
};

TEST_F(ShaderLoaderTest, WhichFileServesWhichVariant) {
    const std::string bin0 = "shader\\3_0\\fx_0000.fb", bin1 = "shader\\3_0\\fx_0001.fb",
                      src = "shader_src\\3_0\\fx.fx";
    const LoadCase cases[] = {
        {"compiled files first",
         {{bin0, Baked(1, false)}, {bin1, Baked(1, true)}, {src, EffectText(2)}},
         0,
         1,
         -1,
         0,
         {"Loaded binary fx shader shader\\3_0\\fx_0000.fb[0000]\n"}},
        {"variant 1 from source compiles variant 0 first",
         {{src, EffectText(2)}},
         1,
         2,
         2,
         0x1A,
         {"Loaded source fx shader shader_src\\3_0\\fx.fx\n",
          "Loaded source fx shader shader_src\\3_0\\fx.fx[0001]\n"}},
        {"a compiled variant 0 only: variant 1 from source",
         {{bin0, Baked(1, false)}, {src, EffectText(2)}},
         1,
         2,
         2,
         0x1A,
         {"Loaded source fx shader shader_src\\3_0\\fx.fx[0001]\n"}},
        {"a rejected .fb falls back to source",
         {{bin0, "not an effect"}, {src, EffectText(2)}},
         0,
         2,
         -1,
         0x1A,
         {"Loaded source fx shader shader_src\\3_0\\fx.fx\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        Start(c.members);
        LogCapture log;
        SysShaderDefinition* d = S_3DGetShader("fx", c.variant);
        ASSERT_NE(d, nullptr);
        EXPECT_STREQ(d->name, "fx");
        for (int v = 0; v < 2; ++v) {
            int want = v == 0 ? c.from0 : c.from1;
            if (want < 0) {
                EXPECT_EQ(d->effect[v], nullptr);
                continue;
            }
            ASSERT_NE(d->effect[v], nullptr);
            EXPECT_EQ(Int(d->effect[v], "g_From"), want);
            EXPECT_EQ(Int(d->effect[v], "g_Variant"), v);
            ID3DXEffectStateManager* m = nullptr;
            d->effect[v]->GetStateManager(&m);
            EXPECT_EQ(m, manager);
            if (m) m->Release();
        }
        EXPECT_EQ(d->supportedDefines, c.defines);
        for (const char* line : c.lines) EXPECT_TRUE(log.Contains(line)) << line << "\n" << log.Text();
    }
}

TEST_F(ShaderLoaderTest, AHitTouchesNoFileAndVariantOneKeepsVariantZero) {
    Start({});
    game.Write("shader_src/3_0/fx.fx", EffectText(2));
    SysShaderDefinition* d = S_3DGetShader("fx", 0);
    ASSERT_NE(d, nullptr);
    ID3DXEffect* first = d->effect[0];
    std::remove("shader_src/3_0/fx.fx");
    LogCapture log;
    EXPECT_EQ(S_3DGetShader("fx", 0), d);
    EXPECT_EQ(log.Text(), "");
    game.Write("shader_src/3_0/fx.fx", EffectText(3));
    EXPECT_EQ(S_3DGetShader("fx", 1), d);
    EXPECT_EQ(d->effect[0], first);
    EXPECT_EQ(Int(d->effect[1], "g_From"), 3);
}

TEST_F(ShaderLoaderTest, ANameEndingInFxIsNotDoubled) {
    Start({{"shader_src\\3_0\\glass.fx", EffectText(2)}, {"shader_src\\3_0\\lens.fx", EffectText(3)}});
    LogCapture log;
    SysShaderDefinition* glass = S_3DGetShader("glass.fx", 0);
    ASSERT_NE(glass, nullptr);
    EXPECT_TRUE(log.Contains("Loaded source fx shader shader_src\\3_0\\glass.fx\n")) << log.Text();
    // One entry for both spellings.
    EXPECT_EQ(S_3DGetShader("GLASS.FX", 0), glass);
    log.Take();
    EXPECT_NE(S_3DGetShader("LENS.FX", 0), nullptr);
    EXPECT_TRUE(log.Contains("Loaded source fx shader shader_src\\3_0\\LENS.FX\n")) << log.Text();
}

TEST_F(ShaderLoaderTest, FailureLines) {
    Start({{"shader_src\\3_0\\bad.fx", "int a = ;"}});
    LogCapture log;
    EXPECT_EQ(S_3DGetShader("missing", 0), nullptr);
    EXPECT_TRUE(log.Contains("Can't compile FX shader_src\\3_0\\missing.fx:\n")) << log.Text();
    EXPECT_TRUE(log.Contains("S_3DLoadShader() Unable to load shader missing [0]\n"));
    EXPECT_EQ(B3D_FindEffectByName("missing"), nullptr);
    log.Take();
    EXPECT_EQ(S_3DGetShader("bad", 1), nullptr);
    EXPECT_TRUE(log.Contains("Can't compile FX shader_src\\3_0\\bad.fx:\nline 1: expected a value near ';'\n"))
        << log.Text();
    EXPECT_TRUE(log.Contains("S_3DLoadShader() Unable to load shader bad [1]\n"));
    EXPECT_EQ(B3D_FindEffectByName("bad"), nullptr);
}

TEST_F(ShaderLoaderTest, AFailedVariantOneKeepsTheDefinitionWithVariantZero) {
    Start({{"shader_src\\3_0\\fx.fx", EffectText(2, "#ifdef TWOSIDED\nint broken = ;\n#endif\n")}});
    SysShaderDefinition* d = S_3DGetShader("fx", 0);
    ASSERT_NE(d, nullptr);
    LogCapture log;
    EXPECT_EQ(S_3DGetShader("fx", 1), nullptr);
    EXPECT_TRUE(log.Contains("Can't compile FX shader_src\\3_0\\fx.fx[0001]:\nline 11: expected a value near ';'\n"))
        << log.Text();
    B3DNamedEntry* entry = B3D_FindEffectByName("fx");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->definition, d);
    EXPECT_NE(d->effect[0], nullptr);
    EXPECT_EQ(d->effect[1], nullptr);
    EXPECT_EQ(S_3DGetShader("fx", 0), d);
}

TEST_F(ShaderLoaderTest, BeforeAResetEveryLoadedEffectHearsTheDeviceIsLost) {
    Start({{"shader_src\\3_0\\fx.fx", EffectText(2)}, {"shader_src\\3_0\\glass.fx", EffectText(3)}});
    SysShaderDefinition* both = S_3DGetShader("fx", 1);
    SysShaderDefinition* second = S_3DGetShader("glass.fx", 1);
    ASSERT_NE(both, nullptr);
    ASSERT_NE(second, nullptr);
    // The effects, watched; the second definition without its variant 0.
    std::vector<SpyEffect*> spies;
    for (ID3DXEffect*& e : both->effect) spies.push_back(static_cast<SpyEffect*>(e = new SpyEffect(e)));
    second->effect[1] = new SpyEffect(second->effect[1]);
    spies.push_back(static_cast<SpyEffect*>(second->effect[1]));
    second->effect[0]->Release();
    second->effect[0] = nullptr;
    S_3DReleaseDeviceObjects();  // what the system layer does before the reset
    EXPECT_EQ(spies[0]->calls, std::vector<std::string>{"OnLostDevice"});
    EXPECT_EQ(spies[1]->calls, std::vector<std::string>{"OnLostDevice"});
    EXPECT_TRUE(spies[2]->calls.empty()) << "told in variant order up to the first missing one";
}

TEST(ShaderDefines, CompileDefinesTokens) {
    const std::pair<const char*, uint32_t> cases[] = {
        {"BUMP,SPEC;LIGHT", 0x1A},
        {"bump", 0x10},
        {"TWOSIDED;DETAIL_MAP", 0x101},
        {"BUMP,,SPEC;", 0x12},
        {"", 0},
        {"T", 0x41},  // a beginning matches TWOSIDED and TEX2
        {"NOPE", 0},
    };
    for (const auto& [text, mask] : cases) EXPECT_EQ(S_3DParseCompileDefines(text), mask) << text;
    EXPECT_EQ(S_3DParseCompileDefines(nullptr), 0u);
}

}  // namespace

namespace {

TEST_F(ShaderLoaderTest, AnEffectWithoutTheStateManagerIsUsedAllTheSame) {
    renderer.stateManager = nullptr;
    Start({{"shader\\3_0\\fx_0000.fb", Baked(1, false)}, {"shader_src\\3_0\\fx.fx", EffectText(2)}});
    LogCapture log;
    // Variant 0 from the compiled file, variant 1 from source: each loader reports it.
    ASSERT_NE(S_3DGetShader("fx", 0), nullptr);
    ASSERT_NE(S_3DGetShader("fx", 1), nullptr);
    const std::string line = "ERROR: Failed to set StateManager!\n";
    size_t first = log.Text().find(line);
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(log.Text().find(line, first + 1), std::string::npos) << log.Text();
}

}  // namespace
