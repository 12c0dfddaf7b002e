#!/usr/bin/env python3
"""rig: run a Windows exe under Wine with a virtual COM1 whose modem lines we drive.

The exhibit reads its three buttons from COM1's CTS, DSR and RLSD inputs and keys
the sign device on RTS (DTR follows the mouse). Under Wine, COM1 maps to a Linux
pseudo-terminal; the preloaded library wine/vcom/vcom_preload.so gives that pty
modem lines: the inputs come from a control file this module rewrites, and each
change of RTS or DTR is logged, with a CLOCK_MONOTONIC timestamp, to a file this
module reads. time.monotonic() reads the same clock, so log times and the
moments a test sets a line can be compared directly.

Typical use (Python 3 stdlib only; needs wine, Xvfb, xdotool, imagemagick,
x86_64-w64-mingw32-gcc and gcc for the tools, which are built on first use):

    sys.path.insert(0, "wine"); from rig import Rig

    with Rig(ini="path/to/quorin.ini") as rig:          # Xvfb + fresh prefix + virtual COM1
        rig.start("path/to/quorin.exe")
        rig.find_window("QUORIN et le MORSE")           # X window id, waits for it
        t = rig.press("red"); time.sleep(0.3); rig.release("red")
        rig.wait_line("RTS", True, timeout=2, after=t)  # the sign device lights up
        rig.pulses("RTS", since=t)                      # [(t_up, t_down), ...]
        rig.screenshot("shot.png")
        rig.click("left")                               # DTR goes high
        assert rig.close_window("QUORIN et le MORSE") == 0   # Alt+F4, then the exit code

The rest of the interface:

    Rig(port="missing")           COM1 maps to a directory: CreateFileA("COM1") fails
    Rig(port="/dev/ttyS0")        COM1 is that real device; no virtual lines
    Rig(trace=True)               the log also holds every modem ioctl (trace_lines())
    Rig(wine_debug="+text")       Wine debug channels on top of -all (trace rows go to output())
    rig.text_draws()              [TextDraw(t, pid, tid, text, count, rect, flags)]: every
                                  DrawText the program made (needs wine_debug="+text")
    rig.set_inputs(green=True, RI=False)   several lines at once; buttons or line names
    rig.inputs()                  the asserted input lines
    rig.line_events()             [LineEvent(t, pid, rts, dtr)]: every RTS/DTR change
    rig.level("DTR")              the present level of an output line
    rig.run(exe, args)            start and wait: (exit code, output)
    rig.output(), rig.wait_exit(timeout), rig.running(), rig.proc (the Popen)
    rig.windows(regex), rig.window_geometry(xid), rig.screen_size(), rig.key(xid, "Return")
    rig.wait_message_box(text)    waits for a box; MessageBox(xid, title, texts)
    rig.message_boxes()           the visible boxes now
    rig.dismiss_box(box)          Return to the box (presses its default button)

Every wait takes a timeout and raises RigTimeout when it runs out. Leaving the
`with` block (or close()) kills the prefix's wine processes (wineserver -k), the
Xvfb this rig started and removes the work directory (unless keep=True).

Prefixes: the first Rig builds a template prefix with `wineboot -i` (about 20 s)
in $QUORIN_WINE_CACHE (default ~/.cache/quorin-wine); each Rig then clones it
with hard links (registry files copied) in well under a second and writes its
own settings into the registry files before any wine process starts.

Command line:
    python3 wine/rig.py prefix DIR [--com1 PATH] [--ini FILE]   a prefix for manual use
    python3 wine/rig.py run EXE [--port virtual|missing|DEV] [--ini FILE] [--seconds N]
                            [--wine-debug +text]
"""

import argparse
import collections
import contextlib
import fcntl
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.join(HERE, "build")
PRELOAD = os.path.join(BUILD, "vcom_preload.so")
PROBE = os.path.join(BUILD, "comprobe.exe")

# The input lines by button colour, and the words the preload's control file uses.
BUTTONS = {"green": "CTS", "red": "DSR", "blue": "DCD"}
INPUT_LINES = ("CTS", "DSR", "DCD", "RI")

