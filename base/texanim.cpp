#include "base/texanim.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "base/file.h"
#include "base/fixmath.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/texcache.h"
#include "base/vrmfile.h"
#include "system/clock.h"

TC_Animation* g_TCAnimations = nullptr;
uint16_t g_TCAnimationCount = 0;
TC_MovieCalls g_TCMovieCalls;

namespace {

const VRMNameValue kKinds[] = {{"TAT_LOOP", 1},
                               {"TAT_PINGPONG", 2},
                               {"TAT_ONESHOT", 3},
                               {"TAT_MOVIE", 4},
                               {"TAT_TAGLOOP", 5},
                               {"TAT_TAGPINGPONG", 6},
                               {"TAT_TAGONESHOT", 7},
                               {"TAT_TAGCOLLECTION", 8},
                               {"TAT_TAGONESHOT_REINIT", 9},
                               {"TAT_SINGLESTEP", 10},
                               {"TAT_TAGSINGLESTEP", 11},
                               {"TAT_TAGARRAYSINGLESTEP", 12},
                               {nullptr, 0}};
const VRMNameValue kDefFlags[] = {{"NULL", 0}, {"TADF_COORDS", 2}, {nullptr, 0}};
const VRMNameValue kFrameFlags[] = {{"NULL", 0}, {"TATF_REINITLOOP", 1}, {"TATF_COORDS", 2}, {nullptr, 0}};

constexpr int32_t kOne = 0x10000;
constexpr int32_t kMaxFrames = 0x10000;

int32_t Now() { return g_SystemState ? g_SystemState->gameClock : 0; }

TC_Animation* AnimOf(int32_t index) {
    return index >= 1 && index <= g_TCAnimationCount && g_TCAnimations ? &g_TCAnimations[index - 1] : nullptr;
}

void FreeAnimations(TC_Animation* anims, int count) {
    if (!anims) return;
    for (int i = 0; i < count; ++i)
        if (anims[i].frames)
            Int_FreeMem(anims[i].frames, static_cast<size_t>(anims[i].frameCount) * sizeof(TC_AnimFrame), 0);
    Int_FreeMem(anims, static_cast<size_t>(count) * sizeof(TC_Animation), 0);
}

uint16_t TextureId(VRMFile* r) {
    char* name = r->ReadString();
    uint32_t id = name ? TC_GetTextureIdByName(name) : 0;
    Qel_StrFree(name);
    return static_cast<uint16_t>(id);
}

bool ReadAnimation(VRMFile* r, TC_Animation& a, int index) {
    a.kind = static_cast<uint32_t>(r->ReadEnum(kKinds));
    a.defFlags = r->ReadFlags16(kDefFlags);
    a.firstTexture = TextureId(r);
    a.lastTexture = TextureId(r);
    a.totalDuration = -1;
    if (a.defFlags & TADF_COORDS)
        for (int32_t& c : a.coords) c = r->ReadFixed();
    if (a.kind == TAT_MOVIE) {
        for (int32_t& m : a.movie) m = r->ReadInt();
        return !r->error;
    }
    int32_t count = r->ReadInt();
    if (r->error || count < 0 || count > kMaxFrames) return false;
    if (count > 0) {
        a.frames = static_cast<TC_AnimFrame*>(Int_AllocMem(static_cast<size_t>(count) * sizeof(TC_AnimFrame), 0));
        if (!a.frames) return false;
        std::memset(a.frames, 0, static_cast<size_t>(count) * sizeof(TC_AnimFrame));
        a.frameCount = count;
    }
    int32_t sum = 0;
    for (int i = 0; i < count && !r->error; ++i) {
        TC_AnimFrame& f = a.frames[i];
        if (a.kind == TAT_TAGCOLLECTION) {
            f.texture = TextureId(r);
            for (uint16_t& v : f.values) v = static_cast<uint16_t>(r->ReadInt());
        } else if (a.kind == TAT_TAGSINGLESTEP) {
            f.texture = TextureId(r);
        } else {
            f.flags = r->ReadFlags16(kFrameFlags);
            f.texture = TextureId(r);
            f.duration = r->ReadInt();
            if (a.defFlags & TADF_COORDS) {
                f.offsetX = r->ReadFixed();
                f.offsetY = r->ReadFixed();
            }
            if (f.duration < 0) return false;
            sum += f.duration;
        }
    }
    int32_t total = r->ReadInt();
    if (r->error) return false;
    if (sum > 0 && sum != total) {
        Qel_ErrPrintf("TC_AnimLoadDefinitions: Animation %d duration %d does not match total delay %d!\n", index, sum,
                      total);
        a.totalDuration = sum;
    } else {
        a.totalDuration = total;
    }
    return true;
}

void SetMatrix(TC_Material& m, int32_t sx, int32_t r01, int32_t r10, int32_t sy, int32_t ox, int32_t oy) {
    int32_t* x = &m.w[TCM_MATRIX];
    x[0] = sx, x[1] = r01, x[2] = 0;
    x[4] = r10, x[5] = sy, x[6] = 0;
    x[8] = ox, x[9] = oy, x[10] = kOne;
}

// a + (b - a) * part / whole, with 64-bit products; a when whole is 0.
int32_t Lerp(int32_t a, int32_t b, int32_t part, int32_t whole) {
    if (whole <= 0) return a;
    return a + static_cast<int32_t>(static_cast<int64_t>(b - a) * part / whole);
}

// Elapsed ms since *start; a start in the future is reset to now.
int32_t Elapsed(int32_t* start, int32_t now, const char* line) {
    int32_t d = S_ClockDiff(now, *start);
    if (d < 0) {
        Qel_DPrintf(0, line, now, *start);
        *start = now;
        d = 0;
    }
    return d;
}

void AnimatePlain(TC_Material& m, int32_t now) {
    int32_t cycle = m.w[TCM_CYCLE];
    int32_t period = m.w[TCM_ROTATION];
    if (period != 0) {
        int32_t t = Elapsed(&m.w[TCM_ROTSTART], now, "TC_AnimAnimate() Tcurrent=%d < Trotstart=%d\n");
        int32_t p = period < 0 ? -period : period;
        if (t >= p) {
            m.w[TCM_ROTSTART] = S_ClockAdvance(m.w[TCM_ROTSTART], t / p * p);
            t %= p;
        }
        double turn = static_cast<double>(t) / p * (period < 0 ? -1 : 1);
        Qel_TexMatrixRotate(&m, turn * 2 * M_PI);
        return;
    }
    if (cycle <= 0) return;  // a material without a cycle keeps its offsets
    int32_t t = Elapsed(&m.w[TCM_START], now, "TC_AnimAnimate() Tcurrent=%d < Tstart=%d\n");
    if (t >= cycle) {
        m.w[TCM_START] = S_ClockAdvance(m.w[TCM_START], t / cycle * cycle);
        t %= cycle;
    }
    Qel_TexMatrixTranslate(&m, Lerp(m.w[TCM_OFFSET], m.w[TCM_NEXTOFFSET], t, cycle),
                           Lerp(m.w[TCM_OFFSET + 1], m.w[TCM_NEXTOFFSET + 1], t, cycle));
}

// The frame of a reinitialising one-shot tag animation; 1 when it ended.
int AnimateReinit(TC_Material& m, const TC_Animation& a, int32_t now) {
    if (a.frameCount <= 0) return 0;
    int32_t i = m.w[TCM_FRAME];
    if (i < 0 || i >= a.frameCount) i = 0;
    if (S_ClockDiff(now, m.w[TCM_FRAMESTART]) < a.frames[i].duration) return 0;
    int ended = 0;
    if ((a.frames[i].flags & TATF_REINITLOOP) && (m.w[TCM_FLAGS] & TCM_INLOOP)) {
        i = 0;
    } else if (i + 1 >= a.frameCount) {
        ended = 1;
    } else {
        ++i;
    }
    const TC_AnimFrame& f = a.frames[i];
    if (f.flags & TATF_REINITLOOP) {
        m.w[TCM_FLAGS] |= TCM_TAGGED;
        m.w[TCM_TAGTIME] = now;
    }
    m.w[TCM_FRAMESTART] = now;
    m.w[TCM_FRAME] = i;
    bool coords = f.flags & TATF_COORDS;
    Qel_TexMatrixTranslate(&m, coords ? f.offsetX : 0, coords ? f.offsetY : 0);
    return ended;
}

// Loops, ping-pongs and one-shots over game time; 1 when one ended (or a tag
// animation finished a cycle).
int AnimateTimed(TC_Material& m, const TC_Animation& a, int index, int32_t now) {
    int32_t dur = a.totalDuration;
    if (dur <= 0) return 0;  // no cycle: the animation stays on its frame
    bool oneShot = a.kind == TAT_ONESHOT || a.kind == TAT_TAGONESHOT;
    bool pingPong = a.kind == TAT_PINGPONG || a.kind == TAT_TAGPINGPONG;
    bool tag = a.kind == TAT_TAGLOOP || a.kind == TAT_TAGPINGPONG || a.kind == TAT_TAGONESHOT;
    int32_t t = Elapsed(&m.w[TCM_START], now, "TC_AnimAnimate() Tcurrent=%d < Tstart=%d\n");
    int ended = 0;
    if (t >= dur) {
        if (oneShot) {
            if (a.frameCount > 0) {
                m.w[TCM_FRAME] = a.frameCount - 1;
                const TC_AnimFrame& f = a.frames[a.frameCount - 1];
                Qel_TexMatrixTranslate(&m, f.offsetX, f.offsetY);
            } else {
                m.w[TCM_FRAME] = a.lastTexture - a.firstTexture;
                m.w[TCM_FLAGS] &= ~TCM_REVERSED;
                Qel_TexMatrixTranslate(&m, a.coords[2], a.coords[3]);
            }
            return 1;
        }
        int32_t cycles = t / dur;
        m.w[TCM_START] = S_ClockAdvance(m.w[TCM_START], cycles * dur);
        t %= dur;
        if (pingPong && (cycles & 1)) m.w[TCM_FLAGS] ^= TCM_REVERSED;
        ended = tag ? 1 : 0;
    }
    bool reversed = pingPong && (m.w[TCM_FLAGS] & TCM_REVERSED);
    if (a.frameCount <= 0) {
        int32_t n = a.lastTexture - a.firstTexture + 1;
        if (n <= 0) return ended;
        int32_t frame = static_cast<int32_t>(static_cast<int64_t>(t) * n / dur);
        if (frame >= n) frame = n - 1;
        m.w[TCM_FRAME] = frame;
        return ended;
    }
    // The frame whose span holds t, searched from the end in the reversed phase.
    int32_t i, startOfFrame = 0, step = reversed ? -1 : 1;
    for (i = reversed ? a.frameCount - 1 : 0; i >= 0 && i < a.frameCount; i += step) {
        if (startOfFrame + a.frames[i].duration > t) break;
        startOfFrame += a.frames[i].duration;
    }
    if (i >= a.frameCount || i < 0) {
        Qel_DPrintf(0, "TC_AnimAnimate() Interpolation out of bounds, descid %d\n", index);
        i = i < 0 ? 0 : a.frameCount - 1;
        startOfFrame = t;
    }
    int32_t next = i + step;
    if (next < 0 || next >= a.frameCount) next = i;
    const TC_AnimFrame& f = a.frames[i];
    const TC_AnimFrame& g = a.frames[next];
    m.w[TCM_FRAME] = i;
    m.w[TCM_OFFSET] = f.offsetX, m.w[TCM_OFFSET + 1] = f.offsetY;
    m.w[TCM_NEXTOFFSET] = g.offsetX, m.w[TCM_NEXTOFFSET + 1] = g.offsetY;
    int32_t part = t - startOfFrame;
    Qel_TexMatrixTranslate(&m, Lerp(f.offsetX, g.offsetX, part, f.duration),
                           Lerp(f.offsetY, g.offsetY, part, f.duration));
    return ended;
}

void PutBig(uint8_t* p, int32_t v) {
    auto u = static_cast<uint32_t>(v);
    p[0] = static_cast<uint8_t>(u >> 24), p[1] = static_cast<uint8_t>(u >> 16), p[2] = static_cast<uint8_t>(u >> 8),
    p[3] = static_cast<uint8_t>(u);
}

int32_t GetBig(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
                                static_cast<uint32_t>(p[2]) << 8 | p[3]);
}

