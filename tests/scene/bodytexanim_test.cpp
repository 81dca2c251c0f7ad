#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/texanim.h"
#include "base/texcache.h"
#include "scene/allocs.h"
#include "scene/bodyrecord.h"
#include "render/materialnames.h"
#include "scene/fxparams.h"
#include "scene/texanim.h"
#include "scene_fixture.h"

namespace {

// An effect block over parameters held by the test.
class Effect {
public:
    Effect& Float(const char* name, float v) {
        FXParameter p{};
        p.name = const_cast<char*>(name);
        p.type = 2;
        p.value.f[0] = v;
        return Add(p);
    }
    Effect& Long(const char* name, int32_t v) {
        FXParameter p{};
        p.name = const_cast<char*>(name);
        p.textureSlot = S_3DShaderTextureSlot(name);
        p.value.i[0] = v;
        return Add(p);
    }
    FXEffectBlock* Block() {
        block_.count = int16_t(params_.size());
        block_.params = params_.data();
        return &block_;
    }

private:
    Effect& Add(const FXParameter& p) {
        params_.push_back(p);
        return *this;
    }
    std::vector<FXParameter> params_;
    FXEffectBlock block_{};
};

constexpr int32_t kUnset = 77;

BodyMaterial Derived(Effect& e) {
    BodyMaterial m{};
    m.startU = m.startV = m.endU = m.endV = m.duration = m.originU = m.originV = m.rotation = kUnset;
    m.effect = e.Block();
    B3D_MaterialReadTexAnim(&m);
    return m;
}

TEST(MaterialTexAnim, DurationAloneTakesTheDefaults) {
    Effect e;
    e.Float("TexAnimDuration", 2.5f);
    const BodyMaterial m = Derived(e);
    EXPECT_EQ(m.flags, BMAT_TEXANIM);
    EXPECT_EQ(m.duration, 2500);
    EXPECT_EQ(m.startU, 0);
    EXPECT_EQ(m.startV, 0);
    EXPECT_EQ(m.endU, 65536);
    EXPECT_EQ(m.endV, 0);
    EXPECT_EQ(m.originU, 32768);
    EXPECT_EQ(m.originV, 32768);
    EXPECT_EQ(m.rotation, 0);
}

TEST(MaterialTexAnim, EveryParameterScaled) {
    Effect e;
    e.Float("TexAnimRotation", 0.75f).Float("TexAnimStartU", 0.25f).Float("TexAnimStartV", -0.5f);
    e.Float("TexAnimEndU", 2.0f).Float("TexAnimEndV", 0.125f).Float("TexAnimOriginU", 0.0f);
    e.Float("TexAnimOriginV", 1.0f);
    const BodyMaterial m = Derived(e);
    EXPECT_EQ(m.flags, BMAT_TEXANIM);
    EXPECT_EQ(m.rotation, 750);
    EXPECT_EQ(m.duration, 0);
    EXPECT_EQ(m.startU, 16384);
    EXPECT_EQ(m.startV, -32768);
    EXPECT_EQ(m.endU, 131072);
    EXPECT_EQ(m.endV, 8192);
    EXPECT_EQ(m.originU, 0);
    EXPECT_EQ(m.originV, 65536);
}

TEST(MaterialTexAnim, NoAnimationWithoutANonZeroFloatDurationOrRotation) {
    Effect zero, wrongKind;
    zero.Float("TexAnimDuration", 0.0f).Float("TexAnimRotation", 0.0f).Float("TexAnimStartU", 0.5f);
    wrongKind.Long("TexAnimDuration", 3);
    for (Effect* e : {&zero, &wrongKind}) {
        const BodyMaterial m = Derived(*e);
        EXPECT_EQ(m.flags, 0u);
        EXPECT_EQ(m.duration, kUnset);
        EXPECT_EQ(m.startU, kUnset);
    }
}

TEST(MaterialTexAnim, BlendAndBumpFlags) {
    struct Case {
        int32_t blend, test, bump;
        uint32_t flags;
    };
    const Case cases[] = {{1, 0, 0, BMAT_ALPHA_BLEND},
                          {1, 1, 0, BMAT_ALPHA_TEST_BLEND},
                          {0, 1, 0, 0},
                          {0, 0, 5, BMAT_BUMP},
                          {2, 3, 9, BMAT_ALPHA_TEST_BLEND | BMAT_BUMP}};
    for (const Case& c : cases) {
        Effect e;
        e.Long("g_AlphaBlendEnable", c.blend).Long("g_ALPHATESTENABLE", c.test).Long("t_BumpTexture", c.bump);
        EXPECT_EQ(Derived(e).flags, c.flags) << c.blend << c.test << c.bump;
    }
}

// A version-6 body of one level and one part whose groups name the given materials.
class HandBody {
public:
    HandBody(std::vector<BodyMaterial> materials, std::vector<int32_t> groupMaterials)
        : materials_(std::move(materials)) {
        for (int32_t m : groupMaterials) {
            BodyGroup g{};
            g.material = m;
            groups_.push_back(g);
        }
        part_.groupCount = int16_t(groups_.size());
        part_.groups = groups_.data();
        parts_[0] = &part_;
        level_.partCount = 1;
        level_.parts = parts_;
        levels_[0] = &level_;
        body_.levels = levels_;
        body_.levelCount = 1;
        body_.flags = BODY_MATERIAL6;
        body_.materialCount = int32_t(materials_.size());
        body_.materials = materials_.data();
    }
    const Body3D* Body() const { return &body_; }

private:
    std::vector<BodyMaterial> materials_;
    std::vector<BodyGroup> groups_;
    BodyPart part_{};
    BodyPart* parts_[1] = {};
    BodyLevel level_{};
    BodyLevel* levels_[1] = {};
    Body3D body_{};
};

using InstTexAnims = SceneTest;

TEST_F(InstTexAnims, EntriesComeFromGroupsMaterialsAndAnimatedEffects) {
    Effect anim;
    anim.Float("TexAnimDuration", 1.5f).Long("t_BumpTexture", 0).Long("t_DiffuseTexture", 9).Long("t_BumpTexture", 4);
    BodyMaterial textures{}, animated{}, plain{};
    textures.baseTexture = -3;
    textures.texture4 = -6;
    animated.effect = anim.Block();
    B3D_MaterialReadTexAnim(&animated);
    animated.flags |= BMAT_EFFECT;
    plain.baseTexture = 5;
    HandBody body({textures, animated, plain}, {2, -8, 0, 1});
    Inst3D* inst = B3D_AllocInst();
    inst->bodyId = 5;
    B3D_InstBuildTexAnims(inst, body.Body());
    ASSERT_EQ(inst->materialOverrideCount, 4);
    auto* m = static_cast<TC_Material*>(inst->materialOverrides);
    EXPECT_EQ(m[0].w[TCM_ANIM], 8);
    EXPECT_EQ(m[1].w[TCM_ANIM], 3);
    EXPECT_EQ(m[2].w[TCM_ANIM], 6);
    // The first bump-slot parameter is 0: only the diffuse one counts.
    EXPECT_EQ(m[3].w[TCM_ANIM], -9);
    EXPECT_EQ(m[3].w[TCM_CYCLE], 1500);
    EXPECT_EQ(m[3].w[TCM_NEXTOFFSET], 65536);
    EXPECT_EQ(m[3].w[TCM_COORDS], 32768);
}

TEST_F(InstTexAnims, OlderBodiesTakeTheAnimationOfTheMaterialDefinition) {
    TC_TextureInfo defs[3] = {};
    defs[1].sizeWords[0] = -7;
    defs[2].sizeWords[0] = 5;
    TC_TextureInfo* saved = g_TCTextureInfo;
    const uint16_t savedCount = g_TCTextureInfoCount;
    g_TCTextureInfo = defs;
    g_TCTextureInfoCount = 3;
    HandBody body({}, {2, 1, 6, -4});
    const_cast<Body3D*>(body.Body())->flags = 0;
    Inst3D* inst = B3D_AllocInst();
    inst->bodyId = 5;
    B3D_InstBuildTexAnims(inst, body.Body());
    g_TCTextureInfo = saved;
    g_TCTextureInfoCount = savedCount;
    ASSERT_EQ(inst->materialOverrideCount, 2);
    auto* m = static_cast<TC_Material*>(inst->materialOverrides);
    EXPECT_EQ(m[0].w[TCM_ANIM], 7);
    EXPECT_EQ(m[1].w[TCM_ANIM], 4);
}

TEST_F(InstTexAnims, AtMostTwentyInOrder) {
    std::vector<int32_t> groups;
    for (int32_t i = 1; i <= 25; ++i) groups.push_back(-i);
    HandBody body({}, groups);
    Inst3D* inst = B3D_AllocInst();
    inst->bodyId = 5;
    B3D_InstBuildTexAnims(inst, body.Body());
    ASSERT_EQ(inst->materialOverrideCount, 20);
    auto* m = static_cast<TC_Material*>(inst->materialOverrides);
    for (int32_t i = 0; i < 20; ++i) EXPECT_EQ(m[i].w[TCM_ANIM], i + 1);
}

TEST_F(InstTexAnims, NothingWithoutAnimatedTextures) {
    BodyMaterial plain{};
    plain.baseTexture = 4;
    HandBody body({plain}, {0, 0});
    Inst3D* inst = B3D_AllocInst();
    inst->bodyId = 5;
    B3D_InstBuildTexAnims(inst, body.Body());
    EXPECT_EQ(inst->materialOverrideCount, 0);
    EXPECT_EQ(inst->materialOverrides, nullptr);
    HandBody animated({}, {-1});
    inst->bodyId = 0;
    B3D_InstBuildTexAnims(inst, animated.Body());
    EXPECT_EQ(inst->materialOverrides, nullptr);
    B3D_InstBuildTexAnims(nullptr, animated.Body());
}

TEST_F(InstTexAnims, FrameReachesTheWholeTreeBelowTheStart) {
    TC_Animation movie{};
    movie.kind = TAT_MOVIE;
    movie.coords[0] = movie.coords[1] = 32768;
    TC_Animation* savedAnims = g_TCAnimations;
    const uint16_t savedCount = g_TCAnimationCount;
    g_TCAnimations = &movie;
    g_TCAnimationCount = 1;
    Inst3D* root = B3D_AllocInst();
    Inst3D* a = B3D_AllocInst();
    Inst3D* a1 = B3D_AllocInst();
    Inst3D* b = B3D_AllocInst();
    Adopt(root, a);
    Adopt(a, a1);
    Adopt(root, b);
    const int32_t one = 1;
    for (Inst3D* i : {root, a, a1, b}) {
        i->materialOverrides = TC_NewMaterials(nullptr, 1, &one, nullptr, nullptr, nullptr, nullptr);
        i->materialOverrideCount = 1;
    }
    auto offsetX = [](Inst3D* i) { return TC_MaterialMatrix(static_cast<TC_Material*>(i->materialOverrides), 0)[8]; };
    const int32_t before = offsetX(b);
    B3D_InstTreeSetTexAnimFrame(a, 2);
    EXPECT_NE(offsetX(a), before);
    EXPECT_EQ(offsetX(a1), offsetX(a));
    EXPECT_EQ(offsetX(b), before);
    EXPECT_EQ(offsetX(root), before);
    g_TCAnimations = savedAnims;
    g_TCAnimationCount = savedCount;
}

TEST_F(InstTexAnims, ExtraMatrixMakesOneRecordOnce) {
    Inst3D* inst = B3D_AllocInst();
    QelMatrix m{};
    for (int i = 0; i < 12; ++i) m.m[i] = i + 1;
    B3D_InstSetExtraMatrix(inst, 12, &m);
    ASSERT_EQ(inst->materialOverrideCount, 1);
    EXPECT_NE(inst->flags2 & INST2_EXTRA_TEXMATRIX, 0u);
    void* first = inst->materialOverrides;
    m.m[0] = 99;
    B3D_InstSetExtraMatrix(inst, 13, &m);
    EXPECT_EQ(inst->materialOverrides, first);
    const int32_t* words = TC_MaterialMatrix(static_cast<TC_Material*>(inst->materialOverrides), 0);
    EXPECT_EQ(words[0], 99);
    EXPECT_EQ(words[11], 12);
    EXPECT_EQ(TC_MaterialWord0(static_cast<TC_Material*>(inst->materialOverrides), 0), -12);
}

}  // namespace
