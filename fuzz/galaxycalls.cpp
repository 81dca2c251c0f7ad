// Random sequences of the gate grid's engine calls on places in and out of
// the grid, with saves, loads (sound and damaged) and clears between them.
// Every answer must be in its range; where the gates are all paired both
// ways, following "GS_Route" gate by gate must reach the target in
// "GS_RouteLen" jumps and "GS_RouteDist" length. A save loaded again must
// give back the same grid, and a failed load must leave it as it was.
//
// Input: one byte per step (its value modulo 10 picks it), then its operands:
//   0, 1, 2  "GS_Route", "GS_RouteDist", "GS_RouteLen": four place bytes
//   3        "GS_AddGate": place, place, gate, place, place, gate, position
//   4        "GS_RemoveGate": place, place, gate
//   5        a pair of gates, one each way: as 3
//   6        an undefined call: one byte
//   7        save, clear and load
//   8        load the save damaged: two bytes of offset, a value, a cut
//            (7 and 8 do nothing after the twelfth of them in an input)
//   9        "GS_ClearGalaxy"
// A place byte below 0xF0 is taken modulo the side, above it picks a place
// outside; so does a gate byte. A position is a kind byte (an array of three,
// of one, a number, no argument) and three signed bytes of 20 stored units.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/standin_calls.h"
#include "cockpit/galaxy.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/story.h"
#include "script/tasks.h"
#include "script/values.h"
#include "script/arrays.h"
#include "tests/support/galaxy_reference.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t kSaves = 12;

void Check(bool ok, const char* what) { Fuzz_Check(ok, "galaxycalls", what); }

int32_t Place(FuzzInput& in, int32_t side) {
    const uint8_t b = in.next();
    const int32_t outside[8] = {-1, side, side + 1, 127, -128, 255, INT_MAX, INT_MIN};
    return b < 0xF0 ? b % side : outside[b & 7];
}

int32_t Gate(FuzzInput& in) {
    const uint8_t b = in.next();
    const int32_t outside[8] = {-1, 6, 7, 127, -32768, 65535, INT_MAX, INT_MIN};
    return b < 0xF0 ? b % GS_GATES : outside[b & 7];
}

ScriptValue Int(int32_t n) {
    ScriptValue v{};
    SV_AssignInt(&v, n);
    return v;
}

ScriptValue IntArray(const std::vector<int32_t>& elements) {
    ScriptValue a{};
    SV_ArrayAlloc(&a, static_cast<int32_t>(elements.size()));
    for (size_t i = 0; i < elements.size(); ++i) SV_ArrayWriteInt(&a, static_cast<int32_t>(i), elements[i]);
    return a;
}

// One engine call from a fresh task; its integer answer.
int32_t Call(int32_t call, std::vector<ScriptValue> args) {
    SE_Context* ctx = g_SEContext;
    SE_Task* task = SE_AllocTask(ctx, 32);
    Check(task != nullptr, "no task");
    GS_SysCall(1, task, call, static_cast<int32_t>(args.size()), args.data());
    for (ScriptValue& v : args) SV_Release(&v);
    Check(task->answered && task->callResult.tag == VARTYPE_INTEGER, "no integer answer");
    const int32_t answer = task->callResult.i;
    SV_Release(&task->callResult);
    SE_RemoveTask(ctx, task);
    return answer;
}

Bytes Save() { return Fuzz_SaveSection(GS_SaveGame); }
int Load(const Bytes& bytes) { return Fuzz_LoadSection(GS_LoadGame, bytes.data(), bytes.size()); }

// Whether every used gate has its partner leading back.
bool Paired(const GalaxyGrid* g) {
    for (int32_t k = 0; k < g->rows * g->columns; ++k)
        for (int32_t s = 0; s < GS_GATES; ++s) {
            const GateSlot& slot = g->sectors[k].gates[s];
            if (slot.targetGate < 0) continue;
            const GateSlot& back = g->sectors[slot.targetRow * g->columns + slot.targetColumn].gates[slot.targetGate];
            if (back.targetGate != s || back.targetRow * g->columns + back.targetColumn != k) return false;
        }
    return true;
}

void CheckRoute(GalaxyGrid* g, int32_t from, int32_t to) {
    const galaxy_reference::Answer a = galaxy_reference::EngineAnswer(g, from, to);
    Check(a.gate >= -2 && a.gate < GS_GATES, "gate out of range");
    Check(a.gate == -2 ? a.distance == -2 && a.jumps == -2 : a.distance >= 0 && a.distance <= GS_DISTANCE_LIMIT,
          "distance out of range");
    Check(a.gate == -1 ? a.jumps == 0 && a.distance == 0 : true, "same sector with a way");
    if (!Paired(g)) return;
    auto route = [&](int32_t at) {
        return GS_Route(g, at / g->columns, at % g->columns, to / g->columns, to % g->columns);
    };
    Check(galaxy_reference::Consistent(g, from, to, a, route), "the route does not lead where its answers say");
}

