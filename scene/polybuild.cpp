#include "scene/polybuild.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/fixmath.h"
#include "base/log.h"
#include "base/memory.h"
#include "scene/pools.h"
#include "scene/smallops.h"
#include "scene/state.h"

[[noreturn]] void P_Exit(int reason);

B3DPolyWork g_B3DPolyWork;

namespace {
constexpr int32_t kGrowth = 1000;
constexpr int32_t kTriBytes = B3D_MAX_TRIANGLES * int32_t(sizeof(BodyTriangle));

void Cross(const int32_t* e1, const int32_t* e2, int32_t* out) {
    out[0] = Qel_FixMul(e1[1], e2[2]) - Qel_FixMul(e1[2], e2[1]);
    out[1] = Qel_FixMul(e1[2], e2[0]) - Qel_FixMul(e1[0], e2[2]);
    out[2] = Qel_FixMul(e1[0], e2[1]) - Qel_FixMul(e1[1], e2[0]);
}

void Sub(const int32_t* a, const int32_t* b, int32_t* out) {  // b - a
    for (int i = 0; i < 3; ++i) out[i] = b[i] - a[i];
}

int32_t FloatLength(const int32_t* e) {
    double x = e[0], y = e[1], z = e[2];
    return int32_t(std::sqrt(float(x * x + y * y + z * z)));
}

// The face normal of (a, b, c): (b - a) x (c - a), normalised.
void FaceNormal(const int32_t* a, const int32_t* b, const int32_t* c, int32_t* n) {
    int32_t e1[3], e2[3];
    Sub(a, b, e1);
    Sub(a, c, e2);
    Cross(e1, e2, n);
    B3D_VecNormalizeScaled(&n[0], &n[1], &n[2]);
}

// Small working arrays live on the heap. Past kHeapCapacity entries an array
// moves once into address space taken at the largest size its 32-bit byte
// counts allow, and from then on grows by committing pages at its end: a
// growth no longer copies what is there, so building stays linear.
constexpr int32_t kHeapCapacity = 8 * kGrowth;
constexpr int32_t kMaxWorkVertices = INT32_MAX / int32_t(sizeof(B3DWeightRecord)) / kGrowth * kGrowth;
constexpr uint32_t kWorkFlags = INT_MEM_VIRTUAL | Int_MemTag(B3D_TAG_B);

// A failed growth ends the program (exit reason 3), so a reservation it took is left as it is.
template <class T>
bool GrowArray(T*& array, int32_t oldCapacity, int32_t newCapacity) {
    const int32_t oldBytes = oldCapacity * int32_t(sizeof(T));
    const int32_t newBytes = newCapacity * int32_t(sizeof(T));
    void* grown = nullptr;
    if (newCapacity <= kHeapCapacity) {
        grown = B3D_GrowMemB(array, oldBytes, newBytes);
    } else if (newCapacity <= kMaxWorkVertices) {
        void* block = array;
        if (oldCapacity <= kHeapCapacity)
            block = Int_AllocMem(size_t(kMaxWorkVertices) * sizeof(T), kWorkFlags | INT_MEM_RESERVE);
        if (block)
            grown = Int_ReAllocMem(block, oldCapacity <= kHeapCapacity ? 0 : size_t(oldBytes), newBytes, kWorkFlags);
        if (grown && oldCapacity <= kHeapCapacity && array) {
            memcpy(grown, array, size_t(oldBytes));
            B3D_FreeMemB(oldBytes, array, B3D_MEM_ZERO);
            g_B3DState->poolBBytes += oldBytes;
        }
        if (grown) {
            g_B3DState->poolBBytes += newBytes - oldBytes;
            g_B3DState->poolBPeak = std::max(g_B3DState->poolBPeak, g_B3DState->poolBBytes);
        }
    }
    if (!grown) {
        Qel_DPrintf(0, "B3D_ReAllocMemB() failed to allocate %d bytes!\n", newBytes);
        return false;
    }
    array = static_cast<T*>(grown);
    return true;
}

template <class T>
void FreeArray(T* array, int32_t capacity) {
    if (!array || capacity <= 0) return;
    const int32_t bytes = capacity * int32_t(sizeof(T));
    if (capacity <= kHeapCapacity) {
        B3D_FreeMemB(bytes, array, B3D_MEM_ZERO);
        return;
    }
    g_B3DState->poolBBytes -= bytes;
    Int_FreeMem(array, size_t(bytes), kWorkFlags);
}

bool Grow() {
    B3DPolyWork& w = g_B3DPolyWork;
    const int32_t cap = w.capacity + kGrowth;
    if (!GrowArray(w.vertices, w.capacity, cap)) return false;
    // The weight array grows with the vertices; its capacity is the same.
    if (w.pointWeights && !GrowArray(w.weights, w.capacity, cap)) return false;
    w.capacity = cap;
    return true;
}

// The smoothed working vertices by smoothing group and position, so that a
// corner finds its vertex without scanning all the earlier ones: open
// addressing over vertex indices, -1 for an empty slot. Vertices are entered
// in index order, so along a probe the first match is the earliest vertex.
struct VertexIndex {
    std::vector<int32_t> slots;
    int32_t entries = 0;
    int32_t indexed = 0;  // working vertices [0, indexed) have been looked at
};
VertexIndex s_index;

uint32_t VertexHash(int32_t group, const int32_t* pos) {
    uint64_t h = uint32_t(group) * 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < 3; ++i) h = (h ^ uint32_t(pos[i])) * 0xff51afd7ed558ccdull;
    return uint32_t(h >> 32);
}

