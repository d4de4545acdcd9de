// The host program entry: hands WinMain the argument text as the Windows
// start-up code would. A parent that started us through WinExec passes its
// exact command line in ZR_COMMAND_LINE; otherwise it is rebuilt from argv.
#include "compat/compat.h"
#include "compat/win32/base.h"

#include <csignal>
#include <cstdlib>
#include <string>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show);

int main(int argc, char** argv) {
    // A send to a peer that has gone fails with an error, as Winsock's does,
    // instead of ending the process.
    signal(SIGPIPE, SIG_IGN);
    std::string line;
    if (const char* given = getenv("ZR_COMMAND_LINE")) {
        line = given;
        unsetenv("ZR_COMMAND_LINE");
    } else {
        for (int i = 0; i < argc; ++i) {
            std::string a = argv[i];
            if (i > 0) {
                line += ' ';
            }
            line += a.find_first_of(" \t") != std::string::npos ? "\"" + a + "\"" : a;
        }
    }
    static std::string held;
    held = line;
    LPSTR arguments = const_cast<LPSTR>(compat::ArgumentText(held.c_str()));
    static char dummy;
    return WinMain(reinterpret_cast<HINSTANCE>(&dummy), nullptr, arguments, 5);
}
