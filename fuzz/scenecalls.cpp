// Programs of scene engine calls (fuzz/harness/sceneprogram.h): any of the
// 157 calls on ids of live records, of records freed since and made-up ones,
// with frame draws, saves and loads, replay steps and location resets
// between them, on a fresh scene state over a small game folder (bodies with
// bones, cuts with cameras, lights, notes and an embedded body) and a
// renderer on the spy device. After every step the records must agree (each
// record in exactly the list its parent and scene say, every pointer one
// record keeps to another naming a live one) and every task waiting on the
// scene engine must be held by a live record; a reply to a task that waits
// for nothing is a finding too. At the end a location reset must have
// answered every waiting task, and the memory books and the device's objects
// must be back where they were.
#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <iterator>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/file.h"
#include "base/general.h"
#include "base/memory.h"
#include "base/standin_calls.h"
#include "base/table.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/sceneprogram.h"
#include "scene/calls.h"
#include "scene/dummies.h"
#include "scene/drawing.h"
#include "scene/framedraw.h"
#include "scene/freeing.h"
#include "scene/jobs.h"
#include "scene/recorder.h"
#include "scene/replay.h"
#include "scene/savesection.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "script/arrays.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "script/values.h"
#include "system/clock.h"
#include "tests/support/spy_renderer.h"
#include "tools/lib/bodyconv.h"
#include "tools/lib/cutconv.h"

using namespace sceneprogram;