void IndexInsert(int32_t i) {
    const B3DWorkVertex& v = g_B3DPolyWork.vertices[i];
    const size_t mask = s_index.slots.size() - 1;
    size_t at = VertexHash(v.smoothGroup, v.pos) & mask;
    while (s_index.slots[at] >= 0) at = (at + 1) & mask;
    s_index.slots[at] = i;
    ++s_index.entries;
}

void IndexReset() {
    std::vector<int32_t>().swap(s_index.slots);
    s_index.entries = 0;
    s_index.indexed = 0;
}

// Enters the working vertices not yet entered (all of them after the
// arrays were set up anew), growing the slots to stay at most half full.
void IndexCatchUp() {
    B3DPolyWork& w = g_B3DPolyWork;
    if (s_index.indexed > w.count) IndexReset();
    for (; s_index.indexed < w.count; ++s_index.indexed) {
        const int32_t i = s_index.indexed;
        if (w.vertices[i].smoothGroup == 0) continue;
        if (size_t(s_index.entries + 1) * 2 > s_index.slots.size()) {
            s_index.slots.assign(std::max<size_t>(1024, s_index.slots.size() * 2), -1);
            s_index.entries = 0;
            for (int32_t j = 0; j < i; ++j)
                if (w.vertices[j].smoothGroup != 0) IndexInsert(j);
        }
        IndexInsert(i);
    }
}

int32_t FindOrAddVertex(const B3DPoly* poly, int k, const int32_t tex[4]) {
    B3DPolyWork& w = g_B3DPolyWork;
    const int32_t* p = w.points + 4 * poly->v[k];
    IndexCatchUp();
    if (poly->smoothGroup != 0 && !s_index.slots.empty()) {
        const size_t mask = s_index.slots.size() - 1;
        for (size_t at = VertexHash(poly->smoothGroup, p) & mask; s_index.slots[at] >= 0; at = (at + 1) & mask) {
            const int32_t i = s_index.slots[at];
            const B3DWorkVertex& v = w.vertices[i];
            if (v.smoothGroup != poly->smoothGroup || v.pos[0] != p[0] || v.pos[1] != p[1] || v.pos[2] != p[2])
                continue;
            bool near = true;
            for (int t = 0; t < 4 && near; ++t) near = std::llabs(int64_t(v.tex[t]) - tex[t]) < 2;
            if (near) return i;
        }
    }
    if (w.count >= w.capacity && !Grow()) P_Exit(3);
    B3DWorkVertex& v = w.vertices[w.count];
    v = B3DWorkVertex{};
    memcpy(v.pos, p, sizeof v.pos);
    memcpy(v.tex, tex, sizeof v.tex);
    v.smoothGroup = poly->smoothGroup;
    if (w.pointWeights) w.weights[w.count] = w.pointWeights[poly->v[k]];
    return w.count++;
}

void AddNormal(int32_t vertex, const int32_t* n, int32_t angle) {
    int32_t* dst = g_B3DPolyWork.vertices[vertex].normal;
    for (int i = 0; i < 3; ++i) dst[i] += Qel_FixMul(n[i], angle);
}
}  // namespace

void B3D_PolyWorkFree() {
    B3DPolyWork& w = g_B3DPolyWork;
    // The vertices go last: the memory layer keeps the region released last
    // for the next body, and every body has vertices.
    FreeArray(w.weights, w.capacity);
    FreeArray(w.vertices, w.capacity);
    for (BodyTriangle*& t : w.tris) {
        if (t) B3D_FreeMemB(kTriBytes, t, B3D_MEM_ZERO);
        t = nullptr;
    }
    w = B3DPolyWork{};
    IndexReset();
}

