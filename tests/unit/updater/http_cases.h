// Response-decoding cases shared by the unit tests and the fuzzers' seeds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cases {

using namespace std::string_literals;

struct StatusCase {
    std::string text;
    int status;
};

inline const std::vector<StatusCase> kStatus = {
    {"HTTP/1.1 200 OK\r\n\r\n", 200},
    {"HTTP/1.1 404 Not Found\r\n\r\n", 404},
    {"HTTP/1.0 200\r\n", 200},
    {"X 200OK", 200},            // neither version nor phrase is looked at
    {"HTTP/1.1 OK\r\n", 0},      // no digit right after the blank
    {"HTTP/1.1  200 OK\r\n", 0}, // a second blank
    {"HTTP/1.1 -200\r\n", 0},
    {"", -1},                         // an empty response
    {"HTTP/1.1\r\n\r\n", -1},         // no blank at all
    {"HTTP/1.1 00000000200 OK", 200}, // 11 digits fill the holder
    {"HTTP/1.1 000000000200 OK", -1}, // 12 digits do not fit it
    {"HTTP/1.1 2147483647 OK", 2147483647},
    {"HTTP/1.1 2147483648 OK", -1},
    {"HTTP/1.1 4294967496 OK", -1}, // would wrap to 200 in 32 bits
};

struct HeaderEndCase {
    std::string bytes;
    size_t range; // bytes looked at, from the start
    int end;      // offset returned, -1 for none
};

inline const std::vector<HeaderEndCase> kHeaderEnd = {
    {"HTTP/1.1 200 OK\r\n\r\n", 19, 19}, // the range ends with the blank line
    {"HTTP/1.1 200 OK\r\n\r", 18, -1},   // the final LF not yet received
    {"\r\n\r", 3, -1},                   // fewer than four bytes
    {"", 0, -1},
    {"\r\n\r\nbody", 8, 4},
    {"a\0\r\n\r\nb"s, 7, 6},    // NUL is an ordinary byte
    {"\r\n\r\n\r\n\r\n", 8, 4}, // the first one wins
    {"\n\r\n\r\n", 5, 5},
    {"x\r\n\r\n", 4, -1}, // lies partly outside the range
    {"\r\r\n\n\r\n", 6, -1},
};

struct LengthCase {
    std::string text;
    int length;
};

inline const std::vector<LengthCase> kContentLength = {
    {"HTTP/1.1 200 OK\r\nContent-Length: 1234\r\n\r\n", 1234},
    {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 0},
    {"HTTP/1.1 200 OK\r\nContent-Length:  12\r\n\r\n", 0}, // two blanks after the colon
    {"HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n", 0},
    {"HTTP/1.1 200 OK\r\ncontent-length: 12\r\n\r\n", -1}, // lower case is not the header
    {"HTTP/1.1 200 OK\r\nContent-Length:12\r\n\r\n", -1},
    {"HTTP/1.1 200 OK\r\n\r\n", -1},
    {"Content-Length: 5\r\nContent-Length: 7\r\n\r\n", 5},
    {"Content-Length: 000000000000042\r\n", 42},  // 15 digits fill the holder
    {"Content-Length: 0000000000000042\r\n", -1}, // 16 digits do not fit it
    {"Content-Length: 2147483647\r\n", 2147483647},
    {"Content-Length: 2147483648\r\n", -1},
    {"Content-Length: 4294967297\r\n", -1}, // would wrap to 1 in 32 bits
};

// A response, and what is left after decoding it.
struct BodyCase {
    const char* what;
    std::string response;
    bool ok;
    std::string body;
};

