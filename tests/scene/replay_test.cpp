// The replay: a scripted scene recorded and played back into a fresh state
// shows the same scenes, instances, lights, cameras and generators frame by
// frame; frames play in step with the game clock, at most one per draw;
// "REND", the end of the stream and an unknown cookie free exactly what the
// replay made; a second start stops the first; a bad header fails the start.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/strings.h"
#include "scene/caches.h"
#include "scene/geometry.h"
#include "scene/instcoll.h"
#include "scene/state.h"
#include "scene/bodyrecord.h"
#include "scene/names.h"
#include "scene/recording_fixture.h"
#include "scene/smallops.h"
#include "scene/takes.h"
#include "scene/texdraw.h"
#include "scene/trees.h"
#include "support/logcapture.h"
#include "tools/lib/bodyconv.h"

namespace {

constexpr int32_t ONE = 0x10000;
const char* const kTriangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";

void Words(std::ostringstream& o, const int32_t* w, int n) {
    for (int i = 0; i < n; ++i) o << ' ' << w[i];
}

void Rows(std::ostringstream& o, const QelMatrix& m) {
    for (int r = 0; r < 3; ++r) Words(o, m.m + r * 4, 3);
}

void DescribeInst(std::ostringstream& o, const Inst3D* i, int depth) {
    o << std::string(static_cast<size_t>(depth), ' ') << (i->flags & INST_LIGHT ? "L" : "I");
    Words(o, &i->pos.x, 3);
    Rows(o, i->matrix);
    Words(o, i->velocity, 3);
    o << " d" << i->detailValue << '/' << i->detailBase << " f" << (i->flags & ~INST_IN_RENDERER) << '/' << i->flags2
      << " b" << i->bodyId << " s" << i->size;
    Words(o, &i->scale.x, 3);
    o << " sw" << i->detailSwitch << " u" << i->usedSize << " c" << i->lightColor[0] << ',' << i->lightColor[1] << ','
      << i->lightColor[2];
    Words(o, i->lightAtten, 3);
    o << " e" << i->overrideEffect << " r" << i->lightRange;
    Words(o, i->extraWords, 2);
    o << " [" << (i->name ? i->name : "-") << "]\n";
    for (const Inst3D* c = B3D_First<Inst3D>(&i->children); c; c = B3D_Next(c)) DescribeInst(o, c, depth + 1);
}

// Everything recorded, without ids: enabled scenes in list order with their
// instance trees and active cameras, then the generators with the index of
// their scene (not their clocks: a replay's generators step on its own game
// clock).
std::string Describe() {
    std::ostringstream o;
    std::vector<const Scene3D*> order;
    for (const Scene3D* s = B3D_First<Scene3D>(&g_B3DState->scenes); s; s = B3D_Next(s)) {
        if (!(s->flags & SCENE_ENABLED)) continue;
        order.push_back(s);
        o << "S" << s->flags << ' ' << static_cast<int32_t>(s->systemScale * 65536.0f) << " ["
          << (s->name ? s->name : "-") << "]\n";
        for (const Inst3D* i = B3D_First<Inst3D>(&s->insts); i; i = B3D_Next(i)) DescribeInst(o, i, 1);
        for (const Camera3D* c = B3D_First<Camera3D>(&s->cameras); c; c = B3D_Next(c)) {
            if (!(c->camFlags & CAM_ACTIVE)) continue;
            int32_t vp[4];
            B3D_CameraGetViewPort(c, vp);
            o << " C";
            Words(o, &c->inst.pos.x, 3);
            Rows(o, c->inst.matrix);
            o << " p" << c->priority << " f" << c->camFlags << " r" << c->roll;
            Words(o, vp, 4);
            o << " F" << c->focus;
            Words(o, c->background, 3);
            Words(o, c->ones, 3);
            Rows(o, c->inst.worldMatrix);
            Words(o, c->aspect, 2);
            o << " [" << (c->inst.name ? c->inst.name : "-") << "]\n";
        }
    }
    for (const auto* g = B3D_First<ParticleGenerator>(&g_B3DState->generators); g; g = B3D_Next(g)) {
        int scene = -1;
        for (size_t k = 0; k < order.size(); ++k)
            if (order[k] == g->scene) scene = static_cast<int>(k);
        o << "G" << g->desc;
        Words(o, &g->offset.x, 3);
        Rows(o, g->matrix);
        o << " i" << g->intensity;
        Words(o, &g->prevPos.x, 3);
        Words(o, &g->prevVelocity.x, 3);
        Words(o, &g->prevOrientation.w, 4);
        o << " s" << scene;
        o << '\n';
    }
    return o.str();
}

class ReplayTest : public RecordingTest {
protected:
    void TearDown() override {
        B3D_ExitReplay();
        J3D_FreeCutEntry();  // the bodies of the script
        RecordingTest::TearDown();
    }
    // Records a scripted scene for `frames` frames, 100 ms apart from real
    // time 1000; each frame's description is kept.
    void RecordScript(int frames) {
        Desc(2, 2);
        Scene3D* deck = Scene("deck");
        Scene3D* other = Scene();
        deck->systemScale = 0.5f;
        std::string body, error;
        ASSERT_TRUE(Tool_ModelToTextBody(kTriangle, &body, &error)) << error;
        folder_->Write("v/00011.bod", body);
        folder_->Write("v/00012.bod", body);
        Inst3D* ship = Inst(deck);
        ASSERT_EQ(B3D_InstSetBody(ship, 11), 1);
        ship->name = Qel_StrReassign(ship->name, "ship");
        ship->size = 3 * ONE;
        Inst3D* turret = Inst(deck, ship);
        Inst3D* light = Inst(deck, nullptr, true);
        B3D_InstEnable(light);  // as the replay's light, in the renderer
        Inst3D* drifter = Inst(other);
        Camera3D* cam = Camera(deck);
        ParticleGenerator* gen = Generator(deck, 2);
        ASSERT_EQ(B3D_GetBodyID("v\\ship"), 20000);
        system_->realClock = 1000;
        ASSERT_EQ(B3D_InitRecording("take"), 1);
        for (int k = 1; k <= frames; ++k) {
            B3D_InstSetPos(ship, k * ONE, -k, 2 * k);
            B3D_MatrixFromAngles(turret, k * 1000, 0, 0);
            ship->velocity[2] = 10 * k;
            if (k == 2) {
                ASSERT_EQ(B3D_InstSetBody(ship, 12), 1);
                B3D_InstSetScale(ship, 2 * ONE, ONE, ONE);
                turret->flags |= INST_HIDDEN;
                turret->flags2 = 0x20;
                light->lightColor[0] = 255;
                light->lightColor[2] = 0xFFFF;
                light->lightAtten[1] = ONE / 3;
                light->lightRange = 500 * ONE;
                B3D_CameraSetViewPort(cam, 1, 2, 3, 4);
                B3D_CameraSetAspect(cam, ONE, 2 * ONE);
                cam->inst.name = Qel_StrDup("eye");
                deck->flags |= 0x100;
                gen->emitters[0].lastSpawn = 1234;
            }
            if (k == 3) {
                ASSERT_EQ(B3D_GetCutID("cut\\later"), 50000);  // a name block in this frame
                B3D_InstFree(drifter);
                B3D_InstDeleteFromScene(light);  // leaves: deleted in the replay
                B3D_CameraSetPri(cam, 25);
                B3D_CameraSetFocus(cam, 0x3000);
                gen->intensity = ONE / 4;
                gen->prevOrientation = {0, ONE, 0, 0};
            }
            if (k == 4) {
                B3D_InstAddToScene(light, deck);  // comes back
                other->flags &= ~SCENE_ENABLED;
                Inst3D* late = Inst(deck, turret);
                late->usedSize = 77;
                late->overrideEffect = -3;
                late->extraWords[1] = 9;
                FreeGenerator(gen);
                gen = nullptr;
            }
            if (k == 5) {
                cam->roll = 0x1234;
                B3D_CameraSetBackgroundColor(cam, 10, 20, 30);
                Qel_MatFromAngles(&cam->inst.worldMatrix, 0, 2000, 0);
                ship->detailValue = 3;
                ship->detailBase = 4;
                ship->detailSwitch = 5;
            }
            // Texture records between frames: the replay reads them field by
            // field (no texture is there to draw into) and stays in step.
            const int16_t stretch[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
            const int16_t text[8] = {3, 0, 1, 2, 40, 0x7FFF, 0, 5};
            B3D_TexRecord("RTRS", stretch, 10);
            B3D_TexRecord("RTTX", text, 8, "hello", 5);
            system_->realClock = 1000 + 100 * k;
            B3D_RecordFrame();
            recorded_.push_back(Describe());
        }
        B3D_ExitRecording();
        J3D_FreeCutEntry();
        Restart();
        Desc(2, 2);
    }
    // The replay's frame draw at game time t.
    std::string Draw(int32_t t) {
        system_->gameClock = t;
        B3D_ReplayFrame();
        return Describe();
    }
    // The file with its last four bytes replaced (or cut when empty).
    void Rewrite(const std::string& name, const std::string& lastCookie) {
        std::vector<uint8_t> bytes = rec::Inflate(folder_->Path() + "/take.rec");
        ASSERT_GE(bytes.size(), 4u);
        bytes.erase(bytes.end() - 4, bytes.end());
        bytes.insert(bytes.end(), lastCookie.begin(), lastCookie.end());
        folder_->WriteBytes(name + ".rec", bytes);  // plain: the reader takes either
    }
    uint32_t Count(QelTable* t) { return Qel_TableGetCount(t); }

    std::vector<std::string> recorded_;
};

TEST_F(ReplayTest, PlaysTheSameSceneFrameByFrame) {
    constexpr int kFrames = 6;
    RecordScript(kFrames);
    const std::string empty = Describe();
    LogCapture log;
    system_->gameClock = 5000;
    ASSERT_EQ(B3D_ReplayRecording("take", 1, 2, 3, 4, 5), 1);
    EXPECT_TRUE(log.Contains("B3D_ReplayRecording(take, 1, 00000002, 00000003, 00000004, 00000005) Start\n"));
    EXPECT_TRUE(log.Contains("B3D_ReplayRecording() Record file version 1\n"));
    EXPECT_EQ(B3D_GetEngineFlags() & B3D_ENGINE_REPLAYING, B3D_ENGINE_REPLAYING);
    // The names came with the recording.
    EXPECT_EQ(B3D_GetBodyFilename(20000, 1), "v\\ship");
    EXPECT_EQ(Draw(5000), empty) << "the header's frame holds nothing";
    // The last frame is followed by "REND", which ends the replay in the same
    // draw.
    for (int k = 1; k < kFrames; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(Draw(5000 + 100 * k), recorded_[static_cast<size_t>(k - 1)]);
        EXPECT_EQ(B3D_GetCutFilename(50000, 1), k < 3 ? "" : "cut\\later");
        // The clock stands: the next frame is not due.
        EXPECT_EQ(Draw(5000 + 100 * k), recorded_[static_cast<size_t>(k - 1)]);
    }
    Draw(5000 + 100 * kFrames);
    EXPECT_TRUE(log.Contains("B3D_ExitReplay() Stopping Replay\n"));
    EXPECT_EQ(B3D_GetEngineFlags() & B3D_ENGINE_REPLAYING, 0u);
    EXPECT_EQ(Describe(), empty);
}

TEST_F(ReplayTest, AtMostOneFramePerDraw) {
    RecordScript(4);
    system_->gameClock = 32399950;  // the clock wraps during the replay
    ASSERT_EQ(B3D_ReplayRecording("take", 0, 0, 0, 0, 0), 1);
    Draw(32399950);
    EXPECT_EQ(Draw(50 + 1000), recorded_[0]) << "three frames are due; one plays";
    EXPECT_EQ(Draw(50 + 1000), recorded_[1]);
    EXPECT_EQ(Draw(50 + 1000), recorded_[2]);
}

// Whatever the replay made goes with it, and nothing else does.
TEST_F(ReplayTest, EndsFreeExactlyWhatTheReplayMade) {
    RecordScript(4);
    Rewrite("cut", "");         // the stream ends after the last frame
    Rewrite("odd", "XY\x01Z");  // an unknown cookie in its place
    struct Case {
        const char* file;
        const char* line;
    };
    for (const Case& c :
         {Case{"take", "B3D_ExitReplay() Stopping Replay\n"}, Case{"cut", "B3D_ExitReplay() Stopping Replay\n"},
          Case{"odd", "Unknown cookie 5859015a found.\n"}}) {
        SCOPED_TRACE(c.file);
        // The game's own scene and instances stay.
        Scene3D* own = Scene("own");
        Inst3D* mine = Inst(own);
        Camera(own);
        B3D_AllocInst();  // in no scene
        const std::string before = Describe();
        const uint32_t insts = Count(g_B3DState->instTable), scenes = Count(g_B3DState->sceneTable);
        const int32_t poolI = g_B3DState->poolIBytes;
        LogCapture log;
        system_->gameClock = 100;
        ASSERT_EQ(B3D_ReplayRecording(c.file, 0, 0, 0, 0, 0), 1);
        for (int k = 0; k <= 3; ++k) Draw(100 + 100 * k);
        EXPECT_NE(Describe(), before);
        EXPECT_EQ(B3D_GetEngineFlags() & B3D_ENGINE_REPLAYING, B3D_ENGINE_REPLAYING);
        Draw(1000);
        EXPECT_TRUE(log.Contains(c.line));
        EXPECT_EQ(B3D_GetEngineFlags() & B3D_ENGINE_REPLAYING, 0u);
        EXPECT_EQ(Describe(), before);
        EXPECT_EQ(Count(g_B3DState->instTable), insts);
        EXPECT_EQ(Count(g_B3DState->sceneTable), scenes);
        EXPECT_EQ(g_B3DState->poolIBytes, poolI);
        EXPECT_EQ(B3D_InstFind(mine->id), mine);
        J3D_FreeCutEntry();
        Restart();
        Desc(2, 2);
    }
}

TEST_F(ReplayTest, SecondStartStopsTheFirst) {
    RecordScript(2);
    const int32_t poolI = g_B3DState->poolIBytes;
    const std::string empty = Describe();
    ASSERT_EQ(B3D_ReplayRecording("take", 0, 0, 0, 0, 0), 1);
    Draw(5000);
    ASSERT_EQ(Draw(5100), recorded_[0]);
    LogCapture log;
    ASSERT_EQ(B3D_ReplayRecording("take", 0, 0, 0, 0, 0), 1);
    EXPECT_TRUE(log.Contains("B3D_ExitReplay() Stopping Replay\n"));
    EXPECT_EQ(Describe(), empty) << "the first replay's objects went";
    Draw(5100);
    EXPECT_EQ(Draw(5200), recorded_[0]);
    EXPECT_EQ(B3D_CallExitReplay(), 0);
    EXPECT_EQ(g_B3DState->poolIBytes, poolI);
}

TEST_F(ReplayTest, BadHeaderFailsTheStart) {
    struct Case {
        const char* name;
        std::string bytes;
        const char* line;
    };
    const std::string names(8, '\0');
    const std::vector<Case> cases = {
        {"a", "RECX", "B3D_ReplayRecording(a) Wrong cookie, expected RECO\n"},
        {"b", std::string("RECO\0\0\0\1\0\0\0\0RFRA", 16), "B3D_ReplayRecording(b) Wrong cookie, expected RNAM\n"},
        {"c", std::string("RECO\0\0\0\1\0\0\0\0RNAM", 16) + names + "RFRX",
         "B3D_ReplayRecording(c) Wrong cookie, expected RFRA\n"},
        {"d", std::string("RECO\0\0\0\1\0\0\0\0RNAM", 16) + names + "RFRA", "expected RFRA"},
    };
    const int32_t poolI = g_B3DState->poolIBytes;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        folder_->WriteBytes(std::string(c.name) + ".rec", std::vector<uint8_t>(c.bytes.begin(), c.bytes.end()));
        LogCapture log;
        EXPECT_EQ(B3D_ReplayRecording(c.name, 0, 0, 0, 0, 0), 0);
        EXPECT_TRUE(log.Contains(c.line)) << log.Text();
        EXPECT_EQ(B3D_GetEngineFlags() & B3D_ENGINE_REPLAYING, 0u);
        EXPECT_EQ(g_B3DState->poolIBytes, poolI);
    }
    EXPECT_EQ(B3D_ReplayRecording("missing", 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(B3D_GetEngineFlags() & B3D_ENGINE_REPLAYING, 0u);
}

TEST_F(ReplayTest, RecordsOfVanishedObjectsAreSkipped) {
    RecordScript(3);
    const std::string empty = Describe();
    const int32_t poolI = g_B3DState->poolIBytes;
    ASSERT_EQ(B3D_ReplayRecording("take", 0, 0, 0, 0, 0), 1);
    Draw(5000);
    Draw(5100);
    // A script frees the replayed ship and its scene.
    Scene3D* deck = B3D_First<Scene3D>(&g_B3DState->scenes);
    ASSERT_NE(deck, nullptr);
    Inst3D* ship = B3D_First<Inst3D>(&deck->insts);
    ASSERT_NE(ship, nullptr);
    B3D_InstFree(ship);
    system_->debugFlags = B3D_REPLAY_TRACE;
    LogCapture log;
    Draw(5200);
    EXPECT_TRUE(log.Contains("found, but I3D has been destroyed!")) << log.Text();
    Draw(5300);
    B3D_ExitReplay();
    EXPECT_EQ(Describe(), empty);
    EXPECT_EQ(g_B3DState->poolIBytes, poolI);
}

// The kind of a live record is its own: an instance record whose flags carry
// the camera bit stays an instance (and is freed as one). A record of id 0 is
// read and skipped.
TEST_F(ReplayTest, RecordedFlagsNeverChangeTheKindOfRecord) {
    auto u = [](std::string& b, std::initializer_list<uint32_t> words) {
        for (uint32_t w : words)
            for (int k = 24; k >= 0; k -= 8) b.push_back(static_cast<char>(w >> k));
    };
    std::string b = "RECO";
    u(b, {1, 0});
    b += "RNAM";
    u(b, {0, 0});
    b += "RFRA";
    u(b, {0});
    b += "RSCE";
    u(b, {0, B3D_REC_FIRST | 0x1, SCENE_ENABLED});  // id 0 names nothing: skipped
    b += "RSCE";
    u(b, {1, B3D_REC_FIRST | 0x1, SCENE_ENABLED});
    b += "RINS";
    u(b, {2, B3D_REC_FIRST | 0x204, 1, INST_CAMERA | INST_HIDDEN});
    b += "RFRA";
    u(b, {100});
    b += "REND";
    folder_->WriteBytes("odd.rec", std::vector<uint8_t>(b.begin(), b.end()));
    const int32_t poolI = g_B3DState->poolIBytes;
    system_->gameClock = 0;
    ASSERT_EQ(B3D_ReplayRecording("odd", 0, 0, 0, 0, 0), 1);
    Draw(0);
    ASSERT_EQ(B3D_ListCount(&g_B3DState->scenes), 1);
    Scene3D* scene = B3D_First<Scene3D>(&g_B3DState->scenes);
    Inst3D* inst = B3D_First<Inst3D>(&scene->insts);
    ASSERT_NE(inst, nullptr);
    EXPECT_EQ(inst->flags, INST_HIDDEN);
    Draw(100);
    EXPECT_EQ(B3D_GetEngineFlags() & B3D_ENGINE_REPLAYING, 0u);
    EXPECT_EQ(g_B3DState->poolIBytes, poolI);
}

// The replay's generators emit on the game clock as they move from record to
// record; instances recorded with a collision model get it built again (or
// lose the flag when their body gives none); the location reset then frees
// the bodies too.
TEST_F(ReplayTest, GeneratorsEmitAndCollisionModelsAreRebuilt) {
    auto emitter = [this] {
        Desc(2, 1);
        B3DParticleEmitter& e = g_B3DState->particleDescs[2].emitters[0];
        e.sizeLow = e.sizeHigh = ONE;
        e.speedLow = e.speedHigh = 100 * ONE;  // one particle every 10 ms
        e.intervalFactor = ONE;
        e.lifetime = 10000;
    };
    emitter();
    std::string body, error;
    ASSERT_TRUE(Tool_ModelToTextBody(kTriangle, &body, &error)) << error;
    folder_->Write("v/00011.bod", body);
    Scene3D* deck = Scene("deck");
    Camera(deck);
    Inst3D* solid = Inst(deck);
    ASSERT_EQ(B3D_InstSetBody(solid, 11), 1);
    ASSERT_EQ(B3D_CollBuildModel(solid, 0), 1);
    Inst3D* lost = Inst(deck);
    lost->flags |= INST_COLLISION_MODEL;  // no body
    ParticleGenerator* gen = Generator(deck, 2);
    system_->realClock = 1000;
    ASSERT_EQ(B3D_InitRecording("take"), 1);
    for (int k = 1; k <= 4; ++k) {  // the fourth is never played: its "REND" would end the replay
        gen->prevPos.x = 10 * k * ONE;
        gen->prevTime = 1000 + 100 * k;
        system_->realClock = 1000 + 100 * k;
        B3D_RecordFrame();
    }
    B3D_ExitRecording();
    J3D_FreeCutEntry();
    Restart();
    emitter();

    system_->gameClock = 5000;
    ASSERT_EQ(B3D_ReplayRecording("take", 0, 0, 0, 0, 0), 1);
    Draw(5000);
    Draw(5100);  // the generator appears
    EXPECT_TRUE(B3D_ListIsEmpty(&g_B3DState->particleLive));
    Draw(5200);
    Draw(5300);
    int particles = 0;
    for (const auto* p = B3D_First<B3DParticle>(&g_B3DState->particleLive); p; p = B3D_Next(p), ++particles) {
        EXPECT_GE(p->time, 5100);
        EXPECT_LE(p->time, 5300);
    }
    EXPECT_GE(particles, 15);
    EXPECT_LE(particles, 20);

    Scene3D* live = B3D_First<Scene3D>(&g_B3DState->scenes);
    ASSERT_NE(live, nullptr);
    int solids = 0, bare = 0;
    for (const Inst3D* i = B3D_First<Inst3D>(&live->insts); i; i = B3D_Next(i)) {
        if (i->bodyId == 11) {
            ++solids;
            EXPECT_TRUE(i->flags & INST_COLLISION_MODEL);
        } else {
            ++bare;
            EXPECT_FALSE(i->flags & INST_COLLISION_MODEL);
        }
    }
    EXPECT_EQ(solids, 1);
    EXPECT_EQ(bare, 1);
    auto* model = static_cast<Body3D*>(B3D_FindBody(11));
    ASSERT_NE(model, nullptr);
    EXPECT_NE(model->collModel, nullptr);

    B3D_ExitReplay();
    B3D_ReplayFreeAll();
    EXPECT_TRUE(B3D_ListIsEmpty(&g_B3DState->bodies));
}

TEST_F(ReplayTest, LocationResetFreesScenesInstancesAndTakes) {
    Scene3D* scene = Scene("a");
    Inst(scene, Inst(scene));
    Camera(scene);
    Scene3D* flare = Scene("flare");
    Camera(flare);
    g_B3DState->lensFlareScene = flare;
    B3D_AllocInst();
    B3D_CameraAlloc();
    J3D_Take* take = J3D_TakeAlloc();
    take->instCount = 3;
    take->insts = static_cast<Inst3D**>(B3D_AllocMemJ(3 * sizeof(Inst3D*), B3D_MEM_ZERO));
    g_B3DState->shadowAlpha = 17;
    B3D_ReplayFreeAll();
    EXPECT_TRUE(B3D_ListIsEmpty(&g_B3DState->scenes));
    EXPECT_TRUE(B3D_ListIsEmpty(&g_B3DState->freeInsts));
    EXPECT_EQ(g_B3DState->lensFlareScene, nullptr);
    EXPECT_EQ(Count(g_B3DState->instTable), 0u);
    EXPECT_EQ(Count(g_B3DState->sceneTable), 0u);
    EXPECT_EQ(Count(g_B3DState->takeTable), 0u);
    EXPECT_EQ(g_B3DState->poolIBytes, 0);
    EXPECT_EQ(g_B3DState->poolJBytes, 0);
    EXPECT_EQ(g_B3DState->shadowAlpha, 200);
}

}  // namespace
