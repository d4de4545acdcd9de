// The updater's uninstall mode: removes the two shortcuts that "setup.dat"
// lists and the uninstall entry. No window, no network, no game start.
#pragma once

// True when the argument text asks for uninstall mode ("uninstall" anywhere,
// case-sensitive); `folder` then points at the installation folder, the text
// from 10 characters after the start of that word.
bool IsUninstallCommand(const char* arguments, const char** folder);

// Enters the folder and, when that works, runs RunUninstall.
void RunUninstallMode(const char* folder);

// Expects the installation folder as the current directory.
void RunUninstall();
