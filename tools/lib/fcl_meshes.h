// The seeded meshes of collision_meshes.h as FCL models, for the comparison
// benchmark and the agreement test (only where FCL is found). FCL has no
// scale, so the vertices are scaled before they go in.
#pragma once

#include <fcl/geometry/bvh/BVH_model.h>
#include <fcl/narrowphase/collision.h>

#include <memory>
#include <vector>

#include "tools/lib/collision_meshes.h"

template <class BV>
std::shared_ptr<fcl::BVHModel<BV>> FclMesh_Build(const CollMesh& mesh, double scale) {
    std::vector<fcl::Vector3d> points;
    points.reserve(mesh.vertices.size() / 3);
    for (size_t i = 0; i < mesh.vertices.size(); i += 3)
        points.emplace_back(scale * double(mesh.vertices[i]), scale * double(mesh.vertices[i + 1]),
                            scale * double(mesh.vertices[i + 2]));
    std::vector<fcl::Triangle> tris;
    tris.reserve(size_t(mesh.TriangleCount()));
    for (size_t i = 0; i < mesh.indices.size(); i += 3)
        tris.emplace_back(size_t(mesh.indices[i]), size_t(mesh.indices[i + 1]), size_t(mesh.indices[i + 2]));
    auto model = std::make_shared<fcl::BVHModel<BV>>();
    model->beginModel(int(tris.size()), int(points.size()));
    model->addSubModel(points, tris);
    model->endModel();
    return model;
}

inline fcl::Transform3d FclMesh_Transform(const float R[3][3], const float T[3]) {
    fcl::Transform3d tf = fcl::Transform3d::Identity();
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) tf.linear()(i, j) = double(R[i][j]);
        tf.translation()(i) = double(T[i]);
    }
    return tf;
}

// The number of contacts FCL finds, asking at most maxContacts of them.
template <class BV>
size_t FclMesh_Contacts(const fcl::BVHModel<BV>& a, const fcl::Transform3d& ta, const fcl::BVHModel<BV>& b,
                        const fcl::Transform3d& tb, size_t maxContacts) {
    fcl::CollisionRequestd request(maxContacts, false);
    fcl::CollisionResultd result;
    fcl::collide(&a, ta, &b, tb, request, result);
    return result.numContacts();
}
