// How objects look and what hangs on them: videos started from the types
// database, the group's logos, the lights of specials, colours, rows and
// corners of instances, and the tractor beam between two objects.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/texanim.h"
#include "scene/allocs.h"
#include "scene/bodyrecord.h"
#include "scene/geometry.h"
#include "scene/lists.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "space/create.h"
#include "space/cutscene.h"
#include "space/kill.h"
#include "space/space_fixture.h"

namespace {

constexpr int32_t kLogo = 700;
constexpr int32_t kPlain = 701;

std::vector<std::string>& MovieCalls() {
    static std::vector<std::string> calls;
    return calls;
}
int Loaded(int) { return 1; }
int Open(int) { return 1; }
int Connect(int movie, int texture) {
    MovieCalls().push_back("connect " + std::to_string(movie) + " " + std::to_string(texture));
    return 1;
}
void Play(int movie, int a, int b, int c, int d, int e, int f) {
    std::string call = "play " + std::to_string(movie);
    for (int v : {a, b, c, d, e, f}) call += " " + std::to_string(v);
    MovieCalls().push_back(call);
}

class SpaceLooks : public SpaceTest {
protected:
    void SetUp() override {
        SpaceTest::SetUp();
        for (int32_t id : {30, 265, 214, 475, 10680, kLogo, kPlain}) B3D_StoreBody(id, &body_);
        savedMovies_ = g_TCMovieCalls;
        MovieCalls().clear();
    }
    void TearDown() override {
        g_TCMovieCalls = savedMovies_;
        g_TypeDB.videos = nullptr;
        g_TypeDB.videoCount = 0;
        g_TypeDB.specialBodies[3] = nullptr;
        SA_FreeAllObjects(&root_);
        SpaceTest::TearDown();
    }
    static std::vector<Inst3D*> Children(Inst3D* parent) {
        std::vector<Inst3D*> out;
        for (Inst3D* c = B3D_First<Inst3D>(&parent->children); c; c = B3D_Next(c)) out.push_back(c);
        return out;
    }
    static Inst3D* Child(Inst3D* parent, int32_t body) {
        Inst3D* c = B3D_AllocInst();
        B3D_InstSetBody(c, body);
        B3D_InstAddToInst(c, parent);
        return c;
    }

