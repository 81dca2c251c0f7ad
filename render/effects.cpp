// Shader effects: the cache and the effect-file loaders (see effects.h).
#include "render/effects.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/file.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "render/device.h"
#include "render/mesh.h"
#include "render/statemanager.h"
#include "render/fxrecords.h"
#include "system/adapters.h"
#include "system/video.h"

const ShaderVariantMacro S_ShaderVariantMacros[9] = {
    {0x10, "BUMP"},     {0x2, "SPEC"},  {0x4, "ENVI"},         {0x8, "LIGHT"},        {0x1, "TWOSIDED"},
    {0x20, "ATI_NORM"}, {0x40, "TEX2"}, {0x80, "COLORMATRIX"}, {0x100, "DETAIL_MAP"},
};

namespace {

const char* Folder() {
    RendererState* r = g_RendererState;
    return r && r->device ? r->device->shaderFolder : "";
}

// Effect sources are read through the catalogs like every data file.
bool ReadThroughCatalogs(const char* name, std::string* bytes) {
    void* data = Qel_LoadFile(name);
    if (!data) return false;
    uint32_t size = g_QelLastFileSize;
    bytes->assign(static_cast<const char*>(data), size);
    Int_FreeMem(data, size, 0);
    return true;
}

SysShaderDefinition* MakeDefinition(B3DNamedEntry* entry, const char* failLine) {
    if (entry->definition) return static_cast<SysShaderDefinition*>(entry->definition);
    auto* d = static_cast<SysShaderDefinition*>(Int_AllocMem(sizeof(SysShaderDefinition), 0));
    if (!d) d = static_cast<SysShaderDefinition*>(Int_AllocMem(sizeof(SysShaderDefinition), 0));
    if (!d) {
        Qel_ErrPrintf(failLine, entry->name ? entry->name : "");
        return nullptr;
    }
    std::memset(d, 0, sizeof *d);
    d->name = Qel_StrDup(entry->name ? entry->name : "");
    entry->definition = d;
    return d;
}

void FreeDefinition(B3DNamedEntry* entry) {
    auto* d = static_cast<SysShaderDefinition*>(entry->definition);
    if (!d) return;
    for (ID3DXEffect*& e : d->effect)
        if (e) {
            // Part groups keep blocks and handles under the effect's address.
            S_3DForgetEffect(e);
            e = (e->Release(), nullptr);
        }
    d->name = Qel_StrFree(d->name);
    Int_FreeMem(d, sizeof *d, 0);
    entry->definition = nullptr;
}

// A variant that failed: only a definition left without any effect goes.
SysShaderDefinition* DropVariant(B3DNamedEntry* entry, int variant) {
    auto* d = static_cast<SysShaderDefinition*>(entry->definition);
    if (!d) return nullptr;
    d->effect[variant] = nullptr;
    if (!d->effect[0] && !d->effect[1]) FreeDefinition(entry);
    return nullptr;
}

void HandOverStateManager(ID3DXEffect* effect) {
    RendererState* r = g_RendererState;
    CStateManagerInterface* m = r ? r->stateManager : nullptr;
    if (!m || effect->SetStateManager(m) < 0) Qel_ErrPrintf("ERROR: Failed to set StateManager!\n");
}

bool EndsWithFx(const char* name) {
    size_t n = std::strlen(name);
    return n >= 3 && strcasecmp(name + n - 3, ".fx") == 0;
}

std::string ErrorText(ID3DXBuffer* errors) {
    const char* p = static_cast<const char*>(errors->GetBufferPointer());
    return std::string(p, strnlen(p, errors->GetBufferSize()));
}

}  // namespace

uint32_t S_3DParseCompileDefines(const char* text) {
    uint32_t mask = 0;
    if (!text) return 0;
    const char* p = text;
    for (;;) {
        size_t n = std::strcspn(p, ",;");
        // An empty token would compare over no characters and match every
        // name; it sets nothing.
        if (n > 0)
            for (const auto& m : S_ShaderVariantMacros)
                if (strncasecmp(p, m.name, n) == 0) mask |= m.bit;
        if (!p[n]) break;
        p += n + 1;
    }
    return mask;
}

SysShaderDefinition* S_3DLoadShaderBin(int variant, B3DNamedEntry* entry) {
    if (!entry || variant < 0 || variant > 1) return nullptr;
    SysShaderDefinition* d =
        MakeDefinition(entry, "S_3DLoadShaderBin() SysShaderDefinition allocation for FX %s failed!\n");
    if (!d) return nullptr;
    char path[512];
    std::snprintf(path, sizeof path, "shader\\%s\\%s_%04x.fb", Folder(), entry->name ? entry->name : "",
                  static_cast<unsigned>(variant));
    void* data = Qel_LoadFile(path);
    if (!data) return nullptr;
    uint32_t size = g_QelLastFileSize;
    IDirect3DDevice9* device = S_3DDevice();
    ID3DXEffect* effect = nullptr;
    HRESULT hr = device ? D3DXCreateEffect(device, data, size, nullptr, nullptr, 0, nullptr, &effect, nullptr)
                        : D3DERR_INVALIDCALL;
    Int_FreeMem(data, size, 0);
    if (hr < 0 || !effect) return DropVariant(entry, variant);
    d->effect[variant] = effect;
    Qel_DPrintf(0, "Loaded binary fx shader %s[%04x]\n", path, static_cast<unsigned>(variant));
    d->name = Qel_StrReassign(d->name, entry->name ? entry->name : "");
    HandOverStateManager(effect);
    return d;
}

