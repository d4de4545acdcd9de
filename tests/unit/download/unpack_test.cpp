// Unpacking real archives, made with rar at test time, and writing what
// they hold: which archives make a package, and which entry names may
// touch the disk.
#include "tests/unit/download/download_support.h"
#include "tests/unit/support/test_support.h"
#include "upd/download/safe_names.h"
#include "upd/download/unpack.h"
#include "upd/engine/update_state.h"
#include "upd/engine/version_data.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <unistd.h>

namespace {

using Files = std::map<std::string, std::string>;
using dltest::ArchiveMaker;

unsigned char* Block() {
    static std::vector<unsigned char> block(kPackageBlockSize);
    return block.data();
}

struct Unpack : testing::Test {
    zrtest::TempRoot root;
    zrtest::TempDir work;
    ArchiveMaker maker{work.path()};
    std::unique_ptr<UpdateSession> session = std::make_unique<UpdateSession>();
    int cases = 0;

    void SetUp() override { ASSERT_TRUE(LoadUnrarLibrary()); }

    // A fresh installation folder below C:\Games, made the current one.
    std::string NewFolder() {
        std::string folder = root.Host("C:\\Games\\case" + std::to_string(++cases));
        zrtest::MakeDirs(folder);
        EXPECT_EQ(chdir(folder.c_str()), 0);
        return folder;
    }

