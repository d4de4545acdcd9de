"""Runs the Windows build under Wine for end-to-end tests (python3 stdlib only).

Pieces:

- template_prefix(): a Wine prefix made once with `wineboot -i` and cached
  under build/wine-template/<wine version>-r<N>; every test copies it (cp -a)
  into its own temporary folder, which is much faster than booting a new one.
  The template is cut off from the machine: the user folders (Desktop,
  Documents, ...) that wineboot links to $HOME are real folders inside the
  prefix, $HOME and the XDG folders point into the test's own folder, and
  winemenubuilder is disabled, so a shortcut the program makes stays in the
  prefix and no menu entry appears on the machine. Wine's own fonts
  (/usr/share/wine/fonts, package fonts-wine) are copied into C:\\windows\\Fonts
  when present: Debian's Wine does not load them from there by itself, and
  without them dialogs fall back to DejaVu and caption buttons show letters
  instead of Marlett glyphs.
- Xvfb: a private X display on the first free number from 90 on.
- WinePrefix: one test's prefix; starts programs, calls the test robot
  (robot.exe from the Windows build), queries the registry, maps paths, takes
  screenshots and stops everything it started.
- WineTestCase: a unittest base class that gives each test `self.wine`
  (a fresh WinePrefix) on a display shared by the test class.

Every wait has a limit; a limit reached raises HarnessError.

Window frames: without a window manager Wine draws no frames on plain Xvfb.
Inside a Wine virtual desktop it draws them itself. use_virtual_desktop()
makes the prefix's default desktop virtual (HKCU\\Software\\Wine\\Explorer:
Desktop=NAME, Explorer\\Desktops: NAME=WxH), so every program started in the
prefix, the robot included, lands in that one desktop and `wine prog.exe`
still returns the program's exit code. The other way, `wine explorer
/desktop=NAME,WxH prog.exe`, also works for the program, but then the robot
does not see its windows (window lookup is per desktop), `wine explorer
/desktop=NAME robot.exe` loses the robot's stdout and exit code, and
explorer's exit code is not the program's; for that case the robot takes
`-desktop NAME` (robot(..., desktop=NAME)) and attaches itself to the
desktop. Windows in a virtual desktop on bare Xvfb are drawn with inactive
(grey) captions: no X focus ever reaches the desktop window.

The whole test may run inside tests/e2e/sandbox (unshare -rmn): Xvfb and
wineserver talk over filesystem Unix sockets in /tmp, which the network
namespace does not hide.
"""

import atexit
import fcntl
import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
from pathlib import Path, PureWindowsPath

REPO = Path(__file__).resolve().parents[2]
BUILD_DIR = Path(os.environ.get("ZR_BUILD_DIR", REPO / "build"))
WIN_BIN = Path(os.environ.get("ZR_WINDOWS_BIN", BUILD_DIR / "windows" / "bin"))
ROBOT = WIN_BIN / "robot.exe"

# Bump when the template's setup changes, so that old caches are not reused.
TEMPLATE_REVISION = 1
WINE_FONTS = Path("/usr/share/wine/fonts")
# No Mono/Gecko install prompts, no menu entries or file associations on the
# machine.
DLL_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"
WINE_ENCODING = "cp1252"  # the ANSI code page of the prefix (C locale)
OEM_ENCODING = "cp437"  # what Wine's console tools (reg.exe) write to a pipe

IDOK, IDCANCEL = 1, 2

# Seconds each step took, newest last: template_create, template_cached,
# prefix_copy, wine_first_start, robot.
TIMINGS = {}


class HarnessError(Exception):
    pass


# Displays and prefixes not yet stopped. They run in sessions of their own,
# so a signal that ends the test run (timeout's SIGTERM, a closed terminal)
# would not reach them; the handler below stops them first.
_LIVE = []


def _stop_all():
    for obj in reversed(list(_LIVE)):
        try:
            obj.close()
        except Exception:
            pass


def _on_signal(signum, frame):
    _stop_all()
    signal.signal(signum, signal.SIG_DFL)
    os.kill(os.getpid(), signum)


def _track(obj):
    if not _LIVE:
        for sig in (signal.SIGTERM, signal.SIGHUP):
            try:
                if signal.getsignal(sig) == signal.SIG_DFL:
                    signal.signal(sig, _on_signal)
            except ValueError:  # not the main thread
                pass
    _LIVE.append(obj)


def _untrack(obj):
    if obj in _LIVE:
        _LIVE.remove(obj)


atexit.register(_stop_all)


