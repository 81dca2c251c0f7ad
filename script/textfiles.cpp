#include "script/textfiles.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/general.h"
#include "base/log.h"
#include "base/strings.h"
#include "base/table.h"
#include "script/context.h"
#include "script/memory.h"
#include "script/textpages.h"
#include "script/values.h"

namespace {

constexpr char kSaveCookie[4] = {'T', 'S', 'A', 'V'};
constexpr char kSaveEndCookie[4] = {'/', 'T', 'S', 'A'};
constexpr uint32_t kMaxTextBytes = 0x7ffffff0u;

bool ValidLanguage(int32_t language) { return language >= 0 && language < SE_LANGUAGE_SLOTS; }

// ------------------------------------------------------------ text files

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// One quoted part from just after its opening quote: escapes and remarks
// resolved into `out`. Stops after the closing quote, or at an unescaped line
// feed (which ends the text), or at the end. Returns the position reached
// and whether a closing quote ended it.
size_t QuotedPart(const std::vector<char>& b, size_t p, std::string& out, bool* closed) {
    *closed = false;
    bool remark = false;
    while (p < b.size()) {
        char c = b[p];
        if (c == '\n') return p;
        ++p;
        if (remark) {
            if (c == ')') remark = false;
            continue;
        }
        if (c == '"') {
            *closed = true;
            return p;
        }
        if (c == '(') {
            remark = true;
            continue;
        }
        if (c != '\\' || p >= b.size()) {
            out += c;
            continue;
        }
        char d = b[p++];
        switch (d) {
            case 'n': out += '\n'; break;
            case 'b': out += '\b'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            default:
                if (d >= '0' && d <= '7') {
                    uint32_t v = static_cast<uint32_t>(d - '0');
                    while (p < b.size() && b[p] >= '0' && b[p] <= '7')
                        v = (v * 8 + static_cast<uint32_t>(b[p++] - '0')) & 0xffff;
                    out += static_cast<char>(v & 0xff);
                } else {
                    out += d;
                }
        }
    }
    return p;
}

size_t LineEnd(const std::vector<char>& b, size_t p) {
    while (p < b.size() && b[p] != '\n') ++p;
    return p;
}

struct ParsedText {
    int32_t id;
    std::string text;
};

std::vector<ParsedText> ParseTextFile(const std::vector<char>& b) {
    std::vector<ParsedText> texts;
    size_t p = 0;
    while (p < b.size()) {
        while (p < b.size() && IsBlank(b[p])) ++p;
        size_t end = LineEnd(b, p);
        bool comment = p < end && (b[p] == '#' || (b[p] == '/' && p + 1 < end && b[p + 1] == '/'));
        uint64_t id = 0;
        bool digits = false;
        for (; !comment && p < end && b[p] >= '0' && b[p] <= '9'; ++p) {
            digits = true;
            id = std::min<uint64_t>(id * 10 + static_cast<uint64_t>(b[p] - '0'), 0x7fffffff);
        }
        size_t quote = p;
        while (quote < end && b[quote] != '"') ++quote;
        if (comment || !digits || id == 0 || quote >= end) {
            p = end + 1;
            continue;
        }
        ParsedText t{static_cast<int32_t>(id), {}};
        bool closed;
        p = QuotedPart(b, quote + 1, t.text, &closed);
        // A closing quote may be followed, over blanks and line breaks, by
        // another quoted part of the same text.
        while (closed) {
            size_t q = p;
            while (q < b.size() && (IsBlank(b[q]) || b[q] == '\n')) ++q;
            if (q >= b.size() || b[q] != '"') break;
            p = QuotedPart(b, q + 1, t.text, &closed);
        }
        texts.push_back(std::move(t));
        p = LineEnd(b, p) + 1;
    }
    return texts;
}

bool ReadWhole(QelFile* f, std::vector<char>& out) {
    char chunk[1 << 14];
    for (;;) {
        size_t got = Qel_fread(f, 1, sizeof chunk, chunk);
        out.insert(out.end(), chunk, chunk + got);
        if (got < sizeof chunk) return true;
    }
}

// ------------------------------------------------------- text save file

struct Out {
    std::vector<uint8_t> bytes;
    void U32(uint32_t v) {
        uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
        bytes.insert(bytes.end(), b, b + 4);
    }
    void Raw(const void* p, size_t n) {
        auto* b = static_cast<const uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
    }
};

struct In {
    QelFile* file;
    bool Read(void* p, size_t n) { return n == 0 || Qel_fread(file, 1, n, p) == n; }
    bool U32(uint32_t& v) {
        uint8_t b[4];
        if (!Read(b, 4)) return false;
        v = uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
        return true;
    }
    bool Cookie(const char c[4]) {
        char b[4];
        return Read(b, 4) && std::memcmp(b, c, 4) == 0;
    }
};

std::string SaveFileName(const char* name) {
    char path[512];
    std::snprintf(path, sizeof path, "tc\\%s.txc", name ? name : "");
    return path;
}

void PutPage(SE_Context* ctx, Out& o, uint32_t pageId, const SB_TextPage* page) {
    uint32_t count = page && page->entries ? page->count : 0;
    o.U32(pageId);
    o.U32(count);
    for (uint32_t i = 0; i < count; ++i) {
        const SB_TextEntry& e = page->entries[i];
        const char* text = "";
        uint32_t length = 0;
        if (e.text.tag == VARTYPE_STRING) {
            text = SB_String(ctx, e.text.u);
            length = static_cast<uint32_t>(std::strlen(text));
        } else if (e.text.tag == VARTYPE_DSTRING && e.text.dstring && e.text.dstring->text) {
            text = e.text.dstring->text;
            length = e.text.dstring->length;
        }
        o.U32(static_cast<uint32_t>(e.id));
        o.U32(length);
        o.Raw(text, length);
    }
}

// Reads one page into a new record; null when the file is cut short.
SB_TextPage* ReadPage(SE_Context* ctx, In& in, uint32_t count) {
    std::vector<SB_TextEntry> entries;
    std::vector<char> buffer;
    bool ok = true;
    for (uint32_t i = 0; i < count && ok; ++i) {
        uint32_t id, length;
        ok = in.U32(id) && in.U32(length) && length <= kMaxTextBytes;
        buffer.clear();
        // In pieces: a damaged length ends the file before it costs memory.
        for (size_t left = ok ? length : 0; left && ok;) {
            size_t piece = std::min<size_t>(left, 1u << 16);
            size_t at = buffer.size();
            buffer.resize(at + piece);
            ok = in.Read(buffer.data() + at, piece);
            left -= piece;
        }
        if (!ok) break;
        SB_TextEntry e{};
        e.id = static_cast<int32_t>(id);
        SV_AssignBytes(&e.text, buffer.data(), length);
        entries.push_back(e);
    }
    auto* page = ok ? SB_AllocRecord<SB_TextPage>(ctx, SE_MEMCAT_TEXT_PAGES) : nullptr;
    SB_TextEntry* run = nullptr;
    if (page && !entries.empty()) {
        run = static_cast<SB_TextEntry*>(
            SB_Alloc(ctx, SE_MEMCAT_TEXT_PAGES, SE_MEM_ZERO, entries.size() * sizeof(SB_TextEntry)));
        if (!run) {
            SB_FreeRecord(ctx, SE_MEMCAT_TEXT_PAGES, page);
            page = nullptr;
        }
    }
    if (!page) {
        for (SB_TextEntry& e : entries) SV_Release(&e.text);
        return nullptr;
    }
    // Look-ups search the run by id: a file not written in order still works.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const SB_TextEntry& a, const SB_TextEntry& b) { return a.id < b.id; });
    if (run) std::memcpy(run, entries.data(), entries.size() * sizeof(SB_TextEntry));
    page->count = static_cast<uint32_t>(entries.size());
    page->entries = run;
    return page;
}

void FreePage(SE_Context* ctx, SB_TextPage* page) {
    if (page->entries) {
        for (uint32_t i = 0; i < page->count; ++i) SV_Release(&page->entries[i].text);
        SB_Free(ctx, SE_MEMCAT_TEXT_PAGES, page->entries, size_t{page->count} * sizeof(SB_TextEntry));
    }
    SB_FreeRecord(ctx, SE_MEMCAT_TEXT_PAGES, page);
}

// ------------------------------------------------------ text references

int32_t Number(const char* p, const char* end) {
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f')) ++p;
    bool negative = false;
    if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
    int64_t v = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) v = std::min<int64_t>(v * 10 + (*p - '0'), 0x80000000LL);
    v = negative ? -v : v;
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// One expansion's output and what it may still spend.
struct Expansion {
    std::string out;
    int32_t references = 0;
    bool stopped = false;

