#include <cstdint>
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "base/vrmfile.h"
#include "scene/cutkeys.h"
#include "scene/pools.h"
#include "scene/smallops.h"
#include "scene_fixture.h"
#include "support/logcapture.h"

namespace {

constexpr int32_t ONE = 65536;

class CutKeys : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        J3D_BeginPathKeys();
    }
    void TearDown() override {
        J3D_DropPathKeys();
        SceneTest::TearDown();
    }
    // A text reader over the key fields.
    void Read(const std::string& fields) {
        text_ = fields;
        r_ = VRMFile{};
        Qel_ReaderInit(&r_, text_.c_str(), 0);
        r_.tags = g_VRMCutTags;
        r_.rowCount = 11;
    }
    static int32_t Count(int32_t track) { return g_B3DState->cutBuffers[track].count; }
    static J3D_MotionKey& Motion(int32_t track, int32_t i = 0) {
        return static_cast<J3D_MotionKey*>(g_B3DState->cutBuffers[track].keys)[i];
    }
    template <class T>
    static T& Key(int32_t track, int32_t i = 0) {
        return static_cast<T*>(g_B3DState->cutBuffers[track].keys)[i];
    }

    std::string text_;
    VRMFile r_{};
};

struct FlagCase {
    uint32_t flags;
    const char* fields;
    std::array<int32_t, 6> counts;  // position, rotation, target, roll, colour, field of view
};

// Every way the key flags select the tracks a key line feeds.
TEST_F(CutKeys, KeyFlagsSelectTheTracks) {
    const FlagCase cases[] = {
        {0x0, "1;2;3; 0.25;0.5;0.75;", {1, 1, 0, 0, 0, 0}},
        {0x10, "0.25;0;0;", {0, 1, 0, 0, 0, 0}},
        {0x4000, "1;2;3; 0.1;0.2;0.3;0.4;0.5; 0;0;0;", {1, 1, 0, 0, 0, 0}},
        {0x2, "1;2;3; 0.25;0;1;0;", {1, 1, 0, 0, 0, 0}},
        {0x8002, "1;2;3; 0.25;0;1;0; 0.1;0.2;0.3;0.4;0.5;", {1, 1, 0, 0, 0, 0}},
        {0x22, "1;2;3;", {1, 1, 0, 0, 0, 0}},
        {0x20, "1;2;3;", {1, 0, 0, 0, 0, 0}},
        {0x8, "1;2;3; 4;5;6; 0.25;", {1, 0, 1, 1, 0, 0}},
        {0x48, "1;2;3; 0.25;", {1, 0, 0, 1, 0, 0}},
        {0x28, "1;2;3; 4;5;6;", {1, 0, 1, 0, 0, 0}},
        {0x68, "1;2;3;", {1, 0, 0, 0, 0, 0}},
        {0x200, "1;2;3; 1;0.5;0;", {1, 0, 0, 0, 1, 0}},
        {0x600, "1;2;3;", {1, 0, 0, 0, 0, 0}},
        {0x202, "1;2;3; 0.25;0;1;0; 1;1;1;", {1, 1, 0, 0, 1, 0}},
        {0x800, "1;2;3; 0;0;0; 0.5;", {1, 1, 0, 0, 0, 1}},
        {0x1800, "1;2;3; 0;0;0;", {1, 1, 0, 0, 0, 0}},
        {0xA18, "4;5;6; 0.25; 1;1;1; 0.5;", {0, 0, 1, 1, 1, 1}},
        {0x30, "", {0, 0, 0, 0, 0, 0}},
    };
    for (const FlagCase& c : cases) {
        J3D_BeginPathKeys();
        Read(std::string(c.fields) + " 100; 7;");
        ASSERT_EQ(J3D_LoadCutKey(&r_, c.flags, "test.bod", 0, 0), 1);
        EXPECT_EQ(r_.error, 0) << std::hex << c.flags;
        EXPECT_EQ(*r_.cursor, 0) << "every field read, flags 0x" << std::hex << c.flags;
        for (int32_t t = 0; t < J3D_KEY_TRACKS; ++t) {
            EXPECT_EQ(Count(t), c.counts[size_t(t)]) << "track " << t << " flags 0x" << std::hex << c.flags;
            if (Count(t)) {
                // Every key of the line gets time 0 and the line's flags.
                EXPECT_EQ(*static_cast<int32_t*>(g_B3DState->cutBuffers[t].keys), 0);
                EXPECT_EQ(static_cast<uint32_t*>(g_B3DState->cutBuffers[t].keys)[1], c.flags);
            }
        }
    }
}

