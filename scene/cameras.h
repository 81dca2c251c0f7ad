// Camera backgrounds of the scene engine's scenes.
#pragma once

// Clears the background of every camera that asks for it, in every scene;
// nothing while no scene exists.
void B3D_ClearCameraBackgrounds();
