#include "scene/smallops.h"

#include <initializer_list>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/catalog.h"
#include "base/ebm.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/texcache.h"
#include "render/cameras.h"
#include "render/lights.h"
#include "render/materialnames.h"
#include "render/particles.h"
#include "scene/bodyrecord.h"
#include "scene/fxparams.h"
#include "scene/geometry.h"
#include "scene/state.h"
#include "scene/texanim.h"
#include "scene/trees.h"

// ------------------------------------------------------------------ setters and getters

void B3D_InstSetPos(Inst3D* inst, int32_t x, int32_t y, int32_t z) {
    inst->pos.x = x;
    inst->pos.y = y;
    inst->pos.z = z;
}

void B3D_InstCopyRot(const Inst3D* from, Inst3D* to) { to->matrix = from->matrix; }

void B3D_InstSetSizeUsed(Inst3D* inst, int32_t size) {
    if (!inst || size < 0) return;
    inst->flags |= INST_SIZE_USED;
    inst->usedSize = size;
}

void B3D_InstSetInvis(Inst3D* inst, int32_t on) {
    auto apply = [on](Inst3D* i) {
        if (on) i->flags |= INST_INVISIBLE;
        else i->flags &= ~INST_INVISIBLE;
    };
    apply(inst);
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) apply(c);
}

int32_t B3D_InstSetOverrideEffect(Inst3D* inst, int32_t code) {
    int32_t value = 0;
    switch (code) {
        case 1: value = -4; break;
        case 2: value = -3; break;
        case 3: value = -2; break;
        case 4: value = -1; break;
        case 8: value = -6; break;
        default: break;
    }
    inst->overrideEffect = value;
    inst->alphaOverride = 0;
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) B3D_InstSetOverrideEffect(c, code);
    return 1;
}

void B3D_InstSetAlphaOverride(Inst3D* inst, int32_t value) { inst->alphaOverride = value; }

void B3D_InstSetAlphaOverrideRecursive(Inst3D* inst, int32_t value) {
    B3D_InstForTree(
        inst, [](Inst3D* i, intptr_t v, intptr_t) { i->alphaOverride = static_cast<int32_t>(v); }, value, 0);
}

void B3D_InstSetFlags(Inst3D* inst, uint32_t bits) { inst->flags |= bits; }
void B3D_InstSetFlags2(Inst3D* inst, uint32_t bits) { inst->flags2 |= bits; }
void B3D_InstClearFlags2(Inst3D* inst, uint32_t bits) { inst->flags2 &= ~bits; }

void B3D_InstSetFlagsRecursive(Inst3D* inst, uint32_t flags2Bits, uint32_t flagsBits) {
    if (!inst) return;
    inst->flags2 |= flags2Bits;
    inst->flags |= flagsBits;
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c))
        B3D_InstSetFlagsRecursive(c, flags2Bits, flagsBits);
}

void B3D_InstSetShown(Inst3D* inst, int32_t show) {
    if (show) inst->flags &= ~INST_HIDDEN;
    else inst->flags |= INST_HIDDEN;
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) B3D_InstSetShown(c, show);
}

void B3D_InstClearFrameMark(Inst3D* inst) {
    if (!(g_B3DState->engineFlags & B3D_ENGINE_REPLAYING)) inst->flags &= ~INST_FRAME_MARK;
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) B3D_InstClearFrameMark(c);
}

void B3D_InstSetMark(Inst3D* inst, int32_t value) {
    inst->flags |= INST_MARKED;
    inst->markValue = value;
}

void B3D_InstSetColorModifier(Inst3D* inst, int32_t a, int32_t b, int32_t c, int32_t d) {
    inst->colorModifier[0] = a;
    inst->colorModifier[1] = b;
    inst->colorModifier[2] = c;
    inst->colorModifier[3] = d;
}

void B3D_InstSetColorModifierWord(Inst3D* inst, int32_t which, int32_t value) {
    switch (which) {
        case 0: inst->colorModifier[0] = value; break;
        case 1: inst->colorModifier[1] = value; break;
        case 4: inst->extraWords[0] = value; break;
        default: break;
    }
}

void B3D_CameraSetViewPort(Camera3D* cam, int32_t a, int32_t b, int32_t c, int32_t d) {
    cam->viewport[0] = c;
    cam->viewport[1] = d;
    cam->viewport[2] = a;
    cam->viewport[3] = b;
}

void B3D_CameraGetViewPort(const Camera3D* cam, int32_t out[4]) {
    out[0] = cam->viewport[2];
    out[1] = cam->viewport[3];
    out[2] = cam->viewport[0];
    out[3] = cam->viewport[1];
}

void B3D_SceneSetViewPort(Scene3D* scene, int32_t a, int32_t b, int32_t c, int32_t d) {
    if (Camera3D* cam = B3D_First<Camera3D>(&scene->cameras)) B3D_CameraSetViewPort(cam, a, b, c, d);
}

void B3D_CameraSetFocus(Camera3D* cam, int32_t focus) { cam->focus = focus; }
void B3D_CameraSetPri(Camera3D* cam, int32_t priority) { cam->priority = priority; }
void B3D_CameraSetFadeValue(Camera3D* cam, int32_t value) { cam->fadeValue = value; }

void B3D_CameraSetBackgroundColor(Camera3D* cam, int32_t r, int32_t g, int32_t b) {
    cam->background[0] = r;
    cam->background[1] = g;
    cam->background[2] = b;
}

void B3D_CameraSetAspect(Camera3D* cam, int32_t x, int32_t y) {
    cam->aspect[0] = x;
    cam->aspect[1] = y;
}

void B3D_CameraSetAspectRatio(Camera3D* cam, int32_t y) { B3D_CameraSetAspect(cam, QEL_FIX_ONE, y); }

