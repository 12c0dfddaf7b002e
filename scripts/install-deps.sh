#!/usr/bin/env bash
# Installs, from Debian's packages, what building, running and testing the
# exhibit needs. Does nothing when everything is already there.
set -euo pipefail

packages=(
  cmake make gcc g++ libgtest-dev      # Linux build and unit tests
  clang libclang-rt-dev                # fuzzing (libFuzzer)
  g++-mingw-w64-x86-64                 # the Windows exe
  wine wine64 xvfb xdotool x11-utils imagemagick fonts-liberation  # the exe under Wine
  python3 tmux                         # rig, panel and end-to-end tests
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q "${missing[@]}"
fi
