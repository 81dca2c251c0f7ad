#include <gtest/gtest.h>

#include <set>

#include "support/input_support.h"
#include "system/forcefeedback.h"
#include "system/keycodes.h"

namespace {

TEST(KeyCodes, TableBothWays) {
    struct Case {
        uint32_t keyCode, scanCode;
    } cases[] = {
        {8, 14},    {27, 1},    {32, 57},  {48, 11},   {49, 2},    {97, 30},   {122, 44},  {258, 208}, {262, 199},
        {265, 59},  {274, 68},  {276, 88}, {279, 102}, {330, 211}, {360, 207}, {409, 56},  {414, 54},  {430, 83},
        {433, 183}, {437, 197}, {439, 55}, {445, 126}, {455, 153}, {463, 179}, {475, 237}, {476, 86},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(S_KeyCodeToDIK(c.keyCode), c.scanCode) << c.keyCode;
        EXPECT_EQ(S_DIKToKeyCode(c.scanCode), c.keyCode) << c.scanCode;
    }
}

TEST(KeyCodes, OutsideTheTableIsZero) {
    EXPECT_EQ(S_DIKToKeyCode(84), 0u);  // inside the range, no key
    EXPECT_EQ(S_DIKToKeyCode(0), 0u);
    EXPECT_EQ(S_DIKToKeyCode(238), 0u);
    EXPECT_EQ(S_DIKToKeyCode(255), 0u);
    EXPECT_EQ(S_KeyCodeToDIK(65), 0u);  // "A": only lower-case letters are keys
    EXPECT_EQ(S_KeyCodeToDIK(7), 0u);
    EXPECT_EQ(S_KeyCodeToDIK(477), 0u);
    EXPECT_EQ(S_KeyCodeToDIK(300), 0u);
}

TEST(KeyCodes, EveryPairRoundTripsAndOccursOnce) {
    std::set<uint32_t> keyCodes;
    int pairs = 0;
    for (uint32_t scan = 0; scan < 256; ++scan) {
        uint32_t code = S_DIKToKeyCode(scan);
        if (!code) continue;
        ++pairs;
        EXPECT_EQ(S_KeyCodeToDIK(code), scan);
        EXPECT_TRUE(keyCodes.insert(code).second) << code;
        EXPECT_GE(code, 8u);
        EXPECT_LE(code, 476u);
    }
    EXPECT_EQ(pairs, 144);
}

TEST(KeyCodes, EnumerationCallbacksTakeTheGuidAfterTheSizeWord) {
    DIDEVICEINSTANCE device{};
    device.dwSize = sizeof device;
    device.guidInstance = GUID{0xAABBCCDD, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    GUID out{};
    EXPECT_EQ(S_EnumFirstGuid(&device, &out), DIENUM_STOP);
    EXPECT_TRUE(DI_SameGuid(out, device.guidInstance));
    EXPECT_EQ(S_EnumFirstGuid(&device, nullptr), DIENUM_STOP);

    DIEFFECTINFO effect{};
    effect.dwSize = sizeof effect;
    effect.guid = GUID{7, 7, 7, {7}};
    EXPECT_EQ(S_EnumFirstGuid(&effect, &out), DIENUM_STOP);
    EXPECT_TRUE(DI_SameGuid(out, effect.guid));

    g_InputDeviceCount = 0;
    EXPECT_EQ(S_EnumCountFirstGuid(&device, nullptr), DIENUM_STOP);
    EXPECT_EQ(S_EnumCountFirstGuid(&device, &out), DIENUM_STOP);
    EXPECT_EQ(g_InputDeviceCount, 2);
}

class ReleaseDevices : public InputTestBase {};

TEST_F(ReleaseDevices, ReleasesEverythingAndSkipsEmptyEffectSlots) {
    DISeamJoystick& j = AddJoystick();
    j.capsFlags |= DIDC_FORCEFEEDBACK;
    j.periodic = false;  // the explode slot stays empty
    ASSERT_NE(S_InitIO(0x70200107 | INPUT_JOYSTICK), nullptr);
    ASSERT_NE(g_ApplicationRecord.joystickDevice, nullptr);
    ASSERT_EQ(g_InputState->effectCount, 4u);
    EXPECT_EQ(g_InputState->effects[2].effect, nullptr);
    EXPECT_GT(DInput_LiveObjects(), 4);

    S_ReleaseInputDevices();
    EXPECT_EQ(DInput_LiveObjects(), 0);
    const ApplicationRecord& app = g_ApplicationRecord;
    EXPECT_EQ(app.directInput, nullptr);
    EXPECT_EQ(app.mouseDevice, nullptr);
    EXPECT_EQ(app.keyboardDevice, nullptr);
    EXPECT_EQ(app.joystickDevice, nullptr);
    for (const auto& slot : g_InputState->effects) EXPECT_EQ(slot.effect, nullptr);
    for (const DISeamEffect& e : seam_->effects) EXPECT_TRUE(e.released);
    EXPECT_EQ(DInput_SeamCallCount("Mouse.Unacquire"), 1);
    EXPECT_EQ(DInput_SeamCallCount("Keyboard.Unacquire"), 1);
    EXPECT_GE(DInput_SeamCallCount("Joystick.Unacquire"), 1);

    S_ReleaseInputDevices();  // nothing left: nothing happens
}

}  // namespace
