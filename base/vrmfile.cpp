#include "base/vrmfile.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "base/file.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/packed.h"
#include "base/strings.h"

const VRMTagRow g_VRMBodyTags[18] = {
    {"", "DATA", "/DAT", "", 0},
    {"", "BOB1", "/BOB", "", 1},
    {"Name", "NAME", "/NAM", "NAME:", 2},
    {"Version", "VERS", "/VER", "VER:", 3},
    {"Sound1", "SND1", "/SND", "SOUND:", 4},
    {"Flags", "FLAG", "/FLA", "FLAGS:", 5},
    {"Material1", "MAT1", "/MAT", "MATERIAL:", 6},
    {"Material2", "MAT2", "/MAT", "MATERIAL2:", 7},
    {"Material3", "MAT3", "/MAT", "MATERIAL3:", 8},
    {"Material5", "MAT5", "/MAT", "MATERIAL5:", 9},
    {"Material6", "MAT6", "/MAT", "MATERIAL6:", 10},
    {"Bodies", "BODY", "/BOD", "BODIES:", 11},
    {"Bones", "BONE", "/BON", "BONES:", 12},
    {"Points", "POIN", "/POI", "POINTS:", 13},
    {"Weights", "WEIG", "/WEI", "WEIGHTS:", 14},
    {"Parts", "PART", "/PAR", "PARTS:", 15},
    {"Info", "INFO", "/INF", "INFO:", 16},
    {"", "", "", "", 17},
};

const VRMTagRow g_VRMCutTags[12] = {
    {"", "DATA", "/DAT", "", 0},
    {"", "CUT1", "/CUT", "", 1},
    {"Name", "NAME", "/NAM", "NAME:", 2},
    {"Version", "VERS", "/VER", "VER:", 3},
    {"Path", "PATH", "/PAT", "PATH:", 4},
    {"States", "STAT", "/STA", "STATES:", 5},
    {"Notes", "NOTE", "/NOT", "NOTES:", 6},
    {"Position constraint", "CONS", "/CON", "POSCONSTRAINT:", 7},
    {"Embedded body", "BOB1", "/BOB", "BODY:", 8},
    {"Info", "INFO", "/INF", "INFO:", 9},
    {"", "", "", "", 10},
    {"", "", "", "", 11},
};

const VRMNameValue g_VRMSceneTypes[4] = {{"SCTYPE_LASER", 0}, {"SCTYPE_COCKPIT", 1}, {"SCTYPE_DOCKING", 2}, {"", 0}};

// The row that SkipToTag looks for: the embedded body of a cut file.
constexpr int SKIP_ROW = 8;

// ---------------------------------------------------------------------------
// Input bounds: with a loaded buffer every read stops at its end; a reader set
// up by Qel_ReaderInit relies on the NUL that ends its text.

static const uint8_t* EndOf(const VRMFile* r) { return (r->base && r->size) ? r->base + r->size : nullptr; }

static int Peek(const VRMFile* r) {
    const uint8_t* end = EndOf(r);
    if (!r->cursor || (end && r->cursor >= end)) return 0;
    return *r->cursor;
}

static bool Has(const VRMFile* r, size_t n) {
    if (!r->cursor) return false;
    const uint8_t* end = EndOf(r);
    return !end || (r->cursor <= end && size_t(end - r->cursor) >= n);
}

// Whether the n bytes of what stand at the cursor, never reading past the
// bytes left: with a known end the compare is bounded by it; without one (a
// text reader set up by Qel_ReaderInit) it stops at the first byte that
// differs, so the NUL that ends the text is never passed.
static bool At(const VRMFile* r, const char* what, size_t n) {
    if (!r->cursor) return false;
    const uint8_t* end = EndOf(r);
    if (end) return r->cursor <= end && size_t(end - r->cursor) >= n && memcmp(r->cursor, what, n) == 0;
    for (size_t i = 0; i < n; ++i) {
        if (r->cursor[i] != uint8_t(what[i])) return false;
    }
    return true;
}

static void SkipComment(VRMFile* r) {
    int c;
    while ((c = Peek(r)) != 0 && c != '\n') r->cursor++;
}

