// lookupgen: writes the fixed lookup textures the shaders sample (lighting
// tables, pow, derive_z, normalisation cubes, dummies) as DDS files into a
// folder. Usage: lookupgen FOLDER.
#include <cstdio>
#include <string>

#include "tools/lib/lookup_textures.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lookupgen FOLDER\n");
        return 2;
    }
    std::string error;
    if (!Lookup_WriteTextures(argv[1], &error)) {
        std::fprintf(stderr, "lookupgen: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
