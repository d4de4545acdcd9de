#include "upd/download/file_commit.h"

#include <cstdio>
#include <cstring>

namespace {

const char kAsideSuffix[] = ".zrold";
const char kTempSuffix[] = ".zrtmp";

bool WithSuffix(const char* name, const char* suffix, char* out, size_t room) {
    int n = snprintf(out, room, "%s%s", name, suffix);
    return n > 0 && static_cast<size_t>(n) < room;
}

} // namespace

bool FolderOfNameExists(const char* name) {
    const char* slash = nullptr;
    for (const char* p = name; *p; ++p) {
        if (*p == '\\' || *p == '/') {
            slash = p;
        }
    }
    if (!slash) {
        return true; // the current directory
    }
    char folder[MAX_PATH];
    size_t length = static_cast<size_t>(slash - name);
    if (length >= sizeof folder) {
        return false;
    }
    memcpy(folder, name, length);
    folder[length] = 0;
    DWORD attributes = GetFileAttributesA(folder);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool AsideName(const char* name, char* out, size_t room) {
    return WithSuffix(name, kAsideSuffix, out, room);
}

bool WriteNewFile(const char* name, const void* data, DWORD size, bool flush, bool* folderMissing) {
    if (folderMissing) {
        *folderMissing = false;
    }
    HANDLE file =
        CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (folderMissing) {
            *folderMissing = !FolderOfNameExists(name);
        }
        return false;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, data, size, &written, nullptr) && written == size;
    ok = (!flush || FlushFileBuffers(file)) && ok;
    ok = CloseHandle(file) && ok;
    if (!ok) {
        DeleteFileA(name);
    }
    return ok;
}

bool PutInPlace(const char* from, const char* to) {
    DWORD attributes = GetFileAttributesA(to);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
        return false;
    }
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    char aside[MAX_PATH + sizeof kAsideSuffix];
    if (GetFileAttributesA(to) == INVALID_FILE_ATTRIBUTES || !AsideName(to, aside, sizeof aside)) {
        return false;
    }
    // Windows lets a file in use be renamed though not replaced.
    DeleteFileA(aside);
    if (!MoveFileExA(to, aside, MOVEFILE_REPLACE_EXISTING)) {
        return false;
    }
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(aside); // fails while the old file is still in use
        return true;
    }
    MoveFileExA(aside, to, MOVEFILE_REPLACE_EXISTING);
    return false;
}

void RemoveLeftover(const char* name) {
    char aside[MAX_PATH + sizeof kAsideSuffix];
    if (AsideName(name, aside, sizeof aside)) {
        DeleteFileA(aside);
    }
}

bool SaveWholeFile(const char* name, const void* data, DWORD size) {
    char temp[MAX_PATH + sizeof kTempSuffix];
    if (!WithSuffix(name, kTempSuffix, temp, sizeof temp)) {
        return false;
    }
    if (!WriteNewFile(temp, data, size, true, nullptr)) {
        return false;
    }
    if (!PutInPlace(temp, name)) {
        DeleteFileA(temp);
        return false;
    }
    return true;
}