void Qel_ReaderSkip(VRMFile* r) {
    for (;;) {
        int c = Peek(r);
        if (c == ' ' || c == '\r' || c == '\n') {
            r->cursor++;
        } else if (c == '\t') {
            r->lineStart = 0;
            r->cursor++;
        } else if (c == '/') {
            SkipComment(r);
        } else {
            return;
        }
    }
}

// An empty field ('#' first): everything up to and including the next ';'.
static void SkipEmptyField(VRMFile* r) {
    int c;
    while ((c = Peek(r)) != 0) {
        r->cursor++;
        if (c == ';') break;
    }
}

// The next character of a field, blanks and comments passed; 0 at the end.
static int FieldChar(VRMFile* r) {
    Qel_ReaderSkip(r);
    return Peek(r);
}

static int DigitValue(int c, int base) {
    int d = (c >= '0' && c <= '9')   ? c - '0'
            : (c >= 'a' && c <= 'f') ? c - 'a' + 10
            : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                     : 99;
    return d < base ? d : -1;
}

// Text integer: optional '-', then decimal, "0x" hexadecimal or '%' binary
// (no sign with either), up to ';' or the end of the text.
static uint32_t ParseInteger(VRMFile* r) {
    if (FieldChar(r) == '#') {
        SkipEmptyField(r);
        return 0;
    }
    bool neg = false, prefix = false;
    int base = 10, digits = 0;
    uint32_t v = 0;
    for (;;) {
        int c = FieldChar(r);
        if (c == 0) break;
        r->cursor++;
        if (c == ';') break;
        if (c == '-') {
            if (neg || prefix || digits) goto bad;
            neg = true;
        } else if (c == '%') {
            if (neg || prefix || digits) goto bad;
            base = 2;
            prefix = true;
        } else if ((c == 'x' || c == 'X') && !neg && !prefix && digits == 1 && v == 0) {
            base = 16;
            prefix = true;
            digits = 0;
        } else {
            int d = DigitValue(c, base);
            if (d < 0) goto bad;
            v = v * uint32_t(base) + uint32_t(d);
            ++digits;
        }
    }
    if (!digits) goto bad;
    return neg ? 0u - v : v;
bad:
    r->error = 1;
    return 0;
}

// Text decimal fraction: optional '-', digits with at most one '.'.
struct Decimal {
    bool neg;
    uint64_t whole;
    uint64_t frac;       // the first 12 fraction digits
    uint64_t fracScale;  // 10 ^ number of those digits
};

static bool ParseDecimal(VRMFile* r, Decimal* d) {
    *d = Decimal{false, 0, 0, 1};
    if (FieldChar(r) == '#') {
        SkipEmptyField(r);
        return true;
    }
    bool dot = false;
    int digits = 0;
    for (;;) {
        int c = FieldChar(r);
        if (c == 0) break;
        r->cursor++;
        if (c == ';') break;
        if (c == '-') {
            if (d->neg || digits || dot) goto bad;
            d->neg = true;
        } else if (c == '.') {
            if (dot) goto bad;
            dot = true;
        } else if (c >= '0' && c <= '9') {
            ++digits;
            if (!dot) {
                d->whole = d->whole * 10 + uint64_t(c - '0');
                if (d->whole > 0xFFFFFFFFull) d->whole &= 0xFFFFFFFFull;
            } else if (d->fracScale < 1000000000000ull) {
                d->frac = d->frac * 10 + uint64_t(c - '0');
                d->fracScale *= 10;
            }
        } else {
            goto bad;
        }
    }
    if (!digits) goto bad;
    return true;
bad:
    r->error = 1;
    *d = Decimal{false, 0, 0, 1};
    return false;
}

