"""A player's whole lifecycle against the reference service, for the host
build and for the Windows build under Wine: setup, first install, an update
started through the desktop shortcut, uninstall, and uninstall again."""

import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import machines as m  # noqa: E402
import winharness as wh  # noqa: E402

FOLDER = r"C:\Program Files\Zeta Rune"
KEY = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\QPX Zeta Rune"


class LifecycleCases:
    def test_install_update_uninstall(self):
        work = Path(tempfile.mkdtemp(prefix="zr-life-"))
        service = m.Service(work)
        self.addCleanup(service.stop)
        game = (self.machine.bin / "ZetaRune.exe").read_bytes()
        service.publish({"ZetaRune.exe": game, "data.txt": b"one", "extra.dat": b"extra"},
                        [("ZetaRune.exe", 1), ("data.txt", 1), ("extra.dat", 1)])
        service.start()

        # 1. Setup with Enter at once; the updater it starts installs release 1.
        self.assertEqual(self.machine.run_setup(FOLDER), 0)
        folder = self.machine.path(FOLDER)
        self.assertEqual((folder / "data.txt").read_bytes(), b"one")
        self.assertEqual((folder / "extra.dat").read_bytes(), b"extra")
        self.assertEqual(m.game_starts(folder), ["1"])
        links = [e.decode("cp1252") for e in (folder / "setup.dat").read_bytes().split(b"\0")[:2]]
        for link in links:
            self.assertTrue(self.machine.path(link).exists(), link)

        # 2. Release 2: one file changed, one retired. The desktop shortcut updates.
        service.publish({"ZetaRune.exe": game, "data.txt": b"two"},
                        [("ZetaRune.exe", 1), ("data.txt", 2), ("extra.dat", 0)])
        service.clear_log()
        self.assertEqual(self.machine.start_link(links[0]), 0)
        self.assertEqual(service.requests()[1:], ["/zr/data.txt.rar"])
        self.assertEqual((folder / "data.txt").read_bytes(), b"two")
        self.assertFalse((folder / "extra.dat").exists())
        self.assertEqual(m.decode_ver((folder / "ver.dat").read_bytes()),
                         [("ZetaRune.exe.rar", 1), ("data.txt.rar", 2)])
        self.assertEqual(m.game_starts(folder), ["1", "1"])

        # 3. The uninstall command exactly as the registry holds it, unquoted.
        command = self.machine.reg_value(KEY, "UninstallString")
        self.assertEqual(command, FOLDER + r"\upd.exe uninstall " + FOLDER)
        kept = {p.name: p.read_bytes() for p in folder.iterdir() if p.is_file()}
        service.clear_log()
        code, err = self.machine.run_command(command)
        self.assertEqual(code, 0)
        self.assertEqual(err, "")  # no window, no message
        for link in links:
            self.assertFalse(self.machine.path(link).exists(), link)
        self.assertIsNone(self.machine.reg_value(KEY, "UninstallString"))
        self.assertIsNone(self.machine.reg_value(KEY, "DisplayName"))
        after = {p.name: p.read_bytes() for p in folder.iterdir() if p.is_file()}
        self.assertEqual(after, kept)  # setup.dat, upd.exe, unrar.dll, ver.dat, the game
        self.assertEqual(m.game_starts(folder), ["1", "1"])
        self.assertEqual(service.requests(), [])

        # 4. Again: nothing more changes.
        code, err = self.machine.run_command(command)
        self.assertEqual(code, 0)
        self.assertEqual({p.name: p.read_bytes() for p in folder.iterdir() if p.is_file()}, kept)


class HostLifecycle(LifecycleCases, unittest.TestCase):
    def setUp(self):
        self.machine = m.HostMachine()
        self.addCleanup(self.machine.close)


class WineLifecycle(LifecycleCases, wh.WineTestCase):
    def setUp(self):
        wh.WineTestCase.setUp(self)
        self.machine = m.WineMachine(None)
        self.machine.wine = self.wine


if __name__ == "__main__":
    unittest.main(verbosity=2)
