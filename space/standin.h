// STANDIN: what the space simulation still lacks: the view refit after the
// video mode was reopened (the call is recorded).
#pragma once

#include "space/records.h"

// Re-fits every object's and every sector's view data to the screen views
// (after the video mode was reopened).
void SA_RefitViews(SpaceRoot* root);
