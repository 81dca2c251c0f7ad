// Text pages: per language a table from page id to a page of (text id, text)
// entries sorted by id; the markup text import that fills them.
#pragma once

#include <cstdint>

#include "script/context.h"

struct XmlNode;

struct SB_TextEntry {
    int32_t id;
    ScriptValue text;  // STRING or DSTRING
};

struct SB_TextPage {
    uint32_t count;
    SB_TextEntry* entries;  // sorted ascending by id
};

// One parsed text handed to the page builder; a list with head and tail.
struct SB_TextImport {
    SB_TextImport* next;
    SB_TextImport* prev;
    int32_t id;
    uint32_t length;
    const char* text;
};
struct SB_TextImportList {
    SB_TextImport* head;
    SB_TextImport* tail;
};

// The entry value of (page, id) in a language, or null after a log line.
ScriptValue* SB_ReadText(SE_Context* ctx, int32_t language, int32_t page, int32_t id);
// Text of (page, id) in the current language; "=TextIDNotFound=" when missing.
const char* SB_GetText(int32_t page, int32_t id);
// Silent lookup in a language table already held.
ScriptValue* SB_FindTextInTable(QelTable* language, int32_t page, int32_t id);
// Frees every page of every language.
void SB_FreeTexts(SE_Context* ctx);
// Frees every page of one language and leaves its slot null.
void SB_FreeTextLanguage(SE_Context* ctx, int32_t language);

// The page builder: merges the listed texts into (language, page), making the
// language table and the page when missing; a text whose id is on the page
// replaces that entry's text in place. 0 for a language outside 0..998.
int SB_MergeTextPage(SE_Context* ctx, int32_t language, int32_t page, const SB_TextImportList* list);

// Markup import of texts.
int XMLImportText(SE_Context* ctx, XmlNode* root);
int XMLImportTextLanguage(SE_Context* ctx, XmlNode* element);
int XMLImportTextPage(SE_Context* ctx, int32_t language, XmlNode* element);

// Backslash escapes and parenthesised remarks, rewritten in place; returns the
// new length.
int32_t SB_UnescapeText(int32_t length, char* text);
