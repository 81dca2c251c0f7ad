// A clean input environment for tests: a SystemState with the input log
// category on, a cleared application record, the DirectInput, multimedia
// joystick and message-box seams reset, an empty key ring; on tear-down the
// input layer is closed and no DirectInput object may be left alive.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/general.h"
#include "base/memory.h"
#include "platform/dinput/seam.h"
#include "platform/win32/mmjoystick.h"
#include "platform/win32/msgbox.h"
#include "system/entry.h"
#include "system/input.h"
#include "support/logcapture.h"
#include "system/window.h"

class InputTestBase : public testing::Test {
protected:
    void SetUp() override {
        saved_ = g_SystemState;
        sys_ = SystemState{};
        sys_.debugFlags = 4;
        sys_.gameClock = 1;
        g_SystemState = &sys_;
        g_ApplicationRecord = ApplicationRecord{};
        g_ApplicationRecord.joyDeadzone = 20;
        g_ApplicationRecord.joySensitivity = 20;
        g_ApplicationRecord.ffGain = 2;
        seam_ = &DInput_SeamReset();
        joySeam_ = &Win32_JoySeamReset();
        boxes_ = &Win32_MessageBoxSeamReset();
        S_KeyRingClear();
        S_WindowLinks = WindowLinks{};
    }

    void TearDown() override {
        if (g_InputState) S_CloseIO();
        EXPECT_EQ(DInput_LiveObjects(), 0);
        if (g_ApplicationRecord.joyGUID) Int_FreeMem(g_ApplicationRecord.joyGUID, sizeof(GUID), 0);
        g_ApplicationRecord = ApplicationRecord{};
        DInput_SeamDisable();
        Win32_JoySeamDisable();
        S_WindowLinks = WindowLinks{};
        S_KeyRingClear();
        g_SystemState = saved_;
    }

    // A scripted joystick with X, Y and the given extra objects.
    DISeamJoystick& AddJoystick(uint8_t id = 1) {
        DISeamJoystick j;
        j.guid = GUID{0x10000000u + id, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, id}};
        seam_->joysticks.push_back(j);
        return seam_->joysticks.back();
    }

    void StartCapture() { capture_ = std::make_unique<LogCapture>(); }
    std::string StopCapture() {
        std::string text = capture_ ? capture_->Take() : std::string();
        capture_.reset();
        return text;
    }

    static bool Has(const std::string& log, const std::string& line) { return log.find(line) != std::string::npos; }

    SystemState sys_{};
    SystemState* saved_ = nullptr;
    DInputSeam* seam_ = nullptr;
    Win32JoySeam* joySeam_ = nullptr;
    Win32MessageBoxSeam* boxes_ = nullptr;
    std::unique_ptr<LogCapture> capture_;
};
