#include "tests/unit/support/test_support.h"

#include "compat/compat.h"
#include "compat/platform.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace zrtest {

namespace {
int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    chmod(path, 0755);
    return remove(path);
}

long NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}
} // namespace

TempDir::TempDir() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/zrtest-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data())) {
        abort();
    }
    path_ = buf.data();
}

TempDir::~TempDir() {
    nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

TempRoot::TempRoot() {
    char cwd[PATH_MAX];
    oldCwd_ = getcwd(cwd, sizeof cwd) ? cwd : "/";
    setenv("ZR_COMPAT_ROOT", dir_.path().c_str(), 1);
    compat::ResetRoot();
    compat::Root();
}

TempRoot::~TempRoot() {
    if (chdir(oldCwd_.c_str()) != 0) {
        abort();
    }
    unsetenv("ZR_COMPAT_ROOT");
    compat::ResetRoot();
}

std::string TempRoot::Host(const std::string& dosPath) const {
    std::string host;
    return compat::HostPath(dosPath.c_str(), host) ? host : std::string();
}

bool ReadHostFile(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream s;
    s << in.rdbuf();
    content = s.str();
    return true;
}

std::string ReadHostFile(const std::string& path) {
    std::string content;
    ReadHostFile(path, content);
    return content;
}

void WriteHostFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

void MakeDirs(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            mkdir(path.substr(0, i).c_str(), 0777);
        }
    }
}

static void Walk(const std::string& base, const std::string& rel,
                 std::map<std::string, std::string>& out) {
    DIR* d = opendir((base + rel).c_str());
    if (!d) {
        return;
    }
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        std::string r = rel + "/" + name;
        struct stat st;
        if (lstat((base + r).c_str(), &st) != 0) {
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            out[r + "/"] = "";
            Walk(base, r, out);
        } else {
            out[r] = ReadHostFile(base + r);
        }
    }
    closedir(d);
}

std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> out;
    Walk(folder, "", out);
    return out;
}

RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::string& input, const std::vector<std::string>& env, int timeoutMs) {
    RunResult result;
    int in[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        return result;
    }
    std::vector<std::string> argStore{program};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStore) {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(err[1], 2);
        for (const auto& e : env) {
            putenv(strdup(e.c_str()));
        }
        setpgid(0, 0);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(in[0]);
    close(err[1]);
    signal(SIGPIPE, SIG_IGN);
    size_t sent = 0;
    if (input.empty()) {
        close(in[1]);
        in[1] = -1;
    }
    long deadline = NowMs() + timeoutMs;
    bool errOpen = true;
    while (errOpen) {
        long left = deadline - NowMs();
        if (left <= 0) {
            result.timedOut = true;
            kill(-pid, SIGKILL);
            break;
        }
        pollfd fds[2] = {{err[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
        int n = poll(fds, in[1] >= 0 ? 2 : 1, static_cast<int>(left));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (fds[0].revents) {
            char buf[4096];
            ssize_t r = read(err[0], buf, sizeof buf);
            if (r <= 0) {
                errOpen = false;
            } else {
                result.err.append(buf, static_cast<size_t>(r));
            }
        }
        if (in[1] >= 0 && fds[1].revents) {
            ssize_t w = write(in[1], input.data() + sent, input.size() - sent);
            if (w > 0) {
                sent += static_cast<size_t>(w);
            }
            if (w < 0 || sent == input.size()) {
                close(in[1]);
                in[1] = -1;
            }
        }
    }
    if (in[1] >= 0) {
        close(in[1]);
    }
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

RunResult RunOffline(const std::string& program, const std::vector<std::string>& args,
                     const std::string& input, const std::vector<std::string>& env, int timeoutMs) {
    std::vector<std::string> all{"-rn", "--", program};
    all.insert(all.end(), args.begin(), args.end());
    return Run("/usr/bin/unshare", all, input, env, timeoutMs);
}

std::string BinPath(const std::string& name) {
    return std::string(ZR_BIN_DIR) + "/" + name;
}

std::map<std::string, std::pair<unsigned, std::string>> RegistryValues(bool localMachine,
                                                                       const std::string& key) {
    std::map<std::string, std::pair<unsigned, std::string>> values;
    HKEY k;
    if (RegOpenKeyExA(localMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, key.c_str(), 0,
                      KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) {
        return values;
    }
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD nameSize = sizeof name, type = 0;
        BYTE data[4096];
        DWORD dataSize = sizeof data;
        if (RegEnumValueA(k, i, name, &nameSize, nullptr, &type, data, &dataSize) !=
            ERROR_SUCCESS) {
            break;
        }
        values[name] = {type, std::string(reinterpret_cast<char*>(data), dataSize)};
    }
    RegCloseKey(k);
    return values;
}

} // namespace zrtest
