#include "upd/net/tcp_network.h"
#include "upd/engine/service.h"

#include <cstring>

void TCP_Network::Startup() {
    WSADATA data;
    int result = WSAStartup(0x0002, &data);
    if (result == 0) {
        OutputDebugStringA("Winsock 2.0 supported!\n");
    } else if (result == WSAVERNOTSUPPORTED) {
        OutputDebugStringA("Winsock 2.0 not supported!\n");
    }
}

void TCP_Network::Cleanup() {
    WSACleanup();
}

uint32_t TCP_Network::GetHostByName(const char* name) {
    hostent* entry = name ? gethostbyname(name) : nullptr;
    if (!entry || entry->h_addrtype != AF_INET || entry->h_length != 4 || !entry->h_addr_list ||
        !entry->h_addr_list[0]) {
        OutputDebugStringA("TCP_Network::GetHostByName() error\n");
        return 0xFFFFFFFFu;
    }
    uint32_t address;
    memcpy(&address, entry->h_addr_list[0], sizeof address);
    return address;
}

bool TCP_Network::Connect(uint32_t address, unsigned short port) {
    sockaddr_in target;
    memset(&target, 0, sizeof target);
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = address;
    Close(); // an object connects once; never leak an earlier socket
    handle = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(handle, reinterpret_cast<sockaddr*>(&target), 16) == SOCKET_ERROR) {
        return false;
    }
    nonBlocking = true;
    u_long on = 1;
    ioctlsocket(handle, FIONBIO, &on);
    return true;
}

int TCP_Network::Send(const char* data, int length) {
    return send(handle, data, length, 0);
}

int TCP_Network::ReceiveSome(char* buffer, int capacity, int ms) {
    if (!WaitReadable(ms)) {
        return kNoDataYet;
    }
    int n = Recv(buffer, capacity);
    return n < 0 && recvWouldBlock ? kNoDataYet : n;
}

int TCP_Network::Recv(char* buffer, int capacity) {
    int result = recv(handle, buffer, capacity, 0);
    recvWouldBlock = result == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK;
    return result;
}

bool TCP_Network::WaitReadable(int ms) {
    if (handle == INVALID_SOCKET) {
        return false;
    }
#ifndef _WIN32
    // A BSD fd_set holds descriptors below FD_SETSIZE only; beyond that the
    // caller simply reads without waiting.
    if (handle >= FD_SETSIZE) {
        return true;
    }
#endif
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(handle, &readable);
    timeval limit;
    limit.tv_sec = ms > 0 ? ms / 1000 : 0;
    limit.tv_usec = ms > 0 ? (ms % 1000) * 1000 : 0;
    return select(static_cast<int>(handle) + 1, &readable, nullptr, nullptr, &limit) > 0;
}

void TCP_Network::Close() {
    if (handle != INVALID_SOCKET) {
        closesocket(handle);
        handle = INVALID_SOCKET;
        nonBlocking = false;
    }
}

void StartNetwork() {
    TCP_Network::Startup();
    serviceAddr = TCP_Network::GetHostByName(kUpdateServiceHost);
}

void StopNetwork() {
    TCP_Network::Cleanup();
}
