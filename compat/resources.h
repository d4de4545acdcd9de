// Dialog templates read out of the program's embedded .res file.
#pragma once

#include "compat/win32/base.h"

#include <string>
#include <vector>

namespace compat {

struct DialogItem {
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::string className; // predefined atoms as "Button", "Edit", "Static", ...
    std::string text;
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string title;
    int pointSize = 0, weight = 0, italic = 0, charset = 0;
    std::string font;
    WORD language = 0;
    std::vector<DialogItem> items;
};

// Finds dialog `id` in the embedded resources; false when it is not there or
// the template is damaged.
bool LoadDialogTemplate(int id, DialogTemplate& out);
// Finds resource `type`/`id` in a .res image: its bytes and language.
bool FindResourceData(const unsigned char* res, size_t size, int type, int id,
                      const unsigned char** data, size_t* length, WORD* language);
// The same, from any .res image (tests use it on the build's .res files).
bool ParseDialogFromRes(const unsigned char* res, size_t size, int id, DialogTemplate& out);

} // namespace compat
