// The main road, headless through the real frame loop: a story creates a
// sector and a ship, sets the autopilot and orders the ship to a point with
// "SA_MovePos"; the ship flies, and the waiting task goes on with the answer,
// which the story logs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "base/general.h"
#include "base/standin_calls.h"
#include "program/gameloop.h"
#include "program/startup.h"
#include "scene/records.h"
#include "space/flight.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/typesdb.h"
#include "support/logcapture.h"
#include "support/program.h"
#include "system/clock.h"

namespace {

constexpr int32_t kSpeed = 150000;
constexpr int32_t kAcceleration = 30000;
constexpr int32_t kTurn = 6554;  // a tenth of a turn a second
constexpr int32_t kFrameMs = 16;

struct Road {
    bool autopilot = true;
    bool unknownShip = false;
    int32_t x = 0, y = 0, z = 600000, range = 20000;
    int32_t secondOrderFrame = 0;  // a second order at this frame
    int32_t freeFrame = 0;         // the story frees its ship at this frame
    int32_t frameLimit = 3000;     // the run ends here whatever happens (answer 4)
};

// Object 9 makes the sector and the ship in "Init"; "Input" counts frames,
// orders the ship at frame 2 (and again when asked), logs each answer with the
// frame, and ends the run ten frames after an answer.
std::string RoadStory(const Road& r) {
    const auto n = [](int32_t v) { return std::to_string(v); };
    std::string order = "    pushl " + n(r.range) + "\n    pushl " + n(r.z) + "\n    pushl " + n(r.y) + "\n    pushl " +
                        n(r.x) + "\n    getv 1\n    c5\n    sys \"SA_MovePos\"\n    pushw 100\n    add\n";
    const auto logged = [](const char* which, int var) {
        return std::string("    getv 0\n    getv ") + std::to_string(var) +
               "\n    pushw 100\n    sub\n    pushds \"Road: " + which +
               " order answered %d at frame %d\\n\"\n    c0\n    c4\n    sys \"SE_DMprintf\"\n    pop\n";
    };
    return R"(
.func "_Init" need 1
    c0
    ret
.object 9
.var "Frames" int 0
.var "Ship" int 0
.var "Sector" int 0
.var "First" int 0
.var "Second" int 0
.var "After" int 0
.func "Init" need 8
    c1
    c1
    c2
    sys "SA_AllocObject"
    setv 2
    pop
    c0
    pushw 7
    c2
    sys "SA_AllocObject"
    setv 1
    pop
    getv 2
    getv 1
    c2
    sys "SA_StartObjectInSpace"
    pop
)" + std::string(r.autopilot ? "    c1\n    getv 1\n    c2\n    sys \"SA_SetAutopilot\"\n    pop\n" : "") +
           std::string(r.unknownShip ? "    pushl 999999\n    setv 1\n    pop\n" : "") + R"(
    c0
    ret
.func "Run" need 1
    c0
    ret
.func "Stop" need 1
    c0
    ret
.func "Input" need 12
    getv 0
    c1
    add
    setv 0
    pop
    getv 0
    c2
    eq
    jf second
)" + order +
           "    setv 3\n    pop\n" + logged("first", 3) + "    c0\n    ret\nsecond:\n    getv 0\n    pushw " +
           n(r.secondOrderFrame) + "\n    eq\n    jf free\n" + order + "    setv 4\n    pop\n" + logged("second", 4) +
           "    c0\n    ret\nfree:\n    getv 0\n    pushw " + n(r.freeFrame) +
           "\n    eq\n    jf limit\n    getv 1\n    c1\n    sys \"SA_FreeObject\"\n    pop\nlimit:\n    getv 0\n    "
           "pushw " +
           n(r.frameLimit) + R"(
    ge
    jf answered
    pushw 4
    ret
answered:
    getv 3
    getv 4
    lor
    jf more
    getv 5
    c1
    add
    setv 5
    pushw 10
    ge
    jf more
    c3
    ret
more:
    c0
    ret
)";
}

// What the test sees after each frame's space update: the ship's distance to
// the point and whether a task still waits on it.
struct Sample {
    int64_t distance;
    bool waiting;
};
std::vector<Sample> s_samples;
QelVector s_goal;
bool s_stopRunning = false;

SectorObject* TheShip() {
    for (SectorObject* s = SA_ListFirst(&g_SpaceRoot->objects); s; s = SA_ListNext(s))
        for (SectorObject* c = SA_ListFirst(O_GetChildList(s)); c; c = SA_ListNext(c))
            if (c->mainType == SA_MT_SHIP) return c;
    return nullptr;
}

void AfterSpace(const char* call) {
    if (std::strcmp(call, "O_DeleteKilledChildren") != 0) return;
    S_SetTimeStep(kFrameMs);  // every frame after this one is 16 ms of game time
    if (s_stopRunning) g_SpaceRoot->running = 0;
    const SectorObject* ship = TheShip();
    s_samples.push_back(ship ? Sample{SA_VecDistance(&ship->instance->pos, &s_goal), ship->callerModule != 0}
                             : Sample{-1, false});
}

struct Outcome {
    int32_t result;
    std::string log;
    std::vector<Sample> samples;
};

