#include "space/hangars.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/log.h"
#include "base/fixmath.h"
#include "base/random.h"
#include "base/texanim.h"
#include "scene/geometry.h"
#include "scene/lists.h"
#include "scene/records.h"
#include "scene/texanim.h"
#include "space/carrierparts.h"
#include "space/create.h"
#include "space/detail.h"
#include "space/flight.h"
#include "space/helpers.h"
#include "space/kill.h"
#include "space/objects.h"
#include "space/orders.h"
#include "space/queries.h"
#include "space/typesdb.h"

namespace {

constexpr int32_t kFullTurn = 65536;
constexpr int32_t kHalfTurn = 32768;
constexpr uint32_t kCarrierMarks = 0x10000000 | 0x02000000;
constexpr int32_t kPlayerPortHoldMs = 10000;
constexpr int32_t kSpawnBody = 19030;
// Slots 0 to 5 serve every ship that is not small; the player's may take 6 too.
constexpr int32_t kCommonSlots = 6;
constexpr int32_t kSlotSpreadDegrees = 15;
constexpr int32_t kCentreSlot = 3;
// The tuned type speed from which a carrier launches again after the shortest delay.
constexpr int32_t kFastLaunchSpeed = 17760;
constexpr int32_t kSmallGateLift = 11100;
constexpr int32_t kWarpInDistance = 1348650;  // along the gate's axis, 900 ms before the end
// Launch speeds: alongside a carrier ship flying the same way, a slow drift
// out of any other carrier, a push out of a gate.
constexpr int32_t kAlongCarrier = 52428;  // 0.8
constexpr int32_t kCarrierSpeedBoost = 20000;
constexpr int32_t kDriftSpeed = 6666;
constexpr int32_t kLaunchDesired = 20000;
constexpr int32_t kGateSpeedSmall = 60000;
constexpr int32_t kGateSpeed = 120000;
constexpr int32_t kPlaceTries = 20;
constexpr int32_t kPlaceMinRange = 10000;
constexpr int32_t kMaxScreens = 5;

int32_t Clamp32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

bool IsGate(const SectorObject* o) { return o->mainType == SA_MT_GATE; }
bool IsShipDockOrFactory(const SectorObject* o) {
    return o->mainType == SA_MT_SHIP || o->mainType == SA_MT_DOCK || o->mainType == SA_MT_FACTORY;
}
bool IsPlayerObject(const SectorObject* o) { return g_SpaceRoot && g_SpaceRoot->game.playerObject == o; }
bool Small(const SectorObject* ship) { return SA_IsShipClassC(ship) != 0; }

const int32_t* Forward(const QelMatrix& m) { return m.m + 8; }

// Position, matrix and angles from the matrix in one go.
void PlaceAt(SectorObject* o, const QelVector& pos, const QelMatrix& m) {
    Qel_AnglesFromMatrix(&m, &o->rot[0], &o->rot[1], &o->rot[2]);
    if (!o->instance) return;
    o->instance->pos = pos;
    o->instance->matrix = m;
    o->instance->worldPos = pos;
    o->instance->worldMatrix = m;
}

// A gate slot serves again once its time has come.
bool SlotFree(const GateData* gate, int32_t k) { return !gate->slotOccupant[k] || SA_TimeReached(gate->slotTime[k]); }

// A random free slot of the gate for the ship; -1 when none is free.
int32_t PickGateSlot(const GateData* gate, const SectorObject* ship) {
    const int32_t looked = IsPlayerObject(ship) ? SA_GATE_SLOTS : kCommonSlots;
    int32_t free[SA_GATE_SLOTS];
    int32_t n = 0;
    for (int32_t k = 0; k < looked; ++k)
        if (SlotFree(gate, k)) free[n++] = k;
    if (n == 0) return -1;
    return free[n > 1 ? Qel_LongRandom(n) : 0];
}

void TakeGateSlot(GateData* gate, int32_t k, SectorObject* ship) {
    gate->slotOccupant[k] = ship;
    gate->slotTime[k] = SA_TimeAfter(SA_GATE_SLOT_MS);
}

int32_t GateSlotOf(const GateData* gate, const SectorObject* ship) {
    for (int32_t k = 0; k < SA_GATE_SLOTS; ++k)
        if (gate->slotOccupant[k] == ship) return k;
    return -1;
}

// The ship leaves its sector (or wherever it is) for the carrier's child list.
void MoveIntoCarrier(SectorObject* ship, SectorObject* carrier, bool atHead) {
    O_LeaveSector(ship);
    SA_ListUnlink(ship);
    QelList* children = O_GetChildList(carrier);
    if (atHead) SA_ListAddHead(children, ship);
    else SA_ListAddTail(children, ship);
    ship->container = carrier;
}

Inst3D* SpawnInstance(const SectorObject* carrier) {
    if (!carrier->instance) return nullptr;
    for (B3DListNode* n = B3D_ListFirst(&carrier->instance->children); n; n = B3D_ListNext(n)) {
        auto* child = reinterpret_cast<Inst3D*>(n);
        if (child->bodyId == kSpawnBody) return child;
    }
    return nullptr;
}

void CopyFlightWords(SectorObject* ship, const SectorObject* carrier) {
    std::copy(std::begin(carrier->flight), std::end(carrier->flight), ship->flight);
}

// The end of a start that put the ship out: into the carrier's container.
int32_t PutOut(SectorObject* ship, SectorObject* carrier) {
    O_SetContainer(ship, carrier->container);
    ship->time = SA_Now();
    ship->flags &= ~SA_FLAG_COLLISION_WARNING;
    return SA_HANGAR_OUT;
}

int32_t StartAtSpawnPoint(SectorObject* ship, SectorObject* carrier) {
    ship->speed = ship->desiredSpeed = 0;
    CopyFlightWords(ship, carrier);
    if (Inst3D* spawn = SpawnInstance(carrier)) {
        QelVector pos{};
        QelMatrix m{};
        O_InstWorldPose(spawn, &pos, &m);
        const QelVector offset{Qel_Random(1000000) - 500000, Qel_Random(1000000) - 500000, Qel_Random(1000000) + 500000,
                               0};
        QelVector moved{};
        Qel_MatMulVec(&m, &offset, &moved);
        PlaceAt(ship,
                QelVector{Clamp32(int64_t{pos.x} + moved.x), Clamp32(int64_t{pos.y} + moved.y),
                          Clamp32(int64_t{pos.z} + moved.z), 0},
                m);
        PutOut(ship, carrier);
        if (!O_IsSpaceFree(ship)) O_PlaceNearObject(ship, nullptr);
        return SA_HANGAR_OUT;
    }
    QelMatrix identity;
    Qel_MatIdentity(&identity);
    PlaceAt(ship, Obj_Position(carrier), identity);
    PutOut(ship, carrier);
    O_PlaceNearObject(ship, carrier);
    return SA_HANGAR_OUT;
}

int32_t StartAtPort(SectorObject* ship, SectorObject* carrier, DockPortSlot* slot) {
    if (IsPlayerObject(ship) || (ship->flags & SA_FLAG_PLAYER)) slot->time = SA_TimeAfter(kPlayerPortHoldMs);
    QelVector pos = Obj_Position(carrier);
    QelMatrix m = Obj_Matrix(carrier);
    if (slot->portInstance) O_InstWorldPose(slot->portInstance, &pos, &m);
    PlaceAt(ship, pos, m);
    ship->speed = ship->desiredSpeed = 0;
    CopyFlightWords(ship, carrier);
    for (int32_t& r : ship->rotSpeed) r = 0;
    return PutOut(ship, carrier);
}

// The dock port a start at a port uses, or null when the carrier has no such port for the ship.
DockPortSlot* StartPort(SectorObject* ship, SectorObject* carrier, int32_t port) {
    if (port >= SA_GetTypeNumDockPorts(carrier->mainType, carrier->subType)) return nullptr;
    DockPortTable* table = O_PortTable(carrier);
    if (!table || port >= table->slotCount) return nullptr;
    const TypeRecord* t = O_GetTypeRecord(ship);
    return O_GetDockPortEntry(table, port, t ? t->field[SA_TF_CLASS] : -1);
}

// ---------------------------------------------------------------- launches

int32_t LaunchDelay(const SectorObject* ship, const SectorObject* carrier) {
    if (IsGate(carrier)) return SA_LAUNCH_DELAY_MS;
    return SA_LAUNCH_DELAY_MS + O_SpeedRamp(SA_GetTunedTypeSpeed(ship), 0, kFastLaunchSpeed,
                                            SA_LAUNCH_DELAY_SLOW_MS - SA_LAUNCH_DELAY_MS, 0);
}

void LaunchFromCarrier(SectorObject* ship, SectorObject* carrier) {
    const CarrierWords* words = O_CarrierWords(carrier);
    const QelVector pos = Obj_Position(carrier);
    const QelMatrix cm = Obj_Matrix(carrier);
    const QelVector at = O_LocalToWorld(&pos, &cm, &words->hangarPoint, O_GetRadius(carrier));
    int32_t a = carrier->rot[0], b = carrier->rot[1];
    // Ships leave facing away from the carrier's second point.
    if (words->secondPoint.z <= words->hangarPoint.z) {
        a = (a - kHalfTurn) & (kFullTurn - 1);
        b = -b;
    }
    const int32_t c = carrier->rot[2];
    QelMatrix m;
    Qel_MatFromAngles(&m, a, b, c);
    const QelVector ahead{0, 0, Clamp32(2 * int64_t{O_GetRadius(ship)}), 0};
    PlaceAt(ship, O_LocalToWorld(&at, &m, &ahead, 65536), m);
    ship->rot[0] = a;
    ship->rot[1] = b;
    ship->rot[2] = c;
}

// Returns false when a ship that is not small has no slot at the gate.
bool LaunchFromGate(SectorObject* ship, SectorObject* gate, ShipData* d) {
    GateData* g = O_GateData(gate);
    const CarrierWords& words = g->carrier;
    const int32_t gateSize = O_GetRadius(gate);
    const int64_t lift = Qel_FixMul(gateSize, words.hangarPoint.z) - int64_t{O_GetRadius(ship)};
    QelVector local{};
    if (Small(ship)) {
        local = QelVector{0, kSmallGateLift, Clamp32(lift), 0};
    } else {
        const int32_t k = GateSlotOf(g, ship);
        if (k < 0) return false;
        const auto angle = static_cast<uint16_t>((k - kCentreSlot) * kSlotSpreadDegrees * kFullTurn / 360);
        const int32_t radius = words.hangarPoint.y;
        local = QelVector{Qel_FixMul(Qel_FixMul(Qel_FixSin(angle), radius), gateSize),
                          Qel_FixMul(-Qel_FixMul(Qel_FixCos(angle), radius), gateSize), Clamp32(lift), 0};
    }
    const QelVector gatePos = Obj_Position(gate);
    const QelMatrix gm = Obj_Matrix(gate);
    const QelVector at = O_LocalToWorld(&gatePos, &gm, &local, 65536);
    QelMatrix halfTurn, m;
    Qel_MatFromAngles(&halfTurn, kHalfTurn, 0, 0);
    Qel_MatMul(&gm, &halfTurn, &m);
    const int32_t* axis = Forward(gm);
    const QelVector start{Clamp32(at.x + (int64_t{axis[0]} * kWarpInDistance >> 16)),
                          Clamp32(at.y + (int64_t{axis[1]} * kWarpInDistance >> 16)),
                          Clamp32(at.z + (int64_t{axis[2]} * kWarpInDistance >> 16)), 0};
    PlaceAt(ship, start, m);
    if (d) {
        d->CourseType = VER_WARPIN;
        d->WarpEffectOn = 1;
        d->WarpEnd = SA_TimeAfter(SA_WARP_MS);
        d->OrderPos = at;
        d->OrderTarget = gate;
    }
    ship->flags |= SA_FLAG_NO_AREA_DAMAGE;
    return true;
}

void LaunchSpeeds(SectorObject* ship, const SectorObject* carrier) {
    if (IsGate(carrier)) {
        ship->speed = Small(ship) ? kGateSpeedSmall : kGateSpeed;
        ship->desiredSpeed = kLaunchDesired;
    } else {
        const QelMatrix cm = Obj_Matrix(carrier), sm = Obj_Matrix(ship);
        const int32_t* cf = Forward(cm);
        const int32_t* sf = Forward(sm);
        const int64_t dot = (int64_t{cf[0]} * sf[0] + int64_t{cf[1]} * sf[1] + int64_t{cf[2]} * sf[2]) >> 16;
        if (carrier->mainType == SA_MT_SHIP && dot > kAlongCarrier) {
            ship->speed = carrier->speed;
            ship->desiredSpeed = Clamp32(int64_t{carrier->speed} + kCarrierSpeedBoost);
        } else {
            ship->speed = kDriftSpeed;
            ship->desiredSpeed = kLaunchDesired;
        }
    }
    ship->desiredSpeed = std::min(ship->desiredSpeed, O_GetMaxSpeed(ship));
}

// The player's ship out of a hangar pushes aside the big ships it would sit in.
void ClearAroundPlayer(SectorObject* ship, SectorObject* carrier) {
    SectorObject* container = ship->container;
    if (!container) return;
    for (uint32_t id : SA_ChildIds(container)) {
        SectorObject* other = SA_LookupObject(id);
        if (!other || other == ship || other->container != container || other->mainType != SA_MT_SHIP) continue;
        // Small ships and those of the classes a launch never pushes stay.
        if (Small(other) || (other->flags & SA_FLAG_KILLED)) continue;
        if (SA_IsShipClassX(other)) continue;
        const ShipData* od = O_ShipData(other);
        if (od && od->CourseType == VER_FLYINTO) continue;
        const int64_t reach = 2 * (int64_t{O_GetRadius(ship)} + O_GetRadius(other));
        if (Obj_AxisDistance(ship, other) < reach) O_PlaceNearObject(other, carrier);
    }
}

}  // namespace