# The exhibit asks for this face; Wine has no Arial, so name the metric twin.
FONT_REPLACEMENTS = {"Arial Italic": "Liberation Sans"}

BASE_ENV = {
    "WINEDEBUG": "-all",
    # No prompts to install Mono or Gecko: the exhibit needs neither.
    "WINEDLLOVERRIDES": "mscoree,mshtml=",
    "WINEARCH": "win64",
}


class RigError(RuntimeError):
    pass


class RigTimeout(RigError):
    pass


LineEvent = collections.namedtuple("LineEvent", "t pid rts dtr")
MessageBox = collections.namedtuple("MessageBox", "xid title texts")
_LINE_ROW = re.compile(r"(\d+\.\d+) (\d+) LINES RTS=([01]) DTR=([01])$")

# One DrawText call as Wine's +text channel reports it. t: when it was made, on
# the clock of time.monotonic() (None without +timestamp); pid, tid: Wine's
# process and thread ids (pid None without +pid); text: the string as traced,
# which Wine cuts after about 250 characters; count: its whole length in
# characters; rect: (left, top, right, bottom) or None; flags: the DT_* bits.
TextDraw = collections.namedtuple("TextDraw", "t pid tid text count rect flags")
_DRAW_ROW = re.compile(
    r'(?:\s*(\d+)\.(\d{3}):)?(?:([0-9a-f]+):)?([0-9a-f]+):trace:text:DrawTextExW '
    r'L"(.*)"(?:\.\.\.)?, (-?\d+), \[(.*)\] ([0-9a-f]+)$')
_RECT = re.compile(r"\((-?\d+),(-?\d+)\)-\((-?\d+),(-?\d+)\)$")
_WIDE_ESCAPE = re.compile(r"\\(?:([0-9a-fA-F]{4})|(.))")
_TICK_WRAP = 2 ** 32 / 1000.0  # Wine's tick count is 32-bit milliseconds


def _unescape_wide(text):
    """The string inside Wine's L"..." trace notation."""
    def one(m):
        if m.group(1):
            return chr(int(m.group(1), 16))
        return {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(2), m.group(2))
    return _WIDE_ESCAPE.sub(one, text)


def wine_clock_offset():
    """What to add to a Wine trace timestamp to get time.monotonic().

    Wine stamps trace rows with its tick count, which counts milliseconds of
    CLOCK_MONOTONIC_RAW (measured here against the RTS log: within 1 ms).
    That clock drifts from CLOCK_MONOTONIC by NTP's rate correction only, so
    one offset read now serves a whole test."""
    return time.monotonic() - time.clock_gettime(time.CLOCK_MONOTONIC_RAW)


def parse_text_draw(row, offset=None):
    """A TextDraw from one row of Wine's output, or None for other rows.

    offset: the result of wine_clock_offset() (read now when not given)."""
    m = _DRAW_ROW.match(row.rstrip("\r\n"))
    if not m:
        return None
    t = None
    if m.group(1) is not None:
        ticks = int(m.group(1)) + int(m.group(2)) / 1000.0
        raw_now = time.clock_gettime(time.CLOCK_MONOTONIC_RAW)
        # Undo a wrap of the 32-bit tick count (after 49.7 days up).
        ticks += _TICK_WRAP * round((raw_now - ticks) / _TICK_WRAP)
        t = ticks + (wine_clock_offset() if offset is None else offset)
    rect = _RECT.match(m.group(7))
    return TextDraw(t, int(m.group(3), 16) if m.group(3) else None, int(m.group(4), 16),
                    _unescape_wide(m.group(5)), int(m.group(6)),
                    tuple(int(v) for v in rect.groups()) if rect else None, int(m.group(8), 16))


def _channel_on(channels, name):
    """Whether a WINEDEBUG value turns on trace messages of channel `name`."""
    on = False
    for item in channels.split(","):
        m = re.match(r"(\w*)([+-])(\w+)$", item.strip())
        if m and m.group(1) in ("", "trace") and m.group(3) in (name, "all"):
            on = m.group(2) == "+"
    return on


