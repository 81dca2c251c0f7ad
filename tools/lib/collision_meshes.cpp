#include "tools/lib/collision_meshes.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

#include "scene/bodyrecord.h"
#include "scene/pools.h"

namespace {

// splitmix64: small, seedable and the same everywhere.
struct Rng {
    uint64_t state;
    uint64_t Next() {
        uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1).
    double Unit() { return double(Next() >> 11) * (1.0 / 9007199254740992.0); }
};

constexpr double kPi = 3.14159265358979323846;

}  // namespace

CollMesh CollMesh_NoisyIcosphere(int subdivisions, float radius, float noise, uint64_t seed) {
    const double t = (1.0 + std::sqrt(5.0)) / 2.0;
    std::vector<double> v = {-1, t,  0,  1, t, 0,  -1, -t, 0,  1, -t, 0, 0,  -1, t,  0,  1, t,
                             0,  -1, -t, 0, 1, -t, t,  0,  -1, t, 0,  1, -t, 0,  -1, -t, 0, 1};
    std::vector<int32_t> f = {0, 11, 5,  0, 5,  1, 0, 1, 7, 0, 7,  10, 0, 10, 11, 1, 5, 9, 5, 11,
                              4, 11, 10, 2, 10, 7, 6, 7, 1, 8, 3,  9,  4, 3,  4,  2, 3, 2, 6, 3,
                              6, 8,  3,  8, 9,  4, 9, 5, 2, 4, 11, 6,  2, 10, 8,  6, 7, 9, 8, 1};
    auto normalise = [&](size_t i) {
        const double l = std::sqrt(v[3 * i] * v[3 * i] + v[3 * i + 1] * v[3 * i + 1] + v[3 * i + 2] * v[3 * i + 2]);
        for (int k = 0; k < 3; ++k) v[3 * i + k] /= l;
    };
    for (size_t i = 0; i < v.size() / 3; ++i) normalise(i);
    for (int s = 0; s < subdivisions; ++s) {
        std::map<std::pair<int32_t, int32_t>, int32_t> mid;
        auto midpoint = [&](int32_t a, int32_t b) {
            const auto key = std::make_pair(std::min(a, b), std::max(a, b));
            auto it = mid.find(key);
            if (it != mid.end()) return it->second;
            const int32_t i = int32_t(v.size() / 3);
            for (int k = 0; k < 3; ++k) v.push_back((v[3 * a + k] + v[3 * b + k]) / 2);
            normalise(size_t(i));
            mid.emplace(key, i);
            return i;
        };
        std::vector<int32_t> g;
        g.reserve(f.size() * 4);
        for (size_t i = 0; i < f.size(); i += 3) {
            const int32_t a = f[i], b = f[i + 1], c = f[i + 2];
            const int32_t ab = midpoint(a, b), bc = midpoint(b, c), ca = midpoint(c, a);
            for (int32_t x : {a, ab, ca, b, bc, ab, c, ca, bc, ab, bc, ca}) g.push_back(x);
        }
        f.swap(g);
    }
    Rng rng{seed};
    CollMesh mesh;
    mesh.vertices.resize(v.size());
    for (size_t i = 0; i < v.size() / 3; ++i) {
        const double r = radius * (1.0 + (2.0 * rng.Unit() - 1.0) * noise);
        for (int k = 0; k < 3; ++k) mesh.vertices[3 * i + k] = float(v[3 * i + k] * r);
    }
    mesh.indices = std::move(f);
    return mesh;
}

CollMesh CollMesh_WithZeroAreaTriangles(const CollMesh& mesh, int every) {
    CollMesh soup;
    for (int32_t t = 0; t < mesh.TriangleCount(); ++t) {
        float p[3][3];
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 3; ++k) p[c][k] = mesh.vertices[3 * size_t(mesh.indices[3 * size_t(t) + c]) + k];
        if (every > 0 && t % every == 0)
            for (int k = 0; k < 3; ++k) p[2][k] = (p[0][k] + p[1][k]) / 2;
        for (int c = 0; c < 3; ++c) {
            soup.indices.push_back(int32_t(soup.vertices.size() / 3));
            for (int k = 0; k < 3; ++k) soup.vertices.push_back(p[c][k]);
        }
    }
    return soup;
}

