#include "scene/cutkeys.h"

#include <cstring>

#include "base/fixmath.h"
#include "base/log.h"
#include "base/vrmfile.h"
#include "scene/pools.h"
#include "scene/smallops.h"
#include "scene/state.h"

// The program's exit; a work array that cannot grow ends it.
[[noreturn]] void P_Exit(int reason);

namespace {

// Running time of the path being read, in ms from its start.
int32_t s_keyTime = 0;

// Work arrays are whole committed blocks (the state frees them so); growing
// one moves it into a block 100 keys larger.
constexpr uint32_t kWorkFlags = B3D_MEM_VIRTUAL | B3D_MEM_ZERO;

void FreeWork(int32_t track) {
    J3D_KeyBuffer& b = g_B3DState->cutBuffers[track];
    if (b.keys) B3D_FreeMemJ(b.capacity * J3D_KeySize(track), b.keys, kWorkFlags);
    b = {};
}

// The next free key of a track, zeroed.
void* NewKey(int32_t track) {
    J3D_KeyBuffer& b = g_B3DState->cutBuffers[track];
    const int32_t size = J3D_KeySize(track);
    if (b.count >= b.capacity) {
        void* grown = B3D_AllocMemJ((b.capacity + 100) * size, kWorkFlags);
        if (!grown) P_Exit(3);
        if (b.keys) {
            std::memcpy(grown, b.keys, size_t(b.count) * size_t(size));
            B3D_FreeMemJ(b.capacity * size, b.keys, kWorkFlags);
        }
        b.keys = grown;
        b.capacity += 100;
    }
    void* key = static_cast<char*>(b.keys) + size_t(b.count++) * size_t(size);
    std::memset(key, 0, size_t(size));
    return key;
}

J3D_MotionKey* NewMotionKey(int32_t track) { return static_cast<J3D_MotionKey*>(NewKey(track)); }

// The tracks a key line feeds.
uint32_t TracksOf(uint32_t f) {
    uint32_t t = 0;
    if (!(f & KEY_NO_POSITION)) t |= 1u << J3D_TRACK_POS;
    if (f & KEY_TARGET_ROLL) {
        if (!(f & KEY_NO_TARGET)) t |= 1u << J3D_TRACK_TARGET;
        if (!(f & KEY_NO_ROTATION)) t |= 1u << J3D_TRACK_ROLL;
    } else if (f & KEY_NO_ROTATION) {
        if (f & KEY_AXIS_ANGLE) t |= 1u << J3D_TRACK_ROT;
    } else if ((f & KEY_AXIS_ANGLE) || !(f & KEY_COLOR)) {
        t |= 1u << J3D_TRACK_ROT;
    }
    if ((f & KEY_COLOR) && !(f & KEY_NO_COLOR)) t |= 1u << J3D_TRACK_COLOR;
    if ((f & KEY_FOV) && !(f & KEY_NO_FOV)) t |= 1u << J3D_TRACK_FOV;
    return t;
}

// 16.16 quotient a / b with a 64-bit dividend, 0 for b == 0.
int32_t Quot(int64_t a, int64_t b) { return b ? int32_t(a * 65536 / b) : 0; }

QelVector Pos(const J3D_MotionKey& k) { return QelVector{k.value[0], k.value[1], k.value[2], 0}; }

// Per component, wrapping like the 32-bit words they are.
QelVector Sub(const QelVector& a, const QelVector& b) {
    return QelVector{int32_t(uint32_t(a.x) - uint32_t(b.x)), int32_t(uint32_t(a.y) - uint32_t(b.y)),
                     int32_t(uint32_t(a.z) - uint32_t(b.z)), 0};
}
QelVector Add(const QelVector& a, const QelVector& b) {
    return QelVector{int32_t(uint32_t(a.x) + uint32_t(b.x)), int32_t(uint32_t(a.y) + uint32_t(b.y)),
                     int32_t(uint32_t(a.z) + uint32_t(b.z)), 0};
}
// Spline terms come from the file as they stand: 1.0 minus or plus any of
// them wraps rather than overflows.
int32_t FixSub(int32_t a, int32_t b) { return static_cast<int32_t>(uint32_t(a) - uint32_t(b)); }
int32_t FixAdd(int32_t a, int32_t b) { return static_cast<int32_t>(uint32_t(a) + uint32_t(b)); }

QelVector Scale(const QelVector& v, int32_t s) {
    QelVector out{0, 0, 0, 0};
    Fx_VecScale(&v, s, &out);
    return out;
}

// The tangent of an end key: 0.5 D + 1.5 (E - 0.5 D) + (1 - te) ((0.25 - r) D),
// with D the difference over two keys and E over one.
QelVector EndTangent(const QelVector& d, const QelVector& e, int32_t r, int32_t te) {
    const QelVector half = Scale(d, 0x8000);
    return Add(Add(half, Scale(Sub(e, half), 0x18000)), Scale(Scale(d, FixSub(0x4000, r)), FixSub(QEL_FIX_ONE, te)));
}

}  // namespace

