#include "scene/trees.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/strings.h"
#include "body_fixture.h"
#include "platform/win32/memory.h"
#include "scene/allocs.h"
#include "scene/bodyrecord.h"
#include "scene/caches.h"
#include "scene/geometry.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "support/logcapture.h"
#include "tools/lib/bodyconv.h"

namespace {

constexpr int32_t ONE = QEL_FIX_ONE;
constexpr int32_t kModule = 3;

int CountOf(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

class SceneTrees : public BodyTest {
protected:
    void SetUp() override {
        BodyTest::SetUp();
        replies_ = std::make_unique<ReplyModule>(kModule);
    }
    void TearDown() override {
        g_Win32MemorySeam = {};
        replies_.reset();
        BodyTest::TearDown();
    }
    // A body without geometry in the cache: the renderer takes it without a device.
    static Body3D* NewBody(int32_t id, const char* name = nullptr, int32_t radius = -1) {
        auto* b = static_cast<Body3D*>(B3D_AllocMemB(sizeof(Body3D), B3D_MEM_ZERO));
        b->id = id;
        if (name) b->name = Qel_StrDup(name);
        B3D_LinkBody(b);
        if (radius >= 0) {
            BodyLevel* level = B3D_AllocBodyLevel(b);
            B3D_AllocBodyPart(level)->radius = radius;
        }
        return b;
    }
    static Inst3D* NewInst(int32_t body = 1) {
        Inst3D* i = B3D_AllocInst();
        i->bodyId = body;
        return i;
    }
    static std::vector<Inst3D*> Children(const Inst3D* inst) {
        std::vector<Inst3D*> out;
        for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) out.push_back(c);
        return out;
    }
    static std::vector<Inst3D*> Tops(const B3DList* list) {
        std::vector<Inst3D*> out;
        for (Inst3D* c = B3D_First<Inst3D>(list); c; c = B3D_Next(c)) out.push_back(c);
        return out;
    }
    static bool InRenderer(const Inst3D* i) { return i->flags & INST_IN_RENDERER; }
    static Scene3D* EnabledScene() {
        Scene3D* s = B3D_SceneAlloc();
        B3D_SceneEnable(s);
        return s;
    }
    static const Replies& Sent() { return ReplyModule::Replies(); }

    std::unique_ptr<ReplyModule> replies_;
};

TEST_F(SceneTrees, AddingToSceneBTakesTheTreeOutOfSceneAFirst) {
    NewBody(1);
    Scene3D* a = EnabledScene();
    Scene3D* b = B3D_SceneAlloc();
    Inst3D* top = NewInst();
    Inst3D* child = NewInst();
    Inst3D* grandchild = NewInst();
    ASSERT_EQ(B3D_InstAddToInst(child, top), 1);
    ASSERT_EQ(B3D_InstAddToInst(grandchild, child), 1);
    B3D_InstAddToScene(top, a);
    EXPECT_EQ(Tops(&a->insts), std::vector<Inst3D*>{top});
    for (Inst3D* i : {top, child, grandchild}) {
        EXPECT_EQ(i->scene, a);
        EXPECT_TRUE(InRenderer(i));
    }
    B3D_InstAddToScene(top, b);  // b is disabled
    EXPECT_TRUE(Tops(&a->insts).empty());
    EXPECT_EQ(Tops(&b->insts), std::vector<Inst3D*>{top});
    EXPECT_EQ(Children(top), std::vector<Inst3D*>{child});
    for (Inst3D* i : {top, child, grandchild}) {
        EXPECT_EQ(i->scene, b);
        EXPECT_FALSE(InRenderer(i));
    }
    // A child taken into a scene leaves its parent; its parent's radius is stale.
    top->totalRadius = 5;
    B3D_InstAddToScene(child, a);
    EXPECT_TRUE(Children(top).empty());
    EXPECT_EQ(child->parent, nullptr);
    EXPECT_EQ(top->totalRadius, -1);
    EXPECT_EQ(grandchild->scene, a);
    EXPECT_TRUE(InRenderer(grandchild));
    // Out of the scene: into the list of instances in no scene.
    B3D_InstDeleteFromScene(child, a);
    EXPECT_TRUE(Tops(&a->insts).empty());
    EXPECT_EQ(B3D_ListLast(&g_B3DState->freeInsts), B3D_Node(child));
    EXPECT_EQ(grandchild->scene, nullptr);
    EXPECT_FALSE(InRenderer(grandchild));
    LogCapture log;
    B3D_InstDeleteFromScene(child, a);
    EXPECT_EQ(log.Text(), "B3D_InstDeleteFromScene() Inst not in Scene (body=1)!\n");
}

TEST_F(SceneTrees, AChildJoinsItsParentsSceneAndCyclesAreRefused) {
    NewBody(1);
    Scene3D* scene = EnabledScene();
    Inst3D* top = NewInst();
    Inst3D* child = NewInst();
    Inst3D* grandchild = NewInst();
    B3D_InstAddToScene(top, scene);
    B3D_InstAddToInst(child, top);
    B3D_InstAddToInst(grandchild, child);
    EXPECT_EQ(grandchild->scene, scene);
    EXPECT_TRUE(InRenderer(grandchild));
    LogCapture log;
    EXPECT_EQ(B3D_InstAddToInst(top, top), 0);
    EXPECT_EQ(B3D_InstAddToInst(top, grandchild), 0);
    EXPECT_EQ(log.Text(), "B3D_InstAddToInst() Inst " + std::to_string(top->id) +
                              " can't be put under itself or its own child " + std::to_string(top->id) + "!\n" +
                              "B3D_InstAddToInst() Inst " + std::to_string(top->id) +
                              " can't be put under itself or its own child " + std::to_string(grandchild->id) + "!\n");
    EXPECT_EQ(Tops(&scene->insts), std::vector<Inst3D*>{top});
    EXPECT_EQ(top->parent, nullptr);
    EXPECT_EQ(Children(child), std::vector<Inst3D*>{grandchild});
    // Moving a subtree within its own tree is allowed.
    EXPECT_EQ(B3D_InstAddToInst(grandchild, top), 1);
    EXPECT_EQ(Children(top), (std::vector<Inst3D*>{child, grandchild}));
}

TEST_F(SceneTrees, FreeingAParentAnswersEachWaitingScriptOnce) {
    Scene3D* scene = EnabledScene();
    Inst3D* top = NewInst(-1);
    Inst3D* kids[3] = {NewInst(-1), NewInst(-1), NewInst(-1)};
    B3D_InstAddToScene(top, scene);
    B3D_InstAddToInst(kids[0], top);
    B3D_InstAddToInst(kids[1], top);
    B3D_InstAddToInst(kids[2], kids[1]);
    const uint32_t ids[] = {top->id, kids[0]->id, kids[1]->id, kids[2]->id};
    Inst3D* waiting[] = {top, kids[0], kids[2]};
    for (int i = 0; i < 3; ++i) {
        waiting[i]->jobFlags |= JOB_WAITING;
        waiting[i]->replyModule = kModule;
        waiting[i]->replyHandle = 70 + i;
    }
    const int32_t before = g_B3DState->poolIBytes;
    B3D_InstFree(top);
    // The parent answers first, then its children in list order.
    EXPECT_EQ(Sent(), (Replies{{70, 2}, {71, 2}, {72, 2}}));
    for (uint32_t id : ids) EXPECT_EQ(B3D_InstFind(id), nullptr);
    EXPECT_TRUE(Tops(&scene->insts).empty());
    EXPECT_EQ(g_B3DState->poolIBytes, before - 4 * static_cast<int32_t>(sizeof(Inst3D)));
}

TEST_F(SceneTrees, FreeingDropsEveryReferenceToTheFreedTree) {
    Scene3D* lensflares = B3D_MakeLensflareScene();
    Scene3D* scene = EnabledScene();
    Camera3D* cams[2] = {B3D_CameraAlloc(), B3D_CameraAlloc()};
    Inst3D* marked = NewInst(-1);
    marked->name = Qel_StrDup("sun");
    Inst3D* child = NewInst(-1);
    B3D_InstAddToScene(marked, scene);
    B3D_InstAddToInst(child, marked);
    std::vector<uint32_t> flareIds;
    for (Camera3D* cam : cams) {
        B3D_SceneLinkInst(scene, cam);
        // A lens-flare item of another instance stays.
        auto* other = B3D_AllocRecordI<B3DCameraItem>();
        other->key = 999;
        B3D_ListAppend(&cam->items, B3D_Node(other));
        auto* item = B3D_AllocRecordI<B3DCameraItem>();
        item->key = static_cast<int32_t>(marked->id);
        Inst3D* flare = NewInst(-1);
        B3D_InstAddToScene(flare, lensflares);
        flareIds.push_back(flare->id);
        item->insts[0] = flare;
        B3D_ListAppend(&cam->items, B3D_Node(item));
        cam->environmentSource = child;
        B3D_FaceCameraInst(cam, marked);
        cam->collected[cam->collectedCount++] = child;
        cam->collected[cam->collectedCount++] = &cams[0]->inst;
    }
    Inst3D* witness = NewInst(-1);
    witness->hitInst = child;
    witness->boundInst = marked;
    J3D_Take* take = J3D_TakeAlloc();
    take->instCount = 3;
    take->insts = static_cast<Inst3D**>(B3D_AllocMemJ(3 * sizeof(Inst3D*), B3D_MEM_ZERO));
    take->insts[0] = child;
    take->insts[1] = witness;
    take->insts[2] = marked;
    const uint32_t markedId = marked->id;
    LogCapture log;
    B3D_InstFree(marked);
    EXPECT_EQ(CountOf(log.Text(),
                      "Last chance removing CameraLight called for instance " + std::to_string(markedId) + "[sun]\n"),
              2);
    for (Camera3D* cam : cams) {
        ASSERT_EQ(B3D_ListCount(&cam->items), 1);
        EXPECT_EQ(B3D_First<B3DCameraItem>(&cam->items)->key, 999);
        EXPECT_EQ(cam->environmentSource, nullptr);
        EXPECT_TRUE(B3D_ListIsEmpty(&cam->facing));
        EXPECT_EQ(cam->collectedCount, 1);
        EXPECT_EQ(cam->collected[0], &cams[0]->inst);
    }
    for (uint32_t id : flareIds) EXPECT_EQ(B3D_InstFind(id), nullptr);  // freed with their items
    EXPECT_TRUE(Tops(&lensflares->insts).empty());
    EXPECT_EQ(witness->hitInst, nullptr);
    EXPECT_EQ(witness->boundInst, nullptr);
    EXPECT_EQ(take->insts[0], nullptr);
    EXPECT_EQ(take->insts[1], witness);
    EXPECT_EQ(take->insts[2], nullptr);
    // A flare instance freed on its own leaves an empty slot, not a dangling one.
    auto* item = B3D_AllocRecordI<B3DCameraItem>();
    item->key = static_cast<int32_t>(witness->id);
    item->insts[3] = NewInst(-1);
    B3D_ListAppend(&cams[1]->items, B3D_Node(item));
    B3D_SceneFree(lensflares);
    B3D_InstFree(item->insts[3]);
    EXPECT_EQ(item->insts[3], nullptr);
    B3D_InstFree(witness);
    EXPECT_EQ(B3D_ListCount(&cams[1]->items), 1);
}

TEST_F(SceneTrees, FreeingASceneFreesItsTreesAndCamerasWithTheirReplies) {
    Scene3D* doomed = EnabledScene();
    Scene3D* other = EnabledScene();
    Camera3D* watcher = B3D_CameraAlloc();
    B3D_SceneLinkInst(other, watcher);
    Camera3D* cam = B3D_CameraAlloc();
    B3D_SceneLinkInst(doomed, cam);
    Inst3D* top = NewInst(-1);
    Inst3D* child = NewInst(-1);
    B3D_InstAddToScene(top, doomed);
    B3D_InstAddToInst(child, top);
    watcher->environmentSource = child;
    Inst3D* outside = NewInst(-1);
    outside->hitInst = top;
    child->jobFlags |= JOB_WAITING;
    child->replyModule = kModule;
    child->replyHandle = 9;
    cam->inst.jobFlags |= JOB_WAITING;
    cam->inst.replyModule = kModule;
    cam->inst.replyHandle = 10;
    J3D_Take* take = J3D_TakeAlloc();
    take->scene = doomed;
    const uint32_t ids[] = {doomed->id, top->id, child->id, cam->inst.id};
    B3D_SceneFree(doomed);
    EXPECT_EQ(take->scene, nullptr);
    EXPECT_EQ(Sent(), (Replies{{9, 2}, {10, 3}}));
    EXPECT_EQ(B3D_SceneFind(ids[0]), nullptr);
    for (int i = 1; i < 4; ++i) EXPECT_EQ(B3D_InstFind(ids[i]), nullptr) << i;
    EXPECT_EQ(watcher->environmentSource, nullptr);
    EXPECT_EQ(outside->hitInst, nullptr);
    EXPECT_EQ(B3D_ListCount(&g_B3DState->scenes), 1);
}

TEST_F(SceneTrees, TheSameBodyTwiceDoesNothingAndBodyZeroAlwaysReloads) {
    NewBody(0, "zero");
    NewBody(10, "ten", 3 * ONE);
    Inst3D* inst = NewInst(-1);
    inst->scale = {2 * ONE, 2 * ONE, 2 * ONE, 0};
    EXPECT_EQ(B3D_InstSetBody(inst, 10), 1);
    EXPECT_EQ(inst->bodyId, 10);
    EXPECT_STREQ(inst->name, "ten");
    EXPECT_EQ(inst->size, 3 * ONE);
    EXPECT_EQ(inst->radius, 3 * ONE);
    EXPECT_EQ(inst->scale.x, ONE);
    EXPECT_EQ(inst->totalRadius, -1);
    Qel_StrFree(inst->name);
    inst->name = Qel_StrDup("renamed");
    EXPECT_EQ(B3D_InstSetBody(inst, 10), 1);
    EXPECT_STREQ(inst->name, "renamed");  // untouched
    EXPECT_EQ(B3D_InstSetBody(inst, 0), 1);
    EXPECT_STREQ(inst->name, "zero");
    Qel_StrFree(inst->name);
    inst->name = Qel_StrDup("renamed");
    EXPECT_EQ(B3D_InstSetBody(inst, 0), 1);
    EXPECT_STREQ(inst->name, "zero");  // reloaded
    // Refusals change nothing.
    EXPECT_EQ(B3D_InstSetBody(inst, -5), 0);
    EXPECT_EQ(B3D_InstSetBody(inst, 77), 0);  // no such body
    EXPECT_EQ(inst->bodyId, 0);
    // A glyph child goes with a new body; other children stay.
    Inst3D* glyph = NewInst(-1);
    glyph->flags |= INST_GLYPH;
    Inst3D* part = NewInst(-1);
    B3D_InstAddToInst(glyph, inst);
    B3D_InstAddToInst(part, inst);
    const uint32_t glyphId = glyph->id;
    EXPECT_EQ(B3D_InstSetBody(inst, 10), 1);
    EXPECT_EQ(B3D_InstFind(glyphId), nullptr);
    EXPECT_EQ(Children(inst), std::vector<Inst3D*>{part});
}

TEST_F(SceneTrees, AFlaggedSubBodyGivesTheInstanceACollisionModel) {
    const char* const triangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    for (int id : {40, 41}) {
        std::string text, error;
        ASSERT_TRUE(Tool_ModelToTextBody(std::string("name solid\n") + triangle, &text, &error)) << error;
        WriteBody(id, text);
        ASSERT_NE(B3D_GetBody(id), nullptr);
    }
    B3D_GetBody(40)->levels[0]->flags |= 0x10;
    Inst3D* solid = NewInst(-1);
    Inst3D* plain = NewInst(-1);
    ASSERT_EQ(B3D_InstSetBody(solid, 40), 1);
    ASSERT_EQ(B3D_InstSetBody(plain, 41), 1);
    EXPECT_TRUE(solid->flags & INST_COLLISION_MODEL);
    EXPECT_FALSE(plain->flags & INST_COLLISION_MODEL);
}

TEST_F(SceneTrees, ABodyTakenInAnEnabledSceneEntersTheRenderer) {
    NewBody(10);
    Scene3D* scene = EnabledScene();
    Inst3D* none = NewInst(-1);
    B3D_InstAddToScene(none, scene);
    EXPECT_FALSE(InRenderer(none));  // no body: skipped
    EXPECT_EQ(B3D_InstSetBody(none, 10), 1);
    EXPECT_TRUE(InRenderer(none));
}

TEST_F(SceneTrees, ARefusedLightStaysDisabledAndIsTriedAtTheNextEnable) {
    Scene3D* scene = EnabledScene();
    Inst3D* light = B3D_LightAlloc();
    light->name = Qel_StrDup("lamp");
    system_->debugFlags |= 4;
    g_Win32MemorySeam.failHeapAllocs = 4;  // the light record, twice, each tried twice by the allocator
    LogCapture log;
    B3D_InstAddToScene(light, scene);
    EXPECT_TRUE(log.Contains("B3D_InstEnable() Can't Add Light!\n"));
    EXPECT_FALSE(InRenderer(light));
    EXPECT_EQ(light->rendererLight, nullptr);
    B3D_InstEnable(light);
    EXPECT_TRUE(InRenderer(light));
    EXPECT_NE(light->rendererLight, nullptr);
    EXPECT_TRUE(log.Contains("LightInst: lamp\n"));
    B3D_SceneDisableInsts(scene);
    EXPECT_FALSE(InRenderer(light));
    EXPECT_EQ(light->rendererLight, nullptr);
    B3D_SceneEnable(scene);
    EXPECT_TRUE(InRenderer(light));
    B3D_InstFree(light);
}

TEST_F(SceneTrees, ScenesSwitchTheirCamerasAndTreesInAndOut) {
    NewBody(1);
    Scene3D* scene = B3D_SceneAlloc();
    scene->name = Qel_StrDup("deck");
    Camera3D* cam = B3D_CameraAlloc();
    B3D_SceneLinkInst(scene, cam);
    Inst3D* top = NewInst();
    Inst3D* child = NewInst();
    B3D_InstAddToScene(top, scene);
    B3D_InstAddToInst(child, top);
    EXPECT_FALSE(InRenderer(child));
    system_->debugFlags |= 4;
    LogCapture log;
    B3D_SceneEnable(scene);
    B3D_SceneEnable(scene);  // once
    const std::string id = std::to_string(scene->id);
    EXPECT_EQ(CountOf(log.Text(), "B3D_SceneEnable: starting " + id + " deck\n"), 1);
    EXPECT_EQ(CountOf(log.Text(), "B3D_SceneEnable: finished " + id + " deck\n"), 1);
    EXPECT_TRUE(cam->camFlags & CAM_ACTIVE);
    EXPECT_NE(cam->rendererCamera, nullptr);
    EXPECT_TRUE(InRenderer(top) && InRenderer(child));
    B3D_SceneDisableInsts(scene);
    EXPECT_FALSE(scene->flags & SCENE_ENABLED);
    EXPECT_FALSE(cam->camFlags & CAM_ACTIVE);
    EXPECT_EQ(cam->rendererCamera, nullptr);
    EXPECT_FALSE(InRenderer(top) || InRenderer(child));
    // Clearing moves everything out and frees nothing.
    B3D_SceneClear(scene);
    EXPECT_TRUE(Tops(&scene->insts).empty());
    EXPECT_TRUE(Tops(&scene->cameras).empty());
    EXPECT_EQ(top->scene, nullptr);
    EXPECT_EQ(child->scene, nullptr);
    EXPECT_EQ(cam->inst.scene, nullptr);
    EXPECT_EQ(B3D_InstFind(top->id), top);
}

TEST_F(SceneTrees, FreeingChildrenByMask) {
    const struct {
        uint16_t mask;
        int32_t sense;
        std::vector<int> kept;  // indices of the children left
    } cases[] = {
        {0x1, 0, {0, 2}},  // frees the children that meet the mask
        {0x1, 1, {1, 3}},  // frees those that do not
        {0x6, 0, {0, 1}},  // any bit of the mask
        {0x0, 1, {}},      // nothing meets an empty mask
    };
    const uint16_t masks[] = {0x0, 0x1, 0x4, 0x3};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mask);
        Inst3D* parent = NewInst(-1);
        std::vector<Inst3D*> kids;
        for (uint16_t m : masks) {
            kids.push_back(NewInst(-1));
            kids.back()->childMask = m;
            B3D_InstAddToInst(kids.back(), parent);
        }
        B3D_InstFreeChildrenByMask(parent, c.mask, c.sense);
        std::vector<Inst3D*> kept;
        for (int k : c.kept) kept.push_back(kids[static_cast<size_t>(k)]);
        EXPECT_EQ(Children(parent), kept);
        B3D_InstFree(parent);
    }
}

