#include "script/textpages.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "base/general.h"
#include "base/log.h"
#include "base/markup.h"
#include "base/table.h"
#include "script/memory.h"

static bool ValidLanguage(int32_t language) { return language >= 0 && language < SE_LANGUAGE_SLOTS; }

static SB_TextPage* FindPage(QelTable* table, int32_t page) {
    return table ? reinterpret_cast<SB_TextPage*>(Qel_TableGet(table, static_cast<uint32_t>(page))) : nullptr;
}

static SB_TextEntry* FindEntry(SB_TextPage* p, int32_t id) {
    if (!p || !p->entries) return nullptr;
    SB_TextEntry* end = p->entries + p->count;
    SB_TextEntry* e = std::lower_bound(p->entries, end, id, [](const SB_TextEntry& a, int32_t v) { return a.id < v; });
    return e != end && e->id == id ? e : nullptr;
}

ScriptValue* SB_ReadText(SE_Context* ctx, int32_t language, int32_t page, int32_t id) {
    QelTable* table = ctx && ValidLanguage(language) ? ctx->languages[language] : nullptr;
    if (!table) {
        Qel_BannerPrintf("SB_ReadText(%d,%d,%d) TextPageTable for language %d not found!\n", page, language, id,
                         language);
        return nullptr;
    }
    SB_TextPage* p = FindPage(table, page);
    if (!p) {
        Qel_BannerPrintf("SB_ReadText(%d,%d,%d) TextPage %d not found!\n", page, language, id, page);
        return nullptr;
    }
    SB_TextEntry* e = FindEntry(p, id);
    if (!e) {
        Qel_BannerPrintf("SB_ReadText(%d,%d,%d) TextID %d not found!\n", page, language, id, id);
        return nullptr;
    }
    return &e->text;
}

const char* SB_GetText(int32_t page, int32_t id) {
    int32_t language = g_SystemState ? g_SystemState->languageId : 0;
    const ScriptValue* v = SB_ReadText(g_SEContext, language, page, id);
    if (v && v->tag == VARTYPE_STRING) return SB_String(g_SEContext, v->u);
    if (v && v->tag == VARTYPE_DSTRING && v->dstring && v->dstring->text) return v->dstring->text;
    return "=TextIDNotFound=";
}

ScriptValue* SB_FindTextInTable(QelTable* language, int32_t page, int32_t id) {
    SB_TextEntry* e = FindEntry(FindPage(language, page), id);
    return e ? &e->text : nullptr;
}

static void FreePage(SE_Context* ctx, SB_TextPage* p) {
    if (p->entries) {
        for (uint32_t i = 0; i < p->count; ++i) SV_Release(&p->entries[i].text);
        SB_Free(ctx, SE_MEMCAT_TEXT_PAGES, p->entries, size_t{p->count} * sizeof(SB_TextEntry));
    }
    SB_FreeRecord(ctx, SE_MEMCAT_TEXT_PAGES, p);
}

void SB_FreeTextLanguage(SE_Context* ctx, int32_t language) {
    if (!ctx || !ValidLanguage(language)) return;
    QelTable*& table = ctx->languages[language];
    if (!table) return;
    // The chains are walked directly: a page may be stored under key 0,
    // which the key walk cannot step over.
    for (uint32_t b = 0; table->buckets && b < table->bucketCount; ++b) {
        for (QelTableEntry* e = table->buckets[b]; e; e = e->next) {
            if (e->key == 0) Qel_BannerPrintf("Qel_TableNext() found entry with key=0!\n");
            if (e->value) FreePage(ctx, reinterpret_cast<SB_TextPage*>(e->value));
            e->value = 0;
        }
    }
    Qel_TableFree(table);
    table = nullptr;
}

void SB_FreeTexts(SE_Context* ctx) {
    if (!ctx) return;
    for (int32_t language = 0; language < SE_LANGUAGE_SLOTS; ++language) SB_FreeTextLanguage(ctx, language);
}

