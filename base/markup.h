// Markup tree: a small reader and writer for XML-like text. The parser turns a
// text into nodes under an element named "ROOT"; the writer turns an element
// back into text. No validation, and no entities beyond the five predefined.
#pragma once

#include <cstddef>
#include <cstdint>

// Node kinds.
constexpr int32_t XML_ELEMENT = 1;  // text: the element name
constexpr int32_t XML_TEXT = 2;     // text or CDATA section
constexpr int32_t XML_COMMENT = 3;  // text between "<!--" and "-->"
constexpr int32_t XML_PI = 4;       // text between "<?" and "?>"

// Every string and record of a tree is booked to this memory tag.
constexpr uint32_t XML_MEM_TAG = 11;

// Deepest element nesting the parser and the writer accept.
constexpr int XML_MAX_DEPTH = 512;

struct XmlElementBlock;

struct XmlNode {
    XmlNode* next;             // next sibling, null at the end of the list
    XmlNode* prev;             // previous sibling, null at the head
    int32_t kind;              // XML_ELEMENT .. XML_PI
    char* text;                // heap string: element name or the node's text
    XmlElementBlock* element;  // elements only, else null
};

// One attribute: a list record of the attribute list.
struct XmlListItem {
    XmlListItem* next;
    XmlListItem* prev;
    char* name;   // heap string
    char* value;  // heap string, entities decoded
};

// Doubly linked lists, null-terminated, with head and tail kept in the block.
struct XmlAttributeList {
    XmlListItem* head;
    XmlListItem* tail;
};

struct XmlNodeList {
    XmlNode* head;
    XmlNode* tail;
};

struct XmlElementBlock {
    XmlAttributeList attributes;
    XmlNodeList children;
};

// Parses length bytes of text. Returns the "ROOT" element holding the parsed
// nodes as its children, or null (with a log line) when the text is malformed.
// The parsed records and strings belong to the document: they stay until its
// ROOT is freed and go with it, so a parsed node must not outlive its ROOT.
// Freeing a parsed node or string alone, or replacing a parsed string, gives
// nothing back before that. Records and strings made by the calls below stay
// on the heap; link them into a parsed tree through these calls only (the
// document then frees them with itself).
XmlNode* Qel_XmlParse(const char* text, size_t length);
XmlNode* Qel_XmlParseString(const char* text);

// A new zeroed node; an element gets an empty element block. Null when out of memory.
XmlNode* Qel_XmlNewNode(int32_t kind);
// A new zeroed attribute record.
XmlListItem* Qel_XmlNewListItem();

// Frees the string in *slot and stores a copy of text (null stores null).
// Returns 0 when the copy could not be allocated (the slot is then null).
int Qel_XmlSetString(char** slot, const char* text);
void Qel_XmlFreeString(char* str);

// Frees the node's attributes, its children (all levels), its strings and
// the node itself. The node is not unlinked from its siblings.
void Qel_XmlFreeNode(XmlNode* node);

// Appends to an element's lists (the node or item must be unlinked).
void Qel_XmlAppendChild(XmlNode* element, XmlNode* child);
void Qel_XmlAppendAttribute(XmlNode* element, XmlListItem* attribute);

// The markup of an element as a new heap string (free with Qel_XmlFreeString);
// null for a node that is not an element, or for nesting over XML_MAX_DEPTH.
char* Qel_XmlWriteNode(const XmlNode* element);
