// Which glow and engine parts an instance's glow state draws, and how.
#include <gtest/gtest.h>

#include "scene/bodyrecord.h"
#include "scene/drawing.h"

namespace {

constexpr uint32_t kOtherPart = 0x200;

// A glow or engine part belongs to the side its centre lies farthest out on;
// it draws only while that side is lit, and only on an instance that carries
// a glow state at all.
TEST(GlowParts, OnlyTheLitSidesPartsDraw) {
    struct Case {
        uint32_t flags;
        int32_t x, y, z;
        uint32_t side;
    } cases[] = {
        {B3D_PART_ENGINE, 0, 10, -100, B3D_GlowSideBit(2, -1)},
        {B3D_PART_GLOW, 0, 0, 100, B3D_GlowSideBit(2, 1)},
        {B3D_PART_GLOW, -50, 10, 20, B3D_GlowSideBit(0, -1)},
        {B3D_PART_GLOW | B3D_PART_ENGINE, 5, 60, -20, B3D_GlowSideBit(1, 1)},
        {B3D_PART_ENGINE, 0, 0, 0, B3D_GlowSideBit(2, -1)},  // in the middle: a main engine
        {kOtherPart, 0, 0, -100, 0},                         // no glow part
    };
    Inst3D inst{};
    inst.words5[B3D_INST_GLOW_LEVEL] = B3D_GLOW_FULL;
    for (const Case& c : cases) {
        BodyPart part{};
        part.flags = c.flags;
        part.centre[0] = c.x;
        part.centre[1] = c.y;
        part.centre[2] = c.z;
        SCOPED_TRACE(testing::Message() << c.flags << " at " << c.x << "," << c.y << "," << c.z);
        EXPECT_EQ(B3D_GlowPartSide(&part), c.side);
        inst.words5[B3D_INST_GLOW_SIDES] = static_cast<int32_t>(c.side | B3D_GLOW_STATE);
        EXPECT_EQ(B3D_GlowPartAlpha(&part, &inst), 0) << "lit: drawn as the body has it";
        inst.words5[B3D_INST_GLOW_SIDES] = static_cast<int32_t>(~c.side | B3D_GLOW_STATE);
        EXPECT_EQ(B3D_GlowPartAlpha(&part, &inst), c.side ? -1 : 0) << "unlit: left out";
        inst.words5[B3D_INST_GLOW_SIDES] = static_cast<int32_t>(~c.side & ~B3D_GLOW_STATE);
        EXPECT_EQ(B3D_GlowPartAlpha(&part, &inst), 0) << "no glow state: drawn as the body has it";
    }
}

// A lit glow part fades by the level, on top of the instance's own fade and
// never down to 0 (which would draw it opaque); an engine part does not fade.
TEST(GlowParts, ALitGlowPartFadesByTheLevel) {
    struct Case {
        uint32_t flags;
        int32_t level, own, alpha;
    } cases[] = {
        {B3D_PART_GLOW, B3D_GLOW_FULL, 0, 0},
        {B3D_PART_GLOW, 262799, 0, 0},  // beyond full draws as full
        {B3D_PART_GLOW, B3D_GLOW_FULL / 2, 0, 127},
        {B3D_PART_GLOW, 655, 0, 10},
        {B3D_PART_GLOW, 0, 0, 1},
        {B3D_PART_GLOW, -5, 0, 1},
        {B3D_PART_GLOW, B3D_GLOW_FULL / 2, 100, 50},
        {B3D_PART_GLOW, B3D_GLOW_FULL / 2, 300, 127},  // not a fade
        {B3D_PART_ENGINE, B3D_GLOW_FULL / 2, 0, 0},
    };
    BodyPart part{};
    part.centre[2] = -100;
    Inst3D inst{};
    inst.words5[B3D_INST_GLOW_SIDES] = static_cast<int32_t>(B3D_GlowSideBit(2, -1) | B3D_GLOW_STATE);
    for (const Case& c : cases) {
        part.flags = c.flags;
        inst.words5[B3D_INST_GLOW_LEVEL] = c.level;
        inst.alphaOverride = c.own;
        EXPECT_EQ(B3D_GlowPartAlpha(&part, &inst), c.alpha) << c.level << " " << c.own;
    }
}

}  // namespace
