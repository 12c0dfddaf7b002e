"""End-to-end tests of the real Windows exe under Wine.

Each test gets its own Xvfb, a fresh clone of the Wine prefix and a virtual
COM1 (wine/rig.py). The machine is shared and Wine's timers are late by a few
milliseconds, so the checks compare shapes and ratios with generous margins,
never tight absolute times.

    python3 -m unittest discover -s tests/e2e -v

QUORIN_EXE names another exe than build/windows/quorin.exe; E2E_SHOTS names
a folder that keeps the screenshots for a person to look at.
"""

import os
import shutil
import statistics
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "wine"))
import rig  # noqa: E402
from exhibit_reading import Screen, character, decode, split_signs, write_settings  # noqa: E402

EXE = os.environ.get("QUORIN_EXE") or os.path.join(REPO, "build", "windows", "quorin.exe")
SAMPLE_INI = os.path.join(REPO, "config", "quorin.ini")
TITLE = "QUORIN et le MORSE"
POLL = 0.2           # the exhibit reads its buttons every 200 ms
TAP = 0.5            # a press held over two polls is always seen
SLACK = 1.0          # room for a loaded machine on top of any expected time
STAMP = 0.01         # Wine stamps its trace rows in whole milliseconds

# The start of each screen's text, as Wine's DrawText trace shows it.
INSTRUCTIONS = "Veuillez presser la touche rouge \n"
PROMPT = "Pour r\u00e9p\u00e9ter le signe \n"
DT_CENTER_VCENTER = 0x5  # the answer's flags: centred in the client area


def setUpModule():
    if not os.path.isfile(EXE):
        raise RuntimeError("no exe at %s: build it with cmake --preset windows && "
                           "cmake --build --preset windows" % EXE)
    missing = [t for t in ("wine", "Xvfb", "xdotool", "convert") if not shutil.which(t)]
    if missing:
        raise RuntimeError("missing tools: " + ", ".join(missing))


class ExhibitTestCase(unittest.TestCase):
    """Starts the exe on its own rig; keeps the rig's tidying for the end."""

    # Dot, dash and silence (ms), and the dark gap that ends a sign: well
    # above a silence, since a loaded machine can stall Wine for 250 ms.
    timing = (150, 600, 200)
    sign_gap_ms = 1000

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="quorin-e2e-")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def start(self, settings=None, ini=None, port="virtual", wine_debug=None):
        """Starts the exe with `settings` (a dict), a settings file, or none."""
        if settings is not None:
            ini = write_settings(os.path.join(self.tmp, "quorin.ini"), settings)
        r = rig.Rig(port=port, ini=ini, xvfb=True, wine_debug=wine_debug)
        self.addCleanup(r.close)
        r.start(EXE)
        return r

    def shot(self, r, name):
        """A screenshot, kept in E2E_SHOTS when that is set."""
        folder = os.environ.get("E2E_SHOTS") or self.tmp
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "%s-%s.png" % (self.id().rsplit(".", 1)[-1], name))
        return Screen(r.screenshot(path))

    def tap(self, r, button):
        """Presses a button for TAP seconds; returns the moment it went down."""
        t = r.press(button)
        time.sleep(TAP)
        r.release(button)
        return t

    def wait_signs(self, r, since, count=1, quiet=1.0, timeout=15):
        """The RTS pulses since `since`, once `count` signs have been keyed and
        the line has then stayed down for `quiet` seconds."""
        def done():
            pulses = r.pulses("RTS", since=since)
            if not pulses or pulses[-1][1] is None:
                return None
            if time.monotonic() - pulses[-1][1] < quiet:
                return None
            return pulses if self.signs_in(pulses) >= count else None
        return rig.wait_until(done, timeout, "%d sign(s) on RTS" % count)

    def signs_in(self, pulses):
        return len(self.decode(pulses))

    def decode(self, pulses):
        return decode(pulses, *self.timing, sign_gap_ms=self.sign_gap_ms)

    def assert_sign_shape(self, pulses, code):
        """Each mark and silence of one sign at least as long as configured
        (timers come late, never early), and at most a stall longer."""
        dot, dash, silence = (v / 1000 for v in self.timing)
        stall = 0.4
        for (up, down), symbol in zip(pulses, code):
            nominal = dot if symbol == "." else dash
            self.assertTrue(0.95 * nominal <= down - up <= nominal + stall,
                            "mark %s of %.0f ms in %s" % (symbol, (down - up) * 1000, code))
        for (_, down), (up, _) in zip(pulses, pulses[1:]):
            self.assertTrue(0.95 * silence <= up - down <= silence + stall,
                            "silence of %.0f ms in %s" % ((up - down) * 1000, code))

    def close(self, r):
        self.assertEqual(r.close_window(TITLE, timeout=15), 0)

    def wait_box_gone(self, r, box):
        rig.wait_until(lambda: box.xid not in r.windows(), 10, "the box to go away")


