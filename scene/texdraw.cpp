#include "scene/texdraw.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "base/draw2d.h"
#include "base/ebm.h"
#include "base/fonts.h"
#include "base/general.h"
#include "base/log.h"
#include "base/strings.h"
#include "base/texcache.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "script/arrays.h"
#include "script/values.h"
#include "system/surfaces.h"

namespace {

// ------------------------------------------------------------------ helpers

std::map<int32_t, std::vector<B3DTexPiece>> s_Composites;

B3DTexRecordWriter s_RecordWriter = nullptr;
void* s_Recorder = nullptr;

// The system's texture scale factor; 0 or less counts as 1.
int32_t Scale() { return g_SystemState && g_SystemState->fontScale > 1 ? g_SystemState->fontScale : 1; }

int16_t Clamp16(int64_t v) { return static_cast<int16_t>(std::clamp<int64_t>(v, INT16_MIN, INT16_MAX)); }
int32_t Clamp32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// A texture fetched for one drawing: its bitmap and the factor its stored
// pixels have over its logical ones.
struct Tex {
    int32_t id;
    EBM* bitmap;
    int32_t k;
};

bool Fetch(int32_t id, Tex* t) {
    if (id < 0) return false;
    EBM* b = TC_GetTextureEBM(id, 1);
    if (!b) return false;
    *t = {id, b, (TC_GetTextureFlags(id) & TC_LARGE) ? Scale() : 1};
    return true;
}

const std::vector<B3DTexPiece>* CompositeOf(int32_t texture) {
    if (texture >= 0) return nullptr;
    auto it = s_Composites.find(static_cast<int32_t>(-static_cast<int64_t>(texture)));
    return it == s_Composites.end() ? nullptr : &it->second;
}

struct Rect {
    int64_t x, y, w, h;
};

bool Intersect(const Rect& a, const Rect& b, Rect* out) {
    const int64_t x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
    const int64_t x1 = std::min(a.x + a.w, b.x + b.w), y1 = std::min(a.y + a.h, b.y + b.h);
    if (x1 <= x0 || y1 <= y0) return false;
    *out = {x0, y0, x1 - x0, y1 - y0};
    return true;
}

Rect PieceRect(const B3DTexPiece& p) { return {p.x, p.y, p.width, p.height}; }

// A rectangle operation on a texture or on the pieces of a composite: each
// piece the rectangle overlaps gets the part inside it, moved into the piece's
// texture, with how far its corner moved from the rectangle's. The largest
// answer of the pieces.
template <class Op>
int32_t SpreadRect(int32_t texture, const Rect& r, Op op) {
    if (texture >= 0) return op(texture, r, 0, 0);
    const auto* pieces = CompositeOf(texture);
    if (!pieces) return 0;
    int32_t result = 0;
    for (const B3DTexPiece& p : *pieces) {
        Rect c;
        if (!Intersect(r, PieceRect(p), &c)) continue;
        const int64_t shiftX = c.x - r.x, shiftY = c.y - r.y;
        c.x += p.u - p.x;
        c.y += p.v - p.y;
        result = std::max(result, op(p.texture, c, shiftX, shiftY));
    }
    return result;
}

// A shape (line, circle, text) on a texture or, moved, on every piece its
// bounding box overlaps.
template <class Op>
int32_t SpreadShape(int32_t texture, const Rect& box, Op op) {
    if (texture >= 0) return op(texture, 0, 0);
    const auto* pieces = CompositeOf(texture);
    if (!pieces) return 0;
    int32_t result = 0;
    for (const B3DTexPiece& p : *pieces) {
        Rect c;
        if (Intersect(box, PieceRect(p), &c)) result = std::max(result, op(p.texture, p.u - p.x, p.v - p.y));
    }
    return result;
}

uint16_t Colour15(uint32_t colour) { return static_cast<uint16_t>(B3D_Rgb24To15(colour)); }

QelFont* FontOf(int32_t font) { return font >= 0 && font < QEL_FONT_SLOTS ? g_QelFonts[font] : nullptr; }

// The style text is drawn and measured in: the caller's, else the font's own;
// a style without any pass draws plainly.
uint32_t TextStyle(const QelFont* font, int32_t style) {
    uint32_t s = static_cast<uint32_t>(style ? style : static_cast<int32_t>(font->callerStyle)) & TEXT_STYLE_MASK;
    return s ? s : 1;
}

// A width of 0 or less counts from the texture's right edge.
int64_t TextWidth(int32_t width, int32_t texture) {
    return width > 0 ? width : static_cast<int64_t>(width) + B3D_TexGetWidth(texture);
}

// The lines of a text laid out in a logical width, every one of them.
std::vector<QelTextLine> Layout(const char* text, QelFont* f, int64_t width, int32_t style) {
    std::vector<QelTextLine> lines;
    Qel_TextMeasure(text, Clamp32(width * Scale()), f, TextStyle(f, style), &lines);
    return lines;
}

// ------------------------------------------------------------------ one texture

int32_t RectFillOne(int32_t id, const Rect& r, uint32_t colour) {
    Tex t;
    if (!Fetch(id, &t)) return 0;
    const int16_t f[6] = {static_cast<int16_t>(id),  static_cast<int16_t>(r.x), static_cast<int16_t>(r.y),
                          static_cast<int16_t>(r.w), static_cast<int16_t>(r.h), static_cast<int16_t>(Colour15(colour))};
    B3D_TexRecord("RTRF", f, 6);
    // Cut to the bitmap here: the fill itself refuses a rectangle reaching out.
    Rect c;
    if (Intersect({r.x * t.k, r.y * t.k, r.w * t.k, r.h * t.k}, {0, 0, t.bitmap->width, t.bitmap->height}, &c))
        Qel_RectFill(static_cast<int16_t>(c.x), static_cast<int16_t>(c.y), static_cast<int16_t>(c.w),
                     static_cast<int16_t>(c.h), colour, t.bitmap);
    return 1;
}

int32_t LineOne(int32_t id, int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint32_t colour) {
    Tex t;
    if (!Fetch(id, &t)) return 0;
    const int16_t f[6] = {static_cast<int16_t>(id), static_cast<int16_t>(x0), static_cast<int16_t>(y0),
                          static_cast<int16_t>(x1), static_cast<int16_t>(y1), static_cast<int16_t>(Colour15(colour))};
    B3D_TexRecord("RTLI", f, 6);
    int32_t ax = Clamp32(x0 * t.k), ay = Clamp32(y0 * t.k), bx = Clamp32(x1 * t.k), by = Clamp32(y1 * t.k);
    if (Qel_ClipLine(t.bitmap, &ax, &ay, &bx, &by))
        Qel_Line(static_cast<int16_t>(ax), static_cast<int16_t>(ay), static_cast<int16_t>(bx), static_cast<int16_t>(by),
                 t.bitmap, S_RGBToPixel(t.bitmap, colour));
    return 1;
}

int32_t PixelOne(int32_t id, int64_t x, int64_t y, uint32_t colour) {
    Tex t;
    if (!Fetch(id, &t)) return 0;
    const int16_t f[4] = {static_cast<int16_t>(id), static_cast<int16_t>(x), static_cast<int16_t>(y),
                          static_cast<int16_t>(Colour15(colour))};
    B3D_TexRecord("RTSP", f, 4);
    Qel_SetPixelClipped(Clamp16(x * t.k), Clamp16(y * t.k), t.bitmap, S_RGBToPixel(t.bitmap, colour));
    return 1;
}

int32_t CircleOne(bool filled, int32_t id, int64_t x, int64_t y, int32_t radius, uint32_t colour, int32_t aspect) {
    Tex t;
    if (!Fetch(id, &t)) return 0;
    const int16_t f[6] = {static_cast<int16_t>(id),         static_cast<int16_t>(x),
                          static_cast<int16_t>(y),          static_cast<int16_t>(radius),
                          static_cast<int16_t>(aspect / 4), static_cast<int16_t>(Colour15(colour))};
    B3D_TexRecord(filled ? "RTCF" : "RTCI", f, 6);
    const int32_t a = aspect ? aspect : 0x10000;
    const int16_t cx = Clamp16(x * t.k), cy = Clamp16(y * t.k), r = Clamp16(static_cast<int64_t>(radius) * t.k);
    const uint32_t pixel = S_RGBToPixel(t.bitmap, colour);
    if (filled) Qel_ClipFilledCircle(cx, cy, r, pixel, a, t.bitmap);
    else Qel_ClipCircle(cx, cy, r, pixel, a, t.bitmap);
    return 1;
}

enum class BlitKind { Alpha, Cookie, Block };

// value: the tint of an alpha blit, the key of a stencil blit.
int32_t BlitOne(BlitKind kind, int32_t src, int32_t dst, int64_t sx, int64_t sy, Rect d, int32_t value, bool clip) {
    Tex dt, st;
    if (!Fetch(dst, &dt) || !Fetch(src, &st)) return 0;
    if (clip) {
        const int64_t w = dt.bitmap->width / dt.k, h = dt.bitmap->height / dt.k;
        if (d.x < 0) {
            sx -= d.x;
            d.w += d.x;
            d.x = 0;
        }
        if (d.y < 0) {
            sy -= d.y;
            d.h += d.y;
            d.y = 0;
        }
        d.w = std::min(d.w, w - d.x);
        d.h = std::min(d.h, h - d.y);
        if (d.w <= 0 || d.h <= 0) return 0;
    }
    int16_t f[9] = {static_cast<int16_t>(src), static_cast<int16_t>(dst), static_cast<int16_t>(sx),
                    static_cast<int16_t>(sy),  static_cast<int16_t>(d.x), static_cast<int16_t>(d.y),
                    static_cast<int16_t>(d.w), static_cast<int16_t>(d.h), 0};
    if (kind == BlitKind::Alpha) {
        f[8] = static_cast<int16_t>(Colour15(static_cast<uint32_t>(value)));
        B3D_TexRecord("RTBA", f, 9);
    } else if (kind == BlitKind::Cookie) {
        f[8] = static_cast<int16_t>(value);
        B3D_TexRecord("RTBM", f, 9);
    } else {
        B3D_TexRecord("RTBB", f, 8);
    }
    if (dt.k > 1) {
        d.x *= dt.k;
        d.y *= dt.k;
        if (st.k > 1) {
            sx *= st.k;
            sy *= st.k;
            d.w *= st.k;
            d.h *= st.k;
        }
    }
    const int16_t x0 = Clamp16(sx), y0 = Clamp16(sy), w = Clamp16(d.w), h = Clamp16(d.h), x1 = Clamp16(d.x),
                  y1 = Clamp16(d.y);
    if (kind == BlitKind::Alpha)
        Qel_AlphaBlit(st.bitmap, x0, y0, w, h, dt.bitmap, x1, y1, static_cast<uint32_t>(value) & 0xFFFFFF);
    else if (kind == BlitKind::Cookie)
        Qel_Cookie(st.bitmap, x0, y0, w, h, dt.bitmap, x1, y1, static_cast<uint8_t>(value));
    else Qel_BltBlock(st.bitmap, x0, y0, w, h, dt.bitmap, x1, y1);
    return 1;
}

int32_t Blit(BlitKind kind, int32_t src, int32_t dst, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
             int32_t h, int32_t value, int32_t clip) {
    return SpreadRect(dst, {dx, dy, w, h}, [&](int32_t id, const Rect& r, int64_t shiftX, int64_t shiftY) {
        return BlitOne(kind, src, id, sx + shiftX, sy + shiftY, r, value, clip != 0);
    });
}

int32_t TextOne(int32_t id, const char* text, QelFont* font, int32_t fontNumber, int64_t x, int64_t y, int64_t width,
                uint32_t colour, int32_t style) {
    Tex t;
    if (!Fetch(id, &t)) return 0;
    const size_t length = std::min<size_t>(std::strlen(text), 0xFFFF);
    const int16_t f[8] = {static_cast<int16_t>(id),    static_cast<int16_t>(fontNumber),
                          static_cast<int16_t>(x),     static_cast<int16_t>(y),
                          static_cast<int16_t>(width), static_cast<int16_t>(Colour15(colour)),
                          static_cast<int16_t>(style), static_cast<int16_t>(length)};
    B3D_TexRecord("RTTX", f, 8, text, static_cast<int32_t>(length));
    const uint32_t s = TextStyle(font, style);
    Qel_Text(font, t.bitmap, text, Clamp32(x * t.k), Clamp32((x + width) * t.k), colour, s, Clamp32(y * t.k));
    return std::max(1, Qel_TextLineHeight(font, s) / Scale());
}

}  // namespace

