#include "program/gamesound.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "base/file.h"
#include "cockpit/ticker.h"
#include "cockpit/tracking.h"
#include "cockpit/update.h"
#include "space/behaviour.h"
#include "base/random.h"
#include "base/sample.h"
#include "platform/dsound/mci.h"
#include "platform/dsound/seam.h"
#include "platform/win32/messages.h"
#include "scene/lists.h"
#include "scene/records.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "support/script_run.h"
#include "support/soundfiles.h"
#include "support/syscall_runner.h"
#include "system/cdaudio.h"
#include "system/clock.h"
#include "system/sound.h"
#include "system/window.h"
#include "tools/lib/demo_sounds.h"
#include "tools/lib/types_writer.h"

namespace {

// What the sound layer was asked to start, and how its channels behave.
struct FakeLayer {
    struct Start {
        int channel;
        int loop;
        uint32_t frequency, volume, pan;
        int32_t length;
    };
    std::vector<Start> starts;
    std::set<int> stopped;  // channels whose buffer no longer plays
    bool failStart = false;
    bool continues = false;
};
FakeLayer* g_fake = nullptr;

int FakeGoesOn(int channel) { return g_fake->stopped.count(channel) ? 0 : 1; }
int FakeStart(QelSample* sample, int channel, int loop, uint32_t frequency, uint32_t volume, uint32_t pan) {
    if (g_fake->failStart) return -1;
    g_fake->starts.push_back({channel, loop, frequency, volume, pan, static_cast<int32_t>(sample->length)});
    g_fake->stopped.erase(channel);
    return channel;
}
int FakeContinue(QelSample*) { return g_fake->continues ? 1 : 0; }

class GameSoundTest : public SoundFixture {
protected:
    void SetUp() override {
        SoundFixture::SetUp();
        sys_.app = TestAppDescriptor();
        sys_.languageId = 44;
        sys_.masterVolume = 200;
        sys_.modVolume = 100;
        sys_.realClock = 1000;
        sys_.debugFlags = 2;  // the "couldn't be played" line
        ASSERT_TRUE(runner_.Load(kNopStory));
        savedLink_ = g_SfxSoundLink;
        g_fake = &fake_;
        g_SfxSoundLink = {FakeGoesOn, FakeStart, FakeContinue};
    }
    void TearDown() override {
        SFX_Exit();
        SFX_FreeAllSamples();
        g_SfxSoundLink = savedLink_;
        g_fake = nullptr;
        SoundFixture::TearDown();
    }
    // Sound on, the module started, and the table read from a source.
    void Start(const std::string& sounds, uint32_t soundFlags = 0) {
        if (!sounds.empty()) {
            std::string error;
            ASSERT_TRUE(Tool_WriteTypesFiles(sounds, folder_.Path() + "/types", -1, &error)) << error;
        }
        ASSERT_TRUE(StartSound(soundFlags));
        ASSERT_NE(SFX_Init(), nullptr);
        LogCapture log;
        SFX_InitSounds();
    }
    // A 16-bit sample file of `ms` milliseconds at 22050 Hz for an id.
    void Sample(int32_t id, int ms = 1000) {
        WavSpec spec;
        spec.data = Square16(22050 * ms / 1000, 8000, 50);
        char name[32];
        if (id >= 0) std::snprintf(name, sizeof name, "S/%03d.wav", id);
        else std::snprintf(name, sizeof name, "T/%06d.wav", -id);
        folder_.WriteBytes(name, MakeWav(spec));
    }
    void Advance(int ms) {
        sys_.realClock = S_ClockAdvance(sys_.realClock, ms);
        sys_.gameClock = S_ClockAdvance(sys_.gameClock, ms);
    }
    int Module() const { return runner_.module(); }
    // The answers the test module got, as handle → value (in order).
    std::vector<std::pair<uint32_t, int32_t>> Answers() {
        std::vector<std::pair<uint32_t, int32_t>> a;
        for (const RunAnswer& r : runner_.answers) a.push_back({r.callerNumber, r.n});
        runner_.answers.clear();
        return a;
    }
    SfxChannel* Ch(int i) { return g_SfxState->channels[i]; }

