#include "tools/lib/types_writer.h"

#include <filesystem>
#include <fstream>

#include "tools/lib/packed_writer.h"

namespace {

// Where each file puts its counts: a count of records at the top, the count
// of a record's sub-records in front of its field number childCountAt, the
// count of a record's fields after field number fieldCountAt in front of them,
// and a version word before everything.
struct Layout {
    const char* name;
    bool topCount;
    int childCountAt;  // -1: records have no sub-records
    // A record without sub-records gets no count (a version word, a skipped group).
    bool countOnlyWithChildren = false;
    int fieldCountAt = -1;  // -1: no field count
    bool versioned = false;
};

// The space simulation's tables of one main type each: a version, a count, the records.
constexpr Layout Table(const char* name) { return {name, true, -1, false, -1, true}; }

constexpr Layout kLayouts[] = {
    {"CutData", true, -1},
    {"BodyData", true, -1},
    {"LightTypes", true, -1},
    {"Particles3", true, 1},
    {"Skins", true, 2},
    {"IconData", false, 2},
    {"BodyDummies", true, -1},
    {"Lensflares", true, 0},
    {"Materials", true, -1},
    {"Sounds", false, 1, true},
    {"Globals", true, -1},
    {"Videos", true, -1},
    {"VideoLists", true, -1, false, 0},
    {"Dummies", false, 1},
    {"Bodies", false, -1, false, 1},
    {"Components", false, 1},
    {"Matches", false, 2},
    {"WareLists", true, -1, false, 0},
    {"effects", true, 1},
    Table("TBullets"),
    Table("TBackgrounds"),
    Table("TSuns"),
    Table("TPlanets"),
    Table("TDocks"),
    Table("TFactories"),
    Table("TShips"),
    Table("TLaser"),
    Table("TShields"),
    Table("TMissiles"),
    Table("TWareE"),
    Table("TWareN"),
    Table("TWareB"),
    Table("TWareF"),
    Table("TWareM"),
    Table("TWareT"),
    Table("TAsteroids"),
    Table("TGates"),
    Table("TSpecial"),
    Table("TCockpits"),
    Table("TDebris"),
    Table("TDocksWrecks"),
    Table("TFactoriesWrecks"),
    Table("TShipsWrecks"),
};

const Layout* FindLayout(const std::string& name) {
    for (const Layout& l : kLayouts)
        if (name == l.name) return &l;
    return nullptr;
}

bool Fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

// A list in braces: the writer puts its item count, then the items' fields.
const std::string kOpen = "{";
const std::string kClose = "}";
const std::string kNext = ",";
// A quoted field keeps a mark so that a quoted "{" stays a field.
constexpr char kQuoted = '\x01';

// Splits a source line into fields; '{', '}' and ',' outside quotes are
// fields of their own. False on an unclosed quote.
bool SplitFields(const std::string& line, std::vector<std::string>* out) {
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t') {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            size_t end = line.find('"', i + 1);
            if (end == std::string::npos) return false;
            out->push_back(kQuoted + line.substr(i + 1, end - i - 1));
            i = end + 1;
        } else if (c == '{' || c == '}' || c == ',') {
            out->push_back(std::string(1, c));
            ++i;
        } else {
            size_t end = line.find_first_of(" \t#{},\"", i);
            if (end == std::string::npos) end = line.size();
            out->push_back(line.substr(i, end - i));
            i = end;
        }
    }
    return true;
}

std::string Unquoted(const std::string& f) { return !f.empty() && f[0] == kQuoted ? f.substr(1) : f; }

// Writes the fields from *at up to the end or the "}" or "," that ends the
// current item; lists become their item count and the items' fields.
bool ExpandFields(const std::vector<std::string>& in, size_t* at, bool inList, std::vector<std::string>* out,
                  std::string* error) {
    while (*at < in.size()) {
        const std::string& f = in[*at];
        if (f == kClose || f == kNext) {
            if (!inList) return Fail(error, "\"" + f + "\" outside a list");
            return true;
        }
        ++*at;
        if (f != kOpen) {
            out->push_back(Unquoted(f));
            continue;
        }
        std::vector<std::string> items;
        int count = 0;
        if (*at < in.size() && in[*at] == kClose) {
            ++*at;
        } else {
            for (;;) {
                if (!ExpandFields(in, at, true, &items, error)) return false;
                ++count;
                if (*at >= in.size()) return Fail(error, "a list without its \"}\"");
                if (in[(*at)++] == kClose) break;
            }
        }
        out->push_back(std::to_string(count));
        out->insert(out->end(), items.begin(), items.end());
    }
    if (inList) return Fail(error, "a list without its \"}\"");
    return true;
}

// An empty field ("" in the source) is an empty text.
bool FieldFits(const std::string& f) {
    if (f.empty()) return true;
    if (f.front() == ' ' || f.back() == ' ') return false;
    return f.find_first_of(";/\r\n\t") == std::string::npos;
}

bool AppendFields(const std::vector<std::string>& fields, std::string* line, const std::string& file,
                  std::string* error) {
    for (const std::string& f : fields) {
        if (!FieldFits(f)) return Fail(error, file + ": field \"" + f + "\" cannot be written in the text form");
        *line += f;
        *line += ';';
    }
    return true;
}

}  // namespace

