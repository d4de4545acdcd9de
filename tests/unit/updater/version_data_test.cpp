// Manifest entries, mirror choice, the pending list and "ver.dat".
#include "tests/unit/support/test_support.h"
#include "tests/unit/updater/version_cases.h"
#include "upd/engine/version_data.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

std::string Scrambled(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(static_cast<unsigned char>(c) ^ 0xA6);
    }
    return text;
}

TEST(Entries, CountedByTheirOwnQuoteCharacter) {
    for (const auto& c : cases::kCounts) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(CountEntries(c.text.c_str()), c.entries);
        EXPECT_EQ(CountMirrors(c.text.c_str()), c.mirrors);
    }
}

TEST(Entries, NamesWithinTheirRoom) {
    for (const auto& c : cases::kEntryNames) {
        SCOPED_TRACE(c.what);
        // A room of exactly the entry-name size, poisoned beforehand.
        std::vector<char> room(kEntryNameSize, '#');
        EXPECT_EQ(GetEntryName(c.text.c_str(), c.n, room.data(), room.size()), c.ok);
        EXPECT_EQ(std::string(room.data()), c.value);
    }
}

TEST(Entries, MirrorsWithinTheirRoom) {
    for (const auto& c : cases::kMirrors) {
        SCOPED_TRACE(c.what);
        std::vector<char> room(kMirrorTextSize, '#');
        EXPECT_EQ(GetMirror(c.text.c_str(), c.n, room.data(), room.size()), c.ok);
        EXPECT_EQ(std::string(room.data()), c.value);
    }
}

TEST(Entries, RoomOfOneByteHoldsOnlyAnEmptyName) {
    char room[1] = {'#'};
    EXPECT_FALSE(GetEntryName("\"a\",1", 0, room, sizeof room));
    EXPECT_EQ(room[0], 0);
    EXPECT_TRUE(GetEntryName("\"\",1", 0, room, sizeof room));
    EXPECT_FALSE(GetEntryName("\"a\",1", 0, room, 0)); // nothing written at all
}

TEST(Entries, VersionOfTheFirstExactKey) {
    for (const auto& c : cases::kVersions) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(GetEntryVersion(c.text.c_str(), c.name.c_str()), c.version);
    }
}

// Calls `choose` until the clock stands still across the call, and gives
// the second in which it ran.
template <typename F> time_t AtOneSecond(F choose) {
    for (;;) {
        time_t before = time(nullptr);
        choose();
        if (time(nullptr) == before) {
            return before;
        }
    }
}

TEST(ChooseMirror, EntryNumberedByTheTimeModuloTheCount) {
    const char* body = "'m0/a/'\"p\",1\r\n'm1/b/'\r\n'm2/c/'";
    const char* expected[] = {"m0/a/", "m1/b/", "m2/c/"};
    char room[kMirrorTextSize];
    bool ok = false;
    time_t at = AtOneSecond([&] { ok = ChooseMirror(body, room); });
    EXPECT_TRUE(ok);
    EXPECT_STREQ(room, expected[at % 3]);

    const char* single = "\"p\",1'only/x/'";
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(ChooseMirror(single, room));
        EXPECT_STREQ(room, "only/x/");
    }
}

TEST(ChooseMirror, BodyWithoutMirrorIsNoManifest) {
    const char* bodies[] = {"", "\"a.rar\",1\r\n", "'unpaired", "\"a\",1 \"b\",2"};
    for (const char* body : bodies) {
        char room[kMirrorTextSize];
        memset(room, '#', sizeof room);
        EXPECT_FALSE(ChooseMirror(body, room)) << body;
        EXPECT_EQ(room[0], 0) << body;
    }
}

TEST(ChooseMirror, MirrorTooLongForItsRoom) {
    std::string body = "'" + cases::kMirror512 + "'";
    std::vector<char> room(kMirrorTextSize, '#');
    EXPECT_FALSE(ChooseMirror(body.c_str(), room.data(), room.size()));
    EXPECT_EQ(room[0], 0);
}

