// Test robot: drives the dialogs of another process from the command line.
//
//   robot [-desktop NAME] COMMAND ARGS...
//
//   wait CAPTION [TIMEOUT]      wait for a visible top-level window with exactly
//                               this caption; print its HWND
//   gone CAPTION [TIMEOUT]      wait until no visible such window is left
//   text CAPTION ID             print the text of a control
//   settext CAPTION ID TEXT     set the text of a control (WM_SETTEXT)
//   press CAPTION ID            click a button (posted BM_CLICK); fails on a
//                               disabled or hidden button, as a player could not
//                               click it either
//   cancel CAPTION              post WM_COMMAND IDCANCEL to the dialog
//   enabled CAPTION ID          print 1 or 0
//   msgbox CAPTION [TIMEOUT] [BUTTON]
//                               wait for a message box with this caption, print
//                               its text, then press BUTTON (default IDOK)
//   controls CAPTION [POINTS FACE]
//                               one line per child control, tab-separated:
//                               id, class, style (hex), x,y,w,h in dialog
//                               units of the dialog font (default 8
//                               "MS Shell Dlg"), text (\\ \t \r \n escaped)
//   lnk PATH                    print target=, workdir=, description=,
//                               arguments=, icon= of a shell link
//
// CAPTION/ID commands other than wait, gone and msgbox also wait up to 20 s
// for the window. TIMEOUT is in milliseconds. Exit status: 0 done, 1 failed
// (not found, timed out, refused), 2 usage. Diagnostics go to stderr.
//
// -desktop NAME attaches the robot to a desktop other than its default one
// (waiting up to 20 s for it to exist), e.g. the Wine virtual desktop the
// program under test runs in; window lookup only sees windows of the robot's
// own desktop.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <fcntl.h>
#include <io.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include <string>

namespace {

const DWORD kDefaultTimeout = 20000;
const DWORD kPoll = 50;
const UINT kSendTimeout = 5000;

int fail(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    fputs("robot: ", stderr);
    vfprintf(stderr, fmt, ap);
    fputc('\n', stderr);
    va_end(ap);
    return 1;
}

bool parse_number(const char* s, unsigned long* out) {
    if (!s || !*s)
        return false;
    char* end = nullptr;
    unsigned long v = strtoul(s, &end, 0);
    if (*end)
        return false;
    *out = v;
    return true;
}

// Text of a window owned by any process; SendMessageTimeout so that a hung
// target cannot hang the robot.
bool window_text(HWND hwnd, std::string* out) {
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeout, &len))
        return false;
    std::vector<char> buf(len + 2, '\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, buf.size(), (LPARAM)buf.data(), SMTO_ABORTIFHUNG,
                             kSendTimeout, &got))
        return false;
    out->assign(buf.data(), strnlen(buf.data(), buf.size()));
    return true;
}

struct Search {
    const char* caption;
    const char* cls; // null: any class
    HWND found;
};

