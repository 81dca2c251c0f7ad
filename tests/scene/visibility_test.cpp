// Visibility and level of detail per camera, from the projected size.
#include <gtest/gtest.h>

#include "render/fake_body.h"
#include "scene/drawing.h"
#include "scene/trees.h"
#include "scene/visibility.h"
#include "scene_fixture.h"
#include "system/standin_fields.h"

namespace {

constexpr int32_t kOne = 0x10000;

class Visibility : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        for (FakeBody* b : {&single, &multi}) {
            b->level.extent[0] = b->level.extent[1] = b->level.extent[2] = kOne;
            b->level.switchDistance = 10000;
        }
        // Three levels: the second switches at size 100, the third at 10.
        multiLevels[0] = &multi.level;
        for (int l = 1; l < 3; ++l) {
            extra[l - 1] = multi.level;
            multiLevels[l] = &extra[l - 1];
        }
        extra[0].switchDistance = 100;
        extra[1].switchDistance = 10;
        multi.body.levels = multiLevels;
        multi.body.levelCount = 3;
        ASSERT_EQ(B3D_StoreBody(5, &single.body), 1);
        ASSERT_EQ(B3D_StoreBody(6, &multi.body), 1);
        scene = B3D_SceneAlloc();
        camera = B3D_CameraAlloc();
        B3D_SceneLinkInst(scene, camera);
        camera->inst.worldMatrix = camera->inst.matrix;
    }

    // A visible instance of a body straight ahead at depth z (16.16).
    Inst3D* Ahead(int32_t bodyId, int32_t z, int32_t usedSize) {
        Inst3D* i = B3D_AllocInst();
        i->scene = scene;
        i->bodyId = bodyId;
        i->flags |= INST_VISIBLE;
        i->size = i->usedSize = i->radius = usedSize;
        i->worldPos = i->viewPos = {0, 0, z, 0};
        return i;
    }

    FakeBody single{5, 3, {Fan(1)}};
    FakeBody multi{6, 3, {Fan(1)}};
    BodyLevel extra[2]{};
    BodyLevel* multiLevels[3]{};
    Scene3D* scene = nullptr;
    Camera3D* camera = nullptr;
};

TEST_F(Visibility, ASmallInstanceStaysVisibleWithItsSizeMarks) {
    // Size 1.0 at depth 100: 640 / 100 = 6 on the screen.
    Inst3D* i = Ahead(5, 100 * kOne, kOne);
    i->flags2 = INST2_SIZE_SMALL | INST2_SIZE_TINY;
    B3D_InstSelectLevel(i, camera);
    EXPECT_NE(i->flags & INST_VISIBLE, 0u);
    EXPECT_EQ(i->flags2 & 0x180000u, 0x180000u);
    // Near enough to be large, the marks go again.
    Inst3D* near = Ahead(5, 10 * kOne, kOne);
    near->flags2 = INST2_SIZE_SMALL | INST2_SIZE_TINY;
    B3D_InstSelectLevel(near, camera);
    EXPECT_NE(near->flags & INST_VISIBLE, 0u);
    EXPECT_EQ(near->flags2 & 0x180000u, 0u);
}

TEST_F(Visibility, ABodyAloneSizesAnInstanceToBeSeen) {
    // Nothing sets a size by hand: the body's radius is all the measure there is.
    single.part.radius = kOne;
    Inst3D* i = B3D_AllocInst();
    i->scene = scene;
    ASSERT_EQ(B3D_InstSetBody(i, 5), 1);
    i->flags |= INST_VISIBLE;
    i->worldPos = i->viewPos = {0, 0, 10 * kOne, 0};
    B3D_InstSelectLevel(i, camera);
    EXPECT_EQ(i->usedSize, kOne);
    EXPECT_NE(i->flags & INST_VISIBLE, 0u);
    EXPECT_EQ(i->flags2 & 0x180000u, 0u) << "64 wide on the screen: not small";
}

TEST_F(Visibility, CoarseModeHidesSize19AndKeeps20) {
    Inst3D* nineteen = Ahead(5, 100 * kOne, 19 * 10240);
    Inst3D* twenty = Ahead(5, 100 * kOne, 20 * 10240);
    B3D_InstSelectLevel(nineteen, camera);
    EXPECT_NE(nineteen->flags & INST_VISIBLE, 0u) << "visible without coarse mode";
    camera->camFlags |= CAM_COARSE;
    nineteen->flags |= INST_VISIBLE;
    B3D_InstSelectLevel(nineteen, camera);
    B3D_InstSelectLevel(twenty, camera);
    EXPECT_EQ(nineteen->flags & INST_VISIBLE, 0u);
    EXPECT_NE(twenty->flags & INST_VISIBLE, 0u);
    EXPECT_EQ(twenty->flags2 & 0x180000u, 0x180000u);
}

