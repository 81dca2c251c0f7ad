// Golden pictures through stb: PNG written and read here only.
#include "support/golden_image.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb_image.h>
#pragma GCC diagnostic pop

namespace {

constexpr int kTolerance = 4;
constexpr double kShare = 0.99;

bool WritePng(const std::string& file, int w, int h, const std::vector<uint32_t>& pixels) {
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < pixels.size() && i * 3 + 2 < rgb.size(); ++i) {
        rgb[i * 3] = static_cast<uint8_t>(pixels[i] >> 16);
        rgb[i * 3 + 1] = static_cast<uint8_t>(pixels[i] >> 8);
        rgb[i * 3 + 2] = static_cast<uint8_t>(pixels[i]);
    }
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    return stbi_write_png(file.c_str(), w, h, 3, rgb.data(), w * 3) != 0;
}

}  // namespace

std::string GoldenCompare(const std::string& path, int width, int height, const std::vector<uint32_t>& pixels) {
    const char* root = std::getenv("TREVAN_SOURCE_DIR");
    const std::string file = std::string(root ? root : ".") + "/" + path;
    if (pixels.size() != static_cast<size_t>(width) * height) return "the picture has the wrong size";
    const char* update = std::getenv("TREVAN_UPDATE_GOLDEN");
    if (update && std::string(update) == "1")
        return WritePng(file, width, height, pixels) ? "" : "cannot write " + file;
    int w = 0, h = 0, channels = 0;
    stbi_uc* golden = stbi_load(file.c_str(), &w, &h, &channels, 3);
    if (!golden) return "no golden picture " + file + " (TREVAN_UPDATE_GOLDEN=1 writes it)";
    std::string result;
    if (w != width || h != height) {
        result = "the golden picture is " + std::to_string(w) + " x " + std::to_string(h);
    } else {
        int off = 0, worst = 0;
        for (size_t i = 0; i < pixels.size(); ++i) {
            int d = 0;
            for (int c = 0; c < 3; ++c) {
                const int mine = static_cast<int>((pixels[i] >> (16 - 8 * c)) & 0xFF);
                d = std::max(d, std::abs(mine - golden[i * 3 + c]));
            }
            worst = std::max(worst, d);
            if (d > kTolerance) ++off;
        }
        if (off > static_cast<int>(pixels.size() * (1.0 - kShare)))
            result = std::to_string(off) + " of " + std::to_string(pixels.size()) +
                     " pixels differ by more than 4 (worst " + std::to_string(worst) + ")";
    }
    stbi_image_free(golden);
    if (!result.empty()) {
        const char* scratch = std::getenv("TREVAN_TEST_SCRATCH");
        const std::string actual =
            std::string(scratch ? scratch : ".") + "/" + std::filesystem::path(path).stem().string() + ".actual.png";
        if (WritePng(actual, width, height, pixels)) result += "; drawn: " + actual;
    }
    return result;
}
