// Bodies in tests: a scene state in a temporary game folder with a texture
// table, text and binary body files written there, and a builder of binary
// body bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/texcache.h"
#include "scene/bodyrecord.h"
#include "scene/polybuild.h"
#include "scene_fixture.h"
#include "support/gamefolder.h"

// A temporary game folder that bodies are written to and loaded from, with a
// texture table; made over a live scene state, given back before it goes.
class BodyFolder {
public:
    BodyFolder() : folder_(std::make_unique<TempGameFolder>()), savedNumbered_(g_TCNumberedCount) {
        // Texture id 0 means none: named textures follow one numbered slot.
        g_TCNumberedCount = 1;
        g_TCNamedCount = 0;
        EXPECT_FALSE(TC_AllocTextureTable());  // true on failure
    }
    ~BodyFolder() {
        while (B3DListNode* n = B3D_ListFirst(&g_B3DState->bodies)) B3D_FreeBody(reinterpret_cast<Body3D*>(n));
        B3D_PolyWorkFree();
        TC_FreeTextureTables();
        g_TCNumberedCount = savedNumbered_;
        g_TCNamedCount = 0;
    }
    BodyFolder(const BodyFolder&) = delete;
    BodyFolder& operator=(const BodyFolder&) = delete;

    void WriteBody(int id, const std::string& text, const char* ext = "bod") const {
        char name[32];
        snprintf(name, sizeof name, "v/%05d.%s", id, ext);
        folder_->Write(name, text);
    }
    void WriteBodyBytes(int id, const std::vector<uint8_t>& bytes, const char* ext = "bob") const {
        char name[32];
        snprintf(name, sizeof name, "v/%05d.%s", id, ext);
        folder_->WriteBytes(name, bytes);
    }
    TempGameFolder* folder() const { return folder_.get(); }

private:
    std::unique_ptr<TempGameFolder> folder_;
    uint16_t savedNumbered_;
};

class BodyTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        bodies_ = std::make_unique<BodyFolder>();
        folder_ = bodies_->folder();
    }
    void TearDown() override {
        bodies_.reset();
        SceneTest::TearDown();
    }
    void WriteBody(int id, const std::string& text, const char* ext = "bod") const {
        bodies_->WriteBody(id, text, ext);
    }
    void WriteBodyBytes(int id, const std::vector<uint8_t>& bytes, const char* ext = "bob") const {
        bodies_->WriteBodyBytes(id, bytes, ext);
    }
    std::unique_ptr<BodyFolder> bodies_;
    TempGameFolder* folder_ = nullptr;
};

// Big-endian bytes of a binary body, field by field.
class BodyBytes {
public:
    BodyBytes& Tag(const char* t) {
        bytes_.insert(bytes_.end(), t, t + 4);
        return *this;
    }
    BodyBytes& S16(int32_t v) {
        bytes_.push_back(uint8_t(v >> 8));
        bytes_.push_back(uint8_t(v));
        return *this;
    }
    BodyBytes& S32(int64_t v) {
        for (int i = 3; i >= 0; --i) bytes_.push_back(uint8_t(uint32_t(v) >> (8 * i)));
        return *this;
    }
    BodyBytes& Str(const std::string& s) {
        bytes_.insert(bytes_.end(), s.begin(), s.end());
        bytes_.push_back(0);
        return *this;
    }
    BodyBytes& Add(const BodyBytes& more) {
        bytes_.insert(bytes_.end(), more.bytes_.begin(), more.bytes_.end());
        return *this;
    }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};
