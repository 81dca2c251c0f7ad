#include "scene/caches.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <vector>

#include "base/general.h"
#include "base/log.h"
#include "base/random.h"
#include "base/table.h"
#include "base/texcache.h"
#include "scene/bodybin.h"
#include "scene/bodytext.h"
#include "scene/cutfiles.h"
#include "scene/dummies.h"
#include "scene/freeing.h"
#include "scene/ids.h"
#include "scene/polybuild.h"
#include "scene/smallops.h"
#include "scene/startup.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "system/userpaths.h"

void (*g_B3DMoviePollHook)() = nullptr;

namespace {
constexpr uint32_t PROFILING_CONVERT_BODIES = 0x800;
constexpr int32_t FIRST_EMBEDDED_BODY = 100000;
constexpr uint16_t LAST_PART_WORD = 1157;

void PollMovie() {
    if (g_B3DMoviePollHook) g_B3DMoviePollHook();
}

// A body of version-6 materials with a second level and four or more parts
// gives every triangle of its last part the word 1157.
void MarkLastPart(Body3D* body) {
    if (!(body->flags & BODY_MATERIAL6) || body->levelCount < 2 || !body->levels || !body->levels[0]) return;
    BodyLevel* level = body->levels[0];
    if (level->partCount < 4 || !level->parts) return;
    BodyPart* last = level->parts[level->partCount - 1];
    if (!last || last->groupCount < 1) return;
    for (int32_t g = 0; g < last->groupCount; ++g) {
        BodyGroup& group = last->groups[g];
        for (int32_t t = 0; t < group.triCount; ++t) group.tris[t].word = LAST_PART_WORD;
    }
}
}  // namespace

Body3D* B3D_GetBody(int32_t id) {
    if (!g_B3DState) return nullptr;
    auto* body = static_cast<Body3D*>(B3D_FindBody(id));
    if (!body) {
        if (B3D_BodyIsUsed(id)) return nullptr;
        // A body known by its file name has no numbered file.
        const B3DBodySlot* slot = B3D_BodySlotOf(id);
        const char* name = slot ? slot->name : nullptr;
        body = B3D_LoadBodyBin(nullptr, id, name);
        if (body) {
            PollMovie();
        } else {
            body = B3D_LoadBody2(nullptr, id, name);
            if (!body) {
                B3D_BodySetUsed(id);
                return nullptr;
            }
            PollMovie();
            if (g_SystemState && (g_SystemState->SysProfilingFlags & PROFILING_CONVERT_BODIES)) {
                B3D_SaveBodyBin(body);
                PollMovie();
            }
        }
    }
    body->lastUse = 0;
    MarkLastPart(body);
    return body;
}

int32_t B3D_BodyIsLoaded(int32_t id) {
    if (id >= FIRST_EMBEDDED_BODY) return 1;
    if (B3D_BodyIsUsed(id)) return 0;
    return B3D_GetBody(id) ? 1 : 0;
}

J3D_Cut* J3D_GetCut(int32_t id) {
    if (!g_B3DState) return nullptr;
    if (auto* cut = reinterpret_cast<J3D_Cut*>(Qel_TableGet(g_B3DState->cutTable, static_cast<uint32_t>(id))))
        return cut;
    if (B3D_CutIsUsed(id)) return nullptr;
    J3D_Cut* cut = J3D_LoadCutBin(id);
    if (!cut) cut = J3D_LoadCut2(id);
    if (!cut) {
        B3D_CutSetUsed(id);
        return nullptr;
    }
    // The cache enters what the readers made, so a reader never leaves a
    // half-read cut in the table.
    cut->id = static_cast<uint32_t>(id);
    if (Qel_TableGet(g_B3DState->cutTable, cut->id) != reinterpret_cast<uintptr_t>(cut))
        Qel_TableSet(g_B3DState->cutTable, cut->id, reinterpret_cast<uintptr_t>(cut));
    PollMovie();
    return cut;
}

void J3D_FreeCutEntry() {
    J3D_FreeAllCuts();
    B3D_FreeAllBodies();
}

