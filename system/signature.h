// Base64 text coding and the check of data signed with an RSA key that a
// story hands in (the program holds no key of its own).
#pragma once

#include <cstdint>

// The alphabet character of (index & 63).
char Qel_Base64Alphabet(int32_t index);
// The 6-bit value of an alphabet character; any other character gives 0.
int32_t Qel_Base64Value(char c);
// With a null output: the decoded size; with output: the bytes written.
// 0 when the length is not a positive multiple of 4. Characters outside the
// alphabet decode as 0 without complaint.
int32_t Qel_Base64Decode(const char* text, int32_t length, uint8_t* output);
// Writes 4 characters per started group of 3 bytes (padded with '='), no
// terminating zero; returns the characters written, 0 for a count below 1.
int32_t Qel_Base64Encode(const uint8_t* bytes, int32_t count, char* output);

// Name of the provider's key container used (and deleted again) per check.
constexpr const char S_SIGNATURE_CONTAINER[] = "RuzoVeldrimCSPContainer";

// Verifies the base64 signature of the data against the public-key blob.
// On success: a new zero-terminated base64 text of the data's MD5 digest
// (allocated with Int_AllocMem, flags 0, *outLength + 1 bytes) and its length
// in *outLength; null on any failure.
char* S_VerifyData(const uint8_t* data, int32_t dataLength, const char* signature, int32_t signatureLength,
                   const uint8_t* keyBlob, int32_t keyBlobLength, int32_t* outLength);
