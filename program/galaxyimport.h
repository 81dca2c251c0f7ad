// Galaxy import: turns a parsed galaxy description (markup) into nested script
// arrays, one per element with its attributes in a fixed order by type, from
// which the story creates the objects.
#pragma once

#include <cstdint>

#include "script/values.h"

struct XmlNode;

// The newest format version the import reads.
constexpr int32_t GALAXY_FORMAT_VERSION = 5;
// Elements nested deeper than this are logged and answer 0.
constexpr int GALAXY_MAX_DEPTH = 64;

// Converts node (the parser's "ROOT", a "universe" or one element) into out
// (released first). Answers the element's type; 0 for the tree's top.
int32_t P_AssignGalaxy(ScriptValue* out, XmlNode* node, int32_t version);
