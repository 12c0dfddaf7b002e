#!/usr/bin/env bash
# Runs the exhibit on this Linux machine (fresh Debian, as root): installs
# what it needs, builds the Windows exe and the Wine tools, then starts the
# exe under Wine on a virtual COM1 with config/quorin.ini.
#
#   scripts/run-exhibit.sh [--port DEVICE|missing] [--ini FILE]
#                          [--screenshot FILE] [--seconds N]
#
# In a terminal it opens the button panel: r, b, g press the red, blue and
# green buttons, q closes the exhibit. Without a terminal, or with
# --screenshot, it runs headless for N seconds (default 5), saves a
# screenshot (default build/exhibit.png), closes the program and prints its exit
# code. --port names a real serial device for Wine's COM1 (the real buttons
# and sign device), or "missing" to see the program without a port. Without
# DISPLAY, the screen is a private Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."

port=virtual
ini=config/quorin.ini
shot=
seconds=5
usage() { sed -n '5,6p' "$0" | sed 's/^# *//'; exit 2; }
while (($#)); do
  case $1 in
    --port) port=${2:?}; shift 2 ;;
    --ini) ini=${2:?}; shift 2 ;;
    --screenshot) shot=${2:?}; shift 2 ;;
    --seconds) seconds=${2:?}; shift 2 ;;
    -h|--help) usage ;;
    *) echo "unknown argument: $1"; usage ;;
  esac
done
[[ -f $ini ]] || { echo "no settings file $ini"; exit 2; }
if [[ $port != virtual && $port != missing && ! -e $port ]]; then
  echo "no serial device $port"; exit 2
fi

scripts/install-deps.sh
echo "=== building the Windows exe and the Wine tools"
cmake --preset windows >/dev/null
cmake --build --preset windows
make -s -C wine
exe=build/windows/quorin.exe

if [[ -z $shot && -t 0 && -t 1 ]]; then
  exec python3 wine/panel.py "$exe" --ini "$ini" --port "$port"
fi

echo "=== running $exe headless for $seconds s (port: $port)"
python3 - "$exe" "$ini" "$port" "${shot:-build/exhibit.png}" "$seconds" <<'EOF'
import os, sys, time
sys.path.insert(0, "wine")
import rig

exe, ini, port, shot, seconds = sys.argv[1:]
title = "QUORIN et le MORSE"
with rig.Rig(port=port, ini=ini) as r:
    r.start(exe)
    try:
        r.find_window(title, timeout=15)
    except rig.RigTimeout:
        print("the window did not come (a warning box may be in the way)")
    time.sleep(float(seconds))
    r.screenshot(shot)
    print("screenshot:", os.path.abspath(shot))
    for box in r.message_boxes():
        print("warning box: %s" % " / ".join(box.texts))
    # Close as a person would: boxes out of the way, then Alt+F4.
    deadline = time.monotonic() + 30
    while r.running() and time.monotonic() < deadline:
        boxes = [b for b in r.message_boxes() if b.xid]
        if boxes:
            r.dismiss_box(boxes[0])
            time.sleep(1)
            continue
        windows = r.windows("^" + title + "$")
        if windows:
            r.key(windows[0], "alt+F4")
            try:
                r.wait_exit(10)
            except rig.RigTimeout:
                pass
        else:
            time.sleep(0.5)
    if r.running():
        print("the program did not close; it was killed")
        sys.exit(1)
    print("exit code:", r.proc.returncode)
EOF
