// Writes one embedded payload out as a whole new file.
#include "Installer/setup.h"

bool WriteWholeFile(const char* name, size_t length, const void* data) {
    HANDLE file =
        CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    WriteFile(file, data, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
    return written == length;
}
