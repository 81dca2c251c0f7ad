// The collision pass's pair search against FCL's dynamic AABB tree broad
// phase on the same spheres (N objects of one radius, spread over a sector
// or clustered): ours tests every pair once in the order the pass hands
// pairs on, without collision models so that only the search is timed; FCL
// updates its tree and reports every overlapping pair. Pairs found per frame
// are reported beside the times; the table holds ours against FCL at four
// sizes of each layout.
#include <benchmark/benchmark.h>

#include <fcl/broadphase/broadphase_dynamic_AABB_tree.h>
#include <fcl/geometry/shape/sphere.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/ratios.h"
#include "space/collisions.h"
#include "space_world.h"

namespace {

using namespace space_world;

void BM_PairSearch_Trevan(benchmark::State& state) {
    const auto layout = static_cast<Layout>(state.range(0));
    const int n = static_cast<int>(state.range(1));
    SectorObject* sector = MakeSector(n, layout, false);
    g_SCollisionCounts = {0, 0};
    for (auto _ : state) {
        NextFrame();
        S_CheckCollisions(sector);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
    state.counters["pairs/frame"] = double(g_SCollisionCounts.pairTests) / double(state.iterations());
}

struct Counter {
    int64_t pairs = 0;
};

bool CountPair(fcl::CollisionObjectd*, fcl::CollisionObjectd*, void* data) {
    ++static_cast<Counter*>(data)->pairs;
    return false;
}

void BM_PairSearch_Fcl(benchmark::State& state) {
    const auto layout = static_cast<Layout>(state.range(0));
    const int n = static_cast<int>(state.range(1));
    auto sphere = std::make_shared<fcl::Sphered>(kRadius);
    std::vector<std::unique_ptr<fcl::CollisionObjectd>> objects;
    std::vector<fcl::CollisionObjectd*> raw;
    for (const QelVector& p : Positions(n, layout, 1)) {
        fcl::Transform3d t = fcl::Transform3d::Identity();
        t.translation() = fcl::Vector3d(p.x, p.y, p.z);
        objects.push_back(std::make_unique<fcl::CollisionObjectd>(sphere, t));
        raw.push_back(objects.back().get());
    }
    fcl::DynamicAABBTreeCollisionManagerd manager;
    manager.registerObjects(raw);
    manager.setup();
    Counter counter;
    for (auto _ : state) {
        manager.update();
        manager.collide(&counter, CountPair);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
    state.counters["pairs/frame"] = double(counter.pairs) / double(state.iterations());
}

}  // namespace

// Each size runs ours and then FCL's, one after the other, so that a change
// in the machine's load falls on both sides of a row alike.
int main(int argc, char** argv) {
    std::vector<bench_ratios::Pair> pairs;
    static std::vector<std::string> names;  // the table keeps pointers into them
    for (int layout : {kSpread, kClustered})
        for (int n : {10, 30, 100, 300, 1000}) {
            const std::string args = "/clustered:" + std::to_string(layout) + "/n:" + std::to_string(n);
            using Run = void (*)(benchmark::State&);
            for (auto [name, run] : {std::pair<const char*, Run>{"BM_PairSearch_Trevan", BM_PairSearch_Trevan},
                                     std::pair<const char*, Run>{"BM_PairSearch_Fcl", BM_PairSearch_Fcl}})
                benchmark::RegisterBenchmark(name, run)
                    ->Args({layout, n})
                    ->ArgNames({"clustered", "n"})
                    ->Unit(benchmark::kMicrosecond);
            if (n == 30) continue;
            names.push_back("BM_PairSearch_Trevan" + args);
            names.push_back("BM_PairSearch_Fcl" + args);
        }
    for (size_t i = 0; i < names.size(); i += 2)
        pairs.push_back({names[i].c_str(), names[i + 1].c_str(),
                         names[i].ends_with("/n:1000") ? "<= 1.0" : "(growth near n log n)"});
    return bench_ratios::Main(argc, argv, pairs);
}
