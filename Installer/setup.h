// The setup program: its entry flow and the steps that it runs in order.
#pragma once

#include "compat/platform.h"

#include <cstddef>

// The installation folder as the player confirmed it; at most 259
// characters, one trailing backslash removed.
extern char installPath[MAX_PATH];
extern HWND pathEdit;

int WINAPI RunSetup(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);
INT_PTR CALLBACK SelectDirectoryDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

bool WriteWholeFile(const char* name, size_t length, const void* data);
void MakeShortcuts();
HRESULT CreateShortcut(const char* target, const char* shortcutPath, const char* description);
void AddUninstallEntry();

// Reads a text value of a registry key into a buffer of `size` bytes; true
// only when the whole text and its NUL are there.
bool ReadRegistryText(HKEY root, const char* key, const char* value, char* buffer, DWORD size);

// The two files that an installation needs, embedded at build time.
extern const unsigned char updaterPayload[];
extern const size_t updaterPayload_size;
extern const unsigned char unrarPayload[];
extern const size_t unrarPayload_size;

// Shown in the system's list of programs and on the shortcuts.
inline constexpr char kProductName[] = "Zeta Rune";
