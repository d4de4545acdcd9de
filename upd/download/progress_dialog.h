// The modeless progress window and the message pump that keeps it alive
// while a package is received. Closing the window is the only cancel signal.
#pragma once

#include "compat/platform.h"

// Null before the window exists and after it has been closed.
extern HWND progressDialog;
extern HWND progressBar;
extern HWND statusText;

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Handles every queued message and returns once the queue is empty.
void PumpMessages();