int32_t B3D_CornerAngle(const int32_t* e1, const int32_t* e2) {
    const int32_t product = Qel_FixMul(FloatLength(e1), FloatLength(e2));
    int32_t c = 0;
    if (product != 0) {
        const int64_t dot = int64_t(Qel_FixMul(e1[0], e2[0])) + Qel_FixMul(e1[1], e2[1]) + Qel_FixMul(e1[2], e2[2]);
        c = int32_t(std::clamp<int64_t>(dot * 65536 / product, INT32_MIN, INT32_MAX));
    }
    const uint16_t* asin = Qel_ArcSinTable();
    if (c > QEL_FIX_ONE) return 0;
    if (c >= 0) return 16384 - asin[c];
    if (c >= -QEL_FIX_ONE) return 16384 + asin[-c];
    return 32768;
}

int32_t B3D_AddPolyToBody(B3DPoly* poly, uint32_t flags, BodyPart* part) {
    B3DPolyWork& w = g_B3DPolyWork;
    // 1. The material's index in the part's table.
    int32_t m = 0;
    while (m < part->groupCount && part->groups[m].material != poly->material) ++m;
    if (m == part->groupCount) {
        if (m >= B3D_MAX_MATERIALS || !B3D_PartAddGroup(part, poly->material)) return 0;
    }
    const int32_t triangles = std::max(poly->n - 2, 0);
    // The arrays hold 200000 triangles; a polygon that would pass that is refused whole.
    if (w.triCount[m] + triangles > B3D_MAX_TRIANGLES) return -1;
    // 2. Corners to working vertices.
    for (int k = 0; k < poly->n; ++k) {
        int32_t tex[4] = {poly->tex[0][2 * k], poly->tex[1][2 * k], poly->tex[0][2 * k + 1], poly->tex[1][2 * k + 1]};
        if (flags & 2) {
            tex[0] &= 0xFFFF;
            tex[2] &= 0xFFFF;
        }
        poly->v[k] = FindOrAddVertex(poly, k, tex);
    }
    // 4. The material's triangle array.
    if (!w.tris[m]) {
        Qel_DPrintf(4, "B3D_AddPolyToBody() Allocating temporary partmaterialpolys for material %d\n", m);
        w.tris[m] = static_cast<BodyTriangle*>(B3D_AllocMemB(kTriBytes, B3D_MEM_ZERO));
        if (!w.tris[m]) {
            Qel_DPrintf(0, "B3D_AddPolyToBody() Allocating temporary memory (size %d) failed!\n", kTriBytes);
            return 0;
        }
    }
    // 5.-8. A fan from corner 0, with its normals.
    for (int k = 2; k < poly->n; ++k) {
        const int32_t ids[3] = {poly->v[0], poly->v[k - 1], poly->v[k]};
        BodyTriangle& t = w.tris[m][w.triCount[m]++];
        t.v[0] = ids[0];
        t.v[1] = ids[1];
        t.v[2] = ids[2];
        t.word = poly->triWord;
        const int32_t* p[3] = {w.vertices[ids[0]].pos, w.vertices[ids[1]].pos, w.vertices[ids[2]].pos};
        int32_t n[3];
        FaceNormal(p[0], p[1], p[2], n);
        for (int c = 0; c < 3; ++c) {
            if (poly->smoothGroup == 0) {
                memcpy(w.vertices[ids[c]].normal, n, sizeof n);
                continue;
            }
            int32_t e1[3], e2[3];
            Sub(p[c], p[(c + 1) % 3], e1);
            Sub(p[c], p[(c + 2) % 3], e2);
            AddNormal(ids[c], n, B3D_CornerAngle(e1, e2));
        }
    }
    part->groups[m].triCount = w.triCount[m];
    return 1;
}

namespace {
template <class F>
void ForEachCorner(const BodyPart* part, F f) {
    const BodyPoint* pts = part->level->points;
    for (int32_t g = 0; g < part->groupCount; ++g) {
        const BodyGroup& group = part->groups[g];
        for (int32_t t = 0; t < group.triCount; ++t)
            for (int c = 0; c < 3; ++c) f(pts[group.tris[t].v[c]]);
    }
}
}  // namespace

void B3D_PartCenter(BodyPart* part) {
    int64_t n = 0;
    for (int32_t g = 0; g < part->groupCount; ++g) n += 3 * int64_t(part->groups[g].triCount);
    int32_t s = QEL_FIX_ONE;
    while (n > 16384) {
        n /= 2;
        s /= 2;
    }
    int64_t sum[3] = {0, 0, 0};
    ForEachCorner(part, [&](const BodyPoint& p) {
        sum[0] += Qel_FixMul(s, p.x * 4);
        sum[1] += Qel_FixMul(s, p.y * 4);
        sum[2] += Qel_FixMul(s, p.z * 4);
    });
    for (int i = 0; i < 3; ++i) part->centre[i] = n ? int32_t(sum[i] / n) : 0;
    part->centre[3] = 0;
}

