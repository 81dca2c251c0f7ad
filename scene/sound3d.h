// Instance 3D sound: an instance whose body has a sound plays it as a 3D
// sound while it is near the listener camera, at most the system's number of
// 3D sounds a frame; and the listener itself, set per listener camera and
// committed after its draw.
#pragma once

#include <cstdint>

#include "scene/records.h"

// The samples come from the game-sound module, floors above: the program
// points these at it; tests put their own. While a call is null a sample
// cannot be played and a channel is stopped on the sound layer alone.
struct B3DSoundLink {
    // Loads the sample with the given game-sound flags; 0 when it cannot be had.
    int (*loadSample)(int32_t sampleId, uint32_t flags);
    // Starts the sample looping at a volume of 0 to 255: the channel, or -1.
    int (*playSample)(int32_t sampleId, int32_t volume);
    // Stops the channel that plays the sample.
    void (*stopChannel)(int channel, int32_t sampleId);
};
extern B3DSoundLink g_B3DSoundLink;

// Stops the instance's 3D sound when it holds a channel: the channel goes
// back, INST2_SOUND_CHANNEL is cleared and the channel becomes -1.
void B3D_InstStopSound(Inst3D* inst);

// The 3D sound of the instance and then of each child, for the listener
// camera; counter counts the sounds updated this frame, up to the system's
// number of 3D sounds. A sound is heard from its third update in range on.
void B3D_InstMake3DSound(Inst3D* inst, Camera3D* camera, uint16_t* counter);

// With 3D sound on and a listener camera, while the listener is usable: its
// orientation, position and velocity (the camera's frame is the listener's).
// A failed call turns 3D sound off for the rest of the run.
void B3D_CameraSetListener(Camera3D* camera);
// The same conditions: commits the deferred 3D settings; a failure turns 3D
// sound off for the rest of the run.
void B3D_Sound3DCommit(Camera3D* camera);
// The commit, then the frame draw's debug line.
void B3D_CameraEndDraw(Camera3D* camera);
