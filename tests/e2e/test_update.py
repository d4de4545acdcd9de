"""Whole update runs against the reference service (nginx) and the fault
server, for the host build and for the Windows build under Wine. Runs inside
tests/e2e/sandbox, whose hosts file maps the service and mirror names."""

import random
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import machines as m  # noqa: E402
import winharness as wh  # noqa: E402

FOLDER = r"C:\Games\ZR"


def manifest_entries(text):
    """Package entries of a manifest body, read by its quotes."""
    parts = text.split('"')
    out = []
    for i in range(1, len(parts) - 1, 2):
        rest = parts[i + 1]
        digits = ""
        if rest.startswith(","):
            for c in rest[1:]:
                if not c.isdigit():
                    break
                digits += c
        out.append((parts[i], int(digits) if digits else (0 if rest.startswith(",") else -1)))
    return out


class UpdateCases:
    """The cases; a subclass gives self.machine."""

    def setUp(self):
        super().setUp()
        self.work = Path(tempfile.mkdtemp(prefix="zr-e2e-"))
        self.service = m.Service(self.work)
        self.addCleanup(self.service.stop)
        self.folder = self.machine.install_updater(FOLDER)
        (self.folder / "old.txt").write_bytes(b"retired in every release")
        # The game of an earlier installation, which every run starts at its end.
        (self.folder / "ZetaRune.exe").write_bytes((self.machine.bin / "ZetaRune.exe").read_bytes())

    def release(self, data_version=1, data=b"level data one\r\n", extra=""):
        game = (self.machine.bin / "ZetaRune.exe").read_bytes()
        files = {"ZetaRune.exe": game, "data.txt": data, "maps/level1.dat": b"map",
                 "upd.exe": (self.machine.bin / "upd.exe").read_bytes()}
        versions = [("ZetaRune.exe", 1), ("data.txt", data_version), ("upd.exe", 2, "upd2.rar"),
                    ("old.txt", 0), ("maps/level1.dat", 1)]
        out = self.service.publish(files, versions, extra)
        return out, manifest_entries((out / "ver.txt").read_text())

    def update(self, boxes=(), **kw):
        before = self.starts()
        r = self.machine.update(FOLDER, expect_boxes=boxes, **kw)
        self.assertEqual(r.code, 0)
        # Every run ends with exactly one start of the game, with argument 1.
        self.assertEqual(self.starts()[len(before):], ["1"], r.log)
        return r

    def starts(self):
        return m.game_starts(self.folder)

    def ver(self):
        return m.decode_ver((self.folder / "ver.dat").read_bytes())

    def state(self):
        """Every file of the installation folder but the game's start log."""
        return {p.relative_to(self.folder).as_posix(): p.read_bytes()
                for p in self.folder.rglob("*") if p.is_file() and p.name != "game_starts.log"}

    def test_first_run_then_newer_then_lower_versions(self):
        out, entries = self.release()
        self.service.start()
        self.update()
        # Without "ver.dat" the default entry "upd2.rar",2 applies: the
        # updater's own package is not fetched; the others are, in order.
        self.assertEqual(self.service.requests()[1:], [
            "/zr/ZetaRune.exe.rar", "/zr/data.txt.rar", "/zr/maps/level1.dat.rar"])
        self.assertEqual((self.folder / "data.txt").read_bytes(), b"level data one\r\n")
        self.assertEqual((self.folder / "ZetaRune.exe").read_bytes(),
                         (self.machine.bin / "ZetaRune.exe").read_bytes())
        self.assertFalse((self.folder / "old.txt").exists())
        self.assertFalse((self.folder / "maps").exists())  # no folder is created
        self.assertEqual(self.ver(), [e for e in entries if e[1] != 0])
        self.assertEqual([p.name for p in self.folder.iterdir() if ".zr" in p.name], [])

        # Release 2: one file changed. Only its package is fetched.
        out, entries = self.release(data_version=2, data=b"level data two\r\n")
        self.service.clear_log()
        self.update()
        self.assertEqual(self.service.requests()[1:], ["/zr/data.txt.rar"])
        self.assertEqual((self.folder / "data.txt").read_bytes(), b"level data two\r\n")
        self.assertIn(("data.txt.rar", 2), self.ver())

        # A version lower than the local one: nothing fetched, the lower one recorded.
        (self.folder / "old.txt").write_bytes(b"back again")
        self.release(data_version=1, data=b"older\r\n")
        self.service.clear_log()
        self.update()
        self.assertEqual(self.service.requests()[1:], [])
        self.assertEqual((self.folder / "data.txt").read_bytes(), b"level data two\r\n")
        self.assertIn(("data.txt.rar", 1), self.ver())
        self.assertFalse((self.folder / "old.txt").exists())

    def test_updater_replaces_itself_and_its_library(self):
        # New builds of both files that are in use while the updater runs.
        new_upd = (self.machine.bin / "upd.exe").read_bytes() + b"\0" * 64
        new_dll = (self.machine.bin / "unrar.dll").read_bytes() + b"\0" * 3072
        self.service.publish({"upd.exe": new_upd, "unrar.dll": new_dll},
                             [("upd.exe", 3, "upd2.rar"), ("unrar.dll", 1)])
        self.service.start()
        self.update()
        self.assertEqual((self.folder / "upd.exe").read_bytes(), new_upd)
        self.assertEqual((self.folder / "unrar.dll").read_bytes(), new_dll)
        self.assertEqual(self.ver(), [("upd2.rar", 3), ("unrar.dll.rar", 1)])
        # What had to be moved aside goes on the next run, which the new
        # updater itself makes, fetching nothing.
        self.service.clear_log()
        self.update()
        self.assertEqual(sorted(p.name for p in self.folder.iterdir() if ".zr" in p.name), [])
        self.assertEqual(self.service.requests()[1:], [])

    def test_unresolvable_service_shows_box_a(self):
        hosts = m.HostsFile()
        self.addCleanup(hosts.restore)
        hosts.without("update.zetarune.com")
        before = self.state()
        r = self.update(boxes=[m.BOX_A[0]])
        self.assertEqual(r.boxes, [m.BOX_A])
        self.assertEqual(self.state(), before)

    def test_nothing_listening_shows_box_b(self):
        before = self.state()
        r = self.update(boxes=[m.BOX_B[0]])
        self.assertEqual(r.boxes, [m.BOX_B])
        self.assertEqual(self.state(), before)

    def test_status_404_ends_quietly(self):
        fault = m.FaultServer(self.work, m.SERVICE_IP, {"routes": {"/zru/ver.php": {"status": 404}}})
        self.addCleanup(fault.stop)
        before = self.state()
        r = self.update()
        self.assertEqual(r.boxes, [])
        self.assertEqual(self.state(), before)

    def test_manifest_without_mirror_touches_nothing(self):
        body = '"data.txt.rar",5\r\n"old.txt",0\r\n'
        fault = m.FaultServer(self.work, m.SERVICE_IP, {"routes": {"/zru/ver.php": {"body": body}}})
        self.addCleanup(fault.stop)
        before = self.state()
        r = self.update()
        self.assertEqual(r.boxes, [])
        self.assertEqual(self.state(), before)  # old.txt is not even retired

    def test_chunked_manifest_and_a_broken_package(self):
        out, entries = self.release()
        body = (out / "ver.txt").read_text()
        mirror = out / "mirrors" / "mirror1.zetarune.com"
        fault = m.FaultServer(self.work, m.SERVICE_IP, {"routes": {"/zru/ver.php": {
            "body": body, "chunked": {"sizes": [7, 5, 100000], "extensions": [";a=1", "", ";x"]}}}})
        self.addCleanup(fault.stop)
        # The game's package comes without a Content-Length: a broken package.
        packages = m.FaultServer(self.work, m.MIRROR1_IP, {"root": str(mirror), "routes": {
            "/zr/data.txt.rar": {"file": str(mirror / "zr" / "data.txt.rar"),
                                 "content_length": None}}})
        self.addCleanup(packages.stop)
        (self.folder / "ver.dat").write_bytes(m.encode_ver([("data.txt.rar", 0)]))
        before = self.state()
        self.update()
        # Every package was still asked for (the local list names none of
        # them); none of them was written.
        self.assertEqual(packages.requests(), ["/zr/ZetaRune.exe.rar", "/zr/data.txt.rar",
                                               "/zr/upd2.rar", "/zr/maps/level1.dat.rar"])
        after = self.state()
        self.assertNotIn("old.txt", after)  # retirement runs all the same
        del before["old.txt"]
        self.assertEqual(after, before)


