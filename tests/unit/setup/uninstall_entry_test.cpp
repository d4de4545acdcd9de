// The uninstall entry in the system's list of programs.
#include "Installer/setup.h"
#include "tests/unit/support/test_support.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace zrtest;

namespace {
const char kKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QPX Zeta Rune";
}

class UninstallEntry : public ::testing::TestWithParam<std::string> {};

TEST_P(UninstallEntry, HoldsExactlyTheNameAndTheWholeCommand) {
    TempRoot machine;
    const std::string& folder = GetParam();
    strcpy(installPath, folder.c_str());
    AddUninstallEntry();
    auto values = RegistryValues(true, kKey);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values["DisplayName"],
              std::make_pair(unsigned(REG_SZ), std::string("Zeta Rune\0", 10)));
    std::string command = folder + "\\upd.exe uninstall " + folder;
    EXPECT_EQ(values["UninstallString"].first, unsigned(REG_SZ));
    EXPECT_EQ(values["UninstallString"].second, command + '\0');
    EXPECT_EQ(values["UninstallString"].second.size(), 2 * folder.size() + 20);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, UninstallEntry,
    ::testing::Values(std::string("C:\\Games\\ZR"), std::string("C:\\Program Files\\Zeta Rune"),
                      // 120 characters: 259 and its NUL, 260 bytes
                      "C:\\" + std::string(117, 'a'),
                      // beyond what 260 bytes hold: stored whole
                      "C:\\" + std::string(118, 'b'), "C:\\" + std::string(256, 'c')),
    [](const auto& info) { return "Length" + std::to_string(info.param.size()); });

TEST(UninstallEntryRewrite, ASecondRunOverwritesBothValuesAndKeepsOthers) {
    TempRoot machine;
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(k, "Publisher", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
    RegCloseKey(k);
    strcpy(installPath, "C:\\Old");
    AddUninstallEntry();
    strcpy(installPath, "C:\\New");
    AddUninstallEntry();
    auto values = RegistryValues(true, kKey);
    EXPECT_EQ(values.size(), 3u);
    EXPECT_EQ(values["UninstallString"].second,
              std::string("C:\\New\\upd.exe uninstall C:\\New") + '\0');
    EXPECT_EQ(values["Publisher"].second, std::string("x\0", 2));
}
