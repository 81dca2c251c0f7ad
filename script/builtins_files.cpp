#include "script/builtins_files.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>

#include "base/file.h"
#include "base/general.h"
#include "base/log.h"
#include "base/markup.h"
#include "base/memory.h"
#include "base/packed.h"
#include "base/table.h"
#include "script/arrays.h"
#include "script/builtins_args.h"
#include "script/context.h"
#include "script/lookup.h"
#include "script/memory.h"
#include "script/tasks.h"
#include "script/textpages.h"
#include "script/valuexml.h"
#include "system/userpaths.h"

namespace {

const char* Shown(const char* text) { return text ? text : ""; }

// The parsed tree of a text argument; null when it is no text or does not parse.
XmlNode* ParseArgument(const ScriptValue* args, int32_t argc, int32_t i) {
    const char* text = SE_ArgText(args, argc, i);
    return text ? Qel_XmlParseString(text) : nullptr;
}

// An OBJECT value whose instance has its class, or an object id.
StoryInstance* ObjectArgument(SE_Context* ctx, const ScriptValue* v) {
    if (v->tag == VARTYPE_OBJECT) return v->object && v->object->classObject ? v->object : nullptr;
    if (v->tag == VARTYPE_INTEGER) {
        StoryInstance* o = SB_FindObject(ctx, v->i);
        return o && o->classObject ? o : nullptr;
    }
    return nullptr;
}

// The index of a variable named `name` in the class or its super chain; -1
// when no class of the chain declares it.
int32_t FindVariable(SE_Context* ctx, const StoryObject* cls, const char* name) {
    for (const StoryObject* c = cls; c; c = c->super) {
        for (uint32_t j = 0; j < c->ownVariableCount && c->ownVariables; ++j) {
            uint32_t number = c->ownVariables[j].name;
            if (number == 0 || number >= ctx->staticSize || !ctx->staticStrings) continue;
            if (std::strcmp(ctx->staticStrings + number, name) == 0) {
                uint32_t index = c->firstOwnVariable + j;
                return index < cls->variableCount ? static_cast<int32_t>(index) : -1;
            }
        }
    }
    return -1;
}

const XmlNode* FirstElement(const XmlNode* parent) {
    if (!parent || !parent->element) return nullptr;
    for (const XmlNode* c = parent->element->children.head; c; c = c->next)
        if (c->kind == XML_ELEMENT && c->element) return c;
    return nullptr;
}

bool Named(const XmlNode* n, const char* name) {
    return n && n->kind == XML_ELEMENT && n->text && std::strcmp(n->text, name) == 0;
}

time_t TimeArgument(const ScriptValue* args, int32_t argc, int32_t i) {
    return argc > i ? static_cast<time_t>(SE_ArgInt(args, argc, i)) : std::time(nullptr);
}

}  // namespace

// ---------------------------------------------------------------- markup

int32_t SE_XMLImportText(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    XmlNode* root = ParseArgument(args, argc, 0);
    if (!root) return SE_AnswerInt(ctx, task, 0);
    int result = XMLImportText(ctx, root);
    Qel_XmlFreeNode(root);
    return SE_AnswerInt(ctx, task, result);
}

int32_t SE_XMLExportObject(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    StoryInstance* object = ObjectArgument(ctx, SE_ArgValue(args, argc, 0));
    char* text = object ? SV_XMLExportObject(ctx, object) : nullptr;
    if (!text) return SE_AnswerInt(ctx, task, 0);
    SE_AnswerText(ctx, task, text);
    Qel_XmlFreeString(text);
    return 1;
}

