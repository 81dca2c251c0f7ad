// DDS files read by our own code: every size is checked against the file
// before a field or a pixel is read.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/d3d9/surface_access.h"
#include "platform/d3d9/texture_dxt.h"
#include "platform/d3dx/d3dx9tex.h"
#include "platform/d3dx/image_decode.h"
#include "platform/d3dx/pixelcodec.h"

namespace {

// Header fields (byte offsets in the file, after the 4-byte magic).
constexpr size_t kSize = 4, kFlags = 8, kHeight = 12, kWidth = 16, kMipCount = 28, kPfSize = 76, kPfFlags = 80,
                 kFourCC = 84, kBitCount = 88, kRMask = 92, kGMask = 96, kBMask = 100, kAMask = 104, kCaps2 = 112;
constexpr uint32_t kDdsdMipMapCount = 0x20000;
constexpr uint32_t kPfAlphaPixels = 0x1, kPfAlpha = 0x2, kPfFourCC = 0x4, kPfRgb = 0x40, kPfLuminance = 0x20000;
constexpr uint32_t kCaps2Cube = 0x200, kCaps2AllFaces = 0xFC00, kCaps2Volume = 0x200000;
constexpr UINT kMaxEdge = 16384;

struct DdsFile {
    UINT width = 0, height = 0, levels = 0;
    D3DFORMAT fileFormat = D3DFMT_UNKNOWN;  // the layout of the bytes in the file
    bool cube = false;
    const uint8_t* pixels = nullptr;  // first level of the first face
};

uint32_t U32(const uint8_t* p, size_t at) {
    uint32_t v;
    std::memcpy(&v, p + at, 4);
    return v;
}

UINT FullChain(UINT w, UINT h) {
    UINT n = 1;
    while (w > 1 || h > 1) {
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
        ++n;
    }
    return n;
}

D3DFORMAT FormatFromMasks(uint32_t flags, uint32_t bits, uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
    if (!(flags & kPfAlphaPixels)) a = 0;
    if (flags & kPfRgb) {
        if (bits == 32 && r == 0xFF0000 && g == 0xFF00 && b == 0xFF)
            return a == 0xFF000000u ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
        if (bits == 32 && r == 0xFF && g == 0xFF00 && b == 0xFF0000)
            return a == 0xFF000000u ? D3DFMT_A8B8G8R8 : D3DFMT_X8B8G8R8;
        if (bits == 32 && r == 0xFFFF && g == 0xFFFF0000u && b == 0) return D3DFMT_G16R16;
        if (bits == 32 && r == 0x3FF && g == 0xFFC00 && b == 0x3FF00000) return D3DFMT_A2B10G10R10;
        if (bits == 32 && r == 0x3FF00000 && g == 0xFFC00 && b == 0x3FF) return D3DFMT_A2R10G10B10;
        if (bits == 24 && r == 0xFF0000 && g == 0xFF00 && b == 0xFF) return D3DFMT_R8G8B8;
        if (bits == 16 && r == 0xF800 && g == 0x7E0 && b == 0x1F) return D3DFMT_R5G6B5;
        if (bits == 16 && r == 0x7C00 && g == 0x3E0 && b == 0x1F)
            return a == 0x8000 ? D3DFMT_A1R5G5B5 : D3DFMT_X1R5G5B5;
        if (bits == 16 && r == 0xF00 && g == 0xF0 && b == 0xF) return a == 0xF000 ? D3DFMT_A4R4G4B4 : D3DFMT_X4R4G4B4;
        return D3DFMT_UNKNOWN;
    }
    if (flags & kPfLuminance) {
        if (bits == 8 && r == 0xFF) return D3DFMT_L8;
        if (bits == 16 && r == 0xFFFF) return D3DFMT_L16;
        if (bits == 16 && r == 0xFF && a == 0xFF00) return D3DFMT_A8L8;
        return D3DFMT_UNKNOWN;
    }
    if ((flags & kPfAlpha) && bits == 8) return D3DFMT_A8;
    return D3DFMT_UNKNOWN;
}

// Bytes of one level as stored in the file (rows packed, blocks for DXT).
size_t LevelBytes(D3DFORMAT f, UINT w, UINT h) {
    if (UINT bb = D3D9_DXTBlockBytes(f)) return static_cast<size_t>((w + 3) / 4) * ((h + 3) / 4) * bb;
    UINT bytes = 0;
    switch (f) {
        case D3DFMT_R8G8B8: bytes = 3; break;
        case D3DFMT_R5G6B5:
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5:
        case D3DFMT_A4R4G4B4:
        case D3DFMT_X4R4G4B4:
        case D3DFMT_L16:
        case D3DFMT_A8L8: bytes = 2; break;
        case D3DFMT_L8:
        case D3DFMT_A8: bytes = 1; break;
        case D3DFMT_A16B16G16R16: bytes = 8; break;
        default: bytes = 4; break;
    }
    return static_cast<size_t>(w) * h * bytes;
}

size_t FileRowBytes(D3DFORMAT f, UINT w) {
    if (UINT bb = D3D9_DXTBlockBytes(f)) return static_cast<size_t>((w + 3) / 4) * bb;
    return LevelBytes(f, w, 1);
}

HRESULT ParseDds(const void* data, UINT size, DdsFile* out) {
    const auto* p = static_cast<const uint8_t*>(data);
    if (!p || size < D3DX_DDS_HEADER_BYTES || std::memcmp(p, "DDS ", 4) != 0) return D3DXERR_INVALIDDATA;
    if (U32(p, kSize) != 124 || U32(p, kPfSize) != 32) return D3DXERR_INVALIDDATA;
    DdsFile f;
    f.width = U32(p, kWidth);
    f.height = U32(p, kHeight);
    if (f.width == 0 || f.height == 0 || f.width > kMaxEdge || f.height > kMaxEdge) return D3DXERR_INVALIDDATA;
    uint32_t mips = (U32(p, kFlags) & kDdsdMipMapCount) ? U32(p, kMipCount) : 1;
    f.levels = mips == 0 ? 1 : mips;
    if (f.levels > FullChain(f.width, f.height)) return D3DXERR_INVALIDDATA;
    uint32_t pf = U32(p, kPfFlags);
    if (pf & kPfFourCC) {
        uint32_t cc = U32(p, kFourCC);
        switch (cc) {
            case D3DFMT_DXT1:
            case D3DFMT_DXT2:
            case D3DFMT_DXT3:
            case D3DFMT_DXT4:
            case D3DFMT_DXT5:
            case D3DFMT_A16B16G16R16: f.fileFormat = cc; break;
            default: return D3DXERR_INVALIDDATA;
        }
    } else {
        f.fileFormat =
            FormatFromMasks(pf, U32(p, kBitCount), U32(p, kRMask), U32(p, kGMask), U32(p, kBMask), U32(p, kAMask));
        if (!f.fileFormat) return D3DXERR_INVALIDDATA;
    }
    uint32_t caps2 = U32(p, kCaps2);
    if (caps2 & kCaps2Volume) return D3DXERR_INVALIDDATA;
    if (caps2 & kCaps2Cube) {
        if ((caps2 & kCaps2AllFaces) != kCaps2AllFaces || f.width != f.height) return D3DXERR_INVALIDDATA;
        f.cube = true;
    }
    uint64_t need = 0;
    for (UINT l = 0; l < f.levels; ++l)
        need += LevelBytes(f.fileFormat, std::max(1u, f.width >> l), std::max(1u, f.height >> l));
    if (f.cube) need *= 6;
    if (D3DX_DDS_HEADER_BYTES + need > size) return D3DXERR_INVALIDDATA;
    f.pixels = p + D3DX_DDS_HEADER_BYTES;
    *out = f;
    return D3D_OK;
}

// The format a texture of the file is made in: the file's own, except where the
// device has no such texture format (24-bit pixels become 32-bit).
D3DFORMAT TextureFormat(const DdsFile& f, D3DFORMAT requested) {
    D3DFORMAT format = requested && requested != D3DX_DEFAULT ? requested : f.fileFormat;
    return format == D3DFMT_R8G8B8 ? D3DFMT_X8R8G8B8 : format;
}

// One level of the file into a surface, converted when the formats differ.
HRESULT FillLevel(IDirect3DSurface9* s, D3DFORMAT fileFormat, D3DFORMAT texFormat, const uint8_t* src, UINT w, UINT h) {
    UINT rowBytes = static_cast<UINT>(FileRowBytes(fileFormat, w));
    if (fileFormat == texFormat) return D3D9_WriteSurfacePixels(s, nullptr, src, rowBytes);
    if (!D3DX_CanDecode(fileFormat) || !D3DX_CanEncode(texFormat)) return D3DERR_INVALIDCALL;
    std::vector<uint8_t> bgra(static_cast<size_t>(w) * h * 4);
    D3DX_Decode(fileFormat, w, h, src, rowBytes, bgra.data());
    UINT outPitch = w * D3DX_CodecBytes(texFormat);
    std::vector<uint8_t> out(static_cast<size_t>(outPitch) * h);
    D3DX_Encode(texFormat, w, h, bgra.data(), out.data(), outPitch);
    return D3D9_WriteSurfacePixels(s, nullptr, out.data(), outPitch);
}

void FillInfo(const DdsFile& f, D3DXIMAGE_INFO* info) {
    if (!info) return;
    info->Width = f.width;
    info->Height = f.height;
    info->Depth = 1;
    info->MipLevels = f.levels;
    info->Format = f.fileFormat;
    info->ResourceType = f.cube ? D3DRTYPE_CUBETEXTURE : D3DRTYPE_TEXTURE;
    info->ImageFileFormat = D3DXIFF_DDS;
}

UINT LevelsWanted(UINT requested, UINT fileLevels) {
    if (requested == 0 || requested == D3DX_DEFAULT) return fileLevels;
    return std::min(requested, fileLevels);
}

// A texture from a Targa or JPEG picture: the file's size, levels 0 for a full
// chain made by 2 x 2 averaging, in the asked format (DXT1 compressed here).
HRESULT TextureFromPicture(IDirect3DDevice9* device, const void* data, UINT size, UINT levels, DWORD usage,
                           D3DFORMAT format, D3DPOOL pool, D3DXIMAGE_INFO* info, IDirect3DTexture9** texture) {
    D3DX_Picture pic;
    HRESULT hr = D3DX_DecodePicture(data, size, &pic);
    if (FAILED(hr)) return hr;
    UINT count = LevelsWanted(levels, D3DX_FullChain(pic.width, pic.height));
    D3DFORMAT texFormat = format && format != D3DX_DEFAULT ? format : pic.format;
    if (texFormat == D3DFMT_R8G8B8 || texFormat == D3DFMT_X1R5G5B5) texFormat = D3DFMT_X8R8G8B8;
    IDirect3DTexture9* t = nullptr;
    hr = device->CreateTexture(pic.width, pic.height, count, usage, texFormat, pool, &t, nullptr);
    if (FAILED(hr)) return hr;
    std::vector<uint8_t> level = std::move(pic.bgra);
    UINT w = pic.width, h = pic.height;
    for (UINT l = 0; l < count && SUCCEEDED(hr); ++l) {
        if (l > 0) {
            level = D3DX_HalveBgra(level, w, h);
            w = std::max(1u, w / 2);
            h = std::max(1u, h / 2);
        }
        std::vector<uint8_t> pixels;
        UINT pitch = 0;
        hr = D3DX_EncodeLevel(texFormat, level, w, h, &pixels, &pitch);
        IDirect3DSurface9* s = nullptr;
        if (SUCCEEDED(hr)) hr = t->GetSurfaceLevel(l, &s);
        if (SUCCEEDED(hr)) {
            hr = D3D9_WriteSurfacePixels(s, nullptr, pixels.data(), pitch);
            s->Release();
        }
    }
    if (FAILED(hr)) {
        t->Release();
        return hr;
    }
    if (info) D3DX_PictureInfo(data, size, info);
    *texture = t;
    return D3D_OK;
}

}  // namespace

