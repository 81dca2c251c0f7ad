#include "tools/lib/bodyconv.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <vector>

#include "base/texcache.h"
#include "scene/bodybin.h"
#include "scene/bodyrecord.h"
#include "scene/bodytext.h"
#include "scene/fxparams.h"

namespace {
struct Param {
    std::string name, type;
    std::vector<std::string> values;
};

struct Material {
    std::string name, texture = "NULL", effect;
    std::string lightMap = "NULL";  // added to the lit colour as it is: the part glows with its picture
    // The colour and lighting words: by default a material that glows on its own.
    std::vector<long> colour{255, 255, 255, 128, 128, 128, 64, 64, 64, 0, 0, 0, 0};
    long flags = 0;
    int effectWord = 0;
    std::vector<Param> params;
};

struct Corner {
    int v, t, t2;
};

struct Face {
    int material;
    int smooth;
    std::vector<Corner> corners;
};

struct Level {
    int distance = 1000;
    std::vector<std::string> bones;
    std::vector<long> points;  // x, y, z
    std::vector<std::vector<std::pair<int, double>>> weights;
    std::vector<std::vector<Face>> parts{1};
};

long Scaled(double v) { return std::lround(v * 1024.0); }

std::string Fixed(double v) {
    char buf[32];
    snprintf(buf, sizeof buf, "%.6f", v);
    return buf;
}

const std::map<std::string, std::string> kTypes = {
    {"long", "SPTYPE_LONG"},     {"bool", "SPTYPE_BOOL"},     {"float", "SPTYPE_FLOAT"},  {"float2", "SPTYPE_FLOAT2"},
    {"float3", "SPTYPE_FLOAT3"}, {"float4", "SPTYPE_FLOAT4"}, {"string", "SPTYPE_STRING"}};

void WriteMaterial(std::ostringstream& o, const Material& m, int id) {
    o << "MATERIAL6:\n" << id << ";";
    if (!m.effect.empty()) {
        o << (m.flags | 0x2000000) << ";" << m.effectWord << ";" << m.effect << ";" << m.params.size() << ";\n";
        for (const Param& p : m.params) {
            o << p.name << ";" << kTypes.at(p.type) << ";";
            for (const std::string& v : p.values) o << v << ";";
            o << "\n";
        }
        return;
    }
    o << m.flags << ";" << m.texture << ";\n";
    for (long w : m.colour) o << w << ";";
    o << "\n0;0;0;\n";  // yes/no values
    o << "0;NULL;0;" << m.lightMap << ";0;NULL;0;NULL;0;NULL;0;\n";
}

void WritePair(std::ostringstream& o, const std::vector<double>& t, int index) {
    o << Fixed(t[2 * size_t(index)]) << ";" << Fixed(t[2 * size_t(index) + 1]) << ";";
}

void WriteLevel(std::ostringstream& o, const Level& l, const std::vector<double>& vt, const std::vector<double>& vt2) {
    o << l.distance << ";\n";
    if (!l.bones.empty()) {
        o << "BONES:\n" << l.bones.size() << ";";
        for (const std::string& b : l.bones) o << b << ";";
        o << "\n";
    }
    o << "POINTS:\n";
    for (size_t i = 0; i < l.points.size(); i += 3)
        o << l.points[i] << ";" << l.points[i + 1] << ";" << l.points[i + 2] << ";\n";
    o << "-1;-1;-1;\n";
    if (!l.bones.empty()) {
        o << "WEIGHTS:\n";
        for (size_t i = 0; i < l.points.size() / 3; ++i) {
            if (i < l.weights.size())
                for (const auto& [bone, w] : l.weights[i]) o << bone << ";" << Fixed(w) << ";";
            o << "-1;\n";
        }
    }
    o << "PARTS:\n";
    for (const auto& part : l.parts) {
        if (part.empty()) continue;
        for (const Face& f : part) {
            // Polygons of at most four corners: a fan of quads.
            for (size_t start = 1; start + 1 < f.corners.size(); start += 2) {
                std::vector<Corner> c{f.corners[0], f.corners[start], f.corners[start + 1]};
                if (start + 2 < f.corners.size()) c.push_back(f.corners[start + 2]);
                bool uv = true, uv2 = true;
                for (const Corner& k : c) {
                    uv = uv && k.t >= 0;
                    uv2 = uv2 && k.t2 >= 0;
                }
                // The polygon word: smoothing group in the high half, triangle word 0.
                const unsigned flags = 0x10 | (uv ? 0x08 : 0) | (uv2 ? 0x80 : 0);
                o << f.material << ";";
                for (const Corner& k : c) o << k.v << ";";
                o << -int(flags | 1) << ";" << ((unsigned(f.smooth) & 0xFFFF) << 16) << ";";
                if (uv)
                    for (const Corner& k : c) WritePair(o, vt, k.t);
                if (uv2)
                    for (const Corner& k : c) WritePair(o, vt2, k.t2);
                o << "\n";
            }
        }
        o << "-99;\n";
    }
    o << "-99;\n";
}
}  // namespace

