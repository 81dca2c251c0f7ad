#include "script/format.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "script/memory.h"

// One output sink for both passes: the measuring pass only counts, so the two
// passes cannot disagree about a single byte.
namespace {
struct Sink {
    char* out;
    size_t n = 0;
    void Put(char c) {
        if (out) out[n] = c;
        ++n;
    }
    void Put(const char* s, size_t len) {
        if (out) std::memcpy(out + n, s, len);
        n += len;
    }
    void Fill(char c, int64_t count) {
        if (count <= 0) return;
        if (out) std::memset(out + n, c, static_cast<size_t>(count));
        n += static_cast<size_t>(count);
    }
};
}  // namespace

static constexpr int kMaxNumberField = 20;

size_t SV_FormatNumber(int32_t value, char* out, size_t pos, int base, int width, int precision, uint32_t flags,
                       bool write) {
    if (width > kMaxNumberField) width = kMaxNumberField;
    if (precision > kMaxNumberField) precision = kMaxNumberField;
    if (flags & SV_FMT_LEFT) flags &= ~SV_FMT_ZERO;
    if (base < 2 || base > 36) return pos;
    Sink sink{write ? out : nullptr, pos};
    const char fill = (flags & SV_FMT_ZERO) ? '0' : ' ';
    const char* digitSet =
        (flags & SV_FMT_UPPER) ? "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ" : "0123456789abcdefghijklmnopqrstuvwxyz";
    uint32_t magnitude = static_cast<uint32_t>(value);
    char sign = 0;
    if (flags & SV_FMT_SIGNED) {
        if (value < 0) {
            sign = '-';
            magnitude = 0u - magnitude;
        } else if (flags & SV_FMT_PLUS) {
            sign = '+';
        } else if (flags & SV_FMT_BLANK) {
            sign = ' ';
        }
        if (sign) --width;
    }
    if (flags & SV_FMT_ALT) {
        if (base == 16) width -= 2;
        else if (base == 8) width -= 1;
    }
    char digits[40];
    int count = 0;
    if (magnitude == 0) digits[count++] = '0';
    while (magnitude) {
        digits[count++] = digitSet[magnitude % static_cast<uint32_t>(base)];
        magnitude /= static_cast<uint32_t>(base);
    }
    if (precision < count) precision = count;
    width -= precision;
    if (!(flags & (SV_FMT_ZERO | SV_FMT_LEFT))) {
        sink.Fill(' ', width);
        width = 0;
    }
    if (sign) sink.Put(sign);
    if (flags & SV_FMT_ALT) {
        if (base == 16) sink.Put("0x", 2);
        else if (base == 8) sink.Put('0');
    }
    if (!(flags & SV_FMT_LEFT)) {
        sink.Fill(fill, width);
        width = 0;
    }
    sink.Fill('0', precision - count);
    while (count > 0) sink.Put(digits[--count]);
    sink.Fill(' ', width);
    return sink.n;
}

// Decimal digits of a field; saturates instead of overflowing.
static int ReadDecimal(const char*& p) {
    int v = 0;
    while (*p >= '0' && *p <= '9') {
        int d = *p++ - '0';
        v = v > (INT_MAX - d) / 10 ? INT_MAX : v * 10 + d;
    }
    return v;
}

static bool HasArg(int32_t i, int32_t argc) { return i >= 0 && (argc < 0 || i < argc); }

// INTEGER payload of argument i, 0 when missing or of another tag.
static int32_t IntArg(const ScriptValue* args, int32_t i, int32_t argc) {
    if (!args || !HasArg(i, argc) || args[i].tag != VARTYPE_INTEGER) return 0;
    return args[i].i;
}

// A text into a field: at most `precision` bytes when that is above 0, blank
// filled to the width.
static void PutField(Sink& sink, const char* text, int width, int precision, uint32_t flags) {
    size_t len = std::strlen(text);
    if (precision > 0 && len > static_cast<size_t>(precision)) len = static_cast<size_t>(precision);
    int64_t pad = static_cast<int64_t>(width) - static_cast<int64_t>(len);
    if (!(flags & SV_FMT_LEFT)) sink.Fill(' ', pad);
    sink.Put(text, len);
    if (flags & SV_FMT_LEFT) sink.Fill(' ', pad);
}

