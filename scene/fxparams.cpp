#include "scene/fxparams.h"

#include <cmath>
#include <cstring>

#include "base/log.h"
#include "base/strings.h"
#include "base/vrmfile.h"
#include "render/materialnames.h"
#include "scene/pools.h"

namespace {

constexpr VRMNameValue kTypes[] = {
    {"SPTYPE_LONG", 0},   {"SPTYPE_BOOL", 1},    {"SPTYPE_FLOAT", 2},   {"SPTYPE_FLOAT2", 3}, {"SPTYPE_FLOAT3", 4},
    {"SPTYPE_FLOAT4", 5}, {"SPTYPE_MATRIX3", 6}, {"SPTYPE_MATRIX4", 7}, {"SPTYPE_STRING", 8}, {"", 0},
};

// A real outside the 32-bit range is clamped before it is cut toward zero.
int32_t Truncate(float v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0f) return INT32_MAX;
    if (v <= -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(v);
}

void ReadValue(VRMFile* r, FXParameter* p) {
    switch (p->type) {
        case SPTYPE_LONG:
        case SPTYPE_BOOL: p->value.i[0] = r->ReadInt(); break;
        case SPTYPE_FLOAT:
        case SPTYPE_FLOAT2:
        case SPTYPE_FLOAT3:
        case SPTYPE_FLOAT4:
            for (int k = 0; k <= p->type - SPTYPE_FLOAT; ++k) p->value.f[k] = r->ReadFloat();
            break;
        case SPTYPE_MATRIX3:
            for (int row = 0; row < 3; ++row)
                for (int col = 0; col < 3; ++col) p->value.i[row * 4 + col] = Truncate(r->ReadFloat());
            break;
        case SPTYPE_MATRIX4:
            for (int32_t& w : p->value.i) w = Truncate(r->ReadFloat());
            break;
        case SPTYPE_STRING: {
            char* text = r->ReadString();
            int32_t textureId = 0;
            if (text && S_3DResolveMaterialParam(p->textureSlot, p->name, text, &textureId)) {
                p->type = SPTYPE_LONG;
                p->value.i[0] = textureId;
                Qel_StrFree(text);
            } else {
                p->value.text = text;
            }
            break;
        }
        default: break;
    }
}

}  // namespace

FXEffectBlock* B3DB_LoadShaderParams(VRMFile* r) {
    auto* block = static_cast<FXEffectBlock*>(B3D_AllocMemB(sizeof(FXEffectBlock), B3D_MEM_ZERO));
    if (!block) {
        r->error = 1;
        return nullptr;
    }
    block->effectWord = static_cast<uint16_t>(r->ReadShort());
    char* name = r->ReadString();
    const size_t len = name ? std::strlen(name) : 0;
    if (len >= 3 && Qel_StrICmp(name + len - 3, ".fx") == 0) {
        name[len - 3] = 0;
        block->effectName = Qel_StrDup(name);
        name[len - 3] = '.';
        Qel_StrFree(name);
    } else {
        block->effectName = name;
    }
    const int16_t count = r->ReadShort();
    if (count < 0) {
        // A negative count makes no array: the body load fails.
        r->error = 1;
        return block;
    }
    if (count == 0 || r->error) return block;
    const int32_t bytes = count * static_cast<int32_t>(sizeof(FXParameter));
    block->params = static_cast<FXParameter*>(B3D_AllocMemB(bytes, B3D_MEM_ZERO));
    if (!block->params) {
        r->error = 1;
        return block;
    }
    block->count = count;
    for (int16_t i = 0; i < count; ++i) {
        FXParameter& p = block->params[i];
        p.name = r->ReadString();
        p.textureSlot = S_3DShaderTextureSlot(p.name);
        const int32_t type = r->ReadEnum(kTypes);
        if (type < 0 || type > SPTYPE_STRING) {
            Qel_ErrPrintf("Invalid shader parameter type %d\n", type);
            r->error = 1;
            break;
        }
        p.type = static_cast<uint16_t>(type);
        ReadValue(r, &p);
        if (r->error) break;
    }
    return block;
}

void B3D_FreeFXEffectBlock(FXEffectBlock* block) {
    if (!block) return;
    for (int16_t i = 0; i < block->count && block->params; ++i) {
        FXParameter& p = block->params[i];
        p.name = Qel_StrFree(p.name);
        if (p.type == SPTYPE_STRING) p.value.text = Qel_StrFree(p.value.text);
    }
    if (block->params) B3D_FreeMemB(block->count * static_cast<int32_t>(sizeof(FXParameter)), block->params, 0);
    block->effectName = Qel_StrFree(block->effectName);
    B3D_FreeMemB(sizeof(FXEffectBlock), block, 0);
}
