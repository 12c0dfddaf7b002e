"""The readers the end-to-end tests rely on: a fault here would make the
exhibit's tests pass or fail for the wrong reason."""

import os
import subprocess
import tempfile
import unittest

from exhibit_reading import Screen, character, decode

FONT = "/usr/share/fonts/truetype/liberation/LiberationSans-Italic.ttf"


def keyed(codes, dot, dash, silence, pause, late=0.0, start=100.0):
    """The pulses a sign line gives for `codes`, each duration `late` seconds
    longer than asked (timers are late, never early)."""
    pulses, t = [], start
    for code in codes:
        for symbol in code:
            length = (dot if symbol == "." else dash) / 1000 + late
            pulses.append((t, t + length))
            t += length + silence / 1000 + late
        t += pause / 1000
    return pulses


class DecodeTest(unittest.TestCase):
    def test_signs_read_back_through_lateness(self):
        cases = [
            # codes, dot, dash, silence, pause between signs, lateness (s)
            ([".-"], 150, 450, 150, 0, 0.0),
            (["-----", "....."], 100, 300, 100, 1000, 0.03),
            (["-", ".", ".--."], 150, 450, 150, 3000, 0.06),
            (["..---"], 200, 600, 200, 0, 0.1),
        ]
        for codes, dot, dash, silence, pause, late in cases:
            with self.subTest(codes=codes, late=late):
                pulses = keyed(codes, dot, dash, silence, pause, late)
                self.assertEqual(decode(pulses, dot, dash, silence), codes)

    def test_an_open_pulse_is_left_out_and_unknown_codes_have_no_character(self):
        pulses = keyed(["..."], 100, 300, 100, 0) + [(200.0, None)]
        self.assertEqual(decode(pulses, 100, 300, 100), ["..."])
        self.assertEqual(character("..."), "S")
        self.assertIsNone(character("......"))

    def test_a_stall_splits_a_sign_unless_the_sign_gap_allows_for_it(self):
        pulses = keyed(["-.-"], 150, 600, 200, 0)
        stalled = pulses[:1] + [(up + 0.4, down + 0.4) for up, down in pulses[1:]]
        self.assertEqual(decode(stalled, 150, 600, 200), ["-", ".-"])
        self.assertEqual(decode(stalled, 150, 600, 200, sign_gap_ms=1000), ["-.-"])

    def test_equal_dot_and_dash_cannot_be_read(self):
        with self.assertRaises(ValueError):
            decode(keyed(["."], 10, 10, 10, 0), 10, 10, 10)


@unittest.skipUnless(os.path.exists(FONT), "needs fonts-liberation")
class ScreenTest(unittest.TestCase):
    """Synthetic screenshots: a caption bar, then what the exhibit would draw."""

    def picture(self, *draw):
        path = os.path.join(self.tmp.name, "shot%d.png" % len(os.listdir(self.tmp.name)))
        subprocess.run(["convert", "-size", "1280x1024", "xc:white", "-fill", "#3a95f0",
                        "-draw", "rectangle 0,0 1279,22", "-fill", "black", "-font", FONT,
                        *draw, path], check=True)
        return Screen(path)

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def test_pictures_are_told_apart(self):
        lines = "\n".join(["Veuillez presser la touche rouge"] * 9)
        text = self.picture("-pointsize", "50", "-gravity", "northwest",
                            "-annotate", "+4+28", lines)
        small = self.picture("-pointsize", "14", "-gravity", "northwest",
                             "-annotate", "+4+28", lines)
        glyph = self.picture("-pointsize", "900", "-gravity", "north", "-annotate", "+0-120", "W")
        narrow = self.picture("-pointsize", "900", "-gravity", "north", "-annotate", "+0-120", "1")
        blank = self.picture()

        self.assertTrue(text.shows_text_at_left(min_height=400))
        self.assertTrue(small.shows_text_at_left())
        self.assertFalse(small.shows_text_at_left(min_height=400))
        for answer in (glyph, narrow):
            self.assertFalse(answer.shows_text_at_left())
        self.assertIsNone(blank.ink_box())
        self.assertEqual(text.difference(text), 0.0)
        self.assertGreater(text.difference(small), 0.01)
        self.assertAlmostEqual(text.difference(blank), text.ink())


if __name__ == "__main__":
    unittest.main()
