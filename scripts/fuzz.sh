#!/usr/bin/env bash
# Builds the libFuzzer targets in build/fuzz and runs each on its corpus; a
# fault leaves its input in build/fuzz/artifacts/<target>/.  Usage: run.sh [seconds] [targets]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-15}
shift || true
targets=("${@:-messages decode_blocks wire_text settings_file server_config web_address server_input}")
build=build/fuzz

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQV_FUZZ=ON \
    "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_all

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
failed=0
for name in ${targets[*]}; do
    # Longest input, largest allocation (MiB): growth with what an input claims is a fault.
    case $name in
        messages) limits="131072 64" ;; decode_blocks) limits="65536 16" ;;
        wire_text) limits="2048 4" ;; settings_file) limits="16384 8" ;;
        server_config) limits="16384 64" ;; web_address) limits="4096 4" ;;
        server_input) limits="65536 64 -close_fd_mask=2" ;;  # the server's log: not the fuzzer's output
    esac
    set -- $limits
    corpus=$build/corpus/$name artifacts=$build/artifacts/$name/ log=$build/logs/$name.log
    mkdir -p "$corpus" "$artifacts" "$build/logs"
    status=0
    "$build/fuzz/fuzz_$name" "$corpus" "fuzz/seeds/$name" -max_total_time="$seconds" -max_len="$1" \
        -malloc_limit_mb="$2" -dict="fuzz/$name.dict" -timeout=20 -rss_limit_mb=2560 -print_final_stats=1 \
        -artifact_prefix="$artifacts" ${3:-} >"$log" 2>&1 || status=$?
    printf '%-14s %6ss  %10s execs  %7s exec/s  corpus %5s files  %s\n' "$name" "$seconds" \
        "$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)" \
        "$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)" "$(ls "$corpus" | wc -l)" \
        "$([ "$status" -eq 0 ] && echo ok || echo "FAULT (see $log)")"
    if [ "$status" -ne 0 ]; then
        failed=1
        grep -E "ERROR|check failed|SUMMARY|runtime error" "$log" | head -5 >&2 || true
    fi
done
[ "$failed" -eq 0 ] || { echo "fuzz: a target found a fault; its input is in $build/artifacts/" >&2; exit 1; }
echo "fuzz: no faults"
