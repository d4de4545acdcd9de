// Host-only services of the compat layer, for the layer itself and for tests.
#pragma once

#include <string>

namespace compat {

// The folder that holds this stand-in machine's state: ZR_COMPAT_ROOT, or a
// default under the user's data folder. Created and seeded on first use.
const std::string& Root();
// Forgets the cached root so that the next call reads ZR_COMPAT_ROOT again.
void ResetRoot();

// Maps a DOS-style path to a host path. C: is drive_c under the root, Z: is
// the host's /, other letters are drive_<letter>; backslashes are
// separators; relative paths stay relative to the current directory.
// Returns false for paths that name no host file (UNC, devices).
bool HostPath(const char* dosPath, std::string& hostPath);

// The text that the Windows start-up code hands WinMain: the command line
// without the program name and the blanks and control characters after it.
const char* ArgumentText(const char* commandLine);

// Splits a command line into arguments as the Windows start-up code does.
void SplitCommandLine(const char* commandLine, std::string& program, std::string& rest);

// Terminal input shared by modal dialogs and the message queue.
enum class Input { Line, Escape, End, None };
Input ReadInput(std::string& line, bool wait);

// Embedded compiled resources (.res) of the running program.
struct ResourceBlob {
    const unsigned char* data;
    size_t size;
};
void SetResources(const unsigned char* data, size_t size);
const ResourceBlob& Resources();

void SetLastError(unsigned long code);

} // namespace compat
