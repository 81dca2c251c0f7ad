// Renderer lights: colours, range and attenuation, place and direction, the
// missing type, and the slots of the frame's light list.
#include <gtest/gtest.h>

#include <memory>

#include "base/general.h"
#include "render/lights.h"
#include "scene/records.h"
#include "scene/state.h"
#include "support/logcapture.h"

namespace {

class RendererLights : public ::testing::Test {
protected:
    void SetUp() override {
        savedSystem_ = g_SystemState;
        savedState_ = g_B3DState;
        g_SystemState = &system_;
        state_ = std::make_unique<B3DState>();
        g_B3DState = state_.get();
        scene_.systemScale = 0.01f;
    }
    void TearDown() override {
        for (Inst3D& l : lights_) S_3DFreeLight(&l);
        g_B3DState = savedState_;
        g_SystemState = savedSystem_;
    }
    Inst3D* Light(int i, uint32_t type) {
        Inst3D* l = &lights_[i];
        l->flags = INST_LIGHT | type;
        l->scene = &scene_;
        l->name = const_cast<char*>(names_[i]);
        return l;
    }
    static const D3DLIGHT9& D3D(Inst3D* l) { return static_cast<RendererLight*>(l->rendererLight)->light; }
    static int32_t Slot(Inst3D* l) { return static_cast<RendererLight*>(l->rendererLight)->slot; }

