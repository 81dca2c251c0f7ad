#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/memory.h"
#include "platform/crypt/crypt.h"
#include "support/logcapture.h"
#include "support/signing.h"
#include "system/signature.h"

namespace {

std::string Encode(const std::vector<uint8_t>& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3), '?');
    int32_t n = Qel_Base64Encode(bytes.data(), int32_t(bytes.size()), out.data());
    out.resize(size_t(n));
    return out;
}

std::vector<uint8_t> Decode(const std::string& text) {
    int32_t size = Qel_Base64Decode(text.data(), int32_t(text.size()), nullptr);
    std::vector<uint8_t> out(size_t(size > 0 ? size : 0) + 4, 0xEE);
    int32_t n = Qel_Base64Decode(text.data(), int32_t(text.size()), out.data());
    EXPECT_EQ(n, size) << text;
    out.resize(size_t(n));
    return out;
}

TEST(Base64, AlphabetAndValuesRoundTrip) {
    for (int32_t i = 0; i < 64; ++i) EXPECT_EQ(Qel_Base64Value(Qel_Base64Alphabet(i)), i);
    EXPECT_EQ(Qel_Base64Alphabet(64 + 27), 'b');
    for (char c : {'=', '-', '_', ' ', '\0'}) EXPECT_EQ(Qel_Base64Value(c), 0);
}

TEST(Base64, EncodeAgreesWithIndependentCoder) {
    std::vector<uint8_t> bytes;
    for (int n = 1; n <= 40; ++n) {
        bytes.push_back(uint8_t(n * 37 + 11));
        EXPECT_EQ(Encode(bytes), TestBase64(bytes));
        EXPECT_EQ(Decode(TestBase64(bytes)), bytes);
    }
}

TEST(Base64, PaddingCases) {
    struct Case {
        std::vector<uint8_t> bytes;
        std::string text;
    };
    for (const Case& c : std::vector<Case>{{{'M'}, "TQ=="}, {{'M', 'a'}, "TWE="}, {{'M', 'a', 'n'}, "TWFu"}}) {
        EXPECT_EQ(Encode(c.bytes), c.text);
        EXPECT_EQ(Qel_Base64Decode(c.text.data(), int32_t(c.text.size()), nullptr), int32_t(c.bytes.size()));
        EXPECT_EQ(Decode(c.text), c.bytes);
    }
    uint8_t byte = 1;
    char out[8];
    EXPECT_EQ(Qel_Base64Encode(&byte, 0, out), 0);
}

TEST(Base64, BadLengthsAndForeignCharacters) {
    for (const char* text : {"", "T", "TWE", "TWFuT"})
        EXPECT_EQ(Qel_Base64Decode(text, int32_t(std::strlen(text)), nullptr), 0) << text;
    EXPECT_EQ(Qel_Base64Decode("TWFu", -4, nullptr), 0);
    // A character outside the alphabet counts as 'A' (value 0).
    EXPECT_EQ(Decode("T*Fu"), Decode("TAFu"));
}

class VerifyDataTest : public testing::Test {
protected:
    void SetUp() override { g_CryptSeam = CryptSeam{}; }
    void TearDown() override {
        // No key container and no provider handle outlives a check.
        EXPECT_EQ(g_CryptSeam.liveContainers, 0);
        EXPECT_EQ(g_CryptSeam.liveHandles, 0);
        g_CryptSeam = CryptSeam{};
    }
    // The answer as a text ("" for null), freeing it as the caller does.
    std::string Verify(const std::string& data, const std::string& sig, const std::vector<uint8_t>& blob,
                       int32_t* outLength = nullptr) {
        int32_t n = -1;
        char* answer = S_VerifyData(reinterpret_cast<const uint8_t*>(data.data()), int32_t(data.size()), sig.data(),
                                    int32_t(sig.size()), blob.data(), int32_t(blob.size()), &n);
        if (outLength) *outLength = n;
        if (!answer) return "";
        std::string text(answer);
        EXPECT_EQ(int32_t(text.size()), n);
        Int_FreeMem(answer, size_t(n) + 1, 0);
        return text;
    }
    const TestSigningKey& key = SharedSigningKey();
    std::string data = "galaxy key 0042: unlocked";
};

