#include "space/cutscene.h"

#include <algorithm>
#include <iterator>
#include <climits>
#include <cstdio>
#include <initializer_list>
#include <utility>

#include "base/log.h"
#include "base/memory.h"
#include "base/random.h"
#include "base/table.h"
#include "base/texanim.h"
#include "render/lights.h"
#include "scene/allocs.h"
#include "scene/caches.h"
#include "scene/freeing.h"
#include "scene/geometry.h"
#include "scene/jobs.h"
#include "scene/lists.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "scene/trees.h"
#include "space/kill.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/takes.h"
#include "space/typesdb.h"

namespace {

constexpr uint32_t kMemFlags = Int_MemTag(14) | INT_MEM_ZERO_TAIL;
constexpr uint32_t kTopInstanceMark = INST_FRAME_MARK;
constexpr uint32_t kLoopingJob = 0x800;
constexpr int32_t kLightBody = -2;
constexpr int32_t kDefaultLightRange = 300000;
constexpr int32_t kContainerBodyKind = 8;
constexpr int32_t kPortReverse = 64;
constexpr int32_t kDockDummyKind = 1;
constexpr int32_t kNoSpecialState = 3;
constexpr int32_t kFarAway = 0x7ffffff;
constexpr uint32_t kSecondFlagsFixedStart = 0x8000000;

SpaceRoot* Root() { return g_SpaceRoot; }

// An instance a record keeps, if it still lives.
Inst3D* LiveInst(const SA_TakeSlot& slot) {
    return slot.inst && B3D_InstFind(slot.instId) == slot.inst ? slot.inst : nullptr;
}

void FreeSlots(SA_Take* take) {
    if (take->slots) Int_FreeMem(take->slots, sizeof(SA_TakeSlot) * static_cast<size_t>(take->slotCount), kMemFlags);
    take->slots = nullptr;
    take->slotCount = 0;
}

bool IsDockPortPath(int32_t body) {
    int32_t kind = -1;
    const DummyRecord* d = SA_FindDummy(body, -1, &kind);
    if (!d) return false;
    return kind == kDockDummyKind || (kind == 0 && (d->flags & 0xFFFF));
}

void BuildPortTable(SectorObject* object) {
    DockPortTable* ports = O_PortTable(object);
    if (!ports || ports->built) return;
    ports->built = 1;
    ports->list = SA_GetTypeDockPorts(object->mainType, object->subType);
    const int32_t n = ports->list ? ports->list->count : 0;
    if (n > 0)
        ports->slots =
            static_cast<DockPortSlot*>(Int_AllocMem(sizeof(DockPortSlot) * static_cast<size_t>(n), kMemFlags));
    ports->slotCount = ports->slots ? n : 0;
    for (int32_t i = 0; i < ports->slotCount; ++i) ports->slots[i].index = i;
}

// A light for a path: -2 a point light with its fixed words, 1000..1999 a
// light of that light type.
Inst3D* NewPathLight(int32_t body) {
    Inst3D* light = B3D_LightAlloc();
    if (!light) return nullptr;
    light->lightRange = kDefaultLightRange;
    light->lightAtten[0] = QEL_FIX_ONE;
    light->lightAtten[1] = 0;
    light->lightAtten[2] = 8 * QEL_FIX_ONE;
    if (body == kLightBody) {
        light->flags |= INST_POINT_LIGHT;
    } else {
        const B3DLightType& type = g_B3DState->lightTypes[body - 1000];
        if (type.value > 0) light->lightRange = type.value;
        light->lightColor[0] = type.red;
        light->lightColor[1] = type.green;
        light->lightColor[2] = type.blue;
        if (type.kind == 1) light->flags |= INST_DIRECTIONAL_LIGHT;
        else if (type.kind == 2) light->flags |= INST_POINT_LIGHT;
        else if (type.kind == 3) light->flags |= INST_SPOT_LIGHT;
    }
    S_3DUpdateLight(light);
    return light;
}

// The port and approach points of an object's dock-port slots are the
// instances of their cut paths: docking steers to them and lands there.
void BindPortInstance(SectorObject* object, int32_t path, Inst3D* inst) {
    DockPortTable* ports = object ? O_PortTable(object) : nullptr;
    if (!ports || !ports->list || !ports->list->entries || !ports->slots) return;
    for (int32_t k = 0; k < ports->slotCount && k < ports->list->count; ++k) {
        const DockPortEntry& e = ports->list->entries[k];
        if (e.path == path) ports->slots[k].portInstance = inst;
        if (e.approachPath == path) ports->slots[k].approachInstance = inst;
    }
}

bool Animated(const J3D_CutPath& path) {
    const int32_t counts[] = {path.posCount,  path.rotCount,   path.targetCount,
                              path.rollCount, path.colorCount, path.fovCount};
    int32_t frames = 0;
    bool keys = false;
    for (int32_t c : counts) {
        if (c > 1) keys = true;
        if (c > frames) frames = c;
    }
    return keys && frames > 2;
}

// A path that holds its instance in one place: no channel with more than one key.
bool Held(const J3D_CutPath& path) {
    const int32_t counts[] = {path.posCount,  path.rotCount,   path.targetCount,
                              path.rollCount, path.colorCount, path.fovCount};
    return std::any_of(std::begin(counts), std::end(counts), [](int32_t c) { return c == 1; }) &&
           std::none_of(std::begin(counts), std::end(counts), [](int32_t c) { return c > 1; });
}

const J3D_Note* FindEvent(const J3D_Cut* cut, const char* text) {
    for (int32_t p = 0; p < cut->pathCount && cut->paths; ++p)
        if (const J3D_Note* n = SA_FindCutNote(cut->paths[p], text)) return n;
    return nullptr;
}

}  // namespace

