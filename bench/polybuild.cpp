// Bodies from polygons: a smoothed, textured grid handed to the polygon
// builder quad by quad, as the text body reader does, at two sizes. The
// table holds the larger against the smaller: ten times the triangles
// should take at most twelve times as long.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "base/general.h"
#include "bench/ratios.h"
#include "scene/bodyrecord.h"
#include "scene/polybuild.h"
#include "scene/pools.h"
#include "scene/state.h"

namespace {

constexpr int32_t ONE = 65536;

void BM_BuildBodyFromPolygons(benchmark::State& state) {
    int side = 1;
    while (2 * side * side < state.range(0)) ++side;
    // Points of a bent grid; each quad's corners carry the point's own
    // texture coordinates, so that neighbouring quads share their vertices.
    std::vector<int32_t> points;
    for (int y = 0; y <= side; ++y)
        for (int x = 0; x <= side; ++x)
            points.insert(points.end(), {x * ONE / side, y * ONE / side, (x * y) % 7 * ONE / 64, 0});
    auto system = std::make_unique<SystemState>();
    SystemState* savedSystem = g_SystemState;
    g_SystemState = system.get();
    g_B3DState = B3D_InitStore();
    int64_t vertices = 0;
    for (auto _ : state) {
        auto* body = static_cast<Body3D*>(B3D_AllocMemB(sizeof(Body3D), B3D_MEM_ZERO));
        BodyPart* part = B3D_AllocBodyPart(B3D_AllocBodyLevel(body));
        g_B3DPolyWork.points = points.data();
        g_B3DPolyWork.pointCount = int32_t(points.size() / 4);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                B3DPoly poly{};
                poly.n = 4;
                const int32_t a = y * (side + 1) + x;
                const int32_t corners[4] = {a, a + 1, a + side + 2, a + side + 1};
                for (int k = 0; k < 4; ++k) {
                    poly.v[k] = corners[k];
                    poly.tex[0][2 * k] = points[4 * corners[k]];
                    poly.tex[0][2 * k + 1] = points[4 * corners[k] + 1];
                }
                poly.smoothGroup = 1;
                if (B3D_AddPolyToBody(&poly, 0, part) != 1) state.SkipWithError("polygon refused");
            }
        vertices = g_B3DPolyWork.count;
        B3D_PolyWorkFree();
        B3D_FreeBody(body);
    }
    B3D_FreeStore();
    g_SystemState = savedSystem;
    state.counters["triangles"] = double(2 * side * side);
    state.counters["vertices"] = double(vertices);
}

}  // namespace

BENCHMARK(BM_BuildBodyFromPolygons)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    return bench_ratios::Main(
        argc, argv,
        {{"BM_BuildBodyFromPolygons/100000", "BM_BuildBodyFromPolygons/10000", "<= 12 (ten times the triangles)"}});
}