    SystemState system_{};
    std::unique_ptr<B3DState> state_;
    Scene3D scene_{};
    Inst3D lights_[4]{};
    const char* names_[4] = {"sun", "lamp", "torch", "spare"};

private:
    SystemState* savedSystem_ = nullptr;
    B3DState* savedState_ = nullptr;
};

TEST_F(RendererLights, ColoursTypesRangeAndAttenuation) {
    Inst3D* l = Light(0, INST_POINT_LIGHT);
    l->lightColor[0] = 256;
    l->lightColor[1] = 128;
    l->lightColor[2] = 0;
    l->lightRange = 1000;
    l->lightAtten[0] = l->lightAtten[1] = l->lightAtten[2] = 0x10000;
    ASSERT_EQ(S_D3DLight(l), 1);
    const D3DLIGHT9& d = D3D(l);
    EXPECT_EQ(d.Type, D3DLIGHT_POINT);
    EXPECT_FLOAT_EQ(d.Diffuse.r, 1.0f);
    EXPECT_FLOAT_EQ(d.Diffuse.g, 0.5f);
    EXPECT_FLOAT_EQ(d.Diffuse.b, 0.0f);
    EXPECT_FLOAT_EQ(d.Diffuse.a, 1.0f);
    EXPECT_FLOAT_EQ(d.Specular.r, 1.0f);
    EXPECT_FLOAT_EQ(d.Ambient.a, 0.0f);
    EXPECT_FLOAT_EQ(d.Range, 10.0f);
    EXPECT_FLOAT_EQ(d.Attenuation0, 1.0f);
    EXPECT_FLOAT_EQ(d.Attenuation1, 0.1f);
    EXPECT_FLOAT_EQ(d.Attenuation2, 0.01f);
    EXPECT_FLOAT_EQ(d.Falloff, 1.0f);

    // Range 0 gives distance terms of 0, never infinities.
    l->lightRange = 0;
    S_3DUpdateLight(l);
    EXPECT_FLOAT_EQ(d.Range, 0.0f);
    EXPECT_FLOAT_EQ(d.Attenuation0, 1.0f);
    EXPECT_EQ(d.Attenuation1, 0.0f);
    EXPECT_EQ(d.Attenuation2, 0.0f);

    // A light in no scene keeps its range and attenuation.
    l->lightRange = 1000;
    S_3DUpdateLight(l);
    l->scene = nullptr;
    l->lightRange = 5;
    S_3DUpdateLight(l);
    EXPECT_FLOAT_EQ(d.Range, 10.0f);
    EXPECT_FLOAT_EQ(d.Attenuation2, 0.01f);

    // Spot lights get their cone.
    Inst3D* spot = Light(1, INST_SPOT_LIGHT | INST_POINT_LIGHT);
    ASSERT_EQ(S_D3DLight(spot), 1);
    EXPECT_EQ(D3D(spot).Type, D3DLIGHT_SPOT);
    EXPECT_EQ(D3D(spot).Theta, S3D_SPOT_THETA);
    EXPECT_EQ(D3D(spot).Phi, S3D_SPOT_PHI);
}

TEST_F(RendererLights, PlaceAndDirectionFromTheWorld) {
    Inst3D* sun = Light(0, INST_DIRECTIONAL_LIGHT);
    sun->worldPos = {0, 0, 5 << 16, 0};
    Inst3D* lamp = Light(1, INST_POINT_LIGHT);
    lamp->worldPos = {100, -200, 300, 0};
    Inst3D* torch = Light(2, INST_SPOT_LIGHT);
    torch->worldMatrix.m[8] = 0;
    torch->worldMatrix.m[9] = 0x10000;
    torch->worldMatrix.m[10] = 0;
    for (Inst3D* l : {sun, lamp, torch}) {
        ASSERT_EQ(S_D3DLight(l), 1);
        EXPECT_EQ(S_3DUpdateLightTransform(l), 1);
    }
    // The sun shines from its position towards the origin.
    EXPECT_FLOAT_EQ(D3D(sun).Direction.x, 0.0f);
    EXPECT_FLOAT_EQ(D3D(sun).Direction.z, -1.0f);
    EXPECT_FLOAT_EQ(D3D(lamp).Position.x, 1.0f);
    EXPECT_FLOAT_EQ(D3D(lamp).Position.y, -2.0f);
    EXPECT_FLOAT_EQ(D3D(lamp).Position.z, 3.0f);
    EXPECT_FLOAT_EQ(D3D(torch).Direction.y, 1.0f);
    EXPECT_FLOAT_EQ(D3D(torch).Direction.z, 0.0f);
}

TEST_F(RendererLights, ALightWithoutTypeWarnsOnceAndShinesAsTheSun) {
    Inst3D* l = Light(0, 0);
    LogCapture log;
    ASSERT_EQ(S_D3DLight(l), 1);
    EXPECT_TRUE(log.Contains("S_3DUpdateLight() Warning! Light has no type defined: sun\n"));
    EXPECT_EQ(D3D(l).Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_NE(l->flags & INST_DIRECTIONAL_LIGHT, 0u);
    log.Take();
    S_3DUpdateLight(l);
    EXPECT_FALSE(log.Contains("Warning"));
}

TEST_F(RendererLights, SlotsAreResetAndAssignedFromTheLightList) {
    Inst3D* a = Light(0, INST_POINT_LIGHT);
    Inst3D* b = Light(1, INST_POINT_LIGHT);
    Inst3D* without = Light(2, INST_POINT_LIGHT);  // its object could not be made
    ASSERT_EQ(S_D3DLight(a), 1);
    void* object = a->rendererLight;
    ASSERT_EQ(S_D3DLight(b), 1);
    static_cast<RendererLight*>(b->rendererLight)->slot = 5;
    // A second entry into the renderer reuses the object and resets the slot.
    static_cast<RendererLight*>(a->rendererLight)->slot = 3;
    ASSERT_EQ(S_D3DLight(a), 1);
    EXPECT_EQ(a->rendererLight, object);
    EXPECT_EQ(Slot(a), -1);
    EXPECT_EQ(S_3DUpdateLightTransform(b), 1);
    EXPECT_EQ(Slot(b), -1);

    B3DState* s = g_B3DState;
    s->collectedLights[0] = a;
    s->collectedLights[1] = without;
    s->collectedLights[2] = b;
    s->collectedLights[3] = nullptr;
    s->lightSlotCount = 5;
    // Entries: b, empty, a, a light without object, an index past the table.
    const int32_t entries[5] = {2, -1, 0, 1, 7};
    for (int i = 0; i < 5; ++i) s->lightSlots[i] = {entries[i], 0, 0};
    S_3DAssignSlotIndices();
    EXPECT_EQ(Slot(b), 0);
    EXPECT_EQ(Slot(a), 2);
    EXPECT_EQ(without->rendererLight, nullptr);
}

}  // namespace
