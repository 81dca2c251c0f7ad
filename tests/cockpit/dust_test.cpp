#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "cockpit/dust.h"
#include "cockpit_fixture.h"
#include "scene/allocs.h"
#include "scene/caches.h"
#include "scene/body_fixture.h"
#include "scene/drawing.h"
#include "scene/framedraw.h"
#include "scene/geometry.h"
#include "scene/lists.h"
#include "space/records.h"
#include "space/typesdb.h"
#include "support/logcapture.h"
#include "tools/lib/bodyconv.h"

namespace {

constexpr int32_t kRock = 4001, kIce = 4002;

class DustTest : public CockpitTest {
protected:
    void SetUp() override {
        CockpitTest::SetUp();
        bodies_ = std::make_unique<BodyFolder>();
        std::string text, error;
        ASSERT_TRUE(Tool_ModelToTextBody("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", &text, &error)) << error;
        for (int id : {kRock, kIce}) bodies_->WriteBody(id, text);
        scene_ = B3D_SceneAlloc();
        ASSERT_NE(scene_, nullptr);
        dust_ = B3D_CameraAlloc();
        sectorCamera_ = B3D_CameraAlloc();
        ASSERT_TRUE(dust_ && sectorCamera_);
        B3D_SceneLinkInst(scene_, dust_);
        bg_ = Types(SA_MT_BACKGROUND, 1);
        bg_->field[SA_TF_BG_STARDUST_DENSITY] = 100;
        sector_ = New(SA_MT_SECTOR);
        O_Sector(sector_)->backgroundType = 0;
    }
    void TearDown() override {
        B3D_SceneFree(scene_);
        B3D_CameraFree(sectorCamera_);
        SA_FreeAllObjects(&root_);
        bodies_.reset();
        CockpitTest::TearDown();
    }
    void Update() { INS_UpdateDustScene(sector_, dust_, sectorCamera_); }
    // Shown and hidden particles and larger bodies of the scene.
    struct Counts {
        int lights = 0, particles = 0, shownParticles = 0, larger = 0, shownLarger = 0;
    };
    Counts Count() const {
        Counts n;
        for (const Inst3D* i = B3D_First<Inst3D>(&scene_->insts); i; i = B3D_Next(i)) {
            const bool shown = !(i->flags & INST_INVISIBLE);
            if (i->flags & INST_LIGHT) ++n.lights;
            else if (i->flags & INST_STRETCH) ++n.particles, n.shownParticles += shown;
            else ++n.larger, n.shownLarger += shown;
        }
        return n;
    }
    // A larger body already in the scene, asking for a new body.
    Inst3D* Larger(int32_t body) {
        Inst3D* inst = B3D_AllocInst();
        EXPECT_NE(inst, nullptr);
        EXPECT_EQ(B3D_InstSetBody(inst, body), 1);
        inst->flags |= INS_DUST_REBODY;
        B3D_InstAddToScene(inst, scene_);
        return inst;
    }

