// Markup tree: parser, writer and node records.
#include "base/markup.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "base/memory.h"

namespace {

constexpr uint32_t kXmlFlags = Int_MemTag(XML_MEM_TAG);

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Tree strings are freed by their length, so a NUL inside the source text
// ends the string: what is booked is always strlen + 1.
char* NewString(const char* s, size_t n) {
    if (const void* nul = memchr(s, '\0', n)) n = static_cast<const char*>(nul) - s;
    char* out = static_cast<char*>(Int_AllocMem(n + 1, kXmlFlags));
    if (!out) return nullptr;
    if (n) memcpy(out, s, n);
    out[n] = '\0';
    return out;
}

// The five predefined entities; any other '&' stays as it is.
struct Entity {
    const char* name;  // text after '&', with the ';'
    size_t length;
    char value;
};
constexpr Entity kEntities[] = {
    {"lt;", 3, '<'}, {"gt;", 3, '>'}, {"quot;", 5, '"'}, {"apos;", 5, '\''}, {"amp;", 4, '&'},
};

const Entity* MatchEntity(const char* s, const char* end) {
    for (const Entity& e : kEntities) {
        if (static_cast<size_t>(end - s) >= e.length && memcmp(s, e.name, e.length) == 0) return &e;
    }
    return nullptr;
}

// Decodes entities into a new heap string of exactly the decoded length + 1.
char* DecodeString(const char* s, size_t n) {
    if (const void* nul = memchr(s, '\0', n)) n = static_cast<const char*>(nul) - s;
    const char* end = s + n;
    size_t length = 0;
    for (const char* p = s; p < end; ++length) {
        const Entity* e = *p == '&' ? MatchEntity(p + 1, end) : nullptr;
        p += e ? e->length + 1 : 1;
    }
    char* out = static_cast<char*>(Int_AllocMem(length + 1, kXmlFlags));
    if (!out) return nullptr;
    char* w = out;
    for (const char* p = s; p < end;) {
        const Entity* e = *p == '&' ? MatchEntity(p + 1, end) : nullptr;
        if (e) {
            *w++ = e->value;
            p += e->length + 1;
        } else {
            *w++ = *p++;
        }
    }
    *w = '\0';
    return out;
}

template <size_t N>
const char* Find(const char* p, const char* end, const char (&what)[N]) {
    constexpr size_t n = N - 1;
    while (static_cast<size_t>(end - p) >= n) {
        const char* hit = static_cast<const char*>(memchr(p, what[0], end - p - n + 1));
        if (!hit) return nullptr;
        if (memcmp(hit, what, n) == 0) return hit;
        p = hit + 1;
    }
    return nullptr;
}

template <size_t N>
bool StartsWith(const char* p, const char* end, const char (&what)[N]) {
    constexpr size_t n = N - 1;
    return static_cast<size_t>(end - p) >= n && memcmp(p, what, n) == 0;
}

struct Parser {
    const char* text;  // start, for line numbers
    const char* p;
    const char* end;
};

// Logs one parse error with the line it was found on; always returns false.
bool ParseError(const Parser& ps, const char* at, const char* fmt, ...) QEL_PRINTF_FMT(3, 4);
bool ParseError(const Parser& ps, const char* at, const char* fmt, ...) {
    char message[200];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(message, sizeof message, fmt, ap);
    va_end(ap);
    int line = 1;
    for (const char* c = ps.text; c < at && c < ps.end; ++c) line += *c == '\n';
    Qel_ErrPrintf("Qel_XmlParse: %s at line %d\n", message, line);
    return false;
}

void AppendChild(XmlNode* parent, XmlNode* child) {
    XmlNodeList& list = parent->element->children;
    child->next = nullptr;
    child->prev = list.tail;
    if (list.tail) list.tail->next = child;
    else list.head = child;
    list.tail = child;
}

void AppendAttribute(XmlNode* element, XmlListItem* item) {
    XmlAttributeList& list = element->element->attributes;
    item->next = nullptr;
    item->prev = list.tail;
    if (list.tail) list.tail->next = item;
    else list.head = item;
    list.tail = item;
}

// A kind 2..4 node holding [s, s + n), decoded or raw, appended to parent.
bool AddTextNode(const Parser& ps, XmlNode* parent, int32_t kind, const char* s, size_t n, bool decode) {
    XmlNode* node = Qel_XmlNewNode(kind);
    if (node) node->text = decode ? DecodeString(s, n) : NewString(s, n);
    if (!node || !node->text) {
        Qel_XmlFreeNode(node);
        return ParseError(ps, s, "out of memory");
    }
    AppendChild(parent, node);
    return true;
}

// Start tag: ps.p is at '<'. Appends the element to parent; *empty is set for "<a/>".
XmlNode* ParseStartTag(Parser& ps, XmlNode* parent, bool* empty) {
    const char* tag = ps.p;
    const char* p = tag + 1;
    const char* nameStart = p;
    while (p < ps.end && !IsBlank(*p) && *p != '>' && *p != '/') ++p;
    if (p == nameStart) {
        ParseError(ps, tag, p < ps.end ? "missing element name" : "truncated start tag");
        return nullptr;
    }
    XmlNode* element = Qel_XmlNewNode(XML_ELEMENT);
    if (element) element->text = NewString(nameStart, p - nameStart);
    if (!element || !element->text) {
        Qel_XmlFreeNode(element);
        ParseError(ps, tag, "out of memory");
        return nullptr;
    }
    AppendChild(parent, element);
    const char* name = element->text;

    *empty = false;
    for (;;) {
        while (p < ps.end && IsBlank(*p)) ++p;
        if (p == ps.end) {
            ParseError(ps, tag, "start tag <%.64s> not closed", name);
            return nullptr;
        }
        if (*p == '>') {
            ps.p = p + 1;
            return element;
        }
        if (*p == '/') {
            if (p + 1 < ps.end && p[1] == '>') {
                *empty = true;
                ps.p = p + 2;
                return element;
            }
            ParseError(ps, p, "'/' not followed by '>' in <%.64s>", name);
            return nullptr;
        }
        const char* attrName = p;
        while (p < ps.end && !IsBlank(*p) && *p != '=' && *p != '>' && *p != '/' && *p != '"' && *p != '\'') ++p;
        size_t attrNameLength = p - attrName;
        if (attrNameLength == 0) {
            ParseError(ps, p, "attribute without name in <%.64s>", name);
            return nullptr;
        }
        while (p < ps.end && IsBlank(*p)) ++p;
        // A bare word ("<a checked>") carries no value and makes no attribute.
        if (p == ps.end || *p != '=') continue;
        ++p;
        while (p < ps.end && IsBlank(*p)) ++p;
        if (p == ps.end || (*p != '"' && *p != '\'')) {
            ParseError(ps, attrName, "value of attribute %.*s in <%.64s> is not quoted",
                       static_cast<int>(attrNameLength < 64 ? attrNameLength : 64), attrName, name);
            return nullptr;
        }
        const char quote = *p++;
        const char* value = p;
        const char* close = static_cast<const char*>(memchr(p, quote, ps.end - p));
        if (!close) {
            ParseError(ps, attrName, "value of attribute %.*s in <%.64s> not closed",
                       static_cast<int>(attrNameLength < 64 ? attrNameLength : 64), attrName, name);
            return nullptr;
        }
        XmlListItem* item = Qel_XmlNewListItem();
        if (item) {
            item->name = NewString(attrName, attrNameLength);
            item->value = DecodeString(value, close - value);
        }
        if (!item || !item->name || !item->value) {
            if (item) {
                if (item->name) Qel_XmlFreeString(item->name);
                if (item->value) Qel_XmlFreeString(item->value);
                Int_FreeRecord(item, kXmlFlags);
            }
            ParseError(ps, attrName, "out of memory");
            return nullptr;
        }
        AppendAttribute(element, item);
        p = close + 1;
    }
}

// Skips the declaration "<!...>" at d, or "<!...[...]>" with an internal subset.
bool SkipDeclaration(Parser& ps, const char* d) {
    for (const char* p = d + 2; p < ps.end; ++p) {
        if (*p == '>') {
            ps.p = p + 1;
            return true;
        }
        if (*p == '[') {
            for (const char* q = p + 1; (q = static_cast<const char*>(memchr(q, ']', ps.end - q))) != nullptr;) {
                const char* r = q + 1;
                while (r < ps.end && IsBlank(*r)) ++r;
                if (r < ps.end && *r == '>') {
                    ps.p = r + 1;
                    return true;
                }
                q = r;
                if (q >= ps.end) break;
            }
            break;
        }
    }
    return ParseError(ps, d, StartsWith(d, ps.end, "<!DOCTYPE") ? "DOCTYPE not closed" : "declaration not closed");
}

// Content of element (ROOT at depth 0) up to its end tag, or the end of the text for ROOT.
bool ParseContent(Parser& ps, XmlNode* element, int depth) {
    for (;;) {
        if (ps.p == ps.end) {
            // An element left open keeps what it holds; the text simply ended.
            if (depth > 0)
                ParseError(ps, ps.end, "element <%.64s> not closed before the end of the text", element->text);
            return true;
        }
        if (*ps.p != '<') {
            const char* lt = static_cast<const char*>(memchr(ps.p, '<', ps.end - ps.p));
            const char* stop = lt ? lt : ps.end;
            if (!AddTextNode(ps, element, XML_TEXT, ps.p, stop - ps.p, true)) return false;
            ps.p = stop;
            continue;
        }
        const char* at = ps.p;
        if (StartsWith(at, ps.end, "<?")) {
            const char* close = Find(at + 2, ps.end, "?>");
            if (!close) return ParseError(ps, at, "processing instruction not closed");
            if (!AddTextNode(ps, element, XML_PI, at + 2, close - at - 2, false)) return false;
            ps.p = close + 2;
        } else if (StartsWith(at, ps.end, "<!--")) {
            const char* close = Find(at + 4, ps.end, "-->");
            if (!close) return ParseError(ps, at, "comment not closed");
            if (!AddTextNode(ps, element, XML_COMMENT, at + 4, close - at - 4, false)) return false;
            ps.p = close + 3;
        } else if (StartsWith(at, ps.end, "<![CDATA[")) {
            const char* close = Find(at + 9, ps.end, "]]>");
            if (!close) return ParseError(ps, at, "CDATA section not closed");
            if (!AddTextNode(ps, element, XML_TEXT, at + 9, close - at - 9, false)) return false;
            ps.p = close + 3;
        } else if (StartsWith(at, ps.end, "<!")) {
            // A declaration (a document type after a comment, an entity, ...) holds nothing for the tree.
            if (!SkipDeclaration(ps, at)) return false;
        } else if (StartsWith(at, ps.end, "</")) {
            const char* close = static_cast<const char*>(memchr(at, '>', ps.end - at));
            if (!close) return ParseError(ps, at, "end tag not closed");
            const char* n = at + 2;
            const char* nEnd = close;
            while (n < nEnd && IsBlank(*n)) ++n;
            while (nEnd > n && IsBlank(nEnd[-1])) --nEnd;
            int shown = static_cast<int>(nEnd - n < 64 ? nEnd - n : 64);
            if (depth == 0) return ParseError(ps, at, "end tag </%.*s> without a start tag", shown, n);
            // Names were cut at a NUL when booked; the end tag is compared the same way.
            size_t length = strnlen(n, nEnd - n);
            if (strlen(element->text) != length || memcmp(element->text, n, length) != 0)
                return ParseError(ps, at, "end tag </%.*s> does not match <%.64s>", shown, n, element->text);
            ps.p = close + 1;
            return true;
        } else {
            if (depth + 1 > XML_MAX_DEPTH)
                return ParseError(ps, at, "elements nested deeper than %d levels", XML_MAX_DEPTH);
            bool empty = false;
            XmlNode* child = ParseStartTag(ps, element, &empty);
            if (!child) return false;
            if (!empty && !ParseContent(ps, child, depth + 1)) return false;
        }
    }
}

// Skips "<?x...?>" when it is the first markup, then a "<!DOCTYPE ...>" after it.
bool SkipProlog(Parser& ps) {
    const char* lt = static_cast<const char*>(memchr(ps.p, '<', ps.end - ps.p));
    if (lt && StartsWith(lt, ps.end, "<?x")) {
        const char* close = Find(lt + 3, ps.end, "?>");
        if (!close) return ParseError(ps, lt, "declaration not closed");
        ps.p = close + 2;
    }
    const char* d = ps.p;
    while (d < ps.end && IsBlank(*d)) ++d;
    if (!StartsWith(d, ps.end, "<!DOCTYPE")) return true;
    return SkipDeclaration(ps, d);
}

// Writer: every byte that would end a value or open markup is written as an entity.
size_t EscapedLength(const char* s) {
    size_t n = 0;
    for (; s && *s; ++s) {
        switch (*s) {
            case '&': n += 5; break;
            case '<':
            case '>': n += 4; break;
            case '"': n += 6; break;
            default: n += 1; break;
        }
    }
    return n;
}

char* WriteEscaped(char* w, const char* s) {
    for (; s && *s; ++s) {
        const char* e = nullptr;
        switch (*s) {
            case '&': e = "&amp;"; break;
            case '<': e = "&lt;"; break;
            case '>': e = "&gt;"; break;
            case '"': e = "&quot;"; break;
            default: *w++ = *s; continue;
        }
        size_t n = strlen(e);
        memcpy(w, e, n);
        w += n;
    }
    return w;
}

char* WriteRaw(char* w, const char* s) {
    size_t n = s ? strlen(s) : 0;
    if (n) memcpy(w, s, n);
    return w + n;
}

size_t RawLength(const char* s) { return s ? strlen(s) : 0; }

constexpr size_t kTooDeep = static_cast<size_t>(-1);

// Measures (out null) or writes the markup of one node; returns its length.
size_t EmitNode(const XmlNode* node, char* out, int depth) {
    char* w = out;
    size_t n = 0;
    auto raw = [&](const char* s) {
        if (out) w = WriteRaw(w, s);
        n += RawLength(s);
    };
    auto escaped = [&](const char* s) {
        if (out) w = WriteEscaped(w, s);
        n += EscapedLength(s);
    };
    switch (node->kind) {
        case XML_TEXT: escaped(node->text); return n;
        case XML_COMMENT:
            raw("<!--");
            raw(node->text);
            raw("-->");
            return n;
        case XML_PI:
            raw("<?");
            raw(node->text);
            raw("?>");
            return n;
        case XML_ELEMENT: break;
        default: return 0;
    }
    if (depth > XML_MAX_DEPTH) return kTooDeep;
    raw("<");
    raw(node->text);
    const XmlElementBlock* block = node->element;
    for (const XmlListItem* a = block ? block->attributes.head : nullptr; a; a = a->next) {
        raw(" ");
        raw(a->name);
        raw("=\"");
        escaped(a->value);
        raw("\"");
    }
    if (!block || !block->children.head) {
        raw(" />");
        return n;
    }
    raw(">");
    for (const XmlNode* c = block->children.head; c; c = c->next) {
        size_t m = EmitNode(c, out ? w : nullptr, depth + 1);
        if (m == kTooDeep) return kTooDeep;
        if (out) w += m;
        n += m;
    }
    raw("</");
    raw(node->text);
    raw(">");
    return n;
}

}  // namespace