TEST_F(Visibility, LevelsFollowTheSizeAndAOnePartBodyDrawsLevelZero) {
    struct Case {
        int32_t body, z, usedSize, level;
    };
    // Level size = used size * 640 / depth.
    const Case cases[] = {
        {6, 100 * kOne, 5 * 10240, 2},    // level size 5: below 10
        {6, 100 * kOne, 50 * 10240, 1},   // 50: below 100
        {6, 100 * kOne, 500 * 10240, 0},  // 500: above both
        {5, 100 * kOne, kOne, 0},         // one part: level 0 always
        {5, 1000 * kOne, kOne, 0},
    };
    for (const Case& c : cases) {
        Inst3D* i = Ahead(c.body, c.z, c.usedSize);
        B3D_InstSelectLevel(i, camera);
        EXPECT_EQ(i->level, c.level) << c.usedSize;
    }
    // Coarse mode draws one level coarser, never past the last.
    camera->camFlags |= CAM_COARSE;
    Inst3D* coarse = Ahead(6, 100 * kOne, 50 * 10240);
    B3D_InstSelectLevel(coarse, camera);
    EXPECT_EQ(coarse->level, 2);
}

TEST_F(Visibility, TheFocusScalesTheScreenSize) {
    // 12 on the screen at the normal focus; a quarter focus makes it 48.
    Inst3D* i = Ahead(5, 100 * kOne, 12 * 10240);
    B3D_InstSelectLevel(i, camera);
    EXPECT_EQ(i->flags2 & 0x180000u, 0x180000u);
    camera->focus = 4096;
    B3D_InstSelectLevel(i, camera);
    EXPECT_EQ(i->flags2 & 0x180000u, 0u);
}

TEST_F(Visibility, HiddenBehindInvisibleOrCulled) {
    Inst3D* behind = Ahead(5, -100 * kOne, kOne);
    B3D_InstSelectLevel(behind, camera);
    EXPECT_EQ(behind->flags & INST_VISIBLE, 0u);
    Inst3D* invisible = Ahead(5, 100 * kOne, kOne);
    invisible->flags |= INST_INVISIBLE;
    B3D_InstSelectLevel(invisible, camera);
    EXPECT_EQ(invisible->flags & INST_VISIBLE, 0u);
    Inst3D* culled = Ahead(5, 100 * kOne, kOne);
    culled->cullSize = 7;  // screen size 6
    B3D_InstSelectLevel(culled, camera);
    EXPECT_EQ(culled->flags & INST_VISIBLE, 0u);
    Inst3D* lastLevel = Ahead(6, 100 * kOne, 10240);  // level size 1: the last level
    lastLevel->flags |= INST_HIDE_LAST_LEVEL;
    B3D_InstSelectLevel(lastLevel, camera);
    EXPECT_EQ(lastLevel->level, 2);
    EXPECT_EQ(lastLevel->flags & INST_VISIBLE, 0u);
}

TEST_F(Visibility, ChildrenAreHandledWithTheirParent) {
    Inst3D* parent = Ahead(6, 100 * kOne, 50 * 10240);  // level 1
    Inst3D* follower = Ahead(5, 100 * kOne, 100 * 10240);
    follower->flags |= INST_WITH_PARENT;
    Inst3D* own = Ahead(5, 100 * kOne, kOne);
    own->flags2 |= INST2_SIZE_SMALL;
    for (Inst3D* c : {follower, own}) {
        B3D_ListRemove(B3D_Node(c));
        B3D_ListAppend(&parent->children, B3D_Node(c));
        c->parent = parent;
    }
    B3D_InstSelectLevel(parent, camera);
    EXPECT_EQ(parent->level, 1);
    EXPECT_EQ(follower->flags & INST_VISIBLE, 0u) << "its parent draws a coarser level";
    EXPECT_EQ(own->flags2 & 0x180000u, 0x180000u) << "measured on its own";
    // An always-drawn instance ends the walk: its children keep their marks.
    Inst3D* always = Ahead(5, 100 * kOne, kOne);
    always->flags |= INST_ALWAYS_DRAW;
    Inst3D* child = Ahead(5, 100 * kOne, kOne);
    B3D_ListRemove(B3D_Node(child));
    B3D_ListAppend(&always->children, B3D_Node(child));
    child->parent = always;
    child->flags2 = 0x80000;
    B3D_InstSelectLevel(always, camera);
    EXPECT_EQ(child->flags2, 0x80000u);
}

}  // namespace