# The exhibit's signs, for reading the sign line back.
MORSE = {
    ".-": "A", "-...": "B", "-.-.": "C", "-..": "D", ".": "E", "..-.": "F", "--.": "G",
    "....": "H", "..": "I", ".---": "J", "-.-": "K", ".-..": "L", "--": "M", "-.": "N",
    "---": "O", ".--.": "P", "--.-": "Q", ".-.": "R", "...": "S", "-": "T", "..-": "U",
    "...-": "V", ".--": "W", "-..-": "X", "-.--": "Y", "--..": "Z", ".----": "1",
    "..---": "2", "...--": "3", "....-": "4", ".....": "5", "-....": "6", "--...": "7",
    "---..": "8", "----.": "9", "-----": "0",
}


def write_settings(path, values):
    """A settings file with section MORSE holding `values`, CR LF line ends."""
    with open(path, "w", newline="") as f:
        f.write("[MORSE]\r\n" + "".join("%s=%d\r\n" % kv for kv in values.items()))
    return path


def parse_line_event(row):
    """A LineEvent from one row of the preload's log, or None for other rows."""
    m = _LINE_ROW.match(row.strip())
    if not m:
        return None
    return LineEvent(float(m.group(1)), int(m.group(2)), m.group(3) == "1", m.group(4) == "1")


