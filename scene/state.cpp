#include "scene/state.h"

#include <cstring>
#include <initializer_list>

#include "base/log.h"
#include "base/memory.h"
#include "base/standin_calls.h"
#include "base/strings.h"
#include "base/table.h"
#include "base/texcache.h"
#include "render/bodies.h"
#include "render/effects.h"
#include "render/pixelformat.h"
#include "render/targets.h"
#include "scene/caches.h"
#include "scene/calls.h"
#include "scene/smallops.h"
#include "scene/framedraw.h"
#include "scene/names.h"
#include "scene/replay.h"
#include "scene/startup.h"
#include "scene/takes.h"
#include "script/modules.h"
#include "system/reopenhook.h"
#include "script/values.h"
#include "scene/trees.h"
#include "scene/typesfiles.h"
#include "scene/texanim.h"

B3DState* g_B3DState = nullptr;

B3DState* B3D_InitStore() {
    auto* s = Int_AllocRecord<B3DState>(0);
    if (!s) return nullptr;
    s->gammaValue = 127;
    s->screenSizeRef = 640;
    B3D_ListInit(&s->bodies);
    s->instTable = Qel_TableCreate();
    s->sceneTable = Qel_TableCreate();
    s->bodyTable = Qel_TableCreate();
    B3D_ListInit(&s->scenes);
    B3D_ListInit(&s->freeInsts);
    B3D_ListInit(&s->drawFree);
    B3D_ListInit(&s->drawList);
    s->cutTable = Qel_TableCreate();
    s->takeTable = Qel_TableCreate();
    s->textureFormats = Qel_TableCreate();
    for (QelTable*& t : s->nameTables) t = Qel_TableCreate();
    s->shadowAlpha = 200;
    s->sound3DUsable = 1;
    B3D_RegisterModule(s);
    B3D_ListInit(&s->particleFree);
    B3D_ListInit(&s->particleLive);
    B3D_ListInit(&s->generators);
    B3D_ListInit(&s->replayList);
    s->generatorTable = Qel_TableCreate();
    s->replayTable = Qel_TableCreate();
    for (int32_t i = 0; i < B3D_PARTICLE_RECORDS; ++i) {
        auto* p = Int_AllocRecord<B3DParticle>(0);
        if (!p) p = Int_AllocRecord<B3DParticle>(0);
        if (!p) continue;
        p->state = PARTICLE_FREE;
        B3D_ListAppend(&s->particleFree, B3D_Node(p));
    }
    s->namedEntries = Qel_TableCreate();
    s->lightSlotCount = B3D_LIGHT_SLOTS;
    for (B3DLightSlot& slot : s->lightSlots) slot = {-1, 0, 0};
    g_S3DReleaseSceneBuffersHook = B3D_ReleaseRendererBuffers;
    g_S3DGetBodyHook = B3D_GetBody;
    g_SReopenDeviceHook = B3D_ReopenDevice;
    return s;
}

void B3D_RegisterModule(B3DState* state) {
    if (!state) return;
    state->moduleNumber =
        g_SEContext ? SB_RegisterEngineModule(g_SEContext, B3D_SysCall, B3D_GetCallNames(), nullptr, nullptr, nullptr)
                    : 0;
}

namespace {
void FreeTable(QelTable*& t) {
    Qel_TableFree(t);
    t = nullptr;
}
}  // namespace