// Record words stored in the file form, in order.
constexpr int kStored[25] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 20, 21, 22, 24, 25, 26};

TC_Material* Alloc(int count) {
    if (count <= 0) return nullptr;
    auto* m = static_cast<TC_Material*>(Int_AllocMem(static_cast<size_t>(count) * sizeof(TC_Material), 0));
    if (m) std::memset(m, 0, static_cast<size_t>(count) * sizeof(TC_Material));
    return m;
}

void Identity(TC_Material& m, int32_t ox, int32_t oy) { SetMatrix(m, kOne, 0, 0, kOne, ox, oy); }

}  // namespace

// ---------------------------------------------------------------- definitions

int TC_AnimLoadDefinitions() {
    TC_AnimFreeDefinitions();
    VRMFile* r = Qel_StreamCreate("Animations.txt", 1, 0, 0, nullptr, 0);
    if (!r) return 0;
    if (r->error) {
        Qel_CloseFileBuffer(r);
        return 0;
    }
    int32_t count = r->ReadInt();
    TC_Animation* anims = nullptr;
    bool ok = !r->error && count >= 0 && count <= 0xFFFF;
    if (ok && count > 0) {
        anims = static_cast<TC_Animation*>(Int_AllocMem(static_cast<size_t>(count) * sizeof(TC_Animation), 0));
        ok = anims != nullptr;
        if (anims) std::memset(anims, 0, static_cast<size_t>(count) * sizeof(TC_Animation));
    }
    int failed = -1;
    for (int i = 0; ok && i < count; ++i)
        if (!ReadAnimation(r, anims[i], i)) {
            ok = false;
            failed = i;
        }
    Qel_CloseFileBuffer(r);
    if (!ok) {
        Qel_ErrPrintf("TC_AnimLoadDefinitions: read error in animation %d!\n", failed);
        FreeAnimations(anims, count);
        return 0;
    }
    g_TCAnimations = anims;
    g_TCAnimationCount = static_cast<uint16_t>(count);
    return 1;
}

