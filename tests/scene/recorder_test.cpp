// The recorder: the file header and name block, first records, change masks
// frame by frame, deletions of everything not written in a frame, particle
// generators, texture records only while recording, and a failed write that
// stops the recording.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <ctime>
#include <map>
#include <set>
#include <string>

#include "base/strings.h"
#include "scene/geometry.h"
#include "scene/idnames.h"
#include "scene/names.h"
#include "scene/smallops.h"
#include "scene/texdraw.h"
#include "scene/recording_fixture.h"
#include "support/logcapture.h"

namespace {

using rec::Record;

constexpr uint32_t kFirst = B3D_REC_FIRST;
constexpr uint32_t kDeleted = B3D_REC_DELETED;
constexpr int32_t ONE = 0x10000;

TEST_F(RecordingTest, HeaderHoldsVersionDateNamesAndTheFirstFrameTime) {
    ASSERT_GT(B3D_GetBodyID("v\\ship.bod"), 0);  // dynamic body 20000
    ASSERT_GT(B3D_GetBodyID("v\\station"), 0);
    ASSERT_GT(B3D_GetCutID("cut\\intro.cut"), 0);
    const uint32_t before = static_cast<uint32_t>(std::time(nullptr));
    system_->realClock = 4321;
    LogCapture log;
    ASSERT_EQ(B3D_InitRecording("take"), 1);
    EXPECT_TRUE(log.Contains("B3D_InitRecording() Start Recording\n"));
    EXPECT_EQ(B3D_GetEngineFlags() & B3D_ENGINE_RECORDING, B3D_ENGINE_RECORDING);
    B3D_ExitRecording();
    EXPECT_TRUE(log.Contains("B3D_ExitRecording() Stopping Recording\n"));
    EXPECT_EQ(B3D_GetEngineFlags() & B3D_ENGINE_RECORDING, 0u);

    const rec::Recording r = Decoded();
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.magic, "RECO");
    EXPECT_EQ(r.version, 1u);
    EXPECT_GE(r.date, before);
    EXPECT_LE(r.date, before + 5);
    EXPECT_EQ(r.names.bodies, (std::vector<std::string>{"v\\ship", "v\\station"}));
    EXPECT_EQ(r.names.cuts, std::vector<std::string>{"cut\\intro"});
    ASSERT_EQ(r.frames.size(), 1u);
    EXPECT_EQ(r.frames[0].time, 4321u);
    EXPECT_TRUE(r.frames[0].records.empty());
    EXPECT_TRUE(r.ended);
}

TEST_F(RecordingTest, FirstRecordsOfInstanceLightAndCamera) {
    Scene3D* scene = Scene("deck");
    Inst3D* inst = Inst(scene);
    B3D_InstSetPos(inst, 0, 0, 0);
    Inst3D* light = Inst(scene, nullptr, true);
    light->lightColor[0] = 0xFFFF;  // -1 sign-extended
    light->lightColor[1] = 200;
    Camera3D* cam = Camera(scene);
    Scene3D* flare = Scene("flare");  // never recorded
    Inst(flare);
    Camera(flare);
    g_B3DState->lensFlareScene = flare;
    ASSERT_EQ(B3D_InitRecording("take"), 1);
    Frame(1100);
    B3D_ExitRecording();

    const rec::Recording r = Decoded();
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.frames.size(), 2u);
    const rec::Frame& f = r.frames[1];
    EXPECT_EQ(f.time, 1100u);
    // Scene, instance, light, camera: in the walk's order; nothing of the
    // lens-flare scene.
    ASSERT_EQ(f.records.size(), 4u);
    EXPECT_EQ(f.records[0].tag, "RSCE");
    EXPECT_EQ(f.records[0].mask, kFirst | 0x1 | 0x2 | 0x4);
    EXPECT_EQ(f.records[0].F(0x1), std::vector<int32_t>{SCENE_ENABLED});
    EXPECT_EQ(f.records[0].F(0x2), std::vector<int32_t>{655});  // 0.01 x 65536, truncated
    EXPECT_EQ(f.records[0].name, "deck");

    const Record& i = f.records[1];
    EXPECT_EQ(i.tag, "RINS");
    EXPECT_EQ(i.id, inst->id);
    EXPECT_EQ(i.mask & 0xF0000000, kFirst);
    EXPECT_FALSE(i.mask & 0x8) << "a zero position is not written";
    EXPECT_FALSE(i.mask & 0x2) << "no parent";
    EXPECT_EQ(i.F(0x4), std::vector<int32_t>{static_cast<int32_t>(scene->id)});
    EXPECT_EQ(i.F(0x10), (std::vector<int32_t>{ONE, 0, 0, 0, ONE, 0, 0, 0, ONE}));
    EXPECT_EQ(i.F(0x400), std::vector<int32_t>{-1});
    EXPECT_EQ(i.F(0x40000), (std::vector<int32_t>{ONE, ONE, ONE}));

    const Record& l = f.records[2];
    EXPECT_EQ(l.id, light->id);
    EXPECT_EQ(l.mask & 0xF0000000, kFirst | B3D_REC_LIGHT);
    EXPECT_EQ(l.F(0x2000), (std::vector<int32_t>{-1, 200, 0}));
    EXPECT_EQ(l.F(0x20), std::vector<int32_t>{-1});

    const Record& c = f.records[3];
    EXPECT_EQ(c.tag, "RCAM");
    EXPECT_EQ(c.id, cam->inst.id);
    EXPECT_EQ(c.mask & 0xF000000F & ~0x7u, kFirst | 0x8) << "the priority comes even when it is 0";
    EXPECT_EQ(c.F(0x8), std::vector<int32_t>{0});
    EXPECT_EQ(c.F(0x40), (std::vector<int32_t>{0, ONE, 0, ONE}));
    EXPECT_EQ(c.F(0x80), std::vector<int32_t>{0x4000});
    EXPECT_EQ(c.F(0x400), (std::vector<int32_t>{ONE, ONE, ONE}));
    EXPECT_FALSE(c.mask & 0x200) << "no name";
}

