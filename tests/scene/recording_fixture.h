// Recordings in tests: a decoder of the recording layout written from the
// record tables of the format (not from the recorder's code), a scene state
// in a temporary game folder, and small builders of scenes, instances,
// cameras and particle generators.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "scene/allocs.h"
#include "scene/pools.h"
#include "scene/recorder.h"
#include "scene/replay.h"
#include "scene/scene_fixture.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "support/gamefolder.h"

namespace rec {

// A field group: its mask bit and its number of 32-bit words.
struct FieldGroup {
    uint32_t bit;
    int words;
};

// Field groups in the order they follow the mask, then the string bit.
inline const std::vector<FieldGroup> kInstGroups = {
    {0x2, 1},    {0x4, 1},      {0x8, 3},    {0x10, 9},    {0x40, 3},    {0x80, 1},  {0x100, 1},
    {0x200, 1},  {0x100000, 1}, {0x400, 1},  {0x20, 1},    {0x40000, 3}, {0x800, 1}, {0x1000, 1},
    {0x2000, 3}, {0x4000, 3},   {0x8000, 1}, {0x10000, 1}, {0x80000, 2},
};
constexpr uint32_t kInstName = 0x20000;
inline const std::vector<FieldGroup> kCamGroups = {
    {0x1, 1},  {0x2, 3},  {0x4, 9},   {0x8, 1},   {0x10, 1},  {0x20, 1},
    {0x40, 4}, {0x80, 1}, {0x100, 3}, {0x400, 3}, {0x800, 9}, {0x1000, 2},
};
constexpr uint32_t kCamName = 0x200;
inline const std::vector<FieldGroup> kSceneGroups = {{0x1, 1}, {0x2, 1}};
constexpr uint32_t kSceneName = 0x4;
inline const std::vector<FieldGroup> kGenGroups = {
    {0x200, 1}, {0x1, 3}, {0x2, 9}, {0x4, 1}, {0x8, 1}, {0x10, 3}, {0x20, 3}, {0x40, 4}, {0x80, 1},
};
constexpr uint32_t kGenEmitters = 0x100;
inline const std::map<std::string, int> kTexFields = {
    {"RTRS", 10}, {"RTBA", 9}, {"RTBM", 9}, {"RTBB", 8}, {"RTCF", 6},
    {"RTCI", 6},  {"RTLI", 6}, {"RTSP", 4}, {"RTTX", 8}, {"RTRF", 6},
};

struct Record {
    std::string tag;
    uint32_t id = 0;
    uint32_t mask = 0;
    std::map<uint32_t, std::vector<int32_t>> fields;  // by mask bit
    bool hasName = false;
    std::string name;
    std::vector<int16_t> tex;  // texture records
    std::string text;
    const std::vector<int32_t>& F(uint32_t bit) const {
        static const std::vector<int32_t> none;
        auto it = fields.find(bit);
        return it == fields.end() ? none : it->second;
    }
};

struct Names {
    std::vector<std::string> bodies, cuts;
    std::vector<int> bodyLengths;  // the length bytes as written
};

struct Frame {
    uint32_t time = 0;
    std::vector<Names> names;
    std::vector<Record> records;
    // The records of one tag (and id, when given).
    std::vector<Record> Of(const std::string& tag, uint32_t id = 0) const {
        std::vector<Record> out;
        for (const Record& r : records)
            if (r.tag == tag && (!id || r.id == id)) out.push_back(r);
        return out;
    }
};

struct Recording {
    std::string magic;
    uint32_t version = 0, date = 0;
    Names names;
    std::vector<Frame> frames;  // frames[0]: the header's frame
    bool ended = false;         // "REND" read
    std::string error;          // where decoding stopped, empty when it read to the end
};

class Decoder {
public:
    explicit Decoder(std::vector<uint8_t> bytes) : b_(std::move(bytes)) {}