    // Appends up to the byte bound; false once the expansion has stopped.
    bool Append(const char* from, size_t n) {
        if (stopped) return false;
        if (out.size() + n > SB_TEXT_EXPANSION_BYTES) return Stop(from, n);
        out.append(from, n);
        return true;
    }
    bool Stop(const char* from, size_t n) {
        out.append(from, std::min(n, SB_TEXT_EXPANSION_BYTES - out.size()));
        stopped = true;
        Qel_BannerPrintf("SB_ConvertFormatString() stopped after %d text references and %u bytes\n", references,
                         static_cast<unsigned>(out.size()));
        return false;
    }
};

void Expand(Expansion& e, const char* text, int32_t depth) {
    SE_Context* ctx = g_SEContext;
    int32_t language = g_SystemState ? g_SystemState->languageId : 0;
    const char* rest = text;
    for (;;) {
        const char* open = std::strchr(rest, '{');
        const char* close = std::strchr(rest, '}');
        if (!open || !close || close < open) {
            e.Append(rest, std::strlen(rest));
            return;
        }
        if (!e.Append(rest, static_cast<size_t>(open - rest))) return;
        const char* inner = open + 1;
        const char* comma = static_cast<const char*>(std::memchr(inner, ',', static_cast<size_t>(close - inner)));
        int32_t page = comma ? Number(inner, comma) : 0;
        // A text that refers to itself, directly or round a circle, stops
        // being expanded here and keeps the reference.
        if (page == 0 || depth >= SB_TEXT_REFERENCE_DEPTH) {
            if (!e.Append(open, static_cast<size_t>(close + 1 - open))) return;
        } else {
            if (e.references >= SB_TEXT_REFERENCE_EXPANSIONS) {
                e.Stop(open, 0);
                return;
            }
            e.references++;
            int32_t id = Number(comma + 1, close);
            const ScriptValue* v = SB_ReadText(ctx, language, page, id);
            bool text = v && (v->tag == VARTYPE_STRING || v->tag == VARTYPE_DSTRING);
            const char* found = text ? SV_GetString(v) : nullptr;
            if (found) {
                // The text may change while it is expanded: expand a copy.
                std::string copy = found;
                Expand(e, copy.c_str(), depth + 1);
            } else {
                e.Append("=TextIDNotFound=", 16);
            }
            if (e.stopped) return;
        }
        rest = close + 1;
    }
}

}  // namespace