void B3D_FreeStore() {
    B3DState* s = g_B3DState;
    if (!s) return;
    g_S3DReleaseSceneBuffersHook = nullptr;
    g_S3DGetBodyHook = nullptr;
    g_SReopenDeviceHook = nullptr;
    // Every record through its own free, as the location reset frees them.
    J3D_TakeFreeAll();
    while (Scene3D* sc = B3D_First<Scene3D>(&s->scenes)) B3D_SceneFree(sc);
    while (Inst3D* i = B3D_First<Inst3D>(&s->freeInsts)) B3D_InstFree(i);
    B3D_ReleaseDrawItems();
    while (auto* d = B3D_First<B3DDrawItem>(&s->drawFree)) {
        B3D_ListRemove(B3D_Node(d));
        B3D_FreeRecordI(d);
    }
    for (uint32_t k = Qel_TableNext(s->namedEntries, 0); k; k = Qel_TableNext(s->namedEntries, k)) {
        auto* e = reinterpret_cast<B3DNamedEntry*>(Qel_TableGet(s->namedEntries, k));
        S_3DFreeShaderDefinition(e);  // its effects hold device objects
        e->name = Qel_StrFree(e->name);
        B3D_FreeMemB(sizeof(B3DNamedEntry), e, 0);
    }
    B3D_FreeScratchAreas();
    B3D_FreeParticleLists();
    B3DB_FreeParticleDescriptions();
    B3D_FreeIconLists();
    B3D_FreeSkinTable();
    B3D_FreeArrayTable();
    B3D_FreeBodyIdTable();
    B3D_FreeCutIdTable();
    for (int32_t t = 0; t < J3D_KEY_TRACKS; ++t) {
        J3D_KeyBuffer& b = s->cutBuffers[t];
        if (b.keys) B3D_FreeMemJ(b.capacity * J3D_KeySize(t), b.keys, B3D_MEM_VIRTUAL | B3D_MEM_ZERO);
        b = {};
    }
    for (QelTable** t : {&s->instTable, &s->sceneTable, &s->bodyTable, &s->cutTable, &s->takeTable, &s->textureFormats,
                         &s->generatorTable, &s->replayTable, &s->namedEntries})
        FreeTable(*t);
    for (QelTable*& t : s->nameTables) FreeTable(t);
    Int_FreeRecord(s, 0);
    g_B3DState = nullptr;
}

// ------------------------------------------------------------------ finds

Inst3D* B3D_InstFind(uint32_t id) {
    return g_B3DState ? reinterpret_cast<Inst3D*>(Qel_TableGet(g_B3DState->instTable, id)) : nullptr;
}

Scene3D* B3D_SceneFind(uint32_t id) {
    return g_B3DState ? reinterpret_cast<Scene3D*>(Qel_TableGet(g_B3DState->sceneTable, id)) : nullptr;
}

void* B3D_FindBody(int32_t id) {
    if (!g_B3DState) return nullptr;
    return reinterpret_cast<void*>(Qel_TableGet(g_B3DState->bodyTable, static_cast<uint32_t>(id) + 1u));
}

int32_t B3D_StoreBody(int32_t id, void* body) {
    return Qel_TableSet(g_B3DState->bodyTable, static_cast<uint32_t>(id) + 1u, reinterpret_cast<uintptr_t>(body));
}

// ------------------------------------------------------------------ engine flags

uint32_t B3D_GetEngineFlags() { return g_B3DState->engineFlags; }
void B3D_SetEngineFlags(uint32_t bits) { g_B3DState->engineFlags |= bits; }
void B3D_ClearEngineFlags(uint32_t bits) { g_B3DState->engineFlags &= ~bits; }

int32_t B3D_CallSetEngineFlags(int32_t bits) {
    B3D_SetEngineFlags(static_cast<uint32_t>(bits));
    return static_cast<int16_t>(g_B3DState->engineFlags & 0xFFFF);
}

int32_t B3D_CallClearEngineFlags(int32_t bits) {
    B3D_ClearEngineFlags(static_cast<uint32_t>(bits));
    return static_cast<int32_t>(g_B3DState->engineFlags);
}

int32_t B3D_CallSetFlags(int32_t word) {
    g_B3DState->engineFlags = static_cast<uint32_t>(word);
    return word;
}

int32_t B3D_MemStatistics(int32_t n) {
    const B3DState* s = g_B3DState;
    switch (n) {
        case 0: return s->poolBBytes;
        case 1: return s->poolBPeak;
        case 2: return s->poolIBytes;
        case 3: return s->poolIPeak;
        case 4: return s->poolJBytes;
        case 5: return s->poolJPeak;
        default: return 0;
    }
}

