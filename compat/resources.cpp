// Reads compiled resource files (.res): a run of entries, each a header with
// type and name (an ordinal or a UTF-16 string) followed by DWORD-aligned data.
#include "compat/resources.h"
#include "compat/compat.h"

#include <cstring>

namespace compat {
namespace {

ResourceBlob blob{nullptr, 0};

struct Reader {
    const unsigned char* p;
    size_t size;
    size_t pos = 0;
    bool ok = true;

    unsigned Word() {
        if (pos + 2 > size) {
            ok = false;
            return 0;
        }
        unsigned v = p[pos] | (p[pos + 1] << 8);
        pos += 2;
        return v;
    }
    DWORD Dword() {
        unsigned lo = Word();
        unsigned hi = Word();
        return lo | (static_cast<DWORD>(hi) << 16);
    }
    int Short() { return static_cast<int16_t>(Word()); }
    void Align4() { pos = (pos + 3) & ~static_cast<size_t>(3); }
    // A NUL-terminated UTF-16 text, converted to the ANSI code page.
    std::string WideText() {
        std::string out;
        for (;;) {
            unsigned c = Word();
            if (!ok || c == 0) {
                return out;
            }
            char16_t w = static_cast<char16_t>(c);
            char a;
            WideCharToMultiByte(CP_ACP, 0, &w, 1, &a, 1, nullptr, nullptr);
            out += a;
        }
    }
    // An ordinal (0xFFFF, then the number) or a text.
    void NameOrOrdinal(int& ordinal, std::string& text) {
        ordinal = -1;
        text.clear();
        if (pos + 2 <= size && p[pos] == 0xFF && p[pos + 1] == 0xFF) {
            Word();
            ordinal = static_cast<int>(Word());
        } else {
            text = WideText();
        }
    }
};

std::string AtomClass(int atom) {
    switch (atom) {
    case 0x80:
        return "Button";
    case 0x81:
        return "Edit";
    case 0x82:
        return "Static";
    case 0x83:
        return "ListBox";
    case 0x84:
        return "ScrollBar";
    case 0x85:
        return "ComboBox";
    default:
        return "#" + std::to_string(atom);
    }
}

bool ParseDialog(const unsigned char* data, size_t size, DialogTemplate& out) {
    Reader r{data, size};
    unsigned version = r.Word();
    unsigned signature = r.Word();
    if (version != 1 || signature != 0xFFFF) {
        return false; // only extended templates are used here
    }
    r.Dword(); // help id
    out.exStyle = r.Dword();
    out.style = r.Dword();
    unsigned count = r.Word();
    out.x = r.Short();
    out.y = r.Short();
    out.cx = r.Short();
    out.cy = r.Short();
    int ord;
    std::string text;
    r.NameOrOrdinal(ord, text); // menu
    r.NameOrOrdinal(ord, text); // window class
    out.title = r.WideText();
    if (out.style & 0x40) { // DS_SETFONT
        out.pointSize = static_cast<int>(r.Word());
        out.weight = static_cast<int>(r.Word());
        out.italic = r.p[r.pos < size ? r.pos : 0];
        out.charset = r.pos + 1 < size ? r.p[r.pos + 1] : 0;
        r.pos += 2;
        out.font = r.WideText();
    }
    for (unsigned i = 0; i < count && r.ok; ++i) {
        r.Align4();
        DialogItem item;
        r.Dword(); // help id
        item.exStyle = r.Dword();
        item.style = r.Dword();
        item.x = r.Short();
        item.y = r.Short();
        item.cx = r.Short();
        item.cy = r.Short();
        item.id = static_cast<int32_t>(r.Dword());
        r.NameOrOrdinal(ord, item.className);
        if (ord >= 0) {
            item.className = AtomClass(ord);
        }
        r.NameOrOrdinal(ord, item.text);
        unsigned extra = r.Word();
        r.pos += extra;
        out.items.push_back(item);
    }
    return r.ok;
}

} // namespace

void SetResources(const unsigned char* data, size_t size) {
    blob = ResourceBlob{data, size};
}

const ResourceBlob& Resources() {
    return blob;
}

bool FindResourceData(const unsigned char* res, size_t size, int type, int id,
                      const unsigned char** data, size_t* length, WORD* language) {
    Reader r{res, size};
    while (r.ok && r.pos + 8 <= size) {
        size_t start = r.pos;
        DWORD dataSize = r.Dword();
        DWORD headerSize = r.Dword();
        int typeOrd, nameOrd;
        std::string typeText, nameText;
        r.NameOrOrdinal(typeOrd, typeText);
        r.NameOrOrdinal(nameOrd, nameText);
        r.Align4();
        r.Dword(); // data version
        r.Word();  // memory flags
        WORD lang = static_cast<WORD>(r.Word());
        if (!r.ok || headerSize < 8 || start + headerSize + dataSize > size) {
            return false;
        }
        if (typeOrd == type && nameOrd == id) {
            *data = res + start + headerSize;
            *length = dataSize;
            if (language) {
                *language = lang;
            }
            return true;
        }
        r.pos = start + headerSize + dataSize;
        r.Align4();
    }
    return false;
}

bool ParseDialogFromRes(const unsigned char* res, size_t size, int id, DialogTemplate& out) {
    const unsigned char* data;
    size_t length;
    WORD language;
    if (!FindResourceData(res, size, 5, id, &data, &length, &language)) { // RT_DIALOG
        return false;
    }
    out = DialogTemplate();
    out.language = language;
    return ParseDialog(data, length, out);
}

bool LoadDialogTemplate(int id, DialogTemplate& out) {
    return blob.data && ParseDialogFromRes(blob.data, blob.size, id, out);
}

} // namespace compat
