// Whole update runs against a loopback service and mirror: the updater's
// run in this process, and the built upd.exe as a process of its own where
// a player's input or the replacement of the running program matters.
#include "tests/unit/download/download_support.h"
#include "tests/unit/support/test_support.h"
#include "tests/unit/updater/loopback.h"
#include "upd/engine/main_flow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Files = std::map<std::string, std::string>;
using Clock = std::chrono::steady_clock;

struct Package {
    const char* name;
    int version;
};

std::string Manifest(const std::vector<Package>& packages) {
    std::string body;
    for (const auto& p : packages) {
        body += "\"" + std::string(p.name) + "\"," + std::to_string(p.version) + "\r\n";
    }
    return body + dltest::kMirrorEntry + "\r\n";
}

// The new "ver.dat" that a run records for these manifest entries.
std::string VersionFile(const std::vector<Package>& packages) {
    std::string text;
    for (const auto& p : packages) {
        text += "\"" + std::string(p.name) + "\"," + std::to_string(p.version) + "\r\n";
    }
    return dltest::Scramble(text);
}

// The positions the progress bar was set to, in order, as the terminal
// dialog draws them (a line per change), between two marks of `err`.
std::vector<int> BarChanges(const std::string& err, const std::string& from,
                            const std::string& to) {
    size_t start = err.find(from);
    size_t end = to.empty() ? std::string::npos : err.find(to);
    if (start == std::string::npos) {
        return {};
    }
    std::string part = err.substr(start, end == std::string::npos ? end : end - start);
    std::vector<int> positions;
    const std::string mark = "Updating Game Software | [";
    for (size_t at = part.find(mark); at != std::string::npos; at = part.find(mark, at + 1)) {
        size_t close = part.find("] ", at);
        size_t newline = part.find('\n', at);
        if (close != std::string::npos && close < newline) {
            positions.push_back(std::atoi(part.c_str() + close + 2));
        }
    }
    return positions;
}

struct UpdateRun : testing::Test {
    zrtest::TempRoot root;
    zrtest::TempDir work;
    dltest::ArchiveMaker maker{work.path()};
    std::string folder;

    void SetUp() override {
        std::string why;
        if (!loopback::Enter(&why)) {
            GTEST_SKIP() << "no private network: " << why;
        }
        folder = root.Host("C:\\Games\\Zeta Rune");
        zrtest::MakeDirs(folder);
        ASSERT_EQ(chdir(folder.c_str()), 0);
    }

    void Put(const std::string& name, const std::string& content) {
        zrtest::WriteHostFile(folder + "/" + name, content);
    }
    Files Folder() const { return zrtest::Snapshot(folder); }

    // Serves `manifest` once as the version query's answer for the life of
    // the returned server.
    static std::unique_ptr<loopback::TestServer> Service(const std::string& manifest) {
        return std::make_unique<loopback::TestServer>(
            loopback::kServiceIp, [manifest](loopback::Peer& peer) {
                peer.ReadRequest();
                peer.Send(dltest::ManifestResponse(manifest));
            });
    }

    // One update run in this process; what it wrote on standard error.
    std::string RunHere(const std::string& manifest) {
        auto service = Service(manifest);
        testing::internal::CaptureStderr();
        EXPECT_EQ(RunUpdate(nullptr), 0);
        return testing::internal::GetCapturedStderr();
    }
};