    Body3D body_{};

private:
    TC_MovieCalls savedMovies_{};
};

TEST_F(SpaceLooks, VideosStartOnTheirChannelWithTheRecordsTimes) {
    SA_VideoRecord videos[2] = {{1, {5, 0, 0, 0}, 41, {0, 1, 141}, {0, 9, 959}},
                                {2, {0, 7, 8, 0}, 42, {1, 2, 3}, {4, 5, 6}}};
    g_TypeDB.videos = videos;
    g_TypeDB.videoCount = 2;
    g_TCMovieCalls = TC_MovieCalls{Loaded, Open, Connect, nullptr, Play, nullptr, nullptr};
    EXPECT_EQ(SA_StartVideo(7, 90), 1);
    EXPECT_EQ(MovieCalls(), (std::vector<std::string>{"connect 42 90", "play 42 1 2 3 4 5 6"}));
    MovieCalls().clear();
    EXPECT_EQ(SA_StartVideo(8, 3), -1);  // 8 comes after another id of its record
    EXPECT_EQ(SA_StartVideo(99, 3), -1);
    EXPECT_TRUE(MovieCalls().empty());
}

TEST_F(SpaceLooks, AFactoryJoiningThePlayersGroupCoversItsLogos) {
    int32_t logos[] = {1, kLogo};
    g_TypeDB.specialBodies[3] = logos;
    SectorObject* factory = New(SA_MT_FACTORY);
    Inst3D* part = Child(factory->instance, kPlain);
    Inst3D* logo = Child(part, kLogo);  // deeper in the tree
    SectorObject* ship = New(SA_MT_SHIP);
    Inst3D* shipLogo = Child(ship->instance, kLogo);
    O_SetGroup(3, factory);
    EXPECT_EQ(factory->group, 3);
    EXPECT_EQ(logo->bodyId, kLogo);
    O_SetGroup(10, factory);
    O_SetGroup(10, ship);
    EXPECT_EQ(factory->group, 10);
    EXPECT_EQ(logo->bodyId, 475);
    EXPECT_NE(logo->flags & INST_HIDDEN, 0u);
    EXPECT_EQ(part->bodyId, kPlain);
    EXPECT_EQ(part->flags & INST_HIDDEN, 0u);
    EXPECT_EQ(shipLogo->bodyId, kLogo);  // only factories
}

TEST_F(SpaceLooks, SpecialsLightUpByState) {
    SectorObject* special = New(SA_MT_SPECIAL, 1);
    B3D_InstSetSize(special->instance, 8 * QEL_FIX_ONE);
    struct Case {
        int32_t state;
        int32_t body;
    } cases[] = {{1, 30}, {2, 265}, {5, 214}, {1, 30}};
    Inst3D* right = nullptr;
    for (const Case& c : cases) {
        O_SetSpecialState(special, c.state);
        EXPECT_EQ(O_SpecialData(special)->state, c.state);
        const std::vector<Inst3D*> lights = Children(special->instance);
        ASSERT_EQ(lights.size(), 2u) << c.state;
        if (!right) right = lights[0];
        EXPECT_EQ(lights[0], right) << "a change of state keeps the instances";
        EXPECT_EQ(lights[0]->bodyId, c.body);
        EXPECT_EQ(lights[1]->bodyId, c.body);
        EXPECT_EQ(lights[0]->pos.x, 0x12000);
        EXPECT_EQ(lights[1]->pos.x, -73728);
        EXPECT_EQ(lights[0]->size, QEL_FIX_ONE);
    }
    O_SetSpecialState(special, 0);
    EXPECT_TRUE(Children(special->instance).empty());
    EXPECT_EQ(special->instance2, nullptr);
    // One freed from elsewhere is made again, not followed.
    O_SetSpecialState(special, 1);
    B3D_InstFree(special->instance2);
    O_SetSpecialState(special, 2);
    EXPECT_EQ(Children(special->instance).size(), 2u);
    // Other specials and other objects are not touched.
    for (SectorObject* other : {New(SA_MT_SPECIAL, 2), New(SA_MT_SHIP, 1)}) {
        O_SetSpecialState(other, 1);
        EXPECT_TRUE(Children(other->instance).empty());
    }
}

TEST_F(SpaceLooks, ColoursGoOnEveryInstanceOfTheObject) {
    SectorObject* sun = New(SA_MT_SUN);
    SectorObject* planet = New(SA_MT_PLANET);
    O_SetColours(sun, 10, 20, 30);
    O_SetColours(planet, 255, 128, 1);
    for (Inst3D* inst : {sun->instance, static_cast<SunData*>(sun->typeData)->glow[0],
                         static_cast<SunData*>(sun->typeData)->glow[1]}) {
        EXPECT_EQ(inst->lightColor[0], 10);
        EXPECT_EQ(inst->lightColor[2], 30);
    }
    EXPECT_EQ(static_cast<PlanetData*>(planet->typeData)->extra->lightColor[1], 128);
    EXPECT_EQ(static_cast<PlanetData*>(planet->typeData)->colour, 0xFF8001);
    O_SetColours(nullptr, 1, 2, 3);
}

TEST_F(SpaceLooks, RowsAndCornersOfInstances) {
    Inst3D* parent = B3D_AllocInst();
    EXPECT_EQ(O_CreateInstanceRow(parent, kPlain, 3, 2, 500), 3);
    const std::vector<Inst3D*> row = Children(parent);
    ASSERT_EQ(row.size(), 3u);
    EXPECT_EQ(row[2]->pos.z, 1000);
    EXPECT_EQ(row[2]->pos.x, 0);
    EXPECT_EQ(O_CreateInstanceRow(parent, kPlain, 3, 3, 500), 0);  // no such axis
    EXPECT_EQ(O_CreateInstanceRow(parent, 9999, 3, 0, 500), 0);    // no such body
    EXPECT_EQ(Children(parent).size(), 3u);
    B3D_InstFree(parent);

    SectorObject* station = New(SA_MT_DOCK);
    B3D_InstSetSize(station->instance, 2 * QEL_FIX_ONE);
    EXPECT_EQ(O_CreateCornerInstances(station, kPlain, 1), 4);
    const std::vector<Inst3D*> corners = Children(station->instance);
    ASSERT_EQ(corners.size(), 4u);
    EXPECT_EQ(corners[0]->pos.x, 2 * QEL_FIX_ONE);
    EXPECT_EQ(corners[1]->pos.x, -2 * QEL_FIX_ONE);
    EXPECT_EQ(corners[2]->pos.z, -2 * QEL_FIX_ONE);
    EXPECT_EQ(corners[3]->pos.y, 2 * (63569 - 18162));
    EXPECT_EQ(corners[3]->scale.x, 15000);
}

TEST_F(SpaceLooks, TractorBeamLinksHeldAndSource) {
    SectorObject* crate = New(SA_MT_WARE_FIRST);
    SectorObject* tug = New(SA_MT_SHIP);
    SectorObject* other = New(SA_MT_SHIP);
    crate->instance->pos = QelVector{3000, 4000, 0, 0};
    EXPECT_EQ(O_LinkObjects(crate, tug, 1, 2, 3), 1);
    EXPECT_EQ(crate->tractorSource, tug);
    EXPECT_EQ(tug->tractorHeld, crate);
    EXPECT_EQ(crate->tractorDistance, 5000);
    EXPECT_EQ(O_ShipData(tug)->SpeedLimit, 40000);
    EXPECT_EQ(O_ShipData(tug)->holdOffset.z, 3);
    ASSERT_EQ(Children(crate->instance).size(), 1u);
    EXPECT_EQ(Children(crate->instance)[0]->bodyId, 10680);
    // Held by another: the first source lets go; still one beam.
    EXPECT_EQ(O_LinkObjects(crate, other, 0, 0, 0), 1);
    EXPECT_EQ(tug->tractorHeld, nullptr);
    EXPECT_EQ(other->tractorHeld, crate);
    EXPECT_EQ(Children(crate->instance).size(), 1u);
    // A source that leaves play leaves no reference behind.
    SS_KillObject(other, 14, nullptr, 0);
    EXPECT_EQ(crate->tractorSource, nullptr);
    for (auto [held, source] : {std::pair{crate, crate}, std::pair{crate, static_cast<SectorObject*>(nullptr)},
                                std::pair{static_cast<SectorObject*>(nullptr), tug}})
        EXPECT_EQ(O_LinkObjects(held, source, 0, 0, 0), 0);
}

}  // namespace
