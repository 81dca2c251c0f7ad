#include "platform/crypt/crypt.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

CryptSeam g_CryptSeam;

namespace {

constexpr DWORD kMd5Bytes = 16;
constexpr DWORD kMaxKeyBits = 16384;

struct Provider {
    std::string container;
};

struct PKeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct Key {
    std::unique_ptr<EVP_PKEY, PKeyFree> pkey;
    DWORD bytes = 0;  // modulus length
};

struct MdCtxFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct Hash {
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> md;
    bool finished = false;
    BYTE digest[kMd5Bytes] = {};
};

// Containers that exist (made and not yet deleted) and the live handles: a
// handle is only ever used when it is found here.
std::set<std::string>& Containers() {
    static std::set<std::string> s;
    return s;
}
template <class T>
std::set<T*>& Live() {
    static std::set<T*> s;
    return s;
}

template <class T>
T* Find(uintptr_t handle) {
    auto& live = Live<T>();
    auto it = live.find(reinterpret_cast<T*>(handle));
    return it == live.end() ? nullptr : *it;
}

template <class T>
uintptr_t Adopt(T* rec) {
    Live<T>().insert(rec);
    ++g_CryptSeam.liveHandles;
    return reinterpret_cast<uintptr_t>(rec);
}

template <class T>
BOOL Drop(uintptr_t handle) {
    T* rec = Find<T>(handle);
    if (!rec) return 0;
    Live<T>().erase(rec);
    --g_CryptSeam.liveHandles;
    delete rec;
    return 1;
}

bool TakeFailure(int& counter) {
    if (counter <= 0) return false;
    --counter;
    return true;
}

DWORD ReadLe32(const BYTE* p) { return DWORD{p[0]} | DWORD{p[1]} << 8 | DWORD{p[2]} << 16 | DWORD{p[3]} << 24; }

bool FinishHash(Hash* h) {
    if (h->finished) return true;
    unsigned int n = 0;
    if (EVP_DigestFinal_ex(h->md.get(), h->digest, &n) != 1 || n != kMd5Bytes) return false;
    h->finished = true;
    return true;
}

// An RSA public key from modulus bytes (most significant first) and exponent.
EVP_PKEY* MakeRsaKey(const std::vector<BYTE>& modulusBe, DWORD exponent) {
    EVP_PKEY* pkey = nullptr;
    BIGNUM* n = BN_bin2bn(modulusBe.data(), static_cast<int>(modulusBe.size()), nullptr);
    BIGNUM* e = BN_new();
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM* params = nullptr;
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    if (n && e && bld && ctx && BN_set_word(e, exponent) == 1 &&
        OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, n) == 1 &&
        OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, e) == 1 && (params = OSSL_PARAM_BLD_to_param(bld)) &&
        EVP_PKEY_fromdata_init(ctx) == 1) {
        if (EVP_PKEY_fromdata(ctx, &pkey, EVP_PKEY_PUBLIC_KEY, params) != 1) pkey = nullptr;
    }
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    BN_free(e);
    BN_free(n);
    return pkey;
}

}  // namespace

BOOL CryptAcquireContextA(HCRYPTPROV* prov, const char* container, const char* provider, DWORD provType, DWORD flags) {
    ++g_CryptSeam.acquireCalls;
    if (!prov) return 0;
    *prov = 0;
    if (provType != PROV_RSA_FULL || (provider && std::strcmp(provider, MS_DEF_PROV_A) != 0)) return 0;
    std::string name = container ? container : "";
    auto& containers = Containers();
    if (flags & CRYPT_DELETEKEYSET) {
        ++g_CryptSeam.deleteCalls;
        if (containers.erase(name) == 0) return 0;
        --g_CryptSeam.liveContainers;
        return 1;
    }
    if (TakeFailure(g_CryptSeam.failAcquire)) return 0;
    if (flags & CRYPT_NEWKEYSET) {
        if (!containers.insert(name).second) return 0;
        ++g_CryptSeam.liveContainers;
    } else if (!(flags & CRYPT_VERIFYCONTEXT) && !containers.count(name)) {
        return 0;
    }
    *prov = Adopt(new Provider{name});
    return 1;
}

BOOL CryptReleaseContext(HCRYPTPROV prov, DWORD /*flags*/) { return Drop<Provider>(prov); }

