// The detail switch with its distances, detail objects and debris steps; the
// placement setters; missile launch; the move of a laser into a ship.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/standin_calls.h"
#include "scene/allocs.h"
#include "scene/caches.h"
#include "scene/instcoll.h"
#include "scene/records.h"
#include "script/modules.h"
#include "scene/body_fixture.h"
#include "cockpit/cockpits.h"
#include "space/callnames.h"
#include "space/create.h"
#include "space/detail.h"
#include "space/queries.h"
#include "space/space_fixture.h"
#include "space/utility.h"
#include "support/script_run.h"
#include "tools/lib/bodyconv.h"

namespace {

constexpr int32_t kStoryObject = 77;

// Object 77 tells the test module every callback it gets, with its arguments.
std::string Story() {
    std::string s = "    end\n.object 77\n";
    const struct {
        const char* name;
        int args;
    } callbacks[] = {{"SelfDestruct", 1}, {"DetailSwitch", 1}, {"MissileLaunched", 1}, {"MissileAlert", 2}};
    for (const auto& c : callbacks) {
        s += ".func \"" + std::string(c.name) + "\" need 8\n";
        // Each push moves the locals one further down the stack.
        for (int k = c.args - 1; k >= 0; --k) s += "    getl " + std::to_string(3 + c.args) + "\n";
        s += "    pushs \"" + std::string(c.name) + "\"\n    pushw " + std::to_string(c.args + 1) +
             "\n    sys \"T_Now\"\n    ret\n";
    }
    return s;
}

class DetailTest : public SpaceStoryTest {
protected:
    void SetUp() override {
        SpaceStoryTest::SetUp();
        SetUpStory(Story());
        StandIn_ClearObjectCalls();
    }
    void TearDown() override {
        g_TypeDB.globals = nullptr;
        g_TypeDB.globalCount = 0;
        SpaceStoryTest::TearDown();
    }
    // The callbacks told so far, as "name arg ..." lines.
    std::vector<std::string> Told() const {
        std::vector<std::string> told;
        for (const RunCall& c : runner_->calls) {
            std::string line;
            for (std::string a : c.args) {
                if (a.size() >= 2 && a.front() == '\'' && a.back() == '\'') a = a.substr(1, a.size() - 2);
                line += (line.empty() ? "" : " ") + a;
            }
            told.push_back(line);
        }
        return told;
    }
    // A sector whose space scene has a camera at the origin.
    SectorObject* SectorWithCamera() {
        SectorObject* sector = New(SA_MT_SECTOR);
        Scene3D* scene = B3D_SceneAlloc();
        Camera3D* camera = B3D_CameraAlloc();
        B3D_SceneLinkInst(scene, camera);
        O_Sector(sector)->spaceScene = scene;
        return sector;
    }
    // A dock taking part in the detail switch, of size 1000, at (0, 0, z).
    SectorObject* Station(SectorObject* sector, int32_t z) {
        SectorObject* dock = New(SA_MT_DOCK);
        dock->flags2 |= SA_FLAG2_DETAIL;
        dock->size = 1000;
        dock->instance->pos = QelVector{0, 0, z, 0};
        Into(sector, dock);
        return dock;
    }
    void DetailDistance(int32_t value) {
        global_ = GlobalParameter{SA_GLOBAL_DETAIL_DISTANCE, value};
        g_TypeDB.globals = &global_;
        g_TypeDB.globalCount = 1;
    }
    static int32_t Id(const SectorObject* o) { return static_cast<int32_t>(o->id); }