size_t SV_FormatValue(char* out, const char* format, const ScriptValue* args, int32_t argc) {
    Sink sink{out};
    if (!format) {
        if (out) out[0] = '\0';
        return 0;
    }
    int32_t next = 0;  // the running argument index
    for (const char* p = format; *p;) {
        if (*p != '%') {
            sink.Put(*p++);
            continue;
        }
        ++p;
        int32_t valueIndex = -1;
        if (*p == '!' && p[1] >= '0' && p[1] <= '9') {
            valueIndex = p[1] - '0';
            p += 2;
        }
        uint32_t flags = 0;
        for (;; ++p) {
            if (*p == '-') flags |= SV_FMT_LEFT;
            else if (*p == '+') flags |= SV_FMT_PLUS;
            else if (*p == ' ') flags |= SV_FMT_BLANK;
            else if (*p == '#') flags |= SV_FMT_ALT;
            else if (*p == '0') flags |= SV_FMT_ZERO;
            else break;
        }
        int width = -1;
        if (*p >= '0' && *p <= '9') {
            width = ReadDecimal(p);
        } else if (*p == '*') {
            ++p;
            int32_t w = IntArg(args, next++, argc);
            if (w < 0) {
                flags |= SV_FMT_LEFT;
                width = w == INT32_MIN ? INT32_MAX : -w;
            } else {
                width = w;
            }
        }
        int precision = -1;
        if (*p == '.') {
            ++p;
            if (*p >= '0' && *p <= '9') {
                precision = ReadDecimal(p);
            } else if (*p == '*') {
                ++p;
                precision = IntArg(args, next++, argc);
            }
            if (precision < 0) precision = 0;
        }
        char qualifier = 0;
        if (*p == 'h' || *p == 'l' || *p == 'L') qualifier = *p++;

        char conv = *p;
        if (conv == '\0') {
            // A '%' at the very end of the format stands alone.
            sink.Put('%');
            break;
        }
        ++p;
        auto takeValue = [&]() { return valueIndex >= 0 ? valueIndex : next++; };
        int base = 10;
        switch (conv) {
            case '%': sink.Put('%'); continue;
            case 'c': {
                char c = static_cast<char>(IntArg(args, takeValue(), argc));
                int64_t pad = static_cast<int64_t>(width) - 1;
                if (!(flags & SV_FMT_LEFT)) sink.Fill(' ', pad);
                sink.Put(c);
                if (flags & SV_FMT_LEFT) sink.Fill(' ', pad);
                continue;
            }
            case 's': PutField(sink, SB_ArgumentText(args, takeValue(), argc), width, precision, flags); continue;
            case 'a': {
                int32_t i = takeValue();
                if (!args || !HasArg(i, argc)) {
                    PutField(sink, "[NULL]", width, precision, flags);
                } else {
                    SV_TextOf text(&args[i]);
                    PutField(sink, text.text ? text.text : "", width, precision, flags);
                }
                continue;
            }
            case 'd':
            case 'i': flags |= SV_FMT_SIGNED; break;
            case 'u': break;
            case 'o': base = 8; break;
            case 'X': flags |= SV_FMT_UPPER; [[fallthrough]];
            case 'x': base = 16; break;
            case 'e':
            case 'E':
            case 'f':
            case 'F':
            case 'g':
            case 'G': {
                int32_t i = takeValue();
                double d = (args && HasArg(i, argc) && args[i].tag == VARTYPE_FLOAT) ? args[i].f : 0.0;
                char spec[32];
                size_t k = 0;
                spec[k++] = '%';
                if (flags & SV_FMT_ALT) spec[k++] = '#';
                if (width >= 0) {
                    if (flags & SV_FMT_LEFT) spec[k++] = '-';
                    k += static_cast<size_t>(std::snprintf(spec + k, sizeof spec - k, "%d",
                                                           width > kMaxNumberField ? kMaxNumberField : width));
                }
                if (precision >= 0)
                    k += static_cast<size_t>(std::snprintf(spec + k, sizeof spec - k, ".%d",
                                                           precision > kMaxNumberField ? kMaxNumberField : precision));
                spec[k++] = conv;
                spec[k] = '\0';
                // The widest double in %f is some 330 bytes.
                char text[400];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
                int n = std::snprintf(text, sizeof text, spec, d);
#pragma GCC diagnostic pop
                if (n > 0) sink.Put(text, std::min(static_cast<size_t>(n), sizeof text - 1));
                continue;
            }
            default:
                // Unknown conversions (including 'n' and 'p') are copied as they are.
                sink.Put('%');
                sink.Put(conv);
                continue;
        }
        int32_t v = IntArg(args, takeValue(), argc);
        if (qualifier == 'h') v = (flags & SV_FMT_SIGNED) ? static_cast<int16_t>(v) : static_cast<uint16_t>(v);
        sink.n = SV_FormatNumber(v, out, sink.n, base, width, precision, flags, out != nullptr);
    }
    if (out) out[sink.n] = '\0';
    return sink.n;
}

