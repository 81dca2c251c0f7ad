// A cockpit system over a fresh space root: made before each test, freed
// (with every cockpit) after it; helpers that add cockpits and ships, and a
// story runner as the script context the cockpit calls run in.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "base/memory.h"
#include "cockpit/cockpits.h"
#include "cockpit/steering.h"
#include "cockpit/syscall.h"
#include "scene/trees.h"
#include "space/queries.h"
#include "space/space_fixture.h"
#include "support/script_run.h"

class CockpitTest : public SpaceTest {
protected:
    void SetUp() override {
        SpaceTest::SetUp();
        ASSERT_NE(INS_NewCockpitSystem(), nullptr);
    }
    void TearDown() override {
        // Freeing the cockpits may answer the story's tasks: the story goes after.
        INS_FreeCockpitSystem();
        if (story_) {
            story_.reset();
            g_SEContext = storyContext_;
        }
        g_INSCockpitView = savedView_;
        STS_Reset();
        SpaceTest::TearDown();
    }
    // A new cockpit with its defaults.
    static Cockpit* AddCockpit() {
        const uint32_t id = INS_AddCockpit(g_CockpitSystem);
        EXPECT_NE(id, 0u);
        return INS_TableGet(g_CockpitSystem, id);
    }
    // A ship of subtype 0 with an instance at the position, turned by the identity.
    static SectorObject* Ship(int32_t x = 0, int32_t y = 0, int32_t z = 0) {
        SectorObject* ship = New(SA_MT_SHIP, 0);
        ship->instance = B3D_AllocInst();
        EXPECT_NE(ship->instance, nullptr);
        ship->instance->pos = QelVector{x, y, z, 0};
        Qel_MatIdentity(&ship->instance->matrix);
        return ship;
    }
    // The story runner becomes the script context, with the cockpit calls
    // registered, and loads the story; TearDown puts the context back.
    bool LoadStory(const char* text) {
        if (!story_) {
            storyContext_ = g_SEContext;
            story_ = std::make_unique<StoryRunner>();
        }
        g_SEContext = story_->ctx();
        INS_RegisterSysCalls();
        return story_->Load(text);
    }

    std::unique_ptr<StoryRunner> story_;

private:
    SE_Context* storyContext_ = nullptr;
    INS_CockpitViewFn savedView_ = g_INSCockpitView;
};
