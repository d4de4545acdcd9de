// Starting programs and loading libraries.
#pragma once

#include "compat/win32/base.h"

typedef intptr_t (*FARPROC)();

UINT WinExec(LPCSTR commandLine, UINT show);
HMODULE LoadLibraryA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
void Sleep(DWORD milliseconds);
DWORD GetTickCount();
