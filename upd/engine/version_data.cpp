#include "upd/engine/version_data.h"

#include <cstdio>
#include <cstring>
#include <ctime>

char manifestText[kVersionTextSize];
char localVersionText[kVersionTextSize];

namespace {

int CountQuotes(const char* text, char quote) {
    int count = 0;
    for (; *text; ++text) {
        count += *text == quote;
    }
    return count / 2;
}

// The text between quote 2n+1 and quote 2n+2 of `quote` into `room`.
bool GetQuoted(const char* text, char quote, int n, char* room, size_t roomSize) {
    if (roomSize == 0) {
        return false;
    }
    room[0] = 0;
    if (n < 0) {
        return false;
    }
    long long toPass = 2LL * n + 1;
    for (; *text && toPass > 0; ++text) {
        toPass -= *text == quote;
    }
    if (toPass > 0) {
        return false;
    }
    const char* close = strchr(text, quote);
    if (!close || static_cast<size_t>(close - text) >= roomSize) {
        return false;
    }
    memcpy(room, text, static_cast<size_t>(close - text));
    room[close - text] = 0;
    return true;
}

} // namespace

int CountEntries(const char* text) {
    return CountQuotes(text, '"');
}

bool GetEntryName(const char* text, int n, char* room, size_t roomSize) {
    return GetQuoted(text, '"', n, room, roomSize);
}

int GetEntryVersion(const char* text, const char* name) {
    // The key "\"name\"," can only begin at a double quote.
    size_t length = strlen(name);
    const char* key = nullptr;
    for (const char* p = strchr(text, '"'); p; p = strchr(p + 1, '"')) {
        if (strncmp(p + 1, name, length) == 0 && p[1 + length] == '"' && p[2 + length] == ',') {
            key = p;
            break;
        }
    }
    if (!key) {
        return -1;
    }
    long long value = 0;
    for (const char* d = key + length + 3; *d >= '0' && *d <= '9'; ++d) {
        value = value * 10 + (*d - '0');
        if (value > 2147483647LL) {
            return -1; // never wraps, and never reads as 0, which would retire the file
        }
    }
    return static_cast<int>(value);
}

int CountMirrors(const char* body) {
    return CountQuotes(body, '\'');
}

bool GetMirror(const char* body, int n, char* room, size_t roomSize) {
    return GetQuoted(body, '\'', n, room, roomSize);
}

bool ChooseMirror(const char* body, char* room, size_t roomSize) {
    int count = CountMirrors(body);
    if (count <= 0) {
        if (roomSize > 0) {
            room[0] = 0;
        }
        return false;
    }
    long long now = static_cast<long long>(time(nullptr));
    int index = static_cast<int>((now < 0 ? 0 : now) % count);
    return GetMirror(body, index, room, roomSize);
}

void InitNameLists(UpdateSession& session) {
    session.pendingEnd = 0;
    session.pendingCount = 0;
    session.unpackedEnd = 0;
}

bool AddPendingName(UpdateSession& session, const char* name) {
    size_t size = strlen(name) + 1;
    if (session.pendingCount >= kMaxPackages || session.pendingEnd > kNameListSize ||
        size > kNameListSize - session.pendingEnd) {
        return false;
    }
    memcpy(session.pendingNames + session.pendingEnd, name, size);
    session.pendingEnd += size;
    ++session.pendingCount;
    return true;
}

int BuildLocalVersionText(const char* body, char* room, size_t roomSize) {
    if (roomSize == 0) {
        return 0;
    }
    room[0] = 0;
    size_t used = 0;
    int count = CountEntries(body);
    for (int n = 0; n < count; ++n) {
        char name[kEntryNameSize];
        if (!GetEntryName(body, n, name, sizeof name) ||
            strchr(name, static_cast<char>(kVersionFileKey))) {
            continue; // cannot be recorded: it is fetched again on the next run
        }
        int version = GetEntryVersion(body, name);
        if (version == 0) {
            continue;
        }
        int length = snprintf(room + used, roomSize - used, "\"%s\",%d\r\n", name, version);
        if (length < 0 || static_cast<size_t>(length) >= roomSize - used) {
            room[used] = 0; // only whole lines: the rest counts as missing next run
            break;
        }
        used += static_cast<size_t>(length);
    }
    ScrambleText(room);
    return static_cast<int>(strlen(room));
}

void ScrambleText(char* text) {
    for (; *text; ++text) {
        *text = static_cast<char>(static_cast<unsigned char>(*text) ^ kVersionFileKey);
    }
}