// ---------------------------------------------------------------- takes

SA_Take* ST_CreateTake(int32_t id, SectorObject* sector) {
    SpaceRoot* root = Root();
    if (!root || !root->takes || id <= 0 || Qel_TableGet(root->takes, static_cast<uint32_t>(id))) return nullptr;
    auto* take = Int_AllocRecord<SA_Take>(kMemFlags);
    if (!take) return nullptr;
    take->id = id;
    take->sector = sector;
    Qel_TableSet(root->takes, static_cast<uint32_t>(id), reinterpret_cast<uintptr_t>(take));
    return take;
}

SA_Take* ST_FindTake(int32_t id) {
    SpaceRoot* root = Root();
    return root && root->takes ? reinterpret_cast<SA_Take*>(Qel_TableGet(root->takes, static_cast<uint32_t>(id)))
                               : nullptr;
}

void ST_RemoveTake(SA_Take* take) {
    if (!take) return;
    if (take->cutId) ST_UnloadCut(take);
    SpaceRoot* root = Root();
    if (root && root->takes &&
        Qel_TableGet(root->takes, static_cast<uint32_t>(take->id)) == reinterpret_cast<uintptr_t>(take))
        Qel_TableRemove(root->takes, static_cast<uint32_t>(take->id));
    FreeSlots(take);
    Int_FreeRecord(take, kMemFlags);
}

void ST_RemoveAllTakes(SpaceRoot* root) {
    if (!root || !root->takes) return;
    while (const uint32_t key = Qel_TableNext(root->takes, 0))
        ST_RemoveTake(reinterpret_cast<SA_Take*>(Qel_TableGet(root->takes, key)));
}

void ST_DropObject(SectorObject* object) {
    SpaceRoot* root = Root();
    if (!root || !root->takes) return;
    for (uint32_t k = Qel_TableNext(root->takes, 0); k; k = Qel_TableNext(root->takes, k)) {
        auto* take = reinterpret_cast<SA_Take*>(Qel_TableGet(root->takes, k));
        if (!take) continue;
        if (take->sector == object) take->sector = nullptr;
        for (int32_t i = 0; take->slots && i < take->slotCount; ++i)
            if (take->slots[i].object == object) take->slots[i] = SA_TakeSlot{};
    }
}

