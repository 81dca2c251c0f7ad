// Script-engine test helpers: a script context as the engine makes it, and
// stories built with the assembler.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "script/context.h"

// A zeroed context with empty task lists and the eight id tables; it is the
// value code's context while it lives. The destructor frees the story and the
// tables (values a test still holds must be released before).
class ScriptTestContext {
public:
    ScriptTestContext();
    ~ScriptTestContext();
    ScriptTestContext(const ScriptTestContext&) = delete;
    ScriptTestContext& operator=(const ScriptTestContext&) = delete;
    SE_Context* get() const { return ctx_; }
    SE_Context* operator->() const { return ctx_; }

private:
    SE_Context* ctx_;
};

// Gives the context a static string block (booked as the loader books it);
// offset 0 should be a NUL.
void SetStaticStrings(SE_Context* ctx, const std::string& block);

// A story image from assembler text (a test failure on error).
std::vector<uint8_t> AssembleStory(const std::string& text);
// Loads an image as the loader loads a file's bytes; 1 or 0.
int LoadStoryImage(SE_Context* ctx, std::vector<uint8_t> image, const char* name = "test");

// Sum of the bytes and blocks booked in all categories.
int64_t BookedBytes(const SE_Context* ctx);
int64_t BookedBlocks(const SE_Context* ctx);

// The story object of an id, or null.
StoryObject* FindStoryObject(SE_Context* ctx, int32_t id);
// Static text of a function record's name.
std::string FunctionName(SE_Context* ctx, const StoryFunction& f);
