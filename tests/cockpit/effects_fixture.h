// A space root with one sector whose space scene holds the objects, an
// effects file written by the types writer into a temporary game folder, and
// a game sound that records what the effects play.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cockpit/effects.h"
#include "cockpit/explosions.h"
#include "scene/allocs.h"
#include "scene/geometry.h"
#include "scene/trees.h"
#include "space/space_fixture.h"
#include "space/create.h"
#include "space/kill.h"
#include "support/gamefolder.h"
#include "tools/lib/types_writer.h"

class EffectsTest : public SpaceTest {
protected:
    void SetUp() override {
        SpaceTest::SetUp();
        system_->app = TestAppDescriptor();
        Played().clear();
        Playing().clear();
        g_EOSoundLink = {&Play, &Find};
        sector_ = New(SA_MT_SECTOR);
        scene_ = B3D_SceneAlloc();
        ASSERT_NE(scene_, nullptr);
        O_Sector(sector_)->spaceScene = scene_;
    }
    void TearDown() override {
        EO_FreeExplosions();
        EO_FreeEffects();
        g_EOSoundLink = {};
        SpaceTest::TearDown();
    }

    // Writes "[effects]" with the given lines through the types writer and
    // loads it with EO_Init; its answer.
    int Effects(const std::string& lines) {
        Write("types", "[effects]\n" + lines);
        return EO_Init();
    }
    // Writes a types source into the folder.
    void Write(const std::string& folder, const std::string& source) {
        std::string error;
        EXPECT_TRUE(Tool_WriteTypesFiles(source, game_.Path() + "/" + folder, -1, &error)) << error;
    }
    // An object of the type placed in the sector, with an instance of the
    // given size at the position.
    SectorObject* Place(int32_t mainType, int32_t subType = 0, int32_t size = 65536, QelVector pos = {}) {
        SectorObject* o = New(mainType, subType);
        if (!o->instance) o->instance = B3D_AllocInst();
        o->instance->size = size;
        o->instance->pos = pos;
        o->size = size;
        O_SetContainer(o, sector_);
        if (!o->instance->scene) B3D_InstAddToScene(o->instance, scene_);
        return o;
    }
    // Steps the game clock and runs one frame pass of the effects.
    void Frame(int32_t ms) {
        system_->gameFrameDelta = ms;
        SetClock(EO_TimeAdd(system_->gameClock, ms));
        EO_MoveExplObjects();
    }

    static std::vector<int32_t>& Played() {
        static std::vector<int32_t> played;
        return played;
    }
    // The instance the last sound played at.
    static Inst3D*& PlayedAt() {
        static Inst3D* at = nullptr;
        return at;
    }
    static std::vector<int32_t>& Playing() {
        static std::vector<int32_t> playing;
        return playing;
    }

    TempGameFolder game_;
    SectorObject* sector_ = nullptr;
    Scene3D* scene_ = nullptr;

private:
    static int Play(int32_t, int32_t, int32_t effectId, Inst3D* at) {
        Played().push_back(effectId);
        PlayedAt() = at;
        return 1;
    }
    static int Find(int32_t id) {
        for (int32_t p : Playing())
            if (p == id) return 1;
        return 0;
    }
};
