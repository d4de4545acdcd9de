// The COM string helper that comutil.h's _bstr_t relies on. Visual C++ ships
// it in its COM support library; mingw-w64 declares it but has no library
// for it, so unrar.dll carries this one.
#include <windows.h>
#include <oleauto.h>
#include <comutil.h>

namespace _com_util {

// A BSTR holding pSrc converted from the ANSI code page; NULL for NULL, or
// when the text does not convert or no memory is left.
BSTR WINAPI ConvertStringToBSTR(const char* pSrc) {
    if (pSrc == NULL)
        return NULL;
    int units = MultiByteToWideChar(CP_ACP, 0, pSrc, -1, NULL, 0);
    if (units <= 0)
        return NULL;
    BSTR text = SysAllocStringLen(NULL, static_cast<UINT>(units - 1));
    if (text == NULL)
        return NULL;
    if (MultiByteToWideChar(CP_ACP, 0, pSrc, -1, text, units) != units) {
        SysFreeString(text);
        return NULL;
    }
    return text;
}

} // namespace _com_util
