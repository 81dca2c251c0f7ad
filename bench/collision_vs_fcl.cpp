// The collision library against FCL's OBB and OBBRSS trees (double precision,
// the only form the package exports) on the same inputs: two noisy spheres of
// 5,120 triangles (radii 1.0 and 0.75, ±3% radial noise) and 1,000 seeded
// poses of the second. Queries per second for the first contact and for every
// contact, model build time and bytes per model; then a beam against a
// ship-sized body and a soup with zero-area triangles, both by the library
// alone and through the instance wrapper (bodies, instances, the tests that
// the space simulation calls).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <limits>
#include <vector>

#include "base/log.h"
#include "scene/allocs.h"
#include "scene/bodyrecord.h"
#include "scene/collision.h"
#include "scene/ids.h"
#include "scene/instcoll.h"
#include "scene/state.h"
#include "tools/lib/collision_meshes.h"
#include "tools/lib/fcl_meshes.h"

namespace {

const float kIdentity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
const float kOrigin[3] = {0, 0, 0};
constexpr float kSmallScale = 0.75f;

struct Inputs {
    CollMesh big = CollMesh_NoisyIcosphere(4, 1.0f, 0.03f, 1);
    CollMesh small = CollMesh_NoisyIcosphere(4, 1.0f, 0.03f, 2);  // placed with scale 0.75
    std::vector<CollPose> poses = CollMesh_Poses(1000, 2.0f, 3);
};

const Inputs& In() {
    static const Inputs inputs;
    return inputs;
}

// Both spheres, built once per library.
struct Ours {
    CollModel* a = CollMesh_BuildModel(In().big);
    CollModel* b = CollMesh_BuildModel(In().small);
};
const Ours& OurModels() {
    static const Ours models;
    return models;
}

template <class BV>
struct Theirs {
    std::shared_ptr<fcl::BVHModel<BV>> a = FclMesh_Build<BV>(In().big, 1.0);
    std::shared_ptr<fcl::BVHModel<BV>> b = FclMesh_Build<BV>(In().small, kSmallScale);
    std::vector<fcl::Transform3d> poses;
    Theirs() {
        for (const CollPose& p : In().poses) poses.push_back(FclMesh_Transform(p.R, p.T));
    }
};
template <class BV>
const Theirs<BV>& TheirModels() {
    static const Theirs<BV> models;
    return models;
}

void Report(benchmark::State& state, int64_t contacts) {
    const auto queries = int64_t(state.iterations()) * int64_t(In().poses.size());
    state.SetItemsProcessed(queries);
    state.counters["contacts/query"] = double(contacts) / double(queries);
}

// ---- queries ----

void Trevan_Query(benchmark::State& state, uint32_t mode) {
    const Ours& m = OurModels();
    int64_t contacts = 0;
    for (auto _ : state) {
        for (const CollPose& p : In().poses) {
            Coll_Detect(mode, 0, 0, nullptr, kIdentity, kOrigin, 1, m.a, p.R, p.T, kSmallScale, m.b);
            contacts += g_CollState.contacts;
        }
    }
    Report(state, contacts);
}

template <class BV>
void Fcl_Query(benchmark::State& state, size_t maxContacts) {
    const Theirs<BV>& m = TheirModels<BV>();
    const fcl::Transform3d ta = fcl::Transform3d::Identity();
    int64_t contacts = 0;
    for (auto _ : state) {
        for (const fcl::Transform3d& tb : m.poses)
            contacts += int64_t(FclMesh_Contacts(*m.a, ta, *m.b, tb, maxContacts));
    }
    Report(state, contacts);
}

constexpr size_t kAll = std::numeric_limits<size_t>::max();

void BM_FirstContact_Trevan(benchmark::State& state) { Trevan_Query(state, COLL_FIRST_CONTACT); }
void BM_FirstContact_FclObb(benchmark::State& state) { Fcl_Query<fcl::OBBd>(state, 1); }
void BM_FirstContact_FclObbRss(benchmark::State& state) { Fcl_Query<fcl::OBBRSSd>(state, 1); }
void BM_AllContacts_Trevan(benchmark::State& state) { Trevan_Query(state, 0); }
void BM_AllContacts_FclObb(benchmark::State& state) { Fcl_Query<fcl::OBBd>(state, kAll); }
void BM_AllContacts_FclObbRss(benchmark::State& state) { Fcl_Query<fcl::OBBRSSd>(state, kAll); }

BENCHMARK(BM_FirstContact_Trevan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstContact_FclObb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstContact_FclObbRss)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AllContacts_Trevan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AllContacts_FclObb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AllContacts_FclObbRss)->Unit(benchmark::kMillisecond);

// ---- building a model of the big sphere ----

void BM_Build_Trevan(benchmark::State& state) {
    int64_t bytes = 0;
    for (auto _ : state) {
        const int64_t before = Coll_GetMemUsed();
        CollModel* m = CollMesh_BuildModel(In().big);
        bytes = Coll_GetMemUsed() - before;
        Coll_FreeModel(m);
    }
    state.counters["bytes/model"] = double(bytes);
}

