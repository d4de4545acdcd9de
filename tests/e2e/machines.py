"""The two builds as test machines with one interface, so every end-to-end
case runs against the host build (over compat/, a folder as the machine) and
against the Windows build under Wine (a Wine prefix as the machine).

A machine can install the updater into a folder, run it there, and tell what
it showed (message boxes), what it left (files, "ver.dat") and how often the
game was started. Each release is published with tools/publish and served by
nginx through tools/service. Everything runs inside tests/e2e/sandbox.
"""

import os
import re
import shutil
import subprocess
import tempfile
import threading
import time
from pathlib import Path, PureWindowsPath

import winharness as wh

REPO = Path(__file__).resolve().parents[2]
HOST_BIN = Path(os.environ.get("ZR_HOST_BIN", REPO / "build" / "host" / "bin"))
WIN_BIN = wh.WIN_BIN
KEY = 0xA6
SERVICE_IP, MIRROR1_IP, MIRROR2_IP = "127.0.0.2", "127.0.0.3", "127.0.0.4"
BOX_A = ("Internet connection error",
         "Please make sure your Internet connection is working properly")
BOX_B = ("Temporally unavailable",
         "The zetarune.com site seems to be temporally unavailable")


def decode_ver(data):
    """"ver.dat" unscrambled, as (name, version) pairs in file order."""
    text = bytes(b ^ KEY for b in data).decode("latin-1")
    lines = text.split("\r\n")
    assert lines[-1] == "", "ver.dat must end with CR LF: %r" % text
    out = []
    for line in lines[:-1]:
        m = re.fullmatch(r'"([^"]*)",(-?\d+)', line)
        assert m, "bad ver.dat line %r" % line
        out.append((m.group(1), int(m.group(2))))
    return out


def encode_ver(pairs):
    text = "".join('"%s",%d\r\n' % p for p in pairs).encode("latin-1")
    return bytes(b ^ KEY for b in text)


class Result:
    def __init__(self, code, boxes, log):
        self.code = code
        self.boxes = boxes  # [(caption, text)] in the order shown
        self.log = log


def _unquote_registry(text):
    """The stand-in registry's quoting: a doubled backslash, \\xHH for others."""
    out, i = [], 0
    while i < len(text):
        if text.startswith("\\\\", i):
            out.append("\\")
            i += 2
        elif text.startswith("\\x", i):
            out.append(chr(int(text[i + 2:i + 4], 16)))
            i += 4
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


class Machine:
    """What both builds share: `bin` (the build's programs) and `path`."""

    def install_updater(self, folder):
        """The updater and its library in `folder`, as the setup leaves them."""
        host = self.path(folder)
        host.mkdir(parents=True, exist_ok=True)
        for name in ("upd.exe", "unrar.dll"):
            shutil.copy2(self.bin / name, host / name)
        return host


