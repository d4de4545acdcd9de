// Manifest and version-list cases shared by the unit tests and the fuzzers'
// seeds.
#pragma once

#include <string>
#include <vector>

namespace cases {

inline const std::string kName51(51, 'n');
inline const std::string kName52(52, 'n');
inline const std::string kMirror511 = "m/" + std::string(509, 'p');
inline const std::string kMirror512 = "m/" + std::string(510, 'p');

struct CountCase {
    const char* what;
    std::string text;
    int entries;
    int mirrors;
};

inline const std::vector<CountCase> kCounts = {
    {"empty", "", 0, 0},
    {"one package", "\"a.rar\",1\r\n", 1, 0},
    {"odd double quotes", "\"a.rar\",1\r\n\"b.rar", 1, 0},
    {"one double quote", "\"", 0, 0},
    {"one mirror", "'host/files/'", 0, 1},
    {"odd single quotes", "'host/files/' 'x", 0, 1},
    {"interleaved", "'m1/a/'\"a\",1\r\n'm2/b/'\"b\",2\r\n'm3/c/'", 2, 3},
};

// Entry n of a kind, by its quote character.
struct QuotedCase {
    const char* what;
    std::string text;
    int n;
    bool ok;
    std::string value;
};

inline const std::vector<QuotedCase> kEntryNames = {
    {"first", "\"a.rar\",1\r\n\"b.rar\",2\r\n", 0, true, "a.rar"},
    {"second", "\"a.rar\",1\r\n\"b.rar\",2\r\n", 1, true, "b.rar"},
    {"counted past mirrors", "'m/x/'\"a\",1'n/y/'\"b\",2", 1, true, "b"},
    {"blank before the comma", "\"a\" ,1", 0, true, "a"},
    {"empty name", "\"\",1", 0, true, ""},
    {"beyond the count", "\"a.rar\",1\r\n", 1, false, ""},
    {"unpaired last quote", "\"a.rar\",1\r\n\"b.rar", 1, false, ""},
    {"negative number", "\"a.rar\",1\r\n", -1, false, ""},
    {"51 characters fit", "\"" + kName51 + "\",1", 0, true, kName51},
    {"52 characters do not", "\"" + kName52 + "\",1", 0, false, ""},
};

inline const std::vector<QuotedCase> kMirrors = {
    {"first", "'m1/a/' 'm2/b/'", 0, true, "m1/a/"},
    {"second", "'m1/a/' 'm2/b/'", 1, true, "m2/b/"},
    {"counted past packages", "\"a\",1'm1/a/'\"b\",2'm2/b/'", 1, true, "m2/b/"},
    {"beyond the count", "'m1/a/'", 1, false, ""},
    {"unpaired", "'m1/a/", 0, false, ""},
    {"511 characters fit", "'" + kMirror511 + "'", 0, true, kMirror511},
    {"512 characters do not", "'" + kMirror512 + "'", 0, false, ""},
};

struct VersionCase {
    const char* what;
    std::string text;
    std::string name;
    int version;
};

inline const std::vector<VersionCase> kVersions = {
    {"plain", "\"a.rar\",7\r\n", "a.rar", 7},
    {"leading zeros", "\"a.rar\",007\r\n", "a.rar", 7},
    {"many leading zeros", "\"a.rar\",000000000000000000001\r\n", "a.rar", 1},
    {"blank before the digits", "\"a.rar\", 7\r\n", "a.rar", 0},
    {"minus before the digits", "\"a.rar\",-7\r\n", "a.rar", 0},
    {"no digit", "\"a.rar\",\r\n", "a.rar", 0},
    {"blank before the comma", "\"a.rar\" ,7\r\n", "a.rar", -1},
    {"no comma", "\"a.rar\"", "a.rar", -1},
    {"missing", "\"b.rar\",7\r\n", "a.rar", -1},
    {"case matters", "\"A.rar\",7\r\n", "a.rar", -1},
    {"end of another name", "\"ba.rar\",5\r\n\"a.rar\",3\r\n", "a.rar", 3},
    {"the longer name", "\"ba.rar\",5\r\n\"a.rar\",3\r\n", "ba.rar", 5},
    {"listed twice", "\"a.rar\",3\r\n\"a.rar\",5\r\n", "a.rar", 3},
    {"after a mirror", "'m/x/'\"a.rar\",4", "a.rar", 4},
    {"largest", "\"a.rar\",2147483647\r\n", "a.rar", 2147483647},
    {"one beyond", "\"a.rar\",2147483648\r\n", "a.rar", -1},
    {"would wrap to 0", "\"a.rar\",4294967296\r\n", "a.rar", -1},
    {"twenty digits", "\"a.rar\",99999999999999999999\r\n", "a.rar", -1},
    {"name longer than an entry name", "\"" + kName52 + "\",9", kName52, 9},
};

// A manifest body and the plain text of the "ver.dat" built from it.
struct BuildCase {
    const char* what;
    std::string body;
    std::string plain;
};

inline const std::vector<BuildCase> kBuilds = {
    {"retired entry left out", "\"a\",3\r\n\"b\",0\r\n\"c\",12\r\n", "\"a\",3\r\n\"c\",12\r\n"},
    {"leading zeros", "\"a.rar\",007", "\"a.rar\",7\r\n"},
    {"blank before the comma", "\"a\" ,3", "\"a\",-1\r\n"},
    {"minus before the digits", "\"a\",-3\"b\",1", "\"b\",1\r\n"},
    {"listed twice", "\"a\",3\"a\",5", "\"a\",3\r\n\"a\",3\r\n"},
    {"mirrors only", "'m/x/'", ""},
    {"empty body", "", ""},
    {"over-long name left out", "\"" + kName52 + "\",1\"b\",2", "\"b\",2\r\n"},
    {"name holding the key byte left out", "\"a\xA6\",1\"b\",2", "\"b\",2\r\n"},
    {"beyond 32 bits", "\"a\",4294967297", "\"a\",-1\r\n"},
};

} // namespace cases
