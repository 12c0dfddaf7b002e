#!/usr/bin/env python3
"""Button panel: play with the exhibit under Wine from a terminal.

    python3 wine/panel.py [EXE] [--ini FILE] [--port virtual|missing|/dev/ttyS0] [--shots DIR]

Starts EXE (without one, the rig's probe in its exhibit-like window mode) on a
virtual COM1 and lets you press the red, blue and green buttons with keys. It
shows the sign line (RTS) as a lamp, DTR, and the Morse read off the lamp.
Without --ini it writes a settings file with comfortable timings. Without a
DISPLAY, the screen is a hidden Xvfb: press s for a screenshot, saved in
build/screenshots/ (or --shots DIR).

With --port naming a real serial device, the buttons are the real ones: the
panel only shows the lines it can read from the device.
"""

import argparse
import curses
import fcntl
import os
import re
import struct
import sys
import tempfile
import termios
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import rig  # noqa: E402

SHOTS = os.path.join(os.path.dirname(HERE), "build", "screenshots")

TITLE = "QUORIN et le MORSE"
TAP_SECONDS = 0.5  # longer than the exhibit's 200 ms poll, so a tap is always seen

DEFAULT_SETTINGS = {
    "DUREE_POINT": 200,
    "DUREE_TRAIT": 600,
    "DUREE_SILENCE": 200,
    "DUREE_INACTIF": 60000,
    "DUREE_INTER_SIGNAL_AUTO": 3000,
    "MORSE_AUTO": 1,
    "DUREE_AFF_LETTRE": 3000,
}


BUTTON_KEYS = {"r": "red", "b": "blue", "g": "green"}
LINE_OF = {"red": "DSR", "blue": "RLSD", "green": "CTS"}


def read_settings(path):
    """The integer values of section MORSE, enough to time the Morse reader."""
    values, section = {}, None
    with open(path, encoding="latin-1") as f:
        for row in f:
            row = row.strip()
            if row.startswith("[") and row.endswith("]"):
                section = row[1:-1].strip().upper()
            elif section == "MORSE" and "=" in row:
                key, value = row.split("=", 1)
                digits = value.strip()[:9]
                try:
                    values[key.strip().upper()] = int(digits.split()[0]) if digits else 0
                except ValueError:
                    values[key.strip().upper()] = 0
    return values


class MorseReader:
    """Turns RTS edges into dots, dashes and signs."""

    def __init__(self, dot_ms=None, dash_ms=None, silence_ms=None):
        self.threshold = (dot_ms + dash_ms) / 2000 if dot_ms and dash_ms else None
        silence = (silence_ms or 200) / 1000
        self.sign_gap = max(0.3, 2.5 * silence)
        self.shortest = None
        self.current = ""
        self.signs = []  # decoded codes, oldest first
        self.up_at = None
        self.down_at = None

    def basis(self):
        if self.threshold:
            return "dash when lit over %d ms" % (self.threshold * 1000)
        return "dash when lit over twice the shortest flash"

    def edge(self, t, lit):
        if lit and self.up_at is None:
            self.up_at = t
        elif not lit and self.up_at is not None:
            length = t - self.up_at
            self.up_at = None
            self.down_at = t
            self.shortest = length if self.shortest is None else min(self.shortest, length)
            limit = self.threshold or 2 * self.shortest
            self.current += "-" if length > limit else "."

    def tick(self, now):
        """Ends the sign once the lamp has stayed dark for a while."""
        if self.current and self.up_at is None and now - self.down_at > self.sign_gap:
            self.signs.append(self.current)
            self.current = ""

    @staticmethod
    def letter(code):
        return rig.MORSE.get(code, "?")


