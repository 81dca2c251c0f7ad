#include "render/frustum.h"

#include <bit>
#include <cmath>

#include "render/bodies.h"
#include "render/cameras.h"
#include "scene/bodyrecord.h"
#include "scene/records.h"

namespace {

void Cross(const float a[3], const float b[3], float out[3]) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

float Dot(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

}  // namespace

Frustum* S_3DFrustumFromMatrix(const D3DXMATRIX* matrix, Frustum* out) {
    if (!matrix || !out) return out;
    const auto& m = matrix->m;
    // Plane i is the fourth column plus or minus column i / 2 (x, y, z).
    for (int i = 0; i < 6; ++i) {
        const int column = i / 2;
        const float sign = (i % 2) ? 1.0f : -1.0f;
        float* p = out->planes[i];
        for (int row = 0; row < 4; ++row) p[row] = m[row][3] + sign * m[row][column];
        const float length = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
        // A plane without a normal stays as it is: it admits all or nothing.
        if (length > 0.0f)
            for (int k = 0; k < 4; ++k) p[k] /= length;
        out->cornerSelect[i] = (p[0] < 0.0f ? 0x1u : 0u) | (p[1] < 0.0f ? 0x2u : 0u) | (p[2] < 0.0f ? 0x4u : 0u);
    }
    for (int k = 0; k < 8; ++k) {
        const float* x = out->planes[(k & 0x4) ? 0 : 1];
        const float* y = out->planes[(k & 0x2) ? 3 : 2];
        const float* z = out->planes[(k & 0x1) ? 4 : 5];
        S_3DPlanesIntersect(x, y, z, out->corners[k]);
    }
    return out;
}

int S_3DPlanesIntersect(const float a[4], const float b[4], const float c[4], float point[3]) {
    if (!a || !b || !c || !point) return 0;
    float ab[3], bc[3], ca[3];
    Cross(a, b, ab);
    Cross(b, c, bc);
    Cross(c, a, ca);
    const float denominator = Dot(c, ab);
    // Zero, denormal, infinite or not a number: no single common point.
    const uint32_t exponent = (std::bit_cast<uint32_t>(denominator) >> 23) & 0xFF;
    if (exponent == 0 || exponent == 0xFF) return 0;
    const float scale = -1.0f / denominator;
    for (int i = 0; i < 3; ++i) point[i] = (a[3] * bc[i] + b[3] * ca[i] + c[3] * ab[i]) * scale;
    return 1;
}

int S_3DSphereInFrustum(const Frustum* frustum, const float sphere[4]) {
    if (!frustum || !sphere) return 0;
    for (const float* p : frustum->planes) {
        const float s = p[0] * sphere[0] + p[1] * sphere[1] + p[2] * sphere[2] + p[3];
        if (!(s + sphere[3] >= 0.0f)) return 0;
    }
    return 1;
}

int S_3DProjectInstBounds(const Inst3D* instance, const Camera3D* camera, float unitScale) {
    if (!instance || !camera) return 0;
    constexpr uint32_t kScreenPlaced = 0x200;
    constexpr uint32_t kLight =
        INST_LIGHT | INST_SPOT_LIGHT | INST_LIGHT_SECOND | INST_POINT_LIGHT | INST_DIRECTIONAL_LIGHT;
    if ((instance->flags2 & kScreenPlaced) || (instance->flags & kLight)) return 1;
    if ((instance->flags & INST_CAMERA) && (reinterpret_cast<const Camera3D*>(instance)->camFlags & 0x8000)) return 1;
    if (instance->bodyId < 1) return 0;
    D3DXMATRIX view, projection, both;
    S_3DCameraView(camera, unitScale, &view);
    S_3DCameraProjection(camera, &projection);
    D3DXMatrixMultiply(&both, &view, &projection);
    Frustum frustum;
    S_3DFrustumFromMatrix(&both, &frustum);

    const Body3D* body = g_S3DGetBodyHook ? g_S3DGetBodyHook(instance->bodyId) : nullptr;
    if (!body || body->levelCount < 1 || !body->levels || !body->levels[0]) return 0;
    const BodyLevel* level = body->levels[0];
    const int32_t scale[3] = {instance->scale.x, instance->scale.y, instance->scale.z};
    double squared = 0.0;
    for (int i = 0; i < 3; ++i) {
        const int64_t sized = (static_cast<int64_t>(level->extent[i]) * instance->size + 32768) >> 16;
        const int64_t scaled = (sized * scale[i] + 32768) >> 16;
        squared += static_cast<double>(scaled) * static_cast<double>(scaled);
    }
    double radius = std::sqrt(squared);
    if (radius == 0.0) radius = instance->radius;
    const float sphere[4] = {static_cast<float>(instance->worldPos.x * static_cast<double>(unitScale)),
                             static_cast<float>(instance->worldPos.y * static_cast<double>(unitScale)),
                             static_cast<float>(instance->worldPos.z * static_cast<double>(unitScale)),
                             static_cast<float>(radius * unitScale)};
    return S_3DSphereInFrustum(&frustum, sphere);
}
