#include "script/builtins_strings.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "base/general.h"
#include "base/log.h"
#include "base/random.h"
#include "base/strings.h"
#include "base/utf8.h"
#include "script/arrays.h"
#include "script/builtins_args.h"
#include "script/context.h"
#include "script/lookup.h"
#include "script/memory.h"
#include "script/tables.h"
#include "script/tasks.h"
#include "script/textfiles.h"
#include "script/textpages.h"
#include "system/entry.h"

namespace {

// Answers a copy of a value; null answers INTEGER 0.
int32_t AnswerCopy(SE_Context* ctx, SE_Task* task, const ScriptValue* v) {
    if (!v) return SE_AnswerInt(ctx, task, 0);
    ScriptValue copy{};
    SV_Copy(v, &copy);
    return SE_AnswerMove(ctx, task, &copy);
}

// A scratch text of length + 1 bytes booked as a text buffer; freed by its
// destructor once the answer has copied it.
class ScratchText {
public:
    ScratchText(SE_Context* ctx, size_t length) : ctx_(ctx), size_(length + 1) {
        if (length < 0x7FFFFFFF) buf_ = static_cast<char*>(SB_Alloc(ctx, SE_MEMCAT_TEXT, SE_MEM_ZERO, size_));
    }
    ~ScratchText() {
        if (buf_) SB_Free(ctx_, SE_MEMCAT_TEXT, buf_, size_);
    }
    ScratchText(const ScratchText&) = delete;
    ScratchText& operator=(const ScratchText&) = delete;
    char* get() const { return buf_; }

private:
    SE_Context* ctx_;
    size_t size_;
    char* buf_ = nullptr;
};

// An argument that array and table operations may work on; a missing one
// is a spare INTEGER 0.
struct MutableArg {
    ScriptValue spare{};
    ScriptValue* v;
    MutableArg(ScriptValue* args, int32_t argc, int32_t i) {
        spare.tag = VARTYPE_INTEGER;
        v = i < argc && args ? &args[i] : &spare;
    }
};

int32_t CurrentLanguage() { return g_SystemState ? g_SystemState->languageId : 0; }

const char* CurrentAddress(SE_Context* ctx, char (&where)[50]) {
    where[0] = '\0';
    if (ctx && ctx->currentTask) SE_GetTaskDebugAddress(where, ctx->currentTask, ctx);
    return where;
}

int32_t Length(const char* s) { return static_cast<int32_t>(std::strlen(s)); }

// The (language, page, id) of the text calls by their argument count.
struct TextRef {
    int32_t language, page, id;
};
TextRef ReadTextArgs(ScriptValue* args, int32_t argc) {
    if (argc >= 3) return {SE_ArgInt(args, argc, 1), SE_ArgInt(args, argc, 0), SE_ArgInt(args, argc, 2)};
    if (argc == 2) return {CurrentLanguage(), SE_ArgInt(args, argc, 0), SE_ArgInt(args, argc, 1)};
    return {CurrentLanguage(), 0, SE_ArgInt(args, argc, 0)};
}

// Occurrences of sub in s, each search resuming after the previous match.
size_t CountMatches(const char* s, const char* sub, size_t subLength) {
    size_t n = 0;
    for (const char* p = std::strstr(s, sub); p; p = std::strstr(p + subLength, sub)) ++n;
    return n;
}

// A new array of n elements, or an undefined value when it cannot be made.
ScriptValue NewArray(int32_t n) {
    ScriptValue a{};
    SV_ArrayAlloc(&a, n);
    return a;
}

int32_t NoEffect(SE_Context* ctx, SE_Task* task) { return SE_AnswerInt(ctx, task, 0); }

}  // namespace

// --- texts ---

int32_t SE_ReadText(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    TextRef r = ReadTextArgs(args, argc);
    if (const ScriptValue* v = SB_ReadText(ctx, r.language, r.page, r.id)) return AnswerCopy(ctx, task, v);
    char text[64];
    if (argc >= 3) std::snprintf(text, sizeof text, "ReadText%d-%d-%d", r.page, r.language, r.id);
    else if (argc == 2) std::snprintf(text, sizeof text, "ReadText%d-%d", r.page, r.id);
    else std::snprintf(text, sizeof text, "ReadText%d", r.id);
    return SE_AnswerText(ctx, task, text);
}

