// The gate grid's "GALA" save section, loaded over a grid that holds a
// network of its own. A failed load must leave that network as it was; a
// load that succeeds must save the same bytes again (the reserved words as
// zeros), and its routes (gates anywhere, links one way, positions of any
// size) are asked for a few targets, every answer in its range. The grid's
// network is put back after.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "base/standin_calls.h"
#include "cockpit/galaxy.h"
#include "fuzz/harness/harness.h"
#include "tests/support/galaxy_reference.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Check(bool ok, const char* what) { Fuzz_Check(ok, "galaxysave", what); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    static GalaxyGrid* grid = nullptr;
    static Bytes own;
    if (!grid) {
        grid = static_cast<GalaxyGrid*>(std::calloc(1, sizeof(GalaxyGrid)));
        Check(GS_AllocGalaxy(grid, GS_ROWS, GS_COLUMNS) == 1, "no grid");
        g_GalaxyGrid = grid;
        galaxy_reference::BuildNetwork(grid, {11, 0.6, 60, 20, 200});
        own = Fuzz_SaveSection(GS_SaveGame);
        Check(!own.empty(), "no section saved");
    }
    {
        FuzzMemoryGuard guard;
        if (!Fuzz_LoadSection(GS_LoadGame, data, size)) {
            Check(Fuzz_SaveSection(GS_SaveGame) == own, "a failed load changed the grid");
        } else {
            // The same bytes, but the reserved words of each slot, written as zeros.
            Check(size >= own.size(), "a short section loaded");
            Bytes expected(data, data + own.size());
            for (size_t at = 4; at + 32 <= expected.size(); at += 32) std::fill_n(expected.begin() + at + 4, 12, 0);
            Check(Fuzz_SaveSection(GS_SaveGame) == expected, "a loaded grid saves otherwise");
            const int32_t n = GS_ROWS * GS_COLUMNS;
            for (size_t i = 0; i < 4; ++i) {
                const int32_t to = static_cast<int32_t>(data[(i * 7919) % size]) * 2 % n;
                for (int32_t from = 0; from < n; ++from) {
                    const galaxy_reference::Answer a = galaxy_reference::EngineAnswer(grid, from, to);
                    Check(a.gate >= -2 && a.gate < GS_GATES, "gate out of range");
                    Check(a.gate == -2 ? a.distance == -2 && a.jumps == -2
                                       : a.distance >= 0 && a.distance <= GS_DISTANCE_LIMIT && a.jumps < n,
                          "answers out of range");
                }
            }
            Check(Fuzz_LoadSection(GS_LoadGame, own.data(), own.size()) == 1, "the grid's own network did not load");
        }
        GS_ResetRouteCache(grid);
    }
    StandIn_ClearCalls();
    return 0;
}
