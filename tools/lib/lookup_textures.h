// The fixed lookup textures the shaders sample, made by our own code as DDS
// files: lighting tables, pow, derive_z, normalisation cubes and the dummies.
// lookupgen writes them into the demo folder; tests write them into game
// folders of their own.
#pragma once

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
