// The setup program's entry flow: confirm the folder, write the payloads, make
// the shortcuts and the uninstall entry, start the updater.
#include "Installer/setup.h"
#include "Installer/res/resource.h"

char installPath[MAX_PATH];

int WINAPI RunSetup(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    InitCommonControls();
    INT_PTR confirmed = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SELECT_DIRECTORY),
                                        GetDesktopWindow(), SelectDirectoryDialogProc, 0);
    // Only a successful OK makes the confirmed folder the current directory;
    // Cancel and a dialog that could not be shown at all leave everything as it was.
    if (confirmed != 1) {
        return 0;
    }
    WriteWholeFile("upd.exe", updaterPayload_size, updaterPayload);
    WriteWholeFile("unrar.dll", unrarPayload_size, unrarPayload);
    MakeShortcuts();
    AddUninstallEntry();
    WinExec("\"upd.exe\"", SW_SHOW);
    return 0;
}
