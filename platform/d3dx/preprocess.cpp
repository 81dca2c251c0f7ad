// Our effect preprocessor (see preprocess.h).
#include "platform/d3dx/preprocess.h"

#include <cctype>
#include <cstdlib>
#include <map>

namespace {

bool IdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// A small recursive evaluator of #if expressions.
class Condition {
public:
    Condition(const std::string& text, const std::map<std::string, std::string>& defs) : s_(text), defs_(defs) {}
    bool Evaluate(bool* value) {
        long v = Or();
        Skip();
        if (!ok_ || i_ != s_.size()) return false;
        *value = v != 0;
        return true;
    }

private:
    void Skip() {
        while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
    }
    bool Take(const char* op) {
        Skip();
        size_t n = std::char_traits<char>::length(op);
        if (s_.compare(i_, n, op) == 0) {
            i_ += n;
            return true;
        }
        return false;
    }
    std::string Name() {
        Skip();
        size_t start = i_;
        if (i_ < s_.size() && IdentStart(s_[i_]))
            while (i_ < s_.size() && IdentChar(s_[i_])) ++i_;
        return s_.substr(start, i_ - start);
    }
    long Or() {
        long v = And();
        while (ok_ && Take("||")) v = (And() != 0) | (v != 0);
        return v;
    }
    long And() {
        long v = Unary();
        while (ok_ && Take("&&")) v = (Unary() != 0) & (v != 0);
        return v;
    }
    long Unary() {
        // Nesting is bounded: a hostile file cannot run the stack out.
        if (++depth_ > 64) {
            ok_ = false;
            return 0;
        }
        struct Leave {
            int& d;
            ~Leave() { --d; }
        } leave{depth_};
        if (Take("!")) return Unary() == 0;
        if (Take("(")) {
            long v = Or();
            if (!Take(")")) ok_ = false;
            return v;
        }
        Skip();
        if (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) {
            char* end = nullptr;
            long v = std::strtol(s_.c_str() + i_, &end, 0);
            i_ = static_cast<size_t>(end - s_.c_str());
            return v;
        }
        std::string name = Name();
        if (name.empty()) {
            ok_ = false;
            return 0;
        }
        if (name == "defined") {
            bool paren = Take("(");
            std::string what = Name();
            if (what.empty() || (paren && !Take(")"))) ok_ = false;
            return defs_.count(what) ? 1 : 0;
        }
        if (name == "true") return 1;
        if (name == "false") return 0;
        // A defined name counts by its value: empty, "true" or non-zero is true.
        auto it = defs_.find(name);
        if (it == defs_.end()) return 0;
        const std::string& v = it->second;
        if (v.empty() || v == "true") return 1;
        if (v == "false") return 0;
        return std::strtol(v.c_str(), nullptr, 0);
    }

