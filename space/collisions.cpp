#include "space/collisions.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "base/fixmath.h"
#include "base/general.h"
#include "base/log.h"
#include "base/random.h"
#include "cockpit/cockpits.h"
#include "cockpit/effects.h"
#include "scene/instcoll.h"
#include "scene/records.h"
#include "script/context.h"
#include "script/tasks.h"
#include "space/behaviour.h"
#include "space/flight.h"
#include "space/kill.h"
#include "space/objects.h"
#include "space/orders.h"
#include "space/queries.h"
#include "space/typesdb.h"
#include "space/utility.h"
#include "system/forcefeedback.h"

namespace {

constexpr uint32_t kLogHits = 4;
constexpr uint32_t kLogWarning = 4096;
constexpr uint32_t kLogPairs = 8192;
constexpr int64_t kPlanetDivisor = int64_t{1200000} * 22500;
constexpr int64_t kPlanetFloor = 200;
constexpr int64_t kCollisionFloor = 100;
constexpr int64_t kCollisionDivisor = 100000;
constexpr int16_t kKillCollision = 3;
constexpr int16_t kKillBullet = 2;
constexpr int16_t kKillMissile = 5;
constexpr int32_t kGateNoWarp = 4;  // the gate subtype ships never warp through

int32_t Clamp32(int64_t v) { return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v); }

int32_t Id(const SectorObject* o) { return static_cast<int32_t>(o->id); }

bool IsShip(const SectorObject* o) { return o->mainType == SA_MT_SHIP; }
bool IsShot(const SectorObject* o) { return o->mainType == SA_MT_BULLET || o->mainType == SA_MT_MISSILE; }

int32_t TypeField(const SectorObject* o, int32_t field) {
    const TypeRecord* t = O_GetTypeRecord(o);
    return t ? t->field[field] : 0;
}

// The state of the sector's pass: set when a story callback ran, and when the
// pass has to end because one ended a pair's object.
struct PassState {
    SectorObject* sector = nullptr;
    bool raised = false;
    bool ended = false;
};
PassState* s_pass = nullptr;

// A story callback on an object's event object; the pass checks the pair after it.
void Raise(uint32_t storyObject, const char* name, int32_t argc, const int32_t* args) {
    if (!storyObject) return;
    if (s_pass) s_pass->raised = true;
    SA_RunStory(storyObject, name, argc, args);
}

int32_t Ask(uint32_t storyObject, const char* name, int32_t argc, const int32_t* args, int32_t unanswered) {
    if (!storyObject) return unanswered;
    if (s_pass) s_pass->raised = true;
    return SA_AskStory(storyObject, name, argc, args, unanswered);
}

// After a callback: whether both objects still stand in the pass's sector.
// Killed objects are freed only when the outermost pass ends, so reading them
// here is safe.
bool PairStands(const SectorObject* a, const SectorObject* b) {
    if (!s_pass) return !(a->flags & SA_FLAG_KILLED) && !(b->flags & SA_FLAG_KILLED);
    if (s_pass->ended) return false;
    if (!s_pass->raised) return true;
    s_pass->raised = false;
    for (const SectorObject* o : {a, b}) {
        if (!(o->flags & SA_FLAG_KILLED) && o->container == s_pass->sector) continue;
        Qel_DPrintf(0, "S_CheckCollisions(#%d, #%d) %s Object #%d already killed!\n", Id(a), Id(b), SA_ScriptPosition(),
                    Id(o));
        s_pass->ended = true;
        return false;
    }
    return true;
}

const QelVector& Pos(const SectorObject* o) { return o->instance->pos; }

// The motion of an object: its instance's velocity plus its drift.
void Motion(const SectorObject* o, int64_t v[3]) {
    for (int k = 0; k < 3; ++k) v[k] = int64_t{o->instance ? o->instance->velocity[k] : 0} + o->drift[k];
}

bool Eligible(const SectorObject* o, bool shipsOnly) {
    if (o->flags & SA_FLAGS_NOT_COLLIDING) return false;
    if (o->flags2 & SA_FLAG2_NO_COLLISION) return false;
    return !shipsOnly || IsShip(o);
}

// A ship landing at the partner, or the partner landing at the ship.
bool Docking(const SectorObject* a, const SectorObject* b) {
    for (const auto& [s, p] : {std::pair{a, b}, std::pair{b, a}}) {
        const ShipData* d = O_ShipData(const_cast<SectorObject*>(s));
        if (d && d->CourseType == VER_LAND && d->OrderTarget == p) return true;
    }
    return false;
}

