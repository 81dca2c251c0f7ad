#include "tools/lib/storyasm.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "script/opcodes.h"

namespace {

struct Token {
    std::string text;
    bool quoted;
};

struct Asm {
    StoryWriter& w;
    StoryWriterObject* current;
    std::string error;
};

// Splits a line into tokens: blanks and commas separate, "..." is one token
// (with \n \t \r \\ \" \0 and \xHH escapes), ';' starts a comment.
bool Tokenize(const std::string& line, std::vector<Token>& out, std::string& error) {
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ';') break;
        if (std::isspace(static_cast<unsigned char>(c)) || c == ',') {
            ++i;
            continue;
        }
        if (c == '"') {
            std::string s;
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char d = line[i++];
                if (d == '"') {
                    closed = true;
                    break;
                }
                if (d != '\\') {
                    s += d;
                    continue;
                }
                if (i >= line.size()) break;
                char e = line[i++];
                switch (e) {
                    case 'n': s += '\n'; break;
                    case 't': s += '\t'; break;
                    case 'r': s += '\r'; break;
                    case '0': s += '\0'; break;
                    case 'x': {
                        size_t used = 0;
                        int v = 0;
                        while (used < 2 && i < line.size() && std::isxdigit(static_cast<unsigned char>(line[i]))) {
                            char h = line[i++];
                            v = v * 16 +
                                (std::isdigit(static_cast<unsigned char>(h)) ? h - '0' : (std::tolower(h) - 'a' + 10));
                            ++used;
                        }
                        if (!used) {
                            error = "\\x without hex digits";
                            return false;
                        }
                        s += static_cast<char>(v);
                        break;
                    }
                    default: s += e; break;
                }
            }
            if (!closed) {
                error = "unterminated string";
                return false;
            }
            out.push_back(Token{s, true});
            continue;
        }
        size_t start = i;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])) && line[i] != ',' &&
               line[i] != ';' && line[i] != '"')
            ++i;
        out.push_back(Token{line.substr(start, i - start), false});
    }
    return true;
}

bool ParseInt(const Token& t, int64_t lo, int64_t hi, int64_t& v) {
    if (t.quoted || t.text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long long n = std::strtoll(t.text.c_str(), &end, 0);
    if (errno || *end) return false;
    if (n < lo || n > hi) return false;
    v = n;
    return true;
}

bool ParseDouble(const Token& t, double& d) {
    if (t.quoted || t.text.empty()) return false;
    char* end = nullptr;
    d = std::strtod(t.text.c_str(), &end);
    return *end == '\0';
}

bool IsIdentifier(const std::string& s) {
    if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_' || s[0] == '.')) return false;
    for (char c : s)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '$')) return false;
    return true;
}

bool Err(Asm& a, const std::string& msg) {
    a.error = msg;
    return false;
}

// A static string operand: a quoted text (interned) or a number.
bool StringNumber(Asm& a, const Token& t, uint32_t max, uint32_t& n) {
    if (t.quoted) {
        n = SW_Intern(a.w, t.text);
        if (n > max)
            return Err(a,
                       "string \"" + t.text + "\" lies at " + std::to_string(n) + ", past one word; use the long form");
        return true;
    }
    int64_t v;
    if (!ParseInt(t, 0, max, v)) return Err(a, "bad string number '" + t.text + "'");
    n = static_cast<uint32_t>(v);
    return true;
}

bool Address(Asm& a, const Token& t) {
    int64_t v;
    if (!t.quoted && ParseInt(t, 0, UINT32_MAX, v)) {
        SW_EmitI32(a.w, static_cast<int32_t>(static_cast<uint32_t>(v)));
        return true;
    }
    if (t.quoted || !IsIdentifier(t.text)) return Err(a, "bad code position '" + t.text + "'");
    SW_EmitLabel(a.w, t.text);
    return true;
}

