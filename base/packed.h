// Packed files: a key byte (key = byte XOR 0xD1), then a gzip member whose
// every byte is XOR key. Unpacked by the engine's own inflater, which
// descrambles the input as it reads it.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint8_t QEL_PACKED_KEY_MASK = 0xD1;

// The whole unpacked file in a new block (Int_AllocMem, flags 0) whose size is
// left in g_QelLastFileSize; null on failure.
void* Qel_Unpack(const char* name, int diskOnly);

// Result codes of Qel_InflateRaw.
enum QelInflateResult {
    QEL_INFLATE_OK = 0,
    QEL_INFLATE_CORRUPT,   // invalid block type, code, length or distance
    QEL_INFLATE_SHORT,     // input ended before the last block
    QEL_INFLATE_OVERFLOW,  // output does not fit
};

// Inflates a raw DEFLATE stream held in memory whose bytes are XOR key (0 for
// plain data) into out. *produced receives the bytes written.
QelInflateResult Qel_InflateRaw(const uint8_t* in, size_t inSize, uint8_t key, uint8_t* out, size_t outSize,
                                size_t* produced);

// CRC-32 (the gzip polynomial), continued from crc (0 to start).
uint32_t Qel_Crc32(uint32_t crc, const uint8_t* data, size_t size);
