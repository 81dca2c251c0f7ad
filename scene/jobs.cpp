#include "scene/jobs.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "base/angles.h"
#include "base/general.h"
#include "base/log.h"
#include "base/rotation.h"
#include "base/table.h"
#include "render/lights.h"
#include "scene/cutkeys.h"
#include "scene/geometry.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "script/context.h"
#include "script/tasks.h"
#include "script/values.h"

namespace {

constexpr int32_t ONE = QEL_FIX_ONE;

int32_t GameClock() { return g_SystemState ? g_SystemState->gameClock : 0; }

int32_t Clamp32(int64_t v) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

J3D_CutPath* PathOf(J3D_Cut* cut, int32_t index) {
    return (cut && cut->paths && index >= 0 && index < cut->pathCount) ? &cut->paths[index] : nullptr;
}

// a + b on 32-bit words, wrapping as the words do.
int32_t Wrap(int32_t a, int32_t b) { return static_cast<int32_t>(uint32_t(a) + uint32_t(b)); }
int32_t WrapSub(int32_t a, int32_t b) { return static_cast<int32_t>(uint32_t(a) - uint32_t(b)); }

// 16.16 quotient with a 64-bit dividend, 0 for a zero divisor.
int32_t Quot(int64_t a, int64_t b) { return b ? Clamp32(a * 65536 / b) : 0; }

Inst3D* FindInTree(Inst3D* inst, uint32_t id) {
    if (inst->id == id) return inst;
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c))
        if (Inst3D* hit = FindInTree(c, id)) return hit;
    return nullptr;
}

// The followed instance: in the trees before this one in its list (walking
// backward), then in those after it.
Inst3D* FindFollowed(Inst3D* inst, uint32_t id) {
    for (B3DListNode* n = B3D_ListPrev(B3D_Node(inst)); n; n = B3D_ListPrev(n))
        if (Inst3D* hit = FindInTree(reinterpret_cast<Inst3D*>(n), id)) return hit;
    for (B3DListNode* n = B3D_ListNext(B3D_Node(inst)); n; n = B3D_ListNext(n))
        if (Inst3D* hit = FindInTree(reinterpret_cast<Inst3D*>(n), id)) return hit;
    return nullptr;
}

QelVector KeyPos(const J3D_MotionKey& k) { return QelVector{k.value[0], k.value[1], k.value[2], 0}; }

// A key's rotation as a quaternion: its prepared quaternion, or its angles.
QelQuat KeyQuat(const J3D_MotionKey& k) {
    if (k.flags & KEY_AXIS_ANGLE) return QelQuat{k.quat[0], k.quat[1], k.quat[2], k.quat[3]};
    QelMatrix m;
    Qel_MatFromAngles(&m, k.value[0], k.value[1], k.value[2]);
    QelQuat q;
    Qel_QuatFromMat(&m, &q);
    return q;
}

bool Between(int32_t t, const int32_t* times, int32_t k, int32_t count) {
    return k + 1 < count && t > times[0] && t < times[1];
}

// Time of key i of a track of records whose first word is the time.
int32_t TimeAt(const void* keys, int32_t stride, int32_t i) {
    int32_t t;
    std::memcpy(&t, static_cast<const char*>(keys) + size_t(i) * size_t(stride), sizeof t);
    return t;
}

template <class K>
int32_t Find(const K* keys, int32_t count, int32_t t) {
    return J3D_FindKey(keys, static_cast<int32_t>(sizeof(K)), count, t);
}

// Whether t lies strictly between key k and key k+1.
template <class K>
bool InSpan(const K* keys, int32_t k, int32_t count, int32_t t) {
    const int32_t times[2] = {keys[k].time, k + 1 < count ? keys[k + 1].time : keys[k].time};
    return Between(t, times, k, count);
}

// The scalar blend at t of the value fn(key) over a track.
template <class K, class F>
int32_t ScalarAt(const K* keys, int32_t count, int32_t t, F value) {
    const int32_t k = Find(keys, count, t);
    if (!InSpan(keys, k, count, t)) return value(keys[k]);
    return J3D_InterpolateScalar(value(keys[k]), value(keys[k + 1]), keys[k + 1].time - keys[k].time, t - keys[k].time);
}

