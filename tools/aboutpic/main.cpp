// aboutpic: draws the start dialog's about picture (a planet's rim against a
// field of stars) and writes it as a PNG.
//
//     aboutpic OUTPUT.png
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace {

constexpr int kWidth = 500, kHeight = 150;

struct Picture {
    std::vector<float> rgb = std::vector<float>(kWidth * kHeight * 3);
    void Add(int x, int y, float r, float g, float b) {
        if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) return;
        float* p = &rgb[(y * kWidth + x) * 3];
        p[0] += r;
        p[1] += g;
        p[2] += b;
    }
};

// A fixed sequence, so every build draws the same stars.
uint32_t s_seed = 0x2545F491u;
float Random() {
    s_seed = s_seed * 1664525u + 1013904223u;
    return static_cast<float>(s_seed >> 8) / static_cast<float>(1u << 24);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: aboutpic OUTPUT.png\n");
        return 1;
    }
    Picture pic;
    // Deep space, a little lighter towards the lower right.
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const float t = 0.5f * x / kWidth + 0.5f * y / kHeight;
            pic.Add(x, y, 0.01f + 0.03f * t, 0.01f + 0.04f * t, 0.05f + 0.12f * t);
        }
    for (int i = 0; i < 420; ++i) {
        const int x = static_cast<int>(Random() * kWidth), y = static_cast<int>(Random() * kHeight);
        const float b = 0.25f + 0.75f * Random() * Random();
        const float warm = Random() * 0.2f;
        pic.Add(x, y, b, b * (1 - warm * 0.3f), b * (1 - warm));
    }
    // The planet: a large disc below the right half, lit from the upper left,
    // with a thin blue atmosphere along its rim.
    const float cx = 360, cy = 420, radius = 330;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const float dx = x - cx, dy = y - cy, d = std::sqrt(dx * dx + dy * dy);
            if (d < radius) {
                const float nz = std::sqrt(std::max(0.0f, 1 - (d / radius) * (d / radius)));
                const float light = std::max(0.0f, (-dx * 0.55f - dy * 0.6f) / radius + nz * 0.3f);
                const float band = 0.5f + 0.5f * std::sin(y * 0.09f + std::sin(x * 0.013f) * 2.0f);
                float* p = &pic.rgb[(y * kWidth + x) * 3];
                p[0] = light * (0.35f + 0.15f * band);
                p[1] = light * (0.30f + 0.10f * band);
                p[2] = light * (0.25f + 0.05f * band);
            }
            const float rim = std::exp(-std::abs(d - radius) / 7.0f);
            if (dx < 0 || dy < 0) pic.Add(x, y, 0.15f * rim, 0.35f * rim, 0.9f * rim);
        }
    std::vector<uint8_t> out(kWidth * kHeight * 3);
    for (size_t i = 0; i < out.size(); ++i) {
        const float v = std::pow(std::min(1.0f, std::max(0.0f, pic.rgb[i])), 1 / 2.2f);
        out[i] = static_cast<uint8_t>(v * 255 + 0.5f);
    }
    std::filesystem::create_directories(std::filesystem::path(argv[1]).parent_path());
    if (!stbi_write_png(argv[1], kWidth, kHeight, 3, out.data(), kWidth * 3)) {
        std::fprintf(stderr, "aboutpic: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