int32_t SE_XMLImportObject(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    StoryInstance* object = ObjectArgument(ctx, SE_ArgValue(args, argc, 0));
    XmlNode* root = object ? ParseArgument(args, argc, 1) : nullptr;
    if (!root) return SE_AnswerInt(ctx, task, 0);
    const XmlNode* obj = Named(root, "ROOT") ? FirstElement(root) : nullptr;
    if (Named(obj, "obj")) {
        const StoryObject* cls = object->classObject;
        for (const XmlNode* var = obj->element->children.head; var; var = var->next) {
            if (var->kind != XML_ELEMENT || !var->element) continue;
            const XmlListItem* first = var->element->attributes.head;
            if (!first || !first->name || std::strcmp(first->name, "name") != 0 || !first->value) continue;
            int32_t index = FindVariable(ctx, cls, first->value);
            if (index < 0 || !object->variables) continue;
            // The value is the variable's "sval" child.
            const XmlNode* value = FirstElement(var);
            if (value) SV_XMLAssign(value, &object->variables[index]);
        }
    }
    Qel_XmlFreeNode(root);
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_XMLExportValue(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    XmlNode* tree = SV_XMLExport(SE_ArgValue(args, argc, 0));
    char* text = tree ? Qel_XmlWriteNode(tree) : nullptr;
    Qel_XmlFreeNode(tree);
    if (!text) return SE_AnswerInt(ctx, task, 0);
    SE_AnswerText(ctx, task, text);
    Qel_XmlFreeString(text);
    return 1;
}

int32_t SE_XMLImportValue(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    XmlNode* root = ParseArgument(args, argc, 0);
    if (!root) return SE_AnswerInt(ctx, task, 0);
    ScriptValue value{};
    SV_XMLAssign(root, &value);
    Qel_XmlFreeNode(root);
    return SE_AnswerValue(ctx, task, &value);
}

int32_t SE_XMLImport(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    XmlNode* root = ParseArgument(args, argc, 0);
    if (!root) return SE_AnswerInt(ctx, task, 0);
    ScriptValue value{};
    SV_XMLToArray(root, &value);
    Qel_XmlFreeNode(root);
    return SE_AnswerValue(ctx, task, &value);
}

// ---------------------------------------------------------------- files

int32_t SE_FOpen(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* name = SE_ArgText(args, argc, 0);
    const char* mode = SE_ArgText(args, argc, 1);
    int diskOnly = argc > 2 ? SE_ArgInt(args, argc, 2) : 0;
    QelFile* f = name && mode ? Qel_fopen(name, mode, diskOnly) : nullptr;
    uint32_t handle = f && ctx->fileTable ? Qel_TableAdd(ctx->fileTable, reinterpret_cast<uintptr_t>(f)) : 0;
    if (!handle) {
        if (f) Qel_fclose(f);
        Qel_ErrPrintf("SE_FOpen: can't open file %s\n", Shown(name));
        return SE_AnswerInt(ctx, task, 0);
    }
    return SE_AnswerInt(ctx, task, static_cast<int32_t>(handle));
}

int32_t SE_FClose(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    int32_t handle = SE_ArgInt(args, argc, 0);
    auto* f = ctx->fileTable && handle > 0
                  ? reinterpret_cast<QelFile*>(Qel_TableRemove(ctx->fileTable, static_cast<uint32_t>(handle)))
                  : nullptr;
    if (f) Qel_fclose(f);
    else Qel_ErrPrintf("SE_FClose: tried to close nonexisting filehandle %d\n", handle);
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_ReadFile(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* name = SE_ArgText(args, argc, 0);
    int diskOnly = argc > 1 ? SE_ArgInt(args, argc, 1) : 0;
    int32_t fill = argc > 2 ? SE_ArgInt(args, argc, 2) : 0;
    char* data = nullptr;
    uint32_t size = 0;
    if (g_SystemState && (g_SystemState->startFlags & QEL_START_PACKED)) {
        size_t length = name ? std::strlen(name) : 0;
        if (length < 4) return SE_AnswerInt(ctx, task, 0);
        // The packed sibling is named in a copy: the name may be the story's own text.
        std::string packed(name);
        packed.replace(length - 3, 3, "pck");
        data = static_cast<char*>(Qel_Unpack(packed.c_str(), diskOnly));
        size = data ? g_QelLastFileSize : 0;
    }
    if (!data && name) {
        data = static_cast<char*>(Qel_LoadFile(name, diskOnly));
        size = data ? g_QelLastFileSize : 0;
    }
    if (!data) {
        Qel_ErrPrintf("SE_ReadFile: Can't load file %s\n", Shown(name));
        return SE_AnswerInt(ctx, task, 0);
    }
    if (fill != 0) std::replace(data, data + size, '\0', static_cast<char>(fill & 0xff));
    ScriptValue text{};
    SV_AssignBytes(&text, data, size);
    Int_FreeMem(data, size, 0);
    return SE_AnswerValue(ctx, task, &text);
}

int32_t SE_WriteFile(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* name = SE_ArgText(args, argc, 0);
    const ScriptValue* data = SE_ArgValue(args, argc, 1);
    int diskOnly = argc > 2 ? SE_ArgInt(args, argc, 2) : 0;
    QelFile* f = name ? Qel_fopen(name, "wb", diskOnly) : nullptr;
    if (!f) {
        Qel_ErrPrintf("SE_WriteFile: Can't open file %s\n", Shown(name));
        return SE_AnswerInt(ctx, task, 0);
    }
    // The whole text, zero bytes included: a file read into a text writes back unchanged.
    const char* bytes = SV_GetString(data);
    size_t length = bytes ? static_cast<size_t>(SV_GetStringLength(data)) : 0;
    size_t written = length ? Qel_fwriteBlock(f, 1, length, bytes) : 0;
    bool closed = Qel_fclose(f) == 0;
    if (length == 0 || written != length || !closed) {
        Qel_ErrPrintf("SE_WriteFile: Error in writing to file %s\n", name);
        return SE_AnswerInt(ctx, task, 0);
    }
    return SE_AnswerInt(ctx, task, static_cast<int32_t>(std::min<size_t>(written, INT32_MAX)));
}

int32_t SE_DeleteFile(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* name = SE_ArgText(args, argc, 0);
    int flag = argc > 1 ? SE_ArgInt(args, argc, 1) : 0;
    return SE_AnswerInt(ctx, task, name ? Qel_RemoveFile(name, flag) : 0);
}

int32_t SE_MoveFile(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* from = SE_ArgText(args, argc, 0);
    const char* to = SE_ArgText(args, argc, 1);
    int flag = argc > 2 ? SE_ArgInt(args, argc, 2) : 0;
    return SE_AnswerInt(ctx, task, from && to ? Qel_RenameFile(from, to, flag) : 0);
}

int32_t SE_FSize(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* name = SE_ArgText(args, argc, 0);
    int catalogFlag = argc > 1 ? SE_ArgInt(args, argc, 1) : 0;
    int64_t size = name ? Qel_fsize(catalogFlag, name) : -1;
    return SE_AnswerInt(ctx, task, static_cast<int32_t>(std::min<int64_t>(size, INT32_MAX)));
}

int32_t SE_FTime(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* name = SE_ArgText(args, argc, 0);
    int flag = argc > 1 ? SE_ArgInt(args, argc, 1) : 0;
    return SE_AnswerInt(ctx, task, name ? static_cast<int32_t>(Qel_ftime(name, flag)) : 0);
}

int32_t SE_GetDir(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* folder = SE_ArgText(args, argc, 0);
    const char* pattern = argc > 1 ? SE_ArgText(args, argc, 1) : nullptr;
    int userRelative = argc > 2 ? SE_ArgInt(args, argc, 2) : 0;
    QelDirListing* dir = Qel_OpenDir(pattern, folder, userRelative);
    if (!dir) return SE_AnswerInt(ctx, task, 0);
    int32_t count = 0;
    while (Qel_NextDirEntry(dir) && count < INT32_MAX) ++count;
    Qel_CloseDir(dir);
    ScriptValue list{};
    if (count == 0 || !SV_ArrayAlloc(&list, count)) return SE_AnswerInt(ctx, task, 0);
    // Exactly the counted number of names; one that vanished in between is "".
    dir = Qel_OpenDir(pattern, folder, userRelative);
    for (int32_t i = 0; i < count; ++i) {
        const char* entry = dir ? Qel_NextDirEntry(dir) : nullptr;
        SV_ArrayWriteString(&list, i, entry ? entry : "");
    }
    Qel_CloseDir(dir);
    return SE_AnswerValue(ctx, task, &list);
}

int32_t SE_MakeDir(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* path = SE_ArgText(args, argc, 0);
    return SE_AnswerInt(ctx, task, path && Qel_MakeDir(path, 1) ? 1 : 0);
}

int32_t SE_ChangeDir(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* path = SE_ArgText(args, argc, 0);
    return SE_AnswerInt(ctx, task, path && Qel_FileExists(path) ? 1 : 0);
}

// ---------------------------------------------------------------- clock

int32_t SE_CTime(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    time_t t = TimeArgument(args, argc, 0);
    char text[64] = "";
    if (!ctime_r(&t, text)) text[0] = '\0';
    size_t length = std::strlen(text);
    if (length && text[length - 1] == '\n') text[length - 1] = '\0';
    return SE_AnswerText(ctx, task, text);
}

int32_t SE_TimeString(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const char* format = SE_ArgText(args, argc, 0);
    time_t t = TimeArgument(args, argc, 1);
    char text[50] = "";
    struct tm local {};
    if (!format || !localtime_r(&t, &local) || std::strftime(text, sizeof text, format, &local) == 0) text[0] = '\0';
    return SE_AnswerText(ctx, task, text);
}

int32_t SE_Time(SE_Context* ctx, int32_t, SE_Task* task, int32_t, ScriptValue*) {
    return SE_AnswerInt(ctx, task, static_cast<int32_t>(std::time(nullptr)));
}