int SB_LoadText(SE_Context* ctx, int32_t page, int32_t language) {
    if (!ctx || !ValidLanguage(language)) {
        Qel_DPrintf(1, "SB_LoadText: no language %d\n", language);
        return 0;
    }
    char name[64];
    std::snprintf(name, sizeof name, "T\\%d.txt", language * 1000 + page);
    QelFile* f = Qel_fopen(name, "rb", 0);
    if (!f) {
        Qel_DPrintf(1, "SB_LoadText: failed to open %s\n", name);
        return 0;
    }
    std::vector<char> bytes;
    ReadWhole(f, bytes);
    Qel_fclose(f);

    std::vector<ParsedText> texts = ParseTextFile(bytes);
    std::vector<SB_TextImport> records(texts.size());
    SB_TextImportList list{nullptr, nullptr};
    for (size_t i = 0; i < texts.size(); ++i) {
        SB_TextImport& r = records[i];
        r.id = texts[i].id;
        r.text = texts[i].text.c_str();
        r.length = static_cast<uint32_t>(texts[i].text.size());
        r.prev = list.tail;
        r.next = nullptr;
        if (list.tail) list.tail->next = &r;
        else list.head = &r;
        list.tail = &r;
    }
    SB_MergeTextPage(ctx, language, page, &list);
    return 1;
}

