// The "Select Directory" dialog: proposes a folder under Program Files and
// accepts the player's folder once it exists and can be entered.
#include "Installer/setup.h"
#include "Installer/res/resource.h"

#include <cstring>

HWND pathEdit;

namespace {

const char kInstallFolderName[] = "\\Zeta Rune";
// Used when the system does not say where its Program Files folder is.
const char kDefaultProgramFiles[] = "C:\\Program Files";

void ProposeFolder() {
    char text[MAX_PATH];
    bool read = ReadRegistryText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                                 "ProgramFilesDir", text, sizeof text);
    if (!read || strlen(text) + sizeof kInstallFolderName > sizeof text) {
        strcpy(text, kDefaultProgramFiles);
    }
    lstrcatA(text, kInstallFolderName);
    SendMessageA(pathEdit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void ConfirmFolder(HWND dialog) {
    installPath[0] = 0;
    SendMessageA(pathEdit, WM_GETTEXT, MAX_PATH, reinterpret_cast<LPARAM>(installPath));
    size_t length = strlen(installPath);
    if (length > 0 && installPath[length - 1] == '\\') {
        installPath[length - 1] = 0;
    }
    CreateDirectoryA(installPath, nullptr);
    if (SetCurrentDirectoryA(installPath)) {
        EndDialog(dialog, 1);
    } else {
        MessageBoxA(dialog, "Couldn't create directory!", "Error", MB_OK | MB_ICONERROR);
    }
}

} // namespace

INT_PTR CALLBACK SelectDirectoryDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        pathEdit = GetDlgItem(dialog, IDC_PATH_EDIT);
        ProposeFolder();
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            ConfirmFolder(dialog);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
