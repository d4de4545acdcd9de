#include "upd/net/http.h"
#include "upd/engine/service.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int kStatusDigits = 11;        // the status code's holder: 11 digits and a NUL
constexpr int kContentLengthDigits = 15; // the Content-Length holder: 15 digits and a NUL
constexpr char kContentLength[] = "Content-Length: ";
constexpr char kChunked[] = "Transfer-Encoding: chunked";

// The decimal run at `p` of at most `maxDigits` digits and at most
// 2,147,483,647; 0 for an empty run, -1 for one that does not fit.
int ReadDecimal(const char* p, int maxDigits) {
    long long value = 0;
    for (int digits = 0; *p >= '0' && *p <= '9'; ++p) {
        if (++digits > maxDigits) {
            return -1;
        }
        value = value * 10 + (*p - '0');
        if (value > 2147483647LL) {
            return -1;
        }
    }
    return static_cast<int>(value);
}

// The first CR LF that begins in [from, end), or null.
char* FindCrLf(char* from, const char* end) {
    while (from < end) {
        char* cr = static_cast<char*>(memchr(from, '\r', static_cast<size_t>(end - from)));
        if (!cr || cr + 1 >= end) {
            return nullptr;
        }
        if (cr[1] == '\n') {
            return cr;
        }
        from = cr + 1;
    }
    return nullptr;
}

bool Formatted(int length, size_t room) {
    return length >= 0 && static_cast<size_t>(length) < room;
}

} // namespace

bool BuildVersionQuery(char* out, size_t room, uint32_t seconds) {
    int length = snprintf(out, room,
                          "GET /zru/ver.php?k=%x HTTP/1.1\r\nHost: %s\r\n"
                          "Connection: close\r\n\r\n",
                          static_cast<unsigned>(seconds), kUpdateServiceHost);
    return Formatted(length, room);
}

bool BuildPackageRequest(char* out, size_t room, const char* path, const char* name,
                         const char* host) {
    int length = snprintf(out, room, "GET %s%s HTTP/1.1\r\nHost: %s\r\nConnection: close\r\n\r\n",
                          path, name, host);
    return Formatted(length, room);
}

int GetStatusCode(const char* text) {
    const char* blank = strchr(text, ' ');
    return blank ? ReadDecimal(blank + 1, kStatusDigits) : -1;
}

const char* FindHeaderEnd(const char* start, const char* end) {
    if (!start || !end || end - start < 4) {
        return nullptr;
    }
    for (const char* p = start; p + 4 <= end; ++p) {
        if (p[0] == '\r' && p[1] == '\n' && p[2] == '\r' && p[3] == '\n') {
            return p + 4;
        }
    }
    return nullptr;
}

int GetContentLength(const char* text) {
    const char* header = strstr(text, kContentLength);
    return header ? ReadDecimal(header + sizeof kContentLength - 1, kContentLengthDigits) : -1;
}

bool StripHeaders(char* text, size_t received) {
    // The body begins after the LF that follows the first LF CR pair.
    char* end = text + received;
    char* bodyStart = nullptr;
    for (char* p = text; p + 1 < end; ++p) {
        if (p[0] == '\n' && p[1] == '\r') {
            char* lf = static_cast<char*>(memchr(p + 1, '\n', static_cast<size_t>(end - p - 1)));
            bodyStart = lf ? lf + 1 : nullptr;
            break;
        }
    }
    int length = -1;
    if (bodyStart) {
        // Only a header counts, not the same text inside the body.
        char saved = *bodyStart;
        *bodyStart = 0;
        length = GetContentLength(text);
        *bodyStart = saved;
    }
    if (length < 0 || static_cast<size_t>(length) > static_cast<size_t>(end - bodyStart)) {
        text[0] = 0;
        return false;
    }
    memmove(text, bodyStart, static_cast<size_t>(length));
    text[length] = 0;
    return true;
}

int HexDigitValue(unsigned char byte) {
    if (byte >= '0' && byte <= '9') {
        return byte - '0';
    }
    if (byte >= 'a' && byte <= 'f') {
        return byte - 'a' + 10;
    }
    if (byte >= 'A' && byte <= 'F') {
        return byte - 'A' + 10;
    }
    return 16;
}

uint32_t ParseChunkSize(const char* position) {
    uint32_t value = 0;
    for (int digit; (digit = HexDigitValue(static_cast<unsigned char>(*position))) < 16;
         ++position) {
        if (value > (0xFFFFFFFFu - static_cast<uint32_t>(digit)) / 16) {
            return 0xFFFFFFFFu;
        }
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    return value;
}

bool ExtractBody(char* text) {
    char* headerEnd = strstr(text, "\r\n\r\n");
    if (!headerEnd) {
        text[0] = 0;
        return false;
    }
    char* body = headerEnd + 4;
    const char* chunked = strstr(text, kChunked);
    if (!chunked || chunked >= body) {
        memmove(text, body, strlen(body) + 1);
        return true;
    }
    // Decoded in place: each chunk's data moves forward over its own size
    // line, so the output never overtakes the part still to be read.
    const char* textEnd = body + strlen(body);
    char* out = text;
    char* current = body;
    for (;;) {
        if (current == textEnd) {
            text[0] = 0; // cut where a chunk-size line should begin
            return false;
        }
        uint32_t size = ParseChunkSize(current);
        if (size == 0) {
            break;
        }
        char* lineEnd = FindCrLf(current, textEnd);
        if (!lineEnd || size > static_cast<size_t>(textEnd - (lineEnd + 2))) {
            text[0] = 0;
            return false;
        }
        char* data = lineEnd + 2;
        memmove(out, data, size);
        out += size;
        char* chunkEnd = FindCrLf(data + size, textEnd);
        if (!chunkEnd) {
            text[0] = 0;
            return false;
        }
        current = chunkEnd + 2;
    }
    *out = 0;
    return true;
}
