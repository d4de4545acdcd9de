// Checks on names that come from the network before they touch the disk or
// a request line.
#pragma once

// A relative path that stays inside the installation folder: no drive,
// root, UNC prefix, ':' (alternate streams), ".." part, device name such as
// CON or COM1, trailing dot or blank in any part, or control character.
// Plain folder parts (sub\file.dat) are allowed.
bool IsSafeEntryName(const char* name);

// Text that may stand in a request line or Host header: no byte of 0x20 or
// less, nor 0x7F.
bool IsRequestSafe(const char* text);
