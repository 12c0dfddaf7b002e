"""The modem-line preload, exercised natively: Python's fcntl.ioctl goes through
libc's ioctl symbol, so a Python child with LD_PRELOAD stands in for Wine."""

import json
import os
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import rig  # noqa: E402

# Runs ioctls on the given fds as told on the command line, prints results as JSON.
CHILD = r"""
import errno, fcntl, json, os, struct, sys, termios
results = []
for path, request, value in json.loads(sys.argv[1]):
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    req = getattr(termios, request)
    try:
        if request == "TIOCGWINSZ":
            results.append(list(struct.unpack("HHHH", fcntl.ioctl(fd, req, bytes(8)))))
        elif request == "TIOCSWINSZ":
            fcntl.ioctl(fd, req, struct.pack("HHHH", *value))
            results.append("ok")
        elif request == "TIOCMGET":
            results.append(struct.unpack("i", fcntl.ioctl(fd, req, bytes(4)))[0])
        else:
            fcntl.ioctl(fd, req, struct.pack("i", value))
            results.append("ok")
    except OSError as e:
        results.append("errno " + errno.errorcode[e.errno])
    os.close(fd)
print(json.dumps(results))
"""

import termios as T  # noqa: E402


class PreloadTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        rig.build_tools()

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vcom-test-")
        self.ctl = os.path.join(self.dir, "ctl")
        self.log = os.path.join(self.dir, "log")
        self.master, slave = os.openpty()
        self.tty = os.ttyname(slave)
        os.close(slave)
        self.other_master, slave = os.openpty()
        self.other_tty = os.ttyname(slave)
        os.close(slave)

    def tearDown(self):
        os.close(self.master)
        os.close(self.other_master)
        subprocess.run(["rm", "-rf", self.dir])

    def run_child(self, ops, preload=True, **env_extra):
        env = dict(os.environ, VCOM_TTY=self.tty, VCOM_CTL=self.ctl, VCOM_LOG=self.log)
        env.update(env_extra)
        if preload:
            env["LD_PRELOAD"] = rig.PRELOAD
        r = subprocess.run([sys.executable, "-c", CHILD, json.dumps(ops)], env=env,
                           capture_output=True, text=True, timeout=20)
        self.assertEqual(r.returncode, 0, r.stderr)
        return json.loads(r.stdout)

    def log_rows(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return [row.split() for row in f.read().splitlines()]

    def test_inputs_follow_the_control_file(self):
        cases = [
            (None, 0),
            ("", 0),
            ("DSR\n", T.TIOCM_DSR),
            ("cts RLSD ring", T.TIOCM_CTS | T.TIOCM_CAR | T.TIOCM_RNG),
            ("DCD,CTS+RI|DSR", T.TIOCM_CAR | T.TIOCM_CTS | T.TIOCM_RNG | T.TIOCM_DSR),
            ("CD bogus DSRX", T.TIOCM_CAR),
        ]
        for content, bits in cases:
            with self.subTest(content=content):
                if content is None:
                    if os.path.exists(self.ctl):
                        os.unlink(self.ctl)
                else:
                    with open(self.ctl, "w") as f:
                        f.write(content)
                self.assertEqual(self.run_child([[self.tty, "TIOCMGET", 0]]), [bits])

    def test_output_changes_are_logged_with_monotonic_times(self):
        with open(self.ctl, "w") as f:
            f.write("CTS")
        before = time.monotonic()
        got = self.run_child([
            [self.tty, "TIOCMBIS", T.TIOCM_RTS],
            [self.tty, "TIOCMGET", 0],
            [self.tty, "TIOCMBIS", T.TIOCM_RTS],            # no change: no log line
            [self.tty, "TIOCMSET", T.TIOCM_DTR | T.TIOCM_CTS],  # inputs in the word are ignored
            [self.tty, "TIOCMBIC", T.TIOCM_DTR],
            [self.tty, "TIOCMBIC", T.TIOCM_RTS],            # already low: no log line
            [self.tty, "TIOCMGET", 0],
        ])
        after = time.monotonic()
        self.assertEqual(got, ["ok", T.TIOCM_RTS | T.TIOCM_CTS, "ok", "ok", "ok", "ok",
                               T.TIOCM_CTS])
        rows = self.log_rows()
        self.assertEqual([r[2:] for r in rows], [
            ["LINES", "RTS=1", "DTR=0"],
            ["LINES", "RTS=0", "DTR=1"],
            ["LINES", "RTS=0", "DTR=0"],
        ])
        times = [float(r[0]) for r in rows]
        self.assertEqual(times, sorted(times))
        self.assertTrue(before <= times[0] and times[-1] <= after, (before, times, after))

    def test_trace_logs_every_modem_call(self):
        self.run_child([[self.tty, "TIOCMGET", 0], [self.tty, "TIOCMBIS", T.TIOCM_DTR]],
                       VCOM_TRACE="1")
        self.assertEqual([r[2:] for r in self.log_rows()], [
            ["TIOCMGET", "0x0"], ["TIOCMBIS", "0x2"], ["LINES", "RTS=0", "DTR=1"]])

    def test_everything_else_passes_through(self):
        ops = [
            [self.tty, "TIOCSWINSZ", [24, 80, 0, 0]],      # not a modem call on our pty
            [self.tty, "TIOCGWINSZ", 0],
            [self.other_tty, "TIOCMGET", 0],               # a modem call on another pty
            [self.other_tty, "TIOCMBIS", T.TIOCM_RTS],
        ]
        with_preload = self.run_child(ops)
        without = self.run_child(ops, preload=False)
        self.assertEqual(with_preload, without)
        self.assertEqual(with_preload[1], [24, 80, 0, 0])
        self.assertTrue(str(with_preload[2]).startswith("errno"), with_preload)
        self.assertEqual(self.log_rows(), [])

    def test_without_a_target_nothing_is_answered(self):
        got = self.run_child([[self.tty, "TIOCMGET", 0]], VCOM_TTY="")
        self.assertTrue(str(got[0]).startswith("errno"), got)


if __name__ == "__main__":
    unittest.main()
