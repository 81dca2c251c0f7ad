#include "scene/collision.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "base/log.h"
#include "base/memory.h"

CollState g_CollState;

namespace {

int64_t s_memUsed = 0;

void* CollAlloc(size_t size) {
    void* p = Int_AllocMem(size, 0);
    if (p) s_memUsed += int64_t(size);
    return p;
}

void CollFree(void* p, size_t size) {
    if (!p || size == 0) return;
    Int_FreeMem(p, size, 0);
    s_memUsed -= int64_t(size);
}

// ---- small vector helpers ----

inline float Dot(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

inline void Sub(float out[3], const float a[3], const float b[3]) {
    out[0] = a[0] - b[0];
    out[1] = a[1] - b[1];
    out[2] = a[2] - b[2];
}

inline void Cross(float out[3], const float a[3], const float b[3]) {
    const float x = a[1] * b[2] - a[2] * b[1];
    const float y = a[2] * b[0] - a[0] * b[2];
    const float z = a[0] * b[1] - a[1] * b[0];
    out[0] = x;
    out[1] = y;
    out[2] = z;
}

inline float Length(const float a[3]) { return std::sqrt(Dot(a, a)); }

// out = M * v
inline void MulVec(float out[3], const float M[3][3], const float v[3]) {
    const float x = M[0][0] * v[0] + M[0][1] * v[1] + M[0][2] * v[2];
    const float y = M[1][0] * v[0] + M[1][1] * v[1] + M[1][2] * v[2];
    const float z = M[2][0] * v[0] + M[2][1] * v[1] + M[2][2] * v[2];
    out[0] = x;
    out[1] = y;
    out[2] = z;
}

// out = Mᵀ * v
inline void MulTVec(float out[3], const float M[3][3], const float v[3]) {
    const float x = M[0][0] * v[0] + M[1][0] * v[1] + M[2][0] * v[2];
    const float y = M[0][1] * v[0] + M[1][1] * v[1] + M[2][1] * v[2];
    const float z = M[0][2] * v[0] + M[1][2] * v[1] + M[2][2] * v[2];
    out[0] = x;
    out[1] = y;
    out[2] = z;
}

// out = A * B (out may not alias)
inline void MulMat(float out[3][3], const float A[3][3], const float B[3][3]) {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) out[i][j] = A[i][0] * B[0][j] + A[i][1] * B[1][j] + A[i][2] * B[2][j];
}

// out = Aᵀ * B (out may not alias)
inline void MulTMat(float out[3][3], const float A[3][3], const float B[3][3]) {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) out[i][j] = A[0][i] * B[0][j] + A[1][i] * B[1][j] + A[2][i] * B[2][j];
}

inline void Centroid(float out[3], const CollTri& t) {
    for (int i = 0; i < 3; ++i) out[i] = (t.p1[i] + t.p2[i] + t.p3[i]) / 3.0f;
}

// ---- moments and the eigen decomposition ----

struct Moment {
    float A;
    float m[3];
    float s[3][3];
};

struct MomentSum {
    float A = 0;
    float Am[3] = {0, 0, 0};
    float S[3][3] = {};

    void Add(const Moment& M) {
        A += M.A;
        for (int i = 0; i < 3; ++i) {
            Am[i] += M.A * M.m[i];
            for (int j = 0; j < 3; ++j) S[i][j] += M.s[i][j];
        }
    }
    void Covariance(float K[3][3], float mean[3]) const {
        for (int i = 0; i < 3; ++i) {
            mean[i] = Am[i] / A;
            for (int j = 0; j < 3; ++j) K[i][j] = S[i][j] - Am[i] * Am[j] / A;
        }
    }
};