// ------------------------------------------------------------------ composites

int32_t B3D_TexSetComposite(int32_t id, const B3DTexPiece* pieces, int32_t count) {
    if (id <= 0 || count < 0 || (count > 0 && !pieces)) return 0;
    if (count == 0) s_Composites.erase(id);
    else s_Composites[id].assign(pieces, pieces + count);
    return 1;
}

void B3D_TexFreeComposites() { s_Composites.clear(); }

// ------------------------------------------------------------------ records

void B3D_TexSetRecordWriter(B3DTexRecordWriter writer, void* recorder) {
    s_RecordWriter = writer;
    s_Recorder = recorder;
}

void B3D_TexRecord(const char* tag, const int16_t* fields, int32_t count, const char* text, int32_t textLength) {
    if (!g_B3DState || !(B3D_GetEngineFlags() & B3D_ENGINE_RECORDING) || !s_RecordWriter || !s_Recorder) return;
    if (!tag || count < 0 || textLength < 0) return;
    std::vector<uint8_t> bytes(tag, tag + 4);
    for (int32_t i = 0; i < count; ++i) {
        const auto v = static_cast<uint16_t>(fields[i]);
        bytes.push_back(static_cast<uint8_t>(v >> 8));
        bytes.push_back(static_cast<uint8_t>(v));
    }
    if (text && textLength > 0) bytes.insert(bytes.end(), text, text + textLength);
    s_RecordWriter(s_Recorder, bytes.data(), bytes.size());
}

