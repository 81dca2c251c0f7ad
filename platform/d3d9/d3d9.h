// Our Direct3D 9 subset: the types, constants and interfaces the engine uses,
// implemented over OpenGL 3.3 core in an SDL2 window (see d3d9.cpp, device.cpp,
// resources.cpp). Rows: every surface, texture and back buffer holds memory
// row 0 as its top row; only Present turns the picture onto the window.
#pragma once

#include <cstdint>

#include "platform/win32/basetypes.h"

// ---------------------------------------------------------------- results
constexpr HRESULT D3D_OK = 0;
constexpr HRESULT D3DOK_NOAUTOGEN = 0x0876086F;
constexpr HRESULT D3DERR_WRONGTEXTUREFORMAT = static_cast<HRESULT>(0x88760818u);
constexpr HRESULT D3DERR_UNSUPPORTEDCOLOROPERATION = static_cast<HRESULT>(0x88760819u);
constexpr HRESULT D3DERR_TOOMANYOPERATIONS = static_cast<HRESULT>(0x8876081Du);
constexpr HRESULT D3DERR_DRIVERINTERNALERROR = static_cast<HRESULT>(0x88760827u);
constexpr HRESULT D3DERR_NOTFOUND = static_cast<HRESULT>(0x88760866u);
constexpr HRESULT D3DERR_MOREDATA = static_cast<HRESULT>(0x88760867u);
constexpr HRESULT D3DERR_DEVICELOST = static_cast<HRESULT>(0x88760868u);
constexpr HRESULT D3DERR_DEVICENOTRESET = static_cast<HRESULT>(0x88760869u);
constexpr HRESULT D3DERR_NOTAVAILABLE = static_cast<HRESULT>(0x8876086Au);
constexpr HRESULT D3DERR_OUTOFVIDEOMEMORY = static_cast<HRESULT>(0x8876017Cu);
constexpr HRESULT D3DERR_INVALIDDEVICE = static_cast<HRESULT>(0x8876086Bu);
constexpr HRESULT D3DERR_INVALIDCALL = static_cast<HRESULT>(0x8876086Cu);
constexpr HRESULT D3DERR_WASSTILLDRAWING = static_cast<HRESULT>(0x8876021Cu);

constexpr UINT D3D_SDK_VERSION = 32;

// ---------------------------------------------------------------- formats
constexpr D3DFORMAT D3D_MAKEFOURCC(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) | (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}
constexpr D3DFORMAT D3DFMT_UNKNOWN = 0;
constexpr D3DFORMAT D3DFMT_R8G8B8 = 20;
constexpr D3DFORMAT D3DFMT_A8R8G8B8 = 21;
constexpr D3DFORMAT D3DFMT_X8R8G8B8 = 22;
constexpr D3DFORMAT D3DFMT_R5G6B5 = 23;
constexpr D3DFORMAT D3DFMT_X1R5G5B5 = 24;
constexpr D3DFORMAT D3DFMT_A1R5G5B5 = 25;
constexpr D3DFORMAT D3DFMT_A4R4G4B4 = 26;
constexpr D3DFORMAT D3DFMT_R3G3B2 = 27;
constexpr D3DFORMAT D3DFMT_A8 = 28;
constexpr D3DFORMAT D3DFMT_A8R3G3B2 = 29;
constexpr D3DFORMAT D3DFMT_X4R4G4B4 = 30;
constexpr D3DFORMAT D3DFMT_A2B10G10R10 = 31;
constexpr D3DFORMAT D3DFMT_A8B8G8R8 = 32;
constexpr D3DFORMAT D3DFMT_X8B8G8R8 = 33;
constexpr D3DFORMAT D3DFMT_G16R16 = 34;
constexpr D3DFORMAT D3DFMT_A2R10G10B10 = 35;
constexpr D3DFORMAT D3DFMT_A16B16G16R16 = 36;
constexpr D3DFORMAT D3DFMT_A8P8 = 40;
constexpr D3DFORMAT D3DFMT_P8 = 41;
constexpr D3DFORMAT D3DFMT_L8 = 50;
constexpr D3DFORMAT D3DFMT_A8L8 = 51;
constexpr D3DFORMAT D3DFMT_A4L4 = 52;
constexpr D3DFORMAT D3DFMT_V8U8 = 60;
constexpr D3DFORMAT D3DFMT_L6V5U5 = 61;
constexpr D3DFORMAT D3DFMT_X8L8V8U8 = 62;
constexpr D3DFORMAT D3DFMT_Q8W8V8U8 = 63;
constexpr D3DFORMAT D3DFMT_V16U16 = 64;
constexpr D3DFORMAT D3DFMT_A2W10V10U10 = 67;
constexpr D3DFORMAT D3DFMT_UYVY = D3D_MAKEFOURCC('U', 'Y', 'V', 'Y');
constexpr D3DFORMAT D3DFMT_YUY2 = D3D_MAKEFOURCC('Y', 'U', 'Y', '2');
constexpr D3DFORMAT D3DFMT_DXT1 = D3D_MAKEFOURCC('D', 'X', 'T', '1');
constexpr D3DFORMAT D3DFMT_DXT2 = D3D_MAKEFOURCC('D', 'X', 'T', '2');
constexpr D3DFORMAT D3DFMT_DXT3 = D3D_MAKEFOURCC('D', 'X', 'T', '3');
constexpr D3DFORMAT D3DFMT_DXT4 = D3D_MAKEFOURCC('D', 'X', 'T', '4');
constexpr D3DFORMAT D3DFMT_DXT5 = D3D_MAKEFOURCC('D', 'X', 'T', '5');
constexpr D3DFORMAT D3DFMT_D16_LOCKABLE = 70;
constexpr D3DFORMAT D3DFMT_D32 = 71;
constexpr D3DFORMAT D3DFMT_D15S1 = 73;
constexpr D3DFORMAT D3DFMT_D24S8 = 75;
constexpr D3DFORMAT D3DFMT_D24X8 = 77;
constexpr D3DFORMAT D3DFMT_D24X4S4 = 79;
constexpr D3DFORMAT D3DFMT_D16 = 80;
constexpr D3DFORMAT D3DFMT_L16 = 81;
constexpr D3DFORMAT D3DFMT_D32F_LOCKABLE = 82;
constexpr D3DFORMAT D3DFMT_D24FS8 = 83;
constexpr D3DFORMAT D3DFMT_VERTEXDATA = 100;
constexpr D3DFORMAT D3DFMT_INDEX16 = 101;
constexpr D3DFORMAT D3DFMT_INDEX32 = 102;
constexpr D3DFORMAT D3DFMT_Q16W16V16U16 = 110;
constexpr D3DFORMAT D3DFMT_R16F = 111;
constexpr D3DFORMAT D3DFMT_G16R16F = 112;
constexpr D3DFORMAT D3DFMT_A16B16G16R16F = 113;
constexpr D3DFORMAT D3DFMT_R32F = 114;
constexpr D3DFORMAT D3DFMT_G32R32F = 115;
constexpr D3DFORMAT D3DFMT_A32B32G32R32F = 116;

// ---------------------------------------------------------------- enums and flags
using D3DDEVTYPE = uint32_t;
constexpr D3DDEVTYPE D3DDEVTYPE_HAL = 1;
constexpr D3DDEVTYPE D3DDEVTYPE_REF = 2;
constexpr D3DDEVTYPE D3DDEVTYPE_SW = 3;

