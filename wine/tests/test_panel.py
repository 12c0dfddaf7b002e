"""The button panel in a terminal (tmux), on the probe's exhibit-like window."""

import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
import rig  # noqa: E402

PANEL = os.path.join(HERE, "..", "panel.py")
NEEDED = ("tmux", "wine", "wineserver", "Xvfb", "xdotool", "import", "x86_64-w64-mingw32-gcc")
MISSING = [tool for tool in NEEDED if not shutil.which(tool)]


@unittest.skipIf(MISSING, "missing tools: %s" % ", ".join(MISSING))
class PanelTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="panel-test-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        # A tmux server of our own, so that a person's sessions are left alone.
        self.tmux = ["tmux", "-L", "quorin-panel-test-%d" % os.getpid()]
        self.addCleanup(subprocess.run, self.tmux + ["kill-server"], capture_output=True)

    def screen(self):
        return subprocess.run(self.tmux + ["capture-pane", "-p", "-t", "panel"],
                              capture_output=True, text=True).stdout

    def wait_screen(self, text, timeout=10):
        return rig.wait_until(lambda: text in self.screen() and self.screen(), timeout,
                              "%r on the panel" % text, interval=0.1)

    def keys(self, *keys):
        subprocess.run(self.tmux + ["send-keys", "-t", "panel", *keys], check=True)

    def test_buttons_lamp_morse_screenshot_and_quit(self):
        shots = os.path.join(self.tmp, "shots")  # the panel makes it
        command = "env -u DISPLAY %s %s --shots %s; echo panel-ended $?; sleep 60" % (
            shlex.quote(sys.executable), shlex.quote(PANEL), shlex.quote(shots))
        subprocess.run(self.tmux + ["new-session", "-d", "-s", "panel", "-x", "120", "-y", "40",
                                    command], check=True)
        self.assertIn("Screenshots (s) go to: %s/" % shots, self.wait_screen("Ready.", 90))
        # The probe mirrors the red button on the lamp. Held (R) until the
        # probe's window is up and has lit the lamp, then a second more: a dash.
        self.keys("R")
        self.wait_screen("LIT", 30)
        time.sleep(1)
        self.keys("R")
        self.wait_screen("Morse seen: - T")

        self.keys("s")
        screen = self.wait_screen("Screenshot saved: ")
        names = os.listdir(shots)
        self.assertEqual(len(names), 1, names)
        path = os.path.join(shots, names[0])
        self.assertIn("Last screenshot: " + path, screen)
        with open(path, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")

        self.keys("q")
        screen = self.wait_screen("panel-ended", 40)
        self.assertIn("Exit code: 0", screen)
        self.assertIn("Signs seen: - T", screen)
        self.assertIn("panel-ended 0", screen)


if __name__ == "__main__":
    unittest.main()