class HostUpdate(UpdateCases, unittest.TestCase):
    def setUp(self):
        self.machine = m.HostMachine()
        self.addCleanup(self.machine.close)
        super().setUp()


class WineUpdate(UpdateCases, wh.WineTestCase):
    def setUp(self):
        wh.WineTestCase.setUp(self)
        self.machine = m.WineMachine(None)
        self.machine.wine = self.wine
        UpdateCases.setUp(self)


class ProgressWindowUnderWine(wh.WineTestCase):
    """The progress window mid-download, as Wine draws it."""
    virtual_desktop = ("zr", "640x400")
    screen = "640x400x24"

    def test_window_mid_download(self):
        machine = m.WineMachine(None)
        machine.wine = self.wine
        work = Path(tempfile.mkdtemp(prefix="zr-shot-"))
        folder = machine.install_updater(FOLDER)
        (folder / "ZetaRune.exe").write_bytes((machine.bin / "ZetaRune.exe").read_bytes())
        service = m.Service(work)
        payload = random.Random(7).randbytes(1 << 20)  # does not compress
        out = service.publish({"data.bin": payload}, [("data.bin", 1)])
        mirror = out / "mirrors" / "mirror1.zetarune.com"
        manifest = m.FaultServer(work, m.SERVICE_IP, {"routes": {"/zru/ver.php": {
            "file": str(out / "ver.txt")}}})
        self.addCleanup(manifest.stop)
        # The package trickles in: the bar moves while the window is watched.
        packages = m.FaultServer(work, m.MIRROR1_IP, {"routes": {"/zr/data.bin.rar": {
            "file": str(mirror / "zr" / "data.bin.rar"), "write_size": 4096,
            "write_delay": 0.05}}})
        self.addCleanup(packages.stop)
        proc = self.wine.start(folder / "upd.exe", cwd=str(folder))
        caption = "Updating Game Software"
        self.wine.wait_window(caption, 30000)
        self.assertFalse(self.wine.enabled(caption, wh.IDCANCEL))
        deadline = time.monotonic() + 30
        while self.wine.text(caption, 1003) != "Please Wait (1/1)":
            self.assertLess(time.monotonic(), deadline)
            time.sleep(0.2)
        time.sleep(1.5)
        shot = wh.BUILD_DIR / "screenshots" / "progress-window.png"
        shot.parent.mkdir(parents=True, exist_ok=True)
        self.wine.screenshot(shot)
        # A drawn window, not an empty screen: many colours in the picture.
        colours = subprocess.run(["identify", "-format", "%k", str(shot)], capture_output=True,
                                 text=True, timeout=60).stdout
        self.assertGreater(int(colours or 0), 8)
        self.assertEqual(proc.wait(120), 0)
        self.wine.wait_server(60)
        self.assertEqual((folder / "data.bin").read_bytes(), payload)


if __name__ == "__main__":
    unittest.main(verbosity=2)