// A shot and what it never hits: its shooter, and a missile's launcher.
bool OwnShot(SectorObject* shot, const SectorObject* other) {
    if (const BulletData* b = O_BulletData(shot)) return b->owner == other;
    if (const MissileData* m = O_MissileData(shot)) return m->launcher == other || shot->parent == other;
    return false;
}

void KillWithStory(SectorObject* victim, SectorObject* killer, int16_t kind) {
    if (victim->flags & SA_FLAG_KILLED) return;
    const int32_t args[3] = {kind, killer ? Id(killer) : 0, 0};
    Raise(victim->eventObject, "KilledBy", 3, args);
    if (!(victim->flags & SA_FLAG_KILLED)) SS_KillObject(victim, kind, killer, 0);
}

// ---------------------------------------------------------------- pair search

// Whether the pair goes on to the pair handling: the rule of the pass.
bool Candidate(const S_PairEntry& a, const S_PairEntry& b) {
    if (a.beam || b.beam || (a.bullet && b.bullet)) return false;
    if (a.planet || b.planet || (a.ship && b.holder) || (b.ship && a.holder)) return true;
    const int64_t reach = a.r + b.r;
    return std::llabs(a.x - b.x) < reach && std::llabs(a.y - b.y) < reach && std::llabs(a.z - b.z) < reach;
}

// A grid of cubic cells for each power of two: an object lives at the level
// whose cell is at least its diameter, in the cell of its centre, so two
// objects whose boxes overlap lie in neighbouring cells of the coarser one's
// level. A cell's key holds z, then y, then x, each in a field of 21 bits
// counted from one below the level's lowest cell: the cells of one level
// sorted by key run row by row, the three neighbouring cells of a row are one
// run of keys, and a neighbouring row is the key plus a constant, reached by
// a cursor that only moves forward.
constexpr int kLevels = 34;  // diameters reach 2^33
constexpr int kFieldBits = 21;
constexpr int64_t kRowY = int64_t{1} << kFieldBits;
constexpr int64_t kRowZ = kRowY << kFieldBits;

int Level(int64_t r) {
    const uint64_t diameter = 2 * static_cast<uint64_t>(std::max<int64_t>(r, 0));
    return diameter <= 1 ? 0 : static_cast<int>(std::bit_width(diameter - 1));
}

struct Cell {
    uint64_t key;
    uint32_t entry;
};

// Where the keys of a set of objects start, and the cell size that keeps
// each axis within its field (coarser than the level where the set spans
// more than 2^21 cells: a larger cell still holds every overlap).
struct KeyFrame {
    int shift;
    int64_t low[3];
    KeyFrame(std::span<const S_PairEntry> entries, std::span<const uint32_t> set, int level) : shift(level) {
        int64_t lo[3] = {INT64_MAX, INT64_MAX, INT64_MAX}, hi[3] = {INT64_MIN, INT64_MIN, INT64_MIN};
        for (uint32_t i : set) {
            const int64_t c[3] = {entries[i].x, entries[i].y, entries[i].z};
            for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], c[k]), hi[k] = std::max(hi[k], c[k]);
        }
        const auto fits = [&] {
            for (int k = 0; k < 3; ++k)
                if ((hi[k] >> shift) - (lo[k] >> shift) + 3 >= kRowY) return false;
            return true;
        };
        while (!fits()) ++shift;
        for (int k = 0; k < 3; ++k) low[k] = (lo[k] >> shift) - 1;
    }
    Cell At(const S_PairEntry& e, uint32_t index) const {
        const auto field = [&](int64_t c, int k) { return static_cast<uint64_t>((c >> shift) - low[k]); };
        return Cell{field(e.z, 2) << (2 * kFieldBits) | field(e.y, 1) << kFieldBits | field(e.x, 0), index};
    }
};

struct PairSink {
    std::span<const S_PairEntry> entries;
    std::vector<uint64_t>& out;
    // Out of line: most scans offer nothing, and stay small without it.
    [[gnu::noinline]] void Offer(uint32_t a, uint32_t b) const {
        if (a > b) std::swap(a, b);
        if (Candidate(entries[a], entries[b])) out.push_back(uint64_t{a} << 32 | b);
    }
};

// Sorted cells end with one whose key no cell reaches, so that scans need
// no bounds.
constexpr uint64_t kEnd = UINT64_MAX;

