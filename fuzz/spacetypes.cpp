// The space simulation's types files: the first byte picks the file (the
// core files, then the tables by main type), the rest is its text; the other
// files are present and empty. The whole database is loaded; backgrounds are
// written back and must load back to the same records.
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "base/general.h"
#include "base/texcache.h"
#include "fuzz/harness/harness.h"
#include "scene/names.h"
#include "scene/state.h"
#include "space/typesdb.h"
#include "tools/lib/types_writer.h"

namespace {

const char* const kCoreFiles[] = {"Globals", "Videos",     "VideoLists", "Dummies",
                                  "Bodies",  "Components", "Matches",    "WareLists"};

// The files an input can stand for, in the order its first byte picks them.
std::vector<std::string> Files() {
    std::vector<std::string> files(std::begin(kCoreFiles), std::end(kCoreFiles));
    for (int32_t m = 0; m < SA_MAIN_TYPE_COUNT; ++m)
        if (const char* name = SA_TypesFileName(m)) files.emplace_back(name);
    return files;
}

// The empty set: every file present, nothing in it.
std::string EmptySource() {
    std::string s =
        "[Globals]\n[Videos]\n[VideoLists]\n[Dummies]\nSDTYPE_DOCK\n[Bodies]\nSBTYPE_LOGO\n"
        "[Components]\nSCTYPE_LASER\n[Matches]\nSMTYPE_MINE NULL\n[WareLists]\n";
    for (int32_t m = 0; m < SA_MAIN_TYPE_COUNT; ++m)
        if (const char* name = SA_TypesFileName(m)) s += "[" + std::string(name) + " 47]\n";
    return s;
}

struct Background {
    std::vector<int32_t> fields;
    std::string name, nebula;
};

std::vector<Background> Backgrounds() {
    std::vector<Background> out;
    for (int32_t s = 0; s < g_TypeDB.counts[SA_MT_BACKGROUND]; ++s) {
        const TypeRecord& t = g_TypeDB.types[SA_MT_BACKGROUND][s];
        out.push_back({std::vector<int32_t>(t.field, t.field + SA_TYPE_FIELD_COUNT), t.name ? t.name : "",
                       t.backgroundName ? t.backgroundName : ""});
    }
    return out;
}

bool operator==(const Background& a, const Background& b) {
    return a.fields == b.fields && a.name == b.name && a.nebula == b.nebula;
}

// The text of each file of the empty set.
std::map<std::string, std::string> EmptyTexts() {
    std::vector<ToolTypesFile> parsed;
    std::string error;
    if (!Tool_ParseTypesSource(EmptySource(), &parsed, &error)) __builtin_trap();
    std::map<std::string, std::string> texts;
    for (const ToolTypesFile& f : parsed)
        if (!Tool_TypesText(f, &texts[f.name], &error)) __builtin_trap();
    return texts;
}

void WriteEmpty(const std::map<std::string, std::string>& texts, const std::string& file) {
    const std::string& text = texts.at(file);
    Fuzz_WriteFile("types/" + file + ".txt", reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    static const std::vector<std::string> files = Files();
    static const std::map<std::string, std::string> empty = EmptyTexts();
    static const bool written = [] {
        for (const auto& [file, text] : empty) WriteEmpty(empty, file);
        return true;
    }();
    (void)written;
    if (size < 1) return 0;
    const std::string& file = files[data[0] % files.size()];
    const std::string name = "types/" + file + ".txt";
    Fuzz_WriteFile(name, data + 1, size - 1);
    {
        FuzzMemoryGuard guard;
        Fuzz_NewSceneState();
        SpaceRoot root{};
        SA_LoadObjectDB(&root);
        const std::vector<Background> before = Backgrounds();
        if (!before.empty() && SA_SaveBackgroundTypes()) {
            SA_FreeObjectDB();
            SA_LoadObjectDB(&root);
            if (!(Backgrounds() == before)) __builtin_trap();
        }
        SA_FreeObjectDB();
        TC_FreeTextureTables();
        g_TCNumberedCount = g_TCNamedCount = 0;
        B3D_ForgetMenuTextures();
        B3D_FreeStore();
    }
    // The files written go back to their empty form for the next input.
    WriteEmpty(empty, file);
    WriteEmpty(empty, "TBackgrounds");
    return 0;
}
