// demotex: writes the demo's pictures as DDS files into the folder the texture
// loader looks in first ("dds"), so that every picture the engine asks for is
// there: the cube body's hull texture (64 x 64 warm panels with dark seams and
// a light stripe, with its mip levels, so a lit, turning body shows both its
// shading and its texture), the start pictures for each screen width, and the
// loading screen with its top and bottom bars. Usage: demotex FOLDER
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/lib/lookup_textures.h"

namespace {

uint32_t Rgb(int r, int g, int b) { return static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | b; }

std::vector<uint32_t> Hull(int size) {
    std::vector<uint32_t> texels;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            uint32_t c = Rgb(200, 120, 40);                         // panel
            if (((x / 16) + (y / 16)) % 2) c = Rgb(150, 150, 160);  // alternate panel
            if (y >= 28 && y < 36) c = Rgb(240, 230, 200);          // stripe
            if (x % 16 == 0 || y % 16 == 0) c = Rgb(30, 30, 40);    // seams
            texels.push_back(c);
        }
    }
    return texels;
}

// The deep blue of the intro's sky, lighter towards a band across the middle.
std::vector<uint32_t> Backdrop(int size) {
    std::vector<uint32_t> texels;
    for (int y = 0; y < size; ++y) {
        const int d = y < size / 2 ? size / 2 - y : y - size / 2;
        const int light = 48 - d * 40 / (size / 2);
        for (int x = 0; x < size; ++x) texels.push_back(Rgb(16 + light / 3, 24 + light / 2, 72 + light));
    }
    return texels;
}

// A dark bar with a light line along the edge that faces the picture.
std::vector<uint32_t> Bar(int size, bool top) {
    std::vector<uint32_t> texels;
    for (int y = 0; y < size; ++y) {
        const bool edge = top ? y >= size - 2 : y < 2;
        for (int x = 0; x < size; ++x) texels.push_back(edge ? Rgb(200, 190, 150) : Rgb(20, 20, 28));
    }
    return texels;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: demotex FOLDER\n");
        return 2;
    }
    constexpr int kSize = 64;
    const std::string folder = argv[1];
    struct Picture {
        const char* name;
        std::vector<uint32_t> texels;
        bool mipLevels;
    };
    const std::vector<Picture> pictures = {
        {"hull", Hull(kSize), true},
        {"load640", Backdrop(kSize), false},
        {"load800", Backdrop(kSize), false},
        {"load1024", Backdrop(kSize), false},
        {"load1280", Backdrop(kSize), false},
        {"LoadScrDefault", Backdrop(kSize), false},
        {"LoadScrTOP", Bar(kSize, true), false},
        {"LoadScrBOT", Bar(kSize, false), false},
    };
    for (const Picture& p : pictures) {
        std::string error;
        if (!Lookup_WriteFile(folder + "/" + p.name + ".dds", Lookup_DdsPicture(kSize, kSize, p.texels, p.mipLevels),
                              &error)) {
            std::fprintf(stderr, "demotex: %s\n", error.c_str());
            return 1;
        }
    }
    return 0;
}
