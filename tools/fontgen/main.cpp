// fontgen: renders the demo's bitmap fonts from DejaVu Sans (Debian's
// fonts-dejavu-core) into the engine's font files (tools/lib/font_maker.h):
// "Tahoma13", the cockpit's HUD font, and the sizes 10, 16 and 20 of the same
// family for the stories. Usage: fontgen FOLDER [FONT.ttf]
#include <cstdio>
#include <string>

#include "tools/lib/font_maker.h"

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: fontgen FOLDER [FONT.ttf]\n");
        return 2;
    }
    const std::string ttf = argc == 3 ? argv[2] : "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    for (int height : {10, 13, 16, 20}) {
        std::string error;
        if (!Font_Write(argv[1], "Tahoma" + std::to_string(height), ttf, height, &error)) {
            std::fprintf(stderr, "fontgen: %s\n", error.c_str());
            return 1;
        }
    }
    return 0;
}
