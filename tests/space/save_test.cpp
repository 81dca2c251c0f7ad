// The space section of save games: its bytes, the round trip of objects and
// takes, older blocks, and the corrupt sections the reader refuses.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/table.h"
#include "support/gamefolder.h"
#include "support/sectionfile.h"
#include "support/logcapture.h"
#include "scene/allocs.h"
#include "scene/caches.h"
#include "scene/freeing.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "space/create.h"
#include "space/cutscene.h"
#include "space/save.h"
#include "space/typesdb.h"
#include "space/space_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t WordAt(const Bytes& b, size_t at) {
    return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}
void SetWord(Bytes* b, size_t at, uint32_t w) {
    for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(w >> (24 - 8 * i));
}
std::string TagAt(const Bytes& b, size_t at) { return std::string(b.begin() + long(at), b.begin() + long(at) + 4); }

// Where the first object record starts, and its fixed block.
constexpr size_t kFirstObject = 4 + 4 + 108;
constexpr size_t kFixed = kFirstObject + 16;

// Where the record of an object starts, among objects without turret or
// dock-port blocks.
size_t RecordOf(const Bytes& b, uint32_t id) {
    size_t at = kFirstObject;
    while (at + 16 < b.size() && WordAt(b, at + 4) != id) {
        const size_t name = WordAt(b, at + 16 + 42 * 4);
        at += 16 + 200 + name + 4 + WordAt(b, at + 16 + 200 + name);
    }
    return at;
}

class SpaceSave : public SpaceTest {
protected:
    void SetUp() override {
        SpaceTest::SetUp();
        folder_ = std::make_unique<TempGameFolder>();
        system_->debugFlags = 0x80000000;
    }
    void TearDown() override {
        Clear();
        J3D_FreeAllCuts();
        folder_.reset();
        SpaceTest::TearDown();
    }
    void WriteCut(int id, const std::string& source) const { WriteSourceCut(*folder_, id, source); }
    // The section written through a gzip stream, read back decompressed.
    static Bytes Save() { return SectionWritten(SA_SaveSectors); }
    int Load(const Bytes& bytes) const { return SectionRead(*folder_, bytes, SA_ReadSectors); }
    // Everything of the running game goes, as before a load.
    void Clear() {
        SA_FreeAllObjects(&root_);
        ST_RemoveAllTakes(&root_);
    }
    // A ship type with turrets, a dock type with dock ports.
    static void ShipTypes(int32_t turrets) { Types(SA_MT_SHIP, 1)->field[SA_TF_SHIP_TURRET_COUNT] = turrets; }
    static void DockPorts(int32_t mainType, int32_t n) {
        TypeRecord* t = SA_GetTypeRecord(mainType, 0);
        ASSERT_NE(t, nullptr);
        t->dockPorts =
            static_cast<DockPortList*>(Int_AllocMem(sizeof(DockPortList), Int_MemTag(14) | INT_MEM_ZERO_TAIL));
        for (int32_t i = 0; i < n; ++i) SA_AppendDockPortEntry(t->dockPorts, DockPortEntry{i, i + 1, 0, 0});
    }
    static SectorObject* Find(uint32_t id) { return SA_LookupObject(id); }
    // An object whose instance the scene section would have kept: the object
    // lets go of it before the clear.
    static Inst3D* Detach(SectorObject* o) {
        Inst3D* inst = o->instance;
        o->instance = nullptr;
        return inst;
    }

    std::unique_ptr<TempGameFolder> folder_;
};

TEST_F(SpaceSave, AnEmptyGameWrites120Bytes) {
    root_.started = 1;
    root_.running = 1;
    root_.game.word1 = 11;
    root_.game.steering = 4;
    root_.game.lasersFired = 9;
    root_.game.laserHits = 3;
    root_.inCall = 0;
    const Bytes b = Save();
    ASSERT_EQ(b.size(), 120u);
    EXPECT_EQ(TagAt(b, 0), "SECT");
    EXPECT_EQ(WordAt(b, 4), 108u);
    const uint32_t expected[27] = {1, 1, 0, 0, 0, 0, 0, 0, 11, 0, 4, 0, 9, 0, 3};
    for (int i = 0; i < 27; ++i) EXPECT_EQ(WordAt(b, 8 + 4 * size_t(i)), expected[i]) << "word " << i;
    EXPECT_EQ(TagAt(b, 116), "/SEC");
    Clear();
    EXPECT_EQ(Load(b), 1);
    EXPECT_EQ(root_.game.laserHits, 3);
}

