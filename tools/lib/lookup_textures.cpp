#include "tools/lib/lookup_textures.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>

#include "platform/d3dx/image_decode.h"
#include "system/shaderprofile.h"

namespace {

// The pixel layouts written, as a DDS pixel format describes them.
struct Layout {
    uint32_t pfFlags, bits, r, g, b, a;
};
constexpr uint32_t kPfAlphaPixels = 0x1, kPfRgb = 0x40, kPfLuminance = 0x20000;
constexpr Layout kG16R16{kPfRgb, 32, 0xFFFF, 0xFFFF0000u, 0, 0};
constexpr Layout kX8R8G8B8{kPfRgb, 32, 0xFF0000, 0xFF00, 0xFF, 0};
constexpr Layout kA8R8G8B8{kPfRgb | kPfAlphaPixels, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u};
constexpr Layout kL8{kPfLuminance, 8, 0xFF, 0, 0, 0};
constexpr Layout kL16{kPfLuminance, 16, 0xFFFF, 0, 0, 0};
constexpr Layout kA2B10G10R10{kPfRgb | kPfAlphaPixels, 32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000u};
constexpr Layout kA2R10G10B10{kPfRgb | kPfAlphaPixels, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000u};

// A colour with channels 0..1 (alpha 1 unless told).
struct Texel {
    double r, g, b, a = 1.0;
};

uint32_t Quantise(double v, int bits) {
    double top = static_cast<double>((1u << bits) - 1);
    return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * top));
}

// The texel in the layout, as the masks place each channel.
uint32_t Pack(const Layout& l, const Texel& t) {
    auto channel = [](uint32_t mask, double v) -> uint32_t {
        if (!mask) return 0;
        int shift = 0, bits = 0;
        while (!(mask >> shift & 1)) ++shift;
        while (shift + bits < 32 && (mask >> (shift + bits) & 1)) ++bits;
        return Quantise(v, bits) << shift;
    };
    if (l.pfFlags & kPfLuminance) return channel(l.r, t.r);
    return channel(l.r, t.r) | channel(l.g, t.g) | channel(l.b, t.b) | channel(l.a, t.a);
}

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// The 128-byte header of a texture or cube of this layout.
std::vector<uint8_t> Header(const Layout& l, int width, int height, bool cube, int levels = 1) {
    std::vector<uint8_t> h(128, 0);
    std::memcpy(h.data(), "DDS ", 4);
    Put32(h, 4, 124);
    // caps, height, width, pitch, pixel format, and the level count when there are more
    Put32(h, 8, 0x1 | 0x2 | 0x4 | 0x8 | 0x1000 | (levels > 1 ? 0x20000u : 0u));
    Put32(h, 12, static_cast<uint32_t>(height));
    Put32(h, 16, static_cast<uint32_t>(width));
    Put32(h, 20, static_cast<uint32_t>(width) * l.bits / 8);
    Put32(h, 28, static_cast<uint32_t>(levels));
    Put32(h, 76, 32);
    Put32(h, 80, l.pfFlags);
    Put32(h, 88, l.bits);
    Put32(h, 92, l.r);
    Put32(h, 96, l.g);
    Put32(h, 100, l.b);
    Put32(h, 104, l.a);
    Put32(h, 108, (cube || levels > 1 ? 0x8u : 0u) | (levels > 1 ? 0x400000u : 0u) | 0x1000u);  // complex, mipmap
    Put32(h, 112, cube ? 0x200u | 0xFC00u : 0);  // cube map with all six faces
    return h;
}

// Texel centres of an edge of n texels, spread over 0..1.
double Centre(int i, int n) { return (i + 0.5) / n; }

using Shade2D = std::function<Texel(double u, double v)>;
using ShadeCube = std::function<Texel(double x, double y, double z)>;