// A token up to ';' or the end of the text; line ends, tabs and comments are
// passed, blanks only when asked. Null and the error flag at the end of the
// text.
static char* ReadToken(VRMFile* r, bool skipBlanks) {
    std::string token;
    token.reserve(200);
    bool ended = false;
    for (;;) {
        int c = Peek(r);
        if (c == 0) break;
        r->cursor++;
        if (c == ';') {
            ended = true;
            break;
        }
        if (c == '\r' || c == '\n') continue;
        if (c == '\t') {
            r->lineStart = 0;
            continue;
        }
        if (c == ' ' && skipBlanks) continue;
        if (c == '/') {
            SkipComment(r);
            continue;
        }
        token.push_back(char(c));
    }
    if (!ended && token.empty()) {
        r->error = 1;
        return nullptr;
    }
    return Qel_StrReassign(nullptr, token.c_str());
}

static bool ReadBytes(VRMFile* r, void* dst, size_t n) {
    if (!Has(r, n)) {
        r->error = 1;
        return false;
    }
    memcpy(dst, r->cursor, n);
    r->cursor += n;
    return true;
}

static uint32_t ReadBig(VRMFile* r, int bytes) {
    uint8_t b[4] = {};
    if (!ReadBytes(r, b, size_t(bytes))) return 0;
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | b[i];
    return v;
}

static const VRMNameValue* FindName(const VRMNameValue* names, const char* name) {
    for (; names && names->name && names->name[0]; ++names)
        if (strcmp(names->name, name) == 0) return names;
    return nullptr;
}

static bool StartsNumber(int c) { return (c >= '0' && c <= '9') || c == '%'; }

// Text flags: a number, or names joined by '|'; names not in the table add nothing.
static uint32_t ParseFlags(VRMFile* r, const VRMNameValue* names) {
    Qel_ReaderSkip(r);
    if (StartsNumber(Peek(r))) return ParseInteger(r);
    char* token = ReadToken(r, true);
    if (!token) return 0;
    uint32_t v = 0;
    const char* part = token;
    for (;;) {
        const char* bar = strchr(part, '|');
        std::string name(part, bar ? size_t(bar - part) : strlen(part));
        if (const VRMNameValue* n = FindName(names, name.c_str())) v |= uint32_t(n->value);
        if (!bar) break;
        part = bar + 1;
    }
    Qel_StrFree(token);
    return v;
}

// ---------------------------------------------------------------------------
// Opening and closing

void Qel_ReaderInit(VRMFile* r, const void* buffer, int binaryForm) {
    r->out = nullptr;
    r->fileName = nullptr;
    r->cursor = static_cast<uint8_t*>(const_cast<void*>(buffer));
    r->base = nullptr;
    r->size = 0;
    r->depth = 0;
    r->lineStart = 1;
    r->error = buffer ? 0 : 1;
    r->binary = binaryForm;
    r->tags = g_VRMBodyTags;
    r->rowCount = 18;
}

int VRMFile::Open(const char* name, int read, int packed, int binaryForm, const VRMTagRow* table, int rows) {
    out = nullptr;
    base = cursor = nullptr;
    size = 0;
    tags = table ? table : g_VRMBodyTags;
    rowCount = table ? rows : 18;
    binary = binaryForm;
    depth = 0;
    error = 0;
    fileName = nullptr;
    if (read) {
        fileName = Qel_StrReassign(nullptr, name);
        auto* data = static_cast<uint8_t*>(packed ? Qel_Unpack(name, 0) : Qel_LoadFile(name, 0));
        uint32_t n = g_QelLastFileSize;
        if (data) {
            // A NUL after the last byte ends the text.
            auto* grown = static_cast<uint8_t*>(Int_ReAllocMem(data, n, size_t(n) + 1, 0));
            if (grown) {
                grown[n] = 0;
                base = cursor = grown;
                size = n;
            } else {
                Int_FreeMem(data, n, 0);
            }
        }
        lineStart = 1;
        error = base ? 0 : 1;
        if (error) fileName = Qel_StrFree(fileName);
    } else {
        out = packed ? Qel_fcopen(name, "wb", 0) : Qel_fopen(name, "wb", 0);
        lineStart = 0;
        error = out ? 0 : 1;
    }
    return error ? 0 : 1;
}

void VRMFile::Close() {
    if (out) Qel_fclose(out);
    out = nullptr;
    if (base) Int_FreeMem(base, size_t(size) + 1, 0);
    base = cursor = nullptr;
    size = 0;
    fileName = Qel_StrFree(fileName);
}

