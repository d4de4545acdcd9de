#include "upd/download/unpack.h"
#include "upd/download/file_commit.h"
#include "upd/download/safe_names.h"
#include "upd/engine/update_state.h"

#include <cstdio>
#include <cstring>

#include "dll.hpp"

namespace {

const char kArchiveName[] = "download.rar";

decltype(&RAROpenArchive) openArchive;
decltype(&RARReadHeader) readHeader;
decltype(&RARProcessFile) processFile;
decltype(&RARSetProcessDataProc) setProcessDataProc;
decltype(&RARCloseArchive) closeArchive;

unsigned char* unpackLimit; // the end of the block that receives the data
bool unpackOverflow;

template <typename F> bool Take(HMODULE library, const char* name, F& function) {
    function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    return function != nullptr;
}

// Runs the library on "download.rar": the first entry, tested and handed to
// AppendUnpackedData. Records the entry's name (converted to ANSI) in `name`.
bool UnpackFirstEntry(char* name, size_t nameRoom) {
    char arcName[sizeof kArchiveName];
    memcpy(arcName, kArchiveName, sizeof kArchiveName);
    RAROpenArchiveData open;
    memset(&open, 0, sizeof open);
    open.ArcName = arcName;
    open.OpenMode = RAR_OM_EXTRACT;
    HANDLE archive = openArchive(&open);
    if (!archive) {
        return false;
    }
    RARHeaderData header;
    memset(&header, 0, sizeof header);
    bool ok = open.OpenResult == ERAR_SUCCESS && readHeader(archive, &header) == ERAR_SUCCESS;
    if (ok) {
        header.FileName[sizeof header.FileName - 1] = 0;
        ok = strlen(header.FileName) < nameRoom;
    }
    if (ok) {
        OemToCharA(header.FileName, name);
        // A folder, an encrypted entry or one that spans volumes is not a
        // package: the library must never ask for a password or a volume.
        const unsigned refused =
            RHDF_DIRECTORY | RHDF_ENCRYPTED | RHDF_SPLITBEFORE | RHDF_SPLITAFTER;
        ok = !(header.Flags & refused) && IsSafeEntryName(name);
    }
    if (ok) {
        setProcessDataProc(archive, AppendUnpackedData);
        ok = processFile(archive, RAR_TEST, nullptr, nullptr) == ERAR_SUCCESS && !unpackOverflow;
    }
    closeArchive(archive);
    return ok;
}

} // namespace

unsigned char* unpackCursor;

bool LoadUnrarLibrary() {
    HMODULE library = LoadLibraryA("unrar.dll");
    if (!library) {
        return false;
    }
    return Take(library, "RAROpenArchive", openArchive) &&
           Take(library, "RARReadHeader", readHeader) &&
           Take(library, "RARProcessFile", processFile) &&
           Take(library, "RARSetProcessDataProc", setProcessDataProc) &&
           Take(library, "RARCloseArchive", closeArchive);
}

int CALLBACK AppendUnpackedData(unsigned char* data, int size) {
    if (size <= 0) {
        return 1;
    }
    if (size > unpackLimit - unpackCursor) {
        unpackOverflow = true;
        return -1; // more than the block holds: stop the library
    }
    memcpy(unpackCursor, data, static_cast<size_t>(size));
    unpackCursor += size;
    return 1;
}

bool StagedName(const char* name, int k, char* out, size_t room) {
    int n = snprintf(out, room, "%s.%d.zrnew", name, k);
    return n > 0 && static_cast<size_t>(n) < room;
}

int CountUnpackedNames(const UpdateSession& session) {
    int count = 0;
    for (size_t at = 0; at < session.unpackedEnd; at += strlen(session.unpackedNames + at) + 1) {
        ++count;
    }
    return count;
}

void UnpackPackage(UpdateSession& session, unsigned char* block, int i) {
    int k = CountUnpackedNames(session);
    char* name = session.unpackedNames + session.unpackedEnd;
    size_t nameRoom = sizeof session.unpackedNames - session.unpackedEnd;
    bool ok = openArchive && session.sizes[i] > 0 && k < kMaxPackages;
    bool folderMissing = false;
    if (ok) {
        // The archive lives only for this call: no need to wait for the disk.
        ok =
            WriteNewFile(kArchiveName, block, static_cast<DWORD>(session.sizes[i]), false, nullptr);
    }
    if (ok) {
        unpackCursor = block;
        unpackLimit = block + kPackageBlockSize;
        unpackOverflow = false;
        name[0] = 0;
        ok = nameRoom > 1 && UnpackFirstEntry(name, nameRoom > MAX_PATH ? MAX_PATH : nameRoom);
        session.sizes[i] = static_cast<int32_t>(unpackCursor - block);
    }
    DeleteFileA(kArchiveName);
    if (ok) {
        // The file waits beside its target until every package is in.
        char staged[MAX_PATH + 16];
        ok =
            StagedName(name, k, staged, sizeof staged) &&
            WriteNewFile(staged, block, static_cast<DWORD>(session.sizes[i]), true, &folderMissing);
        if (!ok && folderMissing) {
            ok = true; // a name whose folder does not exist is skipped
        }
    }
    if (!ok) {
        updateOk = 0;
        return;
    }
    session.unpackedEnd += strlen(name) + 1;
}