    GlobalParameter global_{};
};

// A cut whose paths name the body 4001 (a ship type) with a position and a
// rotation key each; entered in the cut table for the test.
class DetailCut {
public:
    DetailCut(int32_t id, int32_t paths) : cut_(id, paths), rot_(static_cast<size_t>(paths)) {
        for (int32_t i = 0; i < paths; ++i) {
            cut_.Keys(i, {1000 * (i + 1)});
            cut_.path(i).reference = 4001;
            cut_.path(i).rotCount = 1;
            cut_.path(i).rotKeys = &rot_[static_cast<size_t>(i)];
        }
    }
    ~DetailCut() { cut_.Unload(); }
    TestCut& cut() { return cut_; }

private:
    TestCut cut_;
    std::vector<J3D_MotionKey> rot_;
};

TEST_F(DetailTest, TheSwitchFollowsTheCameraDistanceWithHysteresis) {
    SectorObject* sector = SectorWithCamera();
    struct Case {
        int32_t global;    // the detail distance (0: none)
        int32_t size;      // the object's size
        bool detailed;     // the state before
        int32_t distance;  // to the camera
        int32_t acted;     // the answer
        bool detailedAfter;
    } cases[] = {
        // Eight times the size to switch on, sixteen to switch off.
        {0, 1000, false, 7999, 1, true},
        {0, 1000, false, 8000, 0, false},
        {0, 1000, true, 15999, 0, true},
        {0, 1000, true, 16000, 1, false},
        {0, 1000, false, 0, 0, false},
        {0, 1000, true, 0, 1, false},
        // The detail distance once and twice.
        {5000, 0, false, 4999, 1, true},
        {5000, 0, false, 5000, 0, false},
        {5000, 0, true, 9999, 0, true},
        {5000, 0, true, 10000, 1, false},
        {5000, 100, true, 1599, 0, true},
    };
    for (const Case& c : cases) {
        DetailDistance(c.global);
        SectorObject* dock = Station(sector, c.distance);
        dock->size = c.size;
        if (c.detailed) {
            dock->flags2 |= SA_FLAG2_DETAILED;
            dock->instance->flags |= SA_DETAILED_INST_FLAGS;
        }
        EXPECT_EQ(O_DetailSwitch(dock, 0, 0), c.acted) << c.global << " " << c.distance;
        EXPECT_EQ((dock->flags2 & SA_FLAG2_DETAILED) != 0, c.detailedAfter) << c.global << " " << c.distance;
        EXPECT_EQ((dock->instance->flags & SA_DETAILED_INST_FLAGS) != 0, c.detailedAfter);
    }
    // Forced, the distance does not count; held, out of play or not switching, nothing.
    SectorObject* dock = Station(sector, 1000000);
    EXPECT_EQ(O_DetailSwitch(dock, 1, 1), 1);
    EXPECT_TRUE(dock->flags2 & SA_FLAG2_DETAILED);
    dock->flags2 |= SA_FLAG2_DETAIL_HELD;
    EXPECT_EQ(O_DetailSwitch(dock, 1, 0), 0);
    SectorObject* loose = New(SA_MT_DOCK);
    loose->flags2 |= SA_FLAG2_DETAIL;
    EXPECT_EQ(O_DetailSwitch(loose, 1, 1), 0);
    SectorObject* plain = Station(sector, 10);
    plain->flags2 &= ~SA_FLAG2_DETAIL;
    EXPECT_EQ(O_DetailSwitch(plain, 1, 1), 0);
}

TEST_F(DetailTest, DetailObjectsComeFromTheCutAndEndWithThePlainState) {
    Types(SA_MT_SHIP, 1)->field[SA_TF_BODY] = 4001;
    Types(SA_MT_DOCK, 1)->field[SA_TF_STATION_CUT] = 700;
    DetailCut cut(700, 3);
    cut.cut().path(2).rotCount = 0;  // no rotation key: no object
    SectorObject* sector = SectorWithCamera();
    SectorObject* dock = Station(sector, 500);
    dock->instance->pos = QelVector{100, 0, 500, 0};
    Qel_MatFromAngles(&dock->instance->matrix, 16384, 0, 0);  // a quarter turn: its x axis is world -z
    ASSERT_EQ(O_DetailSwitch(dock, 0, 0), 1);
    std::vector<SectorObject*> parts;
    for (SectorObject* o = SA_ListFirst(O_GetChildList(sector)); o; o = SA_ListNext(o))
        if (o->parent == dock) parts.push_back(o);
    ASSERT_EQ(parts.size(), 2u);
    const QelVector unit{1000, 0, 0, 0};
    QelVector axis{};
    Qel_MatMulVec(&dock->instance->matrix, &unit, &axis);
    for (size_t i = 0; i < parts.size(); ++i) {
        EXPECT_EQ(parts[i]->mainType, SA_MT_SHIP);
        EXPECT_EQ(parts[i]->instance->pos.x, 100 + axis.x * int32_t(i + 1)) << i;
        EXPECT_EQ(parts[i]->instance->pos.z, 500 + axis.z * int32_t(i + 1)) << i;
        EXPECT_EQ(parts[i]->rot[0], 16384) << i;  // the path's own turn is none
    }
    parts[0]->eventObject = kStoryObject;
    // Placed far from the camera, it ends plain: one part is told, one killed.
    O_SetPos(dock, 0, 0, 1000000);
    EXPECT_FALSE(dock->flags2 & SA_FLAG2_DETAILED);
    EXPECT_EQ(dock->instance->pos.z, 1000000);
    EXPECT_EQ(dock->instance->worldPos.z, 1000000);
    EXPECT_EQ(Told(), (std::vector<std::string>{"SelfDestruct 19"}));
    EXPECT_EQ(parts[0]->parent, nullptr);
    EXPECT_FALSE(parts[0]->flags & SA_FLAG_KILLED);
    EXPECT_TRUE(parts[1]->flags & SA_FLAG_KILLED);
    // Placed near again, it is detailed again.
    O_SetPos(dock, 0, 0, 10);
    EXPECT_TRUE(dock->flags2 & SA_FLAG2_DETAILED);
}

TEST_F(DetailTest, PlacedInASectorNearTheCameraAFieldShowsItsDetail) {
    Types(SA_MT_DEBRIS, 1)->field[SA_TF_DEBRIS_LEVELS] = 3;
    SectorObject* sector = SectorWithCamera();
    SectorObject* near = New(SA_MT_DEBRIS);
    SectorObject* far = New(SA_MT_DEBRIS);
    near->size = far->size = 1000;
    near->instance->pos.z = 5000;
    far->instance->pos.z = 50000;
    O_SetContainer(near, sector);
    O_SetContainer(far, sector);
    EXPECT_TRUE(near->flags2 & SA_FLAG2_DETAILED);
    EXPECT_FALSE(far->flags2 & SA_FLAG2_DETAILED);
}

TEST_F(DetailTest, ATypeWhoseCutNamesItselfNestsOnlySoDeep) {
    TypeRecord* field = Types(SA_MT_DEBRIS, 1);
    field->field[SA_TF_BODY] = 4001;
    field->field[SA_TF_CUT] = 700;
    field->field[SA_TF_DEBRIS_LEVELS] = 1;  // takes part in the switch, never steps down
    DetailCut cut(700, 2);
    SectorObject* sector = SectorWithCamera();
    DetailDistance(1000000);
    SectorObject* top = New(SA_MT_DEBRIS);
    top->instance->pos.z = 10;
    Into(sector, top);
    EXPECT_EQ(O_DetailSwitch(top, 0, 0), 1);
    // Two at each of four levels below the top.
    EXPECT_EQ(Qel_TableGetCount(root_.ids), 2u + 2 + 4 + 8 + 16);
}

TEST_F(DetailTest, ADebrisFieldThatLostPiecesStepsDownOrGoes) {
    TypeRecord* fields = Types(SA_MT_DEBRIS, 3);
    fields[0].field[SA_TF_DEBRIS_LEVELS] = 5;
    fields[0].field[SA_TF_DEBRIS_NEXT_BODY] = 701;  // the body of type 1
    fields[1].field[SA_TF_BODY] = 701;
    fields[2].field[SA_TF_DEBRIS_LEVELS] = 5;
    fields[2].field[SA_TF_DEBRIS_NEXT_BODY] = 999;  // no type has it
    SectorObject* sector = SectorWithCamera();
    auto field = [&](int32_t subType, int32_t pieces, int32_t z, uint32_t eventObject) {
        SectorObject* f = New(SA_MT_DEBRIS, subType);
        EXPECT_TRUE(f->flags2 & SA_FLAG2_DETAIL);
        SA_SetDensity(f, pieces);
        f->size = 1000;
        f->eventObject = eventObject;
        f->instance->pos = QelVector{0, 0, z, 0};
        Into(sector, f);
        return f;
    };
    // Below its threshold it takes the smaller type on the next switch.
    SectorObject* smaller = field(0, 2, 10, kStoryObject);
    const uint32_t oldInstance = smaller->instance->id;
    EXPECT_EQ(O_DetailSwitch(smaller, 0, 0), 1);
    EXPECT_EQ(smaller->subType, 1);
    EXPECT_NE(smaller->instance->id, oldInstance);
    EXPECT_EQ(B3D_InstFind(oldInstance), nullptr);
    EXPECT_TRUE(smaller->flags2 & SA_FLAG2_DETAILED);
    EXPECT_EQ(Told(), (std::vector<std::string>{"DetailSwitch 0"}));
    // At its threshold it keeps its type.
    SectorObject* full = field(0, 5, 10, 0);
    EXPECT_EQ(O_DetailSwitch(full, 0, 0), 1);
    EXPECT_EQ(full->subType, 0);
    // With no smaller type left, going plain removes it: told, or killed.
    runner_->calls.clear();
    SectorObject* told = field(2, 2, 1000000, kStoryObject);
    SectorObject* quiet = field(2, 2, 1000000, 0);
    SectorObject* forced = field(2, 2, 1000000, 0);
    for (SectorObject* f : {told, quiet, forced}) {
        f->flags2 |= SA_FLAG2_DETAILED;
        f->instance->flags |= SA_DETAILED_INST_FLAGS;
    }
    EXPECT_EQ(O_DetailSwitch(told, 0, 0), 1);
    EXPECT_EQ(O_DetailSwitch(quiet, 0, 0), 1);
    EXPECT_EQ(O_DetailSwitch(forced, 1, 0), 1);
    EXPECT_EQ(Told(), (std::vector<std::string>{"SelfDestruct 20"}));
    EXPECT_FALSE(told->flags & SA_FLAG_KILLED);
    EXPECT_TRUE(quiet->flags & SA_FLAG_KILLED);
    EXPECT_FALSE(forced->flags & SA_FLAG_KILLED);  // a forced switch never removes
    EXPECT_FALSE(forced->flags2 & SA_FLAG2_DETAILED);
}

TEST_F(DetailTest, TheDirectionTurnsTheForwardAxisWithTheRightUpAxis) {
    struct Case {
        int32_t x, y, z;
        QelVector forward, up;  // expected rows 2 and 1 of the rotation
    } cases[] = {
        {5, 0, 0, {65536, 0, 0, 0}, {0, 65536, 0, 0}},           {0, 0, -7, {0, 0, -65536, 0}, {0, 65536, 0, 0}},
        {0, 1, 0, {0, 65536, 0, 0}, {0, 0, -65536, 0}},           // straight up: the other up axis
        {0, -9, 0, {0, -65536, 0, 0}, {0, 0, -65536, 0}},         // straight down
        {0, 100, 1, {0, 65530, 655, 0}, {0, 655, -65530, 0}},     // steeper than 0.95
        {0, 3, -1, {0, 62173, -20724, 0}, {0, 20724, 62173, 0}},  // just below it
    };
    for (const Case& c : cases) {
        SectorObject* o = New(SA_MT_SHIP);
        O_SetDirection(o, c.x, c.y, c.z);
        QelMatrix m{};
        Qel_MatFromAngles(&m, o->rot[0], o->rot[1], o->rot[2]);
        const QelVector rows[2] = {c.forward, c.up};
        for (int r = 0; r < 2; ++r) {
            const int32_t* got = &m.m[(2 - r) * 4];
            EXPECT_NEAR(got[0], rows[r].x, 64) << c.x << " " << c.y << " " << c.z << " row " << 2 - r;
            EXPECT_NEAR(got[1], rows[r].y, 64) << c.x << " " << c.y << " " << c.z << " row " << 2 - r;
            EXPECT_NEAR(got[2], rows[r].z, 64) << c.x << " " << c.y << " " << c.z << " row " << 2 - r;
        }
        EXPECT_EQ(o->instance->matrix.m[8], m.m[8]);  // the instance follows
    }
    // The zero vector changes nothing.
    SectorObject* o = New(SA_MT_SHIP);
    O_SetRot(o, 1, 2, 3);
    const QelMatrix before = o->instance->matrix;
    O_SetDirection(o, 0, 0, 0);
    EXPECT_EQ(o->rot[0], 1);
    EXPECT_EQ(o->rot[1], 2);
    EXPECT_EQ(o->rot[2], 3);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(o->instance->matrix.m[i], before.m[i]);
}

TEST_F(DetailTest, SunsAndPlanetsKeepTheirExtraInstancesInStep) {
    Types(SA_MT_SUN, 1);
    Types(SA_MT_PLANET, 1);
    SectorObject* sector = New(SA_MT_SECTOR);
    SectorObject* sun = New(SA_MT_SUN);
    SectorObject* planet = New(SA_MT_PLANET);
    Into(sector, sun);
    Into(sector, planet);
    SectorData* data = O_SectorData(sector);
    data->cached[0] = data->cached[1] = 7;
    O_SetPos(sun, 10, 20, 30);
    EXPECT_EQ(data->cached[0], 0);
    EXPECT_EQ(data->cached[1], 0);
    for (Inst3D* glow : static_cast<SunData*>(sun->typeData)->glow) {
        ASSERT_NE(glow, nullptr);
        EXPECT_EQ(glow->pos.z, 30);
    }
    O_SetRot(sun, 16384, 0, 0);
    for (Inst3D* glow : static_cast<SunData*>(sun->typeData)->glow)
        for (int i = 0; i < 12; ++i) EXPECT_EQ(glow->matrix.m[i], sun->instance->matrix.m[i]);
    // The extra instance of a near planet lies 10.0 along its direction, of a far one pushed out.
    Inst3D* extra = static_cast<PlanetData*>(planet->typeData)->extra;
    ASSERT_NE(extra, nullptr);
    O_SetPos(planet, 0, 0, 1000);
    EXPECT_EQ(extra->pos.z, 10 * 65536);
    O_SetPos(planet, 0, 0, 200000000);
    EXPECT_EQ(extra->pos.z, 1000000000);
}

class MissileTest : public DetailTest {
protected:
    void SetUp() override {
        DetailTest::SetUp();
        missiles_ = Types(SA_MT_MISSILE, 3);
        for (int i = 0; i < 3; ++i) missiles_[i].field[SA_TF_MISSILE_SPEED] = 100000;
        missiles_[1].field[SA_TF_MISSILE_FLAGS] = SA_MISSILE_SEEKS;
        missiles_[2].field[SA_TF_MISSILE_FLAGS] = SA_MISSILE_AIMED;
        sector_ = New(SA_MT_SECTOR);
        shooter_ = Ship(QelVector{0, 0, 0, 0});
        shooter_->size = 4000;
        shooter_->speed = 3000;
        shooter_->eventObject = kStoryObject;
        for (int i = 0; i < 3; ++i) shooter_->rot[i] = 1000 * (i + 1);
        target_ = Ship(QelVector{100000, 0, 0, 0});
        target_->eventObject = kStoryObject;
    }
    SectorObject* Ship(QelVector at) {
        SectorObject* ship = New(SA_MT_SHIP);
        ship->instance->pos = at;
        Qel_MatIdentity(&ship->instance->matrix);
        Into(sector_, ship);
        return ship;
    }
    static QelVector Forward(const SectorObject* o) {
        QelMatrix m{};
        Qel_MatFromAngles(&m, o->rot[0], o->rot[1], o->rot[2]);
        return QelVector{m.m[8], m.m[9], m.m[10], 0};
    }

