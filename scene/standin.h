// STANDIN: the scene engine (B3D_, J3D_): registers its engine-call module in
// start-up order (module 2), answers the calls the program's start-up, game
// loop and exit make, and records each one. Its save section is the section's
// two cookies around one word, checked on reading; StandIn_SetFailure with
// "B3D_SaveGame" or "B3D_LoadGame" makes it fail.
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
struct QelFile;
int B3D_SaveGame(QelFile* file);  // 1 written, 0 failed
int B3D_LoadGame(QelFile* file);  // 1 read, 0 failed after a log line
void B3D_CheckSavedInsts();
void B3D_FreeLoadInsts();