int32_t B3D_TexRecordFieldCount(const char* tag) {
    if (!tag) return -1;
    for (const B3DTexRecordKind& k : B3D_TEX_RECORD_KINDS)
        if (std::memcmp(k.tag, tag, 4) == 0) return k.fields;
    return -1;
}

int32_t B3D_TexReplayRecord(const char* tag, const int16_t* f, const char* text, int32_t textLength) {
    if (B3D_TexRecordFieldCount(tag) < 0 || !f) return 0;
    auto colour = [](int16_t c) { return B3D_Rgb15To24(static_cast<uint16_t>(c)); };
    const std::string kind(tag, 4);
    if (kind == "RTRS") B3D_TexRectStretch(f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], 0);
    else if (kind == "RTBA")
        B3D_TexBlit(f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], static_cast<int32_t>(colour(f[8])), 0);
    else if (kind == "RTBM") B3D_TexCookie(f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], 0);
    else if (kind == "RTBB") B3D_TexCookie(f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], -1, 0);
    else if (kind == "RTCF") B3D_TexCircleFill(f[0], f[1], f[2], f[3], colour(f[5]), f[4] * 4);
    else if (kind == "RTCI") B3D_TexCircle(f[0], f[1], f[2], f[3], colour(f[5]), f[4] * 4);
    else if (kind == "RTLI") B3D_TexLine(f[0], f[1], f[2], f[3], f[4], colour(f[5]));
    else if (kind == "RTSP") B3D_TexSetPix(f[0], f[1], f[2], colour(f[3]));
    else if (kind == "RTRF") B3D_TexRectFill(f[0], f[1], f[2], f[3], f[4], colour(f[5]));
    else if (kind == "RTTX") {
        const std::string line(text ? text : "", text ? static_cast<size_t>(std::max(textLength, 0)) : 0);
        B3D_TexText(f[0], line.c_str(), f[1], f[2], f[3], f[4], colour(f[5]), f[6]);
    }
    return 1;
}

