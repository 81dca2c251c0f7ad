// The video device: the game window, the Direct3D device on the chosen adapter
// and mode, the two screen bitmaps on its back buffer, present, reset and close.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9.h"
#include "system/reopenhook.h"

struct EBM;
struct AdapterInfo;
struct DispMode;
struct TextureBitmapFormat;
class CStateManagerInterface;

// Video flags of the VideoRecord.
constexpr uint32_t VIDEO_FLAG_BACKBUFFER = 0x20;
constexpr uint32_t VIDEO_FLAG_16BIT = 0x800;
constexpr uint32_t VIDEO_FLAG_TRUECOLOR = 0x1000;
constexpr uint32_t VIDEO_FLAG_NO_D3D = 0x2000;
constexpr uint32_t VIDEO_FLAG_WINDOWED = 0x8000000;

// The display record (kept with the displays of the base library).
struct VideoRecord {
    EBM* VideoEBM;
    EBM* BackBufferEBM;
    EBM* surface3;
    EBM* surface2;
    uint32_t flags;
    // Channel description of the back buffer: shift and bit count per channel.
    uint16_t redShift, redBits;
    uint16_t greenShift, greenBits;
    uint16_t blueShift, blueBits;
    uint16_t alphaShift, alphaBits;
    int32_t aspectX;  // 16.16
    int32_t aspectY;  // 16.16
    int32_t zeroWords[2];
    uint16_t adapterCount;
    uint8_t adapterArea[256];
    uint32_t* workBuffer;  // squares table of the displays
};

extern VideoRecord* g_VideoRecord;

struct D3DDeviceRecord {
    IDirect3DDevice9* device;
    AdapterInfo* adapter;
    char detectedProfile[16];
    char chosenProfile[16];
    char shaderFolder[64];
    uint8_t sm2Detected;
    uint8_t sm14InUse;
    uint8_t anisotropicOn;
    int32_t anisotropyLevel;
    int32_t textureQuality;
    uint8_t sm2InUse;
    uint8_t spareFlag;
    int32_t modeIndex;
    TextureBitmapFormat* screenFormat;
    IDirect3DSurface9* backBuffer;
    IDirect3DSurface9* depthStencil;
    TextureBitmapFormat* opaqueFormat;
    TextureBitmapFormat* transparentFormat;
    TextureBitmapFormat* thirdFormat;
    DispMode* mode;
    DWORD maxSimultaneousTextures;
    D3DPRESENT_PARAMETERS presentParams;
    // The renderer's, set at its start: 0 none, 10 for 1.0-1.3, 14 for 1.4, 20 for 2.0 on.
    int32_t pixelShaderLevel;
    int32_t vertexShaders;         // the renderer's: 1 when vertex shaders are usable
    int32_t vertexProcessingMode;  // the renderer's: 0 none, 1 hardware, 2 software
    uint32_t declTypeBits;         // 0x300 half floats, 0x80 DEC3N
};

VideoRecord* S_InitVideo(int width, int height, int depth, uint32_t flags);
int S_Create3DDevice();
// How presents are paced: to the display's refresh where the device offers
// it, so that a window never draws unbounded; immediately in a benchmark run,
// whose figures measure the engine, and with a fixed frame step, whose
// headless runs go as fast as they can.
DWORD S_PresentInterval(DWORD offeredIntervals, uint32_t profilingFlags, int32_t fixedFrameStep);
CStateManagerInterface* S_InitStateManager(CStateManagerInterface** out);
void S_FlipScreen();
int S_Reset3DDevice();
int S_ResetDevice();
void S_CloseVideoDevice(int full);
int S_CheckMultiSample(int ordinal, D3DFORMAT format, int samples);
void S_AcquireDeviceSurfaces();
void S_LogDeviceLost();