XmlNode* Qel_XmlNewNode(int32_t kind) {
    XmlNode* node = Int_AllocRecord<XmlNode>(kXmlFlags);
    if (!node) return nullptr;
    node->kind = kind;
    if (kind == XML_ELEMENT) {
        node->element = Int_AllocRecord<XmlElementBlock>(kXmlFlags);
        if (!node->element) {
            Int_FreeRecord(node, kXmlFlags);
            return nullptr;
        }
    }
    return node;
}

XmlListItem* Qel_XmlNewListItem() { return Int_AllocRecord<XmlListItem>(kXmlFlags); }

void Qel_XmlFreeString(char* str) {
    if (!str) {
        // Lets the memory layer report the stray free.
        Int_FreeMem(nullptr, 1, kXmlFlags);
        return;
    }
    Int_FreeMem(str, strlen(str) + 1, kXmlFlags);
}

int Qel_XmlSetString(char** slot, const char* text) {
    if (!slot) return 0;
    if (*slot) Qel_XmlFreeString(*slot);
    *slot = text ? NewString(text, strlen(text)) : nullptr;
    return !text || *slot;
}

void Qel_XmlFreeNode(XmlNode* node) {
    if (!node) return;
    // Freed without recursion: children are pushed on a stack chained through
    // their own sibling links, so no tree depth can exhaust the call stack.
    node->next = nullptr;
    XmlNode* stack = node;
    while (stack) {
        XmlNode* n = stack;
        stack = n->next;
        if (XmlElementBlock* block = n->element) {
            for (XmlListItem* a = block->attributes.head; a;) {
                XmlListItem* next = a->next;
                if (a->name) Qel_XmlFreeString(a->name);
                if (a->value) Qel_XmlFreeString(a->value);
                Int_FreeRecord(a, kXmlFlags);
                a = next;
            }
            if (block->children.head) {
                block->children.tail->next = stack;
                stack = block->children.head;
            }
            Int_FreeRecord(block, kXmlFlags);
        }
        if (n->text) Qel_XmlFreeString(n->text);
        Int_FreeRecord(n, kXmlFlags);
    }
}