void TriMoment(Moment& M, const CollTri& t) {
    const float* p = t.p1;
    const float* q = t.p2;
    const float* r = t.p3;
    float u[3], v[3], c[3];
    Sub(u, q, p);
    Sub(v, r, p);
    Cross(c, u, v);
    M.A = 0.5f * Length(c);
    Centroid(M.m, t);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const float pp = p[i] * p[j] + q[i] * q[j] + r[i] * r[j];
            M.s[i][j] = M.A > 0 ? M.A * (9.0f * M.m[i] * M.m[j] + pp) / 12.0f : pp;
        }
}

// The cyclic Jacobi method on a symmetric 3x3 matrix: eigenvalues in d, the
// eigenvectors as the columns of v.
void Jacobi(const float K[3][3], float v[3][3], float d[3]) {
    float a[3][3];
    float b[3], z[3] = {0, 0, 0};
    std::memcpy(a, K, sizeof(a));
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) v[i][j] = i == j ? 1.0f : 0.0f;
        b[i] = d[i] = a[i][i];
    }
    auto rotate = [](float m[3][3], int i, int j, int k, int l, float s, float tau) {
        const float g = m[i][j];
        const float h = m[k][l];
        m[i][j] = g - s * (h + g * tau);
        m[k][l] = h + s * (g - h * tau);
    };
    int rotations = 0;
    for (int sweep = 1; sweep <= 50; ++sweep) {
        const float sm = std::fabs(a[0][1]) + std::fabs(a[0][2]) + std::fabs(a[1][2]);
        if (sm == 0.0f) return;
        const float tresh = sweep < 4 ? 0.2f * sm / 9.0f : 0.0f;
        for (int ip = 0; ip < 2; ++ip) {
            for (int iq = ip + 1; iq < 3; ++iq) {
                const float g = 100.0f * std::fabs(a[ip][iq]);
                if (sweep > 4 && std::fabs(d[ip]) + g == std::fabs(d[ip]) && std::fabs(d[iq]) + g == std::fabs(d[iq])) {
                    a[ip][iq] = 0.0f;
                } else if (std::fabs(a[ip][iq]) > tresh) {
                    float h = d[iq] - d[ip];
                    float t;
                    if (std::fabs(h) + g == std::fabs(h)) {
                        t = a[ip][iq] / h;
                    } else {
                        const float theta = 0.5f * h / a[ip][iq];
                        t = 1.0f / (std::fabs(theta) + std::sqrt(1.0f + theta * theta));
                        if (theta < 0.0f) t = -t;
                    }
                    const float c = 1.0f / std::sqrt(1.0f + t * t);
                    const float s = t * c;
                    const float tau = s / (1.0f + c);
                    h = t * a[ip][iq];
                    z[ip] -= h;
                    z[iq] += h;
                    d[ip] -= h;
                    d[iq] += h;
                    a[ip][iq] = 0.0f;
                    for (int j = 0; j < ip; ++j) rotate(a, j, ip, j, iq, s, tau);
                    for (int j = ip + 1; j < iq; ++j) rotate(a, ip, j, j, iq, s, tau);
                    for (int j = iq + 1; j < 3; ++j) rotate(a, ip, j, iq, j, s, tau);
                    for (int j = 0; j < 3; ++j) rotate(v, j, ip, j, iq, s, tau);
                    ++rotations;
                }
            }
        }
        for (int i = 0; i < 3; ++i) {
            b[i] += z[i];
            d[i] = b[i];
            z[i] = 0.0f;
        }
    }
    Qel_DPrintf(0, "eigen: too many iterations in Jacobi transform (%d).\n", rotations);
}

void SwapColumns(float v[3][3], int c1, int c2) {
    for (int i = 0; i < 3; ++i) {
        const float t = v[i][c1];
        v[i][c1] = v[i][c2];
        v[i][c2] = t;
    }
}