int32_t ST_StartTake(SA_Take* take, int32_t cutId, int32_t pathIndex, int32_t startMode, const QelVector* position,
                     const QelMatrix* matrix) {
    if (!take) return 0;
    if (take->cutId && take->cutId != cutId) ST_UnloadCut(take);
    if (!take->cutId && !ST_LoadCut(take, cutId, take->id)) return 0;
    ST_StartFromIndex(position, take, pathIndex, startMode, matrix);
    return 1;
}

void ST_StartFromIndex(const QelVector* position, SA_Take* take, int32_t pathIndex, int32_t /*flag*/,
                       const QelMatrix* matrix) {
    J3D_Cut* cut = take ? J3D_GetCut(take->cutId) : nullptr;
    if (!cut) return;
    if (position) {
        cut->placePos = *position;
        if (matrix) cut->placeMatrix = *matrix;
        cut->flags |= CUT_PLACED;
    }
    int32_t start = 0;
    int32_t end = 0;
    if (pathIndex >= 0) {
        char startName[24];
        char endName[24];
        std::snprintf(startName, sizeof startName, "start %d", pathIndex);
        std::snprintf(endName, sizeof endName, "end %d", pathIndex);
        const J3D_Note* s = FindEvent(cut, startName);
        if (s) {
            const J3D_Note* e = FindEvent(cut, endName);
            start = s->time;
            end = e ? e->time : 0;
            Qel_DPrintf(4, "ST_StartFromIndex(%d, %d) found starttime %d, endtime %d\n", take->id, pathIndex, start,
                        end);
        } else {
            Qel_DPrintf(0, "ST_StartFromIndex(%d, %d) can't find index in cut!\n", take->id, pathIndex);
        }
    }
    for (int32_t i = 0; take->slots && i < take->slotCount && i < cut->pathCount; ++i)
        if (Inst3D* inst = LiveInst(take->slots[i])) J3D_JobStartInst(inst, start, i, cut, end, 0);
}

void ST_UnloadCut(SA_Take* take) {
    if (!take) return;
    Qel_DPrintf(0, "ST_UnloadCut() cut %d start\n", take->cutId);
    SA_Pass pass;
    if (take->cutId && take->slots && take->slotCount > 0) {
        Qel_DPrintf(0, "ST_UnloadCut() starting unload cut %d, numinst=%d\n", take->cutId, take->slotCount);
        for (int32_t i = 0; i < take->slotCount; ++i)
            if (Inst3D* inst = LiveInst(take->slots[i])) J3D_JobStop(inst);
        for (int32_t i = 0; take->slots && i < take->slotCount; ++i) {
            const SA_TakeSlot slot = take->slots[i];
            take->slots[i] = SA_TakeSlot{};
            if (slot.object) {
                Qel_DPrintf(4, "ST_UnloadCut() removing object %d\n", static_cast<int32_t>(slot.object->id));
                O_UnlinkObject(slot.object, 0);
                O_FreeOrQueue(slot.object);
            } else if (Inst3D* inst = slot.inst && B3D_InstFind(slot.instId) == slot.inst ? slot.inst : nullptr) {
                B3D_InstFree(inst);
            }
        }
    }
    FreeSlots(take);
    if (J3D_Cut* cut = take->cutId ? J3D_CutIsLoaded(take->cutId) : nullptr) J3D_FreeCut(cut);
    take->cutId = 0;
    take->flags = 0;
}

// ---------------------------------------------------------------- cut scenes