bool Tool_ModelToTextBody(const std::string& source, std::string* text, std::string* error) {
    std::string name;
    std::vector<Material> mats;
    std::vector<Level> levels(1);
    std::vector<double> vt, vt2;
    int current = -1, smooth = 0;
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
        Level& lv = levels.back();
        if (key == "name") {
            ls >> name;
        } else if (key == "mtl") {
            mats.emplace_back();
            ls >> mats.back().name;
        } else if (key == "tex" || key == "lightmap" || key == "flags" || key == "effect" || key == "param" ||
                   key == "colour") {
            if (mats.empty()) return fail(key + " before any mtl");
            Material& m = mats.back();
            if (key == "tex") ls >> m.texture;
            else if (key == "lightmap") ls >> m.lightMap;
            else if (key == "flags") ls >> m.flags;
            else if (key == "effect") ls >> m.effect >> m.effectWord;
            else if (key == "colour") {
                std::vector<long> words;
                for (long w; ls >> w;) words.push_back(w);
                if (words.size() != m.colour.size()) return fail("colour takes 13 words");
                m.colour = words;
            } else {
                Param p;
                ls >> p.name >> p.type;
                if (!kTypes.count(p.type)) return fail("unknown parameter type " + p.type);
                for (std::string v; ls >> v;) p.values.push_back(v);
                m.params.push_back(p);
            }
        } else if (key == "usemtl") {
            std::string n;
            ls >> n;
            current = -1;
            for (size_t i = 0; i < mats.size(); ++i)
                if (mats[i].name == n) current = int(i);
            if (current < 0) {
                mats.emplace_back();
                mats.back().name = n;
                current = int(mats.size() - 1);
            }
        } else if (key == "lod") {
            levels.emplace_back();
            ls >> levels.back().distance;
        } else if (key == "bone") {
            lv.bones.emplace_back();
            ls >> lv.bones.back();
        } else if (key == "v") {
            double x, y, z;
            if (!(ls >> x >> y >> z)) return fail("v needs three numbers");
            for (double c : {x, y, z}) lv.points.push_back(Scaled(c));
        } else if (key == "vw") {
            if (lv.points.empty()) return fail("vw before any v");
            lv.weights.resize(lv.points.size() / 3);
            int bone;
            double w;
            while (ls >> bone >> w) lv.weights.back().emplace_back(bone, w);
        } else if (key == "vt" || key == "vt2") {
            double u, v;
            if (!(ls >> u >> v)) return fail(key + " needs two numbers");
            auto& t = key == "vt" ? vt : vt2;
            t.push_back(u);
            t.push_back(v);
        } else if (key == "s") {
            std::string s;
            ls >> s;
            smooth = (s == "off") ? 0 : std::atoi(s.c_str());
        } else if (key == "o" || key == "g") {
            if (!lv.parts.back().empty()) lv.parts.emplace_back();
        } else if (key == "f") {
            if (current < 0) {
                if (mats.empty()) {
                    mats.emplace_back();
                    mats.back().name = "default";
                }
                current = 0;
            }
            Face f{current, smooth, {}};
            for (std::string c; ls >> c;) {
                Corner k{-1, -1, -1};
                int* slot[3] = {&k.v, &k.t, &k.t2};
                std::istringstream cs(c);
                std::string part;
                for (int i = 0; i < 3 && std::getline(cs, part, '/'); ++i)
                    if (!part.empty()) *slot[i] = std::atoi(part.c_str()) - 1;
                if (k.v < 0 || size_t(k.v) >= lv.points.size() / 3) return fail("face corner " + c + " out of range");
                if (k.t >= 0 && size_t(k.t) >= vt.size() / 2) return fail("texture index " + c + " out of range");
                if (k.t2 >= 0 && size_t(k.t2) >= vt2.size() / 2) return fail("texture index " + c + " out of range");
                f.corners.push_back(k);
            }
            if (f.corners.size() < 3) return fail("a face needs three corners");
            lv.parts.back().push_back(f);
        } else {
            return fail("unknown statement " + key);
        }
    }
    if (mats.size() >= 100) return fail("more than 99 materials");
    std::ostringstream o;
    if (!name.empty()) o << "NAME:\n" << name << ";\n";
    for (size_t i = 0; i < mats.size(); ++i) WriteMaterial(o, mats[i], int(i));
    o << "BODIES:\n";
    for (const Level& l : levels) WriteLevel(o, l, vt, vt2);
    o << "-1;\n";
    *text = o.str();
    return true;
}

