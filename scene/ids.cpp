#include "scene/ids.h"

#include <cstring>
#include <string_view>

#include "base/memory.h"
#include "base/strings.h"
#include "scene/lists.h"
#include "scene/records.h"
#include "scene/state.h"

namespace {
// Slot arrays come from the general heap, counted in its statistics.
template <class Slot>
Slot* AllocSlots(int32_t count) {
    const size_t bytes = sizeof(Slot) * static_cast<size_t>(count);
    void* p = Int_AllocMem(bytes, 0);
    if (!p) p = Int_AllocMem(bytes, 0);
    return static_cast<Slot*>(p);
}

// The slot array holds the fixed slots plus the dynamic ones rounded up past
// the next multiple of 1000.
int32_t ArraySlots(int32_t fixed, int32_t dynamic) {
    return fixed + B3D_DYNAMIC_STEP * (dynamic / B3D_DYNAMIC_STEP + 1);
}

bool Valid(int32_t slot, int32_t fixed, int32_t dynamic) { return slot >= 0 && slot < fixed + dynamic; }

// The name as stored, without its extension.
char* NameWithoutExtension(const char* name) {
    if (!name || !*name) return nullptr;
    const size_t keep = B3D_NameStemLength(name);
    char* copy = static_cast<char*>(Int_AllocMem(keep + 1, 0));
    if (!copy) return nullptr;
    std::memcpy(copy, name, keep);
    return copy;
}
}  // namespace

int32_t B3D_BodySlot(int32_t id) {
    if (!g_B3DState || !g_B3DState->bodyIds.slots) return -1;
    const B3DBodyIdTable& t = g_B3DState->bodyIds;
    int32_t slot;
    if (id < 1000) slot = id;
    else if (id < B3D_FIRST_DYNAMIC_BODY) slot = id - 9000;
    else slot = t.fixedCount + (id - B3D_FIRST_DYNAMIC_BODY);
    return Valid(slot, t.fixedCount, t.dynamicCount) ? slot : -1;
}

int32_t B3D_CutSlot(int32_t id) {
    if (!g_B3DState || !g_B3DState->cutIds.slots) return -1;
    const B3DCutIdTable& t = g_B3DState->cutIds;
    // Ids between the fixed slots and the first dynamic id have no slot; they
    // would otherwise alias the dynamic slots once those exist.
    if (id < B3D_FIRST_DYNAMIC_CUT) return id >= 0 && id < t.fixedCount ? id : -1;
    const int32_t slot = t.fixedCount + (id - B3D_FIRST_DYNAMIC_CUT);
    return Valid(slot, t.fixedCount, t.dynamicCount) ? slot : -1;
}

B3DBodySlot* B3D_BodySlotOf(int32_t id) {
    const int32_t s = B3D_BodySlot(id);
    return s < 0 ? nullptr : &g_B3DState->bodyIds.slots[s];
}

B3DCutSlot* B3D_CutSlotOf(int32_t id) {
    const int32_t s = B3D_CutSlot(id);
    return s < 0 ? nullptr : &g_B3DState->cutIds.slots[s];
}

int32_t B3D_BodyGetFileEntry(int32_t id) {
    B3DBodySlot* s = B3D_BodySlotOf(id);
    return s ? s->fileEntry : 0;
}

int32_t B3D_BodyGetCollWord(int32_t id) {
    B3DBodySlot* s = B3D_BodySlotOf(id);
    return s ? s->collWord : 0;
}

int32_t B3D_BodyClearCollWord(int32_t id) {
    B3DBodySlot* s = B3D_BodySlotOf(id);
    if (!s) return 0;
    s->collWord = -1;
    return 1;
}

void B3D_BodySetUsed(int32_t id) {
    if (B3DBodySlot* s = B3D_BodySlotOf(id)) s->used = 1;
}

int32_t B3D_BodyIsUsed(int32_t id) {
    if (id < 0) return 1;
    B3DBodySlot* s = B3D_BodySlotOf(id);
    return s ? s->used : 0;
}

int32_t B3D_BodyGetLoadMark(int32_t id) {
    if (id < 0) return 1;
    B3DBodySlot* s = B3D_BodySlotOf(id);
    return s ? s->loadMark : 0;
}

void B3D_CutSetUsed(int32_t id) {
    if (B3DCutSlot* s = B3D_CutSlotOf(id)) s->used = 1;
}

int32_t B3D_CutIsUsed(int32_t id) {
    if (id < 0) return 1;
    B3DCutSlot* s = B3D_CutSlotOf(id);
    return s ? s->used : 0;
}

