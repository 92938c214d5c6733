#!/usr/bin/env bash
# End-to-end speed and memory of quorvane.exe under Wine and Xvfb: builds
# the exe, the idle baseline program and the recorded streams, then runs
# scripts/perf/e2e_perf.py (about two minutes).
#
#   bash scripts/perf/e2e_perf.sh [seconds per phase, default 10] [more options of e2e_perf.py]
#
# QV_PERF_OUT names the folder for the recorded streams (default build/perf).
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-10}
out=${QV_PERF_OUT:-build/perf}
export WINEPREFIX="${WINEPREFIX:-/root/.wine-quorvane}"
export WINEDEBUG=-all
mkdir -p "$out/streams"
[ -f build/native/build.ninja ] || cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
[ -f build/win/build.ninja ] || cmake -S . -B build/win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i586.cmake >/dev/null
cmake --build build/native -j2 --target record_streams >/dev/null
cmake --build build/win -j2 --target quorvane >/dev/null
[ -f "$out/streams/motion800.qvs" ] || build/native/bench/record_streams "$out/streams" 61 100 motion640 motion800
i686-w64-mingw32-gcc -O2 -mwindows -o "$out/idle_window.exe" scripts/perf/idle_window.c
i686-w64-mingw32-strip -o "$out/quorvane-stripped.exe" build/win/quorvane.exe
echo "quorvane.exe: $(stat -c %s build/win/quorvane.exe) bytes" \
     "($(stat -c %s "$out/quorvane-stripped.exe") stripped)"
python3 scripts/perf/e2e_perf.py --exe build/win/quorvane.exe --streams "$out/streams" \
    --idle "$out/idle_window.exe" --seconds "$seconds" "${@:2}"