using D3DRESOURCETYPE = uint32_t;
constexpr D3DRESOURCETYPE D3DRTYPE_SURFACE = 1;
constexpr D3DRESOURCETYPE D3DRTYPE_VOLUME = 2;
constexpr D3DRESOURCETYPE D3DRTYPE_TEXTURE = 3;
constexpr D3DRESOURCETYPE D3DRTYPE_VOLUMETEXTURE = 4;
constexpr D3DRESOURCETYPE D3DRTYPE_CUBETEXTURE = 5;
constexpr D3DRESOURCETYPE D3DRTYPE_VERTEXBUFFER = 6;
constexpr D3DRESOURCETYPE D3DRTYPE_INDEXBUFFER = 7;

using D3DPOOL = uint32_t;
constexpr D3DPOOL D3DPOOL_DEFAULT = 0;
constexpr D3DPOOL D3DPOOL_MANAGED = 1;
constexpr D3DPOOL D3DPOOL_SYSTEMMEM = 2;
constexpr D3DPOOL D3DPOOL_SCRATCH = 3;

constexpr DWORD D3DUSAGE_RENDERTARGET = 0x1;
constexpr DWORD D3DUSAGE_DEPTHSTENCIL = 0x2;
constexpr DWORD D3DUSAGE_WRITEONLY = 0x8;
constexpr DWORD D3DUSAGE_DYNAMIC = 0x200;
constexpr DWORD D3DUSAGE_AUTOGENMIPMAP = 0x400;

using D3DMULTISAMPLE_TYPE = uint32_t;
constexpr D3DMULTISAMPLE_TYPE D3DMULTISAMPLE_NONE = 0;
constexpr D3DMULTISAMPLE_TYPE D3DMULTISAMPLE_NONMASKABLE = 1;
constexpr D3DMULTISAMPLE_TYPE D3DMULTISAMPLE_2_SAMPLES = 2;
constexpr D3DMULTISAMPLE_TYPE D3DMULTISAMPLE_4_SAMPLES = 4;
constexpr D3DMULTISAMPLE_TYPE D3DMULTISAMPLE_6_SAMPLES = 6;
constexpr D3DMULTISAMPLE_TYPE D3DMULTISAMPLE_8_SAMPLES = 8;
constexpr D3DMULTISAMPLE_TYPE D3DMULTISAMPLE_16_SAMPLES = 16;

using D3DSWAPEFFECT = uint32_t;
constexpr D3DSWAPEFFECT D3DSWAPEFFECT_DISCARD = 1;
constexpr D3DSWAPEFFECT D3DSWAPEFFECT_FLIP = 2;
constexpr D3DSWAPEFFECT D3DSWAPEFFECT_COPY = 3;

constexpr DWORD D3DPRESENTFLAG_LOCKABLE_BACKBUFFER = 0x1;
constexpr DWORD D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL = 0x2;
constexpr UINT D3DPRESENT_INTERVAL_DEFAULT = 0;
constexpr UINT D3DPRESENT_INTERVAL_ONE = 1;
constexpr UINT D3DPRESENT_INTERVAL_IMMEDIATE = 0x80000000u;

constexpr DWORD D3DCREATE_FPU_PRESERVE = 0x2;
constexpr DWORD D3DCREATE_MULTITHREADED = 0x4;
constexpr DWORD D3DCREATE_PUREDEVICE = 0x10;
constexpr DWORD D3DCREATE_SOFTWARE_VERTEXPROCESSING = 0x20;
constexpr DWORD D3DCREATE_HARDWARE_VERTEXPROCESSING = 0x40;
constexpr DWORD D3DCREATE_MIXED_VERTEXPROCESSING = 0x80;

constexpr DWORD D3DCLEAR_TARGET = 0x1;
constexpr DWORD D3DCLEAR_ZBUFFER = 0x2;
constexpr DWORD D3DCLEAR_STENCIL = 0x4;

constexpr DWORD D3DLOCK_READONLY = 0x10;
constexpr DWORD D3DLOCK_DISCARD = 0x2000;
constexpr DWORD D3DLOCK_NOOVERWRITE = 0x1000;
constexpr DWORD D3DLOCK_NOSYSLOCK = 0x800;
constexpr DWORD D3DLOCK_NO_DIRTY_UPDATE = 0x8000;

using D3DBACKBUFFER_TYPE = uint32_t;
constexpr D3DBACKBUFFER_TYPE D3DBACKBUFFER_TYPE_MONO = 0;

using D3DCUBEMAP_FACES = uint32_t;
constexpr D3DCUBEMAP_FACES D3DCUBEMAP_FACE_POSITIVE_X = 0;
constexpr D3DCUBEMAP_FACES D3DCUBEMAP_FACE_NEGATIVE_X = 1;
constexpr D3DCUBEMAP_FACES D3DCUBEMAP_FACE_POSITIVE_Y = 2;
constexpr D3DCUBEMAP_FACES D3DCUBEMAP_FACE_NEGATIVE_Y = 3;
constexpr D3DCUBEMAP_FACES D3DCUBEMAP_FACE_POSITIVE_Z = 4;
constexpr D3DCUBEMAP_FACES D3DCUBEMAP_FACE_NEGATIVE_Z = 5;

using D3DTEXTUREFILTERTYPE = uint32_t;
constexpr D3DTEXTUREFILTERTYPE D3DTEXF_NONE = 0;
constexpr D3DTEXTUREFILTERTYPE D3DTEXF_POINT = 1;
constexpr D3DTEXTUREFILTERTYPE D3DTEXF_LINEAR = 2;
constexpr D3DTEXTUREFILTERTYPE D3DTEXF_ANISOTROPIC = 3;

using D3DCOLOR = DWORD;
constexpr D3DCOLOR D3DCOLOR_ARGB(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    return ((a & 0xFF) << 24) | ((r & 0xFF) << 16) | ((g & 0xFF) << 8) | (b & 0xFF);
}
constexpr D3DCOLOR D3DCOLOR_XRGB(uint32_t r, uint32_t g, uint32_t b) { return D3DCOLOR_ARGB(0xFF, r, g, b); }

constexpr DWORD D3DVS_VERSION(DWORD major, DWORD minor) { return 0xFFFE0000u | (major << 8) | minor; }
constexpr DWORD D3DPS_VERSION(DWORD major, DWORD minor) { return 0xFFFF0000u | (major << 8) | minor; }
constexpr DWORD D3DSHADER_VERSION_MAJOR(DWORD v) { return (v >> 8) & 0xFF; }
constexpr DWORD D3DSHADER_VERSION_MINOR(DWORD v) { return v & 0xFF; }

// ---------------------------------------------------------------- capability bits
constexpr DWORD D3DDEVCAPS_HWTRANSFORMANDLIGHT = 0x10000;
constexpr DWORD D3DDEVCAPS_SEPARATETEXTUREMEMORIES = 0x4000;
constexpr DWORD D3DDEVCAPS_PUREDEVICE = 0x100000;
constexpr DWORD D3DDEVCAPS_HWRASTERIZATION = 0x80000;

constexpr DWORD D3DPMISCCAPS_MASKZ = 0x2;
constexpr DWORD D3DPMISCCAPS_CULLNONE = 0x10;
constexpr DWORD D3DPMISCCAPS_CULLCW = 0x20;
constexpr DWORD D3DPMISCCAPS_CULLCCW = 0x40;
constexpr DWORD D3DPMISCCAPS_COLORWRITEENABLE = 0x80;
constexpr DWORD D3DPMISCCAPS_BLENDOP = 0x800;
constexpr DWORD D3DPMISCCAPS_SEPARATEALPHABLEND = 0x20000;