    TempGameFolder folder_;
    StoryRunner runner_;
    FakeLayer fake_;
    SfxSoundLink savedLink_{};
};

using Answer = std::pair<uint32_t, int32_t>;
using AnswerList = std::vector<Answer>;

// ---------------------------------------------------------------- the table

TEST_F(GameSoundTest, SoundsFileReadsGroupsRowsAndFlagNames) {
    std::string source = "[Sounds]\n3\n0\n  7 200 SFX_LOOP|SFX_AUTOFREE -10 30 20 1234\n  1 -1 NULL 0 0 0 0\n";
    source += "1300\n-100\n";  // skipped: no count is read for them
    source += "500\n  9 9 SFX_DSIK 0 0 0 0\n";
    source += "500\n  4 40 SFX_3DCONTROL 0 0 0 0\n  5 50 SFX_TOBECONTINUED 0 0 0 0\n";  // again: the new rows win
    source += "1200\n";
    for (int i = 0; i < 40; ++i) source += "  1 " + std::to_string(i) + " NULL 0 0 0 0\n";
    Start(source);

    const SoundEffectEntry* e = SFX_FindEffect(0);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->priority, 7);
    EXPECT_EQ(e->volume, 200);
    EXPECT_EQ(e->flags, SFX_LOOP | SFX_AUTOFREE);
    EXPECT_EQ(e->pitchMin, -10);
    EXPECT_EQ(e->pitchMax, 30);
    EXPECT_EQ(e->volumeVariation, 20);
    EXPECT_EQ(e->distance, 1234);
    EXPECT_EQ(g_SfxGroupCounts[5], 2);
    EXPECT_EQ(P_SoundGetFlags(501), SFX_TOBECONTINUED);
    EXPECT_EQ(P_SoundGetVolume(500), 40);

