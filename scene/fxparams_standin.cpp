// STAND-IN: see fxparams_standin.h.
#include "scene/fxparams_standin.h"

#include <cstring>
#include <strings.h>

#include "base/log.h"
#include "base/strings.h"
#include "base/texcache.h"
#include "base/vrmfile.h"
#include "scene/pools.h"

namespace {
const VRMNameValue kTypes[] = {{"SPTYPE_LONG", 0},
                               {"SPTYPE_BOOL", 1},
                               {"SPTYPE_FLOAT", 2},
                               {"SPTYPE_FLOAT2", 3},
                               {"SPTYPE_FLOAT3", 4},
                               {"SPTYPE_FLOAT4", 5},
                               {"SPTYPE_MATRIX3", 6},
                               {"SPTYPE_MATRIX4", 7},
                               {"SPTYPE_STRING", 8},
                               {"NULL", 0},
                               {"", 0}};

}  // namespace

uint32_t S_3DShaderTextureSlot(const char* name) {
    static const char* const kSlots[] = {"t_DiffuseTexture",  "t_BumpTexture",    "t_SpecularTexture",
                                         "t_LightMapTexture", "t_CubeMapTexture", "t_DetailTexture"};
    for (uint32_t i = 0; name && i < 6; ++i)
        if (strcmp(name, kSlots[i]) == 0) return i + 1;
    return 0;
}

FXEffectBlock* B3DB_LoadShaderParams(VRMFile* r) {
    auto* b = static_cast<FXEffectBlock*>(B3D_AllocMemB(sizeof(FXEffectBlock), B3D_MEM_ZERO));
    if (!b) return nullptr;
    b->effectWord = uint16_t(r->ReadShort());
    b->effectName = r->ReadString();
    if (b->effectName) {
        size_t n = strlen(b->effectName);
        if (n >= 3 && strcasecmp(b->effectName + n - 3, ".fx") == 0) {
            b->effectName[n - 3] = 0;
            char* cut = Qel_StrReassign(nullptr, b->effectName);
            Qel_StrFree(b->effectName);
            b->effectName = cut;
        }
    }
    int16_t count = r->ReadShort();
    if (count < 0 || r->error) count = 0;
    if (count) {
        b->params = static_cast<FXParameter*>(B3D_AllocMemB(count * int32_t(sizeof(FXParameter)), B3D_MEM_ZERO));
        if (!b->params) count = 0;
    }
    b->count = count;
    for (int i = 0; i < count && !r->error; ++i) {
        FXParameter& p = b->params[i];
        p.name = r->ReadString();
        p.textureSlot = S_3DShaderTextureSlot(p.name);
        int32_t type = r->ReadEnum(kTypes);
        p.type = uint16_t(type);
        switch (type) {
            case 0:
            case 1: p.value.i[0] = r->ReadInt(); break;
            case 2:
            case 3:
            case 4:
            case 5:
                for (int k = 0; k < type - 1; ++k) p.value.f[k] = r->ReadFloat();
                break;
            case 6:
                for (int k = 0; k < 9; ++k) p.value.i[k / 3 * 4 + k % 3] = int32_t(r->ReadFloat());
                break;
            case 7:
                for (int k = 0; k < 16; ++k) p.value.i[k] = int32_t(r->ReadFloat());
                break;
            case 8: {
                char* s = r->ReadString();
                if (p.textureSlot && s && s[0]) {
                    uint32_t id = TC_GetTextureIdByName(s);
                    if (id && id != 0xFFFF) {
                        p.type = 0;
                        p.value.i[0] = int32_t(id);
                        Qel_StrFree(s);
                        break;
                    }
                }
                p.value.text = s;
                break;
            }
            default:
                Qel_BannerPrintf("Invalid shader parameter type %d\n", type);
                p.type = 0;
                r->error = 1;
                break;
        }
    }
    return b;
}

void B3DB_FreeShaderParams(FXEffectBlock* b) {
    if (!b) return;
    for (int i = 0; i < b->count; ++i) {
        FXParameter& p = b->params[i];
        Qel_StrFree(p.name);
        if (p.type == 8) Qel_StrFree(p.value.text);
    }
    if (b->params) B3D_FreeMemB(b->count * int32_t(sizeof(FXParameter)), b->params, 0);
    Qel_StrFree(b->effectName);
    B3D_FreeMemB(sizeof(FXEffectBlock), b, 0);
}

int32_t B3D_MaterialDefCount() { return 0; }
uint32_t B3D_MaterialDefFlags(int32_t) { return 0; }
int16_t B3D_MaterialDefValue(int32_t, int32_t) { return 0; }
