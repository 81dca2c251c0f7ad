// STANDIN: see standin.h.
#include "cockpit/standin.h"

#include <cstring>
#include <string>

#include "base/file.h"
#include "base/log.h"
#include "base/table.h"
#include "base/standin_calls.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "space/records.h"

CockpitSystem* g_CockpitSystem = nullptr;
Cockpit* g_StandInControlCockpit = nullptr;

namespace {
const char* const s_names[] = {nullptr};

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

int32_t CockpitStandInSysCall(int32_t, SE_Task* task, int32_t, int32_t, ScriptValue*) {
    SE_TaskReturnIntEx(task, g_SEContext, 0);
    return 1;
}

int32_t Register() {
    return g_SEContext ? SB_RegisterEngineModule(g_SEContext, CockpitStandInSysCall, s_names, nullptr, nullptr, nullptr)
                       : 0;
}
}  // namespace

CockpitSystem* INS_CreateCockpitSystem(CockpitSystem* block) {
    StandIn_Record("INS_CreateCockpitSystem");
    if (StandIn_Fails("INS_CreateCockpitSystem")) return nullptr;
    block->cockpits = Qel_TableCreate();
    if (g_StandInControlCockpit && block->cockpits) {
        Qel_TableSet(block->cockpits, 1, reinterpret_cast<uintptr_t>(g_StandInControlCockpit));
        block->activeControl = 1;
    }
    return block;
}

void INS_ClearAllCockpits(CockpitSystem* system) {
    StandIn_Record("INS_ClearAllCockpits");
    if (system && system->cockpits) {
        Qel_TableFree(system->cockpits);
        system->cockpits = nullptr;
    }
}

void INS_RegisterSysCalls() {
    StandIn_Record("INS_RegisterSysCalls");
    Register();
}

void INS_UpdateAllCockpits() { StandIn_Record("INS_UpdateAllCockpits"); }

namespace {
std::vector<std::string>& ObjectCalls() {
    static std::vector<std::string> calls;
    return calls;
}
uint32_t IdOf(const SectorObject* object) { return object ? object->id : 0; }
void RecordWithId(const char* call, const SectorObject* object) {
    ObjectCalls().push_back(std::string(call) + " " + std::to_string(IdOf(object)));
}
}  // namespace

const std::vector<std::string>& StandIn_ObjectCalls() { return ObjectCalls(); }
void StandIn_ClearObjectCalls() { ObjectCalls().clear(); }
void StandIn_RecordObjectCall(const std::string& call) { ObjectCalls().push_back(call); }

void INS_RemoveObjectReferences(SectorObject* object) {
    RecordWithId("INS_RemoveObjectReferences", object);
    if (!object) return;
    if (g_INSTrackedObject == object) g_INSTrackedObject = nullptr;
    if (!g_CockpitSystem || !g_CockpitSystem->cockpits) return;
    const QelTable* cockpits = g_CockpitSystem->cockpits;
    for (uint32_t k = Qel_TableNext(cockpits, 0); k; k = Qel_TableNext(cockpits, k))
        if (auto* cockpit = reinterpret_cast<Cockpit*>(Qel_TableGet(cockpits, k)))
            for (int32_t& id : cockpit->objectIds)
                if (id == static_cast<int32_t>(object->id)) id = 0;
}

int ID_Save(QelFile* file) { return WriteSection("ID_Save", file, kCockpitSection); }
int ID_Load(QelFile* file) { return ReadSection("ID_Load", file, kCockpitSection); }

void STS_Set(int32_t objectId, int flag) {
    StandIn_Record(("STS_Set " + std::to_string(objectId) + " " + std::to_string(flag)).c_str());
}

void* g_INSTrackedObject = nullptr;

void INS_ClearCockpit(Cockpit* cockpit) {
    StandIn_Record("INS_ClearCockpit");
    *cockpit = Cockpit{};
}

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
