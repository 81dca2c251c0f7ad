#include "platform/d3d9/pacing.h"

namespace {
constexpr int64_t kNsPerSecond = 1000000000;
constexpr int kDefaultRefreshHz = 60;
// A swap said to wait for the refresh that keeps coming back this many times
// in a row in under half a period does not wait: the pacer takes over.
constexpr int kQuickSwapsToDistrust = 8;
}  // namespace

int64_t D3D9_RefreshPeriodNs(int refreshHz) { return kNsPerSecond / (refreshHz > 0 ? refreshHz : kDefaultRefreshHz); }

int64_t D3D9_PaceDelay(D3D9FramePacer* pacer, int64_t nowNs) {
    D3D9FramePacer& p = *pacer;
    if (p.periodNs <= 0) return 0;
    if (p.swapWaits) {
        if (p.started && nowNs - p.lastNs < p.periodNs / 2) {
            if (++p.quickSwaps >= kQuickSwapsToDistrust) p.swapWaits = false;
        } else {
            p.quickSwaps = 0;
        }
        p.started = true;
        p.lastNs = nowNs;
        if (p.swapWaits) return 0;
        p.nextNs = nowNs;
    }
    int64_t wait = 0;
    // A frame a whole period late starts the cadence again from now rather than
    // letting a burst of frames catch up.
    if (!p.started || nowNs - p.nextNs >= p.periodNs) p.nextNs = nowNs;
    else if (nowNs < p.nextNs) wait = p.nextNs - nowNs;
    p.started = true;
    p.nextNs += p.periodNs;
    p.lastNs = nowNs + wait;
    return wait;
}
