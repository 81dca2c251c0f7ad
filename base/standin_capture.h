// STAND-IN for the screen capture and the texture cache's memory flush of the
// base library while they are being built: the calls the program's game loop
// and memory-flush hook make, with the names they will have. Each records its
// call (program/standin_calls.h). Delete this file once they are on main.
#pragma once

// Writes the current screen as the next picture of the capture folder.
void P_CaptureScreen();
// Frees the textures nobody holds.
void TC_MemoryFlush();
