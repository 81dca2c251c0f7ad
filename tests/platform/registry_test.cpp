// The registry over text files: keys and subkeys, types and bytes, names in any
// case, size queries, deletion, and names that would leave the settings folder.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/win32/registry.h"
#include "support/deathtest.h"

namespace fs = std::filesystem;

namespace {

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        const char* scratch = getenv("TREVAN_TEST_SCRATCH");
        std::string pattern = std::string(scratch && *scratch ? scratch : "/tmp") + "/registry-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        // A death test's child writes into its parent's folder.
        dir_ = SharedWithDeathTestChild("TREVAN_TEST_REGISTRY_DIR", pattern);
        if (dir_ != pattern) rmdir(pattern.c_str());
        const char* old = getenv("XDG_CONFIG_HOME");
        if (old) old_ = old;
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    }
    void TearDown() override {
        if (old_.empty()) unsetenv("XDG_CONFIG_HOME");
        else setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
        std::error_code ec;
        fs::remove_all(dir_, ec);
        EXPECT_EQ(g_Win32RegistrySeam.openKeys, 0);
    }
    std::string dir_, old_;
};

TEST_F(Registry, ValuesKeepTheirTypeAndBytes) {
    HKEY key = 0;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Veldrim\\Game", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Veldrim\\Game\\Values", 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    const BYTE bytes[5] = {0, 0x22, 0x5C, 0xFF, 0x0A};  // bytes that need escaping
    ASSERT_EQ(RegSetValueExA(key, "Odd \"name\"\\", 0, REG_BINARY, bytes, 5), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "Empty", 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_TRUE(fs::exists(dir_ + "/Veldrim/Game.reg"));

    // The parent key exists too, and names match in any case.
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\VELDRIM\\GAME", 0, KEY_READ, &key), ERROR_SUCCESS);
    HKEY sub = 0;
    ASSERT_EQ(RegOpenKeyExA(key, "values", 0, KEY_READ, &sub), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(sub, "odd \"NAME\"\\", nullptr, &type, nullptr, &size), ERROR_MORE_DATA);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(size, 5u);
    BYTE out[8] = {};
    size = 4;
    EXPECT_EQ(RegQueryValueExA(sub, "Odd \"name\"\\", nullptr, nullptr, out, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 5u);
    size = sizeof out;
    ASSERT_EQ(RegQueryValueExA(sub, "Odd \"name\"\\", nullptr, nullptr, out, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::memcmp(out, bytes, 5), 0);
    size = sizeof out;
    EXPECT_EQ(RegQueryValueExA(sub, "Empty", nullptr, &type, out, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(RegQueryValueExA(sub, "missing", nullptr, nullptr, out, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(sub, "EMPTY"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(sub, "Empty"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(sub);

    // Deleting a subkey keeps the key; deleting the key removes its file.
    EXPECT_EQ(RegDeleteKeyA(key, "Values"), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(key, "Values", 0, KEY_READ, &sub), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Veldrim", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(key, "game"), ERROR_SUCCESS);
    EXPECT_FALSE(fs::exists(dir_ + "/Veldrim/Game.reg"));
    EXPECT_EQ(RegDeleteKeyA(key, "game"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(Registry, BadHandlesAndNames) {
    HKEY key = 0;
    EXPECT_EQ(RegCloseKey(12345), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetValueExA(12345, "x", 0, REG_DWORD, nullptr, 0), ERROR_INVALID_HANDLE);
    EXPECT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Veldrim\\..", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
        ERROR_ACCESS_DENIED);
    EXPECT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Veldrim\\.\\x", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
        ERROR_ACCESS_DENIED);
    // The machine's owner is answered from the account.
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "RegisteredOwner", nullptr, nullptr, nullptr, &size), ERROR_MORE_DATA);
    EXPECT_GT(size, 0u);
    EXPECT_EQ(RegSetValueExA(key, "RegisteredOwner", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
              ERROR_ACCESS_DENIED);
    RegCloseKey(key);
}

TEST_F(Registry, ChangesStayInMemoryUntilTheKeyCloses) {
    const std::string file = dir_ + "/Veldrim/Game.reg";
    auto open = [](HKEY* key) {
        return RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Veldrim\\Game", 0, nullptr, 0, KEY_WRITE, nullptr, key,
                               nullptr);
    };
    auto dword = [](HKEY key, const char* name) {
        DWORD value = 0, size = 4;
        EXPECT_EQ(RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS)
            << name;
        return value;
    };
    HKEY key = 0;
    ASSERT_EQ(open(&key), ERROR_SUCCESS);
    const int writes = g_Win32RegistrySeam.fileWrites, syncs = g_Win32RegistrySeam.syncs;
    for (DWORD v : {1u, 2u, 3u})
        ASSERT_EQ(RegSetValueExA(key, ("V" + std::to_string(v)).c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4),
                  ERROR_SUCCESS);
    EXPECT_EQ(dword(key, "V2"), 2u);  // from memory
    EXPECT_EQ(g_Win32RegistrySeam.fileWrites, writes);
    EXPECT_FALSE(fs::exists(file));
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(g_Win32RegistrySeam.fileWrites, writes + 1);  // all three in one write
    EXPECT_EQ(g_Win32RegistrySeam.syncs, syncs + 2);        // the file before its rename, the folder after

    // A write that fails at the close leaves the file as it was.
    ASSERT_EQ(open(&key), ERROR_SUCCESS);
    const DWORD nine = 9;
    ASSERT_EQ(RegSetValueExA(key, "V1", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&nine), 4), ERROR_SUCCESS);
    g_Win32RegistrySeam.failWrites = 1;
    EXPECT_EQ(RegCloseKey(key), ERROR_CANTWRITE);
    ASSERT_EQ(open(&key), ERROR_SUCCESS);
    EXPECT_EQ(dword(key, "V1"), 1u);
    EXPECT_EQ(dword(key, "V3"), 3u);
    RegCloseKey(key);
}

TEST_F(Registry, KeysStillOpenAtExitAreWritten) {
    EXPECT_EXIT(
        {
            HKEY key = 0;
            RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Veldrim\\Game", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr);
            const DWORD seven = 7;
            RegSetValueExA(key, "Left", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&seven), 4);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    HKEY key = 0;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Veldrim\\Game", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD value = 0, size = 4;
    EXPECT_EQ(RegQueryValueExA(key, "Left", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
    EXPECT_EQ(value, 7u);
    RegCloseKey(key);
}

}  // namespace