struct SessionTest : testing::Test {
    std::unique_ptr<UpdateSession> session = std::make_unique<UpdateSession>();
    std::string Pending() const { return std::string(session->pendingNames, session->pendingEnd); }
};

TEST_F(SessionTest, InitEmptiesTheListsOnly) {
    memset(session.get(), 0x5A, sizeof *session);
    strcpy(session->host, "kept");
    InitNameLists(*session);
    EXPECT_EQ(session->pendingEnd, 0u);
    EXPECT_EQ(session->pendingCount, 0);
    EXPECT_EQ(session->unpackedEnd, 0u);
    EXPECT_STREQ(session->host, "kept");
    EXPECT_EQ(session->serverAddr, 0x5A5A5A5Au);
}

TEST_F(SessionTest, NamesFollowEachOtherWithTheirTerminators) {
    InitNameLists(*session);
    ASSERT_TRUE(AddPendingName(*session, "a.rar"));
    ASSERT_TRUE(AddPendingName(*session, "sub\\b.rar"));
    ASSERT_TRUE(AddPendingName(*session, "a.rar"));
    EXPECT_EQ(Pending(), std::string("a.rar\0sub\\b.rar\0a.rar\0", 22));
    EXPECT_EQ(session->pendingCount, 3);
}

TEST_F(SessionTest, ByteCapacityIsNeverOverrun) {
    InitNameLists(*session);
    std::string filler(kNameListSize - 3, 'f'); // with its NUL, two bytes remain
    ASSERT_TRUE(AddPendingName(*session, filler.c_str()));
    EXPECT_FALSE(AddPendingName(*session, "ab")); // needs three
    EXPECT_EQ(session->pendingEnd, kNameListSize - 2);
    ASSERT_TRUE(AddPendingName(*session, "a")); // exactly fills the list
    EXPECT_EQ(session->pendingEnd, kNameListSize);
    EXPECT_FALSE(AddPendingName(*session, ""));
    EXPECT_EQ(session->pendingCount, 2);
    EXPECT_EQ(session->pendingNames[kNameListSize - 1], 0);
}

TEST_F(SessionTest, NameCountIsNeverOverrun) {
    InitNameLists(*session);
    for (int i = 0; i < kMaxPackages; ++i) {
        ASSERT_TRUE(AddPendingName(*session, "x")) << i;
    }
    EXPECT_FALSE(AddPendingName(*session, "x"));
    EXPECT_EQ(session->pendingCount, kMaxPackages);
    EXPECT_EQ(session->pendingEnd, 2u * kMaxPackages);
}

TEST(Scramble, XorWithTheKeyBothWays) {
    char text[] = "\"a.rar\",2\r\n";
    ScrambleText(text);
    EXPECT_EQ(std::string(text), Scrambled("\"a.rar\",2\r\n"));
    EXPECT_EQ(static_cast<unsigned char>(text[0]), 0x84); // '"' ^ 0xA6
    ScrambleText(text);
    EXPECT_STREQ(text, "\"a.rar\",2\r\n");
    char withKey[] = "ab\xA6"
                     "cd";
    ScrambleText(withKey); // the key byte becomes NUL and ends the text
    EXPECT_EQ(strlen(withKey), 2u);
}

TEST(BuildVersionText, OneScrambledLinePerKeptEntry) {
    for (const auto& c : cases::kBuilds) {
        SCOPED_TRACE(c.what);
        std::vector<char> room(kVersionTextSize, '#');
        int length = BuildLocalVersionText(c.body.c_str(), room.data(), room.size());
        ASSERT_EQ(length, static_cast<int>(c.plain.size()));
        EXPECT_EQ(std::string(room.data(), length), Scrambled(c.plain));
    }
}

TEST(BuildVersionText, ThreeEntriesGiveFifteenBytes) {
    char room[kVersionTextSize];
    int length = BuildLocalVersionText("\"a\",3\r\n\"b\",0\r\n\"c\",12\r\n", room);
    EXPECT_EQ(length, 15);
    ScrambleText(room);
    EXPECT_STREQ(room, "\"a\",3\r\n\"c\",12\r\n");
}

