// Temporary game folders for tests: a fresh folder under TREVAN_TEST_SCRATCH
// that becomes the working directory for the test's lifetime, with helpers to
// fill it with plain files, catalogs and packed files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/general.h"
#include "tools/lib/catalog_writer.h"

class TempGameFolder {
public:
    TempGameFolder();   // creates the folder and changes into it
    ~TempGameFolder();  // changes back and removes the folder
    TempGameFolder(const TempGameFolder&) = delete;
    TempGameFolder& operator=(const TempGameFolder&) = delete;

    const std::string& Path() const { return path_; }
    // Called as each test starts: a death test's child finds its parent's
    // folders by their order within the test.
    static void NewTest();

    // Writes a file (parent folders made as needed), relative to the folder.
    void Write(const std::string& name, const std::string& text) const;
    void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) const;
    std::vector<uint8_t> Read(const std::string& name) const;
    bool Exists(const std::string& name) const;
    // "NN.cat" with "NN.dat" from members.
    void WriteCatalog(const std::string& catName, const std::vector<ToolCatalogMember>& members) const;
    // A packed file (gzip, scrambled with key).
    void WritePacked(const std::string& name, const std::vector<uint8_t>& data, uint8_t key) const;

private:
    std::string path_;
    std::string oldCwd_;
};

// The descriptor of a test application: catalogs "%02d.cat", secondary
// catalogs "%c%02d.cat", mods "mods\%s.cat", capture folder "screenshots".
const AppDescriptor* TestAppDescriptor();

// InitGeneral with the given arguments (after a program name); the vector
// stays valid for the SystemState's lifetime.
class GeneralSession {
public:
    explicit GeneralSession(std::vector<std::string> args = {}, const AppDescriptor* app = TestAppDescriptor());
    ~GeneralSession();  // ExitGeneral(0)
    SystemState* State() const { return state_; }

private:
    std::vector<std::string> args_;
    std::vector<char*> argv_;
    SystemState* state_ = nullptr;
};

// Members from {name, text} pairs.
std::vector<ToolCatalogMember> Members(const std::vector<std::pair<std::string, std::string>>& items);
std::vector<uint8_t> Bytes(const std::string& text);