// The box axes of a set of moments: the covariance's eigenvectors, the one of
// the largest eigenvalue first.
void AxesOf(const MomentSum& sum, float axes[3][3], float mean[3]) {
    float K[3][3], d[3];
    sum.Covariance(K, mean);
    Jacobi(K, axes, d);
    if (d[0] >= d[1] && d[0] >= d[2]) return;
    SwapColumns(axes, 0, d[1] >= d[2] ? 1 : 2);
}

// A leaf's axes: the direction of the triangle's longest edge, its normal and
// the direction perpendicular to both. Degenerate triangles still get an
// orthonormal frame.
void LeafAxes(const CollTri& t, float axes[3][3]) {
    float e[3][3], n[3];
    Sub(e[0], t.p2, t.p1);
    Sub(e[1], t.p3, t.p2);
    Sub(e[2], t.p1, t.p3);
    int longest = 0;
    for (int i = 1; i < 3; ++i)
        if (Dot(e[i], e[i]) > Dot(e[longest], e[longest])) longest = i;
    float a[3] = {e[longest][0], e[longest][1], e[longest][2]};
    float len = Length(a);
    if (len > 0.0f && std::isfinite(len)) {
        for (float& x : a) x /= len;
    } else {
        a[0] = 1.0f;
        a[1] = a[2] = 0.0f;
    }
    Cross(n, e[0], e[1]);
    len = Length(n);
    if (len > 0.0f && std::isfinite(len)) {
        for (float& x : n) x /= len;
        // The normal is perpendicular to every edge only up to rounding.
        const float k = Dot(n, a);
        for (int i = 0; i < 3; ++i) n[i] -= k * a[i];
        len = Length(n);
    }
    if (!(len > 0.0f && std::isfinite(len))) {
        // No normal: any direction perpendicular to the edge.
        int minor = 0;
        for (int i = 1; i < 3; ++i)
            if (std::fabs(a[i]) < std::fabs(a[minor])) minor = i;
        float unit[3] = {0, 0, 0};
        unit[minor] = 1.0f;
        Cross(n, a, unit);
        len = Length(n);
    }
    for (float& x : n) x /= len;
    float c[3];
    Cross(c, a, n);
    for (int i = 0; i < 3; ++i) {
        axes[i][0] = a[i];
        axes[i][1] = n[i];
        axes[i][2] = c[i];
    }
}

// One box still to be fitted: its triangles, its axes in the model frame, the
// mean of its moments, and its parent's placement in the model frame.
struct BuildItem {
    int32_t box;
    int32_t first;
    int32_t count;
    float axes[3][3];
    float mean[3];
    float parentR[3][3];
    float parentT[3];
};

void FreeBoxes(CollModel* model) {
    CollFree(model->boxes, size_t(model->boxCapacity) * sizeof(CollBox));
    model->boxes = nullptr;
    model->boxCapacity = 0;
}

void FreeTris(CollModel* model) {
    CollFree(model->tris, size_t(model->triCapacity) * sizeof(CollTri));
    model->tris = nullptr;
    model->triCount = 0;
    model->triCapacity = 0;
}

