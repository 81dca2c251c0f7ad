// Frustum planes from a matrix, the common point of three planes, spheres
// against the six planes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "render/bodies.h"
#include "render/cameras.h"
#include "render/frustum.h"
#include "scene/bodyrecord.h"
#include "scene/records.h"

namespace {

void ExpectPlane(const float* p, float x, float y, float z, float d, const char* what) {
    EXPECT_NEAR(p[0], x, 1e-6f) << what;
    EXPECT_NEAR(p[1], y, 1e-6f) << what;
    EXPECT_NEAR(p[2], z, 1e-6f) << what;
    EXPECT_NEAR(p[3], d, 1e-4f) << what;
}

void ExpectPoint(const float* p, float x, float y, float z, const char* what) {
    EXPECT_NEAR(p[0], x, 1e-4f) << what;
    EXPECT_NEAR(p[1], y, 1e-4f) << what;
    EXPECT_NEAR(p[2], z, 1e-4f) << what;
}

TEST(Frustum, IdentityGivesTheUnitCubeDownToMinusW) {
    D3DXMATRIX m;
    D3DXMatrixIdentity(&m);
    Frustum f{};
    EXPECT_EQ(S_3DFrustumFromMatrix(&m, &f), &f);
    ExpectPlane(f.planes[0], -1, 0, 0, 1, "right");
    ExpectPlane(f.planes[1], 1, 0, 0, 1, "left");
    ExpectPlane(f.planes[2], 0, -1, 0, 1, "top");
    ExpectPlane(f.planes[3], 0, 1, 0, 1, "bottom");
    ExpectPlane(f.planes[4], 0, 0, -1, 1, "far");
    ExpectPlane(f.planes[5], 0, 0, 1, 1, "near");
    const uint32_t select[6] = {0x1, 0, 0x2, 0, 0x4, 0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(f.cornerSelect[i], select[i]) << i;
    ExpectPoint(f.corners[0], -1, 1, -1, "left-top-near");
    ExpectPoint(f.corners[5], 1, 1, 1, "right-top-far");
    ExpectPoint(f.corners[7], 1, -1, 1, "right-bottom-far");
}

// The default projection (a quarter turn, square aspect: c = 1): the sides
// are the planes x = +-z and y = +-z, the far plane lies where the depth terms
// put it (about 500005, less in float) and, since the near plane admits clip
// z down to -w, it lies at 2.5 rather than 5.
TEST(Frustum, PlanesOfTheDefaultProjection) {
    D3DXMATRIX projection;
    S_3DPerspective(16384, 0x10000, 0x10000, &projection);
    Frustum f{};
    S_3DFrustumFromMatrix(&projection, &f);
    const float h = std::sqrt(0.5f);
    ExpectPlane(f.planes[0], -h, 0, h, 0, "right");
    ExpectPlane(f.planes[1], h, 0, h, 0, "left");
    ExpectPlane(f.planes[2], 0, -h, h, 0, "top");
    ExpectPlane(f.planes[3], 0, h, h, 0, "bottom");
    EXPECT_NEAR(f.planes[4][2], -1.0f, 1e-6f);
    EXPECT_NEAR(f.planes[4][3], 5.00005f / (1.00001f - 1.0f), 1.0f);
    ExpectPlane(f.planes[5], 0, 0, 1, -2.5f, "near");
    const uint32_t select[6] = {0x1, 0, 0x2, 0, 0x4, 0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(f.cornerSelect[i], select[i]) << i;
    ExpectPoint(f.corners[0], -2.5f, 2.5f, 2.5f, "left-top-near");
    ExpectPoint(f.corners[6], 2.5f, -2.5f, 2.5f, "right-bottom-near");

    struct Case {
        float sphere[4];
        int visible;
        const char* what;
    } cases[] = {
        {{0, 0, 100, 1}, 1, "ahead"},
        {{0, 0, -100, 1}, 0, "behind"},
        {{0, 0, 1, 1}, 0, "before the near plane"},
        {{0, 0, 2, 0.6f}, 1, "reaching over the near plane"},
        {{0, 0, 2.6f, 0}, 1, "a point just past the near plane"},
        {{-100, 0, 50, 35}, 0, "left, just clear of the plane"},
        {{-100, 0, 50, 36}, 1, "left, reaching in"},
        {{90, 0, 100, 0}, 1, "inside, radius 0"},
        {{std::numeric_limits<float>::quiet_NaN(), 0, 100, 1}, 0, "centre not a number"},
        {{0, 0, 100, std::numeric_limits<float>::quiet_NaN()}, 0, "radius not a number"},
        {{0, 0, 100, std::numeric_limits<float>::infinity()}, 1, "infinite radius"},
    };
    for (const Case& c : cases) EXPECT_EQ(S_3DSphereInFrustum(&f, c.sphere), c.visible) << c.what;
}

TEST(Frustum, SpheresTouchingAPlane) {
    Frustum f{};
    // Every plane admits all but plane 0, which is x <= 10.
    for (float* p : f.planes) p[3] = 1.0f;
    f.planes[0][0] = -1.0f;
    f.planes[0][3] = 10.0f;
    const float fromInside[4] = {8, 0, 0, 2}, fromOutside[4] = {12, 0, 0, 2}, onIt[4] = {10, 0, 0, 0},
                clear[4] = {12.5f, 0, 0, 2};
    EXPECT_EQ(S_3DSphereInFrustum(&f, fromInside), 1);
    EXPECT_EQ(S_3DSphereInFrustum(&f, fromOutside), 1);
    EXPECT_EQ(S_3DSphereInFrustum(&f, onIt), 1);
    EXPECT_EQ(S_3DSphereInFrustum(&f, clear), 0);
}

TEST(Frustum, ThreePlanesMeetOnceOrNotAtAll) {
    const float x[4] = {1, 0, 0, -1}, y[4] = {0, 1, 0, -2}, z[4] = {0, 0, 1, -3}, x2[4] = {2, 0, 0, 5};
    float point[3] = {7, 7, 7};
    EXPECT_EQ(S_3DPlanesIntersect(x, y, z, point), 1);
    ExpectPoint(point, 1, 2, 3, "the corner");
    float kept[3] = {7, 8, 9};
    EXPECT_EQ(S_3DPlanesIntersect(x, x2, z, kept), 0);
    ExpectPoint(kept, 7, 8, 9, "untouched");
    // A denominator that is not a number is no common point either.
    const float bad[4] = {std::numeric_limits<float>::quiet_NaN(), 0, 1, 0};
    EXPECT_EQ(S_3DPlanesIntersect(x, y, bad, kept), 0);
    ExpectPoint(kept, 7, 8, 9, "untouched");
}

// A camera at the origin looking along +z with a quarter-turn view and square
// aspect: the right plane is x = z. World words are 16.16 and the unit scale
// turns them into units.
class ProjectBounds : public ::testing::Test {
protected:
    static constexpr float kUnit = 1.0f / 65536.0f;
    void SetUp() override {
        saved_ = g_S3DGetBodyHook;
        g_S3DGetBodyHook = [](int32_t id) -> Body3D* { return id == 7 ? &s_body : nullptr; };
        s_level.extent[0] = 0x10000;  // one unit along x: the radius is size times scale
        s_body.levels = s_levels;
        s_body.levelCount = 1;
        camera.inst.flags = INST_CAMERA;
        camera.focus = 16384;
        camera.aspect[0] = camera.aspect[1] = 0x10000;
        camera.inst.worldMatrix = {{0x10000, 0, 0, 0, 0, 0x10000, 0, 0, 0, 0, 0x10000, 0}};
        inst.bodyId = 7;
        inst.scale = {0x10000, 0x10000, 0x10000, 0};
    }
    void TearDown() override { g_S3DGetBodyHook = saved_; }
    void Place(int32_t x, int32_t z, int32_t size) {
        inst.worldPos = {x, 0, z, 0};
        inst.size = size;
    }

    static inline BodyLevel s_level{};
    static inline BodyLevel* s_levels[1] = {&s_level};
    static inline Body3D s_body{};
    Body3D* (*saved_)(int32_t) = nullptr;
    Camera3D camera{};
    Inst3D inst{};
};

TEST_F(ProjectBounds, ASphereTouchingThePlaneCountsAsVisible) {
    // The centre lies 1/sqrt(2) outside x = z; a radius of that reaches back in.
    Place(101 << 16, 100 << 16, 46341);
    EXPECT_EQ(S_3DProjectInstBounds(&inst, &camera, kUnit), 1);
    Place(101 << 16, 100 << 16, 46340);
    EXPECT_EQ(S_3DProjectInstBounds(&inst, &camera, kUnit), 0);
    // Wholly inside and touching the plane from inside.
    Place(99 << 16, 100 << 16, 46341);
    EXPECT_EQ(S_3DProjectInstBounds(&inst, &camera, kUnit), 1);
    // Behind the camera.
    Place(0, -(100 << 16), 0x10000);
    EXPECT_EQ(S_3DProjectInstBounds(&inst, &camera, kUnit), 0);
}

TEST_F(ProjectBounds, ExemptKindsAndMissingBodies) {
    Place(0, -(100 << 16), 0x10000);  // out of view for everything tested
    struct Case {
        uint32_t flags, flags2, camFlags;
        int32_t bodyId;
        int expected;
        const char* what;
    };
    const Case cases[] = {
        {0, 0x200, 0, 7, 1, "screen-placed"},
        {INST_LIGHT, 0, 0, 7, 1, "light"},
        {INST_SPOT_LIGHT, 0, 0, 7, 1, "spot light"},
        {INST_LIGHT_SECOND, 0, 0, 7, 1, "light with a second value"},
        {INST_POINT_LIGHT, 0, 0, 7, 1, "point light"},
        {INST_DIRECTIONAL_LIGHT, 0, 0, 7, 1, "directional light"},
        {INST_CAMERA, 0, 0x8000, -1, 1, "stretch camera"},
        {INST_CAMERA, 0, 0, -1, 0, "plain camera without body"},
        {0, 0, 0, 0, 0, "body 0"},
        {0, 0, 0, 8, 0, "a body that cannot be had"},
    };
    for (const Case& c : cases) {
        Camera3D subject{};
        subject.inst = inst;
        subject.inst.flags = c.flags;
        subject.inst.flags2 = c.flags2;
        subject.inst.bodyId = c.bodyId;
        subject.camFlags = c.camFlags;
        EXPECT_EQ(S_3DProjectInstBounds(&subject.inst, &camera, kUnit), c.expected) << c.what;
    }
}

TEST_F(ProjectBounds, ANotANumberSphereIsNotVisible) {
    Place(0, 100 << 16, 0x10000);
    EXPECT_EQ(S_3DProjectInstBounds(&inst, &camera, kUnit), 1);
    EXPECT_EQ(S_3DProjectInstBounds(&inst, &camera, std::numeric_limits<float>::quiet_NaN()), 0);
}

}  // namespace
