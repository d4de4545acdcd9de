// The write step: every staged file of the run goes over its target, or,
// when any package failed or a file cannot be put in place, none does.
#include "upd/download/file_commit.h"
#include "upd/download/package_download.h"
#include "upd/download/unpack.h"
#include "upd/engine/update_state.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

struct Entry {
    const char* name;
    char staged[MAX_PATH + 16];
    char backup[MAX_PATH + 8];
    bool hadOld;
    bool placed;
};

Entry entries[kMaxPackages];

bool SameName(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        char x = *a == '/' ? '\\' : *a, y = *b == '/' ? '\\' : *b;
        if (tolower(static_cast<unsigned char>(x)) != tolower(static_cast<unsigned char>(y))) {
            return false;
        }
    }
    return *a == *b;
}

// Takes back what the commit did so far, newest first.
void RollBack(int done) {
    for (int k = done; k >= 0; --k) {
        Entry& e = entries[k];
        if (e.placed) {
            MoveFileExA(e.name, e.staged, MOVEFILE_REPLACE_EXISTING);
            e.placed = false;
        }
        if (e.hadOld) {
            MoveFileExA(e.backup, e.name, MOVEFILE_REPLACE_EXISTING);
            e.hadOld = false;
        }
    }
}

bool Commit(int count) {
    for (int k = 0; k < count; ++k) {
        Entry& e = entries[k];
        if (!e.staged[0]) {
            continue;
        }
        // The old file is renamed aside rather than replaced: Windows allows
        // that for a running program or a loaded library too.
        DWORD attributes = GetFileAttributesA(e.name);
        if (attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
            RollBack(k);
            return false; // a folder or a read-only file is not ours to replace
        }
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            DeleteFileA(e.backup);
            if (!MoveFileExA(e.name, e.backup, 0)) {
                RollBack(k);
                return false;
            }
            e.hadOld = true;
        }
        if (!MoveFileExA(e.staged, e.name, MOVEFILE_WRITE_THROUGH)) {
            RollBack(k);
            return false;
        }
        e.placed = true;
    }
    for (int k = 0; k < count; ++k) {
        if (entries[k].hadOld) {
            DeleteFileA(entries[k].backup); // a file still in use goes on a later run
        }
    }
    return true;
}

} // namespace

void WriteUnpackedFiles(UpdateSession& session) {
    int count = 0;
    for (size_t at = 0; at < session.unpackedEnd; ++count) {
        Entry& e = entries[count];
        e.name = session.unpackedNames + at;
        e.hadOld = e.placed = false;
        e.staged[0] = 0;
        if (FolderOfNameExists(e.name)) {
            StagedName(e.name, count, e.staged, sizeof e.staged);
        }
        AsideName(e.name, e.backup, sizeof e.backup);
        at += strlen(e.name) + 1;
    }
    // A name delivered twice takes the last copy; the earlier ones go.
    for (int k = 0; k < count; ++k) {
        for (int later = k + 1; later < count && entries[k].staged[0]; ++later) {
            if (entries[later].staged[0] && SameName(entries[k].name, entries[later].name)) {
                DeleteFileA(entries[k].staged);
                entries[k].staged[0] = 0;
            }
        }
    }
    if (updateOk && !Commit(count)) {
        updateOk = 0;
    }
    if (!updateOk) {
        for (int k = 0; k < count; ++k) {
            if (entries[k].staged[0]) {
                DeleteFileA(entries[k].staged);
            }
        }
    }
    ReleasePackageBlock(session);
}