void TC_AnimFreeDefinitions() {
    FreeAnimations(g_TCAnimations, g_TCAnimationCount);
    g_TCAnimations = nullptr;
    g_TCAnimationCount = 0;
}

// ---------------------------------------------------------------- animating

void TC_MaterialCurrentTexture(TC_Material* m) {
    if (!m) return;
    int32_t id = 0;
    if (m->w[TCM_FLAGS] & TCM_PLAIN) {
        id = -m->w[TCM_ANIM];
    } else if (const TC_Animation* a = AnimOf(m->w[TCM_ANIM])) {
        int32_t f = m->w[TCM_FRAME];
        if (a->frameCount > 0) id = f >= 0 && f < a->frameCount ? a->frames[f].texture : a->firstTexture;
        else id = (m->w[TCM_FLAGS] & TCM_REVERSED) ? a->lastTexture - f : a->firstTexture + f;
    }
    m->w[TCM_TEXTURE] = static_cast<int32_t>(static_cast<uint16_t>(id));
}

int TC_AnimAnimate(int count, TC_Material* materials) {
    if (!materials) return 0;
    int ended = 0;
    int32_t now = Now();
    for (int i = 0; i < count; ++i) {
        TC_Material& m = materials[i];
        if (m.w[TCM_FLAGS] & TCM_PLAIN) {
            AnimatePlain(m, now);
        } else if (const TC_Animation* a = AnimOf(m.w[TCM_ANIM])) {
            switch (a->kind) {
                case TAT_SINGLESTEP:
                case TAT_TAGSINGLESTEP:
                case TAT_TAGARRAYSINGLESTEP:
                case TAT_TAGCOLLECTION: break;
                case TAT_MOVIE:
                    if (!m.w[TCM_MOVIE] && a->movie[0] > 0) {
                        TC_LoadMovie(a->movie[0], a->firstTexture, a->movie[1], a->movie[2], a->movie[3], a->movie[4],
                                     a->movie[5], a->movie[6]);
                        m.w[TCM_MOVIE] = a->movie[0];
                    }
                    break;
                case TAT_TAGONESHOT_REINIT: ended |= AnimateReinit(m, *a, now); break;
                default: ended |= AnimateTimed(m, *a, m.w[TCM_ANIM], now); break;
            }
        }
        TC_MaterialCurrentTexture(&m);
    }
    return ended;
}

