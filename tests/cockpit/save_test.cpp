// The cockpit section of save games: its bytes, the round trip of cockpits
// with their references by id, and the damaged sections the reader refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/table.h"
#include "cockpit/panels.h"
#include "cockpit/save.h"
#include "cockpit/scenes.h"
#include "cockpit/ticker.h"
#include "cockpit_fixture.h"
#include "scene/allocs.h"
#include "scene/records.h"
#include "support/gamefolder.h"
#include "support/sectionfile.h"
#include "support/logcapture.h"
#include "system/clock.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t WordAt(const Bytes& b, size_t at) {
    return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}
void SetWord(Bytes* b, size_t at, uint32_t w) {
    for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(w >> (24 - 8 * i));
}
void PutWord(Bytes* b, uint32_t w) {
    b->resize(b->size() + 4);
    SetWord(b, b->size() - 4, w);
}
void PutTag(Bytes* b, const char* tag) { b->insert(b->end(), tag, tag + 4); }

constexpr size_t kHeader = 4 + 4 + 40;
constexpr size_t kRecord = 4 + 4 + 1348 + 16 * 4 + 4;
constexpr size_t kBlock = 8;  // the block within a record

class CockpitSave : public CockpitTest {
protected:
    void SetUp() override {
        CockpitTest::SetUp();
        folder_ = std::make_unique<TempGameFolder>();
    }
    void TearDown() override {
        INS_FreeCockpitSystem();
        folder_.reset();
        CockpitTest::TearDown();
    }
    // The section written through a gzip stream, read back decompressed.
    static Bytes Save(int expected = 1) { return SectionWritten(ID_Save, expected); }
    int Load(const Bytes& bytes) const { return SectionRead(*folder_, bytes, ID_Load); }
    static void SetHeader() {
        CockpitSystem* s = g_CockpitSystem;
        s->stateWords[0] = 2;
        s->stateWords[1] = 3;
        s->timeWarpFactor = 4;
        s->unitDisplay = 5;
        s->hudFont = 6;
        s->radarOn = 0;
        s->overlayBrackets = 1;
        s->statusFlags = 4;
        s->crossHair = 9;
    }

    // The system goes as before a load, but the scene records of its
    // cockpits stay, as the scene section would bring them back.
    // The scene engine keeps the cockpits' scenes and the instances of the
    // slots the section saves: the old cockpits let go of them.
    static void NewSystemKeepingScenes() {
        for (uint32_t id : INS_CockpitIds(g_CockpitSystem)) {
            Cockpit* c = INS_TableGet(g_CockpitSystem, id);
            c->scene = c->camera = 0;
            std::fill(std::begin(c->lights), std::end(c->lights), 0u);
            std::vector<InstSlot*> slots = {&c->gridSlot};
            for (InstSlot& slot : c->hudParts) slots.push_back(&slot);
            if (CockpitPanels* p = c->panels) {
                for (PanelRecord* panel : {&p->message, &p->navMap})
                    for (InstSlot& slot : panel->slots) slots.push_back(&slot);
                slots.push_back(&p->box.slot);
                for (InstSlot& slot : p->targets.slots) slots.push_back(&slot);
            }
            for (InstSlot* slot : slots) slot->inst = 0;
        }
        INS_NewCockpitSystem();
    }

    std::unique_ptr<TempGameFolder> folder_;
};

TEST_F(CockpitSave, AGameWithoutCockpitsWritesTheHeaderOnly) {
    SetHeader();
    Bytes golden;
    PutTag(&golden, "INS ");
    for (uint32_t w : {40u, 0u, 2u, 3u, 4u, 5u, 0u, 6u, 0u, 4u, 9u}) PutWord(&golden, w);
    PutTag(&golden, "/INS");
    const Bytes saved = Save();
    EXPECT_EQ(saved, golden);

    INS_NewCockpitSystem();
    ASSERT_EQ(Load(saved), 1);
    const CockpitSystem* s = g_CockpitSystem;
    EXPECT_EQ(s->stateWords[0], 2);
    EXPECT_EQ(s->stateWords[1], 3);
    EXPECT_EQ(s->timeWarpFactor, 4);
    EXPECT_EQ(s->unitDisplay, 5);
    EXPECT_EQ(s->hudFont, -1);  // opened anew, never taken from the save
    EXPECT_EQ(s->radarOn, 0);
    EXPECT_EQ(s->overlayBrackets, 0);  // not saved
    EXPECT_EQ(s->statusFlags, 4u);
    EXPECT_EQ(s->crossHair, 9);
}

