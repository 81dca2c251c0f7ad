// STANDIN: the scene engine's frame (B3D_, J3D_): the frame draw the game
// loop calls, recorded.
#pragma once

#include <cstdint>

#include "scene/names.h"
#include "scene/replay.h"
#include "scene/smallops.h"
#include "scene/startup.h"
#include "scene/state.h"

void B3D_DrawObjects();
void B3D_FreeTextureFormats();
