"""The Windows setup program under Wine: Enter at once, Cancel, and the
dialog as Wine draws it. Runs inside tests/e2e/sandbox."""

import os
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import winharness as wh  # noqa: E402

SETUP = wh.WIN_BIN / "ZetaRuneSetup.exe"
CAPTION = "Select Directory"
FOLDER = r"C:\Program Files\Zeta Rune"
KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\QPX Zeta Rune"
SCREENSHOTS = Path(os.environ.get("ZR_SCREENSHOT_DIR", wh.BUILD_DIR / "screenshots"))


class SetupUnderWine(wh.WineTestCase):
    def finish_updater(self):
        # The setup starts the real updater; in the sandbox nothing answers for
        # the update service, so it shows its box, which the robot closes.
        text = self.wine.msgbox("Temporally unavailable", 60000)
        self.assertEqual(text, "The zetarune.com site seems to be temporally unavailable")
        self.wine.wait_server(60)

    def test_enter_at_once_installs_into_the_proposed_folder(self):
        w = self.wine
        proc = w.start(SETUP)
        w.wait_window(CAPTION)
        self.assertEqual(w.text(CAPTION, 1001), FOLDER)
        w.press(CAPTION, wh.IDOK)
        self.assertEqual(proc.wait(60), 0)
        folder = w.unix_path(FOLDER)
        for name in ("upd.exe", "unrar.dll"):
            self.assertEqual((folder / name).read_bytes(), (wh.WIN_BIN / name).read_bytes(), name)

        entries = (folder / "setup.dat").read_bytes().split(b"\0")
        self.assertEqual(len(entries), 3)  # two entries, each ending in a zero byte
        self.assertEqual(entries[2], b"")
        for entry in entries[:2]:
            path = entry.decode(wh.WINE_ENCODING)
            self.assertTrue(path.endswith(r"\Zeta Rune.lnk"), path)
            self.assertTrue(w.unix_path(path).exists(), path)
            link = w.lnk(path)
            self.assertEqual(link["target"].lower(), (FOLDER + r"\upd.exe").lower())
            self.assertEqual(link["workdir"].lower(), FOLDER.lower())
            self.assertEqual(link["description"], "Zeta Rune")
        self.assertIn("desktop", entries[0].decode().lower())
        self.assertIn("programs", entries[1].decode().lower())

        values = w.reg_query(KEY)
        self.assertEqual(values, {
            "DisplayName": ("REG_SZ", "Zeta Rune"),
            "UninstallString": ("REG_SZ", FOLDER + r"\upd.exe uninstall " + FOLDER),
        })
        self.finish_updater()

    def test_cancel_leaves_no_folder_file_or_key(self):
        w = self.wine
        before = sorted(p.relative_to(w.drive_c) for p in w.drive_c.rglob("*"))
        proc = w.start(SETUP)
        w.wait_window(CAPTION)
        w.cancel(CAPTION)
        self.assertEqual(proc.wait(60), 0)
        w.wait_server(30)
        self.assertFalse(w.unix_path(FOLDER).exists())
        self.assertIsNone(w.reg_query(KEY))
        after = sorted(p.relative_to(w.drive_c) for p in w.drive_c.rglob("*"))
        self.assertEqual(after, before)

    def test_dialog_layout_matches_its_template(self):
        w = self.wine
        proc = w.start(SETUP)
        w.wait_window(CAPTION)
        controls = {c["id"]: c for c in w.controls(CAPTION)}
        self.assertEqual(controls[1]["text"], "OK")
        self.assertEqual(controls[2]["text"], "Cancel")
        self.assertEqual(controls[1001]["cls"].lower(), "edit")
        self.assertEqual(controls[1]["rect"], (76, 70, 50, 14))
        self.assertEqual(controls[2]["rect"], (130, 70, 50, 14))
        self.assertEqual(controls[1001]["rect"], (11, 42, 164, 14))
        w.cancel(CAPTION)
        self.assertEqual(proc.wait(60), 0)


class SetupScreenshot(wh.WineTestCase):
    virtual_desktop = ("zr", "640x400")
    screen = "640x400x24"

    def test_dialog_as_wine_draws_it(self):
        w = self.wine
        proc = w.start(SETUP)
        w.wait_window(CAPTION)
        SCREENSHOTS.mkdir(parents=True, exist_ok=True)
        shot = SCREENSHOTS / "setup-dialog.png"
        w.screenshot(shot)
        # A drawn window, not an empty screen: many colours in the picture.
        colours = subprocess.run(["identify", "-format", "%k", str(shot)], capture_output=True,
                                 text=True, timeout=60).stdout
        self.assertGreater(int(colours or 0), 8)
        w.cancel(CAPTION)
        self.assertEqual(proc.wait(60), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
