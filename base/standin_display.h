// STAND-IN for the video display, the displays and the screen capture of the
// base library while they are being built: the calls the program's start-up,
// game loop and exit make, with the names and arguments the real modules have.
// Each records its call (program/standin_calls.h) and can be made to fail.
// Delete this file once base/display.* and the video device are on main.
#pragma once

#include <cstdint>

struct VideoRecord;
struct DisplayList;
struct EBM;

VideoRecord* Qel_CreateVideoDisplayList(uint32_t flags, int16_t width, int16_t height, int16_t depth);
DisplayList* Qel_OpenDisplay(DisplayList* parent, EBM* bitmap, int16_t x, int16_t y, int32_t priority,
                             uint32_t flags);
void Qel_CloseVideo(int mode);
void Qel_UpdateScreen();
void P_CaptureScreen();
void TC_MemoryFlush();

// The open display's flag word; 0 without one.
uint32_t StandIn_VideoFlags();
bool StandIn_VideoOpen();
