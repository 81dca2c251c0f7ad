// The collision library against FCL on the benchmark's spheres and poses.
#include <gtest/gtest.h>

#include <cmath>

#include "scene/collision.h"
#include "tools/lib/collision_meshes.h"
#include "tools/lib/fcl_meshes.h"

namespace {

TEST(CollisionAgreement, FirstContactAnswersEqualFclsOnTheBenchmarkPoses) {
    // The benchmark's inputs: a sphere of radius 1 and one of radius 0.75,
    // which the library places with scale 0.75 and FCL gets pre-scaled.
    const CollMesh big = CollMesh_NoisyIcosphere(4, 1.0f, 0.03f, 1);
    const CollMesh small = CollMesh_NoisyIcosphere(4, 1.0f, 0.03f, 2);
    const std::vector<CollPose> poses = CollMesh_Poses(1000, 2.0f, 3);
    CollModel* a = CollMesh_BuildModel(big);
    CollModel* b = CollMesh_BuildModel(small);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    const auto fa = FclMesh_Build<fcl::OBBRSSd>(big, 1.0);
    const auto fb = FclMesh_Build<fcl::OBBRSSd>(small, 0.75);

    const float identity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const float origin[3] = {0, 0, 0};
    const fcl::Transform3d ta = fcl::Transform3d::Identity();
    // Grazing: FCL's answer changes within 1e-4 of the mesh size (2) along the
    // line of the centres.
    const double graze = 2e-4;
    int compared = 0, hits = 0, grazing = 0;
    for (size_t i = 0; i < poses.size(); ++i) {
        const CollPose& p = poses[i];
        const fcl::Transform3d tb = FclMesh_Transform(p.R, p.T);
        const bool fclHit = FclMesh_Contacts(*fa, ta, *fb, tb, 1) > 0;
        const double len = tb.translation().norm();
        if (len > 0) {
            fcl::Transform3d nearer = tb, farther = tb;
            nearer.translation() *= (len - graze) / len;
            farther.translation() *= (len + graze) / len;
            if ((FclMesh_Contacts(*fa, ta, *fb, nearer, 1) > 0) != (FclMesh_Contacts(*fa, ta, *fb, farther, 1) > 0)) {
                ++grazing;
                continue;
            }
        }
        ASSERT_EQ(Coll_Detect(COLL_FIRST_CONTACT, 0, 0, nullptr, identity, origin, 1, a, p.R, p.T, 0.75f, b), COLL_OK);
        EXPECT_LE(g_CollState.contacts, 1);
        EXPECT_EQ(g_CollState.contacts > 0, fclHit) << "pose " << i;
        ++compared;
        if (fclHit) ++hits;
    }
    // Only a few poses graze, and both answers are well represented.
    EXPECT_LE(grazing, 10);
    EXPECT_GT(hits, 500);
    EXPECT_GT(compared - hits, 100);
    Coll_FreeModel(a);
    Coll_FreeModel(b);
}

}  // namespace
