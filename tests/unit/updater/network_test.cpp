// TCP_Network and FetchResponse against real sockets on a private loopback.
#include "tests/unit/updater/loopback.h"
#include "upd/engine/service.h"
#include "upd/net/http.h"
#include "upd/net/tcp_network.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

bool IsOpen(int fd) {
    return fcntl(fd, F_GETFD) != -1;
}

struct Loopback : testing::Test {
    void SetUp() override {
        std::string why;
        if (!loopback::Enter(&why)) {
            GTEST_SKIP() << "no private network: " << why;
        }
        serviceAddr = loopback::Address(loopback::kServiceIp);
    }
};

using Network = Loopback;

TEST_F(Network, StartupReportsVersionTwo) {
    testing::internal::CaptureStderr();
    TCP_Network::Startup();
    std::string said = testing::internal::GetCapturedStderr();
    TCP_Network::Cleanup();
    EXPECT_EQ(said, "Winsock 2.0 supported!\n");
}

TEST_F(Network, HostNamesResolveToTheirFirstAddress) {
    struct {
        const char* name;
        const char* address; // null: not resolved
    } table[] = {
        {"localhost", "127.0.0.1"},
        {"update.zetarune.com", loopback::kServiceIp},
        {"two.test", loopback::kFirstOfTwoIp},
        {"no-such-host.invalid", nullptr},
        {"", nullptr},
    };
    for (const auto& c : table) {
        testing::internal::CaptureStderr();
        uint32_t got = TCP_Network::GetHostByName(c.name);
        std::string said = testing::internal::GetCapturedStderr();
        if (c.address) {
            EXPECT_EQ(got, loopback::Address(c.address)) << c.name;
            EXPECT_EQ(said, "") << c.name;
        } else {
            EXPECT_EQ(got, 0xFFFFFFFFu) << c.name;
            EXPECT_EQ(said, "TCP_Network::GetHostByName() error\n") << c.name;
        }
    }
}

TEST_F(Network, StartNetworkResolvesTheService) {
    serviceAddr = 0;
    testing::internal::CaptureStderr();
    StartNetwork();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(serviceAddr, loopback::Address(loopback::kServiceIp));
    StopNetwork();
}

TEST_F(Network, RefusedConnectKeepsItsSocketUntilClose) {
    TCP_Network net;
    EXPECT_EQ(net.handle, INVALID_SOCKET);
    EXPECT_FALSE(net.nonBlocking);
    EXPECT_FALSE(net.Connect(loopback::Address("127.0.0.1"), 80)); // nothing listens
    int fd = net.handle;
    ASSERT_NE(fd, INVALID_SOCKET);
    EXPECT_TRUE(IsOpen(fd));
    EXPECT_FALSE(net.nonBlocking);
    net.Close();
    EXPECT_EQ(net.handle, INVALID_SOCKET);
    EXPECT_FALSE(IsOpen(fd));
    net.Close(); // a second Close does nothing
    EXPECT_EQ(net.handle, INVALID_SOCKET);
    TCP_Network unused;
    unused.Close();
    EXPECT_EQ(unused.handle, INVALID_SOCKET);
}

TEST_F(Network, DestructionCloses) {
    int fd;
    {
        TCP_Network net;
        net.Connect(loopback::Address("127.0.0.1"), 80);
        fd = net.handle;
        ASSERT_TRUE(IsOpen(fd));
    }
    EXPECT_FALSE(IsOpen(fd));
}

TEST_F(Network, RecvNeverWaitsAndSeesTheEndOfStream) {
    std::atomic<bool> go{false};
    std::string got;
    loopback::TestServer server(loopback::kServiceIp, [&](loopback::Peer& peer) {
        got = peer.ReadRequest();
        for (int i = 0; i < 300 && !go; ++i) {
            peer.Wait(10);
        }
        peer.Send("hello");
    });
    ASSERT_TRUE(server.listening());
    TCP_Network net;
    ASSERT_TRUE(net.Connect(serviceAddr, 80));
    EXPECT_TRUE(net.nonBlocking);
    EXPECT_EQ(net.Send("ping\r\n\r\n", 8), 8);

    char buffer[64];
    auto start = Clock::now();
    EXPECT_EQ(net.Recv(buffer, sizeof buffer), SOCKET_ERROR);
    EXPECT_TRUE(net.LastRecvWouldBlock());
    EXPECT_LT(MsSince(start), 1000); // the server sends only after 3 s or the go

    start = Clock::now();
    EXPECT_FALSE(net.WaitReadable(100));
    EXPECT_GE(MsSince(start), 90);

    go = true;
    std::string received;
    for (;;) {
        net.WaitReadable(2000);
        int n = net.Recv(buffer, sizeof buffer);
        if (n == 0) {
            break;
        }
        ASSERT_TRUE(n > 0 || net.LastRecvWouldBlock());
        if (n > 0) {
            received.append(buffer, static_cast<size_t>(n));
        }
    }
    EXPECT_EQ(received, "hello");
    EXPECT_EQ(net.Recv(buffer, sizeof buffer), 0);
    server.Join();
    EXPECT_EQ(got, "ping\r\n\r\n");
    net.Close();
    EXPECT_FALSE(net.WaitReadable(100)); // no socket: no wait at all
}

