// The galaxy's gate grid: routes on small hand-made networks, routes on
// seeded random networks against the search as first written, the checks of
// every call, the engine calls, and the "GALA" section.
#include "cockpit/galaxy.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/file.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "support/galaxy_reference.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "support/syscall_runner.h"

namespace {

using galaxy_reference::Answer;
using Bytes = std::vector<uint8_t>;

struct Place {
    int32_t row, column;
};

class GalaxyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(GS_AllocGalaxy(&grid_, GS_ROWS, GS_COLUMNS), 1);
        g_GalaxyGrid = &grid_;
    }
    void TearDown() override {
        GS_FreeGalaxy(&grid_);
        g_GalaxyGrid = nullptr;
    }

    // One gate, its position in stored units.
    void Gate(Place from, int32_t gate, Place to, int32_t toGate, int32_t x, int32_t y, int32_t z = 0) {
        const int32_t p[3] = {x * GS_POSITION_SCALE, y * GS_POSITION_SCALE, z * GS_POSITION_SCALE};
        GS_AddGate(&grid_, from.row, from.column, gate, to.row, to.column, toGate, p);
    }
    // A pair of gates, one each way.
    void Pair(Place a, int32_t gateA, Place b, int32_t gateB, const std::vector<int32_t>& posA,
              const std::vector<int32_t>& posB) {
        Gate(a, gateA, b, gateB, posA[0], posA[1], posA[2]);
        Gate(b, gateB, a, gateA, posB[0], posB[1], posB[2]);
    }
    Answer Ask(Place from, Place to) {
        return {GS_Route(&grid_, from.row, from.column, to.row, to.column),
                GS_RouteDist(&grid_, from.row, from.column, to.row, to.column),
                GS_RouteLen(&grid_, from.row, from.column, to.row, to.column)};
    }
    // The section as the grid saves it.
    Bytes Saved() {
        QelFile* f = Qel_fopen("gala.sav", "wb", 0);
        EXPECT_NE(f, nullptr);
        EXPECT_EQ(GS_SaveGame(f), 1);
        Qel_fclose(f);
        return folder_.Read("gala.sav");
    }
    int Load(const Bytes& bytes) {
        folder_.WriteBytes("gala.sav", bytes);
        QelFile* f = Qel_fopen("gala.sav", "rb", 0);
        const int loaded = GS_LoadGame(f);
        Qel_fclose(f);
        return loaded;
    }
    static int32_t Index(Place p) { return p.row * GS_COLUMNS + p.column; }
    int32_t row_ = 0, column_ = 0, gate_ = 0;

    TempGameFolder folder_;
    GalaxyGrid grid_{};
};

constexpr Place A{3, 4}, B{3, 5}, C{3, 6}, T{0, 0}, H{0, 1}, N{0, 2};

TEST_F(GalaxyTest, TheSameSectorIsNoWayWithOrWithoutGates) {
    EXPECT_EQ(Ask(A, A), (Answer{-1, 0, 0}));
    Pair(A, 0, B, 3, {100, 0, 0}, {-100, 0, 0});
    EXPECT_EQ(Ask(A, A), (Answer{-1, 0, 0}));
    EXPECT_EQ(Ask(B, B), (Answer{-1, 0, 0}));
}

// The search reads the target's own gates: A's gate into B is one-way, B has
// none of its own, so nothing leads into B.
TEST_F(GalaxyTest, ATargetNoGateLeadsIntoCannotBeReached) {
    Pair(A, 0, C, 0, {10, 0, 0}, {-10, 0, 0});
    Gate(A, 1, B, 2, 10, 0);
    for (Place from : {A, C, Place{23, 19}}) EXPECT_EQ(Ask(from, B), (Answer{-2, -2, -2}));
    const RouteEntry* column = grid_.routeColumns[Index(B)];
    ASSERT_NE(column, nullptr);
    for (int32_t k = 0; k < GS_ROWS * GS_COLUMNS; ++k) {
        if (k == Index(B)) continue;
        EXPECT_EQ(column[k].route, 4095) << k;
        EXPECT_EQ(column[k].distance, 32767) << k;
    }
}

TEST_F(GalaxyTest, SectorsJoinedBothWaysAreOneJumpApart) {
    // Legs of 300 x 400 (500) and 5 x 12 (13).
    Pair(A, 4, B, 1, {300, 400, 0}, {-5, 0, 12});
    EXPECT_EQ(Ask(A, B), (Answer{4, 513, 1}));
    EXPECT_EQ(Ask(B, A), (Answer{1, 513, 1}));
}

