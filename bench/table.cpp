// QelTable against std::unordered_map on the same keys: set, get, fresh keys
// and a full iteration (of an unchanged table, and after each change); and a
// full iteration of a story's table, key by key as a story walks it.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <unordered_map>
#include <vector>

#include "base/table.h"
#include "bench/ratios.h"
#include "script/modules.h"
#include "script/tables.h"

namespace {

// The same non-zero keys for both containers, spread over the 32-bit range.
std::vector<uint32_t> MakeKeys(size_t n) {
    std::vector<uint32_t> keys;
    keys.reserve(n);
    uint64_t x = 0x243f6a8885a308d3ull;
    while (keys.size() < n) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        uint32_t k = uint32_t(x);
        if (k != 0) keys.push_back(k);
    }
    return keys;
}

void Sizes(benchmark::internal::Benchmark* b) { b->Arg(64)->Arg(4096)->Arg(262144); }

void BM_QelTable_Set(benchmark::State& state) {
    const auto keys = MakeKeys(size_t(state.range(0)));
    for (auto _ : state) {
        QelTable* t = Qel_TableCreate();
        for (uint32_t k : keys) Qel_TableSet(t, k, k);
        benchmark::DoNotOptimize(t->entryCount);
        Qel_TableFree(t);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_UnorderedMap_Set(benchmark::State& state) {
    const auto keys = MakeKeys(size_t(state.range(0)));
    for (auto _ : state) {
        std::unordered_map<uint32_t, uintptr_t> m;
        for (uint32_t k : keys) m[k] = k;
        benchmark::DoNotOptimize(m.size());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_QelTable_Get(benchmark::State& state) {
    const auto keys = MakeKeys(size_t(state.range(0)));
    QelTable* t = Qel_TableCreate();
    for (uint32_t k : keys) Qel_TableSet(t, k, k);
    for (auto _ : state) {
        uintptr_t sum = 0;
        for (uint32_t k : keys) sum += Qel_TableGet(t, k);
        benchmark::DoNotOptimize(sum);
    }
    Qel_TableFree(t);
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_UnorderedMap_Get(benchmark::State& state) {
    const auto keys = MakeKeys(size_t(state.range(0)));
    std::unordered_map<uint32_t, uintptr_t> m;
    for (uint32_t k : keys) m[k] = k;
    for (auto _ : state) {
        uintptr_t sum = 0;
        for (uint32_t k : keys) {
            auto it = m.find(k);
            sum += it == m.end() ? 0 : it->second;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

// Handle tables: n fresh keys into a table already holding n spread keys.
void BM_QelTable_FreshKey(benchmark::State& state) {
    const auto keys = MakeKeys(size_t(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        QelTable* t = Qel_TableCreate();
        for (uint32_t k : keys) Qel_TableSet(t, k & QEL_TABLE_MAX_KEY, k);
        state.ResumeTiming();
        for (int64_t i = 0; i < state.range(0); ++i) benchmark::DoNotOptimize(Qel_TableAdd(t, uintptr_t(i)));
        state.PauseTiming();
        Qel_TableFree(t);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_UnorderedMap_FreshKey(benchmark::State& state) {
    const auto keys = MakeKeys(size_t(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        std::unordered_map<uint32_t, uintptr_t> m;
        for (uint32_t k : keys) m[k & QEL_TABLE_MAX_KEY] = k;
        uint32_t counter = 1;
        state.ResumeTiming();
        for (int64_t i = 0; i < state.range(0); ++i) {
            do {
                if (++counter > QEL_TABLE_MAX_KEY) counter = 1;
            } while (m.count(counter));
            m.emplace(counter, uintptr_t(i));
            benchmark::DoNotOptimize(counter);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_QelTable_Iterate(benchmark::State& state) {
    const auto keys = MakeKeys(size_t(state.range(0)));
    QelTable* t = Qel_TableCreate();
    for (uint32_t k : keys) Qel_TableSet(t, k, k);
    for (auto _ : state) {
        uintptr_t sum = 0;
        for (uint32_t k = Qel_TableNext(t, 0); k != 0; k = Qel_TableNext(t, k)) sum += k;
        benchmark::DoNotOptimize(sum);
    }
    Qel_TableFree(t);
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

// A walk after each change (one key removed and set again): the walk a
// table gives when it is not walked twice in a row unchanged.
void BM_QelTable_IterateChanged(benchmark::State& state) {
    const auto keys = MakeKeys(size_t(state.range(0)));
    QelTable* t = Qel_TableCreate();
    for (uint32_t k : keys) Qel_TableSet(t, k, k);
    for (auto _ : state) {
        Qel_TableRemove(t, keys[0]);
        Qel_TableSet(t, keys[0], keys[0]);
        uintptr_t sum = 0;
        for (uint32_t k = Qel_TableNext(t, 0); k != 0; k = Qel_TableNext(t, k)) sum += k;
        benchmark::DoNotOptimize(sum);
    }
    Qel_TableFree(t);
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_UnorderedMap_Iterate(benchmark::State& state) {
    const auto keys = MakeKeys(size_t(state.range(0)));
    std::unordered_map<uint32_t, uintptr_t> m;
    for (uint32_t k : keys) m[k] = k;
    for (auto _ : state) {
        uintptr_t sum = 0;
        for (const auto& kv : m) sum += kv.first;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

// Each step hands back a copy of the key it was given, as "SE_TableNext" does.
void BM_ScriptTable_Iterate(benchmark::State& state) {
    const auto keys = MakeKeys(size_t(state.range(0)));
    SE_Context* ctx = SE_Create();
    ScriptValue t{}, key{};
    SV_TableAlloc(&t);
    for (uint32_t k : keys) {
        SV_AssignInt(&key, static_cast<int32_t>(k));
        SV_TableAdd(&t, &key, &key);
    }
    for (auto _ : state) {
        uint64_t sum = 0;
        ScriptValue at{};
        for (const ScriptValue* k = SV_TableNextKey(nullptr, &t); k; k = SV_TableNextKey(&at, &t)) {
            at = *k;
            sum += at.u;
        }
        benchmark::DoNotOptimize(sum);
    }
    SV_Release(&t);
    SB_FreeTables(ctx);
    std::free(ctx);
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

}  // namespace

BENCHMARK(BM_QelTable_Set)->Apply(Sizes);
BENCHMARK(BM_UnorderedMap_Set)->Apply(Sizes);
BENCHMARK(BM_QelTable_Get)->Apply(Sizes);
BENCHMARK(BM_UnorderedMap_Get)->Apply(Sizes);
BENCHMARK(BM_QelTable_FreshKey)->Apply(Sizes);
BENCHMARK(BM_UnorderedMap_FreshKey)->Apply(Sizes);
BENCHMARK(BM_QelTable_Iterate)->Apply(Sizes);
BENCHMARK(BM_QelTable_IterateChanged)->Apply(Sizes);
BENCHMARK(BM_UnorderedMap_Iterate)->Apply(Sizes);
BENCHMARK(BM_ScriptTable_Iterate)->Apply(Sizes);

int main(int argc, char** argv) {
    return bench_ratios::Main(argc, argv,
                              {{"BM_QelTable_Iterate/64", "BM_UnorderedMap_Iterate/64", "<= 1.5"},
                               {"BM_QelTable_Iterate/4096", "BM_UnorderedMap_Iterate/4096", "<= 1.5"},
                               {"BM_QelTable_Iterate/262144", "BM_UnorderedMap_Iterate/262144", "<= 1.5"},
                               {"BM_QelTable_IterateChanged/64", "BM_UnorderedMap_Iterate/64", ""},
                               {"BM_QelTable_IterateChanged/4096", "BM_UnorderedMap_Iterate/4096", ""},
                               {"BM_QelTable_IterateChanged/262144", "BM_UnorderedMap_Iterate/262144", ""},
                               {"BM_ScriptTable_Iterate/64", "BM_UnorderedMap_Iterate/64", ""},
                               {"BM_ScriptTable_Iterate/4096", "BM_UnorderedMap_Iterate/4096", ""},
                               {"BM_ScriptTable_Iterate/262144", "BM_UnorderedMap_Iterate/262144", ""},
                               {"BM_QelTable_Get/4096", "BM_UnorderedMap_Get/4096", ""},
                               {"BM_QelTable_Set/4096", "BM_UnorderedMap_Set/4096", ""},
                               {"BM_QelTable_FreshKey/4096", "BM_UnorderedMap_FreshKey/4096", ""}});
}
