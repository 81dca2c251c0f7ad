// The story interpreter against Lua 5.4 and LuaJIT 2.1 with its compiler
// off (-joff) on the same work, in one process: integer and float loops,
// recursive calls, method calls, array and table reads and writes, string
// concatenation and a call of a native function. Prints ns per operation
// for each and the story's ratios to both.
//
// LuaJIT exports the same C names as Lua 5.4, so it is opened apart with
// dlopen (its own names bound first) and reached through looked-up pointers.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <lua5.4/lua.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "script/arrays.h"
#include "script/loader.h"
#include "script/modules.h"
#include "script/tables.h"
#include "script/tasks.h"
#include "tools/lib/storyasm.h"

namespace {

// The story: every function takes n and returns its result.
const char* kStory = R"(
    end
.var "A" zero
.var "T" zero
.var "S" zero
.var "K" zero

.func "SumInt" need 8
    room 8
    c0                  ; s
    c0                  ; i
    jmp sum_test
sum_loop:
    getl 2
    getl 2
    add
    setl 3              ; s = s + i
    pop
    getl 1
    c1
    add
    setl 2              ; i = i + 1
    pop
sum_test:
    getl 1
    getl 7
    lt
    jnf sum_loop        ; while i < n
    pop
    ret

.func "SumFloat" need 8
    room 8
    pushf0              ; x
    c0                  ; i
    jmp f_test
f_loop:
    getl 2
    pushf 0.999
    mul
    pushf 1.5
    add
    setl 3              ; x = x * 0.999 + 1.5
    pop
    getl 1
    c1
    add
    setl 2
    pop
f_test:
    getl 1
    getl 7
    lt
    jnf f_loop
    pop
    ret

.func "Fib" need 8
fib: room 8
    getl 4
    c2
    lt
    jf fib_rec
    getl 4
    ret
fib_rec:
    getl 4
    c1
    sub
    c1
    calla fib "Fib"
    getl 5
    c2
    sub
    c1
    calla fib "Fib"
    add
    ret

.func "Methods" need 8
    room 8
    c0                  ; i
    jmp m_test
m_loop:
    getl 1
    c1
    pushw 10
    method "Add"        ; 10.Add(i)
    pop
    getl 1
    c1
    add
    setl 2
    pop
m_test:
    getl 1
    getl 6
    lt
    jnf m_loop
    ret

.func "ArrayRW" need 8
    room 8
    c0                  ; k
    c0                  ; i
    jmp a_test
a_loop:
    getl 1
    pushw 1023
    and
    setl 3              ; k = i & 1023
    pop
    getl 2
    getg 0
    index
    c1
    add
    getl 3
    getg 0
    store               ; A[k] = A[k] + 1
    pop
    getl 1
    c1
    add
    setl 2
    pop
a_test:
    getl 1
    getl 7
    lt
    jnf a_loop
    pop
    ret

.func "TableInt" need 8
    room 8
    c0
    c0
    jmp ti_test
ti_loop:
    getl 1
    pushw 1023
    and
    setl 3              ; k = i & 1023
    pop
    getl 2
    getg 1
    index
    c1
    add
    getl 3
    getg 1
    store               ; T[k] = T[k] + 1
    pop
    getl 1
    c1
    add
    setl 2
    pop
ti_test:
    getl 1
    getl 7
    lt
    jnf ti_loop
    pop
    ret

.func "TableStr" need 8
    room 8
    c0
    c0
    jmp ts_test
ts_loop:
    getl 1
    pushw 15
    and
    getg 3
    index
    setl 3              ; k = K[i & 15], a text
    pop
    getl 2
    getg 2
    index
    c1
    add
    getl 3
    getg 2
    store               ; S[k] = S[k] + 1
    pop
    getl 1
    c1
    add
    setl 2
    pop
ts_test:
    getl 1
    getl 7
    lt
    jnf ts_loop
    pop
    ret

.func "Concat" need 8
    room 8
    c0                  ; s
    c0                  ; i
    jmp c_test
c_loop:
    pushs "item"
    getl 2
    add
    setl 3              ; s = "item" + i
    pop
    getl 1
    c1
    add
    setl 2
    pop
c_test:
    getl 1
    getl 7
    lt
    jnf c_loop
    pop
    ret

.func "Engine" need 8
    room 8
    c0
    jmp e_test
e_loop:
    getl 1
    c1
    sys "B_Inc"         ; B_Inc(i)
    pop
    getl 1
    c1
    add
    setl 2
    pop
e_test:
    getl 1
    getl 6
    lt
    jnf e_loop
    ret

.object 10
.var2
.var "v" int 0
.func "Add" need 4
    getv 0
    getl 5
    add
    setv 0
    ret
)";

