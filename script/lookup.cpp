#include "script/lookup.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/table.h"
#include "script/memory.h"

StoryInstance* SB_FindObject(SE_Context* ctx, int32_t id) {
    if (!ctx) return nullptr;
    if (id >= 0) {
        uint32_t lo = 0, hi = ctx->objectCount;
        while (lo < hi) {
            uint32_t mid = lo + (hi - lo) / 2;
            int32_t mid_id = ctx->objects[mid].id;
            if (mid_id == id) return &ctx->objects[mid];
            if (mid_id < id) lo = mid + 1;
            else hi = mid;
        }
        return nullptr;
    }
    if (!ctx->instanceTable) return nullptr;
    uint32_t key = static_cast<uint32_t>(-static_cast<int64_t>(id) - 1);
    return reinterpret_cast<StoryInstance*>(Qel_TableGet(ctx->instanceTable, key));
}

// The static text of a name number, or null when the number is outside the block.
static const char* NameText(const SE_Context* ctx, uint32_t name) {
    if (!ctx->staticStrings || name == 0 || name >= ctx->staticSize) return nullptr;
    return ctx->staticStrings + name;
}

static bool HasOwnFunction(const SE_Context* ctx, const StoryObject* o, const char* name) {
    uint32_t lo = 0, hi = o->functionCount;
    while (lo < hi) {
        uint32_t mid = lo + (hi - lo) / 2;
        const char* text = NameText(ctx, o->functions[mid].name);
        int c = std::strcmp(text ? text : "", name);
        if (c == 0) return true;
        if (c < 0) lo = mid + 1;
        else hi = mid;
    }
    return false;
}

int SB_ObjectFunctionExists(int32_t id, const char* name) {
    SE_Context* ctx = g_SEContext;
    StoryInstance* o = SB_FindObject(ctx, id);
    if (!o || !o->classObject || !name || o->classObject->functionCount == 0) return 0;
    for (const StoryObject* c = o->classObject; c; c = c->super)
        if (HasOwnFunction(ctx, c, name)) return 1;
    return 0;
}

int SB_IsLiveObject(const ScriptValue* v) {
    if (v->tag == VARTYPE_OBJECT) return v->object && v->object->classObject ? 1 : 0;
    if (v->tag == VARTYPE_INTEGER) return v->i != 0 && SB_FindObject(g_SEContext, v->i) ? 1 : 0;
    return 0;
}

const StoryFunction* SB_FindFunctionAt(SE_Context* ctx, uint32_t position, const StoryObject** owner) {
    const StoryFunction* best = nullptr;
    const StoryObject* bestOwner = nullptr;
    if (ctx && ctx->objects) {
        for (uint32_t i = 0; i < ctx->objectCount; ++i) {
            const StoryObject* o = &ctx->objects[i];
            for (uint32_t f = 0; f < o->functionCount; ++f) {
                const StoryFunction* fn = &o->functions[f];
                if (fn->position <= position && (!best || fn->position > best->position)) {
                    best = fn;
                    bestOwner = o;
                }
            }
        }
    }
    if (owner) *owner = bestOwner;
    return best;
}

char* SE_GetDebugAddress(SE_Context* ctx, char* buffer, size_t size, uint32_t position, const StoryInstance* object) {
    if (!buffer || size == 0) return buffer;
    std::string s;
    char part[64];
    if (object) {
        std::snprintf(part, sizeof part, "#%d", object->id);
        s += part;
        if (object->id < 0 && object->classObject) {
            std::snprintf(part, sizeof part, "(%d)", object->classObject->id);
            s += part;
        }
    }
    std::snprintf(part, sizeof part, "[%06x]", position);
    s += part;
    const StoryObject* owner = nullptr;
    if (const StoryFunction* fn = SB_FindFunctionAt(ctx, position, &owner)) {
        if (owner->id >= 0) {
            std::snprintf(part, sizeof part, "%d.", owner->id);
            s += part;
        }
        const char* name = NameText(ctx, fn->name);
        s += name ? name : "**invalid string in SE_GetDebugAddress**";
    }
    size_t n = std::min(s.size(), size - 1);
    std::memcpy(buffer, s.data(), n);
    buffer[n] = '\0';
    return buffer;
}

char* SE_GetTaskDebugAddress(char* buffer, const SE_Task* task, SE_Context* ctx) {
    if (!task) {
        buffer[0] = '\0';
        return buffer;
    }
    return SE_GetDebugAddress(ctx, buffer, 50, task->position, task->object);
}

const char* SE_GetCurrentDebugAddress() {
    static char buffer[256];
    SE_Context* ctx = g_SEContext;
    if (!ctx || !ctx->currentTask) return "invalid address";
    return SE_GetTaskDebugAddress(buffer, ctx->currentTask, ctx);
}

const char* SE_PositionText() {
    static char buffer[64];
    SE_Context* ctx = g_SEContext;
    if (!ctx || !ctx->currentTask) return "";
    return SE_GetTaskDebugAddress(buffer, ctx->currentTask, ctx);
}
