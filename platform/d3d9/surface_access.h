// Pixel access to surfaces beside LockRect, for the D3DX routines, which (as
// on the platform) may read and write surfaces of any pool: render targets are
// read back, default-pool levels are written straight to their texture.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3d9/d3d9.h"

// The whole picture, rows of *pitch bytes (block rows for compressed formats).
HRESULT D3D9_ReadSurfacePixels(IDirect3DSurface9* surface, std::vector<uint8_t>* out, UINT* pitch);
// Writes the rectangle (null: whole surface) from rows of pitch bytes.
HRESULT D3D9_WriteSurfacePixels(IDirect3DSurface9* surface, const RECT* rect, const uint8_t* data, UINT pitch);
