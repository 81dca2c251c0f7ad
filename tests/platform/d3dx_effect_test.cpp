// Our effect files on the spy device: the preprocessor, the parser, parameters,
// pass states, techniques, annotations, parameter blocks, usage.
#include <cmath>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/d3d9/spy.h"
#include "platform/d3dx/d3dx9.h"
#include "platform/d3dx/preprocess.h"

namespace {

struct PreprocessCase {
    const char* what;
    std::vector<EffectMacro> macros;
    const char* text;
    const char* kept;  // the lines left, blanks dropped, joined by '|'
};

std::string Kept(const std::string& out) {
    std::string joined;
    size_t pos = 0;
    while (pos <= out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(pos, end - pos);
        if (!line.empty()) joined += (joined.empty() ? "" : "|") + line;
        pos = end + 1;
    }
    return joined;
}

TEST(EffectPreprocessor, Variants) {
    const PreprocessCase cases[] = {
        {"ifdef without the macro", {}, "#ifdef BUMP\na\n#else\nb\n#endif", "b"},
        {"ifdef with it", {{"BUMP", "true"}}, "#ifdef BUMP\na\n#else\nb\n#endif", "a"},
        {"if defined with two names", {{"SPEC", "true"}}, "#if defined(BUMP) || defined SPEC\na\n#endif", "a"},
        {"if !defined", {{"BUMP", "true"}}, "#if !defined(BUMP)\na\n#endif\nc", "c"},
        {"elif", {{"LIGHT", "true"}}, "#if defined(BUMP)\na\n#elif defined(LIGHT)\nb\n#else\nc\n#endif", "b"},
        {"nested in a dead branch", {{"SPEC", "true"}}, "#ifdef BUMP\n#ifdef SPEC\na\n#endif\n#endif\nz", "z"},
        {"a macro's value by name", {{"TWOSIDED", "true"}}, "#if TWOSIDED\nx = TWOSIDED;\n#endif", "x = true;"},
        {"define in the file", {}, "#define N 4\n#ifdef N\nv[N]\n#endif", "v[4]"},
        {"no replacement inside strings", {{"A", "1"}}, "s = \"A\"; t = A;", "s = \"A\"; t = 1;"},
        {"unknown directives stay", {}, "#pragma x\ny", "#pragma x|y"},
    };
    for (const auto& c : cases) {
        std::string out, error;
        ASSERT_TRUE(FX_Preprocess(c.text, c.macros, &out, &error)) << c.what << ": " << error;
        EXPECT_EQ(Kept(out), c.kept) << c.what;
    }
}

TEST(EffectPreprocessor, Refusals) {
    const std::pair<std::string, const char*> cases[] = {
        {"#include \"x.fxh\"", "line 1: #include is not supported"},
        {"#ifdef A\n", "#if without #endif"},
        {"a\n#endif", "line 2: #endif without #if"},
        {"#if (A\n#endif", "line 1: bad #if expression"},
        {"#ifdef A\n#else\n#else\n#endif", "line 3: #else without #if"},
        {"#if " + std::string(100000, '!') + "A\n#endif", "line 1: bad #if expression"},
    };
    for (const auto& [text, message] : cases) {
        std::string out, error;
        EXPECT_FALSE(FX_Preprocess(text, {}, &out, &error)) << message;
        EXPECT_NE(error.find(message), std::string::npos) << message << " gave " << error;
    }
}

const char* const kEffect = R"(
string COMPILE_DEFINES = "BUMP,SPEC";
float4x4 g_mWorld;
float4 g_Colour = {0.25, 0.5, 0.75, 1};
float g_Alpha = 0.5;
int g_CullMode = 3;
bool g_Blend = true;
int g_OnlyInLit = 2;
struct PointLight { float4 position; float4 color; float4 atten; };
PointLight g_LightPoint[3];
texture t_Diffuse;
sampler s_Diffuse = sampler_state { Texture = <t_Diffuse>; MinFilter = <g_CullMode>; AddressU = 3; };

glsl vertex VS { void main() { gl_Position = d3d_ClipToGL(g_mWorld * a_Position); } }
glsl fragment FS_Flat { void main() { d3d_FragColor = g_Colour; } }
glsl fragment FS_Lit {
    void main() { d3d_FragColor = texture(s_Diffuse, vec2(0.0)) * g_LightPoint[0].color * float(g_OnlyInLit); }
}

technique Flat <int Order = 1;> {
    pass P0 <string RenderColorTarget0 = "t_GlowMap2";> {
        VertexShader = VS;
        PixelShader = FS_Flat;
#ifdef TWOSIDED
        CullMode = 1;
#else
        CullMode = <g_CullMode>;
#endif
        AlphaBlendEnable = <g_Blend>;
        AlphaRef = 90;
    }
}
technique Lit {
    pass P0 { VertexShader = VS; PixelShader = FS_Lit; }
    pass P1 { VertexShader = VS; PixelShader = FS_Flat; ZWriteEnable = false; }
}
)";

