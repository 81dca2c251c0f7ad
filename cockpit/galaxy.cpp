#include "cockpit/galaxy.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>
#include <vector>

#include "base/byteorder.h"
#include "base/file.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/standin_calls.h"
#include "script/arrays.h"
#include "script/builtins_args.h"
#include "script/modules.h"
#include "script/tasks.h"

GalaxyGrid* g_GalaxyGrid = nullptr;

namespace {

const char* const s_names[] = {"GS_Route", "GS_RouteDist", "GS_RouteLen", "GS_AddGate", "GS_RemoveGate", nullptr};

constexpr uint32_t kUnreached = 0xFFFFFFFF;
constexpr uint32_t kCostCap = 0xFFFFFFFE;
constexpr uint16_t kJumpsCap = 0x0FFE;  // 0x0FFF out of gate 0 would read as unreachable
constexpr uint32_t kColumnFlags = INT_MEM_UNZEROED;

// How following a sector's exits ends.
enum : uint8_t { kUnknown, kWalking, kReaches, kLoops };

// The save section: a cookie, 2880 slots of eight big-endian words, a cookie.
constexpr size_t kSlotWords = 8;
constexpr size_t kSlots = size_t{GS_ROWS} * GS_COLUMNS * GS_GATES;
constexpr size_t kSlotsBytes = kSlots * kSlotWords * 4;
constexpr uint32_t kEmptySlotWord = 0xFFFFFFFF;

enum : int32_t { kCallRoute, kCallRouteDist, kCallRouteLen, kCallAddGate, kCallRemoveGate };

int32_t SectorCount(const GalaxyGrid* g) { return g->rows * g->columns; }

bool Inside(const GalaxyGrid* g, int32_t row, int32_t column) {
    return row >= 0 && row < g->rows && column >= 0 && column < g->columns;
}

bool ValidGate(int32_t gate) { return gate >= 0 && gate < GS_GATES; }

void EmptySlot(GateSlot* slot) { *slot = GateSlot{-1, -1, -1, {0, 0, 0, 0}}; }

// A leg: the integer sum of the squares, its single-precision root,
// truncated. Coordinates stored by GS_AddGate stay within +-4294; a loaded
// section may hold any word, so each term is bounded to keep the sum in 64 bits.
uint32_t Length(int64_t x, int64_t y, int64_t z) {
    auto square = [](int64_t v) {
        const uint64_t a = std::min<uint64_t>(v < 0 ? static_cast<uint64_t>(-v) : static_cast<uint64_t>(v), 0x7FFFFFFF);
        return a * a;
    };
    return static_cast<uint32_t>(std::sqrt(static_cast<float>(square(x) + square(y) + square(z))));
}

uint32_t LengthOf(const int32_t* p) { return Length(p[0], p[1], p[2]); }

uint32_t LengthBetween(const int32_t* a, const int32_t* b) {
    return Length(int64_t{a[0]} - b[0], int64_t{a[1]} - b[1], int64_t{a[2]} - b[2]);
}

void MeasureLegs(GalaxySector* s) {
    for (int32_t i = 0; i < GS_GATES; ++i)
        for (int32_t j = 0; j < GS_GATES; ++j)
            s->legs[i][j] =
                i == j ? LengthOf(s->gates[i].position) : LengthBetween(s->gates[i].position, s->gates[j].position);
}

void EmptyAllSlots(GalaxyGrid* g) {
    for (int32_t k = 0; k < g->rows * g->columns; ++k) {
        for (GateSlot& slot : g->sectors[k].gates) EmptySlot(&slot);
        MeasureLegs(&g->sectors[k]);
    }
}

uint32_t Add(uint64_t a, uint64_t b) { return static_cast<uint32_t>(std::min<uint64_t>(a + b, kCostCap)); }

int32_t IndexOf(const GalaxyGrid* g, const GateSlot& link) { return link.targetRow * g->columns + link.targetColumn; }

void Append(GalaxyGrid* g, int32_t sector) {
    g->sectors[g->queueTail].queueLink = sector;
    g->queueTail = sector;
    g->sectors[sector].queueLink = -1;
}

// The search from the target outwards, reading each gate link backwards: a
// ship in the sector a link of the head leads to leaves by the link's target
// gate and arrives in the head at the link's slot. A way replaces an earlier
// one only when it is strictly shorter measured from the sector's centre;
// a sector whose way improves after it left the queue is queued again.
void Search(GalaxyGrid* g, int32_t target) {
    GalaxySector* s = g->sectors;
    for (int32_t k = 0; k < SectorCount(g); ++k) s[k].cost = kUnreached;
    GalaxySector& t = s[target];
    t.cost = 0;
    t.jumps = 0;
    t.exitGate = -1;
    t.queueLink = -1;
    t.nextSector = -1;
    t.arrivalGate = -1;
    g->searchHead = g->queueTail = target;
    for (;;) {
        const int32_t h = g->searchHead;
        GalaxySector& head = s[h];
        for (int32_t slot = 0; slot < GS_GATES; ++slot) {
            const GateSlot& link = head.gates[slot];
            if (slot == head.exitGate || link.targetGate < 0) continue;
            const int32_t n = IndexOf(g, link);
            GalaxySector& next = s[n];
            const uint32_t candidate =
                head.exitGate < 0 ? head.legs[slot][slot] : Add(head.cost, head.legs[slot][head.exitGate]);
            const bool reached = next.cost != kUnreached;
            if (reached) {
                const uint64_t mine = uint64_t{candidate} + next.legs[link.targetGate][link.targetGate];
                const uint64_t theirs =
                    uint64_t{next.cost} + (next.exitGate < 0 ? 0 : next.legs[next.exitGate][next.exitGate]);
                if (mine >= theirs) continue;
            }
            next.cost = candidate;
            next.jumps = static_cast<uint16_t>(head.jumps + 1);
            next.exitGate = link.targetGate;
            next.nextSector = h;
            next.arrivalGate = static_cast<int16_t>(slot);
            if (!reached || next.queueLink < 0) Append(g, n);
        }
        if (h == g->queueTail) break;
        g->searchHead = head.queueLink;
        head.queueLink = -1;
    }
}

// The length from arriving in sector n at its gate `gate` to the target's centre.
uint32_t RestFrom(const GalaxyGrid* g, int32_t target, int32_t n, int32_t gate) {
    const GalaxySector& s = g->sectors[n];
    if (n == target) return s.legs[gate][gate];
    return Add(s.legs[gate][s.exitGate], s.rest);
}

// Offers a looping sector the way out by its gate into sector m at m's gate
// `slot`. The shorter way wins; on a tie the lower gate, then the lower
// sector led into, then its lower gate.
void Offer(GalaxyGrid* g, int32_t target, int32_t sector, int32_t gate, int32_t m, int32_t slot) {
    GalaxySector& s = g->sectors[sector];
    const uint32_t way = Add(s.legs[gate][gate], RestFrom(g, target, m, slot));
    if (s.cost != kUnreached && std::make_tuple(way, gate, m, slot) >=
                                    std::make_tuple(s.cost, int32_t{s.exitGate}, s.nextSector, int32_t{s.arrivalGate}))
        return;
    s.cost = way;
    s.exitGate = static_cast<int16_t>(gate);
    s.nextSector = m;
    s.arrivalGate = static_cast<int16_t>(slot);
}

// The ways into sector m (whose route reaches the target) of the looping sectors.
void OfferWaysInto(GalaxyGrid* g, int32_t target, int32_t m) {
    for (int32_t slot = 0; slot < GS_GATES; ++slot) {
        const GateSlot& link = g->sectors[m].gates[slot];
        if (link.targetGate < 0) continue;
        const int32_t sector = IndexOf(g, link);
        if (g->sectors[sector].routeState == kLoops) Offer(g, target, sector, link.targetGate, m, slot);
    }
}

// Sectors whose exits loop get new exits one at a time: the shortest way
// into a sector whose route reaches the target (lower sector first on a tie).
// `loops` lists them (in index order); it is the grid's walk buffer.
void RerouteLoops(GalaxyGrid* g, int32_t target, int32_t* loops, int32_t count) {
    GalaxySector* s = g->sectors;
    for (int32_t i = 0; i < count; ++i) s[loops[i]].cost = kUnreached;  // no way offered yet
    for (int32_t m = 0; m < SectorCount(g); ++m)
        if (s[m].routeState == kReaches) OfferWaysInto(g, target, m);
    while (count > 0) {
        int32_t best = -1;
        for (int32_t i = 0; i < count; ++i)
            if (s[loops[i]].cost != kUnreached && (best < 0 || s[loops[i]].cost < s[loops[best]].cost)) best = i;
        if (best < 0) break;
        const int32_t sector = loops[best];
        std::copy(loops + best + 1, loops + count, loops + best);
        --count;
        GalaxySector& b = s[sector];
        b.jumps = static_cast<uint16_t>(s[b.nextSector].jumps + 1);
        b.rest = RestFrom(g, target, b.nextSector, b.arrivalGate);
        b.routeState = kReaches;
        OfferWaysInto(g, target, sector);
    }
    for (int32_t i = 0; i < count; ++i)
        Qel_DPrintf(0, "GS_Route(): sector %d-%d has no way to sector %d-%d\n", loops[i] / g->columns,
                    loops[i] % g->columns, target / g->columns, target % g->columns);
}

// Follows every reached sector's exits: where they reach the target the
// route's jumps and length are those of the way travelled; sectors whose
// exits loop are routed again.
void FollowExits(GalaxyGrid* g, int32_t target) {
    GalaxySector* s = g->sectors;
    const int32_t n = SectorCount(g);
    for (int32_t k = 0; k < n; ++k) s[k].routeState = kUnknown;
    s[target].routeState = kReaches;
    s[target].jumps = 0;
    s[target].rest = 0;
    int32_t* path = g->walk;
    bool looped = false;
    for (int32_t k = 0; k < n; ++k) {
        if (s[k].cost == kUnreached || s[k].routeState != kUnknown) continue;
        int32_t depth = 0;
        int32_t x = k;
        for (; s[x].routeState == kUnknown; x = s[x].nextSector) {
            s[x].routeState = kWalking;
            path[depth++] = x;
        }
        const bool reaches = s[x].routeState == kReaches;
        while (depth > 0) {
            GalaxySector& p = s[path[--depth]];
            if (reaches) {
                p.jumps = static_cast<uint16_t>(s[p.nextSector].jumps + 1);
                p.rest = RestFrom(g, target, p.nextSector, p.arrivalGate);
                p.routeState = kReaches;
            } else {
                p.routeState = kLoops;
                looped = true;
            }
        }
    }
    if (!looped) return;
    int32_t count = 0;
    for (int32_t k = 0; k < n; ++k)
        if (s[k].routeState == kLoops) path[count++] = k;
    RerouteLoops(g, target, path, count);
}

void FillColumn(const GalaxyGrid* g, int32_t target, RouteEntry* column) {
    int32_t saturated = 0;
    for (int32_t k = 0; k < SectorCount(g); ++k) {
        const GalaxySector& s = g->sectors[k];
        if (k == target) {
            column[k] = RouteEntry{GS_ROUTE_SAME, 0};
        } else if (s.routeState == kReaches) {
            uint32_t distance = Add(s.legs[s.exitGate][s.exitGate], s.rest);
            if (distance > GS_DISTANCE_LIMIT) {
                distance = GS_DISTANCE_LIMIT;
                ++saturated;
            }
            const auto jumps = std::min<uint16_t>(s.jumps, kJumpsCap);
            column[k] = RouteEntry{static_cast<uint16_t>(s.exitGate << 12 | jumps), static_cast<uint16_t>(distance)};
        } else {
            column[k] = RouteEntry{GS_ROUTE_UNREACHABLE, GS_DISTANCE_UNREACHABLE};
        }
    }
    if (saturated)
        Qel_DPrintf(0, "GS_Route(): %d routes to sector %d-%d are longer than %d and kept as %d\n", saturated,
                    target / g->columns, target % g->columns, GS_DISTANCE_LIMIT, GS_DISTANCE_LIMIT);
}

size_t ColumnBytes(const GalaxyGrid* g) { return sizeof(RouteEntry) * static_cast<size_t>(SectorCount(g)); }

// The pair's entry, searching for the target's routes when not known yet;
// null after a log line when a sector lies outside the grid or memory is short.
const RouteEntry* Entry(GalaxyGrid* g, const char* call, int32_t fromRow, int32_t fromColumn, int32_t toRow,
                        int32_t toColumn) {
    static constexpr RouteEntry kSame{GS_ROUTE_SAME, 0};
    if (!g || !g->sectors || !Inside(g, fromRow, fromColumn) || !Inside(g, toRow, toColumn)) {
        Qel_ErrPrintf("%s() invalid sector! from=%d-%d, to=%d-%d\n", call, fromRow, fromColumn, toRow, toColumn);
        return nullptr;
    }
    const int32_t from = fromRow * g->columns + fromColumn;
    const int32_t to = toRow * g->columns + toColumn;
    if (from == to) return &kSame;
    RouteEntry*& column = g->routeColumns[to];
    if (!column) {
        column = static_cast<RouteEntry*>(Int_AllocMem(ColumnBytes(g), kColumnFlags));
        if (!column) {
            Qel_ErrPrintf("%s() no memory for the routes to %d-%d\n", call, toRow, toColumn);
            return nullptr;
        }
        Search(g, to);
        FollowExits(g, to);
        FillColumn(g, to, column);
    }
    return &column[from];
}

constexpr uint8_t kOpenTag[4] = {'G', 'A', 'L', 'A'};
constexpr uint8_t kCloseTag[4] = {'/', 'G', 'A', 'L'};

bool ProgramSized(const GalaxyGrid* g, const char* call) {
    if (g && g->sectors && g->rows == GS_ROWS && g->columns == GS_COLUMNS) return true;
    Qel_ErrPrintf("%s() no galaxy grid\n", call);
    return false;
}

}  // namespace