int32_t SE_ExistsText(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    TextRef r = ReadTextArgs(args, argc);
    // Language ids outside the table are simply not found.
    if (r.language < 0 || r.language >= SE_LANGUAGE_SLOTS || !ctx->languages[r.language])
        return SE_AnswerInt(ctx, task, 0);
    return AnswerCopy(ctx, task, SB_FindTextInTable(ctx->languages[r.language], r.page, r.id));
}

int32_t SE_GetLanguage(SE_Context* ctx, int32_t, SE_Task* task, int32_t, ScriptValue*) {
    return SE_AnswerInt(ctx, task, CurrentLanguage());
}

int32_t SE_FreeText(SE_Context* ctx, int32_t, SE_Task* task, int32_t, ScriptValue*) {
    SB_FreeTexts(ctx);
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_LoadText(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return SE_AnswerInt(ctx, task, SE_LoadTextsOfPage(ctx, SE_ArgInt(args, argc, 0)));
}

int32_t SE_LoadTextPage(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    int32_t language = argc >= 2 ? SE_ArgInt(args, argc, 1) : CurrentLanguage();
    return SE_AnswerInt(ctx, task, SB_LoadText(ctx, SE_ArgInt(args, argc, 0), language));
}

int32_t SE_ConvertFormatString(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    char* text = SB_ConvertFormatString(SE_ArgText(args, argc, 0));
    SE_AnswerText(ctx, task, text ? text : "");
    Qel_StrFree(text);
    return 1;
}

// A save name that is no text writes or reads nothing.
int32_t SE_SaveAllTexts(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* name = SE_ArgText(args, argc, 0);
    return SE_AnswerInt(ctx, task, name ? SB_SaveAllTexts(name) : 0);
}

int32_t SE_LoadAllTexts(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* name = SE_ArgText(args, argc, 0);
    return SE_AnswerInt(ctx, task, name ? SB_LoadAllTexts(ctx, name) : 0);
}

// --- strings ---

int32_t SE_StringLen(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* s = SE_ArgText(args, argc, 0);
    return SE_AnswerInt(ctx, task, s ? Length(s) : 0);
}

int32_t SE_StringNumChars(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return SE_AnswerInt(ctx, task, Qel_Utf8CharCount(SE_ArgText(args, argc, 0)));
}

int32_t SE_StringNextCharPos(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* s = SE_ArgText(args, argc, 0);
    return SE_AnswerInt(ctx, task, s ? Qel_Utf8NextChar(s, SE_ArgInt(args, argc, 1)) : 0);
}

int32_t SE_StringPrevCharPos(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* s = SE_ArgText(args, argc, 0);
    return SE_AnswerInt(ctx, task, s ? Qel_Utf8PrevChar(s, SE_ArgInt(args, argc, 1)) : 0);
}

int32_t SE_StringReadChar(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* s = SE_ArgText(args, argc, 0);
    int32_t i = SE_ArgInt(args, argc, 1);
    if (!s) return SE_AnswerInt(ctx, task, 0);
    if (i < 0 || i >= Length(s)) {
        char where[50];
        Qel_BannerPrintf("SE_StringReadChar(%s,%d) %s invalid offset %d!\n", s, i, CurrentAddress(ctx, where), i);
        return SE_AnswerInt(ctx, task, 0);
    }
    return SE_AnswerInt(ctx, task, static_cast<uint8_t>(s[i]));
}

int32_t SE_StringWriteChar(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* s = SE_ArgText(args, argc, 0);
    int32_t c = SE_ArgInt(args, argc, 1);
    int32_t i = SE_ArgInt(args, argc, 2);
    if (!s) return SE_AnswerText(ctx, task, "");
    int32_t n = Length(s);
    ScratchText out(ctx, static_cast<size_t>(n));
    if (!out.get()) return SE_AnswerText(ctx, task, "");
    std::memcpy(out.get(), s, static_cast<size_t>(n));
    if (i < 0 || i >= n) {
        char where[50];
        Qel_BannerPrintf("SE_StringWriteChar(%s,%d,%c) %s invalid offset %d!\n", s, i, c & 0xFF,
                         CurrentAddress(ctx, where), i);
    } else {
        out.get()[i] = static_cast<char>(c);
    }
    return SE_AnswerText(ctx, task, out.get());
}

int32_t SE_StringStr(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* s = SE_ArgText(args, argc, 0);
    const char* sub = SE_ArgText(args, argc, 1);
    const char* p = s && sub ? std::strstr(s, sub) : nullptr;
    return SE_AnswerInt(ctx, task, p ? static_cast<int32_t>(p - s) : -1);
}

int32_t SE_StringChr(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* s = SE_ArgText(args, argc, 0);
    char c = static_cast<char>(SE_ArgInt(args, argc, 1));
    int32_t from = std::max(SE_ArgInt(args, argc, 2), 0);
    if (!s) return SE_AnswerInt(ctx, task, -1);
    int32_t n = Length(s);
    for (int32_t i = from; i < n; ++i)
        if (s[i] == c) return SE_AnswerInt(ctx, task, i);
    return SE_AnswerInt(ctx, task, -1);
}

int32_t SE_StringRChr(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* s = SE_ArgText(args, argc, 0);
    char c = static_cast<char>(SE_ArgInt(args, argc, 1));
    if (!s) return SE_AnswerInt(ctx, task, -1);
    for (int32_t i = Length(s) - 1; i >= 0; --i)
        if (s[i] == c) return SE_AnswerInt(ctx, task, i);
    return SE_AnswerInt(ctx, task, -1);
}

int32_t SE_StringSub(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* s = SE_ArgText(args, argc, 0);
    uint32_t start = static_cast<uint32_t>(SE_ArgInt(args, argc, 1));
    if (!s) return SE_AnswerText(ctx, task, "");
    uint32_t n = static_cast<uint32_t>(Length(s));
    if (start >= n) return SE_AnswerText(ctx, task, "");
    uint32_t end = n;
    if (argc > 2) {
        int32_t len = SE_ArgInt(args, argc, 2);
        if (len >= 0 && int64_t{start} + len < int64_t{n}) {
            end = start + static_cast<uint32_t>(len);
            // Never cut a character in two.
            while (end < n && Qel_Utf8IsContinuation(static_cast<uint8_t>(s[end]))) ++end;
        }
    }
    ScratchText out(ctx, end - start);
    if (!out.get()) return SE_AnswerText(ctx, task, "");
    std::memcpy(out.get(), s + start, end - start);
    return SE_AnswerText(ctx, task, out.get());
}

int32_t SE_StringToInt(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return SE_AnswerInt(ctx, task, SE_TextToInt(SE_ArgText(args, argc, 0)));
}

int32_t SE_TextToInt(const char* s) {
    if (!s) return 0;
    while (std::isspace(static_cast<unsigned char>(*s))) ++s;
    bool negative = *s == '-';
    if (*s == '-' || *s == '+') ++s;
    int64_t v = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        v = v * 10 + (*s - '0');
        if (v > int64_t{INT32_MAX} + 1) v = int64_t{INT32_MAX} + 1;  // saturate, never overflow
    }
    if (negative) v = -v;
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

int32_t SE_StringSplit(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* s = SE_ArgText(args, argc, 0);
    const char* sep = SE_ArgText(args, argc, 1);
    if (!s) return SE_AnswerInt(ctx, task, 0);
    // An empty separator would match everywhere without moving on: the text stays whole.
    size_t sepLength = sep ? std::strlen(sep) : 0;
    size_t count = sepLength ? CountMatches(s, sep, sepLength) : 0;
    if (count >= static_cast<size_t>(INT32_MAX)) return SE_AnswerInt(ctx, task, 0);
    ScriptValue a = NewArray(static_cast<int32_t>(count + 1));
    if (a.tag != VARTYPE_ARRAY) return SE_AnswerInt(ctx, task, 0);
    const char* from = s;
    for (int32_t j = 0; j < static_cast<int32_t>(count); ++j) {
        const char* match = std::strstr(from, sep);
        SV_ArrayWriteDString(&a, j, from, static_cast<int32_t>(match - from));
        from = match + sepLength;
    }
    SV_ArrayWriteString(&a, static_cast<int32_t>(count), from);
    return SE_AnswerMove(ctx, task, &a);
}

int32_t SE_StringSubst(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* s = SE_ArgText(args, argc, 0);
    const char* old = SE_ArgText(args, argc, 1);
    const char* with = SE_ArgText(args, argc, 2);
    size_t oldLength = old ? std::strlen(old) : 0;
    size_t count = s && with && oldLength ? CountMatches(s, old, oldLength) : 0;
    if (count == 0) return AnswerCopy(ctx, task, SE_ArgValue(args, argc, 0));
    // Sized from the real number of matches.
    size_t sLength = std::strlen(s), withLength = std::strlen(with);
    size_t size = sLength - count * oldLength + count * withLength;
    ScratchText out(ctx, size);
    if (!out.get()) return SE_AnswerText(ctx, task, "");
    char* w = out.get();
    const char* from = s;
    for (const char* match = std::strstr(from, old); match; match = std::strstr(from, old)) {
        std::memcpy(w, from, static_cast<size_t>(match - from));
        w += match - from;
        std::memcpy(w, with, withLength);
        w += withLength;
        from = match + oldLength;
    }
    std::memcpy(w, from, std::strlen(from));
    return SE_AnswerText(ctx, task, out.get());
}

int32_t SE_strcmp(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* a = SE_ArgText(args, argc, 0);
    const char* b = SE_ArgText(args, argc, 1);
    if (!a) return SE_AnswerInt(ctx, task, -2);
    if (!b) return SE_AnswerInt(ctx, task, 2);
    int c = std::strcmp(a, b);
    return SE_AnswerInt(ctx, task, c < 0 ? -1 : c > 0 ? 1 : 0);
}

int32_t SE_stricmp(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* a = SE_ArgText(args, argc, 0);
    const char* b = SE_ArgText(args, argc, 1);
    if (!a) return SE_AnswerInt(ctx, task, -2);
    if (!b) return SE_AnswerInt(ctx, task, 2);
    int c = strcasecmp(a, b);
    return SE_AnswerInt(ctx, task, c < 0 ? -1 : c > 0 ? 1 : 0);
}

int32_t SE_StringCat(SE_Context* ctx, int32_t, SE_Task* task, int32_t, ScriptValue*) {
    return SE_AnswerText(ctx, task, S_GetCommandLine());
}

int32_t SE_StringMul(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    if (argc != 3) return SE_AnswerInt(ctx, task, 0);
    const char* s = SE_ArgText(args, argc, 0);
    if (!s) return SE_AnswerInt(ctx, task, 0);
    int32_t n = Length(s);
    int32_t from = std::max(SE_ArgInt(args, argc, 1), 0);
    int32_t to = std::min(SE_ArgInt(args, argc, 2), n);
    uint32_t x = 0;
    for (int32_t i = from; i < to; ++i) x ^= static_cast<uint8_t>(s[i]);
    return SE_AnswerInt(ctx, task, static_cast<int32_t>(x));
}

// --- arrays ---

int32_t SE_ArrayAlloc(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    ScriptValue a = NewArray(SE_ArgInt(args, argc, 0));
    return SE_AnswerMove(ctx, task, &a);
}

int32_t SE_ArraySize(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return SE_AnswerInt(ctx, task, SV_ArraySize(SE_ArgValue(args, argc, 0)));
}

int32_t SE_ArrayRead(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    MutableArg a(args, argc, 0);
    return AnswerCopy(ctx, task, SV_ArrayRead(a.v, SE_ArgInt(args, argc, 1)));
}

int32_t SE_ArrayWrite(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    MutableArg a(args, argc, 0);
    SV_ArrayWrite(a.v, SE_ArgInt(args, argc, 1), SE_ArgValue(args, argc, 2));
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_ArrayCopy(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    MutableArg dst(args, argc, 0);
    MutableArg src(args, argc, 2);
    int64_t di = SE_ArgInt(args, argc, 1);
    int64_t si = SE_ArgInt(args, argc, 3);
    int64_t end = SE_ArgInt(args, argc, 4);
    int64_t srcSize = SV_ArraySize(src.v);
    int64_t dstSize = SV_ArraySize(dst.v);
    if (end < 0 || end > srcSize) end = srcSize;
    // Pairs below index 0 could never be copied: step over them together.
    int64_t skip = std::max<int64_t>({0, -di, -si});
    di += skip;
    si += skip;
    for (; di < dstSize && si < end; ++di, ++si) {
        const ScriptValue* from = SV_ArrayRead(src.v, static_cast<int32_t>(si));
        if (!from) continue;
        ScriptValue held{};
        SV_Copy(from, &held);  // the same array may be on both sides
        SV_ArrayWrite(dst.v, static_cast<int32_t>(di), &held);
        SV_Release(&held);
    }
    return SE_AnswerInt(ctx, task, 0);
}

// A new array of the elements from..end-1 of a (both already within it).
static ScriptValue CloneRange(ScriptValue* a, int32_t from, int32_t end) {
    ScriptValue out = NewArray(end - from);
    if (out.tag != VARTYPE_ARRAY) return out;
    // Elements of a source not yet materialised are all INTEGER 0, as are the new ones.
    if (a->array && a->array->SAR_Size < 0) return out;
    for (int32_t i = from; i < end; ++i)
        if (const ScriptValue* v = SV_ArrayRead(a, i)) SV_ArrayWrite(&out, i - from, v);
    return out;
}

int32_t SE_ArrayClone(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    MutableArg a(args, argc, 0);
    int32_t n = SV_ArraySize(a.v);
    if (n < 0) return SE_AnswerInt(ctx, task, 0);
    ScriptValue out = CloneRange(a.v, 0, n);
    return SE_AnswerMove(ctx, task, &out);
}

int32_t SE_ArraySubClone(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    MutableArg a(args, argc, 0);
    int32_t n = SV_ArraySize(a.v);
    int32_t from = std::max(SE_ArgInt(args, argc, 1), 0);
    int32_t end = SE_ArgInt(args, argc, 2);
    if (end < 0 || end > n) end = n;
    if (n < 0 || end <= from) return SE_AnswerInt(ctx, task, 0);
    ScriptValue out = CloneRange(a.v, from, end);
    return SE_AnswerMove(ctx, task, &out);
}

int32_t SE_ArrayInsert(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    MutableArg a(args, argc, 0);
    SV_ArrayInsert(a.v, SE_ArgInt(args, argc, 1), SE_ArgValue(args, argc, 2));
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_ArrayAppend(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    MutableArg a(args, argc, 0);
    SV_ArrayInsert(a.v, -1, SE_ArgValue(args, argc, 1));
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_ArrayRemove(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    MutableArg a(args, argc, 0);
    SV_ArrayRemove(a.v, SE_ArgInt(args, argc, 1));
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_ArrayResize(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    MutableArg a(args, argc, 0);
    SV_ArrayResize(a.v, SE_ArgInt(args, argc, 1));
    return SE_AnswerInt(ctx, task, 0);
}

template <void (*Sort)(ScriptValue*, ScriptValue*, int32_t, int32_t, int)>
static int32_t QSort(SE_Context* ctx, SE_Task* task, int32_t argc, ScriptValue* args) {
    MutableArg a(args, argc, 0);
    MutableArg keys(args, argc, 1);
    Sort(a.v, keys.v, SE_ArgInt(args, argc, 2), SE_ArgInt(args, argc, 3), SE_ArgInt(args, argc, 4));
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_QSortByName(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return QSort<SV_ArrayQSortByName>(ctx, task, argc, args);
}

int32_t SE_QSortByInt(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return QSort<SV_ArrayQSortByInt>(ctx, task, argc, args);
}

// --- tables ---

int32_t SE_TableAlloc(SE_Context* ctx, int32_t, SE_Task* task, int32_t, ScriptValue*) {
    ScriptValue t{};
    SV_TableAlloc(&t);
    if (!t.table) SV_Release(&t);
    return SE_AnswerMove(ctx, task, &t);
}

int32_t SE_TableSize(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return SE_AnswerInt(ctx, task, static_cast<int32_t>(SV_TableSize(SE_ArgValue(args, argc, 0))));
}

int32_t SE_TableNew(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    MutableArg t(args, argc, 0);
    return SE_AnswerInt(ctx, task, SV_TableNew(t.v, SE_ArgValue(args, argc, 1)));
}

int32_t SE_TableAdd(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    MutableArg t(args, argc, 0);
    const ScriptValue* key = SE_ArgValue(args, argc, 1);
    const ScriptValue* data = argc > 2 ? SE_ArgValue(args, argc, 2) : key;
    return SE_AnswerInt(ctx, task, SV_TableAdd(t.v, key, data) ? 1 : 0);
}

int32_t SE_TableFind(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    MutableArg t(args, argc, 0);
    return AnswerCopy(ctx, task, SV_TableFind(t.v, SE_ArgValue(args, argc, 1)));
}

int32_t SE_TableExists(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    MutableArg t(args, argc, 0);
    return SE_AnswerInt(ctx, task, SV_TableExists(t.v, SE_ArgValue(args, argc, 1)) ? 1 : 0);
}

int32_t SE_TableNext(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    MutableArg t(args, argc, 0);
    const ScriptValue* key = argc > 1 && !SV_IsFalse(&args[1]) ? &args[1] : nullptr;
    return AnswerCopy(ctx, task, SV_TableNextKey(key, t.v));
}

int32_t SE_TableRemove(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    MutableArg t(args, argc, 0);
    const ScriptValue* key = SE_ArgValue(args, argc, 1);
    const ScriptValue* data = SV_TableFind(t.v, key);
    if (!data) return SE_AnswerInt(ctx, task, 0);
    ScriptValue held{};
    SV_Copy(data, &held);
    SV_TableRemove(t.v, key);
    return SE_AnswerMove(ctx, task, &held);
}

// A new array of the table's keys (or their data) in iteration order.
static int32_t TableColumn(SE_Context* ctx, SE_Task* task, int32_t argc, ScriptValue* args, bool data) {
    MutableArg t(args, argc, 0);
    int32_t n = static_cast<int32_t>(SV_TableSize(t.v));
    ScriptValue out = NewArray(n);
    if (out.tag != VARTYPE_ARRAY) return SE_AnswerInt(ctx, task, 0);
    int32_t i = 0;
    for (ScriptValue* key = SV_TableNextKey(nullptr, t.v); key && i < n; key = SV_TableNextKey(key, t.v), ++i)
        SV_ArrayWrite(&out, i, data ? SV_TableEntryData(key) : key);
    return SE_AnswerMove(ctx, task, &out);
}

int32_t SE_TableKeys(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return TableColumn(ctx, task, argc, args, false);
}

int32_t SE_TableData(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return TableColumn(ctx, task, argc, args, true);
}

int32_t SE_TableRandomKey(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    MutableArg t(args, argc, 0);
    int32_t n = static_cast<int32_t>(SV_TableSize(t.v));
    if (n <= 0) return SE_AnswerInt(ctx, task, 0);
    int32_t k = Qel_Rand(n);
    ScriptValue* key = nullptr;
    for (int32_t step = 0; step <= k; ++step) {
        key = SV_TableNextKey(key, t.v);
        if (!key) return SE_AnswerInt(ctx, task, 0);
    }
    return AnswerCopy(ctx, task, key);
}

// --- calls without effect ---

int32_t SE_Assert(SE_Context* ctx, int32_t, SE_Task* task, int32_t, ScriptValue*) { return NoEffect(ctx, task); }
int32_t SE_Trace(SE_Context* ctx, int32_t, SE_Task* task, int32_t, ScriptValue*) { return NoEffect(ctx, task); }
int32_t SE_SetProfiling(SE_Context* ctx, int32_t, SE_Task* task, int32_t, ScriptValue*) { return NoEffect(ctx, task); }
int32_t SE_SignData(SE_Context* ctx, int32_t, SE_Task* task, int32_t, ScriptValue*) { return NoEffect(ctx, task); }
int32_t SE_UpdateLocation(SE_Context* ctx, int32_t, SE_Task* task, int32_t, ScriptValue*) {
    return NoEffect(ctx, task);
}

int32_t SE_AutoDoc(SE_Context*, int32_t, SE_Task*, int32_t, ScriptValue*) { return 1; }