TEST_F(GalaxyTest, LinksAreReadBackwards) {
    // Only B's gate leading to A's gate 3: a ship in A leaves by its gate 3
    // and arrives at B's gate 0, whatever A's own gate 3 says.
    Gate(B, 0, A, 3, 0, 30, 40);
    Gate(A, 3, C, 5, 1, 1, 1);
    EXPECT_EQ(Ask(A, B), (Answer{3, 50 + 1, 1}));
    // Only A's gate leading to C: C cannot be reached from A.
    EXPECT_EQ(Ask(A, C), (Answer{-2, -2, -2}));
}

TEST_F(GalaxyTest, OfEqualWaysTheLowerSlotOfTheHeadStays) {
    // Two pairs between T and H of equal lengths: the way through T's slot 0 stays.
    Pair(T, 0, H, 0, {100, 0, 0}, {-100, 0, 0});
    Pair(T, 1, H, 1, {0, 100, 0}, {0, -100, 0});
    EXPECT_EQ(Ask(H, T), (Answer{0, 200, 1}));
    GS_ClearGalaxy(&grid_);
    Pair(T, 0, H, 1, {100, 0, 0}, {-100, 0, 0});
    Pair(T, 1, H, 0, {0, 100, 0}, {0, -100, 0});
    EXPECT_EQ(Ask(H, T), (Answer{1, 200, 1}));
}

TEST_F(GalaxyTest, GateChangesDropTheCachedRoutes) {
    Pair(A, 0, B, 0, {10, 0, 0}, {-10, 0, 0});
    Pair(B, 1, C, 0, {10, 0, 0}, {-10, 0, 0});
    EXPECT_EQ(Ask(A, C), (Answer{0, 40, 2}));
    GS_RemoveGate(&grid_, C.row, C.column, 0);
    EXPECT_EQ(Ask(A, C), (Answer{-2, -2, -2}));
    Gate(C, 0, B, 1, -20, 0);
    EXPECT_EQ(Ask(A, C), (Answer{0, 50, 2}));
    // A slot used again is replaced, with the banner line.
    LogCapture log;
    Gate(A, 0, B, 0, 0, 0, 30);
    EXPECT_TRUE(log.Contains("GS_AddGate(3, 4, 0) gate entry already exists!\n")) << log.Text();
    EXPECT_EQ(Ask(A, C), (Answer{0, 70, 2}));
}

// With two pairs of gates between H and N the search as first written lets
// H's way be replaced by one through N after N took its way through H: the
// two exits lead into each other. Those sectors get new exits into sectors
// whose routes reach the target, the shortest way first.
TEST_F(GalaxyTest, ExitsThatLoopAreReplaced) {
    Pair(T, 0, H, 0, {300, 0, 0}, {-1000, 0, 0});
    Pair(H, 1, N, 0, {-900, 0, 0}, {-500, 0, 0});
    Pair(H, 2, N, 1, {0, 0, 10}, {-500, 20, 0});
    std::vector<galaxy_reference::Scratch> scratch;
    std::vector<RouteEntry> first(GS_ROWS * GS_COLUMNS);
    galaxy_reference::Column(&grid_, Index(T), scratch, first.data());
    EXPECT_EQ(galaxy_reference::AnswerOf(first[Index(H)]), (Answer{2, 430, 3}));  // into N
    EXPECT_EQ(galaxy_reference::AnswerOf(first[Index(N)]), (Answer{0, 900, 2}));  // into H

    // H leaves by its gate 0 into T: 1000 + 300. N leaves by its gate 0 into
    // H, which it crosses from gate 1 to gate 0: 500 + 100 + 300.
    EXPECT_EQ(Ask(H, T), (Answer{0, 1300, 1}));
    EXPECT_EQ(Ask(N, T), (Answer{0, 900, 2}));
}