Inst3D* O_BuildCutScene(int32_t cutId, Inst3D* parent, SectorObject* object, DockPortList* survey) {
    if (cutId == 0 || cutId == -1 || !g_B3DState) return nullptr;
    J3D_Cut* cut = J3D_GetCut(cutId);
    if (!cut) return nullptr;
    if (survey) {
        SA_ClearDockPortList(survey);
        for (int32_t i = 0; i < cut->pathCount && cut->paths; ++i) {
            const int32_t body = cut->paths[i].reference;
            if (!IsDockPortPath(body)) continue;
            int32_t kind = -1;
            const DummyRecord* d = SA_FindDummy(body, -1, &kind);
            DockPortEntry entry{i, -1, d ? static_cast<uint32_t>(d->flags) : 0u, body};
            for (int32_t j = i + 1; j < cut->pathCount; ++j)
                if (cut->paths[j].value2 == i) {
                    entry.approachPath = j;
                    break;
                }
            SA_AppendDockPortEntry(survey, entry);
        }
        return nullptr;
    }
    if (object) BuildPortTable(object);
    Inst3D* top = parent ? parent : B3D_AllocInst();
    if (!top) return nullptr;
    top->flags |= kTopInstanceMark;
    const int32_t count = cut->paths ? cut->pathCount : 0;
    int32_t origin = -1;
    const bool randomStart = !(object && (object->flags2 & kSecondFlagsFixedStart));
    for (int32_t i = 0; i < count; ++i) {
        const J3D_CutPath& path = cut->paths[i];
        const int32_t body = path.reference;
        if (body == 0 || (body < 0 && body != kLightBody)) continue;  // no body
        if (body == top->bodyId && origin < 0) {
            origin = i;
            continue;
        }
        if (body > 0 && SA_IsSpecialBody(body, kContainerBodyKind)) continue;
        Inst3D* inst = nullptr;
        if (body == kLightBody || (body >= 1000 && body <= 1999)) {
            inst = NewPathLight(body);
        } else {
            inst = B3D_AllocInst();
            if (inst) B3D_InstSetBody(inst, body);
        }
        if (!inst) continue;
        inst->cutId = cutId;
        inst->pathNr = i;
        B3D_InstAddToInst(inst, top);
        BindPortInstance(object, i, inst);
        if (Animated(path)) {
            J3D_JobStartInst(inst, 0, i, cut, 0, 0);
            inst->jobFlags |= kLoopingJob;
            if (randomStart) inst->jobOrigin -= Qel_RandomRaw() % (J3D_CutGetLength(&cut->paths[i]) + 1);
        } else if (Held(path)) {
            // Its one key places it: a marker or a part that never moves.
            J3D_JobStartInst(inst, 0, i, cut, 0, 0);
        }
    }
    if (origin >= 0 && cut->paths[origin].posCount > 0 && cut->paths[origin].posKeys) {
        const int32_t* v = cut->paths[origin].posKeys[0].value;
        cut->placePos = QelVector{-v[0], -v[1], -v[2], 0};
    }
    return top;
}

void O_InitCutScene(SectorObject* object) {
    if (!object || !object->instance) return;
    const int32_t cut = object->cutId ? object->cutId : SA_GetTypeCut(object->mainType, object->subType);
    if (O_BuildCutScene(cut, object->instance, object, nullptr)) {
        object->cutId = cut;
        return;
    }
    object->cutId = 0;
    if ((object->flags & SA_FLAG_HOLDER) && object->mainType == SA_MT_SPECIAL)
        if (SpecialData* special = O_SpecialData(object)) special->state = kNoSpecialState;
}

