// The bloom post-process on GL: off leaves the back buffer alone, every pass
// draws into the target its annotation names, the depth-stencil surface comes
// back on every way out, and the shipped chain's picture.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gl_renderer_fixture.h"
#include "render/postprocess.h"
#include "support/golden_image.h"
#include "support/logcapture.h"

namespace {

// Glow map 1 red; glow map 2 the scene copy; the back buffer: glow map 1 on
// the left half, glow map 2 on the right.
const char* const kRouting = R"(
texture t_SceneMap;
texture t_GlowMap1;
texture t_GlowMap2;
float4 ViewPortSize;
sampler s_Scene = sampler_state { Texture = <t_SceneMap>; MinFilter = 1; MagFilter = 1; };
sampler s_Glow1 = sampler_state { Texture = <t_GlowMap1>; MinFilter = 1; MagFilter = 1; };
sampler s_Glow2 = sampler_state { Texture = <t_GlowMap2>; MinFilter = 1; MagFilter = 1; };
glsl vertex VS { out vec2 v_Tex; void main() { gl_Position = d3d_ClipToGL(a_Position); v_Tex = a_TexCoord0.xy; } }
glsl fragment Red { in vec2 v_Tex; void main() { d3d_FragColor = vec4(1.0, 0.0, 0.0, 1.0); } }
glsl fragment Copy { in vec2 v_Tex; void main() { d3d_FragColor = texture(s_Scene, v_Tex); } }
glsl fragment Show {
    in vec2 v_Tex;
    void main() { d3d_FragColor = v_Tex.x < 0.5 ? texture(s_Glow1, v_Tex) : texture(s_Glow2, v_Tex); }
}
technique DEFAULT {
    pass A <string RenderColorTarget0 = "t_GlowMap1";> {
        VertexShader = VS; PixelShader = Red; ZEnable = 0; CullMode = 1; AlphaBlendEnable = 0; ColorWriteEnable = 15;
    }
    pass B <string RenderColorTarget0 = "t_GlowMap2";> { VertexShader = VS; PixelShader = Copy; }
    pass C { VertexShader = VS; PixelShader = Show; }
}
)";

std::string Renamed() {
    std::string text = kRouting;
    text.replace(text.find("technique DEFAULT"), 17, "technique OTHER");
    return text;
}

class BloomTest : public GLRendererTest {
protected:
    void SetUp() override {
        GLRendererTest::SetUp();
        S_3DInitPostProcessFX();
        session->State()->VideoD3DFlags2 |= S3D_OPTION_BLOOM;
    }
    void Reload(const std::string& text) {
        if (B3DNamedEntry* e = B3D_FindEffectByName("bloom")) {
            S_3DFreeShaderDefinition(e);
            B3D_FreeNamedEntry(e);
        }
        game.Write("shader_src/3_0/bloom.fx", text);
    }
};
INSTANTIATE_FOR_BOTH_STATE_MANAGERS(BloomTest);

TEST_P(BloomTest, OffLeavesTheBackBufferUntouched) {
    game.Write("shader_src/3_0/bloom.fx", kRouting);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF336699, 1.0f, 0);
    session->State()->VideoD3DFlags2 &= ~S3D_OPTION_BLOOM;
    S_3DRenderPostProcessFX();
    EXPECT_EQ(Pixel(10, 10), 0x336699u);
    EXPECT_EQ(Pixel(50, 50), 0x336699u);
    EXPECT_EQ(B3D_FindEffectByName("bloom"), nullptr);  // not even loaded
}

TEST_P(BloomTest, PassesDrawIntoTheTargetsTheirAnnotationsName) {
    game.Write("shader_src/3_0/bloom.fx", kRouting);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFF00, 1.0f, 0);
    S_3DRenderPostProcessFX();
    EXPECT_EQ(Pixel(10, 32), 0xFF0000u);  // glow map 1, written by pass A
    EXPECT_EQ(Pixel(54, 32), 0xFFFF00u);  // glow map 2: pass B's copy of the scene
    ID3DXEffect* e = S_3DGetShader("bloom", 0)->effect[0];
    D3DXVECTOR4 size{};
    e->GetVector(e->GetParameterByName(nullptr, "ViewPortSize"), &size);
    EXPECT_EQ(size.x, 64.0f);
    EXPECT_EQ(size.y, 64.0f);
    EXPECT_EQ(CurrentTarget(), target);
    EXPECT_EQ(CurrentDepth(), depth);
}

