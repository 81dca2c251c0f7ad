// demotex: writes the demo body's hull texture, a 64 x 64 uncompressed
// 24-bit TGA of warm panels with dark seams and a light stripe, so a lit,
// turning body shows both its shading and its texture. Usage: demotex FILE.tga
#include <cstdint>
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: demotex FILE.tga\n");
        return 2;
    }
    constexpr int kSize = 64;
    const uint8_t header[18] = {0, 0, 2, 0,     0, 0,     0, 0,  0,
                                0, 0, 0, kSize, 0, kSize, 0, 24, 0x20};  // first row at the top
    std::vector<uint8_t> pixels;
    pixels.reserve(kSize * kSize * 3);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            uint8_t r = 200, g = 120, b = 40;                          // panel
            if (((x / 16) + (y / 16)) % 2) r = 150, g = 150, b = 160;  // alternate panel
            if (y >= 28 && y < 36) r = 240, g = 230, b = 200;          // stripe
            if (x % 16 == 0 || y % 16 == 0) r = 30, g = 30, b = 40;    // seams
            pixels.push_back(b);                                       // TGA keeps blue, green, red
            pixels.push_back(g);
            pixels.push_back(r);
        }
    }
    std::FILE* f = std::fopen(argv[1], "wb");
    bool ok = f && std::fwrite(header, 1, sizeof header, f) == sizeof header &&
              std::fwrite(pixels.data(), 1, pixels.size(), f) == pixels.size();
    if (f) ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "demotex: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
