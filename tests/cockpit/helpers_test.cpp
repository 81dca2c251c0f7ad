#include "cockpit/helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/memory.h"
#include "base/standin_calls.h"

namespace {

using Calls = std::vector<std::string>;

TEST(CockpitHelpers, DeleteObjectListUnlinksAndFreesEveryObject) {
    StandIn_ClearCalls();
    auto* owner = Int_AllocRecord<CockpitObjectOwner>(0);
    ASSERT_NE(owner, nullptr);
    int trackedA = 0, trackedB = 0;
    for (void* tracked : {static_cast<void*>(&trackedA), static_cast<void*>(nullptr), static_cast<void*>(&trackedB)}) {
        auto* o = Int_AllocRecord<CockpitObject>(0);
        o->list = &owner->objects;
        o->tracked = tracked;
        o->prev = owner->objects.tail;
        (owner->objects.tail ? owner->objects.tail->next : owner->objects.head) = o;
        owner->objects.tail = o;
    }
    g_INSTrackedObject = &trackedB;
    INS_DeleteObjectList(owner);
    EXPECT_EQ(g_INSTrackedObject, nullptr);
    EXPECT_EQ(StandIn_Calls(), (Calls{"INS_DeleteCockpitObject", "INS_DropTrackedObject", "INS_DeleteCockpitObject",
                                      "INS_DeleteCockpitObject", "INS_DropTrackedObject", "INS_DropTrackedObject"}));
    StandIn_ClearCalls();
}

TEST(CockpitHelpers, DroppingAnotherObjectKeepsTheTrackedOne) {
    int tracked = 0, other = 0;
    g_INSTrackedObject = &tracked;
    INS_DropTrackedObject(&other);
    EXPECT_EQ(g_INSTrackedObject, &tracked);
    INS_DropTrackedObject(nullptr);
    EXPECT_EQ(g_INSTrackedObject, nullptr);
    StandIn_ClearCalls();
}

}  // namespace
