// demogen: writes the demo game's art: the model and cut sources of its bodies
// and cuts (bodyconv turns them into the folder's "v" and "cut" files) and its
// textures as DXT1 DDS files. Usage: demogen SOURCES_FOLDER DDS_FOLDER
#include <cstdio>
#include <string>

#include "tools/lib/demo_art.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: demogen SOURCES_FOLDER DDS_FOLDER\n");
        return 2;
    }
    std::string error;
    if (!DemoArt_WriteSources(argv[1], &error) || !DemoArt_WritePictures(argv[2], &error)) {
        std::fprintf(stderr, "demogen: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
