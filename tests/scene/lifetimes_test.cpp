// Records that point at each other: a record that goes leaves no pointer
// behind in any other, wherever it is freed from, and relinking keeps parent,
// scene and list membership in agreement.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/file.h"
#include "body_fixture.h"
#include "cut_fixture.h"
#include "scene/allocs.h"
#include "scene/animation.h"
#include "scene/caches.h"
#include "scene/drawing.h"
#include "scene/freeing.h"
#include "scene/geometry.h"
#include "scene/ids.h"
#include "scene/jobs.h"
#include "scene/names.h"
#include "scene/replay.h"
#include "scene/savesection.h"
#include "scene/takes.h"
#include "scene/trees.h"
#include "scene_fixture.h"
#include "support/logcapture.h"
#include "support/spy_renderer.h"
#include "tools/lib/bodyconv.h"

namespace {

constexpr int32_t kModule = 2;

bool InList(const B3DList* list, const Inst3D* inst) {
    for (const Inst3D* i = B3D_First<Inst3D>(list); i; i = B3D_Next(i))
        if (i == inst) return true;
    return false;
}

class Lifetimes : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        scene = B3D_SceneAlloc();
        B3D_SceneEnable(scene);
    }
    Inst3D* InScene(Scene3D* sc) {
        Inst3D* i = B3D_AllocInst();
        B3D_InstAddToScene(i, sc);
        return i;
    }
    Scene3D* scene = nullptr;
};

