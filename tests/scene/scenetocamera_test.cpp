// Instances placed for a camera: the cube fold and the motion stretch of a
// velocity-stretch camera, and the 3D-sound listener commit.
#include <gtest/gtest.h>

#include "render/fake_body.h"
#include "scene/drawing.h"
#include "scene/framedraw.h"
#include "scene/geometry.h"
#include "scene_fixture.h"
#include "support/logcapture.h"
#include "base/standin_calls.h"
#include "platform/dsound/seam.h"
#include "system/sound.h"

namespace {

constexpr int32_t kOne = 0x10000;

class SceneToCamera : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        scene = B3D_SceneAlloc();
        camera = B3D_CameraAlloc();
        B3D_SceneLinkInst(scene, camera);
        camera->camFlags |= CAM_STRETCH;
        inst = B3D_AllocInst();
        B3D_ListRemove(B3D_Node(inst));
        B3D_ListAppend(&scene->insts, B3D_Node(inst));
        inst->scene = scene;
        inst->size = kOne;
    }
    Scene3D* scene = nullptr;
    Camera3D* camera = nullptr;
    Inst3D* inst = nullptr;
};

TEST_F(SceneToCamera, PositionsFoldIntoTheCubeAroundTheCamera) {
    camera->inst.pos = {kOne, 0, 0, 0};
    struct Case {
        int32_t x, folded;
    };
    // Relative to the camera at x = 1.0: 5.0 beyond becomes 3.0 on the other side.
    const Case cases[] = {{6 * kOne, -2 * kOne},
                          {kOne + 3 * kOne, 4 * kOne},
                          {kOne - 4 * kOne, -3 * kOne},
                          {kOne + 4 * kOne, -3 * kOne},
                          {kOne, kOne}};
    for (const Case& c : cases) {
        inst->pos = {c.x, 0, 0, 0};
        B3D_SceneToCamera(scene, camera);
        EXPECT_EQ(inst->worldPos.x, c.folded) << c.x;
        EXPECT_EQ(inst->pos.x, c.x) << "the local position stays";
    }
}

TEST_F(SceneToCamera, AStretchInstanceStretchesWithItsMotion) {
    camera->camFlags |= CAM_MOTION_STRETCH;
    inst->flags |= INST_STRETCH;
    // Last frame it stood 5000 nearer along z: moved 5000.
    inst->pos = {0, 0, 2 * kOne, 0};
    inst->refPoint = {0, 0, 2 * kOne - 5000, 0};
    B3D_SceneToCamera(scene, camera);
    EXPECT_EQ(inst->scale.x, 49152);
    EXPECT_EQ(inst->scale.y, 49152);
    EXPECT_EQ(inst->scale.z, 1038745);
    EXPECT_EQ(inst->refPoint.z, 2 * kOne) << "the reference point keeps this frame's offset";
    // Turned along its motion: the z row points along +z.
    EXPECT_NEAR(inst->worldMatrix.m[10], kOne, 2);

    // Across the cube's edge (2.0 to -3.5 is 5.5 back): a jump, standing
    // scale and no turn.
    inst->pos = {0, 0, -3 * kOne - kOne / 2, 0};
    B3D_SceneToCamera(scene, camera);
    EXPECT_EQ(inst->scale.x, kOne);
    EXPECT_EQ(inst->scale.y, kOne);
    EXPECT_EQ(inst->scale.z, 111411);
    const QelMatrix identity{{kOne, 0, 0, 0, 0, kOne, 0, 0, 0, 0, kOne, 0}};
    for (int k = 0; k < 12; ++k) EXPECT_EQ(inst->worldMatrix.m[k], identity.m[k]) << k;
}