std::vector<CollPose> CollMesh_Poses(int count, float maxOffset, uint64_t seed) {
    Rng rng{seed};
    std::vector<CollPose> poses(size_t(count > 0 ? count : 0));
    for (CollPose& p : poses) {
        // A uniformly distributed unit quaternion.
        const double u1 = rng.Unit(), u2 = rng.Unit(), u3 = rng.Unit();
        const double a = std::sqrt(1 - u1), b = std::sqrt(u1);
        const double x = a * std::sin(2 * kPi * u2), y = a * std::cos(2 * kPi * u2);
        const double z = b * std::sin(2 * kPi * u3), w = b * std::cos(2 * kPi * u3);
        const double R[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                                {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                                {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) p.R[i][j] = float(R[i][j]);
        const double cz = 2 * rng.Unit() - 1, phi = 2 * kPi * rng.Unit();
        const double s = std::sqrt(1 - cz * cz), len = maxOffset * rng.Unit();
        p.T[0] = float(len * s * std::cos(phi));
        p.T[1] = float(len * s * std::sin(phi));
        p.T[2] = float(len * cz);
    }
    return poses;
}

CollModel* CollMesh_BuildModel(const CollMesh& mesh) {
    CollModel* model = Coll_NewBox();
    if (!model) return nullptr;
    for (int32_t t = 0; t < mesh.TriangleCount(); ++t) {
        const float* p[3];
        for (int c = 0; c < 3; ++c) p[c] = &mesh.vertices[3 * size_t(mesh.indices[3 * size_t(t) + c])];
        if (Coll_AddTri(model, p[0], p[1], p[2], t) != COLL_OK) {
            Coll_FreeModel(model);
            return nullptr;
        }
    }
    if (Coll_EndModel(model) != COLL_OK) {
        Coll_FreeModel(model);
        return nullptr;
    }
    return model;
}

Body3D* CollMesh_MakeBody(const CollMesh& mesh, int32_t id, float* unit) {
    float largest = 0;
    for (float c : mesh.vertices) largest = std::max(largest, std::fabs(c));
    if (largest == 0) largest = 1;
    *unit = largest;
    auto* body = static_cast<Body3D*>(B3D_AllocMemB(sizeof(Body3D), B3D_MEM_ZERO));
    if (!body) return nullptr;
    body->id = id;
    BodyLevel* level = B3D_AllocBodyLevel(body);
    BodyPart* part = level ? B3D_AllocBodyPart(level) : nullptr;
    BodyGroup* group = part ? B3D_PartAddGroup(part, 0) : nullptr;
    const int32_t points = int32_t(mesh.vertices.size() / 3);
    const int32_t tris = mesh.TriangleCount();
    if (group) {
        level->points = static_cast<BodyPoint*>(B3D_AllocMemB(points * int32_t(sizeof(BodyPoint)), B3D_MEM_ZERO));
        if (level->points) level->pointCount = points;
        group->tris = static_cast<BodyTriangle*>(B3D_AllocMemB(tris * int32_t(sizeof(BodyTriangle)), B3D_MEM_ZERO));
        if (group->tris) group->triCount = tris;
    }
    if (!group || !level->points || !group->tris) {
        B3D_FreeBody(body);
        return nullptr;
    }
    // Points hold a quarter of their 16.16 value: 1.0 is 16384.
    for (int32_t i = 0; i < points; ++i) {
        int16_t* xyz[3] = {&level->points[i].x, &level->points[i].y, &level->points[i].z};
        for (int k = 0; k < 3; ++k)
            *xyz[k] = int16_t(std::lround(mesh.vertices[size_t(3 * i + k)] / largest * 16384.0f));
    }
    for (int32_t t = 0; t < tris; ++t)
        for (int k = 0; k < 3; ++k) group->tris[t].v[k] = mesh.indices[size_t(3 * t + k)];
    B3D_LinkBody(body);
    return body;
}
