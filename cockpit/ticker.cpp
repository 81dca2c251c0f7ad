#include "cockpit/ticker.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "base/general.h"
#include "base/log.h"
#include "cockpit/syscall.h"
#include "scene/names.h"
#include "scene/records.h"
#include "scene/texdraw.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "space/syscall.h"
#include "space/kill.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/records.h"
#include "system/clock.h"

namespace {

constexpr uint32_t kBandColour = 0x121B20;
constexpr uint32_t kTextColour = 0xFFFFFF;
constexpr uint32_t kSkippedFlags = 0x11;
constexpr uint32_t kSkippedFlags2 = 1u << 29;
constexpr uint32_t kKnownFlag = 8;
constexpr uint32_t kListedFlag2 = 16;
constexpr uint32_t kNearOnlyFlag2 = 0x4000;
constexpr double kNearOnlyReach = 250000;
constexpr int16_t kGroupAlwaysListed = 10;
constexpr int32_t kGlobalShadowLimit = 12;  // "SG_SCANNER_RANGE_SO_NEBULA"
constexpr int16_t kAlertFreeSubtype = 71;

int32_t Now() { return g_SystemState ? g_SystemState->gameClock : 0; }

int32_t FontStyle() { return 0; }

int32_t TextWidth(const char* text) {
    const int32_t font = INS_HudFont();
    return font >= 0 && text ? B3D_TexTextWidth(font, FontStyle(), text) : 0;
}

void DrawText(int32_t x, int32_t y, int32_t width, const char* text) {
    const int32_t font = INS_HudFont();
    if (font >= 0 && width > 0) B3D_TexText(INS_TEXT_TEXTURE, text, font, x, y, width, kTextColour, FontStyle());
}

// The ticker's rows of the text texture, which it shares with the status
// panel: a band from row x0 - 1 (x0 = 5/8 of the width), an eighth of the
// width and one row high, which the panel's pieces leave free (a texture
// too low for it gives the band its lowest rows). The text scrolls in the
// band's left x0 columns; the static text stands to their right.
struct Band {
    int32_t w, x0, top, height;
};

Band BandOf(int32_t w, int32_t h) {
    const int32_t x0 = w * 5 / 8;
    const int32_t height = std::min(w / 8 + 1, h);
    return Band{w, x0, std::clamp(x0 - 1, 0, h - height), height};
}

// The top of a text line whose foot sits two pixels above the band's bottom.
int32_t LineTop(const Band& b) {
    const int32_t font = INS_HudFont();
    const int32_t line = font >= 0 ? B3D_TexTextHeight(font, FontStyle()) : 0;
    return b.top + std::max(b.height - 2 - line, 0);
}

void ClearBand(const Band& b) { B3D_TexRectFill(INS_TEXT_TEXTURE, 0, b.top, b.x0, b.height, kBandColour); }

// Up to the right edge, where a longer static text before may have reached.
void ClearStaticArea(const Band& b) {
    B3D_TexRectFill(INS_TEXT_TEXTURE, b.x0 - 1, b.top, b.w - b.x0 + 1, b.height, kBandColour);
}

void FinishHead(CockpitHud* hud) {
    TextEntry done = std::move(hud->texts.front());
    hud->texts.pop_front();
    INS_AnswerCaller(done.module, done.handle, 0);
}

QelVector PositionOf(const SectorObject* o) { return o && o->instance ? o->instance->pos : QelVector{}; }

double Distance(const QelVector& a, const QelVector& b) {
    const double dx = static_cast<double>(a.x) - b.x, dy = static_cast<double>(a.y) - b.y,
                 dz = static_cast<double>(a.z) - b.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

struct Shadow {
    QelVector centre;
    double radius;
};

bool InsideAny(const std::vector<Shadow>& shadows, const QelVector& p) {
    return std::any_of(shadows.begin(), shadows.end(),
                       [&](const Shadow& s) { return Distance(s.centre, p) < s.radius; });
}

// The sector the ship's radar looks into: its container, or a dock's or
// factory's own container.
SectorObject* ScannedSector(const SectorObject* ship) {
    SectorObject* c = ship ? ship->container : nullptr;
    if (c && (c->mainType == SA_MT_DOCK || c->mainType == SA_MT_FACTORY)) c = c->container;
    return c && c->mainType == SA_MT_SECTOR ? c : nullptr;
}

bool Alive(const SectorObject* o, uint32_t id) { return o && SA_LookupObject(id) == o && !(o->flags & SA_FLAG_KILLED); }

void RunAlertStory(const char* name, int32_t value) { SE_Run(0, 0, INS_STORY_OBJECT, name, SE_RETURN_INT, 1, value); }

void NoSound(int32_t) {}

}  // namespace

INSAlertSoundLink g_INSAlertSounds = {NoSound, NoSound};

void INS_SoundToggle(int32_t bit, INSSoundSwitches* record, int32_t on, int32_t mode) {
    if (!record || bit < 0 || bit > 31) return;
    const uint32_t mask = 1u << bit;
    if (((record->flags & mask) != 0) == (on != 0)) return;
    record->flags ^= mask;
    if ((on && mode == 1) || (!on && mode == 2)) g_INSAlertSounds.play(record->sound);
}

void INS_AnswerCaller(int32_t module, uint32_t handle, int32_t value) {
    if (module) SE_CallerReturnInt(module, value, handle);
}

// ---------------------------------------------------------------- the record

CockpitHud* INS_Hud(Cockpit* cockpit) {
    if (!cockpit->hud) cockpit->hud = new (std::nothrow) CockpitHud{};
    return cockpit->hud;
}

void INS_FreeHud(Cockpit* cockpit) {
    CockpitHud* hud = cockpit->hud;
    if (!hud) return;
    // Taken off the cockpit first: an answered task that runs at once finds
    // no queue to add to.
    cockpit->hud = nullptr;
    while (!hud->texts.empty()) FinishHead(hud);
    delete hud;
}

void INS_HudForget(Cockpit* cockpit, const SectorObject* object) {
    CockpitHud* hud = cockpit->hud;
    if (!hud) return;
    std::erase_if(hud->scanner, [&](const ScannerEntry& e) { return e.object == object; });
}

int32_t INS_HudFont() {
    CockpitSystem* system = g_CockpitSystem;
    if (!system) return -1;
    // A font that cannot be opened is tried once per system, not every frame.
    if (system->hudFont < 0 && !system->fontTried) {
        system->fontTried = 1;
        system->hudFont = B3D_OpenFontNumbered("Tahoma", 13, 16, 33, 1);
    }
    return system->hudFont;
}

// ---------------------------------------------------------------- the ticker

void INS_DisplayText(const char* text, Cockpit* cockpit, int32_t module, uint32_t handle, int32_t extra) {
    if (B3D_TexGetWidth(INS_TEXT_TEXTURE) <= 0) {
        Qel_DPrintf(0, "INS_DisplayText(%s, %d) No textebm!\n", text ? text : "", static_cast<int32_t>(cockpit->id));
        INS_AnswerCaller(module, handle, 0);
        return;
    }
    if (!text) {
        INS_ClearText(cockpit);
        INS_AnswerCaller(module, handle, 0);
        return;
    }
    Qel_DPrintf(4, "INS_DisplayText(%s)\n", text);
    CockpitHud* hud = INS_Hud(cockpit);
    if (!hud) {
        INS_AnswerCaller(module, handle, 0);
        return;
    }
    try {
        hud->texts.push_back(TextEntry{text, TextWidth(text), module, handle, extra});
    } catch (const std::bad_alloc&) {
        INS_AnswerCaller(module, handle, 0);
    }
}

void INS_ClearText(Cockpit* cockpit) {
    CockpitHud* hud = cockpit->hud;
    if (!hud) return;
    // Each answer may run story code that queues again: only what was queued
    // when the clear began is answered here.
    std::deque<TextEntry> queued;
    queued.swap(hud->texts);
    hud->showing = 0;
    for (const TextEntry& e : queued) INS_AnswerCaller(e.module, e.handle, 0);
    const int32_t w = B3D_TexGetWidth(INS_TEXT_TEXTURE), h = B3D_TexGetHeight(INS_TEXT_TEXTURE);
    if (w > 0) ClearBand(BandOf(w, h));
}

int32_t INS_DisplayTextCall(Cockpit* cockpit, const SA_Call& call, const char* text, int32_t value, bool longForm,
                            int32_t fourth) {
    INS_DisplayText(text, cockpit, call.callerModule, call.task ? call.task->id : 0, longForm ? fourth : value);
    return 1;
}

void INS_ClearTextCall(Cockpit* cockpit, int32_t) { INS_ClearText(cockpit); }

void INS_SetStaticText(Cockpit* cockpit, const char* text) {
    CockpitHud* hud = INS_Hud(cockpit);
    if (!hud) return;
    hud->staticText = text ? text : "";
    hud->staticPending = 1;
}

void INS_CheckText(Cockpit* cockpit) {
    CockpitHud* hud = cockpit->hud;
    const int32_t w = B3D_TexGetWidth(INS_TEXT_TEXTURE), h = B3D_TexGetHeight(INS_TEXT_TEXTURE);
    if (!hud || w <= 0) return;
    const Band band = BandOf(w, h);
    const int32_t x0 = band.x0;
    if (!hud->showing && !hud->texts.empty()) {
        hud->showing = 1;
        hud->width = hud->texts.front().width;
        hud->startTime = Now();
        Qel_DPrintf(4, "INS_CheckText() new text %s\n", hud->texts.front().text.c_str());
    }
    if (!hud->showing) {
        if (hud->staticPending) {
            ClearStaticArea(band);
            DrawText(x0 + 4, LineTop(band), w - x0 - 4, hud->staticText.c_str());
            hud->staticPending = 0;
        }
        return;
    }
    ClearBand(band);
    int64_t scrolled = int64_t{S_ClockDiff(Now(), hud->startTime)} * INS_TICKER_SPEED / 1000;
    if (scrolled > int64_t{hud->width} + x0 - 1) {
        const uint32_t id = cockpit->id;
        FinishHead(hud);
        // The answer may have run story code that freed the cockpit.
        if (INS_TableGet(g_CockpitSystem, id) != cockpit || cockpit->hud != hud) return;
        if (!hud->texts.empty()) {
            hud->width = hud->texts.front().width;
            hud->startTime = Now();
            scrolled = 0;
            Qel_DPrintf(4, "INS_CheckText() change text %s\n", hud->texts.front().text.c_str());
        } else {
            hud->showing = 0;
            Qel_DPrintf(4, "INS_CheckText() last text\n");
            return;
        }
    }
    if (hud->texts.empty()) return;
    const std::string& text = hud->texts.front().text;
    int64_t x = x0 - 1 - scrolled;
    size_t first = 0;
    // Past the left edge the text loses its leading characters one by one.
    while (x < 0 && first < text.size()) {
        const char one[2] = {text[first], 0};
        x += std::max(TextWidth(one), 1);
        ++first;
    }
    if (first < text.size())
        DrawText(static_cast<int32_t>(x), LineTop(band), x0 - static_cast<int32_t>(x), text.c_str() + first);
}

// ---------------------------------------------------------------- the scanner list

void INS_BuildScannerList(Cockpit* cockpit) {
    CockpitHud* hud = INS_Hud(cockpit);
    if (!hud) return;
    hud->scanner.clear();
    hud->scannerRange = 0;
    if (cockpit->monitorNumber != 0 && !(g_CockpitSystem->radarOn && cockpit->radarBodyOn)) return;
    SectorObject* ship = cockpit->cockpitRefObject;
    SectorObject* sector = ScannedSector(ship);
    if (!sector) return;
    const uint32_t cockpitId = cockpit->id, shipId = ship->id, sectorId = sector->id;
    const auto stillHere = [&] {
        return INS_TableGet(g_CockpitSystem, cockpitId) == cockpit && cockpit->hud == hud &&
               cockpit->cockpitRefObject == ship && Alive(ship, shipId) && SA_LookupObject(sectorId) == sector;
    };
    // Freed objects are only queued while the pass is open, so every entry
    // stays valid until the killed ones are dropped below.
    SA_Pass pass;
    if (ship->eventObject) {
        hud->scannerRange = INS_RunStoryInt(static_cast<int32_t>(ship->eventObject), "GetScannerRange", 0);
        if (!stillHere()) return;
    }
    const double range = hud->scannerRange;
    QelVector view;
    INS_GetViewPosition(cockpit, &view);

    std::vector<Shadow> shadows;
    bool viewInside = false;
    for (SectorObject* o = SA_ListFirst(O_GetChildList(sector)); o; o = SA_ListNext(o)) {
        if (o->mainType != SA_MT_NEBULA || shadows.size() >= INS_MAX_SHADOWS || !o->typeData) continue;
        const auto* nebula = static_cast<const NebulaData*>(o->typeData);
        if (nebula->words[0] < 1 || nebula->words[15] < 1) continue;
        const double radius = nebula->words[0];
        const double d = Distance(view, PositionOf(o));
        if (d >= range + radius) continue;
        shadows.push_back({PositionOf(o), radius});
        viewInside = viewInside || d < radius;
    }
    const double limit = SA_GetGlobalParameter(kGlobalShadowLimit);
    const auto shadowed = [&](const SectorObject* o, double d) {
        return (viewInside && d > limit) || InsideAny(shadows, PositionOf(o));
    };

    // Story code may run for an object ("SetKnown"): the walk goes over the
    // IDs taken before it and looks each one up when its turn comes.
    for (uint32_t id : SA_ChildIds(sector)) {
        SectorObject* o = SA_PassChild(id, sector);
        if (!o || o == ship || (o->flags & kSkippedFlags) || (o->flags2 & kSkippedFlags2)) continue;
        const double d = Distance(view, PositionOf(o));
        if (o == cockpit->trackedObject) {
            if (shadowed(o, d)) cockpit->trackedObject = nullptr;
            else hud->scanner.push_back({o, id, d});
            continue;
        }
        bool listed = true;
        if (o->mainType == SA_MT_ASTEROID) listed = false;
        else if (o->group == kGroupAlwaysListed) listed = true;
        else if ((o->flags2 & kListedFlag2) && !(o->flags & kKnownFlag)) listed = true;
        else listed = !(d > range || ((o->flags2 & kNearOnlyFlag2) && d > kNearOnlyReach) || shadowed(o, d));
        if (!listed) continue;
        if (o->flags & kKnownFlag) {
            if (o->eventObject) {
                INS_RunStoryInt(static_cast<int32_t>(o->eventObject), "SetKnown", 1, 1);
                if (!stillHere()) return;
                if (SA_PassChild(id, sector) != o) continue;
            } else {
                o->flags &= ~kKnownFlag;
            }
        }
        hud->scanner.push_back({o, id, d});
    }
    std::erase_if(hud->scanner, [](const ScannerEntry& e) { return (e.object->flags & SA_FLAG_KILLED) != 0; });
    std::stable_sort(hud->scanner.begin(), hud->scanner.end(),
                     [](const ScannerEntry& a, const ScannerEntry& b) { return a.distance < b.distance; });
}

// ---------------------------------------------------------------- alerts

void INS_NotifyMissileAlert(SectorObject* missile) {
    CockpitSystem* system = g_CockpitSystem;
    const SectorObject* player = g_SpaceRoot ? g_SpaceRoot->game.playerObject : nullptr;
    if (!system || !player || !missile || missile->mainType != SA_MT_MISSILE) return;
    const MissileData* data = O_MissileData(missile);
    if (!data || data->target != player) return;
    system->statusFlags |= 4;
    SE_Run(0, 0, INS_STORY_OBJECT, "NotifyMissileAlert", SE_RETURN_INT, 0);
}

void INS_CheckAlert() {
    CockpitSystem* system = g_CockpitSystem;
    if (!system) return;
    int32_t& current = system->stateWords[0];
    int32_t& pending = system->stateWords[1];
    int32_t level = 0;
    SectorObject* player = g_SpaceRoot ? g_SpaceRoot->game.playerObject : nullptr;
    if (player && player->container && player->container->mainType == SA_MT_SECTOR) {
        const QelVector at = PositionOf(player);
        for (SectorObject* o = SA_ListFirst(O_GetChildList(player->container)); o; o = SA_ListNext(o)) {
            if (o == player || (o->mainType == SA_MT_SHIP && o->subType == kAlertFreeSubtype)) continue;
            if (!SA_IsEnemy(player, o)) continue;
            const MissileData* m = O_MissileData(o);
            if (o->mainType == SA_MT_MISSILE && m && m->target == player) {
                level = 2;
                break;
            }
            const QelVector p = PositionOf(o);
            const int32_t axis = INS_MaxAbsDifference(&at, &p);
            if (axis < (current ? INS_ALERT_HOLD : INS_ALERT_RAISE)) level = 1;
        }
    }
    if (level > pending) pending = level;
    if (pending != current) {
        const int32_t was = current;
        current = pending;
        switch (pending) {
            case 2:
                if (was == 1) g_INSAlertSounds.stop(INS_ALERT_NEAR_SOUND);
                else RunAlertStory("NotifyAlert", 1);
                g_INSAlertSounds.play(INS_ALERT_MISSILE_SOUND);
                break;
            case 1:
                if (was == 2) g_INSAlertSounds.stop(INS_ALERT_MISSILE_SOUND);
                else RunAlertStory("NotifyAlert", 1);
                g_INSAlertSounds.play(INS_ALERT_NEAR_SOUND);
                break;
            default:
                if (was == 1) g_INSAlertSounds.stop(INS_ALERT_NEAR_SOUND);
                if (was == 2) g_INSAlertSounds.stop(INS_ALERT_MISSILE_SOUND);
                RunAlertStory("NotifyAlert", 0);
                break;
        }
    }
    if (g_CockpitSystem == system) pending = 0;
}
