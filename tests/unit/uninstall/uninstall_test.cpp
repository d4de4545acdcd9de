// The updater's uninstall mode: what it removes, what it leaves, and how it
// finds the folder in its argument text.
#include "tests/unit/support/test_support.h"
#include "upd/uninstall/uninstall.h"

#include "compat/compat.h"
#include "compat/platform.h"

#include <gtest/gtest.h>

using namespace zrtest;

namespace {

const char kParent[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QPX Zeta Rune";
const std::string kDesktopLink = "C:\\users\\player\\Desktop\\Zeta Rune.lnk";
const std::string kProgramsLink =
    "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Zeta Rune.lnk";

bool KeyExists() {
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(k);
    return true;
}

// A machine as the setup program leaves it, installed into `folder`.
struct Installed {
    TempRoot machine;
    TempDir logs;
    std::string folder;
    explicit Installed(const std::string& dos = "C:\\Games\\ZR") : folder(dos) {
        MakeDirs(machine.Host(dos));
        for (const char* f : {"upd.exe", "unrar.dll", "ver.dat", "ZetaRune.exe"}) {
            WriteHostFile(machine.Host(dos + "\\" + f), "x");
        }
        WriteList(kDesktopLink + '\0' + kProgramsLink + '\0');
        WriteHostFile(machine.Host(kDesktopLink), "link");
        WriteHostFile(machine.Host(kProgramsLink), "link");
        HKEY k;
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                        nullptr);
        RegSetValueExA(k, "DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>("Zeta Rune"), 10);
        RegCloseKey(k);
    }
    void WriteList(const std::string& bytes) {
        WriteHostFile(machine.Host(folder + "\\setup.dat"), bytes);
    }
    bool Has(const std::string& dos) { return Exists(machine.Host(dos)); }
    RunResult Start(const std::string& commandLine) {
        // The exact command line, as the system hands it to the program.
        return RunOffline(BinPath("upd.exe"), {}, "",
                          {"ZR_COMMAND_LINE=" + commandLine, "ZR_EXEC_LOG=" + logs.path() + "/x"});
    }
    bool GameStarted() { return Exists(logs.path() + "/x"); }
};

} // namespace

TEST(UninstallMode, RemovesBothShortcutsAndTheKeyAndLeavesTheInstallation) {
    Installed in;
    RunResult r = in.Start("upd.exe uninstall C:\\Games\\ZR");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_FALSE(in.Has(kDesktopLink));
    EXPECT_FALSE(in.Has(kProgramsLink));
    EXPECT_FALSE(KeyExists());
    for (const char* f : {"setup.dat", "upd.exe", "unrar.dll", "ver.dat", "ZetaRune.exe"}) {
        EXPECT_TRUE(in.Has(in.folder + "\\" + f)) << f;
    }
    // No window, no message, no game.
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(in.GameStarted());
    // A second run finds nothing more to do and still ends quietly.
    RunResult again = in.Start("upd.exe uninstall C:\\Games\\ZR");
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.err, "");
    EXPECT_TRUE(in.Has(in.folder + "\\setup.dat"));
}

TEST(UninstallMode, FindsTheFolderInTheUnquotedCommandWithBlanks) {
    Installed in("C:\\Program Files\\Zeta Rune");
    in.Start("C:\\Program Files\\Zeta Rune\\upd.exe uninstall C:\\Program Files\\Zeta Rune");
    EXPECT_FALSE(in.Has(kDesktopLink));
    EXPECT_FALSE(KeyExists());
    EXPECT_TRUE(in.Has(in.folder + "\\setup.dat"));
}

