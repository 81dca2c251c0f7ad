#include "scene/texanim.h"

#include <cstring>
#include <initializer_list>

#include "base/texanim.h"
#include "base/texcache.h"
#include "scene/bodyrecord.h"
#include "render/materialnames.h"
#include "scene/fxparams.h"

namespace {
constexpr int32_t kMaxEntries = 20;
constexpr uint16_t kTypeInt = 0;
constexpr uint16_t kTypeFloat = 2;

const FXParameter* Find(const FXEffectBlock* b, const char* name, uint16_t type) {
    if (!b) return nullptr;
    for (int i = 0; i < b->count; ++i)
        if (b->params[i].name && strcmp(b->params[i].name, name) == 0)
            return b->params[i].type == type ? &b->params[i] : nullptr;
    return nullptr;
}

float FloatOf(const FXParameter* p) { return p->value.f[0]; }

// A float parameter times the scale (truncated), else the default.
int32_t Scaled(const FXEffectBlock* b, const char* name, float scale, int32_t otherwise) {
    const FXParameter* p = Find(b, name, kTypeFloat);
    return p ? int32_t(FloatOf(p) * scale) : otherwise;
}

bool IntSet(const FXEffectBlock* b, const char* name) {
    const FXParameter* p = Find(b, name, kTypeInt);
    return p && p->value.i[0] != 0;
}

const FXParameter* FirstOfSlot(const FXEffectBlock* b, uint32_t slot) {
    for (int i = 0; b && i < b->count; ++i)
        if (b->params[i].textureSlot == slot) return &b->params[i];
    return nullptr;
}

struct Entries {
    int32_t count = 0;
    int32_t textures[kMaxEntries] = {};
    int32_t start[2 * kMaxEntries] = {};
    int32_t end[2 * kMaxEntries] = {};
    int32_t durations[kMaxEntries] = {};
    int32_t origins[2 * kMaxEntries] = {};
    int32_t rotations[kMaxEntries] = {};

    bool Full() const { return count >= kMaxEntries; }
    void Add(int32_t value, const BodyMaterial* anim = nullptr) {
        if (Full()) return;
        textures[count] = value;
        if (anim) {
            start[2 * count] = anim->startU;
            start[2 * count + 1] = anim->startV;
            end[2 * count] = anim->endU;
            end[2 * count + 1] = anim->endV;
            durations[count] = anim->duration;
            origins[2 * count] = anim->originU;
            origins[2 * count + 1] = anim->originV;
            rotations[count] = anim->rotation;
        }
        ++count;
    }
};

void CollectGroup(const Body3D* body, int32_t m, Entries& e) {
    if (m < 0) return e.Add(-m);
    if (!(body->flags & BODY_MATERIAL6)) {
        // The third of the five values after the definition's flags.
        const TC_TextureInfo* def = B3D_MaterialDefinition(m);
        if (def && def->sizeWords[0] < 0) e.Add(-def->sizeWords[0]);
        return;
    }
    if (m >= body->materialCount) return;
    const BodyMaterial& mat = body->materials[m];
    if ((mat.flags & BMAT_TEXANIM) && mat.effect) {
        for (uint32_t slot : {S_3DShaderTextureSlot("t_DiffuseTexture"), S_3DShaderTextureSlot("t_BumpTexture")}) {
            const FXParameter* p = FirstOfSlot(mat.effect, slot);
            if (p && p->type == kTypeInt && p->value.i[0] != 0) e.Add(-p->value.i[0], &mat);
        }
        return;
    }
    if (mat.baseTexture < 0) e.Add(-mat.baseTexture);
    if (mat.texture4 < 0) e.Add(-mat.texture4);
}

// Depth first from the instance, back to it.
template <class F>
void ForTree(Inst3D* start, F f) {
    Inst3D* i = start;
    while (i) {
        f(i);
        if (Inst3D* c = B3D_First<Inst3D>(&i->children)) {
            i = c;
            continue;
        }
        while (i && i != start && !B3D_Next(i)) i = i->parent;
        if (!i || i == start) return;
        i = B3D_Next(i);
    }
}
}  // namespace

