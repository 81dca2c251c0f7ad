#include "space/helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "scene/allocs.h"
#include "scene/records.h"
#include "scene/scene_fixture.h"
#include "scene/state.h"
#include "space/typesdb.h"
#include "support/story.h"

namespace {

TEST(ObjectHelpers, KindTests) {
    struct Case {
        int16_t main, sub;
        int kind7_66, dockOrFactory;
    } cases[] = {{7, 66, 1, 0}, {7, 65, 0, 0}, {6, 66, 0, 1}, {5, 0, 0, 1}, {4, 0, 0, 0}, {1, 66, 0, 0}};
    for (const Case& c : cases) {
        SectorObject o{};
        o.mainType = c.main;
        o.subType = c.sub;
        EXPECT_EQ(Obj_IsKind7_66(&o), c.kind7_66) << c.main << "/" << c.sub;
        EXPECT_EQ(Obj_IsDockOrFactory(&o), c.dockOrFactory) << c.main << "/" << c.sub;
    }
}

TEST(ObjectHelpers, AxisDistanceIsTheLargestAxisDifference) {
    struct Case {
        QelVector a, b;
        int32_t distance;
    } cases[] = {
        {{0, 0, 0, 0}, {3, -7, 5, 0}, 7},
        {{10, 10, 10, 0}, {10, 10, -30, 0}, 40},
        {{-4, 0, 0, 0}, {4, 0, 0, 0}, 8},
        // The difference of far-apart positions does not wrap.
        {{INT32_MAX, 0, 0, 0}, {INT32_MIN, 0, 0, 0}, INT32_MAX},
    };
    for (const Case& c : cases) {
        Inst3D ia{}, ib{};
        ia.pos = c.a;
        ib.pos = c.b;
        SectorObject a{}, b{};
        a.instance = &ia;
        b.instance = &ib;
        EXPECT_EQ(Obj_AxisDistance(&a, &b), c.distance);
        EXPECT_EQ(Obj_AxisDistance(&b, &a), c.distance);
    }
    SectorObject bare{};
    Inst3D i{};
    SectorObject placed{};
    placed.instance = &i;
    EXPECT_EQ(Obj_AxisDistance(&bare, &placed), 0);
}

class TypeHelpers : public testing::Test {
protected:
    void SetUp() override {
        // Bullet 0 plain, bullet 1 uses ammunition (ware subtype 9); laser 0
        // fires bullet 1, laser 1 bullet 0, laser 2 names a bullet that does
        // not exist.
        TypeRecord* bullets = SA_AppendTypeRecords(SA_MT_BULLET, 2);
        Bullet(&bullets[0], 3000, 2500, 0, 4);
        Bullet(&bullets[1], 700000, 900000, SA_BULLET_AMMUNITION, 9);
        TypeRecord* lasers = SA_AppendTypeRecords(SA_MT_LASER, 3);
        const int32_t fires[] = {1, 0, 7};
        for (int i = 0; i < 3; ++i) lasers[i].field[SA_TF_LASER_BULLET_TYPE] = fires[i];
    }
    void TearDown() override { SA_FreeObjectDB(); }
    static void Bullet(TypeRecord* t, int32_t speed, int32_t lifetime, int32_t flags, int32_t ware) {
        t->field[SA_TF_BULLET_SPEED] = speed;
        t->field[SA_TF_BULLET_LIFETIME] = lifetime;
        t->field[SA_TF_BULLET_FLAGS] = flags;
        t->field[SA_TF_BULLET_AMMUNITION] = ware;
    }
};

TEST_F(TypeHelpers, RangeSpeedAndAmmunition) {
    struct Case {
        int32_t laser, range, speed, ammunition;
    } cases[] = {
        {0, 630000000, 700000, 0x100009},  // 700000 x 900000 needs 64 bits
        {1, 7500, 3000, 0},                // no ammunition bit
        {2, 0, 0, 0},                      // its bullet type does not exist
        {3, 0, 0, 0},                      // no such laser
        {-1, 0, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Obj_LaserTypeRange(c.laser), c.range) << c.laser;
        EXPECT_EQ(Obj_LaserTypeSpeed(c.laser), c.speed) << c.laser;
        EXPECT_EQ(Obj_LaserTypeAmmunition(c.laser), c.ammunition) << c.laser;
    }
    EXPECT_EQ(Obj_BulletTypeAmmunition(1), 0x100009);
    EXPECT_EQ(Obj_BulletTypeAmmunition(0), 0);
    EXPECT_EQ(Obj_BulletTypeAmmunition(2), 0);
}

class HandleHelpers : public SceneTest {};

TEST_F(HandleHelpers, ResetFreesTheInstanceAndEmpties) {
    Handle h{5, nullptr, 3};
    Handle_Init(&h);
    EXPECT_EQ(h.value, 0);
    EXPECT_EQ(h.instance, nullptr);
    EXPECT_EQ(h.index, -1);
    Handle_Reset(&h);  // nothing to free
    EXPECT_EQ(h.index, -1);

    Inst3D* inst = B3D_AllocInst();
    ASSERT_NE(inst, nullptr);
    const uint32_t id = inst->id;
    ASSERT_EQ(B3D_InstFind(id), inst);
    h = Handle{9, inst, 4};
    Handle_Reset(&h);
    EXPECT_EQ(B3D_InstFind(id), nullptr);
    EXPECT_EQ(h.value, 0);
    EXPECT_EQ(h.instance, nullptr);
    EXPECT_EQ(h.index, -1);
}

TEST(HolderHelpers, ReleaseFreesAHeldText) {
    ScriptTestContext ctx;
    SV_Holder h;
    h.value.tag = 0x7f;
    SV_HolderInit(&h);
    EXPECT_EQ(h.value.tag, 0);
    SV_HolderRelease(&h);  // tag 0: nothing to release
    SV_AssignString(&h.value, "held text");
    SV_HolderRelease(&h);  // the leak checker sees the text left
    EXPECT_EQ(h.value.tag, 0);
}

}  // namespace
