#!/usr/bin/env bash
# End-to-end speed and memory of quorvane.exe under Wine and Xvfb: builds
# the exe, the idle baseline program and the recorded streams, then runs
# scripts/perf/e2e_perf.py (about two minutes).
#
#   bash scripts/perf/e2e_perf.sh [seconds per phase, default 10]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-10}
export WINEPREFIX="${WINEPREFIX:-/root/.wine-quorvane}"
export WINEDEBUG=-all
mkdir -p build/perf/streams
[ -f build/native/build.ninja ] || cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
[ -f build/win/build.ninja ] || cmake -S . -B build/win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i586.cmake >/dev/null
cmake --build build/native -j2 --target record_streams >/dev/null
cmake --build build/win -j2 --target quorvane >/dev/null
[ -f build/perf/streams/motion800.qvs ] || build/native/bench/record_streams build/perf/streams 61
i686-w64-mingw32-gcc -O2 -mwindows -o build/perf/idle_window.exe scripts/perf/idle_window.c
i686-w64-mingw32-strip -o build/perf/quorvane-stripped.exe build/win/quorvane.exe
echo "quorvane.exe: $(stat -c %s build/win/quorvane.exe) bytes" \
     "($(stat -c %s build/perf/quorvane-stripped.exe) stripped)"
python3 scripts/perf/e2e_perf.py --exe build/win/quorvane.exe --streams build/perf/streams \
    --idle build/perf/idle_window.exe --seconds "$seconds"