class EffectTest : public ::testing::Test {
protected:
    void SetUp() override { spy = new D3D9SpyDevice(); }
    void TearDown() override {
        if (effect) {
            EXPECT_EQ(effect->Release(), 0u);
        }
        EXPECT_EQ(spy->Release(), 0u);
    }
    HRESULT Create(const std::string& text, const D3DXMACRO* macros = nullptr, std::string* errors = nullptr) {
        ID3DXBuffer* buffer = nullptr;
        HRESULT hr = D3DXCreateEffect(spy, text.data(), static_cast<UINT>(text.size()), macros, nullptr, 0, nullptr,
                                      &effect, &buffer);
        if (buffer) {
            if (errors) *errors = static_cast<const char*>(buffer->GetBufferPointer());
            buffer->Release();
        }
        return hr;
    }
    D3DXHANDLE P(const char* name) { return effect->GetParameterByName(nullptr, name); }
    std::vector<std::string> PassCalls(const char* technique, UINT pass) {
        EXPECT_EQ(effect->SetTechnique(effect->GetTechniqueByName(technique)), D3D_OK);
        spy->calls.clear();
        UINT passes = 0;
        EXPECT_EQ(effect->Begin(&passes, D3DXFX_DONOTSAVESTATE), D3D_OK);
        EXPECT_EQ(effect->BeginPass(pass), D3D_OK);
        EXPECT_EQ(effect->EndPass(), D3D_OK);
        EXPECT_EQ(effect->End(), D3D_OK);
        std::vector<std::string> calls;
        for (const auto& c : spy->calls)
            if (c.rfind("SetRenderState", 0) == 0 || c.rfind("SetSamplerState", 0) == 0) calls.push_back(c);
        return calls;
    }

    D3D9SpyDevice* spy = nullptr;
    ID3DXEffect* effect = nullptr;
};

TEST_F(EffectTest, PassStatesFollowParametersAndVariants) {
    ASSERT_EQ(Create(kEffect), D3D_OK);
    EXPECT_EQ(PassCalls("Flat", 0),
              (std::vector<std::string>{"SetRenderState(22,3)", "SetRenderState(27,1)", "SetRenderState(24,90)"}));
    effect->SetInt(P("g_CullMode"), 2);
    effect->SetBool(P("g_Blend"), 0);
    EXPECT_EQ(PassCalls("Flat", 0),
              (std::vector<std::string>{"SetRenderState(22,2)", "SetRenderState(27,0)", "SetRenderState(24,90)"}));
    // The sampler reads its states from parameters too, on its own unit.
    EXPECT_EQ(PassCalls("Lit", 0), (std::vector<std::string>{"SetSamplerState(0,6,2)", "SetSamplerState(0,1,3)"}));
    effect->Release();
    effect = nullptr;

    const D3DXMACRO twoSided[] = {{"TWOSIDED", "true"}, {"VRMENGINE", "true"}, {nullptr, nullptr}};
    ASSERT_EQ(Create(kEffect, twoSided), D3D_OK);
    EXPECT_EQ(PassCalls("Flat", 0)[0], "SetRenderState(22,1)");
}

