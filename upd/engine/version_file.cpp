#include "compat/platform.h"
#include "upd/engine/version_data.h"

#include <cstring>

namespace {

constexpr char kDefaultVersions[] = "\"upd2.rar\",2\r\n";

} // namespace

bool ReadLocalVersions() {
    HANDLE file = CreateFileA("ver.dat", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        memcpy(localVersionText, kDefaultVersions, sizeof kDefaultVersions);
        return false;
    }
    DWORD read = 0;
    if (!ReadFile(file, localVersionText, kVersionTextSize - 1, &read, nullptr) ||
        read > kVersionTextSize - 1) {
        read = 0;
    }
    localVersionText[read] = 0;
    CloseHandle(file);
    ScrambleText(localVersionText);
    return true;
}