void AppendTexel(std::vector<uint8_t>& out, const Layout& l, const Texel& t) {
    uint32_t v = Pack(l, t);
    for (uint32_t i = 0; i < l.bits / 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::vector<uint8_t> Image2D(const Layout& l, int size, const Shade2D& shade) {
    std::vector<uint8_t> out = Header(l, size, size, false);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) AppendTexel(out, l, shade(Centre(x, size), Centre(y, size)));
    return out;
}

// Six faces in the order +X, -X, +Y, -Y, +Z, -Z; each texel is shaded by the
// direction it stands for, in the cube-map convention the device samples by
// (s to the right, t downwards).
std::vector<uint8_t> ImageCube(const Layout& l, int size, const ShadeCube& shade) {
    std::vector<uint8_t> out = Header(l, size, size, true);
    for (int face = 0; face < 6; ++face)
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                double s = 2.0 * Centre(x, size) - 1.0, t = 2.0 * Centre(y, size) - 1.0;
                double d[6][3] = {{1, -t, -s}, {-1, -t, s}, {s, 1, t}, {s, -1, -t}, {s, -t, 1}, {-s, -t, -1}};
                AppendTexel(out, l, shade(d[face][0], d[face][1], d[face][2]));
            }
    return out;
}

// Lighting table: u is N.L and v is N.H, both mapped from -1..1 to 0..1; red
// holds the Lambert diffuse term, green the Blinn specular term (exponent 32,
// none where the surface faces away from the light). Every race and the blinn
// variant share this table.
Texel Lighting(double u, double v) {
    double nl = 2.0 * u - 1.0, nh = 2.0 * v - 1.0;
    double diffuse = std::max(0.0, nl);
    double specular = nl > 0.0 ? std::pow(std::max(0.0, nh), 32.0) : 0.0;
    return {diffuse, specular, 0.0};
}

// x^(y * k): u is the base, v the exponent scaled by the largest exponent.
Texel Pow(double u, double v) {
    double p = std::pow(u, v * kLookupPowMaxExponent);
    return {p, p, p};
}

// z of the unit normal whose x and y the square spans from -1 to 1; 0 outside
// the unit circle.
Texel DeriveZ(double u, double v) {
    double x = 2.0 * u - 1.0, y = 2.0 * v - 1.0;
    double z = std::sqrt(std::max(0.0, 1.0 - x * x - y * y));
    return {z, z, z};
}

Texel Normalise(double x, double y, double z) {
    double n = std::sqrt(x * x + y * y + z * z);
    return {x / n * 0.5 + 0.5, y / n * 0.5 + 0.5, z / n * 0.5 + 0.5};
}

struct Generated {
    LookupTextureFile file;
    std::function<std::vector<uint8_t>()> bytes;
};

std::vector<Generated> Everything() {
    std::vector<Generated> g;
    auto add2D = [&](std::string name, const Layout& l, int size, Shade2D shade) {
        g.push_back({{std::move(name), size, false}, [l, size, shade] { return Image2D(l, size, shade); }});
    };
    auto addCube = [&](std::string name, const Layout& l, int size, ShadeCube shade) {
        g.push_back({{std::move(name), size, true}, [l, size, shade] { return ImageCube(l, size, shade); }});
    };
    for (const char* blinn : {"", "_blinn"})
        for (const char* race : S_LightingTextureNames) {
            std::string base = std::string(race) + "_lighting" + blinn;
            add2D(base + "_G16R16", kG16R16, kLookupLightingSize, Lighting);
            add2D(base + "_XRGB8", kX8R8G8B8, kLookupLightingSize, Lighting);
        }
    add2D("pow_L8", kL8, kLookupPowSize, Pow);
    add2D("pow_L16", kL16, kLookupPowSize, Pow);
    add2D("derive_z_L8", kL8, kLookupDeriveZSize, DeriveZ);
    add2D("derive_z_L16", kL16, kLookupDeriveZSize, DeriveZ);
    // A16B16G16R16 is no texture format of the device, so the device never
    // asks for "normalize_16bit_ABGR".
    addCube("normalize_10bit_ABGR", kA2B10G10R10, kLookupNormalizeSize, Normalise);
    addCube("normalize_10bit_ARGB", kA2R10G10B10, kLookupNormalizeSize, Normalise);
    addCube("normalize_8bit", kX8R8G8B8, kLookupNormalizeSize, Normalise);
    // Opaque white and black.
    add2D("fx_WhiteDummy", kA8R8G8B8, kLookupDummySize, [](double, double) { return Texel{1, 1, 1}; });
    add2D("fx_BlackDummy", kA8R8G8B8, kLookupDummySize, [](double, double) { return Texel{0, 0, 0}; });
    addCube("fx_BlackDummyCube", kA8R8G8B8, kLookupDummySize, [](double, double, double) { return Texel{0, 0, 0}; });
    return g;
}

}  // namespace

