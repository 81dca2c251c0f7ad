// Particle spawn and update on the game clock. Times wrap at the clock span and
// every difference is folded, so a clock just below the wrap works the same as
// anywhere else.
#include "scene/particles.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/general.h"
#include "base/log.h"
#include "base/random.h"
#include "base/rotation.h"
#include "scene/smallops.h"
#include "scene/state.h"

namespace {

constexpr int64_t kSpan = 32400000;
constexpr int64_t kHalfSpan = 16200000;
constexpr int32_t kDescriptions = 100;

int32_t Fold(int64_t a, int64_t b) {
    int64_t d = a - b;
    if (d < -kHalfSpan) d += kSpan;
    if (d > kHalfSpan) d -= kSpan;
    return static_cast<int32_t>(d);
}

int32_t Advance(int64_t t, int64_t d) {
    int64_t r = (t + d) % kSpan;
    if (r < 0) r += kSpan;
    return static_cast<int32_t>(r);
}

// Random below n, on 32-bit n: a negative bound is a data fault, logged and 0.
int32_t RandomBelow(int32_t n) {
    if (n == 0) return 0;
    if (n < 0) {
        Qel_ErrPrintf("Qel_LongRandom: Wrong argument %d\n", n);
        return 0;
    }
    return Qel_Random(n);
}

int32_t RoundMul(int64_t a, int64_t b) { return static_cast<int32_t>((a * b + 32768) >> 16); }

int32_t ByIntensity(int32_t lo, int32_t hi, int32_t intensity) {
    if (intensity <= 0) return lo;
    if (intensity >= 65536) return hi;
    const int64_t mid = (static_cast<int64_t>(lo) + hi) / 2;
    return static_cast<int32_t>(mid + (static_cast<int64_t>(hi) - lo) * (intensity - 32768) / 65536);
}

int64_t Chebyshev(const QelVector& a, const QelVector& b) {
    const int64_t dx = std::llabs(static_cast<int64_t>(a.x) - b.x);
    const int64_t dy = std::llabs(static_cast<int64_t>(a.y) - b.y);
    const int64_t dz = std::llabs(static_cast<int64_t>(a.z) - b.z);
    return std::max(dx, std::max(dy, dz));
}

bool CameraInRange(const Scene3D* scene, const QelVector& position, int32_t size) {
    if (!scene) return false;
    for (const Camera3D* c = B3D_First<Camera3D>(&scene->cameras); c; c = B3D_Next(c))
        if ((c->camFlags & CAM_ACTIVE) && Chebyshev(c->inst.pos, position) / 1024 < size) return true;
    return false;
}

void Velocity(B3DParticle* p, const QelMatrix& m, const B3DParticleEmitter& e, int32_t v) {
    int32_t out[3];
    for (int k = 0; k < 3; ++k) {
        int64_t c = RoundMul(-static_cast<int64_t>(m.m[8 + k]), v);
        if (e.spreadX != 0)
            c += RoundMul(m.m[k], RandomBelow(static_cast<int32_t>(2 * static_cast<int64_t>(e.spreadX))) - e.spreadX);
        if (e.spreadY != 0)
            c += RoundMul(m.m[4 + k],
                          RandomBelow(static_cast<int32_t>(2 * static_cast<int64_t>(e.spreadY))) - e.spreadY);
        out[k] = static_cast<int32_t>(c);
    }
    if (v != 0 && (e.spreadX != 0 || e.spreadY != 0)) {
        const double len = std::sqrt(static_cast<double>(out[0]) * out[0] + static_cast<double>(out[1]) * out[1] +
                                     static_cast<double>(out[2]) * out[2]);
        if (len == 0.0) {
            Qel_ErrPrintf("Qel_NormVectorToOne: Nullvektor!\n");
        } else {
            for (int32_t& c : out) c = static_cast<int32_t>(std::trunc(c * static_cast<double>(v) / len));
        }
    }
    p->velocity = {out[0], out[1], out[2], 0};
}

}  // namespace

