#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build/fuzz and runs each for a given time
# on its corpus. The corpus starts from seeds written by our own server and
# encoder (fuzz/make_seeds.cpp) and keeps what the runs add, in
# build/fuzz/corpus/<target>; a fault leaves its input in
# build/fuzz/artifacts/<target>/ and fails the run.
#
#   bash fuzz/run.sh                 15 s per target
#   bash fuzz/run.sh 600             10 minutes per target
#   bash fuzz/run.sh 600 messages    one target
#   QV_FUZZ_JOBS=2 bash fuzz/run.sh 600   two targets at a time
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-15}
shift || true
targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
    targets=(messages decode_blocks wire_text settings_file)
fi
jobs=${QV_FUZZ_JOBS:-1}
build=build/fuzz

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQV_FUZZ=ON \
    "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
    >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_all

rm -rf "$build/seeds"
"$build/fuzz/fuzz_make_seeds" "$build/seeds"

# Longest input per target: whole sessions with frames and sound for the
# messages, a few hundred blocks for the decoder, a settings file of a
# few kilobytes.
max_len() {
    case $1 in
        messages) echo 131072 ;;
        decode_blocks) echo 65536 ;;
        wire_text) echo 2048 ;;
        settings_file) echo 16384 ;;
    esac
}

# Largest single allocation allowed, in MiB: far above what the client may
# legitimately take (messages: a 4 MiB receive buffer, an inflate buffer of
# about 18 MiB and a 16 MiB picture at most), so that anything that grows
# with what the input claims rather than with what it holds is a fault.
malloc_limit() {
    case $1 in
        messages) echo 64 ;;
        decode_blocks) echo 16 ;;
        wire_text) echo 4 ;;
        settings_file) echo 8 ;;
    esac
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

run_one() {
    local name=$1
    local corpus=$build/corpus/$name artifacts=$build/artifacts/$name/ log=$build/logs/$name.log
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
    local status=0
    "$build/fuzz/fuzz_$name" "$corpus" "$build/seeds/$name" \
        -max_total_time="$seconds" -max_len="$(max_len "$name")" -dict="fuzz/$name.dict" \
        -timeout=20 -rss_limit_mb=2560 -malloc_limit_mb="$(malloc_limit "$name")" -print_final_stats=1 \
        -artifact_prefix="$artifacts" >"$log" 2>&1 || status=$?
    local execs rate
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    printf '%-14s %6ss  %10s execs  %7s exec/s  corpus %5s files  %s\n' "$name" "$seconds" \
        "${execs:-?}" "${rate:-?}" "$(ls "$corpus" | wc -l)" \
        "$([ "$status" -eq 0 ] && echo ok || echo "FAULT (see $log)")"
    if [ "$status" -ne 0 ]; then
        grep -E "ERROR|check failed|SUMMARY|runtime error" "$log" | head -5 >&2 || true
    fi
    return "$status"
}

failed=0
pids=()
names=()
for name in "${targets[@]}"; do
    run_one "$name" &
    pids+=($!)
    names+=("$name")
    if [ "${#pids[@]}" -ge "$jobs" ]; then
        wait "${pids[0]}" || failed=1
        pids=("${pids[@]:1}")
    fi
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done

if [ "$failed" -ne 0 ]; then
    echo "fuzz: a target found a fault; its input is in $build/artifacts/" >&2
    exit 1
fi
echo "fuzz: no faults"