// ---------------------------------------------------------------- placement

int O_PlaceNearObject(SectorObject* object, SectorObject* reference) {
    if (!object || !object->instance) return 0;
    const QelVector centre = reference ? Obj_Position(reference) : object->instance->pos;
    int64_t range = std::max<int64_t>(kPlaceMinRange,
                                      2 * (int64_t{O_GetRadius(object)} + (reference ? O_GetRadius(reference) : 0)));
    const QelVector zero{};
    for (int32_t i = 0; i < kPlaceTries; ++i) {
        QelVector dir{Qel_Random(10000) - 5000, Qel_Random(10000) - 5000, Qel_Random(10000) - 5000, 0};
        if (!dir.x && !dir.y && !dir.z) dir.y = 1000;
        const QelVector unit = O_UnitDirection(&zero, &dir);
        const int64_t length = Qel_Random(Clamp32(range));
        const QelVector at{Clamp32(centre.x + (int64_t{unit.x} * length >> 16)),
                           Clamp32(centre.y + (int64_t{unit.y} * length >> 16)),
                           Clamp32(centre.z + (int64_t{unit.z} * length >> 16)), 0};
        object->instance->pos = object->instance->worldPos = at;
        if (O_IsSpaceFree(object)) return 1;
        range = std::min<int64_t>(range + range / 2, INT32_MAX);
    }
    return 0;
}

