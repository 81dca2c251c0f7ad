// Renderer start-up. The texture formats and the light count are kept in the
// scene engine's state: they reach it through two narrow declarations below
// rather than the scene engine's headers.
#include "render/startup.h"

#include <algorithm>

#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/table.h"
#include "base/texcache.h"
#include "render/cameras.h"
#include "render/device.h"
#include "render/effects.h"
#include "render/mesh.h"
#include "render/partdraw.h"
#include "render/pixelformat.h"
#include "render/targets.h"
#include "system/adapter_info.h"
#include "system/adapters.h"
#include "system/video.h"

// scene/state.h
int32_t B3D_AddTextureFormat(void* record, int32_t code);
void B3D_SetRendererWords(int32_t opaqueFormat, int32_t transparentFormat, int32_t hardwareLights);

namespace {

constexpr DWORD kShaderVersion11 = 0x0101;  // 1.1 in the low word of a shader version

struct VertexProcessing {
    int32_t shaders;  // 1 usable
    int32_t mode;     // 0 none, 1 hardware, 2 software
};

int Major(DWORD version) { return static_cast<int>(D3DSHADER_VERSION_MAJOR(version)); }
int Minor(DWORD version) { return static_cast<int>(D3DSHADER_VERSION_MINOR(version)); }
bool AtLeast11(DWORD version) { return (version & 0xFFFF) >= kShaderVersion11; }

// A copy of the device's descriptor registered under its code; the code, or
// -2 when memory runs out. *out is the registered copy (null when none).
int32_t RegisterFormat(const TextureBitmapFormat* descriptor, const TextureBitmapFormat** out) {
    *out = nullptr;
    auto* record = Int_AllocRecord<TextureBitmapFormat>(0);
    if (!record) record = Int_AllocRecord<TextureBitmapFormat>(0);
    if (!record) {
        Qel_ErrPrintf("Can't alloc memory for TextureBitmapFormat.\n");
        return -2;
    }
    *record = *descriptor;
    if (!B3D_AddTextureFormat(record, record->code)) {
        Int_FreeRecord(record, 0);
        return -1;
    }
    *out = record;
    return record->code;
}

// The texture cache loads its textures in the formats just registered: the
// opaque one, and the transparent one (the opaque one when the device offers
// only one). The records stay the scene state's; the cache only points at them.
void PublishTextureFormats(const TextureBitmapFormat* opaque, const TextureBitmapFormat* transparent) {
    if (!g_TCTextureFormats) g_TCTextureFormats = Qel_TableCreate();
    if (!g_TCTextureFormats) return;
    const auto publish = [](uint32_t key, const TextureBitmapFormat* record) {
        if (record) Qel_TableSet(g_TCTextureFormats, key, reinterpret_cast<uintptr_t>(record));
        else Qel_TableRemove(g_TCTextureFormats, key);
    };
    publish(TC_FORMAT_OPAQUE, opaque);
    publish(TC_FORMAT_ALPHA, transparent ? transparent : opaque);
}

VertexProcessing HardwareShaders(DWORD version) {
    Qel_DPrintf(0, "S_3DInit() Using Hardware Vertex Shader, version %d.%d\n", Major(version), Minor(version));
    return {1, 1};
}

VertexProcessing SoftwareShaders(DWORD version) {
    Qel_DPrintf(0, "S_3DInit() Using Software Vertex Shader, version %d.%d\n", Major(version), Minor(version));
    return {1, 2};
}

VertexProcessing ChooseVertexProcessing(IDirect3DDevice9* device, DWORD behaviour, const D3DCAPS9& caps) {
    if (behaviour & D3DCREATE_HARDWARE_VERTEXPROCESSING) {
        if (AtLeast11(caps.VertexShaderVersion)) return HardwareShaders(caps.VertexShaderVersion);
        Qel_DPrintf(0,
                    "S_3DInit() No Vertex shader available for Hardware Vertex Processing, disabling Vertex "
                    "Shaders\n");
        return {0, 0};
    }
    if (behaviour & D3DCREATE_MIXED_VERTEXPROCESSING) {
        if (AtLeast11(caps.VertexShaderVersion)) return HardwareShaders(caps.VertexShaderVersion);
        device->SetSoftwareVertexProcessing(1);
        D3DCAPS9 software{};
        if (SUCCEEDED(device->GetDeviceCaps(&software)) && AtLeast11(software.VertexShaderVersion))
            return SoftwareShaders(software.VertexShaderVersion);
        Qel_DPrintf(0,
                    "S_3DInit() No Vertex shader available for either Hardware and Software Vertex Processing, "
                    "disabling Vertex Shaders\n");
        return {0, 0};
    }
    if (AtLeast11(caps.VertexShaderVersion)) return SoftwareShaders(caps.VertexShaderVersion);
    Qel_DPrintf(0, "S_3DInit() No Vertex shader available for Software Vertex Processing, disabling Vertex Shaders\n");
    return {0, 0};
}

int32_t PixelShaderLevel(DWORD version) {
    const int major = Major(version), minor = Minor(version);
    if (major == 0) {
        Qel_DPrintf(0, "S_3DInit() No Hardware Pixel Shader available!\n");
        return 0;
    }
    Qel_DPrintf(0, "S_3DInit() Using Hardware Pixel Shader, version %d.%d\n", major, minor);
    if (major >= 2) return 20;
    return minor < 4 ? 10 : 14;
}

}  // namespace