BOOL CryptImportKey(HCRYPTPROV prov, const BYTE* data, DWORD dataLength, HCRYPTKEY /*pubKey*/, DWORD /*flags*/,
                    HCRYPTKEY* key) {
    if (!key) return 0;
    *key = 0;
    if (!Find<Provider>(prov) || !data || TakeFailure(g_CryptSeam.failImport)) return 0;
    if (dataLength < PUBLICKEYBLOB_HEADER_BYTES) return 0;
    ALG_ID alg = ReadLe32(data + 4);
    if (data[0] != PUBLICKEYBLOB || data[1] != CUR_BLOB_VERSION || (alg != CALG_RSA_SIGN && alg != CALG_RSA_KEYX))
        return 0;
    if (ReadLe32(data + 8) != RSA1_MAGIC) return 0;
    DWORD bits = ReadLe32(data + 12);
    DWORD exponent = ReadLe32(data + 16);
    // The blob must hold the whole modulus its bit length announces.
    if (bits == 0 || bits % 8 != 0 || bits > kMaxKeyBits || exponent == 0) return 0;
    DWORD bytes = bits / 8;
    if (dataLength - PUBLICKEYBLOB_HEADER_BYTES < bytes) return 0;
    std::vector<BYTE> modulus(data + PUBLICKEYBLOB_HEADER_BYTES, data + PUBLICKEYBLOB_HEADER_BYTES + bytes);
    std::vector<BYTE> modulusBe(modulus.rbegin(), modulus.rend());
    EVP_PKEY* pkey = MakeRsaKey(modulusBe, exponent);
    if (!pkey) return 0;
    auto* rec = new Key;
    rec->pkey.reset(pkey);
    rec->bytes = bytes;
    *key = Adopt(rec);
    return 1;
}

BOOL CryptDestroyKey(HCRYPTKEY key) { return Drop<Key>(key); }

BOOL CryptCreateHash(HCRYPTPROV prov, ALG_ID algorithm, HCRYPTKEY /*key*/, DWORD /*flags*/, HCRYPTHASH* hash) {
    if (!hash) return 0;
    *hash = 0;
    if (!Find<Provider>(prov) || algorithm != CALG_MD5 || TakeFailure(g_CryptSeam.failCreateHash)) return 0;
    auto* rec = new Hash;
    rec->md.reset(EVP_MD_CTX_new());
    if (!rec->md || EVP_DigestInit_ex(rec->md.get(), EVP_md5(), nullptr) != 1) {
        delete rec;
        return 0;
    }
    *hash = Adopt(rec);
    return 1;
}

BOOL CryptHashData(HCRYPTHASH hash, const BYTE* data, DWORD dataLength, DWORD /*flags*/) {
    Hash* h = Find<Hash>(hash);
    if (!h || h->finished || (!data && dataLength) || TakeFailure(g_CryptSeam.failHashData)) return 0;
    return EVP_DigestUpdate(h->md.get(), data, dataLength) == 1;
}

BOOL CryptDestroyHash(HCRYPTHASH hash) { return Drop<Hash>(hash); }

BOOL CryptVerifySignatureA(HCRYPTHASH hash, const BYTE* signature, DWORD signatureLength, HCRYPTKEY pubKey,
                           const char* /*description*/, DWORD /*flags*/) {
    Hash* h = Find<Hash>(hash);
    Key* k = Find<Key>(pubKey);
    if (!h || !k || !signature || signatureLength != k->bytes || !FinishHash(h)) return 0;
    std::vector<BYTE> sig(signature, signature + signatureLength);
    std::reverse(sig.begin(), sig.end());
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(k->pkey.get(), nullptr);
    bool ok = ctx && EVP_PKEY_verify_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
              EVP_PKEY_CTX_set_signature_md(ctx, EVP_md5()) == 1 &&
              EVP_PKEY_verify(ctx, sig.data(), sig.size(), h->digest, kMd5Bytes) == 1;
    EVP_PKEY_CTX_free(ctx);
    return ok;
}

BOOL CryptGetHashParam(HCRYPTHASH hash, DWORD param, BYTE* data, DWORD* dataLength, DWORD /*flags*/) {
    Hash* h = Find<Hash>(hash);
    if (!h || !dataLength) return 0;
    if (param == HP_HASHSIZE) {
        if (TakeFailure(g_CryptSeam.failHashSize)) return 0;
        if (!data) {
            *dataLength = sizeof(DWORD);
            return 1;
        }
        if (*dataLength < sizeof(DWORD)) return 0;
        DWORD size = kMd5Bytes;
        std::memcpy(data, &size, sizeof size);
        *dataLength = sizeof(DWORD);
        return 1;
    }
    if (param == HP_HASHVAL) {
        if (TakeFailure(g_CryptSeam.failHashValue)) return 0;
        if (!data) {
            *dataLength = kMd5Bytes;
            return 1;
        }
        if (*dataLength < kMd5Bytes || !FinishHash(h)) return 0;
        std::memcpy(data, h->digest, kMd5Bytes);
        *dataLength = kMd5Bytes;
        return 1;
    }
    return 0;
}
