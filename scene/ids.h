// Body and cut ids: each id of the engine's catalogue has a slot in a fixed
// table with its marks and file name; ids handed out for new file names take
// dynamic slots after the fixed ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

struct Inst3D;

struct B3DBodySlot {
    int32_t data;       // the types file's body data word
    int32_t collWord;   // -1 once cleared
    int32_t fileEntry;  // what B3D_BodyGetFileEntry answers
    char* name;         // file name without its extension, owned
    int32_t used;
    int32_t loadMark;
    int32_t useCount;
};

struct B3DCutSlot {
    char* name;
    int32_t used;
};

struct B3DBodyIdTable {
    int32_t fixedCount;
    int32_t dynamicCount;
    B3DBodySlot* slots;
};

struct B3DCutIdTable {
    int32_t fixedCount;
    int32_t dynamicCount;
    B3DCutSlot* slots;
};

constexpr int32_t B3D_BODY_FIXED_SLOTS = 11000;
constexpr int32_t B3D_CUT_FIXED_SLOTS = 15000;
constexpr int32_t B3D_FIRST_DYNAMIC_BODY = 20000;
constexpr int32_t B3D_FIRST_DYNAMIC_CUT = 50000;
constexpr int32_t B3D_DYNAMIC_STEP = 1000;

// The slot of an id, -1 when it has none.
int32_t B3D_BodySlot(int32_t id);
int32_t B3D_CutSlot(int32_t id);
B3DBodySlot* B3D_BodySlotOf(int32_t id);
B3DCutSlot* B3D_CutSlotOf(int32_t id);

int32_t B3D_BodyGetFileEntry(int32_t id);
int32_t B3D_BodyGetCollWord(int32_t id);
int32_t B3D_BodyClearCollWord(int32_t id);
void B3D_BodySetUsed(int32_t id);
int32_t B3D_BodyIsUsed(int32_t id);
int32_t B3D_BodyGetLoadMark(int32_t id);
void B3D_CutSetUsed(int32_t id);
int32_t B3D_CutIsUsed(int32_t id);
// The length of a body or cut file name without its three-letter extension:
// the one rule for names stored in the slots and names looked up in them.
size_t B3D_NameStemLength(std::string_view name);
void B3D_SetBodyName(int32_t id, const char* name);
void B3D_SetCutName(int32_t id, const char* name);
void B3D_CountBodyUses(Inst3D* tree);

int32_t B3D_InitBodyIdTable();
int32_t B3D_InitCutIdTable();
void B3D_ResetDynamicBodyIds();
void B3D_ResetDynamicCutIds();
void B3D_FreeBodyIdTable();
void B3D_FreeCutIdTable();
