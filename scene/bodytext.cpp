// The text body reader. Two things the format leaves open are read this way,
// and the body converter writes them so:
// - the level list after "BODIES:" ends at a level distance of -1 (or at the
//   end of the text), so an embedded body can be followed by more of its file;
// - a polygon's 32-bit word (flag 0x10) carries the triangle word in its low
//   16 bits and the smoothing group in its high 16 bits (0: flat); a polygon
//   without the word is flat with triangle word 0.
#include "scene/bodytext.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/general.h"
#include "base/log.h"
#include "base/strings.h"
#include "base/texcache.h"
#include "base/vrmfile.h"
#include "scene/bodies.h"
#include "scene/texanim.h"
#include "scene/fxparams.h"
#include "scene/ids.h"
#include "scene/polybuild.h"
#include "scene/pools.h"

[[noreturn]] void P_Exit(int reason);

namespace {
constexpr int ROW_NAME = 2, ROW_SOUND = 4, ROW_MAT1 = 6, ROW_MAT6 = 10, ROW_BODIES = 11, ROW_BONES = 12,
              ROW_POINTS = 13, ROW_WEIGHTS = 14, ROW_PARTS = 15;
constexpr int kVersionOfRow[] = {1, 2, 3, 5, 6};

struct TextLoad {
    VRMFile* r;
    std::string file;
    Body3D* body;
};

[[noreturn]] void Exit(int reason, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void Exit(int reason, const char* fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    Qel_DPrintf(0, "%s", buf);
    P_Exit(reason);
}

[[noreturn]] void Invalid(const TextLoad& t, int row) {
    t.r->error = 1;
    // Where in the file the reading stopped, for whoever mends it.
    char* place = Qel_ReaderPlace(t.r);
    char where[400];
    std::snprintf(where, sizeof where, "%s", place ? place : "");
    Qel_StrFree(place);
    Exit(1, "B3D_LoadBody2: Error loading body file %s - invalid %s data\n%s\n", t.file.c_str(),
         g_VRMBodyTags[row].longName, where);
}

void Check(const TextLoad& t, int row) {
    if (t.r->error) Invalid(t, row);
}

bool AtEnd(VRMFile* r) {
    Qel_ReaderSkip(r);
    if (!r->cursor) return true;
    if (r->base && r->cursor >= r->base + r->size) return true;
    return *r->cursor == 0;
}

size_t BytesLeft(VRMFile* r) {
    if (!r->cursor) return 0;
    if (r->base) return r->cursor < r->base + r->size ? size_t(r->base + r->size - r->cursor) : 0;
    return strlen(reinterpret_cast<const char*>(r->cursor));
}

int16_t ReadTexture(VRMFile* r, int version) {
    if (version < 6) return r->ReadShort();
    char* name = r->ReadString();
    uint32_t id = name ? TC_GetTextureIdByName(name) : 0;
    Qel_StrFree(name);
    return id == 0xFFFF ? 0 : int16_t(id);
}

void ReadMaterial(TextLoad& t, BodyMaterial& m, int version) {
    VRMFile* r = t.r;
    m.id = uint16_t(r->ReadShort());
    if (version >= 6) {
        m.derivedIndex = 0xFFFF;
        m.flags = r->ReadUInt();
        if (m.flags & BMAT_EFFECT) {
            m.effect = B3DB_LoadShaderParams(r);
            B3D_MaterialReadTexAnim(&m);
            if (m.flags & BMAT_BUMP) t.body->flags |= BODY_BUMP_EFFECT;
            return;
        }
    }
    m.baseTexture = ReadTexture(r, version);
    if (version < 6)
        if (const TC_TextureInfo* def = B3D_MaterialDefinition(m.baseTexture)) m.flags = def->flags;
    for (uint16_t& w : m.colour) w = uint16_t(r->ReadShort());
    for (uint16_t& w : m.words) w = uint16_t(r->ReadShort());
    for (uint16_t& w : m.words2) w = uint16_t(r->ReadShort());
    if (r->ReadInt()) m.flags |= BMAT_FLAG_02;
    if (version < 3) return;
    if (r->ReadInt()) m.flags |= BMAT_FLAG_10;
    if (r->ReadInt()) m.flags |= BMAT_FLAG_08;
    m.value1 = uint16_t(r->ReadShort());
    m.texture2 = ReadTexture(r, version);
    m.value2 = uint16_t(r->ReadShort());
    m.texture3 = ReadTexture(r, version);
    m.value3 = uint16_t(r->ReadShort());
    if (version < 5) return;
    m.texture4 = ReadTexture(r, version);
    m.value4 = uint16_t(r->ReadShort());
    if (version < 6) return;
    m.texture5 = ReadTexture(r, version);
    m.value5 = uint16_t(r->ReadShort());
    m.texture6 = ReadTexture(r, version);
    m.value6 = uint16_t(r->ReadShort());
    m.flags |= BMAT_TEXTURES56;
}

// Reads the materials from the first material keyword on; answers the tag that ended them.
int ReadMaterials(TextLoad& t, int tag) {
    if (tag < ROW_MAT1 || tag > ROW_MAT6) return tag;
    const int row = tag;
    const int version = kVersionOfRow[row - ROW_MAT1];
    if (version == 6) t.body->flags |= BODY_MATERIAL6;
    std::vector<BodyMaterial> mats;
    while (tag == row) {
        if (int32_t(mats.size()) + 1 >= B3D_MAX_MATERIALS) Invalid(t, row);
        mats.emplace_back();
        ReadMaterial(t, mats.back(), version);
        t.body->materialCount = int32_t(mats.size());  // the free of a failed load sees the effect blocks
        Check(t, row);
        tag = t.r->ReadTag(0);
    }
    const int32_t bytes = int32_t(mats.size() * sizeof(BodyMaterial));
    t.body->materials = static_cast<BodyMaterial*>(B3D_AllocMemB(bytes, B3D_MEM_ZERO));
    if (!t.body->materials) P_Exit(3);
    memcpy(t.body->materials, mats.data(), size_t(bytes));
    return tag;
}

void ReadBones(TextLoad& t, BodyLevel* level, int32_t levelIndex) {
    VRMFile* r = t.r;
    const int32_t count = r->ReadInt();
    Check(t, ROW_BONES);
    // Every name takes at least two characters ("x;").
    if (count < 0 || size_t(count) > BytesLeft(r) / 2) Invalid(t, ROW_BONES);
    if (count == 0) return;
    level->boneNames = static_cast<char**>(B3D_AllocMemB(count * int32_t(sizeof(char*)), B3D_MEM_ZERO));
    if (!level->boneNames)
        Exit(3, "B3D_LoadBody2: Error loading body file %s - unable to allocate bone names in body %d\n",
             t.file.c_str(), levelIndex);
    level->boneCount = count;
    for (int32_t b = 0; b < count; ++b) level->boneNames[b] = r->ReadString();
    Check(t, ROW_BONES);
}

// Points as 16.16 (x, y, z, 0), normalised so that the largest coordinate is 1.0.
bool ReadPoints(TextLoad& t, std::vector<int32_t>& pts, int32_t levelIndex) {
    VRMFile* r = t.r;
    std::vector<int64_t> raw;
    int64_t maxd[3] = {0, 0, 0};
    for (;;) {
        const int64_t x = r->ReadInt(), y = r->ReadInt(), z = r->ReadInt();
        Check(t, ROW_POINTS);
        if (x == -1 && y == -1 && z == -1) break;
        const int64_t c[3] = {x, y, z};
        for (int i = 0; i < 3; ++i) {
            raw.push_back(c[i]);
            maxd[i] = std::max<int64_t>(maxd[i], std::llabs(c[i]));
        }
    }
    if (maxd[0] == 0 && maxd[1] == 0 && maxd[2] == 0) {
        Qel_DPrintf(0, "B3D_LoadBody2: Error loading body file %s - maxdistx = maxdisty = maxdistz = 0 in body %d\n",
                    t.file.c_str(), levelIndex);
        return false;
    }
    const int64_t m = std::max({maxd[0], maxd[1], maxd[2]});
    pts.assign(raw.size() / 3 * 4, 0);
    for (size_t p = 0; p < raw.size() / 3; ++p)
        for (int i = 0; i < 3; ++i) pts[4 * p + size_t(i)] = int32_t(raw[3 * p + size_t(i)] * 65536 / m);
    return true;
}

void ReadWeights(TextLoad& t, const BodyLevel* level, std::vector<B3DWeightRecord>& weights, size_t points) {
    VRMFile* r = t.r;
    weights.assign(points, B3DWeightRecord{});
    for (B3DWeightRecord& w : weights) {
        for (;;) {
            const int32_t bone = r->ReadInt();
            Check(t, ROW_WEIGHTS);
            if (bone == -1) break;
            const int32_t weight = r->ReadFixed();
            if (bone < 0 || bone >= level->boneCount) Invalid(t, ROW_WEIGHTS);
            // Pairs after the tenth are read and dropped.
            if (w.count < B3D_MAX_TEXT_WEIGHTS) w.pairs[w.count++] = BodyWeight{bone, weight};
        }
    }
    Check(t, ROW_WEIGHTS);
}

// The part's triangle arrays become its groups' triangles.
void FinishPart(BodyPart* part) {
    B3DPolyWork& w = g_B3DPolyWork;
    for (int32_t g = 0; g < part->groupCount; ++g) {
        BodyGroup& group = part->groups[g];
        group.triCount = w.triCount[g];
        if (group.triCount) {
            const int32_t bytes = group.triCount * int32_t(sizeof(BodyTriangle));
            group.tris = static_cast<BodyTriangle*>(B3D_AllocMemB(bytes, 0));
            if (!group.tris) P_Exit(3);
            memcpy(group.tris, w.tris[g], size_t(bytes));
        }
        B3D_FreeMemB(B3D_MAX_TRIANGLES * int32_t(sizeof(BodyTriangle)), w.tris[g], B3D_MEM_ZERO);
        w.tris[g] = nullptr;
        w.triCount[g] = 0;
    }
    part->flags |= BPART_LOADED;
    if (part->groupCount) part->flags |= BPART_HAS_GROUPS;
}

void ReadParts(TextLoad& t, BodyLevel* level, int32_t levelIndex, bool* uv2) {
    VRMFile* r = t.r;
    const char* file = t.file.c_str();
    for (int32_t p = 0;; ++p) {
        int32_t mat = r->ReadInt();
        Check(t, ROW_PARTS);
        if (mat == -99) return;
        if (p >= B3D_MAX_PARTS)
            Exit(1, "B3D_LoadBody2: Error loading body file %s - too many parts %d in body %d\n", file, p + 1,
                 levelIndex);
        BodyPart* part = B3D_AllocBodyPart(level);
        if (!part)
            Exit(3, "B3D_LoadBody2: Error loading body file %s - unable to allocate part %d in body %d\n", file, p,
                 levelIndex);
        for (int32_t q = 0; mat != -99; ++q) {
            if (q >= B3D_MAX_POLYS)
                Exit(1, "B3D_LoadBody2: Error loading body file %s - too many polys %d in body %d, part %d\n", file,
                     q + 1, levelIndex, p);
            if (mat < 0 || mat >= t.body->materialCount)
                Exit(1,
                     "B3D_LoadBody2: Error loading body file %s - wrong material number %d in body %d, part %d, poly "
                     "%d\n",
                     file, mat, levelIndex, p, q);
            B3DPoly poly{};
            poly.material = mat;
            int32_t end = 0;
            for (;;) {
                const int32_t v = r->ReadInt();
                Check(t, ROW_PARTS);
                if (v < 0) {
                    end = v;
                    break;
                }
                if (poly.n == 4)
                    Exit(1,
                         "B3D_LoadBody2: Error loading body file %s - too many vertices %d per poly in body %d, part "
                         "%d, poly %d\n",
                         file, poly.n + 1, levelIndex, p, q);
                if (v >= g_B3DPolyWork.pointCount)
                    Exit(1,
                         "B3D_LoadBody2: Error loading body file %s - error in body %d, part %d, poly %d, vertex %d\n",
                         file, levelIndex, p, q, poly.n);
                poly.v[poly.n++] = v;
            }
            const uint32_t flags = uint32_t(-int64_t(end)) & ~1u;
            if (poly.n >= 3) {
                uint32_t word = 0;
                if (flags & 0x10) word = r->ReadUInt();
                for (int set = 0; set < 2; ++set) {
                    if (!(flags & (set ? 0x80u : 0x08u))) continue;
                    if (set) *uv2 = true;
                    for (int k = 0; k < poly.n; ++k) {
                        poly.tex[set][2 * k] = r->ReadFixed();
                        poly.tex[set][2 * k + 1] = r->ReadFixed();
                    }
                }
                Check(t, ROW_PARTS);
                poly.triWord = uint16_t(word & 0xFFFF);
                poly.smoothGroup = int32_t(word >> 16);
                const int32_t added = B3D_AddPolyToBody(&poly, flags, part);
                if (added == 0)
                    Exit(1,
                         "B3D_LoadBody2: Error loading body file %s - B3D_AddPolyToBody failed in body %d, part %d\n",
                         file, levelIndex, p);
                if (added < 0)
                    Exit(1, "B3D_LoadBody2: Error loading body file %s - too many polys %d in body %d, part %d\n", file,
                         q + 1, levelIndex, p);
            }
            mat = r->ReadInt();
            Check(t, ROW_PARTS);
        }
        FinishPart(part);
    }
}

// The working vertices become the level's points.
void FinishLevel(BodyLevel* level, bool uv2) {
    B3DPolyWork& w = g_B3DPolyWork;
    const int32_t n = w.count;
    level->pointCount = n;
    if (n) {
        level->points = static_cast<BodyPoint*>(B3D_AllocMemB(n * int32_t(sizeof(BodyPoint)), B3D_MEM_ZERO));
        if (!level->points) P_Exit(3);
        if (uv2) {
            level->uv2 = static_cast<int32_t*>(B3D_AllocMemB(n * 8, B3D_MEM_ZERO));
            if (!level->uv2) P_Exit(3);
            level->flags |= BLEVEL_UV2;
        }
    }
    int32_t maxWeights = 0;
    for (int32_t i = 0; w.weights && i < n; ++i) maxWeights = std::max(maxWeights, w.weights[i].count);
    if (w.weights && n) {
        level->weightCounts = static_cast<int16_t*>(B3D_AllocMemB(n * 2, B3D_MEM_ZERO));
        level->weights =
            maxWeights
                ? static_cast<BodyWeight*>(B3D_AllocMemB(n * maxWeights * int32_t(sizeof(BodyWeight)), B3D_MEM_ZERO))
                : nullptr;
        if (!level->weightCounts || (maxWeights && !level->weights)) P_Exit(3);
        level->maxWeights = maxWeights;
    }
    for (int32_t i = 0; i < n; ++i) {
        B3DWorkVertex& v = w.vertices[i];
        BodyPoint& p = level->points[i];
        p.x = int16_t(v.pos[0] >> 2);
        p.y = int16_t(v.pos[1] >> 2);
        p.z = int16_t(v.pos[2] >> 2);
        B3D_VecNormalizeScaled(&v.normal[0], &v.normal[1], &v.normal[2]);
        p.nx = int16_t(v.normal[0] >> 2);
        p.ny = int16_t(v.normal[1] >> 2);
        p.nz = int16_t(v.normal[2] >> 2);
        p.u = v.tex[0];
        p.v = v.tex[2];
        if (level->uv2) {
            level->uv2[2 * i] = v.tex[1];
            level->uv2[2 * i + 1] = v.tex[3];
        }
        if (level->weightCounts) {
            level->weightCounts[i] = int16_t(w.weights[i].count);
            for (int32_t k = 0; k < w.weights[i].count; ++k) level->weights[i * maxWeights + k] = w.weights[i].pairs[k];
        }
    }
    for (int32_t p = 0; p < level->partCount; ++p) {
        BodyPart* part = level->parts[p];
        B3D_PartBoundingBox(level, part);
        B3D_PartCenter(part);
        part->radius = B3D_PartRadius(part);
    }
    B3D_LevelExtent(level, level->extent);
}

// Reads one level; false for a level whose points all lie at the origin.
bool ReadLevel(TextLoad& t, int32_t distance, int32_t levelIndex) {
    VRMFile* r = t.r;
    BodyLevel* level = B3D_AllocBodyLevel(t.body);
    if (!level)
        Exit(3, "B3D_LoadBody2: Error loading body file %s - unable to allocate body %d\n", t.file.c_str(), levelIndex);
    if (levelIndex == 0) {
        level->visDistance = distance;
        level->switchDistance = 10000;
    } else {
        level->switchDistance = distance;
        level->visDistance = t.body->levels[0]->visDistance;
    }
    int tag = r->ReadTag(0);
    if (tag == ROW_BONES) {
        ReadBones(t, level, levelIndex);
        tag = r->ReadTag(0);
    }
    if (tag != ROW_POINTS) Invalid(t, ROW_POINTS);
    std::vector<int32_t> pts;
    if (!ReadPoints(t, pts, levelIndex)) return false;
    std::vector<B3DWeightRecord> weights;
    tag = r->ReadTag(0);
    if (tag == ROW_WEIGHTS) {
        ReadWeights(t, level, weights, pts.size() / 4);
        tag = r->ReadTag(0);
    }
    if (tag != ROW_PARTS) Invalid(t, ROW_PARTS);
    B3D_PolyWorkFree();
    g_B3DPolyWork.points = pts.data();
    g_B3DPolyWork.pointCount = int32_t(pts.size() / 4);
    g_B3DPolyWork.pointWeights = weights.empty() ? nullptr : weights.data();
    bool uv2 = false;
    ReadParts(t, level, levelIndex, &uv2);
    FinishLevel(level, uv2);
    B3D_PolyWorkFree();
    return true;
}

}  // namespace

Body3D* B3D_LoadBody2(VRMFile* stream, int32_t bodyId, const char* name) {
    TextLoad t{stream, "embedded body", nullptr};
    if (!stream) {
        t.r = B3D_OpenBodyFile(bodyId, name, false, "B3D_LoadBody2", &t.file);
        if (!t.r) return nullptr;
    }
    t.body = static_cast<Body3D*>(B3D_AllocMemB(sizeof(Body3D), B3D_MEM_ZERO));
    if (!t.body)
        Exit(3, "B3D_LoadBody2: Error loading body file %s - unable to allocate body %d\n", t.file.c_str(), bodyId);
    Body3D* body = t.body;
    body->id = bodyId;
    if (B3D_BodyGetLoadMark(bodyId)) body->flags |= BODY_DUMMY;
    if (stream) body->name = Qel_StrReassign(nullptr, "embedded body");
    VRMFile* r = t.r;
    int tag = r->ReadTag(0);
    if (tag == ROW_NAME) {
        char* s = r->ReadString();
        Check(t, ROW_NAME);
        Qel_StrFree(body->name);
        body->name = s;
        tag = r->ReadTag(0);
    }
    if (tag == ROW_SOUND) {
        body->soundValue = r->ReadShort();
        body->soundFlags = r->ReadUInt();
        body->soundInts[0] = r->ReadInt();
        body->soundInts[1] = r->ReadInt();
        for (int32_t& f : body->soundFixed) f = r->ReadFixed();
        body->soundShorts[0] = r->ReadShort();
        body->soundShorts[1] = r->ReadShort();
        body->soundInts2[0] = r->ReadInt();
        body->soundInts2[1] = r->ReadInt();
        Check(t, ROW_SOUND);
        tag = r->ReadTag(0);
    }
    tag = ReadMaterials(t, tag);
    if (tag != ROW_BODIES) Invalid(t, ROW_BODIES);
    bool ok = true;
    for (int32_t level = 0; ok && !AtEnd(r); ++level) {
        const int32_t distance = r->ReadInt();
        Check(t, ROW_BODIES);
        if (distance == -1) break;
        ok = ReadLevel(t, distance, level);
    }
    if (!stream) Qel_CloseFileBuffer(r);
    if (!ok) {
        B3D_PolyWorkFree();
        B3D_FreeBody(body);
        return nullptr;
    }
    B3D_LinkBody(body);
    return body;
}