    // The bodies unpacked as the packages of one run, in one block as the
    // download leaves them, then the write step; updateOk afterwards.
    bool RunPackages(const std::vector<std::string>& bodies) {
        updateOk = 1;
        InitNameLists(*session);
        session->pendingCount = static_cast<int32_t>(bodies.size());
        for (size_t i = 0; i < bodies.size(); ++i) {
            EXPECT_LT(bodies[i].size(), static_cast<size_t>(kPackageBlockSize));
            memcpy(Block(), bodies[i].data(), bodies[i].size());
            session->buffers[i] = Block();
            session->sizes[i] = static_cast<int32_t>(bodies[i].size());
            UnpackPackage(*session, Block(), static_cast<int>(i));
        }
        WriteUnpackedFiles(*session);
        return updateOk != 0;
    }
};

std::string Pattern(size_t size) {
    std::string s;
    for (size_t i = 0; i < size; ++i) {
        s += static_cast<char>('A' + (i * 7) % 23);
    }
    return s;
}

std::string RandomBytes(size_t size) {
    std::string s;
    FILE* f = fopen("/dev/urandom", "rb");
    s.resize(size);
    if (!f || fread(&s[0], 1, size, f) != size) {
        s.clear();
    }
    if (f) {
        fclose(f);
    }
    return s;
}

TEST_F(Unpack, WhichArchivesMakeAPackage) {
    struct Case {
        const char* what;
        std::function<std::string(const ArchiveMaker&)> make;
        bool ok;
        Files written;
    };
    const std::string big(kPackageBlockSize, '\0');
    std::vector<Case> table = {
        {"two entries: only the first is written",
         [](const ArchiveMaker& m) {
             m.File("first.txt", "one");
             m.File("second.txt", "two");
             EXPECT_TRUE(m.Add("two.rar", {"-ep"}, {"first.txt", "second.txt"}));
             EXPECT_EQ(m.Names("two.rar"), "first.txt\nsecond.txt\n");
             return m.Read("two.rar");
         },
         true,
         {{"/first.txt", "one"}}},
        {"the first entry fails its check",
         [](const ArchiveMaker& m) {
             std::string content = Pattern(4000);
             std::string bytes = m.Package("crc.txt", content);
             size_t at = bytes.find(content.substr(0, 64));
             EXPECT_NE(at, std::string::npos);
             if (at != std::string::npos) {
                 bytes[at + 2000] = static_cast<char>(bytes[at + 2000] ^ 0x5A);
             }
             return bytes;
         },
         false,
         {}},
        {"an encrypted entry",
         [](const ArchiveMaker& m) {
             m.File("secret.txt", "hidden");
             EXPECT_TRUE(m.Add("p.rar", {"-ep", "-psecret"}, {"secret.txt"}));
             return m.Read("p.rar");
         },
         false,
         {}},
        {"encrypted headers",
         [](const ArchiveMaker& m) {
             m.File("secret.txt", "hidden");
             EXPECT_TRUE(m.Add("hp.rar", {"-ep", "-hpsecret"}, {"secret.txt"}));
             return m.Read("hp.rar");
         },
         false,
         {}},
        {"a folder as the first entry",
         [](const ArchiveMaker& m) {
             m.Folder("gamedir");
             EXPECT_TRUE(m.Add("d.rar", {}, {"gamedir"}));
             m.File("after.txt", "after");
             EXPECT_TRUE(m.Add("d.rar", {"-ep"}, {"after.txt"}));
             EXPECT_EQ(m.Names("d.rar"), "gamedir\nafter.txt\n");
             return m.Read("d.rar");
         },
         false,
         {}},
        {"the first volume of three",
         [](const ArchiveMaker& m) {
             m.File("big.bin", RandomBytes(60000));
             EXPECT_TRUE(m.Add("v.rar", {"-ep", "-m0", "-v20k"}, {"big.bin"}));
             return m.Read("v.part1.rar");
         },
         false,
         {}},
        {"no archive at all", [](const ArchiveMaker&) { return std::string(300, 'x'); }, false, {}},
        {"an empty body", [](const ArchiveMaker&) { return std::string(); }, false, {}},
        {"an entry that fills the block exactly",
         [&big](const ArchiveMaker& m) {
             m.File("full.bin", big);
             EXPECT_TRUE(m.Add("full.rar", {"-ep"}, {"full.bin"}));
             return m.Read("full.rar");
         },
         true,
         {{"/full.bin", big}}},
        {"an entry one byte larger than the block",
         [&big](const ArchiveMaker& m) {
             m.File("over.bin", big + 'x');
             EXPECT_TRUE(m.Add("over.rar", {"-ep"}, {"over.bin"}));
             return m.Read("over.rar");
         },
         false,
         {}},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(c.what);
        std::string body = c.make(maker);
        std::string folder = NewFolder();
        Files before = zrtest::Snapshot(folder);
        Files expected = before;
        for (const auto& w : c.written) {
            expected[w.first] = w.second;
        }

        EXPECT_EQ(RunPackages({body}), c.ok);

        // Nothing else: no "download.rar", no staged file.
        EXPECT_EQ(zrtest::Snapshot(folder), expected);
    }
}

TEST_F(Unpack, UnsafeEntryNamesAreRefusedAndNothingOutsideChanges) {
    struct Case {
        const char* what;
        const char* file;   // the file given to rar
        const char* option; // a path inside the archive, or null
        const char* stored; // what the archive holds
    };
    const Case table[] = {
        {"'..' with a slash", "outside.txt", "-ap../", "../outside.txt"},
        {"'..' with a backslash", "..\\outside.txt", nullptr, "..\\outside.txt"},
        {"'..' after a folder", "outside.txt", "-apsub/../../", "sub/../../outside.txt"},
        {"rooted", "outside.txt", "-ap/Games", "/Games/outside.txt"},
        {"rooted with a backslash", "\\Games\\outside.txt", nullptr, "\\Games\\outside.txt"},
        {"a drive", "outside.txt", "-apC:/Games", "C:/Games/outside.txt"},
        {"a drive with a backslash", "C:\\Games\\outside.txt", nullptr, "C:\\Games\\outside.txt"},
        {"a drive without a root", "C:outside.txt", nullptr, "C:outside.txt"},
        {"UNC", "\\\\server\\share\\outside.txt", nullptr, "\\\\server\\share\\outside.txt"},
        {"UNC with slashes", "outside.txt", "-ap//server/share", "//server/share/outside.txt"},
        {"an alternate stream", "game.dat:hidden", nullptr, "game.dat:hidden"},
        {"CON", "CON", nullptr, "CON"},
        {"NUL with an extension", "nul.txt", nullptr, "nul.txt"},
        {"COM1", "COM1", nullptr, "COM1"},
        {"a device as a folder", "x.txt", "-apsub/AUX", "sub/AUX/x.txt"},
        {"a trailing dot", "trail.", nullptr, "trail."},
        {"a trailing blank", "trail ", nullptr, "trail "},
        {"a folder with a trailing dot", "x.txt", "-apsub.", "sub./x.txt"},
        {"a control character", "ctl\x01.txt", nullptr, "ctl\x01.txt"},
        {"DEL", "del\x7f.txt", nullptr, "del\x7f.txt"},
    };
    // Where the names would land: the folders above the installation folder
    // and a folder inside it all exist.
    zrtest::MakeDirs(root.Host("C:\\Games"));
    for (const auto& c : table) {
        SCOPED_TRACE(c.what);
        maker.File(c.file, "written by the package");
        std::string archive = "unsafe" + std::to_string(cases) + ".rar";
        std::vector<std::string> options{"-ep", "-m0"};
        if (c.option) {
            options.push_back(c.option);
        }
        ASSERT_TRUE(maker.Add(archive, options, {c.file}));
        ASSERT_EQ(maker.Names(archive), std::string(c.stored) + "\n");
        std::string body = maker.Read(archive);
        unlink((maker.folder() + "/" + c.file).c_str());
        std::string folder = NewFolder();
        zrtest::MakeDirs(folder + "/sub");
        Files machine = zrtest::Snapshot(root.root());

        EXPECT_FALSE(RunPackages({body}));

        EXPECT_EQ(zrtest::Snapshot(root.root()), machine);
    }
}

TEST_F(Unpack, FolderPartsWriteIntoExistingFoldersOnly) {
    maker.File("fwd.dat", "forward");
    ASSERT_TRUE(maker.Add("fwd.rar", {"-ep", "-apsub"}, {"fwd.dat"}));
    ASSERT_EQ(maker.Names("fwd.rar"), "sub/fwd.dat\n");
    maker.File("sub\\back.dat", "backward");
    ASSERT_TRUE(maker.Add("back.rar", {"-ep"}, {"sub\\back.dat"}));
    maker.File("x.dat", "nowhere");
    ASSERT_TRUE(maker.Add("missing.rar", {"-ep", "-apmissing"}, {"x.dat"}));
    std::string folder = NewFolder();
    zrtest::MakeDirs(folder + "/sub");

    // A name whose folder does not exist is skipped without failing the run.
    EXPECT_TRUE(
        RunPackages({maker.Read("fwd.rar"), maker.Read("missing.rar"), maker.Read("back.rar")}));

    EXPECT_EQ(zrtest::Snapshot(folder),
              (Files{{"/sub/", ""}, {"/sub/fwd.dat", "forward"}, {"/sub/back.dat", "backward"}}));
}

TEST_F(Unpack, AFailedPackageRemovesWhatTheOthersStaged) {
    std::string one = maker.Package("one.txt", "new one");
    std::string three = maker.Package("three.txt", "new three");
    std::string folder = NewFolder();
    zrtest::WriteHostFile(folder + "/one.txt", "old one");

    EXPECT_FALSE(RunPackages({one, "no archive", three}));

    EXPECT_EQ(zrtest::Snapshot(folder), (Files{{"/one.txt", "old one"}}));
}

TEST(SafeEntryNames, BordersOfTheRules) {
    const struct {
        const char* name;
        bool safe;
    } table[] = {
        {"game.dat", true},
        {"sub\\file.dat", true},
        {"sub/deeper/file.dat", true},
        {"a..b", true},
        {"..game", true},
        {".hidden", true},
        {"CONSOLE", true},
        {"con2", true},
        {"COM0", true},
        {"COM10", true},
        {"CON", false},
        {"nul.txt", false},
        {"COM1", false},
        {"LPT9", false},
        {"lpt1.log", false},
        {"prn", false},
        {"aux .txt", false},
        {"nul.tar.gz", false},
        {"sub\\con\\x", false},
        {"", false},
        {".", false},
        {"..", false},
        {"...", false},
        {"sub\\", false},
        {"sub\\\\file", false},
        {"sub/./file", false},
        {"/", false},
        {"\\file", false},
        {"D:file", false},
        {"a:b", false},
        {"tab\tname", false},
        {"new\nline", false},
        {"q?", false},
        {"star*", false},
        {"pipe|", false},
        {"<angle>", false},
        {"\"quoted\"", false},
    };
    for (const auto& c : table) {
        EXPECT_EQ(IsSafeEntryName(c.name), c.safe) << "[" << c.name << "]";
    }
}

} // namespace