class HostMachine(Machine):
    """The host build: a stand-in machine folder (ZR_COMPAT_ROOT)."""
    name = "host"
    bin = HOST_BIN

    def __init__(self):
        self.root = Path(tempfile.mkdtemp(prefix="zr-host-"))
        self.env = dict(os.environ, ZR_COMPAT_ROOT=str(self.root))
        (self.root / "drive_c").mkdir()

    def path(self, dos):
        p = PureWindowsPath(dos)
        assert p.drive.upper() == "C:", dos
        return self.root / "drive_c" / Path(*p.parts[1:])

    def run(self, exe, cwd, timeout=120, stdin_script=None):
        """Runs a program of this build; stdin stays open (its end would mean
        Cancel) until the program ends. stdin_script(line) may return bytes
        to type when a line shows on the terminal."""
        proc = subprocess.Popen([str(exe)], cwd=str(cwd), env=self.env, stdin=subprocess.PIPE,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        lines = []

        def reader():
            for raw in proc.stderr:
                line = raw.decode("cp1252", errors="replace").rstrip("\n")
                lines.append(line)
                if stdin_script:
                    typed = stdin_script(line)
                    if typed:
                        try:
                            proc.stdin.write(typed)
                            proc.stdin.flush()
                        except OSError:
                            pass

        t = threading.Thread(target=reader, daemon=True)
        t.start()
        try:
            code = proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            raise AssertionError("%s did not end within %ds:\n%s" % (exe, timeout, "\n".join(lines)))
        finally:
            try:
                proc.stdin.close()
            except OSError:
                pass
        t.join(10)
        proc.stderr.close()
        boxes = [(m.group(1), m.group(2)) for m in
                 (re.match(r"^MessageBox \[(.*?)\] (.*)$", l) for l in lines) if m]
        # The game is started without waiting; give it a moment to record.
        return Result(code, boxes, "\n".join(lines))

    def update(self, folder, expect_boxes=(), timeout=120, stdin_script=None):
        host = self.path(folder)
        r = self.run(host / "upd.exe", host, timeout, stdin_script)
        wait_for_game(host)
        return r

    def run_setup(self, folder, timeout=120):
        """The player runs the setup program and presses Enter; the updater
        it starts runs to the game's start. Both share the terminal, which
        stays open until then."""
        err = open(self.root / "setup.err", "wb")
        proc = subprocess.Popen([str(self.bin / "ZetaRuneSetup.exe")], cwd=str(self.root),
                                env=self.env, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                stderr=err)
        proc.stdin.write(b"\n")
        proc.stdin.flush()
        code = proc.wait(timeout)
        wait_for_game(self.path(folder), timeout)
        proc.stdin.close()
        err.close()
        return code

    def read_link(self, dos):
        fields = dict(line.split("=", 1) for line in
                      self.path(dos).read_text("cp1252").splitlines() if "=" in line)
        return fields["target"], fields["workdir"]

    def start_link(self, dos):
        """What the shell does for a shortcut: its target, in its folder."""
        target, workdir = self.read_link(dos)
        r = self.run(self.path(target), self.path(workdir))
        wait_for_game(self.path(workdir))
        return r.code

    def reg_value(self, key, value):
        """A text value of the stand-in registry (registry.txt), or None."""
        current = None
        for line in (self.root / "registry.txt").read_text("latin-1").splitlines():
            if line.startswith("["):
                current = line[1:-1].lower()
            elif current == ("hkey_local_machine\\" + key).lower() and line.startswith('"'):
                found = re.match(r'^"(.*?)"=\d+:"(.*)"$', line)
                if found and found.group(1).lower() == value.lower():
                    return _unquote_registry(found.group(2)).rstrip("\0")
        return None

    def run_command(self, command, timeout=60):
        """A recorded command line run as the system runs it: the program
        is the shortest run of words, up to a blank, that names a file."""
        words = command.split(" ")
        for i in range(1, len(words) + 1):
            candidate = " ".join(words[:i])
            for name in (candidate, candidate + ".exe"):
                try:
                    host = self.path(name)
                except AssertionError:
                    continue
                if host.is_file():
                    env = dict(self.env, ZR_COMMAND_LINE=command)
                    r = subprocess.run([str(host)], env=env, stdin=subprocess.DEVNULL,
                                       capture_output=True, timeout=timeout)
                    return r.returncode, r.stderr.decode("cp1252", errors="replace")
        raise AssertionError("no program in %r" % command)

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)


class WineMachine(Machine):
    """The Windows build in a Wine prefix of its own."""
    name = "wine"
    bin = WIN_BIN

    def __init__(self, display):
        self.wine = wh.WinePrefix(display)

    def path(self, dos):
        return self.wine.unix_path(dos)

    def update(self, folder, expect_boxes=(), timeout=120, stdin_script=None):
        host = self.path(folder)
        proc = self.wine.start(host / "upd.exe", cwd=str(host))
        boxes = []
        for caption in expect_boxes:
            boxes.append((caption, self.wine.msgbox(caption, timeout * 1000)))
        code = proc.wait(timeout)
        self.wine.wait_server(60)
        wait_for_game(host)
        return Result(code, boxes, proc.stderr())

    def run_setup(self, folder, timeout=120):
        proc = self.wine.start(self.bin / "ZetaRuneSetup.exe")
        self.wine.wait_window("Select Directory")
        self.wine.press("Select Directory", wh.IDOK)
        code = proc.wait(timeout)
        self.wine.wait_server(timeout)  # the updater and the game it starts
        wait_for_game(self.path(folder))
        return code

    def read_link(self, dos):
        link = self.wine.lnk(dos)
        return link["target"], link["workdir"]

    def start_link(self, dos):
        target, workdir = self.read_link(dos)
        proc = self.wine.start(target, cwd=str(self.path(workdir)))
        code = proc.wait(120)
        self.wine.wait_server(60)
        wait_for_game(self.path(workdir))
        return code

    def reg_value(self, key, value):
        return self.wine.reg_value("HKLM\\" + key, value)

    def run_command(self, command, timeout=60):
        out = self.wine.robot("exec", command, timeout * 1000, timeout=timeout + 30)
        self.wine.wait_server(30)
        return int(out.split("=")[1]), ""

    def close(self):
        self.wine.close()


