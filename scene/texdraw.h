// Drawing into the textures of bodies: rectangles, lines, pixels, circles,
// text, blits, stretches and tiles on the bitmaps of the texture cache. A
// negative texture id names a composite texture, whose pieces share out every
// operation; a texture flagged as scaled (TC_LARGE) holds its bitmap at the
// system's texture scale factor k, so callers' coordinates and sizes are
// logical and are multiplied by k before drawing. While a recording runs every
// drawing made on a texture is handed to the recorder as one texture record.
#pragma once

#include <cstddef>
#include <cstdint>

struct ScriptValue;

// ------------------------------------------------------------------ composites

// One piece of a composite texture: the texture drawn into, the piece's place
// (x, y) in the composite, the same point (u, v) inside the piece's texture,
// and the piece's size.
struct B3DTexPiece {
    int16_t texture;
    int16_t x, y;
    int16_t u, v;
    int16_t width, height;
};

// Stores a copy of the pieces as composite texture `id` (1 and up; drawn to as
// texture -id), replacing what it held; a count of 0 removes it. 1 stored, 0
// refused.
int32_t B3D_TexSetComposite(int32_t id, const B3DTexPiece* pieces, int32_t count);
// Removes every composite texture.
void B3D_TexFreeComposites();

// ------------------------------------------------------------------ records

// A texture record as the recording file holds it: the four tag bytes, the
// 16-bit fields big-endian, and for "RTTX" the text bytes after its length
// field.
using B3DTexRecordWriter = void (*)(void* recorder, const uint8_t* bytes, size_t size);
// The recorder names itself and its writer when a recording starts and clears
// both (null, null) when it stops; without both nothing is written.
void B3D_TexSetRecordWriter(B3DTexRecordWriter writer, void* recorder);
// Hands one record to the recorder when engine flag 0x1 is set and a recorder
// is present; otherwise does nothing. `tag` is four characters.
void B3D_TexRecord(const char* tag, const int16_t* fields, int32_t count, const char* text = nullptr,
                   int32_t textLength = 0);

// The number of 16-bit fields of each texture record (for "RTTX" the fields
// before its text).
struct B3DTexRecordKind {
    char tag[5];
    int32_t fields;
};
constexpr B3DTexRecordKind B3D_TEX_RECORD_KINDS[] = {
    {"RTRS", 10}, {"RTBA", 9}, {"RTBM", 9}, {"RTBB", 8}, {"RTCF", 6},
    {"RTCI", 6},  {"RTLI", 6}, {"RTSP", 4}, {"RTTX", 8}, {"RTRF", 6},
};

// The field count of a texture record's tag (for "RTTX" the fields before its
// text, whose length is the last of them); -1 for another tag.
int32_t B3D_TexRecordFieldCount(const char* tag);
// Repeats the drawing a texture record holds (the replay of a recording):
// colours come back from their 5-5-5 form, a circle's aspect times 4. 1 for a
// texture record, 0 for another tag.
int32_t B3D_TexReplayRecord(const char* tag, const int16_t* fields, const char* text, int32_t textLength);

// ------------------------------------------------------------------ fonts and sizes

// Opens the font name + number ("%s%d") at font height `number`; the slot's
// number, -1 on failure.
int32_t B3D_OpenFontNumbered(const char* name, int32_t number, int32_t cellWidth, int32_t style, int32_t topOffset);

// Logical width and height of a texture (a composite: its largest piece right
// or bottom edge); 0 without bitmap.
int32_t B3D_TexGetWidth(int32_t texture);
int32_t B3D_TexGetHeight(int32_t texture);

// The style text in a font is drawn and measured in: `style`, else the font's
// own, plain when neither has a pass; 0 without a font.
uint32_t B3D_TexFontStyle(int32_t font, int32_t style);

