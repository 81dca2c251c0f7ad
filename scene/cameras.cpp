#include "scene/cameras.h"

// No scene exists until the scene engine's scenes come; with none there is no
// camera whose background needs clearing.
void B3D_ClearCameraBackgrounds() {}
