// COM start-up and the shell's link object. A saved link is a small text
// file: "target=", "workdir=" and "description=" lines, ANSI text.
#include "compat/compat.h"
#include "compat/win32/files.h"
#include "compat/win32/shell.h"

#include <cstring>
#include <string>

const CLSID CLSID_ShellLink = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IUnknown = {0x00000000, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IShellLinkA = {0x000214EE, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IPersistFile = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace {

int comInitCount = 0;

bool Same(REFIID a, REFIID b) {
    return memcmp(&a, &b, sizeof(GUID)) == 0;
}

class ShellLink;

class LinkFile : public IPersistFile {
  public:
    explicit LinkFile(ShellLink* owner) : owner_(owner) {}
    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT Save(LPCOLESTR fileName, BOOL remember) override;

  private:
    ShellLink* owner_;
};

class ShellLink final : public IShellLinkA {
  public:
    ShellLink() : file_(this) {}
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object) {
            return E_POINTER;
        }
        if (Same(iid, IID_IShellLinkA) || Same(iid, IID_IUnknown)) {
            *object = static_cast<IShellLinkA*>(this);
        } else if (Same(iid, IID_IPersistFile)) {
            *object = static_cast<IPersistFile*>(&file_);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT SetPath(LPCSTR path) override { return Set(target_, path); }
    HRESULT SetWorkingDirectory(LPCSTR dir) override { return Set(workdir_, dir); }
    HRESULT SetDescription(LPCSTR text) override { return Set(description_, text); }

    HRESULT SaveTo(LPCOLESTR fileName) {
        if (!fileName) {
            return E_INVALIDARG;
        }
        char name[1024];
        if (WideCharToMultiByte(CP_ACP, 0, fileName, -1, name, sizeof name, nullptr, nullptr) ==
            0) {
            return E_INVALIDARG;
        }
        std::string text =
            "target=" + target_ + "\nworkdir=" + workdir_ + "\ndescription=" + description_ + "\n";
        HANDLE h = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            return static_cast<HRESULT>(0x80070000u | (GetLastError() & 0xFFFF));
        }
        DWORD done = 0;
        BOOL ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
        CloseHandle(h);
        return ok && done == text.size() ? S_OK : E_FAIL;
    }

  private:
    static HRESULT Set(std::string& field, LPCSTR value) {
        if (!value) {
            return E_INVALIDARG;
        }
        if (strlen(value) >= MAX_PATH) {
            return E_INVALIDARG; // the shell refuses texts beyond the path limit
        }
        field = value;
        return S_OK;
    }
    ULONG refs_ = 1;
    LinkFile file_;
    std::string target_, workdir_, description_;
};

HRESULT LinkFile::QueryInterface(REFIID iid, void** object) {
    return owner_->QueryInterface(iid, object);
}
ULONG LinkFile::AddRef() {
    return owner_->AddRef();
}
ULONG LinkFile::Release() {
    return owner_->Release();
}
HRESULT LinkFile::Save(LPCOLESTR fileName, BOOL) {
    return owner_->SaveTo(fileName);
}

} // namespace

HRESULT CoInitialize(LPVOID) {
    return comInitCount++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    if (comInitCount > 0) {
        --comInitCount;
    }
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID iid, LPVOID* object) {
    if (!object) {
        return E_POINTER;
    }
    *object = nullptr;
    if (comInitCount == 0) {
        return CO_E_NOTINITIALIZED;
    }
    if (outer || !Same(clsid, CLSID_ShellLink)) {
        return REGDB_E_CLASSNOTREG;
    }
    auto* link = new ShellLink();
    HRESULT hr = link->QueryInterface(iid, object);
    link->Release();
    return hr;
}
