// Windows Sockets calls that BSD sockets name differently.
#include "compat/win32/net.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

int WSAStartup(WORD version, LPWSADATA data) {
    if (data) {
        memset(data, 0, sizeof *data);
        data->wVersion = version;
        data->wHighVersion = MAKEWORD(2, 2);
    }
    return 0;
}

int WSACleanup() {
    return 0;
}

int WSAGetLastError() {
    return errno == EAGAIN || errno == EWOULDBLOCK ? WSAEWOULDBLOCK : errno;
}

int closesocket(SOCKET s) {
    return close(s);
}

int ioctlsocket(SOCKET s, long command, u_long* argument) {
    if (command != static_cast<long>(FIONBIO) || !argument) {
        errno = EINVAL;
        return SOCKET_ERROR;
    }
    int on = *argument ? 1 : 0;
    return ioctl(s, FIONBIO, &on) == 0 ? 0 : SOCKET_ERROR;
}
