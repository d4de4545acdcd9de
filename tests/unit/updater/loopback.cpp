#include "tests/unit/updater/loopback.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

namespace loopback {

namespace {

bool WriteText(const char* path, const std::string& text) {
    FILE* f = fopen(path, "w");
    if (!f) {
        return false;
    }
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

std::string EnterOnce() {
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) {
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET) != 0) {
            return std::string("unshare: ") + strerror(errno);
        }
        WriteText("/proc/self/setgroups", "deny");
        WriteText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
        WriteText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return std::string("mount private: ") + strerror(errno);
    }
    char hosts[] = "/tmp/zr-hosts-XXXXXX";
    int fd = mkstemp(hosts);
    if (fd < 0) {
        return "mkstemp failed";
    }
    close(fd);
    std::string text = std::string("127.0.0.1 localhost\n") + kServiceIp +
                       " update.zetarune.com\n" + kFirstOfTwoIp + " two.test\n" + kSecondOfTwoIp +
                       " two.test\n";
    bool written = WriteText(hosts, text);
    chmod(hosts, 0644);
    int bound = written ? mount(hosts, "/etc/hosts", nullptr, MS_BIND, nullptr) : -1;
    unlink(hosts); // the bind mount keeps the file alive
    if (bound != 0) {
        return std::string("bind /etc/hosts: ") + strerror(errno);
    }
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request;
    memset(&request, 0, sizeof request);
    strcpy(request.ifr_name, "lo");
    bool up = s >= 0 && ioctl(s, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ioctl(s, SIOCSIFFLAGS, &request) == 0;
    if (s >= 0) {
        close(s);
    }
    return up ? "" : "cannot bring lo up";
}

} // namespace

bool Enter(std::string* why) {
    static const std::string failure = EnterOnce();
    if (why) {
        *why = failure;
    }
    return failure.empty();
}

uint32_t Address(const char* dotted) {
    in_addr a;
    inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

std::string Peer::ReadRequest() {
    std::string got;
    char chunk[512];
    while (got.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            break;
        }
        got.append(chunk, static_cast<size_t>(n));
    }
    return got;
}

void Peer::Send(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return; // the client has gone
        }
        sent += static_cast<size_t>(n);
    }
}

void Peer::Wait(int ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 10) > 0) {
            char c;
            if (recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0) {
                return;
            }
            char sink[256];
            if (recv(fd_, sink, sizeof sink, MSG_DONTWAIT) <= 0) {
                return;
            }
        }
    }
}

void Peer::Reset() {
    linger l{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

int Listen(const char* ip, int backlog) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(80);
    a.sin_addr.s_addr = Address(ip);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, backlog) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

TestServer::TestServer(const char* ip, std::function<void(Peer&)> script) {
    listenFd_ = Listen(ip, 4);
    if (listenFd_ < 0) {
        return;
    }
    int fd = listenFd_;
    thread_ = std::thread([this, fd, script] {
        int c = accept(fd, nullptr, nullptr);
        if (c < 0) {
            return;
        }
        Peer peer(c);
        script(peer);
        close(c);
    });
}

void TestServer::Join() {
    if (thread_.joinable()) {
        thread_.join();
    }
    if (listenFd_ >= 0) {
        close(listenFd_);
        listenFd_ = -1;
    }
}

TestServer::~TestServer() {
    if (thread_.joinable() && listenFd_ >= 0) {
        shutdown(listenFd_, SHUT_RDWR); // frees an accept that no client reached
    }
    Join();
}

} // namespace loopback
