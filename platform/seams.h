// Every test seam of the platform stand-ins back to its state at process start:
// no forced failures, no scripted devices, the real clock, command line and
// processor, an empty message queue. What the stand-ins count of their live
// objects (open keys, crypt handles, devices) is left alone: those are the
// platform's own truth, not a test's wish.
#pragma once

void Platform_ResetAllSeams();
