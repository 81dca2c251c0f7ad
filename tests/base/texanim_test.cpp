// Texture animations and materials: the "Animations" definitions file, the
// advance of loops, ping-pongs and one-shots over game time, plain textures,
// script-chosen frames, degenerate durations, and the materials' file form.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/file.h"
#include "base/general.h"
#include "base/texanim.h"
#include "base/texcache.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"

namespace {

// Animation 1: a loop over textures 11 to 14, 100 ms each. Animation 2: a
// ping-pong over the ids 21 to 23 without frames, 300 ms a cycle. Animation 3:
// a single-step over 31 to 35. Animation 4: a loop whose frames last 0 ms.
// Animation 5: a one-shot over 51 to 53. Animation 6: movie 7 from 0:01.000
// to 0:05.250 into texture 61.
const char* kAnimations =
    "6;\n"
    "TAT_LOOP;NULL;11;14;4;\n"
    "NULL;11;100;NULL;12;100;NULL;13;100;NULL;14;100;\n"
    "400;\n"
    "TAT_PINGPONG;NULL;21;23;0;300;\n"
    "TAT_SINGLESTEP;NULL;31;35;0;0;\n"
    "TAT_LOOP;TADF_COORDS;41;42;0;0;1;1;2;\n"
    "TATF_COORDS;41;0;0.5;0;TATF_COORDS;42;0;0;0.5;\n"
    "0;\n"
    "TAT_ONESHOT;NULL;51;53;0;300;\n"
    "TAT_MOVIE;NULL;61;61;7;0;1;0;0;5;250;\n";

class TextureAnimations : public testing::Test {
protected:
    void SetUp() override {
        g_TCNumberedCount = 100;
        ASSERT_FALSE(TC_AllocTextureTable());
        folder_.Write("Animations.txt", kAnimations);
    }
    void TearDown() override {
        TC_FreeTextureTables();
        g_TCNumberedCount = g_TCNamedCount = 0;
    }
    // Textures shown at each game time by one material of the animation.
    std::vector<int> Play(int animation, std::initializer_list<int32_t> times) {
        std::vector<int> shown;
        int32_t texture = animation;
        state()->gameClock = 1000;
        TC_Material* m = TC_NewMaterials(nullptr, 1, &texture, nullptr, nullptr, nullptr, nullptr);
        for (int32_t t : times) {
            state()->gameClock = 1000 + t;
            TC_AnimAnimate(1, m);
            shown.push_back(TC_MaterialTexture(m, 0));
        }
        TC_FreeMaterials(1, m);
        return shown;
    }
    SystemState* state() { return session_.State(); }
    TempGameFolder folder_;
    GeneralSession session_;
};

TEST_F(TextureAnimations, DefinitionsLoadAndTotalsAreChecked) {
    LogCapture log;
    ASSERT_EQ(TC_AnimLoadDefinitions(), 1);
    EXPECT_EQ(log.Text(), "");
    ASSERT_EQ(g_TCAnimationCount, 6);
    EXPECT_EQ(g_TCAnimations[0].totalDuration, 400);
    EXPECT_EQ(g_TCAnimations[0].frameCount, 4);
    EXPECT_EQ(g_TCAnimations[1].totalDuration, 300);
    EXPECT_EQ(g_TCAnimations[3].frames[0].offsetX, 0x8000);

    std::string mismatched = kAnimations;
    mismatched.replace(mismatched.find("400;"), 4, "500;");
    folder_.Write("Animations.txt", mismatched);
    ASSERT_EQ(TC_AnimLoadDefinitions(), 1);
    EXPECT_TRUE(log.Contains("TC_AnimLoadDefinitions: Animation 0 duration 400 does not match total delay 500!\n"));
    EXPECT_EQ(g_TCAnimations[0].totalDuration, 400);

    // A file cut short is a failure, and leaves no animations.
    folder_.Write("Animations.txt", std::string(kAnimations).substr(0, 60));
    EXPECT_EQ(TC_AnimLoadDefinitions(), 0);
    EXPECT_EQ(g_TCAnimationCount, 0);
    folder_.Write("Animations.txt", "1;\nTAT_LOOP;NULL;1;2;-5;\n");
    EXPECT_EQ(TC_AnimLoadDefinitions(), 0);
}

TEST_F(TextureAnimations, LoopsAndPingPongsFollowGameTime) {
    ASSERT_EQ(TC_AnimLoadDefinitions(), 1);
    EXPECT_EQ(Play(1, {0, 99, 100, 250, 399, 400, 1150}), (std::vector<int>{11, 11, 12, 13, 14, 11, 14}));
    // First to last, then last to first.
    EXPECT_EQ(Play(2, {0, 100, 200, 300, 400, 500, 600, 700}), (std::vector<int>{21, 22, 23, 23, 22, 21, 21, 22}));
    // A cycle of 0 ms stays on its first frame and its offsets.
    EXPECT_EQ(Play(4, {0, 5, 500}), (std::vector<int>{41, 41, 41}));
    EXPECT_EQ(Play(5, {0, 150, 299, 300, 5000}), (std::vector<int>{51, 52, 53, 53, 53}));
}

TEST_F(TextureAnimations, OneShotsReportTheirEndAndMoviesStartOnce) {
    ASSERT_EQ(TC_AnimLoadDefinitions(), 1);
    int32_t textures[1] = {5};
    state()->gameClock = 0;
    TC_Material* m = TC_NewMaterials(nullptr, 1, textures, nullptr, nullptr, nullptr, nullptr);
    state()->gameClock = 100;
    EXPECT_EQ(TC_AnimAnimate(1, m), 0);
    state()->gameClock = 300;
    EXPECT_EQ(TC_AnimAnimate(1, m), 1);
    EXPECT_EQ(TC_MaterialTexture(m, 0), 53);
    TC_FreeMaterials(1, m);

    static std::vector<std::string> calls;
    calls.clear();
    g_TCMovieCalls = {[](int) { return 0; },
                      [](int movie) {
                          calls.push_back("open " + std::to_string(movie));
                          return 1;
                      },
                      [](int movie, int texture) {
                          calls.push_back("connect " + std::to_string(movie) + " " + std::to_string(texture));
                          return 1;
                      },
                      nullptr,
                      [](int movie, int a, int b, int c, int d, int e, int f) {
                          calls.push_back("play " + std::to_string(movie) + " " + std::to_string(a) + ":" +
                                          std::to_string(b) + "." + std::to_string(c) + "-" + std::to_string(d) + ":" +
                                          std::to_string(e) + "." + std::to_string(f));
                      },
                      nullptr,
                      nullptr};
    textures[0] = 6;
    m = TC_NewMaterials(nullptr, 1, textures, nullptr, nullptr, nullptr, nullptr);
    TC_AnimAnimate(1, m);
    TC_AnimAnimate(1, m);
    EXPECT_EQ(calls, (std::vector<std::string>{"open 7", "connect 7 61", "play 7 0:1.0-0:5.250"}));
    g_TCMovieCalls = {};
    TC_FreeMaterials(1, m);
}

TEST_F(TextureAnimations, PlainTexturesIgnoreTimeAndBadIndexesShowNothing) {
    ASSERT_EQ(TC_AnimLoadDefinitions(), 1);
    EXPECT_EQ(Play(-17, {0, 500, 100000}), (std::vector<int>{17, 17, 17}));
    EXPECT_EQ(Play(99, {0, 50}), (std::vector<int>{0, 0}));
    // A plain texture with offsets moves between them over its cycle.
    int32_t texture = -3, start[2] = {0, 0}, end[2] = {0x10000, 0}, cycle = 100;
    state()->gameClock = 0;
    TC_Material* m = TC_NewMaterials(end, 1, &texture, start, &cycle, nullptr, nullptr);
    state()->gameClock = 50;
    TC_AnimAnimate(1, m);
    EXPECT_EQ(TC_MaterialMatrix(m, 0)[8], 0x8000);
    TC_FreeMaterials(1, m);
    // A rotation turns the texture a quarter in a quarter of its period, the
    // other way round for a negative period; a period of 0 never turns it.
    for (int32_t period : {1000, -1000, 0}) {
        state()->gameClock = 0;
        m = TC_NewMaterials(nullptr, 1, &texture, nullptr, nullptr, nullptr, &period);
        state()->gameClock = 250;
        TC_AnimAnimate(1, m);
        int32_t* x = TC_MaterialMatrix(m, 0);
        int32_t sine = period > 0 ? 0x10000 : period < 0 ? -0x10000 : 0;
        EXPECT_NEAR(x[4], sine, 2) << period;
        EXPECT_NEAR(x[0], period ? 0 : 0x10000, 2) << period;
        TC_FreeMaterials(1, m);
    }
}

TEST_F(TextureAnimations, ScriptsChooseFramesOfSingleSteps) {
    ASSERT_EQ(TC_AnimLoadDefinitions(), 1);
    int32_t textures[2] = {3, 1};
    TC_Material* m = TC_NewMaterials(nullptr, 2, textures, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(TC_AnimSetIndex(0, 2, m, 3, 2), 33);
    EXPECT_EQ(TC_MaterialTexture(m, 0), 33);
    EXPECT_EQ(TC_MaterialTexture(m, 1), 11);  // another animation is left alone
    LogCapture log;
    EXPECT_EQ(TC_AnimSetIndex(0, 2, m, 3, -1), 31);
    EXPECT_TRUE(log.Contains("TC_AnimSetIndex() animation index -1 out of range [0..4] for animation 3\n"));
    EXPECT_EQ(TC_AnimSetIndex(0, 2, m, 3, 5), 31);
    EXPECT_EQ(TC_AnimSetIndex(0, 2, m, 77, 1), 0);
    EXPECT_EQ(TC_AnimSetIndex(0, 2, m, 1, 1), 0);  // not a single-step animation
    TC_FreeMaterials(2, m);
}

TEST_F(TextureAnimations, MaterialsKeepTheirStoredWordsAndName) {
    int id = static_cast<int>(TC_GetTextureIdByName("hull"));
    int32_t textures[2] = {-id, 1};
    int32_t start[4] = {1, 2, 3, 4}, end[4] = {5, 6, 7, 8}, cycles[2] = {250, 0}, coords[4] = {9, 10, 11, 12},
            rotations[2] = {-900, 0};
    TC_Material* m = TC_NewMaterials(end, 2, textures, start, cycles, coords, rotations);
    for (int i = 0; i < 2; ++i)
        for (int w = 0; w < 32; ++w) m[i].w[w] = m[i].w[w] ? m[i].w[w] : 1000 * i + w;
    m[0].w[0] = -id;
    m[0].w[3] = TCM_PLAIN;
    m[1].w[3] = 0;
    QelFile* out = Qel_fopen("materials.bin", "wb", 0);
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(TC_WriteMaterials(2, out, m), 1);
    Qel_fclose(out);
    EXPECT_EQ(folder_.Read("materials.bin").size(), 2 * 100 + 1 + 4);
    QelFile* in = Qel_fopen("materials.bin", "rb", 0);
    TC_Material* back = TC_ReadMaterials(2, in);
    Qel_fclose(in);
    ASSERT_NE(back, nullptr);
    for (int i = 0; i < 2; ++i)
        for (int w : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 20, 21, 22, 24, 25, 26})
            EXPECT_EQ(back[i].w[w], m[i].w[w]) << "record " << i << " word " << w;
    EXPECT_EQ(back[0].w[0], -id);
    TC_FreeMaterials(2, back);
    // A file cut short is no set of materials.
    std::vector<uint8_t> bytes = folder_.Read("materials.bin");
    bytes.resize(150);
    folder_.WriteBytes("short.bin", bytes);
    in = Qel_fopen("short.bin", "rb", 0);
    EXPECT_EQ(TC_ReadMaterials(2, in), nullptr);
    Qel_fclose(in);
    TC_FreeMaterials(2, m);
}

}  // namespace
