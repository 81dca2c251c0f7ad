#include "fuzz/harness/harness.h"

#include "program/startup.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "base/file.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/table.h"
#include "base/texcache.h"
#include "scene/caches.h"
#include "scene/ids.h"
#include "scene/names.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "system/settings.h"
#include "system/video.h"

namespace fs = std::filesystem;

namespace {

std::string s_folder;

const AppDescriptor* FuzzApp() {
    static const AppDescriptor app = [] {
        AppDescriptor a = *P_AppDescriptor();
        a.appName = "TrevanFuzz";
        return a;
    }();
    return &app;
}

void Silent(const char*, size_t, void*) {}

void RemoveFolder() {
    if (s_folder.empty()) return;
    std::error_code ec;
    fs::current_path(fs::temp_directory_path(), ec);
    fs::remove_all(s_folder, ec);
}

}  // namespace

void Fuzz_Init() {
    if (!s_folder.empty()) return;
    const char* scratch = getenv("TREVAN_FUZZ_SCRATCH");
    std::string pattern =
        (scratch && scratch[0] ? std::string(scratch) : fs::temp_directory_path().string()) + "/trevan-fuzz-XXXXXX";
    fs::create_directories(fs::path(pattern).parent_path());
    if (!mkdtemp(pattern.data())) {
        std::perror("fuzz: cannot make the scratch folder");
        std::abort();
    }
    s_folder = pattern;
    std::atexit(RemoveFolder);
    for (const char* sub : {"data", "config", "cache"}) fs::create_directories(s_folder + "/xdg/" + sub);
    setenv("XDG_DATA_HOME", (s_folder + "/xdg/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (s_folder + "/xdg/config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (s_folder + "/xdg/cache").c_str(), 1);
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    setenv("ALSOFT_DRIVERS", "null", 0);
    setenv("LP_NUM_THREADS", "0", 0);
    fs::create_directories(s_folder + "/game");
    fs::current_path(s_folder + "/game");
    const char* log = getenv("TREVAN_FUZZ_LOG");
    if (!(log && log[0] == '1')) Qel_SetLogCapture(Silent, nullptr);
    static char arg0[] = "trevan";
    static char* argv[] = {arg0, nullptr};
    if (!InitGeneral(1, FuzzApp(), argv)) {
        std::fprintf(stderr, "fuzz: the general layer did not start\n");
        std::abort();
    }
    if (log && log[1] == '+') g_SystemState->debugFlags = ~0u;
}

const std::string& Fuzz_Folder() { return s_folder; }

void Fuzz_WriteFile(const std::string& name, const uint8_t* data, size_t size) {
    fs::path p(name);
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    if (!out.good()) {
        std::fprintf(stderr, "fuzz: cannot write %s\n", name.c_str());
        std::abort();
    }
}

void Fuzz_RemoveFile(const std::string& name) {
    std::error_code ec;
    fs::remove(name, ec);
}

std::vector<uint8_t> Fuzz_SaveSection(int (*writer)(QelFile*)) {
    QelFile* f = Qel_fopen("section.sav", "wb", 0);
    const int ok = f && writer(f);
    if (f) Qel_fclose(f);
    std::error_code ec;
    const auto size = ok ? fs::file_size("section.sav", ec) : 0;
    std::vector<uint8_t> bytes(ec ? 0 : size);
    std::ifstream in("section.sav", std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in) bytes.clear();
    return bytes;
}

int Fuzz_LoadSection(int (*reader)(QelFile*), const uint8_t* data, size_t size) {
    Fuzz_WriteFile("section.bin", data, size);
    QelFile* f = Qel_fopen("section.bin", "rb", 0);
    const int loaded = f ? reader(f) : 0;
    if (f) Qel_fclose(f);
    return loaded;
}

FuzzMemory Fuzz_Memory(const SE_Context* ctx) {
    FuzzMemory m{};
    m.used = Int_GetMemUsed();
    for (uint32_t t = 0; t < 128; ++t) m.tags[t] = Int_GetTagMem(t);
    if (ctx) {
        // The id tables keep their bucket arrays once grown (they never
        // shrink): capacity, not a leak, so it is left out of the books.
        for (const QelTable* t : {ctx->taskTable, ctx->instanceTable, ctx->fileTable, ctx->patchTable, ctx->regexpTable,
                                  ctx->stringTable, ctx->arrayTable, ctx->tableTable}) {
            const auto buckets = int64_t(Qel_TableBucketBytes(t));
            m.used -= buckets;
            m.tags[0] -= buckets;
        }
        std::memcpy(m.storyBytes, ctx->memBytes, sizeof m.storyBytes);
        std::memcpy(m.storyBlocks, ctx->memBlocks, sizeof m.storyBlocks);
    }
    return m;
}

FuzzMemoryGuard::FuzzMemoryGuard(const SE_Context* ctx) : ctx_(ctx), before_(Fuzz_Memory(ctx)) {}

FuzzMemoryGuard::~FuzzMemoryGuard() {
    FuzzMemory after = Fuzz_Memory(ctx_);
    bool moved = false;
    auto report = [&](const char* what, int index, int64_t was, int64_t now) {
        if (was == now) return;
        if (index < 0) std::fprintf(stderr, "fuzz: %s moved from %lld to %lld\n", what, (long long)was, (long long)now);
        else std::fprintf(stderr, "fuzz: %s %d moved from %lld to %lld\n", what, index, (long long)was, (long long)now);
        moved = true;
    };
    report("memory in use", -1, before_.used, after.used);
    for (int t = 0; t < 128; ++t) report("memory of tag", t, before_.tags[t], after.tags[t]);
    for (int c = 0; c < SE_MEM_CATEGORIES; ++c) {
        report("story bytes of category", c, before_.storyBytes[c], after.storyBytes[c]);
        report("story blocks of category", c, before_.storyBlocks[c], after.storyBlocks[c]);
    }
    if (moved) std::abort();
}

void Fuzz_Check(bool ok, const char* target, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz %s: %s\n", target, what);
    std::abort();
}

FuzzSplit Fuzz_Split(const uint8_t* data, size_t size) {
    if (size < 2) return {data, 0, data + size, 0};
    size_t first = size_t(data[0]) | size_t(data[1]) << 8;
    if (first > size - 2) first = size - 2;
    return {data + 2, first, data + 2 + first, size - 2 - first};
}

void Fuzz_NewTextureTable() {
    g_TCNumberedCount = 1;
    g_TCNamedCount = 0;
    if (TC_AllocTextureTable()) __builtin_trap();
}

void Fuzz_NewSceneState() {
    g_B3DState = B3D_InitStore();
    if (!g_B3DState || B3D_InitBodyIdTable() != 1 || B3D_InitCutIdTable() != 1) __builtin_trap();
    Fuzz_NewTextureTable();
}

void Fuzz_FreeSceneState() {
    J3D_FreeCutEntry();
    for (QelTable* t : g_B3DState->nameTables) B3D_FreeStringTable(t);
    B3D_FreeStore();
    g_B3DState = nullptr;
    TC_FreeTextureTables();
    g_TCNumberedCount = g_TCNamedCount = 0;
    B3D_ForgetMenuTextures();
}

bool Fuzz_OpenDevice() {
    static int open = -1;
    if (open < 0) {
        SystemState* s = g_SystemState;
        S_InitSystemSettings();
        s->width = 64;
        s->height = 64;
        s->depth = 32;
        s->videoFlags |= 0x8000000;
        open = S_InitVideo(64, 64, 32, 0x8000000) != nullptr;
    }
    return open == 1;
}