void O_SetSafePos(SectorObject* object, SectorObject* reference) {
    if (!object || !object->instance) return;
    if (!reference && O_IsSpaceFree(object)) return;
    O_PlaceNearObject(object, reference);
    // Placed again through the setter, so that the detail switch and the
    // looks that follow a position see the new place.
    const QelVector at = object->instance->pos;
    O_SetPos(object, at.x, at.y, at.z);
}

void O_SetSafePosAt(SectorObject* object, int32_t x, int32_t y, int32_t z) {
    if (!object || !object->instance) return;
    O_SetPos(object, x, y, z);
    O_SetSafePos(object, nullptr);
}

// ---------------------------------------------------------------- starts

int32_t O_StartInHangar(SectorObject* ship, SectorObject* carrier, int32_t port) {
    if (!ship || !carrier) return SA_HANGAR_REFUSED;
    if (ShipData* d = O_ShipData(ship)) d->PortIndex = port;
    // Checked before anything moves: a refusal leaves the ship where it was.
    if (!O_CarrierWords(carrier) || !O_CanContain(carrier, ship) || ship->mainType == SA_MT_SECTOR)
        return SA_HANGAR_REFUSED;
    const bool gate = IsGate(carrier);
    DockPortSlot* portSlot = nullptr;
    if (!gate && port >= 0 && !(portSlot = StartPort(ship, carrier, port))) return SA_HANGAR_REFUSED;
    if (gate) {
        const int32_t slot = Small(ship) ? -1 : PickGateSlot(O_GateData(carrier), ship);
        if (!Small(ship) && slot < 0) return SA_HANGAR_GATE_FULL;
        // Leaving the sector drops every reference to the ship, so the slot is taken after.
        MoveIntoCarrier(ship, carrier, true);
        if (slot >= 0) TakeGateSlot(O_GateData(carrier), slot, ship);
    } else {
        MoveIntoCarrier(ship, carrier, false);
    }
    ship->flags &= ~SA_FLAG_QUEUED;
    if (!IsShipDockOrFactory(carrier)) {
        ship->flags |= SA_FLAG_QUEUED;
        return SA_HANGAR_QUEUED;
    }
    if (portSlot) return StartAtPort(ship, carrier, portSlot);
    return StartAtSpawnPoint(ship, carrier);
}