char* Qel_ReaderPlace(const VRMFile* r) {
    std::string place;
    if (r->fileName) {
        char* where = Qel_DescribeFile(r->fileName, 0);
        place = where ? where : r->fileName;
        Qel_StrFree(where);
    }
    const uint8_t* end = EndOf(r);
    if (r->base && r->cursor && end && r->cursor >= r->base && r->cursor <= end) {
        if (!place.empty()) place += ", ";
        if (r->binary) {
            place += "byte " + std::to_string(r->cursor - r->base);
        } else {
            // The field that holds the byte read last.
            const uint8_t* at = r->cursor > r->base ? r->cursor - 1 : r->base;
            const uint8_t* start = at;
            while (start > r->base && start[-1] != ';' && start[-1] != '\n') --start;
            const uint8_t* stop = at;
            while (stop < end && *stop != ';' && *stop != '\n') ++stop;
            const uint8_t* lineBegin = start;
            while (lineBegin > r->base && lineBegin[-1] != '\n') --lineBegin;
            size_t line = 1, field = 1;
            for (const uint8_t* p = r->base; p < lineBegin; ++p) line += *p == '\n';
            for (const uint8_t* p = lineBegin; p < start; ++p) field += *p == ';';
            std::string text;
            for (const uint8_t* p = start; p < stop && text.size() < 40; ++p)
                if (*p != '\r') text.push_back(*p >= 32 && *p < 127 ? char(*p) : '?');
            place += "line " + std::to_string(line) + ", field " + std::to_string(field) + " \"" + text + "\"";
        }
        const uint8_t* rest = r->cursor;
        while (!r->binary && rest < end && (*rest == ' ' || *rest == '\t' || *rest == '\r' || *rest == '\n')) ++rest;
        if (rest >= end) place += ", where the file ends";
    }
    return Qel_StrReassign(nullptr, place.c_str());
}

VRMFile* Qel_StreamCreate(const char* name, int read, int packed, int binaryForm, const VRMTagRow* table, int rows) {
    auto* r = Int_AllocRecord<VRMFile>(0);
    if (r) r->Open(name, read, packed, binaryForm, table, rows);
    return r;
}

void Qel_CloseFileBuffer(VRMFile* r) {
    if (!r) return;
    r->Close();
    Int_FreeRecord(r, 0);
}

// ---------------------------------------------------------------------------
// Reading

int Qel_ReaderReadChar(VRMFile* r) {
    if (r->error) return 0;
    if (r->binary) return int(ReadBig(r, 1));
    if (r->lineStart) Qel_ReaderSkip(r);
    int c = Peek(r);
    if (c) r->cursor++;
    return c;
}

int32_t VRMFile::ReadEnum(const VRMNameValue* names) {
    if (error) return 0;
    if (binary) return int32_t(ReadBig(this, 4));
    Qel_ReaderSkip(this);
    if (StartsNumber(Peek(this))) return int32_t(ParseInteger(this));
    char* token = ReadToken(this, true);
    if (!token) return 0;
    const VRMNameValue* n = FindName(names, token);
    Qel_StrFree(token);
    if (!n) {
        error = 1;
        return 0;
    }
    return n->value;
}

int16_t VRMFile::ReadShort() {
    if (error) return 0;
    return int16_t(binary ? ReadBig(this, 2) : ParseInteger(this));
}

int32_t VRMFile::ReadInt() {
    if (error) return 0;
    return int32_t(binary ? ReadBig(this, 4) : ParseInteger(this));
}

uint32_t VRMFile::ReadUInt() {
    if (error) return 0;
    return binary ? ReadBig(this, 4) : ParseInteger(this);
}

uint16_t VRMFile::ReadFlags16(const VRMNameValue* names) {
    if (error) return 0;
    return uint16_t(binary ? ReadBig(this, 2) : ParseFlags(this, names));
}

uint32_t VRMFile::ReadFlags32(const VRMNameValue* names) {
    if (error) return 0;
    return binary ? ReadBig(this, 4) : ParseFlags(this, names);
}

