#include "upd/engine/main_flow.h"
#include "upd/download/file_commit.h"
#include "upd/download/package_download.h"
#include "upd/download/progress_dialog.h"
#include "upd/download/safe_names.h"
#include "upd/download/unpack.h"
#include "upd/engine/service.h"
#include "upd/engine/update_state.h"
#include "upd/engine/version_data.h"
#include "upd/net/http.h"
#include "upd/net/tcp_network.h"
#include "upd/res/resource.h"

#include <cstdio>
#include <ctime>

unsigned char updateOk;

namespace {

UpdateSession session;
char versionQuery[256];
char chosenMirror[512];
char entryName[52];
char newVersionText[100000];

void ShowError(const char* text, const char* caption) {
    MessageBoxA(GetDesktopWindow(), text, caption, MB_OK | MB_ICONERROR);
}

// Asks the service for the manifest; false ends the run (after a box where
// the player must be told).
bool FetchManifest() {
    StartNetwork();
    if (serviceAddr == 0xFFFFFFFFu) {
        ShowError("Please make sure your Internet connection is working properly",
                  "Internet connection error");
        return false;
    }
    BuildVersionQuery(versionQuery, sizeof versionQuery, static_cast<uint32_t>(time(nullptr)));
    if (!FetchResponse(versionQuery, manifestText, sizeof manifestText)) {
        char text[160];
        snprintf(text, sizeof text, "The %s site seems to be temporally unavailable",
                 kUpdateServiceSite);
        ShowError(text, "Temporally unavailable");
        return false;
    }
    if (GetStatusCode(manifestText) != 200) {
        return false;
    }
    InitNameLists(session);
    // A body that cannot be decoded, or that names no mirror, is no
    // manifest: the run ends as for any answer other than 200.
    return ExtractBody(manifestText) && CountMirrors(manifestText) > 0;
}

void PlanDownloads(int count) {
    for (int n = 0; n < count; ++n) {
        if (!GetEntryName(manifestText, n, entryName, sizeof entryName)) {
            continue; // a name beyond its capacity is neither fetched nor deleted
        }
        int newVersion = GetEntryVersion(manifestText, entryName);
        if (newVersion == 0) {
            continue;
        }
        int oldVersion = GetEntryVersion(localVersionText, entryName);
        if (newVersion > oldVersion && !AddPendingName(session, entryName)) {
            updateOk = 0; // more than one run holds: never record what was not fetched
        }
    }
}

void RetireFiles(int count) {
    for (int n = 0; n < count; ++n) {
        if (GetEntryName(manifestText, n, entryName, sizeof entryName) &&
            GetEntryVersion(manifestText, entryName) == 0 && IsSafeEntryName(entryName)) {
            DeleteFileA(entryName);
        }
    }
}

} // namespace

int RunUpdate(HINSTANCE instance) {
    updateOk = 1;
    INITCOMMONCONTROLSEX controls = {8, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    progressDialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PROGRESS),
                                        GetDesktopWindow(), ProgressDialogProc, 0);
    progressBar = GetDlgItem(progressDialog, IDC_PROGRESS_BAR);
    statusText = GetDlgItem(progressDialog, IDC_STATUS_TEXT);
    // The updater and its library may have been replaced while in use on
    // the last run; what was moved aside then can go now.
    RemoveLeftover("upd.exe");
    RemoveLeftover("unrar.dll");
    LoadUnrarLibrary();

    if (FetchManifest()) {
        ReadLocalVersions();
        int count = CountEntries(manifestText);
        PlanDownloads(count);
        ChooseMirror(manifestText, chosenMirror);
        PrepareMirror(chosenMirror, session);
        DownloadPackages(session);
        WriteUnpackedFiles(session);
        RetireFiles(count);
        if (updateOk) {
            int length = BuildLocalVersionText(manifestText, newVersionText);
            SaveWholeFile("ver.dat", newVersionText, static_cast<DWORD>(length));
        }
    }

    StopNetwork();
    if (progressDialog) {
        DestroyWindow(progressDialog);
        progressDialog = nullptr;
    }
    WinExec("\"ZetaRune.exe\" 1", SW_SHOW);
    return 0;
}
