// The body record's life: levels, parts and groups made while a body is read,
// the link into the body list and table, and the release of it all.
#include "scene/bodies.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/table.h"
#include "base/texcache.h"
#include "base/vrmfile.h"
#include "render/bodies.h"
#include "scene/bodyrecord.h"
#include "scene/collision.h"
#include "scene/freeing.h"
#include "scene/fxparams.h"
#include "scene/pools.h"
#include "scene/state.h"

namespace {
template <class T>
int32_t Bytes(int64_t count) {
    return int32_t(count * int64_t(sizeof(T)));
}

template <class T>
void FreeArray(T*& p, int64_t count) {
    if (p) B3D_FreeMemB(Bytes<T>(count), p, B3D_MEM_ZERO);
    p = nullptr;
}

void FreePart(BodyPart* part) {
    for (int32_t g = 0; g < part->groupCount; ++g) {
        BodyGroup& group = part->groups[g];
        FreeArray(group.tris, group.triCount);
        FreeArray(group.precalc, group.precalcCount);
    }
    FreeArray(part->groups, part->groupCapacity);
    B3D_FreeMemB(sizeof(BodyPart), part, B3D_MEM_ZERO);
}

void FreeLevel(BodyLevel* level) {
    FreeArray(level->points, level->pointCount);
    FreeArray(level->uv2, int64_t(level->pointCount) * 2);
    FreeArray(level->weightCounts, level->pointCount);
    FreeArray(level->weights, int64_t(level->pointCount) * level->maxWeights);
    if (level->boneNames) {
        for (int32_t b = 0; b < level->boneCount; ++b) Qel_StrFree(level->boneNames[b]);
        FreeArray(level->boneNames, level->boneCount);
    }
    if (level->parts) {
        for (int32_t p = 0; p < level->partCount; ++p)
            if (level->parts[p]) FreePart(level->parts[p]);
        FreeArray(level->parts, level->partCount);
    }
    B3D_FreeMemB(sizeof(BodyLevel), level, B3D_MEM_ZERO);
}

bool HasGeometry(const Body3D* body) {
    for (int32_t l = 0; body->levels && l < body->levelCount; ++l)
        if (body->levels[l] && body->levels[l]->rendererBody) return true;
    return false;
}

bool OfBody(const void* part, const Body3D* body) {
    const auto* p = static_cast<const BodyPart*>(part);
    return p && p->level && p->level->body == body;
}

// The renderer lets go of a body that goes: the instances that show it leave
// the renderer (their geometry references with them) and this frame's draw
// entries of its parts are dropped.
void LeaveRenderer(Body3D* body) {
    B3DState* s = g_B3DState;
    if (!s) return;
    // Instances show the body of the table under their body id.
    if (HasGeometry(body) && B3D_FindBody(body->id) == body)
        for (uint32_t k = Qel_TableNext(s->instTable, 0); k; k = Qel_TableNext(s->instTable, k)) {
            auto* inst = reinterpret_cast<Inst3D*>(Qel_TableGet(s->instTable, k));
            if (inst && inst->bodyId == body->id && (inst->flags & INST_IN_RENDERER) && !(inst->flags & INST_LIGHT))
                B3D_InstRemoveFromRenderer(inst);
        }
    for (auto* d = B3D_First<B3DDrawItem>(&s->drawList); d;) {
        auto* next = B3D_Next(d);
        if (OfBody(d->part, body)) {
            B3D_ListRemove(B3D_Node(d));
            B3D_ListAppend(&s->drawFree, B3D_Node(d));
        }
        d = next;
    }
}
}  // namespace

void* B3D_GrowMemB(void* block, int32_t oldSize, int32_t newSize) {
    if (!block) return B3D_AllocMemB(newSize, B3D_MEM_ZERO);
    // A heap block (not the virtual-memory resize, which needs its space
    // reserved up front); the grown part is zeroed.
    void* p = Int_ReAllocMem(block, size_t(oldSize), size_t(newSize), Int_MemTag(B3D_TAG_B) | B3D_MEM_ZERO);
    if (!p) return nullptr;
    g_B3DState->poolBBytes += newSize - oldSize;
    g_B3DState->poolBPeak = std::max(g_B3DState->poolBPeak, g_B3DState->poolBBytes);
    return p;
}

const TC_TextureInfo* B3D_MaterialDefinition(int32_t number) {
    return (g_TCTextureInfo && number >= 0 && number < g_TCTextureInfoCount) ? &g_TCTextureInfo[number] : nullptr;
}

const char* const* B3D_BodyGetBones(const void* body, int32_t* count) {
    const auto* b = static_cast<const Body3D*>(body);
    const BodyLevel* level = (b && b->levelCount > 0 && b->levels) ? b->levels[0] : nullptr;
    *count = level && level->boneNames ? level->boneCount : 0;
    return *count ? level->boneNames : nullptr;
}

