// Seeded meshes and poses for the collision library's tests and benchmark:
// noisy icospheres, triangle soups with zero-area triangles, random rigid
// poses. Everything is float, so every user sees the same numbers.
#pragma once

#include <cstdint>
#include <vector>

#include "scene/collision.h"

struct Body3D;

struct CollMesh {
    std::vector<float> vertices;   // x, y, z per vertex
    std::vector<int32_t> indices;  // three vertex indices per triangle

    int32_t TriangleCount() const { return int32_t(indices.size() / 3); }
};

// An icosahedron split `subdivisions` times (20 * 4^n triangles), each vertex
// moved to radius * (1 + u * noise) with u uniform in [-1, 1].
CollMesh CollMesh_NoisyIcosphere(int subdivisions, float radius, float noise, uint64_t seed);

// The same sphere with every `every`-th triangle collapsed onto a line (its
// third vertex moved onto its first edge), so it has zero area.
CollMesh CollMesh_WithZeroAreaTriangles(const CollMesh& mesh, int every);

struct CollPose {
    float R[3][3];
    float T[3];
};

// Uniformly distributed rotations and offsets of uniform length in
// [0, maxOffset] in uniformly distributed directions.
std::vector<CollPose> CollMesh_Poses(int count, float maxOffset, uint64_t seed);

// A built collision model of the mesh (triangle ids count from 0); null when
// the library refuses it.
CollModel* CollMesh_BuildModel(const CollMesh& mesh);

// The mesh as a loaded body of one level, part and group, linked into the
// scene engine's body table under `id` (the scene state must exist). Its
// points are normalised as the body readers do: the largest coordinate
// becomes 1.0. *unit gets the mesh length that 1.0 of the body stands for,
// the scale that gives an instance of the body the mesh's own size. Null
// when memory runs out.
Body3D* CollMesh_MakeBody(const CollMesh& mesh, int32_t id, float* unit);