TEST_F(RecordingTest, LaterFramesHoldOnlyWhatChanged) {
    Scene3D* scene = Scene();
    Inst3D* still = Inst(scene);
    Inst3D* moving = Inst(scene);
    Inst3D* child = Inst(scene, moving);
    Camera3D* cam = Camera(scene);
    ASSERT_EQ(B3D_InitRecording("take"), 1);
    Frame(1100);
    Frame(1200);  // nothing changed
    B3D_InstSetPos(moving, 5, -6, 7);
    moving->bodyId = 12;  // a new body: the size follows, unchanged as it is
    child->name = Qel_StrDup("nose");
    B3D_CameraSetPri(cam, 40);
    Frame(1300);
    B3D_ExitRecording();

    const rec::Recording r = Decoded();
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.frames.size(), 4u);
    const rec::Frame& quiet = r.frames[2];
    ASSERT_EQ(quiet.records.size(), 1u) << "the scene's record alone";
    EXPECT_EQ(quiet.records[0].tag, "RSCE");
    EXPECT_EQ(quiet.records[0].id, scene->id);
    EXPECT_EQ(quiet.records[0].mask, 0u);

    const rec::Frame& f = r.frames[3];
    EXPECT_TRUE(f.Of("RINS", still->id).empty());
    const auto m = f.Of("RINS", moving->id);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].mask, 0x8u | 0x400 | 0x20);
    EXPECT_EQ(m[0].F(0x8), (std::vector<int32_t>{5, -6, 7}));
    EXPECT_EQ(m[0].F(0x400), std::vector<int32_t>{12});
    EXPECT_EQ(m[0].F(0x20), std::vector<int32_t>{0});
    const auto c = f.Of("RINS", child->id);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].mask, 0x20000u);
    EXPECT_EQ(c[0].name, "nose");
    const auto k = f.Of("RCAM");
    ASSERT_EQ(k.size(), 1u);
    EXPECT_EQ(k[0].mask, 0x8u);
    EXPECT_EQ(k[0].F(0x8), std::vector<int32_t>{40});
    // Depth first: the child right after its parent.
    size_t pm = 0, pc = 0;
    for (size_t n = 0; n < f.records.size(); ++n) {
        if (f.records[n].id == moving->id) pm = n;
        if (f.records[n].id == child->id) pc = n;
    }
    EXPECT_EQ(pc, pm + 1);
}

