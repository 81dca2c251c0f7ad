// Targa and JPEG pictures through stb_image, DXT1 blocks through stb_dxt.
#include "platform/d3dx/image_decode.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/d3d9/texture_dxt.h"
#include "platform/d3dx/pixelcodec.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
// Zeroed: a scan that names a Huffman table no segment defined reads an empty
// table instead of whatever the memory held.
#define STBI_MALLOC(size)     std::calloc(1, size)
#define STBI_REALLOC(p, size) std::realloc(p, size)
#define STBI_FREE(p)          std::free(p)
#define STBI_ONLY_JPEG
#define STBI_ONLY_TGA
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#include <stb_image.h>
#define STB_DXT_STATIC
#define STB_DXT_IMPLEMENTATION
#include <stb_dxt.h>
#pragma GCC diagnostic pop

namespace {

constexpr UINT kMaxEdge = 16384;

bool IsJpeg(const uint8_t* p, UINT size) { return size >= 3 && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF; }

// The format D3DX reports for the file: by its channels, and for Targa files
// by their pixel depth (byte 16 of the header).
D3DFORMAT FileFormat(const uint8_t* p, UINT size, int channels, bool jpeg) {
    switch (channels) {
        case 1: return D3DFMT_L8;
        case 2: return D3DFMT_A8L8;
        case 4: return D3DFMT_A8R8G8B8;
        default: break;
    }
    if (jpeg) return D3DFMT_X8R8G8B8;
    if (size > 16 && (p[16] == 15 || p[16] == 16)) return D3DFMT_X1R5G5B5;
    return D3DFMT_R8G8B8;
}

// A Targa file holds every pixel its header promises: stb_image would read
// zeros past the end of a short one.
bool CompleteTarga(const uint8_t* p, UINT size) {
    if (size < 18) return false;
    UINT w = p[12] | p[13] << 8, h = p[14] | p[15] << 8, bytes = (p[16] + 7) / 8;
    uint64_t at = 18ull + p[0];
    if (p[1]) at += static_cast<uint64_t>(p[5] | p[6] << 8) * ((p[7] + 7) / 8);
    uint64_t pixels = static_cast<uint64_t>(w) * h;
    if (p[2] < 9) return at + pixels * bytes <= size;
    // Run-length packets: a header byte, then one pixel (run) or n pixels (raw).
    for (uint64_t done = 0; done < pixels;) {
        if (at >= size) return false;
        uint8_t packet = p[at++];
        uint64_t n = (packet & 0x7F) + 1u;
        at += (packet & 0x80) ? bytes : n * bytes;
        done += n;
    }
    return at <= size;
}

// Every Huffman table of a JPEG file holds at most 256 codes: stb_image
// builds a table from the code counts before it checks their sum and writes
// past its arrays on more. The decoder passes bytes between segments, so
// every table marker in the file is looked at, wherever it stands.
bool SaneHuffmanTables(const uint8_t* p, UINT size) {
    for (UINT at = 0; at + 4 <= size; ++at) {
        if (p[at] != 0xFF || p[at + 1] != 0xC4) continue;
        // The decoder reads a table's counts while any byte of the segment is
        // left, and zeros past the end of the file.
        const UINT end = at + 2 + (p[at + 2] << 8 | p[at + 3]);
        for (UINT t = at + 4; t < end && t < size;) {
            UINT codes = 0;
            for (UINT i = 1; i <= 16 && t + i < size; ++i) codes += p[t + i];
            if (codes > 256) return false;
            t += 17 + codes;
        }
    }
    return true;
}

// Every 8 x 8 block of a JPEG file's first component takes at least one bit
// of coded data (its DC term), whatever the tables or the scan order; the
// decoder fills a short file's missing blocks itself, so a few hundred bytes
// could otherwise promise a picture of gigabytes.
bool JpegHoldsItsBlocks(UINT w, UINT h, UINT size) {
    uint64_t blocks = (static_cast<uint64_t>(w) + 7) / 8 * ((static_cast<uint64_t>(h) + 7) / 8);
    return blocks <= 8ull * size;
}

}  // namespace

bool D3DX_IsDdsFile(const void* data, UINT size) { return data && size >= 4 && std::memcmp(data, "DDS ", 4) == 0; }

HRESULT D3DX_PictureInfo(const void* data, UINT size, D3DXIMAGE_INFO* info) {
    const auto* p = static_cast<const uint8_t*>(data);
    if (!p || !info || size == 0 || size > static_cast<UINT>(INT_MAX)) return D3DXERR_INVALIDDATA;
    // The decoder takes any file that starts with a marker for a JPEG one.
    if (p[0] == 0xFF && !SaneHuffmanTables(p, size)) return D3DXERR_INVALIDDATA;
    int w = 0, h = 0, channels = 0;
    if (!stbi_info_from_memory(p, static_cast<int>(size), &w, &h, &channels)) return D3DXERR_INVALIDDATA;
    if (w <= 0 || h <= 0 || static_cast<UINT>(w) > kMaxEdge || static_cast<UINT>(h) > kMaxEdge)
        return D3DXERR_INVALIDDATA;
    bool jpeg = IsJpeg(p, size);
    if (jpeg ? !JpegHoldsItsBlocks(UINT(w), UINT(h), size) : !CompleteTarga(p, size)) return D3DXERR_INVALIDDATA;
    info->Width = static_cast<UINT>(w);
    info->Height = static_cast<UINT>(h);
    info->Depth = 1;
    info->MipLevels = 1;
    info->Format = FileFormat(p, size, channels, jpeg);
    info->ResourceType = D3DRTYPE_TEXTURE;
    info->ImageFileFormat = jpeg ? D3DXIFF_JPG : D3DXIFF_TGA;
    return D3D_OK;
}

