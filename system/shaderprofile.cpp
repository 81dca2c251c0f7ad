// The pixel-shader profile, the shader folder it selects, anisotropic filtering,
// the fixed lookup textures and the effect state manager, right after the device
// is created.
#include "system/shaderprofile.h"

#include <cstdio>
#include <cstring>

#include "base/ebm.h"
#include "base/general.h"
#include "base/imagefiles.h"
#include "base/log.h"
#include "platform/d3dx/d3dx9.h"
#include "system/adapter_info.h"
#include "system/adapters.h"
#include "system/video.h"

LookupTextureSet g_LookupTextures;

const char* const S_LightingTextureNames[10] = {"varsk", "thuun",  "drasz", "ossyl",    "zevra",
                                                "meluq", "quorin", "solen", "asteroid", "default"};

S_TextureLoaderFn g_LookupTextureLoader = S_LoadTexture;

static EBM* Load(EBM* old, const char* name) {
    FreeILBM(old);
    return g_LookupTextureLoader ? g_LookupTextureLoader(name, 0x80040000u, 0, 0) : nullptr;
}

static bool Is(const char* a, const char* b) { return strcmp(a, b) == 0; }

int S_InitShaderProfile(D3DDeviceRecord* d) {
    SystemState* s = g_SystemState;
    if (!d || !d->device || !s) return 0;
    s->shaderScale = 1.0f;
    d->declTypeBits = 0;
    d->sm2Detected = d->sm14InUse = d->anisotropicOn = d->sm2InUse = d->spareFlag = 0;
    d->anisotropyLevel = 1;
    d->textureQuality = s->textureQuality;

    const char* profile = D3DXGetPixelShaderProfile(d->device);
    if (!profile || !strstr(profile, "ps")) {
        Qel_DPrintf(4, "S_Create3DDevice() Can't measure PS Profile!\n");
        return 0;
    }
    snprintf(d->detectedProfile, sizeof d->detectedProfile, "%s", profile);
    const char* chosen = profile;
    if (Is(profile, "ps_2_0") || Is(profile, "ps_2_a") || Is(profile, "ps_2_b") || Is(profile, "ps_3_0"))
        d->sm2Detected = 1;
    if (s->shaderQuality == 0) {
        if (Is(profile, "ps_1_1") || Is(profile, "ps_1_3")) {
            chosen = "ps_1_1";
            s->shaderScale = 1.4f;
        } else if (Is(profile, "ps_1_4") || Is(profile, "ps_2_0")) {
            chosen = "ps_1_1";
            s->shaderScale = 1.3f;
        } else if (Is(profile, "ps_2_a") || Is(profile, "ps_3_0") || Is(profile, "ps_2_b")) {
            chosen = "ps_1_1";
            s->shaderScale = 1.2f;
        }
    } else if (s->shaderQuality == 1) {
        s->shaderScale = 1.15f;
        if (Is(profile, "ps_2_0") || Is(profile, "ps_2_a") || Is(profile, "ps_2_b") || Is(profile, "ps_3_0"))
            chosen = "ps_1_4";
    }
    snprintf(d->chosenProfile, sizeof d->chosenProfile, "%s", chosen);

    const D3DCAPS9& caps = d->adapter->caps;
    static const int levels[4] = {2, 4, 8, 16};
    if ((caps.TextureFilterCaps & D3DPTFILTERCAPS_MINFANISOTROPIC) && s->filterMode >= 0 &&
        (s->VideoD3DFlags2 & 0x200)) {
        d->anisotropicOn = 1;
        int wanted = s->filterMode <= 3 ? levels[s->filterMode] : 2;
        d->anisotropyLevel =
            static_cast<int32_t>(caps.MaxAnisotropy) < wanted ? static_cast<int32_t>(caps.MaxAnisotropy) : wanted;
    }

    const char* suffix = "";
    uint32_t f2 = s->VideoD3DFlags2;
    if ((f2 & 0x800) && (f2 & 0x1000)) suffix = "\\hue_lights_off";
    else if (f2 & 0x800) suffix = "\\hueshift_off";
    else if (f2 & 0x1000) suffix = "\\v_lights_off";
    if ((caps.DeclTypes & D3DDTCAPS_FLOAT16_2) && (caps.DeclTypes & D3DDTCAPS_FLOAT16_4) && !(f2 & 0x2000))
        d->declTypeBits |= 0x300;
    if (caps.DeclTypes & D3DDTCAPS_DEC3N) d->declTypeBits |= 0x80;

    const char* folder;
    const char* version;
    if (Is(chosen, "ps_1_1") || Is(chosen, "ps_1_2") || Is(chosen, "ps_1_3")) {
        folder = "1_1", version = "1.1";
        d->sm14InUse = d->sm2InUse = d->sm2Detected = 0;
    } else if (Is(chosen, "ps_1_4")) {
        folder = "1_4", version = "1.4";
        d->sm14InUse = 1;
        d->sm2InUse = d->sm2Detected = 0;
    } else {
        if (Is(chosen, "ps_2_0")) folder = "2_0", version = "2.0";
        else if (Is(chosen, "ps_2_b")) folder = "2_b", version = "2.b";
        else if (Is(chosen, "ps_2_a")) folder = "2_a", version = "2.a";
        else if (Is(chosen, "ps_3_0")) folder = "3_0", version = "3.0";
        else return 0;
        d->sm14InUse = d->sm2InUse = 1;
    }
    snprintf(d->shaderFolder, sizeof d->shaderFolder, "%s%s", folder, suffix);
    snprintf(s->shaderVersion, sizeof s->shaderVersion, "%s", version);

    if (!d->sm2InUse) s->VideoD3DFlags2 |= 0x400;
    else s->VideoD3DFlags2 &= ~0x400u;
    if (!d->sm2Detected) s->VideoD3DFlags2 &= ~0x80u;
    if (!d->sm14InUse) s->VideoD3DFlags2 |= 0x100;
    else s->VideoD3DFlags2 &= ~0x100u;

    LookupTextureSet& t = g_LookupTextures;
    if (!Is(chosen, "ps_3_0") && !Is(chosen, "ps_1_1") && !Is(chosen, "ps_2_b")) {
        UINT w = 256, h = 256, n = 1;
        D3DFORMAT format = D3DFMT_G16R16;
        D3DXCheckTextureRequirements(d->device, &w, &h, &n, 0, &format, D3DPOOL_MANAGED);
        const char* ending = format == D3DFMT_G16R16 ? "G16R16" : "XRGB8";
        const char* blinn = Is(chosen, "ps_1_4") ? "_blinn" : "";
        for (int i = 0; i < 10; ++i) {
            char name[64];
            snprintf(name, sizeof name, "\\%s_lighting%s_%s", S_LightingTextureNames[i], blinn, ending);
            t.lighting[i] = Load(t.lighting[i], name);
        }
        format = D3DFMT_L16;
        D3DXCheckTextureRequirements(d->device, &w, &h, &n, 0, &format, D3DPOOL_MANAGED);
        bool l16 = format == D3DFMT_L16;
        t.pow = Load(t.pow, l16 ? "\\pow_L16" : "\\pow_L8");
        if (d->sm2InUse) t.deriveZ = Load(t.deriveZ, l16 ? "\\derive_z_L16" : "\\derive_z_L8");
        UINT size = 256;
        format = D3DFMT_A2B10G10R10;
        D3DXCheckCubeTextureRequirements(d->device, &size, &n, 0, &format, D3DPOOL_MANAGED);
        const char* normalize = format == D3DFMT_A2B10G10R10    ? "\\normalize_10bit_ABGR"
                                : format == D3DFMT_A2R10G10B10  ? "\\normalize_10bit_ARGB"
                                : format == D3DFMT_A16B16G16R16 ? "\\normalize_16bit_ABGR"
                                                                : "\\normalize_8bit";
        t.normalizeCube = Load(t.normalizeCube, normalize);
    }
    t.whiteDummy = Load(t.whiteDummy, "\\fx_WhiteDummy");
    t.blackDummy = Load(t.blackDummy, "\\fx_BlackDummy");
    t.blackDummy2 = Load(t.blackDummy2, "\\fx_BlackDummy");
    t.blackDummyCube = Load(t.blackDummyCube, "\\fx_BlackDummyCube");

    Qel_DPrintf(4, "INFO:\tS_Create3DDevice() detected shader Profile [ %s ]\n", d->detectedProfile);
    Qel_DPrintf(4, "INFO:\tS_Create3DDevice() choosen shader Profile [ %s ]\n", d->shaderFolder);
    if (!S_InitStateManager(&g_RendererState->stateManager)) return 0;
    return 1;
}