int BuildTree(CollModel* model) {
    const int32_t n = model->triCount;
    const size_t boxBytes = size_t(n) * 2 * sizeof(CollBox);
    const size_t momentBytes = size_t(n) * sizeof(Moment);
    const size_t indexBytes = size_t(n) * sizeof(int32_t);
    auto* boxes = static_cast<CollBox*>(CollAlloc(boxBytes));
    auto* moments = static_cast<Moment*>(CollAlloc(momentBytes));
    auto* index = static_cast<int32_t*>(CollAlloc(indexBytes));
    if (!boxes || !moments || !index) {
        CollFree(boxes, boxBytes);
        CollFree(moments, momentBytes);
        CollFree(index, indexBytes);
        return COLL_ERR_MEMORY;
    }

    // Moments; zero areas take the smallest area of the model so that every
    // triangle weighs in.
    float smallest = 0.0f;
    bool zeroArea = false;
    for (int32_t i = 0; i < n; ++i) {
        TriMoment(moments[i], model->tris[i]);
        index[i] = i;
        const float A = moments[i].A;
        if (A > 0.0f) {
            if (smallest == 0.0f || A < smallest) smallest = A;
        } else {
            zeroArea = true;
        }
    }
    if (zeroArea) {
        Qel_ErrPrintf("Warning!  Some triangles have zero area!\n");
        if (smallest == 0.0f) smallest = 1.0f;
        for (int32_t i = 0; i < n; ++i)
            if (!(moments[i].A > 0.0f)) moments[i].A = smallest;
    }

    std::vector<BuildItem> stack;
    BuildItem root{};
    root.box = 0;
    root.first = 0;
    root.count = n;
    for (int i = 0; i < 3; ++i) root.parentR[i][i] = 1.0f;
    if (n > 1) {
        MomentSum sum;
        for (int32_t i = 0; i < n; ++i) sum.Add(moments[i]);
        AxesOf(sum, root.axes, root.mean);
    }
    stack.push_back(root);
    int32_t nextBox = 1;

    while (!stack.empty()) {
        BuildItem it = stack.back();
        stack.pop_back();
        CollBox& box = boxes[it.box];
        if (it.count == 1) LeafAxes(model->tris[index[it.first]], it.axes);

        // Fit the box to the vertices' extents along its axes.
        float lo[3], hi[3];
        for (int k = 0; k < 3; ++k) {
            lo[k] = INFINITY;
            hi[k] = -INFINITY;
        }
        for (int32_t i = it.first; i < it.first + it.count; ++i) {
            const CollTri& t = model->tris[index[i]];
            for (const float* p : {t.p1, t.p2, t.p3}) {
                float c[3];
                MulTVec(c, it.axes, p);
                for (int k = 0; k < 3; ++k) {
                    if (c[k] < lo[k]) lo[k] = c[k];
                    if (c[k] > hi[k]) hi[k] = c[k];
                }
            }
        }
        float centre[3], centreModel[3], rel[3];
        for (int k = 0; k < 3; ++k) {
            centre[k] = 0.5f * (lo[k] + hi[k]);
            box.d[k] = 0.5f * (hi[k] - lo[k]);
        }
        MulVec(centreModel, it.axes, centre);
        Sub(rel, centreModel, it.parentT);
        MulTVec(box.T, it.parentR, rel);
        MulTMat(box.R, it.parentR, it.axes);

        if (it.count == 1) {
            box.P = box.N = nullptr;
            box.tri = &model->tris[index[it.first]];
            continue;
        }

        // Divide at the moment mean along the first axis.
        int32_t firstCount = 1;
        if (it.count > 2) {
            const float axis0[3] = {it.axes[0][0], it.axes[1][0], it.axes[2][0]};
            const float split = Dot(it.mean, axis0);
            int32_t below = it.first;
            for (int32_t i = it.first; i < it.first + it.count; ++i) {
                if (Dot(moments[index[i]].m, axis0) < split) {
                    const int32_t t = index[i];
                    index[i] = index[below];
                    index[below] = t;
                    ++below;
                }
            }
            firstCount = below - it.first;
            if (firstCount == 0 || firstCount == it.count) firstCount = it.count / 2;
        }

        BuildItem child[2]{};
        const int32_t firsts[2] = {it.first, it.first + firstCount};
        const int32_t counts[2] = {firstCount, it.count - firstCount};
        for (int c = 0; c < 2; ++c) {
            child[c].box = nextBox + c;
            child[c].first = firsts[c];
            child[c].count = counts[c];
            std::memcpy(child[c].parentR, it.axes, sizeof(it.axes));
            std::memcpy(child[c].parentT, centreModel, sizeof(centreModel));
            if (counts[c] > 1) {
                MomentSum sum;
                for (int32_t i = firsts[c]; i < firsts[c] + counts[c]; ++i) sum.Add(moments[index[i]]);
                AxesOf(sum, child[c].axes, child[c].mean);
            }
        }
        box.P = &boxes[nextBox];
        box.N = &boxes[nextBox + 1];
        box.tri = nullptr;
        nextBox += 2;
        stack.push_back(child[1]);
        stack.push_back(child[0]);
    }

    CollFree(moments, momentBytes);
    CollFree(index, indexBytes);
    model->boxes = boxes;
    model->boxCapacity = uint32_t(n) * 2;
    return COLL_OK;
}

