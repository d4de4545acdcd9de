// A private network for socket tests: the process moves into its own network
// and mount namespaces with loopback up and its own /etc/hosts, so port 80
// and fixed host names can be served without touching the machine.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace loopback {

// The hosts file of the private network.
constexpr const char* kServiceIp = "127.0.0.2";    // update.zetarune.com
constexpr const char* kFirstOfTwoIp = "127.0.0.9"; // first line for two.test
constexpr const char* kSecondOfTwoIp = "127.0.0.6";

// Enters the private network once per process; false (with `why`) when the
// system refuses namespaces, in which case tests skip.
bool Enter(std::string* why);

// An IPv4 text as the 32-bit value in network byte order.
uint32_t Address(const char* dotted);

// A listening socket on `ip`, port 80, or -1.
int Listen(const char* ip, int backlog);

// What one accepted connection of a TestServer does, on the server's side.
class Peer {
  public:
    explicit Peer(int fd) : fd_(fd) {}
    // Reads until the request's blank line (or end); returns what came.
    std::string ReadRequest();
    void Send(const std::string& bytes);
    // Sleeps in small steps; returns early once the client has closed.
    void Wait(int ms);
    // Ends the connection with a reset instead of an orderly close.
    void Reset();
    int fd() const { return fd_; }

  private:
    int fd_;
};

// Listens on `ip`:80 and serves exactly one connection with `script` on a
// thread; the connection is closed when the script returns.
class TestServer {
  public:
    TestServer(const char* ip, std::function<void(Peer&)> script);
    ~TestServer();
    bool listening() const { return listenFd_ >= 0; }
    // Waits until the script has finished and stops listening.
    void Join();

  private:
    int listenFd_ = -1;
    std::thread thread_;
};

} // namespace loopback
