#include "cockpit/hud.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/general.h"
#include "base/log.h"
#include "cockpit/syscall.h"
#include "cockpit/ticker.h"
#include "scene/names.h"
#include "scene/records.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/texdraw.h"
#include "script/textpages.h"
#include "space/objects.h"
#include "space/orders.h"
#include "space/queries.h"
#include "space/records.h"
#include "space/typesdb.h"
#include "space/weapons.h"
#include "system/clock.h"

namespace {

constexpr int32_t kIconList = 0;
constexpr const char* kIconTexture = "effects/menugfx/gui_master";
constexpr uint32_t kRingColours[] = {0xFFBBBBBB, 0xFF999999, 0xFF777777, 0xFF555555, 0xFF333333};
constexpr int64_t kRingDistances[] = {5000, 50000, 500000, 5000000, 50000000};
constexpr int32_t kRingShown = 3276;      // a ring at or below this fraction of the range is a dot
constexpr int32_t kRingOutside = 131072;  // ... and at or past this one lies outside the radar
constexpr uint32_t kPartnerColour = 0xFFBBBBBB;
constexpr int32_t kHighlightStep = 1000;  // ms
constexpr int32_t kHighlightShown = 600;  // ms left in a step while the object is drawn highlighted
constexpr int32_t kKept = 20;
constexpr int16_t kMarkedShip = 71;
constexpr uint32_t kFlagBit24 = 1u << 24;
constexpr uint32_t kFlagBit26 = 1u << 26;
constexpr int32_t kTextPage = 35, kMetreText = 967, kKilometreText = 966;
constexpr uint32_t kHostileColour = 0xFFD20101, kPlainColour = 0x34628F, kFastColour = 0xFFD2C301;
constexpr uint32_t kLandingColour = 0xFF01AA55;
constexpr int32_t kPanelSize = 64, kRowHeight = 16;

int32_t Now() { return g_SystemState ? g_SystemState->gameClock : 0; }
int32_t RealNow() { return g_SystemState ? g_SystemState->realClock : 0; }

const B3DIconRow* Icon(int32_t id) { return g_B3DState ? B3D_GetIconData(kIconList, id) : nullptr; }

int32_t IconTexture() { return B3D_GetTextureID(kIconTexture); }

void BlitCentred(const B3DIconRow* icon, int32_t texture, int32_t x, int32_t y) {
    B3D_TexBlit(IconTexture(), texture, icon->x, icon->y, x - icon->w / 2, y - icon->h / 2, icon->w, icon->h, -1, 1);
}

// ---------------------------------------------------------------- radar geometry

struct RadarFrame {
    int32_t cx, cy;
    int64_t range;
};

struct RadarPoint {
    int32_t sx, sy, y2;
};

RadarPoint Project(const RadarFrame& f, double x, double y, double z) {
    const double r = static_cast<double>(f.range);
    const auto clamp = [](double v) { return static_cast<int32_t>(std::clamp(v, -1e6, 1e6)); };
    return {clamp(f.cx + x / r * f.cx), clamp(f.cy - z / (2 * r) * f.cy), clamp(f.cy - (y / r + z / (2 * r)) * f.cy)};
}

// Where the object lies in the ship's axes.
QelVector Relative(const Cockpit* cockpit, const SectorObject* ship, const SectorObject* o) {
    if (!o->instance) return QelVector{};
    if (cockpit->viewMode != 4) return o->instance->viewPos;
    const QelVector at = ship->instance ? ship->instance->pos : QelVector{};
    const QelVector d = INS_VecSub(o->instance->pos, at);
    QelVector out = d;
    if (ship->instance) Qel_MatTransMulVec(&ship->instance->matrix, &d, &out);
    return out;
}

// Gates far out stand on the edge at 0.85 of the range; other objects that
// far are not shown. False when the object is not shown.
bool Place(const RadarFrame& f, const SectorObject* o, double* x, double* y, double* z) {
    const double r = static_cast<double>(f.range);
    if (o->mainType == SA_MT_GATE) {
        if (std::abs(*x) > 0.85 * r || std::abs(*z) > 1.7 * r) {
            // The depth counts half, as the radar draws it.
            const double hx = *x / r, hz = *z / (2 * r);
            const double len = std::sqrt(hx * hx + hz * hz);
            if (len > 0) {
                *x = hx / len * 0.85 * r;
                *z = hz / len * 0.85 * 2 * r;
                *y = 0;
            }
        }
        return true;
    }
    return std::abs(*x) < r && std::abs(*z) < 2 * r;
}

void Rings(int32_t texture, const RadarFrame& f) {
    const auto ring = [&](int64_t distance, uint32_t colour) {
        const int64_t fraction = distance * 65536 / f.range;
        if (fraction >= kRingOutside) return false;
        if (fraction > kRingShown)
            B3D_TexCircle(texture, f.cx, f.cy, static_cast<int32_t>(fraction * f.cx / 65536), colour, 0);
        return true;
    };
    for (size_t i = 0; i < std::size(kRingDistances); ++i)
        if (!ring(kRingDistances[i], kRingColours[i])) break;
    ring(30000, 0xFFFFFFFF);
    ring(200000, 0xFFFF8888);
    B3D_TexSetPix(texture, f.cx, f.cy, 0xFFFFFFFF);
}

// The tracked object blinks three times when it becomes the tracked one:
// whether this frame shows it highlighted.
bool HighlightStep(Cockpit* cockpit, CockpitHud* hud) {
    const uint32_t tracked = cockpit->trackedObject ? cockpit->trackedObject->id : 0;
    if (tracked != hud->lastTracked) {
        hud->lastTracked = tracked;
        hud->highlightCount = INS_RADAR_HIGHLIGHTS;
        hud->nextHighlight = S_ClockAdvance(Now(), kHighlightStep);
    }
    if (hud->highlightCount && S_ClockDiff(Now(), hud->nextHighlight) >= 0) {
        hud->nextHighlight = S_ClockAdvance(hud->nextHighlight, kHighlightStep);
        --hud->highlightCount;
    }
    return hud->highlightCount && S_ClockDiff(hud->nextHighlight, Now()) > kHighlightShown;
}

bool Valid(const ScannerEntry& e) { return SA_LookupObject(e.id) == e.object && !(e.object->flags & SA_FLAG_KILLED); }

}  // namespace