void J3D_BeginPathKeys() {
    s_keyTime = 0;
    for (int32_t t = 0; t < J3D_KEY_TRACKS; ++t) g_B3DState->cutBuffers[t].count = 0;
}

int32_t J3D_LoadCutKey(VRMFile* r, uint32_t f, const char* fileName, int32_t pathNr, int32_t stateNr) {
    const uint32_t tracks = TracksOf(f);
    for (int32_t t = 0; t < J3D_KEY_TRACKS; ++t) {
        if ((tracks & (1u << t)) && g_B3DState->cutBuffers[t].count >= J3D_MAX_PATH_KEYS) {
            Qel_BannerPrintf(
                "J3D_LoadCutKey: Error loading cut file %s - maximum number of path states reached in path %d, state "
                "%d\n",
                fileName, pathNr, stateNr);
            r->error = 1;
            return 0;
        }
    }
    const int32_t time = s_keyTime;
    auto stamp = [&](int32_t* keyTime, uint32_t* keyFlags) {
        *keyTime = time;
        *keyFlags = f;
    };
    if (!(f & KEY_NO_POSITION)) {
        J3D_MotionKey* k = NewMotionKey(J3D_TRACK_POS);
        stamp(&k->time, &k->flags);
        for (int32_t& v : k->value) v = r->ReadInt();
        if (f & KEY_POS_SPLINE)
            for (int32_t& s : k->spline) s = r->ReadFixed();
    }
    if (f & KEY_TARGET_ROLL) {
        if (!(f & KEY_NO_TARGET)) {
            J3D_MotionKey* k = NewMotionKey(J3D_TRACK_TARGET);
            stamp(&k->time, &k->flags);
            for (int32_t& v : k->value) v = r->ReadInt();
        }
        if (!(f & KEY_NO_ROTATION)) {
            auto* k = static_cast<J3D_RollKey*>(NewKey(J3D_TRACK_ROLL));
            stamp(&k->time, &k->flags);
            k->roll = int32_t(0u - uint32_t(r->ReadFixed()));
        }
    } else if (f & KEY_NO_ROTATION) {
        if (f & KEY_AXIS_ANGLE) {
            J3D_MotionKey* k = NewMotionKey(J3D_TRACK_ROT);
            stamp(&k->time, &k->flags);
            k->axis[0] = -QEL_FIX_ONE;
            // The identity carries the identity quaternion (the preparation
            // leaves keys with KEY_NO_ROTATION alone).
            k->quat[0] = QEL_FIX_ONE;
        }
    } else if (f & KEY_AXIS_ANGLE) {
        J3D_MotionKey* k = NewMotionKey(J3D_TRACK_ROT);
        stamp(&k->time, &k->flags);
        k->value[0] = r->ReadFixed();
        for (int32_t& a : k->axis) a = r->ReadFixed();
        if (f & KEY_ROT_SPLINE)
            for (int32_t& s : k->spline) s = r->ReadFixed();
    } else if (!(f & KEY_COLOR)) {
        J3D_MotionKey* k = NewMotionKey(J3D_TRACK_ROT);
        stamp(&k->time, &k->flags);
        for (int32_t& v : k->value) v = r->ReadFixed();
    }
    if ((f & KEY_COLOR) && !(f & KEY_NO_COLOR)) {
        auto* k = static_cast<J3D_ColorKey*>(NewKey(J3D_TRACK_COLOR));
        stamp(&k->time, &k->flags);
        for (int32_t& c : k->rgb) c = r->ReadFixed();
    }
    if ((f & KEY_FOV) && !(f & KEY_NO_FOV)) {
        auto* k = static_cast<J3D_FovKey*>(NewKey(J3D_TRACK_FOV));
        stamp(&k->time, &k->flags);
        k->value = r->ReadFixed();
    }
    const int32_t duration = r->ReadInt();
    if (duration == 0 || duration < -1)
        Qel_BannerPrintf(
            "J3D_LoadCutKey: Error loading cut file %s - found key with invalid duration %d in path %d, state %d\n",
            fileName, duration, pathNr, stateNr);
    // Only a positive duration moves the clock: key times never go back, so
    // the key search over them stays sorted.
    if (duration > 0) s_keyTime = int32_t(uint32_t(s_keyTime) + uint32_t(duration));
    r->ReadInt();
    return 1;
}

