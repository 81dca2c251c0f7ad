// Pictures other than DDS (Targa, JPEG and the other kinds stb_image reads)
// decoded to B, G, R, A rows, their mip levels, and DXT1 blocks made from them.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3dx/d3dx9tex.h"

struct D3DX_Picture {
    UINT width = 0, height = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;  // what the file holds, as D3DX reports it
    D3DXIMAGE_FILEFORMAT fileFormat = D3DXIFF_TGA;
    std::vector<uint8_t> bgra;  // rows of width * 4 bytes, top row first
};

bool D3DX_IsDdsFile(const void* data, UINT size);
// The size and format only (no pixels decoded).
HRESULT D3DX_PictureInfo(const void* data, UINT size, D3DXIMAGE_INFO* info);
HRESULT D3DX_DecodePicture(const void* data, UINT size, D3DX_Picture* out);

// Levels of a full chain down to 1 x 1.
UINT D3DX_FullChain(UINT width, UINT height);
// The next smaller level: each pixel the mean of a 2 x 2 block (edges repeat).
std::vector<uint8_t> D3DX_HalveBgra(const std::vector<uint8_t>& bgra, UINT width, UINT height);
// DXT1 blocks of a picture: rows of (width + 3) / 4 blocks of 8 bytes.
std::vector<uint8_t> D3DX_CompressDXT1(const std::vector<uint8_t>& bgra, UINT width, UINT height);
// The pixels of one level in the texture's format, rows of *pitch bytes.
HRESULT D3DX_EncodeLevel(D3DFORMAT format, const std::vector<uint8_t>& bgra, UINT width, UINT height,
                         std::vector<uint8_t>* out, UINT* pitch);
