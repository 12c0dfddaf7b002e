"""The Wine rig end to end, proved with the probe exe: the probe reads and drives
COM1 exactly as the exhibit does, so what it sees is what the exhibit will see."""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import rig  # noqa: E402

NEEDED = ("wine", "wineserver", "Xvfb", "xdotool", "import", "x86_64-w64-mingw32-gcc")
MISSING = [tool for tool in NEEDED if not shutil.which(tool)]
TITLE = "QUORIN et le MORSE"


def status_lines(output):
    return [line.split(" ", 1)[1] for line in output.splitlines() if line.startswith("t=")]


@unittest.skipIf(MISSING, "missing tools: %s" % ", ".join(MISSING))
class VirtualPortTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.ini = tempfile.NamedTemporaryFile("w", suffix=".ini", delete=False)
        cls.ini.write("[MORSE]\r\nDUREE_POINT=150\r\nMORSE_AUTO=1\r\n")
        cls.ini.close()
        cls.rig = rig.Rig(ini=cls.ini.name, xvfb=True, trace=True)

    @classmethod
    def tearDownClass(cls):
        cls.rig.close()
        os.unlink(cls.ini.name)

    def test_status_follows_the_driven_inputs(self):
        r = self.rig
        r.set_inputs(CTS=False, DSR=False, DCD=False, RI=False)
        r.start(rig.PROBE, ["open", "watch", "20", "150", "exit", "3"])
        steps = [
            ({"red": True}, "status 0x20 CTS=0 DSR=1 RING=0 RLSD=0"),
            ({"blue": True}, "status 0xa0 CTS=0 DSR=1 RING=0 RLSD=1"),
            ({"red": False, "blue": False, "green": True}, "status 0x10 CTS=1 DSR=0 RING=0 RLSD=0"),
            ({"green": False, "RI": True}, "status 0x40 CTS=0 DSR=0 RING=1 RLSD=0"),
            ({"RI": False}, "status 0x00 CTS=0 DSR=0 RING=0 RLSD=0"),
        ]
        rig.wait_until(lambda: "status" in r.output(), 20, "the first status read")
        for levels, _ in steps:
            r.set_inputs(**levels)
            time.sleep(0.3)
        self.assertEqual(r.wait_exit(20), 3)
        seen = status_lines(r.output())
        self.assertEqual(seen, ["status 0x00 CTS=0 DSR=0 RING=0 RLSD=0"] + [s for _, s in steps])

    def test_line_drives_are_logged_in_order_with_times(self):
        r = self.rig
        before = time.monotonic()
        code, out = r.run(rig.PROBE, ["open", "rts", "1", "sleep", "300", "dtr", "1", "rts", "0",
                                      "sleep", "200", "dtr", "0", "close", "exit", "5"])
        after = time.monotonic()
        self.assertEqual(code, 5, out)
        events = [e for e in r.line_events() if e.t > before]
        self.assertEqual([(e.rts, e.dtr) for e in events],
                         [(True, False), (True, True), (False, True), (False, False)])
        self.assertLess(events[-1].t, after)
        self.assertAlmostEqual(events[1].t - events[0].t, 0.3, delta=0.1)
        self.assertAlmostEqual(events[3].t - events[2].t, 0.2, delta=0.1)
        self.assertEqual(r.pulses("RTS", since=before), [(events[0].t, events[2].t)])
        # Opening and closing the port leave the lines alone; each drive is one
        # read-modify-write.
        trace = [row.split()[2] for row in r.trace_lines() if float(row.split()[0]) > before]
        self.assertEqual(trace.count("TIOCMSET"), 4)
        self.assertEqual(trace.count("TIOCMGET"), 4)

    def test_window_mouse_screen_and_close(self):
        r = self.rig
        r.set_inputs(red=False)
        r.start(rig.PROBE, ["window", TITLE, "exit", "7"])
        xid = r.find_window(TITLE)
        x, y, w, h = r.window_geometry(xid)
        self.assertEqual((x, y, w, h), (0, 0) + r.screen_size())
        # The probe mirrors DSR on RTS at its 200 ms poll: the red button lights the lamp.
        rig.wait_until(lambda: "status" in r.output(), 20, "the first poll")
        pressed = r.press("red")
        lit = r.wait_line("RTS", True, timeout=3, after=pressed)
        self.assertLess(lit - pressed, 0.5)
        r.release("red")
        r.wait_line("RTS", False, timeout=3, after=lit)
        r.click("left")
        up = r.wait_line("DTR", True, timeout=3)
        r.click("right")
        r.wait_line("DTR", False, timeout=3, after=up)
        shot = r.screenshot(os.path.join(r.workdir, "window.png"))
        with open(shot, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        self.assertEqual(r.close_window(TITLE), 7)
        self.assertIn("destroy", r.output())

    def test_prefix_settings(self):
        code, out = self.rig.run(rig.PROBE, ["font", "ini", "DUREE_POINT", "ini", "DUREE_TRAIT"])
        self.assertEqual(code, 0, out)
        self.assertIn("ini DUREE_POINT=150", out)
        self.assertIn("ini DUREE_TRAIT=<none>", out)
        # The exhibit's "Arial Italic" comes out as Liberation Sans Italic.
        self.assertRegex(out, r'font face="Arial Italic" full="[^"]*Liberation Sans Italic" '
                              r'height=60 weight=400 italic=[1-9]')


@unittest.skipIf(MISSING, "missing tools: %s" % ", ".join(MISSING))
class MissingPortTest(unittest.TestCase):
    def test_open_fails_and_the_box_is_seen_and_dismissed(self):
        with rig.Rig(port="missing", xvfb=True) as r:
            code, out = r.run(rig.PROBE, ["open", "status", "exit", "2"])
            self.assertEqual(code, 2)
            self.assertIn("open failed error=5", out)  # ERROR_ACCESS_DENIED
            self.assertIn("status failed", out)

            r.start(rig.PROBE, ["window", TITLE])
            box = r.wait_message_box()
            self.assertEqual(box.texts, ["error opening serial port"])
            self.assertIsNotNone(box.xid)
            self.assertEqual(r.windows("^" + TITLE + "$"), [])  # the box comes first
            r.dismiss_box(box)
            r.find_window(TITLE)
            self.assertEqual(r.message_boxes(), [])
            self.assertEqual(r.close_window(TITLE), 0)
            self.assertIn("window closed", r.output())
            self.assertEqual(r.line_events(), [])


@unittest.skipIf(MISSING, "missing tools: %s" % ", ".join(MISSING))
class DrawTraceTest(unittest.TestCase):
    def test_draws_come_with_their_text_and_a_time_on_the_line_clock(self):
        with rig.Rig(xvfb=True, wine_debug="+text") as r:
            r.start(rig.PROBE, ["window", TITLE])
            r.find_window(TITLE)
            rig.wait_until(lambda: "status" in r.output(), 20, "the first poll")
            rig.wait_until(lambda: any("DSR=0" in d.text for d in r.text_draws()), 10,
                           "the first paint")
            before = len(r.text_draws())
            pressed = r.press("red")
            lit = r.wait_line("RTS", True, timeout=3, after=pressed)
            # The probe raises RTS and then repaints with the new status.
            draw = rig.wait_until(
                lambda: next((d for d in r.text_draws()[before:] if "Rouge DSR=1" in d.text), None),
                5, "the repaint")
            self.assertTrue(draw.text.startswith("Gr\u00e9en CTS=0\nRouge DSR=1\n"), draw.text)
            self.assertEqual(draw.count, len(draw.text))
            self.assertEqual(draw.flags, 0x4)  # DT_VCENTER
            self.assertEqual(draw.rect[:2], (0, 0))  # the client area
            # Wine's millisecond stamp, on the clock of the line log.
            self.assertGreater(draw.t, lit - 0.002)
            self.assertLess(draw.t, lit + 0.2)
            self.assertEqual(r.close_window(TITLE), 0)

    def test_text_draws_needs_the_channel(self):
        with rig.Rig(xvfb=True) as r:
            self.assertEqual(r.env["WINEDEBUG"], "-all")
            with self.assertRaises(rig.RigError):
                r.text_draws()


@unittest.skipIf(MISSING, "missing tools: %s" % ", ".join(MISSING))
class StartupTest(unittest.TestCase):
    def test_message_boxes_right_after_start(self):
        # When the helper behind message_boxes() was the prefix's first Wine
        # process, the services it started kept its output open and the call
        # waited for the program to end (2 starts in 6). A few fresh starts in a row.
        with rig.Rig(xvfb=True) as r:
            for _ in range(3):
                started = time.monotonic()
                r.start(rig.PROBE, ["window", TITLE])
                self.assertEqual(r.message_boxes(), [])
                self.assertLess(time.monotonic() - started, 15)
                self.assertEqual(r.close_window(TITLE), 0)
                # End the prefix's server, so that the next start is a first one again.
                subprocess.run(["wineserver", "-k"], env=r.env, timeout=30, check=True)


class DrawTraceRowTest(unittest.TestCase):
    def test_rows(self):
        offset = rig.wine_clock_offset()
        cases = [
            ('3959.928:0020:0024:trace:text:DrawTextExW L"Veuillez \\00e9 \\"x\\\\\\n'
             'y\\00e0z"..., 267, [(0,0)-(1272,997)] 00000004',
             (3959.928, 0x20, 0x24, 'Veuillez \u00e9 "x\\\ny\u00e0z', 267, (0, 0, 1272, 997), 4)),
            ('  5.494:0020:0024:trace:text:DrawTextExW L"G", 1, [(0,-3)-(10,20)] 00000005',
             (5.494, 0x20, 0x24, "G", 1, (0, -3, 10, 20), 5)),
            ('0024:trace:text:DrawTextExW L"a\\\\00e9", 5, [(nil)] 00000824',
             (None, None, 0x24, "a\\00e9", 5, None, 0x824)),
        ]
        for row, (stamp, pid, tid, text, count, rect, flags) in cases:
            with self.subTest(row=row):
                d = rig.parse_text_draw(row, offset)
                self.assertEqual((d.pid, d.tid, d.text, d.count, d.rect, d.flags),
                                 (pid, tid, text, count, rect, flags))
                if stamp is None:
                    self.assertIsNone(d.t)
                else:
                    self.assertAlmostEqual(d.t, stamp + offset, places=6)
        for row in ('3959.928:0020:0024:trace:text:DrawTextExW Params: iTabLength=0',
                    '0024:fixme:text:DrawTextExW L"x", 1, [(0,0)-(1,1)] 00000000', ""):
            self.assertIsNone(rig.parse_text_draw(row, offset), row)


class RegistryFileTest(unittest.TestCase):
    REG = (
        "WINE REGISTRY Version 2\n"
        ";; All keys relative to \\\\Machine\n"
        "\n"
        "[Software\\\\Wine\\\\Ports] 1796987417\n"
        "#time=1dd8960340bd90a\n"
        "\"COM1\"=\"/dev/ttyS0\"\n"
        "\"COM2\"=\"/dev/ttyS1\"\n"
        "\n"
        "[Software\\\\Wine\\\\Portsmouth] 1796987417\n"
        "\"COM1\"=\"elsewhere\"\n"
    )

    def setUp(self):
        fd, self.path = tempfile.mkstemp(suffix=".reg")
        with os.fdopen(fd, "w") as f:
            f.write(self.REG)

    def tearDown(self):
        os.unlink(self.path)

    def read(self):
        with open(self.path) as f:
            return f.read()

    def test_replaces_the_value_of_the_right_key_only(self):
        rig.set_reg_value(self.path, r"Software\Wine\Ports", "COM1", "/dev/pts/7")
        text = self.read()
        self.assertIn("#time=1dd8960340bd90a\n\"COM1\"=\"/dev/pts/7\"\n\"COM2\"=\"/dev/ttyS1\"\n", text)
        self.assertEqual(text.count("\"COM1\"="), 2)
        self.assertIn("\"COM1\"=\"elsewhere\"", text)

    def test_adds_a_missing_key_with_escaped_value(self):
        rig.set_reg_value(self.path, r"Software\Wine\Fonts\Replacements", "Arial Italic",
                          "C:\\odd \"name\"")
        self.assertRegex(self.read(), r'\n\[Software\\\\Wine\\\\Fonts\\\\Replacements\] \d+\n'
                                      r'"Arial Italic"="C:\\\\odd \\"name\\""\n')


if __name__ == "__main__":
    unittest.main()
