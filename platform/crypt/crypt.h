// The cryptographic provider calls the engine uses: MD5 hashing and RSA
// signature verification against an imported public-key blob, over OpenSSL.
// Key containers hold nothing here; acquiring and deleting them is only
// counted, so tests can see that none is left behind.
#pragma once

#include <cstdint>

#include "platform/win32/basetypes.h"

using ALG_ID = uint32_t;
using HCRYPTPROV = uintptr_t;
using HCRYPTKEY = uintptr_t;
using HCRYPTHASH = uintptr_t;

constexpr DWORD PROV_RSA_FULL = 1;
constexpr char MS_DEF_PROV_A[] = "Microsoft Base Cryptographic Provider v1.0";

// CryptAcquireContextA flags.
constexpr DWORD CRYPT_VERIFYCONTEXT = 0xF0000000;
constexpr DWORD CRYPT_NEWKEYSET = 0x8;
constexpr DWORD CRYPT_DELETEKEYSET = 0x10;

// Algorithms.
constexpr ALG_ID CALG_MD5 = 0x8003;
constexpr ALG_ID CALG_RSA_SIGN = 0x2400;
constexpr ALG_ID CALG_RSA_KEYX = 0xA400;

// CryptGetHashParam parameters.
constexpr DWORD HP_HASHVAL = 0x2;
constexpr DWORD HP_HASHSIZE = 0x4;

// Public-key blob: an 8-byte blob header, the 12-byte RSA header and the
// modulus of bitlen/8 bytes, every number little-endian.
constexpr BYTE PUBLICKEYBLOB = 0x6;
constexpr BYTE CUR_BLOB_VERSION = 2;
constexpr DWORD RSA1_MAGIC = 0x31415352;  // "RSA1"
constexpr DWORD PUBLICKEYBLOB_HEADER_BYTES = 20;

BOOL CryptAcquireContextA(HCRYPTPROV* prov, const char* container, const char* provider, DWORD provType, DWORD flags);
BOOL CryptReleaseContext(HCRYPTPROV prov, DWORD flags);
BOOL CryptImportKey(HCRYPTPROV prov, const BYTE* data, DWORD dataLength, HCRYPTKEY pubKey, DWORD flags, HCRYPTKEY* key);
BOOL CryptDestroyKey(HCRYPTKEY key);
BOOL CryptCreateHash(HCRYPTPROV prov, ALG_ID algorithm, HCRYPTKEY key, DWORD flags, HCRYPTHASH* hash);
BOOL CryptHashData(HCRYPTHASH hash, const BYTE* data, DWORD dataLength, DWORD flags);
BOOL CryptDestroyHash(HCRYPTHASH hash);
// The signature is stored least significant byte first, as the provider
// writes it; PKCS #1 v1.5 over the hash's digest.
BOOL CryptVerifySignatureA(HCRYPTHASH hash, const BYTE* signature, DWORD signatureLength, HCRYPTKEY pubKey,
                           const char* description, DWORD flags);
// HP_HASHSIZE: a DWORD; HP_HASHVAL: the digest (the hash is finished then).
// A null data pointer asks for the size only.
BOOL CryptGetHashParam(HCRYPTHASH hash, DWORD param, BYTE* data, DWORD* dataLength, DWORD flags);

// Test seam: counts and forced failures. Each failX makes the next call of
// that kind fail once per unit.
struct CryptSeam {
    int failAcquire = 0;
    int failImport = 0;
    int failCreateHash = 0;
    int failHashData = 0;
    int failHashSize = 0;
    int failHashValue = 0;
    int acquireCalls = 0;
    int deleteCalls = 0;
    int liveContainers = 0;  // containers made and not deleted
    int liveHandles = 0;     // providers, keys and hashes not yet released
};
extern CryptSeam g_CryptSeam;
