#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/strings.h"
#include "base/table.h"
#include "base/texanim.h"
#include "scene/allocs.h"
#include "scene/bodyrecord.h"
#include "scene/caches.h"
#include "scene/instcoll.h"
#include "scene/names.h"
#include "scene/savesection.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "scene/trees.h"
#include "scene_fixture.h"
#include "support/gamefolder.h"
#include "support/sectionfile.h"
#include "support/logcapture.h"
#include "tools/lib/bodyconv.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Words = std::vector<int32_t>;
constexpr int32_t ONE = QEL_FIX_ONE;

// The section as it should be, tag by tag and word by word.
class Stream {
public:
    Stream& Tag(const char* tag) {
        bytes_.insert(bytes_.end(), tag, tag + 4);
        return *this;
    }
    Stream& Word(int32_t w) {
        const auto u = static_cast<uint32_t>(w);
        for (int shift = 24; shift >= 0; shift -= 8) bytes_.push_back(static_cast<uint8_t>(u >> shift));
        return *this;
    }
    Stream& Record(const Words& words) {
        for (int32_t w : words) Word(w);
        return *this;
    }
    Stream& Text(const std::string& text) {
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        bytes_.push_back(0);
        return *this;
    }
    Stream& Raw(size_t n) {
        bytes_.insert(bytes_.end(), n, 0);
        return *this;
    }
    const Bytes& bytes() const { return bytes_; }

private:
    Bytes bytes_;
};

int32_t WordAt(const Bytes& b, size_t offset) {
    return static_cast<int32_t>(uint32_t(b[offset]) << 24 | uint32_t(b[offset + 1]) << 16 |
                                uint32_t(b[offset + 2]) << 8 | uint32_t(b[offset + 3]));
}

void PutWordAt(Bytes& b, size_t offset, int32_t w) {
    const auto u = static_cast<uint32_t>(w);
    for (int k = 0; k < 4; ++k) b[offset + k] = static_cast<uint8_t>(u >> (24 - 8 * k));
}

// The offset of the n-th (from 0) occurrence of a tag.
size_t TagAt(const Bytes& b, const char* tag, int n = 0) {
    for (size_t i = 0; i + 4 <= b.size(); ++i)
        if (std::memcmp(&b[i], tag, 4) == 0 && n-- == 0) return i;
    ADD_FAILURE() << "no tag " << tag;
    return 0;
}

void Identity(Words& w, int at) { w[at] = w[at + 4] = w[at + 8] = ONE; }

// Records of freshly allocated instances, lights and cameras.
Words NewInstWords(int32_t id, int32_t children, int32_t parent, int32_t scene) {
    Words w(B3D_SAVE_INST_WORDS, 0);
    w[0] = id, w[2] = children, w[3] = parent, w[4] = scene;
    Identity(w, 8);
    w[18] = w[19] = w[20] = ONE;
    w[25] = -1;
    Identity(w, 29);
    w[55] = w[56] = w[57] = -1;
    w[80] = w[81] = w[82] = ONE;
    return w;
}

Words NewLightWords(int32_t id, int32_t parent, int32_t scene) {
    Words w(B3D_SAVE_INST_WORDS, 0);
    w[0] = id, w[3] = parent, w[4] = scene;
    Identity(w, 8);
    w[17] = -1;
    w[50] = INST_LIGHT;
    w[55] = w[57] = -1;
    w[68] = 2 * ONE;
    w[80] = w[81] = w[82] = ONE;
    return w;
}

Words NewCameraWords(int32_t id, int32_t scene) {
    Words w(B3D_SAVE_INST_WORDS, 0);
    w[0] = id, w[4] = scene;
    Identity(w, 8);
    w[50] = INST_CAMERA;
    w[55] = w[57] = -1;
    w[80] = w[81] = w[82] = ONE;
    return w;
}

Words NewCameraRecord(uint32_t camFlags, int32_t priority) {
    Words c(B3D_SAVE_CAMERA_WORDS, 0);
    c[0] = static_cast<int32_t>(camFlags);
    c[3] = ONE, c[5] = ONE;
    c[6] = 0x4000;
    c[7] = priority;
    c[11] = c[12] = c[13] = ONE;
    return c;
}

Words StateWords(int32_t freeTrees, int32_t scenes, int32_t takes) {
    Words w(B3D_SAVE_STATE_WORDS, 0);
    w[0] = freeTrees, w[1] = scenes, w[9] = takes, w[11] = 127;
    return w;
}

Words SceneWords(int32_t id, int32_t insts, int32_t cameras) { return {id, insts, 0, cameras, 6553600, 32, 32, 64}; }

