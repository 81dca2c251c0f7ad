// The fixed lookup textures the shaders sample, made by our own code as DDS
// files: lighting tables, pow, derive_z, normalisation cubes and the dummies.
// lookupgen writes them into the demo folder; tests write them into game
// folders of their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct LookupTextureFile {
    std::string name;  // file name without ".dds"
    int size;          // width and height (edge of a face for a cube)
    bool cube;
};

// Edges of the generated textures.
constexpr int kLookupLightingSize = 64;
constexpr int kLookupPowSize = 128;
constexpr int kLookupDeriveZSize = 64;
constexpr int kLookupNormalizeSize = 16;
constexpr int kLookupDummySize = 4;
// The specular exponent range of the pow table: row y holds x^(y * k).
constexpr double kLookupPowMaxExponent = 64.0;

// Every file written, in a fixed order.
std::vector<LookupTextureFile> Lookup_TextureFiles();

// Writes every file into the folder (which must exist); false with a reason in
// *error.
bool Lookup_WriteTextures(const std::string& folder, std::string* error);

// A picture as an X8R8G8B8 DDS file: width x height texels 0xRRGGBB, rows top
// first; with mipLevels the whole chain down to 1 x 1, each level the 2 x 2
// average the texture loader makes for pictures without one.
std::vector<uint8_t> Lookup_DdsPicture(int width, int height, const std::vector<uint32_t>& rgb, bool mipLevels);
// The same picture as a DXT1 DDS file (the compressed form the texture cache
// asks for opaque textures), each level compressed from its 2 x 2 average.
std::vector<uint8_t> Lookup_DdsDxt1Picture(int width, int height, const std::vector<uint32_t>& rgb, bool mipLevels);
// A picture with alpha as an A8R8G8B8 DDS file, one level: texels 0xAARRGGBB, rows top first.
std::vector<uint8_t> Lookup_DdsAlphaPicture(int width, int height, const std::vector<uint32_t>& argb);
// Writes bytes to a file; false with a reason in *error.
bool Lookup_WriteFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);