TEST_F(Network, RecvReportsAResetAsAnError) {
    loopback::TestServer server(loopback::kServiceIp, [](loopback::Peer& peer) {
        peer.ReadRequest();
        peer.Reset();
    });
    TCP_Network net;
    ASSERT_TRUE(net.Connect(serviceAddr, 80));
    net.Send("x\r\n\r\n", 5);
    server.Join();
    char buffer[16];
    net.WaitReadable(2000);
    EXPECT_EQ(net.Recv(buffer, sizeof buffer), SOCKET_ERROR);
    EXPECT_FALSE(net.LastRecvWouldBlock());
}

using Fetch = Loopback;

constexpr char kQuery[] = "GET /zru/ver.php?k=1 HTTP/1.1\r\nHost: update.zetarune.com\r\n"
                          "Connection: close\r\n\r\n";

TEST_F(Fetch, SendsTheRequestAndReadsEveryPieceUntilClose) {
    std::string got;
    loopback::TestServer server(loopback::kServiceIp, [&](loopback::Peer& peer) {
        got = peer.ReadRequest();
        peer.Send("HTTP/1.1 200 OK\r\n");
        peer.Wait(40);
        peer.Send("Content-Length: 5\r\n\r\n");
        peer.Wait(40);
        peer.Send("hello");
    });
    std::vector<char> buffer(100000, '#');
    EXPECT_TRUE(FetchResponse(kQuery, buffer.data(), static_cast<int>(buffer.size())));
    server.Join();
    EXPECT_EQ(got, kQuery);
    EXPECT_STREQ(buffer.data(), "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
}

TEST_F(Fetch, ResponseBeyondTheBufferIsCutWithANul) {
    std::string big(150000, 0);
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>('A' + i % 23);
    }
    loopback::TestServer server(loopback::kServiceIp, [&](loopback::Peer& peer) {
        peer.ReadRequest();
        peer.Send(big);
    });
    std::vector<char> buffer(100000, '#');
    EXPECT_TRUE(FetchResponse(kQuery, buffer.data(), static_cast<int>(buffer.size())));
    EXPECT_EQ(buffer[99999], 0);
    EXPECT_EQ(std::string(buffer.data()), big.substr(0, 99999));
}

TEST_F(Fetch, ServerClosingWithoutSendingGivesAnEmptyText) {
    loopback::TestServer server(loopback::kServiceIp,
                                [](loopback::Peer& peer) { peer.ReadRequest(); });
    std::vector<char> buffer(100, '#');
    EXPECT_TRUE(FetchResponse(kQuery, buffer.data(), static_cast<int>(buffer.size())));
    EXPECT_EQ(buffer[0], 0);
}

TEST_F(Fetch, NoConnectionLeavesTheBufferUntouched) {
    for (const char* address : {loopback::kServiceIp, "255.255.255.255"}) {
        serviceAddr = loopback::Address(address); // nobody listens; all ones: unresolved
        std::vector<char> buffer(100, '#');
        EXPECT_FALSE(FetchResponse(kQuery, buffer.data(), static_cast<int>(buffer.size())))
            << address;
        EXPECT_EQ(std::string(buffer.begin(), buffer.end()), std::string(100, '#')) << address;
    }
}

TEST_F(Fetch, BrokenConnectionIsNoResponse) {
    loopback::TestServer server(loopback::kServiceIp, [](loopback::Peer& peer) {
        peer.ReadRequest();
        peer.Send("HTTP/1.1 200 OK\r\nContent-");
        peer.Wait(50);
        peer.Reset();
    });
    std::vector<char> buffer(100, '#');
    EXPECT_FALSE(FetchResponse(kQuery, buffer.data(), static_cast<int>(buffer.size())));
    EXPECT_NE(memchr(buffer.data(), 0, buffer.size()), nullptr); // still a terminated text
}

TEST_F(Fetch, BufferOfOneByteHoldsTheEmptyText) {
    loopback::TestServer server(loopback::kServiceIp, [](loopback::Peer& peer) {
        peer.ReadRequest();
        peer.Send("HTTP/1.1 200 OK\r\n\r\n");
    });
    char buffer[1] = {'#'};
    EXPECT_TRUE(FetchResponse(kQuery, buffer, 1));
    EXPECT_EQ(buffer[0], 0);
}

} // namespace
