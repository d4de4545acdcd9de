// Response decoding and request texts.
#include "tests/unit/updater/http_cases.h"
#include "upd/net/http.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// The response in a heap block of exactly its size and one NUL, so that
// any read or write past it is caught by AddressSanitizer.
std::vector<char> Block(const std::string& bytes) {
    std::vector<char> block(bytes.begin(), bytes.end());
    block.push_back(0);
    return block;
}

TEST(StatusCode, ReadsTheNumberAfterTheFirstBlank) {
    for (const auto& c : cases::kStatus) {
        std::vector<char> text = Block(c.text);
        EXPECT_EQ(GetStatusCode(text.data()), c.status) << '"' << c.text << '"';
    }
}

TEST(HeaderEnd, FindsTheFirstBlankLineInsideTheRange) {
    for (const auto& c : cases::kHeaderEnd) {
        // Exactly the range, no terminator: nothing beyond it may be read.
        std::vector<char> range(c.bytes.begin(), c.bytes.begin() + c.range);
        const char* start = range.data();
        const char* found = FindHeaderEnd(start, start + range.size());
        int offset = found ? static_cast<int>(found - start) : -1;
        EXPECT_EQ(offset, c.end) << testing::PrintToString(c.bytes) << " range " << c.range;
    }
}

TEST(ContentLength, TellsAMissingHeaderFromZero) {
    for (const auto& c : cases::kContentLength) {
        std::vector<char> text = Block(c.text);
        EXPECT_EQ(GetContentLength(text.data()), c.length) << testing::PrintToString(c.text);
    }
}

TEST(StripHeaders, KeepsExactlyContentLengthBodyBytes) {
    for (const auto& c : cases::kStripHeaders) {
        SCOPED_TRACE(c.what);
        std::vector<char> block = Block(c.response);
        EXPECT_EQ(StripHeaders(block.data(), c.response.size()), c.ok);
        std::string left(block.data(), c.body.size());
        EXPECT_EQ(left, c.body);
        EXPECT_EQ(block[c.body.size()], 0);
    }
}

TEST(StripHeaders, BodyBytesAreCheckedAgainstTheReceivedCountNotTheBuffer) {
    // A large buffer holding a short response: stale bytes behind the
    // response must not pass for body bytes.
    std::string response = "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nabc";
    std::vector<char> block(4096, 'x');
    memcpy(block.data(), response.data(), response.size());
    block[response.size()] = 0;
    EXPECT_FALSE(StripHeaders(block.data(), response.size()));
    EXPECT_EQ(block[0], 0);
}

TEST(ExtractBody, LeavesTheBodyAtTheStartAndUndoesChunking) {
    for (const auto& c : cases::kExtractBody) {
        SCOPED_TRACE(c.what);
        std::vector<char> block = Block(c.response);
        EXPECT_EQ(ExtractBody(block.data()), c.ok);
        EXPECT_EQ(std::string(block.data()), c.body);
    }
}

TEST(ExtractBody, DecodesABodyFillingTheWholeVersionBuffer) {
    // 99,999 bytes of response, as FetchResponse leaves the largest one,
    // in one-byte chunks: the decoded text is a fraction of it.
    std::string response = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    std::string expected;
    while (response.size() + 6 + 5 <= 99999) {
        char c = static_cast<char>('a' + expected.size() % 26);
        response += std::string("1\r\n") + c + "\r\n";
        expected += c;
    }
    response += "0\r\n\r\n";
    response.resize(99999, '\n');
    std::vector<char> block = Block(response);
    ASSERT_TRUE(ExtractBody(block.data()));
    EXPECT_EQ(std::string(block.data()), expected);
}

TEST(ChunkSize, ReadsHexWithoutEverWrapping) {
    for (const auto& c : cases::kChunkSize) {
        std::vector<char> text = Block(c.text);
        EXPECT_EQ(ParseChunkSize(text.data()), c.size) << '"' << c.text << '"';
    }
}

TEST(HexDigit, BothCasesAndNothingElse) {
    for (const auto& c : cases::kHexDigit) {
        EXPECT_EQ(HexDigitValue(c.byte), c.value) << "byte " << int(c.byte);
    }
    int digits = 0;
    for (int b = 0; b < 256; ++b) {
        digits += HexDigitValue(static_cast<unsigned char>(b)) < 16;
    }
    EXPECT_EQ(digits, 22); // 0-9, a-f, A-F
}

TEST(Requests, VersionQueryText) {
    char out[256];
    ASSERT_TRUE(BuildVersionQuery(out, sizeof out, 0x65a1b2c3u));
    EXPECT_STREQ(out, "GET /zru/ver.php?k=65a1b2c3 HTTP/1.1\r\nHost: update.zetarune.com\r\n"
                      "Connection: close\r\n\r\n");
    EXPECT_EQ(strlen(out), 59u + strlen("update.zetarune.com") + 8);
    ASSERT_TRUE(BuildVersionQuery(out, sizeof out, 0));
    EXPECT_STREQ(out, "GET /zru/ver.php?k=0 HTTP/1.1\r\nHost: update.zetarune.com\r\n"
                      "Connection: close\r\n\r\n");
    ASSERT_TRUE(BuildVersionQuery(out, sizeof out, 0x0000abcdu));
    EXPECT_NE(strstr(out, "?k=abcd "), nullptr);           // lowercase, no leading zeros
    EXPECT_FALSE(BuildVersionQuery(out, 86, 0xffffffffu)); // 86 characters need 87 bytes
    EXPECT_TRUE(BuildVersionQuery(out, 87, 0xffffffffu));
}

TEST(Requests, PackageRequestText) {
    char out[256];
    ASSERT_TRUE(BuildPackageRequest(out, sizeof out, "/files/", "a.rar", "10.0.0.5"));
    EXPECT_STREQ(out, "GET /files/a.rar HTTP/1.1\r\nHost: 10.0.0.5\r\nConnection: close\r\n\r\n");
    // 44 fixed characters: path, name and host may take 211 together.
    std::string host(211 - 2 - 5, 'h');
    EXPECT_TRUE(BuildPackageRequest(out, sizeof out, "/f", "a.rar", host.c_str()));
    EXPECT_EQ(strlen(out), 255u);
    host += 'h';
    EXPECT_FALSE(BuildPackageRequest(out, sizeof out, "/f", "a.rar", host.c_str()));
}

} // namespace
