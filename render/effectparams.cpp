// Effect parameters by name and type (see effectparams.h).
#include "render/effectparams.h"

#include <cstring>

#include "base/fixmath.h"
#include "base/log.h"
#include "render/fxrecords.h"

namespace {

constexpr uint32_t kParamLog = 0x200000;

// A temporary parameter: slot 0, the name, the type, every other word 0.
FXParameter Temporary(const char* name, uint16_t type) {
    FXParameter p;
    std::memset(&p, 0, sizeof p);
    p.name = const_cast<char*>(name);
    p.type = type;
    return p;
}

// Whether any technique of the effect uses the parameter.
bool UsedByAnyTechnique(ID3DXEffect* effect, D3DXHANDLE h) {
    for (UINT t = 0; D3DXHANDLE technique = effect->GetTechnique(t); ++t)
        if (effect->IsParameterUsed(h, technique)) return true;
    return false;
}

int SetParameter(ID3DXEffect* effect, const char* shaderName, const FXParameter* parameter, bool anyTechnique);

}  // namespace

int SetFXParameter(ID3DXEffect* effect, const char* shaderName, const FXParameter* parameter) {
    return SetParameter(effect, shaderName, parameter, false);
}

int SetFXParameterForAnyTechnique(ID3DXEffect* effect, const char* shaderName, const FXParameter* parameter) {
    return SetParameter(effect, shaderName, parameter, true);
}

namespace {

int SetParameter(ID3DXEffect* effect, const char* shaderName, const FXParameter* parameter, bool anyTechnique) {
    if (!effect || !parameter || !parameter->name) return 0;
    const char* shader = shaderName ? shaderName : "";
    D3DXHANDLE h = effect->GetParameterByName(nullptr, parameter->name);
    if (!h) {
        Qel_DPrintf(kParamLog, "SetFXParameter() Parameter %s not found in Shader %s\n", parameter->name, shader);
        return 0;
    }
    if (anyTechnique ? !UsedByAnyTechnique(effect, h) : !effect->IsParameterUsed(h, effect->GetCurrentTechnique())) {
        Qel_DPrintf(kParamLog, "SetFXParameter() Parameter %s not used, skipping in Shader %s\n", parameter->name,
                    shader);
        return 0;
    }
    const auto& v = parameter->value;
    HRESULT hr;
    switch (parameter->type) {
        case SPTYPE_LONG: hr = effect->SetInt(h, v.i[0]); break;
        case SPTYPE_BOOL: hr = effect->SetBool(h, v.i[0]); break;
        case SPTYPE_FLOAT: hr = effect->SetFloat(h, v.f[0]); break;
        case SPTYPE_FLOAT2:
        case SPTYPE_FLOAT3:
        case SPTYPE_FLOAT4: {
            D3DXVECTOR4 vec = {v.f[0], v.f[1], 0.0f, 0.0f};
            if (parameter->type >= SPTYPE_FLOAT3) vec.z = v.f[2];
            if (parameter->type == SPTYPE_FLOAT4) vec.w = v.f[3];
            hr = effect->SetVector(h, &vec);
            break;
        }
        case SPTYPE_MATRIX3:
        case SPTYPE_MATRIX4: {
            D3DXMATRIX m{};
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 4; ++c) {
                    if (parameter->type == SPTYPE_MATRIX3 && (r == 3 || c == 3)) continue;
                    m.m[r][c] = static_cast<float>(v.i[r * 4 + c]) / 65536.0f;
                }
            hr = effect->SetMatrix(h, &m);
            break;
        }
        case SPTYPE_STRING: hr = effect->SetString(h, v.text ? v.text : ""); break;
        default: Qel_ErrPrintf("Invalid shader parameter type %d in shader %s\n", parameter->type, shader); return 0;
    }
    if (hr < 0) {
        Qel_ErrPrintf("Error setting parameter %s in shader %s\n", parameter->name, shader);
        return 0;
    }
    return 1;
}

}  // namespace

int S_3DSetTexMatrix(ID3DXEffect* effect, const char* shaderName, const QelMatrix* matrix) {
    FXParameter p = Temporary("g_TexMatrix", SPTYPE_MATRIX3);
    if (matrix)
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) p.value.i[r * 4 + c] = matrix->m[r * 4 + c];
    return SetFXParameter(effect, shaderName, &p);
}

int S_3DSetTexMatrixIdentity(ID3DXEffect* effect, const char* shaderName) {
    FXParameter p = Temporary("g_TexMatrix", SPTYPE_MATRIX3);
    p.value.i[0] = p.value.i[5] = p.value.i[10] = 0x10000;
    return SetFXParameter(effect, shaderName, &p);
}

int S_3DSetEmissiveColor4(ID3DXEffect* effect, const char* shaderName, float r, float g, float b, float a) {
    FXParameter p = Temporary("g_MatEmissiveColor", SPTYPE_FLOAT4);
    p.value.f[0] = r;
    p.value.f[1] = g;
    p.value.f[2] = b;
    p.value.f[3] = a;
    return SetFXParameter(effect, shaderName, &p);
}

int S_3DSetEmissiveColor3(ID3DXEffect* effect, const char* shaderName, float r, float g, float b) {
    FXParameter p = Temporary("g_MatEmissiveColor", SPTYPE_FLOAT3);
    p.value.f[0] = r;
    p.value.f[1] = g;
    p.value.f[2] = b;
    return SetFXParameter(effect, shaderName, &p);
}

int S_3DSetFloatParam(ID3DXEffect* effect, const char* shaderName, const char* name, float value) {
    FXParameter p = Temporary(name, SPTYPE_FLOAT);
    p.value.f[0] = value;
    return SetFXParameter(effect, shaderName, &p);
}

int S_3DSetIntParam(ID3DXEffect* effect, const char* shaderName, const char* name, int32_t value) {
    FXParameter p = Temporary(name, SPTYPE_LONG);
    p.value.i[0] = value;
    return SetFXParameter(effect, shaderName, &p);
}
