#include "scene/sound3d.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/sample.h"
#include "platform/dsound/seam.h"
#include "scene/allocs.h"
#include "scene/bodyrecord.h"
#include "scene/caches.h"
#include "scene/drawing.h"
#include "scene/trees.h"
#include "scene_fixture.h"
#include "support/logcapture.h"
#include "support/soundfiles.h"
#include "system/sound.h"

namespace {

constexpr int32_t kSound = 5;
constexpr int32_t kBody = 30;

// The game sound as the scene engine sees it: a looping 3D sample started on
// the next free channel of the sound layer, or a refusal.
struct FakeGameSound {
    static FakeGameSound*& Current() {
        static FakeGameSound* current = nullptr;
        return current;
    }
    FakeGameSound() {
        WavSpec spec;
        spec.data = Square16(1000, 8000, 50);
        const std::vector<uint8_t> wav = MakeWav(spec);
        sample.descriptor = Qel_LoadSample(wav.data(), static_cast<uint32_t>(wav.size()), QEL_SAMPLEDESC_3D);
        sample.flags = QEL_SAMPLE_HAS_DESC;
        sample.frequency = spec.rate;
        sample.volume = 255;
        sample.data = sample.descriptor->data;
        sample.length = sample.descriptor->length;
        Current() = this;
        g_B3DSoundLink = {&Load, &Play, &Stop};
    }
    ~FakeGameSound() {
        g_B3DSoundLink = {};
        Current() = nullptr;
        Qel_FreeSampleDesc(sample.descriptor);
    }
    static int Load(int32_t id, uint32_t flags) {
        Current()->loads.push_back({id, static_cast<int32_t>(flags)});
        return 1;
    }
    static int Play(int32_t id, int32_t volume) {
        FakeGameSound& g = *Current();
        g.plays.push_back({id, volume});
        if (g.refuse) return -1;
        return S_StartSoundEffect(&g.sample, g.nextChannel++, -1, g.sample.frequency, static_cast<uint32_t>(volume),
                                  64);
    }
    static void Stop(int channel, int32_t id) {
        Current()->stops.push_back({channel, id});
        Int_StopSoundEffect(channel);
    }

    QelSample sample{};
    int nextChannel = 0;
    bool refuse = false;
    std::vector<std::pair<int32_t, int32_t>> loads, plays, stops;
};

class SceneSound : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        DSound_ResetSeam();
        system_->fxVolume = 255;
        system_->Num3DSounds = 8;
        system_->SysFlags |= 0x100;
        ASSERT_NE(S_InitDS3D(SOUND_FLAG_RUNNING), nullptr);
        sound_ = std::make_unique<FakeGameSound>();
        body_ = static_cast<Body3D*>(B3D_AllocMemB(sizeof(Body3D), B3D_MEM_ZERO));
        body_->id = kBody;
        B3D_LinkBody(body_);
        camera_ = B3D_CameraAlloc();
        Qel_MatIdentity(&camera_->inst.worldMatrix);
        camera_->camFlags |= CAM_LISTENER;
    }
    void TearDown() override {
        B3D_FreeBody(body_);
        sound_.reset();
        S_CloseAudio();
        EXPECT_EQ(DSound_LiveObjects(), 0);
        DSound_ResetSeam();
        SceneTest::TearDown();
    }
    // A sounding instance at distance x in front of the camera.
    Inst3D* Sounding(int32_t x) {
        Inst3D* inst = B3D_AllocInst();
        inst->bodyId = kBody;
        EXPECT_EQ(B3D_InstSetSound(inst, kSound), 1);
        Qel_MatIdentity(&inst->worldMatrix);
        Place(inst, x);
        return inst;
    }
    static void Place(Inst3D* inst, int32_t x) {
        inst->worldPos = {x, 0, 0, 0};
        inst->viewPos = inst->worldPos;
    }
    // One frame's update over the instances, in order.
    void Frame(const std::vector<Inst3D*>& insts) {
        uint16_t counter = 0;
        for (Inst3D* i : insts) B3D_InstMake3DSound(i, camera_, &counter);
    }
    static bool Holds(const Inst3D* i) { return i->flags2 & INST2_SOUND_CHANNEL; }
    static bool Heard(const Inst3D* i) {
        if (!Holds(i)) return false;
        return DSound_SourceState(S_SoundChannels[i->soundChannel].buffer).playing;
    }

    std::unique_ptr<FakeGameSound> sound_;
    Body3D* body_ = nullptr;
    Camera3D* camera_ = nullptr;
};

