// The scenes of a cockpit, its instance slots, the sway of the cockpit body,
// the HUD's target searches and the hit tests on the target overlay.
#include "cockpit/scenes.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "cockpit/cockpit_fixture.h"
#include "scene/allocs.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "space/queries.h"
#include "support/logcapture.h"

namespace {

using CockpitScenes = CockpitTest;

const Camera3D* FirstCamera(const Scene3D* scene) { return scene ? IC_FindCamera(B3D_SceneGetCamera(scene)) : nullptr; }

TEST_F(CockpitScenes, ANewCockpitHasItsFourScenes) {
    Cockpit* c = AddCockpit();
    const struct {
        uint32_t scene, camera;
        const char* name;
        uint32_t flags;
        int32_t priority;
    } cases[] = {
        {c->scene, c->camera, "Cockpit Scene", 0, 0},
        {c->overlay->scene, c->overlay->camera, "Cockpit Target Overlay Scene", 8, 30},
        {c->iconMenus->scene, c->iconMenus->camera, "Icon Menu Scene", 8, 95},
        {c->tooltip->scene, c->tooltip->camera, "Tooltip Scene", 8, 98},
    };
    for (const auto& k : cases) {
        const Scene3D* scene = IC_FindScene(k.scene);
        ASSERT_NE(scene, nullptr) << k.name;
        EXPECT_EQ(std::string(scene->name), k.name);
        EXPECT_EQ(scene->flags & 8u, k.flags) << k.name;
        EXPECT_FLOAT_EQ(scene->systemScale, 0.01f);
        const Camera3D* camera = IC_FindCamera(k.camera);
        ASSERT_NE(camera, nullptr) << k.name;
        EXPECT_EQ(FirstCamera(scene), camera) << k.name;
        EXPECT_EQ(camera->priority, k.priority) << k.name;
        EXPECT_EQ(camera->inst.pos.x | camera->inst.pos.y | camera->inst.pos.z, 0);
    }
    EXPECT_EQ(IC_Camera(c)->camFlags & 0x24u, 0x24u);
    EXPECT_EQ(c->overlay->cockpit, c);
    EXPECT_EQ(c->iconMenus->menus[0], &c->iconMenus->menus[1]);  // an empty list
    for (uint32_t id : c->lights) {
        const Inst3D* light = IC_FindInst(id);
        ASSERT_NE(light, nullptr);
        EXPECT_EQ(light->scene, IC_Scene(c));
        EXPECT_TRUE(light->flags & INST_LIGHT);
        EXPECT_TRUE(light->flags & INST_DIRECTIONAL_LIGHT);
        EXPECT_EQ(light->pos.z, QEL_FIX_ONE);
        EXPECT_EQ(light->lightColor[0], 128);
        EXPECT_EQ(light->lightColor[2], 128);
    }
}

TEST_F(CockpitScenes, ScenesTheEngineFreedAreSeenAsGone) {
    Cockpit* c = AddCockpit();
    B3D_SceneFree(IC_Scene(c));  // a location reset frees every scene
    EXPECT_EQ(IC_Scene(c), nullptr);
    EXPECT_EQ(IC_Camera(c), nullptr);
    INS_FreeCockpit(g_CockpitSystem, c->id);  // nothing freed twice
}

TEST_F(CockpitScenes, SlotsMakeAndRestoreTheirInstances) {
    InstSlot slot{};
    Inst3D* inst = IC_SlotGetInst(&slot);
    ASSERT_NE(inst, nullptr);
    EXPECT_EQ(slot.kind, -1);
    EXPECT_EQ(IC_SlotGetInst(&slot), inst);
    B3D_InstFree(inst);
    slot.state = 5;
    Inst3D* again = IC_SlotGetInst(&slot);  // freed by the engine: made anew
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(slot.state, 0u);

    InstSlot light{};
    IC_SlotInit(&light, -1, 9);
    ASSERT_NE(IC_FindInst(light.inst), nullptr);
    EXPECT_TRUE(IC_FindInst(light.inst)->flags & INST_LIGHT);
    EXPECT_EQ(light.extra, 9u);

    // Restored: the instance while the engine holds it, else a new one.
    const InstSlot saved{3, again->id, 7, 11, 0};
    InstSlot dst{};
    IC_SlotRestore(&dst, &saved);
    EXPECT_EQ(dst.inst, again->id);
    EXPECT_EQ(dst.state, 3u);
    EXPECT_EQ(dst.kind, 7);
    EXPECT_EQ(dst.extra, 11u);
    EXPECT_TRUE(again->flags & 128u);
    const InstSlot gone{3, 0x7ffffff0, 7, 12, 0};
    IC_SlotRestore(&dst, &gone);
    EXPECT_NE(dst.inst, again->id);
    ASSERT_NE(IC_FindInst(dst.inst), nullptr);
    EXPECT_TRUE(IC_FindInst(dst.inst)->flags & 128u);
    EXPECT_EQ(dst.state, 0u);
    EXPECT_EQ(dst.kind, -1);
    EXPECT_EQ(dst.extra, 12u);

    InstSlot icons[6] = {};
    EXPECT_EQ(IC_IconSlotGetInst(icons, 6), nullptr);
    EXPECT_NE(IC_IconSlotGetInst(icons, 5), nullptr);
    for (const InstSlot& s : {slot, light, dst, icons[5]}) B3D_InstFree(IC_FindInst(s.inst));
}

TEST_F(CockpitScenes, TheSwayClearsAfterHalfASecondAndDecaysWhileStill) {
    SectorObject* ship = Ship();
    const CockpitSway start{{1000, -1000, 500}, {40, -40, 20, 10}, {}, 0, 0};
    const struct {
        int32_t dt;
        int32_t rot;
        int32_t x, jitterA;
    } cases[] = {
        {500, 0, 0, 0},  // cleared
        {499, 0, 1000 * 1 / 500, 40 * 1 / 500},
        {250, 0, 500, 20},   // half
        {100, 1000, 0, 40},  // turning: no decay (the offset moves with the turn)
    };
    for (const auto& k : cases) {
        CockpitSway sway = start;
        ship->rotSpeed[0] = k.rot;
        sway.lastRotSpeed[0] = k.rot;  // no change of the turn
        IC_CockpitSway(&sway, ship, k.dt);
        if (k.rot == 0) {
            EXPECT_EQ(sway.offset[0], k.x) << k.dt;
            EXPECT_EQ(sway.jitter[0], k.jitterA) << k.dt;
        } else {
            EXPECT_EQ(sway.jitter[0], k.jitterA) << k.dt;
            EXPECT_EQ(sway.offset[0], 1000);
        }
    }
    // Offsets and jitter are held within their limits.
    CockpitSway wild{{100000, -100000, 100000}, {900, -900, 900, 0}, {}, 0, 0};
    ship->rotSpeed[0] = 0;
    IC_CockpitSway(&wild, ship, 0);
    EXPECT_EQ(wild.offset[0], 1638);
    EXPECT_EQ(wild.offset[1], -1638);
    EXPECT_EQ(wild.offset[2], 983);
    EXPECT_EQ(wild.jitter[0], 50);
    EXPECT_EQ(wild.jitter[1], -50);
}

// A ship speeding up shakes the cockpit body by a fresh random amount in
// -n..n each time, drawn from the whole 0..32767 range without complaint.
TEST_F(CockpitScenes, TheSwayJittersRandomlyWhileTheShipSpeedsUp) {
    SectorObject* ship = Ship();
    O_ShipData(ship)->maxSpeedOverride = 100000;
    ship->desiredSpeed = 100000;
    ship->speed = 10000;
    LogCapture log;
    std::set<int32_t> jitters;
    for (int i = 0; i < 20; ++i) {
        CockpitSway sway{};
        IC_CockpitSway(&sway, ship, 100);  // an acceleration of 100,000: n = 20
        EXPECT_GE(sway.jitter[0], -20);
        EXPECT_LE(sway.jitter[0], 20);
        jitters.insert(sway.jitter[0]);
    }
    EXPECT_GT(jitters.size(), 3u);
    EXPECT_FALSE(log.Contains("Qel_LongRandom")) << log.Text();
}

class CockpitSearches : public CockpitTest {
protected:
    void SetUp() override {
        CockpitTest::SetUp();
        sector_ = New(SA_MT_SECTOR);
        ship_ = Ship();
        Into(sector_, ship_);
        ship_->group = 3;
        O_RelationWords(ship_)->foeMask = 1u << 5;
        cockpit_ = AddCockpit();
        cockpit_->refObject = cockpit_->cockpitRefObject = ship_;
        cockpit_->sectorSpace = sector_;
    }
    SectorObject* Enemy(int32_t x, int32_t y, int32_t z, int32_t radius = 100) {
        SectorObject* o = Ship(x, y, z);
        o->group = 5;
        o->size = radius;
        Into(sector_, o);
        return o;
    }
    SectorObject* sector_ = nullptr;
    SectorObject* ship_ = nullptr;
    Cockpit* cockpit_ = nullptr;
};

TEST_F(CockpitSearches, TheNearestEnemyKeepsTheFirstOfEqualDistances) {
    EXPECT_EQ(IC_FindNearestEnemy(cockpit_), nullptr);
    Enemy(0, 0, 2500000);  // not below the limit
    EXPECT_EQ(IC_FindNearestEnemy(cockpit_), nullptr);
    SectorObject* a = Enemy(1000, 0, 0);
    Enemy(-1000, 0, 0);
    SectorObject* friendly = Ship(10, 0, 0);
    Into(sector_, friendly);
    EXPECT_EQ(IC_FindNearestEnemy(cockpit_), a);
    cockpit_->refObject = nullptr;
    EXPECT_EQ(IC_FindNearestEnemy(cockpit_), nullptr);
}

TEST_F(CockpitSearches, TheTargetAheadLiesInTheConeOrWithinItsRadius) {
    Enemy(0, 0, -1000);          // behind
    Enemy(5000, 0, 10000, 100);  // outside the cone, far from its radius
    EXPECT_EQ(IC_FindTargetAhead(cockpit_), nullptr);
    SectorObject* wide = Enemy(70, 0, 10000, 100);  // outside the cone, |x| within 3/4 of its radius
    EXPECT_EQ(IC_FindTargetAhead(cockpit_), wide);
    SectorObject* ahead = Enemy(0, 0, 5000);
    EXPECT_EQ(IC_FindTargetAhead(cockpit_), ahead);
}

TEST_F(CockpitSearches, AFarTargetCountsWithinTwentyRadii) {
    SectorObject* big = Enemy(0, 0, 3000000, 150000);  // 3,000,000 <= 20 x 150,000
    EXPECT_EQ(IC_FindTargetAhead(cockpit_), big);
    big->size = 149999;
    EXPECT_EQ(IC_FindTargetAhead(cockpit_), nullptr);
}

class OverlayHits : public CockpitTest {
protected:
    void SetUp() override {
        CockpitTest::SetUp();
        cockpit_ = AddCockpit();
        Camera3D* camera = IC_FindCamera(cockpit_->overlay->camera);
        ASSERT_NE(camera, nullptr);
        camera->viewport[0] = camera->viewport[2] = 0;
        camera->viewport[1] = camera->viewport[3] = QEL_FIX_ONE;
        g_B3DState->screenWidth = 200;
        g_B3DState->screenHeight = 100;
    }
    // An entry with its icon at (x, y), 10 wide and 10 high (scale 1.0 and 2.0, size 10).
    static OverlayEntry Icon(uint32_t object, int32_t x, int32_t y) {
        OverlayEntry e{};
        e.object = object;
        e.icon.state = 1;
        e.iconX = x;
        e.iconY = y;
        e.iconScaleX = QEL_FIX_ONE;
        e.iconScaleY = 2 * QEL_FIX_ONE;
        e.iconSize = 10;
        return e;
    }
    static OverlayEntry Bracket(uint32_t object, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        OverlayEntry e{};
        e.object = object;
        e.bracket.state = 1;
        e.corners[0][0] = x0;
        e.corners[0][1] = y0;
        e.corners[1][0] = x1;
        e.corners[1][1] = y0;
        e.corners[2][0] = x0;
        e.corners[2][1] = y1;
        return e;
    }
    Cockpit* cockpit_ = nullptr;
};

TEST_F(OverlayHits, IconsAreStrictAndBracketEdgesCount) {
    // Screen (100, 50) is the overlay's centre.
    const OverlayEntry entries[] = {Icon(7, 0, 0), Bracket(8, -40, -40, 40, 40), Bracket(9, 20, 20, 30, 30)};
    const struct {
        int32_t x, y;
        int32_t object;
    } cases[] = {
        {100, 50, 7}, {109, 59, 7},  // inside the icon
        {110, 50, 8},                // on the icon's edge: not the icon, the bracket around it
        {140, 90, 8}, {60, 10, 8},   // a bracket's corners
        {141, 50, 0},                // outside every bracket
        {125, 75, 9}, {120, 70, 9},  // the narrowest bracket wins
    };
    for (const auto& k : cases) EXPECT_EQ(IC_ObjectAtOverlayPos(cockpit_, entries, 3, k.x, k.y), k.object) << k.x;
    OverlayEntry hidden = Icon(7, 0, 0);
    hidden.icon.state = 0;
    EXPECT_EQ(IC_ObjectAtOverlayPos(cockpit_, &hidden, 1, 100, 50), 0);
}

TEST_F(OverlayHits, MenusOpenAtTheIconTheBracketOrThePointer) {
    int32_t out[5] = {};
    const OverlayEntry icon = Icon(7, -30, 10);
    ASSERT_EQ(IC_MenuPosAtOverlayPos(cockpit_, &icon, 1, 70, 60, out), 1);
    EXPECT_EQ(out[0], -30);
    EXPECT_EQ(out[1], 10);
    EXPECT_EQ(out[2], 1);
    EXPECT_EQ(out[3], -1);
    EXPECT_EQ(out[4], 0);  // 30 / 200 is not below 10 / 100

    // Without icon type 280 the threshold is 21: a bracket 21 wide opens at its centre.
    const OverlayEntry narrow = Bracket(8, 10, -20, 31, 0);
    ASSERT_EQ(IC_MenuPosAtOverlayPos(cockpit_, &narrow, 1, 125, 40, out), 1);
    EXPECT_EQ(out[0], 20);
    EXPECT_EQ(out[1], -10);
    EXPECT_EQ(out[2], -1);
    EXPECT_EQ(out[3], 1);
    const OverlayEntry wide = Bracket(8, 10, -20, 32, 0);
    ASSERT_EQ(IC_MenuPosAtOverlayPos(cockpit_, &wide, 1, 125, 40, out), 1);
    EXPECT_EQ(out[0], 25);  // at the pointer
    EXPECT_EQ(out[1], -10);

    // Icon type 280 of 30 x 12: the 22 wide bracket now opens at its centre.
    B3DIconRow row{280, 0, 0, 0, 30, 12};
    B3DIconList& list = g_B3DState->icons[0];
    const B3DIconList kept = list;
    list.rows = &row;
    list.rowCount = 1;
    ASSERT_EQ(IC_MenuPosAtOverlayPos(cockpit_, &wide, 1, 125, 40, out), 1);
    EXPECT_EQ(out[0], 21);
    list = kept;

    EXPECT_EQ(IC_MenuPosAtOverlayPos(cockpit_, &wide, 1, 0, 0, out), 0);
}

}  // namespace