uint8_t VRMFile::ReadFlags(const VRMNameValue* names) {
    if (error) return 0;
    return uint8_t(binary ? ReadBig(this, 1) : ParseFlags(this, names));
}

float VRMFile::ReadFloat() {
    if (error) return 0;
    if (binary) return float(int32_t(ReadBig(this, 4)) / 65536.0);
    Decimal d;
    if (!ParseDecimal(this, &d)) return 0;
    double v = double(d.whole) + double(d.frac) / double(d.fracScale);
    return float(d.neg ? -v : v);
}

// A 16.16 value, rounded to the nearest step so that a value written with
// "%f" reads back exactly.
int32_t VRMFile::ReadFixed() {
    if (error) return 0;
    if (binary) return int32_t(ReadBig(this, 4));
    Decimal d;
    if (!ParseDecimal(this, &d)) return 0;
    uint64_t v = (d.whole << 16) + (d.frac * 65536 + d.fracScale / 2) / d.fracScale;
    uint32_t bits = uint32_t(v);
    return int32_t(d.neg ? 0u - bits : bits);
}

char* VRMFile::ReadString() {
    if (error) return nullptr;
    if (!binary) return ReadToken(this, false);
    const uint8_t* end = EndOf(this);
    size_t len;
    if (!cursor) {
        error = 1;
        return nullptr;
    }
    if (end) {
        const void* nul = cursor < end ? memchr(cursor, 0, size_t(end - cursor)) : nullptr;
        if (!nul) {
            error = 1;
            return nullptr;
        }
        len = size_t(static_cast<const uint8_t*>(nul) - cursor);
    } else {
        len = strlen(reinterpret_cast<const char*>(cursor));
    }
    char* s = static_cast<char*>(Int_AllocMem(len + 1, 0));
    if (!s) {
        error = 1;
        return nullptr;
    }
    memcpy(s, cursor, len);
    s[len] = 0;
    cursor += len + 1;
    return s;
}

int VRMFile::Validate() {
    if (base && size && (cursor < base || cursor >= base + size)) {
        Qel_BannerPrintf("VRMFile::Validate: Invalid pointer!\n");
        return 0;
    }
    return 1;
}

// A tag as its four bytes, NUL-padded when shorter.
static void TagBytes(const char* tag, char out[4]) {
    for (int i = 0; i < 4; ++i) out[i] = (tag && tag[0]) ? *tag++ : 0;
}

static bool SameTag(const VRMFile* r, const char* tag) {
    if (!tag || !tag[0]) return false;
    char t[4];
    TagBytes(tag, t);
    return At(r, t, 4);
}

// Text: the row whose keyword stands at the cursor (0 when none: the section
// ends). Binary: the row of the start tag, or of the end tag of the expected
// row (by index or id), at the cursor.
int VRMFile::ReadTag(int expectedRow) {
    if (!error && (!Validate() || expectedRow < 0 || expectedRow > rowCount)) error = 1;
    if (error) return rowCount - 1;
    if (!binary) {
        Qel_ReaderSkip(this);
        for (int row = 2; row <= rowCount - 2; ++row) {
            const char* kw = tags[row].keyword;
            size_t n = kw ? strlen(kw) : 0;
            if (!n || !At(this, kw, n)) continue;
            cursor += n;
            depth++;
            return row;
        }
        depth--;
        return 0;
    }
    if (!Has(this, 4)) {
        error = 1;
        return rowCount - 1;
    }
    for (int row = 0; row <= rowCount - 2; ++row) {
        if (SameTag(this, tags[row].tag)) {
            cursor += 4;
            depth++;
            return row;
        }
        if (SameTag(this, tags[row].endTag) && (row == expectedRow || tags[row].id == expectedRow)) {
            cursor += 4;
            depth--;
            return row;
        }
    }
    error = 1;
    return rowCount - 1;
}

