#include "platform/imgdll/imgdll.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <climits>
#include <string>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_BMP
#define STBI_ONLY_JPEG
#include <stb_image.h>

namespace {

std::string s_resourceFolder;

std::string ResourceFolder() {
    if (!s_resourceFolder.empty()) return s_resourceFolder;
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "res";
    std::string path(exe, static_cast<size_t>(n));
    return path.substr(0, path.find_last_of('/')) + "/res";
}

}  // namespace

ImgBlock* IMG_BitmapToBlock(HBITMAP bitmap, int32_t* valueA, int32_t* valueB, int32_t) {
    if (!bitmap || bitmap->width <= 0 || bitmap->height <= 0) return nullptr;
    if (valueA) *valueA = bitmap->width;
    if (valueB) *valueB = bitmap->height;
    return new ImgBlock{bitmap->width, bitmap->height, bitmap->rgba};
}

ImgBlock* IMG_ScaleBlock(const ImgBlock* block, int32_t, int32_t, int32_t width, int32_t height) {
    if (!block || block->width <= 0 || block->height <= 0 || width <= 0 || height <= 0) return nullptr;
    if (int64_t{width} * height > (1 << 26)) return nullptr;
    auto* out = new ImgBlock{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4)};
    // Bilinear, sampling at pixel centres.
    const float sx = static_cast<float>(block->width) / width;
    const float sy = static_cast<float>(block->height) / height;
    auto at = [&](int x, int y, int c) {
        x = std::clamp(x, 0, block->width - 1);
        y = std::clamp(y, 0, block->height - 1);
        return static_cast<float>(block->rgba[(static_cast<size_t>(y) * block->width + x) * 4 + c]);
    };
    for (int y = 0; y < height; ++y) {
        const float fy = (y + 0.5f) * sy - 0.5f;
        const int y0 = static_cast<int>(std::floor(fy));
        const float ty = fy - y0;
        for (int x = 0; x < width; ++x) {
            const float fx = (x + 0.5f) * sx - 0.5f;
            const int x0 = static_cast<int>(std::floor(fx));
            const float tx = fx - x0;
            for (int c = 0; c < 4; ++c) {
                const float top = at(x0, y0, c) * (1 - tx) + at(x0 + 1, y0, c) * tx;
                const float bottom = at(x0, y0 + 1, c) * (1 - tx) + at(x0 + 1, y0 + 1, c) * tx;
                out->rgba[(static_cast<size_t>(y) * width + x) * 4 + c] =
                    static_cast<uint8_t>(std::clamp(top * (1 - ty) + bottom * ty + 0.5f, 0.0f, 255.0f));
            }
        }
    }
    return out;
}

HBITMAP IMG_BlockToBitmap(const ImgBlock* block, int32_t width, int32_t height, int32_t) {
    if (!block || width != block->width || height != block->height || width <= 0 || height <= 0) return nullptr;
    return new Win32Bitmap{width, height, block->rgba};
}

void IMG_FreeBlock(ImgBlock* block) { delete block; }

HBITMAP LoadBitmapA(HINSTANCE, const char* name) {
    const auto id = reinterpret_cast<uintptr_t>(name);
    if (id == 0 || id > 0xFFFF) return nullptr;
    for (const char* ext : {".png", ".bmp", ".jpg"}) {
        const std::string path = ResourceFolder() + "/" + std::to_string(id) + ext;
        int w = 0, h = 0, n = 0;
        stbi_uc* pixels = stbi_load(path.c_str(), &w, &h, &n, 4);
        if (!pixels) continue;
        auto* bitmap = new Win32Bitmap{w, h, std::vector<uint8_t>(pixels, pixels + static_cast<size_t>(w) * h * 4)};
        stbi_image_free(pixels);
        return bitmap;
    }
    return nullptr;
}

void IMG_SetResourceFolder(const char* folder) { s_resourceFolder = folder ? folder : ""; }