// ---- the contact test ----

constexpr float kBoxEpsilon = 0.000001f;

// Are boxes a (half-sizes a) and b (half-sizes b, axes the columns of B and
// centre T in a's frame) apart along one of the 15 separating axes?
bool BoxesDisjoint(const float B[3][3], const float T[3], const float a[3], const float b[3]) {
    float Bf[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) Bf[i][j] = std::fabs(B[i][j]) + kBoxEpsilon;

    // a's axes
    for (int i = 0; i < 3; ++i)
        if (std::fabs(T[i]) > a[i] + b[0] * Bf[i][0] + b[1] * Bf[i][1] + b[2] * Bf[i][2]) return true;
    // b's axes
    for (int j = 0; j < 3; ++j) {
        const float t = T[0] * B[0][j] + T[1] * B[1][j] + T[2] * B[2][j];
        if (std::fabs(t) > b[j] + a[0] * Bf[0][j] + a[1] * Bf[1][j] + a[2] * Bf[2][j]) return true;
    }
    // a's axis i crossed with b's axis j
    for (int i = 0; i < 3; ++i) {
        const int i1 = (i + 1) % 3, i2 = (i + 2) % 3;
        for (int j = 0; j < 3; ++j) {
            const int j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            const float t = T[i2] * B[i1][j] - T[i1] * B[i2][j];
            const float r = a[i1] * Bf[i2][j] + a[i2] * Bf[i1][j] + b[j1] * Bf[i][j2] + b[j2] * Bf[i][j1];
            if (std::fabs(t) > r) return true;
        }
    }
    return false;
}

// Do the projections of two triangles onto axis L stay apart? Touching
// intervals overlap.
inline bool ApartAlong(const float L[3], const float p[3][3], const float q[3][3]) {
    const float p0 = Dot(L, p[0]), p1 = Dot(L, p[1]), p2 = Dot(L, p[2]);
    const float q0 = Dot(L, q[0]), q1 = Dot(L, q[1]), q2 = Dot(L, q[2]);
    const float pmin = std::fmin(p0, std::fmin(p1, p2)), pmax = std::fmax(p0, std::fmax(p1, p2));
    const float qmin = std::fmin(q0, std::fmin(q1, q2)), qmax = std::fmax(q0, std::fmax(q1, q2));
    return pmax < qmin || qmax < pmin;
}

// The 17-axis triangle test: the two normals, the 9 edge-edge cross products
// and each normal crossed with its own triangle's edges.
bool TrianglesTouch(const float P[3][3], const float Q[3][3]) {
    // Work relative to one vertex to keep the small differences.
    float p[3][3], q[3][3];
    for (int i = 0; i < 3; ++i) {
        Sub(p[i], P[i], P[0]);
        Sub(q[i], Q[i], P[0]);
    }
    float e[3][3], f[3][3], n1[3], n2[3], L[3];
    for (int i = 0; i < 3; ++i) {
        Sub(e[i], p[(i + 1) % 3], p[i]);
        Sub(f[i], q[(i + 1) % 3], q[i]);
    }
    Cross(n1, e[0], e[1]);
    if (ApartAlong(n1, p, q)) return false;
    Cross(n2, f[0], f[1]);
    if (ApartAlong(n2, p, q)) return false;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            Cross(L, e[i], f[j]);
            if (ApartAlong(L, p, q)) return false;
        }
    for (int i = 0; i < 3; ++i) {
        Cross(L, n1, e[i]);
        if (ApartAlong(L, p, q)) return false;
        Cross(L, n2, f[i]);
        if (ApartAlong(L, p, q)) return false;
    }
    return true;
}