// Offers the query with every cell from key `from` to from + 2 (x - 1 to
// x + 1 of one row), moving the cursor up to the run; queries come in
// increasing key order.
inline void OfferRun(const PairSink& sink, uint32_t query, const Cell*& cursor, uint64_t from) {
    while (cursor->key < from) ++cursor;
    for (const Cell* c = cursor; c->key <= from + 2; ++c) sink.Offer(query, c->entry);
}

// Pairs within one level: each pair of neighbouring cells once, from the
// cell that comes first (the next cell of the row, and the row after it and
// the three of the next plane).
void PairsWithin(const PairSink& sink, const std::vector<Cell>& home) {
    const Cell *c0 = home.data(), *c1 = c0, *c2 = c0, *c3 = c0;
    for (const Cell* c = home.data(); c->key != kEnd; ++c) {
        for (const Cell* m = c + 1; m->key <= c->key + 1; ++m) sink.Offer(c->entry, m->entry);
        OfferRun(sink, c->entry, c0, c->key + kRowY - 1);
        OfferRun(sink, c->entry, c1, c->key + kRowZ - kRowY - 1);
        OfferRun(sink, c->entry, c2, c->key + kRowZ - 1);
        OfferRun(sink, c->entry, c3, c->key + kRowZ + kRowY - 1);
    }
}

// Pairs of finer objects (their cells taken at this level) with the objects
// that live at this level: all nine neighbouring rows.
void PairsAcross(const PairSink& sink, const std::vector<Cell>& queries, const std::vector<Cell>& home) {
    const Cell* cursors[9];
    std::fill(cursors, cursors + 9, home.data());
    for (const Cell* q = queries.data(); q->key != kEnd; ++q)
        for (int r = 0; r < 9; ++r)
            OfferRun(sink, q->entry, cursors[r], q->key + (r / 3 - 1) * kRowZ + (r % 3 - 1) * kRowY - 1);
}

// ---------------------------------------------------------------- planets

void PlanetPass(SectorObject* planet, SectorObject* other) {
    const int64_t d = SA_VecDistance(&Pos(planet), &Pos(other));
    const int32_t radius = O_GetRadius(planet);
    if (d <= radius) {
        planet->flags2 |= SA_FLAG2_TOUCHING;
        other->flags2 |= SA_FLAG2_TOUCHING;
        S_CollisionObjects(planet, other);
        return;
    }
    if (!IsShip(other) || d >= int64_t{radius} + SA_PLANET_ZONE || (other->flags2 & SA_FLAG2_TOUCHING)) return;
    if (other->flags & SA_FLAG_PLAYER) {
        Raise(SA_NOTIFY_OBJECT, "NotifyPlanetCollision", 0, nullptr);
        if (!PairStands(planet, other)) return;
    }
    const int32_t step = VER_FrameStep();
    if (step <= Qel_LongRandom(200)) return;
    const int64_t damage = S_PlanetDamage(int64_t{radius} + SA_PLANET_ZONE - d, O_GetMaxHull(other), step);
    if (damage < 1) return;
    if (other->eventObject) {
        Qel_DPrintf(0, "%d.MakeDamage: %d\n", Id(other), Clamp32(damage));
        const int32_t args[2] = {Clamp32(damage), 0};
        Raise(other->eventObject, "MakeDamage", 2, args);
        if (!PairStands(planet, other)) return;
    }
    O_DamageObject(other, planet, Clamp32(damage), -1);
    if (other->hull == 0 && !(other->flags & SA_FLAG_KILLED)) {
        KillWithStory(other, planet, kKillCollision);
        PairStands(planet, other);
    }
}

// ---------------------------------------------------------------- approach

void Approach(SectorObject* ship, SectorObject* partner) {
    const int16_t m = partner->mainType;
    // Only holders are landed in or warped through: the others cost no distance.
    if (!(partner->flags & SA_FLAG_HOLDER)) return;
    if (!(m == SA_MT_SHIP || m == SA_MT_DOCK || m == SA_MT_FACTORY || m == SA_MT_GATE)) return;
    const int32_t distance = Clamp32(SA_VecDistance(&Pos(ship), &Pos(partner)));
    const int32_t state = O_GetApproachState(ship, partner, distance);
    if (state < 1) return;
    ship->flags2 |= SA_FLAG2_APPROACH;
    const int32_t arg = Id(ship);
    if (state == 2) {
        ship->flags2 |= SA_FLAG2_MAY_LAND;
        if (ship->speed <= O_GetDockingSpeed(ship) && !SA_IsEnemy(ship, partner))
            Raise(ship->eventObject, "CanLand", 1, &arg);
    } else if (state == 3 && m == SA_MT_GATE && partner->subType != kGateNoWarp) {
        Raise(ship->eventObject, "CanWarp", 1, &arg);
    }
}