TEST_F(SceneToCamera, OtherInstancesFadeTowardsTheCubesEdges) {
    // Straight ahead at 3.5: 0.875 * 0.125 is past 1/16: alpha 255.
    inst->pos = {0, 0, 3 * kOne + kOne / 2, 0};
    B3D_SceneToCamera(scene, camera);
    EXPECT_EQ(inst->alphaOverride, 255);
    EXPECT_EQ(inst->flags2 & INST2_FADED, 0u);
    // At 2.0, within 3.2 of the camera: 255 * 5 * 2.0 / 16.
    inst->pos = {0, 0, 2 * kOne, 0};
    B3D_SceneToCamera(scene, camera);
    EXPECT_EQ(inst->alphaOverride, 159);
    // Behind the camera: depth 0, alpha 1, then nearly nothing: faded.
    inst->pos = {0, 0, -2 * kOne, 0};
    B3D_SceneToCamera(scene, camera);
    EXPECT_EQ(inst->alphaOverride, 0);
    EXPECT_NE(inst->flags2 & INST2_FADED, 0u);
}

TEST_F(SceneToCamera, AFailedCommitTurnsThreeDSoundOff) {
    DSound_ResetSeam();
    ASSERT_NE(S_InitDS3D(SOUND_FLAG_RUNNING), nullptr);
    ASSERT_NE(S_SoundDevice.listener, nullptr);
    system_->SysFlags |= 0x100;
    scene->flags |= SCENE_ENABLED;
    camera->camFlags = CAM_ACTIVE | CAM_LISTENER;
    const size_t start = DSound_SeamCalls("Commit").size();
    LogCapture log;
    B3D_DrawObjects();
    EXPECT_EQ(DSound_SeamCalls("Commit").size(), start + 1) << "once per listener camera";
    EXPECT_EQ(g_B3DState->sound3DUsable, 1);
    DSound_Seam().failCommit = true;
    B3D_DrawObjects();
    EXPECT_TRUE(log.Contains("S_Sound3DCommitDeferred() Error: ")) << log.Text();
    EXPECT_TRUE(log.Contains("error commiting d3d data\n"));
    EXPECT_EQ(g_B3DState->sound3DUsable, 0);
    DSound_Seam().failCommit = false;
    B3D_DrawObjects();
    EXPECT_EQ(DSound_SeamCalls("Commit").size(), start + 2) << "off for the rest of the run";
    S_CloseAudio();
    DSound_ResetSeam();
    StandIn_ClearCalls();  // the frame draw's record is for the game loop's tests
}

TEST_F(SceneToCamera, OnlyTheFirst255CandidatesCoverAFlare) {
    system_->SysFlags |= B3D_SYSTEM_FLARE_TEST;
    camera->camFlags = CAM_ACTIVE;
    camera->inst.worldMatrix = camera->inst.matrix;
    // A flare at the viewport's centre: the ray runs along +z.
    B3DCameraItem item{};
    item.seen = 1;
    // 300 candidates off the ray; one on it, first or 300th.
    Inst3D* blocker = nullptr;
    for (int n = 0; n < 300; ++n) {
        Inst3D* i = n == 0 ? inst : B3D_AllocInst();
        if (n) {
            B3D_ListRemove(B3D_Node(i));
            B3D_ListAppend(&scene->insts, B3D_Node(i));
            i->scene = scene;
        }
        i->flags |= INST_COLLISION_MODEL | INST_VIEW_DONE;
        B3D_InstSetSize(i, kOne);
        i->worldPos = {(n % 2 ? 50 : -50) * kOne, 0, 10 * kOne, 0};
        blocker = i;
    }
    blocker->worldPos = {0, 0, 10 * kOne, 0};
    camera->collectedCount = 0;
    EXPECT_EQ(B3D_PickFlareItem(&item, camera), 0) << "the 300th is never tried";
    blocker->worldPos.x = 50 * kOne;
    inst->worldPos = {0, 0, 10 * kOne, 0};
    camera->collectedCount = 0;
    EXPECT_EQ(B3D_PickFlareItem(&item, camera), 1);
    EXPECT_EQ(camera->collectedCount, 255);
    // Outside this camera's viewport the flare is not covered here.
    item.screenX = 2 * kOne;
    EXPECT_EQ(B3D_PickFlareItem(&item, camera), 0);
    // Without the flare test every flare counts as covered.
    system_->SysFlags &= ~B3D_SYSTEM_FLARE_TEST;
    EXPECT_EQ(B3D_PickFlareItem(&item, camera), 1);
}

}  // namespace