TEST_F(UpdateRun, ThreePackagesFromOneMirrorAreWrittenAndRecorded) {
    Put("ver.dat", dltest::Scramble("\"a.txt.rar\",1\r\n\"old.rar\",4\r\n"));
    Put("a.txt", "the old a");
    std::string aContent;
    std::string a = maker.PackageOfSize("a.txt", 200, &aContent);
    ASSERT_EQ(a.size(), 200u);
    std::string b = maker.Package("b.txt", "bee");
    std::string c = maker.Package("c.txt", std::string(300000, 'c'));
    // The first body comes in pieces, so that the bar is set after 1, 3, 5,
    // 50 and 200 body bytes.
    dltest::Mirror mirror(dltest::kMirrorIp,
                          {{"/pkgs/a.txt.rar",
                            [&a](loopback::Peer& peer) {
                                std::string all = dltest::Response(a);
                                size_t head = all.size() - a.size();
                                peer.Send(all.substr(0, head));
                                size_t sent = 0;
                                for (size_t upTo : {1, 3, 5, 50, 200}) {
                                    peer.Wait(150);
                                    peer.Send(a.substr(sent, upTo - sent));
                                    sent = upTo;
                                }
                            }},
                           {"/pkgs/b.txt.rar", dltest::Sends(dltest::Response(b))},
                           {"/pkgs/c.txt.rar", dltest::Sends(dltest::Response(c))}});
    ASSERT_TRUE(mirror.listening());
    std::vector<Package> manifest{{"a.txt.rar", 2}, {"b.txt.rar", 1}, {"c.txt.rar", 1}};

    std::string err = RunHere(Manifest(manifest));

    EXPECT_EQ(mirror.Requests(),
              (std::vector<std::string>{"/pkgs/a.txt.rar", "/pkgs/b.txt.rar", "/pkgs/c.txt.rar"}));
    // Exactly the three files and the new version file: nothing staged,
    // no archive and nothing moved aside is left behind.
    EXPECT_EQ(Folder(), (Files{{"/a.txt", aContent},
                               {"/b.txt", "bee"},
                               {"/c.txt", std::string(300000, 'c')},
                               {"/ver.dat", VersionFile(manifest)}}));
    size_t one = err.find("Updating Game Software | Please Wait (1/3)\n");
    size_t two = err.find("Updating Game Software | Please Wait (2/3)\n");
    size_t three = err.find("Updating Game Software | Please Wait (3/3)\n");
    ASSERT_NE(one, std::string::npos) << err;
    EXPECT_LT(one, two);
    EXPECT_LT(two, three);
    EXPECT_NE(three, std::string::npos);
    // 1 byte of 200 is 0.5% (to the even 0), 3 bytes 1.5% (to 2), 5 bytes
    // 2.5% (to the even 2), 50 bytes 25%.
    EXPECT_EQ(BarChanges(err, "Please Wait (1/3)", "Please Wait (2/3)"),
              (std::vector<int>{2, 25, 100}));
    // Each later package starts the bar again from 0.
    for (const char* mark : {"Please Wait (2/3)", "Please Wait (3/3)"}) {
        std::vector<int> bar = BarChanges(err, mark, "");
        ASSERT_FALSE(bar.empty()) << mark;
        EXPECT_EQ(bar.front(), 0) << mark;
        EXPECT_EQ(bar.back(), 100) << mark;
    }
}

TEST_F(UpdateRun, ANotFoundSecondPackageStopsTheWholeWrite) {
    Put("ver.dat", dltest::Scramble("\"a.txt.rar\",1\r\n\"b.txt.rar\",1\r\n\"c.txt.rar\",1\r\n"));
    Put("a.txt", "the old a");
    Put("c.txt", "the old c");
    dltest::Mirror mirror(
        dltest::kMirrorIp,
        {{"/pkgs/a.txt.rar", dltest::Sends(dltest::Response(maker.Package("a.txt", "new a")))},
         {"/pkgs/b.txt.rar", dltest::Sends(dltest::Response("not here", 404))},
         {"/pkgs/c.txt.rar", dltest::Sends(dltest::Response(maker.Package("c.txt", "new c")))}});
    ASSERT_TRUE(mirror.listening());
    Files before = Folder();

    RunHere(Manifest({{"a.txt.rar", 2}, {"b.txt.rar", 2}, {"c.txt.rar", 2}}));

    // The third package is still fetched; then no file of the run is put in
    // place, no staged file stays, and "ver.dat" keeps the old versions.
    EXPECT_EQ(mirror.Requests(),
              (std::vector<std::string>{"/pkgs/a.txt.rar", "/pkgs/b.txt.rar", "/pkgs/c.txt.rar"}));
    EXPECT_EQ(Folder(), before);
}

