// The texts the updater plans with: the manifest body (package entries in
// double quotes, mirror entries in single quotes), the local version list
// of "ver.dat" and its scrambling, and the pending-name list of a run.
#pragma once

#include "upd/engine/update_session.h"

#include <cstddef>

constexpr size_t kVersionTextSize = 100000; // manifestText, localVersionText, new "ver.dat"
constexpr size_t kEntryNameSize = 52;       // a package name: 51 characters and a NUL
constexpr size_t kMirrorTextSize = 512;     // a mirror entry: 511 characters and a NUL
constexpr unsigned char kVersionFileKey = 0xA6;

// The version query's response, then the manifest body.
extern char manifestText[kVersionTextSize];
// The unscrambled local version list.
extern char localVersionText[kVersionTextSize];

// The number of package entries (pairs of double quotes).
int CountEntries(const char* text);
// Package entry n into `room`. False, with an empty text in `room`, when
// there is no entry n or its name does not fit `roomSize` bytes.
bool GetEntryName(const char* text, int n, char* room, size_t roomSize = kEntryNameSize);
// The version after the first "\"name\"," in `text`: 0 when no digit
// follows; -1 when the key is missing or the number exceeds 2,147,483,647.
int GetEntryVersion(const char* text, const char* name);

// The number of mirror entries (pairs of single quotes).
int CountMirrors(const char* body);
// Mirror entry n into `room`; false and an empty text as for GetEntryName.
bool GetMirror(const char* body, int n, char* room, size_t roomSize = kMirrorTextSize);
// The mirror entry numbered by the current time modulo the number of
// mirrors. False, with an empty text, when the body names no mirror (a body
// that is no usable manifest) or the chosen one does not fit.
bool ChooseMirror(const char* body, char* room, size_t roomSize = kMirrorTextSize);

// Empties both name lists of the session.
void InitNameLists(UpdateSession& session);
// Appends `name` to the pending list. False, with the list unchanged, when
// the name and its NUL do not fit or the list already holds kMaxPackages.
bool AddPendingName(UpdateSession& session, const char* name);

// Fills localVersionText from "ver.dat" (at most 99,999 bytes, unscrambled);
// false when it could not be opened and the default entry was used.
bool ReadLocalVersions();
// The new "ver.dat", scrambled, in `room`: one line per manifest entry whose
// version is not 0, in manifest order. Returns its length in bytes. Entries
// whose name cannot be recorded (too long, or holding the key byte) are left
// out; lines that would not fit `roomSize` with a NUL end the text there.
int BuildLocalVersionText(const char* body, char* room, size_t roomSize = kVersionTextSize);
// Scrambles or unscrambles `text` in place, up to its first NUL.
void ScrambleText(char* text);
