#include "script/memory.h"

#include "base/log.h"
#include "base/memory.h"
#include "script/lookup.h"

namespace {
// The largest text block granted; negative: no bound.
int64_t s_textBudget = -1;
}  // namespace

void SE_SetTextBudget(int64_t bytes) { s_textBudget = bytes; }

void* SB_Alloc(SE_Context* ctx, int category, uint32_t flags, size_t size) {
    if (category == SE_MEMCAT_TEXT && s_textBudget >= 0 && size > static_cast<uint64_t>(s_textBudget)) return nullptr;
    void* block = Int_AllocMem(size, SE_MEM_TAG | flags);
    if (!block) return nullptr;
    if (ctx && category >= 0 && category < SE_MEM_CATEGORIES) {
        // The books are 32-bit: they wrap rather than overflow.
        ctx->memBytes[category] = static_cast<int32_t>(static_cast<uint32_t>(ctx->memBytes[category]) + size);
        if (ctx->memBytes[category] > ctx->memPeakBytes[category])
            ctx->memPeakBytes[category] = ctx->memBytes[category];
        ctx->memBlocks[category] += 1;
        if (ctx->memBlocks[category] > ctx->memPeakBlocks[category])
            ctx->memPeakBlocks[category] = ctx->memBlocks[category];
    }
    return block;
}

void SB_Free(SE_Context* ctx, int category, void* block, size_t size) {
    if (ctx && category >= 0 && category < SE_MEM_CATEGORIES) {
        ctx->memBytes[category] = static_cast<int32_t>(static_cast<uint32_t>(ctx->memBytes[category]) - size);
        ctx->memBlocks[category] -= 1;
    }
    Int_FreeMem(block, size, SE_MEM_TAG);
}

const char* SB_String(SE_Context* ctx, uint32_t n) {
    if (n == 0) return "SB_String(0)";
    if (ctx && ctx->staticStrings && n < ctx->staticSize) return ctx->staticStrings + n;
    Qel_BannerPrintf("SB_String: %s invalid static string %d!\n", SE_PositionText(), static_cast<int>(n));
    return " ";
}

const char* SB_ArgumentText(const ScriptValue* args, int32_t i, int32_t n) {
    if (!args || i < 0 || (n >= 0 && i >= n)) return "<invalid>";
    const char* text = SV_GetString(&args[i]);
    return text ? text : "<invalid>";
}