namespace {

constexpr int kMaxSteps = 400;
// A save and load (the file compressed, cuts read again) costs as much as a
// hundred other steps; past this many in one input a save step does nothing,
// so that no input nears the time limit on a busy machine.
constexpr int kMaxSaves = 16;
constexpr size_t kMaxSeen = 256;

[[noreturn]] void Finding(const char* form, ...) {
    va_list args;
    va_start(args, form);
    std::fputs("fuzz scenecalls: ", stderr);
    std::vfprintf(stderr, form, args);
    std::fputc('\n', stderr);
    va_end(args);
    std::abort();
}

// ------------------------------------------------------------------ the game folder

// A quad of four parts' worth with two bones, and small bodies whose names
// are the bones' and the flares'.
const char* const kShip =
    "name ship\nbone b1\nbone b2\n"
    "v -1 -1 0\nvw 0 1\nv 1 -1 0\nvw 1 1\nv 1 1 0\nvw 1 1\nv -1 1 0\nvw 0 1\nf 1 2 3 4\n";
std::string Triangle(const char* name) {
    return std::string("name ") + name + "\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
}

// Cut 3: a camera whose note binds the ship, a light, the ship (whose note
// binds the crate), a crate embedded in the cut, and the bone b1. Cut 4: one
// looping path of body 11.
const char* const kCut3 =
    "path 0 -1\n  name camera\n  note 100 camera ship\n"
    "  key 0x800 2000 0 0 -65536 0 0 0 0.25\n  key 0x800 -1 0 0 -131072 0.125 0 0 0.3\n"
    "path 1 2953\n  name lamp\n  key 0x200 2000 0 65536 0 1 0.5 0.25\n  key 0x200 -1 0 65536 65536 0.5 0.5 0.5\n"
    "path 2 10\n  name ship\n  note 50 camera crate\n  note 150 event go\n"
    "  key 0x0 3000 0 0 655360 0 0 0\n  key 0x0 -1 65536 0 655360 0 0 0\n"
    "path 3 5\n  name crate\n  body 5\n    name crate\n    v 0 0 0\n    v 1 0 0\n    v 0 1 0\n    f 1 2 3\n"
    "  endbody\n  key 0x0 1000 0 65536 0 0 0 0\n  key 0x0 -1 0 131072 0 0 0 0\n"
    "path 4 12\n  name b1\n  key 0x0 1500 65536 0 0 0 0 0\n  key 0x0 -1 0 0 0 0 0 0\n";
const char* const kCut4 = "path 0 11\n  name b2\n  flags l\n  key 0x0 500 0 0 0 0 0 0\n  key 0x0 -1 65536 0 0 0 0 0\n";

void WriteText(const char* file, const std::string& text) {
    Fuzz_WriteFile(file, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void WriteGame() {
    const struct {
        const char* file;
        std::string source;
    } bodies[] = {{"v/00010.bod", kShip},
                  {"v/00011.bod", Triangle("b2")},
                  {"v/00012.bod", Triangle("b1")},
                  {"v/00195.bod", Triangle("ray")}};
    for (const auto& b : bodies) {
        std::string text, error;
        if (!Tool_ModelToTextBody(b.source, &text, &error)) Finding("body %s: %s", b.file, error.c_str());
        WriteText(b.file, text);
    }
    Fuzz_NewSceneState();
    // Binary bodies: read much faster than text ones, which build their parts.
    for (int32_t id : {10, 11, 12, 195}) {
        std::string error;
        if (!Tool_BodyTextToBinary(id, &error)) Finding("body %d: %s", id, error.c_str());
    }
    Fuzz_WriteFile("cut/00003.bob", nullptr, 0);
    for (const auto& [source, file] : {std::pair{kCut3, "cut\\00003.bob"}, std::pair{kCut4, "cut\\00004.bob"}}) {
        std::string error;
        if (!Tool_WriteBinaryCut(source, 6, file, &error)) Finding("cut %s: %s", file, error.c_str());
    }
    Fuzz_FreeSceneState();
}

// One kind of lens flare: two elements of body 11.
void LensFlareTable() {
    B3DState* s = g_B3DState;
    s->arrayTable = static_cast<B3DArrayTableRow*>(Int_AllocMem(sizeof(B3DArrayTableRow), 0));
    if (!s->arrayTable) return;
    s->arrayTableCount = 1;
    auto* e = static_cast<B3DLensFlareElement*>(Int_AllocMem(2 * sizeof(B3DLensFlareElement), 0));
    if (!e) return;
    e[0] = {11, 0x8000, {2, 3}, 0};
    e[1] = {11, -0x8000, {1, 1}, 0};
    s->arrayTable[0] = {2, e};
}

// ------------------------------------------------------------------ the renderer and the tasks

struct World {
    SE_Context* ctx = nullptr;
    int32_t module = 0;
    SpyRenderer* renderer = nullptr;  // for the process's life
};

World& TheWorld() {
    static World w;
    return w;
}

// Tasks waiting on the scene engine by id; null for a wait a load restored
// (its task went with the location reset before the load).
std::map<uint32_t, SE_Task*> s_waiting;
std::vector<uint32_t> s_answered;

void OnReply(uint32_t handle, int32_t code) {
    auto it = s_waiting.find(handle);
    if (it == s_waiting.end()) Finding("reply %d to task %u, which waits for nothing", code, handle);
    if (code < B3D_REPLY_TAKE_STOPPED || code > B3D_REPLY_JOB_STOPPED) Finding("reply code %d", code);
    if (it->second) s_answered.push_back(handle);
    s_waiting.erase(it);
}

int32_t NoCalls(int32_t, SE_Task* task, int32_t, int32_t, ScriptValue*) {
    SE_TaskReturnInt(task, 0);
    return 1;
}

void RemoveAnswered() {
    for (uint32_t id : s_answered)
        if (SE_Task* t = SE_FindTask(TheWorld().ctx, id)) {
            SV_Release(&t->callResult);
            SE_RemoveTask(TheWorld().ctx, t);
        }
    s_answered.clear();
}

void SetUp() {
    World& w = TheWorld();
    if (w.ctx) return;
    WriteGame();
    w.ctx = SE_Create();
    static const char* const kNames[] = {"Z_Waits", nullptr};
    w.module = SB_RegisterEngineModule(w.ctx, NoCalls, kNames, OnReply, nullptr, nullptr);
    w.renderer = new SpyRenderer();
    if (!w.renderer->made) Finding("no vertex declarations");
    g_RendererState = nullptr;
}

// ------------------------------------------------------------------ the program

struct Reader {
    const uint8_t* p;
    const uint8_t* end;
    bool Done() const { return p >= end; }
    uint8_t Byte() { return p < end ? *p++ : 0; }
    int32_t Word() {
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k) v = v << 8 | Byte();
        return static_cast<int32_t>(v);
    }
};

// The keys in ascending order: the n-th record is the n-th made of those alive.
template <class Keep>
std::vector<uint32_t> Keys(QelTable* table, Keep keep) {
    std::vector<uint32_t> out;
    for (uint32_t k = Qel_TableNext(table, 0); k; k = Qel_TableNext(table, k))
        if (keep(Qel_TableGet(table, k))) out.push_back(k);
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<uint32_t> InstKeys(uint32_t mask, uint32_t bits) {
    return Keys(g_B3DState->instTable,
                [&](uintptr_t v) { return v && (reinterpret_cast<const Inst3D*>(v)->flags & mask) == bits; });
}

int32_t Pick(const std::vector<uint32_t>& ids, uint8_t n) { return ids.empty() ? 0 : int32_t(ids[n % ids.size()]); }

std::vector<uint32_t> s_seen;

int32_t IdOf(uint8_t kind, uint8_t n) {
    B3DState* s = g_B3DState;
    auto any = [](uintptr_t v) { return v != 0; };
    switch (kind) {
        case ARG_INST: return Pick(InstKeys(0, 0), n);
        case ARG_CAMERA: return Pick(InstKeys(INST_CAMERA, INST_CAMERA), n);
        case ARG_LIGHT: return Pick(InstKeys(INST_LIGHT, INST_LIGHT), n);
        case ARG_SCENE: return Pick(Keys(s->sceneTable, any), n);
        case ARG_TAKE: return Pick(Keys(s->takeTable, any), n);
        case ARG_SEEN: return Pick(s_seen, n);
        default: {
            std::vector<uint32_t> top;
            for (Scene3D* sc = B3D_First<Scene3D>(&s->scenes); sc; sc = B3D_Next(sc))
                for (Inst3D* i = B3D_First<Inst3D>(&sc->insts); i; i = B3D_Next(i)) top.push_back(i->id);
            return Pick(top, n);
        }
    }
}

void Argument(Reader& in, ScriptValue* v) {
    const uint8_t kind = in.Byte() & 0x0F;
    if (kind == ARG_WORD || kind == ARG_MADE_UP) {
        SV_AssignInt(v, in.Word());
        return;
    }
    const uint8_t n = in.Byte();
    switch (kind) {
        case ARG_SMALL: SV_AssignInt(v, int32_t(n) - 16); return;
        case ARG_TEXT: SV_AssignString(v, kTexts[n % std::size(kTexts)]); return;
        case ARG_CUT: SV_AssignInt(v, kCuts[n % std::size(kCuts)]); return;
        case ARG_BODY: SV_AssignInt(v, kBodies[n % std::size(kBodies)]); return;
        case ARG_FIXED: SV_AssignInt(v, (int32_t(n) - 128) * 0x1000); return;
        case ARG_FLOAT: SV_AssignFloat(v, (int32_t(n) - 128) / 16.0); return;
        case ARG_ARRAY:
            if (SV_ArrayAlloc(v, 6))
                for (int32_t k = 0; k < 6; ++k) SV_ArrayWriteInt(v, k, 0);
            return;
        default: SV_AssignInt(v, IdOf(kind, n)); return;
    }
}

void Call(int32_t call, Reader& in) {
    World& w = TheWorld();
    const int32_t argc = in.Byte() % 11;
    std::vector<ScriptValue> args(static_cast<size_t>(argc) + 1);
    for (int32_t k = 0; k < argc; ++k) Argument(in, &args[static_cast<size_t>(k)]);
    SE_Task* task = SE_AllocTask(w.ctx, 32);
    if (task) {
        B3D_SysCall(w.module, task, call, argc, args.data());
        if (task->answered) {
            SV_Release(&task->callResult);
            SE_RemoveTask(w.ctx, task);
        } else {
            s_waiting[task->id] = task;
        }
    }
    for (ScriptValue& v : args) SV_Release(&v);
}

void Save() {
    if (QelFile* f = Qel_fcopen("scene.sav", "wb", 0)) {
        B3D_SaveGame(f);
        Qel_fclose(f);
    }
}

// Waits a load brought back: their tasks went with the location reset, as a
// load brings its own tasks.
void RestoredWaits() {
    const int32_t module = TheWorld().module;
    B3DState* s = g_B3DState;
    for (uint32_t k = Qel_TableNext(s->instTable, 0); k; k = Qel_TableNext(s->instTable, k)) {
        const auto* i = reinterpret_cast<const Inst3D*>(Qel_TableGet(s->instTable, k));
        if ((i->jobFlags & JOB_WAITING) && i->replyModule == module)
            s_waiting.emplace(static_cast<uint32_t>(i->replyHandle), nullptr);
    }
    for (uint32_t k = Qel_TableNext(s->takeTable, 0); k; k = Qel_TableNext(s->takeTable, k)) {
        const auto* t = reinterpret_cast<const J3D_Take*>(Qel_TableGet(s->takeTable, k));
        if (t->replyModule == module && t->replyHandle)
            s_waiting.emplace(static_cast<uint32_t>(t->replyHandle), nullptr);
    }
}

void Advance(int32_t ms) { g_SystemState->gameClock = S_ClockAdvance(g_SystemState->gameClock, ms); }

int s_saves = 0;

void StepBetween(uint8_t step, Reader& in) {
    if ((step == STEP_SAVE_LOAD || step == STEP_SAVE) && ++s_saves > kMaxSaves) return;
    switch (step) {
        case STEP_FRAME:
            J3D_TakesUpdate();
            B3D_DrawObjects();
            Advance(40);
            return;
        case STEP_CLOCK: Advance(in.Byte() * 100); return;
        case STEP_SAVE_LOAD:
            Save();
            B3D_ReplayFreeAll();
            RemoveAnswered();
            if (QelFile* f = Qel_fcopen("scene.sav", "rb", 0)) {
                B3D_LoadGame(f);
                Qel_fclose(f);
            }
            RestoredWaits();
            return;
        case STEP_REPLAY: B3D_ReplayFrame(); return;
        case STEP_RESET: B3D_ReplayFreeAll(); return;
        case STEP_FLUSH: B3D_MemoryFlush(g_B3DState); return;
        case STEP_AGE: B3D_AgeBodies(); return;
        case STEP_TAKES: J3D_TakesUpdate(); return;
        case STEP_FINISH: J3D_FinishAllJobs(); return;
        case STEP_REOPEN:
            B3D_DisableAllObjects3D();
            B3D_ResetBodyParts();
            B3D_ScenesUpdateFlags();
            B3D_EnableAllObjects3D();
            return;
        case STEP_LOAD_INSTS:
            B3D_CheckSavedInsts();
            B3D_FreeLoadInsts();
            return;
        default: Save(); return;
    }
}

// ------------------------------------------------------------------ the checks

using Live = std::unordered_set<const void*>;

void MustBeLive(const Live& live, const void* p, const char* what) {
    if (p && !live.count(p)) Finding("%s names a freed record", what);
}

// Every record in exactly the list its parent and scene say.
void CheckTrees(const Live& insts) {
    B3DState* s = g_B3DState;
    size_t visited = 0;
    auto walk = [&](auto& self, const B3DList* list, const Inst3D* parent, const Scene3D* scene, bool cameras) -> void {
        for (const Inst3D* i = B3D_First<Inst3D>(list); i; i = B3D_Next(i)) {
            if (!insts.count(i)) Finding("a list holds a record that is not in the id table");
            if (i->parent != parent) Finding("record %u: parent disagrees with its list", i->id);
            if (i->scene != scene) Finding("record %u: scene disagrees with its place", i->id);
            if (cameras && !(i->flags & INST_CAMERA)) Finding("record %u in a camera list is no camera", i->id);
            if (++visited > insts.size()) Finding("a record is in two lists");
            self(self, &i->children, i, scene, false);
        }
    };
    walk(walk, &s->freeInsts, nullptr, nullptr, false);
    for (const Scene3D* sc = B3D_First<Scene3D>(&s->scenes); sc; sc = B3D_Next(sc)) {
        walk(walk, &sc->insts, nullptr, sc, false);
        walk(walk, &sc->cameras, nullptr, sc, true);
    }
    if (visited != insts.size()) Finding("%zu records outside every list", insts.size() - visited);
}

// Every pointer one record keeps to another names a live one.
void CheckReferences(const Live& insts, const Live& scenes) {
    B3DState* s = g_B3DState;
    for (const void* p : insts) {
        const auto* i = static_cast<const Inst3D*>(p);
        MustBeLive(insts, i->hitInst, "a hit instance");
        MustBeLive(insts, i->boundInst, "a bound instance");
        for (int32_t b = 0; i->bones && b < i->boneCount; ++b) MustBeLive(insts, i->bones[b], "a bone");
        if (!(i->flags & INST_CAMERA)) continue;
        const auto* c = reinterpret_cast<const Camera3D*>(i);
        MustBeLive(insts, c->environmentSource, "an environment source");
        for (const auto* f = B3D_First<B3DFacingNode>(&c->facing); f; f = B3D_Next(f))
            MustBeLive(insts, f->inst, "a facing node");
        for (const auto* item = B3D_First<B3DCameraItem>(&c->items); item; item = B3D_Next(item))
            for (const Inst3D* e : item->insts) MustBeLive(insts, e, "a lens-flare element");
        for (int32_t k = 0; k < c->collectedCount && k < B3D_CAMERA_MAX_COLLECTED; ++k)
            MustBeLive(insts, c->collected[k], "a collected candidate");
    }
    for (uint32_t k = Qel_TableNext(s->takeTable, 0); k; k = Qel_TableNext(s->takeTable, k)) {
        const auto* t = reinterpret_cast<const J3D_Take*>(Qel_TableGet(s->takeTable, k));
        for (int32_t n = 0; t->insts && n < t->instCount; ++n) MustBeLive(insts, t->insts[n], "a take");
        MustBeLive(scenes, t->scene, "a take's scene");
    }
    for (const auto* d = B3D_First<B3DDrawItem>(&s->drawList); d; d = B3D_Next(d))
        MustBeLive(insts, d->inst, "a draw item");
    for (int32_t n = 0; n <= B3D_MAX_COLLECTED_LIGHTS && s->collectedLights[n]; ++n)
        MustBeLive(insts, s->collectedLights[n], "a collected light");
    MustBeLive(insts, s->firstLight, "the first light");
    MustBeLive(insts, s->lensFlareCheck, "the pick ray");
    MustBeLive(scenes, s->lensFlareScene, "the lens-flare scene");
    for (const auto* g = B3D_First<ParticleGenerator>(&s->generators); g; g = B3D_Next(g))
        MustBeLive(scenes, g->scene, "a particle generator");
    for (const auto* p = B3D_First<B3DParticle>(&s->particleLive); p; p = B3D_Next(p))
        MustBeLive(scenes, p->scene, "a particle");
}

// Every waiting task held by one live record, and every record's waiter a
// waiting task.
void CheckWaits(const Live& insts) {
    const int32_t module = TheWorld().module;
    std::map<uint32_t, int> held;
    for (const void* p : insts) {
        const auto* i = static_cast<const Inst3D*>(p);
        if (!(i->jobFlags & JOB_WAITING)) continue;
        if (i->replyModule != module) Finding("record %u waits for module %d", i->id, i->replyModule);
        ++held[static_cast<uint32_t>(i->replyHandle)];
    }
    B3DState* s = g_B3DState;
    for (uint32_t k = Qel_TableNext(s->takeTable, 0); k; k = Qel_TableNext(s->takeTable, k)) {
        const auto* t = reinterpret_cast<const J3D_Take*>(Qel_TableGet(s->takeTable, k));
        if (t->replyModule && t->replyHandle) ++held[static_cast<uint32_t>(t->replyHandle)];
    }
    for (const auto& [handle, count] : held) {
        if (count > 1) Finding("%d records answer task %u", count, handle);
        if (!s_waiting.count(handle)) Finding("a record holds task %u, which waits for nothing", handle);
    }
    for (const auto& [handle, task] : s_waiting)
        if (!held.count(handle)) Finding("task %u waits on no live record: it would wait for ever", handle);
}

void Check() {
    B3DState* s = g_B3DState;
    Live insts, scenes;
    for (uint32_t k = Qel_TableNext(s->instTable, 0); k; k = Qel_TableNext(s->instTable, k))
        insts.insert(reinterpret_cast<const void*>(Qel_TableGet(s->instTable, k)));
    for (uint32_t k = Qel_TableNext(s->sceneTable, 0); k; k = Qel_TableNext(s->sceneTable, k))
        scenes.insert(reinterpret_cast<const void*>(Qel_TableGet(s->sceneTable, k)));
    if (static_cast<size_t>(B3D_ListCount(&s->scenes)) != scenes.size()) Finding("the scene list and table disagree");
    CheckTrees(insts);
    CheckReferences(insts, scenes);
    CheckWaits(insts);
}

void NoteSeen() {
    B3DState* s = g_B3DState;
    for (QelTable* t : {s->instTable, s->sceneTable, s->takeTable})
        for (uint32_t k = Qel_TableNext(t, 0); k && s_seen.size() < kMaxSeen; k = Qel_TableNext(t, k))
            if (std::find(s_seen.begin(), s_seen.end(), k) == s_seen.end()) s_seen.push_back(k);
}

void Run(const uint8_t* data, size_t size) {
    World& w = TheWorld();
    const uint8_t options = size ? data[0] : 0;
    SystemState* sys = g_SystemState;
    const uint32_t savedFlags = sys->SysFlags;
    if (options & OPT_FLARE_TEST) sys->SysFlags |= B3D_SYSTEM_FLARE_TEST;
    if (options & OPT_SOUND) sys->SysFlags |= 0x100;
    sys->gameClock = 1000;
    // The scene engine's calls are made here, not through a module of the context.
    g_SEContext = nullptr;
    Fuzz_NewSceneState();
    g_SEContext = w.ctx;
    LensFlareTable();
    g_RendererState = (options & OPT_NO_RENDERER) ? nullptr : &w.renderer->renderer;
    s_seen.clear();
    s_saves = 0;

    Reader in{data + (size ? 1 : 0), data + size};
    for (int steps = 0; !in.Done() && steps < kMaxSteps; ++steps) {
        const uint8_t op = in.Byte();
        if (op < STEP_FIRST) Call(op, in);
        else StepBetween(static_cast<uint8_t>((op - STEP_FIRST) % STEP_COUNT), in);
        RemoveAnswered();
        Check();
        NoteSeen();
    }

    B3D_ExitRecording();
    B3D_ExitReplay();
    B3D_ReplayFreeAll();
    RemoveAnswered();
    if (!s_waiting.empty()) Finding("%zu tasks still wait after the location reset", s_waiting.size());
    Fuzz_FreeSceneState();
    g_RendererState = nullptr;
    sys->SysFlags = savedFlags;
    // The frame draw's record of its calls is for the game loop's tests.
    StandIn_ClearCalls();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    SetUp();
    World& w = TheWorld();
    g_SEContext = w.ctx;
    {
        FuzzMemoryGuard guard(w.ctx);
        Run(data, size);
    }
    if (w.renderer->LiveObjects() != 0 || w.renderer->renderer.bufferBytes != 0)
        Finding("device objects left: %d, buffer bytes %lld", w.renderer->LiveObjects(),
                static_cast<long long>(w.renderer->renderer.bufferBytes));
    w.renderer->spy->calls.clear();
    return 0;
}