void B3D_MaterialReadTexAnim(BodyMaterial* m) {
    const FXEffectBlock* b = m->effect;
    const FXParameter* duration = Find(b, "TexAnimDuration", kTypeFloat);
    const FXParameter* rotation = Find(b, "TexAnimRotation", kTypeFloat);
    if ((duration && FloatOf(duration) != 0) || (rotation && FloatOf(rotation) != 0)) {
        m->flags |= BMAT_TEXANIM;
        m->startU = Scaled(b, "TexAnimStartU", 65536, 0);
        m->startV = Scaled(b, "TexAnimStartV", 65536, 0);
        m->endU = Scaled(b, "TexAnimEndU", 65536, 65536);
        m->endV = Scaled(b, "TexAnimEndV", 65536, 0);
        m->duration = Scaled(b, "TexAnimDuration", 1000, 0);
        m->originU = Scaled(b, "TexAnimOriginU", 65536, 32768);
        m->originV = Scaled(b, "TexAnimOriginV", 65536, 32768);
        m->rotation = Scaled(b, "TexAnimRotation", 1000, 0);
    }
    const FXParameter* bump = FirstOfSlot(b, S_3DShaderTextureSlot("t_BumpTexture"));
    if (bump && bump->type == kTypeInt && bump->value.i[0] != 0) m->flags |= BMAT_BUMP;
    if (IntSet(b, "g_AlphaBlendEnable"))
        m->flags |= IntSet(b, "g_ALPHATESTENABLE") ? BMAT_ALPHA_TEST_BLEND : BMAT_ALPHA_BLEND;
}

void B3D_InstBuildTexAnims(Inst3D* inst, const Body3D* body) {
    if (!inst || inst->bodyId == 0 || !body) return;
    Entries e;
    for (int32_t l = 0; l < body->levelCount && !e.Full(); ++l) {
        const BodyLevel* level = body->levels[l];
        for (int32_t p = 0; p < level->partCount && !e.Full(); ++p) {
            const BodyPart* part = level->parts[p];
            for (int32_t g = 0; g < part->groupCount && !e.Full(); ++g) CollectGroup(body, part->groups[g].material, e);
        }
    }
    B3D_InstFreeMaterialOverrides(inst);
    if (e.count == 0) return;
    inst->materialOverrides = TC_NewMaterials(e.end, e.count, e.textures, e.start, e.durations, e.origins, e.rotations);
    if (inst->materialOverrides) inst->materialOverrideCount = e.count;
}

void B3D_InstTreeSetTexAnimFrame(Inst3D* inst, int32_t frame) {
    ForTree(inst, [frame](Inst3D* i) {
        if (i->materialOverrideCount && i->materialOverrides)
            TC_SetMaterialFrame(i->materialOverrideCount, static_cast<TC_Material*>(i->materialOverrides), frame);
    });
}

void B3D_InstTreeSetTexAnimCoords(Inst3D* inst, int32_t a, int32_t b) {
    ForTree(inst, [a, b](Inst3D* i) {
        if (i->materialOverrideCount && i->materialOverrides)
            TC_AnimateMaterials(i->materialOverrideCount, static_cast<TC_Material*>(i->materialOverrides), a, b);
    });
}

void B3D_InstSetExtraMatrix(Inst3D* inst, int32_t textureId, const QelMatrix* matrix) {
    if (!inst->materialOverrides) {
        inst->materialOverrides = Qel_NewTextureMaterial(textureId);
        if (!inst->materialOverrides) return;
        inst->flags2 |= INST2_EXTRA_TEXMATRIX;
        inst->materialOverrideCount = 1;
    }
    memcpy(TC_MaterialMatrix(static_cast<TC_Material*>(inst->materialOverrides), 0), matrix->m, sizeof matrix->m);
}

void B3D_InstFreeMaterialOverrides(Inst3D* inst) {
    if (inst->materialOverrides)
        TC_FreeMaterials(inst->materialOverrideCount, static_cast<TC_Material*>(inst->materialOverrides));
    inst->materialOverrides = nullptr;
    inst->materialOverrideCount = 0;
}

void* B3D_NewTextureMaterial(int32_t textureId) { return Qel_NewTextureMaterial(textureId); }

void B3D_FreeTextureMaterial(void* material) { TC_FreeMaterials(1, static_cast<TC_Material*>(material)); }