// Where the first scene record starts in a section without free trees.
constexpr size_t kFirstScene = 4 + 80 + 4 + 8 + 4 + 4;

class SaveSectionTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        folder_ = std::make_unique<TempGameFolder>();
    }
    void TearDown() override {
        folder_.reset();
        SceneTest::TearDown();
    }

    // The section written through a gzip stream, read back whole.
    Bytes Save(int32_t expect = 1) { return SectionWritten(B3D_SaveGame, expect); }
    int32_t Load(const Bytes& bytes) { return SectionRead(*folder_, bytes, B3D_LoadGame); }
    // A scene engine of its own for the load.
    void FreshEngine() {
        B3D_FreeStore();
        g_B3DState = B3D_InitStore();
        ASSERT_NE(g_B3DState, nullptr);
        ASSERT_EQ(B3D_InitBodyIdTable(), 1);
        ASSERT_EQ(B3D_InitCutIdTable(), 1);
    }
    J3D_Take* NewTake(std::vector<Inst3D*> insts) {
        J3D_Take* take = J3D_TakeAlloc();
        take->instCount = static_cast<int32_t>(insts.size());
        take->insts = static_cast<Inst3D**>(B3D_AllocMemJ(take->instCount * 8, B3D_MEM_ZERO));
        for (size_t i = 0; i < insts.size(); ++i) take->insts[i] = insts[i];
        return take;
    }

    std::unique_ptr<TempGameFolder> folder_;
};

TEST_F(SaveSectionTest, EmptyEngineWritesEveryTag) {
    Stream want;
    want.Tag("B3D ").Record(StateWords(0, 0, 0)).Tag("NAME").Raw(8).Tag("INST").Tag("SCEN");
    want.Tag("CUT ").Word(0).Tag("TAKE").Tag("/B3D");
    EXPECT_EQ(Save(), want.bytes());
}

// Free trees, scenes with skipped instances, a skipped scene, a scene with
// nothing but a camera, one placed cut of two and a take.
TEST_F(SaveSectionTest, GoldenBytesOfASceneBuiltInCode) {
    Inst3D* f1 = B3D_AllocInst();      // 1
    Inst3D* f2 = B3D_AllocInst();      // 2
    Scene3D* s = B3D_SceneAlloc();     // scene 1
    Inst3D* i3 = B3D_AllocInst();      // 3
    Inst3D* l4 = B3D_LightAlloc();     // 4
    Inst3D* i5 = B3D_AllocInst();      // 5
    Camera3D* c6 = B3D_CameraAlloc();  // 6
    Scene3D* t = B3D_SceneAlloc();     // scene 2
    Inst3D* i7 = B3D_AllocInst();      // 7
    Scene3D* u = B3D_SceneAlloc();     // scene 3
    Camera3D* c8 = B3D_CameraAlloc();  // 8
    f1->name = Qel_StrDup("free");
    f2->flags2 |= INST2_NOT_SAVED;
    PutInScene(s, i3);
    Adopt(i3, l4);
    PutInScene(s, i5);
    i5->flags2 |= INST2_NOT_SAVED;
    B3D_SceneLinkInst(s, c6);
    c6->priority = 20;
    t->flags |= SCENE_NOT_SAVED;
    PutInScene(t, i7);
    B3D_SceneLinkInst(u, c8);
    TestCut placed(12, 1), loose(13, 1);
    const QelVector at{ONE, 2 * ONE, 3 * ONE, 0};
    J3D_SetCutPos(placed.cut(), &at, &placed.cut()->placeMatrix);
    J3D_Take* take = NewTake({i3, nullptr});
    take->scene = s;
    take->cameraId = c6->inst.id;
    take->state = TAKE_RUNNING;

    auto id = [](const void* rec) { return static_cast<int32_t>(static_cast<const Inst3D*>(rec)->id); };
    const int32_t sid = static_cast<int32_t>(s->id), uid = static_cast<int32_t>(u->id);
    Words f1w = NewInstWords(id(f1), 0, 0, 0);
    f1w[78] = 5;
    Words i3w = NewInstWords(id(i3), 1, 0, sid), l4w = NewLightWords(id(l4), id(i3), sid);
    Words identityRows{ONE, 0, 0, 0, ONE, 0, 0, 0, ONE};
    Stream want;
    want.Tag("B3D ").Record(StateWords(1, 2, 1)).Tag("NAME").Raw(8);
    want.Tag("INST").Record(f1w).Text("free");
    want.Tag("SCEN").Record(SceneWords(sid, 1, 1)).Tag("INST").Record(i3w).Record(l4w);
    want.Record(NewCameraWords(id(c6), sid)).Record(NewCameraRecord(0, 20));
    want.Record(SceneWords(uid, 0, 1)).Tag("INST").Record(NewCameraWords(id(c8), uid)).Record(NewCameraRecord(0, 0));
    want.Tag("CUT ").Word(1).Record({12, ONE, 2 * ONE, 3 * ONE}).Record(identityRows);
    want.Tag("TAKE").Record({static_cast<int32_t>(take->id), 0, 0, 0, 2, 0, 0, sid, id(c6), 0, 0, 0});
    want.Record(identityRows).Record({0, 0, 0, 0, TAKE_RUNNING}).Record({id(i3), 0});
    want.Tag("/B3D");
    system_->debugFlags = 0x80000000;
    LogCapture log;
    EXPECT_EQ(Save(), want.bytes());
    EXPECT_TRUE(log.Contains("Saving Inst " + std::to_string(id(f1)) + " [free]\n"));
    EXPECT_TRUE(log.Contains("Saving Light " + std::to_string(id(l4)) + " []\n"));
    EXPECT_FALSE(log.Contains("Saving Inst " + std::to_string(id(f2)) + " "));
    placed.Unload();
    loose.Unload();
}

