// STANDIN: the cut file readers; replaced by the cut files change.
#include "scene/cutfiles.h"

J3D_Cut* J3D_LoadCutBin(int32_t) { return nullptr; }
J3D_Cut* J3D_LoadCut2(int32_t) { return nullptr; }