int SB_SaveAllTexts(const char* name) {
    SE_Context* ctx = g_SEContext;
    std::string path = SaveFileName(name);
    QelFile* f = ctx ? Qel_fopen(path.c_str(), "wb", 0) : nullptr;
    if (!f) {
        Qel_ErrPrintf("SB_SaveAllTexts() Unable to open text save file %s\n", path.c_str());
        return 0;
    }
    Out o;
    o.Raw(kSaveCookie, 4);
    o.U32(SE_LANGUAGE_SLOTS);
    for (QelTable* table : ctx->languages) {
        o.U32(Qel_TableGetCount(table));
        // The chains in bucket order are the table's enumeration order, and
        // also reach a page stored under key 0.
        for (uint32_t b = 0; table && table->buckets && b < table->bucketCount; ++b)
            for (const QelTableEntry* e = table->buckets[b]; e; e = e->next)
                PutPage(ctx, o, e->key, reinterpret_cast<const SB_TextPage*>(e->value));
    }
    o.Raw(kSaveEndCookie, 4);
    bool written = Qel_fwriteBlock(f, 1, o.bytes.size(), o.bytes.data()) == o.bytes.size();
    written = Qel_fclose(f) == 0 && written;
    if (!written) {
        Qel_ErrPrintf("SB_SaveAllTexts() Error writing text save file %s\n", path.c_str());
        return 0;
    }
    return 1;
}

int SB_LoadAllTexts(SE_Context* ctx, const char* name) {
    std::string path = SaveFileName(name);
    QelFile* f = ctx ? Qel_fopen(path.c_str(), "rb", 0) : nullptr;
    if (!f) {
        Qel_ErrPrintf("SB_LoadAllTexts() Unable to open text save file %s\n", path.c_str());
        return 0;
    }
    In in{f};
    uint32_t slots = 0;
    if (!in.Cookie(kSaveCookie) || !in.U32(slots)) {
        Qel_ErrPrintf("SB_LoadAllTexts() Wrong cookie in save file!\n");
        Qel_fclose(f);
        return 0;
    }
    if (slots > static_cast<uint32_t>(SE_LANGUAGE_SLOTS)) {
        Qel_ErrPrintf("SB_LoadAllTexts() %u language slots in save file, at most %d!\n", slots, SE_LANGUAGE_SLOTS);
        Qel_fclose(f);
        return 0;
    }
    bool ok = true;
    for (uint32_t slot = 0; slot < slots && ok; ++slot) {
        uint32_t pages;
        if (!(ok = in.U32(pages)) || pages == 0) continue;
        // The slot's pages are replaced as a whole.
        SB_FreeTextLanguage(ctx, static_cast<int32_t>(slot));
        QelTable* table = Qel_TableCreate();
        ctx->languages[slot] = table;
        if (!table) {
            ok = false;
            break;
        }
        for (uint32_t k = 0; k < pages && ok; ++k) {
            uint32_t pageId, count;
            SB_TextPage* page = nullptr;
            ok = in.U32(pageId) && in.U32(count) && (page = ReadPage(ctx, in, count)) != nullptr;
            if (!ok) break;
            if (auto* old = reinterpret_cast<SB_TextPage*>(Qel_TableGet(table, pageId))) FreePage(ctx, old);
            if (!Qel_TableSet(table, pageId, reinterpret_cast<uintptr_t>(page)) && !Qel_TableFind(table, pageId)) {
                FreePage(ctx, page);
                ok = false;
            }
        }
    }
    if (!ok || !in.Cookie(kSaveEndCookie)) {
        Qel_ErrPrintf("SB_LoadAllTexts() Wrong end cookie in save file!\n");
        Qel_fclose(f);
        return 0;
    }
    Qel_fclose(f);
    return 1;
}

char* SB_ConvertFormatString(const char* text) {
    Expansion e;
    if (text) Expand(e, text, 0);
    return Qel_StrDup(e.out.c_str());
}