void O_StartShipFromHangar(SectorObject* ship, SectorObject* carrier) {
    // Only a ship the carrier holds leaves it.
    if (!ship || !carrier || ship->container != carrier) return;
    CarrierWords* words = O_CarrierWords(carrier);
    if (!words) return;
    const bool gate = IsGate(carrier);
    // A slot that expired before the launch came is taken again; with none
    // free the ship stays queued and tries again next frame.
    if (gate && !Small(ship) && GateSlotOf(O_GateData(carrier), ship) < 0) {
        const int32_t slot = PickGateSlot(O_GateData(carrier), ship);
        if (slot < 0) return;
        TakeGateSlot(O_GateData(carrier), slot, ship);
    }
    words->launchTime = SA_TimeAfter(LaunchDelay(ship, carrier));
    ShipData* d = O_ShipData(ship);
    if (d) d->CourseType = VER_STOP;
    if (gate) LaunchFromGate(ship, carrier, d);
    else LaunchFromCarrier(ship, carrier);
    LaunchSpeeds(ship, carrier);
    O_SetContainer(ship, carrier->container);
    ship->time = SA_Now();
    ship->flags &= ~SA_FLAG_QUEUED;
    if ((ship->flags & SA_FLAG_PLAYER) && (!gate || Small(ship))) ClearAroundPlayer(ship, carrier);
    SA_FireObjectCallback(ship, 1);
    ship->flags &= ~SA_FLAG_COLLISION_WARNING;
}