// A ship's record: the header, the fixed block, the name, the special block
// of 212 bytes, one turret block per turret of its type.
TEST_F(SpaceSave, AShipsRecordBytes) {
    ShipTypes(2);
    SectorObject* ship = New(SA_MT_SHIP);
    ship->name = Qel_StrReassign(ship->name, "Kestrel");
    ship->speed = 0x10000;
    ship->group = -3;
    const Bytes b = Save();
    ASSERT_EQ(TagAt(b, kFirstObject), "SOBJ");
    EXPECT_EQ(WordAt(b, kFirstObject + 4), ship->id);
    EXPECT_EQ(WordAt(b, kFirstObject + 8), uint32_t(SA_TypeCode(SA_MT_SHIP, 0)));
    EXPECT_EQ(WordAt(b, kFirstObject + 12), 200u);
    EXPECT_EQ(WordAt(b, kFixed + 4), 0x10000u);
    EXPECT_EQ(WordAt(b, kFixed + 24 * 4), 0xFFFFFFFDu);  // the group, sign-extended
    EXPECT_EQ(WordAt(b, kFixed + 19 * 4), ship->instance->id);
    EXPECT_EQ(WordAt(b, kFixed + 42 * 4), 8u);
    EXPECT_EQ(std::memcmp(b.data() + kFixed + 200, "Kestrel", 8), 0);
    const size_t special = kFixed + 200 + 8;
    EXPECT_EQ(WordAt(b, special), 212u);
    EXPECT_EQ(b.size(), special + 4 + 212 + 2 * 88 + 4);
    EXPECT_EQ(TagAt(b, b.size() - 4), "/SEC");
}

TEST_F(SpaceSave, ObjectsReferencesTakesAndInstancesComeBack) {
    ShipTypes(2);
    Types(SA_MT_DOCK, 1);
    DockPorts(SA_MT_DOCK, 2);
    SectorObject* sector = New(SA_MT_SECTOR);
    Scene3D* scene = B3D_SceneAlloc();
    O_Sector(sector)->spaceScene = scene;
    O_Sector(sector)->videoIndex = 3;
    SectorObject* dock = New(SA_MT_DOCK);
    SectorObject* ship = New(SA_MT_SHIP);
    SectorObject* ware = New(SA_MT_WARE_FIRST);
    SectorObject* missile = New(SA_MT_MISSILE);
    SectorObject* nameless = New(SA_MT_LASER);
    for (SectorObject* o : {dock, missile, nameless}) O_SetContainer(o, sector);
    O_SetContainer(ship, dock);
    O_SetContainer(ware, ship);
    nameless->name = Qel_StrFree(nameless->name);
    ship->name = Qel_StrReassign(ship->name, "Tern");
    ship->reference = dock;
    ship->reference3 = missile;
    static_cast<WareData*>(ware->typeData)->amount = 12;
    MissileData* m = O_MissileData(missile);
    m->target = ship;
    m->launcher = dock;
    ShipData* s = O_ShipData(ship);
    ASSERT_EQ(s->turretCount, 2);
    s->turrets[1].target = missile;
    s->turrets[1].mountMatrix[8] = 77;
    s->OrderTarget = dock;
    s->CourseType = 5;
    s->ThinkInterval = 750;  // not the default a new ship gets
    DockPortTable* ports = O_PortTable(dock);
    ASSERT_EQ(ports->slotCount, 0);  // built only with the dock's cut
    ports->slots =
        static_cast<DockPortSlot*>(Int_AllocMem(2 * sizeof(DockPortSlot), Int_MemTag(14) | INT_MEM_ZERO_TAIL));
    ports->slotCount = 2;
    ports->built = 1;
    Inst3D* port = B3D_AllocInst();
    ports->slots[1] = DockPortSlot{1, 0x11, 500, ship, port, nullptr, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}};
    SA_Take* take = ST_CreateTake(7, sector);
    take->flags = 1;
    take->cutId = 4242;  // not loaded: no path words
    root_.game.playerObject = ship;
    const uint32_t ids[] = {sector->id, dock->id, ship->id, ware->id, missile->id, nameless->id};

    const Bytes b = Save();
    Inst3D* shipInst = Detach(ship);
    Clear();
    ASSERT_EQ(Load(b), 1);

    SectorObject* sector2 = Find(ids[0]);
    SectorObject* dock2 = Find(ids[1]);
    SectorObject* ship2 = Find(ids[2]);
    SectorObject* ware2 = Find(ids[3]);
    SectorObject* missile2 = Find(ids[4]);
    SectorObject* laser2 = Find(ids[5]);
    ASSERT_TRUE(sector2 && dock2 && ship2 && ware2 && missile2 && laser2);
    EXPECT_EQ(O_Sector(sector2)->spaceScene, scene);
    EXPECT_EQ(O_Sector(sector2)->videoIndex, 3);
    EXPECT_EQ(dock2->container, sector2);
    EXPECT_EQ(ship2->container, dock2);
    EXPECT_EQ(ware2->container, ship2);
    EXPECT_EQ(SA_ChildIds(sector2), (std::vector<uint32_t>{ids[1], ids[4], ids[5]}));
    EXPECT_EQ(SA_ChildIds(ship2), (std::vector<uint32_t>{ids[3]}));
    EXPECT_STREQ(ship2->name, "Tern");
    EXPECT_EQ(laser2->name, nullptr);
    EXPECT_EQ(ship2->reference, dock2);
    EXPECT_EQ(ship2->reference3, missile2);
    EXPECT_EQ(static_cast<WareData*>(ware2->typeData)->amount, 12);
    EXPECT_EQ(O_MissileData(missile2)->target, ship2);
    EXPECT_EQ(O_MissileData(missile2)->launcher, dock2);
    const ShipData* s2 = O_ShipData(ship2);
    ASSERT_EQ(s2->turretCount, 2);
    EXPECT_EQ(s2->turrets[1].target, missile2);
    EXPECT_EQ(s2->turrets[1].mountMatrix[8], 77);
    EXPECT_EQ(s2->OrderTarget, dock2);
    EXPECT_EQ(s2->CourseType, 5);
    EXPECT_EQ(s2->ThinkInterval, 750);
    const DockPortTable* ports2 = O_PortTable(dock2);
    ASSERT_EQ(ports2->slotCount, 2);
    EXPECT_EQ(ports2->slots[1].occupant, ship2);
    EXPECT_EQ(ports2->slots[1].portInstance, port);
    EXPECT_EQ(ports2->slots[1].state[7], 8);
    EXPECT_EQ(ship2->instance, shipInst);
    EXPECT_TRUE(shipInst->flags2 & INST2_LOAD_KEEP);
    EXPECT_EQ(root_.game.playerObject, ship2);
    SA_Take* take2 = ST_FindTake(7);
    ASSERT_NE(take2, nullptr);
    EXPECT_EQ(take2->sector, sector2);
    EXPECT_EQ(take2->cutId, 4242);
    EXPECT_EQ(take2->slotCount, 0);
    B3D_InstFree(port);
}

