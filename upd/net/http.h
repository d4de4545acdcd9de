// HTTP/1.1 as the updater speaks it: the two request texts, the version
// exchange, and taking a received response apart in its own buffer.
#pragma once

#include <cstddef>
#include <cstdint>

// The version query for the clock value `seconds`. False when it does not
// fit `room` bytes with its NUL (nothing usable is left in `out` then).
bool BuildVersionQuery(char* out, size_t room, uint32_t seconds);
// The request for package `name` under a mirror's `path` on `host`. False
// when it does not fit `room` bytes with its NUL.
bool BuildPackageRequest(char* out, size_t room, const char* path, const char* name,
                         const char* host);

// Sends `request` to the update service (serviceAddr, port 80) and reads
// the whole response into `buffer`, NUL-terminated, cut at size - 1 bytes.
// False when no connection could be made (buffer untouched), or when the
// connection broke or stayed silent for the idle limit (the buffer then
// holds what had arrived, terminated).
bool FetchResponse(const char* request, char* buffer, int size);

// The number after the first blank of the status line; 0 when no digit
// follows it; -1 when there is no blank or the number has more than 11
// digits or exceeds 2,147,483,647.
int GetStatusCode(const char* text);

// The position right after the first CR LF CR LF lying wholly in
// [start, end), or null. NUL bytes are ordinary bytes here.
const char* FindHeaderEnd(const char* start, const char* end);

// The value of the first "Content-Length: " header; 0 when no digit
// follows it; -1 when it is missing or its number has more than 15 digits
// or exceeds 2,147,483,647.
int GetContentLength(const char* text);

// Replaces the response of `received` bytes at `text` (followed by its
// NUL, as the receive loop leaves it) by exactly
// Content-Length bytes of its body and a NUL. Bodies may hold any bytes.
// False, with an empty text left, when the header block has no end, no
// usable Content-Length, or the body is shorter than announced.
bool StripHeaders(char* text, size_t received);

// Replaces the NUL-terminated response at `text` by its body, undoing the
// chunked coding when the headers announce it. False, with an empty text
// left, when the headers have no end or a chunked body is cut short (a
// chunk line or chunk without its CR LF, a chunk larger than what is left).
bool ExtractBody(char* text);

// The hexadecimal number at `position`; 0 when it begins with no hex
// digit; 0xFFFFFFFF when it does not fit 32 bits.
uint32_t ParseChunkSize(const char* position);

// 0 to 15 for a hexadecimal digit of either case, 16 for any other byte.
int HexDigitValue(unsigned char byte);