TEST_F(GalaxyTest, DistancesAboveTheLimitAreKeptAtTheLimitWithALine) {
    // Six sectors in a row, 8000 across each: 40,000 from the first to the last.
    for (int32_t c = 0; c < 5; ++c) Pair({5, c}, 0, {5, c + 1}, 1, {4000, 0, 0}, {-4000, 0, 0});
    LogCapture log;
    EXPECT_EQ(Ask({5, 0}, {5, 5}), (Answer{0, 32766, 5}));
    EXPECT_EQ(Ask({5, 2}, {5, 5}), (Answer{0, 24000, 3}));
    EXPECT_TRUE(log.Contains("GS_Route(): 1 routes to sector 5-5 are longer than 32766 and kept as 32766\n"))
        << log.Text();
}

// Every pair of sectors of seeded networks whose neighbours are often joined
// by two pairs of gates.
TEST_F(GalaxyTest, RoutesOfRandomNetworksLeadToTheTarget) {
    const galaxy_reference::NetworkSpec specs[] = {
        {1, 0.7, 120, 20, 100},
        {2, 0.5, 200, 40, 80},
        {3, 1.0, 150, 0, 100},
        {4, 0.6, 250, 60, 60},
    };
    const int32_t n = GS_ROWS * GS_COLUMNS;
    int64_t consistent = 0, mended = 0;
    std::vector<galaxy_reference::Scratch> scratch;
    std::vector<RouteEntry> first(static_cast<size_t>(n));
    for (const auto& spec : specs) {
        SCOPED_TRACE(spec.seed);
        GS_ClearGalaxy(&grid_);
        galaxy_reference::BuildNetwork(&grid_, spec);
        for (int32_t to = 0; to < n; ++to) {
            galaxy_reference::Column(&grid_, to, scratch, first.data());
            auto theirs = [&](int32_t at) { return galaxy_reference::AnswerOf(first[static_cast<size_t>(at)]).gate; };
            auto ours = [&](int32_t at) {
                return GS_Route(&grid_, at / GS_COLUMNS, at % GS_COLUMNS, to / GS_COLUMNS, to % GS_COLUMNS);
            };
            for (int32_t from = 0; from < n; ++from) {
                const Answer mine = galaxy_reference::EngineAnswer(&grid_, from, to);
                ASSERT_TRUE(galaxy_reference::Consistent(&grid_, from, to, mine, ours)) << from << " to " << to;
                const Answer reference = galaxy_reference::AnswerOf(first[static_cast<size_t>(from)]);
                // Both searches reach the same sectors.
                ASSERT_EQ(mine.gate == -2, reference.gate == -2) << from << " to " << to;
                if (galaxy_reference::Consistent(&grid_, from, to, reference, theirs)) {
                    ASSERT_EQ(mine, reference) << from << " to " << to;
                    ++consistent;
                } else {
                    ++mended;
                }
            }
        }
    }
    // The networks do show the fault, and most pairs were right before.
    EXPECT_GT(mended, 0);
    EXPECT_GT(consistent, 20 * mended);
}

