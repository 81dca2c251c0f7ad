#include "scene/names.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "base/fonts.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/texcache.h"
#include "scene/ids.h"
#include "scene/pools.h"
#include "scene/state.h"

namespace {

int32_t s_failGrowth = 0;

bool IsNull(const char* name) {
    return !std::strcmp(name, "NULL") || !std::strcmp(name, "Null") || !std::strcmp(name, "null");
}

// Slots of the array: the fixed ones plus the dynamic ones rounded up past
// the next multiple of 1000 (the id tables' own rule).
int32_t ArraySlots(int32_t fixed, int32_t dynamic) {
    return fixed + B3D_DYNAMIC_STEP * (dynamic / B3D_DYNAMIC_STEP + 1);
}

int32_t BodyIdOfSlot(int32_t s) {
    if (s < 1000) return s;
    if (s < B3D_BODY_FIXED_SLOTS) return s + 9000;
    return B3D_FIRST_DYNAMIC_BODY + s - B3D_BODY_FIXED_SLOTS;
}

int32_t CutIdOfSlot(int32_t s) { return s < B3D_CUT_FIXED_SLOTS ? s : B3D_FIRST_DYNAMIC_CUT + s - B3D_CUT_FIXED_SLOTS; }

template <class Table>
int32_t IdByName(Table* table, const char* given, int32_t (*idOfSlot)(int32_t)) {
    using Slot = std::remove_pointer_t<decltype(table->slots)>;
    std::string name(given);
    name.resize(B3D_NameStemLength(name));
    if (!name.empty() && ((name[0] >= '0' && name[0] <= '9') || name[0] == '-')) {
        int v;
        if (std::sscanf(name.c_str(), "%d", &v) == 1) return v;
    }
    if (!table || !table->slots) return -1;
    Table& t = *table;
    const int32_t total = t.fixedCount + t.dynamicCount;
    for (int32_t s = 0; s < total; ++s)
        if (t.slots[s].name && Qel_StrICmp(t.slots[s].name, name.c_str()) == 0) return idOfSlot(s);
    const int32_t dynamic = t.dynamicCount + 1;
    if (dynamic % B3D_DYNAMIC_STEP == 0) {
        const size_t oldSize = sizeof(Slot) * static_cast<size_t>(ArraySlots(t.fixedCount, t.dynamicCount));
        const size_t newSize = sizeof(Slot) * static_cast<size_t>(ArraySlots(t.fixedCount, dynamic));
        void* p = nullptr;
        if (s_failGrowth > 0) --s_failGrowth;
        else p = Int_ReAllocMem(t.slots, oldSize, newSize, 0);
        if (!p) return -1;
        std::memset(static_cast<char*>(p) + oldSize, 0, newSize - oldSize);
        t.slots = static_cast<Slot*>(p);
    }
    t.dynamicCount = dynamic;
    // The slot starts as a fresh one: nothing of an earlier holder stays.
    Slot& slot = t.slots[total];
    Qel_StrFree(slot.name);
    slot = Slot{};
    slot.name = Qel_StrDup(name.c_str());
    return idOfSlot(total);
}

}  // namespace

void B3D_FailNextIdGrowth(int32_t n) { s_failGrowth = n; }

int32_t B3D_GetCutID(const char* name) {
    if (!name || IsNull(name)) return 0;
    return IdByName(g_B3DState ? &g_B3DState->cutIds : nullptr, name, &CutIdOfSlot);
}

int32_t B3D_GetBodyID(const char* name) {
    if (!name || !*name || IsNull(name)) return 0;
    return IdByName(g_B3DState ? &g_B3DState->bodyIds : nullptr, name, &BodyIdOfSlot);
}

namespace {
std::string FileName(const char* slotName, int32_t id, int32_t withFolder, const char* folderForm) {
    if (slotName) return slotName;
    char buf[32];
    std::snprintf(buf, sizeof buf, withFolder ? folderForm : "%d", id);
    return buf;
}
}  // namespace

std::string B3D_GetCutFilename(int32_t id, int32_t withFolder) {
    B3DCutSlot* s = B3D_CutSlotOf(id);
    return s ? FileName(s->name, id, withFolder, "cut\\%05d") : std::string();
}

std::string B3D_GetBodyFilename(int32_t id, int32_t withFolder) {
    B3DBodySlot* s = B3D_BodySlotOf(id);
    return s ? FileName(s->name, id, withFolder, "v\\%05d") : std::string();
}

// ------------------------------------------------------------------ textures

namespace {
const char* const kMenuTextures[3] = {"effects/menugfx/gui_background", "effects/menugfx/gui_master",
                                      "effects/menugfx/gui_bars"};
bool s_menuKept = false;
uint16_t s_menuIds[3];
}  // namespace

void B3D_ForgetMenuTextures() { s_menuKept = false; }

uint16_t B3D_GetTextureID(const char* name) {
    if (!s_menuKept) {
        for (int i = 0; i < 3; ++i) s_menuIds[i] = static_cast<uint16_t>(TC_GetTextureIdByName(kMenuTextures[i]));
        s_menuKept = true;
    }
    if (name)
        for (int i = 0; i < 3; ++i)
            if (Qel_StrICmp(name, kMenuTextures[i]) == 0) return s_menuIds[i];
    return static_cast<uint16_t>(TC_GetTextureIdByName(name));
}

// ------------------------------------------------------------------ text metrics

namespace {
QelFont* FontOf(int32_t font) { return font >= 0 && font < QEL_FONT_SLOTS ? g_QelFonts[font] : nullptr; }

// A scale of 0 would divide by zero: it measures like 1.
int32_t TextScale() {
    const int32_t s = g_SystemState ? g_SystemState->fontScale : 1;
    return s ? s : 1;
}
}  // namespace

int32_t B3D_TexTextHeight(int32_t font, uint32_t style) {
    QelFont* f = FontOf(font);
    if (!f) return 0;
    return Qel_TextLineHeight(f, style & TEXT_STYLE_MASK) / TextScale();
}

int32_t B3D_TexTextWidth(int32_t font, uint32_t style, const char* text) {
    QelFont* f = FontOf(font);
    if (!f || !text) return 0;
    return Qel_TextWidth(f, text, style) / TextScale();
}

// ------------------------------------------------------------------ scene-buffer records

B3DSceneBufferTexRecord* B3D_SceneBufferTexEntry(B3DList* records, int32_t textureId) {
    const auto id = static_cast<uint16_t>(textureId);
    for (auto* r = B3D_First<B3DSceneBufferTexRecord>(records); r; r = B3D_Next(r))
        if (r->textureId == id) return r;
    auto* r = B3D_AllocRecordI<B3DSceneBufferTexRecord>();
    if (!r) {
        Qel_ErrPrintf("B3D_AllocMemI() failed to allocate %d bytes!\n",
                      static_cast<int>(sizeof(B3DSceneBufferTexRecord)));
        return nullptr;
    }
    r->textureId = id;
    B3D_ListAppend(records, B3D_Node(r));
    return r;
}
