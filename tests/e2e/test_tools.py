"""Tests of the studio tools: tools/publish, the nginx update service
(tools/service), the fault server (tools/faultserver.py) and the stand-in
game (tools/game).

Run from the repository root:  python3 -m unittest tests/e2e/test_tools.py

The tests need port 80 and fixed host names, so outside a network sandbox
the module re-runs itself inside one (tests/e2e/sandbox, which uses
unshare -rmn) with a hosts file of its own. The game test runs the host
build's ZetaRune.exe from $ZR_HOST_BIN (default build/host/bin) and is
skipped when that has not been built.
"""

import json
import os
import random
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOOLS = os.path.join(ROOT, "tools")
SERVICE_HOST = "update.zetarune.com"
ADDRESSES = {
    SERVICE_HOST: "127.0.0.10",
    "mirror1.zetarune.com": "127.0.0.11",
    "mirror2.zetarune.com": "127.0.0.12",
    "second.service.test": "127.0.0.13",
    "faults.test": "127.0.0.20",
    "stalls.test": "127.0.0.21",
}


def _enter_sandbox():
    """Replaces this process by the same test run inside the sandbox."""
    folder = tempfile.mkdtemp(prefix="zr-tools-hosts-")
    hosts = os.path.join(folder, "hosts")
    with open(hosts, "w") as f:
        f.write("127.0.0.1 localhost\n")
        for name, addr in ADDRESSES.items():
            f.write(f"{addr} {name}\n")
    if getattr(sys.modules.get("__main__"), "__package__", None) == "unittest":
        command = [sys.executable, "-m", "unittest"] + sys.argv[1:]
    else:
        command = [sys.executable, os.path.abspath(sys.argv[0])] + sys.argv[1:]
    env = dict(os.environ, ZR_TOOLS_HOSTS_DIR=folder)
    sandbox = os.path.join(ROOT, "tests", "e2e", "sandbox")
    sys.stdout.flush()
    sys.stderr.flush()
    os.execve(sandbox, [sandbox, hosts, "--"] + command, env)


if os.environ.get("ZR_SANDBOX") != "1":
    _enter_sandbox()

if os.environ.get("ZR_TOOLS_HOSTS_DIR"):
    import atexit
    atexit.register(shutil.rmtree, os.environ["ZR_TOOLS_HOSTS_DIR"], True)


# --- a client that talks as the updater does ---------------------------------

def exchange(host, request, timeout=15.0):
    """Sends the request text on a new connection to host:80 and reads until
    the server closes. Returns the bytes and the seconds it took."""
    start = time.monotonic()
    with socket.create_connection((host, 80), timeout=timeout) as s:
        s.sendall(request)
        data = bytearray()
        while True:
            piece = s.recv(65536)
            if not piece:
                break
            data += piece
    return bytes(data), time.monotonic() - start


def version_query(host_header=SERVICE_HOST):
    return ("GET /zru/ver.php?k=%x HTTP/1.1\r\nHost: %s\r\nConnection: close\r\n\r\n"
            % (int(time.time()) & 0xFFFFFFFF, host_header)).encode()


def package_request(path, name, host):
    return ("GET %s%s HTTP/1.1\r\nHost: %s\r\nConnection: close\r\n\r\n"
            % (path, name, host)).encode()


def split_response(data):
    """(status, header lines, body) of a whole response."""
    end = data.index(b"\r\n\r\n")
    lines = data[:end].decode("latin-1").split("\r\n")
    return int(lines[0].split(" ")[1]), lines[1:], data[end + 4:]


def header(lines, name):
    values = [l.split(": ", 1)[1] for l in lines if l.split(": ", 1)[0] == name]
    return values[0] if values else None