// ---------------------------------------------------------------- screens

namespace {

struct ScreenNode {
    SectorObject* screen;
    int32_t distance;
};
using ScreenList = std::vector<ScreenNode>;

SpecialData* ScreenData(SectorObject* o) {
    SpecialData* sd = o->mainType == SA_MT_SPECIAL ? O_SpecialData(o) : nullptr;
    return sd && sd->videoChannel != 0 ? sd : nullptr;
}
int32_t& Shown(SectorObject* o) { return O_SpecialData(o)->shownVideo; }
int32_t Channel(SectorObject* o) { return O_SpecialData(o)->videoChannel; }

void InsertNearestFirst(ScreenList* list, SectorObject* screen, int32_t distance) {
    const auto at = std::upper_bound(list->begin(), list->end(), distance,
                                     [](int32_t d, const ScreenNode& n) { return d < n.distance; });
    list->insert(at, ScreenNode{screen, distance});
}

int32_t CameraDistance(SectorObject* screen, const SectorSpace* sector) {
    if (!screen->instance || !sector->spaceScene) return -1;
    return B3D_InstGetDistance(sector->spaceScene, screen->instance, 0);
}

void ShowFrame(SectorObject* screen, int32_t w) {
    if (screen->instance) B3D_InstTreeSetTexAnimFrame(screen->instance, Clamp32(std::llabs(int64_t{w}) + 1));
}

// Back to the screen's own frame: it no longer shows the sector's video.
void StopShowing(SectorObject* screen) {
    ShowFrame(screen, Shown(screen));
    Shown(screen) = 0;
    screen->flags2 &= ~SA_FLAG2_SHOWS_VIDEO;
}

void ShowPart(SectorObject* screen, int32_t part, int32_t parts, int32_t id) {
    if (id && screen->instance) B3D_InstTreeSetTexAnimCoords(screen->instance, part + 1, parts);
    Shown(screen) = id;
    screen->flags2 |= SA_FLAG2_SHOWS_VIDEO;
}

// A positive channel is one video; -k is video list k - 1.
bool ChannelShows(int32_t channel, int32_t id) {
    if (channel > 0) return channel == id;
    const int64_t list = -int64_t{channel} - 1;
    if (channel == 0 || list >= g_TypeDB.videoListCount || !g_TypeDB.videoLists) return false;
    const int32_t* words = g_TypeDB.videoLists[list];
    if (!words) return false;
    for (int32_t i = 1; i <= words[0]; ++i)
        if (words[i] == id) return true;
    return false;
}

int32_t ValidIds(const SA_VideoRecord& r) { return std::clamp(r.validCount, 0, 4); }

// The record the sector plays; an index outside the Videos table counts as none.
int32_t SectorVideo(SectorSpace* sector) {
    if (sector->videoIndex < 0 || sector->videoIndex >= g_TypeDB.videoCount || !g_TypeDB.videos)
        sector->videoIndex = -1;
    return sector->videoIndex;
}

bool VideoPlaying(int32_t v) {
    if (v < 0 || !g_TCMovieCalls.state) return false;
    const uint32_t state = g_TCMovieCalls.state(g_TypeDB.videos[v].movie);
    return (state & 0x4) && (state & 0x2);
}

// The screens of each record's ids among the counted candidates.
struct Matching {
    std::vector<SectorObject*> slots;  // 4 per record
    std::vector<int32_t> count;
    std::vector<bool> complete;
    int32_t best = 0;
};

Matching MatchRecords(const ScreenList& candidates, size_t counted) {
    Matching m;
    const int32_t records = g_TypeDB.videos ? g_TypeDB.videoCount : 0;
    m.slots.assign(size_t(records) * 4, nullptr);
    m.count.assign(size_t(records), 0);
    m.complete.assign(size_t(records), false);
    for (int32_t r = 0; r < records; ++r) {
        const SA_VideoRecord& rec = g_TypeDB.videos[r];
        const int32_t n = ValidIds(rec);
        const size_t limit = std::min(counted, size_t(n));
        std::vector<bool> used(limit, false);
        for (int32_t j = 0; j < n; ++j) {
            const int32_t id = rec.ids[j];
            size_t found = limit;
            // A screen that showed this id keeps it.
            for (size_t i = 0; i < limit && found == limit; ++i)
                if (!used[i] && -int64_t{Shown(candidates[i].screen)} == id) found = i;
            for (size_t i = 0; i < limit && found == limit; ++i)
                if (!used[i] && ChannelShows(Channel(candidates[i].screen), id)) found = i;
            if (found == limit) continue;
            used[found] = true;
            m.slots[size_t(r) * 4 + size_t(j)] = candidates[found].screen;
            ++m.count[size_t(r)];
        }
        m.complete[size_t(r)] = n > 0 && m.count[size_t(r)] == n;
        m.best = std::max(m.best, m.count[size_t(r)]);
    }
    return m;
}

int32_t ChooseRecord(const Matching& m) {
    std::vector<int32_t> complete, equal;
    for (int32_t r = 0; r < static_cast<int32_t>(m.count.size()); ++r) {
        if (m.count[size_t(r)] != m.best) continue;
        equal.push_back(r);
        if (m.complete[size_t(r)]) complete.push_back(r);
    }
    const std::vector<int32_t>& eligible = complete.empty() ? equal : complete;
    if (eligible.empty()) return -1;
    return eligible[eligible.size() > 1 ? size_t(Qel_LongRandom(static_cast<int32_t>(eligible.size()))) : 0];
}

}  // namespace