class BoxWatcher(threading.Thread):
    """Looks for message boxes in the background: each look runs a Wine process."""

    def __init__(self, the_rig):
        super().__init__(daemon=True)
        self.rig = the_rig
        self.boxes = []
        self.error = None
        self.stop = threading.Event()

    def run(self):
        while not self.stop.is_set():
            try:
                self.boxes = self.rig.message_boxes()
                self.error = None
            except Exception as e:  # retried at the next round; shown meanwhile
                self.error = e
            self.stop.wait(1.5)


class RealLines:
    """The levels of a real serial device's lines, read beside the program."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOCTTY)

    def read(self):
        try:
            bits = struct.unpack("i", fcntl.ioctl(self.fd, termios.TIOCMGET, bytes(4)))[0]
        except OSError:
            return None
        return {"RTS": bool(bits & termios.TIOCM_RTS), "DTR": bool(bits & termios.TIOCM_DTR),
                "CTS": bool(bits & termios.TIOCM_CTS), "DSR": bool(bits & termios.TIOCM_DSR),
                "RLSD": bool(bits & termios.TIOCM_CAR), "RI": bool(bits & termios.TIOCM_RNG)}

    def close(self):
        os.close(self.fd)


class Panel:
    def __init__(self, the_rig, settings, title, real=None, shots=SHOTS):
        self.rig = the_rig
        self.shots_dir = os.path.abspath(shots)
        self.last_shot = None
        self.title = title
        self.real = real
        self.virtual = real is None and the_rig.port == "virtual"
        self.reader = MorseReader(settings.get("DUREE_POINT"), settings.get("DUREE_TRAIT"),
                                  settings.get("DUREE_SILENCE"))
        self.held = set()      # buttons held with the capital key
        self.taps = {}         # button -> release time
        self.ri = False
        self.real_inputs = {}
        self.rts = self.dtr = False
        self.log_offset = 0
        self.message = "Starting the exhibit..."
        self.boxes = BoxWatcher(the_rig)
        self.exit_code = None

    # -- lines --

    def pressed(self):
        return self.held | set(self.taps)

    def push_inputs(self):
        if self.virtual:
            levels = {b: b in self.pressed() for b in LINE_OF}
            self.rig.set_inputs(RI=self.ri, **levels)

    def poll_lines(self, now):
        if self.real is not None:
            levels = self.real.read()
            if levels:
                if levels["RTS"] != self.rts:
                    self.reader.edge(now, levels["RTS"])
                self.rts, self.dtr = levels["RTS"], levels["DTR"]
                self.real_inputs = levels
        elif self.virtual:
            with open(self.rig.log_path) as f:
                f.seek(self.log_offset)
                rows = f.read()
            # Only whole rows: the writer may be half-way through one.
            used = rows.rfind("\n") + 1
            self.log_offset += len(rows[:used].encode())
            for row in rows[:used].splitlines():
                e = rig.parse_line_event(row)
                if e:
                    if e.rts != self.rts:
                        self.reader.edge(e.t, e.rts)
                    self.rts, self.dtr = e.rts, e.dtr
        self.reader.tick(now)

    # -- keys --

    def on_key(self, key, now):
        ch = chr(key) if 0 <= key < 256 else ""
        if ch in BUTTON_KEYS and self.virtual:
            self.taps[BUTTON_KEYS[ch]] = now + TAP_SECONDS
            self.push_inputs()
        elif ch.lower() in BUTTON_KEYS and self.virtual:
            self.held ^= {BUTTON_KEYS[ch.lower()]}
            self.push_inputs()
        elif ch == "i" and self.virtual:
            self.ri = not self.ri
            self.push_inputs()
        elif ch in "12" and ch:
            self.click("left" if ch == "1" else "right")
        elif key in (10, 13, curses.KEY_ENTER):
            boxes = self.boxes.boxes
            if boxes and boxes[0].xid:
                self.rig.dismiss_box(boxes[0])
                self.boxes.boxes = boxes[1:]
                self.message = "Dismissed the box %r." % boxes[0].title
            else:
                self.message = "No message box to dismiss."
        elif ch == "s":
            self.screenshot()
        elif ch in BUTTON_KEYS or ch.lower() in BUTTON_KEYS or ch == "i":
            if self.rig.port == "missing":
                self.message = "COM1 is missing on purpose: there are no buttons to press."
            else:
                self.message = "The buttons are the real ones on this port."

    def screenshot(self):
        os.makedirs(self.shots_dir, exist_ok=True)
        # Named by the time, so that shots of earlier sessions stay.
        stamp = time.strftime("%Y%m%d-%H%M%S")
        path, n = os.path.join(self.shots_dir, "panel-%s.png" % stamp), 1
        while os.path.exists(path):
            n += 1
            path = os.path.join(self.shots_dir, "panel-%s-%d.png" % (stamp, n))
        self.rig.screenshot(path)
        self.last_shot = path
        self.message = "Screenshot saved: " + path

    def click(self, button):
        wins = self.rig.windows("^" + re.escape(self.title) + "$")
        if not wins:
            self.message = "The exhibit window is not there (yet)."
            return
        self.rig.click(button, xid=wins[0])
        self.message = "%s mouse button clicked in the window." % button.capitalize()

    def release_taps(self, now):
        done = [b for b, t in self.taps.items() if t <= now]
        for b in done:
            del self.taps[b]
        if done:
            self.push_inputs()

    # -- screen --

    def draw(self, scr):
        scr.erase()
        h, w = scr.getmaxyx()

        def put(y, x, text, attr=0):
            if 0 <= y < h and x < w:
                scr.addnstr(y, x, text, max(0, w - x - 1), attr)

        state = "running" if self.rig.running() else "exited, code %s" % self.exit_code
        put(0, 0, "Exhibit button panel  -  %s  -  %s" % (self.title, state), curses.A_BOLD)
        put(1, 0, "port: %s" % (self.rig.tty or self.rig.port))
        y = 3
        put(y, 0, "Buttons", curses.A_UNDERLINE)
        colours = {"red": 1, "blue": 2, "green": 3}
        for key, button in (("r", "red"), ("b", "blue"), ("g", "green")):
            y += 1
            if self.real is not None:
                down = self.real_inputs.get(LINE_OF[button], False)
            else:
                down = button in self.pressed()
            how = " (held)" if button in self.held else " (tap)" if button in self.taps else ""
            put(y, 2, "%s / %s" % (key, key.upper()), curses.A_BOLD)
            put(y, 10, "%-5s (%s)" % (button.upper(), LINE_OF[button]),
                curses.color_pair(colours[button]))
            put(y, 26, ("[ PRESSED ]" + how) if down else "[         ]",
                curses.A_REVERSE if down else 0)
        y += 1
        put(y, 2, "i", curses.A_BOLD)
        put(y, 10, "ring (RI)       %s" % ("[ ON ]" if self.ri else "[    ]"))
        y += 2
        put(y, 0, "Sign lamp (RTS): ")
        put(y, 17, "  LIT  " if self.rts else "  off  ",
            curses.color_pair(4) | curses.A_BOLD if self.rts else curses.A_DIM)
        put(y, 28, "DTR: %s" % ("high" if self.dtr else "low"))
        y += 1
        signs = ["%s %s" % (c, self.reader.letter(c)) for c in self.reader.signs[-8:]]
        put(y, 0, "Morse seen: %s  %s" % ("   ".join(signs), self.reader.current + "_"))
        y += 1
        put(y, 0, "            (%s)" % self.reader.basis(), curses.A_DIM)
        y += 2
        for box in self.boxes.boxes:
            put(y, 0, "Message box %r: %s" % (box.title, " / ".join(box.texts)),
                curses.A_BOLD)
            y += 1
        if self.boxes.error:
            put(y, 0, "Looking for message boxes failed: %s" % self.boxes.error)
            y += 1
        if self.last_shot:
            put(y, 0, "Last screenshot: " + self.last_shot)
        else:
            put(y, 0, "Screenshots (s) go to: " + self.shots_dir + os.sep)
        y += 2
        help_rows = [
            "r b g   press the red, blue or green button for half a second",
            "R B G   press and keep pressed; the same key again lets go",
            "1 2     left / right mouse click in the exhibit window (DTR up / down)",
            "Enter   dismiss a message box      s  screenshot      q  quit",
        ]
        for row in help_rows:
            put(y, 0, row)
            y += 1
        put(h - 1, 0, self.message)
        scr.refresh()

    def run(self, scr):
        curses.curs_set(0)
        if curses.has_colors():
            curses.start_color()
            curses.use_default_colors()
            curses.init_pair(1, curses.COLOR_RED, -1)
            curses.init_pair(2, curses.COLOR_BLUE, -1)
            curses.init_pair(3, curses.COLOR_GREEN, -1)
            curses.init_pair(4, curses.COLOR_BLACK, curses.COLOR_YELLOW)
        scr.timeout(50)
        self.boxes.start()
        self.message = "Ready. Press r, b or g."
        while True:
            now = time.monotonic()
            self.release_taps(now)
            self.poll_lines(now)
            if self.exit_code is None and not self.rig.running() and self.rig.proc:
                self.exit_code = self.rig.proc.returncode
                self.message = "The exhibit has ended with exit code %s. q leaves." % self.exit_code
            self.draw(scr)
            key = scr.getch()
            if key == ord("q"):
                break
            if key != -1:
                try:
                    self.on_key(key, time.monotonic())
                except rig.RigError as e:
                    self.message = str(e)
        self.message = "Closing the exhibit window..."
        self.draw(scr)
        self.quit()
        self.boxes.stop.set()

    def quit(self):
        """Closes the window with Alt+F4, dismissing any box that is in the way."""
        deadline = time.monotonic() + 20
        while self.rig.running() and time.monotonic() < deadline:
            wins = self.rig.windows("^" + re.escape(self.title) + "$")
            if wins:
                self.rig.key(wins[0], "alt+F4")
                try:
                    self.exit_code = self.rig.wait_exit(10)
                except rig.RigTimeout:
                    pass
                break
            for box in self.rig.message_boxes():
                if box.xid:
                    self.rig.dismiss_box(box)
            time.sleep(0.5)
        if self.rig.running():
            self.exit_code = "none: it did not close and was killed"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("exe", nargs="?", help="the Windows program (default: the probe)")
    parser.add_argument("--ini", help="settings file (default: comfortable timings)")
    parser.add_argument("--port", default="virtual",
                        help="virtual (default), missing, or a real serial device path")
    parser.add_argument("--title", default=TITLE, help="title of the window to click and close")
    parser.add_argument("--shots", default=SHOTS, help="folder for screenshots (default: %(default)s)")
    args = parser.parse_args()

    ini = args.ini
    tmp = None
    if not ini:
        tmp = tempfile.NamedTemporaryFile("w", suffix=".ini", delete=False)
        tmp.close()
        ini = rig.write_settings(tmp.name, DEFAULT_SETTINGS)
    settings = read_settings(ini)

    print("Preparing Wine (the first time takes about half a minute)...", flush=True)
    real = None
    try:
        with rig.Rig(port=args.port, ini=ini) as the_rig:
            if args.port not in ("virtual", "missing"):
                real = RealLines(args.port)
            if args.exe:
                the_rig.start(args.exe)
            else:
                the_rig.start(rig.PROBE, ["window", args.title])
            panel = Panel(the_rig, settings, args.title, real, args.shots)
            curses.wrapper(panel.run)
            print("Exit code:", panel.exit_code)
            signs = panel.reader.signs
            if signs:
                print("Signs seen:", "  ".join("%s %s" % (c, MorseReader.letter(c)) for c in signs))
    finally:
        if real:
            real.close()
        if tmp:
            os.unlink(tmp.name)


if __name__ == "__main__":
    main()