    // Id arithmetic: group = id / 100, row = the rest.
    const struct {
        int32_t id;
        bool found;
        int32_t volume;
    } cases[] = {{0, true, 200},   {1, true, -1},   {2, false, 0},  {1239, true, 39}, {1250, false, 0},
                 {1300, false, 0}, {150, false, 0}, {-1, false, 0}, {-100, false, 0}, {-1250, false, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(SFX_FindEffect(c.id) != nullptr, c.found) << c.id;
        if (c.found) {
            EXPECT_EQ(SFX_FindEffect(c.id)->volume, c.volume) << c.id;
        }
    }
    LogCapture log;
    EXPECT_EQ(P_SoundGetVolume(-5), 0);
    EXPECT_TRUE(log.Contains("P_SoundGetVolume() unknown effect: -5\n"));
    // An unknown effect answers its caller 0 at once.
    EXPECT_EQ(SFX_PlaySound(Module(), 9, 1250, -1), 0);
    EXPECT_EQ(Answers(), (AnswerList{{9, 0}}));
    EXPECT_TRUE(log.Contains("SFX_PlaySound() unknown effect: 1250"));
}

// The demo's sound table (data/types/media.types) and the sounds demoaudio
// synthesises: every sound the engine plays by number has its row and its
// file, and every file loads through the game sound as the sample it was made.
TEST_F(GameSoundTest, TheDemoSoundsLoadThroughTheirTable) {
    const char* source = std::getenv("TREVAN_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    std::ifstream in(std::filesystem::path(source) / "data" / "types" / "media.types");
    std::stringstream text;
    text << in.rdbuf();
    std::string error;
    ASSERT_TRUE(DemoSounds_Write(folder_.Path(), &error)) << error;
    Start(text.str());
    const std::vector<DemoSound> sounds = DemoSounds();
    std::set<int32_t> made;
    for (const DemoSound& d : sounds) made.insert(d.id);
    for (int32_t id : {INS_TRACKING_SOUND, SA_MISSILE_ALARM_SOUND, INS_ALERT_NEAR_SOUND, INS_ALERT_MISSILE_SOUND,
                       INS_ZOOM_SOUND, 903, 904, 918, 919, 920, 992, 1200, 1201, 1202})
        EXPECT_TRUE(made.count(id)) << id;
    for (const DemoSound& d : sounds) {
        SCOPED_TRACE(d.what);
        SoundEffectEntry* e = SFX_FindEffect(d.id);
        ASSERT_NE(e, nullptr) << d.id;
        EXPECT_GT(e->priority, 1);
        EXPECT_EQ(SFX_LoadSample(d.id, e->flags), 1);
        SFX_PlaySound(Module(), 1, d.id, -1);
        ASSERT_NE(e->sample, nullptr) << d.id;
        EXPECT_EQ(e->sample->length, 2 * d.samples.size());
        EXPECT_EQ(e->sample->frequency, static_cast<uint32_t>(kDemoSoundRate));
    }
    // The rows between them have no file.
    EXPECT_EQ(SFX_LoadSample(4, 0), 0);
    EXPECT_TRUE(folder_.Exists("soundtrack/00010.mp3"));
}

TEST_F(GameSoundTest, BadOrMissingSoundsFileLeavesAnEmptyTable) {
    folder_.Write("types/Sounds.txt", "0;\n0;1;1;1;NULL;0;0;0;0;\n");
    LogCapture log;
    ASSERT_TRUE(StartSound());
    ASSERT_NE(SFX_Init(), nullptr);
    SFX_InitSounds();
    EXPECT_TRUE(log.Contains("SFX_InitSounds() Sounds.txt version 0 is invalid\n"));
    EXPECT_EQ(SFX_FindEffect(0), nullptr);

    std::remove((folder_.Path() + "/types/Sounds.txt").c_str());
    SFX_InitSounds();
    EXPECT_TRUE(log.Contains("SFX_InitSounds() no Sounds file"));
    for (int g = 0; g < SFX_GROUPS; ++g) EXPECT_EQ(g_SfxGroupCounts[g], 0);
}

TEST_F(GameSoundTest, RowCountBeyondTheFileReadsNoRows) {
    // A count of rows the file cannot hold is refused before any memory is
    // taken for it; the groups read before it stay.
    folder_.Write("types/Sounds.txt", "1;\n0;1;\n5;200;NULL;0;0;0;0;\n100;2147483647;5;200;NULL;0;0;0;0;\n");
    ASSERT_TRUE(StartSound());
    ASSERT_NE(SFX_Init(), nullptr);
    SFX_InitSounds();
    EXPECT_EQ(g_SfxGroupCounts[0], 1);
    EXPECT_EQ(g_SfxGroupCounts[1], 0);
    EXPECT_EQ(g_SfxGroups[1], nullptr);
}

// ---------------------------------------------------------------- channels

TEST_F(GameSoundTest, ChannelsAreTakenBestFreeThenByPriorityAndNearestEnd) {
    Start("[Sounds]\n1\n0\n  5 200 NULL 0 0 0 0\n  5 200 NULL 0 0 0 0\n  5 200 NULL 0 0 0 0\n");
    Sample(0);
    Sample(1);
    Sample(2);
    LogCapture log;
    EXPECT_EQ(SFX_PlaySample(Module(), 1, 1, 0, 0, 100, 5, 64), 0);
    EXPECT_EQ(SFX_PlaySample(Module(), 2, 2, 0, 0, 100, 5, 64), 1);
    SFX_StopSample(1);
    SFX_StopSample(2);
    EXPECT_EQ(Answers(), (AnswerList{{1, 1}, {2, 1}}));
    // Both free: the channel that last played the sample is the best one.
    EXPECT_EQ(SFX_PlaySample(Module(), 3, 2, 0, 0, 100, 5, 64), 1);
    SFX_StopSample(2);
    Answers();

    // All 32 busy at priority 5, channel 17 ending first.
    std::map<int, uint32_t> handleOf;
    for (int i = 0; i < SFX_CHANNELS; ++i) {
        int ch = SFX_PlaySample(Module(), 100 + i, 0, 0, 0, 100, 5, 64);
        ASSERT_GE(ch, 0);
        handleOf[ch] = 100 + i;
        Ch(ch)->endTime = S_ClockAdvance(sys_.realClock, ch == 17 ? 100 : 2000 + ch);
    }
    ASSERT_EQ(handleOf.size(), 32u);
    // A lower priority gets the dummy; a second one replaces it and its caller is answered.
    EXPECT_EQ(SFX_PlaySample(Module(), 200, 1, 0, 0, 100, 4, 64), -1);
    EXPECT_TRUE(Answers().empty());
    EXPECT_EQ(SFX_PlaySample(Module(), 201, 1, 0, 0, 100, 4, 64), -1);
    EXPECT_EQ(Answers(), (AnswerList{{200, 1}}));
    EXPECT_TRUE(log.Contains("SFX_PlaySample(id=1) unable to find a channel, using dummy\n"));
    // The same priority takes over the channel that ends first; its caller hears 1.
    EXPECT_EQ(SFX_PlaySample(Module(), 300, 2, 0, 0, 100, 5, 64), 17);
    EXPECT_EQ(Answers(), (AnswerList{{handleOf[17], 1}}));
    EXPECT_EQ(Ch(17)->handle, 300);
    EXPECT_TRUE(log.Contains("using LOWER PRI[5] channel 17 with sample 0!"));
    // The dummy's caller is answered about half a second later.
    Advance(499);
    SFX_VBI();
    EXPECT_TRUE(Answers().empty());
    Advance(2);
    SFX_VBI();
    EXPECT_EQ(Answers(), (AnswerList{{201, 1}}));
}

TEST_F(GameSoundTest, PriorityZeroBecomesOneAndAFailedStartAnswersZero) {
    Start("[Sounds]\n1\n0\n  5 200 NULL 0 0 0 0\n");
    Sample(0);
    LogCapture log;
    EXPECT_EQ(SFX_PlaySample(Module(), 1, 0, 0, 0, 100, 0, 64), 0);
    EXPECT_EQ(Ch(0)->priority, 1);
    EXPECT_TRUE(log.Contains("SFX: Pri 0 not allowed!\n"));
    fake_.failStart = true;
    EXPECT_EQ(SFX_PlaySample(Module(), 2, 0, 0, 0, 100, 5, 64), -1);
    EXPECT_EQ(Answers(), (AnswerList{{2, 0}}));
    EXPECT_EQ(Ch(1)->priority, 0);
    EXPECT_TRUE(log.Contains("SFX_IntPlaySample(0, 1) failed Qel_StartSoundEffect()\n"));
    // A missing sample file cannot be played while effects are on.
    EXPECT_EQ(SFX_PlaySample(Module(), 3, 42, 0, 0, 100, 5, 64), -1);
    EXPECT_EQ(Answers(), (AnswerList{{3, 0}}));
    EXPECT_TRUE(log.Contains("ERROR: Sample 42 couldn't be played\n"));
}

TEST_F(GameSoundTest, EffectsOffPlaysSilentPlaceholdersAnsweredLater) {
    Start("[Sounds]\n1\n0\n  5 200 NULL 0 0 0 0\n", SOUND_FLAG_OFF);
    Sample(0);
    EXPECT_EQ(SFX_PlaySound(Module(), 4, 0, -1), 1);
    EXPECT_TRUE(fake_.starts.empty());
    EXPECT_EQ(SFX_GetCallNames()[0], std::string("SFX_LoadSample"));
    Advance(400);
    SFX_VBI();
    EXPECT_TRUE(Answers().empty());
    Advance(101);
    SFX_VBI();
    EXPECT_EQ(Answers(), (AnswerList{{4, 1}}));
}

TEST_F(GameSoundTest, EndTimeComesFromFramesAndFrequencyWithoutOverflow) {
    Start("[Sounds]\n1\n0\n  5 200 NULL 0 0 0 0\n");
    Sample(0, 10);
    QelSample sample{};
    sample.bytesPerSample = 2;
    const struct {
        int32_t length;
        uint32_t frequency;
        int32_t ms;
    } cases[] = {{44100 * 2, 44100, 1000}, {44100 * 2 * 60, 44100, 60000}, {1000, 0, 0}, {22050, 22050, 500}};
    for (const auto& c : cases) {
        sample.length = static_cast<uint32_t>(c.length);
        SFX_IntPlaySample(3, 0, 0, 0, &sample, c.length, c.frequency, 100, 5, 64);
        EXPECT_EQ(S_ClockDiff(Ch(3)->endTime, sys_.realClock), c.ms) << c.length << " " << c.frequency;
    }
}

TEST_F(GameSoundTest, VolumeVariationAndPitchStayInTheirRanges) {
    Start("[Sounds]\n1\n0\n  5 200 NULL 0 100 50 0\n");
    Sample(0, 10);
    Qel_SeedRandom(7);
    std::set<uint32_t> volumes, frequencies;
    for (int i = 0; i < 300; ++i) {
        SFX_PlaySound(0, 0, 0, -1);
        const FakeLayer::Start& s = fake_.starts.back();
        EXPECT_GE(s.volume, 100u);
        EXPECT_LE(s.volume, 200u);
        EXPECT_GE(s.frequency, 22050u);
        EXPECT_LE(s.frequency, 44100u);
        volumes.insert(s.volume);
        frequencies.insert(s.frequency);
        SFX_StopSample(0);
    }
    // Half the draws leave the volume whole; the rest spread below it.
    EXPECT_EQ(*volumes.rbegin(), 200u);
    EXPECT_GT(volumes.size(), 20u);
    EXPECT_GT(frequencies.size(), 50u);
    EXPECT_EQ(*frequencies.begin(), 22050u);  // pitch 0 of 100 is drawn too
}

// ---------------------------------------------------------------- 3D

TEST_F(GameSoundTest, PositionedEffectsFollowTheListenerCamera) {
    Start("[Sounds]\n1\n0\n  6 200 SFX_3DCONTROL 0 0 0 1000\n");
    Sample(0, 10);
    Scene3D scene{};
    B3D_ListInit(&scene.insts);
    B3D_ListInit(&scene.cameras);
    Camera3D other{}, listener{};
    listener.camFlags = CAM_LISTENER;
    listener.inst.scene = &scene;
    listener.inst.worldMatrix.m[0] = 65536;  // looks along z, x to its right
    listener.inst.worldMatrix.m[5] = 65536;
    listener.inst.worldMatrix.m[10] = 65536;
    B3D_ListAppend(&scene.cameras, B3D_Node(&other));
    B3D_ListAppend(&scene.cameras, B3D_Node(&listener));
    Inst3D inst{};
    inst.scene = &scene;

    const struct {
        int32_t x, y, z;
        int played;
        uint32_t volume, pan;
    } cases[] = {
        {1000, 0, 0, 1, 200, 96}, {-1000, 0, 0, 1, 200, 32}, {3000, 0, 0, 1, 100, 96}, {0, -3000, 400, 1, 100, 64},
        {0, 0, 2000, 1, 150, 64}, {0, 5000, 0, 0, 0, 0},     {0, 0, 0, 1, 200, 64},
    };
    for (const auto& c : cases) {
        inst.worldPos = {c.x, c.y, c.z, 0};
        fake_.starts.clear();
        EXPECT_EQ(SFX_PlaySound3D(Module(), 5, 0, &inst), c.played) << c.x << "," << c.y << "," << c.z;
        if (!c.played) {
            EXPECT_EQ(Answers(), (AnswerList{{5, 0}}));
            continue;
        }
        ASSERT_EQ(fake_.starts.size(), 1u);
        EXPECT_EQ(fake_.starts[0].volume, c.volume) << c.x << "," << c.y << "," << c.z;
        EXPECT_EQ(fake_.starts[0].pan, c.pan) << c.x << "," << c.y << "," << c.z;
        // The row's priority, not the 255 of SFX_3DCONTROL.
        EXPECT_EQ(Ch(fake_.starts[0].channel)->priority, 6);
        SFX_StopSample(0);
        Answers();
    }
    // The listener itself, far from everything: the centre, whole volume.
    listener.inst.worldPos = {90000, 0, 0, 0};
    SFX_PlaySound3D(0, 0, 0, &listener.inst);
    EXPECT_EQ(fake_.starts.back().pan, 64u);
    EXPECT_EQ(fake_.starts.back().volume, 200u);
    SFX_StopSample(0);
    // No listener, or no scene: the plain effect, still at the row's priority.
    listener.camFlags = 0;
    SFX_PlaySound3D(0, 0, 0, &inst);
    EXPECT_EQ(fake_.starts.back().pan, 64u);
    EXPECT_EQ(Ch(fake_.starts.back().channel)->priority, 6);
    SFX_StopSample(0);
    inst.scene = nullptr;
    SFX_PlaySound3D(0, 0, 0, &inst);
    EXPECT_EQ(Ch(fake_.starts.back().channel)->priority, 6);
}

// ---------------------------------------------------------------- per frame

TEST_F(GameSoundTest, FrameUpdateEndsFinishedAndStoppedChannels) {
    Start(
        "[Sounds]\n1\n0\n  5 200 NULL 0 0 0 0\n  5 200 SFX_LOOP 0 0 0 0\n  5 200 SFX_AUTOFREE 0 0 0 0\n"
        "  5 200 SFX_TOBECONTINUED 0 0 0 0\n");
    for (int id : {0, 1, 2, 3, -7}) Sample(id, 1000);
    SFX_PlaySound(Module(), 10, 0, -1);                  // channel 0
    SFX_PlaySound(Module(), 11, 1, -1);                  // 1: loops
    SFX_PlaySound(Module(), 12, 2, -1);                  // 2: freed when it ends
    SFX_PlaySound(Module(), 13, 3, -1);                  // 3: continued
    SFX_PlaySample(Module(), 14, -7, 0, 0, 100, 5, 64);  // 4: negative ids are freed too
    EXPECT_TRUE(Ch(1)->flags & 1);
    EXPECT_EQ(Ch(1)->endTime, 0);

    // Channel 0's buffer stops early: it ends before its time.
    fake_.stopped.insert(0);
    SFX_VBI();
    EXPECT_EQ(Answers(), (AnswerList{{10, 1}}));
    EXPECT_EQ(Ch(0)->priority, 0);

    // The rest reach their end time; the continued one plays on.
    fake_.continues = true;
    size_t startsBefore = fake_.starts.size();
    Advance(1001);
    SFX_VBI();
    EXPECT_EQ(Answers(), (AnswerList{{12, 1}, {14, 1}}));
    EXPECT_EQ(fake_.starts.size(), startsBefore + 1);
    EXPECT_EQ(fake_.starts.back().channel, 3);
    EXPECT_EQ(Ch(3)->handle, 13);
    EXPECT_EQ(Ch(2)->sampleId, 0);
    EXPECT_EQ(SFX_FindEffect(2)->sample, nullptr);
    // A continuation that fails ends and frees the sample.
    fake_.continues = false;
    Advance(1001);
    SFX_VBI();
    EXPECT_EQ(Answers(), (AnswerList{{13, 1}}));
    EXPECT_EQ(SFX_FindEffect(3)->sample, nullptr);

    // The loop never ends by itself; a stop ends it.
    Advance(100000);
    SFX_VBI();
    EXPECT_TRUE(Answers().empty());
    EXPECT_EQ(SFX_FindSample(1), 1);
    EXPECT_EQ(SFX_StopSample(1), 1);
    EXPECT_EQ(Answers(), (AnswerList{{11, 1}}));
    EXPECT_EQ(SFX_FindSample(1), 0);
    LogCapture log;
    EXPECT_EQ(SFX_StopSample(1), 0);
    EXPECT_TRUE(log.Contains("SFX_StopSample() failed stopping sample 1\n"));
    EXPECT_EQ(SFX_StopSoundChannel(5, 1), 0);
    EXPECT_TRUE(log.Contains("SFX_StopSoundChannel() failed stopping sample 1 channel 5\n"));

    // The end of a story answers and frees what still plays.
    SFX_PlaySound(Module(), 15, 1, -1);
    SFX_ReleaseSounds();
    EXPECT_EQ(Answers(), (AnswerList{{15, 1}}));
    EXPECT_EQ(SFX_FindEffect(1)->sample, nullptr);
}

// ---------------------------------------------------------------- engine calls

class SoundCallTest : public GameSoundTest {
protected:
    // Calls number `call` with integer arguments. The answer given at once
    // ("now"), or through the module's callback before the handler returned,
    // or none ("wait").
    std::string Call(int32_t call, std::vector<int32_t> args = {}) {
        SysCallRunner caller(runner_.ctx());
        std::vector<ScriptValue> values;
        for (int32_t a : args) values.push_back(SysCallRunner::Int(a));
        others_.clear();
        runner_.answers.clear();
        ++sys_.gameClock;  // a fresh log budget for each call
        SE_Task* task = caller.task();
        task->answered = 0;
        task->callResult = ScriptValue{};
        SFX_SysCall(Module(), task, call, static_cast<int32_t>(values.size()), values.data());
        for (ScriptValue& v : values) SV_Release(&v);
        std::string later;
        for (const RunAnswer& a : runner_.answers) {
            if (a.callerNumber != task->id) {
                others_.push_back({a.callerNumber, a.n});
                continue;
            }
            EXPECT_TRUE(later.empty()) << "answered twice";
            later = "later " + std::to_string(a.n);
        }
        runner_.answers.clear();
        if (!later.empty()) return later;
        if (task->answered) return "now " + std::to_string(task->callResult.i);
        lastWaiting_ = task->id;
        return "wait";
    }
    std::vector<std::pair<uint32_t, int32_t>> others_;  // answers to earlier callers
    uint32_t lastWaiting_ = 0;
};

TEST_F(SoundCallTest, EveryCallAnswersAsItShould) {
    Start("[Sounds]\n1\n0\n  5 200 SFX_AUTOFREE 0 0 0 0\n  5 200 NULL 0 0 0 0\n");
    Sample(0, 2500);
    Sample(1, 100);
    sys_.fxVolume = 40;
    sys_.voiceVolume = 30;
    LogCapture log;
    const struct {
        int32_t call;
        std::vector<int32_t> args;
        const char* answer;
    } cases[] = {
        {0, {0}, "later 1"},
        {0, {77}, "later 0"},
        {10, {0}, "now 107"},
        {18, {0}, "later 2"},
        {19, {0}, "later 500"},
        {18, {77}, "later 0"},
        {1, {0, 0, 0, 100, 5, 64}, "wait"},
        {12, {0}, "now 1"},
        {11, {0}, "now 1"},
        {12, {0}, "now 0"},
        {13, {1}, "now 0"},
        {2, {1}, "wait"},
        {2, {1250}, "later 0"},
        {3, {1, 99}, "now 0"},
        {4, {}, "later 1"},
        {4, {}, "later 2"},
        {21, {0x4b5}, "now 2"},
        {16, {2, 7}, "later 1"},
        {17, {2}, "later 7"},
        {17, {9}, "later 0"},
        {5, {2}, "later 1"},
        {5, {3}, "later 0"},
        {6, {}, "now 1"},
        {7, {2}, "now 1"},
        {7, {2}, "now 0"},
        {21, {0x4b5}, "now 1"},
        {21, {0x4b1}, "now 0"},
        {21, {0x4b4}, "now 10"},
        {21, {0x4b6}, "now 1"},
        {21, {0x123}, "now 0"},
        {8, {90}, "now 1"},
        {30, {}, "now 90"},
        {9, {120}, "now 1"},
        {29, {}, "now 120"},
        {14, {150}, "now 1"},
        {15, {}, "now 150"},
        {31, {}, "now 30"},
        {37, {60}, "now 0"},
        {31, {}, "now 60"},
        {20, {}, "later 0"},
        {22, {5}, "later 1"},
        {23, {}, "later 5"},
        {33, {0x55}, "now 0"},
        {32, {}, "now 85"},
        {34, {}, "now 44"},
        {35, {49}, "now 0"},
        {34, {}, "now 49"},
        {36, {33}, "now 33"},
        {36, {34}, "now 0"},
        {36, {7}, "now 7"},
        {38, {3}, "now 0"},
        {39, {2, 3}, "now 0"},
        {26, {100}, "now 1"},
        {27, {}, "now 0"},
        {28, {1}, "now 0"},
        {25, {1}, "later 0"},
        {24, {}, "later 1"},
        {40, {}, "now 0"},
        {-1, {}, "now 0"},
    };
    for (const auto& c : cases) EXPECT_EQ(Call(c.call, c.args), c.answer) << "call " << c.call;
    EXPECT_EQ(g_SoundState->volume, 90u);
    EXPECT_EQ(g_SoundState->flags & 0x8c0u, SFX_MUSIC_SOUNDTRACK);
    EXPECT_TRUE(log.Contains("SFX_ExportPrivateInfo(): Wrong EXP_ID: 0123\n"));
    EXPECT_TRUE(log.Contains("MOD: error mod not found\n"));
    EXPECT_TRUE(log.Contains("SFX_SysCall: ("));
    EXPECT_TRUE(log.Contains(") Undefined System Call 40\n"));
    for (int i = 0; i < 40; ++i) EXPECT_NE(SFX_GetCallNames()[i], nullptr) << i;
    EXPECT_EQ(SFX_GetCallNames()[40], nullptr);
    // No task: nothing to answer and nothing read.
    for (int32_t call : {0, 2, 40}) EXPECT_EQ(SFX_SysCall(Module(), nullptr, call, 0, nullptr), 0) << call;

    // Eleven music modules do not fit in ten slots.
    for (int i = 0; i < 9; ++i) Call(4);
    EXPECT_EQ(Call(4), "later 0");
    EXPECT_TRUE(log.Contains("to many mods loaded\n"));
}

TEST_F(SoundCallTest, AudioOffRefusesVolumesAndMusic) {
    Start("", SOUND_FLAG_NO_CD);
    const struct {
        int32_t call;
        std::vector<int32_t> args;
        const char* answer;
    } cases[] = {{4, {}, "later 1"}, {5, {1}, "later 0"}, {6, {}, "now 0"},        {8, {5}, "now 0"},
                 {14, {5}, "now 0"}, {15, {}, "now 0"},   {16, {1, 2}, "later 0"}, {17, {1}, "later 0"}};
    for (const auto& c : cases) EXPECT_EQ(Call(c.call, c.args), c.answer) << "call " << c.call;
}

TEST_F(SoundCallTest, CompactDiscTrackAnswersWhenItEnds) {
    MciSeamDrive drive;
    drive.letter = 'd';
    drive.cdrom = true;
    drive.tracks = {MCI_MAKE_MSF(1, 0, 0), MCI_MAKE_MSF(2, 30, 5)};
    Mci_Seam().drives = {drive};
    sys_.cdReferenceTrackLength = 531513;
    S_AttachMainWindow();
    Start("", SOUND_FLAG_SEARCH_CD);
    auto pump = [] {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            if (GetMessageA(&msg, nullptr, 0, 0) <= 0) break;
            S_WindowProc(msg.hwnd, msg.message, msg.wParam, msg.lParam);
        }
    };
    EXPECT_EQ(Call(27), "now 2");
    EXPECT_EQ(Call(25, {2}), "wait");
    const uint32_t first = lastWaiting_;
    // A second track answers the first request.
    EXPECT_EQ(Call(25, {1}), "wait");
    EXPECT_EQ(others_, (AnswerList{{first, 1}}));
    EXPECT_EQ(static_cast<uint32_t>(g_SfxState->cdHandle), lastWaiting_);
    ASSERT_TRUE(Mci_SeamFinishPlay());
    pump();
    EXPECT_EQ(Answers(), (AnswerList{{lastWaiting_, 1}}));
    EXPECT_EQ(g_SfxState->cdModule, 0);
    // A track that cannot start answers 0.
    Mci_Seam().failPlay = true;
    EXPECT_EQ(Call(25, {1}), "later 0");
    S_CloseCDAudio();
    S_DetachMainWindow();
}

// ---------------------------------------------------------------- save section

TEST_F(GameSoundTest, SaveSectionHoldsTheWaitingCallersAndLoadingAnswersThem) {
    Start("[Sounds]\n1\n0\n  5 200 NULL 0 0 0 0\n");
    Sample(0, 10);
    SFX_PlaySample(Module(), 21, 0, 0, 0, 100, 5, 64);  // channel 0
    SFX_PlaySample(Module(), 22, 0, 0, 0, 100, 7, 64);  // channel 1
    Ch(5)->priority = -3;                               // sign-extended into its word
    Ch(5)->module = 77;                                 // no such module
    Ch(5)->handle = 23;
    g_SfxState->dummy->priority = 2;
    g_SfxState->dummy->module = Module();
    g_SfxState->dummy->handle = 24;

    QelFile* f = Qel_fopen("sfx.sav", "wb", 0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(SFX_SaveGame(f), 1);
    Qel_fclose(f);
    std::vector<uint8_t> bytes = folder_.Read("sfx.sav");
    ASSERT_EQ(bytes.size(), 400u);
    std::vector<uint8_t> golden(400, 0);
    auto put = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) golden[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    };
    golden[0] = 'S', golden[1] = 'F', golden[2] = 'X', golden[3] = ' ';
    const uint32_t m = static_cast<uint32_t>(Module());
    put(4, 5), put(8, m), put(12, 21);
    put(16, 7), put(20, m), put(24, 22);
    put(64, 0xFFFFFFFDu), put(68, 77), put(72, 23);
    put(388, 2), put(392, m), put(396, 24);
    EXPECT_EQ(bytes, golden);

    // Loading answers every waiting task of a known module with 1.
    SFX_Exit();
    Answers();
    ASSERT_NE(SFX_Init(), nullptr);
    LogCapture log;
    f = Qel_fopen("sfx.sav", "rb", 0);
    EXPECT_EQ(SFX_LoadGame(f), 1);
    Qel_fclose(f);
    EXPECT_EQ(Answers(), (AnswerList{{21, 1}, {22, 1}, {24, 1}}));
    EXPECT_TRUE(log.Contains("unknown module 77"));
    for (int i = 0; i < SFX_CHANNELS; ++i) EXPECT_EQ(Ch(i)->priority, 0);

    folder_.Write("bad.sav", "SFXX");
    f = Qel_fopen("bad.sav", "rb", 0);
    EXPECT_EQ(SFX_LoadGame(f), 0);
    Qel_fclose(f);
    EXPECT_TRUE(log.Contains("SFX_LoadGame: Wrong SFX cookie\n"));
}

}  // namespace

namespace {

// The real sound layer on the loopback device: a sound whose buffer has
// played out ends before its time.
TEST_F(GameSoundTest, PlayedOutBufferEndsTheSoundOnTheDevice) {
    g_SfxSoundLink = savedLink_;
    DSound_Seam().loopback = true;
    Start("[Sounds]\n1\n0\n  5 255 NULL 0 0 0 0\n");
    Sample(0, 100);
    EXPECT_EQ(SFX_PlaySound(Module(), 31, 0, -1), 1);
    EXPECT_EQ(S_ChannelIsPlaying(0), 1);
    SFX_VBI();
    EXPECT_TRUE(Answers().empty());
    std::vector<int16_t> out(2 * 441);
    for (int i = 0; i < 30; ++i) DSound_SeamRender(out.data(), 441);  // 300 ms
    EXPECT_EQ(S_ChannelIsPlaying(0), 0);
    SFX_VBI();
    EXPECT_EQ(Answers(), (AnswerList{{31, 1}}));
}

}  // namespace
