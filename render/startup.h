// The renderer's start on a created device: texture formats, declarations and
// default states, matrices, the capabilities behind every later effect choice
// (vertex processing, pixel-shader level, hardware lights, full-screen gamma),
// and the bloom and environment-map objects.
#pragma once

#include <cstdint>

// The most hardware lights the renderer uses, whatever the device offers.
constexpr int32_t S3D_MAX_HARDWARE_LIGHTS = 8;
// Video option (VideoD3DFlags2): the device can set a gamma ramp full screen.
constexpr uint32_t S3D_OPTION_FULLSCREEN_GAMMA = 0x40;

// 1 when the renderer is ready, 0 when memory runs out (or there is no device).
int S_3DInit();
