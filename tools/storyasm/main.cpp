// storyasm: compiles the readable form of the story bytecode into a story file.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/lib/storyasm.h"

int main(int argc, char** argv) {
    const char* source = nullptr;
    const char* output = nullptr;
    bool usage = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) output = argv[++i];
        else if (!source) source = argv[i];
        else usage = true;
    }
    if (usage || !source || !output) {
        std::fprintf(stderr, "usage: storyasm SOURCE -o STORY.obj\n");
        return 2;
    }
    std::string error;
    if (!StoryAsm_AssembleFile(source, output, &error)) {
        std::fprintf(stderr, "storyasm: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
