// EBM: the engine's one bitmap record (screens, back buffers, textures, fonts,
// pictures), its creation, derived tables and release.
#pragma once

#include <cstddef>
#include <cstdint>

struct SysEBM;

// Flags word.
constexpr uint32_t EBM_INTERLEAVED = 0x1;
constexpr uint32_t EBM_LOCKED = 0x2;
constexpr uint32_t EBM_CHUNKY = 0x4;
constexpr uint32_t EBM_SURFACE = 0x8;
constexpr uint32_t EBM_SHORT = 0x10;
constexpr uint32_t EBM_NOSHADOW = 0x20;
constexpr uint32_t EBM_RECTTAB = 0x40;
constexpr uint32_t EBM_16BIT = 0x100;
constexpr uint32_t EBM_24BIT = 0x200;
constexpr uint32_t EBM_NOSTORAGE = 0x1000;
constexpr uint32_t EBM_32BIT = 0x2000;
constexpr uint32_t EBM_TEXTURE = 0x4000;
constexpr uint32_t EBM_ROWTAB = 0x10000;
constexpr uint32_t EBM_DUMMY = 0x20000;
constexpr uint32_t EBM_OWNHEADER = 0x200000;
constexpr uint32_t EBM_KEEPHEADER = 0x400000;
constexpr uint32_t EBM_FOREIGNSYS = 0x1000000;
constexpr uint32_t EBM_CARRY = 0x10000000;
constexpr uint32_t EBM_COMPRESSED = 0x40000000;

struct EBM {
    uint8_t* plane0;
    int16_t width;
    int16_t height;
    int32_t bitsPerPixel;   // i16 value
    int32_t bytesPerPixel;  // i16 value
    uint32_t flags;
    uint16_t bytesPerRow;
    uint16_t rowDistance;
    uint32_t planeSize;
    uint32_t planeDistance;
    uint32_t headerSize;
    uint8_t* shadow;
    char* name;
    SysEBM* sys;
    // --- the full header only ---
    uint16_t rectCount;
    void* rectTable;
    uint32_t rectTableSize;
    void* dirtyList;
    uint16_t* EBM_FlipWidthTab;
    uint32_t flipWidthTabSize;
    uint16_t* EBM_FlipHeightTab;
    uint32_t flipHeightTabSize;
    uint32_t* EBM_RowOffsetTab;
    uint32_t rowOffsetTabSize;
    int32_t refCount;
};

// Bytes of the header a bitmap with these flags has.
constexpr size_t EBM_HeaderSize(uint32_t flags) { return (flags & EBM_SHORT) ? offsetof(EBM, rectCount) : sizeof(EBM); }

// Memory flags of bitmap headers and tables.
constexpr uint32_t EBM_MEMFLAGS = 0;

EBM* GenerateEbm(int16_t width, int16_t height, int16_t depth, uint32_t flags);
void FreeILBM(EBM* bitmap);
int Qel_MakeStandardTabs(EBM* bitmap);
void Qel_FreeEBMBuffers(EBM* bitmap);
void Qel_SetEbmName(EBM* bitmap, const char* text);

// Bytes of pixel storage of a memory bitmap.
uint32_t Qel_EbmStorageSize(const EBM* bitmap);

// Hooks the displays layer installs: releases a bitmap's dirty list.
using Qel_FreeDirtyListFn = void (*)(EBM* bitmap);
extern Qel_FreeDirtyListFn g_QelFreeDirtyList;