// ---------------------------------------------------------------- icons and symbols

void ID_DrawGObjectSymbol2(int32_t texture, int32_t mainType, int32_t subType, int32_t x, int32_t y2, int32_t y,
                           uint32_t flags) {
    const int32_t width = B3D_TexGetWidth(texture), height = B3D_TexGetHeight(texture);
    if (width <= 0) return;
    const B3DIconRow* own = Icon(INS_GetObjectIcon(mainType, subType, static_cast<int32_t>(flags)));
    if ((flags & INS_SYMBOL_STEM) && x >= 0 && x < width) {
        const int32_t pick = (flags & 2) ? 1 : (flags & 8) ? 2 : 0;
        const B3DIconRow* stem = Icon(461 + 3 * pick);
        const B3DIconRow* end = Icon(469 + pick);
        if (!stem || !end) {
            Qel_DPrintf(0, "ERROR: ID_DrawGObjectSymbol2() B3DBase->B3DB_FindIcon failed!\n");
            return;
        }
        int32_t top = y + 6, bottom = y2;
        if (y2 < y) top = y2, bottom = y - 4;
        top = std::max(top, 0);
        bottom = std::min(bottom, height);
        if (bottom > top)
            B3D_TexBltTilesAlpha(IconTexture(), texture, stem->x, stem->y, stem->w, stem->h, x - stem->w / 2, top,
                                 stem->w, bottom - top, -1);
        BlitCentred(end, texture, x, y2);
    }
    if (!(flags & INS_SYMBOL_PLAIN) && (mainType == SA_MT_DOCK || mainType == SA_MT_FACTORY)) {
        const bool on = !(flags & INS_SYMBOL_BLINK);
        int32_t marker = 0;
        if ((flags & 2) || ((flags & 8) && (flags & 0x100) && on)) marker = 452;
        else if ((flags & 8) && (flags & 0x200) && on) marker = 451;
        else if (flags & 8) marker = 453;
        if (const B3DIconRow* m = marker ? Icon(marker) : nullptr) BlitCentred(m, texture, x, y);
    }
    if (own) BlitCentred(own, texture, x, y);
}