// A dock-port slot the writer cannot reach still takes its block, zeroed,
// so the records after it read right.
TEST_F(SpaceSave, AnUnreachableDockPortWritesAZeroedBlock) {
    Types(SA_MT_DOCK, 1);
    DockPorts(SA_MT_DOCK, 2);
    SectorObject* sector = New(SA_MT_SECTOR);
    SectorObject* dock = New(SA_MT_DOCK);
    SectorObject* ware = New(SA_MT_WARE_FIRST);
    O_SetContainer(dock, sector);
    O_SetContainer(ware, sector);
    static_cast<WareData*>(ware->typeData)->amount = 5;
    const uint32_t wareId = ware->id;
    LogCapture log;
    const Bytes b = Save();
    EXPECT_TRUE(log.Contains("Skipped DockPort while Loading sector object " + std::to_string(dock->id))) << log.Text();
    Clear();
    ASSERT_EQ(Load(b), 1);
    ASSERT_NE(Find(wareId), nullptr);
    EXPECT_EQ(static_cast<WareData*>(Find(wareId)->typeData)->amount, 5);
}

TEST_F(SpaceSave, AnOlderBlockOf172BytesLoadsWithItsLastWordsAtZero) {
    SectorObject* sector = New(SA_MT_SECTOR);
    SectorObject* ware = New(SA_MT_WARE_FIRST);
    O_SetContainer(ware, sector);
    ware->reference3 = sector;
    ware->referenceIndex = 4;
    ware->lastMoveTime = 99;
    ware->hull = 321;
    const uint32_t id = ware->id;
    Bytes b = Save();
    // The ware's record: cut its block after word 42.
    const size_t at = RecordOf(b, id);
    const size_t fixed = at + 16;
    SetWord(&b, at + 12, 172);
    b.erase(b.begin() + long(fixed + 172), b.begin() + long(fixed + 200));
    Clear();
    ASSERT_EQ(Load(b), 1);
    SectorObject* back = Find(id);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->hull, 321);
    EXPECT_EQ(back->reference3, nullptr);
    EXPECT_EQ(back->referenceIndex, 0);
    EXPECT_EQ(back->lastMoveTime, 0);
}

