#include <gtest/gtest.h>

#include "platform/dsound/mci.h"
#include "platform/win32/messages.h"
#include "support/logcapture.h"
#include "support/soundfiles.h"
#include "system/cdaudio.h"
#include "system/entry.h"
#include "system/sound.h"
#include "system/window.h"

namespace {

int g_trackDone = 0;
void TrackDone() { ++g_trackDone; }

class CdAudioTest : public SoundFixture {
protected:
    void SetUp() override {
        SoundFixture::SetUp();
        sys_.cdReferenceTrackLength = 531513;
        g_trackDone = 0;
    }
    void TearDown() override {
        S_CloseCDAudio();
        SoundFixture::TearDown();
    }
    static MciSeamDrive Drive(char letter, std::vector<DWORD> tracks, bool cdrom = true) {
        MciSeamDrive d;
        d.letter = letter;
        d.cdrom = cdrom;
        d.tracks = std::move(tracks);
        return d;
    }
    // Handles every queued message through the window procedure.
    void Pump() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            if (GetMessageA(&msg, nullptr, 0, 0) <= 0) break;
            S_WindowProc(msg.hwnd, msg.message, msg.wParam, msg.lParam);
        }
    }
};

TEST_F(CdAudioTest, WithoutDriveTheLetterStaysDAndOpeningFails) {
    sys_.debugFlags = 4;
    LogCapture capture;
    S_FindCDDrive(SOUND_FLAG_SEARCH_CD);
    std::string log = capture.Take();
    EXPECT_EQ(sys_.cdDriveLetter, 'd');
    EXPECT_NE(log.find("CD ROM Drive letter set to: d:\n"), std::string::npos);
    EXPECT_NE(log.find("error opening CD audio playback\n"), std::string::npos);
    EXPECT_EQ(g_ApplicationRecord.cdDeviceId, 0u);

    // Not asked for, or switched off: no search at all.
    Mci_Seam().calls.clear();
    S_FindCDDrive(0);
    S_FindCDDrive(SOUND_FLAG_SEARCH_CD | SOUND_FLAG_NO_CD);
    EXPECT_TRUE(Mci_Seam().calls.empty());
}

TEST_F(CdAudioTest, DriveWhoseTrackIsNearestTheReferenceWins) {
    // 531513 ms is 8:51 and 513 "frames" read as milliseconds.
    Mci_Seam().drives = {Drive('d', {MCI_MAKE_MSF(1, 0, 0), MCI_MAKE_MSF(3, 0, 0)}),
                         Drive('e', {MCI_MAKE_MSF(1, 0, 0), MCI_MAKE_MSF(8, 51, 0)}),
                         Drive('f', {MCI_MAKE_MSF(8, 51, 70)}),  // one track: never chosen by length
                         Drive('g', {}, false)};
    LogCapture capture;
    S_FindCDDrive(SOUND_FLAG_SEARCH_CD);
    capture.Take();
    EXPECT_EQ(sys_.cdDriveLetter, 'e');
    EXPECT_NE(g_ApplicationRecord.cdDeviceId, 0u);
    EXPECT_EQ(S_CDGetTrackCount(), 2u);

    sys_.cdReferenceTrackLength = 0;  // the last drive that opens
    capture.Take();
    S_FindCDDrive(SOUND_FLAG_SEARCH_CD);
    capture.Take();
    EXPECT_EQ(sys_.cdDriveLetter, 'f');
}

TEST_F(CdAudioTest, TrackLengthAddsFramesAsMilliseconds) {
    Mci_Seam().drives = {Drive('d', {MCI_MAKE_MSF(3, 20, 30), MCI_MAKE_MSF(0, 1, 0)})};
    ASSERT_EQ(S_OpenCDAudio("d:"), 1);
    EXPECT_EQ(S_CDGetTrackLength(1), 200030u);
    EXPECT_EQ(S_CDGetTrackLength(2), 1000u);
    LogCapture capture;
    EXPECT_EQ(S_CDGetTrackLength(3), 0u);  // closes the device
    EXPECT_NE(capture.Take().find("Error getting track length\n"), std::string::npos);
    EXPECT_EQ(g_ApplicationRecord.cdDeviceId, 0u);
    EXPECT_EQ(S_CDGetTrackLength(1), 0u);
    EXPECT_EQ(S_CDGetTrackCount(), 0u);
}