TEST_F(VerifyDataTest, GoodSignatureAnswersTheDigest) {
    int32_t n = 0;
    std::string answer = Verify(data, TestBase64(key.Sign(data)), key.Blob(), &n);
    EXPECT_EQ(answer, TestMd5Base64(data));
    EXPECT_EQ(n, 24);
    EXPECT_EQ(answer.substr(22), "==");
    // The container is deleted before and after the check.
    EXPECT_EQ(g_CryptSeam.deleteCalls, 2);
}

TEST_F(VerifyDataTest, FailuresLogAndAnswerNothing) {
    std::string good = TestBase64(key.Sign(data));
    std::vector<uint8_t> sigBytes = key.Sign(data);
    std::reverse(sigBytes.begin(), sigBytes.end());  // as most libraries store it: wrong order here
    std::vector<uint8_t> shortBlob(key.Blob().begin(), key.Blob().end() - 1);
    std::vector<uint8_t> badMagic = key.Blob();
    badMagic[8] = 'X';
    struct Case {
        const char* name;
        std::string data, sig;
        std::vector<uint8_t> blob;
        std::string message;
    };
    std::vector<Case> cases = {
        {"other data", data + "!", good, key.Blob(), "S_VerifyData(): error: signature verification FAILED\n"},
        {"byte order", data, TestBase64(sigBytes), key.Blob(), "signature verification FAILED"},
        {"five characters", data, "AAAAA", key.Blob(), "signature verification FAILED"},
        {"blob shorter than its bit length", data, good, shortBlob, "S_VerifyData(): failed to import key\n"},
        {"blob of 19 bytes", data, good, std::vector<uint8_t>(key.Blob().begin(), key.Blob().begin() + 19),
         "failed to import key"},
        {"not RSA1", data, good, badMagic, "failed to import key"},
    };
    for (const Case& c : cases) {
        LogCapture capture;
        int32_t n = -1;
        EXPECT_EQ(Verify(c.data, c.sig, c.blob, &n), "") << c.name;
        EXPECT_EQ(n, 0) << c.name;
        EXPECT_NE(capture.Take().find(c.message), std::string::npos) << c.name;
    }
}

TEST_F(VerifyDataTest, ProviderFailuresAtEachStep) {
    std::string good = TestBase64(key.Sign(data));
    struct Case {
        int CryptSeam::*fail;
        const char* message;
    };
    for (const Case& c : {Case{&CryptSeam::failAcquire, "S_VerifyData(): can not acquire csp context\n"},
                          Case{&CryptSeam::failCreateHash, "S_VerifyData(): failed to hash data\n"},
                          Case{&CryptSeam::failHashData, "S_VerifyData(): failed to hash data\n"},
                          Case{&CryptSeam::failHashSize, "S_VerifyData(): error: failed to get hash size\n"},
                          Case{&CryptSeam::failHashValue, "S_VerifyData(): error: failed to get hash\n"}}) {
        g_CryptSeam.*c.fail = 1;
        LogCapture capture;
        EXPECT_EQ(Verify(data, good, key.Blob()), "") << c.message;
        EXPECT_NE(capture.Take().find(c.message), std::string::npos) << c.message;
        EXPECT_EQ(g_CryptSeam.liveContainers, 0);
        EXPECT_EQ(g_CryptSeam.liveHandles, 0);
    }
}

TEST_F(VerifyDataTest, NullsAndEmptyLengthsAnswerNull) {
    std::string sig = TestBase64(key.Sign(data));
    const uint8_t* d = reinterpret_cast<const uint8_t*>(data.data());
    int32_t n = 7;
    EXPECT_EQ(S_VerifyData(nullptr, 3, sig.data(), 4, key.Blob().data(), 20, &n), nullptr);
    EXPECT_EQ(S_VerifyData(d, 0, sig.data(), 4, key.Blob().data(), 20, &n), nullptr);
    EXPECT_EQ(S_VerifyData(d, 3, sig.data(), 0, key.Blob().data(), 20, &n), nullptr);
    EXPECT_EQ(S_VerifyData(d, 3, sig.data(), 4, nullptr, 20, &n), nullptr);
    EXPECT_EQ(S_VerifyData(d, 3, sig.data(), 4, key.Blob().data(), 20, nullptr), nullptr);
    EXPECT_EQ(g_CryptSeam.acquireCalls, 0);
}

}  // namespace
