// Script values and object instances as markup and back: the "sval" element
// vocabulary, the "obj" element of an instance's variables, and the generic
// conversion of any element into nested arrays.
#pragma once

#include <cstdint>

struct SE_Context;
struct ScriptValue;
struct StoryInstance;
struct XmlNode;

// A new "sval" element for the value (the caller frees it with
// Qel_XmlFreeNode); null without memory.
XmlNode* SV_XMLExport(const ScriptValue* value);
// The markup text of the instance's "obj" element (free with
// Qel_XmlFreeString); null for an instance without class or without memory.
char* SV_XMLExportObject(SE_Context* ctx, const StoryInstance* instance);
// Fills the target from a value element (a "ROOT" element stands for its
// first child); the target stays undefined for an element it cannot read.
void SV_XMLAssign(const XmlNode* element, ScriptValue* target);
// Fills the target with the generic array form of an element; a null element
// gives INTEGER 0.
void SV_XMLToArray(const XmlNode* element, ScriptValue* target);