constexpr DWORD D3DPRASTERCAPS_DITHER = 0x1;
constexpr DWORD D3DPRASTERCAPS_ZTEST = 0x10;
constexpr DWORD D3DPRASTERCAPS_FOGVERTEX = 0x80;
constexpr DWORD D3DPRASTERCAPS_FOGTABLE = 0x100;
constexpr DWORD D3DPRASTERCAPS_MIPMAPLODBIAS = 0x2000;
constexpr DWORD D3DPRASTERCAPS_ZBUFFERLESSHSR = 0x8000;
constexpr DWORD D3DPRASTERCAPS_FOGRANGE = 0x10000;
constexpr DWORD D3DPRASTERCAPS_ANISOTROPY = 0x20000;
constexpr DWORD D3DPRASTERCAPS_WBUFFER = 0x40000;
constexpr DWORD D3DPRASTERCAPS_WFOG = 0x100000;
constexpr DWORD D3DPRASTERCAPS_ZFOG = 0x200000;
constexpr DWORD D3DPRASTERCAPS_SCISSORTEST = 0x1000000;
constexpr DWORD D3DPRASTERCAPS_SLOPESCALEDEPTHBIAS = 0x2000000;
constexpr DWORD D3DPRASTERCAPS_DEPTHBIAS = 0x4000000;

constexpr DWORD D3DPCMPCAPS_ALL = 0xFF;

constexpr DWORD D3DPBLENDCAPS_ZERO = 0x1;
constexpr DWORD D3DPBLENDCAPS_ONE = 0x2;
constexpr DWORD D3DPBLENDCAPS_SRCCOLOR = 0x4;
constexpr DWORD D3DPBLENDCAPS_INVSRCCOLOR = 0x8;
constexpr DWORD D3DPBLENDCAPS_SRCALPHA = 0x10;
constexpr DWORD D3DPBLENDCAPS_INVSRCALPHA = 0x20;
constexpr DWORD D3DPBLENDCAPS_DESTALPHA = 0x40;
constexpr DWORD D3DPBLENDCAPS_INVDESTALPHA = 0x80;
constexpr DWORD D3DPBLENDCAPS_DESTCOLOR = 0x100;
constexpr DWORD D3DPBLENDCAPS_INVDESTCOLOR = 0x200;
constexpr DWORD D3DPBLENDCAPS_SRCALPHASAT = 0x400;
constexpr DWORD D3DPBLENDCAPS_BLENDFACTOR = 0x2000;

constexpr DWORD D3DPSHADECAPS_COLORGOURAUDRGB = 0x8;
constexpr DWORD D3DPSHADECAPS_SPECULARGOURAUDRGB = 0x200;
constexpr DWORD D3DPSHADECAPS_ALPHAGOURAUDBLEND = 0x4000;
constexpr DWORD D3DPSHADECAPS_FOGGOURAUD = 0x80000;

constexpr DWORD D3DPTEXTURECAPS_PERSPECTIVE = 0x1;
constexpr DWORD D3DPTEXTURECAPS_ALPHA = 0x4;
constexpr DWORD D3DPTEXTURECAPS_MIPMAP = 0x4000;
constexpr DWORD D3DPTEXTURECAPS_CUBEMAP = 0x800;
constexpr DWORD D3DPTEXTURECAPS_MIPCUBEMAP = 0x10000;
constexpr DWORD D3DPTEXTURECAPS_PROJECTED = 0x400;

constexpr DWORD D3DPTFILTERCAPS_MINFPOINT = 0x100;
constexpr DWORD D3DPTFILTERCAPS_MINFLINEAR = 0x200;
constexpr DWORD D3DPTFILTERCAPS_MINFANISOTROPIC = 0x400;
constexpr DWORD D3DPTFILTERCAPS_MIPFPOINT = 0x10000;
constexpr DWORD D3DPTFILTERCAPS_MIPFLINEAR = 0x20000;
constexpr DWORD D3DPTFILTERCAPS_MAGFPOINT = 0x1000000;
constexpr DWORD D3DPTFILTERCAPS_MAGFLINEAR = 0x2000000;
constexpr DWORD D3DPTFILTERCAPS_MAGFANISOTROPIC = 0x4000000;

constexpr DWORD D3DPTADDRESSCAPS_WRAP = 0x1;
constexpr DWORD D3DPTADDRESSCAPS_MIRROR = 0x2;
constexpr DWORD D3DPTADDRESSCAPS_CLAMP = 0x4;
constexpr DWORD D3DPTADDRESSCAPS_BORDER = 0x8;

constexpr DWORD D3DLINECAPS_TEXTURE = 0x1;
constexpr DWORD D3DLINECAPS_ZTEST = 0x2;
constexpr DWORD D3DLINECAPS_BLEND = 0x4;
constexpr DWORD D3DLINECAPS_ALPHACMP = 0x8;
constexpr DWORD D3DLINECAPS_FOG = 0x10;

constexpr DWORD D3DSTENCILCAPS_ALL = 0x1FF;
constexpr DWORD D3DSTENCILCAPS_TWOSIDED = 0x100;

constexpr DWORD D3DTEXOPCAPS_DISABLE = 0x1;
constexpr DWORD D3DTEXOPCAPS_SELECTARG1 = 0x2;
constexpr DWORD D3DTEXOPCAPS_SELECTARG2 = 0x4;
constexpr DWORD D3DTEXOPCAPS_MODULATE = 0x8;
constexpr DWORD D3DTEXOPCAPS_MODULATE2X = 0x10;
constexpr DWORD D3DTEXOPCAPS_MODULATE4X = 0x20;
constexpr DWORD D3DTEXOPCAPS_ADD = 0x40;
constexpr DWORD D3DTEXOPCAPS_ADDSIGNED = 0x80;
constexpr DWORD D3DTEXOPCAPS_SUBTRACT = 0x200;
constexpr DWORD D3DTEXOPCAPS_BLENDDIFFUSEALPHA = 0x800;
constexpr DWORD D3DTEXOPCAPS_BLENDTEXTUREALPHA = 0x1000;
constexpr DWORD D3DTEXOPCAPS_BLENDCURRENTALPHA = 0x8000;
constexpr DWORD D3DTEXOPCAPS_BUMPENVMAP = 0x200000;
constexpr DWORD D3DTEXOPCAPS_DOTPRODUCT3 = 0x800000;
constexpr DWORD D3DTEXOPCAPS_MULTIPLYADD = 0x1000000;
constexpr DWORD D3DTEXOPCAPS_LERP = 0x2000000;

constexpr DWORD D3DVTXPCAPS_TEXGEN = 0x1;
constexpr DWORD D3DVTXPCAPS_DIRECTIONALLIGHTS = 0x8;
constexpr DWORD D3DVTXPCAPS_POSITIONALLIGHTS = 0x10;
constexpr DWORD D3DVTXPCAPS_LOCALVIEWER = 0x20;