TEST_F(CockpitSave, TwoCockpitsWriteTheirBlocksInKeyOrder) {
    system_->gameClock = 1234;
    SectorObject* sector = New(SA_MT_SECTOR);
    SectorObject* ship = Ship();
    Cockpit* a = AddCockpit();
    Cockpit* b = AddCockpit();
    a->refObject = ship;
    a->cockpitRefObject = ship;
    a->sectorSpace = sector;
    a->viewAngles[1] = -7;
    a->targetViewAngles[2] = 300;
    a->viewLock = 1;
    a->viewMode = 5;
    a->trackedObject = ship;
    a->trackingMode = -2;
    a->missileType = 5;
    a->missileValues[0] = 20;
    a->missileValues[1] = 10;
    a->gridOn = 1;
    a->shading = 77;
    g_CockpitSystem->activeControl = static_cast<int32_t>(a->id);
    const Bytes saved = Save();
    ASSERT_EQ(saved.size(), kHeader + 2 * kRecord + 4);
    EXPECT_EQ(WordAt(saved, 8), 2u);
    EXPECT_EQ(WordAt(saved, 8 + 5 * 4), a->id);

    // Every word of the first block that is not zero, by byte offset.
    std::map<size_t, uint32_t> words = {
        {0, a->id},       {4, a->scene},
        {8, a->camera},   {12, ship->id},
        {16, ship->id},   {20, 16},
        {24, sector->id}, {44, uint32_t(-7)},
        {72, 300},        {112, 1},
        {128, 5},         {168, uint32_t(-1)},
        {172, ship->id},  {176, uint32_t(-2)},
        {180, 1},         {196, 1234},
        {204, 1234},      {216, 1},
        {220, 10000000},  {224, 10000000},
        {240, 1234},      {244, 5},
        {252, 20},        {256, 10},
        {260, 16384},     {272, 1},
        {276, 65536},     {304, 1},
        {312, 1},         {316, 1},
        {320, 1},         {328, 77},
    };
    size_t at = kHeader;
    EXPECT_EQ(std::string(saved.begin() + long(at), saved.begin() + long(at) + 4), "ICOC");
    EXPECT_EQ(WordAt(saved, at + 4), 1348u);
    for (size_t off = 0; off < 1348; off += 4)
        EXPECT_EQ(WordAt(saved, at + kBlock + off), words.count(off) ? words[off] : 0u) << "offset " << off;
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(WordAt(saved, at + kBlock + 1348 + 4 * i), a->lights[i]) << i;
    EXPECT_EQ(std::string(saved.begin() + long(at + kRecord - 4), saved.begin() + long(at + kRecord)), "/ICO");
    EXPECT_EQ(WordAt(saved, at + kRecord + kBlock), b->id);
    EXPECT_EQ(std::string(saved.end() - 4, saved.end()), "/INS");
}

