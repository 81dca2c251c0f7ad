#include "cockpit/statuspanel.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "base/general.h"
#include "cockpit/scenes.h"
#include "cockpit/syscall.h"
#include "cockpit/ticker.h"
#include "scene/records.h"
#include "scene/texdraw.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/records.h"
#include "space/typesdb.h"
#include "space/weapons.h"
#include "system/clock.h"

INSStatusValues g_INSStatus = {};

namespace {

constexpr int32_t kShift = 5000;  // speeds are drawn shifted, so a reverse speed has room left of zero
constexpr uint32_t kDesiredColour = 0xffd20101, kDockingColour = 0xff01aa55, kHullColour = 0xff015001;
constexpr uint32_t kColumnColour = 0x121b20;
constexpr int32_t kTenPercent = 6553, kThirtyPercent = 19660;  // 16.16
// One column of the missile icons per missile type.
constexpr int8_t kMissileIcons[] = {0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3};
constexpr int32_t kNoMissile = 106;  // the empty icon's corner
constexpr int32_t kWarpX[] = {160, 192, 224, 0, 32, 64, 96, 128, 160, 192, 224};

int32_t Now() { return g_SystemState ? g_SystemState->gameClock : 0; }

void Cut(int32_t source, int32_t destination, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w, int32_t h) {
    B3D_TexCookie(source, destination, sx, sy, dx, dy, w, h, -1, 1);
}
void Piece(int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w, int32_t h, int32_t source = INS_PANEL_BARS) {
    Cut(source, INS_PANEL_TEXTURE, sx, sy, dx, dy, w, h);
}

int32_t Percent(int32_t of, int32_t factor) { return static_cast<int32_t>((int64_t{of} * factor + 32768) >> 16); }

void Speed(const SectorObject* o) {
    const int32_t top = O_GetMaxSpeed(o);
    const int32_t speed = o->speed, desired = o->desiredSpeed;
    g_INSStatus.changing = std::llabs(int64_t{desired} - speed) > top / 8 ? 1 : 0;
    if (top == 0) return;
    // In 64 bits: a story may set any top speed.
    const int64_t span = int64_t{top} + kShift;
    const auto scale = [&](int64_t v, int64_t n) {
        return span ? static_cast<int32_t>(std::clamp<int64_t>((v + kShift) * n / span, -65536, 65536)) : 0;
    };
    const auto bar = [&](int64_t v) { return scale(v, 127); };
    const auto marker = [&](int64_t v) { return scale(v, 125); };
    const int32_t x0 = speed >= 0 ? bar(0) : bar(speed);
    const int32_t x1 = speed >= 0 ? bar(std::min(speed, top)) : bar(0);
    for (int32_t y : {100, 112}) Piece(x0, 20, x0, y, x1 - x0 + 1, 12);
    B3D_TexRectFill(INS_PANEL_TEXTURE, marker(desired), 96, 3, 31, kDesiredColour);
    const int32_t docking = O_GetDockingSpeed(o);
    if (!O_IsSpecialShip(o) || top <= docking) return;
    if (speed < docking || Now() % 1000 > 500)
        B3D_TexRectFill(INS_PANEL_TEXTURE, marker(docking), 96, 3, 31, kDockingColour);
}

// The subtypes of the two weapons of the cockpit's gun slot; -1 where none.
void Weapons(const Cockpit* c, SectorObject* o) {
    for (int32_t y : {0, 16}) Piece(0, 32, 64, y, 64, 16);
    const int32_t slot = SA_GetShipCockpitKind(o, c->cockpitNumber) - 1;
    if (slot < 0) return;
    const int32_t group = SA_IsShipTurretFree(o, slot);
    int32_t subtypes[2] = {-1, -1};
    for (SectorObject* l = SA_ListFirst(O_GetChildList(o)); l; l = SA_ListNext(l)) {
        const auto* laser = l->mainType == SA_MT_LASER ? static_cast<const LaserData*>(l->typeData) : nullptr;
        if (!laser || laser->slot != slot) continue;
        if (laser->position == group && subtypes[0] < 0) subtypes[0] = l->subType;
        if (laser->position == group + 1 && subtypes[1] < 0) subtypes[1] = l->subType;
    }
    for (int i = 0; i < 2; ++i)
        if (subtypes[i] >= 0) Piece((subtypes[i] % 3 + 1) * 20, 64 + 16 * i, 44, 16 * i, 20, 16, INS_PANEL_ICONS);
}

// The laser column: a top and a bottom cap with middle pieces between them,
// or two halves when it is too short for the caps.
void LaserColumn(int32_t c) {
    B3D_TexRectFill(INS_PANEL_COLUMN, 217, 103, 14, 152, kColumnColour);
    if (c <= 0) return;
    const auto cut = [](int32_t sy, int32_t dy, int32_t h) {
        Cut(INS_PANEL_COLUMN_SOURCE, INS_PANEL_COLUMN, 239, sy, 217, dy, 14, h);
    };
    if (c > 10) {
        cut(113, 255 - c, 5);
        cut(148, 250, 5);
        for (int32_t left = c - 10, y = 250 - (c - 10); left > 0;) {
            const int32_t h = std::min(left, 30);
            cut(118, y, h);
            y += h;
            left -= h;
        }
        return;
    }
    cut(113, 255 - c, (c + 1) / 2);
    if (c >= 2) cut(153 - c / 2, 255 - c + (c + 1) / 2, c / 2);
}

// The laser energy bar and column; whether the lasers just ran low.
bool Lasers(Cockpit* c, SectorObject* o) {
    const ShipData* ship = o->mainType == SA_MT_SHIP ? O_ShipData(o) : nullptr;
    const TypeRecord* type = ship ? SA_GetTypeRecord(o->mainType, o->subType) : nullptr;
    const int32_t top = type ? type->field[SA_TF_SHIP_LASER_POWER_MAX] : 0;
    const int32_t energy = ship ? ship->laserEnergy / 1000 : 0;
    if (top != 0) {
        const int32_t s = INS_MulDiv(energy, 63, top);
        for (int32_t y : {4, 16}) Piece(63 - s, 52, 64, y, s + 1, 12);
        LaserColumn(INS_MulDiv(energy, 152, top));
    }
    int32_t& low = c->words3[INS_LASER_LOW_WORD];
    if (energy > Percent(top, kThirtyPercent)) low = 0;
    if (energy >= Percent(top, kTenPercent) || low) return false;
    low = 1;
    return true;
}

// The shield and hull bars and the shield icon; whether the shield just ran low.
bool ShieldAndHull(Cockpit* c, const SectorObject* o) {
    for (int32_t y : {32, 48}) Piece(64, 32, 64, y, 64, 16);
    const int32_t top = O_GetMaxShield(o), shield = O_GetShield(o);
    if (top > 0) {
        const int32_t s = INS_MulDiv(shield, 63, top);
        Piece(127 - s, 52, 64, 36, s + 1, 12);
    }
    if (const int32_t hull = O_GetMaxHull(o); hull > 0)
        B3D_TexRectFill(INS_PANEL_TEXTURE, 64, 48, INS_MulDiv(o->hull, 63, hull) + 1, 12, kHullColour);
    int32_t& low = c->words3[INS_SHIELD_LOW_WORD];
    if (shield >= Percent(top, kTenPercent)) {
        Piece(114, 64, 54, 32, 10, 32, INS_PANEL_ICONS);
        if (shield > Percent(top, kThirtyPercent)) low = 0;
        return false;
    }
    Piece(Now() % 1000 < 500 ? 104 : 114, 64, 54, 32, 10, 32, INS_PANEL_ICONS);
    if (low) return false;
    low = 1;
    return true;
}

void Markers(const Cockpit* c) {
    const bool alarm = g_CockpitSystem && (g_CockpitSystem->statusFlags & 4);
    Piece(alarm && Now() % 600 < 300 ? 80 : 92, 64, 32, 0, 12, 32, INS_PANEL_ICONS);
    Piece(g_INSStatus.mode == 1 ? 32 : g_INSStatus.second >= 1 ? 64 : 0, 192, 0, 32, 32, 32, INS_PANEL_MODES);
    if (!c->cockpitRefObject) return;
    const int32_t warp = std::clamp(g_CockpitSystem ? g_CockpitSystem->timeWarpFactor : 0, 0, 10);
    Piece(kWarpX[warp], warp <= 2 ? 192 : 224, 0, 0, 32, 32, INS_PANEL_MODES);
    const int32_t column = INS_MissileIconColumn(static_cast<uint16_t>(c->missileType));
    const bool ready = S_ClockDiff(Now(), c->missileValues[0]) >= 0;
    if (column < 0) Piece(kNoMissile, kNoMissile, 32, 32, 22, 22, INS_PANEL_ICONS);
    else Piece(column * 22, ready ? 22 : 0, 32, 32, 22, 22, INS_PANEL_ICONS);
    const int32_t count = std::clamp(c->missileValues[1], 0, 99);
    Piece(count / 10 * 11, 44, 32, 54, 11, 10, INS_PANEL_ICONS);
    Piece(count % 10 * 11, 54, 43, 54, 11, 10, INS_PANEL_ICONS);
}

}  // namespace

