// STANDIN: see standin_calls.h.
#include "base/standin_calls.h"

#include <algorithm>

namespace {
std::vector<std::string>& Calls() {
    static std::vector<std::string> calls;
    return calls;
}
std::vector<std::string>& Failures() {
    static std::vector<std::string> failures;
    return failures;
}
StandInHook s_hook = nullptr;
}  // namespace

void StandIn_Record(const char* call) {
    Calls().emplace_back(call);
    if (s_hook) s_hook(call);
}

const std::vector<std::string>& StandIn_Calls() { return Calls(); }

void StandIn_ClearCalls() { Calls().clear(); }

void StandIn_SetFailure(const char* call, bool fail) {
    auto& f = Failures();
    auto it = std::find(f.begin(), f.end(), call);
    if (fail && it == f.end()) f.emplace_back(call);
    if (!fail && it != f.end()) f.erase(it);
}

bool StandIn_Fails(const char* call) {
    const auto& f = Failures();
    return std::find(f.begin(), f.end(), call) != f.end();
}

void StandIn_SetHook(StandInHook hook) { s_hook = hook; }

void StandIn_Reset() {
    Calls().clear();
    Failures().clear();
    s_hook = nullptr;
}

namespace {
std::vector<std::string>& ObjectCalls() {
    static std::vector<std::string> calls;
    return calls;
}
}  // namespace

const std::vector<std::string>& StandIn_ObjectCalls() { return ObjectCalls(); }
void StandIn_ClearObjectCalls() { ObjectCalls().clear(); }
void StandIn_RecordObjectCall(const std::string& call) { ObjectCalls().push_back(call); }
