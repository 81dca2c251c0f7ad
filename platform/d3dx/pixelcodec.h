// Pixels of Direct3D formats to and from B, G, R, A bytes, for the D3DX
// surface loads, conversions and the Targa writer.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9.h"

// Bytes per pixel of the formats handled here (0: not handled or compressed).
UINT D3DX_CodecBytes(D3DFORMAT format);
bool D3DX_CanDecode(D3DFORMAT format);
bool D3DX_CanEncode(D3DFORMAT format);

// w x h pixels from rows of srcPitch bytes into B, G, R, A rows of w * 4 bytes.
// Compressed formats take rows of blocks.
bool D3DX_Decode(D3DFORMAT format, UINT w, UINT h, const uint8_t* src, UINT srcPitch, uint8_t* bgra);
// w x h B, G, R, A pixels (rows of w * 4 bytes) into rows of dstPitch bytes.
bool D3DX_Encode(D3DFORMAT format, UINT w, UINT h, const uint8_t* bgra, uint8_t* dst, UINT dstPitch);