// The point a motion track gives at t (interpolated, or the key's value).
QelVector TrackPos(const J3D_MotionKey* keys, int32_t count, int32_t t, int32_t* k) {
    *k = Find(keys, count, t);
    if (!InSpan(keys, *k, count, t)) return KeyPos(keys[*k]);
    QelVector p;
    J3D_InterpolatePos(t, keys, *k, &p);
    return p;
}

void SetRotFromAngles(Inst3D* inst) {
    Qel_MatFromAngles(&inst->matrix, inst->rotAngles[0], inst->rotAngles[1], inst->rotAngles[2]);
    inst->jobFlags &= ~JOB_QUATERNION;
}

void SetRotFromQuat(Inst3D* inst, const QelQuat& q) {
    inst->rotQuat = q;
    Qel_MatFromQuat(&q, &inst->matrix);
    inst->jobFlags |= JOB_QUATERNION;
}

// Sends "CutEvent" with a text and a number to the instance's story object.
bool SendCutEvent(const Inst3D* inst, const char* text, int32_t n) {
    if (!inst->storyObject || !g_SEContext) return false;
    ScriptValue a{}, b{};
    SV_AssignString(&a, text);
    SV_AssignInt(&b, n);
    SE_RunWithValues(0, 0, inst->storyObject, "CutEvent", 1, 2, &a, &b);
    SV_Release(&a);
    SV_Release(&b);
    return true;
}

bool StartsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

// Clears the drive bit on every instance of a tree that plays the cut.
void ClearDrive(Inst3D* inst, int32_t cutId) {
    if (inst->cutId == cutId) inst->jobFlags &= ~JOB_DRIVES_BOUND;
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) ClearDrive(c, cutId);
}

void ClearDriveInScene(const Inst3D* inst) {
    auto walk = [&](const B3DList* list) {
        for (Inst3D* i = B3D_First<Inst3D>(list); i; i = B3D_Next(i)) ClearDrive(i, inst->cutId);
    };
    if (inst->scene) {
        walk(&inst->scene->insts);
        walk(&inst->scene->cameras);
    } else {
        walk(&g_B3DState->freeInsts);
    }
}

// The note texts after a keyword, with leading blanks (and tabs) skipped.
const char* SkipBlanks(const char* s, bool tabs) {
    while (*s == ' ' || (tabs && *s == '\t')) ++s;
    return s;
}

}  // namespace

int32_t J3D_ClockAdd(int32_t x, int32_t c) {
    if (c >= 0) return (QEL_ANGLE_FULL - x > c) ? x + c : x + c - QEL_ANGLE_FULL;
    return (x >= -c) ? x + c : x + c + QEL_ANGLE_FULL;
}

int32_t J3D_FindKey(const void* keys, int32_t stride, int32_t count, int32_t t) {
    if (count <= 0) return 0;
    if (t >= TimeAt(keys, stride, count - 1)) return count - 1;
    if (t <= TimeAt(keys, stride, 0)) return 0;
    int32_t lo = 0, hi = count - 1;  // time(lo) <= t < time(hi)
    while (hi - lo > 1) {
        const int32_t mid = (lo + hi) / 2;
        if (TimeAt(keys, stride, mid) <= t) lo = mid;
        else hi = mid;
    }
    return lo;
}

int32_t J3D_InterpolateScalar(int32_t a, int32_t b, int32_t d, int32_t e) {
    const int64_t mid = (int64_t(a) + b) / 2;
    if (d == 0) return static_cast<int32_t>(mid);
    if (e < 1) return a;
    if (e >= d) return b;
    const int64_t diff = int64_t(b) - a;
    int64_t term;
    if (e < 65536 && d < 65536) term = d != 0 ? diff * (2 * int64_t(e) - d) / (2 * int64_t(d)) : 0;
    else term = diff * (int64_t(e) - d / 2) / d;
    return Clamp32(mid + term);
}