template <class BV>
void Fcl_Build(benchmark::State& state) {
    int64_t bytes = 0;
    for (auto _ : state) {
        auto m = FclMesh_Build<BV>(In().big, 1.0);
        // FCL's own memUsage formula; the function returns a status, not the sum.
        bytes = int64_t(sizeof(BV)) * m->getNumBVs() + int64_t(sizeof(fcl::Triangle)) * m->num_tris +
                int64_t(sizeof(fcl::Vector3d)) * m->num_vertices + int64_t(sizeof(*m));
        benchmark::DoNotOptimize(m.get());
    }
    state.counters["bytes/model"] = double(bytes);
}

void BM_Build_FclObb(benchmark::State& state) { Fcl_Build<fcl::OBBd>(state); }
void BM_Build_FclObbRss(benchmark::State& state) { Fcl_Build<fcl::OBBRSSd>(state); }

BENCHMARK(BM_Build_Trevan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Build_FclObb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Build_FclObbRss)->Unit(benchmark::kMillisecond);

// ---- a beam against a ship-sized body ----

// A beam 400 long (two crossed triangles along z, half-sizes 1, 1, 200)
// fired from 150 away at points within 60 of a body of radius 50, keeping
// the nearest hit within the beam's length.
const CollMesh& Ship() {
    static const CollMesh ship = CollMesh_NoisyIcosphere(4, 50.0f, 0.03f, 4);
    return ship;
}

// Beam placements: z along the shot, the beam's middle 200 along it.
const std::vector<CollPose>& Shots() {
    static const std::vector<CollPose> shots = [] {
        const std::vector<CollPose> dirs = CollMesh_Poses(1000, 60.0f, 5);
        std::vector<CollPose> out;
        for (const CollPose& d : dirs) {
            const float z[3] = {d.R[0][2], d.R[1][2], d.R[2][2]};
            CollPose p = d;
            for (int k = 0; k < 3; ++k) p.T[k] = d.T[k] - 150 * z[k] + 200 * z[k];
            out.push_back(p);
        }
        return out;
    }();
    return shots;
}

void ReportShots(benchmark::State& state, int64_t hits) {
    const auto queries = int64_t(state.iterations()) * int64_t(Shots().size());
    state.SetItemsProcessed(queries);
    state.counters["hits/query"] = double(hits) / double(queries);
}

void BM_Beam_ShipBody_Trevan(benchmark::State& state) {
    static CollModel* ship = CollMesh_BuildModel(Ship());
    static CollModel* beam = [] {
        const float c = 200;
        CollModel* m = Coll_NewBox();
        const float t[6][3] = {{0, 1, -c}, {0, -1, -c}, {0, 0, c}, {1, 0, c}, {-1, 0, c}, {0, 0, -c}};
        Coll_AddTri(m, t[0], t[1], t[2], 0);
        Coll_AddTri(m, t[3], t[4], t[5], 1);
        Coll_EndModel(m);
        return m;
    }();
    int64_t hits = 0;
    for (auto _ : state) {
        for (const CollPose& p : Shots()) {
            float best = std::numeric_limits<float>::max();
            Coll_Detect(COLL_MODE_NEAREST | COLL_MODE_DEPTH_LIMIT, 8, 200, &best, p.R, p.T, 1, beam, kIdentity, kOrigin,
                        1, ship);
            hits += g_CollState.contacts > 0;
        }
    }
    ReportShots(state, hits);
}
BENCHMARK(BM_Beam_ShipBody_Trevan)->Unit(benchmark::kMillisecond);

// ---- a soup with zero-area triangles ----

// Every fourth triangle of the big sphere collapsed onto a line; built (its
// warning silenced) and queried for the first contact.
void DropLog(const char*, size_t, void*) {}

const CollMesh& Soup() {
    static const CollMesh soup = CollMesh_WithZeroAreaTriangles(In().big, 4);
    return soup;
}

void BM_ZeroAreaSoup_Build_Trevan(benchmark::State& state) {
    Qel_SetLogCapture(&DropLog, nullptr);
    for (auto _ : state) Coll_FreeModel(CollMesh_BuildModel(Soup()));
    Qel_SetLogCapture(nullptr, nullptr);
}

void BM_ZeroAreaSoup_FirstContact_Trevan(benchmark::State& state) {
    Qel_SetLogCapture(&DropLog, nullptr);
    static CollModel* soup = CollMesh_BuildModel(Soup());
    Qel_SetLogCapture(nullptr, nullptr);
    const Ours& m = OurModels();
    int64_t contacts = 0;
    for (auto _ : state) {
        for (const CollPose& p : In().poses) {
            Coll_Detect(COLL_FIRST_CONTACT, 0, 0, nullptr, kIdentity, kOrigin, 1, soup, p.R, p.T, kSmallScale, m.b);
            contacts += g_CollState.contacts;
        }
    }
    Report(state, contacts);
}

