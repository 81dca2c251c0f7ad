// EBM bitmaps: creation with derived sizes, the standard tables, release.
#include "base/ebm.h"

#include <cstring>

#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "system/surfaces.h"

Qel_FreeDirtyListFn g_QelFreeDirtyList = nullptr;

static uint32_t RectCapacity() {
    return g_SystemState && g_SystemState->app ? g_SystemState->app->rectTableCapacity : 100;
}

uint32_t Qel_EbmStorageSize(const EBM* b) {
    if (!b || b->height <= 0) return 0;
    uint32_t rows = static_cast<uint32_t>(b->height);
    if (b->flags & EBM_CHUNKY) return static_cast<uint32_t>(b->rowDistance) * rows;
    return b->planeSize * static_cast<uint32_t>(b->bitsPerPixel > 0 ? b->bitsPerPixel : 1);
}

static void* AllocTwice(size_t size) {
    void* p = Int_AllocMem(size, EBM_MEMFLAGS);
    return p ? p : Int_AllocMem(size, EBM_MEMFLAGS);
}

EBM* GenerateEbm(int16_t width, int16_t height, int16_t depth, uint32_t flags) {
    Qel_DPrintf(0x10000, "GenerateEbm: x=%d,y=%d,depth=%d,flags=%08x.\n", width, height, depth, flags);
    if (width < 0 || height < 0) return nullptr;
    size_t headerSize = EBM_HeaderSize(flags);
    EBM* b = static_cast<EBM*>(AllocTwice(headerSize));
    if (!b) {
        Qel_DPrintf(0, "GenerateEbm: Out of memory (1)\n");
        return nullptr;
    }
    if (flags & EBM_16BIT) depth = 16;
    if (flags & EBM_24BIT) depth = 24;
    if (flags & EBM_32BIT) depth = 32;
    if (!(flags & (EBM_16BIT | EBM_24BIT | EBM_32BIT))) {
        if (depth == 16) flags |= EBM_16BIT;
        else if (depth == 24) flags |= EBM_24BIT;
        else if (depth == 32) flags |= EBM_32BIT;
    }
    if (depth < 0) depth = 0;
    bool chunky = flags & EBM_CHUNKY;
    int bytesPerPixel = (depth + 7) / 8;
    b->width = width;
    b->height = height;
    b->flags = flags;
    b->bytesPerPixel = bytesPerPixel;
    b->bitsPerPixel = chunky ? bytesPerPixel * 8 : depth;
    uint32_t words = (static_cast<uint32_t>(width) + 15) / 16;
    uint32_t bytesPerRow = words * 2 * (chunky ? static_cast<uint32_t>(bytesPerPixel) * 8 : 1);
    uint32_t rowDistance =
        ((flags & EBM_INTERLEAVED) && !chunky) ? bytesPerRow * static_cast<uint32_t>(b->bitsPerPixel) : bytesPerRow;
    // Row sizes live in 16-bit fields: a bitmap whose rows do not fit is refused.
    if (bytesPerRow > 0xFFFF || rowDistance > 0xFFFF) {
        Qel_DPrintf(0, "GenerateEbm: Out of memory (1)\n");
        Int_FreeMem(b, headerSize, EBM_MEMFLAGS);
        return nullptr;
    }
    b->bytesPerRow = static_cast<uint16_t>(bytesPerRow);
    b->rowDistance = static_cast<uint16_t>(rowDistance);
    b->planeSize = words * 2 * static_cast<uint32_t>(height);
    b->planeDistance = (chunky || (flags & EBM_INTERLEAVED)) ? bytesPerRow : b->planeSize;
    if (!(flags & EBM_NOSTORAGE) && !S_CreateEBMTexture(b)) {
        Int_FreeMem(b, headerSize, EBM_MEMFLAGS);
        return nullptr;
    }
    if (!Qel_MakeStandardTabs(b)) {
        FreeILBM(b);
        return nullptr;
    }
    Qel_DPrintf(0x10000, "Ende GenerateEBM\n");
    return b;
}