// A name longer than the reader takes is cut when written, so the game loads.
TEST_F(SpaceSave, ALongNameIsCutToWhatTheReaderTakes) {
    SectorObject* sector = New(SA_MT_SECTOR);
    SectorObject* ware = New(SA_MT_WARE_FIRST);
    O_SetContainer(ware, sector);
    ware->name = Qel_StrReassign(ware->name, std::string(2000, 'n').c_str());
    const uint32_t id = ware->id;
    const Bytes b = Save();
    Clear();
    ASSERT_EQ(Load(b), 1);
    ASSERT_NE(Find(id), nullptr);
    EXPECT_EQ(std::string(Find(id)->name), std::string(SA_SAVE_MAX_NAME - 1, 'n'));
}

TEST_F(SpaceSave, HitsAreClampedToWhatWasFired) {
    root_.game.lasersFired = 5;
    root_.game.missilesFired = 2;
    Bytes b = Save();
    SetWord(&b, 8 + 14 * 4, 9);
    SetWord(&b, 8 + 15 * 4, 1);
    ASSERT_EQ(Load(b), 1);
    EXPECT_EQ(root_.game.laserHits, 5);
    EXPECT_EQ(root_.game.missileHits, 1);
}

// Objects freed before the save must not lend their IDs to new objects after
// the load: a story may still hold them.
TEST_F(SpaceSave, ANewObjectAfterALoadTakesAnIdAboveEveryLoadedOne) {
    SectorObject* sector = New(SA_MT_SECTOR);
    SectorObject* a = New(SA_MT_WARE_FIRST);
    SectorObject* b = New(SA_MT_WARE_FIRST);
    SectorObject* c = New(SA_MT_WARE_FIRST);
    O_SetContainer(c, sector);
    const uint32_t highest = c->id;
    O_DeleteSectorObject(a);
    O_DeleteSectorObject(b);
    const Bytes bytes = Save();
    Clear();
    Qel_TableSetNextKey(root_.ids, 0);  // as in a program just started
    ASSERT_EQ(Load(bytes), 1);
    SectorObject* fresh = New(SA_MT_WARE_FIRST);
    EXPECT_GT(fresh->id, highest);
}

TEST_F(SpaceSave, AnUnknownInstanceIdKeepsNoInstance) {
    SectorObject* sector = New(SA_MT_SECTOR);
    SectorObject* ware = New(SA_MT_WARE_FIRST);
    O_SetContainer(ware, sector);
    const uint32_t id = ware->id;
    Bytes b = Save();
    const size_t at = RecordOf(b, id);
    ASSERT_EQ(WordAt(b, at + 4), id);
    SetWord(&b, at + 16 + 19 * 4, 0x7000000);
    Clear();
    LogCapture log;
    ASSERT_EQ(Load(b), 1);
    EXPECT_TRUE(log.Contains("instance 117440512 not found")) << log.Text();
    EXPECT_EQ(Find(id)->instance, nullptr);
}

