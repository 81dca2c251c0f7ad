// Script values: the tagged cell every datum of a story lives in, the records
// its payload points to, and the small operations every other script module
// uses (release, copy, typed assignments, truth tests, texts).
#pragma once

#include <cstdint>

struct SE_Context;
struct SE_Task;
struct StoryInstance;
struct SAR;
struct SV_TableRec;
struct StoryVarDesc;

// Tags of a ScriptValue. 6, 8 and 12 are invalid tags.
enum : uint8_t {
    VARTYPE_UNDEFINED = 0,
    VARTYPE_INTEGER = 1,
    VARTYPE_STRING = 2,  // static story string number
    VARTYPE_ARRAY = 3,
    VARTYPE_TABLE = 4,
    VARTYPE_TASK = 5,
    VARTYPE_OBJECT = 7,
    VARTYPE_NULL = 8,
    VARTYPE_DSTRING = 9,
    VARTYPE_FLOAT = 10,
    VARTYPE_USER = 11,
    VARTYPE_ADDRESS = 13,
    VARTYPE_QUAD = 14,
};

// Dynamic string record, shared by reference count and entered in the
// context's string table under its id.
struct SV_DString {
    uint32_t id;
    int32_t refCount;
    char* text;       // length + 1 bytes, the last a NUL
    uint32_t length;  // bytes of text; a text read from a file may hold zero bytes
    // SV_TextHash of text, set wherever text is set: a table finds a key it
    // shares without reading the text again. In the record's padding.
    uint32_t hash;
};
static_assert(sizeof(SV_DString) == 24, "the hash lives in the padding of the record");

// The table hash of a text, before the bucket mask: h = 2h + byte up to the
// first zero byte.
inline uint32_t SV_TextHash(const char* text) {
    uint32_t h = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) h = 2 * h + *p;
    return h;
}

// USER records: the first word is the reference count.
struct SV_UserRecord {
    int32_t refCount;
    uint8_t byte0;
    uint8_t byte1;
    uint16_t word;
};

// One tag byte and an 8-byte payload. Every write sets all 8 payload bytes;
// integer-like payloads are kept sign-extended so the low 32 bits read back
// through `i`. FLOAT and QUAD keep their value inline (a copy duplicates it).
struct ScriptValue {
    uint8_t tag;
    union {
        uint64_t bits;  // the whole payload (first: `ScriptValue v{}` clears it)
        int32_t i;      // INTEGER, STRING number, ADDRESS
        uint32_t u;
        int64_t q;  // QUAD
        double f;   // FLOAT
        void* ptr;
        SAR* array;
        SV_TableRec* table;
        SE_Task* task;
        StoryInstance* object;
        SV_DString* dstring;
        SV_UserRecord* user;
    };
};
static_assert(sizeof(ScriptValue) == 16, "a script value is a tag and an 8-byte payload");

// The context the value code works in (set when the context is initialised).
extern SE_Context* g_SEContext;

ScriptValue* SV_Release(ScriptValue* v);
ScriptValue* SV_Copy(const ScriptValue* src, ScriptValue* dst);
// Moves src into dst (dst released first); src is left undefined.
ScriptValue* SV_Move(ScriptValue* src, ScriptValue* dst);

ScriptValue* SV_AssignInt(ScriptValue* v, int32_t n);
ScriptValue* SV_AssignAddress(ScriptValue* v, uint32_t position);
ScriptValue* SV_AssignStaticString(ScriptValue* v, uint32_t number);
ScriptValue* SV_AssignFloat(ScriptValue* v, double d);
ScriptValue* SV_AssignQuad(ScriptValue* v, int64_t q);
ScriptValue* SV_AssignString(ScriptValue* v, const char* text);
ScriptValue* SV_AssignDString(ScriptValue* v, const char* text, int32_t n);
// A new DSTRING of exactly n bytes, zero bytes included (file contents).
ScriptValue* SV_AssignBytes(ScriptValue* v, const char* bytes, uint32_t n);
ScriptValue* SV_AssignArray(ScriptValue* v, SAR* array);
ScriptValue* SV_AssignObject(ScriptValue* v, StoryInstance* object);
ScriptValue* SV_AssignTable(ScriptValue* v, SV_TableRec* table);
ScriptValue* SV_AssignTask(ScriptValue* v, SE_Task* task);
ScriptValue* SV_TableAlloc(ScriptValue* v);
ScriptValue* SV_InitVariable(ScriptValue* v, const StoryVarDesc* desc);

int SV_IsTrue(const ScriptValue* v);
int SV_IsFalse(const ScriptValue* v);

// Text of a STRING or DSTRING value, null for every other tag.
const char* SV_GetString(const ScriptValue* v);
// Bytes of a STRING's text, or of a DSTRING (zero bytes included).
int32_t SV_GetStringLength(const ScriptValue* v);

// Writes a DSTRING with the value's display text into dst; returns that text.
const char* SV_ToString(ScriptValue* dst, const ScriptValue* v);

// The display text of a value for one message line; released with the helper.
struct SV_TextOf {
    ScriptValue cell{};
    const char* text;
    explicit SV_TextOf(const ScriptValue* v) : text(SV_ToString(&cell, v)) {}
    ~SV_TextOf() { SV_Release(&cell); }
    SV_TextOf(const SV_TextOf&) = delete;
    SV_TextOf& operator=(const SV_TextOf&) = delete;
};

// Frees a DSTRING record whose count reached 0 (used by the release path and
// by owners that replace a text in place).
void SV_DStringFree(SV_DString* ds);