int32_t J3D_EaseCurve(int32_t u, int32_t a, int32_t b) {
    const int64_t sum = int64_t(a) + b;
    if (sum == 0) return u;
    if (sum > ONE) {
        a = Quot(a, sum);
        b = Quot(b, sum);
    }
    const int32_t k = Quot(ONE, int64_t(2) * ONE - a - b);
    if (u < a) return a ? Quot(Qel_FixMul(Qel_FixMul(k, u), u), a) : 0;
    if (u < ONE - b) return Qel_FixMul(k, 2 * u - a);
    if (!b) return ONE;
    return ONE - Quot(Qel_FixMul(Qel_FixMul(k, ONE - u), ONE - u), b);
}

void J3D_InterpolatePos(int32_t t, const J3D_MotionKey* keys, int32_t k, QelVector* out) {
    const J3D_MotionKey &p = keys[k], &n = keys[k + 1];
    int32_t u = Quot(int64_t(t) - p.time, int64_t(n.time) - p.time);
    const QelVector a = KeyPos(p), b = KeyPos(n);
    if (!(p.flags & KEY_POS_SPLINE)) {
        auto lerp = [&](int32_t pa, int32_t pb) {
            return Clamp32(int64_t(Qel_FixMul(ONE - u, pa)) + Qel_FixMul(u, pb));
        };
        *out = {lerp(a.x, b.x), lerp(a.y, b.y), lerp(a.z, b.z), 0};
        return;
    }
    u = J3D_EaseCurve(u, p.spline[4], n.spline[3]);
    const int32_t s = u, s2 = Qel_FixMul(s, s), s3 = Qel_FixMul(s2, s);
    const int32_t h1 = 2 * s3 - 3 * s2 + ONE, h2 = 3 * s2 - 2 * s3, h3 = s3 - 2 * s2 + s, h4 = s3 - s2;
    auto blend = [&](int32_t pa, int32_t pb, int32_t ta, int32_t tb) {
        return Clamp32(int64_t(Qel_FixMul(h1, pa)) + Qel_FixMul(h2, pb) + Qel_FixMul(h3, ta) + Qel_FixMul(h4, tb));
    };
    *out = {blend(a.x, b.x, p.outTangent.x, n.inTangent.x), blend(a.y, b.y, p.outTangent.y, n.inTangent.y),
            blend(a.z, b.z, p.outTangent.z, n.inTangent.z), 0};
}

int32_t J3D_KeyVelocity(int32_t value, int32_t next, int32_t interval) {
    const int64_t diff = int64_t(next) - value;
    // Keys that close together moving that far are a jump, not a motion.
    if (interval <= 1000 && std::llabs(diff) >= int64_t(interval) * 2147483) return 0;
    const int64_t div = int64_t(interval) + 10;
    return div ? Clamp32(diff * 1000 / div) : 0;
}

