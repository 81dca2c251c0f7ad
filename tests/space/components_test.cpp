// The scan of a body's parts for lasers, cockpits and docking positions, on
// bodies built here.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "scene/bodyrecord.h"
#include "space/components.h"
#include "space/space_fixture.h"
#include "space/typesdb.h"

namespace {

// A body of one level whose parts the test sets; points and triangles kept here.
struct MadeBody {
    Body3D body{};
    BodyLevel level{};
    BodyLevel* levels[1] = {&level};
    std::vector<BodyPoint> points;
    std::vector<std::unique_ptr<BodyPart>> parts;
    std::vector<BodyPart*> partPointers;
    std::vector<std::unique_ptr<BodyGroup[]>> groups;
    std::vector<std::vector<BodyTriangle>> tris;

    explicit MadeBody(int32_t id) {
        body.id = id;
        body.levels = levels;
        body.levelCount = 1;
    }
    int32_t Point(int16_t x, int16_t y, int16_t z, uint32_t flags) {
        points.push_back(BodyPoint{x, y, z, 0, 0, 0, 0, 0, flags});
        return static_cast<int32_t>(points.size()) - 1;
    }
    // A part at x, y, z with half depth d; groups of one triangle each over the given points.
    BodyPart* Part(uint32_t flags, int32_t x, int32_t y, int32_t z, int32_t d = 0,
                   const std::vector<std::vector<int32_t>>& groupPoints = {}) {
        auto part = std::make_unique<BodyPart>();
        part->flags = flags;
        part->centre[0] = x, part->centre[1] = y, part->centre[2] = z;
        part->boxSize[2] = d;
        if (!groupPoints.empty()) {
            groups.push_back(std::make_unique<BodyGroup[]>(groupPoints.size()));
            for (size_t g = 0; g < groupPoints.size(); ++g) {
                const std::vector<int32_t>& v = groupPoints[g];
                tris.push_back({BodyTriangle{{v[0], v[1], v[2]}, 0}});
                groups.back()[g] = BodyGroup{1, tris.back().data(), 0, 0, nullptr};
            }
            part->groups = groups.back().get();
            part->groupCount = static_cast<int16_t>(groupPoints.size());
        }
        parts.push_back(std::move(part));
        return parts.back().get();
    }
    const Body3D* Done() {
        level.points = points.data();
        level.pointCount = static_cast<int32_t>(points.size());
        partPointers.clear();
        for (auto& p : parts) partPointers.push_back(p.get());
        level.parts = partPointers.data();
        level.partCount = static_cast<int16_t>(partPointers.size());
        return &body;
    }
};

using Components = SpaceTest;

TEST_F(Components, ABodyWithoutMarkedPartsAddsNoEntry) {
    MadeBody b(70);
    b.Part(0, 1, 2, 3);
    b.Part(SA_PART_GLOW | SA_PART_ENGINE, 1, 2, 3);
    SA_SetComponents(b.Done());
    for (int32_t kind = 0; kind < SA_COMPONENT_KINDS; ++kind) EXPECT_EQ(g_TypeDB.componentCounts[kind], 0);
}

// A laser looks toward 4 times the first point marked for it; a later group's
// marked point overwrites it; a laser without one has no direction.
TEST_F(Components, LaserAndCockpitDirections) {
    MadeBody b(71);
    const int32_t plain = b.Point(1, 1, 1, 0);
    const int32_t first = b.Point(10, 20, 30, SA_POINT_LASER_DIRECTION);
    const int32_t second = b.Point(-5, 6, 7, SA_POINT_LASER_DIRECTION);
    const int32_t cockpit = b.Point(2, 3, 4, SA_POINT_COCKPIT_DIRECTION);
    b.Part(SA_PART_LASER, 100, 200, 300, 0, {{plain, first, second}});
    b.Part(SA_PART_LASER, 1, 2, 3, 0, {{plain, first, plain}, {second, plain, plain}});
    b.Part(SA_PART_LASER | SA_PART_COCKPIT, 7, 8, 9, 0, {{plain, cockpit, plain}});
    SA_SetComponents(b.Done());
    ASSERT_EQ(g_TypeDB.componentCounts[0], 1);
    const ComponentRecord& lasers = g_TypeDB.components[0][0];
    EXPECT_EQ(lasers.body, 71);
    ASSERT_EQ(lasers.count, 3);
    EXPECT_EQ(lasers.entries[0].flags, 1);
    EXPECT_EQ(lasers.entries[0].position.z, 300);
    EXPECT_EQ(lasers.entries[0].direction.x, 40);
    EXPECT_EQ(lasers.entries[0].direction.z, 120);
    EXPECT_EQ(lasers.entries[1].direction.x, -20);
    EXPECT_EQ(lasers.entries[2].flags, 0);  // its point is marked for cockpits
    EXPECT_EQ(lasers.entries[2].direction.x, 0);
    ASSERT_EQ(g_TypeDB.componentCounts[1], 1);
    EXPECT_EQ(g_TypeDB.components[1][0].count, 1);
    EXPECT_EQ(g_TypeDB.components[1][0].entries[0].direction.y, 12);
    EXPECT_EQ(g_TypeDB.componentCounts[2], 0);
}

TEST_F(Components, ADockingPositionSitsAtThePartsNearFace) {
    MadeBody b(72);
    b.Part(SA_PART_DOCKING, 5, 6, 1000, 250);
    SA_SetComponents(b.Done());
    ASSERT_EQ(g_TypeDB.componentCounts[2], 1);
    const ComponentEntry& e = g_TypeDB.components[2][0].entries[0];
    EXPECT_EQ(e.position.x, 5);
    EXPECT_EQ(e.position.y, 6);
    EXPECT_EQ(e.position.z, 750);
    EXPECT_EQ(e.flags, 0);
}

TEST_F(Components, FiftyLasersAreTakenAFiftyFirstEndsTheProgram) {
    MadeBody b(73);
    for (int32_t i = 0; i < SA_MAX_BODY_COMPONENTS; ++i) b.Part(SA_PART_LASER, i, 0, 0);
    SA_SetComponents(b.Done());
    ASSERT_EQ(g_TypeDB.componentCounts[0], 1);
    EXPECT_EQ(g_TypeDB.components[0][0].count, SA_MAX_BODY_COMPONENTS);
    b.Part(SA_PART_LASER, 99, 0, 0);
    const Body3D* body = b.Done();
    // The exit frees the SystemState and space root it finds; the test's own are no heap records.
    EXPECT_EXIT(
        {
            g_SystemState = nullptr;
            g_SpaceRoot = nullptr;
            SA_SetComponents(body);
        },
        testing::ExitedWithCode(1), "SA_SetComponents: Too many lasers in body 73 part 50");
}

}  // namespace
