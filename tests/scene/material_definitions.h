// The global "Materials" definitions replaced by a test's own while it lives.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "base/texcache.h"

class MaterialDefinitions {
public:
    // One definition per entry, numbered from 0, with that texture number.
    MaterialDefinitions(std::initializer_list<int16_t> textureNumbers)
        : saved_(g_TCTextureInfo), savedCount_(g_TCTextureInfoCount), definitions_(textureNumbers.size()) {
        size_t i = 0;
        for (int16_t n : textureNumbers) definitions_[i++].textureNumber = n;
        g_TCTextureInfo = definitions_.data();
        g_TCTextureInfoCount = static_cast<uint16_t>(definitions_.size());
    }
    ~MaterialDefinitions() {
        g_TCTextureInfo = saved_;
        g_TCTextureInfoCount = savedCount_;
    }
    MaterialDefinitions(const MaterialDefinitions&) = delete;
    MaterialDefinitions& operator=(const MaterialDefinitions&) = delete;

private:
    TC_TextureInfo* saved_;
    uint16_t savedCount_;
    std::vector<TC_TextureInfo> definitions_;
};