int32_t B3D_ParticleSpawn(ParticleGenerator* g, const QelVector* position, const QelQuat* orientation,
                          const QelVector* velocity, int32_t speed, int32_t extraSpeed, int32_t time) {
    B3DState* s = g_B3DState;
    if (!s || !g || !position || !orientation || !velocity) return 0;
    int32_t made = 0;
    if (g->desc >= 0 && g->desc < kDescriptions && g->emitters) {
        const B3DParticleDesc& desc = s->particleDescs[g->desc];
        for (int32_t i = 0; i < desc.emitterCount && desc.emitters; ++i) {
            B3DEmitterState& st = g->emitters[i];
            const B3DParticleEmitter& e = st.emitter ? *st.emitter : desc.emitters[i];
            const int32_t dG = Fold(time, g->prevTime);
            const int32_t size = ByIntensity(e.sizeLow, e.sizeHigh, g->intensity);
            if (!CameraInRange(g->scene, *position, size)) continue;
            const bool trail = e.flags & 2;
            const int32_t v = trail ? 0 : ByIntensity(e.speedLow, e.speedHigh, g->intensity);
            const int32_t r = RandomBelow(e.intervalVariation);
            const int64_t speedSum = std::llabs(static_cast<int64_t>(speed)) + v + extraSpeed;
            const int64_t t0 = speedSum != 0 ? static_cast<int64_t>(size) * 1000 / speedSum
                                             : (static_cast<int64_t>(size) * 1000 + 32768) >> 16;
            const int64_t t1 = (static_cast<int64_t>(e.intervalFactor) * t0 + 32768) >> 16;
            const int64_t interval = ((65536 - static_cast<int64_t>(r)) * t1 + 32768) >> 16;
            // An interval of 0 or less would never let the loop below end: such
            // data emits nothing for the step.
            if (interval <= 0) continue;
            while (Fold(time, st.lastSpawn) > interval) {
                B3DParticle* p = B3D_ParticleGet();
                if (!p) {
                    st.lastSpawn = time;
                    break;
                }
                int32_t at = Advance(st.lastSpawn, interval);
                if (Fold(at, g->prevTime) < 0) at = g->prevTime;
                p->time = at;
                st.lastSpawn = at;
                p->endTime = Advance(at, static_cast<int64_t>(e.lifetime) + RandomBelow(e.lifetimeVariation));
                p->fadeDuration = e.fadeDuration != 0 ? e.fadeDuration : e.lifetime;
                p->material = e.material;
                for (int k = 0; k < 4; ++k) p->texRect[k] = e.texRect[k];
                p->kind = e.flags & 3;
                p->rotSpeed = e.rotSpeed;
                p->rotSpeedRandom = e.rotSpeedRandom;
                p->angle = 0;
                p->size = size;
                const int32_t f =
                    dG != 0 ? static_cast<int32_t>(static_cast<int64_t>(Fold(at, g->prevTime)) * 65536 / dG) : 0;
                QelVector tan0, tan1, place{}, tangent{};
                Fx_VecScaleMulDiv(&g->prevVelocity, dG, 1000, &tan0);
                Fx_VecScaleMulDiv(velocity, dG, 1000, &tan1);
                Qel_VecSplineInterp(&g->prevPos, position, &tan0, &tan1, f, &place, &tangent);
                QelQuat q{};
                Qel_QuatSlerp(&q, &g->prevOrientation, orientation, f);
                QelMatrix m{};
                Qel_MatFromQuat(&q, &m);
                if (trail) p->velocity = {0, 0, 0, 0};
                else Velocity(p, m, e, v);
                QelVector turned{};
                Qel_MatMulVec(&m, &g->offset, &turned);
                p->pos = {place.x + turned.x, place.y + turned.y, place.z + turned.z, position->w};
                if (trail) {
                    const QelVector& tp = st.trailPos;
                    p->pos2 = (tp.x == tp.y && tp.y == tp.z) ? p->pos : tp;
                    st.trailPos = p->pos;
                    p->angle = 0;
                } else {
                    p->angle = static_cast<uint32_t>(RandomBelow(65536));
                }
                if (p->kind & 1) Qel_MatFromAngles(&p->matrix, 0, 0, 0);
                else p->matrix = m;
                p->scene = g->scene;
                ++made;
            }
        }
    }
    g->prevTime = time;
    g->prevPos = *position;
    g->prevVelocity = *velocity;
    g->prevOrientation = *orientation;
    return made;
}