    Recording Run() {
        Recording out;
        out.magic = Tag();
        out.version = U32();
        out.date = U32();
        if (Tag() != "RNAM") return Fail(out, "no RNAM");
        out.names = NameBlock();
        while (ok_ && pos_ < b_.size()) {
            const std::string tag = Tag();
            if (!ok_) break;
            if (tag == "RFRA") {
                out.frames.emplace_back();
                out.frames.back().time = U32();
                continue;
            }
            if (out.frames.empty()) return Fail(out, "record before RFRA");
            Frame& f = out.frames.back();
            if (tag == "REND") {
                out.ended = true;
                if (pos_ != b_.size()) return Fail(out, "bytes after REND");
                break;
            }
            if (tag == "RNAM") {
                f.names.push_back(NameBlock());
                continue;
            }
            Record r;
            r.tag = tag;
            if (auto t = kTexFields.find(tag); t != kTexFields.end()) {
                for (int i = 0; i < t->second; ++i) r.tex.push_back(static_cast<int16_t>(U16()));
                if (tag == "RTTX") r.text = Bytes(static_cast<uint16_t>(r.tex.back()));
                f.records.push_back(r);
                continue;
            }
            r.id = U32();
            r.mask = U32();
            if (!(r.mask & B3D_REC_DELETED)) {
                if (tag == "RINS") Groups(&r, kInstGroups, kInstName);
                else if (tag == "RCAM") Groups(&r, kCamGroups, kCamName);
                else if (tag == "RSCE") Groups(&r, kSceneGroups, kSceneName);
                else if (tag == "RPGE") {
                    Groups(&r, kGenGroups, 0);
                    if (r.mask & kGenEmitters) {
                        const uint32_t n = U32();
                        std::vector<int32_t>& w = r.fields[kGenEmitters];
                        w.push_back(static_cast<int32_t>(n));
                        for (uint32_t i = 0; ok_ && i < n; ++i) w.push_back(static_cast<int32_t>(U32()));
                    }
                } else {
                    return Fail(out, "unknown tag " + tag);
                }
            }
            f.records.push_back(r);
        }
        if (!ok_) return Fail(out, "short");
        return out;
    }

private:
    Recording& Fail(Recording& r, const std::string& why) {
        r.error = why;
        return r;
    }
    bool Need(size_t n) {
        if (!ok_ || b_.size() - pos_ < n) ok_ = false;
        return ok_;
    }
    uint32_t U32() {
        if (!Need(4)) return 0;
        uint32_t v =
            (uint32_t{b_[pos_]} << 24) | (uint32_t{b_[pos_ + 1]} << 16) | (uint32_t{b_[pos_ + 2]} << 8) | b_[pos_ + 3];
        pos_ += 4;
        return v;
    }
    uint16_t U16() {
        if (!Need(2)) return 0;
        uint16_t v = static_cast<uint16_t>((b_[pos_] << 8) | b_[pos_ + 1]);
        pos_ += 2;
        return v;
    }
    std::string Bytes(size_t n) {
        if (!Need(n)) return {};
        std::string s(reinterpret_cast<const char*>(b_.data() + pos_), n);
        pos_ += n;
        return s;
    }
    std::string Tag() { return Bytes(4); }
    Names NameBlock() {
        Names n;
        for (auto* list : {&n.bodies, &n.cuts}) {
            const uint32_t count = U32();
            for (uint32_t i = 0; ok_ && i < count; ++i) {
                const int l = Need(1) ? b_[pos_++] : 0;
                if (list == &n.bodies) n.bodyLengths.push_back(l);
                list->push_back(Bytes(static_cast<size_t>(l)));
            }
        }
        return n;
    }
    void Groups(Record* r, const std::vector<FieldGroup>& groups, uint32_t nameBit) {
        for (const FieldGroup& g : groups) {
            if (!(r->mask & g.bit)) continue;
            std::vector<int32_t>& w = r->fields[g.bit];
            for (int i = 0; i < g.words; ++i) w.push_back(static_cast<int32_t>(U32()));
        }
        if (nameBit && (r->mask & nameBit)) {
            const uint32_t n = U32();
            r->hasName = n != 0;
            r->name = Bytes(n);
        }
    }