// --- text codecs ---

static int HexDigit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "%uXXXX" at p: the code point, or -1.
static int32_t UnicodeEscape(const unsigned char* p) {
    if (p[0] != '%' || p[1] != 'u') return -1;
    int32_t cp = 0;
    for (int k = 2; k < 6; ++k) {
        int h = HexDigit(p[k]);
        if (h < 0) return -1;
        cp = cp * 16 + h;
    }
    return cp;
}

static void PutUtf8(Sink& sink, uint32_t cp) {
    if (cp < 0x80) {
        sink.Put(static_cast<char>(cp));
    } else if (cp < 0x800) {
        sink.Put(static_cast<char>(0xC0 | (cp >> 6)));
        sink.Put(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        sink.Put(static_cast<char>(0xE0 | (cp >> 12)));
        sink.Put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        sink.Put(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

static bool PutEntity(Sink& sink, unsigned char c) {
    switch (c) {
        case '&': sink.Put("&amp;", 5); return true;
        case '<': sink.Put("&lt;", 4); return true;
        case '>': sink.Put("&gt;", 4); return true;
        case '"': sink.Put("&quot;", 6); return true;
        default: return false;
    }
}

size_t SV_XMLEscape(char* out, const char* text) {
    Sink sink{out};
    if (text)
        for (const char* p = text; *p; ++p)
            if (!PutEntity(sink, static_cast<unsigned char>(*p))) sink.Put(*p);
    if (out) out[sink.n] = '\0';
    return sink.n;
}

size_t SV_XMLEncode(char* out, const char* text) {
    Sink sink{out};
    if (text) {
        const auto* p = reinterpret_cast<const unsigned char*>(text);
        while (*p) {
            int32_t cp = UnicodeEscape(p);
            if (cp >= 0) {
                PutUtf8(sink, static_cast<uint32_t>(cp));
                p += 6;
                continue;
            }
            unsigned char c = *p++;
            if (PutEntity(sink, c)) continue;
            if (c < 32 || c > 127) {
                char ref[8];
                int n = std::snprintf(ref, sizeof ref, c < 100 ? "&#%02u;" : "&#%03u;", static_cast<unsigned>(c));
                sink.Put(ref, static_cast<size_t>(n));
            } else {
                sink.Put(static_cast<char>(c));
            }
        }
    }
    if (out) out[sink.n] = '\0';
    return sink.n;
}

static size_t QueryDecode(char* out, const char* text, bool utf8) {
    Sink sink{out};
    if (text) {
        const auto* p = reinterpret_cast<const unsigned char*>(text);
        while (*p) {
            if (utf8) {
                int32_t cp = UnicodeEscape(p);
                if (cp >= 0) {
                    PutUtf8(sink, static_cast<uint32_t>(cp));
                    p += 6;
                    continue;
                }
            }
            unsigned char c = *p;
            if (c == '%') {
                int hi = HexDigit(p[1]);
                int lo = hi >= 0 ? HexDigit(p[2]) : -1;
                if (lo >= 0) {
                    unsigned char b = static_cast<unsigned char>(hi * 16 + lo);
                    if (utf8 && b >= 0x80) PutUtf8(sink, b);
                    else sink.Put(static_cast<char>(b));
                    p += 3;
                } else if (p[1] == '%') {
                    sink.Put('%');
                    p += 2;
                } else {
                    sink.Put('%');
                    p += 1;
                }
                continue;
            }
            ++p;
            if (c == '+') sink.Put(' ');
            else if (utf8 && c >= 0x80) PutUtf8(sink, c);
            else sink.Put(static_cast<char>(c));
        }
    }
    if (out) out[sink.n] = '\0';
    return sink.n;
}

size_t SV_QueryDecode(char* out, const char* text) { return QueryDecode(out, text, false); }
size_t SV_QueryToUTF8(char* out, const char* text) { return QueryDecode(out, text, true); }