size_t B3D_NameStemLength(std::string_view name) {
    // Only the first '.' after the first character counts, so "a.b.cut" keeps
    // its whole name: names reach saves and recordings as they are stored.
    const size_t dot = name.size() > 1 ? name.find('.', 1) : std::string_view::npos;
    return dot != std::string_view::npos && name.size() >= 4 && dot == name.size() - 4 ? dot : name.size();
}

void B3D_SetBodyName(int32_t id, const char* name) {
    B3DBodySlot* s = B3D_BodySlotOf(id);
    if (!s) return;
    s->name = Qel_StrFree(s->name);
    s->name = NameWithoutExtension(name);
}

void B3D_SetCutName(int32_t id, const char* name) {
    B3DCutSlot* s = B3D_CutSlotOf(id);
    if (!s) return;
    s->name = Qel_StrFree(s->name);
    s->name = NameWithoutExtension(name);
}

void B3D_CountBodyUses(Inst3D* tree) {
    if (!tree) return;
    if (B3DBodySlot* s = B3D_BodySlotOf(tree->bodyId)) ++s->useCount;
    for (Inst3D* c = B3D_First<Inst3D>(&tree->children); c; c = B3D_Next(c)) B3D_CountBodyUses(c);
}

int32_t B3D_InitBodyIdTable() {
    B3DBodyIdTable& t = g_B3DState->bodyIds;
    t.fixedCount = B3D_BODY_FIXED_SLOTS;
    t.dynamicCount = 0;
    t.slots = AllocSlots<B3DBodySlot>(ArraySlots(t.fixedCount, 0));
    return t.slots ? 1 : 0;
}

int32_t B3D_InitCutIdTable() {
    B3DCutIdTable& t = g_B3DState->cutIds;
    t.fixedCount = B3D_CUT_FIXED_SLOTS;
    t.dynamicCount = 0;
    t.slots = AllocSlots<B3DCutSlot>(ArraySlots(t.fixedCount, 0));
    return t.slots ? 1 : 0;
}

void B3D_ResetDynamicBodyIds() {
    B3DBodyIdTable& t = g_B3DState->bodyIds;
    if (!t.slots) return;
    for (int32_t i = t.fixedCount; i < t.fixedCount + t.dynamicCount; ++i) {
        // The next name to take the slot finds it as a fresh one.
        Qel_StrFree(t.slots[i].name);
        t.slots[i] = B3DBodySlot{};
    }
    const size_t oldSize = sizeof(B3DBodySlot) * static_cast<size_t>(ArraySlots(t.fixedCount, t.dynamicCount));
    const size_t newSize = sizeof(B3DBodySlot) * static_cast<size_t>(ArraySlots(t.fixedCount, 0));
    // An array of its first size stays as it is: no copy of it for nothing.
    if (newSize != oldSize)
        if (void* p = Int_ReAllocMem(t.slots, oldSize, newSize, 0)) t.slots = static_cast<B3DBodySlot*>(p);
    t.dynamicCount = 0;
}

void B3D_ResetDynamicCutIds() {
    B3DCutIdTable& t = g_B3DState->cutIds;
    if (!t.slots) return;
    for (int32_t i = t.fixedCount; i < t.fixedCount + t.dynamicCount; ++i) {
        Qel_StrFree(t.slots[i].name);
        t.slots[i] = B3DCutSlot{};
    }
    const size_t oldSize = sizeof(B3DCutSlot) * static_cast<size_t>(ArraySlots(t.fixedCount, t.dynamicCount));
    const size_t newSize = sizeof(B3DCutSlot) * static_cast<size_t>(ArraySlots(t.fixedCount, 0));
    if (newSize != oldSize)
        if (void* p = Int_ReAllocMem(t.slots, oldSize, newSize, 0)) t.slots = static_cast<B3DCutSlot*>(p);
    t.dynamicCount = 0;
}

void B3D_FreeBodyIdTable() {
    B3DBodyIdTable& t = g_B3DState->bodyIds;
    if (!t.slots) return;
    for (int32_t i = 0; i < t.fixedCount + t.dynamicCount; ++i) t.slots[i].name = Qel_StrFree(t.slots[i].name);
    Int_FreeMem(t.slots, sizeof(B3DBodySlot) * static_cast<size_t>(ArraySlots(t.fixedCount, t.dynamicCount)), 0);
    t.slots = nullptr;
}

void B3D_FreeCutIdTable() {
    B3DCutIdTable& t = g_B3DState->cutIds;
    if (!t.slots) return;
    for (int32_t i = 0; i < t.fixedCount + t.dynamicCount; ++i) t.slots[i].name = Qel_StrFree(t.slots[i].name);
    Int_FreeMem(t.slots, sizeof(B3DCutSlot) * static_cast<size_t>(ArraySlots(t.fixedCount, t.dynamicCount)), 0);
    t.slots = nullptr;
}
