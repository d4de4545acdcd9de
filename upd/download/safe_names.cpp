#include "upd/download/safe_names.h"

#include <cctype>
#include <cstring>

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsDeviceName(const char* part, size_t length) {
    // The device is named by what stands before the first dot, blanks cut.
    size_t base = 0;
    while (base < length && part[base] != '.') {
        ++base;
    }
    while (base > 0 && part[base - 1] == ' ') {
        --base;
    }
    char up[5] = {0};
    if (base < 3 || base > 4) {
        return false;
    }
    for (size_t i = 0; i < base; ++i) {
        up[i] = static_cast<char>(toupper(static_cast<unsigned char>(part[i])));
    }
    if (base == 3) {
        return !strcmp(up, "CON") || !strcmp(up, "PRN") || !strcmp(up, "AUX") || !strcmp(up, "NUL");
    }
    return (!strncmp(up, "COM", 3) || !strncmp(up, "LPT", 3)) && up[3] >= '1' && up[3] <= '9';
}

bool IsSafePart(const char* part, size_t length) {
    if (length == 0) {
        return false; // a leading, doubled or trailing separator
    }
    if ((length == 1 && part[0] == '.') || (length == 2 && part[0] == '.' && part[1] == '.')) {
        return false;
    }
    char last = part[length - 1];
    if (last == '.' || last == ' ') {
        return false;
    }
    return !IsDeviceName(part, length);
}

} // namespace

bool IsSafeEntryName(const char* name) {
    if (!name || !*name) {
        return false;
    }
    for (const char* p = name; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7F || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' ||
            c == '>' || c == '|') {
            return false;
        }
    }
    const char* part = name;
    for (const char* p = name;; ++p) {
        if (*p == 0 || IsSeparator(*p)) {
            if (!IsSafePart(part, static_cast<size_t>(p - part))) {
                return false;
            }
            if (*p == 0) {
                return true;
            }
            part = p + 1;
        }
    }
}

bool IsRequestSafe(const char* text) {
    for (const char* p = text; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c <= 0x20 || c == 0x7F) {
            return false;
        }
    }
    return true;
}
