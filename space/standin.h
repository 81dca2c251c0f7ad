// STANDIN: what the space simulation still lacks: the view refit after the
// video mode was reopened, and its save section, which is the section's two
// cookies around one word, checked on reading (StandIn_SetFailure with
// "SA_SaveSectors" or "SA_LoadSectors" makes it fail). Each call is recorded.
// The take cut loader (ST_LoadCut, space/cutscene.h) is its least form: one
// plain instance per path of the cut in the take's sector's space scene, no
// objects and no lights.
#pragma once

#include "space/records.h"

// Re-fits every object's and every sector's view data to the screen views
// (after the video mode was reopened).
void SA_RefitViews(SpaceRoot* root);
struct QelFile;
// The "SECT" ... "/SEC" section of save games; 1 done, 0 failed.
int SA_SaveSectors(QelFile* file);
int SA_LoadSectors(QelFile* file);