TEST_F(SaveSectionTest, SystemScaleInSinglePrecisionClampedWithALogLine) {
    struct Case {
        float scale;
        int32_t word;
        bool logged;
    };
    const Case cases[] = {{0.01f, 6553600, false},    {1.0f, 655360000, false},
                          {-0.5f, -327680000, false}, {10.0f, INT32_MAX, true},
                          {-10.0f, INT32_MIN, true},  {std::numeric_limits<float>::quiet_NaN(), 0, true}};
    Scene3D* scene = B3D_SceneAlloc();
    for (const Case& c : cases) {
        scene->systemScale = c.scale;
        LogCapture log;
        const Bytes b = Save();
        EXPECT_EQ(WordAt(b, kFirstScene + 16), c.word) << c.scale;
        EXPECT_EQ(log.Contains("does not fit"), c.logged) << c.scale;
    }
}

TEST_F(SaveSectionTest, SceneScaleReadsBackToTheSameWord) {
    B3D_MakeLensflareScene();
    Scene3D* scene = B3D_SceneAlloc();
    const uint32_t id = scene->id;
    for (float scale : {0.01f, 0.3f, 1.0f / 3.0f, 2.5f, -0.125f}) {
        scene->systemScale = scale;
        const Bytes first = Save();
        FreshEngine();
        ASSERT_EQ(Load(first), 1);
        EXPECT_EQ(Save(), first) << scale;
        scene = B3D_SceneFind(id);
        ASSERT_NE(scene, nullptr);
        EXPECT_EQ(scene->systemScale, scale);
    }
}

TEST_F(SaveSectionTest, ACatalogMemberRefusesTheSection) {
    QelFile member{nullptr, QEL_FILE_CATALOG, 0, 0, 0, nullptr};
    LogCapture log;
    EXPECT_EQ(B3D_SaveGame(&member), 0);
    EXPECT_TRUE(log.Contains("Error someone tried to write to a Catalog !\n"));
}

TEST_F(SaveSectionTest, EachWrongCookieFailsWithItsMessage) {
    Scene3D* s = B3D_SceneAlloc();
    PutInScene(s, B3D_AllocInst());
    const Bytes good = Save();
    struct Case {
        const char* tag;
        int occurrence;
        const char* message;
    };
    const Case cases[] = {
        {"B3D ", 0, "B3D_LoadGame: Wrong B3D cookie\n"},           {"NAME", 0, "B3D_LoadGame: Wrong NAME cookie\n"},
        {"INST", 0, "B3D_LoadGame: Wrong INST cookie\n"},          {"SCEN", 0, "B3D_LoadGame: Wrong SCEN cookie\n"},
        {"INST", 1, "B3D_LoadGame: Wrong INST cookie in SCENE\n"}, {"CUT ", 0, "B3D_LoadGame: Wrong CUT  cookie\n"},
        {"TAKE", 0, "B3D_LoadGame: Wrong TAKE cookie\n"},          {"/B3D", 0, "B3D_LoadGame: Wrong /B3D cookie\n"}};
    for (const Case& c : cases) {
        Bytes bad = good;
        bad[TagAt(good, c.tag, c.occurrence)] ^= 0x20;
        FreshEngine();
        LogCapture log;
        EXPECT_EQ(Load(bad), 0) << c.message;
        EXPECT_TRUE(log.Contains(std::string(QEL_LOG_BANNER) + c.message + QEL_LOG_BANNER)) << log.Text();
    }
}

