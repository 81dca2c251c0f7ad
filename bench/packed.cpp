// The packed-file inflater against zlib's inflate and libdeflate on the same
// 8 MB of mixed data. Throughput is in uncompressed bytes unless noted;
// "Scrambled" runs include descrambling the input, BM_Descramble measures it alone.
// The Subset benchmarks split the mix: its text alone (mostly short matches)
// and its numbers and noise alone (mostly literals), 2 MB each.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/memory.h"
#include "base/packed.h"
#include "bench/ratios.h"
#include "tools/lib/packed_writer.h"

namespace {

constexpr size_t DATA_SIZE = 8u << 20;
constexpr uint8_t KEY = 0x5A;

enum class Mix { All, Text, Bytes };

// Text, small numbers, noise and runs: what data files look like.
std::vector<uint8_t> MixedData(size_t size, Mix mix) {
    static const char* words[] = {"ship", "station", "sector", "laser",   "shield",    "0x1F;",
                                  "-12;", "NAME:",   "\r\n",   "POINTS:", "1.500000;", "Material6"};
    uint64_t x = 0x9E3779B97F4A7C15ull;
    auto next = [&]() {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return uint32_t(x);
    };
    std::vector<uint8_t> out;
    out.reserve(size + 1024);
    while (out.size() < size) {
        const uint32_t pick = next();
        switch (mix == Mix::All ? pick % 8 : mix == Mix::Text ? 0 : 4 + pick % 3) {
            case 0:
            case 1:
            case 2:
            case 3:
                for (int i = 0; i < 40; ++i) {
                    const char* w = words[next() % 12];
                    out.insert(out.end(), w, w + strlen(w));
                    out.push_back(' ');
                }
                break;
            case 4:
            case 5:
                for (int i = 0; i < 64; ++i) {
                    uint32_t v = next() % 1000;
                    out.push_back(uint8_t(v >> 8));
                    out.push_back(uint8_t(v));
                }
                break;
            case 6:
                for (int i = 0; i < 128; ++i) out.push_back(uint8_t(next()));
                break;
            default: out.insert(out.end(), 20 + next() % 300, uint8_t(next())); break;
        }
    }
    out.resize(size);
    return out;
}

// Raw DEFLATE, zlib level 6.
std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> raw(deflateBound(&z, uLong(data.size())));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = raw.data();
    z.avail_out = uInt(raw.size());
    deflate(&z, Z_FINISH);
    raw.resize(z.total_out);
    deflateEnd(&z);
    return raw;
}

struct Subset {
    std::vector<uint8_t> data, raw;
    explicit Subset(Mix mix) : data(MixedData(DATA_SIZE / 4, mix)), raw(Deflate(data)) {}
};

struct Fixture {
    std::vector<uint8_t> data;
    std::vector<uint8_t> raw;        // raw DEFLATE, zlib level 6
    std::vector<uint8_t> scrambled;  // raw DEFLATE XOR KEY
    std::string folder;
    Subset text{Mix::Text}, bytes{Mix::Bytes};

    Fixture() {
        data = MixedData(DATA_SIZE, Mix::All);
        raw = Deflate(data);
        scrambled = raw;
        for (uint8_t& b : scrambled) b ^= KEY;

        char tmpl[] = "/tmp/trevan-bench-packed-XXXXXX";
        folder = mkdtemp(tmpl);
        std::string error;
        Tool_WritePackedFile(folder + "/data.pck", data, KEY, &error);
        fprintf(stderr, "packed bench: %zu bytes, deflate %zu bytes (%.1f%%)\n", data.size(), raw.size(),
                100.0 * double(raw.size()) / double(data.size()));
    }
    ~Fixture() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

Fixture& F() {
    static Fixture f;
    return f;
}

void Check(bool ok, benchmark::State& state) {
    if (!ok) state.SkipWithError("output differs");
}

// Our inflater and libdeflate's over the same raw stream into a reused
// output of the right size, neither checking a checksum.
void InflateRows(benchmark::State& state, const std::vector<uint8_t>& raw, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out(data.size());
    for (auto _ : state) {
        size_t n = 0;
        Qel_InflateRaw(raw.data(), raw.size(), 0, out.data(), out.size(), &n);
        benchmark::DoNotOptimize(out.data());
    }
    Check(out == data, state);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

void LibdeflateRows(benchmark::State& state, const std::vector<uint8_t>& raw, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out(data.size());
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    for (auto _ : state) {
        size_t n = 0;
        libdeflate_deflate_decompress(d, raw.data(), raw.size(), out.data(), out.size(), &n);
        benchmark::DoNotOptimize(out.data());
    }
    libdeflate_free_decompressor(d);
    Check(out == data, state);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

void BM_QelInflate(benchmark::State& state) { InflateRows(state, F().raw, F().data); }
BENCHMARK(BM_QelInflate)->Unit(benchmark::kMillisecond);

void BM_QelInflate_Scrambled(benchmark::State& state) {
    Fixture& f = F();
    std::vector<uint8_t> out(f.data.size());
    for (auto _ : state) {
        size_t n = 0;
        Qel_InflateRaw(f.scrambled.data(), f.scrambled.size(), KEY, out.data(), out.size(), &n);
        benchmark::DoNotOptimize(out.data());
    }
    Check(out == f.data, state);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.data.size()));
}
BENCHMARK(BM_QelInflate_Scrambled)->Unit(benchmark::kMillisecond);

// Descrambling alone, over the compressed bytes (throughput in compressed bytes).
void BM_Descramble(benchmark::State& state) {
    Fixture& f = F();
    std::vector<uint8_t> buf(f.scrambled.size());
    for (auto _ : state) {
        for (size_t i = 0; i < buf.size(); ++i) buf[i] = uint8_t(f.scrambled[i] ^ KEY);
        benchmark::DoNotOptimize(buf.data());
    }
    Check(buf == f.raw, state);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.scrambled.size()));
}
BENCHMARK(BM_Descramble)->Unit(benchmark::kMillisecond);