uint32_t ID_ObjectSymbolFlags(const SectorObject* o, int32_t hostile, bool highlighted, bool withStem) {
    uint32_t flags = static_cast<uint32_t>(hostile) & 3;
    if (o->flags & 8) flags |= 4;
    if (o->group == 10) flags |= 8;
    if ((o->mainType == SA_MT_SHIP && o->subType == kMarkedShip) ||
        (o->mainType == SA_MT_MISSILE && (o->flags & kFlagBit24)))
        flags |= 0x80;
    if (o->flags & kFlagBit26) flags |= 0x100;
    if (o->flags & 0x8000) flags |= 0x200;
    if (highlighted && RealNow() % 2000 > 1000) flags |= INS_SYMBOL_BLINK;
    if (withStem) flags |= 0x41000;
    if (const Cockpit* active = INS_ActiveControlCockpit(); active && active->cockpitRefObject == o) flags |= 0x2000;
    if (o->flags2 & 0x1000) flags |= 0x4000;
    if (o->flags2 & 0x2000) flags |= 0x8000;
    if (o->flags2 & kFlagBit24) flags |= 0x10000;
    return flags;
}

void ID_DrawObjectSymbolFlags(SectorObject* o, int32_t texture, int32_t x, int32_t y2, int32_t y, int32_t hostile,
                              bool highlighted, bool withStem) {
    ID_DrawGObjectSymbol2(texture, o->mainType, o->subType, x, y2, y,
                          ID_ObjectSymbolFlags(o, hostile, highlighted, withStem));
}

bool INS_RadarHostile(SectorObject* ship, SectorObject* o) {
    switch (o->mainType) {
        case SA_MT_SHIP: return (o->flags & kFlagBit24) || SA_IsEnemy(ship, o);
        case SA_MT_MISSILE: return (o->flags & kFlagBit24) != 0;
        case SA_MT_PLANET:
        case SA_MT_LASER:
        case SA_MT_SHIELD:
        case SA_MT_ASTEROID:
        case SA_MT_GATE:
        case SA_MT_SPECIAL: return false;
        default:
            if (o->mainType >= SA_MT_WARE_FIRST && o->mainType <= SA_MT_WARE_LAST) return false;
            return SA_IsEnemy(ship, o) != 0;
    }
}

// ---------------------------------------------------------------- radar

int32_t INS_RadarTargetRange(int32_t range, const int32_t* kept, int32_t keptCount, int32_t hostileExtent,
                             int32_t hostileCount) {
    int64_t target = range;
    if (keptCount > 0) {
        // The nearest objects fill the radar; with five hostiles or more all of
        // them are kept in view.
        target = static_cast<int64_t>(1.1 * kept[keptCount - 1]);
        if (hostileCount >= 5) target = std::max<int64_t>(target, static_cast<int64_t>(1.1 * hostileExtent));
        // Small changes are not followed: growing needs a fifth more, shrinking a quarter less.
        if (target > range && target < range + static_cast<int64_t>(0.2 * range)) target = range;
        if (target < range && target > range - static_cast<int64_t>(0.25 * range)) target = range;
    }
    return static_cast<int32_t>(std::clamp<int64_t>(target, INS_SMALLEST_RADAR_RANGE, INS_RADAR_FAR));
}