inline const std::vector<BodyCase> kStripHeaders = {
    {"exact body", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", true, "hello"},
    {"length 0", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\nextra", true, ""},
    {"body longer than its length", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nhello", true,
     "hel"},
    {"NUL and CR LF in the body",
     "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\na\0\r\n\r\nb\0\xff\n"s, true,
     "a\0\r\n\r\nb\0\xff"s},
    {"headers that end in LF CR LF only", "HTTP/1.1 200 OK\nContent-Length: 2\n\r\nok", true, "ok"},
    {"body shorter than its length", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nshort", false,
     ""},
    {"no Content-Length", "HTTP/1.1 200 OK\r\n\r\nhello", false, ""},
    {"lower-case header", "HTTP/1.1 200 OK\r\ncontent-length: 5\r\n\r\nhello", false, ""},
    {"Content-Length only in the body", "HTTP/1.1 200 OK\r\n\r\nContent-Length: 5\r\nxx", false,
     ""},
    {"length beyond its holder", "HTTP/1.1 200 OK\r\nContent-Length: 0000000000000005\r\n\r\nhello",
     false, ""},
    {"length beyond 32 bits", "HTTP/1.1 200 OK\r\nContent-Length: 4294967301\r\n\r\nhello", false,
     ""},
    {"no end of the header block", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", false, ""},
    {"LF CR without a following LF", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r", false, ""},
    {"empty response", "", false, ""},
};

inline const std::vector<BodyCase> kExtractBody = {
    {"plain body", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", true, "hello"},
    {"empty plain body", "HTTP/1.1 200 OK\r\n\r\n", true, ""},
    {"no blank line", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", false, ""},
    {"empty response", "", false, ""},
    {"chunked text only in the body",
     "HTTP/1.1 200 OK\r\n\r\nTransfer-Encoding: chunked\r\n5\r\nhello", true,
     "Transfer-Encoding: chunked\r\n5\r\nhello"},
    {"lower-case sizes",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
     "a\r\n0123456789\r\n3\r\nabc\r\n0\r\n\r\n",
     true, "0123456789abc"},
    {"upper-case sizes",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
     "A\r\n0123456789\r\n1B\r\nabcdefghijklmnopqrstuvwxyz!\r\n0\r\n\r\n",
     true, "0123456789abcdefghijklmnopqrstuvwxyz!"},
    {"chunk extensions",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
     "5;name=value\r\nhello\r\n1 ; x\r\n!\r\n0;last\r\n\r\n",
     true, "hello!"},
    {"CR LF inside chunk data",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n6\r\nab\r\ncd\r\n0\r\n\r\n", true,
     "ab\r\ncd"},
    {"zero chunk alone", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", true,
     ""},
    {"trailer after the zero chunk",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\nX-T: 1\r\n\r\n", true,
     "abc"},
    {"leading zeros in a size",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0003\r\nabc\r\n0\r\n\r\n", true, "abc"},
    {"bytes between data and its CR LF",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabcXY\r\n0\r\n\r\n", true, "abc"},
    {"size line without a hex digit ends the body",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\nzz\r\nmore", true, "abc"},
    {"zero chunk without its CR LF",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0", true, "abc"},
    {"other capitalisation is not chunked",
     "HTTP/1.1 200 OK\r\ntransfer-encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", true,
     "3\r\nabc\r\n0\r\n\r\n"},
    {"other spacing is not chunked",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding:  chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", true,
     "3\r\nabc\r\n0\r\n\r\n"},
    {"cut before the zero chunk",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n", false, ""},
    {"cut inside chunk data", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel",
     false, ""},
    {"chunk without its closing CR LF",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello", false, ""},
    {"size line without its CR LF", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5", false,
     ""},
    {"chunk larger than the text",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nff\r\nabc\r\n0\r\n\r\n", false, ""},
    {"size beyond 32 bits",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n100000003\r\nabc\r\n0\r\n\r\n", false,
     ""},
    {"empty chunked body", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", false, ""},
};

struct ChunkSizeCase {
    std::string text;
    uint32_t size;
};

inline const std::vector<ChunkSizeCase> kChunkSize = {
    {"1a;ext\r\n", 0x1a},
    {"1A\r\n", 0x1a},
    {"0\r\n", 0},
    {" 5\r\n", 0}, // a blank first
    {"", 0},
    {"g1", 0},
    {"00000000000001\r\n", 1}, // leading zeros do not overflow
    {"7fffffffX", 0x7fffffffu},
    {"FFFFFFFF\r\n", 0xFFFFFFFFu},
    {"100000000\r\n", 0xFFFFFFFFu}, // does not fit: never wraps to 0
    {"ffffffff0\r\n", 0xFFFFFFFFu},
};

struct HexCase {
    unsigned char byte;
    int value;
};

inline const std::vector<HexCase> kHexDigit = {
    {'0', 0},   {'9', 9},   {'a', 10},  {'f', 15},  {'A', 10},  {'F', 15}, {'g', 16},
    {'G', 16},  {'/', 16},  {':', 16},  {'@', 16},  {'`', 16},  {' ', 16}, {0, 16},
    {0x80, 16}, {0xB0, 16}, {0xC1, 16}, {0xE1, 16}, {0xFF, 16},
};

} // namespace cases