    const std::string& s_;
    const std::map<std::string, std::string>& defs_;
    size_t i_ = 0;
    bool ok_ = true;
    int depth_ = 0;
};

// Replaces defined names that have a value, outside string literals and comments.
std::string Substitute(const std::string& line, const std::map<std::string, std::string>& defs, bool* inComment) {
    std::string out;
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (*inComment) {
            if (line.compare(i, 2, "*/") == 0) {
                out += "*/";
                i += 2;
                *inComment = false;
            } else {
                out += c;
                ++i;
            }
        } else if (line.compare(i, 2, "//") == 0) {
            out += line.substr(i);
            break;
        } else if (line.compare(i, 2, "/*") == 0) {
            out += "/*";
            i += 2;
            *inComment = true;
        } else if (c == '"') {
            size_t end = line.find('"', i + 1);
            end = end == std::string::npos ? line.size() : end + 1;
            out += line.substr(i, end - i);
            i = end;
        } else if (IdentStart(c)) {
            size_t start = i;
            while (i < line.size() && IdentChar(line[i])) ++i;
            std::string word = line.substr(start, i - start);
            auto it = defs.find(word);
            out += it != defs.end() && !it->second.empty() ? it->second : word;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

}  // namespace

bool FX_Preprocess(const std::string& text, const std::vector<EffectMacro>& macros, std::string* out,
                   std::string* error) {
    std::map<std::string, std::string> defs;
    for (const auto& m : macros) defs[m.name] = m.value;
    struct Frame {
        bool parentActive;
        bool active;
        bool taken;  // a branch of this conditional has been taken
        bool sawElse;
    };
    std::vector<Frame> stack;
    auto active = [&] { return stack.empty() || stack.back().active; };
    out->clear();
    bool inComment = false;
    size_t pos = 0;
    int lineNo = 0;
    auto fail = [&](const std::string& what) {
        *error = "line " + std::to_string(lineNo) + ": " + what;
        return false;
    };
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        ++lineNo;
        size_t first = line.find_first_not_of(" \t");
        if (!inComment && first != std::string::npos && line[first] == '#') {
            size_t k = first + 1;
            while (k < line.size() && (line[k] == ' ' || line[k] == '\t')) ++k;
            size_t w = k;
            while (k < line.size() && IdentChar(line[k])) ++k;
            std::string directive = line.substr(w, k - w);
            std::string rest = line.substr(k);
            size_t cut = rest.find("//");
            if (cut != std::string::npos) rest.resize(cut);
            size_t a = rest.find_first_not_of(" \t"), b = rest.find_last_not_of(" \t");
            rest = a == std::string::npos ? "" : rest.substr(a, b - a + 1);
            bool handled = true;
            if (directive == "ifdef" || directive == "ifndef") {
                if (rest.empty() || !IdentStart(rest[0])) return fail("#" + directive + " needs a name");
                bool v = defs.count(rest.substr(0, rest.find_first_of(" \t"))) != 0;
                if (directive == "ifndef") v = !v;
                bool parent = active();
                stack.push_back({parent, parent && v, v, false});
            } else if (directive == "if") {
                bool v = false;
                if (!Condition(rest, defs).Evaluate(&v)) return fail("bad #if expression");
                bool parent = active();
                stack.push_back({parent, parent && v, v, false});
            } else if (directive == "elif") {
                if (stack.empty() || stack.back().sawElse) return fail("#elif without #if");
                bool v = false;
                if (!Condition(rest, defs).Evaluate(&v)) return fail("bad #elif expression");
                Frame& f = stack.back();
                f.active = f.parentActive && !f.taken && v;
                f.taken = f.taken || v;
            } else if (directive == "else") {
                if (stack.empty() || stack.back().sawElse) return fail("#else without #if");
                Frame& f = stack.back();
                f.active = f.parentActive && !f.taken;
                f.taken = true;
                f.sawElse = true;
            } else if (directive == "endif") {
                if (stack.empty()) return fail("#endif without #if");
                stack.pop_back();
            } else if (directive == "define" || directive == "undef") {
                if (active()) {
                    size_t n = 0;
                    while (n < rest.size() && IdentChar(rest[n])) ++n;
                    if (n == 0 || !IdentStart(rest[0])) return fail("#" + directive + " needs a name");
                    std::string name = rest.substr(0, n);
                    if (directive == "undef") {
                        defs.erase(name);
                    } else {
                        std::string value = rest.substr(n);
                        size_t s = value.find_first_not_of(" \t");
                        defs[name] = s == std::string::npos ? "" : value.substr(s);
                    }
                }
            } else if (directive == "include") {
                if (active()) return fail("#include is not supported");
            } else {
                handled = false;
            }
            if (handled) line.clear();
            else if (!active()) line.clear();
        } else if (!active()) {
            line.clear();
        } else {
            line = Substitute(line, defs, &inComment);
        }
        *out += line;
        if (end < text.size()) *out += '\n';
        pos = end + 1;
    }
    if (!stack.empty()) return fail("#if without #endif");
    return true;
}