// ------------------------------------------------------------------ fonts and sizes

int32_t B3D_OpenFontNumbered(const char* name, int32_t number, int32_t cellWidth, int32_t style, int32_t topOffset) {
    if (!name) return -1;
    char* full = Qel_Format(nullptr, "%s%d", name, number);
    if (!full) return -1;
    QelFont* f = Qel_OpenFont(full, static_cast<int16_t>(cellWidth), static_cast<int16_t>(number),
                              static_cast<uint32_t>(style), static_cast<int16_t>(topOffset));
    Qel_StrFree(full);
    return f ? f->slot : -1;
}

int32_t B3D_TexGetWidth(int32_t texture) {
    if (const auto* pieces = CompositeOf(texture)) {
        int32_t edge = 0;
        for (const B3DTexPiece& p : *pieces) edge = std::max(edge, p.x + p.width);
        return edge;
    }
    Tex t;
    return Fetch(texture, &t) ? t.bitmap->width / t.k : 0;
}

int32_t B3D_TexGetHeight(int32_t texture) {
    if (const auto* pieces = CompositeOf(texture)) {
        int32_t edge = 0;
        for (const B3DTexPiece& p : *pieces) edge = std::max(edge, p.y + p.height);
        return edge;
    }
    Tex t;
    return Fetch(texture, &t) ? t.bitmap->height / t.k : 0;
}