void J3D_InterpolateRot(int32_t t, QelQuat* out, const J3D_MotionKey* keys, int32_t k, int32_t count) {
    const J3D_MotionKey& a = keys[k];
    const J3D_MotionKey& b = keys[std::min(k + 1, count - 1)];
    const int32_t t1 = a.time, t2 = b.time;
    if (t < t1 || t > t2) {
        Qel_BannerPrintf("J3D_InterpolateRot() Invalid time t=%d [t1=%d, t2=%d]\n", t, t1, t2);
        t = std::clamp(t, t1, std::max(t1, t2));
    }
    int32_t u = Quot(int64_t(t) - t1, int64_t(t2) - t1);
    if (!(a.flags & KEY_ROT_SPLINE) && !(b.flags & KEY_ROT_SPLINE)) {
        const QelQuat qa = KeyQuat(a), qb = KeyQuat(b);
        Qel_QuatSlerp(out, &qa, &qb, u);
        return;
    }
    u = J3D_EaseCurve(u, a.spline[4], b.spline[3]);
    // Tension, continuity and bias spline over the logarithms of the keys.
    struct V3 {
        double x, y, z;
    };
    auto logOf = [](const J3D_MotionKey& key) {
        const QelQuat q = KeyQuat(key);
        double w = q.w / 65536.0, x = q.x / 65536.0, y = q.y / 65536.0, z = q.z / 65536.0;
        const double s = std::sqrt(x * x + y * y + z * z);
        if (s < 1e-9) return V3{0, 0, 0};
        double half = std::atan2(s, w);
        if (half > M_PI / 2) half -= M_PI;
        return V3{half * x / s, half * y / s, half * z / s};
    };
    const int32_t last = count - 1;
    auto at = [&](int32_t i) { return logOf(keys[std::clamp(i, 0, last)]); };
    auto time = [&](int32_t i) { return double(keys[std::clamp(i, 0, last)].time); };
    const V3 p0 = at(k - 1), p1 = at(k), p2 = at(k + 1), p3 = at(k + 2);
    auto tangent = [&](int32_t i, const V3& prev, const V3& cur, const V3& next, bool outgoing) {
        const J3D_MotionKey& key = keys[std::clamp(i, 0, last)];
        const double te = key.spline[0] / 65536.0, co = key.spline[1] / 65536.0, bi = key.spline[2] / 65536.0;
        double fa, fb;
        if (outgoing) {
            fa = (1 - te) * (1 + co) * (1 + bi) / 2;
            fb = (1 - te) * (1 - co) * (1 - bi) / 2;
        } else {
            fa = (1 - te) * (1 - co) * (1 + bi) / 2;
            fb = (1 - te) * (1 + co) * (1 - bi) / 2;
        }
        const double span = time(i + 1) - time(i - 1);
        const double gap = outgoing ? time(i + 1) - time(i) : time(i) - time(i - 1);
        const double A = span > 0 ? 2 * gap / span : 1;
        const double scale = A + co * (1 - A);
        return V3{scale * (fa * (cur.x - prev.x) + fb * (next.x - cur.x)),
                  scale * (fa * (cur.y - prev.y) + fb * (next.y - cur.y)),
                  scale * (fa * (cur.z - prev.z) + fb * (next.z - cur.z))};
    };
    const V3 ta = tangent(k, p0, p1, p2, true), tb = tangent(k + 1, p1, p2, p3, false);
    const double s = u / 65536.0, s2 = s * s, s3 = s2 * s;
    const double h1 = 2 * s3 - 3 * s2 + 1, h2 = 3 * s2 - 2 * s3, h3 = s3 - 2 * s2 + s, h4 = s3 - s2;
    const V3 l{h1 * p1.x + h2 * p2.x + h3 * ta.x + h4 * tb.x, h1 * p1.y + h2 * p2.y + h3 * ta.y + h4 * tb.y,
               h1 * p1.z + h2 * p2.z + h3 * ta.z + h4 * tb.z};
    const double angle = std::sqrt(l.x * l.x + l.y * l.y + l.z * l.z);
    const double sn = std::sin(angle);
    const double f = sn < 0.001 ? 1.0 : sn / angle;
    auto fix = [](double v) { return B3D_FloatToInt(std::lround(v * 65536.0)); };
    *out = {fix(std::cos(angle)), fix(l.x * f), fix(l.y * f), fix(l.z * f)};
}

void J3D_JobApplyCutPlacement(Inst3D* inst, const J3D_Cut* cut) {
    if (!cut || !(cut->flags & CUT_PLACED)) return;
    const QelMatrix& r = cut->placeMatrix;
    QelVector p;
    Qel_MatMulVec(&r, &inst->pos, &p);
    inst->pos = {Wrap(cut->placePos.x, p.x), Wrap(cut->placePos.y, p.y), Wrap(cut->placePos.z, p.z), inst->pos.w};
    QelMatrix m;
    Qel_MatMul(&inst->matrix, &r, &m);
    inst->matrix = m;
    const QelVector v{inst->velocity[0], inst->velocity[1], inst->velocity[2], 0};
    QelVector w;
    Qel_MatMulVec(&r, &v, &w);
    inst->velocity[0] = w.x;
    inst->velocity[1] = w.y;
    inst->velocity[2] = w.z;
}