void B3D_CameraSetFog(Camera3D* cam, int32_t a, int32_t b, int32_t c) {
    cam->fog[0] = a;
    cam->fog[1] = b;
    cam->fog[2] = c;
    if (a >= 0) cam->camFlags |= CAM_FOG;
    else cam->camFlags &= ~CAM_FOG;
}

void B3D_SetFadeValue(int32_t value) { g_B3DState->fadeValue = value; }

// ------------------------------------------------------------------ searches

J3D_Cut* J3D_CutIsLoaded(int32_t id) {
    if (!g_B3DState || !g_B3DState->cutTable) return nullptr;
    return reinterpret_cast<J3D_Cut*>(Qel_TableGet(g_B3DState->cutTable, static_cast<uint32_t>(id)));
}

J3D_Cut* J3D_FindCut(int32_t id) {
    J3D_Cut* cut = J3D_CutIsLoaded(id);
    if (!cut) Qel_DPrintf(0, "J3D_FindCut(%d) trying to find nonexisting cut!\n", id);
    return cut;
}

J3D_Take* J3D_TakeFind(QelTable* table, uint32_t key) { return reinterpret_cast<J3D_Take*>(Qel_TableGet(table, key)); }

J3D_Take* J3D_TakeGet(uint32_t id) { return g_B3DState ? J3D_TakeFind(g_B3DState->takeTable, id) : nullptr; }

int32_t J3D_CutFindPath(const J3D_Cut* cut, int32_t serial) {
    if (!cut || !cut->paths) return -1;
    for (int32_t i = cut->pathCount - 1; i >= 0; --i)
        if (cut->paths[i].pathNr == serial) return i;
    return -1;
}

namespace {
const J3D_CutPath* PathOf(const J3D_Cut* cut, int32_t index) {
    return (cut && cut->paths && index >= 0 && index < cut->pathCount) ? &cut->paths[index] : nullptr;
}
}  // namespace

Inst3D* J3D_FindPathInst(Inst3D* inst, const J3D_Cut* cut, int32_t serial) {
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) {
        if (c->cutId == static_cast<int32_t>(cut->id)) {
            const J3D_CutPath* p = PathOf(cut, c->pathNr);
            if (p && p->pathNr == serial) return c;
        }
        if (Inst3D* hit = J3D_FindPathInst(c, cut, serial)) return hit;
    }
    return nullptr;
}

Inst3D* J3D_FindInstBySerial(Inst3D* inst, int32_t serial) {
    const J3D_CutPath* p = PathOf(J3D_CutIsLoaded(inst->cutId), inst->pathNr);
    if (p && p->pathNr == serial) return inst;
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c))
        if (Inst3D* hit = J3D_FindInstBySerial(c, serial)) return hit;
    return nullptr;
}

Inst3D* B3D_InstFindByBodyID(Scene3D* scene, Inst3D* start, int32_t bodyId) {
    Inst3D* i = (start && start->scene == scene && !start->parent) ? B3D_Next(start) : B3D_First<Inst3D>(&scene->insts);
    for (; i; i = B3D_Next(i))
        if (i->bodyId == bodyId) return i;
    return nullptr;
}

B3DCameraItem* B3D_CameraFindItem(Camera3D* cam, int32_t key) {
    for (auto* it = B3D_First<B3DCameraItem>(&cam->items); it; it = B3D_Next(it))
        if (it->key == key) return it;
    return nullptr;
}

B3DSceneBufferGroup* B3D_ListFindItem(Scene3D* owner, int32_t key) {
    for (auto* g = B3D_First<B3DSceneBufferGroup>(&owner->bufferGroups); g; g = B3D_Next(g))
        if (g->key == key) return g;
    return nullptr;
}

B3DSkinRow* B3D_SkinFind(int32_t id) {
    for (int32_t i = 0; i < g_B3DState->skinCount; ++i)
        if (g_B3DState->skins[i].number == id) return &g_B3DState->skins[i];
    return nullptr;
}

B3DIconRow* B3D_GetIconData(int32_t list, int32_t key) {
    if (list < 0 || list >= B3D_ICON_LISTS) return nullptr;
    B3DIconList& l = g_B3DState->icons[list];
    for (int32_t i = 0; i < l.rowCount && l.rows; ++i)
        if (l.rows[i].iconId == key) return &l.rows[i];
    return nullptr;
}

J3D_KeyRecord* J3D_FindKeyRecord(const J3D_KeyTable* table, int32_t key) {
    for (uint16_t i = 0; table && i < table->count; ++i)
        if (table->records[i].key == key) return &table->records[i];
    return nullptr;
}

J3D_KeyRecord* J3D_FindKeyRecordByName(const J3D_KeyTable* table, const char* name) {
    for (uint16_t i = 0; table && name && i < table->count; ++i) {
        const char* n = table->records[i].name;
        if (n && std::strcmp(n, name) == 0) return &table->records[i];
    }
    return nullptr;
}

namespace {
bool SameNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const int x = std::tolower(static_cast<unsigned char>(*a)), y = std::tolower(static_cast<unsigned char>(*b));
        if (x != y) return false;
        if (!x) return true;
    }
}

// Depth-first over a subtree for an instance driven by a cut path of that name.
Inst3D* FindByPathName(Inst3D* inst, const char* name) {
    const J3D_CutPath* p = PathOf(J3D_CutIsLoaded(inst->cutId), inst->pathNr);
    if (p && p->name && SameNoCase(p->name, name)) return inst;
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c))
        if (Inst3D* hit = FindByPathName(c, name)) return hit;
    return nullptr;
}
}  // namespace

