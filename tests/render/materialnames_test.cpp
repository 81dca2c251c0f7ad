#include "render/materialnames.h"

#include <gtest/gtest.h>

#include <memory>

#include "base/general.h"
#include "base/texcache.h"

namespace {

class MaterialNames : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = g_SystemState;
        system_ = std::make_unique<SystemState>();
        g_SystemState = system_.get();
    }
    void TearDown() override {
        TC_FreeTextureTables();
        g_TCNumberedCount = g_TCNamedCount = 0;
        g_SystemState = saved_;
    }
    std::unique_ptr<SystemState> system_;
    SystemState* saved_ = nullptr;
};

TEST_F(MaterialNames, TextureSlotsNeedALowerCaseT) {
    const std::pair<const char*, uint32_t> cases[] = {
        {"t_DiffuseTexture", 1},
        {"T_DiffuseTexture", 0},
        {"t_DIFFUSETEXTURE", 1},
        {"t_BumpTexture", 2},
        {"t_SpecularTexture", 3},
        {"t_LightMapTexture", 4},
        {"t_CubeMapTexture", 5},
        {"t_DetailTexture", 6},
        {"t_Diffuse", 0},
        {"g_Wrap", 0},
        {nullptr, 0},
    };
    for (auto [name, slot] : cases) EXPECT_EQ(S_3DShaderTextureSlot(name), slot) << (name ? name : "null");
}

TEST(MaterialNamesLowBump, TheFirstBumpBecomesLowBump) {
    const std::pair<const char*, const char*> cases[] = {{"hull_bump", "hull_low_bump"},
                                                         {"ship_bump.dds", "ship_low_bump.dds"},
                                                         {"hullbump", "hullbump"},
                                                         {"a_bump_bump", "a_low_bump_bump"},
                                                         {"", ""}};
    for (auto [given, low] : cases) EXPECT_EQ(S_3DLowBumpName(given), low) << given;
}

TEST_F(MaterialNames, ResolvedTexturesTakeTheLowBumpOptionForBumpsOnly) {
    struct Case {
        bool lowBump;
        uint32_t slot;
        const char* name;
        const char* value;
        const char* texture;  // null: not a texture
    };
    const Case cases[] = {
        {true, 2, "t_BumpTexture", "hull_bump", "hull_low_bump"},
        {true, 0, "t_bumptexture", "deck_bump", "deck_low_bump"},
        {true, 1, "t_DiffuseTexture", "a_bump", "a_bump"},
        {true, 0, "t_DetailTexture", "b_bump", "b_bump"},
        {false, 2, "t_BumpTexture", "hull_bump", "hull_bump"},
        {false, 5, "anything", "sky", "sky"},
        {true, 0, "g_Wrap", "c_bump", nullptr},
        {true, 0, "T_BumpTexture", "c_bump", nullptr},
        {true, 7, "t_BumpTexture", "c_bump", nullptr},
    };
    for (const Case& c : cases) {
        system_->videoFlags = c.lowBump ? S3D_VIDEO_LOW_BUMP : 0;
        int32_t id = -5;
        EXPECT_EQ(S_3DResolveMaterialParam(c.slot, c.name, c.value, &id), c.texture ? 1 : 0) << c.name;
        EXPECT_EQ(id, c.texture ? int32_t(TC_GetTextureIdByName(c.texture)) : -5) << c.name;
    }
}

}  // namespace
