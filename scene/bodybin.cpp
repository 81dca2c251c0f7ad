#include "scene/bodybin.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/general.h"
#include "base/log.h"
#include "base/strings.h"
#include "base/texcache.h"
#include "base/vrmfile.h"
#include "scene/bodies.h"
#include "scene/fxparams.h"
#include "scene/ids.h"
#include "scene/polybuild.h"
#include "scene/pools.h"
#include "scene/texanim.h"

[[noreturn]] void P_Exit(int reason);

namespace {
constexpr int ROW_BOB = 1, ROW_NAME = 2, ROW_VERS = 3, ROW_SND = 4, ROW_MAT1 = 6, ROW_MAT2 = 7, ROW_MAT3 = 8,
              ROW_MAT5 = 9, ROW_MAT6 = 10, ROW_BODY = 11, ROW_BONE = 12, ROW_POIN = 13, ROW_WEIG = 14, ROW_PART = 15,
              ROW_INFO = 16;

struct BinLoad {
    VRMFile* r;
    std::string file;
    Body3D* body;
};

// A failed load: the message, the stream's error flag, and false.
bool Fail(BinLoad& t, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
bool Fail(BinLoad& t, const char* fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    Qel_DPrintf(0, "%s", buf);
    t.r->error = 1;
    return false;
}

bool Invalid(BinLoad& t, int row, int32_t level) {
    char* place = Qel_ReaderPlace(t.r);
    char where[400];
    snprintf(where, sizeof where, "%s", place ? place : "");
    Qel_StrFree(place);
    return Fail(t, "B3D_LoadBodyBin: Error loading body file %s - invalid %s data in body %d\n%s\n", t.file.c_str(),
                g_VRMBodyTags[row].longName, level, where);
}

[[noreturn]] void OutOfMemory(const BinLoad& t, const char* what, int32_t a = 0, int32_t b = 0, int32_t c = 0) {
    char fmt[300];
    snprintf(fmt, sizeof fmt, "B3D_LoadBodyBin: Error loading body file %%s - %s\n", what);
    Qel_DPrintf(0, fmt, t.file.c_str(), a, b, c);
    P_Exit(3);
}

size_t BytesLeft(const VRMFile* r) {
    if (!r->cursor) return 0;
    if (!r->base) return SIZE_MAX;
    return r->cursor < r->base + r->size ? size_t(r->base + r->size - r->cursor) : 0;
}

// A count that the bytes left can hold at the given bytes per element.
bool CountFits(const VRMFile* r, int64_t count, size_t bytesEach) {
    return !r->error && count >= 0 && uint64_t(count) <= BytesLeft(r) / bytesEach;
}

template <class T>
T* AllocArray(int64_t count) {
    return count ? static_cast<T*>(B3D_AllocMemB(int32_t(count * int64_t(sizeof(T))), B3D_MEM_ZERO)) : nullptr;
}

// The end tag of a chunk.
bool EndOf(BinLoad& t, int row) {
    const int32_t depth = t.r->depth;
    const int got = t.r->ReadTag(row);
    if (t.r->error || got != row || t.r->depth >= depth)
        return Fail(t, "B3D_LoadBodyBin: Error loading body file %s - chunk end mismatch in %s\n", t.file.c_str(),
                    g_VRMBodyTags[row].longName);
    return true;
}

std::string TagText(const VRMFile* r) {
    std::string s;
    for (size_t i = 0; i < 4 && i < BytesLeft(r); ++i) s += char(r->cursor[i]);
    return s;
}

int16_t ReadTexture(VRMFile* r, int version) {
    if (version < 6) return r->ReadShort();
    char* name = r->ReadString();
    uint32_t id = name ? TC_GetTextureIdByName(name) : 0;
    Qel_StrFree(name);
    return id == 0xFFFF ? 0 : int16_t(id);
}

bool ReadMaterials(BinLoad& t, int version) {
    VRMFile* r = t.r;
    Body3D* body = t.body;
    const int32_t count = r->ReadInt();
    // Every material takes at least its id and one more field.
    if (!CountFits(r, count, 4)) return Invalid(t, ROW_MAT1 + (version == 3 ? 2 : version == 5 ? 3 : 4), 0);
    if (body->materials) {
        for (int32_t m = 0; m < body->materialCount; ++m) B3D_FreeFXEffectBlock(body->materials[m].effect);
        B3D_FreeMemB(body->materialCount * int32_t(sizeof(BodyMaterial)), body->materials, B3D_MEM_ZERO);
        body->materials = nullptr;
        body->materialCount = 0;
    }
    body->materials = AllocArray<BodyMaterial>(count);
    if (count && !body->materials) OutOfMemory(t, "unable to allocate materials");
    body->materialCount = count;
    if (version >= 6) body->flags |= BODY_MATERIAL6;
    for (int32_t i = 0; i < count && !r->error; ++i) {
        BodyMaterial& m = body->materials[i];
        m.id = uint16_t(r->ReadShort());
        if (version >= 6) {
            m.flags = r->ReadUInt();
            if (m.flags & BMAT_EFFECT) {
                m.effect = B3DB_LoadShaderParams(r);
                B3D_MaterialReadTexAnim(&m);
                if (m.flags & BMAT_BUMP) body->flags |= BODY_BUMP_EFFECT;
                continue;
            }
        }
        m.baseTexture = ReadTexture(r, version);
        if (version < 6)
            if (const TC_TextureInfo* def = B3D_MaterialDefinition(m.baseTexture)) m.flags = def->flags;
        for (uint16_t& w : m.colour) w = uint16_t(r->ReadShort());
        m.derivedIndex = uint16_t(r->ReadShort());
        for (uint16_t& w : m.words) w = uint16_t(r->ReadShort());
        for (uint16_t& w : m.words2) w = uint16_t(r->ReadShort());
        if (version < 6) m.flags |= uint16_t(r->ReadShort());
        m.value1 = uint16_t(r->ReadShort());
        m.texture2 = ReadTexture(r, version);
        m.value2 = uint16_t(r->ReadShort());
        m.texture3 = ReadTexture(r, version);
        m.value3 = uint16_t(r->ReadShort());
        m.texture4 = ReadTexture(r, version);
        m.value4 = uint16_t(r->ReadShort());
        if (version >= 6) {
            m.texture5 = ReadTexture(r, version);
            m.value5 = uint16_t(r->ReadShort());
            m.texture6 = ReadTexture(r, version);
            m.value6 = uint16_t(r->ReadShort());
            m.flags |= BMAT_TEXTURES56;
        } else {
            m.texture5 = m.texture6 = 0;
            m.value5 = m.value6 = 0;
        }
    }
    return !r->error || Invalid(t, ROW_MAT3, 0);
}

bool ReadBones(BinLoad& t, BodyLevel* level, int32_t l) {
    VRMFile* r = t.r;
    const int32_t count = r->ReadInt();
    if (!CountFits(r, count, 1)) return Invalid(t, ROW_BONE, l);
    if (count) {
        level->boneNames = AllocArray<char*>(count);
        if (!level->boneNames) OutOfMemory(t, "unable to allocate bone names in body %d", l);
        level->boneCount = count;
        for (int32_t b = 0; b < count; ++b) level->boneNames[b] = r->ReadString();
    }
    return (!r->error || Invalid(t, ROW_BONE, l)) && EndOf(t, ROW_BONE);
}

bool ReadPoints(BinLoad& t, BodyLevel* level, int32_t l) {
    VRMFile* r = t.r;
    const int32_t count = r->ReadInt();
    if (!CountFits(r, count, 2)) return Invalid(t, ROW_POIN, l);
    level->points = AllocArray<BodyPoint>(count);
    if (count && !level->points) OutOfMemory(t, "unable to allocate points in body %d", l);
    level->pointCount = count;
    for (int32_t i = 0; i < count && !r->error; ++i) {
        BodyPoint& p = level->points[i];
        const uint16_t mask = uint16_t(r->ReadShort());
        if (mask & 0x01) {
            p.x = int16_t(r->ReadFixed() >> 2);
            p.y = int16_t(r->ReadFixed() >> 2);
            p.z = int16_t(r->ReadFixed() >> 2);
        }
        if (mask & 0x02) {
            p.u = r->ReadFixed();
            p.v = r->ReadFixed();
            if (mask & 0x04) {
                if (!level->uv2) {
                    level->uv2 = AllocArray<int32_t>(int64_t(count) * 2);
                    if (!level->uv2) OutOfMemory(t, "unable to allocate texture coordinates in body %d", l);
                    level->flags |= BLEVEL_UV2;
                }
                level->uv2[2 * i] = r->ReadFixed();
                level->uv2[2 * i + 1] = r->ReadFixed();
            }
        }
        if (mask & 0x08) {
            p.nx = int16_t(r->ReadFixed() >> 2);
            p.ny = int16_t(r->ReadFixed() >> 2);
            p.nz = int16_t(r->ReadFixed() >> 2);
        }
        if (mask & 0x10) p.word = r->ReadUInt();
    }
    return (!r->error || Invalid(t, ROW_POIN, l)) && EndOf(t, ROW_POIN);
}

bool ReadWeights(BinLoad& t, BodyLevel* level, int32_t l) {
    VRMFile* r = t.r;
    const int32_t count = r->ReadInt();
    if (r->error) return Invalid(t, ROW_WEIG, l);
    if (count != level->pointCount)
        return Fail(t,
                    "B3D_LoadBodyBin: Error loading body file %s - number of bone weights %d does not match number "
                    "of points %d in body %d\n",
                    t.file.c_str(), count, level->pointCount, l);
    std::vector<std::vector<BodyWeight>> all(size_t(std::max(count, 0)));
    int32_t maxWeights = 0;
    for (auto& pairs : all) {
        const int16_t n = r->ReadShort();
        if (!CountFits(r, n, 6)) return Invalid(t, ROW_WEIG, l);
        for (int16_t k = 0; k < n; ++k) {
            const int32_t bone = uint16_t(r->ReadShort());
            const int32_t weight = r->ReadFixed();
            if (bone >= level->boneCount) return Invalid(t, ROW_WEIG, l);
            pairs.push_back(BodyWeight{bone, weight});
        }
        maxWeights = std::max<int32_t>(maxWeights, n);
    }
    if (r->error) return Invalid(t, ROW_WEIG, l);
    if (count) {
        level->weightCounts = AllocArray<int16_t>(count);
        level->weights = AllocArray<BodyWeight>(int64_t(count) * maxWeights);
        if (!level->weightCounts || (maxWeights && !level->weights)) OutOfMemory(t, "unable to allocate body %d", l);
        level->maxWeights = maxWeights;
        for (int32_t i = 0; i < count; ++i) {
            level->weightCounts[i] = int16_t(all[size_t(i)].size());
            for (size_t k = 0; k < all[size_t(i)].size(); ++k)
                level->weights[i * maxWeights + int32_t(k)] = all[size_t(i)][k];
        }
    }
    return EndOf(t, ROW_WEIG);
}

bool ReadGroup(BinLoad& t, BodyLevel* level, BodyPart* part, int32_t p, int32_t l) {
    VRMFile* r = t.r;
    const int32_t word = r->ReadInt();
    const int32_t triCount = r->ReadInt();
    if (!CountFits(r, triCount, 16)) return Invalid(t, ROW_PART, l);
    BodyGroup* g = B3D_PartAddGroup(part, word);
    if (!g) OutOfMemory(t, "unable to allocate part %d in body %d", p, l);
    g->tris = AllocArray<BodyTriangle>(triCount);
    if (triCount && !g->tris) OutOfMemory(t, "unable to allocate part %d in body %d", p, l);
    g->triCount = triCount;
    for (int32_t i = 0; i < triCount; ++i) {
        BodyTriangle& tri = g->tris[i];
        for (int32_t& v : tri.v) v = r->ReadInt();
        tri.word = uint16_t(r->ReadInt());
        if (r->error) return Invalid(t, ROW_PART, l);
        // Indices outside the points would send the normals and the renderer astray.
        for (int32_t v : tri.v)
            if (v < 0 || v >= level->pointCount) return Invalid(t, ROW_PART, l);
        B3D_PointNormalFromTriangle(level, tri.v[0], tri.v[2], tri.v[1]);
        B3D_PointNormalFromTriangle(level, tri.v[1], tri.v[0], tri.v[2]);
        B3D_PointNormalFromTriangle(level, tri.v[2], tri.v[1], tri.v[0]);
    }
    if (part->flags & BPART_PRECALC) {
        const int32_t n = r->ReadInt();
        if (!CountFits(r, n, 28)) return Invalid(t, ROW_PART, l);
        g->precalc = AllocArray<BodyPrecalcVertex>(n);
        if (n && !g->precalc)
            OutOfMemory(t, "unable to allocate precalculated vertex data for material %d, part %d in body %d",
                        part->groupCount - 1, p, l);
        g->precalcCount = n;
        for (int32_t i = 0; i < n; ++i) {
            BodyPrecalcVertex& v = g->precalc[i];
            v.value = r->ReadInt();
            int16_t* f[6] = {&v.x, &v.y, &v.z, &v.nx, &v.ny, &v.nz};
            for (int16_t* x : f) *x = int16_t(r->ReadFixed() >> 2);
        }
    }
    return !r->error || Invalid(t, ROW_PART, l);
}

bool ReadParts(BinLoad& t, BodyLevel* level, int32_t l) {
    VRMFile* r = t.r;
    const int32_t count = r->ReadInt();
    if (!CountFits(r, count, 6)) return Invalid(t, ROW_PART, l);
    for (int32_t p = 0; p < count; ++p) {
        BodyPart* part = B3D_AllocBodyPart(level);
        if (!part) OutOfMemory(t, "unable to allocate part %d in body %d", p, l);
        part->flags = r->ReadUInt() | BPART_LOADED;
        const int16_t groups = r->ReadShort();
        if (!CountFits(r, groups, 8)) return Invalid(t, ROW_PART, l);
        for (int16_t g = 0; g < groups; ++g)
            if (!ReadGroup(t, level, part, p, l)) return false;
        if (groups) part->flags |= BPART_HAS_GROUPS;
        if (part->flags & BPART_PRECALC) {
            for (int i = 0; i < 3; ++i) part->centre[i] = r->ReadFixed();
            part->radius = r->ReadFixed();
            for (int32_t& v : part->boxCentre) v = r->ReadFixed();
            for (int32_t& v : part->boxSize) v = r->ReadFixed();
        } else {
            B3D_PartCenter(part);
            B3D_PartBoundingBox(level, part);
            part->radius = B3D_PartRadius(part);
        }
        if (r->error) return Invalid(t, ROW_PART, l);
    }
    return EndOf(t, ROW_PART);
}

bool ReadLevels(BinLoad& t) {
    VRMFile* r = t.r;
    Body3D* body = t.body;
    const int16_t count = r->ReadShort();
    if (!CountFits(r, count, 8)) return Invalid(t, ROW_BODY, 0);
    for (int32_t l = 0; l < count; ++l) {
        BodyLevel* level = B3D_AllocBodyLevel(body);
        if (!level) OutOfMemory(t, "unable to allocate body %d", l);
        const int32_t distance = r->ReadInt();
        level->flags = r->ReadUInt();
        if (l == 0) {
            level->visDistance = distance;
            level->switchDistance = 100000;
        } else {
            level->switchDistance = distance;
            level->visDistance = body->levels[0]->visDistance;
        }
        int tag = r->ReadTag(ROW_BODY);
        if (tag == ROW_BONE) {
            if (!ReadBones(t, level, l)) return false;
            tag = r->ReadTag(ROW_BODY);
        }
        if (tag != ROW_POIN || r->error)
            return Fail(t, "B3D_LoadBodyBin: Error loading body file %s - required points chunk not found in body %d\n",
                        t.file.c_str(), l);
        if (!ReadPoints(t, level, l)) return false;
        tag = r->ReadTag(ROW_BODY);
        if (tag == ROW_WEIG) {
            if (!ReadWeights(t, level, l)) return false;
            tag = r->ReadTag(ROW_BODY);
        }
        if (tag != ROW_PART || r->error)
            return Fail(t, "B3D_LoadBodyBin: Error loading body file %s - required parts chunk not found in body %d\n",
                        t.file.c_str(), l);
        if (!ReadParts(t, level, l)) return false;
        B3D_LevelExtent(level, level->extent);
    }
    return EndOf(t, ROW_BODY);
}

bool ReadBody(BinLoad& t) {
    VRMFile* r = t.r;
    Body3D* body = t.body;
    if (r->ReadTag(0) != ROW_BOB || r->error)
        return Fail(t, "B3D_LoadBodyBin: Error loading body file %s - main body chunk not found\n", t.file.c_str());
    for (;;) {
        const int32_t depth = r->depth;
        const std::string tagText = TagText(r);
        const int row = r->ReadTag(ROW_BOB);
        if (!r->error && row == ROW_BOB && r->depth < depth) return true;
        switch (r->error ? -1 : row) {
            case ROW_INFO: {
                char* s = r->ReadString();
                Qel_DPrintf(4, "B3D_LoadBodyBin: Found info \"%s\" in file %s\n", s ? s : "", t.file.c_str());
                Qel_StrFree(s);
                if (!EndOf(t, row)) return false;
                break;
            }
            case ROW_NAME: {
                char* s = r->ReadString();
                if (s) {
                    Qel_StrFree(body->name);
                    body->name = s;
                    Qel_DPrintf(4, "B3D_LoadBodyBin(%d) Found name \"%s\" in file %s\n", body->id, s, t.file.c_str());
                }
                if (!EndOf(t, row)) return false;
                break;
            }
            case ROW_VERS:
            case ROW_SND:
                r->ReadInt();
                if (!EndOf(t, row)) return false;
                break;
            case ROW_MAT1:
            case ROW_MAT2:
                // Not decoded: the next tag read is the chunk's content.
                break;
            case ROW_MAT3:
            case ROW_MAT5:
            case ROW_MAT6:
                if (!ReadMaterials(t, row == ROW_MAT3 ? 3 : row == ROW_MAT5 ? 5 : 6) || !EndOf(t, row)) return false;
                break;
            case ROW_BODY:
                if (body->levels) return Invalid(t, ROW_BODY, 0);
                if (!ReadLevels(t)) return false;
                break;
            default:
                return Fail(t, "B3D_LoadBodyBin: Error loading body file %s - unknown chunk %s found\n", t.file.c_str(),
                            tagText.c_str());
        }
    }
}

// ------------------------------------------------------------------ writing

void WriteTexture(VRMFile* w, int16_t id, int version) {
    if (version < 6) return w->WriteShort(id, nullptr);
    // A number the texture table does not reach (a tool writing without the
    // material table, a HUD render texture) has no name there: it goes as
    // its number, which reads back as the same id, instead of as none.
    char number[16];
    const char* name = id > 0 ? TC_GetTextureName(id) : "";
    if (id != 0 && !name[0]) {
        snprintf(number, sizeof number, "%d", int(id));
        name = number;
    }
    w->WriteString(name);
}

int32_t FloatToFixed(float f) { return int32_t(double(f) * 65536.0); }

// The effect block in the form the effect-parameter reader reads.
void WriteEffect(VRMFile* w, const FXEffectBlock* b) {
    w->WriteShort(int16_t(b ? b->effectWord : 0), nullptr);
    w->WriteString(b ? b->effectName : "");
    const int16_t count = b ? b->count : 0;
    w->WriteShort(count, nullptr);
    for (int16_t i = 0; i < count; ++i) {
        const FXParameter& p = b->params[i];
        w->WriteString(p.name);
        // A texture parameter was resolved to its id on reading; its name goes back.
        const char* texture = (p.type == 0 && p.textureSlot && p.value.i[0] > 0) ? TC_GetTextureName(p.value.i[0]) : "";
        if (texture[0]) {
            w->WriteInt(8, nullptr);
            w->WriteString(texture);
            continue;
        }
        w->WriteInt(p.type, nullptr);
        switch (p.type) {
            case 0:
            case 1: w->WriteInt(p.value.i[0], nullptr); break;
            case 2:
            case 3:
            case 4:
            case 5:
                for (int k = 0; k < p.type - 1; ++k) w->WriteFixed(FloatToFixed(p.value.f[k]), nullptr);
                break;
            case 6:
                for (int k = 0; k < 9; ++k)
                    w->WriteFixed(int32_t(uint32_t(p.value.i[k / 3 * 4 + k % 3]) << 16), nullptr);
                break;
            case 7:
                for (int k = 0; k < 16; ++k) w->WriteFixed(int32_t(uint32_t(p.value.i[k]) << 16), nullptr);
                break;
            default: w->WriteString(p.value.text); break;
        }
    }
}

void WriteMaterials(VRMFile* w, const Body3D* body) {
    const int version = (body->flags & BODY_MATERIAL6) ? 6 : 3;
    const int row = version == 6 ? ROW_MAT6 : ROW_MAT3;
    w->WriteTag(row, 1);
    w->WriteInt(body->materialCount, nullptr);
    for (int32_t i = 0; i < body->materialCount; ++i) {
        const BodyMaterial& m = body->materials[i];
        w->WriteShort(int16_t(m.id), nullptr);
        if (version == 6) {
            w->WriteUInt(m.flags, nullptr);
            if (m.flags & BMAT_EFFECT) {
                WriteEffect(w, m.effect);
                continue;
            }
        }
        WriteTexture(w, m.baseTexture, version);
        for (uint16_t v : m.colour) w->WriteShort(int16_t(v), nullptr);
        w->WriteShort(int16_t(m.derivedIndex), nullptr);
        for (uint16_t v : m.words) w->WriteShort(int16_t(v), nullptr);
        for (uint16_t v : m.words2) w->WriteShort(int16_t(v), nullptr);
        if (version < 6) w->WriteShort(int16_t(m.flags & 0xFFFF), nullptr);
        w->WriteShort(int16_t(m.value1), nullptr);
        WriteTexture(w, m.texture2, version);
        w->WriteShort(int16_t(m.value2), nullptr);
        WriteTexture(w, m.texture3, version);
        w->WriteShort(int16_t(m.value3), nullptr);
        WriteTexture(w, m.texture4, version);
        w->WriteShort(int16_t(m.value4), nullptr);
        if (version == 6) {
            WriteTexture(w, m.texture5, version);
            w->WriteShort(int16_t(m.value5), nullptr);
            WriteTexture(w, m.texture6, version);
            w->WriteShort(int16_t(m.value6), nullptr);
        }
    }
    w->WriteTag(row, 0);
}

void WriteLevel(VRMFile* w, const BodyLevel* level, bool first) {
    w->WriteInt(first ? level->visDistance : level->switchDistance, nullptr);
    w->WriteUInt(level->flags, nullptr);
    if (level->boneCount) {
        w->WriteTag(ROW_BONE, 1);
        w->WriteInt(level->boneCount, nullptr);
        for (int32_t b = 0; b < level->boneCount; ++b) w->WriteString(level->boneNames[b]);
        w->WriteTag(ROW_BONE, 0);
    }
    w->WriteTag(ROW_POIN, 1);
    w->WriteInt(level->pointCount, nullptr);
    const int16_t mask = level->uv2 ? 0x1F : 0x1B;
    for (int32_t i = 0; i < level->pointCount; ++i) {
        const BodyPoint& p = level->points[i];
        w->WriteShort(mask, nullptr);
        for (int16_t c : {p.x, p.y, p.z}) w->WriteFixed(int32_t(c) * 4, nullptr);
        w->WriteFixed(p.u, nullptr);
        w->WriteFixed(p.v, nullptr);
        if (level->uv2) {
            w->WriteFixed(level->uv2[2 * i], nullptr);
            w->WriteFixed(level->uv2[2 * i + 1], nullptr);
        }
        for (int16_t c : {p.nx, p.ny, p.nz}) w->WriteFixed(int32_t(c) * 4, nullptr);
        w->WriteUInt(p.word, nullptr);
    }
    w->WriteTag(ROW_POIN, 0);
    if (level->boneCount) {
        w->WriteTag(ROW_WEIG, 1);
        w->WriteInt(level->pointCount, nullptr);
        for (int32_t i = 0; i < level->pointCount; ++i) {
            const int16_t n = level->weightCounts ? level->weightCounts[i] : 0;
            w->WriteShort(n, nullptr);
            for (int16_t k = 0; k < n; ++k) {
                const BodyWeight& bw = level->weights[i * level->maxWeights + k];
                w->WriteShort(int16_t(bw.bone), nullptr);
                w->WriteFixed(bw.weight, nullptr);
            }
        }
        w->WriteTag(ROW_WEIG, 0);
    }
    w->WriteTag(ROW_PART, 1);
    w->WriteInt(level->partCount, nullptr);
    for (int32_t p = 0; p < level->partCount; ++p) {
        const BodyPart* part = level->parts[p];
        w->WriteUInt(part->flags & ~BPART_PRECALC, nullptr);
        w->WriteShort(part->groupCount, nullptr);
        for (int32_t g = 0; g < part->groupCount; ++g) {
            const BodyGroup& group = part->groups[g];
            w->WriteInt(group.material, nullptr);
            w->WriteInt(group.triCount, nullptr);
            for (int32_t i = 0; i < group.triCount; ++i) {
                for (int32_t v : group.tris[i].v) w->WriteInt(v, nullptr);
                w->WriteInt(group.tris[i].word, nullptr);
            }
        }
    }
    w->WriteTag(ROW_PART, 0);
}
}  // namespace

Body3D* B3D_LoadBodyBin(VRMFile* stream, int32_t bodyId, const char* name) {
    BinLoad t{stream, "embedded body", nullptr};
    if (!stream) {
        t.r = B3D_OpenBodyFile(bodyId, name, true, "B3D_LoadBodyBin", &t.file);
        if (!t.r) return nullptr;
    }
    t.body = static_cast<Body3D*>(B3D_AllocMemB(sizeof(Body3D), B3D_MEM_ZERO));
    if (!t.body) OutOfMemory(t, "unable to allocate body array");
    t.body->id = bodyId;
    if (B3D_BodyGetLoadMark(bodyId)) t.body->flags |= BODY_DUMMY;
    if (stream) t.body->name = Qel_StrReassign(nullptr, "embedded body");
    const bool ok = ReadBody(t);
    if (!stream) Qel_CloseFileBuffer(t.r);
    if (!ok) {
        B3D_FreeBody(t.body);
        return nullptr;
    }
    B3D_LinkBody(t.body);
    return t.body;
}

void B3D_WriteBodyChunks(VRMFile* w, const Body3D* body) {
    w->WriteTag(ROW_BOB, 1);
    if (body->name) {
        w->WriteTag(ROW_NAME, 1);
        w->WriteString(body->name);
        w->WriteTag(ROW_NAME, 0);
    }
    w->WriteTag(ROW_VERS, 1);
    w->WriteInt(1, nullptr);
    w->WriteTag(ROW_VERS, 0);
    WriteMaterials(w, body);
    w->WriteTag(ROW_BODY, 1);
    w->WriteShort(body->levelCount, nullptr);
    for (int32_t l = 0; l < body->levelCount; ++l) WriteLevel(w, body->levels[l], l == 0);
    w->WriteTag(ROW_BODY, 0);
    w->WriteTag(ROW_BOB, 0);
}

int32_t B3D_SaveBodyBin(const Body3D* body, const char* name) {
    char target[300];
    if (name) snprintf(target, sizeof target, "v\\%s.bob", name);
    else snprintf(target, sizeof target, "v\\%05d.bob", int(body->id));
    const std::string temp = std::string(target) + ".tmp";
    VRMFile* w = Qel_StreamCreate(temp.c_str(), 0, 0, 1, g_VRMBodyTags, 18);
    if (!w || w->error) {
        Qel_CloseFileBuffer(w);
        Qel_DPrintf(0, "B3D_SaveBodyBin: Unable to open file %s for writing\n", target);
        return 0;
    }
    B3D_WriteBodyChunks(w, body);
    bool ok = !w->error;
    ok = Qel_fclose(w->out) == 0 && ok;
    w->out = nullptr;
    Qel_CloseFileBuffer(w);
    if (ok) ok = Qel_RenameFile(temp.c_str(), target, 0) == 1;
    if (!ok) {
        Qel_RemoveFile(temp.c_str(), 0);
        Qel_DPrintf(0, "B3D_SaveBodyBin: Unable to write file %s\n", target);
        return 0;
    }
    return 1;
}
