#include "story.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "base/table.h"
#include "script/loader.h"
#include "script/lookup.h"
#include "script/memory.h"
#include "tools/lib/storyasm.h"

ScriptTestContext::ScriptTestContext() {
    ctx_ = static_cast<SE_Context*>(std::calloc(1, sizeof(SE_Context)));
    SE_ListInit(&ctx_->ready);
    SE_ListInit(&ctx_->waiting);
    for (QelTable** t : {&ctx_->taskTable, &ctx_->instanceTable, &ctx_->fileTable, &ctx_->patchTable,
                         &ctx_->regexpTable, &ctx_->stringTable, &ctx_->arrayTable, &ctx_->tableTable})
        *t = Qel_TableCreate();
    ctx_->nextModule = 1;
    g_SEContext = ctx_;
}

ScriptTestContext::~ScriptTestContext() {
    if (ctx_->storyName || Qel_TableGetCount(ctx_->taskTable) || Qel_TableGetCount(ctx_->instanceTable) ||
        Qel_TableGetCount(ctx_->patchTable))
        SB_FreeLocation(ctx_);
    // Static strings given by SetStaticStrings without a story.
    if (ctx_->staticStrings) SB_Free(ctx_, SE_MEMCAT_CODE, ctx_->staticStrings, size_t{ctx_->staticSize} + 1);
    for (QelTable* t : {ctx_->taskTable, ctx_->instanceTable, ctx_->fileTable, ctx_->patchTable, ctx_->regexpTable,
                        ctx_->stringTable, ctx_->arrayTable, ctx_->tableTable})
        Qel_TableFree(t);
    if (g_SEContext == ctx_) g_SEContext = nullptr;
    std::free(ctx_);
}

void SetStaticStrings(SE_Context* ctx, const std::string& block) {
    if (ctx->staticStrings) SB_Free(ctx, SE_MEMCAT_CODE, ctx->staticStrings, size_t{ctx->staticSize} + 1);
    ctx->staticStrings = static_cast<char*>(SB_Alloc(ctx, SE_MEMCAT_CODE, 0, block.size() + 1));
    std::memcpy(ctx->staticStrings, block.data(), block.size());
    ctx->staticStrings[block.size()] = '\0';
    ctx->staticSize = static_cast<uint32_t>(block.size());
}

std::vector<uint8_t> AssembleStory(const std::string& text) {
    std::vector<uint8_t> image;
    std::string error;
    EXPECT_TRUE(StoryAsm_Build(text, image, &error)) << error;
    return image;
}

int LoadStoryImage(SE_Context* ctx, std::vector<uint8_t> image, const char* name) {
    return SB_LoadStoryImage(ctx, name, name, image.data(), static_cast<uint32_t>(image.size()));
}

int64_t BookedBytes(const SE_Context* ctx) {
    int64_t sum = 0;
    for (int32_t b : ctx->memBytes) sum += b;
    return sum;
}

int64_t BookedBlocks(const SE_Context* ctx) {
    int64_t sum = 0;
    for (int32_t b : ctx->memBlocks) sum += b;
    return sum;
}

StoryObject* FindStoryObject(SE_Context* ctx, int32_t id) {
    StoryInstance* o = SB_FindObject(ctx, id);
    return o && id >= 0 ? static_cast<StoryObject*>(o) : nullptr;
}

std::string FunctionName(SE_Context* ctx, const StoryFunction& f) { return SB_String(ctx, f.name); }