TEST_F(CockpitSave, ARoundTripRestoresReferencesById) {
    SectorObject* sector = New(SA_MT_SECTOR);
    SectorObject* ship = Ship();
    SectorObject* target = Ship(100);
    Cockpit* a = AddCockpit();
    Cockpit* b = AddCockpit();
    a->cockpitRefObject = ship;
    a->sectorSpace = sector;
    a->trackedObject = target;
    a->viewPos[0] = 42;
    a->posAngles[1][2] = 9;
    a->cockpitNumber = 2;
    a->monitorNumber = 0;
    Camera3D* story = B3D_CameraAlloc();
    Camera3D* hidden = B3D_CameraAlloc();
    ASSERT_TRUE(story && hidden);
    a->sectorCamera = story->inst.id;
    hidden->inst.flags2 |= INST2_NOT_SAVED;
    a->dustCamera = hidden->inst.id;
    const uint32_t aId = a->id, bId = b->id, scene = a->scene, light = a->lights[3];
    g_CockpitSystem->activeControl = static_cast<int32_t>(bId);
    // The tracked object is killed before the save.
    target->flags |= SA_FLAG_KILLED;
    const Bytes saved = Save();

    NewSystemKeepingScenes();
    ASSERT_EQ(Load(saved), 1);
    ASSERT_EQ(Qel_TableGetCount(g_CockpitSystem->cockpits), 2u);
    const Cockpit* got = INS_TableGet(g_CockpitSystem, aId);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->id, aId);
    EXPECT_EQ(got->cockpitRefObject, ship);
    EXPECT_EQ(got->sectorSpace, sector);
    EXPECT_EQ(got->trackedObject, nullptr);
    EXPECT_EQ(got->viewPos[0], 42);
    EXPECT_EQ(got->posAngles[1][2], 9);
    EXPECT_EQ(got->cockpitNumber, 2);
    EXPECT_EQ(got->monitorNumber, 0);
    EXPECT_EQ(got->sectorCamera, story->inst.id);
    EXPECT_EQ(got->dustCamera, 0u);  // flag 0x400 reads back null
    // The scene engine kept the cockpit scene (this test frees nothing of
    // it): the cockpit takes it back with its lights.
    EXPECT_EQ(got->scene, scene);
    EXPECT_EQ(got->lights[3], light);
    EXPECT_NE(IC_FindInst(light)->flags & 128u, 0u);
    EXPECT_NE(INS_TableGet(g_CockpitSystem, bId), nullptr);
    EXPECT_EQ(g_CockpitSystem->activeControl, static_cast<int32_t>(bId));
    EXPECT_EQ(INS_FindCockpitByShip(ship), got);
    // Saved again, the section is the same.
    EXPECT_EQ(Save(), saved);
}

// The HUD record goes into the block after the shading word: the laser-range
// flag, the radar's target range, the tracked object seen last, the
// highlight count and time. A cockpit whose HUD was never drawn reads back
// without one; a last-tracked object killed before the save reads back as none.
TEST_F(CockpitSave, TheHudRecordRoundTrips) {
    SectorObject* seen = Ship();
    SectorObject* gone = Ship(100);
    Cockpit* a = AddCockpit();
    Cockpit* b = AddCockpit();
    Cockpit* plain = AddCockpit();
    const struct {
        Cockpit* cockpit;
        SectorObject* last;
        uint32_t lastSaved;
    } cases[] = {{a, seen, seen->id}, {b, gone, 0}};
    for (const auto& c : cases) {
        CockpitHud* hud = INS_Hud(c.cockpit);
        ASSERT_NE(hud, nullptr);
        hud->inLaserRange = 1;
        hud->targetRange = 25000;
        hud->lastTracked = c.last->id;
        hud->highlightCount = 2;
        hud->nextHighlight = 31000;
    }
    gone->flags |= SA_FLAG_KILLED;
    const uint32_t ids[] = {a->id, b->id, plain->id};
    const Bytes saved = Save();
    for (size_t i = 0; i < 2; ++i) {
        const size_t block = kHeader + i * kRecord + kBlock;
        EXPECT_EQ(WordAt(saved, block + 332), 1u) << i;
        EXPECT_EQ(WordAt(saved, block + 336), 25000u) << i;
        EXPECT_EQ(WordAt(saved, block + 340), cases[i].lastSaved) << i;
        EXPECT_EQ(WordAt(saved, block + 344), 2u) << i;
        EXPECT_EQ(WordAt(saved, block + 348), 31000u) << i;
    }

    NewSystemKeepingScenes();
    ASSERT_EQ(Load(saved), 1);
    for (size_t i = 0; i < 2; ++i) {
        const Cockpit* got = INS_TableGet(g_CockpitSystem, ids[i]);
        ASSERT_NE(got, nullptr);
        ASSERT_NE(got->hud, nullptr) << i;
        EXPECT_EQ(got->hud->inLaserRange, 1) << i;
        EXPECT_EQ(got->hud->targetRange, 25000) << i;
        EXPECT_EQ(got->hud->lastTracked, cases[i].lastSaved) << i;
        EXPECT_EQ(got->hud->highlightCount, 2) << i;
        EXPECT_EQ(got->hud->nextHighlight, 31000) << i;
    }
    EXPECT_EQ(INS_TableGet(g_CockpitSystem, ids[2])->hud, nullptr);
    EXPECT_EQ(Save(), saved);
}