bool Operand(Asm& a, uint8_t shape, const Token& t) {
    int64_t v;
    double d;
    uint32_t n;
    switch (shape) {
        case SE_OPND_S16:
            if (!ParseInt(t, -32768, 65535, v)) return Err(a, "bad word operand '" + t.text + "'");
            SW_EmitWord(a.w, static_cast<uint16_t>(v));
            return true;
        case SE_OPND_I32:
            if (!ParseInt(t, INT32_MIN, UINT32_MAX, v)) return Err(a, "bad 32-bit operand '" + t.text + "'");
            SW_EmitI32(a.w, static_cast<int32_t>(static_cast<uint32_t>(v)));
            return true;
        case SE_OPND_A32: return Address(a, t);
        case SE_OPND_F64:
            if (!ParseDouble(t, d)) return Err(a, "bad number '" + t.text + "'");
            SW_EmitF64(a.w, d);
            return true;
        case SE_OPND_STR16:
            if (!StringNumber(a, t, 0x7fff, n)) return false;
            SW_EmitWord(a.w, static_cast<uint16_t>(n));
            return true;
        case SE_OPND_STR32:
            if (!StringNumber(a, t, 0x7fffffff, n)) return false;
            SW_EmitI32(a.w, static_cast<int32_t>(n));
            return true;
        default: return Err(a, "unexpected operand");
    }
}

bool Instruction(Asm& a, const std::vector<Token>& tok) {
    const std::string& m = tok[0].text;
    for (int op = 1; op < SE_OP_COUNT; ++op) {
        const SE_OpcodeInfo& info = SE_Opcodes[op];
        if (!info.mnemonic || m != info.mnemonic) continue;
        SW_EmitWord(a.w, static_cast<uint16_t>(op));
        if (info.operands[0] == SE_OPND_JUMPTABLE) {
            if (tok.size() < 2) return Err(a, m + " needs at least one target");
            for (size_t i = 1; i < tok.size(); ++i)
                if (!Address(a, tok[i])) return false;
            return true;
        }
        size_t want = (info.operands[0] != SE_OPND_NONE) + (info.operands[1] != SE_OPND_NONE);
        if (tok.size() - 1 != want)
            return Err(a, m + " takes " + std::to_string(want) + " operand(s), got " + std::to_string(tok.size() - 1));
        for (size_t i = 0; i < want; ++i)
            if (!Operand(a, info.operands[i], tok[i + 1])) return false;
        return true;
    }
    return Err(a, "unknown mnemonic '" + m + "'");
}

// ".object ID [super S] [third T]"
bool ObjectDirective(Asm& a, const std::vector<Token>& tok) {
    int64_t id, super = -1, third = 0;
    if (tok.size() < 2 || !ParseInt(tok[1], INT32_MIN, INT32_MAX, id)) return Err(a, ".object needs an id");
    for (size_t i = 2; i < tok.size(); i += 2) {
        if (i + 1 >= tok.size()) return Err(a, "missing value after '" + tok[i].text + "'");
        if (tok[i].text == "super") {
            if (!ParseInt(tok[i + 1], INT32_MIN, INT32_MAX, super)) return Err(a, "bad super id");
        } else if (tok[i].text == "third") {
            if (!ParseInt(tok[i + 1], INT32_MIN, UINT32_MAX, third)) return Err(a, "bad third word");
        } else {
            return Err(a, "unknown .object field '" + tok[i].text + "'");
        }
    }
    if (StoryWriterObject* o = SW_FindObject(a.w, static_cast<int32_t>(id))) {
        if (tok.size() > 2) return Err(a, "object " + std::to_string(id) + " is declared already");
        a.current = o;
        return true;
    }
    a.current = SW_AddObject(a.w, static_cast<int32_t>(id), static_cast<int32_t>(super), static_cast<uint32_t>(third));
    return true;
}

