// The shortcuts and "setup.dat", made in a fresh stand-in machine.
#include "Installer/setup.h"
#include "tests/unit/support/test_support.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace zrtest;

namespace {

const char kUser[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kCommon[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const std::string kDesktopLink = "C:\\users\\player\\Desktop\\Zeta Rune.lnk";
const std::string kUserLink = "C:\\users\\player\\Start Menu\\Programs\\Zeta Rune.lnk";
const std::string kCommonLink =
    "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Zeta Rune.lnk";

void SetValue(HKEY root, const char* key, const char* name, const std::string& text) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(k);
}

void DeleteValue(HKEY root, const char* key, const char* name) {
    HKEY k;
    ASSERT_EQ(RegOpenKeyExA(root, key, 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
    RegDeleteValueA(k, name);
    RegCloseKey(k);
}

struct Install {
    TempRoot machine;
    std::string folder;
    explicit Install(const std::string& dos = "C:\\Games\\ZR") : folder(dos) {
        MakeDirs(machine.Host(dos));
        EXPECT_TRUE(SetCurrentDirectoryA(dos.c_str()));
        strcpy(installPath, dos.c_str());
    }
    std::string list() { return ReadHostFile(machine.Host(folder) + "/setup.dat"); }
    std::string link(const std::string& dos) { return ReadHostFile(machine.Host(dos)); }
    std::string expectedLink() {
        return "target=" + folder + "\\upd.exe\nworkdir=" + folder + "\ndescription=Zeta Rune\n";
    }
};

std::string Entry(const std::string& path) {
    return path + '\0';
}

} // namespace

TEST(Shortcuts, GoToTheDesktopAndTheAllUsersProgramsFolder) {
    Install in;
    MakeShortcuts();
    EXPECT_EQ(in.list(), Entry(kDesktopLink) + Entry(kCommonLink));
    EXPECT_EQ(in.link(kDesktopLink), in.expectedLink());
    EXPECT_EQ(in.link(kCommonLink), in.expectedLink());
    EXPECT_FALSE(Exists(in.machine.Host(kUserLink)));
}

TEST(Shortcuts, FallBackToTheUserProgramsFolderWithoutCommonPrograms) {
    Install in;
    DeleteValue(HKEY_LOCAL_MACHINE, kCommon, "Common Programs");
    MakeShortcuts();
    EXPECT_EQ(in.list(), Entry(kDesktopLink) + Entry(kUserLink));
    EXPECT_EQ(in.link(kUserLink), in.expectedLink());
}

TEST(Shortcuts, UnreadableFoldersLeaveEmptyEntriesAndNoShortcut) {
    Install in;
    DeleteValue(HKEY_CURRENT_USER, kUser, "Desktop");
    DeleteValue(HKEY_CURRENT_USER, kUser, "Programs");
    DeleteValue(HKEY_LOCAL_MACHINE, kCommon, "Common Programs");
    auto before = Snapshot(in.machine.root() + "/drive_c/users");
    MakeShortcuts();
    // Still two entries, desktop first; neither names a file to delete later.
    EXPECT_EQ(in.list(), std::string("\0\0", 2));
    EXPECT_EQ(Snapshot(in.machine.root() + "/drive_c/users"), before);
    EXPECT_FALSE(Exists(in.machine.Host("C:\\Zeta Rune.lnk")));
}

TEST(Shortcuts, AFolderTooLongForItsShortcutPathIsNeverListedCut) {
    Install in;
    std::string longFolder = "C:\\users\\player\\" + std::string(240, 'd'); // 256 characters
    MakeDirs(in.machine.Host(longFolder));
    SetValue(HKEY_CURRENT_USER, kUser, "Desktop", longFolder);
    MakeShortcuts();
    EXPECT_EQ(in.list(), std::string(1, '\0') + Entry(kCommonLink));
    EXPECT_EQ(Snapshot(in.machine.Host(longFolder)).size(), 0u);
}

TEST(Shortcuts, AShortcutThatCannotBeSavedIsStillListed) {
    Install in;
    SetValue(HKEY_CURRENT_USER, kUser, "Desktop", "C:\\nowhere\\Desktop");
    MakeShortcuts();
    std::string list = in.list();
    EXPECT_EQ(list, Entry("C:\\nowhere\\Desktop\\Zeta Rune.lnk") + Entry(kCommonLink));
    EXPECT_EQ(list.size(), strlen("C:\\nowhere\\Desktop\\Zeta Rune.lnk") + kCommonLink.size() + 2);
    EXPECT_EQ(in.link(kCommonLink), in.expectedLink());
}

TEST(Shortcuts, ASecondRunReplacesShortcutsAndList) {
    Install in;
    WriteHostFile(in.machine.Host("C:\\Games\\ZR\\setup.dat"), std::string(2000, 'x'));
    WriteHostFile(in.machine.Host(kDesktopLink), std::string(3000, 'y'));
    MakeShortcuts();
    MakeShortcuts();
    EXPECT_EQ(in.list(), Entry(kDesktopLink) + Entry(kCommonLink));
    EXPECT_EQ(in.link(kDesktopLink), in.expectedLink());
}