HRESULT D3DX_DecodePicture(const void* data, UINT size, D3DX_Picture* out) {
    D3DXIMAGE_INFO info{};
    HRESULT hr = D3DX_PictureInfo(data, size, &info);
    if (FAILED(hr)) return hr;
    int w = 0, h = 0, channels = 0;
    stbi_uc* rgba =
        stbi_load_from_memory(static_cast<const stbi_uc*>(data), static_cast<int>(size), &w, &h, &channels, 4);
    if (!rgba) return D3DXERR_INVALIDDATA;
    if (static_cast<UINT>(w) != info.Width || static_cast<UINT>(h) != info.Height) {
        stbi_image_free(rgba);
        return D3DXERR_INVALIDDATA;
    }
    out->width = info.Width;
    out->height = info.Height;
    out->format = info.Format;
    out->fileFormat = info.ImageFileFormat;
    size_t n = static_cast<size_t>(w) * h;
    out->bgra.resize(n * 4);
    for (size_t i = 0; i < n; ++i) {
        const stbi_uc* s = rgba + i * 4;
        uint8_t* d = out->bgra.data() + i * 4;
        d[0] = s[2], d[1] = s[1], d[2] = s[0], d[3] = s[3];
    }
    stbi_image_free(rgba);
    return D3D_OK;
}

UINT D3DX_FullChain(UINT width, UINT height) {
    UINT n = 1;
    while (width > 1 || height > 1) {
        width = std::max(1u, width / 2);
        height = std::max(1u, height / 2);
        ++n;
    }
    return n;
}

std::vector<uint8_t> D3DX_HalveBgra(const std::vector<uint8_t>& bgra, UINT width, UINT height) {
    UINT w = std::max(1u, width / 2), h = std::max(1u, height / 2);
    std::vector<uint8_t> out(static_cast<size_t>(w) * h * 4);
    for (UINT y = 0; y < h; ++y) {
        UINT y0 = std::min(height - 1, y * 2), y1 = std::min(height - 1, y * 2 + 1);
        for (UINT x = 0; x < w; ++x) {
            UINT x0 = std::min(width - 1, x * 2), x1 = std::min(width - 1, x * 2 + 1);
            for (int c = 0; c < 4; ++c) {
                auto at = [&](UINT px, UINT py) { return bgra[(static_cast<size_t>(py) * width + px) * 4 + c]; };
                out[(static_cast<size_t>(y) * w + x) * 4 + c] =
                    static_cast<uint8_t>((at(x0, y0) + at(x1, y0) + at(x0, y1) + at(x1, y1) + 2) / 4);
            }
        }
    }
    return out;
}

std::vector<uint8_t> D3DX_CompressDXT1(const std::vector<uint8_t>& bgra, UINT width, UINT height) {
    UINT bw = (width + 3) / 4, bh = (height + 3) / 4;
    std::vector<uint8_t> out(static_cast<size_t>(bw) * bh * 8);
    for (UINT by = 0; by < bh; ++by)
        for (UINT bx = 0; bx < bw; ++bx) {
            // The block's pixels as R, G, B, A; pixels past the edge repeat the last ones.
            uint8_t block[64];
            for (UINT i = 0; i < 16; ++i) {
                UINT x = std::min(width - 1, bx * 4 + i % 4), y = std::min(height - 1, by * 4 + i / 4);
                const uint8_t* s = bgra.data() + (static_cast<size_t>(y) * width + x) * 4;
                block[i * 4] = s[2], block[i * 4 + 1] = s[1], block[i * 4 + 2] = s[0], block[i * 4 + 3] = s[3];
            }
            stb_compress_dxt_block(out.data() + (static_cast<size_t>(by) * bw + bx) * 8, block, 0, STB_DXT_NORMAL);
        }
    return out;
}

HRESULT D3DX_EncodeLevel(D3DFORMAT format, const std::vector<uint8_t>& bgra, UINT width, UINT height,
                         std::vector<uint8_t>* out, UINT* pitch) {
    if (format == D3DFMT_DXT1) {
        *out = D3DX_CompressDXT1(bgra, width, height);
        *pitch = (width + 3) / 4 * 8;
        return D3D_OK;
    }
    if (!D3DX_CanEncode(format)) return D3DERR_INVALIDCALL;
    *pitch = width * D3DX_CodecBytes(format);
    out->assign(static_cast<size_t>(*pitch) * height, 0);
    D3DX_Encode(format, width, height, bgra.data(), out->data(), *pitch);
    return D3D_OK;
}