    std::unique_ptr<BodyFolder> bodies_;
    Scene3D* scene_ = nullptr;
    Camera3D* dust_ = nullptr;
    Camera3D* sectorCamera_ = nullptr;
    TypeRecord* bg_ = nullptr;
    SectorObject* sector_ = nullptr;
};

TEST_F(DustTest, TheSceneGetsALightAnd512ParticlesInsideOneSpan) {
    INS_InitDustScene(scene_);
    EXPECT_EQ(Count().lights, 1);
    EXPECT_EQ(Count().particles, INS_DUST_PARTICLES);
    EXPECT_EQ(Count().larger, 0);
    for (const Inst3D* i = B3D_First<Inst3D>(&scene_->insts); i; i = B3D_Next(i)) {
        if (i->flags & INST_LIGHT) {
            EXPECT_EQ(i->flags & INS_DUST_LIGHT_FLAGS, INS_DUST_LIGHT_FLAGS);
            EXPECT_EQ(i->lightRange, 1000000);
            continue;
        }
        EXPECT_EQ(i->flags & INS_DUST_PARTICLE_FLAGS, INS_DUST_PARTICLE_FLAGS);
        for (int32_t p : {i->pos.x, i->pos.y, i->pos.z}) {
            EXPECT_GE(p, 0);
            EXPECT_LT(p, INS_DUST_SPAN);
        }
    }
}

TEST_F(DustTest, TheParticleShareShowsThatPartOfTheParticles) {
    INS_InitDustScene(scene_);
    const struct { int32_t share, shown; } cases[] = {{0, 0}, {100, 512}, {50, 256}, {1, 5}, {250, 512}, {-5, 0}};
    for (const auto& c : cases) {
        bg_->field[SA_TF_BG_STARDUST_DENSITY] = c.share;
        Update();
        EXPECT_EQ(Count().shownParticles, c.shown) << c.share;
        EXPECT_EQ(Count().particles, INS_DUST_PARTICLES);
    }
}

TEST_F(DustTest, LargerBodiesFollowTheCountAndTheirWeights) {
    bg_->field[SA_TF_BG_DUSTS + 0] = kRock;
    bg_->field[SA_TF_BG_DUSTS + 3] = kIce;
    bg_->field[SA_TF_BG_DUST_RATES + 3] = 7;  // every pick is the ice
    Inst3D* old = Larger(kRock);
    bg_->field[SA_TF_BG_DUST_COUNT] = 3;
    Update();
    EXPECT_EQ(old->bodyId, kIce);
    EXPECT_EQ(Count().larger, 3);
    EXPECT_EQ(Count().shownLarger, 3);
    for (const Inst3D* i = B3D_First<Inst3D>(&scene_->insts); i; i = B3D_Next(i)) {
        EXPECT_EQ(i->bodyId, kIce);
        EXPECT_TRUE(i->flags & 0x10000000u);
        // Scaled by its size: the triangle's radius, 2/3 about its centre.
        EXPECT_NEAR(i->size, 43690, 8);
        for (int32_t s : {i->scale.x, i->scale.y, i->scale.z}) EXPECT_EQ(s, i->size);
        EXPECT_EQ(i->radius, B3D_FixMul(i->size, i->size));
    }
    EXPECT_TRUE(B3D_GetBody(kIce)->flags & BODY_KEEPD3D);
    // Fewer wanted: the rest are hidden, none freed.
    bg_->field[SA_TF_BG_DUST_COUNT] = 1;
    Update();
    EXPECT_EQ(Count().larger, 3);
    EXPECT_EQ(Count().shownLarger, 1);
}

// The count of larger bodies comes from the types file: past 512 the scene
// makes 512, once, and says so.
TEST_F(DustTest, TheCountOfLargerBodiesIsBounded) {
    bg_->field[SA_TF_BG_DUSTS + 0] = kRock;
    bg_->field[SA_TF_BG_DUST_RATES + 0] = 1;
    const struct {
        int32_t count, made;
        bool logged;
    } cases[] = {{40, 40, false}, {512, 512, false}, {513, 512, true}, {INT32_MAX, 512, true}, {-7, 0, false}};
    for (const auto& k : cases) {
        // A scene of its own for each count.
        B3D_SceneFree(scene_);
        scene_ = B3D_SceneAlloc();
        dust_ = B3D_CameraAlloc();
        B3D_SceneLinkInst(scene_, dust_);
        bg_->field[SA_TF_BG_DUST_COUNT] = k.count;
        LogCapture log;
        Update();
        Update();
        ASSERT_EQ(Count().larger, k.made) << k.count;
        EXPECT_EQ(Count().shownLarger, k.made) << k.count;
        const std::string line =
            "INS_UpdateDustScene() " + std::to_string(k.count) + " dust instances asked for, 512 made\n";
        const std::string text = log.Text();
        const size_t at = text.find(line);
        EXPECT_EQ(at != std::string::npos, k.logged) << text;
        if (at != std::string::npos) {
            EXPECT_EQ(text.find(line, at + 1), std::string::npos) << "logged twice";
        }
    }
}

TEST_F(DustTest, WeightsOfZeroNeverGiveANewBody) {
    bg_->field[SA_TF_BG_DUSTS + 0] = kIce;
    Inst3D* old = Larger(kRock);
    bg_->field[SA_TF_BG_DUST_COUNT] = 2;
    for (int i = 0; i < 3; ++i) Update();
    EXPECT_EQ(old->bodyId, kRock);
    EXPECT_EQ(Count().larger, 2);
    for (const Inst3D* i = B3D_First<Inst3D>(&scene_->insts); i; i = B3D_Next(i)) {
        if (i != old) {
            EXPECT_NE(i->bodyId, kIce);
        }
    }
}

TEST_F(DustTest, CameraPositionsOneSpanApartGiveTheSameDust) {
    Qel_MatFromAngles(&sectorCamera_->inst.matrix, 1000, 2000, 3000);
    sectorCamera_->inst.velocity[2] = 0x20000;
    const QelVector base{0x12345, -0x4321, 0x7ffff, 0};
    QelVector seen[3];
    const int32_t shifts[3] = {0, INS_DUST_SPAN, -3 * INS_DUST_SPAN};
    for (int k = 0; k < 3; ++k) {
        sectorCamera_->inst.pos = QelVector{base.x + shifts[k], base.y + shifts[k], base.z + shifts[k], 0};
        Update();
        seen[k] = dust_->inst.pos;
        for (int32_t p : {seen[k].x, seen[k].y, seen[k].z}) {
            EXPECT_GE(p, 0);
            EXPECT_LT(p, INS_DUST_SPAN);
        }
    }
    for (int k = 1; k < 3; ++k) {
        EXPECT_EQ(seen[k].x, seen[0].x);
        EXPECT_EQ(seen[k].y, seen[0].y);
        EXPECT_EQ(seen[k].z, seen[0].z);
    }
    EXPECT_EQ(std::memcmp(&dust_->inst.matrix, &sectorCamera_->inst.matrix, sizeof(QelMatrix)), 0);
    EXPECT_EQ(dust_->inst.velocity[2], 0x20000);
    EXPECT_TRUE(dust_->camFlags & CAM_MOTION_STRETCH);
    EXPECT_EQ(dust_->ones[0], 0);  // fast: past the end of the mapping
}

TEST_F(DustTest, NothingMovesWithoutASectorOrACamera) {
    sectorCamera_->inst.pos = QelVector{0x90000, 0, 0, 0};
    SectorObject* ship = Ship();
    INS_UpdateDustScene(ship, dust_, sectorCamera_);
    INS_UpdateDustScene(sector_, nullptr, sectorCamera_);
    INS_UpdateDustScene(sector_, dust_, nullptr);
    EXPECT_EQ(dust_->inst.pos.x, 0);
    Update();
    EXPECT_EQ(dust_->inst.pos.x, 0x10000);
}

}  // namespace