TEST_F(SaveSectionTest, ASectionEndingAfterTakeFailsWithEverythingRebuilt) {
    Scene3D* s = B3D_SceneAlloc();
    Inst3D* inst = B3D_AllocInst();
    PutInScene(s, inst);
    const uint32_t sceneId = s->id, instId = inst->id;
    Bytes b = Save();
    b.erase(b.end() - 4, b.end());
    FreshEngine();
    LogCapture log;
    EXPECT_EQ(Load(b), 0);
    EXPECT_TRUE(log.Contains("B3D_LoadGame: Wrong /B3D cookie\n"));
    Scene3D* back = B3D_SceneFind(sceneId);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(B3D_First<Inst3D>(&back->insts), B3D_InstFind(instId));
}

// A name of 256 bytes or more is saved as its first 255 bytes: the length
// byte and the bytes agree, and the load reads the rest of the section.
TEST_F(SaveSectionTest, LongBodyNamesAreSavedAsTheirFirst255Bytes) {
    const std::string n256(256, 'a'), n300(300, 'b');
    ASSERT_EQ(B3D_GetBodyID(n256.c_str()), 20000);
    ASSERT_EQ(B3D_GetBodyID(n300.c_str()), 20001);
    B3D_AllocInst();
    const Bytes b = Save();
    const size_t at = TagAt(b, "NAME") + 4;
    EXPECT_EQ(WordAt(b, at), 2);
    size_t p = at + 4;
    for (char c : {'a', 'b'}) {
        ASSERT_EQ(b[p], 255) << c;
        EXPECT_EQ(std::string(b.begin() + static_cast<long>(p + 1), b.begin() + static_cast<long>(p + 256)),
                  std::string(255, c));
        p += 256;
    }
    EXPECT_EQ(WordAt(b, p), 0);  // no dynamic cuts
    EXPECT_EQ(std::memcmp(&b[p + 4], "INST", 4), 0);
    FreshEngine();
    ASSERT_EQ(Load(b), 1);
    EXPECT_EQ(B3D_GetBodyFilename(20000, 1), std::string(255, 'a'));
    EXPECT_EQ(B3D_GetBodyFilename(20001, 1), std::string(255, 'b'));
    EXPECT_NE(B3D_InstFind(2), nullptr);
}

// An instance saved with a collision model gets it built again by the load;
// one whose body gives none comes back without the flag.
TEST_F(SaveSectionTest, CollisionModelsAreRebuiltByTheLoad) {
    std::string text, error;
    ASSERT_TRUE(Tool_ModelToTextBody("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", &text, &error)) << error;
    folder_->Write("v/00011.bod", text);
    Inst3D* solid = B3D_AllocInst();
    ASSERT_EQ(B3D_InstSetBody(solid, 11), 1);
    ASSERT_EQ(B3D_CollBuildModel(solid, 0), 1);
    Inst3D* lost = B3D_AllocInst();
    lost->bodyId = 12;  // no file
    lost->flags |= INST_COLLISION_MODEL;
    const uint32_t solidId = solid->id, lostId = lost->id;
    const Bytes b = Save();
    J3D_FreeCutEntry();
    FreshEngine();
    ASSERT_EQ(Load(b), 1);
    Inst3D* back = B3D_InstFind(solidId);
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->flags & INST_COLLISION_MODEL);
    Body3D* body = B3D_GetBody(11);
    ASSERT_NE(body, nullptr);
    EXPECT_NE(body->collModel, nullptr);
    ASSERT_NE(B3D_InstFind(lostId), nullptr);
    EXPECT_FALSE(B3D_InstFind(lostId)->flags & INST_COLLISION_MODEL);
    J3D_FreeCutEntry();
}

TEST_F(SaveSectionTest, StateValuesAndGammaOnlyWithin0To255) {
    struct Case {
        int32_t saved;
        int32_t restored;
    };
    for (const Case& c : {Case{0, 0}, Case{255, 255}, Case{256, 127}, Case{-1, 127}, Case{90, 90}}) {
        g_B3DState->gammaValue = c.saved;
        g_B3DState->engineFlags = B3D_ENGINE_RECORDING | B3D_ENGINE_ENVMAP_DRAWN;
        g_B3DState->fadeValue = 77;
        const Bytes b = Save();
        EXPECT_EQ(WordAt(b, 4 + 4 * 11), c.saved);
        FreshEngine();
        ASSERT_EQ(Load(b), 1);
        EXPECT_EQ(g_B3DState->gammaValue, c.restored) << c.saved;
        EXPECT_EQ(g_B3DState->engineFlags, B3D_ENGINE_ENVMAP_DRAWN);
        EXPECT_EQ(g_B3DState->fadeValue, 77);
    }
}

