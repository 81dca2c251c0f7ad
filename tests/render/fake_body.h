// Bodies built in memory for the renderer's tests: one level, one part.
#pragma once

#include <cstdint>
#include <vector>

#include "scene/bodyrecord.h"
#include "scene/fxparams.h"

// A body of one level and one part, its arrays owned by the test.
struct FakeBody {
    Body3D body{};
    BodyLevel level{};
    BodyLevel* levels[1] = {&level};
    BodyPart part{};
    BodyPart* parts[1] = {&part};
    std::vector<BodyPoint> points;
    std::vector<BodyGroup> groups;
    std::vector<std::vector<BodyTriangle>> tris;
    std::vector<BodyPrecalcVertex> list;
    std::vector<BodyMaterial> materials;
    std::vector<FXParameter> fxParams;
    FXEffectBlock fx{};

    // Points on a line; groups of triangles over point triples.
    FakeBody(int32_t id, int32_t pointCount, const std::vector<std::vector<BodyTriangle>>& groupTris)
        : tris(groupTris) {
        body.id = id;
        body.levels = levels;
        body.levelCount = 1;
        body.name = const_cast<char*>("hull");
        points.resize(static_cast<size_t>(pointCount));
        for (int32_t i = 0; i < pointCount; ++i)
            points[i] = {int16_t(i % 16000), int16_t(i / 16000 * 100), int16_t(i % 7), 0, 0, 16384, 0, 0, 0};
        level.pointCount = pointCount;
        level.points = points.data();
        level.partCount = 1;
        level.parts = parts;
        level.body = &body;
        groups.resize(tris.size());
        for (size_t g = 0; g < tris.size(); ++g) {
            groups[g].triCount = static_cast<int32_t>(tris[g].size());
            groups[g].tris = tris[g].data();
            groups[g].material = 1;
        }
        part.groupCount = static_cast<int16_t>(groups.size());
        part.groups = groups.empty() ? nullptr : groups.data();
        part.level = &level;
    }
};

inline std::vector<BodyTriangle> Fan(int32_t triangles) {
    std::vector<BodyTriangle> out;
    for (int32_t t = 0; t < triangles; ++t) out.push_back({{0, t + 1, t + 2}, 0});
    return out;
}
