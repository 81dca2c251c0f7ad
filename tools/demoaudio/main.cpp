// demoaudio: writes the demo's sound effects ("S/NNN.wav", one per row of the
// Sounds table in data/types/media.types) and its soundtrack
// ("soundtrack/00010.mp3"), all synthesised (tools/lib/demo_sounds.h).
// Usage: demoaudio FOLDER
#include <cstdio>
#include <string>

#include "tools/lib/demo_sounds.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: demoaudio FOLDER\n");
        return 2;
    }
    std::string error;
    if (!DemoSounds_Write(argv[1], &error)) {
        std::fprintf(stderr, "demoaudio: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