TEST_F(UpdateRun, AFileThatCannotBeReplacedRollsBackTheRun) {
    struct {
        const char* what;
        void (*block)(const std::string& path);
    } blockers[] = {
        {"a read-only file",
         [](const std::string& path) {
             zrtest::WriteHostFile(path, "locked c");
             chmod(path.c_str(), 0444);
         }},
        {"a folder", [](const std::string& path) { zrtest::MakeDirs(path + "/inside"); }},
    };
    std::string a = maker.Package("a.txt", "new a");
    std::string b = maker.Package("b.txt", "new b");
    std::string c = maker.Package("c.txt", "new c");
    for (const auto& blocker : blockers) {
        SCOPED_TRACE(blocker.what);
        // a.txt replaces an old file and b.txt is new; both are in place
        // before c.txt, the last of the run, turns out to be blocked.
        Put("ver.dat", dltest::Scramble("\"a.txt.rar\",1\r\n"));
        Put("a.txt", "old a");
        blocker.block(folder + "/c.txt");
        Files before = Folder();
        dltest::Mirror mirror(dltest::kMirrorIp,
                              {{"/pkgs/a.txt.rar", dltest::Sends(dltest::Response(a))},
                               {"/pkgs/b.txt.rar", dltest::Sends(dltest::Response(b))},
                               {"/pkgs/c.txt.rar", dltest::Sends(dltest::Response(c))}});
        ASSERT_TRUE(mirror.listening());

        RunHere(Manifest({{"a.txt.rar", 2}, {"b.txt.rar", 1}, {"c.txt.rar", 1}}));

        EXPECT_EQ(mirror.Requests().size(), 3u);
        EXPECT_EQ(Folder(), before);
        dltest::RunTool({"rm", "-rf", folder + "/c.txt"}, "/");
    }
}

TEST_F(UpdateRun, LeftoversOfTheUpdatersOwnReplacementGoOnTheNextRun) {
    // What a run leaves on Windows when it replaced the running updater and
    // its loaded library: the old files, moved aside.
    Put("upd.exe.zrold", "the updater before");
    Put("unrar.dll.zrold", "the library before");
    Put("upd.exe", "the updater");
    Put("unrar.dll", "the library");
    std::vector<Package> manifest{{"upd2.rar", 3}, {"unrar.dll.rar", 1}};
    Put("ver.dat", VersionFile(manifest));
    dltest::Mirror mirror(dltest::kMirrorIp, {});
    ASSERT_TRUE(mirror.listening());

    RunHere(Manifest(manifest));

    EXPECT_TRUE(mirror.Requests().empty());
    EXPECT_EQ(Folder(), (Files{{"/upd.exe", "the updater"},
                               {"/unrar.dll", "the library"},
                               {"/ver.dat", VersionFile(manifest)}}));
}

TEST_F(UpdateRun, RetiredNamesAreDeletedOnlyInsideTheFolder) {
    Put("gone.txt", "retired");
    zrtest::WriteHostFile(folder + "/../keep.txt", "not the updater's");
    Put("ver.dat", dltest::Scramble("\"gone.txt\",1\r\n"));
    dltest::Mirror mirror(dltest::kMirrorIp, {});
    ASSERT_TRUE(mirror.listening());

    RunHere(Manifest({{"gone.txt", 0}, {"../keep.txt", 0}}));

    // Nothing to fetch; a version 0 is never recorded, so "ver.dat" is empty.
    EXPECT_TRUE(mirror.Requests().empty());
    EXPECT_EQ(Folder(), (Files{{"/ver.dat", ""}}));
    EXPECT_EQ(zrtest::ReadHostFile(folder + "/../keep.txt"), "not the updater's");
}

