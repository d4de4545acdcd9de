// Windows, dialogs, message boxes and the message queue on the terminal.
// Dialogs draw on standard error; standard input drives them: an empty line
// is Enter (the default button), a line of text goes into the edit field and
// then presses Enter (a line holding only a backspace empties the field), a
// line starting with Escape or the end of input is IDCANCEL.
#include "compat/compat.h"
#include "compat/resources.h"
#include "compat/win32/ui.h"

#include <cstdio>
#include <cstring>
#include <strings.h>
#include <deque>
#include <memory>
#include <vector>

struct HWND__ {
    int id = 0;
    std::string className;
    std::string text;
    DWORD style = 0;
    HWND parent = nullptr;
    DLGPROC proc = nullptr;
    std::vector<HWND> children;
    bool alive = true;
    bool modal = false;
    bool ended = false;
    INT_PTR result = 0;
    int position = 0; // progress bars
};

namespace {

constexpr DWORD kDisabled = 0x08000000; // WS_DISABLED
constexpr DWORD kDefPushButton = 0x1;   // BS_DEFPUSHBUTTON

std::vector<std::unique_ptr<HWND__>> windows; // never freed: handles stay checkable
HWND__ desktop;
std::deque<MSG> posted;

bool Alive(HWND w) {
    if (!w) {
        return false;
    }
    if (w == &desktop) {
        return true;
    }
    for (auto& p : windows) {
        if (p.get() == w) {
            return p->alive;
        }
    }
    return false;
}

HWND TopDialog(HWND w) {
    while (w && w->parent && w->parent != &desktop && !w->proc) {
        w = w->parent;
    }
    return w;
}

HWND ActiveDialog() {
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        if ((*it)->alive && (*it)->proc) {
            return it->get();
        }
    }
    return nullptr;
}

std::string Caption(HWND dlg) {
    return dlg->text;
}

void DrawBar(HWND bar) {
    HWND dlg = TopDialog(bar);
    int pos = bar->position < 0 ? 0 : bar->position > 100 ? 100 : bar->position;
    std::string cells(40, '.');
    for (int i = 0; i < pos * 40 / 100; ++i) {
        cells[static_cast<size_t>(i)] = '#';
    }
    fprintf(stderr, "%s | [%s] %d%%\n", Caption(dlg).c_str(), cells.c_str(), bar->position);
}

void Draw(HWND dlg) {
    std::string rule(64, '-');
    fprintf(stderr, "+- %s %s\n", dlg->text.c_str(),
            rule.substr(0, rule.size() > dlg->text.size() ? rule.size() - dlg->text.size() : 0)
                .c_str());
    std::string buttons;
    for (HWND c : dlg->children) {
        bool disabled = c->style & kDisabled;
        if (c->className == "Button") {
            std::string label = c->text;
            if (disabled) {
                buttons += " (" + label + ", disabled)";
            } else if ((c->style & 0xF) == kDefPushButton) {
                buttons += " <" + label + ">";
            } else {
                buttons += " [" + label + "]";
            }
        } else if (c->className == "Edit") {
            fprintf(stderr, "| edit: [%s]\n", c->text.c_str());
        } else if (strcasecmp(c->className.c_str(), PROGRESS_CLASSA) == 0) {
            fprintf(stderr, "| bar: %d%%\n", c->position);
        } else {
            fprintf(stderr, "| %s\n", c->text.c_str());
        }
    }
    fprintf(stderr, "|%s\n+%s\n", buttons.c_str(), rule.c_str());
    fflush(stderr);
}

HWND Build(int id, HWND owner, DLGPROC proc, bool modal) {
    compat::DialogTemplate t;
    if (!compat::LoadDialogTemplate(id, t)) {
        return nullptr;
    }
    windows.push_back(std::make_unique<HWND__>());
    HWND dlg = windows.back().get();
    dlg->className = "#32770";
    dlg->text = t.title;
    dlg->style = t.style;
    dlg->parent = owner;
    dlg->proc = proc;
    dlg->modal = modal;
    for (const auto& item : t.items) {
        windows.push_back(std::make_unique<HWND__>());
        HWND c = windows.back().get();
        c->id = item.id;
        c->className = item.className;
        c->text = item.text;
        c->style = item.style;
        c->parent = dlg;
        dlg->children.push_back(c);
    }
    return dlg;
}

INT_PTR Call(HWND dlg, UINT msg, WPARAM w, LPARAM l) {
    return dlg && dlg->proc && Alive(dlg) ? dlg->proc(dlg, msg, w, l) : 0;
}

// The button that Enter presses: the enabled default push button, else IDOK.
int DefaultId(HWND dlg) {
    for (HWND c : dlg->children) {
        if (c->className == "Button" && (c->style & 0xF) == kDefPushButton &&
            !(c->style & kDisabled)) {
            return c->id;
        }
    }
    return IDOK;
}

void Command(HWND dlg, int id) {
    Call(dlg, WM_COMMAND, static_cast<WPARAM>(id), 0);
}

} // namespace

void InitCommonControls() {}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls) {
    return controls != nullptr;
}

HWND GetDesktopWindow() {
    return &desktop;
}

INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR templateName, HWND owner, DLGPROC proc,
                        LPARAM initParam) {
    HWND dlg =
        Build(static_cast<int>(reinterpret_cast<uintptr_t>(templateName)), owner, proc, true);
    if (!dlg) {
        return -1;
    }
    Call(dlg, WM_INITDIALOG, 0, initParam);
    Draw(dlg);
    while (!dlg->ended) {
        std::string line;
        compat::Input in = compat::ReadInput(line, true);
        if (in == compat::Input::Line) {
            if (!line.empty()) {
                for (HWND c : dlg->children) {
                    if (c->className == "Edit") {
                        c->text = line == "\b" ? std::string() : line;
                        break;
                    }
                }
            }
            Command(dlg, DefaultId(dlg));
        } else {
            Command(dlg, IDCANCEL);
            if (in == compat::Input::End && !dlg->ended) {
                dlg->result = -1; // no more input can end it
                break;
            }
        }
        if (!dlg->ended) {
            Draw(dlg);
        }
    }
    dlg->alive = false;
    for (HWND c : dlg->children) {
        c->alive = false;
    }
    return dlg->result;
}

HWND CreateDialogParamA(HINSTANCE, LPCSTR templateName, HWND owner, DLGPROC proc,
                        LPARAM initParam) {
    HWND dlg =
        Build(static_cast<int>(reinterpret_cast<uintptr_t>(templateName)), owner, proc, false);
    if (!dlg) {
        return nullptr;
    }
    Call(dlg, WM_INITDIALOG, 0, initParam);
    if (Alive(dlg) && (dlg->style & 0x10000000)) { // WS_VISIBLE
        Draw(dlg);
    }
    return dlg;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    if (!Alive(dialog) || !dialog->modal) {
        return FALSE;
    }
    dialog->ended = true;
    dialog->result = result;
    return TRUE;
}

BOOL DestroyWindow(HWND window) {
    if (!Alive(window) || window == &desktop) {
        return FALSE;
    }
    window->alive = false;
    for (HWND c : window->children) {
        c->alive = false;
    }
    return TRUE;
}

BOOL IsWindow(HWND window) {
    return Alive(window);
}

HWND GetDlgItem(HWND dialog, int id) {
    if (!Alive(dialog)) {
        return nullptr;
    }
    for (HWND c : dialog->children) {
        if (c->id == id) {
            return c;
        }
    }
    return nullptr;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!Alive(window)) {
        return 0;
    }
    switch (message) {
    case WM_SETTEXT:
        return SetWindowTextA(window, reinterpret_cast<LPCSTR>(lParam));
    case WM_GETTEXT:
        return GetWindowTextA(window, reinterpret_cast<LPSTR>(lParam), static_cast<int>(wParam));
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(window->text.size());
    case PBM_SETPOS: {
        int old = window->position;
        window->position = static_cast<int>(wParam);
        if (old != window->position) {
            DrawBar(window);
        }
        return old;
    }
    case PBM_GETPOS:
        return window->position;
    default:
        return window->proc ? window->proc(window, message, wParam, lParam) : 0;
    }
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    posted.push_back(MSG{window, message, wParam, lParam, 0, {0, 0}});
    return TRUE;
}

BOOL SetWindowTextA(HWND window, LPCSTR text) {
    if (!Alive(window)) {
        return FALSE;
    }
    window->text = text ? text : "";
    if (window->className == "Static" && window->parent && !window->parent->modal) {
        fprintf(stderr, "%s | %s\n", window->parent->text.c_str(), window->text.c_str());
        fflush(stderr);
    }
    return TRUE;
}

int GetWindowTextA(HWND window, LPSTR buffer, int capacity) {
    if (!Alive(window) || !buffer || capacity <= 0) {
        return 0;
    }
    size_t n = window->text.size();
    if (n > static_cast<size_t>(capacity - 1)) {
        n = static_cast<size_t>(capacity - 1);
    }
    memcpy(buffer, window->text.data(), n);
    buffer[n] = 0;
    return static_cast<int>(n);
}

BOOL IsWindowEnabled(HWND window) {
    return Alive(window) && !(window->style & kDisabled);
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
    fprintf(stderr, "MessageBox [%s] %s\n", caption ? caption : "Error", text ? text : "");
    fflush(stderr);
    return IDOK;
}

BOOL PeekMessageA(LPMSG msg, HWND, UINT, UINT, UINT remove) {
    if (posted.empty()) {
        std::string line;
        compat::Input in = compat::ReadInput(line, false);
        if (in == compat::Input::None) {
            return FALSE;
        }
        static bool endSeen = false;
        if (in == compat::Input::End) {
            if (endSeen) {
                return FALSE;
            }
            endSeen = true;
        }
        WPARAM key = in == compat::Input::Line && line.empty() ? VK_RETURN : VK_ESCAPE;
        if (in == compat::Input::Line && !line.empty()) {
            return FALSE; // typed text: no edit field takes it here
        }
        posted.push_back(MSG{ActiveDialog(), WM_KEYDOWN, key, 0, 0, {0, 0}});
    }
    *msg = posted.front();
    if (remove & PM_REMOVE) {
        posted.pop_front();
    }
    return TRUE;
}

BOOL IsDialogMessageA(HWND dialog, LPMSG msg) {
    if (!Alive(dialog) || !msg || !msg->hwnd || TopDialog(msg->hwnd) != dialog) {
        return FALSE;
    }
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) {
        Command(dialog, IDCANCEL);
    } else if (msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) {
        Command(dialog, DefaultId(dialog));
    } else {
        DispatchMessageA(msg);
    }
    return TRUE;
}

BOOL TranslateMessage(const MSG*) {
    return FALSE;
}

LRESULT DispatchMessageA(const MSG* msg) {
    if (!msg || !Alive(msg->hwnd) || msg->message == WM_KEYDOWN) {
        return 0;
    }
    HWND target = msg->hwnd->proc ? msg->hwnd : TopDialog(msg->hwnd);
    return Call(target, msg->message, msg->wParam, msg->lParam);
}
