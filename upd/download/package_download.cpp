#include "upd/download/package_download.h"
#include "upd/download/progress_dialog.h"
#include "upd/download/safe_names.h"
#include "upd/download/unpack.h"
#include "upd/engine/update_state.h"
#include "upd/net/http.h"
#include "upd/net/tcp_network.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef ZR_RECEIVE_TIMEOUT_MS
#define ZR_RECEIVE_TIMEOUT_MS 30000 // no byte for this long ends a package
#endif

namespace {

unsigned char* packageBlock; // one block, reused by every package of the run
int receivedBytes;           // the length of the last complete response

// How long one pass waits for the socket before it pumps messages again.
constexpr int kPollMs = 10;

} // namespace

void ReleasePackageBlock(UpdateSession& session) {
    free(packageBlock);
    packageBlock = nullptr;
    for (int i = 0; i < session.pendingCount && i < kMaxPackages; ++i) {
        session.buffers[i] = nullptr;
    }
}

void PrepareMirror(const char* mirror, UpdateSession& session) {
    const char* slash = strchr(mirror, '/');
    size_t hostLength = slash ? static_cast<size_t>(slash - mirror) : strlen(mirror);
    // A mirror without a path, or one whose parts do not fit or hold bytes
    // that cannot stand in a request, names no server: its packages fail to
    // connect.
    bool fits = slash && hostLength < sizeof session.host && strlen(slash) < sizeof session.path;
    if (fits) {
        memcpy(session.host, mirror, hostLength);
        session.host[hostLength] = 0;
        strcpy(session.path, slash);
        fits = session.host[0] && IsRequestSafe(session.host) && IsRequestSafe(session.path);
    }
    if (!fits) {
        session.host[0] = 0;
        strcpy(session.path, "/");
    }
    if (session.pendingEnd > 0) {
        session.serverAddr = 0xFFFFFFFFu;
        if (fits) {
            session.serverAddr = inet_addr(session.host);
            if (session.serverAddr == INADDR_NONE) {
                session.serverAddr = TCP_Network::GetHostByName(session.host);
            }
        }
    }
}

void DownloadPackages(UpdateSession& session) {
    const char* name = session.pendingNames;
    for (int i = 0; i < session.pendingCount && i < kMaxPackages; ++i) {
        char status[64];
        snprintf(status, sizeof status, "Please Wait (%d/%d)", i + 1, session.pendingCount);
        SetWindowTextA(statusText, status);
        SendMessageA(progressBar, PBM_SETPOS, 0, 0);
        if (!packageBlock) {
            packageBlock = static_cast<unsigned char*>(malloc(kPackageBlockSize));
        }
        session.buffers[i] = packageBlock;
        if (!packageBlock || !FetchPackage(session, name, packageBlock, i)) {
            updateOk = 0;
        }
        name += strlen(name) + 1;
    }
    if (session.pendingCount > kMaxPackages) {
        updateOk = 0; // more packages than one run can hold
    }
}

bool FetchPackage(UpdateSession& session, const char* name, unsigned char* block, int i) {
    char request[256];
    bool ok = IsRequestSafe(name) &&
              BuildPackageRequest(request, sizeof request, session.path, name, session.host) &&
              ReceiveWithProgress(session, request, block, kPackageBlockSize, i);
    char* text = reinterpret_cast<char*>(block);
    ok = ok && GetStatusCode(text) == 200 && StripHeaders(text, static_cast<size_t>(receivedBytes));
    if (!ok) {
        updateOk = 0;
        return false;
    }
    UnpackPackage(session, block, i);
    return true;
}

int BarPosition(int received, int length) {
    if (length <= 0) {
        return 0;
    }
    float percent = static_cast<float>(received) * 100.0f / static_cast<float>(length);
    return static_cast<int>(std::nearbyint(percent));
}

bool ReceiveWithProgress(UpdateSession& session, const char* request, unsigned char* block,
                         int capacity, int i) {
    if (!progressDialog) {
        return false;
    }
    TCP_Network net;
    if (!net.Connect(session.serverAddr, 80)) {
        net.Close();
        return false;
    }
    net.Send(request, static_cast<int>(strlen(request)));
    char* start = reinterpret_cast<char*>(block);
    char* write = start;
    int room = capacity - 1;
    const char* headerEnd = nullptr;
    int length = -1;
    DWORD lastData = GetTickCount();
    for (;;) {
        if (!progressDialog) {
            net.Close();
            return false;
        }
        PumpMessages();
        // A full block may still see the end of the stream; any further
        // byte means the response is larger than the block.
        char spare;
        int n = net.ReceiveSome(room > 0 ? write : &spare, room > 0 ? room : 1, kPollMs);
        if (n < 0) {
            if (n == SOCKET_ERROR ||
                GetTickCount() - lastData > static_cast<DWORD>(ZR_RECEIVE_TIMEOUT_MS)) {
                net.Close();
                return false;
            }
            continue;
        }
        if (room == 0 && n > 0) {
            net.Close();
            return false; // larger than the block
        }
        lastData = GetTickCount();
        write += n;
        room -= n;
        if (!headerEnd) {
            headerEnd = FindHeaderEnd(start, write);
            if (headerEnd) {
                // Read the length from the header block alone, ended for the
                // moment where the body begins (the block keeps a spare byte).
                char* end = start + (headerEnd - start);
                char saved = *end;
                *end = 0;
                length = GetContentLength(start);
                *end = saved;
                session.sizes[i] = length;
            }
        }
        int position = length >= 0 ? BarPosition(static_cast<int>(write - headerEnd), length) : 0;
        SendMessageA(progressBar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
        if (n == 0) {
            *write = 0;
            receivedBytes = static_cast<int>(write - start);
            net.Close();
            // The whole body must be there: no length, or fewer bytes than it
            // announces, is a broken package.
            return headerEnd && length >= 0 && write - headerEnd >= length;
        }
    }
}
