// The demo game's controls through the real input path: keys pressed on the
// scripted keyboard reach the demo story's "TranslateKey" and "Input" through
// the frame loop's input step and the steering of the player's ship.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/standin_calls.h"
#include "cockpit/cockpits.h"
#include "platform/dinput/seam.h"
#include "program/gameloop.h"
#include "program/main.h"
#include "space/records.h"
#include "space/typesdb.h"
#include "support/logcapture.h"
#include "support/program.h"
#include "system/clock.h"

namespace {

constexpr int32_t kFrameMs = 20;
constexpr uint32_t kScanA = 0x1E;  // a: faster
constexpr uint32_t kScanT = 0x14;  // t: the next enemy

struct Watch {
    int frames = 0;
    int32_t speedBefore = -1;
    int32_t speedHeld = -1;
};
Watch s_watch;

int32_t PlayerDesiredSpeed() {
    const SectorObject* player = INS_SteeredShip();
    return player ? player->desiredSpeed : -1;
}

// Once a frame, after the space update: a holds for 20 frames from frame 5,
// t is pressed at frame 30, and the run stops at frame 40.
void EachFrame(const char* call) {
    if (std::strcmp(call, "O_DeleteKilledChildren") != 0) return;
    S_SetTimeStep(kFrameMs);
    Watch& w = s_watch;
    ++w.frames;
    if (w.frames == 5) {
        w.speedBefore = PlayerDesiredSpeed();
        DInput_SeamKey(kScanA, true);
    }
    if (w.frames == 25) {
        w.speedHeld = PlayerDesiredSpeed();
        DInput_SeamKey(kScanA, false);
    }
    if (w.frames == 30) DInput_SeamKey(kScanT, true);
    if (w.frames == 32) DInput_SeamKey(kScanT, false);
    if (w.frames == 40) g_StopFlag = 1;
}

TEST(DemoGame, KeysSpeedUpThePlayersShipAndLockATarget) {
    const char* binaryDir = std::getenv("TREVAN_BINARY_DIR");
    ASSERT_NE(binaryDir, nullptr);
    DInput_SeamReset();
    {
        ProgramSession session;
        // The demo's story and types in place of the session's own.
        std::filesystem::copy(
            std::filesystem::path(binaryDir) / "demo", session.Folder().Path(),
            std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
        SA_FreeObjectDB();
        ASSERT_EQ(SA_LoadObjectDB(g_SpaceRoot), 1);
        P_SetStoryName("trevanstory");
        g_ProgramState->startMode = P_MODE_GAME;
        g_ProgramState->startScene = -1;
        s_watch = Watch{};
        S_SetTimeStep(kFrameMs);
        StandIn_SetHook(EachFrame);
        LogCapture log;
        CL_GameLoop();
        StandIn_SetHook(nullptr);
        const std::string text = log.Text();
        EXPECT_EQ(s_watch.frames, 40) << text;
        EXPECT_EQ(s_watch.speedBefore, 0) << text;
        EXPECT_GT(s_watch.speedHeld, 0) << text;
        const size_t locked = text.find("Demo: target locked ");
        ASSERT_NE(locked, std::string::npos) << text;
        EXPECT_GT(std::atoi(text.c_str() + locked + std::strlen("Demo: target locked ")), 0) << text;
        EXPECT_FALSE(log.Contains("ILLEGAL")) << text;
    }
    DInput_SeamDisable();
}

}  // namespace
