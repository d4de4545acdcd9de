// Reading a text value from the registry into a fixed buffer.
#include "Installer/setup.h"

bool ReadRegistryText(HKEY root, const char* key, const char* value, char* buffer, DWORD size) {
    HKEY handle;
    buffer[0] = 0;
    if (RegOpenKeyExA(root, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) {
        return false;
    }
    DWORD length = size;
    LSTATUS status = RegQueryValueExA(handle, value, nullptr, nullptr,
                                      reinterpret_cast<LPBYTE>(buffer), &length);
    RegCloseKey(handle);
    // The stored bytes need not end in a NUL; a text that fills the whole
    // buffer without one would be cut, so it counts as unreadable.
    if (status != ERROR_SUCCESS || length == 0 || length > size) {
        buffer[0] = 0;
        return false;
    }
    if (buffer[length - 1] != 0) {
        if (length == size) {
            buffer[0] = 0;
            return false;
        }
        buffer[length] = 0;
    }
    return buffer[0] != 0;
}