// The message display's and the map's frame slots and words stand at 1232
// to 1344 of the block and come back with their instances.
TEST_F(CockpitSave, TheMessageDisplayAndMapKeepTheirFrames) {
    Cockpit* a = AddCockpit();
    Cockpit* b = AddCockpit();
    system_->gameClock = 5000;
    INS_MessageCall(a, "hi", 0);
    INS_SetNavMap(a, 1);
    system_->gameClock = 6000;
    INS_NavMapStep(a);
    const CockpitPanels* p = a->panels;
    ASSERT_NE(p, nullptr);
    const uint32_t aId = a->id, bId = b->id, message = p->message.slots[0].inst, map = p->navMap.slots[2].inst;
    const Bytes saved = Save();
    const size_t at = kHeader + kBlock;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(WordAt(saved, at + 1232 + 16 * i), 1u);
        EXPECT_EQ(WordAt(saved, at + 1232 + 16 * i + 4), p->message.slots[i].inst);
        EXPECT_EQ(WordAt(saved, at + 1232 + 16 * i + 8), uint32_t(-1));
        EXPECT_EQ(WordAt(saved, at + 1292 + 16 * i + 4), p->navMap.slots[i].inst);
    }
    for (auto [off, word] : std::map<size_t, uint32_t>{{1280, 5000}, {1284, 0}, {1288, 1}, {1340, 6000}, {1344, 2}})
        EXPECT_EQ(WordAt(saved, at + off), word) << off;
    for (size_t off = 1232; off < 1348; off += 4) EXPECT_EQ(WordAt(saved, at + kRecord + off), 0u) << off;

    // The scene section brings the frame instances back.
    NewSystemKeepingScenes();
    ASSERT_EQ(Load(saved), 1);
    const Cockpit* got = INS_TableGet(g_CockpitSystem, aId);
    ASSERT_TRUE(got && got->panels);
    EXPECT_EQ(got->panels->message.slots[0].inst, message);
    EXPECT_EQ(got->panels->message.slots[0].state, 1u);
    EXPECT_NE(IC_FindInst(message)->flags & 128u, 0u);
    EXPECT_EQ(got->panels->navMap.slots[2].inst, map);
    EXPECT_EQ(got->panels->message.state, INS_PANEL_OPENING);
    EXPECT_EQ(got->panels->message.duration, 0);
    EXPECT_EQ(got->panels->navMap.state, INS_PANEL_OPEN);
    EXPECT_EQ(got->panels->navMap.stateTime, 6000);
    EXPECT_EQ(INS_TableGet(g_CockpitSystem, bId)->panels, nullptr);
    EXPECT_EQ(Save(), saved);
    // A state no display has reads as closed.
    Bytes damaged = saved;
    SetWord(&damaged, at + 1288, 9);
    NewSystemKeepingScenes();
    ASSERT_EQ(Load(damaged), 1);
    EXPECT_EQ(INS_TableGet(g_CockpitSystem, aId)->panels->message.state, INS_PANEL_CLOSED);
}

