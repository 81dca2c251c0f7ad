// fxbake: writes the ".fb" of one variant of an effect source: the source with
// the variant's macros (each "true", then VRMENGINE) applied by our effect
// preprocessor. Usage: fxbake SOURCE.fx VARIANT OUTPUT.fb (VARIANT in hex).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/d3dx/d3dx9.h"
#include "render/effects.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: fxbake SOURCE.fx VARIANT OUTPUT.fb\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "fxbake: cannot read %s\n", argv[1]);
        return 1;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    char* end = nullptr;
    unsigned long variant = std::strtoul(argv[2], &end, 16);
    if (!end || *end) {
        std::fprintf(stderr, "fxbake: bad variant %s\n", argv[2]);
        return 2;
    }
    std::vector<D3DXMACRO> macros;
    for (const auto& m : S_ShaderVariantMacros)
        if (variant & m.bit) macros.push_back({m.name, "true"});
    macros.push_back({"VRMENGINE", "true"});
    macros.push_back({nullptr, nullptr});
    std::string out, error;
    if (!D3DXPreprocessEffect(ss.str(), macros.data(), &out, &error)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
        return 1;
    }
    std::ofstream o(argv[3], std::ios::binary);
    o << out;
    if (!o.flush()) {
        std::fprintf(stderr, "fxbake: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