void SA_CreateObjectCutScene(SectorObject* object, int32_t cutId) {
    if (!object || !object->instance) return;
    Inst3D* top = object->instance;
    for (B3DListNode* n = B3D_ListFirst(&top->children); n;) {
        Inst3D* child = reinterpret_cast<Inst3D*>(n);
        n = B3D_ListNext(n);
        if (child->cutId != cutId) continue;
        J3D_Cut* cut = J3D_CutIsLoaded(cutId);
        const J3D_CutPath* path = cut && child->pathNr >= 0 && child->pathNr < cut->pathCount && cut->paths
                                      ? &cut->paths[child->pathNr]
                                      : nullptr;
        const int32_t father = path ? path->value2 : -1;
        if (father < 0) continue;
        Inst3D* fatherInst = nullptr;
        for (B3DListNode* m = B3D_ListFirst(&top->children); m; m = B3D_ListNext(m)) {
            Inst3D* other = reinterpret_cast<Inst3D*>(m);
            if (other != child && other->cutId == cutId && other->pathNr == father) fatherInst = other;
        }
        if (!fatherInst) {
            Qel_DPrintf(0, "SA_CreateObjectCutScene() Can't find father %d for path %d\n", father, child->pathNr);
            continue;
        }
        B3D_InstAddToInst(child, fatherInst);
    }
}

int32_t O_FindDockPort(SectorObject* carrier, int32_t port, SectorObject* ship) {
    DockPortTable* ports = carrier ? O_PortTable(carrier) : nullptr;
    if (!ports || port < 0 || port >= ports->slotCount || !ports->slots) return 0;
    DockPortSlot& slot = ports->slots[port];
    if (slot.occupant && slot.occupant != ship) return 0;
    if (!ship || !ship->instance) return 1;
    int64_t best = kFarAway;
    for (Inst3D* point : {slot.approachInstance, slot.portInstance}) {
        if (!point) continue;
        const int64_t d = SA_VecDistance(&point->worldPos, &ship->instance->pos);
        if (d < best) {
            best = d;
            ship->instance->pos = point->worldPos;
        }
    }
    return 1;
}

void O_SetDockPortAnim(int32_t port, SectorObject* object, int32_t startWindow, int32_t mode) {
    DockPortTable* ports = object ? O_PortTable(object) : nullptr;
    if (!ports || port < 0 || port >= ports->slotCount || !ports->slots || !ports->list || port >= ports->list->count ||
        !ports->list->entries)
        return;
    const DummyRecord* dummy = SA_FindDummy(ports->list->entries[port].dummyBody, 0, nullptr);
    DockPortSlot& slot = ports->slots[port];
    if (!dummy) return;
    int32_t w = startWindow < 0 ? 0 : startWindow >= SA_DUMMY_WINDOWS ? SA_DUMMY_WINDOWS - 1 : startWindow;
    const bool forwards = (ports->list->entries[port].flags & 0x20000) != 0;  // ANIMATEDF_DOCKPORT_UDFWD
    const bool reverse = (mode & 1) != (forwards ? 0 : 1);
    if (mode >= 2 && w + 1 < SA_DUMMY_WINDOWS) ++w;
    slot.animStart = reverse ? dummy->windows[w].end : dummy->windows[w].start;
    slot.animEnd = reverse ? dummy->windows[w].start : dummy->windows[w].end;
    if (reverse) slot.flags |= kPortReverse;
    else slot.flags &= ~static_cast<uint32_t>(kPortReverse);
    slot.flags |= SA_PORT_WINDOW_PENDING;
}

void O_SetDockPortAnimByClass(int32_t port, SectorObject* object, SectorObject* ship) {
    const TypeRecord* t = ship ? O_GetTypeRecord(ship) : nullptr;
    O_SetDockPortAnim(port, object, t ? t->field[SA_TF_CLASS] : 0, 0);
}

// ---------------------------------------------------------------- videos

int32_t SA_StartVideo(int32_t videoId, int32_t channel) {
    SA_VideoRecord video{};
    const int32_t index = SA_GetVideoById(videoId, &video);
    if (index < 0) return -1;
    TC_LoadMovie(video.movie, channel, video.start[0], video.start[1], video.start[2], video.end[0], video.end[1],
                 video.end[2]);
    return index;
}

// ---------------------------------------------------------------- looks