TEST_F(SaveSectionTest, MissingParentsScenesAndLensFlareObjectsAreLogged) {
    Inst3D* top = B3D_AllocInst();  // 2
    Adopt(top, B3D_AllocInst());    // 3
    Scene3D* s = B3D_SceneAlloc();
    PutInScene(s, B3D_AllocInst());  // 4
    Bytes b = Save();
    const size_t child = TagAt(b, "INST") + 4 + 4 * B3D_SAVE_INST_WORDS;
    ASSERT_EQ(WordAt(b, child), 3);
    PutWordAt(b, child + 4 * 3, 999);
    const size_t inScene = TagAt(b, "INST", 1) + 4;
    ASSERT_EQ(WordAt(b, inScene), 4);
    PutWordAt(b, inScene + 4 * 4, 998);
    for (int k : {5, 6, 7}) PutWordAt(b, 4 + 4 * k, 900 + k);
    FreshEngine();
    LogCapture log;
    ASSERT_EQ(Load(b), 1);
    for (const char* line :
         {"B3D_LoadGame: Cant find parent 999 of inst 3\n", "B3D_LoadGame: Cant find scene 998 for inst 4\n",
          "B3D_LoadGame: Cant find LensflareScene 905\n", "B3D_LoadGame: Cant find FirstLight 906\n",
          "B3D_LoadGame: Cant find Lensflare Check Inst 907\n"})
        EXPECT_TRUE(log.Contains(line)) << line;
    // Both land in the list of instances in no scene, after the top instance.
    EXPECT_EQ(B3D_ListCount(&g_B3DState->freeInsts), 4);  // with the new lens-flare check instance
    EXPECT_EQ(B3D_InstFind(3)->parent, nullptr);
    EXPECT_EQ(B3D_InstFind(4)->scene, nullptr);
    EXPECT_EQ(g_B3DState->firstLight, nullptr);
}

TEST_F(SaveSectionTest, RelinksOnlyWhatTheLoadMadeInReadOrder) {
    // An instance that lives before the load keeps its place; a tree of the
    // section whose top names it as parent is appended under it once.
    Inst3D* a = B3D_AllocInst();  // 2
    Inst3D* b = B3D_AllocInst();  // 3
    Inst3D* c = B3D_AllocInst();  // 4
    Adopt(a, b);
    Adopt(a, c);
    Bytes section = Save();
    FreshEngine();
    ASSERT_EQ(Load(section), 1);
    Inst3D* top = B3D_InstFind(2);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(B3D_First<Inst3D>(&top->children), B3D_InstFind(3));
    EXPECT_EQ(B3D_Next(B3D_InstFind(3)), B3D_InstFind(4));
    EXPECT_EQ(B3D_ListCount(&top->children), 2);
    // A record whose parent is itself is refused as parent and logged.
    const size_t first = TagAt(section, "INST") + 4;
    PutWordAt(section, first + 4 * 3, 2);
    FreshEngine();
    LogCapture log;
    ASSERT_EQ(Load(section), 1);
    EXPECT_TRUE(log.Contains("B3D_LoadGame: Parent 2 of inst 2 is in its own tree\n"));
    EXPECT_EQ(B3D_InstFind(2)->parent, nullptr);
}

TEST_F(SaveSectionTest, AnIdAlreadyInUseIsRefused) {
    B3D_AllocInst();
    const Bytes b = Save();
    LogCapture log;
    EXPECT_EQ(Load(b), 0);  // id 2 lives already
    EXPECT_TRUE(log.Contains("B3D_LoadInst: Bad or used inst id 2\n"));
    EXPECT_EQ(Qel_TableGetCount(g_B3DState->instTable), 1u);
}

TEST_F(SaveSectionTest, RecordsBeyondTheLimitsAreRefused) {
    Inst3D* inst = B3D_AllocInst();
    inst->name = Qel_StrDup("x");
    const Bytes good = Save();
    const size_t record = TagAt(good, "INST") + 4;
    struct Case {
        int word;
        int32_t value;
        const char* message;
    };
    const Case cases[] = {{74, B3D_LOAD_MAX_MATERIALS + 1, "B3D_LoadInst: Bad material count 4097\n"},
                          {74, -1, "B3D_LoadInst: Bad material count -1\n"},
                          {78, -1, "B3D_LoadInst: Bad name length -1\n"},
                          {78, B3D_LOAD_MAX_NAME + 1, "B3D_LoadInst: Bad name length 65537\n"},
                          {0, 0, "B3D_LoadInst: Bad or used inst id 0\n"}};
    for (const Case& c : cases) {
        Bytes bad = good;
        PutWordAt(bad, record + 4 * static_cast<size_t>(c.word), c.value);
        FreshEngine();
        LogCapture log;
        EXPECT_EQ(Load(bad), 0) << c.message;
        EXPECT_TRUE(log.Contains(c.message)) << log.Text();
        EXPECT_EQ(Qel_TableGetCount(g_B3DState->instTable), 0u);
    }
}