// Replaces the text of an entry; a DSTRING keeps its record (scripts may hold it).
static void ReplaceText(SE_Context* ctx, ScriptValue* v, const char* text, uint32_t length) {
    if (v->tag == VARTYPE_DSTRING && v->dstring) {
        char* copy = static_cast<char*>(SB_Alloc(ctx, SE_MEMCAT_TEXT, 0, size_t{length} + 1));
        if (!copy) return;
        std::memcpy(copy, text, length);
        copy[length] = '\0';
        if (v->dstring->text) SB_Free(ctx, SE_MEMCAT_TEXT, v->dstring->text, size_t{v->dstring->length} + 1);
        v->dstring->text = copy;
        v->dstring->length = length;
        v->dstring->hash = SV_TextHash(copy);
    } else {
        SV_AssignDString(v, text, static_cast<int32_t>(length));
    }
}

int SB_MergeTextPage(SE_Context* ctx, int32_t language, int32_t page, const SB_TextImportList* list) {
    if (!ctx || !ValidLanguage(language)) return 0;
    QelTable*& table = ctx->languages[language];
    if (!table && !(table = Qel_TableCreate())) return 0;
    SB_TextPage* p = FindPage(table, page);
    if (!p) {
        p = SB_AllocRecord<SB_TextPage>(ctx, SE_MEMCAT_TEXT_PAGES);
        if (!p) return 0;
        if (!Qel_TableSet(table, static_cast<uint32_t>(page), reinterpret_cast<uintptr_t>(p))) {
            SB_FreeRecord(ctx, SE_MEMCAT_TEXT_PAGES, p);
            return 0;
        }
    }
    // Texts already on the page are replaced in place; a later text of the
    // same id wins over an earlier one.
    std::map<int32_t, const SB_TextImport*> fresh;
    for (const SB_TextImport* t = list ? list->head : nullptr; t; t = t->next) {
        if (SB_TextEntry* e = FindEntry(p, t->id)) ReplaceText(ctx, &e->text, t->text ? t->text : "", t->length);
        else fresh[t->id] = t;
    }
    if (fresh.empty()) return 1;
    size_t count = size_t{p->count} + fresh.size();
    auto* entries =
        static_cast<SB_TextEntry*>(SB_Alloc(ctx, SE_MEMCAT_TEXT_PAGES, SE_MEM_ZERO, count * sizeof(SB_TextEntry)));
    if (!entries) return 0;
    if (p->entries) {
        std::memcpy(entries, p->entries, size_t{p->count} * sizeof(SB_TextEntry));
        SB_Free(ctx, SE_MEMCAT_TEXT_PAGES, p->entries, size_t{p->count} * sizeof(SB_TextEntry));
    }
    size_t k = p->count;
    for (const auto& [id, t] : fresh) {
        entries[k].id = id;
        SV_AssignDString(&entries[k].text, t->text ? t->text : "", static_cast<int32_t>(t->length));
        ++k;
    }
    std::sort(entries, entries + count, [](const SB_TextEntry& a, const SB_TextEntry& b) { return a.id < b.id; });
    p->entries = entries;
    p->count = static_cast<uint32_t>(count);
    return 1;
}

int32_t SB_UnescapeText(int32_t n, char* text) {
    int32_t r = 0, w = 0;
    bool remark = false;
    auto put = [&](char c) {
        if (!remark) text[w++] = c;
    };
    while (r < n) {
        char c = text[r++];
        if (c == '\\') {
            if (r >= n) break;
            char d = text[r++];
            switch (d) {
                case 'n': put('\n'); break;
                case 'b': put('\b'); break;
                case 't': put('\t'); break;
                case 'r': put('\r'); break;
                default:
                    if (d >= '0' && d <= '7') {
                        uint32_t v = static_cast<uint32_t>(d - '0');
                        while (r < n && text[r] >= '0' && text[r] <= '7')
                            v = v * 8 + static_cast<uint32_t>(text[r++] - '0');
                        put(static_cast<char>(v & 0xff));
                    } else {
                        put(d);
                    }
            }
        } else if (c == '(') {
            remark = true;
        } else if (c == ')') {
            remark = false;
        } else if (c == '\n') {
            put(' ');
        } else {
            put(c);
        }
    }
    return w;
}

