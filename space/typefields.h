// The names of the type record's fields, one table for the whole system: the
// engine calls read the fields these names give, and the types source that
// tools/typeswriter turns into the T* files names its columns the same way.
#pragma once

#include <cstdint>

struct SA_TypeFieldName {
    int32_t mainType;  // SA_EVERY_MAIN_TYPE for the fields every record has
    int32_t field;     // the first field of a run (colours, body lists)
    const char* name;
};
constexpr int32_t SA_EVERY_MAIN_TYPE = -1;

extern const SA_TypeFieldName g_SATypeFieldNames[];
extern const int32_t g_SATypeFieldNameCount;

// The field of a main type that the name gives (the common fields serve every
// main type); -1 for a name the main type does not have.
int32_t SA_TypeFieldByName(int32_t mainType, const char* name);
