#include "scene/startup.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/standin_calls.h"
#include "body_fixture.h"
#include "platform/win32/memory.h"
#include "render/bodies.h"
#include "scene/allocs.h"
#include "scene/bodyrecord.h"
#include "scene/caches.h"
#include "scene/takes.h"
#include "scene/trees.h"
#include "support/logcapture.h"
#include "base/memory.h"
#include "system/adapters.h"
#include "system/video.h"

namespace {

int32_t Sum(const int32_t* sizes, int n) {
    int32_t total = 0;
    for (int i = 0; i < n; ++i) total += sizes[i];
    return total;
}

const int32_t kBodyScratch = Sum(B3D_BODY_SCRATCH_SIZES, B3D_BODY_SCRATCH_AREAS);
const int32_t kCutScratch = Sum(B3D_CUT_SCRATCH_SIZES, B3D_SCRATCH_AREAS - B3D_BODY_SCRATCH_AREAS);

class SceneStartup : public BodyTest {
protected:
    void TearDown() override {
        g_Win32MemorySeam = {};
        g_RendererState = savedRenderer_;
        StandIn_Reset();
        if (!g_B3DState) {
            // A failed start leaves no state: the fixture frees a fresh one.
            g_B3DState = B3D_InitStore();
            B3D_InitBodyIdTable();
            B3D_InitCutIdTable();
        }
        BodyTest::TearDown();
    }
    // Starts from no state, as the program does, with module 1 taken.
    B3DState* Start() {
        StandIn_ClearCalls();
        B3D_FreeStore();
        return B3D_Init();
    }
    void WithDevice() {
        renderer_.device = &record_;
        g_RendererState = &renderer_;
    }

private:
    RendererState* savedRenderer_ = g_RendererState;
    RendererState renderer_{};
    D3DDeviceRecord record_{};
};

TEST_F(SceneStartup, TheStateIsMadeRegisteredAndReservesTheScratchAreas) {
    ReplyModule script(1);  // a script engine with module 1 taken
    B3DState* s = Start();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s, g_B3DState);
    EXPECT_EQ(s->moduleNumber, 2);
    EXPECT_EQ(s->gammaValue, 127);
    EXPECT_EQ(s->shadowAlpha, 200);
    EXPECT_EQ(s->sound3DUsable, 1);
    EXPECT_NE(s->bodyIds.slots, nullptr);
    EXPECT_NE(s->cutIds.slots, nullptr);
    EXPECT_EQ(s->poolBBytes, kBodyScratch);
    EXPECT_EQ(s->poolJBytes, kCutScratch);
    for (void* area : s->scratch) EXPECT_NE(area, nullptr);
    // Released with the body tables, the pool counters going down.
    B3D_FreeScratchAreas();
    EXPECT_EQ(s->poolBBytes, 0);
    EXPECT_EQ(s->poolJBytes, 0);
    EXPECT_EQ(s->poolBPeak, kBodyScratch);
    for (void* area : s->scratch) EXPECT_EQ(area, nullptr);
    EXPECT_EQ(StandIn_Calls(), std::vector<std::string>{"B3D_Init"});
}

// A second start in one process, after the exit's release of the body
// tables, can load cuts and start takes again.
TEST_F(SceneStartup, ASecondStartAfterTheReleaseHasItsCutAndTakeTables) {
    ReplyModule script(1);
    ASSERT_NE(Start(), nullptr);
    B3D_FreeBodyTables();
    ASSERT_EQ(B3D_Init(), g_B3DState);
    EXPECT_NE(g_B3DState->cutTable, nullptr);
    J3D_Take* take = J3D_TakeAlloc();
    ASSERT_NE(take, nullptr);
    EXPECT_EQ(J3D_TakeFind(take->id), take);
    J3D_TakeFree(take);
}