TEST_F(SceneSound, AnInstanceEnteringTheRangeIsHeardFromItsThirdUpdate) {
    // The range is six tree radii plus 37000; a point has radius 0.
    Inst3D* inst = Sounding(50000);
    Frame({inst});
    EXPECT_FALSE(Holds(inst));
    EXPECT_TRUE(sound_->plays.empty());
    Place(inst, 20000);
    Frame({inst});
    ASSERT_TRUE(Holds(inst));
    EXPECT_EQ(sound_->loads, (std::vector<std::pair<int32_t, int32_t>>{{kSound, 33}}));
    EXPECT_EQ(sound_->plays, (std::vector<std::pair<int32_t, int32_t>>{{kSound, 255}}));
    EXPECT_FALSE(Heard(inst));
    Frame({inst});
    EXPECT_FALSE(Heard(inst));
    Frame({inst});
    EXPECT_TRUE(Heard(inst));
    B3D_CameraEndDraw(camera_);  // the deferred position reaches the device
    const DSoundSourceState source = DSound_SourceState(S_SoundChannels[inst->soundChannel].buffer);
    EXPECT_FLOAT_EQ(source.position[0], 20000.0f);
    // Leaving the range gives the channel back; the sound stays the instance's.
    const int channel = inst->soundChannel;
    Place(inst, 40000);
    Frame({inst});
    EXPECT_FALSE(Holds(inst));
    EXPECT_EQ(inst->soundChannel, -1);
    EXPECT_EQ(inst->soundId, kSound);
    EXPECT_EQ(sound_->stops, (std::vector<std::pair<int32_t, int32_t>>{{channel, kSound}}));
}

TEST_F(SceneSound, WithALimitOfEightTheNinthInstanceStopsItsChannel) {
    std::vector<Inst3D*> insts;
    for (int i = 0; i < 9; ++i) insts.push_back(Sounding(1000 * i));
    system_->Num3DSounds = 9;
    Frame(insts);
    for (Inst3D* i : insts) ASSERT_TRUE(Holds(i));
    system_->Num3DSounds = 8;
    const int ninth = insts[8]->soundChannel;
    Frame(insts);
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(Holds(insts[static_cast<size_t>(i)])) << i;
    EXPECT_FALSE(Holds(insts[8]));
    EXPECT_EQ(sound_->stops, (std::vector<std::pair<int32_t, int32_t>>{{ninth, kSound}}));
    // A tenth met in a frame that is full gets no channel.
    Inst3D* tenth = Sounding(0);
    insts.push_back(tenth);
    Frame(insts);
    EXPECT_FALSE(Holds(tenth));
    EXPECT_EQ(sound_->plays.size(), 9u);
    // Children are counted with their parents.
    Inst3D* child = Sounding(0);
    B3D_ListRemove(B3D_Node(child));
    B3D_ListAppend(&insts[0]->children, B3D_Node(child));
    child->parent = insts[0];
    Frame(insts);
    EXPECT_TRUE(Holds(child));
    EXPECT_FALSE(Holds(insts[7]));  // the ninth sound met in this frame
}

TEST_F(SceneSound, AFailedPlayDropsItsSoundId) {
    sound_->refuse = true;
    Inst3D* inst = Sounding(0);
    LogCapture log;
    Frame({inst});
    EXPECT_EQ(log.Text(), "B3D_InstMake3DSound() unable to Play Sample 5\n");
    EXPECT_EQ(inst->soundId, 0);
    Frame({inst});  // not tried again
    EXPECT_EQ(sound_->plays.size(), 1u);
    // Without its body a sound is dropped before anything plays.
    sound_->refuse = false;
    Inst3D* bodiless = Sounding(0);
    bodiless->bodyId = 31;
    log.Take();
    Frame({bodiless});
    EXPECT_EQ(log.Text(), "B3D_InstMake3DSound() unable to Play Sample 5 because no BodyArray found!\n");
    EXPECT_EQ(bodiless->soundId, 0);
    EXPECT_EQ(sound_->plays.size(), 1u);
}