TEST_F(SaveSectionTest, ATreeNestedTooDeeplyIsRefused) {
    Inst3D* parent = B3D_AllocInst();
    for (int32_t depth = 1; depth <= B3D_LOAD_MAX_DEPTH; ++depth) {
        Inst3D* child = B3D_AllocInst();
        Adopt(parent, child);
        parent = child;
    }
    const Bytes b = Save();
    FreshEngine();
    LogCapture log;
    EXPECT_EQ(Load(b), 0);
    EXPECT_TRUE(log.Contains("nested deeper than 1000\n"));
    // What was read stays, linked under its parents.
    EXPECT_EQ(Qel_TableGetCount(g_B3DState->instTable), static_cast<uint32_t>(B3D_LOAD_MAX_DEPTH));
    EXPECT_EQ(B3D_ListCount(&g_B3DState->freeInsts), 1);
}

TEST_F(SaveSectionTest, NothingOfTheRendererOrTheSoundChannelsComesBack) {
    Inst3D* inst = B3D_AllocInst();
    inst->flags |= INST_IN_RENDERER | INST_HIDDEN;
    inst->flags2 |= INST2_SOUND_CHANNEL | INST2_SKINNED;
    inst->soundChannel = 3;
    const uint32_t id = inst->id;
    const Bytes b = Save();
    FreshEngine();
    ASSERT_EQ(Load(b), 1);
    Inst3D* back = B3D_InstFind(id);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->flags, INST_HIDDEN);
    EXPECT_EQ(back->flags2, INST2_SKINNED);
    EXPECT_EQ(back->soundChannel, -1);
}

TEST_F(SaveSectionTest, LoadInstAloneLinksItsTree) {
    Inst3D* top = B3D_AllocInst();
    Adopt(top, B3D_LightAlloc());
    const uint32_t topId = top->id;
    const Bytes b = Save();
    FreshEngine();
    folder_->WriteBytes("tree.bin", Bytes(b.begin() + static_cast<long>(TagAt(b, "INST") + 4), b.end()));
    QelFile* f = Qel_fcopen("tree.bin", "rb", 0);
    system_->debugFlags = 0x80000000;
    LogCapture log;
    Inst3D* back = B3D_LoadInst(f);
    Qel_fclose(f);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->id, topId);
    EXPECT_EQ(B3D_ListCount(&back->children), 1);
    EXPECT_EQ(B3D_First<Inst3D>(&back->children)->parent, back);
    EXPECT_EQ(B3D_First<Inst3D>(&g_B3DState->freeInsts), back);
    const std::string light = std::to_string(topId + 1);
    EXPECT_TRUE(log.Contains("Loading Inst " + std::to_string(topId) + " []\n"));
    EXPECT_TRUE(log.Contains("Loading Light " + light + " []\n"));
    EXPECT_TRUE(log.Contains("Restore Light " + light + " []\n"));
}

TEST_F(SaveSectionTest, CutPositionsAreRestored) {
    TestCut cut(40, 1);
    QelVector pos{5 * ONE, -6 * ONE, 7, 0};
    QelMatrix m{};
    Qel_MatFromAngles(&m, 0x1000, 0, 0);
    J3D_SetCutPos(cut.cut(), &pos, &m);
    const Bytes b = Save();
    cut.Unload();
    FreshEngine();
    TestCut again(40, 1);
    ASSERT_EQ(again.cut()->flags & CUT_PLACED, 0u);
    ASSERT_EQ(Load(b), 1);
    EXPECT_TRUE(again.cut()->flags & CUT_PLACED);
    EXPECT_EQ(again.cut()->placePos.x, 5 * ONE);
    EXPECT_EQ(again.cut()->placePos.y, -6 * ONE);
    EXPECT_EQ(again.cut()->placePos.z, 7);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(again.cut()->placeMatrix.m[4 * r + c], m.m[4 * r + c]);
    again.Unload();
}

