// Bitmap fonts rendered from a TrueType file (stb_truetype) into the engine's
// font files: "F/<name>.abc" (metrics, version 4: code points 32 to 255) and
// the glyph image, white with the glyph's coverage as alpha, which the font
// loader finds as "<name>.img" in the texture folder "dds" first
// ("dds/<name>.img.dds").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr uint16_t kFontFirstChar = 32;
constexpr uint16_t kFontLastChar = 255;

struct FontGlyph {
    int x, y;     // top-left of the glyph's cell in the image (the cell spans the line height)
    int lead;     // pixels the pen moves before the glyph
    int ink;      // width of the cell
    int advance;  // pixels the pen moves after the glyph
};

struct FontImage {
    int width = 0, height = 0;
    int lineHeight = 0;             // rows of a glyph's cell: one blank row, then the line
    std::vector<uint32_t> pixels;   // 0xAARRGGBB, rows top first
    std::vector<FontGlyph> glyphs;  // kFontFirstChar .. kFontLastChar
};

// Renders the font file's glyphs for a line of `height` pixels; false with a
// reason in *error.
bool Font_Render(const std::string& ttfPath, int height, FontImage* out, std::string* error);
// The ".abc" file of a rendered font.
std::vector<uint8_t> Font_Abc(const FontImage& font);
// Renders and writes "F/<name>.abc" and "dds/<name>.img.dds" into the folder.
bool Font_Write(const std::string& folder, const std::string& name, const std::string& ttfPath, int height,
                std::string* error);