constexpr DWORD D3DDTCAPS_UBYTE4 = 0x1;
constexpr DWORD D3DDTCAPS_UBYTE4N = 0x2;
constexpr DWORD D3DDTCAPS_SHORT2N = 0x4;
constexpr DWORD D3DDTCAPS_SHORT4N = 0x8;
constexpr DWORD D3DDTCAPS_USHORT2N = 0x10;
constexpr DWORD D3DDTCAPS_USHORT4N = 0x20;
constexpr DWORD D3DDTCAPS_UDEC3 = 0x40;
constexpr DWORD D3DDTCAPS_DEC3N = 0x80;
constexpr DWORD D3DDTCAPS_FLOAT16_2 = 0x100;
constexpr DWORD D3DDTCAPS_FLOAT16_4 = 0x200;

constexpr DWORD D3DCAPS2_CANAUTOGENMIPMAP = 0x40000000;
constexpr DWORD D3DCAPS2_FULLSCREENGAMMA = 0x20000;
constexpr DWORD D3DDEVCAPS2_CAN_STRETCHRECT_FROM_TEXTURES = 0x10;

// ---------------------------------------------------------------- render, sampler and stage states
using D3DRENDERSTATETYPE = uint32_t;
constexpr D3DRENDERSTATETYPE D3DRS_ZENABLE = 7;
constexpr D3DRENDERSTATETYPE D3DRS_FILLMODE = 8;
constexpr D3DRENDERSTATETYPE D3DRS_SHADEMODE = 9;
constexpr D3DRENDERSTATETYPE D3DRS_ZWRITEENABLE = 14;
constexpr D3DRENDERSTATETYPE D3DRS_ALPHATESTENABLE = 15;
constexpr D3DRENDERSTATETYPE D3DRS_LASTPIXEL = 16;
constexpr D3DRENDERSTATETYPE D3DRS_SRCBLEND = 19;
constexpr D3DRENDERSTATETYPE D3DRS_DESTBLEND = 20;
constexpr D3DRENDERSTATETYPE D3DRS_CULLMODE = 22;
constexpr D3DRENDERSTATETYPE D3DRS_ZFUNC = 23;
constexpr D3DRENDERSTATETYPE D3DRS_ALPHAREF = 24;
constexpr D3DRENDERSTATETYPE D3DRS_ALPHAFUNC = 25;
constexpr D3DRENDERSTATETYPE D3DRS_DITHERENABLE = 26;
constexpr D3DRENDERSTATETYPE D3DRS_ALPHABLENDENABLE = 27;
constexpr D3DRENDERSTATETYPE D3DRS_FOGENABLE = 28;
constexpr D3DRENDERSTATETYPE D3DRS_SPECULARENABLE = 29;
constexpr D3DRENDERSTATETYPE D3DRS_FOGCOLOR = 34;
constexpr D3DRENDERSTATETYPE D3DRS_FOGTABLEMODE = 35;
constexpr D3DRENDERSTATETYPE D3DRS_FOGSTART = 36;
constexpr D3DRENDERSTATETYPE D3DRS_FOGEND = 37;
constexpr D3DRENDERSTATETYPE D3DRS_FOGDENSITY = 38;
constexpr D3DRENDERSTATETYPE D3DRS_RANGEFOGENABLE = 48;
constexpr D3DRENDERSTATETYPE D3DRS_STENCILENABLE = 52;
constexpr D3DRENDERSTATETYPE D3DRS_STENCILFAIL = 53;
constexpr D3DRENDERSTATETYPE D3DRS_STENCILZFAIL = 54;
constexpr D3DRENDERSTATETYPE D3DRS_STENCILPASS = 55;
constexpr D3DRENDERSTATETYPE D3DRS_STENCILFUNC = 56;
constexpr D3DRENDERSTATETYPE D3DRS_STENCILREF = 57;
constexpr D3DRENDERSTATETYPE D3DRS_STENCILMASK = 58;
constexpr D3DRENDERSTATETYPE D3DRS_STENCILWRITEMASK = 59;
constexpr D3DRENDERSTATETYPE D3DRS_TEXTUREFACTOR = 60;
constexpr D3DRENDERSTATETYPE D3DRS_WRAP0 = 128;
constexpr D3DRENDERSTATETYPE D3DRS_CLIPPING = 136;
constexpr D3DRENDERSTATETYPE D3DRS_LIGHTING = 137;
constexpr D3DRENDERSTATETYPE D3DRS_AMBIENT = 139;
constexpr D3DRENDERSTATETYPE D3DRS_FOGVERTEXMODE = 140;
constexpr D3DRENDERSTATETYPE D3DRS_COLORVERTEX = 141;
constexpr D3DRENDERSTATETYPE D3DRS_LOCALVIEWER = 142;
constexpr D3DRENDERSTATETYPE D3DRS_NORMALIZENORMALS = 143;
constexpr D3DRENDERSTATETYPE D3DRS_DIFFUSEMATERIALSOURCE = 145;
constexpr D3DRENDERSTATETYPE D3DRS_SPECULARMATERIALSOURCE = 146;
constexpr D3DRENDERSTATETYPE D3DRS_AMBIENTMATERIALSOURCE = 147;
constexpr D3DRENDERSTATETYPE D3DRS_EMISSIVEMATERIALSOURCE = 148;
constexpr D3DRENDERSTATETYPE D3DRS_VERTEXBLEND = 151;
constexpr D3DRENDERSTATETYPE D3DRS_CLIPPLANEENABLE = 152;
constexpr D3DRENDERSTATETYPE D3DRS_POINTSIZE = 154;
constexpr D3DRENDERSTATETYPE D3DRS_MULTISAMPLEANTIALIAS = 161;
constexpr D3DRENDERSTATETYPE D3DRS_MULTISAMPLEMASK = 162;
constexpr D3DRENDERSTATETYPE D3DRS_COLORWRITEENABLE = 168;
constexpr D3DRENDERSTATETYPE D3DRS_BLENDOP = 171;
constexpr D3DRENDERSTATETYPE D3DRS_SCISSORTESTENABLE = 174;
constexpr D3DRENDERSTATETYPE D3DRS_SLOPESCALEDEPTHBIAS = 175;
constexpr D3DRENDERSTATETYPE D3DRS_SRGBWRITEENABLE = 194;
constexpr D3DRENDERSTATETYPE D3DRS_DEPTHBIAS = 195;
constexpr D3DRENDERSTATETYPE D3DRS_SEPARATEALPHABLENDENABLE = 206;
constexpr D3DRENDERSTATETYPE D3DRS_SRCBLENDALPHA = 207;
constexpr D3DRENDERSTATETYPE D3DRS_DESTBLENDALPHA = 208;
constexpr D3DRENDERSTATETYPE D3DRS_BLENDOPALPHA = 209;
constexpr uint32_t D3D9_RENDER_STATE_COUNT = 256;

// Values of the common render states.
constexpr DWORD D3DZB_FALSE = 0, D3DZB_TRUE = 1;
constexpr DWORD D3DFILL_SOLID = 3;
constexpr DWORD D3DSHADE_GOURAUD = 2;
constexpr DWORD D3DBLEND_ZERO = 1, D3DBLEND_ONE = 2, D3DBLEND_SRCALPHA = 5, D3DBLEND_INVSRCALPHA = 6;
constexpr DWORD D3DCULL_NONE = 1, D3DCULL_CW = 2, D3DCULL_CCW = 3;
constexpr DWORD D3DCMP_NEVER = 1, D3DCMP_LESS = 2, D3DCMP_EQUAL = 3, D3DCMP_LESSEQUAL = 4, D3DCMP_GREATER = 5,
                D3DCMP_NOTEQUAL = 6, D3DCMP_GREATEREQUAL = 7, D3DCMP_ALWAYS = 8;