void B3D_PartBoundingBox(BodyLevel*, BodyPart* part) {
    int32_t lo[3] = {16384, 16384, 16384}, hi[3] = {-16384, -16384, -16384};
    ForEachCorner(part, [&](const BodyPoint& p) {
        const int32_t v[3] = {p.x, p.y, p.z};
        for (int i = 0; i < 3; ++i) {
            lo[i] = std::min(lo[i], v[i]);
            hi[i] = std::max(hi[i], v[i]);
        }
    });
    for (int i = 0; i < 3; ++i) {
        part->boxCentre[i] = (lo[i] + hi[i]) * 2;
        part->boxSize[i] = (hi[i] - lo[i]) * 2;
    }
    Qel_DPrintf(0x2000, " Part BCenter=%x/%x/%x\n", unsigned(part->boxCentre[0]), unsigned(part->boxCentre[1]),
                unsigned(part->boxCentre[2]));
    Qel_DPrintf(0x2000, " Part BSize=%x/%x/%x\n", unsigned(part->boxSize[0]), unsigned(part->boxSize[1]),
                unsigned(part->boxSize[2]));
}

int32_t B3D_PartRadius(BodyPart* part) {
    int32_t r = 0;
    ForEachCorner(part, [&](const BodyPoint& p) {
        const int32_t v[3] = {p.x * 4, p.y * 4, p.z * 4};
        for (int i = 0; i < 3; ++i) r = std::max(r, std::abs(v[i] - part->centre[i]));
    });
    return r;
}

int32_t* B3D_LevelExtent(BodyLevel* level, int32_t* out) {
    out[0] = out[1] = out[2] = out[3] = 0;
    for (int32_t p = 0; p < level->partCount; ++p) {
        const BodyPart* part = level->parts[p];
        for (int i = 0; i < 3; ++i) out[i] = std::max(out[i], std::abs(part->boxCentre[i]) + part->boxSize[i]);
    }
    return out;
}

void B3D_PointNormalFromTriangle(BodyLevel* level, int32_t a, int32_t b, int32_t c) {
    BodyPoint& pa = level->points[a];
    if (pa.nx || pa.ny || pa.nz) return;
    const BodyPoint& pb = level->points[b];
    const BodyPoint& pc = level->points[c];
    const int32_t va[3] = {pa.x * 4, pa.y * 4, pa.z * 4};
    const int32_t vb[3] = {pb.x * 4, pb.y * 4, pb.z * 4};
    const int32_t vc[3] = {pc.x * 4, pc.y * 4, pc.z * 4};
    int32_t ec[3], eb[3], n[3];
    Sub(va, vc, ec);
    Sub(va, vb, eb);
    Cross(ec, eb, n);
    B3D_VecNormalizeScaled(&n[0], &n[1], &n[2]);
    if (pa.word == 0) {
        pa.nx = int16_t(n[0] >> 2);
        pa.ny = int16_t(n[1] >> 2);
        pa.nz = int16_t(n[2] >> 2);
        return;
    }
    const int32_t angle = B3D_CornerAngle(ec, eb);
    pa.nx = int16_t(pa.nx + (Qel_FixMul(angle, n[0]) >> 2));
    pa.ny = int16_t(pa.ny + (Qel_FixMul(angle, n[1]) >> 2));
    pa.nz = int16_t(pa.nz + (Qel_FixMul(angle, n[2]) >> 2));
}

void B3D_VecNormalizeScaled(int32_t* x, int32_t* y, int32_t* z) {
    if (*x == 0 && *y == 0 && *z == 0) return;
    auto big = [&] { return std::abs(*x) >= 0x600000 || std::abs(*y) >= 0x600000 || std::abs(*z) >= 0x600000; };
    auto small = [&] { return std::abs(*x) < 0x180000 && std::abs(*y) < 0x180000 && std::abs(*z) < 0x180000; };
    while (big()) {
        *x /= 4;
        *y /= 4;
        *z /= 4;
    }
    while (small()) {
        *x *= 4;
        *y *= 4;
        *z *= 4;
    }
    const int32_t sq = Qel_FixMul(*x, *x) + Qel_FixMul(*y, *y) + Qel_FixMul(*z, *z);
    const int32_t len = B3D_FixSqrt(sq);
    *x = len ? Qel_FixDiv(*x, len) : 0;
    *y = len ? Qel_FixDiv(*y, len) : 0;
    *z = len ? Qel_FixDiv(*z, len) : 0;
}
