#include "scene/freeing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/standin_calls.h"
#include "base/strings.h"
#include "body_fixture.h"
#include "scene/allocs.h"
#include "scene/bodyrecord.h"
#include "scene/caches.h"
#include "scene/ids.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "support/logcapture.h"

namespace {

class SceneFreeing : public BodyTest {
protected:
    void TearDown() override {
        StandIn_Reset();
        BodyTest::TearDown();
    }
    // An empty body linked into the body list and table.
    static Body3D* NewBody(int32_t id, int32_t lastUse = 0) {
        auto* b = static_cast<Body3D*>(B3D_AllocMemB(sizeof(Body3D), B3D_MEM_ZERO));
        b->id = id;
        b->lastUse = lastUse;
        B3D_LinkBody(b);
        return b;
    }
    static bool Loaded(int32_t id) { return B3D_FindBody(id) != nullptr; }
    static Inst3D* NewInst(int32_t body, Inst3D* parent = nullptr, Scene3D* scene = nullptr) {
        Inst3D* i = B3D_AllocInst();
        i->bodyId = body;
        if (parent) {
            B3D_ListRemove(B3D_Node(i));
            B3D_ListAppend(&parent->children, B3D_Node(i));
            i->parent = parent;
            i->scene = parent->scene;
        } else if (scene) {
            B3D_ListRemove(B3D_Node(i));
            B3D_ListAppend(&scene->insts, B3D_Node(i));
            i->scene = scene;
        }
        return i;
    }
};

TEST_F(SceneFreeing, FlushWithoutBodiesLogsNoneOfNone) {
    LogCapture log;
    B3D_MemoryFlush(g_B3DState);
    EXPECT_EQ(log.Text(), "B3D_MemoryFlush(): freed 0 of 0 bodies\n");
    B3D_MemoryFlush(nullptr);  // before the scene engine starts
}

TEST_F(SceneFreeing, FlushFreesTheBodiesNoTreeShows) {
    for (int32_t id : {10, 11, 12, 13, 14, 5000}) NewBody(id);
    Scene3D* scene = B3D_SceneAlloc();
    Inst3D* top = NewInst(10, nullptr, scene);
    NewInst(12, top);
    NewInst(12, top);
    Inst3D* loose = NewInst(14);  // in no scene
    NewInst(11, loose);
    NewInst(-1, loose);                // no body
    B3D_InstFree(NewInst(13));         // showed body 13 until it went
    B3D_BodySlotOf(13)->useCount = 7;  // stale counts are counted afresh
    LogCapture log;
    B3D_MemoryFlush(g_B3DState);
    // 13 goes; 5000 has no slot and is never freed here.
    EXPECT_EQ(log.Text(), "B3D_MemoryFlush(): freed 1 of 6 bodies\n");
    for (int32_t id : {10, 11, 12, 14, 5000}) EXPECT_TRUE(Loaded(id)) << id;
    EXPECT_FALSE(Loaded(13));
    const struct { int32_t id, uses; } counts[] = {{10, 1}, {11, 1}, {12, 2}, {13, 0}, {14, 1}};
    for (const auto& c : counts) EXPECT_EQ(B3D_BodySlotOf(c.id)->useCount, c.uses) << c.id;
}

TEST_F(SceneFreeing, AgeingFreesBodiesNotDrawnThisFrame) {
    const int32_t wrap = 32400000;
    const struct {
        int32_t clock, lastUse;
        bool stays;
    } cases[] = {
        {wrap - 1, 0, true},          // never drawn: never aged
        {wrap - 1, wrap - 1, true},   // drawn this frame
        {wrap - 1, wrap - 2, true},   // 1 ms ago
        {wrap - 1, wrap - 3, false},  // the frame before
        {wrap - 1, 1, true},          // across the wrap: 2 ms ahead of the clock
        {1, wrap - 1, false},         // across the wrap: 2 ms ago
        {0, wrap - 1, true},          // 1 ms ago across the wrap
        {5000000, 1000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.clock << " " << c.lastUse);
        SetClock(c.clock);
        NewBody(30, c.lastUse);
        NewBody(100030, c.lastUse == 0 ? 1 : c.lastUse);  // embedded in a cut: never aged
        B3D_AgeBodies();
        EXPECT_EQ(Loaded(30), c.stays);
        EXPECT_TRUE(Loaded(100030));
        B3D_FreeAllBodies();
        EXPECT_EQ(B3D_ListFirst(&g_B3DState->bodies), nullptr);
    }
}

// A cut of three paths built as the readers build them.
J3D_Cut* NewCut(uint32_t id) {
    auto* cut = static_cast<J3D_Cut*>(B3D_AllocMemJ(sizeof(J3D_Cut), B3D_MEM_ZERO));
    cut->id = id;
    cut->pathCount = 3;
    cut->paths = static_cast<J3D_CutPath*>(B3D_AllocMemJ(3 * sizeof(J3D_CutPath), B3D_MEM_ZERO));
    const struct {
        int32_t reference;
        uint32_t flags;
    } paths[] = {{200007, PATH_BODY}, {10, PATH_BODY}, {100001, PATH_CUT}};
    for (int32_t p = 0; p < 3; ++p) {
        J3D_CutPath& path = cut->paths[p];
        path.reference = paths[p].reference;
        path.flags = paths[p].flags;
        path.name = p == 1 ? nullptr : Qel_StrDup("path");
        path.posCount = 2;
        path.posKeys = static_cast<J3D_MotionKey*>(B3D_AllocMemJ(2 * sizeof(J3D_MotionKey), B3D_MEM_ZERO));
        path.rollCount = 1;
        path.rollKeys = static_cast<J3D_RollKey*>(B3D_AllocMemJ(sizeof(J3D_RollKey), B3D_MEM_ZERO));
        path.colorCount = 3;
        path.colorKeys = static_cast<J3D_ColorKey*>(B3D_AllocMemJ(3 * sizeof(J3D_ColorKey), B3D_MEM_ZERO));
        path.noteCount = 2;
        path.notes = static_cast<J3D_Note*>(B3D_AllocMemJ(2 * sizeof(J3D_Note), B3D_MEM_ZERO));
        path.notes[0].text = Qel_StrDup("a note");  // the second has no text
        path.constraintCount = 1;
        path.constraints = static_cast<J3D_Constraint*>(B3D_AllocMemJ(sizeof(J3D_Constraint), B3D_MEM_ZERO));
    }
    Qel_TableSet(g_B3DState->cutTable, id, reinterpret_cast<uintptr_t>(cut));
    return cut;
}

TEST_F(SceneFreeing, FreeingACutFreesItsEmbeddedBodies) {
    for (int32_t id : {200007, 10, 100001}) NewBody(id);
    const int32_t before = g_B3DState->poolJBytes;
    J3D_Cut* cut = NewCut(3);
    LogCapture log;
    J3D_FreeCut(cut);
    EXPECT_EQ(log.Text(), "J3D_FreeCut() freeing cut 3\n");
    EXPECT_EQ(Qel_TableGet(g_B3DState->cutTable, 3), 0u);
    EXPECT_FALSE(Loaded(200007));  // embedded in the cut's file
    EXPECT_TRUE(Loaded(10));       // of the catalogue
    EXPECT_TRUE(Loaded(100001));   // the third path names a cut, not a body
    EXPECT_EQ(g_B3DState->poolJBytes, before);
}

TEST_F(SceneFreeing, FreeCutEntryFreesEveryCutAndBody) {
    NewCut(3);
    NewCut(4);
    for (int32_t id : {200007, 10, 77}) NewBody(id);
    J3D_FreeCutEntry();
    EXPECT_EQ(Qel_TableGetCount(g_B3DState->cutTable), 0u);
    EXPECT_EQ(B3D_ListFirst(&g_B3DState->bodies), nullptr);
    EXPECT_EQ(g_B3DState->poolJBytes, 0);
    EXPECT_EQ(g_B3DState->poolBBytes, 0);
}

TEST_F(SceneFreeing, AKeptBodyTakesItsGeometryAlong) {
    Body3D* body = NewBody(40);
    ASSERT_NE(B3D_AllocBodyLevel(body), nullptr);
    ASSERT_NE(B3D_AllocBodyLevel(body), nullptr);
    body->flags |= BODY_KEEPD3D;
    NewBody(41);
    ASSERT_NE(B3D_AllocBodyLevel(static_cast<Body3D*>(B3D_FindBody(41))), nullptr);
    system_->debugFlags |= 0x2000;
    LogCapture log;
    B3D_FreeAllBodies();
    const std::string line = "B3D_FreeBody() bodyid 40 marked as KEEPD3D, now freed!\n";
    EXPECT_EQ(log.Text(), line + line);  // one per level
    EXPECT_EQ(g_B3DState->poolBBytes, 0);
}

TEST_F(SceneFreeing, ResetBodyPartsUnbindsEveryMaterial) {
    Body3D* body = NewBody(50);
    const uint16_t before[] = {0, 5, 0x7FFF, 0x8000, 0xFFFF};
    const uint16_t after[] = {0xFFFF, 0xFFFF, 0xFFFF, 0x8000, 0xFFFF};
    body->materialCount = 5;
    body->materials = static_cast<BodyMaterial*>(B3D_AllocMemB(5 * sizeof(BodyMaterial), B3D_MEM_ZERO));
    for (int m = 0; m < 5; ++m) body->materials[m].derivedIndex = before[m];
    B3D_ResetBodyParts();
    for (int m = 0; m < 5; ++m) EXPECT_EQ(body->materials[m].derivedIndex, after[m]) << m;
}

Inst3D* Sounding(Inst3D* inst, int32_t channel) {
    inst->flags2 |= INST2_SOUND_CHANNEL;
    inst->soundChannel = channel;
    return inst;
}

bool StillSounding(const Inst3D* inst) { return inst->flags2 & INST2_SOUND_CHANNEL; }

TEST_F(SceneFreeing, ScenesUpdateFlagsStopsTheSoundsOfListenedScenes) {
    // Scenes in list order: enabled with a listener, enabled without one,
    // disabled, enabled with a listener (not reached: the walk ends at the
    // first disabled scene).
    Scene3D* scenes[4];
    const uint32_t sceneFlags[] = {SCENE_ENABLED, SCENE_ENABLED, 0, SCENE_ENABLED};
    const uint32_t camFlags[] = {CAM_ACTIVE | CAM_LISTENER, CAM_ACTIVE, CAM_ACTIVE | CAM_LISTENER,
                                 CAM_ACTIVE | CAM_LISTENER};
    Inst3D* tops[4];
    for (int s = 0; s < 4; ++s) {
        scenes[s] = B3D_SceneAlloc();
        scenes[s]->flags = sceneFlags[s];
        Camera3D* cam = B3D_CameraAlloc();
        B3D_SceneLinkInst(scenes[s], cam);
        cam->camFlags = camFlags[s];
        tops[s] = Sounding(NewInst(1, nullptr, scenes[s]), 3 + s);
    }
    Inst3D* child = Sounding(NewInst(1, tops[0]), 9);
    Inst3D* quiet = NewInst(1, tops[0]);
    LogCapture log;
    B3D_ScenesUpdateFlags();
    EXPECT_FALSE(StillSounding(tops[0]));
    EXPECT_EQ(tops[0]->soundChannel, -1);
    EXPECT_FALSE(StillSounding(child));
    EXPECT_EQ(child->soundChannel, -1);
    EXPECT_FALSE(StillSounding(quiet));
    EXPECT_EQ(quiet->soundChannel, 0);  // never had a channel: untouched
    for (int s = 1; s < 4; ++s) EXPECT_TRUE(StillSounding(tops[s])) << s;
    // The channels were asked to stop (there is no sound device here).
    EXPECT_TRUE(log.Contains("Int_StopSoundEffect(3)"));
    EXPECT_TRUE(log.Contains("Int_StopSoundEffect(9)"));
    EXPECT_FALSE(log.Contains("Int_StopSoundEffect(4)"));
}

TEST_F(SceneFreeing, RemovingFromTheRenderer) {
    Inst3D* light = B3D_LightAlloc();
    light->name = Qel_StrDup("lamp");
    light->flags |= INST_IN_RENDERER;
    Inst3D* inst = Sounding(NewInst(1), 6);
    inst->flags |= INST_IN_RENDERER;
    Inst3D* outside = NewInst(1);
    system_->debugFlags |= 0x2000;
    LogCapture log;
    B3D_InstRemoveFromRenderer(light);
    B3D_InstRemoveFromRenderer(inst);
    B3D_InstRemoveFromRenderer(outside);  // not in the renderer: nothing
    EXPECT_TRUE(log.Contains("del light(lamp)\n"));
    EXPECT_TRUE(log.Contains("Int_StopSoundEffect(6)"));
    EXPECT_EQ(light->flags & INST_IN_RENDERER, 0u);
    EXPECT_EQ(inst->flags & INST_IN_RENDERER, 0u);
    EXPECT_FALSE(StillSounding(inst));
    EXPECT_EQ(inst->soundChannel, -1);
}

TEST_F(SceneFreeing, InitRendererReportsAFailedStart) {
    // No device here: the renderer cannot start.
    LogCapture log;
    EXPECT_EQ(B3D_InitRenderer(), 0);
    EXPECT_TRUE(log.Contains("S_3DInit() failed\n"));
}

}  // namespace