def decode_chunked(body):
    """Strict chunked decoding: size line (extensions skipped), data, CR LF,
    up to the last chunk, then trailers up to the empty line."""
    out = bytearray()
    pos = 0
    while True:
        eol = body.index(b"\r\n", pos)
        size = int(body[pos:eol].split(b";", 1)[0].strip(), 16)
        pos = eol + 2
        if size == 0:
            break
        if pos + size + 2 > len(body) or body[pos + size:pos + size + 2] != b"\r\n":
            raise ValueError("chunk %d at %d not closed by CR LF" % (size, pos))
        out += body[pos:pos + size]
        pos += size + 2
    while True:
        eol = body.index(b"\r\n", pos)
        if eol == pos:
            return bytes(out), body[eol + 2:]
        pos = eol + 2


def manifest_entries(body, quote):
    """The entries of one kind, read through their quote characters only, as
    the updater reads them."""
    parts = body.split(quote)
    return [parts[2 * n + 1] for n in range((len(parts) - 1) // 2)]


def manifest_version(body, name):
    key = b'"' + name + b'",'
    at = body.find(key)
    if at < 0:
        return -1
    digits = b""
    for c in body[at + len(key):]:
        if not 0x30 <= c <= 0x39:
            break
        digits += bytes([c])
    return int(digits or b"0")


def rar_tool():
    return shutil.which("unrar") or shutil.which("rar")


def unpack_first(archive):
    """(stored name of the first entry, its unpacked bytes)."""
    tool = rar_tool()
    names = subprocess.run([tool, "lb", "--", archive], check=True,
                           stdout=subprocess.PIPE).stdout.decode().splitlines()
    data = subprocess.run([tool, "p", "-inul", "--", archive, names[0]],
                          check=True, stdout=subprocess.PIPE).stdout
    return names[0], data


def publish(release, versions, out, *mirrors, check=True):
    command = [sys.executable, os.path.join(TOOLS, "publish"), release, versions, out]
    for m in mirrors:
        command += ["--mirror", m]
    return subprocess.run(command, check=check, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True)


def make_release(folder, seed):
    rng = random.Random(seed)
    files = {
        # Bytes that matter on the way: NUL, CR LF, the version file key.
        "ZetaRune.exe": b"MZ\x00\x01\r\n\xa6\x00" + bytes(rng.randrange(256) for _ in range(5000)),
        # Large enough to arrive in many reads: noise, then zeros.
        "sub/data.pak": bytes(rng.randrange(256) for _ in range(360000)) + bytes(100000),
    }
    for rel, data in files.items():
        path = os.path.join(folder, *rel.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    return files


VERSIONS = "# release 3\nZetaRune.exe 3\nsub/data.pak 1\nold.dll 0\n"
MIRRORS = ("mirror1.zetarune.com/zr/", "mirror2.zetarune.com/pkgs/v1/")
PACKAGES = [(b"ZetaRune.exe.rar", 3, "ZetaRune.exe"),
            (b"sub/data.pak.rar", 1, "sub/data.pak"),
            (b"old.dll", 0, None)]


class Published(unittest.TestCase):
    """A release of three files (one in a subfolder, one retired) published
    for two mirrors."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="zr-tools-")
        cls.addClassCleanup(shutil.rmtree, cls.tmp, True)
        cls.release = os.path.join(cls.tmp, "release")
        cls.files = make_release(cls.release, 7)
        cls.versions = os.path.join(cls.tmp, "versions.txt")
        with open(cls.versions, "w") as f:
            f.write(VERSIONS)
        cls.out = os.path.join(cls.tmp, "out")
        cls.published = publish(cls.release, cls.versions, cls.out, *MIRRORS).stdout
        with open(os.path.join(cls.out, "ver.txt"), "rb") as f:
            cls.manifest = f.read()

    @classmethod
    def start_service(cls, *options):
        cls.work = os.path.join(cls.tmp, "service")
        mirrors = os.path.join(cls.out, "mirrors")
        subprocess.run([os.path.join(TOOLS, "service", "start"), *options, cls.work,
                        os.path.join(cls.out, "ver.txt"),
                        "mirror1.zetarune.com=" + os.path.join(mirrors, "mirror1.zetarune.com"),
                        "mirror2.zetarune.com=" + os.path.join(mirrors, "mirror2.zetarune.com")],
                       check=True, stdout=subprocess.PIPE)
        cls.addClassCleanup(subprocess.run, [os.path.join(TOOLS, "service", "stop"), cls.work],
                            stdout=subprocess.DEVNULL)

    def package_size(self, name):
        return os.path.getsize(os.path.join(self.out, "mirrors", "mirror1.zetarune.com",
                                            "zr", *name.split("/")))


class PublishTest(Published):
    def test_manifest_lists_packages_then_mirrors(self):
        names = manifest_entries(self.manifest, b'"')
        self.assertEqual(names, [p[0] for p in PACKAGES])
        for name, version, _ in PACKAGES:
            self.assertEqual(manifest_version(self.manifest, name), version)
        self.assertEqual(manifest_entries(self.manifest, b"'"),
                         [m.encode() for m in MIRRORS])
        # Packages first, then mirrors.
        self.assertLess(self.manifest.rindex(b'"'), self.manifest.index(b"'"))
        self.assertIn("retired  old.dll", self.published)

    def test_packages_hold_the_file_under_its_relative_path(self):
        for mirror in MIRRORS:
            host, path = mirror.split("/", 1)
            folder = os.path.join(self.out, "mirrors", host, *path.split("/"))
            for name, version, rel in PACKAGES:
                package = os.path.join(folder, *name.decode().split("/"))
                if version == 0:
                    self.assertFalse(os.path.exists(package))
                    continue
                stored, data = unpack_first(package)
                self.assertEqual(stored, rel)
                self.assertEqual(data, self.files[rel])

    def test_packages_are_reproducible(self):
        for rel in self.files:
            path = os.path.join(self.release, *rel.split("/"))
            os.utime(path, (1000000000, 1000000000))
            os.chmod(path, 0o600)
        again = os.path.join(self.tmp, "again")
        publish(self.release, self.versions, again, MIRRORS[0])
        for name, version, _ in PACKAGES[:2]:
            parts = name.decode().split("/")
            with open(os.path.join(self.out, "mirrors", "mirror1.zetarune.com", "zr", *parts), "rb") as a, \
                 open(os.path.join(again, "mirrors", "mirror1.zetarune.com", "zr", *parts), "rb") as b:
                self.assertEqual(a.read(), b.read(), name)

    def test_publish_refuses_inconsistent_input_and_leaves_output_alone(self):
        cases = {
            "unlisted file": ("ZetaRune.exe 3\n", None),
            "retired file still present": ("ZetaRune.exe 3\nsub/data.pak 0\n", None),
            "quote in a package name": ("ZetaRune.exe 3 a\"b.rar\nsub/data.pak 1\n", None),
            "mirror path without a slash at its end": (VERSIONS, "mirror1.zetarune.com/zr"),
        }
        for what, (versions, mirror) in cases.items():
            with self.subTest(what):
                folder = tempfile.mkdtemp(dir=self.tmp)
                vfile = os.path.join(folder, "versions.txt")
                with open(vfile, "w") as f:
                    f.write(versions)
                out = os.path.join(folder, "out")
                done = publish(self.release, vfile, out, mirror or MIRRORS[0], check=False)
                self.assertEqual(done.returncode, 1, done.stderr)
                self.assertIn("publish: error:", done.stderr)
                self.assertFalse(os.path.exists(os.path.join(out, "ver.txt")))
                self.assertFalse(os.path.exists(os.path.join(out, "mirrors")))


class ServiceTest(Published):
    """The service on every address, as in the demo."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.start_service()

    def test_version_query_gets_the_manifest(self):
        data, _ = exchange(SERVICE_HOST, version_query())
        status, lines, body = split_response(data)
        self.assertEqual(status, 200)
        self.assertEqual(header(lines, "Content-Type"), "text/plain")
        self.assertEqual(int(header(lines, "Content-Length")), len(self.manifest))
        self.assertEqual(body, self.manifest)
        # Any other path on the service is not found.
        data, _ = exchange(SERVICE_HOST, package_request("/zru/", "other.php", SERVICE_HOST))
        self.assertEqual(split_response(data)[0], 404)

    def test_mirrors_serve_their_packages(self):
        before = self.access_log()
        for mirror, (name, _, rel) in zip(MIRRORS, PACKAGES[1::-1]):
            host, path = mirror.split("/", 1)
            data, _ = exchange(host, package_request("/" + path, name.decode(), host))
            status, lines, body = split_response(data)
            self.assertEqual(status, 200)
            length = int(header(lines, "Content-Length"))
            archive = os.path.join(self.tmp, "fetched.rar")
            with open(archive, "wb") as f:
                f.write(body[:length])
            self.assertEqual(unpack_first(archive), (rel, self.files[rel]))
        # A retired name has no package.
        data, _ = exchange("mirror1.zetarune.com",
                           package_request("/zr/", "old.dll", "mirror1.zetarune.com"))
        self.assertEqual(split_response(data)[0], 404)
        self.assertEqual(self.access_log(len(before) + 3)[len(before):], [
            'mirror1.zetarune.com "GET /zr/sub/data.pak.rar HTTP/1.1" 200',
            'mirror2.zetarune.com "GET /pkgs/v1/ZetaRune.exe.rar HTTP/1.1" 200',
            'mirror1.zetarune.com "GET /zr/old.dll HTTP/1.1" 404'])

    def access_log(self, wanted=0):
        """Host, request line and status of each logged request; waits a
        little for the wanted number of lines."""
        for _ in range(50):
            with open(os.path.join(self.work, "access.log")) as f:
                lines = [" ".join(line.split(" ")[1:-1]) for line in f]
            if len(lines) >= wanted:
                break
            time.sleep(0.05)
        return lines


class ServiceOptionsTest(Published):
    """The service on given addresses, with a chunked manifest and a rate
    limit."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.start_service("--listen", ADDRESSES[SERVICE_HOST],
                          "--listen", ADDRESSES["mirror1.zetarune.com"],
                          "--chunked", "--rate", "100k")

    def test_chunked_manifest(self):
        data, _ = exchange(SERVICE_HOST, version_query())
        status, lines, body = split_response(data)
        self.assertEqual(status, 200)
        self.assertEqual(header(lines, "Transfer-Encoding"), "chunked")
        self.assertIsNone(header(lines, "Content-Length"))
        self.assertEqual(decode_chunked(body), (self.manifest, b""))

    def test_rate_limit_and_listen_addresses(self):
        name = "sub/data.pak.rar"
        request = package_request("/zr/", name, "mirror1.zetarune.com")
        data, seconds = exchange("mirror1.zetarune.com", request)
        self.assertEqual(len(split_response(data)[2]), self.package_size(name))
        # nginx lets rate x (whole seconds since the start + 1) bytes through,
        # so more than three seconds' worth takes longer than one second.
        self.assertGreater(self.package_size(name), 3 * 102400)
        self.assertGreater(seconds, 1.0)
        # Only the given addresses are served.
        with self.assertRaises(ConnectionRefusedError):
            exchange("mirror2.zetarune.com",
                     package_request("/pkgs/v1/", name, "mirror2.zetarune.com"))


class FaultServerTest(unittest.TestCase):

    BODY = b'"ZetaRune.exe.rar",3\r\n"old.dll",0\r\n\'mirror1.zetarune.com/zr/\'\r\n'

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="zr-faults-")
        cls.addClassCleanup(shutil.rmtree, cls.tmp, True)
        big = bytes(random.Random(3).randrange(256) for _ in range(150000))
        cls.big = os.path.join(cls.tmp, "big.bin")
        with open(cls.big, "wb") as f:
            f.write(big)
        config = {
            "routes": {
                "/zru/ver.php": {"body_hex": cls.BODY.hex(),
                                 "chunked": {"sizes": [7, 1, 30],
                                             "extensions": [";name=value", "", ';q="x"'],
                                             "upper": True, "trailers": ["X-After: 1"]}},
                "/longer": {"body": "0123456789", "content_length": 60},
                "/shorter": {"body": "0123456789", "content_length": 4},
                "/nolength": {"body": "0123456789", "content_length": None},
                "/early": {"file": cls.big, "body_limit": 1000},
                "/reset": {"file": cls.big, "body_limit": 1000, "then": "reset",
                           "write_size": 500, "write_delay": 0.2},
                "/garbage": {"garbage": 300, "seed": 5},
                "/big": {"file": cls.big, "write_size": 40000},
                "/turns": [{"status": 404}, {"status": 200, "body": "second"}],
            },
        }
        cls.config = os.path.join(cls.tmp, "faults.json")
        with open(cls.config, "w") as f:
            json.dump(config, f)
        cls.log = os.path.join(cls.tmp, "requests.log")
        cls.raw_log = os.path.join(cls.tmp, "requests.jsonl")
        cls.server = cls.start(ADDRESSES["faults.test"], 60, "--config", cls.config,
                               "--log", cls.log, "--raw-log", cls.raw_log)

    @classmethod
    def start(cls, address, seconds, *options):
        ready = os.path.join(tempfile.mkdtemp(dir=cls.tmp), "ready")
        server = subprocess.Popen([sys.executable, os.path.join(TOOLS, "faultserver.py"),
                                   "--listen", address + ":80", "--max-seconds", str(seconds),
                                   "--ready-file", ready, *options],
                                  stdout=subprocess.DEVNULL)
        cls.addClassCleanup(server.wait)
        cls.addClassCleanup(server.kill)
        for _ in range(100):
            if os.path.exists(ready) or server.poll() is not None:
                break
            time.sleep(0.05)
        if not os.path.exists(ready):
            raise RuntimeError("fault server did not start")
        return server

    def get(self, target, host="faults.test"):
        return exchange(host, package_request("", target, host))[0]

    def test_chunked_with_extensions_decodes_to_the_body(self):
        wire = self.get("/zru/ver.php?k=65f00001")
        status, lines, body = split_response(wire)
        self.assertEqual(status, 200)
        self.assertEqual(header(lines, "Transfer-Encoding"), "chunked")
        self.assertTrue(body.startswith(b"7;name=value\r\n"))
        self.assertIn(b"\r\n1E;q=\"x\"\r\n", body)
        decoded, rest = decode_chunked(body)
        self.assertEqual(decoded, self.BODY)
        self.assertEqual(rest, b"")
        self.assertIn(b"\r\n0\r\nX-After: 1\r\n\r\n", body)
        # Any query reaches the same route.
        self.assertEqual(split_response(self.get("/zru/ver.php?k=1"))[2], body)

    def test_length_faults(self):
        for target, length in (("/longer", "60"), ("/shorter", "4"), ("/nolength", None)):
            with self.subTest(target):
                status, lines, body = split_response(self.get(target))
                self.assertEqual(status, 200)
                self.assertEqual(header(lines, "Content-Length"), length)
                self.assertEqual(body, b"0123456789")

    def test_early_close_big_body_garbage_and_turns(self):
        status, lines, body = split_response(self.get("/early"))
        self.assertEqual(int(header(lines, "Content-Length")), 150000)
        with open(self.big, "rb") as f:
            whole = f.read()
        self.assertEqual(body, whole[:1000])
        self.assertEqual(split_response(self.get("/big"))[2], whole)
        garbage = self.get("/garbage")
        self.assertEqual(len(garbage), 300)
        self.assertEqual(garbage, self.get("/garbage"))
        self.assertNotIn(b"\r\n\r\n", garbage)
        self.assertEqual(split_response(self.get("/turns"))[0], 404)
        self.assertEqual(split_response(self.get("/turns"))[2], b"second")
        self.assertEqual(split_response(self.get("/turns"))[2], b"second")
        self.assertEqual(split_response(self.get("/unknown"))[0], 404)

    def test_reset_reaches_the_client(self):
        with socket.create_connection(("faults.test", 80), timeout=10) as s:
            s.sendall(package_request("", "/reset", "faults.test"))
            received = bytearray()
            with self.assertRaises(ConnectionResetError):
                while True:
                    piece = s.recv(65536)
                    if not piece:
                        break
                    received += piece
        self.assertTrue(received.startswith(b"HTTP/1.1 200 OK\r\n"))

    def test_requests_are_logged_in_order(self):
        marks = ["/turns?log=%d" % i for i in range(3)]
        before = self.read_log()
        for m in marks:
            self.get(m)
        self.assertEqual(self.read_log()[len(before):],
                         ["GET %s HTTP/1.1" % m for m in marks])
        with open(self.raw_log) as f:
            heads = [json.loads(line)["request"] for line in f]
        self.assertEqual(heads[-1], package_request("", marks[-1], "faults.test").decode())

    def read_log(self):
        with open(self.log) as f:
            return f.read().splitlines()

    def test_stalls_end_at_the_time_limit(self):
        config = json.dumps({"body": "abc", "body_limit": 0, "then": "stall"})
        server = self.start(ADDRESSES["stalls.test"], 2.5, "--route", "/zru/ver.php", config,
                            "--route", "/silent", json.dumps({"limit": 0, "then": "stall"}))
        start = time.monotonic()
        with socket.create_connection(("stalls.test", 80), timeout=20) as headers_only, \
             socket.create_connection(("stalls.test", 80), timeout=20) as silent:
            headers_only.sendall(version_query("stalls.test"))
            silent.sendall(package_request("", "/silent", "stalls.test"))
            head = headers_only.recv(65536)
            self.assertTrue(head.startswith(b"HTTP/1.1 200 OK\r\n"))
            self.assertTrue(head.endswith(b"Content-Length: 3\r\nConnection: close\r\n\r\n"))
            self.assertEqual(headers_only.recv(65536), b"")
            self.assertEqual(silent.recv(65536), b"")
        elapsed = time.monotonic() - start
        self.assertGreater(elapsed, 1.5)
        self.assertLess(elapsed, 10)
        self.assertEqual(server.wait(timeout=10), 0)


class GameTest(unittest.TestCase):

    def test_game_records_one_start_with_its_argument_and_folder(self):
        game = os.path.join(os.environ.get("ZR_HOST_BIN", os.path.join(ROOT, "build", "host", "bin")),
                            "ZetaRune.exe")
        if not os.access(game, os.X_OK):
            self.skipTest(f"no host build of the game at {game}")
        tmp = tempfile.mkdtemp(prefix="zr-game-")
        self.addCleanup(shutil.rmtree, tmp, True)
        folder = os.path.join(tmp, "Zeta Rune")
        os.mkdir(folder)
        env = dict(os.environ, ZR_COMPAT_ROOT=os.path.join(tmp, "root"),
                   ZR_COMMAND_LINE='"ZetaRune.exe" 1')
        for _ in range(2):
            done = subprocess.run([game], cwd=folder, env=env, timeout=30)
            self.assertEqual(done.returncode, 0)
        with open(os.path.join(folder, "game_starts.log"), "rb") as f:
            lines = f.read().split(b"\n")
        dos = ("Z:" + folder.replace("/", "\\")).encode()
        self.assertEqual(lines, [b"1\t" + dos, b"1\t" + dos, b""])


if __name__ == "__main__":
    unittest.main()