int32_t J3D_JobStep(Inst3D* inst, J3D_Cut* cut, int32_t t) {
    if (!cut) return 0;
    J3D_CutPath* path = PathOf(cut, inst->pathNr);
    if (t < 0) t = 0;
    int32_t remaining = Clamp32(int64_t(inst->jobTo) - t);
    int32_t tp = t;
    if (inst->jobFlags & JOB_BACKWARD) tp = std::max(0, Clamp32(int64_t(inst->jobFrom) + remaining));
    if (path) {
        const int32_t length = J3D_CutGetLength(path);
        if (!(inst->jobFlags & (JOB_END_TIME_ONLY | JOB_BACKWARD)) && length < inst->jobTo)
            remaining = Clamp32(int64_t(length) - t);

        // Position and velocity.
        if (path->followInstId) {
            if (Inst3D* f = FindFollowed(inst, uint32_t(path->followInstId))) {
                QelVector w;
                B3D_InstGetAbsPos(f, &w);
                inst->pos = {w.x, w.y, w.z, inst->pos.w};
            }
        } else if (path->posCount > 0 && path->posKeys) {
            int32_t k;
            const QelVector p = TrackPos(path->posKeys, path->posCount, tp, &k);
            inst->pos = {p.x, p.y, p.z, inst->pos.w};
            const J3D_MotionKey* keys = path->posKeys;
            if (k + 1 < path->posCount && tp >= keys[k].time) {
                const int32_t interval = keys[k + 1].time - keys[k].time;
                for (int32_t i = 0; i < 3; ++i)
                    inst->velocity[i] = J3D_KeyVelocity(keys[k].value[i], keys[k + 1].value[i], interval);
            } else {
                for (int32_t i = 0; i < 3; ++i) inst->velocity[i] = 0;
            }
        }

        // Rotation.
        if (path->rotCount > 0 && path->rotKeys) {
            const J3D_MotionKey* keys = path->rotKeys;
            const int32_t k = Find(keys, path->rotCount, tp);
            if (InSpan(keys, k, path->rotCount, tp)) {
                if (!(keys[k].flags & KEY_AXIS_ANGLE) && !(keys[k + 1].flags & KEY_AXIS_ANGLE)) {
                    const int32_t d = keys[k + 1].time - keys[k].time, e = tp - keys[k].time;
                    for (int32_t i = 0; i < 3; ++i)
                        inst->rotAngles[i] = J3D_InterpolateScalar(keys[k].value[i], keys[k + 1].value[i], d, e);
                    SetRotFromAngles(inst);
                } else {
                    QelQuat q;
                    J3D_InterpolateRot(tp, &q, keys, k, path->rotCount);
                    SetRotFromQuat(inst, q);
                }
            } else if (keys[k].flags & KEY_AXIS_ANGLE) {
                SetRotFromQuat(inst, KeyQuat(keys[k]));
            } else {
                for (int32_t i = 0; i < 3; ++i) inst->rotAngles[i] = keys[k].value[i];
                SetRotFromAngles(inst);
            }
        }

        // Look at a target point.
        if (path->targetCount > 0 && path->targetKeys) {
            int32_t k;
            const QelVector target = TrackPos(path->targetKeys, path->targetCount, tp, &k);
            const QelVector d{WrapSub(target.x, inst->pos.x), WrapSub(target.y, inst->pos.y),
                              WrapSub(target.z, inst->pos.z), 0};
            Qel_AnglesFromVector(&d, &inst->rotAngles[0], &inst->rotAngles[1]);
            SetRotFromAngles(inst);
        }

        // Roll.
        if (path->rollCount > 0 && path->rollKeys) {
            const int32_t roll =
                ScalarAt(path->rollKeys, path->rollCount, tp, [](const J3D_RollKey& key) { return key.roll; });
            inst->rotAngles[2] = roll & 0xffff;
            SetRotFromAngles(inst);
        }

        // Light colour.
        if ((inst->flags & INST_LIGHT) && path->colorCount > 0 && path->colorKeys) {
            for (int32_t i = 0; i < 3; ++i) {
                const int32_t v = ScalarAt(path->colorKeys, path->colorCount, tp,
                                           [i](const J3D_ColorKey& key) { return key.rgb[i]; });
                inst->lightColor[i] = static_cast<uint16_t>((int64_t(v) * 255 + 32768) >> 16);
            }
            if (inst->rendererLight) S_3DUpdateLight(inst);
        }

        // Field of view.
        if (path->fovCount > 0 && path->fovKeys) {
            const int32_t fov =
                ScalarAt(path->fovKeys, path->fovCount, tp, [](const J3D_FovKey& key) { return key.value; });
            Inst3D* target = inst;
            if (inst->jobFlags & JOB_DRIVES_BOUND) target = inst->boundInst;
            if (target && (target->flags & INST_CAMERA)) reinterpret_cast<Camera3D*>(target)->focus = fov;
        }
    }

    J3D_JobApplyCutPlacement(inst, cut);

    if ((inst->jobFlags & JOB_DRIVES_BOUND) && inst->boundInst && inst->boundInst != inst) {
        inst->boundInst->pos = inst->pos;
        inst->boundInst->matrix = inst->matrix;
    }

    if (remaining > 0) return remaining;
    const bool loops = (inst->jobFlags & JOB_LOOP) || (cut->flags & CUT_LOOP) || (path && (path->flags & PATH_LOOP));
    const int64_t span = int64_t(inst->jobTo) - inst->jobFrom;
    if (loops && span > 0) {
        const int64_t r = (-int64_t(remaining)) % span;
        const int32_t clock = GameClock();
        inst->jobOrigin = J3D_ClockAdd(clock, -static_cast<int32_t>((r + inst->jobFrom) % QEL_ANGLE_FULL));
        inst->jobStamp = clock;
        return remaining;
    }
    inst->jobFlags |= JOB_STOPPED;
    if (inst->jobFlags & JOB_WAITING) {
        inst->jobFlags &= ~JOB_WAITING;
        J3D_DoEngineReply(inst->replyModule, inst->replyHandle, B3D_REPLY_JOB_ENDED);
    }
    return remaining;
}

