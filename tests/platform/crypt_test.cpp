#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/crypt/crypt.h"
#include "support/signing.h"

namespace {

class CryptTest : public testing::Test {
protected:
    void SetUp() override {
        g_CryptSeam = CryptSeam{};
        ASSERT_TRUE(CryptAcquireContextA(&prov, "CryptTest", MS_DEF_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    }
    void TearDown() override {
        EXPECT_TRUE(CryptReleaseContext(prov, 0));
        HCRYPTPROV none = 0;
        EXPECT_TRUE(CryptAcquireContextA(&none, "CryptTest", MS_DEF_PROV_A, PROV_RSA_FULL, CRYPT_DELETEKEYSET));
        EXPECT_EQ(g_CryptSeam.liveContainers, 0);
        EXPECT_EQ(g_CryptSeam.liveHandles, 0);
    }
    bool Import(const std::vector<uint8_t>& blob) {
        HCRYPTKEY key = 0;
        BOOL ok = CryptImportKey(prov, blob.data(), DWORD(blob.size()), 0, 0, &key);
        if (ok) CryptDestroyKey(key);
        return ok;
    }
    HCRYPTPROV prov = 0;
};

TEST_F(CryptTest, ContainersAreCountedByName) {
    HCRYPTPROV other = 0;
    EXPECT_FALSE(CryptAcquireContextA(&other, "CryptTest", MS_DEF_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    EXPECT_FALSE(CryptAcquireContextA(&other, "Nobody", MS_DEF_PROV_A, PROV_RSA_FULL, CRYPT_DELETEKEYSET));
    EXPECT_FALSE(CryptAcquireContextA(&other, "Nobody", "Another provider", PROV_RSA_FULL, CRYPT_NEWKEYSET));
    EXPECT_EQ(g_CryptSeam.liveContainers, 1);
}

TEST_F(CryptTest, KeyBlobChecks) {
    const std::vector<uint8_t>& good = SharedSigningKey().Blob();
    EXPECT_TRUE(Import(good));
    // Trailing bytes past the modulus are tolerated; a cut modulus is not.
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    EXPECT_TRUE(Import(longer));
    EXPECT_FALSE(Import(std::vector<uint8_t>(good.begin(), good.end() - 1)));
    EXPECT_FALSE(Import(std::vector<uint8_t>(good.begin(), good.begin() + 20)));
    struct Patch {
        size_t offset;
        uint8_t byte;
    };
    for (Patch p : {Patch{0, 0x07}, Patch{1, 3}, Patch{5, 0x00}, Patch{8, 'r'}, Patch{12, 0x01}, Patch{14, 0xFF},
                    Patch{15, 0x7F}}) {
        std::vector<uint8_t> blob = good;
        blob[p.offset] = p.byte;
        EXPECT_FALSE(Import(blob)) << p.offset;
    }
    std::vector<uint8_t> noExponent = good;
    std::memset(noExponent.data() + 16, 0, 4);
    EXPECT_FALSE(Import(noExponent));
}

TEST_F(CryptTest, HashSizeAndValue) {
    HCRYPTHASH hash = 0;
    ASSERT_TRUE(CryptCreateHash(prov, CALG_MD5, 0, 0, &hash));
    HCRYPTHASH sha = 0;
    EXPECT_FALSE(CryptCreateHash(prov, 0x8004, 0, 0, &sha));
    const BYTE abc[] = {'a', 'b', 'c'};
    EXPECT_TRUE(CryptHashData(hash, abc, 3, 0));
    DWORD size = 0, len = sizeof size;
    EXPECT_TRUE(CryptGetHashParam(hash, HP_HASHSIZE, reinterpret_cast<BYTE*>(&size), &len, 0));
    EXPECT_EQ(size, 16u);
    BYTE digest[16];
    len = 15;
    EXPECT_FALSE(CryptGetHashParam(hash, HP_HASHVAL, digest, &len, 0));
    len = 16;
    EXPECT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, digest, &len, 0));
    const BYTE md5abc[16] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                             0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
    EXPECT_EQ(std::memcmp(digest, md5abc, 16), 0);
    // A finished hash takes no more data.
    EXPECT_FALSE(CryptHashData(hash, abc, 3, 0));
    EXPECT_TRUE(CryptDestroyHash(hash));
    EXPECT_FALSE(CryptDestroyHash(hash));
}

}  // namespace
