#include "cockpit/tracking.h"

#include "base/general.h"
#include "base/strings.h"
#include "cockpit/scenes.h"
#include "script/tasks.h"
#include "space/behaviour.h"
#include "space/objects.h"
#include "space/queries.h"

namespace {

constexpr int32_t kStoryObject = 2100;

int32_t Now() { return g_SystemState ? g_SystemState->gameClock : 0; }

void Play() {
    if (g_SAPlaySound) g_SAPlaySound(0, 0, INS_TRACKING_SOUND, -1);
}

// Turns a status flag on or off, with the sound when it changes.
void Indicate(uint32_t flag, bool on) {
    CockpitSystem* system = g_CockpitSystem;
    if (!system || ((system->statusFlags & flag) != 0) == on) return;
    Play();
    if (on) system->statusFlags |= flag;
    else system->statusFlags &= ~flag;
}

bool Accepts(SectorObject* ship, SectorObject* object, int32_t mode) {
    if (mode == 1) return SA_IsEnemy(ship, object) != 0;
    if (mode == 2) return object->mainType == SA_MT_MISSILE;
    return true;
}

}  // namespace

namespace {

// Every change of the tracking drops its text and marks the change.
void Changed(Cockpit* c) {
    Qel_StrFree(c->trackingText);
    c->trackingText = nullptr;
    c->trackingChanged = 1;
}

}  // namespace

void INS_TrackFound(Cockpit* c, SectorObject* object) {
    Changed(c);
    c->trackedObject = object;
    c->trackingStart = Now();
}

void INS_SetTracking(Cockpit* c, int32_t mode, SectorObject* object) {
    Changed(c);
    const int16_t was = c->trackingMode;
    switch (mode) {
        case INS_TRACK_NONE:
            Indicate(INS_STATUS_TRACKING, false);
            Indicate(INS_STATUS_LOCK, false);
            c->trackedObject = nullptr;
            c->flagWord = 0;
            c->trackingMode = INS_TRACK_NONE;
            break;
        case INS_TRACK_SEARCH:
        case INS_TRACK_ENEMIES:
            if (was != mode) Play();
            Indicate(INS_STATUS_TRACKING, false);
            Indicate(INS_STATUS_LOCK, true);
            c->trackedObject = nullptr;
            c->flagWord = 0;
            c->trackingMode = static_cast<int16_t>(mode);
            c->trackingStart = Now();
            break;
        case INS_TRACK_GIVEN:
            if (!object) break;
            Play();
            if (g_CockpitSystem) g_CockpitSystem->statusFlags |= INS_STATUS_TRACKING;  // no second sound
            Indicate(INS_STATUS_LOCK, true);
            c->trackingMode = INS_TRACK_GIVEN;
            c->trackingStart = Now();
            c->trackedObject = object;
            c->flagWord = 0;
            break;
        case INS_TRACK_LOCKED: {
            if (!object) break;
            // A lock made by the story while it hears of a lock is not told
            // again: the two would start each other without end.
            static bool telling = false;
            if (SectorObject* ship = c->cockpitRefObject; ship && !telling) {
                // The story may free the cockpit or the object: both are
                // found again by id after it.
                const uint32_t cockpitId = c->id, objectId = object->id;
                telling = true;
                SE_Run(0, 0, kStoryObject, "NotifyTargetLock", SE_RETURN_INT, 2, static_cast<int32_t>(objectId),
                       static_cast<int32_t>(ship->id));
                telling = false;
                if (INS_TableGet(g_CockpitSystem, cockpitId) != c) return;
                object = SA_LookupObject(objectId);
                if (!object || (object->flags & SA_FLAG_KILLED)) return;
            }
            if (was != INS_TRACK_GIVEN) {
                c->flagWord = 0;
                c->trackingStart = Now();
            }
            c->trackingMode = INS_TRACK_LOCKED;
            c->trackedObject = object;
            break;
        }
        default: break;
    }
}

void INS_TrackPrevNext(Cockpit* c, int32_t direction, int32_t mode) {
    const CockpitOverlayScene* overlay = c->overlay;
    SectorObject* ship = c->cockpitRefObject;
    if (!overlay || !ship || overlay->entryCount <= 0) return;
    const OverlayEntry* entries = overlay->entries;
    const int32_t n = overlay->entryCount;
    // The entry's object when it is shown and the mode takes it.
    const auto accepted = [&](int32_t i) -> SectorObject* {
        if (!entries[i].shown) return nullptr;
        // An object killed since the overlay was filled is passed over.
        SectorObject* o = SA_LookupObject(entries[i].object);
        return o && !(o->flags & SA_FLAG_KILLED) && Accepts(ship, o, mode) ? o : nullptr;
    };
    SectorObject* tracked = c->trackedObject;
    int32_t at = -1;
    for (int32_t i = 0; tracked && i < n && at < 0; ++i)
        if (entries[i].object == tracked->id) at = i;
    if (at >= 0) {
        const int32_t d = direction < 1 ? -1 : 1;
        for (int32_t j = (at + d + n) % n; j != at; j = (j + d + n) % n) {
            if (SectorObject* o = accepted(j)) {
                if (o != tracked) INS_SetTracking(c, INS_TRACK_LOCKED, o);
                return;
            }
        }
    }
    SectorObject* nearest = nullptr;
    int32_t best = 0;
    for (int32_t i = 0; i < n; ++i) {
        SectorObject* o = accepted(i);
        if (o && (!nearest || entries[i].distance < best)) {
            nearest = o;
            best = entries[i].distance;
        }
    }
    if (nearest && nearest != tracked) INS_SetTracking(c, INS_TRACK_LOCKED, nearest);
}

void INS_TrackPrevNextCall(Cockpit* c, int32_t direction, int32_t mode) {
    if (c->monitorNumber != 0 || !c->overlay || !c->cockpitRefObject || !(c->viewMode & 3)) return;
    INS_TrackPrevNext(c, direction, mode);
}

int32_t INS_ObjectAtOverlay(Cockpit* c, int32_t x, int32_t y) {
    const CockpitOverlayScene* o = c->overlay;
    return o ? IC_ObjectAtOverlayPos(c, o->entries, o->entryCount, x, y) : 0;
}

int32_t INS_MenuPosAtOverlay(Cockpit* c, int32_t x, int32_t y, int32_t out[5]) {
    const CockpitOverlayScene* o = c->overlay;
    return o ? IC_MenuPosAtOverlayPos(c, o->entries, o->entryCount, x, y, out) : 0;
}
