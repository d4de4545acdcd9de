// The registry as a human-readable text file, registry.txt, under the compat
// root. Each key is a "[path]" line followed by its values, one a line:
//   "name"=type:"data"   with a backslash doubled and other bytes outside
// printable ASCII, and the quote, as \xHH.
// Key and value names compare case-insensitively. The file is read for every
// call and rewritten after every change.
#include "compat/compat.h"
#include "compat/win32/registry.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

struct HKEY__ {
    std::string path;
};

namespace {

struct Value {
    std::string name;
    DWORD type;
    std::string data;
};

struct Key {
    std::string path;
    std::vector<Value> values;
};

std::string Lower(const std::string& s) {
    std::string r(s);
    for (char& c : r) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return r;
}

using Store = std::map<std::string, Key>; // by lower-case path

std::string FilePath() {
    return compat::Root() + "/registry.txt";
}

std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c >= 0x20 && c < 0x7f && c != '"') {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out + "\"";
}

// Reads a quoted text at s[pos]; pos ends after the closing quote.
bool Unquote(const std::string& s, size_t& pos, std::string& out) {
    if (pos >= s.size() || s[pos] != '"') {
        return false;
    }
    out.clear();
    for (++pos; pos < s.size(); ++pos) {
        if (s[pos] == '"') {
            ++pos;
            return true;
        }
        if (s[pos] == '\\' && pos + 3 < s.size() && s[pos + 1] == 'x') {
            out += static_cast<char>(std::stoi(s.substr(pos + 2, 2), nullptr, 16));
            pos += 3;
        } else if (s[pos] == '\\' && pos + 1 < s.size() && s[pos + 1] == '\\') {
            out += '\\';
            ++pos;
        } else {
            out += s[pos];
        }
    }
    return false;
}

Store Load() {
    Store store;
    std::ifstream in(FilePath(), std::ios::binary);
    std::string line;
    Key* current = nullptr;
    while (std::getline(in, line)) {
        if (line.size() >= 2 && line[0] == '[' && line.back() == ']') {
            std::string path = line.substr(1, line.size() - 2);
            Key& k = store[Lower(path)];
            k.path = path;
            current = &k;
        } else if (current && !line.empty() && line[0] == '"') {
            size_t pos = 0;
            Value v;
            if (!Unquote(line, pos, v.name) || pos >= line.size() || line[pos] != '=') {
                continue;
            }
            size_t colon = line.find(':', pos);
            if (colon == std::string::npos) {
                continue;
            }
            v.type = static_cast<DWORD>(std::stoul(line.substr(pos + 1, colon - pos - 1)));
            pos = colon + 1;
            if (Unquote(line, pos, v.data)) {
                current->values.push_back(v);
            }
        }
    }
    return store;
}

void Save(const Store& store) {
    std::string tmp = FilePath() + ".new";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << "; registry of the compat machine\n";
        for (const auto& [lower, key] : store) {
            out << "\n[" << key.path << "]\n";
            for (const Value& v : key.values) {
                out << Quote(v.name) << "=" << v.type << ":" << Quote(v.data) << "\n";
            }
        }
    }
    rename(tmp.c_str(), FilePath().c_str());
}

bool RootName(HKEY key, std::string& name) {
    if (key == HKEY_LOCAL_MACHINE) {
        name = "HKEY_LOCAL_MACHINE";
    } else if (key == HKEY_CURRENT_USER) {
        name = "HKEY_CURRENT_USER";
    } else if (key == HKEY_CLASSES_ROOT) {
        name = "HKEY_CLASSES_ROOT";
    } else if (key) {
        name = key->path;
    } else {
        return false;
    }
    return true;
}

bool FullPath(HKEY parent, LPCSTR subKey, std::string& path) {
    if (!RootName(parent, path)) {
        return false;
    }
    std::string sub = subKey ? subKey : "";
    while (!sub.empty() && sub.back() == '\\') {
        sub.pop_back();
    }
    if (!sub.empty()) {
        path += "\\" + sub;
    }
    return true;
}

bool IsRoot(const std::string& path) {
    return path.find('\\') == std::string::npos;
}

