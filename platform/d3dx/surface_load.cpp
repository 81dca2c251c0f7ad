// Surface-to-surface loads with conversion and filtering, and surfaces saved
// as Targa files: every picture passes through B, G, R, A bytes.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/d3d9/surface_access.h"
#include "platform/d3d9/texture_dxt.h"
#include "platform/d3dx/d3dx9tex.h"
#include "platform/d3dx/image_decode.h"
#include "platform/d3dx/pixelcodec.h"

namespace {

bool ValidRect(const RECT& r, const D3DSURFACE_DESC& d) {
    return r.left >= 0 && r.top >= 0 && r.right <= static_cast<LONG>(d.Width) &&
           r.bottom <= static_cast<LONG>(d.Height) && r.left < r.right && r.top < r.bottom;
}

// The surface's rectangle as B, G, R, A rows.
HRESULT ReadBgra(IDirect3DSurface9* s, const RECT& r, std::vector<uint8_t>* out) {
    D3DSURFACE_DESC d{};
    s->GetDesc(&d);
    if (!D3DX_CanDecode(d.Format)) return D3DERR_INVALIDCALL;
    std::vector<uint8_t> raw;
    UINT pitch = 0;
    HRESULT hr = D3D9_ReadSurfacePixels(s, &raw, &pitch);
    if (FAILED(hr)) return hr;
    std::vector<uint8_t> whole(static_cast<size_t>(d.Width) * d.Height * 4);
    D3DX_Decode(d.Format, d.Width, d.Height, raw.data(), pitch, whole.data());
    UINT w = static_cast<UINT>(r.right - r.left), h = static_cast<UINT>(r.bottom - r.top);
    out->resize(static_cast<size_t>(w) * h * 4);
    for (UINT y = 0; y < h; ++y)
        std::copy_n(whole.data() + (static_cast<size_t>(r.top + y) * d.Width + r.left) * 4, w * 4,
                    out->data() + static_cast<size_t>(y) * w * 4);
    return D3D_OK;
}

// Resamples sw x sh pixels to dw x dh, by nearest pixel or bilinear weights
// between pixel centres.
std::vector<uint8_t> Resample(const std::vector<uint8_t>& src, UINT sw, UINT sh, UINT dw, UINT dh, bool linear) {
    if (sw == dw && sh == dh) return src;
    std::vector<uint8_t> out(static_cast<size_t>(dw) * dh * 4);
    for (UINT y = 0; y < dh; ++y) {
        double fy = (y + 0.5) * sh / dh - 0.5;
        for (UINT x = 0; x < dw; ++x) {
            double fx = (x + 0.5) * sw / dw - 0.5;
            uint8_t* d = out.data() + (static_cast<size_t>(y) * dw + x) * 4;
            if (!linear) {
                UINT nx = std::min(sw - 1, static_cast<UINT>(std::max(0.0, fx + 0.5)));
                UINT ny = std::min(sh - 1, static_cast<UINT>(std::max(0.0, fy + 0.5)));
                std::copy_n(src.data() + (static_cast<size_t>(ny) * sw + nx) * 4, 4, d);
                continue;
            }
            double cx = std::clamp(fx, 0.0, static_cast<double>(sw - 1));
            double cy = std::clamp(fy, 0.0, static_cast<double>(sh - 1));
            UINT x0 = static_cast<UINT>(cx), y0 = static_cast<UINT>(cy);
            UINT x1 = std::min(sw - 1, x0 + 1), y1 = std::min(sh - 1, y0 + 1);
            double ax = cx - x0, ay = cy - y0;
            for (int c = 0; c < 4; ++c) {
                auto at = [&](UINT px, UINT py) { return src[(static_cast<size_t>(py) * sw + px) * 4 + c]; };
                double v = (at(x0, y0) * (1 - ax) + at(x1, y0) * ax) * (1 - ay) +
                           (at(x0, y1) * (1 - ax) + at(x1, y1) * ax) * ay;
                d[c] = static_cast<uint8_t>(std::clamp(v + 0.5, 0.0, 255.0));
            }
        }
    }
    return out;
}

}  // namespace

HRESULT D3DXLoadSurfaceFromSurface(IDirect3DSurface9* dest, const void* destPalette, const RECT* destRect,
                                   IDirect3DSurface9* src, const void* srcPalette, const RECT* srcRect, DWORD filter,
                                   D3DCOLOR) {
    if (!dest || !src || destPalette || srcPalette) return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC sd{}, dd{};
    src->GetDesc(&sd);
    dest->GetDesc(&dd);
    RECT s = srcRect ? *srcRect : RECT{0, 0, static_cast<LONG>(sd.Width), static_cast<LONG>(sd.Height)};
    RECT d = destRect ? *destRect : RECT{0, 0, static_cast<LONG>(dd.Width), static_cast<LONG>(dd.Height)};
    if (!ValidRect(s, sd) || !ValidRect(d, dd) || !D3DX_CanEncode(dd.Format)) return D3DERR_INVALIDCALL;
    std::vector<uint8_t> pixels;
    HRESULT hr = ReadBgra(src, s, &pixels);
    if (FAILED(hr)) return hr;
    UINT sw = static_cast<UINT>(s.right - s.left), sh = static_cast<UINT>(s.bottom - s.top);
    UINT dw = static_cast<UINT>(d.right - d.left), dh = static_cast<UINT>(d.bottom - d.top);
    DWORD kind = filter & 0xFFFF;
    bool linear = filter == D3DX_DEFAULT || (kind != D3DX_FILTER_NONE && kind != D3DX_FILTER_POINT);
    std::vector<uint8_t> scaled = Resample(pixels, sw, sh, dw, dh, linear);
    UINT pitch = dw * D3DX_CodecBytes(dd.Format);
    std::vector<uint8_t> out(static_cast<size_t>(pitch) * dh);
    D3DX_Encode(dd.Format, dw, dh, scaled.data(), out.data(), pitch);
    return D3D9_WriteSurfacePixels(dest, &d, out.data(), pitch);
}

