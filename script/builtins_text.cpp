#include "script/builtins_text.h"

#include "script/builtins_args.h"

#include <cstring>

#include "base/file.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/regex.h"
#include "base/table.h"
#include "script/arrays.h"
#include "script/format.h"
#include "script/loader.h"
#include "script/memory.h"
#include "script/tasks.h"

// Argument i, or null past the argument count (never reads beyond the frame).
static const ScriptValue* Arg(const ScriptValue* args, int32_t argc, int32_t i) {
    return args && i < argc ? &args[i] : nullptr;
}
static const char* TextArg(const ScriptValue* args, int32_t argc, int32_t i) {
    return SV_GetString(Arg(args, argc, i));
}
static int32_t IntArg(const ScriptValue* args, int32_t argc, int32_t i) {
    const ScriptValue* v = Arg(args, argc, i);
    return v ? v->i : 0;
}

namespace {
// A text buffer of the script's memory (category 13), length + 1 bytes.
struct TextBuffer {
    SE_Context* ctx;
    size_t size = 0;
    char* text = nullptr;
    TextBuffer(SE_Context* c, size_t length) : ctx(c) {
        if (length < SIZE_MAX) {
            text = static_cast<char*>(SB_Alloc(ctx, SE_MEMCAT_TEXT, SE_MEM_ZERO, length + 1));
            if (text) size = length + 1;
        }
    }
    ~TextBuffer() {
        if (text) SB_Free(ctx, SE_MEMCAT_TEXT, text, size);
    }
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;
};
}  // namespace

// --- formatted text ---

namespace {
// A formatted text in a fresh buffer: measured first, then written into
// exactly the measured length + 1 bytes. Null text on a failed allocation.
struct Formatted {
    TextBuffer buf;
    Formatted(SE_Context* ctx, const char* format, const ScriptValue* values, int32_t count)
        : buf(ctx, SV_FormatValue(nullptr, format, values, count)) {
        if (buf.text) SV_FormatValue(buf.text, format, values, count);
    }
    const char* text() const { return buf.text; }
    size_t length() const { return buf.size ? buf.size - 1 : 0; }
};
}  // namespace

// The values after argument `first` of a call.
static const ScriptValue* Rest(const ScriptValue* args, int32_t argc, int32_t first, int32_t* count) {
    *count = argc > first ? argc - first : 0;
    return *count ? args + first : nullptr;
}

int32_t SE_SPrintf(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    int32_t count;
    const ScriptValue* values = Rest(args, argc, 1, &count);
    Formatted f(ctx, TextArg(args, argc, 0), values, count);
    return SE_AnswerText(ctx, task, f.text());
}

int32_t SE_VSPrintf(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const ScriptValue* values = nullptr;
    int32_t count = 0;
    ScriptValue* array = argc >= 2 ? &args[1] : nullptr;
    // Anything but an array formats with no values.
    if (array && array->tag == VARTYPE_ARRAY && array->array) {
        int32_t n = SV_ArraySize(array);
        if (n > 0 && SV_ArrayRead(array, 0)) {  // makes the elements exist
            values = array->array->elements;
            count = n;
        }
    }
    Formatted f(ctx, TextArg(args, argc, 0), values, count);
    return SE_AnswerText(ctx, task, f.text());
}

int32_t SE_FPrintf(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    int32_t handle = IntArg(args, argc, 0);
    const char* format = TextArg(args, argc, 1);
    auto* file = reinterpret_cast<QelFile*>(
        ctx && ctx->fileTable && handle > 0 ? Qel_TableGet(ctx->fileTable, static_cast<uint32_t>(handle)) : 0);
    if (!file) {
        Qel_BannerPrintf("SE_FPrintf(%s): trying to write to nonexisting filehandle %d\n", format ? format : "",
                         handle);
        return SE_AnswerInt(ctx, task, 0);
    }
    int32_t count;
    const ScriptValue* values = Rest(args, argc, 2, &count);
    Formatted f(ctx, format, values, count);
    if (!f.text()) return SE_AnswerText(ctx, task, "");
    size_t written = Qel_fwriteBlock(file, 1, f.length(), f.text());
    return SE_AnswerInt(ctx, task, static_cast<int32_t>(written));
}