// ".func NAME [at LABEL|POSITION] [need N]"; without "at" the function starts here.
bool FuncDirective(Asm& a, const std::vector<Token>& tok) {
    if (tok.size() < 2) return Err(a, ".func needs a name");
    uint32_t name;
    if (!StringNumber(a, tok[1], 0x7fffffff, name)) return false;
    std::string label;
    uint32_t position = SW_Here(a.w);
    int64_t need = 0;
    for (size_t i = 2; i < tok.size(); i += 2) {
        if (i + 1 >= tok.size()) return Err(a, "missing value after '" + tok[i].text + "'");
        const Token& v = tok[i + 1];
        int64_t n;
        if (tok[i].text == "at") {
            if (ParseInt(v, 0, UINT32_MAX, n)) position = static_cast<uint32_t>(n);
            else if (!v.quoted && IsIdentifier(v.text)) label = v.text;
            else return Err(a, "bad function position '" + v.text + "'");
        } else if (tok[i].text == "need") {
            if (!ParseInt(v, 0, UINT32_MAX, need)) return Err(a, "bad stack need '" + v.text + "'");
        } else {
            return Err(a, "unknown .func field '" + tok[i].text + "'");
        }
    }
    if (label.empty()) SW_AddFunctionAt(*a.current, name, position, static_cast<uint32_t>(need));
    else SW_AddFunction(*a.current, name, label, static_cast<uint32_t>(need));
    return true;
}

// ".var NAME KIND [VALUE]"
bool VarDirective(Asm& a, const std::vector<Token>& tok) {
    if (tok.size() < 3) return Err(a, ".var needs a name and a kind");
    uint32_t name;
    if (!StringNumber(a, tok[1], 0x7fffffff, name)) return false;
    const std::string& kind = tok[2].text;
    int64_t n;
    double d;
    auto need = [&](size_t count) {
        return tok.size() == count ? true : Err(a, ".var " + kind + ": wrong operand count");
    };
    if (kind == "zero" || kind == "array") {
        if (!need(3)) return false;
        SW_AddVariable(*a.current, name, kind == "zero" ? STORY_VAR_ZERO : STORY_VAR_ARRAY, 0);
    } else if (kind == "int") {
        if (!need(4) || !ParseInt(tok[3], INT32_MIN, UINT32_MAX, n)) return Err(a, "bad .var int value");
        SW_AddVariable(*a.current, name, STORY_VAR_INTEGER, static_cast<uint32_t>(n));
    } else if (kind == "string") {
        uint32_t s;
        if (!need(4) || !StringNumber(a, tok[3], 0x7fffffff, s))
            return Err(a, a.error.empty() ? "bad .var string" : a.error);
        SW_AddVariable(*a.current, name, STORY_VAR_STRING, s);
    } else if (kind == "float") {
        if (!need(4) || !ParseDouble(tok[3], d)) return Err(a, "bad .var float value");
        float f = static_cast<float>(d);
        uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        SW_AddVariable(*a.current, name, STORY_VAR_FLOAT, bits);
    } else if (kind == "kind") {
        int64_t k;
        if (!need(5) || !ParseInt(tok[3], 0, UINT32_MAX, k) || !ParseInt(tok[4], INT32_MIN, UINT32_MAX, n))
            return Err(a, "bad .var kind operands");
        SW_AddVariable(*a.current, name, static_cast<uint32_t>(k), static_cast<uint32_t>(n));
    } else {
        return Err(a, "unknown variable kind '" + kind + "'");
    }
    return true;
}

// ".patch KEY OLD:NEW ..."
bool PatchDirective(Asm& a, const std::vector<Token>& tok) {
    int64_t key;
    if (tok.size() < 2 || !ParseInt(tok[1], 0, UINT32_MAX, key)) return Err(a, ".patch needs a key");
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    for (size_t i = 2; i < tok.size(); ++i) {
        size_t colon = tok[i].text.find(':');
        int64_t from, to;
        if (tok[i].quoted || colon == std::string::npos ||
            !ParseInt(Token{tok[i].text.substr(0, colon), false}, 0, UINT32_MAX, from) ||
            !ParseInt(Token{tok[i].text.substr(colon + 1), false}, 0, UINT32_MAX, to))
            return Err(a, "bad patch pair '" + tok[i].text + "' (want OLD:NEW)");
        pairs.emplace_back(static_cast<uint32_t>(from), static_cast<uint32_t>(to));
    }
    SW_AddPatch(a.w, static_cast<uint32_t>(key), std::move(pairs));
    return true;
}

