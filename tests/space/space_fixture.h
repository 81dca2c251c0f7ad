// A space root made by SA_Init over a fresh scene state, freed with every
// object and the types database after each test; helpers that make objects
// and give types records.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/fixmath.h"
#include "base/memory.h"
#include "scene/allocs.h"
#include "scene/calls.h"
#include "scene/freeing.h"
#include "scene/scene_fixture.h"
#include "scene/takes.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "space/callnames.h"
#include "space/create.h"
#include "space/cutscene.h"
#include "space/objects.h"
#include "space/records.h"
#include "space/typesdb.h"
#include "system/clock.h"
#include "support/gamefolder.h"
#include "support/script_run.h"
#include "tools/lib/cutconv.h"

// A cut from its readable source ("path N REF" and its statements) written
// into the folder as cut/ID.bod.
inline void WriteSourceCut(const TempGameFolder& folder, int id, const std::string& source) {
    std::string text, error;
    ASSERT_TRUE(Tool_CutSourceToText(source, &text, &error)) << error;
    char name[32];
    std::snprintf(name, sizeof name, "cut/%05d.bod", id);
    folder.Write(name, text);
}

// The types writer's source of the core files with nothing in them and every
// table empty, at a version.
inline std::string EmptyTypes(int32_t version = 47) {
    std::string s =
        "[Globals]\n[Videos]\n[VideoLists]\n[Dummies]\nSDTYPE_DOCK\n[Bodies]\nSBTYPE_LOGO\n"
        "[Components]\nSCTYPE_LASER\n[Matches]\nSMTYPE_MINE NULL\n[WareLists]\n";
    for (int32_t m = 0; m < SA_MAIN_TYPE_COUNT; ++m)
        if (const char* name = SA_TypesFileName(m))
            s += "[" + std::string(name) + " " + std::to_string(version) + "]\n";
    return s;
}

// The types writer's source of one ship type (version 47) whose every numeric
// field holds its own number.
inline constexpr const char* kOneShipTypeSource =
    "[TShips 47]\n"
    "500 NULL 2.25 3.25 4.25 5 1006 17 18 19 20 21 22 23 24 25 NULL NULL 28 29 30 31.25 32 33 5 36 37 38 39 40 41"
    " 0 0 0 0 0 0 0 0 0 0 0 0 42 43 44 45 46 47 48 50 51 49 7 8 9 10 11 12 13 14 15 story\n";

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

// A space root whose module is registered in a story runner's context, which
// is the engine's context for the test, with the story loaded.
class SpaceStoryTest : public SpaceTest {
protected:
    // With sceneCalls the story may call the scene engine's calls as well.
    void SetUpStory(const std::string& story, bool sceneCalls = false) {
        saved_ = g_SEContext;
        runner_ = std::make_unique<StoryRunner>();
        g_SEContext = runner_->ctx();
        root_.moduleNumber = SB_RegisterEngineModule(runner_->ctx(), SA_SysCall, SA_GetCallNames(),
                                                     SA_ReturnIntCallback, nullptr, nullptr);
        if (sceneCalls)
            SB_RegisterEngineModule(runner_->ctx(), B3D_SysCall, B3D_GetCallNames(), nullptr, nullptr, nullptr);
        ASSERT_TRUE(runner_->Load(story));
    }
    void TearDown() override {
        SA_FreeAllObjects(&root_);
        runner_.reset();
        g_SEContext = saved_;
        SpaceTest::TearDown();
    }

    std::unique_ptr<StoryRunner> runner_;

private:
    SE_Context* saved_ = nullptr;
};

// A story over a running sector with a scene, the ship types and a take cut
// (801, one path of two keys) in a game folder; frames advance the takes, the
// space update and the story's tasks.
class SectorStoryTest : public SpaceStoryTest {
protected:
    void SetUpSector(const std::string& story, bool sceneCalls = false) {
        SetUpStory(story, sceneCalls);
        folder_ = std::make_unique<TempGameFolder>();
        WriteSourceCut(*folder_, 801,
                       "path 0 -1\n  key 0x800 2000 0 0 0 0 0 0 0.25\n  key 0x800 -1 65536 0 0 0 0 0 0.25\n");
        ships_ = Types(SA_MT_SHIP, 1);
        SetClock(1000000);
        sector_ = New(SA_MT_SECTOR, 1);
        O_Sector(sector_)->spaceScene = B3D_SceneAlloc();
        root_.running = 1;
    }
    void TearDown() override {
        SA_FreeAllObjects(&root_);
        ST_RemoveAllTakes(&root_);
        J3D_TakeFreeAll();
        J3D_FreeAllCuts();
        folder_.reset();
        SpaceStoryTest::TearDown();
    }
    // An object of the main type in the sector at z, facing ahead.
    SectorObject* At(int16_t mainType, int32_t z) {
        SectorObject* o = New(mainType);
        O_SetContainer(o, sector_);
        o->instance->pos = QelVector{0, 0, z, 0};
        Qel_MatIdentity(&o->instance->matrix);
        o->lastMoveTime = system_->gameClock;
        return o;
    }
    void Frame(int32_t ms) {
        SetClock(S_ClockAdvance(system_->gameClock, ms));
        system_->gameFrameDelta = ms;
        J3D_TakesUpdate();
        SA_UpdateSpace();
        SA_DeleteKilledObjects();
        SE_RunAllTasks();
    }
    std::vector<int32_t> Results() const {
        std::vector<int32_t> r;
        for (const RunAnswer& a : runner_->answers) r.push_back(a.n);
        return r;
    }
    static int32_t Id(const SectorObject* o) { return static_cast<int32_t>(o->id); }

    TypeRecord* ships_ = nullptr;
    SectorObject* sector_ = nullptr;
    std::unique_ptr<TempGameFolder> folder_;
};