TEST(BuildVersionText, ARoomTooSmallKeepsWholeLinesOnly) {
    const char* body = "\"a\",3\"c\",12\"d\",4"; // lines of 7, 8 and 7 bytes
    struct {
        size_t room;
        int length;
    } table[] = {{1, 0}, {7, 0}, {8, 7}, {15, 7}, {16, 15}, {22, 15}, {23, 22}, {100, 22}};
    for (const auto& c : table) {
        std::vector<char> room(c.room, '#');
        int length = BuildLocalVersionText(body, room.data(), room.size());
        EXPECT_EQ(length, c.length) << "room " << c.room;
        EXPECT_EQ(room[static_cast<size_t>(length)], 0) << "room " << c.room;
    }
}

TEST(BuildVersionText, TextBeyond99999BytesEndsAtALine) {
    // 2,000 entries of 66-byte lines would make 132,000 bytes.
    std::string body;
    for (int i = 0; i < 2000; ++i) {
        char name[52];
        snprintf(name, sizeof name, "%051d", i);
        body += std::string("\"") + name + "\",2147483647\r\n";
    }
    std::vector<char> room(kVersionTextSize, '#');
    int length = BuildLocalVersionText(body.c_str(), room.data(), room.size());
    EXPECT_EQ(length, 99999 / 66 * 66);
    ScrambleText(room.data());
    std::string plain(room.data());
    EXPECT_EQ(plain.size(), static_cast<size_t>(length));
    EXPECT_EQ(plain.substr(plain.size() - 2), "\r\n");
    EXPECT_EQ(plain, body.substr(0, plain.size()));
}

// "ver.dat" in the current directory, inside a fresh stand-in machine.
struct VersionFileTest : testing::Test {
    zrtest::TempRoot root;
    void SetUp() override { ASSERT_EQ(chdir(root.root().c_str()), 0); }
    void Write(const std::string& content) { zrtest::WriteHostFile("ver.dat", content); }
};

TEST_F(VersionFileTest, MissingFileGivesTheDefaultEntry) {
    memset(localVersionText, '#', sizeof localVersionText);
    EXPECT_FALSE(ReadLocalVersions());
    EXPECT_STREQ(localVersionText, "\"upd2.rar\",2\r\n");
    EXPECT_EQ(GetEntryVersion(localVersionText, "upd2.rar"), 2);
}

TEST_F(VersionFileTest, EmptyFileGivesAnEmptyList) {
    Write("");
    memset(localVersionText, '#', sizeof localVersionText);
    EXPECT_TRUE(ReadLocalVersions());
    EXPECT_STREQ(localVersionText, "");
    EXPECT_EQ(GetEntryVersion(localVersionText, "upd2.rar"), -1);
}

TEST_F(VersionFileTest, ScrambledFileReadsBackAsWritten) {
    char built[kVersionTextSize];
    int length = BuildLocalVersionText("'m/x/'\"a.rar\",3\r\n\"b.rar\",12\r\n", built);
    Write(std::string(built, length));
    EXPECT_TRUE(ReadLocalVersions());
    EXPECT_STREQ(localVersionText, "\"a.rar\",3\r\n\"b.rar\",12\r\n");
    EXPECT_EQ(GetEntryVersion(localVersionText, "b.rar"), 12);
}

TEST_F(VersionFileTest, OnlyTheFirst99999BytesAreRead) {
    std::string plain;
    while (plain.size() < 100050) {
        plain += "\"x" + std::to_string(plain.size()) + "\",1\r\n";
    }
    Write(Scrambled(plain));
    EXPECT_TRUE(ReadLocalVersions());
    EXPECT_EQ(strlen(localVersionText), 99999u);
    EXPECT_EQ(std::string(localVersionText), plain.substr(0, 99999));
}

} // namespace
