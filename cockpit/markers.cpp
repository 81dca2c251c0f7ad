#include "cockpit/markers.h"

#include <algorithm>
#include <cmath>

#include "cockpit/hud.h"
#include "cockpit/overlay.h"
#include "cockpit/scenes.h"
#include "scene/records.h"
#include "scene/texdraw.h"
#include "space/flight.h"
#include "space/objects.h"
#include "space/orders.h"
#include "space/records.h"

namespace {

// How far a drawn point may lie outside the texture: enough for any shape
// that still reaches into it, and no line is walked much further.
constexpr double kReach = 1 << 16;

int32_t Pixel(double v) { return static_cast<int32_t>(std::lround(std::clamp(v, -kReach, kReach))); }

bool Alive(const SectorObject* o) { return o && o->instance && !(o->flags & SA_FLAG_KILLED); }

// The sector camera's view mapped onto the texture.
struct View {
    int32_t texture;
    const Camera3D* camera;
    double lensX, lensY;
    double cx, cy;  // the texture's centre, also the half view in pixels
};

// Where a point of the sector lands on the texture, and how many pixels a
// length at its depth spans; false behind the camera or outside its view.
// The sums of products run in doubles: a point two thousand million units
// off along a diagonal lies further than 32 bits reach in the camera's axes.
bool Project(const View& v, const QelVector& world, double* x, double* y, double* perUnit) {
    const QelVector& at = v.camera->inst.pos;
    const double d[3] = {static_cast<double>(world.x) - at.x, static_cast<double>(world.y) - at.y,
                         static_cast<double>(world.z) - at.z};
    double local[3];
    for (int i = 0; i < 3; ++i) {
        const int32_t* row = &v.camera->inst.matrix.m[4 * i];
        local[i] = (row[0] * d[0] + row[1] * d[1] + row[2] * d[2]) / 65536.0;
    }
    if (local[2] <= 0) return false;
    const double fx = local[0] / (local[2] * v.lensX), fy = -local[1] / (local[2] * v.lensY);
    if (std::fabs(fx) > 1 || std::fabs(fy) > 1) return false;
    *x = v.cx + fx * v.cx;
    *y = v.cy + fy * v.cy;
    if (perUnit) *perUnit = v.cx / (local[2] * v.lensX);
    return true;
}

void TargetMarker(const View& v, SectorObject* ship, SectorObject* target) {
    double x = 0, y = 0, perUnit = 0;
    if (!Alive(target) || target == ship || !Project(v, target->instance->pos, &x, &y, &perUnit)) return;
    const double half = std::clamp(O_GetRadius(target) * perUnit, double{INS_MARKER_MIN_BRACKET}, v.cx);
    const int32_t r = Pixel(half), arm = std::max(r / 3, 2);
    const int32_t px = Pixel(x), py = Pixel(y);
    const uint32_t colour = INS_RadarHostile(ship, target) ? INS_MARKER_HOSTILE : INS_MARKER_PLAIN;
    for (const int32_t sx : {-1, 1})
        for (const int32_t sy : {-1, 1}) {
            const int32_t cx = px + sx * r, cy = py + sy * r;
            B3D_TexLine(v.texture, cx, cy, cx - sx * arm, cy, colour);
            B3D_TexLine(v.texture, cx, cy, cx, cy - sy * arm, colour);
        }
}

void Diamond(const View& v, const QelVector& at) {
    double x = 0, y = 0;
    if (!Project(v, at, &x, &y, nullptr)) return;
    const int32_t px = Pixel(x), py = Pixel(y), r = 3;
    B3D_TexLine(v.texture, px - r, py, px, py - r, INS_MARKER_TURRET);
    B3D_TexLine(v.texture, px, py - r, px + r, py, INS_MARKER_TURRET);
    B3D_TexLine(v.texture, px + r, py, px, py + r, INS_MARKER_TURRET);
    B3D_TexLine(v.texture, px, py + r, px - r, py, INS_MARKER_TURRET);
}

// Turret 0 is the ship's own guns, which aim where the ship looks; the others
// mark the object or the point they are set on.
void TurretMarkers(const View& v, SectorObject* ship) {
    const ShipData* data = O_ShipData(ship);
    if (!data || !data->turrets) return;
    for (int32_t n = 1; n < data->turretCount; ++n) {
        const TurretSlot& t = data->turrets[n];
        if (t.targetMode == 1) Diamond(v, QelVector{t.targetPos[0], t.targetPos[1], t.targetPos[2], 0});
        else if (Alive(t.target) && t.target != ship) Diamond(v, t.target->instance->pos);
    }
}

// A docking ship heads for its port; the behaviour keeps the port's point
// in the order each frame.
void DockMarker(const View& v, SectorObject* ship) {
    const ShipData* data = O_ShipData(ship);
    if (!data || data->CourseType != VER_FLYINTO || !Alive(data->OrderTarget)) return;
    double x = 0, y = 0;
    if (!Project(v, data->OrderPos, &x, &y, nullptr)) return;
    const int32_t px = Pixel(x), py = Pixel(y), r = 5;
    B3D_TexLine(v.texture, px - r, py, px + r, py, INS_MARKER_DOCK);
    B3D_TexLine(v.texture, px, py - r, px, py + r, INS_MARKER_DOCK);
}

bool Hidden(const Cockpit* c) {
    if (c->monitorNumber != 0 || !(c->viewMode & 3)) return true;
    const SectorObject* sector = c->sectorSpace;
    if (!sector || sector->mainType != SA_MT_SECTOR) return true;
    return (reinterpret_cast<const SectorSpace*>(sector)->spaceFlags & INS_SPACE_NO_OVERLAY) != 0;
}

}  // namespace