// ---------------------------------------------------------------- pairs

void BoxPass(SectorObject* a, SectorObject* b) {
    const int64_t reach = int64_t{O_GetRadius(a)} + O_GetRadius(b);
    const QelVector& p = Pos(a);
    const QelVector& q = Pos(b);
    if (std::llabs(int64_t{p.x} - q.x) >= reach || std::llabs(int64_t{p.y} - q.y) >= reach ||
        std::llabs(int64_t{p.z} - q.z) >= reach)
        return;
    ++g_SCollisionCounts.pairTests;
    if (SA_VecDistance(&p, &q) >= reach || Docking(a, b)) return;
    a->flags2 |= SA_FLAG2_NEAR;
    b->flags2 |= SA_FLAG2_NEAR;
    if ((IsShot(a) && OwnShot(a, b)) || (IsShot(b) && OwnShot(b, a))) return;
    ++g_SCollisionCounts.modelTests;
    if (B3D_CheckCollisionPair(a->instance, b->instance, O_GetRadius(a), O_GetRadius(b)) <= 0) return;
    a->flags2 |= SA_FLAG2_TOUCHING;
    b->flags2 |= SA_FLAG2_TOUCHING;
    if (g_SystemState && (g_SystemState->debugFlags & kLogPairs)) {
        Qel_DPrintf(kLogPairs, "Collision of %s and %s\n", O_GetTypeName(a), O_GetTypeName(b));
        Qel_DPrintf(kLogPairs, "Pos1=%d/%d/%d Pos2=%d/%d/%d\n", p.x, p.y, p.z, q.x, q.y, q.z);
    }
    S_CollisionObjects(a, b);
}

// The beams among the pass's objects (`beams`, a subset of `ids`): a type's
// beam flag never changes.
void Beams(SectorObject* sector, const std::vector<uint32_t>& ids, const std::vector<uint32_t>& beams) {
    for (uint32_t id : beams) {
        SectorObject* beam = SA_PassChild(id, sector);
        const BulletData* b = beam ? O_BulletData(beam) : nullptr;
        if (!b || !(b->typeFlags & SA_BULLET_BEAM) || !Eligible(beam, false)) continue;
        const int32_t range =
            Clamp32(int64_t{TypeField(beam, SA_TF_BULLET_SPEED)} * TypeField(beam, SA_TF_BULLET_LIFETIME) / 1000);
        for (uint32_t other : ids) {
            SectorObject* o = other == id ? nullptr : SA_PassChild(other, sector);
            if (!o || !Eligible(o, false) || o == b->owner || o->mainType == SA_MT_BULLET) continue;
            if (B3D_CheckCollisionHier(beam->instance, o->instance, range, O_GetRadius(o)) <= 0) continue;
            S_CollisionObjects(beam, o);
            break;
        }
        if (s_pass->ended) return;
    }
}

void Warning(SectorObject* sector) {
    SectorObject* ref = SA_GetReferenceObject();
    if (!ref || ref->container != sector || !(ref->flags & SA_FLAG_COLLISION_WARNING)) return;
    const ShipData* d = O_ShipData(ref);
    const bool docking = d && d->CourseType == VER_LAND;
    if (!docking && !(ref->flags & SA_FLAG_KILLED)) {
        Raise(ref->eventObject, "CollisionWarn", 0, nullptr);
        const int32_t text = TypeField(ref, SA_TF_TEXT_ID);
        const char* name = text < 1 ? "=unknown object=" : O_GetTypeName(ref);
        Qel_DPrintf(kLogWarning, "CollisionWarn: %d(%s)\n", Id(ref), name ? name : "=TextIDNotFound=");
    }
    ref->flags &= ~SA_FLAG_COLLISION_WARNING;
}

// ---------------------------------------------------------------- resolving

// A ship and what it may catch: a ware, a rock of a debris field, debris.
bool Catch(SectorObject* a, SectorObject* b) {
    for (const auto& [ship, ware] : {std::pair{a, b}, std::pair{b, a}}) {
        if (!IsShip(ship) || !ship->eventObject) continue;
        if (!O_IsCollectible(ware)) continue;
        const int32_t arg = Id(ware);
        return Ask(ship->eventObject, "CatchWare", 1, &arg, 0) != 0;
    }
    return false;
}