int32_t J3D_JobStartInst(Inst3D* inst, int32_t from, int32_t pathIndex, J3D_Cut* cut, int32_t to,
                         int32_t continueFlag) {
    // The new job takes the place of the old one: a caller still waiting on
    // that hears that it stopped.
    if (inst->jobFlags & JOB_WAITING) {
        inst->jobFlags &= ~JOB_WAITING;
        J3D_DoEngineReply(inst->replyModule, inst->replyHandle, B3D_REPLY_JOB_STOPPED);
    }
    J3D_CutPath* path = PathOf(cut, pathIndex);
    inst->cutId = cut ? static_cast<int32_t>(cut->id) : 0;
    inst->pathNr = pathIndex;
    if (path) inst->pathWord = path->value1;
    const bool wasBackward = inst->jobFlags & JOB_BACKWARD;
    const int32_t prevFrom = inst->jobFrom, prevTo = inst->jobTo;
    inst->jobFlags &= ~(JOB_STOPPED | JOB_EVENT_MINUS_ONE | JOB_BACKWARD);
    inst->jobFlags |= JOB_RUNNING;

    if (from > 0 && to >= 0 && to < from) {
        inst->jobFlags |= JOB_BACKWARD;
        inst->jobFrom = to;
        inst->jobTo = from;
    } else if (to > 0) {
        inst->jobFrom = from;
        inst->jobTo = to;
    } else {
        inst->jobFrom = from;
        inst->jobTo = path ? J3D_CutGetLength(path) : 0;
    }

    if (continueFlag) {
        const int32_t p = B3D_ClockDiff(inst->jobStamp, inst->jobOrigin);
        const int32_t pos =
            wasBackward ? std::max(Clamp32(int64_t(prevTo) - p + prevFrom), prevFrom) : std::min(p, prevTo);
        if (inst->jobFlags & JOB_BACKWARD) {
            if (pos < inst->jobFrom) {
                inst->jobFlags &= ~JOB_BACKWARD;  // forward from the position up to the old from
                inst->jobFrom = pos;
            } else {
                inst->jobTo = pos;  // backward from the position
            }
        } else if (pos <= inst->jobTo) {
            inst->jobFrom = pos;
        } else {
            inst->jobFlags |= JOB_BACKWARD;  // backward from the position down to the end
            inst->jobFrom = inst->jobTo;
            inst->jobTo = pos;
        }
    }

    const int32_t clock = GameClock();
    inst->jobOrigin = J3D_ClockAdd(clock, -(inst->jobFrom % QEL_ANGLE_FULL));
    inst->jobStamp = clock;
    J3D_JobStep(inst, cut, inst->jobFrom);
    return 1;
}

