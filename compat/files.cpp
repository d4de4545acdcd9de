// Files and folders over POSIX.
#include "compat/compat.h"
#include "compat/win32/files.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <strings.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FileHandle {
    unsigned magic;
    int fd;
};
constexpr unsigned kFileMagic = 0x46494c45;

unsigned long ErrorFromErrno(int e) {
    switch (e) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    default:
        return 31; // ERROR_GEN_FAILURE
    }
}

bool Map(LPCSTR name, std::string& host) {
    if (!compat::HostPath(name, host)) {
        compat::SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    return true;
}

BOOL Fail() {
    compat::SetLastError(ErrorFromErrno(errno));
    return FALSE;
}

FileHandle* AsFile(HANDLE h) {
    auto* f = static_cast<FileHandle*>(h);
    if (!f || h == INVALID_HANDLE_VALUE || f->magic != kFileMagic) {
        return nullptr;
    }
    return f;
}

} // namespace

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD, HANDLE) {
    std::string host;
    if (!Map(name, host)) {
        return INVALID_HANDLE_VALUE;
    }
    int flags = O_CLOEXEC;
    bool r = access & GENERIC_READ, w = access & GENERIC_WRITE;
    flags |= r && w ? O_RDWR : w ? O_WRONLY : O_RDONLY;
    switch (disposition) {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        flags |= O_TRUNC;
        break;
    default:
        break;
    }
    struct stat st;
    if (stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        compat::SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // Windows runs any .exe; the host needs the execute bit for that.
    size_t n = host.size();
    bool program = n > 4 && strcasecmp(host.c_str() + n - 4, ".exe") == 0;
    int fd = open(host.c_str(), flags, program ? 0777 : 0666);
    if (fd < 0) {
        Fail();
        return INVALID_HANDLE_VALUE;
    }
    return new FileHandle{kFileMagic, fd};
}

// Moves `count` bytes with repeated read or write calls, as one Windows call
// does for a file; a read stops early only at the end of the file.
template <typename Op> BOOL Transfer(HANDLE file, DWORD count, LPDWORD done, bool reading, Op op) {
    if (done) {
        *done = 0;
    }
    FileHandle* f = AsFile(file);
    if (!f) {
        compat::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD total = 0;
    while (total < count) {
        ssize_t n = op(f->fd, total);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0 && reading) {
            break;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC;
            }
            return Fail();
        }
        total += static_cast<DWORD>(n);
        if (done) {
            *done = total;
        }
    }
    return TRUE;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED) {
    return Transfer(file, count, done, true, [&](int fd, DWORD total) {
        return read(fd, static_cast<char*>(buffer) + total, count - total);
    });
}

BOOL WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD done, LPOVERLAPPED) {
    return Transfer(file, count, done, false, [&](int fd, DWORD total) {
        return write(fd, static_cast<const char*>(data) + total, count - total);
    });
}

BOOL FlushFileBuffers(HANDLE file) {
    FileHandle* f = AsFile(file);
    return f && fsync(f->fd) == 0;
}

BOOL CloseHandle(HANDLE handle) {
    FileHandle* f = AsFile(handle);
    if (!f) {
        compat::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    int rc = close(f->fd);
    f->magic = 0;
    delete f;
    return rc == 0;
}

BOOL DeleteFileA(LPCSTR name) {
    std::string host;
    if (!Map(name, host)) {
        return FALSE;
    }
    struct stat st;
    if (lstat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        compat::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return unlink(host.c_str()) == 0 ? TRUE : Fail();
}

BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    std::string a, b;
    if (!Map(from, a) || !Map(to, b)) {
        return FALSE;
    }
    struct stat st;
    if (!(flags & MOVEFILE_REPLACE_EXISTING) && lstat(b.c_str(), &st) == 0) {
        compat::SetLastError(183); // ERROR_ALREADY_EXISTS
        return FALSE;
    }
    // A read-only target refuses replacement, as on Windows.
    if (lstat(b.c_str(), &st) == 0 && !(st.st_mode & S_IWUSR)) {
        compat::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (rename(a.c_str(), b.c_str()) != 0) {
        return Fail();
    }
    // A program moved into place runs, as on Windows.
    size_t n = b.size();
    if (n > 4 && strcasecmp(b.c_str() + n - 4, ".exe") == 0 && stat(b.c_str(), &st) == 0) {
        chmod(b.c_str(), (st.st_mode & 07777) | 0111);
    }
    return TRUE;
}

DWORD GetFileAttributesA(LPCSTR name) {
    std::string host;
    struct stat st;
    if (!Map(name, host) || stat(host.c_str(), &st) != 0) {
        compat::SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (S_ISDIR(st.st_mode)) {
        return FILE_ATTRIBUTE_DIRECTORY;
    }
    return (st.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}

BOOL SetFileAttributesA(LPCSTR name, DWORD attributes) {
    std::string host;
    struct stat st;
    if (!Map(name, host) || stat(host.c_str(), &st) != 0) {
        return Fail();
    }
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~0222) : (mode | 0200);
    return chmod(host.c_str(), mode) == 0 ? TRUE : Fail();
}

BOOL CreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES) {
    std::string host;
    if (!Map(name, host)) {
        return FALSE;
    }
    return mkdir(host.c_str(), 0777) == 0 ? TRUE : Fail();
}

BOOL RemoveDirectoryA(LPCSTR name) {
    std::string host;
    if (!Map(name, host)) {
        return FALSE;
    }
    return rmdir(host.c_str()) == 0 ? TRUE : Fail();
}

BOOL SetCurrentDirectoryA(LPCSTR name) {
    std::string host;
    if (!Map(name, host)) {
        return FALSE;
    }
    struct stat st;
    if (stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        compat::SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    return chdir(host.c_str()) == 0 ? TRUE : Fail();
}

DWORD GetCurrentDirectoryA(DWORD capacity, LPSTR buffer) {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) {
        return 0;
    }
    std::string dos;
    const std::string& root = compat::Root();
    std::string c(cwd);
    if (c.compare(0, root.size() + 7, root + "/drive_") == 0 && c.size() >= root.size() + 8) {
        dos = std::string(1, static_cast<char>(toupper(c[root.size() + 7]))) + ":" +
              c.substr(root.size() + 8);
    } else {
        dos = "Z:" + c;
    }
    for (char& ch : dos) {
        if (ch == '/') {
            ch = '\\';
        }
    }
    if (dos.size() == 2) {
        dos += '\\';
    }
    if (dos.size() + 1 > capacity) {
        return static_cast<DWORD>(dos.size() + 1);
    }
    memcpy(buffer, dos.c_str(), dos.size() + 1);
    return static_cast<DWORD>(dos.size());
}

DWORD GetModuleFileNameA(HMODULE, LPSTR buffer, DWORD capacity) {
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0 || capacity == 0) {
        return 0;
    }
    std::string dos = "Z:" + std::string(exe, static_cast<size_t>(n));
    for (char& ch : dos) {
        if (ch == '/') {
            ch = '\\';
        }
    }
    size_t len = dos.size() < capacity - 1 ? dos.size() : capacity - 1;
    memcpy(buffer, dos.c_str(), len);
    buffer[len] = 0;
    return static_cast<DWORD>(len);
}