void B3D_FreeBodyTables() {
    B3DState* s = g_B3DState;
    if (!s) return;
    B3D_FreeArrayTable();
    B3D_FreeCutIdTable();
    B3D_FreeBodyIdTable();
    B3D_FreeSkinTable();
    B3D_FreeParticleLists();
    B3D_FreeIconLists();
    B3DB_FreeMaterials();
    TC_FreeTextureTables();
    // The loaders' scratch: the polygon builder's and the cut key reader's.
    B3D_PolyWorkFree();
    B3D_FreeScratchAreas();
    for (int32_t t = 0; t < J3D_KEY_TRACKS; ++t) {
        J3D_KeyBuffer& b = s->cutBuffers[t];
        if (b.keys) B3D_FreeMemJ(b.capacity * J3D_KeySize(t), b.keys, B3D_MEM_VIRTUAL | B3D_MEM_ZERO);
        b = {};
    }
    J3D_TakeFreeAll();
    J3D_FreeCutEntry();
    Qel_TableFree(s->cutTable);
    s->cutTable = nullptr;
    Qel_TableFree(s->takeTable);
    s->takeTable = nullptr;
    while (auto* d = B3D_First<B3DDrawItem>(&s->drawFree)) {
        B3D_ListRemove(B3D_Node(d));
        B3D_FreeRecordI(d);
    }
}

void B3DB_ConvertAllBodiesToBinary() {
    QelDirListing* dir = Qel_OpenDir("*.*", "v", 0);
    if (!dir) return;
    while (const char* name = Qel_NextDirEntry(dir)) {
        Qel_DPrintf(0, "B3DB_ConvertAllBodiesToBinary: %s\n", name);
        const size_t len = std::strlen(name);
        if (len < 5) continue;
        // Plain text bodies are converted as well as packed ones.
        const char* ext = name + len - 4;
        if (strcasecmp(ext, ".pbd") != 0 && strcasecmp(ext, ".bod") != 0) continue;
        const int32_t id = static_cast<int32_t>(std::strtol(name, nullptr, 10));
        if (id < 0) continue;
        if (B3D_GetBody(id)) Qel_DPrintf(0, "B3DB_ConvertAllBodiesToBinary: Loaded %d\n", static_cast<int>(id));
    }
    Qel_CloseDir(dir);
}

int32_t B3D_InstSetSound(Inst3D* inst, int32_t soundId) {
    if (!inst) return 0;
    Body3D* body = B3D_GetBody(inst->bodyId);
    if (!body) return 0;
    // The defaults in record order: both volume bytes full, the sound, 1, 180,
    // 60, 0, 0, -1.0, -1, -1.
    body->soundValue = static_cast<int16_t>(0xFFFF);
    body->soundFlags = static_cast<uint32_t>(soundId);
    body->soundInts[0] = 1;
    body->soundInts[1] = 180;
    body->soundFixed[0] = 60;
    body->soundFixed[1] = 0;
    body->soundFixed[2] = 0;
    body->soundInts2[0] = -QEL_FIX_ONE;
    body->soundInts2[1] = -1;
    body->soundShorts[0] = -1;
    body->soundShorts[1] = 0;
    inst->soundId = soundId;
    return 1;
}

// ------------------------------------------------------------------ vertex queries

namespace {
__extension__ typedef unsigned __int128 Wide;

constexpr uint32_t INST2_QUERY_SKIP = 0x1 | INST2_SOUND_CHANNEL;
constexpr int32_t PATH_QUERY_SKIP = 0xffe;

bool TakesPart(const Inst3D* inst) {
    return inst->bodyId > 0 && !(inst->flags & INST_INVISIBLE) && !(inst->flags2 & INST2_QUERY_SKIP) &&
           !(inst->pathWord & PATH_QUERY_SKIP);
}

// The level the queries read: the third, or the last of a body with fewer.
const BodyLevel* QueryLevel(const Body3D* body, int32_t wanted) {
    if (!body || body->levelCount < 1 || !body->levels) return nullptr;
    return body->levels[std::clamp(wanted, 0, body->levelCount - 1)];
}

int32_t Clamp32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// A point of the parent's frame in the instance's frame.
QelVector IntoFrame(const Inst3D* inst, const QelVector& p) {
    const QelVector d{Clamp32(int64_t(p.x) - inst->pos.x), Clamp32(int64_t(p.y) - inst->pos.y),
                      Clamp32(int64_t(p.z) - inst->pos.z), 0};
    QelVector out{};
    Qel_MatTransMulVec(&inst->matrix, &d, &out);
    return out;
}

Wide SquaredDistance(const QelVector& q, const BodyPoint& pt) {
    const int64_t dx = int64_t(q.x) - int64_t(pt.x) * 4;
    const int64_t dy = int64_t(q.y) - int64_t(pt.y) * 4;
    const int64_t dz = int64_t(q.z) - int64_t(pt.z) * 4;
    return Wide(dx * dx) + Wide(dy * dy) + Wide(dz * dz);
}

int32_t WideSqrt(Wide v) {
    auto r = static_cast<uint64_t>(std::sqrt(static_cast<long double>(v)));
    while (r > 0 && Wide(r) * r > v) --r;
    while (Wide(r + 1) * (r + 1) <= v) ++r;
    return static_cast<int32_t>(std::min<uint64_t>(r, INT32_MAX));
}

// Calls visit(instance, level, point in its frame) for every instance of the
// tree that takes part; a false answer ends the walk.
template <class Visit>
bool Walk(Inst3D* inst, const QelVector& parentPoint, int32_t wantedLevel, Visit& visit) {
    const QelVector local = IntoFrame(inst, parentPoint);
    if (TakesPart(inst)) {
        const BodyLevel* level = QueryLevel(B3D_GetBody(inst->bodyId), wantedLevel);
        if (level && level->points && !visit(inst, level, local)) return false;
    }
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c))
        if (!Walk(c, local, wantedLevel, visit)) return false;
    return true;
}