TEST_F(CutKeys, ValuesLandInTheirFields) {
    Read("1;2;3; 0.25;0.5;0.75; 100;0;");
    J3D_LoadCutKey(&r_, 0x0, "f", 0, 0);
    EXPECT_EQ(Motion(J3D_TRACK_POS).value[0], 1);
    EXPECT_EQ(Motion(J3D_TRACK_POS).value[2], 3);
    EXPECT_EQ(Motion(J3D_TRACK_ROT).value[1], ONE / 2);

    J3D_BeginPathKeys();
    Read("1;2;3; 0.1;0.2;0.3;0.4;0.5; 0.25;0;1;0; 0.5;0.25;0;0;1; 100;0;");
    J3D_LoadCutKey(&r_, 0xC002, "f", 0, 0);
    EXPECT_EQ(Motion(J3D_TRACK_POS).spline[4], ONE / 2);
    EXPECT_EQ(Motion(J3D_TRACK_ROT).value[0], ONE / 4);
    EXPECT_EQ(Motion(J3D_TRACK_ROT).axis[1], ONE);
    EXPECT_EQ(Motion(J3D_TRACK_ROT).spline[1], ONE / 4);
    EXPECT_EQ(Motion(J3D_TRACK_ROT).spline[4], ONE);

    // The identity rotation key: angle 0 about -x.
    J3D_BeginPathKeys();
    Read("1;2;3; 100;0;");
    J3D_LoadCutKey(&r_, 0x22, "f", 0, 0);
    EXPECT_EQ(Motion(J3D_TRACK_ROT).value[0], 0);
    EXPECT_EQ(Motion(J3D_TRACK_ROT).axis[0], -ONE);
    EXPECT_EQ(Motion(J3D_TRACK_ROT).quat[0], ONE);

    // Target, the roll negated, colour and field of view.
    J3D_BeginPathKeys();
    Read("4;5;6; 0.25; 1;0.5;0; 0.75; 100;0;");
    J3D_LoadCutKey(&r_, 0xA18, "f", 0, 0);
    EXPECT_EQ(Motion(J3D_TRACK_TARGET).value[1], 5);
    EXPECT_EQ(Key<J3D_RollKey>(J3D_TRACK_ROLL).roll, -ONE / 4);
    EXPECT_EQ(Key<J3D_ColorKey>(J3D_TRACK_COLOR).rgb[1], ONE / 2);
    EXPECT_EQ(Key<J3D_FovKey>(J3D_TRACK_FOV).value, 3 * ONE / 4);
}

// Durations move the running time; 0 and those below -1 are logged and add
// nothing, -1 is accepted without a message and adds nothing either, so key
// times never go back.
TEST_F(CutKeys, DurationsMoveTheKeyClockForward) {
    Read("0;0;0; 100;0; 0;0;0; -1;0; 0;0;0; 0;0; 0;0;0; -5;0; 0;0;0; 50;0; 0;0;0; 10;0;");
    LogCapture log;
    for (int32_t i = 0; i < 6; ++i) ASSERT_EQ(J3D_LoadCutKey(&r_, 0x20, "test.bod", 2, i), 1);
    const int32_t times[] = {0, 100, 100, 100, 100, 150};
    for (int32_t i = 0; i < 6; ++i) EXPECT_EQ(Motion(J3D_TRACK_POS, i).time, times[i]) << i;
    EXPECT_TRUE(log.Contains(
        "J3D_LoadCutKey: Error loading cut file test.bod - found key with invalid duration 0 in path 2, state 2\n"));
    EXPECT_TRUE(log.Contains(
        "J3D_LoadCutKey: Error loading cut file test.bod - found key with invalid duration -5 in path 2, state 3\n"));
    EXPECT_FALSE(log.Contains("invalid duration -1"));
}

