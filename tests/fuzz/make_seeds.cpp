// Writes the fuzzers' seed corpora from the unit tests' case tables:
// make_seeds DIR gives DIR/http_response/* and DIR/version_data/*.
#include "tests/unit/updater/http_cases.h"
#include "tests/unit/updater/version_cases.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>

namespace {

int written = 0;

bool Write(const std::string& folder, const std::string& bytes) {
    std::string path = folder + "/seed-" + std::to_string(written++);
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) {
        return false;
    }
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_seeds DIR\n");
        return 2;
    }
    std::string root = argv[1];
    std::string http = root + "/http_response";
    std::string version = root + "/version_data";
    mkdir(root.c_str(), 0755);
    mkdir(http.c_str(), 0755);
    mkdir(version.c_str(), 0755);
    bool ok = true;
    for (const auto& c : cases::kStatus)
        ok = Write(http, c.text) && ok;
    for (const auto& c : cases::kHeaderEnd)
        ok = Write(http, c.bytes) && ok;
    for (const auto& c : cases::kContentLength)
        ok = Write(http, c.text) && ok;
    for (const auto& c : cases::kStripHeaders)
        ok = Write(http, c.response) && ok;
    for (const auto& c : cases::kExtractBody)
        ok = Write(http, c.response) && ok;
    for (const auto& c : cases::kChunkSize)
        ok = Write(http, c.text) && ok;
    for (const auto& c : cases::kCounts)
        ok = Write(version, c.text) && ok;
    for (const auto& c : cases::kEntryNames)
        ok = Write(version, c.text) && ok;
    for (const auto& c : cases::kMirrors)
        ok = Write(version, c.text) && ok;
    for (const auto& c : cases::kVersions)
        ok = Write(version, c.text) && ok;
    for (const auto& c : cases::kBuilds)
        ok = Write(version, c.body) && ok;
    if (!ok) {
        fprintf(stderr, "make_seeds: cannot write below %s\n", root.c_str());
        return 1;
    }
    return 0;
}