uint32_t B3D_TexFontStyle(int32_t font, int32_t style) {
    const QelFont* f = FontOf(font);
    return f ? TextStyle(f, style) : 0;
}

void B3D_TexGetTextArray(ScriptValue* out, int32_t font, const char* text, int32_t width, int32_t texture) {
    if (!out) return;
    QelFont* f = FontOf(font);
    std::vector<QelTextLine> lines;
    if (f && text) Qel_TextMeasure(text, Clamp32(TextWidth(width, texture) * Scale()), f, TextStyle(f, 0), &lines);
    const auto count = static_cast<int32_t>(lines.size());
    if (count <= 0 || !SV_ArrayAlloc(out, count)) {
        SV_AssignInt(out, 0);
        return;
    }
    for (int32_t i = 0; i < count; ++i) SV_ArrayWriteDString(out, i, text + lines[i].start, lines[i].length);
}

int32_t B3D_TexTextBlockHeight(int32_t font, const char* text, int32_t width, int32_t texture) {
    QelFont* f = FontOf(font);
    if (!f || !text) return 0;
    // Every line the block draws counts, however many there are.
    const uint32_t style = TextStyle(f, 0);
    const int64_t lines = Qel_TextMeasure(text, Clamp32(TextWidth(width, texture) * Scale()), f, style, nullptr);
    return Clamp32(lines * Qel_TextLineHeight(f, style) / Scale());
}

// ------------------------------------------------------------------ drawing

int32_t B3D_TexRectFill(int32_t texture, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour) {
    if (width <= 0 || height <= 0) return 0;
    return SpreadRect(texture, {x, y, width, height},
                      [&](int32_t id, const Rect& r, int64_t, int64_t) { return RectFillOne(id, r, colour); });
}

int32_t B3D_TexLine(int32_t texture, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t colour) {
    const Rect box{std::min(x0, x1), std::min(y0, y1), std::abs(static_cast<int64_t>(x1) - x0) + 1,
                   std::abs(static_cast<int64_t>(y1) - y0) + 1};
    return SpreadShape(texture, box, [&](int32_t id, int64_t dx, int64_t dy) {
        return LineOne(id, x0 + dx, y0 + dy, x1 + dx, y1 + dy, colour);
    });
}

int32_t B3D_TexSetPix(int32_t texture, int32_t x, int32_t y, uint32_t colour) {
    if (texture >= 0) return PixelOne(texture, x, y, colour);
    const auto* pieces = CompositeOf(texture);
    if (!pieces) return 0;
    for (const B3DTexPiece& p : *pieces)
        if (x >= p.x && y >= p.y && x < p.x + p.width && y < p.y + p.height)
            return PixelOne(p.texture, static_cast<int64_t>(x) + p.u - p.x, static_cast<int64_t>(y) + p.v - p.y,
                            colour);
    return 0;
}