constexpr DWORD D3DSTENCILOP_KEEP = 1;
constexpr DWORD D3DBLENDOP_ADD = 1;
constexpr DWORD D3DMCS_MATERIAL = 0, D3DMCS_COLOR1 = 1, D3DMCS_COLOR2 = 2;

using D3DSAMPLERSTATETYPE = uint32_t;
constexpr D3DSAMPLERSTATETYPE D3DSAMP_ADDRESSU = 1;
constexpr D3DSAMPLERSTATETYPE D3DSAMP_ADDRESSV = 2;
constexpr D3DSAMPLERSTATETYPE D3DSAMP_ADDRESSW = 3;
constexpr D3DSAMPLERSTATETYPE D3DSAMP_BORDERCOLOR = 4;
constexpr D3DSAMPLERSTATETYPE D3DSAMP_MAGFILTER = 5;
constexpr D3DSAMPLERSTATETYPE D3DSAMP_MINFILTER = 6;
constexpr D3DSAMPLERSTATETYPE D3DSAMP_MIPFILTER = 7;
constexpr D3DSAMPLERSTATETYPE D3DSAMP_MIPMAPLODBIAS = 8;
constexpr D3DSAMPLERSTATETYPE D3DSAMP_MAXMIPLEVEL = 9;
constexpr D3DSAMPLERSTATETYPE D3DSAMP_MAXANISOTROPY = 10;
constexpr D3DSAMPLERSTATETYPE D3DSAMP_SRGBTEXTURE = 11;
constexpr uint32_t D3D9_SAMPLER_STATE_COUNT = 14;
constexpr DWORD D3DTADDRESS_WRAP = 1, D3DTADDRESS_MIRROR = 2, D3DTADDRESS_CLAMP = 3, D3DTADDRESS_BORDER = 4;

using D3DTEXTURESTAGESTATETYPE = uint32_t;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_COLOROP = 1;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_COLORARG1 = 2;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_COLORARG2 = 3;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_ALPHAOP = 4;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_ALPHAARG1 = 5;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_ALPHAARG2 = 6;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_TEXCOORDINDEX = 11;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_TEXTURETRANSFORMFLAGS = 24;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_COLORARG0 = 26;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_ALPHAARG0 = 27;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_RESULTARG = 28;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_CONSTANT = 32;
constexpr uint32_t D3D9_STAGE_STATE_COUNT = 33;
constexpr DWORD D3DTOP_DISABLE = 1, D3DTOP_SELECTARG1 = 2, D3DTOP_SELECTARG2 = 3, D3DTOP_MODULATE = 4;
constexpr DWORD D3DTA_CURRENT = 1, D3DTA_TEXTURE = 2, D3DTA_SPECULAR = 4, D3DTA_COMPLEMENT = 0x10,
                D3DTA_ALPHAREPLICATE = 0x20;
constexpr DWORD D3DTOP_MODULATE2X = 5, D3DTOP_MODULATE4X = 6, D3DTOP_ADD = 7;

constexpr uint32_t D3D9_MAX_SAMPLERS = 16;
constexpr uint32_t D3D9_MAX_STAGES = 8;

// Blend factors and operations beyond the common ones.
constexpr DWORD D3DBLEND_SRCCOLOR = 3, D3DBLEND_INVSRCCOLOR = 4, D3DBLEND_DESTALPHA = 7, D3DBLEND_INVDESTALPHA = 8,
                D3DBLEND_DESTCOLOR = 9, D3DBLEND_INVDESTCOLOR = 10, D3DBLEND_SRCALPHASAT = 11,
                D3DBLEND_BOTHSRCALPHA = 12, D3DBLEND_BOTHINVSRCALPHA = 13, D3DBLEND_BLENDFACTOR = 14,
                D3DBLEND_INVBLENDFACTOR = 15;
constexpr DWORD D3DBLENDOP_SUBTRACT = 2, D3DBLENDOP_REVSUBTRACT = 3, D3DBLENDOP_MIN = 4, D3DBLENDOP_MAX = 5;
constexpr DWORD D3DSTENCILOP_ZERO = 2, D3DSTENCILOP_REPLACE = 3, D3DSTENCILOP_INCRSAT = 4, D3DSTENCILOP_DECRSAT = 5,
                D3DSTENCILOP_INVERT = 6, D3DSTENCILOP_INCR = 7, D3DSTENCILOP_DECR = 8;
constexpr D3DRENDERSTATETYPE D3DRS_BLENDFACTOR = 193;
constexpr DWORD D3DCOLORWRITEENABLE_RED = 1, D3DCOLORWRITEENABLE_GREEN = 2, D3DCOLORWRITEENABLE_BLUE = 4,
                D3DCOLORWRITEENABLE_ALPHA = 8;
constexpr DWORD D3DTA_DIFFUSE = 0, D3DTA_TFACTOR = 3, D3DTA_SELECTMASK = 0xF;
constexpr DWORD D3DTADDRESS_MIRRORONCE = 5;

// ---------------------------------------------------------------- geometry
using D3DPRIMITIVETYPE = uint32_t;
constexpr D3DPRIMITIVETYPE D3DPT_POINTLIST = 1;
constexpr D3DPRIMITIVETYPE D3DPT_LINELIST = 2;
constexpr D3DPRIMITIVETYPE D3DPT_LINESTRIP = 3;
constexpr D3DPRIMITIVETYPE D3DPT_TRIANGLELIST = 4;
constexpr D3DPRIMITIVETYPE D3DPT_TRIANGLESTRIP = 5;
constexpr D3DPRIMITIVETYPE D3DPT_TRIANGLEFAN = 6;

// Vertex formats as flag words.
constexpr DWORD D3DFVF_XYZ = 0x2;
constexpr DWORD D3DFVF_XYZRHW = 0x4;
constexpr DWORD D3DFVF_NORMAL = 0x10;
constexpr DWORD D3DFVF_DIFFUSE = 0x40;
constexpr DWORD D3DFVF_TEX1 = 0x100;
constexpr DWORD D3DFVF_XYZB1 = 0x6, D3DFVF_XYZB5 = 0xE, D3DFVF_XYZW = 0x4002, D3DFVF_POSITION_MASK = 0x400E;
constexpr DWORD D3DFVF_PSIZE = 0x20, D3DFVF_SPECULAR = 0x80;
constexpr DWORD D3DFVF_TEX2 = 0x200, D3DFVF_TEXCOUNT_MASK = 0xF00, D3DFVF_TEXCOUNT_SHIFT = 8;
constexpr DWORD D3DFVF_LASTBETA_UBYTE4 = 0x1000, D3DFVF_LASTBETA_D3DCOLOR = 0x8000;
constexpr DWORD D3DFVF_TEXTUREFORMAT1 = 3, D3DFVF_TEXTUREFORMAT3 = 1, D3DFVF_TEXTUREFORMAT4 = 2;
constexpr DWORD D3DFVF_TEXCOORDSIZE1(int set) { return D3DFVF_TEXTUREFORMAT1 << (set * 2 + 16); }
constexpr DWORD D3DFVF_TEXCOORDSIZE3(int set) { return D3DFVF_TEXTUREFORMAT3 << (set * 2 + 16); }
constexpr DWORD D3DFVF_TEXCOORDSIZE4(int set) { return D3DFVF_TEXTUREFORMAT4 << (set * 2 + 16); }

