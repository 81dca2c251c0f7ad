// Random sequences of the space module's type queries (calls 130 to 229)
// with integer, text and array arguments, fewer or more than a call reads, on
// main types and subtypes in and out of range; records whose cockpit, turret
// and background fields are set as no types file would; backgrounds filled
// and appended by call 228, saved as "TBackgrounds" and the database loaded
// again between calls, and frames of the space update. Every call must answer
// at once (texts only from 134 and 214), call 130 must answer each main
// type's count, and call 228 may only ever append the next subtype.
//
// Input: one byte per step (its value modulo 8 picks it), then its operands:
//   0-3  a call: number byte (130 + n mod 100), argument count (mod 14), a
//        kind byte (and its value bytes) per argument
//   4    call 228: subtype offset from the count, three count bytes, the
//        rest of its arguments as in 0
//   5    set a field: main type, subtype, field byte, four value bytes
//   6    save the backgrounds and load the database again
//   7    a frame of the space update
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "base/standin_calls.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/spaceworld.h"
#include "fuzz/harness/story.h"
#include "script/arrays.h"
#include "script/tasks.h"
#include "script/values.h"
#include "space/objects.h"
#include "space/syscall.h"
#include "space/typesdb.h"
#include "tools/lib/types_writer.h"

namespace {

constexpr int kMaxSteps = 200;
constexpr int kMaxReloads = 8;

void Check(bool ok, const char* what) { Fuzz_Check(ok, "typecalls", what); }

const char* const kTexts[] = {"SS_BG_1", "SS_BG_3", "veil", "", "0", "65537", "458752", "-3", "a\\b"};

ScriptValue Int(int32_t n) {
    ScriptValue v{};
    SV_AssignInt(&v, n);
    return v;
}

ScriptValue Argument(FuzzInput& in) {
    const uint8_t kind = in.next();
    switch (kind % 6) {
        case 0: return Int(static_cast<int8_t>(in.next()));
        case 1: return Int(in.next() % 35 - 1);  // main types and just past them
        case 2: {
            const int32_t big =
                static_cast<int32_t>(static_cast<uint32_t>(in.next16()) << 16 | static_cast<uint16_t>(in.next16()));
            return Int(big);
        }
        case 3: {
            ScriptValue v{};
            SV_AssignString(&v, kTexts[in.next() % (sizeof kTexts / sizeof kTexts[0])]);
            return v;
        }
        case 4: {
            ScriptValue a{};
            const int32_t n = in.next() % 11;
            SV_ArrayAlloc(&a, n);
            for (int32_t i = 0; i < n; ++i) SV_ArrayWriteInt(&a, i, static_cast<int8_t>(in.next()));
            return a;
        }
        default: return ScriptValue{};  // undefined
    }
}

// One call from a fresh task; whether it answered a text.
bool Call(int32_t number, std::vector<ScriptValue> args) {
    SE_Context* ctx = g_SEContext;
    SE_Task* task = SE_AllocTask(ctx, 32);
    Check(task != nullptr, "no task");
    SA_SysCall(1, task, number, static_cast<int32_t>(args.size()), args.data());
    for (ScriptValue& v : args) SV_Release(&v);
    Check(task->answered != 0, "no answer");
    const bool text = task->callResult.tag == VARTYPE_STRING || task->callResult.tag == VARTYPE_DSTRING;
    Check(text || task->callResult.tag == VARTYPE_INTEGER, "neither an integer nor a text");
    Check(!text || number == 134 || number == 214, "a text from a call that answers integers");
    SV_Release(&task->callResult);
    SE_RemoveTask(ctx, task);
    return text;
}

int32_t IntCall(int32_t number, int32_t n) {
    SE_Context* ctx = g_SEContext;
    SE_Task* task = SE_AllocTask(ctx, 32);
    Check(task != nullptr, "no task");
    ScriptValue arg = Int(n);
    SA_SysCall(1, task, number, 1, &arg);
    Check(task->answered && task->callResult.tag == VARTYPE_INTEGER, "no integer answer");
    const int32_t answer = task->callResult.i;
    SV_Release(&task->callResult);
    SE_RemoveTask(ctx, task);
    return answer;
}

void AnyCall(FuzzInput& in) {
    const int32_t number = 130 + in.next() % 100;
    const int32_t argc = in.next() % 14;
    std::vector<ScriptValue> args;
    for (int32_t i = 0; i < argc; ++i) args.push_back(Argument(in));
    Call(number, std::move(args));
}

void SetBackground(FuzzInput& in) {
    const int32_t before = g_TypeDB.counts[SA_MT_BACKGROUND];
    const int32_t subType = before + in.next() % 5 - 3;
    std::vector<ScriptValue> args;
    args.push_back(Int(subType));
    args.push_back(Argument(in));
    for (int32_t i = 0; i < 3; ++i) args.push_back(Int(in.next() % 20 - 1));
    const int32_t rest = in.next() % 9;
    for (int32_t i = 0; i < rest; ++i) args.push_back(Argument(in));
    Call(228, std::move(args));
    const int32_t after = g_TypeDB.counts[SA_MT_BACKGROUND];
    Check(after == before || (after == before + 1 && subType == before), "call 228 made more than the next subtype");
    for (int32_t s = 0; s < after; ++s) {
        const int32_t* f = g_TypeDB.types[SA_MT_BACKGROUND][s].field;
        const int32_t stars = f[SA_TF_BG_STAR_COUNT];
        if (s >= before && stars >= 0 && stars <= SA_BG_MAX_STARS)
            for (int32_t i = stars; i < SA_BG_MAX_STARS; ++i)
                Check(f[SA_TF_BG_STARS + i] == 0, "a star past the count");
    }
}

void SetField(FuzzInput& in) {
    const int32_t mainType = in.next() % SA_MAIN_TYPE_COUNT;
    TypeRecord* t = SA_GetTypeRecord(mainType, in.next() % 3);
    const uint8_t which = in.next();
    const int32_t value =
        static_cast<int32_t>(static_cast<uint32_t>(in.next16()) << 16 | static_cast<uint16_t>(in.next16()));
    if (!t) return;
    // Mostly the counts and tables the calls index with, and small values.
    const int32_t fields[] = {
        SA_TF_SHIP_COCKPIT_COUNT, SA_TF_SHIP_TURRET_COUNT, SA_TF_SHIP_WARE_LIST,      SA_TF_LASER_BULLET_TYPE,
        SA_TF_BG_STAR_COUNT,      SA_TF_MISSILE_SPEED,     SA_TF_MISSILE_FLIGHT_TIME, SA_TF_CLASS};
    const int32_t field = which < 0x80 ? fields[which % (sizeof fields / sizeof fields[0])] : which % 96;
    t->field[field] = which & 0x40 ? value % 20 - 2 : value;
}

// The empty set of core files, so that the database loads whole.
std::map<std::string, std::string> EmptyTexts() {
    std::string s =
        "[Globals]\n[Videos]\n[VideoLists]\n[Dummies]\nSDTYPE_DOCK\n[Bodies]\nSBTYPE_LOGO\n"
        "[Components]\nSCTYPE_LASER\n[Matches]\nSMTYPE_MINE NULL\n[WareLists]\n";
    for (int32_t m = 0; m < SA_MAIN_TYPE_COUNT; ++m)
        if (const char* name = SA_TypesFileName(m)) s += "[" + std::string(name) + " 47]\n";
    std::vector<ToolTypesFile> parsed;
    std::string error;
    if (!Tool_ParseTypesSource(s, &parsed, &error)) __builtin_trap();
    std::map<std::string, std::string> texts;
    for (const ToolTypesFile& f : parsed)
        if (!Tool_TypesText(f, &texts[f.name], &error)) __builtin_trap();
    return texts;
}

void WriteEmpty(const std::map<std::string, std::string>& texts, const std::string& file) {
    const std::string& text = texts.at(file);
    Fuzz_WriteFile("types/" + file + ".txt", reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void Reload(SpaceRoot* root) {
    const int32_t count = g_TypeDB.counts[SA_MT_BACKGROUND];
    std::vector<std::string> names;
    for (int32_t s = 0; s < count; ++s) {
        const char* name = g_TypeDB.types[SA_MT_BACKGROUND][s].name;
        names.emplace_back(name ? name : "");
    }
    const bool saved = count > 0 && SA_SaveBackgroundTypes();
    SA_FreeObjectDB();
    SA_LoadObjectDB(root);
    if (!saved) return;
    Check(g_TypeDB.counts[SA_MT_BACKGROUND] == count, "backgrounds lost in the round trip");
    for (int32_t s = 0; s < count && s < g_TypeDB.counts[SA_MT_BACKGROUND]; ++s) {
        const char* name = g_TypeDB.types[SA_MT_BACKGROUND][s].name;
        Check(names[static_cast<size_t>(s)] == (name ? name : ""), "a background name changed in the round trip");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    SE_Context* ctx = Fuzz_ScriptContext();
    static const std::map<std::string, std::string> empty = EmptyTexts();
    for (const auto& [file, text] : empty) WriteEmpty(empty, file);
    {
        FuzzMemoryGuard guard(ctx);
        FuzzSpaceWorld world;
        Fuzz_OpenSpaceWorld(&world);
        g_SEContext = ctx;
        FuzzInput in{data, size};
        int reloads = 0;
        for (int step = 0; step < kMaxSteps && in.more(); ++step) {
            switch (in.next() % 8) {
                case 4: SetBackground(in); break;
                case 5: SetField(in); break;
                case 6:
                    if (++reloads <= kMaxReloads) Reload(&world.root);
                    break;
                case 7: SA_UpdateSpace(); break;
                default: AnyCall(in); break;
            }
            for (int32_t m = -1; m <= SA_MAIN_TYPE_COUNT; ++m)
                Check(IntCall(130, m) == (m >= 0 && m < SA_MAIN_TYPE_COUNT ? g_TypeDB.counts[m] : 0),
                      "call 130 does not answer the count");
        }
        Fuzz_CloseSpaceWorld(&world);
    }
    StandIn_ClearCalls();
    return 0;
}
