#include "base/packed.h"

#include <cstring>
#include <initializer_list>

#include "base/file.h"
#include "base/log.h"
#include "base/memory.h"

// DEFLATE (RFC 1951) decoding straight into the final buffer, whose size the
// gzip trailer gives up front: the output is its own window. Input bytes are
// descrambled as they enter the bit buffer.

#define SE_INFLATE_LIKELY(x) __builtin_expect(!!(x), 1)

namespace {

// A decoding table entry:
//   bits 0-7   bits taken at this level: the code's own, and for a length or
//              distance its extra bits too, so that one shift takes both
//   bits 8-15  a literal: LIT_ROOT, so that the entry is also the control
//              word of a bit-field extract of the next code's index; a length
//              or distance: bits of the code itself at this level (where the
//              extra bits start); a subtable: its index bits. Bits 14-15 are
//              the kind of an entry that is no literal.
//   bits 16-30 literal byte, base length or distance, or subtable offset
//   bit 31     set on a literal, so that a sign test tells one
// The shift count sits in the low byte, whose low six bits are all a 64-bit
// shift uses.
enum : uint32_t { K_BASE = 0, K_EOB = 1, K_SUB = 2, K_BAD = 3, K_LIT = 4 };
constexpr uint32_t LITERAL_FLAG = 1u << 31;

inline uint32_t EntryLen(uint32_t e) { return e & 0xFF; }
inline uint32_t EntryCodeLen(uint32_t e) { return (e >> 8) & 15; }
inline uint32_t EntrySubBits(uint32_t e) { return (e >> 8) & 15; }
inline bool EntryIsLiteral(uint32_t e) { return int32_t(e) < 0; }
inline uint32_t EntryKind(uint32_t e) { return EntryIsLiteral(e) ? K_LIT : (e >> 14) & 3; }
// Whether e is of a kind other than K_LIT.
inline bool EntryIs(uint32_t e, uint32_t kind) { return (e & (LITERAL_FLAG | (3u << 14))) == kind << 14; }
inline uint32_t EntryValue(uint32_t e) { return (e >> 16) & 0x7FFF; }

constexpr unsigned LIT_ROOT = 10;
constexpr unsigned DIST_ROOT = 8;
constexpr unsigned PRE_ROOT = 7;
constexpr unsigned MAX_BITS = 15;
// Every long code opens at most one subtable of at most 2^(15 - root) entries.
constexpr size_t LIT_TABLE_SIZE = (1u << LIT_ROOT) + 288 * (1u << (MAX_BITS - LIT_ROOT));
constexpr size_t DIST_TABLE_SIZE = (1u << DIST_ROOT) + 32 * (1u << (MAX_BITS - DIST_ROOT));

constexpr uint16_t LEN_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t LEN_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                   2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t DIST_BASE[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t DIST_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t PRECODE_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

enum class Code { LitLen, Dist, Precode };

constexpr uint32_t BadEntry(unsigned len) { return (K_BAD << 14) | len; }

// The entry of symbol sym whose code has len bits at its level.
uint32_t SymbolEntry(Code code, unsigned sym, unsigned len) {
    const auto literal = [&](unsigned value) { return LITERAL_FLAG | (value << 16) | (LIT_ROOT << 8) | len; };
    const auto base = [&](unsigned value, unsigned extra) { return (value << 16) | (len << 8) | (len + extra); };
    switch (code) {
        case Code::LitLen:
            if (sym < 256) return literal(sym);
            if (sym == 256) return (K_EOB << 14) | (len << 8) | len;
            if (sym < 286) return base(LEN_BASE[sym - 257], LEN_EXTRA[sym - 257]);
            return BadEntry(len);
        case Code::Dist:
            if (sym < 30) return base(DIST_BASE[sym], DIST_EXTRA[sym]);
            return BadEntry(len);
        case Code::Precode: return literal(sym);
    }
    return BadEntry(len);
}

// The next code of len bits in the bit order the input delivers it: the code
// kept reversed, incremented at its top end.
inline unsigned NextReversed(unsigned r, unsigned len) {
    const unsigned zeros = ~r & ((1u << len) - 1);
    if (!zeros) return 0;
    const unsigned top = 1u << (31 - __builtin_clz(zeros));
    return (r & (top - 1)) | top;
}

// Builds the lookup table of a canonical Huffman code. False for an
// over-subscribed code, and for an incomplete one unless it is a single code
// of one bit (or no code at all) of a literal/length or distance alphabet.
bool BuildTable(uint32_t* table, unsigned root, const uint8_t* lens, unsigned n, Code code) {
    unsigned count[MAX_BITS + 1] = {};
    for (unsigned s = 0; s < n; ++s) count[lens[s]]++;
    count[0] = 0;
    int left = 1;
    unsigned maxLen = 0;
    for (unsigned len = 1; len <= MAX_BITS; ++len) {
        left = (left << 1) - int(count[len]);
        if (left < 0) return false;
        if (count[len]) maxLen = len;
    }
    if (left > 0 && (code == Code::Precode || maxLen > 1)) return false;

    // Symbols in the order their codes are given: by length, then by symbol.
    unsigned start[MAX_BITS + 1];
    start[1] = 0;
    for (unsigned len = 1; len < MAX_BITS; ++len) start[len + 1] = start[len] + count[len];
    uint16_t sorted[288];
    for (unsigned s = 0; s < n; ++s)
        if (lens[s]) sorted[start[lens[s]]++] = uint16_t(s);

    const unsigned rootSize = 1u << root;
    if (left > 0) {
        // At most one code, of one bit: the other half of the table is bad.
        for (unsigned i = 0; i < rootSize; ++i) table[i] = BadEntry(1);
        if (count[1])
            for (unsigned i = 0; i < rootSize; i += 2) table[i] = SymbolEntry(code, sorted[0], 1);
        return true;
    }

    // A complete code covers every index. The first 2^len entries are those
    // of the codes up to len bits, repeated: each length doubles the filled
    // part and writes its own codes into it. Entries under a longer code are
    // written by its subtable below.
    unsigned r = 0;
    unsigned i = 0;
    for (unsigned len = 1; len <= root; ++len) {
        if (len > 1) memcpy(table + (1u << (len - 1)), table, sizeof(uint32_t) << (len - 1));
        for (unsigned c = count[len]; c; --c) {
            table[r] = SymbolEntry(code, sorted[i++], len);
            r = NextReversed(r, len);
        }
    }
    // Longer codes come in order of their root bits, each root entry leading
    // to a subtable just large enough for the codes under it.
    unsigned used = rootSize;
    unsigned prefix = rootSize;
    unsigned subStart = 0, subBits = 0;
    for (unsigned len = root + 1; len <= maxLen; ++len) {
        for (unsigned c = count[len]; c; --c) {
            if ((r & (rootSize - 1)) != prefix) {
                prefix = r & (rootSize - 1);
                subBits = len - root;
                int room = (1 << subBits) - int(c);
                for (unsigned l = len + 1; room > 0 && l <= maxLen; ++l) {
                    ++subBits;
                    room = (room << 1) - int(count[l]);
                }
                subStart = used;
                used += 1u << subBits;
                table[prefix] = (subStart << 16) | (K_SUB << 14) | (subBits << 8) | root;
            }
            const uint32_t e = SymbolEntry(code, sorted[i++], len - root);
            for (unsigned j = r >> root; j < (1u << subBits); j += 1u << (len - root)) table[subStart + j] = e;
            r = NextReversed(r, len);
        }
    }
    return true;
}

// Where the compressed bytes come from: a block in memory, refilled from a
// file when one is given.
struct Source {
    const uint8_t* p;
    const uint8_t* end;
    QelFile* file;
    uint8_t* buffer;
    size_t bufferSize;

    bool More() {
        if (!file) return false;
        size_t got = Qel_fread(file, 1, bufferSize, buffer);
        p = buffer;
        end = buffer + got;
        return got > 0;
    }
};

// Padding past the end of the input is allowed this far before the stream is
// declared short.
constexpr unsigned MAX_OVERRUN = 16;
// Output room the fast loop keeps: up to three literals before a longest
// match (258 bytes) with its whole-word overrun of up to 15 (a match of up to
// 32 bytes writes 32), or four literals.
constexpr ptrdiff_t FAST_ROOM = 3 + 258 + 15;

struct Inflater {
    uint32_t lit[LIT_TABLE_SIZE];
    uint32_t dist[DIST_TABLE_SIZE];
    uint32_t pre[1u << PRE_ROOT];
    uint8_t lens[288 + 32];

    Source src;
    uint8_t key;
    uint64_t keyMask;
    uint64_t bits;
    unsigned nbits;
    unsigned overrun;  // zero bytes added after the input ended

    uint8_t* outStart;
    uint8_t* out;
    uint8_t* outEnd;

    void Start(uint8_t k) {
        key = k;
        keyMask = 0x0101010101010101ull * k;
        bits = 0;
        nbits = 0;
        overrun = 0;
    }

    // Bits above nbits are either 0 or the low bits of the byte at p.
    __attribute__((noinline)) bool SlowRefill() {
        while (nbits <= 56) {
            if (src.p == src.end && !src.More()) {
                if (++overrun > MAX_OVERRUN) return false;
                nbits += 8;
                continue;
            }
            bits |= uint64_t(uint8_t(*src.p++ ^ key)) << nbits;
            nbits += 8;
        }
        return true;
    }

    inline bool Refill() {
        if (src.end - src.p >= 8) {
            uint64_t w;
            memcpy(&w, src.p, 8);
            bits |= (w ^ keyMask) << nbits;
            src.p += (63 - nbits) >> 3;
            nbits |= 56;
            return true;
        }
        return SlowRefill();
    }

    inline bool Need(unsigned n) { return nbits >= n || Refill(); }
    inline uint32_t Take(unsigned n) {
        uint32_t v = uint32_t(bits & ((1ull << n) - 1));
        bits >>= n;
        nbits -= n;
        return v;
    }
    // Whether bits read so far all came from the input.
    bool Real() const { return overrun * 8 <= nbits; }

    inline uint32_t Decode(const uint32_t* table, unsigned root) {
        uint32_t e = table[bits & ((1u << root) - 1)];
        if (EntryKind(e) == K_SUB) {
            bits >>= root;
            nbits -= root;
            e = table[EntryValue(e) + (bits & ((1u << EntrySubBits(e)) - 1))];
        }
        bits >>= EntryLen(e);
        nbits -= EntryLen(e);
        return e;
    }

    QelInflateResult Stored() {
        Take(nbits & 7);
        if (!Need(32)) return QEL_INFLATE_SHORT;
        uint32_t len = Take(16);
        uint32_t nlen = Take(16);
        if (!Real()) return QEL_INFLATE_SHORT;
        if (len != (~nlen & 0xFFFF)) return QEL_INFLATE_CORRUPT;
        if (len > size_t(outEnd - out)) return QEL_INFLATE_OVERFLOW;
        while (len && nbits >= 8 + overrun * 8) {
            *out++ = uint8_t(Take(8));
            --len;
        }
        if (!len) return QEL_INFLATE_OK;
        if (overrun) return QEL_INFLATE_SHORT;
        // The bit buffer is empty: copy straight from the input.
        bits = 0;
        nbits = 0;
        while (len) {
            if (src.p == src.end && !src.More()) return QEL_INFLATE_SHORT;
            size_t n = size_t(src.end - src.p);
            if (n > len) n = len;
            for (size_t i = 0; i < n; ++i) out[i] = uint8_t(src.p[i] ^ key);
            out += n;
            src.p += n;
            len -= uint32_t(n);
        }
        return QEL_INFLATE_OK;
    }

    QelInflateResult DynamicTables() {
        if (!Need(14)) return QEL_INFLATE_SHORT;
        unsigned hlit = Take(5) + 257;
        unsigned hdist = Take(5) + 1;
        unsigned hclen = Take(4) + 4;
        if (hlit > 286 || hdist > 30) return QEL_INFLATE_CORRUPT;
        uint8_t preLens[19] = {};
        for (unsigned i = 0; i < hclen; ++i) {
            if (!Need(3)) return QEL_INFLATE_SHORT;
            preLens[PRECODE_ORDER[i]] = uint8_t(Take(3));
        }
        if (!BuildTable(pre, PRE_ROOT, preLens, 19, Code::Precode)) return QEL_INFLATE_CORRUPT;
        unsigned total = hlit + hdist;
        for (unsigned i = 0; i < total;) {
            if (!Need(14)) return QEL_INFLATE_SHORT;
            uint32_t e = Decode(pre, PRE_ROOT);
            if (EntryKind(e) == K_BAD) return QEL_INFLATE_CORRUPT;
            unsigned sym = EntryValue(e);
            if (sym < 16) {
                lens[i++] = uint8_t(sym);
                continue;
            }
            unsigned rep;
            uint8_t value = 0;
            if (sym == 16) {
                if (i == 0) return QEL_INFLATE_CORRUPT;
                value = lens[i - 1];
                rep = 3 + Take(2);
            } else if (sym == 17) {
                rep = 3 + Take(3);
            } else {
                rep = 11 + Take(7);
            }
            if (i + rep > total) return QEL_INFLATE_CORRUPT;
            memset(lens + i, value, rep);
            i += rep;
        }
        if (!Real()) return QEL_INFLATE_SHORT;
        if (lens[256] == 0) return QEL_INFLATE_CORRUPT;
        if (!BuildTable(lit, LIT_ROOT, lens, hlit, Code::LitLen)) return QEL_INFLATE_CORRUPT;
        if (!BuildTable(dist, DIST_ROOT, lens + hlit, hdist, Code::Dist)) return QEL_INFLATE_CORRUPT;
        return QEL_INFLATE_OK;
    }

    // The state lives in locals while symbols are decoded: the output is
    // written bytewise and would otherwise oblige the compiler to keep the
    // bit buffer in memory. Built twice: plain, and with the variable shifts
    // that take their count from any register and the bit-field extract,
    // which shorten the chain from one lookup to the next where the
    // processor has them.
    template <bool BMI>
    __attribute__((always_inline)) inline QelInflateResult CodesBody(const uint32_t* litTable,
                                                                     const uint32_t* distTable) {
        uint64_t b = bits;
        unsigned n = nbits;
        uint8_t* o = out;
        const uint8_t* ip = src.p;
        const uint8_t* ipEnd = src.end;
        uint8_t* const oStart = outStart;
        uint8_t* const oEnd = outEnd;
        const uint64_t mask = keyMask;
        constexpr uint64_t LIT_MASK = (1u << LIT_ROOT) - 1;
        constexpr uint64_t DIST_MASK = (1u << DIST_ROOT) - 1;
        QelInflateResult r;
#define INFLATE_SAVE() (bits = b, nbits = n, out = o, src.p = ip)
// Tops the bit buffer up to at least 56 bits with eight input bytes, which
// must be there; bits below n are left as they are.
#define INFLATE_FAST_REFILL() \
    do {                      \
        uint64_t w;           \
        memcpy(&w, ip, 8);    \
        b |= (w ^ mask) << n; \
        ip += (63 - n) >> 3;  \
        n |= 56;              \
    } while (0)
#define INFLATE_REFILL()                     \
    do {                                     \
        if (ipEnd - ip >= 8) {               \
            INFLATE_FAST_REFILL();           \
        } else {                             \
            INFLATE_SAVE();                  \
            bool ok = SlowRefill();          \
            b = bits, n = nbits, ip = src.p; \
            ipEnd = src.end;                 \
            if (!ok) {                       \
                r = QEL_INFLATE_SHORT;       \
                goto done;                   \
            }                                \
        }                                    \
    } while (0)
// Takes the bits of entry e; v is its value plus its extra bits.
#define INFLATE_TAKE(e, v)                                                                  \
    do {                                                                                    \
        const uint64_t saved = b;                                                           \
        b >>= EntryLen(e);                                                                  \
        n -= EntryLen(e);                                                                   \
        v = (e >> 16) + uint32_t((saved & ((1ull << EntryLen(e)) - 1)) >> EntryCodeLen(e)); \
    } while (0)
// Replaces a root entry e of table by its subtable entry, taking the root bits.
#define INFLATE_SUB(e, table, root)                                         \
    do {                                                                    \
        if (EntryIs(e, K_SUB)) {                                            \
            b >>= root;                                                     \
            n -= root;                                                      \
            e = table[EntryValue(e) + (b & ((1u << EntrySubBits(e)) - 1))]; \
        }                                                                   \
    } while (0)
// A literal/length entry e that is no literal of the root table: its
// subtable entry when it has one, then its bits and value v taken. A literal
// is stored (with room checked when checked is set) and the block goes on;
// the end of the block returns, a bad code ends the run. Falls through with
// v a length: a length code of the root table is told by one test. The value
// of a literal carries its flag above the byte.
#define INFLATE_NOT_ROOT_LITERAL(e, v, checked)                     \
    if (!EntryIs(e, K_BASE)) {                                      \
        INFLATE_SUB(e, litTable, LIT_ROOT);                         \
        if (!EntryIs(e, K_BASE)) {                                  \
            INFLATE_TAKE(e, v);                                     \
            if (EntryIsLiteral(e)) {                                \
                if (checked && o == oEnd) {                         \
                    r = QEL_INFLATE_OVERFLOW;                       \
                    goto done;                                      \
                }                                                   \
                *o++ = uint8_t(v);                                  \
                INFLATE_AFTER_LITERAL;                              \
                continue;                                           \
            }                                                       \
            if (EntryIs(e, K_EOB)) {                                \
                INFLATE_SAVE();                                     \
                return Real() ? QEL_INFLATE_OK : QEL_INFLATE_SHORT; \
            }                                                       \
            r = QEL_INFLATE_CORRUPT;                                \
            goto done;                                              \
        }                                                           \
    }                                                               \
    INFLATE_TAKE(e, v);
// The distance d of a match, its code and extra bits taken; a distance
// reaching before the output is corrupt.
#define INFLATE_DISTANCE(d)                        \
    do {                                           \
        uint32_t de = distTable[b & DIST_MASK];    \
        if (!EntryIs(de, K_BASE)) {                \
            INFLATE_SUB(de, distTable, DIST_ROOT); \
            if (!EntryIs(de, K_BASE)) {            \
                INFLATE_TAKE(de, d);               \
                r = QEL_INFLATE_CORRUPT;           \
                goto done;                         \
            }                                      \
        }                                          \
        INFLATE_TAKE(de, d);                       \
        if (d > size_t(o - oStart)) {              \
            r = QEL_INFLATE_CORRUPT;               \
            goto done;                             \
        }                                          \
    } while (0)
        // Fast loop: while at least 16 input bytes and FAST_ROOM output bytes
        // remain, no refill or store is checked. The entry of the next code
        // is looked up before the refill (the bits it needs are there
        // already), so that the refill stays off the chain of dependent
        // lookups; up to four literals share one refill. Matches are copied
        // in whole words that may run up to 15 bytes past their end (later
        // output overwrites them). The careful loop below finishes the block.
        // Bits per round: four literals of at most LIT_ROOT bits leave 16 of
        // the 56, enough to look up the next code; a length (root and
        // subtable code with 5 extra bits, 20 bits) and a distance (28 bits)
        // fit in 56 after the refill. A round reads at most 12 bytes past
        // where it starts; the refill before the first round takes up to 7,
        // so the loop is entered with 7 bytes more.
        if (ipEnd - ip >= 16 + 7 && oEnd - o >= FAST_ROOM) {
            INFLATE_FAST_REFILL();
            uint32_t e = litTable[b & LIT_MASK];
// The root index of the code after the literal of entry e is taken straight
// from the buffer before the shift, by one bit-field extract whose control
// word the entry is, where the processor has it (written out, as the
// compiler's own form would need the whole body built for that processor).
#if defined(__x86_64__)
#define INFLATE_NEXT_INDEX(next)                                                         \
    if constexpr (BMI) asm("bextrq %2, %1, %0" : "=r"(next) : "r"(b), "r"(uint64_t(e))); \
    else next = (b >> EntryLen(e)) & LIT_MASK
#else
#define INFLATE_NEXT_INDEX(next) next = (b >> EntryLen(e)) & LIT_MASK
#endif
#define INFLATE_LITERAL()         \
    do {                          \
        uint64_t next;            \
        INFLATE_NEXT_INDEX(next); \
        b >>= EntryLen(e);        \
        n -= EntryLen(e);         \
        *o++ = uint8_t(e >> 16);  \
        e = litTable[next];       \
    } while (0)
#define INFLATE_AFTER_LITERAL   \
    e = litTable[b & LIT_MASK]; \
    INFLATE_FAST_REFILL()
            const uint8_t* const ipLast = ipEnd - 16;
            uint8_t* const oLast = oEnd - FAST_ROOM;
            do {
                // Here n >= 56 and e is the entry of the next code.
                if (SE_INFLATE_LIKELY(EntryIsLiteral(e))) {
                    INFLATE_LITERAL();
                    if (EntryIsLiteral(e)) {
                        INFLATE_LITERAL();
                        if (EntryIsLiteral(e)) {
                            INFLATE_LITERAL();
                            if (EntryIsLiteral(e)) {
                                INFLATE_LITERAL();
                                INFLATE_FAST_REFILL();
                                continue;
                            }
                        }
                    }
                    INFLATE_FAST_REFILL();
                }
                // A match straight after another finds the buffer full.
                uint32_t len;
                INFLATE_NOT_ROOT_LITERAL(e, len, false);
                size_t d;
                INFLATE_DISTANCE(d);
                // The next entry before the refill where its bits are there.
                if (SE_INFLATE_LIKELY(n >= LIT_ROOT)) {
                    e = litTable[b & LIT_MASK];
                    INFLATE_FAST_REFILL();
                } else {
                    INFLATE_FAST_REFILL();
                    e = litTable[b & LIT_MASK];
                }
                uint8_t* const stop = o + len;
                if (d >= 16) {
                    // Most matches are short: their first 32 bytes without
                    // a loop.
                    const uint8_t* from = o - d;
                    memcpy(o, from, 16);
                    memcpy(o + 16, from + 16, 16);
                    if (len > 32) {
                        o += 32;
                        from += 32;
                        do {
                            memcpy(o, from, 16);
                            o += 16;
                            from += 16;
                        } while (o < stop);
                    }
                } else if (d >= 8) {
                    const uint8_t* from = o - d;
                    do {
                        memcpy(o, from, 8);
                        o += 8;
                        from += 8;
                    } while (o < stop);
                } else if (d == 1) {
                    const uint64_t v = 0x0101010101010101ull * o[-1];
                    do {
                        memcpy(o, &v, 8);
                        o += 8;
                    } while (o < stop);
                } else {
                    // Each word read d bytes back holds d bytes already written.
                    do {
                        uint64_t v;
                        memcpy(&v, o - d, 8);
                        memcpy(o, &v, 8);
                        o += d;
                    } while (o < stop);
                }
                o = stop;
            } while (ip <= ipLast && o <= oLast);
#undef INFLATE_LITERAL
#undef INFLATE_NEXT_INDEX
#undef INFLATE_AFTER_LITERAL
        }
#define INFLATE_AFTER_LITERAL
        for (;;) {
            // A length code with its extra bits takes at most 20 bits.
            if (n < MAX_BITS + 5) INFLATE_REFILL();
            uint32_t e = litTable[b & LIT_MASK];
            // Most symbols are literals whose code fits the root table.
            if (SE_INFLATE_LIKELY(EntryIsLiteral(e))) {
                b >>= EntryLen(e);
                n -= EntryLen(e);
                if (o == oEnd) {
                    r = QEL_INFLATE_OVERFLOW;
                    goto done;
                }
                *o++ = uint8_t(e >> 16);
                continue;
            }
            uint32_t len;
            INFLATE_NOT_ROOT_LITERAL(e, len, true);
            // A distance code with its extra bits takes at most 28 bits.
            if (n < MAX_BITS + 13) INFLATE_REFILL();
            size_t d;
            INFLATE_DISTANCE(d);
            size_t room = size_t(oEnd - o);
            if (len > room) {
                r = QEL_INFLATE_OVERFLOW;
                goto done;
            }
            const uint8_t* from = o - d;
            if (d >= 8 && room >= len + 8) {
                uint8_t* stop = o + len;
                do {
                    memcpy(o, from, 8);
                    o += 8;
                    from += 8;
                } while (o < stop);
                o = stop;
            } else if (d == 1) {
                memset(o, o[-1], len);
                o += len;
            } else {
                for (size_t i = 0; i < len; ++i) o[i] = from[i];
                o += len;
            }
        }
    done:
        INFLATE_SAVE();
        return r;
#undef INFLATE_AFTER_LITERAL
#undef INFLATE_SAVE
#undef INFLATE_FAST_REFILL
#undef INFLATE_REFILL
#undef INFLATE_TAKE
#undef INFLATE_SUB
#undef INFLATE_NOT_ROOT_LITERAL
#undef INFLATE_DISTANCE
    }
#if defined(__x86_64__)
    __attribute__((target("bmi,bmi2"))) QelInflateResult CodesBmi2(const uint32_t* litTable,
                                                                   const uint32_t* distTable) {
        return CodesBody<true>(litTable, distTable);
    }
#endif
    QelInflateResult CodesPlain(const uint32_t* litTable, const uint32_t* distTable) {
        return CodesBody<false>(litTable, distTable);
    }
    QelInflateResult Codes(const uint32_t* litTable, const uint32_t* distTable) {
#if defined(__x86_64__)
        static const bool bmi2 =
            (__builtin_cpu_init(), __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2"));
        if (bmi2) return CodesBmi2(litTable, distTable);
#endif
        return CodesPlain(litTable, distTable);
    }

    QelInflateResult Run() {
        for (;;) {
            if (!Need(3)) return QEL_INFLATE_SHORT;
            uint32_t last = Take(1);
            uint32_t type = Take(2);
            QelInflateResult r;
            if (type == 0) {
                r = Stored();
            } else if (type == 1) {
                const FixedTables& f = Fixed();
                r = Codes(f.lit, f.dist);
            } else if (type == 2) {
                r = DynamicTables();
                if (r == QEL_INFLATE_OK) r = Codes(lit, dist);
            } else {
                r = QEL_INFLATE_CORRUPT;
            }
            // A failure met in the zero bits read past the end of the input
            // is that end: where it shows depends only on when the buffer was
            // refilled.
            if (r != QEL_INFLATE_OK) return Real() ? r : QEL_INFLATE_SHORT;
            if (last) return Real() ? QEL_INFLATE_OK : QEL_INFLATE_SHORT;
        }
    }

    struct FixedTables {
        uint32_t lit[LIT_TABLE_SIZE];
        uint32_t dist[DIST_TABLE_SIZE];
    };

    static const FixedTables& Fixed() {
        static const FixedTables* tables = [] {
            static FixedTables t;
            uint8_t l[288];
            memset(l, 8, 144);
            memset(l + 144, 9, 112);
            memset(l + 256, 7, 24);
            memset(l + 280, 8, 8);
            BuildTable(t.lit, LIT_ROOT, l, 288, Code::LitLen);
            uint8_t d[32];
            memset(d, 5, 32);
            BuildTable(t.dist, DIST_ROOT, d, 32, Code::Dist);
            return &t;
        }();
        return *tables;
    }
};

uint32_t s_crcTable[8][256];

void BuildCrcTable() {
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        s_crcTable[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; ++n)
        for (int t = 1; t < 8; ++t)
            s_crcTable[t][n] = (s_crcTable[t - 1][n] >> 8) ^ s_crcTable[0][s_crcTable[t - 1][n] & 0xFF];
}

}  // namespace

uint32_t Qel_Crc32(uint32_t crc, const uint8_t* data, size_t size) {
    static const bool ready = (BuildCrcTable(), true);
    (void)ready;
    crc = ~crc;
    while (size >= 8) {
        uint32_t a, b;
        memcpy(&a, data, 4);
        memcpy(&b, data + 4, 4);
        a ^= crc;
        crc = s_crcTable[7][a & 0xFF] ^ s_crcTable[6][(a >> 8) & 0xFF] ^ s_crcTable[5][(a >> 16) & 0xFF] ^
              s_crcTable[4][a >> 24] ^ s_crcTable[3][b & 0xFF] ^ s_crcTable[2][(b >> 8) & 0xFF] ^
              s_crcTable[1][(b >> 16) & 0xFF] ^ s_crcTable[0][b >> 24];
        data += 8;
        size -= 8;
    }
    while (size--) crc = s_crcTable[0][(crc ^ *data++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

QelInflateResult Qel_InflateRaw(const uint8_t* in, size_t inSize, uint8_t key, uint8_t* out, size_t outSize,
                                size_t* produced) {
    if (produced) *produced = 0;
    auto* inf = Int_AllocRecord<Inflater>(0);
    if (!inf) return QEL_INFLATE_OVERFLOW;
    inf->src = Source{in, in + inSize, nullptr, nullptr, 0};
    inf->Start(key);
    inf->outStart = inf->out = out;
    inf->outEnd = out + outSize;
    QelInflateResult r = inf->Run();
    if (produced) *produced = size_t(inf->out - out);
    Int_FreeRecord(inf, 0);
    return r;
}

namespace {

constexpr size_t INPUT_BUFFER = 16384;
// DEFLATE cannot expand data by more than this factor.
constexpr uint64_t MAX_RATIO = 1032;

struct UnpackState {
    Inflater inf;
    uint8_t input[INPUT_BUFFER];
};

// The next byte of the raw input, -1 at the end.
int NextByte(Source& src) {
    if (src.p == src.end && !src.More()) return -1;
    return *src.p++;
}

// Reads the gzip header; false when it is not one we can unpack.
bool ReadHeader(Source& src, uint8_t* key, int* method) {
    int k = NextByte(src);
    if (k < 0) return false;
    *key = uint8_t(k ^ QEL_PACKED_KEY_MASK);
    auto get = [&]() {
        int b = NextByte(src);
        return b < 0 ? -1 : (b ^ *key);
    };
    int m1 = get(), m2 = get();
    if (m1 != 0x1F || (m2 != 0x8B && m2 != 0x9E)) return false;
    *method = get();
    int flags = get();
    if (*method < 0 || flags < 0 || (flags & 0x20) || (flags & 0x02) || flags >= 64) return false;
    for (int i = 0; i < 6; ++i)
        if (get() < 0) return false;
    if (flags & 4) {
        int lo = get(), hi = get();
        if (lo < 0 || hi < 0) return false;
        for (int n = lo | (hi << 8); n > 0; --n)
            if (get() < 0) return false;
    }
    for (int field : {8, 16}) {
        if (!(flags & field)) continue;
        int b;
        do b = get();
        while (b > 0);
        if (b < 0) return false;
    }
    return true;
}

uint32_t TakeWord(Inflater& inf) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        inf.Need(8);
        v |= inf.Take(8) << (8 * i);
    }
    return v;
}

}  // namespace

void* Qel_Unpack(const char* name, int diskOnly) {
    g_QelLastFileSize = 0;
    QelFile* f = Qel_fopen(name, "rb", diskOnly);
    if (!f) return nullptr;
    auto* st = Int_AllocRecord<UnpackState>(0);
    uint8_t* out = nullptr;
    uint32_t size = 0;
    const char* error = nullptr;
    uint8_t key = 0;
    int method = 0;

    if (!st) {
        error = "Qel_Unpack: Couldn't allocate memory for unpacked file\n";
        goto fail;
    }
    {
        Inflater& inf = st->inf;
        inf.src = Source{st->input, st->input, f, st->input, INPUT_BUFFER};
        if (!ReadHeader(inf.src, &key, &method)) {
            error = "Qel_Unpack: Error in getting compression type\n";
            goto fail;
        }
        if (method != 8) {
            error = "Qel_Unpack: Couldn't allocate memory for unpacked file\n";
            goto fail;
        }
        long start = Qel_ftell(f) - long(inf.src.end - inf.src.p);
        long total = (Qel_fseek(f, 0, 2) == 0) ? Qel_ftell(f) : -1;
        uint8_t sizeBytes[4];
        if (total < start + 8 || Qel_fseek(f, -4, 2) != 0 || Qel_fread(f, 1, 4, sizeBytes) != 4) {
            error = "Qel_Unpack: Error in reading input file\n";
            goto fail;
        }
        for (uint8_t& b : sizeBytes) b ^= key;
        size = uint32_t(sizeBytes[0]) | uint32_t(sizeBytes[1]) << 8 | uint32_t(sizeBytes[2]) << 16 |
               uint32_t(sizeBytes[3]) << 24;
        if (uint64_t(size) > MAX_RATIO * uint64_t(total)) {
            Qel_ErrPrintf("Qel_Unpack: unpacked size %u of %s is not believable\n", size, name);
            size = 0;
            goto fail;
        }
        // An empty file unpacks to an empty block (freed with size 0, like any other).
        out = static_cast<uint8_t*>(Int_AllocMem(size, 0));
        if (!out) {
            error = "Qel_Unpack: Couldn't allocate memory for unpacked file\n";
            goto fail;
        }
        if (Qel_fseek(f, start, 0) != 0) {
            error = "Qel_Unpack: Error in reading input file\n";
            goto fail;
        }
        inf.src.p = inf.src.end = st->input;
        inf.Start(key);
        inf.outStart = inf.out = out;
        inf.outEnd = out + size;
        switch (inf.Run()) {
            case QEL_INFLATE_OK: break;
            case QEL_INFLATE_SHORT: error = "Qel_Unpack: Error in reading input file\n"; goto fail;
            case QEL_INFLATE_OVERFLOW: error = "Qel_Unpack: Error in writing output\n"; goto fail;
            case QEL_INFLATE_CORRUPT: error = "Qel_Unpack: Error in compressed data\n"; goto fail;
        }
        inf.Take(inf.nbits & 7);
        uint32_t crc = TakeWord(inf);
        uint32_t isize = TakeWord(inf);
        if (!inf.Real()) {
            error = "Qel_Unpack: Error in reading input file\n";
            goto fail;
        }
        if (size_t(inf.out - out) != size || isize != size) {
            error = "Qel_Unpack: Unpacked size does not match\n";
            goto fail;
        }
        if (Qel_Crc32(0, out, size) != crc) {
            error = "Qel_Unpack: CRC error in unpacked file\n";
            goto fail;
        }
    }
    Int_FreeRecord(st, 0);
    Qel_fclose(f);
    g_QelLastFileSize = size;
    return out;

fail:
    if (error) Qel_ErrPrintf("%s", error);
    if (out) Int_FreeMem(out, size, 0);
    Int_FreeRecord(st, 0);
    Qel_fclose(f);
    return nullptr;
}

#undef SE_INFLATE_LIKELY
