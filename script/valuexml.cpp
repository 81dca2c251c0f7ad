#include "script/valuexml.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/log.h"
#include "base/markup.h"
#include "script/arrays.h"
#include "script/context.h"
#include "script/memory.h"
#include "script/tables.h"
#include "script/values.h"

namespace {

bool IsElement(const XmlNode* n) { return n && n->kind == XML_ELEMENT && n->element; }

bool Named(const XmlNode* n, const char* name) { return IsElement(n) && n->text && std::strcmp(n->text, name) == 0; }

const XmlNode* FirstElement(const XmlNode* parent) {
    if (!IsElement(parent)) return nullptr;
    for (const XmlNode* c = parent->element->children.head; c; c = c->next)
        if (IsElement(c)) return c;
    return nullptr;
}

XmlNode* NewElement(const char* name) {
    XmlNode* e = Qel_XmlNewNode(XML_ELEMENT);
    if (e && !Qel_XmlSetString(&e->text, name)) {
        Qel_XmlFreeNode(e);
        return nullptr;
    }
    return e;
}

bool AddAttribute(XmlNode* e, const char* name, const char* value) {
    XmlListItem* a = Qel_XmlNewListItem();
    if (!a) return false;
    // Linked first, so the element frees it whatever fails after.
    Qel_XmlAppendAttribute(e, a);
    return Qel_XmlSetString(&a->name, name) && Qel_XmlSetString(&a->value, value);
}

bool AddNumber(XmlNode* e, const char* name, int32_t n) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", n);
    return AddAttribute(e, name, text);
}

// A decimal integer as the runtime's atoi reads it, saturated to 32 bits.
// The largest imported array whose elements the markup may leave out.
constexpr int32_t kMaxPaddedArray = 1 << 20;

int32_t ToInt(const char* text) {
    if (!text) return 0;
    long long v = std::strtoll(text, nullptr, 10);
    return static_cast<int32_t>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
}

// Containers on the way down from the exported value: one met again refers
// to itself and is written as a value of unknown type rather than for ever.
struct ExportPath {
    std::vector<const void*> open;
};

XmlNode* Export(const ScriptValue* v, ExportPath& path);

bool AddChild(XmlNode* parent, const ScriptValue* v, ExportPath& path) {
    XmlNode* child = Export(v, path);
    if (!child) return false;
    Qel_XmlAppendChild(parent, child);
    return true;
}

XmlNode* Export(const ScriptValue* v, ExportPath& path) {
    XmlNode* e = NewElement("sval");
    if (!e) return nullptr;
    bool ok = true;
    const void* container = v->tag == VARTYPE_ARRAY   ? static_cast<const void*>(v->array)
                            : v->tag == VARTYPE_TABLE ? static_cast<const void*>(v->table)
                                                      : nullptr;
    bool cycle = container && (std::find(path.open.begin(), path.open.end(), container) != path.open.end() ||
                               path.open.size() + 4 >= static_cast<size_t>(XML_MAX_DEPTH));
    switch (cycle ? uint8_t{VARTYPE_UNDEFINED} : v->tag) {
        case VARTYPE_INTEGER: ok = AddAttribute(e, "type", "int") && AddNumber(e, "val", v->i); break;
        case VARTYPE_STRING:
        case VARTYPE_DSTRING: {
            const char* text = SV_GetString(v);
            ok = AddAttribute(e, "type", "string") && AddAttribute(e, "val", text ? text : "");
            break;
        }
        case VARTYPE_FLOAT: {
            char text[64];
            std::snprintf(text, sizeof text, "%g", v->f);
            ok = AddAttribute(e, "type", "float") && AddAttribute(e, "val", text);
            break;
        }
        case VARTYPE_ARRAY: {
            const SAR* a = v->array;
            int32_t size = a ? a->SAR_Size : 0;
            ok = AddAttribute(e, "type", "array") && AddNumber(e, "size", size);
            path.open.push_back(container);
            for (int32_t i = 0; ok && i < size && a->elements; ++i) ok = AddChild(e, &a->elements[i], path);
            path.open.pop_back();
            break;
        }
        case VARTYPE_TABLE: {
            ScriptValue cell = *v;  // borrowed for the walk
            uint32_t count = SV_TableSize(&cell);
            ok = AddAttribute(e, "type", "table") && AddNumber(e, "size", static_cast<int32_t>(count));
            path.open.push_back(container);
            for (ScriptValue* k = SV_TableNextKey(nullptr, &cell); ok && k; k = SV_TableNextKey(k, &cell))
                ok = AddChild(e, k, path) && AddChild(e, SV_TableEntryData(k), path);
            path.open.pop_back();
            break;
        }
        default: ok = AddAttribute(e, "type", "unknown") && AddNumber(e, "typeid", v->tag); break;
    }
    if (!ok) {
        Qel_XmlFreeNode(e);
        return nullptr;
    }
    return e;
}

// The name of variable i of a class: from the nearest class up the chain
// whose own variables hold it; null when none does.
const char* VariableName(SE_Context* ctx, const StoryObject* cls, uint32_t i) {
    for (const StoryObject* c = cls; c; c = c->super) {
        if (i >= c->firstOwnVariable && i < c->firstOwnVariable + c->ownVariableCount && i < c->variableCount &&
            c->ownVariables)
            return SB_String(ctx, c->ownVariables[i - c->firstOwnVariable].name);
    }
    return nullptr;
}

}  // namespace

XmlNode* SV_XMLExport(const ScriptValue* value) {
    ScriptValue none{};
    ExportPath path;
    return Export(value ? value : &none, path);
}