    TypeRecord* missiles_ = nullptr;
    SectorObject* sector_ = nullptr;
    SectorObject* shooter_ = nullptr;
    SectorObject* target_ = nullptr;
};

TEST_F(MissileTest, AheadAndBehindLeaveWithTheirSpeedsAndAngles) {
    struct Case {
        int32_t behind;
        int32_t speed;
        int32_t rot[3];
        int32_t z;  // a quarter of the shooter's size ahead or behind
    } cases[] = {
        {0, 5000 + 3000, {1000, 2000, 3000}, 1000},
        {1, 5000 + 5000, {(1000 - 32768) & 0xffff, (-2000) & 0xffff, 3000}, -1000},
    };
    for (const Case& c : cases) {
        SectorObject* m = O_LaunchMissile(shooter_, target_, c.behind, 0, 0, 77);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->speed, c.speed) << c.behind;
        EXPECT_EQ(m->desiredSpeed, 100000);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(m->rot[i], c.rot[i]) << c.behind << " " << i;
        EXPECT_EQ(m->instance->pos.z, c.z);
        EXPECT_EQ(m->container, sector_);
        EXPECT_EQ(m->group, shooter_->group);
        const MissileData* data = O_MissileData(m);
        EXPECT_EQ(data->launcher, shooter_);
        EXPECT_EQ(data->target, target_);
        EXPECT_EQ(data->launchValue, 77);
    }
    EXPECT_EQ(root_.game.missilesFired, 0);
    EXPECT_EQ(Told(), (std::vector<std::string>{
                          "MissileLaunched 0",
                          "MissileAlert " + std::to_string(Id(target_) + 1) + " " + std::to_string(Id(shooter_)),
                          "MissileLaunched 0",
                          "MissileAlert " + std::to_string(Id(target_) + 2) + " " + std::to_string(Id(shooter_))}));
    // A counted launch raises the root's counter and marks the missile.
    SectorObject* counted = O_LaunchMissile(shooter_, target_, 0, 0, SA_LAUNCH_COUNTED, 0);
    ASSERT_NE(counted, nullptr);
    EXPECT_EQ(root_.game.missilesFired, 1);
    EXPECT_TRUE(counted->flags2 & SA_FLAG2_COUNTED_MISSILE);
}