int GS_AllocGalaxy(GalaxyGrid* grid, int32_t rows, int32_t columns) {
    if (rows < 1 || columns < 1 || rows > GS_MAX_SIDE || columns > GS_MAX_SIDE) {
        Qel_ErrPrintf("GS_AllocGalaxy() invalid size %d x %d\n", rows, columns);
        return 0;
    }
    GS_FreeGalaxy(grid);
    const auto n = static_cast<size_t>(rows) * static_cast<size_t>(columns);
    grid->sectors = static_cast<GalaxySector*>(Int_AllocMem(n * sizeof(GalaxySector), 0));
    grid->routeColumns = static_cast<RouteEntry**>(Int_AllocMem(n * sizeof(RouteEntry*), 0));
    grid->walk = static_cast<int32_t*>(Int_AllocMem(n * sizeof(int32_t), 0));
    grid->rows = rows;
    grid->columns = columns;
    if (!grid->sectors || !grid->routeColumns || !grid->walk) {
        Qel_ErrPrintf("GS_AllocGalaxy() no memory for %d x %d sectors\n", rows, columns);
        GS_FreeGalaxy(grid);
        return 0;
    }
    EmptyAllSlots(grid);
    return 1;
}

void GS_FreeGalaxy(GalaxyGrid* grid) {
    if (!grid) return;
    const auto n = static_cast<size_t>(SectorCount(grid));
    if (grid->routeColumns) {
        GS_ResetRouteCache(grid);
        Int_FreeMem(grid->routeColumns, n * sizeof(RouteEntry*), 0);
    }
    if (grid->sectors) Int_FreeMem(grid->sectors, n * sizeof(GalaxySector), 0);
    if (grid->walk) Int_FreeMem(grid->walk, n * sizeof(int32_t), 0);
    grid->sectors = nullptr;
    grid->routeColumns = nullptr;
    grid->walk = nullptr;
    grid->rows = grid->columns = 0;
}

