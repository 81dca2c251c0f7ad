// SetFXParameter by type and the setters built on it, on the spy device.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "base/fixmath.h"
#include "base/general.h"
#include "platform/d3d9/spy.h"
#include "render/effectparams.h"
#include "render/fxrecords.h"
#include "support/logcapture.h"

namespace {

// The spy device compiles no GLSL: a name counts as used by appearing in a stage.
const char* const kEffect = R"(
int g_Int; bool g_Bool; float g_Float; float2 g_F2; float4 g_F3 = {9, 9, 9, 9}; float4 g_F4;
float4x4 g_M3 = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}; float4x4 g_M4; string g_Text = "old";
float4x4 g_TexMatrix; float4 g_MatEmissiveColor = {9, 9, 9, 9}; float g_Other; texture t_Tex;
int g_Unused;
glsl vertex V { void main() { gl_Position = vec4(g_Int, g_Bool, g_Float, g_F2.x) + g_F3 + g_F4 + g_M3[0] + g_M4[0]
    + g_TexMatrix[0] + g_MatEmissiveColor + vec4(g_Other, g_Text, t_Tex, 0); } }
glsl fragment F { void main() { d3d_FragColor = vec4(0.0); } }
glsl fragment G { void main() { d3d_FragColor = vec4(g_Unused); } }
technique T { pass P { VertexShader = V; PixelShader = F; } }
technique U { pass P { VertexShader = V; PixelShader = G; } }
)";

class EffectParamTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved = g_SystemState;
        system.debugFlags = 0x200000;
        g_SystemState = &system;
        spy = new D3D9SpyDevice();
        ASSERT_EQ(D3DXCreateEffect(spy, kEffect, static_cast<UINT>(std::strlen(kEffect)), nullptr, nullptr, 0, nullptr,
                                   &effect, nullptr),
                  D3D_OK);
    }
    void TearDown() override {
        if (effect) effect->Release();
        EXPECT_EQ(spy->Release(), 0u);
        g_SystemState = saved;
    }
    D3DXVECTOR4 Vector(const char* name) {
        D3DXVECTOR4 v{};
        effect->GetVector(effect->GetParameterByName(nullptr, name), &v);
        return v;
    }
    D3DXMATRIX Matrix(const char* name) {
        D3DXMATRIX m{};
        effect->GetMatrix(effect->GetParameterByName(nullptr, name), &m);
        return m;
    }

    SystemState system{};
    SystemState* saved = nullptr;
    D3D9SpyDevice* spy = nullptr;
    ID3DXEffect* effect = nullptr;
};

FXParameter Param(const char* name, uint16_t type) {
    FXParameter p;
    std::memset(&p, 0, sizeof p);
    p.name = const_cast<char*>(name);
    p.type = type;
    return p;
}

TEST_F(EffectParamTest, ByType) {
    struct Case {
        const char* name;
        uint16_t type;
        std::function<void(FXParameter&)> fill;
        std::function<void()> check;
    };
    const Case cases[] = {
        {"g_Int", SPTYPE_LONG, [](auto& p) { p.value.i[0] = -7; },
         [&] {
             INT i = 0;
             effect->GetInt(effect->GetParameterByName(nullptr, "g_Int"), &i);
             EXPECT_EQ(i, -7);
         }},
        {"g_Bool", SPTYPE_BOOL, [](auto& p) { p.value.i[0] = 1; },
         [&] {
             BOOL b = 0;
             effect->GetBool(effect->GetParameterByName(nullptr, "g_Bool"), &b);
             EXPECT_EQ(b, 1);
         }},
        {"g_Float", SPTYPE_FLOAT, [](auto& p) { p.value.f[0] = 0.5f; },
         [&] {
             float f = 0;
             effect->GetFloat(effect->GetParameterByName(nullptr, "g_Float"), &f);
             EXPECT_EQ(f, 0.5f);
         }},
        {"g_F3", SPTYPE_FLOAT3, [](auto& p) { p.value.f[0] = 1, p.value.f[1] = 2, p.value.f[2] = 3, p.value.f[3] = 4; },
         [&] {
             D3DXVECTOR4 v = Vector("g_F3");
             EXPECT_EQ(v.z, 3.0f);
             EXPECT_EQ(v.w, 0.0f);  // the missing component is 0
         }},
        {"g_F4", SPTYPE_FLOAT4, [](auto& p) { p.value.f[3] = 4; }, [&] { EXPECT_EQ(Vector("g_F4").w, 4.0f); }},
        {"g_M3", SPTYPE_MATRIX3,
         [](auto& p) { p.value.i[0] = p.value.i[5] = p.value.i[10] = 0x10000, p.value.i[15] = 0x10000; },
         [&] {
             D3DXMATRIX m = Matrix("g_M3");
             EXPECT_EQ(m.m[0][0], 1.0f);
             EXPECT_EQ(m.m[2][2], 1.0f);
             EXPECT_EQ(m.m[3][3], 0.0f);  // fourth row and column all 0
             EXPECT_EQ(m.m[0][3], 0.0f);
         }},
        {"g_M4", SPTYPE_MATRIX4, [](auto& p) { p.value.i[15] = 0x18000, p.value.i[12] = -0x10000; },
         [&] {
             D3DXMATRIX m = Matrix("g_M4");
             EXPECT_EQ(m.m[3][3], 1.5f);
             EXPECT_EQ(m.m[3][0], -1.0f);
         }},
        {"g_Text", SPTYPE_STRING, [](auto& p) { p.value.text = const_cast<char*>("new"); },
         [&] {
             const char* s = nullptr;
             effect->GetString(effect->GetParameterByName(nullptr, "g_Text"), &s);
             EXPECT_STREQ(s, "new");
         }},
    };
    for (const auto& c : cases) {
        FXParameter p = Param(c.name, c.type);
        c.fill(p);
        EXPECT_EQ(SetFXParameter(effect, "fx", &p), 1) << c.name;
        c.check();
    }
}

