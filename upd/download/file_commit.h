// Putting files in place without ever leaving a cut one: every file is
// written beside its target first and then moved over it in one step.
#pragma once

#include "compat/platform.h"

// Writes `size` bytes to `name` through a temporary file beside it, flushed
// and then moved over the target; on any failure the old file stays whole
// and the temporary is removed. True when the new content is in place.
bool SaveWholeFile(const char* name, const void* data, DWORD size);

// Moves `from` over `to`. A target that refuses to be replaced (a running
// program or a loaded library on Windows) is renamed aside to "<to>.zrold"
// first and removed on a later run.
bool PutInPlace(const char* from, const char* to);

// "<name>.zrold", where an old file waits while its replacement goes in;
// false when it does not fit `room`.
bool AsideName(const char* name, char* out, size_t room);

// Removes "<name>.zrold" left by an earlier run, where it can be removed.
void RemoveLeftover(const char* name);

// Whether the folder that a relative name names (the current one when it
// has no folder part) exists.
bool FolderOfNameExists(const char* name);

// Writes a whole file; false and no file left on any failure. `flush` makes
// it reach the disk before the call returns (files that are to be kept);
// `folderMissing` tells a name whose folder does not exist.
bool WriteNewFile(const char* name, const void* data, DWORD size, bool flush, bool* folderMissing);