TEST_P(BloomTest, TheDepthStencilSurfaceComesBackOnEveryExit) {
    struct Case {
        const char* what;
        std::string effect;
        const char* line;
    } cases[] = {
        {"drawn", kRouting, "INFO\t: Redering Postprocess Effects S_3DRenderPostProcessFX()\n"},
        // Without "DEFAULT" the first valid technique draws.
        {"another technique", Renamed(), "INFO\t: Redering Postprocess Effects S_3DRenderPostProcessFX()\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reload(c.effect);
        LogCapture log;
        S_3DRenderPostProcessFX();
        EXPECT_TRUE(log.Contains(c.line)) << log.Text();
        EXPECT_EQ(Pixel(10, 32), 0xFF0000u);
        EXPECT_EQ(CurrentDepth(), depth);
        EXPECT_EQ(CurrentTarget(), target);
    }
    Reload(kRouting);
    // The copy fails when the back buffer cannot be stretched into the scene
    // texture (a multisampled surface of another size).
    IDirect3DSurface9* odd = nullptr;
    ASSERT_EQ(device->CreateRenderTarget(32, 32, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_4_SAMPLES, 0, 0, &odd, nullptr),
              D3D_OK);
    device->SetRenderTarget(0, odd);
    LogCapture log;
    S_3DRenderPostProcessFX();
    EXPECT_TRUE(log.Contains("ERROR: S_3DRenderPostProcessFX() StretchRect failed!\n")) << log.Text();
    EXPECT_EQ(CurrentDepth(), depth);
    EXPECT_EQ(CurrentTarget(), odd);
    device->SetRenderTarget(0, target);
    odd->Release();
    // Missing targets: nothing is touched.
    S_3DClose();
    ASSERT_EQ(S_3DAllocMatrices(), 1);
    LogCapture none;
    S_3DRenderPostProcessFX();
    EXPECT_TRUE(none.Contains("Error\t: No RTT S_3DRenderPostProcessFX()\n")) << none.Text();
    EXPECT_EQ(CurrentDepth(), depth);
}

// An effect freed and another made at its address (a device closed and
// opened again): the second chain draws with handles of its own.
TEST_P(BloomTest, AnEffectMadeWhereAFreedOneLayDrawsItsOwnChain) {
    ASSERT_EQ(LoadAt("bloom", kRouting), static_cast<void*>(effectRoom.bytes));
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFF00, 1.0f, 0);
    S_3DRenderPostProcessFX();
    EXPECT_EQ(Pixel(10, 32), 0xFF0000u);
    EXPECT_EQ(Pixel(54, 32), 0xFFFF00u);
    // The same chain in green, behind a parameter and a technique of its own.
    std::string relaid = "float g_First = 1.0;\n" + std::string(kRouting);
    relaid.replace(relaid.find("vec4(1.0, 0.0, 0.0, 1.0)"), 24, "vec4(0.0, 1.0, 0.0, 1.0)");
    relaid.replace(relaid.find("technique DEFAULT"), 0,
                   "technique FIRST { pass P { VertexShader = VS; PixelShader = Red; } }\n");
    ASSERT_EQ(LoadAt("bloom", relaid), static_cast<void*>(effectRoom.bytes));
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
    S_3DRenderPostProcessFX();
    EXPECT_EQ(Pixel(10, 32), 0x00FF00u);  // glow map 1, written by the new pass A
    EXPECT_EQ(Pixel(54, 32), 0x0000FFu);  // glow map 2: the copy of the new scene
    EXPECT_EQ(CurrentTarget(), target);
    EXPECT_EQ(CurrentDepth(), depth);
}

TEST_P(BloomTest, TheShippedChainGlowsAroundTheMask) {
    game.Write("shader_src/3_0/bloom.fx", ShippedEffect("bloom.fx"));
    // A dark scene: a glowing white square (alpha 1) and a red one that does not glow.
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x00101820, 1.0f, 0);
    const RECT glow{12, 12, 28, 28}, plain{38, 36, 54, 52};
    device->ColorFill(target, &glow, 0xFFFFFFFF);
    device->ColorFill(target, &plain, 0x00E02020);
    S_3DRenderPostProcessFX();
    const std::vector<uint32_t> picture = Picture(target);
    const std::string diff = GoldenCompare("tests/render/golden/bloom_chain.png", kSize, kSize, picture);
    EXPECT_EQ(diff, "");
    // The glow spills past the white square; the red one does not spread.
    EXPECT_GT(picture[20 * kSize + 31] & 0xFF, 0x30u);
    EXPECT_EQ(picture[44 * kSize + 34] & 0xFFFFFF, 0x101820u);
}

}  // namespace