def _timed(name, start):
    TIMINGS.setdefault(name, []).append(round(time.monotonic() - start, 3))


def _run(cmd, timeout, **kw):
    """subprocess.run with a limit; the whole process group goes on timeout.

    Output goes through temporary files, not pipes: a wine command may start
    the wineserver and Wine's service processes, which inherit its standard
    handles and live on after it, so a pipe would not see its end."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.Popen(cmd, start_new_session=True, stdout=out, stderr=err, **kw)
        try:
            proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            _kill_group(proc)
            proc.wait()
            raise HarnessError("timed out after %ss: %s" % (timeout, " ".join(map(str, cmd))))
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(cmd, proc.returncode, out.read(), err.read())


def _kill_group(proc):
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def wine_version():
    r = _run(["wine", "--version"], 30, env=_base_env())
    if r.returncode != 0:
        raise HarnessError("wine --version failed: %s" % r.stderr.decode(errors="replace"))
    return r.stdout.decode().strip()


def _base_env(home=None, extra=None):
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", os.environ.get("ZR_WINEDEBUG", "-all"))
    env["WINEDLLOVERRIDES"] = DLL_OVERRIDES
    env.pop("WAYLAND_DISPLAY", None)
    if home is not None:
        home = Path(home)
        env["HOME"] = str(home)
        env["XDG_CONFIG_HOME"] = str(home / ".config")
        env["XDG_DATA_HOME"] = str(home / ".local" / "share")
        env["XDG_CACHE_HOME"] = str(home / ".cache")
    if extra:
        env.update(extra)
    return env


def _wait_server(env, timeout):
    """wineserver -w with a limit; wineserver -k once the limit is reached.
    True when the server ended by itself."""
    try:
        _run(["wineserver", "-w"], timeout, env=env)
        return True
    except HarnessError:
        _run(["wineserver", "-k"], 30, env=env)
        return False


def _detach_user_folders(prefix):
    """wineboot links Desktop, Documents, ... to $HOME; make them folders of
    the prefix so that nothing a program writes there leaves it."""
    users = Path(prefix) / "drive_c" / "users"
    for user in users.iterdir():
        for entry in user.iterdir():
            if entry.is_symlink():
                entry.unlink()
                entry.mkdir()


def template_prefix(timeout=300):
    """The cached template prefix for this Wine, made on first use."""
    version = re.sub(r"[^A-Za-z0-9.+-]+", "_", wine_version())
    root = BUILD_DIR / "wine-template"
    root.mkdir(parents=True, exist_ok=True)
    template = root / ("%s-r%d" % (version, TEMPLATE_REVISION))
    start = time.monotonic()
    if (template / "system.reg").exists():
        _timed("template_cached", start)
        return template
    with open(root / ".lock", "w") as lock:
        deadline = time.monotonic() + timeout
        while True:
            try:
                fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except BlockingIOError:
                if time.monotonic() > deadline:
                    raise HarnessError("template prefix is locked by another run")
                time.sleep(0.2)
        if (template / "system.reg").exists():  # made while we waited
            _timed("template_cached", start)
            return template
        work = Path(tempfile.mkdtemp(prefix="make-", dir=root))
        try:
            prefix = work / "prefix"
            env = _base_env(home=work / "home", extra={"WINEPREFIX": str(prefix)})
            env.pop("DISPLAY", None)
            r = _run(["wineboot", "-i"], timeout, env=env)
            if r.returncode != 0:
                raise HarnessError("wineboot -i failed: %s" % r.stderr.decode(errors="replace"))
            if not _wait_server(env, timeout):
                raise HarnessError("wineserver did not finish after wineboot")
            _detach_user_folders(prefix)
            if WINE_FONTS.is_dir():
                fonts = prefix / "drive_c" / "windows" / "Fonts"
                fonts.mkdir(exist_ok=True)
                for f in WINE_FONTS.iterdir():
                    shutil.copy2(f, fonts / f.name)
            prefix.rename(template)
        finally:
            shutil.rmtree(work, ignore_errors=True)
    _timed("template_create", start)
    return template


class Xvfb:
    """A private X server on the first free display from `first` on."""

    def __init__(self, first=90, screen="1024x768x24", timeout=15):
        self.first, self.screen, self.timeout = first, screen, timeout
        self.proc = None
        self.number = None

    @property
    def display(self):
        return ":%d" % self.number

    def start(self):
        for n in range(self.first, self.first + 50):
            if os.path.exists("/tmp/.X%d-lock" % n) or os.path.exists("/tmp/.X11-unix/X%d" % n):
                continue
            if self._try(n):
                return self
        raise HarnessError("no free X display from :%d on" % self.first)

    def _try(self, n):
        rfd, wfd = os.pipe()
        try:
            proc = subprocess.Popen(
                ["Xvfb", ":%d" % n, "-screen", "0", self.screen, "-nolisten", "tcp",
                 "-noreset", "-displayfd", str(wfd)],
                pass_fds=(wfd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                start_new_session=True)
        finally:
            os.close(wfd)
        # Xvfb writes the display number to -displayfd once it accepts clients.
        got, exited = b"", False
        deadline = time.monotonic() + self.timeout
        try:
            while not got.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([rfd], [], [], left)[0]:
                    break
                chunk = os.read(rfd, 64)
                if not chunk:
                    exited = True
                    break
                got += chunk
        finally:
            os.close(rfd)
        if got.strip() == str(n).encode():
            self.proc, self.number = proc, n
            _track(self)
            return True
        _kill_group(proc)
        proc.wait(timeout=10)
        if exited:  # the display was taken meanwhile: try the next one
            return False
        raise HarnessError("Xvfb :%d not ready after %ss" % (n, self.timeout))

    def stop(self):
        _untrack(self)
        if self.proc:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                _kill_group(self.proc)
                self.proc.wait(timeout=10)
            self.proc = None

    close = stop

    def screenshot(self, path, timeout=30):
        """The whole screen as PNG (ImageMagick import)."""
        r = _run(["import", "-display", self.display, "-window", "root", str(path)], timeout)
        if r.returncode != 0 or not Path(path).exists():
            raise HarnessError("import failed: %s" % r.stderr.decode(errors="replace"))
        return Path(path)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


class WineProcess:
    """A program started under Wine in the background."""

    def __init__(self, popen, out_path, err_path, name):
        self.popen, self.name = popen, name
        self._out, self._err = out_path, err_path

    @property
    def pid(self):
        return self.popen.pid

    def running(self):
        return self.popen.poll() is None

    def wait(self, timeout=60):
        """The exit code; HarnessError if it is still running after timeout."""
        try:
            return self.popen.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError("%s still running after %ss" % (self.name, timeout))

    def kill(self):
        if self.running():
            _kill_group(self.popen)
            self.popen.wait(timeout=10)

    def stdout(self):
        return self._out.read_bytes().decode(WINE_ENCODING, errors="replace")

    def stderr(self):
        return self._err.read_bytes().decode(WINE_ENCODING, errors="replace")


def _unescape(text):
    return re.sub(r"\\(.)", lambda m: {"t": "\t", "r": "\r", "n": "\n"}.get(m.group(1), m.group(1)), text)


class WinePrefix:
    """One test's Wine prefix, copied from the template into a temporary folder.

    display: an Xvfb (or None for programs that show nothing)."""

    def __init__(self, display=None, template=None, keep=None):
        self.display = display
        self.keep = os.environ.get("ZR_KEEP_PREFIX") == "1" if keep is None else keep
        template = Path(template) if template else template_prefix()
        self.root = Path(tempfile.mkdtemp(prefix="zr-wine-"))
        self.path = self.root / "prefix"
        self.home = self.root / "home"
        self.logs = self.root / "logs"
        self.home.mkdir()
        self.logs.mkdir()
        self.desktop = None
        self._procs = []
        self._started_wine = False
        _track(self)
        start = time.monotonic()
        r = _run(["cp", "-a", str(template), str(self.path)], 120)
        if r.returncode != 0:
            raise HarnessError("copying the template failed: %s" % r.stderr.decode(errors="replace"))
        _timed("prefix_copy", start)

    # Environment and paths

    @property
    def drive_c(self):
        return self.path / "drive_c"

    def env(self, extra=None):
        env = _base_env(home=self.home, extra={"WINEPREFIX": str(self.path)})
        if self.display:
            env["DISPLAY"] = self.display.display
        else:
            env.pop("DISPLAY", None)
        if extra:
            env.update(extra)
        return env

    def unix_path(self, win_path):
        """C:\\... (or any drive of the prefix) to the host path. Components are
        matched without regard to case when the exact name is absent, as
        Windows would; missing components are kept as given."""
        p = PureWindowsPath(win_path)
        if not p.drive or len(p.drive) != 2:
            raise HarnessError("not an absolute DOS path: %s" % win_path)
        base = (self.path / "dosdevices" / p.drive.lower()).resolve()
        for part in p.parts[1:]:
            nxt = base / part
            if not nxt.exists() and base.is_dir():
                for entry in base.iterdir():
                    if entry.name.lower() == part.lower():
                        nxt = entry
                        break
            base = nxt
        return base

    def win_path(self, unix_path):
        """A host path as Wine's programs see it: C:\\ inside drive_c, else Z:\\."""
        p = Path(unix_path).resolve()
        try:
            rel = p.relative_to(self.drive_c.resolve())
            return "C:\\" + "\\".join(rel.parts)
        except ValueError:
            return "Z:" + str(p).replace("/", "\\")

    # Programs

    def start(self, exe, args=(), cwd=None, env=None):
        """Starts `wine exe args...` in the background; returns a WineProcess.
        exe is a host path or a DOS path."""
        n = len(self._procs)
        out, err = self.logs / ("%d.out" % n), self.logs / ("%d.err" % n)
        with open(out, "wb") as fo, open(err, "wb") as fe:
            popen = subprocess.Popen(["wine", str(exe), *map(str, args)], cwd=cwd,
                                     env=self.env(env), stdin=subprocess.DEVNULL,
                                     stdout=fo, stderr=fe, start_new_session=True)
        proc = WineProcess(popen, out, err, Path(str(exe)).name)
        self._procs.append(proc)
        self._started_wine = True
        return proc

    def run(self, exe, args=(), cwd=None, env=None, timeout=60, encoding=WINE_ENCODING):
        """Runs `wine exe args...` to its end; CompletedProcess with text out/err.
        Programs that print through the C library write the ANSI code page;
        Wine's own console tools write the OEM one (OEM_ENCODING)."""
        start = time.monotonic()
        r = _run(["wine", str(exe), *map(str, args)], timeout, cwd=cwd, env=self.env(env),
                 stdin=subprocess.DEVNULL)
        if not self._started_wine:
            self._started_wine = True
            _timed("wine_first_start", start)
        r.stdout = r.stdout.decode(encoding, errors="replace")
        r.stderr = r.stderr.decode(encoding, errors="replace")
        return r

    # The robot

    def robot(self, *args, timeout=60, check=True, desktop=None):
        """Runs robot.exe with args; its stdout (one trailing newline
        removed). check: HarnessError on a non-zero exit."""
        if not ROBOT.exists():
            raise HarnessError("no robot at %s (build the Windows tree)" % ROBOT)
        cmd = (["-desktop", desktop] if desktop else []) + [str(a) for a in args]
        start = time.monotonic()
        r = self.run(ROBOT, cmd, timeout=timeout)
        _timed("robot", start)
        if check and r.returncode != 0:
            raise HarnessError("robot %s: exit %d: %s" % (" ".join(cmd), r.returncode, r.stderr.strip()))
        out = r.stdout[:-1] if r.stdout.endswith("\n") else r.stdout
        return out if check else (r.returncode, out)

    @staticmethod
    def _limit(timeout_ms):
        return timeout_ms / 1000.0 + 30  # the robot's own limit, plus Wine's start

    def wait_window(self, caption, timeout_ms=20000, desktop=None):
        """Waits for a visible top-level window with this exact caption; its HWND."""
        return int(self.robot("wait", caption, timeout_ms, timeout=self._limit(timeout_ms),
                              desktop=desktop), 16)

    def wait_gone(self, caption, timeout_ms=20000, desktop=None):
        self.robot("gone", caption, timeout_ms, timeout=self._limit(timeout_ms), desktop=desktop)

    def window_exists(self, caption, desktop=None):
        rc, _ = self.robot("wait", caption, 0, check=False, desktop=desktop)
        return rc == 0

    def text(self, caption, control_id, desktop=None):
        return self.robot("text", caption, control_id, desktop=desktop)

    def set_text(self, caption, control_id, text, desktop=None):
        self.robot("settext", caption, control_id, text, desktop=desktop)

    def press(self, caption, control_id, desktop=None):
        """Clicks a button; HarnessError if it is disabled or hidden."""
        self.robot("press", caption, control_id, desktop=desktop)

    def cancel(self, caption, desktop=None):
        self.robot("cancel", caption, desktop=desktop)

    def enabled(self, caption, control_id, desktop=None):
        return self.robot("enabled", caption, control_id, desktop=desktop) == "1"

    def msgbox(self, caption, timeout_ms=20000, button=IDOK, desktop=None):
        """Waits for a message box with this caption, returns its text and
        presses `button` on it."""
        return self.robot("msgbox", caption, timeout_ms, button,
                          timeout=self._limit(timeout_ms), desktop=desktop)

    def controls(self, caption, font=None, desktop=None):
        """The dialog's child controls in Z order: dicts with id, cls, style,
        rect (x, y, w, h in dialog units) and text. font: (points, face) of
        the dialog's FONT statement when it is not 8 "MS Shell Dlg"."""
        args = ["controls", caption] + ([font[0], font[1]] if font else [])
        result = []
        for line in self.robot(*args, desktop=desktop).split("\n"):
            if not line:
                continue
            cid, cls, style, rect, text = line.split("\t", 4)
            result.append({"id": int(cid), "cls": cls, "style": int(style, 16),
                           "rect": tuple(int(v) for v in rect.split(",")),
                           "text": _unescape(text)})
        return result

    def lnk(self, path):
        """A .lnk read back through IShellLinkA: dict with target, workdir,
        description, arguments, icon. path: DOS path or host path."""
        if not re.match(r"^[A-Za-z]:", str(path)):
            path = self.win_path(path)
        fields = {}
        for line in self.robot("lnk", path).split("\n"):
            key, _, value = line.partition("=")
            fields[key] = value
        return fields

    # Registry

    def reg_query(self, key, value=None, timeout=60):
        """`wine reg query KEY [/v VALUE]`: {name: (type, data)} of the values
        shown (the default value is named ""), or None when the key or value
        does not exist. REG_DWORD/REG_QWORD data come back as int."""
        args = ["query", key] + (["/v", value] if value is not None else [])
        r = self.run("reg", args, timeout=timeout, encoding=OEM_ENCODING)
        if r.returncode != 0:
            return None
        values = {}
        for line in r.stdout.splitlines():
            m = re.match(r"^    (.*?)    (REG_[A-Z_]+)(?:    (.*))?$", line)
            if not m:
                continue
            name, kind, data = m.group(1), m.group(2), m.group(3) or ""
            if name == "(Default)":
                name = ""
            if kind in ("REG_DWORD", "REG_QWORD"):
                data = int(data, 16)
            values[name] = (kind, data)
        return values

    def reg_value(self, key, value):
        """The data of one value, or None."""
        values = self.reg_query(key, value)
        if not values:
            return None
        want = "" if value == "" else value.lower()
        for name, (_, data) in values.items():
            if name.lower() == want:
                return data
        return None

    def reg_add(self, key, value, data, kind="REG_SZ", timeout=60):
        r = self.run("reg", ["add", key, "/v", value, "/t", kind, "/d", data, "/f"],
                     timeout=timeout, encoding=OEM_ENCODING)
        if r.returncode != 0:
            raise HarnessError("reg add %s /v %s failed: %s" % (key, value, r.stdout + r.stderr))

    # Display

    def use_virtual_desktop(self, name="zr", size="800x600"):
        """Every program of this prefix from now on (the robot too) runs in
        one Wine virtual desktop, which draws window frames."""
        self.reg_add(r"HKCU\Software\Wine\Explorer", "Desktop", name)
        self.reg_add(r"HKCU\Software\Wine\Explorer\Desktops", name, size)
        self.desktop = name

    def screenshot(self, path):
        if not self.display:
            raise HarnessError("no display")
        return self.display.screenshot(path)

    # Ending

    def wait_server(self, timeout=30):
        """Waits for every program of the prefix and the wineserver to end
        (wineserver -w); kills them all (wineserver -k) after timeout.
        True when they ended by themselves."""
        return _wait_server(self.env(), timeout)

    def kill_server(self):
        _run(["wineserver", "-k"], 30, env=self.env())

    def close(self):
        _untrack(self)
        for proc in self._procs:
            proc.kill()
        if self._started_wine:
            self.kill_server()
            _wait_server(self.env(), 15)
        if not self.keep:
            shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class WineTestCase(unittest.TestCase):
    """Base class: one Xvfb per test class, a fresh prefix per test.

    virtual_desktop = ("NAME", "WxH") runs each test's programs in a Wine
    virtual desktop."""

    screen = "1024x768x24"
    virtual_desktop = None

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        template_prefix()
        cls.xvfb = Xvfb(screen=cls.screen).start()
        cls.addClassCleanup(cls.xvfb.stop)

    def setUp(self):
        super().setUp()
        self.wine = WinePrefix(self.xvfb)
        self.addCleanup(self.wine.close)
        if self.virtual_desktop:
            self.wine.use_virtual_desktop(*self.virtual_desktop)
