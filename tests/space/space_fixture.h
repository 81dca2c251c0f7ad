// A space root made by SA_Init over a fresh scene state, freed with every
// object and the types database after each test; helpers that make objects
// and give types records.
#pragma once

#include <gtest/gtest.h>

#include "base/memory.h"
#include "scene/scene_fixture.h"
#include "space/objects.h"
#include "space/typesdb.h"

// A module that records the answers it is told (handle, code), with a story
// loaded as far as answering asks.
class AnswerModule : public ReplyModule {
public:
    explicit AnswerModule(int32_t module) : ReplyModule(module) { g_SEContext->storyName = name_; }

private:
    char name_[6] = "story";
};

class SpaceTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        tagBytes_ = Int_GetTagMem(14);
        savedRoot_ = g_SpaceRoot;
        g_SpaceRoot = SA_Init(&root_);
    }
    void TearDown() override {
        SA_ResetObjectDB(&root_);
        g_SpaceRoot = savedRoot_;
        // Every object, object data and table of the space module is given back.
        EXPECT_EQ(Int_GetTagMem(14), tagBytes_);
        SceneTest::TearDown();
    }
    // A new object of the type code in the root's list; a main type with a
    // types table gets zeroed records up to the subtype first.
    static SectorObject* New(int32_t mainType, int32_t subType = 0) {
        if (SA_TypesFileName(mainType) && subType >= g_TypeDB.counts[mainType])
            Types(mainType, subType + 1 - g_TypeDB.counts[mainType]);
        SectorObject* o = O_AllocObject(SA_TypeCode(mainType, subType));
        EXPECT_NE(o, nullptr);
        return o;
    }
    // Moves an object into a container's child list.
    static void Into(SectorObject* container, SectorObject* o) {
        SA_ListAddTail(O_GetChildList(container), o);
        o->container = container;
    }
    // Gives main type m n zeroed records; the first one.
    static TypeRecord* Types(int32_t m, int32_t n) { return SA_AppendTypeRecords(m, n); }

    SpaceRoot root_{};

private:
    SpaceRoot* savedRoot_ = nullptr;
    int64_t tagBytes_ = 0;
};