TEST_F(SceneTrees, CloningCopiesBodyPlacementAndSubtree) {
    NewBody(7, "hull");
    NewBody(8, "gun");
    Inst3D* source = NewInst(-1);
    ASSERT_EQ(B3D_InstSetBody(source, 7), 1);
    source->pos = {ONE, 2 * ONE, 3 * ONE, 0};
    B3D_MatrixFromAngles(source, 0x1000, 0, 0);
    source->flags2 |= 1;
    Inst3D* gun = NewInst(-1);
    B3D_InstSetBody(gun, 8);
    gun->pos = {5, 6, 7, 0};
    B3D_InstAddToInst(gun, source);
    Inst3D* barrel = NewInst(-1);
    B3D_InstAddToInst(barrel, gun);
    Inst3D* holder = NewInst(-1);
    Inst3D* target = NewInst(-1);
    B3D_InstCloneTree(source, target, holder);
    EXPECT_EQ(target->parent, holder);
    EXPECT_EQ(target->bodyId, 7);
    EXPECT_STREQ(target->name, "hull");
    EXPECT_EQ(target->pos.z, 3 * ONE);
    EXPECT_EQ(target->matrix.m[1], source->matrix.m[1]);
    EXPECT_EQ(target->flags2 & 1, 1u);
    ASSERT_EQ(Children(target).size(), 1u);
    Inst3D* gunCopy = Children(target)[0];
    EXPECT_NE(gunCopy, gun);
    EXPECT_EQ(gunCopy->bodyId, 8);
    EXPECT_EQ(gunCopy->pos.y, 6);
    ASSERT_EQ(Children(gunCopy).size(), 1u);
    EXPECT_EQ(Children(gunCopy)[0]->bodyId, -1);
    EXPECT_EQ(Children(source).size(), 1u);  // the source is unchanged
    // A tree is not cloned into itself.
    Inst3D* inner = NewInst(-1);
    LogCapture log;
    B3D_InstCloneTree(source, inner, gun);
    B3D_InstCloneTree(source, barrel, nullptr);
    EXPECT_EQ(CountOf(log.Text(), "can't be cloned into its own tree!\n"), 2);
    EXPECT_EQ(Children(gun), std::vector<Inst3D*>{barrel});
    EXPECT_EQ(inner->parent, nullptr);
}

