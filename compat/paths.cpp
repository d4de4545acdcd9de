// The compat root and DOS-style path mapping.
#include "compat/compat.h"
#include "compat/win32/registry.h"

#include <cctype>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace compat {
namespace {

std::string cachedRoot;

void MakeFolders(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            mkdir(path.substr(0, i).c_str(), 0777);
        }
    }
}

void SetText(HKEY root, const char* key, const char* name, const char* value) {
    HKEY k = nullptr;
    if (RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) ==
        ERROR_SUCCESS) {
        std::string v(value);
        RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                       static_cast<DWORD>(v.size() + 1));
        RegCloseKey(k);
    }
}

// A new root gets the folders and values that a fresh Windows machine has.
void Seed(const std::string& root) {
    MakeFolders(root + "/drive_c/Program Files");
    MakeFolders(root + "/drive_c/users/player/Desktop");
    MakeFolders(root + "/drive_c/users/player/Start Menu/Programs");
    MakeFolders(root + "/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs");
    const char* cv = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    const char* userFolders =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    const char* commonFolders =
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    SetText(HKEY_LOCAL_MACHINE, cv, "ProgramFilesDir", "C:\\Program Files");
    SetText(HKEY_CURRENT_USER, userFolders, "Desktop", "C:\\users\\player\\Desktop");
    SetText(HKEY_CURRENT_USER, userFolders, "Programs", "C:\\users\\player\\Start Menu\\Programs");
    SetText(HKEY_LOCAL_MACHINE, commonFolders, "Common Programs",
            "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs");
}

} // namespace

const std::string& Root() {
    if (!cachedRoot.empty()) {
        return cachedRoot;
    }
    const char* env = getenv("ZR_COMPAT_ROOT");
    std::string root;
    if (env && *env) {
        root = env;
    } else if (const char* data = getenv("XDG_DATA_HOME"); data && *data) {
        root = std::string(data) + "/zetarune-compat";
    } else {
        const char* home = getenv("HOME");
        root = std::string(home && *home ? home : "/tmp") + "/.local/share/zetarune-compat";
    }
    if (root[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) {
            root = std::string(cwd) + "/" + root;
        }
    }
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    MakeFolders(root + "/drive_c");
    cachedRoot = root;
    struct stat st;
    if (stat((root + "/registry.txt").c_str(), &st) != 0) {
        Seed(root);
    }
    return cachedRoot;
}

void ResetRoot() {
    cachedRoot.clear();
}

static bool IsReservedDevice(const std::string& component) {
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && (base.back() == ' ')) {
        base.pop_back();
    }
    std::string up;
    for (char c : base) {
        up += static_cast<char>(toupper(static_cast<unsigned char>(c)));
    }
    if (up == "CON" || up == "PRN" || up == "AUX" || up == "NUL") {
        return true;
    }
    return up.size() == 4 && (up.compare(0, 3, "COM") == 0 || up.compare(0, 3, "LPT") == 0) &&
           up[3] >= '1' && up[3] <= '9';
}

bool HostPath(const char* dosPath, std::string& hostPath) {
    if (!dosPath || !*dosPath) {
        return false;
    }
    std::string p(dosPath);
    for (char& c : p) {
        if (c == '\\') {
            c = '/';
        }
    }
    if (p.size() >= 2 && p[0] == '/' && p[1] == '/') {
        return false; // UNC and device namespaces name no host file
    }
    std::string prefix;
    if (p.size() >= 2 && isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':') {
        char drive = static_cast<char>(tolower(static_cast<unsigned char>(p[0])));
        prefix = drive == 'z' ? std::string() : Root() + "/drive_" + drive;
        p = p.substr(2);
        if (p.empty() || p[0] != '/') {
            p = "/" + p;
        }
    } else if (!p.empty() && p[0] == '/') {
        // Rooted without a drive: the drive of the current directory.
        char cwd[4096];
        std::string c = getcwd(cwd, sizeof cwd) ? cwd : "/";
        const std::string& root = Root();
        if (c.compare(0, root.size() + 7, root + "/drive_") == 0 && c.size() >= root.size() + 8) {
            prefix = c.substr(0, root.size() + 8);
        }
    }
    // Device names stand for devices in any folder; they map to no file.
    size_t start = 0;
    while (start <= p.size()) {
        size_t end = p.find('/', start);
        if (end == std::string::npos) {
            end = p.size();
        }
        if (end > start && IsReservedDevice(p.substr(start, end - start))) {
            return false;
        }
        start = end + 1;
    }
    hostPath = prefix + p;
    if (hostPath.empty()) {
        hostPath = "/";
    }
    return true;
}

} // namespace compat
