"""Reading the exhibit from the outside, as a visitor would: the Morse signs
from the sign line's pulses, and which picture the screen shows from a
screenshot's pixels. Python 3 stdlib; screenshots are read through
ImageMagick's `convert`."""

import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "wine"))
# The rig owns the sign table and the settings writer; the tests take both from here.
from rig import MORSE, write_settings  # noqa: E402,F401


# ---- Morse ---------------------------------------------------------------------

def split_signs(pulses, silence_ms, sign_gap_ms=None):
    """Groups closed pulses [(t_up, t_down)] (seconds) into signs: a dark gap
    longer than sign_gap_ms (default 2.5 silences, at least 250 ms) starts a
    new sign. An open pulse (t_down None) is left out."""
    gap = (sign_gap_ms if sign_gap_ms is not None else max(250.0, 2.5 * silence_ms)) / 1000.0
    signs = []
    last_down = None
    for up, down in pulses:
        if down is None:
            break
        if last_down is None or up - last_down > gap:
            signs.append([])
        signs[-1].append((up, down))
        last_down = down
    return signs


def code_of(sign, dot_ms, dash_ms):
    """Dots and dashes of one sign's pulses: a mark nearer the dash than the
    dot, on a log scale (lateness stretches short marks the most), is a dash."""
    if not dot_ms < dash_ms:
        raise ValueError("dots and dashes of %d and %d ms cannot be told apart" % (dot_ms, dash_ms))
    limit = (dot_ms * dash_ms) ** 0.5 / 1000.0
    return "".join("-" if down - up > limit else "." for up, down in sign)


def decode(pulses, dot_ms, dash_ms, silence_ms, sign_gap_ms=None):
    """The codes (".-", ...) of the signs keyed in the pulses, oldest first."""
    return [code_of(s, dot_ms, dash_ms) for s in split_signs(pulses, silence_ms, sign_gap_ms)]


def character(code):
    """The letter or digit of a code, or None when it is none."""
    return MORSE.get(code)


# ---- screenshots ---------------------------------------------------------------

class Screen:
    """A screenshot made black and white: ink is any pixel darker than mid-grey.

    Coordinates are screen pixels. The window covers the screen, so the client
    area is the screen less the caption bar and the frame (`top`, `margin`)."""

    def __init__(self, path, top=30, margin=6):
        # Grey, then a hard threshold: anti-aliased text edges count as ink or
        # paper by their darkness, the same way in every shot.
        pgm = subprocess.run(["convert", path, "-colorspace", "Gray", "-threshold", "50%",
                              "-depth", "8", "pgm:-"], capture_output=True, check=True).stdout
        fields = pgm.split(maxsplit=4)
        if fields[0] != b"P5":
            raise ValueError("unexpected image format from convert")
        self.width, self.height = int(fields[1]), int(fields[2])
        self.pixels = fields[4][:self.width * self.height]
        self.top, self.margin = top, margin

    def _rows(self):
        for y in range(self.top, self.height - self.margin):
            start = y * self.width
            yield y, self.pixels[start + self.margin:start + self.width - self.margin]

    def ink_box(self):
        """(x0, y0, x1, y1) around all ink of the client area, or None when blank."""
        x0 = y0 = None
        x1 = y1 = -1
        for y, row in self._rows():
            first = row.find(b"\x00")
            if first < 0:
                continue
            last = row.rfind(b"\x00")
            y0 = y if y0 is None else y0
            y1 = y
            x0 = first if x0 is None else min(x0, first)
            x1 = max(x1, last)
        if y0 is None:
            return None
        return x0 + self.margin, y0, x1 + self.margin, y1

    def ink(self):
        """The share of the client area's pixels that are ink."""
        dark = total = 0
        for _, row in self._rows():
            dark += row.count(b"\x00")
            total += len(row)
        return dark / total

    def difference(self, other):
        """The share of client-area pixels whose ink differs from another shot's."""
        if (self.width, self.height) != (other.width, other.height):
            return 1.0
        differ = total = 0
        for (_, a), (_, b) in zip(self._rows(), other._rows()):
            if a != b:
                differ += sum(1 for p, q in zip(a, b) if p != q)
            total += len(a)
        return differ / total

    def shows_text_at_left(self, min_height=0):
        """Lines of text from the top-left corner, nothing on the right third
        or at the bottom: the instructions or the prompt."""
        box = self.ink_box()
        return (box is not None and box[0] < 0.05 * self.width and box[1] < self.top + 40
                and box[2] < 0.7 * self.width and box[3] < 0.7 * self.height
                and box[3] - box[1] >= min_height)
