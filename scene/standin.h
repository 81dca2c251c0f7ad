// STANDIN: the scene engine's texture-format release, recorded.
#pragma once

#include <cstdint>

#include "scene/framedraw.h"
#include "scene/names.h"
#include "scene/replay.h"
#include "scene/smallops.h"
#include "scene/startup.h"
#include "scene/state.h"

void B3D_FreeTextureFormats();
