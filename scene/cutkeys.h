// The keys of a cut path while its file is read: one key line parsed into the
// six work arrays (position, rotation, target, roll, colour, field of view),
// and the finished path's arrays with their tangents and quaternions.
#pragma once

#include <cstdint>

#include "scene/records.h"

class VRMFile;

// Key flags of a key line.
constexpr uint32_t KEY_TARGET_ROLL = 0x8;   // target and roll instead of rotation
constexpr uint32_t KEY_NO_POSITION = 0x10;  // the line has no position
// No rotation (with KEY_AXIS_ANGLE the identity); with KEY_TARGET_ROLL no roll.
constexpr uint32_t KEY_NO_ROTATION = 0x20;
constexpr uint32_t KEY_NO_TARGET = 0x40;     // with KEY_TARGET_ROLL
constexpr uint32_t KEY_BINARY = 0x80;        // read from a binary cut file
constexpr uint32_t KEY_COLOR = 0x200;        // a light colour, and no Euler rotation
constexpr uint32_t KEY_NO_COLOR = 0x400;     // with KEY_COLOR
constexpr uint32_t KEY_FOV = 0x800;          // a field of view
constexpr uint32_t KEY_NO_FOV = 0x1000;      // with KEY_FOV
constexpr uint32_t KEY_ABSOLUTE = 0x2000;    // the rotation is not composed with the previous one
constexpr uint32_t KEY_POS_SPLINE = 0x4000;  // five spline values follow the position
constexpr uint32_t KEY_ROT_SPLINE = 0x8000;  // five spline values follow the rotation
constexpr uint32_t KEY_PREPARED = 0x4;       // set on every rotation key once prepared

// Keys a track holds at most.
constexpr int32_t J3D_MAX_PATH_KEYS = 20000;

// The work arrays' tracks.
enum J3D_KeyTrack { J3D_TRACK_POS, J3D_TRACK_ROT, J3D_TRACK_TARGET, J3D_TRACK_ROLL, J3D_TRACK_COLOR, J3D_TRACK_FOV };

// Starts a path: the running key time goes back to 0 and the work arrays are
// emptied (a path whose load failed half-way leaves nothing behind).
void J3D_BeginPathKeys();
// Parses one key line; 1, or 0 after the key-limit message (the reader's error
// flag is then set). A failed growth of a work array ends the program (exit
// reason 3).
int32_t J3D_LoadCutKey(VRMFile* r, uint32_t keyFlags, const char* fileName, int32_t pathNr, int32_t stateNr);
// Moves the work arrays into the path (exact-size arrays of the J pool), frees
// the work arrays and prepares the position and rotation keys.
void J3D_FinishPathKeys(J3D_CutPath* path);
// Frees the work arrays without using them (a failed load).
void J3D_DropPathKeys();
// Quaternions of the angle-and-axis rotation keys, composed along the path.
void J3D_PrepareRotationKeys(int32_t count, J3D_MotionKey* keys);
// Incoming and outgoing tangents of the position keys.
void J3D_PreparePositionKeys(int32_t count, J3D_MotionKey* keys);