static const char* Attribute(const XmlNode* element, const char* name) {
    if (!element || !element->element) return nullptr;
    for (const XmlListItem* a = element->element->attributes.head; a; a = a->next)
        if (a->name && std::strcmp(a->name, name) == 0) return a->value ? a->value : "";
    return nullptr;
}

static bool IsElement(const XmlNode* n) { return n && n->kind == XML_ELEMENT && n->element; }

int XMLImportText(SE_Context* ctx, XmlNode* root) {
    if (!IsElement(root) || !root->text || std::strcmp(root->text, "ROOT") != 0) return 1;
    Qel_DPrintf(4, "XMLImportText()\n");
    for (XmlNode* c = root->element->children.head; c; c = c->next)
        if (IsElement(c)) XMLImportTextLanguage(ctx, c);
    return 1;
}

int XMLImportTextLanguage(SE_Context* ctx, XmlNode* element) {
    const char* id = Attribute(element, "id");
    if (!id) return 0;
    int32_t language = std::atoi(id);
    if (language < 1 || !ValidLanguage(language)) return 0;
    Qel_DPrintf(4, "XMLImportTextLanguage(%d)\n", language);
    for (XmlNode* c = element->element->children.head; c; c = c->next)
        if (IsElement(c)) XMLImportTextPage(ctx, language, c);
    return 1;
}

int XMLImportTextPage(SE_Context* ctx, int32_t language, XmlNode* element) {
    if (!IsElement(element)) return 0;
    const char* idText = Attribute(element, "id");
    int32_t page = idText ? std::atoi(idText) : 0;
    Qel_DPrintf(4, "XMLImportTextPage(%d, %d)\n", language, page);
    if (page >= 300001 && page <= 399999) page -= 300000;

    SB_TextImportList list{nullptr, nullptr};
    std::vector<std::pair<char*, size_t>> buffers;
    for (XmlNode* c = element->element->children.head; c; c = c->next) {
        if (!IsElement(c)) continue;
        const XmlListItem* attr = c->element->attributes.head;
        const XmlNode* body = c->element->children.head;
        if (!attr || !body) {
            Qel_DPrintf(0, "XMLImportTextPage(%d, %d) skipped text <%s> without id or text\n", language, page,
                        c->text ? c->text : "");
            continue;
        }
        auto* rec = SB_AllocRecord<SB_TextImport>(ctx, SE_MEMCAT_TEXT_PAGES);
        if (!rec) break;
        // The text is cleaned in a copy of its own: the tree keeps its strings.
        const char* source = body->text ? body->text : "";
        size_t len = std::strlen(source);
        char* text = static_cast<char*>(SB_Alloc(ctx, SE_MEMCAT_TEXT, 0, len + 1));
        if (!text) {
            SB_FreeRecord(ctx, SE_MEMCAT_TEXT_PAGES, rec);
            break;
        }
        std::memcpy(text, source, len + 1);
        buffers.emplace_back(text, len + 1);
        rec->id = attr->value ? std::atoi(attr->value) : 0;
        rec->length = static_cast<uint32_t>(SB_UnescapeText(static_cast<int32_t>(len), text));
        text[rec->length] = '\0';
        rec->text = text;
        rec->prev = list.tail;
        if (list.tail) list.tail->next = rec;
        else list.head = rec;
        list.tail = rec;
    }
    SB_MergeTextPage(ctx, language, page, &list);
    for (SB_TextImport* t = list.head; t;) {
        SB_TextImport* next = t->next;
        SB_FreeRecord(ctx, SE_MEMCAT_TEXT_PAGES, t);
        t = next;
    }
    for (auto& [text, size] : buffers) SB_Free(ctx, SE_MEMCAT_TEXT, text, size);
    return 1;
}