std::vector<LookupTextureFile> Lookup_TextureFiles() {
    std::vector<LookupTextureFile> files;
    for (const Generated& g : Everything()) files.push_back(g.file);
    return files;
}

bool Lookup_WriteFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
    FILE* f = std::fopen(path.c_str(), "wb");
    bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (f && std::fclose(f) != 0) ok = false;
    if (!ok && error) *error = path + ": " + std::strerror(errno);
    return ok;
}

bool Lookup_WriteTextures(const std::string& folder, std::string* error) {
    for (const Generated& g : Everything())
        if (!Lookup_WriteFile(folder + "/" + g.file.name + ".dds", g.bytes(), error)) return false;
    return true;
}

namespace {

int MipLevelCount(int width, int height, bool mipLevels) {
    int levels = 1;
    if (mipLevels)
        for (int w = width, h = height; w > 1 || h > 1; w = std::max(1, w / 2), h = std::max(1, h / 2)) ++levels;
    return levels;
}

// Appends each level of the picture, from its 2 x 2 averages down, as
// `encode` turns a level's texels (blue, green, red, unused: the byte order
// of X8R8G8B8 in memory) into the file's bytes.
template <typename Encode>
void AppendLevels(std::vector<uint8_t>& out, int width, int height, const std::vector<uint32_t>& rgb, int levels,
                  Encode encode) {
    std::vector<uint8_t> level;
    for (uint32_t c : rgb) {
        level.push_back(static_cast<uint8_t>(c));
        level.push_back(static_cast<uint8_t>(c >> 8));
        level.push_back(static_cast<uint8_t>(c >> 16));
        level.push_back(0xFF);
    }
    UINT w = static_cast<UINT>(width), h = static_cast<UINT>(height);
    for (int l = 0; l < levels; ++l) {
        if (l > 0) {
            level = D3DX_HalveBgra(level, w, h);
            w = std::max(1u, w / 2);
            h = std::max(1u, h / 2);
        }
        const std::vector<uint8_t> bytes = encode(level, w, h);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
}

}  // namespace

std::vector<uint8_t> Lookup_DdsPicture(int width, int height, const std::vector<uint32_t>& rgb, bool mipLevels) {
    const int levels = MipLevelCount(width, height, mipLevels);
    std::vector<uint8_t> out = Header(kX8R8G8B8, width, height, false, levels);
    AppendLevels(out, width, height, rgb, levels, [](const std::vector<uint8_t>& level, UINT, UINT) { return level; });
    return out;
}

std::vector<uint8_t> Lookup_DdsDxt1Picture(int width, int height, const std::vector<uint32_t>& rgb, bool mipLevels) {
    const int levels = MipLevelCount(width, height, mipLevels);
    std::vector<uint8_t> out = Header(kX8R8G8B8, width, height, false, levels);
    // A compressed surface names its format by code and gives the first
    // level's size in place of a row pitch; it has no masks.
    constexpr uint32_t kPfFourCC = 0x4, kLinearSize = 0x80000, kPitch = 0x8;
    uint32_t flags = 0;
    std::memcpy(&flags, out.data() + 8, 4);
    Put32(out, 8, (flags & ~kPitch) | kLinearSize);
    Put32(out, 20, static_cast<uint32_t>(std::max(1, (width + 3) / 4) * std::max(1, (height + 3) / 4) * 8));
    Put32(out, 80, kPfFourCC);
    std::memcpy(out.data() + 84, "DXT1", 4);
    for (size_t at : {88, 92, 96, 100, 104}) Put32(out, at, 0);
    AppendLevels(out, width, height, rgb, levels,
                 [](const std::vector<uint8_t>& level, UINT w, UINT h) { return D3DX_CompressDXT1(level, w, h); });
    return out;
}

std::vector<uint8_t> Lookup_DdsAlphaPicture(int width, int height, const std::vector<uint32_t>& argb) {
    std::vector<uint8_t> out = Header(kA8R8G8B8, width, height, false, 1);
    // Blue, green, red, alpha: the byte order of A8R8G8B8 in memory.
    for (uint32_t c : argb)
        out.insert(out.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c >> 16),
                               static_cast<uint8_t>(c >> 24)});
    return out;
}