using D3DDECLTYPE = uint8_t;
constexpr D3DDECLTYPE D3DDECLTYPE_FLOAT1 = 0;
constexpr D3DDECLTYPE D3DDECLTYPE_FLOAT2 = 1;
constexpr D3DDECLTYPE D3DDECLTYPE_FLOAT3 = 2;
constexpr D3DDECLTYPE D3DDECLTYPE_FLOAT4 = 3;
constexpr D3DDECLTYPE D3DDECLTYPE_D3DCOLOR = 4;
constexpr D3DDECLTYPE D3DDECLTYPE_UBYTE4 = 5;
constexpr D3DDECLTYPE D3DDECLTYPE_SHORT2 = 6;
constexpr D3DDECLTYPE D3DDECLTYPE_SHORT4 = 7;
constexpr D3DDECLTYPE D3DDECLTYPE_UBYTE4N = 8;
constexpr D3DDECLTYPE D3DDECLTYPE_SHORT2N = 9;
constexpr D3DDECLTYPE D3DDECLTYPE_SHORT4N = 10;
constexpr D3DDECLTYPE D3DDECLTYPE_USHORT2N = 11;
constexpr D3DDECLTYPE D3DDECLTYPE_USHORT4N = 12;
constexpr D3DDECLTYPE D3DDECLTYPE_UDEC3 = 13;
constexpr D3DDECLTYPE D3DDECLTYPE_DEC3N = 14;
constexpr D3DDECLTYPE D3DDECLTYPE_FLOAT16_2 = 15;
constexpr D3DDECLTYPE D3DDECLTYPE_FLOAT16_4 = 16;
constexpr D3DDECLTYPE D3DDECLTYPE_UNUSED = 17;

constexpr uint8_t D3DDECLMETHOD_DEFAULT = 0;

using D3DDECLUSAGE = uint8_t;
constexpr D3DDECLUSAGE D3DDECLUSAGE_POSITION = 0;
constexpr D3DDECLUSAGE D3DDECLUSAGE_BLENDWEIGHT = 1;
constexpr D3DDECLUSAGE D3DDECLUSAGE_BLENDINDICES = 2;
constexpr D3DDECLUSAGE D3DDECLUSAGE_NORMAL = 3;
constexpr D3DDECLUSAGE D3DDECLUSAGE_PSIZE = 4;
constexpr D3DDECLUSAGE D3DDECLUSAGE_TEXCOORD = 5;
constexpr D3DDECLUSAGE D3DDECLUSAGE_TANGENT = 6;
constexpr D3DDECLUSAGE D3DDECLUSAGE_BINORMAL = 7;
constexpr D3DDECLUSAGE D3DDECLUSAGE_TESSFACTOR = 8;
constexpr D3DDECLUSAGE D3DDECLUSAGE_POSITIONT = 9;
constexpr D3DDECLUSAGE D3DDECLUSAGE_COLOR = 10;
constexpr D3DDECLUSAGE D3DDECLUSAGE_FOG = 11;
constexpr D3DDECLUSAGE D3DDECLUSAGE_DEPTH = 12;
constexpr D3DDECLUSAGE D3DDECLUSAGE_SAMPLE = 13;

struct D3DVERTEXELEMENT9 {
    WORD Stream;
    WORD Offset;
    BYTE Type;
    BYTE Method;
    BYTE Usage;
    BYTE UsageIndex;
};
// The element that ends every declaration.
constexpr D3DVERTEXELEMENT9 D3DDECL_END() { return {0xFF, 0, D3DDECLTYPE_UNUSED, 0, 0, 0}; }
constexpr UINT MAXD3DDECLLENGTH = 64;

// Byte size of one element of a declaration type; 0 for an unknown type.
constexpr UINT D3DDeclTypeSize(BYTE type) {
    constexpr BYTE sizes[17] = {4, 8, 12, 16, 4, 4, 4, 8, 4, 4, 8, 4, 8, 4, 4, 4, 8};
    return type < 17 ? sizes[type] : 0;
}

struct D3DVERTEXBUFFER_DESC {
    D3DFORMAT Format;
    D3DRESOURCETYPE Type;
    DWORD Usage;
    D3DPOOL Pool;
    UINT Size;
    DWORD FVF;
};

struct D3DINDEXBUFFER_DESC {
    D3DFORMAT Format;
    D3DRESOURCETYPE Type;
    DWORD Usage;
    D3DPOOL Pool;
    UINT Size;
};

constexpr DWORD D3DUSAGE_SOFTWAREPROCESSING = 0x10;
constexpr DWORD D3DUSAGE_DONOTCLIP = 0x20;
constexpr DWORD D3DUSAGE_POINTS = 0x40;
constexpr DWORD D3DUSAGE_NPATCHES = 0x100;

// ---------------------------------------------------------------- transforms, materials, lights
struct D3DMATRIX {
    float m[4][4];
};
struct D3DVECTOR {
    float x, y, z;
};
struct D3DCOLORVALUE {
    float r, g, b, a;
};
struct D3DMATERIAL9 {
    D3DCOLORVALUE Diffuse, Ambient, Specular, Emissive;
    float Power;
};
using D3DLIGHTTYPE = uint32_t;
constexpr D3DLIGHTTYPE D3DLIGHT_POINT = 1, D3DLIGHT_SPOT = 2, D3DLIGHT_DIRECTIONAL = 3;
struct D3DLIGHT9 {
    D3DLIGHTTYPE Type;
    D3DCOLORVALUE Diffuse, Specular, Ambient;
    D3DVECTOR Position, Direction;
    float Range, Falloff, Attenuation0, Attenuation1, Attenuation2, Theta, Phi;
};
using D3DTRANSFORMSTATETYPE = uint32_t;
constexpr D3DTRANSFORMSTATETYPE D3DTS_VIEW = 2;
constexpr D3DTRANSFORMSTATETYPE D3DTS_PROJECTION = 3;
constexpr D3DTRANSFORMSTATETYPE D3DTS_TEXTURE0 = 16;
constexpr D3DTRANSFORMSTATETYPE D3DTS_WORLD = 256;
constexpr D3DTRANSFORMSTATETYPE D3DTS_WORLDMATRIX(UINT index) { return 256 + index; }

// ---------------------------------------------------------------- records
struct D3DDISPLAYMODE {
    UINT Width;
    UINT Height;
    UINT RefreshRate;
    D3DFORMAT Format;
};

struct D3DADAPTER_IDENTIFIER9 {
    char Driver[512];
    char Description[512];
    char DeviceName[32];
    int64_t DriverVersion;  // four 16-bit parts, most significant first
    DWORD VendorId;
    DWORD DeviceId;
    DWORD SubSysId;
    DWORD Revision;
    GUID DeviceIdentifier;
    DWORD WHQLLevel;
};

struct D3DVSHADERCAPS2_0 {
    DWORD Caps;
    int32_t DynamicFlowControlDepth;
    int32_t NumTemps;
    int32_t StaticFlowControlDepth;
};

struct D3DPSHADERCAPS2_0 {
    DWORD Caps;
    int32_t DynamicFlowControlDepth;
    int32_t NumTemps;
    int32_t StaticFlowControlDepth;
    int32_t NumInstructionSlots;
};

