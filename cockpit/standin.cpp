// STANDIN: see standin.h.
#include "cockpit/standin.h"

#include <cstring>

#include "base/file.h"
#include "base/log.h"
#include "base/standin_calls.h"

namespace {

// The section's one word; any value reads back.
constexpr uint8_t kCockpitSection[12] = {'I', 'N', 'S', ' ', 0, 0, 0, 1, '/', 'I', 'N', 'S'};

int WriteSection(const char* call, QelFile* file, const uint8_t (&section)[12]) {
    StandIn_Record(call);
    if (StandIn_Fails(call)) return 0;
    return Qel_fwriteBlock(file, 1, sizeof section, section) == sizeof section ? 1 : 0;
}

int ReadSection(const char* call, QelFile* file, const uint8_t (&section)[12]) {
    StandIn_Record(call);
    uint8_t got[sizeof section];
    if (Qel_fread(file, 1, sizeof got, got) != sizeof got || std::memcmp(got, section, 4) != 0 ||
        std::memcmp(got + 8, section + 8, 4) != 0) {
        Qel_ErrPrintf("%s: Wrong %.4s section\n", call, reinterpret_cast<const char*>(section));
        return 0;
    }
    return StandIn_Fails(call) ? 0 : 1;
}

}  // namespace

namespace {
std::vector<std::string>& ObjectCalls() {
    static std::vector<std::string> calls;
    return calls;
}
}  // namespace

const std::vector<std::string>& StandIn_ObjectCalls() { return ObjectCalls(); }
void StandIn_ClearObjectCalls() { ObjectCalls().clear(); }
void StandIn_RecordObjectCall(const std::string& call) { ObjectCalls().push_back(call); }

int ID_Save(QelFile* file) { return WriteSection("ID_Save", file, kCockpitSection); }
int ID_Load(QelFile* file) { return ReadSection("ID_Load", file, kCockpitSection); }

void* g_INSTrackedObject = nullptr;

void INS_DeleteCockpitObject(CockpitObject* object) {
    StandIn_Record("INS_DeleteCockpitObject");
    if (CockpitObjectList* list = object->list) {
        (object->prev ? object->prev->next : list->head) = object->next;
        (object->next ? object->next->prev : list->tail) = object->prev;
    }
    object->next = object->prev = nullptr;
    object->list = nullptr;
    if (object->tracked) INS_DropTrackedObject(object->tracked);
    object->tracked = nullptr;
    for (void*& icon : object->icons) icon = nullptr;
}

void INS_DropTrackedObject(void* object) {
    StandIn_Record("INS_DropTrackedObject");
    if (!object || object == g_INSTrackedObject) g_INSTrackedObject = nullptr;
}