TEST_F(MissileTest, AnAimedMissileTurnsToTheInterceptUnlessThePlayerFires) {
    SectorObject* aimed = O_LaunchMissile(shooter_, target_, 0, 2, 0, 0);
    ASSERT_NE(aimed, nullptr);
    EXPECT_EQ(aimed->speed, 100000);
    EXPECT_EQ(aimed->desiredSpeed, 100000);
    const QelVector f = Forward(aimed);
    EXPECT_NEAR(f.x, 65536, 64);
    EXPECT_NEAR(f.z, 0, 700);
    // A moving target is led: it flies along +z, so the missile turns that way too.
    target_->speed = 50000;
    SectorObject* led = O_LaunchMissile(shooter_, target_, 0, 2, 0, 0);
    ASSERT_NE(led, nullptr);
    EXPECT_GT(Forward(led).z, 20000);
    // The player's own missiles leave straight.
    shooter_->flags |= SA_FLAG_PLAYER;
    SectorObject* straight = O_LaunchMissile(shooter_, target_, 0, 2, 0, 0);
    ASSERT_NE(straight, nullptr);
    EXPECT_EQ(straight->rot[0], 1000);
    EXPECT_EQ(straight->speed, 5000 + 3000);
}

TEST_F(MissileTest, TheTargetRulesDecideWhetherAnythingLeaves) {
    // A missile that needs a target launches nothing without one.
    EXPECT_EQ(O_LaunchMissile(shooter_, nullptr, 0, 0, 0, 0), nullptr);
    // A seeking one given a target that is no enemy looks for one, and finds none here.
    EXPECT_EQ(O_LaunchMissile(shooter_, target_, 0, 1, 0, 0), nullptr);
    EXPECT_EQ(O_LaunchMissile(shooter_, target_, 0, 3, 0, 0), nullptr);  // no such subtype
    EXPECT_TRUE(Told().empty());
}