int32_t B3D_ParticlesUpdate() {
    B3DState* s = g_B3DState;
    if (!s) return 0;
    const int32_t now = g_SystemState ? g_SystemState->gameClock : 0;
    int32_t visited = 0;
    for (B3DParticle* p = B3D_First<B3DParticle>(&s->particleLive); p;) {
        B3DParticle* next = B3D_Next(p);
        ++visited;
        if (now == p->endTime || Fold(now, p->endTime) >= 0) {
            B3D_ListRemove(B3D_Node(p));
            B3D_ListAppend(&s->particleFree, B3D_Node(p));
            p->state = PARTICLE_FREE;
            p = next;
            continue;
        }
        const int32_t dt = Fold(now, p->time);
        QelVector move{};
        Fx_VecMulDiv(&p->velocity, dt, 1000, &move);
        p->pos.x += move.x;
        p->pos.y += move.y;
        p->pos.z += move.z;
        if (p->kind & 2) {
            p->pos2.x += move.x;
            p->pos2.y += move.y;
            p->pos2.z += move.z;
            p->angle = 0;
        } else if (p->kind & 1) {
            int64_t angle = p->angle;
            angle += static_cast<int64_t>(p->rotSpeed) * dt / 1000;
            const int32_t rr = p->rotSpeedRandom;
            if (rr != 0)
                angle += (static_cast<int64_t>(RandomBelow(static_cast<int32_t>(2 * static_cast<int64_t>(rr)))) - rr) *
                         dt / 1000;
            p->angle = static_cast<uint32_t>(angle) & 0xFFFFu;
        }
        const int64_t d = p->fadeDuration;
        const int64_t left = Fold(p->endTime, now);
        if (d == 0) p->alpha = 128;
        else if (left >= d) p->alpha = 255;
        else p->alpha = static_cast<int32_t>(128 + 254 * (2 * left - d) / (2 * d));
        p->time = now;
        p->state = PARTICLE_UPDATED;
        p = next;
    }
    return visited;
}

namespace {

int32_t DescEmitters(int32_t desc) {
    if (desc < 0 || desc >= kDescriptions) return 0;
    const B3DParticleDesc& d = g_B3DState->particleDescs[desc];
    return d.emitters && d.emitterCount > 0 ? d.emitterCount : 0;
}

void FreeEmitterStates(ParticleGenerator* g) {
    if (!g->emitters) return;
    B3D_FreeMemI(DescEmitters(g->desc) * static_cast<int32_t>(sizeof(B3DEmitterState)), g->emitters);
    g->emitters = nullptr;
}

}  // namespace

void B3D_ParticleGeneratorSetDesc(ParticleGenerator* g, int32_t desc) {
    FreeEmitterStates(g);
    g->desc = desc;
    const int32_t n = DescEmitters(desc);
    if (!n) return;
    g->emitters = static_cast<B3DEmitterState*>(B3D_AllocMemI(n * static_cast<int32_t>(sizeof(B3DEmitterState))));
    if (!g->emitters) {
        g->desc = -1;
        return;
    }
    const int32_t now = g_SystemState ? g_SystemState->gameClock : 0;
    for (int32_t i = 0; i < n; ++i) {
        g->emitters[i].emitter = &g_B3DState->particleDescs[desc].emitters[i];
        g->emitters[i].lastSpawn = now;
    }
}

ParticleGenerator* B3D_ParticleGeneratorAlloc() {
    if (!g_B3DState) return nullptr;
    auto* g = B3D_AllocRecordI<ParticleGenerator>();
    if (!g) return nullptr;
    g->id = Qel_TableAdd(g_B3DState->generatorTable, reinterpret_cast<uintptr_t>(g));
    if (!g->id) {
        B3D_FreeRecordI(g);
        return nullptr;
    }
    g->desc = -1;
    Qel_MatIdentity(&g->matrix);
    B3D_ListAppend(&g_B3DState->generators, B3D_Node(g));
    return g;
}

void B3D_ParticleGeneratorFree(ParticleGenerator* g) {
    if (!g || !g_B3DState) return;
    FreeEmitterStates(g);
    B3D_ListRemove(B3D_Node(g));
    Qel_TableRemove(g_B3DState->generatorTable, g->id);
    B3D_FreeRecordI(g);
}

ParticleGenerator* B3D_ParticleGeneratorFind(uint32_t id) {
    return id && g_B3DState ? reinterpret_cast<ParticleGenerator*>(Qel_TableGet(g_B3DState->generatorTable, id))
                            : nullptr;
}
