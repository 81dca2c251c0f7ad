// A sector's scenes freed under it by the scene engine.
#include <gtest/gtest.h>

#include "scene/allocs.h"
#include "scene/replay.h"
#include "scene/trees.h"
#include "space/space_fixture.h"

using SectorScene = SpaceTest;

// The run start's location reset frees every scene, also those a sector was
// given before the game loop: the sector is left with none, and freeing the
// sector afterwards touches no freed scene.
TEST_F(SectorScene, ResetFreeingTheScenesClearsTheSectorsReferences) {
    SectorObject* s = New(SA_MT_SECTOR, 0);
    SectorSpace* sector = O_Sector(s);
    sector->spaceScene = B3D_SceneAlloc();
    sector->galaxyScene = B3D_SceneAlloc();
    sector->dustScene = B3D_SceneAlloc();
    Scene3D* other = B3D_SceneAlloc();
    SectorObject* s2 = New(SA_MT_SECTOR, 0);
    O_Sector(s2)->spaceScene = other;

    B3D_SceneFree(other);
    EXPECT_EQ(O_Sector(s2)->spaceScene, nullptr);
    EXPECT_NE(sector->spaceScene, nullptr);

    B3D_ReplayFreeAll();
    EXPECT_EQ(sector->spaceScene, nullptr);
    EXPECT_EQ(sector->galaxyScene, nullptr);
    EXPECT_EQ(sector->dustScene, nullptr);
    O_DeleteSectorObject(s);
    O_DeleteSectorObject(s2);
}
