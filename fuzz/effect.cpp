// Effect files: the preprocessor and the parser of our effect format, on the
// spy device (no GL), with the variant macros the first byte chooses; an
// effect that loads is walked whole (parameters, elements, members,
// annotations, techniques, passes, usage, blocks) and released.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/harness/harness.h"
#include "platform/d3d9/spy.h"
#include "platform/d3dx/d3dx9.h"

namespace {

D3D9SpyDevice* Device() {
    static D3D9SpyDevice* spy = new D3D9SpyDevice();
    spy->calls.clear();
    return spy;
}

void Walk(ID3DXEffect* e, D3DXHANDLE parent, int depth) {
    for (UINT i = 0; depth < 4; ++i) {
        D3DXHANDLE p = e->GetParameter(parent, i);
        if (!p) break;
        D3DXPARAMETER_DESC d{};
        e->GetParameterDesc(p, &d);
        e->GetParameterByName(parent, d.Name);
        INT n = 0;
        float f = 0;
        BOOL b = 0;
        D3DXVECTOR4 v{};
        D3DXMATRIX m{};
        const char* s = nullptr;
        e->GetInt(p, &n);
        e->GetFloat(p, &f);
        e->GetBool(p, &b);
        e->GetVector(p, &v);
        e->GetMatrix(p, &m);
        e->GetString(p, &s);
        e->SetInt(p, n == INT32_MAX ? n : n + 1);
        e->SetVector(p, &v);
        for (UINT k = 0; k < d.Annotations; ++k) e->GetString(e->GetAnnotation(p, k), &s);
        for (UINT k = 0; k < d.Elements && k < 4; ++k) Walk(e, e->GetParameterElement(p, k), depth + 1);
        Walk(e, p, depth + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    if (size < 1) return 0;
    uint8_t mode = data[0];
    std::vector<D3DXMACRO> macros;
    static const char* const names[] = {"BUMP", "SPEC", "ENVI", "LIGHT", "TWOSIDED", "ATI_NORM", "TEX2", "COLORMATRIX"};
    for (int i = 0; i < 8; ++i)
        if (mode & (1 << i)) macros.push_back({names[i], "true"});
    macros.push_back({"VRMENGINE", "true"});
    macros.push_back({nullptr, nullptr});
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1), out, error;
    D3DXPreprocessEffect(text, macros.data(), &out, &error);

    ID3DXEffect* e = nullptr;
    ID3DXBuffer* errors = nullptr;
    D3DXCreateEffect(Device(), text.data(), UINT(text.size()), macros.data(), nullptr, 0, nullptr, &e, &errors);
    if (errors) {
        // The message must end within its buffer: reading it to its end lets the sanitizer check that.
        if (std::strlen(static_cast<const char*>(errors->GetBufferPointer())) >= errors->GetBufferSize())
            __builtin_trap();
        errors->Release();
    }
    if (!e) return 0;
    e->BeginParameterBlock();
    Walk(e, nullptr, 0);
    D3DXHANDLE block = e->EndParameterBlock();
    e->ApplyParameterBlock(block);
    for (UINT t = 0;; ++t) {
        D3DXHANDLE tech = e->GetTechnique(t);
        if (!tech) break;
        for (UINT i = 0; e->GetParameter(nullptr, i); ++i) e->IsParameterUsed(e->GetParameter(nullptr, i), tech);
        e->SetTechnique(tech);
        UINT passes = 0;
        if (e->Begin(&passes, D3DXFX_DONOTSAVESTATE) < 0) continue;
        for (UINT p = 0; p < passes; ++p) {
            const char* target = nullptr;
            e->GetString(e->GetAnnotationByName(e->GetPass(tech, p), "RenderColorTarget0"), &target);
            e->BeginPass(p);
            e->CommitChanges();
            e->EndPass();
        }
        e->End();
    }
    D3DXHANDLE next = nullptr;
    e->FindNextValidTechnique(nullptr, &next);
    e->DeleteParameterBlock(block);
    if (e->Release() != 0) __builtin_trap();
    return 0;
}
