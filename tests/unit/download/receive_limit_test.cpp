// The receive time limit, built short for these tests (see CMakeLists): a
// mirror that stops sending fails its package once the limit has passed.
#include "tests/unit/download/download_step.h"

#include <chrono>
#include <ctime>

namespace {

using Clock = std::chrono::steady_clock;
using dltest::DownloadStep;
using ReceiveLimit = DownloadStep;

double CpuMs() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

TEST_F(ReceiveLimit, AStalledMirrorFailsThePackageAfterTheLimit) {
    std::string package = maker.Package("game.dat", std::string(20000, 'g'));
    std::string whole = dltest::Response(package);
    const struct {
        const char* what;
        size_t sent; // bytes of the answer before the mirror falls silent
    } table[] = {
        {"silent from the start", 0},
        {"silent inside the headers", 20},
        {"silent inside the body", whole.size() - 100},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(c.what);
        updateOk = 1;
        InitNameLists(*session);
        std::string part = whole.substr(0, c.sent);
        dltest::Mirror mirror(dltest::kMirrorIp,
                              {{"/pkgs/game.dat.rar", [part](loopback::Peer& peer) {
                                    peer.Send(part);
                                    peer.Wait(15000);
                                }}});
        ASSERT_TRUE(mirror.listening());
        auto start = Clock::now();
        double cpuStart = CpuMs();

        Download({"game.dat.rar"});

        long long elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        double cpu = CpuMs() - cpuStart;
        EXPECT_EQ(updateOk, 0);
        EXPECT_GE(elapsed, ZR_RECEIVE_TIMEOUT_MS - 10);
        EXPECT_LT(elapsed, ZR_RECEIVE_TIMEOUT_MS + 3000);
        EXPECT_LT(cpu, elapsed * 0.3) << "the receive loop spins instead of waiting";
        EXPECT_EQ(zrtest::Snapshot(folder), (std::map<std::string, std::string>{}));
    }
}

TEST_F(ReceiveLimit, AMirrorThatKeepsSendingIsNotCutOff) {
    // Slow but never silent for the limit: each piece resets it.
    std::string content(40000, 's');
    std::string whole = dltest::Response(maker.Package("slow.dat", content));
    dltest::Mirror mirror(dltest::kMirrorIp, {{"/pkgs/slow.dat.rar", [whole](loopback::Peer& peer) {
                                                   const size_t piece = whole.size() / 6 + 1;
                                                   for (size_t at = 0; at < whole.size();
                                                        at += piece) {
                                                       peer.Send(whole.substr(at, piece));
                                                       peer.Wait(ZR_RECEIVE_TIMEOUT_MS / 2);
                                                   }
                                               }}});
    ASSERT_TRUE(mirror.listening());
    auto start = Clock::now();

    Download({"slow.dat.rar"});

    EXPECT_EQ(updateOk, 1);
    EXPECT_GT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(),
              ZR_RECEIVE_TIMEOUT_MS * 2);
    EXPECT_EQ(zrtest::Snapshot(folder),
              (std::map<std::string, std::string>{{"/slow.dat", content}}));
}

} // namespace
