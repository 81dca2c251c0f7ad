// Writes catalog archives the engine reads: an index "NN.cat" (a header line,
// then "name size" per member, scrambled) and the data file "NN.dat" (the
// members back to back, each byte scrambled).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ToolCatalogMember {
    std::string name;  // as it appears in the index ('\' or '/' separators)
    std::vector<uint8_t> data;
};

// The index text before scrambling; the first line is the header.
std::string Tool_CatalogIndexText(const std::vector<ToolCatalogMember>& members, const std::string& header);
// Scrambles (or descrambles) an index and member bytes in place.
void Tool_ScrambleIndex(std::vector<uint8_t>& bytes);
void Tool_ScrambleMember(std::vector<uint8_t>& bytes);
// Writes <catPath> and the data file beside it ("xx.cat" -> "xx.dat"). False
// with a message in *error when a file cannot be written.
bool Tool_WriteCatalog(const std::string& catPath, const std::vector<ToolCatalogMember>& members, std::string* error);
// Writes an index from raw text (for index files built by hand).
bool Tool_WriteCatalogIndex(const std::string& catPath, const std::string& text, std::string* error);
// Every regular file under a folder, named by its path relative to the folder
// with '\' separators, in name order.
bool Tool_CollectFolder(const std::string& folder, std::vector<ToolCatalogMember>* members, std::string* error);
