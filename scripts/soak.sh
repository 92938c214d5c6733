#!/usr/bin/env bash
# The long soak of quorvane.exe under Wine: bash scripts/soak.sh [SECONDS]
# (default 600). Streams frames of changing sizes with sound, repaints the
# title screen many times a second, switches between menu and stream and
# injects input; then checks the title screen and a known picture pixel by
# pixel and that the memory of the client's Wine process levelled off.
# Prints the memory at start and end and the counts of frames and repaints.
# Builds the Windows program first if it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-600}"
export WINEPREFIX="${WINEPREFIX:-/root/.wine-quorvane}"
export WINEDEBUG=-all
if [ ! -f build/win/quorvane.exe ]; then
  cmake -S . -B build/win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i586.cmake
  cmake --build build/win -j 2 --target quorvane
fi
exec python3 scripts/soak.py --exe build/win/quorvane.exe --out build/win/e2e \
  --seconds "$seconds"