// ------------------------------------------------------------------ named entries

B3DNamedEntry* B3D_AllocName(const char* name) {
    auto* e = static_cast<B3DNamedEntry*>(B3D_AllocMemB(sizeof(B3DNamedEntry), B3D_MEM_ZERO));
    if (!e) return nullptr;
    e->name = name ? Qel_StrDup(name) : nullptr;
    e->id = Qel_TableAdd(g_B3DState->namedEntries, reinterpret_cast<uintptr_t>(e));
    if (!e->id) {
        // No id: nothing is left allocated.
        e->name = Qel_StrFree(e->name);
        B3D_FreeMemB(sizeof(B3DNamedEntry), e, 0);
        return nullptr;
    }
    return e;
}

namespace {
bool SameIgnoringAsciiCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
        if (!x) return true;
    }
}
}  // namespace

B3DNamedEntry* B3D_FindEffectByName(const char* name) {
    if (!name) return nullptr;
    QelTable* t = g_B3DState->namedEntries;
    for (uint32_t k = Qel_TableNext(t, 0); k; k = Qel_TableNext(t, k)) {
        auto* e = reinterpret_cast<B3DNamedEntry*>(Qel_TableGet(t, k));
        if (e && e->name && SameIgnoringAsciiCase(e->name, name)) return e;
    }
    return nullptr;
}

void B3D_FreeNamedEntry(B3DNamedEntry* entry) {
    if (!entry) return;
    entry->name = Qel_StrFree(entry->name);
    Qel_TableRemove(g_B3DState->namedEntries, entry->id);
    // The entry goes too: a shader that fails to load would otherwise leak one each frame.
    B3D_FreeMemB(sizeof(B3DNamedEntry), entry, 0);
}

void B3D_FreeEffectTable() {
    QelTable* t = g_B3DState ? g_B3DState->namedEntries : nullptr;
    for (uint32_t k = Qel_TableNext(t, 0); k; k = Qel_TableNext(t, k)) {
        auto* e = reinterpret_cast<B3DNamedEntry*>(Qel_TableGet(t, k));
        if (e && e->definition) S_3DShaderLostDevice(static_cast<SysShaderDefinition*>(e->definition));
    }
}

int32_t B3D_AddTextureFormat(void* record, int32_t code) {
    if (!g_B3DState) return 0;
    const uint32_t key = static_cast<uint32_t>(code) + 1u;
    // A renderer started again replaces its record: the old one goes.
    auto* old = reinterpret_cast<TextureBitmapFormat*>(Qel_TableGet(g_B3DState->textureFormats, key));
    Qel_TableSet(g_B3DState->textureFormats, key, reinterpret_cast<uintptr_t>(record));
    if (Qel_TableGet(g_B3DState->textureFormats, key) != reinterpret_cast<uintptr_t>(record)) return 0;
    if (old && old != record) Int_FreeRecord(old, 0);
    return 1;
}

void B3D_SetRendererWords(int32_t opaqueFormat, int32_t transparentFormat, int32_t hardwareLights) {
    if (!g_B3DState) return;
    g_B3DState->textureFormatWords[0] = opaqueFormat;
    g_B3DState->textureFormatWords[1] = transparentFormat;
    g_B3DState->lightSlotCount = hardwareLights;
}

// The texture-format records the renderer's start-up registered.
void B3D_FreeTextureFormats() {
    StandIn_Record("B3D_FreeTextureFormats");
    if (!g_B3DState) return;
    QelTable* t = g_B3DState->textureFormats;
    while (uint32_t k = Qel_TableNext(t, 0))
        Int_FreeRecord(reinterpret_cast<TextureBitmapFormat*>(Qel_TableRemove(t, k)), 0);
    g_B3DState->textureFormatWords[0] = -1;
    g_B3DState->textureFormatWords[1] = -1;
    // The texture cache pointed at the records just freed.
    Qel_TableFree(g_TCTextureFormats);
    g_TCTextureFormats = nullptr;
}
