// Arbitrary text as a manifest body or a local version list: lookups and
// copies stay inside their rooms, and the new "ver.dat" text is whole lines
// that read back to the manifest's versions.
#include "upd/engine/version_data.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition) {
        abort();
    }
}

// Entries looked at per input: the first few and the last one.
constexpr int kLooked = 16;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> text(data, data + size);
    text.push_back(0);
    const char* body = text.data();

    int entries = CountEntries(body);
    int mirrors = CountMirrors(body);
    Check(entries >= 0 && mirrors >= 0 && static_cast<size_t>(entries + mirrors) <= size / 2);

    std::vector<int> looked;
    for (int n = 0; n < entries && n < kLooked; ++n) {
        looked.push_back(n);
    }
    if (entries > kLooked) {
        looked.push_back(entries - 1);
    }
    for (int n : looked) {
        // Exactly the entry-name room: the copy may not pass it.
        std::vector<char> name(kEntryNameSize);
        if (GetEntryName(body, n, name.data(), name.size())) {
            Check(strlen(name.data()) < kEntryNameSize && !strchr(name.data(), '"'));
            Check(GetEntryVersion(body, name.data()) >= -1);
        } else {
            Check(name[0] == 0);
        }
    }
    std::vector<char> name(kEntryNameSize);
    Check(!GetEntryName(body, entries, name.data(), name.size()) && name[0] == 0);

    std::vector<char> mirror(kMirrorTextSize);
    bool chosen = ChooseMirror(body, mirror.data(), mirror.size());
    Check(chosen ? mirrors > 0 && !strchr(mirror.data(), '\'') : mirror[0] == 0);

    // The new version text, in a full room and in one too small for most.
    for (size_t roomSize : {kVersionTextSize, size_t{40}}) {
        std::vector<char> room(roomSize);
        int length = BuildLocalVersionText(body, room.data(), room.size());
        Check(length >= 0 && static_cast<size_t>(length) < roomSize);
        Check(room[static_cast<size_t>(length)] == 0);
        ScrambleText(room.data());
        Check(strlen(room.data()) == static_cast<size_t>(length));
        Check(length == 0 || strcmp(room.data() + length - 2, "\r\n") == 0);
        // Each line's version is the manifest's version of that name.
        for (const char* line = room.data(); *line;) {
            const char* close = strchr(line + 1, '"');
            Check(line[0] == '"' && close && close[1] == ',');
            std::string lineName(line + 1, close);
            int recorded = atoi(close + 2);
            Check(recorded != 0 && recorded == GetEntryVersion(body, lineName.c_str()));
            line = strstr(close, "\r\n") + 2;
        }
    }

    // The text as a scrambled "ver.dat" read back.
    std::vector<char> local(text);
    ScrambleText(local.data());
    ScrambleText(local.data());
    Check(strncmp(local.data(), body, strlen(local.data())) == 0);

    // Every name of the text into a pending list until it is full.
    auto session = std::make_unique<UpdateSession>();
    InitNameLists(*session);
    for (int n = 0; n < entries && n < kLooked; ++n) {
        if (GetEntryName(body, n, name.data(), name.size())) {
            size_t end = session->pendingEnd;
            bool added = AddPendingName(*session, name.data());
            Check(added ? session->pendingEnd == end + strlen(name.data()) + 1
                        : session->pendingEnd == end);
        }
    }
    Check(session->pendingEnd <= kNameListSize && session->pendingCount <= kMaxPackages);
    return 0;
}
