// The state of one update run: the chosen mirror, the names of the packages
// to fetch and of the files unpacked from them, and the package blocks.
#pragma once

#include <cstddef>
#include <cstdint>

// Packages one run can hold (the size of `buffers` and `sizes`).
constexpr int kMaxPackages = 5000;
// Bytes of one name list: the names and their terminators.
constexpr size_t kNameListSize = 25000;

// Not set up as a whole: InitNameLists, PrepareMirror and the download each
// fill their own fields, and nothing is read before it is set.
struct UpdateSession {
    uint32_t serverAddr;               // mirror address, network byte order; all ones: unresolved
    char host[256];                    // mirror host name
    char path[512];                    // mirror path prefix, beginning with '/'
    char pendingNames[kNameListSize];  // names to fetch, each with its NUL
    size_t pendingEnd;                 // offset just after the last name's NUL
    int32_t pendingCount;              // names in pendingNames
    char unpackedNames[kNameListSize]; // names of the unpacked files, each with its NUL
    size_t unpackedEnd;                // offset just after the last name's NUL
    unsigned char* buffers[kMaxPackages]; // package block of the i-th pending package
    int32_t sizes[kMaxPackages]; // Content-Length of the i-th response, then the unpacked length
};
