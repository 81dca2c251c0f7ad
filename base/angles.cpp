#include "base/angles.h"

// Arithmetic wraps at 32 bits as the clocks do; the wrap is spelled out so
// that no argument can overflow a signed integer.
static int32_t Wrap32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

int32_t Qel_AngleDiff(int32_t a, int32_t b) {
    int32_t d = Wrap32(static_cast<int64_t>(a) - b);
    if (b > a && Wrap32(static_cast<int64_t>(b) - a) > QEL_ANGLE_HALF)
        return Wrap32(static_cast<int64_t>(d) + QEL_ANGLE_FULL);
    if (a >= b && d > QEL_ANGLE_HALF) return Wrap32(static_cast<int64_t>(d) - QEL_ANGLE_FULL);
    return d;
}

int32_t Qel_AngleAdd(int32_t delta, int32_t angle) {
    int64_t s = static_cast<int64_t>(angle) + delta;
    if (s < 0) s += QEL_ANGLE_FULL;
    else if (s >= QEL_ANGLE_FULL) s -= QEL_ANGLE_FULL;
    return Wrap32(s);
}
