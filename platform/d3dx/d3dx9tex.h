// Our D3DX 9 texture subset: image information and textures from files in
// memory (DDS read by our own code, Targa and JPEG through stb_image; levels 0
// makes a full chain, a DXT1 format compresses), surface-to-surface loads with format
// conversion and filtering, and surfaces saved as Targa files.
#pragma once

#include <cstddef>

#include "platform/d3d9/d3d9.h"

constexpr UINT D3DX_DEFAULT = 0xFFFFFFFFu;

constexpr DWORD D3DX_FILTER_NONE = 1;
constexpr DWORD D3DX_FILTER_POINT = 2;
constexpr DWORD D3DX_FILTER_LINEAR = 3;
constexpr DWORD D3DX_FILTER_TRIANGLE = 4;
constexpr DWORD D3DX_FILTER_BOX = 5;
// Mip filter carrying the number of top levels of a DDS file to leave out.
constexpr DWORD D3DX_SKIP_DDS_MIP_LEVELS(UINT levels, DWORD filter) { return ((levels & 0x1Fu) << 26) | filter; }

constexpr HRESULT D3DXERR_INVALIDDATA = static_cast<HRESULT>(0x88760B59u);

using D3DXIMAGE_FILEFORMAT = uint32_t;
constexpr D3DXIMAGE_FILEFORMAT D3DXIFF_BMP = 0;
constexpr D3DXIMAGE_FILEFORMAT D3DXIFF_JPG = 1;
constexpr D3DXIMAGE_FILEFORMAT D3DXIFF_TGA = 2;
constexpr D3DXIMAGE_FILEFORMAT D3DXIFF_PNG = 3;
constexpr D3DXIMAGE_FILEFORMAT D3DXIFF_DDS = 4;

struct D3DXIMAGE_INFO {
    UINT Width;
    UINT Height;
    UINT Depth;
    UINT MipLevels;
    D3DFORMAT Format;
    D3DRESOURCETYPE ResourceType;
    D3DXIMAGE_FILEFORMAT ImageFileFormat;
};

// Bytes of a DDS file before its pixels: the magic and the 124-byte header.
constexpr size_t D3DX_DDS_HEADER_BYTES = 128;

HRESULT D3DXGetImageInfoFromFileInMemory(const void* data, UINT size, D3DXIMAGE_INFO* info);

// width, height, levels and format: D3DX_DEFAULT / 0 / D3DFMT_UNKNOWN take the file's.
// mipFilter may carry D3DX_SKIP_DDS_MIP_LEVELS.
HRESULT D3DXCreateTextureFromFileInMemoryEx(IDirect3DDevice9* device, const void* data, UINT size, UINT width,
                                            UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                            DWORD filter, DWORD mipFilter, D3DCOLOR colorKey, D3DXIMAGE_INFO* info,
                                            void* palette, IDirect3DTexture9** texture);
HRESULT D3DXCreateCubeTextureFromFileInMemoryEx(IDirect3DDevice9* device, const void* data, UINT size, UINT edge,
                                                UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                                DWORD mipFilter, D3DCOLOR colorKey, D3DXIMAGE_INFO* info, void* palette,
                                                IDirect3DCubeTexture9** texture);

// Null rectangles are whole surfaces. Palettes are not supported (pass null).
HRESULT D3DXLoadSurfaceFromSurface(IDirect3DSurface9* dest, const void* destPalette, const RECT* destRect,
                                   IDirect3DSurface9* src, const void* srcPalette, const RECT* srcRect, DWORD filter,
                                   D3DCOLOR colorKey);

// A Targa or JPEG picture into the surface's rectangle (null: whole), scaled
// and converted to its format. Palettes are not supported (pass null).
HRESULT D3DXLoadSurfaceFromFileInMemory(IDirect3DSurface9* dest, const void* destPalette, const RECT* destRect,
                                        const void* data, UINT size, const RECT* srcRect, DWORD filter,
                                        D3DCOLOR colorKey, D3DXIMAGE_INFO* info);

// Only D3DXIFF_TGA is written: 32-bit top-down Targa.
HRESULT D3DXSaveSurfaceToFileA(const char* file, D3DXIMAGE_FILEFORMAT format, IDirect3DSurface9* surface,
                               const void* palette, const RECT* rect);