TEST_F(SceneTrees, TheLensflareSceneIsMadeAgainAfterItIsFreed) {
    Scene3D* first = B3D_MakeLensflareScene();
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->name, "Lensflare Scene");
    EXPECT_NE(B3D_SceneGetCamera(first), 0u);
    EXPECT_EQ(B3D_MakeLensflareScene(), first);
    Inst3D* pick = g_B3DState->lensFlareCheck;
    ASSERT_NE(pick, nullptr);
    const uint32_t firstId = first->id;
    B3D_SceneFree(first);
    EXPECT_EQ(g_B3DState->lensFlareScene, nullptr);
    EXPECT_EQ(B3D_SceneFind(firstId), nullptr);
    Scene3D* second = B3D_MakeLensflareScene();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(g_B3DState->lensFlareScene, second);
    EXPECT_EQ(g_B3DState->lensFlareCheck, pick);  // one occlusion-test instance
    // The pick ray freed by id leaves no dangling pointer.
    B3D_InstFree(pick);
    EXPECT_EQ(g_B3DState->lensFlareCheck, nullptr);
}

TEST_F(SceneTrees, TextTreesHaveOneGlyphPerCharacter) {
    for (int32_t code : {int32_t{'A'}, int32_t{'B'}, 0xE9, int32_t{'?'}}) NewBody(B3D_GlyphBody(code));
    const int32_t half = B3D_GlyphAdvance('A');
    const struct {
        const char* text;
        uint32_t flags;
        std::vector<int32_t> bodies;
        int32_t firstX, y;
    } cases[] = {
        {"AB", 0, {B3D_GlyphBody('A'), B3D_GlyphBody('B')}, half, -ONE},
        {"AB", B3D_TEXT_RIGHT, {B3D_GlyphBody('A'), B3D_GlyphBody('B')}, half - 4 * half, -ONE},
        {"A\xC3\xA9", B3D_TEXT_NO_DROP, {B3D_GlyphBody('A'), B3D_GlyphBody(0xE9)}, half, 0},
        {"\xE2\x82\xAC"
         "A",
         B3D_TEXT_RAISED,
         {B3D_GlyphBody('?'), B3D_GlyphBody('A')},
         half,
         ONE},  // above 255
        {"A\xF0\x9F\x98\x80"
         "B",
         0,
         {B3D_GlyphBody('A')},
         half,
         -ONE},  // four bytes end the text
        {"", 0, {}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Inst3D* root = B3D_MakeTextNullScene(c.text, c.flags);
        ASSERT_NE(root, nullptr);
        EXPECT_TRUE(root->flags & INST_INVISIBLE);
        EXPECT_EQ(root->bodyId, -1);
        const std::vector<Inst3D*> glyphs = Children(root);
        ASSERT_EQ(glyphs.size(), c.bodies.size());
        for (size_t i = 0; i < glyphs.size(); ++i) {
            EXPECT_EQ(glyphs[i]->bodyId, c.bodies[i]) << i;
            EXPECT_TRUE(glyphs[i]->flags & INST_GLYPH);
            EXPECT_EQ(glyphs[i]->pos.x, c.firstX + static_cast<int32_t>(i) * 2 * half) << i;
            EXPECT_EQ(glyphs[i]->pos.y, c.y);
        }
        B3D_InstFreeTextGlyphs(root);
        EXPECT_TRUE(Children(root).empty());
        B3D_InstFree(root);
    }
    Inst3D* none = B3D_MakeTextNullScene(nullptr, 0);
    EXPECT_EQ(Children(none).size(), std::string("B3DTextNullPtr").size());
    B3D_InstFree(none);
}

}  // namespace