HRESULT D3DXLoadSurfaceFromFileInMemory(IDirect3DSurface9* dest, const void* destPalette, const RECT* destRect,
                                        const void* data, UINT size, const RECT* srcRect, DWORD filter, D3DCOLOR,
                                        D3DXIMAGE_INFO* info) {
    if (!dest || destPalette) return D3DERR_INVALIDCALL;
    D3DX_Picture pic;
    HRESULT hr = D3DX_DecodePicture(data, size, &pic);
    if (FAILED(hr)) return hr;
    D3DSURFACE_DESC dd{};
    dest->GetDesc(&dd);
    D3DSURFACE_DESC sd{};
    sd.Width = pic.width;
    sd.Height = pic.height;
    RECT s = srcRect ? *srcRect : RECT{0, 0, static_cast<LONG>(pic.width), static_cast<LONG>(pic.height)};
    RECT d = destRect ? *destRect : RECT{0, 0, static_cast<LONG>(dd.Width), static_cast<LONG>(dd.Height)};
    if (!ValidRect(s, sd) || !ValidRect(d, dd) || !D3DX_CanEncode(dd.Format)) return D3DERR_INVALIDCALL;
    UINT sw = static_cast<UINT>(s.right - s.left), sh = static_cast<UINT>(s.bottom - s.top);
    std::vector<uint8_t> pixels(static_cast<size_t>(sw) * sh * 4);
    for (UINT y = 0; y < sh; ++y)
        std::copy_n(pic.bgra.data() + (static_cast<size_t>(s.top + y) * pic.width + s.left) * 4, sw * 4,
                    pixels.data() + static_cast<size_t>(y) * sw * 4);
    UINT dw = static_cast<UINT>(d.right - d.left), dh = static_cast<UINT>(d.bottom - d.top);
    DWORD kind = filter & 0xFFFF;
    bool linear = filter == D3DX_DEFAULT || (kind != D3DX_FILTER_NONE && kind != D3DX_FILTER_POINT);
    std::vector<uint8_t> scaled = Resample(pixels, sw, sh, dw, dh, linear);
    UINT pitch = dw * D3DX_CodecBytes(dd.Format);
    std::vector<uint8_t> out(static_cast<size_t>(pitch) * dh);
    D3DX_Encode(dd.Format, dw, dh, scaled.data(), out.data(), pitch);
    hr = D3D9_WriteSurfacePixels(dest, &d, out.data(), pitch);
    if (SUCCEEDED(hr) && info) D3DX_PictureInfo(data, size, info);
    return hr;
}

HRESULT D3DXSaveSurfaceToFileA(const char* file, D3DXIMAGE_FILEFORMAT format, IDirect3DSurface9* surface,
                               const void* palette, const RECT* rect) {
    if (!file || !surface || palette || format != D3DXIFF_TGA) return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC d{};
    surface->GetDesc(&d);
    RECT r = rect ? *rect : RECT{0, 0, static_cast<LONG>(d.Width), static_cast<LONG>(d.Height)};
    if (!ValidRect(r, d)) return D3DERR_INVALIDCALL;
    std::vector<uint8_t> pixels;
    HRESULT hr = ReadBgra(surface, r, &pixels);
    if (FAILED(hr)) return hr;
    UINT w = static_cast<UINT>(r.right - r.left), h = static_cast<UINT>(r.bottom - r.top);
    // Uncompressed true-colour Targa, 32 bits, rows from the top (descriptor 0x28).
    uint8_t header[18] = {0,
                          0,
                          2,
                          0,
                          0,
                          0,
                          0,
                          0,
                          0,
                          0,
                          0,
                          0,
                          static_cast<uint8_t>(w),
                          static_cast<uint8_t>(w >> 8),
                          static_cast<uint8_t>(h),
                          static_cast<uint8_t>(h >> 8),
                          32,
                          0x28};
    FILE* f = std::fopen(file, "wb");
    if (!f) return D3DERR_INVALIDCALL;
    bool ok = std::fwrite(header, 1, sizeof header, f) == sizeof header &&
              std::fwrite(pixels.data(), 1, pixels.size(), f) == pixels.size();
    ok = std::fclose(f) == 0 && ok;
    return ok ? D3D_OK : D3DERR_INVALIDCALL;
}