// The grid slot (288), the six HUD parts (376), the camera message box (480
// and its word at 496), the forty target bodies (500) and their enable word
// (1140) go by instance id and come back through the slot restore. A slot
// whose instance is gone gets a new one; a target body whose instance is
// gone keeps the one its record made.
TEST_F(CockpitSave, TheHudSlotsAndTargetBodiesRoundTrip) {
    Cockpit* a = AddCockpit();
    IC_SlotInit(&a->gridSlot, 5, 7);
    a->gridSlot.state = 1;
    for (int32_t i = 0; i < IC_HUD_PARTS; ++i) {
        IC_SlotInit(&a->hudParts[i], i, static_cast<uint32_t>(100 + i));
        a->hudParts[i].state = static_cast<uint32_t>(i);
    }
    CockpitPanels* p = INS_Panels(a);
    ASSERT_NE(p, nullptr);
    INS_EnableTargetBodies(a, 0);
    p->targets.slots[39].state = 1;
    IC_SlotInit(&p->box.slot, 3, 9);
    p->box.slot.state = 1;
    p->box.shown = 1;
    const uint32_t aId = a->id, grid = a->gridSlot.inst, part0 = a->hudParts[0].inst, part5 = a->hudParts[5].inst;
    const uint32_t box = p->box.slot.inst, target0 = p->targets.slots[0].inst, target39 = p->targets.slots[39].inst;
    const Bytes saved = Save();
    const size_t at = kHeader + kBlock;
    std::map<size_t, uint32_t> words = {
        {288, 1},       {292, grid}, {296, 5},  {300, 7},           {480, 1},
        {484, box},     {488, 3},    {492, 9},  {496, 1},           {500, 0},
        {504, target0}, {508, 0},    {1140, 0}, {500 + 16 * 39, 1}, {504 + 16 * 39, target39}};
    for (int32_t i = 0; i < IC_HUD_PARTS; ++i) {
        const size_t off = 376 + 16 * static_cast<size_t>(i);
        words[off] = static_cast<uint32_t>(i);
        words[off + 4] = a->hudParts[i].inst;
        words[off + 8] = static_cast<uint32_t>(i);
        words[off + 12] = static_cast<uint32_t>(100 + i);
    }
    for (auto [off, word] : words) EXPECT_EQ(WordAt(saved, at + off), word) << off;

    // The scene engine brings back all but the last HUD part and the first
    // target body.
    NewSystemKeepingScenes();
    B3D_InstFree(IC_FindInst(part5));
    B3D_InstFree(IC_FindInst(target0));
    ASSERT_EQ(Load(saved), 1);
    const Cockpit* got = INS_TableGet(g_CockpitSystem, aId);
    ASSERT_TRUE(got && got->panels);
    EXPECT_EQ(got->gridSlot.inst, grid);
    EXPECT_EQ(got->gridSlot.state, 1u);
    EXPECT_EQ(got->gridSlot.kind, 5);
    EXPECT_EQ(got->gridSlot.extra, 7u);
    EXPECT_NE(IC_FindInst(grid)->flags & 128u, 0u);
    EXPECT_EQ(got->hudParts[0].inst, part0);
    EXPECT_EQ(got->hudParts[4].state, 4u);
    const InstSlot& remade = got->hudParts[5];
    ASSERT_NE(IC_FindInst(remade.inst), nullptr);
    EXPECT_NE(remade.inst, part5);
    EXPECT_EQ(remade.state, 0u);
    EXPECT_EQ(remade.kind, -1);
    EXPECT_EQ(remade.extra, 105u);
    const CockpitPanels* q = got->panels;
    EXPECT_EQ(q->box.slot.inst, box);
    EXPECT_EQ(q->box.slot.kind, 3);
    EXPECT_EQ(q->box.shown, 1);
    EXPECT_EQ(q->targets.enable, 0);
    EXPECT_EQ(q->targets.slots[39].inst, target39);
    EXPECT_EQ(q->targets.slots[39].state, 1u);
    const Inst3D* made = IC_FindInst(q->targets.slots[0].inst);
    ASSERT_NE(made, nullptr);
    EXPECT_NE(made->id, target0);
    EXPECT_EQ(made->flags & 24u, 24u);  // as the record made it
}