GalaxyGrid* GS_Init(GalaxyGrid* grid) {
    StandIn_Record("GS_Init");  // the program's tests read the order of its module calls
    if (!grid || !GS_AllocGalaxy(grid, GS_ROWS, GS_COLUMNS)) return nullptr;
    grid->moduleNumber =
        g_SEContext ? SB_RegisterEngineModule(g_SEContext, GS_SysCall, s_names, nullptr, nullptr, nullptr) : 0;
    return grid;
}

void GS_ClearGalaxy(GalaxyGrid* grid) {
    StandIn_Record("GS_ClearGalaxy");
    if (!grid || !grid->sectors) return;
    EmptyAllSlots(grid);
    GS_ResetRouteCache(grid);
}

void GS_ResetRouteCache(GalaxyGrid* grid) {
    if (!grid || !grid->routeColumns) return;
    for (int32_t k = 0; k < SectorCount(grid); ++k) {
        if (!grid->routeColumns[k]) continue;
        Int_FreeMem(grid->routeColumns[k], ColumnBytes(grid), kColumnFlags);
        grid->routeColumns[k] = nullptr;
    }
}

int GS_SaveGame(QelFile* file) {
    const GalaxyGrid* grid = g_GalaxyGrid;
    if (!ProgramSized(grid, "GS_SaveGame")) return 0;
    std::vector<uint32_t> words(kSlots * kSlotWords);
    uint32_t* at = words.data();
    for (int32_t k = 0; k < SectorCount(grid); ++k) {
        for (const GateSlot& slot : grid->sectors[k].gates) {
            at[0] = static_cast<uint32_t>(static_cast<uint16_t>(slot.targetGate)) << 16 |
                    uint32_t{static_cast<uint8_t>(slot.targetColumn)} << 8 | static_cast<uint8_t>(slot.targetRow);
            for (int32_t w = 0; w < 4; ++w) at[4 + w] = static_cast<uint32_t>(slot.position[w]);
            at += kSlotWords;
        }
    }
    if (Qel_fwriteBlock(file, 1, 4, kOpenTag) != 4 ||
        Qel_fwrite(file, words.data(), kSlotsBytes, "\4") != kSlotsBytes ||
        Qel_fwriteBlock(file, 1, 4, kCloseTag) != 4) {
        Qel_ErrPrintf("GS_SaveGame() writing the galaxy failed\n");
        return 0;
    }
    return 1;
}

