#include "cockpit/update.h"

#include <algorithm>
#include <cstdlib>

#include "base/general.h"
#include "base/random.h"
#include "base/standin_calls.h"
#include "cockpit/dust.h"
#include "cockpit/hud.h"
#include "cockpit/hudsteps.h"
#include "cockpit/overlay.h"
#include "cockpit/panels.h"
#include "cockpit/iconmenus.h"
#include "cockpit/markers.h"
#include "cockpit/scenes.h"
#include "cockpit/viewcalls.h"
#include "cockpit/statuspanel.h"
#include "cockpit/syscall.h"
#include "cockpit/ticker.h"
#include "cockpit/tracking.h"
#include "scene/records.h"
#include "scene/smallops.h"
#include "space/behaviour.h"
#include "space/flight.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/typesdb.h"
#include "system/clock.h"

namespace {

constexpr int32_t kHalfTurn = 32768;
constexpr int32_t kQuarterTurn = 16384;
constexpr int32_t kShakeFade = 1000;  // a shake with this much time left shakes fully
constexpr int32_t kSecondShakeLevel = 50;
constexpr int32_t kZoomIn = 1000;       // ms to zoom in
constexpr int32_t kZoomHold = 2000;     // ms the zoom stays when the story stops asking
constexpr int32_t kZoomOut = 3000;      // ms by which it is back at rest
constexpr int32_t kDecayTurn = 3000;    // ms in which the target view angles return a whole turn
constexpr int32_t kTrackLock = 1000;    // ms after which a tracked object is held
constexpr int32_t kStoryObject = 2100;  // the story object of the HUD's questions
constexpr int32_t kMotionSpan = 10000;  // ms of camera motion measured
constexpr int32_t kMotionReach = 11100000;
constexpr uint32_t kZoomRequested = 1, kZoomedIn = 2, kZoomSoundPlayed = 4;
constexpr uint32_t kFlagViewAsIs = 4;
constexpr uint32_t kOwnShipFlag = 8;

int32_t Now() { return g_SystemState ? g_SystemState->gameClock : 0; }
int32_t FrameDelta() { return g_SystemState ? std::max(g_SystemState->gameFrameDelta, 0) : 0; }
// Folded game time since a mark.
int32_t Since(int32_t mark) { return S_ClockDiff(Now(), mark); }

int32_t Fold(int32_t angle) {
    int64_t a = angle % 65536;
    if (a > kHalfTurn) a -= 65536;
    if (a < -kHalfTurn) a += 65536;
    return static_cast<int32_t>(a);
}

QelVector Position(const SectorObject* o) { return o && o->instance ? o->instance->pos : QelVector{}; }

// Heading and pitch that look from `from` at `to` within the frame m; false
// when the point lies behind.
bool AimWithin(const QelMatrix* m, const QelVector& from, const QelVector& to, int32_t* a, int32_t* b) {
    const QelVector d = INS_VecSub(to, from);
    QelVector local;
    Qel_MatTransMulVec(m, &d, &local);
    if (local.z < 0 || (!local.x && !local.y && !local.z)) return false;
    Qel_AnglesFromVector(&local, a, b);
    return true;
}

// A view at the point it looks at keeps its angles.
void Aim(Cockpit* c, const QelVector& from, const QelVector& to) {
    const QelVector d = INS_VecSub(to, from);
    if (!d.x && !d.y && !d.z) return;
    Qel_AnglesFromVector(&d, &c->targetViewAngles[0], &c->targetViewAngles[1]);
    c->targetViewAngles[2] = 0;
}

// ---------------------------------------------------------------- view connect modes

void TrackedView(Cockpit* c) {
    int32_t a = 0, b = 0;
    QelVector from;
    QelMatrix m;
    INS_GetViewPosition(c, &from);
    INS_GetViewMatrix(c, &m);
    const SectorObject* target = c->trackedObject;
    if (!target || !AimWithin(&m, from, Position(target), &a, &b)) a = b = 0;
    c->targetViewAngles[0] = std::clamp(Fold(a), -kQuarterTurn, kQuarterTurn);
    c->targetViewAngles[1] = std::clamp(Fold(b), -kQuarterTurn, kQuarterTurn);
    c->targetViewAngles[2] = 0;
}

void CockpitViewAngles(Cockpit* c) {
    QelMatrix m;
    int32_t a = 0, b = 0, g = 0;
    if (IC_HasCockpitView(c) && g_INSCockpitView(c->cockpitRefObject, c->cockpitNumber, nullptr, &m))
        Qel_AnglesFromMat(&m, &a, &b, &g);
    c->targetViewAngles[0] = std::clamp(Fold(a), -kQuarterTurn, kQuarterTurn);
    c->targetViewAngles[1] = std::clamp(Fold(b), -kQuarterTurn, kQuarterTurn);
    c->targetViewAngles[2] = std::clamp(Fold(g), -kQuarterTurn, kQuarterTurn);
}

void FollowView(Cockpit* c) {
    const SectorObject* ref = c->refObject;
    for (int i = 0; i < 3; ++i) c->targetViewAngles[i] = Fold(ref ? ref->rot[i] : 0);
}

void CircleView(Cockpit* c) {
    const SectorObject* ref = c->refObject;
    const int32_t loop = std::max(c->cinematicLoopTime, 1);
    const int32_t e = Since(c->viewStart);
    const double radius = std::abs(static_cast<double>(c->viewCameraOffset[2]));
    QelVector p{};
    if (!(c->connectFlags & 1)) {
        const double h = (loop / 2.0 - e) * 0.707 / loop;
        const double size = ref ? ref->size : 0;
        p.x = static_cast<int32_t>(std::clamp((h * h * (h * h - 1) + 0.25) * 4 * size, -2e9, 2e9));
        p.z = static_cast<int32_t>(std::clamp(h / 0.707 * radius, -2e9, 2e9));
    } else {
        const auto a = static_cast<uint16_t>(int64_t{65536} * e / loop);
        p.x = static_cast<int32_t>(static_cast<int64_t>(radius) * Qel_FixSin(a) / 65536);
        p.z = static_cast<int32_t>(static_cast<int64_t>(radius) * Qel_FixCos(a) / 65536);
    }
    QelMatrix turn;
    Qel_MatFromAngles(&turn, 0, 0, c->connectFraction);
    QelVector turned;
    Qel_MatMulVec(&turn, &p, &turned);
    c->viewPos[0] = turned.x;
    c->viewPos[1] = turned.y;
    c->viewPos[2] = turned.z;
    Aim(c, turned, QelVector{});
}

void PassView(Cockpit* c) {
    const QelVector from{c->viewPos[0], c->viewPos[1], c->viewPos[2], 0};
    Aim(c, from, Position(c->refObject));
}

int64_t Scaled(int64_t span, int64_t num, int64_t den) { return den ? span * num / den : 0; }

void ScriptedView(Cockpit* c) {
    const uint32_t f = c->flags;
    QelVector view{c->viewPos[0], c->viewPos[1], c->viewPos[2], 0};
    if (f & 0x30) {
        if (f & 0x20) {
            view = QelVector{c->refViewPos[0] + c->viewCameraOffset[0], c->refViewPos[1] + c->viewCameraOffset[1],
                             c->refViewPos[2] + c->viewCameraOffset[2], 0};
        } else if (c->refViewObject) {
            const QelVector p = Position(c->refViewObject);
            view =
                QelVector{p.x + c->viewCameraOffset[0], p.y + c->viewCameraOffset[1], p.z + c->viewCameraOffset[2], 0};
        }
        c->viewPos[0] = view.x;
        c->viewPos[1] = view.y;
        c->viewPos[2] = view.z;
        if (f & 0x40 && c->refObject) {
            QelVector target = Position(c->refObject);
            if (f & 0x80) {
                QelMatrix m;
                Qel_MatFromAngles(&m, c->refObject->rot[0], c->refObject->rot[1], c->refObject->rot[2]);
                const QelVector ahead{0, 0, std::max(c->refObject->size, 1), 0};
                QelVector turned;
                Qel_MatMulVec(&m, &ahead, &turned);
                target = QelVector{target.x + turned.x, target.y + turned.y, target.z + turned.z, 0};
            }
            Aim(c, view, target);
        } else if (f & 0x42) {
            Aim(c, view, QelVector{c->refPos[0], c->refPos[1], c->refPos[2], 0});
        }
        return;
    }
    if (!c->posDuration || !c->viewDuration) return;
    const int64_t p = Since(c->posStart);
    const int64_t v = std::min<int64_t>(Since(c->viewStart), c->viewDuration);
    int32_t at[3];
    for (int i = 0; i < 3; ++i)
        at[i] =
            static_cast<int32_t>(c->viewCameraOffset[i] +
                                 Scaled(int64_t{c->viewCameraOffset2[i]} - c->viewCameraOffset[i], p, c->posDuration));
    view = QelVector{at[0], at[1], at[2], 0};
    if (c->posAngles[0][0] || c->posAngles[0][1] || c->posAngles[0][2]) {
        int32_t a[3];
        for (int i = 0; i < 3; ++i)
            a[i] = static_cast<int32_t>(c->posAngles[0][i] + Scaled(c->posAngles[1][i], p, c->posDuration));
        QelMatrix m;
        Qel_MatFromAngles(&m, a[0], a[1], a[2]);
        QelVector turned;
        Qel_MatMulVec(&m, &view, &turned);
        view = turned;
    }
    if (const SectorObject* ref = c->refObject; ref && ref->instance) {
        QelVector turned;
        Qel_MatMulVec(&ref->instance->matrix, &view, &turned);
        const QelVector at = ref->instance->pos;
        c->refPos[0] = turned.x;
        c->refPos[1] = turned.y;
        c->refPos[2] = turned.z;
        view = QelVector{at.x + turned.x, at.y + turned.y, at.z + turned.z, 0};
    }
    c->viewPos[0] = view.x;
    c->viewPos[1] = view.y;
    c->viewPos[2] = view.z;
    if (c->refViewObject) {
        const QelVector r = Position(c->refViewObject);
        c->refViewPos[0] = r.x;
        c->refViewPos[1] = r.y;
        c->refViewPos[2] = r.z;
    }
    for (int i = 0; i < 3; ++i)
        c->viewPointPos[i] =
            static_cast<int32_t>(c->refViewPos[i] + c->viewPointOffset[i] +
                                 Scaled(int64_t{c->viewPointOffset2[i]} - c->viewPointOffset[i], v, c->viewDuration));
    Aim(c, view, QelVector{c->viewPointPos[0], c->viewPointPos[1], c->viewPointPos[2], 0});
    for (int i = 0; i < 3; ++i)
        c->targetViewAngles[i] += static_cast<int32_t>(
            c->viewAngles12[0][i] - Scaled(int64_t{c->viewAngles12[0][i]} - c->viewAngles12[1][i], v, c->viewDuration));
}

void ViewForMode(Cockpit* c) {
    const int32_t mode = c->viewConnectMode;
    const int32_t e = Since(c->viewStart);
    switch (mode) {
        case 1: TrackedView(c); break;
        case 2: CockpitViewAngles(c); break;
        case 3: FollowView(c); break;
        case 4:
            if (e >= c->cinematicLoopTime) g_INSHud.viewConnect(c, mode);
            CircleView(c);
            break;
        case 5:
            if (e > c->cinematicLoopTime) g_INSHud.viewConnect(c, mode);
            PassView(c);
            break;
        case 6: ScriptedView(c); break;
        case 8:
        case 9: PassView(c); break;
        case 0: break;
        default: c->viewConnectMode = 0; break;
    }
}

// The current view angles follow the target angles at the view turn rate.
void FollowTargetAngles(Cockpit* c) {
    const int32_t dt = FrameDelta();
    for (int i = 0; i < 3; ++i) {
        if (c->viewLock) {
            c->viewAngles[i] = c->targetViewAngles[i];
            continue;
        }
        // A save may hold any angles: the way between them is taken in 64 bits.
        const int32_t remaining = INS_Clamp32(int64_t{c->targetViewAngles[i]} - c->viewAngles[i]);
        int32_t speed = c->viewAngleSpeeds[i];
        const int32_t step = O_SteerToTarget(remaining, speed, c->viewTurnRate, c->viewTurnRate, dt, &speed);
        c->viewAngles[i] = INS_Clamp32(int64_t{c->viewAngles[i]} + step);
        c->viewAngleSpeeds[i] = speed;
        const int64_t left = int64_t{c->targetViewAngles[i]} - c->viewAngles[i];
        if (left == 0 || (left < 0) != (remaining < 0)) {
            c->viewAngles[i] = c->targetViewAngles[i];
            c->viewAngleSpeeds[i] = 0;
        }
    }
    if (c->noDecay) return;
    const int32_t back = static_cast<int32_t>(int64_t{dt} * 65536 / kDecayTurn);
    for (int i = 0; i < 2; ++i) {
        int32_t& t = c->targetViewAngles[i];
        t = t > 0 ? std::max(t - back, 0) : std::min(t + back, 0);
    }
}

// ---------------------------------------------------------------- shake

bool ShipInSector(const SectorObject* ship) {
    return ship && ship->container && ship->container->mainType == SA_MT_SECTOR;
}

void Shake(Cockpit* c, QelMatrix* shake, bool* shaking) {
    const int32_t now = Now();
    int64_t total = 0, level = 0;
    bool cockpitShake = false;
    const struct {
        int32_t* end;
        int32_t level;
        bool cockpit;
    } timers[] = {{&c->hitShakeEnd, c->hitShakeLevel, false},
                  {&c->secondShakeEnd, kSecondShakeLevel, false},
                  {&c->cockpitShakeEnd, c->cockpitShakeLevel, true}};
    for (const auto& t : timers) {
        const int32_t left = S_ClockDiff(*t.end, now);
        if (left > 0) {
            total += left;
            level += t.level;
            cockpitShake = cockpitShake || t.cockpit;
        } else {
            *t.end = now;
        }
    }
    Qel_MatIdentity(shake);
    *shaking =
        total >= 1 && (cockpitShake || (c->cockpitRefObject && c->viewMode == 1 && ShipInSector(c->cockpitRefObject)));
    if (!*shaking) return;
    level = std::min<int64_t>(level, 100);
    int32_t angle[2];
    for (int32_t& a : angle) {
        const int64_t r = Qel_LongRandom(64) - 32;
        const auto full = static_cast<int32_t>(r * level * 16 / 100);
        a = static_cast<int16_t>(
            INS_Interpolate(0, full, static_cast<int32_t>(std::min<int64_t>(total, kShakeFade)), 0, kShakeFade));
    }
    Qel_MatFromAngles(shake, 0, angle[0], angle[1]);
}

// ---------------------------------------------------------------- cameras

void PlaceCockpitCamera(Cockpit* c, const QelMatrix& shake) {
    Camera3D* camera = IC_Camera(c);
    if (!camera) return;
    QelMatrix sway, m;
    Qel_MatFromAngles(&sway, c->sway.jitter[0], c->sway.jitter[1], c->sway.jitter[2]);
    Qel_MatMul(&c->viewMatrix, &sway, &m);
    Qel_MatMul(&m, &shake, &camera->inst.matrix);
    const QelVector offset{c->sway.offset[0], c->sway.offset[1], c->sway.offset[2], 0};
    Qel_MatMulVec(&camera->inst.matrix, &offset, &camera->inst.pos);
}

void PlaceSectorCamera(Cockpit* c, Camera3D* camera, const QelMatrix& shake, bool shaking) {
    const SectorObject* ref = c->refObject;
    const int32_t mode = c->viewConnectMode;
    QelVector pos = Position(ref);
    QelMatrix base;
    if (ref->instance) base = ref->instance->matrix;
    else Qel_MatIdentity(&base);
    if (c->viewMode == 1 && IC_HasCockpitView(c)) {
        INS_GetViewPosition(c, &pos);
        INS_GetViewMatrix(c, &base);
    }
    const QelVector view{c->viewPos[0], c->viewPos[1], c->viewPos[2], 0};
    if (mode == 5 || mode == 6 || (c->flags & kFlagViewAsIs)) {
        pos = view;
    } else if (mode == 3 || mode == 4 || mode == 8 || mode == 9) {
        QelVector turned;
        Qel_MatMulVec(&base, &view, &turned);
        pos = QelVector{pos.x + turned.x, pos.y + turned.y, pos.z + turned.z, 0};
    }
    QelMatrix m;
    if (mode == 3 && (!c->cockpitRefObject || c->cockpitRefObject == ref)) m = c->viewMatrix;
    else Qel_MatMul(&c->viewMatrix, &base, &m);
    if (shaking) Qel_MatMul(&shake, &m, &m);
    camera->inst.matrix = m;
    const bool offsetUsed = !(mode == 4 || mode == 5 || mode == 6 || mode == 8 || mode == 9);
    const QelVector offset{c->viewCameraOffset[0], c->viewCameraOffset[1], c->viewCameraOffset[2], 0};
    if (offsetUsed && (offset.x || offset.y || offset.z)) {
        QelVector turned;
        Qel_MatMulVec(&m, &offset, &turned);
        pos = QelVector{pos.x + turned.x, pos.y + turned.y, pos.z + turned.z, 0};
    }
    camera->inst.pos = pos;
}

// Every object's place in the sector camera's frame, for the HUD and overlay.
void CameraSpacePositions(Cockpit* c, const Camera3D* camera) {
    QelList* list = c->sectorSpace ? O_GetChildList(c->sectorSpace) : nullptr;
    if (!list) return;
    const QelVector& at = camera->inst.pos;
    for (SectorObject* o = SA_ListFirst(list); o; o = SA_ListNext(o)) {
        Inst3D* inst = o->instance;
        if (!inst) continue;
        const QelVector d = INS_VecSub(inst->pos, at);
        Qel_MatTransMulVec(&camera->inst.matrix, &d, &inst->viewPos);
    }
}

void PlaySound() {
    if (g_SAPlaySound) g_SAPlaySound(0, 0, INS_ZOOM_SOUND, -1);
}

// The ship's own field of view; the one at rest until ship types carry it.
int32_t ShipViewValue(const SectorObject*) { return INS_FIELD_OF_VIEW; }

void Zoom(Cockpit* c) {
    const int32_t now = Now();
    const bool requested = c->zoomFlags & kZoomRequested;
    const bool zoomedIn = c->zoomFlags & kZoomedIn;
    if (requested && !zoomedIn) {
        PlaySound();
        c->zoomTarget = INS_FixMul(2 * QEL_FIX_ONE, c->zoom);
        c->zoomStart = c->zoom;
        c->zoomStartTime = now;
        c->zoomFlags |= kZoomedIn;
    } else if (requested) {
        const int32_t elapsed = Since(c->zoomStartTime);
        c->zoom = elapsed < kZoomIn ? INS_Interpolate(c->zoomStart, c->zoomTarget, elapsed, 0, kZoomIn) : c->zoomTarget;
    } else if (c->zoom != QEL_FIX_ONE && zoomedIn) {
        c->zoomStart = c->zoom;
        c->zoomTarget = QEL_FIX_ONE;
        c->zoomStartTime = now;
        c->zoomFlags &= ~(kZoomSoundPlayed | kZoomedIn);
    } else if (c->zoom != QEL_FIX_ONE) {
        const int32_t elapsed = Since(c->zoomStartTime);
        if (elapsed < 1 || elapsed > kZoomOut - 1) {
            c->zoom = QEL_FIX_ONE;
        } else if (elapsed > kZoomHold) {
            if (!(c->zoomFlags & kZoomSoundPlayed)) PlaySound();
            c->zoomFlags |= kZoomSoundPlayed;
            c->zoom = INS_Interpolate(c->zoomStart, c->zoomTarget, elapsed, kZoomHold, kZoomOut);
        }
        c->zoomFlags &= ~kZoomedIn;
    }
    c->zoomFlags &= ~kZoomRequested;
}

int32_t FieldOfView(Cockpit* c) {
    if (c->viewMode == 1 && c->cockpitRefObject) {
        Zoom(c);
        return std::max(INS_FixDiv(ShipViewValue(c->cockpitRefObject), c->zoom), INS_MIN_FIELD_OF_VIEW);
    }
    if (c->viewConnectMode != 6) return INS_FIELD_OF_VIEW;
    const int32_t current = c->fieldOfView;
    if (c->focusDuration <= 0) return std::max(current, INS_MIN_FIELD_OF_VIEW);
    const int32_t elapsed = Since(c->focusDurationStart);
    if (elapsed > c->focusDuration) {
        c->focusDuration = 0;
        return std::max(c->focus, INS_MIN_FIELD_OF_VIEW);
    }
    if (current == c->focus) return INS_FIELD_OF_VIEW;  // and the next frame goes on from there
    return std::max(current - INS_MulDiv(current - c->focus, std::max(elapsed, 0), c->focusDuration),
                    INS_MIN_FIELD_OF_VIEW);
}

void SetFieldOfView(Cockpit* c, int32_t fov) {
    if (fov == c->fieldOfView) return;
    c->fieldOfView = fov;
    for (uint32_t id : {c->sectorCamera, c->galaxyCamera, c->camera, c->dustCamera})
        if (Camera3D* camera = IC_FindCamera(id)) B3D_CameraSetFocus(camera, fov);
}

void CameraMotion(Camera3D* camera) {
    const int32_t elapsed = Since(camera->motionTime);
    if (!camera->motionTime || elapsed < 1 || elapsed >= kMotionSpan) return;
    if (INS_VecDistance(&camera->motionPos, &camera->inst.pos) >= kMotionReach) return;
    const QelVector& p = camera->inst.pos;
    const QelVector& q = camera->motionPos;
    const int32_t d[3] = {p.x - q.x, p.y - q.y, p.z - q.z};
    for (int i = 0; i < 3; ++i) {
        camera->inst.velocity[i] = INS_MulDiv(d[i], 1000, elapsed);
        camera->zRate[i] = INS_MulDiv(camera->inst.matrix.m[8 + i] - camera->motionMatrix.m[8 + i], 1000, elapsed);
    }
}

void Background(Cockpit* c, Camera3D* camera) {
    const auto* space = reinterpret_cast<const SectorSpace*>(c->sectorSpace);
    const TypeRecord* bg = space ? SA_GetTypeRecord(SA_MT_BACKGROUND, space->backgroundType) : nullptr;
    if (!bg) return;
    const int32_t near = bg->field[SA_TF_BG_FOG_NEAR], far = bg->field[SA_TF_BG_FOG_FAR];
    B3D_CameraSetFog(camera, near || far ? 0xffffff : 0, near, far);
    camera->camFlags |= CAM_FOG;
}

void GalaxyCamera(Cockpit* c, const Camera3D* sector) {
    Camera3D* galaxy = IC_FindCamera(c->galaxyCamera);
    if (!galaxy) return;
    galaxy->inst.pos = QelVector{sector->inst.pos.x / 10, sector->inst.pos.y / 10, sector->inst.pos.z / 10, 0};
    galaxy->inst.matrix = sector->inst.matrix;
}

// ---------------------------------------------------------------- HUD step

// A tracked object that is gone starts the tracking anew and tells the
// story; a search finds its object (the target ahead while tracking, the
// nearest enemy while tracking enemies); one tracked for a second is held.
void KeepTracking(Cockpit* c, const SectorObject* ship) {
    SectorObject* tracked = c->trackedObject;
    const int16_t mode = c->trackingMode;
    const bool lost = tracked ? (tracked->flags & SA_FLAG_KILLED) != 0 : mode == INS_TRACK_LOCKED;
    if (mode != INS_TRACK_NONE && lost) {
        g_INSDisplays.track(c, INS_TRACK_SEARCH, nullptr);
        INS_RunStoryInt(kStoryObject, "NotifyTargetLost", 1, static_cast<int32_t>(ship->id));
    } else if (!tracked && (mode == INS_TRACK_SEARCH || mode == INS_TRACK_ENEMIES)) {
        tracked = mode == INS_TRACK_SEARCH ? IC_FindTargetAhead(c) : IC_FindNearestEnemy(c);
        if (tracked) INS_TrackFound(c, tracked);
    } else if (mode == INS_TRACK_SEARCH && tracked && Since(c->trackingStart) >= kTrackLock) {
        g_INSDisplays.track(c, INS_TRACK_LOCKED, tracked);
    }
}

void HudStep(Cockpit* c) {
    SectorObject* ship = c->cockpitRefObject;
    if (!ship || ship->mainType != SA_MT_SHIP || !ShipInSector(ship)) return;
    // The story may free this cockpit or the ship: both are looked up again
    // after (a freed ship is no longer the cockpit's).
    const uint32_t id = c->id;
    g_INSHud.overlay(c);
    if (INS_TableGet(g_CockpitSystem, id) != c || c->cockpitRefObject != ship) return;
    const int32_t info = INS_RunStoryInt(kStoryObject, "GetHUDInfo", 1, ShipViewValue(ship));
    if (INS_TableGet(g_CockpitSystem, id) != c || c->cockpitRefObject != ship) return;
    KeepTracking(c, ship);
    if (INS_TableGet(g_CockpitSystem, id) != c) return;
    g_INSHud.markers(c, info);
}

void Nothing(Cockpit*) {}

}  // namespace