const char* kLua = R"(
function SumInt(n) local s = 0 for i = 0, n - 1 do s = s + i end return s end
function SumFloat(n) local x = 0.0 for i = 0, n - 1 do x = x * 0.999 + 1.5 end return x end
local function fib(n) if n < 2 then return n end return fib(n - 1) + fib(n - 2) end
function Fib(n) return fib(n) end
local obj = {v = 0}
function obj:Add(x) self.v = self.v + x return self.v end
function Methods(n) for i = 0, n - 1 do obj:Add(i) end return n end
local A = {} for i = 1, 1024 do A[i] = 0 end
function ArrayRW(n) for i = 0, n - 1 do local k = (i & 1023) + 1 A[k] = A[k] + 1 end return n end
local T = {} for i = 0, 1023 do T[i] = 0 end
function TableInt(n) for i = 0, n - 1 do local k = i & 1023 T[k] = T[k] + 1 end return n end
local K = {} for i = 1, 16 do K[i] = "key" .. (i - 1) end
local S = {} for i = 1, 16 do S[K[i]] = 0 end
function TableStr(n) for i = 0, n - 1 do local k = K[(i & 15) + 1] S[k] = S[k] + 1 end return n end
function Concat(n) local s for i = 0, n - 1 do s = "item" .. i end return s end
function Engine(n) local inc = B_Inc for i = 0, n - 1 do inc(i) end return n end
)";

// The same work in the language LuaJIT reads (no bit operators: the masks
// are remainders, equal for these non-negative counters).
const char* kLuaJit = R"(
function SumInt(n) local s = 0 for i = 0, n - 1 do s = s + i end return s end
function SumFloat(n) local x = 0.0 for i = 0, n - 1 do x = x * 0.999 + 1.5 end return x end
local function fib(n) if n < 2 then return n end return fib(n - 1) + fib(n - 2) end
function Fib(n) return fib(n) end
local obj = {v = 0}
function obj:Add(x) self.v = self.v + x return self.v end
function Methods(n) for i = 0, n - 1 do obj:Add(i) end return n end
local A = {} for i = 1, 1024 do A[i] = 0 end
function ArrayRW(n) for i = 0, n - 1 do local k = (i % 1024) + 1 A[k] = A[k] + 1 end return n end
local T = {} for i = 0, 1023 do T[i] = 0 end
function TableInt(n) for i = 0, n - 1 do local k = i % 1024 T[k] = T[k] + 1 end return n end
local K = {} for i = 1, 16 do K[i] = "key" .. (i - 1) end
local S = {} for i = 1, 16 do S[K[i]] = 0 end
function TableStr(n) for i = 0, n - 1 do local k = K[(i % 16) + 1] S[k] = S[k] + 1 end return n end
function Concat(n) local s for i = 0, n - 1 do s = "item" .. i end return s end
function Engine(n) local inc = B_Inc for i = 0, n - 1 do inc(i) end return n end
)";

struct Row {
    const char* title;
    const char* function;
    int n;
    int64_t ops;  // operations per run
};

const Row kRows[] = {
    {"integer sum loop", "SumInt", 10000000, 10000000},
    {"float loop", "SumFloat", 10000000, 10000000},
    {"fib(27), per call", "Fib", 27, 635621},
    {"method calls", "Methods", 1000000, 1000000},
    {"array read+write, int index", "ArrayRW", 1000000, 1000000},
    {"table read+write, int keys", "TableInt", 1000000, 1000000},
    {"table read+write, string keys", "TableStr", 1000000, 1000000},
    {"string concatenation", "Concat", 1000000, 1000000},
    {"engine call, answered at once", "Engine", 1000000, 1000000},
};

// ---- the story side ----

const char* const kBenchCalls[] = {"B_Inc", nullptr};

int32_t BenchHandler(int32_t, SE_Task* task, int32_t, int32_t argc, ScriptValue* args) {
    SE_TaskReturnInt(task, argc > 0 ? args[0].i + 1 : 0);
    return 1;
}

struct StoryBench {
    SE_Context* ctx = nullptr;
    int32_t module = 0;

