#include "imagefixtures.h"

#include <cstring>
#include <string>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>
#pragma GCC diagnostic pop

namespace {

void PutPixel(std::vector<uint8_t>& out, uint32_t p, int depth) {
    uint8_t b = p & 0xFF, g = (p >> 8) & 0xFF, r = (p >> 16) & 0xFF, a = p >> 24;
    if (depth == 16 || depth == 15) {
        uint16_t v = static_cast<uint16_t>((a >= 128 ? 0x8000 : 0) | (r >> 3) << 10 | (g >> 3) << 5 | b >> 3);
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
        return;
    }
    if (depth == 8) {
        out.push_back(g);
        return;
    }
    out.push_back(b);
    out.push_back(g);
    out.push_back(r);
    if (depth == 32) out.push_back(a);
}

}  // namespace

std::vector<uint8_t> Tga(const TgaSpec& s, const std::vector<uint32_t>& pixels) {
    std::vector<uint8_t> out(18, 0);
    out[1] = s.colourMapType;
    out[2] = s.type;
    out[12] = static_cast<uint8_t>(s.width), out[13] = static_cast<uint8_t>(s.width >> 8);
    out[14] = static_cast<uint8_t>(s.height), out[15] = static_cast<uint8_t>(s.height >> 8);
    out[16] = s.depth;
    out[17] = static_cast<uint8_t>(s.alphaBits | (s.topDown ? 0x20 : 0));
    bool rle = s.type >= 9;
    for (int row = 0; row < s.height; ++row) {
        int y = s.topDown ? row : s.height - 1 - row;
        const uint32_t* line = pixels.data() + static_cast<size_t>(y) * s.width;
        if (!rle) {
            for (int x = 0; x < s.width; ++x) PutPixel(out, line[x], s.depth);
            continue;
        }
        // Runs of equal pixels as run packets, the rest as one-pixel raw packets.
        for (int x = 0; x < s.width;) {
            int n = 1;
            while (x + n < s.width && n < 128 && line[x + n] == line[x]) ++n;
            out.push_back(static_cast<uint8_t>(n > 1 ? 0x80 | (n - 1) : 0));
            PutPixel(out, line[x], s.depth);
            x += n;
        }
    }
    return out;
}

std::vector<uint8_t> Jpeg(int width, int height, const std::vector<uint32_t>& pixels) {
    std::vector<uint8_t> rgb;
    for (uint32_t p : pixels) {
        rgb.push_back(static_cast<uint8_t>(p >> 16));
        rgb.push_back(static_cast<uint8_t>(p >> 8));
        rgb.push_back(static_cast<uint8_t>(p));
    }
    std::vector<uint8_t> out;
    stbi_write_jpg_to_func(
        [](void* context, void* data, int size) {
            auto* v = static_cast<std::vector<uint8_t>*>(context);
            v->insert(v->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
        },
        &out, width, height, 3, rgb.data(), 95);
    return out;
}

std::vector<uint8_t> Bmp1(const std::vector<const char*>& rows, bool topDown) {
    int h = static_cast<int>(rows.size()), w = static_cast<int>(std::strlen(rows[0]));
    int rowBytes = (w + 31) / 32 * 4;
    uint32_t offset = 14 + 40 + 8;
    std::vector<uint8_t> out(offset + static_cast<size_t>(rowBytes) * h, 0);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(out.data() + at, &v, 4); };
    out[0] = 'B', out[1] = 'M';
    put32(2, static_cast<uint32_t>(out.size()));
    put32(10, offset);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(w));
    put32(22, static_cast<uint32_t>(topDown ? -h : h));
    out[26] = 1;
    out[28] = 1;
    put32(54, 0x000000);
    put32(58, 0xFFFFFF);
    for (int y = 0; y < h; ++y) {
        size_t at = offset + static_cast<size_t>(topDown ? y : h - 1 - y) * rowBytes;
        for (int x = 0; x < w; ++x)
            if (rows[y][x] == '#') out[at + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
    return out;
}