int VRMFile::SkipToTag() {
    if (error) return 0;
    if (rowCount <= SKIP_ROW) {
        error = 1;
        return 0;
    }
    const VRMTagRow& row = tags[SKIP_ROW];
    if (binary) {
        for (;;) {
            if (!Has(this, 4)) {
                error = 1;
                return 0;
            }
            if (SameTag(this, row.endTag)) {
                cursor += 4;
                return 1;
            }
            cursor++;
        }
    }
    const char* kw = row.keyword;
    size_t n = kw ? strlen(kw) : 0;
    for (;;) {
        Qel_ReaderSkip(this);
        if (!Peek(this) || !n) {
            error = 1;
            return 0;
        }
        if (At(this, kw, n)) {
            cursor += n;
            return 1;
        }
        cursor++;
    }
}

// ---------------------------------------------------------------------------
// Writing: nothing happens without an output file.

static void Emit(VRMFile* r, const void* data, size_t n) {
    if (!r->out || n == 0) return;
    if (Qel_fwriteBlock(r->out, 1, n, data) != n) r->error = 1;
}

static void EmitBig(VRMFile* r, uint32_t v, int bytes) {
    if (!r->out) return;
    uint8_t b[4];
    for (int i = 0; i < bytes; ++i) b[i] = uint8_t(v >> (8 * (bytes - 1 - i)));
    Emit(r, b, size_t(bytes));
}

static void EmitText(VRMFile* r, const char* text, const char* suffix) {
    if (!r->out) return;
    std::string s(text);
    if (suffix) s += suffix;
    Emit(r, s.data(), s.size());
}

void VRMFile::WriteText(const char* text) {
    if (text) Emit(this, text, strlen(text));
}

void VRMFile::WriteShort(int16_t value, const char* suffix) {
    if (!out) return;
    if (binary) return EmitBig(this, uint16_t(value), 2);
    char buf[16];
    snprintf(buf, sizeof buf, "%d", int(value));
    EmitText(this, buf, suffix);
}

void VRMFile::WriteInt(int32_t value, const char* suffix) {
    if (!out) return;
    if (binary) return EmitBig(this, uint32_t(value), 4);
    char buf[16];
    snprintf(buf, sizeof buf, "%d", int(value));
    EmitText(this, buf, suffix);
}

void VRMFile::WriteUInt(uint32_t value, const char* suffix) {
    if (!out) return;
    if (binary) return EmitBig(this, value, 4);
    char buf[16];
    snprintf(buf, sizeof buf, "%u", unsigned(value));
    EmitText(this, buf, suffix);
}

void VRMFile::WriteHex(uint32_t value, int digits, const char* suffix) {
    if (!out) return;
    if (binary) return EmitBig(this, value, digits <= 4 ? 2 : 4);
    char buf[24];
    snprintf(buf, sizeof buf, "0x%0*x", digits < 1 ? 1 : digits > 8 ? 8 : digits, unsigned(value));
    EmitText(this, buf, suffix);
}

void VRMFile::WriteFlags(uint32_t value, const VRMNameValue* names, const char* suffix) {
    if (!out) return;
    if (binary) return EmitBig(this, value, 4);
    std::string text;
    uint32_t covered = 0;
    for (const VRMNameValue* n = names; n && n->name && n->name[0]; ++n) {
        uint32_t v = uint32_t(n->value);
        if (v == 0 || (value & v) != v) continue;
        if (!text.empty()) text += '|';
        text += n->name;
        covered |= v;
    }
    if (covered != value || text.empty()) {
        char buf[16];
        snprintf(buf, sizeof buf, "0x%08x", unsigned(value));
        text = buf;
    }
    EmitText(this, text.c_str(), suffix);
}

void VRMFile::WriteFixed(int32_t value, const char* suffix) {
    if (!out) return;
    if (binary) return EmitBig(this, uint32_t(value), 4);
    char buf[32];
    snprintf(buf, sizeof buf, "%f", value / 65536.0);
    EmitText(this, buf, suffix);
}

void VRMFile::WriteSceneType(int32_t value, const char* suffix) {
    if (!out) return;
    if (binary) return EmitBig(this, uint32_t(value), 4);
    for (const VRMNameValue* n = g_VRMSceneTypes; n->name[0]; ++n)
        if (n->value == value) return EmitText(this, n->name, suffix);
    char buf[16];
    snprintf(buf, sizeof buf, "%d", int(value));
    EmitText(this, buf, suffix);
}

