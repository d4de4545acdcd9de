"""The updater against named peers, in one run; started by bench/run inside
tests/e2e/sandbox (python3 standard library only).

Steps (BENCH_STEPS, comma-separated; default time,cpu,wine):

time  a first update of BENCH_FILES packages of BENCH_MB MiB by the host
      updater, against curl fetching the same packages one after another
      from the same nginx (one curl process per package, as the updater opens
      one connection per package) plus unpacking them (one `rar x` process
      per package, the archives read from disk and the files written, as the
      updater does). Wall times; ratio updater / (curl + unpacking).
cpu   the same with nginx limiting every response to BENCH_RATE bytes a
      second, BENCH_RATE_FILES packages of BENCH_RATE_MB MiB: user+sys CPU
      seconds of the updater process against the sum over the curl processes
      (from wait4); ratio updater / curl. nginx lets the first second's
      worth of each response through at once (limit_rate counts from one
      second before the start), so a package must be several times the rate
      for the limit to matter: the default is 5 files of 6 MiB (packages of
      about 4.7 MB, some 4 s each).
wine  a first install of BENCH_BIG_FILES packages of BENCH_BIG_MB MiB by the
      Windows updater under Wine on Xvfb: checks every file and "ver.dat",
      prints the wall time and the peak memory of the upd.exe process
      (VmHWM and the largest VmRSS seen in /proc/PID/status, sampled every
      BENCH_SAMPLE_MS ms).

The files are base64 text of random bytes (BENCH_DATA=base64, the default):
LZ finds almost nothing to match, so the packages are about 78% of the file
and unpacking does real decoding. BENCH_DATA=random: raw random bytes, which
rar stores, so unpacking is little more than a checksum and a copy.
"""

import base64
import filecmp
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))

MIRROR_HOST = "mirror1.zetarune.com"
MIRROR_PATH = "/zr/"
SERVICE_IP, MIRROR1_IP = "127.0.0.2", "127.0.0.3"
KEY = 0xA6


def env_int(name, default):
    return int(os.environ.get(name, default))


def env_float(name, default):
    return float(os.environ.get(name, default))


CFG = {
    "files": env_int("BENCH_FILES", 50),
    "mb": env_float("BENCH_MB", 2),
    "repeat": env_int("BENCH_REPEAT", 3),
    "rate": os.environ.get("BENCH_RATE", "1m"),
    "rate_files": env_int("BENCH_RATE_FILES", 5),
    "rate_mb": env_float("BENCH_RATE_MB", 6),
    "big_files": env_int("BENCH_BIG_FILES", 500),
    "big_mb": env_float("BENCH_BIG_MB", 2),
    "sample_ms": env_int("BENCH_SAMPLE_MS", 100),
    "wine_timeout": env_int("BENCH_WINE_TIMEOUT", 1800),
    "steps": os.environ.get("BENCH_STEPS", "time,cpu,wine").split(","),
}
HOST_BIN = Path(os.environ["BENCH_HOST_BIN"])
DATA = os.environ.get("BENCH_DATA", "base64")
WIN_BIN = Path(os.environ.get("BENCH_WIN_BIN", ""))


def say(text=""):
    print(text, flush=True)


def decode_ver(data):
    text = bytes(b ^ KEY for b in data).decode("latin-1")
    out = []
    for line in text.split("\r\n")[:-1]:
        name, _, version = line.rpartition(",")
        out.append((name.strip('"'), int(version)))
    return out


# Releases and the service


