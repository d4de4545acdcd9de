// The setup program run as a whole, driven through its dialog on the terminal.
#include "tests/unit/support/test_support.h"

#include <gtest/gtest.h>

using namespace zrtest;

namespace {

const char kError[] = "MessageBox [Error] Couldn't create directory!";
const char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QPX Zeta Rune";

struct SetupRun {
    TempRoot machine;
    TempDir logs;
    std::string log() const { return logs.path() + "/exec.log"; }
    RunResult run(const std::string& input) {
        return Run(BinPath("ZetaRuneSetup.exe"), {}, input, {"ZR_EXEC_LOG=" + log()});
    }
    std::string uninstallString() {
        return RegistryValues(true, kUninstallKey)["UninstallString"].second;
    }
};

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

} // namespace

TEST(SetupFlow, EnterAtOnceInstallsIntoTheProposedFolderAndStartsTheUpdaterOnce) {
    SetupRun s;
    RunResult r = s.run("\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.err.find("[C:\\Program Files\\Zeta Rune]"), std::string::npos) << r.err;
    std::string folder = s.machine.Host("C:\\Program Files\\Zeta Rune");
    EXPECT_EQ(ReadHostFile(folder + "/upd.exe"), ReadHostFile(BinPath("upd.exe")));
    EXPECT_EQ(ReadHostFile(folder + "/unrar.dll"), ReadHostFile(BinPath("unrar.dll")));
    EXPECT_TRUE(Exists(folder + "/setup.dat"));
    EXPECT_EQ(s.uninstallString(), std::string("C:\\Program Files\\Zeta Rune\\upd.exe uninstall "
                                               "C:\\Program Files\\Zeta Rune\0",
                                               72));
    EXPECT_EQ(ReadHostFile(s.log()), folder + "\t\"upd.exe\"\n");
}

// What the player types, and the folder and uninstall command that result.
struct FolderCase {
    const char* typed;
    const char* makeFirst; // a parent folder that exists beforehand
    const char* installedAt;
    const char* command;
};

class ConfirmedFolder : public ::testing::TestWithParam<FolderCase> {};

TEST_P(ConfirmedFolder, IsUsedAsTyped) {
    const FolderCase& c = GetParam();
    SetupRun s;
    MakeDirs(s.machine.Host(c.makeFirst));
    RunResult r = s.run(std::string(c.typed) + "\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err.find(kError), std::string::npos) << r.err;
    EXPECT_TRUE(Exists(s.machine.Host(c.installedAt) + "/upd.exe"));
    EXPECT_EQ(s.uninstallString(), std::string(c.command) + '\0');
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfirmedFolder,
    ::testing::Values(FolderCase{"C:\\Games\\ZR", "C:\\Games", "C:\\Games\\ZR",
                                 "C:\\Games\\ZR\\upd.exe uninstall C:\\Games\\ZR"},
                      // One trailing backslash goes; of two, only the last.
                      FolderCase{"C:\\Games\\ZR\\", "C:\\Games", "C:\\Games\\ZR",
                                 "C:\\Games\\ZR\\upd.exe uninstall C:\\Games\\ZR"},
                      FolderCase{"C:\\Games\\ZR\\\\", "C:\\Games", "C:\\Games\\ZR",
                                 "C:\\Games\\ZR\\\\upd.exe uninstall C:\\Games\\ZR\\"},
                      FolderCase{"C:\\", "C:\\", "C:\\", "C:\\upd.exe uninstall C:"},
                      // An existing folder is accepted as it is.
                      FolderCase{"C:\\Program Files", "C:\\Program Files", "C:\\Program Files",
                                 "C:\\Program Files\\upd.exe uninstall C:\\Program Files"}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST(SetupFlow, AFolderThatCannotBeMadeShowsTheErrorAndTheDialogStaysOpen) {
    SetupRun s;
    // Missing parent, then an empty field, then a usable folder.
    RunResult r = s.run("C:\\New\\Deeper\n\b\nC:\\Games\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(Count(r.err, kError), 2) << r.err;
    EXPECT_FALSE(Exists(s.machine.Host("C:\\New")));
    EXPECT_TRUE(Exists(s.machine.Host("C:\\Games\\upd.exe")));
    EXPECT_EQ(s.uninstallString(), std::string("C:\\Games\\upd.exe uninstall C:\\Games") + '\0');
    EXPECT_EQ(Count(ReadHostFile(s.log()), "\"upd.exe\""), 1);
}

TEST(SetupFlow, CancelOrEndOfInputAtOnceChangesNothingAndStartsNothing) {
    for (const char* input : {"\x1b\n", ""}) {
        SetupRun s;
        auto before = Snapshot(s.machine.root());
        RunResult r = s.run(input);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(Snapshot(s.machine.root()), before);
        EXPECT_FALSE(Exists(s.log()));
    }
}

TEST(SetupFlow, CancelAfterAFailedAttemptInstallsNothing) {
    SetupRun s;
    MakeDirs(s.machine.Host("C:\\Games"));
    // A folder whose parents are missing is refused; then Cancel.
    RunResult r = s.run("C:\\Games\\A\\B\\C\n\x1b\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(Count(r.err, kError), 1);
    EXPECT_FALSE(Exists(s.machine.Host("C:\\Games\\A")));
    EXPECT_TRUE(RegistryValues(true, kUninstallKey).empty());
    EXPECT_FALSE(Exists(s.log()));
}

TEST(SetupFlow, TextBeyond259CharactersIsCutAndTheLongFolderIsStillRecordedWhole) {
    SetupRun s;
    std::string base = "C:\\Games\\";
    std::string folder = base + std::string(259 - base.size(), 'f');
    MakeDirs(s.machine.Host("C:\\Games"));
    RunResult r = s.run(folder + "EXTRA\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(Exists(s.machine.Host(folder) + "/upd.exe")) << r.err;
    // The whole command, twice the folder: never a cut path in the registry.
    EXPECT_EQ(s.uninstallString(), folder + "\\upd.exe uninstall " + folder + '\0');
    // The shortcut target would pass the path limit, so no shortcut is made,
    // while the list still names both shortcut paths.
    EXPECT_FALSE(Exists(s.machine.Host("C:\\users\\player\\Desktop\\Zeta Rune.lnk")));
    std::string list = ReadHostFile(s.machine.Host(folder) + "/setup.dat");
    EXPECT_EQ(Count(list, std::string("Zeta Rune.lnk\0", 14)), 2);
}

TEST(SetupFlow, UpdaterThatCannotBeWrittenDoesNotStopTheRest) {
    SetupRun s;
    MakeDirs(s.machine.Host("C:\\Program Files\\Zeta Rune\\upd.exe"));
    RunResult r = s.run("\n");
    EXPECT_EQ(r.exitCode, 0);
    std::string folder = s.machine.Host("C:\\Program Files\\Zeta Rune");
    EXPECT_EQ(ReadHostFile(folder + "/unrar.dll"), ReadHostFile(BinPath("unrar.dll")));
    EXPECT_TRUE(Exists(folder + "/setup.dat"));
    EXPECT_FALSE(s.uninstallString().empty());
}

TEST(SetupFlow, ASecondRunReplacesEverythingItWrites) {
    SetupRun s;
    std::string folder = s.machine.Host("C:\\Program Files\\Zeta Rune");
    ASSERT_EQ(s.run("\n").exitCode, 0);
    // Longer leftovers in the way of every file the setup writes.
    for (const char* name : {"upd.exe", "unrar.dll", "setup.dat"}) {
        WriteHostFile(folder + "/" + name, std::string(5000000, 'x'));
    }
    std::string desktop = s.machine.Host("C:\\users\\player\\Desktop\\Zeta Rune.lnk");
    WriteHostFile(desktop, std::string(4000, 'y'));
    ASSERT_EQ(s.run("\n").exitCode, 0);
    EXPECT_EQ(ReadHostFile(folder + "/upd.exe"), ReadHostFile(BinPath("upd.exe")));
    EXPECT_EQ(ReadHostFile(folder + "/unrar.dll"), ReadHostFile(BinPath("unrar.dll")));
    EXPECT_EQ(ReadHostFile(folder + "/setup.dat"),
              std::string("C:\\users\\player\\Desktop\\Zeta Rune.lnk") + '\0' +
                  "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Zeta Rune.lnk" +
                  '\0');
    EXPECT_EQ(ReadHostFile(desktop), "target=C:\\Program Files\\Zeta Rune\\upd.exe\n"
                                     "workdir=C:\\Program Files\\Zeta Rune\n"
                                     "description=Zeta Rune\n");
    auto values = RegistryValues(true, kUninstallKey);
    EXPECT_EQ(values.size(), 2u);
    EXPECT_EQ(Count(ReadHostFile(s.log()), "\"upd.exe\""), 2);
}