// Where the plane of triangle q crosses the z axis, clamped to its z range.
float DepthOf(const float q[3][3]) {
    float u[3], v[3], n[3];
    Sub(u, q[1], q[0]);
    Sub(v, q[2], q[0]);
    Cross(n, u, v);
    const float len = Length(n);
    const float zmin = std::fmin(q[0][2], std::fmin(q[1][2], q[2][2]));
    const float zmax = std::fmax(q[0][2], std::fmax(q[1][2], q[2][2]));
    float z;
    if (len > 0.0f && std::fabs(n[2] / len) > 0.00000001f) {
        z = Dot(n, q[0]) / n[2];
    } else {
        z = (q[0][2] + q[1][2] + q[2][2]) / 3.0f;
    }
    if (z < zmin) z = zmin;
    if (z > zmax) z = zmax;
    return z;
}

struct BoxPair {
    const CollBox* b1;
    const CollBox* b2;
    float R[3][3];  // b2's axes in b1's frame
    float T[3];     // b2's centre in b1's frame
};

void TriangleContact(const CollTri& t1, const CollTri& t2) {
    CollState& st = g_CollState;
    float p[3][3], q[3][3];
    std::memcpy(p[0], t1.p1, sizeof(p[0]));
    std::memcpy(p[1], t1.p2, sizeof(p[1]));
    std::memcpy(p[2], t1.p3, sizeof(p[2]));
    const float* v[3] = {t2.p1, t2.p2, t2.p3};
    for (int i = 0; i < 3; ++i) {
        MulVec(q[i], st.R, v[i]);
        for (int k = 0; k < 3; ++k) q[i][k] = st.scale * q[i][k] + st.T[k];
    }
    if (!TrianglesTouch(p, q)) return;

    ++st.triTests;
    const float depth = DepthOf(q);
    if (st.mode & (COLL_MODE_NEAREST | COLL_MODE_DEPTH_LIMIT)) {
        if ((st.mode & COLL_MODE_DEPTH_LIMIT) && std::fabs(depth) > float(st.depthLimit)) return;
        if ((st.mode & COLL_MODE_NEAREST) && st.bestDepth) {
            if (!(depth < *st.bestDepth)) return;
            *st.bestDepth = depth;
        }
        st.point2[0] = st.point2[1] = 0.0f;
        st.point2[2] = depth;
    } else {
        Centroid(st.point2, t2);
    }
    ++st.contacts;
    Centroid(st.point1, t1);
    st.depth = depth;
    st.tri1 = &t1;
    st.tri2 = &t2;
}

std::vector<BoxPair>& PairStack() {
    static std::vector<BoxPair> stack;
    return stack;
}