void Hit(SectorObject* shot, SectorObject* target) {
    if (OwnShot(shot, target)) return;
    SpaceGameWords* game = g_SpaceRoot ? &g_SpaceRoot->game : nullptr;
    SectorObject* shooter = shot;
    int32_t shield = 0, hull = 0;
    int16_t kind = kKillMissile;
    if (BulletData* b = O_BulletData(shot)) {
        const int32_t pct = S_HullPercent(Qel_RandomRaw() & 32767);
        shield = Clamp32(int64_t{TypeField(shot, SA_TF_BULLET_SHIELD_DAMAGE)} * pct / 100);
        hull = Clamp32(int64_t{TypeField(shot, SA_TF_BULLET_HULL_DAMAGE)} * pct / 100);
        if (b->owner && !(b->owner->flags & SA_FLAG_KILLED)) shooter = b->owner;
        if (game && shooter->flags & SA_FLAG_PLAYER) ++game->laserHits;
        kind = kKillBullet;
    } else if (MissileData* m = O_MissileData(shot)) {
        shield = hull = TypeField(shot, SA_TF_MISSILE_DAMAGE);
        if (m->launcher && !(m->launcher->flags & SA_FLAG_KILLED)) shooter = m->launcher;
        if (game && shooter->flags & SA_FLAG_PLAYER) ++game->missileHits;
    }
    O_DamageObject(target, shot, shield, hull);
    Qel_DPrintf(kLogHits, "%d.AttackedBy: %d\n", Id(target), Id(shooter));
    const int32_t args[2] = {Id(shooter), shield};
    Raise(target->eventObject, "AttackedBy", 2, args);
    if (!PairStands(shot, target)) return;
    shot->flags2 |= SA_FLAG2_HAS_HIT;
    target->flags2 |= SA_FLAG2_HIT_A | SA_FLAG2_HIT_B;
    SS_KillObject(shot, 0, target, 0);
    if (target->hull == 0 && O_GetMaxHull(target) > 0) KillWithStory(target, shooter, kind);
}

void Bounce(SectorObject* a, SectorObject* b) {
    // A story may set a negative mass: it counts as none, as in the damage.
    const int64_t ma = std::max(a->mass, 0), mb = std::max(b->mass, 0);
    const int64_t sum = ma + mb;
    if (sum <= 0) return;
    int64_t va[3], vb[3];
    Motion(a, va);
    Motion(b, vb);
    // Each side takes the difference of the motions by 2 x the other's mass share.
    const int64_t fa = 2 * mb * 65536 / sum;
    const int64_t fb = 2 * ma * 65536 / sum;
    for (int k = 0; k < 3; ++k) {
        if (!(a->flags2 & SA_FLAG2_STATIONARY)) a->drift[k] = Clamp32(a->drift[k] + (vb[k] - va[k]) * fa / 65536);
        if (!(b->flags2 & SA_FLAG2_STATIONARY)) b->drift[k] = Clamp32(b->drift[k] + (va[k] - vb[k]) * fb / 65536);
    }
    for (SectorObject* o : {a, b}) {
        if (!(o->flags & SA_FLAG_PLAYER)) continue;
        // The push comes from the partner: its bearing in hundredths of a degree.
        const SectorObject* from = o == a ? b : a;
        const double dx = static_cast<double>(Pos(from).x) - Pos(o).x;
        const double dz = static_cast<double>(Pos(from).z) - Pos(o).z;
        S_FFStartEffect(static_cast<int32_t>(std::atan2(dx, dz) * 18000.0 / 3.14159265358979) + 18000);
    }
}

