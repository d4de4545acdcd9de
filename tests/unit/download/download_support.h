// Helpers for the download, unpack and write tests: packages made with rar
// at test time, a mirror that serves many connections one after another,
// the scrambled "ver.dat", standard input held open, and the built updater
// run as a process of its own.
#pragma once

#include "tests/unit/updater/loopback.h"

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <utility>
#include <vector>

namespace dltest {

// The mirror of these tests: packages live under /pkgs/ on this address.
constexpr const char* kMirrorIp = "127.0.0.3";
constexpr const char* kMirrorEntry = "'127.0.0.3/pkgs/'";

// Standard input of this process is a pipe that stays open, so the message
// queue never sees its end (which would be Escape). Bytes written here reach
// the dialogs as typed input.
int InputWriter();

// A response with status `status` and a Content-Length that fits `body`.
std::string Response(const std::string& body, int status = 200);
// A manifest response: the given body with status 200.
std::string ManifestResponse(const std::string& body);

// "ver.dat" as the updater stores it, from its plain text, and back.
std::string Scramble(std::string text);

// Runs a program with `args` in `cwd`, its output dropped; its exit code.
// With `output`, its standard output goes there instead.
int RunTool(const std::vector<std::string>& args, const std::string& cwd,
            std::string* output = nullptr);

// A folder where archives are made: files are written into it, rar runs
// in it, and the archive's bytes are read back.
class ArchiveMaker {
  public:
    explicit ArchiveMaker(const std::string& folder) : folder_(folder) {}
    // Writes `content` to `name` below the folder (folder parts are made).
    void File(const std::string& name, const std::string& content) const;
    void Folder(const std::string& name) const;
    // `rar a -idq <options> <archive> <names>`: adds to the archive (made
    // when missing); false when rar fails.
    bool Add(const std::string& archive, const std::vector<std::string>& options,
             const std::vector<std::string>& names) const;
    std::string Read(const std::string& archive) const;
    // The entry names as rar lists them (`rar lb`), one per line.
    std::string Names(const std::string& archive) const;
    // One stored (-m0 -ep) archive of one file, as the studio publishes.
    std::string Package(const std::string& name, const std::string& content) const;
    // The same, its content grown or cut so that the archive has `size`
    // bytes; the content in `content`.
    std::string PackageOfSize(const std::string& name, size_t size, std::string* content) const;
    const std::string& folder() const { return folder_; }

  private:
    std::string folder_;
};

// Listens on `ip`:80 and serves connection after connection on a thread,
// each by the script for its request target (a 404 for any other), until it
// is destroyed. Records every request target in arrival order.
class Mirror {
  public:
    using Script = std::function<void(loopback::Peer&)>;
    Mirror(const char* ip, std::map<std::string, Script> scripts);
    ~Mirror();
    Mirror(const Mirror&) = delete;
    Mirror& operator=(const Mirror&) = delete;
    bool listening() const { return listenFd_ >= 0; }
    std::vector<std::string> Requests() const;

  private:
    void Serve();
    int listenFd_ = -1;
    std::map<std::string, Script> scripts_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// A script that sends `bytes` at once.
Mirror::Script Sends(const std::string& bytes);

// A program of the tree started in `cwd` with standard input a pipe that
// stays open until Finish, and standard error going to a file.
class Program {
  public:
    Program(const std::string& exe, const std::string& cwd, const std::string& errFile);
    ~Program();
    // The write end of the program's standard input.
    int input() const { return inputFd_; }
    // Waits for the end, at most `timeoutMs` (then kills it); the exit
    // code, -1 after a kill or a signal.
    int Finish(int timeoutMs);

  private:
    pid_t pid_ = -1;
    int inputFd_ = -1;
};

} // namespace dltest
