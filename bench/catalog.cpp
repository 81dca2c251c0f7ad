// Reading every member of a 100 MB catalog through the file layer against a
// plain read of its data file. The catalog is generated in a temporary game
// folder when the program starts.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/catalog.h"
#include "base/file.h"
#include "base/general.h"
#include "base/memory.h"
#include "bench/ratios.h"
#include "tools/lib/catalog_writer.h"

namespace {

constexpr size_t TOTAL = 100u << 20;

struct Fixture {
    std::string folder, oldCwd;
    std::vector<std::string> names;
    size_t total = 0;
    AppDescriptor app{};
    std::vector<char*> argv;

    Fixture() {
        char tmpl[] = "/tmp/trevan-bench-catalog-XXXXXX";
        folder = mkdtemp(tmpl);
        oldCwd = std::filesystem::current_path().string();
        std::filesystem::current_path(folder);

        uint64_t x = 0x2545F4914F6CDD1Dull;
        auto next = [&]() {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            return x;
        };
        std::vector<ToolCatalogMember> members;
        while (total < TOTAL) {
            size_t size = 4096 + next() % (256 * 1024);
            if (total + size > TOTAL) size = TOTAL - total;
            ToolCatalogMember m;
            m.name = "data\\part" + std::to_string(members.size()) + ".bin";
            m.data.resize(size);
            for (size_t i = 0; i + 8 <= size; i += 8) {
                uint64_t v = next();
                memcpy(&m.data[i], &v, 8);
            }
            total += size;
            names.push_back(m.name);
            members.push_back(std::move(m));
        }
        std::string error;
        if (!Tool_WriteCatalog("01.cat", members, &error)) fprintf(stderr, "%s\n", error.c_str());
        members.clear();

        app.appName = "TrevanBench";
        app.primaryCatalog = "%02d.cat";
        app.modCatalog = "mods\\%s.cat";
        app.captureFolder = "screenshots";
        static char program[] = "bench";
        argv = {program, nullptr};
        InitGeneral(1, &app, argv.data());
        fprintf(stderr, "catalog bench: %zu members, %zu bytes\n", names.size(), total);
    }
    ~Fixture() {
        ExitGeneral(0);
        std::error_code ec;
        std::filesystem::current_path(oldCwd, ec);
        std::filesystem::remove_all(folder, ec);
    }
};

Fixture& F() {
    static Fixture f;
    return f;
}

// Every member whole, through Qel_LoadFile (catalog lookup, open, read, descramble).
void BM_Catalog_LoadEveryMember(benchmark::State& state) {
    Fixture& f = F();
    size_t bytes = 0;
    for (auto _ : state) {
        for (const std::string& n : f.names) {
            void* p = Qel_LoadFile(n.c_str());
            if (!p) {
                state.SkipWithError("member missing");
                return;
            }
            bytes += g_QelLastFileSize;
            Int_FreeMem(p, g_QelLastFileSize, 0);
        }
    }
    state.SetBytesProcessed(int64_t(bytes));
    state.counters["members"] = double(f.names.size());
}
BENCHMARK(BM_Catalog_LoadEveryMember)->Unit(benchmark::kMillisecond);

// Every member through Qel_fopen / Qel_fread into one reused buffer.
void BM_Catalog_ReadEveryMember(benchmark::State& state) {
    Fixture& f = F();
    std::vector<uint8_t> buf(1 << 20);
    size_t bytes = 0;
    for (auto _ : state) {
        for (const std::string& n : f.names) {
            QelFile* q = Qel_fopen(n.c_str(), "rb", 0);
            if (!q) {
                state.SkipWithError("member missing");
                return;
            }
            size_t got;
            while ((got = Qel_fread(q, 1, buf.size(), buf.data())) > 0) bytes += got;
            Qel_fclose(q);
        }
    }
    state.SetBytesProcessed(int64_t(bytes));
}
BENCHMARK(BM_Catalog_ReadEveryMember)->Unit(benchmark::kMillisecond);

// The data file read plainly in 1 MB blocks, bytes left scrambled.
void BM_Plain_ReadDataFile(benchmark::State& state) {
    F();
    std::vector<uint8_t> buf(1 << 20);
    size_t bytes = 0;
    for (auto _ : state) {
        FILE* fp = fopen("01.dat", "rb");
        size_t got;
        while ((got = fread(buf.data(), 1, buf.size(), fp)) > 0) bytes += got;
        fclose(fp);
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(int64_t(bytes));
}
BENCHMARK(BM_Plain_ReadDataFile)->Unit(benchmark::kMillisecond);

// The same with the bytes descrambled, as the members are.
void BM_Plain_ReadDataFileDescrambled(benchmark::State& state) {
    F();
    std::vector<uint8_t> buf(1 << 20);
    size_t bytes = 0;
    for (auto _ : state) {
        FILE* fp = fopen("01.dat", "rb");
        size_t got;
        while ((got = fread(buf.data(), 1, buf.size(), fp)) > 0) {
            for (size_t i = 0; i < got; ++i) buf[i] ^= QEL_CATALOG_MEMBER_KEY;
            bytes += got;
        }
        fclose(fp);
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(int64_t(bytes));
}
BENCHMARK(BM_Plain_ReadDataFileDescrambled)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return bench_ratios::Main(argc, argv,
                              {{"BM_Catalog_LoadEveryMember", "BM_Plain_ReadDataFileDescrambled", "<= 1.05"},
                               {"BM_Catalog_ReadEveryMember", "BM_Plain_ReadDataFileDescrambled", "<= 1.05"},
                               {"BM_Catalog_LoadEveryMember", "BM_Plain_ReadDataFile", "(plain read)"}});
}
