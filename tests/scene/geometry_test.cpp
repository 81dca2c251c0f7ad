#include <gtest/gtest.h>

#include "scene/allocs.h"
#include "scene/geometry.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "scene/trees.h"
#include "scene_fixture.h"
#include "support/logcapture.h"

namespace {

constexpr int32_t ONE = QEL_FIX_ONE;

using SceneGeometry = SceneTest;

TEST_F(SceneGeometry, ClockDifferencesFoldOnTheCircle) {
    struct Case {
        int32_t a, b, diff;
    };
    const Case cases[] = {{50, 32399950, 100},      {32399950, 50, -100},    {500, 500, 0},    {16200000, 0, 16200000},
                          {16200001, 0, -16199999}, {0, 16200000, 16200000}, {32399999, 0, -1}};
    for (const Case& c : cases) EXPECT_EQ(B3D_ClockDiff(c.a, c.b), c.diff) << c.a << " - " << c.b;
}

TEST_F(SceneGeometry, ScaleSetsRadiusAndCascadesToScaledChildren) {
    Inst3D* inst = B3D_AllocInst();
    Inst3D* scaled = B3D_AllocInst();
    Inst3D* plain = B3D_AllocInst();
    Inst3D* scaledGrandchild = B3D_AllocInst();
    Adopt(inst, scaled);
    Adopt(inst, plain);
    Adopt(scaled, scaledGrandchild);
    scaled->flags |= INST_SCALED_CHILD;
    scaledGrandchild->flags |= INST_SCALED_CHILD;
    inst->size = 10 * ONE;
    inst->scale.w = 99;
    B3D_InstSetScale(inst, 2 * ONE, ONE, ONE);
    EXPECT_EQ(inst->radius, 20 * ONE);
    EXPECT_EQ(inst->scale.w, 0);
    EXPECT_EQ(scaled->scale.x, 2 * ONE);
    EXPECT_EQ(scaledGrandchild->scale.x, 2 * ONE);
    EXPECT_EQ(plain->scale.x, ONE);

    // The recursive form reaches the children without the bit instead.
    B3D_InstSetScaleRecursive(inst, 3 * ONE, ONE, ONE);
    EXPECT_EQ(plain->scale.x, 3 * ONE);
    EXPECT_EQ(scaled->scale.x, 3 * ONE);
}

TEST_F(SceneGeometry, SizeCascadesAndResetsScale) {
    Inst3D* inst = B3D_AllocInst();
    Inst3D* child = B3D_AllocInst();
    Adopt(inst, child);
    EXPECT_EQ(B3D_InstSetSize(child, 4), 1);  // no children: any size
    inst->size = 10;
    inst->scale = {2 * ONE, 2 * ONE, 2 * ONE, 0};
    EXPECT_EQ(B3D_InstSetSize(inst, 20), 1);
    EXPECT_EQ(child->size, 8);
    EXPECT_EQ(inst->size, 20);
    EXPECT_EQ(inst->radius, 20);
    EXPECT_EQ(inst->scale.x, ONE);
    EXPECT_EQ(inst->totalRadius, -1);
}

TEST_F(SceneGeometry, SizeOfZeroSizedParentWithChildrenFails) {
    Inst3D* inst = B3D_AllocInst();
    Inst3D* child = B3D_AllocInst();
    Adopt(inst, child);
    child->size = 4;
    LogCapture log;
    EXPECT_EQ(B3D_InstSetSize(inst, 20), 0);
    EXPECT_TRUE(
        log.Contains("B3D_InstSetSize(inst, 20) Trying to set subinst size, but oldsize of main inst was 0!\n"));
    EXPECT_EQ(inst->size, 0);
    EXPECT_EQ(child->size, 4);
}

TEST_F(SceneGeometry, TreeRadiusIsCachedUntilSizeOrScaleChanges) {
    Inst3D* inst = B3D_AllocInst();
    Inst3D* child = B3D_AllocInst();
    Adopt(inst, child);
    inst->radius = 50;
    B3D_InstSetSize(child, 100);
    B3D_InstSetPos(child, 300, -400, 0);
    // Per axis: max(50, 100 + 300, 100 - 300, 100 + 400, ...) = 500.
    EXPECT_EQ(B3D_InstGetTotalSize(inst), 500);
    B3D_InstSetPos(child, 0, 0, 0);
    EXPECT_EQ(B3D_InstGetTotalSize(inst), 500);  // from the cache
    B3D_InstSetScale(inst, ONE, ONE, ONE);
    EXPECT_EQ(B3D_InstGetTotalSize(inst), 100);

    // A scaled child's offsets count times the parent's size.
    child->flags |= INST_SCALED_CHILD;
    B3D_InstSetPos(child, 2 * ONE, 0, 0);
    inst->size = 300;
    inst->totalRadius = -1;
    EXPECT_EQ(B3D_InstGetTotalSize(inst), 100 + 600);
}

TEST_F(SceneGeometry, AbsolutePositionAndMatrixThroughAChain) {
    Inst3D* top = B3D_AllocInst();
    Inst3D* mid = B3D_AllocInst();
    Inst3D* leaf = B3D_AllocInst();
    Adopt(top, mid);
    Adopt(mid, leaf);
    B3D_InstSetPos(top, 100 * ONE, 0, 0);
    B3D_MatrixFromAngles(top, 16384, 0, 0);  // a quarter turn
    B3D_InstSetPos(mid, 0, 0, 10 * ONE);
    B3D_InstSetPos(leaf, 0, 0, 5 * ONE);

    QelVector abs;
    B3D_InstGetAbsPos(leaf, &abs);
    // The leaf's 15 units along the mid axis turn with the top's matrix.
    QelVector local{0, 0, 15 * ONE, 0}, turned;
    Qel_MatMulVec(&top->matrix, &local, &turned);
    EXPECT_EQ(abs.x, 100 * ONE + turned.x);
    EXPECT_EQ(abs.y, turned.y);
    EXPECT_EQ(abs.z, turned.z);
    EXPECT_NE(turned.z, 15 * ONE);

    B3D_MatrixFromAngles(mid, 16384, 0, 0);
    QelMatrix m, expected;
    B3D_InstGetAbsMatrix(leaf, &m);
    QelMatrix half;
    Qel_MatMul(&mid->matrix, &leaf->matrix, &half);
    Qel_MatMul(&top->matrix, &half, &expected);
    for (int k : {0, 1, 2, 4, 5, 6, 8, 9, 10}) EXPECT_EQ(m.m[k], expected.m[k]) << k;
}

TEST_F(SceneGeometry, PointToLocalUsesTheReferenceAxes) {
    Inst3D* ref = B3D_AllocInst();
    Inst3D* inst = B3D_AllocInst();
    B3D_InstSetPos(ref, 10 * ONE, 0, 0);
    inst->worldPos = {13 * ONE, 4 * ONE, -2 * ONE, 0};
    B3D_InstPointToLocal(ref, inst);
    EXPECT_EQ(inst->viewPos.x, 3 * ONE);
    EXPECT_EQ(inst->viewPos.y, 4 * ONE);
    EXPECT_EQ(inst->viewPos.z, -2 * ONE);
}

TEST_F(SceneGeometry, DistanceToTheNearestActiveCamera) {
    Scene3D* scene = B3D_SceneAlloc();
    Inst3D* inst = B3D_AllocInst();
    Camera3D* idle = B3D_CameraAlloc();
    Camera3D* near = B3D_CameraAlloc();
    Camera3D* far = B3D_CameraAlloc();
    B3D_SceneLinkInst(scene, idle);
    B3D_SceneLinkInst(scene, near);
    B3D_SceneLinkInst(scene, far);
    // No active camera: the largest distance.
    EXPECT_EQ(B3D_InstGetDistance(scene, inst, 0), 0x7fffffff);
    B3D_SceneEnable(scene);
    idle->camFlags &= ~CAM_ACTIVE;
    B3D_InstSetPos(&idle->inst, 1, 0, 0);
    B3D_InstSetPos(&near->inst, 300, 400, 0);
    B3D_InstSetPos(&far->inst, 0, 0, -10000);
    EXPECT_EQ(B3D_InstGetDistance(scene, inst, 0), 500);
    // Facing: a camera that looks away (its z row points along camera - instance) is skipped.
    B3D_MatrixFromAngles(&near->inst, 0, 0, 0);
    B3D_InstSetPos(&near->inst, 0, 0, 500);
    EXPECT_EQ(B3D_InstGetDistance(scene, inst, 1), 10000);
    EXPECT_EQ(B3D_InstGetDistance(scene, inst, 0), 500);
}

TEST_F(SceneGeometry, FacingNodesAreMadeOncePerInstance) {
    Camera3D* cam = B3D_CameraAlloc();
    Inst3D* a = B3D_AllocInst();
    Inst3D* b = B3D_AllocInst();
    const int32_t before = g_B3DState->poolIBytes;
    B3DFacingNode* na = B3D_FaceCameraInst(cam, a);
    ASSERT_NE(na, nullptr);
    EXPECT_EQ(na->camera, cam);
    EXPECT_EQ(na->inst, a);
    EXPECT_EQ(B3D_FaceCameraInst(cam, a), na);
    EXPECT_NE(B3D_FaceCameraInst(cam, b), na);
    EXPECT_EQ(g_B3DState->poolIBytes - before, 2 * static_cast<int32_t>(sizeof(B3DFacingNode)));

    Inst3D* c = B3D_AllocInst();
    LogCapture log;
    B3D_FailNextAllocations(1);
    EXPECT_EQ(B3D_FaceCameraInst(cam, c), nullptr);
    EXPECT_TRUE(log.Contains("B3D_AllocMemI() failed to allocate"));
    EXPECT_TRUE(log.Contains("B3D_FaceCameraInst() failed!\n"));

    // The nodes go with the camera.
    B3D_CameraFree(cam);
    EXPECT_EQ(g_B3DState->poolIBytes,
              before - static_cast<int32_t>(sizeof(Camera3D)) + static_cast<int32_t>(sizeof(Inst3D)));
}

TEST_F(SceneGeometry, ScreenPointToWorld) {
    g_B3DState->screenWidth = 640;
    g_B3DState->screenHeight = 480;
    g_B3DState->screenAspect[0] = ONE;
    g_B3DState->screenAspect[1] = ONE;
    Camera3D* cam = B3D_CameraAlloc();
    B3D_InstSetPos(&cam->inst, 5 * ONE, 6 * ONE, 7 * ONE);
    cam->focus = 16384;  // a quarter turn: the half extent equals the depth
    QelVector w;
    // The screen's centre lies on the camera's z axis.
    B3D_CameraScreenToWorld(320, 240, cam, 10 * ONE, &w);
    EXPECT_EQ(w.x, 5 * ONE);
    EXPECT_EQ(w.y, 6 * ONE);
    EXPECT_EQ(w.z, 17 * ONE);
    EXPECT_EQ(w.w, 0);
    // The right edge lies one half extent to the side; the top edge one half extent up.
    B3D_CameraScreenToWorld(640, 0, cam, 10 * ONE, &w);
    EXPECT_NEAR(w.x, 15 * ONE, 2);
    EXPECT_NEAR(w.y, 16 * ONE, 2);
    EXPECT_EQ(w.z, 17 * ONE);
    // The camera's own aspect wins when both values are positive.
    B3D_CameraSetAspect(cam, ONE / 2, ONE);
    B3D_CameraScreenToWorld(640, 240, cam, 10 * ONE, &w);
    EXPECT_NEAR(w.x, 10 * ONE, 2);
}

}  // namespace
