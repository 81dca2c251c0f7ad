// Bitmap fonts and styled text: fonts from an image of glyphs plus metrics (a
// grid of cells with an optional width table ".siz", or a proportional ".abc"
// file of version 4 or 5), UTF-8 text with ESC colour codes, outline and shadow
// styles drawn from a fixed table of offsets, line layout, and the 1-bit BMP
// reader that loads font images.
#pragma once

#include <cstdint>
#include <vector>

struct EBM;

constexpr int QEL_FONT_SLOTS = 10;
constexpr int QEL_TEXT_MAX_LINES = 100;

// Font flags.
constexpr uint32_t FONT_CALLER_MASK = 0xFFFFC030;
constexpr uint32_t FONT_EFFECTIMAGE = 0x10;
constexpr uint32_t FONT_PROPORTIONAL = 0x20;
constexpr uint32_t FONT_DEEP = 0x8000;
constexpr uint32_t FONT_ABC = 0x20000;

// Style bits.
constexpr uint32_t TEXT_STYLE_MASK = 0x3FCF;
constexpr uint32_t TEXT_NARROWCELL = 0x10000;

struct QelFont {
    int32_t slot;
    char* name;
    EBM* image;
    int16_t cellWidth;
    int16_t fontHeight;
    int16_t cellsPerRow;
    int16_t topOffset;
    uint32_t flags;
    EBM* effectImage;
    int16_t spacing;
    uint32_t firstChar;
    uint32_t lastChar;
    uint8_t* inkWidths;
    uint32_t glyphCount;
    uint32_t effectColour;  // 0: chosen by the text colour
    uint16_t effectStyle;
    int16_t effectCellWidth, effectCellHeight;
    uint32_t callerStyle;
    uint16_t* glyphX;
    uint16_t* glyphY;
    uint8_t* advance;
    uint8_t* lead;
    uint16_t* charMap;  // version 5: glyph index per code point 0 .. lastChar
    // ".abc" fonts: the height of each glyph in the image.
    uint16_t* glyphHeight;
};

extern QelFont* g_QelFonts[QEL_FONT_SLOTS];

QelFont* Qel_OpenFont(const char* name, int16_t cellWidth, int16_t fontHeight, uint32_t style, int16_t topOffset);
QelFont* Qel_OpenFont2(const char* name, int16_t cellWidth, int16_t fontHeight, uint32_t style, int16_t topOffset);
// Frees every open font (at exit; fonts otherwise stay open).
void Qel_CloseFonts();

// The parsed offset list of a style word.
struct QelTextStyle {
    uint32_t style;  // masked with TEXT_STYLE_MASK
    int count;
    int16_t x[100], y[100];
    uint8_t marker[100];  // 0 effect colour, 1 text colour
    int16_t minX, maxX, minY, maxY;
    int mainStart;  // index of the first offset of the main pass
};
const QelTextStyle* Qel_TextParseStyle(uint32_t style);

int Qel_TextWidth(QelFont* font, const char* text, uint32_t style);
int Qel_TextLineHeight(QelFont* font, uint32_t style);
// Breaks text into at most 100 lines (byte starts and lengths); the line count.
int Qel_TextLayout(const char* text, int32_t* lineStarts, int32_t* lineLengths, int maxWidth, QelFont* font,
                   int* widest, int* totalHeight, uint32_t style);
// One line of a text broken by Qel_TextMeasure: its byte start and length.
struct QelTextLine {
    int32_t start;
    int32_t length;
};
// Breaks text into lines by the same rule, however many there are: the line
// count, and the lines in `lines` when it is not null.
int Qel_TextMeasure(const char* text, int maxWidth, QelFont* font, uint32_t style, std::vector<QelTextLine>* lines);
int Qel_TextHeight(uint32_t style, QelFont* font, const char* text, int maxWidth);
// Draws one line at (x, y); the pen x after the last glyph drawn.
int Qel_Text(QelFont* font, EBM* dst, const char* text, int x, int rightLimit, uint32_t colour, uint32_t style, int y);

// A 1-bit BMP as a plane bitmap without shadow; null after a log line.
EBM* Qel_ReadBMP(const char* path);