// The built updater, started in the installation folder.
struct UpdaterProcess : UpdateRun {
    std::string errFile() const { return work.path() + "/upd.err"; }
    std::string Err() const { return zrtest::ReadHostFile(errFile()); }
};

TEST_F(UpdaterProcess, ReplacesItselfAndItsLibraryWhileRunning) {
    // The copy that runs is the one in the folder, with the library beside it.
    for (const char* name : {"upd.exe", "unrar.dll"}) {
        ASSERT_EQ(dltest::RunTool({"cp", zrtest::BinPath(name), folder + "/" + name}, "/"), 0);
    }
    dltest::Mirror mirror(
        dltest::kMirrorIp,
        {{"/pkgs/upd2.rar",
          dltest::Sends(dltest::Response(maker.Package("upd.exe", "new updater")))},
         {"/pkgs/unrar.dll.rar",
          dltest::Sends(dltest::Response(maker.Package("unrar.dll", "new library")))}});
    ASSERT_TRUE(mirror.listening());
    // No "ver.dat" yet: the default entry says upd2.rar is at version 2.
    std::vector<Package> manifest{{"upd2.rar", 3}, {"unrar.dll.rar", 1}};
    auto service = Service(Manifest(manifest));

    dltest::Program updater(folder + "/upd.exe", folder, errFile());
    EXPECT_EQ(updater.Finish(60000), 0) << Err();

    EXPECT_EQ(mirror.Requests(),
              (std::vector<std::string>{"/pkgs/upd2.rar", "/pkgs/unrar.dll.rar"}));
    EXPECT_EQ(Folder(), (Files{{"/upd.exe", "new updater"},
                               {"/unrar.dll", "new library"},
                               {"/ver.dat", VersionFile(manifest)}}))
        << Err();
}

TEST_F(UpdaterProcess, CancelDuringTheFirstPackageFailsAllThree) {
    Put("ver.dat", dltest::Scramble("\"a.txt.rar\",1\r\n"));
    Put("a.txt", "old a");
    std::atomic<int> input{-1};
    std::atomic<long long> closedAfterMs{-1};
    std::string a = maker.Package("a.txt", std::string(5000, 'a'));
    dltest::Mirror mirror(
        dltest::kMirrorIp,
        {{"/pkgs/a.txt.rar",
          [&](loopback::Peer& peer) {
              std::string all = dltest::Response(a);
              peer.Send(all.substr(0, all.size() - 3000));
              // The rest never comes: the player presses Escape instead.
              for (int i = 0; i < 500 && input < 0; ++i) {
                  usleep(10000);
              }
              auto start = Clock::now();
              EXPECT_EQ(write(input, "\x1b\n", 2), 2);
              peer.Wait(20000); // returns once the updater has hung up
              closedAfterMs =
                  std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)
                      .count();
          }},
         {"/pkgs/b.txt.rar", dltest::Sends(dltest::Response(maker.Package("b.txt", "b")))},
         {"/pkgs/c.txt.rar", dltest::Sends(dltest::Response(maker.Package("c.txt", "c")))}});
    ASSERT_TRUE(mirror.listening());
    auto service = Service(Manifest({{"a.txt.rar", 2}, {"b.txt.rar", 1}, {"c.txt.rar", 1}}));
    Files before = Folder();

    dltest::Program updater(zrtest::BinPath("upd.exe"), folder, errFile());
    input = updater.input();
    EXPECT_EQ(updater.Finish(60000), 0) << Err();

    // The first package ends with the cancel; the other two never connect.
    EXPECT_EQ(mirror.Requests(), (std::vector<std::string>{"/pkgs/a.txt.rar"}));
    EXPECT_GE(closedAfterMs, 0);
    EXPECT_LT(closedAfterMs, 10000);
    EXPECT_EQ(Folder(), before);
    EXPECT_NE(Err().find("Please Wait (1/3)"), std::string::npos) << Err();
}

} // namespace