TEST_F(CutKeys, ATrackHoldsTwentyThousandKeys) {
    std::string lines;
    for (int32_t i = 0; i <= J3D_MAX_PATH_KEYS; ++i) lines += "0.5;1;0;\n";
    Read(lines);
    constexpr uint32_t rollOnly = 0x58;
    for (int32_t i = 0; i < J3D_MAX_PATH_KEYS; ++i) ASSERT_EQ(J3D_LoadCutKey(&r_, rollOnly, "big.bob", 3, i), 1) << i;
    EXPECT_EQ(Count(J3D_TRACK_ROLL), J3D_MAX_PATH_KEYS);
    EXPECT_EQ(Key<J3D_RollKey>(J3D_TRACK_ROLL, J3D_MAX_PATH_KEYS - 1).time, J3D_MAX_PATH_KEYS - 1);
    LogCapture log;
    EXPECT_EQ(J3D_LoadCutKey(&r_, rollOnly, "big.bob", 3, J3D_MAX_PATH_KEYS), 0);
    EXPECT_EQ(r_.error, 1);
    EXPECT_TRUE(
        log.Contains("J3D_LoadCutKey: Error loading cut file big.bob - maximum number of path states reached "
                     "in path 3, state 20000\n"));
    EXPECT_EQ(Count(J3D_TRACK_ROLL), J3D_MAX_PATH_KEYS);
}

TEST_F(CutKeys, AWorkArrayThatCannotGrowEndsTheProgram) {
    Read("1;2;3; 100;0;");
    B3D_FailNextAllocations(1);
    // The exit frees the SystemState it finds; the test's own is no heap record.
    EXPECT_EXIT(
        {
            g_SystemState = nullptr;
            J3D_LoadCutKey(&r_, 0x20, "f", 0, 0);
        },
        testing::ExitedWithCode(3), "B3D_AllocMemJ\\(\\) failed");
    B3D_FailNextAllocations(0);
}

TEST_F(CutKeys, FinishingAPathMovesTheKeysIntoIt) {
    Read("0;0;0; 0.25;0;0; 0.5; 100;0; 65536;0;0; 0.5;0;0; 0.75; 100;0;");
    J3D_LoadCutKey(&r_, 0x800, "f", 0, 0);
    J3D_LoadCutKey(&r_, 0x800, "f", 0, 1);
    const int32_t poolBefore = g_B3DState->poolJBytes;
    J3D_CutPath path{};
    J3D_FinishPathKeys(&path);
    EXPECT_EQ(path.posCount, 2);
    EXPECT_EQ(path.rotCount, 2);
    EXPECT_EQ(path.fovCount, 2);
    EXPECT_EQ(path.targetCount, 0);
    EXPECT_EQ(path.targetKeys, nullptr);
    EXPECT_EQ(path.posKeys[1].time, 100);
    EXPECT_EQ(path.fovKeys[1].value, 3 * ONE / 4);
    // Prepared: the rotation keys are marked, the positions have tangents.
    EXPECT_EQ(path.rotKeys[0].flags, 0x804u);
    EXPECT_EQ(path.posKeys[0].outTangent.x, ONE);
    for (int32_t t = 0; t < J3D_KEY_TRACKS; ++t) {
        EXPECT_EQ(g_B3DState->cutBuffers[t].keys, nullptr);
        EXPECT_EQ(g_B3DState->cutBuffers[t].capacity, 0);
    }
    // The work arrays went, the exact arrays came.
    const int32_t exact = 4 * int32_t(sizeof(J3D_MotionKey)) + 2 * int32_t(sizeof(J3D_FovKey));
    EXPECT_EQ(g_B3DState->poolJBytes,
              poolBefore - 100 * (2 * int32_t(sizeof(J3D_MotionKey)) + int32_t(sizeof(J3D_FovKey))) + exact);
    B3D_FreeMemJ(2 * int32_t(sizeof(J3D_MotionKey)), path.posKeys, 0);
    B3D_FreeMemJ(2 * int32_t(sizeof(J3D_MotionKey)), path.rotKeys, 0);
    B3D_FreeMemJ(2 * int32_t(sizeof(J3D_FovKey)), path.fovKeys, 0);
}

J3D_MotionKey PosKey(int32_t time, int32_t x, int32_t tension = 0) {
    J3D_MotionKey k{};
    k.time = time;
    k.value[0] = x;
    k.spline[0] = tension;
    return k;
}