int TC_AnimSetIndex(int frameLimit, int count, TC_Material* materials, int animation, int frame) {
    const TC_Animation* a = AnimOf(animation);
    if (!a || !materials || a->kind < TAT_SINGLESTEP || a->kind > TAT_TAGARRAYSINGLESTEP) return 0;
    int max = frameLimit;
    if (a->kind == TAT_SINGLESTEP) max = a->lastTexture - a->firstTexture;
    else max = a->frameCount - 1;
    int f = frame;
    if (f < 0 || f > max) {
        Qel_ErrPrintf("TC_AnimSetIndex() animation index %d out of range [0..%d] for animation %d\n", frame, max,
                      animation);
        f = 0;
    }
    int texture = 0;
    for (int i = 0; i < count; ++i) {
        TC_Material& m = materials[i];
        if ((m.w[TCM_FLAGS] & TCM_PLAIN) || m.w[TCM_ANIM] != animation) continue;
        m.w[TCM_FRAME] = f;
        if (a->kind == TAT_SINGLESTEP) {
            texture = a->firstTexture + f;
        } else if (a->frameCount > 0) {
            const TC_AnimFrame& fr = a->frames[f];
            texture = fr.texture;
            if (a->kind == TAT_TAGARRAYSINGLESTEP) {
                bool coords = fr.flags & TATF_COORDS;
                Qel_TexMatrixTranslate(&m, coords ? fr.offsetX : 0, coords ? fr.offsetY : 0);
            }
        }
        m.w[TCM_TEXTURE] = static_cast<int32_t>(static_cast<uint16_t>(texture));
    }
    return texture;
}