void VRMFile::WriteTag(int row, int start) {
    if (!out) return;
    if (row < 0 || row >= rowCount - 1) {
        error = 1;
        return;
    }
    int before = error;
    error = 0;
    if (binary) {
        char t[4];
        TagBytes(start ? tags[row].tag : tags[row].endTag, t);
        Emit(this, t, 4);
    } else if (!start) {
        Emit(this, "\r\n", 2);
    } else if (row != 1 && tags[row].keyword) {
        WriteText(tags[row].keyword);
    }
    if (!error) depth += start ? 1 : -1;
    error |= before;
}

void VRMFile::WriteString(const char* text, const char* suffix) {
    if (!out) return;
    if (!text) text = "";
    if (binary) return Emit(this, text, strlen(text) + 1);
    EmitText(this, text, suffix);
}

// ---------------------------------------------------------------------------
// The methods as plain functions.

int Qel_ReaderOpen(VRMFile* r, const char* name, int read, int packed, int binaryForm, const VRMTagRow* table,
                   int rows) {
    return r->Open(name, read, packed, binaryForm, table, rows);
}
void Qel_ReaderClose(VRMFile* r) { r->Close(); }
int32_t Qel_ReaderReadEnum(VRMFile* r, const VRMNameValue* names) { return r->ReadEnum(names); }
int16_t Qel_ReaderReadShort(VRMFile* r) { return r->ReadShort(); }
int32_t Qel_ReaderReadInt(VRMFile* r) { return r->ReadInt(); }
uint32_t Qel_ReaderReadUInt(VRMFile* r) { return r->ReadUInt(); }
uint16_t Qel_ReaderReadFlags16(VRMFile* r, const VRMNameValue* names) { return r->ReadFlags16(names); }
uint32_t Qel_ReaderReadFlags32(VRMFile* r, const VRMNameValue* names) { return r->ReadFlags32(names); }
uint8_t Qel_ReaderReadFlags(VRMFile* r, const VRMNameValue* names) { return r->ReadFlags(names); }
float Qel_ReaderReadFloat(VRMFile* r) { return r->ReadFloat(); }
int32_t Qel_ReaderReadFixed(VRMFile* r) { return r->ReadFixed(); }
char* Qel_StreamReadString(VRMFile* r) { return r->ReadString(); }
int Qel_ReaderReadTag(VRMFile* r, int expectedRow) { return r->ReadTag(expectedRow); }
int Qel_ReaderSkipToTag(VRMFile* r) { return r->SkipToTag(); }
int Qel_ReaderValidate(VRMFile* r) { return r->Validate(); }
void Qel_ReaderWriteShort(VRMFile* r, int16_t value, const char* suffix) { r->WriteShort(value, suffix); }
void Qel_ReaderWriteInt(VRMFile* r, int32_t value, const char* suffix) { r->WriteInt(value, suffix); }
void Qel_ReaderWriteUInt(VRMFile* r, uint32_t value, const char* suffix) { r->WriteUInt(value, suffix); }
void Qel_ReaderWriteHex(VRMFile* r, uint32_t value, int digits, const char* suffix) {
    r->WriteHex(value, digits, suffix);
}
void Qel_ReaderWriteFlags(VRMFile* r, uint32_t value, const VRMNameValue* names, const char* suffix) {
    r->WriteFlags(value, names, suffix);
}
void Qel_ReaderWriteFixed(VRMFile* r, int32_t value, const char* suffix) { r->WriteFixed(value, suffix); }
void Qel_ReaderWriteSceneType(VRMFile* r, int32_t value, const char* suffix) { r->WriteSceneType(value, suffix); }
void Qel_StreamOpenFile(VRMFile* r, int row, int start) { r->WriteTag(row, start); }
void Qel_StreamWriteText(VRMFile* r, const char* text, const char* suffix) { r->WriteString(text, suffix); }
void Qel_ReaderWriteText(VRMFile* r, const char* text) { r->WriteText(text); }
