// The updater's entry: uninstall mode when the argument text asks for it,
// otherwise one update run that ends by starting the game.
#include "compat/platform.h"
#include "upd/engine/main_flow.h"
#include "upd/uninstall/uninstall.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int) {
    const char* folder;
    if (IsUninstallCommand(arguments, &folder)) {
        RunUninstallMode(folder);
        return 0;
    }
    return RunUpdate(instance);
}
