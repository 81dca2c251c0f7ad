// Direct3D adapters and display modes: enumeration, rating and the choice of
// the adapter and mode the device is created on.
#pragma once

#include <cstdint>

#include "platform/win32/basetypes.h"

class IDirect3D9;
struct AdapterInfo;  // system/adapter_info.h
struct D3DDeviceRecord;
class CStateManagerInterface;

struct DispMode {
    UINT width;
    UINT height;
    UINT refreshRate;
    D3DFORMAT format;
    // Pixel description (S3D_AddDDPFfromDX8F).
    uint32_t pfFlags;
    uint16_t pfBitsPerPixel;
    uint16_t pfAlphaBits;
    uint32_t backBufferFormatCount;
    D3DFORMAT* backBufferFormats;
    uint32_t further[2];
    uint32_t textureFormatCount;
    D3DFORMAT* textureFormats;
    uint32_t depthFormatCount;
    D3DFORMAT* depthFormats;
    uint32_t redMask;
    uint32_t greenMask;
    uint32_t blueMask;
    uint32_t furtherWord;
};

struct RendererState {
    IDirect3D9* d3d;
    int32_t adapterCount;
    int32_t windowed;
    AdapterInfo* adapters;
    D3DDeviceRecord* device;
    CStateManagerInterface* stateManager;
    // --- the renderer's own fields ---
    uint32_t envFlags;    // environment-map flags (bit 0x80 cleared by a reset)
    int64_t bufferBytes;  // bytes of every vertex and index buffer the renderer owns
};

extern RendererState* g_RendererState;

// Live counters of Direct3D objects, logged when the video closes.
struct D3DObjectCounters {
    int32_t vertexBuffers;
    int32_t shaderVertexBuffers;
    int32_t indexBuffers;
    int32_t textures;
    int32_t surfaces;
};
extern D3DObjectCounters g_D3DCounters;

// Candidate lists, each ended by 0.
extern const D3DFORMAT S_BackBufferCandidates[5];
extern const D3DFORMAT S_DepthStencilCandidates[8];

int S_EnumDevices();
int S_EnumAdapterModes(int ordinal, AdapterInfo* adapter);
int S_CheckAdapterMode(DispMode* mode, AdapterInfo* adapter, int windowed);
int S_EvalAdapter(int ordinal);
int S_ChooseAdapter();
void S_SetDefault3DSettings(int ordinal);
void S_FreeDevicesList();

int S_FormatBitsPerPixel(D3DFORMAT format);
const char* S_AntialiasName(int samples);
const char* S_TextureQualityName(int quality);
const char* S_ShaderQualityName(int quality);

// Allocates the RendererState and the Direct3D interface when missing; 1 when both exist.
int S_CreateRendererState();