Inst3D* B3DB_InstFindByPathName(Inst3D* inst, const char* name) {
    const B3DList* siblings = inst->parent ? &inst->parent->children : (inst->scene ? &inst->scene->insts : nullptr);
    if (siblings && name)
        for (Inst3D* s = B3D_First<Inst3D>(siblings); s; s = B3D_Next(s))
            if (Inst3D* hit = FindByPathName(s, name)) return hit;
    Qel_DPrintf(0, "B3DB_InstFindByPathName(%d,%s) could not find Inst!\n", inst->bodyId, name ? name : "");
    return nullptr;
}

// ------------------------------------------------------------------ tree walks

void B3D_InstSetSceneRecursive(Inst3D* inst) {
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) {
        c->scene = inst->scene;
        B3D_InstSetSceneRecursive(c);
    }
}

void B3D_InstForTree(Inst3D* inst, B3D_InstFn fn, intptr_t a, intptr_t b) {
    fn(inst, a, b);
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) B3D_InstForTree(c, fn, a, b);
}

Inst3D* B3D_InstNextInTree(Inst3D* inst, const Inst3D* root) {
    if (Inst3D* c = B3D_First<Inst3D>(&inst->children)) return c;
    for (Inst3D* i = inst; i && i != root; i = i->parent)
        if (Inst3D* n = B3D_Next(i)) return n;
    return nullptr;
}

// ------------------------------------------------------------------ cut operations

void J3D_GetPathPos(const J3D_Cut* cut, int32_t path, QelVector* out) {
    const J3D_CutPath* p = PathOf(cut, path);
    if (!p || p->posCount <= 0 || !p->posKeys) {
        *out = {};
        return;
    }
    const int32_t* v = p->posKeys[0].value;
    *out = {v[0], v[1], v[2], 0};
}

void J3D_SetCutPos(J3D_Cut* cut, const QelVector* pos, const QelMatrix* matrix) {
    cut->placePos = *pos;
    cut->placeMatrix = *matrix;
    cut->flags |= CUT_PLACED;
}

void J3D_CutMarkMoved(J3D_Cut* cut) {
    cut->flags |= CUT_PLACED;
    Qel_MatIdentity(&cut->placeMatrix);
}

void J3D_GetPathRot(const J3D_MotionKey* keys, int32_t index, QelMatrix* out) {
    const J3D_MotionKey& k = keys[index];
    if (k.flags & KEY_AXIS_ANGLE) {
        const int32_t w = k.quat[0], x = k.quat[1], y = k.quat[2], z = k.quat[3];
        auto M = [](int32_t a, int32_t b) { return static_cast<int64_t>(B3D_FixMul(a, b)); };
        auto W = [](int64_t v) { return static_cast<int32_t>(v); };
        int32_t* m = out->m;
        m[0] = W(QEL_FIX_ONE - 2 * (M(y, y) + M(z, z)));
        m[1] = W(2 * (M(x, y) + M(w, z)));
        m[2] = W(2 * (M(x, z) - M(w, y)));
        m[4] = W(2 * (M(x, y) - M(w, z)));
        m[5] = W(QEL_FIX_ONE - 2 * (M(x, x) + M(z, z)));
        m[6] = W(2 * (M(y, z) + M(w, x)));
        m[8] = W(2 * (M(x, z) + M(w, y)));
        m[9] = W(2 * (M(y, z) - M(w, x)));
        m[10] = W(QEL_FIX_ONE - 2 * (M(x, x) + M(y, y)));
    } else {
        Qel_MatFromAngles(out, k.value[0], k.value[1], k.value[2]);
    }
}

void J3D_CutResetPos(J3D_Cut* cut) {
    cut->flags |= CUT_PLACED;
    cut->placePos = {};
}

namespace {
bool StartsNoCase(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix)
        if (std::tolower(static_cast<unsigned char>(*text)) != *prefix) return false;
    return true;
}

bool MarkerNumber(const char* rest, int32_t n) {
    while (*rest == ' ' || *rest == '\t') ++rest;
    int v = 0;
    return std::sscanf(rest, "%d", &v) == 1 && v == n;
}
}  // namespace

int32_t J3D_CutFindMarkers(const J3D_Cut* cut, int32_t n, int32_t* start, int32_t* end, int32_t* loop) {
    *start = -1;
    *end = -1;
    for (int32_t p = 0; cut && cut->paths && p < cut->pathCount; ++p) {
        const J3D_CutPath& path = cut->paths[p];
        for (int32_t i = 0; i < path.noteCount && path.notes; ++i) {
            const J3D_Note& note = path.notes[i];
            const char* t = note.text;
            if (!t) continue;
            if (StartsNoCase(t, "start ") && MarkerNumber(t + 6, n)) {
                *start = note.time;
                *loop = 0;
            } else if (StartsNoCase(t, "lstart ") && MarkerNumber(t + 7, n)) {
                *start = note.time;
                *loop = 1;
            } else if (StartsNoCase(t, "end ") && !StartsNoCase(t, "end speak") && MarkerNumber(t + 4, n)) {
                *end = note.time;
                *loop = 0;
            } else if (StartsNoCase(t, "lend ") && MarkerNumber(t + 5, n)) {
                *end = note.time;
                *loop = 1;
            }
        }
    }
    return (*start != -1 && *end != -1) ? 1 : 0;
}

int32_t J3D_CutGetLength(const J3D_CutPath* path) {
    int32_t length = 0;
    auto last = [&length](int32_t count, auto* keys) {
        if (count > 0 && keys) length = std::max(length, keys[count - 1].time);
    };
    last(path->posCount, path->posKeys);
    last(path->rotCount, path->rotKeys);
    last(path->targetCount, path->targetKeys);
    last(path->rollCount, path->rollKeys);
    last(path->colorCount, path->colorKeys);
    last(path->fovCount, path->fovKeys);
    return length;
}

// ------------------------------------------------------------------ icons

