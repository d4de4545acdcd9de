// Terminal input for dialogs and the message queue: standard input read a
// line at a time, without waiting when the caller asks so.
#include "compat/compat.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace compat {
namespace {
std::string pending;
bool ended = false;
} // namespace

Input ReadInput(std::string& line, bool wait) {
    for (;;) {
        size_t nl = pending.find('\n');
        if (nl != std::string::npos) {
            line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return !line.empty() && line[0] == '\x1b' ? Input::Escape : Input::Line;
        }
        if (ended) {
            if (!pending.empty()) {
                line.swap(pending);
                pending.clear();
                return line[0] == '\x1b' ? Input::Escape : Input::Line;
            }
            return Input::End;
        }
        pollfd p{0, POLLIN, 0};
        int rc = poll(&p, 1, wait ? -1 : 0);
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        if (rc == 0) {
            return Input::None;
        }
        char buf[512];
        ssize_t n = read(0, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            ended = true;
            continue;
        }
        pending.append(buf, static_cast<size_t>(n));
    }
}

} // namespace compat