struct D3DCAPS9 {
    D3DDEVTYPE DeviceType;
    UINT AdapterOrdinal;
    DWORD Caps;
    DWORD Caps2;
    DWORD Caps3;
    DWORD PresentationIntervals;
    DWORD CursorCaps;
    DWORD DevCaps;
    DWORD PrimitiveMiscCaps;
    DWORD RasterCaps;
    DWORD ZCmpCaps;
    DWORD SrcBlendCaps;
    DWORD DestBlendCaps;
    DWORD AlphaCmpCaps;
    DWORD ShadeCaps;
    DWORD TextureCaps;
    DWORD TextureFilterCaps;
    DWORD CubeTextureFilterCaps;
    DWORD VolumeTextureFilterCaps;
    DWORD TextureAddressCaps;
    DWORD VolumeTextureAddressCaps;
    DWORD LineCaps;
    DWORD MaxTextureWidth;
    DWORD MaxTextureHeight;
    DWORD MaxVolumeExtent;
    DWORD MaxTextureRepeat;
    DWORD MaxTextureAspectRatio;
    DWORD MaxAnisotropy;
    float MaxVertexW;
    float GuardBandLeft;
    float GuardBandTop;
    float GuardBandRight;
    float GuardBandBottom;
    float ExtentsAdjust;
    DWORD StencilCaps;
    DWORD FVFCaps;
    DWORD TextureOpCaps;
    DWORD MaxTextureBlendStages;
    DWORD MaxSimultaneousTextures;
    DWORD VertexProcessingCaps;
    DWORD MaxActiveLights;
    DWORD MaxUserClipPlanes;
    DWORD MaxVertexBlendMatrices;
    DWORD MaxVertexBlendMatrixIndex;
    float MaxPointSize;
    DWORD MaxPrimitiveCount;
    DWORD MaxVertexIndex;
    DWORD MaxStreams;
    DWORD MaxStreamStride;
    DWORD VertexShaderVersion;
    DWORD MaxVertexShaderConst;
    DWORD PixelShaderVersion;
    float PixelShader1xMaxValue;
    DWORD DevCaps2;
    float MaxNpatchTessellationLevel;
    DWORD Reserved5;
    UINT MasterAdapterOrdinal;
    UINT AdapterOrdinalInGroup;
    UINT NumberOfAdaptersInGroup;
    DWORD DeclTypes;
    DWORD NumSimultaneousRTs;
    DWORD StretchRectFilterCaps;
    D3DVSHADERCAPS2_0 VS20Caps;
    D3DPSHADERCAPS2_0 PS20Caps;
    DWORD VertexTextureFilterCaps;
    DWORD MaxVShaderInstructionsExecuted;
    DWORD MaxPShaderInstructionsExecuted;
    DWORD MaxVertexShader30InstructionSlots;
    DWORD MaxPixelShader30InstructionSlots;
};

struct D3DPRESENT_PARAMETERS {
    UINT BackBufferWidth;
    UINT BackBufferHeight;
    D3DFORMAT BackBufferFormat;
    UINT BackBufferCount;
    D3DMULTISAMPLE_TYPE MultiSampleType;
    DWORD MultiSampleQuality;
    D3DSWAPEFFECT SwapEffect;
    HWND hDeviceWindow;
    BOOL Windowed;
    BOOL EnableAutoDepthStencil;
    D3DFORMAT AutoDepthStencilFormat;
    DWORD Flags;
    UINT FullScreen_RefreshRateInHz;
    UINT PresentationInterval;
};

struct D3DDEVICE_CREATION_PARAMETERS {
    UINT AdapterOrdinal;
    D3DDEVTYPE DeviceType;
    HWND hFocusWindow;
    DWORD BehaviorFlags;
};

struct D3DSURFACE_DESC {
    D3DFORMAT Format;
    D3DRESOURCETYPE Type;
    DWORD Usage;
    D3DPOOL Pool;
    D3DMULTISAMPLE_TYPE MultiSampleType;
    DWORD MultiSampleQuality;
    UINT Width;
    UINT Height;
};

struct D3DLOCKED_RECT {
    int32_t Pitch;
    void* pBits;
};

struct D3DRECT {
    LONG x1, y1, x2, y2;
};

struct D3DVIEWPORT9 {
    DWORD X, Y, Width, Height;
    float MinZ, MaxZ;
};

struct D3DGAMMARAMP {
    WORD red[256];
    WORD green[256];
    WORD blue[256];
};

// ---------------------------------------------------------------- interfaces
class IDirect3DDevice9;
class IDirect3DBaseTexture9;

class IUnknown {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

class IDirect3DResource9 : public IUnknown {
public:
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    virtual D3DRESOURCETYPE GetType() = 0;
};

class IDirect3DSurface9 : public IDirect3DResource9 {
public:
    // The texture this surface is a level of (AddRef'd), or E_NOINTERFACE-like failure.
    virtual HRESULT GetContainer(IDirect3DBaseTexture9** container) = 0;
    virtual HRESULT GetDesc(D3DSURFACE_DESC* desc) = 0;
    virtual HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) = 0;
    virtual HRESULT UnlockRect() = 0;
};

class IDirect3DBaseTexture9 : public IDirect3DResource9 {
public:
    virtual DWORD GetLevelCount() = 0;
    virtual void GenerateMipSubLevels() = 0;
    // The filter of automatic mip generation (kept; GL filters linearly).
    virtual HRESULT SetAutoGenFilterType(D3DTEXTUREFILTERTYPE filter) = 0;
    virtual D3DTEXTUREFILTERTYPE GetAutoGenFilterType() = 0;
};

class IDirect3DTexture9 : public IDirect3DBaseTexture9 {
public:
    virtual HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) = 0;
    virtual HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) = 0;
    virtual HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) = 0;
    virtual HRESULT UnlockRect(UINT level) = 0;
};

class IDirect3DCubeTexture9 : public IDirect3DBaseTexture9 {
public:
    virtual HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) = 0;
    virtual HRESULT GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level, IDirect3DSurface9** surface) = 0;
    virtual HRESULT LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                             DWORD flags) = 0;
    virtual HRESULT UnlockRect(D3DCUBEMAP_FACES face, UINT level) = 0;
};

// Vertex and index buffers: the bytes live in memory as well, so a lock hands
// out the bytes the caller wrote last (or, after DISCARD, fresh ones).
class IDirect3DVertexBuffer9 : public IDirect3DResource9 {
public:
    virtual HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) = 0;
    virtual HRESULT Unlock() = 0;
    virtual HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) = 0;
};

class IDirect3DIndexBuffer9 : public IDirect3DResource9 {
public:
    virtual HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) = 0;
    virtual HRESULT Unlock() = 0;
    virtual HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) = 0;
};

class IDirect3DVertexDeclaration9 : public IUnknown {
public:
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    // Copies the elements, the end marker included; count gets their number.
    virtual HRESULT GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) = 0;
};

// Shader objects come with the effect system; the device only records them.
class IDirect3DVertexShader9 : public IUnknown {};
class IDirect3DPixelShader9 : public IUnknown {};

class IDirect3D9;

