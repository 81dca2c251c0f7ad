// Picture files made by the tests: Targa files of each kind, tiny JPEG files
// (stb_image_write), 1-bit BMP files; pixels are 0xAARRGGBB, top row first.
#pragma once

#include <cstdint>
#include <vector>

struct TgaSpec {
    int width = 2, height = 2;
    uint8_t type = 2;  // 2 true colour, 10 run-length true colour, 3 grey, 1 colour-mapped
    uint8_t depth = 24;
    bool topDown = false;
    uint8_t colourMapType = 0;
    uint8_t alphaBits = 0;
};
std::vector<uint8_t> Tga(const TgaSpec& spec, const std::vector<uint32_t>& pixels);

// A JPEG of the picture (alpha dropped), quality 95.
std::vector<uint8_t> Jpeg(int width, int height, const std::vector<uint32_t>& pixels);

// A 1-bit BMP: rows of '#' (bit set) and '.' (clear), top row first.
std::vector<uint8_t> Bmp1(const std::vector<const char*>& rows, bool topDown = false);