TEST(UninstallMode, ArgumentTextsAsTheStartUpCodeCutsThem) {
    const char* folder = nullptr;
    const char* text = compat::ArgumentText(
        "C:\\Program Files\\Zeta Rune\\upd.exe uninstall C:\\Program Files\\Zeta Rune");
    EXPECT_STREQ(text, "Files\\Zeta Rune\\upd.exe uninstall C:\\Program Files\\Zeta Rune");
    ASSERT_TRUE(IsUninstallCommand(text, &folder));
    EXPECT_STREQ(folder, "C:\\Program Files\\Zeta Rune");
    EXPECT_STREQ(compat::ArgumentText("\"C:\\a b\\upd.exe\"  \t uninstall X"), "uninstall X");
    struct Case {
        const char* text;
        bool uninstall;
        const char* folder;
    } cases[] = {
        {"uninstall C:\\Games\\ZR", true, "C:\\Games\\ZR"},
        {"uninstall  C:\\x ", true, " C:\\x "}, // nothing is trimmed
        {"xuninstallyC:\\x", true, "C:\\x"},    // inside a longer word, too
        {"uninstall", true, ""},
        {"uninstall \"C:\\x\"", true, "\"C:\\x\""},
        {"Uninstall C:\\Games\\ZR", false, nullptr},
        {"UNINSTALL C:\\Games\\ZR", false, nullptr},
        {"", false, nullptr},
    };
    for (const Case& c : cases) {
        folder = nullptr;
        EXPECT_EQ(IsUninstallCommand(c.text, &folder), c.uninstall) << c.text;
        if (c.uninstall) {
            EXPECT_STREQ(folder, c.folder) << c.text;
        }
    }
}

TEST(UninstallMode, CapitalisedWordRunsTheUpdateInstead) {
    for (const char* word : {"Uninstall", "UNINSTALL"}) {
        Installed in;
        RunResult r = in.Start(std::string("upd.exe ") + word + " C:\\Games\\ZR");
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_NE(r.err.find("Updating Game Software"), std::string::npos) << r.err;
        EXPECT_TRUE(in.Has(kDesktopLink));
        EXPECT_TRUE(KeyExists());
    }
}

TEST(UninstallMode, AFolderThatDoesNotExistRemovesNothing) {
    Installed in;
    RunResult r = in.Start("upd.exe uninstall C:\\Games\\Elsewhere");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(in.Has(kDesktopLink));
    EXPECT_TRUE(in.Has(kProgramsLink));
    EXPECT_TRUE(KeyExists());
}

TEST(UninstallMode, WithoutTheListOnlyTheKeyGoes) {
    Installed in;
    DeleteFileA((in.folder + "\\setup.dat").c_str());
    in.Start("upd.exe uninstall C:\\Games\\ZR");
    EXPECT_TRUE(in.Has(kDesktopLink));
    EXPECT_TRUE(in.Has(kProgramsLink));
    EXPECT_FALSE(KeyExists());
}

// Lists that the setup program never writes: nothing is read past the file's
// end or written past the buffer, and a cut entry deletes nothing.
TEST(UninstallList, DamagedEntriesDeleteNothing) {
    const std::string other = "C:\\users\\player\\Desktop\\notes.txt";
    struct Case {
        const char* what;
        std::string list;
        bool desktopGone, programsGone, otherGone;
    } cases[] = {
        {"ends inside entry 2", kDesktopLink + '\0' + kProgramsLink, true, false, false},
        {"ends inside entry 1", kDesktopLink.substr(0, 20), false, false, false},
        {"empty file", "", false, false, false},
        {"entry 1 beyond the buffer",
         "C:\\" + std::string(300, 'a') + "\\Zeta Rune.lnk" + '\0' + kProgramsLink + '\0', false,
         true, false},
        {"entry 1 cut by the buffer would name the shortcut",
         std::string(260 - kDesktopLink.size(), '\\') + kDesktopLink + "x" + '\0' + kProgramsLink +
             '\0',
         false, true, false},
        {"names another file", other + '\0' + kProgramsLink + '\0', false, true, false},
        {"empty entries", std::string("\0\0", 2), false, false, false},
    };
    for (const Case& c : cases) {
        Installed in;
        WriteHostFile(in.machine.Host(other), "keep");
        in.WriteList(c.list);
        ASSERT_TRUE(SetCurrentDirectoryA(in.folder.c_str()));
        RunUninstall();
        EXPECT_EQ(!in.Has(kDesktopLink), c.desktopGone) << c.what;
        EXPECT_EQ(!in.Has(kProgramsLink), c.programsGone) << c.what;
        EXPECT_EQ(!in.Has(other), c.otherGone) << c.what;
        EXPECT_FALSE(KeyExists()) << c.what;
    }
}
