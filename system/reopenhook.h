// The scene engine's part of a device reopen, run by the video device after a
// successful reset. The scene engine's start-up sets it (the system layer
// cannot call upwards); its 0 fails the reset.
#pragma once

extern int (*g_SReopenDeviceHook)();