int32_t INS_MissileIconColumn(int32_t type) {
    if (type < 0 || type >= static_cast<int32_t>(std::size(kMissileIcons))) return -1;
    return kMissileIcons[type];
}

void INS_DrawStatusPanel(Cockpit* c, SectorObject* o) {
    const Scene3D* scene = IC_Scene(c);
    if (!o || !scene || !(scene->flags & SCENE_ENABLED)) return;
    if (B3D_TexGetWidth(INS_PANEL_TEXTURE) <= 0 || B3D_TexGetWidth(INS_PANEL_ICONS) <= 0) return;
    for (int32_t y : {96, 112}) Piece(0, 0, 0, y, 128, 16);
    Speed(o);
    if (O_HasOwnCut(o)) Weapons(c, o);
    const bool laserLow = Lasers(c, o);
    const bool shieldLow = ShieldAndHull(c, o);
    Markers(c);
    // The story may free the cockpit or the object; neither is touched after.
    if (laserLow) INS_RunStoryInt(INS_STORY_OBJECT, "NotifyLaserLow", 0);
    if (shieldLow) INS_RunStoryInt(INS_STORY_OBJECT, "NotifyShieldLow", 0);
}

void INS_StatusBarsStep(Cockpit* cockpit) { INS_DrawStatusPanel(cockpit, cockpit->cockpitRefObject); }
