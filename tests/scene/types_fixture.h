// A scene-engine state in a temporary game folder whose "types" folder is
// written by the types writer; the texture table starts empty and is freed
// after each test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "base/texcache.h"
#include "scene/dummies.h"
#include "scene/names.h"
#include "scene_fixture.h"
#include "support/gamefolder.h"
#include "tools/lib/types_writer.h"

class TypesTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        system_->app = TestAppDescriptor();
        system_->fontScale = 1;
    }
    void TearDown() override {
        B3DB_FreeMaterials();
        TC_FreeTextureTables();
        g_TCNumberedCount = g_TCNamedCount = 0;
        B3D_ForgetMenuTextures();
        SceneTest::TearDown();
    }
    // Writes the types files of a source (see tools/lib/types_writer.h).
    void Types(const std::string& source, int packedKey = -1) {
        std::string error;
        ASSERT_TRUE(Tool_WriteTypesFiles(source, game_.Path() + "/types", packedKey, &error)) << error;
    }
    std::string Text(const std::string& name) const {
        auto bytes = game_.Read("types/" + name + ".txt");
        return std::string(bytes.begin(), bytes.end());
    }
    // Replaces the text form of a file by hand.
    void Spoil(const std::string& name, const std::string& text) const { game_.Write("types/" + name + ".txt", text); }

    TempGameFolder game_;
};