BENCHMARK(BM_ZeroAreaSoup_Build_Trevan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZeroAreaSoup_FirstContact_Trevan)->Unit(benchmark::kMillisecond);

// ---- the same two through the instance wrapper ----

// 16.16 fixed point of a float.
int32_t Fix(float v) { return int32_t(std::lround(double(v) * 65536.0)); }

// The largest distance of a vertex from the mesh's origin.
float MaxNorm(const CollMesh& mesh) {
    float r = 0;
    for (size_t i = 0; i < mesh.vertices.size(); i += 3) {
        const float* v = &mesh.vertices[i];
        r = std::max(r, std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
    }
    return r;
}

// The scene engine's state, made once for all the instance cases.
void NeedScene() {
    static const bool made = [] {
        g_B3DState = B3D_InitStore();
        return g_B3DState && B3D_InitBodyIdTable() == 1;
    }();
    if (!made) std::abort();
}

// An instance of a new body of the mesh, its size the mesh's own times
// scale, its total radius cached; null when the body cannot be made.
Inst3D* MeshInst(const CollMesh& mesh, int32_t bodyId, float scale) {
    NeedScene();
    float unit = 1;
    if (!CollMesh_MakeBody(mesh, bodyId, &unit)) std::abort();
    Inst3D* inst = B3D_AllocInst();
    inst->bodyId = bodyId;
    inst->scale.x = Fix(unit * scale);
    inst->totalRadius = Fix(MaxNorm(mesh) * scale);
    return inst;
}

// Places an instance as the library places a model at pose p: the engine's
// matrix rows are the axes, so row k is column k of R.
void Place(Inst3D* inst, const CollPose& p) {
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 3; ++i) inst->worldMatrix.m[k * 4 + i] = Fix(p.R[i][k]);
    inst->worldPos = {Fix(p.T[0]), Fix(p.T[1]), Fix(p.T[2]), 0};
}

constexpr int32_t kShipBody = 101;
constexpr int32_t kBeamBody = 102;
constexpr int32_t kSoupBody = 103;
constexpr int32_t kSmallBody = 104;

// The beam as the space simulation fires it: the hierarchical test of the
// beam's model against the ship's tree within the beam's length.
void BM_Beam_ShipBody_Instances(benchmark::State& state) {
    static Inst3D* ship = [] {
        Inst3D* inst = MeshInst(Ship(), kShipBody, 1);
        if (!B3D_CollBuildModel(inst, 0)) std::abort();
        return inst;
    }();
    static Inst3D* beam = [] {
        CollMesh one;
        one.vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0};
        one.indices = {0, 1, 2};
        Inst3D* inst = MeshInst(one, kBeamBody, 1);
        inst->scale.x = Fix(1);
        if (!B3D_CollBuildModelSimple(inst, Fix(1), Fix(1), Fix(200))) std::abort();
        return inst;
    }();
    int64_t hits = 0;
    for (auto _ : state) {
        for (const CollPose& p : Shots()) {
            Place(beam, p);
            hits += B3D_CheckCollisionHier(beam, ship, Fix(200), 0);
        }
    }
    ReportShots(state, hits);
}

struct SoupInsts {
    Inst3D* soup;
    Inst3D* small;
};

const SoupInsts& SoupInstances() {
    static const SoupInsts insts = [] {
        SoupInsts s{MeshInst(Soup(), kSoupBody, 1), MeshInst(In().small, kSmallBody, kSmallScale)};
        Qel_SetLogCapture(&DropLog, nullptr);
        const bool built = B3D_CollBuildModel(s.soup, 0) && B3D_CollBuildModel(s.small, 0);
        Qel_SetLogCapture(nullptr, nullptr);
        if (!built) std::abort();
        return s;
    }();
    return insts;
}

// Each round frees the soup body's model, so the wrapper builds it afresh
// from the body's points.
void BM_ZeroAreaSoup_Build_Instances(benchmark::State& state) {
    Inst3D* soup = SoupInstances().soup;
    Body3D* body = static_cast<Body3D*>(B3D_FindBody(kSoupBody));
    Qel_SetLogCapture(&DropLog, nullptr);
    for (auto _ : state) {
        Coll_FreeModel(body->collModel);
        body->collModel = nullptr;
        B3D_CollBuildModel(soup, 0);
    }
    Qel_SetLogCapture(nullptr, nullptr);
}

// The pair test the space simulation's collision step calls, with the
// radii taken from the instances.
void BM_ZeroAreaSoup_FirstContact_Instances(benchmark::State& state) {
    const SoupInsts& s = SoupInstances();
    int64_t contacts = 0;
    for (auto _ : state) {
        for (const CollPose& p : In().poses) {
            Place(s.small, p);
            contacts += B3D_CheckCollisionPairAuto(s.soup, s.small);
        }
    }
    Report(state, contacts);
}

BENCHMARK(BM_Beam_ShipBody_Instances)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZeroAreaSoup_Build_Instances)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZeroAreaSoup_FirstContact_Instances)->Unit(benchmark::kMillisecond);

}  // namespace
