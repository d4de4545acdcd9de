// Starting programs (WinExec) and loading libraries over dlopen.
#include "compat/compat.h"
#include "compat/win32/files.h"
#include "compat/win32/process.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace compat {

namespace {

// The program name at the start of a command line, as the Windows start-up
// code reads it: to the closing quote when it begins with one, otherwise to
// the first character of code 32 or less. Returns where the arguments begin,
// after the blanks and control characters that follow the name.
const char* ScanProgramName(const char* p, const char** nameBegin, const char** nameEnd) {
    if (*p == '"') {
        *nameBegin = ++p;
        while (*p && *p != '"') {
            ++p;
        }
        *nameEnd = p;
        if (*p == '"') {
            ++p;
        }
    } else {
        *nameBegin = p;
        while (static_cast<unsigned char>(*p) > ' ') {
            ++p;
        }
        *nameEnd = p;
    }
    while (*p && static_cast<unsigned char>(*p) <= ' ') {
        ++p;
    }
    return p;
}

} // namespace

const char* ArgumentText(const char* commandLine) {
    const char *begin, *end;
    return ScanProgramName(commandLine ? commandLine : "", &begin, &end);
}

void SplitCommandLine(const char* commandLine, std::string& program, std::string& rest) {
    const char *begin, *end;
    rest = ScanProgramName(commandLine ? commandLine : "", &begin, &end);
    program.assign(begin, end);
}

} // namespace compat

namespace {

// Arguments as the C start-up code splits them: blanks separate, double
// quotes group, backslashes escape quotes only when they precede one.
std::vector<std::string> SplitArguments(const std::string& text) {
    std::vector<std::string> args;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
            ++i;
        }
        if (i >= text.size()) {
            break;
        }
        std::string arg;
        bool quoted = false;
        while (i < text.size() && (quoted || (text[i] != ' ' && text[i] != '\t'))) {
            size_t slashes = 0;
            while (i < text.size() && text[i] == '\\') {
                ++slashes;
                ++i;
            }
            if (i < text.size() && text[i] == '"') {
                arg.append(slashes / 2, '\\');
                if (slashes % 2) {
                    arg += '"';
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                arg.append(slashes, '\\');
                if (i < text.size() && (quoted || (text[i] != ' ' && text[i] != '\t'))) {
                    arg += text[i++];
                }
            }
        }
        args.push_back(arg);
    }
    return args;
}

std::string ExeFolder() {
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) {
        return ".";
    }
    std::string s(exe, static_cast<size_t>(n));
    size_t slash = s.rfind('/');
    return slash == std::string::npos ? "." : s.substr(0, slash);
}

// Tests may name a file in ZR_EXEC_LOG that records every start: the
// current directory, a tab and the command line, one start a line.
void LogStart(const char* commandLine, bool started) {
    const char* log = getenv("ZR_EXEC_LOG");
    if (!log || !*log || !started) {
        return;
    }
    char cwd[PATH_MAX];
    std::string line = std::string(getcwd(cwd, sizeof cwd) ? cwd : "?") + "\t" + commandLine + "\n";
    int fd = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd >= 0) {
        ssize_t ignored = write(fd, line.data(), line.size());
        (void)ignored;
        close(fd);
    }
}

} // namespace

UINT WinExec(LPCSTR commandLine, UINT) {
    std::string program, rest;
    compat::SplitCommandLine(commandLine, program, rest);
    std::string host;
    struct stat st;
    if (program.empty() || !compat::HostPath(program.c_str(), host) ||
        stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return 2; // ERROR_FILE_NOT_FOUND
    }
    // Windows runs any program file; the host wants the execute bit for it.
    if (access(host.c_str(), X_OK) != 0) {
        chmod(host.c_str(), (st.st_mode & 07777) | 0111);
    }
    std::vector<std::string> args = SplitArguments(rest);
    args.insert(args.begin(), host);
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    // A pipe closed on exec tells whether the program started.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return 0;
    }
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return 0;
    }
    if (pid == 0) {
        // A grandchild runs the program, so that nobody has to wait for it.
        if (fork() == 0) {
            setenv("ZR_COMMAND_LINE", commandLine, 1);
            execv(host.c_str(), argv.data());
            int err = errno;
            ssize_t ignored = write(fds[1], &err, sizeof err);
            (void)ignored;
            _exit(127);
        }
        _exit(0);
    }
    close(fds[1]);
    waitpid(pid, nullptr, 0);
    int err = 0;
    ssize_t n = read(fds[0], &err, sizeof err);
    close(fds[0]);
    bool started = n != static_cast<ssize_t>(sizeof err);
    LogStart(commandLine, started);
    return started ? 33 : 2;
}

HMODULE LoadLibraryA(LPCSTR name) {
    if (!name || !*name) {
        return nullptr;
    }
    std::string n(name);
    void* lib = nullptr;
    if (n.find('\\') == std::string::npos && n.find('/') == std::string::npos) {
        // The program's own folder first, then the current directory.
        lib = dlopen((ExeFolder() + "/" + n).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            lib = dlopen(("./" + n).c_str(), RTLD_NOW | RTLD_LOCAL);
        }
    } else {
        std::string host;
        if (compat::HostPath(name, host)) {
            lib = dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
        }
    }
    if (!lib) {
        compat::SetLastError(126); // ERROR_MOD_NOT_FOUND
    }
    return static_cast<HMODULE>(lib);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    if (!module || !name) {
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(dlsym(module, name));
}

BOOL FreeLibrary(HMODULE module) {
    return module && dlclose(module) == 0;
}

void Sleep(DWORD milliseconds) {
    timespec ts{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>((milliseconds % 1000) * 1000000L)};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

DWORD GetTickCount() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<DWORD>(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}