void Qel_XmlAppendChild(XmlNode* element, XmlNode* child) {
    if (element && element->element && child) AppendChild(element, child);
}

void Qel_XmlAppendAttribute(XmlNode* element, XmlListItem* attribute) {
    if (element && element->element && attribute) AppendAttribute(element, attribute);
}

XmlNode* Qel_XmlParse(const char* text, size_t length) {
    if (!text) {
        Qel_ErrPrintf("Qel_XmlParse: no text\n");
        return nullptr;
    }
    Parser ps{text, text, text + length};
    if (!SkipProlog(ps)) return nullptr;
    XmlNode* root = Qel_XmlNewNode(XML_ELEMENT);
    if (root) root->text = NewString("ROOT", 4);
    if (!root || !root->text) {
        Qel_XmlFreeNode(root);
        Qel_ErrPrintf("Qel_XmlParse: out of memory\n");
        return nullptr;
    }
    if (!ParseContent(ps, root, 0)) {
        Qel_XmlFreeNode(root);
        return nullptr;
    }
    return root;
}

XmlNode* Qel_XmlParseString(const char* text) {
    if (!text) {
        Qel_ErrPrintf("Qel_XmlParse: no text\n");
        return nullptr;
    }
    return Qel_XmlParse(text, strlen(text));
}

char* Qel_XmlWriteNode(const XmlNode* element) {
    if (!element || element->kind != XML_ELEMENT) return nullptr;
    size_t length = EmitNode(element, nullptr, 1);
    if (length == kTooDeep) {
        Qel_ErrPrintf("Qel_XmlWriteNode: elements nested deeper than %d levels\n", XML_MAX_DEPTH);
        return nullptr;
    }
    char* out = static_cast<char*>(Int_AllocMem(length + 1, kXmlFlags));
    if (!out) return nullptr;
    EmitNode(element, out, 1);
    out[length] = '\0';
    return out;
}
