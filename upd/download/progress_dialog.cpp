#include "upd/download/progress_dialog.h"

HWND progressDialog;
HWND progressBar;
HWND statusText;

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        DestroyWindow(dialog);
        progressDialog = nullptr;
        return TRUE;
    }
    return FALSE;
}

void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        // A message handled in the previous turn may have closed the window.
        if (!IsDialogMessageA(progressDialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}
