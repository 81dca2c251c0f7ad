#include "base/fonts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/draw2d.h"
#include "base/ebm.h"
#include "base/file.h"
#include "base/general.h"
#include "base/imagefiles.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/utf8.h"
#include "system/surfaces.h"

QelFont* g_QelFonts[QEL_FONT_SLOTS];

namespace {

constexpr uint8_t kEsc = 27;
constexpr uint32_t kFontLoadFlags = 0x8602C;

struct StyleRow {
    uint32_t bit;
    int count;
    int16_t x[10], y[10];
    uint8_t marker[10];
};

const StyleRow kStyleTable[11] = {
    {0x2, 8, {0, 1, 1, 1, 0, -1, -1, -1}, {-1, -1, 0, 1, 1, 1, 0, -1}, {0, 0, 0, 0, 0, 0, 0, 0}},
    {0x40, 1, {0}, {-1}, {0}},
    {0x80, 1, {1}, {-1}, {0}},
    {0x100, 1, {1}, {0}, {0}},
    {0x200, 1, {1}, {1}, {0}},
    {0x400, 1, {0}, {1}, {0}},
    {0x800, 1, {-1}, {1}, {0}},
    {0x1000, 1, {-1}, {0}, {0}},
    {0x2000, 1, {-1}, {-1}, {0}},
    {0x1, 1, {0}, {0}, {1}},
    {0x4, 1, {1}, {0}, {1}},
};

// The table in use: offsets doubled on a scaled display (except the rows of
// the plain and bold passes).
StyleRow s_Styles[11];
QelTextStyle s_Parsed;
bool s_ParsedValid = false;

void BuildStyleTable() {
    bool scaled = g_SystemState && g_SystemState->fontScale > 1;
    for (int r = 0; r < 11; ++r) {
        s_Styles[r] = kStyleTable[r];
        if (!scaled || s_Styles[r].bit == 0x1 || s_Styles[r].bit == 0x4) continue;
        for (int i = 0; i < s_Styles[r].count; ++i) {
            s_Styles[r].x[i] = static_cast<int16_t>(s_Styles[r].x[i] * 2);
            s_Styles[r].y[i] = static_cast<int16_t>(s_Styles[r].y[i] * 2);
        }
    }
    s_ParsedValid = false;
}

template <class T>
T* AllocArray(size_t n) {
    if (n == 0) return nullptr;
    auto* p = static_cast<T*>(Int_AllocMem(n * sizeof(T), 0));
    if (p) std::memset(p, 0, n * sizeof(T));
    return p;
}

template <class T>
void FreeArray(T*& p, size_t n) {
    if (p) Int_FreeMem(p, n * sizeof(T), 0);
    p = nullptr;
}

size_t MapEntries(const QelFont* f) { return f->charMap ? f->lastChar + 1 : 0; }

void FreeFont(QelFont* f) {
    if (!f) return;
    f->name = Qel_StrFree(f->name);
    FreeILBM(f->image);
    FreeILBM(f->effectImage);
    size_t n = f->glyphCount;
    FreeArray(f->inkWidths, n);
    FreeArray(f->glyphX, n);
    FreeArray(f->glyphY, n);
    FreeArray(f->advance, n);
    FreeArray(f->lead, n);
    FreeArray(f->glyphHeight, n);
    FreeArray(f->charMap, MapEntries(f));
    Int_FreeRecord(f, 0);
}

bool AllocGlyphs(QelFont* f, uint32_t count, bool abc) {
    f->glyphCount = count;
    f->inkWidths = AllocArray<uint8_t>(count);
    if (!abc) return f->inkWidths != nullptr;
    f->glyphX = AllocArray<uint16_t>(count);
    f->glyphY = AllocArray<uint16_t>(count);
    f->advance = AllocArray<uint8_t>(count);
    f->lead = AllocArray<uint8_t>(count);
    f->glyphHeight = AllocArray<uint16_t>(count);
    return f->inkWidths && f->glyphX && f->glyphY && f->advance && f->lead && f->glyphHeight;
}

int32_t I32(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
float F32(const uint8_t* p) {
    float v;
    std::memcpy(&v, p, 4);
    return v;
}
bool Unit(float v) { return std::isfinite(v) && v >= 0.0f && v <= 1.0f; }
int Round(double v) { return static_cast<int>(std::floor(v + 0.5)); }

// Reads the glyph records of an ".abc" file; false for a value out of range.
bool ReadGlyphRecords(QelFont* f, const uint8_t* rec, uint32_t count) {
    int w = f->image->width, h = f->image->height;
    int tallest = 0;
    for (uint32_t g = 0; g < count; ++g, rec += 24) {
        float left = F32(rec), top = F32(rec + 4), right = F32(rec + 8), bottom = F32(rec + 12);
        if (!Unit(left) || !Unit(top) || !Unit(right) || !Unit(bottom) || right < left || bottom < top) return false;
        int x = Round(w * static_cast<double>(left));
        int y = std::clamp(Round(h * static_cast<double>(top) + f->topOffset), 0, h);
        int height = std::max(0, Round(h * static_cast<double>(bottom)) - y);
        f->glyphX[g] = static_cast<uint16_t>(x);
        f->glyphY[g] = static_cast<uint16_t>(y);
        f->glyphHeight[g] = static_cast<uint16_t>(height);
        f->lead[g] = rec[16];
        f->inkWidths[g] = rec[18];
        f->advance[g] = rec[20];
        tallest = std::max(tallest, height);
    }
    Qel_DPrintf(0, "max char height=%d (user supplied font height=%d)\n", tallest, f->fontHeight);
    return true;
}

// 1 read, 0 refused (logged), -1 no ".abc" file.
int ReadAbc(QelFont* f, const std::string& path) {
    auto* data = static_cast<uint8_t*>(Qel_LoadFile((path + ".abc").c_str()));
    if (!data) return -1;
    uint32_t size = g_QelLastFileSize;
    struct Free {
        uint8_t* p;
        uint32_t n;
        ~Free() { Int_FreeMem(p, n, 0); }
    } holder{data, size};
    f->flags |= FONT_ABC | FONT_PROPORTIONAL;
    int32_t version = size >= 4 ? I32(data) : 0;
    Qel_DPrintf(0, "Version=%d\n", version);
    auto damaged = [&]() {
        Qel_ErrPrintf("Qel_OpenFont2(%s) abc file is damaged!\n", f->name);
        return 0;
    };
    if (version == 4) {
        if (size < 28) return damaged();
        uint16_t start = U16(data + 20), end = U16(data + 22);
        Qel_DPrintf(0, "Fonteffheight=%d\n", I32(data + 4));
        Qel_DPrintf(0, "TexWidth=%d\n", I32(data + 8));
        Qel_DPrintf(0, "TexHeight=%d\n", I32(data + 12));
        Qel_DPrintf(0, "TexBPP=%d\n", I32(data + 16));
        Qel_DPrintf(0, "Start=%d\n", start);
        Qel_DPrintf(0, "End=%d\n", end);
        Qel_DPrintf(0, "Num=%d\n", I32(data + 24));
        if (end < start) return damaged();
        uint32_t count = end - start + 1u;
        if (28u + 24u * static_cast<uint64_t>(count) > size) return damaged();
        f->firstChar = start;
        f->lastChar = end;
        if (!AllocGlyphs(f, count, true)) return 0;
        return ReadGlyphRecords(f, data + 28, count) ? 1 : damaged();
    }
    if (version == 5) {
        if (size < 24) return damaged();
        uint16_t maxGlyph = U16(data + 20);
        uint64_t mapEnd = 24u + 2u * static_cast<uint64_t>(maxGlyph);
        if (mapEnd + 4 > size) return damaged();
        int32_t glyphs = I32(data + mapEnd);
        Qel_DPrintf(0, "FontHeight=%f\n", static_cast<double>(F32(data + 4)));
        Qel_DPrintf(0, "TopPadding=%f\n", static_cast<double>(F32(data + 8)));
        Qel_DPrintf(0, "BottomPadding=%f\n", static_cast<double>(F32(data + 12)));
        Qel_DPrintf(0, "FontYAdvance=%f\n", static_cast<double>(F32(data + 16)));
        Qel_DPrintf(0, "MaxGlyph=%d\n", maxGlyph);
        Qel_DPrintf(0, "NumGlyphs=%d\n", glyphs);
        if (glyphs <= 0 || glyphs > 0xFFFF || mapEnd + 4 + 24u * static_cast<uint64_t>(glyphs) > size) return damaged();
        f->firstChar = 0;
        f->lastChar = maxGlyph;
        f->charMap = AllocArray<uint16_t>(maxGlyph + 1u);
        if (!f->charMap || !AllocGlyphs(f, static_cast<uint32_t>(glyphs), true)) return 0;
        for (uint32_t c = 0; c <= maxGlyph; ++c) {
            f->charMap[c] = U16(data + 22 + 2 * c);
            if (f->charMap[c] >= glyphs) return damaged();
        }
        return ReadGlyphRecords(f, data + mapEnd + 4, static_cast<uint32_t>(glyphs)) ? 1 : damaged();
    }
    Qel_ErrPrintf("Qel_OpenFont2(%s) abc file version %d is not supported!\n", f->name, version);
    return 0;
}

// Glyph index of a code point; -1 when the font has none.
int GlyphIndex(const QelFont* f, uint32_t cp) {
    if (cp < f->firstChar || cp > f->lastChar) return -1;
    uint32_t g = f->charMap ? f->charMap[cp] : cp - f->firstChar;
    return g < f->glyphCount ? static_cast<int>(g) : -1;
}

int InkWidth(const QelFont* f, int g) { return (f->flags & FONT_PROPORTIONAL) ? f->inkWidths[g] : f->cellWidth; }

int Advance(const QelFont* f, int g) {
    if (f->flags & FONT_ABC) return f->lead[g] + f->advance[g];
    return InkWidth(f, g) + f->spacing;
}

// Walks the text up to end (null: its NUL): glyph(g) for each glyph (false
// stops the walk), code(c) for each ESC code. An ESC or a cut-short character
// at the end ends the walk there.
template <class G, class C>
void Walk(const QelFont* f, const char* text, const char* end, G glyph, C code) {
    const char* p = text;
    while (*p && (!end || p < end)) {
        if (static_cast<uint8_t>(*p) == kEsc) {
            ++p;
            if (!*p || (end && p >= end)) return;
            uint32_t c;
            const char* next = Qel_Utf8Decode(p, &c);
            if (!next || next == p) return;
            code(c);
            p = next;
            continue;
        }
        uint32_t cp;
        const char* next = Qel_Utf8Decode(p, &cp);
        if (!next || next == p) return;
        p = next;
        if (cp == 0) continue;  // a character cut short
        int g = GlyphIndex(f, cp);
        if (g >= 0 && !glyph(g)) return;
    }
}

int Width(QelFont* f, const char* text, const char* end, const QelTextStyle* s) {
    int width = 0, last = -1;
    Walk(
        f, text, end,
        [&](int g) {
            width += Advance(f, g);
            last = g;
            return true;
        },
        [](uint32_t) {});
    if (last >= 0 && (f->flags & FONT_ABC)) width -= f->advance[last] - f->inkWidths[last];
    return width + s->maxX - s->minX;
}

uint32_t CodeColour(uint32_t code, uint32_t current, uint32_t caller) {
    switch (code) {
        case '0': return 0x000000;
        case 'A': return 0xCCCCCC;
        case 'B': return 0x5555FF;
        case 'C': return 0x00FFFF;
        case 'G': return 0x55FF55;
        case 'M': return 0xFF00FF;
        case 'R': return 0xFF5555;
        case 'W': return 0xFFFFFF;
        case 'X': return caller;
        case 'Y': return 0xFFFF00;
        case 'Z': return 0xAAAAAA;
        default: return current;
    }
}

// The pre-rendered effect image of a grid font: every glyph drawn with the
// caller's style into a cell of the widest glyph's width (rounded up to 16)
// and the font height + 2. Only plane images are supported.
void BuildEffectImage(QelFont* f, uint32_t style) {
    if (f->image->flags & EBM_CHUNKY) {
        Qel_ErrPrintf("Chunky Pre calculated Outline not supported yet!\n");
        return;
    }
    int widest = 0;
    for (uint32_t c = f->firstChar; c <= f->lastChar; ++c) {
        char one[4] = {};
        Qel_Utf8Encode(one, c);
        widest = std::max(widest, Qel_TextWidth(f, one, style));
    }
    int cellW = (widest + 15) & ~15, cellH = f->fontHeight + 2;
    int rows = f->image->height / f->fontHeight;
    uint32_t flags = f->image->flags & ~(EBM_LOCKED | EBM_OWNHEADER | EBM_KEEPHEADER | EBM_DUMMY);
    EBM* e = GenerateEbm(static_cast<int16_t>(f->cellsPerRow * cellW), static_cast<int16_t>(rows * cellH),
                         static_cast<int16_t>(f->image->bitsPerPixel), flags);
    if (!e) return;
    for (uint32_t c = f->firstChar; c <= f->lastChar; ++c) {
        char one[4] = {};
        Qel_Utf8Encode(one, c);
        int cell = static_cast<int>(c - f->firstChar);
        int x = cell % f->cellsPerRow * cellW, y = cell / f->cellsPerRow * cellH;
        Qel_Text(f, e, one, x, x + cellW, 1, style, y);
    }
    f->effectImage = e;
    f->flags |= FONT_EFFECTIMAGE;
    f->effectStyle = static_cast<uint16_t>(style & TEXT_STYLE_MASK);
    f->effectCellWidth = static_cast<int16_t>(cellW);
    f->effectCellHeight = static_cast<int16_t>(cellH);
}

// Breaks text into lines, at most maxLines of them (negative: no limit), and
// hands each line's byte start and length to `line`; the line count.
template <class LineSink>
int BreakLines(const char* text, int maxWidth, QelFont* font, uint32_t style, int maxLines, int* widest,
               LineSink&& line) {
    if (widest) *widest = 0;
    if (!text || !font) return 0;
    const QelTextStyle* s = Qel_TextParseStyle(style);
    int lines = 0, wide = 0;
    const char* p = text;
    while (*p && (maxLines < 0 || lines < maxLines)) {
        const char* start = p;
        const char* end = nullptr;
        const char* next = nullptr;
        const char* blank = nullptr;
        bool wrapped = false;
        int width = s->maxX - s->minX;
        const char* q = p;
        while (*q) {
            if (*q == '\n') {
                end = q;
                next = q + 1;
                break;
            }
            // One character (or one ESC pair) and the width it adds.
            const char* after;
            int add = 0;
            uint32_t cp = 0;
            if (static_cast<uint8_t>(*q) == kEsc) {
                after = q[1] ? Qel_Utf8Decode(q + 1, &cp) : q + 1;
            } else {
                after = Qel_Utf8Decode(q, &cp);
                int g = cp ? GlyphIndex(font, cp) : -1;
                if (g >= 0) add = Advance(font, g);
            }
            if (!after || after == q) {  // the text ends here
                q += std::strlen(q);
                break;
            }
            if (add > 0 && width + add > maxWidth && q > start) {
                wrapped = true;
                if (blank) {
                    end = blank;
                    next = blank + 1;
                } else {
                    end = q;
                    next = q;
                }
                break;
            }
            if (*q == ' ') blank = q;
            width += add;
            q = after;
        }
        if (!end) end = next = q;
        line(lines, static_cast<int32_t>(start - text), static_cast<int32_t>(end - start));
        wide = std::max(wide, Width(font, start, end, s));
        ++lines;
        p = next;
        while (*p == ' ') ++p;
        if (wrapped && *p == '\n') ++p;
    }
    if (widest) *widest = wide;
    return lines;
}

}  // namespace

// ---------------------------------------------------------------- opening

QelFont* Qel_OpenFont(const char* name, int16_t cellWidth, int16_t fontHeight, uint32_t style, int16_t topOffset) {
    BuildStyleTable();
    if (!name) return nullptr;
    int free = -1;
    for (int i = 0; i < QEL_FONT_SLOTS; ++i) {
        if (g_QelFonts[i] && std::strcmp(g_QelFonts[i]->name, name) == 0) return g_QelFonts[i];
        if (!g_QelFonts[i] && free < 0) free = i;
    }
    if (free < 0) {
        Qel_ErrPrintf("Qel_OpenFont(%s) No more font slots left!\n", name);
        return nullptr;
    }
    QelFont* f = Qel_OpenFont2(name, cellWidth, fontHeight, style, topOffset);
    if (!f) return nullptr;
    f->slot = free;
    g_QelFonts[free] = f;
    return f;
}

QelFont* Qel_OpenFont2(const char* name, int16_t cellWidth, int16_t fontHeight, uint32_t style, int16_t topOffset) {
    if (!name || !g_SystemState || !g_SystemState->app || !g_SystemState->app->fontTemplate) return nullptr;
    std::vector<char> buf(std::strlen(g_SystemState->app->fontTemplate) + std::strlen(name) + 8);
    std::snprintf(buf.data(), buf.size(), g_SystemState->app->fontTemplate, name);
    std::string path = buf.data();

    auto* f = Int_AllocRecord<QelFont>(0);
    if (!f) return nullptr;
    std::memset(f, 0, sizeof *f);
    f->name = Qel_StrDup(name);
    f->cellWidth = cellWidth;
    f->fontHeight = fontHeight;
    f->topOffset = topOffset;
    f->callerStyle = style;
    f->flags = style & FONT_CALLER_MASK & ~FONT_EFFECTIMAGE & ~FONT_PROPORTIONAL;
    f->spacing = 1;

    EBM* image = S_LoadTexture((path + ".img").c_str(), g_SystemState->textureFlags | kFontLoadFlags, 0, 1);
    if (image && (image->flags & EBM_DUMMY)) {
        FreeILBM(image);
        image = nullptr;
    }
    if (!image) image = Qel_ReadBMP((path + ".bmp").c_str());
    if (!image) {
        Qel_ErrPrintf("Qel_OpenFont2(%s) Can't open image file!\n", name);
        FreeFont(f);
        return nullptr;
    }
    f->image = image;
    if (image->bitsPerPixel > 1) f->flags |= FONT_DEEP;

    int abc = ReadAbc(f, path);
    if (abc == 0) {
        FreeFont(f);
        return nullptr;
    }
    if (abc < 0) {
        if (cellWidth <= 0 || fontHeight <= 0) {
            FreeFont(f);
            return nullptr;
        }
        f->cellsPerRow = static_cast<int16_t>((image->width + cellWidth - 1) / cellWidth);
        f->firstChar = 32;
        // The last glyph is the grid's last cell.
        f->lastChar = std::min(static_cast<uint32_t>(image->height / fontHeight * f->cellsPerRow + 31), 255u);
        if (f->lastChar < f->firstChar) {
            Qel_ErrPrintf("Qel_OpenFont2(%s) Can't open image file!\n", name);
            FreeFont(f);
            return nullptr;
        }
        if (!AllocGlyphs(f, f->lastChar - f->firstChar + 1, false)) {
            FreeFont(f);
            return nullptr;
        }
        std::fill_n(f->inkWidths, f->glyphCount, static_cast<uint8_t>(std::min<int>(cellWidth, 255)));
        if (auto* siz = static_cast<uint8_t*>(Qel_LoadFile((path + ".siz").c_str()))) {
            uint32_t n = g_QelLastFileSize;
            // Glyphs beyond a short table keep the cell width.
            std::copy_n(siz, std::min(n, f->glyphCount), f->inkWidths);
            Int_FreeMem(siz, n, 0);
            f->flags |= FONT_PROPORTIONAL;
        }
        if (style & FONT_EFFECTIMAGE) BuildEffectImage(f, style);
    }
    return f;
}

void Qel_CloseFonts() {
    for (QelFont*& f : g_QelFonts) {
        FreeFont(f);
        f = nullptr;
    }
}

// ---------------------------------------------------------------- styles and layout

const QelTextStyle* Qel_TextParseStyle(uint32_t style) {
    style &= TEXT_STYLE_MASK;
    if (s_ParsedValid && s_Parsed.style == style) return &s_Parsed;
    static bool built = false;
    if (!built) {
        BuildStyleTable();
        built = true;
    }
    QelTextStyle& p = s_Parsed;
    p = QelTextStyle{};
    p.style = style;
    for (const StyleRow& row : s_Styles) {
        if (!(style & row.bit)) continue;
        for (int i = 0; i < row.count && p.count < 100; ++i, ++p.count) {
            p.x[p.count] = row.x[i];
            p.y[p.count] = row.y[i];
            p.marker[p.count] = row.marker[i];
        }
    }
    for (int i = 0; i < p.count; ++i) {
        p.minX = std::min(p.minX, p.x[i]), p.maxX = std::max(p.maxX, p.x[i]);
        p.minY = std::min(p.minY, p.y[i]), p.maxY = std::max(p.maxY, p.y[i]);
    }
    p.mainStart = -1;
    for (int i = 0; i + 1 < p.count && p.mainStart < 0; ++i)
        if (p.marker[i] == 0 && p.marker[i + 1] == 1) p.mainStart = i + 1;
    if (p.mainStart < 0) p.mainStart = p.count > 0 && p.marker[0] == 0 ? p.count : 0;
    if (p.count == 0) Qel_ErrPrintf("TEXT: wrong style format!\n");
    s_ParsedValid = true;
    return &p;
}

int Qel_TextWidth(QelFont* font, const char* text, uint32_t style) {
    if (!font || !text) return 0;
    return Width(font, text, nullptr, Qel_TextParseStyle(style));
}

int Qel_TextLineHeight(QelFont* font, uint32_t style) {
    if (!font) return 0;
    const QelTextStyle* s = Qel_TextParseStyle(style);
    return font->fontHeight + s->maxY - s->minY;
}

int Qel_TextLayout(const char* text, int32_t* lineStarts, int32_t* lineLengths, int maxWidth, QelFont* font,
                   int* widest, int* totalHeight, uint32_t style) {
    if (totalHeight) *totalHeight = 0;
    const int lines =
        BreakLines(text, maxWidth, font, style, QEL_TEXT_MAX_LINES, widest, [&](int n, int32_t start, int32_t length) {
            if (lineStarts) lineStarts[n] = start;
            if (lineLengths) lineLengths[n] = length;
        });
    if (totalHeight && font && text) *totalHeight = Qel_TextLineHeight(font, style) * lines + 1;
    return lines;
}

int Qel_TextMeasure(const char* text, int maxWidth, QelFont* font, uint32_t style, std::vector<QelTextLine>* lines) {
    if (lines) lines->clear();
    return BreakLines(text, maxWidth, font, style, -1, nullptr, [&](int, int32_t start, int32_t length) {
        if (lines) lines->push_back({start, length});
    });
}

int Qel_TextHeight(uint32_t style, QelFont* font, const char* text, int maxWidth) {
    int lines = Qel_TextLayout(text, nullptr, nullptr, maxWidth, font, nullptr, nullptr, style);
    return Qel_TextLineHeight(font, style) * lines;
}

// ---------------------------------------------------------------- drawing

int Qel_Text(QelFont* font, EBM* dst, const char* text, int x, int rightLimit, uint32_t colour, uint32_t style, int y) {
    if (!font || !dst || !text || !font->image) return x;
    SurfaceLocks locks{};
    if (!S_LockForDrawing(&locks, dst, nullptr)) {
        Qel_ErrPrintf("ERROR: Qel_Text() S_Locking surfaces \n");
        return 0;
    }
    const QelTextStyle s = *Qel_TextParseStyle(style);
    x -= s.minX;
    y -= s.minY;
    uint32_t keptFlags = dst->flags & EBM_RECTTAB;
    dst->flags &= ~EBM_RECTTAB;
    EBM* image = font->image;
    bool deep = font->flags & FONT_DEEP;
    bool abc = font->flags & FONT_ABC;

    // One pass of all glyphs at one offset; the pen x after the last glyph.
    auto pass = [&](int ox, int oy, uint32_t passColour, bool readCodes) {
        int pen = x;
        uint32_t c = passColour;
        Walk(
            font, text, nullptr,
            [&](int g) {
                int sx, sy, w, h;
                if (abc) {
                    pen += font->lead[g];
                    sx = font->glyphX[g], sy = font->glyphY[g];
                    w = font->inkWidths[g], h = font->glyphHeight[g];
                } else {
                    sx = font->cellWidth * (g % font->cellsPerRow) + 1;
                    sy = font->fontHeight * (g / font->cellsPerRow) + 1;
                    w = (font->flags & FONT_PROPORTIONAL) ? font->inkWidths[g]
                        : (style & TEXT_NARROWCELL)       ? font->cellWidth - 1
                                                          : font->cellWidth;
                    h = font->fontHeight;
                }
                if (pen + w > rightLimit) return false;
                // The source is clipped to the image, the copy to the destination.
                int cw = std::min(w, image->width - sx), ch = std::min(h, image->height - sy);
                int dx = pen + ox, dy = y + oy;
                if (cw > 0 && ch > 0 && dx < dst->width && dy < dst->height && dx + cw > 0 && dy + ch > 0) {
                    if (deep)
                        Qel_AlphaBlit(image, static_cast<int16_t>(sx), static_cast<int16_t>(sy),
                                      static_cast<int16_t>(cw), static_cast<int16_t>(ch), dst, static_cast<int16_t>(dx),
                                      static_cast<int16_t>(dy), c);
                    else
                        Qel_BitBltSet(image, static_cast<int16_t>(sx), static_cast<int16_t>(sy),
                                      static_cast<int16_t>(cw), static_cast<int16_t>(ch), dst, static_cast<int16_t>(dx),
                                      static_cast<int16_t>(dy), c);
                }
                pen += abc ? font->advance[g] : w + font->spacing;
                return true;
            },
            [&](uint32_t code) {
                if (readCodes) c = CodeColour(code, c, colour);
            });
        return pen;
    };

    if (s.count > 0 && s.marker[0] == 0) {
        uint32_t effect = font->effectColour;
        if (!effect) {
            bool bright = ((colour >> 16) & 0xFF) > 0x88 || ((colour >> 8) & 0xFF) > 0x88 || (colour & 0xFF) > 0x88;
            effect = bright ? 0x444444 : 0xCCCCCC;
        }
        for (int i = 0; i < s.mainStart; ++i) pass(s.x[i], s.y[i], effect, false);
    }
    int pen = x;
    for (int i = s.mainStart; i < s.count; ++i) pen = pass(s.x[i], s.y[i], colour, true);
    dst->flags |= keptFlags;
    S_UnlockAfterDrawing(&locks);
    return pen;
}

// ---------------------------------------------------------------- BMP

EBM* Qel_ReadBMP(const char* path) {
    if (!path) return nullptr;
    auto* data = static_cast<uint8_t*>(Qel_LoadFile(path));
    if (!data) return nullptr;
    uint32_t size = g_QelLastFileSize;
    struct Free {
        uint8_t* p;
        uint32_t n;
        ~Free() { Int_FreeMem(p, n, 0); }
    } holder{data, size};
    if (size < 30 || data[0] != 'B' || data[1] != 'M') {
        Qel_ErrPrintf("Qel_ReadBMP(%s) invalid file header!\n", path);
        return nullptr;
    }
    int32_t width = I32(data + 18), height = I32(data + 22);
    int bits = U16(data + 28);
    uint32_t offset = static_cast<uint32_t>(I32(data + 10));
    Qel_DPrintf(0, "Qel_ReadBMP(%s) image size %dx%dx%d\n", path, width, height, bits);
    if (bits != 1) {
        Qel_ErrPrintf("Qel_ReadBMP(%s) Only depth=1 currently supported!\n", path);
        return nullptr;
    }
    Qel_DPrintf(0, "data offset=%x\n", offset);
    bool topDown = height < 0;
    int64_t rows = topDown ? -static_cast<int64_t>(height) : height;
    int64_t fileRow = (static_cast<int64_t>(width) + 31) / 32 * 4;
    if (width <= 0 || rows <= 0 || width > 32767 || rows > 32767 || offset > size ||
        fileRow * rows > static_cast<int64_t>(size - offset)) {
        Qel_ErrPrintf("Qel_ReadBMP(%s) invalid file header!\n", path);
        return nullptr;
    }
    EBM* b = GenerateEbm(static_cast<int16_t>(width), static_cast<int16_t>(rows), 1, EBM_NOSHADOW);
    if (!b) return nullptr;
    size_t rowBytes = (static_cast<size_t>(width) + 7) / 8;
    for (int64_t y = 0; y < rows; ++y) {
        int64_t from = topDown ? y : rows - 1 - y;
        std::memcpy(b->plane0 + y * b->rowDistance, data + offset + from * fileRow, rowBytes);
    }
    return b;
}
