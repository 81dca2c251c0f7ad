// The gate grid's route questions on seeded networks of 10 x 10 to 100 x 100
// sectors (neighbours joined both ways with probability 0.5, 0.7 or 1.0, and
// long links), gate positions shrinking with the grid so routes stay below
// the distance limit. Each is asked cold (a reset, then a new target each
// question), warm (targets already searched) and mixed (a gate added or
// removed every 64 questions), of three searches that fill a target's whole
// column: the grid's own, the search as first written, and a Dijkstra over
// (sector, arrival gate) states. Items per second; a table at the end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include "base/log.h"
#include "cockpit/galaxy.h"
#include "tests/support/galaxy_reference.h"

namespace {

struct Size {
    int32_t rows, columns;
};
constexpr Size kSizes[] = {{10, 10}, {24, 20}, {50, 40}, {100, 100}};
constexpr double kLinks[] = {0.5, 0.7, 1.0};
constexpr int32_t kTargets = 64;  // distinct targets of a cold round; the pool of the others
constexpr int32_t kWarmQuestions = 1024;
constexpr int32_t kMixedQuestions = 256;
constexpr int32_t kChangeEvery = 64;  // mixed: a gate change every so many questions

// A network, made once per size and link probability.
struct Network {
    GalaxyGrid grid{};
    int32_t sectors = 0;
    ~Network() { GS_FreeGalaxy(&grid); }
};

Network& NetworkFor(int32_t size, int32_t links) {
    static std::map<int32_t, std::unique_ptr<Network>> made;
    std::unique_ptr<Network>& net = made[size * 16 + links];
    if (!net) {
        net = std::make_unique<Network>();
        const Size s = kSizes[size];
        GS_AllocGalaxy(&net->grid, s.rows, s.columns);
        net->sectors = s.rows * s.columns;
        galaxy_reference::BuildNetwork(&net->grid, {static_cast<uint32_t>(101 + size * 7 + links), kLinks[links], 0,
                                                    net->sectors / 20, std::max(4000 / (s.rows + s.columns), 10)});
    }
    return *net;
}

// A column-filling search with a lazily made column per target.
class Searcher {
public:
    virtual ~Searcher() = default;
    virtual int32_t Route(GalaxyGrid* g, int32_t from, int32_t to) = 0;
    virtual void Reset(GalaxyGrid* g) = 0;
};

class Ours : public Searcher {
public:
    int32_t Route(GalaxyGrid* g, int32_t from, int32_t to) override {
        return GS_Route(g, from / g->columns, from % g->columns, to / g->columns, to % g->columns);
    }
    void Reset(GalaxyGrid* g) override { GS_ResetRouteCache(g); }
};

// Columns of the anchors, kept as the grid keeps its own.
class Cached : public Searcher {
public:
    int32_t Route(GalaxyGrid* g, int32_t from, int32_t to) override {
        if (from == to) return -1;
        columns_.resize(static_cast<size_t>(g->rows * g->columns));
        std::vector<RouteEntry>& column = columns_[static_cast<size_t>(to)];
        if (column.empty()) {
            column.resize(columns_.size());
            Fill(g, to, column.data());
        }
        return galaxy_reference::AnswerOf(column[static_cast<size_t>(from)]).gate;
    }
    void Reset(GalaxyGrid*) override {
        for (auto& c : columns_) std::vector<RouteEntry>().swap(c);
    }

protected:
    virtual void Fill(const GalaxyGrid* g, int32_t to, RouteEntry* column) = 0;

private:
    std::vector<std::vector<RouteEntry>> columns_;
};

class Reference : public Cached {
    void Fill(const GalaxyGrid* g, int32_t to, RouteEntry* column) override {
        galaxy_reference::Column(g, to, scratch_, column);
    }
    std::vector<galaxy_reference::Scratch> scratch_;
};

// Shortest ways over exit states (sector, gate): the length from leaving a
// sector by a gate to the target's centre. A link read backwards (sector n's
// gate a leads to sector k's gate e) lets k leave by e and arrive at n's a.
class Dijkstra : public Cached {
    void Fill(const GalaxyGrid* g, int32_t to, RouteEntry* column) override {
        using galaxy_reference::LegBetween;
        using galaxy_reference::LegOf;
        const int32_t n = g->rows * g->columns;
        exit_.assign(static_cast<size_t>(n) * GS_GATES, kFar);
        jumps_.assign(exit_.size(), 0);
        using Item = std::pair<uint32_t, int32_t>;
        std::priority_queue<Item, std::vector<Item>, std::greater<>> open;
        auto offer = [&](const GateSlot& link, uint32_t length, uint16_t jumps) {
            const int32_t state = (link.targetRow * g->columns + link.targetColumn) * GS_GATES + link.targetGate;
            if (length >= exit_[static_cast<size_t>(state)]) return;
            exit_[static_cast<size_t>(state)] = length;
            jumps_[static_cast<size_t>(state)] = jumps;
            open.emplace(length, state);
        };
        for (const GateSlot& link : g->sectors[to].gates)
            if (link.targetGate >= 0) offer(link, static_cast<uint32_t>(LegOf(link.position)), 1);
        while (!open.empty()) {
            const auto [length, state] = open.top();
            open.pop();
            if (length != exit_[static_cast<size_t>(state)]) continue;
            const int32_t k = state / GS_GATES, e = state % GS_GATES;
            if (k == to) continue;
            const GalaxySector& s = g->sectors[k];
            for (const GateSlot& link : s.gates) {
                if (link.targetGate < 0) continue;
                const int32_t b = static_cast<int32_t>(&link - s.gates);
                offer(link, length + static_cast<uint32_t>(LegBetween(s.gates[b].position, s.gates[e].position)),
                      static_cast<uint16_t>(jumps_[static_cast<size_t>(state)] + 1));
            }
        }
        for (int32_t k = 0; k < n; ++k) {
            if (k == to) {
                column[k] = RouteEntry{0, 0};
                continue;
            }
            uint32_t best = kFar;
            int32_t gate = -1;
            for (int32_t e = 0; e < GS_GATES; ++e) {
                const uint32_t x = exit_[static_cast<size_t>(k * GS_GATES + e)];
                if (x == kFar) continue;
                const uint32_t way = x + static_cast<uint32_t>(LegOf(g->sectors[k].gates[e].position));
                if (way < best) best = way, gate = e;
            }
            column[k] = gate < 0
                            ? RouteEntry{0x0FFF, 32767}
                            : RouteEntry{static_cast<uint16_t>(gate << 12 | (jumps_[k * GS_GATES + gate] & 0x0FFF)),
                                         static_cast<uint16_t>(std::min<uint32_t>(best, 32766))};
        }
    }
    static constexpr uint32_t kFar = 0xFFFFFFFF;
    std::vector<uint32_t> exit_;
    std::vector<uint16_t> jumps_;
};

std::unique_ptr<Searcher> Make(int32_t which) {
    if (which == 0) return std::make_unique<Ours>();
    if (which == 1) return std::make_unique<Reference>();
    return std::make_unique<Dijkstra>();
}

const char* const kSearchers[] = {"grid", "first", "dijkstra"};
const char* const kModes[] = {"cold", "warm", "mixed"};

void Run(benchmark::State& state, int32_t size, int32_t links, int32_t which, int32_t mode) {
    Network& net = NetworkFor(size, links);
    GalaxyGrid* g = &net.grid;
    std::unique_ptr<Searcher> searcher = Make(which);
    searcher->Reset(g);
    GS_ResetRouteCache(g);
    std::mt19937 random(7);
    std::uniform_int_distribution<int32_t> any(0, net.sectors - 1);
    std::vector<int32_t> pool(static_cast<size_t>(std::min(kTargets, net.sectors)));
    for (size_t i = 0; i < pool.size(); ++i)
        pool[i] = static_cast<int32_t>(i * static_cast<size_t>(net.sectors) / pool.size());
    std::uniform_int_distribution<size_t> inPool(0, pool.size() - 1);
    // A gate slot that is empty in the network: mixed rounds add it and take it away.
    int32_t spare = -1, spareGate = 0;
    for (int32_t k = 0; k < net.sectors && spare < 0; ++k)
        for (int32_t s = 0; s < GS_GATES && spare < 0; ++s)
            if (g->sectors[k].gates[s].targetGate < 0) {
                spare = k;
                spareGate = s;
            }
    bool added = false;
    int64_t items = 0;
    if (mode == 1)
        for (int32_t t : pool) searcher->Route(g, any(random), t);
    for (auto _ : state) {
        if (mode == 0) {
            searcher->Reset(g);
            for (int32_t t : pool) benchmark::DoNotOptimize(searcher->Route(g, any(random), t));
            items += static_cast<int64_t>(pool.size());
            continue;
        }
        const int32_t questions = mode == 1 ? kWarmQuestions : kMixedQuestions;
        for (int32_t q = 0; q < questions; ++q) {
            if (mode == 2 && q % kChangeEvery == 0) {
                const int32_t p[3] = {GS_POSITION_SCALE, 0, 0};
                if (added) GS_RemoveGate(g, spare / g->columns, spare % g->columns, spareGate);
                else GS_AddGate(g, spare / g->columns, spare % g->columns, spareGate, 0, 0, 0, p);
                added = !added;
                searcher->Reset(g);
            }
            benchmark::DoNotOptimize(searcher->Route(g, any(random), pool[inPool(random)]));
        }
        items += questions;
    }
    if (added) GS_RemoveGate(g, spare / g->columns, spare % g->columns, spareGate);
    searcher->Reset(g);
    GS_ResetRouteCache(g);
    state.SetItemsProcessed(items);
}

// Keeps every run's items per second for the table.
class Recorder : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> rate;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            auto it = r.counters.find("items_per_second");
            if (r.error_occurred || it == r.counters.end()) continue;
            const std::string name = r.benchmark_name();
            rate[name.substr(0, name.find("/min_time"))] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

std::string Name(int32_t which, int32_t mode, int32_t size, int32_t links) {
    char name[96];
    std::snprintf(name, sizeof name, "BM_Route/%s/%s/%dx%d/p%.1f", kSearchers[which], kModes[mode], kSizes[size].rows,
                  kSizes[size].columns, kLinks[links]);
    return name;
}

void Silent(const char*, size_t, void*) {}

}  // namespace