// Reads the whole section into a copy and takes it only when both cookies
// and every slot are sound, so a damaged save leaves the grid as it was.
int GS_LoadGame(QelFile* file) {
    GalaxyGrid* grid = g_GalaxyGrid;
    if (!ProgramSized(grid, "GS_LoadGame")) return 0;
    uint8_t tag[4];
    if (Qel_fread(file, 1, 4, tag) != 4 || std::memcmp(tag, kOpenTag, 4) != 0) {
        Qel_ErrPrintf("GS_LoadGame() Wrong GALA cookie\n");
        return 0;
    }
    std::vector<uint32_t> words(kSlots * kSlotWords);
    if (Qel_fread(file, 1, kSlotsBytes, words.data()) != kSlotsBytes || Qel_fread(file, 1, 4, tag) != 4 ||
        std::memcmp(tag, kCloseTag, 4) != 0) {
        Qel_ErrPrintf("GS_LoadGame() Wrong /GAL cookie\n");
        return 0;
    }
    Qel_SwapBytesByLayout(words.data(), "\4", kSlotsBytes);
    std::vector<GateSlot> slots(kSlots);
    for (size_t i = 0; i < kSlots; ++i) {
        const uint32_t* at = words.data() + i * kSlotWords;
        GateSlot& slot = slots[i];
        slot.targetRow = static_cast<int8_t>(at[0] & 0xFF);
        slot.targetColumn = static_cast<int8_t>(at[0] >> 8 & 0xFF);
        slot.targetGate = static_cast<int16_t>(at[0] >> 16);
        for (int32_t w = 0; w < 4; ++w) slot.position[w] = static_cast<int32_t>(at[4 + w]);
        if (at[0] == kEmptySlotWord || (ValidGate(slot.targetGate) && Inside(grid, slot.targetRow, slot.targetColumn)))
            continue;
        const auto sector = static_cast<int32_t>(i / GS_GATES);
        Qel_ErrPrintf("GS_LoadGame() sector %d-%d gate %d leads nowhere (%08x)\n", sector / GS_COLUMNS,
                      sector % GS_COLUMNS, static_cast<int32_t>(i % GS_GATES), at[0]);
        return 0;
    }
    for (size_t i = 0; i < kSlots; ++i) grid->sectors[i / GS_GATES].gates[i % GS_GATES] = slots[i];
    for (int32_t k = 0; k < SectorCount(grid); ++k) MeasureLegs(&grid->sectors[k]);
    GS_ResetRouteCache(grid);
    return 1;
}

