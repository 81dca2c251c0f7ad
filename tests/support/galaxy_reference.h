// For the gate grid's tests, fuzz target and benchmark: the route search as
// first written (16-bit costs; a sector keeps a way computed from a way of
// the next sector that may change later), seeded random gate networks built
// through GS_AddGate, and a ship that follows a route gate by gate.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <utility>
#include <vector>

#include "cockpit/galaxy.h"

namespace galaxy_reference {

inline int32_t Leg(int64_t x, int64_t y, int64_t z) {
    return static_cast<int32_t>(std::sqrt(static_cast<float>(x * x + y * y + z * z)));
}
inline int32_t LegOf(const int32_t* p) { return Leg(p[0], p[1], p[2]); }
inline int32_t LegBetween(const int32_t* a, const int32_t* b) {
    return Leg(int64_t{a[0]} - b[0], int64_t{a[1]} - b[1], int64_t{a[2]} - b[2]);
}

// The search's scratch per sector.
struct Scratch {
    uint16_t cost;
    uint16_t jumps;
    int16_t exit;
    int32_t link;
};

// The cache column of `target` as the first search fills it; `scratch` is
// kept between calls by callers that search often.
inline void Column(const GalaxyGrid* g, int32_t target, std::vector<Scratch>& scratch, RouteEntry* column) {
    const int32_t n = g->rows * g->columns;
    scratch.resize(static_cast<size_t>(n));
    Scratch* s = scratch.data();
    for (int32_t k = 0; k < n; ++k) s[k].cost = 32767;
    s[target] = Scratch{0, 0, -1, -1};
    int32_t head = target, tail = target;
    for (;;) {
        const GalaxySector& h = g->sectors[head];
        for (int32_t slot = 0; slot < GS_GATES; ++slot) {
            const GateSlot& link = h.gates[slot];
            if (slot == s[head].exit || link.targetGate < 0) continue;
            const int32_t ni = link.targetRow * g->columns + link.targetColumn;
            const GalaxySector& ns = g->sectors[ni];
            Scratch& next = s[ni];
            const auto candidate = static_cast<uint16_t>(
                s[head].exit < 0 ? LegOf(link.position)
                                 : s[head].cost + LegBetween(link.position, h.gates[s[head].exit].position));
            const bool reached = next.cost != 32767;
            if (reached && candidate + LegOf(ns.gates[link.targetGate].position) >=
                               next.cost + (next.exit < 0 ? 0 : LegOf(ns.gates[next.exit].position)))
                continue;
            next.cost = candidate;
            next.jumps = static_cast<uint16_t>(s[head].jumps + 1);
            next.exit = link.targetGate;
            if (!reached || next.link < 0) {
                s[tail].link = ni;
                tail = ni;
                next.link = -1;
            }
        }
        if (head == tail) break;
        const int32_t following = s[head].link;
        s[head].link = -1;
        head = following;
    }
    for (int32_t k = 0; k < n; ++k) {
        const GalaxySector& sector = g->sectors[k];
        if (k == target) column[k] = RouteEntry{0, 0};
        else if (s[k].cost == 32767) column[k] = RouteEntry{0x0FFF, 32767};
        else
            column[k] = RouteEntry{static_cast<uint16_t>(s[k].exit * 4096 + (s[k].jumps & 0x0FFF)),
                                   static_cast<uint16_t>(s[k].cost + LegOf(sector.gates[s[k].exit].position))};
    }
}

// The three answers of an entry: gate (-1 same sector), distance, jumps; -2 unreachable.
struct Answer {
    int32_t gate;
    int32_t distance;
    int32_t jumps;
    bool operator==(const Answer&) const = default;
};
inline Answer AnswerOf(const RouteEntry& e) {
    if (e.route == 0x0FFF) return {-2, -2, -2};
    if (e.route == 0) return {-1, 0, 0};
    return {e.route >> 12, e.distance, e.route & 0x0FFF};
}
// The engine's answers for a pair of sector indices.
inline Answer EngineAnswer(GalaxyGrid* g, int32_t from, int32_t to) {
    const int32_t fr = from / g->columns, fc = from % g->columns, tr = to / g->columns, tc = to % g->columns;
    return {GS_Route(g, fr, fc, tr, tc), GS_RouteDist(g, fr, fc, tr, tc), GS_RouteLen(g, fr, fc, tr, tc)};
}

// A ship from `from` to `to` that takes, in each sector, the gate `route`
// names and goes where that gate leads.
struct Trip {
    bool arrived;
    int32_t jumps;
    int64_t length;
};
template <class RouteFn>
Trip Follow(const GalaxyGrid* g, int32_t from, int32_t to, RouteFn route) {
    const int32_t n = g->rows * g->columns;
    int32_t at = from, arrival = -1, jumps = 0;
    int64_t length = 0;
    while (at != to) {
        const int32_t gate = route(at);
        if (jumps >= n || gate < 0 || gate >= GS_GATES) return {false, jumps, length};
        const GalaxySector& s = g->sectors[at];
        const GateSlot& slot = s.gates[gate];
        if (slot.targetGate < 0) return {false, jumps, length};
        length += arrival < 0 ? LegOf(slot.position) : LegBetween(s.gates[arrival].position, slot.position);
        at = slot.targetRow * g->columns + slot.targetColumn;
        arrival = slot.targetGate;
        ++jumps;
    }
    if (arrival >= 0) length += LegOf(g->sectors[to].gates[arrival].position);
    return {true, jumps, length};
}
// Whether the answers of a pair describe the route a ship following them
// travels (a distance at the limit stands for any longer one).
template <class RouteFn>
bool Consistent(const GalaxyGrid* g, int32_t from, int32_t to, const Answer& a, RouteFn route) {
    if (a.gate == -2) return a.distance == -2 && a.jumps == -2;
    const Trip trip = Follow(g, from, to, route);
    const bool length =
        trip.length == a.distance || (a.distance == GS_DISTANCE_LIMIT && trip.length >= GS_DISTANCE_LIMIT);
    return trip.arrived && trip.jumps == a.jumps && length;
}

// A seeded network on a grid made by GS_AllocGalaxy: neighbours joined by
// a pair of gates (one each way, as stories add them) with the given
// probability, some of those pairs doubled, and long links between random
// sectors; each gate stands towards its neighbour about `radius` stored units
// from the centre, long links anywhere within it.
struct NetworkSpec {
    uint32_t seed;
    double linkProbability;
    int32_t doublePairs;
    int32_t longLinks;
    int32_t radius;
};

inline void BuildNetwork(GalaxyGrid* g, const NetworkSpec& spec) {
    std::mt19937 random(spec.seed);
    const int32_t n = g->rows * g->columns;
    std::vector<std::vector<int32_t>> free(static_cast<size_t>(n));
    for (auto& slots : free) {
        slots.resize(GS_GATES);
        std::iota(slots.begin(), slots.end(), 0);
        std::shuffle(slots.begin(), slots.end(), random);
    }
    auto uniform = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(random); };
    // A gate towards (dx, dy), in story units.
    auto place = [&](int32_t dx, int32_t dy, int32_t* p) {
        const int32_t r = spec.radius;
        const int32_t reach = uniform(r / 4, r);
        p[0] = (dx * reach + uniform(-r / 3, r / 3)) * GS_POSITION_SCALE;
        p[1] = (dy * reach + uniform(-r / 3, r / 3)) * GS_POSITION_SCALE;
        p[2] = uniform(-r / 3, r / 3) * GS_POSITION_SCALE;
    };
    auto pair = [&](int32_t a, int32_t b, int32_t dx, int32_t dy) {
        auto& fa = free[static_cast<size_t>(a)];
        auto& fb = free[static_cast<size_t>(b)];
        if (fa.empty() || fb.empty()) return false;
        const int32_t sa = fa.back(), sb = fb.back();
        fa.pop_back();
        fb.pop_back();
        int32_t pa[3], pb[3];
        place(dx, dy, pa);
        place(-dx, -dy, pb);
        GS_AddGate(g, a / g->columns, a % g->columns, sa, b / g->columns, b % g->columns, sb, pa);
        GS_AddGate(g, b / g->columns, b % g->columns, sb, a / g->columns, a % g->columns, sa, pb);
        return true;
    };
    std::bernoulli_distribution linked(spec.linkProbability);
    std::vector<std::pair<int32_t, int32_t>> neighbours;
    for (int32_t k = 0; k < n; ++k) {
        const int32_t row = k / g->columns, column = k % g->columns;
        if (column + 1 < g->columns && linked(random) && pair(k, k + 1, 1, 0)) neighbours.emplace_back(k, k + 1);
        if (row + 1 < g->rows && linked(random) && pair(k, k + g->columns, 0, 1))
            neighbours.emplace_back(k, k + g->columns);
    }
    for (int32_t i = 0; i < spec.doublePairs && !neighbours.empty(); ++i) {
        const auto [a, b] = neighbours[static_cast<size_t>(uniform(0, static_cast<int32_t>(neighbours.size()) - 1))];
        pair(a, b, b == a + 1 ? 1 : 0, b == a + 1 ? 0 : 1);
    }
    for (int32_t i = 0; i < spec.longLinks; ++i) {
        const int32_t a = uniform(0, n - 1), b = uniform(0, n - 1);
        if (a != b) pair(a, b, uniform(-1, 1), uniform(-1, 1));
    }
}

}  // namespace galaxy_reference