int main(int argc, char** argv) {
    Qel_SetLogCapture(Silent, nullptr);
    for (int32_t size = 0; size < 4; ++size)
        for (int32_t links = 0; links < 3; ++links)
            for (int32_t which = 0; which < 3; ++which)
                for (int32_t mode = 0; mode < 3; ++mode)
                    benchmark::RegisterBenchmark(Name(which, mode, size, links).c_str(), [=](benchmark::State& st) {
                        Run(st, size, links, which, mode);
                    })->MinTime(0.2);
    benchmark::Initialize(&argc, argv);
    Recorder recorder;
    benchmark::RunSpecifiedBenchmarks(&recorder);
    benchmark::Shutdown();
    std::printf("\nquestions per second (k = 1000)\n%-16s", "grid, links");
    for (int32_t which = 0; which < 3; ++which)
        for (int32_t mode = 0; mode < 3; ++mode)
            std::printf(" %14s", (std::string(kSearchers[which]) + " " + kModes[mode]).c_str());
    std::printf("\n");
    for (int32_t size = 0; size < 4; ++size)
        for (int32_t links = 0; links < 3; ++links) {
            char head[32];
            std::snprintf(head, sizeof head, "%dx%d, %.1f", kSizes[size].rows, kSizes[size].columns, kLinks[links]);
            std::printf("%-16s", head);
            for (int32_t which = 0; which < 3; ++which)
                for (int32_t mode = 0; mode < 3; ++mode) {
                    auto it = recorder.rate.find(Name(which, mode, size, links));
                    if (it == recorder.rate.end()) std::printf(" %14s", "-");
                    else std::printf(" %13.1fk", it->second / 1e3);
                }
            std::printf("\n");
        }
    return 0;
}