// The text broken into lines of at most `width` logical pixels, as an ARRAY of
// strings in `out`; INTEGER 0 when there are no lines. A width of 0 or less is
// added to the width of `texture`.
void B3D_TexGetTextArray(ScriptValue* out, int32_t font, const char* text, int32_t width, int32_t texture);
// Logical height of the text laid out in `width` (the same width rule).
int32_t B3D_TexTextBlockHeight(int32_t font, const char* text, int32_t width, int32_t texture);

// ------------------------------------------------------------------ drawing

// Colours are 0xRRGGBB (the top byte, alpha, is kept where the texture has
// it). Every operation answers 1 when it reached a texture, 0 otherwise.

int32_t B3D_TexRectFill(int32_t texture, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour);
int32_t B3D_TexLine(int32_t texture, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t colour);
int32_t B3D_TexSetPix(int32_t texture, int32_t x, int32_t y, uint32_t colour);
// aspect: 16.16 ratio of the vertical to the horizontal axis; 0 draws a round
// circle like 1.0.
int32_t B3D_TexCircleFill(int32_t texture, int32_t x, int32_t y, int32_t radius, uint32_t colour, int32_t aspect);
int32_t B3D_TexCircle(int32_t texture, int32_t x, int32_t y, int32_t radius, uint32_t colour, int32_t aspect);

// Blits a block of the source texture; `alpha` tints the source (0xRRGGBB,
// -1 keeps it). With `clip` the block is first cut to the destination, and a
// block wholly outside is neither drawn nor recorded.
int32_t B3D_TexBlit(int32_t source, int32_t destination, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t width,
                    int32_t height, int32_t alpha, int32_t clip);
// The same as a stencil blit copying the pixels brighter than the key colour;
// a negative key copies the block as it is.
int32_t B3D_TexCookie(int32_t source, int32_t destination, int32_t sx, int32_t sy, int32_t dx, int32_t dy,
                      int32_t width, int32_t height, int32_t key, int32_t clip);
// Stretches the source rectangle onto the destination rectangle (each x, y,
// width, height) on the device; composites are refused. `mode` is kept for the
// callers: the device stretch always filters linearly.
int32_t B3D_TexRectStretch(int32_t source, int32_t destination, int32_t sx, int32_t sy, int32_t sw, int32_t sh,
                           int32_t dx, int32_t dy, int32_t dw, int32_t dh, int32_t mode);
// Covers the area with copies of the source tile, row by row, the last column
// and row cut to fit; each copy a clipped alpha (or stencil, key 0) blit.
int32_t B3D_TexBltTilesAlpha(int32_t source, int32_t destination, int32_t sx, int32_t sy, int32_t tileWidth,
                             int32_t tileHeight, int32_t x, int32_t y, int32_t width, int32_t height, int32_t alpha);
int32_t B3D_TexBltTiles(int32_t source, int32_t destination, int32_t sx, int32_t sy, int32_t tileWidth,
                        int32_t tileHeight, int32_t x, int32_t y, int32_t width, int32_t height);

// Text: `style` is the style word of the text (0: the font's own). A width of
// 0 or less is added to the texture's width.
// One line at (x, y), cut at x + width; answers the logical line height (a
// composite: the largest over its pieces), 0 when nothing was drawn.
int32_t B3D_TexText(int32_t texture, const char* text, int32_t font, int32_t x, int32_t y, int32_t width,
                    uint32_t colour, int32_t style);
// The text laid out in lines inside the box, one B3D_TexText per line, lines
// stacked by the line height; a line that would reach below the box (height
// above 0) ends it. Answers the number of lines drawn.
int32_t B3D_TexTextBox(int32_t texture, const char* text, int32_t font, int32_t x, int32_t y, int32_t width,
                       int32_t height, uint32_t colour, int32_t style);
// Each line centred in the width; answers the number of lines, 0 when nothing
// was drawn.
int32_t B3D_TexTextBlockCentered(int32_t texture, const char* text, int32_t font, int32_t x, int32_t y, int32_t width,
                                 uint32_t colour, int32_t style);