class VisitTest(ExhibitTestCase):
    """The road of one visit."""

    hold = 3.0

    def start_visit(self, wine_debug=None):
        dot, dash, silence = self.timing
        return self.start({"DUREE_POINT": dot, "DUREE_TRAIT": dash, "DUREE_SILENCE": silence,
                           "DUREE_INACTIF": 120000, "DUREE_INTER_SIGNAL_AUTO": 3000,
                           "MORSE_AUTO": 1, "DUREE_AFF_LETTRE": int(self.hold * 1000)},
                          wine_debug=wine_debug)

    def play_a_sign(self, r):
        """Red, then the drawn sign: returns its code and its pulses."""
        t_red = self.tap(r, "red")
        pulses = self.wait_signs(r, t_red)
        codes = self.decode(pulses)
        self.assertEqual(len(codes), 1, pulses)
        self.assertIsNotNone(character(codes[0]), codes)
        self.assertLess(pulses[0][0] - t_red, POLL + SLACK)
        self.assert_sign_shape(pulses, codes[0])
        return codes[0], pulses

    def test_red_blue_green(self):
        r = self.start_visit()
        r.find_window(TITLE)
        time.sleep(0.5)
        instructions = self.shot(r, "instructions")
        self.assertTrue(instructions.shows_text_at_left(min_height=400))

        code, _ = self.play_a_sign(r)
        prompt = self.shot(r, "prompt")
        self.assertTrue(prompt.shows_text_at_left(min_height=400))
        self.assertGreater(prompt.difference(instructions), 0.02)

        t_blue = self.tap(r, "blue")
        again = self.wait_signs(r, t_blue)
        self.assertEqual(self.decode(again), [code])
        self.assert_sign_shape(again, code)
        self.assertLess(self.shot(r, "replay").difference(prompt), 0.001)

        # The answer holds the thread; the instructions come back after it.
        t_green = self.tap(r, "green")
        back = rig.wait_until(
            lambda: self.shot(r, "after-answer").difference(instructions) < 0.001 and time.monotonic(),
            self.hold + POLL + 2 * SLACK + 2, "the instructions again", interval=0.1)
        self.assertGreater(back - t_green, self.hold)
        self.assertEqual(r.pulses("RTS", since=t_blue), again)  # green keys nothing

        # Back in Idle: red plays a new sign.
        self.play_a_sign(r)
        self.close(r)

    def test_answer_of_the_sign_is_drawn_for_its_hold(self):
        # Read from Wine's DrawText trace, not from screenshots: Wine draws
        # into an off-screen copy of the window and puts it on X only when the
        # thread waits for messages. The answer is drawn and then held with
        # Sleep inside its paint, so under Wine the screen keeps the prompt
        # for the whole hold and goes straight to the instructions.
        r = self.start_visit(wine_debug="+text")
        r.find_window(TITLE)
        first = rig.wait_until(lambda: self.drawn(r.text_draws(), INSTRUCTIONS), 10,
                               "the instructions")

        # Red: the prompt, drawn once, and its paint starts the sign.
        before_red = len(r.text_draws())
        code, pulses = self.play_a_sign(r)
        prompts = [d for d in r.text_draws()[before_red:] if d.text.startswith(PROMPT)]
        self.assertEqual(len(prompts), 1, prompts)
        self.assertLess(prompts[0].t, pulses[0][0] + STAMP)

        # Green: one character, the sign's, centred; the instructions again
        # once it has been held, and nothing on the sign line.
        before_green = len(r.text_draws())
        t_green = self.tap(r, "green")
        rig.wait_until(lambda: self.drawn(r.text_draws()[before_green:], INSTRUCTIONS),
                       self.hold + POLL + 2 * SLACK, "the instructions again")
        draws = r.text_draws()[before_green:]
        answers = [d for d in draws if d.flags == DT_CENTER_VCENTER]
        self.assertEqual([(d.text, d.count) for d in answers], [(character(code), 1)], draws)
        answer, back = answers[0], self.drawn(draws, INSTRUCTIONS)
        self.assertLess(draws.index(answer), draws.index(back))
        self.assertTrue(t_green - STAMP < answer.t < t_green + POLL + SLACK, answer.t - t_green)
        self.assertTrue(self.hold - STAMP < back.t - answer.t < self.hold + SLACK,
                        back.t - answer.t)
        self.assertEqual((back.text, back.count, back.rect), (first.text, first.count, first.rect))
        self.assertEqual(r.pulses("RTS", since=t_green), [])
        self.close(r)

    @staticmethod
    def drawn(draws, start):
        """The first of the draws whose text starts with `start`, or None."""
        return next((d for d in draws if d.text.startswith(start)), None)


