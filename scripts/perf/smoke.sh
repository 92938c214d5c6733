#!/usr/bin/env bash
# A brief run of every measuring tool, so that none of them rots unnoticed:
# each runs with the smallest settings that still take it through its whole
# path, and must end with exit code 0 within its time, print its figures (a
# pattern of its output) and leave no process behind. The figures themselves
# are not judged: they belong to the real, longer runs (docs/performance.md).
#
#   bash scripts/perf/smoke.sh native   after the native build (build/native)
#   bash scripts/perf/smoke.sh wine     after the Windows build (build/win)
#
# A new tool gets one line in the list at the end. (scripts/moonlight-check.sh
# has its brief run in the game stream check of the native tests.) Every process a tool
# starts inherits QV_SMOKE_RUN; one still carrying it a few seconds after the
# tool ended is reported, and ended by its process id.
set -uo pipefail
cd "$(dirname "$0")/../.."
stage=${1:?native or wine}
export QV_PERF_OUT=build/perf/smoke   # the real runs' recordings in build/perf stay as they are
export WINEPREFIX="${WINEPREFIX:-/root/.wine-quorvane}" WINEDEBUG=-all
mkdir -p "$QV_PERF_OUT"
failed=() started=$SECONDS runs=0

left_behind() {  # the process ids that carry this run's mark
    grep -lsxzF "QV_SMOKE_RUN=$1" /proc/[0-9]*/environ | cut -d/ -f3
}

# smoke STAGE SECONDS PATTERN COMMAND...: COMMAND, if STAGE is this one.
smoke() {
    local when=$1 limit=$2 pattern=$3
    shift 3
    [ "$when" = "$stage" ] || return 0
    runs=$((runs + 1))
    local mark="$stage-$$-$runs" log="$QV_PERF_OUT/$stage-$runs.log" begun=$SECONDS
    # Over time it gets Ctrl+C (SIGINT), as a user would end it, then SIGKILL.
    QV_SMOKE_RUN=$mark timeout -s INT -k 15 "$limit" "$@" >"$log" 2>&1
    local rc=$? problem=""
    [ "$rc" = 0 ] || problem="exit code $rc"
    grep -Eq "$pattern" "$log" || problem="$problem; no '$pattern' in its output"
    local pids="" waited=0
    while pids=$(left_behind "$mark"); [ -n "$pids" ] && [ "$waited" -lt 10 ]; do
        sleep 1
        waited=$((waited + 1))
    done
    if [ -n "$pids" ]; then
        problem="$problem; left running: $(echo $pids)"
        for pid in $pids; do kill -9 "$pid" 2>/dev/null; done
    fi
    if [ -n "$problem" ]; then
        echo "smoke: $* FAILED (${problem#; }) after $((SECONDS - begun)) s; its output:"
        tail -n 30 "$log" | sed 's/^/    /'
        failed+=("$*")
    else
        echo "smoke: $* ok in $((SECONDS - begun)) s"
    fi
}

n=build/native
cmake --build $n -j2 --target quorvane_bench record_streams frame_cost lossy_picture encoder_bench xcap_bench \
    stream_probe quorvane-server moonlight_bench fake_host >/dev/null

# stage   seconds  printed figures   command
smoke native  60 'BM_handle_video_frame' $n/bench/quorvane_bench --benchmark_min_time=0.001
smoke native  90 'PII fps'            bash scripts/perf/frame_cost.sh 2 0.7 none demo640
smoke native  20 'per frame'          $n/bench/frame_cost "$QV_PERF_OUT/streams/demo640.qvs"
smoke native  20 'at quality 70'      $n/bench/lossy_picture "$QV_PERF_OUT/lossy.png" 70 motion640 1
smoke native  30 'ms'                 $n/server/encoder_bench 2 70 motion
smoke native  30 'ms'                 $n/server/xcap_bench 3
smoke native  60 'delay .* median'    $n/bench/moonlight_bench 3
smoke native  60 'VideoFrame arrived: median' python3 scripts/perf/moonlight_perf.py $n 2
smoke native  60 '\| 10mbit \| 70 \| terminal' bash scripts/perf/link_rate.sh 1 10mbit 70 0
smoke native  60 'x11vnc .*bytes sent' python3 scripts/perf/xcap_compare.py $n 1 '' 2
smoke native  90 'sound: .* median'     python3 scripts/perf/web_sound_perf.py $n/server/quorvane-server --rounds 3 --scroll 0.5
smoke wine   120 'Key press'          bash scripts/perf/e2e_perf.sh 1 --keys 2 --sizes 640
smoke wine    90 'SOAK memory'        bash scripts/soak.sh 6

echo "smoke ($stage): $((SECONDS - started)) s"
[ "${#failed[@]}" = 0 ] || { printf 'smoke: failed: %s\n' "${failed[@]}"; exit 1; }
