#include "base/display.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/draw2d.h"
#include "base/ebm.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "scene/cameras.h"
#include "system/surfaces.h"
#include "system/video.h"

namespace {

constexpr uint32_t kAppOptimiseRects = 0x4;
constexpr uint32_t kAppCursor = 0x8;
constexpr uint32_t kVideoNoStats = 0x400;
constexpr int kCursorRects = 4;
constexpr int16_t kMergedAway = static_cast<int16_t>(0xFFFE);

int64_t s_allocsAtLastLine = 0;

QelRect* Table(const EBM* b) {
    if (!b || (b->flags & EBM_SHORT)) return nullptr;
    return static_cast<QelRect*>(b->rectTable);
}

// Rectangles a table holds below the whole-window mark (it has one more entry).
int Capacity(const EBM* b) {
    int entries = static_cast<int>(b->rectTableSize / sizeof(QelRect));
    return entries > 1 ? entries - 1 : 0;
}

bool Whole(const EBM* b) { return b->rectCount >= Capacity(b); }

DisplayList* ListOf(const EBM* b) {
    if (!b || (b->flags & EBM_SHORT)) return nullptr;
    return static_cast<DisplayList*>(b->dirtyList);
}

struct Box {
    int x0, y0, x1, y1;  // half-open
    bool Empty() const { return x1 <= x0 || y1 <= y0; }
};

Box BoxOf(int x, int y, int w, int h) { return {x, y, x + w, y + h}; }
Box Intersect(const Box& a, const Box& b) {
    return {std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

// A table of capacity + 1 rectangles from the allocator; null after the log line.
QelRect* WorkTable(int capacity) {
    auto* t = static_cast<QelRect*>(Int_AllocMem(static_cast<size_t>(capacity + 1) * sizeof(QelRect), 0));
    if (!t) Qel_ErrPrintf("Out of Mem for Rectangle Tab!!!\n");
    return t;
}
void FreeWorkTable(QelRect* t, int capacity) { Int_FreeMem(t, static_cast<size_t>(capacity + 1) * sizeof(QelRect), 0); }

// Removes r from the bitmap's own set (no propagation).
void SubtractFromSet(EBM* b, const Box& r) {
    QelRect* tab = Table(b);
    if (!tab || b->rectCount == 0 || r.Empty()) return;
    int cap = Capacity(b);
    if (cap <= 0) return;
    Box window{0, 0, b->width, b->height};
    Box cut = Intersect(r, window);
    bool whole = Whole(b);
    if (whole && cut.Empty()) return;
    QelRect* work = WorkTable(cap);
    if (!work) return;
    int n = 0;
    bool overflow = false;
    auto push = [&](int x0, int y0, int x1, int y1) {
        if (x1 <= x0 || y1 <= y0) return;
        if (n >= cap) {
            overflow = true;
            return;
        }
        work[n++] = {static_cast<int16_t>(x0), static_cast<int16_t>(y0), static_cast<int16_t>(x1 - x0),
                     static_cast<int16_t>(y1 - y0)};
    };
    if (whole) {
        push(0, 0, cut.x0, window.y1);
        push(cut.x0, 0, window.x1, cut.y0);
        push(cut.x1, cut.y0, window.x1, cut.y1);
        push(cut.x0, cut.y1, window.x1, window.y1);
    } else {
        for (int i = 0; i < b->rectCount; ++i) {
            Box s = BoxOf(tab[i].x, tab[i].y, tab[i].w, tab[i].h);
            Box o = Intersect(s, r);
            if (o.Empty()) {
                push(s.x0, s.y0, s.x1, s.y1);
                continue;
            }
            push(s.x0, s.y0, o.x0, s.y1);  // left strip
            push(o.x1, s.y0, s.x1, s.y1);  // right strip
            push(o.x0, s.y0, o.x1, o.y0);  // above, within the overlap's columns
            push(o.x0, o.y1, o.x1, s.y1);  // below
        }
    }
    if (overflow) {
        // A dropped piece would be a dirty area never redrawn: redraw everything instead.
        Qel_DPrintf(0, "Rectangle Array beim optimieren uebergelaufen\n");
        b->rectCount = QEL_RECTS_WHOLE;
    } else {
        std::memcpy(tab, work, static_cast<size_t>(n) * sizeof(QelRect));
        b->rectCount = static_cast<uint16_t>(n);
    }
    FreeWorkTable(work, cap);
}

// Adds r to the set: invert, subtract, invert.
void AddToSet(EBM* b, const Box& r) {
    if (!Table(b) || Whole(b) || r.Empty()) return;
    Qel_InvertDirtyRects(b);
    SubtractFromSet(b, r);
    Qel_InvertDirtyRects(b);
}

// The set in screen terms: a rectangle of the bitmap copied to the screen,
// source and target clipped together.
void CopyClipped(DisplayList* dl, EBM* b, EBM* screen, int sx, int sy, int w, int h, int dx, int dy) {
    Box src = Intersect(BoxOf(sx, sy, w, h), BoxOf(dl->srcX, dl->srcY, dl->width, dl->height));
    src = Intersect(src, BoxOf(0, 0, b->width, b->height));
    dx += src.x0 - sx;
    dy += src.y0 - sy;
    Box dst = Intersect(BoxOf(dx, dy, src.x1 - src.x0, src.y1 - src.y0), BoxOf(0, 0, screen->width, screen->height));
    if (dst.Empty() || src.Empty()) return;
    int ox = dst.x0 - dx, oy = dst.y0 - dy;
    if (dl->copy)
        dl->copy(dl, b, static_cast<int16_t>(src.x0 + ox), static_cast<int16_t>(src.y0 + oy),
                 static_cast<int16_t>(dst.x1 - dst.x0), static_cast<int16_t>(dst.y1 - dst.y0), screen,
                 static_cast<int16_t>(dst.x0), static_cast<int16_t>(dst.y0));
}

void ClearClipped(DisplayList* dl, EBM* b, EBM* screen, int dx, int dy, int w, int h) {
    Box dst = Intersect(BoxOf(dx, dy, w, h), BoxOf(0, 0, screen->width, screen->height));
    if (dst.Empty() || !dl->clear) return;
    dl->clear(screen, b, 0, 0, static_cast<int16_t>(dst.x0), static_cast<int16_t>(dst.y0),
              static_cast<int16_t>(dst.x1 - dst.x0), static_cast<int16_t>(dst.y1 - dst.y0));
}

// Copy routine of displays without pixel storage: their area is filled.
void FillCopy(DisplayList*, EBM*, int16_t, int16_t, int16_t w, int16_t h, EBM* screen, int16_t dx, int16_t dy) {
    W_RectFill(screen, dx, dy, w, h, 0);
}

void Unlink(DisplayList* dl) {
    DisplayList* parent = dl->parent;
    if (!parent || !parent->children) return;
    DisplayChildren* kids = parent->children;
    if (dl->prev) dl->prev->next = dl->next;
    else kids->first = dl->next;
    if (dl->next) dl->next->prev = dl->prev;
    else kids->last = dl->prev;
    dl->next = dl->prev = nullptr;
    dl->parent = nullptr;
    if (!kids->first) {
        Int_FreeRecord(kids, 0);
        parent->children = nullptr;
    }
}

void InsertByPriority(DisplayList* parent, DisplayList* dl) {
    if (!parent->children) return;
    DisplayChildren* kids = parent->children;
    DisplayList* after = kids->last;
    while (after && after->priority > dl->priority) after = after->prev;
    dl->prev = after;
    dl->next = after ? after->next : kids->first;
    if (dl->next) dl->next->prev = dl;
    else kids->last = dl;
    if (after) after->next = dl;
    else kids->first = dl;
    dl->parent = parent;
}

void FreeRecordTables(DisplayList* dl, int cap) {
    if (dl->prevRects) Int_FreeMem(dl->prevRects, static_cast<size_t>(cap + 1) * sizeof(QelRect), 0);
    for (QelRect*& c : dl->cursorRects) {
        if (c) Int_FreeMem(c, kCursorRects * sizeof(QelRect), 0);
        c = nullptr;
    }
    dl->prevRects = nullptr;
}

// Screen update of one display's children: overlaps between siblings first,
// then each child cut to its parent and redrawn, its own children after it.
void UpdateChildren(DisplayList* parent, EBM* screen, int originX, int originY) {
    if (!parent->children) return;
    for (DisplayList* lower = parent->children->first; lower; lower = lower->next) {
        if (!(lower->flags & DISPLAY_SHOWN)) continue;
        Box lb = BoxOf(lower->x, lower->y, lower->width, lower->height);
        for (DisplayList* upper = lower->next; upper; upper = upper->next) {
            if (!(upper->flags & DISPLAY_SHOWN)) continue;
            Box o = Intersect(lb, BoxOf(upper->x, upper->y, upper->width, upper->height));
            if (o.Empty()) continue;
            if (upper->flags & DISPLAY_TRANSPARENT) {
                int ox = upper->srcX - upper->x, oy = upper->srcY - upper->y;
                AddToSet(upper->bitmap, {o.x0 + ox, o.y0 + oy, o.x1 + ox, o.y1 + oy});
            } else {
                int ox = lower->srcX - lower->x, oy = lower->srcY - lower->y;
                Qel_SubtractDirtyRect(lower->bitmap, static_cast<int16_t>(o.x0 + ox), static_cast<int16_t>(o.y0 + oy),
                                      static_cast<int16_t>(o.x1 - o.x0), static_cast<int16_t>(o.y1 - o.y0), 1);
            }
        }
    }
    for (DisplayList* child = parent->children->first; child; child = child->next) {
        if (!(child->flags & DISPLAY_SHOWN) || !child->bitmap) continue;
        EBM* b = child->bitmap;
        // The parts outside the parent's visible window, in the child's bitmap terms.
        int ox = child->srcX - child->x + parent->srcX, oy = child->srcY - child->y + parent->srcY;
        Box in{ox, oy, ox + parent->width, oy + parent->height};
        int bw = b->width, bh = b->height;
        Box strips[4] = {{-32768, -32768, in.x0, 32767},
                         {in.x1, -32768, 32767, 32767},
                         {in.x0, -32768, in.x1, in.y0},
                         {in.x0, in.y1, in.x1, 32767}};
        for (Box s : strips) {
            s = Intersect(s, {0, 0, bw, bh});
            if (!s.Empty()) SubtractFromSet(b, s);
        }
        int cx = originX + child->x - parent->srcX, cy = originY + child->y - parent->srcY;
        Qel_Redraw(b, screen, static_cast<int16_t>(cx), static_cast<int16_t>(cy));
        UpdateChildren(child, screen, cx, cy);
    }
}

}  // namespace

int Qel_RectCapacity() {
    const SystemState* ss = g_SystemState;
    if (ss && ss->app && ss->app->rectTableCapacity) return static_cast<int>(ss->app->rectTableCapacity);
    return 100;
}

// ---------------------------------------------------------------- rectangle sets

void Qel_SubtractDirtyRect(EBM* bitmap, int16_t x, int16_t y, int16_t w, int16_t h, int propagate) {
    if (!bitmap) return;
    Box r = BoxOf(x, y, w, h);
    DisplayList* dl = ListOf(bitmap);
    if (propagate && dl && dl->children) {
        for (DisplayList* child = dl->children->first; child; child = child->next) {
            Box o = Intersect(r, BoxOf(child->x, child->y, child->width, child->height));
            if (o.Empty() || !child->bitmap) continue;
            int ox = child->srcX - child->x, oy = child->srcY - child->y;
            Qel_SubtractDirtyRect(child->bitmap, static_cast<int16_t>(o.x0 + ox), static_cast<int16_t>(o.y0 + oy),
                                  static_cast<int16_t>(o.x1 - o.x0), static_cast<int16_t>(o.y1 - o.y0), 1);
        }
    }
    SubtractFromSet(bitmap, r);
}

void Qel_InvertDirtyRects(EBM* bitmap) {
    QelRect* tab = Table(bitmap);
    if (!tab || Whole(bitmap)) return;
    int cap = Capacity(bitmap);
    int n = bitmap->rectCount;
    QelRect* former = WorkTable(cap);
    if (!former) return;
    std::memcpy(former, tab, static_cast<size_t>(n) * sizeof(QelRect));
    tab[0] = {0, 0, bitmap->width, bitmap->height};
    bitmap->rectCount = 1;
    for (int i = 0; i < n && !Whole(bitmap); ++i)
        SubtractFromSet(bitmap, BoxOf(former[i].x, former[i].y, former[i].w, former[i].h));
    FreeWorkTable(former, cap);
}

void Qel_SortDirtyRects(EBM* bitmap) {
    QelRect* tab = Table(bitmap);
    if (!tab || bitmap->rectCount <= 1 || Whole(bitmap)) return;
    int n = bitmap->rectCount;
    for (int i = 1; i < n; ++i) {
        QelRect r = tab[i];
        int j = i - 1;
        while (j >= 0 && (tab[j].y > r.y || (tab[j].y == r.y && tab[j].x > r.x))) {
            tab[j + 1] = tab[j];
            --j;
        }
        tab[j + 1] = r;
    }
}

void Qel_OptimiseDirtyRects(EBM* bitmap) {
    const SystemState* ss = g_SystemState;
    if (!ss || !ss->app || !(ss->app->flags & kAppOptimiseRects)) return;
    QelRect* tab = Table(bitmap);
    if (!tab || bitmap->rectCount <= 1 || Whole(bitmap)) return;
    int n = bitmap->rectCount;
    auto dead = [&](int i) { return tab[i].w == kMergedAway && tab[i].h == kMergedAway; };
    auto touches = [](int end, int start) { return end == start || end + 1 == start; };
    for (bool merged = true; merged;) {
        merged = false;
        for (int i = 0; i < n; ++i) {
            if (dead(i)) continue;
            for (int j = 0; j < n; ++j) {
                if (i == j || dead(j) || dead(i)) continue;
                QelRect& a = tab[i];
                QelRect& b = tab[j];
                if (a.y == b.y && a.h == b.h && touches(a.x + a.w, b.x)) {
                    a.w = static_cast<int16_t>(b.x + b.w - a.x);
                } else if (a.x == b.x && a.w == b.w && touches(a.y + a.h, b.y)) {
                    a.h = static_cast<int16_t>(b.y + b.h - a.y);
                } else {
                    continue;
                }
                b.w = b.h = kMergedAway;
                merged = true;
            }
        }
    }
    int k = 0;
    for (int i = 0; i < n; ++i)
        if (!dead(i)) tab[k++] = tab[i];
    bitmap->rectCount = static_cast<uint16_t>(k);
}

// ---------------------------------------------------------------- redraw and update

void Qel_Redraw(EBM* bitmap, EBM* screen, int16_t x, int16_t y) {
    DisplayList* dl = ListOf(bitmap);
    QelRect* tab = Table(bitmap);
    if (!dl || !tab || !screen) return;
    bool doubled = (dl->flags & DISPLAY_DOUBLEBUFFERED) && dl->prevRects;
    bool wholeNow = Whole(bitmap);
    // This frame's own changes, which the other page needs next frame.
    std::vector<QelRect> own;
    if (!wholeNow) own.assign(tab, tab + bitmap->rectCount);

    bool full = wholeNow || (doubled && dl->prevCount < 0);
    if (!full) {
        if (doubled)
            for (int i = 0; i < dl->prevCount && !Whole(bitmap); ++i)
                AddToSet(bitmap, BoxOf(dl->prevRects[i].x, dl->prevRects[i].y, dl->prevRects[i].w, dl->prevRects[i].h));
        Qel_SortDirtyRects(bitmap);
        Qel_OptimiseDirtyRects(bitmap);
        full = Whole(bitmap);  // the set may have overflowed on the way
    }
    if (full) {
        if (doubled) ClearClipped(dl, bitmap, screen, x, y, dl->width, dl->height);
        CopyClipped(dl, bitmap, screen, dl->srcX, dl->srcY, dl->width, dl->height, x, y);
    } else {
        for (int i = 0; i < bitmap->rectCount; ++i) {
            const QelRect& r = tab[i];
            if (r.w <= 0 || r.h <= 0) continue;
            CopyClipped(dl, bitmap, screen, r.x, r.y, r.w, r.h, x + r.x - dl->srcX, y + r.y - dl->srcY);
        }
    }
    if (doubled) {
        if (wholeNow) {
            dl->prevCount = -1;
        } else {
            int cap = Capacity(bitmap);
            int n = std::min(static_cast<int>(own.size()), cap);
            if (n > 0) std::memcpy(dl->prevRects, own.data(), static_cast<size_t>(n) * sizeof(QelRect));
            dl->prevCount = n;
        }
        std::swap(dl->cursorRects[0], dl->cursorRects[1]);
        std::swap(dl->cursorCount[0], dl->cursorCount[1]);
    }
    Qel_StatsLine(bitmap);
    bitmap->rectCount = 0;
}

void Qel_UpdateScreen() {
    VideoRecord* vr = g_VideoRecord;
    if (!vr || (vr->flags & VIDEO_NOUPDATE)) return;
    if (vr->flags & VIDEO_PAGEFLIP) {
        const SystemState* ss = g_SystemState;
        if (!ss || !ss->presentOff) S_FlipScreen();
        vr->flags ^= VIDEO_CURRENTPAGE;
        DisplayList* bb = ListOf(vr->BackBufferEBM);
        if (bb && (bb->flags & DISPLAY_DOUBLEBUFFERED) && !(vr->flags & VIDEO_NOOVERLAY) &&
            !(vr->flags & kVideoNoStats))
            Qel_StatsLine(vr->BackBufferEBM);
        else B3D_ClearCameraBackgrounds();
        return;
    }
    EBM* screen = vr->VideoEBM;
    DisplayList* root = ListOf(screen);
    if (!root) return;
    // The screen's own set needs no copy: it is the screen.
    screen->rectCount = 0;
    UpdateChildren(root, screen, 0, 0);
}

void Qel_StatsLine(EBM* bitmap) {
    SystemState* ss = g_SystemState;
    if (!ss || !ss->showFpsLine || ss->averageFps <= 0 || !bitmap) return;
    char line[128];
    const VideoRecord* vr = g_VideoRecord;
    double mb = static_cast<double>(Int_GetMemUsed()) / 1048576.0;
    if (vr && (vr->flags & VIDEO_PAGEFLIP)) {
        int64_t allocs = Int_GetAllocCount();
        std::snprintf(line, sizeof line, "%d fps, %3.3f MB, %d Allocs ,Warp: %08x", ss->averageFps, mb,
                      static_cast<int>(allocs - s_allocsAtLastLine), static_cast<uint32_t>(ss->gameTimeScale));
        s_allocsAtLastLine = allocs;
    } else {
        const DisplayList* dl = ListOf(bitmap);
        int rects = dl && (dl->flags & DISPLAY_DOUBLEBUFFERED) ? dl->prevCount : bitmap->rectCount;
        std::snprintf(line, sizeof line, "%d fps, %04d Rect., %3.3f MB ", ss->averageFps, rects, mb);
    }
    size_t used = strnlen(ss->statusText, sizeof ss->statusText - 1);
    size_t room = sizeof ss->statusText - 1 - used;
    std::strncat(ss->statusText + used, line, room);
}

// ---------------------------------------------------------------- displays

DisplayList* Qel_OpenDisplay(DisplayList* parent, EBM* bitmap, int16_t x, int16_t y, int32_t priority, uint32_t flags) {
    if (!bitmap) return nullptr;
    auto* dl = Int_AllocRecord<DisplayList>(0);
    if (!dl) {
        Qel_ErrPrintf("oom: Open Display\n");
        return nullptr;
    }
    std::memset(dl, 0, sizeof *dl);
    int cap = Qel_RectCapacity();
    bool shortHeader = bitmap->flags & EBM_SHORT;
    std::snprintf(dl->name, sizeof dl->name, "%s", shortHeader ? "SMALL" : (bitmap->name ? bitmap->name : "NoName"));
    dl->priority = priority;
    dl->bitmap = bitmap;
    dl->flags = flags | ((bitmap->flags & EBM_NOSTORAGE) ? DISPLAY_NOSTORAGE : 0);
    dl->copy = (dl->flags & DISPLAY_NOSTORAGE) ? FillCopy : S_BlockCopyHook;
    dl->clear = W_Clear;
    dl->x = x;
    dl->y = y;
    dl->width = bitmap->width;
    dl->height = bitmap->height;
    bool ok = true;
    if (dl->flags & DISPLAY_DOUBLEBUFFERED) {
        dl->prevRects = static_cast<QelRect*>(Int_AllocMem(static_cast<size_t>(cap + 1) * sizeof(QelRect), 0));
        ok = dl->prevRects != nullptr;
        // The first two frames reach both pages whole.
        if (ok && !shortHeader && bitmap->rectTable) bitmap->rectCount = QEL_RECTS_WHOLE;
    }
    const SystemState* ss = g_SystemState;
    if (ok && ss && ss->app && (ss->app->flags & kAppCursor)) {
        for (QelRect*& c : dl->cursorRects) {
            c = static_cast<QelRect*>(Int_AllocMem(kCursorRects * sizeof(QelRect), 0));
            ok = ok && c;
        }
    }
    if (!ok) {
        Qel_ErrPrintf("oom: Open Display\n");
        FreeRecordTables(dl, cap);
        Int_FreeRecord(dl, 0);
        return nullptr;
    }
    if (parent) {
        if (!parent->children) {
            parent->children = Int_AllocRecord<DisplayChildren>(0);
            if (!parent->children) {
                Qel_ErrPrintf("oom: Open Display\n");
                FreeRecordTables(dl, cap);
                Int_FreeRecord(dl, 0);
                return nullptr;
            }
            parent->children->first = parent->children->last = nullptr;
        }
        InsertByPriority(parent, dl);
    }
    if (!shortHeader) {
        // A bitmap that had a display keeps its children under the new record.
        DisplayList* old = ListOf(bitmap);
        if (old) {
            dl->children = old->children;
            old->children = nullptr;
            if (dl->children)
                for (DisplayList* c = dl->children->first; c; c = c->next) c->parent = dl;
            Qel_FreeDisplayList(bitmap);
        }
        bitmap->dirtyList = dl;
        g_QelFreeDirtyList = Qel_FreeDisplayList;
    }
    return dl;
}

void Qel_FreeDisplayList(EBM* bitmap) {
    DisplayList* dl = ListOf(bitmap);
    if (!dl) return;
    Unlink(dl);
    if (dl->children) {
        for (DisplayList* c = dl->children->first; c; c = c->next) c->parent = nullptr;
        Int_FreeRecord(dl->children, 0);
    }
    FreeRecordTables(dl, Qel_RectCapacity());
    Int_FreeRecord(dl, 0);
    bitmap->dirtyList = nullptr;
}

VideoRecord* Qel_CreateVideoDisplayList(uint32_t flags, int16_t width, int16_t height, int16_t depth) {
    if (!g_VideoRecord) {
        g_VideoRecord = Int_AllocRecord<VideoRecord>(0);
        if (!g_VideoRecord) return nullptr;
        std::memset(g_VideoRecord, 0, sizeof *g_VideoRecord);
    }
    VideoRecord* vr = S_InitVideo(width, height, depth, flags);
    if (!vr) return nullptr;
    if (!(flags & VIDEO_NOUPDATE)) {
        DisplayList* v = vr->VideoEBM ? Qel_OpenDisplay(nullptr, vr->VideoEBM, 0, 0, -128, 0x5) : nullptr;
        if (v) std::snprintf(v->name, sizeof v->name, "%s", "VideoDisplayList");
        if ((vr->flags & VIDEO_PAGEFLIP) && vr->BackBufferEBM && vr->BackBufferEBM != vr->VideoEBM) {
            DisplayList* b = Qel_OpenDisplay(nullptr, vr->BackBufferEBM, 0, 0, -128, 0x5);
            if (b) std::snprintf(b->name, sizeof b->name, "%s", "BackBufferDisplayList");
        }
    }
    if (!(flags & VIDEO_NOCLEAR)) Qel_ClearDisplay();
    return vr;
}

void Qel_CloseVideo(int mode) {
    Qel_DPrintf(4, "Qel_CloseVideo(%d)\n", mode);
    VideoRecord* vr = g_VideoRecord;
    if (!vr) return;
    if (vr->VideoEBM) Qel_FreeDisplayList(vr->VideoEBM);
    if (vr->BackBufferEBM) Qel_FreeDisplayList(vr->BackBufferEBM);
    if (vr->workBuffer) {
        Int_FreeMem(vr->workBuffer, 256 * sizeof(uint32_t), 0);
        vr->workBuffer = nullptr;
    }
    S_CloseVideoDevice(mode);
    if (mode != 0) {
        Int_FreeRecord(g_VideoRecord, 0);
        g_VideoRecord = nullptr;
    }
}

EBM* Qel_GetVideoSurface(int n) {
    const VideoRecord* vr = g_VideoRecord;
    if (n < 0 || n > 3) {
        Qel_ErrPrintf("Error: Qel_GetVideoSurface\n");
        return nullptr;
    }
    if (!vr) return nullptr;
    switch (n) {
        case 0: return vr->BackBufferEBM;
        case 1: return vr->VideoEBM;
        case 2: return vr->surface3;
        default: return vr->surface2;
    }
}

int Qel_VideoPageCount() {
    const VideoRecord* vr = g_VideoRecord;
    if (!vr) return 1;
    bool second = vr->flags & VIDEO_SECONDSET;
    if (vr->flags & VIDEO_PAGEFLIP) return second ? 4 : 1;
    return 1 + (second ? 1 : 0);
}

void Qel_InvalidateDisplays() {
    const VideoRecord* vr = g_VideoRecord;
    DisplayList* root = vr ? ListOf(vr->VideoEBM) : nullptr;
    if (!root || !root->children) return;
    for (DisplayList* c = root->children->first; c; c = c->next)
        if (c->bitmap && !(c->bitmap->flags & EBM_SHORT)) c->bitmap->rectCount = QEL_RECTS_WHOLE;
}

int Qel_EnsureDisplayBuffer() {
    VideoRecord* vr = g_VideoRecord;
    if (!vr) return 0;
    if (vr->workBuffer) return 1;
    auto* buf = static_cast<uint32_t*>(Int_AllocMem(256 * sizeof(uint32_t), 0));
    if (!buf) buf = static_cast<uint32_t*>(Int_AllocMem(256 * sizeof(uint32_t), 0));
    if (!buf) return 0;
    for (uint32_t i = 0; i < 256; ++i) buf[i] = i * i;
    vr->workBuffer = buf;
    return 1;
}