void AddGate(FuzzInput& in, bool pair) {
    const int32_t row = Place(in, GS_ROWS), column = Place(in, GS_COLUMNS), gate = Gate(in);
    const int32_t toRow = Place(in, GS_ROWS), toColumn = Place(in, GS_COLUMNS), toGate = Gate(in);
    const uint8_t kind = in.next();
    int32_t p[3];
    for (int32_t& v : p) v = static_cast<int8_t>(in.next()) * 20 * GS_POSITION_SCALE;
    auto position = [&](const int32_t* q) {
        switch (kind % 4) {
            case 0: return IntArray({q[0], q[1], q[2]});
            case 1: return IntArray({q[0]});
            default: return Int(12);
        }
    };
    auto add = [&](int32_t r, int32_t c, int32_t gt, int32_t tr, int32_t tc, int32_t tg, const int32_t* q) {
        std::vector<ScriptValue> args = {Int(r), Int(c), Int(gt), Int(tr), Int(tc), Int(tg)};
        if (kind % 4 != 3) args.push_back(position(q));
        Check(Call(3, std::move(args)) == 0, "GS_AddGate answered");
    };
    add(row, column, gate, toRow, toColumn, toGate, p);
    if (!pair) return;
    const int32_t back[3] = {-p[0], -p[1], p[2]};
    add(toRow, toColumn, toGate, row, column, gate, back);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    SE_Context* ctx = Fuzz_ScriptContext();
    static GalaxyGrid* grid = nullptr;
    if (!grid) {
        grid = static_cast<GalaxyGrid*>(std::calloc(1, sizeof(GalaxyGrid)));
        Check(GS_Init(grid) == grid, "no grid");
        g_GalaxyGrid = grid;
    }
    {
        FuzzMemoryGuard guard(ctx);
        FuzzInput in{data, size};
        int32_t saves = 0;  // each writes and reads 92 KB: a few per input
        for (int32_t step = 0; step < 300 && in.more(); ++step) {
            switch (in.next() % 10) {
                case 0:
                case 1:
                case 2: {
                    const int32_t call = in.data[in.at - 1] % 10;
                    const int32_t fr = Place(in, GS_ROWS), fc = Place(in, GS_COLUMNS);
                    const int32_t tr = Place(in, GS_ROWS), tc = Place(in, GS_COLUMNS);
                    const int32_t answer = Call(call, {Int(fr), Int(fc), Int(tr), Int(tc)});
                    const bool inside = fr >= 0 && fr < GS_ROWS && fc >= 0 && fc < GS_COLUMNS && tr >= 0 &&
                                        tr < GS_ROWS && tc >= 0 && tc < GS_COLUMNS;
                    if (!inside) Check(answer == -2, "a place outside answered");
                    else CheckRoute(grid, fr * GS_COLUMNS + fc, tr * GS_COLUMNS + tc);
                    break;
                }
                case 3: AddGate(in, false); break;
                case 4: {
                    const int32_t row = Place(in, GS_ROWS), column = Place(in, GS_COLUMNS), gate = Gate(in);
                    Check(Call(4, {Int(row), Int(column), Int(gate)}) == 0, "GS_RemoveGate answered");
                    break;
                }
                case 5: AddGate(in, true); break;
                case 6: {
                    const uint8_t b = in.next();
                    Check(Call(b & 1 ? 5 + (b >> 1) : -1 - (b >> 1), {Int(b)}) == 0, "an undefined call answered");
                    break;
                }
                case 7: {
                    if (++saves > kSaves) break;
                    const Bytes saved = Save();
                    GS_ClearGalaxy(grid);
                    Check(Load(saved) == 1, "a saved grid did not load");
                    Check(Save() == saved, "a loaded grid saves otherwise");
                    break;
                }
                case 8: {
                    const size_t where = in.next() | size_t{in.next()} << 8;
                    const uint8_t value = in.next(), cut = in.next();
                    if (++saves > kSaves) break;
                    const Bytes before = Save();
                    Bytes damaged = before;
                    const size_t offset = where * damaged.size() / 65536;
                    damaged[offset] = value;
                    if (cut & 1) damaged.resize(offset);
                    if (!Load(damaged)) Check(Save() == before, "a failed load changed the grid");
                    break;
                }
                default: GS_ClearGalaxy(grid); break;
            }
        }
        GS_ClearGalaxy(grid);
    }
    StandIn_ClearCalls();
    return 0;
}