namespace {

constexpr int16_t kPlayerGroup = 10;
constexpr int32_t kLogoBodyKind = 3;
constexpr int32_t kCoveredLogoBody = 475;
constexpr int32_t kStateBodies[] = {214, 30, 265};  // any other state, state 1, state 2
constexpr int32_t kStateLightOffset = 0x12000;      // 1.125
constexpr int32_t kBeamBody = 10680;
constexpr int32_t kTowSpeedLimit = 40000;
constexpr int32_t kCornerScale = 15000;
constexpr int32_t kCornerHeightBase = 63569;
constexpr int32_t kCornerHeightStep = 18162;
// The corners around an object, as parts of its size (16.16).
constexpr int32_t kCornerX[4] = {QEL_FIX_ONE, -QEL_FIX_ONE, -QEL_FIX_ONE, QEL_FIX_ONE};
constexpr int32_t kCornerZ[4] = {QEL_FIX_ONE, QEL_FIX_ONE, -QEL_FIX_ONE, -QEL_FIX_ONE};

int32_t FixMul(int32_t a, int32_t b) { return static_cast<int32_t>((int64_t{a} * b) >> 16); }

// A new instance of the body hung under the parent at the position, or null
// when the body does not load (nothing is left behind then).
Inst3D* NewChild(Inst3D* parent, int32_t body, const QelVector& pos) {
    Inst3D* inst = parent ? B3D_AllocInst() : nullptr;
    if (!inst) return nullptr;
    if (!B3D_InstSetBody(inst, body)) {
        B3D_InstFree(inst);
        return nullptr;
    }
    inst->pos = pos;
    B3D_InstAddToInst(inst, parent);
    return inst;
}

// The child of the parent that a record remembers, when it still hangs
// there; the remembered pointer is only compared, never followed.
Inst3D* KeptChild(Inst3D* parent, const Inst3D* kept) {
    if (!parent || !kept) return nullptr;
    for (Inst3D* c = B3D_First<Inst3D>(&parent->children); c; c = B3D_Next(c))
        if (c == kept) return c;
    return nullptr;
}

Inst3D* ChildWithBody(Inst3D* parent, int32_t body) {
    if (!parent) return nullptr;
    for (Inst3D* c = B3D_First<Inst3D>(&parent->children); c; c = B3D_Next(c))
        if (c->bodyId == body) return c;
    return nullptr;
}

void ColourLight(Inst3D* inst, int32_t red, int32_t green, int32_t blue) {
    if (!inst) return;
    inst->lightColor[0] = static_cast<uint16_t>(red);
    inst->lightColor[1] = static_cast<uint16_t>(green);
    inst->lightColor[2] = static_cast<uint16_t>(blue);
    S_3DUpdateLight(inst);
}

}  // namespace

void O_SetGroup(int32_t group, SectorObject* object) {
    if (!object) return;
    object->group = static_cast<int16_t>(group);
    if (group != kPlayerGroup || object->mainType != SA_MT_FACTORY || !object->instance) return;
    for (Inst3D* i = object->instance; i; i = B3D_InstNextInTree(i, object->instance)) {
        if (i->bodyId <= 0 || !SA_IsSpecialBody(i->bodyId, kLogoBodyKind)) continue;
        B3D_InstSetBody(i, kCoveredLogoBody);
        B3D_InstSetShown(i, 0);
    }
}

void O_SetSpecialState(SectorObject* object, int32_t state) {
    SpecialData* special = O_SpecialData(object);
    if (!special || object->subType > 1 || object->subType < 0) return;
    special->state = state;
    Inst3D* top = object->instance;
    Inst3D* right = KeptChild(top, object->instance2);
    Inst3D* left = KeptChild(top, object->instance3);
    if (state == 0) {
        if (right) B3D_InstFree(right);
        if (left) B3D_InstFree(left);
        object->instance2 = object->instance3 = nullptr;
        return;
    }
    const int32_t body = kStateBodies[state == 1 || state == 2 ? state : 0];
    const int32_t size = top ? top->size / 8 : 0;
    const int32_t x = FixMul(kStateLightOffset, size);
    for (auto [kept, sign] : {std::pair{&right, 1}, std::pair{&left, -1}}) {
        if (*kept) B3D_InstSetBody(*kept, body);
        else *kept = NewChild(top, body, QelVector{sign * x, 0, 0, 0});
        // A new body brings its own size.
        if (*kept) B3D_InstSetSize(*kept, size);
    }
    object->instance2 = right;
    object->instance3 = left;
}