void INS_BuildRadar(Cockpit* cockpit, SectorObject* ship) {
    const int32_t texture = INS_RADAR_TEXTURE;
    const int32_t w = B3D_TexGetWidth(texture) - 1, h = B3D_TexGetHeight(texture) - 1;
    CockpitHud* hud = INS_Hud(cockpit);
    if (w < 0 || !hud || !ship) return;
    B3D_TexRectFill(texture, 0, 0, w + 1, h + 1, 0);
    if (cockpit->radarRange <= 0) {
        Qel_DPrintf(0, "INS_BuildRadar: range==0\n");
        return;
    }
    const RadarFrame f{w / 2, h / 2, cockpit->radarRange};
    Rings(texture, f);

    struct Shown {
        SectorObject* object;
        RadarPoint at;
        bool hostile;
    };
    std::vector<Shown> shown;
    std::vector<int32_t> kept;
    int32_t hostileExtent = 0, hostileCount = 0;
    const bool highlight = HighlightStep(cockpit, hud) && cockpit->trackedObject;
    hud->highlighted = highlight ? 1 : 0;
    for (const ScannerEntry& e : hud->scanner) {
        if (e.object == ship || !Valid(e)) continue;
        SectorObject* o = e.object;
        QelVector rel = Relative(cockpit, ship, o);
        double distance = std::min(e.distance, double{INS_RADAR_FAR});
        if (distance < 0) {
            Qel_DPrintf(0, "Object %s as negative distance: %d\n", o->name ? o->name : "",
                        static_cast<int32_t>(distance));
            distance = INS_RADAR_FAR;
        }
        kept.insert(std::upper_bound(kept.begin(), kept.end(), static_cast<int32_t>(distance)),
                    static_cast<int32_t>(distance));
        if (kept.size() > kKept) kept.pop_back();
        double x = rel.x, y = rel.y, z = rel.z;
        if (!Place(f, o, &x, &y, &z)) continue;
        const bool hostile = INS_RadarHostile(ship, o);
        if (hostile) {
            ++hostileCount;
            hostileExtent = std::max(hostileExtent, static_cast<int32_t>(std::min(distance, double{INS_RADAR_FAR})));
        }
        shown.push_back({o, Project(f, x, y, z), hostile});
    }
    for (const Shown& s : shown) {
        const DockData* dock = s.object->mainType == SA_MT_FACTORY ? O_DockData(s.object) : nullptr;
        if (dock && dock->connectionParent) {
            for (const Shown& p : shown)
                if (p.object == dock->connectionParent)
                    B3D_TexLine(texture, s.at.sx, s.at.sy, p.at.sx, p.at.sy, kPartnerColour);
        }
        ID_DrawObjectSymbolFlags(s.object, texture, s.at.sx, s.at.y2, s.at.sy, s.hostile ? 2 : 0,
                                 highlight && s.object == cockpit->trackedObject, true);
    }

    if (!cockpit->radarMode) return;
    hud->targetRange = INS_RadarTargetRange(cockpit->radarRange, kept.data(), static_cast<int32_t>(kept.size()),
                                            hostileExtent, hostileCount);
    const int64_t range = cockpit->radarRange;
    const int64_t frame = g_SystemState ? std::max(g_SystemState->gameFrameDelta, 0) : 0;
    const int64_t step = std::max<int64_t>(range * frame / 2000, 1);
    int64_t next = range;
    if (hud->targetRange > range) next = std::min<int64_t>(range + step, hud->targetRange);
    else if (hud->targetRange < range) next = std::max<int64_t>(range - step, hud->targetRange);
    cockpit->radarRange = static_cast<int32_t>(std::max<int64_t>(next, INS_SMALLEST_RADAR_RANGE));
}

// ---------------------------------------------------------------- target panel

void INS_FormatDistance(char* out, size_t size, int32_t d, int32_t unitDisplay) {
    if (unitDisplay == 0) {
        const int32_t m = d / 500;
        const char* km = SB_GetText(kTextPage, kKilometreText);
        if (m < 1000) std::snprintf(out, size, "%d %s", m, SB_GetText(kTextPage, kMetreText));
        else if (m < 10000) std::snprintf(out, size, "%d.%02d%s", m / 1000, (m % 1000) / 10, km);
        else if (m < 100000) std::snprintf(out, size, "%d.%d%s", m / 1000, (m % 1000) / 100, km);
        else std::snprintf(out, size, "%d%s", m / 1000, km);
        return;
    }
    if (d <= 1000) std::snprintf(out, size, "%d", d);
    else if (d <= 10000) std::snprintf(out, size, "%1.3f K", d / 1000.0);
    else if (d < 100000) std::snprintf(out, size, "%2.2f K", d / 1000.0);
    else if (d < 1000000) std::snprintf(out, size, "%3.1f K", d / 1000.0);
    else if (d < 10000000) std::snprintf(out, size, "%1.3f M", d / 1000000.0);
    else if (d < 100000000) std::snprintf(out, size, "%3.1f M", d / 1000000.0);
    else std::snprintf(out, size, "%d M", d / 1000000);
}