SysShaderDefinition* S_3DLoadShaderSource(B3DNamedEntry* entry, int variant) {
    if (!entry || variant < 0 || variant > 1) return nullptr;
    SysShaderDefinition* d = MakeDefinition(entry, "SysShaderDefinition allocation for FX %s failed!\n");
    if (!d) return nullptr;
    const char* name = entry->name ? entry->name : "";
    char path[512];
    std::snprintf(path, sizeof path, EndsWithFx(name) ? "shader_src\\%s\\%s" : "shader_src\\%s\\%s.fx", Folder(), name);
    D3DXSetFileReader(ReadThroughCatalogs);
    IDirect3DDevice9* device = S_3DDevice();
    auto compile = [&](int v, ID3DXEffect** out, ID3DXBuffer** errors) {
        D3DXMACRO macros[11];
        int n = 0;
        for (const auto& m : S_ShaderVariantMacros)
            if (static_cast<uint32_t>(v) & m.bit) macros[n++] = {m.name, "true"};
        macros[n++] = {"VRMENGINE", "true"};
        macros[n] = {nullptr, nullptr};
        if (!device) return D3DERR_INVALIDCALL;
        return D3DXCreateEffectFromFileA(device, path, macros, nullptr, D3DXSHADER_PREFER_FLOW_CONTROL, nullptr, out,
                                         errors);
    };
    auto report = [&](int v, ID3DXBuffer* errors, bool withVariant) {
        if (withVariant) {
            if (errors)
                Qel_ErrPrintf("Can't compile FX %s[%04x]:\n%s\n", path, static_cast<unsigned>(v),
                              ErrorText(errors).c_str());
            else Qel_ErrPrintf("Can't compile FX %s[%04x]: Unknown error\n", path, static_cast<unsigned>(v));
        } else {
            if (errors) Qel_ErrPrintf("Can't compile FX %s:\n%s\n", path, ErrorText(errors).c_str());
            else Qel_ErrPrintf("Can't compile FX %s: Unknown error\n", path);
        }
        if (errors) errors->Release();
    };
    if (!d->effect[0]) {
        ID3DXEffect* effect = nullptr;
        ID3DXBuffer* errors = nullptr;
        if (compile(0, &effect, &errors) < 0 || !effect) {
            report(0, errors, false);
            return DropVariant(entry, 0);
        }
        if (errors) errors->Release();
        d->effect[0] = effect;
        Qel_DPrintf(0, "Loaded source fx shader %s\n", path);
        HandOverStateManager(effect);
        D3DXHANDLE defines = effect->GetParameterByName(nullptr, "COMPILE_DEFINES");
        const char* text = nullptr;
        if (defines && effect->GetString(defines, &text) >= 0) d->supportedDefines |= S_3DParseCompileDefines(text);
    }
    if (!d->effect[variant]) {
        ID3DXEffect* effect = nullptr;
        ID3DXBuffer* errors = nullptr;
        if (compile(variant, &effect, &errors) < 0 || !effect) {
            report(variant, errors, true);
            return DropVariant(entry, variant);
        }
        if (errors) errors->Release();
        d->effect[variant] = effect;
        Qel_DPrintf(0, "Loaded source fx shader %s[%04x]\n", path, static_cast<unsigned>(variant));
        HandOverStateManager(effect);
    }
    return d;
}

SysShaderDefinition* S_3DLoadShader(B3DNamedEntry* entry, int variant) {
    if (!entry || variant < 0 || variant > 1) return nullptr;
    auto* d = static_cast<SysShaderDefinition*>(entry->definition);
    if (d && d->effect[variant]) return d;
    d = S_3DLoadShaderBin(variant, entry);
    if (d && d->effect[variant]) return d;
    d = S_3DLoadShaderSource(entry, variant);
    if (d && d->effect[variant]) return d;
    Qel_ErrPrintf("S_3DLoadShader() Unable to load shader %s [%d]\n", entry->name ? entry->name : "", variant);
    return nullptr;
}

SysShaderDefinition* S_3DGetShader(const char* name, int variant) {
    if (!name) return nullptr;
    B3DNamedEntry* entry = B3D_FindEffectByName(name);
    if (!entry) entry = B3D_AllocName(name);
    if (!entry) return nullptr;
    SysShaderDefinition* d = S_3DLoadShader(entry, variant);
    if (!d && !entry->definition) B3D_FreeNamedEntry(entry);
    return d;
}

void S_3DShaderLostDevice(SysShaderDefinition* definition) {
    if (!definition) return;
    for (ID3DXEffect* e : definition->effect) {
        if (!e) break;
        e->OnLostDevice();
    }
}

void S_3DFreeShaderDefinition(B3DNamedEntry* entry) {
    if (entry) FreeDefinition(entry);
}
