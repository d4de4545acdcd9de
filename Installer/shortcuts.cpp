// The two "Zeta Rune" shortcuts to the updater, on the desktop and in the
// Start menu's Programs folder, and "setup.dat", the list of their paths that
// the updater's uninstall mode deletes.
#include "Installer/setup.h"

#include <cstring>

namespace {

const char kUserShellFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kCommonShellFolders[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kShortcutName[] = "\\Zeta Rune.lnk";

// Turns the folder text in `link` into the shortcut's full path. A folder
// that could not be read, or whose shortcut path would not fit, leaves the
// entry empty: a cut or folder-less path must never be listed, since the
// uninstall deletes what the list names.
bool CompleteLinkPath(bool folderRead, char* link) {
    if (!folderRead || strlen(link) + sizeof kShortcutName > MAX_PATH) {
        link[0] = 0;
        return false;
    }
    lstrcatA(link, kShortcutName);
    return true;
}

void ListAndCreate(HANDLE list, bool usable, const char* link, const char* target) {
    DWORD written;
    WriteFile(list, link, static_cast<DWORD>(strlen(link) + 1), &written, nullptr);
    if (usable && target) {
        CreateShortcut(target, link, kProductName);
    }
}

} // namespace

void MakeShortcuts() {
    HANDLE list = CreateFileA("setup.dat", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    CoInitialize(nullptr);

    char link[MAX_PATH];
    bool usable = CompleteLinkPath(
        ReadRegistryText(HKEY_CURRENT_USER, kUserShellFolders, "Desktop", link, sizeof link), link);

    // The target holds the folder and "\upd.exe"; a folder too long for that
    // gets no shortcut, as any shortcut that cannot be made.
    char target[MAX_PATH];
    const char* targetText = nullptr;
    if (strlen(installPath) + sizeof "\\upd.exe" <= sizeof target) {
        strcpy(target, installPath);
        lstrcatA(target, "\\upd.exe");
        targetText = target;
    }
    ListAndCreate(list, usable, link, targetText);

    bool read =
        ReadRegistryText(HKEY_LOCAL_MACHINE, kCommonShellFolders, "Common Programs", link,
                         sizeof link) ||
        ReadRegistryText(HKEY_CURRENT_USER, kUserShellFolders, "Programs", link, sizeof link);
    usable = CompleteLinkPath(read, link);
    ListAndCreate(list, usable, link, targetText);

    CoUninitialize();
    if (list != INVALID_HANDLE_VALUE) {
        CloseHandle(list);
    }
}

HRESULT CreateShortcut(const char* target, const char* shortcutPath, const char* description) {
    IShellLinkA* link = nullptr;
    HRESULT status = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IShellLinkA, reinterpret_cast<LPVOID*>(&link));
    if (FAILED(status)) {
        return status;
    }
    link->SetPath(target);
    link->SetWorkingDirectory(installPath);
    link->SetDescription(description);
    IPersistFile* file = nullptr;
    status = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(status)) {
        WCHAR widePath[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, shortcutPath, -1, widePath, MAX_PATH);
        status = file->Save(widePath, TRUE);
        file->Release();
    }
    link->Release();
    return status;
}
