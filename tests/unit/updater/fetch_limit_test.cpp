// FetchResponse's idle limit, built short for these tests (see CMakeLists).
#include "tests/unit/updater/loopback.h"
#include "upd/engine/service.h"
#include "upd/net/http.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

double CpuMs() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

constexpr char kQuery[] = "GET /zru/ver.php?k=1 HTTP/1.1\r\nHost: update.zetarune.com\r\n"
                          "Connection: close\r\n\r\n";

struct FetchLimit : testing::Test {
    void SetUp() override {
        std::string why;
        if (!loopback::Enter(&why)) {
            GTEST_SKIP() << "no private network: " << why;
        }
        serviceAddr = loopback::Address(loopback::kServiceIp);
    }
};

TEST_F(FetchLimit, SilentServerEndsTheExchangeWithoutBurningACore) {
    loopback::TestServer server(loopback::kServiceIp, [](loopback::Peer& peer) {
        peer.ReadRequest();
        peer.Wait(10000); // returns once the client gives up
    });
    std::vector<char> buffer(100000, '#');
    auto start = Clock::now();
    double cpuStart = CpuMs();
    EXPECT_FALSE(FetchResponse(kQuery, buffer.data(), static_cast<int>(buffer.size())));
    double cpu = CpuMs() - cpuStart;
    long long elapsed = MsSince(start);
    EXPECT_GE(elapsed, ZR_FETCH_IDLE_LIMIT_MS - 10);
    EXPECT_LT(elapsed, ZR_FETCH_IDLE_LIMIT_MS + 3000);
    EXPECT_LT(cpu, elapsed * 0.3) << "the read loop spins instead of waiting";
    EXPECT_EQ(buffer[0], 0);
}

TEST_F(FetchLimit, SilenceAfterPartOfTheResponseStillFails) {
    loopback::TestServer server(loopback::kServiceIp, [](loopback::Peer& peer) {
        peer.ReadRequest();
        peer.Send("HTTP/1.1 200 OK\r\n");
        peer.Wait(10000);
    });
    std::vector<char> buffer(100, '#');
    EXPECT_FALSE(FetchResponse(kQuery, buffer.data(), static_cast<int>(buffer.size())));
    EXPECT_STREQ(buffer.data(), "HTTP/1.1 200 OK\r\n");
}

TEST_F(FetchLimit, TheLimitCountsSilenceNotTheWholeExchange) {
    // Five pieces with gaps of 60% of the limit: three times the limit in all.
    loopback::TestServer server(loopback::kServiceIp, [](loopback::Peer& peer) {
        peer.ReadRequest();
        for (int i = 0; i < 5; ++i) {
            peer.Wait(ZR_FETCH_IDLE_LIMIT_MS * 6 / 10);
            peer.Send(std::string(1, static_cast<char>('a' + i)));
        }
    });
    std::vector<char> buffer(100, '#');
    auto start = Clock::now();
    EXPECT_TRUE(FetchResponse(kQuery, buffer.data(), static_cast<int>(buffer.size())));
    EXPECT_GE(MsSince(start), ZR_FETCH_IDLE_LIMIT_MS * 2);
    EXPECT_STREQ(buffer.data(), "abcde");
}

} // namespace
