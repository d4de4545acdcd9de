// Windows Sockets names over BSD sockets. Starting and stopping the socket
// library do nothing and succeed.
#pragma once

#include "compat/win32/base.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/types.h>

typedef int SOCKET;
#define INVALID_SOCKET (-1)
#define SOCKET_ERROR (-1)
#define WSAEWOULDBLOCK 10035
#define WSAVERNOTSUPPORTED 10092

typedef struct WSAData {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
} WSADATA, *LPWSADATA;

int WSAStartup(WORD version, LPWSADATA data);
int WSACleanup();
int WSAGetLastError();
int closesocket(SOCKET s);
int ioctlsocket(SOCKET s, long command, u_long* argument);