void TC_SetMaterialFrame(int count, TC_Material* materials, int frame) {
    if (!materials || frame < 0) return;
    for (int i = 0; i < count; ++i) {
        TC_Material& m = materials[i];
        const TC_Animation* a = (m.w[TCM_FLAGS] & TCM_PLAIN) ? nullptr : AnimOf(m.w[TCM_ANIM]);
        if (!a || a->kind != TAT_MOVIE) continue;
        int32_t cw = a->coords[0], ch = a->coords[1];
        if (cw <= 0 || ch <= 0 || cw > kOne || ch > kOne) continue;
        int columns = kOne / cw;
        Qel_TexMatrixSet(&m, cw, ch, frame % columns * cw, frame / columns * ch);
    }
}

void TC_AnimateMaterials(int count, TC_Material* materials, int frame, int frameCount) {
    if (!materials || frame < 0 || frameCount <= 0) return;
    // The frames fill a square grid of side ceil(sqrt(frame count)).
    int side = static_cast<int>(Qel_ISqrt(static_cast<uint32_t>(frameCount)));
    if (side * side < frameCount) ++side;
    int32_t cell = kOne / side;
    frame %= frameCount;
    for (int i = 0; i < count; ++i) {
        TC_Material& m = materials[i];
        const TC_Animation* a = (m.w[TCM_FLAGS] & TCM_PLAIN) ? nullptr : AnimOf(m.w[TCM_ANIM]);
        if (!a || a->kind != TAT_MOVIE) continue;
        Qel_TexMatrixSet(&m, cell, cell, frame % side * cell, frame / side * cell);
    }
}

// ---------------------------------------------------------------- records

TC_Material* TC_ReadMaterials(int count, QelFile* file) {
    if (!file) return nullptr;
    TC_Material* out = Alloc(count);
    if (!out) return nullptr;
    for (int i = 0; i < count; ++i) {
        uint8_t raw[100];
        bool ok = Qel_fread(file, 1, sizeof raw, raw) == sizeof raw;
        TC_Material& m = out[i];
        for (int k = 0; ok && k < 25; ++k) m.w[kStored[k]] = GetBig(raw + 4 * k);
        if (ok && (m.w[TCM_FLAGS] & TCM_PLAIN)) {
            uint8_t length = 0;
            char name[256] = {};
            ok = Qel_fread(file, 1, 1, &length) == 1 && Qel_fread(file, 1, length, name) == length;
            if (ok) m.w[TCM_ANIM] = -static_cast<int32_t>(TC_GetTextureIdByName(name));
        }
        if (!ok) {
            TC_FreeMaterials(count, out);
            return nullptr;
        }
        TC_MaterialCurrentTexture(&m);
    }
    return out;
}