void O_UpdateSectorScreens(SectorSpace* sector) {
    if (!sector || sector->trailing[9]) return;  // paused: screens keep their frames
    const int32_t v = SectorVideo(sector);
    const bool playing = VideoPlaying(v);
    ScreenList showing, idle, candidates;
    for (SectorObject* o = SA_FirstChild(&sector->object); o; o = SA_ListNext(o)) {
        if ((o->flags & SA_FLAG_KILLED) || !ScreenData(o)) continue;
        int32_t& w = Shown(o);
        const int32_t d = CameraDistance(o, sector);
        if (w != 0 && !playing) {
            StopShowing(o);
        } else if (w != 0) {
            w = -w;
            if (o->flags2 & SA_FLAG2_SHOWS_VIDEO) InsertNearestFirst(&showing, o, d);
            else idle.push_back(ScreenNode{o, d});
        }
        const bool near = sector->spaceScene && d >= 1 && int64_t{d} < 64 * int64_t{O_GetRadius(o)};
        if ((o->flags2 & SA_FLAG2_SCREEN_ANY_DISTANCE) || near) InsertNearestFirst(&candidates, o, d);
    }
    const size_t shown = std::min<size_t>(showing.size(), kMaxScreens);
    const size_t counted = std::min<size_t>(candidates.size(), kMaxScreens);
    const bool same = shown != 0 && shown == counted &&
                      std::equal(showing.begin(), showing.begin() + std::ptrdiff_t(shown), candidates.begin(),
                                 [](const ScreenNode& a, const ScreenNode& b) { return a.screen == b.screen; });
    if (same || (shown == 0 && counted == 0)) {
        // Nothing to decide: the screens keep what they show.
        for (const ScreenList* list : {&showing, &idle})
            for (const ScreenNode& n : *list)
                if (Shown(n.screen) < 0) Shown(n.screen) = -Shown(n.screen);
        return;
    }
    const Matching m = MatchRecords(candidates, counted);
    int32_t chosen = v;
    bool chose = false;
    if (!playing || (v == -1 && m.best > 0) || (v >= 0 && m.count[size_t(v)] != m.best)) {
        if (v >= 0) TC_ReleaseMovieTexture(g_TypeDB.videos[v].movie, SA_SECTOR_VIDEO_TEXTURE);
        chosen = ChooseRecord(m);
        sector->videoIndex = chosen;
        chose = true;
    }
    const SA_VideoRecord* rec = chosen >= 0 ? &g_TypeDB.videos[chosen] : nullptr;
    const int32_t n = rec ? ValidIds(*rec) : 0;
    SectorObject* const* slots = rec ? &m.slots[size_t(chosen) * 4] : nullptr;
    for (int32_t j = 0; j < n; ++j) {
        SectorObject* s = slots[j];
        if (!s) continue;
        if (Shown(s)) ShowFrame(s, Shown(s));
        ShowPart(s, j, n, rec->ids[j]);
    }
    for (const ScreenNode& i : idle)
        if (Shown(i.screen) < 0) StopShowing(i.screen);
    for (const ScreenNode& i : showing) {
        if (Shown(i.screen) >= 0) continue;
        bool kept = false;
        for (int32_t j = 0; j < n && !kept; ++j) kept = slots[j] && Channel(slots[j]) == Channel(i.screen);
        if (kept) Shown(i.screen) = -Shown(i.screen);
        else StopShowing(i.screen);
    }
    for (const ScreenNode& c : candidates) {
        if (Shown(c.screen) >= 1) continue;
        for (int32_t k = 0; k < n; ++k)
            if (ChannelShows(Channel(c.screen), rec->ids[k])) {
                ShowPart(c.screen, k, n, rec->ids[k]);
                break;
            }
    }
    if (chose && rec)
        TC_LoadMovie(rec->movie, SA_SECTOR_VIDEO_TEXTURE, rec->start[0], rec->start[1], rec->start[2], rec->end[0],
                     rec->end[1], rec->end[2]);
}