void CollisionDamage(SectorObject* a, SectorObject* b) {
    int64_t va[3], vb[3];
    Motion(a, va);
    Motion(b, vb);
    const int64_t rel = Qel_VecLength64(Clamp32(va[0] - vb[0]), Clamp32(va[1] - vb[1]), Clamp32(va[2] - vb[2]));
    const int64_t mass = std::min<int64_t>(std::max(a->mass, 0), std::max(b->mass, 0));
    const int64_t base = std::max(kCollisionFloor, rel * mass / 65536 / kCollisionDivisor);
    for (const auto& [side, partner] : {std::pair{a, b}, std::pair{b, a}}) {
        if (side->mainType == SA_MT_PLANET || side->mainType == SA_MT_SUN) continue;
        if (side->mainType == SA_MT_ASTEROID && (side->flags2 & SA_FLAG2_HIT_B)) continue;
        const int64_t bound = 2 * int64_t{O_GetMaxHull(side)} + O_GetShield(side);
        const int32_t damage = Clamp32(std::min(base, std::max<int64_t>(bound, kCollisionFloor)));
        if (IsShip(side) && side->eventObject) {
            const int32_t args[2] = {damage, 1};
            Raise(side->eventObject, "MakeDamage", 2, args);
            if (!PairStands(a, b)) return;
            Qel_DPrintf(kLogHits, "%d.CollAttackedBy: %d\n", Id(side), Id(partner));
            const int32_t attacked[2] = {Id(partner), 0};
            Raise(side->eventObject, "AttackedBy", 2, attacked);
            if (!PairStands(a, b)) return;
        }
        O_DamageObject(side, partner, damage, -1);
        if (side->hull == 0 && O_GetMaxHull(side) > 0) {
            KillWithStory(side, partner, kKillCollision);
            if (!PairStands(a, b)) return;
        }
    }
}

}  // namespace

S_CollisionCounts g_SCollisionCounts = {0, 0};

