// demoicons: draws the demo's interface graphics as DDS files with alpha into
// the folder the texture loader looks in first ("dds"):
// - "gui_master": the icon sheet of the icon table's list 0 (IconData in
//   data/types/media.types gives every icon's place): object symbols of the
//   radar, overlay and menus, station markers, radar stems and bases, weapon
//   icons, the overlay's brackets and shield bars, menu buttons, the cursor;
// - "gui_background": the panel and tooltip backgrounds;
// - "gui_bars": bars for the stories' menus;
// - the status panel's numbered menu graphics "46" (icons, digits),
//   "47" (bars), "219" (modes and time warp) and "921" (the laser column).
// Usage: demoicons FOLDER, or demoicons --icondata to print the icon table's
// rows of "gui_master" in the form of the types source.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/lib/lookup_textures.h"

namespace {

constexpr uint32_t kPlain = 0xFF80C8FF, kHostile = 0xFFFF4848, kOwn = 0xFF50FF70, kGrey = 0xFFB0B0B8;
constexpr uint32_t kPanel = 0xC0102030, kEdge = 0xFF5A7A9A, kDark = 0xFF0C141C;

struct Canvas {
    int w, h;
    std::vector<uint32_t> px;
    Canvas(int width, int height) : w(width), h(height), px(static_cast<size_t>(width) * height, 0) {}
    void Set(int x, int y, uint32_t c) {
        if (x >= 0 && y >= 0 && x < w && y < h) px[static_cast<size_t>(y) * w + x] = c;
    }
    void Fill(int x, int y, int rw, int rh, uint32_t c) {
        for (int j = y; j < y + rh; ++j)
            for (int i = x; i < x + rw; ++i) Set(i, j, c);
    }
    void Frame(int x, int y, int rw, int rh, uint32_t c) {
        Fill(x, y, rw, 1, c);
        Fill(x, y + rh - 1, rw, 1, c);
        Fill(x, y, 1, rh, c);
        Fill(x + rw - 1, y, 1, rh, c);
    }
    // A disc (ring when inner > 0) around the centre, radii in pixels.
    void Disc(double cx, double cy, double r, double inner, uint32_t c) {
        for (int j = static_cast<int>(cy - r - 1); j <= static_cast<int>(cy + r + 1); ++j)
            for (int i = static_cast<int>(cx - r - 1); i <= static_cast<int>(cx + r + 1); ++i) {
                const double d = std::hypot(i + 0.5 - cx, j + 0.5 - cy);
                if (d <= r && d >= inner) Set(i, j, c);
            }
    }
    // A filled triangle pointing up inside the box.
    void Triangle(int x, int y, int size, uint32_t c) {
        for (int j = 0; j < size; ++j) {
            const int half = std::max(1, (j + 1) / 2);
            Fill(x + size / 2 - half, y + j, 2 * half, 1, c);
        }
    }
    void Line(int x0, int y0, int x1, int y1, uint32_t c) {
        const int n = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
        for (int k = 0; k <= n; ++k) Set(x0 + (n ? (x1 - x0) * k / n : 0), y0 + (n ? (y1 - y0) * k / n : 0), c);
    }
};

// ---------------------------------------------------------------- digits

// 5 x 7 digits, one string of rows each.
const char* const kDigits[10][7] = {
    {"01110", "10001", "10011", "10101", "11001", "10001", "01110"},
    {"00100", "01100", "00100", "00100", "00100", "00100", "01110"},
    {"01110", "10001", "00001", "00010", "00100", "01000", "11111"},
    {"11110", "00001", "00001", "01110", "00001", "00001", "11110"},
    {"00010", "00110", "01010", "10010", "11111", "00010", "00010"},
    {"11111", "10000", "11110", "00001", "00001", "10001", "01110"},
    {"00110", "01000", "10000", "11110", "10001", "10001", "01110"},
    {"11111", "00001", "00010", "00100", "01000", "01000", "01000"},
    {"01110", "10001", "10001", "01110", "10001", "10001", "01110"},
    {"01110", "10001", "10001", "01111", "00001", "00010", "01100"},
};

void Digit(Canvas& c, int d, int x, int y, uint32_t colour) {
    for (int row = 0; row < 7; ++row)
        for (int col = 0; col < 5; ++col)
            if (kDigits[d][row][col] == '1') c.Set(x + col, y + row, colour);
}

// ---------------------------------------------------------------- gui_master

struct Icon {
    int id, x, y, w, h;
};
std::vector<Icon> g_icons;

// The colour of a symbol by its place in its group of three: the cockpit picks
// the first for a selected (hostile) object, the second for a marked (own) one,
// the third for the plain look.
uint32_t VariantColour(int id) {
    if (id >= 133 && id <= 180) return (id - 133) % 3 == 0 ? kHostile : (id - 133) % 3 == 1 ? kOwn : kPlain;
    if (id >= 494 && id <= 496) return id == 494 ? kHostile : id == 495 ? kOwn : kPlain;
    return kPlain;
}

void Symbol(Canvas& c, int id, int x, int y) {
    const uint32_t col = VariantColour(id);
    const bool station = (id >= 160 && id <= 162) || id == 196 || id == 198;
    const bool missile = id >= 169 && id <= 171;
    const bool gate = id == 184 || id == 187 || id == 190 || id == 193;
    if (station) {
        c.Frame(x + 3, y + 3, 10, 10, col);
        c.Frame(x + 4, y + 4, 8, 8, col);
        c.Fill(x + 7, y + 7, 2, 2, col);
    } else if (missile) {
        for (int k = 0; k < 4; ++k)
            c.Fill(x + 8 - k, y + 4 + k, 2 * k + 1, 1, col), c.Fill(x + 8 - k, y + 11 - k, 2 * k + 1, 1, col);
    } else if (gate) {
        c.Disc(x + 8, y + 8, 6.5, 4.0, kGrey);
    } else if (id == 191) {
        c.Disc(x + 8, y + 8, 5.0, 0.0, 0xFF9A8468);
        c.Disc(x + 6, y + 6, 1.5, 0.0, 0xFF6A5848);
    } else if (id == 185) {
        c.Frame(x + 5, y + 5, 6, 6, kGrey);
    } else if (id == 186) {
        c.Disc(x + 8, y + 8, 4.0, 2.5, kGrey);
    } else if (id >= 133 && id <= 180) {
        // Ships: bigger classes draw bigger arrows.
        const int size = id <= 141 ? 14 : id <= 150 ? 12 : 10;
        c.Triangle(x + (16 - size) / 2, y + (16 - size) / 2, size, col);
    } else if (id >= 494) {
        c.Triangle(x + 1, y + 1, 14, col);
        c.Fill(x + 6, y + 12, 4, 2, 0);
    } else {
        c.Fill(x + 7, y + 3, 2, 10, kGrey);
        c.Fill(x + 3, y + 7, 10, 2, kGrey);
    }
}

Canvas GuiMaster() {
    Canvas c(256, 256);
    std::vector<int> symbols;
    for (int id = 133; id <= 180; ++id) symbols.push_back(id);
    for (int id = 184; id <= 196; ++id) symbols.push_back(id);
    for (int id : {198, 494, 495, 496}) symbols.push_back(id);
    for (size_t i = 0; i < symbols.size(); ++i) {
        const int x = static_cast<int>(i % 16) * 16, y = static_cast<int>(i / 16) * 16;
        Symbol(c, symbols[i], x, y);
        g_icons.push_back({symbols[i], x, y, 16, 16});
    }
    // Station markers around a station's symbol: blue, red, green.
    const uint32_t marks[3] = {kPlain, kHostile, kOwn};
    for (int k = 0; k < 3; ++k) {
        c.Frame(k * 16, 80, 16, 16, marks[k]);
        g_icons.push_back({451 + k, k * 16, 80, 16, 16});
    }
    // Radar stems (tiled down to the plane) and their bases.
    for (int k = 0; k < 3; ++k) {
        c.Fill(49 + k * 8, 80, 2, 8, marks[k]);
        g_icons.push_back({461 + 3 * k, 48 + k * 8, 80, 4, 8});
        c.Fill(72 + k * 8, 83, 8, 2, marks[k]);
        c.Fill(75 + k * 8, 80, 2, 8, marks[k]);
        g_icons.push_back({469 + k, 72 + k * 8, 80, 8, 8});
    }
    // The mouse cursor and a close button, plain and pressed.
    for (int j = 0; j < 12; ++j) c.Fill(96, 80 + j, std::max(1, j * 2 / 3), 1, 0xFFFFFFFF);
    c.Line(96, 80, 103, 87, 0xFF202020);
    g_icons.push_back({1100, 96, 80, 16, 16});
    for (int k = 0; k < 2; ++k) {
        const int x = 112 + 16 * k;
        c.Fill(x, 80, 16, 16, k ? 0xFF803030 : 0xFF304050);
        c.Frame(x, 80, 16, 16, kEdge);
        c.Line(x + 4, 84, x + 11, 91, 0xFFFFFFFF);
        c.Line(x + 11, 84, x + 4, 91, 0xFFFFFFFF);
        g_icons.push_back({1101 + k, x, 80, 16, 16});
    }
    // Weapon icons, plain and lit: the pulse laser, no weapon, the dart missile.
    const int weapons[6] = {1, 2, 43, 44, 45, 46};
    for (int k = 0; k < 6; ++k) {
        const int x = 32 * k, y = 96;
        const bool lit = k % 2 == 1;
        c.Fill(x + 1, y + 1, 30, 30, lit ? 0xC0304860 : 0xC0182430);
        c.Frame(x, y, 32, 32, lit ? 0xFFFFFFFF : kEdge);
        const uint32_t ink = lit ? 0xFFFFE080 : 0xFFC0A050;
        if (k < 2) {
            c.Fill(x + 6, y + 14, 16, 4, ink);
            c.Fill(x + 22, y + 15, 6, 2, 0xFFFF8040);
        } else if (k < 4) {
            c.Line(x + 8, y + 8, x + 23, y + 23, kGrey);
        } else {
            c.Fill(x + 8, y + 14, 14, 4, ink);
            c.Fill(x + 22, y + 15, 3, 2, ink);
            c.Fill(x + 6, y + 12, 3, 8, ink);
        }
        g_icons.push_back({weapons[k], x, y, 32, 32});
    }
    // The overlay's brackets: neutral, hostile, friendly; corners only.
    const uint32_t brackets[3] = {kPlain, kHostile, kOwn};
    for (int k = 0; k < 3; ++k) {
        const int x = 32 * k, y = 128;
        for (int s = 0; s < 2; ++s) {
            c.Fill(x, y + s * 30, 8, 2, brackets[k]);
            c.Fill(x + 24, y + s * 30, 8, 2, brackets[k]);
            c.Fill(x + s * 30, y, 2, 8, brackets[k]);
            c.Fill(x + s * 30, y + 24, 2, 8, brackets[k]);
        }
        g_icons.push_back({280 + k, x, y, 32, 32});
    }
    // Shield bars of 0 to 10 tenths.
    for (int k = 0; k <= 10; ++k) {
        const int y = 160 + 4 * k;
        c.Fill(0, y, 32, 4, 0xA0101820);
        c.Fill(1, y + 1, 3 * k, 2, 0xFF40C0FF);
        g_icons.push_back({290 + k, 0, y, 32, 4});
    }
    // Menu buttons (64 x 16): plain, with more, dark, their lit forms, arrows, fill bar, back.
    const int buttons[13] = {1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010, 1011, 1012};
    for (int k = 0; k < 13; ++k) {
        const int x = 64 + (k % 3) * 64, y = 160 + (k / 3) * 16;
        const int id = buttons[k];
        const bool lit = id >= 1007 && id != 1011;
        const bool dark = id == 1002 || id == 1003 || id == 1008 || id == 1010;
        c.Fill(x, y, 64, 16, dark ? 0xD0081018 : lit ? 0xE0305070 : 0xD0183040);
        c.Frame(x, y, 64, 16, lit || id == 1012 ? 0xFFFFFFFF : kEdge);
        if (id == 1001 || id == 1003 || id == 1009 || id == 1010 || id == 1005)
            for (int j = 0; j < 4; ++j) c.Fill(x + 54 + j, y + 4 + j, 1, 8 - 2 * j, 0xFFFFFFFF);
        if (id == 1004 || id == 1011 || id == 1012)
            for (int j = 0; j < 4; ++j) c.Fill(x + 9 - j, y + 4 + j, 1, 8 - 2 * j, 0xFFFFFFFF);
        if (id == 1006) c.Fill(x + 2, y + 5, 60, 6, 0xFF40C0FF);
        g_icons.push_back({id, x, y, 64, 16});
    }
    return c;
}

// ---------------------------------------------------------------- backgrounds and bars

Canvas GuiBackground() {
    Canvas c(512, 64);
    c.Fill(0, 0, 512, 64, kPanel);
    c.Frame(0, 0, 480, 64, kEdge);
    // The tooltip's strip: left edge, middle, right edge (rows 7 to 29).
    c.Fill(488, 7, 18, 23, 0xE0182838);
    c.Fill(488, 7, 3, 23, kEdge);
    c.Fill(503, 7, 3, 23, kEdge);
    c.Fill(491, 7, 12, 1, kEdge);
    c.Fill(491, 29, 12, 1, kEdge);
    return c;
}

Canvas GuiBars() {
    Canvas c(256, 64);
    const uint32_t colours[4] = {0xFF40C0FF, 0xFFFF6040, 0xFF50E070, 0xFFE0C040};
    for (int k = 0; k < 4; ++k) {
        c.Fill(0, 16 * k, 256, 16, kDark);
        for (int x = 1; x < 255; ++x) {
            const uint32_t a = static_cast<uint32_t>(128 + x / 2) << 24;
            c.Fill(x, 16 * k + 3, 1, 10, (colours[k] & 0xFFFFFF) | a);
        }
    }
    return c;
}

// The status panel's icons: missiles, digits, laser icons, status marker, shield icon.
Canvas Panel46() {
    Canvas c(128, 128);
    for (int col = 0; col < 4; ++col)
        for (int ready = 0; ready < 2; ++ready) {
            const int x = col * 22, y = ready * 22;
            const uint32_t ink = ready ? 0xFFFFD060 : 0xFF705830;
            c.Fill(x + 1, y + 1, 20, 20, 0xC0101820);
            c.Fill(x + 4, y + 9, 12 + col, 4, ink);
            c.Fill(x + 16 + col, y + 10, 2, 2, ink);
            c.Fill(x + 3, y + 7, 2, 8, ink);
        }
    for (int row = 0; row < 2; ++row)
        for (int d = 0; d < 10; ++d) Digit(c, d, d * 11 + 3, 44 + row * 10 + 1, 0xFFFFFFFF);
    for (int k = 1; k <= 3; ++k)
        for (int row = 0; row < 2; ++row) {
            const int x = k * 20, y = 64 + row * 16;
            c.Fill(x + 2, y + 6, 12, 3 + k / 2, 0xFFFFE080);
            c.Fill(x + 14, y + 7, 4, 1 + k / 2, 0xFFFF8040);
        }
    // The status marker: lit (alarm) and plain.
    c.Fill(80, 64, 12, 32, 0xFFFF3030);
    c.Fill(92, 64, 12, 32, 0xFF204060);
    c.Frame(80, 64, 12, 32, kEdge);
    c.Frame(92, 64, 12, 32, kEdge);
    // The shield icon: blinking off, and on.
    c.Fill(104, 64, 10, 32, 0xFF102030);
    c.Fill(115, 66, 8, 28, 0xFF40C0FF);
    // No missile.
    c.Frame(106, 106, 22, 22, kEdge);
    c.Line(108, 108, 125, 125, kEdge);
    return c;
}

Canvas Panel47() {
    Canvas c(128, 64);
    c.Fill(0, 0, 128, 16, kDark);
    for (int x = 0; x < 128; x += 16) c.Fill(x, 12, 1, 4, kEdge);
    for (int x = 0; x < 128; ++x) c.Fill(x, 20, 1, 12, 0xFF2060A0 + static_cast<uint32_t>(x / 2) * 0x10100);
    c.Fill(0, 32, 64, 16, kDark);
    c.Frame(0, 32, 64, 16, kEdge);
    c.Fill(64, 32, 64, 16, kDark);
    c.Frame(64, 32, 64, 16, kEdge);
    for (int x = 0; x < 64; ++x) c.Fill(x, 52, 1, 12, 0xFFC04020 + static_cast<uint32_t>(x) * 0x200);
    for (int x = 64; x < 128; ++x) c.Fill(x, 52, 1, 12, 0xFF2080C0 + static_cast<uint32_t>(x - 64) * 0x100);
    return c;
}

// Mode icons (row 192, x 0 to 95) and the time warp factors (rows 192 and 224).
Canvas Panel219() {
    Canvas c(256, 256);
    const uint32_t modes[3] = {0xFF80C8FF, 0xFFFFD060, 0xFF50FF70};
    for (int k = 0; k < 3; ++k) {
        c.Fill(k * 32 + 1, 193, 30, 30, 0xC0101820);
        c.Disc(k * 32 + 16, 208, 9, 6, modes[k]);
    }
    const int warpX[11] = {160, 192, 224, 0, 32, 64, 96, 128, 160, 192, 224};
    for (int f = 0; f <= 10; ++f) {
        const int x = warpX[f], y = f <= 2 ? 192 : 224;
        c.Fill(x + 1, y + 1, 30, 30, 0xC0101820);
        c.Frame(x, y, 32, 32, kEdge);
        if (f >= 10) {
            Digit(c, 1, x + 8, y + 12, 0xFFFFFFFF);
            Digit(c, 0, x + 16, y + 12, 0xFFFFFFFF);
        } else {
            Digit(c, f, x + 13, y + 12, 0xFFFFFFFF);
        }
    }
    return c;
}

// The laser column's caps and middle (x 239 to 252, rows 113 to 160).
Canvas Panel921() {
    Canvas c(256, 256);
    for (int y = 113; y < 161; ++y)
        for (int x = 239; x < 253; ++x) {
            const int edge = std::min(x - 239, 252 - x);
            c.Set(x, y,
                  0xFF000000 | static_cast<uint32_t>(std::min(255, 160 + edge * 14)) << 16 |
                      static_cast<uint32_t>(60 + edge * 12) << 8 | 0x20);
        }
    c.Fill(239, 113, 14, 1, 0xFFFFE0A0);
    c.Fill(239, 152, 14, 1, 0xFF803010);
    return c;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: demoicons FOLDER | --icondata\n");
        return 2;
    }
    const std::string folder = argv[1];
    if (folder == "--icondata") {
        const Canvas master = GuiMaster();
        std::printf("ICONTYPE_GUI effects\\menugfx\\gui_master %d %d\n", master.w, master.h);
        for (const Icon& i : g_icons) std::printf("  %d NULL %d %d %d %d\n", i.id, i.x, i.y, i.w, i.h);
        return 0;
    }
    struct Sheet {
        const char* name;
        Canvas canvas;
    };
    const Sheet sheets[] = {{"gui_master", GuiMaster()}, {"gui_background", GuiBackground()},
                            {"gui_bars", GuiBars()},     {"46", Panel46()},
                            {"47", Panel47()},           {"219", Panel219()},
                            {"921", Panel921()}};
    for (const Sheet& s : sheets) {
        std::string error;
        if (!Lookup_WriteFile(folder + "/" + s.name + ".dds",
                              Lookup_DdsAlphaPicture(s.canvas.w, s.canvas.h, s.canvas.px), &error)) {
            std::fprintf(stderr, "demoicons: %s\n", error.c_str());
            return 1;
        }
    }
    return 0;
}
