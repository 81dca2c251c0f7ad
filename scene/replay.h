// The replay: a recording ("%s.rec", written by the recorder) played back
// into the live scene engine. The replay makes its own scenes, instances,
// lights, cameras and particle generators for the recorded ones, moves them
// frame by frame in step with the game clock, and frees them when it stops.
#pragma once

#include <cstdint>

// Debug mask of the replay's trace lines.
constexpr uint32_t B3D_REPLAY_TRACE = 0x80000000;

// Opens "%s.rec" and reads its header up to the first frame time; sets engine
// flag 0x2. A replay that runs is stopped first. 1 when the replay runs,
// else 0 (after the failure's log line the replay is off again).
int32_t B3D_ReplayRecording(const char* name, int32_t a, int32_t b, int32_t c, int32_t d, int32_t e);
// Plays at most one recorded frame, and only once it is due on the game
// clock; called by the frame draw while engine flag 0x2 is set. "REND", the
// end of the stream and a cookie of no known kind end the replay.
void B3D_ReplayFrame();
// Frees everything the replay made, closes the stream and clears engine flag
// 0x2 (the flag also when no replay runs).
void B3D_ExitReplay();
// The location reset: frees every take, the free draw items, every scene
// (the lens-flare scene last) and every instance in no scene, and sets the
// shadow alpha back to 200; then every cut and body, and the body parts'
// renderer bindings.
void B3D_ReplayFreeAll();
// The engine call "B3D_ExitReplay": answers 0.
int32_t B3D_CallExitReplay();
