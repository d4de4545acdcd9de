// Windows entry point of the setup program.
#include "Installer/setup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    return RunSetup(instance, previous, commandLine, show);
}