int TC_WriteMaterials(int count, QelFile* file, const TC_Material* records) {
    if (!file || !records || count < 0) return 0;
    if (file->flags & QEL_FILE_CATALOG) {
        Qel_ErrPrintf("Error someone tried to write to a Catalog !\n");
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        const TC_Material& m = records[i];
        uint8_t raw[100];
        for (int k = 0; k < 25; ++k) PutBig(raw + 4 * k, m.w[kStored[k]]);
        if (Qel_fwriteBlock(file, 1, sizeof raw, raw) != sizeof raw) return 0;
        if (m.w[TCM_FLAGS] & TCM_PLAIN) {
            const char* name = TC_GetTextureName(-m.w[TCM_ANIM]);
            size_t n = std::min<size_t>(std::strlen(name), 255);
            uint8_t length = static_cast<uint8_t>(n);
            if (Qel_fwriteBlock(file, 1, 1, &length) != 1) return 0;
            if (n && Qel_fwriteBlock(file, 1, n, name) != n) return 0;
        }
    }
    return 1;
}

void TC_FreeMaterials(int count, TC_Material* records) {
    if (records && count > 0) Int_FreeMem(records, static_cast<size_t>(count) * sizeof(TC_Material), 0);
}

TC_Material* TC_NewMaterials(const int32_t* endOffsets, int count, const int32_t* textures, const int32_t* startOffsets,
                             const int32_t* durations, const int32_t* coordPairs, const int32_t* rotations) {
    TC_Material* out = Alloc(count);
    if (!out) return nullptr;
    int32_t now = Now();
    for (int i = 0; i < count; ++i) {
        TC_Material& m = out[i];
        m.w[TCM_ANIM] = textures ? textures[i] : 0;
        m.w[TCM_START] = m.w[TCM_ROTSTART] = m.w[TCM_FRAMESTART] = now;
        int32_t ox = 0, oy = 0;
        if (m.w[TCM_ANIM] < 0) {
            m.w[TCM_FLAGS] = TCM_PLAIN;
            if (startOffsets)
                ox = m.w[TCM_OFFSET] = startOffsets[2 * i], oy = m.w[TCM_OFFSET + 1] = startOffsets[2 * i + 1];
            if (endOffsets) m.w[TCM_NEXTOFFSET] = endOffsets[2 * i], m.w[TCM_NEXTOFFSET + 1] = endOffsets[2 * i + 1];
            if (durations) m.w[TCM_CYCLE] = durations[i];
            if (coordPairs) m.w[TCM_COORDS] = coordPairs[2 * i], m.w[TCM_COORDS + 1] = coordPairs[2 * i + 1];
            if (rotations) m.w[TCM_ROTATION] = rotations[i];
        } else if (const TC_Animation* a = AnimOf(m.w[TCM_ANIM])) {
            if (a->frameCount > 0 && a->kind != TAT_TAGCOLLECTION && a->kind != TAT_TAGSINGLESTEP) {
                ox = a->frames[0].offsetX, oy = a->frames[0].offsetY;
            } else {
                ox = a->coords[0], oy = a->coords[1];
            }
        }
        Identity(m, ox, oy);
        TC_MaterialCurrentTexture(&m);
    }
    return out;
}

TC_Material* Qel_NewTextureMaterial(int textureId) {
    int32_t texture = -textureId;
    return TC_NewMaterials(nullptr, 1, &texture, nullptr, nullptr, nullptr, nullptr);
}

void TC_AnimPreloadTextures(int animation, uint32_t flags) {
    const TC_Animation* a = AnimOf(animation);
    if (!a) return;
    auto preload = [flags](int id) {
        if (id <= 0) return;
        uint32_t f = flags;
        if (!f && id < g_TCTextureInfoCount && g_TCTextureInfo) f = g_TCTextureInfo[id].flags;
        TC_SetTextureFlags(id, f);
        TC_GetTextureEBM(id, 0);
    };
    if (a->frameCount > 0) {
        for (int i = 0; i < a->frameCount; ++i) preload(a->frames[i].texture);
    } else {
        for (int id = a->firstTexture; id <= a->lastTexture; ++id) preload(id);
    }
}