// ---------------------------------------------------------------- the hangar step

namespace {

void UpdateGate(SectorObject* gate) {
    GateData* g = O_GateData(gate);
    if (!g) return;
    const int32_t now = SA_Now();
    for (uint32_t id : SA_ChildIds(gate)) {
        SectorObject* ship = SA_LookupObject(id);
        if (!ship || ship->container != gate || !(ship->flags & SA_FLAG_QUEUED)) continue;
        Qel_DPrintf(4, "Starting ship $%d from Hangar $%d\n", static_cast<int32_t>(ship->id),
                    static_cast<int32_t>(gate->id));
        O_StartShipFromHangar(ship, gate);
    }
    // The gate may have gone with a launch's story code.
    if (O_GateData(gate) != g) return;
    for (int32_t k = 0; k < SA_GATE_SLOTS; ++k)
        if (SA_TimeReached(g->slotTime[k])) {
            g->slotTime[k] = now;
            g->slotOccupant[k] = nullptr;
        }
}

void UpdateHolders(SectorObject* sector) {
    for (uint32_t id : SA_ChildIds(sector)) {
        SectorObject* holder = SA_LookupObject(id);
        if (!holder || holder->container != sector || !(holder->flags & SA_FLAG_HOLDER)) continue;
        if (holder->flags & SA_FLAG_KILLED) continue;
        if (IsShipDockOrFactory(holder)) O_AnimateCarrierParts(holder);
        if (IsGate(holder)) {
            O_AnimateGateParts(holder);
            UpdateGate(holder);
        } else if (CarrierWords* words = O_CarrierWords(holder)) words->launchTime = SA_Now();
        if (SA_LookupObject(id) == holder) holder->flags &= ~kCarrierMarks;
    }
}

}  // namespace

void O_UpdateHangars(SectorObject* sector) {
    if (!sector || sector->mainType != SA_MT_SECTOR) return;
    SA_Pass pass;
    UpdateHolders(sector);
    if (SA_LookupObject(sector->id) == sector) O_UpdateSectorScreens(O_Sector(sector));
    // The unforced detail switch of every object that takes part in it.
    for (uint32_t id : SA_ChildIds(sector)) {
        SectorObject* child = SA_LookupObject(id);
        if (!child || child->container != sector || (child->flags & SA_FLAG_KILLED)) continue;
        if (child->flags2 & SA_FLAG2_DETAIL) g_SADetailSwitch(child, 0, 0);
    }
}