void J3D_FinishPathKeys(J3D_CutPath* path) {
    void** arrays[J3D_KEY_TRACKS] = {
        reinterpret_cast<void**>(&path->posKeys),    reinterpret_cast<void**>(&path->rotKeys),
        reinterpret_cast<void**>(&path->targetKeys), reinterpret_cast<void**>(&path->rollKeys),
        reinterpret_cast<void**>(&path->colorKeys),  reinterpret_cast<void**>(&path->fovKeys)};
    int32_t* counts[J3D_KEY_TRACKS] = {&path->posCount,  &path->rotCount,   &path->targetCount,
                                       &path->rollCount, &path->colorCount, &path->fovCount};
    for (int32_t t = 0; t < J3D_KEY_TRACKS; ++t) {
        J3D_KeyBuffer& b = g_B3DState->cutBuffers[t];
        *arrays[t] = nullptr;
        *counts[t] = 0;
        if (b.count > 0) {
            const int32_t bytes = b.count * J3D_KeySize(t);
            void* keys = B3D_AllocMemJ(bytes, B3D_MEM_ZERO);
            if (!keys) P_Exit(3);
            std::memcpy(keys, b.keys, size_t(bytes));
            *arrays[t] = keys;
            *counts[t] = b.count;
        }
        FreeWork(t);
    }
    J3D_PreparePositionKeys(path->posCount, path->posKeys);
    J3D_PrepareRotationKeys(path->rotCount, path->rotKeys);
}

void J3D_DropPathKeys() {
    if (!g_B3DState) return;
    for (int32_t t = 0; t < J3D_KEY_TRACKS; ++t) FreeWork(t);
    s_keyTime = 0;
}

void J3D_PrepareRotationKeys(int32_t count, J3D_MotionKey* keys) {
    QelQuat running{QEL_FIX_ONE, 0, 0, 0};
    for (int32_t i = 0; i < count; ++i) {
        J3D_MotionKey& k = keys[i];
        if ((k.flags & KEY_AXIS_ANGLE) && !(k.flags & (KEY_PREPARED | KEY_NO_ROTATION))) {
            const QelAxisAngle aa{k.value[0], k.axis[0], k.axis[1], k.axis[2]};
            QelQuat q{};
            Qel_QuatFromAxisAngle(&aa, &q);
            if (!(k.flags & KEY_ABSOLUTE)) Qel_QuatMul(&running, &q, &q);
            running = q;
            k.quat[0] = q.w;
            k.quat[1] = q.x;
            k.quat[2] = q.y;
            k.quat[3] = q.z;
        }
        k.flags |= KEY_PREPARED;
    }
}

void J3D_PreparePositionKeys(int32_t n, J3D_MotionKey* keys) {
    if (n <= 0) return;
    const QelVector zero{0, 0, 0, 0};
    keys[0].inTangent = zero;
    keys[n - 1].outTangent = zero;
    if (n == 1) return;
    if (n == 2) {
        const QelVector d = Sub(Pos(keys[1]), Pos(keys[0]));
        keys[0].outTangent = Scale(d, FixSub(QEL_FIX_ONE, keys[0].spline[0]));
        keys[1].inTangent = Scale(d, FixSub(QEL_FIX_ONE, keys[1].spline[0]));
        return;
    }
    constexpr int32_t ONE = QEL_FIX_ONE;
    for (int32_t i = 1; i <= n - 2; ++i) {
        const J3D_MotionKey &q = keys[i - 1], &k = keys[i], &nx = keys[i + 1];
        const int64_t span = int64_t(nx.time) - q.time;
        const int32_t ra = Quot(int64_t(k.time) - q.time, span);
        const int32_t rb = Quot(int64_t(nx.time) - k.time, span);
        const int32_t te = k.spline[0], co = k.spline[1], bi = k.spline[2];
        auto factor = [&](int32_t c, int32_t b) { return Qel_FixMul(Qel_FixMul(FixSub(ONE, te), c), b); };
        const int32_t f1 = factor(FixAdd(ONE, co), FixSub(ONE, bi)), f2 = factor(FixSub(ONE, co), FixAdd(ONE, bi));
        const int32_t f3 = factor(FixSub(ONE, co), FixSub(ONE, bi)), f4 = factor(FixAdd(ONE, co), FixAdd(ONE, bi));
        const QelVector ahead = Sub(Pos(nx), Pos(k)), behind = Sub(Pos(k), Pos(q));
        keys[i].inTangent = Scale(Add(Scale(ahead, f1), Scale(behind, f2)), ra);
        keys[i].outTangent = Scale(Add(Scale(ahead, f3), Scale(behind, f4)), rb);
    }
    {
        const J3D_MotionKey &f = keys[0], &b1 = keys[1], &c2 = keys[2];
        const int32_t r = Quot(int64_t(b1.time) - f.time, 2 * (int64_t(c2.time) - f.time));
        keys[0].outTangent = EndTangent(Sub(Pos(c2), Pos(f)), Sub(Pos(b1), Pos(f)), r, f.spline[0]);
    }
    {
        const J3D_MotionKey &l = keys[n - 1], &b1 = keys[n - 2], &a = keys[n - 3];
        const int32_t r = Quot(int64_t(l.time) - b1.time, 2 * (int64_t(l.time) - a.time));
        keys[n - 1].inTangent = EndTangent(Sub(Pos(l), Pos(a)), Sub(Pos(l), Pos(b1)), r, l.spline[0]);
    }
}