void CollideTrees(const BoxPair& root, bool firstContact) {
    CollState& st = g_CollState;
    const float k = st.scale;
    std::vector<BoxPair>& stack = PairStack();
    stack.clear();
    stack.push_back(root);
    while (!stack.empty()) {
        if (firstContact && st.contacts > 0) break;
        if ((st.mode & COLL_MODE_NEAREST) && st.contacts >= st.maxContacts) break;
        const BoxPair pr = stack.back();
        stack.pop_back();

        ++st.boxTests;
        const float b2d[3] = {k * pr.b2->d[0], k * pr.b2->d[1], k * pr.b2->d[2]};
        if (BoxesDisjoint(pr.R, pr.T, pr.b1->d, b2d)) continue;

        const bool leaf1 = pr.b1->IsLeaf(), leaf2 = pr.b2->IsLeaf();
        if (leaf1 && leaf2) {
            TriangleContact(*pr.b1->tri, *pr.b2->tri);
            continue;
        }
        BoxPair child[2];
        if (leaf1 || (!leaf2 && pr.b1->d[0] <= b2d[0])) {
            // Into b2's children: their frames carried into b1's frame.
            const CollBox* kids[2] = {pr.b2->P, pr.b2->N};
            for (int c = 0; c < 2; ++c) {
                child[c].b1 = pr.b1;
                child[c].b2 = kids[c];
                MulMat(child[c].R, pr.R, kids[c]->R);
                const float kt[3] = {k * kids[c]->T[0], k * kids[c]->T[1], k * kids[c]->T[2]};
                MulVec(child[c].T, pr.R, kt);
                for (int i = 0; i < 3; ++i) child[c].T[i] += pr.T[i];
            }
        } else {
            // Into b1's children: b2 seen from each child's frame.
            const CollBox* kids[2] = {pr.b1->P, pr.b1->N};
            for (int c = 0; c < 2; ++c) {
                child[c].b1 = kids[c];
                child[c].b2 = pr.b2;
                MulTMat(child[c].R, kids[c]->R, pr.R);
                float rel[3];
                Sub(rel, pr.T, kids[c]->T);
                MulTVec(child[c].T, kids[c]->R, rel);
            }
        }
        stack.push_back(child[1]);
        stack.push_back(child[0]);
    }
    stack.clear();
}

}  // namespace

CollModel* Coll_NewBox() {
    auto* model = static_cast<CollModel*>(CollAlloc(sizeof(CollModel)));
    const int result = model ? Coll_BeginModel(model) : COLL_ERR_MEMORY;
    if (result != COLL_OK) Qel_DPrintf(0, "ERROR: Coll new box: %d\n", result);
    return model;
}

int Coll_BeginModel(CollModel* model) {
    if (!model) return COLL_ERR_ORDER;
    if (model->buildState == COLL_STATE_BEGUN) return COLL_ERR_ORDER;
    FreeBoxes(model);
    FreeTris(model);
    model->buildState = COLL_STATE_BEGUN;
    return COLL_OK;
}

int Coll_AddTri(CollModel* model, const float p1[3], const float p2[3], const float p3[3], int32_t id) {
    if (!model || model->buildState == COLL_STATE_BUILT) return COLL_ERR_ORDER;
    if (model->triCount >= model->triCapacity) {
        if (model->triCapacity > INT32_MAX / 2) return COLL_ERR_MEMORY;
        const int32_t capacity = model->triCapacity ? model->triCapacity * 2 : 1;
        auto* tris = static_cast<CollTri*>(CollAlloc(size_t(capacity) * sizeof(CollTri)));
        if (!tris) return COLL_ERR_MEMORY;
        if (model->triCount) std::memcpy(tris, model->tris, size_t(model->triCount) * sizeof(CollTri));
        CollFree(model->tris, size_t(model->triCapacity) * sizeof(CollTri));
        model->tris = tris;
        model->triCapacity = capacity;
    }
    CollTri& t = model->tris[model->triCount++];
    t.id = id;
    std::memcpy(t.p1, p1, sizeof(t.p1));
    std::memcpy(t.p2, p2, sizeof(t.p2));
    std::memcpy(t.p3, p3, sizeof(t.p3));
    return COLL_OK;
}

int Coll_EndModel(CollModel* model) {
    int result;
    if (!model || model->buildState == COLL_STATE_BUILT) {
        result = COLL_ERR_ORDER;
    } else if (model->triCount <= 0) {
        result = COLL_ERR_EMPTY;
    } else {
        result = BuildTree(model);
        if (result == COLL_OK) model->buildState = COLL_STATE_BUILT;
    }
    if (result != COLL_OK) Qel_DPrintf(0, "ERROR: Coll EndModel: %d\n", result);
    return result;
}