void B3D_FreeBody(Body3D* body) {
    if (!body) return;
    LeaveRenderer(body);
    if (body->levels) {
        for (int32_t l = 0; l < body->levelCount; ++l) {
            BodyLevel* level = body->levels[l];
            if (!level) continue;
            // Without instances the renderer keeps a KEEPD3D body's geometry;
            // it goes with the body.
            if (body->flags & BODY_KEEPD3D)
                Qel_DPrintf(0x2000, "B3D_FreeBody() bodyid %d marked as KEEPD3D, now freed!\n",
                            static_cast<int>(body->id));
            if (level->rendererBody) S_3DFreeBodyParts(level);
            FreeLevel(level);
        }
        FreeArray(body->levels, body->levelCount);
    }
    if (body->materials) {
        for (int32_t m = 0; m < body->materialCount; ++m) B3D_FreeFXEffectBlock(body->materials[m].effect);
        FreeArray(body->materials, body->materialCount);
    }
    body->name = Qel_StrFree(body->name);
    Coll_FreeModel(body->collModel);
    body->collModel = nullptr;
    if (g_B3DState && B3D_FindBody(body->id) == body) Qel_TableRemove(g_B3DState->bodyTable, uint32_t(body->id) + 1u);
    if (body->link.next) B3D_ListRemove(&body->link);
    B3D_FreeMemB(sizeof(Body3D), body, B3D_MEM_ZERO);
}

void B3D_LinkBody(Body3D* body) {
    B3D_ListAppend(&g_B3DState->bodies, &body->link);
    B3D_StoreBody(body->id, body);
}

BodyLevel* B3D_AllocBodyLevel(Body3D* body) {
    auto* grown = static_cast<BodyLevel**>(
        B3D_GrowMemB(body->levels, Bytes<BodyLevel*>(body->levelCount), Bytes<BodyLevel*>(body->levelCount + 1)));
    if (!grown) return nullptr;
    body->levels = grown;
    auto* level = static_cast<BodyLevel*>(B3D_AllocMemB(sizeof(BodyLevel), B3D_MEM_ZERO));
    if (!level) {
        grown[body->levelCount] = nullptr;
        return nullptr;
    }
    level->body = body;
    grown[body->levelCount++] = level;
    return level;
}

BodyPart* B3D_AllocBodyPart(BodyLevel* level) {
    auto* grown = static_cast<BodyPart**>(
        B3D_GrowMemB(level->parts, Bytes<BodyPart*>(level->partCount), Bytes<BodyPart*>(level->partCount + 1)));
    if (!grown) return nullptr;
    level->parts = grown;
    auto* part = static_cast<BodyPart*>(B3D_AllocMemB(sizeof(BodyPart), B3D_MEM_ZERO));
    grown[level->partCount] = part;
    if (!part) return nullptr;
    level->partCount++;
    part->level = level;
    return part;
}

BodyGroup* B3D_PartAddGroup(BodyPart* part, int32_t material) {
    if (part->groupCount >= part->groupCapacity) {
        int32_t cap = part->groupCapacity ? part->groupCapacity * 2 : 4;
        auto* grown = static_cast<BodyGroup*>(
            B3D_GrowMemB(part->groups, Bytes<BodyGroup>(part->groupCapacity), Bytes<BodyGroup>(cap)));
        if (!grown) return nullptr;
        part->groups = grown;
        part->groupCapacity = cap;
    }
    BodyGroup* g = &part->groups[part->groupCount++];
    *g = BodyGroup{};
    g->material = material;
    return g;
}

VRMFile* B3D_OpenBodyFile(int32_t bodyId, const char* name, bool binary, const char* caller, std::string* file) {
    auto path = [&](const char* ext) {
        char buf[300];
        if (name) std::snprintf(buf, sizeof buf, "v\\%s.%s", name, ext);
        else std::snprintf(buf, sizeof buf, "v\\%05d.%s", static_cast<int>(bodyId), ext);
        return std::string(buf);
    };
    const char* kind = binary ? "binary " : "";
    int binaryFlag = binary ? 1 : 0;
    if (g_SystemState && (g_SystemState->startFlags & 0x20)) {
        *file = path(binary ? "pbb" : "pbd");
        VRMFile* r = Qel_StreamCreate(file->c_str(), 1, 1, binaryFlag, g_VRMBodyTags, 18);
        if (r && !r->error) {
            Qel_DPrintf(4, "%s: Loaded packed %sbody file %s (%d)\n", caller, kind, file->c_str(),
                        static_cast<int>(bodyId));
            return r;
        }
        Qel_CloseFileBuffer(r);
    }
    *file = path(binary ? "bob" : "bod");
    VRMFile* r = Qel_StreamCreate(file->c_str(), 1, 0, binaryFlag, g_VRMBodyTags, 18);
    if (r && !r->error) {
        Qel_DPrintf(4, "%s: Loaded %sbody file %s (%d)\n", caller, kind, file->c_str(), static_cast<int>(bodyId));
        return r;
    }
    Qel_CloseFileBuffer(r);
    return nullptr;
}
