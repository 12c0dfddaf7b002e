#!/bin/sh
# A Wine prefix set up for the exhibit, for running it by hand:
#   wine/prefix.sh DIR [--com1 /dev/ttyS0 | --com1 /some/directory] [--ini quorin.ini]
# then: WINEPREFIX=DIR WINEDEBUG=-all wine quorin.exe
# COM1 maps to the given Unix device (a directory makes the open fail); the
# settings file becomes C:\quorin.ini. rig.py does the work, so scripts and
# people get the same prefix.
exec python3 "$(dirname "$0")/rig.py" prefix "$@"
