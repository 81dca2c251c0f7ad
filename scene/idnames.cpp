#include "scene/idnames.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <type_traits>

#include "base/file.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "scene/dummies.h"
#include "scene/ids.h"
#include "scene/state.h"

namespace {

bool PutU32(QelFile* f, uint32_t v) {
    const uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                          static_cast<uint8_t>(v)};
    return Qel_fwriteBlock(f, 1, 4, b) == 4;
}

// The length byte and the bytes that follow always agree, so a reader never
// loses its place whatever the name's length.
bool PutName(QelFile* f, const char* name, B3DNameRule rule) {
    size_t length = name ? std::strlen(name) : 0;
    length = rule == B3DNameRule::Truncate ? std::min<size_t>(length, 255) : length % 256;
    const auto l = static_cast<uint8_t>(length);
    if (Qel_fwriteBlock(f, 1, 1, &l) != 1) return false;
    return length == 0 || Qel_fwriteBlock(f, 1, length, name) == length;
}

bool GetU32(QelFile* f, uint32_t* v) {
    uint8_t b[4];
    if (Qel_fread(f, 1, 4, b) != 4) return false;
    *v = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
    return true;
}

// A heap string of the name bytes (cut at a NUL, which a heap string cannot
// hold); null for length 0.
bool GetName(QelFile* f, char** out) {
    *out = nullptr;
    uint8_t length;
    if (Qel_fread(f, 1, 1, &length) != 1) return false;
    if (length == 0) return true;
    char bytes[256];
    if (Qel_fread(f, 1, length, bytes) != length) return false;
    bytes[length] = 0;
    *out = Qel_StrDup(bytes);
    return true;
}

int32_t ArraySlots(int32_t fixed, int32_t dynamic) {
    return fixed + B3D_DYNAMIC_STEP * (dynamic / B3D_DYNAMIC_STEP + 1);
}

// Makes room for one more dynamic slot, keeping the array at the size the id
// tables' rule gives for their dynamic count.
template <class Table>
bool GrowForOneMore(Table& t) {
    using Slot = std::remove_pointer_t<decltype(t.slots)>;
    const int32_t dynamic = t.dynamicCount + 1;
    if (dynamic % B3D_DYNAMIC_STEP != 0) return true;
    const size_t oldSize = sizeof(Slot) * static_cast<size_t>(ArraySlots(t.fixedCount, t.dynamicCount));
    const size_t newSize = sizeof(Slot) * static_cast<size_t>(ArraySlots(t.fixedCount, dynamic));
    void* p = Int_ReAllocMem(t.slots, oldSize, newSize, 0);
    if (!p) return false;
    std::memset(static_cast<char*>(p) + oldSize, 0, newSize - oldSize);
    t.slots = static_cast<Slot*>(p);
    return true;
}

template <class Table, class Fill>
bool ReadTable(QelFile* f, Table& t, const char* what, Fill fill) {
    uint32_t count;
    if (!GetU32(f, &count)) return false;
    if (count > B3D_MAX_DYNAMIC_NAMES) {
        Qel_ErrPrintf("B3D_ReadIdNameTables() %u %s names are too many!\n", count, what);
        return false;
    }
    if (!t.slots) return count == 0;
    for (uint32_t i = 0; i < count; ++i) {
        char* name;
        if (!GetName(f, &name)) return false;
        if (!GrowForOneMore(t)) {
            Qel_StrFree(name);
            return false;
        }
        auto& slot = t.slots[t.fixedCount + t.dynamicCount];
        ++t.dynamicCount;
        fill(slot, name);
    }
    return true;
}

}  // namespace

int32_t B3D_RecordNames(QelFile* file, B3DNameRule rule) {
    if (!file || !g_B3DState) return 0;
    const B3DBodyIdTable& bodies = g_B3DState->bodyIds;
    const B3DCutIdTable& cuts = g_B3DState->cutIds;
    const int32_t bodyCount = bodies.slots ? bodies.dynamicCount : 0;
    const int32_t cutCount = cuts.slots ? cuts.dynamicCount : 0;
    bool ok = PutU32(file, static_cast<uint32_t>(bodyCount));
    for (int32_t i = 0; ok && i < bodyCount; ++i) ok = PutName(file, bodies.slots[bodies.fixedCount + i].name, rule);
    ok = ok && PutU32(file, static_cast<uint32_t>(cutCount));
    for (int32_t i = 0; ok && i < cutCount; ++i) ok = PutName(file, cuts.slots[cuts.fixedCount + i].name, rule);
    return ok ? 1 : 0;
}

int32_t B3D_ReadIdNameTables(QelFile* file) {
    if (!file || !g_B3DState) return 0;
    B3D_ResetDynamicBodyIds();
    bool ok = ReadTable(file, g_B3DState->bodyIds, "body", [](B3DBodySlot& s, char* name) {
        Qel_StrFree(s.name);
        s = B3DBodySlot{};
        s.data = -2;
        s.collWord = -2;
        s.fileEntry = -1;
        s.name = name;
    });
    B3D_ResetDynamicCutIds();
    ok = ok && ReadTable(file, g_B3DState->cutIds, "cut", [](B3DCutSlot& s, char* name) {
             Qel_StrFree(s.name);
             s = B3DCutSlot{};
             s.name = name;
         });
    B3DB_ReloadLensflaresAndDummies();
    return ok ? 1 : 0;
}
