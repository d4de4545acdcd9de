// Windows entry point of the updater.
#include "compat/platform.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