bool Tool_ParseTypesSource(const std::string& source, std::vector<ToolTypesFile>* files, std::string* error) {
    files->clear();
    size_t pos = 0;
    int lineNr = 0;
    while (pos <= source.size()) {
        size_t end = source.find('\n', pos);
        if (end == std::string::npos) end = source.size();
        std::string line = source.substr(pos, end - pos);
        pos = end + 1;
        ++lineNr;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string where = "line " + std::to_string(lineNr);
        std::vector<std::string> fields;
        if (!SplitFields(line, &fields)) return Fail(error, where + ": unclosed quote");
        if (fields.empty()) continue;
        const bool indented = line[0] == ' ' || line[0] == '\t';
        if (!indented && fields[0].size() > 1 && fields[0].front() == '[' && fields.back().back() == ']') {
            // "[Name]", or "[Name version]" for the tables that begin with their version.
            std::vector<std::string> head = fields;
            head.front().erase(0, 1);
            head.back().pop_back();
            if (head.back().empty()) head.pop_back();
            const Layout* layout = head.empty() ? nullptr : FindLayout(head[0]);
            if (!layout) return Fail(error, where + ": unknown types file " + (head.empty() ? "" : head[0]));
            if (head.size() != (layout->versioned ? 2u : 1u))
                return Fail(error,
                            where + ": " + head[0] + (layout->versioned ? " needs its version" : " has no version"));
            files->push_back({head[0], {}, layout->versioned ? head[1] : ""});
            continue;
        }
        if (files->empty()) return Fail(error, where + ": record before the first [file]");
        ToolTypesFile& file = files->back();
        if (!indented) {
            if (fields.size() == 1 && fields[0] == "-") fields.clear();
            int copies = 1;
            if (!fields.empty() && fields[0].size() > 1 && fields[0][0] == '*') {
                // "*N fields...": N equal records, so long runs of blank rows
                // (numbered definitions nobody uses) stay one line.
                const std::string n = fields[0].substr(1);
                if (n.find_first_not_of("0123456789") != std::string::npos || n.size() > 5 || std::stoi(n) < 1)
                    return Fail(error, where + ": a repeat count is a number from 1 to 99999");
                if (FindLayout(file.name)->childCountAt >= 0)
                    return Fail(error, where + ": records of " + file.name + " cannot be repeated");
                copies = std::stoi(n);
                fields.erase(fields.begin());
            }
            for (int k = 0; k < copies; ++k) file.records.push_back({fields, {}});
            continue;
        }
        if (FindLayout(file.name)->childCountAt < 0)
            return Fail(error, where + ": " + file.name + " has no sub-records");
        if (file.records.empty()) return Fail(error, where + ": sub-record without a record");
        file.records.back().children.push_back(fields);
    }
    return true;
}

bool Tool_TypesText(const ToolTypesFile& file, std::string* text, std::string* error) {
    const Layout* layout = FindLayout(file.name);
    if (!layout) return Fail(error, "unknown types file " + file.name);
    std::string out;
    if (layout->versioned) out += file.version + ";";
    if (layout->topCount) out += std::to_string(file.records.size()) + ";\n";
    for (const ToolTypesRecord& r : file.records) {
        std::vector<std::string> head;
        size_t at = 0;
        std::string why;
        if (!ExpandFields(r.fields, &at, false, &head, &why)) return Fail(error, file.name + ": " + why);
        if (layout->fieldCountAt >= 0) {
            if (static_cast<size_t>(layout->fieldCountAt) > head.size())
                return Fail(error, file.name + ": a record has too few fields");
            head.insert(head.begin() + layout->fieldCountAt, std::to_string(head.size() - layout->fieldCountAt));
        }
        if (layout->childCountAt >= 0 && !(layout->countOnlyWithChildren && r.children.empty())) {
            if (static_cast<size_t>(layout->childCountAt) > head.size())
                return Fail(error, file.name + ": a record has too few fields");
            head.insert(head.begin() + layout->childCountAt, std::to_string(r.children.size()));
        } else if (!r.children.empty()) {
            return Fail(error, file.name + " has no sub-records");
        }
        std::string line;
        if (!AppendFields(head, &line, file.name, error)) return false;
        out += line + "\n";
        for (const std::vector<std::string>& c : r.children) {
            line.clear();
            std::vector<std::string> fields;
            at = 0;
            if (!ExpandFields(c, &at, false, &fields, &why)) return Fail(error, file.name + ": " + why);
            if (!AppendFields(fields, &line, file.name, error)) return false;
            out += line + "\n";
        }
    }
    *text = out;
    return true;
}

bool Tool_WriteTypesFiles(const std::string& source, const std::string& folder, int packedKey, std::string* error) {
    std::vector<ToolTypesFile> files;
    if (!Tool_ParseTypesSource(source, &files, error)) return false;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    for (const ToolTypesFile& f : files) {
        std::string text;
        if (!Tool_TypesText(f, &text, error)) return false;
        const std::string base = folder + "/" + f.name;
        std::ofstream out(base + ".txt", std::ios::binary);
        out << text;
        if (!out) return Fail(error, "cannot write " + base + ".txt");
        if (packedKey >= 0 && packedKey <= 255 &&
            !Tool_WritePackedFile(base + ".pck", std::vector<uint8_t>(text.begin(), text.end()),
                                  static_cast<uint8_t>(packedKey), error))
            return false;
    }
    return true;
}