    StoryBench() {
        ctx = SE_Create();
        module = SB_RegisterEngineModuleShort(ctx, BenchHandler, kBenchCalls);
        std::vector<uint8_t> image;
        std::string error;
        if (!StoryAsm_Build(kStory, image, &error) ||
            !SB_LoadStoryImage(ctx, "bench", "bench", image.data(), static_cast<uint32_t>(image.size()))) {
            std::fprintf(stderr, "story: %s\n", error.c_str());
            std::exit(1);
        }
        ScriptValue* g = ctx->objects[0].variables;
        SV_ArrayAlloc(&g[0], 1024);
        SV_TableAlloc(&g[1]);
        SV_TableAlloc(&g[2]);
        SV_ArrayAlloc(&g[3], 16);
        ScriptValue key{}, zero{};
        SV_AssignInt(&zero, 0);
        for (int i = 0; i < 1024; ++i) {
            SV_AssignInt(&key, i);
            SV_TableAdd(&g[1], &key, &zero);
        }
        for (int i = 0; i < 16; ++i) {
            std::string text = "key" + std::to_string(i);
            SV_AssignString(&key, text.c_str());
            SV_ArrayWrite(&g[3], i, &key);
            SV_TableAdd(&g[2], &key, &zero);
        }
        SV_Release(&key);
    }
    ~StoryBench() {
        SB_FreeLocation(ctx);
        SB_FreeTables(ctx);
        std::free(ctx);
    }
    void Run(const char* function, int n) { SE_RunIntArgs(ctx, 0, 0, 0, function, SE_RETURN_INT, 1, &n); }
};

// ---- the Lua side ----

int LuaInc(lua_State* L) {
    lua_pushinteger(L, lua_tointeger(L, 1) + 1);
    return 1;
}

struct LuaBench {
    lua_State* L;
    LuaBench() {
        L = luaL_newstate();
        luaL_openlibs(L);
        lua_register(L, "B_Inc", LuaInc);
        if (luaL_dostring(L, kLua) != LUA_OK) {
            std::fprintf(stderr, "lua: %s\n", lua_tostring(L, -1));
            std::exit(1);
        }
    }
    ~LuaBench() { lua_close(L); }
    void Run(const char* function, int n) {
        lua_getglobal(L, function);
        lua_pushinteger(L, n);
        lua_call(L, 1, 1);
        lua_pop(L, 1);
    }
};

// ---- the LuaJIT side, interpreter only ----

struct LuaJitApi {
    using State = struct LjState;
    using CFunction = int (*)(State*);
    State* (*newstate)();
    void (*openlibs)(State*);
    int (*loadstring)(State*, const char*);
    int (*pcall)(State*, int, int, int);
    void (*getfield)(State*, int, const char*);
    void (*setfield)(State*, int, const char*);
    void (*pushinteger)(State*, ptrdiff_t);
    ptrdiff_t (*tointeger)(State*, int);
    void (*pushcclosure)(State*, CFunction, int);
    void (*settop)(State*, int);
    const char* (*tolstring)(State*, int, size_t*);
    int (*setmode)(State*, int, int);
    void (*close)(State*);
};
LuaJitApi g_lj{};
constexpr int kLjGlobals = -10002;  // LUA_GLOBALSINDEX of the 5.1 interface
constexpr int kLjEngineOff = 0;     // LUAJIT_MODE_ENGINE | LUAJIT_MODE_OFF

int LuaJitInc(LuaJitApi::State* L) {
    g_lj.pushinteger(L, g_lj.tointeger(L, 1) + 1);
    return 1;
}