namespace {
int32_t Quot(int64_t a, int32_t b) { return b ? static_cast<int32_t>((a << 16) / b) : 0; }

B3DIconList* IconList(int32_t list) {
    return (list >= 0 && list < B3D_ICON_LISTS) ? &g_B3DState->icons[list] : nullptr;
}

void TexMatrix(QelMatrix* out, int32_t sx, int32_t sy, int32_t tx, int32_t ty) {
    *out = {};
    out->m[0] = sx;
    out->m[5] = sy;
    out->m[8] = tx;
    out->m[9] = ty;
    out->m[10] = QEL_FIX_ONE;
}
}  // namespace

B3DIconRow* B3D_IconTexMatrix(int32_t list, int32_t iconId, QelMatrix* out) {
    B3DIconRow* row = B3D_GetIconData(list, iconId);
    if (!row) return nullptr;
    const B3DIconList* l = IconList(list);
    TexMatrix(out, Quot(static_cast<int16_t>(row->w), l->width), Quot(static_cast<int16_t>(row->h), l->height),
              Quot(static_cast<int16_t>(row->x), l->width), Quot(static_cast<int16_t>(row->y), l->height));
    return row;
}

B3DIconRow* B3D_IconTexMatrixPart(int32_t list, int32_t iconId, int32_t dx, int32_t dy, int32_t fw, int32_t fh,
                                  QelMatrix* out) {
    B3DIconRow* row = B3D_GetIconData(list, iconId);
    if (!row) return nullptr;
    const B3DIconList* l = IconList(list);
    const int32_t sx = Quot(static_cast<int16_t>(row->w), l->width);
    const int32_t sy = Quot(static_cast<int16_t>(row->h), l->height);
    TexMatrix(out, B3D_FixMul(fw, sx), B3D_FixMul(fh, sy), Quot(static_cast<int16_t>(row->x + dx), l->width),
              Quot(static_cast<int16_t>(row->y + dy), l->height));
    return row;
}

namespace {
void PlaceIcon(Inst3D* inst, int32_t list, const B3DIconRow* row, const QelMatrix& m) {
    if (row) {
        B3D_InstSetExtraMatrix(inst, IconList(list)->textureId & 0xFFFF, &m);
        B3D_InstSetScale(inst, m.m[0], m.m[5], QEL_FIX_ONE);
    }
    inst->flags2 |= INST2_SCREEN_PLACED;
}
}  // namespace

void B3D_InstSetIcon(Inst3D* inst, int32_t list, int32_t iconId) {
    QelMatrix m;
    const B3DIconRow* row = B3D_IconTexMatrix(list, iconId, &m);
    PlaceIcon(inst, list, row, m);
}

void B3D_InstSetIconType(Inst3D* inst, int32_t list, int32_t iconId, int32_t dx, int32_t dy, int32_t fw, int32_t fh) {
    QelMatrix m;
    const B3DIconRow* row = B3D_IconTexMatrixPart(list, iconId, dx, dy, fw, fh, &m);
    PlaceIcon(inst, list, row, m);
}

void B3D_FreeIconLists() {
    for (B3DIconList& l : g_B3DState->icons) {
        if (l.rows) Int_FreeMem(l.rows, sizeof(B3DIconRow) * static_cast<size_t>(l.rowCount), 0);
        l.rows = nullptr;
        l.rowCount = 0;
    }
}

// ------------------------------------------------------------------ comparators and sorts

int B3D_CameraComparePri(const void* a, const void* b) {
    const int32_t pa = (*static_cast<Camera3D* const*>(a))->priority;
    const int32_t pb = (*static_cast<Camera3D* const*>(b))->priority;
    return pa < pb ? -1 : (pa > pb ? 1 : 0);
}

int B3D_CompareSecondWord(const void* a, const void* b) {
    const int32_t wa = static_cast<const int32_t*>(a)[1];
    const int32_t wb = static_cast<const int32_t*>(b)[1];
    return wa > wb ? -1 : (wa < wb ? 1 : 0);
}

void B3D_SortDrawList(const Camera3D* cam) {
    B3DList* list = &g_B3DState->drawList;
    const bool ascending = cam && (cam->camFlags & CAM_SORT_ASCENDING);
    B3D_BubbleSort<B3DDrawItem>(B3D_ListFirst(list), [ascending](const B3DDrawItem* a, const B3DDrawItem* b) {
        return ascending ? a->sortKey > b->sortKey : a->sortKey < b->sortKey;
    });
}

// ------------------------------------------------------------------ other operations

void B3D_CameraCollectInsts(Inst3D* inst, Camera3D* camera) {
    int64_t d = B3D_VecMaxAbsDiff(&inst->worldPos, &camera->inst.pos);
    if (d < 0x0fffffff) d = d * camera->focus / 16384;
    if (d < 64 * static_cast<int64_t>(B3D_InstGetTotalSize(inst))) {
        if ((inst->flags & INST_COLLISION_MODEL) && (inst->flags & INST_VIEW_DONE) &&
            !(inst->flags2 & INST2_JOB_TEST) && g_B3DState->collectedInstCount < B3D_CAMERA_MAX_COLLECTED &&
            camera->collectedCount < B3D_CAMERA_MAX_COLLECTED) {
            camera->collected[camera->collectedCount++] = inst;
            ++g_B3DState->collectedInstCount;
        }
        for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) {
            if (g_B3DState->collectedInstCount >= B3D_CAMERA_MAX_COLLECTED) break;
            B3D_CameraCollectInsts(c, camera);
        }
    }
}

void B3D_SceneFreeParticles(Scene3D* scene) {
    if (!(scene->flags & SCENE_PARTICLES)) return;
    B3DState* s = g_B3DState;
    for (B3DParticle* p = B3D_First<B3DParticle>(&s->particleLive); p;) {
        B3DParticle* next = B3D_Next(p);
        if (p->scene == scene) {
            B3D_ListRemove(B3D_Node(p));
            p->state = PARTICLE_FREE;
            B3D_ListAppend(&s->particleFree, B3D_Node(p));
        }
        p = next;
    }
    S_3DReleaseParticles(scene);
    scene->flags &= ~SCENE_PARTICLES;
}

