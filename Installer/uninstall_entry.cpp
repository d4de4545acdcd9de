// Records the game in the system's list of installed programs, with the
// command that starts the updater in its uninstall mode.
#include "Installer/setup.h"

#include <cstdio>
#include <cstring>

namespace {
const char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QPX Zeta Rune";
const char kCommandFormat[] = "%s\\upd.exe uninstall %s";
} // namespace

void AddUninstallEntry() {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    RegSetValueExA(key, "DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(kProductName),
                   sizeof kProductName);
    // Room for the folder twice at the longest that the dialog accepts, so the
    // command is never cut.
    char command[2 * (MAX_PATH - 1) + sizeof kCommandFormat];
    int length = snprintf(command, sizeof command, kCommandFormat, installPath, installPath);
    if (length > 0 && static_cast<size_t>(length) < sizeof command) {
        RegSetValueExA(key, "UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(command),
                       static_cast<DWORD>(length + 1));
    }
    RegCloseKey(key);
}