int GS_GetGate(const GalaxyGrid* grid, int32_t gate, int32_t row, int32_t column, int32_t* toRow, int32_t* toColumn,
               int32_t* toGate) {
    if (!grid || !grid->sectors || !ValidGate(gate) || !Inside(grid, row, column)) return 0;
    const GateSlot& slot = grid->sectors[row * grid->columns + column].gates[gate];
    *toRow = slot.targetRow;
    *toColumn = slot.targetColumn;
    *toGate = slot.targetGate;
    return slot.targetGate >= 0 ? 1 : 0;
}

int32_t GS_Route(GalaxyGrid* grid, int32_t fromRow, int32_t fromColumn, int32_t toRow, int32_t toColumn) {
    const RouteEntry* e = Entry(grid, "GS_Route", fromRow, fromColumn, toRow, toColumn);
    if (!e || e->route == GS_ROUTE_UNREACHABLE) return -2;
    return e->route == GS_ROUTE_SAME ? -1 : e->route >> 12;
}

int32_t GS_RouteDist(GalaxyGrid* grid, int32_t fromRow, int32_t fromColumn, int32_t toRow, int32_t toColumn) {
    const RouteEntry* e = Entry(grid, "GS_RouteDist", fromRow, fromColumn, toRow, toColumn);
    return !e || e->route == GS_ROUTE_UNREACHABLE ? -2 : e->distance;
}