void B3D_SceneChooseSceneBuffers(Scene3D* scene) {
    for (auto* g = B3D_First<B3DSceneBufferGroup>(&scene->bufferGroups); g; g = B3D_Next(g))
        g->sortKey = g->count < 2 ? 0 : g->count2 * 100 + g->count;
    // Largest key first.
    B3D_BubbleSort<B3DSceneBufferGroup>(
        B3D_ListFirst(&scene->bufferGroups),
        [](const B3DSceneBufferGroup* a, const B3DSceneBufferGroup* b) { return a->sortKey < b->sortKey; });
    int64_t total = 0;
    for (auto* g = B3D_First<B3DSceneBufferGroup>(&scene->bufferGroups); g; g = B3D_Next(g)) {
        const int64_t size = static_cast<int64_t>(g->count) * g->count2;
        if (g->sortKey != 0 && total + size <= 20480) {
            total += size;
            g->flags |= 1u;
        }
    }
}

void B3D_FreeStringTable(QelTable* table) {
    if (!table) return;
    while (uint32_t k = Qel_TableNext(table, 0)) Qel_StrFree(reinterpret_cast<char*>(Qel_TableRemove(table, k)));
}

void B3D_FreeAllCameraItems() {
    for (Scene3D* sc = B3D_First<Scene3D>(&g_B3DState->scenes); sc; sc = B3D_Next(sc))
        for (Camera3D* cam = B3D_First<Camera3D>(&sc->cameras); cam; cam = B3D_Next(cam))
            while (auto* item = B3D_First<B3DCameraItem>(&cam->items)) {
                B3D_ListRemove(B3D_Node(item));
                B3D_FreeCameraItem(item);
            }
}

B3DParticle* B3D_ParticleGet() {
    B3DState* s = g_B3DState;
    B3DParticle* p = B3D_First<B3DParticle>(&s->particleFree);
    if (p) {
        p->state = PARTICLE_TAKEN;
    } else {
        p = B3D_First<B3DParticle>(&s->particleLive);
        if (!p || p->state != PARTICLE_UPDATED) return nullptr;
        p->state = PARTICLE_TAKEN_OVER;
    }
    B3D_ListRemove(B3D_Node(p));
    B3D_ListAppend(&s->particleLive, B3D_Node(p));
    return p;
}

void B3D_ResetLightSlots() {
    for (int32_t i = 0; i < g_B3DState->lightSlotCount && i < B3D_LIGHT_SLOTS; ++i)
        g_B3DState->lightSlots[i] = {-1, 0, 0};
}

void B3D_FreeArrayTable() {
    B3DState* s = g_B3DState;
    if (!s->arrayTable) return;
    for (int32_t i = 0; i < s->arrayTableCount; ++i)
        if (s->arrayTable[i].array) Int_FreeMem(s->arrayTable[i].array, 20u * s->arrayTable[i].count, 0);
    Int_FreeMem(s->arrayTable, sizeof(B3DArrayTableRow) * static_cast<size_t>(s->arrayTableCount), 0);
    s->arrayTable = nullptr;
    s->arrayTableCount = 0;
}

char* B3D_StrReassignN(char* old, const char* text, int32_t n) {
    Qel_StrFree(old);
    if (!text) return nullptr;
    const size_t len = static_cast<size_t>(std::max(n, 0));
    auto* s = static_cast<char*>(Int_AllocMem(len + 1, 0));
    if (!s) return nullptr;
    std::memcpy(s, text, len);
    s[len] = 0;
    // The heap string layer frees by the string's length: the copy must not
    // hold a zero before its end.
    if (std::strlen(s) != len) {
        char* exact = Qel_StrDup(s);
        Int_FreeMem(s, len + 1, 0);
        return exact;
    }
    return s;
}