// A camera freed by its own call goes through the one free: an instance that
// a "camera" note bound to it keeps no pointer that a save would read.
TEST_F(Lifetimes, ACameraFreedByItsCallLeavesNoBoundInstance) {
    Camera3D* camera = B3D_CameraAlloc();
    B3D_SceneLinkInst(scene, camera);
    Inst3D* shot = InScene(scene);
    shot->jobFlags |= JOB_DRIVES_BOUND;
    shot->boundInst = &camera->inst;
    shot->hitInst = &camera->inst;
    B3D_CameraFree(camera);
    EXPECT_EQ(shot->boundInst, nullptr);
    EXPECT_EQ(shot->hitInst, nullptr);
    TempGameFolder folder;
    QelFile* f = Qel_fcopen("scene.sav", "wb", 0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(B3D_SaveGame(f), 1);
    Qel_fclose(f);
}

// A camera put under an instance and then linked into a scene, or taken out
// of its scene, leaves the instance: nothing of the parent stays with it.
TEST_F(Lifetimes, ACameraRelinkedFromUnderAnInstanceLeavesIt) {
    Scene3D* other = B3D_SceneAlloc();
    for (const bool toOtherScene : {true, false}) {
        SCOPED_TRACE(toOtherScene ? "linked into a scene" : "taken out of its scene");
        Inst3D* parent = InScene(scene);
        parent->pos = {5 * QEL_FIX_ONE, 0, 0, 0};
        Camera3D* camera = B3D_CameraAlloc();
        camera->inst.pos = {QEL_FIX_ONE, 0, 0, 0};
        ASSERT_EQ(B3D_InstAddToInst(&camera->inst, parent), 1);
        ASSERT_EQ(camera->inst.scene, scene);
        if (toOtherScene) B3D_SceneLinkInst(other, camera);
        else B3D_CameraDeleteFromScene(camera);
        EXPECT_EQ(camera->inst.parent, nullptr);
        EXPECT_TRUE(B3D_ListIsEmpty(&parent->children));
        EXPECT_EQ(camera->inst.scene, toOtherScene ? other : nullptr);
        EXPECT_TRUE(InList(toOtherScene ? &other->cameras : &g_B3DState->freeInsts, &camera->inst));
        B3D_InstFree(parent);
        QelVector abs{};
        B3D_InstGetAbsPos(&camera->inst, &abs);
        EXPECT_EQ(abs.x, QEL_FIX_ONE) << "its own place, not the freed parent's";
        B3D_CameraFree(camera);
    }
}

// Taking a tree out of its scene reaches every child, past a camera among
// them; the subtree stays linked under its top.
TEST_F(Lifetimes, DeletingATreeFromItsSceneReachesEveryChild) {
    Inst3D* top = InScene(scene);
    Inst3D* first = B3D_AllocInst();
    Camera3D* camera = B3D_CameraAlloc();
    Inst3D* last = B3D_AllocInst();
    for (Inst3D* c : {first, &camera->inst, last}) B3D_InstAddToInst(c, top);
    B3D_InstDeleteFromScene(top, scene);
    EXPECT_TRUE(InList(&g_B3DState->freeInsts, top));
    for (Inst3D* c : {top, first, &camera->inst, last}) EXPECT_EQ(c->scene, nullptr) << c->id;
    for (Inst3D* c : {first, &camera->inst, last}) {
        EXPECT_EQ(c->parent, top);
        EXPECT_TRUE(InList(&top->children, c)) << c->id;
    }
    // A sub-instance taken out on its own leaves its parent, which stays.
    B3D_InstAddToScene(top, scene);
    B3D_InstDeleteFromScene(first, scene);
    EXPECT_EQ(first->parent, nullptr);
    EXPECT_TRUE(InList(&g_B3DState->freeInsts, first));
    EXPECT_EQ(top->scene, scene);
}

// A bone that goes (a take's path instance, for one) leaves a gap in the
// skin's bones, which the placement skips.
TEST_F(Lifetimes, AFreedBoneLeavesNoPointerInItsSkin) {
    Inst3D* skin = InScene(scene);
    Inst3D* bones[2] = {InScene(scene), InScene(scene)};
    bones[1]->pos = {4 * QEL_FIX_ONE, 0, 0, 0};
    skin->flags2 |= INST2_SKINNED;
    skin->boneCount = 2;
    skin->bones = static_cast<Inst3D**>(B3D_AllocMemI(2 * static_cast<int32_t>(sizeof(Inst3D*))));
    skin->bones[0] = bones[0];
    skin->bones[1] = bones[1];
    B3D_InstFree(bones[0]);
    EXPECT_EQ(skin->bones[0], nullptr);
    EXPECT_EQ(skin->bones[1], bones[1]);
    B3D_SceneRotate2(scene);
    EXPECT_EQ(skin->worldPos.x, 4 * QEL_FIX_ONE);
}

// The bones array goes with its instance even when a script cleared the
// skinned bit after the bones were made.
TEST_F(Lifetimes, TheBonesGoWhateverTheSkinnedBitSays) {
    const int32_t before = g_B3DState->poolIBytes;
    Inst3D* skin = InScene(scene);
    skin->boneCount = 3;
    skin->bones = static_cast<Inst3D**>(B3D_AllocMemI(3 * static_cast<int32_t>(sizeof(Inst3D*))));
    skin->flags2 &= ~INST2_SKINNED;
    B3D_InstFree(skin);
    EXPECT_EQ(g_B3DState->poolIBytes, before);
}

// The pick ray is tested in a camera's scene but lives in no scene: a freed
// scene leaves nothing in it for a save or the location reset to read.
TEST_F(Lifetimes, ThePickRayKeepsNoScene) {
    system_->SysFlags |= B3D_SYSTEM_FLARE_TEST;
    Scene3D* shown = B3D_SceneAlloc();
    Camera3D* camera = B3D_CameraAlloc();
    B3D_SceneLinkInst(shown, camera);
    camera->inst.worldMatrix = camera->inst.matrix;
    B3DCameraItem item{};
    B3D_PickFlareItem(&item, camera);
    Inst3D* ray = g_B3DState->lensFlareCheck;
    ASSERT_NE(ray, nullptr);
    EXPECT_EQ(ray->scene, nullptr);
    B3D_SceneFree(shown);
    EXPECT_EQ(ray->scene, nullptr);
    EXPECT_TRUE(InList(&g_B3DState->freeInsts, ray));
    B3D_ReplayFreeAll();
    EXPECT_EQ(g_B3DState->lensFlareCheck, nullptr);
}

// The memory flush counts the trees under a scene's cameras too: their
// bodies are in use.
TEST_F(Lifetimes, TheFlushKeepsBodiesShownUnderCameras) {
    auto* body = static_cast<Body3D*>(B3D_AllocMemB(sizeof(Body3D), B3D_MEM_ZERO));
    body->id = 12;
    B3D_LinkBody(body);
    Camera3D* camera = B3D_CameraAlloc();
    B3D_SceneLinkInst(scene, camera);
    Inst3D* shown = B3D_AllocInst();
    B3D_InstAddToInst(shown, &camera->inst);
    shown->bodyId = 12;
    B3D_MemoryFlush(g_B3DState);
    EXPECT_EQ(B3D_FindBody(12), body);
    B3D_FreeAllBodies();
}

// A dynamic body id handed to a new name after the dynamic slots were reset
// starts as a fresh slot: no collision word or file entry of the old holder.
TEST_F(Lifetimes, AReusedDynamicBodySlotStartsFresh) {
    const int32_t first = B3D_GetBodyID("alpha");
    ASSERT_EQ(first, B3D_FIRST_DYNAMIC_BODY);
    B3DBodySlot* slot = B3D_BodySlotOf(first);
    slot->collWord = -1;
    slot->fileEntry = 7;
    slot->data = 3;
    slot->useCount = 2;
    B3D_ResetDynamicBodyIds();
    EXPECT_EQ(B3D_GetBodyID("beta"), first);
    EXPECT_EQ(B3D_BodyGetCollWord(first), 0);
    EXPECT_EQ(B3D_BodyGetFileEntry(first), 0);
    EXPECT_EQ(B3D_BodySlotOf(first)->data, 0);
    EXPECT_EQ(B3D_BodySlotOf(first)->useCount, 0);
}

// A body freed while instances show it takes them out of the renderer first:
// its device geometry goes with it and their later removal finds nothing
// missing.
class ShownBodies : public BodyTest {
protected:
    void SetUp() override {
        BodyTest::SetUp();
        renderer_ = std::make_unique<SpyRenderer>();
        ASSERT_TRUE(renderer_->made);
        std::string text, error;
        ASSERT_TRUE(Tool_ModelToTextBody("name tri\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", &text, &error)) << error;
        WriteBody(12, text);
    }
    void TearDown() override {
        BodyTest::TearDown();
        renderer_.reset();
    }
    std::unique_ptr<SpyRenderer> renderer_;
};

TEST_F(ShownBodies, AFreedBodyTakesItsInstancesOutOfTheRenderer) {
    Scene3D* scene = B3D_SceneAlloc();
    B3D_SceneEnable(scene);
    Inst3D* shown[2] = {B3D_AllocInst(), B3D_AllocInst()};
    for (Inst3D* i : shown) {
        ASSERT_EQ(B3D_InstSetBody(i, 12), 1);
        B3D_InstAddToScene(i, scene);
        ASSERT_TRUE(i->flags & INST_IN_RENDERER);
    }
    ASSERT_GT(renderer_->renderer.bufferBytes, 0);
    LogCapture log;
    B3D_FreeBody(static_cast<Body3D*>(B3D_FindBody(12)));
    EXPECT_EQ(renderer_->renderer.bufferBytes, 0);
    EXPECT_EQ(renderer_->LiveObjects(), 0);
    for (Inst3D* i : shown) EXPECT_FALSE(i->flags & INST_IN_RENDERER);
    B3D_SceneFree(scene);
    EXPECT_FALSE(log.Contains("can't find bodyarray")) << log.Text();
}

// Freeing a cut answers what plays it: its takes stop and the jobs on its
// paths end, each waiting caller told once.
class FreedCuts : public CutTest {};

TEST_F(FreedCuts, FreeingACutAnswersWhatPlaysIt) {
    ReplyModule module(kModule);
    WriteBinaryCut(3, TakeCutSource());
    J3D_Cut* cut = J3D_GetCut(3);
    ASSERT_NE(cut, nullptr);
    Scene3D* scene = B3D_SceneAlloc();
    J3D_Take* take = J3D_TakeAlloc();
    ASSERT_EQ(J3D_TakeStartInScene(take, cut, scene, nullptr), 1);
    take->replyModule = kModule;
    take->replyHandle = 1;
    Inst3D* alone = B3D_AllocInst();
    J3D_JobStartInst(alone, 0, 2, cut, 0, 0);
    alone->jobFlags |= JOB_WAITING;
    alone->replyModule = kModule;
    alone->replyHandle = 2;
    J3D_FreeCut(cut);
    EXPECT_EQ(ReplyModule::Replies(), (Replies{{1u, B3D_REPLY_TAKE_STOPPED}, {2u, B3D_REPLY_JOB_STOPPED}}));
    EXPECT_EQ(take->state, TAKE_STOPPED);
    EXPECT_TRUE(alone->jobFlags & JOB_STOPPED);
    J3D_TakeFree(take);
    EXPECT_EQ(ReplyModule::Replies().size(), 2u);
}

}  // namespace