int32_t SE_DMprintf(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    uint32_t mask = static_cast<uint32_t>(IntArg(args, argc, 0));
    if (mask && g_SystemState && (g_SystemState->debugFlags & mask) != mask) return SE_AnswerInt(ctx, task, 0);
    int32_t count;
    const ScriptValue* values = Rest(args, argc, 2, &count);
    Formatted f(ctx, TextArg(args, argc, 1), values, count);
    if (f.text()) Qel_DPrintfVoid(mask, "%s", f.text());
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_XDMprintf(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args) {
    return SE_DMprintf(ctx, callerModule, task, argc, args);
}

int32_t SE_Dprintf(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    int32_t count;
    const ScriptValue* values = Rest(args, argc, 1, &count);
    Formatted f(ctx, TextArg(args, argc, 0), values, count);
    if (f.text()) {
        int32_t clock = g_SystemState ? g_SystemState->gameClock : 0;
        Qel_BannerPrintf("%d:%d.%03d: %s", task ? static_cast<int>(task->id) : 0, clock / 1000, clock % 1000, f.text());
    }
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_XDprintf(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args) {
    return SE_Dprintf(ctx, callerModule, task, argc, args);
}

// --- codecs ---

static int32_t AnswerCodec(SE_Context* ctx, SE_Task* task, int32_t argc, ScriptValue* args,
                           size_t (*codec)(char*, const char*)) {
    const char* s = TextArg(args, argc, 0);
    TextBuffer buf(ctx, codec(nullptr, s));
    if (!buf.text) return SE_AnswerText(ctx, task, "");
    codec(buf.text, s);
    return SE_AnswerText(ctx, task, buf.text);
}

int32_t SE_StringXMLEncode(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return AnswerCodec(ctx, task, argc, args, SV_XMLEncode);
}
int32_t SE_StringXMLEscape(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return AnswerCodec(ctx, task, argc, args, SV_XMLEscape);
}
int32_t SE_StringXMLQueryDecode(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return AnswerCodec(ctx, task, argc, args, SV_QueryDecode);
}
int32_t SE_StringXMLQueryToUTF8(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return AnswerCodec(ctx, task, argc, args, SV_QueryToUTF8);
}

// --- regular expressions ---

namespace {
// A compiled expression with its own copy of the subject of its last match,
// so that a substitution never reads a text the script has freed since.
struct RegRecord {
    ERegexp* prog;
    char* subject;
    size_t subjectSize;
};
}  // namespace

static char* CopyText(const char* s, size_t* size) {
    *size = std::strlen(s) + 1;
    auto* copy = static_cast<char*>(Int_AllocMem(*size, SE_MEM_TAG));
    if (copy) std::memcpy(copy, s, *size);
    return copy;
}

// Keeps a subject whose matches the expression now points into.
static void KeepSubject(RegRecord* rec, char* subject, size_t size) {
    if (rec->subject) Int_FreeMem(rec->subject, rec->subjectSize, SE_MEM_TAG);
    rec->subject = subject;
    rec->subjectSize = size;
}

static void FreeRegRecord(void* p) {
    auto* rec = static_cast<RegRecord*>(p);
    if (!rec) return;
    eregfree(rec->prog);
    KeepSubject(rec, nullptr, 0);
    Int_FreeRecord(rec, SE_MEM_TAG);
}

static RegRecord* FindReg(SE_Context* ctx, int32_t id) {
    if (!ctx || !ctx->regexpTable || id <= 0) return nullptr;
    return reinterpret_cast<RegRecord*>(Qel_TableGet(ctx->regexpTable, static_cast<uint32_t>(id)));
}

static size_t MatchLength(const ERegexp* prog, int group) {
    const char* s = prog->startp[group];
    const char* e = prog->endp[group];
    return s && e && e > s ? static_cast<size_t>(e - s) : 0;
}

// An upper bound of what eregsub makes of the template for the last match.
static size_t SubstitutionSize(const ERegexp* prog, const char* tmpl) {
    size_t n = 0;
    for (const char* p = tmpl; *p;) {
        if (*p == '&') {
            size_t len = MatchLength(prog, 0);
            n += len > 1 ? len : 1;
            p += 1;
        } else if (*p == '\\' && p[1] >= '0' && p[1] <= '9') {
            size_t len = MatchLength(prog, p[1] - '0');
            n += len > 2 ? len : 2;
            p += 2;
        } else if (*p == '\\' && p[1] == '\0') {
            // A template ending in '\' ends here.
            n += 1;
            p += 1;
        } else if (*p == '\\') {
            n += 2;
            p += 2;
        } else {
            n += 1;
            p += 1;
        }
    }
    return n;
}

int32_t SE_RegComp(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* pattern = TextArg(args, argc, 0);
    if (!pattern || !ctx || !ctx->regexpTable) return SE_AnswerInt(ctx, task, 0);
    SB_SetRegExpFree(FreeRegRecord);
    ERegexp* prog = eregcomp(pattern);
    if (!prog) return SE_AnswerInt(ctx, task, 0);
    for (int g = 0; g < EREG_GROUPS; ++g) prog->startp[g] = prog->endp[g] = nullptr;
    auto* rec = Int_AllocRecord<RegRecord>(SE_MEM_TAG);
    if (!rec) {
        eregfree(prog);
        return SE_AnswerInt(ctx, task, 0);
    }
    *rec = RegRecord{prog, nullptr, 0};
    uint32_t id = Qel_TableAdd(ctx->regexpTable, reinterpret_cast<uintptr_t>(rec));
    if (!id) FreeRegRecord(rec);
    return SE_AnswerInt(ctx, task, static_cast<int32_t>(id));
}

int32_t SE_RegExec(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    RegRecord* rec = FindReg(ctx, IntArg(args, argc, 0));
    const char* s = TextArg(args, argc, 1);
    if (!rec || !s) return SE_AnswerInt(ctx, task, 0);
    size_t size;
    char* copy = CopyText(s, &size);
    if (!copy) return SE_AnswerInt(ctx, task, 0);
    int matched = eregexec(rec->prog, copy);
    // A failed search leaves the last match as it was, so its subject stays.
    if (matched) KeepSubject(rec, copy, size);
    else Int_FreeMem(copy, size, SE_MEM_TAG);
    return SE_AnswerInt(ctx, task, matched ? 1 : 0);
}

int32_t SE_RegSub(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    RegRecord* rec = FindReg(ctx, IntArg(args, argc, 0));
    const char* tmpl = TextArg(args, argc, 1);
    if (!rec || !tmpl) return SE_AnswerText(ctx, task, "");
    TextBuffer buf(ctx, SubstitutionSize(rec->prog, tmpl));
    if (!buf.text) return SE_AnswerText(ctx, task, "");
    eregsub(rec->prog, tmpl, buf.text, buf.size);
    return SE_AnswerText(ctx, task, buf.text);
}

// Runs the expression over every match in subject: the first search from the
// start, each further one from the end of the previous match (one byte on
// after an empty match). Returns the number of matches.
template <class OnMatch>
static int32_t EachMatch(ERegexp* prog, const char* subject, OnMatch onMatch) {
    int32_t matches = 0;
    for (const char* at = subject; eregexec(prog, at);) {
        ++matches;
        onMatch();
        const char* next = prog->endp[0];
        if (!next || next < at) break;  // only a damaged match
        if (next == prog->startp[0]) {
            if (*next == '\0') break;
            ++next;
        }
        at = next;
    }
    return matches;
}

int32_t SE_RegSubGlobal(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    RegRecord* rec = FindReg(ctx, IntArg(args, argc, 0));
    const char* s = TextArg(args, argc, 1);
    const char* tmpl = TextArg(args, argc, 2);
    if (!rec || !s || !tmpl) return SE_AnswerText(ctx, task, "");
    size_t copySize;
    char* copy = CopyText(s, &copySize);
    if (!copy) return SE_AnswerText(ctx, task, "");
    size_t total = 0;
    int32_t matches = EachMatch(rec->prog, copy, [&] { total += SubstitutionSize(rec->prog, tmpl); });
    if (!matches) {
        Int_FreeMem(copy, copySize, SE_MEM_TAG);
        return SE_AnswerText(ctx, task, "");
    }
    KeepSubject(rec, copy, copySize);
    TextBuffer buf(ctx, total);
    if (!buf.text) return SE_AnswerText(ctx, task, "");
    size_t used = 0;
    EachMatch(rec->prog, copy, [&] {
        if (used + 1 < buf.size) {
            eregsub(rec->prog, tmpl, buf.text + used, buf.size - used);
            used += std::strlen(buf.text + used);
        }
    });
    return SE_AnswerText(ctx, task, buf.text);
}

int32_t SE_RegFree(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    int32_t id = IntArg(args, argc, 0);
    if (FindReg(ctx, id))
        FreeRegRecord(reinterpret_cast<void*>(Qel_TableRemove(ctx->regexpTable, static_cast<uint32_t>(id))));
    return SE_AnswerInt(ctx, task, 0);
}