// Whatever is not written in a frame is deleted in it, and comes back as a
// first record with every non-zero field.
TEST_F(RecordingTest, EverythingNotWrittenInAFrameIsDeleted) {
    Scene3D* a = Scene();
    Scene3D* b = Scene();
    Inst3D* freed = Inst(a);
    Inst3D* moved = Inst(a);
    B3D_InstSetPos(moved, 3, 0, 0);
    Inst3D* inB = Inst(b);
    Camera3D* camA = Camera(a);
    Camera3D* camB = Camera(b);
    ASSERT_EQ(B3D_InitRecording("take"), 1);
    Frame(1100);
    const uint32_t freedId = freed->id;
    B3D_InstFree(freed);
    B3D_InstDeleteFromScene(moved);  // out of its scene, not freed
    camA->camFlags &= ~CAM_ACTIVE;   // switched off
    b->flags &= ~SCENE_ENABLED;      // the scene, its instance and its camera
    Frame(1200);
    PutInScene(a, moved);
    camA->camFlags |= CAM_ACTIVE;
    Frame(1300);
    B3D_ExitRecording();

    const rec::Recording r = Decoded();
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.frames.size(), 4u);
    const rec::Frame& f = r.frames[2];
    std::map<std::string, std::set<uint32_t>> deleted;
    for (const Record& x : f.records)
        if (x.mask == kDeleted) deleted[x.tag].insert(x.id);
    EXPECT_EQ(deleted["RSCE"], std::set<uint32_t>{b->id});
    EXPECT_EQ(deleted["RINS"], (std::set<uint32_t>{freedId, moved->id, inB->id}));
    EXPECT_EQ(deleted["RCAM"], (std::set<uint32_t>{camA->inst.id, camB->inst.id}));
    // Scene a still writes its record; b no more.
    EXPECT_EQ(f.Of("RSCE", a->id).size(), 1u);

    const rec::Frame& back = r.frames[3];
    const auto m = back.Of("RINS", moved->id);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].mask & 0xF0000000, kFirst);
    EXPECT_EQ(m[0].F(0x8), (std::vector<int32_t>{3, 0, 0}));
    const auto c = back.Of("RCAM", camA->inst.id);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].mask & 0xF0000008, kFirst | 0x8);
    EXPECT_TRUE(back.Of("RSCE", b->id).empty());
}

TEST_F(RecordingTest, GeneratorsWriteEveryFrameWithTheirEmitters) {
    Scene3D* scene = Scene();
    Desc(3, 2);
    ParticleGenerator* g = Generator(scene, 3);
    g->offset = {1, 2, 3, 0};
    g->intensity = ONE / 2;
    g->prevTime = 777;
    g->prevOrientation = {ONE, 0, 0, 0};
    g->emitters[0].lastSpawn = 10;
    g->emitters[1].lastSpawn = 20;
    ASSERT_EQ(B3D_InitRecording("take"), 1);
    Frame(1100);
    Frame(1200);
    g->emitters[1].lastSpawn = 30;
    Frame(1300);
    const uint32_t id = g->id;
    FreeGenerator(g);
    Frame(1400);
    B3D_ExitRecording();

    const rec::Recording r = Decoded();
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.frames.size(), 5u);
    const auto first = r.frames[1].Of("RPGE");
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].id, id);
    EXPECT_EQ(first[0].mask, kFirst | 0x200 | 0x1 | 0x2 | 0x4 | 0x8 | 0x40 | 0x80 | 0x100);
    EXPECT_EQ(first[0].F(0x200), std::vector<int32_t>{3});
    EXPECT_EQ(first[0].F(0x1), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(first[0].F(0x40), (std::vector<int32_t>{ONE, 0, 0, 0}));
    EXPECT_EQ(first[0].F(0x80), std::vector<int32_t>{static_cast<int32_t>(scene->id)});
    EXPECT_EQ(first[0].F(0x100), (std::vector<int32_t>{2, 10, 20}));
    const auto quiet = r.frames[2].Of("RPGE");
    ASSERT_EQ(quiet.size(), 1u) << "a generator writes its record even without a change";
    EXPECT_EQ(quiet[0].mask, 0u);
    const auto spawn = r.frames[3].Of("RPGE");
    ASSERT_EQ(spawn.size(), 1u);
    EXPECT_EQ(spawn[0].mask, 0x100u);
    EXPECT_EQ(spawn[0].F(0x100), (std::vector<int32_t>{2, 10, 30}));
    const auto gone = r.frames[4].Of("RPGE");
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_EQ(gone[0].mask, kDeleted);
}