TEST_F(CdAudioTest, OpenFailuresCloseTheDevice) {
    Mci_Seam().drives = {Drive('d', {MCI_MAKE_MSF(1, 0, 0)})};
    Mci_Seam().failSetFormat = true;
    LogCapture capture;
    EXPECT_EQ(S_OpenCDAudio("d:"), 0);
    EXPECT_EQ(S_OpenCDAudio("q:"), 0);
    std::string log = capture.Take();
    EXPECT_NE(log.find("Error setting CD Player to TMSF\n"), std::string::npos);
    EXPECT_NE(log.find("Error opening MCI CDAUDIO!\n"), std::string::npos);
    EXPECT_EQ(g_ApplicationRecord.cdDeviceId, 0u);
}

TEST_F(CdAudioTest, PlayedTrackNotifiesThroughTheWindow) {
    Mci_Seam().drives = {Drive('d', {MCI_MAKE_MSF(1, 0, 0), MCI_MAKE_MSF(2, 30, 5)})};
    HWND hwnd = S_AttachMainWindow();
    LogCapture capture;
    ASSERT_TRUE(StartSound(SOUND_FLAG_SEARCH_CD));
    capture.Take();
    g_SoundState->notify = TrackDone;
    ASSERT_EQ(S_CDPlayTrack(2), 1);
    EXPECT_EQ(Mci_Seam().calls.back(),
              "play " + std::to_string(g_ApplicationRecord.cdDeviceId) + " from 0x2 to 0x51e0202 notify");
    capture.Take();
    Pump();
    EXPECT_EQ(g_trackDone, 0);
    ASSERT_TRUE(Mci_SeamFinishPlay());
    Pump();
    capture.Take();
    EXPECT_EQ(g_trackDone, 1);

    // Without a completion routine the track plays without notice.
    g_SoundState->notify = nullptr;
    ASSERT_EQ(S_CDPlayTrack(1), 1);
    EXPECT_EQ(Mci_Seam().calls.back().find("notify"), std::string::npos);
    S_DetachMainWindow();
    (void)hwnd;
}

TEST_F(CdAudioTest, FailedPlayAnswersZeroAndClosesTheDevice) {
    Mci_Seam().drives = {Drive('d', {MCI_MAKE_MSF(1, 0, 0)})};
    EXPECT_EQ(S_CDPlayTrack(1), 0);  // no device yet
    ASSERT_EQ(S_OpenCDAudio("d:"), 1);
    Mci_Seam().failPlay = true;
    LogCapture capture;
    EXPECT_EQ(S_CDPlayTrack(1), 0);
    EXPECT_NE(capture.Take().find("Error playing Audio track\n"), std::string::npos);
    EXPECT_EQ(g_ApplicationRecord.cdDeviceId, 0u);
}

TEST_F(CdAudioTest, StopAndCloseWithAudio) {
    Mci_Seam().drives = {Drive('d', {MCI_MAKE_MSF(1, 0, 0)})};
    ASSERT_TRUE(StartSound(SOUND_FLAG_SEARCH_CD));
    ASSERT_NE(g_ApplicationRecord.cdDeviceId, 0u);
    ASSERT_EQ(S_CDPlayTrack(1), 1);
    Mci_Seam().failStop = true;
    LogCapture capture;
    S_CDStop();
    EXPECT_NE(capture.Take().find("Error stoping CD audio:"), std::string::npos);
    Mci_Seam().failStop = false;
    S_CloseAudio();
    EXPECT_EQ(g_ApplicationRecord.cdDeviceId, 0u);
    EXPECT_EQ(Mci_SeamPlayingDevice(), 0u);
}

TEST_F(CdAudioTest, MixerAndMidiReportNoDevices) {
    S_SetCDVolume(200);
    EXPECT_TRUE(Mci_Seam().calls.empty());
    ASSERT_TRUE(StartSound(SOUND_FLAG_MIDI_VOLUME));
    S_SetMidiVolume(0xC8);
    EXPECT_EQ(Mci_Seam().calls.back(), "midi volume 0 0xc8c8c8c8");
    g_SoundState->flags &= ~SOUND_FLAG_MIDI_VOLUME;
    Mci_Seam().calls.clear();
    S_SetMidiVolume(0x10);
    EXPECT_TRUE(Mci_Seam().calls.empty());
}

}  // namespace