TEST_F(EffectTest, StateGoesThroughTheStateManagerWhenOneIsSet) {
    ASSERT_EQ(Create(kEffect), D3D_OK);
    D3D9SpyDevice* other = new D3D9SpyDevice();
    struct Forward final : ID3DXEffectStateManager {
        IDirect3DDevice9* d;
        int refs = 1;
        ULONG AddRef() override { return static_cast<ULONG>(++refs); }
        ULONG Release() override { return static_cast<ULONG>(--refs); }
        HRESULT QueryInterface(const GUID&, void**) override { return E_NOINTERFACE; }
        HRESULT SetTransform(D3DTRANSFORMSTATETYPE s, const D3DMATRIX* m) override { return d->SetTransform(s, m); }
        HRESULT SetMaterial(const D3DMATERIAL9* m) override { return d->SetMaterial(m); }
        HRESULT SetLight(DWORD i, const D3DLIGHT9* l) override { return d->SetLight(i, l); }
        HRESULT LightEnable(DWORD i, BOOL e) override { return d->LightEnable(i, e); }
        HRESULT SetRenderState(D3DRENDERSTATETYPE s, DWORD v) override { return d->SetRenderState(s, v); }
        HRESULT SetTexture(DWORD s, IDirect3DBaseTexture9* t) override { return d->SetTexture(s, t); }
        HRESULT SetTextureStageState(DWORD s, D3DTEXTURESTAGESTATETYPE t, DWORD v) override {
            return d->SetTextureStageState(s, t, v);
        }
        HRESULT SetSamplerState(DWORD s, D3DSAMPLERSTATETYPE t, DWORD v) override {
            return d->SetSamplerState(s, t, v);
        }
        HRESULT SetNPatchMode(float n) override { return d->SetNPatchMode(n); }
        HRESULT SetFVF(DWORD f) override { return d->SetFVF(f); }
        HRESULT SetVertexShader(IDirect3DVertexShader9* s) override { return d->SetVertexShader(s); }
        HRESULT SetVertexShaderConstantF(UINT a, const float* v, UINT n) override {
            return d->SetVertexShaderConstantF(a, v, n);
        }
        HRESULT SetVertexShaderConstantI(UINT a, const int* v, UINT n) override {
            return d->SetVertexShaderConstantI(a, v, n);
        }
        HRESULT SetVertexShaderConstantB(UINT a, const BOOL* v, UINT n) override {
            return d->SetVertexShaderConstantB(a, v, n);
        }
        HRESULT SetPixelShader(IDirect3DPixelShader9* s) override { return d->SetPixelShader(s); }
        HRESULT SetPixelShaderConstantF(UINT a, const float* v, UINT n) override {
            return d->SetPixelShaderConstantF(a, v, n);
        }
        HRESULT SetPixelShaderConstantI(UINT a, const int* v, UINT n) override {
            return d->SetPixelShaderConstantI(a, v, n);
        }
        HRESULT SetPixelShaderConstantB(UINT a, const BOOL* v, UINT n) override {
            return d->SetPixelShaderConstantB(a, v, n);
        }
    } manager;
    manager.d = other;
    ASSERT_EQ(effect->SetStateManager(&manager), D3D_OK);
    EXPECT_EQ(manager.refs, 2);
    PassCalls("Lit", 1);
    EXPECT_EQ(spy->calls.size(), 0u);
    EXPECT_EQ(other->Count("SetVertexShader"), 1);
    EXPECT_EQ(other->Count("SetPixelShader"), 1);
    EXPECT_EQ(other->Count("SetRenderState(14,0)"), 1);
    effect->Release();
    effect = nullptr;
    EXPECT_EQ(manager.refs, 1);
    EXPECT_EQ(other->Release(), 0u);
}

