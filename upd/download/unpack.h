// Unpacking a downloaded package with the UnRAR library, and writing all the
// unpacked files of a run at once.
#pragma once

#include "compat/platform.h"
#include "upd/engine/update_session.h"

// Loads "unrar.dll" from the program's folder; false when it or one of its
// functions is missing (every package then fails to unpack).
bool LoadUnrarLibrary();

// Unpacks the first entry of the archive in `block` (sizes[i] bytes) and
// stages it beside its target. Any failure clears updateOk.
void UnpackPackage(UpdateSession& session, unsigned char* block, int i);
int CALLBACK AppendUnpackedData(unsigned char* data, int size);

// When updateOk is set, moves every staged file over its target (all of
// them or, on a failure, none, which clears updateOk); otherwise removes
// them. Releases the package block either way.
void WriteUnpackedFiles(UpdateSession& session);

// The number of names in the unpacked-name list.
int CountUnpackedNames(const UpdateSession& session);

// Where the k-th unpacked file waits: "<name>.<k>.zrnew". A name whose
// folder does not exist was skipped and waits nowhere.
bool StagedName(const char* name, int k, char* out, size_t room);