Outcome Drive(const Road& road, bool stopRunning = false) {
    ProgramSession session({}, RoadStory(road));
    int32_t* f = SA_AppendTypeRecords(SA_MT_SHIP, 1)->field;
    f[SA_TF_SHIP_SPEED] = kSpeed;
    f[SA_TF_SHIP_ACCELERATION] = kAcceleration;
    f[SA_TF_STEP_X] = f[SA_TF_STEP_Y] = f[SA_TF_STEP_Z] = kTurn;
    f[SA_TF_SHIP_MAX_HULL] = 100;
    s_samples.clear();
    s_goal = QelVector{road.x, road.y, road.z, 0};
    s_stopRunning = stopRunning;
    S_SetTimeStep(kFrameMs);
    StandIn_SetHook(AfterSpace);
    LogCapture log;
    Outcome out;
    out.result = CL_GameLoop();
    out.log = log.Text();
    out.samples = s_samples;
    StandIn_SetHook(nullptr);
    return out;
}

// The frame of the log line "Road: <which> order answered <code> at frame <n>"; -1 without one.
int32_t AnsweredAt(const std::string& log, const char* which, int32_t code) {
    const std::string head = std::string("Road: ") + which + " order answered " + std::to_string(code) + " at frame ";
    const size_t at = log.find(head);
    return at == std::string::npos ? -1 : std::atoi(log.c_str() + at + head.size());
}

// The frames a ship of the test type needs for the distance: the speed law
// ramps from 5,000 at the point to the top speed at the braking distance, and
// the ship reaches each speed by its acceleration; turning first takes the
// angle over the turn rate, twice for speeding the turn up and down.
int32_t PredictedFrames(double distance, double range, double angle) {
    const double k = (kSpeed - 5000.0) / (static_cast<double>(kSpeed) * kSpeed / kAcceleration);
    const double ramp = std::log((5000.0 + k * distance) / (5000.0 + k * range)) / k;
    const double speedUp = static_cast<double>(kSpeed) / kAcceleration;
    const double turn = 2.0 * angle / kTurn;
    return static_cast<int32_t>((ramp + speedUp + turn) * 1000.0 / kFrameMs) + 10;
}

TEST(MainRoad, AShipOrderedToAPointArrivesAndItsTaskGoesOnWithOne) {
    struct Case {
        const char* name;
        int32_t x, z;
        double angle;  // 16-bit turn angle to the point
    } cases[] = {{"straight ahead", 0, 600000, 0}, {"off its axis", 400000, 400000, 8192}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Road road;
        road.x = c.x;
        road.z = c.z;
        const Outcome out = Drive(road);
        EXPECT_EQ(out.result, 3);
        const int32_t frame = AnsweredAt(out.log, "first", 1);
        ASSERT_GT(frame, 2) << out.log;
        const double distance = std::hypot(static_cast<double>(c.x), static_cast<double>(c.z));
        const int32_t fastest = static_cast<int32_t>((distance - road.range) / kSpeed * 1000 / kFrameMs);
        EXPECT_GE(frame - 2, fastest);
        EXPECT_LE(frame - 2, PredictedFrames(distance, road.range, c.angle));
        // The task waited until the frame that found the ship within its range
        // (samples[k] is the state after frame k + 1).
        ASSERT_GE(static_cast<int32_t>(out.samples.size()), frame);
        EXPECT_TRUE(out.samples[frame - 2].waiting);
        EXPECT_FALSE(out.samples[frame - 1].waiting);
        EXPECT_LE(out.samples[frame - 2].distance, road.range);
        EXPECT_GT(out.samples[frame - 3].distance, road.range);
    }
}

TEST(MainRoad, AShipFreedMidOrderAnswersEight) {
    Road road;
    road.freeFrame = 20;
    const Outcome out = Drive(road);
    EXPECT_EQ(out.result, 3);
    EXPECT_EQ(AnsweredAt(out.log, "first", 8), 20) << out.log;
}

TEST(MainRoad, AnUnknownShipAnswersZeroAtOnce) {
    Road road;
    road.unknownShip = true;
    const Outcome out = Drive(road);
    EXPECT_EQ(out.result, 3);
    // Answered in the frame it asked, before that frame's space update: never parked.
    EXPECT_EQ(AnsweredAt(out.log, "first", 0), 2) << out.log;
    EXPECT_NE(out.log.find("SA_FindObjectByID(999999) "), std::string::npos);
}

TEST(MainRoad, OfTwoOrdersOnlyTheSecondCallerIsAnswered) {
    Road road;
    road.secondOrderFrame = 5;
    const Outcome out = Drive(road);
    EXPECT_EQ(out.result, 3);
    EXPECT_GT(AnsweredAt(out.log, "second", 1), 5) << out.log;
    EXPECT_EQ(out.log.find("Road: first order answered"), std::string::npos) << out.log;
}

TEST(MainRoad, WhileTheSpaceDoesNotRunTheOrderNeverEnds) {
    Road road;
    road.frameLimit = 400;
    const Outcome out = Drive(road, true);
    EXPECT_EQ(out.result, 4);
    EXPECT_EQ(out.log.find("Road: first order answered"), std::string::npos) << out.log;
    ASSERT_FALSE(out.samples.empty());
    EXPECT_TRUE(out.samples.back().waiting);
}

}  // namespace