BOOL CALLBACK match_top(HWND hwnd, LPARAM lp) {
    Search* s = reinterpret_cast<Search*>(lp);
    if (!IsWindowVisible(hwnd))
        return TRUE;
    if (s->cls) {
        char cls[64];
        if (!GetClassNameA(hwnd, cls, sizeof cls) || strcmp(cls, s->cls) != 0)
            return TRUE;
    }
    // The caption of a top-level window is held by the window manager side of
    // user32, so GetWindowTextA is enough and never blocks on the target.
    char text[512];
    int n = GetWindowTextA(hwnd, text, sizeof text);
    if (n >= 0 && strcmp(text, s->caption) == 0) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND find_top(const char* caption, const char* cls = nullptr) {
    Search s = {caption, cls, nullptr};
    EnumWindows(match_top, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND wait_top(const char* caption, DWORD timeout, const char* cls = nullptr) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND h = find_top(caption, cls);
        if (h)
            return h;
        if (GetTickCount() - start >= timeout)
            return nullptr;
        Sleep(kPoll);
    }
}

HWND need_dialog(const char* caption) {
    HWND h = wait_top(caption, kDefaultTimeout);
    if (!h)
        fail("no window \"%s\"", caption);
    return h;
}

HWND need_control(HWND dlg, const char* id_text) {
    unsigned long id;
    if (!parse_number(id_text, &id)) {
        fail("bad control id \"%s\"", id_text);
        return nullptr;
    }
    HWND c = GetDlgItem(dlg, static_cast<int>(id));
    if (!c)
        fail("no control %lu", id);
    return c;
}

// A click as the player would make it: posted, so that a handler that opens
// a modal box does not block the robot.
int click(HWND button) {
    if (!IsWindowVisible(button))
        return fail("button is hidden");
    if (!IsWindowEnabled(button))
        return fail("button is disabled");
    if (!PostMessageA(button, BM_CLICK, 0, 0))
        return fail("PostMessage failed");
    return 0;
}

std::string escape(const std::string& s) {
    std::string r;
    for (char ch : s) {
        switch (ch) {
        case '\\':
            r += "\\\\";
            break;
        case '\t':
            r += "\\t";
            break;
        case '\r':
            r += "\\r";
            break;
        case '\n':
            r += "\\n";
            break;
        default:
            r += ch;
        }
    }
    return r;
}

// Pixels back to dialog units: the dialog manager maps each template value
// with MulDiv(v, base, 4 or 8); pick the value that maps exactly, if any.
int to_dlu(int px, int base, int div) {
    if (base <= 0)
        return px;
    int guess = MulDiv(px, div, base);
    for (int d = guess - 1; d <= guess + 1; ++d)
        if (MulDiv(d, base, div) == px)
            return d;
    return guess;
}

int cmd_wait(int argc, char** argv, bool gone) {
    if (argc < 1)
        return 2;
    unsigned long timeout = kDefaultTimeout;
    if (argc > 1 && !parse_number(argv[1], &timeout))
        return 2;
    if (!gone) {
        HWND h = wait_top(argv[0], timeout);
        if (!h)
            return fail("timed out waiting for \"%s\"", argv[0]);
        printf("0x%08lX\n", (unsigned long)(ULONG_PTR)h);
        return 0;
    }
    DWORD start = GetTickCount();
    while (find_top(argv[0])) {
        if (GetTickCount() - start >= timeout)
            return fail("\"%s\" still there", argv[0]);
        Sleep(kPoll);
    }
    return 0;
}

// The control argv[1] of the dialog captioned argv[0], or null (reported).
HWND need_dialog_control(char** argv) {
    HWND dlg = need_dialog(argv[0]);
    return dlg ? need_control(dlg, argv[1]) : nullptr;
}

int cmd_text(int argc, char** argv) {
    if (argc != 2)
        return 2;
    HWND c = need_dialog_control(argv);
    if (!c)
        return 1;
    std::string text;
    if (!window_text(c, &text))
        return fail("WM_GETTEXT failed");
    printf("%s\n", text.c_str());
    return 0;
}

int cmd_settext(int argc, char** argv) {
    if (argc != 3)
        return 2;
    HWND c = need_dialog_control(argv);
    if (!c)
        return 1;
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutA(c, WM_SETTEXT, 0, (LPARAM)argv[2], SMTO_ABORTIFHUNG, kSendTimeout,
                             &r) ||
        !r)
        return fail("WM_SETTEXT failed");
    return 0;
}

int cmd_press(int argc, char** argv) {
    if (argc != 2)
        return 2;
    HWND c = need_dialog_control(argv);
    if (!c)
        return 1;
    return click(c);
}

int cmd_cancel(int argc, char** argv) {
    if (argc != 1)
        return 2;
    HWND dlg = need_dialog(argv[0]);
    if (!dlg)
        return 1;
    // What the dialog manager sends for Escape: IDCANCEL, with the Cancel
    // button as lParam when there is one.
    HWND btn = GetDlgItem(dlg, IDCANCEL);
    if (!PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)btn))
        return fail("PostMessage failed");
    return 0;
}

int cmd_enabled(int argc, char** argv) {
    if (argc != 2)
        return 2;
    HWND c = need_dialog_control(argv);
    if (!c)
        return 1;
    printf("%d\n", IsWindowEnabled(c) ? 1 : 0);
    return 0;
}

