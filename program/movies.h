// Movies and voice timing (MOV_: engine-call module 6).
//
// STUB: the module is not built yet. MOV_Init registers the module in its
// place; every call answers 0 and every step is recorded
// (program/standin_calls.h).
#pragma once

#include <cstdint>

#include "system/movie.h"

// The module's number; it is registered whether or not the movie table could
// be made, so the numbers of the modules after it (and in save games) never
// shift. 0 before MOV_Init.
extern int32_t g_MovieModule;
// Registers the module; answers the movie table (null is no failure).
MovieTable* MOV_Init();
void MOV_StopPlayingMovies();
// Per frame: movies that ended answer their callers.
void MOV_CheckFinished();
// Location reset: every movie's record, then the voices.
void MOV_FreeAllMovies();
void MOV_FreeVoices();
void MOV_Exit();