class AttractTest(ExhibitTestCase):
    timing = (100, 400, 100)
    sign_gap_ms = 600   # the pause between signs is 1 s
    # Inactivity counts from the red edge, and the red's sign plays meanwhile:
    # idle + pause must outlast the longest sign ("0", 2.5 s here) by more than
    # a sign gap, or the attract sign that follows runs into it.
    idle = 2.5
    pause = 1.0

    def test_signs_come_by_themselves_until_red(self):
        dot, dash, silence = self.timing
        r = self.start({"DUREE_POINT": dot, "DUREE_TRAIT": dash, "DUREE_SILENCE": silence,
                        "DUREE_INACTIF": int(self.idle * 1000),
                        "DUREE_INTER_SIGNAL_AUTO": int(self.pause * 1000),
                        "MORSE_AUTO": 1, "DUREE_AFF_LETTRE": 1000})
        t_start = time.monotonic()
        r.find_window(TITLE)
        pulses = self.wait_signs(r, t_start, count=3, quiet=0.5, timeout=30)
        codes = self.decode(pulses)
        self.assertTrue(all(character(c) for c in codes), codes)
        # The first after the inactivity period and a pause, then a pause
        # after each sign's closing silence.
        self.assertGreater(pulses[0][0] - t_start, self.idle + self.pause)
        self.assertLess(pulses[0][0] - t_start, self.idle + self.pause + 5 * SLACK)
        signs = split_signs(pulses, silence, self.sign_gap_ms)
        ends = [p[-1][1] for p in signs]
        starts = [p[0][0] for p in signs]
        for end, start in zip(ends, starts[1:]):
            self.assertTrue(0.9 * (silence / 1000 + self.pause) < start - end
                            < silence / 1000 + self.pause + SLACK, (end, start))
        self.assertTrue(self.shot(r, "attract").shows_text_at_left(min_height=400))

        # Red, in the pause after a sign: the pending attract sign never
        # comes; the red's own sign plays, and the attract mode starts again
        # only after a whole inactivity period and a pause.
        self.wait_signs(r, t_start, count=len(codes) + 1, quiet=0.3, timeout=10)
        t_red = self.tap(r, "red")
        after_red = split_signs(self.wait_signs(r, t_red, count=2, quiet=0.3, timeout=15), silence,
                                self.sign_gap_ms)
        self.assertLess(after_red[0][0][0] - t_red, POLL + SLACK)
        restart = after_red[1][0][0] - t_red
        self.assertTrue(self.idle + self.pause < restart < self.idle + self.pause + POLL + SLACK,
                        restart)
        self.close(r)