// The stored record of an open key, or null (with the status to return).
Key* FindKey(Store& store, HKEY key, LSTATUS& status) {
    std::string path;
    if (!RootName(key, path)) {
        status = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    auto it = store.find(Lower(path));
    if (it == store.end()) {
        status = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    return &it->second;
}

Value* FindValue(Key& key, LPCSTR name) {
    std::string n = Lower(name ? name : "");
    for (Value& v : key.values) {
        if (Lower(v.name) == n) {
            return &v;
        }
    }
    return nullptr;
}

} // namespace

LSTATUS RegOpenKeyExA(HKEY parent, LPCSTR subKey, DWORD, REGSAM, PHKEY result) {
    std::string path;
    if (!result || !FullPath(parent, subKey, path)) {
        return ERROR_INVALID_HANDLE;
    }
    Store store = Load();
    if (!IsRoot(path) && !store.count(Lower(path))) {
        return ERROR_FILE_NOT_FOUND;
    }
    *result = new HKEY__{IsRoot(path) ? path : store[Lower(path)].path};
    return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExA(HKEY parent, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM,
                        LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
    std::string path;
    if (!result || !FullPath(parent, subKey, path)) {
        return ERROR_INVALID_HANDLE;
    }
    Store store = Load();
    bool existed = IsRoot(path) || store.count(Lower(path));
    if (!existed) {
        // Every missing key on the way is created, as the system does.
        for (size_t i = path.find('\\'); i != std::string::npos; i = path.find('\\', i + 1)) {
            std::string part = path.substr(0, i);
            if (!IsRoot(part) && !store.count(Lower(part))) {
                store[Lower(part)].path = part;
            }
        }
        store[Lower(path)].path = path;
        Save(store);
    }
    if (disposition) {
        *disposition = existed ? 2 : 1; // REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY
    }
    *result = new HKEY__{IsRoot(path) ? path : store[Lower(path)].path};
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
    Store store = Load();
    LSTATUS status;
    Key* k = FindKey(store, key, status);
    if (!k) {
        return status;
    }
    Value* v = FindValue(*k, name);
    if (!v) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (type) {
        *type = v->type;
    }
    DWORD needed = static_cast<DWORD>(v->data.size());
    if (!size) {
        return data ? ERROR_INVALID_HANDLE : ERROR_SUCCESS;
    }
    DWORD room = *size;
    *size = needed;
    if (!data) {
        return ERROR_SUCCESS;
    }
    if (needed > room) {
        return ERROR_MORE_DATA;
    }
    memcpy(data, v->data.data(), needed);
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
    std::string path;
    if (!RootName(key, path) || IsRoot(path)) {
        return ERROR_ACCESS_DENIED;
    }
    Store store = Load();
    auto it = store.find(Lower(path));
    if (it == store.end()) {
        return ERROR_FILE_NOT_FOUND; // deleted while open
    }
    std::string bytes(reinterpret_cast<const char*>(data), data ? size : 0);
    if (Value* v = FindValue(it->second, name)) {
        v->type = type;
        v->data = bytes;
    } else {
        it->second.values.push_back(Value{name ? name : "", type, bytes});
    }
    Save(store);
    return ERROR_SUCCESS;
}

LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD, LPDWORD type,
                      LPBYTE data, LPDWORD dataSize) {
    Store store = Load();
    LSTATUS status;
    Key* k = FindKey(store, key, status);
    if (!k || index >= k->values.size()) {
        return k || status == ERROR_FILE_NOT_FOUND ? ERROR_NO_MORE_ITEMS : status;
    }
    const Value& v = k->values[index];
    if (!name || !nameSize || *nameSize <= v.name.size()) {
        return ERROR_MORE_DATA;
    }
    memcpy(name, v.name.c_str(), v.name.size() + 1);
    *nameSize = static_cast<DWORD>(v.name.size());
    if (type) {
        *type = v.type;
    }
    if (dataSize) {
        DWORD room = *dataSize;
        *dataSize = static_cast<DWORD>(v.data.size());
        if (data) {
            if (v.data.size() > room) {
                return ERROR_MORE_DATA;
            }
            memcpy(data, v.data.data(), v.data.size());
        }
    }
    return ERROR_SUCCESS;
}

LSTATUS RegDeleteValueA(HKEY key, LPCSTR name) {
    Store store = Load();
    LSTATUS status;
    Key* k = FindKey(store, key, status);
    if (!k) {
        return status;
    }
    auto& values = k->values;
    std::string n = Lower(name ? name : "");
    for (auto v = values.begin(); v != values.end(); ++v) {
        if (Lower(v->name) == n) {
            values.erase(v);
            Save(store);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

LSTATUS RegDeleteKeyA(HKEY parent, LPCSTR subKey) {
    std::string path;
    if (!subKey || !*subKey || !FullPath(parent, subKey, path)) {
        return ERROR_INVALID_HANDLE;
    }
    Store store = Load();
    std::string lower = Lower(path);
    if (!store.count(lower)) {
        return ERROR_FILE_NOT_FOUND;
    }
    // A key that still has subkeys is not deleted, as on Windows.
    for (const auto& entry : store) {
        if (entry.first.compare(0, lower.size() + 1, lower + "\\") == 0) {
            return ERROR_ACCESS_DENIED;
        }
    }
    store.erase(lower);
    Save(store);
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
    if (!key) {
        return ERROR_INVALID_HANDLE;
    }
    if (key != HKEY_LOCAL_MACHINE && key != HKEY_CURRENT_USER && key != HKEY_CLASSES_ROOT) {
        delete key;
    }
    return ERROR_SUCCESS;
}
