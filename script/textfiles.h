// Text files ("T\<language*1000+page>.txt") merged into the text pages, the
// text save file ("tc\<name>.txc") holding every page of every language, and
// the expansion of {page,id} text references in format strings.
#pragma once

#include <cstddef>
#include <cstdint>

struct SE_Context;

// Nesting depth up to which references inside referenced texts are expanded;
// a deeper reference is kept as it stands.
constexpr int32_t SB_TEXT_REFERENCE_DEPTH = 16;

// Reads the text file of (page, language) into that page. 1 when the file was
// read, 0 when it cannot be opened or the language is outside 0..998.
int SB_LoadText(SE_Context* ctx, int32_t page, int32_t language);

// Writes every page of every language of the global context. 1, or 0 when
// the file cannot be written.
int SB_SaveAllTexts(const char* name);
// Reads a text save file; every slot the file gives pages replaces the slot's
// pages. 1, or 0 for a missing or malformed file (the slots read before a cut
// stay in place).
int SB_LoadAllTexts(SE_Context* ctx, const char* name);

// Bounds on one expansion: texts that refer to each other several times
// would otherwise multiply at every level. Past either bound the expansion
// logs and stops, keeping what it has.
constexpr int32_t SB_TEXT_REFERENCE_EXPANSIONS = 4096;
constexpr size_t SB_TEXT_EXPANSION_BYTES = size_t{1} << 20;

// A new heap string (Qel_StrFree) with every text reference of text expanded
// in the current language; a null text gives "". Null only without memory.
char* SB_ConvertFormatString(const char* text);
