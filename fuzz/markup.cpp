// The markup parser and everything read from markup: the tree written back
// and parsed again, a value ("sval") and the generic array form, an object's
// variables, and text pages.
#include <string>
#include <vector>

#include "base/markup.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/story.h"
#include "script/builtins_files.h"
#include "script/loader.h"
#include "script/lookup.h"
#include "script/textpages.h"
#include "script/valuexml.h"
#include "script/values.h"

namespace {

// The story stays loaded for the whole run: its object 5 takes the imports.
SE_Context* Context() {
    static SE_Context* ctx = nullptr;
    if (!ctx) {
        ctx = Fuzz_ScriptContext();
        std::vector<uint8_t> image = Fuzz_StoryImage();
        if (image.empty() || !SB_LoadStoryImage(ctx, "fuzz", "fuzz", image.data(), uint32_t(image.size())))
            __builtin_trap();
    }
    return ctx;
}

ScriptValue Text(const std::string& s) {
    ScriptValue v{};
    SV_AssignDString(&v, s.data(), int32_t(s.size()));
    return v;
}

ScriptValue Int(int32_t n) {
    ScriptValue v{};
    SV_AssignInt(&v, n);
    return v;
}

// What the imports left in the object's variables goes, so the books balance.
void ClearObject(SE_Context* ctx) {
    StoryInstance* o = SB_FindObject(ctx, 5);
    if (!o || !o->variables || !o->classObject) return;
    for (uint32_t i = 0; i < o->classObject->variableCount; ++i) SV_AssignInt(SV_Release(&o->variables[i]), 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    SE_Context* ctx = Context();
    std::string text(reinterpret_cast<const char*>(data), size);
    FuzzMemoryGuard guard(ctx);
    if (XmlNode* root = Qel_XmlParse(text.data(), text.size())) {
        if (char* written = Qel_XmlWriteNode(root)) {
            Qel_XmlFreeNode(Qel_XmlParseString(written));
            Qel_XmlFreeString(written);
        }
        ScriptValue value{};
        SV_XMLAssign(root, &value);
        SV_Release(&value);
        SV_XMLToArray(root, &value);
        SV_Release(&value);
        XMLImportText(ctx, root);
        SB_FreeTexts(ctx);
        Qel_XmlFreeNode(root);
    }
    Fuzz_CallBuiltin(SE_XMLImportObject, {Int(5), Text(text)});
    ClearObject(ctx);
    return 0;
}
