// The updater's socket layer: one IPv4 TCP socket per HTTP exchange, plus
// starting and stopping the socket library and resolving names.
#pragma once

#include "compat/platform.h"

#include <cstdint>

class TCP_Network {
  public:
    TCP_Network() = default;
    ~TCP_Network() { Close(); }
    TCP_Network(const TCP_Network&) = delete;
    TCP_Network& operator=(const TCP_Network&) = delete;

    // Starts the socket library (version 2.0) and says on the debug output
    // whether that version is there.
    static void Startup();
    static void Cleanup();
    // The first IPv4 address of `name` in network byte order, or all ones.
    static uint32_t GetHostByName(const char* name);

    // Blocking connect to `address` (network byte order), `port` (host byte
    // order); on success the socket is switched to non-blocking mode. On
    // failure the socket stays open until Close.
    bool Connect(uint32_t address, unsigned short port);
    // One send call; its result unchanged.
    int Send(const char* data, int length);
    // One receive call: bytes stored, 0 once the peer has closed, or
    // SOCKET_ERROR, which on the non-blocking socket includes "no data yet".
    int Recv(char* buffer, int capacity);
    // Whether the last SOCKET_ERROR from Recv only meant that no data had
    // arrived yet, as opposed to a broken connection.
    bool LastRecvWouldBlock() const { return recvWouldBlock; }
    // Waits at most `ms` milliseconds until a Recv would not block (data,
    // end of stream or an error is there); true when it would not.
    bool WaitReadable(int ms);
    // One pass of a receive loop: waits at most `ms` for the socket, then
    // reads once it has something. The bytes stored, 0 at the end of the
    // stream, kNoDataYet when nothing came within the wait, or SOCKET_ERROR
    // for a broken connection.
    static constexpr int kNoDataYet = -2;
    int ReceiveSome(char* buffer, int capacity, int ms);
    // Closes the socket if one is open; may be called any number of times.
    void Close();

    SOCKET handle = INVALID_SOCKET;
    bool nonBlocking = false;

  private:
    bool recvWouldBlock = false;
};

// Once at the start of an update run: the socket library, then serviceAddr.
void StartNetwork();
// Once at the end of an update run, on every path after StartNetwork.
void StopNetwork();