TEST_F(RecordingTest, NameBlockLengthsAreModulo256AndNewNamesComeInTheFrame) {
    const std::string n256(256, 'a'), n300(300, 'b');
    ASSERT_EQ(B3D_GetBodyID(n256.c_str()), 20000);
    ASSERT_EQ(B3D_GetBodyID(n300.c_str()), 20001);
    ASSERT_EQ(B3D_InitRecording("take"), 1);
    Frame(1100);
    ASSERT_EQ(B3D_GetCutID("cut\\later"), 50000);
    Frame(1200);
    Frame(1300);
    B3D_ExitRecording();

    const rec::Recording r = Decoded();
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.names.bodyLengths, (std::vector<int>{0, 44}));
    EXPECT_EQ(r.names.bodies[1], std::string(44, 'b'));
    ASSERT_EQ(r.frames.size(), 4u);
    EXPECT_TRUE(r.frames[1].names.empty());
    ASSERT_EQ(r.frames[2].names.size(), 1u);
    EXPECT_EQ(r.frames[2].names[0].cuts, std::vector<std::string>{"cut\\later"});
    EXPECT_TRUE(r.frames[3].names.empty());
}

TEST_F(RecordingTest, TextureRecordsOnlyWhileRecording) {
    const int16_t fields[4] = {7, 1, 2, 0x7FFF};
    B3D_SetEngineFlags(B3D_ENGINE_RECORDING);  // the flag alone writes nothing
    B3D_TexRecord("RTSP", fields, 4);
    B3D_ClearEngineFlags(B3D_ENGINE_RECORDING);
    ASSERT_EQ(B3D_InitRecording("take"), 1);
    B3D_TexRecord("RTSP", fields, 4);  // in the header's frame
    Frame(1100);
    B3D_TexRecord("RTTX", fields, 4 - 1, "hi", 2);
    B3D_ExitRecording();
    B3D_TexRecord("RTSP", fields, 4);
    B3D_SetEngineFlags(B3D_ENGINE_RECORDING);
    B3D_TexRecord("RTSP", fields, 4);  // the writer went with the recording

    std::vector<uint8_t> bytes = rec::Inflate(folder_->Path() + "/take.rec");
    const std::string all(bytes.begin(), bytes.end());
    size_t count = 0;
    for (size_t p = all.find("RTSP"); p != std::string::npos; p = all.find("RTSP", p + 1)) ++count;
    EXPECT_EQ(count, 1u);
    const size_t frame1 = all.find("RFRA", all.find("RFRA") + 1);
    const size_t sp = all.find("RTSP");
    EXPECT_LT(all.find("RFRA"), sp);
    EXPECT_LT(sp, frame1);
    EXPECT_EQ(all.substr(sp, 12), std::string("RTSP\x00\x07\x00\x01\x00\x02\x7f\xff", 12));
    EXPECT_NE(all.find(std::string("RTTX\x00\x07\x00\x01\x00\x02hi", 12)), std::string::npos);
    EXPECT_EQ(all.substr(all.size() - 4), "REND");
}

TEST_F(RecordingTest, FailedOpenLeavesNoRecording) {
    LogCapture log;
    EXPECT_EQ(B3D_InitRecording("no/such/folder/take"), 0);
    EXPECT_TRUE(log.Contains("B3D_InitRecording() Unable to open file\n"));
    EXPECT_EQ(B3D_GetEngineFlags() & B3D_ENGINE_RECORDING, 0u);
    B3D_FailNextAllocations(1);
    EXPECT_EQ(B3D_InitRecording("take"), 0);
    EXPECT_TRUE(log.Contains("B3D_InitRecording() Unable to alloc Record struct\n"));
    EXPECT_EQ(g_B3DState->poolRBytes, 0);
}

// A full disk stops the recording with its line, instead of going on into a
// file that silently misses frames.
TEST_F(RecordingTest, FailedWriteStopsTheRecording) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    ASSERT_EQ(symlink("/dev/full", "full.rec"), 0);
    Scene3D* scene = Scene();
    Inst(scene);
    LogCapture log;
    EXPECT_EQ(B3D_InitRecording("full"), 0);
    EXPECT_TRUE(log.Contains("B3D_RecordFrame() Write failed, recording stopped\n"));
    EXPECT_EQ(B3D_GetEngineFlags() & B3D_ENGINE_RECORDING, 0u);
    EXPECT_EQ(g_B3DState->poolRBytes, 0);
    B3D_RecordFrame();  // nothing runs
    const int16_t fields[4] = {1, 2, 3, 4};
    B3D_TexRecord("RTSP", fields, 4);
}

