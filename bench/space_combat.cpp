// The space update per phase (collisions, behaviours, hangars, movement with
// the orientation, and the whole update) against the number of objects in a
// sector, spread out and clustered, with the collision pass's pair and model
// tests counted per frame; bullets among 200 ships; k kills among N objects
// with the deletion of the killed; and inactive sectors, which cost about
// nothing. Items per second count objects handled per second.
#include <benchmark/benchmark.h>

#include "space/behaviour.h"
#include "space/collisions.h"
#include "space/kill.h"
#include "space/objects.h"
#include "space_world.h"

namespace {

using namespace space_world;

enum Phase { kCollisions, kBehaviours, kHangars, kMovement, kWhole };

void BM_Phase(benchmark::State& state) {
    const auto phase = static_cast<Phase>(state.range(0));
    const auto layout = static_cast<Layout>(state.range(1));
    const int n = static_cast<int>(state.range(2));
    SectorObject* sector = MakeSector(n, layout, true);
    g_SCollisionCounts = {0, 0};
    for (auto _ : state) {
        NextFrame();
        switch (phase) {
            case kCollisions: S_CheckCollisions(sector); break;
            case kBehaviours: VER_UpdateObjects(sector); break;
            case kHangars: g_SAPhases.updateHangars(sector); break;
            case kMovement:
                g_SAPhases.move(sector);
                g_SAPhases.orient(sector);
                break;
            case kWhole:
                SA_UpdateSpace();
                SA_DeleteKilledObjects();
                break;
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
    const double frames = double(state.iterations());
    state.counters["pairs/frame"] = double(g_SCollisionCounts.pairTests) / frames;
    state.counters["models/frame"] = double(g_SCollisionCounts.modelTests) / frames;
}

void PhaseArgs(benchmark::internal::Benchmark* b) {
    for (int phase = kCollisions; phase <= kWhole; ++phase)
        for (int layout : {kSpread, kClustered})
            for (int n : {10, 30, 100, 300, 1000}) b->Args({phase, layout, n});
    b->ArgNames({"phase", "clustered", "n"});
}
BENCHMARK(BM_Phase)->Apply(PhaseArgs)->Unit(benchmark::kMicrosecond);

// Bullets spread among 200 spread ships: the collision pass.
void BM_Bullets(benchmark::State& state) {
    const int bullets = static_cast<int>(state.range(0));
    SectorObject* sector = MakeSector(200, kSpread, true, bullets);
    for (auto _ : state) {
        NextFrame();
        S_CheckCollisions(sector);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * (200 + bullets));
}
BENCHMARK(BM_Bullets)->Arg(0)->Arg(50)->Arg(100)->Arg(250)->Arg(500)->Unit(benchmark::kMicrosecond);

// k kills among N ships and the deletion of the killed at the frame's end.
void BM_Kills(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const int k = static_cast<int>(state.range(1));
    for (auto _ : state) {
        state.PauseTiming();
        SectorObject* sector = MakeSector(n, kSpread, false);
        std::vector<SectorObject*> victims;
        for (SectorObject* c = SA_ListFirst(O_GetChildList(sector)); c && int(victims.size()) < k; c = SA_ListNext(c))
            victims.push_back(c);
        state.ResumeTiming();
        for (SectorObject* v : victims) SS_KillObject(v, 0, nullptr, 0);
        SA_DeleteKilledObjects();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * k);
}
BENCHMARK(BM_Kills)
    ->Args({100, 1})
    ->Args({100, 10})
    ->Args({100, 100})
    ->Args({1000, 10})
    ->Args({1000, 100})
    ->Unit(benchmark::kMicrosecond);

// An inactive sector of N objects in the whole update: skipped.
void BM_InactiveSector(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    SectorObject* sector = MakeSector(n, kClustered, true);
    O_Sector(sector)->spaceFlags |= SA_SPACE_INACTIVE;
    for (auto _ : state) {
        NextFrame();
        SA_UpdateSpace();
        SA_DeleteKilledObjects();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
}
BENCHMARK(BM_InactiveSector)->Arg(10)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