constexpr int32_t THIRD_LEVEL = 2;
}  // namespace

int32_t B3D_InstPointsInRadius(Inst3D* inst, int32_t radius, const QelVector* point, Inst3D** insts, int32_t* indices,
                               int32_t* distances) {
    if (!inst || !point) return 0;
    const Wide limit = Wide(int64_t(radius) * radius);
    int32_t count = 0;
    auto visit = [&](Inst3D* i, const BodyLevel* level, const QelVector& q) {
        for (int32_t p = 0; p < level->pointCount; ++p) {
            const Wide d2 = SquaredDistance(q, level->points[p]);
            if (d2 > limit) continue;
            if (count >= B3D_MAX_RADIUS_POINTS) return false;
            insts[count] = i;
            indices[count] = p;
            distances[count] = WideSqrt(d2);
            ++count;
        }
        return true;
    };
    Walk(inst, *point, THIRD_LEVEL, visit);
    return count;
}

int32_t B3D_InstPointsInRadiusNear(Inst3D* inst, int32_t radius, const QelVector* point) {
    if (!inst || !point) return 0;
    const Wide limit = Wide(int64_t(radius) * radius);
    bool found = false;
    auto visit = [&](Inst3D*, const BodyLevel* level, const QelVector& q) {
        for (int32_t p = 0; p < level->pointCount; ++p)
            if (SquaredDistance(q, level->points[p]) <= limit) {
                found = true;
                return false;
            }
        return true;
    };
    Walk(inst, *point, THIRD_LEVEL, visit);
    return found ? 1 : 0;
}

int32_t B3D_InstDistanceToNearestVertex(Inst3D* inst, const QelVector* point, int32_t level) {
    if (!inst || !point) return -1;
    bool any = false;
    Wide best = 0;
    auto visit = [&](Inst3D*, const BodyLevel* l, const QelVector& q) {
        for (int32_t p = 0; p < l->pointCount; ++p) {
            const Wide d2 = SquaredDistance(q, l->points[p]);
            if (!any || d2 < best) best = d2;
            any = true;
        }
        return true;
    };
    Walk(inst, *point, level, visit);
    return any ? WideSqrt(best) : -1;
}

int32_t B3D_BodyRandomSurfacePoint(Inst3D* inst, uint32_t flagMask, uint32_t flagValue, Inst3D** outInst,
                                   QelVector* outPoint) {
    if (!inst) return 0;
    std::vector<std::pair<Inst3D*, const BodyLevel*>> candidates;
    const QelVector origin{};
    auto visit = [&](Inst3D* i, const BodyLevel* level, const QelVector&) {
        if ((i->flags & flagMask) == flagValue && level->pointCount > 0) candidates.emplace_back(i, level);
        return true;
    };
    Walk(inst, origin, THIRD_LEVEL, visit);
    const int32_t pick = Qel_LongRandom(static_cast<int32_t>(std::min<size_t>(candidates.size(), QEL_RAND_MAX)));
    if (candidates.empty()) return 0;
    const auto& [chosen, level] = candidates[static_cast<size_t>(pick)];
    const BodyPoint& p = level->points[Qel_LongRandom(std::min(level->pointCount, QEL_RAND_MAX))];
    if (outInst) *outInst = chosen;
    if (outPoint) *outPoint = {p.x * 4, p.y * 4, p.z * 4, 0};
    return 1;
}
