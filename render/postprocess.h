// The bloom post-process: the back buffer copied into the scene texture, then
// the passes of the effect "bloom", each drawing the screen quad into the
// target it names, between the scene copy, two glow maps and the back buffer.
#pragma once

// The system flags bit that turns bloom on (VideoD3DFlags2).
constexpr unsigned S3D_OPTION_BLOOM = 0x80;

void S_3DRenderPostProcessFX();
