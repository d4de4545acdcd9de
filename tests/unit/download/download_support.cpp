#include "tests/unit/download/download_support.h"

#include "tests/unit/support/test_support.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dltest {

namespace {

int MakeInputPipe() {
    signal(SIGPIPE, SIG_IGN); // a write to a peer that has gone fails instead
    int fds[2];
    if (pipe(fds) != 0 || dup2(fds[0], 0) < 0) {
        abort();
    }
    close(fds[0]);
    fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    return fds[1];
}

// Before main: no dialog may ever see the end of the test runner's input.
const int inputWriter = MakeInputPipe();

std::string Slurp(const std::string& path) {
    return zrtest::ReadHostFile(path);
}

} // namespace

int InputWriter() {
    return inputWriter;
}

std::string Response(const std::string& body, int status) {
    const char* reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Status";
    return "HTTP/1.1 " + std::to_string(status) + " " + reason +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
           body;
}

std::string ManifestResponse(const std::string& body) {
    return Response(body);
}

std::string Scramble(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(c ^ 0xA6);
    }
    return text;
}

int RunTool(const std::vector<std::string>& args, const std::string& cwd, std::string* output) {
    std::vector<std::string> store(args);
    std::vector<char*> argv;
    for (auto& a : store) {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    int out[2] = {-1, -1};
    if (output && pipe2(out, O_CLOEXEC) != 0) {
        return -1;
    }
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(output ? out[1] : null, 1);
        dup2(null, 2);
        if (chdir(cwd.c_str()) != 0) {
            _exit(126);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (output) {
        close(out[1]);
        output->clear();
        char buf[4096];
        ssize_t n;
        while ((n = read(out[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)) {
            if (n > 0) {
                output->append(buf, static_cast<size_t>(n));
            }
        }
        close(out[0]);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ArchiveMaker::File(const std::string& name, const std::string& content) const {
    std::string path = folder_ + "/" + name;
    size_t slash = path.rfind('/');
    zrtest::MakeDirs(path.substr(0, slash));
    zrtest::WriteHostFile(path, content);
}

void ArchiveMaker::Folder(const std::string& name) const {
    zrtest::MakeDirs(folder_ + "/" + name);
}

bool ArchiveMaker::Add(const std::string& archive, const std::vector<std::string>& options,
                       const std::vector<std::string>& names) const {
    std::vector<std::string> args{"rar", "a", "-idq", "-y"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(archive);
    args.insert(args.end(), names.begin(), names.end());
    return RunTool(args, folder_) == 0;
}

std::string ArchiveMaker::Read(const std::string& archive) const {
    return Slurp(folder_ + "/" + archive);
}

std::string ArchiveMaker::Names(const std::string& archive) const {
    std::string names;
    RunTool({"rar", "lb", archive}, folder_, &names);
    return names;
}

std::string ArchiveMaker::Package(const std::string& name, const std::string& content) const {
    static int serial = 0;
    std::string archive = "package" + std::to_string(++serial) + ".rar";
    File(name, content);
    if (!Add(archive, {"-m0", "-ep"}, {name})) {
        return std::string();
    }
    std::string bytes = Read(archive);
    unlink((folder_ + "/" + archive).c_str());
    unlink((folder_ + "/" + name).c_str());
    return bytes;
}

std::string ArchiveMaker::PackageOfSize(const std::string& name, size_t size,
                                        std::string* content) const {
    // Stored, the archive grows byte for byte with its content.
    size_t length = size / 2;
    for (int attempt = 0; attempt < 8; ++attempt) {
        content->clear();
        for (size_t i = 0; i < length; ++i) {
            *content += static_cast<char>('a' + i % 26);
        }
        std::string bytes = Package(name, *content);
        if (bytes.size() == size || bytes.empty()) {
            return bytes;
        }
        long next =
            static_cast<long>(length) + static_cast<long>(size) - static_cast<long>(bytes.size());
        if (next <= 0) {
            return std::string();
        }
        length = static_cast<size_t>(next);
    }
    return std::string();
}

Mirror::Mirror(const char* ip, std::map<std::string, Script> scripts)
    : scripts_(std::move(scripts)) {
    listenFd_ = loopback::Listen(ip, 8);
    if (listenFd_ < 0) {
        return;
    }
    thread_ = std::thread([this] { Serve(); });
}

void Mirror::Serve() {
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) {
            continue;
        }
        int c = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) {
            continue;
        }
        loopback::Peer peer(c);
        std::string request = peer.ReadRequest();
        std::string target;
        if (request.compare(0, 4, "GET ") == 0) {
            size_t end = request.find(' ', 4);
            target = request.substr(4, end == std::string::npos ? std::string::npos : end - 4);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(target);
        }
        auto script = scripts_.find(target);
        if (script != scripts_.end()) {
            script->second(peer);
        } else {
            peer.Send(Response("no such package", 404));
        }
        close(c);
    }
}

Mirror::~Mirror() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (listenFd_ >= 0) {
        close(listenFd_);
    }
}

std::vector<std::string> Mirror::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

Mirror::Script Sends(const std::string& bytes) {
    return [bytes](loopback::Peer& peer) { peer.Send(bytes); };
}

Program::Program(const std::string& exe, const std::string& cwd, const std::string& errFile) {
    int in[2];
    if (pipe2(in, O_CLOEXEC) != 0) {
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in[0], 0);
        dup2(err, 2);
        if (chdir(cwd.c_str()) != 0) {
            _exit(126);
        }
        setpgid(0, 0);
        execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    inputFd_ = in[1];
}

int Program::Finish(int timeoutMs) {
    if (pid_ <= 0) {
        return -1;
    }
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    bool killed = false;
    for (;;) {
        pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            break;
        }
        if (std::chrono::steady_clock::now() > until && !killed) {
            kill(-pid_, SIGKILL);
            killed = true;
        }
        usleep(10000);
    }
    pid_ = -1;
    if (inputFd_ >= 0) {
        close(inputFd_);
        inputFd_ = -1;
    }
    return !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Program::~Program() {
    if (pid_ > 0) {
        Finish(0);
    }
    if (inputFd_ >= 0) {
        close(inputFd_);
    }
}

} // namespace dltest