namespace {
int32_t Circle(bool filled, int32_t texture, int32_t x, int32_t y, int32_t radius, uint32_t colour, int32_t aspect) {
    // The horizontal semi-axis is the radius over the aspect.
    const int64_t a = aspect > 0 ? aspect : 0x10000;
    const int64_t ry = std::abs(static_cast<int64_t>(radius)), rx = ry * 0x10000 / a;
    const Rect box{x - rx, y - ry, 2 * rx + 1, 2 * ry + 1};
    return SpreadShape(texture, box, [&](int32_t id, int64_t dx, int64_t dy) {
        return CircleOne(filled, id, x + dx, y + dy, radius, colour, aspect);
    });
}
}  // namespace

int32_t B3D_TexCircleFill(int32_t texture, int32_t x, int32_t y, int32_t radius, uint32_t colour, int32_t aspect) {
    return Circle(true, texture, x, y, radius, colour, aspect);
}

int32_t B3D_TexCircle(int32_t texture, int32_t x, int32_t y, int32_t radius, uint32_t colour, int32_t aspect) {
    return Circle(false, texture, x, y, radius, colour, aspect);
}

int32_t B3D_TexBlit(int32_t source, int32_t destination, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t width,
                    int32_t height, int32_t alpha, int32_t clip) {
    return Blit(BlitKind::Alpha, source, destination, sx, sy, dx, dy, width, height, alpha, clip);
}

int32_t B3D_TexCookie(int32_t source, int32_t destination, int32_t sx, int32_t sy, int32_t dx, int32_t dy,
                      int32_t width, int32_t height, int32_t key, int32_t clip) {
    return Blit(key < 0 ? BlitKind::Block : BlitKind::Cookie, source, destination, sx, sy, dx, dy, width, height, key,
                clip);
}

int32_t B3D_TexRectStretch(int32_t source, int32_t destination, int32_t sx, int32_t sy, int32_t sw, int32_t sh,
                           int32_t dx, int32_t dy, int32_t dw, int32_t dh, int32_t mode) {
    (void)mode;
    if (source < 0 || destination < 0) {
        Qel_ErrPrintf("B3D_TexRectStretch(%d, %d) not supported\n", source, destination);
        return 0;
    }
    Tex st, dt;
    if (!Fetch(destination, &dt) || !Fetch(source, &st)) return 0;
    const int16_t f[10] = {static_cast<int16_t>(source), static_cast<int16_t>(destination), static_cast<int16_t>(sx),
                           static_cast<int16_t>(sy),     static_cast<int16_t>(sw),          static_cast<int16_t>(sh),
                           static_cast<int16_t>(dx),     static_cast<int16_t>(dy),          static_cast<int16_t>(dw),
                           static_cast<int16_t>(dh)};
    B3D_TexRecord("RTRS", f, 10);
    auto rect = [](int64_t x, int64_t y, int64_t w, int64_t h, int32_t k) {
        return RECT{Clamp32(x * k), Clamp32(y * k), Clamp32((x + w) * k), Clamp32((y + h) * k)};
    };
    const RECT from = rect(sx, sy, sw, sh, st.k), to = rect(dx, dy, dw, dh, dt.k);
    Qel_BlitDispatch(st.bitmap, dt.bitmap, &from, &to);
    return 1;
}

namespace {
int32_t Tiles(BlitKind kind, int32_t src, int32_t dst, int32_t sx, int32_t sy, int32_t tileW, int32_t tileH, int32_t x,
              int32_t y, int32_t width, int32_t height, int32_t alpha) {
    if (tileW <= 0 || tileH <= 0 || width <= 0 || height <= 0) return 0;
    // Copies that lie wholly outside the destination are cut away by the clip
    // anyway; skipping them keeps a huge area from costing a huge loop.
    const int64_t right = std::min<int64_t>(static_cast<int64_t>(x) + width, B3D_TexGetWidth(dst));
    const int64_t bottom = std::min<int64_t>(static_cast<int64_t>(y) + height, B3D_TexGetHeight(dst));
    const int64_t firstCol = x < 0 ? (-static_cast<int64_t>(x) / tileW) * tileW : 0;
    const int64_t firstRow = y < 0 ? (-static_cast<int64_t>(y) / tileH) * tileH : 0;
    int32_t result = 0;
    for (int64_t ty = firstRow; y + ty < bottom; ty += tileH) {
        const auto h = static_cast<int32_t>(std::min<int64_t>(tileH, height - ty));
        for (int64_t tx = firstCol; x + tx < right; tx += tileW) {
            const auto w = static_cast<int32_t>(std::min<int64_t>(tileW, width - tx));
            const auto cx = static_cast<int32_t>(x + tx), cy = static_cast<int32_t>(y + ty);
            result |= kind == BlitKind::Alpha ? B3D_TexBlit(src, dst, sx, sy, cx, cy, w, h, alpha, 1)
                                              : B3D_TexCookie(src, dst, sx, sy, cx, cy, w, h, 0, 1);
        }
    }
    return result;
}
}  // namespace