int32_t GS_RouteLen(GalaxyGrid* grid, int32_t fromRow, int32_t fromColumn, int32_t toRow, int32_t toColumn) {
    const RouteEntry* e = Entry(grid, "GS_RouteLen", fromRow, fromColumn, toRow, toColumn);
    return !e || e->route == GS_ROUTE_UNREACHABLE ? -2 : e->route & 0x0FFF;
}

int32_t GS_AddGate(GalaxyGrid* grid, int32_t row, int32_t column, int32_t gate, int32_t toRow, int32_t toColumn,
                   int32_t toGate, const int32_t position[3]) {
    if (!ValidGate(gate) || !ValidGate(toGate)) {
        Qel_ErrPrintf("GS_AddGate() invalid gate ID! from=%d-%d, id=%d, to=%d-%d, toid=%d\n", row, column, gate, toRow,
                      toColumn, toGate);
        return 0;
    }
    if (!grid || !grid->sectors || !Inside(grid, row, column) || !Inside(grid, toRow, toColumn)) {
        Qel_ErrPrintf("GS_AddGate() invalid sector! from=%d-%d, id=%d, to=%d-%d, toid=%d\n", row, column, gate, toRow,
                      toColumn, toGate);
        return 0;
    }
    GateSlot& slot = grid->sectors[row * grid->columns + column].gates[gate];
    if (slot.targetGate >= 0)
        Qel_BannerPrintf("GS_AddGate(%d, %d, %d) gate entry already exists!\n", row, column, gate);
    slot.targetRow = static_cast<int8_t>(toRow);
    slot.targetColumn = static_cast<int8_t>(toColumn);
    slot.targetGate = static_cast<int16_t>(toGate);
    for (int32_t i = 0; i < 3; ++i) slot.position[i] = position[i] / GS_POSITION_SCALE;
    MeasureLegs(&grid->sectors[row * grid->columns + column]);
    GS_ResetRouteCache(grid);
    return 0;
}

int32_t GS_RemoveGate(GalaxyGrid* grid, int32_t row, int32_t column, int32_t gate) {
    if (!ValidGate(gate)) {
        Qel_ErrPrintf("GS_RemoveGate() invalid gate ID! sec=%d-%d, id=%d\n", row, column, gate);
        return 0;
    }
    if (!grid || !grid->sectors || !Inside(grid, row, column)) {
        Qel_ErrPrintf("GS_RemoveGate() invalid sector! sec=%d-%d, id=%d\n", row, column, gate);
        return 0;
    }
    GalaxySector& sector = grid->sectors[row * grid->columns + column];
    EmptySlot(&sector.gates[gate]);
    MeasureLegs(&sector);
    GS_ResetRouteCache(grid);
    return 0;
}

const char* const* GS_GetCallNames() { return s_names; }

int32_t GS_SysCall(int32_t, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args) {
    if (!task) return 0;
    GalaxyGrid* grid = g_GalaxyGrid;
    auto arg = [&](int32_t i) { return SE_ArgInt(args, argc, i); };
    auto answer = [&](int32_t n) { return SE_AnswerInt(g_SEContext, task, n); };
    switch (call) {
        case kCallRoute: return answer(GS_Route(grid, arg(0), arg(1), arg(2), arg(3)));
        case kCallRouteDist: return answer(GS_RouteDist(grid, arg(0), arg(1), arg(2), arg(3)));
        case kCallRouteLen: return answer(GS_RouteLen(grid, arg(0), arg(1), arg(2), arg(3)));
        case kCallAddGate: {
            // Elements the array lacks read as 0; the script engine logs the failed reads.
            ScriptValue array = *SE_ArgValue(args, argc, 6);
            int32_t position[3] = {};
            for (int32_t i = 0; i < 3; ++i) {
                if (const ScriptValue* v = SV_ArrayRead(&array, i)) position[i] = v->i;
                else if (array.tag != VARTYPE_ARRAY) break;  // one line for a position that is no array
            }
            return answer(GS_AddGate(grid, arg(0), arg(1), arg(2), arg(3), arg(4), arg(5), position));
        }
        case kCallRemoveGate: return answer(GS_RemoveGate(grid, arg(0), arg(1), arg(2)));
        default: Qel_DPrintf(0, "GS_SysCall: Undefined System Call %d\n", call); return answer(0);
    }
}
