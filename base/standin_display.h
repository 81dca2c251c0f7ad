// STAND-IN for the displays and the screen capture of the base library while
// they are being built: the calls the program's start-up, game loop and exit
// make, with the names and arguments the real modules have. The video display
// is the system layer's video device; views and capture only record their
// calls (program/standin_calls.h). Delete this file once base/display.* and
// the screen capture are on main.
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