struct LuaJitBench {
    LuaJitApi::State* L = nullptr;
    bool Open() {
        void* lib = dlopen("libluajit-5.1.so.2", RTLD_NOW | RTLD_LOCAL | RTLD_DEEPBIND);
        if (!lib) return false;
        bool ok = true;
        auto get = [&](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
            ok = ok && fn;
        };
        get(g_lj.newstate, "luaL_newstate");
        get(g_lj.openlibs, "luaL_openlibs");
        get(g_lj.loadstring, "luaL_loadstring");
        get(g_lj.pcall, "lua_pcall");
        get(g_lj.getfield, "lua_getfield");
        get(g_lj.setfield, "lua_setfield");
        get(g_lj.pushinteger, "lua_pushinteger");
        get(g_lj.tointeger, "lua_tointeger");
        get(g_lj.pushcclosure, "lua_pushcclosure");
        get(g_lj.settop, "lua_settop");
        get(g_lj.tolstring, "lua_tolstring");
        get(g_lj.setmode, "luaJIT_setmode");
        get(g_lj.close, "lua_close");
        if (!ok) return false;
        L = g_lj.newstate();
        g_lj.openlibs(L);
        g_lj.setmode(L, 0, kLjEngineOff);
        g_lj.pushcclosure(L, LuaJitInc, 0);
        g_lj.setfield(L, kLjGlobals, "B_Inc");
        if (g_lj.loadstring(L, kLuaJit) != 0 || g_lj.pcall(L, 0, 0, 0) != 0) {
            std::fprintf(stderr, "luajit: %s\n", g_lj.tolstring(L, -1, nullptr));
            std::exit(1);
        }
        return true;
    }
    ~LuaJitBench() {
        if (L) g_lj.close(L);
    }
    void Run(const char* function, int n) {
        g_lj.getfield(L, kLjGlobals, function);
        g_lj.pushinteger(L, n);
        g_lj.pcall(L, 1, 1, 0);
        g_lj.settop(L, -2);
    }
};

StoryBench* s_story;
LuaBench* s_lua;
LuaJitBench* s_luajit;

void BM_Story(benchmark::State& state, const Row* row) {
    for (auto _ : state) s_story->Run(row->function, row->n);
    state.SetItemsProcessed(state.iterations() * row->ops);
}

void BM_Lua(benchmark::State& state, const Row* row) {
    for (auto _ : state) s_lua->Run(row->function, row->n);
    state.SetItemsProcessed(state.iterations() * row->ops);
}

void BM_LuaJit(benchmark::State& state, const Row* row) {
    for (auto _ : state) s_luajit->Run(row->function, row->n);
    state.SetItemsProcessed(state.iterations() * row->ops);
}

// Seconds of one run of a function.
template <class Bench>
double TimeRun(Bench& b, const Row& row) {
    auto t0 = std::chrono::steady_clock::now();
    b.Run(row.function, row.n);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    StoryBench story;
    LuaBench lua;
    LuaJitBench luajit;
    bool haveJit = luajit.Open();
    if (!haveJit) std::fprintf(stderr, "LuaJIT 2.1 (libluajit-5.1.so.2) not found: its column is left out\n");
    s_story = &story;
    s_lua = &lua;
    s_luajit = &luajit;
    for (const Row& row : kRows) {
        benchmark::RegisterBenchmark((std::string("Story/") + row.function).c_str(), BM_Story, &row)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("Lua/") + row.function).c_str(), BM_Lua, &row)
            ->Unit(benchmark::kMillisecond);
        if (haveJit)
            benchmark::RegisterBenchmark((std::string("LuaJIToff/") + row.function).c_str(), BM_LuaJit, &row)
                ->Unit(benchmark::kMillisecond);
    }
    // A --benchmark_filter also limits the table to the rows it names.
    std::string filter;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--benchmark_filter=", 19) == 0) filter = argv[i] + 19;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // The table: both sides run in turn, the best of several rounds each, so
    // that the load of the machine at one moment weighs on both alike.
    constexpr int kRounds = 7;
    std::printf("\n%-32s %11s %11s %11s %8s %8s\n", "work (best of 7, in turn)", "story ns/op", "Lua ns/op",
                "-joff ns/op", "/Lua", "/-joff");
    for (const Row& row : kRows) {
        if (!filter.empty() && filter != "all" && filter != "NONE" && filter.find(row.function) == std::string::npos)
            continue;
        double bestStory = 1e30, bestLua = 1e30, bestJit = 1e30;
        for (int r = 0; r < kRounds; ++r) {
            bestStory = std::min(bestStory, TimeRun(story, row));
            bestLua = std::min(bestLua, TimeRun(lua, row));
            if (haveJit) bestJit = std::min(bestJit, TimeRun(luajit, row));
        }
        double s = bestStory * 1e9 / static_cast<double>(row.ops);
        double l = bestLua * 1e9 / static_cast<double>(row.ops);
        if (haveJit) {
            double j = bestJit * 1e9 / static_cast<double>(row.ops);
            std::printf("%-32s %11.2f %11.2f %11.2f %8.2f %8.2f\n", row.title, s, l, j, s / l, s / j);
        } else {
            std::printf("%-32s %11.2f %11.2f %11s %8.2f %8s\n", row.title, s, l, "-", s / l, "-");
        }
    }
    return 0;
}
