// STANDIN: what the space simulation still lacks: the view refit after the
// video mode was reopened (the call is recorded).
// The take cut loader (ST_LoadCut, space/cutscene.h) is its least form: one
// plain instance per path of the cut in the take's sector's space scene, no
// objects and no lights.
#pragma once

#include "space/records.h"

// Re-fits every object's and every sector's view data to the screen views
// (after the video mode was reopened).
void SA_RefitViews(SpaceRoot* root);