def make_release(work, tag, count, mb):
    """count files of mb MiB; published with tools/publish. Returns
    (output folder, [(package, relative path, bytes)])."""
    rel = work / ("release-" + tag)
    out = work / ("out-" + tag)
    rel.mkdir()
    size = int(mb * 1024 * 1024)
    versions = []
    files = []
    for n in range(count):
        name = "%s%03d.pak" % (tag, n)
        if DATA == "random":
            data = os.urandom(size)
        else:
            data = base64.encodebytes(os.urandom(size * 3 // 4 + 64))[:size]
        (rel / name).write_bytes(data)
        versions.append("%s 1\n" % name)
        files.append((name + ".rar", name, size))
    vfile = work / ("versions-%s.txt" % tag)
    vfile.write_text("".join(versions))
    start = time.monotonic()
    r = subprocess.run([str(REPO / "tools" / "publish"), str(rel), str(vfile), str(out),
                        "--mirror", MIRROR_HOST + MIRROR_PATH],
                       capture_output=True, text=True)
    if r.returncode != 0:
        raise SystemExit("publish failed:\n" + r.stdout + r.stderr)
    packed = sum((out / "mirrors" / MIRROR_HOST / MIRROR_PATH.strip("/") / p).stat().st_size
                 for p, _, _ in files)
    say("release %s: %d files x %g MiB = %.1f MiB, packages %.1f MiB; published in %.1f s"
        % (tag, count, mb, count * size / 2**20, packed / 2**20, time.monotonic() - start))
    return rel, out, files


class Nginx:
    def __init__(self, work):
        self.dir = work / "nginx"
        self.running = False

    def start(self, out, rate=None):
        self.stop()
        cmd = [str(REPO / "tools" / "service" / "start"), "--listen", SERVICE_IP,
               "--listen", MIRROR1_IP]
        if rate:
            cmd += ["--rate", rate]
        cmd += [str(self.dir), str(out / "ver.txt"),
                "%s=%s" % (MIRROR_HOST, out / "mirrors" / MIRROR_HOST)]
        r = subprocess.run(cmd, capture_output=True, text=True)
        if r.returncode != 0:
            raise SystemExit("service start failed:\n" + r.stdout + r.stderr)
        self.running = True

    def clear_log(self):
        (self.dir / "access.log").write_text("")

    def package_requests(self):
        lines = (self.dir / "access.log").read_text().splitlines()
        return [l for l in lines if '"GET %s' % MIRROR_PATH in l]

    def stop(self):
        if self.running:
            subprocess.run([str(REPO / "tools" / "service" / "stop"), str(self.dir)],
                           capture_output=True)
            self.running = False


# Measured runs


def run_measured(cmd, cwd=None, env=None, stdin_open=False):
    """Runs cmd to its end; (wall seconds, user+sys seconds, exit status).
    stdin_open: a pipe that stays open until the process ends."""
    start = time.monotonic()
    proc = subprocess.Popen(cmd, cwd=cwd, env=env,
                            stdin=subprocess.PIPE if stdin_open else subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.stdin:
        proc.stdin.close()
    return wall, usage.ru_utime + usage.ru_stime, proc.returncode


def curl_all(files, dest):
    """One curl process per package, one after another."""
    dest.mkdir(parents=True, exist_ok=True)
    wall = cpu = 0.0
    for package, _, _ in files:
        w, c, rc = run_measured(["curl", "-s", "-f", "-o", str(dest / package),
                                 "http://%s%s%s" % (MIRROR_HOST, MIRROR_PATH, package)])
        if rc != 0:
            raise SystemExit("curl failed for %s (exit %d)" % (package, rc))
        wall += w
        cpu += c
    return wall, cpu


def unpack_all(files, packages, dest):
    """One `rar x` process per package: reads the archive, writes the file."""
    dest.mkdir(parents=True, exist_ok=True)
    wall = cpu = 0.0
    for package, _, _ in files:
        w, c, rc = run_measured(["rar", "x", "-inul", "-o+", "--", str(packages / package),
                                 str(dest) + "/"])
        if rc != 0:
            raise SystemExit("rar x failed for %s (exit %d)" % (package, rc))
        wall += w
        cpu += c
    return wall, cpu


def check_install(folder, rel, files):
    """Every file in place with the release's bytes, "ver.dat" naming every
    package at version 1. A list of problems (empty: complete)."""
    problems = []
    for _, name, _ in files:
        p = folder / name
        if not p.exists():
            problems.append("missing " + name)
        elif not filecmp.cmp(p, rel / name, shallow=False):
            problems.append("wrong bytes in " + name)
    ver = folder / "ver.dat"
    if not ver.exists():
        problems.append("no ver.dat")
    else:
        got = decode_ver(ver.read_bytes())
        want = [(p, 1) for p, _, _ in files]
        if got != want:
            problems.append("ver.dat holds %d entries, not the %d packages at version 1 (first: %r)"
                            % (len(got), len(want), got[:3]))
    return problems


def host_update(work, tag, rel, files):
    """A first update by the host updater in a fresh stand-in machine;
    (wall, cpu, problems)."""
    root = Path(tempfile.mkdtemp(prefix="root-%s-" % tag, dir=work))
    folder = root / "drive_c" / "Games" / "ZR"
    folder.mkdir(parents=True)
    for name in ("upd.exe", "unrar.dll", "ZetaRune.exe"):
        shutil.copy2(HOST_BIN / name, folder / name)
    env = dict(os.environ, ZR_COMPAT_ROOT=str(root))
    wall, cpu, rc = run_measured([str(folder / "upd.exe")], cwd=str(folder), env=env,
                                 stdin_open=True)
    problems = check_install(folder, rel, files)
    if rc != 0:
        problems.append("exit status %d" % rc)
    # The game is started without waiting; give it a moment to record.
    log = folder / "game_starts.log"
    deadline = time.monotonic() + 10
    while not log.exists() and time.monotonic() < deadline:
        time.sleep(0.05)
    if not log.exists():
        problems.append("the game did not start")
    shutil.rmtree(root, ignore_errors=True)
    return wall, cpu, problems


def warm(out):
    """Reads every package once so that every run finds them in the page cache."""
    for p in (out / "mirrors").rglob("*"):
        if p.is_file():
            p.read_bytes()


def step_time(work, nginx):
    n, mb, reps = CFG["files"], CFG["mb"], CFG["repeat"]
    say("== wall time: first update of %d packages (%g MiB files), %d round(s) ==" % (n, mb, reps))
    rel, out, files = make_release(work, "t", n, mb)
    nginx.start(out)
    warm(out)
    rows = []
    for r in range(reps):
        dl = work / ("curl-t%d" % r)
        cw, _ = curl_all(files, dl)
        uw, _ = unpack_all(files, dl, work / ("unpacked-t%d" % r))
        nginx.clear_log()
        hw, _, problems = host_update(work, "t%d" % r, rel, files)
        fetched = len(nginx.package_requests())
        if problems or fetched != n:
            raise SystemExit("updater run %d incomplete (%d package requests): %s"
                             % (r + 1, fetched, "; ".join(problems[:5])))
        shutil.rmtree(dl)
        shutil.rmtree(work / ("unpacked-t%d" % r))
        rows.append((hw, cw, uw))
        say("round %d: updater %.3f s | curl %.3f s + unpacking (rar x) %.3f s = %.3f s | ratio %.3f"
            % (r + 1, hw, cw, uw, cw + uw, hw / (cw + uw)))
    hw = statistics.median(x[0] for x in rows)
    cw = statistics.median(x[1] for x in rows)
    uw = statistics.median(x[2] for x in rows)
    say("median: updater %.3f s, curl %.3f s, unpacking %.3f s" % (hw, cw, uw))
    say("RESULT time ratio updater / (curl + unpacking) = %.3f (goal <= 1.1)" % (hw / (cw + uw)))
    nginx.stop()


def step_cpu(work, nginx):
    n, mb, rate = CFG["rate_files"], CFG["rate_mb"], CFG["rate"]
    say("== CPU: %d packages (%g MiB files), nginx limit_rate %s ==" % (n, mb, rate))
    rel, out, files = make_release(work, "c", n, mb)
    nginx.start(out, rate=rate)
    warm(out)
    cw, cc = curl_all(files, work / "curl-c")
    say("curl:    wall %.2f s, CPU user+sys %.3f s (%d processes)" % (cw, cc, n))
    uw, uc = unpack_all(files, work / "curl-c", work / "unpacked-c")
    say("rar x:   wall %.2f s, CPU user+sys %.3f s (unpacking the same packages, for reference)"
        % (uw, uc))
    nginx.clear_log()
    hw, hc, problems = host_update(work, "c", rel, files)
    if problems or len(nginx.package_requests()) != n:
        raise SystemExit("updater run incomplete: " + "; ".join(problems[:5]))
    say("updater: wall %.2f s, CPU user+sys %.3f s" % (hw, hc))
    say("RESULT cpu ratio updater / curl = %.3f (goal <= 2)" % (hc / cc if cc > 0 else float("inf")))
    say("(for reference: updater / (curl + rar x) = %.3f; the updater's CPU includes unpacking)"
        % (hc / (cc + uc) if cc + uc > 0 else float("inf")))
    nginx.stop()


def proc_status(pid):
    fields = {}
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                key, _, value = line.partition(":")
                fields[key] = value.strip()
    except OSError:
        return None
    return fields


def find_wine_process(name, prefix):
    """Pids whose command is `name` and whose WINEPREFIX is `prefix`."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/comm" % entry) as f:
                comm = f.read().strip()
            if comm != name[:15]:
                continue
            with open("/proc/%s/environ" % entry, "rb") as f:
                environ = f.read().split(b"\0")
        except OSError:
            continue
        if ("WINEPREFIX=%s" % prefix).encode() in environ:
            found.append(int(entry))
    return found


def kib(text):
    return int(text.split()[0]) if text else 0


def step_wine(work, nginx):
    import winharness as wh
    n, mb = CFG["big_files"], CFG["big_mb"]
    say("== Wine: first install of %d packages (%g MiB files) by the Windows updater ==" % (n, mb))
    rel, out, files = make_release(work, "w", n, mb)
    nginx.start(out)
    warm(out)
    wh.template_prefix()
    with wh.Xvfb() as display:
        prefix = wh.WinePrefix(display)
        try:
            folder = prefix.unix_path(r"C:\Games\ZR")
            folder.mkdir(parents=True)
            for name in ("upd.exe", "unrar.dll", "ZetaRune.exe"):
                shutil.copy2(WIN_BIN / name, folder / name)
            nginx.clear_log()
            start = time.monotonic()
            proc = prefix.start(folder / "upd.exe", cwd=str(folder))
            hwm = rss = vpeak = 0
            pids = set()
            deadline = start + CFG["wine_timeout"]
            while proc.running():
                if time.monotonic() > deadline:
                    proc.kill()
                    raise SystemExit("upd.exe still running after %d s" % CFG["wine_timeout"])
                for pid in find_wine_process("upd.exe", prefix.path):
                    st = proc_status(pid)
                    if st:
                        pids.add(pid)
                        hwm = max(hwm, kib(st.get("VmHWM")))
                        rss = max(rss, kib(st.get("VmRSS")))
                        vpeak = max(vpeak, kib(st.get("VmPeak")))
                time.sleep(CFG["sample_ms"] / 1000)
            wall = time.monotonic() - start
            code = proc.wait(10)
            prefix.wait_server(60)
            fetched = len(nginx.package_requests())
            problems = check_install(folder, rel, files)
            if fetched != n:
                problems.append("%d package requests, not %d" % (fetched, n))
            say("wine upd.exe: exit %d, wall %.1f s (from `wine upd.exe` to its end), "
                "%d package requests, upd.exe pid(s) %s"
                % (code, wall, fetched, ",".join(map(str, sorted(pids))) or "none seen"))
            say("RESULT wine install %s: %d files, %.1f MiB"
                % ("complete" if not problems else "INCOMPLETE: " + "; ".join(problems[:5]),
                   n, n * int(mb * 2**20) / 2**20))
            say("RESULT wine peak memory of upd.exe: VmHWM %.1f MiB, largest VmRSS seen %.1f MiB, "
                "VmPeak (virtual) %.1f MiB" % (hwm / 1024, rss / 1024, vpeak / 1024))
        finally:
            prefix.close()
    nginx.stop()


def main():
    work = Path(tempfile.mkdtemp(prefix="zr-bench-"))
    nginx = Nginx(work)
    say("bench: work folder %s; host bin %s; windows bin %s" % (work, HOST_BIN, WIN_BIN))
    say("peers: %s; %s" % (
        subprocess.run(["curl", "--version"], capture_output=True, text=True).stdout.split("\n")[0],
        subprocess.run(["rar"], capture_output=True, text=True).stdout.strip().split("\n")[0]))
    try:
        for step in CFG["steps"]:
            {"time": step_time, "cpu": step_cpu, "wine": step_wine}[step.strip()](work, nginx)
    finally:
        nginx.stop()
        if os.environ.get("BENCH_KEEP") != "1":
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *a: sys.exit(1))
    main()