TEST_F(RecordingTest, EngineCallsStartOnlyWhenNothingRuns) {
    B3D_SetEngineFlags(B3D_ENGINE_REPLAYING);
    EXPECT_EQ(B3D_CallInitRecording("take"), 0);
    B3D_ClearEngineFlags(B3D_ENGINE_REPLAYING);
    EXPECT_EQ(B3D_CallInitRecording("take"), 1);
    EXPECT_EQ(B3D_CallInitRecording("other"), 0);
    EXPECT_FALSE(folder_->Exists("other.rec"));
    EXPECT_EQ(B3D_CallExitRecording(), 0);
    EXPECT_EQ(B3D_GetEngineFlags() & B3D_ENGINE_RECORDING, 0u);
    EXPECT_TRUE(Decoded().ended);
    EXPECT_EQ(g_B3DState->poolRBytes, 0);
}

// Without a copy a scene is written with its id and mask only and an
// instance not at all; both come whole once a copy can be had.
TEST_F(RecordingTest, ObjectsWithoutACopy) {
    Scene3D* scene = Scene("deck");
    Inst3D* inst = Inst(scene);
    ASSERT_EQ(B3D_InitRecording("take"), 1);
    LogCapture log;
    B3D_FailNextAllocations(2);
    Frame(1100);
    const std::string text = log.Text();
    const size_t first = text.find("B3D_ReAllocMemR() failed to allocate ");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(text.find("B3D_ReAllocMemR() failed to allocate ", first + 1), std::string::npos);
    Frame(1200);
    B3D_ExitRecording();

    const rec::Recording r = Decoded();
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.frames.size(), 3u);
    ASSERT_EQ(r.frames[1].records.size(), 1u);
    EXPECT_EQ(r.frames[1].records[0].tag, "RSCE");
    EXPECT_EQ(r.frames[1].records[0].mask, kFirst);
    const auto s = r.frames[2].Of("RSCE");
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].mask, kFirst | 0x1 | 0x2 | 0x4);
    const auto i = r.frames[2].Of("RINS", inst->id);
    ASSERT_EQ(i.size(), 1u);
    EXPECT_EQ(i[0].mask & 0xF0000000, kFirst);
}

// A file that can grow no more (the process's file size limit here, a full
// disk in the field) stops the recording in the frame that hits it; what was
// written before still reads, up to the last whole frame.
TEST_F(RecordingTest, WriteFailingMidwayStopsTheRecording) {
    Scene3D* scene = Scene();
    Inst3D* inst = Inst(scene);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*savedSignal)(int) = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    LogCapture log;
    ASSERT_EQ(B3D_InitRecording("take"), 1);
    uint32_t seed = 1;
    int frames = 0;
    while (frames < 1000 && (B3D_GetEngineFlags() & B3D_ENGINE_RECORDING)) {
        // A name no compression can shrink.
        std::string name(200, ' ');
        for (char& c : name) {
            seed = seed * 1103515245u + 12345u;
            c = static_cast<char>('A' + (seed >> 16) % 50);
        }
        inst->name = Qel_StrReassign(inst->name, name.c_str());
        Frame(1100 + 100 * frames++);
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedSignal);
    EXPECT_GT(frames, 2);
    EXPECT_LT(frames, 1000);
    EXPECT_TRUE(log.Contains("B3D_RecordFrame() Write failed, recording stopped\n"));
    EXPECT_EQ(B3D_GetEngineFlags() & B3D_ENGINE_RECORDING, 0u);
    EXPECT_EQ(g_B3DState->poolRBytes, 0);
    B3D_ExitRecording();  // nothing runs: no "REND" is added

    const rec::Recording r = Decoded();
    EXPECT_FALSE(r.ended);
    ASSERT_GE(r.frames.size(), 2u);
    EXPECT_LE(r.frames.size(), static_cast<size_t>(frames) + 1);  // the header's frame and the frames drawn
    EXPECT_EQ(r.frames[1].Of("RINS", inst->id).size(), 1u);
}

}  // namespace