INSHudLink g_INSHud = {
    .checkAlert = INS_CheckAlert,
    .instances = INS_CockpitInstances,
    .scannerList = INS_BuildScannerList,
    .overlay = INS_UpdateTargetOverlay,
    .markers = INS_DrawHudMarkers,
    .grid = INS_GridStep,
    .overlayMenus = INS_OverlayRecordsStep,
    .checkText = INS_CheckText,
    .messageDisplay = INS_MessageDisplayStep,
    .navMap = INS_NavMapStep,
    .cameraMessage = Nothing,
    .iconMenus = INS_UpdateIconMenus,
    .tooltip = INS_TooltipStep,
    .radar = INS_RadarStep,
    .statusBars = INS_StatusBarsStep,
    .laserRange = INS_TargetPanelStep,
    .dust = INS_UpdateDustScene,
    .viewConnect = INS_StartViewConnect,
};

void INS_StartViewConnect(Cockpit* cockpit, int32_t mode) { INS_SetViewConnectMode(cockpit, mode); }

void INS_UpdateCockpit(Cockpit* c) {
    const uint32_t id = c->id;
    ViewForMode(c);
    FollowTargetAngles(c);
    Qel_MatFromAngles(&c->viewMatrix, c->viewAngles[0], c->viewAngles[1], c->viewAngles[2]);
    if (c->cockpitRefObject) IC_CockpitSway(&c->sway, c->cockpitRefObject, FrameDelta());
    QelMatrix shake;
    bool shaking = false;
    Shake(c, &shake, &shaking);
    PlaceCockpitCamera(c, shake);
    Camera3D* sector = c->refObject ? IC_FindCamera(c->sectorCamera) : nullptr;
    if (sector) {
        PlaceSectorCamera(c, sector, shake, shaking);
        CameraSpacePositions(c, sector);
    }

    // The HUD, texts and menus; a story they ask may free the cockpit, so it
    // is looked up again after each.
    const auto alive = [&] { return INS_TableGet(g_CockpitSystem, id) == c; };
    for (void (*step)(Cockpit*) :
         {g_INSHud.instances, g_INSHud.scannerList, HudStep, g_INSHud.grid, g_INSHud.overlayMenus, g_INSHud.checkText,
          g_INSHud.messageDisplay, g_INSHud.navMap, g_INSHud.cameraMessage, g_INSHud.iconMenus, g_INSHud.tooltip}) {
        step(c);
        if (!alive()) return;
    }
    if (!c->refObject) return;

    SetFieldOfView(c, FieldOfView(c));
    if (c->cockpitRefObject && c->draw2D) {
        if (g_CockpitSystem->radarOn && c->radarBodyOn) g_INSHud.radar(c);
        if (!alive()) return;
        if (c->displayBodyOn) {
            g_INSHud.statusBars(c);
            if (!alive()) return;
            g_INSHud.laserRange(c);
            if (!alive()) return;
        }
    }
    sector = c->refObject ? IC_FindCamera(c->sectorCamera) : nullptr;
    if (!sector) return;
    CameraMotion(sector);
    Background(c, sector);
    GalaxyCamera(c, sector);
    g_INSHud.dust(c->sectorSpace, IC_FindCamera(c->dustCamera), sector);
    if ((sector->camFlags & kOwnShipFlag) && c->cockpitRefObject && c->cockpitRefObject->instance) {
        Inst3D* own = c->cockpitRefObject->instance;
        if (c->viewMode == 1) own->flags |= kOwnShipFlag;
        else own->flags &= ~kOwnShipFlag;
    }
}

void INS_UpdateAllCockpits() {
    StandIn_Record("INS_UpdateAllCockpits");  // the program's tests read the order of its module calls
    g_INSHud.checkAlert();
    for (uint32_t id : INS_CockpitIds(g_CockpitSystem))
        if (Cockpit* c = INS_TableGet(g_CockpitSystem, id)) INS_UpdateCockpit(c);
}