TEST_F(SaveSectionTest, TakesComeBackWithTheirInstanceArrays) {
    Scene3D* s = B3D_SceneAlloc();
    Inst3D* i1 = B3D_AllocInst();
    PutInScene(s, i1);
    Camera3D* cam = B3D_CameraAlloc();
    B3D_SceneLinkInst(s, cam);
    const uint32_t first = NewTake({})->id;  // nothing built
    J3D_Take* t = NewTake({i1, nullptr, &cam->inst});
    const uint32_t second = t->id, sceneId = s->id, i1Id = i1->id, camId = cam->inst.id;
    t->scene = s;
    t->cameraId = cam->inst.id;
    t->replyModule = 3;
    t->replyHandle = 44;
    t->state = TAKE_STOPPED;
    t->pos = {ONE, 0, 0, 0};
    t->offset = {0, 0, 9, 0};
    t->cameraPath = 5;
    const Bytes b = Save();
    FreshEngine();
    ASSERT_EQ(Load(b), 1);
    EXPECT_EQ(Qel_TableGetCount(g_B3DState->takeTable), 2u);
    J3D_Take* empty = J3D_TakeGet(first);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->insts, nullptr);
    J3D_Take* back = J3D_TakeGet(second);
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(back->instCount, 3);
    EXPECT_EQ(back->insts[0], B3D_InstFind(i1Id));
    EXPECT_EQ(back->insts[1], nullptr);
    EXPECT_EQ(back->insts[2], B3D_InstFind(camId));
    EXPECT_EQ(back->scene, B3D_SceneFind(sceneId));
    EXPECT_EQ(back->cameraId, camId);
    EXPECT_EQ(back->replyModule, 3);
    EXPECT_EQ(back->replyHandle, 44);
    EXPECT_EQ(back->state, TAKE_STOPPED);
    EXPECT_EQ(back->pos.x, ONE);
    EXPECT_EQ(back->offset.z, 9);
    EXPECT_EQ(back->cameraPath, 5);
    EXPECT_EQ(back->matrix.m[0], ONE);
}

TEST_F(SaveSectionTest, CheckSavedInstsFreesMenuTooltipAndTooltipBodyScenes) {
    const int32_t tooltip = B3D_GetBodyID("effects\\menugfx\\gui\\tooltip");
    ASSERT_GT(tooltip, 0);
    auto sceneWithCamera = [](int32_t priority) {
        Scene3D* s = B3D_SceneAlloc();
        Camera3D* c = B3D_CameraAlloc();
        B3D_SceneLinkInst(s, c);
        c->priority = priority;
        return s->id;
    };
    const uint32_t menu = sceneWithCamera(30), tip = sceneWithCamera(95), kept = sceneWithCamera(20);
    Scene3D* holder = B3D_SceneAlloc();
    Inst3D* top = B3D_AllocInst();
    PutInScene(holder, top);
    Inst3D* deep = B3D_AllocInst();
    Adopt(top, deep);
    deep->bodyId = tooltip;
    Scene3D* plain = B3D_SceneAlloc();  // instances without a body are no tooltip
    PutInScene(plain, B3D_AllocInst());
    const uint32_t holderId = holder->id, plainId = plain->id;
    LogCapture log;
    B3D_CheckSavedInsts();
    EXPECT_EQ(B3D_SceneFind(menu), nullptr);
    EXPECT_EQ(B3D_SceneFind(tip), nullptr);
    EXPECT_EQ(B3D_SceneFind(holderId), nullptr);
    EXPECT_NE(B3D_SceneFind(kept), nullptr);
    EXPECT_NE(B3D_SceneFind(plainId), nullptr);
    const std::string& t = log.Text();
    EXPECT_NE(t.find("Looking for insts that shouldn't have been saved...\n"), std::string::npos);
    EXPECT_NE(t.find("Inspecting scene... camera priority 30 **will free** moving on!\n"), std::string::npos);
    EXPECT_NE(t.find("Inspecting scene... camera priority 20 moving on!\n"), std::string::npos);
    EXPECT_NE(t.find("3 scenes marked for freeing...\nDone.\n"), std::string::npos);
}

TEST_F(SaveSectionTest, FreeLoadInstsFreesTheUnkeptAndClearsTheMarks) {
    Inst3D* gone = B3D_AllocInst();
    gone->flags2 = INST2_LOAD_INST;
    gone->bodyId = 12;
    Adopt(gone, B3D_AllocInst());
    Inst3D* kept = B3D_AllocInst();
    kept->flags2 = INST2_LOAD_INST | INST2_LOAD_KEEP | INST2_SKINNED;
    Inst3D* marked = B3D_AllocInst();
    marked->flags2 = INST2_LOAD_KEEP;
    const uint32_t goneId = gone->id;
    LogCapture log;
    B3D_FreeLoadInsts();
    EXPECT_TRUE(log.Contains("Removing load instance 2, bodyid 12\n"));
    EXPECT_EQ(B3D_InstFind(goneId), nullptr);
    EXPECT_EQ(B3D_InstFind(3), nullptr);
    EXPECT_EQ(kept->flags2, INST2_SKINNED);
    EXPECT_EQ(marked->flags2, 0u);
    EXPECT_EQ(Qel_TableGetCount(g_B3DState->instTable), 2u);
}