bool Directive(Asm& a, const std::vector<Token>& tok) {
    const std::string& d = tok[0].text;
    int64_t v;
    if (d == ".ctime") {
        if (tok.size() != 2 || !ParseInt(tok[1], 0, UINT32_MAX, v)) return Err(a, ".ctime needs a number");
        SW_SetCompileTime(a.w, static_cast<uint32_t>(v));
    } else if (d == ".scramble") {
        a.w.scrambled = true;
    } else if (d == ".plain") {
        a.w.scrambled = false;
    } else if (d == ".junk") {
        if (tok.size() != 2 || !ParseInt(tok[1], 0, 1 << 20, v)) return Err(a, ".junk needs a byte count");
        a.w.junk.assign(static_cast<size_t>(v), 0x5a);
    } else if (d == ".noobjects") {
        a.w.objectChunk = false;
    } else if (d == ".string") {
        if (tok.size() != 2 || !tok[1].quoted) return Err(a, ".string needs a quoted text");
        SW_Intern(a.w, tok[1].text);
    } else if (d == ".global") {
        a.current = &a.w.global;
    } else if (d == ".object") {
        return ObjectDirective(a, tok);
    } else if (d == ".symb") {
        a.current->functionChunk = true;
    } else if (d == ".var2") {
        a.current->variableChunk = true;
    } else if (d == ".func") {
        return FuncDirective(a, tok);
    } else if (d == ".var") {
        return VarDirective(a, tok);
    } else if (d == ".patch") {
        return PatchDirective(a, tok);
    } else if (d == ".word") {
        for (size_t i = 1; i < tok.size(); ++i) {
            if (!ParseInt(tok[i], -32768, 65535, v)) return Err(a, "bad word '" + tok[i].text + "'");
            SW_EmitWord(a.w, static_cast<uint16_t>(v));
        }
    } else if (d == ".dword") {
        for (size_t i = 1; i < tok.size(); ++i) {
            if (!ParseInt(tok[i], INT32_MIN, UINT32_MAX, v)) return Err(a, "bad double word '" + tok[i].text + "'");
            SW_EmitI32(a.w, static_cast<int32_t>(static_cast<uint32_t>(v)));
        }
    } else {
        return Err(a, "unknown directive '" + d + "'");
    }
    return true;
}

bool Line(Asm& a, std::vector<Token> tok) {
    // Leading "label:" definitions.
    while (!tok.empty() && !tok[0].quoted && tok[0].text.size() > 1 && tok[0].text.back() == ':') {
        std::string label = tok[0].text.substr(0, tok[0].text.size() - 1);
        if (!IsIdentifier(label)) return Err(a, "bad label '" + label + "'");
        if (!SW_Label(a.w, label)) return Err(a, "label '" + label + "' defined twice");
        tok.erase(tok.begin());
    }
    if (tok.empty()) return true;
    if (tok[0].quoted) return Err(a, "a line starts with a mnemonic or a directive");
    if (tok[0].text[0] == '.') return Directive(a, tok);
    return Instruction(a, tok);
}

}  // namespace

bool StoryAsm_Assemble(const std::string& text, StoryWriter& w, std::string* error) {
    Asm a{w, &w.global, {}};
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::vector<Token> tok;
        std::string tokError;
        if (!Tokenize(line, tok, tokError)) a.error = tokError;
        else if (Line(a, std::move(tok))) continue;
        if (error) *error = "line " + std::to_string(number) + ": " + a.error;
        return false;
    }
    return true;
}

bool StoryAsm_Build(const std::string& text, std::vector<uint8_t>& image, std::string* error) {
    StoryWriter w;
    return StoryAsm_Assemble(text, w, error) && SW_Build(w, image, error);
}

bool StoryAsm_AssembleFile(const std::string& sourcePath, const std::string& outputPath, std::string* error) {
    std::ifstream in(sourcePath, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot read " + sourcePath;
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::vector<uint8_t> image;
    if (!StoryAsm_Build(text.str(), image, error)) {
        if (error) *error = sourcePath + ": " + *error;
        return false;
    }
    if (!SW_WriteFile(outputPath, image)) {
        if (error) *error = "cannot write " + outputPath;
        return false;
    }
    return true;
}
