#include "scene/fxparams.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "base/texcache.h"
#include "base/vrmfile.h"
#include "render/materialnames.h"
#include "scene_fixture.h"
#include "support/logcapture.h"

namespace {

class SceneFxParams : public SceneTest {
protected:
    void TearDown() override {
        for (FXEffectBlock* b : blocks_) B3D_FreeFXEffectBlock(b);
        TC_FreeTextureTables();
        g_TCNumberedCount = g_TCNamedCount = 0;
        SceneTest::TearDown();
    }
    // Reads one block from a text or binary buffer; the reader's error flag goes to *error.
    FXEffectBlock* Load(const std::string& data, int binary, int32_t* error) {
        buffers_.push_back(data);
        VRMFile r{};
        Qel_ReaderInit(&r, buffers_.back().c_str(), binary);
        FXEffectBlock* b = B3DB_LoadShaderParams(&r);
        blocks_.push_back(b);
        *error = r.error;
        return b;
    }
    std::vector<FXEffectBlock*> blocks_;
    std::vector<std::string> buffers_;
};

TEST_F(SceneFxParams, TextBlockWithEveryKindOfValue) {
    int32_t error = 0;
    const FXEffectBlock* b = Load(
        "3;water.FX;4;\n"
        "t_DiffuseTexture;SPTYPE_STRING;ship.tga;\n"
        "g_Mat;SPTYPE_MATRIX3;1.5;0;0;0;65536;-3000000000;0;3000000000;-2.7;\n"
        "g_Label;8;hello;\n"
        "g_Vec;SPTYPE_FLOAT3;1;2.5;-3;\n",
        0, &error);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(b->effectWord, 3);
    EXPECT_STREQ(b->effectName, "water");
    ASSERT_EQ(b->count, 4);
    const FXParameter* p = b->params;
    EXPECT_EQ(p[0].textureSlot, 1u);
    EXPECT_EQ(p[0].type, SPTYPE_LONG);
    EXPECT_EQ(p[0].value.i[0], int32_t(TC_GetTextureIdByName("ship")));
    EXPECT_STREQ(p[0].name, "t_DiffuseTexture");
    EXPECT_EQ(p[1].type, SPTYPE_MATRIX3);
    const int32_t rows[12] = {1, 0, 0, 0, 0, 65536, INT_MIN, 0, 0, INT_MAX, -2, 0};
    for (int k = 0; k < 12; ++k) EXPECT_EQ(p[1].value.i[k], rows[k]) << k;
    EXPECT_EQ(p[2].type, SPTYPE_STRING);
    EXPECT_EQ(p[2].textureSlot, 0u);
    EXPECT_STREQ(p[2].value.text, "hello");
    EXPECT_EQ(p[3].type, SPTYPE_FLOAT3);
    EXPECT_FLOAT_EQ(p[3].value.f[1], 2.5f);
    EXPECT_FLOAT_EQ(p[3].value.f[2], -3.0f);
}

TEST_F(SceneFxParams, BinaryBlockResolvesBumpsByTheLowBumpOption) {
    system_->videoFlags = S3D_VIDEO_LOW_BUMP;
    std::string bin("\x01\x02glass.fx\0\x00\x02", 13);
    bin += std::string("t_BumpTexture\0\0\0\0\x08hull_bump.dds\0", 32);
    bin += std::string("g_Scale\0\0\0\0\x02\x00\x01\x80\x00", 16);
    int32_t error = 0;
    const FXEffectBlock* b = Load(bin, 1, &error);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(b->effectWord, 0x102);
    EXPECT_STREQ(b->effectName, "glass");
    ASSERT_EQ(b->count, 2);
    EXPECT_EQ(b->params[0].textureSlot, 2u);
    EXPECT_EQ(b->params[0].type, SPTYPE_LONG);
    EXPECT_EQ(b->params[0].value.i[0], int32_t(TC_GetTextureIdByName("hull_low_bump")));
    EXPECT_FLOAT_EQ(b->params[1].value.f[0], 1.5f);
}

TEST_F(SceneFxParams, BadCountsAndTypesFailTheBody) {
    struct Case {
        const char* text;
        int32_t error;
        int16_t count;
        const char* logged;
    };
    const Case cases[] = {
        {"1;plain;0;", 0, 0, nullptr},
        {"1;plain;-2;", 1, 0, nullptr},
        {"1;plain;2;\ng_A;SPTYPE_LONG;5;\ng_B;9;1;\n", 1, 2, "Invalid shader parameter type 9\n"},
        {"1;plain;1;\ng_A;SPTYPE_NOTHING;5;\n", 1, 1, nullptr},
    };
    for (const Case& c : cases) {
        LogCapture log;
        int32_t error = 0;
        const FXEffectBlock* b = Load(c.text, 0, &error);
        ASSERT_NE(b, nullptr) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
        EXPECT_EQ(b->count, c.count) << c.text;
        EXPECT_EQ(b->params == nullptr, c.count == 0) << c.text;
        EXPECT_STREQ(b->effectName, "plain") << c.text;
        if (c.logged) {
            EXPECT_TRUE(log.Contains(c.logged)) << c.text;
        }
    }
}

}  // namespace