// The text of a message box: the static control 0xFFFF, or failing that the
// first non-icon static that has text.
bool msgbox_text(HWND box, std::string* out) {
    HWND s = GetDlgItem(box, 0xFFFF);
    if (s)
        return window_text(s, out);
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[32];
        if (!GetClassNameA(c, cls, sizeof cls) || lstrcmpiA(cls, "Static") != 0)
            continue;
        if ((GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            continue;
        if (window_text(c, out) && !out->empty())
            return true;
    }
    return false;
}

int cmd_msgbox(int argc, char** argv) {
    if (argc < 1 || argc > 3)
        return 2;
    unsigned long timeout = kDefaultTimeout, button = IDOK;
    if (argc > 1 && !parse_number(argv[1], &timeout))
        return 2;
    if (argc > 2 && !parse_number(argv[2], &button))
        return 2;
    HWND box = wait_top(argv[0], timeout, "#32770");
    if (!box)
        return fail("timed out waiting for message box \"%s\"", argv[0]);
    std::string text;
    if (!msgbox_text(box, &text))
        return fail("message box has no text");
    printf("%s\n", text.c_str());
    fflush(stdout);
    HWND b = GetDlgItem(box, static_cast<int>(button));
    if (!b)
        return fail("message box has no button %lu", button);
    return click(b);
}

INT_PTR CALLBACK quiet_proc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

// Dialog base units of a font, taken from a hidden dialog of our own with
// that font: MapDialogRect only works on dialogs of the calling process.
bool base_units(const char* face, int points, RECT* base) {
    WORD buf[128] = {};
    DLGTEMPLATE* t = reinterpret_cast<DLGTEMPLATE*>(buf);
    t->style = DS_SETFONT | WS_POPUP;
    t->cx = 100;
    t->cy = 100;
    WORD* p = reinterpret_cast<WORD*>(t + 1);
    *p++ = 0; // no menu
    *p++ = 0; // default class
    *p++ = 0; // no title
    *p++ = static_cast<WORD>(points);
    int n = MultiByteToWideChar(CP_ACP, 0, face, -1, reinterpret_cast<WCHAR*>(p), 64);
    if (n <= 0)
        return false;
    HWND dlg = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), t, nullptr, quiet_proc, 0);
    if (!dlg)
        return false;
    *base = RECT{0, 0, 4, 8};
    bool ok = MapDialogRect(dlg, base);
    DestroyWindow(dlg);
    return ok;
}

int cmd_controls(int argc, char** argv) {
    if (argc != 1 && argc != 3)
        return 2;
    unsigned long points = 8;
    const char* face = "MS Shell Dlg";
    if (argc == 3) {
        if (!parse_number(argv[1], &points))
            return 2;
        face = argv[2];
    }
    HWND dlg = need_dialog(argv[0]);
    if (!dlg)
        return 1;
    RECT base;
    if (!base_units(face, static_cast<int>(points), &base))
        return fail("cannot measure font %lu \"%s\"", points, face);
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[64] = "";
        GetClassNameA(c, cls, sizeof cls);
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(HWND_DESKTOP, dlg, reinterpret_cast<POINT*>(&r), 2);
        std::string text;
        window_text(c, &text);
        printf("%d\t%s\t0x%08lX\t%d,%d,%d,%d\t%s\n", GetDlgCtrlID(c), cls,
               (unsigned long)GetWindowLongA(c, GWL_STYLE), to_dlu(r.left, base.right, 4),
               to_dlu(r.top, base.bottom, 8), to_dlu(r.right - r.left, base.right, 4),
               to_dlu(r.bottom - r.top, base.bottom, 8), escape(text).c_str());
    }
    return 0;
}

