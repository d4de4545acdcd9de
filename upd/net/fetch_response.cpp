#include "upd/engine/service.h"
#include "upd/net/http.h"
#include "upd/net/tcp_network.h"

#include <cstring>

// How long the version exchange waits without receiving a byte before it
// gives up. Tests build with a shorter limit.
#ifndef ZR_FETCH_IDLE_LIMIT_MS
#define ZR_FETCH_IDLE_LIMIT_MS 30000
#endif

namespace {

// How long one pass waits for data before it reads again and checks the
// clock; keeps the loop from spinning on a silent socket.
constexpr int kPollMs = 5;

} // namespace

bool FetchResponse(const char* request, char* buffer, int size) {
    if (size < 1) {
        return false;
    }
    TCP_Network net;
    if (!net.Connect(serviceAddr, 80)) {
        net.Close();
        return false;
    }
    net.Send(request, static_cast<int>(strlen(request)));
    char* write = buffer;
    int room = size - 1;
    bool complete = true;
    DWORD lastData = GetTickCount();
    while (room > 0) {
        int n = net.ReceiveSome(write, room, kPollMs);
        if (n == 0) {
            break;
        }
        if (n > 0) {
            write += n;
            room -= n;
            lastData = GetTickCount();
            continue;
        }
        if (n == SOCKET_ERROR ||
            GetTickCount() - lastData >= static_cast<DWORD>(ZR_FETCH_IDLE_LIMIT_MS)) {
            complete = false;
            break;
        }
    }
    *write = 0;
    net.Close();
    return complete;
}