def wait_until(predicate, timeout, what, interval=0.05):
    """Polls predicate until it returns something truthy; returns that."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise RigTimeout("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def build_tools():
    """Builds the preload and the probe (make decides what is stale)."""
    r = subprocess.run(["make", "-s", "-C", HERE], capture_output=True, text=True)
    if r.returncode != 0:
        raise RigError("building the rig tools failed:\n" + r.stdout + r.stderr)


# ---- registry files ----------------------------------------------------------
# Wine keeps the registry as text; while no wineserver runs for the prefix the
# files can be edited directly, which is much faster than starting Wine for
# `wine reg add` and then waiting for it to save.

def _reg_quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def set_reg_value(reg_file, key, name, value):
    """Sets string value `name` of `key` (relative to the file's root) in a .reg file."""
    with open(reg_file, encoding="utf-8", errors="surrogateescape") as f:
        lines = f.read().split("\n")
    header = "[" + key.replace("\\", "\\\\") + "]"
    entry = _reg_quote(name) + "=" + _reg_quote(value)
    prefix = _reg_quote(name) + "="
    start = next((i for i, l in enumerate(lines)
                  if l == header or l.startswith(header + " ")), None)
    if start is None:
        lines += [header + " %d" % int(time.time()), entry, ""]
    else:
        end = start + 1
        while end < len(lines) and not lines[end].startswith("["):
            end += 1
        body = [l for l in lines[start + 1:end] if not l.startswith(prefix)]
        # Keep the "#time=" and "#link"-style lines first, as Wine writes them.
        meta = 0
        while meta < len(body) and body[meta].startswith("#"):
            meta += 1
        body = body[:meta] + [entry] + body[meta:]
        lines = lines[:start + 1] + body + lines[end:]
    tmp = reg_file + ".tmp"
    with open(tmp, "w", encoding="utf-8", errors="surrogateescape") as f:
        f.write("\n".join(lines))
    os.replace(tmp, reg_file)


# ---- prefixes ----------------------------------------------------------------

def wine_version():
    return subprocess.run(["wine", "--version"], capture_output=True, text=True,
                          env=dict(os.environ, **BASE_ENV)).stdout.strip()


def cache_dir():
    return os.environ.get("QUORIN_WINE_CACHE") or os.path.join(
        os.path.expanduser("~"), ".cache", "quorin-wine")


def ensure_template(display, timeout=180):
    """Returns the path of the template prefix, creating it once per Wine version."""
    root = cache_dir()
    os.makedirs(root, exist_ok=True)
    name = re.sub(r"[^A-Za-z0-9.~-]+", "_", wine_version() or "wine")
    # The suffix names the template's layout: change it when ensure_template
    # changes, so that older caches are not used.
    template = os.path.join(root, "template-%s-2" % name)
    # One builder at a time; the others wait here and then find it ready.
    with open(os.path.join(root, "lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.isdir(template):
            return template
        scratch = tempfile.mkdtemp(prefix="building-", dir=root)
        prefix = os.path.join(scratch, "prefix")
        env = dict(os.environ, **BASE_ENV, WINEPREFIX=prefix, DISPLAY=display)
        try:
            subprocess.run(["wineboot", "-i"], env=env, timeout=timeout, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
            # wineboot returns before the server has saved the registry.
            subprocess.run(["wineserver", "-w"], env=env, timeout=timeout, check=True)
            if not os.path.isfile(os.path.join(prefix, "system.reg")):
                raise RigError("wineboot left no registry in " + prefix)
            add_wine_fonts(prefix)
            os.rename(prefix, template)
        except subprocess.TimeoutExpired:
            subprocess.run(["wineserver", "-k"], env=env)
            raise RigTimeout("creating the Wine prefix took over %d s" % timeout)
        finally:
            shutil.rmtree(scratch, ignore_errors=True)
        return template


WINE_FONTS = "/usr/share/wine/fonts"


def add_wine_fonts(prefix):
    """Puts Wine's own TrueType fonts (Tahoma, Marlett, ...) into C:\windows\Fonts.

    Debian's Wine 8 does not find them where the package installs them, so
    dialogs fell back to another face and caption buttons showed letters
    instead of Marlett's glyphs."""
    if not os.path.isdir(WINE_FONTS):
        return
    fonts = os.path.join(prefix, "drive_c", "windows", "Fonts")
    os.makedirs(fonts, exist_ok=True)
    for name in os.listdir(WINE_FONTS):
        if name.lower().endswith(".ttf"):
            shutil.copy2(os.path.join(WINE_FONTS, name), fonts)


def clone_prefix(template, prefix):
    """A private prefix sharing the template's files by hard link.

    Wine rewrites the registry by writing a new file and renaming it, but the
    .reg files are copied anyway so that our direct edits never reach the
    template. Nothing else in a prefix is written to in place by the exhibit."""
    os.makedirs(prefix)
    for entry in os.listdir(template):
        src, dst = os.path.join(template, entry), os.path.join(prefix, entry)
        if entry.endswith(".reg"):
            shutil.copy2(src, dst)
        elif os.path.isdir(src) and not os.path.islink(src):
            subprocess.run(["cp", "-al", src, dst], check=True)
        else:
            shutil.copy2(src, dst, follow_symlinks=False)


def configure_prefix(prefix, com1, ini=None, decorated=False):
    """Writes the rig's settings into a prefix whose wineserver is not running.

    com1: the Unix path COM1 maps to (a tty, a pty, or a directory so the open
    fails). ini: a settings file, copied to C:\\quorin.ini. decorated=False has
    Wine draw the caption bar itself, as Windows would, since Xvfb runs no
    window manager."""
    system_reg = os.path.join(prefix, "system.reg")
    user_reg = os.path.join(prefix, "user.reg")
    # The mount manager maps COM ports from this value each time Wine starts;
    # without it, it would pick up the machine's own /dev/ttyS0.
    set_reg_value(system_reg, r"Software\Wine\Ports", "COM1", com1)
    for face, replacement in FONT_REPLACEMENTS.items():
        set_reg_value(user_reg, r"Software\Wine\Fonts\Replacements", face, replacement)
    set_reg_value(user_reg, r"Software\Wine\X11 Driver", "Decorated", "Y" if decorated else "N")
    ini_dst = os.path.join(prefix, "drive_c", "quorin.ini")
    with contextlib.suppress(FileNotFoundError):
        os.unlink(ini_dst)
    if ini:
        shutil.copyfile(ini, ini_dst)


# ---- X display -----------------------------------------------------------------

def start_xvfb(screen, timeout=10):
    """Starts Xvfb on a free display number; returns (process, ':N')."""
    read_fd, write_fd = os.pipe()
    proc = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "%dx%dx24" % screen,
         "-nolisten", "tcp", "-noreset"],
        pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        start_new_session=True)
    os.close(write_fd)
    # Read up to the newline: Xvfb dies if the pipe closes before it has
    # written the whole line.
    data = b""
    deadline = time.monotonic() + timeout
    try:
        while not data.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([read_fd], [], [], left)[0]:
                break
            chunk = os.read(read_fd, 32)
            if not chunk:
                break
            data += chunk
    finally:
        os.close(read_fd)
    number = data.decode().strip() if data.endswith(b"\n") else ""
    if not number:
        proc.kill()
        proc.wait()
        raise RigError("Xvfb did not start")
    return proc, ":" + number


# ---- the rig -------------------------------------------------------------------

class Rig:
    """One Wine prefix, one display, one COM1 and the exe running on them.

    port: "virtual" (a pty with lines driven here), "missing" (COM1 maps to a
    directory, so opening it fails) or the path of a real serial device.
    xvfb: True to always start a private Xvfb, None to start one only when
    DISPLAY is unset. trace: log every modem ioctl, not only line changes.
    wine_debug: Wine debug channels to turn on after "-all", e.g. "+text";
    the rows go to output(), stamped with time and process (+timestamp,+pid)."""

    def __init__(self, port="virtual", ini=None, screen=(1280, 1024), xvfb=None,
                 trace=False, workdir=None, keep=False, decorated=False, wine_debug=None):
        self.port = port
        self.keep = keep
        self.proc = None
        self.xvfb = None
        self._master = None
        self._inputs = set()
        self.tty = None
        # Only a work directory made here is removed at the end.
        self._own_workdir = workdir is None
        self.workdir = workdir or tempfile.mkdtemp(prefix="quorin-rig-")
        os.makedirs(self.workdir, exist_ok=True)
        self.prefix = os.path.join(self.workdir, "prefix")
        self.ctl_path = os.path.join(self.workdir, "vcom.ctl")
        self.log_path = os.path.join(self.workdir, "vcom.log")
        self.out_path = os.path.join(self.workdir, "wine.out")
        try:
            build_tools()
            if xvfb or (xvfb is None and not os.environ.get("DISPLAY")):
                self.xvfb, self.display = start_xvfb(screen)
            else:
                self.display = os.environ["DISPLAY"]
            self.env = dict(os.environ, **BASE_ENV, WINEPREFIX=self.prefix,
                            DISPLAY=self.display)
            com1 = self._make_port()
            clone_prefix(ensure_template(self.display), self.prefix)
            configure_prefix(self.prefix, com1, ini, decorated)
            if trace:
                self.env["VCOM_TRACE"] = "1"
            if wine_debug:
                self.env["WINEDEBUG"] = "-all,%s,+timestamp,+pid" % wine_debug.strip(",")
        except BaseException:
            self.close()
            raise

    def _make_port(self):
        if self.port == "virtual":
            # The master stays open for the whole run: without it the slave
            # would hang up and Wine's open of COM1 would fail.
            self._master, slave = os.openpty()
            tty = os.ttyname(slave)
            os.close(slave)
            self._write_inputs()
            open(self.log_path, "w").close()
            self.env.update(LD_PRELOAD=PRELOAD, VCOM_TTY=tty, VCOM_CTL=self.ctl_path,
                            VCOM_LOG=self.log_path)
            self.tty = tty
            return tty
        if self.port == "missing":
            nowhere = os.path.join(self.workdir, "no-com1")
            os.makedirs(nowhere, exist_ok=True)
            return nowhere
        self.tty = self.port
        return self.port

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # -- the program --

    def start(self, exe, args=()):
        """Starts `wine exe args...`; stdout and stderr go to wine.out in the work dir."""
        if self.proc and self.proc.poll() is None:
            raise RigError("a program is already running in this rig")
        with open(self.out_path, "ab") as out:
            self.proc = subprocess.Popen(["wine", os.path.abspath(exe), *args], env=self.env,
                                         stdin=subprocess.DEVNULL, stdout=out,
                                         stderr=subprocess.STDOUT, cwd=self.workdir)
        return self.proc

    def run(self, exe, args=(), timeout=30):
        """Runs the exe to its end; returns (exit code, its output)."""
        start = os.path.getsize(self.out_path) if os.path.exists(self.out_path) else 0
        self.start(exe, args)
        code = self.wait_exit(timeout)
        with open(self.out_path, "rb") as f:
            f.seek(start)
            return code, f.read().decode(errors="replace").replace("\r\n", "\n")

    def output(self):
        """Everything the program printed so far (Windows line ends made Unix)."""
        if not os.path.exists(self.out_path):
            return ""
        with open(self.out_path, "rb") as f:
            return f.read().decode(errors="replace").replace("\r\n", "\n")

    def text_draws(self):
        """Every DrawText of the programs started here, oldest first, from Wine's
        +text trace: [TextDraw]. Only whole rows are read, so len() taken
        before an action splits what was drawn before it from what came after."""
        if not _channel_on(self.env.get("WINEDEBUG", ""), "text"):
            raise RigError('DrawText is traced only with Rig(wine_debug="+text")')
        text = self.output()
        offset = wine_clock_offset()
        rows = text[:text.rfind("\n") + 1].splitlines()
        return [d for d in (parse_text_draw(row, offset) for row in rows) if d]

    def wait_exit(self, timeout=10):
        """The exit code of the wine process, once it has ended."""
        if self.proc is None:
            raise RigError("nothing was started")
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise RigTimeout("the program did not exit within %.1f s" % timeout) from None

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    # -- input lines --

    def _write_inputs(self):
        tmp = self.ctl_path + ".tmp"
        with open(tmp, "w") as f:
            f.write(" ".join(sorted(self._inputs)) + "\n")
        # A rename is atomic: the preload never reads a half-written file.
        os.replace(tmp, self.ctl_path)

    @staticmethod
    def _line(name):
        line = BUTTONS.get(name.lower(), name.upper())
        line = {"RLSD": "DCD", "CD": "DCD", "RING": "RI"}.get(line, line)
        if line not in INPUT_LINES:
            raise ValueError("no input line or button named %r" % name)
        return line

    def set_inputs(self, **levels):
        """set_inputs(red=True, CTS=False, ...): buttons by colour or lines by name.

        Returns time.monotonic() just after the change is visible to the program."""
        if self.port != "virtual":
            raise RigError("input lines can only be driven on the virtual port")
        for name, level in levels.items():
            line = self._line(name)
            if level:
                self._inputs.add(line)
            else:
                self._inputs.discard(line)
        self._write_inputs()
        return time.monotonic()

    def press(self, button):
        return self.set_inputs(**{button: True})

    def release(self, button):
        return self.set_inputs(**{button: False})

    def inputs(self):
        return set(self._inputs)

    # -- output lines --

    def line_events(self):
        """Every RTS/DTR change so far: [LineEvent(t, pid, rts, dtr)], oldest first."""
        if not os.path.exists(self.log_path):
            return []
        with open(self.log_path) as f:
            return [e for e in map(parse_line_event, f) if e]

    def trace_lines(self):
        """The raw log, including the per-ioctl trace when trace=True."""
        with open(self.log_path) as f:
            return f.read().splitlines()

    def level(self, line):
        """The present level of "RTS" or "DTR" (False before any change)."""
        events = self.line_events()
        return bool(events and getattr(events[-1], line.lower()))

    def wait_line(self, line, level, timeout=5, after=None):
        """Waits for `line` ("RTS"/"DTR") to change to `level` later than `after`
        (a time.monotonic() value; None: since the start); returns the time of
        that change. Lines start low, so the first rise counts as a change."""
        def seen():
            was = False
            for e in self.line_events():
                now = getattr(e, line.lower())
                if now != was and now == level and (after is None or e.t > after):
                    return e.t
                was = now
            return None
        return wait_until(seen, timeout, "%s to go %s" % (line, "high" if level else "low"))

    def pulses(self, line="RTS", since=None):
        """The high periods of a line as [(t_up, t_down)]; t_down None while still high."""
        result, up = [], None
        was = False
        for e in self.line_events():
            if since is not None and e.t < since:
                was = getattr(e, line.lower())
                continue
            now = getattr(e, line.lower())
            if now and not was:
                up = e.t
            elif was and not now and up is not None:
                result.append((up, e.t))
                up = None
            was = now
        if up is not None:
            result.append((up, None))
        return result

    # -- X --

    def _x(self, *args, check=True, timeout=10):
        # stdin from /dev/null: Wine given a terminal would take it over.
        r = subprocess.run(list(args), env=self.env, capture_output=True, text=True,
                           timeout=timeout, stdin=subprocess.DEVNULL)
        if check and r.returncode != 0:
            raise RigError("%s failed: %s" % (" ".join(args), r.stderr.strip()))
        return r.stdout

    def windows(self, name=None):
        """X ids of the visible top-level windows, optionally whose title matches `name` (a regex)."""
        r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name or ""],
                           env=self.env, capture_output=True, text=True, timeout=10,
                           stdin=subprocess.DEVNULL)
        return [int(w) for w in r.stdout.split()]

    def window_title(self, xid):
        return self._x("xdotool", "getwindowname", str(xid), check=False).strip()

    def find_window(self, title, timeout=20):
        """Waits for a visible window with exactly this title; returns its X id."""
        pattern = "^" + re.escape(title) + "$"
        return wait_until(lambda: (self.windows(pattern) or [None])[0], timeout,
                          "window %r" % title, interval=0.1)

    def window_geometry(self, xid):
        """(x, y, width, height) of an X window, in screen pixels."""
        out = self._x("xdotool", "getwindowgeometry", "--shell", str(xid))
        g = dict(l.split("=", 1) for l in out.split())
        return int(g["X"]), int(g["Y"]), int(g["WIDTH"]), int(g["HEIGHT"])

    def screenshot(self, path, xid=None):
        """The whole screen (or one window) as PNG."""
        self._x("import", "-window", str(xid) if xid else "root", path, timeout=30)
        return path

    def click(self, button="left", x=None, y=None, xid=None):
        """A mouse click, by default in the middle of the screen (the exhibit's client area)."""
        number = {"left": "1", "middle": "2", "right": "3"}[button]
        if xid is not None:
            gx, gy, w, h = self.window_geometry(xid)
            x = gx + (w // 2 if x is None else x)
            y = gy + (h // 2 if y is None else y)
        elif x is None or y is None:
            w, h = self.screen_size()
            x, y = w // 2, h // 2
        # No --sync: it waits for a motion event, which never comes when the
        # pointer is already there.
        self._x("xdotool", "mousemove", str(x), str(y), "click", number)

    def screen_size(self):
        w, h = self._x("xdotool", "getdisplaygeometry").split()
        return int(w), int(h)

    def key(self, xid, keys):
        """Keys (xdotool names, e.g. "alt+F4", "Return") to a window, after focusing it."""
        self._x("xdotool", "windowfocus", "--sync", str(xid), "key", keys)

    def close_window(self, title, timeout=10):
        """Closes the window as a person would (Alt+F4) and returns the exit code."""
        self.key(self.find_window(title, timeout), "alt+F4")
        return self.wait_exit(timeout)

    # -- message boxes --

    def message_boxes(self, timeout=30):
        """The visible message boxes (dialog windows) with their texts.

        The texts come from a small Windows helper run in the same prefix, as X
        only knows a window's title."""
        out = self._list_windows(timeout)
        boxes, current = [], None
        for row in out.splitlines():
            m = re.match(r'window \S+ pid=\d+ owner=\S+ class=(\S+) title="(.*)"$', row)
            if m:
                current = None
                if m.group(1) == "#32770":
                    current = (m.group(2), [])
                    boxes.append(current)
            m = re.match(r'  child (\S+) "(.*)"$', row)
            if m and current is not None and m.group(1).lower() == "static":
                current[1].append(m.group(2))
        result = []
        for title, texts in boxes:
            xids = self.windows("^" + re.escape(title) + "$")
            result.append(MessageBox(xids[0] if xids else None, title, texts))
        return result

    def _list_windows(self, timeout):
        # The first Wine process of a prefix starts the server and the
        # prefix's services, which inherit its stdout and stderr and live as
        # long as the program. When the helper came first (called right after
        # start()), a pipe for its output stayed open after it had ended, and
        # reading to the end waited for the program to end. So the output goes
        # to a file and the wait is for the helper process alone.
        with tempfile.TemporaryFile(dir=self.workdir) as out:
            helper = subprocess.Popen(["wine", PROBE, "list"], env=self.env, cwd=self.workdir,
                                      stdin=subprocess.DEVNULL, stdout=out,
                                      stderr=subprocess.DEVNULL)
            try:
                helper.wait(timeout)
            except subprocess.TimeoutExpired:
                helper.kill()
                helper.wait()
                raise RigTimeout("listing the windows took over %.0f s" % timeout) from None
            out.seek(0)
            return out.read().decode(errors="replace").replace("\r\n", "\n")

    def wait_message_box(self, text=None, timeout=20):
        """Waits for a message box (containing `text`, when given) that has its
        X window, so that it can be dismissed; returns it."""
        def found():
            for box in self.message_boxes():
                if box.xid is not None and (text is None or any(text in t for t in box.texts)):
                    return box
            return None
        return wait_until(found, timeout, "a message box" + (" %r" % text if text else ""),
                          interval=0.3)

    def dismiss_box(self, box):
        """Presses the default button of a message box with Return."""
        self.key(box.xid, "Return")

    # -- the end --

    def close(self):
        """Ends everything this rig started; safe to call more than once."""
        env = getattr(self, "env", None)
        if env and os.path.isdir(self.prefix):
            with contextlib.suppress(Exception):
                subprocess.run(["wineserver", "-k"], env=env, timeout=20, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if self.proc is not None:
            if self.proc.poll() is None:
                self.proc.kill()
            with contextlib.suppress(Exception):
                self.proc.wait(10)
        if self.xvfb is not None:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(self.xvfb.pid, signal.SIGTERM)
            with contextlib.suppress(Exception):
                self.xvfb.wait(10)
            self.xvfb = None
        if self._master is not None:
            os.close(self._master)
            self._master = None
        if self._own_workdir and not self.keep:
            shutil.rmtree(self.workdir, ignore_errors=True)


# ---- command line ------------------------------------------------------------------

def _cli_prefix(args):
    """A configured prefix at DIR for manual use (wine, winecfg, a real port)."""
    xvfb, display = (None, os.environ.get("DISPLAY"))
    if not display:
        xvfb, display = start_xvfb((1280, 1024))
    try:
        build_tools()
        if os.path.exists(args.dir):
            raise RigError("%s exists; give a new directory" % args.dir)
        clone_prefix(ensure_template(display), args.dir)
        configure_prefix(args.dir, args.com1, args.ini)
    finally:
        if xvfb:
            os.killpg(xvfb.pid, signal.SIGTERM)
            xvfb.wait()
    print("WINEPREFIX=%s  (COM1 -> %s)" % (os.path.abspath(args.dir), args.com1))


def _cli_run(args):
    """Runs an exe for a while on the chosen port and prints what happened on the lines."""
    with Rig(port=args.port, ini=args.ini, keep=args.keep, trace=args.trace,
             wine_debug=args.wine_debug) as rig:
        rig.start(args.exe, args.args)
        deadline = time.monotonic() + args.seconds
        while rig.running() and time.monotonic() < deadline:
            time.sleep(0.1)
        if rig.running() and rig.windows():
            rig.key(rig.windows()[-1], "alt+F4")
        with contextlib.suppress(RigTimeout):
            print("exit code", rig.wait_exit(10))
        for e in rig.line_events():
            print("%.6f pid %d RTS=%d DTR=%d" % (e.t, e.pid, e.rts, e.dtr))
        print(rig.output(), end="")
        if args.keep:
            print("work directory kept:", rig.workdir)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("prefix", help="create a configured prefix for manual use")
    p.add_argument("dir")
    p.add_argument("--com1", default="/dev/ttyS0", help="Unix path COM1 maps to")
    p.add_argument("--ini", help="settings file copied to C:\\quorin.ini")
    p.set_defaults(func=_cli_prefix)
    r = sub.add_parser("run", help="run an exe on the rig and print the line log")
    r.add_argument("exe")
    r.add_argument("args", nargs="*")
    r.add_argument("--port", default="virtual")
    r.add_argument("--ini")
    r.add_argument("--seconds", type=float, default=5)
    r.add_argument("--trace", action="store_true")
    r.add_argument("--keep", action="store_true")
    r.add_argument("--wine-debug", help='Wine debug channels to show, e.g. "+text"')
    r.set_defaults(func=_cli_run)
    args = parser.parse_args(argv)
    try:
        args.func(args)
    except RigError as e:
        sys.exit("rig: %s" % e)


if __name__ == "__main__":
    main()
