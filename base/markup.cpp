// Markup tree: parser, writer and node records.
#include "base/markup.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>

#include "base/log.h"
#include "base/memory.h"

namespace {

constexpr uint32_t kXmlFlags = Int_MemTag(XML_MEM_TAG);

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Byte classes for the loops of a start tag, one table look-up a byte.
constexpr uint8_t kBlank = 1;    // space, tab, line feed, carriage return
constexpr uint8_t kNameEnd = 2;  // ends an element name: a blank, '>' or '/'
constexpr uint8_t kAttrEnd = 4;  // ends an attribute name: those, '=' or a quote
constexpr auto kClass = [] {
    struct Table {
        uint8_t c[256];
    } t{};
    for (unsigned char b : {' ', '\t', '\n', '\r'}) t.c[b] = kBlank | kNameEnd | kAttrEnd;
    for (unsigned char b : {'>', '/'}) t.c[b] = kNameEnd | kAttrEnd;
    for (unsigned char b : {'=', '"', '\''}) t.c[b] = kAttrEnd;
    return t;
}();
inline bool Is(char c, uint8_t cls) { return kClass.c[static_cast<unsigned char>(c)] & cls; }

// A parsed document keeps its records and strings in a few large blocks of
// its own, booked to the markup tag, and gives them back in one sweep when
// its root is freed: a tree of a few hundred thousand nodes would otherwise
// cost a heap call per node, attribute and string both ways.
struct ArenaBlock {
    ArenaBlock* next;
    size_t size;  // bytes booked, this header included
};

struct Document {
    ArenaBlock* blocks;  // newest first; the first holds this record
    char* cur;           // free space of the newest block
    char* end;
    size_t nextBlock;  // size of the block to ask for when this one is full
    XmlNode* root;
    // Set when a call may have linked a heap record or string into the tree,
    // so that freeing the document must look for them.
    bool touched;
    bool textHasNul;  // the source holds a NUL somewhere: strings must look for it
};

constexpr size_t kFirstBlockMin = 1024;
constexpr size_t kBlockMax = size_t{4} << 20;

// Every live block by its start address, for telling arena memory from heap
// memory when a single record or string is freed or replaced.
struct BlockRange {
    uintptr_t end;
    Document* doc;
};
std::map<uintptr_t, BlockRange>& Blocks() {
    static std::map<uintptr_t, BlockRange> blocks;
    return blocks;
}

Document* DocumentHolding(const void* p) {
    auto& blocks = Blocks();
    if (!p || blocks.empty()) return nullptr;
    const auto a = reinterpret_cast<uintptr_t>(p);
    auto it = blocks.upper_bound(a);
    if (it == blocks.begin()) return nullptr;
    --it;
    return a < it->second.end ? it->second.doc : nullptr;
}

ArenaBlock* NewBlock(Document* doc, size_t size) {
    auto* block = static_cast<ArenaBlock*>(Int_AllocMem(size, kXmlFlags | INT_MEM_UNZEROED));
    if (!block) return nullptr;
    block->next = doc ? doc->blocks : nullptr;
    block->size = size;
    return block;
}

void Register(ArenaBlock* block, Document* doc) {
    const auto a = reinterpret_cast<uintptr_t>(block);
    Blocks()[a] = BlockRange{a + block->size, doc};
}

// Room for n bytes aligned to align (a power of two), in a new block when the newest is full.
void* Take(Document* doc, size_t n, size_t align) {
    auto at = (reinterpret_cast<uintptr_t>(doc->cur) + (align - 1)) & ~uintptr_t(align - 1);
    if (at + n > reinterpret_cast<uintptr_t>(doc->end)) {
        const size_t header = (sizeof(ArenaBlock) + 15) & ~size_t(15);
        size_t size = doc->nextBlock;
        if (size < header + n + align) size = header + n + align;
        ArenaBlock* block = NewBlock(doc, size);
        if (!block) return nullptr;
        doc->blocks = block;
        Register(block, doc);
        doc->cur = reinterpret_cast<char*>(block) + header;
        doc->end = reinterpret_cast<char*>(block) + size;
        if (doc->nextBlock < kBlockMax) doc->nextBlock *= 2;
        at = (reinterpret_cast<uintptr_t>(doc->cur) + (align - 1)) & ~uintptr_t(align - 1);
    }
    doc->cur = reinterpret_cast<char*>(at + n);
    return reinterpret_cast<void*>(at);
}

template <class T>
T* TakeRecord(Document* doc) {
    auto* r = static_cast<T*>(Take(doc, sizeof(T), alignof(T)));
    if (r) memset(static_cast<void*>(r), 0, sizeof(T));
    return r;
}

// A new document whose first block holds it and whose arena is sized from the text.
Document* NewDocument(size_t textLength) {
    size_t size = textLength + textLength / 2;
    if (size < kFirstBlockMin) size = kFirstBlockMin;
    if (size > kBlockMax) size = kBlockMax;
    ArenaBlock* block = NewBlock(nullptr, size);
    if (!block) return nullptr;
    const size_t header = (sizeof(ArenaBlock) + alignof(Document) - 1) & ~(alignof(Document) - 1);
    auto* doc = reinterpret_cast<Document*>(reinterpret_cast<char*>(block) + header);
    *doc = Document{};
    doc->blocks = block;
    doc->cur = reinterpret_cast<char*>(doc + 1);
    doc->end = reinterpret_cast<char*>(block) + size;
    doc->nextBlock = size * 2 < kBlockMax ? size * 2 : kBlockMax;
    Register(block, doc);
    return doc;
}

void ReleaseBlocks(Document* doc) {
    auto& blocks = Blocks();
    for (ArenaBlock* b = doc->blocks; b;) {
        ArenaBlock* next = b->next;
        blocks.erase(reinterpret_cast<uintptr_t>(b));
        Int_FreeMem(b, b->size, kXmlFlags);
        b = next;
    }
}

// Tree strings are freed by their length, so a NUL inside the source text
// ends the string: what is booked is always strlen + 1.
char* NewString(const char* s, size_t n) {
    if (const void* nul = memchr(s, '\0', n)) n = static_cast<const char*>(nul) - s;
    char* out = static_cast<char*>(Int_AllocMem(n + 1, kXmlFlags | INT_MEM_UNZEROED));
    if (!out) return nullptr;
    if (n) memcpy(out, s, n);
    out[n] = '\0';
    return out;
}

char* ArenaString(Document* doc, const char* s, size_t n) {
    if (doc->textHasNul)
        if (const void* nul = memchr(s, '\0', n)) n = static_cast<const char*>(nul) - s;
    char* out = static_cast<char*>(Take(doc, n + 1, 1));
    if (!out) return nullptr;
    memcpy(out, s, n);
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

// Decodes entities into a new arena string; the room left over by entities
// goes back to the arena.
char* DecodeString(Document* doc, const char* s, size_t n) {
    const char* amp = static_cast<const char*>(memchr(s, '&', n));
    if (!amp) return ArenaString(doc, s, n);
    if (doc->textHasNul)
        if (const void* nul = memchr(s, '\0', n)) n = static_cast<const char*>(nul) - s;
    const char* end = s + n;
    char* out = static_cast<char*>(Take(doc, n + 1, 1));
    if (!out) return nullptr;
    char* w = out;
    for (const char* p = s; p < end;) {
        amp = static_cast<const char*>(memchr(p, '&', end - p));
        const char* stop = amp ? amp : end;
        memcpy(w, p, stop - p);
        w += stop - p;
        p = stop;
        if (!amp) break;
        if (const Entity* e = MatchEntity(p + 1, end)) {
            *w++ = e->value;
            p += e->length + 1;
        } else {
            *w++ = *p++;
        }
    }
    *w++ = '\0';
    doc->cur = w;
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
    Document* doc;  // where the tree's records and strings go
};

XmlNode* ArenaNode(Document* doc, int32_t kind) {
    auto* node = TakeRecord<XmlNode>(doc);
    if (!node) return nullptr;
    node->kind = kind;
    if (kind == XML_ELEMENT && !(node->element = TakeRecord<XmlElementBlock>(doc))) return nullptr;
    return node;
}

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
    XmlNode* node = ArenaNode(ps.doc, kind);
    if (node) node->text = decode ? DecodeString(ps.doc, s, n) : ArenaString(ps.doc, s, n);
    if (!node || !node->text) return ParseError(ps, s, "out of memory");
    AppendChild(parent, node);
    return true;
}

// Start tag: ps.p is at '<'. Appends the element to parent; *empty is set for "<a/>".
XmlNode* ParseStartTag(Parser& ps, XmlNode* parent, bool* empty) {
    const char* tag = ps.p;
    const char* p = tag + 1;
    const char* nameStart = p;
    while (p < ps.end && !Is(*p, kNameEnd)) ++p;
    if (p == nameStart) {
        ParseError(ps, tag, p < ps.end ? "missing element name" : "truncated start tag");
        return nullptr;
    }
    XmlNode* element = ArenaNode(ps.doc, XML_ELEMENT);
    if (element) element->text = ArenaString(ps.doc, nameStart, p - nameStart);
    if (!element || !element->text) {
        ParseError(ps, tag, "out of memory");
        return nullptr;
    }
    AppendChild(parent, element);
    const char* name = element->text;

    *empty = false;
    for (;;) {
        while (p < ps.end && Is(*p, kBlank)) ++p;
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
        while (p < ps.end && !Is(*p, kAttrEnd)) ++p;
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
        XmlListItem* item = TakeRecord<XmlListItem>(ps.doc);
        if (item) {
            item->name = ArenaString(ps.doc, attrName, attrNameLength);
            item->value = item->name ? DecodeString(ps.doc, value, close - value) : nullptr;
        }
        if (!item || !item->value) {
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
            if (strncmp(element->text, n, length) != 0 || element->text[length] != '\0')
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
    // A parsed document's string goes with its document.
    if (DocumentHolding(str)) return;
    Int_FreeMem(str, strlen(str) + 1, kXmlFlags);
}

int Qel_XmlSetString(char** slot, const char* text) {
    if (!slot) return 0;
    if (Document* doc = DocumentHolding(slot)) doc->touched = true;
    if (*slot) Qel_XmlFreeString(*slot);
    *slot = text ? NewString(text, strlen(text)) : nullptr;
    return !text || *slot;
}

namespace {

// Frees what a tree holds on the heap; records and strings of parsed
// documents are left to their documents.
void FreeTree(XmlNode* node) {
    const bool arenas = !Blocks().empty();
    auto freeRecord = [arenas](auto* record) {
        if (!arenas || !DocumentHolding(record)) Int_FreeRecord(record, kXmlFlags);
    };
    auto freeString = [arenas](char* str) {
        if (str && (!arenas || !DocumentHolding(str))) Int_FreeMem(str, strlen(str) + 1, kXmlFlags);
    };
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
                freeString(a->name);
                freeString(a->value);
                freeRecord(a);
                a = next;
            }
            if (block->children.head) {
                block->children.tail->next = stack;
                stack = block->children.head;
            }
            freeRecord(block);
        }
        freeString(n->text);
        freeRecord(n);
    }
}

void FreeDocument(Document* doc) {
    if (doc->touched) FreeTree(doc->root);
    ReleaseBlocks(doc);
}

// Notes that a call is linking something into a parsed document's tree.
void Touch(const void* record) {
    if (Document* doc = DocumentHolding(record)) doc->touched = true;
}

}  // namespace

