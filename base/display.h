// Displays and dirty rectangles: display lists place bitmaps inside a parent
// display, each bitmap keeps the areas still to be brought to the screen as
// disjoint rectangles, and the per-frame update copies them (or presents the
// back buffer on a page-flipping device).
#pragma once

#include <cstdint>

struct EBM;
struct VideoRecord;

// One entry of a bitmap's rectangle table.
struct QelRect {
    int16_t x, y, w, h;
};

// A count at or above the table capacity means the whole window; this is the
// value written to ask for a full redraw.
constexpr uint16_t QEL_RECTS_WHOLE = 9999;

// Display flags.
constexpr uint32_t DISPLAY_SHOWN = 0x1;
constexpr uint32_t DISPLAY_TRANSPARENT = 0x2;
constexpr uint32_t DISPLAY_NOSTORAGE = 0x8;
constexpr uint32_t DISPLAY_DOUBLEBUFFERED = 0x20;

// VideoRecord flags of the displays.
constexpr uint32_t VIDEO_PAGEFLIP = 0x20;
constexpr uint32_t VIDEO_NOOVERLAY = 0x40;
constexpr uint32_t VIDEO_NOUPDATE = 0x2000;
constexpr uint32_t VIDEO_CURRENTPAGE = 0x100000;
constexpr uint32_t VIDEO_SECONDSET = 0x2000000;
constexpr uint32_t VIDEO_NOCLEAR = 0x8000000;

struct DisplayList;

// Brings a rectangle of a display's bitmap to the screen: (display, source,
// source x, y, width, height, screen, x, y).
using DisplayCopyFn = void (*)(DisplayList* display, EBM* src, int16_t sx, int16_t sy, int16_t w, int16_t h,
                               EBM* screen, int16_t dx, int16_t dy);
// Clears a rectangle of a double-buffered page: (destination, source, source x,
// y, destination x, y, width, height), as W_Clear.
using DisplayClearFn = void (*)(EBM* dst, EBM* src, int16_t sx, int16_t sy, int16_t dx, int16_t dy, int16_t w,
                                int16_t h);

// The child displays of a display, ordered by priority (lowest first, drawn
// first); freed when its last display leaves.
struct DisplayChildren {
    DisplayList* first;
    DisplayList* last;
};

struct DisplayList {
    DisplayList* next;
    DisplayList* prev;
    int32_t priority;
    char name[32];  // a copy: the bitmap's own name may change
    DisplayChildren* children;
    DisplayList* parent;
    EBM* bitmap;
    uint32_t flags;
    DisplayCopyFn copy;
    int16_t x, y;        // position in the parent
    int16_t srcX, srcY;  // visible window inside the bitmap
    int16_t width, height;
    QelRect* prevRects;  // double-buffered pages: last frame's rectangles
    int32_t prevCount;   // -1 asks for a full redraw
    DisplayClearFn clear;
    QelRect* cursorRects[2];  // current and previous cursor rectangles
    int32_t cursorCount[2];
};

// The one display record; null until the video display is made.
extern VideoRecord* g_VideoRecord;

VideoRecord* Qel_CreateVideoDisplayList(uint32_t flags, int16_t width, int16_t height, int16_t depth);
// Attaches a display list to the bitmap and inserts it among the parent's
// children (no parent: a root). Null after "oom: Open Display\n".
DisplayList* Qel_OpenDisplay(DisplayList* parent, EBM* bitmap, int16_t x, int16_t y, int32_t priority, uint32_t flags);
void Qel_CloseVideo(int mode);
EBM* Qel_GetVideoSurface(int n);
int Qel_VideoPageCount();
void Qel_SubtractDirtyRect(EBM* bitmap, int16_t x, int16_t y, int16_t w, int16_t h, int propagate);
void Qel_InvertDirtyRects(EBM* bitmap);
void Qel_SortDirtyRects(EBM* bitmap);
void Qel_OptimiseDirtyRects(EBM* bitmap);
void Qel_Redraw(EBM* bitmap, EBM* screen, int16_t x, int16_t y);
void Qel_UpdateScreen();
void Qel_StatsLine(EBM* bitmap);
void Qel_InvalidateDisplays();
int Qel_EnsureDisplayBuffer();
void Qel_FreeDisplayList(EBM* bitmap);

// Capacity of rectangle tables (the application descriptor's rectangle count).
int Qel_RectCapacity();
