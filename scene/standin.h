// STANDIN: the scene engine (B3D_, J3D_): registers its engine-call module in
// start-up order (module 2), answers the calls the program's start-up, game
// loop and exit make, and records each one.
#pragma once

#include <cstdint>

#include "scene/names.h"
#include "scene/replay.h"
#include "scene/smallops.h"
#include "scene/state.h"

B3DState* B3D_Init();  // null on failure (exit reason 30)
int B3DB_Init();       // 0 on failure (exit reason 7)
void B3D_DrawObjects();
void B3D_FreeTextureFormats();
