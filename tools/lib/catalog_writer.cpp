#include "tools/lib/catalog_writer.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/catalog.h"

namespace fs = std::filesystem;

std::string Tool_CatalogIndexText(const std::vector<ToolCatalogMember>& members, const std::string& header) {
    std::string text = header + "\r\n";
    for (const ToolCatalogMember& m : members) text += m.name + " " + std::to_string(m.data.size()) + "\r\n";
    return text;
}

void Tool_ScrambleIndex(std::vector<uint8_t>& bytes) { Qel_ScrambleCatalogIndex(bytes.data(), bytes.size()); }

void Tool_ScrambleMember(std::vector<uint8_t>& bytes) {
    for (uint8_t& b : bytes) b ^= QEL_CATALOG_MEMBER_KEY;
}

static bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    return true;
}

bool Tool_WriteCatalogIndex(const std::string& catPath, const std::string& text, std::string* error) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    Tool_ScrambleIndex(bytes);
    return WriteBytes(catPath, bytes, error);
}

bool Tool_WriteCatalog(const std::string& catPath, const std::vector<ToolCatalogMember>& members, std::string* error) {
    if (catPath.size() < 4 || catPath[catPath.size() - 4] != '.') {
        if (error) *error = "catalog name needs a three-letter extension: " + catPath;
        return false;
    }
    std::string datPath = catPath;
    datPath[datPath.size() - 3] = 'd';
    std::ofstream dat(datPath, std::ios::binary | std::ios::trunc);
    for (const ToolCatalogMember& m : members) {
        std::vector<uint8_t> bytes = m.data;
        Tool_ScrambleMember(bytes);
        dat.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    dat.close();
    if (!dat) {
        if (error) *error = "cannot write " + datPath;
        return false;
    }
    std::string header = fs::path(datPath).filename().string();
    return Tool_WriteCatalogIndex(catPath, Tool_CatalogIndexText(members, header), error);
}

bool Tool_CollectFolder(const std::string& folder, std::vector<ToolCatalogMember>* members, std::string* error) {
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, ec), end;
    if (ec) {
        if (error) *error = "cannot read folder " + folder;
        return false;
    }
    std::vector<fs::path> files;
    for (; it != end; it.increment(ec)) {
        if (ec) break;
        if (it->is_regular_file()) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& p : files) {
        std::ifstream in(p, std::ios::binary);
        ToolCatalogMember m;
        m.name = fs::relative(p, folder).generic_string();
        std::replace(m.name.begin(), m.name.end(), '/', '\\');
        m.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in && !in.eof()) {
            if (error) *error = "cannot read " + p.string();
            return false;
        }
        members->push_back(std::move(m));
    }
    return true;
}
