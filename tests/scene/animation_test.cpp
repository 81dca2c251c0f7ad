#include <gtest/gtest.h>

#include <vector>

#include "scene/allocs.h"
#include "scene/animation.h"
#include "scene/bodyrecord.h"
#include "scene/geometry.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene_fixture.h"
#include "support/logcapture.h"

namespace {

constexpr int32_t ONE = QEL_FIX_ONE;

using SceneAnimation = SceneTest;

void ExpectRotation(const QelMatrix& got, const QelMatrix& want) {
    for (int k : {0, 1, 2, 4, 5, 6, 8, 9, 10}) EXPECT_EQ(got.m[k], want.m[k]) << k;
}

TEST_F(SceneAnimation, FacingInstancesTurnToTheirParentsDirection) {
    struct Case {
        int32_t x, y, angle;
    };
    const Case cases[] = {
        {0, 0, 0},           {ONE, 0, 0},      {ONE, ONE, 8192},   {0, ONE, 16384},      {-ONE, 0, 32768},
        {-ONE, -ONE, 40960}, {0, -ONE, 49152}, {ONE, -ONE, 57344}, {2 * ONE, ONE, 4836}, {-ONE, 2 * ONE, 21220}};
    Scene3D* scene = B3D_SceneAlloc();
    Inst3D* parent = B3D_AllocInst();
    PutInScene(scene, parent);
    Inst3D* facing = B3D_AllocInst();
    Adopt(parent, facing);
    facing->flags |= INST_FACE_PARENT;
    for (const Case& c : cases) {
        EXPECT_NEAR(B3D_Atan2(c.y, c.x), c.angle, 1) << c.x << "," << c.y;
        parent->viewPos = {c.x, c.y, 0, 0};
        B3D_SceneAnimate(scene);
        QelMatrix want;
        Qel_MatFromAngles(&want, 0, 0, B3D_Atan2(c.y, c.x));
        ExpectRotation(facing->matrix, want);
    }
    // The exact examples.
    EXPECT_EQ(B3D_Atan2(ONE, ONE), 8192);
    EXPECT_EQ(B3D_Atan2(0, -ONE), 32768);
    EXPECT_EQ(B3D_Atan2(-ONE, 0), 49152);
}

TEST_F(SceneAnimation, FacingInstanceWithoutPlacedParentKeepsItsMatrix) {
    Inst3D* orphan = B3D_AllocInst();
    orphan->flags |= INST_FACE_PARENT;
    B3D_MatrixFromAngles(orphan, 100, 0, 0);
    const QelMatrix before = orphan->matrix;
    LogCapture log;
    B3D_InstAnimate(orphan);
    EXPECT_TRUE(log.Contains("B3D_InstAnimate: Parent Inst3D doesnt exist!\n"));
    ExpectRotation(orphan->matrix, before);

    Inst3D* parent = B3D_AllocInst();  // in no scene
    Adopt(parent, orphan);
    parent->viewPos = {ONE, ONE, 0, 0};
    B3D_InstAnimate(parent);
    EXPECT_TRUE(log.Contains("B3D_InstAnimate: Parent Inst3D not in a scene!\n"));
    ExpectRotation(orphan->matrix, before);
}

TEST_F(SceneAnimation, ChildPlacementByFlags) {
    Scene3D* scene = B3D_SceneAlloc();
    Inst3D* p = B3D_AllocInst();
    PutInScene(scene, p);
    B3D_InstSetPos(p, 1000 * ONE, 0, 0);
    B3D_MatrixFromAngles(p, 16384, 0, 0);
    p->size = 3 * ONE;
    p->scale = {2 * ONE, 2 * ONE, 2 * ONE, 0};
    struct Case {
        const char* name;
        uint32_t parentFlags, childFlags;
        int32_t factor;  // 16.16 multiple of the rotated offset
        bool ownMatrix;
    };
    const Case cases[] = {
        {"plain", 0, 0, 2 * ONE, false},
        {"scaled child", 0, INST_SCALED_CHILD, 6 * ONE, false},
        {"parent without scale", INST_UNSCALED_CHILDREN, 0, ONE, false},
        {"both", INST_UNSCALED_CHILDREN, INST_SCALED_CHILD, 3 * ONE, false},
        {"own matrix 0x20", 0, INST_OWN_MATRIX, 2 * ONE, true},
        {"own matrix 0x4000", 0, INST_OWN_MATRIX2, 2 * ONE, true},
        {"own matrix 0x10000000", 0, INST_OWN_MATRIX3, 2 * ONE, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Inst3D* child = B3D_AllocInst();
        Adopt(p, child);
        p->flags = c.parentFlags;
        child->flags = c.childFlags;
        B3D_InstSetPos(child, 0, 0, 10 * ONE);
        B3D_MatrixFromAngles(child, 0, 4096, 0);
        Inst3D* grandchild = B3D_AllocInst();
        Adopt(child, grandchild);
        B3D_SceneRotate2(scene);
        QelVector rotated;
        Qel_MatMulVec(&p->matrix, &child->pos, &rotated);
        EXPECT_EQ(child->worldPos.x, 1000 * ONE + B3D_FixMul(rotated.x, c.factor));
        EXPECT_EQ(child->worldPos.z, B3D_FixMul(rotated.z, c.factor));
        QelMatrix combined;
        Qel_MatMul(&p->matrix, &child->matrix, &combined);
        ExpectRotation(child->worldMatrix, c.ownMatrix ? child->matrix : combined);
        // The grandchild sits on the child.
        EXPECT_EQ(grandchild->worldPos.x, child->worldPos.x);
        B3D_ListRemove(B3D_Node(child));
        B3D_ListAppend(&g_B3DState->freeInsts, B3D_Node(child));
        child->parent = nullptr;
    }
}

// A cut key may move an instance to the end of the 32-bit range: its
// children's positions wrap there, as the keys themselves do.
TEST_F(SceneAnimation, ChildPositionsWrapAtTheEndOfTheRange) {
    Scene3D* scene = B3D_SceneAlloc();
    Inst3D* p = B3D_AllocInst();
    PutInScene(scene, p);
    p->flags = INST_UNSCALED_CHILDREN;
    B3D_InstSetPos(p, 0, 0, static_cast<int32_t>(0x80000000u));
    Inst3D* child = B3D_AllocInst();
    Adopt(p, child);
    B3D_InstSetPos(child, 0, 0, -ONE);
    B3D_SceneRotate2(scene);
    EXPECT_EQ(child->worldPos.z, 0x7fff0000);
}

TEST_F(SceneAnimation, ScenePlacementTracksThePassRange) {
    Scene3D* scene = B3D_SceneAlloc();
    for (int32_t pass : {2, -1, 5}) {
        Inst3D* i = B3D_AllocInst();
        i->pass = pass;
        B3D_InstSetPos(i, pass, 0, 0);
        PutInScene(scene, i);
    }
    B3D_SceneRotate2(scene);
    EXPECT_EQ(scene->lowestPass, -1);
    EXPECT_EQ(scene->highestPass, 5);
    EXPECT_EQ(B3D_First<Inst3D>(&scene->insts)->worldPos.x, 2);
}

// A body of one level that holds only bone names.
struct BonesBody {
    BonesBody(int32_t count, const char* const* names) {
        level.boneCount = count;
        level.boneNames = const_cast<char**>(names);
        levels[0] = &level;
        body.levels = levels;
        body.levelCount = 1;
    }
    BodyLevel level{};
    BodyLevel* levels[1] = {};
    Body3D body{};
};

TEST_F(SceneAnimation, SkinnedInstanceSitsAtTheAverageOfItsFoundBones) {
    Scene3D* scene = B3D_SceneAlloc();
    TestCut cut(7, 3);
    cut.path(0).name = const_cast<char*>("Hip");
    cut.path(1).name = const_cast<char*>("knee");
    cut.path(2).name = const_cast<char*>("Foot");
    const char* const names[] = {"hip", "KNEE", "toe"};
    BonesBody body(3, names);
    B3D_StoreBody(60, &body.body);
    Inst3D* skinned = B3D_AllocInst();
    skinned->bodyId = 60;
    skinned->flags2 |= INST2_SKINNED;
    B3D_InstSetPos(skinned, 5, 5, 5);
    PutInScene(scene, skinned);
    std::vector<Inst3D*> bones;
    for (int32_t i = 0; i < 3; ++i) {
        Inst3D* b = B3D_AllocInst();
        b->cutId = 7;
        b->pathNr = i;
        B3D_InstSetPos(b, 10 * (i + 1), -3 * (i + 1), 1);
        PutInScene(scene, b);
        bones.push_back(b);
    }
    LogCapture log;
    B3D_SceneRotate2(scene);
    EXPECT_TRUE(log.Contains("B3D_InstCreateBones() can't find bone toe\n"));
    ASSERT_EQ(skinned->boneCount, 3);
    EXPECT_EQ(skinned->bones[0], bones[0]);
    EXPECT_EQ(skinned->bones[1], bones[1]);
    EXPECT_EQ(skinned->bones[2], nullptr);
    // Averaged over the two bones found: (10 + 20) / 2, (-3 - 6) / 2.
    EXPECT_EQ(skinned->worldPos.x, 15);
    EXPECT_EQ(skinned->worldPos.y, -4);
    EXPECT_EQ(skinned->worldPos.z, 1);
    EXPECT_NE(bones[0]->flags & INST_INVISIBLE, 0u);
    EXPECT_EQ(bones[2]->flags & INST_INVISIBLE, 0u);

    // With no bone found the instance stays where it is placed.
    const char* const missing[] = {"tail"};
    BonesBody lost(1, missing);
    B3D_StoreBody(61, &lost.body);
    Inst3D* lonely = B3D_AllocInst();
    lonely->bodyId = 61;
    lonely->flags2 |= INST2_SKINNED;
    B3D_InstSetPos(lonely, 9, 8, 7);
    PutInScene(scene, lonely);
    B3D_SceneRotate2(scene);
    EXPECT_EQ(lonely->worldPos.x, 9);
    EXPECT_EQ(lonely->worldPos.z, 7);
    cut.path(0).name = cut.path(1).name = cut.path(2).name = nullptr;
}

TEST_F(SceneAnimation, BonesStayVisibleWhenTheSystemShowsThem) {
    system_->thirdFlags = B3D_SYSTEM_SHOW_BONES;
    Scene3D* scene = B3D_SceneAlloc();
    TestCut cut(8, 1);
    cut.path(0).name = const_cast<char*>("spine");
    const char* const names[] = {"spine"};
    BonesBody body(1, names);
    B3D_StoreBody(62, &body.body);
    Inst3D* skinned = B3D_AllocInst();
    skinned->bodyId = 62;
    skinned->flags2 |= INST2_SKINNED;
    PutInScene(scene, skinned);
    Inst3D* bone = B3D_AllocInst();
    bone->cutId = 8;
    PutInScene(scene, bone);
    B3D_SceneRotate2(scene);
    EXPECT_EQ(skinned->bones[0], bone);
    EXPECT_EQ(bone->flags & INST_INVISIBLE, 0u);
    cut.path(0).name = nullptr;
}

TEST_F(SceneAnimation, ViewPositionsForACamera) {
    Camera3D* cam = B3D_CameraAlloc();
    B3D_InstSetPos(&cam->inst, 100, 0, 0);
    Inst3D* inst = B3D_AllocInst();
    inst->worldPos = {130, 40, -5, 0};
    Inst3D* child = B3D_AllocInst();
    Adopt(inst, child);
    child->worldPos = {100 + 100000001, 0, 0, 0};
    Inst3D* rider = B3D_AllocInst();
    rider->flags2 |= INST2_WITH_CAMERA;
    B3D_InstSetPos(rider, 1, 2, 3);
    B3D_SceneRotate(inst, cam);
    EXPECT_EQ(inst->viewPos.x, 30);
    EXPECT_EQ(inst->viewPos.y, 40);
    EXPECT_EQ(inst->viewPos.z, -5);
    EXPECT_NE(inst->flags & INST_VIEW_DONE, 0u);
    EXPECT_EQ(inst->flags2 & INST2_FAR, 0u);
    EXPECT_NE(child->flags2 & INST2_FAR, 0u);
    B3D_SceneRotate(rider, cam);
    EXPECT_EQ(rider->worldPos.x, 101);
    EXPECT_EQ(rider->viewPos.x, 1);
    EXPECT_EQ(rider->viewPos.z, 3);
}

TEST_F(SceneAnimation, DetailRankingByDistanceAndSize) {
    B3DList list;
    B3D_ListInit(&list);
    struct Case {
        int32_t distance, expected;
    };
    // Radius 1000, base 64: full detail up to q = 0, halved per step beyond, 0 past 6r + 37000.
    const Case cases[] = {{4000, 64}, {12000, 32}, {17000, 16}, {100000, 0}, {0, 0}};
    std::vector<Inst3D*> ranked;
    for (const Case& c : cases) {
        Inst3D* i = B3D_AllocInst();
        i->detailSwitch = 1;
        i->detailBase = 64;
        i->radius = 1000;
        i->viewPos = {c.distance, 0, 0, 0};
        B3D_ListRemove(B3D_Node(i));
        B3D_ListPrepend(&list, B3D_Node(i));  // farthest first
        ranked.push_back(i);
    }
    Inst3D* unranked = B3D_AllocInst();
    unranked->detailValue = 7;
    B3D_ListRemove(B3D_Node(unranked));
    B3D_ListAppend(&list, B3D_Node(unranked));
    B3D_RankByDetail(&list);
    for (size_t k = 0; k < ranked.size(); ++k) EXPECT_EQ(ranked[k]->detailValue, cases[k].expected) << k;
    // The instance without detail moved to the head, the rest ordered by detail, descending.
    std::vector<int32_t> order;
    for (Inst3D* i = B3D_First<Inst3D>(&list); i; i = B3D_Next(i)) order.push_back(i->detailValue);
    EXPECT_EQ(order, (std::vector<int32_t>{7, 64, 32, 16, 0, 0}));
    while (Inst3D* i = B3D_First<Inst3D>(&list)) {
        B3D_ListRemove(B3D_Node(i));
        B3D_ListAppend(&g_B3DState->freeInsts, B3D_Node(i));
    }
}

TEST_F(SceneAnimation, LightsAreCollectedByKindAndRange) {
    Scene3D* scene = B3D_SceneAlloc();
    Inst3D* target = B3D_AllocInst();
    B3D_InstSetPos(target, 0, 0, 0);
    struct Light {
        uint32_t kind;
        int32_t x, range;
        bool under;  // a sub-instance of a top instance
        bool taken;
    };
    const Light lights[] = {
        {INST_DIRECTIONAL_LIGHT, 1 << 30, 0, false, true},                                        // no range to check
        {INST_POINT_LIGHT, 500, 1000, false, true},                                               // within range
        {INST_POINT_LIGHT, 5000, 1000, false, true},                                              // range / d = 0.2
        {INST_POINT_LIGHT, 20000, 1000, false, false},                                            // range / d = 0.05
        {INST_SPOT_LIGHT, 800, 1000, true, true},          {INST_SPOT_LIGHT, 0, 0, true, false},  // d = 0 and no range
    };
    Inst3D* holder = B3D_AllocInst();
    PutInScene(scene, holder);
    std::vector<Inst3D*> expected;
    for (const Light& l : lights) {
        Inst3D* light = B3D_LightAlloc();
        light->flags |= l.kind;
        light->worldPos = {l.x, 0, 0, 0};
        light->lightRange = l.range;
        if (l.under) Adopt(holder, light);
        else PutInScene(scene, light);
        if (l.taken) expected.push_back(light);
    }
    B3D_InstCollectLights(scene, target);
    std::vector<Inst3D*> got;
    for (Inst3D** p = g_B3DState->collectedLights; *p; ++p) got.push_back(*p);
    EXPECT_EQ(got, expected);
}

TEST_F(SceneAnimation, LightChoiceFillsTheSlotsByPriority) {
    Scene3D* scene = B3D_SceneAlloc();
    Inst3D* target = B3D_AllocInst();
    target->size = 10;
    target->radius = 10;
    target->totalRadius = 10;
    auto light = [&](uint32_t kind, int32_t x, int32_t range, uint16_t grey) {
        Inst3D* l = B3D_LightAlloc();
        l->flags |= kind;
        l->worldPos = {x, 0, 0, 0};
        l->lightRange = range;
        l->lightColor[0] = l->lightColor[1] = l->lightColor[2] = grey;
        PutInScene(scene, l);
        return l;
    };
    light(INST_DIRECTIONAL_LIGHT, 0, 0, 100);  // 100 + 768
    light(INST_POINT_LIGHT, 510, 1000, 200);   // d = 500: 200 - 200 * 500 / 2000 = 150
    light(INST_POINT_LIGHT, 2000, 1000, 255);  // out of range: 0, not taken
    light(0, 0, 0, 255);                       // no kind: -1
    light(INST_POINT_LIGHT, 10, 0, 40);        // d = 0, no range: not below the range
    light(INST_POINT_LIGHT, 1, 1000, 12);      // 12: too dim
    B3D_InstCollectLights(scene, target);
    B3D_InstChooseLights(target);
    const B3DLightSlot* s = g_B3DState->lightSlots;
    EXPECT_EQ(s[0].index, 0);
    EXPECT_EQ(s[0].priority, 868);
    EXPECT_EQ(s[1].index, 1);
    EXPECT_EQ(s[1].priority, 150);
    EXPECT_EQ(s[1].distance, 500);  // 510 less the instance's size
    for (int k = 2; k < B3D_LIGHT_SLOTS; ++k) EXPECT_EQ(s[k].index, -1) << k;

    // More lights than slots: the last light takes the dimmest slot (the point light's).
    for (int k = 0; k < 7; ++k) light(INST_DIRECTIONAL_LIGHT, 0, 0, 0);
    B3D_InstCollectLights(scene, target);
    B3D_InstChooseLights(target);
    std::vector<int32_t> priorities;
    for (int k = 0; k < B3D_LIGHT_SLOTS; ++k) {
        priorities.push_back(s[k].priority);
        EXPECT_NE(s[k].index, 1) << k;
    }
    EXPECT_EQ(priorities, (std::vector<int32_t>{868, 768, 768, 768, 768, 768, 768, 768}));

    // A small instance chooses nothing: the slots keep what they hold.
    target->totalRadius = 1;
    B3D_ResetLightSlots();
    B3D_InstChooseLights(target);
    EXPECT_EQ(s[0].index, -1);
}

TEST_F(SceneAnimation, CameraVelocityAcrossTheClockWrap) {
    Camera3D* cam = B3D_CameraAlloc();
    SetClock(32399950);
    B3D_CameraUpdateMotion(cam);  // the first call only stores
    EXPECT_EQ(cam->inst.velocity[0], 0);
    EXPECT_EQ(cam->motionTime, 32399950);
    B3D_InstSetPos(&cam->inst, 50000, -25000, 0);
    SetClock(50);  // 100 ms later, after the wrap
    B3D_CameraUpdateMotion(cam);
    EXPECT_EQ(cam->inst.velocity[0], 500000);
    EXPECT_EQ(cam->inst.velocity[1], -250000);
    // Drawn twice in a frame: dt = 0 keeps the velocity.
    B3D_CameraUpdateMotion(cam);
    EXPECT_EQ(cam->inst.velocity[0], 500000);

    struct Case {
        const char* name;
        int32_t dt, dx;
    };
    const Case kept[] = {{"jump", 100, 1000000}, {"pause", 10000, 10}, {"backwards", -100, 10}};
    for (const Case& c : kept) {
        SCOPED_TRACE(c.name);
        SetClock(static_cast<int32_t>((static_cast<int64_t>(system_->gameClock) + c.dt + 32400000) % 32400000));
        cam->inst.pos.x += c.dx;
        B3D_CameraUpdateMotion(cam);
        EXPECT_EQ(cam->inst.velocity[0], 500000);
    }
}

TEST_F(SceneAnimation, CameraRollFollowsTheTurnAboutItsAxis) {
    Camera3D* cam = B3D_CameraAlloc();
    SetClock(1000);
    B3D_CameraUpdateMotion(cam);
    // A quarter turn about z between two calls: the roll angle moves a quarter turn the other way.
    B3D_MatrixFromAngles(&cam->inst, 0, 0, 16384);
    SetClock(1100);
    B3D_CameraUpdateMotion(cam);
    EXPECT_EQ(cam->roll, 65536 - 16384);
    // No further turn: no change.
    SetClock(1200);
    B3D_CameraUpdateMotion(cam);
    EXPECT_EQ(cam->roll, 65536 - 16384);
    // The z row did not move, so its rate of turn is 0.
    EXPECT_EQ(cam->zRate[0], 0);
}

TEST_F(SceneAnimation, DrawItemsComeFromTheFreeListFirst) {
    const int32_t before = g_B3DState->poolIBytes;
    B3DDrawItem* a = B3D_AllocDrawItem();
    B3DDrawItem* b = B3D_AllocDrawItem();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(g_B3DState->poolIBytes - before, 2 * static_cast<int32_t>(sizeof(B3DDrawItem)));
    EXPECT_EQ(B3D_ListCount(&g_B3DState->drawList), 2);
    B3D_ReleaseDrawItems();
    EXPECT_TRUE(B3D_ListIsEmpty(&g_B3DState->drawList));
    EXPECT_EQ(B3D_AllocDrawItem(), a);
    EXPECT_EQ(B3D_AllocDrawItem(), b);
    EXPECT_EQ(g_B3DState->poolIBytes - before, 2 * static_cast<int32_t>(sizeof(B3DDrawItem)));
    LogCapture log;
    B3D_FailNextAllocations(1);
    EXPECT_EQ(B3D_AllocDrawItem(), nullptr);
    EXPECT_TRUE(log.Contains("B3D_AllocMemI() failed to allocate"));
}

}  // namespace