int32_t B3D_TextWidth(const char* text) {
    const uint8_t* widths = g_B3DState->widthTable;
    if (!text || !widths) return 0;
    int32_t sum = 0;
    const auto* p = reinterpret_cast<const uint8_t*>(text);
    for (;;) {
        uint32_t c = *p;
        if (c == 0 || c >= 0xF0) break;
        if (c >= 0xE0) {
            if ((p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80) break;
            c = ((c & 0x0F) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
            p += 3;
        } else if (c >= 0xC0) {
            if ((p[1] & 0xC0) != 0x80) break;
            c = ((c & 0x1F) << 6) | (p[1] & 0x3Fu);
            p += 2;
        } else {
            ++p;
        }
        if (c == 0) break;
        if (c > 255) c = '?';
        sum += 2 * widths[c];
    }
    return sum;
}

uint32_t B3D_Rgb15To24(uint32_t v) {
    return (((v >> 10) & 0x1F) << 19) | (((v >> 5) & 0x1F) << 11) | ((v & 0x1F) << 3);
}

uint32_t B3D_Rgb24To15(uint32_t v) {
    return (((v >> 19) & 0x1F) << 10) | (((v >> 11) & 0x1F) << 5) | ((v >> 3) & 0x1F);
}

namespace {
QelCatalogEntry* FindInCatalog(QelCatalog* cat, const char* name) {
    int32_t lo = 0, hi = static_cast<int32_t>(cat->count) - 1;
    while (lo <= hi) {
        const int32_t mid = (lo + hi) / 2;
        const int c = std::strcmp(name, cat->entries[mid].name);
        if (c == 0) return &cat->entries[mid];
        if (c < 0) hi = mid - 1;
        else lo = mid + 1;
    }
    return nullptr;
}

bool IsPackedBody(const char* name) {
    const size_t n = std::strlen(name);
    return n >= 4 && name[n - 4] == '.' && std::tolower(static_cast<unsigned char>(name[n - 3])) == 'p' &&
           std::tolower(static_cast<unsigned char>(name[n - 2])) == 'b';
}
}  // namespace

void B3DB_FixCatalogs() {
    Qel_DPrintf(4, "B3DB_FixCatalogs:\n");
    const SystemState* sys = g_SystemState;
    if (!sys || !sys->catalogs) return;
    for (int32_t c = 0; c < sys->catalogSlotCount; ++c) {
        QelCatalog* cat = sys->catalogs[c];
        if (!cat) {
            Qel_DPrintf(0, "found NULL pointer\n");
            continue;
        }
        Qel_DPrintf(0, "found Catalog %s with %d files\n", cat->dataFileName ? cat->dataFileName : "***NULL***",
                    static_cast<int>(cat->count));
        for (uint32_t e = 0; e < cat->count; ++e) {
            const char* name = cat->entries[e].name;
            if (!name || !IsPackedBody(name)) continue;
            // Both forms are looked up before either is renamed: a renamed
            // member no longer sorts where the binary search expects it.
            const char* norm = Qel_NormalizeName(name);
            if (!norm) continue;
            QelCatalogEntry* hits[2][64];
            int32_t hitCatalog[2][64];
            int32_t hitCount[2] = {0, 0};
            for (int32_t form = 0; form < 2; ++form) {
                char probe[512];
                std::snprintf(probe, sizeof probe, "%s", norm);
                probe[std::strlen(probe) - 1] = form == 0 ? 'd' : 'b';
                for (int32_t older = 0; older < c && hitCount[form] < 64; ++older)
                    if (sys->catalogs[older])
                        if (QelCatalogEntry* hit = FindInCatalog(sys->catalogs[older], probe)) {
                            hits[form][hitCount[form]] = hit;
                            hitCatalog[form][hitCount[form]++] = older;
                        }
            }
            for (int32_t form = 0; form < 2; ++form)
                for (int32_t h = 0; h < hitCount[form]; ++h) {
                    QelCatalogEntry* hit = hits[form][h];
                    Qel_DPrintf(0, " File %s found older file %s in catalog %d\n", name, hit->name,
                                static_cast<int>(hitCatalog[form][h]));
                    // The names live in the catalog's own buffer.
                    char* olderName = const_cast<char*>(hit->name);
                    olderName[std::strlen(olderName) - 1] = 'X';
                }
        }
    }
}

void S_3DInitSceneBuffer(Scene3D* scene) {
    for (auto* g = B3D_First<B3DSceneBufferGroup>(&scene->bufferGroups); g; g = B3D_Next(g)) {
        g->flags &= ~3u;
        g->counter = 0;
        for (auto* it = B3D_First<B3DSceneBufferItem>(&g->items); it; it = B3D_Next(it)) {
            if (it->buffer) {
                it->buffer->vertexCount = 0;
                continue;
            }
            auto* b = Int_AllocRecord<B3DSceneBuffer>(0);
            if (!b) b = Int_AllocRecord<B3DSceneBuffer>(0);
            if (!b) Qel_DPrintf(0, "S_3DInitSceneBuffer() Unable to allocate scene buffer!\n");
            it->buffer = b;
        }
    }
}

void B3D_CameraSetCausticAnim(Camera3D* camera, int32_t textureId) {
    if (camera->causticMaterial) {
        B3D_FreeTextureMaterial(camera->causticMaterial);
        camera->causticMaterial = nullptr;
        camera->causticTexture = 0;
    }
    if (textureId > 0) {
        if (void* m = B3D_NewTextureMaterial(textureId)) {
            camera->causticMaterial = m;
            camera->causticTexture = textureId;
        }
    }
}

void B3D_SetBackgroundInfo(EBM* view) {
    B3DState* s = g_B3DState;
    s->backgroundRecord = view;
    if (!view) return;
    s->backgroundHalf = static_cast<uint16_t>(view->width) / 2;
    s->backgroundScaled = B3D_FixMul(s->backgroundHalf, 0x14000);
}

void B3D_InstFreeBones(Inst3D* inst) {
    // What was allocated goes, whatever the flags say now: a story may have
    // replaced the flags2 word since the bones were made.
    if (inst->bones) B3D_FreeMemI(inst->boneCount * static_cast<int32_t>(sizeof(Inst3D*)), inst->bones);
    inst->bones = nullptr;
    inst->boneCount = 0;
}

void B3D_FreeCameraItem(B3DCameraItem* item) {
    for (Inst3D*& slot : item->insts) {
        if (slot) B3D_InstFree(slot);
        slot = nullptr;
    }
    B3D_FreeRecordI(item);
}

void B3D_FreeCameraItems(Scene3D* scene, int32_t key) {
    for (Camera3D* cam = B3D_First<Camera3D>(&scene->cameras); cam; cam = B3D_Next(cam))
        if (B3DCameraItem* item = B3D_CameraFindItem(cam, key)) {
            B3D_ListRemove(B3D_Node(item));
            B3D_FreeCameraItem(item);
        }
}

void B3D_SceneClearFrameMarks(Scene3D* scene) {
    const bool replay = g_B3DState->engineFlags & B3D_ENGINE_REPLAYING;
    for (Inst3D* i = B3D_First<Inst3D>(&scene->insts); i; i = B3D_Next(i)) {
        if (!replay) i->flags &= ~INST_FRAME_MARK;
        for (Inst3D* c = B3D_First<Inst3D>(&i->children); c; c = B3D_Next(c)) B3D_InstClearFrameMark(c);
    }
}

void B3D_SetGammaValue(int32_t value) {
    if (value < 0 || value > 255) return;
    g_B3DState->gammaValue = value;
    S_3DSetGammaRamp(value);
}

void B3D_ClearCameraBackgrounds() {
    if (!g_B3DState) return;
    for (Scene3D* sc = B3D_First<Scene3D>(&g_B3DState->scenes); sc; sc = B3D_Next(sc))
        for (Camera3D* cam = B3D_First<Camera3D>(&sc->cameras); cam; cam = B3D_Next(cam))
            if (cam->rendererCamera) S_3DClearSceneBackground(cam);
}

void B3D_FreeSceneBufferGroup(B3DSceneBufferGroup* group) {
    while (auto* it = B3D_First<B3DSceneBufferItem>(&group->items)) {
        S_3DReleaseSceneBufferItem(it);
        B3D_ListRemove(B3D_Node(it));
        if (it->buffer) Int_FreeRecord(it->buffer, 0);
        B3D_FreeRecordI(it);
    }
    B3D_ListRemove(B3D_Node(group));
    B3D_FreeRecordI(group);
}

void B3D_FreeInstSceneBuffers(int32_t key) {
    for (Scene3D* sc = B3D_First<Scene3D>(&g_B3DState->scenes); sc; sc = B3D_Next(sc))
        for (auto* g = B3D_First<B3DSceneBufferGroup>(&sc->bufferGroups); g;) {
            auto* next = B3D_Next(g);
            if (g->key == key) B3D_FreeSceneBufferGroup(g);
            g = next;
        }
}

void B3D_SceneFreeSceneBuffers(Scene3D* scene) {
    while (auto* g = B3D_First<B3DSceneBufferGroup>(&scene->bufferGroups)) B3D_FreeSceneBufferGroup(g);
}

void B3D_ReleaseRendererBuffers() {
    if (!g_B3DState) return;
    for (Scene3D* sc = B3D_First<Scene3D>(&g_B3DState->scenes); sc; sc = B3D_Next(sc)) {
        S_3DReleaseParticles(sc);
        B3D_SceneFreeSceneBuffers(sc);
    }
}

int32_t B3D_SkinMapTexture(int32_t textureId, int32_t skinType) {
    const B3DSkinRow* row = B3D_SkinFind(skinType);
    if (!row || row->count < 1 || !row->replaced || !row->replacing) return textureId;
    for (int32_t i = 0; i < row->count; ++i)
        if (row->replaced[i] == textureId) return row->replacing[i];
    return textureId;
}

uint16_t B3D_GroupBaseTexture(const BodyGroup* group, const Body3D* body) {
    const int32_t m = group->material;
    if (m < 0) return static_cast<uint16_t>(m);  // an animated material's number, as it stands
    if (!(body->flags & BODY_MATERIAL6)) {
        const TC_TextureInfo* definition = B3D_MaterialDefinition(m);
        return definition ? static_cast<uint16_t>(definition->textureNumber) : 0;
    }
    if (m >= body->materialCount || !body->materials) return 0;
    const BodyMaterial& material = body->materials[m];
    if (!(material.flags & BMAT_EFFECT)) return static_cast<uint16_t>(material.baseTexture);
    const FXEffectBlock* effect = material.effect;
    for (int16_t i = 0; effect && effect->params && i < effect->count; ++i) {
        const FXParameter& p = effect->params[i];
        if (p.textureSlot != S3D_SLOT_DIFFUSE) continue;
        return p.type == SPTYPE_STRING ? 0 : static_cast<uint16_t>(p.value.i[0]);
    }
    return 0;
}

void B3D_InstSetScreenPlacement(Inst3D* inst, int32_t x, int32_t y, int32_t width) {
    const B3DState* s = g_B3DState;
    const int32_t W = s->screenWidth, H = s->screenHeight;
    const int32_t sx = Quot(width, W), sy = Quot(2, H);
    QelMatrix m;
    TexMatrix(&m, sx, sy, Quot(x, W), Quot(y, H));
    B3D_InstSetExtraMatrix(inst, s->screenTextureId, &m);
    inst->flags2 |= INST2_SCREEN_PLACED;
    B3D_InstSetScale(inst, sx, sy, QEL_FIX_ONE);
}

void B3D_FreeSkinTable() {
    B3DState* s = g_B3DState;
    if (!s->skins) return;
    for (int32_t i = 0; i < s->skinCount; ++i) {
        B3DSkinRow& r = s->skins[i];
        r.name = Qel_StrFree(r.name);
        if (r.count != 0) {
            const size_t bytes = sizeof(int32_t) * static_cast<size_t>(r.count);
            if (r.replaced) Int_FreeMem(r.replaced, bytes, 0);
            if (r.replacing) Int_FreeMem(r.replacing, bytes, 0);
        }
    }
    B3D_FreeMemB(s->skinCount * static_cast<int32_t>(sizeof(B3DSkinRow)), s->skins, 0);
    s->skins = nullptr;
    s->skinCount = 0;
}

void B3D_FreeParticleLists() {
    for (B3DList* l : {&g_B3DState->particleFree, &g_B3DState->particleLive})
        while (auto* p = B3D_First<B3DParticle>(l)) {
            B3D_ListRemove(B3D_Node(p));
            Int_FreeRecord(p, 0);
        }
}

int32_t B3D_PointLineDistance(const QelVector* a, const QelVector* b, const QelVector* p) {
    // Differences of points far apart wrap, as the rest of the 32-bit
    // arithmetic here does; they never trap.
    const auto wrap = [](int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); };
    QelVector d{wrap(int64_t{a->x} - b->x), wrap(int64_t{a->y} - b->y), wrap(int64_t{a->z} - b->z), 0};
    B3D_NormVectorToOne(&d);
    const QelVector pb{wrap(int64_t{p->x} - b->x), wrap(int64_t{p->y} - b->y), wrap(int64_t{p->z} - b->z), 0};
    const int32_t t = B3D_FixDot(&d, &pb);
    const QelVector w{wrap(int64_t{b->x} + B3D_FixMul(t, d.x) - p->x), wrap(int64_t{b->y} + B3D_FixMul(t, d.y) - p->y),
                      wrap(int64_t{b->z} + B3D_FixMul(t, d.z) - p->z), 0};
    return B3D_LengthF(&w);
}

void B3D_ReleaseDrawItems() { B3D_ListAppendAll(&g_B3DState->drawFree, &g_B3DState->drawList); }

void B3D_FreeFacingNode(B3DFacingNode* node) {
    if (node->link.next) B3D_ListRemove(B3D_Node(node));
    B3D_FreeRecordI(node);
}

// The program's exit; called only when the cut reader cannot get its arrays.
[[noreturn]] void P_Exit(int reason);

int32_t J3D_KeySize(int32_t track) {
    switch (track) {
        case 3: return sizeof(J3D_RollKey);
        case 4: return sizeof(J3D_ColorKey);
        case 5: return sizeof(J3D_FovKey);
        default: return sizeof(J3D_MotionKey);
    }
}

void J3D_InitCutBuffers() {
    for (int32_t t = 0; t < J3D_KEY_TRACKS; ++t) {
        J3D_KeyBuffer& b = g_B3DState->cutBuffers[t];
        const int32_t size = J3D_KeySize(t);
        void* keys = b.keys ? B3D_ReAllocMemJ(b.keys, b.capacity * size, 100 * size)
                            : B3D_AllocMemJ(100 * size, B3D_MEM_VIRTUAL | B3D_MEM_ZERO);
        if (!keys) P_Exit(3);
        b.keys = keys;
        b.capacity = 100;
        b.count = 0;
    }
}

// ------------------------------------------------------------------ arithmetic

int32_t B3D_FixSqrt(int32_t v) {
    if (v <= 0) return 0;
    // sqrt(v / 65536) * 65536 = sqrt(v * 65536), bit by bit on 64 bits.
    uint64_t n = static_cast<uint64_t>(v) << 16, root = 0, bit = uint64_t{1} << 62;
    while (bit > n) bit >>= 2;
    while (bit) {
        if (n >= root + bit) {
            n -= root + bit;
            root = (root >> 1) + bit;
        } else {
            root >>= 1;
        }
        bit >>= 2;
    }
    return static_cast<int32_t>(root);
}

int32_t B3D_MulDiv(int32_t a, int32_t b, int32_t c) {
    return c ? static_cast<int32_t>(static_cast<int64_t>(a) * b / c) : 0;
}

int32_t B3D_FixDiv(int32_t a, int32_t b) { return b ? static_cast<int32_t>((static_cast<int64_t>(a) << 16) / b) : 0; }

int32_t B3D_FixDot(const QelVector* a, const QelVector* b) {
    return static_cast<int32_t>(static_cast<int64_t>(B3D_FixMul(a->x, b->x)) + B3D_FixMul(a->y, b->y) +
                                B3D_FixMul(a->z, b->z));
}

float B3D_DistanceSquaredF(const QelVector* a, const QelVector* b) {
    const float dx = static_cast<float>(a->x) - static_cast<float>(b->x);
    const float dy = static_cast<float>(a->y) - static_cast<float>(b->y);
    const float dz = static_cast<float>(a->z) - static_cast<float>(b->z);
    return dx * dx + dy * dy + dz * dz;
}

float B3D_LengthSquaredF(const QelVector* v) {
    const float x = static_cast<float>(v->x), y = static_cast<float>(v->y), z = static_cast<float>(v->z);
    return x * x + y * y + z * z;
}

int32_t B3D_LengthF(const QelVector* v) { return B3D_FloatToInt(std::sqrt(B3D_LengthSquaredF(v))); }

float B3D_Lerp(float a, float b, float t) { return a + (b - a) * t; }
int32_t B3D_Max(int32_t a, int32_t b) { return a > b ? a : b; }
int32_t B3D_Min(int32_t a, int32_t b) { return a < b ? a : b; }
int32_t B3D_Positive(int32_t x) { return x > 0 ? x : 0; }
int32_t B3D_Abs(int32_t x) { return x < 0 ? -x : x; }

int32_t B3D_FixArcSin(int32_t v) {
    if (v <= -QEL_FIX_ONE) return -16384;
    if (v >= QEL_FIX_ONE) return 16384;
    const uint16_t* t = Qel_ArcSinTable();
    return v < 0 ? -static_cast<int32_t>(t[-v]) : t[v];
}

int32_t B3D_VecMaxAbs(const QelVector* v) {
    const int64_t m = std::max({std::llabs(v->x), std::llabs(v->y), std::llabs(v->z)});
    return static_cast<int32_t>(std::min<int64_t>(m, INT32_MAX));
}

int32_t B3D_VecMaxAbsDiff(const QelVector* a, const QelVector* b) {
    const int64_t m =
        std::max({std::llabs(static_cast<int64_t>(a->x) - b->x), std::llabs(static_cast<int64_t>(a->y) - b->y),
                  std::llabs(static_cast<int64_t>(a->z) - b->z)});
    return static_cast<int32_t>(std::min<int64_t>(m, INT32_MAX));
}

int32_t B3D_VecLength(const QelVector* v) { return B3D_LengthF(v); }

int32_t B3D_VecDistance(const QelVector* a, const QelVector* b) {
    return B3D_FloatToInt(std::sqrt(B3D_DistanceSquaredF(a, b)));
}

void B3D_NormVectorToOne(QelVector* v) { Qel_NormVectorToOne(v); }

void B3D_NormVectorToLength(QelVector* v, int32_t length) { Qel_Norm3(&v->x, &v->y, &v->z, length); }
