// Text helpers: string calls, the ANSI (Windows-1252) and OEM (437) code
// pages, the debug output and the thread's last error.
#include "compat/compat.h"
#include "compat/win32/base.h"

#include <cstdio>
#include <cstring>

namespace {

unsigned long lastError = 0;

// Windows-1252 bytes 0x80..0x9F; the rest of the page equals Latin-1.
const char16_t kAnsiHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Code page 437 bytes 0x80..0xFF.
const char16_t kOemHigh[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0};

char16_t AnsiToWide(unsigned char c) {
    return c >= 0x80 && c < 0xA0 ? kAnsiHigh[c - 0x80] : c;
}

char16_t OemToWide(unsigned char c) {
    return c >= 0x80 ? kOemHigh[c - 0x80] : c;
}

unsigned char WideToAnsi(char16_t w, bool& ok) {
    ok = true;
    if (w < 0x80 || (w >= 0xA0 && w < 0x100)) {
        return static_cast<unsigned char>(w);
    }
    for (int i = 0; i < 32; ++i) {
        if (kAnsiHigh[i] == w) {
            return static_cast<unsigned char>(0x80 + i);
        }
    }
    ok = false;
    return '?';
}

} // namespace

namespace compat {
void SetLastError(unsigned long code) {
    lastError = code;
}
} // namespace compat

DWORD GetLastError() {
    return static_cast<DWORD>(lastError);
}

void OutputDebugStringA(LPCSTR text) {
    if (text) {
        fputs(text, stderr);
        fflush(stderr);
    }
}

LPSTR lstrcatA(LPSTR dest, LPCSTR src) {
    return strcat(dest, src);
}

int lstrlenA(LPCSTR text) {
    return text ? static_cast<int>(strlen(text)) : 0;
}

int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR text, int length, LPWSTR wide, int capacity) {
    if (!text) {
        return 0;
    }
    size_t n = length < 0 ? strlen(text) + 1 : static_cast<size_t>(length);
    if (capacity == 0) {
        return static_cast<int>(n);
    }
    if (n > static_cast<size_t>(capacity)) {
        compat::SetLastError(122); // ERROR_INSUFFICIENT_BUFFER
        return 0;
    }
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        wide[i] = codePage == CP_OEMCP ? OemToWide(c) : AnsiToWide(c);
    }
    return static_cast<int>(n);
}

int WideCharToMultiByte(UINT, DWORD, LPCWSTR wide, int length, LPSTR text, int capacity,
                        LPCSTR defaultChar, BOOL* usedDefault) {
    if (!wide) {
        return 0;
    }
    size_t n = 0;
    if (length < 0) {
        while (wide[n]) {
            ++n;
        }
        ++n;
    } else {
        n = static_cast<size_t>(length);
    }
    if (capacity == 0) {
        return static_cast<int>(n);
    }
    if (n > static_cast<size_t>(capacity)) {
        compat::SetLastError(122);
        return 0;
    }
    if (usedDefault) {
        *usedDefault = FALSE;
    }
    for (size_t i = 0; i < n; ++i) {
        bool ok;
        text[i] = static_cast<char>(WideToAnsi(wide[i], ok));
        if (!ok) {
            text[i] = defaultChar ? *defaultChar : '?';
            if (usedDefault) {
                *usedDefault = TRUE;
            }
        }
    }
    return static_cast<int>(n);
}

BOOL OemToCharA(LPCSTR src, LPSTR dest) {
    if (!src || !dest) {
        return FALSE;
    }
    size_t i = 0;
    for (; src[i]; ++i) {
        bool ok;
        unsigned char c = WideToAnsi(OemToWide(static_cast<unsigned char>(src[i])), ok);
        dest[i] = static_cast<char>(ok ? c : '_');
    }
    dest[i] = 0;
    return TRUE;
}
