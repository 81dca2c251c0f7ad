#include <gtest/gtest.h>

#include "scene/allocs.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "scene/trees.h"
#include "scene_fixture.h"
#include "support/logcapture.h"

namespace {

using SceneRecords = SceneTest;

TEST_F(SceneRecords, NewInstanceDefaults) {
    Inst3D* i = B3D_AllocInst();
    ASSERT_NE(i, nullptr);
    EXPECT_NE(i->id, 0u);
    EXPECT_EQ(B3D_InstFind(i->id), i);
    EXPECT_EQ(i->size, 0);
    EXPECT_EQ(i->bodyId, -1);
    EXPECT_EQ(i->detailSwitch, -1);
    EXPECT_EQ(i->totalRadius, -1);
    EXPECT_EQ(i->flags & INST_LIGHT, 0u);
    EXPECT_EQ(i->scale.x, QEL_FIX_ONE);
    EXPECT_EQ(i->scale.y, QEL_FIX_ONE);
    EXPECT_EQ(i->scale.z, QEL_FIX_ONE);
    EXPECT_EQ(i->scale.w, 0);
    EXPECT_TRUE(B3D_ListIsEmpty(&i->children));
    QelMatrix identity;
    Qel_MatIdentity(&identity);
    for (int k : {0, 1, 2, 4, 5, 6, 8, 9, 10}) {
        EXPECT_EQ(i->matrix.m[k], identity.m[k]) << k;
        EXPECT_EQ(i->worldMatrix.m[k], identity.m[k]) << k;
    }
    EXPECT_EQ(i->colorModifier[0], 0);
    EXPECT_EQ(i->colorModifier[1], QEL_FIX_ONE);
    EXPECT_EQ(i->colorModifier[3], QEL_FIX_ONE);
    // Created in no scene.
    EXPECT_EQ(i->scene, nullptr);
    EXPECT_EQ(B3D_First<Inst3D>(&g_B3DState->freeInsts), i);
}

TEST_F(SceneRecords, NewLightAndCameraDefaults) {
    Inst3D* light = B3D_LightAlloc();
    ASSERT_NE(light, nullptr);
    EXPECT_EQ(light->flags, INST_LIGHT);
    EXPECT_EQ(light->size, -1);
    EXPECT_EQ(light->radius, 0);
    EXPECT_EQ(light->bodyId, -1);
    EXPECT_EQ(light->lightValue, 2 * QEL_FIX_ONE);

    Camera3D* cam = B3D_CameraAlloc();
    ASSERT_NE(cam, nullptr);
    EXPECT_EQ(cam->inst.flags, INST_CAMERA);
    EXPECT_EQ(cam->inst.bodyId, -1);
    EXPECT_EQ(cam->inst.size, 0);
    EXPECT_EQ(cam->focus, 16384);
    EXPECT_EQ(cam->priority, 0);
    EXPECT_EQ(cam->camFlags, 0u);
    int32_t vp[4];
    B3D_CameraGetViewPort(cam, vp);
    EXPECT_EQ(vp[0], 0);
    EXPECT_EQ(vp[1], QEL_FIX_ONE);
    EXPECT_EQ(vp[2], 0);
    EXPECT_EQ(vp[3], QEL_FIX_ONE);
    // Lights and cameras share the instance ids.
    EXPECT_NE(light->id, cam->inst.id);
    EXPECT_EQ(B3D_InstFind(cam->inst.id), &cam->inst);
}

TEST_F(SceneRecords, NewSceneAndTakeDefaults) {
    Scene3D* scene = B3D_SceneAlloc();
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(B3D_SceneFind(scene->id), scene);
    EXPECT_FLOAT_EQ(scene->systemScale, 0.01f);
    EXPECT_EQ(scene->ints[0], 32);
    EXPECT_EQ(scene->ints[1], 32);
    EXPECT_EQ(scene->ints[2], 64);
    EXPECT_EQ(scene->flags, 0u);
    EXPECT_EQ(B3D_ListLast(&g_B3DState->scenes), B3D_Node(scene));
    EXPECT_EQ(B3D_SceneGetCamera(scene), 0u);

    J3D_Take* take = J3D_TakeAlloc();
    ASSERT_NE(take, nullptr);
    EXPECT_EQ(J3D_TakeFind(take->id), take);
    EXPECT_EQ(take->state, TAKE_ALLOCATED);
    EXPECT_EQ(take->matrix.m[0], QEL_FIX_ONE);
    EXPECT_EQ(take->matrix.m[5], QEL_FIX_ONE);
    EXPECT_EQ(take->matrix.m[10], QEL_FIX_ONE);
    EXPECT_EQ(take->pos.x, 0);
    EXPECT_EQ(g_B3DState->poolJBytes, static_cast<int32_t>(sizeof(J3D_Take)));
}

TEST_F(SceneRecords, SceneViewPortWithoutCameraChangesNothing) {
    Scene3D* scene = B3D_SceneAlloc();
    B3D_SceneSetViewPort(scene, 1, 2, 3, 4);  // no camera: nothing to set
    Camera3D* cam = B3D_CameraAlloc();
    B3D_SceneLinkInst(scene, cam);
    B3D_SceneSetViewPort(scene, 1, 2, 3, 4);
    EXPECT_EQ(B3D_SceneGetCamera(scene), cam->inst.id);
    EXPECT_EQ(cam->viewport[0], 3);
    EXPECT_EQ(cam->viewport[1], 4);
    EXPECT_EQ(cam->viewport[2], 1);
    EXPECT_EQ(cam->viewport[3], 2);
}

TEST_F(SceneRecords, CameraInDisabledSceneStaysInactiveUntilEnabled) {
    Scene3D* scene = B3D_SceneAlloc();
    Camera3D* cam = B3D_CameraAlloc();
    B3D_SceneLinkInst(scene, cam);
    EXPECT_EQ(cam->inst.scene, scene);
    EXPECT_EQ(cam->camFlags & CAM_ACTIVE, 0u);
    B3D_SceneEnable(scene);
    EXPECT_NE(cam->camFlags & CAM_ACTIVE, 0u);

    // A camera linked into an enabled scene is active at once; moving it out
    // of that scene makes it inactive and puts it in no scene.
    Camera3D* second = B3D_CameraAlloc();
    B3D_SceneLinkInst(scene, second);
    EXPECT_NE(second->camFlags & CAM_ACTIVE, 0u);
    Scene3D* other = B3D_SceneAlloc();
    B3D_SceneLinkInst(other, second);
    EXPECT_EQ(second->camFlags & CAM_ACTIVE, 0u);
    EXPECT_EQ(B3D_ListCount(&scene->cameras), 1);
    EXPECT_EQ(B3D_ListCount(&other->cameras), 1);
    B3D_CameraDeleteFromScene(second);
    EXPECT_EQ(second->inst.scene, nullptr);
    EXPECT_EQ(B3D_ListLast(&g_B3DState->freeInsts), B3D_Node(second));
}

struct AllocCase {
    const char* name;
    void* (*alloc)();
    const char* message;
    QelTable* B3DState::*table;
    int32_t B3DState::*bytes;
};

const AllocCase kAllocCases[] = {
    {"inst", [] { return static_cast<void*>(B3D_AllocInst()); }, "B3D_AllocInst: No free inst ID found!\n",
     &B3DState::instTable, &B3DState::poolIBytes},
    {"light", [] { return static_cast<void*>(B3D_LightAlloc()); }, "B3D_LightAlloc: No free inst ID found!\n",
     &B3DState::instTable, &B3DState::poolIBytes},
    {"camera", [] { return static_cast<void*>(B3D_CameraAlloc()); }, "B3D_CameraAlloc: No free inst ID found!\n",
     &B3DState::instTable, &B3DState::poolIBytes},
    {"scene", [] { return static_cast<void*>(B3D_SceneAlloc()); }, "B3D_SceneAlloc: No free scene ID found!\n",
     &B3DState::sceneTable, &B3DState::poolIBytes},
    {"take", [] { return static_cast<void*>(J3D_TakeAlloc()); }, "J3D_TakeAlloc() No MEM for take\n",
     &B3DState::takeTable, &B3DState::poolJBytes},
};

TEST_F(SceneRecords, FailedAllocationLogsBothMessagesAndLeavesNothing) {
    for (const AllocCase& c : kAllocCases) {
        SCOPED_TRACE(c.name);
        const int32_t before = g_B3DState->*c.bytes;
        const uint32_t count = Qel_TableGetCount(g_B3DState->*c.table);
        LogCapture log;
        B3D_FailNextAllocations(1);
        EXPECT_EQ(c.alloc(), nullptr);
        const std::string pool = c.bytes == &B3DState::poolJBytes ? "B3D_AllocMemJ()" : "B3D_AllocMemI()";
        EXPECT_TRUE(log.Contains(pool + " failed to allocate ")) << log.Text();
        EXPECT_TRUE(log.Contains(c.message)) << log.Text();
        EXPECT_EQ(g_B3DState->*c.bytes, before);
        EXPECT_EQ(Qel_TableGetCount(g_B3DState->*c.table), count);
    }
}

TEST_F(SceneRecords, ExhaustedIdTableLogsOnlyTheRecordMessage) {
    for (const AllocCase& c : kAllocCases) {
        SCOPED_TRACE(c.name);
        const int32_t before = g_B3DState->*c.bytes;
        // A table that hands out no key: every key from 1 to the highest is taken.
        QelTable* saved = g_B3DState->*c.table;
        g_B3DState->*c.table = nullptr;
        LogCapture log;
        EXPECT_EQ(c.alloc(), nullptr);
        g_B3DState->*c.table = saved;
        EXPECT_FALSE(log.Contains("failed to allocate")) << log.Text();
        EXPECT_TRUE(log.Contains(c.message)) << log.Text();
        EXPECT_EQ(g_B3DState->*c.bytes, before);
    }
    EXPECT_TRUE(B3D_ListIsEmpty(&g_B3DState->freeInsts));
    EXPECT_TRUE(B3D_ListIsEmpty(&g_B3DState->scenes));
}

}  // namespace