int Qel_MakeStandardTabs(EBM* b) {
    if (!b) return 0;
    bool full = !(b->flags & EBM_SHORT);
    bool chunky = b->flags & EBM_CHUNKY;
    uint32_t height = b->height > 0 ? static_cast<uint32_t>(b->height) : 0;
    uint32_t width = b->width > 0 ? static_cast<uint32_t>(b->width) : 0;
    if (full) {
        if (b->flags & EBM_RECTTAB) {
            if (b->rectTable) {
                Qel_DPrintf(0, "Qel_MakeStandardTabs: EBM_RectangleTab already existing!\n");
                Int_FreeMem(b->rectTable, b->rectTableSize, EBM_MEMFLAGS);
                b->rectTable = nullptr;
            }
            uint32_t size = (RectCapacity() + 1) * 8;
            b->rectTable = Int_AllocMem(size, EBM_MEMFLAGS);
            if (!b->rectTable) goto fail;
            b->rectTableSize = size;
        } else {
            if (b->rectTable) Int_FreeMem(b->rectTable, b->rectTableSize, EBM_MEMFLAGS);
            b->rectTable = nullptr;
            b->rectTableSize = 0;
            b->rectCount = 0;
        }
    }
    if (!(b->flags & EBM_RECTTAB) || !full) b->flags &= ~EBM_RECTTAB;

    if (!(b->flags & EBM_NOSHADOW)) {
        if (b->shadow && b->shadow != b->plane0) {
            Qel_DPrintf(0, "Qel_MakeStandardTabs: Shadow already existing!\n");
            Int_FreeMem(b->shadow, b->planeSize, EBM_MEMFLAGS);
        }
        b->shadow = nullptr;
        if (!chunky && b->bitsPerPixel == 1) {
            b->shadow = b->plane0;
        } else if (b->planeSize > 0) {
            b->shadow = static_cast<uint8_t*>(Int_AllocMem(b->planeSize, EBM_MEMFLAGS));
            if (!b->shadow) goto fail;
            uint32_t maskRow = b->planeSize / (height ? height : 1);
            if (b->plane0 && !chunky) {
                // OR of every plane, byte by byte.
                for (int p = 0; p < b->bitsPerPixel; ++p)
                    for (uint32_t y = 0; y < height; ++y)
                        for (uint32_t i = 0; i < maskRow; ++i)
                            b->shadow[y * maskRow + i] |=
                                b->plane0[static_cast<size_t>(p) * b->planeDistance + y * b->rowDistance + i];
            } else if (b->plane0) {
                // One bit per pixel, set where the pixel is not 0.
                int bpp = b->bytesPerPixel;
                for (uint32_t y = 0; y < height; ++y) {
                    const uint8_t* row = b->plane0 + static_cast<size_t>(y) * b->rowDistance;
                    for (uint32_t x = 0; x < width; ++x) {
                        bool set;
                        if (bpp == 2) set = row[x * 2] != 0 || row[x * 2 + 1] != 0;
                        else set = row[static_cast<size_t>(x) * static_cast<size_t>(bpp)] != 0;
                        if (set && x / 8 < maskRow)
                            b->shadow[y * maskRow + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
                    }
                }
            }
        }
    } else {
        if (b->shadow && b->shadow != b->plane0) Int_FreeMem(b->shadow, b->planeSize, EBM_MEMFLAGS);
        b->shadow = nullptr;
    }

    if (full) {
        if (chunky && (b->flags & EBM_ROWTAB)) {
            if (b->EBM_FlipWidthTab) {
                Qel_DPrintf(0, "Qel_MakeStandardTabs: EBM_FlipWidthTab already existing!\n");
                Int_FreeMem(b->EBM_FlipWidthTab, b->flipWidthTabSize ? b->flipWidthTabSize : 2, EBM_MEMFLAGS);
            }
            b->flipWidthTabSize = width * 2;
            b->EBM_FlipWidthTab = static_cast<uint16_t*>(Int_AllocMem(width ? width * 2 : 2, EBM_MEMFLAGS));
            if (!b->EBM_FlipWidthTab) goto fail;
            for (uint32_t x = 0; x < width; ++x) b->EBM_FlipWidthTab[x] = static_cast<uint16_t>(width - x);
            if (b->EBM_FlipHeightTab) {
                Qel_DPrintf(0, "Qel_MakeStandardTabs: EBM_FlipHeightTabLen  already existing!\n");
                Int_FreeMem(b->EBM_FlipHeightTab, b->flipHeightTabSize ? b->flipHeightTabSize : 2, EBM_MEMFLAGS);
            }
            b->flipHeightTabSize = height * 2;
            b->EBM_FlipHeightTab = static_cast<uint16_t*>(Int_AllocMem(height ? height * 2 : 2, EBM_MEMFLAGS));
            if (!b->EBM_FlipHeightTab) goto fail;
            for (uint32_t y = 0; y < height; ++y) b->EBM_FlipHeightTab[y] = static_cast<uint16_t>(height - y);
        } else {
            // Tables of an earlier build are given back, not dropped.
            if (b->EBM_FlipWidthTab)
                Int_FreeMem(b->EBM_FlipWidthTab, b->flipWidthTabSize ? b->flipWidthTabSize : 2, EBM_MEMFLAGS);
            if (b->EBM_FlipHeightTab)
                Int_FreeMem(b->EBM_FlipHeightTab, b->flipHeightTabSize ? b->flipHeightTabSize : 2, EBM_MEMFLAGS);
            if (b->EBM_RowOffsetTab)
                Int_FreeMem(b->EBM_RowOffsetTab, b->rowOffsetTabSize ? b->rowOffsetTabSize : 4, EBM_MEMFLAGS);
            b->EBM_FlipWidthTab = b->EBM_FlipHeightTab = nullptr;
            b->flipWidthTabSize = b->flipHeightTabSize = 0;
            b->EBM_RowOffsetTab = nullptr;
            b->rowOffsetTabSize = 0;
        }
        if (b->flags & EBM_ROWTAB) {
            if (b->EBM_RowOffsetTab) {
                Qel_DPrintf(0, "Qel_MakeStandardTabs: EBM_RowOffsetTabLen already existing!\n");
                Int_FreeMem(b->EBM_RowOffsetTab, b->rowOffsetTabSize ? b->rowOffsetTabSize : 4, EBM_MEMFLAGS);
            }
            b->rowOffsetTabSize = height * 4;
            b->EBM_RowOffsetTab = static_cast<uint32_t*>(Int_AllocMem(height ? height * 4 : 4, EBM_MEMFLAGS));
            if (!b->EBM_RowOffsetTab) goto fail;
            for (uint32_t y = 0; y < height; ++y) b->EBM_RowOffsetTab[y] = y * b->rowDistance;
        }
    }
    if (!(b->flags & EBM_FOREIGNSYS) && !b->sys && !S_NewSysEBM(b)) goto fail;
    return 1;
fail:
    Qel_FreeEBMBuffers(b);
    return 0;
}

void Qel_FreeEBMBuffers(EBM* b) {
    if (!b) return;
    if (!(b->flags & EBM_SHORT)) {
        if (b->rectTable) Int_FreeMem(b->rectTable, b->rectTableSize, EBM_MEMFLAGS);
        b->rectTable = nullptr;
        b->rectTableSize = 0;
        if (b->EBM_FlipWidthTab)
            Int_FreeMem(b->EBM_FlipWidthTab, b->flipWidthTabSize ? b->flipWidthTabSize : 2, EBM_MEMFLAGS);
        if (b->EBM_FlipHeightTab)
            Int_FreeMem(b->EBM_FlipHeightTab, b->flipHeightTabSize ? b->flipHeightTabSize : 2, EBM_MEMFLAGS);
        if (b->EBM_RowOffsetTab)
            Int_FreeMem(b->EBM_RowOffsetTab, b->rowOffsetTabSize ? b->rowOffsetTabSize : 4, EBM_MEMFLAGS);
        b->EBM_FlipWidthTab = b->EBM_FlipHeightTab = nullptr;
        b->EBM_RowOffsetTab = nullptr;
        b->flipWidthTabSize = b->flipHeightTabSize = b->rowOffsetTabSize = 0;
    }
    if (b->shadow && b->shadow != b->plane0) Int_FreeMem(b->shadow, b->planeSize, EBM_MEMFLAGS);
    b->shadow = nullptr;
    if (!(b->flags & EBM_FOREIGNSYS)) S_FreeSysEBM(b);
}

void FreeILBM(EBM* b) {
    if (!b) return;
    if (!(b->flags & EBM_SHORT)) {
        int32_t holders = b->refCount--;
        if (holders > 0) return;
    }
    b->name = Qel_StrFree(b->name);
    if (!(b->flags & EBM_SHORT) && b->dirtyList && g_QelFreeDirtyList) g_QelFreeDirtyList(b);
    if ((b->flags & EBM_SHORT) && !(b->flags & EBM_NOSTORAGE) && !b->plane0 && !(b->flags & EBM_SURFACE))
        Qel_DPrintf(0x40, "FreeILBM: EBM hatte keinen Plane0 Pointer!\n");
    // A 1-bit bitmap's shadow is its plane: it goes with the pixels.
    if (b->shadow == b->plane0) b->shadow = nullptr;
    S_ReleaseEBMSurfaces(b);
    Qel_FreeEBMBuffers(b);
    if (!(b->flags & EBM_OWNHEADER)) {
        Int_FreeMem(b, EBM_HeaderSize(b->flags), EBM_MEMFLAGS);
    } else if (!(b->flags & EBM_KEEPHEADER)) {
        Int_FreeMem(b, b->headerSize, EBM_MEMFLAGS);
    }
}

void Qel_SetEbmName(EBM* b, const char* text) {
    if (!b) return;
    b->name = text ? Qel_StrReassign(b->name, text) : Qel_StrFree(b->name);
}