void Qel_XmlFreeNode(XmlNode* node) {
    if (!node) return;
    Document* doc = DocumentHolding(node);
    if (doc && doc->root == node) FreeDocument(doc);
    else FreeTree(node);
}

void Qel_XmlAppendChild(XmlNode* element, XmlNode* child) {
    if (!element || !element->element || !child) return;
    Touch(element->element);
    AppendChild(element, child);
}

void Qel_XmlAppendAttribute(XmlNode* element, XmlListItem* attribute) {
    if (!element || !element->element || !attribute) return;
    Touch(element->element);
    AppendAttribute(element, attribute);
}

XmlNode* Qel_XmlParse(const char* text, size_t length) {
    if (!text) {
        Qel_ErrPrintf("Qel_XmlParse: no text\n");
        return nullptr;
    }
    Parser ps{text, text, text + length, nullptr};
    if (!SkipProlog(ps)) return nullptr;
    Document* doc = NewDocument(length);
    XmlNode* root = doc ? ArenaNode(doc, XML_ELEMENT) : nullptr;
    if (root) root->text = ArenaString(doc, "ROOT", 4);
    if (!root || !root->text) {
        if (doc) ReleaseBlocks(doc);
        Qel_ErrPrintf("Qel_XmlParse: out of memory\n");
        return nullptr;
    }
    doc->root = root;
    doc->textHasNul = memchr(text, '\0', length) != nullptr;
    ps.doc = doc;
    if (!ParseContent(ps, root, 0)) {
        FreeDocument(doc);
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