class IDirect3DDevice9 : public IUnknown {
public:
    virtual HRESULT TestCooperativeLevel() = 0;
    virtual HRESULT GetDirect3D(IDirect3D9** d3d) = 0;
    virtual HRESULT GetDeviceCaps(D3DCAPS9* caps) = 0;
    virtual HRESULT GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) = 0;
    virtual HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* params) = 0;
    virtual HRESULT Reset(D3DPRESENT_PARAMETERS* params) = 0;
    virtual HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                            const void* dirtyRegion) = 0;
    virtual HRESULT GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** surface) = 0;
    virtual void SetGammaRamp(UINT swapChain, DWORD flags, const D3DGAMMARAMP* ramp) = 0;
    virtual void GetGammaRamp(UINT swapChain, D3DGAMMARAMP* ramp) = 0;
    virtual HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DTexture9** texture, void* sharedHandle) = 0;
    virtual HRESULT CreateCubeTexture(UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                      IDirect3DCubeTexture9** texture, void* sharedHandle) = 0;
    virtual HRESULT CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                       DWORD quality, BOOL lockable, IDirect3DSurface9** surface,
                                       void* sharedHandle) = 0;
    virtual HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                              D3DMULTISAMPLE_TYPE multiSample, DWORD quality, BOOL discard,
                                              IDirect3DSurface9** surface, void* sharedHandle) = 0;
    virtual HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                                IDirect3DSurface9** surface, void* sharedHandle) = 0;
    virtual HRESULT GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* destSurface) = 0;
    virtual HRESULT GetFrontBufferData(UINT swapChain, IDirect3DSurface9* destSurface) = 0;
    virtual HRESULT StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                                const RECT* destRect, D3DTEXTUREFILTERTYPE filter) = 0;
    virtual HRESULT ColorFill(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color) = 0;
    virtual HRESULT SetRenderTarget(DWORD index, IDirect3DSurface9* surface) = 0;
    virtual HRESULT GetRenderTarget(DWORD index, IDirect3DSurface9** surface) = 0;
    virtual HRESULT SetDepthStencilSurface(IDirect3DSurface9* surface) = 0;
    virtual HRESULT GetDepthStencilSurface(IDirect3DSurface9** surface) = 0;
    virtual HRESULT BeginScene() = 0;
    virtual HRESULT EndScene() = 0;
    virtual HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) = 0;
    virtual HRESULT SetViewport(const D3DVIEWPORT9* viewport) = 0;
    virtual HRESULT GetViewport(D3DVIEWPORT9* viewport) = 0;
    virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
    virtual HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) = 0;
    virtual HRESULT SetTexture(DWORD sampler, IDirect3DBaseTexture9* texture) = 0;
    virtual HRESULT GetTexture(DWORD sampler, IDirect3DBaseTexture9** texture) = 0;
    virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) = 0;
    virtual HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) = 0;
    virtual HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) = 0;
    virtual HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) = 0;

    virtual UINT GetAvailableTextureMem() = 0;
    virtual HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                       IDirect3DVertexBuffer9** buffer, void* sharedHandle) = 0;
    virtual HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                      IDirect3DIndexBuffer9** buffer, void* sharedHandle) = 0;
    virtual HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                            IDirect3DVertexDeclaration9** declaration) = 0;
    virtual HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) = 0;
    virtual HRESULT GetVertexDeclaration(IDirect3DVertexDeclaration9** declaration) = 0;
    virtual HRESULT SetFVF(DWORD fvf) = 0;
    virtual HRESULT GetFVF(DWORD* fvf) = 0;
    virtual HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) = 0;
    virtual HRESULT GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offset, UINT* stride) = 0;
    virtual HRESULT SetIndices(IDirect3DIndexBuffer9* buffer) = 0;
    virtual HRESULT GetIndices(IDirect3DIndexBuffer9** buffer) = 0;
    virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) = 0;
    virtual HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, int baseVertex, UINT minIndex, UINT numVertices,
                                         UINT startIndex, UINT primitiveCount) = 0;
    virtual HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices, UINT stride) = 0;
    virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) = 0;
    virtual HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) = 0;
    virtual HRESULT SetMaterial(const D3DMATERIAL9* material) = 0;
    virtual HRESULT GetMaterial(D3DMATERIAL9* material) = 0;
    virtual HRESULT SetLight(DWORD index, const D3DLIGHT9* light) = 0;
    virtual HRESULT GetLight(DWORD index, D3DLIGHT9* light) = 0;
    virtual HRESULT LightEnable(DWORD index, BOOL enable) = 0;
    virtual HRESULT GetLightEnable(DWORD index, BOOL* enable) = 0;
    virtual HRESULT SetNPatchMode(float segments) = 0;
    virtual float GetNPatchMode() = 0;
    virtual HRESULT SetSoftwareVertexProcessing(BOOL software) = 0;
    virtual BOOL GetSoftwareVertexProcessing() = 0;
    virtual HRESULT SetVertexShader(IDirect3DVertexShader9* shader) = 0;
    virtual HRESULT GetVertexShader(IDirect3DVertexShader9** shader) = 0;
    virtual HRESULT SetPixelShader(IDirect3DPixelShader9* shader) = 0;
    virtual HRESULT GetPixelShader(IDirect3DPixelShader9** shader) = 0;
    virtual HRESULT SetVertexShaderConstantF(UINT start, const float* values, UINT vector4fCount) = 0;
    virtual HRESULT SetVertexShaderConstantI(UINT start, const int* values, UINT vector4iCount) = 0;
    virtual HRESULT SetVertexShaderConstantB(UINT start, const BOOL* values, UINT boolCount) = 0;
    virtual HRESULT SetPixelShaderConstantF(UINT start, const float* values, UINT vector4fCount) = 0;
    virtual HRESULT SetPixelShaderConstantI(UINT start, const int* values, UINT vector4iCount) = 0;
    virtual HRESULT SetPixelShaderConstantB(UINT start, const BOOL* values, UINT boolCount) = 0;
};

class IDirect3D9 : public IUnknown {
public:
    virtual UINT GetAdapterCount() = 0;
    virtual HRESULT GetAdapterIdentifier(UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER9* identifier) = 0;
    virtual UINT GetAdapterModeCount(UINT adapter, D3DFORMAT format) = 0;
    virtual HRESULT EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* displayMode) = 0;
    virtual HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) = 0;
    virtual HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT backBufferFormat,
                                    BOOL windowed) = 0;
    virtual HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                                      D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) = 0;
    virtual HRESULT CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT surfaceFormat, BOOL windowed,
                                               D3DMULTISAMPLE_TYPE multiSample, DWORD* qualityLevels) = 0;
    virtual HRESULT CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                           D3DFORMAT renderTargetFormat, D3DFORMAT depthStencilFormat) = 0;
    virtual HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) = 0;
    virtual HMONITOR GetAdapterMonitor(UINT adapter) = 0;
    virtual HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                                 D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) = 0;
};

// Null when the SDK version is not ours or no OpenGL 3.3 context can be had.
IDirect3D9* Direct3DCreate9(UINT sdkVersion);

// Loads SDL's video and the GL driver once for the life of the process; the game
// window is made with it too. False when there is no GL at all.
bool D3D9_LoadDriver();

// The text of a Direct3D result, as the error-string routine of the platform gives it.
const char* DXGetErrorString9A(HRESULT hr);

// Bindings hold no reference, so once an object is gone its address may come
// back as a new object: each texture, buffer, declaration and shader tells
// these listeners, by the interface pointer it was handed out as, as it is
// destroyed, so that a cache keyed by address forgets it first.
using D3D9ReleaseListener = void (*)(void* context, const void* object);
void D3D9_AddReleaseListener(D3D9ReleaseListener listener, void* context);
void D3D9_RemoveReleaseListener(D3D9ReleaseListener listener, void* context);
void D3D9_TellReleased(const void* object);