// Every corrupt length, count, type or reference fails the load with a log
// line, and nothing is read past it.
TEST_F(SpaceSave, CorruptSectionsFailWithALogLine) {
    ShipTypes(1);
    SectorObject* ship = New(SA_MT_SHIP);
    const uint32_t shipId = ship->id;
    ST_CreateTake(3, nullptr);
    const Bytes good = Save();
    // The ship is the only object; the take follows it.
    const size_t special = kFixed + 200 + WordAt(good, kFixed + 42 * 4);
    const size_t take = special + 4 + 212 + 88;
    ASSERT_EQ(TagAt(good, take), "STAK");
    struct Case {
        const char* what;
        std::function<void(Bytes*)> spoil;
        const char* line;
    };
    const Case cases[] = {
        {"wrong SECT", [](Bytes* b) { (*b)[0] = 'X'; }, "wrong SECT cookie"},
        {"root block of 112", [](Bytes* b) { SetWord(b, 4, 112); }, "wrong root block length 112"},
        {"wrong SOBJ", [](Bytes* b) { (*b)[kFirstObject] = 'X'; }, "wrong SOBJ cookie"},
        {"fixed block of 196", [](Bytes* b) { SetWord(b, kFirstObject + 12, 196); }, "wrong object block length"},
        {"special block of 208", [=](Bytes* b) { SetWord(b, special, 208); }, "wrong special block length"},
        {"name of 1025", [](Bytes* b) { SetWord(b, kFixed + 42 * 4, 1025); }, "name too long"},
        {"main type 32", [](Bytes* b) { SetWord(b, kFirstObject + 8, 32u << 16); }, "invalid type code 00200000"},
        {"subtype beyond the table", [](Bytes* b) { SetWord(b, kFirstObject + 8, 7u << 16 | 1); },
         "invalid type code 00070001"},
        {"object ID 0", [](Bytes* b) { SetWord(b, kFirstObject + 4, 0); }, "invalid or repeated object ID"},
        {"container names no container", [=](Bytes* b) { SetWord(b, kFixed + 14 * 4, 999); },
         "container names no container"},
        {"its own container", [=](Bytes* b) { SetWord(b, kFixed + 14 * 4, shipId); }, "container cycle"},
        {"take paths above the bound", [=](Bytes* b) { SetWord(b, take + 8 + 16, 65537); },
         "65537 paths, its cut 0 has 65536"},
        {"wrong STAK", [=](Bytes* b) { (*b)[take] = 'X'; }, "wrong STAK cookie"},
        {"take block of 24", [=](Bytes* b) { SetWord(b, take + 4, 24); }, "wrong take block"},
        {"wrong /SEC", [](Bytes* b) { b->back() = 'X'; }, "wrong /SEC cookie"},
        {"cut short", [](Bytes* b) { b->erase(b->end() - 10, b->end()); }, "SA_LoadSectors()"},
        {"object count above the records", [](Bytes* b) { SetWord(b, 8 + 2 * 4, 0x7fffffff); }, "wrong SOBJ cookie"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes b = good;
        c.spoil(&b);
        Clear();
        LogCapture log;
        EXPECT_EQ(Load(b), 0);
        EXPECT_TRUE(log.Contains(c.line)) << log.Text();
    }
    Clear();
    EXPECT_EQ(Load(good), 1);
}

// A take of a loaded cut: one object ID per path of the cut, read back into
// its path objects; a path count above the cut's fails.
TEST_F(SpaceSave, ATakeKeepsThePathObjectsOfItsCut) {
    WriteCut(501, "path 0 -1\npath 1 -1\n");
    ASSERT_NE(J3D_GetCut(501), nullptr);
    SectorObject* sector = New(SA_MT_SECTOR);
    SectorObject* ware = New(SA_MT_WARE_FIRST);
    O_SetContainer(ware, sector);
    SA_Take* take = ST_CreateTake(9, sector);
    take->cutId = 501;
    take->flags = 1;
    take->slots = static_cast<SA_TakeSlot*>(Int_AllocMem(2 * sizeof(SA_TakeSlot), Int_MemTag(14) | INT_MEM_ZERO_TAIL));
    take->slotCount = 2;
    take->slots[1].object = ware;
    const uint32_t ids[] = {sector->id, ware->id};
    Bytes b = Save();
    const size_t at = b.size() - 4 - 8 - 28;
    ASSERT_EQ(TagAt(b, at), "STAK");
    const uint32_t expected[] = {20, 9, 501, ids[0], 1, 2, 0, ids[1]};
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(WordAt(b, at + 4 + 4 * i), expected[i]) << "word " << i;
    Clear();
    ASSERT_EQ(Load(b), 1);
    SA_Take* back = ST_FindTake(9);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->sector, Find(ids[0]));
    ASSERT_EQ(back->slotCount, 2);
    EXPECT_EQ(back->slots[0].object, nullptr);
    EXPECT_EQ(back->slots[1].object, Find(ids[1]));
    SetWord(&b, at + 24, 3);
    Clear();  // the take's unload freed the cut
    ASSERT_NE(J3D_GetCut(501), nullptr);
    LogCapture log;
    EXPECT_EQ(Load(b), 0);
    EXPECT_TRUE(log.Contains("take 9: 3 paths, its cut 501 has 2")) << log.Text();
}

// Two containers that name each other close a cycle.
TEST_F(SpaceSave, ContainersNamingEachOtherFail) {
    SectorObject* a = New(SA_MT_GATE);
    SectorObject* b = New(SA_MT_GATE);
    const uint32_t ids[] = {a->id, b->id};
    Bytes bytes = Save();
    SetWord(&bytes, RecordOf(bytes, ids[0]) + 16 + 14 * 4, ids[1]);
    SetWord(&bytes, RecordOf(bytes, ids[1]) + 16 + 14 * 4, ids[0]);
    Clear();
    LogCapture log;
    EXPECT_EQ(Load(bytes), 0);
    EXPECT_TRUE(log.Contains("container cycle")) << log.Text();
}

}  // namespace
