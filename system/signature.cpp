#include "system/signature.h"

#include "base/log.h"
#include "base/memory.h"
#include "platform/crypt/crypt.h"

static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

char Qel_Base64Alphabet(int32_t index) { return kAlphabet[index & 63]; }

int32_t Qel_Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return 0;
}

int32_t Qel_Base64Decode(const char* text, int32_t length, uint8_t* output) {
    if (!text || length <= 0 || length % 4 != 0) return 0;
    if (!output) {
        int32_t size = length / 4 * 3;
        if (text[length - 2] == '=') size -= 2;
        else if (text[length - 1] == '=') size -= 1;
        return size;
    }
    int32_t written = 0;
    for (int32_t i = 0; i < length; i += 4) {
        int32_t a = Qel_Base64Value(text[i]), b = Qel_Base64Value(text[i + 1]);
        int32_t c = Qel_Base64Value(text[i + 2]), d = Qel_Base64Value(text[i + 3]);
        output[written++] = static_cast<uint8_t>(a << 2 | b >> 4);
        if (text[i + 2] == '=') break;
        output[written++] = static_cast<uint8_t>((b & 15) << 4 | c >> 2);
        if (text[i + 3] == '=') break;
        output[written++] = static_cast<uint8_t>((c & 3) << 6 | d);
    }
    return written;
}

int32_t Qel_Base64Encode(const uint8_t* bytes, int32_t count, char* output) {
    if (!bytes || !output || count < 1) return 0;
    int32_t written = 0;
    for (int32_t i = 0; i < count; i += 3) {
        int32_t left = count - i;
        uint32_t group = uint32_t{bytes[i]} << 16;
        if (left > 1) group |= uint32_t{bytes[i + 1]} << 8;
        if (left > 2) group |= bytes[i + 2];
        output[written++] = Qel_Base64Alphabet(static_cast<int32_t>(group >> 18));
        output[written++] = Qel_Base64Alphabet(static_cast<int32_t>(group >> 12));
        output[written++] = left > 1 ? Qel_Base64Alphabet(static_cast<int32_t>(group >> 6)) : '=';
        output[written++] = left > 2 ? Qel_Base64Alphabet(static_cast<int32_t>(group)) : '=';
    }
    return written;
}

char* S_VerifyData(const uint8_t* data, int32_t dataLength, const char* signature, int32_t signatureLength,
                   const uint8_t* keyBlob, int32_t keyBlobLength, int32_t* outLength) {
    if (!data || !signature || !keyBlob || !outLength || dataLength < 1 || signatureLength < 1 || keyBlobLength < 1)
        return nullptr;
    *outLength = 0;

    HCRYPTPROV prov = 0;
    CryptAcquireContextA(&prov, S_SIGNATURE_CONTAINER, MS_DEF_PROV_A, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
    if (!CryptAcquireContextA(&prov, S_SIGNATURE_CONTAINER, MS_DEF_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET)) {
        Qel_ErrPrintf("S_VerifyData(): can not acquire csp context\n");
        return nullptr;
    }

    HCRYPTKEY key = 0;
    HCRYPTHASH hash = 0;
    uint8_t* sig = nullptr;
    int32_t sigSize = 0;
    uint8_t* digest = nullptr;
    DWORD digestSize = 0;
    char* answer = nullptr;

    // One pass through the steps; the first failure leaves it for the release below.
    do {
        if (!CryptImportKey(prov, keyBlob, static_cast<DWORD>(keyBlobLength), 0, 0, &key)) {
            Qel_ErrPrintf("S_VerifyData(): failed to import key\n");
            break;
        }
        if (!CryptCreateHash(prov, CALG_MD5, 0, 0, &hash) ||
            !CryptHashData(hash, data, static_cast<DWORD>(dataLength), 0)) {
            Qel_ErrPrintf("S_VerifyData(): failed to hash data\n");
            break;
        }
        sigSize = Qel_Base64Decode(signature, signatureLength, nullptr);
        if (sigSize > 0) {
            sig = static_cast<uint8_t*>(Int_AllocMem(static_cast<size_t>(sigSize), 0));
            if (!sig) {
                Qel_ErrPrintf("S_VerifyData(): failed to alloc memory\n");
                break;
            }
            Qel_Base64Decode(signature, signatureLength, sig);
        }
        if (!CryptVerifySignatureA(hash, sig, static_cast<DWORD>(sigSize), key, nullptr, 0)) {
            Qel_ErrPrintf("S_VerifyData(): error: signature verification FAILED\n");
            break;
        }
        DWORD sizeLength = sizeof digestSize;
        if (!CryptGetHashParam(hash, HP_HASHSIZE, reinterpret_cast<BYTE*>(&digestSize), &sizeLength, 0) ||
            digestSize == 0) {
            Qel_ErrPrintf("S_VerifyData(): error: failed to get hash size\n");
            digestSize = 0;
            break;
        }
        digest = static_cast<uint8_t*>(Int_AllocMem(digestSize, 0));
        if (!digest) {
            Qel_ErrPrintf("S_VerifyData(): failed to alloc memory\n");
            break;
        }
        DWORD valueLength = digestSize;
        if (!CryptGetHashParam(hash, HP_HASHVAL, digest, &valueLength, 0)) {
            Qel_ErrPrintf("S_VerifyData(): error: failed to get hash\n");
            break;
        }
        int32_t textLength = static_cast<int32_t>((digestSize + 2) / 3 * 4);
        answer = static_cast<char*>(Int_AllocMem(static_cast<size_t>(textLength) + 1, 0));
        if (!answer) {
            Qel_ErrPrintf("S_VerifyData(): failed to alloc memory\n");
            break;
        }
        Qel_Base64Encode(digest, static_cast<int32_t>(digestSize), answer);
        answer[textLength] = '\0';
        *outLength = textLength;
    } while (false);

    if (digest) Int_FreeMem(digest, digestSize, 0);
    if (sig) Int_FreeMem(sig, static_cast<size_t>(sigSize), 0);
    if (hash) CryptDestroyHash(hash);
    if (key) CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);
    CryptAcquireContextA(&prov, S_SIGNATURE_CONTAINER, MS_DEF_PROV_A, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
    return answer;
}
