#include "support/gamefolder.h"

#include "program/startup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/deathtest.h"
#include "tools/lib/packed_writer.h"

namespace fs = std::filesystem;

static std::string ScratchRoot() {
    const char* s = getenv("TREVAN_TEST_SCRATCH");
    return (s && s[0]) ? s : fs::temp_directory_path().string();
}

static int g_foldersThisTest = 0;

void TempGameFolder::NewTest() { g_foldersThisTest = 0; }

TempGameFolder::TempGameFolder() {
    static std::atomic<int> counter{0};
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string test = info ? std::string(info->test_suite_name()) + "." + info->name() : "game";
    for (char& c : test)
        if (!isalnum(static_cast<unsigned char>(c)) && c != '.') c = '_';
    fs::path p =
        fs::path(ScratchRoot()) / "games" / (test + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    // A death test's child makes the same folders in the same order as its
    // parent did, and takes the parent's, so that what it writes is read there.
    std::string shared =
        SharedWithDeathTestChild("TREVAN_TEST_FOLDER_" + std::to_string(g_foldersThisTest++), p.string());
    if (shared != p.string()) {
        p = shared;
    } else {
        fs::remove_all(p);
    }
    fs::create_directories(p);
    path_ = p.string();
    oldCwd_ = fs::current_path().string();
    fs::current_path(p);
}

TempGameFolder::~TempGameFolder() {
    std::error_code ec;
    fs::current_path(oldCwd_, ec);
    fs::remove_all(path_, ec);
}

void TempGameFolder::Write(const std::string& name, const std::string& text) const {
    WriteBytes(name, std::vector<uint8_t>(text.begin(), text.end()));
}

void TempGameFolder::WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) const {
    fs::path p = fs::path(path_) / name;
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << p;
}

std::vector<uint8_t> TempGameFolder::Read(const std::string& name) const {
    std::ifstream in(fs::path(path_) / name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool TempGameFolder::Exists(const std::string& name) const { return fs::exists(fs::path(path_) / name); }

void TempGameFolder::WriteCatalog(const std::string& catName, const std::vector<ToolCatalogMember>& members) const {
    std::string error;
    fs::path p = fs::path(path_) / catName;
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    ASSERT_TRUE(Tool_WriteCatalog(p.string(), members, &error)) << error;
}

void TempGameFolder::WritePacked(const std::string& name, const std::vector<uint8_t>& data, uint8_t key) const {
    WriteBytes(name, Tool_Pack(data, key));
}

const AppDescriptor* TestAppDescriptor() {
    // The program's own names and templates, under a name of its own so tests keep their settings apart.
    static const AppDescriptor app = [] {
        AppDescriptor a = *P_AppDescriptor();
        a.appName = "TrevanTest";
        a.saveTemplate = "save\\Qel%02d.sav";
        return a;
    }();
    return &app;
}

GeneralSession::GeneralSession(std::vector<std::string> args, const AppDescriptor* app) {
    args_.push_back("trevan");
    for (std::string& a : args) args_.push_back(std::move(a));
    for (std::string& a : args_) argv_.push_back(a.data());
    argv_.push_back(nullptr);
    state_ = InitGeneral(int(args_.size()), app, argv_.data());
}

GeneralSession::~GeneralSession() { ExitGeneral(0); }

std::vector<ToolCatalogMember> Members(const std::vector<std::pair<std::string, std::string>>& items) {
    std::vector<ToolCatalogMember> out;
    for (const auto& [name, text] : items) out.push_back({name, Bytes(text)});
    return out;
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }
