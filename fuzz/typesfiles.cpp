// The scene engine's types files: the first byte picks the loader, the rest
// is its text file. Every input gets a fresh scene state and texture table,
// freed again before the memory books are checked.
#include <cstdint>
#include <string>

#include "base/general.h"
#include "base/texcache.h"
#include "fuzz/harness/harness.h"
#include "scene/dummies.h"
#include "scene/names.h"
#include "scene/state.h"
#include "scene/typesfiles.h"

namespace {

struct Loader {
    const char* file;
    int32_t (*load)();
};

const Loader kLoaders[] = {
    {"CutData", B3DB_LoadCutData},
    {"BodyData", B3DB_LoadBodyData},
    {"LightTypes", B3DB_LoadLightTypeList},
    {"Particles3", B3DB_LoadParticleDescription},
    {"Skins", B3DB_LoadSkins},
    {"IconData", B3DB_LoadIconData},
    {"BodyDummies", B3DB_LoadBodyDummies},
    {"Lensflares", B3DB_LoadLensflares},
    {"Materials", B3DB_LoadMaterials},
};
constexpr size_t kLoaderCount = sizeof kLoaders / sizeof kLoaders[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    if (size < 1) return 0;
    if (!g_SystemState->fontScale) g_SystemState->fontScale = 1;
    const Loader& loader = kLoaders[data[0] % kLoaderCount];
    const std::string name = std::string("types/") + loader.file + ".txt";
    Fuzz_WriteFile(name, data + 1, size - 1);
    {
        FuzzMemoryGuard guard;
        Fuzz_NewSceneState();
        loader.load();
        B3DB_FreeMaterials();
        TC_FreeTextureTables();
        g_TCNumberedCount = g_TCNamedCount = 0;
        B3D_ForgetMenuTextures();
        B3D_FreeStore();
    }
    Fuzz_RemoveFile(name);
    return 0;
}