void INS_DrawHudMarkers(Cockpit* c, int32_t hudInfo) {
    const int32_t texture = INS_MARKER_TEXTURE;
    const int32_t w = B3D_TexGetWidth(texture), h = B3D_TexGetHeight(texture);
    if (w <= 0 || h <= 0) return;
    B3D_TexRectFill(texture, 0, 0, w, h, 0);
    SectorObject* ship = c->cockpitRefObject;
    View v{texture, IC_FindCamera(c->sectorCamera), 0, 0, (w - 1) / 2.0, (h - 1) / 2.0};
    if (!ship || Hidden(c) || !v.camera || !INS_CameraLens(v.camera, &v.lensX, &v.lensY)) return;
    if (!(hudInfo & INS_HIDE_DOCK_MARKER)) DockMarker(v, ship);
    if (!(hudInfo & INS_HIDE_TURRET_MARKERS)) TurretMarkers(v, ship);
    if (!(hudInfo & INS_HIDE_TARGET_MARKER)) TargetMarker(v, ship, c->trackedObject);
}

// ---------------------------------------------------------------- the story's symbols

void INS_DrawObjectSymbolCall(int32_t texture, const int32_t values[6]) {
    uint32_t flags = static_cast<uint32_t>(values[4]);
    if (values[5] > 0) flags |= INS_SYMBOL_BLINK;
    ID_DrawGObjectSymbol2(texture, values[0], values[1], values[2], 0, values[3], flags);
}

void INS_DrawObjectSymbol3D(SectorObject* o, int32_t texture, int32_t x, int32_t y, int32_t size, int32_t colour) {
    if (!o || B3D_TexGetWidth(texture) <= 0) return;
    SectorObject* ship = INS_SteeredShip();
    if (size > 0 && o->instance) {
        // The object's axes in the viewer's frame, y up.
        const Cockpit* active = INS_ActiveControlCockpit();
        const Camera3D* camera = active ? IC_FindCamera(active->sectorCamera) : nullptr;
        double axis[3][2];
        for (int i = 0; i < 3; ++i) {
            const int32_t* row = &o->instance->matrix.m[4 * i];
            QelVector a{row[0], row[1], row[2], 0};
            if (camera) Qel_MatTransMulVec(&camera->inst.matrix, &a, &a);
            axis[i][0] = a.x / 65536.0 * size;
            axis[i][1] = a.y / 65536.0 * size;
        }
        const auto corner = [&](int k, double* px, double* py) {
            double sx = x, sy = y;
            for (int i = 0; i < 3; ++i) {
                const double s = (k >> i) & 1 ? 1 : -1;
                sx += s * axis[i][0];
                sy -= s * axis[i][1];
            }
            *px = sx;
            *py = sy;
        };
        // The twelve edges join corners that differ in one axis.
        for (int k = 0; k < 8; ++k)
            for (int i = 0; i < 3; ++i) {
                if ((k >> i) & 1) continue;
                double ax = 0, ay = 0, bx = 0, by = 0;
                corner(k, &ax, &ay);
                corner(k | (1 << i), &bx, &by);
                B3D_TexLine(texture, Pixel(ax), Pixel(ay), Pixel(bx), Pixel(by), static_cast<uint32_t>(colour));
            }
    }
    const int32_t hostile = ship && ship != o && INS_RadarHostile(ship, o) ? 2 : 0;
    ID_DrawObjectSymbolFlags(o, texture, x, 0, y, hostile, false, false);
}