HRESULT D3DXGetImageInfoFromFileInMemory(const void* data, UINT size, D3DXIMAGE_INFO* info) {
    if (!info) return D3DERR_INVALIDCALL;
    if (!D3DX_IsDdsFile(data, size)) return D3DX_PictureInfo(data, size, info);
    DdsFile f;
    HRESULT hr = ParseDds(data, size, &f);
    if (FAILED(hr)) return hr;
    FillInfo(f, info);
    return D3D_OK;
}

HRESULT D3DXCreateTextureFromFileInMemoryEx(IDirect3DDevice9* device, const void* data, UINT size, UINT, UINT,
                                            UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD,
                                            DWORD mipFilter, D3DCOLOR, D3DXIMAGE_INFO* info, void*,
                                            IDirect3DTexture9** texture) {
    if (!device || !texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (!D3DX_IsDdsFile(data, size))
        return TextureFromPicture(device, data, size, levels, usage, format, pool, info, texture);
    DdsFile f;
    HRESULT hr = ParseDds(data, size, &f);
    if (FAILED(hr)) return hr;
    UINT count = LevelsWanted(levels, f.levels);
    UINT skip = mipFilter == D3DX_DEFAULT ? 0 : (mipFilter >> 26) & 0x1F;
    skip = std::min(skip, count - 1);
    D3DFORMAT texFormat = TextureFormat(f, format);
    UINT w0 = std::max(1u, f.width >> skip), h0 = std::max(1u, f.height >> skip);
    IDirect3DTexture9* t = nullptr;
    hr = device->CreateTexture(w0, h0, count - skip, usage, texFormat, pool, &t, nullptr);
    if (FAILED(hr)) return hr;
    const uint8_t* src = f.pixels;
    for (UINT l = 0; l < count; ++l) {
        UINT w = std::max(1u, f.width >> l), h = std::max(1u, f.height >> l);
        if (l >= skip) {
            IDirect3DSurface9* s = nullptr;
            hr = t->GetSurfaceLevel(l - skip, &s);
            if (SUCCEEDED(hr)) {
                hr = FillLevel(s, f.fileFormat, texFormat, src, w, h);
                s->Release();
            }
            if (FAILED(hr)) {
                t->Release();
                return hr;
            }
        }
        src += LevelBytes(f.fileFormat, w, h);
    }
    FillInfo(f, info);
    *texture = t;
    return D3D_OK;
}

HRESULT D3DXCreateCubeTextureFromFileInMemoryEx(IDirect3DDevice9* device, const void* data, UINT size, UINT,
                                                UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD, DWORD,
                                                D3DCOLOR, D3DXIMAGE_INFO* info, void*,
                                                IDirect3DCubeTexture9** texture) {
    if (!device || !texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    DdsFile f;
    HRESULT hr = ParseDds(data, size, &f);
    if (FAILED(hr)) return hr;
    if (!f.cube) return D3DXERR_INVALIDDATA;
    UINT count = LevelsWanted(levels, f.levels);
    D3DFORMAT texFormat = TextureFormat(f, format);
    IDirect3DCubeTexture9* t = nullptr;
    hr = device->CreateCubeTexture(f.width, count, usage, texFormat, pool, &t, nullptr);
    if (FAILED(hr)) return hr;
    const uint8_t* src = f.pixels;
    for (UINT face = 0; face < 6; ++face) {
        for (UINT l = 0; l < f.levels; ++l) {
            UINT e = std::max(1u, f.width >> l);
            if (l < count) {
                IDirect3DSurface9* s = nullptr;
                hr = t->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(face), l, &s);
                if (SUCCEEDED(hr)) {
                    hr = FillLevel(s, f.fileFormat, texFormat, src, e, e);
                    s->Release();
                }
                if (FAILED(hr)) {
                    t->Release();
                    return hr;
                }
            }
            src += LevelBytes(f.fileFormat, e, e);
        }
    }
    FillInfo(f, info);
    *texture = t;
    return D3D_OK;
}
