// bodyconv: model sources to text bodies, text bodies to binary bodies through
// the engine's own reader and writer, packed forms, and readable dumps.
//   bodyconv text <source> <output.bod>
//   bodyconv bin <id>           in the game folder: v/<id>.bod to v/<id>.bob
//   bodyconv pack <input> <output> [key 0..255]
//   bodyconv dump <id>          v/<id>.bob as text
//   bodyconv cuttext <source> <output.bod>
//   bodyconv cutbin <source> <id> [5|6]   in the game folder: cut/<id>.bob
//   bodyconv cutdump <id>       cut/<id>.bob (else cut/<id>.bod) as text
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/general.h"
#include "base/table.h"
#include "base/texcache.h"
#include "scene/bodybin.h"
#include "scene/bodyrecord.h"
#include "scene/cutfiles.h"
#include "scene/ids.h"
#include "scene/state.h"
#include "tools/lib/bodyconv.h"
#include "tools/lib/cutconv.h"
#include "tools/lib/packed_writer.h"

namespace {
int Usage() {
    fprintf(stderr,
            "usage: bodyconv text <source> <output.bod>\n"
            "       bodyconv bin <id>\n"
            "       bodyconv pack <input> <output> [key 0..255]\n"
            "       bodyconv dump <id>\n"
            "       bodyconv cuttext <source> <output.bod>\n"
            "       bodyconv cutbin <source> <id> [5|6]\n"
            "       bodyconv cutdump <id>\n");
    return 2;
}

bool ReadFile(const char* name, std::vector<uint8_t>* data) {
    std::ifstream in(name, std::ios::binary);
    if (!in) return false;
    data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// Reads a source file, converts it and writes the text; 0, or 1 after a line
// on standard error.
using TextConverter = bool (*)(const std::string& source, std::string* text, std::string* error);
int ConvertToText(const char* input, const char* output, TextConverter convert) {
    std::vector<uint8_t> src;
    if (!ReadFile(input, &src)) {
        fprintf(stderr, "bodyconv: cannot read %s\n", input);
        return 1;
    }
    std::string text, error;
    if (!convert(std::string(src.begin(), src.end()), &text, &error)) {
        fprintf(stderr, "bodyconv: %s: %s\n", input, error.c_str());
        return 1;
    }
    std::ofstream out(output, std::ios::binary);
    out << text;
    if (!out.flush()) {
        fprintf(stderr, "bodyconv: cannot write %s\n", output);
        return 1;
    }
    return 0;
}

// The engine's scene state, as the body readers need it.
struct Engine {
    Engine() {
        g_SystemState = &system;
        g_B3DState = B3D_InitStore();
        B3D_InitBodyIdTable();
        B3D_InitCutIdTable();
        // Texture id 0 means none: named textures follow one numbered slot.
        g_TCNumberedCount = 1;
        TC_AllocTextureTable();
    }
    ~Engine() {
        while (B3DListNode* n = B3D_ListFirst(&g_B3DState->bodies)) B3D_FreeBody(reinterpret_cast<Body3D*>(n));
        TC_FreeTextureTables();
        B3D_FreeStore();
        g_SystemState = nullptr;
    }
    SystemState system{};
};
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string cmd = argv[1];
    std::string error;
    if (cmd == "text" && argc == 4) return ConvertToText(argv[2], argv[3], Tool_ModelToTextBody);
    if (cmd == "pack" && (argc == 4 || argc == 5)) {
        std::vector<uint8_t> data;
        if (!ReadFile(argv[2], &data)) {
            fprintf(stderr, "bodyconv: cannot read %s\n", argv[2]);
            return 1;
        }
        const int key = argc == 5 ? atoi(argv[4]) : 0x5A;
        if (key < 0 || key > 255) return Usage();
        if (!Tool_WritePackedFile(argv[3], data, uint8_t(key), &error)) {
            fprintf(stderr, "bodyconv: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if ((cmd == "bin" || cmd == "dump") && argc == 3) {
        Engine engine;
        const int id = atoi(argv[2]);
        if (cmd == "bin") {
            if (Tool_BodyTextToBinary(id, &error)) return 0;
            fprintf(stderr, "bodyconv: %s\n", error.c_str());
            return 1;
        }
        Body3D* body = B3D_LoadBodyBin(nullptr, id);
        if (!body) {
            fprintf(stderr, "bodyconv: cannot read the binary body %d\n", id);
            return 1;
        }
        fputs(Tool_DumpBody(body).c_str(), stdout);
        B3D_FreeBody(body);
        return 0;
    }
    if (cmd == "cuttext" && argc == 4) return ConvertToText(argv[2], argv[3], Tool_CutSourceToText);
    if (cmd == "cutbin" && (argc == 4 || argc == 5)) {
        std::vector<uint8_t> src;
        if (!ReadFile(argv[2], &src)) {
            fprintf(stderr, "bodyconv: cannot read %s\n", argv[2]);
            return 1;
        }
        const int version = argc == 5 ? atoi(argv[4]) : 6;
        if (version != 5 && version != 6) return Usage();
        char file[32];
        snprintf(file, sizeof file, "cut\\%05d.bob", atoi(argv[3]));
        Engine engine;
        if (Tool_WriteBinaryCut(std::string(src.begin(), src.end()), version, file, &error)) return 0;
        fprintf(stderr, "bodyconv: %s: %s\n", argv[2], error.c_str());
        return 1;
    }
    if (cmd == "cutdump" && argc == 3) {
        Engine engine;
        const int id = atoi(argv[2]);
        J3D_Cut* cut = J3D_LoadCutBin(id);
        if (!cut) cut = J3D_LoadCut2(id);
        if (!cut) {
            fprintf(stderr, "bodyconv: cannot read the cut %d\n", id);
            return 1;
        }
        fputs(Tool_DumpCut(cut).c_str(), stdout);
        Qel_TableRemove(g_B3DState->cutTable, uint32_t(id));
        J3D_ReleaseCutMemory(cut);
        return 0;
    }
    return Usage();
}