char* SV_XMLExportObject(SE_Context* ctx, const StoryInstance* instance) {
    if (!instance || !instance->classObject) return nullptr;
    const StoryObject* cls = instance->classObject;
    XmlNode* obj = NewElement("obj");
    bool ok = obj && AddNumber(obj, "id", instance->id);
    uint32_t count = instance->variables ? cls->variableCount : 0;
    for (uint32_t i = 0; ok && i < count; ++i) {
        XmlNode* var = NewElement("var");
        ok = var != nullptr;
        if (!ok) break;
        Qel_XmlAppendChild(obj, var);
        if (const char* name = VariableName(ctx, cls, i)) ok = AddAttribute(var, "name", name);
        if (ok) {
            XmlNode* value = SV_XMLExport(&instance->variables[i]);
            ok = value != nullptr;
            if (ok) Qel_XmlAppendChild(var, value);
        }
    }
    char* text = ok ? Qel_XmlWriteNode(obj) : nullptr;
    Qel_XmlFreeNode(obj);
    return text;
}

void SV_XMLAssign(const XmlNode* e, ScriptValue* target) {
    if (!target) return;
    SV_Release(target);
    if (Named(e, "ROOT")) e = FirstElement(e);
    if (!IsElement(e)) return;
    const char* type = nullptr;
    const char* val = nullptr;
    const char* size = nullptr;
    for (const XmlListItem* a = e->element->attributes.head; a; a = a->next) {
        if (!a->name) continue;
        const char* value = a->value ? a->value : "";
        if (std::strcmp(a->name, "type") == 0) type = value;
        else if (std::strcmp(a->name, "val") == 0) val = value;
        else if (std::strcmp(a->name, "size") == 0) size = value;
    }
    if (!type) return;
    // A missing "val" or "size" reads as 0 or the empty text.
    if (std::strcmp(type, "int") == 0) {
        SV_AssignInt(target, ToInt(val));
    } else if (std::strcmp(type, "string") == 0) {
        SV_AssignString(target, val ? val : "");
    } else if (std::strcmp(type, "float") == 0) {
        SV_AssignFloat(target, val ? std::strtod(val, nullptr) : 0.0);
    } else if (std::strcmp(type, "array") == 0) {
        int32_t n = ToInt(size);
        // A size word below 1 (an array whose elements were never touched
        // exports as its negative size) gives an array of no elements.
        if (n < 1) {
            SV_ArrayAlloc(target, 0);
            return;
        }
        // Elements the markup leaves out are zeros, but a size word that asks
        // for millions of them (gigabytes from a few bytes of text) is refused.
        int32_t elements = 0;
        for (const XmlNode* c = e->element->children.head; c && elements < n; c = c->next)
            if (IsElement(c)) ++elements;
        if (n > elements && n > kMaxPaddedArray) {
            Qel_ErrPrintf("SV_XMLAssign: array of %d elements holds only %d\n", n, elements);
            return;
        }
        if (!SV_ArrayAlloc(target, n)) return;
        int32_t i = 0;
        for (const XmlNode* c = e->element->children.head; c; c = c->next) {
            if (!IsElement(c)) continue;
            ScriptValue element{};
            SV_XMLAssign(c, &element);
            SV_ArrayWrite(target, i++, &element);
            SV_Release(&element);
        }
    } else if (std::strcmp(type, "table") == 0) {
        SV_TableAlloc(target);
        if (ToInt(size) <= 0) return;
        const XmlNode* key = nullptr;
        for (const XmlNode* c = e->element->children.head; c; c = c->next) {
            if (!IsElement(c)) continue;
            if (!key) {
                key = c;
                continue;
            }
            ScriptValue k{}, d{};
            SV_XMLAssign(key, &k);
            SV_XMLAssign(c, &d);
            SV_TableAdd(target, &k, &d);
            SV_Release(&k);
            SV_Release(&d);
            key = nullptr;
        }
    } else {
        Qel_ErrPrintf("SV_XMLAssign() unknown value type %s found\n", type);
    }
}

void SV_XMLToArray(const XmlNode* e, ScriptValue* target) {
    if (!target) return;
    if (!IsElement(e)) {
        SV_AssignInt(target, 0);
        return;
    }
    // Only elements and texts become cells; comments and instructions are left out.
    int32_t n = 0;
    for (const XmlNode* c = e->element->children.head; c; c = c->next)
        if (IsElement(c) || c->kind == XML_TEXT) ++n;
    if (!SV_ArrayAlloc(target, 2 + n)) return;
    SV_ArrayWriteString(target, 0, e->text ? e->text : "");
    if (!e->element->attributes.head) {
        SV_ArrayWriteInt(target, 1, 0);
    } else {
        ScriptValue table{};
        SV_TableAlloc(&table);
        for (const XmlListItem* a = e->element->attributes.head; a; a = a->next) {
            const char* value = a->value ? a->value : "";
            const char* digits = value[0] == '-' ? value + 1 : value;
            bool number = std::strspn(digits, "0123456789") == std::strlen(digits);
            ScriptValue key{}, data{};
            SV_AssignString(&key, a->name ? a->name : "");
            if (number) SV_AssignInt(&data, ToInt(value));
            else SV_AssignString(&data, value);
            SV_TableAdd(&table, &key, &data);
            SV_Release(&key);
            SV_Release(&data);
        }
        SV_ArrayWrite(target, 1, &table);
        SV_Release(&table);
    }
    int32_t i = 2;
    for (const XmlNode* c = e->element->children.head; c; c = c->next) {
        if (IsElement(c)) {
            ScriptValue child{};
            SV_XMLToArray(c, &child);
            SV_ArrayWrite(target, i++, &child);
            SV_Release(&child);
        } else if (c->kind == XML_TEXT) {
            SV_ArrayWriteString(target, i++, c->text ? c->text : "");
        }
    }
}
