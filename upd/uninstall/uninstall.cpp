#include "upd/uninstall/uninstall.h"
#include "compat/platform.h"

#include <cstring>

namespace {

const char kUninstallParent[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kEntryKey[] = "QPX Zeta Rune";
const char kShortcutName[] = "\\Zeta Rune.lnk";

enum class Entry { Complete, Cut, Missing };

// Reads one entry, a byte at a time, up to and including its zero byte. An
// entry longer than the buffer is read to its end but reported cut; so is
// one that the file ends inside.
Entry ReadEntry(HANDLE list, char* path, size_t room) {
    size_t length = 0;
    bool overlong = false;
    for (;;) {
        char cell;
        DWORD read = 0;
        if (!ReadFile(list, &cell, 1, &read, nullptr) || read != 1) {
            return length == 0 && !overlong ? Entry::Missing : Entry::Cut;
        }
        if (length < room) {
            path[length++] = cell;
        } else {
            overlong = true;
        }
        if (cell == 0) {
            return overlong ? Entry::Cut : Entry::Complete;
        }
    }
}

// Only the shortcut files that the setup program made are deleted.
bool IsShortcutPath(const char* path) {
    size_t length = strlen(path), suffix = sizeof kShortcutName - 1;
    return length > suffix && strcmp(path + length - suffix, kShortcutName) == 0;
}

void DeleteListedShortcut(HANDLE list) {
    char path[MAX_PATH];
    if (ReadEntry(list, path, sizeof path) == Entry::Complete && IsShortcutPath(path)) {
        DeleteFileA(path);
    }
}

} // namespace

bool IsUninstallCommand(const char* arguments, const char** folder) {
    const char* word = strstr(arguments, "uninstall");
    if (!word) {
        return false;
    }
    // "uninstall" and the one character after it; the rest is the folder.
    *folder = word[9] ? word + 10 : word + 9;
    return true;
}

void RunUninstallMode(const char* folder) {
    if (SetCurrentDirectoryA(folder)) {
        RunUninstall();
    }
}

void RunUninstall() {
    HANDLE list = CreateFileA("setup.dat", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (list != INVALID_HANDLE_VALUE) {
        DeleteListedShortcut(list);
        DeleteListedShortcut(list);
        CloseHandle(list);
    }
    HKEY parent;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallParent, 0, KEY_ALL_ACCESS, &parent) ==
        ERROR_SUCCESS) {
        RegDeleteKeyA(parent, kEntryKey);
        RegCloseKey(parent);
    }
}