int32_t J3D_JobStartInstById(Inst3D* inst, int32_t from, int32_t to, int32_t continueFlag) {
    if (!inst || !inst->cutId) return 0;
    J3D_Cut* cut = J3D_CutIsLoaded(inst->cutId);
    if (!cut) return 0;
    return J3D_JobStartInst(inst, from, inst->pathNr, cut, to, continueFlag);
}

void J3D_FinishAllJobs() {
    if (!g_B3DState) return;
    const QelTable* table = g_B3DState->instTable;
    uint32_t key = Qel_TableNext(table, 0);
    while (key) {
        const uint32_t next = Qel_TableNext(table, key);
        if (auto* inst = reinterpret_cast<Inst3D*>(Qel_TableGet(table, key))) {
            const int32_t p = B3D_ClockDiff(inst->jobStamp, inst->jobOrigin);
            const int32_t c = Clamp32(int64_t(p) - inst->jobTo);
            inst->jobOrigin = J3D_ClockAdd(inst->jobOrigin, c % QEL_ANGLE_FULL);
            inst->jobStamp = J3D_ClockAdd(inst->jobStamp, c % QEL_ANGLE_FULL);
            inst->jobFlags |= JOB_EVENT_MINUS_ONE;
        }
        key = next;
    }
}

void J3D_InstDoNotes(Inst3D* inst, int32_t time) {
    J3D_CutPath* path = PathOf(J3D_CutIsLoaded(inst->cutId), inst->pathNr);
    if (!path) return;
    for (int32_t i = 0; i < path->noteCount; ++i)
        if (path->notes[i].time == time) J3D_DoNodeTrackCommand(inst, path, i);
}

void J3D_DoNodeTrackCommand(Inst3D* inst, J3D_CutPath* path, int32_t noteIndex) {
    if (!path || noteIndex < 0 || noteIndex >= path->noteCount) return;
    const J3D_Note& note = path->notes[noteIndex];
    const char* text = note.text ? note.text : "";
    const int32_t minusOne = (inst->jobFlags & JOB_EVENT_MINUS_ONE) ? -1 : 0;

    if (StartsWith(text, "camera ")) {
        const char* s = SkipBlanks(text + 7, false);
        const char* e = std::strchr(s, ' ');
        const std::string name(s, e ? size_t(e - s) : std::strlen(s));
        ClearDriveInScene(inst);
        if (Inst3D* cam = B3DB_InstFindByPathName(inst, name.c_str())) {
            cam->jobFlags |= JOB_DRIVES_BOUND;
            cam->boundInst = cam != inst ? inst : nullptr;
            Qel_DPrintf(0, "Switching to Camera %s\n", name.c_str());
        } else {
            Qel_BannerPrintf("Can't switch to camera %s, no path with that name found!\n", name.c_str());
        }
        return;
    }
    if (StartsWith(text, "event ")) {
        const char* s = SkipBlanks(text + 6, true);
        std::string event(s);
        while (!event.empty() && event.back() == ' ') event.pop_back();
        int32_t value = 0;
        if (StartsWith(event.c_str(), "speak")) {
            for (int32_t i = noteIndex + 1; i < path->noteCount; ++i) {
                const char* t = path->notes[i].text ? path->notes[i].text : "";
                if (StartsWith(t, "event speak")) break;
                if (StartsWith(t, "endspeak") || StartsWith(t, "end speak")) {
                    value = Clamp32(int64_t(path->notes[i].time) - note.time);
                    break;
                }
            }
        }
        if (minusOne) value = -1;
        const int32_t time = note.time;
        if (SendCutEvent(inst, event.c_str(), value)) Qel_DPrintf(0, "Sent CutEvent t=%d %s\n", time, event.c_str());
        return;
    }
    if (StartsWith(text, "end speak")) {
        if (SendCutEvent(inst, "endspeak", minusOne)) Qel_DPrintf(0, "Sent CutEvent endspeak\n");
        return;
    }
    if (StartsWith(text, "start ") || StartsWith(text, "lstart ") || StartsWith(text, "end ") ||
        StartsWith(text, "lend "))
        return;
    Qel_BannerPrintf("Unknown nodetrack command [%s]\n", text);
}