void INS_DrawTargetPanel(Cockpit* cockpit, SectorObject* ship) {
    const int32_t texture = INS_TARGET_TEXTURE;
    CockpitHud* hud = INS_Hud(cockpit);
    if (B3D_TexGetWidth(texture) <= 0 || !hud || !ship) return;
    const auto clearRow = [&](int32_t row) {
        B3D_TexRectFill(texture, 0, row * kRowHeight, kPanelSize, kRowHeight, 0);
    };
    SectorObject* target = cockpit->trackedObject;
    if (!target || !target->instance) {
        clearRow(0);
        clearRow(2);
        return;
    }
    QelVector from = ship->instance ? ship->instance->pos : QelVector{};
    if (cockpit->viewMode == 1) INS_GetViewPosition(cockpit, &from);
    const int32_t d = INS_VecDistance(&from, &target->instance->pos);
    const bool hostile = INS_RadarHostile(ship, target);

    int32_t alignment = 0, reach = 0;
    const bool inRange =
        hostile && cockpit->trackingMode == 3 && O_IsTargetInFiringRangeOfTurret(ship, target, 0, &alignment, &reach);
    if (inRange != (hud->inLaserRange != 0)) {
        hud->inLaserRange = inRange;
        const uint32_t id = cockpit->id, shipId = ship->id, targetId = target->id;
        INS_RunStoryInt(INS_STORY_OBJECT, inRange ? "NotifyIntoLaserRange" : "NotifyOutofLaserRange", 0);
        // The story may have freed the cockpit, the ship or the target.
        if (INS_TableGet(g_CockpitSystem, id) != cockpit || cockpit->hud != hud || SA_LookupObject(shipId) != ship ||
            SA_LookupObject(targetId) != target || cockpit->trackedObject != target)
            return;
    }

    const int32_t font = INS_HudFont();
    if (font < 0) return;
    char text[64];
    const auto row = [&](int32_t r, uint32_t colour) {
        clearRow(r);
        B3D_TexTextBlockCentered(texture, text, font, 0, r * kRowHeight, kPanelSize, colour, 0);
    };
    INS_FormatDistance(text, sizeof text, d, g_CockpitSystem->unitDisplay);
    row(2, hostile ? kHostileColour : kPlainColour);
    if (target->mainType == SA_MT_SHIP && !(target->flags2 & 16)) {
        std::snprintf(text, sizeof text, "%d", target->speed / 500);
        row(0, kPlainColour);
    } else {
        clearRow(0);
    }
    std::snprintf(text, sizeof text, "%d", ship->speed / 500);
    row(1, ship->speed > ship->desiredSpeed ? kFastColour : kPlainColour);
    // A landing ship is shown how far it still is from the carrier it lands on.
    const ShipData* order = O_ShipData(ship);
    const SectorObject* carrier = order && order->CourseType == VER_LAND ? order->OrderTarget : nullptr;
    if (carrier && carrier->instance && !(carrier->flags & SA_FLAG_KILLED)) {
        std::snprintf(text, sizeof text, "%d", INS_VecDistance(&from, &carrier->instance->pos) / 500);
        row(3, kLandingColour);
    } else {
        clearRow(3);
    }
}

void INS_RadarStep(Cockpit* cockpit) { INS_BuildRadar(cockpit, cockpit->cockpitRefObject); }
void INS_TargetPanelStep(Cockpit* cockpit) { INS_DrawTargetPanel(cockpit, cockpit->cockpitRefObject); }
