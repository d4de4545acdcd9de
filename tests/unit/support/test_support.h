// Helpers for host tests: a fresh compat root per test, host files, and
// running the built programs with input on standard input.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace zrtest {

// A temporary folder, removed with everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// A fresh stand-in machine: ZR_COMPAT_ROOT points at a new folder for the
// life of the object, and the process's current directory is restored.
class TempRoot {
  public:
    TempRoot();
    ~TempRoot();
    const std::string& root() const { return dir_.path(); }
    // Host path of a DOS path such as C:\Games.
    std::string Host(const std::string& dosPath) const;

  private:
    TempDir dir_;
    std::string oldCwd_;
};

bool ReadHostFile(const std::string& path, std::string& content);
std::string ReadHostFile(const std::string& path);
void WriteHostFile(const std::string& path, const std::string& content);
bool Exists(const std::string& path);
void MakeDirs(const std::string& path);

// Every file below `folder` with its content, by path relative to it.
std::map<std::string, std::string> Snapshot(const std::string& folder);

struct RunResult {
    int exitCode = -1;
    bool timedOut = false;
    std::string err;
};

// Runs `program` with `input` on standard input in the current compat root,
// with extra environment entries ("NAME=value"), for at most `timeoutMs`.
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::string& input, const std::vector<std::string>& env = {},
              int timeoutMs = 20000);

// The same inside a network namespace of its own with nothing but a
// loopback that is down: no name resolves and nothing leaves the machine.
RunResult RunOffline(const std::string& program, const std::vector<std::string>& args,
                     const std::string& input, const std::vector<std::string>& env = {},
                     int timeoutMs = 20000);

// A built program of this tree (ZR_BIN_DIR).
std::string BinPath(const std::string& name);

// Registry values of a key in the current root: name -> (type, bytes).
std::map<std::string, std::pair<unsigned, std::string>> RegistryValues(bool localMachine,
                                                                       const std::string& key);

} // namespace zrtest