void O_SetColours(SectorObject* object, int32_t red, int32_t green, int32_t blue) {
    if (!object) return;
    red &= 0xFFFF;
    green &= 0xFFFF;
    blue &= 0xFFFF;
    ColourLight(object->instance, red, green, blue);
    if (object->mainType == SA_MT_SUN && object->typeData)
        for (Inst3D* glow : static_cast<SunData*>(object->typeData)->glow) ColourLight(glow, red, green, blue);
    if (object->mainType == SA_MT_PLANET && object->typeData) {
        auto* planet = static_cast<PlanetData*>(object->typeData);
        ColourLight(planet->extra, red, green, blue);
        planet->colour = (red & 0xFF) << 16 | (green & 0xFF) << 8 | (blue & 0xFF);
    }
}

int32_t O_CreateInstanceRow(Inst3D* parent, int32_t body, int32_t count, int32_t axis, int32_t spacing) {
    if (axis < 0 || axis > 2) return 0;
    int32_t made = 0;
    for (int32_t n = 0; n < count; ++n) {
        int32_t at[3] = {0, 0, 0};
        at[axis] = static_cast<int32_t>(int64_t{spacing} * n);
        if (!NewChild(parent, body, QelVector{at[0], at[1], at[2], 0})) break;
        ++made;
    }
    return made;
}

int32_t O_CreateCornerInstances(SectorObject* object, int32_t body, int32_t level) {
    Inst3D* top = object ? object->instance : nullptr;
    if (!top) return 0;
    const int32_t size = top->size;
    const int32_t height = FixMul(static_cast<int32_t>(kCornerHeightBase - int64_t{kCornerHeightStep} * level), size);
    int32_t made = 0;
    for (int32_t k = 0; k < 4; ++k) {
        Inst3D* corner =
            NewChild(top, body, QelVector{FixMul(kCornerX[k], size), height, FixMul(kCornerZ[k], size), 0});
        if (!corner) break;
        B3D_InstSetScale(corner, kCornerScale, kCornerScale, kCornerScale);
        ++made;
    }
    return made;
}

int32_t O_LinkObjects(SectorObject* held, SectorObject* source, int32_t x, int32_t y, int32_t z) {
    if (!held || !source || held == source || !held->instance || !source->instance) return 0;
    // One beam per end: links made before are dropped on both sides.
    if (SectorObject* old = held->tractorSource; old && old->tractorHeld == held) old->tractorHeld = nullptr;
    if (SectorObject* old = source->tractorHeld; old && old->tractorSource == source) old->tractorSource = nullptr;
    held->tractorSource = source;
    source->tractorHeld = held;
    held->tractorDistance = static_cast<int32_t>(
        std::min<int64_t>(SA_VecDistance(&held->instance->pos, &source->instance->pos), INT32_MAX));
    if (ShipData* ship = O_ShipData(source)) {
        ship->SpeedLimit = kTowSpeedLimit;
        ship->holdOffset = QelVector{x, y, z, 0};
    }
    if (!ChildWithBody(held->instance, kBeamBody)) NewChild(held->instance, kBeamBody, QelVector{});
    return 1;
}

void O_FreeTractorBeam(SectorObject* held) {
    if (!held || !held->instance) return;
    while (Inst3D* beam = ChildWithBody(held->instance, kBeamBody)) B3D_InstFree(beam);
}
