#include "tools/lib/types_writer.h"

#include <filesystem>
#include <fstream>

#include "tools/lib/packed_writer.h"

namespace {

// Where each file puts its counts: a count of records at the top, and the
// count of a record's sub-records in front of its field number childCountAt.
struct Layout {
    const char* name;
    bool topCount;
    int childCountAt;  // -1: records have no sub-records
    // A record without sub-records gets no count (a version word, a skipped group).
    bool countOnlyWithChildren = false;
};

constexpr Layout kLayouts[] = {
    {"CutData", true, -1},   {"BodyData", true, -1},     {"LightTypes", true, -1},  {"Particles3", true, 1},
    {"Skins", true, 2},      {"IconData", false, 2},     {"BodyDummies", true, -1}, {"Lensflares", true, 0},
    {"Materials", true, -1}, {"Sounds", false, 1, true},
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

// Splits a source line into fields; false on an unclosed quote.
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
            out->push_back(line.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            size_t end = line.find_first_of(" \t#", i);
            if (end == std::string::npos) end = line.size();
            out->push_back(line.substr(i, end - i));
            i = end;
        }
    }
    return true;
}

bool FieldFits(const std::string& f) {
    if (f.empty()) return false;
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
        if (!indented && fields.size() == 1 && fields[0].size() > 2 && fields[0].front() == '[' &&
            fields[0].back() == ']') {
            std::string name = fields[0].substr(1, fields[0].size() - 2);
            if (!FindLayout(name)) return Fail(error, where + ": unknown types file " + name);
            files->push_back({name, {}});
            continue;
        }
        if (files->empty()) return Fail(error, where + ": record before the first [file]");
        ToolTypesFile& file = files->back();
        if (!indented) {
            if (fields.size() == 1 && fields[0] == "-") fields.clear();
            file.records.push_back({fields, {}});
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
    if (layout->topCount) out += std::to_string(file.records.size()) + ";\n";
    for (const ToolTypesRecord& r : file.records) {
        std::vector<std::string> head = r.fields;
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
            if (!AppendFields(c, &line, file.name, error)) return false;
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
