#include "tools/lib/cutconv.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "base/file.h"
#include "base/vrmfile.h"
#include "scene/bodybin.h"
#include "scene/bodyrecord.h"
#include "scene/bodytext.h"
#include "scene/records.h"
#include "tools/lib/bodyconv.h"

namespace {

struct Value {
    bool fixed;
    int32_t v;
};

struct Key {
    uint32_t kind;
    int32_t duration;
    std::vector<Value> values;
};

struct Path {
    int32_t number = 0;
    std::string reference, name, ref;
    int32_t value1 = 0, value2 = -1;
    bool hasValue1 = false, hasValue2 = false;
    std::vector<std::string> letters;
    std::vector<std::pair<int32_t, int32_t>> constraints;
    std::vector<int32_t> matrix;
    std::vector<std::pair<int32_t, std::string>> notes;
    std::vector<Key> keys;
    bool hasBody = false;
    int32_t bodyNumber = 0;
    std::string bodyText;  // the text body
};

struct Cut {
    int version = 6;
    std::string info;
    std::vector<Path> paths;
};

int32_t ToFixed(double v) { return int32_t(std::lround(v * 65536.0)); }

std::string Fixed(int32_t v) {
    char buf[32];
    snprintf(buf, sizeof buf, "%.6f", v / 65536.0);
    return buf;
}

// The fields a key line carries after its kind, in the reader's order: true
// for a 16.16 value, false for an integer (the duration and the skipped word
// follow).
std::vector<bool> KeyLayout(uint32_t f) {
    std::vector<bool> l;
    auto add = [&](int n, bool fixed) { l.insert(l.end(), size_t(n), fixed); };
    if (!(f & 0x10)) {
        add(3, false);
        if (f & 0x4000) add(5, true);
    }
    if (f & 0x8) {
        if (!(f & 0x40)) add(3, false);
        if (!(f & 0x20)) add(1, true);
    } else if (f & 0x20) {
    } else if (f & 0x2) {
        add(4, true);
        if (f & 0x8000) add(5, true);
    } else if (!(f & 0x200)) {
        add(3, true);
    }
    if ((f & 0x200) && !(f & 0x400)) add(3, true);
    if ((f & 0x800) && !(f & 0x1000)) add(1, true);
    return l;
}

const char* const kLetters[] = {"c", "l", "ld", "f", "s", "p", "j", "b"};
const uint32_t kLetterBits[] = {0x01, 0x02, 0x04, 0x20, 0x200, 0x100, 0x80, 0};

bool ParseInt(const std::string& s, int32_t* v) {
    char* end = nullptr;
    const long long n = std::strtoll(s.c_str(), &end, 0);
    if (s.empty() || *end) return false;
    *v = int32_t(n);
    return true;
}

bool Parse(const std::string& source, Cut* cut, std::string* error) {
    std::istringstream in(source);
    std::string line;
    int lineNo = 0;
    auto fail = [&](const std::string& what) {
        *error = "line " + std::to_string(lineNo) + ": " + what;
        return false;
    };
    while (std::getline(in, line)) {
        ++lineNo;
        if (size_t hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        std::istringstream ls(line);
        std::string key;
        if (!(ls >> key)) continue;
        if (key == "version") {
            if (!(ls >> cut->version)) return fail("version needs a number");
            continue;
        }
        if (key == "info") {
            std::getline(ls >> std::ws, cut->info);
            continue;
        }
        if (key == "path") {
            cut->paths.emplace_back();
            std::string number;
            if (!(ls >> number >> cut->paths.back().reference) || !ParseInt(number, &cut->paths.back().number))
                return fail("path needs a number and a reference");
            continue;
        }
        if (cut->paths.empty()) return fail(key + " before any path");
        Path& p = cut->paths.back();
        std::vector<std::string> words;
        for (std::string w; ls >> w;) words.push_back(w);
        if (key == "value1" || key == "value2") {
            int32_t v;
            if (words.size() != 1 || !ParseInt(words[0], &v)) return fail(key + " needs a number");
            (key == "value1" ? p.value1 : p.value2) = v;
            (key == "value1" ? p.hasValue1 : p.hasValue2) = true;
        } else if (key == "name" || key == "ref") {
            if (words.size() != 1) return fail(key + " needs one name");
            (key == "name" ? p.name : p.ref) = words[0];
        } else if (key == "flags") {
            for (const std::string& w : words) {
                bool known = false;
                for (const char* l : kLetters) known = known || w == l;
                if (!known) return fail("unknown path flag " + w);
                p.letters.push_back(w);
            }
        } else if (key == "constraint") {
            int32_t v;
            if (words.size() != 2 || !ParseInt(words[0], &v)) return fail("constraint needs a number and a value");
            p.constraints.emplace_back(v, ToFixed(std::atof(words[1].c_str())));
        } else if (key == "matrix") {
            if (words.size() != 9) return fail("matrix needs nine values");
            for (const std::string& w : words) p.matrix.push_back(ToFixed(std::atof(w.c_str())));
        } else if (key == "note") {
            int32_t frame;
            if (words.empty() || !ParseInt(words[0], &frame)) return fail("note needs a frame");
            std::string text;
            for (size_t i = 1; i < words.size(); ++i) text += (i > 1 ? " " : "") + words[i];
            p.notes.emplace_back(frame, text);
        } else if (key == "key") {
            Key k{};
            int32_t kind;
            if (words.size() < 2 || !ParseInt(words[0], &kind) || !ParseInt(words[1], &k.duration))
                return fail("key needs its flags and duration");
            k.kind = uint32_t(kind);
            const std::vector<bool> layout = KeyLayout(k.kind);
            if (words.size() - 2 != layout.size())
                return fail("key " + words[0] + " takes " + std::to_string(layout.size()) + " values");
            for (size_t i = 0; i < layout.size(); ++i) {
                Value v{layout[i], 0};
                if (layout[i]) v.v = ToFixed(std::atof(words[i + 2].c_str()));
                else if (!ParseInt(words[i + 2], &v.v)) return fail("key value " + words[i + 2] + " is no integer");
                k.values.push_back(v);
            }
            p.keys.push_back(k);
        } else if (key == "body") {
            if (words.size() != 1 || !ParseInt(words[0], &p.bodyNumber)) return fail("body needs a number");
            std::string model;
            const int start = lineNo;
            bool ended = false;
            while (std::getline(in, line)) {
                ++lineNo;
                std::istringstream bs(line);
                std::string first;
                if ((bs >> first) && first == "endbody") {
                    ended = true;
                    break;
                }
                model += line + "\n";
            }
            if (!ended) return fail("body of line " + std::to_string(start) + " has no endbody");
            std::string bodyError;
            if (!Tool_ModelToTextBody(model, &p.bodyText, &bodyError)) return fail("body: " + bodyError);
            p.hasBody = true;
        } else {
            return fail("unknown statement " + key);
        }
    }
    return true;
}

uint32_t FlagBits(const Path& p) {
    uint32_t f = 0;
    for (const std::string& l : p.letters)
        for (size_t i = 0; i < std::size(kLetters); ++i)
            if (l == kLetters[i]) f |= kLetterBits[i];
    return f;
}

}  // namespace

bool Tool_CutSourceToText(const std::string& source, std::string* text, std::string* error) {
    Cut cut;
    if (!Parse(source, &cut, error)) return false;
    std::ostringstream o;
    o << "VER: " << cut.version << ";\n";
    for (const Path& p : cut.paths) {
        o << "P " << p.number << "; B " << p.reference << ";\n";
        if (p.hasValue1) o << "C " << p.value1 << ";\n";
        if (p.hasValue2) o << "F " << p.value2 << ";\n";
        if (!p.name.empty()) o << "N " << p.name << ";\n";
        if (!p.ref.empty()) o << "E " << p.ref << ";\n";
        if (!p.letters.empty()) {
            for (const std::string& l : p.letters) o << l << " ";
            o << "\n";
        }
        if (!p.constraints.empty()) {
            o << "K " << p.constraints.size() << ";";
            for (const auto& [v, f] : p.constraints) o << " " << v << "; " << Fixed(f) << ";";
            o << "\n";
        }
        if (!p.matrix.empty()) {
            o << "M";
            for (int32_t v : p.matrix) o << " " << Fixed(v) << ";";
            o << "\n";
        }
        if (!p.notes.empty()) {
            o << "T";
            for (const auto& [frame, note] : p.notes) o << " " << frame << "; " << note << ";";
            o << " -1;\n";
        }
        if (p.hasBody) o << "L " << p.bodyNumber << "; {\n" << p.bodyText << "}\n";
        for (const Key& k : p.keys) {
            o << "{ ";
            if (cut.version >= 2) {
                char kind[16];
                snprintf(kind, sizeof kind, "0x%x", unsigned(k.kind));
                o << kind << "; ";
            }
            for (const Value& v : k.values) o << (v.fixed ? Fixed(v.v) : std::to_string(v.v)) << "; ";
            o << k.duration << "; 0; }\n";
        }
    }
    *text = o.str();
    return true;
}

bool Tool_WriteBinaryCut(const std::string& source, int version, const char* fileName, std::string* error) {
    Cut cut;
    if (!Parse(source, &cut, error)) return false;
    constexpr int ROW_CUT = 1, ROW_NAME = 2, ROW_VERS = 3, ROW_PATH = 4, ROW_STAT = 5, ROW_NOTE = 6, ROW_CONS = 7,
                  ROW_INFO = 9;
    // The bodies first: a failure leaves no file behind.
    std::vector<Body3D*> bodies(cut.paths.size(), nullptr);
    auto freeBodies = [&] {
        for (Body3D* b : bodies)
            if (b) B3D_FreeBody(b);
    };
    for (size_t i = 0; i < cut.paths.size(); ++i) {
        const Path& p = cut.paths[i];
        if (version < 6 && !p.hasBody) {
            int32_t v;
            if (!ParseInt(p.ref.empty() ? p.reference : p.ref, &v)) {
                freeBodies();
                *error = "version " + std::to_string(version) + " needs numbers as references (path " +
                         std::to_string(p.number) + ")";
                return false;
            }
        }
        if (!p.hasBody) continue;
        VRMFile reader{};
        Qel_ReaderInit(&reader, p.bodyText.c_str(), 0);
        // A scratch id no body of a game has.
        bodies[i] = B3D_LoadBody2(&reader, -999999 - int32_t(i));
        if (!bodies[i]) {
            freeBodies();
            *error = "the body of path " + std::to_string(p.number) + " does not load";
            return false;
        }
    }
    VRMFile* w = Qel_StreamCreate(fileName, 0, 0, 1, g_VRMCutTags, 11);
    if (!w || w->error) {
        Qel_CloseFileBuffer(w);
        freeBodies();
        *error = std::string("cannot write ") + fileName;
        return false;
    }
    w->WriteTag(ROW_CUT, 1);
    if (!cut.info.empty()) {
        w->WriteTag(ROW_INFO, 1);
        w->WriteString(cut.info.c_str());
        w->WriteTag(ROW_INFO, 0);
    } else {
        w->WriteTag(ROW_VERS, 1);
    }
    w->WriteInt(version, nullptr);
    w->WriteInt(int32_t(cut.paths.size()), nullptr);
    for (size_t i = 0; i < cut.paths.size(); ++i) {
        const Path& p = cut.paths[i];
        // A path with a body refers to it by its number.
        const std::string reference = p.hasBody ? std::to_string(p.bodyNumber) : p.ref.empty() ? p.reference : p.ref;
        w->WriteTag(ROW_PATH, 1);
        w->WriteInt(p.number, nullptr);
        if (version >= 6) {
            w->WriteString(reference.c_str());
        } else {
            int32_t v = 0;
            ParseInt(reference, &v);
            w->WriteInt(v, nullptr);
        }
        w->WriteInt(p.value1, nullptr);
        w->WriteInt(p.value2, nullptr);
        w->WriteUInt(FlagBits(p), nullptr);
        if (!p.name.empty()) {
            w->WriteTag(ROW_NAME, 1);
            w->WriteString(p.name.c_str());
            w->WriteTag(ROW_NAME, 0);
        }
        if (!p.constraints.empty()) {
            w->WriteTag(ROW_CONS, 1);
            w->WriteInt(int32_t(p.constraints.size()), nullptr);
            for (const auto& [v, f] : p.constraints) {
                w->WriteInt(v, nullptr);
                w->WriteFixed(f, nullptr);
            }
            w->WriteTag(ROW_CONS, 0);
        }
        if (bodies[i]) {
            w->tags = g_VRMBodyTags;
            w->rowCount = 18;
            B3D_WriteBodyChunks(w, bodies[i]);
            w->tags = g_VRMCutTags;
            w->rowCount = 11;
        }
        w->WriteInt(int32_t(p.notes.size()), nullptr);
        if (!p.notes.empty()) {
            w->WriteTag(ROW_NOTE, 1);
            for (const auto& [frame, note] : p.notes) {
                w->WriteInt(frame, nullptr);
                w->WriteString(note.c_str());
            }
            w->WriteTag(ROW_NOTE, 0);
        }
        w->WriteInt(int32_t(p.keys.size()), nullptr);
        if (!p.keys.empty()) {
            w->WriteTag(ROW_STAT, 1);
            for (const Key& k : p.keys) {
                w->WriteUInt(k.kind, nullptr);
                for (const Value& v : k.values) {
                    if (v.fixed) w->WriteFixed(v.v, nullptr);
                    else w->WriteInt(v.v, nullptr);
                }
                w->WriteInt(k.duration, nullptr);
                w->WriteInt(0, nullptr);
            }
            w->WriteTag(ROW_STAT, 0);
        }
        w->WriteTag(ROW_PATH, 0);
    }
    w->WriteTag(ROW_CUT, 0);
    bool ok = !w->error;
    ok = Qel_fclose(w->out) == 0 && ok;
    w->out = nullptr;
    Qel_CloseFileBuffer(w);
    freeBodies();
    if (!ok) *error = std::string("cannot write ") + fileName;
    return ok;
}

std::string Tool_DumpCut(const J3D_Cut* cut, uint32_t mask) {
    std::ostringstream o;
    char buf[400];
    snprintf(buf, sizeof buf, "cut %u paths %d flags 0x%x\n", unsigned(cut->id), int(cut->pathCount),
             unsigned(cut->flags));
    o << buf;
    auto motion = [&](const char* what, int32_t count, const J3D_MotionKey* keys) {
        for (int32_t i = 0; i < count; ++i) {
            const J3D_MotionKey& k = keys[i];
            snprintf(buf, sizeof buf,
                     "  %s %d: t %d flags 0x%x spline %d %d %d %d %d value %d %d %d axis %d %d %d quat %d %d %d %d "
                     "in %d %d %d out %d %d %d\n",
                     what, int(i), int(k.time), unsigned(k.flags & mask), k.spline[0], k.spline[1], k.spline[2],
                     k.spline[3], k.spline[4], k.value[0], k.value[1], k.value[2], k.axis[0], k.axis[1], k.axis[2],
                     k.quat[0], k.quat[1], k.quat[2], k.quat[3], k.inTangent.x, k.inTangent.y, k.inTangent.z,
                     k.outTangent.x, k.outTangent.y, k.outTangent.z);
            o << buf;
        }
    };
    for (int32_t i = 0; i < cut->pathCount; ++i) {
        const J3D_CutPath& p = cut->paths[i];
        snprintf(buf, sizeof buf, "path %d: number %d reference %d values %d %d flags 0x%x name \"%s\"\n", int(i),
                 int(p.pathNr), int(p.reference), int(p.value1), int(p.value2), unsigned(p.flags),
                 p.name ? p.name : "");
        o << buf;
        for (int32_t c = 0; c < p.constraintCount; ++c)
            o << "  constraint " << p.constraints[c].value << " " << p.constraints[c].fixed << "\n";
        for (int32_t n = 0; n < p.noteCount; ++n)
            o << "  note " << p.notes[n].time << " \"" << (p.notes[n].text ? p.notes[n].text : "(none)") << "\"\n";
        motion("position", p.posCount, p.posKeys);
        motion("rotation", p.rotCount, p.rotKeys);
        motion("target", p.targetCount, p.targetKeys);
        for (int32_t k = 0; k < p.rollCount; ++k)
            o << "  roll " << k << ": t " << p.rollKeys[k].time << " flags 0x" << std::hex
              << (p.rollKeys[k].flags & mask) << std::dec << " " << p.rollKeys[k].roll << "\n";
        for (int32_t k = 0; k < p.colorCount; ++k)
            o << "  colour " << k << ": t " << p.colorKeys[k].time << " flags 0x" << std::hex
              << (p.colorKeys[k].flags & mask) << std::dec << " " << p.colorKeys[k].rgb[0] << " "
              << p.colorKeys[k].rgb[1] << " " << p.colorKeys[k].rgb[2] << "\n";
        for (int32_t k = 0; k < p.fovCount; ++k)
            o << "  fov " << k << ": t " << p.fovKeys[k].time << " flags 0x" << std::hex << (p.fovKeys[k].flags & mask)
              << std::dec << " " << p.fovKeys[k].value << "\n";
    }
    return o.str();
}
