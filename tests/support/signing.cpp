#include "support/signing.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <stdexcept>

static void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

TestSigningKey::TestSigningKey(int bits) : pkey_(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t(bits))) {
    if (!pkey_) throw std::runtime_error("RSA key generation failed");
    BIGNUM* n = nullptr;
    BIGNUM* e = nullptr;
    EVP_PKEY_get_bn_param(pkey_, OSSL_PKEY_PARAM_RSA_N, &n);
    EVP_PKEY_get_bn_param(pkey_, OSSL_PKEY_PARAM_RSA_E, &e);
    std::vector<uint8_t> modulus(size_t(bits) / 8);
    BN_bn2lebinpad(n, modulus.data(), int(modulus.size()));
    blob_ = {0x06, 0x02, 0x00, 0x00};
    PutLe32(blob_, 0x2400);      // RSA signature key
    PutLe32(blob_, 0x31415352);  // "RSA1"
    PutLe32(blob_, uint32_t(bits));
    PutLe32(blob_, uint32_t(BN_get_word(e)));
    blob_.insert(blob_.end(), modulus.begin(), modulus.end());
    BN_free(n);
    BN_free(e);
}

TestSigningKey::~TestSigningKey() { EVP_PKEY_free(pkey_); }

std::vector<uint8_t> TestSigningKey::Sign(const std::string& data) const {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = nullptr;
    size_t len = 0;
    std::vector<uint8_t> sig;
    if (EVP_DigestSignInit(md, &pctx, EVP_md5(), nullptr, pkey_) == 1 &&
        EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PADDING) == 1 &&
        EVP_DigestSign(md, nullptr, &len, reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1) {
        sig.resize(len);
        if (EVP_DigestSign(md, sig.data(), &len, reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1)
            sig.clear();
        sig.resize(sig.empty() ? 0 : len);
    }
    EVP_MD_CTX_free(md);
    std::reverse(sig.begin(), sig.end());
    return sig;
}

const TestSigningKey& SharedSigningKey() {
    static TestSigningKey key;
    return key;
}

std::string TestBase64(const std::vector<uint8_t>& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(), int(bytes.size()));
    out.resize(size_t(n));
    return out;
}

std::string TestMd5Base64(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), digest, &n, EVP_md5(), nullptr);
    return TestBase64(std::vector<uint8_t>(digest, digest + n));
}