TEST_F(EffectParamTest, SkipsAndFailures) {
    struct Case {
        const char* name;
        uint16_t type;
        const char* line;
    };
    const Case cases[] = {
        {"g_Wrap", SPTYPE_LONG, "SetFXParameter() Parameter g_Wrap not found in Shader fx\n"},
        {"g_Unused", SPTYPE_LONG, "SetFXParameter() Parameter g_Unused not used, skipping in Shader fx\n"},
        {"g_Int", 9, "Invalid shader parameter type 9 in shader fx\n"},
        {"t_Tex", SPTYPE_LONG, "Error setting parameter t_Tex in shader fx\n"},
    };
    for (const auto& c : cases) {
        LogCapture log;
        FXParameter p = Param(c.name, c.type);
        spy->calls.clear();
        EXPECT_EQ(SetFXParameter(effect, "fx", &p), 0) << c.name;
        EXPECT_TRUE(log.Contains(c.line)) << log.Text();
        EXPECT_TRUE(spy->calls.empty());
    }
    // Used in the other technique only: set once that one is current.
    effect->SetTechnique(effect->GetTechniqueByName("U"));
    EXPECT_EQ(S_3DSetIntParam(effect, "fx", "g_Unused", 2), 1);
}

TEST_F(EffectParamTest, TheSixSetters) {
    QelMatrix r{};
    for (int i = 0; i < 12; ++i) r.m[i] = (i + 1) * 0x10000;
    EXPECT_EQ(S_3DSetTexMatrix(effect, "fx", &r), 1);
    D3DXMATRIX m = Matrix("g_TexMatrix");
    EXPECT_EQ(m.m[0][0], 1.0f);
    EXPECT_EQ(m.m[2][2], 11.0f);
    EXPECT_EQ(m.m[0][3], 0.0f);  // the fourth word of each row is not used
    EXPECT_EQ(S_3DSetTexMatrixIdentity(effect, "fx"), 1);
    m = Matrix("g_TexMatrix");
    EXPECT_EQ(m.m[1][1], 1.0f);
    EXPECT_EQ(m.m[2][0], 0.0f);
    EXPECT_EQ(m.m[3][3], 0.0f);
    EXPECT_EQ(S_3DSetEmissiveColor4(effect, "fx", 0.1f, 0.2f, 0.3f, 0.4f), 1);
    EXPECT_EQ(Vector("g_MatEmissiveColor").w, 0.4f);
    EXPECT_EQ(S_3DSetEmissiveColor3(effect, "fx", 0.5f, 0.6f, 0.7f), 1);
    EXPECT_EQ(Vector("g_MatEmissiveColor").x, 0.5f);
    EXPECT_EQ(Vector("g_MatEmissiveColor").w, 0.0f);
    EXPECT_EQ(S_3DSetFloatParam(effect, "fx", "g_Other", 2.5f), 1);
    EXPECT_EQ(S_3DSetIntParam(effect, "fx", "g_Int", 3), 1);
    INT i = 0;
    effect->GetInt(effect->GetParameterByName(nullptr, "g_Int"), &i);
    EXPECT_EQ(i, 3);
}

}  // namespace