def wait_for_game(folder, seconds=10):
    """The game is started without waiting for it: let it record its start."""
    deadline = time.monotonic() + seconds
    log = folder / "game_starts.log"
    while time.monotonic() < deadline:
        if log.exists() and log.read_bytes().endswith(b"\n"):
            time.sleep(0.3)
            return
        time.sleep(0.1)


def game_starts(folder):
    log = folder / "game_starts.log"
    if not log.exists():
        return []
    return [line.split("\t")[0] for line in log.read_text("cp1252").splitlines()]


class Service:
    """A published release served by nginx: the version query on
    update.zetarune.com and the packages on the mirrors."""

    def __init__(self, work, mirrors=("mirror1.zetarune.com/zr/",)):
        self.work = Path(work)
        self.mirrors = list(mirrors)
        self.running = False

    def publish(self, files, versions, extra_manifest=""):
        """files: {relative path: bytes}; versions: [(path, version[, package])]."""
        rel = self.work / "release"
        out = self.work / "out"
        shutil.rmtree(rel, ignore_errors=True)
        for name, data in files.items():
            p = rel / name
            p.parent.mkdir(parents=True, exist_ok=True)
            p.write_bytes(data)
        rel.mkdir(parents=True, exist_ok=True)
        vfile = self.work / "versions.txt"
        vfile.write_text("".join(" ".join(str(x) for x in v) + "\n" for v in versions))
        cmd = [str(REPO / "tools" / "publish"), "--clean", str(rel), str(vfile), str(out)]
        for m in self.mirrors:
            cmd += ["--mirror", m]
        r = subprocess.run(cmd, capture_output=True, text=True, timeout=120)
        assert r.returncode == 0, r.stdout + r.stderr
        if extra_manifest:
            with open(out / "ver.txt", "a") as f:
                f.write(extra_manifest)
        return out

    def start(self):
        out = self.work / "out"
        hosts = sorted({m.split("/")[0] for m in self.mirrors})
        cmd = [str(REPO / "tools" / "service" / "start"), "--listen", SERVICE_IP,
               "--listen", MIRROR1_IP, "--listen", MIRROR2_IP, str(self.work / "nginx"),
               str(out / "ver.txt")]
        cmd += ["%s=%s" % (h, out / "mirrors" / h) for h in hosts]
        r = subprocess.run(cmd, capture_output=True, text=True, timeout=60)
        assert r.returncode == 0, r.stdout + r.stderr
        self.running = True
        self.clear_log()

    def clear_log(self):
        log = self.work / "nginx" / "access.log"
        if log.exists():
            log.write_text("")

    def requests(self):
        """Request targets in the order nginx served them."""
        log = self.work / "nginx" / "access.log"
        if not log.exists():
            return []
        return re.findall(r'"GET (\S+) HTTP/1\.1"', log.read_text())

    def stop(self):
        if self.running:
            subprocess.run([str(REPO / "tools" / "service" / "stop"), str(self.work / "nginx")],
                           capture_output=True, timeout=30)
            self.running = False


class FaultServer:
    """tools/faultserver.py on one address, with a config of routes."""

    def __init__(self, work, address, config):
        import json
        self.work = Path(work)
        cfg = self.work / ("fault-%s.json" % address)
        cfg.write_text(json.dumps(config))
        self.log = self.work / ("fault-%s.log" % address)
        ready = self.work / ("fault-%s.ready" % address)
        self.proc = subprocess.Popen(
            ["python3", str(REPO / "tools" / "faultserver.py"), "--listen", address + ":80",
             "--max-seconds", "120", "--config", str(cfg), "--log", str(self.log),
             "--ready-file", str(ready)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 15
        while not ready.exists():
            assert time.monotonic() < deadline, "fault server did not start"
            time.sleep(0.05)

    def requests(self):
        """Request targets in the order they came."""
        if not self.log.exists():
            return []
        return [l.split()[1] for l in self.log.read_text().splitlines() if len(l.split()) > 1]

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()


class HostsFile:
    """The sandbox's /etc/hosts (bind-mounted from a file), rewritten in place."""
    path = Path("/etc/hosts")

    def __init__(self):
        self.original = self.path.read_text()

    def without(self, name):
        lines = [l for l in self.original.splitlines() if name not in l.split()[1:]]
        with open(self.path, "w") as f:
            f.write("\n".join(lines) + "\n")

    def restore(self):
        with open(self.path, "w") as f:
            f.write(self.original)