// Everything the section holds, saved, loaded into a fresh engine and saved
// again: the same bytes.
TEST_F(SaveSectionTest, RoundTripGivesTheSameBytes) {
    const uint32_t flareSceneId = B3D_MakeLensflareScene()->id;
    TestCut cut(21, 2);
    Scene3D* s = B3D_SceneAlloc();
    s->flags = SCENE_ENABLED;
    s->systemScale = 0.25f;
    s->ints[2] = 99;
    Inst3D* ship = B3D_AllocInst();
    ship->name = Qel_StrDup("ship");
    ship->bodyId = 300;
    B3D_InstSetPos(ship, ONE, 2 * ONE, -3 * ONE);
    ship->flags2 |= INST2_SKINNED;
    ship->pass = 2;
    ship->jobFlags = JOB_RUNNING | JOB_WAITING;
    ship->jobOrigin = 1000, ship->jobTo = 5000, ship->storyObject = 17, ship->cutId = 21, ship->pathNr = 1;
    ship->replyModule = 2, ship->replyHandle = 9, ship->soundId = 4;
    ship->rotQuat = {ONE, 1, 2, 3};
    ship->velocity[1] = 40;
    PutInScene(s, ship);
    Inst3D* bone = B3D_AllocInst();
    bone->name = Qel_StrDup("bone01");
    Adopt(ship, bone);
    bone->boundInst = ship;
    Inst3D* light = B3D_LightAlloc();
    light->lightColor[0] = 255, light->lightColor[1] = 0xFFFF, light->lightRange = 5000;
    Adopt(ship, light);
    g_B3DState->firstLight = light;
    Inst3D* animated = B3D_AllocInst();
    const int32_t textures[2] = {3, 4};
    animated->materialOverrides = TC_NewMaterials(nullptr, 2, textures, nullptr, nullptr, nullptr, nullptr);
    animated->materialOverrideCount = 2;
    animated->flareWord = 6;
    PutInScene(s, animated);
    Camera3D* cam = B3D_CameraAlloc();
    cam->inst.name = Qel_StrDup("main camera");
    B3D_SceneLinkInst(s, cam);
    B3D_CameraSetPri(cam, 40);
    B3D_CameraSetBackgroundColor(cam, 1, 2, 3);
    B3D_CameraSetFog(cam, 5, 6, 7);
    cam->environmentSource = ship;
    cam->motionTime = 123;
    Adopt(&cam->inst, B3D_AllocInst());
    Camera3D* spare = B3D_CameraAlloc();  // in no scene
    spare->focus = 99;
    J3D_Take* take = NewTake({ship, nullptr});
    take->cutId = 21;
    take->scene = s;
    QelVector at{0, ONE, 0, 0};
    J3D_SetCutPos(cut.cut(), &at, &cut.cut()->placeMatrix);
    g_B3DState->fadeValue = 3;
    g_B3DState->gammaValue = 140;

    // As in a running game, the enabled scene's trees are in the renderer.
    B3D_EnableAllObjects3D();
    const uint32_t shipId = ship->id, camId = cam->inst.id;
    const Bytes first = Save();
    cut.Unload();
    FreshEngine();
    TestCut again(21, 2);
    ASSERT_EQ(Load(first), 1);
    const Bytes second = Save();
    EXPECT_EQ(second, first);

    Inst3D* back = B3D_InstFind(shipId);
    ASSERT_NE(back, nullptr);
    EXPECT_STREQ(back->name, "ship");
    EXPECT_EQ(back->pos.y, 2 * ONE);
    EXPECT_EQ(B3D_ListCount(&back->children), 2);
    EXPECT_EQ(B3D_First<Inst3D>(&back->children)->boundInst, back);
    EXPECT_EQ(g_B3DState->firstLight->lightColor[1], 0xFFFF);
    EXPECT_EQ(g_B3DState->lensFlareScene, B3D_SceneFind(flareSceneId));
    EXPECT_EQ(g_B3DState->gammaValue, 140);
    auto* camBack = reinterpret_cast<Camera3D*>(B3D_InstFind(camId));
    ASSERT_NE(camBack, nullptr);
    EXPECT_EQ(camBack->priority, 40);
    EXPECT_EQ(camBack->environmentSource, back);
    EXPECT_TRUE(camBack->camFlags & CAM_ACTIVE);
    again.Unload();
}

}  // namespace
