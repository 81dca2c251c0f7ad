// Renderer lights. The scene engine's light words are read here directly:
// the renderer draws the scene engine's records (an upward include of the
// record layouts only).
#include "render/lights.h"

#include <new>

#include "base/fixmath.h"
#include "base/log.h"
#include "base/memory.h"
#include "scene/records.h"
#include "scene/state.h"

namespace {

constexpr uint32_t LIGHT_MEMORY = 0;

RendererLight* ObjectOf(Inst3D* light) { return static_cast<RendererLight*>(light->rendererLight); }

}  // namespace

int S_D3DLight(Inst3D* light) {
    if (!light) return 0;
    Qel_DPrintf(0x2000, "Add light(%s)\n", light->name ? light->name : "");
    if (!light->rendererLight) {
        void* block = Int_AllocMem(sizeof(RendererLight), LIGHT_MEMORY);
        if (!block) block = Int_AllocMem(sizeof(RendererLight), LIGHT_MEMORY);
        if (!block) {
            Qel_ErrPrintf("S_D3DLight() OOM AllocLight struct!\n");
            return 0;
        }
        light->rendererLight = new (block) RendererLight{};
    }
    ObjectOf(light)->slot = -1;
    S_3DUpdateLight(light);
    Qel_DPrintf(0x2000, "Add light(%s)finished\n", light->name ? light->name : "");
    return 1;
}

void S_3DUpdateLight(Inst3D* light) {
    if (!light || !light->rendererLight) return;
    D3DLIGHT9& l = ObjectOf(light)->light;
    if (light->flags & INST_SPOT_LIGHT) {
        l.Type = D3DLIGHT_SPOT;
    } else if (light->flags & INST_POINT_LIGHT) {
        l.Type = D3DLIGHT_POINT;
    } else if (light->flags & INST_DIRECTIONAL_LIGHT) {
        l.Type = D3DLIGHT_DIRECTIONAL;
    } else {
        Qel_ErrPrintf("S_3DUpdateLight() Warning! Light has no type defined: %s\n", light->name ? light->name : "???");
        l.Type = D3DLIGHT_DIRECTIONAL;
        light->flags |= INST_DIRECTIONAL_LIGHT;
    }
    // The colour words are signed: 256 is full intensity.
    l.Diffuse = {static_cast<int16_t>(light->lightColor[0]) / 256.0f,
                 static_cast<int16_t>(light->lightColor[1]) / 256.0f,
                 static_cast<int16_t>(light->lightColor[2]) / 256.0f, 1.0f};
    l.Specular = {1.0f, 1.0f, 1.0f, 1.0f};
    l.Ambient = {0.0f, 0.0f, 0.0f, 0.0f};
    l.Position = {0.0f, 0.0f, 0.0f};
    l.Direction = {0.0f, 0.0f, 1.0f};
    if (light->scene) {
        const float range = static_cast<float>(light->lightRange) * light->scene->systemScale;
        l.Range = range;
        l.Attenuation0 = static_cast<float>(light->lightAtten[0]) / 65536.0f;
        // A light of range 0 would divide by zero: its distance terms are 0.
        l.Attenuation1 = range != 0.0f ? static_cast<float>(light->lightAtten[1]) / 65536.0f / range : 0.0f;
        l.Attenuation2 = range != 0.0f ? static_cast<float>(light->lightAtten[2]) / 65536.0f / (range * range) : 0.0f;
    }
    l.Falloff = 1.0f;
    if (l.Type == D3DLIGHT_SPOT) {
        l.Theta = S3D_SPOT_THETA;
        l.Phi = S3D_SPOT_PHI;
    }
}

int S_3DUpdateLightTransform(Inst3D* light) {
    RendererLight* r = ObjectOf(light);
    D3DLIGHT9& l = r->light;
    const float scale = light->scene ? light->scene->systemScale : 1.0f;
    if (l.Type == D3DLIGHT_POINT || l.Type == D3DLIGHT_SPOT) {
        l.Position = {static_cast<float>(light->worldPos.x) * scale, static_cast<float>(light->worldPos.y) * scale,
                      static_cast<float>(light->worldPos.z) * scale};
    }
    if (l.Type == D3DLIGHT_SPOT) {
        const int32_t* z = &light->worldMatrix.m[8];
        l.Direction = {z[0] / 65536.0f, z[1] / 65536.0f, z[2] / 65536.0f};
    } else if (l.Type == D3DLIGHT_DIRECTIONAL) {
        // Shines from its position towards the origin.
        QelVector v = light->worldPos;
        Qel_NormVectorToOne(&v);
        l.Direction = {-v.x / 65536.0f, -v.y / 65536.0f, -v.z / 65536.0f};
    }
    r->slot = -1;
    return 1;
}

void S_3DAssignSlotIndices() {
    B3DState* s = g_B3DState;
    if (!s) return;
    int32_t lights = 0;
    while (lights <= B3D_MAX_COLLECTED_LIGHTS && s->collectedLights[lights]) ++lights;
    const int32_t count = s->lightSlotCount < B3D_LIGHT_SLOTS ? s->lightSlotCount : B3D_LIGHT_SLOTS;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t index = s->lightSlots[i].index;
        // An index past the light table, or a light whose object could not be
        // made, has nothing to number.
        if (index < 0 || index >= lights) continue;
        Inst3D* light = s->collectedLights[index];
        if (!light->rendererLight) continue;
        ObjectOf(light)->slot = i;
    }
}

void S_3DFreeLight(Inst3D* light) {
    if (!light || !light->rendererLight) return;
    Int_FreeMem(light->rendererLight, sizeof(RendererLight), LIGHT_MEMORY);
    light->rendererLight = nullptr;
}
