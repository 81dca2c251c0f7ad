// Writes the types files in the text form their loaders read, from one
// readable source: the scene engine's ("CutData", "BodyData", "LightTypes",
// "Particles3", "Skins", "IconData", "BodyDummies", "Lensflares",
// "Materials", "Sounds") and the space simulation's ("Globals", "Videos",
// "VideoLists", "Dummies", "Bodies", "Components", "Matches", "WareLists" and
// the 24 tables of one main type each, "TBullets" to "TShipsWrecks"), and the
// cockpit's "effects".
//
// The source: "[Name]" starts a file, "[Name version]" one of the main-type
// tables; every other line is a record of fields separated by blanks
// ("quoted" fields may hold blanks inside; "" is an empty field); lines
// indented under a record are its sub-records (a description's emitters, a
// skin's texture pairs, an icon sheet's icons, a lens flare's elements, the
// dummies, components and matches of a kind, an effect's parts); a record without fields of its
// own (a lens flare) is the line "-"; a record whose first field is "*N"
// stands for N equal records (files without sub-records only). A list inside a record is written in
// braces, its items separated by commas ({a b, c d}); the writer puts the
// number of items in front of their fields. '#' starts a comment. Counts are
// written by the writer, never in the source.
//
// The text form ends every field with ';'. A string field begins right after
// the ';' or the line end before it, because the reader keeps blanks in front
// of a string as part of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ToolTypesRecord {
    std::vector<std::string> fields;
    std::vector<std::vector<std::string>> children;
};

struct ToolTypesFile {
    std::string name;
    std::vector<ToolTypesRecord> records;
    std::string version;  // of the main-type tables
};

// false with a message naming the source line.
bool Tool_ParseTypesSource(const std::string& source, std::vector<ToolTypesFile>* files, std::string* error);
// The text form of one file; false for an unknown file name or a field that
// the text form cannot hold (';', '/', a line end, blanks at either end).
bool Tool_TypesText(const ToolTypesFile& file, std::string* text, std::string* error);
// Writes "<folder>/<Name>.txt" for every file of the source and, with a key
// of 0 to 255, "<folder>/<Name>.pck" (the packed form) too.
bool Tool_WriteTypesFiles(const std::string& source, const std::string& folder, int packedKey, std::string* error);