TEST_F(GalaxyTest, PlacesOutsideTheGridChangeNothing) {
    Pair(A, 0, B, 0, {10, 0, 0}, {-10, 0, 0});
    ASSERT_EQ(Ask(A, B), (Answer{0, 20, 1}));
    const Bytes before = Saved();
    const int32_t p[3] = {0, 0, 0};
    struct Case {
        const char* what;
        int32_t (*call)(GalaxyGrid*, const int32_t*);
        int32_t answer;
        const char* line;
    };
    const Case cases[] = {
        {"route from row 24", [](GalaxyGrid* g, const int32_t*) { return GS_Route(g, 24, 0, 3, 5); }, -2,
         "GS_Route() invalid sector! from=24-0, to=3-5\n"},
        {"distance to column -1", [](GalaxyGrid* g, const int32_t*) { return GS_RouteDist(g, 3, 4, 3, -1); }, -2,
         "GS_RouteDist() invalid sector! from=3-4, to=3--1\n"},
        {"jumps to column 20", [](GalaxyGrid* g, const int32_t*) { return GS_RouteLen(g, 3, 4, 0, 20); }, -2,
         "GS_RouteLen() invalid sector! from=3-4, to=0-20\n"},
        {"gate 6", [](GalaxyGrid* g, const int32_t* q) { return GS_AddGate(g, 3, 4, 6, 3, 5, 1, q); }, 0,
         "GS_AddGate() invalid gate ID! from=3-4, id=6, to=3-5, toid=1\n"},
        {"to gate 6", [](GalaxyGrid* g, const int32_t* q) { return GS_AddGate(g, 3, 4, 1, 3, 5, 6, q); }, 0,
         "GS_AddGate() invalid gate ID! from=3-4, id=1, to=3-5, toid=6\n"},
        {"gate -1", [](GalaxyGrid* g, const int32_t* q) { return GS_AddGate(g, 3, 4, -1, 3, 5, 1, q); }, 0,
         "GS_AddGate() invalid gate ID! from=3-4, id=-1, to=3-5, toid=1\n"},
        {"gate from row -1", [](GalaxyGrid* g, const int32_t* q) { return GS_AddGate(g, -1, 4, 1, 3, 5, 1, q); }, 0,
         "GS_AddGate() invalid sector! from=-1-4, id=1, to=3-5, toid=1\n"},
        {"gate to column 20", [](GalaxyGrid* g, const int32_t* q) { return GS_AddGate(g, 3, 4, 1, 3, 20, 1, q); }, 0,
         "GS_AddGate() invalid sector! from=3-4, id=1, to=3-20, toid=1\n"},
        {"gate to row 200", [](GalaxyGrid* g, const int32_t* q) { return GS_AddGate(g, 3, 4, 1, 200, 5, 1, q); }, 0,
         "GS_AddGate() invalid sector! from=3-4, id=1, to=200-5, toid=1\n"},
        {"remove gate 6", [](GalaxyGrid* g, const int32_t*) { return GS_RemoveGate(g, 3, 4, 6); }, 0,
         "GS_RemoveGate() invalid gate ID! sec=3-4, id=6\n"},
        {"remove in column 20", [](GalaxyGrid* g, const int32_t*) { return GS_RemoveGate(g, 3, 20, 0); }, 0,
         "GS_RemoveGate() invalid sector! sec=3-20, id=0\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture log;
        EXPECT_EQ(c.call(&grid_, p), c.answer);
        EXPECT_TRUE(log.Contains(c.line)) << log.Text();
        EXPECT_NE(grid_.routeColumns[Index(B)], nullptr);  // the cache stays
    }
    EXPECT_EQ(Saved(), before);
    int32_t row = 9, column = 9, gate = 9;
    EXPECT_EQ(GS_GetGate(&grid_, 6, 3, 4, &row, &column, &gate), 0);
    EXPECT_EQ(GS_GetGate(&grid_, 0, 24, 4, &row, &column, &gate), 0);
    EXPECT_EQ(row + column + gate, 27);  // nothing written
    EXPECT_EQ(GS_GetGate(&grid_, 0, 3, 4, &row, &column, &gate), 1);
    EXPECT_EQ(row * 100 + column * 10 + gate, 350);
    EXPECT_EQ(GS_GetGate(&grid_, 1, 3, 4, &row, &column, &gate), 0);
    EXPECT_EQ(row + column + gate, -3);
}

// ------------------------------------------------------------- engine calls

TEST_F(GalaxyTest, EngineCallsReadTheirArgumentsInOrder) {
    SysCallRunner caller;
    auto call = [&](int32_t number, std::vector<ScriptValue> args) {
        SE_Task* task = caller.task();
        task->answered = 0;
        task->callResult = ScriptValue{};
        EXPECT_EQ(GS_SysCall(1, task, number, static_cast<int32_t>(args.size()), args.data()), 1);
        for (ScriptValue& v : args) SV_Release(&v);
        std::string shown = task->answered ? SysCallRunner::Display(task->callResult) : "<no answer>";
        SV_Release(&task->callResult);
        return shown;
    };
    auto I = SysCallRunner::Int;
    const std::vector<int32_t> at = {100 * GS_POSITION_SCALE + 499999, -7 * GS_POSITION_SCALE - 1, 0};
    EXPECT_EQ(call(3, {I(3), I(4), I(2), I(3), I(5), I(1), SysCallRunner::IntArray(at)}), "0");
    int32_t row, column, gate;
    ASSERT_EQ(GS_GetGate(&grid_, 2, 3, 4, &row, &column, &gate), 1);
    EXPECT_EQ(
        std::vector<int32_t>(grid_.sectors[Index(A)].gates[2].position, grid_.sectors[Index(A)].gates[2].position + 4),
        (std::vector<int32_t>{100, -7, 0, 0}));  // truncated toward zero
    EXPECT_EQ(call(3, {I(3), I(5), I(1), I(3), I(4), I(2), SysCallRunner::IntArray({0, 0, 0})}), "0");
    EXPECT_EQ(call(0, {I(3), I(4), I(3), I(5)}), "2");
    EXPECT_EQ(call(1, {I(3), I(4), I(3), I(5)}), "100");
    EXPECT_EQ(call(2, {I(3), I(4), I(3), I(5)}), "1");
    EXPECT_EQ(call(0, {I(3), I(4), I(3), I(4)}), "-1");
    EXPECT_EQ(call(0, {I(3), I(5), I(0), I(0)}), "-2");
    // Missing arguments read as 0: from 3-4 to 0-0.
    EXPECT_EQ(call(2, {I(3), I(4)}), "-2");
    {
        // A position that is no array, or a short one, reads 0 where it lacks.
        LogCapture log;
        EXPECT_EQ(call(3, {I(3), I(4), I(0), I(3), I(5), I(0), I(12)}), "0");
        EXPECT_EQ(call(3, {I(3), I(4), I(1), I(3), I(5), I(0), SysCallRunner::IntArray({GS_POSITION_SCALE})}), "0");
        EXPECT_EQ(grid_.sectors[Index(A)].gates[1].position[0], 1);
        EXPECT_TRUE(log.Contains("not an array")) << log.Text();
        EXPECT_TRUE(log.Contains("out of bounds")) << log.Text();
    }
    EXPECT_EQ(call(4, {I(3), I(4), I(2)}), "0");
    EXPECT_EQ(GS_GetGate(&grid_, 2, 3, 4, &row, &column, &gate), 0);
    LogCapture log;
    EXPECT_EQ(call(5, {}), "0");
    EXPECT_EQ(call(-1, {}), "0");
    EXPECT_TRUE(log.Contains("GS_SysCall: Undefined System Call 5\n"));
    EXPECT_TRUE(log.Contains("GS_SysCall: Undefined System Call -1\n"));
}

TEST(GalaxyModule, InitRegistersTheFiveCalls) {
    SysCallRunner caller;
    GalaxyGrid grid{};
    ASSERT_EQ(GS_Init(&grid), &grid);
    EXPECT_GT(grid.moduleNumber, 1);
    const char* names[] = {"GS_Route", "GS_RouteDist", "GS_RouteLen", "GS_AddGate", "GS_RemoveGate"};
    for (int32_t i = 0; i < 5; ++i) {
        int32_t module = 0, call = -1;
        ASSERT_EQ(SE_FindCallName(caller.ctx(), names[i], &module, &call), 1) << names[i];
        EXPECT_EQ(module, grid.moduleNumber);
        EXPECT_EQ(call, i);
    }
    EXPECT_EQ(grid.rows * grid.columns, 480);
    GS_FreeGalaxy(&grid);
}

// ------------------------------------------------------------- save section

TEST_F(GalaxyTest, ASavedGalaxyLoadsWithTheSameRoutes) {
    galaxy_reference::BuildNetwork(&grid_, {7, 0.6, 100, 30, 300});
    Gate(A, 5, B, 4, -4294, 4294, 17);
    grid_.sectors[Index(A)].gates[5].position[3] = 77;
    std::vector<Answer> routes;
    for (int32_t to = 0; to < 480; to += 37)
        for (int32_t from = 0; from < 480; from += 11)
            routes.push_back(galaxy_reference::EngineAnswer(&grid_, from, to));
    const Bytes saved = Saved();
    ASSERT_EQ(saved.size(), 92168u);
    EXPECT_EQ(std::string(saved.begin(), saved.begin() + 4), "GALA");
    EXPECT_EQ(std::string(saved.end() - 4, saved.end()), "/GAL");
    // Sector 3-4 (index 64), slot 5: target 3-5 gate 4, reserved zeros, x, y, z, the fourth word.
    const size_t at = 4 + (64 * 6 + 5) * 32;
    EXPECT_EQ(Bytes(saved.begin() + at, saved.begin() + at + 32),
              (Bytes{0,    4,    5,    3,    0, 0, 0,    0,    0, 0, 0, 0,  0, 0, 0, 0,
                     0xFF, 0xFF, 0xEF, 0x3A, 0, 0, 0x10, 0xC6, 0, 0, 0, 17, 0, 0, 0, 77}));
    // An empty slot: 0xFFFFFFFF, then zeros.
    ASSERT_EQ(GS_GetGate(&grid_, 0, 23, 19, &row_, &column_, &gate_), 0);
    const size_t empty = 4 + 479 * 6 * 32;
    EXPECT_EQ(Bytes(saved.begin() + empty, saved.begin() + empty + 32),
              (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                     0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    GS_ClearGalaxy(&grid_);
    ASSERT_EQ(Load(saved), 1);
    EXPECT_EQ(Saved(), saved);
    size_t i = 0;
    for (int32_t to = 0; to < 480; to += 37)
        for (int32_t from = 0; from < 480; from += 11)
            EXPECT_EQ(galaxy_reference::EngineAnswer(&grid_, from, to), routes[i++]) << from << " to " << to;
}

// A damaged section fails the load and leaves the grid and its routes as
// they were; before, the slots were taken before the closing cookie was read.
TEST_F(GalaxyTest, ADamagedSectionChangesNothing) {
    Pair(A, 0, B, 0, {10, 0, 0}, {-10, 0, 0});
    const Bytes good = Saved();
    GS_ClearGalaxy(&grid_);
    Pair(B, 1, C, 2, {20, 0, 0}, {-20, 0, 0});
    ASSERT_EQ(Ask(B, C), (Answer{1, 40, 1}));
    const Bytes current = Saved();
    auto set = [](Bytes b, size_t at, std::vector<uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
        return b;
    };
    const size_t slotA0 = 4 + 64 * 6 * 32;
    struct Case {
        const char* what;
        Bytes bytes;
        const char* line;
    };
    const Case cases[] = {
        {"first cookie", set(good, 0, {'G', 'A', 'L', 'B'}), "GS_LoadGame() Wrong GALA cookie\n"},
        {"closing cookie", set(good, good.size() - 4, {'/', 'G', 'A', 'X'}), "GS_LoadGame() Wrong /GAL cookie\n"},
        {"cut short", Bytes(good.begin(), good.end() - 1), "GS_LoadGame() Wrong /GAL cookie\n"},
        {"only the cookie", Bytes(good.begin(), good.begin() + 4), "GS_LoadGame() Wrong /GAL cookie\n"},
        {"target row 24", set(good, slotA0, {0, 0, 5, 24}),
         "GS_LoadGame() sector 3-4 gate 0 leads nowhere (00000518)\n"},
        {"target column 20", set(good, slotA0, {0, 0, 20, 3}),
         "GS_LoadGame() sector 3-4 gate 0 leads nowhere (00001403)\n"},
        {"target gate 6", set(good, slotA0, {0, 6, 5, 3}),
         "GS_LoadGame() sector 3-4 gate 0 leads nowhere (00060503)\n"},
        {"half empty", set(good, slotA0, {0xFF, 0xFF, 5, 3}),
         "GS_LoadGame() sector 3-4 gate 0 leads nowhere (ffff0503)\n"},
        {"negative row", set(good, slotA0, {0, 0, 5, 0xFE}),
         "GS_LoadGame() sector 3-4 gate 0 leads nowhere (000005fe)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture log;
        EXPECT_EQ(Load(c.bytes), 0);
        EXPECT_TRUE(log.Contains(c.line)) << log.Text();
        EXPECT_NE(grid_.routeColumns[Index(C)], nullptr);
        EXPECT_EQ(Ask(B, C), (Answer{1, 40, 1}));
        EXPECT_EQ(Saved(), current);
    }
    // A sound section replaces the grid and every cached route.
    ASSERT_EQ(Load(good), 1);
    EXPECT_EQ(grid_.routeColumns[Index(C)], nullptr);
    EXPECT_EQ(Ask(B, C), (Answer{-2, -2, -2}));
    EXPECT_EQ(Ask(A, B), (Answer{0, 20, 1}));
}

// Before, a failed write still answered 1.
TEST_F(GalaxyTest, AFailedWriteFailsTheSave) {
    QelFile* f = Qel_fopen("gala.sav", "wb", 0);
    ASSERT_NE(f, nullptr);
    g_QelFileFaults.writeBudget = 100;
    LogCapture log;
    EXPECT_EQ(GS_SaveGame(f), 0);
    g_QelFileFaults = QelFileFaults{};
    Qel_fclose(f);
    EXPECT_TRUE(log.Contains("GS_SaveGame() writing the galaxy failed\n"));
}

}  // namespace