TEST_F(CockpitSave, DamagedSectionsFailAndBuildNothing) {
    AddCockpit();
    AddCockpit()->lights[0] = 0;
    const Bytes good = Save();
    const size_t first = kHeader, second = kHeader + kRecord;
    struct Case {
        const char* what;
        std::function<void(Bytes*)> damage;
        const char* line;
    };
    const Case cases[] = {
        {"INS tag", [](Bytes* b) { (*b)[0] = 'X'; }, "ID_Load() Wrong INS cookie\n"},
        {"header size 36", [](Bytes* b) { SetWord(b, 4, 36); }, "ID_Load() Wrong header size 36\n"},
        {"header size 44", [](Bytes* b) { SetWord(b, 4, 44); }, "ID_Load() Wrong header size 44\n"},
        {"count 3", [](Bytes* b) { SetWord(b, 8, 3); }, "IC_Load() Wrong ICOC cookie\n"},
        {"count huge", [](Bytes* b) { SetWord(b, 8, 0xFFFFFFFFu); }, "ID_Load() Wrong cockpit count 4294967295\n"},
        {"ICOC tag", [&](Bytes* b) { (*b)[second] = 'X'; }, "IC_Load() Wrong ICOC cookie\n"},
        {"block size", [&](Bytes* b) { SetWord(b, first + 4, 1344); }, "IC_Load() Wrong block size 1344\n"},
        {"L 17", [&](Bytes* b) { SetWord(b, first + kBlock + 20, 17); }, "IC_Load() Wrong light count 17\n"},
        {"L -1", [&](Bytes* b) { SetWord(b, first + kBlock + 20, 0xFFFFFFFFu); },
         "IC_Load() Wrong light count 4294967295\n"},
        {"N 41", [&](Bytes* b) { SetWord(b, first + kBlock + 308, 41); }, "IC_Load() Wrong entry count 41\n"},
        {"N 1, shifted", [&](Bytes* b) { SetWord(b, second + kBlock + 308, 1); }, "IC_Load() Wrong /ICO cookie\n"},
        {"N 1, flag 2",
         [&](Bytes* b) {
             SetWord(b, second + kBlock + 308, 1);
             SetWord(b, second + kBlock + 1348, 2);
         },
         "IC_Load() Wrong entry flag 2\n"},
        {"id 0", [&](Bytes* b) { SetWord(b, second + kBlock, 0); }, "IC_Load() Wrong cockpit id 0\n"},
        {"id twice", [&](Bytes* b) { SetWord(b, second + kBlock, WordAt(*b, first + kBlock)); },
         "ID_Load() cockpit 2 saved twice\n"},
        {"laser range flag 2", [&](Bytes* b) { SetWord(b, first + kBlock + 332, 2); },
         "IC_Load() Wrong laser range flag 2\n"},
        {"highlight count 4", [&](Bytes* b) { SetWord(b, first + kBlock + 344, 4); },
         "IC_Load() Wrong highlight count 4\n"},
        {"/ICO tag", [&](Bytes* b) { (*b)[second - 1] = 'X'; }, "IC_Load() Wrong /ICO cookie\n"},
        {"/INS tag", [](Bytes* b) { b->back() = 'X'; }, "ID_Load() Wrong /INS cookie\n"},
        {"cut short", [](Bytes* b) { b->erase(b->end() - 30, b->end()); }, "IC_Load() the cockpit record ends early\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        INS_NewCockpitSystem();
        const uint32_t kept = INS_AddCockpit(g_CockpitSystem);
        g_CockpitSystem->unitDisplay = 77;
        Bytes bad = good;
        c.damage(&bad);
        LogCapture log;
        EXPECT_EQ(Load(bad), 0);
        EXPECT_TRUE(log.Contains(c.line)) << log.Text();
        // Nothing half-built: the system is as it was.
        EXPECT_EQ(Qel_TableGetCount(g_CockpitSystem->cockpits), 1u);
        EXPECT_NE(INS_TableGet(g_CockpitSystem, kept), nullptr);
        EXPECT_EQ(g_CockpitSystem->unitDisplay, 77);
    }
}

TEST_F(CockpitSave, EntriesAreReadOverAndFewerLightsLeaveTheRestNull) {
    Cockpit* a = AddCockpit();
    const Bytes good = Save();
    // One empty entry and one with a slot, and 2 lights of 16.
    Bytes b(good.begin(), good.begin() + long(kHeader + kBlock + 1348));
    SetWord(&b, kHeader + kBlock + 308, 2);
    SetWord(&b, kHeader + kBlock + 20, 2);
    PutWord(&b, 0);
    PutWord(&b, 1);
    for (uint32_t w : {1u, 0u, uint32_t(-1), 0u}) PutWord(&b, w);
    PutWord(&b, a->lights[0]);
    PutWord(&b, 999999);
    PutTag(&b, "/ICO");
    PutTag(&b, "/INS");
    const uint32_t light0 = a->lights[0], id = a->id;
    // The saved scene is gone: the cockpit keeps the set it was made with.
    const uint32_t scene = a->scene;
    INS_NewCockpitSystem();
    ASSERT_EQ(Load(b), 1);
    const Cockpit* got = INS_TableGet(g_CockpitSystem, id);
    ASSERT_NE(got, nullptr);
    EXPECT_NE(got->scene, scene);
    EXPECT_NE(IC_FindScene(got->scene), nullptr);
    EXPECT_EQ(IC_FindInst(light0), nullptr);
}

TEST_F(CockpitSave, AFailedWriteFailsTheSave) {
    AddCockpit();
    for (int64_t budget : {int64_t{10}, int64_t{kHeader + 100}, int64_t{kHeader + kRecord + 2}}) {
        SCOPED_TRACE(budget);
        QelFile* f = Qel_fcopen("ins.bin", "wb", 0);
        ASSERT_NE(f, nullptr);
        g_QelFileFaults.writeBudget = budget;
        LogCapture log;
        EXPECT_EQ(ID_Save(f), 0);
        g_QelFileFaults = QelFileFaults{};
        Qel_fclose(f);
        EXPECT_FALSE(log.Text().empty());
    }
}

}  // namespace