    std::vector<uint8_t> b_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// The bytes of a gzip file (or a plain one), uncompressed.
inline std::vector<uint8_t> Inflate(const std::string& path) {
    std::vector<uint8_t> out;
    gzFile f = gzopen(path.c_str(), "rb");
    if (!f) return out;
    uint8_t buf[4096];
    int n;
    while ((n = gzread(f, buf, sizeof buf)) > 0) out.insert(out.end(), buf, buf + n);
    gzclose(f);
    return out;
}

inline Recording Decode(const std::string& path) { return Decoder(Inflate(path)).Run(); }

}  // namespace rec

// A scene state in a temporary game folder (the working directory), with
// builders; recording and replay are stopped and the test's generators freed
// before the state goes.
class RecordingTest : public SceneTest {
protected:
    void SetUp() override {
        folder_ = std::make_unique<TempGameFolder>();
        SceneTest::SetUp();
        system_->realClock = 1000;
        system_->gameClock = 5000;
    }
    void TearDown() override {
        B3D_ExitRecording();
        B3D_ExitReplay();
        FreeGenerators();
        SceneTest::TearDown();
        folder_.reset();
    }
    // A fresh state, as a later run of the program would have it.
    void Restart() {
        B3D_ExitRecording();
        B3D_ExitReplay();
        FreeGenerators();
        B3D_FreeStore();
        g_B3DState = B3D_InitStore();
        ASSERT_NE(g_B3DState, nullptr);
        ASSERT_EQ(B3D_InitBodyIdTable(), 1);
        ASSERT_EQ(B3D_InitCutIdTable(), 1);
    }

    Scene3D* Scene(const char* name = nullptr) {
        Scene3D* s = B3D_SceneAlloc();
        if (name) s->name = Qel_StrDup(name);
        B3D_SceneEnable(s);
        return s;
    }
    Inst3D* Inst(Scene3D* scene, Inst3D* parent = nullptr, bool light = false) {
        Inst3D* i = light ? B3D_LightAlloc() : B3D_AllocInst();
        if (parent) Adopt(parent, i);
        else if (scene) PutInScene(scene, i);
        return i;
    }
    Camera3D* Camera(Scene3D* scene) {
        Camera3D* c = B3D_CameraAlloc();
        B3D_SceneLinkInst(scene, c);
        return c;
    }
    // Particle description `desc` with `emitters` emitters.
    void Desc(int32_t desc, int32_t emitters) {
        B3DParticleDesc& d = g_B3DState->particleDescs[desc];
        d.emitterCount = emitters;
        d.emitters = static_cast<B3DParticleEmitter*>(
            B3D_AllocMemB(emitters * static_cast<int32_t>(sizeof(B3DParticleEmitter)), B3D_MEM_ZERO));
    }
    ParticleGenerator* Generator(Scene3D* scene, int32_t desc) {
        auto* g = B3D_AllocRecordI<ParticleGenerator>();
        g->id = Qel_TableAdd(g_B3DState->generatorTable, reinterpret_cast<uintptr_t>(g));
        g->desc = desc;
        g->scene = scene;
        Qel_MatIdentity(&g->matrix);
        const int32_t n = g_B3DState->particleDescs[desc].emitterCount;
        if (n > 0) g->emitters = static_cast<B3DEmitterState*>(B3D_AllocMemI(n * int32_t(sizeof(B3DEmitterState))));
        B3D_ListAppend(&g_B3DState->generators, B3D_Node(g));
        return g;
    }
    void FreeGenerator(ParticleGenerator* g) {
        const int32_t n = g->desc >= 0 && g->desc < 100 ? g_B3DState->particleDescs[g->desc].emitterCount : 0;
        if (g->emitters) B3D_FreeMemI(n * int32_t(sizeof(B3DEmitterState)), g->emitters);
        B3D_ListRemove(B3D_Node(g));
        Qel_TableRemove(g_B3DState->generatorTable, g->id);
        B3D_FreeRecordI(g);
    }
    void FreeGenerators() {
        if (!g_B3DState) return;
        while (auto* g = B3D_First<ParticleGenerator>(&g_B3DState->generators)) FreeGenerator(g);
    }

    // One frame drawn at real time t.
    void Frame(int32_t t) {
        system_->realClock = t;
        B3D_RecordFrame();
    }
    rec::Recording Decoded(const std::string& name = "take") {
        return rec::Decode(folder_->Path() + "/" + name + ".rec");
    }

    std::unique_ptr<TempGameFolder> folder_;
};