TEST_F(MissileTest, AMissileWithoutATargetAlertsNobody) {
    ASSERT_NE(INS_NewCockpitSystem(), nullptr);
    g_SpaceRoot->game.playerObject = shooter_;
    SectorObject* m = O_LaunchMissile(shooter_, nullptr, 0, 1, 0, 0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(O_MissileData(m)->target, nullptr);
    // The shooter is told; no target side runs, and the cockpit raises no alarm.
    EXPECT_EQ(Told(), (std::vector<std::string>{"MissileLaunched 1"}));
    EXPECT_EQ(g_CockpitSystem->statusFlags & 4u, 0u);
    g_SpaceRoot->game.playerObject = nullptr;
    INS_FreeCockpitSystem();
}

TEST_F(DetailTest, ALaserIsRefusedByAShipWhoseLaserSlotsAreFull) {
    Types(SA_MT_SHIP, 1)->field[SA_TF_SHIP_LASER_COUNT] = 2;
    SectorObject* sector = New(SA_MT_SECTOR);
    SectorObject* ship = New(SA_MT_SHIP);
    Into(sector, ship);
    SectorObject* lasers[3] = {New(SA_MT_LASER), New(SA_MT_LASER), New(SA_MT_LASER)};
    for (SectorObject* laser : lasers) Into(sector, laser);
    EXPECT_EQ(O_MoveIntoContainer(ship, lasers[0]), 1);
    EXPECT_EQ(O_MoveIntoContainer(ship, lasers[1]), 1);
    EXPECT_EQ(O_MoveIntoContainer(ship, lasers[2]), 0);
    EXPECT_EQ(lasers[2]->container, sector);
    EXPECT_EQ(O_MoveIntoContainer(ship, ship), 0);  // nothing holds itself
    // A slot freed, it fits; a laser already aboard does not count against itself.
    EXPECT_EQ(O_MoveIntoContainer(sector, lasers[0]), 1);
    EXPECT_EQ(O_MoveIntoContainer(ship, lasers[2]), 1);
    EXPECT_EQ(O_MoveIntoContainer(ship, lasers[1]), 1);
    EXPECT_EQ(lasers[2]->container, ship);
    EXPECT_EQ(SA_ListFirst(O_GetChildList(ship)), lasers[2]);
}

TEST_F(DetailTest, ObstaclesOnAShipsPathFillItsAvoidanceList) {
    SectorObject* sector = New(SA_MT_SECTOR);
    auto place = [&](int16_t mainType, int32_t x, int32_t z, int32_t size) {
        SectorObject* o = New(mainType);
        o->instance->pos = QelVector{x, 0, z, 0};
        Qel_MatIdentity(&o->instance->matrix);
        o->size = size;
        Into(sector, o);
        return o;
    };
    struct Case {
        int16_t course;
        int16_t mainType;
        int32_t x, z;
        bool carrier;  // the obstacle is the ship's carrier
        bool added;
        uint32_t flags;  // the ship's flags afterwards (of 0x3000)
    } cases[] = {
        {0, SA_MT_SHIP, 0, 5000, false, true, 0x3000},    // ahead
        {0, SA_MT_SHIP, 0, -5000, false, false, 0},       // behind
        {0, SA_MT_SHIP, 5000, 5000, false, false, 0},     // beside, beyond both sizes
        {0, SA_MT_BULLET, 0, 5000, false, false, 0},      // shots are not avoided
        {18, SA_MT_SHIP, 0, 5000, false, true, 0x2000},   // avoiding already
        {30, SA_MT_GATE, 0, 50000, true, false, 0},       // clearing the gate's hangar, close
        {30, SA_MT_GATE, 0, 100000, true, true, 0x3000},  // ... far enough
        {30, SA_MT_DOCK, 0, 700, true, false, 0},         // within 0.8 of the dock's size
        {30, SA_MT_DOCK, 0, 900, true, true, 0x3000},
    };
    for (const Case& c : cases) {
        SectorObject* ship = place(SA_MT_SHIP, 0, 0, 1000);
        SectorObject* obstacle = place(c.mainType, c.x, c.z, c.mainType == SA_MT_DOCK ? 1000 : 500);
        O_ShipData(ship)->CourseType = c.course;
        if (c.carrier) ship->parent = obstacle;
        O_AddAvoidObstacle(ship, obstacle, 42);
        const ShipData* d = O_ShipData(ship);
        EXPECT_EQ(d->avoidCount, c.added ? 1 : 0) << c.course << " " << c.x << " " << c.z;
        EXPECT_EQ(ship->flags & 0x3000u, c.flags) << c.course << " " << c.x << " " << c.z;
        if (c.added) {
            EXPECT_EQ(d->avoidObjects[0], obstacle);
            EXPECT_EQ(d->avoidValues[0], 42);
        }
    }
    // Five at most.
    SectorObject* ship = place(SA_MT_SHIP, 0, 0, 1000);
    for (int i = 0; i < 7; ++i) O_AddAvoidObstacle(ship, place(SA_MT_SHIP, 0, 5000 + i, 100), i);
    EXPECT_EQ(O_ShipData(ship)->avoidCount, SA_AVOID_MAX);
    EXPECT_EQ(O_ShipData(ship)->avoidValues[4], 4);
}

std::vector<uint32_t> s_hits;
bool s_killOnHit = false;

TEST_F(DetailTest, ABulletsSweepHitsNearestFirstAndStopsWhenItDies) {
    Types(SA_MT_BULLET, 1)->field[SA_TF_BULLET_SPEED] = 100000;
    system_->gameFrameDelta = 100;  // a segment of 10,000 behind the bullet
    SectorObject* sector = New(SA_MT_SECTOR);
    auto place = [&](int16_t mainType, int32_t x, int32_t z) {
        SectorObject* o = New(mainType);
        o->instance->pos = QelVector{x, 0, z, 0};
        Qel_MatIdentity(&o->instance->matrix);
        o->size = 100;
        o->flags &= ~SA_FLAG_COLLISION_WARNING;  // as a launch leaves it
        Into(sector, o);
        return o;
    };
    SectorObject* bullet = place(SA_MT_BULLET, 0, 10000);
    O_BulletData(bullet)->radius = 0;
    SectorObject* far = place(SA_MT_SHIP, 0, 8000);
    SectorObject* near = place(SA_MT_SHIP, 50, 2000);
    place(SA_MT_SHIP, 300, 5000);                                 // beside the path
    place(SA_MT_SHIP, 0, -500);                                   // behind its start
    place(SA_MT_SHIP, 0, 6000)->flags |= SA_FLAG_KILLED;          // killed
    place(SA_MT_SHIP, 0, 6500)->flags |= SA_FLAG_HELD;            // held
    place(SA_MT_SHIP, 0, 6800)->flags |= SA_FLAG_NO_AREA_DAMAGE;  // held in a warp
    // A pending collision warning and the player's steering keep a ship in play.
    SectorObject* warned = place(SA_MT_SHIP, 0, 7000);
    warned->flags |= SA_FLAG_COLLISION_WARNING;
    SectorObject* steered = place(SA_MT_SHIP, 0, 7500);
    steered->flags |= SA_FLAG_PLAYER_CONTROL;
    O_BulletData(bullet)->owner = place(SA_MT_SHIP, 0, 4000);  // its shooter
    const SA_BulletHitFn saved = g_SABulletHit;
    g_SABulletHit = [](SectorObject* b, SectorObject* o) {
        s_hits.push_back(o->id);
        if (s_killOnHit) b->flags |= SA_FLAG_KILLED;
    };
    s_hits.clear();
    s_killOnHit = false;
    EXPECT_EQ(O_SweepBullet(bullet), 4);
    EXPECT_EQ(s_hits, (std::vector<uint32_t>{near->id, warned->id, steered->id, far->id}));
    s_hits.clear();
    s_killOnHit = true;
    EXPECT_EQ(O_SweepBullet(bullet), 1);
    EXPECT_EQ(s_hits, (std::vector<uint32_t>{near->id}));
    g_SABulletHit = saved;
}

TEST_F(DetailTest, TracesAndDebrisTestsAnswerZeroWithoutWhatTheyNeed) {
    const QelVector a{0, 0, 0, 0}, b{0, 0, 100000, 0};
    SectorObject* ship = New(SA_MT_SHIP);
    EXPECT_EQ(O_FastTrace(ship, &a, &b, 1), 0u);  // not a sector
    EXPECT_EQ(O_FastTrace(nullptr, &a, &b, 1), 0u);
    SectorObject* sector = New(SA_MT_SECTOR);
    Into(sector, ship);
    EXPECT_EQ(O_FastTrace(sector, &a, &b, 1), 0u);  // nothing with a model on the way
    TypeRecord* rocks = Types(SA_MT_ASTEROID, 2);
    rocks[1].field[SA_TF_DEBRIS_CUT] = 700;
    struct Case {
        int32_t mainType, subType;
    } cases[] = {{SA_MT_SHIP, 0}, {SA_MT_ASTEROID, 0}, {SA_MT_ASTEROID, 1}, {SA_MT_DEBRIS, 5}, {-1, 0}};
    for (const Case& c : cases) EXPECT_EQ(O_TypeCreatesDebris(c.mainType, c.subType), 0) << c.mainType;
}

// Bodies from a game folder, for the collision models of the refresh.
class RefreshTest : public DetailTest {
protected:
    void SetUp() override {
        DetailTest::SetUp();
        bodies_ = std::make_unique<BodyFolder>();
        std::string text, error;
        ASSERT_TRUE(Tool_ModelToTextBody("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", &text, &error)) << error;
        for (int id : {4001, 4002, 4003}) bodies_->WriteBody(id, text);
    }
    void TearDown() override {
        SA_FreeAllObjects(&root_);
        bodies_.reset();
        DetailTest::TearDown();
    }
    std::unique_ptr<BodyFolder> bodies_;
};

TEST_F(RefreshTest, TheResetRebuildsTheModelsOfEveryObjectAndItsChildren) {
    Types(SA_MT_SHIP, 1)->field[SA_TF_BODY] = 4001;
    Types(SA_MT_MISSILE, 1)->field[SA_TF_BODY] = 4002;
    Types(SA_MT_SUN, 1)->field[SA_TF_BODY] = 4003;
    SectorObject* sector = New(SA_MT_SECTOR);
    SectorObject* carrier = New(SA_MT_SHIP);
    SectorObject* aboard = New(SA_MT_SHIP);
    SectorObject* missile = New(SA_MT_MISSILE);
    SectorObject* idle = New(SA_MT_MISSILE);  // never given a model
    SectorObject* sun = New(SA_MT_SUN);
    Into(sector, carrier);
    Into(carrier, aboard);
    Into(sector, missile);
    Into(sector, idle);
    Into(sector, sun);
    ASSERT_EQ(B3D_CollBuildModelOcta(missile->instance, 0x140000, 0xa0000, 0xa0000), 1);
    for (SectorObject* o : {carrier, aboard, missile, idle, sun}) {
        ASSERT_NE(o->instance->bodyId, -1);
        o->instance->flags &= ~INST_COLLISION_MODEL;  // as a new device leaves them
    }
    missile->instance->flags |= INST_COLLISION_MODEL;
    SA_RefreshAfterDeviceReset();
    EXPECT_TRUE(carrier->instance->flags & INST_COLLISION_MODEL);
    EXPECT_TRUE(aboard->instance->flags & INST_COLLISION_MODEL);  // a ship's children too
    EXPECT_TRUE(missile->instance->flags & INST_COLLISION_MODEL);
    EXPECT_FALSE(idle->instance->flags & INST_COLLISION_MODEL);
    EXPECT_FALSE(sun->instance->flags & INST_COLLISION_MODEL);
}

}  // namespace