int S_3DInit() {
    D3DDeviceRecord* d = g_RendererState ? g_RendererState->device : nullptr;
    IDirect3DDevice9* device = d ? d->device : nullptr;
    if (!device) return 0;

    g_S3DCameraSetUpPending = 1;
    S_3DCreateVertexDeclarations();
    S_3DSetDefaultRenderStates();

    int32_t opaque = -1, transparent = -1;
    const TextureBitmapFormat* opaqueRecord = nullptr;
    const TextureBitmapFormat* transparentRecord = nullptr;
    if (d->opaqueFormat) {
        opaque = RegisterFormat(d->opaqueFormat, &opaqueRecord);
        if (opaque == -2) return 0;
    }
    // The system layer copies one descriptor into the other when the device
    // offers one texture format: the same code is the same format.
    const bool oneFormat = !d->transparentFormat || d->transparentFormat == d->opaqueFormat ||
                           (d->opaqueFormat && d->transparentFormat->code == d->opaqueFormat->code);
    if (!oneFormat) {
        transparent = RegisterFormat(d->transparentFormat, &transparentRecord);
        if (transparent == -2) return 0;
    }

    if (!S_3DAllocMatrices()) return 0;
    Qel_DPrintf(0, "3D Device = %s\n", d->adapter ? d->adapter->identifier.Description : "");

    D3DCAPS9 caps{};
    device->GetDeviceCaps(&caps);
    if (g_SystemState && (caps.Caps2 & D3DCAPS2_FULLSCREENGAMMA) && !d->presentParams.Windowed)
        g_SystemState->VideoD3DFlags2 |= S3D_OPTION_FULLSCREEN_GAMMA;

    const int32_t lights =
        static_cast<int32_t>(std::min<DWORD>(caps.MaxActiveLights, static_cast<DWORD>(S3D_MAX_HARDWARE_LIGHTS)));
    B3D_SetRendererWords(opaque, transparent, lights);
    PublishTextureFormats(opaqueRecord, transparentRecord);
    for (DWORD i = 0; i <= static_cast<DWORD>(S3D_MAX_HARDWARE_LIGHTS); ++i) device->LightEnable(i, 0);

    DWORD behaviour = 0;
    if (d->adapter) {
        behaviour = d->adapter->behaviorFlags;
    } else {
        D3DDEVICE_CREATION_PARAMETERS creation{};
        if (SUCCEEDED(device->GetCreationParameters(&creation))) behaviour = creation.BehaviorFlags;
    }
    const VertexProcessing vp = ChooseVertexProcessing(device, behaviour, caps);
    d->vertexShaders = vp.shaders;
    d->vertexProcessingMode = vp.mode;
    const bool hardwareCapable = behaviour & (D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MIXED_VERTEXPROCESSING);
    d->pixelShaderLevel = hardwareCapable ? PixelShaderLevel(caps.PixelShaderVersion) : 0;
    // Part drawing switches software processing on per draw.
    if (behaviour & D3DCREATE_MIXED_VERTEXPROCESSING) device->SetSoftwareVertexProcessing(0);

    if (d->sm2Detected == 1 && S_3DGetShader("bloom", 0)) S_3DInitPostProcessFX();
    if (d->sm14InUse) S_3DInitEnviMapRender();

    S_3DUpdatePartDrawSettings();
    Qel_DPrintf(0, "S_3DInit() MaxVertexBlendMatrixIndex = %d\n", static_cast<int>(caps.MaxVertexBlendMatrixIndex));
    return 1;
}