void Coll_FreeModel(CollModel* model) {
    if (!model) return;
    FreeBoxes(model);
    FreeTris(model);
    CollFree(model, sizeof(CollModel));
}

int Coll_Collide(const float R1[3][3], const float T1[3], float s1, CollModel* model1, const float R2[3][3],
                 const float T2[3], float s2, CollModel* model2, int flag) {
    if (!model1 || !model2 || model1->buildState != COLL_STATE_BUILT || model2->buildState != COLL_STATE_BUILT)
        return COLL_ERR_NOT_BUILT;
    CollState& st = g_CollState;
    st.boxTests = st.triTests = st.contacts = 0;
    st.tri1 = st.tri2 = nullptr;  // never left pointing into a model freed since
    const bool firstContact = flag == COLL_FIRST_CONTACT;

    // A model shrunk to a point (or placed with a scale that is no number)
    // touches nothing; a negative scale is a turn by the negated rotation.
    if (!std::isfinite(s1) || !std::isfinite(s2) || s1 == 0.0f || s2 == 0.0f) return COLL_OK;
    const float sign = (s1 < 0.0f) != (s2 < 0.0f) ? -1.0f : 1.0f;
    const float a1 = std::fabs(s1);
    const float sign1 = s1 < 0.0f ? -1.0f : 1.0f;

    // Model 2 in model 1's frame: v1 = (s2/s1) R1ᵀR2 v2 + R1ᵀ(T2 - T1)/s1.
    float d[3];
    Sub(d, T2, T1);
    MulTMat(st.R, R1, R2);
    for (auto& row : st.R)
        for (float& x : row) x *= sign;
    MulTVec(st.T, R1, d);
    for (float& x : st.T) x = sign1 * x / a1;
    st.scale = std::fabs(s2) / a1;
    if (!std::isfinite(st.scale) || st.scale == 0.0f || !std::isfinite(st.T[0]) || !std::isfinite(st.T[1]) ||
        !std::isfinite(st.T[2]))
        return COLL_OK;

    // The root pair: model 2's root box in model 1's root box frame.
    const CollBox& r1 = model1->boxes[0];
    const CollBox& r2 = model2->boxes[0];
    BoxPair root;
    root.b1 = &r1;
    root.b2 = &r2;
    float m[3][3], t[3], kt[3];
    MulMat(m, st.R, r2.R);
    MulTMat(root.R, r1.R, m);
    for (int i = 0; i < 3; ++i) kt[i] = st.scale * r2.T[i];
    MulVec(t, st.R, kt);
    for (int i = 0; i < 3; ++i) t[i] += st.T[i] - r1.T[i];
    MulTVec(root.T, r1.R, t);

    CollideTrees(root, firstContact);
    return COLL_OK;
}

int Coll_Detect(uint32_t mode, int32_t maxContacts, float depthLimit, float* bestDepth, const float R1[3][3],
                const float T1[3], float s1, CollModel* model1, const float R2[3][3], const float T2[3], float s2,
                CollModel* model2) {
    CollState& st = g_CollState;
    st.mode = mode;
    st.maxContacts = maxContacts;
    // Out-of-range limits saturate rather than wrap.
    if (std::isnan(depthLimit)) {
        st.depthLimit = 0;
    } else if (depthLimit >= 2147483648.0f) {
        st.depthLimit = INT32_MAX;
    } else if (depthLimit <= -2147483648.0f) {
        st.depthLimit = INT32_MIN;
    } else {
        st.depthLimit = int32_t(depthLimit);
    }
    st.bestDepth = bestDepth;
    const int result =
        Coll_Collide(R1, T1, s1, model1, R2, T2, s2, model2, int(mode & ~(COLL_MODE_NEAREST | COLL_MODE_DEPTH_LIMIT)));
    if (result != COLL_OK) Qel_DPrintf(0, "ERROR: Coll detect %d\n", result);
    return result;
}

int64_t Coll_GetMemUsed() { return s_memUsed; }
