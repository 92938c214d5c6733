#!/usr/bin/env bash
# Builds the native tests twice more, under AddressSanitizer with
# UndefinedBehaviorSanitizer and under ThreadSanitizer, and runs them all.
# Any sanitizer report fails the run. Usage: bash scripts/sanitize.sh [address|thread]
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
which=${1:-all}

run() {
    local name=$1 flags=$2
    shift 2
    cmake -S . -B "build/$name" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_SANITIZE="$flags"
    cmake --build "build/$name" -j "$jobs"
    ctest --test-dir "build/$name" --output-on-failure -j "$jobs" "$@"
}

export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan-suppressions.txt

if [ "$which" = all ] || [ "$which" = address ]; then
    # Real X servers and programs (label server_real): in the plain build and
    # under ThreadSanitizer.
    run asan address,undefined -LE server_real
fi
if [ "$which" = all ] || [ "$which" = thread ]; then
    # The server's threads against real X servers, programs and browsers; its
    # checks allow for a build that runs several times slower.
    QV_TIME_SCALE=4 run tsan thread
fi