TEST_F(EffectTest, ParametersElementsAndConversions) {
    ASSERT_EQ(Create(kEffect), D3D_OK);
    D3DXHANDLE lights = P("g_LightPoint");
    D3DXPARAMETER_DESC desc{};
    ASSERT_EQ(effect->GetParameterDesc(lights, &desc), D3D_OK);
    EXPECT_EQ(desc.Class, D3DXPC_STRUCT);
    EXPECT_EQ(desc.Elements, 3u);
    D3DXHANDLE second = effect->GetParameterElement(lights, 1);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(effect->GetParameterElement(lights, 3), nullptr);
    D3DXHANDLE colour = effect->GetParameterByName(second, "color");
    ASSERT_NE(colour, nullptr);
    const D3DXVECTOR4 red = {1, 0, 0, 0};
    EXPECT_EQ(effect->SetVector(colour, &red), D3D_OK);
    D3DXVECTOR4 back{};
    effect->GetVector(colour, &back);
    EXPECT_EQ(back.x, 1.0f);
    effect->GetVector(effect->GetParameterByName(effect->GetParameterElement(lights, 0), "color"), &back);
    EXPECT_EQ(back.x, 0.0f);

    // Defaults, and the scalar conversions the renderer reads back.
    effect->GetVector(P("g_Colour"), &back);
    EXPECT_EQ(back.y, 0.5f);
    INT i = 0;
    BOOL b = 0;
    float f = 0;
    EXPECT_EQ(effect->SetFloat(P("g_CullMode"), 2.0f), D3D_OK);
    effect->GetInt(P("g_CullMode"), &i);
    EXPECT_EQ(i, 2);
    effect->GetBool(P("g_CullMode"), &b);
    EXPECT_EQ(b, 1);
    effect->SetInt(P("g_Alpha"), 1);
    effect->GetFloat(P("g_Alpha"), &f);
    EXPECT_EQ(f, 1.0f);
    effect->SetInt(P("g_Blend"), 7);
    effect->GetInt(P("g_Blend"), &i);
    EXPECT_EQ(i, 1);
    EXPECT_EQ(effect->SetMatrix(P("g_Colour"), nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(effect->SetInt(P("t_Diffuse"), 1), D3DERR_INVALIDCALL);
    const char* text = nullptr;
    ASSERT_EQ(effect->GetString(P("COMPILE_DEFINES"), &text), D3D_OK);
    EXPECT_STREQ(text, "BUMP,SPEC");

    D3DXMATRIX m{};
    m.m[3][0] = 5.0f;
    EXPECT_EQ(effect->SetMatrix(P("g_mWorld"), &m), D3D_OK);
    D3DXMATRIX got{};
    effect->GetMatrix(P("g_mWorld"), &got);
    EXPECT_EQ(got.m[3][0], 5.0f);
}

// Found by fuzzing: an integer parameter whose initialiser lies beyond the
// integer range was converted from float with undefined behaviour.
TEST_F(EffectTest, IntegersBeyondTheirRangeSaturate) {
    ASSERT_EQ(Create(std::string("int g_Big = 22222222222222222222222;\nint g_Low = -1e30;\nfloat g_Nan;\n") + kEffect),
              D3D_OK);
    INT i = 0;
    effect->GetInt(P("g_Big"), &i);
    EXPECT_EQ(i, INT32_MAX);
    effect->GetInt(P("g_Low"), &i);
    EXPECT_EQ(i, INT32_MIN);
    EXPECT_EQ(effect->SetFloat(P("g_Nan"), std::nanf("")), D3D_OK);
    effect->GetInt(P("g_Nan"), &i);
    EXPECT_EQ(i, 0);
    EXPECT_EQ(effect->SetFloat(P("g_Big"), -3e9f), D3D_OK);
    effect->GetInt(P("g_Big"), &i);
    EXPECT_EQ(i, INT32_MIN);
}

TEST_F(EffectTest, TechniquesAnnotationsAndUsage) {
    ASSERT_EQ(Create(kEffect), D3D_OK);
    D3DXHANDLE flat = effect->GetTechniqueByName("Flat"), lit = effect->GetTechniqueByName("Lit");
    EXPECT_EQ(effect->GetTechniqueByName("BUMPMAP"), nullptr);
    D3DXHANDLE first = nullptr;
    EXPECT_EQ(effect->FindNextValidTechnique(nullptr, &first), D3D_OK);
    EXPECT_EQ(first, flat);
    EXPECT_EQ(effect->GetCurrentTechnique(), flat);
    D3DXHANDLE next = nullptr;
    effect->FindNextValidTechnique(first, &next);
    EXPECT_EQ(next, lit);

    const char* target = nullptr;
    ASSERT_EQ(effect->GetString(effect->GetAnnotationByName(effect->GetPass(flat, 0), "RenderColorTarget0"), &target),
              D3D_OK);
    EXPECT_STREQ(target, "t_GlowMap2");
    EXPECT_EQ(effect->GetAnnotationByName(effect->GetPass(lit, 0), "RenderColorTarget0"), nullptr);
    INT order = 0;
    effect->GetInt(effect->GetAnnotationByName(flat, "Order"), &order);
    EXPECT_EQ(order, 1);

    // Used: named in a pass's stages, or read by a pass state or a sampler it uses.
    struct Use {
        const char* name;
        BOOL inFlat, inLit;
    };
    const Use uses[] = {{"g_Colour", 1, 1},  {"g_OnlyInLit", 0, 1}, {"g_CullMode", 1, 1}, {"g_Blend", 1, 0},
                        {"t_Diffuse", 0, 1}, {"g_Alpha", 0, 0},     {"g_mWorld", 1, 1}};
    for (const auto& u : uses) {
        EXPECT_EQ(effect->IsParameterUsed(P(u.name), flat), u.inFlat) << u.name;
        EXPECT_EQ(effect->IsParameterUsed(P(u.name), lit), u.inLit) << u.name;
    }
    D3DXHANDLE member = effect->GetParameterByName(effect->GetParameterElement(P("g_LightPoint"), 2), "atten");
    EXPECT_EQ(effect->IsParameterUsed(member, lit), 1);
    EXPECT_EQ(effect->IsParameterUsed(member, nullptr), 0);
}

TEST_F(EffectTest, ParameterBlocksRecordAndApply) {
    ASSERT_EQ(Create(kEffect), D3D_OK);
    ASSERT_EQ(effect->BeginParameterBlock(), D3D_OK);
    EXPECT_EQ(effect->BeginParameterBlock(), D3DERR_INVALIDCALL);
    effect->SetInt(P("g_CullMode"), 1);
    effect->SetFloat(P("g_Alpha"), 0.25f);
    D3DXHANDLE block = effect->EndParameterBlock();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(effect->EndParameterBlock(), nullptr);
    effect->SetInt(P("g_CullMode"), 3);
    effect->SetFloat(P("g_Alpha"), 1.0f);
    effect->SetBool(P("g_Blend"), 0);
    ASSERT_EQ(effect->ApplyParameterBlock(block), D3D_OK);
    INT cull = 0;
    float alpha = 0;
    BOOL blend = 1;
    effect->GetInt(P("g_CullMode"), &cull);
    effect->GetFloat(P("g_Alpha"), &alpha);
    effect->GetBool(P("g_Blend"), &blend);
    EXPECT_EQ(cull, 1);
    EXPECT_EQ(alpha, 0.25f);
    EXPECT_EQ(blend, 0);  // not in the block
    EXPECT_EQ(effect->DeleteParameterBlock(block), D3D_OK);
    EXPECT_EQ(effect->ApplyParameterBlock(block), D3DERR_INVALIDCALL);
}

TEST_F(EffectTest, ParseErrorsComeBackAsCompileErrors) {
    const std::pair<std::string, const char*> cases[] = {
        {"float a = 1\ntechnique T { pass P { VertexShader = V; PixelShader = F; } }", "line 2: expected ';'"},
        {"floot a;", "line 1: unknown type"},
        {"glsl vertex V { void main() {}", "stage block not closed"},
        {"glsl vertex V { }\nglsl fragment F { }\ntechnique T { pass P { VertexShader = F; PixelShader = F; } }",
         "line 3: unknown stage"},
        {"glsl vertex V { }\nglsl fragment F { }\ntechnique T { pass P { VertexShader = V; PixelShader = F; Fog = 1; } "
         "}",
         "unknown render state"},
        {"glsl vertex V { }\nglsl fragment F { }\ntechnique T { pass P { VertexShader = V; PixelShader = F; "
         "CullMode = <nothing>; } }",
         "unknown parameter"},
        {"int a;", "no technique"},
        {"struct S { float4x4 m[256]; };\nstruct T { S s[256]; };\nT t[256];", "line 3: too many values"},
        {"#ifdef X\nint a;", "(preprocessor) line 2: #if without #endif"},
    };
    for (const auto& [text, message] : cases) {
        std::string errors;
        EXPECT_LT(Create(text, nullptr, &errors), 0) << text;
        EXPECT_EQ(effect, nullptr);
        EXPECT_NE(errors.find(message), std::string::npos) << text << " gave " << errors;
    }
}

}  // namespace
