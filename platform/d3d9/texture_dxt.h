// Block-compressed textures (DXT1 to DXT5) decoded on the CPU: for the D3DX
// surface routines, and for GL contexts without S3TC, which then hold the
// decoded pixels while the texture's memory copy keeps the blocks.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9.h"

bool D3D9_IsDXT(D3DFORMAT format);
// Bytes of one 4 x 4 block (8 for DXT1, 16 for the others), 0 for other formats.
UINT D3D9_DXTBlockBytes(D3DFORMAT format);

// Decodes the w x h pixels of rows of blocks (blockPitch bytes a row of blocks)
// into B, G, R, A byte rows of dstPitch bytes.
void D3D9_DecodeDXT(D3DFORMAT format, UINT w, UINT h, const uint8_t* blocks, UINT blockPitch, uint8_t* bgra,
                    UINT dstPitch);

// True when compressed textures live decoded in GL: the context has no S3TC,
// or a test asked for the CPU path.
bool D3D9_DecodeDXTOnCpu();
// Test seam: take the CPU path even where the context has S3TC.
extern bool g_D3D9ForceCpuDXT;
