// Arbitrary bytes as a received response: every decoder must stay inside
// the exact block that holds them, and a successful decode must agree with
// what the headers announce.
#include "upd/net/http.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The response in a block of exactly its size and one NUL, as the receive
// loops leave it.
std::vector<char> Block(const uint8_t* data, size_t size) {
    std::vector<char> block(data, data + size);
    block.push_back(0);
    return block;
}

void Check(bool condition) {
    if (!condition) {
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        Check(HexDigitValue(data[i]) <= 16);
    }

    std::vector<char> raw(data, data + size); // no terminator: a range only
    const char* end = FindHeaderEnd(raw.data(), raw.data() + raw.size());
    Check(!end || (end >= raw.data() + 4 && end <= raw.data() + raw.size() &&
                   memcmp(end - 4, "\r\n\r\n", 4) == 0));

    std::vector<char> text = Block(data, size);
    int status = GetStatusCode(text.data());
    Check(status >= -1);
    int length = GetContentLength(text.data());
    Check(length >= -1);
    ParseChunkSize(text.data());

    std::vector<char> package = Block(data, size);
    if (StripHeaders(package.data(), size)) {
        // Exactly the announced number of bytes, all of them from the response.
        Check(length >= 0 && static_cast<size_t>(length) <= size);
        Check(package[static_cast<size_t>(length)] == 0);
        Check(length == 0 ||
              memmem(text.data(), size, package.data(), static_cast<size_t>(length)) != nullptr);
    } else {
        Check(package[0] == 0);
    }

    std::vector<char> version = Block(data, size);
    size_t before = strlen(version.data());
    bool decoded = ExtractBody(version.data());
    size_t after = strlen(version.data());
    Check(after <= before);
    Check(decoded || after == 0);
    const char* blank = strstr(text.data(), "\r\n\r\n");
    if (blank && !strstr(text.data(), "Transfer-Encoding: chunked")) {
        Check(decoded && strcmp(version.data(), blank + 4) == 0);
    }
    return 0;
}
