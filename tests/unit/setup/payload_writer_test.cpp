// Writing the embedded payloads as whole files.
#include "Installer/setup.h"
#include "tests/unit/support/test_support.h"

#include <gtest/gtest.h>

using namespace zrtest;

TEST(WriteWholeFile, ReplacesALongerFileWithExactlyTheNewBytes) {
    TempRoot machine;
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    WriteHostFile(machine.Host("C:\\upd.exe"), std::string(5000, 'x'));
    const std::string bytes("MZ\0\1\2\3 payload", 14);
    EXPECT_TRUE(WriteWholeFile("upd.exe", bytes.size(), bytes.data()));
    EXPECT_EQ(ReadHostFile(machine.Host("C:\\upd.exe")), bytes);
}

TEST(WriteWholeFile, ReportsFalseForAFileThatCannotBeOpened) {
    TempRoot machine;
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    MakeDirs(machine.Host("C:\\taken")); // a folder of that name is in the way
    EXPECT_FALSE(WriteWholeFile("taken", 3, "abc"));
    EXPECT_FALSE(WriteWholeFile("missing\\folder\\file", 3, "abc"));
    EXPECT_FALSE(Exists(machine.Host("C:\\missing")));
}

TEST(Payloads, AreTheUpdaterAndLibraryOfThisBuild) {
    std::string upd = ReadHostFile(BinPath("upd.exe"));
    std::string dll = ReadHostFile(BinPath("unrar.dll"));
    ASSERT_FALSE(upd.empty());
    ASSERT_FALSE(dll.empty());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(updaterPayload), updaterPayload_size), upd);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(unrarPayload), unrarPayload_size), dll);
}