TEST_F(SceneStartup, AScratchAreaThatCannotBeReservedIsLoggedAndLeftOut) {
    const struct {
        int failFirst;  // reservations that succeed before the failing one
        std::string line;
        int32_t bodyBytes, cutBytes;
    } cases[] = {
        {0, "B3D_AllocMemB() failed to allocate 9600000 bytes!\n", kBodyScratch - 9600000, kCutScratch},
        {B3D_BODY_SCRATCH_AREAS, "B3D_AllocMemJ() failed to allocate 1600000 bytes!\n", kBodyScratch,
         kCutScratch - 1600000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        B3D_FreeScratchAreas();
        g_B3DState->poolBBytes = g_B3DState->poolJBytes = 0;
        // Reserve the areas before the failing one, then fail one reservation.
        for (int a = 0; a < c.failFirst; ++a)
            g_B3DState->scratch[a] = B3D_AllocMemB(B3D_BODY_SCRATCH_SIZES[a], INT_MEM_VIRTUAL | INT_MEM_RESERVE);
        g_Win32MemorySeam.failVirtualAllocs = 1;
        LogCapture log;
        B3D_ReserveScratchAreas();
        EXPECT_TRUE(log.Contains(c.line)) << log.Text();
        EXPECT_EQ(g_B3DState->scratch[c.failFirst], nullptr);
        EXPECT_EQ(g_B3DState->poolBBytes, c.bodyBytes);
        EXPECT_EQ(g_B3DState->poolJBytes, c.cutBytes);
    }
    B3D_FreeScratchAreas();
}

TEST_F(SceneStartup, OnlyAMissingStateFailsTheStart) {
    ReplyModule script(1);
    B3D_FreeStore();
    g_Win32MemorySeam.failHeapAllocs = 2;  // the state record, tried twice
    EXPECT_EQ(B3D_Init(), nullptr);
    EXPECT_EQ(g_B3DState, nullptr);
    // The program's seam makes the step fail as well (exit reason 30 there).
    StandIn_SetFailure("B3D_Init", true);
    EXPECT_EQ(B3D_Init(), nullptr);
}

TEST_F(SceneStartup, MaterialsNeedARendererDevice) {
    EXPECT_EQ(B3DB_Init(), 0);
    WithDevice();
    EXPECT_EQ(B3DB_Init(), 1);
    // Start flag 0x800 converts every text body to binary.
    WriteBody(12, "");
    system_->SysProfilingFlags |= 0x800;
    LogCapture log;
    EXPECT_EQ(B3DB_Init(), 1);
    EXPECT_TRUE(log.Contains("B3DB_ConvertAllBodiesToBinary: 00012.bod\n")) << log.Text();
    StandIn_SetFailure("B3DB_Init", true);
    EXPECT_EQ(B3DB_Init(), 0);
}

TEST_F(SceneStartup, AfterADeviceReopenNoBodyKeepsRendererData) {
    // A kept body and a plain one, each with a level the renderer takes.
    Body3D* bodies[2];
    for (int i = 0; i < 2; ++i) {
        bodies[i] = static_cast<Body3D*>(B3D_AllocMemB(sizeof(Body3D), B3D_MEM_ZERO));
        bodies[i]->id = 20 + i;
        B3D_LinkBody(bodies[i]);
        B3D_AllocBodyLevel(bodies[i]);
    }
    bodies[0]->flags |= BODY_KEEPD3D;
    Scene3D* scene = B3D_SceneAlloc();
    Camera3D* cam = B3D_CameraAlloc();
    B3D_SceneLinkInst(scene, cam);
    cam->camFlags |= CAM_LISTENER;
    Inst3D* insts[2];
    for (int i = 0; i < 2; ++i) {
        insts[i] = B3D_AllocInst();
        insts[i]->bodyId = 20 + i;
        B3D_InstAddToScene(insts[i], scene);
    }
    B3D_SceneEnable(scene);
    for (Inst3D* i : insts) ASSERT_TRUE(i->flags & INST_IN_RENDERER);
    for (Body3D* b : bodies) ASSERT_NE(b->levels[0]->rendererBody, nullptr);
    insts[0]->flags2 |= INST2_SOUND_CHANNEL;
    insts[0]->soundChannel = 4;
    system_->debugFlags |= 0x2000;
    StandIn_ClearCalls();
    LogCapture log;
    // The video device's reset reaches the scene engine through its hook.
    ASSERT_EQ(g_SReopenDeviceHook, &B3D_ReopenDevice);
    EXPECT_EQ(g_SReopenDeviceHook(), 0);  // no device here: the renderer cannot start again
    EXPECT_TRUE(log.Contains("B3D_DisableAllObjects3D() bodyid 20 marked as KEEPD3D, now freed!\n")) << log.Text();
    EXPECT_FALSE(log.Contains("bodyid 21 marked"));
    for (Body3D* b : bodies) EXPECT_EQ(b->levels[0]->rendererBody, nullptr);
    for (Inst3D* i : insts) EXPECT_FALSE(i->flags & INST_IN_RENDERER);
    EXPECT_FALSE(insts[0]->flags2 & INST2_SOUND_CHANNEL);
    EXPECT_EQ(cam->rendererCamera, nullptr);
    EXPECT_TRUE(scene->flags & SCENE_ENABLED);
    EXPECT_TRUE(log.Contains("S_3DInit() failed\n"));
    EXPECT_EQ(StandIn_Calls(), std::vector<std::string>{"B3D_FreeTextureFormats"});
    // The scene's instances enter the renderer again.
    B3D_EnableAllObjects3D();
    for (Inst3D* i : insts) EXPECT_TRUE(i->flags & INST_IN_RENDERER);
    EXPECT_NE(cam->rendererCamera, nullptr);
    B3D_SceneFree(scene);
}

}  // namespace
