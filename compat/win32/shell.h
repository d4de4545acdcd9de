// COM start-up and the shell's link object. Save writes a small text file
// that holds target, working directory and description.
#pragma once

#include "compat/win32/base.h"

typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID, IID, CLSID;
typedef const GUID& REFIID;
typedef const GUID& REFCLSID;
typedef WCHAR* LPOLESTR;
typedef const WCHAR* LPCOLESTR;

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOINTERFACE ((HRESULT)0x80004002u)
#define E_POINTER ((HRESULT)0x80004003u)
#define E_FAIL ((HRESULT)0x80004005u)
#define E_INVALIDARG ((HRESULT)0x80070057u)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154u)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0u)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define CLSCTX_INPROC_SERVER 0x1

extern const CLSID CLSID_ShellLink;
extern const IID IID_IUnknown;
extern const IID IID_IShellLinkA;
extern const IID IID_IPersistFile;

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};

struct IShellLinkA : IUnknown {
    virtual HRESULT SetPath(LPCSTR path) = 0;
    virtual HRESULT SetWorkingDirectory(LPCSTR dir) = 0;
    virtual HRESULT SetDescription(LPCSTR text) = 0;
};

struct IPersistFile : IUnknown {
    virtual HRESULT Save(LPCOLESTR fileName, BOOL remember) = 0;
};

HRESULT CoInitialize(LPVOID reserved);
void CoUninitialize();
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                         LPVOID* object);