// ---------------------------------------------------------------- movies

void TC_LoadMovie(int movie, int texture, int startMin, int startSec, int startMs, int endMin, int endSec, int endMs) {
    const TC_MovieCalls& c = g_TCMovieCalls;
    Qel_DPrintf(0x800, "loading movie %d, %08x, reply = %d (eng=%d / call=%d)\n", movie, static_cast<unsigned>(texture),
                0, 0, 0);
    if (!c.isLoaded || !c.open || !c.connect || !c.play) return;
    if (!c.isLoaded(movie)) {
        if (!c.open(movie)) {
            Qel_ErrPrintf("Failed loading movie %d\n", movie);
            return;
        }
        Qel_DPrintf(0x800, "movloadmovie success: reply=%d (%d / %d)\n", 0, 0, 0);
    }
    c.connect(movie, texture);
    c.play(movie, startMin, startSec, startMs, endMin, endSec, endMs);
}

void TC_ReleaseMovieTexture(int movie, int texture) {
    const TC_MovieCalls& c = g_TCMovieCalls;
    if (!c.state || !c.disconnect) return;
    if ((c.state(movie) & 0x4) && c.stop) c.stop(movie);
    c.disconnect(movie, texture);
}

int TC_MovieIsPlaying(int movie) { return g_TCMovieCalls.state && (g_TCMovieCalls.state(movie) & 0x2) ? 1 : 0; }

// ---------------------------------------------------------------- matrices and helpers

void Qel_TexMatrixSet(TC_Material* m, int32_t scaleX, int32_t scaleY, int32_t offsetX, int32_t offsetY) {
    if (m) SetMatrix(*m, scaleX, 0, 0, scaleY, offsetX, offsetY);
}
void Qel_TexMatrixTranslate(TC_Material* m, int32_t offsetX, int32_t offsetY) {
    Qel_TexMatrixSet(m, kOne, kOne, offsetX, offsetY);
}
void Qel_TexMatrixScale(TC_Material* m, int32_t scaleX, int32_t scaleY) { Qel_TexMatrixSet(m, scaleX, scaleY, 0, 0); }
void Qel_TexMatrixRotate(TC_Material* m, double radians) {
    if (!m) return;
    auto c = static_cast<int32_t>(std::cos(radians) * kOne), s = static_cast<int32_t>(std::sin(radians) * kOne);
    SetMatrix(*m, c, -s, s, c, 0, 0);
}
void Qel_TexMatrixCopy(TC_Material* m, const int32_t words[12]) {
    if (m && words) std::memcpy(&m->w[TCM_MATRIX], words, 12 * sizeof(int32_t));
}

int32_t Qel_MulDiv64(int32_t a, int32_t b, int32_t c) {
    return c ? static_cast<int32_t>(static_cast<int64_t>(a) * b / c) : 0;
}

int32_t Qel_FixDiv64(int32_t a, int32_t b) { return b ? static_cast<int32_t>(static_cast<int64_t>(a) * 65536 / b) : 0; }

time_t Qel_Time() { return std::time(nullptr); }

const char* Qel_TimeString() {
    time_t now = Qel_Time();
    const char* text = std::ctime(&now);
    return text ? text : "\n";
}

void Qel_FreeIfSet(void* block, size_t size, uint32_t flags) {
    if (block) Int_FreeMem(block, size, flags);
}

int32_t* TC_MaterialMatrix(TC_Material* materials, int index) {
    return materials ? &materials[index].w[TCM_MATRIX] : nullptr;
}
int16_t TC_MaterialTexture(const TC_Material* materials, int index) {
    return materials ? static_cast<int16_t>(materials[index].w[TCM_TEXTURE]) : 0;
}
int32_t TC_MaterialWord0(const TC_Material* materials, int index) {
    return materials ? materials[index].w[TCM_ANIM] : 0;
}
int32_t* TC_MaterialCoords(TC_Material* materials, int index) {
    return materials ? &materials[index].w[TCM_OFFSET] : nullptr;
}
int TC_MaterialTextureId(TC_Material* materials, int index) {
    if (!materials) return 0;
    TC_MaterialCurrentTexture(&materials[index]);
    return static_cast<uint16_t>(materials[index].w[TCM_TEXTURE]);
}
