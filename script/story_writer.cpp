#include "script/story_writer.h"

#include <cstdio>
#include <cstring>

uint32_t SW_Intern(StoryWriter& w, const std::string& text) {
    auto it = w.interned.find(text);
    if (it != w.interned.end()) return it->second;
    uint32_t n = static_cast<uint32_t>(w.strings.size());
    w.strings += text;
    w.strings += '\0';
    w.interned.emplace(text, n);
    return n;
}

uint32_t SW_Here(const StoryWriter& w) { return static_cast<uint32_t>(w.code.size()); }

bool SW_Label(StoryWriter& w, const std::string& name) { return w.labels.emplace(name, SW_Here(w)).second; }

void SW_EmitWord(StoryWriter& w, uint16_t word) { w.code.push_back(word); }

void SW_EmitI32(StoryWriter& w, int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    w.code.push_back(static_cast<uint16_t>(u >> 16));
    w.code.push_back(static_cast<uint16_t>(u));
}

void SW_EmitF64(StoryWriter& w, double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    for (int shift = 48; shift >= 0; shift -= 16) w.code.push_back(static_cast<uint16_t>(bits >> shift));
}

void SW_EmitLabel(StoryWriter& w, const std::string& label) {
    w.fixups.push_back(StoryWriterFixup{SW_Here(w), label});
    w.code.push_back(0);
    w.code.push_back(0);
}

StoryWriterObject* SW_AddObject(StoryWriter& w, int32_t id, int32_t superId, uint32_t thirdWord) {
    if (id == 0) return &w.global;
    w.objects.push_back(StoryWriterObject{id, superId, thirdWord, false, false, {}, {}});
    return &w.objects.back();
}

StoryWriterObject* SW_FindObject(StoryWriter& w, int32_t id) {
    if (id == 0) return &w.global;
    for (StoryWriterObject& o : w.objects)
        if (o.id == id) return &o;
    return nullptr;
}

void SW_AddFunction(StoryWriterObject& o, uint32_t name, const std::string& label, uint32_t stackNeed) {
    o.functions.push_back(StoryWriterFunction{name, label, 0, stackNeed});
}

void SW_AddFunctionAt(StoryWriterObject& o, uint32_t name, uint32_t position, uint32_t stackNeed) {
    o.functions.push_back(StoryWriterFunction{name, std::string(), position, stackNeed});
}

void SW_AddVariable(StoryWriterObject& o, uint32_t name, uint32_t kind, uint32_t value) {
    o.variables.push_back(StoryVarDesc{name, kind, value, 0});
}

void SW_SetCompileTime(StoryWriter& w, uint32_t time) { w.compileTime = time; }

void SW_AddPatch(StoryWriter& w, uint32_t key, std::vector<std::pair<uint32_t, uint32_t>> pairs) {
    w.patches.push_back(StoryWriterPatch{key, std::move(pairs)});
}

void SW_PutTag(std::vector<uint8_t>& out, const char tag[4]) { out.insert(out.end(), tag, tag + 4); }

void SW_PutU32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    Story_WriteU32(b, v);
    out.insert(out.end(), b, b + 4);
}

void SW_PutU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void SW_PutBytes(std::vector<uint8_t>& out, const void* bytes, size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    out.insert(out.end(), p, p + n);
}

void SW_PutVarDesc(std::vector<uint8_t>& out, const StoryVarDesc& desc) {
    uint8_t b[STORY_VARDESC_BYTES];
    Story_WriteVarDesc(b, desc);
    out.insert(out.end(), b, b + STORY_VARDESC_BYTES);
}

void SW_PutFunction(std::vector<uint8_t>& out, const StoryFunction& fn) {
    uint8_t b[STORY_FUNCTION_BYTES];
    Story_WriteFunction(b, fn);
    out.insert(out.end(), b, b + STORY_FUNCTION_BYTES);
}

static bool PutObjectTables(const StoryWriter& w, const StoryWriterObject& o, std::vector<uint8_t>& out,
                            std::string* error) {
    if (o.functionChunk || !o.functions.empty()) {
        SW_PutTag(out, STORY_TAG_FUNCTIONS);
        SW_PutU32(out, static_cast<uint32_t>(o.functions.size()));
        for (const StoryWriterFunction& f : o.functions) {
            uint32_t position = f.position;
            if (!f.label.empty()) {
                auto it = w.labels.find(f.label);
                if (it == w.labels.end()) {
                    if (error) *error = "undefined label '" + f.label + "'";
                    return false;
                }
                position = it->second;
            }
            SW_PutFunction(out, StoryFunction{position, f.name, f.stackNeed});
        }
    }
    if (o.variableChunk || !o.variables.empty()) {
        SW_PutTag(out, STORY_TAG_VARIABLES);
        SW_PutU32(out, static_cast<uint32_t>(o.variables.size()));
        for (const StoryVarDesc& d : o.variables) SW_PutVarDesc(out, d);
    }
    return true;
}

bool SW_Build(StoryWriter& w, std::vector<uint8_t>& out, std::string* error) {
    for (const StoryWriterFixup& f : w.fixups) {
        auto it = w.labels.find(f.label);
        if (it == w.labels.end()) {
            if (error) *error = "undefined label '" + f.label + "'";
            return false;
        }
        w.code[f.word] = static_cast<uint16_t>(it->second >> 16);
        w.code[f.word + 1] = static_cast<uint16_t>(it->second);
    }
    out.clear();
    out.insert(out.end(), w.junk.begin(), w.junk.end());
    SW_PutTag(out, STORY_TAG_CODE);
    SW_PutU32(out, static_cast<uint32_t>(w.code.size()));
    for (uint16_t word : w.code) SW_PutU16(out, word);
    SW_PutTag(out, STORY_TAG_CTIME);
    SW_PutU32(out, w.compileTime);
    if (!PutObjectTables(w, w.global, out, error)) return false;
    if (w.objectChunk) {
        SW_PutTag(out, STORY_TAG_OBJECTS);
        SW_PutU32(out, static_cast<uint32_t>(w.objects.size()));
        for (const StoryWriterObject& o : w.objects) {
            SW_PutU32(out, static_cast<uint32_t>(o.id));
            SW_PutU32(out, static_cast<uint32_t>(o.superId));
            SW_PutU32(out, o.thirdWord);
            if (!PutObjectTables(w, o, out, error)) return false;
        }
    }
    if (!w.patches.empty()) {
        SW_PutTag(out, STORY_TAG_PATCHES);
        SW_PutU32(out, static_cast<uint32_t>(w.patches.size()));
        for (const StoryWriterPatch& p : w.patches) {
            SW_PutU32(out, p.key);
            SW_PutU32(out, static_cast<uint32_t>(p.pairs.size()));
            for (const auto& [from, to] : p.pairs) {
                SW_PutU32(out, from);
                SW_PutU32(out, to);
            }
        }
    }
    SW_PutTag(out, w.scrambled ? STORY_TAG_STRINGS : STORY_TAG_PLAIN_STRINGS);
    size_t at = out.size();
    SW_PutBytes(out, w.strings.data(), w.strings.size());
    if (w.scrambled) Story_ScrambleStrings(out.data() + at, static_cast<uint32_t>(w.strings.size()));
    return true;
}

bool SW_WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}
