// Frame pacing where the swap does not wait for the display's refresh (the
// offscreen driver, a driver that refuses a swap interval, or one that accepts
// it and still returns at once): the device sleeps before each swap so that
// presents come no faster than the refresh rate.
#pragma once

#include <cstdint>

struct D3D9FramePacer {
    int64_t periodNs = 0;    // one refresh; 0 = no pacing
    bool swapWaits = false;  // the swap itself is taken to wait, until shown otherwise
    int quickSwaps = 0;      // presents in a row that came in under half a period
    bool started = false;
    int64_t lastNs = 0;  // when the last present was shown
    int64_t nextNs = 0;  // the earliest time the next present may be shown
};

// A refresh period in ns: the display's rate, 60 Hz when it tells none.
int64_t D3D9_RefreshPeriodNs(int refreshHz);
// Called right before a swap at time nowNs (monotonic ns): the ns to sleep first.
int64_t D3D9_PaceDelay(D3D9FramePacer* pacer, int64_t nowNs);