class NoSettingsTest(ExhibitTestCase):
    def test_runs_with_every_value_zero(self):
        r = self.start(ini=None)
        r.find_window(TITLE)
        time.sleep(1)
        self.assertEqual(r.message_boxes(), [])
        instructions = self.shot(r, "instructions")
        self.assertTrue(instructions.shows_text_at_left(min_height=400))
        self.assertEqual(r.line_events(), [])

        # Marks and silences of 0 ms: the platform's shortest timer.
        t_red = self.tap(r, "red")
        time.sleep(1)
        pulses = r.pulses("RTS", since=t_red)
        self.assertTrue(pulses and all(down is not None for _, down in pulses), pulses)
        self.assertLess(statistics.median(down - up for up, down in pulses), 0.05, pulses)
        self.assertGreater(self.shot(r, "prompt").difference(instructions), 0.02)

        # No hold: the instructions come back at once.
        t_green = self.tap(r, "green")
        back = rig.wait_until(
            lambda: self.shot(r, "back").difference(instructions) < 0.001 and time.monotonic(),
            POLL + 2 * SLACK + 2, "the instructions again", interval=0.1)
        self.assertLess(back - t_green, POLL + 2 * SLACK)
        self.close(r)


class NoPortTest(ExhibitTestCase):
    def test_warning_pause_then_instructions(self):
        r = self.start(ini=SAMPLE_INI, port="missing")
        box = r.wait_message_box("error opening serial port", timeout=30)
        self.assertEqual(box.texts, ["error opening serial port"])
        self.assertEqual(r.windows("^%s$" % TITLE), [])  # the box comes before the window
        self.shot(r, "box")
        time.sleep(1)  # the pause follows the dismissal, however long the box stays
        t_dismiss = time.monotonic()
        r.dismiss_box(box)
        r.find_window(TITLE, timeout=20)
        shown = time.monotonic()
        self.assertGreater(shown - t_dismiss, 5.0)
        self.assertLess(shown - t_dismiss, 5.0 + 4 * SLACK)

        # Every poll fails: one warning for the whole run of failures.
        failed = r.wait_message_box("GetCommModemStatus failed")
        r.dismiss_box(failed)
        self.wait_box_gone(r, failed)
        time.sleep(2)
        self.assertEqual(r.message_boxes(), [])

        # The instructions, in the default font since the fonts were never made.
        screen = self.shot(r, "instructions")
        self.assertTrue(screen.shows_text_at_left())
        box = screen.ink_box()
        self.assertLess(box[3] - box[1], 300)
        r.click("left")  # no port: nothing happens, nothing is shown
        time.sleep(1)
        self.assertEqual(r.message_boxes(), [])
        self.close(r)


class CloseTest(ExhibitTestCase):
    def test_lines_stay_as_they_were(self):
        # Every mark lasts 3 s, so the window closes in the middle of one.
        r = self.start({"DUREE_POINT": 3000, "DUREE_TRAIT": 3000, "DUREE_SILENCE": 3000,
                        "DUREE_INACTIF": 60000, "DUREE_INTER_SIGNAL_AUTO": 3000,
                        "MORSE_AUTO": 0, "DUREE_AFF_LETTRE": 1000})
        xid = r.find_window(TITLE)
        for button, level in (("left", True), ("right", False), ("left", True)):
            before = len(r.line_events())
            r.click(button, xid=xid)
            rig.wait_until(lambda: len(r.line_events()) > before, 5, "a DTR change")
            self.assertEqual(r.level("DTR"), level)
        t_red = self.tap(r, "red")
        r.wait_line("RTS", True, timeout=POLL + 2 * SLACK, after=t_red)
        self.assertTrue(r.level("RTS"))

        t_close = time.monotonic()
        self.close(r)
        time.sleep(0.5)
        events = r.line_events()
        self.assertEqual([e for e in events if e.t > t_close], [])
        self.assertTrue(events[-1].rts and events[-1].dtr, events[-1])


if __name__ == "__main__":
    unittest.main()