std::vector<uint64_t> S_FindPairs(std::span<const S_PairEntry> entries) {
    std::vector<uint64_t> out;
    const PairSink sink{entries, out};
    const auto n = static_cast<uint32_t>(entries.size());
    // Planets and holders reach beyond the radii: their pairs are not searched.
    std::vector<uint32_t> ships;
    if (std::any_of(entries.begin(), entries.end(), [](const S_PairEntry& e) { return e.holder; }))
        for (uint32_t i = 0; i < n; ++i)
            if (entries[i].ship) ships.push_back(i);
    // The searched objects by level, finest first.
    std::vector<uint32_t> byLevel;
    std::vector<int> level(n, -1);
    size_t start[kLevels + 1] = {};
    for (uint32_t i = 0; i < n; ++i) {
        const S_PairEntry& e = entries[i];
        if (e.beam) continue;
        if (e.planet) {
            for (uint32_t j = 0; j < n; ++j)
                if (j != i) sink.Offer(i, j);
            continue;
        }
        if (e.holder)
            for (uint32_t s : ships)
                if (s != i) sink.Offer(i, s);
        level[i] = Level(e.r);
        ++start[level[i] + 1];
    }
    for (int l = 0; l < kLevels; ++l) start[l + 1] += start[l];
    byLevel.resize(start[kLevels]);
    {
        size_t fill[kLevels];
        std::copy(start, start + kLevels, fill);
        for (uint32_t i = 0; i < n; ++i)
            if (level[i] >= 0) byLevel[fill[level[i]]++] = i;
    }
    // A level of a few objects is paired with the finer ones directly.
    constexpr size_t kFewAtALevel = 8;
    std::vector<Cell> home, queries;
    const auto byKey = [](const Cell& a, const Cell& b) { return a.key < b.key; };
    for (int l = 0; l < kLevels; ++l) {
        const size_t first = start[l], last = start[l + 1];
        if (first == last) continue;
        if (last - first <= kFewAtALevel) {
            for (size_t k = first; k < last; ++k)
                for (size_t m = 0; m < last; ++m)
                    if (m < first || m > k) sink.Offer(byLevel[k], byLevel[m]);
            continue;
        }
        const std::span<const uint32_t> set(byLevel.data(), last);
        const KeyFrame frame(entries, set, l);
        home.clear();
        queries.clear();
        home.reserve(last - first + 1);
        queries.reserve(first + 1);
        for (size_t k = first; k < last; ++k) home.push_back(frame.At(entries[set[k]], set[k]));
        for (size_t k = 0; k < first; ++k) queries.push_back(frame.At(entries[set[k]], set[k]));
        std::sort(home.begin(), home.end(), byKey);
        std::sort(queries.begin(), queries.end(), byKey);
        home.push_back(Cell{kEnd, 0});
        queries.push_back(Cell{kEnd, 0});
        PairsWithin(sink, home);
        PairsAcross(sink, queries, home);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

int64_t S_PlanetDamage(int64_t depth, int32_t maxHull, int32_t step) {
    if (depth <= 0) return 0;
    const int64_t full = std::max(kPlanetFloor, depth * maxHull / kPlanetDivisor);
    return full * step / 1000;
}

int64_t S_ShieldCost(int64_t damage, int32_t strength) {
    if (strength <= 0) return -1;
    return damage * 65536000 / strength;
}

int32_t S_HullPercent(int32_t draw) { return 96 + 5 * (draw & 32767) / 32768; }

int32_t S_JoltLevel(int64_t damage, int32_t mass) {
    if (mass <= 0) return 100;
    return static_cast<int32_t>(std::clamp<int64_t>(damage * 100 / mass, 5, 100));
}

int32_t SA_AskStory(uint32_t storyObject, const char* name, int32_t argc, const int32_t* args, int32_t unanswered) {
    SpaceRoot* root = g_SpaceRoot;
    if (!root || !g_SEContext || !storyObject) return unanswered;
    root->answerArrived = 0;
    SA_RunStory(storyObject, name, argc, args);
    if (!root->answerArrived || root->result.tag != VARTYPE_INTEGER) return unanswered;
    root->answerArrived = 0;
    return root->result.i;
}

void S_CollisionObjects(SectorObject* a, SectorObject* b) {
    if (!a || !b || !a->instance || !b->instance) return;
    SA_Pass pass;
    if (Catch(a, b)) return;
    if (!PairStands(a, b)) return;
    for (const auto& [rock, debris] : {std::pair{a, b}, std::pair{b, a}}) {
        if (rock->mainType != SA_MT_ASTEROID || debris->mainType != SA_MT_DEBRIS) continue;
        const int32_t arg = Id(rock);
        Raise(rock->eventObject ? rock->eventObject : debris->eventObject, "CreateRock", 1, &arg);
        if (!PairStands(a, b)) return;
    }
    if (SectorObject* shot = IsShot(a) ? a : IsShot(b) ? b : nullptr) {
        SectorObject* target = shot == a ? b : a;
        if (OwnShot(shot, target)) return;
        EO_CollisionEffect(shot, target);
        EO_PlayCollisionSound(shot, target);
        Hit(shot, target);
        return;
    }
    Bounce(a, b);
    EO_CollisionEffect(a, b);
    EO_PlayCollisionSound(a, b);
    CollisionDamage(a, b);
}

void S_DamageObject(SectorObject* object, SectorObject* attacker, int32_t shieldDamage, int32_t hullDamage) {
    if (!object) return;
    if (hullDamage == -1) hullDamage = shieldDamage;
    const int16_t m = object->mainType;
    const bool shielded =
        (m == SA_MT_SHIP || ((object->flags & SA_FLAG_HOLDER) && m != SA_MT_SECTOR && m != SA_MT_GATE)) &&
        !(object->flags & SA_FLAG_NO_SHIELDS);
    int64_t passed = std::max(shieldDamage, 0);
    bool held = false;
    if (shielded && passed > 0) {
        std::vector<SectorObject*> shields;
        for (SectorObject* c = SA_FirstChild(object); c; c = SA_ListNext(c))
            if (c->mainType == SA_MT_SHIELD && c->typeData) shields.push_back(c);
        for (SectorObject* s : shields) {
            ShieldData* d = static_cast<ShieldData*>(s->typeData);
            const int32_t strength = TypeField(s, SA_TF_SHIELD_STRENGTH);
            const int64_t cost = S_ShieldCost(passed, strength);
            if (cost < 0 || d->energy <= 0) continue;
            const int64_t have = int64_t{d->energy} * 1000;
            if (cost <= have) {
                d->energy = Clamp32((have - cost) / 1000);
                passed = 0;
                break;
            }
            // What the shield's energy stood for passes no further.
            passed -= have * strength / 65536000;
            d->energy = 0;
            if (passed <= 0) passed = 0;
        }
        if (passed == 0 && !shields.empty()) {
            held = true;
            for (SectorObject* s : shields) s->flags2 |= SA_FLAG2_SHIELD_HELD;
        }
    }
    const BulletData* bullet = attacker ? O_BulletData(attacker) : nullptr;
    const uint32_t bits = bullet ? bullet->typeFlags : 0;
    const int32_t pct = S_HullPercent(Qel_RandomRaw() & 32767);
    int64_t delta = 0;
    if (bits & (SA_BULLET_THROUGH_SHIELDS | SA_BULLET_REPAIRS)) {
        if (!held || (bits & SA_BULLET_THROUGH_SHIELDS)) {
            delta = int64_t{hullDamage} * pct / 100;
            if (bits & SA_BULLET_REPAIRS) delta = -delta;
        }
    } else if (!held) {
        const int64_t share = shieldDamage > 0 ? int64_t{hullDamage} * passed / shieldDamage : hullDamage;
        delta = share * pct / 100;
    }
    const int32_t top = O_GetMaxHull(object);
    if (delta != 0 && top > 0)
        object->hull = Clamp32(std::clamp<int64_t>(int64_t{object->hull} - delta, 0, std::max(top, object->hull)));
    if (!object->instance) return;
    if (object->flags & SA_FLAG_PLAYER) INS_StartShipRappel(object, S_JoltLevel(shieldDamage, object->mass));
}

void S_CheckCollisions(SectorObject* sector) {
    if (!sector || !O_GetChildList(sector)) return;
    SA_Pass pass;
    PassState state;
    state.sector = sector;
    PassState* outer = s_pass;
    s_pass = &state;
    const SectorSpace* space = O_Sector(sector);
    const bool shipsOnly = space && (space->spaceFlags & SA_SPACE_SHIPS_COLLIDE_ONLY);
    // What the pair search reads of each object, taken once: positions do not
    // change during the pass, and whatever a callback changes is checked again
    // before a pair is handled.
    // The children are listed first and read after, so that the reads of
    // one object need not wait for the walk to reach the next.
    std::vector<SectorObject*> children;
    for (SectorObject* o = SA_FirstChild(sector); o; o = SA_ListNext(o)) children.push_back(o);
    std::vector<uint32_t> ids, beams;
    std::vector<SectorObject*> live;
    std::vector<S_PairEntry> entries;
    ids.reserve(children.size());
    live.reserve(children.size());
    entries.reserve(children.size());
    for (SectorObject* o : children) {
        ids.push_back(o->id);
        if (o->container != sector || (o->flags & SA_FLAG_KILLED) || !o->instance) continue;
        o->flags2 &= ~(SA_FLAG2_NEAR | SA_FLAG2_TOUCHING | SA_FLAG2_APPROACH | SA_FLAG2_MAY_LAND);
        const BulletData* bullet = O_BulletData(o);
        const bool beam = bullet && (bullet->typeFlags & SA_BULLET_BEAM);
        if (beam) beams.push_back(o->id);
        if (!Eligible(o, shipsOnly)) continue;
        const int16_t m = o->mainType;
        live.push_back(o);
        entries.push_back(S_PairEntry{Pos(o).x, Pos(o).y, Pos(o).z, O_GetRadius(o), IsShip(o), m == SA_MT_PLANET,
                                      (o->flags & SA_FLAG_HOLDER) &&
                                          (m == SA_MT_SHIP || m == SA_MT_DOCK || m == SA_MT_FACTORY || m == SA_MT_GATE),
                                      bullet != nullptr, beam});
    }
    Beams(sector, ids, beams);
    // A shot flies farther in a frame than a ship is wide: its way since the
    // last frame is swept, so that it cannot pass through what it hits.
    for (size_t i = 0; i < live.size() && !state.ended; ++i)
        if (entries[i].bullet && !entries[i].beam && Eligible(live[i], shipsOnly)) O_SweepBullet(live[i]);
    // The pairs come in the order of a loop over every pair, so a first object
    // that drops out skips the rest of its pairs as that loop would.
    const std::vector<uint64_t> pairs = state.ended ? std::vector<uint64_t>{} : S_FindPairs(entries);
    uint32_t skipped = UINT32_MAX;
    for (size_t k = 0; k < pairs.size() && !state.ended; ++k) {
        const auto i = static_cast<uint32_t>(pairs[k] >> 32);
        if (i == skipped) continue;
        const S_PairEntry& ea = entries[i];
        const S_PairEntry& eb = entries[static_cast<uint32_t>(pairs[k])];
        SectorObject* a = live[i];
        SectorObject* b = live[static_cast<uint32_t>(pairs[k])];
        if (!Eligible(a, shipsOnly)) {
            skipped = i;
            continue;
        }
        if (!Eligible(b, shipsOnly) || (a->mainType == SA_MT_SPECIAL && b->mainType == SA_MT_SPECIAL)) continue;
        if (ea.planet) PlanetPass(a, b);
        else if (eb.planet) PlanetPass(b, a);
        else {
            if (ea.ship) Approach(a, b);
            if (eb.ship && !state.ended && PairStands(a, b)) Approach(b, a);
            if (!PairStands(a, b)) {
                skipped = i;
                continue;
            }
            BoxPass(a, b);
        }
        PairStands(a, b);
    }
    if (!state.ended) Warning(sector);
    s_pass = outer;
}