int cmd_lnk(int argc, char** argv) {
    if (argc != 1)
        return 2;
    WCHAR wpath[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, argv[0], -1, wpath, MAX_PATH))
        return fail("bad path");
    if (FAILED(CoInitialize(nullptr)))
        return fail("CoInitialize failed");
    int rc = 1;
    IShellLinkA* link = nullptr;
    IPersistFile* file = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  (void**)&link);
    if (FAILED(hr)) {
        fail("CoCreateInstance(CLSID_ShellLink) failed: 0x%08lX", hr);
    } else if (FAILED(hr = link->QueryInterface(IID_IPersistFile, (void**)&file))) {
        fail("no IPersistFile: 0x%08lX", hr);
    } else if (FAILED(hr = file->Load(wpath, STGM_READ))) {
        fail("cannot load %s: 0x%08lX", argv[0], hr);
    } else {
        char buf[MAX_PATH * 2];
        int icon = 0;
        buf[0] = 0;
        link->GetPath(buf, sizeof buf, nullptr, SLGP_RAWPATH);
        printf("target=%s\n", buf);
        buf[0] = 0;
        link->GetWorkingDirectory(buf, sizeof buf);
        printf("workdir=%s\n", buf);
        buf[0] = 0;
        link->GetDescription(buf, sizeof buf);
        printf("description=%s\n", buf);
        buf[0] = 0;
        link->GetArguments(buf, sizeof buf);
        printf("arguments=%s\n", buf);
        buf[0] = 0;
        link->GetIconLocation(buf, sizeof buf, &icon);
        printf("icon=%s,%d\n", buf, icon);
        rc = 0;
    }
    if (file)
        file->Release();
    if (link)
        link->Release();
    CoUninitialize();
    return rc;
}

// Runs a command line as the system runs a recorded command (the Programs
// list's uninstall command, for one): CreateProcessA with no application
// name, so an unquoted path with blanks is resolved as Windows does. Waits
// for the program and prints "exit=N".
int cmd_exec(int n, char** args) {
    if (n < 1)
        return 2;
    DWORD timeout = n > 1 ? (DWORD)atoi(args[1]) : kDefaultTimeout;
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    std::vector<char> line(args[0], args[0] + strlen(args[0]) + 1);
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
        return fail("CreateProcess failed: %lu", GetLastError());
    DWORD waited = WaitForSingleObject(pi.hProcess, timeout);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (waited != WAIT_OBJECT_0)
        return fail("the program did not end in time");
    printf("exit=%lu\n", code);
    return 0;
}

int usage() {
    fputs("usage: robot [-desktop NAME] wait|gone|text|settext|press|cancel|"
          "enabled|msgbox|controls|lnk|exec ARGS...\n",
          stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    // Plain \n on stdout: the harness reads it through a Unix pipe.
    _setmode(_fileno(stdout), _O_BINARY);
    int i = 1;
    if (i + 1 < argc && strcmp(argv[i], "-desktop") == 0) {
        // The desktop appears with the first program started in it; allow it
        // the same time as a window.
        HDESK desk;
        DWORD start = GetTickCount();
        while (!(desk = OpenDesktopA(argv[i + 1], 0, FALSE, GENERIC_ALL))) {
            if (GetTickCount() - start >= kDefaultTimeout)
                return fail("no desktop \"%s\"", argv[i + 1]);
            Sleep(kPoll);
        }
        if (!SetThreadDesktop(desk))
            return fail("SetThreadDesktop failed");
        i += 2;
    }
    if (i >= argc)
        return usage();
    const char* cmd = argv[i];
    int n = argc - i - 1;
    char** args = argv + i + 1;
    struct Command {
        const char* name;
        int (*run)(int, char**);
    };
    static const Command commands[] = {
        {"wait", [](int c, char** a) { return cmd_wait(c, a, false); }},
        {"gone", [](int c, char** a) { return cmd_wait(c, a, true); }},
        {"text", cmd_text},
        {"settext", cmd_settext},
        {"press", cmd_press},
        {"cancel", cmd_cancel},
        {"enabled", cmd_enabled},
        {"msgbox", cmd_msgbox},
        {"controls", cmd_controls},
        {"lnk", cmd_lnk},
        {"exec", cmd_exec},
    };
    int rc = 2;
    for (const Command& command : commands) {
        if (!strcmp(cmd, command.name)) {
            rc = command.run(n, args);
        }
    }
    fflush(stdout);
    return rc == 2 ? usage() : rc;
}