int32_t B3D_TexBltTilesAlpha(int32_t source, int32_t destination, int32_t sx, int32_t sy, int32_t tileWidth,
                             int32_t tileHeight, int32_t x, int32_t y, int32_t width, int32_t height, int32_t alpha) {
    return Tiles(BlitKind::Alpha, source, destination, sx, sy, tileWidth, tileHeight, x, y, width, height, alpha);
}

int32_t B3D_TexBltTiles(int32_t source, int32_t destination, int32_t sx, int32_t sy, int32_t tileWidth,
                        int32_t tileHeight, int32_t x, int32_t y, int32_t width, int32_t height) {
    return Tiles(BlitKind::Cookie, source, destination, sx, sy, tileWidth, tileHeight, x, y, width, height, 0);
}

int32_t B3D_TexText(int32_t texture, const char* text, int32_t font, int32_t x, int32_t y, int32_t width,
                    uint32_t colour, int32_t style) {
    QelFont* f = FontOf(font);
    if (!f || !text) return 0;
    const int64_t w = TextWidth(width, texture);
    const Rect box{x, y, std::max<int64_t>(w, 1), std::max(1, Qel_TextLineHeight(f, TextStyle(f, style)) / Scale())};
    return SpreadShape(texture, box, [&](int32_t id, int64_t dx, int64_t dy) {
        return TextOne(id, text, f, font, x + dx, y + dy, w, colour, style);
    });
}

int32_t B3D_TexTextBox(int32_t texture, const char* text, int32_t font, int32_t x, int32_t y, int32_t width,
                       int32_t height, uint32_t colour, int32_t style) {
    QelFont* f = FontOf(font);
    if (!f || !text) return 0;
    const int64_t w = TextWidth(width, texture);
    const std::vector<QelTextLine> lines = Layout(text, f, w, style);
    const int32_t lineHeight = std::max(1, Qel_TextLineHeight(f, TextStyle(f, style)) / Scale());
    int32_t drawn = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const int64_t top = y + static_cast<int64_t>(i) * lineHeight;
        if (height > 0 && top + lineHeight > static_cast<int64_t>(y) + height) break;
        const std::string line(text + lines[i].start, static_cast<size_t>(lines[i].length));
        if (B3D_TexText(texture, line.c_str(), font, x, Clamp32(top), Clamp32(w), colour, style) > 0) ++drawn;
    }
    return drawn;
}

int32_t B3D_TexTextBlockCentered(int32_t texture, const char* text, int32_t font, int32_t x, int32_t y, int32_t width,
                                 uint32_t colour, int32_t style) {
    QelFont* f = FontOf(font);
    if (!f || !text) return 0;
    const int64_t w = TextWidth(width, texture);
    const std::vector<QelTextLine> lines = Layout(text, f, w, style);
    const uint32_t s = TextStyle(f, style);
    const int32_t lineHeight = std::max(1, Qel_TextLineHeight(f, s) / Scale());
    bool drew = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string line(text + lines[i].start, static_cast<size_t>(lines[i].length));
        const int64_t left = x + (w - Qel_TextWidth(f, line.c_str(), s) / Scale()) / 2;
        const int64_t top = y + static_cast<int64_t>(i) * lineHeight;
        // The line keeps the block's right edge as its limit.
        const int64_t room = std::max<int64_t>(x + w - left, 1);
        if (B3D_TexText(texture, line.c_str(), font, Clamp32(left), Clamp32(top), Clamp32(room), colour, style) > 0)
            drew = true;
    }
    return drew ? static_cast<int32_t>(lines.size()) : 0;
}
