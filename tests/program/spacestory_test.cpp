// One story through the space calls of every range, headless through the
// real frame loop: on its second frame it places a ship, a camera and a debris
// field in its sector, reads and sets their properties, asks the types
// database, plays a sound at the ship, starts a take and waits for its end,
// sends the ship to collect the debris and waits for that, and logs what it
// learned; ten frames later it ends the run. The types come from the types
// writer and the take's cut from the cut converter.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/standin_calls.h"
#include "program/gameloop.h"
#include "space/space_fixture.h"
#include "space/typesdb.h"
#include "support/logcapture.h"
#include "support/program.h"
#include "system/clock.h"
#include "tools/lib/types_writer.h"

namespace {

constexpr int32_t kFrameMs = 16;

// Object 9 makes its sector in "Init"; "Input" counts frames, runs the story
// at frame 2 and ends the run ten frames after the story's end (answer 3), or
// at frame 2000 whatever happens (answer 4).
const char* const kStory = R"(
.func "_Init" need 1
    c0
    ret
.object 9
.var "Frames" int 0
.var "Pose" int 0
.var "Point" int 0
.var "Sector" int 0
.var "Ship" int 0
.var "Camera" int 0
.var "Field" int 0
.var "Hull" int 0
.var "Z" int 0
.var "Take" int 0
.var "TakeEnd" int 0
.var "Collected" int 0
.var "CameraType" int 0
.var "Done" int 0
.var "After" int 0
.func "Init" need 8
    c1
    c1
    c2
    sys "SA_AllocObject"
    setv 3
    pop
    c0
    ret
.func "Run" need 1
    c0
    ret
.func "Stop" need 1
    c0
    ret
.func "Input" need 16
    getv 0
    c1
    add
    setv 0
    pop
    getv 0
    c2
    eq
    jf limit
    pushw 6
    c1
    sys "SE_ArrayAlloc"
    setv 1
    pop
    pushl 50000
    c2
    getv 1
    c3
    sys "SE_ArrayWrite"
    pop
    c3
    c1
    sys "SE_ArrayAlloc"
    setv 2
    pop
    pushl 60000
    c2
    getv 2
    c3
    sys "SE_ArrayWrite"
    pop
    c0
    pushw 7
    c2
    sys "SA_AllocObject"
    setv 4
    pop
    getv 3
    getv 4
    c2
    sys "SA_StartObjectInSpace"
    pop
    c0
    pushw 19
    c2
    sys "SA_AllocObject"
    setv 5
    pop
    getv 3
    getv 5
    c2
    sys "SA_StartObjectInSpace"
    pop
    c0
    pushw 28
    c2
    sys "SA_AllocObject"
    setv 6
    pop
    getv 3
    getv 6
    c2
    sys "SA_StartObjectInSpace"
    pop
    getv 1
    getv 4
    c2
    sys "SA_SetPosAndRot"
    pop
    getv 1
    getv 4
    c2
    sys "SA_GetPosAndRot"
    pop
    getv 1
    getv 5
    c2
    sys "SA_SetPosAndRot"
    pop
    c1
    getv 5
    c2
    sys "SA_SetCameraConnectMode"
    pop
    getv 4
    c1
    sys "SA_GetPosZ"
    setv 8
    pop
    getv 8
    getv 4
    c1
    sys "SA_GetPosY"
    getv 4
    c1
    sys "SA_GetPosX"
    getv 6
    pushw 4
    sys "SA_SetPos"
    pop
    getv 5
    c1
    sys "SA_GetMainType"
    setv 12
    pop
    c0
    pushw 7
    c2
    sys "SA_GetTypeMaxHull"
    setv 7
    pop
    pushw 42
    getv 4
    c2
    sys "SA_DoObjectSound"
    pop
    getv 3
    c1
    sys "SA_AllocTake"
    setv 9
    pop
    c0
    c0
    getv 4
    c1
    sys "SA_GetInst3D"
    pushw -1
    pushw 801
    getv 9
    pushw 6
    sys "SA_StartTake"
    setv 10
    pop
    getv 2
    getv 6
    getv 4
    pushw 3
    sys "SA_CollectDebris"
    setv 11
    pop
    getv 0
    getv 11
    getv 10
    getv 7
    getv 12
    getv 8
    pushds "Story: z %d camera %d hull %d take %d collected %d at frame %d\n"
    c0
    pushw 8
    sys "SE_DMprintf"
    pop
    c1
    setv 13
    pop
    c0
    ret
limit:
    getv 0
    pushw 2000
    ge
    jf done
    pushw 4
    ret
done:
    getv 13
    jf more
    getv 14
    c1
    add
    setv 14
    pushw 10
    ge
    jf more
    c3
    ret
more:
    c0
    ret
)";

void AfterSpace(const char* call) {
    if (std::strcmp(call, "O_DeleteKilledChildren") != 0) return;
    S_SetTimeStep(kFrameMs);
}

TEST(SpaceStory, OneCallOfEveryRangeRunsToItsEnd) {
    ProgramSession session({}, kStory);
    std::string error;
    ASSERT_TRUE(Tool_WriteTypesFiles(EmptyTypes() + kOneShipTypeSource, session.Folder().Path() + "/types", -1, &error))
        << error;
    SA_FreeObjectDB();
    ASSERT_EQ(SA_LoadObjectDB(g_SpaceRoot), 1);
    // The debris field has no fields the story reads.
    SA_AppendTypeRecords(SA_MT_DEBRIS, 1);
    // The take runs for two seconds.
    WriteSourceCut(session.Folder(), 801,
                   "path 0 -1\n  key 0x800 2000 0 0 0 0 0 0 0.25\n  key 0x800 -1 65536 0 0 0 0 0 0.25\n");
    S_SetTimeStep(kFrameMs);
    StandIn_SetHook(AfterSpace);
    LogCapture log;
    const int32_t result = CL_GameLoop();
    StandIn_SetHook(nullptr);
    EXPECT_EQ(result, 3) << log.Text();
    const int32_t hull = SA_GetTypeRecord(SA_MT_SHIP, 0)->field[SA_TF_SHIP_MAX_HULL];
    EXPECT_NE(hull, 0);
    const std::string line = "Story: z 50000 camera " + std::to_string(SA_MT_CAMERA) + " hull " + std::to_string(hull) +
                             " take 1 collected 1 at frame ";
    const std::string text = log.Text();
    const size_t at = text.find(line);
    ASSERT_NE(at, std::string::npos) << text;
    // The take's two seconds passed in frames before the story went on.
    const int32_t frame = std::atoi(text.c_str() + at + line.size());
    EXPECT_GE((frame - 2) * kFrameMs, 2000);
    EXPECT_LE((frame - 2) * kFrameMs, 2000 + 4 * kFrameMs);
    EXPECT_FALSE(log.Contains("ERROR")) << log.Text();
    // No sound table is loaded: the sound module names the effect it was asked to play.
    EXPECT_TRUE(log.Contains("SFX_PlaySound3D() unknown effect: 42\n")) << log.Text();
}

}  // namespace
