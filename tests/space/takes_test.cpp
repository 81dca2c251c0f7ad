// A take's cut loaded into its sector: what each path number becomes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "scene/allocs.h"
#include "scene/body_fixture.h"
#include "scene/caches.h"
#include "scene/freeing.h"
#include "scene/lists.h"
#include "scene/state.h"
#include "space/create.h"
#include "space/cutscene.h"
#include "space/objects.h"
#include "space/space_fixture.h"
#include "space/takes.h"
#include "space/typesdb.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "tools/lib/bodyconv.h"

namespace {

constexpr int32_t kShipCut = 4500;
constexpr int32_t kHighShipCut = 50001;
constexpr int32_t kShipBody = 321;
constexpr int32_t kDockBody = 654;

// The story answers "GetPlayerShipCutID" with its global "Cut".
constexpr const char* kStory = R"(
    end
.var "Cut" int 0
.func "GetPlayerShipCutID" need 8
    getg 0
    ret
)";

class TakeCut : public SpaceStoryTest {
protected:
    void SetUp() override {
        SpaceStoryTest::SetUp();
        SetUpStory(kStory);
        bodies_ = std::make_unique<BodyFolder>();
        system_->debugFlags = 0x80000000;
        // Ship 0 uses cut 4500, ship 1 cut 50001; a dock has body 654.
        TypeRecord* ships = Types(SA_MT_SHIP, 2);
        ships[0].field[SA_TF_SHIP_CUT] = kShipCut;
        ships[0].field[SA_TF_BODY] = kShipBody;
        ships[1].field[SA_TF_SHIP_CUT] = kHighShipCut;
        Types(SA_MT_DOCK, 1)->field[SA_TF_BODY] = kDockBody;
        sector_ = New(SA_MT_SECTOR);
        O_Sector(sector_)->spaceScene = B3D_SceneAlloc();
        take_ = ST_CreateTake(4, sector_);
    }
    void TearDown() override {
        SA_FreeAllObjects(&root_);
        ST_RemoveAllTakes(&root_);
        J3D_FreeAllCuts();
        bodies_.reset();
        SpaceStoryTest::TearDown();
    }
    void SetCut(int32_t cut) {
        ScriptValue& var = runner_->ctx()->objects[0].variables[0];
        var.tag = VARTYPE_INTEGER;
        var.bits = static_cast<uint64_t>(static_cast<int64_t>(cut));
    }
    // A cut of one path per line of source ("path N REF" and its statements).
    void WriteCut(int id, const std::string& source) const { WriteSourceCut(*bodies_->folder(), id, source); }
    // Loads a cut of the one path; its slot.
    SA_TakeSlot LoadOne(const std::string& path) {
        WriteCut(601, "path 0 " + path + "\n");
        EXPECT_EQ(ST_LoadCut(take_, 601, take_->id), 1);
        EXPECT_EQ(take_->slotCount, 1);
        return take_->slotCount == 1 ? take_->slots[0] : SA_TakeSlot{};
    }

    SectorObject* sector_ = nullptr;
    SA_Take* take_ = nullptr;
    std::unique_ptr<BodyFolder> bodies_;
};

TEST_F(TakeCut, NoCutLeavesTheTakeWithoutOne) {
    EXPECT_EQ(ST_LoadCut(take_, 777, take_->id), 0);
    EXPECT_EQ(take_->cutId, 0);
    EXPECT_EQ(take_->slotCount, 0);
}

