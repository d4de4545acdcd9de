// The stand-in game that packages deliver in tests and the demo. It records
// how it was started: one line in "game_starts.log" in its current directory
// with the argument text and, after a tab, the current directory.
#include "compat/platform.h"

#include <cstdio>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
    char folder[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder) {
        folder[0] = '\0';
    }
    FILE* log = fopen("game_starts.log", "ab");
    if (!log) {
        return 1;
    }
    fprintf(log, "%s\t%s\n", arguments ? arguments : "", folder);
    return fclose(log) == 0 ? 0 : 1;
}