bool Tool_BodyTextToBinary(int id, std::string* error) {
    Body3D* body = B3D_LoadBody2(nullptr, id);
    if (!body) {
        *error = "cannot read the text body " + std::to_string(id);
        return false;
    }
    const bool ok = B3D_SaveBodyBin(body) == 1;
    B3D_FreeBody(body);
    if (!ok) *error = "cannot write the binary body " + std::to_string(id);
    return ok;
}

std::string Tool_DumpBody(const Body3D* body) {
    std::ostringstream o;
    char buf[200];
    o << "body " << body->id << " \"" << (body->name ? body->name : "") << "\" flags 0x" << std::hex
      << unsigned(body->flags) << std::dec << "\n";
    for (int32_t i = 0; i < body->materialCount; ++i) {
        const BodyMaterial& m = body->materials[i];
        snprintf(buf, sizeof buf, "material %d: id %u flags 0x%x texture %d \"%s\"", int(i), unsigned(m.id),
                 unsigned(m.flags), int(m.baseTexture), m.baseTexture > 0 ? TC_GetTextureName(m.baseTexture) : "");
        o << buf;
        if (m.effect) {
            o << " effect \"" << (m.effect->effectName ? m.effect->effectName : "") << "\"";
            for (int16_t k = 0; k < m.effect->count; ++k)
                o << " " << (m.effect->params[k].name ? m.effect->params[k].name : "") << ":"
                  << m.effect->params[k].type;
        }
        o << "\n";
    }
    for (int32_t l = 0; l < body->levelCount; ++l) {
        const BodyLevel* level = body->levels[l];
        snprintf(buf, sizeof buf, "level %d: distance %d switch %d flags 0x%x extent %d %d %d\n", int(l),
                 int(level->visDistance), int(level->switchDistance), unsigned(level->flags), int(level->extent[0]),
                 int(level->extent[1]), int(level->extent[2]));
        o << buf;
        for (int32_t b = 0; b < level->boneCount; ++b) o << "  bone " << b << " " << level->boneNames[b] << "\n";
        for (int32_t i = 0; i < level->pointCount; ++i) {
            const BodyPoint& p = level->points[i];
            snprintf(buf, sizeof buf, "  point %d: %d %d %d normal %d %d %d uv %d %d", int(i), p.x, p.y, p.z, p.nx,
                     p.ny, p.nz, int(p.u), int(p.v));
            o << buf;
            if (level->uv2) o << " uv2 " << level->uv2[2 * i] << " " << level->uv2[2 * i + 1];
            for (int16_t k = 0; level->weightCounts && k < level->weightCounts[i]; ++k) {
                const BodyWeight& w = level->weights[i * level->maxWeights + k];
                o << " w " << w.bone << ":" << w.weight;
            }
            o << "\n";
        }
        for (int32_t p = 0; p < level->partCount; ++p) {
            const BodyPart* part = level->parts[p];
            snprintf(buf, sizeof buf, "  part %d: flags 0x%x groups %d box %d %d %d size %d %d %d\n", int(p),
                     unsigned(part->flags), int(part->groupCount), int(part->boxCentre[0]), int(part->boxCentre[1]),
                     int(part->boxCentre[2]), int(part->boxSize[0]), int(part->boxSize[1]), int(part->boxSize[2]));
            o << buf;
            for (int32_t g = 0; g < part->groupCount; ++g) {
                const BodyGroup& group = part->groups[g];
                o << "    group " << g << ": material " << group.material << " triangles " << group.triCount << "\n";
                for (int32_t t = 0; t < group.triCount; ++t)
                    o << "      " << group.tris[t].v[0] << " " << group.tris[t].v[1] << " " << group.tris[t].v[2]
                      << " word " << group.tris[t].word << "\n";
            }
        }
    }
    return o.str();
}
