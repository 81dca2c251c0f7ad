#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/catalog.h"
#include "base/ebm.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/texcache.h"
#include "render/particles.h"
#include "platform/d3d9/spy.h"
#include "render/cameras.h"
#include "render/targets.h"
#include "scene/allocs.h"
#include "scene/animation.h"
#include "scene/geometry.h"
#include "scene/pools.h"
#include "scene/bodyrecord.h"
#include "scene/fxparams.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "system/adapters.h"
#include "system/video.h"
#include "material_definitions.h"
#include "scene_fixture.h"
#include "support/logcapture.h"

namespace {

constexpr int32_t ONE = QEL_FIX_ONE;

using SceneSmallOps = SceneTest;

// top -> child -> grandchild, top -> second.
struct Tree {
    Inst3D* top;
    Inst3D* child;
    Inst3D* grandchild;
    Inst3D* second;
};

Tree MakeTree() {
    Tree t{B3D_AllocInst(), B3D_AllocInst(), B3D_AllocInst(), B3D_AllocInst()};
    Adopt(t.top, t.child);
    Adopt(t.child, t.grandchild);
    Adopt(t.top, t.second);
    return t;
}

TEST_F(SceneSmallOps, OverrideEffectCodes) {
    Tree t = MakeTree();
    struct Case {
        int32_t code, stored;
    };
    const Case cases[] = {{1, -4}, {2, -3}, {3, -2}, {4, -1}, {8, -6}, {5, 0}, {0, 0}, {-1, 0}};
    for (const Case& c : cases) {
        for (Inst3D* i : {t.top, t.child, t.grandchild, t.second}) i->alphaOverride = 99;
        EXPECT_EQ(B3D_InstSetOverrideEffect(t.top, c.code), 1);
        for (Inst3D* i : {t.top, t.child, t.grandchild, t.second}) {
            EXPECT_EQ(i->overrideEffect, c.stored) << c.code;
            EXPECT_EQ(i->alphaOverride, 0) << c.code;
        }
    }
}

TEST_F(SceneSmallOps, FlagWalksReachTheirDepth) {
    Tree t = MakeTree();
    B3D_InstSetInvis(t.top, 1);
    EXPECT_NE(t.top->flags & INST_INVISIBLE, 0u);
    EXPECT_NE(t.child->flags & INST_INVISIBLE, 0u);
    EXPECT_NE(t.second->flags & INST_INVISIBLE, 0u);
    EXPECT_EQ(t.grandchild->flags & INST_INVISIBLE, 0u);  // direct children only
    B3D_InstSetInvis(t.top, 0);
    EXPECT_EQ(t.child->flags & INST_INVISIBLE, 0u);

    B3D_InstSetShown(t.top, 0);
    EXPECT_NE(t.grandchild->flags & INST_HIDDEN, 0u);
    B3D_InstSetShown(t.top, 1);
    EXPECT_EQ(t.grandchild->flags & INST_HIDDEN, 0u);

    B3D_InstSetFlagsRecursive(t.top, 0x20, 0x80);
    EXPECT_NE(t.grandchild->flags2 & 0x20u, 0u);
    EXPECT_NE(t.grandchild->flags & INST_FRAME_MARK, 0u);
    B3D_InstSetFlagsRecursive(nullptr, 1, 1);
    // Frame marks stay while a replay runs.
    B3D_SetEngineFlags(B3D_ENGINE_REPLAYING);
    B3D_InstClearFrameMark(t.top);
    EXPECT_NE(t.grandchild->flags & INST_FRAME_MARK, 0u);
    B3D_ClearEngineFlags(B3D_ENGINE_REPLAYING);
    B3D_InstClearFrameMark(t.top);
    EXPECT_EQ(t.grandchild->flags & INST_FRAME_MARK, 0u);

    B3D_InstSetAlphaOverrideRecursive(t.top, 128);
    EXPECT_EQ(t.grandchild->alphaOverride, 128);
    B3D_InstSetFlags2(t.top, 0x30);
    B3D_InstClearFlags2(t.top, 0x10);
    EXPECT_EQ(t.top->flags2 & 0x30u, 0x20u);
}

TEST_F(SceneSmallOps, InstanceAndCameraSetters) {
    Inst3D* inst = B3D_AllocInst();
    B3D_InstSetSizeUsed(inst, -1);
    EXPECT_EQ(inst->flags & INST_SIZE_USED, 0u);
    B3D_InstSetSizeUsed(inst, 0);
    EXPECT_NE(inst->flags & INST_SIZE_USED, 0u);
    B3D_InstSetSizeUsed(nullptr, 5);
    B3D_InstSetMark(inst, 17);
    EXPECT_NE(inst->flags & INST_MARKED, 0u);
    EXPECT_EQ(inst->markValue, 17);
    B3D_InstSetColorModifier(inst, 1, 2, 3, 4);
    B3D_InstSetColorModifierWord(inst, 1, 9);
    B3D_InstSetColorModifierWord(inst, 4, 5);
    EXPECT_EQ(inst->colorModifier[0], 1);
    EXPECT_EQ(inst->colorModifier[1], 9);
    EXPECT_EQ(inst->colorModifier[3], 4);
    EXPECT_EQ(inst->extraWords[0], 5);
    Inst3D* other = B3D_AllocInst();
    B3D_MatrixFromAngles(other, 1000, 2000, 3000);
    B3D_InstCopyRot(other, inst);
    EXPECT_EQ(inst->matrix.m[4], other->matrix.m[4]);

    Camera3D* cam = B3D_CameraAlloc();
    B3D_CameraSetFog(cam, 0, 5, 6);
    EXPECT_NE(cam->camFlags & CAM_FOG, 0u);
    B3D_CameraSetFog(cam, -1, 5, 6);
    EXPECT_EQ(cam->camFlags & CAM_FOG, 0u);
    EXPECT_EQ(cam->fog[2], 6);
    B3D_CameraSetAspectRatio(cam, 3 * ONE);
    EXPECT_EQ(cam->aspect[0], ONE);
    EXPECT_EQ(cam->aspect[1], 3 * ONE);
    B3D_CameraSetViewPort(cam, 10, 20, 30, 40);
    int32_t vp[4];
    B3D_CameraGetViewPort(cam, vp);
    EXPECT_EQ(cam->viewport[0], 30);
    EXPECT_EQ(vp[0], 10);
    EXPECT_EQ(vp[3], 40);
    B3D_SetFadeValue(33);
    EXPECT_EQ(g_B3DState->fadeValue, 33);
    B3D_SetGammaValue(300);
    EXPECT_EQ(g_B3DState->gammaValue, 127);
    B3D_SetGammaValue(0);
    EXPECT_EQ(g_B3DState->gammaValue, 0);
}

TEST_F(SceneSmallOps, FindCutAlwaysLogs) {
    system_->debugFlags = 0;
    TestCut cut(4, 1);
    LogCapture log;
    EXPECT_EQ(J3D_FindCut(4), cut.cut());
    EXPECT_EQ(J3D_CutIsLoaded(5), nullptr);
    EXPECT_TRUE(log.Text().empty());
    EXPECT_EQ(J3D_FindCut(5), nullptr);
    EXPECT_TRUE(log.Contains("J3D_FindCut(5) trying to find nonexisting cut!\n"));
}

TEST_F(SceneSmallOps, PathSearches) {
    TestCut cut(9, 3);
    cut.path(0).pathNr = 100;
    cut.path(1).pathNr = 200;
    cut.path(2).pathNr = 100;
    EXPECT_EQ(J3D_CutFindPath(cut.cut(), 100), 2);  // searched from the last path down
    EXPECT_EQ(J3D_CutFindPath(cut.cut(), 300), -1);

    Tree t = MakeTree();
    t.grandchild->cutId = 9;
    t.grandchild->pathNr = 1;
    t.second->cutId = 9;
    t.second->pathNr = 1;
    EXPECT_EQ(J3D_FindPathInst(t.top, cut.cut(), 200), t.grandchild);  // children before the next sibling
    EXPECT_EQ(J3D_FindPathInst(t.top, cut.cut(), 100), nullptr);
    EXPECT_EQ(J3D_FindInstBySerial(t.top, 200), t.grandchild);
    EXPECT_EQ(J3D_FindInstBySerial(t.second, 200), t.second);
    cut.Unload();
    EXPECT_EQ(J3D_FindInstBySerial(t.top, 200), nullptr);
}

TEST_F(SceneSmallOps, FindByPathNameSearchesTheSiblingsTrees) {
    TestCut cut(3, 2);
    char gun[] = "Gun_Left";
    char light[] = "beacon";
    cut.path(0).name = gun;
    cut.path(1).name = light;
    Scene3D* scene = B3D_SceneAlloc();
    Tree t = MakeTree();
    PutInScene(scene, t.top);
    B3D_InstSetSceneRecursive(t.top);
    EXPECT_EQ(t.grandchild->scene, scene);
    Inst3D* other = B3D_AllocInst();
    PutInScene(scene, other);
    t.grandchild->cutId = 3;
    t.grandchild->pathNr = 0;
    other->cutId = 3;
    other->pathNr = 1;
    EXPECT_EQ(B3DB_InstFindByPathName(other, "gun_LEFT"), t.grandchild);     // a top instance: the scene's trees
    EXPECT_EQ(B3DB_InstFindByPathName(t.second, "GUN_left"), t.grandchild);  // the parent's sub-instances
    LogCapture log;
    t.top->bodyId = 77;
    EXPECT_EQ(B3DB_InstFindByPathName(t.child, "beacon"), nullptr);
    EXPECT_TRUE(log.Contains("B3DB_InstFindByPathName(-1,beacon) could not find Inst!\n"));
    cut.path(0).name = cut.path(1).name = nullptr;
}

TEST_F(SceneSmallOps, ListSearches) {
    Scene3D* scene = B3D_SceneAlloc();
    Inst3D* a = B3D_AllocInst();
    Inst3D* b = B3D_AllocInst();
    Inst3D* c = B3D_AllocInst();
    for (Inst3D* i : {a, b, c}) PutInScene(scene, i);
    a->bodyId = 5;
    c->bodyId = 5;
    EXPECT_EQ(B3D_InstFindByBodyID(scene, nullptr, 5), a);
    EXPECT_EQ(B3D_InstFindByBodyID(scene, a, 5), c);
    EXPECT_EQ(B3D_InstFindByBodyID(scene, c, 5), nullptr);
    Inst3D* elsewhere = B3D_AllocInst();
    EXPECT_EQ(B3D_InstFindByBodyID(scene, elsewhere, 5), a);  // a start outside the scene: from the first

    Camera3D* cam = B3D_CameraAlloc();
    auto* item = B3D_AllocRecordI<B3DCameraItem>();
    item->key = 42;
    B3D_ListAppend(&cam->items, B3D_Node(item));
    EXPECT_EQ(B3D_CameraFindItem(cam, 42), item);
    EXPECT_EQ(B3D_CameraFindItem(cam, 43), nullptr);

    auto* group = B3D_AllocRecordI<B3DSceneBufferGroup>();
    B3D_ListInit(&group->items);
    group->key = 8;
    B3D_ListAppend(&scene->bufferGroups, B3D_Node(group));
    EXPECT_EQ(B3D_ListFindItem(scene, 8), group);
    EXPECT_EQ(B3D_ListFindItem(scene, 9), nullptr);

    J3D_KeyRecord records[] = {{3, "three"}, {4, "four"}, {3, "again"}};
    J3D_KeyTable table{3, records};
    EXPECT_EQ(J3D_FindKeyRecord(&table, 3), &records[0]);
    EXPECT_EQ(J3D_FindKeyRecord(&table, 5), nullptr);
    EXPECT_EQ(J3D_FindKeyRecordByName(&table, "again"), &records[2]);
    EXPECT_EQ(J3D_FindKeyRecordByName(&table, "Again"), nullptr);
}

TEST_F(SceneSmallOps, TreeWalkOrder) {
    Tree t = MakeTree();
    std::vector<Inst3D*> order;
    for (Inst3D* i = t.top; i; i = B3D_InstNextInTree(i, t.top)) order.push_back(i);
    EXPECT_EQ(order, (std::vector<Inst3D*>{t.top, t.child, t.grandchild, t.second}));
    // Below a subtree's root the walk does not leave it.
    EXPECT_EQ(B3D_InstNextInTree(t.grandchild, t.child), nullptr);

    static std::vector<Inst3D*> visited;
    visited.clear();
    B3D_InstForTree(
        t.top, [](Inst3D* i, intptr_t, intptr_t) { visited.push_back(i); }, 0, 0);
    EXPECT_EQ(visited, order);
}

TEST_F(SceneSmallOps, CutPlacementAndLength) {
    TestCut cut(2, 1);
    cut.Keys(0, {0, 250, 900});
    QelVector pos;
    J3D_GetPathPos(cut.cut(), 0, &pos);
    EXPECT_EQ(pos.x, 0);
    const QelVector at{1, 2, 3, 4};
    QelMatrix turn;
    Qel_MatFromAngles(&turn, 100, 0, 0);
    J3D_SetCutPos(cut.cut(), &at, &turn);
    EXPECT_NE(cut.cut()->flags & CUT_PLACED, 0u);
    EXPECT_EQ(cut.cut()->placePos.z, 3);
    J3D_CutMarkMoved(cut.cut());
    EXPECT_EQ(cut.cut()->placeMatrix.m[0], ONE);
    EXPECT_EQ(cut.cut()->placePos.z, 3);
    J3D_CutResetPos(cut.cut());
    EXPECT_EQ(cut.cut()->placePos.z, 0);

    EXPECT_EQ(J3D_CutGetLength(&cut.path(0)), 900);
    J3D_FovKey fov[] = {{0, 0, 0}, {1500, 0, 0}};
    cut.path(0).fovCount = 2;
    cut.path(0).fovKeys = fov;
    EXPECT_EQ(J3D_CutGetLength(&cut.path(0)), 1500);
    cut.path(0).fovCount = 0;
    cut.Keys(0, {});
    EXPECT_EQ(J3D_CutGetLength(&cut.path(0)), 0);
}

TEST_F(SceneSmallOps, PathRotationFromQuaternionOrAngles) {
    J3D_MotionKey keys[2] = {};
    keys[0].value[0] = 16384;
    QelMatrix m, want;
    J3D_GetPathRot(keys, 0, &m);
    Qel_MatFromAngles(&want, 16384, 0, 0);
    for (int k : {0, 1, 2, 4, 5, 6, 8, 9, 10}) EXPECT_EQ(m.m[k], want.m[k]) << k;
    // A quarter turn about z as a unit quaternion (w = z = sqrt(1/2)).
    keys[1].flags = KEY_AXIS_ANGLE;
    keys[1].quat[0] = 46341;
    keys[1].quat[3] = 46341;
    m.m[3] = 77;
    J3D_GetPathRot(keys, 1, &m);
    EXPECT_NEAR(m.m[0], 0, 2);
    EXPECT_NEAR(m.m[1], ONE, 2);
    EXPECT_NEAR(m.m[4], -ONE, 2);
    EXPECT_NEAR(m.m[10], ONE, 2);
    EXPECT_EQ(m.m[3], 77);  // the fourth column is left alone
}

TEST_F(SceneSmallOps, CutMarkers) {
    TestCut cut(6, 2);
    std::vector<std::string> texts = {"Start 3", "end speak 3", "event x", "END\t3x", "start 4", "lend 3"};
    std::vector<J3D_Note> notes0, notes1;
    std::vector<std::vector<char>> owned;
    for (size_t i = 0; i < texts.size(); ++i) {
        owned.emplace_back(texts[i].begin(), texts[i].end());
        owned.back().push_back(0);
    }
    notes0 = {{100, owned[0].data()}, {200, owned[1].data()}, {300, owned[2].data()}};
    notes1 = {{400, owned[3].data()}, {500, owned[4].data()}, {600, nullptr}};
    cut.path(0).noteCount = 3;
    cut.path(0).notes = notes0.data();
    cut.path(1).noteCount = 3;
    cut.path(1).notes = notes1.data();
    int32_t start = 0, end = 0, loop = 7;
    // "end speak 3" is no end marker; "END\t3x" is not "end " either.
    EXPECT_EQ(J3D_CutFindMarkers(cut.cut(), 3, &start, &end, &loop), 0);
    EXPECT_EQ(start, 100);
    EXPECT_EQ(end, -1);
    EXPECT_EQ(loop, 0);
    owned[3] = {'e', 'n', 'd', ' ', ' ', '3', 0};
    notes1[0].text = owned[3].data();
    EXPECT_EQ(J3D_CutFindMarkers(cut.cut(), 3, &start, &end, &loop), 1);
    EXPECT_EQ(end, 400);
    // A later loop end overrides the earlier end.
    notes1[2] = {600, owned[5].data()};
    EXPECT_EQ(J3D_CutFindMarkers(cut.cut(), 3, &start, &end, &loop), 1);
    EXPECT_EQ(end, 600);
    EXPECT_EQ(loop, 1);
    EXPECT_EQ(J3D_CutFindMarkers(cut.cut(), 4, &start, &end, &loop), 0);
    EXPECT_EQ(start, 500);
    cut.path(0).noteCount = cut.path(1).noteCount = 0;
}

TEST_F(SceneSmallOps, IconMatricesAndPlacement) {
    B3DIconList& list = g_B3DState->icons[2];
    list.textureId = 0x70005;
    list.width = 256;
    list.height = 128;
    list.rowCount = 1;
    list.rows = static_cast<B3DIconRow*>(Int_AllocMem(sizeof(B3DIconRow), 0));
    list.rows[0] = {11, 0, 64, 32, 128, 64};
    QelMatrix m;
    ASSERT_EQ(B3D_IconTexMatrix(2, 11, &m), &list.rows[0]);
    EXPECT_EQ(m.m[0], ONE / 2);
    EXPECT_EQ(m.m[5], ONE / 2);
    EXPECT_EQ(m.m[8], ONE / 4);
    EXPECT_EQ(m.m[9], ONE / 4);
    EXPECT_EQ(m.m[10], ONE);
    EXPECT_EQ(m.m[1], 0);
    EXPECT_EQ(B3D_IconTexMatrix(2, 12, &m), nullptr);
    ASSERT_NE(B3D_IconTexMatrixPart(2, 11, 64, 32, ONE / 2, ONE, &m), nullptr);
    EXPECT_EQ(m.m[0], ONE / 4);
    EXPECT_EQ(m.m[5], ONE / 2);
    EXPECT_EQ(m.m[8], ONE / 2);
    EXPECT_EQ(m.m[9], ONE / 2);
    EXPECT_EQ(B3D_GetIconData(10, 11), nullptr);
    EXPECT_EQ(B3D_GetIconData(-1, 11), nullptr);

    Inst3D* inst = B3D_AllocInst();
    inst->size = 4 * ONE;
    B3D_InstSetIcon(inst, 2, 11);
    EXPECT_EQ(inst->flags2 & INST2_SCREEN_PLACED, INST2_SCREEN_PLACED);
    EXPECT_NE(inst->flags2 & INST2_EXTRA_TEXMATRIX, 0u);
    EXPECT_EQ(inst->scale.x, ONE / 2);
    EXPECT_EQ(inst->scale.z, ONE);
    Inst3D* missing = B3D_AllocInst();
    B3D_InstSetIcon(missing, 2, 99);  // no icon: still screen-placed, no matrix
    EXPECT_EQ(missing->flags2, INST2_SCREEN_PLACED);
    EXPECT_EQ(missing->scale.x, ONE);

    g_B3DState->screenWidth = 800;
    g_B3DState->screenHeight = 0;
    Inst3D* strip = B3D_AllocInst();
    B3D_InstSetScreenPlacement(strip, 0, 10, 400);
    EXPECT_EQ(strip->scale.x, ONE / 2);
    EXPECT_EQ(strip->scale.y, 0);  // no height: 0
    EXPECT_EQ(strip->flags2 & INST2_SCREEN_PLACED, INST2_SCREEN_PLACED);
}

TEST_F(SceneSmallOps, SortsAndComparators) {
    std::vector<int32_t> keys = {5, 1, 9, 3, 9, 0};
    for (int32_t k : keys) B3D_AllocDrawItem()->sortKey = k;
    auto order = [] {
        std::vector<int32_t> out;
        for (auto* d = B3D_First<B3DDrawItem>(&g_B3DState->drawList); d; d = B3D_Next(d)) out.push_back(d->sortKey);
        return out;
    };
    Camera3D* cam = B3D_CameraAlloc();
    B3D_SortDrawList(cam);
    EXPECT_EQ(order(), (std::vector<int32_t>{9, 9, 5, 3, 1, 0}));
    cam->camFlags |= CAM_SORT_ASCENDING;
    B3D_SortDrawList(cam);
    EXPECT_EQ(order(), (std::vector<int32_t>{0, 1, 3, 5, 9, 9}));

    std::vector<Camera3D*> cams;
    for (int32_t p : {20, -3, 7}) {
        cams.push_back(B3D_CameraAlloc());
        cams.back()->priority = p;
    }
    std::qsort(cams.data(), cams.size(), sizeof(Camera3D*), B3D_CameraComparePri);
    EXPECT_EQ(cams[0]->priority, -3);
    EXPECT_EQ(cams[2]->priority, 20);
    int32_t rows[3][3] = {{0, 4, 0}, {1, 9, 1}, {2, -1, 2}};
    std::qsort(rows, 3, sizeof rows[0], B3D_CompareSecondWord);
    EXPECT_EQ(rows[0][0], 1);
    EXPECT_EQ(rows[2][0], 2);
}

TEST_F(SceneSmallOps, TextWidthReadsUtf8) {
    static uint8_t widths[256];
    for (int c = 0; c < 256; ++c) widths[c] = static_cast<uint8_t>(c % 7 + 1);
    g_B3DState->widthTable = widths;
    auto w = [](int c) { return 2 * widths[c]; };
    struct Case {
        const char* text;
        int32_t width;
    };
    const Case cases[] = {
        {"", 0},
        {"Ab", w('A') + w('b')},
        {"\xC3\xA9", w(0xE9)},               // two bytes: U+00E9
        {"\xC4\x80", w('?')},                // U+0100 counts as "?"
        {"\xE2\x82\xAC!", w('?') + w('!')},  // three bytes
        {"a\xF0\x9F\x98\x80z", w('a')},      // a four-byte lead ends the text
        {"a\xC0\x80z", w('a')},              // code 0 ends it
    };
    for (const Case& c : cases) EXPECT_EQ(B3D_TextWidth(c.text), c.width) << c.text;
}

TEST_F(SceneSmallOps, ColourAndStringHelpers) {
    EXPECT_EQ(B3D_Rgb15To24(0x7FFF), 0xF8F8F8u);
    EXPECT_EQ(B3D_Rgb15To24(0x7C00), 0xF80000u);
    EXPECT_EQ(B3D_Rgb24To15(0xFF8007), 0x7E00u);
    EXPECT_EQ(B3D_Rgb24To15(B3D_Rgb15To24(0x1234)), 0x1234u);
    char* s = Qel_StrDup("old");
    s = B3D_StrReassignN(s, "abcdef", 3);
    EXPECT_STREQ(s, "abc");
    s = B3D_StrReassignN(s, nullptr, 3);
    EXPECT_EQ(s, nullptr);
}

TEST_F(SceneSmallOps, Arithmetic) {
    EXPECT_EQ(B3D_FixSqrt(4 * ONE), 2 * ONE);
    EXPECT_EQ(B3D_FixSqrt(ONE / 4), ONE / 2);
    EXPECT_EQ(B3D_FixSqrt(-5), 0);
    EXPECT_EQ(B3D_MulDiv(1 << 30, 8, 16), 1 << 29);  // 64-bit intermediate
    EXPECT_EQ(B3D_MulDiv(5, 5, 0), 0);
    EXPECT_EQ(B3D_FixDiv(ONE, 4 * ONE), ONE / 4);
    EXPECT_EQ(B3D_FixDiv(ONE, 0), 0);
    const QelVector a{ONE, 2 * ONE, 3 * ONE, 0}, b{-4 * ONE, 0, ONE, 0};
    EXPECT_EQ(B3D_FixDot(&a, &b), -ONE);
    EXPECT_EQ(B3D_VecMaxAbs(&b), 4 * ONE);
    EXPECT_EQ(B3D_VecMaxAbsDiff(&a, &b), 5 * ONE);
    const QelVector v{300, 400, 0, 0};
    EXPECT_EQ(B3D_VecLength(&v), 500);
    EXPECT_EQ(B3D_VecDistance(&v, &v), 0);
    EXPECT_EQ(B3D_FixArcSin(ONE), 16384);
    EXPECT_EQ(B3D_FixArcSin(-2 * ONE), -16384);
    EXPECT_EQ(B3D_FixArcSin(0), 0);
    EXPECT_NEAR(B3D_FixArcSin(ONE / 2), 65536 / 12, 2);
    EXPECT_EQ(B3D_Positive(-3), 0);
    EXPECT_EQ(B3D_Abs(-3), 3);
    EXPECT_EQ(B3D_Max(2, 5), 5);
    EXPECT_EQ(B3D_Min(2, 5), 2);
    EXPECT_FLOAT_EQ(B3D_Lerp(2.0f, 4.0f, 0.25f), 2.5f);
    // The distance of a point from the line through b along a - b.
    const QelVector la{10 * ONE, 0, 0, 0}, lb{0, 0, 0, 0}, p{5 * ONE, 3 * ONE, 0, 0};
    EXPECT_NEAR(B3D_PointLineDistance(&la, &lb, &p), 3 * ONE, 2);
    // Points at both ends of the 32-bit range: the differences wrap without trapping.
    const QelVector farA{808464384, 0, 0, 0}, farB{-1610612736, 0, 0, 0}, farP{INT32_MAX, INT32_MIN, 0, 0};
    (void)B3D_PointLineDistance(&farA, &farB, &farP);
    QelVector zero{0, 0, 0, 0};
    LogCapture log;
    B3D_NormVectorToOne(&zero);
    EXPECT_EQ(zero.x, 0);
    EXPECT_TRUE(log.Contains("Nullvektor")) << log.Text();
}

TEST_F(SceneSmallOps, ParticlesTakenFromTheFreeListThenTheOldestFinished) {
    B3DState* s = g_B3DState;
    B3DParticle* first = B3D_First<B3DParticle>(&s->particleFree);
    B3DParticle* p = B3D_ParticleGet();
    EXPECT_EQ(p, first);
    EXPECT_EQ(p->state, PARTICLE_TAKEN);
    EXPECT_EQ(B3D_ListLast(&s->particleLive), B3D_Node(p));
    // Empty the free list.
    while (B3D_ParticleGet() && !B3D_ListIsEmpty(&s->particleFree)) {}
    EXPECT_EQ(B3D_ListCount(&s->particleLive), B3D_PARTICLE_RECORDS);
    EXPECT_EQ(B3D_ParticleGet(), nullptr);  // the oldest is not finished
    p->state = PARTICLE_UPDATED;
    EXPECT_EQ(B3D_ParticleGet(), p);
    EXPECT_EQ(p->state, PARTICLE_TAKEN_OVER);
    EXPECT_EQ(B3D_ListLast(&s->particleLive), B3D_Node(p));

    // Freeing a scene's particles returns them and clears its particle flag.
    Scene3D* scene = B3D_SceneAlloc();
    Scene3D* other = B3D_SceneAlloc();
    int n = 0;
    for (B3DParticle* q = B3D_First<B3DParticle>(&s->particleLive); q; q = B3D_Next(q))
        q->scene = (n++ % 2) ? scene : other;
    B3D_SceneFreeParticles(scene);  // flag not set: nothing
    EXPECT_TRUE(B3D_ListIsEmpty(&s->particleFree));
    scene->flags |= SCENE_PARTICLES;
    B3D_SceneFreeParticles(scene);
    EXPECT_EQ(B3D_ListCount(&s->particleFree), B3D_PARTICLE_RECORDS / 2);
    EXPECT_EQ(B3D_First<B3DParticle>(&s->particleFree)->state, PARTICLE_FREE);
    EXPECT_EQ(scene->flags & SCENE_PARTICLES, 0u);
}

TEST_F(SceneSmallOps, SceneBufferGroups) {
    Scene3D* scene = B3D_SceneAlloc();
    struct Group {
        int32_t key, count, count2;
        bool chosen;
    };
    // Keys: count 1 gives 0; the rest count2 * 100 + count; the largest first while the total fits 20480.
    const Group groups[] = {{1, 1, 500, false},   // key 0
                            {2, 100, 150, true},  // key 15100, 15000 of the total
                            {3, 50, 120, false},  // key 12050, 6000: would exceed 20480
                            {4, 40, 100, true},   // key 10040, 4000
                            {5, 2, 10, true}};
    std::vector<B3DSceneBufferGroup*> made;
    for (const Group& g : groups) {
        auto* rec = B3D_AllocRecordI<B3DSceneBufferGroup>();
        B3D_ListInit(&rec->items);
        rec->key = g.key;
        rec->count = g.count;
        rec->count2 = g.count2;
        B3D_ListAppend(&scene->bufferGroups, B3D_Node(rec));
        auto* item = B3D_AllocRecordI<B3DSceneBufferItem>();
        B3D_ListAppend(&rec->items, B3D_Node(item));
        made.push_back(rec);
    }
    B3D_SceneChooseSceneBuffers(scene);
    for (size_t i = 0; i < made.size(); ++i) EXPECT_EQ((made[i]->flags & 1u) != 0, groups[i].chosen) << i;

    made[0]->flags |= 3;
    made[0]->counter = 5;
    S_3DInitSceneBuffer(scene);
    EXPECT_EQ(made[0]->flags & 3u, 0u);
    EXPECT_EQ(made[0]->counter, 0);
    B3DSceneBufferItem* item = B3D_First<B3DSceneBufferItem>(&made[0]->items);
    ASSERT_NE(item->buffer, nullptr);
    item->buffer->vertexCount = 12;
    S_3DInitSceneBuffer(scene);
    EXPECT_EQ(item->buffer->vertexCount, 0);

    const int32_t before = g_B3DState->poolIBytes;
    B3D_FreeInstSceneBuffers(2);
    EXPECT_EQ(B3D_ListFindItem(scene, 2), nullptr);
    EXPECT_EQ(before - g_B3DState->poolIBytes,
              static_cast<int32_t>(sizeof(B3DSceneBufferGroup) + sizeof(B3DSceneBufferItem)));
    B3D_SceneFreeSceneBuffers(scene);
    EXPECT_TRUE(B3D_ListIsEmpty(&scene->bufferGroups));
}

TEST_F(SceneSmallOps, DeviceObjectReleaseDropsEveryScenesBuffers) {
    Scene3D* scenes[2] = {B3D_SceneAlloc(), B3D_SceneAlloc()};
    for (Scene3D* scene : scenes) {
        auto* group = B3D_AllocRecordI<B3DSceneBufferGroup>();
        B3D_ListInit(&group->items);
        B3D_ListAppend(&scene->bufferGroups, B3D_Node(group));
    }
    scenes[1]->particleBuffer = Int_AllocRecord<ParticleBuffer>(Int_MemTag(6));
    S_3DReleaseDeviceObjects();
    for (Scene3D* scene : scenes) {
        EXPECT_TRUE(B3D_ListIsEmpty(&scene->bufferGroups));
        EXPECT_EQ(scene->particleBuffer, nullptr);
    }
}

TEST_F(SceneSmallOps, CameraCollectsNearInstancesWithModels) {
    Camera3D* cam = B3D_CameraAlloc();
    Tree t = MakeTree();
    for (Inst3D* i : {t.top, t.child, t.grandchild, t.second}) {
        i->flags |= INST_COLLISION_MODEL | INST_VIEW_DONE;
        i->radius = 10;
        i->worldPos = {100, 0, 0, 0};
    }
    t.child->flags &= ~INST_COLLISION_MODEL;     // no model: skipped, its children still visited
    t.second->flags2 |= INST2_JOB_TEST;          // excluded
    t.grandchild->worldPos = {100000, 0, 0, 0};  // too far for its own radius
    t.grandchild->totalRadius = -1;
    B3D_CameraCollectInsts(t.top, cam);
    ASSERT_EQ(cam->collectedCount, 1);
    EXPECT_EQ(cam->collected[0], t.top);
    EXPECT_EQ(g_B3DState->collectedInstCount, 1);
}

TEST_F(SceneSmallOps, BonesGoWhateverTheSkinFlagSaysNow) {
    Inst3D* inst = B3D_AllocInst();
    const int32_t before = g_B3DState->poolIBytes;
    inst->bones = static_cast<Inst3D**>(B3D_AllocMemI(3 * static_cast<int32_t>(sizeof(Inst3D*))));
    ASSERT_NE(inst->bones, nullptr);
    inst->boneCount = 3;
    inst->flags2 = 0;  // a story replaced the word that had the skin bit
    B3D_InstFreeBones(inst);
    EXPECT_EQ(inst->bones, nullptr);
    EXPECT_EQ(inst->boneCount, 0);
    EXPECT_EQ(g_B3DState->poolIBytes, before);
    B3D_InstFreeBones(inst);  // nothing left: nothing freed twice
    EXPECT_EQ(g_B3DState->poolIBytes, before);
}

TEST_F(SceneSmallOps, GroupBaseTextureBySortOfMaterial) {
    const MaterialDefinitions definitions{0, 0, 7};  // definition 2 names texture number 7

    char diffuseName[] = "t_DiffuseTexture", otherName[] = "t_BumpTexture";
    FXParameter withDiffuse[2] = {};
    withDiffuse[0] = {2, otherName, SPTYPE_LONG, {}};
    withDiffuse[0].value.i[0] = 31;
    withDiffuse[1] = {1, diffuseName, SPTYPE_LONG, {}};
    withDiffuse[1].value.i[0] = 0x10000 + 12;  // the low 16 bits
    FXEffectBlock effect{0, nullptr, 2, withDiffuse, 0}, bare{0, nullptr, 1, withDiffuse, 0};
    BodyMaterial materials[3] = {};
    materials[0].baseTexture = 9;
    materials[1].flags = BMAT_EFFECT;
    materials[1].effect = &effect;
    materials[2].flags = BMAT_EFFECT;
    materials[2].effect = &bare;
    Body3D own{}, global{};
    own.flags = BODY_MATERIAL6;
    own.materialCount = 3;
    own.materials = materials;

    const struct {
        const Body3D* body;
        int32_t material;
        uint16_t texture;
    } cases[] = {
        {&own, 0, 9},    {&own, 1, 12},   {&own, 2, 0},    {&own, 3, 0},          {&own, -5, 0xFFFB},
        {&global, 2, 7}, {&global, 1, 0}, {&global, 3, 0}, {&global, -1, 0xFFFF},
    };
    for (const auto& c : cases) {
        BodyGroup group{};
        group.material = c.material;
        EXPECT_EQ(B3D_GroupBaseTexture(&group, c.body), c.texture)
            << (c.body == &own ? "version 6, " : "global, ") << c.material;
    }
}

TEST_F(SceneSmallOps, SkinTable) {
    B3DState* s = g_B3DState;
    s->skinCount = 2;
    s->skins = static_cast<B3DSkinRow*>(B3D_AllocMemB(2 * sizeof(B3DSkinRow), B3D_MEM_ZERO));
    s->skins[0] = {4, Qel_StrDup("camo"), 2, nullptr, nullptr};
    s->skins[0].replaced = static_cast<int32_t*>(Int_AllocMem(2 * sizeof(int32_t), 0));
    s->skins[0].replacing = static_cast<int32_t*>(Int_AllocMem(2 * sizeof(int32_t), 0));
    s->skins[0].replaced[0] = 100;
    s->skins[0].replaced[1] = 101;
    s->skins[0].replacing[0] = 200;
    s->skins[0].replacing[1] = 201;
    s->skins[1] = {5, nullptr, 0, nullptr, nullptr};
    EXPECT_EQ(B3D_SkinFind(5), &s->skins[1]);
    EXPECT_EQ(B3D_SkinFind(6), nullptr);
    struct Case {
        int32_t texture, skin, answer;
    };
    const Case cases[] = {{101, 4, 201}, {102, 4, 102}, {100, 5, 100}, {100, 9, 100}};
    for (const Case& c : cases) EXPECT_EQ(B3D_SkinMapTexture(c.texture, c.skin), c.answer);
    B3D_FreeSkinTable();
    EXPECT_EQ(s->skins, nullptr);
    EXPECT_EQ(s->poolBBytes, 0);
}

TEST_F(SceneSmallOps, CameraItemsAndCaustics) {
    Scene3D* scene = B3D_SceneAlloc();
    Camera3D* cam = B3D_CameraAlloc();
    B3D_SceneLinkInst(scene, cam);
    for (int32_t key : {1, 2}) {
        auto* item = B3D_AllocRecordI<B3DCameraItem>();
        item->key = key;
        item->insts[0] = B3D_AllocInst();
        B3D_ListAppend(&cam->items, B3D_Node(item));
    }
    const uint32_t held = B3D_CameraFindItem(cam, 1)->insts[0]->id;
    B3D_FreeCameraItems(scene, 1);
    EXPECT_EQ(B3D_CameraFindItem(cam, 1), nullptr);
    EXPECT_EQ(B3D_InstFind(held), nullptr);
    B3D_FreeAllCameraItems();
    EXPECT_TRUE(B3D_ListIsEmpty(&cam->items));

    B3D_CameraSetCausticAnim(cam, 5);
    EXPECT_EQ(cam->causticTexture, 5);
    EXPECT_NE(cam->causticMaterial, nullptr);
    B3D_CameraSetCausticAnim(cam, -1);
    EXPECT_EQ(cam->causticTexture, 0);
    EXPECT_EQ(cam->causticMaterial, nullptr);
}

TEST_F(SceneSmallOps, BackgroundInfo) {
    EBM view{};
    view.width = 641;
    B3D_SetBackgroundInfo(&view);
    EXPECT_EQ(g_B3DState->backgroundRecord, &view);
    EXPECT_EQ(g_B3DState->backgroundHalf, 320);
    EXPECT_EQ(g_B3DState->backgroundScaled, 400);
}

TEST_F(SceneSmallOps, NewerPackedBodiesHideOlderOnes) {
    // Two catalogs: the older holds both packed forms of a body, the newer one packed form.
    std::vector<char> oldNames = {'o', 'b', 'j', '\\', 's',  'h', 'i', 'p', '.', 'p', 'b', 'b',
                                  0,   'o', 'b', 'j',  '\\', 's', 'h', 'i', 'p', '.', 'p', 'b',
                                  'd', 0,   'o', 't',  'h',  'e', 'r', '.', 't', 'x', 't', 0};
    std::vector<char> newNames = {'o', 'b', 'j', '\\', 's', 'h', 'i', 'p', '.', 'p', 'b', 'd', 0};
    QelCatalogEntry oldEntries[] = {{0, 1, &oldNames[0]}, {0, 1, &oldNames[13]}, {0, 1, &oldNames[26]}};
    QelCatalogEntry newEntries[] = {{0, 1, &newNames[0]}};
    char oldFile[] = "01.dat";
    QelCatalog older{3, oldNames.data(), 0, oldFile, QEL_CATALOG_PRIMARY, oldEntries};
    QelCatalog newer{1, newNames.data(), 0, nullptr, QEL_CATALOG_PRIMARY, newEntries};
    QelCatalog* slots[] = {&older, nullptr, &newer};
    system_->catalogs = slots;
    system_->catalogSlotCount = 3;
    LogCapture log;
    B3DB_FixCatalogs();
    system_->catalogs = nullptr;
    EXPECT_TRUE(log.Contains("found Catalog 01.dat with 3 files\n"));
    EXPECT_TRUE(log.Contains("found NULL pointer\n"));
    EXPECT_TRUE(log.Contains("found Catalog ***NULL*** with 1 files\n"));
    EXPECT_TRUE(log.Contains(" File obj\\ship.pbd found older file obj\\ship.pbd in catalog 0\n"));
    EXPECT_STREQ(oldEntries[0].name, "obj\\ship.pbX");
    EXPECT_STREQ(oldEntries[1].name, "obj\\ship.pbX");
    EXPECT_STREQ(oldEntries[2].name, "other.txt");
    EXPECT_STREQ(newEntries[0].name, "obj\\ship.pbd");
}

TEST_F(SceneSmallOps, CutBuffersHoldAHundredKeysPerTrack) {
    J3D_InitCutBuffers();
    int32_t bytes = 0;
    for (int32_t t = 0; t < J3D_KEY_TRACKS; ++t) {
        const J3D_KeyBuffer& b = g_B3DState->cutBuffers[t];
        EXPECT_EQ(b.capacity, 100) << t;
        EXPECT_EQ(b.count, 0) << t;
        EXPECT_NE(b.keys, nullptr) << t;
        bytes += 100 * J3D_KeySize(t);
    }
    EXPECT_EQ(g_B3DState->poolJBytes, bytes);
    // Sized again, they keep their room and forget their keys.
    g_B3DState->cutBuffers[2].count = 40;
    J3D_InitCutBuffers();
    EXPECT_EQ(g_B3DState->cutBuffers[2].count, 0);
    EXPECT_EQ(g_B3DState->poolJBytes, bytes);
}

TEST_F(SceneSmallOps, SceneWideWalksAndTableFrees) {
    // Frame marks of a scene's trees, kept during a replay.
    Scene3D* scene = B3D_SceneAlloc();
    Tree t = MakeTree();
    PutInScene(scene, t.top);
    for (Inst3D* i : {t.top, t.child, t.grandchild}) i->flags |= INST_FRAME_MARK;
    B3D_SetEngineFlags(B3D_ENGINE_REPLAYING);
    B3D_SceneClearFrameMarks(scene);
    EXPECT_NE(t.grandchild->flags & INST_FRAME_MARK, 0u);
    B3D_ClearEngineFlags(B3D_ENGINE_REPLAYING);
    B3D_SceneClearFrameMarks(scene);
    for (Inst3D* i : {t.top, t.child, t.grandchild}) EXPECT_EQ(i->flags & INST_FRAME_MARK, 0u);

    // Only cameras with a renderer object have a background to clear.
    Camera3D* drawn = B3D_CameraAlloc();
    Camera3D* idle = B3D_CameraAlloc();
    B3D_SceneLinkInst(scene, drawn);
    B3D_SceneLinkInst(scene, idle);
    drawn->camFlags |= 0x10;  // clear the target
    idle->camFlags |= 0x10;
    S_3DSetSceneViewPort(drawn);  // its renderer object
    {
        D3D9SpyDevice* spy = new D3D9SpyDevice();
        D3DDeviceRecord record{};
        record.device = spy;
        RendererState renderer{};
        renderer.device = &record;
        RendererState* saved = g_RendererState;
        g_RendererState = &renderer;
        B3D_ClearCameraBackgrounds();
        g_RendererState = saved;
        EXPECT_EQ(spy->Count("Clear"), 1);
        spy->Release();
    }
    S_3DFreeSceneCamera(drawn);

    // A table of heap strings is emptied and its strings freed.
    QelTable* names = Qel_TableCreate();
    Qel_TableSet(names, 4, reinterpret_cast<uintptr_t>(Qel_StrDup("four")));
    Qel_TableSet(names, 9, reinterpret_cast<uintptr_t>(Qel_StrDup("nine")));
    B3D_FreeStringTable(names);
    EXPECT_EQ(Qel_TableGetCount(names), 0u);
    Qel_TableFree(names);

    // The array table: each array of 20-byte elements, then the table.
    B3DState* s = g_B3DState;
    s->arrayTableCount = 2;
    s->arrayTable = static_cast<B3DArrayTableRow*>(Int_AllocMem(2 * sizeof(B3DArrayTableRow), 0));
    s->arrayTable[0] = {3, Int_AllocMem(60, 0)};
    s->arrayTable[1] = {0, nullptr};
    B3D_FreeArrayTable();
    EXPECT_EQ(s->arrayTable, nullptr);
    EXPECT_EQ(s->arrayTableCount, 0);
}

}  // namespace