bool ZlibInflate(const uint8_t* in, size_t n, std::vector<uint8_t>& out) {
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = uInt(n);
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    int r = inflate(&z, Z_FINISH);
    inflateEnd(&z);
    return r == Z_STREAM_END;
}

void BM_ZlibInflate(benchmark::State& state) {
    Fixture& f = F();
    std::vector<uint8_t> out(f.data.size());
    for (auto _ : state) {
        ZlibInflate(f.raw.data(), f.raw.size(), out);
        benchmark::DoNotOptimize(out.data());
    }
    Check(out == f.data, state);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.data.size()));
}
BENCHMARK(BM_ZlibInflate)->Unit(benchmark::kMillisecond);

// zlib cannot descramble as it reads: a separate pass first.
void BM_ZlibInflate_Scrambled(benchmark::State& state) {
    Fixture& f = F();
    std::vector<uint8_t> out(f.data.size());
    std::vector<uint8_t> plain(f.scrambled.size());
    for (auto _ : state) {
        for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(f.scrambled[i] ^ KEY);
        ZlibInflate(plain.data(), plain.size(), out);
        benchmark::DoNotOptimize(out.data());
    }
    Check(out == f.data, state);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.data.size()));
}
BENCHMARK(BM_ZlibInflate_Scrambled)->Unit(benchmark::kMillisecond);

void BM_Libdeflate(benchmark::State& state) { LibdeflateRows(state, F().raw, F().data); }
BENCHMARK(BM_Libdeflate)->Unit(benchmark::kMillisecond);

const Subset& Part(Mix mix) { return mix == Mix::Text ? F().text : F().bytes; }

void BM_QelInflateSubset(benchmark::State& state, Mix mix) { InflateRows(state, Part(mix).raw, Part(mix).data); }
BENCHMARK_CAPTURE(BM_QelInflateSubset, text, Mix::Text)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_QelInflateSubset, bytes, Mix::Bytes)->Unit(benchmark::kMicrosecond);

void BM_LibdeflateSubset(benchmark::State& state, Mix mix) { LibdeflateRows(state, Part(mix).raw, Part(mix).data); }
BENCHMARK_CAPTURE(BM_LibdeflateSubset, text, Mix::Text)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_LibdeflateSubset, bytes, Mix::Bytes)->Unit(benchmark::kMicrosecond);

// The whole unpacker on a packed file: reading through the file layer,
// header, descrambling, inflating and the CRC check.
void BM_QelUnpack_File(benchmark::State& state) {
    Fixture& f = F();
    std::string name = f.folder + "/data.pck";
    bool ok = true;
    for (auto _ : state) {
        void* p = Qel_Unpack(name.c_str(), 0);
        ok = ok && p && g_QelLastFileSize == f.data.size() && memcmp(p, f.data.data(), f.data.size()) == 0;
        if (p) Int_FreeMem(p, g_QelLastFileSize, 0);
    }
    Check(ok, state);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.data.size()));
}
BENCHMARK(BM_QelUnpack_File)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return bench_ratios::Main(
        argc, argv,
        {{"BM_QelInflate", "BM_Libdeflate", "<= 1.25"},
         {"BM_QelInflate", "BM_ZlibInflate", "(zlib)"},
         {"BM_QelInflateSubset/text", "BM_LibdeflateSubset/text", "(text: short matches)"},
         {"BM_QelInflateSubset/bytes", "BM_LibdeflateSubset/bytes", "(numbers and noise: literals)"},
         {"BM_QelInflate_Scrambled", "BM_ZlibInflate_Scrambled", "(zlib, scrambled)"}});
}