TEST_F(CutKeys, PositionTangentsOfEvenKeysOnALine) {
    std::vector<J3D_MotionKey> keys = {PosKey(0, 0), PosKey(1000, ONE), PosKey(2000, 2 * ONE)};
    J3D_PreparePositionKeys(3, keys.data());
    EXPECT_EQ(keys[0].inTangent.x, 0);
    EXPECT_EQ(keys[0].outTangent.x, ONE);
    EXPECT_EQ(keys[1].inTangent.x, ONE);
    EXPECT_EQ(keys[1].outTangent.x, ONE);
    EXPECT_EQ(keys[2].inTangent.x, ONE);
    EXPECT_EQ(keys[2].outTangent.x, 0);
    EXPECT_EQ(keys[1].inTangent.y, 0);
}

TEST_F(CutKeys, PositionTangentsOfTenseAndCrowdedKeys) {
    std::vector<J3D_MotionKey> two = {PosKey(0, 0, ONE), PosKey(1000, ONE, ONE)};
    J3D_PreparePositionKeys(2, two.data());
    EXPECT_EQ(two[0].outTangent.x, 0);
    EXPECT_EQ(two[1].inTangent.x, 0);
    // Without tension two keys get their difference.
    two = {PosKey(0, 0), PosKey(1000, 3 * ONE)};
    J3D_PreparePositionKeys(2, two.data());
    EXPECT_EQ(two[0].outTangent.x, 3 * ONE);
    EXPECT_EQ(two[1].inTangent.x, 3 * ONE);
    // Neighbours at one time give the key between them zero tangents.
    std::vector<J3D_MotionKey> crowd = {PosKey(500, 0), PosKey(500, ONE), PosKey(500, 2 * ONE)};
    J3D_PreparePositionKeys(3, crowd.data());
    EXPECT_EQ(crowd[1].inTangent.x, 0);
    EXPECT_EQ(crowd[1].outTangent.x, 0);
    // A single key has none.
    std::vector<J3D_MotionKey> one = {PosKey(0, ONE)};
    one[0].inTangent.x = one[0].outTangent.x = 77;
    J3D_PreparePositionKeys(1, one.data());
    EXPECT_EQ(one[0].inTangent.x, 0);
    EXPECT_EQ(one[0].outTangent.x, 0);
}

// Found by fuzzing: 1.0 minus a tension read from the file overflowed.
TEST_F(CutKeys, ExtremeSplineTermsWrapInsteadOfOverflowing) {
    for (int32_t term : {INT32_MIN, INT32_MAX}) {
        std::vector<J3D_MotionKey> keys = {PosKey(0, 0, term), PosKey(1000, ONE, term), PosKey(2000, 2 * ONE, term),
                                           PosKey(3000, 3 * ONE, term)};
        for (J3D_MotionKey& k : keys) k.spline[1] = k.spline[2] = term;
        J3D_PreparePositionKeys(4, keys.data());
        J3D_PreparePositionKeys(2, keys.data());
        EXPECT_EQ(keys[0].inTangent.x, 0);
    }
}

J3D_MotionKey RotKey(uint32_t flags, int32_t angle) {
    J3D_MotionKey k{};
    k.flags = flags;
    k.value[0] = angle;
    k.axis[1] = ONE;
    return k;
}

TEST_F(CutKeys, RotationKeysComposeUnlessAbsolute) {
    std::vector<J3D_MotionKey> keys = {RotKey(0x2, ONE / 4), RotKey(0x2, ONE / 4), RotKey(0x2002, ONE / 4),
                                       RotKey(0x0, 123),     RotKey(0x6, ONE / 4), RotKey(0x2, ONE / 4)};
    J3D_PrepareRotationKeys(int32_t(keys.size()), keys.data());
    // A quarter turn about y: cos and sin of an eighth.
    EXPECT_EQ(keys[0].quat[0], 46341);
    EXPECT_EQ(keys[0].quat[2], 46341);
    // Two quarter turns make a half turn.
    EXPECT_NEAR(keys[1].quat[0], 0, 2);
    EXPECT_NEAR(keys[1].quat[2], ONE, 2);
    // Absolute: its own quarter turn, which the next keys build on.
    EXPECT_EQ(keys[2].quat[0], 46341);
    // Euler keys and keys prepared before keep their words.
    EXPECT_EQ(keys[3].quat[0], 0);
    EXPECT_EQ(keys[4].quat[0], 0);
    EXPECT_NEAR(keys[5].quat[0], 0, 2);
    EXPECT_NEAR(keys[5].quat[2], ONE, 2);
    for (const J3D_MotionKey& k : keys) EXPECT_TRUE(k.flags & KEY_PREPARED);
}

}  // namespace
