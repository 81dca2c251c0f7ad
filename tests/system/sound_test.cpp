#include <gtest/gtest.h>

#include <cmath>

#include "base/memory.h"
#include "base/sample.h"
#include "platform/dsound/seam.h"
#include "platform/win32/memory.h"
#include "support/logcapture.h"
#include "support/soundfiles.h"
#include "system/sound.h"
#include "system/window.h"

namespace {

// A sample record over a loaded descriptor, as the game-sound module keeps one.
struct TestSample {
    QelSample record{};
    explicit TestSample(bool is3D, size_t bytes = 2000, uint32_t rate = 22050) {
        WavSpec spec;
        spec.rate = rate;
        spec.data = Square16(bytes / 2, 8000, 50);
        std::vector<uint8_t> wav = MakeWav(spec);
        record.descriptor = Qel_LoadSample(wav.data(), static_cast<uint32_t>(wav.size()), is3D ? QEL_SAMPLEDESC_3D : 0);
        record.flags = QEL_SAMPLE_HAS_DESC;
        if (record.descriptor->flags & QEL_SAMPLEDESC_LARGE) record.flags |= QEL_SAMPLE_LARGE;
        record.frequency = rate;
        record.volume = 255;
        record.data = record.descriptor->data;
        record.length = record.descriptor->length;
    }
    ~TestSample() { Qel_FreeSampleDesc(record.descriptor); }
    QelSample* operator&() { return &record; }
};

class SoundTest : public SoundFixture {};

TEST_F(SoundTest, StartsWithListenerAndMainVolume) {
    ASSERT_TRUE(StartSound());
    EXPECT_EQ(g_SoundState->flags, SOUND_FLAG_RUNNING | SOUND_FLAG_DS_CREATED);
    EXPECT_EQ(g_SoundState->volume, 255u);
    EXPECT_NE(S_SoundDevice.primary, nullptr);
    ASSERT_NE(S_SoundDevice.listener, nullptr);
    DSoundListenerState l = DSound_ListenerState();
    EXPECT_NEAR(l.gain, std::pow(10.0f, -6.0f / 2000.0f), 1e-5);  // 6 × 255 − 1536 = −6
    EXPECT_FLOAT_EQ(l.dopplerFactor, 1.0f);
    EXPECT_NEAR(l.speedOfSound, 343300.0f, 1.0f);  // distance factor 0.001
    EXPECT_EQ(DSound_SeamCalls("SetFormat"), (std::vector<std::string>{"SetFormat #1 2 44100 16"}));
    EXPECT_EQ(DSound_SeamCalls("Listener SetRolloffFactor"),
              (std::vector<std::string>{"Listener SetRolloffFactor 1.5 deferred"}));
    EXPECT_EQ(DSound_SeamCalls("Commit").size(), 1u);
    EXPECT_EQ(S_WindowLinks.cdTrackDone != nullptr, true);
}

struct StartCase {
    const char* name;
    void (*setup)(DSoundSeam&);
    bool record;  // S_InitDS3D gives a record
    bool device;  // and keeps a device
    const char* logLine;
};

class SoundStartFailures : public SoundFixture, public testing::WithParamInterface<StartCase> {};

TEST_P(SoundStartFailures, SilentOrFatalAsTheStepSays) {
    GetParam().setup(DSound_Seam());
    LogCapture capture;
    SoundState* s = S_InitDS3D(SOUND_FLAG_RUNNING);
    std::string log = capture.Take();
    EXPECT_NE(log.find(GetParam().logLine), std::string::npos) << log;
    EXPECT_EQ(s != nullptr, GetParam().record);
    if (!s) {
        EXPECT_EQ(g_SoundState, nullptr);
        return;
    }
    EXPECT_EQ(S_SoundDevice.directSound != nullptr, GetParam().device);
    if (!GetParam().device) {
        EXPECT_EQ(s->flags & (SOUND_FLAG_RUNNING | SOUND_FLAG_OFF), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SoundStartFailures,
    testing::Values(StartCase{"NoDevice", [](DSoundSeam& s) { s.failCreate = true; }, true, false,
                              "*** Program WILL continue without sound\n"},
                    StartCase{"Caps", [](DSoundSeam& s) { s.failGetCaps = true; }, true, true,
                              "S_InitDS3D() Failure getting caps: generic error\n"},
                    StartCase{"CooperativeLevel", [](DSoundSeam& s) { s.failCooperativeLevel = true; }, true, false,
                              "failure setting DS Cooperative Level:\nRequested resources already in use\n"},
                    StartCase{"PrimaryOnce", [](DSoundSeam& s) { s.failPrimaryCreates = 1; }, true, true,
                              "S_InitAudio() Can't create primary soundbuffer with volume control, trying without - "},
                    StartCase{"PrimaryTwice", [](DSoundSeam& s) { s.failPrimaryCreates = 2; }, true, true,
                              "S_InitAudio() Can't create primary soundbuffer with 3D, trying without - "},
                    StartCase{"PrimaryThrice", [](DSoundSeam& s) { s.failPrimaryCreates = 3; }, false, false,
                              "S_InitAudio() Error creating Prim. DSB\nControl requested not available\n"},
                    StartCase{"Listener", [](DSoundSeam& s) { s.failListener = true; }, true, true,
                              "Couldn't QI primary buffer for 3D listener interface \n"},
                    StartCase{"PrimaryPlay", [](DSoundSeam& s) { s.failPrimaryPlay = true; }, false, false,
                              "Error Playing Prim. DSB:\n"}),
    [](const testing::TestParamInfo<StartCase>& info) { return info.param.name; });

TEST_F(SoundTest, FailedAllocationOfTheRecordGivesZero) {
    int64_t before = Int_GetTagMem(SOUND_MEM_TAG);
    g_Win32MemorySeam.failHeapAllocs = 4;  // the record and its one retry (each asks the heap twice)
    LogCapture capture;
    EXPECT_EQ(S_InitDS3D(SOUND_FLAG_RUNNING), nullptr);
    capture.Take();
    EXPECT_EQ(g_SoundState, nullptr);
    EXPECT_EQ(Int_GetTagMem(SOUND_MEM_TAG), before);
    g_Win32MemorySeam.failHeapAllocs = 2;  // one retry is enough
    EXPECT_NE(S_InitDS3D(SOUND_FLAG_RUNNING), nullptr);
}

TEST_F(SoundTest, SoundOffAndSilentRunsStartNothing) {
    ASSERT_NE(S_InitDS3D(SOUND_FLAG_RUNNING | SOUND_FLAG_OFF), nullptr);
    EXPECT_EQ(S_SoundDevice.directSound, nullptr);
    TestSample s(false);
    EXPECT_EQ(S_StartSoundEffect(&s, 0, 0, 0, 0, 0), -1);
    S_CloseAudio();

    DSound_Seam().failCreate = true;
    LogCapture capture;
    ASSERT_NE(S_InitDS3D(SOUND_FLAG_RUNNING), nullptr);
    capture.Take();
    EXPECT_EQ(S_StartSoundEffect(&s, 0, 0, 0, 0, 0), -1);
    S_SetMainVolume(100);  // no device: nothing to do, nothing breaks
}

struct VolumeCase {
    uint32_t state, volume;
    int32_t channelDb, db3D;
};

TEST(SoundConversions, VolumesPansAndMainVolume) {
    for (VolumeCase c :
         {VolumeCase{256, 255, -1016, -20}, VolumeCase{256, 320, 0, 1250}, VolumeCase{255, 255, -1036, -40},
          VolumeCase{0, 255, -5000, -5000}, VolumeCase{256, 400, 0, 2812}}) {
        EXPECT_EQ(S_ChannelVolumeToDB(c.state, c.volume), c.channelDb) << c.state << " " << c.volume;
        EXPECT_EQ(S_3DVolumeToDB(c.state, c.volume), c.db3D) << c.state << " " << c.volume;
    }
    EXPECT_EQ(S_PanToDS(0), -16);
    EXPECT_EQ(S_PanToDS(64), -16);
    EXPECT_EQ(S_PanToDS(1), -9844);
    EXPECT_EQ(S_PanToDS(128), 9968);
    EXPECT_EQ(S_PanToDS(200), 10000);
    EXPECT_EQ(S_MainVolumeToDB(255), -6);
    EXPECT_EQ(S_MainVolumeToDB(0), -1536);
    EXPECT_EQ(S_MainVolumeToDB(256), 0);
    EXPECT_STREQ(S_DSErrorText(DSERR_BUFFERLOST), "Buffer lost and must be restored");
    EXPECT_STREQ(S_DSErrorText(12345), "Undetermined error");
}

TEST_F(SoundTest, TwoDSampleGetsVolumePanFrequencyAndPlays) {
    ASSERT_TRUE(StartSound());
    TestSample s(false);
    s.record.volume = 200;
    EXPECT_EQ(S_StartSoundEffect(&s, 3, -1, 11025, 0, 128), 3);
    IDirectSoundBuffer8* b = S_SoundChannels[3].buffer;
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(S_SoundChannels[3].sample, s.record.descriptor);
    int32_t db = S_ChannelVolumeToDB(255, 200);
    EXPECT_EQ(DSound_SeamCalls("SetVolume #2").back(), "SetVolume #2 " + std::to_string(db));
    EXPECT_EQ(DSound_SeamCalls("SetPan #2").back(), "SetPan #2 9968");
    EXPECT_EQ(DSound_SeamCalls("SetFrequency #2").back(), "SetFrequency #2 11025");
    DSoundSourceState st = DSound_SourceState(b);
    EXPECT_NEAR(st.gain, std::pow(10.0f, db / 2000.0f), 1e-5);
    EXPECT_FLOAT_EQ(st.pitch, 0.5f);
    EXPECT_GT(st.position[0], 0.9f);  // far right
    EXPECT_TRUE(st.relative);
    EXPECT_TRUE(st.looping);
    EXPECT_EQ(S_ChannelIsPlaying(3), 1);

    // Frequency 0 takes the sample's rate; pan 0 is the centre.
    EXPECT_EQ(S_StartSoundEffect(&s, 3, 0, 0, 255, 0), 3);
    EXPECT_EQ(DSound_SeamCalls("SetFrequency #2").back(), "SetFrequency #2 22050");
    EXPECT_EQ(DSound_SeamCalls("SetPan #2").back(), "SetPan #2 -16");
    EXPECT_FALSE(DSound_SourceState(b).looping);
}

TEST_F(SoundTest, ChannelBufferIsReusedForTheSameSampleOnly) {
    ASSERT_TRUE(StartSound());
    TestSample a(false), b(false);
    sys_.debugFlags = 2048;
    LogCapture capture;
    ASSERT_EQ(S_StartSoundEffect(&a, 5, 0, 0, 0, 0), 5);
    IDirectSoundBuffer8* first = S_SoundChannels[5].buffer;
    ASSERT_EQ(S_StartSoundEffect(&a, 5, 0, 0, 0, 0), 5);
    EXPECT_EQ(S_SoundChannels[5].buffer, first);
    size_t creates = DSound_SeamCalls("CreateSoundBuffer secondary").size();
    ASSERT_EQ(S_StartSoundEffect(&b, 5, 0, 0, 0, 0), 5);
    EXPECT_EQ(DSound_SeamCalls("CreateSoundBuffer secondary").size(), creates + 1);
    EXPECT_EQ(S_SoundChannels[5].sample, b.record.descriptor);
    std::string log = capture.Take();
    EXPECT_NE(log.find(") Aborting sample\n"), std::string::npos);
    EXPECT_NE(log.find(") Free soundbuffer\n"), std::string::npos);

    // A large sample asks for a fresh buffer every time.
    TestSample big(false, QEL_SAMPLE_LARGE_BYTES + 2);
    ASSERT_EQ(S_StartSoundEffect(&big, 6, 0, 0, 0, 0), 6);
    creates = DSound_SeamCalls("CreateSoundBuffer secondary").size();
    ASSERT_EQ(S_StartSoundEffect(&big, 6, 0, 0, 0, 0), 6);
    EXPECT_EQ(DSound_SeamCalls("CreateSoundBuffer secondary").size(), creates + 1);

    Int_StopSoundEffect(5);
    EXPECT_EQ(S_SoundChannels[5].buffer, nullptr);
    EXPECT_EQ(S_StartSoundEffect(&a, 32, 0, 0, 0, 0), -1);
    EXPECT_EQ(S_StartSoundEffect(&a, -1, 0, 0, 0, 0), -1);
}

TEST_F(SoundTest, LostBufferIsRestoredAndRefilled) {
    ASSERT_TRUE(StartSound());
    TestSample s(false);
    ASSERT_EQ(S_StartSoundEffect(&s, 0, 0, 0, 0, 0), 0);
    DSound_Seam().lostBuffers = 1;
    size_t locks = DSound_SeamCalls("Lock").size();
    ASSERT_EQ(S_StartSoundEffect(&s, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(DSound_SeamCalls("Restore").size(), 1u);
    EXPECT_EQ(DSound_SeamCalls("Lock").size(), locks + 1);

    DSound_Seam().lostBuffers = 1;
    DSound_Seam().failRestore = true;
    LogCapture capture;
    EXPECT_EQ(S_StartSoundEffect(&s, 0, 0, 0, 0, 0), -1);
    EXPECT_NE(capture.Take().find("S_StartSoundEffect() Error RESTORING Soundbuffer:\n"), std::string::npos);
}

TEST_F(SoundTest, ChannelFailuresGiveMinusOneAndFreeTheBuffer) {
    ASSERT_TRUE(StartSound());
    TestSample s(false);
    DSound_Seam().failSecondaryCreates = 1;
    LogCapture capture;
    EXPECT_EQ(S_StartSoundEffect(&s, 1, 0, 0, 0, 0), -1);
    std::string log = capture.Take();
    EXPECT_NE(log.find("Int_SoundBufferAlloc() Error creating sec. DSSB:\nOut of memory\n"), std::string::npos);
    EXPECT_NE(log.find(") Int_SoundBufferAlloc() failed!\n"), std::string::npos);

    DSound_Seam().failLock = true;
    capture.Take();
    EXPECT_EQ(S_StartSoundEffect(&s, 1, 0, 0, 0, 0), -1);
    EXPECT_NE(capture.Take().find("Int_SoundBufferAlloc() Error locking DSSB\n"), std::string::npos);
    EXPECT_EQ(S_SoundChannels[1].buffer, nullptr);
    DSound_Seam().failLock = false;

    DSound_Seam().failPlay = true;
    capture.Take();
    EXPECT_EQ(S_StartSoundEffect(&s, 1, 0, 0, 0, 0), -1);
    EXPECT_NE(capture.Take().find(") Error playing DSB: Invalid call for object's current state\n"), std::string::npos);
    EXPECT_EQ(S_SoundChannels[1].buffer, nullptr);
    DSound_Seam().failPlay = false;

    DSound_Seam().failSetVolume = true;  // not fatal
    capture.Take();
    EXPECT_EQ(S_StartSoundEffect(&s, 1, 0, 0, 0, 0), -1);  // the fresh buffer's own SetVolume(0) fails
    capture.Take();
}

TEST_F(SoundTest, ThreeDSampleWaitsForPlayAndTakesDeferredSettingsAtCommit) {
    ASSERT_TRUE(StartSound());
    TestSample s(true);
    ASSERT_EQ(S_StartSoundEffect(&s, 2, 0, 0, 0, 0), 2);
    SoundChannel& ch = S_SoundChannels[2];
    ASSERT_NE(ch.buffer3D, nullptr);
    EXPECT_EQ(ch.flags & SOUND_CHANNEL_3D_PENDING, SOUND_CHANNEL_3D_PENDING);
    EXPECT_EQ(S_ChannelIsPlaying(2), 0);
    EXPECT_FALSE(DSound_SourceState(ch.buffer).playing);

    ASSERT_EQ(S_SetSound3DInfo(2, 90, 45, 0, 0, 65536, 0, 255), 1);
    DSoundSourceState st = DSound_SourceState(ch.buffer);
    EXPECT_FLOAT_EQ(st.coneInner, 45.0f);
    EXPECT_FLOAT_EQ(st.coneOuter, 90.0f);
    EXPECT_FLOAT_EQ(st.direction[2], -1.0f);  // handedness turned
    EXPECT_FLOAT_EQ(st.referenceDistance, 1.0f);
    EXPECT_FLOAT_EQ(st.maxDistance, 2147483648.0f);
    EXPECT_FLOAT_EQ(st.rolloff, 1.5f);
    EXPECT_NEAR(st.coneOuterGain, std::pow(10.0f, -500 / 2000.0f), 1e-5);
    EXPECT_FALSE(st.relative);

    ASSERT_EQ(S_SetSound3DPosition(100, 20, 300, 2), 1);
    ASSERT_EQ(S_SetSound3DVelocity(2, 1, 2, 3), 1);
    ASSERT_EQ(S_SetSound3DOrientation(2, 65536, 0, 0), 1);
    st = DSound_SourceState(ch.buffer);
    EXPECT_FLOAT_EQ(st.position[2], 0.0f);  // deferred
    ASSERT_EQ(S_SetListener3DPosition(), 1);
    ASSERT_EQ(S_SetListener3DVelocity(), 1);
    ASSERT_EQ(S_SetListener3DOrientation(), 1);
    ASSERT_EQ(S_Sound3DCommitDeferred(), 1);
    st = DSound_SourceState(ch.buffer);
    EXPECT_FLOAT_EQ(st.position[0], 100.0f);
    EXPECT_FLOAT_EQ(st.position[1], 20.0f);
    EXPECT_FLOAT_EQ(st.position[2], -300.0f);
    EXPECT_FLOAT_EQ(st.velocity[2], -3.0f);
    EXPECT_FLOAT_EQ(st.direction[0], 1.0f);
    DSoundListenerState l = DSound_ListenerState();
    EXPECT_FLOAT_EQ(l.orientation[2], -1.0f);
    EXPECT_FLOAT_EQ(l.orientation[4], 1.0f);

    ASSERT_EQ(S_PlaySound3D(2), 1);
    EXPECT_EQ(S_ChannelIsPlaying(2), 1);
    EXPECT_TRUE(DSound_SourceState(ch.buffer).looping);

    EXPECT_EQ(S_SetSound3DVolume(128, 2), 1);
    EXPECT_EQ(DSound_SeamCalls("SetVolume #2").back(), "SetVolume #2 " + std::to_string(S_3DVolumeToDB(255, 128)));
}

TEST_F(SoundTest, ThreeDCallsWithoutThreeDBufferOrListener) {
    DSound_Seam().failListener = true;
    LogCapture capture;
    ASSERT_TRUE(StartSound());
    TestSample s(true);
    ASSERT_EQ(S_StartSoundEffect(&s, 4, 0, 0, 0, 0), 4);
    EXPECT_EQ(S_SoundChannels[4].buffer3D, nullptr);  // a 2D buffer without listener
    EXPECT_EQ(S_SetSound3DPosition(1, 2, 3, 4), 0);
    EXPECT_EQ(S_SetSound3DInfo(4, 0, 0, 0, 0, 0, 1, 255), 0);
    EXPECT_EQ(S_Sound3DCommitDeferred(), 0);
    EXPECT_EQ(S_PlaySound3D(9), 1);
    std::string log = capture.Take();
    EXPECT_NE(log.find("S_SetSound3DPosition(4) trying to set 3d position without 3d soundbuffer!\n"),
              std::string::npos);
    EXPECT_NE(log.find("S_Sound3DCommitDeferred() Error: No Listener!\n"), std::string::npos);
    EXPECT_NE(log.find("S_PlaySound3D(9) Nonexisting DirectSoundBuffer!\n"), std::string::npos);
    EXPECT_EQ(S_PlaySound3D(4), 1);
    EXPECT_EQ(S_ChannelIsPlaying(4), 1);
}

TEST_F(SoundTest, EaxRoomsBecomeReverb) {
    ASSERT_TRUE(StartSound(SOUND_FLAG_EAX));
    ASSERT_NE(S_SoundDevice.eaxPropertySet, nullptr);
    DSoundListenerState l = DSound_ListenerState();
    ASSERT_TRUE(l.efx);
    EXPECT_TRUE(l.reverbOn);
    EXPECT_NEAR(l.decayTime, 8.39f, 1e-4);  // the start-up room

    EXPECT_EQ(S_SFXSetEAXRoom(0, 0), 1);
    l = DSound_ListenerState();
    EXPECT_NEAR(l.decayTime, 3.14f, 1e-4);
    EXPECT_NEAR(l.gain_, std::pow(10.0f, -1000 / 2000.0f), 1e-4);
    EXPECT_EQ(S_SoundDevice.eaxScenario, 0);

    LogCapture capture;
    EXPECT_EQ(S_SFXSetEAXRoom(0, 14), 0);
    EXPECT_EQ(S_SFXSetEAXRoom(0, -1), 0);
    EXPECT_EQ(S_SFXSetEAXRoom(99, 3), 1);  // falls back to location 0
    EXPECT_EQ(S_SFXSetEAXRoom(-2, 3), 1);
    std::string log = capture.Take();
    EXPECT_NE(log.find("S_SFXSetEAXRoom(14,0) scenarionr 14 out of range, max=5\n"), std::string::npos);
    EXPECT_NE(log.find("S_SFX_GetEAXListenerProperties() scenarionr=3 locationnr=99 out of range!\n"),
              std::string::npos);

    EXPECT_EQ(S_SFXSetEAXRoom(0, 5), 1);  // no rooms: the generic one
    EXPECT_NEAR(DSound_ListenerState().decayTime, 1.49f, 1e-4);

    // 3D sources send to the reverb.
    TestSample s(true);
    ASSERT_EQ(S_StartSoundEffect(&s, 0, 0, 0, 0, 0), 0);
    EXPECT_TRUE(DSound_SourceState(S_SoundChannels[0].buffer).reverbSend);
}

TEST_F(SoundTest, WithoutEfxRoomsAreOffAndSoundStillRuns) {
    DSound_Seam().noEFX = true;
    LogCapture capture;
    ASSERT_TRUE(StartSound(SOUND_FLAG_EAX));
    EXPECT_NE(capture.Take().find("Can't get EAX Listener interface from secondary soundbuffer!\n"), std::string::npos);
    EXPECT_NE(S_SoundDevice.directSound, nullptr);
    EXPECT_EQ(S_SoundDevice.eaxPropertySet, nullptr);
    EXPECT_EQ(S_SFXSetEAXRoom(0, 1), 1);
    EXPECT_FALSE(DSound_ListenerState().reverbOn);
    EXPECT_EQ(S_SFXSetEAXRoom(0, 1), 1);
}

TEST_F(SoundTest, EaxSupportCheckFallsBackToPlainDevice) {
    DSound_Seam().eaxSupport = KSPROPERTY_SUPPORT_GET;
    LogCapture capture;
    ASSERT_TRUE(StartSound(SOUND_FLAG_EAX));
    EXPECT_NE(capture.Take().find("Int_InitEAXListener() No EAX property GET and SET support !\n"), std::string::npos);
    EXPECT_EQ(S_SoundDevice.eaxPropertySet, nullptr);
    EXPECT_NE(S_SoundDevice.directSound, nullptr);
}

TEST(SoundRooms, PresetTablesAndFixedRows) {
    EAXLISTENERPROPERTIES r = S_SFX_GetEAXListenerProperties(0, 0);
    EXPECT_EQ(r.ulEnvironment, 26u);
    EXPECT_FLOAT_EQ(r.flEnvironmentSize, 8.3f);
    EXPECT_EQ(r.lRoomHF, -1100);
    EXPECT_EQ(r.lRoomLF, -1500);
    EXPECT_FLOAT_EQ(r.flHFReference, 5168.6f);
    EXPECT_EQ(r.ulFlags, 0x20u);
    r = S_SFX_GetEAXListenerProperties(2, 12);
    EXPECT_EQ(r.ulEnvironment, 26u);
    EXPECT_FLOAT_EQ(r.flEnvironmentSize, 36.2f);
    EXPECT_EQ(r.lRoom, -1200);
    EXPECT_EQ(r.lRoomHF, -698);
    EXPECT_EQ(r.lReverb, 200);
    EXPECT_EQ(r.ulFlags, 0u);
    // The standard environments in their order.
    r = S_SFX_GetEAXListenerProperties(23, 13);
    EXPECT_EQ(r.ulEnvironment, 23u);
    EXPECT_NEAR(r.flEnvironmentSize, 1.9f, 1e-3);
    EXPECT_EQ(r.lReflections, -115);
    EXPECT_EQ(r.lReverb, 985);
    EXPECT_EQ(S_SFX_GetEAXListenerProperties(25, 13).ulEnvironment, 25u);
    EXPECT_EQ(S_SFX_GetEAXListenerProperties(0, 13).lRoom, -1000);
    EXPECT_EQ(S_SFX_GetEAXListenerProperties(3, 5).ulEnvironment, 0u);
    EXPECT_EQ(S_SFX_GetEAXListenerProperties(3, 77).ulEnvironment, 0u);
}

TEST_F(SoundTest, CloseReleasesEverythingAndClearsTheLink) {
    ASSERT_TRUE(StartSound(SOUND_FLAG_EAX));
    TestSample a(false), b(true);
    ASSERT_EQ(S_StartSoundEffect(&a, 0, -1, 0, 0, 0), 0);
    ASSERT_EQ(S_StartSoundEffect(&b, 1, 0, 0, 0, 0), 1);
    sys_.debugFlags = 4;
    LogCapture capture;
    S_CloseAudio();
    EXPECT_NE(capture.Take().find("DSrelease(): 0\n"), std::string::npos);
    EXPECT_EQ(g_SoundState, nullptr);
    EXPECT_EQ(S_SoundChannels[0].buffer, nullptr);
    EXPECT_EQ(DSound_LiveObjects(), 0);
    EXPECT_EQ(S_WindowLinks.cdTrackDone, nullptr);
    capture.Take();
    S_CloseAudio();
    EXPECT_NE(capture.Take().find("S_FreeMem: Trying to free NULL pointer, len "), std::string::npos);
}

TEST_F(SoundTest, SamplesPlayThroughTheBaseCalls) {
    ASSERT_TRUE(StartSound());
    TestSample s(false);
    EXPECT_EQ(Qel_StartSoundEffect(&s, 7, -1, 0, 0, 0), 7);
    Qel_StopSoundEffect(7);
    EXPECT_NE(S_SoundChannels[7].buffer, nullptr);  // kept for the next start
    EXPECT_EQ(S_ChannelIsPlaying(7), 0);
    Qel_StopAndFreeSoundEffect(7);
    EXPECT_EQ(S_SoundChannels[7].buffer, nullptr);
    // Freeing a descriptor frees a channel that still holds it.
    EXPECT_EQ(Qel_StartSoundEffect(&s, 8, 0, 0, 0, 0), 8);
    TestSample* other = new TestSample(false);
    EXPECT_EQ(Qel_StartSoundEffect(&*other, 9, 0, 0, 0, 0), 9);
    delete other;
    EXPECT_EQ(S_SoundChannels[9].buffer, nullptr);
    EXPECT_NE(S_SoundChannels[8].buffer, nullptr);
}

}  // namespace
