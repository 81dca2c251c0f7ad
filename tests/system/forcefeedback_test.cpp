#include <gtest/gtest.h>

#include "support/input_support.h"
#include "system/forcefeedback.h"
#include "system/keycodes.h"

namespace {

constexpr uint32_t kDefaultFlags = 0x70200107;

class ForceFeedback : public InputTestBase {
protected:
    DISeamJoystick& Rumble() {
        DISeamJoystick& j = AddJoystick();
        j.capsFlags |= DIDC_FORCEFEEDBACK;
        return j;
    }
    InputState* Start() {
        InputState* in = S_InitIO(kDefaultFlags);
        EXPECT_NE(in, nullptr);
        return in;
    }
    // The effects alive now, in creation order.
    std::vector<const DISeamEffect*> Live() const {
        std::vector<const DISeamEffect*> live;
        for (const DISeamEffect& e : seam_->effects)
            if (!e.released) live.push_back(&e);
        return live;
    }
};

TEST_F(ForceFeedback, FourEffectsAsTheDeviceGetsThem) {
    Rumble();
    InputState* in = Start();
    ASSERT_NE(in->flags & INPUT_FORCE_FEEDBACK, 0u);
    ASSERT_EQ(in->effectCount, 4u);
    EXPECT_EQ(in->effects[0].kind, FF_HOLD);
    EXPECT_EQ(in->effects[1].kind, FF_BOUNCE);
    EXPECT_EQ(in->effects[2].kind, FF_EXPLODE);
    EXPECT_EQ(in->effects[3].kind, FF_FIRE);
    for (const auto& slot : in->effects) EXPECT_NE(slot.effect, nullptr);
    EXPECT_EQ(seam_->autocenter, static_cast<int>(DIPROPAUTOCENTER_OFF));

    auto live = Live();
    ASSERT_EQ(live.size(), 4u);
    const DISeamEffect& hold = *live[0];
    EXPECT_TRUE(DI_SameGuid(hold.type, GUID_ConstantForce));
    EXPECT_EQ(hold.flags, DIEFF_OBJECTOFFSETS | DIEFF_CARTESIAN);
    EXPECT_EQ(hold.duration, INFINITE);
    EXPECT_EQ(hold.constantMagnitude, 0);
    EXPECT_EQ(hold.axisCount, 2u);
    EXPECT_EQ(hold.starts, 1);
    EXPECT_EQ(hold.gain, 7500u);
    EXPECT_EQ(hold.triggerButton, DIEB_NOTRIGGER);

    const DISeamEffect& bounce = *live[1];
    EXPECT_EQ(bounce.flags, DIEFF_OBJECTOFFSETS | DIEFF_POLAR);
    EXPECT_EQ(bounce.duration, 200000u);
    EXPECT_EQ(bounce.constantMagnitude, 10000);
    EXPECT_EQ(bounce.starts, 0);  // started by collisions only

    const DISeamEffect& explode = *live[2];
    EXPECT_TRUE(DI_SameGuid(explode.type, GUID_Sine));
    EXPECT_EQ(explode.axisCount, 1u);
    EXPECT_EQ(explode.axes[0], DIJOFS_X);
    EXPECT_EQ(explode.duration, 1000000u);
    EXPECT_EQ(explode.periodic.dwMagnitude, 10000u);
    EXPECT_EQ(explode.periodic.dwPeriod, 100000u);
    ASSERT_TRUE(explode.hasEnvelope);
    EXPECT_EQ(explode.envelope.dwFadeTime, 1000000u);
    EXPECT_EQ(explode.envelope.dwAttackLevel, 0u);

    const DISeamEffect& fire = *live[3];
    EXPECT_EQ(fire.axisCount, 1u);
    EXPECT_EQ(fire.axes[0], DIJOFS_Y);
    EXPECT_EQ(fire.direction[0], 1);
    EXPECT_EQ(fire.duration, 20000u);
    EXPECT_EQ(fire.starts, 0);
}

TEST_F(ForceFeedback, GainFollowsTheSetting) {
    const DWORD want[4] = {0, 5000, 7500, 10000};
    for (int32_t setting = 0; setting < 4; ++setting) {
        DInput_SeamReset();
        Rumble();
        g_ApplicationRecord.ffGain = setting;
        Start();
        for (const DISeamEffect* e : Live()) EXPECT_EQ(e->gain, want[setting]) << setting;
        S_CloseIO();
    }
}

TEST_F(ForceFeedback, WithoutPeriodicEffectsTheExplodeSlotStaysEmpty) {
    Rumble().periodic = false;
    StartCapture();
    InputState* in = Start();
    std::string log = StopCapture();
    EXPECT_NE(in->effects[0].effect, nullptr);
    EXPECT_NE(in->effects[1].effect, nullptr);
    EXPECT_EQ(in->effects[2].effect, nullptr);
    EXPECT_NE(in->effects[3].effect, nullptr);
    EXPECT_TRUE(Has(log, "CreateEffect(Explode) failed - DIERR_DEVICENOTREG\n"));
    EXPECT_TRUE(Has(log, "inputCreateEffects() failed - ForceFeedback disabled\n"));
    // Release and re-creation step over the empty slot.
    Ex_SyncAcquire(0);
    EXPECT_EQ(Live().size(), 3u);
    S_CloseIO();
    EXPECT_TRUE(Live().empty());
}

TEST_F(ForceFeedback, DeviceWithoutForceFeedbackTurnsItOff) {
    AddJoystick();
    InputState* in = Start();
    EXPECT_NE(g_ApplicationRecord.joystickDevice, nullptr);
    EXPECT_EQ(in->flags & INPUT_FORCE_FEEDBACK, 0u);
    EXPECT_EQ(in->effectCount, 0u);
    EXPECT_EQ(S_FFStartEffect(9000), 1);  // nothing to do, nothing wrong
    EXPECT_TRUE(seam_->effects.empty());
}

TEST_F(ForceFeedback, BouncePushesTowardsTheDirection) {
    Rumble();
    InputState* in = Start();
    auto* bounce = &seam_->effects[seam_->effects.size() - 3];  // the last set: hold, bounce, explode, fire
    ASSERT_EQ(bounce->duration, 200000u);
    EXPECT_EQ(S_FFStartEffect(27000), 1);
    EXPECT_EQ(bounce->direction[0], 27000);
    EXPECT_EQ(bounce->starts, 1);
    EXPECT_EQ(bounce->lastIterations, 1u);
    EXPECT_EQ(bounce->parameterUpdates, 1);

    DInput_SeamFail(DISeamDevice::Effect, DISeamCall::SetParameters, DIERR_GENERIC);
    StartCapture();
    EXPECT_EQ(S_FFStartEffect(0), 0);
    EXPECT_TRUE(Has(StopCapture(), "SetParameters(Bounce effect) failed:DIERR_GENERIC\n"));
    DInput_SeamFail(DISeamDevice::Effect, DISeamCall::Start, DIERR_INPUTLOST);
    StartCapture();
    EXPECT_EQ(S_FFStartEffect(0), 0);
    EXPECT_TRUE(Has(StopCapture(), "Start(Bounce effect) failed:DIERR_INPUTLOST\n"));

    void* kept = in->effects[1].effect;
    in->effects[1].effect = nullptr;  // a bounce that could not be made
    EXPECT_EQ(S_FFStartEffect(0), 0);
    in->effects[1].effect = kept;
}

// Every set-up step of the standing force: its slot stays empty, the others are made.
TEST_F(ForceFeedback, FailedHoldStepsLeaveItsSlotEmpty) {
    struct Case {
        DISeamDevice device;
        DISeamCall call;
        DIPROPID property;
        const char* line;
    } cases[] = {
        {DISeamDevice::Joystick, DISeamCall::EnumEffects, 0, "EnumEffects(Constant Force) failed\nDIERR_GENERIC\n"},
        {DISeamDevice::Joystick, DISeamCall::SetProperty, DIPROP_AUTOCENTER,
         "SetProp. Autocenter failed - DIERR_GENERIC\n"},
        {DISeamDevice::Effect, DISeamCall::CreateEffect, 0, "CreateEffect(Constant) failed - DIERR_GENERIC\n"},
        {DISeamDevice::Effect, DISeamCall::Start, 0, "Start(CONST effect) failed:DIERR_GENERIC\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        DInput_SeamReset();
        Rumble();
        InputState* in = Start();
        // The effects are made again at the next activation.
        DInput_SeamFail(c.device, c.call, DIERR_GENERIC, 1, c.property);
        StartCapture();
        Ex_SyncAcquire(0);
        std::string log = StopCapture();
        EXPECT_TRUE(Has(log, c.line)) << log;
        EXPECT_TRUE(Has(log, "inputCreateEffects() failed - ForceFeedback disabled\n"));
        EXPECT_EQ(in->effects[0].effect, nullptr);
        for (int i = 1; i < 4; ++i) EXPECT_NE(in->effects[i].effect, nullptr) << i;
        EXPECT_EQ(Live().size(), 3u);  // a made but unstarted hold is not kept either
        S_CloseIO();
    }
}

TEST_F(ForceFeedback, LaterKindsFailOnTheirOwn) {
    Rumble();
    Start();
    struct Case {
        uint32_t kind;
        DISeamDevice device;
        DISeamCall call;
        const char* line;
    } cases[] = {
        {FF_BOUNCE, DISeamDevice::Effect, DISeamCall::CreateEffect, "CreateEffect(Bounce) failed - DIERR_GENERIC\n"},
        {FF_FIRE, DISeamDevice::Effect, DISeamCall::CreateEffect, "CreateEffect(Fire) failed - DIERR_GENERIC\n"},
        {FF_EXPLODE, DISeamDevice::Effect, DISeamCall::CreateEffect, "CreateEffect(Explode) failed - DIERR_GENERIC\n"},
        {FF_EXPLODE, DISeamDevice::Joystick, DISeamCall::EnumEffects,
         "EnumEffects(Periodic Force) failed:DIERR_GENERIC\n"},
        {FF_FIRE, DISeamDevice::Joystick, DISeamCall::EnumEffects,
         "EnumEffects(Constant Force) failed\nDIERR_GENERIC\n"},
    };
    for (const Case& c : cases) {
        DInput_SeamFail(c.device, c.call, DIERR_GENERIC);
        StartCapture();
        EXPECT_EQ(S_FFCreateEffects(c.kind), nullptr);
        EXPECT_TRUE(Has(StopCapture(), c.line)) << c.line;
    }
    EXPECT_EQ(S_FFCreateEffects(0x10), nullptr);  // no such kind
}

}  // namespace
