// Signing helpers for the signature tests: an RSA key pair made in the test,
// its public-key blob in the provider's layout, and MD5 signatures stored
// least significant byte first, as the provider keeps them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct evp_pkey_st;

class TestSigningKey {
public:
    explicit TestSigningKey(int bits = 1024);
    ~TestSigningKey();
    TestSigningKey(const TestSigningKey&) = delete;
    TestSigningKey& operator=(const TestSigningKey&) = delete;

    // The public-key blob: blob header, RSA header, modulus little-endian.
    const std::vector<uint8_t>& Blob() const { return blob_; }
    // PKCS #1 v1.5 signature over the MD5 digest of data, bytes reversed.
    std::vector<uint8_t> Sign(const std::string& data) const;

private:
    evp_pkey_st* pkey_;
    std::vector<uint8_t> blob_;
};

// One key per test program (key generation takes a moment).
const TestSigningKey& SharedSigningKey();

// Independent base64 of bytes and the base64 MD5 digest of a text.
std::string TestBase64(const std::vector<uint8_t>& bytes);
std::string TestMd5Base64(const std::string& data);
