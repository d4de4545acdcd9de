// Receiving one package from a mirror that answers badly: each broken
// answer fails its package and nothing is written.
#include "tests/unit/download/download_step.h"

#include <cstring>

namespace {

using Files = std::map<std::string, std::string>;
using dltest::DownloadStep;
using Receive = DownloadStep;

TEST_F(Receive, BrokenAnswersFailThePackage) {
    std::string package = maker.Package("game.dat", std::string(20000, 'g'));
    std::string headers = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(package.size()) +
                          "\r\nConnection: close\r\n\r\n";
    struct Case {
        const char* what;
        dltest::Mirror::Script script;
        bool ok;
    };
    const Case table[] = {
        {"a whole answer", dltest::Sends(headers + package), true},
        {"no Content-Length",
         dltest::Sends("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + package), false},
        {"a Content-Length beyond the body (closed early)",
         dltest::Sends("HTTP/1.1 200 OK\r\nContent-Length: " +
                       std::to_string(package.size() + 100) + "\r\n\r\n" + package),
         false},
        {"a negative Content-Length",
         dltest::Sends("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n" + package), false},
        {"headers that never end", dltest::Sends("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"),
         false},
        {"closed without a byte", [](loopback::Peer&) {}, false},
        {"a reset in the middle of the body",
         [&](loopback::Peer& peer) {
             peer.Send(headers + package.substr(0, package.size() / 2));
             peer.Wait(200);
             peer.Reset();
         },
         false},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(c.what);
        updateOk = 1;
        InitNameLists(*session);
        dltest::Mirror mirror(dltest::kMirrorIp, {{"/pkgs/game.dat.rar", c.script}});
        ASSERT_TRUE(mirror.listening());

        Download({"game.dat.rar"});

        EXPECT_EQ(updateOk, c.ok ? 1 : 0);
        EXPECT_EQ(mirror.Requests().size(), 1u);
        Files written;
        if (c.ok) {
            written["/game.dat"] = std::string(20000, 'g');
        }
        EXPECT_EQ(zrtest::Snapshot(folder), written);
        unlink((folder + "/game.dat").c_str());
    }
}

TEST_F(Receive, AResponseMustFitItsBlockWithItsTerminator) {
    // A block of 1,000 bytes holds a response of 999 and the NUL after it.
    constexpr int kCapacity = 1000;
    auto answer = [](size_t total) {
        std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 0000\r\n\r\n";
        std::string body(total - head.size(), 'b');
        std::string length = std::to_string(body.size());
        head.replace(head.find("0000") + 4 - length.size(), length.size(), length);
        return head + body;
    };
    const struct {
        size_t total;
        bool ok;
    } table[] = {{998, true}, {999, true}, {1000, false}, {5000, false}};
    std::map<std::string, dltest::Mirror::Script> scripts;
    for (const auto& c : table) {
        scripts["/r" + std::to_string(c.total)] = dltest::Sends(answer(c.total));
    }
    dltest::Mirror mirror(dltest::kMirrorIp, scripts);
    ASSERT_TRUE(mirror.listening());
    AddPendingName(*session, "x");
    char mirrorText[] = "127.0.0.3/";
    PrepareMirror(mirrorText, *session);
    for (const auto& c : table) {
        SCOPED_TRACE(c.total);
        // Exactly the capacity, so that a write past it is caught.
        std::vector<unsigned char> block(kCapacity);
        std::string request = "GET /r" + std::to_string(c.total) +
                              " HTTP/1.1\r\nHost: 127.0.0.3\r\nConnection: close\r\n\r\n";
        EXPECT_EQ(ReceiveWithProgress(*session, request.c_str(), block.data(), kCapacity, 0), c.ok);
        if (c.ok) {
            std::string expected = answer(c.total);
            EXPECT_EQ(std::string(reinterpret_cast<char*>(block.data()), c.total), expected);
            EXPECT_EQ(block[c.total], 0);
        }
    }
}

TEST(BarPosition, PercentRoundedHalfToEven) {
    const struct {
        int received, length, position;
    } table[] = {
        {0, 200, 0},     {1, 200, 0},
        {3, 200, 2},     {5, 200, 2},
        {7, 200, 4},     {50, 200, 25},
        {199, 200, 100}, {200, 200, 100},
        {1, 3, 33},      {2, 3, 67},
        {300, 200, 150}, {5, 0, 0},
        {0, 0, 0},       {9999999, 9999999, 100},
    };
    for (const auto& c : table) {
        EXPECT_EQ(BarPosition(c.received, c.length), c.position)
            << c.received << " of " << c.length;
    }
}

} // namespace