// What each class of path number becomes: an object of a type, a light, a
// plain instance, or nothing.
TEST_F(TakeCut, PathClasses) {
    g_B3DState->lightTypes[5] = B3DLightType{2, 10, 20, 30, 0, 0, {-1, 250000}};
    g_B3DState->lightTypes[6] = B3DLightType{3, 1, 2, 3, 0, 0, {-1, 0}};
    root_.game.takeReplaceBody = kDockBody;
    SectorObject* player = New(SA_MT_SHIP, 0);
    player->instance->bodyId = kShipBody;
    root_.game.playerObject = player;
    struct Case {
        const char* path;
        int16_t objectType;  // -1: no object
        bool instance;
        uint32_t instFlags;  // flags the instance must carry
    };
    const Case cases[] = {
        {"-1", -1, true, 0},
        {"1005", -1, true, INST_LIGHT | INST_POINT_LIGHT},
        {"2005", -1, true, INST_LIGHT | INST_POINT_LIGHT | INST_MARKED},
        {"3006", -1, true, INST_LIGHT | INST_SPOT_LIGHT},
        {"4500", SA_MT_SHIP, true, 0},
        {"50001", SA_MT_SHIP, true, 0},
        {"4501", -1, false, 0},  // a cut no type uses
        {"9999", -1, false, 0},  // the story answers 0 to "GetPlayerShipCutID"
        {"124", SA_MT_SHIP, true, 0},
        {"99999", SA_MT_DOCK, true, 0},
        {"654", SA_MT_DOCK, true, 0},
        {"4500\nflags l", -1, true, 0},  // never an object: the number is a body
        {"654\nflags f", SA_MT_DOCK, true, INST_HIDDEN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const SA_TakeSlot slot = LoadOne(c.path);
        if (c.objectType < 0) {
            EXPECT_EQ(slot.object, nullptr);
        } else {
            ASSERT_NE(slot.object, nullptr);
            EXPECT_EQ(slot.object->mainType, c.objectType);
            EXPECT_EQ(slot.object->container, sector_);
            EXPECT_TRUE(slot.object->flags & SA_FLAG_HANGS_ON);
            EXPECT_EQ(slot.inst, slot.object->instance);
        }
        EXPECT_EQ(slot.inst != nullptr, c.instance);
        if (slot.inst) {
            EXPECT_EQ(slot.inst->flags & c.instFlags, c.instFlags);
            EXPECT_EQ(slot.inst->scene, O_Sector(sector_)->spaceScene);
        }
        EXPECT_EQ(take_->flags, 1u);
        ST_UnloadCut(take_);
    }
}

TEST_F(TakeCut, LightWords) {
    g_B3DState->lightTypes[5] = B3DLightType{2, 10, 20, 30, 1, 0, {-1, 250000}};
    WriteCut(602, "path 0 1005\npath 1 3005\npath 2 2005\n");
    ASSERT_EQ(ST_LoadCut(take_, 602, take_->id), 1);
    const Inst3D* point = take_->slots[0].inst;
    EXPECT_EQ(point->lightRange, 250000);
    EXPECT_EQ(point->lightColor[2], 30);
    EXPECT_TRUE(point->flags & INST_LIGHT_SECOND);
    EXPECT_FALSE(point->flags & INST_MARKED);  // value 4 below 0
    const Inst3D* spot = take_->slots[1].inst;
    EXPECT_TRUE(spot->flags & INST_SPOT_LIGHT);
    EXPECT_EQ(spot->lightRange, 1000000);
    EXPECT_EQ(spot->lightAtten[1], 10 * 65536);
    EXPECT_EQ(take_->slots[2].inst->markValue, 0);
    EXPECT_TRUE(take_->slots[2].inst->flags & INST_MARKED);
}

// The first light whose type has an ambient value takes the ambient role; a
// cut without one gives it to its first light.
TEST_F(TakeCut, TheAmbientLight) {
    g_B3DState->lightTypes[7] = B3DLightType{2, 0, 0, 0, 0, 5000, {0, 0}};
    WriteCut(603, "path 0 1001\npath 1 1007\npath 2 2007\n");
    ASSERT_EQ(ST_LoadCut(take_, 603, take_->id), 1);
    EXPECT_FALSE(take_->slots[0].inst->flags & INST_LIGHT_VALUE);
    EXPECT_TRUE(take_->slots[1].inst->flags & INST_LIGHT_VALUE);
    EXPECT_EQ(take_->slots[1].inst->lightValue, 5000);
    EXPECT_FALSE(take_->slots[2].inst->flags & INST_LIGHT_VALUE);
    ST_UnloadCut(take_);
    WriteCut(604, "path 0 -1\npath 1 1001\npath 2 1002\n");
    ASSERT_EQ(ST_LoadCut(take_, 604, take_->id), 1);
    EXPECT_EQ(root_.ids ? Qel_TableGetCount(root_.ids) : 0u, 1u);  // the sector alone: no object
    EXPECT_TRUE(take_->slots[1].inst->flags & INST_LIGHT_VALUE);
    EXPECT_FALSE(take_->slots[2].inst->flags & INST_LIGHT_VALUE);
}

// A plain instance hangs under its father path's; a father no earlier path
// has is logged and the instance stays in the scene.
TEST_F(TakeCut, FathersAndAMissingOne) {
    WriteCut(605, "path 0 700\npath 1 701\nvalue2 0\npath 2 702\nvalue2 5\n");
    LogCapture log;
    ASSERT_EQ(ST_LoadCut(take_, 605, take_->id), 1);
    EXPECT_EQ(take_->slots[1].inst->parent, take_->slots[0].inst);
    EXPECT_EQ(take_->slots[2].inst->parent, nullptr);
    EXPECT_EQ(take_->slots[2].inst->scene, O_Sector(sector_)->spaceScene);
    EXPECT_TRUE(log.Contains("S_LoadCut(605) Couldn't find father 5 for path 2!\n")) << log.Text();
}

// The take made for a player's ship of size 8000 (cut 2109) scales whatever
// ship the story names for its player's-ship path to that size; other takes,
// and other paths, keep the ship's own size.
TEST_F(TakeCut, ThePlayersShipIsScaledToTheTakeMadeForIt) {
    std::string text, error;
    ASSERT_TRUE(Tool_ModelToTextBody("v -2 0 0\nv 2 0 0\nv 0 2 0\nf 1 2 3\n", &text, &error)) << error;
    bodies_->WriteBody(kShipBody, text);
    SetCut(kShipCut);
    const struct {
        int32_t cut;
        const char* path;
        bool scaled;
    } cases[] = {{2109, "9999", true}, {2110, "9999", false}, {2109, "4500", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cut);
        WriteCut(c.cut, std::string("path 0 ") + c.path + "\n");
        ASSERT_EQ(ST_LoadCut(take_, c.cut, take_->id), 1);
        const SectorObject* ship = take_->slots[0].object;
        ASSERT_NE(ship, nullptr);
        ASSERT_GT(ship->size, 0);
        const int32_t scale = c.scaled ? static_cast<int32_t>((int64_t{8000} << 16) / ship->size) : 65536;
        EXPECT_EQ(ship->instance->scale.x, scale) << c.path;
        EXPECT_EQ(ship->instance->scale.z, scale) << c.path;
        ST_UnloadCut(take_);
    }
}

}  // namespace