size_t Commits() { return DSound_SeamCalls("Commit").size(); }

TEST_F(SceneSound, AFailedCommitTurnsThreeDSoundOff) {
    const size_t before = Commits();
    B3D_CameraSetListener(camera_);
    B3D_CameraEndDraw(camera_);
    EXPECT_EQ(Commits(), before + 1);
    DSound_Seam().failCommit = true;
    LogCapture log;
    B3D_CameraEndDraw(camera_);
    EXPECT_TRUE(log.Contains("S_Sound3DCommitDeferred() Error: "));
    EXPECT_TRUE(log.Contains("error commiting d3d data\n"));
    EXPECT_EQ(g_B3DState->sound3DUsable, 0);
    DSound_Seam().failCommit = false;
    const size_t listenerCalls = DSound_Seam().calls.size();
    B3D_CameraSetListener(camera_);
    B3D_CameraEndDraw(camera_);
    EXPECT_EQ(DSound_Seam().calls.size(), listenerCalls);  // off for the rest of the run
}

TEST_F(SceneSound, AFailedListenerCallTurnsThreeDSoundOff) {
    // Only a listener camera with 3D sound on touches the listener.
    const size_t before = Commits();
    camera_->camFlags &= ~CAM_LISTENER;
    B3D_CameraSetListener(camera_);
    B3D_CameraEndDraw(camera_);
    camera_->camFlags |= CAM_LISTENER;
    system_->SysFlags &= ~0x100u;
    B3D_CameraSetListener(camera_);
    B3D_CameraEndDraw(camera_);
    EXPECT_EQ(Commits(), before);
    system_->SysFlags |= 0x100;
    DSound_Seam().fail3D = true;
    LogCapture log;
    B3D_CameraSetListener(camera_);
    EXPECT_TRUE(log.Contains("Error setting listener orientation\n"));
    EXPECT_TRUE(log.Contains("Error setting listener position\n"));
    EXPECT_TRUE(log.Contains("error setting listener velocity\n"));
    EXPECT_EQ(g_B3DState->sound3DUsable, 0);
    B3D_CameraEndDraw(camera_);
    EXPECT_EQ(Commits(), before);
}

TEST_F(SceneSound, ACommitWithoutAListenerTurnsThreeDSoundOff) {
    S_CloseAudio();
    LogCapture log;
    B3D_CameraEndDraw(camera_);
    EXPECT_TRUE(log.Contains("S_Sound3DCommitDeferred() Error: No Listener!\n"));
    EXPECT_TRUE(log.Contains("error commiting d3d data\n"));
    EXPECT_EQ(g_B3DState->sound3DUsable, 0);
    ASSERT_NE(S_InitDS3D(SOUND_FLAG_RUNNING), nullptr);
}

}  // namespace

TEST_F(SceneSound, TheListenersRankedPassRenewsItsStampEveryFiveSeconds) {
    Scene3D* scene = B3D_SceneAlloc();
    ASSERT_NE(scene, nullptr);
    g_B3DState->sound3DStamp = 0;
    SetClock(5000);
    B3D_SceneSelectLevels(scene, camera_);
    EXPECT_EQ(g_B3DState->sound3DStamp, 0);
    SetClock(5001);
    B3D_SceneSelectLevels(scene, camera_);
    EXPECT_EQ(g_B3DState->sound3DStamp, 5001);
    SetClock(9000);
    B3D_SceneSelectLevels(scene, camera_);
    EXPECT_EQ(g_B3DState->sound3DStamp, 5001);
    // Across the clock's wrap.
    g_B3DState->sound3DStamp = 32399000;
    SetClock(4001);
    B3D_SceneSelectLevels(scene, camera_);
    EXPECT_EQ(g_B3DState->sound3DStamp, 4001);
    B3D_SceneFree(scene);
}
