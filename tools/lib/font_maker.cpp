#include "tools/lib/font_maker.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tools/lib/lookup_textures.h"

// The rasteriser is this file's own: the start dialog's interface library links
// the system's stb, whose packing code must never meet a second copy.
#define STBTT_STATIC
#define STB_TRUETYPE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#include <stb/stb_truetype.h>
#pragma GCC diagnostic pop

namespace {

constexpr int kImageWidth = 256;

bool Fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

int NextPowerOfTwo(int v) {
    int p = 1;
    while (p < v) p *= 2;
    return p;
}

void Put32(std::vector<uint8_t>& v, uint32_t x) {
    v.insert(v.end(), {uint8_t(x), uint8_t(x >> 8), uint8_t(x >> 16), uint8_t(x >> 24)});
}
void PutF(std::vector<uint8_t>& v, float f) {
    uint32_t x;
    std::memcpy(&x, &f, 4);
    Put32(v, x);
}
void Put16(std::vector<uint8_t>& v, uint16_t x) { v.insert(v.end(), {uint8_t(x), uint8_t(x >> 8)}); }

uint8_t Byte(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

}  // namespace

bool Font_Render(const std::string& ttfPath, int height, FontImage* out, std::string* error) {
    const std::vector<uint8_t> ttf = ReadAll(ttfPath);
    stbtt_fontinfo info;
    if (ttf.empty() || !stbtt_InitFont(&info, ttf.data(), stbtt_GetFontOffsetForIndex(ttf.data(), 0)))
        return Fail(error, "cannot read the font " + ttfPath);
    if (height < 4 || height > 200) return Fail(error, "font height out of range");
    const float scale = stbtt_ScaleForPixelHeight(&info, static_cast<float>(height));
    int ascent = 0, descent = 0, gap = 0;
    stbtt_GetFontVMetrics(&info, &ascent, &descent, &gap);
    const int baseline = 1 + static_cast<int>(std::lround(ascent * scale));
    // A blank row above the line: the cockpit opens its font one row down.
    const int cell = height + 1;

    struct Rendered {
        int lead, shift, ink, advance;
        int x0, y0, w, h;
        std::vector<uint8_t> coverage;
    };
    std::vector<Rendered> rendered;
    for (int cp = kFontFirstChar; cp <= kFontLastChar; ++cp) {
        Rendered r{};
        const int g = stbtt_FindGlyphIndex(&info, cp);
        if (g != 0 || cp == ' ') {
            int adv = 0, lsb = 0;
            stbtt_GetGlyphHMetrics(&info, g, &adv, &lsb);
            int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
            stbtt_GetGlyphBitmapBox(&info, g, scale, scale, &x0, &y0, &x1, &y1);
            const int total = static_cast<int>(std::lround(adv * scale));
            // The pen never moves back: a glyph reaching left of it is drawn at the pen.
            r.lead = std::max(0, x0);
            r.w = std::max(0, x1 - x0);
            r.h = std::max(0, y1 - y0);
            r.ink = r.w;
            r.advance = std::max(0, total - r.lead);
            r.x0 = x0;
            r.y0 = y0;
            if (r.w > 0 && r.h > 0) {
                r.coverage.resize(static_cast<size_t>(r.w) * static_cast<size_t>(r.h));
                stbtt_MakeGlyphBitmap(&info, r.coverage.data(), r.w, r.h, r.w, scale, scale, g);
            }
        }
        rendered.push_back(std::move(r));
    }

    // Cells left to right, a row of cells per line of the image, a blank column between them.
    FontImage f;
    f.width = kImageWidth;
    f.lineHeight = cell;
    int x = 0, y = 0;
    for (const Rendered& r : rendered) {
        if (x + r.ink > kImageWidth) {
            x = 0;
            y += cell + 1;
        }
        f.glyphs.push_back({x, y, r.lead, r.ink, r.advance});
        x += r.ink + 1;
    }
    f.height = NextPowerOfTwo(y + cell);
    f.pixels.assign(static_cast<size_t>(f.width) * static_cast<size_t>(f.height), 0x00FFFFFFu);
    for (size_t i = 0; i < rendered.size(); ++i) {
        const Rendered& r = rendered[i];
        const FontGlyph& g = f.glyphs[i];
        for (int row = 0; row < r.h; ++row) {
            const int ty = baseline + r.y0 + row;
            if (ty < 0 || ty >= cell) continue;
            for (int col = 0; col < r.w; ++col) {
                const uint32_t a =
                    r.coverage[static_cast<size_t>(row) * static_cast<size_t>(r.w) + static_cast<size_t>(col)];
                f.pixels[static_cast<size_t>(g.y + ty) * static_cast<size_t>(f.width) +
                         static_cast<size_t>(g.x + col)] = a << 24 | 0xFFFFFFu;
            }
        }
    }
    *out = std::move(f);
    return true;
}

std::vector<uint8_t> Font_Abc(const FontImage& font) {
    std::vector<uint8_t> v;
    Put32(v, 4);
    Put32(v, static_cast<uint32_t>(font.lineHeight - 1));
    Put32(v, static_cast<uint32_t>(font.width));
    Put32(v, static_cast<uint32_t>(font.height));
    Put32(v, 32);
    Put16(v, kFontFirstChar);
    Put16(v, kFontLastChar);
    Put32(v, static_cast<uint32_t>(font.glyphs.size()));
    const auto w = static_cast<float>(font.width), h = static_cast<float>(font.height);
    for (const FontGlyph& g : font.glyphs) {
        PutF(v, static_cast<float>(g.x) / w);
        PutF(v, static_cast<float>(g.y) / h);
        PutF(v, static_cast<float>(g.x + g.ink) / w);
        PutF(v, static_cast<float>(g.y + font.lineHeight) / h);
        v.insert(v.end(), {Byte(g.lead), 0, Byte(g.ink), 0, Byte(g.advance), 0, 0, 0});
    }
    return v;
}

bool Font_Write(const std::string& folder, const std::string& name, const std::string& ttfPath, int height,
                std::string* error) {
    FontImage font;
    if (!Font_Render(ttfPath, height, &font, error)) return false;
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(fs::path(folder) / "F", ec);
    fs::create_directories(fs::path(folder) / "dds", ec);
    return Lookup_WriteFile((fs::path(folder) / "F" / (name + ".abc")).string(), Font_Abc(font), error) &&
           Lookup_WriteFile((fs::path(folder) / "dds" / (name + ".img.dds")).string(),
                            Lookup_DdsAlphaPicture(font.width, font.height, font.pixels), error);
}
